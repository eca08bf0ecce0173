// View / Options: the [Options] values as radio groups and check boxes.
#include <cstring>

#include "ui/dialog.h"
#include "ui/settings.h"

namespace kora {
namespace {

// Dialog::values slots.
enum OptionValue {
  kStartMode = 0,
  kDateFormat = 1,
  kSeparator = 2,
  kAlignment = 3,
  kOemAnsi = 4,
  kMemo = 5,
  kDeleteDown = 6,
  kEnterDown = 7,
  kScrollBars = 8,
  kProgressBar = 9,
  kConfirmation = 10,
  kBakFiles = 11,
  kAliases = 12,
  kDontKeepPos = 13,
};

const DialogDecoration kOptionBoxes[] = {
    {6, 5, 28, 8, "Start mode"},
    {6, 9, 28, 14, "Date format"},
    {6, 15, 28, 18, "Date delimiter"},
    {29, 5, 48, 9, "Align"},
    {29, 10, 48, 14, "Codepage"},
    {29, 15, 48, 18, "Memo"},
    {49, 5, 73, 9, ".BAK files"},
    {49, 10, 73, 18, nullptr},
    {},
};

DialogRadio g_browse{8, 6, 0, "Browse", kStartMode, 0};
DialogRadio g_fields{8, 7, 0, "Fields", kStartMode, 1};
DialogRadio g_as_is{8, 10, 0, "As is", kDateFormat, 0};
DialogRadio g_dmy{8, 11, 0, "Day-Month-Year", kDateFormat, 1};
DialogRadio g_mdy{8, 12, 0, "Month-Day-Year", kDateFormat, 2};
DialogRadio g_ymd{8, 13, 0, "Year-Month-Day", kDateFormat, 3};
DialogRadio g_default_delimiter{8, 16, 0, "Default", kSeparator, 0};
DialogRadio g_other_delimiter{8, 17, 0, "Other", kSeparator, 1};
EditField g_date_char{.x = 26, .y = 17, .width = 1, .size = 1};
DialogRadio g_align_none{31, 6, 0, "None", kAlignment, 0};
DialogRadio g_align_left{31, 7, 0, "Left", kAlignment, 1};
DialogRadio g_align_right{31, 8, 0, "Right", kAlignment, 2};
DialogRadio g_autodetect{31, 11, 0, "Autodetect", kOemAnsi, 0};
DialogRadio g_oem{31, 12, 0, "OEM", kOemAnsi, 1};
DialogRadio g_ansi{31, 13, 0, "Ansi", kOemAnsi, 2};
DialogRadio g_memo_text{31, 16, 0, "Text", kMemo, 0};
DialogRadio g_memo_as_is{31, 17, 0, "As is", kMemo, 1};
DialogRadio g_bak_off{51, 6, 0, "Off", kBakFiles, 0};
DialogRadio g_bak_current{51, 7, 0, "Current directory", kBakFiles, 1};
DialogRadio g_bak_temp{51, 8, 0, "%TEMP% directory", kBakFiles, 2};
DialogCheck g_delete_down{51, 11, 0, "Delete moves down", kDeleteDown};
DialogCheck g_enter_down{51, 12, 0, "Enter moves down", kEnterDown};
DialogCheck g_scroll_bars{51, 13, 0, "Scroll bars", kScrollBars};
DialogCheck g_progress_bar{51, 14, 0, "Progress bar", kProgressBar};
DialogCheck g_confirmation{51, 15, 0, "Confirmation", kConfirmation};
DialogCheck g_aliases{51, 16, 0, "Aliases mode", kAliases};
DialogCheck g_dont_keep_pos{51, 17, 0, "Don't retain pos.", kDontKeepPos};
DialogPushButton g_ok{22, 19, nullptr, "OK", 1, 1};
DialogPushButton g_cancel{42, 19, nullptr, "Cancel", 0, 0};

DialogControl g_option_controls[] = {
    {kControlRadio, 0, &g_browse},        {kControlRadio, 0, &g_fields},
    {kControlRadio, 0, &g_as_is},         {kControlRadio, 0, &g_dmy},
    {kControlRadio, 0, &g_mdy},           {kControlRadio, 0, &g_ymd},
    {kControlRadio, 0, &g_default_delimiter}, {kControlRadio, 0, &g_other_delimiter},
    {kControlEdit, 0, &g_date_char},      {kControlRadio, 0, &g_align_none},
    {kControlRadio, 0, &g_align_left},    {kControlRadio, 0, &g_align_right},
    {kControlRadio, 0, &g_autodetect},    {kControlRadio, 0, &g_oem},
    {kControlRadio, 0, &g_ansi},          {kControlRadio, 0, &g_memo_text},
    {kControlRadio, 0, &g_memo_as_is},    {kControlRadio, 0, &g_bak_off},
    {kControlRadio, 0, &g_bak_current},   {kControlRadio, 0, &g_bak_temp},
    {kControlCheck, 0, &g_delete_down},   {kControlCheck, 0, &g_enter_down},
    {kControlCheck, 0, &g_scroll_bars},   {kControlCheck, 0, &g_progress_bar},
    {kControlCheck, 0, &g_confirmation},  {kControlCheck, 0, &g_aliases},
    {kControlCheck, 0, &g_dont_keep_pos}, {kControlButton, 0, &g_ok},
    {kControlButton, 0, &g_cancel},       {},
};

Dialog g_options{4, 4, 75, 20, 20, "Options", 0, kOptionBoxes, g_option_controls};

// The settings shown by the dialog, in the order of OptionValue.
int* option_field(Settings& s, int slot) {
  int* const fields[] = {
      &s.start_mode,   &s.date_format,  &s.separator,    &s.alignment, &s.oem_ansi,
      &s.memo,         &s.delete_down,  &s.enter_down,   &s.scroll_bars, &s.progress_bar,
      &s.confirmation, &s.bak_files,    &s.aliases,      &s.dont_keep_pos,
  };
  return fields[slot];
}

}  // namespace

int options_dialog() {
  dialog_prepare(g_options);
  for (int slot = kStartMode; slot <= kDontKeepPos; ++slot) g_options.values[slot] = *option_field(g_settings, slot);
  g_date_char.text[0] = g_settings.date_char;
  g_date_char.text[1] = '\0';
  const int result = dialog_run(g_options, nullptr);
  if (result == 1) {
    for (int slot = kStartMode; slot <= kDontKeepPos; ++slot) *option_field(g_settings, slot) = g_options.values[slot];
    if (g_date_char.text[0] != '\0') g_settings.date_char = g_date_char.text[0];
    if (g_settings_hooks.apply_to_tables) g_settings_hooks.apply_to_tables();
    settings_save_options();
    if (g_settings_hooks.request_redraw) g_settings_hooks.request_redraw();
  }
  dialog_finish(g_options);
  return result == 1 ? 1 : 0;
}

}  // namespace kora
