#include "app/filter_commands.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/status_text.h"
#include "app/table_characters.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "tools/condition.h"
#include "tools/filter.h"
#include "tools/record_list.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kFilterHelp = 21;
constexpr int kGoToRecordHelp = 22;
constexpr int kGroupHelp = 23;
constexpr int kFilterTextSize = 512;
constexpr int kRecordListSize = 256;
constexpr int kGoToSize = 10;

// The merge choice of the last filter: New (0) or Merge (1).
int g_merge_choice = 0;

// ---- the view before a walk ----------------------------------------------------------

// What a stopped or failed walk puts back: the records in view, their
// order, the filter text and the cursor.
struct ViewSnapshot {
  RecordView records;
  ViewState cursor;
};

ViewSnapshot take_snapshot(const Table& table) { return {table.view, view_of(table)}; }

void put_back(Table& table, ViewSnapshot& snapshot) {
  table.view = std::move(snapshot.records);
  view_of(table) = snapshot.cursor;
}

void report_failure(Status status) {
  if (status == Status::kOk || status == Status::kAborted) return;
  message_box(status_cause_text(status), "Error", "OK", kMessageError, kToolErrorHelp);
}

// In edit mode the editor opens again on whatever record is current now.
void reload_edit() {
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
}

// The cursor inside the new view: the last record at most, and centred when
// it went above the window.
void settle_cursor(const Table& table) {
  ViewState& v = view_of(table);
  long count = long(visible_count(table));
  v.current_record = count == 0 ? 0 : std::clamp(v.current_record, 0L, count - 1);
  if (v.current_record < v.top_record) centre_current_row();
}

// Runs a filter over the view, as a new one over all records or merged with
// the current one; a stopped or failed walk leaves the view as it was.
bool run_filter(Table& table, const std::string& expression, bool merge, bool hide_deleted) {
  if (expression.find_first_of("<>=~") == std::string::npos) return false;
  if (!settle_edit()) return false;
  ViewSnapshot snapshot = take_snapshot(table);
  remember_position();
  table.view.hide_deleted = hide_deleted;
  if (!merge) clear_filter(table);
  FilterRequest request{FilterSource::kExpression, expression, table_state(table).literal_brackets};
  Status status;
  {
    ProgressScope box(visible_count(table), Stop::kOnEscape);
    status = apply_filter(table, request, box.callback());
  }
  restore_position();
  g_app.redraw |= kRedrawAll;
  if (status != Status::kOk) {
    put_back(table, snapshot);
    report_failure(status);
    return false;
  }
  settle_cursor(table);
  reload_edit();
  return true;
}

// ---- the Filter dialog -----------------------------------------------------------

enum FilterValue { kIgnoreCase = 0, kHideDeleted = 1, kLiteralBrackets = 2, kMergeChoice = 3 };

const DialogDecoration kFilterBoxes[] = {
    {5, 5, 74, 7, "Expression"},
    {5, 8, 74, 12, "Options"},
    {5, 13, 74, 15, "Options"},
    {},
};
EditField g_expression_field{.x = 6, .y = 6, .width = 68, .size = kFilterTextSize};
DialogCheck g_ignore_case{7, 9, 0, "Ignore case", kIgnoreCase};
DialogCheck g_hide_deleted{7, 10, 0, "Hide deleted records", kHideDeleted};
DialogCheck g_literal_brackets{7, 11, 0, "Understand brackets in the filter expression literally", kLiteralBrackets};
DialogRadio g_new_filter{7, 14, 0, "New filter", kMergeChoice, 0};
DialogRadio g_merge_filter{30, 14, 0, "Merge with current filter", kMergeChoice, 1};
DialogPushButton g_filter_ok{22, 16, nullptr, "OK", 1, 1};
DialogPushButton g_filter_cancel{42, 16, nullptr, "Cancel", 0, 0};
DialogControl g_filter_controls[] = {
    {kControlEdit, 0, &g_expression_field}, {kControlCheck, 0, &g_ignore_case},
    {kControlCheck, 0, &g_hide_deleted},    {kControlCheck, 0, &g_literal_brackets},
    {kControlRadio, 0, &g_new_filter},      {kControlRadio, 0, &g_merge_filter},
    {kControlButton, 0, &g_filter_ok},      {kControlButton, 0, &g_filter_cancel},
    {},
};
Dialog g_filter_dialog{4, 4, 75, 17, kFilterHelp, "Filter", 0, kFilterBoxes, g_filter_controls};

