// Code pages of table text: the conversions between code page 866 and
// Windows-1251 (checked against the C library's iconv), the configured
// translation, the choice of a table's code page on opening, case folding
// and the field-name test.
#include "table/code_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/dbf_file.h"

namespace kora {
namespace {

using test::DbfLayout;
using test::TempDir;

// iconv's conversion of one byte, or -1 when the other code page lacks it.
int iconv_byte(const char* to, const char* from, uint8_t byte) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, iconv_t(-1)) << from << " -> " << to;
  char in = char(byte), out[8];
  char* in_at = &in;
  char* out_at = out;
  size_t in_left = 1, out_left = sizeof out;
  size_t done = iconv(cd, &in_at, &in_left, &out_at, &out_left);
  iconv_close(cd);
  return done == size_t(-1) || out_at - out != 1 ? -1 : uint8_t(out[0]);
}

TEST(CodePage, BuiltInTablesAreExactWhereBothCodePagesHaveTheCharacterAndInverseEverywhere) {
  const OemAnsiTables& t = builtin_oem_ansi();
  int shared = 0;
  for (int b = 0; b < 256; ++b) {
    uint8_t byte = uint8_t(b);
    EXPECT_EQ(t.to_oem[t.to_ansi[byte]], byte) << "866 byte " << b;
    EXPECT_EQ(t.to_ansi[t.to_oem[byte]], byte) << "1251 byte " << b;
    int ansi = iconv_byte("CP1251", "CP866", byte);
    if (ansi >= 0) {
      ++shared;
      EXPECT_EQ(t.to_ansi[byte], ansi) << "866 byte " << b;
    }
    int oem = iconv_byte("CP866", "CP1251", byte);
    if (oem >= 0) {
      EXPECT_EQ(t.to_oem[byte], oem) << "1251 byte " << b;
    }
  }
  EXPECT_EQ(shared, 128 + 77);  // ASCII, 66 letters, Є є Ї ї Ў ў, ° · № ¤ and no-break space
  // The byte forms agree with the text forms and work in place.
  uint8_t bytes[] = {0xF1, 0xF0, 0xFC, 'a'};
  oem_to_ansi(bytes, bytes, sizeof bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "\xB8\xA8\xB9" "a");
  ansi_to_oem(bytes, bytes, sizeof bytes);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "\xF1\xF0\xFC" "a");
}

DbfLayout text_table(std::vector<std::string> records, uint8_t mark = 0) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 12}, {"N", 'I', 4}};
  for (std::string& r : records) {
    r.resize(12, ' ');
    r += std::string("\xFF\xFF\xFF\xFF", 4);  // -1: bytes that are letters in both code pages
  }
  layout.records = std::move(records);
  layout.code_page_mark = mark;
  return layout;
}

int add(TempDir& dir, TableList& list, const DbfLayout& layout, const std::string& name) {
  std::string path = dir.file(name);
  test::write_bytes(path, test::build_dbf(layout));
  return add_table(list, path);
}

