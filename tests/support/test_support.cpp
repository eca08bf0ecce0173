#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kora::test {

std::string fixture(const std::string& relative) {
  const char* dir = std::getenv("KORA_FIXTURES");
  return std::string(dir && *dir ? dir : KORA_FIXTURES_DIR) + "/" + relative;
}

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/kora-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::copy_fixture(const std::string& relative, const std::string& name) const {
  std::string target = file(name.empty() ? std::filesystem::path(relative).filename().string() : name);
  copy_file(fixture(relative), target);
  return target;
}

std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void copy_file(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  // Fixtures may be read-only; copies must be writable.
  chmod(to.c_str(), 0644);
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

long file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

int run_without_root(int (*check)(void* context), void* context) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(100);
    _exit(check(context));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_command(const std::string& command, std::string& out) {
  out.clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string program_in(const TempDir& dir, const std::string& ini) {
  std::string program = dir.file("kora");
  EXPECT_EQ(symlink(KORA_BINARY_DIR "/kora", program.c_str()), 0);
  std::ofstream(dir.file("kora.ini")) << ini;
  return program;
}

}  // namespace kora::test
