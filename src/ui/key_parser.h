// Decoding of terminal input: a pure parser over a stream of input units
// (bytes, or keys already decoded by curses) with push-back. Time is given
// by the caller, so it has no clock of its own: an ESC, or an unfinished
// sequence, is decided after kEscDelayMs without more input.
#pragma once

#include <deque>

#include "ui/keys.h"

namespace kora {

class KeyParser {
 public:
  // utf8: bytes >= 0x80 are UTF-8 (typed letters become code page 866
  // bytes); otherwise they pass through as they are.
  explicit KeyParser(bool utf8 = true) : utf8_(utf8) {}

  // Appends one unit: a byte 0..255 or a token of backend.h.
  void push(int unit) { units_.push_back(unit); }

  // Takes the next event if one is complete at time now_ms.
  // Returns 1 with out set; 0 when an unfinished sequence waits for more
  // input (see wait_ms); -1 when nothing is pending.
  int next(long long now_ms, KeyEvent& out);

  // Milliseconds until the pending sequence is decided, -1 if none.
  int wait_ms(long long now_ms) const;

  bool pending() const { return !units_.empty(); }

  // Decides a pending sequence at once, as if the escape delay had passed
  // (curses has already waited for it).
  void expire_pending() {
    waiting_ = true;
    waiting_since_ = -(1LL << 40);
  }

 private:
  enum Result { kDone, kIncomplete, kIgnored };
  Result decode(size_t& used, KeyEvent& out, bool final) const;
  Result decode_escape(size_t& used, KeyEvent& out, bool final) const;
  Result decode_csi(size_t start, size_t& used, KeyEvent& out) const;
  Result decode_utf8(size_t& used, KeyEvent& out) const;

  std::deque<int> units_;
  bool waiting_ = false;
  long long waiting_since_ = 0;
  bool utf8_;
};

// One unit decoded on its own: a plain byte or token (no sequences).
KeyEvent event_for_unit(int unit, bool utf8);

}  // namespace kora
