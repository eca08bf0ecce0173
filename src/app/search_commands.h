// Search, find next and replace as commands of the program: the Search and
// Replace dialogs, the walk under the progress box (Esc stops it and the
// cursor stays), the match centred on the screen, and the replace
// questions.
#pragma once

#include "table/dbf_file.h"

namespace kora {

// The Search dialog with its direction preset (0 Down, 1 Up, 2 All), then
// the first search. 1 when a match was found.
int run_search_dialog(Table& table, int direction_preset);
// Searches again with the last text from the cell after the last match.
// 1 when a match was found; 0 also when no text was ever given.
int find_next(Table& table);
// The Replace dialog, then the search-and-ask run.
void run_replace_dialog(Table& table);

// The commands: F7 (from the menu, the last direction), Shift+F7 (Up),
// Alt+F7 and Ctrl+F7.
void search_command();
void search_up_command();
void find_next_command();
void replace_command();

}  // namespace kora
