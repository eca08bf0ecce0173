// Menus: static tables of MenuItem rows interpreted by one small engine.
// menu_popup runs one framed menu (a pull-down, a submenu or a pick list);
// menu_bar runs the bar on row 0 with its seven pull-downs.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "ui/screen.h"

namespace kora {

struct Menu;

enum MenuItemFlags : int {
  kItemDisabled = 1,  // cannot be chosen; separators always have it
  kItemMarked = 2,    // a mark is drawn in front of the label
  // The label is shown as it is ("&" has no meaning, "-" is no separator):
  // pick lists of file and field names, favourite files.
  kItemPlain = 4,
  // With kItemPlain: the label is a file name (or other UTF-8 text), shown
  // as its characters; one that is no UTF-8 as code page 866 bytes.
  kItemUnicode = 8,
};

struct MenuItem {
  const char* label;    // "&" before the hot letter; "-" a separator; null ends the array
  unsigned char hot;    // upper-case hot letter, computed at each opening
  int flags;            // MenuItemFlags
  int command;          // the program's identifier of what the item runs; 0 none
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
  // While the menu bar runs, the key of another pull-down (Alt+letter) was
  // pressed: kMenuPulldown - n asks for pull-down n.
  kMenuPulldown = -16,
};

// The command of the item chosen last (0 when it had none); the menu bar
// clears it when it starts and has it run after every menu has closed.
extern int g_pending_command;
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
// MenuResult. current is the index highlighted at the start; flags are
// added to every item's (kItemUnicode for file names).
int pick_list(const std::vector<std::string>& labels, int current, int help_topic, int flags = 0);

// Upper case for code page 866 letters (Latin and Cyrillic).
unsigned char upper_866(unsigned char ch);

// The item of a menu or of its submenus that carries this command, or null.
MenuItem* menu_find_command(Menu* menu, int command);

// ---- the menu bar -----------------------------------------------------------

struct Pulldown {
  const char* title;  // as drawn on row 0, with its blanks
  int column;         // the title's column, also the pull-down's left
  Menu* menu;
};

// What the menu bar needs from the program. Any of them may be empty.
struct MenuBarHooks {
  std::span<const Pulldown> pulldowns;  // the bar, from left to right
  // Sets the items' disabled and marked flags before a pull-down opens;
  // without it the items keep their stored flags.
  std::function<void(int pulldown)> update_states;
  // Runs the command of the chosen item once the bar is taken down.
  std::function<void(int command)> run_command;
  // A plain item without a command was chosen (a favourite file).
  std::function<void(const char* label)> open_by_name;
  std::function<void()> redraw_status;
  // The pull-down a key opens (its Alt+letter), or -1: it opens from an
  // open pull-down too, also one whose title the screen is too narrow for.
  std::function<int(int key)> pulldown_for_key;
};
extern MenuBarHooks g_menu_bar_hooks;

// Runs the menu bar: start >= 0 opens that pull-down (0 the leftmost),
// start < 0 the one used last. Left and Right move across the bar. The
// chosen item's command runs after the bar is taken down; a plain item
// without a command is reported by its label.
void menu_bar(int start);
// The pull-down the bar opens for start < 0.
int menu_bar_last();

}  // namespace kora