struct FilterChoice {
  std::string expression;
  bool ignore_case = false, hide_deleted = false, literal_brackets = false, merge = false;
};

// The dialog's answer; false when it was cancelled or left empty.
bool ask_filter(const Table& table, FilterChoice& choice) {
  const std::string& current = table.view.filter_expr;
  std::string preset = current.empty() ? g_settings.filter.expression : remembered_from_table(table, current);
  // A merged filter may have outgrown the line: it is offered whole.
  g_expression_field.size = std::max(kFilterTextSize, int(preset.size()));
  dialog_prepare(g_filter_dialog);
  int result = 0;
  {
    UnicodeFields unicode(table, {&g_expression_field});
    edit_set_remembered_text(g_expression_field, preset);
    int* values = g_filter_dialog.values;
    values[kIgnoreCase] = table.ignore_case;
    values[kHideDeleted] = table.view.hide_deleted;
    values[kLiteralBrackets] = table_state(table).literal_brackets;
    values[kMergeChoice] = g_merge_choice;
    result = dialog_run(g_filter_dialog, nullptr);
    choice = {edit_remembered_text(g_expression_field), values[kIgnoreCase] != 0, values[kHideDeleted] != 0,
              values[kLiteralBrackets] != 0, values[kMergeChoice] == 1};
    dialog_finish(g_filter_dialog);
  }
  g_expression_field.size = kFilterTextSize;
  return result == 1 && !choice.expression.empty();
}

// ---- the quick filter ------------------------------------------------------------

void quick_filter(bool merge) {
  Table* table = g_app.table();
  if (!table || visible_count(*table) == 0 || !settle_edit()) return;
  const ViewState& v = view_of(*table);
  int column = column_field(*table, v.current_column);
  if (column < 0 || !read_record(*table, uint32_t(v.current_record))) return;
  RecordImage record(table->record.data(), table->record_size);
  EqualityCondition equal = equality_condition(*table, record, column, table_state(*table).literal_brackets);
  if (equal.refusal) {
    message_box(equal.refusal, "Information", "OK", 0, 0);
    return;
  }
  g_settings.filter.expression = remembered_from_table(*table, equal.condition);
  g_merge_choice = merge ? 1 : 0;
  run_filter(*table, equal.condition, merge, table->view.hide_deleted);
}

// ---- Go to record ----------------------------------------------------------------

const DialogDecoration kGoToLabels[] = {{28, 12, 28, 12, "Go to record #"}, {}};
EditField g_goto_field{.x = 45, .y = 12, .width = 6, .size = kGoToSize, .allowed = kAllowRecord};
DialogControl g_goto_controls[] = {{kControlEdit, 0, &g_goto_field}, {}};
Dialog g_goto_dialog{26, 11, 52, 13, kGoToRecordHelp, nullptr, 0, kGoToLabels, g_goto_controls};

// ---- the group operation dialog --------------------------------------------------

enum GroupValue { kGroupAction = 0 };

const DialogDecoration kGroupBoxes[] = {
    {19, 9, 60, 11, "Expression"},
    {19, 12, 60, 14, "Action"},
    {},
};
EditField g_list_field{.x = 20, .y = 10, .width = 40, .size = kRecordListSize, .allowed = kAllowRecordList};
DialogRadio g_group_delete{21, 13, 0, "Delete", kGroupAction, int(RecordAction::kDelete)};
DialogRadio g_group_recall{34, 13, 0, "Recall", kGroupAction, int(RecordAction::kRecall)};
DialogRadio g_group_inverse{47, 13, 0, "Inverse", kGroupAction, int(RecordAction::kInvert)};
DialogPushButton g_group_ok{22, 15, nullptr, "OK", 1, 1};
DialogPushButton g_group_cancel{42, 15, nullptr, "Cancel", 0, 0};
DialogControl g_group_controls[] = {
    {kControlEdit, 0, &g_list_field},    {kControlRadio, 0, &g_group_delete}, {kControlRadio, 0, &g_group_recall},
    {kControlRadio, 0, &g_group_inverse}, {kControlButton, 0, &g_group_ok},    {kControlButton, 0, &g_group_cancel},
    {},
};
Dialog g_group_dialog{17, 8, 62, 16, kGroupHelp, "Group operation", 0, kGroupBoxes, g_group_controls};

