// Cell editing runs headless on a small generated table: keys go through the
// cell editor hooks and the main loop's dispatch, the grid is painted after
// every key as the loop does, and the table file's bytes are checked.
#include "app/cell_editor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/main_loop.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/backend.h"
#include "ui/keys.h"
#include "ui/line_editor.h"
#include "ui/screen.h"

namespace kora {
namespace {

using test::TempDir;

constexpr int kEnter = 0x1C0D, kTab = 0x0F09, kF2 = 0x3C00, kF4 = 0x3E00, kUp = 0x4800, kDown = 0x5000, kRight = 0x4D00,
              kLeft = 0x4B00, kEnd = 0x4F00, kHome = 0x4700, kShiftTab = 0x0F00, kCtrlV = 0x2F16, kSpace = 0x3920;

struct FieldSpec {
  const char* name;
  char type;
  int length;
  int decimals;
};

// NAME C(5), QTY N(6,2), DAY D(8), OK L(1), NOTE M(10): record bytes at
// 1, 6, 12, 20, 21; 31 bytes a record.
const FieldSpec kFields[] = {
    {"NAME", 'C', 5, 0}, {"QTY", 'N', 6, 2}, {"DAY", 'D', 8, 0}, {"OK", 'L', 1, 0}, {"NOTE", 'M', 10, 0},
};
constexpr int kRecordSize = 31;
constexpr int kHeaderSize = 32 + 32 * 5 + 1;

std::vector<uint8_t> make_table(const std::vector<std::string>& records) {
  std::vector<uint8_t> bytes(kHeaderSize, 0);
  bytes[0] = 0x83;
  bytes[1] = 124, bytes[2] = 1, bytes[3] = 1;
  bytes[4] = uint8_t(records.size());
  bytes[8] = uint8_t(kHeaderSize & 0xFF), bytes[9] = uint8_t(kHeaderSize >> 8);
  bytes[10] = kRecordSize;
  for (size_t f = 0; f < 5; ++f) {
    uint8_t* d = bytes.data() + 32 + 32 * f;
    std::memcpy(d, kFields[f].name, std::strlen(kFields[f].name));
    d[11] = uint8_t(kFields[f].type);
    d[16] = uint8_t(kFields[f].length);
    d[17] = uint8_t(kFields[f].decimals);
  }
  bytes[kHeaderSize - 1] = 0x0D;
  for (const std::string& record : records) {
    std::string padded = record;
    padded.resize(kRecordSize, ' ');
    bytes.insert(bytes.end(), padded.begin(), padded.end());
  }
  bytes.push_back(0x1A);
  return bytes;
}

// One record: deletion flag, NAME, QTY, DAY, OK, NOTE.
std::string row(const std::string& name, const std::string& qty, const std::string& day = "        ",
                const std::string& ok = " ") {
  return " " + name + qty + day + ok + std::string(10, ' ');
}

class CellEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    backend = headless_backend();
    reset_app_state();
    g_settings.date_format = 1;
    install_cell_editing();
    g_text_clipboard = {};
  }
  void TearDown() override {
    g_cell_edit_hooks = CellEditHooks{};
    reset_app_state();
  }

  // The table with a .cpg file naming its code page.
  void open_in(const char* page, const std::vector<std::string>& records) {
    test::write_bytes(dir.file("t.cpg"), std::vector<uint8_t>(page, page + std::strlen(page)));
    open(records);
  }
  // Characters as a UTF-8 terminal sends them.
  void type_utf8(const std::string& text) {
    backend->push_bytes(text);
    while (!backend->script_empty()) press(get_key(0, nullptr));
  }

  void open(const std::vector<std::string>& records) {
    path = dir.file("t.dbf");
    test::write_bytes(path, make_table(records));
    ASSERT_TRUE(create_memo_file(path, kDBase3, 512));
    int index = add_open_table(path);
    ASSERT_GE(index, 0);
    g_app.current = index;
    apply_settings(*g_app.table());
    g_app.redraw = kRedrawAll;
    paint();
  }

  Table& table() { return *g_app.table(); }

  void paint() {
    if (g_app.redraw & kRedrawAll) full_repaint();
    paint_view();
  }
  // A key as the main loop handles it once the cell editing rows are wired.
  void press(int key) {
    dispatch_key(key);
    paint();
  }
  void type(const std::string& text) {
    for (unsigned char ch : text) press(ch);
  }
  // Bytes of record q (0-based) as the file holds them.
  std::string on_disk(int q) {
    std::vector<uint8_t> bytes = test::read_bytes(path);
    size_t at = size_t(kHeaderSize + q * kRecordSize);
    if (bytes.size() < at + kRecordSize) return "";
    return std::string(bytes.begin() + long(at), bytes.begin() + long(at + kRecordSize));
  }
  std::string field_on_disk(int q, int offset, int length) { return on_disk(q).substr(size_t(offset), size_t(length)); }

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
};

