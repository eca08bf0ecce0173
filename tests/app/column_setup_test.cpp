// The Column setup window on the headless screen: its rows, the keys that
// reorder, hide, fix and protect columns, Enter refused with nothing to show,
// and the grid and cell editor that follow the choices.
#include "app/column_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "program_driver.h"
#include "table/byte_order.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/screen.h"

namespace kora {
namespace {

using test::TempDir;

test::DbfLayout five_columns() {
  test::DbfLayout layout;
  layout.fields = {{"ALPHA", 'C', 5}, {"BRAVO", 'C', 5}, {"CHARLIE", 'C', 7}, {"DELTA", 'C', 5}, {"ECHO", 'C', 4}};
  layout.records = {"a0   b0   c0     d0   e0  ", "a1   b1   c1     d1   e1  "};
  return layout;
}

// The whole program: Alt+F9 and View "Col&umns" open the window, the grid
// shows the columns it leaves, and a read-only column refuses typing.
TEST(ColumnSetupProgram, TheGridAndTheCellEditorFollowTheChoices) {
  TempDir dir;
  std::string path = dir.file("five.dbf");
  test::write_bytes(path, test::build_dbf(five_columns()));
  using test::row;
  using test::run_kora;

  run_kora({path}, {kKeyAltF9, kKeyDown, ' ', kKeyEnter});
  EXPECT_EQ(row(2).substr(3, 5), "ALPHA");
  EXPECT_EQ(row(2).substr(9, 7), "CHARLIE");
  EXPECT_EQ(row(2).find("BRAVO"), std::string::npos);

  run_kora({path}, {kKeyAltV, 'u', kKeyAltDown, kKeyEnter});
  EXPECT_EQ(row(2).substr(3, 5), "BRAVO");
  EXPECT_EQ(row(2).substr(9, 5), "ALPHA");

  // ALPHA made read-only: typed Z is refused, Y in BRAVO is stored.
  run_kora({path}, {kKeyAltF9, kKeyRight, ' ', kKeyEnter, kKeyF4, 'Z', kKeyTab, 'Y', kKeyDown});
  std::vector<uint8_t> bytes = test::read_bytes(path);
  size_t record = get_le16(&bytes[8]);
  EXPECT_EQ(std::string(bytes.begin() + long(record) + 1, bytes.begin() + long(record) + 11), "a0   Y    ");
}

class ColumnSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    reset_app_state();
    path = dir.file("five.dbf");
    test::write_bytes(path, test::build_dbf(five_columns()));
    g_app.current = add_open_table(path);
    ASSERT_EQ(g_app.current, 0);
    headless_backend()->on_wait = [this] { screens.push_back(screen_rows_text()); };
  }
  void TearDown() override {
    headless_backend()->on_wait = nullptr;
    reset_app_state();
  }

  Table& table() { return *g_app.table(); }
  // Each key a moment after the one before, so that the window is seen
  // waiting between them.
  void run(const std::vector<int>& keys) {
    for (int key : keys) headless_backend()->push_key(key, at += 100);
    column_setup_command();
  }
  // First letters of the fields in column order, the shown ones before '|'.
  std::string order() {
    std::string names;
    for (int k = 0; k < table().field_count(); ++k) {
      if (k == column_count(table())) names += '|';
      names += field_name(table(), column_field(table(), k)).substr(0, 1);
    }
    return column_count(table()) == table().field_count() ? names + '|' : names;
  }
  static std::vector<std::string> screen_rows_text() {
    std::vector<std::string> rows;
    for (int y = 0; y < screen_rows(); ++y) rows.push_back(screen_row_text(y));
    return rows;
  }

  TempDir dir;
  std::string path;
  long long at = 0;
  std::vector<std::vector<std::string>> screens;
};

