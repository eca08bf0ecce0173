// File / Database info: the facts of the current table in a dialog, with
// Copy to append them to a text file.
#include <array>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/tool_commands.h"
#include "tools/database_info.h"
#include "ui/dialog.h"

namespace kora {

namespace {

constexpr int kDatabaseInfoHelp = 31;
constexpr int kLabelX = 5;       // labels start at column kLabelX + 2
constexpr int kFirstRow = 5;
constexpr int kValueEnd = 73;    // values end here, against the right frame
constexpr int kValueWidth = 50;  // from just after the longest label

DialogPushButton g_copy{22, 18, nullptr, "Copy", 1, 1};
DialogPushButton g_cancel{42, 18, nullptr, "Cancel", 0, 0};
DialogControl g_info_controls[] = {{kControlButton, 0, &g_copy}, {kControlButton, 0, &g_cancel}, {}};
Dialog g_info_dialog{4, 4, 75, 19, kDatabaseInfoHelp, "Database info", 0, nullptr, g_info_controls};

// A text cut to `width` characters: its first three, "..." and as much of
// its end as fits.
std::string cut_middle(const std::string& text, size_t width) {
  if (text.size() <= width || width < 7) return text.substr(0, width);
  return text.substr(0, 3) + "..." + text.substr(text.size() - (width - 6));
}

// The labels and the right-aligned values, pointing into `shown`.
std::array<DialogDecoration, 2 * kDatabaseInfoLines + 1> info_decorations(
    const DatabaseInfo& info, std::array<std::string, kDatabaseInfoLines>& shown) {
  std::array<DialogDecoration, 2 * kDatabaseInfoLines + 1> decorations{};
  for (int i = 0; i < kDatabaseInfoLines; ++i) {
    const DatabaseInfoLine& line = info.lines[size_t(i)];
    int y = kFirstRow + i;
    decorations[size_t(2 * i)] = {kLabelX, y, kLabelX, y, line.label};
    std::string& value = shown[size_t(i)];
    value = cut_middle(line.value, kValueWidth);
    int x = kValueEnd - 1 - int(value.size());
    decorations[size_t(2 * i + 1)] = {x, y, x, y, value.empty() ? nullptr : value.c_str()};
  }
  return decorations;  // ends with the default entry, whose x1 is -1
}

void copy_info(const DatabaseInfo& info) {
  std::optional<std::string> path = input_filename(".txt");
  if (!path) return;
  report_output_status(append_to_file(*path, database_info_text(info), program_output_guard()));
}

}  // namespace

void database_info_command() {
  Table* table = g_app.table();
  if (!table) return;
  DatabaseInfo info = database_info(*table);
  std::array<std::string, kDatabaseInfoLines> shown;
  auto decorations = info_decorations(info, shown);
  g_info_dialog.decorations = decorations.data();
  dialog_prepare(g_info_dialog);
  int result = dialog_run(g_info_dialog, nullptr);
  dialog_finish(g_info_dialog);
  g_info_dialog.decorations = nullptr;
  if (result == 1) copy_info(info);
}

}  // namespace kora