// ---- values typed into cells and the record written on leaving it -------------------------

TEST_F(CellEditorTest, TypedValuesOfEachTypeReachTheFileOnlyWhenTheRecordIsLeft) {
  open({row("old  ", "  1.00"), row("two  ", "  2.00")});
  std::string before = on_disk(0);
  press(kF4);
  ASSERT_EQ(g_app.edit.mode, 1);
  EXPECT_EQ(cell_editor_text(), "old  ");
  type("abc");
  press(kTab);
  type("-12.5");
  press(kTab);
  type("03.04.2021");
  press(kTab);
  type("t");
  press(kLeft);  // moving within the record writes nothing
  press(kHome);
  EXPECT_EQ(on_disk(0), before);
  EXPECT_EQ(cell_changes_pending(), 1);
  press(kDown);
  EXPECT_EQ(field_on_disk(0, 1, 5), "abc  ");
  EXPECT_EQ(field_on_disk(0, 6, 6), "-12.50");
  EXPECT_EQ(field_on_disk(0, 12, 8), "20210403");
  EXPECT_EQ(field_on_disk(0, 20, 1), "T");
  EXPECT_EQ(on_disk(1), row("two  ", "  2.00"));
  EXPECT_EQ(cell_changes_pending(), 0);
  EXPECT_EQ(view_of(table()).current_record, 1);
  EXPECT_EQ(view_of(table()).current_column, 2);
  EXPECT_EQ(cell_editor_text(), std::string(10, ' '));  // the editor follows onto the new record
}

