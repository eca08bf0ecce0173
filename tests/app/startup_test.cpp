// From the command line to the main loop with the screen up: which table is
// shown, in which order, the header repair question and the exit statuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "../support/test_support.h"
#include "app/app_state.h"
#include "program_driver.h"
#include "ui/message_box.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr const char* kStates = "shapelib/mexico/states.dbf";  // 32 records
constexpr const char* kPoints = "infused-dbf/dbase_03.dbf";    // 14 records

uint32_t header_count(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  return bytes.size() >= 8 ? uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 |
                                 uint32_t(bytes[7]) << 24
                           : 0;
}

// A copy of a fixture whose header claims `extra` more records than it holds.
std::string copy_with_wrong_count(const TempDir& dir, const std::string& fixture, const std::string& name,
                                  uint32_t extra) {
  std::string path = dir.copy_fixture(fixture, name);
  std::vector<uint8_t> bytes = read_bytes(path);
  uint32_t count = header_count(path) + extra;
  for (int i = 0; i < 4; ++i) bytes[size_t(4 + i)] = uint8_t(count >> (8 * i));
  write_bytes(path, bytes);
  return path;
}

bool screen_shows(const std::string& text) {
  for (int y = 0; y < 25; ++y) {
    if (row(y).find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(Startup, HelpInALaterPositionOpensTheTable) {
  TempDir dir;
  std::string path = dir.copy_fixture(kStates, "a.dbf");
  EXPECT_EQ(run_kora({path, "/h"}, {}), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_NE(row(0).find("1 / 32"), std::string::npos) << row(0);
}

TEST(Startup, OnlyTheFirstNameIsOpenedReadOnlyAndInReverseOrder) {
  TempDir dir;
  std::string a = dir.copy_fixture(kStates, "a.dbf");
  std::string b = dir.copy_fixture(kPoints, "b.dbf");
  EXPECT_EQ(run_kora({"/ro", "/r+", a, b}, {kF10}), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_EQ(g_settings.read_only, 1);
  // The program closed the shown table and no other was opened.
  EXPECT_EQ(g_app.tables.last, -1);
  // The last record of the file comes first.
  std::string last_row;
  {
    EXPECT_EQ(run_kora({a}, {kCtrlEnd}), 0);
    last_row = row(22).substr(0, 78);
  }
  run_kora({"/r+", a}, {});
  EXPECT_EQ(row(4).substr(0, 78), last_row);
  EXPECT_EQ(g_settings.read_only, 0);
}

TEST(Startup, AWrongHeaderIsQuestionedAndCancelEndsWithStatusOne) {
  TempDir dir;
  std::string path = copy_with_wrong_count(dir, kStates, "a.dbf", 5);
  std::vector<uint8_t> before = read_bytes(path);

  EXPECT_EQ(run_kora({path}, {kRight, kRight, kEnter}), 1);
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_EQ(run_kora({path}, {kEsc}), 1);
  EXPECT_EQ(read_bytes(path), before);

  // Continue shows the table as it is and leaves the file alone.
  EXPECT_EQ(run_kora({path}, {kRight, kEnter, kF10}), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
  EXPECT_EQ(read_bytes(path), before);

  // Correct writes the header.
  EXPECT_EQ(run_kora({path}, {kEnter, kF10}), 0);
  EXPECT_EQ(header_count(path), 32u);
}

// Every screen shown while the program waited for a key.
std::string g_screens;
void remember_screen(int, int, int, int) {
  for (int y = 0; y < 25; ++y) g_screens += row(y) + "\n";
}

// The question says what is wrong and what a repair writes; in read-only
// mode it only offers to show the table as it is, /a included.
TEST(Startup, TheRepairQuestionNamesWhatItWritesAndReadOnlyModeWritesNothing) {
  TempDir dir;
  std::string path = copy_with_wrong_count(dir, kStates, "a.dbf", 5);
  std::vector<uint8_t> before = read_bytes(path);
  auto shown = [](const char* text) { return g_screens.find(text) != std::string::npos; };
  g_screens.clear();
  g_ui_idle_hook = remember_screen;
  EXPECT_EQ(run_kora({path}, {}), 1);
  EXPECT_TRUE(shown("The header says 37 records; the file holds 32. Write 32?")) << g_screens;
  EXPECT_TRUE(shown("Correct"));

  g_screens.clear();
  EXPECT_EQ(run_kora({"/ro", path}, {}), 1);
  g_ui_idle_hook = nullptr;
  EXPECT_TRUE(shown("Nothing is written in read-only mode.")) << g_screens;
  EXPECT_TRUE(shown("Open read-only"));
  EXPECT_FALSE(shown("Correct"));
  for (std::vector<std::string> args : {std::vector<std::string>{"/ro", path}, {"/ro", "/a", path}}) {
    EXPECT_EQ(run_kora(args, {kEnter, kF10}), 0);
    EXPECT_NE(row(0).find("1 / 32"), std::string::npos) << row(0);
    EXPECT_EQ(read_bytes(path), before);
  }
  EXPECT_FALSE(file_exists(dir.file("a.hbk")));
}

// Without its memo file the table opens, and the memo editor names the
// file instead of showing an empty text.
TEST(Startup, TheMemoEditorNamesAMissingMemoFile) {
  constexpr int kSpace = 0x3920;  // the memo editor on the first memo field
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83_missing_memo.dbf", "bare.dbf");
  g_screens.clear();
  on_screen_wait() = [] { remember_screen(0, 0, 0, 0); };
  EXPECT_EQ(run_kora({path}, {kSpace}), 0);  // the keys run out on the message
  on_screen_wait() = nullptr;
  EXPECT_NE(g_screens.find("No memo file:"), std::string::npos);
  EXPECT_NE(g_screens.find(dir.file("bare.dbt")), std::string::npos);
  EXPECT_EQ(g_screens.find("Memo editor"), std::string::npos);
}

TEST(Startup, ContinueThenAnAppendKeepsTheVersionByteOfTheFile) {
  constexpr int kCtrlF5 = 0x6200;  // append a blank record now
  struct Case {
    const char* fixture;
    uint8_t version;  // written over the fixture's own
    bool asked;
    bool appends;  // a byte no program knows holds the table read-only
  };
  // Visual FoxPro with varchar fields, then a byte no program knows.
  const Case cases[] = {{"php-xbase/foxpro/vfp.dbf", 0x32, false, true}, {kPoints, 0x05, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.version));
    TempDir dir;
    std::string path = dir.copy_fixture(c.fixture, "t.dbf");
    if (c.version == 0x32) dir.copy_fixture("php-xbase/foxpro/vfp.fpt", "t.fpt");
    std::vector<uint8_t> bytes = read_bytes(path);
    bytes[0] = c.version;
    write_bytes(path, bytes);
    uint32_t count = header_count(path);
    std::vector<int> keys = c.asked ? std::vector<int>{kRight, kEnter} : std::vector<int>{};
    keys.insert(keys.end(), {kCtrlF5, kF10});
    EXPECT_EQ(run_kora({path}, keys), 0);
    EXPECT_EQ(read_bytes(path).at(0), c.version);
    EXPECT_EQ(header_count(path), count + (c.appends ? 1 : 0));
  }
}

TEST(Startup, LayoutsKoraReadsOpenAndThoseItDoesNotChangeSayWhyOnTheStatusLine) {
  TempDir dir;
  std::string odd = dir.copy_fixture(kStates, "odd.dbf");
  // A table without fields, its records just the deletion flag: the end
  // mark after them is no record.
  std::string none = dir.copy_fixture("infused-dbf/polygon.dbf", "none.dbf");
  std::vector<uint8_t> marked = read_bytes(none);
  marked.push_back(0x1A);
  write_bytes(none, marked);
  std::vector<uint8_t> bytes = read_bytes(odd);
  bytes[0] = 0x05;
  write_bytes(odd, bytes);
  struct Case {
    std::string path;
    std::vector<int> keys;  // answers to the repair question, then a try at editing (one record down)
    const char* reason;     // on the status line; "" none
    const char* counter;
  };
  constexpr int kF4 = 0x3E00, kDel = 0x5300;
  const std::vector<int> try_edit = {kF4, 'Z', kDown, kF4, kDel};
  auto then_edit = [&](std::vector<int> keys) {
    keys.insert(keys.end(), try_edit.begin(), try_edit.end());
    return keys;
  };
  const Case cases[] = {
      {dir.copy_fixture("infused-dbf/dbase_02.dbf", "two.dbf"), then_edit({}), "(read only: dBase II table)", "2 / 9"},
      {odd, then_edit({kRight, kEnter}), "(read only: unknown version 0x05)", "2 / 32"},
      {none, {}, "", "1 / 1"},  // not asked about
      {dir.copy_fixture("infused-dbf/dbase_8c.dbf", "seven.dbf"), {}, "", "1 / 10"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> before = read_bytes(c.path);
    EXPECT_EQ(run_kora({c.path}, c.keys), 0) << c.path;
    EXPECT_NE(row(0).find(c.counter), std::string::npos) << row(0);
    if (*c.reason) {
      EXPECT_NE(row(0).find(c.reason), std::string::npos) << row(0);
      EXPECT_EQ(read_bytes(c.path), before) << c.path;
    } else {
      EXPECT_EQ(row(0).find("read only"), std::string::npos) << row(0);
    }
  }
}

TEST(Startup, ADBase7NumberTypedIntoACellIsStoredInTheFormatsOwnForm) {
  constexpr int kF4 = 0x3E00;
  struct Case {
    const char* fixture;
    const char* typed;
    std::vector<uint8_t> stored;  // big-endian, the sign bit flipped
  };
  const Case cases[] = {
      {"php-xbase/dBase/dBaseVII_int.dbf", "-42", {0x7F, 0xFF, 0xFF, 0xD6}},
      {"php-xbase/dBase/dBaseVII_double.dbf", "2", {0xC0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.copy_fixture(c.fixture, "seven.dbf");
    std::vector<int> keys = {kF4};
    for (const char* p = c.typed; *p; ++p) keys.push_back(*p);
    keys.insert(keys.end(), {kDown, kF4});
    EXPECT_EQ(run_kora({path}, keys), 0) << c.fixture;
    std::vector<uint8_t> bytes = read_bytes(path);
    const size_t first_field = 117 + 1;  // both: a 117-byte header, then the deletion flag
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + first_field, bytes.begin() + long(first_field + c.stored.size())),
              c.stored)
        << c.fixture;
  }
}

TEST(Startup, AutoCorrectByItsFirstLetterWritesTheHeaderWithoutAsking) {
  TempDir dir;
  std::string path = copy_with_wrong_count(dir, kStates, "a.dbf", 5);
  EXPECT_EQ(run_kora({"/auto", path}, {}), 0);
  EXPECT_EQ(header_count(path), 32u);
  EXPECT_FALSE(screen_shows("Write 32?"));
}

TEST(Startup, CreateAndModifyLeftWithEscEndTheRun) {
  TempDir dir;
  std::string fresh = dir.file("new.dbf");
  EXPECT_EQ(run_kora({"/cr", fresh}, {}), 0);
  EXPECT_FALSE(file_exists(fresh));

  // An existing file is opened as usual despite /cr.
  std::string a = dir.copy_fixture(kPoints, "a.dbf");
  EXPECT_EQ(run_kora({"/cr", a}, {}), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");

  std::vector<uint8_t> before = read_bytes(a);
  EXPECT_EQ(run_kora({"/ms", a}, {}), 0);
  EXPECT_FALSE(screen_shows("[0]a.dbf"));
  EXPECT_EQ(read_bytes(a), before);

  // Read-only comes first: no structure editor.
  EXPECT_EQ(run_kora({"/ro", "/ms", a}, {}), 0);
  EXPECT_EQ(row(0).substr(0, 8), "[0]a.dbf");
}

TEST(Startup, AFixtureWithCyrillicTextInWindows1251IsShownInTheScreenCodePage) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/cp1251.dbf", "cp.dbf");
  EXPECT_EQ(run_kora({path}, {}), 0);
  // "больничное" in code page 866 on the second data row.
  const std::string word = "\xA1\xAE\xAB\xEC\xAD\xA8\xE7\xAD\xAE\xA5";
  EXPECT_NE(row(5).find(word), std::string::npos) << row(5);
}

TEST(Startup, TheCodePageSwitchOverridesTheMarkOfTheTable) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/cp1251.dbf", "cp.dbf");
  std::vector<uint8_t> before = read_bytes(path);
  // Read as code page 866, "больничное" keeps its Windows-1251 bytes on the screen.
  EXPECT_EQ(run_kora({"/cp:866", path}, {}), 0);
  EXPECT_NE(row(5).find("\xE1\xEE\xEB\xFC\xED\xE8\xF7\xED\xEE\xE5"), std::string::npos) << row(5);
  EXPECT_EQ(run_kora({"-CP:Windows-1251", path}, {}), 0);
  EXPECT_NE(row(5).find("\xA1\xAE\xAB\xEC\xAD\xA8\xE7\xAD\xAE\xA5"), std::string::npos) << row(5);
  EXPECT_EQ(read_bytes(path), before);  // the choice is never written into the file
  EXPECT_EQ(run_kora({"/cp:klingon", path}, {}), kExitNotOpened);
}

TEST(Startup, TheConfiguredCodePageTranslationIsUsedOnlyWhenBothHalvesAreGiven) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/cp1251.dbf", "cp.dbf");
  program_file() = dir.file("kora");
  const std::string to_oem = "ToOem=" + std::string(128, '#') + "\n";
  for (bool both : {false, true}) {
    std::string ini = "[Xlat]\n" + to_oem + (both ? "ToAnsi=" + std::string(128, '%') + "\n" : "");
    write_bytes(dir.file("kora.ini"), std::vector<uint8_t>(ini.begin(), ini.end()));
    EXPECT_EQ(run_kora({path}, {}), 0);
    EXPECT_EQ(row(5).find("##########") != std::string::npos, both) << row(5);
    EXPECT_EQ(row(5).find("\xA1\xAE\xAB\xEC\xAD") != std::string::npos, !both) << row(5);
  }
  program_file() = "/nonexistent-kora-test/kora";
}

}  // namespace
}  // namespace kora
