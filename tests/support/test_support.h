// Helpers shared by the tests: fixture paths, temporary folders, file bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kora::test {

// Path of a file under the shared fixtures folder.
std::string fixture(const std::string& relative);

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Copies a fixture (and nothing else) into the folder; returns the new path.
  std::string copy_fixture(const std::string& relative, const std::string& name = "") const;

 private:
  std::string path_;
};

std::vector<uint8_t> read_bytes(const std::string& path);
void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
void copy_file(const std::string& from, const std::string& to);
bool file_exists(const std::string& path);
long file_size(const std::string& path);

// Runs `check` in a child process that cannot write files whose mode says
// read-only (as an unprivileged user when the tests run as root, the folders
// on the way must then be readable by others). Returns the child's exit status.
int run_without_root(int (*check)(void* context), void* context);

// The built program linked into `dir` with a kora.ini of `ini` beside it
// (kora reads its side files beside the path it was started by).
std::string program_in(const TempDir& dir, const std::string& ini);

// Runs a shell command, returns its exit status and puts its standard output in `out`.
int run_command(const std::string& command, std::string& out);

}  // namespace kora::test
