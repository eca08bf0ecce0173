#include "ui/key_parser.h"

#include <algorithm>
#include <string>

#include "ui/backend.h"
#include "ui/codepage.h"

namespace kora {

namespace {

constexpr int kEsc = 0x1B;
constexpr size_t kMaxSequence = 32;

bool is_token(int unit) { return unit >= 256; }

KeyEvent make_event(int base, int mods = 0) {
  KeyEvent event;
  event.base = base;
  event.mods = mods;
  return event;
}

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4.
int mods_from_param(int m) {
  if (m < 2) return 0;
  int bits = m - 1;
  int mods = 0;
  if (bits & 1) mods |= kModShift;
  if (bits & 2) mods |= kModAlt;
  if (bits & 4) mods |= kModCtrl;
  return mods;
}

// A control byte as a key: Tab, Enter, Backspace keep their meaning, the
// others are Ctrl with a letter or punctuation.
KeyEvent event_for_byte(int byte) {
  switch (byte) {
    case 0x08:
    case 0x09:
    case 0x0A:  // Ctrl+J, or the keypad's Enter in numeric keypad mode
    case 0x0D:
    case kEsc:
      return make_event(byte);
    case 0x7F:
      return make_event(kCursesBackspace);
    default:
      break;
  }
  if (byte < 0x20) return make_event(byte, kModCtrl);
  KeyEvent event = make_event(byte);
  if (byte < 0x80) event.code_point = byte;
  return event;
}

// A key given by its Unicode value (kitty and modifyOtherKeys forms).
KeyEvent event_for_code(int code, int mods) {
  switch (code) {
    case 13: return make_event(13, mods);
    case 9: return make_event(9, mods);
    case 27: return make_event(27, mods);
    case 8:
    case 127: return make_event(kCursesBackspace, mods);
    default: break;
  }
  if (code < 0x20) return make_event(code, mods | kModCtrl);
  if (code >= 'a' && code <= 'z' && mods == kModShift) {
    return make_event(code - 'a' + 'A');  // Shift alone just gives the capital
  }
  int byte = code < 0x80 ? code : unicode_to_cp866(static_cast<unsigned>(code));
  KeyEvent event = make_event(byte < 0 ? '?' : byte, mods);
  event.code_point = static_cast<unsigned>(code);
  return event;
}

int tilde_key(int number) {
  switch (number) {
    case 1: case 7: return kCursesHome;
    case 4: case 8: return kCursesEnd;
    case 2: return kCursesIc;
    case 3: return kCursesDc;
    case 5: return kCursesPpage;
    case 6: return kCursesNpage;
    case 11: case 12: case 13: case 14: case 15: return key_f(number - 10);
    case 17: case 18: case 19: case 20: case 21: return key_f(number - 11);
    case 23: case 24: return key_f(number - 12);
    default: return 0;
  }
}

// Final byte of CSI or SS3 -> key; 0 when it is not a key.
int final_key(int final_byte) {
  switch (final_byte) {
    case 'A': return kCursesUp;
    case 'B': return kCursesDown;
    case 'C': return kCursesRight;
    case 'D': return kCursesLeft;
    case 'H': return kCursesHome;
    case 'F': return kCursesEnd;
    case 'P': return key_f(1);
    case 'Q': return key_f(2);
    case 'R': return key_f(3);
    case 'S': return key_f(4);
    case 'M': return 13;  // keypad Enter in application mode
    default: return 0;
  }
}

// The character of a numeric keypad key in application keypad mode
// (SS3 p..y are the digits 0..9); 0 when the final byte is none of them.
int keypad_char(int final_byte) {
  if (final_byte >= 'p' && final_byte <= 'y') return '0' + (final_byte - 'p');
  switch (final_byte) {
    case 'j': return '*';
    case 'k': return '+';
    case 'l': return ',';
    case 'm': return '-';
    case 'n': return '.';
    case 'o': return '/';
    case 'X': return '=';
    default: return 0;
  }
}

}  // namespace

KeyEvent event_for_unit(int unit, bool utf8) {
  if (unit & kTokenFinal) {
    KeyEvent event;
    event.final_code = unit & 0xFFFF;
    return event;
  }
  if (unit & kTokenKey) return make_event(unit & 0xFFFF, (unit >> 16) & 0xFF);
  if (unit >= 0x80 && !utf8) return make_event(unit);
  return event_for_byte(unit);
}

int KeyParser::next(long long now_ms, KeyEvent& out) {
  for (;;) {
    if (units_.empty()) {
      waiting_ = false;
      return -1;
    }
    bool final = waiting_ && now_ms - waiting_since_ >= kEscDelayMs;
    size_t used = 0;
    Result result = decode(used, out, final);
    if (result == kIncomplete) {
      if (!waiting_) {
        waiting_ = true;
        waiting_since_ = now_ms;
      }
      return 0;
    }
    units_.erase(units_.begin(), units_.begin() + static_cast<long>(used));
    waiting_ = false;
    if (result == kDone) return 1;
  }
}

int KeyParser::wait_ms(long long now_ms) const {
  if (!waiting_) return -1;
  long long left = waiting_since_ + kEscDelayMs - now_ms;
  return static_cast<int>(std::clamp<long long>(left, 0, kEscDelayMs));
}

KeyParser::Result KeyParser::decode(size_t& used, KeyEvent& out, bool final) const {
  int unit = units_[0];
  if (unit == kEsc) return decode_escape(used, out, final);
  if (!is_token(unit) && unit >= 0x80 && utf8_) {
    Result result = decode_utf8(used, out);
    if (result == kIncomplete && final) {
      used = 1;
      out = make_event('?');
      return kDone;
    }
    return result;
  }
  used = 1;
  out = event_for_unit(unit, utf8_);
  return kDone;
}

KeyParser::Result KeyParser::decode_escape(size_t& used, KeyEvent& out, bool final) const {
  if (units_.size() < 2) {
    if (!final) return kIncomplete;
    used = 1;
    out = make_event(kEsc);
    return kDone;
  }
  int second = units_[1];
  if (second == '[' || second == 'O') {
    Result result = decode_csi(0, used, out);
    if (result != kIncomplete) return result;
    if (!final) return kIncomplete;
    used = 2;  // an unfinished sequence: take it as Alt with the letter
    out = make_event(second, kModAlt);
    return kDone;
  }
  if (second == kEsc) {
    // ESC ESC [ ... is Alt with a special key; otherwise two Esc presses.
    if (units_.size() >= 3 && (units_[2] == '[' || units_[2] == 'O')) {
      Result result = decode_csi(1, used, out);
      if (result == kDone) {
        out.mods |= kModAlt;
        return kDone;
      }
      if (result == kIncomplete && !final) return kIncomplete;
    } else if (units_.size() >= 3 && (units_[2] & kTokenKey)) {
      used = 3;
      out = event_for_unit(units_[2], utf8_);
      out.mods |= kModAlt;
      return kDone;
    } else if (units_.size() < 3 && !final) {
      return kIncomplete;
    }
    used = 1;
    out = make_event(kEsc);
    return kDone;
  }
  if (second & kTokenFinal) {
    used = 1;
    out = make_event(kEsc);
    return kDone;
  }
  if (!is_token(second) && second >= 0x80 && utf8_) {
    KeyParser rest(true);
    rest.units_.assign(units_.begin() + 1, units_.end());
    Result result = rest.decode_utf8(used, out);
    if (result == kIncomplete && !final) return kIncomplete;
    if (result != kDone) {
      used = 1;
      out = make_event(kEsc);
      return kDone;
    }
    used += 1;
    out.mods |= kModAlt;
    return kDone;
  }
  used = 2;
  out = event_for_unit(second, utf8_);
  out.mods |= kModAlt;
  return kDone;
}

// Decodes ESC [ ... or ESC O ... where units_[start] is the ESC.
KeyParser::Result KeyParser::decode_csi(size_t start, size_t& used, KeyEvent& out) const {
  size_t pos = start + 1;
  bool ss3 = units_[pos] == 'O';
  ++pos;
  if (pos >= units_.size()) return kIncomplete;
  if (!ss3 && units_[pos] == '[') {  // Linux console F1..F5: ESC [ [ A..E
    if (pos + 1 >= units_.size()) return kIncomplete;
    int letter = units_[pos + 1];
    used = pos + 2;
    if (letter < 'A' || letter > 'E') return kIgnored;
    out = make_event(key_f(letter - 'A' + 1));
    return kDone;
  }
  std::string params;
  int private_mark = 0;
  for (;; ++pos) {
    if (pos >= units_.size()) return kIncomplete;
    if (pos - start > kMaxSequence) {
      used = pos;
      return kIgnored;
    }
    int unit = units_[pos];
    if (is_token(unit)) {
      used = pos;
      return kIgnored;
    }
    if (unit >= 0x40 && unit <= 0x7E) break;
    if (unit == '<' || unit == '=' || unit == '>' || unit == '?') {
      private_mark = unit;
    } else if (unit < 0x20 || unit > 0x3F) {
      if (unit >= 0x20 && unit <= 0x2F) continue;  // intermediate bytes
      used = pos;
      return kIgnored;
    } else {
      params.push_back(static_cast<char>(unit));
    }
  }
  int final_byte = units_[pos];
  used = pos + 1;
  if (private_mark) return kIgnored;  // replies, mouse reports

  int values[4] = {0, 0, 0, 0};
  int count = 0;
  bool in_sub = false;
  for (char c : params) {
    if (c == ';') {
      if (count < 3) ++count;
      in_sub = false;
    } else if (c == ':') {
      in_sub = true;  // kitty sub-parameters (alternate keys): not needed
    } else if (c >= '0' && c <= '9' && !in_sub) {
      values[count] = std::min(values[count] * 10 + (c - '0'), 1 << 21);
    }
  }
  int mods = mods_from_param(values[1]);
  if (ss3) {
    int key = final_key(final_byte);
    if (!key && keypad_char(final_byte)) {
      out = event_for_byte(keypad_char(final_byte));
      return kDone;
    }
    if (!key && final_byte == 'E') return kIgnored;  // keypad 5 without NumLock
    if (!key) {  // not a key sequence: Alt+O, and the rest stays
      used = start + 2;
      out = make_event('O', kModAlt);
      return kDone;
    }
    out = make_event(key, mods_from_param(values[1] ? values[1] : values[0]));
    return kDone;
  }
  int key = 0;
  if (final_byte == '~') {
    if (values[0] == 27) {  // modifyOtherKeys: CSI 27 ; m ; code ~
      out = event_for_code(values[2], mods_from_param(values[1]));
      return kDone;
    }
    key = tilde_key(values[0]);
  } else if (final_byte == 'u') {  // kitty: CSI code ; m u
    if (values[0] == 0 || values[0] >= 57344) return kIgnored;
    out = event_for_code(values[0], mods);
    return kDone;
  } else if (final_byte == 'Z') {
    out = make_event(kCursesBtab, mods | kModShift);
    return kDone;
  } else if (final_byte != 'M') {
    key = final_key(final_byte);
  }
  if (!key) return kIgnored;
  out = make_event(key, mods);
  return kDone;
}

KeyParser::Result KeyParser::decode_utf8(size_t& used, KeyEvent& out) const {
  int lead = units_[0];
  int length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF8) length = 0;
  if (length == 0) {
    used = 1;
    out = make_event('?');
    return kDone;
  }
  unsigned code_point = static_cast<unsigned>(lead) & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= units_.size()) return kIncomplete;
    int unit = units_[i];
    if (is_token(unit) || (unit & 0xC0) != 0x80) {
      used = static_cast<size_t>(i);
      out = make_event('?');
      return kDone;
    }
    code_point = (code_point << 6) | (unit & 0x3F);
  }
  used = static_cast<size_t>(length);
  int byte = unicode_to_cp866(code_point);
  out = make_event(byte < 0 ? '?' : byte);
  out.code_point = code_point;
  return kDone;
}

}  // namespace kora
