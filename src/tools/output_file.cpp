#include "tools/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "table/file_guards.h"
#include "table/file_io.h"

namespace kora {

namespace {

// The file a path finally names: a symbolic link is replaced by replacing
// what it points at, so that the link stays.
std::string resolved_target(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool is_one_of_files(const std::string& path, const std::vector<std::string>& files) {
  struct stat target;
  if (stat(path.c_str(), &target) != 0) return false;
  for (const std::string& file : files) {
    struct stat info;
    if (stat(file.c_str(), &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino) return true;
  }
  return false;
}

OutputStatus append_to_file(const std::string& path, std::string_view bytes, const OutputGuard& guard) {
  if (is_one_of_files(path, guard.open_files)) return OutputStatus::kOpenTable;
  UniqueFd file(file_open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (file.fd < 0) return OutputStatus::kCannotOpen;
  bool ok = write_all(file.fd, bytes);
  ok = file.close_checked() && ok;
  return ok ? OutputStatus::kOk : OutputStatus::kWriteFailed;
}

OutputStatus replace_output_file(const std::string& path, std::string_view bytes, const OutputGuard& guard) {
  std::string target = resolved_target(path);
  struct stat info;
  bool exists = stat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return OutputStatus::kCannotOpen;
  if (exists && is_one_of_files(target, guard.open_files)) return OutputStatus::kOpenTable;
  if (exists && !(guard.confirm_replace && guard.confirm_replace(path))) return OutputStatus::kCancelled;

  std::string name = target + ".XXXXXX";
  HoldEndSignals hold;
  UniqueFd fresh(mkstemp(name.data()));
  if (fresh.fd < 0) return OutputStatus::kCannotOpen;
  fchmod(fresh.fd, exists ? (info.st_mode & 07777) : new_file_mode());
  bool ok = write_all(fresh.fd, bytes) && file_sync(fresh.fd);
  ok = fresh.close_checked() && ok;
  if (ok && file_rename(name, target)) return OutputStatus::kOk;
  file_unlink(name);
  return OutputStatus::kWriteFailed;
}

}  // namespace kora
