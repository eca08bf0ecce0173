// The fields view: one record, one field per row, names on the left.
#include <algorithm>
#include <utility>

#include "app/browse_view.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"
#include "ui/screen.h"

namespace kora {

namespace {

// How a null value shows where one field has a whole row.
constexpr const char* kNullText = ".NULL.";

// Width of the name column: the longest shown name.
int name_width(const Table& table) {
  int width = 0;
  for (int k = 0; k < column_count(table); ++k) width = std::max(width, int(shown_name(table, k).size()));
  return width;
}

void paint_names(const Table& table, int width) {
  int cols = screen_cols();
  put_char(1, 2, '*', g_colors.HeaderC);
  int count = column_count(table);
  int k = view_of(table).first_column;
  for (int y = 3; y <= last_window_row(); ++y, ++k) {
    put_repeat(1, y, cols - 2, ' ', g_colors.Frame);
    if (k < count) {
      put_table_cell(table, 1, y, shown_name(table, k), header_color(field_type(table, column_field(table, k))), width);
    }
  }
  if (width + 2 >= cols - 1) return;
  for (int y = 2; y <= last_window_row(); ++y) {
    put_char(width + 2, y, g_frames.vertical_single, g_colors.Delimiter);
  }
}

}  // namespace

void paint_fields_view(Table& table) {
  int width = name_width(table);
  if (g_app.redraw & kRedrawLayout) paint_names(table, width);
  long p = view_of(table).current_record;
  if (visible_count(table) == 0 || !load_display_record(table, p)) return;
  int x = width + 3;
  int room = screen_cols() - 1 - x;
  bool deleted = table.record[0] == '*';
  put_record_mark(table, p, x, 2, deleted);
  int count = column_count(table);
  int k = view_of(table).first_column;
  for (int y = 3; y <= last_window_row(); ++y, ++k) {
    if (k >= count) {
      put_cell(x, y, "", g_colors.Frame, room);
      continue;
    }
    int i = column_field(table, k);
    RecordImage image(table.record);
    std::string text = is_null_field(table, image, i) ? kNullText : field_text(std::as_const(table), image, i);
    put_table_cell(table, x, y, text, cell_color(table, p, k, deleted), room);
  }
  if (g_app.hex_panel && view_of(table).current_column < count) {
    int current = view_of(table).current_column;
    paint_hex_panel(table, {{current, x, std::max(room, 0)}});
  }
}

}  // namespace kora
