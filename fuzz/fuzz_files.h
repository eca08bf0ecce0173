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

// One field of a table a target builds.
struct Field {
  const char* name;
  char type;
  uint8_t length;
  uint8_t decimals;
};

// The bytes of a table of `fields` holding `bodies` (each after its deletion
// flag, padded with blanks), the second record marked deleted when asked;
// `gap` bytes between the field list and the records.
template <size_t N>
std::vector<uint8_t> dbf_bytes(const Field (&fields)[N], const std::vector<std::string>& bodies, uint8_t version,
                               size_t gap = 0, bool second_deleted = false) {
  size_t record_size = 1;
  for (const Field& f : fields) record_size += f.length;
  size_t header_size = 32 + 32 * N + 1 + gap;
  std::vector<uint8_t> out(header_size, 0);
  out[0] = version;
  out[1] = 124, out[2] = 1, out[3] = 1;
  out[4] = uint8_t(bodies.size());
  out[8] = uint8_t(header_size & 0xFF), out[9] = uint8_t(header_size >> 8);
  out[10] = uint8_t(record_size & 0xFF), out[11] = uint8_t(record_size >> 8);
  size_t offset = 1;
  for (size_t k = 0; k < N; ++k) {
    uint8_t* d = &out[32 + 32 * k];
    for (size_t c = 0; fields[k].name[c] != 0; ++c) d[c] = uint8_t(fields[k].name[c]);
    d[11] = uint8_t(fields[k].type);
    d[12] = uint8_t(offset & 0xFF), d[13] = uint8_t(offset >> 8);
    d[16] = fields[k].length, d[17] = fields[k].decimals;
    offset += fields[k].length;
  }
  out[32 + 32 * N] = 0x0D;
  for (size_t r = 0; r < bodies.size(); ++r) {
    std::string body = bodies[r];
    body.resize(record_size - 1, ' ');
    out.push_back(second_deleted && r == 1 ? '*' : ' ');
    out.insert(out.end(), body.begin(), body.end());
  }
  out.push_back(0x1A);
  return out;
}

}  // namespace fuzz
