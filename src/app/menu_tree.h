// The program's menu bar: seven pull-downs (File, View, Edit, Commands,
// Tools, Favorites, Help) whose items carry command identifiers, the facts
// and rules that disable and mark items, and the favourite files.
#pragma once

#include <string>
#include <vector>

#include "app/commands.h"
#include "ui/menu.h"

namespace kora {

constexpr int kPulldownCount = 7;
extern const Pulldown kMenuBar[kPulldownCount];

// Facts about the current table and view that decide which items are
// disabled or marked before a pull-down opens.
struct MenuFacts {
  int table_count = 1;
  int fields_view = 0;  // 0 browse view, 1 fields view
  int reverse = 0;
  int aliases = 0;
  int has_memo = 0;
  int hide_deleted = 0;
  int read_only = 0;
  int ansi = 0;
  int record_count = 0;
  int has_search = 0;     // a search expression exists (Find next)
  int record_copied = 0;  // a record is in the record clipboard
  int sorted = 0;
  int selected_only = 0;  // only the selected records are shown
  int can_undo = 0;       // the table has a change to take back
  int can_redo = 0;       // or one taken back to make again
};

// Sets the disabled and marked bits of the items of one pull-down (and its
// submenus) from the facts, by the rules of their commands; items without a
// rule keep their flags.
void apply_menu_states(int pulldown, const MenuFacts& facts);

// The first item of the bar (submenus included) that runs the command.
MenuItem* menu_item_of(Cmd command);

// Rebuilds the Favorites pull-down: its two fixed items, then (when there
// are any) a separator and one plain item per file, at most 96.
// A file that is no longer there is listed with kMissingMark.
void menu_set_favorites(const std::vector<std::string>& files);
// The file of the favourite item whose label this is (the label itself
// for any other).
std::string favorite_file(const char* label);

// The Help pull-down's boxes.

}  // namespace kora
