// Record lists: one table of texts read against a view and written back,
// lists from selections through every kind of view, and the group
// operations on the deletion mark.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/record_ops.h"
#include "tools/record_list.h"

namespace kora {
namespace {

using namespace kora::test;

struct ListCase {
  std::string text;
  uint32_t visible_count;
  std::string formatted;
  uint64_t count;
};

TEST(RecordListTest, TableOfTexts) {
  const ListCase cases[] = {
      {"1-3,6", 10, "1-3,6", 4},
      {"6;1-3", 10, "1-3,6", 4},
      {" 2 - 4 ; 7 ", 10, "2-4,7", 4},
      {"0,11,5", 10, "5", 1},                      // single numbers outside the view
      {"0-3,8-20", 10, "1-3,8-10", 6},             // ranges cut to the view
      {"5-2,9", 10, "9", 1},                       // a > b
      {"abc,2-,-3,1-2-3,,+4,4x, 8 ", 10, "8", 1},  // unreadable items
      {"1-5,3-8,9,2", 10, "1-9", 9},               // overlapping and touching
      {"1,2,3,5,6", 10, "1-3,5-6", 5},
      {"1-4000000000", 7, "1-7", 7},
      {"3-99999999999999999999999,99999999999999999999999", 7, "3-7", 5},
      {"1-4000000000", 4000000000u, "1-4000000000", 4000000000u},
      {"1", 0, "", 0},
  };
  for (const ListCase& c : cases) {
    RecordList list = parse_record_list(c.text, c.visible_count);
    EXPECT_EQ(format_record_list(list), c.formatted) << c.text;
    EXPECT_EQ(list.count(), c.count) << c.text;
  }
}

TEST(RecordListTest, LongTextsRoundTripWhole) {
  std::string head;
  for (uint32_t n = 1; n < 39999; n += 2) {
    if (!head.empty()) head += ',';
    head += std::to_string(n);
  }
  std::string text = head + ",39999,40000-40002,39999-40001";
  ASSERT_GT(text.size(), 100000u);
  RecordList list = parse_record_list(text, 40002);
  EXPECT_EQ(list.count(), 20003u);
  EXPECT_EQ(format_record_list(list), head + ",39999-40002");
  EXPECT_EQ(parse_record_list(format_record_list(list), 40002).ranges, list.ranges);
}

class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"A", 'N', 2}};
    layout.records = {" 0", " 1", " 2", " 3", " 4", " 5"};
    layout.deleted = {false, true, false, false, false, false};
    write_bytes(dir_.file("t.dbf"), build_dbf(layout));
    table_ = open_table(dir_.file("t.dbf"));
    ASSERT_TRUE(table_);
  }
  bool deleted(uint32_t q) {
    RecordView view = std::move(table_->view);
    table_->view = RecordView();
    bool marked = read_delete_flag(*table_, q) && table_->delete_flag == '*';
    table_->view = std::move(view);
    return marked;
  }
  TempDir dir_;
  std::unique_ptr<Table> table_;
};

TEST_F(SelectionTest, ListsFromSelectionsThroughEveryView) {
  struct Case {
    std::optional<std::vector<uint32_t>> list, sort;
    bool reverse;
    std::string formatted;
  } cases[] = {
      {{}, {}, false, "1,3-4"},
      {{}, {}, true, "3-4,6"},
      {std::vector<uint32_t>{0, 2, 4, 5}, {}, false, "1-2"},
      {std::vector<uint32_t>{0, 2, 4, 5}, std::vector<uint32_t>{3, 1, 2, 0}, false, "2,4"},
      {std::vector<uint32_t>{0, 2, 4, 5}, std::vector<uint32_t>{3, 1, 2, 0}, true, "1,3"},
  };
  for (const Case& c : cases) {
    table_->view.visible_list = c.list;
    table_->view.sort_order = c.sort;
    table_->view.reverse = c.reverse;
    EXPECT_EQ(format_record_list(record_list_from_selection(*table_, {3, 0, 2})), c.formatted);
  }
}

TEST_F(SelectionTest, GroupOperationsActOncePerListedRecord) {
  auto flags = [&] {
    std::string out;
    for (uint32_t q = 0; q < 6; ++q) out += deleted(q) ? '*' : '.';
    return out;
  };
  table_->view.reverse = true;
  ASSERT_EQ(apply_record_list(*table_, RecordAction::kDelete, parse_record_list("1-2", 6)), Status::kOk);
  EXPECT_EQ(flags(), ".*..**");
  // An overlapping item inverts its records once, not twice.
  ASSERT_EQ(apply_record_list(*table_, RecordAction::kInvert, parse_record_list("1-3,2", 6)), Status::kOk);
  EXPECT_EQ(flags(), ".*.*..");
  ASSERT_EQ(apply_record_list(*table_, RecordAction::kRecall, parse_record_list("1,3", 6)), Status::kOk);
  EXPECT_EQ(flags(), ".*....");

  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(apply_record_list(*table_, RecordAction::kDelete, parse_record_list("1-4000000000", 6)), Status::kOk);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(flags(), "******");
}

}  // namespace
}  // namespace kora
