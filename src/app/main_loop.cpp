#include "app/main_loop.h"

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/command_support.h"
#include "app/commands.h"
#include "app/navigation.h"
#include "app/sharing.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

bool current_column_read_only() {
  Table* table = g_app.table();
  return column_read_only(*table, view_of(*table).current_column);
}

int current_field() {
  Table* table = g_app.table();
  return column_field(*table, view_of(*table).current_column);
}

// Keys a read-only column still lets the cell editor see: cursor moves.
bool moves_in_cell(int key) {
  switch (scan_code(key)) {
    case scan_code(kKeyHome):
    case scan_code(kKeyEnd):
    case scan_code(kKeyLeft):
    case scan_code(kKeyRight):
    case scan_code(kKeyCtrlLeft):
    case scan_code(kKeyCtrlRight): return true;
    default: return false;
  }
}

bool editor_takes(int key) {
  if (!g_app.edit.mode || !g_cell_edit_hooks.offer_key) return false;
  bool read_only = current_column_read_only();
  if (read_only && (!is_extended_key(key) || !moves_in_cell(key))) return false;
  return g_cell_edit_hooks.offer_key(key) != 0;
}

// In edit mode Del on a memo field whose memos are shown as text is ignored
// entirely.
bool ignored_in_edit_mode(int key) {
  if (!g_app.edit.mode || !is_extended_key(key) || scan_code(key) != scan_code(kKeyDel)) return false;
  return is_memo_field(*g_app.table(), current_field()) && g_settings.memo == 0;
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

// The program's own screen under every window, painted afresh at a new
// size (the typing in a cell survives it, as in any repaint).
void paint_main_screen() {
  if (!g_app.table()) return;
  fill_grown_window();
  g_app.redraw |= kRedrawAll;
  paint_requested();
  show_cell_cursor();
  // The key bar now has the main screen's labels: the next wait draws those
  // of the window on top again.
  g_idle_shift_seen = -1;
}

// The idle routine of the main loop's own key wait: a resize of the
// terminal (which asks for a whole repaint) is shown at once, not after
// the next key. Dialogs wait with the plain idle routine and repaint
// their own way.
void main_loop_idle(int help_topic, int shift_state, int x, int y) {
  if (Table* table = g_app.table()) follow_outside_changes(*table, table_state(*table));
  if (g_app.redraw & (kRedrawAll | kRedrawRows)) {
    paint_requested();
    show_cell_cursor();
  }
  idle_routine(help_topic, shift_state, x, y);
}

}  // namespace

void dispatch_key(int key) {
  if (key == 0) return;
  if (ignored_in_edit_mode(key)) return;
  if (editor_takes(key)) return;
  run_command(command_for_key(key));
}

void quit_request() {
  if (g_app.edit.mode) {
    if (!resolve_unsaved_edit()) return;
    if (g_cell_edit_hooks.leave_edit) {
      g_cell_edit_hooks.leave_edit(false);
    } else {
      g_app.edit.mode = 0;
    }
    update_keybar_labels();
    g_app.redraw |= kRedrawAll;
    // Esc and F10 only leave edit mode; File Exit ends the program.
    if (!command_from_menu()) return;
  }
  g_app.quit = true;
}

void open_menu(int index) {
  menu_bar(index);
}

void run_main_loop() {
  install_cell_editing();
  install_menu_hooks();
  g_ui_idle_hook = idle_routine;
  g_screen.on_resize = [] { g_app.redraw |= kRedrawAll; };
  PaintLayer main_screen(paint_main_screen);
  set_cursor_shape(0x2000);
  g_screen.right_margin = 0;
  put_repeat(0, screen_rows() - 1, screen_cols(), ' ', g_colors.KeybarText);
  g_app.redraw = kRedrawAll;
  g_app.quit = false;
  update_keybar_labels();
  while (!g_app.quit) {
    paint_requested();
    int key = get_key(kMainHelpTopic, main_loop_idle);
    if (!g_app.notice.empty()) {
      g_app.notice.clear();
      g_app.redraw |= kRedrawAll;
    }
    dispatch_key(key);
    show_cell_cursor();
  }
  g_screen.on_resize = nullptr;
}

}  // namespace kora
