// The one-line editor, driven key by key on a headless screen.
#include <gtest/gtest.h>

#include <string>

#include "table/text_code_page.h"
#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/keys.h"
#include "ui/line_editor.h"
#include "ui/screen.h"

namespace kora {
namespace {

constexpr int kLeft = 0x4B00, kRight = 0x4D00, kHome = 0x4700, kEnd = 0x4F00, kIns = 0x5200,
              kDel = 0x5300, kCtrlLeft = 0x7300, kCtrlRight = 0x7400;
constexpr int kBackspace = 0x0E08, kCtrlBackspace = 0x0E7F, kCtrlC = 0x2E03, kCtrlK = 0x250B,
              kCtrlQ = 0x1011, kCtrlV = 0x2F16, kCtrlX = 0x2D18, kCtrlY = 0x1519, kCtrlA = 0x1E01;

class LineEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    g_text_clipboard = {};
  }

  std::unique_ptr<EditField> make(const char* text, int size, int width = 20,
                                  const char* allowed = nullptr) {
    return edit_create(5, 3, width, size, text, 0x0F, allowed);
  }
  static void type(EditField& field, std::string_view keys) {
    for (unsigned char ch : keys) EXPECT_EQ(edit_key(field, ch), 1);
  }
  static std::string text(const EditField& field) { return field.text; }
};

TEST_F(LineEditorTest, FirstTypedCharacterReplacesAnUntouchedText) {
  auto field = make("abc", 10);
  type(*field, "x");
  EXPECT_EQ(text(*field), "x");
  EXPECT_EQ(field->pos, 1);
  EXPECT_EQ(field->modified, 1);
  type(*field, "y");
  EXPECT_EQ(text(*field), "xy");

  // a cursor key touches the field first, so typing then inserts
  auto moved = make("abc", 10);
  EXPECT_EQ(edit_key(*moved, kRight), 1);
  EXPECT_EQ(moved->modified, 0);
  type(*moved, "x");
  EXPECT_EQ(text(*moved), "axbc");

  // even a cursor key that does nothing touches it
  auto stuck = make("abc", 10);
  EXPECT_EQ(edit_key(*stuck, kLeft), 0);
  type(*stuck, "x");
  EXPECT_EQ(text(*stuck), "xabc");
}

TEST_F(LineEditorTest, ControlCharactersDoNotTouchTheField) {
  auto field = make("abc", 10);
  EXPECT_EQ(edit_key(*field, kBackspace), 1);  // at index 0: nothing to remove
  EXPECT_EQ(text(*field), "abc");
  EXPECT_EQ(field->modified, 0);
  type(*field, "z");
  EXPECT_EQ(text(*field), "z");
}

TEST_F(LineEditorTest, PresetTouchedFlagKeepsTheText) {
  auto field = make("abc", 10);
  field->flags |= kEditTouched;
  type(*field, "x");
  EXPECT_EQ(text(*field), "xabc");
}

TEST_F(LineEditorTest, KeysWithoutUseAreReported) {
  auto field = make("abc", 10);
  EXPECT_EQ(edit_key(*field, 0), 0);
  EXPECT_EQ(edit_key(*field, 0x1C0D), 0);  // Enter
  EXPECT_EQ(edit_key(*field, 0x011B), 0);  // Esc
  EXPECT_EQ(edit_key(*field, 0x0F09), 0);  // Tab
  EXPECT_EQ(edit_key(*field, 0x3E00), 0);  // F4
  EXPECT_EQ(text(*field), "abc");
  field->flags |= kEditTouched;
  EXPECT_EQ(edit_key(*field, kLeft), 0);  // at the start
  EXPECT_EQ(edit_key(*field, kEnd), 1);
  EXPECT_EQ(edit_key(*field, kRight), 0);  // at the terminator
}

TEST_F(LineEditorTest, AllowedSetFiltersTypedCharacters) {
  auto field = make("", 10, 20, kAllowInteger);
  type(*field, "1a-2 ");
  EXPECT_EQ(text(*field), "1-2");
  EXPECT_EQ(field->pos, 3);
}

