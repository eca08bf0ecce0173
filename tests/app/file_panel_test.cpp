// The file panel runs headless on a temporary folder tree: keys are scripted,
// the panel's last picture before the script runs out (the key wait's idle
// routine takes it) and the working directory are checked.
#include "app/file_panel.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {
namespace {

using test::TempDir;

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kF9 = 0x4300, kF10 = 0x4400, kUp = 0x4800,
              kDown = 0x5000, kLeft = 0x4B00, kRight = 0x4D00, kPgUp = 0x4900, kPgDn = 0x5100,
              kHome = 0x4700, kEnd = 0x4F00, kBackspace = 8, kCtrlBackslash = 0x2B1C,
              kCtrlY = 0x1519;

// On an 80 x 25 screen the box spans columns 10..69 and rows 2..21; entry
// lines start at column 11 on rows 3..20.
constexpr int kLeftColumn = 11, kFirstRow = 3, kVisibleRows = 18;

ScreenSnapshot g_picture;
int g_picture_topic = 0;
void take_picture(int topic, int, int, int) {
  g_picture = save_screen();
  g_picture_topic = topic;
}

std::string picture_row(int y) {
  std::string row;
  for (int x = 0; x < g_picture.cols; ++x) row += static_cast<char>(cell_byte(g_picture.cells[size_t(y * g_picture.cols + x)]));
  return row;
}
int picture_attr(int x, int y) { return g_picture.cells[size_t(y * g_picture.cols + x)].attr; }

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string current_directory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

std::string real_path(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

void make_file(const std::string& path, size_t size = 0) {
  test::write_bytes(path, std::vector<uint8_t>(size, 'x'));
}
void make_dir(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

class FilePanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_directory = current_directory();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_key_hooks = KeyHooks{};
    g_dialog_hooks = DialogHooks{};
    g_ui_idle_hook = take_picture;
    g_file_panel_settings = FilePanelSettings{};
    g_picture = ScreenSnapshot{};
    root = real_path(folder.path());
  }
  void TearDown() override {
    ASSERT_EQ(chdir(saved_directory.c_str()), 0);
    g_ui_idle_hook = nullptr;
    g_dialog_hooks = DialogHooks{};
  }
  void keys(std::initializer_list<int> codes) {
    for (int code : codes) backend->push_key(code);
  }
  void type(std::string_view text) {
    for (unsigned char ch : text) backend->push_key(ch);
  }
  // Runs the panel; the script running out leaves it like Esc.
  int run(const std::string& dir, const std::string& mask = "*.dbf") {
    chosen = "(none)";
    return file_panel(dir, mask, chosen);
  }
  // The names on the panel's entry rows, from the last picture.
  std::vector<std::string> shown_names() {
    std::vector<std::string> names;
    for (int row = 0; row < kVisibleRows; ++row) {
      std::string name = trimmed(picture_row(kFirstRow + row).substr(kLeftColumn, 29));
      if (picture_row(kFirstRow + row)[kLeftColumn + 29] != '|') break;
      names.push_back(name);
    }
    return names;
  }
  // The highlighted entry's name and row in the last picture, "" when none.
  std::string cursor_name(int* row_out = nullptr) {
    for (int row = 0; row < kVisibleRows; ++row) {
      if (picture_attr(kLeftColumn, kFirstRow + row) == g_colors.DialogButton) {
        if (row_out) *row_out = row;
        return trimmed(picture_row(kFirstRow + row).substr(kLeftColumn, 29));
      }
    }
    return "";
  }

  TempDir folder;
  std::string root;
  std::string saved_directory;
  std::string chosen;
  HeadlessBackend* backend = nullptr;
};

std::vector<std::string> names_of(const std::vector<FileEntry>& entries) {
  std::vector<std::string> names;
  for (const FileEntry& entry : entries) names.push_back(entry.name);
  return names;
}

// ---- the listing -------------------------------------------------------------------

TEST_F(FilePanelTest, ListsDirectoriesThenMatchingFilesCaseSensitivelyWithHiddenNames) {
  for (const char* name : {"beta", "Alpha", ".hidden", "z.dbf", "-old"}) make_dir(folder.file(name));
  make_file(folder.file("b.dbf"), 1234);
  for (const char* name : {"A.DBF", "a.dbf", "c.txt", ".x.dbf", "adbf"}) make_file(folder.file(name));
  ASSERT_EQ(chdir(root.c_str()), 0);

  FilePanel panel;
  panel.mask = "*.dbf";
  file_panel_read(panel);
  EXPECT_EQ(names_of(panel.entries),
            (std::vector<std::string>{"..", "-old", ".hidden", "Alpha", "beta", "z.dbf", ".x.dbf",
                                      "a.dbf", "b.dbf"}));
  for (size_t i = 0; i < panel.entries.size(); ++i) EXPECT_EQ(panel.entries[i].is_directory, i < 6 ? 1 : 0);
  EXPECT_EQ(panel.entries.back().size, 1234);
  EXPECT_EQ(panel.directory, root);
  EXPECT_EQ(panel.cursor, 0);

  panel.mask = "*.DBF";
  file_panel_read(panel);
  EXPECT_EQ(panel.entries.back().name, "A.DBF");
  EXPECT_EQ(panel.entries.size(), 7u);
}

TEST_F(FilePanelTest, SortKeepsGroupsAndPutsUpFirstWhateverTheNames) {
  std::vector<FileEntry> entries(6);
  const char* names[] = {"b", "!x", "AB", "ab", "..", "a"};
  const int directories[] = {0, 1, 0, 0, 1, 1};
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].name = names[i];
    entries[i].is_directory = directories[i];
  }
  sort_file_entries(entries);
  EXPECT_EQ(names_of(entries), (std::vector<std::string>{"..", "!x", "a", "AB", "ab", "b"}));
}

