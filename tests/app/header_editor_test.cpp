// The header editor runs headless on a table in a temporary folder: keys are
// pressed one at a time, the screen is pictured at every key wait, and the
// file's bytes are checked afterwards.
#include "app/header_editor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/record_commands.h"
#include "program_driver.h"
#include "table/byte_order.h"
#include "ui/backend.h"
#include "ui/byte_editor.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {
namespace {

using Bytes = std::vector<uint8_t>;
using test::read_bytes;
using test::run_kora;

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kTab = 0x0F09, kBackspace = 0x0E08;
constexpr int kRight = 0x4D00, kDown = 0x5000, kPgDn = 0x5100, kCtrlEnd = 0x7500;
constexpr const char* kRuler = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  0123456789ABCDEF";

// The screen at every key wait: its rows and where the cursor stood.
struct Picture {
  std::string text;
  int cursor_x = 0, cursor_y = 0;
};
std::vector<Picture> g_pictures;
void take_picture(int, int, int, int) {
  Picture p{"", g_screen.cursor_x, g_screen.cursor_y};
  for (int y = 0; y < screen_rows(); ++y) p.text += screen_row_text(y) + "\n";
  if (g_pictures.empty() || g_pictures.back().text != p.text || g_pictures.back().cursor_x != p.cursor_x) {
    g_pictures.push_back(p);
  }
}
// The first picture from `from` on that shows the text, or npos.
size_t picture_with(const std::string& text, size_t from = 0) {
  for (size_t i = from; i < g_pictures.size(); ++i) {
    if (g_pictures[i].text.find(text) != std::string::npos) return i;
  }
  return std::string::npos;
}
bool pictured(const std::string& text) { return picture_with(text) != std::string::npos; }

class HeaderEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    g_ui_idle_hook = take_picture;
    g_pictures.clear();
    path = dir.file("t.dbf");
    test::DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}};
    layout.records = {"one          1", "two          2", "three        3"};
    test::write_bytes(path, test::build_dbf(layout));
    ASSERT_EQ(add_open_table(path), 0);
    g_app.current = 0;
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    reset_app_state();
  }

  // Presses the keys, each after the editor has waited once, in the header editor.
  void edit(const std::vector<int>& keys) {
    HeadlessBackend* backend = headless_backend();
    long long at = backend->now_ms();
    for (int key : keys) backend->push_key(key, at += 50);
    run_command(Cmd::HeaderEditor);
  }

  test::TempDir dir;
  std::string path;
};

// The header of t.dbf is 97 bytes: on 25 rows the box runs from row 7 to
// row 17, the bytes from row 9 and column 4 + 6.
constexpr int kLeft = 4, kFirstDataRow = 9;

TEST_F(HeaderEditorTest, TypedBytesAreStoredAndTheCursorMovesOn) {
  struct Case {
    const char* name;
    std::vector<int> keys;
    Bytes first_bytes;  // bytes 0.. after saving; the others as they were
  };
  const Case cases[] = {
      {"two hex digits, twice", {'4', '1', '4', '2'}, {0x41, 0x42}},
      {"backspace stays on its byte", {kBackspace, '4', '1'}, {0x41}},
      {"one hex digit, then on", {'a', kRight, '4', '2'}, {0x0A, 0x42}},
      {"any character in the ASCII column", {kTab, 'x', '#', kTab, '0', '0'}, {'x', '#', 0x00}},
  };
  Bytes original = read_bytes(path);
  for (const Case& c : cases) {
    test::write_bytes(path, original);
    std::vector<int> keys = c.keys;
    keys.insert(keys.end(), {kEsc, kEnter});  // leave, Save
    edit(keys);
    Bytes saved = read_bytes(path);
    EXPECT_EQ(Bytes(saved.begin(), saved.begin() + long(c.first_bytes.size())), c.first_bytes) << c.name;
    EXPECT_EQ(Bytes(saved.begin() + long(c.first_bytes.size()), saved.end()),
              Bytes(original.begin() + long(c.first_bytes.size()), original.end()))
        << c.name;
  }
}

TEST_F(HeaderEditorTest, TheScreenShowsTheStoredByteAndTheNextCursor) {
  edit({'4', '1', kEsc, kRight, kEnter});  // Don't save
  ASSERT_GE(g_pictures.size(), 3u);
  const Picture& after = g_pictures[2];  // the wait after "1"
  std::string row = after.text.substr(size_t(kFirstDataRow) * 81, 80);
  EXPECT_EQ(row.substr(kLeft + 1, 7), "0000 41");
  EXPECT_EQ(row[size_t(kLeft + 55)], 'A');
  EXPECT_EQ(row.substr(size_t(kLeft + 6 + 3 * 12), 2), "00");  // a zero byte: "00" and "."
  EXPECT_EQ(row[size_t(kLeft + 55 + 12)], '.');
  EXPECT_EQ(after.cursor_x, kLeft + 6 + 3);
  EXPECT_EQ(after.cursor_y, kFirstDataRow);
  EXPECT_NE(after.text.find(kRuler), std::string::npos);
  EXPECT_TRUE(pictured("You've made changes since the last save."));
  EXPECT_EQ(read_bytes(path)[0], 0x03);  // not saved
}

