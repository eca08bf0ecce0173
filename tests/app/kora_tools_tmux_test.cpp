// Runs end-to-end scripts (tests/e2e) on the built kora in a real terminal
// when tmux and python3-dbfread are there. Each script drives the program on
// copies of real tables and checks the screen and the files against what
// dbfread reads:
// - filter: Alt+F3 new and merged, and Ctrl+E, narrow the record counter;
// - sort_sum: the first rows sorted by a Character field both ways, and the
//   sums of a numeric column;
// - sql: a SELECT with a computed column, WHERE and ORDER BY;
// - structure: Ctrl+F4 widens a field of a table with a memo file, and the
//   table is shown again whole with its old file as .bak;
// - header: header repairs keep every record and the file's size, and
//   read-only mode writes nothing (it takes the fixtures folder);
// - unsaved: Esc, F12 and File Exit ask about typed changes, and one file
//   under several names is one table;
// - stats: Alt+F5 and the frequency list on a table it generates, compared
//   with Python's Counter and decimal sums (it takes no fixture).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../support/test_support.h"

namespace {

struct Script {
  const char* name;     // tests/e2e/kora_<name>_tmux_test.sh
  const char* fixture;  // the table it works on a copy of ("" the fixtures folder)
};

constexpr Script kScripts[] = {
    {"filter", "infused-dbf/dbase_f5.dbf"},
    {"sort_sum", "infused-dbf/dbase_f5.dbf"},
    {"sql", "infused-dbf/dbase_83.dbf"},
    {"structure", "infused-dbf/dbase_83.dbf"},
    {"header", ""},
    {"unsaved", "infused-dbf/cp1251.dbf"},
    {"stats", ""},
};

class KoraToolsTmux : public ::testing::TestWithParam<Script> {};

TEST_P(KoraToolsTmux, TheScreenShowsWhatAnIndependentReaderComputes) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_";
  command.append(GetParam().name).append("_tmux_test.sh ").append(program).append(" ");
  command.append(kora::test::fixture(GetParam().fixture));
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(Scripts, KoraToolsTmux, ::testing::ValuesIn(kScripts),
                         [](const auto& info) {
                           std::string label;  // test names take letters and digits only
                           for (const char* c = info.param.name; *c; ++c) {
                             if (*c != '_') label += *c;
                           }
                           return label;
                         });

}  // namespace
