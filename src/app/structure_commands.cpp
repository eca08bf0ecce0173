// Create new and Modify structure: the structure editor run on no table or
// on the current one, then the table made or rebuilt and shown.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "app/status_text.h"
#include "app/structure_dialog.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "table/restructure.h"
#include "table/table_locks.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

void report_failure(const char* what, Status status) {
  std::string text = what;
  const char* cause = status_cause_text(status);
  if (*cause) text.append("\n").append(cause);
  message_box(text, "Error", "OK", kMessageError, kToolErrorHelp);
}

// Makes the new empty table; asks before an existing file is replaced and
// never replaces a table or memo file open in kora.
bool create_new_table(const std::string& path, const StructureDraft& draft) {
  std::vector<FieldDesc> fields = descriptors_of(draft.fields);
  TableKind kind = memo_setting_kind(nullptr);
  int block_size = g_settings.export_dbf.block_size;
  Status status = create_dbf(path, fields, kind, block_size, true, Placement::kNew);
  if (status == Status::kFileExists) {
    OutputGuard guard = program_output_guard();
    std::string memo = new_memo_path(path, fields, kind, true);
    if (is_one_of_files(path, guard.open_files) || (!memo.empty() && is_one_of_files(memo, guard.open_files))) {
      report_output_status(OutputStatus::kOpenTable);
      return false;
    }
    if (!guard.confirm_replace(path)) return false;
    status = create_dbf(path, fields, kind, block_size, true, Placement::kReplace);
  }
  if (status != Status::kOk) report_failure("Cannot create file", status);
  return status == Status::kOk;
}

// Names the first field and record whose value does not fit and asks
// whether to keep the new structure all the same.
bool keep_despite_losses(const RestructureReport& report, const std::vector<StructureField>& fields) {
  std::string text = "Some values do not fit the new structure:\n";
  text += loss_text(report, fields);
  text += "\nDo you wish to keep the new structure?";
  return message_box(text, "Attention", "Keep\nCancel", message_preselect(1), kStructureHelp) == 0;
}

// Rebuilds the open table with the edited fields under a stoppable
// progress box; the table's files are left as they were unless it is done.
bool rebuild_table(Table& table, const StructureDraft& draft, RestructureReport& report) {
  RestructureOptions options;
  options.kind_without_memo = memo_setting_kind(&table);
  options.block_size = g_settings.export_dbf.block_size;
  options.keep_with_losses = [&](const RestructureReport& r) { return keep_despite_losses(r, draft.fields); };
  options.open_files = program_output_guard().open_files;
  Status status;
  {
    // Other programs keep off the table while it is rebuilt.
    FileLock lock(table, "Modify structure");
    if (!lock.ok()) return false;
    ProgressScope box(table.record_count, Stop::kOnEscape);
    options.progress = box.callback();
    status = restructure(table, draft.fields, options, &report);
  }
  if (status != Status::kOk && status != Status::kAborted) report_failure("Cannot change the structure", status);
  return status == Status::kOk;
}

StructureDraft draft_of(const Table* table) {
  StructureDraft draft;
  if (table) draft.fields = structure_of(*table);
  return draft;
}

}  // namespace

std::optional<std::string> ask_dbf_name() {
  std::optional<std::string> name = input_filename(".dbf");
  if (!name) return std::nullopt;
  size_t base = name->rfind('/');
  if (name->find('.', base == std::string::npos ? 0 : base + 1) == std::string::npos) *name += ".dbf";
  char cwd[kPathBufferSize];
  return absolute_table_name(*name, getcwd(cwd, sizeof cwd));
}

TableKind memo_setting_kind(const Table* table) {
  int memo_type = g_settings.export_dbf.memo_type;
  if (memo_type >= 1 && memo_type <= 4) return TableKind(memo_type - 1);
  return table ? table->kind : kDBase3;
}

TableKind structure_kind(const Table* table) {
  return table && table->first_memo_field >= 0 ? table->kind : memo_setting_kind(table);
}

int structure_dialog(Table* table, std::string& path, const char* title, RestructureReport* report) {
  StructureDraft draft = draft_of(table);
  RestructureReport unused;
  // A refused or failed file keeps the edited list for another try.
  while (edit_structure(table, draft, title)) {
    if (table) {
      if (rebuild_table(*table, draft, report ? *report : unused)) return 1;
      continue;
    }
    std::string target = path;
    if (target.empty()) {
      std::optional<std::string> asked = ask_dbf_name();
      if (!asked) continue;
      target = *asked;
    }
    if (create_new_table(target, draft)) {
      path = target;
      return 1;
    }
  }
  return 0;
}

void create_table_command() {
  std::string path;
  if (structure_dialog(nullptr, path, "Create")) open_and_show(path, true);
  g_app.redraw |= kRedrawAll;
}

void modify_structure_command() {
  Table* table = g_app.table();
  if (!table || changes_refused(*table) || !settle_edit()) return;
  // The structure editor writes the 32-byte descriptors of the kinds it
  // creates: a dBase 7 table would lose its long names and its types' forms.
  if (table->layout == DescriptorLayout::kDBase7) {
    message_box("The structure of a dBase 7 table cannot be modified", "Error", "OK", kMessageError, kMainHelpTopic);
    return;
  }
  std::string path = table->file_name;
  // The cursor's record: the records keep their file order, unless the
  // view held all of them and they were copied in its order.
  long position = view_of(*table).current_record;
  uint32_t record = visible_count(*table) ? physical_record(*table, uint32_t(position)) : 0;
  RestructureReport report;
  if (structure_dialog(table, path, "Modify structure", &report)) {
    // The old view described the old file; the new one starts unarranged.
    table->view = RecordView{};
    int index = g_app.current;
    if (reopen_table(index) && index == g_app.current) {
      view_of(*g_app.table()).current_record = report.kept_view_order ? position : long(record);
      centre_current_row();
    }
  }
  g_app.redraw |= kRedrawAll;
}

int start_up_structure_editor(std::string& name, const char* title, int create) {
  Table* table = create ? nullptr : g_app.table();
  if (!create && !table) return 0;
  return structure_dialog(table, name, title) ? 1 : 0;
}

}  // namespace kora
