// Ctrl+Q: one line of SQL sets up the current table's view.
#pragma once

namespace kora {

// The "Expression" box; a statement that takes effect resets the view to
// its first column and keeps the cursor within the records left in view.
void sql_statement_command();

}  // namespace kora
