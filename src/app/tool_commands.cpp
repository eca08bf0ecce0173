#include "app/tool_commands.h"

#include <optional>
#include <string>

#include "app/app_state.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr int kFilenameHelp = 57;

const char* status_message(OutputStatus status) {
  switch (status) {
    case OutputStatus::kOpenTable: return "Cannot write over a table open in KORA";
    case OutputStatus::kCannotOpen: return "Cannot open file";
    case OutputStatus::kWriteFailed: return "Cannot write file";
    default: return nullptr;
  }
}

}  // namespace

OutputGuard program_output_guard() {
  OutputGuard guard;
  for (int i = 0; i <= g_app.tables.last; ++i) {
    const Table* table = g_app.tables.at(i);
    if (!table) continue;
    guard.open_files.push_back(table->file_name);
    if (!table->memo_file_name.empty()) guard.open_files.push_back(table->memo_file_name);
  }
  guard.confirm_replace = [](const std::string&) {
    return message_box("The file already exists.\nDo you wish to replace it?", "Attention", "Replace\nCancel",
                       message_preselect(1), kFilenameHelp) == 0;
  };
  return guard;
}

std::string name_list(const std::vector<std::string>& names) {
  constexpr size_t kShown = 8;
  std::string text;
  for (size_t k = 0; k < names.size() && k < kShown; ++k) {
    if (k > 0) text += k + 1 == names.size() ? " and " : ", ";
    text += names[k];
  }
  if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
  return text;
}

void report_output_status(OutputStatus status) {
  if (const char* message = status_message(status)) {
    message_box(message, "Error", "OK", kMessageError, kToolErrorHelp);
  }
}

int save_structure(const Table& table, StructureForm form, XmlEncoding encoding) {
  std::optional<std::string> path = input_filename(structure_extension(form));
  if (!path) return 0;
  StructureOptions options;
  options.xml_encoding = encoding;
  OutputStatus status = write_structure_file(*path, form, table, options, program_output_guard());
  report_output_status(status);
  return status == OutputStatus::kOk ? 1 : 0;
}

}  // namespace kora
