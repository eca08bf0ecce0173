// The record commands run headless on tables in a temporary folder: the
// answers to their message boxes are scripted, the box on the screen is
// captured while it waits, and the file bytes and the view state are checked.
#include "app/record_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "ui/backend.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {
namespace {

using test::read_bytes;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kLeft = 0x4B00, kRight = 0x4D00;
constexpr int kHeaderSize = 32 + 2 * 32 + 1;
constexpr int kRecordSize = 1 + 10 + 6;

// The screen as text, taken by the key wait's idle routine of every box.
std::vector<std::string> g_boxes;
void take_picture(int, int, int, int) {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  if (g_boxes.empty() || g_boxes.back() != text) g_boxes.push_back(text);
}

// A dBase III table with NAME C(10) and NUM N(6); record i holds "R<i>", i,
// and the deletion flags given ('*' deleted).
Bytes table_image(int count, const std::string& flags = "") {
  Bytes out(kHeaderSize, 0);
  out[0] = 0x03;
  out[1] = 124;
  out[2] = 1;
  out[3] = 1;
  put_le32(&out[4], uint32_t(count));
  put_le16(&out[8], kHeaderSize);
  put_le16(&out[10], kRecordSize);
  std::memcpy(&out[32], "NAME", 4);
  out[32 + 11] = 'C';
  out[32 + 16] = 10;
  std::memcpy(&out[64], "NUM", 3);
  out[64 + 11] = 'N';
  out[64 + 16] = 6;
  out[96] = 0x0D;
  for (int i = 0; i < count; ++i) {
    char rec[kRecordSize + 16];  // room for what %6d could print
    std::snprintf(rec, sizeof rec, "%cR%-9d%6d", size_t(i) < flags.size() ? flags[size_t(i)] : ' ', i, i);
    out.insert(out.end(), rec, rec + kRecordSize);
  }
  out.push_back(0x1A);
  return out;
}

class RecordCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_ui_idle_hook = take_picture;
    g_boxes.clear();
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    reset_app_state();
  }

  // Opens a generated table as the current one.
  Table& open(int count, const std::string& flags = "") {
    path = dir.file("t.dbf");
    test::write_bytes(path, table_image(count, flags));
    return open_path(path);
  }
  Table& open_path(const std::string& file) {
    int index = add_open_table(file);
    EXPECT_GE(index, 0) << file;
    g_app.current = index;
    g_app.redraw = 0;
    return *g_app.table();
  }

  // The answer keys of the next box, given after the box has waited once.
  void answer(std::vector<int> keys) {
    long long at = backend->now_ms() + 50;
    for (int key : keys) backend->push_key(key, at);
  }

  uint32_t count_on_disk() { return get_le32(&read_bytes(path)[4]); }
  // Record q as stored: flag byte and the two fields.
  std::string record_on_disk(int q) {
    Bytes all = read_bytes(path);
    size_t at = size_t(kHeaderSize + q * kRecordSize);
    if (at + kRecordSize > all.size()) return "";
    return std::string(all.begin() + long(at), all.begin() + long(at + kRecordSize));
  }
  std::string name_on_disk(int q) {
    std::string rec = record_on_disk(q);
    return rec.empty() ? "" : rec.substr(1, 10);
  }
  const std::string& last_box() {
    static const std::string none;
    return g_boxes.empty() ? none : g_boxes.back();
  }

  TempDir dir;
  std::string path;
  HeadlessBackend* backend = nullptr;
};

// ---- append and insert --------------------------------------------------------------

