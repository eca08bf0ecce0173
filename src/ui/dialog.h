// Dialogs: static tables of decorations and controls, laid out on a virtual
// 80 x 25 screen and run centred on the real one by a small engine.
//
//   static const DialogDecoration goto_labels[] = {{28, 12, 28, 12, "Go to record #"}, {}};
//   static EditField goto_field{.x = 45, .y = 12, .width = 6, .size = 10, .allowed = kAllowRecord};
//   static DialogControl goto_controls[] = {{kControlEdit, 0, &goto_field}, {}};
//   static Dialog goto_dialog{26, 11, 52, 13, 22, nullptr, 0, goto_labels, goto_controls};
//
//   dialog_prepare(goto_dialog);
//   ... copy the preset into goto_field.text, set values ...
//   int result = dialog_run(goto_dialog, nullptr);
//   ... read goto_field.text and values ...
//   dialog_finish(goto_dialog);
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/line_editor.h"

namespace kora {

struct MenuItem;

enum DialogControlType : int {
  kControlEnd = -1,  // ends the controls array
  kControlEdit = 0,
  kControlCheck = 1,
  kControlRadio = 2,
  kControlButton = 3,
  kControlList = 4,
};

// A label (y1 == y2, x2 == x1), a horizontal line (y1 == y2, x2 another
// column), a group box (y1 != y2) or a text centred on the screen
// (x2 == -1). The array ends with an entry whose x1 is -1.
struct DialogDecoration {
  int x1 = -1, y1 = 0, x2 = 0, y2 = 0;
  const char* text = nullptr;
};

struct DialogCheck {
  int x, y;
  int reserved;
  const char* label;
  int value_index;  // index into Dialog::values: 0 or 1
};

struct DialogRadio {
  int x, y;
  int reserved;
  const char* label;
  int group;  // index into Dialog::values holding the chosen value
  int value;
};

// A push button's action keeps the dialog open: called with (topic, 0).
using DialogAction = void (*)(int topic, int arg);

struct DialogPushButton {
  int x, y;
  DialogAction action;  // null: the button closes the dialog with result
  const char* label;    // at most 14 characters
  int is_default;
  int result;
};

// A drop-down list; its entries are the items the caller sets before the
// dialog runs (a MenuItem array ending with a null label).
struct DialogList {
  int x, y, width;
  int selected;      // index of the chosen entry
  const char* text;  // label of the chosen entry, null until drawn
  MenuItem* items;
};

struct DialogControl {
  int type = kControlEnd;  // DialogControlType
  int disabled = 0;        // skipped by focus moves and drawn disabled
  void* control = nullptr;  // EditField, DialogCheck, DialogRadio, DialogPushButton or DialogList
};

constexpr int kDialogValues = 32;

struct Dialog {
  int x1, y1, x2, y2;  // frame corners on the virtual 80 x 25 screen
  int topic;           // help topic, and the dialog's identity
  const char* title;   // null: none
  int focus;           // index of the focused control
  const DialogDecoration* decorations = nullptr;  // null: none
  DialogControl* controls = nullptr;
  int values[kDialogValues] = {};  // check box states and chosen radio values
  // Set by dialog_prepare: the offset of the virtual screen on the real one.
  int x_offset = 0;
  int y_offset = 0;
  int prepared = 0;
};

// Called before every full redraw of the controls with key 0, and once with
// key 0x1C0D when Enter is pressed before Enter is acted on. Each call gets
// the previous call's result (0 the first time).
using DialogHook = int (*)(int previous, Dialog& dialog, int key);

// Services of other parts of the program; any of them may be empty.
struct DialogHooks {
  // Stores the text of the dialog's focused edit field in its history.
  std::function<void(Dialog& dialog)> history_save;
  // F3: the history pop-up of the dialog's focused edit field.
  std::function<void(Dialog& dialog)> history_popup;
  // F4: the file panel with a mask; 1 and the full path when a file was
  // chosen, 0 when it was left without one.
  std::function<int(const char* mask, std::string& chosen)> file_panel;
};
extern DialogHooks g_dialog_hooks;

// Typed views of a control's record (null when the type differs).
EditField* control_edit(const DialogControl& control);
DialogCheck* control_check(const DialogControl& control);
DialogRadio* control_radio(const DialogControl& control);
DialogPushButton* control_button(const DialogControl& control);
DialogList* control_list(const DialogControl& control);

int dialog_control_count(const Dialog& dialog);
// The n-th edit field of the dialog (counting edit fields only), or null.
EditField* dialog_edit_field(Dialog& dialog, int n);

// Moves the edit fields to screen coordinates, gives them the dialog
// colours and fresh empty buffers, and resets their editing state.
void dialog_prepare(Dialog& dialog);
// Runs the dialog: the result of the button that closed it, 1 when a
// dialog with a single control is closed with Enter, 0 for Esc or F10.
int dialog_run(Dialog& dialog, DialogHook hook);
// Moves the edit fields back and frees their buffers.
void dialog_finish(Dialog& dialog);

// The file-name box: the preset is edited (not replaced) by typing. The
// entered text when the box is confirmed and not empty.
std::optional<std::string> input_filename(const char* preset);

}  // namespace kora
