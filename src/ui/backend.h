// The narrow boundary between the toolkit and a terminal: one source of input
// units and one cell buffer (the grid in g_screen) to show. The curses
// backend talks to a real terminal; the headless backend serves tests, which
// script input and read cells back.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// Input units passed from a backend to the key parser (key_parser.h):
// 0..255 are raw bytes from the terminal; larger values are tokens made with
// key_token() (a key already decoded, e.g. by curses) or final_key_token()
// (a finished KeyCode, used by tests and macros).
constexpr int kTokenKey = 1 << 28;
constexpr int kTokenFinal = 1 << 29;
inline int key_token(int base, int mods) { return kTokenKey | (mods << 16) | base; }
inline int final_key_token(int key_code) { return kTokenFinal | (key_code & 0xFFFF); }

class Backend {
 public:
  virtual ~Backend() = default;
  // Waits at most timeout_ms for input and appends what arrived to units.
  // Returns the number of units appended, 0 on timeout, -1 when no input
  // can ever come (a headless script that has run out, a terminal that
  // hung up); get_key then answers Esc so that modal loops unwind.
  virtual int wait_input(int timeout_ms, std::vector<int>& units) = 0;
  // Takes what has arrived without waiting (a long walk looking for Esc).
  virtual int poll_input(std::vector<int>& units) { return wait_input(0, units); }
  // Milliseconds of a monotonic clock (fake in the headless backend).
  virtual long long now_ms() = 0;
  // True when the escape delay has already passed for a trailing ESC in
  // the last units delivered (curses waits for it itself).
  virtual bool escape_delay_spent() { return false; }
  // Shows the cells of g_screen that changed since the last call.
  virtual void present() = 0;
  // Linux console modifier state (1 Shift, 4 Ctrl, 8 Alt), 0 if unknown.
  virtual int shift_state() { return 0; }
  // Tells the user a key was refused: the terminal's bell.
  virtual void bell() {}
};

// The headless backend: a grid without a terminal and a scripted input.
class HeadlessBackend : public Backend {
 public:
  // Input is delivered in order; each item becomes available at its time
  // on the fake clock (given in ms; default: at once).
  void push_key(int key_code, long long at_ms = -1);
  void push_bytes(std::string_view bytes, long long at_ms = -1);
  void push_unit(int unit, long long at_ms = -1);
  // The terminal changes size to rows x cols at that point of the script,
  // as a real one reports it: the grid takes the new size and the screen's
  // resize hook runs.
  void push_resize(int rows, int cols, long long at_ms = -1);
  bool script_empty() const { return next_ >= script_.size(); }
  // Number of times the program waited (and so called the idle hook).
  int waits() const { return waits_; }
  int presents() const { return presents_; }

  int wait_input(int timeout_ms, std::vector<int>& units) override;
  // A poll comes from a walk, which takes time: the fake clock moves on by
  // kPollMs first, so that keys scripted for later arrive during the walk.
  static constexpr int kPollMs = 10;
  int poll_input(std::vector<int>& units) override;
  long long now_ms() override { return clock_ms_; }
  void present() override { ++presents_; }
  int shift_state() override { return shift_; }
  void set_shift_state(int state) { shift_ = state; }
  void bell() override { ++bells_; }
  int bells() const { return bells_; }
  // Called at every wait, so that a test can read the screen as the user
  // would see it between two keys.
  std::function<void()> on_wait;

 private:
  struct Item {
    int unit;
    long long at_ms;
    int rows = 0;  // a resize when not 0
    int cols = 0;
  };
  std::vector<Item> script_;
  size_t next_ = 0;
  long long clock_ms_ = 0;
  int waits_ = 0;
  int presents_ = 0;
  int shift_ = 0;
  int bells_ = 0;
};

// A curses key value as an input token: extended names (kLFT5, kUP3 ...)
// and xterm's function keys 13..60 (Shift, Ctrl, Ctrl+Shift, Alt with
// F1..F12) become a base key with modifiers. name is keyname(c). On the
// Linux console function keys keep their number (Shift+Fn is F(n+10)
// there). Returns -1 for keys the program does not use.
int curses_key_token(int c, const char* name, bool linux_console);

// The headless backend behind the screen, or null when the screen is not
// headless.
HeadlessBackend* headless_backend();

// One row of the grid as text (code page 866 bytes, without attributes).
std::string screen_row_text(int y);
// The same in UTF-8, each character once (a wide one fills two cells).
std::string screen_row_utf8(int y);
// The attribute of one cell, -1 off the screen.
int screen_attr_at(int x, int y);

}  // namespace kora
