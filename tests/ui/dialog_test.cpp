// Dialogs run headless: keys are scripted, then results, values and screen
// cells are read back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/dialog.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/screen.h"

namespace kora {
namespace {

constexpr int kEnter = 0x1C0D, kEsc = 0x011B, kF10 = 0x4400, kTab = 0x0F09, kShiftTab = 0x0F00,
              kUp = 0x4800, kDown = 0x5000, kLeft = 0x4B00, kRight = 0x4D00, kHome = 0x4700,
              kEnd = 0x4F00, kF3 = 0x3D00, kF4 = 0x3E00;

// ---- a one-line box: a single edit field, no buttons --------------------------

const DialogDecoration kGotoLabels[] = {{28, 12, 28, 12, "Go to record #"}, {}};
EditField g_goto_field{.x = 45, .y = 12, .width = 6, .size = 10, .allowed = kAllowRecord};
DialogControl g_goto_controls[] = {{kControlEdit, 0, &g_goto_field}, {}};
Dialog g_goto{26, 11, 52, 13, 22, nullptr, 0, kGotoLabels, g_goto_controls};

// ---- a dialog with every kind of control ---------------------------------------
//  0 edit (row 5)   1 check (row 7)   2 radio A, 3 radio B, 4 radio C (row 9)
//  5 list (row 11)  6 OK (default), 7 Cancel, 8 Apply (action) (row 13)

enum { kEditCtl, kCheckCtl, kRadioA, kRadioB, kRadioC, kListCtl, kOkCtl, kCancelCtl, kApplyCtl };

int g_action_calls = 0;
int g_action_topic = 0;
void apply_action(int topic, int) {
  ++g_action_calls;
  g_action_topic = topic;
}

const DialogDecoration kFullDecorations[] = {
    {6, 4, 70, 6, "Expression"},   // group box
    {6, 10, 70, 10, nullptr},      // line
    {6, 8, 6, 8, "Plain"},         // label
    {-1, 0, 0, 0, nullptr},
};
EditField g_expr{.x = 8, .y = 5, .width = 30, .size = 40};
DialogCheck g_check{8, 7, 0, "Ignore case", 0};
DialogRadio g_radio_a{8, 9, 0, "Down", 1, 0};
DialogRadio g_radio_b{24, 9, 0, "Up", 1, 1};
DialogRadio g_radio_c{40, 9, 0, "All", 1, 2};
MenuItem g_list_items[] = {
    {"&First", 0, 0, 0, nullptr},
    {"S&econd", 0, 0, 0, nullptr},
    {"Third", 0, 0, 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};
DialogList g_list{8, 11, 10, 0, nullptr, g_list_items};
DialogPushButton g_ok{10, 13, nullptr, "OK", 1, 7};
DialogPushButton g_cancel{30, 13, nullptr, "Cancel", 0, -1};
DialogPushButton g_apply{50, 13, apply_action, "Apply", 0, 9};
DialogControl g_full_controls[] = {
    {kControlEdit, 0, &g_expr},      {kControlCheck, 0, &g_check},   {kControlRadio, 0, &g_radio_a},
    {kControlRadio, 0, &g_radio_b},  {kControlRadio, 0, &g_radio_c}, {kControlList, 0, &g_list},
    {kControlButton, 0, &g_ok},      {kControlButton, 0, &g_cancel}, {kControlButton, 0, &g_apply},
    {kControlEnd, 0, nullptr},
};
Dialog g_full{4, 3, 75, 15, 27, "Search", 0, kFullDecorations, g_full_controls, {}};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { open(25, 80); }
  void TearDown() override {
    dialog_finish(g_goto);
    dialog_finish(g_full);
    g_dialog_hooks = DialogHooks{};
    g_key_hooks = KeyHooks{};
  }
  void open(int rows, int cols) {
    screen_open_headless(rows, cols);
    backend = headless_backend();
    g_key_hooks = KeyHooks{};
    g_dialog_hooks = DialogHooks{};
    g_action_calls = 0;
    for (DialogControl* c = g_full_controls; c->type != kControlEnd; ++c) c->disabled = 0;
    g_full.values[0] = 0;
    g_full.values[1] = 0;
    g_list.selected = 0;
  }
  void keys(std::initializer_list<int> codes) {
    for (int code : codes) backend->push_key(code);
  }
  void type(std::string_view text) {
    for (unsigned char ch : text) backend->push_key(ch);
  }
  // Runs the full dialog with the keys; returns the result.
  int run_full(std::initializer_list<int> codes, DialogHook hook = nullptr) {
    dialog_prepare(g_full);
    keys(codes);
    return dialog_run(g_full, hook);
  }
  HeadlessBackend* backend = nullptr;
};

TEST_F(DialogTest, OneFieldWithoutButtonsReturnsOneOnEnterAndZeroOnEsc) {
  dialog_prepare(g_goto);
  type("42");
  keys({kEnter});
  EXPECT_EQ(dialog_run(g_goto, nullptr), 1);
  EXPECT_STREQ(g_goto_field.text, "42");
  dialog_finish(g_goto);

  dialog_prepare(g_goto);
  type("7");
  keys({kEsc});
  EXPECT_EQ(dialog_run(g_goto, nullptr), 0);
  dialog_finish(g_goto);

  dialog_prepare(g_goto);
  keys({kF10});
  EXPECT_EQ(dialog_run(g_goto, nullptr), 0);
}

TEST_F(DialogTest, PrepareGivesFreshBuffersAndFinishRestoresCoordinates) {
  open(30, 100);  // offsets (10, 2)
  dialog_prepare(g_goto);
  EXPECT_EQ(g_goto_field.x, 55);
  EXPECT_EQ(g_goto_field.y, 14);
  EXPECT_EQ(g_goto_field.text_color, g_colors.DialogEdit);
  EXPECT_EQ(g_goto_field.fill_color, g_colors.DialogFill);
  ASSERT_NE(g_goto_field.text, nullptr);
  EXPECT_STREQ(g_goto_field.text, "");
  std::strcpy(g_goto_field.text, "123");
  g_goto_field.flags = kEditTouched;
  dialog_finish(g_goto);
  EXPECT_EQ(g_goto_field.x, 45);
  EXPECT_EQ(g_goto_field.y, 12);
  EXPECT_EQ(g_goto_field.text, nullptr);

  dialog_prepare(g_goto);
  EXPECT_STREQ(g_goto_field.text, "");
  EXPECT_EQ(g_goto_field.flags, 0);
}

TEST_F(DialogTest, DrawsFrameDecorationsAndControlsCentredAndRestoresTheScreen) {
  open(27, 90);  // offsets (5, 1)
  put_repeat(0, 5, 90, 'o', 0x17);
  std::string before = screen_row_text(5);
  dialog_prepare(g_full);
  g_full.values[0] = 1;
  g_full.values[1] = 2;
  std::strcpy(g_expr.text, "abc");
  // F1 is answered by help; the screen is read there, while the dialog is up
  ScreenSnapshot shown;
  int cursor = -1;
  g_key_hooks.show_help = [&](int topic) {
    EXPECT_EQ(topic, 27);
    shown = save_screen();
    cursor = get_cursor();
  };
  keys({0x3B00, kEsc});
  EXPECT_EQ(dialog_run(g_full, nullptr), 0);
  EXPECT_EQ(screen_row_text(5), before);
  ASSERT_EQ(shown.cells.size(), 27u * 90u);
  auto row = [&](int y) {
    std::string text;
    for (int x = 0; x < 90; ++x) text += static_cast<char>(cell_byte(shown.cells[y * 90 + x]));
    return text;
  };
  auto attr = [&](int x, int y) { return shown.cells[y * 90 + x].attr; };

  // frame (9,4)-(80,16) with the title centred on its top row
  EXPECT_EQ(row(4).substr(9, 3), "\xda\xc4\xc4");
  EXPECT_EQ(row(4).substr(41, 8), " Search ");
  EXPECT_EQ(attr(9, 4), g_colors.DialogFrame);
  // group box with its title in the frame colour, a line, a plain label
  EXPECT_EQ(row(5).substr(11, 13), "\xda Expression ");
  EXPECT_EQ(attr(13, 5), g_colors.DialogFrame);
  EXPECT_EQ(attr(11, 5), g_colors.DialogText);
  EXPECT_EQ(row(11).substr(11, 3), "\xc4\xc4\xc4");
  EXPECT_EQ(row(9).substr(13, 5), "Plain");
  EXPECT_EQ(attr(13, 9), g_colors.DialogText);
  // the focused edit field holds the cursor
  EXPECT_EQ(row(6).substr(13, 4), "abc ");
  EXPECT_EQ(attr(13, 6), g_colors.DialogEdit);
  EXPECT_EQ(attr(16, 6), g_colors.DialogFill);
  EXPECT_EQ(cursor, 6 * 256 + 13);
  // check box, radio buttons (the mark byte 7 shows as "@")
  EXPECT_EQ(row(8).substr(13, 15), "[x] Ignore case");
  EXPECT_EQ(row(10).substr(13, 8), "( ) Down");
  EXPECT_EQ(row(10).substr(45, 7), "(@) All");
  // the list shows its entry without "&"
  EXPECT_EQ(row(12).substr(13, 10), "First     ");
  // buttons: the default one stands out while an edit field has the focus
  EXPECT_EQ(row(14).substr(15, 16), ">      OK      <");
  EXPECT_EQ(attr(16, 14), g_colors.DialogDefault);
  EXPECT_EQ(attr(36, 14), g_colors.DialogText);
}

TEST_F(DialogTest, FocusedButtonAndDisabledControlsUseTheirColours) {
  g_full_controls[kCheckCtl].disabled = 1;
  ScreenSnapshot shown;
  g_key_hooks.show_help = [&](int) { shown = save_screen(); };
  EXPECT_EQ(run_full({kDown, kEnd, kRight, 0x3B00, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kCancelCtl);
  auto attr = [&](int x, int y) { return shown.cells[y * 80 + x].attr; };
  EXPECT_EQ(attr(31, 13), g_colors.DialogButton);  // Cancel
  EXPECT_EQ(attr(11, 13), g_colors.DialogText);    // OK loses its default look
  EXPECT_EQ(attr(8, 7), g_colors.DialogDisabled);  // the check box
}

TEST_F(DialogTest, UpDownTabAndShiftTabWrapAndSkipDisabledControls) {
  g_full_controls[kApplyCtl].disabled = 1;
  g_full_controls[kCheckCtl].disabled = 1;
  EXPECT_EQ(run_full({kUp, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kCancelCtl);  // the last enabled control
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kDown, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kRadioA);
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kTab, kTab, kShiftTab, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kRadioA);
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kUp, kDown, kEsc}), 0);  // from the last back to the first
  EXPECT_EQ(g_full.focus, kEditCtl);
}

TEST_F(DialogTest, HomeEndAndSameRowMoves) {
  // in an edit field End is the field's own key
  EXPECT_EQ(run_full({kEnd, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kEditCtl);
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kDown, kEnd, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kOkCtl);
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kDown, kEnd, kRight, kRight, kRight, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kApplyCtl);  // no control after it on the row
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kDown, kEnd, kTab, kHome, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kEditCtl);
  dialog_finish(g_full);

