// Settings read from and written to the configuration file: initial values
// without a file, defaults for missing keys, colours, frames, translation
// tables, each section's save, and the Options dialog run headless.
#include "ui/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "popup_fixture.h"
#include "support/test_support.h"
#include "ui/ini_text.h"
#include "ui/screen.h"

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

std::vector<std::string> file_lines(const std::string& path) {
  std::unique_ptr<IniText> ini = ini_open(path, false);
  std::vector<std::string> out;
  if (!ini) return out;
  for (const TextLine& line : ini->lines) out.push_back(line.text);
  return out;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    g_colors = default_colors();
    g_frames = default_frames();
    g_settings_file = dir_.file("kora.ini");
  }
  void TearDown() override {
    g_settings = Settings{};
    g_colors = default_colors();
    g_frames = default_frames();
    g_settings_file.clear();
  }
  void load(const std::string& text) {
    write_text(g_settings_file, text);
    settings_load();
  }

  TempDir dir_;
};

TEST_F(SettingsTest, WithoutAFileEverySettingKeepsItsInitialValue) {
  settings_load();
  EXPECT_EQ(g_settings.date_format, 2);
  // The bands the Export dialog writes start ticked, as a file without the
  // keys gives them: an export is never left with nothing to write.
  EXPECT_EQ(g_settings.export_options.header, 1);
  EXPECT_EQ(g_settings.export_options.detail, 1);
  EXPECT_EQ(g_settings.export_options.show_file, 1);
  EXPECT_EQ(g_settings.append_from.chars, ",");
  EXPECT_EQ(g_settings.help_file, "english.dbf");
  EXPECT_FALSE(test::file_exists(g_settings_file));
}

TEST_F(SettingsTest, AFileWithoutTheKeysGivesTheDefaults) {
  load("[Options]\r\nMemo=1\r\n");
  EXPECT_EQ(g_settings.date_format, 1);
  EXPECT_EQ(g_settings.memo, 1);
  EXPECT_EQ(g_settings.export_options.header, 1);
  EXPECT_EQ(g_settings.export_options.detail, 1);
  EXPECT_EQ(g_settings.export_options.show_file, 1);
  EXPECT_EQ(g_settings.append_from.chars, ",");
  EXPECT_EQ(g_settings.export_dbf.block_size, 256);
  EXPECT_EQ(g_settings.filter.ignore_case, 1);
  EXPECT_EQ(g_settings.export_txt.ver_dlm, '|');
}

TEST_F(SettingsTest, ValuesOfEverySectionAreRead) {
  load(
      "[options]\nscrollbars=0x0\nDateFormat=3\nDateChar=-\nHelpFile=russian.dbf\nReadOnly=1\n"
      "[AppendFrom]\nChars=; \t\nSDF=1\nFilename=/tmp/src.txt\n"
      "[Export]\nType=10\nHeader=0\nFilename=out.csv\n"
      "[ExportTXT]\nQuoteChar='\nVerDlm=\nTrimText=3\n"
      "[ExportPRG]\nQuoteChar=2\n"
      "[ExportSQL]\nQuoteChar=`\nSql2000=1\n"
      "[ExportHTML]\nHeader=<body>\nFooter=</body>\n"
      "[ExportDBF]\nMemoType=4\nBlockSize=0x200\n"
      "[Filter]\nExpression=AGE > 3\nIgnoreCase=0\n"
      "[Search]\nSExpression=abc\nRExpression=\nDirection=2\nByField=1\n");
  EXPECT_EQ(g_settings.scroll_bars, 0);
  EXPECT_EQ(g_settings.date_format, 3);
  EXPECT_EQ(g_settings.date_char, '-');
  EXPECT_EQ(g_settings.help_file, "russian.dbf");
  EXPECT_EQ(g_settings.read_only, 1);
  EXPECT_EQ(g_settings.append_from.chars, "; \t");
  EXPECT_EQ(g_settings.append_from.sdf, 1);
  EXPECT_EQ(g_settings.append_from.filename, "/tmp/src.txt");
  EXPECT_EQ(g_settings.export_options.type, 10);  // SQLite, the last format
  EXPECT_EQ(g_settings.export_options.header, 0);
  EXPECT_EQ(g_settings.export_options.detail, 1);
  EXPECT_EQ(g_settings.export_options.filename, "out.csv");
  EXPECT_EQ(g_settings.export_txt.quote_char, '\'');
  EXPECT_EQ(g_settings.export_txt.ver_dlm, '|');  // an empty value is not taken
  EXPECT_EQ(g_settings.export_txt.trim_text, 3);
  EXPECT_EQ(g_settings.export_prg.quote_char, 2);
  EXPECT_EQ(g_settings.export_sql.quote_char, '`');
  EXPECT_EQ(g_settings.export_sql.sql2000, 1);
  EXPECT_EQ(g_settings.export_html.header, "<body>");
  EXPECT_EQ(g_settings.export_html.footer, "</body>");
  EXPECT_EQ(g_settings.export_dbf.memo_type, 4);
  EXPECT_EQ(g_settings.export_dbf.block_size, 512);
  EXPECT_EQ(g_settings.filter.expression, "AGE > 3");
  EXPECT_EQ(g_settings.filter.ignore_case, 0);
  EXPECT_EQ(g_settings.search.s_expression, "abc");
  EXPECT_EQ(g_settings.search.r_expression, "");
  EXPECT_EQ(g_settings.search.direction, 2);
  EXPECT_EQ(g_settings.search.by_field, 1);
}

