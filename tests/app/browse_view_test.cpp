// The browse grid and the fields view as the user sees them: the program run
// on generated tables and fixtures, keys pressed, screen cells read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/commands.h"
#include "app/navigation.h"
#include "program_driver.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "ui/backend.h"
#include "ui/key_codes.h"

namespace kora {
namespace {

using namespace kora::test;

std::string make_table(const TempDir& dir, const std::string& name, const DbfLayout& layout) {
  std::string path = dir.file(name);
  write_bytes(path, build_dbf(layout));
  return path;
}

// NUM N(5) holding 1..count and NAME C(8) "REC<n>".
DbfLayout numbered(int count) {
  DbfLayout layout;
  layout.fields = {{"NUM", 'N', 5}, {"NAME", 'C', 8}};
  for (int i = 1; i <= count; ++i) {
    char record[32];
    std::snprintf(record, sizeof record, "%5dREC%-5d", i, i);
    layout.records.push_back(record);
  }
  return layout;
}

std::string counter(long position, long count) {
  char text[64];
  std::snprintf(text, sizeof text, "%20d / %d", int(position), int(count));
  return text;
}

// The counter ends at column W-8.
std::string counter_on_screen(int length, int cols = 80) { return row(0).substr(size_t(cols - 7 - length), size_t(length)); }

// The counter text on the screen, as long as the expected one.
std::string shown_counter(long position, long count) {
  return counter_on_screen(int(counter(position, count).size()));
}

// The record number shown in the NUM column of a data row.
std::string num_at_row(int y) { return row(y).substr(3, 5); }

TEST(BrowseView, AnEmptyTableShowsHeaderFrameAndZeroCounterWithoutBars) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"AMOUNT", 'N', 8, 2}};
  std::string path = make_table(dir, "empty.dbf", layout);
  EXPECT_EQ(run_kora({path}, {}), 0);

  EXPECT_EQ(row(0).substr(0, 12), "[0]empty.dbf");
  EXPECT_EQ(shown_counter(0, 0), counter(0, 0));
  EXPECT_EQ(row(2).substr(1, 21), "* NAME       AMOUNT  ");
  EXPECT_EQ(cell_attr(3, 2), g_colors.HeaderC);
  EXPECT_EQ(cell_attr(14, 2), g_colors.HeaderN);
  EXPECT_EQ(cell_ch(0, 1), g_frames.double_frame[0]);
  EXPECT_EQ(cell_ch(79, 23), g_frames.double_frame[8]);
  EXPECT_EQ(row(3).substr(1, 78), std::string(78, char(g_frames.horizontal_single)));
  // No bars: the frame edges are whole.
  EXPECT_EQ(cell_ch(79, 3), g_frames.double_frame[5]);
  EXPECT_EQ(cell_ch(2, 23), g_frames.double_frame[7]);
  EXPECT_EQ(row(4).substr(1, 20), std::string(20, ' '));
  EXPECT_EQ(row(24).substr(0, 16), " 1Help   2Fields");
}

TEST(BrowseView, OneRecordHasNoVerticalBarAndASecondRecordBringsIt) {
  TempDir dir;
  std::string path = make_table(dir, "one.dbf", numbered(1));
  run_kora({path}, {});
  EXPECT_EQ(shown_counter(1, 1), counter(1, 1));
  EXPECT_EQ(num_at_row(4), "    1");
  EXPECT_EQ(cell_ch(79, 3), g_frames.double_frame[5]);
  // Two columns: the horizontal bar is there, thumb over the first half.
  EXPECT_EQ(cell_ch(2, 23), '<');
  EXPECT_EQ(cell_ch(77, 23), '>');
  EXPECT_EQ(cell_ch(3, 23), g_frames.scroll_thumb);
  EXPECT_EQ(cell_ch(3 + 36, 23), g_frames.scroll_thumb);
  EXPECT_EQ(cell_ch(3 + 37, 23), g_frames.scroll_track_horizontal);

  {
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    ASSERT_EQ(append_record(*table, true), 1);
  }
  run_kora({path}, {kDown});
  EXPECT_EQ(shown_counter(2, 2), counter(2, 2));
  EXPECT_EQ(cell_ch(79, 3), '^');
  EXPECT_EQ(cell_ch(79, 22), 'v');
  // The arrows are triangles, which a terminal without Unicode shows as ^ v.
  EXPECT_EQ(screen_cell(79, 3)->ch, U'\u25B2');
  EXPECT_EQ(screen_cell(79, 22)->ch, U'\u25BC');
  // Second record of two: the thumb fills the lower half of the 18-cell track.
  EXPECT_EQ(cell_ch(79, 4 + 8), g_frames.scroll_track_vertical);
  EXPECT_EQ(cell_ch(79, 4 + 9), g_frames.scroll_thumb);
  EXPECT_EQ(cell_ch(79, 4 + 17), g_frames.scroll_thumb);

  // With the hex panel open (Tools, Hex panel) the bar ends above its frame.
  run_kora({path}, {0x1400, 'x'});
  EXPECT_EQ(cell_ch(79, 18), 'v');
  EXPECT_NE(cell_ch(79, 20), g_frames.scroll_thumb);
  EXPECT_NE(cell_ch(79, 22), 'v');
}