TEST_F(FilePanelTest, EntryLinesFollowTheFormatsAndTheDateSetting) {
  FileEntry up{.name = "..", .is_directory = 1};
  EXPECT_EQ(file_entry_line(up, 2), "..                           |[UP---DIR]|  Date  |  Time  ");

  FileEntry dir{.name = "data", .is_directory = 1, .size = 4096, .day = 9, .month = 7, .year = 3,
                .hour = 14, .minute = 5, .second = 6};
  EXPECT_EQ(file_entry_line(dir, 2), "data                         |[SUB--DIR]|07.09.03|14:05:06");
  EXPECT_EQ(file_entry_line(dir, 1), "data                         |[SUB--DIR]|09.07.03|14:05:06");
  EXPECT_EQ(file_entry_line(dir, 3), "data                         |[SUB--DIR]|03.07.09|14:05:06");
  EXPECT_EQ(file_entry_line(dir, 0), file_entry_line(dir, 2));

  FileEntry file{.name = "a_name_that_is_longer_than_the_column.dbf", .size = 12345678901LL,
                 .day = 31, .month = 12, .year = 99, .hour = 0, .minute = 0, .second = 59};
  std::string line = file_entry_line(file, 1);
  EXPECT_EQ(line, "a_name_that_is_longer_than_th|12345678901|31.12.99|00:00:59");
  file.size = 7;
  EXPECT_EQ(file_entry_line(file, 1), "a_name_that_is_longer_than_th|         7|31.12.99|00:00:59");
  EXPECT_EQ(file_entry_line(file, 1).size(), 58u);
}

TEST_F(FilePanelTest, ModificationTimeIsShownInLocalTimeWithATwoDigitYear) {
  std::tm when{};
  when.tm_year = 2003 - 1900;
  when.tm_mon = 6;
  when.tm_mday = 9;
  when.tm_hour = 14;
  when.tm_min = 5;
  when.tm_sec = 6;
  when.tm_isdst = -1;
  std::time_t stamp = std::mktime(&when);
  make_file(folder.file("t.dbf"), 3);
  struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, folder.file("t.dbf").c_str(), times, 0), 0);

  run(root);
  std::string row = picture_row(kFirstRow + 1);
  EXPECT_EQ(row.substr(kLeftColumn, 58), "t.dbf                        |         3|07.09.03|14:05:06");
}

// ---- the picture -------------------------------------------------------------------

