// The keyboard: every key reaches the program as a 16-bit KeyCode in the PC
// BIOS layout (scan code in the high byte, character in the low byte; Enter
// 0x1C0D, Esc 0x011B, F1 0x3B00, Up 0x4800). Keys without a BIOS code keep
// their curses value (plain characters have a zero high byte: "a" 0x0061).
#pragma once

#include <functional>

namespace kora {

// Curses key values (the same numbers as KEY_* in <curses.h>; not KeyCodes),
// so that this
// header and the pure key parser do not need curses.
enum CursesKey : int {
  kCursesDown = 0402,
  kCursesUp = 0403,
  kCursesLeft = 0404,
  kCursesRight = 0405,
  kCursesHome = 0406,
  kCursesBackspace = 0407,
  kCursesF0 = 0410,  // kCursesF0 + n is function key n (1..63)
  kCursesDc = 0512,
  kCursesIc = 0513,
  kCursesNpage = 0522,
  kCursesPpage = 0523,
  kCursesEnter = 0527,
  kCursesBtab = 0541,
  kCursesEnd = 0550,
  kCursesSuspend = 0627,
};
constexpr int key_f(int n) { return kCursesF0 + n; }

// Modifier bits, the Linux console's own values.
enum KeyMods : int { kModShift = 1, kModCtrl = 4, kModAlt = 8 };

// A key as the terminal reported it, before it becomes a KeyCode.
struct KeyEvent {
  int base = 0;   // curses value: a character (code page 866) or kKey*
  int mods = 0;   // KeyMods bits carried by the sequence itself
  unsigned code_point = 0;  // the typed character in Unicode, 0 for none
  int final_code = -1;      // >= 0: already a KeyCode (tests, macros)
};

// The console's translation: (curses value, shift state 0/1/4/8) through
// the four tables; anything not listed, or another state, stays unchanged.
int translate_key(int curses_key, int shift_state);

// (base key, modifiers) -> KeyCode for modifiers that came inside escape
// sequences; Alt wins over Ctrl over Shift. Full BIOS tables: Alt+letters,
// Alt+digits, Ctrl/Shift/Alt with F1..F12, arrows, Home, End, PgUp, PgDn,
// Ins, Del, Tab.
int bios_key(int base, int mods);

// The KeyCode for an event, given the console's shift state (0 elsewhere).
int key_code_for(const KeyEvent& event, int console_shift);

// Modifier state of the Linux console (TIOCLINUX 6 on standard input):
// 0 none or unreadable, 1 Shift, 4 Ctrl, 8 Alt, other combinations as given.
int shift_state();

// Called on every empty wait of get_key. mouse_x/mouse_y carry nothing.
using IdleHook = void (*)(int help_topic, int shift_state, int mouse_x, int mouse_y);

// Set by higher layers (help, macros). Any of them may be empty.
struct KeyHooks {
  std::function<void(int help_topic)> show_help;  // F1
  std::function<int()> play_next;       // next played macro key, -1 none
  std::function<void()> toggle_record;  // Ctrl+. (kKeyCtrlDot)
  std::function<bool()> recording;
  std::function<void(int key)> record;
  // A key whose character the macro file cannot keep (one code page 866
  // lacks) was typed while recording.
  std::function<void(char32_t typed)> cannot_record;
  // Starts playing the macro on this hot key; false when there is none.
  std::function<bool(int key)> start_macro;
};
extern KeyHooks g_key_hooks;

// The last shift state the idle hook saw; get_key sets it to -1 each time
// it starts waiting, so the hook redraws state-dependent labels.
extern int g_idle_shift_seen;

// Waits for one key: calls idle_hook (may be null) several times a second,
// handles F1 (help for help_topic), Ctrl+. and macro hot keys itself.
int get_key(int help_topic, IdleHook idle_hook);
// The same, but Shift with an arrow, Home, End, PgUp, PgDn, Ins or Del
// keeps its own code (kKeyShiftUp ...), for a screen that selects and
// pastes with them; get_key gives the plain key for those.
int get_select_key(int help_topic, IdleHook idle_hook);

// The character a key types. A key carries only its code page 866 byte
// ('?' for a character 866 lacks); get_key also keeps the Unicode character
// the terminal sent with the last key, which is the answer when it belongs
// to this key. Otherwise (keys played by a macro, KeyCodes given by tests)
// it is what the 866 byte stands for; 0 for a key without a character.
char32_t typed_character(int key);

// Long walks stop on Esc. hold_typed_keys, called as a walk starts, keeps
// every key typed before it for get_key; escape_pressed then reads what has
// been typed since without waiting: true when Esc is among it (it is taken),
// any other key is kept for get_key.
void hold_typed_keys();
bool escape_pressed();

// True when the last wait found that no input can ever come again (the
// terminal hung up, or a test script ran out). Loops that would ask the user
// a question again after an Esc check it so that they end.
bool input_closed();

// Starts key decoding afresh (screen_open does this); utf8 tells whether
// the terminal sends UTF-8.
void key_input_reset(bool utf8);
// The console's modifier state read directly (TIOCLINUX), 0 elsewhere.
int console_shift_state();

// Escape delay: an ESC not followed by more within this time is the Esc key.
constexpr int kEscDelayMs = 100;

}  // namespace kora
