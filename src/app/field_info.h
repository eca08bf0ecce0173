// The Field info window: the current table's fields with their types, sizes
// and aliases. The aliases are edited in place and kept in the table's
// header file; F12 switches whether the captions are Windows-1251 text, and
// F2..F9 write the table's structure in one of eight forms.
#pragma once

#include "table/dbf_file.h"

namespace kora {

constexpr int kFieldInfoHelp = 40;

// Runs the window over the table's fields. 1 when the user confirmed with
// Enter: the table's aliases then hold the edited texts. 0 otherwise, and
// nothing has changed, the captions flag included.
int alias_editor(Table& table);

// The command (Shift+F2, File "Fields &info"): the window, then the aliases
// stored in the header file and the captions shown anew.
void fields_info();

}  // namespace kora