TEST_F(SettingsTest, ValuesOutOfTheirRangeGiveTheDefault) {
  load("[Options]\nDateFormat=7\nBakFiles=-1\nStartMode=abc\n[Export]\nType=7\n[ExportDBF]\nBlockSize=0\n");
  EXPECT_EQ(g_settings.date_format, 1);
  EXPECT_EQ(g_settings.bak_files, 0);
  EXPECT_EQ(g_settings.start_mode, 0);
  EXPECT_EQ(g_settings.export_options.type, 0);
  EXPECT_EQ(g_settings.export_dbf.block_size, 256);
}

TEST_F(SettingsTest, ColoursAreAttributeBytesInDecimalOrHexadecimal) {
  load("[Colors]\nFrame=0x1F\nStatus1=31\nText=0x70\nEdit=300\nMemoSelected=0x4e\n");
  EXPECT_EQ(g_colors.Frame, 0x1F);
  EXPECT_EQ(g_colors.Status1, g_colors.Frame);
  EXPECT_EQ(g_colors.Text, 0x70);
  EXPECT_EQ(g_colors.Edit, default_colors().Edit);  // not a byte
  EXPECT_EQ(g_colors.MemoSelected, 0x4E);
  // A slot without a key keeps the colour it had.
  EXPECT_EQ(g_colors.MenuText, default_colors().MenuText);
}

TEST_F(SettingsTest, EveryColourSlotHasItsKey) {
  std::string text = "[Colors]\n";
  for (int i = 0; i < kColorSlots; ++i) text += std::string(kColorSlotInfo[i].name) + "=" + std::to_string(i + 1) + "\n";
  load(text);
  // Keys are matched by their beginning, so a name that begins another
  // (MenuHot, MenuDisabled, DialogEdit) finds its own line only when that
  // comes first, as it does in the slots' order.
  for (int i = 0; i < kColorSlots; ++i) EXPECT_EQ(g_colors.slot(i), i + 1) << kColorSlotInfo[i].name;
}