TEST(CodePage, AConfiguredTranslationIsUsedOnlyWhenBothHalvesAreGiven) {
  std::string to_ansi(128, '?'), to_oem(128, '!');
  EXPECT_EQ(configured_oem_ansi(to_ansi, ""), nullptr);
  EXPECT_EQ(configured_oem_ansi("", to_oem), nullptr);
  EXPECT_EQ(configured_oem_ansi(to_ansi, to_oem.substr(1)), nullptr);
  auto xlat = configured_oem_ansi(to_ansi, to_oem);
  ASSERT_NE(xlat, nullptr);

  TempDir dir;
  TableList list;
  const std::string ansi_word = "\xCC\xE8\xF0";  // Мир in Windows-1251
  int plain = add(dir, list, text_table({ansi_word}, 0xC9), "plain.dbf");
  list.options.xlat = xlat;
  int hooked = add(dir, list, text_table({ansi_word}, 0xC9), "hooked.dbf");
  ASSERT_GE(plain, 0);
  ASSERT_GE(hooked, 0);
  EXPECT_EQ(display_from_table(*list.at(plain), ansi_word + "x"), "\x8C\xA8\xE0x");
  EXPECT_EQ(table_converter(*list.at(plain))(display_converter(*list.at(plain))(ansi_word)), ansi_word);
  EXPECT_EQ(display_from_table(*list.at(hooked), ansi_word + "x"), "!!!x");
  EXPECT_EQ(table_from_display(*list.at(hooked), "\x8C."), "?.");
  EXPECT_EQ(ansi_from_table(*list.at(hooked), "\x8C"), "\x8C");  // an ANSI table's text is ANSI already
  list.at(hooked)->ansi_text = false;
  EXPECT_EQ(ansi_from_table(*list.at(hooked), "\x8C"), "?");
  EXPECT_EQ(table_from_ansi(*list.at(hooked), "\xCC"), "!");
  EXPECT_EQ(display_from_table(*list.at(hooked), "\x8C"), "\x8C");  // an OEM table is shown as stored
}

TEST(CodePage, OpeningDecidesTheCodePageByMarkSettingAndLetters) {
  const std::string ansi_name = "\xC3.\xC2.\xC3\xE8\xF0\xE8\xF7";  // Г.В.Гирич: none of А О Е У
  const std::string oem_name = "\x98\xA8\xE8\xAA\xA8\xAD";        // Шишкин: none either
  const std::string ansi_word = "\xCF\xE5\xF2\xF0\xEE\xE2";       // Петров
  const std::string oem_word = "\x8F\xA5\xE2\xE0\xAE\xA2";
  std::vector<std::string> many(1200, "12345");
  many.back() = ansi_word;
  std::vector<std::string> last_counted(1200, "12345");
  last_counted[999] = ansi_word;
  struct Case {
    const char* name;
    std::vector<std::string> records;
    uint8_t mark;
    int oem_ansi;
    bool ansi;
  } cases[] = {
      {"1251 word", {ansi_word}, 0, 0, true},
      {"866 word", {oem_word}, 0, 0, false},
      {"OEMAnsi 1 keeps OEM", {ansi_word}, 0, 1, false},
      {"OEMAnsi 2 makes ANSI", {oem_word}, 0, 2, true},
      {"mark 0x03", {oem_word}, 0x03, 1, true},
      {"mark 0xC9 on no records", {}, 0xC9, 0, true},
      {"no records", {}, 0, 0, false},
      {"1251 initials without the test letters", {ansi_name}, 0, 0, true},
      {"866 name without the test letters", {oem_name}, 0, 0, false},
      {"record 0 decides against later ones", {oem_word, ansi_word, ansi_word}, 0, 0, false},
      {"tie in record 0, letters further on", {"12", "", ansi_name}, 0, 0, true},
      {"tie in record 0, 866 further on", {"12", oem_name, ansi_name}, 0, 0, false},
      {"letters past the first thousand records", many, 0, 0, false},
      {"letters in the thousandth record", last_counted, 0, 0, true},
      {"OEMAnsi 1 with a tie", {ansi_name}, 0, 1, false},
  };
  TempDir dir;
  TableList list;
  int n = 0;
  for (const Case& c : cases) {
    list.options.oem_ansi = c.oem_ansi;
    int index = add(dir, list, text_table(c.records, c.mark), "t" + std::to_string(n++) + ".dbf");
    ASSERT_GE(index, 0) << c.name;
    EXPECT_EQ(list.at(index)->ansi_text, c.ansi) << c.name;
    remove_table(list, index);
  }
}

