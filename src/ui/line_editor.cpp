#include "ui/line_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "table/code_page.h"
#include "ui/codepage.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

TextClipboard g_text_clipboard;

namespace {

int text_length(const EditField& field) { return static_cast<int>(std::strlen(field.text)); }

// The furthest index the cursor may take.
int last_position(const EditField& field) { return field.end_ok ? field.size : field.size - 1; }

bool by_characters(const EditField& field) { return field.characters && field.characters->length; }

// The bytes of the character at index at (1 past the end of the text).
int char_length(const EditField& field, int at) {
  int length = text_length(field);
  if (!by_characters(field) || at >= length) return 1;
  size_t bytes = field.characters->length(std::string_view(field.text, size_t(length)), size_t(at));
  return std::clamp(static_cast<int>(bytes), 1, length - at);
}

// The start of the character that holds index at (at itself past the text).
int char_start(const EditField& field, int at) {
  if (!by_characters(field)) return at;
  int start = 0;
  int length = text_length(field);
  while (start < length) {
    int next = start + char_length(field, start);
    if (next > at) return start;
    start = next;
  }
  return at;
}

int previous_char(const EditField& field, int at) { return at > 0 ? char_start(field, at - 1) : 0; }

// The first visible index starts a character, at or before the cursor.
void fit_scroll(EditField& field) {
  if (!by_characters(field)) return;
  int start = char_start(field, field.scroll);
  field.scroll = start < field.scroll ? std::min(start + char_length(field, start), field.pos) : start;
}

// Keeps the cursor inside the visible window after a move.
void follow_cursor(EditField& field) {
  if (field.pos < field.scroll) field.scroll = field.pos;
  if (field.width > 0 && field.pos - field.scroll >= field.width) {
    field.scroll = field.pos - field.width + 1;
  }
  fit_scroll(field);
}

void empty_text(EditField& field) {
  field.flags &= ~kEditPastEnd;
  field.text[0] = 0;
  field.pos = 0;
  field.scroll = 0;
}

void mark_touched(EditField& field) { field.flags |= kEditTouched; }

// Removes the character at index (all its bytes).
void remove_at(EditField& field, int index) {
  int length = text_length(field);
  int bytes = char_length(field, index);
  if (index < length) std::memmove(field.text + index, field.text + index + bytes, length - index - bytes + 1);
}

// End: to the end of the text, then back over trailing blanks; when that is
// where the cursor already stood, the far position itself (End twice).
void move_end(EditField& field) {
  int far = std::min(text_length(field), last_position(field));
  if (far < 0) far = 0;
  far = char_start(field, far);
  int target = far;
  if (field.text[target] == ' ' || field.text[target] == 0) {
    while (target > 0 && field.text[target - 1] == ' ') --target;
  }
  if (target == field.pos) target = far;
  field.pos = target;
  follow_cursor(field);
}

// "." or "," in a numeric field: after the point already there, or the
// text is right-aligned into the integer part and a point added.
void type_decimal_point(EditField& field) {
  const char* point = std::strchr(field.text, '.');
  if (point) {
    field.pos = static_cast<int>(point - field.text) + 1;
    follow_cursor(field);
    return;
  }
  char format[32];
  std::snprintf(format, sizeof format, "%%%ds.", std::max(field.size - field.spare - field.decimals - 1, 0));
  std::string old(field.text);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(field.text, field.size + 1, format, old.c_str());
#pragma GCC diagnostic pop
  field.pos = -1;  // End must not take the old position for its own
  move_end(field);
}

// Whether one more character fits at the cursor: in insert mode a full
// text may only push out a trailing blank; in overwrite mode the cursor must
// stand on a place of the text.
bool room_for_char(const EditField& field) {
  if (field.pos >= field.size || (field.flags & kEditPastEnd)) return false;
  if (field.flags & kEditOverwrite) return true;
  int length = text_length(field);
  return length < field.size || field.text[field.size - 1] == ' ';
}

void insert_char(EditField& field, unsigned char ch) {
  int length = text_length(field);
  if (!(field.flags & kEditOverwrite)) {
    int new_length = std::min(length + 1, field.size);
    std::memmove(field.text + field.pos + 1, field.text + field.pos, new_length - 1 - field.pos);
    field.text[new_length] = 0;
  } else if (field.text[field.pos] == 0) {
    field.text[field.pos + 1] = 0;
  }
  field.text[field.pos] = static_cast<char>(ch);
  field.text[field.size] = 0;
  if (field.end_ok || field.pos + 1 < field.size) {
    ++field.pos;
  } else {
    field.flags |= kEditPastEnd;
  }
  if (field.pos - field.scroll >= field.width) ++field.scroll;
  if (field.pos - field.scroll == screen_cols()) ++field.scroll;
}

// The bytes of one character at the cursor, whole or not at all: in insert
// mode what is pushed past the end must be blanks, in overwrite mode they
// take the place of the character under the cursor. False when they do
// not fit.
bool insert_bytes(EditField& field, std::string_view bytes) {
  if (field.pos >= field.size || (field.flags & kEditPastEnd)) return false;
  std::string text(field.text);
  size_t pos = static_cast<size_t>(field.pos);
  size_t replaced = (field.flags & kEditOverwrite) && pos < text.size() ? size_t(char_length(field, field.pos)) : 0;
  std::string joined = text.substr(0, pos);
  joined.append(bytes);
  joined.append(text, pos + replaced, std::string::npos);
  size_t size = static_cast<size_t>(field.size);
  if (joined.size() > size) {
    if (joined.find_first_not_of(' ', size) != std::string::npos) return false;
    joined.resize(size);
  }
  std::memcpy(field.text, joined.c_str(), joined.size() + 1);
  int after = field.pos + static_cast<int>(bytes.size());
  if (field.end_ok || after < field.size) {
    field.pos = after;
  } else {
    field.flags |= kEditPastEnd;
  }
  follow_cursor(field);
  return true;
}

// Whether a typed character clears the text first, the decimal point of a
// number, or goes in at the cursor.
void type_bytes(EditField& field, std::string_view bytes) {
  if (!(field.flags & kEditTouched)) {
    empty_text(field);
    mark_touched(field);
  }
  if (field.decimals && (bytes == "." || bytes == ",")) {
    field.modified = 1;
    type_decimal_point(field);
  } else if (field.characters ? insert_bytes(field, bytes) : room_for_char(field)) {
    field.modified = 1;
    if (!field.characters) insert_char(field, static_cast<unsigned char>(bytes[0]));
  } else {
    screen_bell();
  }
  field.flags &= ~kEditLiteral;
}

void type_char(EditField& field, unsigned char ch) {
  if (field.allowed && !std::strchr(field.allowed, ch)) return;
  type_bytes(field, std::string(1, static_cast<char>(ch)));
}

void refuse(const EditField& field, char32_t bad) {
  screen_bell();
  if (field.characters && field.characters->refused) field.characters->refused(bad);
}

// A typed character a field of code page 866 bytes cannot hold.
void refuse_unheld(const EditField& field, char32_t bad) {
  screen_bell();
  if (field.characters && field.characters->refused) return field.characters->refused(bad);
  char utf8[8] = {};
  utf8_encode(bad, utf8);
  std::string text = utf8;
  text += " cannot be typed here: kora edits this text in code page 866";
  message_box(text, "Error", "OK", kMessageError | kMessageUtf8, 0);
}

// A typed character in a field of another code page: refused with the
// reason when the page cannot hold it.
void type_character(EditField& field, int key) {
  unsigned char ch = static_cast<unsigned char>(key_char(key));
  if (field.allowed && !std::strchr(field.allowed, ch)) return;
  char utf8[8];
  int count = utf8_encode(typed_character(key), utf8);
  std::string bytes;
  char32_t bad = 0;
  if (!field.characters->from_utf8(std::string_view(utf8, size_t(count)), bytes, &bad)) {
    field.flags &= ~kEditLiteral;
    refuse(field, bad);
    return;
  }
  if (!bytes.empty()) type_bytes(field, bytes);
}

// Bytes of a field of another code page in UTF-8.
std::string bytes_utf8(const EditField& field, std::string_view bytes) {
  std::string utf8;
  for (char32_t c : field.characters->shown_as(bytes)) {
    char out[8];
    utf8.append(out, size_t(utf8_encode(c, out)));
  }
  return utf8;
}

std::string text_utf8(const EditField& field) { return bytes_utf8(field, field.text); }

void copy_to_clipboard(const EditField& field) { edit_copy_bytes(field, field.text); }

// The clipboard as the field's bytes; false (the reason told) when it holds
// a character they cannot stand for.
bool clipboard_for_field(const EditField& field, std::string& clip) {
  char32_t bad = 0;
  if (field.characters && field.characters->from_utf8) {
    if (field.characters->from_utf8(clipboard_utf8(), clip, &bad)) return true;
  } else if (!g_text_clipboard.utf8) {
    clip = ansi_to_oem(g_text_clipboard.text);
    return true;
  } else {
    std::uint32_t not_held = 0;
    if (utf8_to_cp866(g_text_clipboard.text, clip, &not_held) == Utf8To866::kDone) return true;
    bad = not_held;
  }
  refuse_unheld(field, bad);
  return false;
}

// Ctrl+V: the clipboard's first line goes in at the cursor, converted from
// the clipboard's Windows-1251 or UTF-8 into the field's code page 866 or
// the page its characters say.
void paste(EditField& field) {
  std::string clip;
  if (!clipboard_for_field(field, clip)) return;
  if (!(field.flags & kEditTouched)) {
    empty_text(field);
    mark_touched(field);
  }
  size_t line_end = clip.find('\n');
  if (line_end != std::string::npos) clip.resize(line_end);
  std::string text(field.text);
  size_t cut = std::min(static_cast<size_t>(field.pos), text.size());
  std::string joined = text.substr(0, cut) + clip.c_str() + text.substr(cut);
  size_t kept = joined.find_last_not_of(' ') + 1;
  if (kept > static_cast<size_t>(field.size)) {
    screen_bell();
    return;
  }
  joined.resize(std::min(joined.size(), static_cast<size_t>(field.size)));
  std::memcpy(field.text, joined.c_str(), joined.size() + 1);
  field.flags &= ~kEditPastEnd;
  field.modified = 1;
}

int control_char(EditField& field, int ch) {
  switch (ch) {
    case 3:
      copy_to_clipboard(field);
      return 1;
    case 8:
      if (field.flags & kEditPastEnd) {
        field.flags &= ~kEditPastEnd;
        remove_at(field, field.pos);
        field.modified = 1;
      } else if (field.pos > 0) {
        field.pos = previous_char(field, field.pos);
        follow_cursor(field);
        remove_at(field, field.pos);
        field.modified = 1;
      }
      field.flags &= ~kEditLiteral;
      return 1;
    case 11:
      field.flags &= ~kEditPastEnd;
      field.text[field.pos] = 0;
      field.modified = 1;
      field.flags &= ~kEditLiteral;
      return 1;
    case 17:
      field.flags |= kEditLiteral;
      return 1;
    case 22:
      paste(field);
      return 1;
    case 24:
      copy_to_clipboard(field);
      empty_text(field);
      field.modified = 1;
      return 1;
    case 25:
      empty_text(field);
      field.modified = 1;
      return 1;
    default:
      return 0;
  }
}

int move_key(EditField& field, int scan) {
  char* text = field.text;
  switch (scan) {
    case scan_code(kKeyHome):
      field.pos = 0;
      field.scroll = 0;
      return 1;
    case scan_code(kKeyLeft):
      if (field.pos == 0) return 0;
      field.pos = previous_char(field, field.pos);
      break;
    case scan_code(kKeyRight): {
      int next = field.pos + char_length(field, field.pos);
      if (text[field.pos] == 0 || !(field.end_ok || next < field.size)) return 0;
      field.pos = next;
      break;
    }
    case scan_code(kKeyEnd):
      move_end(field);
      return 1;
    case scan_code(kKeyIns):
      field.flags ^= kEditOverwrite;
      return 1;
    case scan_code(kKeyDel):
      if (text[field.pos]) {
        remove_at(field, field.pos);
        field.modified = 1;
      }
      return 1;
    case scan_code(kKeyCtrlLeft):
      while (field.pos > 0 && text[field.pos - 1] == ' ') --field.pos;
      while (field.pos > 0 && text[field.pos - 1] != ' ') --field.pos;
      break;
    case scan_code(kKeyCtrlRight):
      while (text[field.pos] == ' ') ++field.pos;
      while (text[field.pos] && text[field.pos] != ' ') ++field.pos;
      field.pos = char_start(field, std::min(field.pos, std::max(last_position(field), 0)));
      break;
    default:
      return 0;
  }
  follow_cursor(field);
  return 1;
}

// A key the field uses moves the cursor off the place after the last
// character; one it leaves to the caller (Down, say) changes nothing.
int scan_key(EditField& field, int scan) {
  mark_touched(field);
  int past_end = field.flags & kEditPastEnd;
  field.flags &= ~kEditPastEnd;
  int used = move_key(field, scan);
  if (!used) field.flags |= past_end;
  return used;
}

}  // namespace

