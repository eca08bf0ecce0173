// The window follows the cursor when the terminal changes size: the current
// record, column and field stay on screen after a shrink.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/navigation.h"
#include "table/record_ops.h"
#include "ui/screen.h"

namespace kora {
namespace {

using namespace kora::test;

class ResizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
  }
  void TearDown() override { reset_app_state(); }

  // 50 records; ten C(12) columns, wider together than 80 columns.
  Table& open_wide() {
    DbfLayout layout;
    for (int k = 0; k < 10; ++k) layout.fields.push_back({std::string("F").append(std::to_string(k)), 'C', 12});
    for (int i = 0; i < 50; ++i) layout.records.push_back(std::string(120, char('a' + i % 26)));
    std::string path = dir.file("wide.dbf");
    write_bytes(path, build_dbf(layout));
    int index = add_open_table(path);
    EXPECT_GE(index, 0);
    g_app.current = index;
    return *g_app.table();
  }

  TempDir dir;
};

TEST_F(ResizeTest, AShrinkKeepsTheLastRecordAndColumnInTheWindow) {
  Table& t = open_wide();
  last_record();
  last_column();
  ViewState before = view_of(t);
  keep_cursor_in_window();  // inside already: nothing moves
  EXPECT_EQ(view_of(t).top_record, before.top_record);
  EXPECT_EQ(view_of(t).first_column, before.first_column);

  screen_set_size(12, 40);
  keep_cursor_in_window();
  EXPECT_EQ(view_of(t).current_record, 49);
  EXPECT_EQ(view_of(t).current_record - view_of(t).top_record, browse_rows() - 1);
  EXPECT_EQ(view_of(t).current_column, 9);
  std::vector<ColumnSpan> spans = shown_columns(t);
  ASSERT_FALSE(spans.empty());
  EXPECT_EQ(spans.back().column, 9);
  EXPECT_LE(spans.back().x + spans.back().width, screen_cols() - 1);
  // Up moves to the record just above, still on screen.
  nav_up();
  EXPECT_GE(view_of(t).current_record, view_of(t).top_record);
}

TEST_F(ResizeTest, AShrinkKeepsTheCurrentFieldInTheFieldsView) {
  Table& t = open_wide();
  switch_view();
  last_column();
  screen_set_size(10, 80);
  keep_cursor_in_window();
  EXPECT_EQ(view_of(t).current_column, 9);
  EXPECT_GE(view_of(t).current_column, view_of(t).first_column);
  EXPECT_LE(view_of(t).current_column - view_of(t).first_column, field_rows() - 1);
}

TEST_F(ResizeTest, HomeAsksForAClearedRelayoutWhenTheFirstShownFieldChanges) {
  Table& t = open_wide();
  screen_set_size(10, 80);
  switch_view();
  last_column();
  ASSERT_GT(view_of(t).first_column, 0);
  g_app.redraw = 0;
  nav_home();
  EXPECT_EQ(view_of(t).first_column, 0);
  EXPECT_EQ(g_app.redraw, kRedrawClear | kRedrawLayout);
  g_app.redraw = 0;
  nav_home();  // nothing scrolls: the rows only
  EXPECT_EQ(g_app.redraw, kRedrawRows);
}

}  // namespace
}  // namespace kora
