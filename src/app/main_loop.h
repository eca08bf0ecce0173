// The main loop: paints what the last command asked for, waits for one key
// and runs the command bound to it, until the user quits. Also the table
// list commands (open, show, close, switch) and the progress box.
#pragma once

#include <string>

#include "table/dbf_file.h"

namespace kora {

constexpr int kMainHelpTopic = 10;
constexpr int kHeaderErrorsHelpTopic = 52;

// Runs until the quit request is granted; the current table is g_app.table().
void run_main_loop();

// Dispatches one key as the loop does (exposed for the loop's own tests).
void dispatch_key(int key);

// Copies the option values into a table: date format and separator, memo
// display, backup mode.
void apply_settings(Table& table);

// confirm_header_repair, or, for a file whose header may not be written, a
// message saying why; 1 when the user cancelled.
int offer_header_repair(Table& table, bool at_startup, int auto_correct);
// Tells the user what opening the table finished of an interrupted change.
void show_recovery_note(const Table& table);

// Opens a table (or finds it open, under any name of its file) and makes it
// current. Leaving a record with typed changes asks first; 0 on Cancel too.
// leave_edit: first leave edit mode writing the record (the Open command).
// 1 when the table is shown, 0 when it could not be opened.
int open_and_show(const std::string& file_name, bool leave_edit = false);

// Copies the settings a table takes when it is added (OEMAnsi, [Xlat],
// Aliases) into the table list; called before every add_table.
void set_table_list_options();
// What every table gets when it joins the list: the field-name test, the
// settings applied, the view mode of StartMode.
void prepare_new_table(Table& table);

// Opens the table of a slot again from its file, after something rewrote
// the file under it: the cursor, the view and the columns stay as far as
// they still fit. When the file cannot be opened, says so and closes the
// table (the program ends when it was the only one); false then.
bool reopen_table(int index);

// The Open command: the file panel, then open and show the chosen table.
void open_with_panel();

// Connects the menu bar to the program: its pull-downs, their item states
// from the current table, and the commands of the chosen items.
void install_menu_hooks();

void close_current_table();
void next_table();
void previous_table();
void choose_table();
void quit_request();
// Opens a pull-down of the menu bar (0 File .. 6 Help), -1 the last used.
void open_menu(int index);

// The progress box of long operations.
void progress_open(long total);
void progress_step();
// Moves the bar to `done` of `total` steps (a walk's progress call).
void progress_show(long done, long total);
void progress_close();

}  // namespace kora
