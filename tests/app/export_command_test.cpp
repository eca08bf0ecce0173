// Export as the user drives it: Ctrl+F9 through the whole program, the
// quick exports of File "Save as", the open table kept off limits and Esc
// during a long export.
#include "app/export_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "program_driver.h"
#include "table/record_ops.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

std::string make_table(const test::TempDir& dir, int count) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"QTY", 'N', 3}};
  for (int i = 0; i < count; ++i) layout.records.push_back(i % 2 ? "two     2" : "one     1");
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  return path;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(ExportProgram, CtrlF9WritesTheChosenFormatAndShowsItReadOnly) {
  test::TempDir dir;
  std::string table = make_table(dir, 2);
  // The format list opens on Space and V picks CSV; the name gets its
  // extension; the result is shown in the editor, which Esc leaves.
  std::vector<int> keys = {kKeyCtrlF9, ' ', 'V', test::kTab, test::kTab};
  for (char c : dir.file("out")) keys.push_back(static_cast<unsigned char>(c));
  keys.push_back(test::kEnter);
  std::ofstream(dir.file("kora.ini")) << "[Export]\nDetail=1\nShowFile=1\n";
  const std::string kept = test::program_file();
  test::program_file() = dir.file("kora");
  test::run_kora({table}, keys);
  test::program_file() = kept;
  std::string ini = file_text(dir.file("kora.ini"));
  EXPECT_NE(ini.find("Type=8"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Filename=" + dir.file("out.csv")), std::string::npos) << ini;
  std::string csv = file_text(dir.file("out.csv"));
  EXPECT_EQ(csv.rfind("NAME,QTY", 0), 0u) << csv;
  EXPECT_NE(csv.find("one"), std::string::npos);
  EXPECT_NE(csv.find("two"), std::string::npos);
}

// The two typed formats in the same dialog: J picks JSON Lines, E SQLite
// (a database is not shown as text).
TEST(ExportProgram, CtrlF9OffersJsonLinesAndSqlite) {
  test::TempDir dir;
  std::string table = make_table(dir, 3);
  std::ofstream(dir.file("kora.ini")) << "[Export]\nDetail=1\nShowFile=1\n";
  const std::string kept = test::program_file();
  test::program_file() = dir.file("kora");
  for (const auto& [key, name, type] : {std::tuple{'J', "out.jsonl", "Type=9"}, std::tuple{'E', "out.sqlite", "Type=10"}}) {
    std::vector<int> keys = {kKeyCtrlF9, ' ', key, test::kTab, test::kTab};
    for (char c : dir.file(std::string(name).substr(0, 3))) keys.push_back(static_cast<unsigned char>(c));
    keys.push_back(test::kEnter);
    test::run_kora({table}, keys);
    EXPECT_NE(file_text(dir.file("kora.ini")).find(type), std::string::npos) << name;
  }
  test::program_file() = kept;
  EXPECT_EQ(file_text(dir.file("out.jsonl")),
            "{\"NAME\":\"one\",\"QTY\":1}\n{\"NAME\":\"two\",\"QTY\":2}\n{\"NAME\":\"one\",\"QTY\":1}\n");
  std::string rows;
  test::run_command("sqlite3 " + dir.file("out.sqlite") + " 'SELECT NAME, QTY, typeof(QTY) FROM t'", rows);
  EXPECT_EQ(rows, "one|1|integer\ntwo|2|integer\none|1|integer\n");
}

std::vector<std::string> g_screens;
void take_picture(int, int, int, int) {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  if (g_screens.empty() || g_screens.back() != text) g_screens.push_back(text);
}

bool shown(const std::string& text) {
  for (const std::string& screen : g_screens) {
    if (screen.find(text) != std::string::npos) return true;
  }
  return false;
}

class ExportCommandTest : public ::testing::Test {
 protected:
  void start(int count) {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_ui_idle_hook = take_picture;
    g_screens.clear();
    g_settings_file = dir.file("kora.ini");
    g_app.current = add_open_table(make_table(dir, count));
    ASSERT_GE(g_app.current, 0);
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_settings_file.clear();
    g_settings = Settings{};
    reset_app_state();
  }
  void type(const std::string& text) {
    for (char c : text) backend->push_key(static_cast<unsigned char>(c));
  }

  test::TempDir dir;
  HeadlessBackend* backend = nullptr;
};

TEST_F(ExportCommandTest, SaveAsWritesEveryRecordInEachFormat) {
  start(2);
  struct Case {
    Cmd command;
    const char* name;
    const char* start;
  };
  const Case cases[] = {
      {Cmd::SaveAsText, "q.txt", "one "},       {Cmd::SaveAsPrg, "q.prg", "APPEND BLANK"},
      {Cmd::SaveAsSql, "q.sql", "INSERT INTO"}, {Cmd::SaveAsHtml, "q.htm", "<meta charset=\"IBM866\">\n<table border=1>"},
      {Cmd::SaveAsXml, "q.xml", "<?xml"},       {Cmd::SaveAsCsv, "q.csv", "NAME,QTY"},
      {Cmd::SaveAsDbf, "q.dbf", "\x03"},
  };
  for (const Case& c : cases) {
    // The prompt holds the extension; the name typed goes before it. The
    // text result is shown read-only (Esc leaves it).
    type(dir.file("q"));
    backend->push_key(kKeyEnter);
    backend->push_key(kKeyEsc, backend->now_ms() + 60000);
    run_command(c.command);
    std::string bytes = file_text(dir.file(c.name));
    EXPECT_EQ(bytes.rfind(c.start, 0), 0u) << c.name << ":\n" << bytes.substr(0, 200);
    if (c.command != Cmd::SaveAsDbf) {
      EXPECT_NE(bytes.find("two"), std::string::npos) << c.name;
      EXPECT_TRUE(shown(dir.file(c.name))) << c.name;  // the editor's title
    }
  }
  // The DBF result is opened as a table of its own.
  EXPECT_EQ(g_app.table()->file_name, dir.file("q.dbf"));
  EXPECT_EQ(g_app.table()->record_count, 2u);
}

TEST_F(ExportCommandTest, TheRecordsAreTheSelectionTheCurrentOneOrAll) {
  start(3);
  ExportSettings& s = g_settings.export_options;
  s.type = 8;
  s.detail = 1;
  s.filename = dir.file("out.csv");
  struct Case {
    bool select_second;  // the selection preselects Following with its list
    int records;         // the last choice: 0 All, 1 Current
    const char* expected;
  };
  const Case cases[] = {
      {true, 0, "NAME,QTY\r\ntwo,2\r\n"},
      {false, 1, "NAME,QTY\r\none,1\r\n"},
      {false, 0, "NAME,QTY\r\none,1\r\ntwo,2\r\none,1\r\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(s.filename);
    current_state().selection.clear();
    if (c.select_second) current_state().selection.push_back(physical_record(*g_app.table(), 1));
    s.records = c.records;
    backend->push_key(kKeyEnter);
    run_command(Cmd::Export);
    EXPECT_EQ(file_text(s.filename), c.expected) << c.records;
  }
}

TEST_F(ExportCommandTest, EachFormatsOptionsAreSavedInItsSection) {
  start(1);
  struct Case {
    int type;
    std::vector<int> keys;  // in the options dialog, before OK
    const char* section;
    const char* saved;  // the key and its value
  };
  const Case cases[] = {
      {0, {kKeyTab, ' '}, "[ExportTXT]", "TrimText=1"},
      {3, {' '}, "[ExportSQL]", "Sql2000=1"},
      {1, {kKeyTab, ' '}, "[ExportPRG]", "QuoteChar=1"},
      {4, {'<', 'h', '>'}, "[ExportHTML]", "Header=<h>"},
      {5, {kKeyTab, ' '}, "[ExportDBF]", "MemoType=1"},
  };
  for (const Case& c : cases) {
    g_settings.export_options.type = c.type;
    backend->push_key(kKeyTab);  // the Options button
    backend->push_key(kKeyEnter);
    for (int key : c.keys) backend->push_key(key);
    backend->push_key(kKeyEnter);
    backend->push_key(kKeyEsc);  // the Export dialog
    run_command(Cmd::Export);
    std::string ini = file_text(g_settings_file);
    size_t at = ini.find(std::string(c.section) + "\r\n");
    std::string section = at == std::string::npos ? "" : ini.substr(at, ini.find("\n[", at) - at) + "\n";
    EXPECT_NE(section.find(std::string("\n") + c.saved + "\r\n"), std::string::npos) << ini;
  }
  ExportOptions options = export_options_from_settings();
  EXPECT_EQ(options.trim, ExportTrim::kLeft);
  EXPECT_TRUE(options.sql2000);
  EXPECT_EQ(options.prg_quote, 1);
  EXPECT_EQ(options.html_header, "<h>");
  EXPECT_EQ(options.dbf_kind, 1);
}

// The XML options list the "tbl" folder beside the program by title (a
// file too short for its map and a folder are left out); the chosen table
// translates the bytes and names the code page the XML declares.
TEST_F(ExportCommandTest, TheXmlCodePageTableChosenInTheOptionsTranslatesTheExport) {
  start(1);
  std::filesystem::create_directories(dir.file("tbl/folder.tbl"));
  std::string map(128, '\0');
  for (int i = 0; i < 128; ++i) map[size_t(i)] = char(0x80 + (i + 1) % 128);
  std::ofstream(dir.file("tbl/koi8-r.tbl"), std::ios::binary) << std::string("Cyrillic KOI8-R") + std::string(113, ' ') + map;
  std::ofstream(dir.file("tbl/short.tbl"), std::ios::binary) << "Too short";
  export_install(dir.file("kora"));
  std::vector<XmlCodeTable> tables = list_xml_code_tables(dir.file("tbl"));
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].title, "Cyrillic KOI8-R");

  g_settings.export_options.type = int(ExportFormat::kXml);
  for (int key : {kKeyTab, kKeyEnter, int(' '), kKeyDown, kKeyEnter, kKeyEnter, kKeyEsc}) backend->push_key(key);
  run_command(Cmd::Export);
  ExportOptions options = export_options_from_settings();
  ASSERT_TRUE(options.xml_table.has_value());
  options.format = ExportFormat::kXml;
  options.detail = true;
  Table* table = g_app.table();
  ASSERT_TRUE(table && read_record(*table, 0));
  table->record[1] = 0x80;  // the first letter of NAME, written through the table
  ASSERT_TRUE(write_record(*table, 0));
  std::string out = dir.file("t.xml");
  ASSERT_TRUE(export_table(*table, out, options, OutputGuard{{}, [](const std::string&) { return true; }}).ok());
  std::string xml = file_text(out);
  EXPECT_NE(xml.find("encoding=\"koi8-r\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<NAME>\x81ne</NAME>"), std::string::npos) << xml;
  export_install("");  // back to Default for the tests after this one
}

TEST_F(ExportCommandTest, TheOpenTableIsNeverWrittenOverAndAFailureIsReported) {
  start(2);
  std::vector<uint8_t> before = test::read_bytes(dir.file("t.dbf"));
  g_settings.export_options.type = 5;
  g_settings.export_options.overwrite = 1;
  g_settings.export_options.detail = 1;
  g_settings.export_options.filename = dir.file("t.dbf");
  backend->push_key(kKeyEnter);  // OK
  backend->push_key(kKeyEnter, backend->now_ms() + 60000);  // the message
  run_command(Cmd::Export);
  EXPECT_TRUE(shown("Cannot write over a table open in KORA"));
  EXPECT_EQ(test::read_bytes(dir.file("t.dbf")), before);

  // A file that cannot be made is reported, never taken for done.
  g_settings.export_options.type = 8;
  g_settings.export_options.filename = dir.file("no/such/folder.csv");
  backend->push_key(kKeyEnter);
  backend->push_key(kKeyEnter, backend->now_ms() + 60000);
  run_command(Cmd::Export);
  EXPECT_TRUE(shown("Cannot open file"));

  // Appending to a table: the fields no column fills are named; a table
  // sharing no field name gets nothing.
  test::DbfLayout other;
  other.fields = {{"NAME", 'C', 6}, {"CITY", 'C', 4}};
  test::write_bytes(dir.file("other.dbf"), test::build_dbf(other));
  test::DbfLayout unrelated;
  unrelated.fields = {{"CITY", 'C', 4}};
  test::write_bytes(dir.file("unrelated.dbf"), test::build_dbf(unrelated));
  std::vector<uint8_t> unrelated_before = test::read_bytes(dir.file("unrelated.dbf"));
  g_settings.export_options.type = 5;
  g_settings.export_options.overwrite = 0;
  g_settings.export_options.show_file = 0;
  for (const char* name : {"other.dbf", "unrelated.dbf"}) {
    g_settings.export_options.filename = dir.file(name);
    backend->push_key(kKeyEnter);
    backend->push_key(kKeyEnter, backend->now_ms() + 60000);
    run_command(Cmd::Export);
  }
  EXPECT_TRUE(shown("No exported column has the name of CITY:"));
  EXPECT_TRUE(shown("Nothing was appended."));
  EXPECT_EQ(test::read_bytes(dir.file("unrelated.dbf")), unrelated_before);
}

TEST_F(ExportCommandTest, EscStopsALongExportKeepingTheOldFileAndALargeResultIsOnlyNamed) {
  start(300000);
  std::string out = dir.file("out.csv");
  std::ofstream(out) << "old\n";
  ExportSettings& s = g_settings.export_options;
  s.type = 8;
  s.overwrite = 1;
  s.detail = 1;
  s.show_file = 0;
  s.filename = out;
  backend->push_key(kKeyEnter);  // OK
  backend->push_key(kKeyEnter, backend->now_ms() + 60000);  // overwrite: OK
  backend->push_key(kKeyEsc, backend->now_ms() + 60001);
  run_command(Cmd::Export);
  EXPECT_TRUE(shown("Do you wish to overwrite the existing file?"));
  EXPECT_EQ(file_text(out), "old\n");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 3);  // the table, the settings and the old export

  // Done whole, so large a result is named rather than loaded.
  type(dir.file("big"));
  backend->push_key(kKeyEnter);
  backend->push_key(kKeyEnter, backend->now_ms() + 60000);
  run_command(Cmd::SaveAsText);
  EXPECT_GT(std::filesystem::file_size(dir.file("big.txt")), kShowFileLimit);
  EXPECT_TRUE(shown(dir.file("big.txt")));
  EXPECT_TRUE(shown("The file is too large to show."));
}