// Every type takes what is typed as typed, or refuses it: a key past the
// cell's width rings the bell and moves nothing; decimals past the field's
// are rounded half away from zero; a value that cannot be stored is named in
// a message, the cursor stays and the file keeps the old bytes.
TEST_F(CellEditorTest, TypedValuesAreStoredAsTypedOrRefused) {
  const std::vector<test::FieldSpec> fields = {
      {"C5", 'C', 5}, {"N5", 'N', 5}, {"N10", 'N', 10, 2}, {"I", 'I', 4}, {"D", 'D', 8}, {"T", 'T', 8}, {"TT", 'T', 14}};
  const std::string old = "old  " + std::string("   42") + "      1.00" + std::string("\x05\0\0\0", 4) + "20200101" +
                          std::string(8, '\0') + "20200101101010";
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  struct Case {
    int field;
    std::string keys;  // '\x01' stands for Home
    std::string stored;  // empty: refused, the old bytes stay
    int bells = 0;
    const char* says = "";
  } cases[] = {
      {0, "abcdefg", "abcde", 2},
      {1, "1234567", "12345", 2},
      {1, "\x01" "9", "   42", 1},  // no digit is pushed out: the field was full
      {2, "123.891", "    123.89"},
      {2, "123.895", "    123.90"},
      {2, "-0.005", "     -0.01"},
      {2, "12345678.5", "", 0, "does not fit the field N10 (N 10.2)"},
      {3, "-7.9", le32(uint32_t(-7))},
      {3, "-2147483648", le32(0x80000000u)},
      {3, "2147483648", "", 0, "out of range"},
      {4, "29.02.2024", "20240229"},
      {4, "29.02.2023", "", 0, "No such date"},
      {4, "31.04.2024", "", 0, "No such date"},
      {4, "13.45.2001", "", 0, "No such date"},
      {4, "01.01.0000", "", 0, "No such date"},
      {5, "01.12.2002 01:02:03", le32(uint32_t(julian_day_number(2002, 12, 1))) + le32(3723000)},
      {5, "31.11.2002 01:02:03", "", 0, "No such date"},
      {6, "01.12.2002 23:59:58", "20021201235958"},
      {6, "01.12.2002 24:00:00", "", 0, "No such date"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    test::DbfLayout layout;
    layout.fields = fields;
    layout.records = {old};
    path = dir.file("typed.dbf");
    test::write_bytes(path, test::build_dbf(layout));
    reset_app_state();
    g_settings.date_format = 1;
    install_cell_editing();
    g_app.current = add_open_table(path);
    ASSERT_GE(g_app.current, 0);
    apply_settings(table());
    int offset = 1;
    for (int k = 0; k < c.field; ++k) offset += fields[size_t(k)].length;
    int length = fields[size_t(c.field)].length;
    press(kF4);
    for (int k = 0; k < c.field; ++k) press(kTab);
    std::string shown;
    backend->on_wait = [&] { for (int y = 0; y < 25; ++y) shown += screen_row_text(y) + "\n"; };
    int bells = backend->bells();
    for (char key : c.keys) press(key == '\x01' ? kHome : (unsigned char)key);
    EXPECT_EQ(backend->bells() - bells, c.bells);
    press(kDown);
    backend->on_wait = nullptr;
    std::vector<uint8_t> bytes = test::read_bytes(path);
    size_t at = size_t(32 + 32 * fields.size() + 1 + offset);
    std::string on_file(bytes.begin() + long(at), bytes.begin() + long(at) + length);
    EXPECT_EQ(on_file, c.stored.empty() ? old.substr(size_t(offset - 1), size_t(length)) : c.stored);
    EXPECT_NE(shown.find(c.says), std::string::npos) << shown;
    if (*c.says) {
      EXPECT_EQ(view_of(table()).current_column, c.field);  // the cursor stayed
    }
  }
}

// The hex panel shows the record as stored after every commit, also when
// the key that commits cannot move: it agrees with a full repaint at once.
TEST_F(CellEditorTest, TheHexPanelFollowsACommitByAKeyThatCannotMove) {
  struct Case {
    const char* what;
    std::vector<int> to_cell;
    const char* typed;
    int key;
  } cases[] = {
      {"Up on the first record", {}, "zz", kUp},
      {"Down on the last record", {kDown}, "yy", kDown},
      {"Right on the last column", {kEnd}, "7", kRight},
  };
  auto panel = [] { return screen_row_text(20) + screen_row_text(21) + screen_row_text(22); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    open({row("one  ", "  1.00"), row("two  ", "  2.00")});
    table().memo_display = 1;  // the memo column takes a block number
    g_app.hex_panel = 4;
    g_app.redraw = kRedrawAll;
    paint();
    for (int key : c.to_cell) press(key);
    press(kF4);
    type(c.typed);
    std::string before = panel();
    press(c.key);
    std::string after = panel();
    EXPECT_NE(after, before);
    g_app.redraw = kRedrawAll;
    paint();
    EXPECT_EQ(after, panel());
  }
}

// The editor shows a value with a NUL inside only up to the NUL: what is
// typed over it is stored only when the user says so.
TEST_F(CellEditorTest, TypingOverAValueWithANulInsideIsAskedFirst) {
  const std::string nul_name("a\0b  ", 5);
  open({row(nul_name, "  1.00")});
  press(kF4);
  type("z");
  backend->push_key(0x011B);  // Cancel: the value stays, the typed text too
  press(kDown);
  EXPECT_EQ(field_on_disk(0, 1, 5), nul_name);
  EXPECT_EQ(cell_editor_text(), "z");
  backend->push_key(kEnter);  // Store
  press(kDown);
  EXPECT_EQ(field_on_disk(0, 1, 5), "z    ");
}

TEST_F(CellEditorTest, EditModeOffWritesOrDropsAndIsRefusedWhenReadOnly) {
  open({row("one  ", "  1.00")});
  press(kF4);
  type("xy");
  press(kF4);  // off, writing
  EXPECT_EQ(g_app.edit.mode, 0);
  EXPECT_EQ(field_on_disk(0, 1, 5), "xy   ");
  press(kF4);
  type("zz");
  edit_mode_off(false);  // the Don't save answer
  EXPECT_EQ(field_on_disk(0, 1, 5), "xy   ");
  paint();
  g_settings.read_only = 1;
  press(kF4);
  EXPECT_EQ(g_app.edit.mode, 0);
  press(kEnter);
  EXPECT_EQ(g_app.edit.mode, 0);
}

TEST_F(CellEditorTest, EditModeIsRefusedOnAnEmptyTable) {
  open({});
  press(kF4);
  EXPECT_EQ(g_app.edit.mode, 0);
}

// ---- key filters --------------------------------------------------------------------------

TEST_F(CellEditorTest, KeysAreFilteredByTheFieldType) {
  open({row("one  ", "  1.00", "20200101", "F")});
  press(kF4);
  press(kTab);  // QTY: numeric with decimals
  type("a7x");
  EXPECT_EQ(cell_editor_text(), "7");
  EXPECT_EQ(filter_cell_key('-'), '-');
  EXPECT_EQ(filter_cell_key('b'), 0);
  EXPECT_EQ(filter_cell_key(','), ',');
  EXPECT_EQ(filter_cell_key(0x0E08), 0x0E08);
  press(kTab);  // DAY
  EXPECT_EQ(filter_cell_key('q'), 0);
  EXPECT_EQ(filter_cell_key('.'), '.');
  press(kTab);  // OK
  EXPECT_EQ(filter_cell_key('x'), 0);
  EXPECT_EQ(filter_cell_key('y'), 'y');
  press(kTab);  // NOTE shown as "Full memo"/"Empty memo": nothing may be typed or pasted
  EXPECT_EQ(filter_cell_key('5'), 0);
  EXPECT_EQ(filter_cell_key(kCtrlV), 0);
  for (int k = 0; k < 4; ++k) press(kShiftTab);
  EXPECT_EQ(view_of(table()).current_column, 0);
  EXPECT_EQ(filter_cell_key('%'), '%');  // NAME takes every key
  press(kDown);
  EXPECT_EQ(field_on_disk(0, 6, 6), "  7.00");
}

// A Visual FoxPro table: its blob cell takes no typing (its bytes point into
// the memo file); a varchar typed into gets the typed length, as dbfread
// with the format's length rule reads it back.
TEST_F(CellEditorTest, AVarcharTakesTheTypedLengthAndABlobNoTyping) {
  path = dir.copy_fixture("php-xbase/foxpro/vfp.dbf", "t.dbf");
  dir.copy_fixture("php-xbase/foxpro/vfp.fpt", "t.fpt");
  int index = add_open_table(path);
  ASSERT_GE(index, 0);
  g_app.current = index;
  apply_settings(table());
  press(kF4);
  for (int k = 0; k < 8; ++k) press(kTab);
  ASSERT_EQ(field_name(table(), column_field(table(), view_of(table()).current_column)), "BLOB");
  EXPECT_EQ(filter_cell_key('x'), 0);
  for (int k = 0; k < 6; ++k) press(kTab);
  ASSERT_EQ(field_name(table(), column_field(table(), view_of(table()).current_column)), "VARCHAR");
  EXPECT_EQ(cell_editor_text(), "qwe");
  press(kEnd);
  type("rty");
  press(kDown);
  std::string first = test::lines_of(test::dbfread_dump(path, false)).at(0);
  EXPECT_NE(first.find(", 2.3, 0, 1, 'qwerty', 'Groot', "), std::string::npos) << first;
}

TEST_F(CellEditorTest, SpaceInADateCellFillsTodayThenBlanksIt) {
  open({row("one  ", "  1.00")});
  press(kF4);
  press(kTab);
  press(kTab);
  press(kSpace);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char today[64];
  std::snprintf(today, sizeof today, "%02d.%02d.%04d", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
  EXPECT_EQ(cell_editor_text(), today);
  press(kDown);
  char stored[64];
  std::snprintf(stored, sizeof stored, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  EXPECT_EQ(field_on_disk(0, 12, 8), stored);
  press(0x4800);  // a move that goes nowhere: the cell is read again from the file
  EXPECT_EQ(cell_changes_pending(), 0);
  press(kSpace);
  EXPECT_EQ(cell_editor_text(), std::string(10, ' '));
  press(kF4);
  EXPECT_EQ(field_on_disk(0, 12, 8), std::string(8, ' '));
}

// ---- alignment ------------------------------------------------------------------------------

TEST_F(CellEditorTest, AlignmentMovesCharacterTextRightOrLeft) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  g_settings.alignment = 2;
  press(kF4);
  type("ab");
  press(kDown);
  EXPECT_EQ(field_on_disk(0, 1, 5), "   ab");
  g_settings.alignment = 1;
  type("  cd");
  press(kF4);
  EXPECT_EQ(field_on_disk(1, 1, 5), "cd   ");
  g_settings.alignment = 0;
  press(0x4800);
  press(kF4);
  type(" e");
  press(kF4);
  EXPECT_EQ(field_on_disk(0, 1, 5), " e   ");
}

// ---- Enter ----------------------------------------------------------------------------------

TEST_F(CellEditorTest, EnterPastTheLastColumnWritesAndMovesToTheNextRecord) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  g_settings.memo = 1;  // NOTE edits its block number, so Enter stays a cell move there
  apply_settings(table());
  press(kEnter);  // edit mode on
  ASSERT_EQ(g_app.edit.mode, 1);
  press(kEnter);
  EXPECT_EQ(view_of(table()).current_column, 1);
  press(kTab);
  press(kTab);  // OK
  type("y");
  press(kEnter);
  EXPECT_EQ(view_of(table()).current_column, 4);
  EXPECT_EQ(field_on_disk(0, 20, 1), " ");  // still in the record
  press(kEnter);
  EXPECT_EQ(field_on_disk(0, 20, 1), "Y");
  EXPECT_EQ(view_of(table()).current_record, 1);
  EXPECT_EQ(view_of(table()).current_column, 0);
  for (int k = 0; k < 4; ++k) press(kTab);
  type("7");  // a block number: digits only
  press(kEnter);  // on the last record it stays there, at column 0
  EXPECT_EQ(view_of(table()).current_record, 1);
  EXPECT_EQ(view_of(table()).current_column, 0);
  EXPECT_EQ(field_on_disk(1, 21, 10), "         7");
}

TEST_F(CellEditorTest, EnterWithoutEnterDownStaysInTheRecord) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  g_settings.enter_down = 0;
  g_settings.memo = 1;
  apply_settings(table());
  press(kF4);
  for (int k = 0; k < 4; ++k) press(kTab);
  type("3");
  press(kEnter);
  EXPECT_EQ(view_of(table()).current_record, 0);
  EXPECT_EQ(view_of(table()).current_column, 4);
  EXPECT_EQ(field_on_disk(0, 21, 10), std::string(10, ' '));
  EXPECT_EQ(cell_changes_pending(), 1);
}

