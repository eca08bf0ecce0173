// Runs tests/e2e/kora_edit_tmux_test.sh on the built kora when tmux is there:
// a record edited in a real terminal, a second table opened with the file
// panel, switching between the two and the File menu.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../support/test_support.h"

namespace {

TEST(KoraEditTmux, EditedRecordSecondTableAndSwitchingInARealTerminal) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  std::string make_demo = std::string(KORA_BINARY_DIR) + "/make_demo";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (access(make_demo.c_str(), X_OK) != 0) GTEST_SKIP() << "make_demo not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_edit_tmux_test.sh " + program + " " +
                        make_demo + " " + kora::test::fixture("infused-dbf/cp1251.dbf") + " cp1251";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
