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

TempOutput::~TempOutput() {
  if (!temp_.empty()) file_unlink(temp_);
}

bool TempOutput::write(std::string_view bytes) {
  if (!failed_ && !write_all(file_.fd, bytes)) failed_ = true;
  return !failed_;
}

bool TempOutput::copy_old() {
  UniqueFd old(file_open(target_, O_RDONLY | O_CLOEXEC));
  if (old.fd < 0) return false;
  std::vector<char> buffer(1 << 20);
  for (uint64_t at = 0;;) {
    ssize_t n = file_read_at(old.fd, buffer.data(), buffer.size(), at);
    if (n < 0) return false;
    if (n == 0) return true;
    at += uint64_t(n);
    if (!write(std::string_view(buffer.data(), size_t(n)))) return false;
  }
}

OutputStatus TempOutput::open(const std::string& path, bool append, const OutputGuard& guard) {
  target_ = resolved_target(path);
  struct stat info;
  bool exists = stat(target_.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return OutputStatus::kCannotOpen;
  if (exists && is_one_of_files(target_, guard.open_files)) return OutputStatus::kOpenTable;
  if (exists && !append && !(guard.confirm_replace && guard.confirm_replace(path))) return OutputStatus::kCancelled;
  std::string name = target_ + ".XXXXXX";
  file_.fd = mkostemp(name.data(), O_CLOEXEC);
  if (file_.fd < 0) return OutputStatus::kCannotOpen;
  temp_ = name;
  fchmod(file_.fd, exists ? (info.st_mode & 07777) : new_file_mode());
  if (exists && append && !copy_old()) return OutputStatus::kWriteFailed;
  return OutputStatus::kOk;
}

OutputStatus TempOutput::commit() {
  HoldEndSignals hold;
  bool ok = !failed_ && file_sync(file_.fd);
  ok = file_.close_checked() && ok;
  if (!ok || !file_rename(temp_, target_)) return OutputStatus::kWriteFailed;
  temp_.clear();
  return OutputStatus::kOk;
}

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
  TempOutput out;
  if (OutputStatus opened = out.open(path, false, guard); opened != OutputStatus::kOk) return opened;
  out.write(bytes);
  return out.commit();
}

}  // namespace kora
