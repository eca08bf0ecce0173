// Input histories: which fields keep one, storing a confirmed text on top,
// twenty entries at most, empty entries, and the F3 list in a running dialog.
#include "ui/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/dialog.h"
#include "ui/ini_text.h"
#include "ui/popup_fixture.h"

namespace kora {
namespace {

using Entries = std::vector<std::string>;

std::string item(int n) {
  char key[8];
  std::snprintf(key, sizeof key, "Item%02d", n);
  return key;
}

// The raw values Item00 .. Item19 of a section, "-" for a missing key.
Entries raw_items(const std::string& path, const char* section) {
  std::unique_ptr<IniText> ini = ini_open(path, false);
  Entries values;
  for (int i = 0; ini && i < 20; ++i) values.push_back(ini_get_str(section, item(i).c_str(), "-", 259, *ini));
  return values;
}

TEST(HistorySection, FieldsWithAHistoryByDialogAndControl) {
  struct Case {
    int topic, control;
    const char* section;
  };
  const Case cases[] = {
      {21, 0, "Filter"},  {21, 4, "Filter"},      {22, 0, "GotoRecord"}, {27, 1, "Search"},
      {29, 0, "Calc"},    {30, 0, "Fill"},        {30, 3, "FillRecords"}, {30, 1, nullptr},
      {38, 0, "Search"},  {38, 1, "Replace"},     {38, 5, "Replace"},    {39, 2, "Export"},
      {39, 8, "ExportRecords"}, {39, 0, nullptr}, {51, 0, "Pattern"},    {57, 2, "Filenames"},
      {10, 0, nullptr},   {56, 0, nullptr},
  };
  for (const Case& c : cases) {
    const char* got = history_section(c.topic, c.control);
    if (!c.section) {
      EXPECT_EQ(got, nullptr) << c.topic << "/" << c.control;
    } else {
      ASSERT_NE(got, nullptr) << c.topic << "/" << c.control;
      EXPECT_STREQ(got, c.section);
    }
  }
}

class HistoryStore : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string file = dir.file("kora.hst");
};

TEST_F(HistoryStore, MissingFileGivesNothingAndIsCreatedOnTheFirstStore) {
  EXPECT_TRUE(history_entries(file, "Filter").empty());
  EXPECT_EQ(history_store(file, "Filter", "AGE>30"), 1);
  EXPECT_EQ(history_entries(file, "Filter"), Entries{"AGE>30"});
  EXPECT_TRUE(history_entries(file, "Search").empty());
}

TEST_F(HistoryStore, AConfirmedEntryMovesToTheTopWithoutDuplicates) {
  for (const char* text : {"e", "d", "c", "b", "a"}) history_store(file, "Filter", text);
  EXPECT_EQ(history_entries(file, "Filter"), (Entries{"a", "b", "c", "d", "e"}));
  history_store(file, "Filter", "d");  // was Item03
  EXPECT_EQ(history_entries(file, "Filter"), (Entries{"d", "a", "b", "c", "e"}));
  history_store(file, "Filter", "D");  // equal only without case: a new entry
  EXPECT_EQ(history_entries(file, "Filter"), (Entries{"D", "d", "a", "b", "c", "e"}));
}

TEST_F(HistoryStore, TwentyEntriesAtMostTheOldestGoes) {
  for (int i = 0; i < 20; ++i) history_store(file, "Search", "text" + std::to_string(i));
  Entries entries = history_entries(file, "Search");
  ASSERT_EQ(entries.size(), 20u);
  EXPECT_EQ(entries.front(), "text19");
  EXPECT_EQ(entries.back(), "text0");
  history_store(file, "Search", "new");
  entries = history_entries(file, "Search");
  ASSERT_EQ(entries.size(), 20u);
  EXPECT_EQ(entries.front(), "new");
  EXPECT_EQ(entries[1], "text19");
  EXPECT_EQ(entries.back(), "text1");
  EXPECT_EQ(raw_items(file, "Search")[19], "text1");
}

TEST_F(HistoryStore, AnEmptyTextIsStoredButNotOffered) {
  history_store(file, "Calc", "1+1");
  history_store(file, "Calc", "");
  Entries raw = raw_items(file, "Calc");
  EXPECT_EQ(raw[0], "");
  EXPECT_EQ(raw[1], "1+1");
  EXPECT_EQ(raw[2], "-");
  EXPECT_EQ(history_entries(file, "Calc"), Entries{"1+1"});
  // The empty entry does not take a place: twenty texts still fit beside it.
  history_store(file, "Calc", "2+2");
  EXPECT_EQ(raw_items(file, "Calc")[0], "2+2");
  EXPECT_EQ(history_entries(file, "Calc"), (Entries{"2+2", "1+1"}));
}

TEST_F(HistoryStore, AnEditedFileWithGapsNeverShowsATextTwice) {
  test::write_bytes(file, {});
  std::string text = "[Filter]\r\nItem00=\r\nItem01=x\r\nItem02=y\r\nItem03=x\r\n[Search]\r\nItem00=y\r\n";
  test::write_bytes(file, std::vector<uint8_t>(text.begin(), text.end()));
  history_store(file, "Filter", "y");
  EXPECT_EQ(history_entries(file, "Filter"), (Entries{"y", "x"}));
  EXPECT_EQ(history_entries(file, "Search"), Entries{"y"});
}

TEST_F(HistoryStore, LongTextsAreKeptAsTheyReadBack) {
  std::string long_text(300, 'q');
  history_store(file, "Filter", long_text);
  history_store(file, "Filter", long_text);
  EXPECT_EQ(history_entries(file, "Filter"), Entries{std::string(259, 'q')});
}

TEST_F(HistoryStore, AFileThatCannotBeWrittenIsLeftAsItWas) {
  history_store(file, "Filter", "kept");
  std::vector<uint8_t> before = test::read_bytes(file);
  struct Context {
    std::string file;
  } context{file};
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  int status = test::run_without_root(
      [](void* c) {
        const std::string& path = static_cast<Context*>(c)->file;
        return history_store(path, "Filter", "lost") == 0 ? 0 : 1;
      },
      &context);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::read_bytes(file), before);
}

