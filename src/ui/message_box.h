// The message box: a centred, double-framed box with a title, lines of text
// and a row of push buttons. Every part of the program reports errors and
// asks its questions through it.
#pragma once

#include <string_view>

#include "ui/keys.h"

namespace kora {

// The idle routine passed to get_key by every pop-up of the toolkit (clock,
// key bar, macro mark). The main loop sets it; null while nobody has.
extern IdleHook g_ui_idle_hook;

enum MessageBoxFlags : int {
  kMessageError = 1,  // error colours instead of the normal ones
  // The text is UTF-8 (it names files): shown as its characters, a line
  // that is no UTF-8 as code page 866 bytes.
  kMessageUtf8 = 2,
  // The index of the button highlighted at the start goes in bits 8 and up,
  // clamped to the last button: message_preselect(1) highlights the second.
  kMessagePreselectShift = 8,
};
constexpr int message_preselect(int button) { return button << kMessagePreselectShift; }

// Shows text (lines separated by "\n") under title with the buttons (labels
// separated by "\n", at most 14 characters each) and waits. Left and Right
// move the highlight (wrapping), Enter chooses it, Esc and F10 cancel; F1
// shows help_topic. Returns the chosen button's index (0 = first) or -1 for
// Esc/F10. The screen and the cursor are restored before it returns.
int message_box(std::string_view text, std::string_view title, std::string_view buttons,
                int flags, int help_topic);

// The frame corners message_box uses for this text, title and number of
// buttons on the current screen.
struct MessageBoxLayout {
  int left, top, right, bottom;
};
MessageBoxLayout message_box_layout(std::string_view text, std::string_view title,
                                    int button_count, int flags = 0);

}  // namespace kora
