// Runs tests/e2e/kora_sharing_tmux_test.sh on the built kora when tmux is
// there: two kora processes on one table, edits of the same and of other
// records, a pack beside an edit, an append seen by the other.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

TEST(KoraSharingTmux, TwoProcessesOnOneTableLoseNoWrite) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_sharing_tmux_test.sh " + program;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
