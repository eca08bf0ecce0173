#include "app/search_commands.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/command_support.h"
#include "app/commands.h"
#include "app/navigation.h"
#include "app/status_text.h"
#include "app/table_characters.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "tools/search.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kSearchHelp = 27;
constexpr int kReplaceHelp = 38;
constexpr int kTextSize = 68;

// Dialog values shared by both dialogs.
enum SearchValue : int { kByField = 0, kIgnoreCase = 1, kDirection = 2 };

// The column of the last match: find next goes on after it. -1 before any
// match, which starts at the first column of the current record.
int g_match_column = -1;

// ---- the Search dialog -------------------------------------------------------------------

const DialogDecoration kSearchBoxes[] = {
    {5, 9, 74, 11, "Expression"},
    {5, 12, 48, 14, "Options"},
    {49, 12, 74, 14, "Direction"},
    {},
};
EditField g_search_text{.x = 6, .y = 10, .width = kTextSize, .size = kTextSize};
DialogCheck g_search_by_field{7, 13, 0, "By field", kByField};
DialogList g_search_fields{20, 13, 12, 0, nullptr, nullptr};
DialogCheck g_search_ignore_case{33, 13, 0, "Ignore case", kIgnoreCase};
DialogRadio g_search_down{51, 13, 0, "Down", kDirection, 0};
DialogRadio g_search_up{60, 13, 0, "Up", kDirection, 1};
DialogRadio g_search_all{67, 13, 0, "All", kDirection, 2};
DialogPushButton g_search_ok{22, 16, nullptr, "OK", 1, 1};
DialogPushButton g_search_cancel{42, 16, nullptr, "Cancel", 0, 0};
DialogControl g_search_controls[] = {
    {kControlEdit, 0, &g_search_text},         {kControlCheck, 0, &g_search_by_field},
    {kControlList, 0, &g_search_fields},       {kControlCheck, 0, &g_search_ignore_case},
    {kControlRadio, 0, &g_search_down},        {kControlRadio, 0, &g_search_up},
    {kControlRadio, 0, &g_search_all},         {kControlButton, 0, &g_search_ok},
    {kControlButton, 0, &g_search_cancel},     {},
};
Dialog g_search_dialog{4, 8, 75, 17, kSearchHelp, "Search", 0, kSearchBoxes, g_search_controls};

// ---- the Replace dialog: the text to find is control 0 (its history is
// the search texts'), the replacement control 1 ---------------------------------------------

const DialogDecoration kReplaceBoxes[] = {
    {5, 8, 74, 10, "Expression"},
    {5, 11, 74, 13, "Expression"},
    {5, 14, 48, 16, "Options"},
    {49, 14, 74, 16, "Direction"},
    {},
};
EditField g_replace_find{.x = 6, .y = 9, .width = kTextSize, .size = kTextSize};
EditField g_replace_with{.x = 6, .y = 12, .width = kTextSize, .size = kTextSize};
DialogCheck g_replace_by_field{7, 15, 0, "By field", kByField};
DialogList g_replace_fields{20, 15, 12, 0, nullptr, nullptr};
DialogCheck g_replace_ignore_case{33, 15, 0, "Ignore case", kIgnoreCase};
DialogRadio g_replace_down{51, 15, 0, "Down", kDirection, 0};
DialogRadio g_replace_up{60, 15, 0, "Up", kDirection, 1};
DialogRadio g_replace_all{67, 15, 0, "All", kDirection, 2};
DialogPushButton g_replace_ok{22, 17, nullptr, "OK", 1, 1};
DialogPushButton g_replace_cancel{42, 17, nullptr, "Cancel", 0, 0};
DialogControl g_replace_controls[] = {
    {kControlEdit, 0, &g_replace_find},        {kControlEdit, 0, &g_replace_with},
    {kControlCheck, 0, &g_replace_by_field},   {kControlList, 0, &g_replace_fields},
    {kControlCheck, 0, &g_replace_ignore_case}, {kControlRadio, 0, &g_replace_down},
    {kControlRadio, 0, &g_replace_up},         {kControlRadio, 0, &g_replace_all},
    {kControlButton, 0, &g_replace_ok},        {kControlButton, 0, &g_replace_cancel},
    {},
};
Dialog g_replace_dialog{4, 7, 75, 18, kReplaceHelp, "Replace", 0, kReplaceBoxes, g_replace_controls};

// The column list is offered only while "By field" is ticked.
int enable_field_list(int, Dialog& dialog, int) {
  for (int k = 0; k < dialog_control_count(dialog); ++k) {
    if (control_list(dialog.controls[k])) dialog.controls[k].disabled = dialog.values[kByField] ? 0 : 1;
  }
  return 0;
}

// What both dialogs show and store: the options and the field list.
struct OptionControls {
  Dialog& dialog;
  DialogList& fields;
};

