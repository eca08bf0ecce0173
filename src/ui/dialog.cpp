#include "ui/dialog.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

DialogHooks g_dialog_hooks;

namespace {

template <typename Record>
Record* control_as(const DialogControl& control, int type) {
  return control.type == type ? static_cast<Record*>(control.control) : nullptr;
}

// The virtual screen is centred on the real one; on a screen too small for
// the dialog it moves so that the frame's top-left corner stays in sight
// and the far side is cut instead.
int virtual_x_offset(const Dialog& dialog) { return std::max((screen_cols() - 80) / 2, -dialog.x1); }
int virtual_y_offset(const Dialog& dialog) { return std::max((screen_rows() - 25) / 2, -dialog.y1); }

bool is_enabled(const Dialog& dialog, int index) {
  return index >= 0 && index < dialog_control_count(dialog) && !dialog.controls[index].disabled;
}

// The control's row in dialog coordinates (edit fields hold screen ones
// while the dialog is prepared).
int control_row(const Dialog& dialog, int index) {
  const DialogControl& control = dialog.controls[index];
  switch (control.type) {
    case kControlEdit: return control_edit(control)->y - (dialog.prepared ? dialog.y_offset : 0);
    case kControlCheck: return control_check(control)->y;
    case kControlRadio: return control_radio(control)->y;
    case kControlButton: return control_button(control)->y;
    case kControlList: return control_list(control)->y;
    default: return -1;
  }
}

// The label of a menu entry without its "&".
std::string plain_label(const char* label) {
  std::string text;
  for (const char* p = label; p && *p; ++p) {
    if (*p != '&') text += *p;
  }
  return text;
}

int list_count(const DialogList& list) {
  int count = 0;
  while (list.items && list.items[count].label) ++count;
  return count;
}

// ---- drawing ----------------------------------------------------------------

void draw_decoration(const DialogDecoration& decoration, int xo, int yo) {
  int x1 = decoration.x1 + xo;
  int y1 = decoration.y1 + yo;
  int x2 = decoration.x2 + xo;
  int y2 = decoration.y2 + yo;
  bool group_box = decoration.y1 != decoration.y2;
  bool line = !group_box && decoration.x2 != -1 && decoration.x2 != decoration.x1;
  if (group_box) {
    draw_box(x1, y1, x2, y2, g_colors.DialogText, g_frames.single_frame, 0);
  } else if (line) {
    put_repeat(x1, y1, x2 - x1 + 1, g_frames.horizontal_single, g_colors.DialogText);
  }
  if (!decoration.text) return;
  if (decoration.x2 == -1) {
    put_title(y1, decoration.text, 0x3F);
    return;
  }
  unsigned char attr = group_box || line ? g_colors.DialogFrame : g_colors.DialogText;
  int length = static_cast<int>(std::strlen(decoration.text));
  put_char(x1 + 1, y1, ' ', attr);
  put_text(x1 + 2, y1, decoration.text, attr);
  put_char(x1 + 2 + length, y1, ' ', attr);
}

void draw_frame(const Dialog& dialog) {
  int xo = dialog.x_offset;
  int yo = dialog.y_offset;
  draw_box(xo + dialog.x1, yo + dialog.y1, xo + dialog.x2, yo + dialog.y2, g_colors.DialogFrame,
           g_frames.single_frame, kBoxShadow);
  if (dialog.title) put_title(yo + dialog.y1, dialog.title, g_colors.DialogFrame);
  for (const DialogDecoration* d = dialog.decorations; d && d->x1 != -1; ++d) {
    draw_decoration(*d, xo, yo);
  }
}

void draw_edit(const DialogControl& control, bool focused) {
  EditField& field = *control_edit(control);
  if (control.disabled) {
    EditField shown;
    shown.x = field.x;
    shown.y = field.y;
    shown.width = field.width;
    shown.text = field.text;
    shown.scroll = field.scroll;
    shown.flags = field.flags;
    shown.fill_char = field.fill_char;
    shown.text_color = g_colors.DialogDisabled;
    shown.fill_color = g_colors.DialogDisabled;
    edit_draw(shown);
  } else if (focused) {
    edit_show(field);
  } else {
    edit_draw(field);
  }
}

void put_mark_cursor(int x, int y, bool focused) {
  if (!focused) return;
  goto_xy(x + 1, y);
  set_cursor_shape(0x0607);
}

void draw_mark_control(const Dialog& dialog, int x, int y, bool marked, bool radio,
                       const char* label, unsigned char colour, bool focused) {
  x += dialog.x_offset;
  y += dialog.y_offset;
  std::string_view mark = radio ? (marked ? std::string_view("(\x07)", 3) : "( )")
                                : (marked ? "[x]" : "[ ]");
  put_text(x, y, mark, colour);
  put_text(x + 4, y, label ? label : "", colour);
  put_mark_cursor(x, y, focused);
}

void draw_button(const Dialog& dialog, const DialogControl& control, bool focused,
                 unsigned char colour) {
  const DialogPushButton& button = *control_button(control);
  if (focused) {
    colour = g_colors.DialogButton;
  } else if (button.is_default && !control.disabled &&
             dialog.controls[dialog.focus].type != kControlButton) {
    colour = g_colors.DialogDefault;
  }
  int x = button.x + dialog.x_offset, y = button.y + dialog.y_offset;
  put_button(x, y, button.label ? button.label : "", colour);
  if (focused) {
    goto_xy(x + 1, y);
    set_cursor_shape(0x2000);
  }
}

void draw_list(const Dialog& dialog, DialogList& list, bool focused, unsigned char colour) {
  if (focused) colour = g_colors.DialogButton;
  int x = list.x + dialog.x_offset, y = list.y + dialog.y_offset;
  put_spaces(x, y, list.width, colour);
  if (list.selected >= 0 && list.selected < list_count(list)) {
    list.text = list.items[list.selected].label;
    put_text_n(x, y, plain_label(list.text), colour, list.width);
  }
  if (focused) {
    goto_xy(x + 1, y);
    set_cursor_shape(0x2000);
  }
}

void draw_control(Dialog& dialog, int index) {
  const DialogControl& control = dialog.controls[index];
  bool focused = index == dialog.focus;
  unsigned char colour = control.disabled ? g_colors.DialogDisabled : g_colors.DialogText;
  if (control.type == kControlEdit) {
    draw_edit(control, focused);
  } else if (const DialogCheck* check = control_check(control)) {
    draw_mark_control(dialog, check->x, check->y, dialog.values[check->value_index] != 0, false,
                      check->label, colour, focused);
  } else if (const DialogRadio* radio = control_radio(control)) {
    draw_mark_control(dialog, radio->x, radio->y, dialog.values[radio->group] == radio->value,
                      true, radio->label, colour, focused);
  } else if (control.type == kControlButton) {
    draw_button(dialog, control, focused, colour);
  } else if (DialogList* list = control_list(control)) {
    draw_list(dialog, *list, focused, colour);
  }
}

void draw_controls(Dialog& dialog) {
  int count = dialog_control_count(dialog);
  // The focused control last, so that the cursor ends on it.
  for (int i = 0; i < count; ++i) {
    if (i != dialog.focus) draw_control(dialog, i);
  }
  if (dialog.focus >= 0 && dialog.focus < count) draw_control(dialog, dialog.focus);
}

// ---- focus ------------------------------------------------------------------

// The next enabled control in direction step (+1 or -1), wrapping around;
// the focus stays when there is none.
int next_enabled(const Dialog& dialog, int from, int step) {
  int count = dialog_control_count(dialog);
  for (int n = 1; n < count; ++n) {
    int index = ((from + step * n) % count + count) % count;
    if (!dialog.controls[index].disabled) return index;
  }
  return from;
}

// The first push button marked default, or -1.
int default_button(const Dialog& dialog) {
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    const DialogPushButton* button = control_button(dialog.controls[i]);
    if (button && button->is_default) return i;
  }
  return -1;
}