TEST_F(RecordCommandsTest, AppendAsksAndGoesToTheNewLastRecord) {
  Table& t = open(3);
  answer({kEnter});
  cmd_append();
  ASSERT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(name_on_disk(3), std::string(10, ' '));
  EXPECT_EQ(view_of(t).current_record, 3);
  EXPECT_NE(last_box().find("Do you wish to append record to database?"), std::string::npos);
  EXPECT_NE(last_box().find("Append"), std::string::npos);
  EXPECT_EQ(g_app.redraw & kRedrawEdges, 0);
  EXPECT_NE(g_app.redraw & kRedrawRows, 0);
  // Cancel and Esc leave the file alone.
  answer({kRight, kEnter});
  cmd_append();
  answer({kEsc});
  cmd_append();
  EXPECT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(read_bytes(path).size(), size_t(kHeaderSize + 4 * kRecordSize + 1));
}

TEST_F(RecordCommandsTest, AppendOnEmptyTableCrossesOnlyWithTheSecondRecord) {
  Table& t = open(0);
  cmd_append_now();
  EXPECT_EQ(count_on_disk(), 1u);
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_EQ(g_app.redraw & kRedrawEdges, 0);
  g_app.redraw = 0;
  cmd_append_now();
  EXPECT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(view_of(t).current_record, 1);
  EXPECT_NE(g_app.redraw & kRedrawEdges, 0);
  EXPECT_NE(g_app.redraw & kRedrawRows, 0);  // the rows the box covered come back too
  EXPECT_TRUE(g_boxes.empty());  // the variant without a question
}

TEST_F(RecordCommandsTest, AppendInReverseOrderGoesToTheFirstRow) {
  Table& t = open(3);
  t.view.reverse = true;
  cmd_append_now();
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_EQ(physical_record(t, 0), 3u);
}

TEST_F(RecordCommandsTest, DuplicateCopiesTheCurrentRecord) {
  Table& t = open(3, "  *");
  view_of(t).current_record = 2;
  answer({kEnter});
  cmd_append_copy();
  ASSERT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(record_on_disk(3), record_on_disk(2));  // deletion mark included
  view_of(t).current_record = 1;
  cmd_insert_copy_now();
  ASSERT_EQ(count_on_disk(), 5u);
  EXPECT_EQ(name_on_disk(1), "R1        ");
  EXPECT_EQ(name_on_disk(2), "R1        ");
  EXPECT_EQ(name_on_disk(3), "R2        ");
  EXPECT_EQ(view_of(t).current_record, 1);
}

TEST_F(RecordCommandsTest, DuplicateOnEmptyTableAppendsBlank) {
  Table& t = open(0);
  cmd_insert_copy_now();  // no records: Insert is Append
  ASSERT_EQ(count_on_disk(), 1u);
  EXPECT_EQ(record_on_disk(0), std::string(size_t(kRecordSize), ' '));
  EXPECT_EQ(view_of(t).current_record, 0);
}

TEST_F(RecordCommandsTest, InsertPutsABlankRecordAtTheCurrentPosition) {
  Table& t = open(3);
  view_of(t).current_record = 1;
  current_state().selection = {2};
  answer({kEnter});
  cmd_insert();
  ASSERT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(name_on_disk(0), "R0        ");
  EXPECT_EQ(name_on_disk(1), std::string(10, ' '));
  EXPECT_EQ(name_on_disk(2), "R1        ");
  EXPECT_EQ(name_on_disk(3), "R2        ");
  EXPECT_EQ(view_of(t).current_record, 1);
  EXPECT_NE(last_box().find("Do you wish to insert record to database?"), std::string::npos);
  // The selection follows its record to its new place.
  EXPECT_EQ(current_state().selection, std::vector<uint32_t>{3});
}

TEST_F(RecordCommandsTest, InsertInReverseOrderMovesToTheNextRow) {
  Table& t = open(3);
  t.view.reverse = true;
  view_of(t).current_record = 0;  // physical record 2
  cmd_insert_now();
  ASSERT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(view_of(t).current_record, 1);
  EXPECT_EQ(physical_record(t, 1), 2u);
  EXPECT_EQ(name_on_disk(2), std::string(10, ' '));
  EXPECT_EQ(name_on_disk(3), "R2        ");
}

