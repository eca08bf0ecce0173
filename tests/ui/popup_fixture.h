// Shared by the pop-up tests: a headless 80x25 screen with a patterned
// background, and a key script that records the screen before every key.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora::test {

constexpr int kEnter = 0x1C0D;
constexpr int kEsc = 0x011B;
constexpr int kF10 = 0x4400;
constexpr int kUp = 0x4800;
constexpr int kDown = 0x5000;
constexpr int kLeft = 0x4B00;
constexpr int kRight = 0x4D00;
constexpr int kHome = 0x4700;
constexpr int kEnd = 0x4F00;
constexpr int kPgUp = 0x4900;
constexpr int kPgDn = 0x5100;
constexpr int kTab = 0x0F09;

class PopupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_open_headless(25, 80);
    g_colors = default_colors();
    g_frames = default_frames();
    for (int y = 0; y < 25; ++y) {
      for (int x = 0; x < 80; ++x) put_char(x, y, 'a' + (x * 7 + y) % 26, 0x17);
    }
    goto_xy(5, 7);
    g_key_hooks = KeyHooks{};
    // Every key the pop-up asks for comes from the script; the screen as it
    // was at that moment is kept, and the help topic of the wait too.
    g_key_hooks.play_next = [this]() {
      if (keys_.empty()) return -1;
      seen_.push_back(g_screen.cells);
      int key = keys_.front();
      keys_.pop_front();
      return key;
    };
    before_ = g_screen.cells;
  }
  void TearDown() override { g_key_hooks = KeyHooks{}; }

  void press(std::initializer_list<int> keys) { keys_.insert(keys_.end(), keys); }
  int keys_left() const { return static_cast<int>(keys_.size()); }

  // Text and attribute of the screen seen before key number `wait`.
  std::string seen_text(size_t wait, int x, int y, int n) const {
    std::string text;
    for (int i = 0; i < n; ++i) text.push_back(static_cast<char>(cell_byte(seen_[wait][y * 80 + x + i])));
    return text;
  }
  // A whole row seen before key number `wait`, as UTF-8 characters.
  std::string seen_row_utf8(size_t wait, int y) const {
    std::vector<Cell> now = g_screen.cells;
    g_screen.cells = seen_[wait];
    std::string row = screen_row_utf8(y);
    g_screen.cells = now;
    return row;
  }
  int seen_attr(size_t wait, int x, int y) const { return seen_[wait][y * 80 + x].attr; }
  const Cell& seen_cell(size_t wait, int x, int y) const { return seen_[wait][y * 80 + x]; }

  // Now, after the pop-up has closed.
  static std::string text_at(int x, int y, int n) { return screen_row_text(y).substr(x, n); }

  std::deque<int> keys_;
  std::vector<std::vector<Cell>> seen_;
  std::vector<Cell> before_;
};

}  // namespace kora::test
