// Keyboard macros: the macro file in both spellings, recording through
// get_key with the binding prompt, playing back, and the file kept beside
// the program.
#include "ui/macros.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/backend.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {
namespace {

constexpr int kCtrlDot = 0xBE00;
constexpr int kF1 = 0x3B00;
constexpr int kF3 = 0x3D00;
constexpr int kEsc = 0x011B;
constexpr int kEnter = 0x1C0D;

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(MacroFile, BothSpellingsOfALineGiveTheSameMacro) {
  for (const char* line : {"0x3d00:\t0x0061, 0x0062, \n", "3d00:\t0061, 0062, \n",
                           "0X3D00 61,62\r\n", "3d00:61\t\t,  0x62"}) {
    std::vector<Macro> macros = macros_parse(line);
    ASSERT_EQ(macros.size(), 1u) << line;
    EXPECT_EQ(macros[0].trigger, kF3) << line;
    EXPECT_EQ(macros[0].keys, (std::vector<uint16_t>{'a', 'b'})) << line;
  }
}

TEST(MacroFile, CommentsEmptyLinesZeroTriggersAndLinesWithoutKeysAddNothing) {
  std::string text =
      "; my macros\n"
      "\n"
      "0x0000:\t0x0061, \n"
      "0x3c00:\t\n"
      "\r\n"
      "zz: 0x41\n"
      "0x3d00:\t0x0000, 0x0041, \n"  // a 0 key is dropped, as when recording
      "0x3d00:\t0x0042, \n";         // a second macro for F3: kept, never plays
  std::vector<Macro> macros = macros_parse(text);
  ASSERT_EQ(macros.size(), 2u);
  EXPECT_EQ(macros[0].trigger, kF3);
  EXPECT_EQ(macros[0].keys, (std::vector<uint16_t>{0x41}));
  EXPECT_EQ(macros[1].keys, (std::vector<uint16_t>{0x42}));
}

TEST(MacroFile, FormatReadsBackAndKeepsTheFirst65535Keys) {
  std::vector<Macro> macros = {{kF3, {'a', 'b'}}, {0x2D00, {0x4800, 0x1C0D, 0xBE00}}};
  std::string text = macros_format(macros);
  EXPECT_EQ(text, "0x3d00:\t0x0061, 0x0062, \n0x2d00:\t0x4800, 0x1c0d, 0xbe00, \n");
  std::vector<Macro> back = macros_parse(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].trigger, 0x2D00);
  EXPECT_EQ(back[1].keys, macros[1].keys);

  Macro long_macro{kF3, std::vector<uint16_t>(kMacroMaxKeys + 10, 'x')};
  long_macro.keys.back() = 'y';
  back = macros_parse(macros_format({long_macro}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].keys.size(), size_t(kMacroMaxKeys));
  EXPECT_EQ(back[0].keys.back(), 'x');
}

class MacroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    g_colors = default_colors();
    g_frames = default_frames();
    backend = headless_backend();
    g_key_hooks = KeyHooks{};
    macros_free();
    file = dir.file("kora.mac");
    macros_install(file);
  }
  void TearDown() override {
    macros_free();
    g_key_hooks = KeyHooks{};
  }
  void push(std::initializer_list<int> keys) {
    for (int key : keys) backend->push_key(key);
  }
  std::vector<int> keys_until_script_ends() {
    // The script's end answers Esc with the input marked closed.
    std::vector<int> got;
    for (;;) {
      int key = get_key(0, nullptr);
      if (input_closed()) return got;
      got.push_back(key);
    }
  }

  test::TempDir dir;
  std::string file;
  HeadlessBackend* backend = nullptr;
};

TEST_F(MacroTest, RecordedKeysBindToTheKeyPressedAtThePromptAndPlayBack) {
  push({kCtrlDot, 'a', 0x4800, 'b', kCtrlDot, kF3});
  // While recording the keys still reach the program.
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'a', 0x4800, 'b'}));
  EXPECT_FALSE(macro_recording());
  EXPECT_EQ(read_text(file), "0x3d00:\t0x0061, 0x4800, 0x0062, \n");

  push({'x', kF3, 'y'});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'x', 'a', 0x4800, 'b', 'y'}));
}

// A character code page 866 lacks would play back as '?': typed while
// recording, it drops the recording (with a message) and still reaches the
// program; Cyrillic typed in UTF-8 is kept.
TEST_F(MacroTest, ACharacterTheFileCannotKeepDropsTheRecording) {
  push({kCtrlDot});
  backend->push_bytes("\u0416\u00e9");  // Ж is 0x86 in 866; é has no byte there
  push({0x1C0D, 'z'});                   // Enter closes the message
  std::vector<int> got;
  for (int k = 0; k < 4 && !input_closed(); ++k) got.push_back(get_key(0, nullptr));
  EXPECT_FALSE(macro_recording());
  EXPECT_EQ(got[0], 0x86);
  EXPECT_EQ(got[1] & 0xFF, '?');  // the key goes on to the program, which refuses or converts it
  EXPECT_EQ(got[2], 'z');
  EXPECT_FALSE(test::file_exists(file));  // nothing was bound
}