TEST_F(ColumnSetupTest, KeysReorderHideFixAndProtectColumns) {
  struct Case {
    const char* what;
    std::vector<int> keys;
    std::string order;  // see order()
    int fixed;
    std::string read_only;  // first letters of the read-only fields
  };
  const Case cases[] = {
      {"Alt+Down on the first row", {kKeyAltDown, kKeyEnter}, "BACDE|", 0, ""},
      {"hiding the second", {kKeyDown, ' ', kKeyEnter}, "ACDE|B", 0, ""},
      {"Space in Fixed on the third row", {kKeyDown, kKeyDown, kKeyLeft, ' ', kKeyEnter}, "ABCDE|", 3, ""},
      {"and Space there again", {kKeyDown, kKeyDown, kKeyLeft, ' ', ' ', kKeyEnter}, "ABCDE|", 2, ""},
      {"read-only", {kKeyRight, ' ', kKeyDown, kKeyDown, ' ', kKeyEnter}, "ABCDE|", 0, "AC"},
      {"'*' inverts, '-' clears", {kKeyTab, kKeyDown, ' ', '*', kKeyEnter}, "ABCDE|", 0, "ACDE"},
      {"'+' sets", {kKeyShiftTab, kKeyShiftTab, '+', '-', '+', kKeyEnter}, "ABCDE|", 0, "ABCDE"},
      {"Fixed takes no '*'", {kKeyLeft, '*', '-', kKeyEnter}, "ABCDE|", 0, ""},
      {"Insert toggles and moves down", {kKeyIns, kKeyIns, kKeyEnter}, "CDE|AB", 0, ""},
      {"Alt+End and Alt+Home", {kKeyAltEnd, kKeyUp, kKeyAltHome, kKeyEnter}, "EBCDA|", 0, ""},
      {"Alt+PgDn to the last row", {kKeyDown, kKeyAltPgDn, kKeyCtrlHome, ' ', kKeyEnter}, "CDEB|A", 0, ""},
      {"hidden columns go behind", {kKeyDown, ' ', kKeyAltUp, kKeyDown, kKeyDown, kKeyAltDown, kKeyEnter},
       "ADCE|B", 0, ""},
      {"Esc changes nothing", {kKeyAltDown, ' ', kKeyRight, ' ', kKeyEsc}, "ABCDE|", 0, ""},
      {"nor does F10", {kKeyLeft, ' ', kKeyF10}, "ABCDE|", 0, ""},
      {"Enter with every column hidden", {'-', kKeyEnter, kKeyEsc}, "ABCDE|", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_column_model(table().columns, table().field_count());
    run(c.keys);
    EXPECT_EQ(order(), c.order);
    EXPECT_EQ(table().columns.fixed, c.fixed);
    std::string read_only;
    for (int i = 0; i < table().field_count(); ++i) {
      if (table().columns.flags[size_t(i)].read_only) read_only += field_name(table(), i).substr(0, 1);
    }
    EXPECT_EQ(read_only, c.read_only);
  }
}

TEST_F(ColumnSetupTest, RowsShowNamesAndMarksAndHidingKeepsTheCursorOnShownColumns) {
  table().aliases[1] = "Second column";
  table().show_aliases = true;
  table().columns.fixed = 4;
  ViewState& view = view_of(table());
  view.current_column = 4;
  view.first_column = 4;
  // Hide the last two columns; the fourth is still fixed.
  run({kKeyCtrlEnd, ' ', kKeyUp, ' ', kKeyRight, ' ', kKeyEnter});
  ASSERT_GE(screens.size(), 7u);
  const std::vector<std::string>& first = screens[0];
  EXPECT_NE(first[2].find(" Column setup "), std::string::npos) << first[2];
  EXPECT_NE(first[3].find("  # Name                             Visible  ReadOnly Fixed"), std::string::npos);
  EXPECT_NE(first[4].find("  1 ALPHA                             [x]      [ ]      [x]"), std::string::npos) << first[4];
  EXPECT_NE(first[5].find("  2 Second column                     [x]      [ ]      [x]"), std::string::npos);
  EXPECT_NE(first[8].find("  5 ECHO                              [x]      [ ]      [ ]"), std::string::npos);
  // Before Enter: row 4 hidden and read-only, row 5 hidden.
  const std::vector<std::string>& last = screens.back();
  EXPECT_NE(last[7].find("  4 DELTA                             [ ]      [x]      [x]"), std::string::npos) << last[7];
  EXPECT_NE(last[8].find("  5 ECHO                              [ ]      [ ]      [ ]"), std::string::npos);

  EXPECT_EQ(order(), "ABC|DE");
  EXPECT_EQ(table().columns.fixed, 3);  // no more fixed columns than shown ones
  EXPECT_EQ(view.current_column, 2);
  EXPECT_EQ(view.first_column, 3);  // every shown column is fixed: none scrolls

  // Without fixed columns the first column follows the cursor back.
  reset_column_model(table().columns, table().field_count());
  view.current_column = 4;
  view.first_column = 4;
  run({kKeyCtrlEnd, ' ', kKeyUp, ' ', kKeyEnter});
  EXPECT_EQ(order(), "ABC|DE");
  EXPECT_EQ(view.current_column, 2);
  EXPECT_LE(view.first_column, view.current_column);
}

// More columns than rows: PgDn moves a screen page less six rows, and the
// window scrolls to keep the cursor's row in sight.
TEST_F(ColumnSetupTest, ALongListScrollsWithTheCursor) {
  test::DbfLayout layout;
  for (int i = 1; i <= 30; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 2});
  std::string many = dir.file("many.dbf");
  test::write_bytes(many, test::build_dbf(layout));
  g_app.current = add_open_table(many);
  run({kKeyPgDn, kKeyAltDown, kKeyEnter});
  ASSERT_GE(screens.size(), 2u);
  // Rows 4 to 21 hold 18 of the 30; the 20th is on the last of them.
  EXPECT_EQ(screens[1][21].substr(10, 7), " 20 F20") << screens[1][21];
  EXPECT_EQ(screens[1][4].substr(10, 6), "  3 F3");
  EXPECT_EQ(column_field(table(), 20), 19);
  EXPECT_EQ(column_field(table(), 19), 20);
}

}  // namespace
}  // namespace kora
