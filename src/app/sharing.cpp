#include "app/sharing.h"

#include <ctime>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "app/record_commands.h"
#include "table/index_files.h"
#include "table/outside_changes.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr int kLockHelp = 100;  // the help topic of error boxes

std::string file_part(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* kind_words(LockKind kind) {
  switch (kind) {
    case LockKind::kRecord: return "a record lock";
    case LockKind::kAppend: return "an append lock";
    case LockKind::kFile: return "a file lock";
    default: return "a lock";
  }
}

bool ask_about_lock(const LockConflict& conflict) {
  return message_box(lock_conflict_text(conflict), "Locked", "Retry\nCancel", kMessageError, kLockHelp) == 0;
}

bool ask_before_first_change(Table& table) {
  std::string question = index_question_text(table);
  if (question.empty()) return true;
  g_app.redraw |= kRedrawAll;
  if (message_box(question, "Index file", "Edit anyway\nOpen read-only", 0, kLockHelp) == 0) return true;
  table.read_only = true;
  table.read_only_cause = ReadOnlyCause::kIndexFile;
  return false;
}

}  // namespace

std::string lock_conflict_text(const LockConflict& conflict) {
  std::string blocked;
  switch (conflict.wanted) {
    case LockKind::kRecord: blocked = "Record " + std::to_string(uint64_t(conflict.record) + 1) + " is locked"; break;
    case LockKind::kAppend: blocked = "Adding a record is blocked"; break;
    default: blocked = (conflict.command.empty() ? std::string("The change") : conflict.command) + " is blocked"; break;
  }
  std::string holder = conflict.holder > 0 ? " (process " + std::to_string(conflict.holder) + ")" : "";
  return blocked + ":\nanother program" + holder + " holds " + kind_words(conflict.held) + " on the table";
}

std::string index_question_text(const Table& table) {
  std::vector<std::string> names = index_files(table);
  if (names.empty()) return std::string();
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return file_part(table.file_name) + " has an index file (" + list +
         ")\nthat kora does not update: programs that use it may miss\nor misplace changed records until it is rebuilt.";
}

void install_sharing_questions(TableList& list) {
  list.lock_asker = ask_about_lock;
  list.first_change = ask_before_first_change;
}

void follow_outside_changes(Table& table, TableState& state) {
  time_t now = time(nullptr);
  if (now == state.outside_look) return;
  state.outside_look = now;
  bool pending = g_app.edit.mode && g_cell_edit_hooks.has_changes && g_cell_edit_hooks.has_changes();
  // The whole-table change that made it read-only on opening is over.
  if (table.read_only_cause == ReadOnlyCause::kLockedByOther && foreign_file_lock(table) == LockKind::kNone) {
    table.read_only = false;
    table.read_only_cause = ReadOnlyCause::kNone;
    g_app.redraw |= kRedrawAll;
  }
  switch (outside_change(table, state.outside_seen)) {
    case OutsideChange::kNone: return;
    case OutsideChange::kRewritten: g_app.redraw |= kRedrawRows; return;
    case OutsideChange::kCount: follow_record_count(!pending); return;
    case OutsideChange::kReplaced:
      // Typed changes are never dropped unasked: the table is opened again
      // once they are written or given up.
      if (!pending) reopen_table(g_app.current);
      return;
  }
}

}  // namespace kora
