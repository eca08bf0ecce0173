// The Tools commands that order, total, compute and fill: Sort (and
// dropping the sort order), Sum, the Calculator and Fill, each on the
// current table.
#pragma once

namespace kora {

// The Sort dialog; the sort runs under a progress box that Esc stops,
// leaving the view as it was.
void sort_command();
// Back to the natural record order, the cursor kept on its record.
void drop_sort_command();
// The totals of the current numeric column over the selection or the view.
void sum_command();
// Evaluates an expression for the current record; OK stores the result.
void calculator_command();
// Writes an expression's value or a progression into one field of the
// selected, listed or all records.
void fill_command();

// The choices these dialogs remember for the program's run (sort type and
// field list, calculator expression, fill options) back to a fresh start's.
void forget_tool_choices();

}  // namespace kora