TEST_F(MacroTest, RecordingMarkIsShownAndRemovedAndThePromptIsRestored) {
  put_char(0, 1, '#', 0x17);
  put_char(40, 12, '@', 0x17);
  push({kCtrlDot, 'a'});
  EXPECT_EQ(get_key(0, nullptr), 'a');
  ASSERT_TRUE(macro_recording());
  macro_draw_mark();
  EXPECT_EQ(cell_byte(*screen_cell(0, 1)), 'R');
  EXPECT_EQ(screen_cell(0, 1)->attr, 0x4F);

  push({kCtrlDot, kF3, 'z'});
  EXPECT_EQ(get_key(0, nullptr), 'z');
  EXPECT_EQ(cell_byte(*screen_cell(0, 1)), g_frames.double_frame[0]);
  EXPECT_EQ(screen_cell(0, 1)->attr, g_colors.Frame);
  EXPECT_EQ(cell_byte(*screen_cell(40, 12)), '@');  // the prompt is gone
  macro_draw_mark();
  EXPECT_EQ(cell_byte(*screen_cell(0, 1)), g_frames.double_frame[0]);
}

TEST_F(MacroTest, PromptBoxIsCentredWithTheText) {
  macro_draw_prompt();
  // 20 characters: the box runs from column 28 to 52, rows 10 to 14.
  EXPECT_EQ(screen_row_text(12).substr(30, 20), "Press the desire key");
  EXPECT_EQ(screen_cell(30, 12)->attr, g_colors.DialogText);
  EXPECT_EQ(cell_byte(*screen_cell(28, 10)), g_frames.single_frame[0]);
  EXPECT_EQ(cell_byte(*screen_cell(52, 14)), g_frames.single_frame[8]);
  EXPECT_EQ(screen_cell(28, 10)->attr, g_colors.DialogFrame);
}

TEST_F(MacroTest, EscOrEnterAtThePromptKeepsEveryOldBinding) {
  write_text(file, "0x3d00:\t0x0061, \n");
  EXPECT_EQ(macros_load(), 1);
  for (int answer : {kEsc, kEnter}) {
    push({kCtrlDot, 'q', kCtrlDot, answer});
    EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'q'}));
    EXPECT_FALSE(macro_recording());
  }
  EXPECT_EQ(read_text(file), "0x3d00:\t0x0061, \n");
  push({kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'a'}));
}

TEST_F(MacroTest, RebindingReplacesEveryOldMacroOfThatKey) {
  write_text(file, "0x3d00:\t0x0061, \n0x3c00:\t0x0063, \n0x3d00:\t0x0062, \n");
  EXPECT_EQ(macros_load(), 3);
  push({kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'a'}));  // the first one plays
  push({kCtrlDot, 'n', kCtrlDot, kF3, kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'n', 'n'}));
  EXPECT_EQ(read_text(file), "0x3c00:\t0x0063, \n0x3d00:\t0x006e, \n");
}

TEST_F(MacroTest, AnEmptyRecordingUnbindsTheKey) {
  write_text(file, "0x3d00:\t0x0061, \n");
  macros_load();
  push({kCtrlDot, kCtrlDot, kF3, kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{kF3}));
  EXPECT_EQ(read_text(file), "");
}

TEST_F(MacroTest, AMacroOnF1PlaysInsteadOfTheHelp) {
  int helps = 0;
  g_key_hooks.show_help = [&](int) { ++helps; };
  push({kF1, 'k'});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'k'}));
  EXPECT_EQ(helps, 1);
  push({kCtrlDot, 'h', kCtrlDot, kF1, kF1});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'h', 'h'}));
  EXPECT_EQ(helps, 1);
}

TEST_F(MacroTest, PlayedKeysAreNotRecordedNorTriggerOtherMacros) {
  write_text(file, "0x3d00:\t0x3c00, 0x0061, \n0x3c00:\t0x0062, \n");
  macros_load();
  push({kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{0x3C00, 'a'}));
}

TEST_F(MacroTest, MacroKeysDuringRecordingAreRecordedNotPlayed) {
  write_text(file, "0x3d00:\t0x0061, \n");
  macros_load();
  push({kCtrlDot, kF3, 'c', kCtrlDot, 0x3E00, 0x3E00});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{kF3, 'c', kF3, 'c'}));
}

TEST_F(MacroTest, RecordingStopsWithThePromptAt65535Keys) {
  push({kCtrlDot});
  backend->push_key('m');
  get_key(0, nullptr);
  for (int i = 1; i < kMacroMaxKeys - 1; ++i) macro_record_key('m');
  EXPECT_EQ(macro_recorded_count(), kMacroMaxKeys - 1);
  push({'l', kF3});
  EXPECT_EQ(get_key(0, nullptr), 'l');
  EXPECT_FALSE(macro_recording());
  macros_free();
  EXPECT_EQ(macros_load(), 1);
  ASSERT_EQ(g_macros.size(), 1u);
  EXPECT_EQ(g_macros[0].keys.size(), size_t(kMacroMaxKeys));
  EXPECT_EQ(g_macros[0].keys.back(), 'l');
}

TEST_F(MacroTest, AFileThatCannotBeWrittenIsLeftAsItWas) {
  std::string blocked = dir.file("blocked");
  ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);  // a folder where the file should be
  macros_install(blocked);
  push({kCtrlDot, 'a', kCtrlDot, kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'a'}));
  EXPECT_EQ(macros_save(), 0);
  push({kF3});
  EXPECT_EQ(keys_until_script_ends(), (std::vector<int>{'a'}));  // bound in memory all the same
}

}  // namespace
}  // namespace kora
