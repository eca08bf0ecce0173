// kora_keytest: opens the screen, draws a box with Cyrillic text and shows
// the KeyCode of every key pressed; Esc pressed twice in a row ends it.
// Used by tests/ui/tmux_keys_test.sh.
#include <cstdio>
#include <string>

#include "ui/keys.h"
#include "ui/screen.h"

namespace {

int g_line = 0;

void show_code(int code) {
  char text[32];
  std::snprintf(text, sizeof text, "key %04X", code);
  kora::put_text(2, 5 + g_line % 15, "                ", 0x1F);
  kora::put_text(2, 5 + g_line % 15, text, 0x1F);
  ++g_line;
}

}  // namespace

int main() {
  kora::screen_open();
  kora::put_repeat(0, 0, kora::screen_cols(), ' ', 0x1F);
  for (int y = 1; y < kora::screen_rows(); ++y) kora::put_spaces(0, y, kora::screen_cols(), 0x1F);
  kora::draw_box(30, 1, 60, 4, kora::g_colors.MBtext1, kora::g_frames.double_frame,
                 kora::kBoxShadow);
  // "Привет" in code page 866, and the check mark
  kora::put_text(32, 2, "\x8f\xe0\xa8\xa2\xa5\xe2 \xfb", kora::g_colors.MBtext1);
  kora::put_text(0, 0, "ready", 0x1F);
  int last = 0;
  for (;;) {
    int code = kora::get_key(0, nullptr);
    show_code(code);
    if (code == 0x011B && last == 0x011B) break;
    last = code;
  }
  kora::screen_close();
  return 0;
}
