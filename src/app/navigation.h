// Moving through the current table: records, columns and fields, pages, and
// the commands that change how the view looks. Each updates the table's
// ViewState and ORs what has to be repainted into AppState::redraw.
#pragma once

namespace kora {

// Commits the cell being edited; with record_change the pending record is
// written. Every navigation command starts with it.
bool leave_cell(bool record_change);

// Browse view and fields view alike, by what the key means in the mode.
void nav_down();
void nav_up();
void nav_right();
void nav_left();
void nav_tab();
void nav_shift_tab();
void nav_home();
void nav_end();
void nav_page_down();
void nav_page_up();
void nav_ctrl_home();
void nav_ctrl_end();
void nav_ctrl_page_down();
void nav_ctrl_page_up();
void nav_ctrl_down();
void nav_ctrl_up();
void nav_ctrl_right();
void nav_ctrl_left();

// The single moves the keys are made of.
void next_record();
void previous_record();
void next_column();
void previous_column();
void next_field();
void previous_field();
void first_column();
void last_column();
void first_record();
void last_record();

// View commands.
void switch_view();
void go_to_field();
void toggle_aliases();
// Shows the status line and the column captions anew after the aliases or
// the description changed.
void refresh_captions();
void toggle_code_page();
void toggle_caption_code_page();
void toggle_reverse();
void toggle_hex_panel();

// Brings the current record and column (or field) back into the window
// after the terminal changed size; nothing moves while they are inside.
void keep_cursor_in_window();
// After the window grew: rows left blank below the last record while records
// lie above the top are filled with those (the end of the table stays at the
// bottom, as Ctrl+End shows it).
void fill_grown_window();

}  // namespace kora
