// Ctrl+Q in the whole program: a statement sets the columns, the records and
// their order the browse shows, the cursor comes back into the narrowed view,
// and Esc during the walk leaves the view as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "program_driver.h"
#include "tool_harness.h"
#include "ui/key_codes.h"

namespace kora {
namespace {

using namespace kora::test;

// NAME C6 counts down from R03999 so that a sort by it reverses the file;
// PRICE N4 is 0 on every third record.
std::string make_prices(const TempDir& dir, int count) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"CITY", 'C', 4}, {"PRICE", 'N', 4}};
  for (int i = 0; i < count; ++i) {
    char record[32];
    std::snprintf(record, sizeof record, "R%05dCITY%4d", count - 1 - i, i % 3 == 0 ? 0 : i);
    layout.records.push_back(record);
  }
  std::string path = dir.file("prices.dbf");
  write_bytes(path, build_dbf(layout));
  return path;
}

// Ctrl+Q, each statement and Enter, after the keys given first.
std::vector<int> statement_keys(std::vector<int> keys, std::initializer_list<std::string> statements) {
  for (const std::string& statement : statements) {
    keys.push_back(kKeyCtrlQ);
    for (char c : statement) keys.push_back(static_cast<unsigned char>(c));
    keys.push_back(kKeyEnter);
  }
  return keys;
}

// run_kora with an Esc pressed after the scripted keys, during the next walk.
void run_kora_escaping(const std::string& path, const std::vector<int>& keys) {
  screen_script() = {25, 80, 0, keys};
  g_screen_starter = {[] { return open_scripted_screen(), headless_backend()->push_key(kKeyEsc, 1), 1; }, keep_screen};
  g_screen.open = false;
  std::vector<std::string> words = {program_file(), path};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  run_program(int(words.size()), argv.data());
}

TEST(SqlCommandProgram, StatementShapesTheBrowseAndEscapeLeavesItAsItWas) {
  TempDir dir;
  std::string path = make_prices(dir, 4000);

  // From the last record: the view narrows to 2666 records sorted by NAME,
  // so the cursor goes back to the first; NAME and DOUBLE are the columns.
  run_kora({path}, statement_keys({kKeyCtrlEnd}, {"SELECT NAME, PRICE*2 AS DOUBLE FROM x WHERE PRICE>0 ORDER BY NAME"}));
  EXPECT_EQ(row(2).substr(3, 13), "NAME   DOUBLE");
  EXPECT_EQ(row(2).find("CITY"), std::string::npos);
  EXPECT_NE(row(0).find("1 (3999) / 2666"), std::string::npos) << row(0);
  EXPECT_EQ(row(4).substr(3, 6), "R00001");  // record 3998, PRICE 3998
  EXPECT_NE(row(4).find("7996.000000"), std::string::npos) << row(4);

  // A refused statement changes nothing; Esc during the walk of the second
  // statement keeps the columns the first one chose and every record.
  run_kora_escaping(path, statement_keys({}, {"SELECT CITY, NAME FROM x", "SELECT NAME FROM x WHERE NAME",
                                               "SELECT PRICE, NAME FROM x WHERE PRICE>0 ORDER BY NAME"}));
  EXPECT_EQ(row(2).substr(3, 9), "CITY NAME") << row(2);
  EXPECT_NE(row(0).find("1 / 4000"), std::string::npos) << row(0);
  EXPECT_EQ(row(4).substr(8, 6), "R03999");
}

class SqlCommandTest : public test::ToolHarness {
 protected:
  void SetUp() override {
    ToolHarness::SetUp();
    spaced = true;  // each key waits, so that every box is pictured
  }
};

TEST_F(SqlCommandTest, AStatementNotTakenSaysWhyAndChangesNothing) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"PRICE", 'N', 4}};
  layout.records = {"R1       5"};
  Table& table = open(layout);
  const struct {
    const char* statement;
    const char* why;
  } cases[] = {
      {"UPDATE x SET PRICE=0", "UPDATE is not taken"},
      {"SELECT NAME, COST FROM x", "There is no field or column COST."},
      {"SELEC NAME FROM x", "Only SELECT is taken here"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    run(Cmd::SqlStatement, text(c.statement, {kKeyEnter, kKeyEnter}));
    EXPECT_TRUE(shown(c.why));
    EXPECT_EQ(column_count(table), 2);
  }
}

}  // namespace
}  // namespace kora