void edit_alloc(EditField& field) {
  field.buffer = std::make_unique<char[]>(field.size + 1);
  field.text = field.buffer.get();
}

std::unique_ptr<EditField> edit_create(int x, int y, int width, int size, const char* text,
                                       unsigned char colour, const char* allowed) {
  auto field = std::make_unique<EditField>();
  field->x = x;
  field->y = y;
  field->width = width;
  field->size = std::max(size, 0);
  field->text_color = colour;
  field->fill_color = colour;
  field->allowed = allowed;
  edit_alloc(*field);
  edit_set_text(*field, text);
  return field;
}

void edit_free(std::unique_ptr<EditField>& field) { field.reset(); }

void edit_set_text(EditField& field, const char* text) {
  if (!field.text) return;
  size_t length = text ? std::strlen(text) : 0;
  if (length > static_cast<size_t>(field.size) && by_characters(field)) {
    // A text cut to the field's size keeps whole characters only.
    std::string_view whole(text, length);
    size_t kept = 0;
    while (kept < whole.size()) {
      size_t next = kept + std::max<size_t>(field.characters->length(whole, kept), 1);
      if (next > static_cast<size_t>(field.size)) break;
      kept = next;
    }
    length = kept;
  }
  length = std::min(length, static_cast<size_t>(field.size));
  if (length) std::memcpy(field.text, text, length);
  field.text[length] = 0;
  field.pos = 0;
  field.scroll = 0;
  field.flags &= ~kEditPastEnd;
}

