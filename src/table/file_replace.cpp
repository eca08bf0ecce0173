#include "table/file_replace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "table/file_guards.h"
#include "table/file_io.h"

namespace kora {

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
  UniqueFd fresh(is_link ? -1 : mkstemp(name.data()));
  if (fresh.fd >= 0) {
    fchmod(fresh.fd, mode);
    bool ok = write_all(fresh.fd, bytes) && file_sync(fresh.fd);
    ok = fresh.close_checked() && ok;
    if (ok && file_rename(name.data(), path)) return 1;
    file_unlink(name.data());
    return 0;
  }
  // A link, or a folder we may not create files in: rewrite the file where it is.
  UniqueFd file(file_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (file.fd < 0) return 0;
  return write_all(file.fd, bytes);
}

}  // namespace kora