// ---- in a running dialog ------------------------------------------------------------

constexpr int kF3 = 0x3D00;

EditField g_filter_field{.x = 10, .y = 12, .width = 40, .size = 60};
DialogControl g_filter_controls[] = {{kControlEdit, 0, &g_filter_field}, {}};
Dialog g_filter{5, 10, 75, 14, 21, "Filter", 0, nullptr, g_filter_controls};

EditField g_other_field{.x = 10, .y = 12, .width = 40, .size = 60};
DialogControl g_other_controls[] = {{kControlEdit, 0, &g_other_field}, {}};
Dialog g_other{5, 10, 75, 14, 44, "Other", 0, nullptr, g_other_controls};

class HistoryDialog : public test::PopupTest {
 protected:
  void SetUp() override {
    PopupTest::SetUp();
    g_dialog_hooks = DialogHooks{};
    history_install(file);
  }
  void TearDown() override {
    g_dialog_hooks = DialogHooks{};
    PopupTest::TearDown();
  }
  int run(Dialog& dialog, const char* preset) {
    dialog_prepare(dialog);
    edit_set_text(*dialog_edit_field(dialog, 0), preset);
    int result = dialog_run(dialog, nullptr);
    text = dialog_edit_field(dialog, 0)->text;
    field_x = dialog_edit_field(dialog, 0)->x;
    field_y = dialog_edit_field(dialog, 0)->y;
    dialog_finish(dialog);
    return result;
  }

  test::TempDir dir;
  std::string file = dir.file("kora.hst");
  std::string text;
  int field_x = 0, field_y = 0;
};

TEST_F(HistoryDialog, OkStoresTheTextEscDoesNot) {
  press({test::kEnter});
  EXPECT_EQ(run(g_filter, "NAME='A'"), 1);
  press({test::kEsc});
  EXPECT_EQ(run(g_filter, "NAME='B'"), 0);
  press({test::kEnter});
  run(g_other, "elsewhere");
  EXPECT_EQ(history_entries(file, "Filter"), Entries{"NAME='A'"});
  EXPECT_TRUE(history_entries(file, "Other").empty());
}

TEST_F(HistoryDialog, F3ListsTheEntriesBesideTheFieldAndTheChoiceReplacesTheText) {
  for (const char* entry : {"third", "second", "first"}) history_store(file, "Filter", entry);
  history_store(file, "Filter", "");
  press({kF3, test::kDown, test::kEnter, test::kEnter});
  EXPECT_EQ(run(g_filter, "typed"), 1);
  EXPECT_EQ(text, "second");
  // The list's frame starts one cell above and left of the field; the
  // empty Item00 is not offered, so "first" is on the first row.
  ASSERT_GE(seen_.size(), 2u);
  EXPECT_NE(seen_text(1, field_x - 1, field_y, 12).find("first"), std::string::npos);
  EXPECT_NE(seen_text(1, field_x - 1, field_y + 1, 12).find("second"), std::string::npos);
  EXPECT_NE(seen_text(1, field_x - 1, field_y + 2, 12).find("third"), std::string::npos);
  EXPECT_EQ(history_entries(file, "Filter"), (Entries{"second", "first", "third"}));
}

TEST_F(HistoryDialog, F3WithoutEntriesOrEscapedLeavesTheText) {
  press({kF3, test::kEnter});
  EXPECT_EQ(run(g_filter, "alone"), 1);
  EXPECT_EQ(text, "alone");
  EXPECT_EQ(seen_.size(), 2u);  // no list asked for a key
  press({kF3, test::kEsc, test::kEnter});
  EXPECT_EQ(run(g_filter, "again"), 1);
  EXPECT_EQ(text, "again");
}

TEST_F(HistoryDialog, ATallListMovesUpToStayAboveTheBottomRows) {
  for (int i = 0; i < 20; ++i) history_store(file, "Filter", "entry" + std::to_string(i));
  press({kF3, test::kEnter, test::kEnter});
  EXPECT_EQ(run(g_filter, ""), 1);
  EXPECT_EQ(text, "entry19");
  // 20 items: the frame's bottom row is at most rows - 2 = 23, so the top at 2.
  EXPECT_NE(seen_text(1, field_x - 1, 3, 12).find("entry19"), std::string::npos);
  EXPECT_NE(seen_text(1, field_x - 1, 22, 12).find("entry0"), std::string::npos);
}

}  // namespace
}  // namespace kora