void edit_fit_cursor(EditField& field) {
  if (!field.text) return;
  field.pos = char_start(field, std::clamp(field.pos, 0, text_length(field)));
  field.scroll = std::clamp(field.scroll, 0, field.pos);
  fit_scroll(field);
}

void edit_copy_bytes(const EditField& field, std::string_view bytes) {
  if (field.characters && field.characters->shown_as) {
    g_text_clipboard = {bytes_utf8(field, bytes), true};
  } else {
    g_text_clipboard = {oem_to_ansi(bytes), false};
  }
}

bool edit_clipboard_bytes(const EditField& field, std::string& bytes) { return clipboard_for_field(field, bytes); }

std::string clipboard_utf8() {
  if (g_text_clipboard.utf8) return g_text_clipboard.text;
  return remembered_utf8(ansi_to_oem(g_text_clipboard.text));
}

std::shared_ptr<const FieldCharacters> utf8_characters() {
  static const std::shared_ptr<const FieldCharacters> characters = [] {
    auto utf8 = std::make_shared<FieldCharacters>();
    utf8->shown_as = [](std::string_view bytes) { return utf8_to_u32(bytes); };
    utf8->length = [](std::string_view text, size_t at) -> size_t {
      unsigned char lead = static_cast<unsigned char>(text[at]);
      return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    };
    utf8->from_utf8 = [](std::string_view text, std::string& bytes, char32_t* bad) {
      if (!is_utf8(text)) {
        if (bad) *bad = 0xFFFD;
        return false;
      }
      bytes.assign(text);
      return true;
    };
    return utf8;
  }();
  return characters;
}

