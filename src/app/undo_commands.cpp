#include "app/undo_commands.h"

#include <sys/stat.h>

#include <string>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "table/file_io.h"
#include "table/undo_log.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

// What the status line calls a command's change, and whether it may
// rewrite every record (the size of the table is then asked about first).
struct StepName {
  Cmd command;
  const char* name;
  bool whole_table;
};

constexpr StepName kStepNames[] = {
    {Cmd::EditMode, "Edit", false},          {Cmd::EnterAction, "Edit", false},
    {Cmd::SpaceKey, "Edit", false},          {Cmd::Memo, "Memo", false},
    {Cmd::Cut, "Cut", true},                 {Cmd::Paste, "Paste", true},
    {Cmd::DeleteValue, "Delete", true},      {Cmd::Append, "Append", false},
    {Cmd::AppendCopy, "Append", false},      {Cmd::AppendNow, "Append", false},
    {Cmd::AppendCopyNow, "Append", false},   {Cmd::Insert, "Insert", false},
    {Cmd::InsertCopy, "Insert", false},      {Cmd::InsertNow, "Insert", false},
    {Cmd::InsertCopyNow, "Insert", false},   {Cmd::Delete, "Delete record", false},
    {Cmd::DeleteNow, "Delete record", false}, {Cmd::MarkDeleted, "Deletion mark", false},
    {Cmd::Pack, "Pack", false},              {Cmd::PackTable, "Pack", false},
    {Cmd::PackMemo, "Pack", false},          {Cmd::Zap, "Zap", true},
    {Cmd::Truncate, "Truncate", true},       {Cmd::PasteRecord, "Paste record", false},
    {Cmd::DeleteAll, "Delete all", true},    {Cmd::RecallAll, "Recall all", true},
    {Cmd::InverseAll, "Invert all", true},   {Cmd::GroupDelete, "Group delete", true},
    {Cmd::GroupRecall, "Group recall", true}, {Cmd::GroupInverse, "Group invert", true},
    {Cmd::Replace, "Replace", true},         {Cmd::Fill, "Fill", true},
    {Cmd::SqlStatement, "SQL", true},        {Cmd::EncodeDatabase, "Encoding", false},
    {Cmd::DecodeDatabase, "Encoding", false}, {Cmd::DefinePassword, "Password", false},
    {Cmd::RemovePassword, "Password", false}, {Cmd::AppendFrom, "Append from", false},
    {Cmd::HeaderEditor, "Header", false},    {Cmd::ModifyStructure, "Modify structure", false},
};

const StepName* step_name(Cmd command) {
  for (const StepName& row : kStepNames) {
    if (row.command == command) return &row;
  }
  return nullptr;
}

uint64_t table_bytes(const Table& table) {
  long long size = file_size(table.fd);
  struct stat info;
  uint64_t memo = stat(table.memo_file_name.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
  return (size > 0 ? uint64_t(size) : 0) + memo;
}

// The table's file is read again after an undo: its count, its header and,
// after a pack or a new structure was taken back, its fields.
void take_back(bool forward) {
  Table* table = g_app.table();
  if (!table || changes_refused(*table) || !resolve_unsaved_edit()) return;
  std::string text;
  UndoOutcome outcome = forward ? redo_change(*table, text) : undo_change(*table, text);
  switch (outcome) {
    case UndoOutcome::kDone:
      reopen_table(g_app.current);
      g_app.notice = std::string(forward ? "Redone: " : "Undone: ") + text;
      break;
    case UndoOutcome::kNothing:
      g_app.notice = forward ? "Nothing to redo" : "Nothing to undo";
      break;
    case UndoOutcome::kChangedOutside:
    case UndoOutcome::kTooLarge:
      message_box(text + ";\nit cannot be undone.", "Undo", "OK", kMessageError, 0);
      break;
    case UndoOutcome::kFailed:
      message_box("Cannot write file\n" + text, "Undo", "OK", kMessageError, 0);
      reopen_table(g_app.current);
      break;
  }
  g_app.redraw |= kRedrawAll;
}

}  // namespace

uint64_t undo_limit() { return uint64_t(g_settings.undo_limit_mb) << 20; }

void undo_command() { take_back(false); }
void redo_command() { take_back(true); }

void run_as_undo_step(Cmd command, void (*run)()) {
  Table* table = g_app.table();
  if (command == Cmd::Undo || command == Cmd::Redo || !table || changes_refused(*table)) return run();
  const StepName* row = step_name(command);
  std::string name = row ? row->name : "Change";
  bool recorded = true;
  if (row && row->whole_table && !undo_fits(*table, table_bytes(*table), undo_limit())) {
    int answer = message_box("This change may be larger than the undo limit (" +
                                 std::to_string(g_settings.undo_limit_mb) +
                                 " MB):\nit, and every change before it, cannot be undone. Go on?",
                             "Undo", "Go on\nCancel", 0, 0);
    if (answer != 0) return;
    recorded = false;
  }
  UndoStep step(*table, name, undo_limit(), recorded);
  run();
}

}  // namespace kora
