// The configuration text: reading keys by prefix, writing them in place,
// after the section header or at the end, and saving with CR LF.
#include "ui/ini_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/test_support.h"

namespace kora {
namespace {

using test::TempDir;

std::string file_text(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

IniText ini_of(const std::string& text) {
  IniText ini;
  ini.lines = ini_split(text);
  return ini;
}

std::vector<std::string> line_texts(const IniText& ini) {
  std::vector<std::string> out;
  for (const TextLine& line : ini.lines) out.push_back(line.text);
  return out;
}

TEST(IniSplit, LinesLoseOneCarriageReturnAndBlankLinesAreDropped) {
  IniText ini = ini_of("[Options]\r\n\r\n\nDateFormat=3\nA=b\r\r\n");
  EXPECT_EQ(line_texts(ini), (std::vector<std::string>{"[Options]", "DateFormat=3", "A=b\r"}));
  EXPECT_EQ(ini.lines[0].line_end, kLineEndCr);
  EXPECT_EQ(ini.lines[1].line_end, kLineEndLf);
  // An empty file, or one of line ends only, is one empty line.
  EXPECT_EQ(line_texts(ini_of("")), std::vector<std::string>{""});
  EXPECT_EQ(line_texts(ini_of("\r\n\n\r\n")), std::vector<std::string>{""});
  // The last line needs no line end.
  EXPECT_EQ(line_texts(ini_of("a\nb")), (std::vector<std::string>{"a", "b"}));
}

TEST(IniGet, SectionsAreFoundByTheirBeginningAndKeysWholeInAnyCase) {
  IniText ini = ini_of(
      "[options]\n"
      ";DateFormat=9\n"
      "dateformat=3\n"
      "DateFormat=1\n"
      "[Colors]\n"
      "MenuHotSelected=7\n"
      "MenuHot=5\n"
      "[OptionsMore]\n"
      "Memo=1\n");
  // The lower-case header is found; the comment is passed over; the first
  // matching line wins.
  EXPECT_EQ(ini_get_int("Options", "DateFormat", -1, ini), 3);
  // A key never takes the line of a longer key that comes first.
  EXPECT_EQ(ini_get_int("Colors", "MenuHot", 42, ini), 5);
  EXPECT_EQ(ini_get_int("Colors", "MenuHotSelected", 42, ini), 7);
  // Blanks around "=" as people write them; the value's own end is kept.
  IniText spaced = ini_of("[Export]\nOverwrite = 1\nHeader\t=0\nFooter =  </p> \nVerDlm= \n");
  EXPECT_EQ(ini_get_int("Export", "Overwrite", 0, spaced), 1);
  EXPECT_EQ(ini_get_int("Export", "Header", 1, spaced), 0);
  EXPECT_EQ(ini_get_str("Export", "Footer", "", 80, spaced), "</p> ");
  EXPECT_EQ(ini_get_str("Export", "VerDlm", "|", 80, spaced), " ");
  // The search for a key ends at the next section.
  EXPECT_EQ(ini_get_int("Options", "Memo", -1, ini), -1);
  EXPECT_EQ(ini_get_int("Missing", "Memo", -2, ini), -2);
  // A header is any line that begins with "[name]".
  EXPECT_EQ(ini_get_int("Colors", "MenuHotSelected", 0, ini_of("[colors] old\nMenuHotSelected=9\n")), 9);
}

TEST(IniGet, NumbersAreDecimalOrHexadecimalAfter0x) {
  IniText ini = ini_of(
      "[Colors]\nFrame=0x1F\nText=31\nEdit=0x0\nMemo=-5\nBad=abc\nHalf=12abc\n"
      "Upper=0X1F\nHuge=99999999999\nHex=0xFFFFFFFF\nNoHex=0x\nBare\nEmpty=\n");
  EXPECT_EQ(ini_get_int("Colors", "Frame", 0, ini), 31);
  EXPECT_EQ(ini_get_int("Colors", "Text", 0, ini), 31);
  EXPECT_EQ(ini_get_int("Colors", "Edit", 7, ini), 0);
  EXPECT_EQ(ini_get_int("Colors", "Memo", 0, ini), -5);
  EXPECT_EQ(ini_get_int("Colors", "Half", 0, ini), 12);
  // Only a lower-case "0x" makes the value hexadecimal.
  EXPECT_EQ(ini_get_int("Colors", "Upper", 8, ini), 0);
  EXPECT_EQ(ini_get_int("Colors", "Hex", 8, ini), -1);
  // Text that is no number, out of range or missing gives the default.
  for (const char* key : {"Bad", "Huge", "NoHex", "Bare", "Empty"}) {
    EXPECT_EQ(ini_get_int("Colors", key, 77, ini), 77) << key;
  }
  // Each is told with the line of the file it stands on.
  ASSERT_EQ(ini.unreadable.size(), 5u);
  EXPECT_EQ(ini.unreadable[0], "line 6: Bad=abc is not a number");
  EXPECT_EQ(ini.unreadable[3], "line 12: Bare is not a number");
}

TEST(IniGet, StringsAreCutToTheirLimit) {
  IniText ini = ini_of("[Filter]\nExpression=NAME = 'X'\nLong=abcdefgh\nEmpty=\nBare\nCut=ab\r\rc\n");
  EXPECT_EQ(ini_get_str("Filter", "Expression", "", 260, ini), "NAME = 'X'");
  EXPECT_EQ(ini_get_str("Filter", "Long", "", 3, ini), "abc");
  EXPECT_EQ(ini_get_str("Filter", "Empty", "dflt", 10, ini), "");
  EXPECT_EQ(ini_get_str("Filter", "Bare", "dflt", 10, ini), "");
  // The default is cut too.
  EXPECT_EQ(ini_get_str("Filter", "Missing", "default", 4, ini), "defa");
  // One carriage return at the end of the cut value goes.
  EXPECT_EQ(ini_get_str("Filter", "Cut", "", 3, ini), "ab");
  EXPECT_EQ(ini_get_str("Filter", "Cut", "", 0, ini), "");
}

TEST(IniSet, ReplacesInsertsAfterTheHeaderOrAppendsASection) {
  IniText ini = ini_of("; top\n[OPTIONS]\n;Confirmation=5\nDateFormat=3\nconfirm=1\n[Search]\nByField=1\n");
  // Replaced in place, spelled as the program spells it.
  ini_set_int("Options", "DateFormat", 0, ini);
  // A missing key goes directly after the header line.
  ini_set_int("Options", "Memo", 1, ini);
  // Prefix matching: "Confirm" replaces the line of "confirm".
  ini_set_str("Options", "Confirm", nullptr, ini);
  // A missing section is appended: ";", the header, the key line.
  ini_set_str("Export", "Filename", "out.txt", ini);
  EXPECT_EQ(line_texts(ini), (std::vector<std::string>{
                                 "; top", "[OPTIONS]", "Memo=1", ";Confirmation=5", "DateFormat=0",
                                 "Confirm=", "[Search]", "ByField=1", ";", "[Export]", "Filename=out.txt"}));
  // A value never spans lines.
  ini_set_str("Search", "SExpression", "a\nb", ini);
  EXPECT_EQ(ini_get_str("Search", "SExpression", "", 260, ini), "a");
}

TEST(IniFile, SavingWritesEveryLineWithCrLf) {
  TempDir dir;
  const std::string path = dir.file("kora.ini");
  write_text(path, "[Options]\nDateFormat=3\r\n\n\nMemo=1");
  std::unique_ptr<IniText> ini = ini_open(path, false);
  ASSERT_TRUE(ini);
  ini_set_int("Options", "DateFormat", 1, *ini);
  ASSERT_EQ(ini_save(*ini), 1);
  ini_close(ini);
  EXPECT_FALSE(ini);
  EXPECT_EQ(file_text(path), "[Options]\r\nDateFormat=1\r\nMemo=1\r\n");
}

TEST(IniFile, WriteIntentCreatesAMissingFile) {
  TempDir dir;
  const std::string path = dir.file("kora.ini");
  EXPECT_FALSE(ini_open(path, false));
  EXPECT_FALSE(test::file_exists(path));
  std::unique_ptr<IniText> ini = ini_open(path, true);
  ASSERT_TRUE(ini);
  EXPECT_TRUE(test::file_exists(path));
  ini_set_int("Search", "Direction", 2, *ini);
  ASSERT_EQ(ini_save(*ini), 1);
  // The empty file's one empty line is written too; reading drops it again.
  EXPECT_EQ(file_text(path), "\r\n;\r\n[Search]\r\nDirection=2\r\n");
  std::unique_ptr<IniText> again = ini_open(path, false);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->lines.size(), 3u);
  EXPECT_EQ(ini_get_int("Search", "Direction", 0, *again), 2);
}

TEST(IniFile, AFolderOrAMissingFolderIsNoFile) {
  TempDir dir;
  EXPECT_FALSE(ini_open(dir.path(), true));
  EXPECT_FALSE(ini_open(dir.file("no/such.ini"), true));
}

int save_read_only(void* context) {
  const std::string& path = *static_cast<const std::string*>(context);
  std::unique_ptr<IniText> ini = ini_open(path, true);
  if (!ini) return 10;
  ini_set_int("Options", "Memo", 1, *ini);
  return ini_save(*ini) == 0 ? 0 : 11;
}

TEST(IniFile, AFileThatCannotBeWrittenIsLeftAsItWas) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  std::string path = dir.file("kora.ini");
  write_text(path, "[Options]\nMemo=0\n");
  chmod(path.c_str(), 0444);
  EXPECT_EQ(test::run_without_root(save_read_only, &path), 0);
  EXPECT_EQ(file_text(path), "[Options]\nMemo=0\n");
}

}  // namespace
}  // namespace kora
