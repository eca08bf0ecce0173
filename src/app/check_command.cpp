#include "app/check_command.h"

#include <algorithm>
#include <cctype>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/navigation.h"
#include "app/status_text.h"
#include "table/field_write.h"
#include "tools/filter.h"
#include "ui/menu.h"
#include "ui/message_box.h"

namespace kora {

namespace {

std::string counted(uint64_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string check_line(const Table& table, const CheckFinding& f) {
  if (!check_kind_has_records(f.kind)) {
    std::string line = std::string(check_kind_text(f.kind)) + ": " + f.detail;
    line[0] = char(std::toupper(uint8_t(line[0])));
    return line;
  }
  std::string line = f.field >= 0 ? field_label(table, f.field) + ": " : "";
  line += check_kind_text(f.kind);
  line += ": " + counted(f.count, "record") + ": ";
  for (size_t k = 0; k < f.first.size(); ++k) line += (k ? ", " : "") + std::to_string(f.first[k] + 1);
  return line + (f.count > f.first.size() ? ", ..." : "");
}

}  // namespace

std::vector<std::string> check_lines(const Table& table, const TableCheck& check) {
  std::vector<std::string> lines;
  for (const CheckFinding& f : check.findings) lines.push_back(check_line(table, f));
  return lines;
}

bool show_finding_records(Table& table, const CheckFinding& finding) {
  if (finding.all.empty() || !settle_edit()) return false;
  clear_filter(table);
  // A damaged record is shown whether or not it is marked deleted.
  table.view.hide_deleted = false;
  table.view.visible_list = finding.all;
  first_record();
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
  g_app.redraw |= kRedrawAll;
  return true;
}

void check_table_command() {
  Table* table = g_app.table();
  if (!table) return;
  CheckOptions options;
  options.keep_all = true;
  TableCheck check;
  {
    ProgressScope box(table->record_count, Stop::kOnEscape);
    options.progress = box.callback();
    check = check_table(*table, options);
  }
  g_app.redraw |= kRedrawAll;
  if (check.status == Status::kAborted) return;
  if (check.status != Status::kOk) {
    message_box(std::string("The check stopped: ") + status_cause_text(check.status), "Check table", "OK",
                kMessageError, kCheckTableHelp);
    return;
  }
  if (check.sound()) {
    std::string text = "No problems found in " + counted(check.records, "record") + ".";
    message_box(text.c_str(), "Check table", "OK", 0, kCheckTableHelp);
    return;
  }
  std::vector<std::string> lines = check_lines(*table, check);
  for (int current = 0;;) {
    int chosen = pick_list(lines, current, kCheckTableHelp, kItemPlain);
    if (chosen < 0 || chosen >= int(lines.size())) return;
    // A header finding names no records: the list stays up.
    if (show_finding_records(*table, check.findings[size_t(chosen)])) return;
    current = chosen;
  }
}

}  // namespace kora