// Fixed columns wider than the screen are shown cut, and the cursor never
// goes to a column that has no cells on the screen: End stops at the last
// shown one, and a letter typed there lands in that field.
TEST(BrowseView, FixedColumnsWiderThanTheScreenKeepTheCursorOnShownColumns) {
  TempDir dir;
  DbfLayout layout;
  for (int i = 1; i <= 6; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 20});
  layout.records = {std::string(120, ' ')};
  std::string path = make_table(dir, "wide.dbf", layout);
  // Column setup: F1..F4 fixed (84 cells, more than the 76 of the window).
  const int kAltF9 = 0x7000, kF4 = 0x3E00;
  run_kora({path}, {kAltF9, kDown, kDown, kDown, kRight, kRight, ' ', kEnter, kEnd, kRight, kF4, 'Q', kDown});
  EXPECT_EQ(row(2).substr(66, 2), "F4");
  std::vector<uint8_t> bytes = test::read_bytes(path);
  size_t record = size_t(bytes[8] | bytes[9] << 8);
  EXPECT_EQ(bytes[record + 1 + 3 * 20], 'Q');  // F4, the last column shown
  EXPECT_EQ(std::count(bytes.begin() + long(record), bytes.begin() + long(record) + 121, 'Q'), 1);
}

TEST(BrowseView, ColumnsWiderThanTheScreenScrollSoTheLastOneFits) {
  TempDir dir;
  DbfLayout layout;
  for (int i = 1; i <= 6; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 20});
  layout.records = {std::string(120, 'x')};
  std::string path = make_table(dir, "wide.dbf", layout);

  run_kora({path}, {kEnd});
  // 21 cells per column: three fit in 76 with the last one, four do not.
  EXPECT_EQ(row(2).substr(3, 2), "F4");
  EXPECT_EQ(row(2).substr(24, 2), "F5");
  EXPECT_EQ(row(2).substr(45, 2), "F6");
  EXPECT_EQ(cell_attr(45, 4), g_colors.Current);

  run_kora({path}, {kEnd, kHome});
  EXPECT_EQ(row(2).substr(3, 2), "F1");
  EXPECT_EQ(cell_attr(3, 4), g_colors.Current);

  // Right walks one column at a time; the fourth column needs a scroll.
  run_kora({path}, {kRight, kRight});
  EXPECT_EQ(row(2).substr(3, 2), "F1");
  run_kora({path}, {kRight, kRight, kRight});
  EXPECT_EQ(row(2).substr(3, 2), "F2");
  EXPECT_EQ(row(2).substr(45, 2), "F4");
}

TEST(BrowseView, ALongFieldNameWidensItsColumn) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"LONGERNAME", 'C', 3}, {"B", 'C', 2}};
  layout.records = {"abcde"};
  std::string path = make_table(dir, "names.dbf", layout);
  run_kora({path}, {});
  EXPECT_EQ(row(4).substr(1, 16), std::string(" ") + char(g_frames.vertical_single) + "abc       " +
                                      char(g_frames.vertical_single) + "de" + char(g_frames.vertical_single));
  EXPECT_EQ(row(2).substr(14, 1), "B");
}