  // Left stops at a disabled neighbour instead of jumping over it
  g_full_controls[kRadioB].disabled = 1;
  EXPECT_EQ(run_full({kDown, kDown, kDown, kLeft, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kRadioC);
  dialog_finish(g_full);
  g_full_controls[kRadioB].disabled = 0;

  // Left and Right inside an edit field move its cursor, not the focus
  EXPECT_EQ(run_full({'a', 'b', kLeft, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kEditCtl);
  EXPECT_EQ(g_expr.pos, 1);
  dialog_finish(g_full);

  // End whose default button is disabled leaves the focus
  g_full_controls[kOkCtl].disabled = 1;
  EXPECT_EQ(run_full({kDown, kEnd, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kCheckCtl);
}

TEST_F(DialogTest, EnterRules) {
  // on an edit field the default button acts
  EXPECT_EQ(run_full({'x', kEnter}), 7);
  dialog_finish(g_full);
  // on a push button without action: its own result; -1 becomes 0
  EXPECT_EQ(run_full({kDown, kEnd, kTab, kEnter}), 0);
  dialog_finish(g_full);
  // a button with an action runs it and the dialog stays open
  EXPECT_EQ(run_full({kUp, kEnter, kEnter, kEsc}), 0);
  EXPECT_EQ(g_action_calls, 2);
  EXPECT_EQ(g_action_topic, 27);
  dialog_finish(g_full);
  // without an enabled default button Enter on a check box does nothing
  g_full_controls[kOkCtl].disabled = 1;
  EXPECT_EQ(run_full({kDown, kEnter, kEsc}), 0);
  EXPECT_EQ(g_full.values[0], 0);
}

TEST_F(DialogTest, EnterOnARadioButtonSelectsItThenActsAsDefault) {
  g_full.values[1] = 0;
  EXPECT_EQ(run_full({kDown, kDown, kDown, kEnter, kEsc}), 0);
  EXPECT_EQ(g_full.values[1], 1);  // radio B chosen, dialog still open until Esc
  dialog_finish(g_full);

  g_full.values[1] = 0;
  EXPECT_EQ(run_full({kDown, kDown, kDown, kEnter, kEnter}), 7);
  EXPECT_EQ(g_full.values[1], 1);
}

TEST_F(DialogTest, SpaceTogglesCheckBoxesAndChoosesRadioButtons) {
  EXPECT_EQ(run_full({kDown, ' ', kEsc}), 0);
  EXPECT_EQ(g_full.values[0], 1);
  dialog_finish(g_full);
  EXPECT_EQ(run_full({kDown, ' ', ' ', ' ', kEsc}), 0);
  EXPECT_EQ(g_full.values[0], 0);  // values persist between runs: 1 -> 0 -> 1 -> 0
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kDown, kDown, kDown, kDown, ' ', kEsc}), 0);
  EXPECT_EQ(g_full.values[1], 2);
  dialog_finish(g_full);
  // a space typed into the edit field is text
  EXPECT_EQ(run_full({'a', ' ', 'b', kEnter}), 7);
  EXPECT_STREQ(g_expr.text, "a b");
}

TEST_F(DialogTest, ListOpensAMenuOfItsEntries) {
  EXPECT_EQ(run_full({kDown, kEnd, kUp, ' ', kDown, kEnter, kEsc}), 0);
  EXPECT_EQ(g_full.focus, kListCtl);
  EXPECT_EQ(g_list.selected, 1);
  EXPECT_STREQ(g_list.text, "S&econd");
  dialog_finish(g_full);

  // F4 opens it too; Esc in the menu keeps the selection
  EXPECT_EQ(run_full({kDown, kEnd, kUp, kF4, kEsc, kEsc}), 0);
  EXPECT_EQ(g_list.selected, 1);
  dialog_finish(g_full);
  EXPECT_EQ(run_full({kDown, kEnd, kUp, kF4, 'T', kEnter, kEnter}), 7);
  EXPECT_EQ(g_list.selected, 2);
}

int g_hook_calls = 0;
std::vector<int> g_hook_keys;
std::vector<int> g_hook_previous;
int counting_hook(int previous, Dialog& dialog, int key) {
  g_hook_keys.push_back(key);
  g_hook_previous.push_back(previous);
  // the edit line is enabled only while the check box is ticked
  dialog.controls[kEditCtl].disabled = dialog.values[0] ? 0 : 1;
  return ++g_hook_calls;
}

TEST_F(DialogTest, HookRunsBeforeEveryRedrawAndOnEnter) {
  g_hook_calls = 0;
  g_hook_keys.clear();
  g_hook_previous.clear();
  g_full.values[0] = 1;
  EXPECT_EQ(run_full({kDown, kEnter}, counting_hook), 7);
  EXPECT_EQ(g_hook_keys, (std::vector<int>{0, 0, 0x1C0D}));
  EXPECT_EQ(g_hook_previous, (std::vector<int>{0, 1, 2}));
  dialog_finish(g_full);

  // unticking disables the edit line, and Up then skips it
  EXPECT_EQ(run_full({kDown, ' ', kUp, kEsc}, counting_hook), 0);
  EXPECT_EQ(g_full.values[0], 0);
  EXPECT_EQ(g_full.focus, kApplyCtl);
}

TEST_F(DialogTest, FocusStartsOnTheFirstEnabledControl) {
  g_full_controls[kEditCtl].disabled = 1;
  EXPECT_EQ(run_full({'z', kEsc}), 0);
  EXPECT_EQ(g_full.focus, kCheckCtl);
  EXPECT_STREQ(g_expr.text, "");
}

TEST_F(DialogTest, FileKeyFillsTheFieldExceptInThePatternBox) {
  std::string offered = "/tmp/out.txt";
  int panel_calls = 0;
  g_dialog_hooks.file_panel = [&](const char* mask, std::string& chosen) {
    ++panel_calls;
    EXPECT_STREQ(mask, "*.*");
    chosen = offered;
    return 1;
  };
  EXPECT_EQ(run_full({kF4, kEnter}), 7);
  EXPECT_EQ(panel_calls, 1);
  EXPECT_STREQ(g_expr.text, "/tmp/out.txt");
  dialog_finish(g_full);

  offered = std::string(40, 'n');  // not shorter than the size: ignored
  dialog_prepare(g_full);
  std::strcpy(g_expr.text, "keep");
  keys({kF4, kEnter});
  EXPECT_EQ(dialog_run(g_full, nullptr), 7);
  EXPECT_STREQ(g_expr.text, "keep");
  dialog_finish(g_full);

  g_full.topic = 51;
  offered.assign(1, 'x');
  EXPECT_EQ(run_full({kF4, kEnter}), 7);
  g_full.topic = 27;
  EXPECT_EQ(panel_calls, 2);
  EXPECT_STREQ(g_expr.text, "");
}

TEST_F(DialogTest, HistoriesAreOfferedOnF3AndSavedOnlyOnConfirm) {
  std::vector<int> saved_focus;
  std::vector<std::string> saved_text;
  int popups = 0;
  g_dialog_hooks.history_popup = [&](Dialog& dialog) {
    ++popups;
    EXPECT_EQ(dialog.focus, kEditCtl);
    std::strcpy(control_edit(dialog.controls[dialog.focus])->text, "from history");
  };
  g_dialog_hooks.history_save = [&](Dialog& dialog) {
    saved_focus.push_back(dialog.focus);
    saved_text.push_back(control_edit(dialog.controls[dialog.focus])->text);
  };
  EXPECT_EQ(run_full({kF3, kEsc}), 0);
  EXPECT_EQ(popups, 1);
  EXPECT_TRUE(saved_focus.empty());
  dialog_finish(g_full);

  EXPECT_EQ(run_full({kF3, kDown, kEnter}), 7);
  EXPECT_EQ(saved_focus, (std::vector<int>{kEditCtl}));
  EXPECT_EQ(saved_text, (std::vector<std::string>{"from history"}));
  EXPECT_EQ(g_full.focus, kCheckCtl);  // put back after saving
}

TEST_F(DialogTest, InputFilenameEditsThePreset) {
  keys({kEnd});
  type(".bak");
  keys({kEnter});
  std::optional<std::string> name = input_filename("data.txt");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(*name, "data.txt.bak");

  type("x");
  keys({kEnter});
  EXPECT_EQ(input_filename("a.txt").value_or(""), "xa.txt");  // typed at the cursor

  keys({0x1519, kEnter});  // Ctrl+Y empties: nothing is returned
  EXPECT_FALSE(input_filename("a.txt").has_value());
  keys({kEsc});
  EXPECT_FALSE(input_filename("a.txt").has_value());
}

}  // namespace
}  // namespace kora
