#include "ui/byte_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/line_editor.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

namespace {

constexpr int kMinimumColumns = 72;  // the box is 72 columns wide
constexpr const char* kRuler = "     00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  0123456789ABCDEF";
constexpr const char* kHexDigits = "0123456789ABCDEFabcdef";
constexpr int kHexColumn = 6;     // from the box's left edge
constexpr int kAsciiColumn = 55;

int row_of(int offset) { return offset / kBytesPerRow; }

// The top row follows the cursor so that it stays in the window.
void follow_offset(ByteEditState& state) {
  int row = row_of(state.offset);
  int top = row_of(state.first);
  int rows = std::max(state.visible_rows, 1);
  if (row < top) top = row;
  if (row >= top + rows) top = row - rows + 1;
  state.first = top * kBytesPerRow;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<ByteEditorGeometry> byte_editor_geometry(int rows, int cols, int length) {
  ByteEditorGeometry g;
  g.left = cols / 2 - 36;
  g.right = cols / 2 + 35;
  g.top = 3;
  g.bottom = rows - 4;
  int n = length / kBytesPerRow + 1;
  if (n < rows - 10) {
    do {
      ++g.top;
      if (n < g.bottom - g.top - 3) --g.bottom;
    } while (n < g.bottom - g.top - 3);
  }
  g.visible_rows = g.bottom - g.top - 2;
  if (cols < kMinimumColumns || g.visible_rows < 1) return std::nullopt;
  return g;
}

bool move_byte_cursor(ByteEditState& state, ByteMove move) {
  // Signed throughout: a block shorter than a row has no row below.
  int length = state.length();
  int offset = state.offset;
  int page = std::max(state.visible_rows - 1, 1);
  auto up = [&](int rows) {
    for (; rows > 0 && offset >= kBytesPerRow; --rows) offset -= kBytesPerRow;
  };
  auto down = [&](int rows) {
    for (; rows > 0 && offset < length - kBytesPerRow; --rows) offset += kBytesPerRow;
  };
  switch (move) {
    case ByteMove::kUp: up(1); break;
    case ByteMove::kDown: down(1); break;
    case ByteMove::kPageUp: up(page); break;
    case ByteMove::kPageDown: down(page); break;
    case ByteMove::kFirstRow: up(length); break;
    case ByteMove::kLastRow: down(length); break;
    case ByteMove::kPrevious:
      if (offset > 0) --offset;
      break;
    case ByteMove::kNext:
      if (offset < length - 1) ++offset;
      break;
  }
  if (offset == state.offset) return false;
  state.offset = offset;
  follow_offset(state);
  return true;
}

void commit_byte_cell(ByteEditState& state, std::string_view text) {
  if (state.offset < 0 || state.offset >= state.length()) return;
  int value = 0;
  if (state.mode == ByteMode::kAscii) {
    value = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
  } else {
    for (size_t i = 0; i < text.size() && hex_value(text[i]) >= 0; ++i) value = value * 16 + hex_value(text[i]);
  }
  uint8_t& byte = state.bytes[size_t(state.offset)];
  if (byte != uint8_t(value)) state.changed = true;
  byte = uint8_t(value);
}

namespace {

constexpr const char* kTooSmallText = "The screen is too small for this window:\nit needs 72 columns and 10 rows.";

// One run of the editor on the screen.
class ByteEditorSession {
 public:
  ByteEditorSession(std::vector<uint8_t> bytes, const ByteEditorRun& run, const ByteEditorGeometry& g)
      : run_(run), g_(g), saved_(save_screen()), cursor_(get_cursor()) {
    state_.bytes = std::move(bytes);
    state_.visible_rows = g.visible_rows;
  }
  ~ByteEditorSession() {
    field_.reset();
    restore_screen(saved_);
    goto_xy(cursor_ % 256, cursor_ / 256);
  }
  ByteEditorSession(const ByteEditorSession&) = delete;
  ByteEditorSession& operator=(const ByteEditorSession&) = delete;

  ByteEditorResult run();

 private:
  void draw_frame();
  void draw_rows();
  void make_field();
  void take_new_size();
  void commit() {
    if (!run_.view_only && field_) commit_byte_cell(state_, field_->text);
  }
  // Commits and moves; the field is made afresh on the new byte.
  void step(ByteMove move) {
    commit();
    if (move_byte_cursor(state_, move)) fresh_ = true;
  }
  bool at_last_byte() const { return state_.offset >= state_.length() - 1; }
  void type_key(int key);
  // Enter, Esc, F10: true when the editor closes.
  bool leave(ByteEditorResult& result);

  const ByteEditorRun& run_;
  ByteEditorGeometry g_;
  ByteEditState state_;
  ScreenSnapshot saved_;
  int cursor_;
  std::unique_ptr<EditField> field_;
  bool fresh_ = true;
};

void ByteEditorSession::draw_frame() {
  draw_box(g_.left, g_.top, g_.right, g_.bottom, g_colors.DialogFrame, g_frames.single_frame, kBoxShadow);
  put_title(g_.top, run_.title, g_colors.DialogFrame);
  put_text(g_.left + 1, g_.top + 1, kRuler, g_colors.DialogDefault);
}

void ByteEditorSession::draw_rows() {
  char hex[8];
  for (int r = 0; r < g_.visible_rows; ++r) {
    int y = g_.top + 2 + r;
    int start = state_.first + r * kBytesPerRow;
    put_repeat(g_.left + 1, y, g_.right - g_.left - 1, g_frames.single_frame[4], g_colors.DialogFrame);
    if (start >= state_.length()) continue;
    std::snprintf(hex, sizeof hex, "%04X", unsigned(start) & 0xFFFFu);
    put_text(g_.left + 1, y, hex, g_colors.DialogDefault);
    for (int i = 0; i < kBytesPerRow; ++i) {
      int x = g_.left + kHexColumn + 3 * i;
      int ascii_x = g_.left + kAsciiColumn + i;
      if (start + i >= state_.length()) {
        put_spaces(x, y, 2, g_colors.DialogText);
        put_char(ascii_x, y, ' ', g_colors.DialogText);
        continue;
      }
      uint8_t byte = state_.bytes[size_t(start + i)];
      std::snprintf(hex, sizeof hex, "%02X", unsigned(byte));
      put_text(x, y, hex, g_colors.DialogText);
      if (byte == 0) {
        put_char(ascii_x, y, '.', g_colors.DialogDisabled);
      } else {
        put_char(ascii_x, y, byte, g_colors.DialogText);
      }
    }
  }
}

void ByteEditorSession::make_field() {
  int column = state_.offset % kBytesPerRow;
  int y = g_.top + 2 + row_of(state_.offset - state_.first);
  uint8_t byte = state_.bytes[size_t(state_.offset)];
  if (state_.mode == ByteMode::kHex) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", unsigned(byte));
    field_ = edit_create(g_.left + kHexColumn + 3 * column, y, 2, 2, text, g_colors.DialogEdit, kAllowHex);
  } else {
    char text[2] = {char(byte), 0};
    field_ = edit_create(g_.left + kAsciiColumn + column, y, 1, 1, text, g_colors.DialogEdit, nullptr);
  }
}

// A key for the cursor's cell. A typed byte moves on to the next one: the
// second hex digit (the cell's cursor cannot move further), or any
// character in the ASCII column. Backspace and the other editing keys stay.
void ByteEditorSession::type_key(int key) {
  if (run_.view_only) {
    // Nothing may change; the cell's cursor may still move within it.
    if (!is_extended_key(key)) return;
    int scan = scan_code(key);
    if (scan != scan_code(kKeyHome) && scan != scan_code(kKeyEnd)) return;
  }
  int pos_before = field_->pos;
  bool literal = (field_->flags & kEditLiteral) != 0;
  int ch = key_char(key);
  if (!edit_key(*field_, key) || at_last_byte()) return;
  bool typed_hex = ch != 0 && std::strchr(kHexDigits, ch) && field_->pos == pos_before;
  bool typed_char = ch != 0 && (ch > 31 || literal);
  if (state_.mode == ByteMode::kHex ? typed_hex : typed_char) step(ByteMove::kNext);
}

bool ByteEditorSession::leave(ByteEditorResult& result) {
  commit();
  result = ByteEditorResult::kLeft;
  // Nobody is left to answer once the input has closed: the file stays as it was.
  if (run_.view_only || !state_.changed || input_closed()) return true;
  int answer = message_box("You've made changes since the last save.", "Attention", "Save\nDon't save\nCancel", 0,
                           run_.help_topic);
  if (answer == 1) return true;
  if (answer == 0 && run_.save && run_.save(state_.bytes)) {
    result = ByteEditorResult::kSaved;
    return true;
  }
  // Cancel, or a save that failed: editing goes on.
  fresh_ = true;
  return false;
}

// The screen has changed size: the box is placed afresh where it fits (on
// a screen now too small for it, it stays put and is cut by the edges).
void ByteEditorSession::take_new_size() {
  commit();
  if (std::optional<ByteEditorGeometry> g = byte_editor_geometry(screen_rows(), screen_cols(), state_.length())) {
    g_ = *g;
    state_.visible_rows = g_.visible_rows;
    follow_offset(state_);
  }
  draw_frame();
  make_field();
  draw_rows();
  edit_show(*field_);
}

ByteEditorResult ByteEditorSession::run() {
  draw_frame();
  PaintLayer layer([this] { take_new_size(); });
  ByteEditorResult result = ByteEditorResult::kLeft;
  for (;;) {
    if (fresh_) {
      make_field();
      draw_rows();
      fresh_ = false;
    }
    edit_show(*field_);
    int key = get_key(run_.help_topic, g_ui_idle_hook);
    int scan = scan_code(key);
    bool plain = is_extended_key(key);
    if (scan == scan_code(kKeyTab)) {
      commit();
      state_.mode = state_.mode == ByteMode::kHex ? ByteMode::kAscii : ByteMode::kHex;
      fresh_ = true;
    } else if (plain && (scan == scan_code(kKeyUp))) {
      step(ByteMove::kUp);
    } else if (plain && scan == scan_code(kKeyPgUp)) {
      step(ByteMove::kPageUp);
    } else if (plain && (scan == scan_code(kKeyCtrlHome) || scan == scan_code(kKeyCtrlPgUp))) {
      step(ByteMove::kFirstRow);
    } else if (plain && scan == scan_code(kKeyDown)) {
      step(ByteMove::kDown);
    } else if (plain && scan == scan_code(kKeyPgDn)) {
      step(ByteMove::kPageDown);
    } else if (plain && (scan == scan_code(kKeyCtrlEnd) || scan == scan_code(kKeyCtrlPgDn))) {
      step(ByteMove::kLastRow);
    } else if (plain && scan == scan_code(kKeyLeft) && field_->pos == 0 && state_.offset > 0) {
      step(ByteMove::kPrevious);
    } else if (plain && scan == scan_code(kKeyRight) &&
               (state_.mode == ByteMode::kAscii || field_->pos == 1) && !at_last_byte()) {
      step(ByteMove::kNext);
    } else if (key == kKeyEnter || key_char(key) == 27 || (plain && scan == scan_code(kKeyF10))) {
      if (leave(result)) return result;
    } else if (plain && (scan == scan_code(kKeyLeft) || scan == scan_code(kKeyRight))) {
      edit_key(*field_, key);
    } else {
      type_key(key);
    }
  }
}

}  // namespace

ByteEditorResult run_byte_editor(std::vector<uint8_t> bytes, const ByteEditorRun& run) {
  if (bytes.empty()) return ByteEditorResult::kLeft;
  std::optional<ByteEditorGeometry> g = byte_editor_geometry(screen_rows(), screen_cols(), int(bytes.size()));
  if (!g) {
    message_box(kTooSmallText, run.title, "OK", kMessageError, run.help_topic);
    return ByteEditorResult::kTooSmall;
  }
  ByteEditorSession session(std::move(bytes), run, *g);
  return session.run();
}

}  // namespace kora
