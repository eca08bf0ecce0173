#include "app/browse_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "app/main_loop.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "ui/codepage.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {

int fixed_columns(const Table& table) { return std::clamp(table.columns.fixed, 0, column_count(table)); }

// ---- geometry -------------------------------------------------------------------

int last_window_row() { return screen_rows() - g_app.hex_panel - 3; }
int browse_rows() { return screen_rows() - g_app.hex_panel - 6; }
int field_rows() { return screen_rows() - g_app.hex_panel - 5; }

int layout_width(const Table& table, int column) {
  int field = column_field(table, column);
  return std::max(display_width(table, field), column_name_length(table, field));
}

std::vector<ColumnSpan> shown_columns(const Table& table) {
  std::vector<ColumnSpan> spans;
  int limit = screen_cols() - 1;  // the right frame edge
  int x = 3;
  auto add = [&](int column) {
    if (x >= limit) return false;
    int width = layout_width(table, column);
    spans.push_back({column, x, width});
    x += width + 1;
    return true;
  };
  int count = column_count(table);
  int fixed = fixed_columns(table);
  for (int k = 0; k < fixed; ++k) {
    if (!add(k)) return spans;
  }
  for (int k = std::max(view_of(table).first_column, fixed); k < count; ++k) {
    if (!add(k)) break;
  }
  return spans;
}

int fit_first_column(const Table& table, int current, int bound) {
  int fixed = fixed_columns(table);
  bound = std::max(bound, fixed);
  if (current < bound) return bound;
  int total = 0;
  for (int k = 0; k < fixed; ++k) total += layout_width(table, k) + 1;
  int limit = screen_cols() - 4;
  int lowest = current;
  for (int k = current; k >= bound; --k) {
    total += layout_width(table, k) + 1;
    if (total > limit) break;
    lowest = k;
  }
  return lowest;
}

// ---- cells ----------------------------------------------------------------------

unsigned char header_color(char type) {
  switch (type) {
    case 'B':
    case 'F':
    case 'I':
    case 'N':
    case 'Y': return g_colors.HeaderN;
    case 'D':
    case 'T': return g_colors.HeaderD;
    case 'G':
    case 'M':
    case 'W': return g_colors.HeaderM;
    case 'L': return g_colors.HeaderL;
    default: return g_colors.HeaderC;
  }
}

std::string shown_name(const Table& table, int column) {
  std::string name = column_name(table, column_field(table, column));
  return g_app.captions_ansi ? table_ansi_to_oem(table, name) : name;
}

bool load_display_record(Table& table, long p) {
  const TableState& state = table_state(table);
  if (g_app.edit.mode && p == state.view.current_record && !state.edit_buffer.empty()) {
    size_t size = std::min({table.record.size(), size_t(table.record_size), state.edit_buffer.size()});
    std::memcpy(table.record.data(), state.edit_buffer.data(), size);
    return true;
  }
  if (!read_record(table, uint32_t(p))) return false;
  record_to_display(table, table.record.data());
  return true;
}

unsigned char cell_color(const Table& table, long p, int column, bool deleted) {
  const ViewState& view = view_of(table);
  if (p == view.current_record && column == view.current_column) {
    return g_app.edit.mode ? g_colors.Edit : g_colors.Current;
  }
  const BlockMark& block = g_app.block;
  if (block.on && p >= std::min(block.anchor_record, view.current_record) &&
      p <= std::max(block.anchor_record, view.current_record) &&
      column >= std::min(block.anchor_column, view.current_column) &&
      column <= std::max(block.anchor_column, view.current_column)) {
    return g_colors.Current;
  }
  return deleted ? g_colors.Deleted : g_colors.Text;
}

void put_record_mark(Table& table, long p, int x, int y, bool deleted) {
  const std::vector<uint32_t>& selection = table_state(table).selection;
  if (!selection.empty()) {
    uint32_t record = physical_record(table, uint32_t(p));
    if (std::find(selection.begin(), selection.end(), record) != selection.end()) {
      put_char(x, y, 251, g_colors.Selected);
      return;
    }
  }
  put_char(x, y, table.record[0], deleted ? g_colors.Deleted : g_colors.Text);
}