TEST(BrowseView, RecordKeysMoveTheCurrentRowAndScrollTheWindow) {
  TempDir dir;
  std::string path = make_table(dir, "fifty.dbf", numbered(50));
  // 19 data rows on 25 lines.
  run_kora({path}, {kDown, kDown, kDown});
  EXPECT_EQ(shown_counter(4, 50), counter(4, 50));
  EXPECT_EQ(cell_attr(3, 7), g_colors.Current);
  EXPECT_EQ(cell_attr(3, 6), g_colors.Text);

  run_kora({path}, {kPgDn});
  EXPECT_EQ(shown_counter(19, 50), counter(19, 50));
  EXPECT_EQ(num_at_row(4), "    1");
  run_kora({path}, {kPgDn, kPgDn});
  EXPECT_EQ(shown_counter(37, 50), counter(37, 50));
  EXPECT_EQ(num_at_row(22), "   37");

  run_kora({path}, {kCtrlEnd});
  EXPECT_EQ(shown_counter(50, 50), counter(50, 50));
  EXPECT_EQ(num_at_row(4), "   32");
  EXPECT_EQ(num_at_row(22), "   50");
  run_kora({path}, {kCtrlEnd, kPgUp, kCtrlHome});
  EXPECT_EQ(shown_counter(1, 50), counter(1, 50));
  EXPECT_EQ(num_at_row(4), "    1");

  run_kora({path}, {kCtrlPgDn});
  EXPECT_EQ(shown_counter(19, 50), counter(19, 50));
  EXPECT_EQ(num_at_row(4), "    1");
  run_kora({path}, {kCtrlPgDn, kCtrlPgUp});
  EXPECT_EQ(shown_counter(1, 50), counter(1, 50));
  // On the top row already, Ctrl+PgUp goes up a page.
  run_kora({path}, {kCtrlEnd, kCtrlPgUp, kCtrlPgUp});
  EXPECT_EQ(shown_counter(14, 50), counter(14, 50));
  EXPECT_EQ(num_at_row(4), "   14");

  run_kora({path}, {kCtrlDown, kCtrlDown});
  EXPECT_EQ(shown_counter(3, 50), counter(3, 50));
  EXPECT_EQ(num_at_row(4), "    3");
  run_kora({path}, {kCtrlDown, kCtrlDown, kCtrlUp});
  EXPECT_EQ(num_at_row(4), "    2");
  EXPECT_EQ(shown_counter(2, 50), counter(2, 50));

  run_kora({path}, {kUp, kLeft, kCtrlHome});
  EXPECT_EQ(shown_counter(1, 50), counter(1, 50));

  // Ctrl+End in the smallest window shows the last four records; grown or
  // shrunk, the window still ends with the last record.
  for (auto [rows, cols, keys, first] : {std::tuple{10, 40, std::vector<int>{kCtrlEnd}, "   47"},
                                         {10, 40, {kCtrlEnd, resize_to(25, 80)}, "   32"},
                                         {25, 80, {kCtrlEnd, resize_to(10, 40)}, "   47"}}) {
    run_kora({path}, keys, rows, cols);
    EXPECT_EQ(num_at_row(4), first);
    EXPECT_EQ(num_at_row(screen_rows() - 3), "   50");
  }
}

TEST(BrowseView, ColumnKeysMoveTheCurrentCell) {
  TempDir dir;
  std::string path = make_table(dir, "cols.dbf", numbered(3));
  run_kora({path}, {kRight});
  EXPECT_EQ(cell_attr(9, 4), g_colors.Current);
  EXPECT_EQ(cell_attr(3, 4), g_colors.Text);
  run_kora({path}, {kTab, kShiftTab});
  EXPECT_EQ(cell_attr(3, 4), g_colors.Current);
  run_kora({path}, {kCtrlRight});
  EXPECT_EQ(cell_attr(9, 4), g_colors.Current);
  run_kora({path}, {kCtrlRight, kCtrlLeft});
  EXPECT_EQ(cell_attr(3, 4), g_colors.Current);
  // The horizontal thumb follows the current column.
  run_kora({path}, {kRight});
  EXPECT_EQ(cell_ch(3, 23), g_frames.scroll_track_horizontal);
  EXPECT_EQ(cell_ch(3 + 37, 23), g_frames.scroll_thumb);
}

