#include "app/encoding_commands.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "app/status_text.h"
#include "app/tool_commands.h"
#include "table/table_cipher.h"
#include "table/table_locks.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace kora {

namespace {

constexpr int kEncodeHelp = 25;
constexpr int kDefinePasswordHelp = 26;
constexpr int kPasswordWidth = 21;

const DialogDecoration kEncodeLabels[] = {{19, 9, 19, 9, "Enter password"}, {19, 11, 19, 11, "Re-enter password"}, {}};
EditField g_password{.x = 39, .y = 9, .width = kPasswordWidth, .size = int(kMaxPasswordLength)};
EditField g_confirm{.x = 39, .y = 11, .width = kPasswordWidth, .size = int(kMaxPasswordLength)};
DialogPushButton g_encode_ok{24, 13, nullptr, "OK", 1, 1};
DialogPushButton g_encode_cancel{42, 13, nullptr, "Cancel", 0, 0};
DialogControl g_encode_controls[] = {{kControlEdit, 0, &g_password},
                                     {kControlEdit, 0, &g_confirm},
                                     {kControlButton, 0, &g_encode_ok},
                                     {kControlButton, 0, &g_encode_cancel},
                                     {}};
Dialog g_encode_dialog{17, 8, 62, 14, kEncodeHelp, "Encoding", 0, kEncodeLabels, g_encode_controls};

const DialogDecoration kDefineLabels[] = {{19, 9, 19, 9, "Enter password"}, {}};
DialogPushButton g_define_ok{24, 11, nullptr, "OK", 1, 1};
DialogPushButton g_define_cancel{42, 11, nullptr, "Cancel", 0, 0};
DialogControl g_define_controls[] = {
    {kControlEdit, 0, &g_password}, {kControlButton, 0, &g_define_ok}, {kControlButton, 0, &g_define_cancel}, {}};
Dialog g_define_dialog{17, 8, 62, 13, kDefinePasswordHelp, "Encoding", 0, kDefineLabels, g_define_controls};

// The typed passwords, masked; empty when the dialog was left or the
// entries were left empty.
std::string ask_password(Dialog& dialog, std::string* confirmation) {
  dialog_prepare(dialog);
  g_password.flags |= kEditPassword;
  g_confirm.flags |= kEditPassword;
  int result = dialog_run(dialog, nullptr);
  std::string password = g_password.text ? g_password.text : "";
  if (confirmation) *confirmation = g_confirm.text ? g_confirm.text : "";
  dialog_finish(dialog);
  return result == 1 ? password : std::string();
}

// The slots of the table list whose table is the same file as `table`,
// the table's own among them.
std::vector<int> slots_of_file(const Table& table) {
  struct stat own;
  std::vector<int> slots;
  if (fstat(table.fd, &own) != 0) return slots;
  for (int index = 0; index <= g_app.tables.last; ++index) {
    struct stat other;
    const Table* t = g_app.tables.at(index);
    if (t && fstat(t->fd, &other) == 0 && other.st_dev == own.st_dev && other.st_ino == own.st_ino) slots.push_back(index);
  }
  return slots;
}

void show_error(const std::string& text) { message_box(text, "Error", "OK", kMessageError, kToolErrorHelp); }

// Rewrites the records through a new file, then opens the table again from
// it; the password is kept only after encoding. A refusal, a failed write
// or a stop leaves the file and the password as they were.
void run_encode(bool decode) {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  if (changes_refused(*table)) return show_error(std::string("Cannot write file\n") + status_cause_text(Status::kReadOnly));
  std::string confirmation;
  std::string password = ask_password(g_encode_dialog, &confirmation);
  if (password.empty()) return;
  if (password != confirmation) return show_error("Password is not confirmed.");

  std::vector<int> sharing = slots_of_file(*table);
  Status status = Status::kOk;
  {
    FileLock lock(*table, decode ? "Decode database" : "Encode database");
    if (!lock.ok()) return;
    ProgressScope box(table->record_count, Stop::kOnEscape);
    status = rewrite_enciphered(*table, password, box.callback());
  }
  g_app.redraw |= kRedrawAll;
  if (status == Status::kAborted) return;
  if (status != Status::kOk) return show_error(std::string("Cannot write file\n") + status_cause_text(status));
  // Every slot showing this file reads the old one until opened again.
  for (int index : sharing) {
    clear_table_password(*g_app.tables.at(index));
    if (reopen_table(index) && !decode) set_table_password(*g_app.tables.at(index), password);
  }
}

}  // namespace

void encode_database() { run_encode(false); }
void decode_database() { run_encode(true); }

void define_password() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  std::string password = ask_password(g_define_dialog, nullptr);
  if (password.empty()) return;
  set_table_password(*table, password);
  g_app.redraw |= kRedrawAll;
}

void remove_password() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  clear_table_password(*table);
  g_app.redraw |= kRedrawAll;
}

}  // namespace kora
