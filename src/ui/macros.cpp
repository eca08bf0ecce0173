#include "ui/macros.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "ui/codepage.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/side_file.h"

namespace kora {

std::vector<Macro> g_macros;

namespace {

std::string g_macro_file;

struct Recording {
  bool on = false;
  std::vector<uint16_t> keys;
};
Recording g_recording;

struct Playing {
  bool on = false;
  std::vector<uint16_t> keys;  // a copy: rebinding cannot pull them away
  size_t next = 0;
};
Playing g_playing;

// Set while the prompt waits for its key.
bool g_prompting = false;

bool is_separator(char ch) {
  return ch == '\t' || ch == ':' || ch == ',' || ch == ' ' || ch == '\n' || ch == '\r';
}

int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// A piece as "%x" reads it: an optional "0x", then hexadecimal digits up to
// the first other character; 0 when there are none. The low 16 bits.
int parse_hex(std::string_view piece) {
  size_t i = 0;
  if (piece.size() > 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X') &&
      hex_digit(piece[2]) >= 0) {
    i = 2;
  }
  unsigned value = 0;
  for (; i < piece.size() && hex_digit(piece[i]) >= 0; ++i) {
    value = ((value << 4) | unsigned(hex_digit(piece[i]))) & 0xFFFFu;
  }
  return int(value);
}

// One line of the macro file; false when it gives no macro.
bool parse_line(std::string_view line, Macro& macro) {
  if (line.empty() || line[0] == ';') return false;
  macro = Macro{};
  bool have_trigger = false;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_separator(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !is_separator(line[i])) ++i;
    if (start == i) break;
    int value = parse_hex(line.substr(start, i - start));
    if (!have_trigger) {
      macro.trigger = value;
      have_trigger = true;
      if (value == 0) return false;
    } else if (value != 0 && macro.keys.size() < size_t(kMacroMaxKeys)) {
      macro.keys.push_back(uint16_t(value));
    }
  }
  return have_trigger && !macro.keys.empty();
}

void stop_recording() {
  g_recording.on = false;
  std::vector<uint16_t>().swap(g_recording.keys);
  put_char(0, 1, g_frames.double_frame[0], g_colors.Frame);
}

// One key straight from the terminal: no idle routine, no help, no macros.
int read_prompt_key() {
  KeyHooks& hooks = g_key_hooks;
  auto show_help = std::move(hooks.show_help);
  auto play_next = std::move(hooks.play_next);
  auto recording = std::move(hooks.recording);
  auto record = std::move(hooks.record);
  auto start_macro = std::move(hooks.start_macro);
  hooks.show_help = nullptr;
  hooks.play_next = nullptr;
  hooks.recording = nullptr;
  hooks.record = nullptr;
  hooks.start_macro = nullptr;
  g_prompting = true;
  int key = get_key(0, nullptr);
  g_prompting = false;
  hooks.show_help = std::move(show_help);
  hooks.play_next = std::move(play_next);
  hooks.recording = std::move(recording);
  hooks.record = std::move(record);
  hooks.start_macro = std::move(start_macro);
  return key;
}

// Binds the recording to `trigger`: every older macro of that key goes, and
// the recording (when it holds any key) is added at the end.
void bind_recording(int trigger) {
  std::erase_if(g_macros, [trigger](const Macro& m) { return m.trigger == trigger; });
  if (!g_recording.keys.empty()) g_macros.push_back({trigger, g_recording.keys});
  macros_save();
}

void finish_recording() {
  ScreenSnapshot saved = save_screen();
  int cursor = get_cursor();
  macro_draw_prompt();
  int key;
  {
    PaintLayer layer(macro_draw_prompt);
    key = read_prompt_key();
  }
  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  if (key != key_char(kKeyEsc) && key != kKeyEsc && key != kKeyEnter) bind_recording(key);
  stop_recording();
}

}  // namespace

// ---- the file -----------------------------------------------------------------

std::vector<Macro> macros_parse(std::string_view text) {
  std::vector<Macro> macros;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    Macro macro;
    if (parse_line(text.substr(start, end - start), macro)) macros.push_back(std::move(macro));
    start = end + 1;
  }
  return macros;
}

