#include "ui/message_box.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "ui/key_codes.h"
#include "ui/screen.h"

namespace kora {

IdleHook g_ui_idle_hook = nullptr;

namespace {

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

struct BoxColors {
  unsigned char title, frame, highlight;
};

BoxColors box_colors(int flags) {
  if (flags & kMessageError) return {g_colors.ErrorText1, g_colors.ErrorFrame, g_colors.ErrorText2};
  return {g_colors.MBtitle, g_colors.MBtext1, g_colors.MBtext2};
}

void draw_buttons(const std::vector<std::string_view>& labels, int row, int highlighted,
                  const BoxColors& colors) {
  int count = static_cast<int>(labels.size());
  int cols = screen_cols();
  if (count == 1) {
    put_button(cols / 2 - 8, row, labels[0], colors.highlight);
    return;
  }
  int x = (cols - 18 * count) / 2 + 1;
  for (int i = 0; i < count; ++i, x += 18) {
    put_button(x, row, labels[i], i == highlighted ? colors.highlight : colors.frame);
  }
}

// Runs the key loop over the drawn box; returns the chosen button or -1.
// The row follows the box when a resize moves it.
int choose_button(const std::vector<std::string_view>& labels, const int& row, int& highlighted,
                  const BoxColors& colors, int help_topic) {
  int count = static_cast<int>(labels.size());
  for (;;) {
    draw_buttons(labels, row, highlighted, colors);
    int key = get_key(help_topic, g_ui_idle_hook);
    int scan = scan_code(key);
    int ch = key_char(key);
    if (scan == scan_code(kKeyLeft)) {
      highlighted = highlighted == 0 ? count - 1 : highlighted - 1;
    } else if (scan == scan_code(kKeyRight)) {
      highlighted = highlighted == count - 1 ? 0 : highlighted + 1;
    } else if (ch == key_char(kKeyEnter)) {
      return highlighted;
    } else if (ch == key_char(kKeyEsc) || scan == scan_code(kKeyF10)) {
      return -1;
    }
  }
}

// The cells a line takes: a byte each, or its characters' cells in UTF-8.
int line_cells(std::string_view line, int flags) {
  return (flags & kMessageUtf8) ? text_cells(file_name_chars(line)) : static_cast<int>(line.size());
}

}  // namespace

MessageBoxLayout message_box_layout(std::string_view text, std::string_view title,
                                    int button_count, int flags) {
  std::vector<std::string_view> lines = split_lines(text);
  int n = static_cast<int>(lines.size()) - 1;
  int width = line_cells(lines[0], flags);
  for (size_t i = 1; i < lines.size(); ++i) {
    width = std::max(width, line_cells(lines[i], flags) + 1);
  }
  width += 1;
  width = std::max(width, 18 * button_count);
  width = std::max(width, static_cast<int>(title.size()) + 4);

  MessageBoxLayout box;
  box.top = (screen_rows() - n) / 2 - 3;
  box.bottom = (screen_rows() + n) / 2 + 3;
  int half = width / 2;
  int middle = screen_cols() / 2;
  box.right = middle + half + 1;
  box.left = middle - half - 1;
  if ((box.right - box.left) % 2 == 0) box.left -= 1;
  return box;
}

namespace {

// The box with its text at the layout of the current screen size; returns
// the row of its buttons.
int draw_message_box(std::string_view text, std::string_view title, int button_count, int flags,
                     const BoxColors& colors) {
  MessageBoxLayout box = message_box_layout(text, title, button_count, flags);
  draw_box(box.left, box.top, box.right, box.bottom, colors.frame, g_frames.double_frame,
           kBoxShadow);
  put_title(box.top, title, colors.title);
  std::vector<std::string_view> lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    int row = box.top + 2 + static_cast<int>(i);
    if (flags & kMessageUtf8) {
      put_title_unicode(row, file_name_chars(lines[i]), colors.frame);
    } else {
      put_title(row, lines[i], colors.frame);
    }
  }
  put_repeat(box.left + 1, box.bottom - 2, box.right - box.left - 1, g_frames.horizontal_single,
             colors.frame);
  return box.bottom - 1;
}

}  // namespace

int message_box(std::string_view text, std::string_view title, std::string_view buttons,
                int flags, int help_topic) {
  std::vector<std::string_view> labels = split_lines(buttons);
  int count = static_cast<int>(labels.size());
  int highlighted = std::clamp(flags >> kMessagePreselectShift, 0, count - 1);
  BoxColors colors = box_colors(flags);

  int cursor = get_cursor();
  ScreenSnapshot saved = save_screen();
  int row = draw_message_box(text, title, count, flags, colors);
  int chosen;
  {
    PaintLayer layer([&] {
      row = draw_message_box(text, title, count, flags, colors);
      draw_buttons(labels, row, highlighted, colors);
    });
    chosen = choose_button(labels, row, highlighted, colors, help_topic);
  }
  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  return chosen;
}

}  // namespace kora