TEST_F(LineEditorTest, LiteralNextTypesControlCharacters) {
  auto field = make("", 10);
  EXPECT_EQ(edit_key(*field, kCtrlQ), 1);
  EXPECT_TRUE(field->flags & kEditLiteral);
  EXPECT_EQ(edit_key(*field, kCtrlA), 1);
  EXPECT_EQ(text(*field), std::string(1, '\x01'));
  EXPECT_FALSE(field->flags & kEditLiteral);
  EXPECT_EQ(g_screen.cursor_visibility, 1);

  // 0x0E7F counts as character 8, typed literally when the set allows it
  auto digits = make("", 10, 20, kAllowRecord);
  edit_key(*digits, kCtrlQ);
  EXPECT_EQ(g_screen.cursor_visibility, 2);  // the very visible cursor
  edit_key(*digits, kCtrlA);                 // not allowed: nothing, still literal
  EXPECT_EQ(text(*digits), "");
  EXPECT_TRUE(digits->flags & kEditLiteral);
  edit_key(*digits, kCtrlBackspace);
  EXPECT_EQ(text(*digits), "\b");
  type(*digits, "12");
  EXPECT_EQ(edit_key(*digits, kCtrlBackspace), 1);  // now an ordinary Backspace
  EXPECT_EQ(text(*digits), "\b1");
}

// A full field refuses a character with the bell: nothing typed is pushed
// out or typed over unasked.
TEST_F(LineEditorTest, InsertAndOverwriteInAFullField) {
  int bells = headless_backend()->bells();
  auto field = make("abcde", 5);
  edit_key(*field, kRight);
  type(*field, "Q");  // insert would push the last character out
  EXPECT_EQ(text(*field), "abcde");
  EXPECT_EQ(headless_backend()->bells(), bells + 1);

  edit_key(*field, kIns);
  EXPECT_TRUE(field->flags & kEditOverwrite);
  type(*field, "R");
  EXPECT_EQ(text(*field), "aRcde");

  edit_key(*field, kEnd);  // the last cell: end_ok is 0
  EXPECT_EQ(field->pos, 4);
  type(*field, "z");
  EXPECT_EQ(text(*field), "aRcdz");
  type(*field, "y");  // the cursor stands after the z now
  EXPECT_EQ(text(*field), "aRcdz");
  EXPECT_EQ(headless_backend()->bells(), bells + 2);
  EXPECT_EQ(edit_key(*field, 0x5000), 0);  // Down is the caller's: the place stays
  edit_key(*field, kBackspace);           // takes the z typed last
  EXPECT_EQ(text(*field), "aRcd");

  auto padded = make("ab   ", 5);  // trailing blanks are room
  edit_key(*padded, kRight);
  type(*padded, "QR");
  EXPECT_EQ(text(*padded), "aQRb ");
}

TEST_F(LineEditorTest, OverwriteAtTheEndExtendsTheText) {
  auto field = make("ab", 5);
  edit_key(*field, kEnd);
  edit_key(*field, kIns);
  type(*field, "cd");
  EXPECT_EQ(text(*field), "abcd");
  EXPECT_EQ(field->pos, 4);
}

TEST_F(LineEditorTest, EndOkLetsTheCursorPassTheLastCellAndDropsExtraCharacters) {
  auto field = make("", 3);
  field->end_ok = 1;
  type(*field, "abc");
  EXPECT_EQ(field->pos, 3);
  EXPECT_EQ(edit_key(*field, 'd'), 1);
  EXPECT_EQ(text(*field), "abc");
  EXPECT_EQ(field->pos, 3);

  auto stopped = make("", 3);
  type(*stopped, "abcd");  // the cursor stays on the last cell, the d is refused
  EXPECT_EQ(text(*stopped), "abc");
  EXPECT_EQ(stopped->pos, 2);
}

