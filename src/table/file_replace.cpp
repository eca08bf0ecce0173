#include "table/file_replace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace kora {

namespace {

// Closes a descriptor on every way out.
struct Fd {
  int fd = -1;
  explicit Fd(int value) : fd(value) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int release() {
    int value = fd;
    fd = -1;
    return value;
  }
};

int write_all(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return 0;
    done += size_t(n);
  }
  return 1;
}

// Holds back the signals that end the program (the terminal closed, kill,
// Ctrl+C) while a new file is made and renamed over the old one, so that
// they take effect after it and never leave the new file lying beside it.
struct HoldEndSignals {
  sigset_t old_mask;
  HoldEndSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) sigaddset(&mask, sig);
    sigprocmask(SIG_BLOCK, &mask, &old_mask);
  }
  ~HoldEndSignals() { sigprocmask(SIG_SETMASK, &old_mask, nullptr); }
  HoldEndSignals(const HoldEndSignals&) = delete;
  HoldEndSignals& operator=(const HoldEndSignals&) = delete;
};

}  // namespace

int replace_file(const std::string& path, std::string_view bytes, mode_t new_mode) {
  struct stat info;
  bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return 0;
  if (exists && access(path.c_str(), W_OK) != 0) return 0;
  mode_t mode = exists ? (info.st_mode & 07777) : new_mode;

  // A link is written through in place, so that it stays a link.
  struct stat link_info;
  bool is_link = lstat(path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode);

  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  HoldEndSignals hold;
  Fd fresh(is_link ? -1 : mkstemp(name.data()));
  if (fresh.fd >= 0) {
    fchmod(fresh.fd, mode);
    bool ok = write_all(fresh.fd, bytes) && fsync(fresh.fd) == 0;
    ok = close(fresh.release()) == 0 && ok;
    if (ok && rename(name.data(), path.c_str()) == 0) return 1;
    unlink(name.data());
    return 0;
  }
  // A link, or a folder we may not create files in: rewrite the file where it is.
  Fd file(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (file.fd < 0) return 0;
  return write_all(file.fd, bytes);
}

}  // namespace kora
