#include "app/header_editor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/command_support.h"
#include "app/main_loop.h"
#include "table/file_guards.h"
#include "table/file_io.h"
#include "ui/byte_editor.h"
#include "ui/message_box.h"

namespace kora {

namespace {

// The header as the file holds it: as many bytes as the header size says,
// or fewer when the file ends sooner. Read through the table's own
// descriptor, so that it is the table's file whatever its name now names.
std::vector<uint8_t> read_header_bytes(const Table& table) {
  std::vector<uint8_t> bytes(table.header_size);
  ssize_t done = file_read_at(table.fd, bytes.data(), bytes.size(), 0);
  bytes.resize(done < 0 ? 0 : size_t(done));
  return bytes;
}

bool same_file(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string cause_of(int error) { return error ? std::strerror(error) : "Write error"; }

bool save_reported(const Table& table, std::span<const uint8_t> bytes) {
  std::string why = write_header_bytes(table, bytes);
  if (why.empty()) return true;
  std::string text = "Cannot save the header.\n";
  text += why;
  message_box(text, "Error", "OK", kMessageError, kHeaderEditorHelpTopic);
  return false;
}

}  // namespace

std::string write_header_bytes(const Table& table, std::span<const uint8_t> bytes) {
  HoldEndSignals hold;
  // Never created, never truncated: only bytes already in the file change.
  UniqueFd fd(file_open(table.file_name, O_WRONLY | O_CLOEXEC));
  if (fd.fd < 0) return cause_of(errno);
  if (!same_file(fd.fd, table.fd)) return "The file is no longer the open table";
  errno = 0;
  // One write of at most the header's size: a stop leaves it all or nothing.
  if (!file_write_at(fd.fd, bytes.data(), bytes.size(), 0)) return cause_of(errno);
  if (!file_sync(fd.fd) || !fd.close_checked()) return cause_of(errno);
  return "";
}

void header_editor() {
  Table* table = g_app.table();
  if (!table || !settle_edit()) return;
  std::vector<uint8_t> bytes = read_header_bytes(*table);
  if (bytes.empty()) return;
  ByteEditorRun run;
  run.title = "Header editor";
  run.help_topic = kHeaderEditorHelpTopic;
  // A table held read-only for its unknown version byte is mended here, so
  // its header may still be edited.
  bool mendable = table->read_only_cause == ReadOnlyCause::kUnknownVersion && g_settings.read_only == 0;
  run.view_only = changes_refused(*table) && !mendable;
  run.save = [table](std::span<const uint8_t> edited) { return save_reported(*table, edited); };
  if (run_byte_editor(std::move(bytes), run) != ByteEditorResult::kSaved) return;
  // The table in memory still holds the old header, which its next write
  // would put back, and a changed layout would send its writes astray.
  reopen_table(g_app.current);
}

}  // namespace kora
