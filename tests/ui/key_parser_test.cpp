// Terminal byte strings -> KeyCodes, through the parser and the BIOS tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/key_parser.h"

namespace kora {
namespace {

// Every KeyCode the bytes make when they all arrive at once and the
// terminal then stays silent.
std::vector<int> decode_all(const std::string& bytes, int console_shift = 0) {
  KeyParser parser;
  for (unsigned char c : bytes) parser.push(c);
  std::vector<int> codes;
  long long now = 0;
  for (int guard = 0; guard < 100; ++guard) {
    KeyEvent event;
    int found = parser.next(now, event);
    if (found < 0) break;
    if (found == 0) {
      now += parser.wait_ms(now);
      continue;
    }
    codes.push_back(key_code_for(event, console_shift));
  }
  return codes;
}

struct Case {
  const char* bytes;
  int code;
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<int> got = decode_all(c.bytes);
    ASSERT_EQ(got.size(), 1u) << "bytes: " << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(got[0], c.code) << "bytes: " << testing::PrintToString(std::string(c.bytes))
                              << " got " << std::hex << got[0];
  }
}

TEST(KeyParser, CursorAndEditingKeysInEveryForm) {
  expect_cases({
      {"\x1b[A", 0x4800}, {"\x1b[B", 0x5000}, {"\x1b[C", 0x4D00}, {"\x1b[D", 0x4B00},
      {"\x1bOA", 0x4800}, {"\x1bOD", 0x4B00},
      {"\x1b[H", 0x4700}, {"\x1b[F", 0x4F00}, {"\x1bOH", 0x4700}, {"\x1bOF", 0x4F00},
      {"\x1b[1~", 0x4700}, {"\x1b[7~", 0x4700}, {"\x1b[4~", 0x4F00}, {"\x1b[8~", 0x4F00},
      {"\x1b[2~", 0x5200}, {"\x1b[3~", 0x5300}, {"\x1b[5~", 0x4900}, {"\x1b[6~", 0x5100},
  });
}

TEST(KeyParser, ModifiedCursorKeys) {
  expect_cases({
      {"\x1b[1;5D", 0x7300}, {"\x1b[1;5C", 0x7400}, {"\x1b[1;5A", 0x8D00},
      {"\x1b[1;5B", 0x9100}, {"\x1b[1;5H", 0x7700}, {"\x1b[1;5F", 0x7500},
      {"\x1b[5;5~", 0x8400}, {"\x1b[6;5~", 0x7600}, {"\x1b[2;5~", 0x9200},
      {"\x1b[3;5~", 0x9300},
      {"\x1b[1;3A", 0x9800}, {"\x1b[1;3B", 0xA000}, {"\x1b[1;3D", 0x9B00},
      {"\x1b[1;3C", 0x9D00}, {"\x1b[1;3H", 0x9700}, {"\x1b[1;3F", 0x9F00},
      {"\x1b[3;3~", 0xA300}, {"\x1b[5;3~", 0x9900},
      {"\x1b[1;2A", 0xB000},  // Shift+Up: a code of its own, for selecting
      {"\x1b[1;7D", 0x9B00},  // Ctrl+Alt: Alt wins
      {"\x1b[1;6D", 0x7300},  // Ctrl+Shift: Ctrl wins
      {"\x1b[Z", 0x0F00},
  });
}

TEST(KeyParser, FunctionKeysWithModifiers) {
  expect_cases({
      {"\x1bOP", 0x3B00}, {"\x1bOS", 0x3E00}, {"\x1b[15~", 0x3F00}, {"\x1b[17~", 0x4000},
      {"\x1b[21~", 0x4400}, {"\x1b[23~", 0x8500}, {"\x1b[24~", 0x8600},
      {"\x1b[[A", 0x3B00}, {"\x1b[[E", 0x3F00}, {"\x1b[11~", 0x3B00},
      {"\x1b[1;2P", 0x5400}, {"\x1b[20;2~", 0x5C00}, {"\x1b[23;2~", 0x8700},
      {"\x1b[24;2~", 0x8800},
      {"\x1b[20;5~", 0x6600}, {"\x1b[1;5R", 0x6000}, {"\x1b[23;5~", 0x8900},
      {"\x1b[24;5~", 0x8A00},
      {"\x1b[1;3R", 0x6A00}, {"\x1b[1;3P", 0x6800}, {"\x1b[21;3~", 0x7100},
      {"\x1b[23;3~", 0x8B00}, {"\x1b[24;3~", 0x8C00},
      {"\x1bO5P", 0x5E00},
  });
}

TEST(KeyParser, AltWithLettersDigitsAndSpecialKeys) {
  expect_cases({
      {"\x1b" "f", 0x2100}, {"\x1b" "F", 0x2100}, {"\x1b" "a", 0x1E00},
      {"\x1b" "z", 0x2C00}, {"\x1b" "q", 0x1000}, {"\x1b" "m", 0x3200},
      {"\x1b" "1", 0x7800}, {"\x1b" "0", 0x8100}, {"\x1b" "-", 0x8200},
      {"\x1b" "=", 0x8300}, {"\x1b\t", 0xA500}, {"\x1b\x7f", 0x0E00},
      {"\x1b" "O", 0x1800},  // Alt+O on its own after the delay
      {"\x1b\x1b[A", 0x9800}, {"\x1b\x1b[3~", 0xA300}, {"\x1b\x1bOR", 0x6A00},
  });
  // Alt+O followed at once by a letter is still Alt+O and the letter (but
  // ESC O j..y are keypad keys, see below).
  EXPECT_EQ(decode_all("\x1bOz"), (std::vector<int>{0x1800, 'z'}));
}

TEST(KeyParser, ReportedKeysOfModifyOtherKeysAndKitty) {
  expect_cases({
      {"\x1b[27;5;9~", 0x9400},   // Ctrl+Tab
      {"\x1b[27;5;46~", 0xBE00},  // Ctrl+.
      {"\x1b[27;5;97~", 0x1E01},  // Ctrl+A
      {"\x1b[27;3;102~", 0x2100}, // Alt+F
      {"\x1b[27;5;13~", 0x1C0A},
      {"\x1b[9;5u", 0x9400},   {"\x1b[46;5u", 0xBE00}, {"\x1b[102;3u", 0x2100},
      {"\x1b[99;5u", 0x2E03},  {"\x1b[122;5u", 0x2C1A}, {"\x1b[27u", 0x011B},
      {"\x1b[13u", 0x1C0D},    {"\x1b[9;3u", 0xA500},   {"\x1b[127;5u", 0x0E7F},
      {"\x1b[97;2u", 'A'},     {"\x1b[97u", 'a'},
  });
}

TEST(KeyParser, PlainAndControlBytes) {
  expect_cases({
      {"a", 0x0061}, {"\r", 0x1C0D}, {"\t", 0x0F09}, {"\x7f", 0x0008}, {"\x08", 0x0008},
      {"\x01", 0x1E01}, {"\x03", 0x2E03}, {"\x1a", 0x2C1A}, {"\x13", 0x1F13},
      {"\x1c", 0x2B1C}, {"\x1d", 0x1B1D}, {"\x1e", 0x071E}, {"\x1f", 0x0C1F},
      {"\x0a", 0x1C0D},  // the keypad Enter of terminals in numeric keypad mode
      {"\x07", 0x1A1B},  // Ctrl+G copies a record: Ctrl+[ is Esc in every terminal
  });
  EXPECT_EQ(decode_all("ab\r"), (std::vector<int>{'a', 'b', 0x1C0D}));
}

TEST(KeyParser, ApplicationKeypadTypesItsCharacters) {
  // keypad digits and operators while the terminal is in application keypad
  // mode; keypad 5 without NumLock (ESC O E) is no key at all
  EXPECT_EQ(decode_all("\x1bOp\x1bOw\x1bOy\x1bOk\x1bOm\x1bOj\x1bOo\x1bOn\x1bOl\x1bOX"),
            (std::vector<int>{'0', '7', '9', '+', '-', '*', '/', '.', ',', '='}));
  EXPECT_EQ(decode_all("a\x1bOEb"), (std::vector<int>{'a', 'b'}));
  EXPECT_EQ(decode_all("\x1bOM"), (std::vector<int>{0x1C0D}));
}

TEST(KeyParser, SequencesThatAreNotKeysAreDropped) {
  // a cursor position report and a mouse report between two keys
  EXPECT_EQ(decode_all("x\x1b[?1;2cy\x1b[<0;3;4Mz"), (std::vector<int>{'x', 'y', 'z'}));
  EXPECT_EQ(decode_all("\x1b[99;99~q"), (std::vector<int>{'q'}));
}

TEST(KeyParser, Utf8LettersBecomeCodePage866Bytes) {
  // "Привет" and "Ёё", then a sign with no byte in code page 866
  EXPECT_EQ(decode_all("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"),
            (std::vector<int>{0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2}));
  EXPECT_EQ(decode_all("\xd0\x81\xd1\x91"), (std::vector<int>{0xF0, 0xF1}));
  EXPECT_EQ(decode_all("\xe2\x82\xac"), (std::vector<int>{'?'}));
  // Alt with a Cyrillic letter keeps the letter; a cut-off sequence is '?'
  EXPECT_EQ(decode_all("\x1b\xd0\x91"), (std::vector<int>{0x81}));
  EXPECT_EQ(decode_all("\xd0"), (std::vector<int>{'?'}));
  EXPECT_EQ(decode_all("\xd0z"), (std::vector<int>{'?', 'z'}));
}

TEST(KeyParser, LoneEscAndAltAreToldApartByTime) {
  KeyParser parser;
  KeyEvent event;
  parser.push(0x1B);
  EXPECT_EQ(parser.next(1000, event), 0);
  EXPECT_EQ(parser.wait_ms(1040), 60);
  EXPECT_EQ(parser.next(1099, event), 0);
  EXPECT_EQ(parser.next(1100, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x011B);
  EXPECT_EQ(parser.next(1100, event), -1);

  // 'x' within the delay: one key, Alt+X
  parser.push(0x1B);
  EXPECT_EQ(parser.next(2000, event), 0);
  parser.push('x');
  EXPECT_EQ(parser.next(2090, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x2D00);

  // 'x' after the delay: Esc, then 'x'
  parser.push(0x1B);
  EXPECT_EQ(parser.next(3000, event), 0);
  EXPECT_EQ(parser.next(3100, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x011B);
  parser.push('x');
  EXPECT_EQ(parser.next(3150, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 'x');

  // A sequence cut in two by the line still makes one key.
  parser.push(0x1B);
  parser.push('[');
  parser.push('1');
  EXPECT_EQ(parser.next(4000, event), 0);
  for (char c : std::string(";5D")) parser.push(c);
  EXPECT_EQ(parser.next(4030, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x7300);
}

TEST(KeyParser, TwoQuickEscPressesAreTwoEscKeys) {
  EXPECT_EQ(decode_all("\x1b\x1b"), (std::vector<int>{0x011B, 0x011B}));
  EXPECT_EQ(decode_all("\x1b\x1b" "a"), (std::vector<int>{0x011B, 0x1E00}));
}

TEST(KeyParser, KeysDecodedByCursesArriveAsTokens) {
  KeyParser parser;
  KeyEvent event;
  parser.push(key_token(kCursesLeft, kModCtrl));
  ASSERT_EQ(parser.next(0, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x7300);
  // ESC from curses, then a key curses decoded: Alt with that key
  parser.push(0x1B);
  parser.push(key_token(kCursesUp, 0));
  ASSERT_EQ(parser.next(0, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x9800);
  parser.push(final_key_token(0x1234));
  ASSERT_EQ(parser.next(0, event), 1);
  EXPECT_EQ(key_code_for(event, 0), 0x1234);
}

TEST(CodePage, TableAndReverseLookupAgree) {
  EXPECT_EQ(cp866_to_unicode(0xFB), 0x221Au);
  EXPECT_EQ(cp866_to_unicode(0xFE), 0x25A0u);
  EXPECT_EQ(cp866_to_unicode(0xC9), 0x2554u);
  EXPECT_EQ(cp866_to_unicode(0x80), 0x0410u);
  for (int b = 0x20; b < 256; ++b) {
    EXPECT_EQ(unicode_to_cp866(cp866_to_unicode(static_cast<unsigned char>(b))), b);
  }
  EXPECT_EQ(unicode_to_cp866(0x20AC), -1);
  char out[4];
  EXPECT_EQ(utf8_encode(0x0416, out), 2);
  EXPECT_EQ(std::string(out, 2), "\xd0\x96");
  EXPECT_EQ(utf8_encode(0x2554, out), 3);
  EXPECT_EQ(std::string(out, 3), "\xe2\x95\x94");
}

}  // namespace
}  // namespace kora