std::string macros_format(const std::vector<Macro>& macros) {
  std::string text;
  char piece[32];
  for (const Macro& macro : macros) {
    std::snprintf(piece, sizeof piece, "0x%04x:\t", unsigned(macro.trigger) & 0xFFFFu);
    text += piece;
    for (uint16_t key : macro.keys) {
      std::snprintf(piece, sizeof piece, "0x%04x, ", unsigned(key));
      text += piece;
    }
    text += '\n';
  }
  return text;
}

void macros_install(const std::string& path) {
  g_macro_file = path;
  g_key_hooks.play_next = [] { return macro_next_key(); };
  g_key_hooks.toggle_record = [] { macro_toggle(); };
  g_key_hooks.recording = [] { return macro_recording(); };
  g_key_hooks.record = [](int key) { macro_record_key(key); };
  g_key_hooks.cannot_record = [](char32_t typed) { macro_drop_recording(typed); };
  g_key_hooks.start_macro = [](int key) { return macro_trigger(key) == 1; };
}

int macros_load() {
  std::string text;
  if (g_macro_file.empty() || !read_side_file(g_macro_file, text)) return 0;
  std::vector<Macro> loaded = macros_parse(text);
  for (Macro& macro : loaded) g_macros.push_back(std::move(macro));
  return int(loaded.size());
}

int macros_save() {
  if (g_macro_file.empty()) return 0;
  return write_side_file(g_macro_file, macros_format(g_macros));
}

void macros_free() {
  std::vector<Macro>().swap(g_macros);
  g_recording = Recording{};
  g_playing = Playing{};
}

// ---- recording and playing ------------------------------------------------------

void macro_toggle() {
  // Ctrl+. at the prompt is not a key that could be bound: get_key keeps it.
  if (g_prompting || g_playing.on) return;
  if (!g_recording.on) {
    g_recording.on = true;
    g_recording.keys.clear();
    return;
  }
  finish_recording();
}

void macro_record_key(int key) {
  if (!g_recording.on || key == 0) return;
  g_recording.keys.push_back(uint16_t(key));
  if (g_recording.keys.size() >= size_t(kMacroMaxKeys)) finish_recording();
}

void macro_drop_recording(char32_t typed) {
  if (!g_recording.on) return;
  g_recording = Recording{};
  char character[8] = {};
  utf8_encode(typed, character);
  std::string text = "A macro cannot keep ";
  text += character;
  text += ": the recording was dropped.\nThe character is typed as usual.";
  message_box(text, "Macro", "OK", kMessageUtf8, 0);
}

int macro_next_key() {
  if (!g_playing.on) return -1;
  if (g_playing.next >= g_playing.keys.size()) {
    g_playing = Playing{};
    return -1;
  }
  int key = g_playing.keys[g_playing.next++];
  if (g_playing.next >= g_playing.keys.size()) g_playing = Playing{};
  return key;
}

int macro_trigger(int key) {
  if (g_recording.on || g_playing.on || key == 0) return 0;
  for (const Macro& macro : g_macros) {
    if (macro.trigger != key) continue;
    if (macro.keys.empty()) return 0;
    g_playing.on = true;
    g_playing.keys = macro.keys;
    g_playing.next = 0;
    return 1;
  }
  return 0;
}

bool macro_recording() { return g_recording.on; }
bool macro_playing() { return g_playing.on; }
int macro_recorded_count() { return int(g_recording.keys.size()); }

void macro_draw_mark() {
  if (g_recording.on) put_char(0, 1, 'R', 0x4F);
}

void macro_draw_prompt() {
  int rows = screen_rows();
  int cols = screen_cols();
  int n = int(std::strlen(kMacroPrompt));
  draw_box(cols / 2 - n / 2 - 2, rows / 2 - 2, cols / 2 + n / 2 + 2, rows / 2 + 2,
           g_colors.DialogFrame, g_frames.single_frame, kBoxShadow);
  put_text(cols / 2 - n / 2, rows / 2, kMacroPrompt, g_colors.DialogText);
}

}  // namespace kora