// ---- memo editor ------------------------------------------------------------------------------

TEST_F(CellEditorTest, MemoEditorWritesANewMemoAndClearsAnEmptiedOne) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  press(kDown);
  press(kEnd);  // NOTE
  for (unsigned char ch : std::string("hello")) backend->push_key(ch);
  backend->push_key(kF2);
  press(kEnter);  // Enter on a memo shown as text opens the memo editor
  EXPECT_EQ(view_of(table()).memo_field, 4);
  ASSERT_TRUE(read_record(table(), 1));
  std::string text;
  ASSERT_TRUE(read_memo(table(), 4, text));
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(on_disk(0), row("one  ", "  1.00"));
  EXPECT_EQ(field_on_disk(1, 1, 5), "two  ");

  // In edit mode the memo is written together with the pending cells.
  press(kHome);
  press(kF4);
  type("X");
  for (int k = 0; k < 4; ++k) press(kTab);
  backend->push_key(0x1519);  // Ctrl+Y: the line goes
  backend->push_key(kF2);
  press(kSpace);
  EXPECT_EQ(field_on_disk(1, 21, 10), std::string(10, ' '));
  EXPECT_EQ(field_on_disk(1, 1, 5), "X    ");
  ASSERT_TRUE(read_record(table(), 1));
  EXPECT_FALSE(read_memo(table(), 4, text));
}