TEST_F(RecordCommandsTest, InsertWithAFilterDoesNothing) {
  Table& t = open(3);
  t.view.visible_list = std::vector<uint32_t>{0, 2};
  Bytes before = read_bytes(path);
  cmd_insert();
  cmd_insert_now();
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_TRUE(g_boxes.empty());
}

// ---- ReadOnly -----------------------------------------------------------------------

TEST_F(RecordCommandsTest, ReadOnlyRefusesEveryChangeSilently) {
  Table& t = open(3, " * ");
  view_of(t).current_record = 1;
  table_state(t).record_clipboard.assign(size_t(kRecordSize), 'x');
  g_settings.read_only = 1;
  Bytes before = read_bytes(path);
  for (void (*command)() : {cmd_append, cmd_append_now, cmd_append_copy, cmd_insert, cmd_insert_now,
                            cmd_delete, cmd_delete_now, cmd_pack, cmd_pack_table, cmd_pack_memo, cmd_zap,
                            cmd_truncate, cmd_mark_deleted, cmd_delete_all, cmd_recall_all, cmd_inverse_all,
                            cmd_paste_record}) {
    command();
  }
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(view_of(t).current_record, 1);
  // The switch itself flips it back; then Del works.
  cmd_read_only();
  EXPECT_EQ(g_settings.read_only, 0);
  cmd_mark_deleted();
  EXPECT_EQ(record_on_disk(1)[0], ' ');
}

// ---- delete, pack, zap, truncate ----------------------------------------------------

TEST_F(RecordCommandsTest, DeleteRemovesTheRecordAndStepsBackFromTheEnd) {
  Table& t = open(3);
  view_of(t).current_record = 2;
  answer({kEnter});
  cmd_delete();
  EXPECT_NE(last_box().find("Do you wish to delete record from database?"), std::string::npos);
  ASSERT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(read_bytes(path).size(), size_t(kHeaderSize + 2 * kRecordSize + 1));
  EXPECT_EQ(view_of(t).current_record, 1);
  EXPECT_NE(g_app.redraw & kRedrawClear, 0);
  g_app.redraw = 0;
  view_of(t).current_record = 0;
  cmd_delete_now();
  ASSERT_EQ(count_on_disk(), 1u);
  EXPECT_EQ(name_on_disk(0), "R1        ");
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_NE(g_app.redraw & kRedrawEdges, 0);
  EXPECT_NE(g_app.redraw & kRedrawClear, 0);
}

TEST_F(RecordCommandsTest, DeleteIsRefusedInReverseOrderAndWithASort) {
  Table& t = open(3);
  t.view.reverse = true;
  cmd_delete_now();
  t.view.reverse = false;
  t.view.sort_order = std::vector<uint32_t>{2, 1, 0};
  cmd_delete_now();
  EXPECT_EQ(count_on_disk(), 3u);
}

TEST_F(RecordCommandsTest, ZapHasCancelPreselectedSoEnterCancels) {
  Table& t = open(4);
  view_of(t).current_record = 3;
  answer({kEnter});
  cmd_zap();
  EXPECT_EQ(count_on_disk(), 4u);
  EXPECT_NE(last_box().find("Do you wish to zap database?"), std::string::npos);
  answer({kLeft, kEnter});
  cmd_zap();
  EXPECT_EQ(count_on_disk(), 0u);
  EXPECT_EQ(read_bytes(path).size(), size_t(kHeaderSize + 1));
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_NE(g_app.redraw & kRedrawAll, 0);
}

// F1 in each question shows that command's own help: the topics 1 to 7.
std::vector<int> g_topics;
void take_topic(int topic, int, int, int) {
  if (g_topics.empty() || g_topics.back() != topic) g_topics.push_back(topic);
}

