// Tools / Append from as the user drives it: a file name typed into the
// dialog, OK, and the records, the saved [AppendFrom] section, the boxes
// shown; Esc during a long append; a read-only table refuses.
#include "app/append_from_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/key_codes.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

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

class AppendFromCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_ui_idle_hook = take_picture;
    g_screens.clear();
    g_settings_file = dir.file("kora.ini");
    g_settings.append_from = {";,", 0, 0, ""};
    // NAME C(6), QTY N(3), two records.
    test::DbfSpec layout;
    layout.fields = {{"NAME", 'C', 6}, {"QTY", 'N', 3}};
    layout.records = {"one     1", "two     2"};
    test::write_bytes(dir.file("t.dbf"), test::build_dbf(layout));
    g_app.current = add_open_table(dir.file("t.dbf"));
    ASSERT_GE(g_app.current, 0);
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_settings_file.clear();
    g_settings = Settings{};
    reset_app_state();
  }

  // Types the source's name into the dialog and confirms; an Esc arrives
  // while the append is under way, an Enter long after it.
  void append_from(const std::string& source, int later = 0) {
    for (char c : source) backend->push_key(c);
    backend->push_key(kKeyEnter);
    if (later) backend->push_key(later, backend->now_ms() + (later == kKeyEsc ? 1 : 60000));
    run_command(Cmd::AppendFrom);
  }

  std::string write_source(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }

  test::TempDir dir;
  HeadlessBackend* backend = nullptr;
};

TEST_F(AppendFromCommandTest, TheTypedFileIsAppendedAndTheSettingsSaved) {
  std::string source = write_source("in.txt", "three;3\nfour,4444\n");
  append_from(source, kKeyEnter);
  Table& table = *g_app.table();
  ASSERT_EQ(table.record_count, 4u);
  ASSERT_TRUE(read_record(table, 2));
  EXPECT_EQ(std::string(field_text(table, 0)), "three ");
  EXPECT_TRUE(shown("Append from"));
  EXPECT_TRUE(shown("1 value(s) did not fit into their fields,"));
  EXPECT_TRUE(shown("the first into QTY of record 4."));
  EXPECT_TRUE(g_app.redraw & kRedrawAll);
  std::vector<uint8_t> bytes = test::read_bytes(g_settings_file);
  std::string ini(bytes.begin(), bytes.end());
  EXPECT_NE(ini.find("[AppendFrom]"), std::string::npos);
  EXPECT_NE(ini.find("Filename=" + source), std::string::npos);
  EXPECT_NE(ini.find("Chars=;,"), std::string::npos);

  // A source that is not there says so and adds nothing.
  g_settings.append_from.filename.clear();
  append_from(dir.file("missing.dbf"), kKeyEnter);
  EXPECT_EQ(table.record_count, 4u);
  EXPECT_TRUE(shown("No such file"));

  // F4 picks the source in the file panel.
  const DialogHooks kept = g_dialog_hooks;
  g_dialog_hooks.file_panel = [&](const char*, std::string& chosen) { return chosen = source, 1; };
  g_settings.append_from.filename.clear();
  backend->push_key(kKeyF4);
  append_from("", kKeyEnter);
  g_dialog_hooks = kept;
  EXPECT_EQ(table.record_count, 6u);
}

TEST_F(AppendFromCommandTest, EscStopsALongAppendKeepingWhatArrived) {
  std::string text;
  for (int k = 0; k < 200000; ++k) text.append("r,").append(std::to_string(k % 1000)).append("\n");
  std::string source = write_source("many.txt", text);
  append_from(source, kKeyEsc);
  Table& table = *g_app.table();
  EXPECT_GT(table.record_count, 2u);
  EXPECT_LT(table.record_count, 200002u);
  EXPECT_FALSE(shown("Error"));
  auto reopened = open_table(table.file_name);
  EXPECT_EQ(reopened->record_count, table.record_count);
}

TEST_F(AppendFromCommandTest, AReadOnlyTableOpensNoDialog) {
  g_settings.read_only = 1;
  std::string source = write_source("in.txt", "x,1\n");
  append_from(source);
  EXPECT_EQ(g_app.table()->record_count, 2u);
  EXPECT_FALSE(shown("Append from"));
}

}  // namespace
}  // namespace kora