// A dBase III memo longer than 64 KB comes whole into the editor and goes
// back whole; one holding a zero byte is shown but cannot be saved cut short.
TEST_F(CellEditorTest, MemoEditorKeepsLongAndBinaryMemosWhole) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  std::string long_text(70000, 'a');
  ASSERT_TRUE(write_memo(table(), 4, long_text));
  ASSERT_TRUE(write_record(table(), 0));
  press(kEnd);
  backend->push_key('X');
  backend->push_key(kF2);
  press(kEnter);
  ASSERT_TRUE(read_record(table(), 0));
  std::string text;
  ASSERT_TRUE(read_memo(table(), 4, text, true));
  EXPECT_EQ(text, "X" + long_text);

  std::string binary("ab\0cd", 5);
  ASSERT_TRUE(write_memo(table(), 4, binary));
  ASSERT_TRUE(write_record(table(), 1));
  press(kDown);
  backend->push_key('X');
  backend->push_key(kF2);
  press(kEnter);
  ASSERT_TRUE(read_record(table(), 1));
  ASSERT_TRUE(read_memo(table(), 4, text));
  EXPECT_EQ(text, binary);
}

// View, "&Memo" while a typed value is not yet committed: both the value and
// the new memo reach the file.
TEST_F(CellEditorTest, MemoFromTheMenuKeepsTheMemoAndTheTypedCell) {
  open({row("one  ", "  1.00")});
  press(kF4);
  type("X");  // NAME, still in the editor
  for (unsigned char ch : std::string("hello")) backend->push_key(ch);
  backend->push_key(kF2);
  memo_editor();
  EXPECT_EQ(field_on_disk(0, 1, 5), "X    ");
  ASSERT_TRUE(read_record(table(), 0));
  std::string text;
  ASSERT_TRUE(read_memo(table(), 4, text));
  EXPECT_EQ(text, "hello");
}