TEST(BrowseView, ReverseOrderCountsFromTheLastRecord) {
  TempDir dir;
  std::string path = make_table(dir, "rev.dbf", numbered(30));
  run_kora({"/r+", path}, {kDown});
  EXPECT_EQ(num_at_row(4), "   30");
  EXPECT_EQ(num_at_row(5), "   29");
  EXPECT_EQ(shown_counter(2, 30), counter(2, 30));

  // The View menu's Reverse turns it back.
  run_kora({"/r+", path}, {kAltV, 'r'});
  EXPECT_EQ(num_at_row(4), "    1");
}

// The view painted directly, for states that commands of other features set.
struct DirectView {
  explicit DirectView(const std::string& path) {
    reset_app_state();
    screen_open_headless(25, 80);
    g_app.current = add_open_table(path);
  }
  ~DirectView() { reset_app_state(); }
  Table& table() { return *g_app.table(); }
  void paint() {
    full_repaint();
    paint_view();
  }
};

TEST(BrowseView, AFilterOrSortShowsTheRecordNumberInTheCounter) {
  TempDir dir;
  DirectView view(make_table(dir, "list.dbf", numbered(10)));
  view.table().view.visible_list = std::vector<uint32_t>{1, 4, 8};
  current_state().view.current_record = 1;
  view.paint();
  char text[64];
  std::snprintf(text, sizeof text, "%20d (%d) / %d", 2, 5, 3);
  EXPECT_EQ(counter_on_screen(int(std::strlen(text))), text);
  EXPECT_EQ(cell_attr(80 - 8, 0), g_colors.Status2);
  EXPECT_EQ(num_at_row(4), "    2");
  EXPECT_EQ(num_at_row(5), "    5");
  EXPECT_EQ(num_at_row(6), "    9");
  // Rows below the last record keep the column lines.
  EXPECT_EQ(cell_ch(2, 7), g_frames.vertical_single);
  EXPECT_EQ(cell_ch(8, 7), g_frames.vertical_single);

  RecordView sorted;
  sorted.sort_order = std::vector<uint32_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  sorted.reverse = true;
  ASSERT_EQ(install_record_view(view.table(), sorted), 1);
  current_state().view.current_record = 0;
  view.paint();
  std::snprintf(text, sizeof text, "%20d (%d) / %d", 1, 1, 10);
  EXPECT_EQ(counter_on_screen(int(std::strlen(text))), text);
}

TEST(BrowseView, FixedColumnsStayOnTheLeft) {
  TempDir dir;
  DbfLayout layout;
  for (int i = 1; i <= 6; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 20});
  layout.records = {std::string(120, 'x')};
  DirectView view(make_table(dir, "wide.dbf", layout));
  view.table().columns.fixed = 1;
  last_column();
  view.paint();
  EXPECT_EQ(row(2).substr(3, 2), "F1");
  EXPECT_EQ(row(2).substr(24, 2), "F5");
  EXPECT_EQ(row(2).substr(45, 2), "F6");
}

TEST(BrowseView, DeletedRecordsAndTheSelectionAreMarkedInTheFirstColumn) {
  TempDir dir;
  DbfLayout layout = numbered(3);
  layout.deleted = {false, true, true};
  DirectView view(make_table(dir, "marks.dbf", layout));
  current_state().selection = {2};
  view.paint();
  EXPECT_EQ(cell_ch(1, 4), ' ');
  EXPECT_EQ(cell_ch(1, 5), '*');
  EXPECT_EQ(cell_attr(1, 5), g_colors.Deleted);
  EXPECT_EQ(cell_attr(3, 5), g_colors.Deleted);
  EXPECT_EQ(cell_ch(1, 6), 251);
  EXPECT_EQ(cell_attr(1, 6), g_colors.Selected);
  EXPECT_EQ(cell_attr(3, 6), g_colors.Deleted);
  EXPECT_EQ(cell_attr(3, 4), g_colors.Current);
}

