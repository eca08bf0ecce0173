// Tools / Sort, Alt+S, Tools / Sum, the Calculator and Tools / Fill.
#include "app/sort_fill_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/status_text.h"
#include "app/table_characters.h"
#include "app/tool_commands.h"
#include "table/table_locks.h"
#include "table/record_ops.h"
#include "table/field_write.h"
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/expression.h"
#include "tools/fill.h"
#include "tools/record_list.h"
#include "tools/sort.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr int kSortHelp = 28;
constexpr int kSumHelp = 24;

// ---- the Sort dialog --------------------------------------------------------------------

enum SortValue { kSortType = 0, kSortIgnoreCase = 1, kSortDirection = 2 };

const DialogDecoration kSortFrames[] = {
    {5, 8, 32, 10, "Field"},     {33, 8, 74, 10, "Sort type"},  {5, 11, 74, 13, "Field list"},
    {5, 14, 22, 16, "Options"},  {23, 14, 56, 16, "Direction"}, {},
};
DialogList g_sort_field{7, 9, 24, 0, nullptr, nullptr};
EditField g_sort_list{.x = 6, .y = 12, .width = 68, .size = 68};
DialogRadio g_by_one{35, 9, 0, "By one field", kSortType, 0};
DialogRadio g_by_several{53, 9, 0, "By several fields", kSortType, 1};
DialogCheck g_sort_ignore_case{7, 15, 0, "Ignore case", kSortIgnoreCase};
DialogRadio g_ascending{25, 15, 0, "Ascending", kSortDirection, 0};
DialogRadio g_descending{40, 15, 0, "Descending", kSortDirection, 1};
DialogPushButton g_sort_ok{58, 14, nullptr, "OK", 1, 1};
DialogPushButton g_sort_cancel{58, 16, nullptr, "Cancel", 0, 0};
DialogControl g_sort_controls[] = {
    {kControlList, 0, &g_sort_field},   {kControlEdit, 0, &g_sort_list},        {kControlRadio, 0, &g_by_one},
    {kControlRadio, 0, &g_by_several},  {kControlCheck, 0, &g_sort_ignore_case}, {kControlRadio, 0, &g_ascending},
    {kControlRadio, 0, &g_descending},  {kControlButton, 0, &g_sort_ok},     {kControlButton, 0, &g_sort_cancel},
    {},
};
Dialog g_sort_dialog{4, 7, 75, 17, kSortHelp, "Sort", 0, kSortFrames, g_sort_controls};

// Kept for the program's run: the sort type and the last field list.
int g_sort_type = 0;
std::string g_sort_field_list;

// The field list the dialog asks for: the typed list, or the name of the
// field chosen in the drop-down list. Empty when the dialog was left.
std::string ask_sort_fields(Table& table) {
  ColumnChoices choices = column_choices(table);
  g_sort_field.items = choices.items.data();
  g_sort_field.selected = std::clamp(current_state().view.current_column, 0, std::max(0, column_count(table) - 1));
  dialog_prepare(g_sort_dialog);
  edit_set_text(g_sort_list, g_sort_field_list.c_str());
  g_sort_dialog.values[kSortType] = g_sort_type;
  g_sort_dialog.values[kSortIgnoreCase] = table.ignore_case ? 1 : 0;
  g_sort_dialog.values[kSortDirection] = table.view.sort_descending ? 1 : 0;
  int result = dialog_run(g_sort_dialog, nullptr);
  std::string typed = g_sort_list.text;
  dialog_finish(g_sort_dialog);
  g_sort_field.items = nullptr;
  if (result != 1) return {};

  g_sort_type = g_sort_dialog.values[kSortType];
  table.ignore_case = g_sort_dialog.values[kSortIgnoreCase] != 0;
  if (g_sort_type == 1) {
    if (!typed.empty()) g_sort_field_list = typed;
    return typed;
  }
  int column = column_field(table, g_sort_field.selected);
  return column < table.field_count() ? field_name(table, column) : column_name(table, column);
}