TEST_F(LineEditorTest, DecimalPointRewritesANumericField) {
  auto field = make("12", 10);
  field->decimals = 2;
  field->flags |= kEditTouched;
  edit_key(*field, kEnd);
  type(*field, ".");
  EXPECT_EQ(text(*field), "     12.");
  EXPECT_EQ(field->pos, 8);
  type(*field, "5");
  EXPECT_EQ(text(*field), "     12.5");

  // an untouched field is emptied first
  auto fresh = make("12", 10);
  fresh->decimals = 2;
  type(*fresh, ",");
  EXPECT_EQ(text(*fresh), "       .");
  EXPECT_EQ(fresh->pos, 8);

  // with a point already there, "," jumps after it
  auto pointed = make("3.25", 10);
  pointed->decimals = 2;
  pointed->flags |= kEditTouched;
  type(*pointed, ",");
  EXPECT_EQ(text(*pointed), "3.25");
  EXPECT_EQ(pointed->pos, 2);

  // without decimals the point is an ordinary character
  auto plain = make("12", 10);
  plain->flags |= kEditTouched;
  edit_key(*plain, kEnd);
  type(*plain, ".");
  EXPECT_EQ(text(*plain), "12.");
}

TEST_F(LineEditorTest, DecimalRewriteOfAnOverlongIntegerPartStaysInTheBuffer) {
  auto field = make("123456789", 10);
  field->decimals = 2;
  field->flags |= kEditTouched;
  type(*field, ".");
  EXPECT_EQ(text(*field), "123456789.");
  EXPECT_EQ(field->pos, 9);  // the last cell: end_ok is 0
}

TEST_F(LineEditorTest, EndStopsAfterTheLastNonBlankAndTwiceAtTheFarEnd) {
  auto field = make("ab   ", 10);
  edit_key(*field, kEnd);
  EXPECT_EQ(field->pos, 2);
  edit_key(*field, kEnd);
  EXPECT_EQ(field->pos, 5);
  edit_key(*field, kEnd);
  EXPECT_EQ(field->pos, 2);

  auto blanks = make("    ", 10);
  edit_key(*blanks, kEnd);
  EXPECT_EQ(blanks->pos, 4);  // position 0 is where it stood: the far end instead
  edit_key(*blanks, kHome);
  EXPECT_EQ(blanks->pos, 0);
}

TEST_F(LineEditorTest, WordMoves) {
  auto field = make("one  two three", 20);
  edit_key(*field, kEnd);
  edit_key(*field, kCtrlLeft);
  EXPECT_EQ(field->pos, 9);
  edit_key(*field, kCtrlLeft);
  EXPECT_EQ(field->pos, 5);
  edit_key(*field, kCtrlLeft);
  EXPECT_EQ(field->pos, 0);
  edit_key(*field, kCtrlRight);
  EXPECT_EQ(field->pos, 3);
  edit_key(*field, kCtrlRight);
  EXPECT_EQ(field->pos, 8);
  edit_key(*field, kCtrlRight);
  edit_key(*field, kCtrlRight);
  EXPECT_EQ(field->pos, 14);

  auto full = make("abcd", 4);  // end_ok 0: stops on the last cell
  edit_key(*full, kCtrlRight);
  EXPECT_EQ(full->pos, 3);
}

TEST_F(LineEditorTest, DeletingKeys) {
  auto field = make("abcdef", 10);
  edit_key(*field, kRight);
  edit_key(*field, kRight);
  edit_key(*field, kDel);
  EXPECT_EQ(text(*field), "abdef");
  EXPECT_EQ(field->modified, 1);
  edit_key(*field, kBackspace);
  EXPECT_EQ(text(*field), "adef");
  EXPECT_EQ(field->pos, 1);
  edit_key(*field, kCtrlK);
  EXPECT_EQ(text(*field), "a");
  edit_key(*field, kDel);  // at the terminator: nothing
  EXPECT_EQ(text(*field), "a");
  edit_key(*field, kCtrlY);
  EXPECT_EQ(text(*field), "");
  EXPECT_EQ(field->pos, 0);
}

