#include "table/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "table/file_guards.h"
#include "table/file_io.h"

namespace kora {

namespace {

// A name no file of the user's has: the target's name, a dot and random
// hexadecimal digits, hidden; O_EXCL makes sure it was free.
std::string candidate_name(const std::string& target, std::mt19937_64& random) {
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%012llx", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  std::string path = folder;
  path += '.';
  path += name;
  path += suffix;
  return path;
}

}  // namespace

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void sync_folder(const std::string& folder) {
  UniqueFd dir(file_open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) file_sync(dir.fd);
}

PendingFile::~PendingFile() { discard(); }

std::string PendingFile::fresh_name(const std::string& target) {
  static std::mt19937_64 random{std::random_device{}() ^ uint64_t(getpid())};
  return candidate_name(target, random);
}

Status PendingFile::open_as(const std::string& target, const std::string& path, const mode_t* mode) {
  discard();
  target_ = target;
  int fd = file_open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? Status::kFileExists : status_from_open_errno(errno);
  fd_ = fd;
  path_ = path;
  placed_ = false;
  if (mode && fchmod(fd_, *mode & 07777) != 0) {
    discard();
    return Status::kWriteError;
  }
  return Status::kOk;
}

Status PendingFile::open(const std::string& target, const mode_t* mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    Status s = open_as(target, fresh_name(target), mode);
    if (s != Status::kFileExists) return s;
  }
  return Status::kCannotOpen;
}

Status PendingFile::write_at(uint64_t offset, const void* bytes, size_t length) {
  return file_write_at(fd_, bytes, length, offset) ? Status::kOk : Status::kWriteError;
}

Status PendingFile::flush() {
  if (fd_ < 0) return Status::kWriteError;
  bool ok = file_sync(fd_);
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  return ok ? Status::kOk : Status::kWriteError;
}

Status PendingFile::commit(Placement placement) {
  if (path_.empty() || placed_) return Status::kWriteError;
  if (fd_ >= 0) {
    if (Status s = flush(); s != Status::kOk) return s;
  }
  HoldEndSignals hold;
  if (placement == Placement::kNew) {
    // A link fails when the target exists, so no file slipped in between
    // is replaced; folders without links fall back to a checked rename.
    if (file_link(path_, target_)) {
      file_unlink(path_);
    } else if (errno == EEXIST) {
      return Status::kFileExists;
    } else {
      struct stat info;
      if (lstat(target_.c_str(), &info) == 0) return Status::kFileExists;
      if (!file_rename(path_, target_)) return Status::kWriteError;
    }
  } else if (!file_rename(path_, target_)) {
    return Status::kWriteError;
  }
  placed_ = true;
  sync_folder(folder_of(target_));
  return Status::kOk;
}

void PendingFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!path_.empty() && !placed_) file_unlink(path_);
  path_.clear();
}

}  // namespace kora