void show_options(const Table& table, OptionControls controls, int direction, ColumnChoices& choices) {
  Dialog& dialog = controls.dialog;
  dialog.values[kByField] = g_settings.search.by_field ? 1 : 0;
  dialog.values[kIgnoreCase] = table.ignore_case ? 1 : 0;
  dialog.values[kDirection] = std::clamp(direction, 0, 2);
  controls.fields.items = choices.items.data();
  int last = std::max(0, int(choices.labels.size()) - 1);
  controls.fields.selected = std::clamp(table_state(table).search_field, 0, last);
}

void store_options(Table& table, OptionControls controls) {
  const Dialog& dialog = controls.dialog;
  g_settings.search.by_field = dialog.values[kByField];
  g_settings.search.direction = dialog.values[kDirection];
  table.ignore_case = dialog.values[kIgnoreCase] != 0;
  g_settings.filter.ignore_case = dialog.values[kIgnoreCase];
  table_state(table).search_field = controls.fields.selected;
  g_match_column = -1;
}

// ---- the walk and the cursor ----------------------------------------------------------------

SearchRequest remembered_request(const Table& table) {
  SearchRequest request;
  request.text = g_settings.search.s_expression;
  request.direction = SearchDirection(std::clamp(g_settings.search.direction, 0, 2));
  if (g_settings.search.by_field && column_count(table) > 0) {
    request.by_column = std::clamp(table_state(table).search_field, 0, column_count(table) - 1);
  }
  return request;
}

uint32_t current_row(const Table& table) {
  return uint32_t(std::max(0L, view_of(table).current_record));
}

// Brings the current column into the window, as moving to it would.
void show_current_column(const Table& table) {
  ViewState& v = view_of(table);
  if (v.view_mode == 1) {
    if (v.current_column < v.first_column) {
      v.first_column = v.current_column;
    } else {
      v.first_column = std::max(v.first_column, v.current_column - field_rows() + 1);
    }
    return;
  }
  v.first_column = fit_first_column(table, v.current_column, std::min(v.first_column, v.current_column));
}

void move_to_match(const Table& table, SearchSpot match) {
  g_match_column = match.column;
  ViewState& v = view_of(table);
  v.current_record = long(match.position);
  v.current_column = match.column;
  centre_current_row();
  show_current_column(table);
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
  g_app.redraw |= kRedrawClear | kRedrawLayout | kRedrawRows;
}

void say_not_found(const std::string& text, int help) {
  std::string message = "String\n\"";
  message += text;
  message += "\"\nnot found...";
  message_box(message, "Information", "OK", 0, help);
}

enum class Found { kYes, kNo, kStopped };

// Walks from `start` under the progress box and moves the cursor to the
// match. Not found is said; a stop by Esc leaves the cursor where it was.
Found search_from(Table& table, const SearchRequest& request, std::optional<SearchSpot> start, int help) {
  std::optional<SearchSpot> match;
  Status status = Status::kOk;
  if (start) {
    ProgressScope box(search_record_count(table, request, *start), Stop::kOnEscape);
    status = search_table(table, request, *start, box.callback(), match);
  }
  if (status == Status::kAborted) return Found::kStopped;
  if (status != Status::kOk) {
    message_box("Cannot read the table", "Error", "OK", kMessageError, kToolErrorHelp);
    return Found::kStopped;
  }
  if (!match) {
    say_not_found(request.text, help);
    return Found::kNo;
  }
  move_to_match(table, *match);
  return Found::kYes;
}

// ---- replacing ---------------------------------------------------------------------------

void repaint_now() {
  if (g_app.redraw & kRedrawAll) {
    keep_cursor_in_window();
    full_repaint();
  }
  paint_view();
}

std::string replace_question(const std::string& find, const std::string& with) {
  std::string text = "Replace\n\"";
  text += find;
  text += "\"\nwith\n\"";
  text += with;
  text += "\"?";
  return text;
}

void say_did_not_fit(int count, const std::string& first) {
  std::string text = "Replacements that did not fit: ";
  text += std::to_string(count);
  text += "\n" + first;
  text += "\nThose fields keep their old values.";
  message_box(text, "Information", "OK", 0, kReplaceHelp);
}