// The records the user chose: the selection itself while its prefilled text
// stands unchanged, else the text as typed. False when cancelled.
bool ask_group(const Table& table, RecordAction& action, RecordList& list) {
  RecordList selected = record_list_from_selection(table, table_state(table).selection);
  std::string preset = format_record_list(selected);
  // A long selection is offered whole rather than cut inside a number.
  g_list_field.size = std::max(kRecordListSize, int(preset.size()));
  dialog_prepare(g_group_dialog);
  edit_set_text(g_list_field, preset.c_str());
  g_group_dialog.values[kGroupAction] = int(action);
  int result = dialog_run(g_group_dialog, nullptr);
  std::string text = g_list_field.text;
  action = RecordAction(g_group_dialog.values[kGroupAction]);
  dialog_finish(g_group_dialog);
  g_list_field.size = kRecordListSize;
  if (result != 1) return false;
  list = text == preset ? std::move(selected) : parse_record_list(text, visible_count(table));
  return true;
}

void group_operation(RecordAction action) {
  Table* table = g_app.table();
  RecordList list;
  if (!table || changes_refused(*table) || !ask_group(*table, action, list)) return;
  if (list.empty() || !settle_edit()) return;
  Status status;
  {
    ProgressScope box(list.count(), Stop::kOnEscape);
    status = apply_record_list(*table, action, list, box.callback());
  }
  reload_edit();
  g_app.redraw |= kRedrawRows;
  report_failure(status);
}

}  // namespace

void filter_command() {
  Table* table = g_app.table();
  FilterChoice choice;
  if (!table || !ask_filter(*table, choice)) return;
  table->ignore_case = choice.ignore_case;
  table_state(*table).literal_brackets = choice.literal_brackets;
  g_settings.filter.ignore_case = choice.ignore_case ? 1 : 0;
  g_settings.filter.expression = choice.expression;
  g_merge_choice = choice.merge ? 1 : 0;
  settings_save_filter();
  std::string expression;
  if (!typed_text_for_table(*table, braces_to_comparisons(choice.expression), expression)) return;
  run_filter(*table, expression, choice.merge, choice.hide_deleted);
}

bool filter_to_condition(const std::string& condition, bool merge) {
  Table* table = g_app.table();
  if (!table) return false;
  g_settings.filter.expression = remembered_from_table(*table, condition);
  g_merge_choice = merge ? 1 : 0;
  return run_filter(*table, condition, merge, table->view.hide_deleted);
}

void quick_filter_command() { quick_filter(false); }
void quick_filter_add_command() { quick_filter(true); }

void go_to_record_command() {
  Table* table = g_app.table();
  if (!table) return;
  TableState& state = table_state(*table);
  dialog_prepare(g_goto_dialog);
  edit_set_text(g_goto_field, state.goto_number.c_str());
  int result = dialog_run(g_goto_dialog, nullptr);
  std::string text = g_goto_field.text;
  dialog_finish(g_goto_dialog);
  if (result <= 0 || !settle_edit()) return;
  state.goto_number = text;
  uint64_t number = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), number).ec != std::errc()) return;
  if (number > visible_count(*table)) return;
  state.view.current_record = number == 0 ? 0 : long(number - 1);
  centre_current_row();
  reload_edit();
  g_app.redraw |= kRedrawRows;
}

void group_delete_command() { group_operation(RecordAction::kDelete); }
void group_recall_command() { group_operation(RecordAction::kRecall); }
void group_inverse_command() { group_operation(RecordAction::kInvert); }

bool reapply_stored_filter() {
  Table* table = g_app.table();
  if (!table) return true;
  FilterRequest request{FilterSource::kStored, {}, table_state(*table).literal_brackets};
  Status status;
  {
    ProgressScope box(visible_count(*table), Stop::kOnEscape);
    status = apply_filter(*table, request, box.callback());
  }
  report_failure(status);
  return status == Status::kOk;
}

void forget_filter_choices() {
  g_merge_choice = 0;
  forget_kept_position();
}

}  // namespace kora