TEST_F(SettingsTest, FramesOfTheWrongLengthAreIgnored) {
  const Frames built_in = default_frames();
  load(
      "[Frames]\nSingle=12345678\nDouble=ABCDEFGHI\nHexWindow=abcdefghij\n"
      "VerlineSingle=|\nHorlineSingle=--\nScrollBarChar=#\nVerScrollBar=\n");
  EXPECT_EQ(memcmp(g_frames.single_frame, built_in.single_frame, 9), 0);
  EXPECT_EQ(memcmp(g_frames.double_frame, "ABCDEFGHI", 9), 0);
  EXPECT_EQ(memcmp(g_frames.hex_frame, built_in.hex_frame, 9), 0);
  EXPECT_EQ(g_frames.vertical_single, '|');
  EXPECT_EQ(g_frames.horizontal_single, built_in.horizontal_single);
  EXPECT_EQ(g_frames.scroll_thumb, '#');
  EXPECT_EQ(g_frames.scroll_track_vertical, built_in.scroll_track_vertical);
}

TEST_F(SettingsTest, TranslationTablesAreTakenOnlyAtTheirExactLength) {
  const std::string table(128, 'x');
  load("[Xlat]\nToAnsi=" + table + "\nToOem=" + table + "y\n");
  EXPECT_EQ(g_settings.xlat.to_ansi, table);
  EXPECT_EQ(g_settings.xlat.to_oem, "");
  EXPECT_FALSE(g_settings.xlat.in_use());
  load("[Xlat]\nToOem=" + table + "\n");
  EXPECT_TRUE(g_settings.xlat.in_use());
  load("[Xlat]\nToAnsi=" + std::string(127, 'z') + "\n");
  EXPECT_EQ(g_settings.xlat.to_ansi, table);
}

TEST_F(SettingsTest, GarbageAndOverLongLinesGiveTheDefaults) {
  std::string text = "\x01\x02[[[\n=\n[Options\n[Options]\n";
  text += "DateChar\n";
  text += "HelpFile=" + std::string(100000, 'h') + "\n";
  text += std::string(200000, 'q') + "\n";
  text += std::string("Mem\0o=1\n", 8);
  text += "[Filter]\nExpression=" + std::string(5000, 'e') + "\r\n";
  text += "[Colors]\nFrame=0x\nText=--3\n[Frames]\nSingle=\n";
  text.push_back('\0');
  load(text);
  EXPECT_EQ(g_settings.date_format, 1);
  EXPECT_EQ(g_settings.date_char, '.');
  EXPECT_EQ(g_settings.memo, 0);
  EXPECT_EQ(g_settings.help_file, std::string(260, 'h'));
  // Other texts stop at 260 characters; a filter expression is read whole.
  EXPECT_EQ(g_settings.filter.expression, std::string(5000, 'e'));
  EXPECT_EQ(g_colors.Frame, default_colors().Frame);
  EXPECT_EQ(g_colors.Text, default_colors().Text);
  EXPECT_EQ(memcmp(g_frames.single_frame, default_frames().single_frame, 9), 0);
}

TEST_F(SettingsTest, SavingInsertsAMissingKeyAfterTheHeaderLine) {
  write_text(g_settings_file, "; mine\n[Options]\nDateFormat=3\n[Search]\nByField=1\n");
  settings_load();
  g_settings.confirmation = 1;
  settings_save_options();
  std::vector<std::string> lines = file_lines(g_settings_file);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "; mine");
  EXPECT_EQ(lines[1], "[Options]");
  // Every other key was missing too and went in after the header the same
  // way, each before the ones written earlier.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Confirmation=1"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DateFormat=3"), lines.end());
  EXPECT_EQ(std::find(lines.begin(), lines.end(), std::string("HelpFile=english.dbf")), lines.end());
  // The section after it is untouched.
  EXPECT_EQ(lines[lines.size() - 2], "[Search]");
  EXPECT_EQ(lines.back(), "ByField=1");
  // Every line ends with CR LF.
  const std::string bytes = file_text(g_settings_file);
  EXPECT_EQ(bytes.find("\r\n[Options]\r\n"), 6u);
  EXPECT_EQ(bytes.substr(bytes.size() - 11), "ByField=1\r\n");
}

