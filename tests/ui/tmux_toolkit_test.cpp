// Runs tmux_toolkit_test.sh on the kora_uidemo program when tmux and the
// program are there (build the kora_uidemo target first).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

TEST(TmuxToolkit, MenuMessageBoxDialogAndEditorInRealTerminals) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora_uidemo";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora_uidemo not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  std::string command =
      std::string(KORA_SOURCE_DIR) + "/tests/ui/tmux_toolkit_test.sh " + program;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "the script's tools are missing";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
