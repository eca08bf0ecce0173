// Files the fuzz targets hand to the program: one folder per process, in
// memory where /dev/shm exists, removed at exit.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

class WorkFolder {
 public:
  // `names`: the files the target writes there, removed between runs.
  explicit WorkFolder(std::vector<std::string> names) : names_(std::move(names)) {}
  ~WorkFolder() { remove_all(); }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  std::string path(const std::string& name) { return folder() + "/" + name; }

  // Writes the file. The folder may vanish under a long run (a cleaner of
  // /tmp or /dev/shm): it is made again once. A run that cannot write its
  // input would test nothing, so it stops loudly instead.
  void write(const std::string& name, const uint8_t* data, size_t size) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0) folder_.clear();
      if (write_file(path(name), data, size)) return;
    }
    abort();
  }

  void clear() {
    for (const std::string& name : names_) unlink(path(name).c_str());
  }

 private:
  const std::string& folder() {
    if (folder_.empty()) {
      char in_memory[] = "/dev/shm/kora-fuzz-XXXXXX";
      char in_tmp[] = "/tmp/kora-fuzz-XXXXXX";
      const char* made = mkdtemp(in_memory);
      if (made == nullptr) made = mkdtemp(in_tmp);
      if (made == nullptr) abort();
      folder_ = made;
    }
    return folder_;
  }

  void remove_all() {
    if (folder_.empty()) return;
    clear();
    rmdir(folder_.c_str());
  }

  static bool write_file(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fd, data + done, size - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    close(fd);
    return done == size;
  }

  std::vector<std::string> names_;
  std::string folder_;
};

}  // namespace fuzz
