// Filter runs over a small table: merging with the stored text, hidden
// deleted records, the direction, a stopped or failed run; the cursor's
// record found again; a 100,000-record table against a naive evaluation.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/record_ops.h"
#include "tools/condition.h"
#include "tools/filter.h"

namespace kora {
namespace {

using namespace kora::test;
using List = std::vector<uint32_t>;

std::unique_ptr<Table> make_table(const TempDir& dir, const DbfLayout& layout) {
  std::string path = dir.file("t.dbf");
  write_bytes(path, build_dbf(layout));
  return open_table(path);
}

// NAME C3, A N3: A of records 0..5 is 1 2 3 -1 2 5; records 1 and 5 deleted.
DbfLayout small_spec() {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 3}, {"A", 'N', 3}};
  layout.records = {"ANN  1", "BOB  2", "CID  3", "DAN -1", "EVE  2", "FAY  5"};
  layout.deleted = {false, true, false, false, false, true};
  return layout;
}

struct FilterCase {
  const char* story;
  std::optional<List> list_before;
  std::string text_before;
  FilterSource source;
  std::string expression;
  bool hide_deleted;
  std::optional<List> expected;  // none: the run had nothing to do
  std::string expected_text;
};

TEST(FilterTest, TableOfRuns) {
  const FilterCase cases[] = {
      {"a new filter", {}, "", FilterSource::kExpression, "A>1", false, List{1, 2, 4, 5}, "A>1"},
      {"merged with the stored text", List{1, 2, 4, 5}, "A>1", FilterSource::kExpression, "A<5", false, List{1, 2, 4},
       "(A>1)&(A<5)"},
      {"narrows the records visible now", List{0, 1, 2}, "", FilterSource::kExpression, "A>1", false, List{1, 2},
       "A>1"},
      {"a list set in another order keeps it", List{4, 2, 0}, "", FilterSource::kExpression, "A>1", false, List{4, 2},
       "A>1"},
      {"entries past a file that shrank drop", List{1, 2, 4, 5, 9}, "", FilterSource::kExpression, "A>1", false,
       List{1, 2, 4, 5}, "A>1"},
      {"negative values compare as numbers", {}, "", FilterSource::kExpression, "A<0", false, List{3}, "A<0"},
      {"hidden deleted records", {}, "", FilterSource::kExpression, "A>1", true, List{2, 4}, "A>1"},
      {"all records drops the deleted only", List{1, 2, 4, 5}, "A>1", FilterSource::kAllRecords, "", true, List{2, 4},
       "A>1"},
      {"the stored text again", {}, "A>1", FilterSource::kStored, "", false, List{1, 2, 4, 5}, "A>1"},
      {"nothing stored to run again", {}, "", FilterSource::kStored, "", false, {}, ""},
      {"unbalanced parentheses pass nothing", {}, "", FilterSource::kExpression, "(A>1", false, List{}, "(A>1"},
  };
  for (const FilterCase& c : cases) {
    TempDir dir;
    auto table = make_table(dir, small_spec());
    table->view.visible_list = c.list_before;
    table->view.filter_expr = c.text_before;
    table->view.hide_deleted = c.hide_deleted;
    table->view.sort_order = List(visible_count(*table), 0);
    ASSERT_EQ(apply_filter(*table, {c.source, c.expression}), Status::kOk) << c.story;
    EXPECT_EQ(table->view.visible_list, c.expected) << c.story;
    EXPECT_EQ(table->view.filter_expr, c.expected_text) << c.story;
    EXPECT_EQ(table->view.sort_order.has_value(), !c.expected) << c.story;
  }
}

TEST(FilterTest, ReverseKeepsTheListAscendingAndShowsItFromTheEnd) {
  TempDir dir;
  auto table = make_table(dir, small_spec());
  table->view.reverse = true;
  ASSERT_EQ(apply_filter(*table, {FilterSource::kExpression, "A>1"}), Status::kOk);
  EXPECT_EQ(table->view.visible_list, (List{1, 2, 4, 5}));
  EXPECT_EQ(physical_record(*table, 0), 5u);
  EXPECT_EQ(visible_to_physical(*table, 0), 1u);
  EXPECT_EQ(visible_to_physical(*table, 4), kNoRecord);
}

