#include "app/sql_command.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/navigation.h"
#include "app/status_text.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "tools/sql.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr int kSqlHelp = 71;
constexpr int kStatementSize = 256;

EditField g_statement_field{.x = 9, .y = 12, .width = 62, .size = kStatementSize};
DialogControl g_statement_controls[] = {
    {kControlEdit, 0, &g_statement_field},
    {kControlEnd, 0, nullptr},
};
Dialog g_statement_dialog{8, 11, 71, 13, kSqlHelp, "Expression", 0, nullptr, g_statement_controls, {}};

std::optional<std::string> input_statement() {
  dialog_prepare(g_statement_dialog);
  int result = dialog_run(g_statement_dialog, nullptr);
  std::optional<std::string> statement;
  if (result > 0 && g_statement_field.text[0]) statement = std::string(g_statement_field.text);
  dialog_finish(g_statement_dialog);
  return statement;
}

// The columns may have changed: the cursor goes to the first one, and to
// the first record when its own is no longer in view.
void reset_view(const Table& table) {
  ViewState& view = view_of(table);
  long count = long(visible_count(table));
  if (view.current_record >= count) view.current_record = 0;
  view.current_column = 0;
  view.first_column = 0;
  if (g_app.block.on) g_app.block.anchor_column = std::clamp(g_app.block.anchor_column, 0, std::max(0, column_count(table) - 1));
  centre_current_row();
}

// Why a statement was not taken; empty for one that was, or was stopped.
std::string refusal_text(int result, const SqlRun& run) {
  switch (result) {
    case kSqlUnknownStatement:
      return "Only SELECT is taken here:\nSELECT columns FROM table [WHERE condition] [ORDER BY fields]";
    case kSqlChangesData:
      return run.detail + " is not taken: a statement here only sets up\nthe view (SELECT) and never changes data.";
    case kSqlNoComparison: return "The WHERE condition has no comparison (< > = ~).";
    case kSqlNoColumns: return "The statement names no column before FROM.";
    case kSqlNoFrom: return "The statement has no FROM.";
    case kSqlCannotOpen: return "Cannot open the table named after FROM.";
    case kSqlUnknownName: return "There is no field or column " + run.detail + ".";
    case kSqlWalkEnded: return run.status == Status::kAborted ? "" : status_cause_text(run.status);
    default: return "";
  }
}

}  // namespace

void sql_statement_command() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  std::optional<std::string> statement = input_statement();
  if (!statement) return;
  SqlRun run;
  int result;
  {
    ProgressScope box(visible_count(*table), Stop::kOnEscape);
    run.progress = box.callback();
    result = sql_execute(table, *statement, run);
  }
  if (std::string why = refusal_text(result, run); !why.empty()) {
    message_box(why, "Error", "OK", kMessageError, kToolErrorHelp);
  }
  if (result != kSqlOk) return;
  reset_view(*table);
  refresh_captions();
  g_app.redraw |= kRedrawAll;
}

}  // namespace kora