TEST_F(RecordCommandsTest, EachQuestionHasItsOwnHelpTopic) {
  Table& t = open(3);
  view_of(t).current_record = 1;
  cmd_copy_record();
  g_ui_idle_hook = take_topic;
  void (*const commands[])() = {cmd_append, cmd_insert, cmd_delete, cmd_pack, cmd_zap, cmd_truncate,
                                cmd_paste_record};
  for (int k = 0; k < 7; ++k) {
    g_topics.clear();
    answer({kEsc});
    commands[k]();
    EXPECT_EQ(g_topics, std::vector<int>{k + 1}) << "command " << k;
  }
  EXPECT_EQ(count_on_disk(), 3u);
}

TEST_F(RecordCommandsTest, TruncateKeepsTheRecordsUpToTheCurrentOne) {
  Table& t = open(5);
  view_of(t).current_record = 4;
  answer({kLeft, kEnter});
  cmd_truncate();  // on the last record nothing is removed
  EXPECT_NE(last_box().find("Do you wish to truncate database?"), std::string::npos);
  EXPECT_EQ(count_on_disk(), 5u);
  EXPECT_EQ(view_of(t).current_record, 4);
  answer({kEnter});  // Cancel is preselected
  view_of(t).current_record = 1;
  cmd_truncate();
  EXPECT_EQ(count_on_disk(), 5u);
  current_state().selection = {0, 3};
  answer({kLeft, kEnter});
  cmd_truncate();
  EXPECT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(name_on_disk(1), "R1        ");
  EXPECT_EQ(current_state().selection, std::vector<uint32_t>{0});
}

TEST_F(RecordCommandsTest, TruncateWithAFilterShowsTheError) {
  Table& t = open(3);
  t.view.visible_list = std::vector<uint32_t>{0, 1};
  answer({kLeft, kEnter});
  cmd_truncate();
  EXPECT_NE(last_box().find("Cannot truncate database."), std::string::npos);
  EXPECT_NE(last_box().find("Error"), std::string::npos);
  EXPECT_EQ(count_on_disk(), 3u);
}

TEST_F(RecordCommandsTest, PackDropsDeletedRecordsAndRebuildsTheMemoFile) {
  std::string table_path = dir.copy_fixture("dbfread/tests/cases/memotest.dbf");
  dir.copy_fixture("dbfread/tests/cases/memotest.FPT");
  path = table_path;
  Table& t = open_path(table_path);
  ASSERT_EQ(t.record_count, 3u);
  int memo = find_field(t, "MEMO");
  ASSERT_GE(memo, 0);
  // The live records' memo texts, to be found again after the pack.
  std::vector<std::string> live;
  for (uint32_t p = 0; p < 3; ++p) {
    ASSERT_TRUE(read_record(t, p));
    if (t.record[0] == '*') continue;
    std::string text;
    read_memo(t, memo, text);
    live.push_back(text);
  }
  ASSERT_EQ(live.size(), 2u);
  view_of(t).current_record = 2;
  answer({kEnter});
  cmd_pack();
  EXPECT_NE(last_box().find("Do you wish to pack database?"), std::string::npos);
  ASSERT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(view_of(t).current_record, 0);  // past the end: back to the first record
  for (uint32_t p = 0; p < 2; ++p) {
    ASSERT_TRUE(read_record(t, p));
    EXPECT_EQ(t.record[0], ' ');
    std::string text;
    read_memo(t, memo, text);
    EXPECT_EQ(text, live[p]);
  }
  EXPECT_TRUE(test::file_exists(dir.file("memotest.~PT")));
}

TEST_F(RecordCommandsTest, PackWithAViewDoesNothing) {
  Table& t = open(3, "*  ");
  t.view.visible_list = std::vector<uint32_t>{0, 1, 2};
  cmd_pack();
  EXPECT_EQ(count_on_disk(), 3u);
  EXPECT_TRUE(g_boxes.empty());
  t.view.visible_list.reset();
  answer({kEnter});
  cmd_pack_table();
  EXPECT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(name_on_disk(0), "R1        ");
}

// ---- marks --------------------------------------------------------------------------