TEST_F(LineEditorTest, ClipboardKeys) {
  auto field = make("hello", 10);
  EXPECT_EQ(edit_key(*field, kCtrlC), 1);
  EXPECT_EQ(g_text_clipboard.text, "hello");
  EXPECT_EQ(text(*field), "hello");

  edit_key(*field, kCtrlX);
  EXPECT_EQ(g_text_clipboard.text, "hello");
  EXPECT_EQ(text(*field), "");
  EXPECT_EQ(field->modified, 1);

  auto target = make("abcd", 8);
  edit_key(*target, kRight);
  edit_key(*target, kRight);
  g_text_clipboard.text = "XYZ\nsecond line";
  edit_key(*target, kCtrlV);
  EXPECT_EQ(text(*target), "abXYZcd");
  EXPECT_EQ(target->pos, 2);  // the cursor does not move
  edit_key(*target, kCtrlV);  // no room for it whole: refused
  EXPECT_EQ(text(*target), "abXYZcd");

  // an untouched field is emptied by a paste
  auto fresh = make("old", 8);
  edit_key(*fresh, kCtrlV);
  EXPECT_EQ(text(*fresh), "XYZ");
  type(*fresh, "q");
  EXPECT_EQ(text(*fresh), "qXYZ");

  // The clipboard holds Windows-1251, the field the screen's code page 866.
  auto cyrillic = make("\xF1\x8C", 8);  // ёМ
  edit_key(*cyrillic, kCtrlC);
  EXPECT_EQ(g_text_clipboard.text, "\xB8\xCC");
  g_text_clipboard.text = "\xA8\xB9";  // Ё№
  edit_key(*cyrillic, kCtrlV);
  EXPECT_EQ(text(*cyrillic), "\xF0\xFC");
}

TEST_F(LineEditorTest, DrawingScrollsAndMasks) {
  auto field = make("", 10, 4);
  type(*field, "abcdef");
  EXPECT_EQ(field->scroll, 3);
  EXPECT_EQ(screen_row_text(3).substr(4, 6), " def  ");
  EXPECT_EQ(g_screen.cursor_x, 5 + 3);
  EXPECT_EQ(g_screen.cursor_y, 3);
  edit_key(*field, kHome);
  EXPECT_EQ(screen_row_text(3).substr(5, 4), "abcd");
  EXPECT_EQ(g_screen.cursor_x, 5);

  auto secret = edit_create(5, 4, 6, 10, "pw", 0x0F, nullptr);
  secret->fill_color = 0x30;
  secret->flags |= kEditPassword;
  edit_draw(*secret);
  EXPECT_EQ(screen_row_text(4).substr(5, 6), "**    ");
  EXPECT_EQ(screen_attr_at(5, 4), 0x0F);
  EXPECT_EQ(screen_attr_at(7, 4), 0x30);

  auto tabs = edit_create(5, 5, 6, 10, "a\tb", 0x0F, nullptr);
  tabs->flags |= kEditShowTabs;
  edit_draw(*tabs);
  EXPECT_EQ(screen_row_text(5).substr(5, 3), "a b");
}

TEST_F(LineEditorTest, PositionsOutsideTheTextAreClampedBeforeEditing) {
  auto field = make("ab", 10);
  field->flags |= kEditTouched;
  field->pos = 7;  // set by a caller past the terminator
  type(*field, "c");
  EXPECT_EQ(text(*field), "abc");
}

// A field over another code page's bytes: typed characters arrive from the
// terminal in UTF-8 and go in as that page's bytes, whole or not at all; the
// cursor, Backspace, Del and overwrite never split one.
// A field of code page 866 bytes (dialogs, 866 and 1251 tables) refuses a
// typed character 866 lacks instead of storing '?'; a typed '?' stays one.
TEST_F(LineEditorTest, ACharacterCodePage866LacksIsRefusedNotStoredAsAQuestionMark) {
  auto field = make("ab", 10);
  edit_key(*field, kEnd);
  int bells = headless_backend()->bells();
  headless_backend()->push_bytes("\u00e9");
  int key = get_key(0, nullptr);
  headless_backend()->push_bytes("\r");  // closes the message
  edit_key(*field, key);
  EXPECT_EQ(text(*field), "ab");
  EXPECT_EQ(headless_backend()->bells(), bells + 1);
  headless_backend()->push_bytes("?\u0416");
  edit_key(*field, get_key(0, nullptr));
  edit_key(*field, get_key(0, nullptr));
  EXPECT_EQ(text(*field), "ab?\x86");  // Ж is 0x86 in code page 866
}