TEST(BrowseView, TheBlockMarkColoursItsRectangle) {
  TempDir dir;
  std::string path = make_table(dir, "block.dbf", numbered(5));
  run_kora({path}, {'*', kDown, kDown, kRight});
  for (int y = 4; y <= 6; ++y) {
    EXPECT_EQ(cell_attr(3, y), g_colors.Current) << y;
    EXPECT_EQ(cell_attr(9, y), g_colors.Current) << y;
  }
  EXPECT_EQ(cell_attr(3, 7), g_colors.Text);
  run_kora({path}, {'*', kDown, '*'});
  EXPECT_EQ(cell_attr(3, 4), g_colors.Text);
}

TEST(BrowseView, TheFieldsViewShowsOneRecordWithNamesOnTheLeft) {
  TempDir dir;
  std::string path = make_table(dir, "fields.dbf", numbered(4));
  run_kora({path}, {kF2});
  // Names 4 wide: the line at column 6, values from 7.
  EXPECT_EQ(row(3).substr(1, 4), "NUM ");
  EXPECT_EQ(row(4).substr(1, 4), "NAME");
  EXPECT_EQ(cell_ch(6, 3), g_frames.vertical_single);
  EXPECT_EQ(row(3).substr(7, 5), "    1");
  EXPECT_EQ(row(4).substr(7, 8), "REC1    ");
  EXPECT_EQ(cell_attr(7, 3), g_colors.Current);
  EXPECT_EQ(cell_attr(1, 4), g_colors.HeaderC);
  EXPECT_EQ(cell_attr(1, 3), g_colors.HeaderN);
  EXPECT_EQ(row(24).substr(8, 8), " 2Browse");

  run_kora({path}, {kF2, kDown, kRight, kRight});
  EXPECT_EQ(row(3).substr(7, 5), "    3");
  EXPECT_EQ(cell_attr(7, 4), g_colors.Current);
  EXPECT_EQ(shown_counter(3, 4), counter(3, 4));

  run_kora({path}, {kF2, kEnd, kLeft, kF2});
  EXPECT_EQ(row(2).substr(1, 6), "* NUM ");
  EXPECT_EQ(cell_attr(9, 4), g_colors.Current);
}

TEST(BrowseView, ANullValueShowsEmptyInTheGridAndAsNullInTheFieldsViewWithoutItsFlagsField) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"NAME", 'C', 6, 0, 0x02}, {"CITY", 'C', 6, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
  layout.records = {"Alice Paris \x01"};  // NAME is null
  std::string path = make_table(dir, "null.dbf", layout);
  run_kora({path}, {});
  EXPECT_EQ(row(2).substr(1, 16), "* NAME   CITY   ");
  EXPECT_EQ(row(2).find("_Null"), std::string::npos);
  EXPECT_EQ(row(4).substr(3, 6), "      ");
  EXPECT_EQ(row(4).substr(10, 6), "Paris ");
  run_kora({path}, {kF2});
  EXPECT_EQ(row(3).substr(7, 6), ".NULL.");
  EXPECT_EQ(row(4).substr(7, 6), "Paris ");
  EXPECT_EQ(row(5).find("_Null"), std::string::npos);
}

TEST(BrowseView, TheHexPanelShowsTheBytesOfTheCurrentRecord) {
  TempDir dir;
  std::string path = make_table(dir, "hex.dbf", numbered(3));
  run_kora({path}, {kDown, kAltT, 'x'});
  // Panel rows 20..22; the window ends at row 18.
  EXPECT_EQ(row(20).substr(3, 5), "    2");
  EXPECT_EQ(row(21).substr(3, 5), "22223");
  EXPECT_EQ(row(22).substr(3, 5), "00002");
  EXPECT_EQ(row(20).substr(9, 4), "REC2");
  EXPECT_EQ(row(21).substr(9, 4), "5443");
  EXPECT_EQ(row(22).substr(9, 4), "2532");
  EXPECT_EQ(cell_ch(0, 19), g_frames.hex_frame[0]);
  EXPECT_EQ(num_at_row(18), "     ");
  EXPECT_EQ(num_at_row(5), "    2");
}