TEST_F(FilePanelTest, DrawsTheBoxWithDirectoryMaskAndCursorLineAndRestoresTheScreen) {
  make_file(folder.file("one.dbf"));
  put_text(0, 10, "underneath", 0x07);
  ScreenSnapshot before = save_screen();

  EXPECT_EQ(run(root), 0);
  EXPECT_EQ(g_picture_topic, kFilePanelTopic);
  EXPECT_EQ(cell_byte(g_picture.cells[size_t(2 * 80 + 10)]), g_frames.single_frame[0]);
  EXPECT_EQ(cell_byte(g_picture.cells[size_t(21 * 80 + 69)]), g_frames.single_frame[8]);
  EXPECT_EQ(picture_attr(10, 2), g_colors.DialogFrame);
  EXPECT_EQ(picture_attr(70, 5), 0x07);  // nothing right of the box

  std::string caption = " " + root + " ";
  int x = 11 + (58 - static_cast<int>(caption.size())) / 2;
  EXPECT_EQ(picture_row(2).substr(size_t(x), caption.size()), caption);
  EXPECT_EQ(picture_attr(x + 1, 2), g_colors.DialogText);
  EXPECT_EQ(picture_row(21).substr(36, 7), " *.dbf ");

  EXPECT_EQ(shown_names(), (std::vector<std::string>{"..", "one.dbf"}));
  EXPECT_EQ(picture_attr(kLeftColumn + 57, kFirstRow), g_colors.DialogButton);
  EXPECT_EQ(picture_attr(kLeftColumn, kFirstRow + 1), g_colors.DialogText);

  EXPECT_EQ(save_screen().cells, before.cells);
  EXPECT_EQ(chosen, "(none)");
}

TEST_F(FilePanelTest, ADirectoryTooLongForTheFrameShowsItsEnd) {
  std::string deep = folder.path();
  for (const char* part : {"a_rather_long_folder_name", "and_another_long_one", "the_last_one_here"}) {
    deep += "/";
    deep += part;
    make_dir(deep);
  }
  std::string shown = real_path(deep);
  ASSERT_GT(shown.size(), 56u);
  run(deep);
  EXPECT_EQ(picture_row(2).substr(11, 58), " " + shown.substr(shown.size() - 56) + " ");
  EXPECT_EQ(current_directory(), shown);
}

// A UTF-8 name shows its characters, wide ones over two cells, and the
// columns after the name stay where they are.
TEST_F(FilePanelTest, Utf8NamesShowTheirCharactersInTheNameColumn) {
  make_file(folder.file("\u0442\u0430\u0431\u043b\u0438\u0446\u0430.dbf"));
  make_file(folder.file("\u8868.dbf"));
  run(root);
  auto utf8_row = [](int y) {
    std::string text;
    for (int x = 0; x < g_picture.cols; ++x) {
      const Cell& cell = g_picture.cells[size_t(y * g_picture.cols + x)];
      if (cell.ch == kWideTail) continue;
      char bytes[8];
      text.append(bytes, size_t(utf8_encode(uint32_t(cell.ch), bytes)));
    }
    return text;
  };
  std::string rows = utf8_row(kFirstRow + 1) + "\n" + utf8_row(kFirstRow + 2);
  EXPECT_NE(rows.find("\u0442\u0430\u0431\u043b\u0438\u0446\u0430.dbf" + std::string(18, ' ') + "|"), std::string::npos) << rows;
  EXPECT_NE(rows.find("\u8868.dbf" + std::string(23, ' ') + "|"), std::string::npos) << rows;
}

// ---- moving ------------------------------------------------------------------------

class FilePanelMoveTest : public FilePanelTest {
 protected:
  void SetUp() override {
    FilePanelTest::SetUp();
    for (int i = 0; i < 40; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%02d.dbf", i);
      make_file(folder.file(name));
    }
  }
  // The highlighted name and its row after the keys.
  std::pair<std::string, int> after(std::initializer_list<int> codes) {
    keys(codes);
    run(root);
    int row = -1;
    std::string name = cursor_name(&row);
    return {name, row};
  }
};

TEST_F(FilePanelMoveTest, ArrowsMoveOneEntryAndStopAtTheEnds) {
  EXPECT_EQ(after({kDown, kDown, kRight}), (std::pair<std::string, int>{"f02.dbf", 3}));
  EXPECT_EQ(after({kDown, kDown, kUp, kLeft, kLeft, kUp}), (std::pair<std::string, int>{"..", 0}));
  EXPECT_EQ(after({kEnd, kDown, kRight}), (std::pair<std::string, int>{"f39.dbf", 17}));
}

