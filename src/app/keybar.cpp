// The function-key bar on the bottom row, the clock on the status line and
// the macro mark: what the idle routine keeps current while a key is awaited.
#include <cstdio>
#include <ctime>

#include "app/browse_view.h"
#include "app/main_loop.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {

namespace {

// The main view's four label sets (F1..F12); F2, F4, F12 and Shift+F12 are
// set from the current table by update_keybar_labels.
const char* const kMainLabels[4][12] = {
    {"Help  ", "Fields", "Load  ", "EditON", "Append", "Insert", "Search", "Delete", "Menu  ", "Quit  ",
     "      ", "Ansi  "},
    {"Help  ", "Info  ", "Histry", "Calc  ", "Append", "Insert", "Search", "Delete", "SvSetp", "      ",
     "      ", "Ansi  "},
    {"Lock  ", "Sum   ", "Create", "Modify", "AppenD", "InserD", "Replac", "Zap   ", "Export", "Trunc ",
     "      ", "      "},
    {"      ", "SysInf", "Filter", "Go fld", "UsrScr", "Go to ", "Search", "Pack  ", "Column", "      ",
     "      ", "      "},
};

// Labels of the other full-screen views without a modifier, by help topic.
struct ViewLabel {
  int topic;
  int key;  // 1..12
  const char* label;
};
const ViewLabel kViewLabels[] = {
    {35, 9, "Filter"},
    {0, 3, "Zoom"},  // the help viewer
    {37, 2, "Save"}, {37, 3, "Zoom"}, {46, 2, "Save"}, {46, 3, "Zoom"}, {50, 2, "Save"}, {50, 3, "Zoom"},
    {71, 2, "Exec"}, {71, 3, "Zoom"},
    {40, 2, "As is"}, {40, 3, "PRG"}, {40, 4, "PRG(F)"}, {40, 5, "SQL"}, {40, 6, "HTML"}, {40, 7, "DBF"},
    {40, 8, "XML"}, {40, 9, "Miva"},
    {69, 2, "Save"}, {69, 3, "Load"}, {69, 4, "Width"}, {69, 5, "Append"}, {69, 6, "Insert"},
    {69, 8, "Delete"}, {69, 9, "Setup"},
};

std::array<std::string, 12> other_view_labels(int topic, KeybarState state) {
  std::array<std::string, 12> labels;
  labels.fill("      ");
  if (state == kKeysPlain) {
    labels[0] = "Help  ";
    labels[9] = "Quit  ";
    for (const ViewLabel& entry : kViewLabels) {
      if (entry.topic == topic) labels[size_t(entry.key - 1)] = entry.label;
    }
    if (topic == 40) labels[11] = g_app.keybar.labels[kKeysShift][11];
  } else if (state == kKeysShift && topic == 40) {
    labels[4] = "Setup";
    labels[7] = "Setup";
  } else if (state == kKeysAlt) {
    labels[4] = "UsrScr";
  }
  return labels;
}

void draw_clock() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  if (local.tm_sec == g_app.clock_second) return;
  g_app.clock_second = local.tm_sec;
  char text[16];
  std::snprintf(text, sizeof text, "%c%2d%c%02d", g_frames.vertical_single, local.tm_hour,
                local.tm_sec % 2 ? ':' : ' ', local.tm_min);
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  put_text(screen_cols() - 7, 0, text, g_colors.Status1);
  g_screen.right_margin = margin;
}

}  // namespace

void reset_keybar_labels(KeybarSet& set) {
  for (int s = 0; s < 4; ++s) {
    for (int k = 0; k < 12; ++k) set.labels[size_t(s)][size_t(k)] = kMainLabels[s][k];
  }
}

KeybarState keybar_state(int shift_state) {
  switch (shift_state) {
    case kModShift: return kKeysShift;
    case kModCtrl: return kKeysCtrl;
    case kModAlt: return kKeysAlt;
    default: return kKeysPlain;
  }
}

std::array<std::string, 12> keybar_labels(int help_topic, int shift_state) {
  KeybarState state = keybar_state(shift_state);
  if (help_topic != kMainHelpTopic) return other_view_labels(help_topic, state);
  return g_app.keybar.labels[size_t(state)];
}

void draw_keybar(int help_topic, int shift_state) {
  std::array<std::string, 12> labels = keybar_labels(help_topic, shift_state);
  int row = screen_rows() - 1;
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  for (int k = 0; k < 12; ++k) {
    char number[8];
    std::snprintf(number, sizeof number, "%2d", k + 1);
    put_text(8 * k, row, number, g_colors.KeybarNumber);
    put_text(8 * k + 2, row, "      ", g_colors.KeybarText);
    put_text_n(8 * k + 2, row, labels[size_t(k)], g_colors.KeybarText, 6);
  }
  g_screen.right_margin = margin;
}

void update_keybar_labels() {
  Table* table = g_app.table();
  auto& labels = g_app.keybar.labels;
  bool fields = table && view_of(*table).view_mode == 1;
  labels[kKeysPlain][1] = fields ? "Browse" : "Fields";
  labels[kKeysPlain][3] = g_app.edit.mode ? "EditOF" : "EditON";
  const char* code_page = table && table->ansi_text ? "OEM   " : "Ansi  ";
  labels[kKeysPlain][11] = code_page;
  labels[kKeysShift][11] = g_app.captions_ansi ? "OEM   " : "Ansi  ";
}

void idle_routine(int help_topic, int shift_state, int, int) {
  if (!g_screen.open) return;
  if (shift_state != g_idle_shift_seen) {
    draw_keybar(help_topic, shift_state);
    g_idle_shift_seen = shift_state;
  }
  if (g_key_hooks.recording && g_key_hooks.recording()) put_char(0, 1, 'R', 0x4F);
  draw_clock();
}

}  // namespace kora
