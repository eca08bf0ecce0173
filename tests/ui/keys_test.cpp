// The console's translation tables, the BIOS table for reported modifiers,
// and get_key with its hooks on the headless backend.
#include <gtest/gtest.h>

#include <vector>

#include "ui/backend.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {
namespace {

TEST(TranslateKey, ConsoleTablesByShiftState) {
  struct Case {
    int key, state, code;
  };
  const Case cases[] = {
      {key_f(1), 0, 0x3B00},   {key_f(10), 0, 0x4400},  {key_f(11), 0, 0x8500},
      {key_f(12), 0, 0x8600},  {kCursesUp, 0, 0x4800},     {kCursesPpage, 0, 0x4900},
      {kCursesNpage, 0, 0x5100},  {13, 0, 0x1C0D},         {27, 0, 0x011B},
      {9, 0, 0x0F09},          {'a', 0, 'a'},           {kCursesBackspace, 0, 0x0107},
      {9, 1, 0x0F00},          {key_f(11), 1, 0x5400},  {key_f(20), 1, 0x5D00},
      {key_f(1), 1, key_f(1)}, {key_f(1), 4, 0x5E00},   {key_f(10), 4, 0x6700},
      {'.', 4, 0xBE00},        {kCursesLeft, 4, 0x7300},   {kCursesEnd, 4, 0x7500},
      {13, 4, 0x1C0A},         {8, 4, 0x0E7F},          {3, 4, 0x2E03},
      {kCursesSuspend, 4, 0x2C1A}, {kCursesBackspace, 4, 0x2B1C}, {25, 4, 0x1519},
      {'1', 8, 0x7800},        {'0', 8, 0x8100},        {'f', 8, 0x2100},
      {'y', 8, 0x1500},        {'z', 8, 'z'},           {128, 8, 0x2C00},
      {9, 8, 0x9409},          {27, 8, 27},             {kCursesUp, 8, 0x9800},
      {kCursesDc, 8, 0xA300},     {'`', 8, 0x2800},
      {kCursesUp, 5, kCursesUp},     {kCursesUp, 2, kCursesUp},     // other states: unchanged
  };
  for (const Case& c : cases) {
    EXPECT_EQ(translate_key(c.key, c.state), c.code)
        << std::oct << c.key << " state " << std::dec << c.state;
  }
}

TEST(TranslateKey, ConsoleEventsKeepTheConsoleMeaning) {
  // On the console Shift+F1 is F11 with the Shift bit, Ctrl+Enter is 0x1C0A.
  KeyEvent f11;
  f11.base = key_f(11);
  EXPECT_EQ(key_code_for(f11, kModShift), 0x5400);
  // Shift+Up arrives as Up with the Shift bit: the editors select with it.
  KeyEvent up;
  up.base = kCursesUp;
  EXPECT_EQ(key_code_for(up, kModShift), 0xB000);
  EXPECT_EQ(key_code_for(up, 0), 0x4800);
  KeyEvent enter;
  enter.base = 13;
  EXPECT_EQ(key_code_for(enter, kModCtrl), 0x1C0A);
  // Alt+F sent as ESC f on the console with Alt held: one key, Alt+F.
  KeyEvent alt_f;
  alt_f.base = 'f';
  alt_f.mods = kModAlt;
  EXPECT_EQ(key_code_for(alt_f, kModAlt), 0x2100);
}

TEST(TranslateKey, LineFeedWithoutCtrlIsTheKeypadEnter) {
  // Terminals in numeric keypad mode (tmux) send the keypad's Enter as LF.
  KeyEvent line_feed;
  line_feed.base = '\n';
  EXPECT_EQ(key_code_for(line_feed, 0), 0x1C0D);
  // The console's Ctrl+J stays Ctrl+J.
  EXPECT_EQ(key_code_for(line_feed, kModCtrl), 0x240A);
}

TEST(BiosKey, AltWinsOverCtrlOverShift) {
  EXPECT_EQ(bios_key('f', kModAlt | kModCtrl), 0x2100);
  EXPECT_EQ(bios_key(kCursesLeft, kModCtrl | kModShift), 0x7300);
  EXPECT_EQ(bios_key(key_f(1), kModShift), 0x5400);
  EXPECT_EQ(bios_key(key_f(9), kModCtrl), 0x6600);
  EXPECT_EQ(bios_key(key_f(3), kModAlt), 0x6A00);
  EXPECT_EQ(bios_key(key_f(12), kModAlt | kModShift), 0x8C00);
  EXPECT_EQ(bios_key('Q', kModCtrl), 0x1011);
  EXPECT_EQ(bios_key('x', kModShift), 'x');
}

TEST(BiosKey, ShiftTabWithCtrlOrAltIsATabKeyNotItsCursesValue) {
  // CSI 1;5 Z and Alt with curses' KEY_BTAB: the raw value 0x0161 would be
  // taken for the letter "a" by every editor.
  EXPECT_EQ(bios_key(kCursesBtab, kModShift), 0x0F00);
  EXPECT_EQ(bios_key(kCursesBtab, kModShift | kModCtrl), 0x9400);
  EXPECT_EQ(bios_key(kCursesBtab, kModShift | kModAlt), 0xA500);
}

TEST(CursesKeys, ExtendedNamesAndHighFunctionKeys) {
  auto code = [](int c, const char* name, bool console = false) {
    KeyEvent event;
    int token = curses_key_token(c, name, console);
    if (token < 0) return -1;
    event.base = token & 0xFFFF;
    event.mods = (token >> 16) & 0xFF;
    return key_code_for(event, 0);
  };
  EXPECT_EQ(code(0x1000, "kLFT5"), 0x7300);
  EXPECT_EQ(code(0x1000, "kRIT5"), 0x7400);
  EXPECT_EQ(code(0x1000, "kUP3"), 0x9800);
  EXPECT_EQ(code(0x1000, "kDC5"), 0x9300);
  EXPECT_EQ(code(0x1000, "kHOM6"), 0x7700);
  EXPECT_EQ(code(0x1000, "kNXT5"), 0x7600);
  EXPECT_EQ(code(0x1000, "kEND5"), 0x7500);
  EXPECT_EQ(code(0x1000, "kxIN"), -1);
  EXPECT_EQ(code(key_f(13), "KEY_F(13)"), 0x5400);
  EXPECT_EQ(code(key_f(21), "KEY_F(21)"), 0x5C00);
  EXPECT_EQ(code(key_f(29), "KEY_F(29)"), 0x6200);
  EXPECT_EQ(code(key_f(51), "KEY_F(51)"), 0x6A00);
  EXPECT_EQ(code(key_f(11), "KEY_F(11)"), 0x8500);
  EXPECT_EQ(code(0541, "KEY_BTAB"), 0x0F00);
  EXPECT_EQ(code(0520, "KEY_SF"), 0xB100);  // Shift+Down, which selects in the text editor
  // on the console F13 stays F13 (the console table handles Shift itself)
  EXPECT_EQ(code(key_f(13), "KEY_F(13)", true), key_f(13));
}

TEST(CursesKeys, KeypadKeysNeverTypeStrayCharacters) {
  // KEY_BEG (xterm's keypad 5), KEY_B2 (the console's), KEY_A1 and KEY_C3
  // have values whose low byte reads as "b", "^", "\\" and "`": dropped.
  EXPECT_EQ(curses_key_token(0542, "KEY_BEG", false), -1);
  EXPECT_EQ(curses_key_token(0536, "KEY_B2", true), -1);
  EXPECT_EQ(curses_key_token(0534, "KEY_A1", false), -1);
  EXPECT_EQ(curses_key_token(0540, "KEY_C3", false), -1);
  // keypad operators curses knows by extended names type their characters
  EXPECT_EQ(curses_key_token(0x1001, "kpADD", false), '+');
  EXPECT_EQ(curses_key_token(0x1002, "kpSUB", false), '-');
  EXPECT_EQ(curses_key_token(0x1003, "kpDOT", false), '.');
  // the keys the tables use still arrive
  EXPECT_EQ(curses_key_token(kCursesSuspend, "KEY_SUSPEND", true), key_token(kCursesSuspend, 0));
  EXPECT_EQ(curses_key_token(kCursesBackspace, "KEY_BACKSPACE", false),
            key_token(kCursesBackspace, 0));
}

// ---- get_key ------------------------------------------------------------------------

std::vector<int> g_idle_calls;
void record_idle(int topic, int, int, int) { g_idle_calls.push_back(topic); }

class GetKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    g_key_hooks = KeyHooks{};
    g_idle_calls.clear();
    backend = headless_backend();
  }
  void TearDown() override { g_key_hooks = KeyHooks{}; }
  HeadlessBackend* backend = nullptr;
};