TEST_F(SettingsTest, SavingInsertsOneKeyDirectlyAfterTheHeader) {
  std::string text = "[Options]\n";
  for (const char* key : {"StartMode", "DateFormat", "Separator", "DateChar", "Alignment", "OEMAnsi", "Memo",
                          "DeleteDown", "EnterDown", "ScrollBars", "ProgressBar", "BakFiles", "ReadOnly",
                          "Aliases", "Dontkeeppos", "MemoWrap", "UndoLimitMB"}) {
    text += std::string(key) + "=0\n";
  }
  write_text(g_settings_file, text);
  settings_save_options();
  std::vector<std::string> lines = file_lines(g_settings_file);
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines[0], "[Options]");
  EXPECT_EQ(lines[1], "Confirmation=0");
  EXPECT_EQ(lines[2], "StartMode=0");
  EXPECT_EQ(lines[3], "DateFormat=2");
  EXPECT_EQ(lines[5], "DateChar=.");
}

TEST_F(SettingsTest, SavingIntoAFileWithoutTheSectionAppendsIt) {
  write_text(g_settings_file, "[Options]\r\nMemo=1\r\n");
  g_settings.search.s_expression = "NAME";
  g_settings.search.direction = 1;
  g_settings.filter.ignore_case = 0;
  settings_save_search();
  std::vector<std::string> lines = file_lines(g_settings_file);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "[Options]");
  EXPECT_EQ(lines[1], "Memo=1");
  EXPECT_EQ(lines[2], ";");
  EXPECT_EQ(lines[3], "[Search]");
  // The Search and Replace dialogs share IgnoreCase with the filter.
  EXPECT_EQ(lines[lines.size() - 3], ";");
  EXPECT_EQ(lines[lines.size() - 2], "[Filter]");
  EXPECT_EQ(lines.back(), "IgnoreCase=0");
  std::unique_ptr<IniText> ini = ini_open(g_settings_file, false);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini_get_str("Search", "SExpression", "", 260, *ini), "NAME");
  EXPECT_EQ(ini_get_int("Search", "Direction", 0, *ini), 1);
}

TEST_F(SettingsTest, AReadOnlyRunKeepsTheFilesReadOnlyValue) {
  // Started with /ro (or Read only switched on): a save keeps ReadOnly=0.
  load("[Options]\r\nReadOnly=0\r\n");
  g_settings.read_only = 1;
  settings_save_options();
  g_settings = Settings{};
  settings_load();
  EXPECT_EQ(g_settings.read_only, 0);
  // Read only switched off for one run: the file still says 1.
  load("[Options]\r\nReadOnly=1\r\n");
  g_settings.read_only = 0;
  settings_save_options();
  g_settings = Settings{};
  settings_load();
  EXPECT_EQ(g_settings.read_only, 1);
}