// A record that cannot be written when the cursor leaves it is reported
// with an error box (the only key wait of that move).
TEST_F(CellEditorTest, ARecordThatCannotBeWrittenIsReported) {
  open({row("one  ", "  1.00"), row("two  ", "  2.00")});
  press(kF4);
  type("X");
  int writable = table().fd;
  table().fd = ::open(path.c_str(), O_RDONLY);
  backend->push_key(kEnter);
  int waits_before = backend->presents();
  press(kDown);
  EXPECT_GT(backend->presents(), waits_before);
  EXPECT_TRUE(backend->script_empty());
  ::close(table().fd);
  table().fd = writable;
  EXPECT_EQ(on_disk(0), row("one  ", "  1.00"));
}

TEST_F(CellEditorTest, MemoEditorLeftWithoutSavingChangesNothing) {
  open({row("one  ", "  1.00")});
  std::vector<uint8_t> memo_before = test::read_bytes(table().memo_file_name);
  for (unsigned char ch : std::string("zzz")) backend->push_key(ch);
  backend->push_key(0x011B);  // Esc, then "Don't save"
  backend->push_key(kRight);
  backend->push_key(kEnter);
  press(kSpace);
  EXPECT_EQ(on_disk(0), row("one  ", "  1.00"));
  EXPECT_EQ(test::read_bytes(table().memo_file_name), memo_before);
}

TEST_F(CellEditorTest, AFailedMemoWriteKeepsTheOldMemo) {
  open({row("one  ", "  1.00")});
  for (unsigned char ch : std::string("first")) backend->push_key(ch);
  backend->push_key(kF2);
  press(kSpace);
  std::string field = field_on_disk(0, 21, 10);
  ASSERT_NE(field, std::string(10, ' '));
  ASSERT_EQ(std::remove(table().memo_file_name.c_str()), 0);
  for (unsigned char ch : std::string("second")) backend->push_key(ch);
  backend->push_key(kF2);
  backend->push_key(kEnter);  // the error box
  press(kSpace);
  EXPECT_EQ(field_on_disk(0, 21, 10), field);
}

TEST_F(CellEditorTest, AnAnsiTableIsEditedInDisplayFormAndWrittenBackInItsOwn) {
  open({row("\xE0" "b   ", "  1.00")});  // Windows-1251 small a
  table().ansi_text = true;
  press(kF4);
  EXPECT_EQ(cell_editor_text(), "\xA0" "b   ");
  press(kEnd);
  press(0x0080);  // code page 866 capital A typed at the end
  press(kF4);
  EXPECT_EQ(field_on_disk(0, 1, 5), "\xE0" "b\xC0  ");
}

TEST_F(CellEditorTest, LettersTypedIntoAWindows1251TableAreStoredAsItsOwnBytes) {
  open({row("     ", "  1.00")});
  table().ansi_text = true;
  press(kF4);
  for (int key : {0xF1, 0xF0, 0xFC, 0xF3}) press(key);  // ё Ё № є as the screen's code page 866 bytes
  press(kF4);
  EXPECT_EQ(field_on_disk(0, 1, 5), "\xB8\xA8\xB9\xBA ");
  std::string dump = test::dbfread_dump(path, false, "cp1251");
  EXPECT_NE(dump.find("'ёЁ№є'"), std::string::npos) << dump;
}

// ---- block commands ------------------------------------------------------------------------

TEST_F(CellEditorTest, BlockCopyGivesTabbedLinesAndPastesBackAsTheSameRows) {
  open({row("a1   ", "  1.50"), row("b2   ", " 22.00"), row("c3   ", "  3.00")});
  std::string first = on_disk(0), second = on_disk(1);
  press('*');
  press(kDown);
  press(kRight);
  block_copy();
  EXPECT_EQ(g_text_clipboard.text, "a1   \t  1.50\nb2   \t 22.00\n");
  block_delete();
  EXPECT_EQ(field_on_disk(0, 1, 11), std::string(11, ' '));
  EXPECT_EQ(field_on_disk(1, 1, 11), std::string(11, ' '));
  EXPECT_EQ(on_disk(2), row("c3   ", "  3.00"));
  EXPECT_FALSE(g_app.block.on);  // Delete ended the mark: it does not grow with the cursor
  press(0x4800);
  press(kLeft);
  block_paste();
  EXPECT_EQ(on_disk(0), first);
  EXPECT_EQ(on_disk(1), second);
  EXPECT_EQ(on_disk(2), row("c3   ", "  3.00"));
  EXPECT_EQ(table().record_count, 3u);
}