TEST(BrowseView, ScrollBarEdgesRedrawnUnderTheHexPanelKeepItsFrameJoint) {
  TempDir dir;
  std::string path = make_table(dir, "joint.dbf", numbered(2));
  // Shift+F8 leaves one record: the vertical bar goes, the edges are redrawn.
  run_kora({path}, {kAltT, 'x', 0x5B00});
  EXPECT_EQ(cell_ch(79, 3), g_frames.vertical_double);
  EXPECT_EQ(cell_ch(79, 19), g_frames.hex_frame[2]);
  EXPECT_EQ(cell_ch(0, 19), g_frames.hex_frame[0]);
}

// After the terminal shrinks every row is painted again: the screen is the
// one a program started at the small size shows, cell for cell, the key
// bar's last columns included (the clock aside).
TEST(BrowseView, AShrunkTerminalKeepsNothingOfTheBiggerScreen) {
  TempDir dir;
  DbfLayout layout;
  for (int i = 1; i <= 7; ++i) layout.fields.push_back({std::string("F").append(std::to_string(i)), 'C', 20});
  for (int i = 0; i < 60; ++i) layout.records.push_back(std::string(140, char('a' + i % 26)));
  std::string path = make_table(dir, "shrink.dbf", layout);
  auto cells = [] {
    std::vector<Cell> all;
    for (int y = 0; y < screen_rows(); ++y) {
      for (int x = 0; x < screen_cols(); ++x) {
        bool clock = y == 0 && x >= screen_cols() - 7 && x <= screen_cols() - 2;
        all.push_back(clock ? Cell{} : *screen_cell(x, y));
      }
    }
    return all;
  };
  run_kora({path}, {kDown, resize_to(30, 100)}, 43, 132);
  ASSERT_EQ(screen_rows(), 30);
  std::vector<Cell> shrunk = cells();
  run_kora({path}, {kDown}, 30, 100);
  std::vector<Cell> fresh = cells();
  for (size_t i = 0; i < fresh.size(); ++i) {
    ASSERT_EQ(shrunk[i], fresh[i]) << "row " << i / 100 << " column " << i % 100;
  }
}

TEST(BrowseView, AliasesAndCodePageKeysFlipTheirLabels) {
  TempDir dir;
  std::string path = make_table(dir, "labels.dbf", numbered(1));
  // F12 is off an 80-column screen; use a wide one.
  run_kora({path}, {}, 25, 100);
  EXPECT_EQ(row(24).substr(88, 8), "12Ansi  ");
  run_kora({path}, {kF12}, 25, 100);
  EXPECT_EQ(row(24).substr(88, 8), "12OEM   ");
  run_kora({path}, {kShiftF12}, 25, 100, 1);
  EXPECT_EQ(row(24).substr(88, 8), "12OEM   ");
  EXPECT_EQ(row(24).substr(8, 8), " 2Info  ");
}

TEST(BrowseView, FieldNamesInWindows1251AreShownConvertedFromTheStart) {
  TempDir dir;
  DbfLayout layout;
  // "\xC0\xCE\xC5" and "\xD3\xC0" are Windows-1251 capitals; the values are plain.
  layout.fields = {{"\xC0\xCE\xC5", 'C', 6}, {"\xD3\xC0", 'C', 6}};
  layout.records = {"abcdefghijkl"};
  std::string path = make_table(dir, "names.dbf", layout);
  run_kora({path}, {}, 25, 100, 1);
  EXPECT_EQ(row(2).substr(3, 3), "\x80\x8E\x85");
  // Shift+F12 now offers to show the names as stored.
  EXPECT_EQ(row(24).substr(88, 8), "12OEM   ");
}

TEST(BrowseView, TheKeyBarFollowsTheModifierHeld) {
  TempDir dir;
  std::string path = make_table(dir, "mods.dbf", numbered(1));
  run_kora({path}, {}, 25, 80, 4);
  EXPECT_EQ(row(24).substr(0, 16), " 1Lock   2Sum   ");
  run_kora({path}, {}, 25, 80, 8);
  EXPECT_EQ(row(24).substr(16, 16), " 3Filter 4Go fld");
  run_kora({path}, {}, 25, 80, 4 | 8);
  EXPECT_EQ(row(24).substr(72, 8), "10Quit  ");
}


