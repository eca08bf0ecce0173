#include "ui/menu.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/message_box.h"

namespace kora {

int g_pending_command = 0;
MenuChoice g_menu_choice;
MenuBarHooks g_menu_bar_hooks;

unsigned char upper_866(unsigned char ch) {
  if (ch >= 'a' && ch <= 'z') return static_cast<unsigned char>(ch - 'a' + 'A');
  if (ch >= 0xA0 && ch <= 0xAF) return static_cast<unsigned char>(ch - 0x20);  // а..п
  if (ch >= 0xE0 && ch <= 0xEF) return static_cast<unsigned char>(ch - 0x50);  // р..я
  if (ch == 0xF1) return 0xF0;                                                 // ё
  return ch;
}

namespace {

bool is_separator(const MenuItem& item) {
  return !(item.flags & kItemPlain) && std::strcmp(item.label, "-") == 0;
}

bool is_enabled(const MenuItem& item) { return !(item.flags & kItemDisabled); }

bool is_selectable(const MenuItem& item) { return is_enabled(item) && !is_separator(item); }

// An item's label as shown: without its "&", and where the hot letter is.
struct ItemText {
  std::string text;
  int hot_index = -1;
};

ItemText item_text(const MenuItem& item) {
  ItemText shown{item.label};
  if (item.flags & kItemPlain) return shown;
  size_t amp = shown.text.find('&');
  if (amp == std::string::npos) return shown;
  shown.text.erase(amp, 1);
  if (amp < shown.text.size()) shown.hot_index = static_cast<int>(amp);
  return shown;
}

// Counts the items, sets their hot letters and returns the content width.
int measure(Menu& menu) {
  int width = 20;
  menu.count = 0;
  for (MenuItem* item = menu.items; item && item->label; ++item, ++menu.count) {
    ItemText shown = item_text(*item);
    item->hot = shown.hot_index >= 0
                    ? upper_866(static_cast<unsigned char>(shown.text[shown.hot_index]))
                    : 0;
    int length = (item->flags & kItemUnicode) ? text_cells(file_name_chars(shown.text))
                                              : static_cast<int>(shown.text.size());
    if (length >= width) width = length;
  }
  // Rows show w - 2 characters between the mark and the submenu pointer, so
  // the widest label needs two more cells to be shown whole.
  return width + 2;
}

// The content width a positioned box keeps at the least, if it has it.
constexpr int kLeastContent = 16;

void place(Menu& menu) {
  int rows = screen_rows();
  int cols = screen_cols();
  int width = measure(menu);
  if (menu.centred) {
    if (menu.count > rows - 4) {
      menu.top = 2;
      menu.bottom = rows - 3;
    } else {
      menu.top = rows / 2 - menu.count / 2 - 1;
      menu.bottom = menu.top + menu.count + 1;
    }
    width = std::min(width, cols - 6);
    menu.left = cols / 2 - (width + 2) / 2;
    menu.right = menu.left + width + 1;
    if (width % 2 == 1) menu.left -= 1;
  } else {
    // A box that would start too near the right or bottom edge to show its
    // items moves in; one with room enough keeps its place and is cut.
    menu.left = std::max(0, std::min(menu.left, cols - 4 - std::min(width, kLeastContent)));
    menu.top = std::max(0, std::min(menu.top, rows - 4));
    width = std::min(width, cols - menu.left - 4);
    menu.bottom = std::min(menu.top + menu.count + 1, rows - 2);
    menu.right = menu.left + width + 1;
  }
  // A screen too small for the menu still gets one row and a few columns,
  // so that drawing and scrolling stay within the frame.
  menu.width = std::max(width, 3);
  menu.right = std::max(menu.right, menu.left + menu.width + 1);
  menu.bottom = std::max(menu.bottom, menu.top + 2);
}

int visible_rows(const Menu& menu) { return menu.bottom - menu.top - 1; }

// Whether item `index` has a row inside the frame and on the screen.
bool item_shown(const Menu& menu, int index) {
  int row = menu.top + 1 + index - menu.first;
  return index >= menu.first && row < menu.bottom && row < screen_rows() && menu.left + 2 < screen_cols();
}

void scroll_to_current(Menu& menu) {
  if (menu.current >= menu.first + visible_rows(menu)) {
    menu.first = menu.current - visible_rows(menu) + 1;
  }
  if (menu.current < menu.first) menu.first = menu.current;
}

// Characters within `room` cells; a text too long keeps its end, never
// half of a wide character.
void put_unicode_end(int x, int y, std::u32string_view text, unsigned char attr, int room) {
  size_t first = 0;
  for (int cells = text_cells(text); cells > room && first < text.size(); ++first) cells -= char_cells(text[first]);
  while (first < text.size() && char_cells(text[first]) == 0) ++first;
  put_unicode(x, y, text.substr(first), attr, room);
}

void draw_item(const Menu& menu, int index, int row) {
  const MenuItem& item = menu.items[index];
  if (is_separator(item)) {
    put_repeat(menu.left + 1, row, menu.width, g_frames.horizontal_single, g_colors.MenuFrame);
    return;
  }
  bool highlighted = index == menu.current;
  unsigned char text_attr, hot_attr;
  if (!is_enabled(item)) {
    text_attr = hot_attr = highlighted ? g_colors.MenuDisabledSelected : g_colors.MenuDisabled;
  } else if (highlighted) {
    text_attr = g_colors.MenuSelected;
    hot_attr = g_colors.MenuHotSelected;
  } else {
    text_attr = g_colors.MenuText;
    hot_attr = g_colors.MenuHot;
  }
  put_spaces(menu.left + 1, row, menu.width, text_attr);
  if (item.flags & kItemMarked) put_char(menu.left + 1, row, 7, text_attr);

  // A text too long for the box keeps its end.
  ItemText shown = item_text(item);
  int room = menu.width - 2;
  if (item.flags & kItemUnicode) {
    put_unicode_end(menu.left + 2, row, file_name_chars(shown.text), text_attr, room);
    if (item.submenu) put_char(menu.left + menu.width, row, 16, text_attr);
    return;
  }
  int skip = std::max(0, static_cast<int>(shown.text.size()) - room);
  put_text_n(menu.left + 2, row, std::string_view(shown.text).substr(skip), text_attr, room);
  if (shown.hot_index >= skip) {
    put_char(menu.left + 2 + shown.hot_index - skip, row,
             static_cast<unsigned char>(shown.text[shown.hot_index]), hot_attr);
  }
  if (item.submenu) put_char(menu.left + menu.width, row, 16, text_attr);
}

void draw_items(const Menu& menu) {
  for (int r = 0; r < visible_rows(menu) && menu.first + r < menu.count; ++r) {
    draw_item(menu, menu.first + r, menu.top + 1 + r);
  }
}

// ---- moving the highlight -----------------------------------------------------

int first_selectable_before(const Menu& menu, int index) {
  for (int i = 0; i < index; ++i) {
    if (is_selectable(menu.items[i])) return i;
  }
  return -1;
}

int last_selectable_after(const Menu& menu, int index) {
  for (int i = menu.count - 1; i > index; --i) {
    if (is_selectable(menu.items[i])) return i;
  }
  return -1;
}

// The next selectable item in direction step (+1 or -1), wrapping round.
int step_selectable(const Menu& menu, int index, int step) {
  for (int n = 1; n <= menu.count; ++n) {
    int i = ((index + step * n) % menu.count + menu.count) % menu.count;
    if (is_selectable(menu.items[i])) return i;
  }
  return -1;
}

int find_hot(const Menu& menu, unsigned char ch) {
  unsigned char upper = upper_866(ch);
  for (int i = 0; i < menu.count; ++i) {
    if (is_enabled(menu.items[i]) && menu.items[i].hot && menu.items[i].hot == upper) return i;
  }
  return -1;
}

// The first enabled item after the current one whose text starts with ch
// (either case), else the first such item in the menu.
int find_first_letter(const Menu& menu, unsigned char ch) {
  unsigned char upper = upper_866(ch);
  int found = -1;
  for (int i = 0; i < menu.count; ++i) {
    const MenuItem& item = menu.items[i];
    if (!is_enabled(item) || is_separator(item)) continue;
    std::string text = item_text(item).text;
    if (text.empty() || upper_866(static_cast<unsigned char>(text[0])) != upper) continue;
    if (i > menu.current) return i;
    if (found < 0) found = i;
  }
  return found;
}

// Cascading submenus open beside their parent at the item's row, moved left
// and up as far as needed to fit on the screen.
void place_submenu(const Menu& parent, Menu& submenu) {
  if (submenu.centred) return;
  int width = measure(submenu);
  int cols = screen_cols();
  int rows = screen_rows();
  submenu.left = parent.right + 1;
  if (submenu.left + width + 4 > cols) submenu.left = std::max(0, cols - width - 4);
  submenu.top = parent.top + 1 + parent.current - parent.first;
  if (submenu.top + submenu.count + 1 > rows - 2) {
    submenu.top = std::max(1, rows - 3 - submenu.count);
  }
}

constexpr int kNotChosen = std::numeric_limits<int>::min();

// What a menu and its submenus share while they run.
struct MenuRun {
  int help_topic;
  bool in_bar;  // opened from the menu bar: Alt+letter opens another pull-down
};

// The pull-down of the bar a key asks for, or -1.
int bar_pulldown_for(const MenuRun& run, int key) {
  if (!run.in_bar || !g_menu_bar_hooks.pulldown_for_key) return -1;
  int index = g_menu_bar_hooks.pulldown_for_key(key);
  return index >= 0 && index < static_cast<int>(g_menu_bar_hooks.pulldowns.size()) ? index : -1;
}

// Runs a menu; `position` sets its wanted place before each layout (at the
// opening and after every resize).
int run_menu(Menu& menu, const MenuRun& run, const std::function<void()>& position);

// Enter or a hot letter on the current item: its index, a submenu's result,
// or kNotChosen when the menu stays open.
int choose_current(Menu& menu, const MenuRun& run) {
  MenuItem& item = menu.items[menu.current];
  if (!is_selectable(item)) return kNotChosen;
  // What the user cannot see is not chosen: it is brought into view first.
  if (!item_shown(menu, menu.current)) {
    scroll_to_current(menu);
    return kNotChosen;
  }
  if (!item.submenu) {
    g_pending_command = item.command;
    g_menu_choice = {&menu, menu.current};
    return menu.current;
  }
  // At a new size the submenu opens again beside its parent's new place.
  Menu* submenu = item.submenu;
  int result = run_menu(*submenu, run, [&menu, submenu] { place_submenu(menu, *submenu); });
  return result == kMenuCancel ? kNotChosen : result;
}

// One key in an open menu: a result that closes it, or kNotChosen.
int handle_key(Menu& menu, int key, const MenuRun& run) {
  int scan = scan_code(key);
  unsigned char ch = static_cast<unsigned char>(key_char(key));
  if (ch == key_char(kKeyEsc) || scan == scan_code(kKeyF10)) return kMenuCancel;
  if (scan == scan_code(kKeyLeft)) return kMenuLeft;
  if (scan == scan_code(kKeyRight)) return kMenuRight;
  int target = -1;
  switch (scan) {
    case scan_code(kKeyHome):
    case scan_code(kKeyPgUp): target = first_selectable_before(menu, menu.current); break;
    case scan_code(kKeyEnd):
    case scan_code(kKeyPgDn): target = last_selectable_after(menu, menu.current); break;
    case scan_code(kKeyUp): target = step_selectable(menu, menu.current, -1); break;
    case scan_code(kKeyDown): target = step_selectable(menu, menu.current, +1); break;
    default:
      if (int pulldown = bar_pulldown_for(run, key); pulldown >= 0) return kMenuPulldown - pulldown;
      if (ch == 0) return kNotChosen;
      if (ch == key_char(kKeyEnter)) return choose_current(menu, run);
      if ((target = find_hot(menu, ch)) >= 0) {
        menu.current = target;
        scroll_to_current(menu);
        draw_items(menu);
        return choose_current(menu, run);
      }
      target = find_first_letter(menu, ch);
      break;
  }
  if (target >= 0) {
    menu.current = target;
    scroll_to_current(menu);
  }
  return kNotChosen;
}

int run_menu(Menu& menu, const MenuRun& run, const std::function<void()>& position) {
  position();
  place(menu);
  if (menu.count == 0) return kMenuCancel;
  if (menu.current >= menu.count || menu.current < 0) menu.current = 0;
  menu.first = std::max(0, menu.top + menu.current - menu.bottom + 2);

  int cursor = get_cursor();
  menu.saved = save_screen();
  draw_box(menu.left, menu.top, menu.right, menu.bottom, g_colors.MenuFrame,
           g_frames.single_frame, kBoxShadow);
  set_cursor_shape(0x2000);

  int result;
  {
    // At a new size the menu is placed afresh: a centred one centred again,
    // another from the place it was asked to open at, moved in or cut.
    PaintLayer layer([&menu, &position] {
      position();
      place(menu);
      scroll_to_current(menu);
      draw_box(menu.left, menu.top, menu.right, menu.bottom, g_colors.MenuFrame,
               g_frames.single_frame, kBoxShadow);
      draw_items(menu);
    });
    do {
      draw_items(menu);
      result = handle_key(menu, get_key(run.help_topic, g_ui_idle_hook), run);
    } while (result == kNotChosen);
  }

  restore_screen(menu.saved);
  menu.saved = ScreenSnapshot{};
  goto_xy(cursor % 256, cursor / 256);
  return result;
}

}  // namespace

int menu_popup(Menu& menu, int help_topic) {
  // A resize lays the menu out again from where it was asked to open.
  int left = menu.left;
  int top = menu.top;
  return run_menu(menu, {help_topic, false}, [&menu, left, top] {
    menu.left = left;
    menu.top = top;
  });
}

int pick_list(const std::vector<std::string>& labels, int current, int help_topic, int flags) {
  std::vector<MenuItem> items;
  items.reserve(labels.size() + 1);
  for (const std::string& label : labels) {
    items.push_back({label.c_str(), 0, kItemPlain | flags, 0, nullptr});
  }
  items.push_back({nullptr, 0, 0, 0, nullptr});
  Menu menu;
  menu.centred = 1;
  menu.current = current;
  menu.items = items.data();
  return menu_popup(menu, help_topic);
}

MenuItem* menu_find_command(Menu* menu, int command) {
  if (!menu || command == 0) return nullptr;
  for (MenuItem* item = menu->items; item && item->label; ++item) {
    if (item->command == command) return item;
    if (MenuItem* inner = menu_find_command(item->submenu, command)) return inner;
  }
  return nullptr;
}

// ---- the menu bar ---------------------------------------------------------------

namespace {

int g_last_pulldown = 0;

int pulldown_count() { return static_cast<int>(g_menu_bar_hooks.pulldowns.size()); }

void draw_bar(int current) {
  for (int i = 0; i < pulldown_count(); ++i) {
    const Pulldown& pulldown = g_menu_bar_hooks.pulldowns[size_t(i)];
    put_text(pulldown.column, 0, pulldown.title, i == current ? g_colors.MenuSelected : g_colors.MenuText);
  }
}

// A plain item chosen last (a favourite file), or null.
const MenuItem* chosen_plain_item() {
  if (!g_menu_choice.menu || g_menu_choice.index < 0) return nullptr;
  const MenuItem& item = g_menu_choice.menu->items[g_menu_choice.index];
  return (item.flags & kItemPlain) ? &item : nullptr;
}

void take_down_bar() {
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  put_spaces(0, 0, screen_cols(), g_colors.Status1);
  g_screen.right_margin = margin;
  if (g_menu_bar_hooks.redraw_status) g_menu_bar_hooks.redraw_status();
}

// Opens pull-downs from the last used one until a menu closes other than
// by Left or Right; its result. The bar is shown meanwhile.
int run_pulldowns(int count) {
  PaintLayer bar([] { draw_bar(g_last_pulldown); });
  for (;;) {
    int index = g_last_pulldown;
    draw_bar(index);
    const Pulldown& pulldown = g_menu_bar_hooks.pulldowns[size_t(index)];
    Menu& menu = *pulldown.menu;
    if (g_menu_bar_hooks.update_states) g_menu_bar_hooks.update_states(index);
    int result = run_menu(menu, {60 + index, true}, [&menu, &pulldown] {
      menu.left = pulldown.column;
      menu.top = 1;
    });
    if (result == kMenuLeft) {
      g_last_pulldown = (index + count - 1) % count;
    } else if (result == kMenuRight) {
      g_last_pulldown = (index + 1) % count;
    } else if (result <= kMenuPulldown) {
      g_last_pulldown = kMenuPulldown - result;
    } else {
      return result;
    }
  }
}

}  // namespace

int menu_bar_last() { return g_last_pulldown; }

void menu_bar(int start) {
  int count = pulldown_count();
  if (count == 0) return;
  int cursor = get_cursor();
  g_pending_command = 0;
  g_menu_choice = {};
  if (start >= 0 && start < count) g_last_pulldown = start;
  if (g_last_pulldown >= count) g_last_pulldown = 0;

  int result = run_pulldowns(count);
  take_down_bar();

  if (g_pending_command) {
    if (g_menu_bar_hooks.run_command) g_menu_bar_hooks.run_command(g_pending_command);
  } else if (result >= 0) {
    const MenuItem* plain = chosen_plain_item();
    if (plain && g_menu_bar_hooks.open_by_name) g_menu_bar_hooks.open_by_name(plain->label);
  }
  goto_xy(cursor % 256, cursor / 256);
}

}  // namespace kora