std::string edit_remembered_text(const EditField& field) {
  if (!field.text) return "";
  if (!field.characters || !field.characters->shown_as) return field.text;
  return remembered_text(text_utf8(field));
}

void edit_set_remembered_text(EditField& field, std::string_view remembered) {
  std::string bytes;
  bool held = true;
  if (field.characters && field.characters->from_utf8) {
    held = field.characters->from_utf8(remembered_utf8(remembered), bytes, nullptr);
  } else if (is_remembered_utf8(remembered)) {
    held = utf8_to_cp866(remembered_utf8(remembered), bytes) == Utf8To866::kDone;
  } else {
    bytes.assign(remembered);
  }
  edit_set_text(field, held ? bytes.c_str() : "");
}

void edit_draw(const EditField& field) {
  put_repeat(field.x, field.y, field.width, field.fill_char, field.fill_color);
  if (!field.text) return;
  int length = static_cast<int>(std::strlen(field.text));
  if (field.scroll >= length) return;
  const char* visible = field.text + field.scroll;
  int count = std::min(length - field.scroll, field.width);
  if (field.flags & kEditPassword) {
    put_repeat(field.x, field.y, count, '*', field.text_color);
  } else if (field.characters && field.characters->shown_as) {
    std::u32string shown = field.characters->shown_as(visible);
    if (field.flags & kEditShowTabs) std::replace(shown.begin(), shown.end(), U'\t', U' ');
    put_unicode(field.x, field.y, shown, field.text_color, field.width);
  } else if (field.flags & kEditShowTabs) {
    for (int i = 0; i < count; ++i) {
      unsigned char ch = static_cast<unsigned char>(visible[i]);
      put_char(field.x + i, field.y, ch == '\t' ? ' ' : ch, field.text_color);
    }
  } else {
    put_text_n(field.x, field.y, visible, field.text_color, field.width);
  }
}