// The screen at each wait for a key, and the resizes seen by then.
struct Picture {
  int resizes;
  ScreenSnapshot cells;
};

std::vector<Picture> pictures_of(const std::string& path, const std::vector<int>& keys, int rows, int cols) {
  std::vector<Picture> pictures;
  int before = g_screen.resize_count;
  on_screen_wait() = [&] { pictures.push_back({g_screen.resize_count - before, save_screen()}); };
  run_kora({path}, keys, rows, cols);
  on_screen_wait() = nullptr;
  return pictures;
}

// The first cell where two screens differ, the clock aside; "" when none.
std::string first_difference(const ScreenSnapshot& a, const ScreenSnapshot& b) {
  if (a.rows != b.rows || a.cols != b.cols) return "the sizes differ";
  for (int y = 0; y < a.rows; ++y) {
    for (int x = 0; x < a.cols; ++x) {
      if (y == 0 && x >= a.cols - 7) continue;
      size_t i = size_t(y) * size_t(a.cols) + size_t(x);
      if (!(a.cells[i] == b.cells[i])) return "row " + std::to_string(y) + " column " + std::to_string(x);
    }
  }
  return "";
}

// A window open while the terminal changes size is drawn at once as if it
// had been opened at the new size, over the main screen repainted at that
// size; once closed, the main screen is the one a program started at the
// new size shows. A screen too small shows only a notice meanwhile.
TEST(BrowseView, AResizeRepaintsTheOpenWindowAndWhatLiesBeneathIt) {
  TempDir dir;
  std::string plain = make_table(dir, "resize.dbf", numbered(40));
  dir.copy_fixture("php-xbase/dBase/dBaseIII.dbt", "memo.dbt");
  std::string memo = dir.copy_fixture("php-xbase/dBase/dBaseIII.dbf", "memo.dbf");
  struct Window {
    const char* name;
    const std::string& table;
    std::vector<int> keys;  // open it
  };
  const Window windows[] = {{"message box", plain, {kDown, kKeyCtrlF8}},
                            {"menu", plain, {kDown, kKeyAltF}},
                            {"dialog", plain, {kDown, kKeyAltF6}},
                            {"memo editor", memo, {kDown, kRight, kRight, kRight, kKeyEnter}}};
  struct Size {
    int rows, cols;
  };
  const std::vector<std::vector<Size>> steps = {{{20, 60}}, {{35, 110}}, {{8, 36}, {30, 100}}};
  for (const Window& window : windows) {
    for (const std::vector<Size>& sizes : steps) {
      const Size last = sizes.back();
      std::vector<int> keys = window.keys;
      for (const Size& size : sizes) keys.push_back(resize_to(size.rows, size.cols));
      // The script running out answers Esc: it closes the window, then ends the program.
      std::vector<Picture> resized = pictures_of(window.table, keys, 25, 80);
      std::vector<Picture> fresh = pictures_of(window.table, window.keys, last.rows, last.cols);
      SCOPED_TRACE(std::string(window.name) + " at " + std::to_string(last.rows) + "x" + std::to_string(last.cols));
      auto first_at = [&](int resizes) {
        for (const Picture& picture : resized) if (picture.resizes == resizes) return picture.cells;
        return ScreenSnapshot{};
      };
      if (sizes.size() > 1) {
        ScreenSnapshot tiny = first_at(1);
        ASSERT_EQ(tiny.rows, 8);
        std::string notice;
        for (int x = 0; x < tiny.cols; ++x) notice += char(cell_byte(tiny.cells[size_t(x)]));
        EXPECT_EQ(notice, "Make the window at least 40 x 10    ");
        for (size_t i = size_t(tiny.cols); i < tiny.cells.size(); ++i) ASSERT_EQ(tiny.cells[i], Cell{});
      }
      // fresh: the main screen, then the window; resized ends the same way.
      ASSERT_GE(fresh.size(), 3u);
      EXPECT_EQ(first_difference(first_at(int(sizes.size())), fresh[1].cells), "");
      EXPECT_EQ(first_difference(resized.back().cells, fresh.back().cells), "");
      EXPECT_NE(first_difference(fresh[1].cells, fresh.back().cells), "") << "no window was opened";
    }
  }
}

}  // namespace
}  // namespace kora

