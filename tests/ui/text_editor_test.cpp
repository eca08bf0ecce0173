// The text editor window, driven by scripted keys on a headless 80x25 screen.
#include "ui/text_editor.h"

#include <gtest/gtest.h>

#include <string>

#include "popup_fixture.h"
#include "table/text_code_page.h"
#include "ui/key_codes.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora::test {
namespace {

constexpr int kF2 = 0x3C00, kF3 = 0x3D00, kDel = 0x5300, kIns = 0x5200, kBackspace = 0x0E08,
              kCtrlY = 0x1519, kCtrlU = 0x1615, kCtrlHome = 0x7700, kCtrlEnd = 0x7500;

class TextEditorTest : public PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_text_full_screen = 0;
    g_settings.memo_wrap = 0;
    // A script that runs out must not leave the editor waiting for ever:
    // Esc and F2 in turn end every question and the editor itself.
    auto scripted = g_key_hooks.play_next;
    g_key_hooks.play_next = [this, scripted]() {
      int key = scripted();
      if (key >= 0) {
        cursor_seen_.push_back(get_cursor());
        return key;
      }
      return ++overrun_ % 2 ? kEsc : kF2;
    };
  }
  void TearDown() override {
    EXPECT_EQ(overrun_, 0) << "the editor asked for more keys than the test gave";
    g_text_full_screen = 0;
    g_settings.memo_wrap = 0;
    PopupTest::TearDown();
  }

  // The usual window on 80x25: text area (9, 3)-(70, 21).
  std::unique_ptr<TextEditor> open(const char* text) {
    return text_create(text, 9, 3, 70, 21, 0, "Memo");
  }
  int run(TextEditor& editor) { return text_run(editor, 7, nullptr); }

  void type(std::string_view text) {
    for (unsigned char ch : text) press({ch});
  }
  std::string seen_row(size_t wait, int y) const { return seen_text(wait, 0, y, 80); }

  // The cursor (row * 256 + column) before each scripted key.
  std::vector<int> cursor_seen_;
  int overrun_ = 0;
};

std::vector<std::string> texts_of(const std::vector<TextLine>& lines) {
  std::vector<std::string> texts;
  for (const TextLine& line : lines) texts.push_back(line.text);
  return texts;
}

using Lines = std::vector<std::string>;

// A text comes back byte for byte: each line keeps its end (CR LF or LF),
// and the last line has one only when the text ended with one.
TEST(TextSplitJoin, EveryLineKeepsItsEndAndTheTextComesBackWhole) {
  struct Case {
    const char* text;
    Lines lines;
  } cases[] = {
      {"abc\r\ndef\r\n", {"abc", "def"}},
      {"abc\ndef\n\n\nghi", {"abc", "def", "", "", "ghi"}},
      {"\r\n\r\nx", {"", "", "x"}},
      {"a\rb\n", {"a\rb"}},  // a carriage return inside a line stays
      {"", {""}},
      {"\n", {""}},
      {"\n\n\n", {"", "", ""}},
      {"only line\r\n", {"only line"}},
      {"mixed\nends\r\n", {"mixed", "ends"}},
      {"\x8F\xE0\xA8\n\xA2\xA5\xE2\n", {"\x8F\xE0\xA8", "\xA2\xA5\xE2"}},  // code page 866 bytes
  };
  for (const Case& c : cases) {
    std::vector<TextLine> lines = text_split(c.text);
    EXPECT_EQ(texts_of(lines), c.lines) << c.text;
    EXPECT_EQ(text_join(lines), c.text);
  }
  // Lines a caller adds keep the ends it gives; a line that stops being the
  // last takes the text's usual end.
  std::vector<TextLine> mixed{{"a", kLineEndLf}, {"b", kLineEndCr}, {"c", kLineEndLf}};
  EXPECT_EQ(text_join(mixed), "a\nb\r\nc\n");
  std::vector<TextLine> grown = text_split("x\ny");
  grown.push_back({"z", kLineEndNone});
  EXPECT_EQ(text_join(grown), "x\ny\nz");
}

// Ctrl+Z takes back the last steps: a run of letters typed into one line is
// one step, Enter, Ctrl+Y and a join one each; with nothing left it rings.
TEST_F(TextEditorTest, CtrlZTakesBackTheLastStepsOneByOne) {
  auto editor = open("abc\ndef\n");
  const int kCtrlZ = 0x2C1A, kCtrlY = 0x1519;
  type("XY");                  // one step: "XYabc"
  press({kEnter});             // "XY" / "abc"
  press({kDown, kCtrlY});      // "def" put aside
  press({kCtrlZ});             // "def" back
  press({kCtrlZ});             // the line joined again: "XYabc"
  press({kCtrlZ, kCtrlZ});     // the letters gone; the second rings
  type("Q");
  press({kF2});
  int bells = headless_backend()->bells();
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(headless_backend()->bells(), bells + 1);
  EXPECT_EQ(editor->text, "Qabc\ndef\n");
}

