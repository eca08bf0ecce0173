// Drawing into the screen grid, read back through the headless backend.
#include <gtest/gtest.h>

#include "ui/backend.h"
#include "ui/screen.h"

namespace kora {
namespace {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { screen_open_headless(25, 80); }
};

TEST_F(ScreenTest, PutTextStopsAtTheRightMargin) {
  g_screen.right_margin = 1;
  put_text(77, 3, "ABCDEFGHIJ", 0x1F);
  EXPECT_EQ(screen_row_text(3).substr(76), " AB ");
  g_screen.right_margin = 0;
  put_text(77, 4, "ABCDEFGHIJ", 0x1F);
  EXPECT_EQ(screen_row_text(4).substr(76), " ABC");
  put_text_n(0, 5, "ABCDEFGHIJ", 0x1F, 4);
  EXPECT_EQ(screen_row_text(5).substr(0, 6), "ABCD  ");
  EXPECT_EQ(screen_attr_at(3, 5), 0x1F);
  EXPECT_EQ(screen_attr_at(4, 5), 0x07);
}

TEST_F(ScreenTest, SpacesAreClippedLikeTextButRepeatIsNot) {
  put_repeat(0, 0, 80, 'x', 0x07);
  put_repeat(0, 1, 80, 'x', 0x07);
  g_screen.right_margin = 1;
  put_spaces(70, 0, 20, 0x30);
  EXPECT_EQ(screen_row_text(0).substr(68), "xx         x");
  put_repeat(70, 1, 20, '-', 0x30);
  EXPECT_EQ(screen_row_text(1).substr(68), "xx----------");
  put_text(-2, 2, "abcd", 0x07);  // cells left of the screen are skipped
  EXPECT_EQ(screen_row_text(2).substr(0, 3), "cd ");
}

// Characters of any script: a wide one takes two cells and is never cut in
// half at the edge of its room, a combining mark stays with its letter, and
// writing over half of a wide character blanks the other half.
TEST_F(ScreenTest, UnicodeTextTakesItsCellsWholeOrNotAtAll) {
  struct Case {
    std::u32string text;
    int room;
    int used;
    const char* shown;  // the row from x = 10, as UTF-8
  } cases[] = {
      {U"abc", 2, 2, "ab  "},
      {U"\u4e2d\u6587\u5b57", 5, 5, "\u4e2d\u6587 "},       // the third would be cut: a blank instead
      {U"\u4e2d\u6587", 4, 4, "\u4e2d\u6587 "},
      {U"e\u0301te\u0301", 3, 3, "e\u0301te\u0301 "},       // marks join their letters
      {U"\u0e01\u0e34\u0e19", 5, 2, "\u0e01\u0e34\u0e19   "},  // Thai vowel sign above
      {U"\u0416\u2500", 5, 2, "\u0416\u2500   "},
  };
  for (const Case& c : cases) {
    put_repeat(0, 0, 80, ' ', 0x07);
    EXPECT_EQ(put_unicode(10, 0, c.text, 0x07, c.room), c.used);
    std::string row = screen_row_utf8(0);
    EXPECT_EQ(row.substr(10, std::string(c.shown).size()), c.shown);
  }
  put_repeat(0, 1, 80, ' ', 0x07);
  put_unicode(0, 1, U"\u4e2d\u6587", 0x07, 10);
  put_char(1, 1, 'x', 0x07);  // over the right half of the first
  EXPECT_EQ(screen_row_utf8(1).substr(0, 5), " x\u6587");
  EXPECT_EQ(screen_row_text(1).substr(0, 4), " x? ");  // the 866 view of the grid
  g_screen.right_margin = 1;
  EXPECT_EQ(put_unicode(77, 2, U"\u4e2d\u6587", 0x07, 10), 2);  // the margin counts as the edge
  g_screen.right_margin = 0;
}

TEST_F(ScreenTest, ControlBytesShowTheirSubstitutes) {
  put_text(0, 0, std::string("\x07\x10\x11\x1e\x1f\x01\x1b\x9b", 8), 0x07);
  // 0x9B is the Cyrillic capital Yeru in code page 866 and is kept.
  EXPECT_EQ(screen_row_text(0).substr(0, 8), "@><^v..\x9b");
  put_char(10, 0, 0x00, 0x07);
  EXPECT_EQ(cell_byte(*screen_cell(10, 0)), '.');
}

TEST_F(ScreenTest, AttributeBitSevenIsIgnored) {
  put_char(0, 0, 'a', 0x9F);
  put_char(1, 0, 'a', 0x1F);
  EXPECT_EQ(*screen_cell(0, 0), *screen_cell(1, 0));
}

TEST_F(ScreenTest, BoxWithShadowCoversFrameAndOffsetShadow) {
  put_repeat(0, 0, 80, 'o', 0x17);
  for (int y = 1; y < 10; ++y) put_repeat(0, y, 80, 'o', 0x17);
  // corners given in reverse order draw the same box
  EXPECT_EQ(draw_box(14, 6, 10, 2, 0x3E, g_frames.single_frame, kBoxShadow), 0x3E);
  EXPECT_EQ(screen_row_text(2).substr(9, 8), "o\xda\xc4\xc4\xc4\xbfoo");
  EXPECT_EQ(screen_row_text(4).substr(9, 8), "o\xb3   \xb3oo");
  EXPECT_EQ(screen_row_text(6).substr(9, 8), "o\xc0\xc4\xc4\xc4\xd9oo");
  // Shadow: rows 3..7 in columns 15 and 16, row 7 from column 12.
  for (int y = 0; y < 10; ++y) {
    for (int x = 8; x < 20; ++x) {
      bool shadow = ((x == 15 || x == 16) && y >= 3 && y <= 7) || (y == 7 && x >= 12 && x <= 14);
      EXPECT_EQ(screen_cell(x, y)->plain, shadow ? 1 : 0) << x << "," << y;
    }
  }
  // The shadow keeps the character underneath.
  EXPECT_EQ(cell_byte(*screen_cell(15, 3)), 'o');
  EXPECT_EQ(screen_attr_at(12, 4), 0x3E);
}

TEST_F(ScreenTest, TitleBarBoxAndBoxAtTheEdge) {
  draw_box(0, 0, 9, 3, 0x1E, g_frames.double_frame, kBoxTitleBar);
  EXPECT_EQ(screen_row_text(0).substr(0, 11), "[]\xdb\xdb\xdb\xdb\xdb\xdb\xdb\xdb ");
  EXPECT_EQ(screen_attr_at(0, 0), 0x60);  // background from attr's foreground
  EXPECT_EQ(screen_attr_at(2, 0), 0x1E);
  EXPECT_EQ(screen_row_text(3).substr(0, 10), "\xc8\xcd\xcd\xcd\xcd\xcd\xcd\xcd\xcd\xbc");
  // A shadow that falls off the screen is not drawn and does not crash.
  draw_box(70, 20, 79, 24, 0x1E, g_frames.single_frame, kBoxShadow);
  EXPECT_EQ(cell_byte(*screen_cell(79, 24)), 0xD9);
}

TEST_F(ScreenTest, ButtonAndCentredTitle) {
  put_button(0, 0, "OK", 0x30);
  EXPECT_EQ(screen_row_text(0).substr(0, 16), ">      OK      <");
  put_button(0, 1, "Cancel", 0x30);
  EXPECT_EQ(screen_row_text(1).substr(0, 16), ">    Cancel    <");
  put_button(0, 2, "A very long label here", 0x30);
  EXPECT_EQ(screen_row_text(2).substr(0, 16), ">A very long la<");
  put_repeat(0, 3, 80, '#', 0x07);
  put_title(3, "Title", 0x1F);
  EXPECT_EQ(screen_row_text(3).substr(34, 10), "## Title #");  // s = (80 - 5) / 2 = 37
  EXPECT_EQ(screen_attr_at(36, 3), 0x1F);
}

TEST_F(ScreenTest, SaveAndRestoreBringBackEveryCell) {
  put_text(0, 0, "under", 0x1F);
  ScreenSnapshot outer = save_screen();
  draw_box(0, 0, 20, 5, 0x71, g_frames.double_frame, kBoxShadow);
  ScreenSnapshot inner = save_screen();
  draw_box(2, 1, 10, 3, 0x4F, g_frames.single_frame, 0);
  restore_screen(inner);
  EXPECT_EQ(cell_byte(*screen_cell(2, 1)), ' ');
  EXPECT_EQ(screen_attr_at(2, 1), 0x71);
  restore_screen(outer);
  EXPECT_EQ(screen_row_text(0).substr(0, 6), "under ");
  EXPECT_EQ(screen_cell(21, 3)->plain, 0);
  // A snapshot larger than a shrunken screen is clipped.
  screen_set_size(10, 10);
  restore_screen(outer);
  EXPECT_EQ(screen_row_text(0), "under     ");
}

TEST_F(ScreenTest, CursorPositionAndShape) {
  goto_xy(12, 7);
  EXPECT_EQ(get_cursor(), 7 * 256 + 12);
  put_char(0, 0, 'a', 0x07);
  EXPECT_EQ(get_cursor(), 7 * 256 + 12);
  set_cursor_shape(0x2000);
  EXPECT_EQ(g_screen.cursor_visibility, 0);
  set_cursor_shape(7);
  EXPECT_EQ(g_screen.cursor_visibility, 2);
  set_cursor_shape(0x0607);
  EXPECT_EQ(g_screen.cursor_visibility, 1);
}

TEST(ColorScheme, SlotsByNameAndDefaults) {
  ColorScheme colors = default_colors();
  EXPECT_EQ(colors.Frame, 0x1F);
  EXPECT_EQ(colors.MBtitle, 0x74);
  EXPECT_EQ(colors.MemoSelected, 0x30);
  EXPECT_EQ(color_slot_index("MenuHotSelected"), 21);
  EXPECT_EQ(color_slot_index("ErrorFrame"), 35);
  EXPECT_EQ(color_slot_index("errorframe"), -1);
  colors.slot(color_slot_index("DialogEdit")) = 0x2A;
  EXPECT_EQ(colors.DialogEdit, 0x2A);
  EXPECT_EQ(colors.slot(40), colors.MemoSelected);
}

}  // namespace
}  // namespace kora