// The nearest control on the same row in direction step, if it is enabled.
int same_row_neighbour(const Dialog& dialog, int step) {
  int count = dialog_control_count(dialog);
  int row = control_row(dialog, dialog.focus);
  for (int i = dialog.focus + step; i >= 0 && i < count; i += step) {
    if (control_row(dialog, i) == row) return is_enabled(dialog, i) ? i : dialog.focus;
  }
  return dialog.focus;
}

// Focus keys by scan code; returns 1 when the key was one of them.
int move_focus(Dialog& dialog, int scan) {
  switch (scan) {
    case scan_code(kKeyShiftTab):
    case scan_code(kKeyUp):
      dialog.focus = next_enabled(dialog, dialog.focus, -1);
      return 1;
    case scan_code(kKeyDown):
      dialog.focus = next_enabled(dialog, dialog.focus, +1);
      return 1;
    case scan_code(kKeyHome):
    case scan_code(kKeyPgUp):
    case scan_code(kKeyCtrlHome):
    case scan_code(kKeyCtrlPgUp):
      dialog.focus = is_enabled(dialog, 0) ? 0 : next_enabled(dialog, 0, +1);
      return 1;
    case scan_code(kKeyEnd):
    case scan_code(kKeyPgDn):
    case scan_code(kKeyCtrlEnd):
    case scan_code(kKeyCtrlPgDn): {
      int button = default_button(dialog);
      if (is_enabled(dialog, button)) dialog.focus = button;
      return 1;
    }
    case scan_code(kKeyLeft):
      dialog.focus = same_row_neighbour(dialog, -1);
      return 1;
    case scan_code(kKeyRight):
      dialog.focus = same_row_neighbour(dialog, +1);
      return 1;
    default:
      return 0;
  }
}