TEST_F(LineEditorTest, AnotherCodePagesTextIsEditedByWholeCharacters) {
  struct Case {
    const char* page;
    std::string wide;       // 語 in the page
    const char* unheld;     // a character the page cannot hold, or null
  } cases[] = {{"UTF-8", "\xE8\xAA\x9E", nullptr}, {"Shift-JIS", "\x8C\xEA", "\xC7\x84"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    std::shared_ptr<const CodePage> page = CodePage::find(c.page);
    ASSERT_TRUE(page);
    char32_t refused = 0;
    auto characters = std::make_shared<FieldCharacters>();
    characters->shown_as = [page](std::string_view bytes) { return utf8_to_u32(page->to_utf8(bytes)); };
    characters->length = [page](std::string_view text, size_t at) { return page->character_length(text, at); };
    characters->from_utf8 = [page](std::string_view utf8, std::string& out, char32_t* bad) {
      return page->from_utf8(utf8, out, bad);
    };
    characters->refused = [&refused](char32_t bad) { refused = bad; };
    // Room for "a", one 語 and a byte less than another.
    int size = 1 + 2 * int(c.wide.size()) - 1;
    auto field = make("", size);
    field->characters = characters;
    auto press = [](EditField& f, std::string_view utf8) {
      headless_backend()->push_bytes(utf8);
      return edit_key(f, get_key(0, nullptr));
    };
    int bells = headless_backend()->bells();
    press(*field, "a");
    press(*field, "\u8a9e");
    EXPECT_EQ(text(*field), "a" + c.wide);
    EXPECT_EQ(headless_backend()->bells(), bells);
    press(*field, "\u8a9e");  // its bytes do not all fit: refused whole
    EXPECT_EQ(text(*field), "a" + c.wide);
    EXPECT_EQ(headless_backend()->bells(), bells + 1);
    press(*field, "b");
    EXPECT_EQ(text(*field), "a" + c.wide + "b");
    edit_key(*field, kHome);
    edit_key(*field, kRight);
    EXPECT_EQ(field->pos, 1);
    edit_key(*field, kDel);
    EXPECT_EQ(text(*field), "ab");
    press(*field, "\u8a9e");
    EXPECT_EQ(field->pos, 1 + int(c.wide.size()));
    edit_key(*field, kBackspace);
    EXPECT_EQ(text(*field), "ab");
    press(*field, "\u8a9e");
    edit_key(*field, kLeft);
    EXPECT_EQ(field->pos, 1);
    edit_key(*field, kIns);
    press(*field, "x");  // overwrites the whole character
    EXPECT_EQ(text(*field), "axb");
    edit_key(*field, kIns);
    // The clipboard carries the characters across in UTF-8.
    edit_key(*field, kCtrlY);
    press(*field, "\u8a9e");
    edit_key(*field, kCtrlC);
    EXPECT_TRUE(g_text_clipboard.utf8);
    EXPECT_EQ(g_text_clipboard.text, "\u8a9e");
    edit_key(*field, kCtrlY);
    g_text_clipboard = {"\u8a9e\u8a9e\u8a9e", true};
    edit_key(*field, kCtrlV);  // too long whole: refused
    EXPECT_EQ(text(*field), "");
    g_text_clipboard = {"\u8a9e", true};
    edit_key(*field, kCtrlV);
    EXPECT_EQ(text(*field), c.wide);
    if (c.unheld) {
      bells = headless_backend()->bells();
      press(*field, c.unheld);
      g_text_clipboard = {c.unheld, true};
      edit_key(*field, kCtrlV);
      EXPECT_EQ(text(*field), c.wide);
      EXPECT_EQ(refused, U'\u01C4');
      EXPECT_EQ(headless_backend()->bells(), bells + 2);
    }
  }
}

}  // namespace
}  // namespace kora