void report_failure(const char* what, Status status) {
  std::string text = what;
  const char* cause = status_cause_text(status);
  if (cause && *cause) text.append("\n").append(cause);
  message_box(text, "Error", "OK", kMessageError, kToolErrorHelp);
}

void reload_edit_buffer_later() {
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
}

// ---- the Sum dialog ---------------------------------------------------------------------

constexpr int kSumLabelX = 19;
constexpr int kSumValueEnd = 60;  // values end here, against the right frame
constexpr int kSumFirstRow = 10;

DialogPushButton g_sum_ok{32, 14, nullptr, "OK", 1, 1};
DialogControl g_sum_controls[] = {{kControlButton, 0, &g_sum_ok}, {}};
Dialog g_sum_dialog{17, 8, 62, 15, kSumHelp, "Sum", 0, nullptr, g_sum_controls};

std::string format_total(long double value) {
  int length = std::snprintf(nullptr, 0, "%Lf", value);
  std::string text(size_t(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, "%Lf", value);
  return text;
}

void show_sum(const SumTotals& totals) {
  static const char* const kLabels[] = {"All records", "Without deleted records", "Deleted records only"};
  const std::array<std::string, 3> values = {format_total(totals.all()), format_total(totals.not_deleted),
                                             format_total(totals.deleted)};
  // A total too wide for the frame widens the box, centred, as far as the
  // screen allows.
  // Labels take 23 cells and a blank from kSumLabelX + 2; each cell the box
  // grows on either side gives a value two more.
  const int room = kSumValueEnd - (kSumLabelX + 2 + 24) + 1;
  int widest = 0;
  for (const std::string& v : values) widest = std::max(widest, int(v.size()));
  int grow = std::clamp((widest - room + 1) / 2, 0, 16);
  Dialog& dialog = g_sum_dialog;
  dialog.x1 = 17 - grow;
  dialog.x2 = 62 + grow;
  std::array<DialogDecoration, 7> lines{};
  for (int k = 0; k < 3; ++k) {
    int y = kSumFirstRow + k;
    lines[size_t(2 * k)] = {kSumLabelX - grow, y, kSumLabelX - grow, y, kLabels[k]};
    int x = std::max(kSumLabelX - grow, kSumValueEnd + grow - 1 - int(values[size_t(k)].size()));
    lines[size_t(2 * k + 1)] = {x, y, x, y, values[size_t(k)].c_str()};
  }
  dialog.decorations = lines.data();
  dialog_prepare(dialog);
  dialog_run(dialog, nullptr);
  dialog_finish(dialog);
  dialog.decorations = nullptr;
}


constexpr int kCalculatorHelp = 29;
constexpr int kFillHelp = 30;
constexpr int kExpressionSize = 512;
// "%f" of the largest double: 309 digits, the point, six decimals, a sign.
constexpr int kResultSize = 320;

std::string format_fixed(double value) {
  int length = std::snprintf(nullptr, 0, "%f", value);
  std::string text(size_t(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, "%f", value);
  return text;
}

void show_error(const std::string& text) { message_box(text, "Error", "OK", kMessageError, kToolErrorHelp); }

int clamp_column(const Table& table, int display_column) {
  return std::clamp(display_column, 0, std::max(0, column_count(table) - 1));
}

// ---- the Calculator -----------------------------------------------------------------------

const DialogDecoration kCalculatorFrames[] = {
    {5, 9, 74, 11, "Expression"}, {5, 12, 74, 14, "Result"}, {5, 15, 38, 15, "Insert into field"}, {},
};
EditField g_calc_expression{.x = 6, .y = 10, .width = 68, .size = kExpressionSize};
EditField g_calc_result{.x = 6, .y = 13, .width = 68, .size = kResultSize};
DialogList g_calc_target{7, 16, 30, 0, nullptr, nullptr};
DialogPushButton g_calc_ok{40, 16, nullptr, "OK", 1, 1};
DialogPushButton g_calc_cancel{57, 16, nullptr, "Cancel", 0, 0};
DialogControl g_calc_controls[] = {
    {kControlEdit, 0, &g_calc_expression}, {kControlEdit, 1, &g_calc_result}, {kControlList, 0, &g_calc_target},
    {kControlButton, 0, &g_calc_ok},       {kControlButton, 0, &g_calc_cancel}, {},
};
constexpr int kCalcOkControl = 3;
Dialog g_calc_dialog{4, 8, 75, 17, kCalculatorHelp, "Calculator", 0, kCalculatorFrames, g_calc_controls};

std::string g_calc_memory;  // the last expression confirmed

// What the dialog's hook reads: the table with the current record in its
// buffer, and whether a result may be stored at all.
struct CalculatorRun {
  Table* table = nullptr;
  bool may_store = false;
  std::optional<double> value;
};
CalculatorRun g_calc;

// Fields that take the result: C, N, F, Y, I and 8-byte B, never a field
// whose bytes point elsewhere (a dBase IV B(10) memo among them).
bool takes_result(const Table& table, int i) {
  if (holds_reference(table, i)) return false;
  char type = field_type(table, i);
  if (type == 'B') return field_length(table, i) == 8;
  return type == 'C' || type == 'N' || type == 'F' || type == 'Y' || type == 'I';
}

int calculator_hook(int, Dialog& dialog, int) {
  const Table& table = *g_calc.table;
  std::string expression = g_calc_expression.text ? g_calc_expression.text : "";
  g_calc.value.reset();
  if (!expression.empty()) {
    Substitution sub = substitute_fields(table, RecordImage(table.record.data(), table.record_size), expression);
    g_calc.value = storable_value(sub.text);
  }
  std::string shown = g_calc.value ? format_fixed(*g_calc.value) : expression.empty() ? "" : "Error";
  edit_set_text(g_calc_result, shown.c_str());
  int target = column_field(table, g_calc_target.selected);
  bool enabled = g_calc.value && g_calc.may_store && takes_result(table, target);
  dialog.controls[kCalcOkControl].disabled = enabled ? 0 : 1;
  return 0;
}

void store_result(Table& table, int target, double value) {
  uint32_t p = uint32_t(current_state().view.current_record);
  // A text field takes the result as shown; a number every digit it has.
  std::string text = is_numeric_field(table, target) ? number_text(value) : format_fixed(value);
  FieldWrite stored = set_field_text(table, target, text);
  if (stored != FieldWrite::kStored) {
    show_error(field_write_message(table, target, stored) + "\nThe old value is kept.");
    return;
  }
  if (!write_record(table, p)) show_error("Cannot write record");
  reload_edit_buffer_later();
  g_app.redraw |= kRedrawRows;
}

// ---- the Fill dialog ----------------------------------------------------------------------

enum FillValue { kFillRecords = 0, kFillAdvanced = 1, kFillKind = 2 };

const DialogDecoration kFillFrames[] = {
    {5, 7, 74, 9, "Expression"},   {5, 10, 50, 12, "Records"}, {51, 10, 74, 12, "Insert into field"},
    {5, 14, 41, 16, "Progression"}, {42, 14, 42, 14, "Step"},   {42, 16, 42, 16, "Max value"},
    {},
};
EditField g_fill_expression{.x = 6, .y = 8, .width = 68, .size = kExpressionSize};
DialogRadio g_fill_all{7, 11, 0, "All", kFillRecords, 0};
DialogRadio g_fill_following{15, 11, 0, "Following", kFillRecords, 1};
EditField g_fill_list{.x = 30, .y = 11, .width = 18, .size = kExpressionSize, .allowed = kAllowRecordList};
DialogList g_fill_target{53, 11, 20, 0, nullptr, nullptr};
DialogCheck g_fill_advanced{7, 13, 0, "Advanced options", kFillAdvanced};
DialogRadio g_fill_arithmetic{7, 15, 0, "Arithmetical", kFillKind, 0};
DialogRadio g_fill_geometric{25, 15, 0, "Geometrical", kFillKind, 1};
EditField g_fill_step{.x = 55, .y = 14, .width = 10, .size = 10};
EditField g_fill_max{.x = 55, .y = 16, .width = 10, .size = 10};
DialogPushButton g_fill_ok{24, 17, nullptr, "OK", 1, 1};
DialogPushButton g_fill_cancel{42, 17, nullptr, "Cancel", 0, 0};
// In this order: the histories know the expression as control 0 and the
// record list as control 3.
DialogControl g_fill_controls[] = {
    {kControlEdit, 0, &g_fill_expression}, {kControlRadio, 0, &g_fill_all},      {kControlRadio, 0, &g_fill_following},
    {kControlEdit, 0, &g_fill_list},       {kControlList, 0, &g_fill_target},    {kControlCheck, 0, &g_fill_advanced},
    {kControlRadio, 0, &g_fill_arithmetic}, {kControlRadio, 0, &g_fill_geometric}, {kControlEdit, 0, &g_fill_step},
    {kControlEdit, 0, &g_fill_max},        {kControlButton, 0, &g_fill_ok},      {kControlButton, 0, &g_fill_cancel},
    {},
};
constexpr int kFillListControl = 3;
constexpr int kFirstProgressionControl = 6;
constexpr int kLastProgressionControl = 9;
Dialog g_fill_dialog{4, 6, 75, 18, kFillHelp, "Fill", 0, kFillFrames, g_fill_controls};

// The fill's choices, kept for the program's run.
struct FillMemory {
  std::string expression;
  std::string records;
  int records_choice = 0;  // 0 All, 1 Following
  int target = -1;         // display column; -1: the current one
  bool advanced = false;
  int kind = 0;  // 0 arithmetical, 1 geometrical
  double step = 1;
  double max = 0;
};
FillMemory g_fill;

int fill_hook(int, Dialog& dialog, int) {
  dialog.controls[kFillListControl].disabled = dialog.values[kFillRecords] == 1 ? 0 : 1;
  for (int k = kFirstProgressionControl; k <= kLastProgressionControl; ++k) {
    dialog.controls[k].disabled = dialog.values[kFillAdvanced] ? 0 : 1;
  }
  return 0;
}

// 1.500000 shows as 1.5, 2.000000 as 2; a number too long for the line
// in its shortest form instead of cut.
std::string shown_number(double value, size_t room) {
  std::string text = format_fixed(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text.size() <= room) return text;
  char shortest[32];
  std::snprintf(shortest, sizeof shortest, "%g", value);
  return shortest;
}

// The records the fill walks, from the Following line: the selection itself
// while its text stands unchanged, else the positions the text lists.
struct FillTargets {
  bool all = true;
  RecordList list;
};

std::optional<FillRequest> ask_fill(Table& table, FillTargets& targets) {
  const std::vector<uint32_t>& selection = current_state().selection;
  RecordList selected = record_list_from_selection(table, selection);
  std::string preset = selection.empty() ? g_fill.records : format_record_list(selected);
  ColumnChoices choices = column_choices(table);
  g_fill_target.items = choices.items.data();
  g_fill_target.selected =
      clamp_column(table, g_fill.target >= 0 ? g_fill.target : current_state().view.current_column);
  g_fill_list.size = std::max(kExpressionSize, int(preset.size()));
  dialog_prepare(g_fill_dialog);
  UnicodeFields unicode(table, {&g_fill_expression});
  edit_set_remembered_text(g_fill_expression, g_fill.expression);
  edit_set_text(g_fill_list, preset.c_str());
  edit_set_text(g_fill_step, shown_number(g_fill.step, size_t(g_fill_step.size)).c_str());
  edit_set_text(g_fill_max, shown_number(g_fill.max, size_t(g_fill_max.size)).c_str());
  g_fill_dialog.values[kFillRecords] = selection.empty() ? g_fill.records_choice : 1;
  g_fill_dialog.values[kFillAdvanced] = g_fill.advanced ? 1 : 0;
  g_fill_dialog.values[kFillKind] = g_fill.kind;
  int result = dialog_run(g_fill_dialog, fill_hook);
  std::string expression = edit_remembered_text(g_fill_expression), records = g_fill_list.text;
  std::string step = g_fill_step.text, max = g_fill_max.text;
  dialog_finish(g_fill_dialog);
  g_fill_target.items = nullptr;
  if (result != 1 || expression.empty()) return std::nullopt;

  g_fill.expression = expression;
  g_fill.records_choice = g_fill_dialog.values[kFillRecords];
  g_fill.records = records;
  g_fill.target = g_fill_target.selected;
  g_fill.advanced = g_fill_dialog.values[kFillAdvanced] != 0;
  g_fill.kind = g_fill_dialog.values[kFillKind];
  g_fill.step = std::strtod(step.c_str(), nullptr);
  g_fill.max = std::strtod(max.c_str(), nullptr);

  targets.all = g_fill.records_choice == 0;
  if (!targets.all) {
    bool unchanged = !selection.empty() && records == preset;
    targets.list = unchanged ? std::move(selected) : parse_record_list(records, visible_count(table));
  }
  return FillRequest{expression, column_field(table, g_fill.target), g_fill.advanced, g_fill.kind == 1,
                  g_fill.step, g_fill.max};
}


const char* kind_of_field(char type) {
  switch (type) {
    case 'D': return "a date";
    case 'L': return "logical";
    default: return "a date and time";
  }
}

// Why records kept their old values: the reason of the first refusal, with
// the value refused, and how many records were refused in all.
std::string fill_refusal_text(const Table& table, int field, const FillCounts& counts) {
  std::string value = counts.first_refused;
  value.erase(value.find_last_not_of(' ') + 1);
  if (value.size() > 40) value = value.substr(0, 37) + "...";
  std::string text;
  if (counts.gives_number > 0) {
    text = "The expression gives a number;\nthe field " + field_label(table, field) + " is " +
           kind_of_field(field_type(table, field)) + ".";
  } else if (counts.gives_text > 0) {
    text = "The expression gives a text (" + value + ");\nthe field " + field_label(table, field) + " takes numbers.";
  } else if (counts.not_evaluated > 0) {
    text = "The expression cannot be calculated:\na syntax error, an unknown name or a division by zero.";
  }
  if (counts.did_not_fit > 0) {
    if (!text.empty()) text += "\n";
    text += field_write_message(table, field, counts.first_write) + ":\n\"" + value + "\"";
  }
  char tail[96];
  std::snprintf(tail, sizeof tail, "\n%llu record(s) keep their old values.",
                static_cast<unsigned long long>(counts.refused()));
  return text + tail;
}

void report_fill(const Table& table, int field, Status status, const FillCounts& counts) {
  if (status == Status::kWriteError) show_error("Cannot write record");
  if (status == Status::kReadError) show_error("Cannot read database.");
  if (counts.refused() == 0) return;
  message_box(fill_refusal_text(table, field, counts), "Fill", "OK", 0, kFillHelp);
}

}  // namespace

void sort_command() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  const bool ignore_case_before = table->ignore_case;
  std::string fields = ask_sort_fields(*table);
  if (fields.empty()) return;

  SortOptions options;
  options.descending = g_sort_dialog.values[kSortDirection] == 1;
  ViewState before = current_state().view;
  remember_position();
  Status status;
  {
    ProgressScope box(uint64_t(visible_count(*table)) * 10, Stop::kOnEscape);
    status = sort_by_field_list(*table, fields, options, box.callback());
  }
  restore_position();
  g_app.redraw |= kRedrawAll;
  if (status == Status::kOk) {
    reload_edit_buffer_later();
    return;
  }
  // The engine left the view alone: so does the screen.
  current_state().view = before;
  table->ignore_case = ignore_case_before;
  if (status != Status::kAborted) report_failure("Cannot sort database.", status);
}

