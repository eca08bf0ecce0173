// Tools, Encoding as the user drives it: the passwords typed into the
// dialog, and afterwards the stored bytes, the password the table keeps and
// the boxes shown.
#include "app/encoding_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "table/record_ops.h"
#include "table/table_cipher.h"
#include "ui/backend.h"
#include "ui/key_codes.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {
namespace {

using Bytes = std::vector<uint8_t>;

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

class EncodingCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_app_state();
    screen_open_headless(25, 80);
    backend = headless_backend();
    g_ui_idle_hook = take_picture;
    g_screens.clear();
    test::DbfLayout layout;
    layout.fields = {{"NAME", 'C', 6}, {"QTY", 'N', 3}};
    layout.records = {"one     1", "two     2", "one     1"};
    layout.deleted = {false, true, false};
    path = dir.file("t.dbf");
    test::write_bytes(path, test::build_dbf(layout));
    original = test::read_bytes(path);
    g_app.current = add_open_table(path);
    ASSERT_GE(g_app.current, 0);
  }
  void TearDown() override {
    g_ui_idle_hook = nullptr;
    g_settings = Settings{};
    reset_app_state();
  }

  // Types each password into its line of the dialog and confirms.
  void run(Cmd command, const std::vector<std::string>& typed, bool message = false) {
    for (const std::string& text : typed) {
      for (char c : text) backend->push_key(c);
      backend->push_key(kKeyTab);
    }
    if (!typed.empty()) backend->push_key(kKeyEnter);
    // Closes the message box once it has been seen.
    if (message) backend->push_key(kKeyEnter, backend->now_ms() + 60000);
    run_command(command);
  }

  std::string record_text(uint32_t p) {
    Table& table = *g_app.table();
    if (read_record(table, p) != 1) return "unreadable";
    return std::string(reinterpret_cast<const char*>(table.record.data()), table.record_size);
  }

  test::TempDir dir;
  std::string path;
  Bytes original;
  HeadlessBackend* backend = nullptr;
};

TEST_F(EncodingCommandsTest, EncodeKeepsThePasswordAndDecodeRestoresTheFile) {
  run(Cmd::EncodeDatabase, {"secret", "secret"});
  Bytes encoded = test::read_bytes(path);
  EXPECT_NE(encoded, original);
  EXPECT_TRUE(has_table_password(*g_app.table()));
  draw_status_left();  // the "[n]" marker tells a table with a password
  EXPECT_EQ(screen_attr_at(0, 0), g_colors.Status3);
  EXPECT_EQ(record_text(2), " one     1");
  ASSERT_EQ(read_delete_flag(*g_app.table(), 1), 1);
  EXPECT_EQ(g_app.table()->delete_flag, '*');

  run(Cmd::RemovePassword, {});
  EXPECT_NE(record_text(2), " one     1");
  run(Cmd::DefinePassword, {"secret"});
  EXPECT_EQ(record_text(2), " one     1");
  EXPECT_EQ(test::read_bytes(path), encoded);

  run(Cmd::DecodeDatabase, {"secret", "secret"});
  EXPECT_EQ(test::read_bytes(path), original);
  EXPECT_FALSE(has_table_password(*g_app.table()));
  EXPECT_EQ(record_text(0), " one     1");
  draw_status_left();
  EXPECT_EQ(screen_attr_at(0, 0), g_colors.Status2);
}

// The same file open in a second slot (under another name) is opened again from the new file
// too, with the password, so that its writes do not go to the old one.
// A link to the file is the open table itself, never a second slot that
// would read the encoded bytes without the password.
TEST_F(EncodingCommandsTest, TheSameFileThroughALinkReadsTheEncodedFile) {
  ASSERT_EQ(symlink(path.c_str(), dir.file("link.dbf").c_str()), 0);
  int second = add_open_table(dir.file("link.dbf"));
  ASSERT_EQ(second, g_app.current);
  run(Cmd::EncodeDatabase, {"secret", "secret"});
  Table& other = *g_app.tables.at(second);
  EXPECT_TRUE(has_table_password(other));
  ASSERT_EQ(read_record(other, 0), 1);
  other.record[1] = 'O';
  ASSERT_EQ(write_record(other, 0), 1);
  run(Cmd::DecodeDatabase, {"secret", "secret"});
  EXPECT_EQ(record_text(0), " One     1");
}

TEST_F(EncodingCommandsTest, RefusalsLeaveTheFileAndThePasswordAlone) {
  struct Case {
    const char* what;
    std::vector<std::string> typed;
    int read_only;
    const char* message;
  } cases[] = {
      {"entries differ", {"secret", "secreT"}, 0, "Password is not confirmed."},
      {"nothing typed", {"", ""}, 0, nullptr},
      {"read-only, refused before the dialog", {}, 1, "Cannot write file"},
  };
  for (const Case& c : cases) {
    g_screens.clear();
    g_settings.read_only = c.read_only;
    run(Cmd::EncodeDatabase, c.typed, c.message != nullptr);
    EXPECT_EQ(test::read_bytes(path), original) << c.what;
    EXPECT_FALSE(has_table_password(*g_app.table())) << c.what;
    if (c.message) {
      EXPECT_TRUE(shown(c.message)) << c.what;
    }
  }
}

}  // namespace
}  // namespace kora
