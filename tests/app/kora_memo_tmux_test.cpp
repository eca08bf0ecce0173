// Runs tests/e2e/kora_memo_tmux_test.sh on the built kora when tmux is there:
// the memo editor's Shift selection, copy, paste and cut in a real terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../support/test_support.h"

namespace {

TEST(KoraMemoTmux, ShiftSelectionCopyPasteAndCutReachTheMemoFile) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_memo_tmux_test.sh " + program + " " +
                        kora::test::fixture("infused-dbf/dbase_83.dbf");
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
