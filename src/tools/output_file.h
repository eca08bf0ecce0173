// Files the data tools write for the user: texts appended to a file, and
// whole files replaced through a new file renamed over the old one. Neither
// ever writes into a table (or memo file) that kora holds open: those are
// recognised by device and inode, whatever path names them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "table/file_guards.h"

namespace kora {

enum class OutputStatus {
  kOk = 0,
  kCancelled,    // the user declined to replace an existing file
  kOpenTable,    // the file is a table or memo file open in kora
  kCannotOpen,   // the file (or its temporary companion) could not be made
  kWriteFailed,  // a write, the flush or the rename failed
};

// What must never be written, and whom to ask before replacing a file.
struct OutputGuard {
  // Paths of the tables and memo files open in kora.
  std::vector<std::string> open_files;
  // Asked when the file to be replaced exists; true replaces it. Empty: do not replace.
  std::function<bool(const std::string& path)> confirm_replace;
};

// The file a path finally names: a symbolic link is replaced by replacing
// what it points at, so that the link stays.
std::string resolved_target(const std::string& path);
// The mode of a new file: 0666 less the umask.
mode_t new_file_mode();

// A new file beside the target, written in pieces and renamed over it by
// commit(); left unfinished it is removed and the target stays as it was.
// Append starts it as a copy of the old file.
class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  OutputStatus open(const std::string& path, bool append, const OutputGuard& guard);
  // False once a write has failed.
  bool write(std::string_view bytes);
  OutputStatus commit();

 private:
  bool copy_old();

  std::string target_;
  std::string temp_;
  UniqueFd file_{-1};
  bool failed_ = false;
};

// True when `path` names the same file (device and inode) as one of `files`.
bool is_one_of_files(const std::string& path, const std::vector<std::string>& files);

// Appends the bytes to the file, creating it when missing.
OutputStatus append_to_file(const std::string& path, std::string_view bytes, const OutputGuard& guard);

// Makes the file hold exactly the bytes: written to a new file beside it,
// flushed and renamed over it, so that a failure leaves the old file whole.
// An existing file is replaced only when guard.confirm_replace agrees; a
// symbolic link keeps pointing at the file it names.
OutputStatus replace_output_file(const std::string& path, std::string_view bytes, const OutputGuard& guard);

}  // namespace kora