// ---- keys ---------------------------------------------------------------------

constexpr int kStayOpen = -2;

// The default button's result, or kStayOpen when there is no enabled one.
int press_default(const Dialog& dialog) {
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    const DialogPushButton* button = control_button(dialog.controls[i]);
    if (button && button->is_default && !dialog.controls[i].disabled) return button->result;
  }
  return kStayOpen;
}

int press_enter(Dialog& dialog) {
  const DialogControl& control = dialog.controls[dialog.focus];
  if (DialogPushButton* button = control_button(control); button && !control.disabled) {
    if (!button->action) return button->result;
    button->action(dialog.topic, 0);
    return kStayOpen;
  }
  if (DialogRadio* radio = control_radio(control)) {
    if (dialog.values[radio->group] == radio->value) return press_default(dialog);
    if (!control.disabled) dialog.values[radio->group] = radio->value;
    return kStayOpen;
  }
  if (dialog_control_count(dialog) == 1) return 1;
  return press_default(dialog);
}

void open_list(Dialog& dialog, DialogList& list) {
  if (list_count(list) == 0) return;
  Menu menu;
  menu.centred = 1;
  menu.current = list.selected;
  menu.items = list.items;
  int chosen = menu_popup(menu, dialog.topic);
  if (chosen >= 0) {
    list.selected = chosen;
    list.text = list.items[chosen].label;
  }
}

// Space (or F4 on a list) on the focused control.
void press_space(Dialog& dialog) {
  DialogControl& control = dialog.controls[dialog.focus];
  if (control.disabled) return;
  if (DialogCheck* check = control_check(control)) {
    int& value = dialog.values[check->value_index];
    value = value ? 0 : 1;
  } else if (DialogRadio* radio = control_radio(control)) {
    dialog.values[radio->group] = radio->value;
  } else if (DialogList* list = control_list(control)) {
    open_list(dialog, *list);
  }
}

void choose_file(const Dialog& dialog, EditField& field) {
  if (dialog.topic == 51 || !g_dialog_hooks.file_panel) return;
  std::string chosen;
  if (!g_dialog_hooks.file_panel("*.*", chosen)) return;
  if (chosen.size() >= static_cast<size_t>(field.size)) return;
  edit_set_text(field, chosen.c_str());
  field.modified = 1;
}

// One key; the dialog's result when it closes, else kStayOpen.
int handle_key(Dialog& dialog, int key) {
  int scan = scan_code(key);
  int ch = key_char(key);
  DialogControl& control = dialog.controls[dialog.focus];
  EditField* field = control.disabled ? nullptr : control_edit(control);
  if (field && edit_key(*field, key)) return kStayOpen;
  if (field && scan == scan_code(kKeyF4)) {
    choose_file(dialog, *field);
    return kStayOpen;
  }
  if (field && scan == scan_code(kKeyF3)) {
    if (g_dialog_hooks.history_popup) g_dialog_hooks.history_popup(dialog);
    return kStayOpen;
  }
  if (key == kKeyTab) {
    key = kKeyDown;
    scan = scan_code(kKeyDown);
    ch = 0;
  }
  if (ch == 32 || (scan == scan_code(kKeyF4) && control.type == kControlList)) {
    press_space(dialog);
    return kStayOpen;
  }
  if (move_focus(dialog, scan)) return kStayOpen;
  if (ch == key_char(kKeyEsc) || scan == scan_code(kKeyF10)) return 0;
  return kStayOpen;
}

void save_histories(Dialog& dialog) {
  if (!g_dialog_hooks.history_save) return;
  int focus = dialog.focus;
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    if (dialog.controls[i].type != kControlEdit) continue;
    dialog.focus = i;
    g_dialog_hooks.history_save(dialog);
  }
  dialog.focus = focus;
}

}  // namespace

EditField* control_edit(const DialogControl& c) { return control_as<EditField>(c, kControlEdit); }
DialogCheck* control_check(const DialogControl& c) { return control_as<DialogCheck>(c, kControlCheck); }
DialogRadio* control_radio(const DialogControl& c) { return control_as<DialogRadio>(c, kControlRadio); }
DialogPushButton* control_button(const DialogControl& c) {
  return control_as<DialogPushButton>(c, kControlButton);
}
DialogList* control_list(const DialogControl& c) { return control_as<DialogList>(c, kControlList); }