TEST_F(FilePanelMoveTest, PagesMoveByTheRowsLessOneAndScrollJustEnough) {
  // 41 entries, 18 rows shown, a page is 17.
  EXPECT_EQ(after({kPgDn}), (std::pair<std::string, int>{"f16.dbf", 17}));
  EXPECT_EQ(after({kPgDn, kPgDn}), (std::pair<std::string, int>{"f33.dbf", 17}));
  EXPECT_EQ(shown_names().front(), "f16.dbf");
  EXPECT_EQ(after({kPgDn, kPgDn, kPgDn}), (std::pair<std::string, int>{"f39.dbf", 17}));
  EXPECT_EQ(after({kEnd, kPgUp}), (std::pair<std::string, int>{"f22.dbf", 0}));
  EXPECT_EQ(after({kEnd, kPgUp, kPgUp, kPgUp}), (std::pair<std::string, int>{"..", 0}));
  EXPECT_EQ(after({kEnd, kHome}), (std::pair<std::string, int>{"..", 0}));
  EXPECT_EQ(shown_names().size(), size_t(kVisibleRows));
}

TEST_F(FilePanelMoveTest, MoreThanAThousandNamesAreAllListed) {
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "g%04d.dbf", i);
    make_file(folder.file(name));
  }
  EXPECT_EQ(after({kEnd}).first, "g0999.dbf");
  EXPECT_EQ(shown_names().front(), "g0982.dbf");
}

TEST_F(FilePanelTest, ALetterMovesToTheNextNameStartingWithItInEitherCase) {
  for (const char* name : {"data1.dbf", "Delta.dbf", "dx.dbf", "e.dbf"}) make_file(folder.file(name));
  make_dir(folder.file("Docs"));
  auto after = [&](std::string_view typed) {
    type(typed);
    run(root);
    return cursor_name();
  };
  EXPECT_EQ(after("d"), "Docs");
  EXPECT_EQ(after("dd"), "data1.dbf");
  EXPECT_EQ(after("ddd"), "Delta.dbf");
  EXPECT_EQ(after("dddd"), "dx.dbf");
  EXPECT_EQ(after("ddddd"), "Docs");  // wraps round
  EXPECT_EQ(after("D"), "Docs");
  EXPECT_EQ(after("eq"), "e.dbf");  // no name starts with q
  EXPECT_EQ(after("."), "..");
}

// ---- walking -----------------------------------------------------------------------

class FilePanelWalkTest : public FilePanelTest {
 protected:
  void SetUp() override {
    FilePanelTest::SetUp();
    for (const char* name : {"sub1", "sub1/inner", "sub1/sub2", "sub2", "sub3"}) make_dir(folder.file(name));
    make_file(folder.file("sub2/in_sub2.dbf"));
    make_file(folder.file("top.dbf"));
  }
};

TEST_F(FilePanelWalkTest, EnterWalksDownAndUpWithTheCursorOnTheDirectoryJustLeft) {
  type("ss");
  keys({kEnter});
  EXPECT_EQ(run(root), 0);
  EXPECT_EQ(current_directory(), root + "/sub2");  // stays after the panel closes
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"..", "in_sub2.dbf"}));
  EXPECT_EQ(cursor_name(), "..");

  keys({kEnter});
  EXPECT_EQ(run(""), 0);
  EXPECT_EQ(current_directory(), root);
  EXPECT_EQ(cursor_name(), "sub2");
  EXPECT_EQ(picture_row(2).find(" " + root + " ") != std::string::npos, true);

  // Going up and then into another directory does not look for the name
  // just left there ("sub1" also holds a "sub2").
  keys({kEnter, kUp, kEnter});
  run(root + "/sub2");
  EXPECT_EQ(current_directory(), root + "/sub1");
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"..", "inner", "sub2"}));
  EXPECT_EQ(cursor_name(), "..");
}

