// A table's text in a code page other than 866 and 1251, for the toolkit's
// editors: shown as its characters, typed and pasted through Unicode, a
// character the page cannot hold refused with the reason.
#pragma once

#include <memory>
#include <string>

#include "ui/line_editor.h"

namespace kora {

struct Table;

// Null for a table whose text is in code page 866 or 1251: its editors keep
// editing 866 bytes.
std::shared_ptr<const FieldCharacters> table_characters(const Table& table, int help_topic);

// A pasted value (UTF-8 when utf8, else Windows-1251 already turned into the
// table's form) as the bytes to store; false with the reason in `why` when
// it holds a character the table's code page cannot.
bool pasted_value(const Table& table, bool utf8, const std::string& value, std::string& out, std::string& why);

}  // namespace kora
