// What the commands that read or change many records share: settling the
// record being edited, the read-only checks, keeping the cursor on its
// record while the view is rebuilt, and the column list of the dialogs.
#pragma once

#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "ui/menu.h"

namespace kora {

// Writes the record being edited before a command reads or changes records,
// so that the edit buffer cannot later write its old values over theirs.
// False when changes are still pending (the command then does nothing).
bool settle_edit();

// Before the current record is left without being written (quitting edit
// mode, F12, another table, Refresh, Close): when it has changes, asks "Save
// / Don't save / Cancel" whatever Confirmation says. Save writes the record,
// Don't save drops its changes; edit mode stays on either way. False on
// Cancel, or when the field refuses the typed value: the user stays on the
// record with the typed text. With the input gone (a script ran out) what
// was typed is kept as far as the fields take it.
bool resolve_unsaved_edit();

// True when the table may not be changed: the ReadOnly setting is on or the
// file could only be opened for reading.
bool changes_refused(const Table& table);

// Text typed into a dialog (the screen's code page 866) as the table's text
// is compared: the same bytes for tables in 866 and 1251, which conditions
// and searches compare in screen form; for a table in another code page the
// same characters in that page. False, the reason shown, when that page
// cannot hold one of them.
bool typed_text_for_table(const Table& table, const std::string& typed, std::string& out);

// Keeps the cursor on its record across a rebuild of the view: remember
// before, restore after. skip_next_restore (the refresh command) makes the
// next pair leave the cursor alone.
void remember_position();
void restore_position();
void skip_next_restore();
// A fresh start: the next pair keeps the cursor on its record again.
void forget_kept_position();

// The cursor's row in the middle of the window: the top row becomes the
// current row minus half the record lines, at least 0.
void centre_current_row();

// The entries of a drop-down list of the table's columns (captions as the
// browse shows them), kept alive as long as the value.
struct ColumnChoices {
  std::vector<std::string> labels;
  std::vector<MenuItem> items;  // ends with a null label
};
ColumnChoices column_choices(const Table& table);

}  // namespace kora
