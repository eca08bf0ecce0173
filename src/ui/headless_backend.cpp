#include <memory>

#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {

namespace {
std::unique_ptr<HeadlessBackend> g_headless;
}

void HeadlessBackend::push_unit(int unit, long long at_ms) { script_.push_back({unit, at_ms}); }

void HeadlessBackend::push_resize(int rows, int cols, long long at_ms) { script_.push_back({-1, at_ms, rows, cols}); }

void HeadlessBackend::push_key(int key_code, long long at_ms) {
  push_unit(final_key_token(key_code), at_ms);
}

void HeadlessBackend::push_bytes(std::string_view bytes, long long at_ms) {
  for (char c : bytes) push_unit(static_cast<unsigned char>(c), at_ms);
}

int HeadlessBackend::poll_input(std::vector<int>& units) {
  clock_ms_ += kPollMs;
  if (next_ < script_.size() && script_[next_].at_ms > clock_ms_) return 0;
  return wait_input(0, units);
}

int HeadlessBackend::wait_input(int timeout_ms, std::vector<int>& units) {
  ++waits_;
  if (on_wait) on_wait();
  if (timeout_ms < 0) timeout_ms = 0;
  if (next_ >= script_.size()) {
    clock_ms_ += timeout_ms;
    return -1;
  }
  if (script_[next_].at_ms > clock_ms_) {
    if (script_[next_].at_ms > clock_ms_ + timeout_ms) {
      clock_ms_ += timeout_ms;
      return 0;
    }
    clock_ms_ = script_[next_].at_ms;
  }
  int count = 0;
  while (next_ < script_.size() && script_[next_].at_ms <= clock_ms_) {
    const Item& item = script_[next_];
    if (item.rows > 0) {
      // The keys before a resize are read first, as from a terminal.
      if (count > 0) break;
      ++next_;
      screen_resized(item.rows, item.cols);
      return 0;
    }
    units.push_back(item.unit);
    ++next_;
    ++count;
  }
  return count;
}

HeadlessBackend* headless_backend() { return g_headless.get(); }

int screen_open_headless(int rows, int cols) {
  g_headless = std::make_unique<HeadlessBackend>();
  g_screen.rows = 0;
  g_screen.cols = 0;
  g_screen.cells.clear();
  screen_set_size(rows, cols);
  g_screen.right_margin = 0;
  g_screen.unicode = true;
  g_screen.cursor_x = 0;
  g_screen.cursor_y = 0;
  g_screen.cursor_visibility = 1;
  g_screen.backend = g_headless.get();
  g_screen.open = true;
  key_input_reset(true);
  return 1;
}

std::string screen_row_text(int y) {
  std::string text;
  for (int x = 0; x < g_screen.cols; ++x) {
    const Cell* cell = screen_cell(x, y);
    if (cell) text.push_back(static_cast<char>(cell_byte(*cell)));
  }
  return text;
}

std::string screen_row_utf8(int y) {
  std::string text;
  for (int x = 0; x < g_screen.cols; ++x) {
    const Cell* cell = screen_cell(x, y);
    if (!cell || cell->ch == kWideTail) continue;
    char bytes[8];
    text.append(bytes, size_t(utf8_encode(static_cast<std::uint32_t>(cell->ch), bytes)));
    if (cell->mark) text.append(bytes, size_t(utf8_encode(static_cast<std::uint32_t>(cell->mark), bytes)));
  }
  return text;
}

int screen_attr_at(int x, int y) {
  const Cell* cell = screen_cell(x, y);
  return cell ? cell->attr : -1;
}

}  // namespace kora