TEST_F(RecordCommandsTest, DelWithDeleteDownOnTheLastRecordMarksAndStays) {
  Table& t = open(3);
  g_settings.delete_down = 1;
  view_of(t).current_record = 1;
  cmd_mark_deleted();
  EXPECT_EQ(record_on_disk(1)[0], '*');
  EXPECT_EQ(view_of(t).current_record, 2);
  cmd_mark_deleted();
  EXPECT_EQ(record_on_disk(2)[0], '*');
  EXPECT_EQ(view_of(t).current_record, 2);
  cmd_mark_deleted();  // again: the mark goes
  EXPECT_EQ(record_on_disk(2)[0], ' ');
  g_settings.delete_down = 0;
  view_of(t).current_record = 0;
  cmd_mark_deleted();
  EXPECT_EQ(record_on_disk(0)[0], '*');
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_NE(g_app.redraw & kRedrawRows, 0);
}

TEST_F(RecordCommandsTest, AllRecordsMarkRecallAndInvertTheView) {
  Table& t = open(4, "* * ");
  t.view.visible_list = std::vector<uint32_t>{1, 2};
  cmd_inverse_all();
  EXPECT_EQ(record_on_disk(0)[0], '*');
  EXPECT_EQ(record_on_disk(1)[0], '*');
  EXPECT_EQ(record_on_disk(2)[0], ' ');
  EXPECT_EQ(record_on_disk(3)[0], ' ');
  t.view.visible_list.reset();
  cmd_delete_all();
  for (int q = 0; q < 4; ++q) EXPECT_EQ(record_on_disk(q)[0], '*');
  cmd_recall_all();
  for (int q = 0; q < 4; ++q) EXPECT_EQ(record_on_disk(q)[0], ' ');
}

// ---- views --------------------------------------------------------------------------

TEST_F(RecordCommandsTest, HideDeletedKeepsTheCursorOnItsRecord) {
  Table& t = open(5, "*  * ");
  view_of(t).current_record = 2;
  cmd_hide_deleted();
  ASSERT_TRUE(t.view.visible_list);
  EXPECT_EQ(*t.view.visible_list, (std::vector<uint32_t>{1, 2, 4}));
  EXPECT_EQ(physical_record(t, uint32_t(view_of(t).current_record)), 2u);
  view_of(t).current_record = 2;  // record 4
  cmd_hide_deleted();
  EXPECT_FALSE(t.view.visible_list);
  EXPECT_EQ(view_of(t).current_record, 4);
  // Alt+1 drops filter and sort but hides the deleted records again.
  cmd_hide_deleted();
  t.view.filter_expr = "NUM>1";
  t.view.sort_order = std::vector<uint32_t>{2, 1, 0};
  cmd_cancel_views();
  EXPECT_TRUE(t.view.filter_expr.empty());
  EXPECT_FALSE(t.view.sort_order);
  ASSERT_TRUE(t.view.visible_list);
  EXPECT_EQ(*t.view.visible_list, (std::vector<uint32_t>{1, 2, 4}));
}

TEST_F(RecordCommandsTest, HidingEveryRecordLeavesAnEmptyView) {
  Table& t = open(2, "**");
  view_of(t).current_record = 1;
  cmd_hide_deleted();
  EXPECT_EQ(visible_count(t), 0u);
  EXPECT_EQ(view_of(t).current_record, 0);
  cmd_cancel_views();
  EXPECT_EQ(visible_count(t), 0u);
  t.view.hide_deleted = false;
  cmd_cancel_views();
  EXPECT_EQ(visible_count(t), 2u);
}