// F7 asks for a text and puts the cursor on its next place, letters of
// either case alike; Alt+F7 goes on, from the top after the last; a text
// found nowhere rings the bell.
TEST_F(TextEditorTest, F7FindsATextAndAltF7FindsItAgain) {
  auto editor = open("one apple\ntwo\nan APPLE pie\n");
  const int kF7 = 0x4100, kAltF7 = 0x6E00;
  press({kF7});
  type("apple");
  press({kEnter});         // "one apple", at 4
  type("1");               // typed where it was found
  press({kAltF7});         // "an APPLE pie", at 3
  type("2");
  press({kAltF7});         // from the top again: the first line
  type("3");
  press({kF7});
  type("pear");
  press({kEnter, kEnter});  // not found: the box, and its OK
  press({kF2});
  int bells = headless_backend()->bells();
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(headless_backend()->bells(), bells + 1);
  EXPECT_EQ(editor->text, "one 13apple\ntwo\nan 2APPLE pie\n");
}

// The block, replace and undo keys, each row a script on a fresh editor
// with the clipboard as given (Windows-1251, or UTF-8); F2 ends it.
TEST_F(TextEditorTest, BlockReplaceAndUndoKeys) {
  const int kSUp = kKeyShiftUp, kSDown = kKeyShiftDown, kSLeft = kKeyShiftLeft, kSRight = kKeyShiftRight,
            kSHome = kKeyShiftHome, kSEnd = kKeyShiftEnd, kSIns = kKeyShiftIns, kSDel = kKeyShiftDel,
            kCIns = kKeyCtrlIns, kCtrlC = 0x2E03, kCtrlX = 0x2D18, kCtrlV = 0x2F16, kCtrlZ = 0x2C1A,
            kCtrlF7 = kKeyCtrlF7, kSpace = 0x3920;
  struct Case {
    const char* text;
    TextClipboard clip;
    std::vector<int> keys;
    const char* result;     // the text saved; "" when nothing was
    const char* clipboard;  // the clipboard afterwards
    int bells = 0;
  } cases[] = {
      // copy a selection, paste it at the end of the line
      {"abcdef\n", {"", false}, {kSRight, kSRight, kSRight, kCtrlC, kEnd, kCtrlV}, "abcdefabc\n", "abc"},
      // a selection over a line end is cut with the text's own line end
      {"one\r\ntwo\r\nthree\r\n", {}, {kSDown, kSRight, kCtrlX}, "wo\r\nthree\r\n", "one\r\nt"},
      // the selection goes back the way it came; Shift+Up from the line below
      {"abc\ndef\n", {}, {kDown, kRight, kSUp, kSEnd, kSLeft, kCtrlX}, "abef\n", "c\nd"},
      {"abc\ndef\n", {}, {kDown, kEnd, kSHome, kSUp, kCIns, kCtrlV}, "abc\ndef\n", "abc\ndef"},
      // typing replaces a selection, Del and Backspace remove it
      {"hello world\n", {}, {kEnd, kSLeft, kSLeft, kSLeft, kSLeft, kSLeft, 'X'}, "hello X\n", ""},
      {"a\nb\nc\n", {}, {kSDown, kDel}, "b\nc\n", ""},
      {"a\nb\nc\n", {}, {kDown, kSDown, kSRight, kBackspace}, "a\n\n", ""},
      {"ab\ncd\n", {}, {kRight, kSDown, kEnter}, "a\nd\n", ""},
      // a move without Shift ends the selection: Del deletes one character
      {"abc\n", {}, {kSRight, kSRight, kLeft, kDel}, "ac\n", ""},
      // pasted lines take the text's line end; Windows-1251 becomes 866
      {"ab\ncd\n", {"1\r\n2\r\n\xC0\xE1", false}, {kRight, kCtrlV}, "a1\n2\n\x80\xA1" "b\ncd\n", nullptr},
      {"ab\r\n", {"x\n", false}, {kEnd, kCtrlV, 'y'}, "abx\r\ny\r\n", nullptr},
      {"abc\r\n", {"Z", false}, {kSRight, kSIns}, "Zbc\r\n", nullptr},
      {"abc", {}, {kSRight, kCIns, kEnd, kSIns}, "abca", "a"},
      {"abc\nd\n", {}, {kSEnd, kSDel, kDown, kSIns}, "\nabcd\n", "abc"},
      // without a selection the keys work on the line, as in a field
      {"abc\n", {"Q", false}, {kRight, kSIns, kCtrlX}, "\n", "aQbc"},
      // a character the memo's code page lacks is refused, not stored as '?'
      {"abc\n", {"x\xE2\x82\xAC", true}, {kCtrlV, kEnter}, "", nullptr, 1},
      // a cut and each paste are one undo step; a fourth Ctrl+Z rings
      {"abc\n", {}, {kSEnd, kSDel, kCtrlV, kCtrlV, kCtrlZ, kCtrlZ, kCtrlZ, kCtrlZ}, "abc\n", "abc", 1},
      // replace: Yes, Skip, then All for the rest; ignore case is on at first
      {"cat Cat\ncat CAT\n", {}, {kCtrlF7, 'c', 'a', 't', kTab, 'd', 'o', 'g', kEnter, kEnter, kRight, kRight, kEnter,
                                  kRight, kEnter}, "dog Cat\ndog dog\n", ""},
      // with case: only the same letters; Cancel keeps what was done
      {"cat Cat cat\n", {}, {kCtrlF7, 'c', 'a', 't', kTab, 'x', kTab, kSpace, kEnter, kEnter, kEsc}, "x Cat cat\n", ""},
      // from the cursor on; the whole run is one undo step
      {"cat cat cat\n", {}, {kRight, kCtrlF7, 'c', 'a', 't', kTab, 'x', kEnter, kRight, kEnter, kCtrlZ, 'Q'},
       "cQat cat cat\n", ""},
      // found nowhere: the bell and a box
      {"cat\n", {}, {kCtrlF7, 'd', 'o', 'g', kEnter, kEnter}, "", nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    g_text_clipboard = c.clip;
    auto editor = open(c.text);
    keys_.insert(keys_.end(), c.keys.begin(), c.keys.end());
    press({kF2});
    int bells = headless_backend()->bells();
    run(*editor);
    EXPECT_EQ(editor->text, c.result);
    if (c.clipboard) {
      EXPECT_EQ(g_text_clipboard.text, c.clipboard);
    }
    EXPECT_EQ(headless_backend()->bells(), bells + c.bells);
    EXPECT_EQ(keys_left(), 0);
  }
}

// The selection shows in MemoSelected, a selected line end as one more
// cell; the rest keeps MemoText.
TEST_F(TextEditorTest, SelectionIsShownHighlighted) {
  auto editor = open("abcd\nefgh\n");
  press({kRight, kKeyShiftRight, kKeyShiftDown, kEsc});
  run(*editor);
  EXPECT_EQ(seen_attr(2, 9, 3), 0x1A);
  EXPECT_EQ(seen_attr(2, 10, 3), 0x30);
  EXPECT_EQ(seen_attr(2, 11, 3), 0x1A);
  EXPECT_EQ(seen_attr(3, 10, 3), 0x30);
  EXPECT_EQ(seen_attr(3, 13, 3), 0x30);  // the line end
  EXPECT_EQ(seen_attr(3, 14, 3), 0x1A);
  EXPECT_EQ(seen_attr(3, 10, 4), 0x30);
  EXPECT_EQ(seen_attr(3, 11, 4), 0x1A);
  EXPECT_EQ(seen_text(3, 9, 3, 4), "abcd");
}

// A text of another code page is found with its own letters of either
// case alike, the find text given in its characters.
TEST_F(TextEditorTest, FindFoldsTheTextsOwnCodePage) {
  std::shared_ptr<const CodePage> page = CodePage::of_number(1252);
  auto characters = std::make_shared<FieldCharacters>();
  characters->shown_as = [page](std::string_view bytes) { return page->to_unicode(bytes); };
  characters->from_utf8 = [page](std::string_view utf8, std::string& bytes, char32_t* bad) {
    return page->from_utf8(utf8, bytes, bad);
  };
  characters->upper_case = [page](std::string& bytes) { page->upper_case(bytes); };
  auto editor = open("Caf\xE9 au lait\nCAF\xC9\n");
  editor->characters = characters;
  g_text_clipboard = {"\xC3\x89", true};  // É
  press({kKeyF7, 0x2F16, kEnter, '!', kKeyAltF7, '?', kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->text, "Caf!\xE9 au lait\nCAF?\xC9\n");
}

// Ctrl+W wraps long lines on the screen after their last blank that fits
// (within a word that has none); Up and Down go over rows keeping the
// column, and the text keeps every byte but those typed.
TEST_F(TextEditorTest, WrapShowsLongLinesOnRowsAndKeepsTheBytes) {
  std::string words;
  for (int i = 0; i < 12; ++i) words += "word" + std::to_string(i) + " ";  // 74 characters
  std::string long_word = "x" + std::string(70, 'y');
  auto editor = open((words + "\r\nshort\n" + long_word + "\n").c_str());
  press({0x1117, kDown, kEnd, kDown, kDown, kDown});
  type("Z");
  press({kUp, kUp, kUp, kF2});
  EXPECT_EQ(run(*editor), 10);
  long_word.insert(67, "Z");
  EXPECT_EQ(editor->text, words + "\r\nshort\n" + long_word + "\n");
  // the rows after Ctrl+W: the window is 62 cells wide
  EXPECT_EQ(seen_text(1, 9, 3, 62), words.substr(0, 60) + "  ");
  EXPECT_EQ(seen_text(1, 9, 4, 15), "word10 word11  ");
  EXPECT_EQ(seen_text(1, 9, 5, 6), "short ");
  EXPECT_EQ(seen_text(1, 9, 6, 62), long_word.substr(0, 62));
  EXPECT_EQ(seen_text(1, 9, 7, 10), std::string(9, 'y') + " ");
  // Down to the second row, End (after its last letter), Down keeps the
  // column as far as the line goes
  EXPECT_EQ(cursor_seen_[2], 4 * 256 + 9);
  EXPECT_EQ(cursor_seen_[3], 4 * 256 + 22);
  EXPECT_EQ(cursor_seen_[4], 5 * 256 + 14);
  EXPECT_EQ(cursor_seen_[5], 6 * 256 + 14);
  EXPECT_EQ(cursor_seen_[6], 7 * 256 + 14);
  EXPECT_EQ(cursor_seen_[8], 6 * 256 + 15);  // Up from the Z
  EXPECT_EQ(cursor_seen_[10], 4 * 256 + 14);
  // the next editor starts wrapped too
  text_free(editor);
  EXPECT_EQ(g_settings.memo_wrap, 1);  // saved with the [Options]
  EXPECT_EQ(open("a")->wrap, 1);
}

// Wrapped, the window follows the cursor over rows: every key leaves it in
// the text area.
TEST_F(TextEditorTest, WrappedWindowFollowsTheCursorOverRows) {
  std::string text;
  for (int i = 10; i < 50; ++i) text += "L" + std::to_string(i) + std::string(97, char('a' + i % 26)) + "\n";
  auto editor = open(text.c_str());
  std::vector<int> keys{0x1117};
  for (int i = 0; i < 25; ++i) keys.push_back(kDown);
  for (int key : {kPgDn, kPgDn, kKeyCtrlEnd, kUp, kPgUp, kPgUp, kEnd, kUp, kKeyCtrlHome, kPgDn}) keys.push_back(key);
  keys_.insert(keys_.end(), keys.begin(), keys.end());
  press({kEsc});
  EXPECT_EQ(run(*editor), 1);
  // before each key after Ctrl+W the cursor is in the text area
  for (size_t i = 1; i < cursor_seen_.size(); ++i) {
    int x = cursor_seen_[i] % 256, y = cursor_seen_[i] / 256;
    ASSERT_GE(y, 3) << i;
    ASSERT_LE(y, 21) << i;
    ASSERT_GE(x, 9) << i;
    ASSERT_LE(x, 70) << i;
  }
  // 25 Downs: row 25 of the text, the second row of line 12; the window
  // scrolled by 7 rows
  EXPECT_EQ(seen_text(26, 9, 3, 3), std::string(3, char('a' + 13 % 26)));
  EXPECT_EQ(seen_text(26, 9, 4, 3), "L14");
  EXPECT_EQ(cursor_seen_[26], 21 * 256 + 9);
  // Ctrl+End: the last line's last row at the bottom
  EXPECT_EQ(seen_text(29, 9, 20, 3), "L49");
  EXPECT_EQ(editor->current, 9);  // Ctrl+Home, then PgDn: 18 rows down
  EXPECT_EQ(editor->first, 0);
}

TEST_F(TextEditorTest, AppendedLinesAreEditedLikeSplitOnes) {
  auto editor = open(nullptr);
  ASSERT_TRUE(editor);
  text_append_line(*editor, "second");
  text_append_line(*editor, "third", kLineEndLf);
  EXPECT_EQ(editor->line_count(), 3);
  press({kDown, kDown, kEnd});
  type("!");
  press({kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->text, "\r\nsecond\r\nthird!\n");
}

TEST_F(TextEditorTest, EmptyTextLeftAtOnceChangesNothing) {
  auto editor = open("");
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->line_count(), 1);
  press({kEsc});
  EXPECT_EQ(run(*editor), 1);
  EXPECT_EQ(editor->text, "");
  EXPECT_EQ(g_screen.cells, before_);
  EXPECT_EQ(get_cursor(), 7 * 256 + 5);

  // moving about changes nothing either, and F2 then leaves with 1 too
  auto moved = open("one\r\ntwo\r\n");
  press({kDown, kEnd, kLeft, kUp, kF2});
  EXPECT_EQ(run(*moved), 1);
  EXPECT_EQ(moved->text, "");
}

TEST_F(TextEditorTest, WindowIsFramedTitledAndShowsTheLinesFromTheColumnScroll) {
  auto editor = open("first\tline\r\nsecond\r\n");
  press({kEsc});
  run(*editor);
  ASSERT_EQ(seen_.size(), 1u);
  // the frame one cell around the text area, double lines, MemoFrame
  EXPECT_EQ(seen_text(0, 8, 22, 1), "\xC8");
  EXPECT_EQ(seen_text(0, 71, 22, 1), "\xBC");
  EXPECT_EQ(seen_text(0, 8, 10, 1), "\xBA");
  EXPECT_EQ(seen_text(0, 71, 10, 1), "\xBA");
  EXPECT_EQ(seen_attr(0, 8, 2), 0x1E);
  EXPECT_TRUE(seen_cell(0, 72, 10).plain);  // the shadow
  EXPECT_TRUE(seen_cell(0, 10, 23).plain);
  EXPECT_EQ(seen_text(0, 37, 2, 6), " Memo ");
  EXPECT_EQ(seen_attr(0, 38, 2), 0x1E);

  // text rows 3..21, columns 9..70, tabs as blanks, MemoText
  EXPECT_EQ(seen_text(0, 9, 3, 62), "first line" + std::string(52, ' '));
  EXPECT_EQ(seen_text(0, 9, 4, 6), "second");
  EXPECT_EQ(seen_text(0, 9, 21, 62), std::string(62, ' '));
  EXPECT_EQ(seen_attr(0, 9, 3), 0x1A);
  EXPECT_EQ(seen_attr(0, 70, 21), 0x1A);
  EXPECT_EQ(seen_text(0, 0, 10, 8), text_at(0, 10, 8));  // outside untouched
  EXPECT_EQ(g_screen.cells, before_);
}

TEST_F(TextEditorTest, EnterSplitsTheLineAtTheCursor) {
  auto editor = open("abcdef\r\nnext\r\n");
  press({kRight, kRight, kRight, kEnter});
  type("X");
  press({kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(texts_of(editor->lines), (Lines{"abc", "Xdef", "next"}));
  EXPECT_EQ(editor->text, "abc\r\nXdef\r\nnext\r\n");
  EXPECT_EQ(editor->current, 1);
  EXPECT_EQ(cursor_seen_[4], 4 * 256 + 9);  // column 0 of "def"
  // the screen before "X": the new line under the old one
  EXPECT_EQ(seen_text(4, 9, 3, 4), "abc ");
  EXPECT_EQ(seen_text(4, 9, 4, 4), "def ");
  EXPECT_EQ(seen_text(4, 9, 5, 4), "next");
}

TEST_F(TextEditorTest, EnterOnTheBottomRowScrollsTheWindow) {
  std::string text;
  for (int i = 0; i < 19; ++i) text += "line" + std::to_string(i) + "\r\n";
  auto editor = open(text.c_str());
  press({kCtrlEnd, kEnd, kEnter, kEsc, kRight, kEnter});
  EXPECT_EQ(run(*editor), 1);
  EXPECT_EQ(editor->first, 1);
  EXPECT_EQ(seen_text(3, 9, 3, 5), "line1");
  EXPECT_EQ(seen_text(3, 9, 20, 6), "line18");
  EXPECT_EQ(seen_text(3, 9, 21, 6), "      ");
}

TEST_F(TextEditorTest, BackspaceAndDelJoinLinesAtTheirEdges) {
  auto editor = open("abc\r\ndef\r\nghi\r\n");
  press({kDown, kBackspace});
  type("X");
  press({kEnd, kDel});
  type("Y");
  press({kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(texts_of(editor->lines), (Lines{"abcXdefYghi"}));
  EXPECT_EQ(editor->text, "abcXdefYghi\r\n");  // the last line end stays

  // Backspace at column 0 of the first line and Del at the end of the last
  // line do nothing; elsewhere they delete a character as in a field
  auto edges = open("abc\r\nxyz\r\n");
  press({kBackspace, kDown, kEnd, kDel, kBackspace, kF2});
  EXPECT_EQ(run(*edges), 10);
  EXPECT_EQ(texts_of(edges->lines), (Lines{"abc", "xy"}));
}

TEST_F(TextEditorTest, CtrlYRemovesALineAndCtrlUPutsItBackElsewhere) {
  auto editor = open("a\r\nb\r\nc\r\n");
  press({kCtrlY, kDown, kCtrlU, kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->text, "b\r\na\r\nc\r\n");
  EXPECT_EQ(editor->current, 1);

  // on the last line Ctrl+Y only empties it; Ctrl+U can repeat the line
  auto last = open("a\r\nb\r\n");
  press({kDown, kCtrlY, kCtrlU, kCtrlU, kF2});
  EXPECT_EQ(run(*last), 10);
  EXPECT_EQ(texts_of(last->lines), (Lines{"a", "b", "b", ""}));

  // Ctrl+Y of a line being edited keeps its new text
  auto edited = open("abc\r\nz\r\n");
  press({kEnd});
  type("d");
  press({kCtrlY, kDown, kCtrlU, kF2});
  EXPECT_EQ(run(*edited), 10);
  EXPECT_EQ(texts_of(edited->lines), (Lines{"abcd", "z"}));
}

TEST_F(TextEditorTest, CtrlUWithNothingPutAsideDoesNothing) {
  auto editor = open("a\r\nb\r\n");
  press({kCtrlU, kDown, kCtrlU, kEsc});
  EXPECT_EQ(run(*editor), 1);
  EXPECT_EQ(texts_of(editor->lines), (Lines{"a", "b"}));

  // the line put aside lives only for one run of the editor
  auto first = open("a\r\nb\r\n");
  press({kCtrlY, kEsc, kRight, kEnter});  // "Don't save"
  EXPECT_EQ(run(*first), 1);
  auto second = open("x\r\n");
  press({kCtrlU, kF2});
  EXPECT_EQ(run(*second), 1);
  EXPECT_EQ(texts_of(second->lines), (Lines{"x"}));
}

TEST_F(TextEditorTest, ClosingQuestionDecidesTheResult) {
  struct Case {
    std::initializer_list<int> keys;
    int result;
    bool built;
  };
  // Save is highlighted first; Right moves to "Don't save", then "Cancel".
  const Case cases[] = {
      {{kEsc, kEnter}, 0, true},
      {{0x4400, kEnter}, 0, true},
      {{kEsc, kRight, kEnter}, 1, false},
      {{kEsc, kRight, kRight, kEnter, kF2}, 10, true},
      {{kEsc, kEsc, kF2}, 10, true},
      {{kEsc, kEsc, kEsc, kRight, kEnter}, 1, false},
  };
  for (const Case& c : cases) {
    auto editor = open("text\r\n");
    type("new ");
    press(c.keys);
    seen_.clear();
    EXPECT_EQ(run(*editor), c.result);
    EXPECT_EQ(editor->text, c.built ? "new text\r\n" : "");
    EXPECT_EQ(keys_left(), 0);
    EXPECT_EQ(g_screen.cells, before_);
  }
  // the question itself, seen before the key that answers it
  auto editor = open("text\r\n");
  type("x");
  press({kEsc, kEnter});
  seen_.clear();
  run(*editor);
  ASSERT_EQ(seen_.size(), 3u);
  std::string screen;
  for (int y = 0; y < 25; ++y) screen += seen_row(2, y);
  EXPECT_NE(screen.find(" Attention "), std::string::npos);
  EXPECT_NE(screen.find("You've made changes since the last save."), std::string::npos);
  EXPECT_NE(screen.find(">     Save     <"), std::string::npos);
  EXPECT_NE(screen.find("Don't save"), std::string::npos);
  EXPECT_NE(screen.find("Cancel"), std::string::npos);
}

TEST_F(TextEditorTest, ReadOnlyRefusesEveryChangeAndNeverAsks) {
  auto editor = open("abc\r\ndef\r\n");
  editor->read_only = 1;
  type("xy");
  press({kEnter, kCtrlY, kCtrlU, kTab, kDown, kBackspace, kEnd, kDel, kUp, kDel, kIns});
  type("z");
  press({kEsc});
  EXPECT_EQ(run(*editor), 1);
  EXPECT_EQ(texts_of(editor->lines), (Lines{"abc", "def"}));
  EXPECT_EQ(editor->modified, 0);
  EXPECT_EQ(editor->text, "");
  // the cursor still moves: Down, then Up back to the first line
  EXPECT_EQ(editor->current, 0);
  auto f2 = open("abc\r\n");
  f2->read_only = 1;
  type("q");
  press({kF2});
  EXPECT_EQ(run(*f2), 1);
}

TEST_F(TextEditorTest, VerticalKeysScrollALongText) {
  std::string text;
  for (int i = 0; i < 50; ++i) text += "line" + std::to_string(i) + "\r\n";
  auto editor = open(text.c_str());
  // 19 rows show lines first .. first + 18
  press({kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown,
         kDown, kDown, kDown, kDown, kDown, kDown, kDown});
  press({kPgDn, kPgDn, kPgDn, kPgDn, kCtrlHome, kUp, kPgUp, kCtrlEnd, kEsc});
  EXPECT_EQ(run(*editor), 1);
  EXPECT_EQ(seen_text(18, 9, 21, 6), "line18");
  EXPECT_EQ(seen_text(18, 9, 3, 6), "line0 ");
  // the 19th Down scrolls by one line
  EXPECT_EQ(seen_text(19, 9, 3, 6), "line1 ");
  EXPECT_EQ(seen_text(19, 9, 21, 6), "line19");
  // PgDn: 18 lines further, the window too
  EXPECT_EQ(seen_text(20, 9, 3, 6), "line19");
  EXPECT_EQ(seen_text(20, 9, 21, 6), "line37");
  // the window stops with the last line at the bottom; the cursor goes on
  EXPECT_EQ(seen_text(21, 9, 3, 6), "line31");
  EXPECT_EQ(seen_text(21, 9, 21, 6), "line49");
  EXPECT_EQ(seen_text(22, 9, 21, 6), "line49");
  EXPECT_EQ(seen_text(23, 9, 3, 6), "line31");  // PgDn on the last line: nothing
  // Ctrl+Home; Up there does nothing; PgUp too
  EXPECT_EQ(seen_text(24, 9, 3, 6), "line0 ");
  EXPECT_EQ(seen_text(26, 9, 3, 6), "line0 ");
  // Ctrl+End
  EXPECT_EQ(seen_text(27, 9, 21, 6), "line49");
  EXPECT_EQ(editor->current, 49);
  EXPECT_EQ(editor->first, 31);
}

TEST_F(TextEditorTest, PgUpMovesCursorAndWindowByTheHeight) {
  std::string text;
  for (int i = 0; i < 50; ++i) text.append("L").append(std::to_string(i)).append("\r\n");
  auto editor = open(text.c_str());
  press({kCtrlEnd, kPgUp});
  type("x");
  press({kPgUp, kPgUp});
  type("y");
  press({kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->lines[31].text, "xL31");
  EXPECT_EQ(editor->lines[0].text, "Ly0");  // the column came along
  EXPECT_EQ(editor->first, 0);
}

TEST_F(TextEditorTest, CursorColumnAndOverwriteCarryToTheNextLine) {
  std::string long_line(50, 'a');
  std::string text = long_line + "\r\n0123456789\r\nABCDEFGHIJKLMNOP\r\n";
  auto editor = open(text.c_str());
  for (int i = 0; i < 40; ++i) press({kRight});
  press({kDown});
  type("X");  // column 10: the end of the short line
  press({kLeft, kLeft, kLeft, kIns, kDown});
  type("Z");  // column 8 of the third line, overwriting
  press({kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->lines[1].text, "0123456789X");
  EXPECT_EQ(editor->lines[2].text, "ABCDEFGHZJKLMNOP");
  EXPECT_EQ(editor->lines[0].text, long_line);
}

TEST_F(TextEditorTest, LongLinesScrollAllLinesTogether) {
  std::string text = std::string(70, 'x') + "END\r\n" + std::string(64, '-') + "tail\r\n";
  auto editor = open(text.c_str());
  press({kEnd, kDown, kHome, kEsc});
  EXPECT_EQ(run(*editor), 1);
  // End on a 73-character line: the cursor stands 61 cells right of the
  // first visible character (index 73 - 61 = 12), on every line alike
  EXPECT_EQ(editor->column_scroll, 0);
  EXPECT_EQ(seen_text(1, 9, 3, 62), std::string(58, 'x') + "END ");
  EXPECT_EQ(seen_text(1, 9, 4, 62), std::string(52, '-') + "tail" + std::string(6, ' '));
  // Down keeps the column (cut to the line's 68) and the scroll
  EXPECT_EQ(seen_text(2, 9, 3, 3), "xxx");
  EXPECT_EQ(seen_text(2, 9, 4, 62), std::string(52, '-') + "tail" + std::string(6, ' '));
  // Home brings every line back to column 0
  EXPECT_EQ(seen_text(3, 9, 4, 62), std::string(62, '-'));
  EXPECT_EQ(seen_text(3, 9, 3, 62), std::string(62, 'x'));
}

TEST_F(TextEditorTest, TabIsTypedIntoTheLineAndShownAsABlank) {
  auto editor = open("ab\r\n");
  press({kRight, kTab, kF2});
  EXPECT_EQ(run(*editor), 10);
  EXPECT_EQ(editor->text, "a\tb\r\n");
  EXPECT_EQ(seen_text(2, 9, 3, 4), "a b ");
}

TEST_F(TextEditorTest, F3SwitchesToFullScreenAndTheNextEditorStartsThere) {
  auto editor = open("hello\r\nworld\r\n");
  press({kF3, kDown, kF3, kF3, kEsc});
  EXPECT_EQ(run(*editor), 1);
  // full screen: text from (0, 1) to the last column and row 23, no frame
  EXPECT_EQ(seen_row(1, 1), "hello" + std::string(75, ' '));
  EXPECT_EQ(seen_row(1, 23), std::string(80, ' '));
  EXPECT_EQ(seen_attr(1, 79, 23), 0x1A);
  EXPECT_EQ(seen_text(1, 0, 0, 80), text_at(0, 0, 80));    // rows 0 and 24 kept
  EXPECT_EQ(seen_text(1, 0, 24, 80), text_at(0, 24, 80));
  EXPECT_FALSE(seen_cell(1, 72, 10).plain);
  EXPECT_EQ(seen_text(1, 0, 2, 5), "world");
  // and back: the framed window over the screen as it was
  EXPECT_EQ(seen_text(3, 9, 3, 5), "hello");
  EXPECT_EQ(seen_text(3, 8, 2, 1), "\xC9");
  EXPECT_EQ(seen_text(3, 0, 1, 8), text_at(0, 1, 8));
  EXPECT_EQ(seen_text(3, 0, 23, 8), text_at(0, 23, 8));
  EXPECT_EQ(editor->full_screen, 1);
  EXPECT_EQ(editor->x, 0);
  EXPECT_EQ(editor->y, 1);
  EXPECT_EQ(editor->height, 22);
  EXPECT_EQ(editor->width, 79);  // width + 1 cells: every column, no more

  text_free(editor);
  EXPECT_FALSE(editor);
  EXPECT_EQ(g_text_full_screen, 1);
  auto next = open("again\r\n");
  EXPECT_EQ(next->full_screen, 1);
  press({kF3, kEsc});
  seen_.clear();
  run(*next);
  EXPECT_EQ(seen_row(0, 1), "again" + std::string(75, ' '));
  text_free(next);
  EXPECT_EQ(g_text_full_screen, 0);
}

TEST_F(TextEditorTest, FullScreenSwitchKeepsTheCursorLineVisible) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "row" + std::to_string(i) + "\r\n";
  auto editor = text_create(text.c_str(), 9, 3, 70, 21, 1, "T");
  ASSERT_EQ(editor->full_screen, 1);
  press({kCtrlEnd, kF3, kEsc});
  run(*editor);
  // full screen shows 23 rows: the last line on row 23
  EXPECT_EQ(seen_text(1, 0, 23, 5), "row39");
  // the framed window of 19 rows keeps the last line on its bottom row
  EXPECT_EQ(seen_text(2, 9, 21, 5), "row39");
  EXPECT_EQ(seen_text(2, 9, 3, 5), "row21");
}

TEST_F(TextEditorTest, FullScreenUsesTheLastColumnAndKeepsTheCursorOnTheScreen) {
  g_text_full_screen = 1;
  g_screen.right_margin = 1;  // as the main window leaves it
  auto editor = open((std::string(100, 'a') + "\r\n" + std::string(90, 'b') + "\r\n").c_str());
  press({kEnd, kDown, kEsc});
  run(*editor);
  EXPECT_EQ(g_screen.right_margin, 1);
  // the cursor line reaches the last column too
  EXPECT_EQ(seen_row(0, 1), std::string(80, 'a'));
  EXPECT_EQ(seen_row(0, 2), std::string(80, 'b'));
  // End on 100 characters: the cursor on the last column, after index 99
  EXPECT_EQ(cursor_seen_[1], 1 * 256 + 79);
  EXPECT_EQ(seen_row(1, 1), std::string(79, 'a') + " ");
  // Down to the 90-character line: cut to its end, the scroll kept
  EXPECT_EQ(cursor_seen_[2], 2 * 256 + 69);
  EXPECT_EQ(seen_row(2, 2), std::string(69, 'b') + std::string(11, ' '));
}

}  // namespace
}  // namespace kora::test

namespace kora::test {
namespace {

// When the terminal goes away with unsaved changes, nobody can answer the
// save question: the editor must end (keeping the text) instead of asking
// again for ever.
TEST(TextEditorInputGone, ChangedTextIsKeptWhenTheInputEnds) {
  screen_open_headless(25, 80);
  headless_backend()->push_bytes("new ");
  auto editor = text_create("text", 9, 3, 70, 21, 0, "Memo");
  ASSERT_TRUE(editor);
  EXPECT_EQ(text_run(*editor, 7, nullptr), 0);
  EXPECT_TRUE(input_closed());
  EXPECT_EQ(editor->text, "new text");
  screen_close();
}

}  // namespace
}  // namespace kora::test