TEST_F(HeaderEditorTest, SavedHeaderSurvivesTheNextHeaderWrite) {
  view_of(*g_app.table()).current_record = 2;
  // Byte 12 (reserved): ASCII column, twelve bytes on, "Q".
  std::vector<int> keys = {kTab};
  keys.insert(keys.end(), 12, kRight);
  keys.insert(keys.end(), {'Q', kEsc, kEnter});
  edit(keys);
  EXPECT_EQ(read_bytes(path)[12], 'Q');
  Table& table = *g_app.table();
  EXPECT_EQ(table.header_bytes[12], 'Q');
  EXPECT_EQ(view_of(table).current_record, 2);  // the cursor kept its record
  cmd_append_now();
  Bytes after = read_bytes(path);
  EXPECT_EQ(after[12], 'Q');
  EXPECT_EQ(get_le32(&after[4]), 4u);
}

TEST_F(HeaderEditorTest, ReadOnlyOnlyShowsTheHeader) {
  struct Case {
    bool setting;
    bool file;
  };
  Bytes original = read_bytes(path);
  for (Case c : {Case{true, false}, Case{false, true}}) {
    g_settings.read_only = c.setting ? 1 : 0;
    g_app.table()->read_only = c.file;
    g_pictures.clear();
    edit({'4', '1', kTab, 'x', kEsc});
    EXPECT_TRUE(pictured(kRuler));
    EXPECT_TRUE(pictured("0000 03"));
    EXPECT_FALSE(pictured("You've made changes")) << c.setting;
    EXPECT_FALSE(pictured("0000 41")) << c.setting;
    EXPECT_EQ(read_bytes(path), original);
  }
}

TEST_F(HeaderEditorTest, AFailedSaveIsReportedAndEditingGoesOn) {
  // Another file now has the table's name: it must not be written.
  std::string other = dir.file("other.dbf");
  Bytes other_bytes(200, 'o');
  test::write_bytes(other, other_bytes);
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  edit({'4', '1', kEsc, kEnter, kEnter, kEsc, kRight, kEnter});  // Save, OK, leave, Don't save
  EXPECT_EQ(read_bytes(path), other_bytes);
  size_t error_at = picture_with("Cannot save the header.");
  ASSERT_NE(error_at, std::string::npos);
  EXPECT_TRUE(pictured("The file is no longer the open table"));
  // The editor was still open after the error: leaving asked again.
  EXPECT_NE(picture_with("You've made changes", error_at), std::string::npos);
  EXPECT_EQ(g_app.tables.last, 0);
}

TEST_F(HeaderEditorTest, AFileShorterThanItsHeaderIsNeverGrown) {
  ASSERT_EQ(truncate(path.c_str(), 40), 0);
  edit({kCtrlEnd, kDown, kPgDn, '4', '1', kEsc, kEnter});
  Bytes after = read_bytes(path);
  ASSERT_EQ(after.size(), 40u);
  EXPECT_EQ(after[32], 0x41);  // the last row's first byte
  EXPECT_FALSE(pictured("0030"));
}

TEST_F(HeaderEditorTest, ATableThatNoLongerOpensIsClosedWithAMessage) {
  std::string second = dir.file("second.dbf");
  test::copy_file(path, second);
  for (bool alone : {true, false}) {
    SetUp();  // the table as written at first, open alone
    if (!alone) {
      ASSERT_EQ(add_open_table(second), 1);
    }
    // A header size of 32 bytes: byte 8 becomes 0x20.
    std::vector<int> keys = {kTab};
    keys.insert(keys.end(), 8, kRight);
    keys.insert(keys.end(), {kTab, '2', '0', kEsc, kEnter, kEnter});  // Save, OK
    edit(keys);
    EXPECT_EQ(read_bytes(path)[8], 0x20);
    EXPECT_TRUE(pictured("The header is too small for the field list")) << alone;
    EXPECT_EQ(g_app.tables.last, alone ? -1 : 0);
    EXPECT_EQ(g_app.quit, alone);
    if (!alone) {
      EXPECT_EQ(g_app.table()->file_name, second);
    }
  }
}

TEST_F(HeaderEditorTest, ASmallTerminalGetsAMessageInsteadOfTheBox) {
  screen_open_headless(20, 60);
  Bytes original = read_bytes(path);
  edit({kEnter});
  EXPECT_TRUE(pictured("The screen is too small"));
  EXPECT_FALSE(pictured(kRuler));
  EXPECT_EQ(read_bytes(path), original);
}

// ---- the byte editor alone ------------------------------------------------------------