int dialog_control_count(const Dialog& dialog) {
  int count = 0;
  while (dialog.controls && dialog.controls[count].type != kControlEnd) ++count;
  return count;
}

EditField* dialog_edit_field(Dialog& dialog, int n) {
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    EditField* field = control_edit(dialog.controls[i]);
    if (field && n-- == 0) return field;
  }
  return nullptr;
}

void dialog_prepare(Dialog& dialog) {
  if (dialog.prepared) dialog_finish(dialog);
  dialog.x_offset = virtual_x_offset(dialog);
  dialog.y_offset = virtual_y_offset(dialog);
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    EditField* field = control_edit(dialog.controls[i]);
    if (!field) continue;
    field->x += dialog.x_offset;
    field->y += dialog.y_offset;
    field->text_color = g_colors.DialogEdit;
    field->fill_color = g_colors.DialogFill;
    field->fill_char = ' ';
    edit_alloc(*field);
    field->modified = 0;
    field->decimals = 0;
    field->end_ok = 0;
    field->pos = 0;
    field->scroll = 0;
    field->flags = 0;
  }
  dialog.prepared = 1;
}

void dialog_finish(Dialog& dialog) {
  if (!dialog.prepared) return;
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    EditField* field = control_edit(dialog.controls[i]);
    if (!field) continue;
    field->x -= dialog.x_offset;
    field->y -= dialog.y_offset;
    field->buffer.reset();
    field->text = nullptr;
  }
  dialog.prepared = 0;
}

namespace {

// Centres a prepared dialog on the screen as it is now: its edit fields,
// which hold screen positions, move with it.
void replace_dialog(Dialog& dialog) {
  int dx = virtual_x_offset(dialog) - dialog.x_offset;
  int dy = virtual_y_offset(dialog) - dialog.y_offset;
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    EditField* field = control_edit(dialog.controls[i]);
    if (!field) continue;
    field->x += dx;
    field->y += dy;
  }
  dialog.x_offset += dx;
  dialog.y_offset += dy;
}

}  // namespace

int dialog_run(Dialog& dialog, DialogHook hook) {
  if (!dialog.prepared) dialog_prepare(dialog);
  int cursor = get_cursor();
  ScreenSnapshot saved = save_screen();
  PaintLayer layer([&dialog] {
    replace_dialog(dialog);
    draw_frame(dialog);
    draw_controls(dialog);
  });
  draw_frame(dialog);
  int count = dialog_control_count(dialog);
  for (int i = 0; i < count; ++i) {
    if (DialogList* list = control_list(dialog.controls[i])) list->text = nullptr;
  }
  dialog.focus = 0;
  if (count > 0 && dialog.controls[0].disabled) dialog.focus = next_enabled(dialog, 0, +1);

  int hook_result = 0;
  int result = kStayOpen;
  while (result == kStayOpen) {
    if (hook) hook_result = hook(hook_result, dialog, 0);
    if (count == 0) {
      int key = get_key(dialog.topic, g_ui_idle_hook);
      if (key_char(key) == key_char(kKeyEnter)) result = 1;
      if (key_char(key) == key_char(kKeyEsc) || scan_code(key) == scan_code(kKeyF10)) result = 0;
      continue;
    }
    draw_controls(dialog);
    int key = get_key(dialog.topic, g_ui_idle_hook);
    if (key == kKeyEnter) {
      if (hook) hook_result = hook(hook_result, dialog, kKeyEnter);
      result = press_enter(dialog);
    } else {
      result = handle_key(dialog, key);
    }
  }

  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  if (result < 0) result = 0;
  if (result > 0) save_histories(dialog);
  return result;
}

// ---- the file-name box ----------------------------------------------------------

namespace {

constexpr int kFilenameSize = 259;

const DialogDecoration kFilenameLabels[] = {
    {8, 11, -1, 11, "Filename"},
    {-1, 0, 0, 0, nullptr},
};
EditField g_filename_field{.x = 10, .y = 12, .width = 60, .size = kFilenameSize};
DialogControl g_filename_controls[] = {
    {kControlEdit, 0, &g_filename_field},
    {kControlEnd, 0, nullptr},
};
Dialog g_filename_dialog{8, 11, 71, 13, 57, nullptr, 0, kFilenameLabels, g_filename_controls, {}};

}  // namespace

std::optional<std::string> input_filename(const char* preset) {
  dialog_prepare(g_filename_dialog);
  edit_set_text(g_filename_field, preset);
  g_filename_field.flags |= kEditTouched;
  int result = dialog_run(g_filename_dialog, nullptr);
  std::optional<std::string> name;
  if (result > 0 && g_filename_field.text[0]) name = std::string(g_filename_field.text);
  dialog_finish(g_filename_dialog);
  return name;
}

}  // namespace kora