TEST(FilterTest, StoppedOrFailedRunLeavesViewAndTextAsTheyWere) {
  TempDir dir;
  auto table = make_table(dir, small_spec());
  ASSERT_EQ(apply_filter(*table, {FilterSource::kExpression, "A>1"}), Status::kOk);
  table->view.sort_order = List{3, 2, 1, 0};
  const RecordView before = table->view;
  auto stop = [](uint64_t, uint64_t) { return false; };
  EXPECT_EQ(apply_filter(*table, {FilterSource::kExpression, "A<5"}, stop), Status::kAborted);
  EXPECT_EQ(table->view.visible_list, before.visible_list);
  EXPECT_EQ(table->view.sort_order, before.sort_order);
  EXPECT_EQ(table->view.filter_expr, "A>1");

  int fd = table->fd;
  table->fd = -1;  // every read fails
  EXPECT_EQ(apply_filter(*table, {FilterSource::kExpression, "A<5"}), Status::kReadError);
  table->fd = fd;
  EXPECT_EQ(table->view.visible_list, before.visible_list);
  EXPECT_EQ(table->view.filter_expr, "A>1");
}

struct PositionCase {
  std::optional<List> list;
  std::optional<List> sort;
  bool reverse;
  uint32_t q;
  uint32_t expected;
};

TEST(FilterTest, ViewPositionOfARecordAfterTheViewChanged) {
  const PositionCase cases[] = {
      {{}, {}, false, 4, 4},          {{}, {}, true, 4, 1},
      {{}, {}, false, 6, kNoRecord},  {List{1, 2, 4, 5}, {}, false, 4, 2},
      {List{1, 2, 4, 5}, {}, true, 4, 1}, {List{1, 2, 4, 5}, {}, false, 3, kNoRecord},
      {List{1, 2, 4, 5}, List{3, 2, 0, 1}, false, 4, 1}, {List{1, 2, 4, 5}, List{3, 2, 0, 1}, true, 4, 2},
      {List{5, 0, 3}, {}, false, 3, 2},  // set from a selection in view order
  };
  TempDir dir;
  auto table = make_table(dir, small_spec());
  for (const PositionCase& c : cases) {
    table->view.visible_list = c.list;
    table->view.sort_order = c.sort;
    table->view.reverse = c.reverse;
    uint32_t p = view_position_of(*table, c.q);
    EXPECT_EQ(p, c.expected) << "record " << c.q;
    if (p != kNoRecord) {
      EXPECT_EQ(physical_record(*table, p), c.q);
    }
  }
}

// Chunked reads and runs of a list give what one record at a time gives.
TEST(FilterTest, LargeTableMatchesNaiveEvaluation) {
  DbfLayout layout;
  layout.fields = {{"ID", 'N', 7}, {"AMOUNT", 'N', 8, 2}};
  uint32_t seed = 1;
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1103515245 + 12345;
    char row[32];
    std::snprintf(row, sizeof row, "%7d%8.2f", i, int(seed >> 16) % 20001 / 100.0 - 100.0);
    layout.records.push_back(row);
    layout.deleted.push_back(seed % 17 == 0);
  }
  TempDir dir;
  auto table = make_table(dir, layout);
  ASSERT_TRUE(table);
  table->view.hide_deleted = true;
  List every_third;
  for (uint32_t q = 0; q < table->record_count; ++q) {
    if (q % 3 != 1) every_third.push_back(q);
  }
  for (const std::optional<List>& before : {std::optional<List>(), std::optional<List>(every_third)}) {
    table->view.visible_list = before;
    List naive;
    for (uint32_t k = 0; k < visible_count(*table); ++k) {
      ASSERT_EQ(read_record(*table, k), 1);
      RecordImage image(table->record.data(), table->record_size);
      if (evaluate_condition(*table, image, "AMOUNT>0", {false, true})) naive.push_back(physical_record(*table, k));
    }
    ASSERT_EQ(apply_filter(*table, {FilterSource::kExpression, "AMOUNT>0"}), Status::kOk);
    EXPECT_EQ(*table->view.visible_list, naive);
    table->view.filter_expr.clear();
  }
}

}  // namespace
}  // namespace kora