TEST(ByteEditor, GeometryFitsTheBytesToTheScreen) {
  struct Case {
    int rows, cols, length;
    int top, bottom, visible;  // visible 0: too small
  };
  const Case cases[] = {
      {25, 80, 32, 9, 15, 4},   {25, 80, 97, 7, 17, 8},  {25, 80, 4000, 3, 21, 16},
      {10, 72, 32, 3, 6, 1},    {9, 80, 32, 0, 0, 0},    {25, 71, 32, 0, 0, 0},
      {25, 80, 10, 10, 14, 2},
  };
  for (const Case& c : cases) {
    auto g = byte_editor_geometry(c.rows, c.cols, c.length);
    std::string name = std::to_string(c.rows) + "x" + std::to_string(c.cols) + " " + std::to_string(c.length);
    if (c.visible == 0) {
      EXPECT_FALSE(g.has_value()) << name;
      continue;
    }
    ASSERT_TRUE(g.has_value()) << name;
    EXPECT_EQ(g->left, c.cols / 2 - 36) << name;
    EXPECT_EQ(g->top, c.top) << name;
    EXPECT_EQ(g->bottom, c.bottom) << name;
    EXPECT_EQ(g->visible_rows, c.visible) << name;
  }
}

TEST(ByteEditor, TheCursorStaysOnExistingBytes) {
  struct Case {
    int length, offset, first, visible;
    ByteMove move;
    bool moved;
    int offset_after, first_after;
  };
  const Case cases[] = {
      {10, 3, 0, 4, ByteMove::kDown, false, 3, 0},  // shorter than a row
      {10, 3, 0, 4, ByteMove::kPageDown, false, 3, 0},
      {10, 3, 0, 4, ByteMove::kLastRow, false, 3, 0},
      {10, 9, 0, 4, ByteMove::kNext, false, 9, 0},
      {10, 0, 0, 4, ByteMove::kPrevious, false, 0, 0},
      {10, 0, 0, 4, ByteMove::kUp, false, 0, 0},
      {32, 5, 0, 4, ByteMove::kDown, true, 21, 0},
      {32, 21, 0, 4, ByteMove::kDown, false, 21, 0},  // byte 37 does not exist
      {100, 3, 0, 4, ByteMove::kLastRow, true, 99, 48},
      {100, 99, 48, 4, ByteMove::kPageUp, true, 51, 48},
      {100, 99, 48, 4, ByteMove::kFirstRow, true, 3, 0},
      {100, 15, 0, 1, ByteMove::kNext, true, 16, 16},
      {100, 16, 16, 1, ByteMove::kPrevious, true, 15, 0},
  };
  for (const Case& c : cases) {
    ByteEditState s;
    s.bytes.assign(size_t(c.length), 0);
    s.offset = c.offset;
    s.first = c.first;
    s.visible_rows = c.visible;
    EXPECT_EQ(move_byte_cursor(s, c.move), c.moved) << c.length << " " << c.offset;
    EXPECT_EQ(s.offset, c.offset_after) << c.length << " " << c.offset;
    EXPECT_EQ(s.first, c.first_after) << c.length << " " << c.offset;
  }
}

TEST(ByteEditor, ACommittedCellSetsChangedOnlyWhenTheByteDiffers) {
  struct Case {
    ByteMode mode;
    const char* text;
    uint8_t before, after;
    bool changed;
  };
  const Case cases[] = {
      {ByteMode::kHex, "41", 0x00, 0x41, true}, {ByteMode::kHex, "4", 0x04, 0x04, false},
      {ByteMode::kHex, "", 0x20, 0x00, true},    {ByteMode::kAscii, "A", 0x41, 0x41, false},
      {ByteMode::kAscii, "", 0x41, 0x00, true},
  };
  for (const Case& c : cases) {
    ByteEditState s;
    s.bytes = {c.before};
    s.mode = c.mode;
    commit_byte_cell(s, c.text);
    EXPECT_EQ(s.bytes[0], c.after) << c.text;
    EXPECT_EQ(s.changed, c.changed) << c.text;
  }
}

// The whole program: the command from the Tools menu while a cell is being
// edited; what is typed after the save lands in its record.
TEST(HeaderEditorProgram, EditingGoesOnInTheTableOpenedAgain) {
  test::TempDir dir;
  std::string path = dir.file("t.dbf");
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"NUM", 'N', 6}};
  layout.records = {"one          1", "two          2"};
  test::write_bytes(path, test::build_dbf(layout));
  constexpr int kF4 = 0x3E00, kAltT = 0x1400;
  std::vector<int> keys = {kF4, kAltT, 'h', kTab};
  keys.insert(keys.end(), 12, kRight);
  keys.insert(keys.end(), {'Q', kEsc, kEnter, 'Z', 'E', 'D', kF4});
  run_kora({path}, keys);
  Bytes after = read_bytes(path);
  EXPECT_EQ(after[12], 'Q');
  EXPECT_EQ(std::string(after.begin() + 97 + 1, after.begin() + 97 + 11), "ZED       ");
  EXPECT_EQ(get_le32(&after[4]), 2u);
}

}  // namespace
}  // namespace kora
