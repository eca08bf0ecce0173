// kora_uidemo: a small program made of the terminal toolkit, for trying it
// by hand and for tests/ui/tmux_toolkit_test.sh. Keys on its main screen:
//   Alt+F  the menu bar with the File pull-down open
//   m      a message box with three buttons
//   d      a dialog with an input field, a check box and two buttons
//   e      the text editor window on a few lines of Cyrillic text
//   q      quit
// every other key is shown and logged as its KeyCode. What each part
// returns is written, one line per event, to the log file named on the
// command line; texts are logged as hexadecimal code page 866 bytes.
//
// Usage: kora_uidemo [log-file]
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/menu_tree.h"
#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/text_editor.h"

namespace {

using namespace kora;

constexpr int kAltF = 0x2100;
constexpr unsigned char kBackground = 0x1F;

std::FILE* g_log = nullptr;
std::string g_last_event;

// UTF-8 text -> code page 866 bytes ('?' for characters it lacks).
std::string to_866(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    std::uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    int byte = unicode_to_cp866(code);
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  return out;
}

std::string hex(std::string_view bytes) {
  std::string out;
  char digits[4];
  for (unsigned char byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", byte);
    out += digits;
  }
  return out.empty() ? "-" : out;
}

void log_event(const std::string& line) {
  g_last_event = line;
  if (!g_log) return;
  std::fprintf(g_log, "%s\n", line.c_str());
  std::fflush(g_log);
}

void draw_main_screen() {
  for (int y = 0; y < screen_rows(); ++y) put_spaces(0, y, screen_cols(), kBackground);
  put_text(0, 0, "kora_uidemo ready: Alt+F menu, m message, d dialog, e editor, q quit",
           kBackground);
  draw_box(2, 2, 40, 6, g_colors.MBtext1, g_frames.double_frame, kBoxShadow);
  put_text(4, 3, to_866("Код страницы 866: ЁёЪъЯя"), g_colors.MBtext1);
  draw_box(4, 4, 20, 5, g_colors.MBtext1, g_frames.single_frame, 0);
  std::string last = "last: " + g_last_event;
  put_text_n(0, screen_rows() - 1, last, kBackground, screen_cols());
}

// ---- the parts ------------------------------------------------------------------

void run_menu_bar() {
  // The program's own pull-downs: the choice is logged, no command runs.
  g_menu_bar_hooks.pulldowns = kMenuBar;
  menu_bar(0);
  std::string line = "menu choice=" + std::to_string(g_menu_choice.index) +
                     " last=" + std::to_string(menu_bar_last());
  if (g_menu_choice.menu && g_menu_choice.index >= 0) {
    line += " label=";
    line += g_menu_choice.menu->items[g_menu_choice.index].label;
  }
  log_event(line);
}

void run_message_box() {
  int result = message_box(to_866("Выберите кнопку\nChoose a button"), to_866("Вопрос"),
                           "Yes\nNo\nCancel", 0, 0);
  log_event("message_box " + std::to_string(result));
}

std::string g_name_label;
std::string g_check_label;
DialogDecoration g_demo_labels[] = {{12, 9, 12, 9, nullptr}, {}};
EditField g_demo_field{.x = 24, .y = 9, .width = 30, .size = 40};
DialogCheck g_demo_check{24, 11, 0, nullptr, 0};
DialogPushButton g_demo_ok{20, 13, nullptr, "OK", 1, 7};
DialogPushButton g_demo_cancel{42, 13, nullptr, "Cancel", 0, 0};
DialogControl g_demo_controls[] = {
    {kControlEdit, 0, &g_demo_field},
    {kControlCheck, 0, &g_demo_check},
    {kControlButton, 0, &g_demo_ok},
    {kControlButton, 0, &g_demo_cancel},
    {},
};
Dialog g_demo_dialog{10, 7, 68, 15, 90, "Demo", 0, g_demo_labels, g_demo_controls};

void run_dialog() {
  g_name_label = to_866("Имя:");
  g_check_label = to_866("Флажок");
  g_demo_labels[0].text = g_name_label.c_str();
  g_demo_check.label = g_check_label.c_str();
  dialog_prepare(g_demo_dialog);
  g_demo_dialog.values[0] = 0;
  int result = dialog_run(g_demo_dialog, nullptr);
  log_event("dialog result=" + std::to_string(result) +
            " check=" + std::to_string(g_demo_dialog.values[0]) +
            " text=" + hex(edit_text(g_demo_field)));
  dialog_finish(g_demo_dialog);
}

void run_text_editor() {
  std::string text = to_866("Первая строка\r\nВторая строка\r\nТретья строка\r\n");
  std::unique_ptr<TextEditor> editor =
      text_create(text.c_str(), 9, 3, screen_cols() - 10, screen_rows() - 4, 0, to_866("Текст"));
  if (!editor) {
    log_event("text_create failed");
    return;
  }
  int result = text_run(*editor, 0, nullptr);
  log_event("text_run " + std::to_string(result) + " lines=" +
            std::to_string(editor->line_count()) + " modified=" +
            std::to_string(editor->modified));
  for (int i = 0; i < editor->line_count(); ++i) {
    log_event("line " + std::to_string(i) + " " + hex(editor->lines[i].text));
  }
  if (result != 1) log_event("text " + hex(editor->text));
  text_free(editor);
}

void show_key(int code) {
  char text[32];
  std::snprintf(text, sizeof text, "key %04X", code);
  log_event(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    g_log = std::fopen(argv[1], "w");
    if (!g_log) {
      std::perror(argv[1]);
      return 2;
    }
  }
  screen_open();
  log_event("start pid=" + std::to_string(getpid()) + " size=" +
            std::to_string(screen_cols()) + "x" + std::to_string(screen_rows()));
  for (;;) {
    draw_main_screen();
    int code = get_key(0, nullptr);
    int ch = code & 0xFF;
    if (code == kAltF) {
      run_menu_bar();
    } else if (ch == 'm') {
      run_message_box();
    } else if (ch == 'd') {
      run_dialog();
    } else if (ch == 'e') {
      run_text_editor();
    } else if (ch == 'q') {
      break;
    } else {
      show_key(code);
    }
  }
  screen_close();
  log_event("end");
  if (g_log) std::fclose(g_log);
  return 0;
}
