// The commands that add, remove, mark and move whole records of the current
// table, the views built on record marks (hide deleted, show selected only)
// and the record clipboard. Each works on g_app.table(), asks where its key
// or menu item says so, and ORs what has to be repainted into g_app.redraw.
#pragma once

#include <string>

namespace kora {

constexpr int kRecordErrorHelp = 100;    // help topic of the error boxes
constexpr int kPasteQuestionHelp = 7;   // the other questions have 1 to 6

// Runs the table's filter expression again over all records (the filter
// commands plug in here); false when the walk was stopped or failed, and
// the view is then put back as it was.
extern bool (*g_reapply_filter_hook)();

// Append and insert: blank or a copy of the current record, asking or not.
void cmd_append();             // F5
void cmd_append_copy();        // Shift+F5
void cmd_append_now();         // Ctrl+F5, Commands "&Append"
void cmd_append_copy_now();    // Commands, Duplicate, "&Append"
void cmd_insert();             // F6
void cmd_insert_copy();        // Shift+F6
void cmd_insert_now();         // Ctrl+F6, Commands "&Insert"
void cmd_insert_copy_now();    // Commands, Duplicate, "&Insert"

// Removing records from the file.
void cmd_delete();             // F8
void cmd_delete_now();         // Shift+F8, Commands "&Delete"
void cmd_pack();               // Alt+F8, Commands "&Pack": table and memo file
void cmd_pack_table();         // "Pack &DBF only"
void cmd_pack_memo();          // "Pack &memo only"
void cmd_zap();                // Ctrl+F8
void cmd_truncate();           // Ctrl+F10: every record after the current one

// Deletion marks.
void cmd_mark_deleted();       // Del
void cmd_delete_all();         // Tools, All, "&Delete"
void cmd_recall_all();         // Tools, All, "&Recall"
void cmd_inverse_all();        // Tools, All, "&Inverse"
// Views.
void cmd_hide_deleted();       // Ctrl+D
void cmd_cancel_views();       // Alt+1
void cmd_select();             // Ins
void cmd_show_selected();      // View, Selection, "Show selected &only"

// Record clipboard.
void cmd_copy_record();        // Ctrl+G
void cmd_paste_record();       // Ctrl+]

// The table and the program.
void cmd_refresh();            // Ctrl+R
// Takes the record count from the file again (records another program
// added or removed), keeping the cursor in the view; `reload` reads the
// edit buffer again, `first_when_past` goes to the first record when the
// current one is gone.
void follow_record_count(bool reload, bool first_when_past = false);
void cmd_read_only();          // View "Read onl&y"
void cmd_backup_now();         // Ctrl+B

}  // namespace kora
