#include "app/navigation.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/browse_view.h"
#include "app/command_support.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "ui/menu.h"
#include "ui/screen.h"

namespace kora {

namespace {

constexpr int kGoToFieldHelp = 8;

Table& table() { return *g_app.table(); }
ViewState& view() { return current_state().view; }
bool fields_view() { return view().view_mode == 1; }
long record_count() { return long(visible_count(table())); }
void request(int bits) { g_app.redraw |= bits; }

// Makes the current column visible again after a change of layout or mode.
void refit() {
  ViewState& v = view();
  if (fields_view()) {
    if (v.current_column < v.first_column) {
      v.first_column = v.current_column;
    } else {
      v.first_column = std::max(v.first_column, v.current_column - field_rows() + 1);
    }
    return;
  }
  int bound = std::min(v.first_column, v.current_column);
  v.first_column = fit_first_column(table(), v.current_column, bound);
}

}  // namespace

bool leave_cell(bool record_change) {
  if (g_app.edit.mode && g_cell_edit_hooks.leave_cell) return g_cell_edit_hooks.leave_cell(record_change);
  return true;
}

// ---- single moves -------------------------------------------------------------------

void next_record() {
  ViewState& v = view();
  if (v.current_record + 1 >= record_count()) return;
  ++v.current_record;
  if (v.current_record - v.top_record > browse_rows() - 1) {
    ++v.top_record;
    request(kRedrawRows | kRedrawScrolled);
  } else {
    request(kRedrawRows);
  }
}

void previous_record() {
  ViewState& v = view();
  if (v.current_record <= 0) return;
  --v.current_record;
  if (v.current_record < v.top_record) {
    v.top_record = v.current_record;
    request(kRedrawRows | kRedrawScrolled);
  } else {
    request(kRedrawRows);
  }
}

void next_field() {
  ViewState& v = view();
  if (v.current_column + 1 >= column_count(table())) return;
  ++v.current_column;
  if (v.current_column - v.first_column > field_rows() - 1) {
    ++v.first_column;
    request(kRedrawRows | kRedrawLayout);
  } else {
    request(kRedrawRows);
  }
}

void previous_field() {
  ViewState& v = view();
  if (v.current_column <= 0) return;
  --v.current_column;
  if (v.current_column < v.first_column) {
    v.first_column = v.current_column;
    request(kRedrawRows | kRedrawLayout);
  } else {
    request(kRedrawRows);
  }
}

// Whether the column has cells on the screen (fixed columns wider than the
// screen leave none to the others).
bool column_shown(const Table& table, int column) {
  for (const ColumnSpan& span : shown_columns(table))
    if (span.column == column) return true;
  return false;
}

void next_column() {
  ViewState& v = view();
  if (v.current_column + 1 >= column_count(table())) return;
  int old_first = v.first_column;
  int old_current = v.current_column;
  ++v.current_column;
  v.first_column = fit_first_column(table(), v.current_column, old_first);
  // The cursor never goes to a column the screen cannot show.
  if (!fields_view() && !column_shown(table(), v.current_column)) {
    v.current_column = old_current;
    v.first_column = old_first;
    screen_bell();
    return;
  }
  request(v.first_column == old_first ? kRedrawRows : kRedrawClear | kRedrawLayout);
}

void previous_column() {
  ViewState& v = view();
  if (v.current_column <= 0) return;
  --v.current_column;
  if (v.current_column < v.first_column && v.current_column >= fixed_columns(table())) {
    v.first_column = v.current_column;
    request(kRedrawClear | kRedrawLayout | kRedrawRows);
  } else {
    request(kRedrawRows);
  }
}

void first_column() {
  ViewState& v = view();
  int old_first = v.first_column;
  v.current_column = 0;
  v.first_column = fields_view() ? 0 : fixed_columns(table());
  if (v.first_column != old_first) {
    request(kRedrawClear | kRedrawLayout);
  } else {
    request(kRedrawRows);
  }
}

void last_column() {
  ViewState& v = view();
  int count = column_count(table());
  if (count == 0) return;
  v.current_column = count - 1;
  if (!fields_view()) {
    v.first_column = fit_first_column(table(), v.current_column, 0);
    // Fixed columns too wide for the screen: the last column shown.
    while (v.current_column > 0 && !column_shown(table(), v.current_column)) --v.current_column;
    request(kRedrawClear | kRedrawLayout);
    return;
  }
  int old_first = v.first_column;
  v.first_column = std::max(0, count - field_rows());
  request(v.first_column == old_first ? kRedrawRows : kRedrawRows | kRedrawLayout);
}

void first_record() {
  ViewState& v = view();
  v.current_record = 0;
  v.top_record = 0;
  request(kRedrawRows | kRedrawScrolled);
}

void last_record() {
  ViewState& v = view();
  long count = record_count();
  if (count == 0) return;
  v.current_record = count - 1;
  v.top_record = std::max(0L, count - browse_rows());
  request(kRedrawRows | kRedrawScrolled);
}

// ---- keys ---------------------------------------------------------------------------

void nav_down() {
  if (!leave_cell(!fields_view())) return;
  fields_view() ? next_field() : next_record();
}

void nav_up() {
  if (!leave_cell(!fields_view())) return;
  fields_view() ? previous_field() : previous_record();
}

void nav_right() {
  if (!leave_cell(fields_view())) return;
  fields_view() ? next_record() : next_column();
}

void nav_left() {
  if (!leave_cell(fields_view())) return;
  fields_view() ? previous_record() : previous_column();
}

void nav_tab() {
  if (!leave_cell(false)) return;
  fields_view() ? next_field() : next_column();
}

void nav_shift_tab() {
  if (!leave_cell(false)) return;
  fields_view() ? previous_field() : previous_column();
}

void nav_home() {
  if (!leave_cell(false)) return;
  first_column();
}

void nav_end() {
  if (!leave_cell(false)) return;
  last_column();
}

void nav_page_down() {
  if (!leave_cell(!fields_view())) return;
  int steps = fields_view() ? field_rows() - 1 : browse_rows() - 1;
  for (int i = 0; i < steps; ++i) fields_view() ? next_field() : next_record();
}

void nav_page_up() {
  if (!leave_cell(!fields_view())) return;
  int steps = fields_view() ? field_rows() - 1 : browse_rows() - 1;
  for (int i = 0; i < steps; ++i) fields_view() ? previous_field() : previous_record();
}

void nav_ctrl_home() {
  if (!leave_cell(true)) return;
  first_record();
}

void nav_ctrl_end() {
  if (!leave_cell(true)) return;
  last_record();
}

void nav_ctrl_page_down() {
  if (!leave_cell(true)) return;
  ViewState& v = view();
  long steps = v.top_record + browse_rows() - 1 - v.current_record;
  for (long i = 0; i < steps; ++i) next_record();
}

void nav_ctrl_page_up() {
  if (!leave_cell(true)) return;
  ViewState& v = view();
  long steps = v.current_record == v.top_record ? browse_rows() - 1 : v.current_record - v.top_record;
  for (long i = 0; i < steps; ++i) previous_record();
}

void nav_ctrl_down() {
  if (!leave_cell(true)) return;
  ViewState& v = view();
  if (v.current_record + 1 >= record_count()) return;
  ++v.current_record;
  ++v.top_record;
  request(kRedrawRows | kRedrawScrolled);
}

void nav_ctrl_up() {
  if (!leave_cell(true)) return;
  ViewState& v = view();
  if (v.current_record <= 0) return;
  --v.current_record;
  if (v.top_record > 0) --v.top_record;
  request(kRedrawRows | kRedrawScrolled);
}

void nav_ctrl_right() {
  if (!leave_cell(fields_view())) return;
  fields_view() ? next_record() : last_column();
}

void nav_ctrl_left() {
  if (!leave_cell(fields_view())) return;
  fields_view() ? previous_record() : first_column();
}

// ---- view commands ----------------------------------------------------------------

void switch_view() {
  if (!leave_cell(false)) return;
  ViewState& v = view();
  v.view_mode = v.view_mode == 1 ? 0 : 1;
  if (v.view_mode == 0) v.first_column = std::max(v.first_column, fixed_columns(table()));
  refit();
  update_keybar_labels();
  request(kRedrawClear | kRedrawLayout);
}

void go_to_field() {
  static int last_chosen = 0;
  if (!leave_cell(false)) return;
  int count = column_count(table());
  if (count == 0) return;
  std::vector<std::string> names;
  for (int k = 0; k < count; ++k) names.push_back(shown_name(table(), k));
  int chosen = pick_list(names, std::min(last_chosen, count - 1), kGoToFieldHelp);
  if (chosen < 0) return;
  last_chosen = chosen;
  view().current_column = chosen;
  refit();
  request(kRedrawClear | kRedrawLayout);
}

void toggle_aliases() {
  if (!leave_cell(false)) return;
  table().show_aliases = !table().show_aliases;
  refresh_captions();
}

void refresh_captions() {
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  put_repeat(0, 0, screen_cols(), ' ', g_colors.Status1);
  g_screen.right_margin = margin;
  draw_status_left();
  g_app.clock_second = -1;
  refit();
  request(kRedrawClear | kRedrawLayout);
}

void toggle_code_page() {
  // Edit mode ends without writing: the record is shown anew in the other
  // code page, so changes typed in this one are saved or dropped first.
  if (g_app.edit.mode && !resolve_unsaved_edit()) return;
  if (g_app.edit.mode && g_cell_edit_hooks.leave_edit) g_cell_edit_hooks.leave_edit(false);
  // A table of another code page goes to its partner of the same script
  // (850 and 1252, 852 and 1250, ...); the choice is never written.
  if (in_other_code_page(table())) {
    set_code_page(table(), table().code_page->partner());
  } else {
    set_code_page(table(), CodePage::of_number(table().ansi_text ? 866 : 1251));
  }
  update_keybar_labels();
  request(kRedrawRows | kRedrawLayout);
}

void toggle_caption_code_page() {
  g_app.captions_ansi = !g_app.captions_ansi;
  update_keybar_labels();
  request(kRedrawLayout);
}

void toggle_reverse() {
  if (!leave_cell(true)) return;
  table().view.reverse = !table().view.reverse;
  request(kRedrawRows);
}

void toggle_hex_panel() {
  if (!leave_cell(true)) return;
  g_app.hex_panel = g_app.hex_panel ? 0 : 4;
  ViewState& v = view();
  // The panel takes four rows; the current record must stay inside the
  // shortened window.
  if (g_app.hex_panel && v.current_record - v.top_record > browse_rows() - 1) v.top_record += 4;
  request(kRedrawAll);
}

void fill_grown_window() {
  if (!g_app.table() || fields_view()) return;
  ViewState& v = view();
  long rows = std::max(1, browse_rows());
  v.top_record = std::min(v.top_record, std::max(0L, long(record_count()) - rows));
}

void keep_cursor_in_window() {
  if (!g_app.table()) return;
  ViewState& v = view();
  if (fields_view()) {
    int rows = std::max(1, field_rows());
    if (v.current_column - v.first_column > rows - 1) v.first_column = v.current_column - (rows - 1);
    return;
  }
  int rows = std::max(1, browse_rows());
  if (v.current_record - v.top_record > rows - 1) v.top_record = v.current_record - (rows - 1);
  if (v.current_column >= v.first_column) v.first_column = fit_first_column(table(), v.current_column, v.first_column);
}

}  // namespace kora
