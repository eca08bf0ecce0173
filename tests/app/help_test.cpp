// Help as shipped: every topic the program passes has a text in the built
// help table, F1 and Help, Contents show them, and the table is never
// written.
#include "app/commands.h"
#include "app/help.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "app/app_state.h"
#include "program_driver.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {
namespace {

using test::TempDir;

const std::string kBuiltHelp = std::string(KORA_BINARY_DIR) + "/help/english.dbf";

// The topic numbers in the sources: help constants, and literal topics
// given to message boxes and dialog tables.
std::set<long> topics_in_sources() {
  const std::regex patterns[] = {
      std::regex(R"(k\w*(Help|Topic)\w*\s*=\s*(\d+))"),
      std::regex(R"(message_box\([^;]*,\s*(\d+)\);)"),
      std::regex(R"(Dialog\s+\w+\{\s*\d+,\s*\d+,\s*\d+,\s*\d+,\s*(\d+),)"),
  };
  std::set<long> topics;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(KORA_SOURCE_DIR) + "/src")) {
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    for (const std::regex& pattern : patterns) {
      for (std::sregex_iterator m(source.begin(), source.end(), pattern), end; m != end; ++m) {
        topics.insert(std::stol((*m)[m->size() - 1].str()));
      }
    }
  }
  topics.erase(0);  // the contents menu, not a record
  return topics;
}

TEST(Help, EveryTopicTheProgramPassesHasATextInTheBuiltTable) {
  std::set<long> used = topics_in_sources();
  // The program's menus, confirmations and windows besides the constants.
  for (long t : {1, 2, 3, 4, 5, 6, 7, 9, 10, 52, 60, 61, 62, 63, 64, 65, 66, 69}) used.insert(t);
  ASSERT_GT(used.size(), 40u);

  auto table = open_table(kBuiltHelp);
  ASSERT_TRUE(table) << kBuiltHelp;
  std::map<long, std::string> texts;
  for (uint32_t q = 0; q < table->record_count; ++q) {
    ASSERT_EQ(read_record(*table, q), 1);
    std::string text;
    ASSERT_TRUE(read_memo(*table, table->first_memo_field, text, true));
    texts[std::atol(field_text(*table, 0))] = text;
  }
  for (long topic : used) {
    EXPECT_TRUE(texts.count(topic) && texts[topic].size() > 20) << "no help text for topic " << topic;
  }
  EXPECT_NE(texts[25].find("not protection"), std::string::npos);
}


// Every key with Ctrl, Alt or Shift that a help text names does something
// on the main screen, or in the window the text is about (those are named
// below with where they work).
TEST(Help, EveryShortcutTheTextsNameIsBound) {
  std::ifstream in(std::string(KORA_SOURCE_DIR) + "/data/help/help.txt");
  std::stringstream text;
  text << in.rdbuf();
  const std::string help = text.str();
  // Keys of the memo editor (topic 50).
  const std::set<std::string> elsewhere = {"Ctrl+Y", "Ctrl+U", "Ctrl+Z", "Ctrl+C", "Ctrl+X", "Ctrl+V", "Ctrl+W"};
  const std::regex shortcut(R"(\b(Ctrl|Alt|Shift)\+(F1[0-2]|F[1-9]|Tab|[A-Z0-9]|\]|\.)(?![A-Za-z0-9]))");
  std::set<std::string> named, unbound;
  for (std::sregex_iterator m(help.begin(), help.end(), shortcut), end; m != end; ++m) {
    std::string name = m->str();
    named.insert(name);
    if (elsewhere.count(name)) continue;
    std::string mod = (*m)[1].str(), key = (*m)[2].str();
    int mods = mod == "Ctrl" ? kModCtrl : mod == "Alt" ? kModAlt : kModShift;
    int base = key == "Tab" ? 9 : key.size() > 1 ? key_f(std::stoi(key.substr(1))) : key[0];
    int code = bios_key(base, mods);
    bool handled = command_for_key(code) != Cmd::None || code == 0x5400;  // Shift+F1: help contents
    if (!handled) unbound.insert(name);
  }
  EXPECT_GT(named.size(), 30u);
  EXPECT_TRUE(unbound.empty()) << [&] {
    std::string list;
    for (const std::string& name : unbound) list += name + " ";
    return list;
  }();
}

std::vector<std::string>& screens() {
  static std::vector<std::string> taken;
  return taken;
}

