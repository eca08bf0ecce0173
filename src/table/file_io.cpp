#include "table/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kora {

namespace {

FaultPlan* g_plan = nullptr;
const FileObserver* g_observer = nullptr;

bool observed_write(int fd, uint64_t offset, const void* bytes, size_t length) {
  if (!g_observer || !g_observer->before_write || g_observer->before_write(fd, offset, bytes, length)) return true;
  errno = EIO;
  return false;
}

bool observed_replace(const std::string& to) {
  if (!g_observer || !g_observer->before_replace || g_observer->before_replace(to)) return true;
  errno = EIO;
  return false;
}

// Whether the plan lets this call through; a refused call reports EIO.
bool admitted(bool change) {
  if (!g_plan) return true;
  FaultPlan& plan = *g_plan;
  ++plan.calls;
  if (change) ++plan.changes;
  bool refused = plan.calls == plan.fail_call || (change && plan.changes == plan.fail_change) ||
                 (change && plan.stop_after >= 0 && plan.changes > plan.stop_after);
  if (!refused) return true;
  if (change) ++plan.refused;
  errno = EIO;
  return false;
}

void traced(char kind, int fd) {
  if (g_plan && g_plan->trace) g_plan->trace->emplace_back(kind, fd);
}

}  // namespace

void set_file_observer(const FileObserver* observer) { g_observer = observer; }

ScopedFaultPlan::ScopedFaultPlan(FaultPlan& plan) { g_plan = &plan; }
ScopedFaultPlan::~ScopedFaultPlan() { g_plan = nullptr; }

int file_open(const std::string& path, int flags, mode_t mode) {
  if (!admitted((flags & (O_CREAT | O_TRUNC)) != 0)) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

ssize_t file_read_at(int fd, void* buffer, size_t length, uint64_t offset) {
  if (!admitted(false)) return -1;
  size_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, length - done, off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += size_t(got);
  }
  return ssize_t(done);
}

bool file_write_at(int fd, const void* bytes, size_t length, uint64_t offset) {
  if (length == 0) return true;
  if (!observed_write(fd, offset, bytes, length) || !admitted(true)) return false;
  traced('w', fd);
  size_t done = 0;
  while (done < length) {
    ssize_t put = ::pwrite(fd, static_cast<const char*>(bytes) + done, length - done, off_t(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

bool file_write(int fd, std::string_view bytes) {
  if (bytes.empty()) return true;
  if (g_observer) {
    // Where a stream write lands: its position, or the end of a file opened to append.
    off_t at = (fcntl(fd, F_GETFL) & O_APPEND) ? ::lseek(fd, 0, SEEK_END) : ::lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && !observed_write(fd, uint64_t(at), bytes.data(), bytes.size())) return false;
  }
  if (!admitted(true)) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

long long file_size(int fd) {
  if (!admitted(false)) return -1;
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool file_truncate(int fd, uint64_t size) {
  if (g_observer && g_observer->before_truncate && !g_observer->before_truncate(fd, size)) {
    errno = EIO;
    return false;
  }
  return admitted(true) && ::ftruncate(fd, off_t(size)) == 0;
}

bool file_sync(int fd) {
  if (!admitted(true)) return false;
  traced('s', fd);
  return ::fsync(fd) == 0;
}

bool file_rename(const std::string& from, const std::string& to) {
  return observed_replace(to) && admitted(true) && ::rename(from.c_str(), to.c_str()) == 0;
}

bool file_link(const std::string& from, const std::string& to) {
  return observed_replace(to) && admitted(true) && ::link(from.c_str(), to.c_str()) == 0;
}

bool file_unlink(const std::string& path) { return admitted(true) && ::unlink(path.c_str()) == 0; }

}  // namespace kora