void put_cell(int x, int y, const std::string& text, unsigned char attr, int width) {
  int room = std::min(width, screen_cols() - 1 - x);
  if (room <= 0) return;
  put_text_n(x, y, text, attr, room);
  int drawn = std::min(int(text.size()), room);
  put_repeat(x + drawn, y, room - drawn, ' ', attr);
}

namespace {

// A cell's characters: the table's page, or code page 866 as the byte
// interface shows it. A NUL inside a value is part of it and shown as the
// symbol for NUL (a '.' on terminals without Unicode).
std::u32string cell_chars(const Table& table, std::string_view text) {
  std::u32string chars;
  for (size_t start = 0;;) {
    size_t nul = text.find('\0', start);
    std::string_view piece = text.substr(start, nul == std::string_view::npos ? nul : nul - start);
    if (in_other_code_page(table)) {
      chars += table.code_page->to_unicode(piece);
    } else {
      for (char c : piece) chars += char32_t(cp866_to_unicode(display_byte(uint8_t(c))));
    }
    if (nul == std::string_view::npos) return chars;
    chars += kNulSymbol;
    start = nul + 1;
  }
}

}  // namespace

void put_table_cell(const Table& table, int x, int y, const std::string& text, unsigned char attr, int width) {
  // ASCII (numbers, dates, most names) is the same in every page.
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
  bool nul = text.find('\0') != std::string::npos;
  if (!nul && (ascii || !in_other_code_page(table))) return put_cell(x, y, text, attr, width);
  int room = std::min(width, screen_cols() - 1 - x);
  if (room <= 0) return;
  int drawn = put_unicode(x, y, cell_chars(table, text), attr, room);
  put_repeat(x + drawn, y, room - drawn, ' ', attr);
}

// ---- status line, frame -----------------------------------------------------------

