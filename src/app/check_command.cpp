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
#include "ui/screen.h"

namespace kora {

namespace {

std::string counted(uint64_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// A line of the list at most `width` wide: record numbers are left out
// first, then the end of the text (Enter on a header's line shows it whole).
std::string check_line(const Table& table, const CheckFinding& f, size_t width) {
  std::string line;
  if (!check_kind_has_records(f.kind)) {
    line = std::string(check_kind_text(f.kind)) + ": " + f.detail;
    line[0] = char(std::toupper(uint8_t(line[0])));
  } else {
    line = f.field >= 0 ? field_label(table, f.field) + ": " + check_kind_text(f.kind) : check_kind_text(f.kind);
    if (f.field < 0) line[0] = char(std::toupper(uint8_t(line[0])));
    line += ": " + counted(f.count, "record");
    for (size_t k = 0; k < f.first.size(); ++k) {
      std::string number = (k ? ", " : ": ") + std::to_string(f.first[k] + 1);
      bool last = k + 1 == f.first.size() && f.count == f.first.size();
      if (line.size() + number.size() + (last ? 0 : 5) > width) break;
      line += number;
      if (last) return line;
    }
    line += ", ...";
  }
  if (line.size() > width) line = line.substr(0, width - 3) + "...";
  return line;
}

}  // namespace

std::vector<std::string> check_lines(const Table& table, const TableCheck& check, size_t width) {
  std::vector<std::string> lines;
  for (const CheckFinding& f : check.findings) lines.push_back(check_line(table, f, width));
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
  // The frame and its margins take six columns.
  std::vector<std::string> lines = check_lines(*table, check, size_t(std::max(screen_cols() - 6, 20)));
  for (int current = 0;;) {
    int chosen = pick_list(lines, current, kCheckTableHelp, kItemPlain);
    if (chosen < 0 || chosen >= int(lines.size())) return;
    const CheckFinding& finding = check.findings[size_t(chosen)];
    if (show_finding_records(*table, finding)) return;
    // A header finding names no records: its whole text, and the list again.
    if (!check_kind_has_records(finding.kind)) {
      std::string text = check_line(*table, finding, std::string::npos);
      message_box(text.c_str(), "Check table", "OK", 0, kCheckTableHelp);
    }
    current = chosen;
  }
}

}  // namespace kora
