#include "app/main_loop.h"

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/navigation.h"
#include "app/record_commands.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

using Command = void (*)();

// One row of a dispatch table. A null command belongs to a feature that is
// not part of the program yet: the key does nothing. Cell editing and the
// record commands keep their keys in tables of their own (run_feature_key).
struct KeyBinding {
  int key;
  Command command;
};

// Keys with a character part, by their whole code.
const KeyBinding kCharacterKeys[] = {
    {0x011B, quit_request},  // Esc
    {0x0F09, nav_tab},       // Tab
    {0x1205, nullptr},       // Ctrl+E: quick filter on the current value
    {0x12F5, nullptr},       // quick filter added to the current filter
    {0x1011, nullptr},       // Ctrl+Q: SQL statement
    {0x1F13, nullptr},       // Ctrl+S: sort
    {0x9409, previous_table},  // Alt+Tab
};

// Keys without a character part, by their scan code.
const KeyBinding kExtendedKeys[] = {
    {0x0F, nav_shift_tab},
    {0x21, [] { open_menu(0); }},
    {0x2F, [] { open_menu(1); }},
    {0x12, [] { open_menu(2); }},
    {0x32, [] { open_menu(3); }},
    {0x14, [] { open_menu(4); }},
    {0x18, [] { open_menu(5); }},
    {0x23, [] { open_menu(6); }},
    {0x1E, toggle_aliases},
    {0x1F, nullptr},  // Alt+S: drop the sort order
    {0x3C, switch_view},
    {0x3D, open_with_panel},
    {0x41, nullptr},  // F7: search
    {0x43, [] { open_menu(-1); }},
    {0x44, quit_request},
    {0x47, nav_home},
    {0x48, nav_up},
    {0x49, nav_page_up},
    {0x4B, nav_left},
    {0x4D, nav_right},
    {0x4F, nav_end},
    {0x50, nav_down},
    {0x51, nav_page_down},
    {0x54, nullptr},  // Shift+F1: help contents
    {0x55, nullptr},  // Shift+F2: fields info
    {0x57, nullptr},  // Shift+F4: calculator
    {0x5A, nullptr},  // Shift+F7: search on
    {0x5C, settings_save_setup},
    {0x5E, nullptr},  // Ctrl+F1: no effect
    {0x5F, nullptr},  // Ctrl+F2: sum
    {0x60, nullptr},  // Ctrl+F3: create a table
    {0x61, nullptr},  // Ctrl+F4: modify structure
    {0x64, nullptr},  // Ctrl+F7: replace
    {0x66, nullptr},  // Ctrl+F9: export
    {0x68, [] { options_dialog(); }},
    {0x69, nullptr},  // Alt+F2: database info
    {0x6A, nullptr},  // Alt+F3: filter
    {0x6B, go_to_field},
    {0x6D, nullptr},  // Alt+F6: go to record
    {0x6E, nullptr},  // Alt+F7: find next
    {0x70, nullptr},  // Alt+F9: column setup
    {0x73, nav_ctrl_left},
    {0x74, nav_ctrl_right},
    {0x75, nav_ctrl_end},
    {0x76, nav_ctrl_page_down},
    {0x77, nav_ctrl_home},
    {0x81, choose_table},
    {0x84, nav_ctrl_page_up},
    {0x86, toggle_code_page},
    {0x88, toggle_caption_code_page},
    {0x8D, nav_ctrl_up},
    {0x91, nav_ctrl_down},
    {0x94, next_table},
    {0xA5, previous_table},  // Alt+Tab as terminals that report modifiers send it
};

template <size_t N>
void run_binding(const KeyBinding (&table)[N], int key) {
  for (const KeyBinding& binding : table) {
    if (binding.key != key) continue;
    if (binding.command) binding.command();
    return;
  }
}

bool current_column_read_only() {
  Table* table = g_app.table();
  return g_column_read_only_hook && g_column_read_only_hook(*table, table->view.current_column);
}

int current_field() {
  Table* table = g_app.table();
  return column_field(*table, table->view.current_column);
}

// Keys a read-only column still lets the cell editor see: cursor moves.
bool moves_in_cell(int key) {
  switch (key >> 8) {
    case 0x47:
    case 0x4F:
    case 0x4B:
    case 0x4D:
    case 0x73:
    case 0x74: return true;
    default: return false;
  }
}