void take_screen() {
  std::string text;
  for (int y = 0; y < screen_rows(); ++y) text += screen_row_text(y) + "\n";
  if (screens().empty() || screens().back() != text) screens().push_back(text);
}

class HelpRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("help"));
    for (const char* name : {"english.dbf", "english.dbt"}) {
      std::string from = std::string(KORA_BINARY_DIR) + "/help/" + name;
      test::copy_file(from, dir.file("help/") + name);
      before.push_back(test::read_bytes(from));
    }
    table = dir.copy_fixture("infused-dbf/dbase_03.dbf", "people.dbf");
    test::program_file() = dir.file("kora");
    screens().clear();
  }
  void TearDown() override {
    test::program_file() = "/nonexistent-kora-test/kora";
  }
  bool shown(const std::string& text) const {
    for (const std::string& screen : screens())
      if (screen.find(text) != std::string::npos) return true;
    return false;
  }
  void expect_help_untouched() {
    EXPECT_EQ(test::read_bytes(dir.file("help/english.dbf")), before[0]);
    EXPECT_EQ(test::read_bytes(dir.file("help/english.dbt")), before[1]);
  }

  TempDir dir;
  std::string table;
  std::vector<std::vector<uint8_t>> before;
};

constexpr int kF1 = 0x3B00, kShiftF1 = 0x5400;

// The keys a second apart, so that the program waits (and the screen is
// taken) before each of them.
std::vector<int> g_slow_keys;
int open_slow_screen() {
  screen_open_headless(25, 80);
  headless_backend()->on_wait = [] { take_screen(); };
  long long at = 0;
  for (int key : g_slow_keys) headless_backend()->push_key(key, at += 1000);
  return 1;
}

int run_slowly(const std::string& table, const std::vector<int>& keys) {
  g_slow_keys = keys;
  g_screen_starter = {open_slow_screen, test::keep_screen};
  g_screen.open = false;
  std::vector<std::string> words = {test::program_file(), table};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return run_program(int(words.size()), argv.data());
}

TEST_F(HelpRun, F1OnTheMainScreenShowsTheMainTopicReadOnly) {
  // F1, then typing into the text and F2 (save) in the viewer, F1 again
  // inside it (nothing), Esc out of it.
  EXPECT_EQ(run_slowly(table, {kF1, 'x', 0x3C00, kF1, test::kEsc}), 0);
  EXPECT_TRUE(shown("Help: Main screen"));
  EXPECT_TRUE(shown("kora shows one table at a time"));
  // The viewer's own key bar, not the browse view's.
  for (const std::string& screen : screens()) {
    if (screen.find("Help: Main screen") == std::string::npos) continue;
    std::string keybar = screen.substr(screen.rfind('\n', screen.size() - 2) + 1);
    EXPECT_NE(keybar.find("3Zoom"), std::string::npos) << keybar;
    EXPECT_EQ(keybar.find("Fields"), std::string::npos) << keybar;
  }
  EXPECT_EQ(g_settings.read_only, 0);
  expect_help_untouched();
}

TEST_F(HelpRun, ContentsListsTheTopicsAndShowsTheChosenOne) {
  // Shift+F1, Down to the second topic, Enter, Esc from the text, Esc from the list.
  EXPECT_EQ(run_slowly(table, {kShiftF1, test::kDown, test::kEnter, test::kEsc, test::kEsc}), 0);
  EXPECT_TRUE(shown("Favorites menu"));
  EXPECT_TRUE(shown("Help: File menu"));
  expect_help_untouched();
}

TEST_F(HelpRun, AMissingHelpTableSaysWhereItWasLookedFor) {
  std::filesystem::remove_all(dir.file("help"));
  EXPECT_EQ(run_slowly(table, {kF1, test::kEnter}), 0);
  EXPECT_FALSE(shown("Help:"));
  EXPECT_TRUE(shown("The help table is missing"));
  EXPECT_TRUE(shown("/help/english.dbf"));
  EXPECT_TRUE(shown("/../share/kora/help/english.dbf"));
}

// The same in a real terminal, on the built program and its help folder.
TEST(HelpTmux, F1ShowsTheMainTopicAndLeavesTheHelpTableAsItWas) {
  std::string program = std::string(KORA_BINARY_DIR) + "/kora";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "kora not built";
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
  std::string command = std::string(KORA_SOURCE_DIR) + "/tests/e2e/kora_help_tmux_test.sh " + program;
  command.append(" ").append(test::fixture("infused-dbf/dbase_03.dbf"));
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kora