TEST(CodePage, ARealWindows1251TableIsFoundWithAndWithoutItsMark) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/cp1251.dbf", "cp1251.dbf");
  std::vector<uint8_t> bytes = test::read_bytes(path);
  bytes[29] = 0;
  test::write_bytes(dir.file("nomark.dbf"), bytes);
  TableList list;
  for (const std::string& name : {path, dir.file("nomark.dbf")}) {
    int index = add_table(list, name);
    ASSERT_GE(index, 0);
    EXPECT_TRUE(list.at(index)->ansi_text) << name;
  }
}

TEST(CodePage, CaseIsFoldedByTheTableCodePageOnlyWhenIgnoringCase) {
  TempDir dir;
  TableList list;
  Table& t = *list.at(add(dir, list, text_table({}), "t.dbf"));
  struct Case {
    bool ansi;
    std::string in, out;
    bool oem_has_it;  // every letter is in code page 866 too
  } cases[] = {
      {false, "ab\xE5\xA0\xAF\xE0\xEF", "AB\x95\x80\x8F\x90\x9F", true},
      {false, "\xF1\xF3\xF5\xF7", "\xF1\xF3\xF5\xF7", true},  // ё є ї ў stay
      {false, "\x80\x9F\xF0\xB0\xFC", "\x80\x9F\xF0\xB0\xFC", true},
      {true, "z\xE0\xEF\xF0\xFF", "Z\xC0\xCF\xD0\xDF", true},
      {true, "\xB8\xBA\xBF\xA2", "\xB8\xBA\xBF\xA2", true},  // ё є ї ў stay
      {true, "\xC0\xDF\xA8\xB9\x80", "\xC0\xDF\xA8\xB9\x80", true},
      {true, "\xB3\xB4", "\xB3\xB4", false},  // і ґ
  };
  for (const Case& c : cases) {
    t.ansi_text = c.ansi;
    std::string text = c.in;
    t.ignore_case = false;
    fold_case(t, text);
    EXPECT_EQ(text, c.in);
    t.ignore_case = true;
    fold_case(t, text);
    EXPECT_EQ(text, c.out);
    // Folding ANSI text agrees with folding its OEM form.
    if (c.ansi && c.oem_has_it) {
      std::string oem = ansi_to_oem(c.in);
      t.ansi_text = false;
      fold_case(t, oem);
      EXPECT_EQ(oem_to_ansi(oem), c.out);
    }
  }
}

TEST(CodePage, FieldNamesAndRecordImages) {
  TempDir dir;
  TableList list;
  DbfLayout layout = text_table({"\xCC\xE8\xF0"}, 0xC9);
  Table& t = *list.at(add(dir, list, layout, "t.dbf"));
  EXPECT_EQ(field_name_test(t), 0);
  t.aliases = {"\xC0\xE4\xF0\xE5\xF1", "\x80\xA4\xE0\xA5\xE1"};  // Адрес in 1251, then in 866
  EXPECT_EQ(field_name_test(t), 0);
  t.aliases[1] = "\xCE\xEA\xEE";
  EXPECT_EQ(field_name_test(t), 1);
  t.show_aliases = false;
  EXPECT_EQ(field_name_test(t), 0);

  // Only Character fields change; the rest of the image is kept.
  std::vector<uint8_t> image = {' ', 0xCC, 0xE8, 0xF0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0xFF, 0xEE, 0xE0, 0xB8};
  std::vector<uint8_t> shown = image;
  record_to_display(t, shown.data());
  EXPECT_EQ(std::vector<uint8_t>(shown.begin() + 1, shown.begin() + 4), (std::vector<uint8_t>{0x8C, 0xA8, 0xE0}));
  EXPECT_EQ(std::vector<uint8_t>(shown.begin() + 13, shown.end()), (std::vector<uint8_t>{0xFF, 0xEE, 0xE0, 0xB8}));
  record_from_display(t, shown.data());
  EXPECT_EQ(shown, image);
  t.ansi_text = false;
  record_to_display(t, shown.data());
  EXPECT_EQ(shown, image);
}

}  // namespace
}  // namespace kora
