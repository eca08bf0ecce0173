// A KOI8-R table (named by its .cpg) exported by the program: the condition
// given in UTF-8 on the command line and the sort compare its Cyrillic names
// by code point, where the page's own bytes order them otherwise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/text_code_page.h"

namespace kora {
namespace {

TEST(UnicodeOrderBatch, ConditionAndSortOfAKoi8TableFollowCodePoints) {
  test::TempDir dir;
  ASSERT_EQ(symlink(KORA_BINARY_DIR "/kora", dir.file("kora").c_str()), 0);
  std::ofstream(dir.file("t.cpg")) << "koi8r";
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 8}, {"N", 'N', 1}};
  int n = 0;
  for (const char* name : {"яблоко", "арбуз", "Юла", "ЯБЛОКО", "zoo"}) {
    std::string bytes;
    ASSERT_TRUE(CodePage::find("KOI8-R")->from_utf8(name, bytes));
    layout.records.push_back(bytes.append(8 - bytes.size(), ' ') + std::to_string(++n));
  }
  test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
  auto run = [&](const char* ini, std::string& out) {
    std::ofstream(dir.file("kora.ini")) << ini;
    return test::run_command("cd '" + dir.path() + "' && ./kora /x:csv /c:N /s:NAME \"/f:NAME>'Ю'\" t.dbf -", out);
  };
  // Case ignored (the default): ЯБЛОКО twice, in file order; а is below Ю.
  std::string out;
  ASSERT_EQ(run("", out), 0) << out;
  EXPECT_EQ(out, "N\r\n1\r\n4\r\n");
  // By case: Я, а and я are past Ю; not zoo, nor Юла, which begins with it.
  ASSERT_EQ(run("[Filter]\nIgnoreCase=0\n", out), 0) << out;
  EXPECT_EQ(out, "N\r\n4\r\n2\r\n1\r\n");
}

}  // namespace
}  // namespace kora
