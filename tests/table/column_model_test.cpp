// The column model: order, visible and read-only flags, fixed columns, and the
// computed columns that follow the stored fields, seen through the table's
// column accessors.
#include "table/column_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "table/dbf_file.h"
#include "table/value_codec.h"

namespace kora {
namespace {

// Five character fields A..E, held only in memory.
std::unique_ptr<Table> five_fields() {
  auto table = std::make_unique<Table>();
  for (const char* name : {"A", "B", "C", "D", "E"}) {
    FieldDesc desc;
    std::strncpy(desc.name, name, 10);
    desc.type = 'C';
    desc.length = 3;
    table->fields.push_back(desc);
  }
  reset_column_model(table->columns, table->field_count());
  return table;
}

ComputedColumn computed(std::string name, std::string expression = {}, char type = 'C', int width = 20) {
  ComputedColumn column;
  column.name = std::move(name);
  column.expression = std::move(expression);
  column.type = type;
  column.width = width;
  return column;
}

std::vector<int> shown_order(const Table& table) {
  std::vector<int> order;
  for (int k = 0; k < column_count(table); ++k) order.push_back(column_field(table, k));
  return order;
}

TEST(ColumnModel, ArrangingPutsTheVisibleColumnsFirstAndKeepsFixedWithinThem) {
  struct Case {
    const char* what;
    std::vector<int> list;
    std::vector<int> hidden;
    int fixed;
    std::vector<int> order;  // the whole order, shown ones first
    int shown, fixed_after;
  };
  const Case cases[] = {
      {"as opened", {0, 1, 2, 3, 4}, {}, 0, {0, 1, 2, 3, 4}, 5, 0},
      {"second hidden", {0, 1, 2, 3, 4}, {1}, 0, {0, 2, 3, 4, 1}, 4, 0},
      {"moved and hidden", {1, 0, 2, 4, 3}, {0, 4}, 2, {1, 2, 3, 0, 4}, 3, 2},
      {"fixed past the shown", {0, 1, 2, 3, 4}, {1, 2}, 5, {0, 3, 4, 1, 2}, 3, 3},
      {"list leaves columns out", {4, 3}, {}, 0, {4, 3, 0, 1, 2}, 2, 0},
      {"unknown and repeated entries", {2, 9, -1, 2, 0, 1, 3, 4}, {}, 1, {2, 0, 1, 3, 4}, 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto table = five_fields();
    for (int column : c.hidden) table->columns.flags[size_t(column)].visible = false;
    table->columns.fixed = c.fixed;
    arrange_columns(table->columns, c.list);
    EXPECT_EQ(table->columns.order, c.order);
    EXPECT_EQ(column_count(*table), c.shown);
    EXPECT_EQ(table->columns.fixed, c.fixed_after);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(table->columns.flags[size_t(c.order[size_t(k)])].visible, k < c.shown);
  }
}

TEST(ColumnModel, ReadOnlyFollowsTheColumnWhereverItIsShown) {
  auto table = five_fields();
  table->columns.flags[3].read_only = true;
  EXPECT_TRUE(column_read_only(*table, 3));
  arrange_columns(table->columns, {3, 0, 1, 2, 4});
  EXPECT_TRUE(column_read_only(*table, 0));
  EXPECT_FALSE(column_read_only(*table, 3));
  EXPECT_FALSE(column_read_only(*table, 99));
}

TEST(ColumnModel, ComputedColumnsFollowTheFieldsUnderTheirOwnNames) {
  auto table = five_fields();
  const ComputedColumn total = computed("Total", "A+B", 'N');
  const ComputedColumn note = computed("Note", "C", 'C', 12);
  EXPECT_EQ(add_computed_column(table->columns, ComputedColumn()), -1);  // a column needs a name
  ASSERT_EQ(add_computed_column(table->columns, total), 5);
  ASSERT_EQ(add_computed_column(table->columns, note), 6);
  EXPECT_EQ(shown_order(*table), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  // Its caption is its name, with aliases shown or not.
  table->show_aliases = true;
  EXPECT_EQ(column_name(*table, 5), "Total");
  EXPECT_EQ(field_type(*table, 5), '#');
  EXPECT_TRUE(is_numeric_field(*table, 5));
  EXPECT_FALSE(is_numeric_field(*table, 6));
  EXPECT_EQ(display_width(*table, 6), 12);
  EXPECT_EQ(find_computed_column(table->columns, "TOTAL"), 5);
  EXPECT_EQ(parse_field_list(*table, "Total A"), (std::vector<int>{5, 0}));
  EXPECT_TRUE(parse_field_list(*table, "TOTAL").empty());  // field lists name them exactly

  // Hidden columns stay behind the shown ones; a new column is shown.
  table->columns.flags[0].visible = false;
  arrange_columns(table->columns, table->columns.order);
  EXPECT_TRUE(remove_computed_column(table->columns, "total"));
  EXPECT_FALSE(remove_computed_column(table->columns, "total"));
  EXPECT_EQ(shown_order(*table), (std::vector<int>{1, 2, 3, 4, 6}));
  EXPECT_EQ(column_name(*table, 5), "");
  EXPECT_EQ(add_computed_column(table->columns, computed("Again")), 5);  // the freed slot
  EXPECT_EQ(shown_order(*table), (std::vector<int>{1, 2, 3, 4, 6, 5}));
  EXPECT_EQ(table->columns.order.back(), 0);
}

TEST(ColumnModel, FieldsAndComputedColumnsShareTheSlots) {
  ColumnModel model;
  reset_column_model(model, kMaxColumns - 2);
  const ComputedColumn column = computed("X");
  EXPECT_GE(add_computed_column(model, column), 0);
  EXPECT_GE(add_computed_column(model, column), 0);
  EXPECT_EQ(add_computed_column(model, column), -1);
  EXPECT_EQ(model.shown, kMaxColumns);
}

}  // namespace
}  // namespace kora
