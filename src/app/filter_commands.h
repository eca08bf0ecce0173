// The commands that choose which records the view shows and where the
// cursor stands among them: the Filter dialog and the quick filter by the
// current value, Go to record, and the group operations on deletion marks.
// Each works on g_app.table() and ORs what has to be repainted into
// g_app.redraw.
#pragma once

#include <string>

namespace kora {

// Alt+F3, Tools "Fi&lter": a condition, new or merged with the current one.
void filter_command();
// Ctrl+E and its merging twin: the current column equal to the current value.
void quick_filter_command();
void quick_filter_add_command();
// The quick filter by a condition the program made (a value picked from a
// list): new, or merged with the current filter. False when it did not run
// or was stopped.
bool filter_to_condition(const std::string& condition, bool merge);
// Alt+F6, Edit "&Go to record".
void go_to_record_command();
// Tools, Group: the group operation dialog, its action preset.
void group_delete_command();
void group_recall_command();
void group_inverse_command();

// Runs the table's stored filter again over the records in view (all of
// them once hide deleted has dropped its list), under a stoppable progress
// box. False when the walk was stopped or failed (the failure is reported);
// the caller then puts its view back.
bool reapply_stored_filter();

// A fresh start: the merge choice back to New, no position kept.
void forget_filter_choices();

}  // namespace kora