namespace {

std::string base_name(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool has_password(const Table& table) { return table.encoding.after_read != nullptr; }

bool has_view_list(const Table& table) { return table.view.has_list(); }

void draw_horizontal_bar(const Table& table, int row) {
  int n = column_count(table);
  int cols = screen_cols();
  if (n <= 1 || cols < 8) return;
  int track = cols - 6;
  long k = view_of(table).current_column;
  put_arrow(2, row, Arrow::kLeft, g_colors.Frame);
  put_arrow(cols - 3, row, Arrow::kRight, g_colors.Frame);
  put_repeat(3, row, track, g_frames.scroll_track_horizontal, g_colors.Frame);
  long start = track * k / n;
  long size = n > track ? 1 : track * (k + 1) / n - start;
  put_repeat(3 + int(start), row, int(size), g_frames.scroll_thumb, g_colors.Frame);
}

// The bar runs down the right edge of the data window only: with the hex
// panel open it stops above the panel's frame.
void draw_vertical_bar(const Table& table, long count) {
  int bottom = last_window_row();
  int col = screen_cols() - 1;
  if (count <= 1 || bottom < 5) return;
  int track = bottom - 4;
  long r = view_of(table).current_record;
  put_arrow(col, 3, Arrow::kUp, g_colors.Frame);
  put_arrow(col, bottom, Arrow::kDown, g_colors.Frame);
  for (int i = 0; i < track; ++i) put_char(col, 4 + i, g_frames.scroll_track_vertical, g_colors.Frame);
  long start = track * r / count;
  long size = count > track ? 1 : track * (r + 1) / count - start;
  for (long i = 0; i < size; ++i) put_char(col, 4 + int(start + i), g_frames.scroll_thumb, g_colors.Frame);
}

void clear_window() {
  int cols = screen_cols();
  for (int y = 2; y <= last_window_row(); ++y) put_repeat(1, y, cols - 2, ' ', g_colors.Frame);
  if (g_app.hex_panel) {
    int rows = screen_rows();
    for (int y = rows - 5; y <= rows - 3; ++y) put_repeat(1, y, cols - 2, ' ', g_colors.Frame);
  }
}

}  // namespace

void draw_status_left() {
  Table* table = g_app.table();
  char marker[16];
  std::snprintf(marker, sizeof marker, "[%d]", g_app.current);
  put_text(0, 0, marker, has_password(*table) ? g_colors.Status3 : g_colors.Status2);
  std::string name = table->show_aliases && !table->description.empty() ? table->description
                                                                       : base_name(table->file_name);
  int x = int(std::strlen(marker));
  if (!g_app.notice.empty()) {
    // The counter's own blanks give way to the notice.
    put_text_n(x, 0, g_app.notice, g_colors.Status2, std::max(0, screen_cols() - 24 - x));
    return;
  }
  x += put_file_name(x, 0, name, g_colors.Status1, 35) + 1;
  // The code page of a table in neither 866 nor 1251 is named; the record
  // counter keeps the right of the line.
  if (in_other_code_page(*table) && screen_cols() - 31 - x > 0) {
    std::string page = "(" + table->code_page->name() + ")";
    put_text_n(x, 0, page, g_colors.Status1, screen_cols() - 31 - x);
    x += int(page.size()) + 1;
  }
  // A table kora does not change says so, and why, beside its name.
  std::string reason = read_only_reason(*table);
  if (reason.empty()) return;
  int room = screen_cols() - 31 - x;
  if (room > 0) put_text_n(x, 0, "(read only: " + reason + ")", g_colors.Status2, room);
}

void draw_status_counter() {
  Table& table = *g_app.table();
  long count = visible_count(table);
  long position = count ? view_of(table).current_record + 1 : 0;
  char text[96];
  if (has_view_list(table)) {
    long record = long(physical_record(table, uint32_t(view_of(table).current_record))) + 1;
    if (!count) record = 0;
    std::snprintf(text, sizeof text, "%20d (%d) / %d", int(position), int(record), int(count));
  } else {
    std::snprintf(text, sizeof text, "%20d / %d", int(position), int(count));
  }
  const char* shown = text;
  if (!g_app.notice.empty()) shown += std::strspn(text, " ");
  int length = int(std::strlen(shown));
  put_text(screen_cols() - 7 - length, 0, shown, has_view_list(table) ? g_colors.Status2 : g_colors.Status1);
  // An empty view shows no bars at all.
  if (g_settings.scroll_bars && count > 0) {
    draw_horizontal_bar(table, screen_rows() - g_app.hex_panel - 2);
    draw_vertical_bar(table, count);
  }
}

void full_repaint() {
  int rows = screen_rows(), cols = screen_cols();
  g_screen.right_margin = 0;
  put_repeat(0, 0, cols, ' ', g_colors.Status1);
  draw_box(0, 1, cols - 1, rows - 2, g_colors.Frame, g_frames.double_frame, 0);
  if (g_app.hex_panel) {
    draw_box(0, rows - g_app.hex_panel - 2, cols - 1, rows - 2, g_colors.Frame, g_frames.hex_frame, 0);
  }
  draw_status_left();
  g_app.clock_second = -1;
  // The labels do not reach the last columns of a wide screen; after a
  // shrink they would keep what the old screen had there.
  put_repeat(0, rows - 1, cols, ' ', g_colors.KeybarText);
  draw_keybar(kMainHelpTopic, g_idle_shift_seen < 0 ? 0 : g_idle_shift_seen);
  g_screen.right_margin = 1;
  g_app.redraw = kRedrawClear | kRedrawLayout;
}

void paint_frame_edges() {
  int rows = screen_rows(), cols = screen_cols();
  for (int y = 3; y <= rows - 3; ++y) put_char(cols - 1, y, g_frames.vertical_double, g_colors.Frame);
  // The hex panel's box joins the right edge on its top row.
  if (g_app.hex_panel) put_char(cols - 1, rows - g_app.hex_panel - 2, g_frames.hex_frame[2], g_colors.Frame);
  put_repeat(2, rows - g_app.hex_panel - 2, cols - 4, g_frames.horizontal_double, g_colors.Frame);
}

void paint_view() {
  if (g_app.redraw == 0) return;
  Table* table = g_app.table();
  if (!table) return;
  if (g_app.redraw & kRedrawClear) clear_window();
  if (g_app.redraw != kRedrawEditOn) {
    draw_status_counter();
    if (g_app.edit.mode && g_app.edit.pending_reload) g_app.edit.pending_reload = 0;
    if (view_of(*table).view_mode == 1) {
      paint_fields_view(*table);
    } else {
      paint_browse_grid(*table);
    }
    if (g_app.edit.mode && g_cell_edit_hooks.reopen) g_cell_edit_hooks.reopen();
  }
  if (g_app.edit.mode && g_cell_edit_hooks.refresh) g_cell_edit_hooks.refresh();
  g_app.redraw = 0;
}

// ---- the browse grid -------------------------------------------------------------

namespace {

void paint_browse_header(const Table& table, const std::vector<ColumnSpan>& spans) {
  put_char(1, 2, '*', g_colors.HeaderC);
  put_char(2, 2, ' ', g_colors.HeaderC);
  for (const ColumnSpan& span : spans) {
    unsigned char attr = header_color(field_type(table, column_field(table, span.column)));
    put_table_cell(table, span.x, 2, shown_name(table, span.column), attr, span.width);
    if (span.x + span.width < screen_cols() - 1) put_char(span.x + span.width, 2, ' ', g_colors.HeaderC);
  }
  put_repeat(1, 3, screen_cols() - 2, g_frames.horizontal_single, g_colors.Frame);
}

void put_delimiters(int y, const std::vector<ColumnSpan>& spans) {
  put_char(2, y, g_frames.vertical_single, g_colors.Delimiter);
  for (const ColumnSpan& span : spans) {
    int x = span.x + span.width;
    if (x < screen_cols() - 1) put_char(x, y, g_frames.vertical_single, g_colors.Delimiter);
  }
}

void paint_browse_row(Table& table, long p, int y, const std::vector<ColumnSpan>& spans) {
  if (!load_display_record(table, p)) {
    put_repeat(1, y, screen_cols() - 2, ' ', g_colors.Text);
    put_delimiters(y, spans);
    return;
  }
  bool deleted = table.record[0] == '*';
  put_record_mark(table, p, 1, y, deleted);
  put_delimiters(y, spans);
  for (const ColumnSpan& span : spans) {
    std::string text = field_text(std::as_const(table), RecordImage(table.record), column_field(table, span.column));
    put_table_cell(table, span.x, y, text, cell_color(table, p, span.column, deleted), span.width);
  }
  if (g_app.hex_panel && p == view_of(table).current_record) paint_hex_panel(table, spans);
}

}  // namespace

void paint_hex_panel(Table& table, const std::vector<ColumnSpan>& spans) {
  int rows = screen_rows(), cols = screen_cols();
  for (int y = rows - 5; y <= rows - 3; ++y) put_repeat(1, y, cols - 2, ' ', g_colors.Text);
  static const char kDigits[] = "0123456789abcdef";
  for (const ColumnSpan& span : spans) {
    int field = column_field(table, span.column);
    if (field < 0 || field >= table.field_count()) continue;
    int offset = table.fields[size_t(field)].offset;
    int length = std::min(field_length(table, field), int(table.record_size) - offset);
    unsigned char attr = span.column == view_of(table).current_column ? g_colors.Current : g_colors.Text;
    for (int j = 0; j < length && j < span.width; ++j) {
      int x = span.x + j;
      if (x >= cols - 1) return;
      uint8_t byte = table.record[size_t(offset + j)];
      put_char(x, rows - 5, byte ? byte : ' ', attr);
      put_char(x, rows - 4, kDigits[byte >> 4], attr);
      put_char(x, rows - 3, kDigits[byte & 15], attr);
    }
  }
}

void paint_browse_grid(Table& table) {
  std::vector<ColumnSpan> spans = shown_columns(table);
  if (g_app.redraw & kRedrawLayout) paint_browse_header(table, spans);
  long count = visible_count(table);
  if (count == 0) return;
  int y = 4;
  for (long p = view_of(table).top_record; p < count && y <= last_window_row(); ++p, ++y) {
    paint_browse_row(table, p, y, spans);
  }
  for (; y <= last_window_row(); ++y) {
    put_repeat(1, y, screen_cols() - 2, ' ', g_colors.Frame);
    put_delimiters(y, spans);
  }
}

}  // namespace kora