bool editor_takes(int key) {
  if (!g_app.edit.mode || !g_cell_edit_hooks.offer_key) return false;
  bool read_only = current_column_read_only();
  if (read_only && ((key & 0xFF) != 0 || !moves_in_cell(key))) return false;
  return g_cell_edit_hooks.offer_key(key) != 0;
}

// The keys of cell editing and of the record commands, which keep their own
// tables beside their code. True when one of them took the key.
bool run_feature_key(int key) {
  bool extended = (key & 0xFF) == 0;
  for (const CellEditKey& row : kCellEditKeys) {
    bool match = row.match == kMatchCode        ? row.key == key
                 : row.match == kMatchScan      ? extended && row.key == key >> 8
                                                : !extended && row.key == (key & 0xFF);
    if (match) {
      row.command();
      return true;
    }
  }
  for (const RecordCommandKey& row : kRecordCommands) {
    bool match = (row.key & 0xFF) == 0 ? extended && row.key >> 8 == key >> 8 : row.key == key;
    if (match) {
      row.command();
      return true;
    }
  }
  return false;
}

void dispatch_character(int key) {
  if (editor_takes(key)) return;
  if (run_feature_key(key)) return;
  run_binding(kCharacterKeys, key);
}

void dispatch_extended(int key) {
  Table* table = g_app.table();
  if (g_app.edit.mode && (key >> 8) == 0x53 && is_memo_field(*table, current_field()) && g_settings.memo == 0) {
    return;
  }
  if (editor_takes(key)) return;
  if (run_feature_key(key)) return;
  run_binding(kExtendedKeys, key >> 8);
}

void show_cell_cursor() {
  if (g_app.edit.mode && g_cell_edit_hooks.refresh) {
    g_cell_edit_hooks.refresh();
  } else {
    set_cursor_shape(0x2000);
  }
}

// Paints what the last command asked for.
void paint_requested() {
  if (g_app.redraw & kRedrawAll) {
    keep_cursor_in_window();
    full_repaint();
  }
  if (g_app.redraw & kRedrawEdges) {
    paint_frame_edges();
    g_app.redraw &= ~kRedrawEdges;
  }
  paint_view();
}

// The idle routine of the main loop's own key wait: a resize of the
// terminal (which asks for a whole repaint) is shown at once, not after
// the next key. Dialogs wait with the plain idle routine and repaint
// their own way.
void main_loop_idle(int help_topic, int shift_state, int x, int y) {
  if (g_app.redraw & kRedrawAll) {
    paint_requested();
    show_cell_cursor();
  }
  idle_routine(help_topic, shift_state, x, y);
}

}  // namespace

void dispatch_key(int key) {
  if (key == 0) return;
  if (key & 0xFF) {
    dispatch_character(key);
  } else {
    dispatch_extended(key);
  }
}

void quit_request() {
  if (!g_app.edit.mode) {
    g_app.quit = true;
    return;
  }
  int answer = 1;  // Don't save
  bool changed = g_cell_edit_hooks.has_changes && g_cell_edit_hooks.has_changes();
  if (input_closed() && changed) {
    answer = 0;  // nobody is left to answer: keep what was typed
  } else if (g_settings.confirmation == 1 && changed) {
    answer = message_box("You've made changes since the last save.", "Attention", "Save\nDon't save\nCancel",
                         0, kMainHelpTopic);
  }
  if (answer != 0 && answer != 1) return;
  if (g_cell_edit_hooks.leave_edit) {
    g_cell_edit_hooks.leave_edit(answer == 0);
  } else {
    g_app.edit.mode = 0;
  }
  update_keybar_labels();
  g_app.redraw |= kRedrawAll;
}

void open_menu(int index) {
  menu_bar(index);
}

void run_main_loop() {
  install_cell_editing();
  install_menu_hooks();
  g_ui_idle_hook = idle_routine;
  g_screen.on_resize = [] { g_app.redraw |= kRedrawAll; };
  set_cursor_shape(0x2000);
  g_screen.right_margin = 0;
  put_repeat(0, screen_rows() - 1, screen_cols(), ' ', g_colors.KeybarText);
  g_app.redraw = kRedrawAll;
  g_app.quit = false;
  update_keybar_labels();
  while (!g_app.quit) {
    paint_requested();
    dispatch_key(get_key(kMainHelpTopic, main_loop_idle));
    show_cell_cursor();
  }
  g_screen.on_resize = nullptr;
}

}  // namespace kora