TEST_F(GetKeyTest, ScriptedKeysAndBytes) {
  backend->push_key(0x2100);
  backend->push_bytes("\x1b[1;5D" "q");
  EXPECT_EQ(get_key(0, nullptr), 0x2100);
  EXPECT_EQ(get_key(0, nullptr), 0x7300);
  EXPECT_EQ(get_key(0, nullptr), 'q');
  // an exhausted script answers Esc so that modal loops end
  EXPECT_EQ(get_key(0, nullptr), 0x011B);
  EXPECT_TRUE(input_closed());
  // a new screen starts with its input open
  screen_open_headless(25, 80);
  EXPECT_FALSE(input_closed());
}

// Shift with the cursor keys, Ins and Del keeps its own code only for a
// screen that selects; every other screen gets the plain key.
TEST_F(GetKeyTest, ShiftedCursorKeysArePlainButForTheSelectingEditor) {
  backend->push_bytes("\x1b[1;2B" "\x1b[3;2~" "\x1b[1;2H" "\x1b[2;2~" "\x1b[1;2D");
  EXPECT_EQ(get_key(0, nullptr), 0x5000);
  EXPECT_EQ(get_key(0, nullptr), 0x5300);
  EXPECT_EQ(get_select_key(0, nullptr), 0xB400);
  EXPECT_EQ(get_select_key(0, nullptr), 0xB800);
  EXPECT_EQ(get_select_key(0, nullptr), 0xB200);
}