TEST_F(SettingsTest, EverySavedSectionReadsBackTheSame) {
  Settings& s = g_settings;
  s.start_mode = 1, s.date_format = 0, s.separator = 1, s.date_char = '/', s.alignment = 2;
  s.oem_ansi = 2, s.memo = 1, s.delete_down = 0, s.enter_down = 0, s.scroll_bars = 0;
  s.progress_bar = 0, s.confirmation = 1, s.bak_files = 2, s.file_read_only = 1, s.aliases = 0;
  s.dont_keep_pos = 1;
  s.append_from = {";,|", 1, 1, "/data/in.txt"};
  s.export_options = {6, 1, 2, 1, 1, 1, 1, 1, 2, 1, 0, 0, 0, "/data/out.xml"};
  s.export_txt = {2, 1, '\'', 0, ':'};
  s.export_prg.quote_char = 2;
  s.export_sql = {'[', 1};
  s.export_html = {"<h1>Top</h1>", "<hr>"};
  s.export_dbf = {3, 1024};
  s.filter = {"AGE > 30", 0};
  s.search = {"Smith", "Smyth", 2, 1};
  settings_save_options();
  settings_save_append_from();
  settings_save_export();
  settings_save_export_txt();
  settings_save_export_prg();
  settings_save_export_sql();
  settings_save_export_html();
  settings_save_export_dbf();
  settings_save_filter();
  settings_save_search();
  const Settings saved = g_settings;
  g_settings = Settings{};
  settings_load();
  const Settings& r = g_settings;
  EXPECT_EQ(r.start_mode, 1);
  EXPECT_EQ(r.date_format, 0);
  EXPECT_EQ(r.separator, 1);
  EXPECT_EQ(r.date_char, '/');
  EXPECT_EQ(r.alignment, 2);
  EXPECT_EQ(r.oem_ansi, 2);
  EXPECT_EQ(r.memo, 1);
  EXPECT_EQ(r.delete_down + r.enter_down + r.scroll_bars + r.progress_bar + r.aliases, 0);
  EXPECT_EQ(r.confirmation + r.read_only + r.dont_keep_pos, 3);
  EXPECT_EQ(r.bak_files, 2);
  EXPECT_EQ(r.append_from.chars, ";,|");
  EXPECT_EQ(r.append_from.sdf + r.append_from.no_blank, 2);
  EXPECT_EQ(r.append_from.filename, saved.append_from.filename);
  const ExportSettings& e = r.export_options;
  EXPECT_EQ(e.type, 6);
  EXPECT_EQ(e.overwrite, 1);
  EXPECT_EQ(e.records, 2);
  EXPECT_EQ(e.copy_deleted + e.copy_blank + e.memo_as_text + e.delete_mark + e.numeration + e.structure, 6);
  EXPECT_EQ(e.codepage, 2);
  EXPECT_EQ(e.header + e.detail + e.show_file, 0);
  EXPECT_EQ(e.filename, "/data/out.xml");
  EXPECT_EQ(r.export_txt.trim_text, 2);
  EXPECT_EQ(r.export_txt.quoting, 1);
  EXPECT_EQ(r.export_txt.quote_char, '\'');
  EXPECT_EQ(r.export_txt.delimiters, 0);
  EXPECT_EQ(r.export_txt.ver_dlm, ':');
  EXPECT_EQ(r.export_prg.quote_char, 2);
  EXPECT_EQ(r.export_sql.quote_char, '[');
  EXPECT_EQ(r.export_sql.sql2000, 1);
  EXPECT_EQ(r.export_html.header, "<h1>Top</h1>");
  EXPECT_EQ(r.export_html.footer, "<hr>");
  EXPECT_EQ(r.export_dbf.memo_type, 3);
  EXPECT_EQ(r.export_dbf.block_size, 1024);
  EXPECT_EQ(r.filter.expression, "AGE > 30");
  EXPECT_EQ(r.filter.ignore_case, 0);
  EXPECT_EQ(r.search.s_expression, "Smith");
  EXPECT_EQ(r.search.r_expression, "Smyth");
  EXPECT_EQ(r.search.direction, 2);
  EXPECT_EQ(r.search.by_field, 1);
  // The two [ExportSQL] and [ExportTXT] QuoteChar keys stay apart from the
  // number of [ExportPRG].
  EXPECT_NE(file_text(g_settings_file).find("[ExportPRG]\r\nQuoteChar=2\r\n"), std::string::npos);
}

TEST_F(SettingsTest, ASaveWithoutAWritableFileDoesNothing) {
  g_settings_file = dir_.file("missing/kora.ini");
  g_settings.memo = 1;
  settings_save_options();
  EXPECT_FALSE(test::file_exists(g_settings_file));
  g_settings_file.clear();
  settings_save_options();
  settings_load();
  EXPECT_EQ(g_settings.memo, 1);
}

// ---- the Options dialog ----------------------------------------------------

class OptionsDialogTest : public test::PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_settings = Settings{};
    g_settings_file = dir_.file("kora.ini");
    g_settings_hooks.apply_to_tables = [this] { applied_date_format_ = g_settings.date_format; };
    g_settings_hooks.request_redraw = [this] { ++redraws_; };
  }
  void TearDown() override {
    g_settings = Settings{};
    g_settings_file.clear();
    g_settings_hooks = SettingsHooks{};
    PopupTest::TearDown();
  }

  TempDir dir_;
  int applied_date_format_ = -1;
  int redraws_ = 0;
};

