#include "ui/side_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "table/file_guards.h"
#include "table/file_replace.h"

namespace kora {

int read_side_file(const std::string& path, std::string& out) {
  out.clear();
  UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) return 0;
  struct stat info;
  if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      out.clear();
      return 0;
    }
    if (n == 0) return 1;
    out.append(buffer, size_t(n));
  }
}

int write_side_file(const std::string& path, std::string_view text) { return replace_file(path, text); }

}  // namespace kora
