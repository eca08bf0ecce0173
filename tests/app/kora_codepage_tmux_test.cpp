// Runs tests/e2e/kora_codepage_tmux_test.sh on the built kora when tmux is
// there: Windows-1251 tables, with and without the header's mark, shown,
// switched with F12 and edited in a real terminal; tables in other code
// pages shown, and typed into on a UTF-8 terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"

namespace {

TEST(KoraCodePageTmux, Windows1251TablesShownSwitchedAndEditedInARealTerminal) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  // Г.В.Гирич and Петров in Windows-1251: the first record has none of А О Е У.
  kora::test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 12}};
  layout.records = {"\xC3.\xC2.\xC3\xE8\xF0\xE8\xF7", "\xCF\xE5\xF2\xF0\xEE\xE2"};
  kora::test::TempDir dir;
  std::string unmarked = dir.file("plain.dbf");
  kora::test::write_bytes(unmarked, kora::test::build_dbf(layout));
  // A Windows-1252 table by its header's mark, a UTF-8 one by its .cpg.
  kora::test::DbfLayout western;
  western.fields = {{"NAME", 'C', 8}};
  western.records = {"old", "caf\xE9"};
  western.code_page_mark = 0x03;
  std::string win1252 = dir.file("win1252.dbf");
  kora::test::write_bytes(win1252, kora::test::build_dbf(western));
  kora::test::DbfLayout unicode;
  unicode.fields = {{"NAME", 'C', 4}};
  unicode.records = {"xyz", "\xC3\xA9"};
  std::string utf8 = dir.file("utf8.dbf");
  kora::test::write_bytes(utf8, kora::test::build_dbf(unicode));
  kora::test::write_bytes(dir.file("utf8.cpg"), std::vector<uint8_t>{'U', 'T', 'F', '-', '8'});
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_codepage_tmux_test.sh " + program + " " +
                        kora::test::fixture("infused-dbf/cp1251.dbf") + " " + unmarked + " " +
                        kora::test::fixture("") + " " + win1252 + " " + utf8;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
