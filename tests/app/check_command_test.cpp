// Tools, Check table on the headless screen: the findings of a damaged
// table listed, Enter on a header line keeping the list up, Enter on a
// value's line showing just its records; nothing written to the file.
#include "app/check_command.h"

#include <cstdio>

#include "tool_harness.h"

namespace kora {
namespace {

class CheckCommandTest : public test::ToolHarness {};

TEST_F(CheckCommandTest, EnterOnALineShowsOnlyItsRecordsAndTheFileStaysAsItWas) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}, {"D", 'D', 8}};
  auto record = [](const char* name, const char* num, const char* date) {
    char text[32];
    std::snprintf(text, sizeof text, "%-10s%6s%-8s", name, num, date);
    return std::string(text);
  };
  layout.records = {record("a", "", "20020101"),    record("b", "12", "20020102"), record("c", "12x", "20020230"),
                    record("d", "14", "20020104"),  record("e", "1..5", "20020105"), record("f", "", ""),
                    record("g", "1", "20020107")};
  layout.stored_count = 9;  // two records more than the file holds
  Table& t = open(layout);
  std::vector<uint8_t> before = test::read_bytes(path);
  spaced = true;

  // Enter on the header's line shows it whole and then the list again; Down, Enter takes NUM.
  run(Cmd::CheckTable, {kKeyEnter, kKeyEnter, kKeyDown, kKeyEnter});
  EXPECT_TRUE(shown("Record count: the header says 9 records; the file holds 7"));
  EXPECT_TRUE(shown("D (D 8): impossible dates or times: 1 record: 3"));
  EXPECT_TRUE(shown("NUM (N 6): numbers that do not parse: 2 records: 3, 5"));
  EXPECT_EQ(view(t), "2 4 ");
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_EQ(test::read_bytes(path), before);
}

TEST_F(CheckCommandTest, ASoundTableSaysSo) {
  test::DbfLayout layout;
  layout.fields = {{"NUM", 'N', 6}, {"D", 'D', 8}};
  layout.records = {"    1220020101", "      20020102"};
  open(layout);
  spaced = true;
  run(Cmd::CheckTable, {kKeyEnter});
  EXPECT_TRUE(shown("No problems found in 2 records."));
}

}  // namespace
}  // namespace kora