TEST_F(RecordCommandsTest, SelectAndShowSelectedOnly) {
  Table& t = open(5);
  view_of(t).current_record = 1;
  cmd_select();
  EXPECT_EQ(view_of(t).current_record, 2);
  view_of(t).current_record = 3;
  cmd_select();
  view_of(t).current_record = 4;
  cmd_select();  // the last row: selected, and the cursor stays
  EXPECT_EQ(view_of(t).current_record, 4);
  view_of(t).current_record = 4;
  cmd_select();  // unselect
  EXPECT_EQ(current_state().selection, (std::vector<uint32_t>{1, 3}));
  cmd_show_selected();
  ASSERT_TRUE(t.view.visible_list);
  EXPECT_EQ(*t.view.visible_list, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(current_state().selection, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(view_of(t).current_record, 0);
  cmd_cancel_views();
  EXPECT_FALSE(t.view.visible_list);
  EXPECT_EQ(physical_record(t, uint32_t(view_of(t).current_record)), 1u);
  EXPECT_TRUE(current_state().selection.empty());  // Alt+1 clears the selection too
}

// ---- clipboard ----------------------------------------------------------------------

TEST_F(RecordCommandsTest, CopyAndPasteRecord) {
  Table& t = open(3);
  cmd_paste_record();  // nothing copied yet
  EXPECT_TRUE(g_boxes.empty());
  view_of(t).current_record = 2;
  cmd_copy_record();
  ASSERT_EQ(table_state(t).record_clipboard.size(), size_t(kRecordSize));
  // Overwrite.
  view_of(t).current_record = 0;
  answer({kRight, kEnter});
  cmd_paste_record();
  EXPECT_NE(last_box().find("Do you want to paste record from internal clipboard?"), std::string::npos);
  EXPECT_NE(last_box().find("Insert"), std::string::npos);
  EXPECT_EQ(record_on_disk(0), record_on_disk(2));
  EXPECT_EQ(count_on_disk(), 3u);
  // Insert.
  view_of(t).current_record = 1;
  answer({kEnter});
  cmd_paste_record();
  ASSERT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(record_on_disk(1), record_on_disk(3));
  EXPECT_EQ(name_on_disk(2), "R1        ");
  // Cancel.
  answer({kRight, kRight, kEnter});
  cmd_paste_record();
  EXPECT_EQ(count_on_disk(), 4u);
  EXPECT_EQ(name_on_disk(2), "R1        ");
}

TEST_F(RecordCommandsTest, PasteWithAFilterOffersOverwriteOnly) {
  Table& t = open(3);
  view_of(t).current_record = 0;
  cmd_copy_record();
  t.view.visible_list = std::vector<uint32_t>{1, 2};
  view_of(t).current_record = 1;  // record 2
  answer({kEnter});
  cmd_paste_record();
  EXPECT_EQ(last_box().find("Insert"), std::string::npos);
  EXPECT_NE(last_box().find("Overwrite"), std::string::npos);
  EXPECT_EQ(count_on_disk(), 3u);
  EXPECT_EQ(name_on_disk(2), "R0        ");
  EXPECT_EQ(name_on_disk(1), "R1        ");
}

TEST_F(RecordCommandsTest, PasteIntoAnAnsiTableStoresTheFileCodePage) {
  Table& t = open(2);
  t.ansi_text = true;
  // Windows-1251 "\xC0\xE1" (А б) shown in code page 866 as 0x80 0xA1.
  Bytes all = read_bytes(path);
  all[size_t(kHeaderSize + 1)] = 0xC0;
  all[size_t(kHeaderSize + 2)] = 0xE1;
  test::write_bytes(path, all);
  cmd_copy_record();
  EXPECT_EQ(table_state(t).record_clipboard[1], 0x80);
  EXPECT_EQ(table_state(t).record_clipboard[2], 0xA1);
  view_of(t).current_record = 1;
  answer({kRight, kEnter});
  cmd_paste_record();
  EXPECT_EQ(record_on_disk(1), record_on_disk(0));
}

// ---- refresh and backup -------------------------------------------------------------

TEST_F(RecordCommandsTest, RefreshRereadsTheRecordCount) {
  Table& t = open(4);
  view_of(t).current_record = 3;
  // Another program cuts the file to two records.
  test::write_bytes(path, table_image(2));
  cmd_refresh();
  EXPECT_EQ(t.record_count, 2u);
  EXPECT_EQ(view_of(t).current_record, 0);
  EXPECT_NE(g_app.redraw & kRedrawRows, 0);
}

TEST_F(RecordCommandsTest, BackupNowCopiesTheTableEachTime) {
  Table& t = open(2);
  set_bak_mode(t, 1);
  t.bak_mode = 0;  // BakFiles 0: the name is there, no copy before changes
  std::string bak = dir.file("t.bak");
  cmd_backup_now();
  EXPECT_EQ(read_bytes(bak), read_bytes(path));
  cmd_append_now();
  EXPECT_NE(read_bytes(bak), read_bytes(path));
  cmd_backup_now();  // a second copy now, with the new record
  EXPECT_EQ(read_bytes(bak), read_bytes(path));
  t.bak_file_name.clear();
  cmd_append_now();
  cmd_backup_now();
  EXPECT_NE(read_bytes(bak), read_bytes(path));
}

// ---- edit mode ----------------------------------------------------------------------

// What the cell editing hooks saw: the argument, and the record count then.
std::vector<std::pair<bool, uint32_t>> g_hook_calls;

TEST_F(RecordCommandsTest, ReadOnlyWhileEditingWritesThePendingRecordFirst) {
  open(2);
  g_hook_calls.clear();
  g_cell_edit_hooks.leave_edit = [](bool write) {
    g_hook_calls.push_back({write, 0});
    g_app.edit.mode = 0;
  };
  g_app.edit.mode = 1;
  cmd_read_only();
  ASSERT_EQ(g_hook_calls.size(), 1u);
  EXPECT_TRUE(g_hook_calls[0].first);
  EXPECT_EQ(g_settings.read_only, 1);
  EXPECT_EQ(g_app.edit.mode, 0);
  g_cell_edit_hooks = CellEditHooks{};
}

TEST_F(RecordCommandsTest, PendingRecordIsWrittenBeforeRecordsMove) {
  Table& t = open(3);
  g_hook_calls.clear();
  g_cell_edit_hooks.leave_cell = [](bool record_change) {
    g_hook_calls.push_back({record_change, g_app.table()->record_count});
    return true;
  };
  g_app.edit.mode = 1;
  view_of(t).current_record = 1;
  cmd_delete_now();
  ASSERT_EQ(g_hook_calls.size(), 1u);
  EXPECT_TRUE(g_hook_calls[0].first);
  EXPECT_EQ(g_hook_calls[0].second, 3u);  // before the record went
  EXPECT_EQ(count_on_disk(), 2u);
  EXPECT_EQ(g_app.edit.pending_reload, 1);  // the editor reads the new current record
  // A refused command leaves the pending record alone.
  g_hook_calls.clear();
  t.view.reverse = true;
  cmd_delete_now();
  EXPECT_TRUE(g_hook_calls.empty());
  g_app.edit.mode = 0;
  g_cell_edit_hooks = CellEditHooks{};
}

// ---- dispatch table -----------------------------------------------------------------

TEST_F(RecordCommandsTest, KeysReachTheirCommands) {
  Table& t = open(3);
  auto run = [](int key) {
    CommandFunction command = command_binding(command_for_key(key)).run;
    if (command) command();
    return command != nullptr;
  };
  EXPECT_TRUE(run(0x6200));  // Ctrl+F5
  EXPECT_EQ(count_on_disk(), 4u);
  view_of(t).current_record = 0;
  g_settings.delete_down = 0;
  EXPECT_TRUE(run(0x5300));  // Del
  EXPECT_EQ(record_on_disk(0)[0], '*');
  EXPECT_TRUE(run(0x5B00));  // Shift+F8
  EXPECT_EQ(count_on_disk(), 3u);
  EXPECT_TRUE(run(0x4100));  // F7: the search dialog, which the empty script closes
}

}  // namespace
}  // namespace kora