void drop_sort_command() {
  Table* table = g_app.table();
  if (!table || !table->view.sort_order || !settle_edit()) return;
  remember_position();
  table->view.sort_order.reset();
  table->view.sort_fields.clear();
  restore_position();
  reload_edit_buffer_later();
  g_app.redraw |= kRedrawAll;
}

void sum_command() {
  Table* table = g_app.table();
  if (!table) return;
  int column = column_field(*table, current_state().view.current_column);
  if (column < 0 || !is_numeric_field(*table, column)) {
    message_box("It's not numeric field.", "Error", "OK", kMessageError, kToolErrorHelp);
    return;
  }
  if (!settle_edit()) return;
  const std::vector<uint32_t>& selection = current_state().selection;
  RecordList list = record_list_from_selection(*table, selection);
  const RecordList* listed = selection.empty() ? nullptr : &list;
  SumTotals totals;
  Status status;
  {
    ProgressScope box(listed ? list.count() : visible_count(*table), Stop::kOnEscape);
    status = sum_column(*table, column, listed, box.callback(), totals);
  }
  if (status == Status::kAborted) return;
  if (status != Status::kOk) {
    report_failure("Cannot read database.", status);
    return;
  }
  show_sum(totals);
}


void calculator_command() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  bool has_record = read_record(*table, uint32_t(std::max(0L, current_state().view.current_record)));
  if (!has_record) blank_record(*table);
  g_calc = {table, has_record && !changes_refused(*table), std::nullopt};
  ColumnChoices choices = column_choices(*table);
  g_calc_target.items = choices.items.data();
  g_calc_target.selected = clamp_column(*table, current_state().view.current_column);
  dialog_prepare(g_calc_dialog);
  edit_set_text(g_calc_expression, g_calc_memory.c_str());
  int result = dialog_run(g_calc_dialog, calculator_hook);
  std::string expression = g_calc_expression.text;
  dialog_finish(g_calc_dialog);
  g_calc_target.items = nullptr;
  // The hook ran for the dialog's last state: its value is what OK stores.
  std::optional<double> value = g_calc.value;
  int target = column_field(*table, g_calc_target.selected);
  g_calc = {};
  if (result != 1 || expression.empty()) return;
  g_calc_memory = expression;
  if (!value || !has_record || changes_refused(*table) || !takes_result(*table, target)) return;
  store_result(*table, target, *value);
}

