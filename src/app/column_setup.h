// The Column setup window: per column of the current table whether the views
// show it, whether it may be edited, how many leading columns stay fixed when
// the grid scrolls sideways, and the order of the columns. Only the view
// changes; the table file is not touched.
#pragma once

#include "table/dbf_file.h"

namespace kora {

constexpr int kColumnSetupHelp = 53;

// Runs the window over the table's columns. 1 when the user confirmed with
// Enter: the table's column model then holds the choices, the visible
// columns first. 0 (Esc, F10): nothing has changed.
int column_setup(Table& table);

// The command (Alt+F9, View "Col&umns"): the window, then the cursor kept
// on the columns still shown and the view redrawn.
void column_setup_command();

}  // namespace kora
