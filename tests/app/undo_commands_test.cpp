// Ctrl+Z and Ctrl+Y in the browse: a typed cell and a deletion mark taken
// back and made again in the file, the status line saying which.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../support/test_support.h"
#include "program_driver.h"
#include "table/undo_log.h"
#include "ui/key_codes.h"

namespace kora {
namespace {

using namespace kora::test;

constexpr int kF4 = 0x3E00, kDel = 0x5300;

std::vector<int> g_timed_keys;

int open_timed_screen() {
  screen_open_headless(25, 80);
  headless_backend()->on_wait = on_screen_wait();
  for (size_t i = 0; i < g_timed_keys.size(); ++i) headless_backend()->push_key(g_timed_keys[i], (long long)(i + 1) * 1000);
  return 1;
}

void run_timed(const std::string& path) {
  g_screen_starter = {open_timed_screen, keep_screen};
  g_screen.open = false;
  std::vector<std::string> words = {program_file(), path};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  run_program(int(words.size()), argv.data());
}

TEST(UndoCommands, CtrlZTakesBackTheLastChangesInTurnAndCtrlYMakesThemAgain) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf");
  dir.copy_fixture("infused-dbf/dbase_83.dbt");
  chmod(path.c_str(), 0644);
  const std::vector<uint8_t> opened = read_bytes(path);

  // The file and the status line each time they change.
  std::vector<std::vector<uint8_t>> files;
  std::vector<std::string> status;
  on_screen_wait() = [&] {
    std::vector<uint8_t> bytes = read_bytes(path);
    if (files.empty() || bytes != files.back() || row(0) != status.back()) {
      files.push_back(bytes);
      status.push_back(row(0));
    }
  };
  // Type into record 1's first cell and leave it (one step), mark record 2
  // deleted (another), then take both back, and make the first again. The
  // keys come a second apart, so that each is seen on its own.
  g_timed_keys = {kF4, '9', '9', kDown, kF4, kDel, kKeyCtrlZ, kKeyCtrlZ, kKeyCtrlZ, kKeyCtrlY};
  run_timed(path);
  on_screen_wait() = nullptr;
  auto shown = [&](const std::string& text, size_t from) {
    for (size_t i = from; i < status.size(); ++i) {
      if (status[i].find(text) != std::string::npos) return i;
    }
    ADD_FAILURE() << "never shown: " << text;
    return status.size() - 1;
  };
  size_t mark_undone = shown("Undone: Deletion mark", 0);
  size_t edit_undone = shown("Undone: Edit", mark_undone);
  size_t nothing = shown("Nothing to undo", edit_undone);
  size_t redone = shown("Redone: Edit", nothing);
  const std::vector<uint8_t>& edited = files[mark_undone];
  EXPECT_NE(edited, opened);
  EXPECT_NE(files[mark_undone - 1], edited);  // marked
  EXPECT_EQ(files[edit_undone], opened);
  EXPECT_EQ(files[nothing], opened);
  EXPECT_EQ(files[redone], edited);
  // The history goes with the session.
  EXPECT_FALSE(file_exists(undo_log_path(path)));
}

// Zap may rewrite the whole table: over the undo limit it asks first, and
// Cancel leaves the table as it was.
TEST(UndoCommands, AChangeLargerThanTheUndoLimitAsksBeforeItRuns) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf");
  dir.copy_fixture("infused-dbf/dbase_83.dbt");
  chmod(path.c_str(), 0644);
  const std::vector<uint8_t> opened = read_bytes(path);
  std::string ini = "[Options]\nUndoLimitMB=0\n";
  write_bytes(dir.file("kora.ini"), std::vector<uint8_t>(ini.begin(), ini.end()));
  std::string kept_program = program_file();
  program_file() = dir.file("kora");
  bool asked = false;
  on_screen_wait() = [&] {
    for (int y = 0; y < 25; ++y) asked = asked || row(y).find("larger than the undo limit") != std::string::npos;
  };
  g_timed_keys = {kKeyCtrlF8, kEsc};
  run_timed(path);
  on_screen_wait() = nullptr;
  program_file() = kept_program;
  EXPECT_TRUE(asked);
  EXPECT_EQ(read_bytes(path), opened);
}

}  // namespace
}  // namespace kora