void fill_command() {
  Table* table = g_app.table();
  if (!table || changes_refused(*table) || !settle_edit()) return;
  FillTargets targets;
  std::optional<FillRequest> request = ask_fill(*table, targets);
  if (!request) return;
  if (request->field >= table->field_count()) return;  // a computed column takes no values
  // The typed expression's texts become the table's own bytes, as the
  // fields' values it joins them with are.
  if (!typed_text_for_table(*table, request->expression, request->expression)) return;
  if (holds_reference(*table, request->field)) {
    show_error("A memo or other field pointing to data elsewhere\ncannot be filled.");
    return;
  }
  FileLock lock(*table, "Fill");
  if (!lock.ok()) return;
  FillCounts counts;
  Status status;
  {
    uint64_t total = targets.all ? visible_count(*table) : targets.list.count();
    ProgressScope box(total, Stop::kOnEscape);
    status = fill_records(*table, *request, targets.all ? nullptr : &targets.list, box.callback(), counts);
  }
  reload_edit_buffer_later();
  g_app.redraw |= kRedrawRows;
  report_fill(*table, request->field, status, counts);
}

void forget_tool_choices() {
  g_sort_type = 0;
  g_sort_field_list.clear();
  g_calc_memory.clear();
  g_fill = FillMemory{};
}

}  // namespace kora