TEST_F(CellEditorTest, PasteTakesCrLfLinesAndAppendsRecordsPastTheEnd) {
  open({row("a1   ", "  1.50"), row("b2   ", " 22.00")});
  press(kDown);
  press(kRight);
  g_text_clipboard.text = "7\tignored\r\n8.25\t\r\n";  // the NAME.. columns: QTY, then DAY
  block_paste();
  EXPECT_EQ(table().record_count, 3u);
  EXPECT_EQ(field_on_disk(1, 6, 6), "  7.00");
  EXPECT_EQ(field_on_disk(1, 12, 8), std::string(8, ' '));
  EXPECT_EQ(field_on_disk(1, 1, 5), "b2   ");
  EXPECT_EQ(on_disk(2), row("     ", "  8.25"));
  std::vector<uint8_t> bytes = test::read_bytes(path);
  EXPECT_EQ(bytes.size(), size_t(kHeaderSize + 3 * kRecordSize + 1));
  EXPECT_EQ(bytes.back(), 0x1A);
}

// A paste of many lines rewrites the records in chunks and appends the lines
// past the end, each record getting its own line; a value the field cannot
// hold is refused and reported, the rest of its line stored. Esc stops
// between chunks: what was written stays whole, nothing more is written.
TEST_F(CellEditorTest, PasteOfManyLinesGoesInChunksAndStopsOnEsc) {
  constexpr int kCount = 40000;  // three chunks of the scanner
  auto line_of = [](int i) {
    char text[32];
    std::snprintf(text, sizeof text, "r%04d\t%6.2f", i % 10000, (i % 1000) / 4.0);
    return i == 17 || i == 25000 ? std::string(text, 6) + "99999" : std::string(text);
  };
  auto pasted_row = [&line_of](int i) {
    std::string line = line_of(i);
    return row(line.substr(0, 5), line.size() == 11 ? "  0.00" : line.substr(6));  // "99999" is refused
  };
  std::string clipboard, said;
  for (int i = 0; i < kCount + 3; ++i) clipboard += line_of(i) + "\n";
  std::vector<uint8_t> blank = make_table(std::vector<std::string>(kCount, row("     ", "  0.00")));
  for (int b = 0; b < 4; ++b) blank[size_t(4 + b)] = uint8_t(kCount >> (8 * b));
  std::vector<uint8_t> bytes;
  auto paste = [&] {
    open({});
    reset_app_state();  // the big table in place of the small one
    install_cell_editing();
    test::write_bytes(path, blank);
    g_app.current = add_open_table(path);
    g_text_clipboard = {clipboard, false};
    block_paste();
    bytes = test::read_bytes(path);
  };
  auto record = [&bytes](int i) { return std::string(reinterpret_cast<char*>(&bytes[size_t(kHeaderSize + i * kRecordSize)]), kRecordSize); };
  backend->on_wait = [&] {
    for (int y = 0; y < screen_rows(); ++y) said += screen_row_text(y).find("not pasted") != std::string::npos ? screen_row_text(y) : "";
  };
  paste();
  ASSERT_EQ(bytes.size(), size_t(kHeaderSize) + size_t(kCount + 3) * kRecordSize + 1);
  for (int i = 0; i < kCount + 3; ++i) {
    if (record(i) != pasted_row(i)) {
      ADD_FAILURE() << "record " << i << ": " << record(i);
      break;
    }
  }
  EXPECT_NE(said.find("2 values were not pasted."), std::string::npos) << said;
  std::vector<std::string> dump = test::lines_of(test::dbfread_dump(path, false, "cp866"));
  ASSERT_EQ(dump.size(), size_t(kCount + 4));  // the records and the deleted count
  EXPECT_NE(dump[size_t(kCount + 2)].find("'r0002'"), std::string::npos) << dump[size_t(kCount + 2)];

  backend->push_key(0x011B, backend->now_ms() + 15);  // Esc as the walk starts
  paste();
  ASSERT_EQ(bytes.size(), size_t(kHeaderSize) + size_t(kCount) * kRecordSize + 1);
  int pasted = 0;
  while (pasted < kCount && record(pasted) == pasted_row(pasted)) ++pasted;
  EXPECT_GT(pasted, 0);
  EXPECT_LT(pasted, kCount);
  for (int i = pasted; i < kCount; ++i) ASSERT_EQ(record(i), row("     ", "  0.00")) << i;
}