namespace kora {
namespace {

// Tables in code pages other than 866 and 1251 show their characters: wide
// ones over two cells with the column lines in place, the code page named on
// the status line, F12 going to the page of the same script on the other
// side of DOS and Windows; their text is never edited into bytes of the
// wrong page.
TEST(BrowseView, TablesInOtherCodePagesShowTheirCharacters) {
  TempDir dir;
  struct Case {
    const char* fixture;
    std::string shown;  // the first record's row from x = 3, in UTF-8
    const char* page;
  } cases[] = {
      {"mapshaper/dbf/cpg/big5", "\u570b\u8a9e  ", "(Big5)"},
      {"mapshaper/dbf/cpg/shiftjis", "", "(Shift-JIS)"},
      {"mapshaper/dbf/cpg/latin2", "\u010de\u0161tina", "(ISO-8859-2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    std::string name = std::string(c.fixture).substr(std::string(c.fixture).rfind('/') + 1);
    std::string path = dir.copy_fixture(std::string(c.fixture) + ".dbf", name + ".dbf");
    dir.copy_fixture(std::string(c.fixture) + ".cpg", name + ".cpg");
    DirectView view(path);
    view.paint();
    EXPECT_NE(screen_row_utf8(0).find(c.page), std::string::npos) << screen_row_utf8(0);
    std::string row = screen_row_utf8(4);
    EXPECT_EQ(row.substr(std::string("\u2551 \u2502").size(), c.shown.size()), c.shown);
    // Each wide character takes two cells: the grid keeps its columns.
    if (std::string(c.page) == "(Big5)") {
      EXPECT_EQ(screen_row_text(4).substr(2, 6), "\xB3? ?  ");
    }
  }

  std::string latin2 = dir.file("latin2.dbf");
  std::vector<uint8_t> before = read_bytes(latin2);
  {
    DirectView view(latin2);
    view.paint();
    ASSERT_EQ(edit_mode_on(), 1);
    refresh_cell_editor();  // the cell being edited shows the characters too
    EXPECT_NE(screen_row_utf8(4).find("\u010de\u0161tina"), std::string::npos) << screen_row_utf8(4);
    offer_cell_key(0x9F);  // Я, which ISO-8859-2 cannot hold: refused
    edit_mode_off(true);
  }
  EXPECT_EQ(read_bytes(latin2), before);

  // cp850.dbf is marked 1252 by its writer; F12 shows it in 850.
  DirectView view(dir.copy_fixture("dbase-rs/cp850.dbf", "cp850.dbf"));
  view.paint();
  EXPECT_NE(screen_row_utf8(0).find("(1252)"), std::string::npos) << screen_row_utf8(0);
  toggle_code_page();
  view.paint();
  EXPECT_NE(screen_row_utf8(0).find("(850)"), std::string::npos) << screen_row_utf8(0);
  EXPECT_NE(screen_row_utf8(4).find("\u00c4\u00f6\u00fc!\u00a7$%&/"), std::string::npos) << screen_row_utf8(4);
  // View, Code page lists every page kora knows; choosing one shows the text in it.
  std::vector<std::string> pages = known_code_pages();
  long koi8 = std::find(pages.begin(), pages.end(), "KOI8-R") - pages.begin();
  ASSERT_LT(koi8, long(pages.size()));
  headless_backend()->push_key(0x4700);  // Home
  for (long k = 0; k < koi8; ++k) headless_backend()->push_key(0x5000);
  headless_backend()->push_key(0x1C0D);
  run_command(Cmd::ChooseCodePage);
  view.paint();
  EXPECT_NE(screen_row_utf8(0).find("(KOI8-R)"), std::string::npos) << screen_row_utf8(0);
}

}  // namespace
}  // namespace kora
