// Tools / Append from as the user drives it: a file name typed into the
// dialog, OK, then the records, the saved [AppendFrom] section and the boxes.
#include "app/append_from_command.h"

#include <fstream>

#include "table/value_codec.h"
#include "tool_harness.h"
#include "ui/dialog.h"

namespace kora {
namespace {

class AppendFromCommandTest : public test::ToolHarness {
 protected:
  void SetUp() override {
    ToolHarness::SetUp();
    g_settings_file = dir.file("kora.ini");
    g_settings.append_from = {";,", 0, 0, ""};
    test::DbfLayout layout;  // NAME C(6), QTY N(3), two records
    layout.fields = {{"NAME", 'C', 6}, {"QTY", 'N', 3}};
    layout.records = {"one     1", "two     2"};
    open(layout);
  }
  // The source's name typed and confirmed; `late` arrives while the append runs.
  uint32_t append_from(const std::string& source, std::vector<int> late = {}) {
    g_settings.append_from.filename.clear();
    run(Cmd::AppendFrom, text(source, {kKeyEnter}), late);
    return g_app.table()->record_count;
  }
  std::string source(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }
};

TEST_F(AppendFromCommandTest, TheTypedFileIsAppendedAndTheSettingsSaved) {
  std::string in = source("in.txt", "three;3\nfour,4444\n");
  ASSERT_EQ(append_from(in), 4u);
  ASSERT_TRUE(read_record(*g_app.table(), 2));
  EXPECT_EQ(std::string(field_text(*g_app.table(), 0)), "three ");
  EXPECT_TRUE(shown("Append from"));
  EXPECT_TRUE(shown("1 value(s) did not fit into their fields,") && shown("the first into QTY of record 4."));
  for (std::string line : {"[AppendFrom]", "Chars=;,", "Filename="}) {
    EXPECT_NE(ini().find(line == "Filename=" ? line + in : line), std::string::npos) << line;
  }
  // A source that is not there says so and adds nothing.
  EXPECT_EQ(append_from(dir.file("missing.dbf")), 4u);
  EXPECT_TRUE(shown("No such file"));
  // A table is matched by field names: the box names those left blank, and
  // a table sharing none adds nothing.
  test::DbfLayout other;
  other.fields = {{"CITY", 'C', 4}, {"NAME", 'C', 6}};
  other.records = {"Osloseven "};
  test::write_bytes(dir.file("other.dbf"), test::build_dbf(other));
  EXPECT_EQ(append_from(dir.file("other.dbf")), 5u);
  EXPECT_TRUE(shown("The source has no field named QTY:"));
  other.fields = {{"CITY", 'C', 10}};
  test::write_bytes(dir.file("other.dbf"), test::build_dbf(other));
  EXPECT_EQ(append_from(dir.file("other.dbf")), 5u);
  EXPECT_TRUE(shown("Nothing was appended."));
  // F4 picks the source in the file panel.
  const DialogHooks kept = g_dialog_hooks;
  g_dialog_hooks.file_panel = [&](const char*, std::string& chosen) { return chosen = in, 1; };
  push({kKeyF4});
  EXPECT_EQ(append_from(""), 7u);
  g_dialog_hooks = kept;
  // A read-only table opens no dialog.
  g_settings.read_only = 1;
  test::g_pictures.clear();
  EXPECT_EQ(append_from(in), 7u);
  EXPECT_FALSE(shown("Append from"));
}

TEST_F(AppendFromCommandTest, EscStopsALongAppendKeepingWhatArrived) {
  std::string text;
  for (int k = 0; k < 200000; ++k) text.append("r,").append(std::to_string(k % 1000)).append("\n");
  uint32_t count = append_from(source("many.txt", text), {kKeyEsc});
  EXPECT_GT(count, 2u);
  EXPECT_LT(count, 200002u);
  EXPECT_FALSE(shown("Error"));
  EXPECT_EQ(open_table(path)->record_count, count);
}

}  // namespace
}  // namespace kora
