// Editing values in place: edit mode, the one-line editor over the current
// cell with its key filter by field type, the commit of the edited text into
// the record image, writing the record when the cursor leaves it, the Enter
// action, the memo editor and the block commands on a rectangle of cells.
//
// While edit mode is on, the current record lives in Table::edit_buffer
// (character fields in display form on an ANSI table). An empty edit buffer
// means "read the record from the file again": the grid then paints the file's
// record and the editor reloads the buffer when it reopens.
#pragma once

#include <string>
#include <string_view>

#include "table/dbf_file.h"

namespace kora {

constexpr int kMemoEditorHelpTopic = 50;

// ---- edit mode ----------------------------------------------------------------------

// F4: switches edit mode on, or off writing the record.
void toggle_edit_mode();
// On only when the program and the file may be written and records are in view.
// Returns 1 when edit mode is on afterwards.
int edit_mode_on();
// Off: with write the pending record is written, otherwise its changes dropped.
void edit_mode_off(bool write);
// Drops the changes of the current record; edit mode stays on and the
// editor opens again on the record as the file holds it.
void discard_record_changes();

// ---- the hooks of the main loop ------------------------------------------------------

// Commits the cell; with record_change the pending record is written.
// False when the field refused the typed text: the cursor must stay.
bool leave_cell_check(bool record_change);
// The key after the type filter, given to the editor: 1 when it used it.
int offer_cell_key(int key);
// Draws the editor and puts the cursor on it.
void refresh_cell_editor();
// Opens the editor on the current cell (after every paint).
void reopen_cell_editor();
// 1 when a committed cell is not yet written or the editor holds changed text.
int cell_changes_pending();
// Fills g_cell_edit_hooks.
void install_cell_editing();

// ---- single actions -----------------------------------------------------------------

// The key as the current field's type lets it through, or 0. Space in a date
// cell runs fill-with-now and gives 0 too.
int filter_cell_key(int key);
// Space in a D or T cell: today's date and time when the text starts blank,
// otherwise blanks.
void fill_with_now();
// Enter: memo editor, edit mode on, or commit and move on.
void enter_action();
// Space outside the cell editor: the memo editor, in edit mode only on a
// memo field.
void space_key();
// The memo of the current record in the text editor window.
void memo_editor();
// Reads the current record into the edit buffer again.
void reload_edit_buffer();

// The cell editor's text, for tests; empty when it is closed.
std::string cell_editor_text();

// ---- block commands -------------------------------------------------------------------

// The '*' key: sets the anchor, or clears the mark and the selection.
void block_mark_toggle();
void block_copy();
void block_cut();
void block_delete();
void block_paste();

}  // namespace kora
