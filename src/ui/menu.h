// Menus: static tables of MenuItem rows interpreted by one small engine.
// menu_popup runs one framed menu (a pull-down, a submenu or a pick list);
// menu_bar runs the bar on row 0 with its seven pull-downs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/screen.h"

namespace kora {

struct Table;
struct Menu;

// What an item runs: called with the current table slot and its table,
// after every menu has closed.
using MenuCommand = void (*)(int table_slot, Table* table);

enum MenuItemFlags : int {
  kItemDisabled = 1,  // cannot be chosen; separators always have it
  kItemMarked = 2,    // a mark is drawn in front of the label
  // The label is shown as it is ("&" has no meaning, "-" is no separator):
  // pick lists of file and field names, favourite files.
  kItemPlain = 4,
};

struct MenuItem {
  const char* label;    // "&" before the hot letter; "-" a separator; null ends the array
  unsigned char hot;    // upper-case hot letter, computed at each opening
  int flags;            // MenuItemFlags
  MenuCommand command;  // null: none (yet)
  Menu* submenu;        // Enter opens it instead of choosing the item
};

struct Menu {
  int left = 0;  // top-left frame corner; computed when centred
  int top = 0;
  int right = 0;  // computed at each opening
  int bottom = 0;
  int centred = 0;
  int count = 0;    // number of items, computed at each opening
  int current = 0;  // highlighted item, kept between openings
  int first = 0;    // first visible item of a menu taller than the screen
  int width = 0;    // content width, computed at each opening
  ScreenSnapshot saved{};
  MenuItem* items = nullptr;
};

// Results of menu_popup besides an item index.
enum MenuResult : int {
  kMenuCancel = -1,  // Esc or F10
  kMenuRight = -2,
  kMenuLeft = -4,
};

// The command of the item chosen last (null when it had none); the menu bar
// clears it when it starts and runs it after every menu has closed.
extern MenuCommand g_pending_command;
// The menu and index of the item chosen last.
struct MenuChoice {
  Menu* menu = nullptr;
  int index = -1;
};
extern MenuChoice g_menu_choice;

// Runs a menu until an item is chosen (its index), or Esc/F10 (-1), Left
// (-4), Right (-2). Submenus open on Enter; what they return closes this
// menu too, except Esc. The screen is restored before it returns.
int menu_popup(Menu& menu, int help_topic);

// A centred menu of plain strings; returns the chosen index, or a negative
// MenuResult. current is the index highlighted at the start.
int pick_list(const std::vector<std::string>& labels, int current, int help_topic);

// Upper case for code page 866 letters (Latin and Cyrillic).
unsigned char upper_866(unsigned char ch);

// ---- the menu bar -----------------------------------------------------------

constexpr int kPulldownCount = 7;

struct Pulldown {
  const char* title;  // as drawn on row 0, with its blanks
  int column;         // the title's column, also the pull-down's left
  Menu* menu;
};
// File, View, Edit, Commands, Tools, Favorites, Help.
extern const Pulldown kMenuBar[kPulldownCount];

// The item of a menu with this label (exact spelling), or null. Later parts
// attach their commands through it.
MenuItem* menu_find_item(Menu* menu, const char* label);

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
};

// Sets the disabled and marked bits of the items of one pull-down (and its
// submenus) from the facts; items without a rule keep their flags.
void apply_menu_states(int pulldown, const MenuFacts& facts);

// What the menu bar needs from the main loop. Any of them may be empty:
// without facts the items keep their stored flags.
struct MenuBarHooks {
  std::function<MenuFacts()> facts;
  std::function<int()> current_slot;
  std::function<Table*()> current_table;
  std::function<void(const char* file_name)> open_by_name;
  std::function<void()> redraw_status;
};
extern MenuBarHooks g_menu_bar_hooks;

// Runs the menu bar: start >= 0 opens that pull-down (0 File .. 6 Help),
// start < 0 the one used last. Left and Right move across the bar. The
// chosen item's command runs after the bar is taken down; a favourite file
// chosen from the Favorites pull-down is opened by name.
void menu_bar(int start);
// The pull-down the bar opens for start < 0.
int menu_bar_last();

// Rebuilds the Favorites pull-down: its two fixed items, then (when there
// are any) a separator and one item per file, at most 96.
void menu_set_favorites(const std::vector<std::string>& files);

}  // namespace kora