constexpr int kSpace = 0x3920;
constexpr int kDelete = 0x5300;

TEST_F(OptionsDialogTest, ShowsEveryGroupWithTheCurrentChoices) {
  g_settings.date_format = 3;
  g_settings.date_char = '/';
  press({test::kEsc});
  EXPECT_EQ(options_dialog(), 0);
  ASSERT_EQ(seen_.size(), 1u);
  const std::string row4 = seen_text(0, 4, 4, 72);
  EXPECT_NE(row4.find("Options"), std::string::npos);
  for (auto [x, y, label] : {std::tuple{6, 5, "Start mode"}, {6, 9, "Date format"}, {6, 15, "Date delimiter"},
                             {29, 5, "Align"}, {29, 10, "Codepage"}, {29, 15, "Memo"}, {49, 5, ".BAK files"}}) {
    EXPECT_NE(seen_text(0, x, y, 22).find(label), std::string::npos) << label;
  }
  for (auto [x, y, label] : {std::tuple{8, 6, "Browse"}, {8, 13, "Year-Month-Day"}, {8, 17, "Other"},
                             {31, 13, "Ansi"}, {51, 8, "%TEMP% directory"}, {51, 17, "Don't retain pos."}}) {
    EXPECT_NE(seen_text(0, x, y, 22).find(label), std::string::npos) << label;
  }
  EXPECT_EQ(seen_text(0, 26, 17, 1), "/");
  EXPECT_NE(seen_text(0, 20, 19, 40).find("OK"), std::string::npos);
  EXPECT_NE(seen_text(0, 40, 19, 20).find("Cancel"), std::string::npos);
  // Esc changes nothing and writes nothing.
  EXPECT_EQ(g_settings.date_format, 3);
  EXPECT_EQ(redraws_, 0);
  EXPECT_FALSE(test::file_exists(g_settings_file));
}

TEST_F(OptionsDialogTest, OkStoresAppliesAndSavesTheChoices) {
  // Down to "Year-Month-Day", choose it; down to "Other", choose it; into
  // the delimiter field, replace the dot; down to "Confirmation", tick it;
  // then to the OK button and Enter.
  press({test::kDown, test::kDown, test::kDown, test::kDown, test::kDown, kSpace, test::kDown, test::kDown, kSpace,
         test::kDown, kDelete, '-'});
  for (int i = 0; i < 16; ++i) press({test::kDown});
  press({kSpace, test::kEnd, test::kEnter});
  EXPECT_EQ(options_dialog(), 1);
  EXPECT_EQ(keys_left(), 0);
  EXPECT_EQ(g_settings.date_format, 3);
  EXPECT_EQ(g_settings.separator, 1);
  EXPECT_EQ(g_settings.date_char, '-');
  EXPECT_EQ(g_settings.confirmation, 1);
  EXPECT_EQ(g_settings.delete_down, 1);
  EXPECT_EQ(applied_date_format_, 3);
  EXPECT_EQ(redraws_, 1);
  // The file holds the new values, and reading it gives them back.
  const std::string text = file_text(g_settings_file);
  EXPECT_NE(text.find("DateFormat=3\r\n"), std::string::npos);
  EXPECT_NE(text.find("DateChar=-\r\n"), std::string::npos);
  g_settings = Settings{};
  settings_load();
  EXPECT_EQ(g_settings.date_format, 3);
  EXPECT_EQ(g_settings.confirmation, 1);
}

TEST_F(OptionsDialogTest, AnEmptyDelimiterFieldKeepsTheCharacter) {
  g_settings.date_char = '/';
  press({test::kDown, test::kDown, test::kDown, test::kDown, test::kDown, test::kDown, test::kDown, test::kDown,
         kDelete, test::kEnd, test::kEnter});
  EXPECT_EQ(options_dialog(), 1);
  EXPECT_EQ(g_settings.date_char, '/');
  EXPECT_NE(file_text(g_settings_file).find("DateChar=/\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kora