// The dialog's code page: a value saved by an older kora keeps its meaning
// (0 as stored); UTF-8 is the new choice; never chosen, CSV is written in
// UTF-8 and the other formats as stored, and nothing is saved in its place
// so that the choice keeps following the format.
TEST_F(ExportCommandTest, TheCodePageKeepsItsSavedMeaningAndCsvStartsInUtf8) {
  reset_app_state();
  screen_open_headless(25, 80);
  backend = headless_backend();
  g_settings_file = dir.file("kora.ini");
  test::DbfLayout layout;
  layout.code_page_mark = 0x65;  // 866
  layout.fields = {{"NAME", 'C', 6}};
  layout.records = {"\x88\xa2"};  // Ив
  test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
  g_app.current = add_open_table(dir.file("t.dbf"));
  ASSERT_GE(g_app.current, 0);
  struct Case {
    int saved;
    int type;
    const char* value;  // as written
    const char* ini;
  };
  const Case cases[] = {
      {-1, 8, "Ив", "Codepage=-1"},          {0, 8, "\x88\xa2", "Codepage=0"},
      {-1, 0, "\x88\xa2", "Codepage=-1"},     {3, 0, "Ив", "Codepage=3"},
  };
  ExportSettings& s = g_settings.export_options;
  for (const Case& c : cases) {
    s.codepage = c.saved;
    s.type = c.type;
    s.overwrite = s.detail = 1;
    s.show_file = 0;
    s.filename = dir.file("out.x");
    std::filesystem::remove(s.filename);
    backend->push_key(kKeyEnter);
    run_command(Cmd::Export);
    EXPECT_NE(file_text(dir.file("out.x")).find(c.value), std::string::npos) << c.saved << " " << c.type;
    EXPECT_NE(file_text(g_settings_file).find(c.ini), std::string::npos) << c.saved << " " << c.type;
  }
}

}  // namespace
}  // namespace kora
