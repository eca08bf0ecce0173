// The code pages of table text in every page kora knows: the spellings of
// their names, conversions to and from UTF-8 (checked against Python's
// codecs), refusals, character boundaries, and the decision on opening for
// real tables written by other software.
#include "table/text_code_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"

namespace kora {
namespace {

// "t3.dbf": a copy's own name.
std::string numbered_name(char letter, int n) {
  std::string name(1, letter);
  name += std::to_string(n);
  name += ".dbf";
  return name;
}

using test::TempDir;

std::string hex_of(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

std::string from_hex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string rtrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// Runs a Python program with arguments; its output, or a failure.
std::string python(const std::string& program, const std::string& args) {
  TempDir dir;
  std::string script = dir.file("p.py");
  test::write_bytes(script, std::vector<uint8_t>(program.begin(), program.end()));
  std::string out;
  EXPECT_EQ(test::run_command("/usr/bin/python3 '" + script + "' " + args + " 2>&1", out), 0) << out;
  return out;
}

TEST(TextCodePage, FindTakesTheUsualSpellingsAndEveryKnownNameAndPairsDosWithWindows) {
  const std::pair<const char*, const char*> spellings[] = {
      {"cp1252", "1252"},         {"1252", "1252"},           {"Windows-1252", "1252"},   {"ANSI 1251", "1251"},
      {"IBM866", "866"},          {"OEM 866", "866"},         {"UTF-8", "UTF-8"},         {"utf8", "UTF-8"},
      {"65001", "UTF-8"},         {"KOI8-R", "KOI8-R"},       {"koi8r", "KOI8-R"},        {"GBK", "GBK"},
      {"cp936", "GBK"},           {"GB2312", "GBK"},          {"BIG5", "Big5"},           {"Big-5", "Big5"},
      {"SHIFT_JIS", "Shift-JIS"}, {"shiftjis", "Shift-JIS"},  {"932", "Shift-JIS"},       {"EUC-KR", "EUC-KR"},
      {"ISO-8859-1", "ISO-8859-1"}, {"latin2", "ISO-8859-2"}, {"Mazovia", "Mazovia"},     {"cp620", "Mazovia"},
      {"874", "874"},             {"win874", "874"},          {"Kamenicky", "Kamenicky"}, {"x-mac-cyrillic", "Mac Cyrillic"},
  };
  for (const auto& [spelling, name] : spellings) {
    auto page = CodePage::find(spelling);
    ASSERT_TRUE(page) << spelling;
    EXPECT_EQ(page->name(), name) << spelling;
  }
  for (const char* unknown : {"", "UTF-16", "cp99999", "klingon", "-"}) EXPECT_FALSE(CodePage::find(unknown)) << unknown;

  std::vector<std::string> names = known_code_pages();
  EXPECT_GE(names.size(), 40u);
  for (const std::string& name : names) {
    auto page = CodePage::find(name);
    ASSERT_TRUE(page) << name;
    EXPECT_EQ(page->name(), name);
    if (page->partner()) {
      EXPECT_EQ(page->partner()->partner(), page) << name;
    }
  }
  const std::pair<int, int> partners[] = {{866, 1251}, {850, 1252}, {852, 1250}, {737, 1253},
                                          {857, 1254}, {775, 1257}, {862, 1255}, {720, 1256}};
  for (const auto& [dos, windows] : partners) {
    ASSERT_TRUE(CodePage::of_number(dos)) << dos;
    EXPECT_EQ(CodePage::of_number(dos)->partner(), CodePage::of_number(windows)) << dos;
  }
  EXPECT_FALSE(CodePage::find("437")->partner());
  EXPECT_FALSE(CodePage::find("UTF-8")->partner());
}

// Every byte of every single-byte page Python has a codec for decodes as
// Python decodes it; every character of every single-byte page goes back to
// its byte.
TEST(TextCodePage, SingleBytePagesDecodeAsPythonAndEveryCharacterGoesBack) {
  // Python's name of each page: "cp" and the number, or one of these;
  // Python has no Mazovia nor Kamenický.
  const std::map<std::string, std::string> named = {
      {"KOI8-R", "koi8_r"},         {"KOI8-U", "koi8_u"},         {"ISO-8859-1", "latin_1"},
      {"ISO-8859-2", "iso8859_2"},  {"ISO-8859-5", "iso8859_5"},  {"ISO-8859-7", "iso8859_7"},
      {"ISO-8859-9", "iso8859_9"},  {"ISO-8859-15", "iso8859_15"}, {"Mac CE", "mac_latin2"},
      {"Mac Roman", "mac_roman"},   {"Mac Cyrillic", "mac_cyrillic"}, {"Mac Greek", "mac_greek"}};
  std::map<std::string, std::string> codecs;
  for (const std::string& name : known_code_pages()) {
    if (CodePage::find(name)->multibyte()) continue;
    if (std::all_of(name.begin(), name.end(), ::isdigit)) codecs[name] = "cp" + name;
    if (named.count(name)) codecs[name] = named.at(name);
  }
  EXPECT_EQ(codecs.size(), 37u);
  std::string args;
  for (const auto& [name, codec] : codecs) args += " " + codec;
  std::istringstream lines(python(R"(import sys
for codec in sys.argv[1:]:
    print(codec, bytes(range(128, 256)).decode(codec, 'replace').encode('utf-8').hex())
)", args));
  std::map<std::string, std::string> decoded;
  for (std::string codec, hex; lines >> codec >> hex;) decoded[codec] = from_hex(hex);
  std::string high;
  for (int b = 0x80; b < 0x100; ++b) high += char(b);
  for (const auto& [name, codec] : codecs) EXPECT_EQ(CodePage::find(name)->to_utf8(high), decoded[codec]) << name;
  for (const std::string& name : known_code_pages()) {
    auto page = CodePage::find(name);
    if (page->multibyte()) continue;
    for (int b = 0; b < 0x100; ++b) {
      std::string one(1, char(b)), back;
      std::string text = page->to_utf8(one);
      if (text == "\xEF\xBF\xBD") continue;
      EXPECT_TRUE(page->from_utf8(text, back)) << name << " byte " << b;
      EXPECT_EQ(back, one) << name << " byte " << b;
    }
  }
}

TEST(TextCodePage, ACharacterThePageCannotHoldIsRefusedAndNamed) {
  struct Case {
    const char* page;
    std::string utf8;
    bool stored;
    std::string bytes;  // when stored
    char32_t bad;       // when refused
  } cases[] = {
      {"1252", "Caf\xC3\xA9 \xE2\x82\xAC", true, "Caf\xE9 \x80", 0},
      {"1252", "a\xC7\x84z", false, "", 0x01C4},                  // Ǆ
      {"1252", "\xEF\xBF\xBD", false, "", 0xFFFD},                // U+FFFD is no character of the page
      {"1252", "a\xD0", false, "", 0xFFFD},                       // no UTF-8
      {"Mazovia", "\xC5\xBB\xC3\xB3\xC5\x82w", true, "\xA1\xA2\x92w", 0},  // Żółw
      {"866", "\xD0\x81\xD0\xB6", true, "\xF0\xA6", 0},           // Ёж
      {"Shift-JIS", "\xE3\x82\xAB\xE3\x82\xBF", true, "\x83\x4A\x83\x5E", 0},
      {"Shift-JIS", "\xE3\x82\xAB\xC7\x84", false, "", 0x01C4},
      {"GBK", "\xE4\xB8\xAD\xD0\x96", true, "\xD6\xD0\xA7\xA8", 0},  // 中Ж
      {"Big5", "\xC3\xA9", false, "", 0xE9},
      {"UTF-8", "\xC7\x84", true, "\xC7\x84", 0},
      {"UTF-8", "\xC0\xAF", false, "", 0xFFFD},                   // an overlong form
  };
  for (const Case& c : cases) {
    auto page = CodePage::find(c.page);
    ASSERT_TRUE(page) << c.page;
    std::string out;
    char32_t bad = 0;
    EXPECT_EQ(page->from_utf8(c.utf8, out, &bad), c.stored) << c.page << " " << c.utf8;
    if (c.stored) {
      EXPECT_EQ(out, c.bytes) << c.page;
      EXPECT_EQ(page->to_utf8(out), c.utf8) << c.page;
    } else {
      EXPECT_EQ(bad, c.bad) << c.page << " " << c.utf8;
    }
  }
  EXPECT_EQ(cannot_hold_text(*CodePage::find("1252"), 0x01C4), "\xC7\x84 cannot be stored in code page 1252");
  EXPECT_EQ(cannot_hold_text(*CodePage::find("big5"), 0x1F600), "\xF0\x9F\x98\x80 cannot be stored in code page Big5");
  // Bytes that are no character read as U+FFFD, the rest as they are.
  EXPECT_EQ(CodePage::find("1252")->to_utf8("a\x81z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(CodePage::find("UTF-8")->to_utf8("a\xFF\xD0\x96\xD0"), "a\xEF\xBF\xBD\xD0\x96\xEF\xBF\xBD");
  EXPECT_EQ(CodePage::find("Shift-JIS")->to_utf8("\x83\x4A\x83"), "\xE3\x82\xAB\xEF\xBF\xBD");
  // The screen's decoding gives the same characters.
  EXPECT_EQ(CodePage::find("1252")->to_unicode("a\x81\xE9"), U"a\uFFFD\u00E9");
  EXPECT_EQ(CodePage::find("UTF-8")->to_unicode("a\xFF\xD0\x96\xD0"), U"a\uFFFD\u0416\uFFFD");
  EXPECT_EQ(CodePage::find("Shift-JIS")->to_unicode("\x83\x4A\x83"), U"\u30AB\uFFFD");
}

TEST(TextCodePage, AValueIsCutOnlyBetweenWholeCharacters) {
  struct Case {
    const char* page;
    std::string bytes;
    size_t limit, whole;
  } cases[] = {
      {"UTF-8", "a\xD0\x96" "b", 2, 1},        {"UTF-8", "a\xD0\x96" "b", 3, 3},
      {"UTF-8", "a\xD0\x96" "b", 10, 4},       {"UTF-8", "\xE4\xB8\xAD\xE4\xB8\xAD", 5, 3},
      {"UTF-8", "ab\xE4\xB8", 10, 2},          {"UTF-8", "\xF0\x9F\x98\x80", 3, 0},
      {"Shift-JIS", "\x83\x4A\x83\x5E", 3, 2}, {"Shift-JIS", "\xB1\x83\x4A", 2, 1},
      {"Shift-JIS", "\xB1\xB2\x83\x4A", 4, 4}, {"Shift-JIS", "a\x83", 5, 1},
      {"GBK", "\xD6\xD0" "a\xD6\xD0", 4, 3},   {"Big5", "\xB0\xEA\xBB\x79", 3, 2},
      {"1252", "abc", 2, 2},                   {"866", "\xF0\xA6", 1, 1},
  };
  for (const Case& c : cases) {
    auto page = CodePage::find(c.page);
    ASSERT_TRUE(page) << c.page;
    EXPECT_EQ(page->multibyte(), std::isalpha(c.page[0]) != 0) << c.page;
    EXPECT_EQ(page->whole_characters(c.bytes, c.limit), c.whole) << c.page << " " << hex_of(c.bytes) << " " << c.limit;
  }
}

// Real tables with a .cpg beside them, a language driver mark, or UTF-8
// text: the page kora decides on, and every Character value and field name
// through it, equal to Python's bytes.decode() with the right codec.
TEST(TextCodePage, RealTablesAreReadInTheirCodePagesAsPythonDecodesThem) {
  struct Case {
    const char* table;
    const char* decided;  // the page kora decides on
    const char* codec;    // Python's codec for the text; null: `expected` holds it
    const char* read_as;  // the page the text is read in when the mark is wrong
    std::vector<std::string> expected;
  } cases[] = {
      {"mapshaper/dbf/cpg/koi8r.dbf", "KOI8-R", "koi8_r", nullptr, {}},
      {"mapshaper/dbf/cpg/euckr.dbf", "EUC-KR", "euc_kr", nullptr, {}},
      {"mapshaper/dbf/cpg/big5.dbf", "Big5", "big5", nullptr, {}},
      {"mapshaper/dbf/cpg/shiftjis.dbf", "Shift-JIS", "shift_jis", nullptr, {}},
      {"mapshaper/dbf/cpg/win874.dbf", "874", "cp874", nullptr, {}},
      {"mapshaper/dbf/cpg/latin2.dbf", "ISO-8859-2", "iso8859_2", nullptr, {}},
      {"mapshaper/dbf/cpg/win1251.dbf", "1251", "cp1251", nullptr, {}},
      {"mapshaper/issues/518_519_shp_reading/data_corruption_error.dbf", "UTF-8", "utf_8", nullptr, {}},
      {"infused-dbf/dbase_03_cyrillic.dbf", "UTF-8", "utf_8", nullptr, {}},  // mark 0xF0, text UTF-8
      {"mapshaper/dbf/utf8.dbf", "UTF-8", "utf_8", nullptr, {}},
      {"infused-dbf/cp1251.dbf", "1251", "cp1251", nullptr, {}},
      {"dbase-rs/cp936.dbf", "GBK", "gbk", nullptr, {}},  // mark 0x4D
      {"mapshaper/dbf/ldid/chinese.dbf", "GBK", "gbk", nullptr, {}},
      {"php-xbase/foxpro/issue115.dbf", "1250", "cp1250", nullptr, {}},
      {"mapshaper/dbf/ne_10m_time_zones.dbf", "1252", "cp1252", nullptr, {}},  // mark 0x57
      {"shapelib/pline.dbf", "437", "cp437", nullptr, {}},
      // Marked 1252, written in 850: read as the user would choose it.
      {"dbase-rs/cp850.dbf", "1252", "cp850", "850", {}},
      // No codec in Python; the values infused-dbf's own tests expect.
      {"infused-dbf/mazovia.dbf", "Mazovia", nullptr, nullptr,
       {"A1", "A2", "2020-01-04", "English", "2020-01-04", "\xC5\x9A\xE2\x95\xAB\xC3\xAA\xC3\xAB\xCF\x84\xE2\x8C\xA1\xC5\x9B"}},
  };
  const char* dump = R"(import sys, dbfread
path, codec = sys.argv[1], sys.argv[2]
table = dbfread.DBF(path, encoding=codec, raw=True)
for name in table.field_names:
    print(name.encode('utf-8').hex() or '-')
data = open(path, 'rb').read()
offsets, at = [], 1
for f in table.fields:
    offsets.append((at, f.length, f.type))
    at += f.length
for r in range(table.header.numrecords):
    start = table.header.headerlen + r * table.header.recordlen
    for at, length, kind in offsets:
        if kind == 'C':
            text = data[start + at:start + at + length].decode(codec).rstrip(' \0')
            print(text.encode('utf-8').hex() or '-')
)";
  TempDir dir;
  int n = 0, beyond_ascii = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    std::string path = dir.copy_fixture(c.table, numbered_name('t', n++));
    std::string cpg = test::fixture(std::string(c.table).substr(0, std::string(c.table).size() - 4) + ".cpg");
    if (test::file_exists(cpg)) test::copy_file(cpg, path.substr(0, path.size() - 4) + ".cpg");
    TableList list;
    int index = add_table(list, path);
    ASSERT_GE(index, 0);
    Table& t = *list.at(index);
    ASSERT_TRUE(t.code_page);
    EXPECT_EQ(t.code_page->name(), c.decided);
    if (c.read_as) t.code_page = CodePage::find(c.read_as);

    std::vector<std::string> expected = c.expected;
    if (c.codec) {
      std::istringstream lines(python(dump, "'" + path + "' " + c.codec));
      for (std::string hex; lines >> hex;) expected.push_back(from_hex(hex));
    }
    std::vector<std::string> seen;
    for (int i = 0; i < t.field_count(); ++i) seen.push_back(field_name_utf8(t, i));
    for (uint32_t r = 0; r < t.record_count; ++r) {
      ASSERT_EQ(read_record(t, r), 1);
      for (int i = 0; i < t.field_count(); ++i) {
        if (field_type(t, i) != 'C') continue;
        std::string_view bytes(reinterpret_cast<const char*>(t.record.data()) + t.fields[size_t(i)].offset,
                               size_t(field_length(t, i)));
        seen.push_back(rtrim(t.code_page->to_utf8(bytes)));
      }
    }
    EXPECT_EQ(seen, expected);
    beyond_ascii += std::any_of(seen.begin(), seen.end(), [](const std::string& s) {
      return std::any_of(s.begin(), s.end(), [](char ch) { return uint8_t(ch) >= 0x80; });
    });
  }
  EXPECT_GE(beyond_ascii, 15);
}

TEST(TextCodePage, TheLanguageDriverNameOfDBase7AndTheMarksDecide) {
  TempDir dir;
  TableList list;
  const std::pair<const char*, const char*> tables[] = {{"infused-dbf/dbase_8c.dbf", "437"},          // DB437US0
                                                        {"php-xbase/dBase/dBaseVII.dbf", "866"},      // DB866RU0
                                                        {"php-xbase/dBase/dBaseVII_double.dbf", "1252"}};  // DBWINUS0
  int n = 0;
  for (const auto& [fixture, name] : tables) {
    int index = add_table(list, dir.copy_fixture(fixture, numbered_name('d', n++)));
    ASSERT_GE(index, 0) << fixture;
    ASSERT_TRUE(list.at(index)->code_page) << fixture;
    EXPECT_EQ(list.at(index)->code_page->name(), name) << fixture;
  }
  EXPECT_EQ(code_page_of_driver("DBWINUS0")->name(), "1252");
  EXPECT_EQ(code_page_of_driver("db866ru0")->name(), "866");
  EXPECT_FALSE(code_page_of_driver("PARADOX"));
  const std::pair<uint8_t, const char*> marks[] = {
      {0x01, "437"},  {0x02, "850"},  {0x03, "1252"}, {0x57, "1252"}, {0x64, "852"},  {0x65, "866"},
      {0x66, "865"},  {0x67, "861"},  {0x68, "Kamenicky"}, {0x69, "Mazovia"}, {0x6A, "737"},
      {0x6B, "857"},  {0x78, "Big5"}, {0x79, "EUC-KR"}, {0x7A, "GBK"}, {0x7B, "Shift-JIS"},
      {0x7C, "874"},  {0x7D, "1255"}, {0x7E, "1256"}, {0x4D, "GBK"},  {0xC8, "1250"}, {0xC9, "1251"},
      {0xCA, "1254"}, {0xCB, "1253"}, {0xCC, "1257"}, {0x26, "866"},  {0x96, "Mac Cyrillic"}, {0x98, "Mac Greek"},
  };
  for (const auto& [mark, name] : marks) {
    ASSERT_TRUE(code_page_of_mark(mark)) << int(mark);
    EXPECT_EQ(code_page_of_mark(mark)->name(), name) << int(mark);
  }
  EXPECT_FALSE(code_page_of_mark(0x00));
  EXPECT_FALSE(code_page_of_mark(0xF0));
  // Kamenický, as infused-dbf's tests read it.
  EXPECT_EQ(CodePage::find("895")->to_utf8("P\xA9\xA1li\xA8"), "P\xC5\x99\xC3\xADli\xC5\xA1");
}

}  // namespace
}  // namespace kora