// The cursor's column: one cell a byte, or the cells of the characters the
// bytes before it stand for.
static int cursor_column(const EditField& field) {
  if (!field.characters || !field.characters->shown_as || !field.text) return field.pos - field.scroll;
  int cells = 0;
  std::string_view before(field.text + field.scroll, size_t(field.pos - field.scroll));
  for (char32_t c : field.characters->shown_as(before))
    cells += char_cells(c);
  return cells;
}

void edit_show(const EditField& field) {
  edit_draw(field);
  goto_xy(field.x + cursor_column(field), field.y);
  if (field.flags & kEditLiteral) {
    set_cursor_shape(7);
  } else if (field.flags & kEditOverwrite) {
    set_cursor_shape(0x0307);
  } else {
    set_cursor_shape(0x0607);
  }
}

int edit_key(EditField& field, int key) {
  int used = 0;
  if (key == kKeyCtrlBackspace) key = 8;
  if (key == kKeyCtrlIns) key = 0x2E03;  // copies, as Ctrl+C
  int ch = key_char(key);
  if (field.text) {
    // Callers may set pos; the editor relies on it lying within the text.
    edit_fit_cursor(field);
  }
  if (key == 0 || !field.text) {
    used = 0;
  } else if (ch != 0) {
    if (ch > 31 && field.characters && field.characters->from_utf8) {
      type_character(field, key);
      used = 1;
    } else if (ch == '?' && typed_character(key) != U'?') {
      // A character code page 866 lacks reaches a field of 866 bytes as '?':
      // refused with the reason, never stored as '?'.
      field.flags &= ~kEditLiteral;
      refuse_unheld(field, typed_character(key));
      used = 1;
    } else if (ch > 31 || (field.flags & kEditLiteral)) {
      type_char(field, static_cast<unsigned char>(ch));
      used = 1;
    } else {
      used = control_char(field, ch);
    }
  } else {
    used = scan_key(field, scan_code(key));
  }
  edit_show(field);
  return used;
}

}  // namespace kora
