#include "app/append_from_command.h"

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/status_text.h"
#include "app/tool_commands.h"
#include "tools/append_from.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kAppendFromHelp = 32;
constexpr int kFileNameSize = 256;
constexpr int kDelimitersSize = 32;

enum AppendFromValue { kTextKind = 0, kNoBlank = 1 };

const DialogDecoration kAppendFromFrames[] = {
    {4, 6, 74, 8, "Filename"}, {4, 9, 74, 13, "Options for TXT-files"}, {}};
EditField g_source_name{.x = 5, .y = 7, .width = 68, .size = kFileNameSize};
DialogRadio g_delimited{6, 10, 0, "Delimited with", kTextKind, 0};
EditField g_delimiters{.x = 26, .y = 10, .width = 10, .size = kDelimitersSize};
DialogRadio g_sdf{6, 11, 0, "SDF", kTextKind, 1};
DialogCheck g_no_blank{6, 12, 0, "Ignore blank characters", kNoBlank};
DialogPushButton g_append_ok{24, 16, nullptr, "OK", 1, 1};
DialogPushButton g_append_cancel{42, 16, nullptr, "Cancel", 0, 0};
DialogControl g_append_controls[] = {
    {kControlEdit, 0, &g_source_name}, {kControlRadio, 0, &g_delimited},    {kControlEdit, 0, &g_delimiters},
    {kControlRadio, 0, &g_sdf},        {kControlCheck, 0, &g_no_blank},     {kControlButton, 0, &g_append_ok},
    {kControlButton, 0, &g_append_cancel}, {},
};
Dialog g_append_dialog{2, 4, 76, 19, kAppendFromHelp, "Append from", 0, kAppendFromFrames, g_append_controls};

// Runs the dialog over the [AppendFrom] settings; on OK with a file name
// and delimiters, stores and saves them. False when there is nothing to do.
bool ask_source() {
  AppendFromSettings& s = g_settings.append_from;
  dialog_prepare(g_append_dialog);
  edit_set_text(g_source_name, s.filename.c_str());
  edit_set_text(g_delimiters, s.chars.c_str());
  g_append_dialog.values[kTextKind] = s.sdf;
  g_append_dialog.values[kNoBlank] = s.no_blank;
  int result = dialog_run(g_append_dialog, nullptr);
  std::string name = g_source_name.text, delimiters = g_delimiters.text;
  dialog_finish(g_append_dialog);
  if (result != 1 || name.empty() || delimiters.empty()) return false;
  s.filename = name;
  s.chars = delimiters;
  s.sdf = g_append_dialog.values[kTextKind];
  s.no_blank = g_append_dialog.values[kNoBlank];
  settings_save_append_from();
  return true;
}

bool is_open_failure(Status status) {
  switch (status) {
    case Status::kNotFound:
    case Status::kNoPermission:
    case Status::kCannotOpen:
    case Status::kShortHeader:
    case Status::kBadHeaderSize:
    case Status::kNoDescriptors:
    case Status::kBadFieldTypes:
    case Status::kRecordTooLong: return true;
    default: return false;
  }
}

void report(const Table& table, const AppendResult& result) {
  if (result.status == Status::kNoCommonField) {
    message_box("The source has no field named like a field of this table.\nNothing was appended.", "Error", "OK",
                kMessageError, kToolErrorHelp);
    return;
  }
  if (!result.blank_fields.empty() && result.appended > 0) {
    std::string text = "The source has no field named " + name_list(result.blank_fields) +
                       ":\nthe appended records leave " + (result.blank_fields.size() == 1 ? "it" : "them") + " blank.";
    message_box(text, "Append from", "OK", 0, kAppendFromHelp);
  }
  if (is_open_failure(result.status)) {
    message_box(open_failure_text(result.status), "Error", "OK", kMessageError, kToolErrorHelp);
  } else if (result.status != Status::kOk && result.status != Status::kAborted) {
    std::string text = result.status == Status::kReadError ? "Cannot read file" : "Cannot append records";
    text.append("\n").append(status_cause_text(result.status));
    message_box(text, "Error", "OK", kMessageError, kToolErrorHelp);
  }
  if (result.not_held > 0) {
    std::string text = std::to_string(result.not_held) + " text(s) held characters this table's code page cannot;\n" +
                       "their fields were left blank. The first:\n" + result.first_not_held;
    message_box(text, "Append from", "OK", 0, kAppendFromHelp);
  }
  if (result.did_not_fit == 0) return;
  char text[160];
  std::snprintf(text, sizeof text, "%llu value(s) did not fit into their fields,\nthe first into %s of record %lu.",
                static_cast<unsigned long long>(result.did_not_fit), field_name(table, result.first_field).c_str(),
                static_cast<unsigned long>(result.first_record) + 1);
  message_box(text, "Append from", "OK", 0, kAppendFromHelp);
}

}  // namespace

void append_from_command() {
  Table* table = g_app.table();
  if (!table || changes_refused(*table) || !settle_edit()) return;
  if (!ask_source()) return;
  // The records go after those other programs added before the lock.
  FileLock lock(*table, "Append from");
  if (!lock.ok()) return;
  refresh_record_count(*table);
  const AppendFromSettings& s = g_settings.append_from;
  remember_position();
  AppendResult result;
  {
    ProgressScope box(0, Stop::kOnEscape);
    if (names_dbf_source(s.filename)) {
      result = append_from_dbf(*table, s.filename, box.callback());
    } else {
      result = append_from_text(*table, s.filename, {s.chars, s.sdf != 0, s.no_blank != 0}, box.callback());
    }
  }
  restore_position();
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
  g_app.redraw |= kRedrawAll;
  report(*table, result);
}

}  // namespace kora