TEST_F(GetKeyTest, LoneEscWaitsTheDelayAndAltNeedsNone) {
  backend->push_bytes("\x1b", 1000);
  backend->push_bytes("x", 1500);
  backend->push_bytes("\x1b", 2000);
  backend->push_bytes("x", 2050);
  EXPECT_EQ(get_key(0, nullptr), 0x011B);
  EXPECT_GE(backend->now_ms(), 1100);
  EXPECT_LT(backend->now_ms(), 1500);
  EXPECT_EQ(get_key(0, nullptr), 'x');
  EXPECT_EQ(get_key(0, nullptr), 0x2D00);
  EXPECT_EQ(backend->now_ms(), 2050);
}

TEST_F(GetKeyTest, IdleHookRunsSeveralTimesASecondWithTheTopic) {
  backend->push_key('a', 3000);
  EXPECT_EQ(get_key(42, record_idle), 'a');
  EXPECT_GE(g_idle_calls.size(), 12u);  // 3 s at 200 ms or less per wait
  EXPECT_LE(g_idle_calls.size(), 20u);
  EXPECT_EQ(g_idle_calls.front(), 42);
  EXPECT_EQ(g_idle_shift_seen, -1);
}

TEST_F(GetKeyTest, HelpAndMacroKeysAreHandledInside) {
  std::vector<int> helped, recorded;
  bool recording = false;
  g_key_hooks.show_help = [&](int topic) { helped.push_back(topic); };
  g_key_hooks.toggle_record = [&] { recording = !recording; };
  g_key_hooks.recording = [&] { return recording; };
  g_key_hooks.record = [&](int key) { recorded.push_back(key); };
  backend->push_key(0x3B00);
  backend->push_key(0xBE00);
  backend->push_key('a');
  backend->push_key(0x3B00);
  backend->push_bytes("\x1b[46;5u");  // Ctrl+. from the terminal
  backend->push_key('b');
  EXPECT_EQ(get_key(7, nullptr), 'a');
  EXPECT_EQ(get_key(8, nullptr), 'b');
  EXPECT_EQ(helped, (std::vector<int>{7, 8}));
  EXPECT_EQ(recorded, (std::vector<int>{'a', 0x3B00}));
  EXPECT_FALSE(recording);
}

TEST_F(GetKeyTest, MacroHotKeyPlaysItsKeysUnchanged) {
  std::vector<int> macro = {0x3B00, 'x'};
  size_t played = macro.size();
  g_key_hooks.play_next = [&] { return played < macro.size() ? macro[played++] : -1; };
  g_key_hooks.start_macro = [&](int key) {
    if (key != 0x2D00) return false;
    played = 0;
    return true;
  };
  int helps = 0;
  g_key_hooks.show_help = [&](int) { ++helps; };
  backend->push_bytes("\x1bx");
  EXPECT_EQ(get_key(0, nullptr), 0x3B00);  // played keys bypass F1
  EXPECT_EQ(get_key(0, nullptr), 'x');
  EXPECT_EQ(helps, 0);
}

}  // namespace
}  // namespace kora
