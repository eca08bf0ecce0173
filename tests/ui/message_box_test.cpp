#include "ui/message_box.h"

#include <gtest/gtest.h>

#include "popup_fixture.h"

namespace kora::test {
namespace {

using MessageBoxTest = PopupTest;

// On 80x25, "Hello" under "Note" with one button is 18 wide (the button
// row), so the frame runs from column 29 to 50 and from row 9 to row 15.
TEST_F(MessageBoxTest, OneButtonBoxIsDrawnCentredWithTitleTextSeparatorAndButton) {
  press({kEnter});
  EXPECT_EQ(message_box("Hello", "Note", "OK", 0, 5), 0);
  ASSERT_EQ(seen_.size(), 1u);

  EXPECT_EQ(seen_text(0, 29, 9, 1), "\xC9");
  EXPECT_EQ(seen_text(0, 50, 9, 1), "\xBB");
  EXPECT_EQ(seen_text(0, 29, 15, 22), std::string("\xC8").append(20, '\xCD') + "\xBC");
  EXPECT_EQ(seen_text(0, 29, 10, 22), std::string("\xBA").append(20, ' ') + "\xBA");
  EXPECT_EQ(seen_text(0, 28, 10, 1), text_at(28, 10, 1));  // outside untouched

  EXPECT_EQ(seen_text(0, 37, 9, 6), " Note ");
  EXPECT_EQ(seen_attr(0, 38, 9), 0x74);
  EXPECT_EQ(seen_attr(0, 37, 9), 0x74);
  EXPECT_EQ(seen_text(0, 36, 11, 7), " Hello ");
  EXPECT_EQ(seen_attr(0, 37, 11), 0x71);
  EXPECT_EQ(seen_text(0, 30, 12, 20), std::string(20, ' '));
  EXPECT_EQ(seen_text(0, 30, 13, 20), std::string(20, '\xC4'));
  EXPECT_EQ(seen_attr(0, 30, 13), 0x71);
  EXPECT_EQ(seen_attr(0, 29, 13), 0x71);

  // A single button sits at cols / 2 - 8 and is always highlighted.
  EXPECT_EQ(seen_text(0, 32, 14, 16), ">      OK      <");
  EXPECT_EQ(seen_attr(0, 32, 14), 0x1F);
  EXPECT_EQ(seen_attr(0, 47, 14), 0x1F);
  EXPECT_EQ(seen_attr(0, 31, 14), 0x71);

  // Shadow: one row under the box from column 31, two columns at the right.
  EXPECT_TRUE(seen_cell(0, 31, 16).plain);
  EXPECT_FALSE(seen_cell(0, 30, 16).plain);
  EXPECT_TRUE(seen_cell(0, 52, 10).plain);
  EXPECT_FALSE(seen_cell(0, 52, 9).plain);
}

TEST_F(MessageBoxTest, ClosingRestoresEveryCellAndTheCursor) {
  press({kRight, kEnter});
  message_box("Line one\nLine two", "Question", "Yes\nNo\nCancel", 0, 0);
  EXPECT_EQ(g_screen.cells, before_);
  EXPECT_EQ(get_cursor(), 7 * 256 + 5);

  press({kEsc});
  message_box("Bad", "Error", "OK", kMessageError, 100);
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(MessageBoxTest, WidthComesFromTheLongestLineTheButtonsOrTheTitle) {
  // Later lines count one more than their length; the first does not.
  MessageBoxLayout box = message_box_layout("First line\nsecond, longer line", "T", 2);
  EXPECT_EQ(box.left, 20);
  EXPECT_EQ(box.right, 59);
  EXPECT_EQ(box.top, 9);
  EXPECT_EQ(box.bottom, 16);

  box = message_box_layout(std::string(40, 'x'), "T", 1);
  EXPECT_EQ(box.left, 18);
  EXPECT_EQ(box.right, 61);

  box = message_box_layout(std::string(39, 'x') + "\n" + std::string(39, 'y'), "T", 1);
  EXPECT_EQ(box.left, 18);
  EXPECT_EQ(box.right, 61);

  box = message_box_layout("x", "A very long title for this box", 1);
  EXPECT_EQ(box.left, 21);
  EXPECT_EQ(box.right, 58);

  // Three lines: the box grows by one row per line, the buttons stay at the
  // bottom, the text starts two rows under the top.
  box = message_box_layout("a\nb\nc", "T", 1);
  EXPECT_EQ(box.top, 8);
  EXPECT_EQ(box.bottom, 16);
}

TEST_F(MessageBoxTest, MultiLineTextAndSeveralButtonsAreLaidOutRowByRow) {
  press({kEnter});
  message_box("First line\nsecond, longer line", "Two", "OK\nCancel", 0, 0);
  EXPECT_EQ(seen_text(0, 35, 11, 10), "First line");
  EXPECT_EQ(seen_text(0, 30, 12, 19), "second, longer line");
  EXPECT_EQ(seen_text(0, 21, 13, 38), std::string(38, ' '));
  EXPECT_EQ(seen_text(0, 21, 14, 38), std::string(38, '\xC4'));
  // Two buttons: the first at (80 - 36) / 2 + 1, the next 18 further.
  EXPECT_EQ(seen_text(0, 23, 15, 16), ">      OK      <");
  EXPECT_EQ(seen_text(0, 41, 15, 16), ">    Cancel    <");
  EXPECT_EQ(seen_attr(0, 23, 15), 0x1F);
  EXPECT_EQ(seen_attr(0, 41, 15), 0x71);
}

TEST_F(MessageBoxTest, AFileNameInUtf8IsShownAsItsCharactersAndSizesTheBox) {
  // Six characters, two of them wide: eight cells, centred like any line.
  const std::string name = "caf\u00e9\u570b\u8a9e";
  MessageBoxLayout box = message_box_layout("No memo file:\n" + name, "Error", 1, kMessageUtf8);
  EXPECT_EQ(box.right - box.left, message_box_layout("No memo file:\n" + std::string(8, 'x'), "Error", 1).right -
                                      message_box_layout("No memo file:\n" + std::string(8, 'x'), "Error", 1).left);
  press({kEnter});
  message_box("No memo file:\n" + name, "Error", "OK", kMessageUtf8, 0);
  EXPECT_NE(seen_row_utf8(0, 12).find(" " + name + " "), std::string::npos) << seen_row_utf8(0, 12);
  // Without the flag the same bytes are code page 866 characters.
  press({kEnter});
  message_box("No memo file:\n" + name, "Error", "OK", 0, 0);
  EXPECT_EQ(seen_row_utf8(1, 12).find(name), std::string::npos);
}

TEST_F(MessageBoxTest, ErrorStyleUsesTheErrorColours) {
  press({kEnter});
  message_box("Disk full", "Error", "Retry\nCancel", kMessageError | message_preselect(1), 100);
  EXPECT_EQ(seen_attr(0, 38, 9), 0x4E);  // title
  EXPECT_EQ(seen_attr(0, 21, 12), 0x4F);  // frame
  EXPECT_EQ(seen_attr(0, 36, 11), 0x4F);  // text
  EXPECT_EQ(seen_attr(0, 23, 14), 0x4F);  // the other button
  EXPECT_EQ(seen_attr(0, 41, 14), 0x0F);  // the highlighted one
}

TEST_F(MessageBoxTest, EnterChoosesEscAndF10Cancel) {
  press({kEnter});
  EXPECT_EQ(message_box("Text", "T", "OK", 0, 0), 0);
  press({kEsc});
  EXPECT_EQ(message_box("Text", "T", "OK", 0, 0), -1);
  press({kF10});
  EXPECT_EQ(message_box("Text", "T", "OK\nCancel", 0, 0), -1);
  // Esc is recognised by its low byte (Alt+letter on the console starts so).
  press({0x001B});
  EXPECT_EQ(message_box("Text", "T", "OK", 0, 0), -1);
}

TEST_F(MessageBoxTest, PreselectedButtonIsClampedToTheLast) {
  press({kEnter});
  EXPECT_EQ(message_box("Zap?", "Zap", "OK\nCancel", 0x100, 0), 1);
  press({kEnter});
  EXPECT_EQ(message_box("Zap?", "Zap", "OK\nCancel", 0x500, 0), 1);
  press({kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nAll\nCancel", 0x500 | kMessageError, 0), 3);
  press({kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nAll\nCancel", 0x201, 0), 2);
}

TEST_F(MessageBoxTest, LeftAndRightWrapOtherKeysAreIgnored) {
  press({kLeft, kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nCancel", 0, 0), 2);
  press({kRight, kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nCancel", message_preselect(2), 0), 0);
  press({kRight, kRight, kLeft, kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nCancel", 0, 0), 1);
  // Buttons have no hot letters; Tab, Up and letters do nothing.
  press({kTab, 'n', 'N', 'c', kUp, kDown, kEnter});
  EXPECT_EQ(message_box("?", "Q", "Yes\nNo\nCancel", 0, 0), 0);
  EXPECT_EQ(keys_left(), 0);
}

TEST_F(MessageBoxTest, HighlightFollowsTheKeysOnScreen) {
  press({kRight, kRight, kEnter});
  message_box("?", "Q", "Yes\nNo\nCancel", 0, 0);
  ASSERT_EQ(seen_.size(), 3u);
  // Buttons at 14, 32, 50.
  EXPECT_EQ(seen_attr(0, 14, 14), 0x1F);
  EXPECT_EQ(seen_attr(0, 32, 14), 0x71);
  EXPECT_EQ(seen_attr(1, 14, 14), 0x71);
  EXPECT_EQ(seen_attr(1, 32, 14), 0x1F);
  EXPECT_EQ(seen_attr(2, 50, 14), 0x1F);
  EXPECT_EQ(seen_text(2, 50, 14, 16), ">    Cancel    <");
}

TEST_F(MessageBoxTest, HelpTopicReachesF1) {
  int topic = -1;
  g_key_hooks.show_help = [&topic](int help_topic) { topic = help_topic; };
  // F1 comes from the terminal (not a played key) so that get_key handles it.
  headless_backend()->push_key(0x3B00);
  headless_backend()->push_key(kEnter);
  EXPECT_EQ(message_box("x", "y", "OK", 0, 100), 0);
  EXPECT_EQ(topic, 100);
}

}  // namespace
}  // namespace kora::test
