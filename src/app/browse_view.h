// The main screen: status line, double frame, key bar, and the current table
// painted as the browse grid (one record per row) or the fields view (one
// field per row), redrawn as far as AppState::redraw asks.
#pragma once

#include <string>
#include <vector>

#include "app/app_state.h"
#include "table/dbf_file.h"

namespace kora {

// The number of leading display columns that never scroll (column setup),
// never more than the columns shown.
int fixed_columns(const Table& table);

// ---- geometry -------------------------------------------------------------------

// Last row of the data window: R - H - 3.
int last_window_row();
// Data rows of the browse grid: R - H - 6.
int browse_rows();
// Field rows of the fields view: R - H - 5.
int field_rows();

// Width of display column k: the larger of the value's and the name's width.
int layout_width(const Table& table, int column);

// One column as the grid shows it: display column, left edge, width.
struct ColumnSpan {
  int column;
  int x;
  int width;
};
// The Fixed columns, then the scrolled ones from the first column, as far as
// they start inside the frame.
std::vector<ColumnSpan> shown_columns(const Table& table);

// The first column that shows `current` together with as many columns below
// it (down to `bound`) as fit in W-4 next to the Fixed columns.
int fit_first_column(const Table& table, int current, int bound);

// ---- painting -------------------------------------------------------------------

unsigned char header_color(char type);
// The shown name of display column k, converted when captions are ANSI.
std::string shown_name(const Table& table, int column);
// Reads view position p into table.record for display: the edit buffer for
// the current record in edit mode, text fields converted for ANSI tables.
bool load_display_record(Table& table, long p);
// Colour of the cell of record p (view position) in display column k.
unsigned char cell_color(const Table& table, long p, int column, bool deleted);
// Column 1's mark: the selection mark or the deletion byte.
void put_record_mark(Table& table, long p, int x, int y, bool deleted);
// Text clipped to `width` and to the inside of the frame, padded with blanks.
void put_cell(int x, int y, const std::string& text, unsigned char attr, int width);
// put_cell for a value or name in the table's own code page.
void put_table_cell(const Table& table, int x, int y, const std::string& text, unsigned char attr, int width);
// The hex panel rows for the bytes of the given columns, from x = start.
void paint_hex_panel(Table& table, const std::vector<ColumnSpan>& spans);

// Status line (left part), frame and key bar; leaves the redraw bits at 0x82.
void full_repaint();
// Paints what the redraw bits ask for and clears them.
void paint_view();
// Redraws the right and bottom frame edges, wiping old scroll bars.
void paint_frame_edges();
void draw_status_left();
void draw_status_counter();
void paint_browse_grid(Table& table);
void paint_fields_view(Table& table);

// ---- key bar and clock ------------------------------------------------------------

// The label set for a modifier state: Shift, Ctrl or Alt alone, else plain.
KeybarState keybar_state(int shift_state);
// The twelve labels shown for a help topic and modifier state.
std::array<std::string, 12> keybar_labels(int help_topic, int shift_state);
void draw_keybar(int help_topic, int shift_state);
// The main view's labels as they are before any table is shown.
void reset_keybar_labels(KeybarSet& set);
// The labels that follow the current table: F2, F4, F12 and Shift+F12.
void update_keybar_labels();
// The idle routine of every key wait: key bar, macro mark, clock.
void idle_routine(int help_topic, int shift_state, int mouse_x, int mouse_y);

}  // namespace kora
