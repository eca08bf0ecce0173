// Runs the whole program in the test process on the headless screen: the
// command line, the keys to press, and afterwards the screen as it was left.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "table/dbf_file.h"
#include "ui/backend.h"
#include "ui/screen.h"

namespace kora::test {

struct ScreenScript {
  int rows = 25;
  int cols = 80;
  int shift_state = 0;
  std::vector<int> keys;
};

// The program's own file for the next run: its side files (settings, recent
// list, favourites) lie beside it. By default a folder that does not exist,
// so that a run reads and writes none.
inline std::string& program_file() {
  static std::string path = "/nonexistent-kora-test/kora";
  return path;
}

inline ScreenScript& screen_script() {
  static ScreenScript script;
  return script;
}

// In a list of keys: the terminal changes size to rows x cols there.
inline int resize_to(int rows, int cols) { return -(rows * 1000 + cols); }

// Called whenever the program waits for a key, when set: a test looks at
// the screen while a window is up.
inline std::function<void()>& on_screen_wait() {
  static std::function<void()> hook;
  return hook;
}

inline int open_scripted_screen() {
  const ScreenScript& script = screen_script();
  screen_open_headless(script.rows, script.cols);
  headless_backend()->on_wait = on_screen_wait();
  headless_backend()->set_shift_state(script.shift_state);
  for (int key : script.keys) {
    if (key < 0) {
      headless_backend()->push_resize(-key / 1000, -key % 1000);
    } else {
      headless_backend()->push_key(key);
    }
  }
  return 1;
}

// The headless screen stays as the program left it, for the test to read.
inline int keep_screen() { return 1; }

// Runs kora with the arguments; the keys are pressed once the screen is up,
// then the run-out script answers Esc. Returns the exit status.
inline int run_kora(const std::vector<std::string>& args, const std::vector<int>& keys,
                    int rows = 25, int cols = 80, int shift_state = 0) {
  screen_script() = {rows, cols, shift_state, keys};
  g_screen_starter = {open_scripted_screen, keep_screen};
  g_screen.open = false;
  std::vector<std::string> words = {program_file()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return run_program(int(words.size()), argv.data());
}

inline std::string row(int y) { return screen_row_text(y); }
inline unsigned char cell_ch(int x, int y) { return screen_cell(x, y) ? cell_byte(*screen_cell(x, y)) : 0; }
inline int cell_attr(int x, int y) { return screen_attr_at(x, y); }

// Key codes.
constexpr int kEsc = 0x011B, kEnter = 0x1C0D, kTab = 0x0F09, kAltTab = 0x9409;
constexpr int kUp = 0x4800, kDown = 0x5000, kLeft = 0x4B00, kRight = 0x4D00;
constexpr int kHome = 0x4700, kEnd = 0x4F00, kPgUp = 0x4900, kPgDn = 0x5100;
constexpr int kCtrlHome = 0x7700, kCtrlEnd = 0x7500, kCtrlPgDn = 0x7600, kCtrlPgUp = 0x8400;
constexpr int kCtrlUp = 0x8D00, kCtrlDown = 0x9100, kCtrlLeft = 0x7300, kCtrlRight = 0x7400;
constexpr int kCtrlTab = 0x9400, kAlt0 = 0x8100, kShiftTab = 0x0F00;
constexpr int kF2 = 0x3C00, kF10 = 0x4400, kF12 = 0x8600, kShiftF12 = 0x8800, kAltF4 = 0x6B00;
constexpr int kAltA = 0x1E00, kAltF = 0x2100, kAltV = 0x2F00, kAltT = 0x1400, kAltO = 0x1800;

}  // namespace kora::test