TEST_F(CellEditorTest, CutCopiesThenClearsAndBlockCommandsRespectReadOnly) {
  open({row("a1   ", "  1.50")});
  press(kF4);
  type("zz");  // a pending cell is written before the block is read
  block_cut();
  EXPECT_EQ(g_text_clipboard.text, "zz   \n");
  EXPECT_EQ(field_on_disk(0, 1, 5), "     ");
  press(kRight);
  press(kLeft);
  EXPECT_EQ(cell_editor_text(), "     ");  // the editor sees the cleared record
  press(kF4);
  g_settings.read_only = 1;
  g_text_clipboard.text = "qq\n";
  block_paste();
  block_delete();
  EXPECT_EQ(field_on_disk(0, 1, 5), "     ");
  EXPECT_EQ(table().record_count, 1u);
}

TEST_F(CellEditorTest, CopyOfAnOemTableGivesWindows1251) {
  open({row("\x80\xA0   ", "  1.00")});  // code page 866 letters A and a
  block_copy();
  EXPECT_EQ(g_text_clipboard.text, "\xC0\xE0   \n");
  block_delete();
  block_paste();
  EXPECT_EQ(field_on_disk(0, 1, 5), "\x80\xA0   ");
  // Text copied from a table of another code page comes in UTF-8.
  g_text_clipboard = {"\u0416x", true};
  block_paste();
  EXPECT_EQ(field_on_disk(0, 1, 5), "\x86x   ");
}

// ---- tables in other code pages ---------------------------------------------------------------

// Characters typed on a UTF-8 terminal are stored as the table's own bytes;
// one its code page cannot hold is refused with the reason and stores
// nothing. The same holds in the memo editor and for a block paste.
TEST_F(CellEditorTest, TypedCharactersAreStoredInTheTablesCodePageOrRefusedWhole) {
  open_in("1252", {row("     ", "  1.00")});
  press(kF4);
  type_utf8("\u00e9t\u00e9");
  int bells = backend->bells();
  type_utf8("\u01c4");  // Ǆ: not in 1252
  EXPECT_EQ(backend->bells(), bells + 1);
  type_utf8("\u044f");  // я, whose key is a code page 866 letter: not in 1252 either
  EXPECT_EQ(backend->bells(), bells + 2);
  press(kF4);
  EXPECT_EQ(field_on_disk(0, 1, 5), "\xE9t\xE9  ");
  std::string dump = test::dbfread_dump(path, false, "cp1252");
  EXPECT_NE(dump.find("'\u00e9t\u00e9'"), std::string::npos) << dump;

  // The memo editor takes typed characters the same way.
  press(kEnd);
  backend->push_bytes("\u00fc");
  backend->push_key(kF2);
  press(kEnter);
  ASSERT_TRUE(read_record(table(), 0));
  std::string memo;
  ASSERT_TRUE(read_memo(table(), 4, memo));
  EXPECT_EQ(memo, "\xFC");

  // Block copy keeps the characters; a paste of one 1252 lacks is refused.
  press(kHome);
  block_copy();
  EXPECT_TRUE(g_text_clipboard.utf8);
  EXPECT_EQ(g_text_clipboard.text, "\u00e9t\u00e9  \n");
  g_text_clipboard = {"\u01c4", true};
  block_paste();
  EXPECT_EQ(field_on_disk(0, 1, 5), "\xE9t\xE9  ");
  g_text_clipboard = {"\u00fc\u00df", true};
  block_paste();
  EXPECT_EQ(field_on_disk(0, 1, 5), "\xFC\xDF   ");
}

// The memo editor's F7 finds the memo's letters of either case by the
// table's code page: É finds é in Windows-1252.
TEST_F(CellEditorTest, MemoFindFoldsTheTablesCodePage) {
  open_in("1252", {row("     ", "  1.00")});
  press(kEnd);
  backend->push_bytes("\u00fc\u00e9");
  backend->push_key(kF2);
  press(kEnter);
  backend->push_key(0x4100);  // F7
  backend->push_bytes("\u00c9");
  backend->push_key(kEnter);
  backend->push_bytes("x");
  backend->push_key(kF2);
  press(kEnter);
  ASSERT_TRUE(read_record(table(), 0));
  std::string memo;
  ASSERT_TRUE(read_memo(table(), 4, memo));
  EXPECT_EQ(memo, "\xFCx\xE9");
}

}  // namespace
}  // namespace kora