// Search, ask, replace, until nothing more is found or the user ends it.
void replace_run(Table& table, SearchRequest request, const std::string& replacement) {
  FileLock lock(table, "Replace");
  if (!lock.ok()) return;
  request.writable_only = true;
  const TextMatcher matcher(table, request.text);
  // Another code page's texts are asked about in their characters.
  const bool other_page = in_other_code_page(table);
  const std::string question = other_page ? replace_question(table.code_page->to_utf8(request.text),
                                                             table.code_page->to_utf8(replacement))
                                          : replace_question(request.text, replacement);
  const int question_flags = message_preselect(0) | (other_page ? kMessageUtf8 : 0);
  bool all = false;
  int did_not_fit = 0;
  std::string first_refusal;
  std::optional<SearchSpot> start = first_search_start(table, request, current_row(table));
  while (search_from(table, request, start, kReplaceHelp) == Found::kYes) {
    SearchSpot spot{current_row(table), view_of(table).current_column};
    start = next_search_start(table, request, spot);
    if (!all) {
      repaint_now();
      int answer = message_box(question, "Replace", "Yes\nNo\nAll\nCancel", question_flags, kReplaceHelp);
      if (answer == 1) continue;
      if (answer != 0 && answer != 2) break;
      all = answer == 2;
    }
    std::string refused;
    ReplaceOutcome outcome = replace_in_cell(table, spot, matcher, replacement, &refused);
    if (outcome == ReplaceOutcome::kDidNotFit && did_not_fit++ == 0) first_refusal = refused;
    if (outcome == ReplaceOutcome::kReadError || outcome == ReplaceOutcome::kWriteError) {
      const char* text = outcome == ReplaceOutcome::kWriteError ? "Cannot write record" : "Cannot read record";
      message_box(text, "Error", "OK", kMessageError, kToolErrorHelp);
      break;
    }
  }
  if (did_not_fit > 0) say_did_not_fit(did_not_fit, first_refusal);
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
  g_app.redraw |= kRedrawClear | kRedrawLayout | kRedrawRows;
}

}  // namespace

int run_search_dialog(Table& table, int direction_preset) {
  if (!settle_edit()) return 0;
  ColumnChoices choices = column_choices(table);
  OptionControls controls{g_search_dialog, g_search_fields};
  dialog_prepare(g_search_dialog);
  UnicodeFields unicode(table, {&g_search_text});
  edit_set_remembered_text(g_search_text, g_settings.search.s_expression);
  show_options(table, controls, direction_preset, choices);
  int result = dialog_run(g_search_dialog, enable_field_list);
  std::string text = edit_remembered_text(g_search_text);
  dialog_finish(g_search_dialog);
  g_search_fields.items = nullptr;
  if (result != 1 || text.empty()) return 0;
  store_options(table, controls);
  g_settings.search.s_expression = text;
  settings_save_search();
  SearchRequest request = remembered_request(table);
  if (!typed_text_for_table(table, request.text, request.text)) return 0;
  return search_from(table, request, first_search_start(table, request, current_row(table)), kSearchHelp) ==
         Found::kYes;
}

int find_next(Table& table) {
  if (g_settings.search.s_expression.empty()) return 0;
  if (!settle_edit()) return 0;
  SearchRequest request = remembered_request(table);
  if (!typed_text_for_table(table, request.text, request.text)) return 0;
  SearchSpot after{current_row(table), g_match_column};
  std::optional<SearchSpot> start;
  if (current_row(table) < visible_count(table)) start = next_search_start(table, request, after);
  return search_from(table, request, start, kSearchHelp) == Found::kYes;
}

void run_replace_dialog(Table& table) {
  if (changes_refused(table) || !settle_edit()) return;
  ColumnChoices choices = column_choices(table);
  OptionControls controls{g_replace_dialog, g_replace_fields};
  dialog_prepare(g_replace_dialog);
  UnicodeFields unicode(table, {&g_replace_find, &g_replace_with});
  edit_set_remembered_text(g_replace_find, g_settings.search.s_expression);
  edit_set_remembered_text(g_replace_with, g_settings.search.r_expression);
  show_options(table, controls, g_settings.search.direction, choices);
  int result = dialog_run(g_replace_dialog, enable_field_list);
  std::string find = edit_remembered_text(g_replace_find);
  std::string with = edit_remembered_text(g_replace_with);
  dialog_finish(g_replace_dialog);
  g_replace_fields.items = nullptr;
  if (result != 1 || find.empty()) return;
  store_options(table, controls);
  g_settings.search.s_expression = find;
  g_settings.search.r_expression = with;
  settings_save_search();
  SearchRequest request = remembered_request(table);
  std::string replacement;
  if (!typed_text_for_table(table, request.text, request.text) || !typed_text_for_table(table, with, replacement)) return;
  replace_run(table, request, replacement);
}

void search_command() {
  if (Table* table = g_app.table()) run_search_dialog(*table, command_from_menu() ? g_settings.search.direction : 0);
}

void search_up_command() {
  if (Table* table = g_app.table()) run_search_dialog(*table, 1);
}

void find_next_command() {
  if (Table* table = g_app.table()) find_next(*table);
}

void replace_command() {
  if (Table* table = g_app.table()) run_replace_dialog(*table);
}

}  // namespace kora