TEST_F(FilePanelWalkTest, BackspaceGoesUpAndCtrlBackslashGoesToTheRoot) {
  keys({kBackspace, kBackspace});
  run(root + "/sub1/inner");
  EXPECT_EQ(current_directory(), root);
  EXPECT_EQ(cursor_name(), "sub1");

  keys({kCtrlBackslash});
  run(root);
  EXPECT_EQ(current_directory(), "/");
  EXPECT_EQ(picture_row(2).substr(38, 3), " / ");

  // In "/" the system lists ".."; going up stays there.
  keys({kHome, kEnter, kBackspace});
  run("/");
  EXPECT_EQ(current_directory(), "/");
  EXPECT_EQ(shown_names().front(), "..");
  EXPECT_EQ(cursor_name(), "..");
}

TEST_F(FilePanelWalkTest, AnUnreadableDirectoryListsNothingAndEnterDoesNothing) {
  std::string gone = folder.file("gone");
  make_dir(gone);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);

  keys({kEnter, kDown, kEnter});
  EXPECT_EQ(run(""), 0);
  EXPECT_TRUE(shown_names().empty());
  EXPECT_EQ(cursor_name(), "");
  EXPECT_EQ(chosen, "(none)");

  keys({kCtrlBackslash});
  run("");
  EXPECT_EQ(current_directory(), "/");
}

// ---- choosing and leaving ----------------------------------------------------------

TEST_F(FilePanelWalkTest, EnterOnAFileGivesItsFullPath) {
  keys({kEnd, kEnter});
  EXPECT_EQ(run(root), 1);
  EXPECT_EQ(chosen, root + "/top.dbf");

  type("ss");
  keys({kEnter, kDown, kEnter});
  EXPECT_EQ(run(root), 1);
  EXPECT_EQ(chosen, root + "/sub2/in_sub2.dbf");
}

TEST_F(FilePanelWalkTest, EscAndF10LeaveWithoutAChoice) {
  for (int leave : {kEsc, kF10}) {
    keys({kEnd, leave});
    backend->push_key(kEnter, 60000);  // after the panel has closed
    EXPECT_EQ(run(root), 0);
    EXPECT_EQ(chosen, "(none)");
    EXPECT_FALSE(backend->script_empty());
    screen_open_headless(25, 80);
    backend = headless_backend();
  }
}

// ---- the mask ----------------------------------------------------------------------

TEST_F(FilePanelWalkTest, F9ChangesTheMaskAndAnEmptyOrCancelledOneKeepsIt) {
  make_file(folder.file("notes.txt"));
  keys({kF9});
  type("*.txt");
  keys({kEnter});
  run(root);
  EXPECT_EQ(shown_names(), (std::vector<std::string>{"..", "sub1", "sub2", "sub3", "notes.txt"}));
  EXPECT_EQ(picture_row(21).substr(36, 7), " *.txt ");

  keys({kF9});
  type("*.txt");
  keys({kEsc});
  run(root);
  EXPECT_EQ(shown_names().back(), "top.dbf");

  keys({kF9, kCtrlY, kEnter});
  run(root);
  EXPECT_EQ(shown_names().back(), "top.dbf");
  EXPECT_EQ(picture_row(21).substr(36, 7), " *.dbf ");
}

TEST_F(FilePanelWalkTest, TheMaskBoxStartsWithTheCurrentMask) {
  keys({kF9, kEnd});
  type("x");
  keys({kEnter});
  run(root, "*.db");
  EXPECT_EQ(picture_row(21).substr(36, 7), " *.dbx ");
}

// ---- the dialogs' F4 ---------------------------------------------------------------

TEST_F(FilePanelWalkTest, TheDialogHookOpensThePanelOnAllFiles) {
  make_file(folder.file("readme"));
  install_file_panel_hook();
  ASSERT_TRUE(static_cast<bool>(g_dialog_hooks.file_panel));
  ASSERT_EQ(chdir(root.c_str()), 0);
  std::string path;
  EXPECT_EQ(g_dialog_hooks.file_panel("*.*", path), 0);
  EXPECT_EQ(shown_names().back(), "top.dbf");  // "readme" has no dot
  EXPECT_EQ(picture_row(21).substr(37, 5), " *.* ");

  type("r");
  keys({kEnter});
  EXPECT_EQ(g_dialog_hooks.file_panel("*", path), 1);
  EXPECT_EQ(path, root + "/readme");
}

}  // namespace
}  // namespace kora
