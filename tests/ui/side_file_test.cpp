// Side files beside the program: a program ended by a hang-up (the terminal
// window closed) while it rewrites one leaves no half-made file behind.
#include "ui/side_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace kora {
namespace {

int files_in(const std::string& folder) {
  int count = 0;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

TEST(SideFile, AHangUpDuringARewriteLeavesOnlyTheFile) {
  test::TempDir dir;
  const std::string path = dir.file("kora.mac");
  const std::string text(4096, 'x');
  ASSERT_EQ(write_side_file(path, text), 1);
  for (int round = 0; round < 8; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) write_side_file(path, text);
    }
    timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    kill(child, SIGHUP);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(files_in(dir.path()), 1) << "round " << round;
    std::string back;
    ASSERT_EQ(read_side_file(path, back), 1);
    EXPECT_EQ(back, text);
  }
}

}  // namespace
}  // namespace kora
