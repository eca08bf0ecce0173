#include "ui/keys.h"

#include <sys/ioctl.h>

#include <deque>
#include <vector>

#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/key_codes.h"
#include "ui/key_parser.h"
#include "ui/screen.h"

namespace kora {

namespace {
bool g_input_closed = false;  // the last wait found the input gone for good
}  // namespace


KeyHooks g_key_hooks;
int g_idle_shift_seen = -1;

namespace {

struct KeyPair {
  int key;
  int code;
};

// ---- the console's four tables ------------------------------------------------

constexpr KeyPair kPlainKeys[] = {
    {key_f(1), 0x3B00}, {key_f(2), 0x3C00}, {key_f(3), 0x3D00}, {key_f(4), 0x3E00},
    {key_f(5), 0x3F00}, {key_f(6), 0x4000}, {key_f(7), 0x4100}, {key_f(8), 0x4200},
    {key_f(9), 0x4300}, {key_f(10), 0x4400}, {key_f(11), 0x8500}, {key_f(12), 0x8600},
    {kCursesUp, 0x4800},   {kCursesDown, 0x5000},  {kCursesRight, 0x4D00}, {kCursesLeft, 0x4B00},
    {kCursesIc, 0x5200},   {kCursesDc, 0x5300},    {kCursesHome, 0x4700},  {kCursesEnd, 0x4F00},
    {kCursesPpage, 0x4900}, {kCursesNpage, 0x5100}, {13, 0x1C0D},       {27, 0x011B},
    {9, 0x0F09},
};

// The console reports Shift+Fn as function key n + 10.
constexpr KeyPair kShiftKeys[] = {
    {9, 0x0F00},
    {key_f(11), 0x5400}, {key_f(12), 0x5500}, {key_f(13), 0x5600}, {key_f(14), 0x5700},
    {key_f(15), 0x5800}, {key_f(16), 0x5900}, {key_f(17), 0x5A00}, {key_f(18), 0x5B00},
    {key_f(19), 0x5C00}, {key_f(20), 0x5D00},
};

constexpr KeyPair kCtrlKeys[] = {
    {key_f(1), 0x5E00}, {key_f(2), 0x5F00}, {key_f(3), 0x6000}, {key_f(4), 0x6100},
    {key_f(5), 0x6200}, {key_f(6), 0x6300}, {key_f(7), 0x6400}, {key_f(8), 0x6500},
    {key_f(9), 0x6600}, {key_f(10), 0x6700},
    {'.', 0xBE00},      {kCursesUp, 0x8D00},    {kCursesDown, 0x9100},  {kCursesRight, 0x7400},
    {kCursesLeft, 0x7300}, {kCursesHome, 0x7700},  {kCursesEnd, 0x7500},   {kCursesPpage, 0x8400},
    {kCursesNpage, 0x7600}, {kCursesIc, 0x9200},   {kCursesDc, 0x9300},    {30, 0x071E},
    {kCursesBackspace, 0x2B1C}, {31, 0x0C1F},   {28, 0x2B1C},        {8, 0x0E7F},
    {9, 0x9400},        {29, 0x1B1D},        {7, 0x1A1B},         {13, 0x1C0A},
    {1, 0x1E01},        {2, 0x3002},         {3, 0x2E03},         {4, 0x2004},
    {5, 0x1205},        {6, 0x2106},         {10, 0x240A},        {11, 0x250B},
    {12, 0x260C},       {14, 0x310E},        {15, 0x180F},        {16, 0x1910},
    {17, 0x1011},       {18, 0x1312},        {19, 0x1F13},        {20, 0x1414},
    {21, 0x1615},       {22, 0x2F16},        {23, 0x1117},        {24, 0x2D18},
    {25, 0x1519},       {kCursesSuspend, 0x2C1A},
};

constexpr KeyPair kAltKeys[] = {
    {'1', 0x7800}, {'2', 0x7900}, {'3', 0x7A00}, {'4', 0x7B00}, {'5', 0x7C00},
    {'6', 0x7D00}, {'7', 0x7E00}, {'8', 0x7F00}, {'9', 0x8000}, {'0', 0x8100},
    {'`', 0x2800}, {'-', 0x8200}, {'=', 0x8300}, {'\\', 0x2B00},
    {kCursesBackspace, 0x0E00}, {9, 0x9409},
    {'[', 0x1A00}, {']', 0x1B00}, {';', 0x2700}, {'\'', 0x2800}, {',', 0x3300},
    {'.', 0x3400}, {'/', 0x3500}, {13, 0x1C0D},
    {'a', 0x1E00}, {'b', 0x3000}, {'c', 0x2E00}, {'d', 0x2000}, {'e', 0x1200},
    {'f', 0x2100}, {'g', 0x2200}, {'h', 0x2300}, {'i', 0x1700}, {'j', 0x2400},
    {'k', 0x2500}, {'l', 0x2600}, {'m', 0x3200}, {'n', 0x3100}, {'o', 0x1800},
    {'p', 0x1900}, {'q', 0x1000}, {'r', 0x1300}, {'s', 0x1F00}, {'t', 0x1400},
    {'u', 0x1600}, {'v', 0x2F00}, {'w', 0x1100}, {'x', 0x2D00}, {'y', 0x1500},
    {128, 0x2C00},
    {kCursesIc, 0xA200}, {kCursesDc, 0xA300}, {kCursesHome, 0x9700}, {kCursesEnd, 0x9F00},
    {kCursesPpage, 0x9900}, {kCursesNpage, 0xA100}, {kCursesDown, 0xA000}, {kCursesUp, 0x9800},
};

static_assert(std::size(kPlainKeys) == 25);
static_assert(std::size(kShiftKeys) == 11);
static_assert(std::size(kAltKeys) == 58);

// ---- the rest of the BIOS layout, for modifiers read from sequences -------
// Searched before the console tables: the sequences name F1..F12 as
// themselves (the console's F11..F20 for Shift do not apply).

constexpr KeyPair kShiftExtra[] = {
    {key_f(1), 0x5400}, {key_f(2), 0x5500}, {key_f(3), 0x5600}, {key_f(4), 0x5700},
    {key_f(5), 0x5800}, {key_f(6), 0x5900}, {key_f(7), 0x5A00}, {key_f(8), 0x5B00},
    {key_f(9), 0x5C00}, {key_f(10), 0x5D00}, {key_f(11), 0x8700}, {key_f(12), 0x8800},
    {kCursesBtab, 0x0F00},
};

// Shift with the cursor keys, Ins and Del: codes of kora's own (the BIOS
// has none), for selecting. Whether they come in a sequence or as the
// console's plain key with its shift state.
constexpr KeyPair kShiftMoves[] = {
    {kCursesUp, 0xB000},   {kCursesDown, 0xB100}, {kCursesLeft, 0xB200}, {kCursesRight, 0xB300},
    {kCursesHome, 0xB400}, {kCursesEnd, 0xB500},  {kCursesPpage, 0xB600}, {kCursesNpage, 0xB700},
    {kCursesIc, 0xB800},   {kCursesDc, 0xB900},
};

constexpr KeyPair kCtrlExtra[] = {
    {key_f(11), 0x8900}, {key_f(12), 0x8A00}, {kCursesBackspace, 0x0E7F},
    {26, 0x2C1A},        {0, 0x0300},         {'-', 0x0C1F},
    {'[', 0x1A1B},       {']', 0x1B1D},       {'\\', 0x2B1C},
};

constexpr KeyPair kAltExtra[] = {
    {key_f(1), 0x6800}, {key_f(2), 0x6900}, {key_f(3), 0x6A00}, {key_f(4), 0x6B00},
    {key_f(5), 0x6C00}, {key_f(6), 0x6D00}, {key_f(7), 0x6E00}, {key_f(8), 0x6F00},
    {key_f(9), 0x7000}, {key_f(10), 0x7100}, {key_f(11), 0x8B00}, {key_f(12), 0x8C00},
    {'z', 0x2C00},      {kCursesLeft, 0x9B00},  {kCursesRight, 0x9D00}, {27, 0x0100},
    {9, 0xA500},        {8, 0x0E00},
};

template <size_t N>
int find_key(const KeyPair (&table)[N], int key) {
  for (const KeyPair& pair : table) {
    if (pair.key == key) return pair.code;
  }
  return -1;
}

int find_in_state_table(int key, int state) {
  switch (state) {
    case 0: return find_key(kPlainKeys, key);
    case kModShift: return find_key(kShiftKeys, key);
    case kModCtrl: return find_key(kCtrlKeys, key);
    case kModAlt: return find_key(kAltKeys, key);
    default: return -1;
  }
}

int find_in_extra_table(int key, int state) {
  switch (state) {
    case kModShift: {
      int code = find_key(kShiftExtra, key);
      return code >= 0 ? code : find_key(kShiftMoves, key);
    }
    case kModCtrl: return find_key(kCtrlExtra, key);
    case kModAlt: return find_key(kAltExtra, key);
    default: return -1;
  }
}

}  // namespace

int translate_key(int curses_key, int state) {
  int code = find_in_state_table(curses_key, state);
  return code >= 0 ? code : curses_key;
}

int bios_key(int base, int mods) {
  // Shift+Tab reported as its own key: Tab with Shift, so that Ctrl or Alt
  // on top of it still find a code (the key value itself would read as "a").
  if (base == kCursesBtab) {
    base = 9;
    mods |= kModShift;
  }
  int state = (mods & kModAlt) ? kModAlt : (mods & kModCtrl) ? kModCtrl
            : (mods & kModShift) ? kModShift : 0;
  if (state == kModCtrl && ((base >= 'a' && base <= 'z') || (base >= 'A' && base <= 'Z'))) {
    base &= 0x1F;  // Ctrl+letter is the control byte
  }
  if (state == kModAlt && base >= 'A' && base <= 'Z') base += 'a' - 'A';
  int code = find_in_extra_table(base, state);
  if (code < 0) code = find_in_state_table(base, state);
  if (code < 0) code = find_in_state_table(base, 0);
  return code >= 0 ? code : base;
}

int key_code_for(const KeyEvent& event, int console_shift) {
  if (event.final_code >= 0) return event.final_code;
  int code = event.mods ? bios_key(event.base, event.mods | console_shift)
                        : translate_key(event.base, console_shift);
  if (!event.mods && console_shift == kModShift && find_key(kShiftMoves, event.base) >= 0) {
    code = find_key(kShiftMoves, event.base);
  }
  // The editors act on character 8; a plain Backspace must reach them.
  if (code == kCursesBackspace) code = 8;
  // A line feed without Ctrl held is the keypad's Enter as terminals in
  // numeric keypad mode send it (tmux does); the console's Ctrl+J keeps Ctrl.
  if (event.base == '\n' && !event.mods && !(console_shift & kModCtrl)) code = kKeyEnter;
  return code;
}

int console_shift_state() {
  char arg = 6;
  if (ioctl(0, TIOCLINUX, &arg) < 0) return 0;
  return static_cast<unsigned char>(arg);
}

int shift_state() {
  return g_screen.backend ? g_screen.backend->shift_state() : console_shift_state();
}

// ---- waiting for a key ---------------------------------------------------------

namespace {

KeyParser g_parser;
// A key as get_key hands it out, with the Unicode character typed with it.
struct TypedKey {
  int code;
  char32_t character;
};
// Keys decoded while a walk looked for Esc, for get_key in their order.
std::deque<TypedKey> g_typed_keys;
// The character of the last key get_key returned, 0 for none.
char32_t g_last_character = 0;

TypedKey typed_key(const KeyEvent& event, int console_shift) {
  return {key_code_for(event, console_shift), event.final_code >= 0 ? 0 : char32_t(event.code_point)};
}

// Takes what the backend has into the parser without waiting: a poll lets
// a walk's time pass first, a look takes only what has arrived already.
enum class Take { kPoll, kLook };
void take_units(Backend& backend, Take take) {
  std::vector<int> units;
  int got = take == Take::kPoll ? backend.poll_input(units) : backend.wait_input(0, units);
  for (int unit : units) g_parser.push(unit);
  if (got > 0 && backend.escape_delay_spent()) g_parser.expire_pending();
}

// Longest sleep between two calls of the idle hook: the clock and the
// console's modifier state are shown several times a second.
constexpr int kIdleTickMs = 200;

int idle_timeout(long long now_ms) {
  int to_next_second = 1000 - static_cast<int>(now_ms % 1000);
  return to_next_second < kIdleTickMs ? to_next_second : kIdleTickMs;
}

// One key from the backend, calling the idle hook while none is there.
int wait_any_key(int help_topic, IdleHook idle_hook) {
  Backend* backend = g_screen.backend;
  if (!backend) return kKeyEsc;
  if (!g_typed_keys.empty()) {
    TypedKey key = g_typed_keys.front();
    g_typed_keys.pop_front();
    g_last_character = key.character;
    return key.code;
  }
  std::vector<int> units;
  for (;;) {
    long long now = backend->now_ms();
    KeyEvent event;
    int found = g_parser.next(now, event);
    if (found == 1) {
      TypedKey key = typed_key(event, backend->shift_state());
      g_last_character = key.character;
      return key.code;
    }
    if (idle_hook) idle_hook(help_topic, backend->shift_state(), 0, 0);
    show_size_notice();
    backend->present();
    int timeout = found == 0 ? g_parser.wait_ms(now) : idle_timeout(now);
    units.clear();
    int got = backend->wait_input(timeout, units);
    g_input_closed = got < 0;
    // A script that has run out answers Esc, so that every modal loop of
    // a test ends instead of waiting for ever.
    if (got < 0 && !g_parser.pending()) return kKeyEsc;
    for (int unit : units) g_parser.push(unit);
    if (got > 0 && backend->escape_delay_spent()) g_parser.expire_pending();
  }
}

// As wait_any_key; while the screen is too small and shows only its notice,
// keys are dropped: they would act in a window the user cannot see. The
// Esc a closed input answers still comes through, so that loops end.
int wait_key(int help_topic, IdleHook idle_hook) {
  for (;;) {
    int key = wait_any_key(help_topic, idle_hook);
    if (!screen_below_minimum() || g_input_closed) return key;
  }
}

}  // namespace

// A new input starts open: a script that ran out before says nothing of it.
void key_input_reset(bool utf8) {
  g_parser = KeyParser(utf8);
  g_typed_keys.clear();
  g_last_character = 0;
  g_input_closed = false;
}

bool input_closed() { return g_input_closed; }

void hold_typed_keys() {
  Backend* backend = g_screen.backend;
  if (!backend) return;
  take_units(*backend, Take::kLook);
  KeyEvent event;
  while (g_parser.next(backend->now_ms(), event) == 1) {
    g_typed_keys.push_back(typed_key(event, backend->shift_state()));
  }
}

bool escape_pressed() {
  Backend* backend = g_screen.backend;
  if (!backend) return false;
  take_units(*backend, Take::kPoll);
  bool escape = false;
  KeyEvent event;
  while (g_parser.next(backend->now_ms(), event) == 1) {
    TypedKey key = typed_key(event, backend->shift_state());
    if (key.code == kKeyEsc) {
      escape = true;
    } else {
      g_typed_keys.push_back(key);
    }
  }
  return escape;
}

char32_t typed_character(int key) {
  int byte = key & 0xFF;
  if (byte == 0) return 0;
  char32_t typed = g_last_character;
  if (typed != 0) {
    int shown = unicode_to_cp866(typed);
    if (shown == byte || (shown < 0 && byte == '?')) return typed;
  }
  return cp866_to_unicode(static_cast<unsigned char>(byte));
}

int get_key(int help_topic, IdleHook idle_hook) { return unshifted_key(get_select_key(help_topic, idle_hook)); }

int get_select_key(int help_topic, IdleHook idle_hook) {
  for (;;) {
    if (g_key_hooks.play_next) {
      int played = g_key_hooks.play_next();
      if (played >= 0) {
        g_last_character = 0;
        return played;
      }
    }
    g_idle_shift_seen = -1;
    int key;
    for (;;) {
      key = wait_key(help_topic, idle_hook);
      if (key == kKeyCtrlDot && g_key_hooks.toggle_record) {
        g_key_hooks.toggle_record();
        continue;
      }
      bool recording = g_key_hooks.recording && g_key_hooks.recording();
      // Macros keep keys as code page 866: a character it lacks would play
      // back as '?', so it ends the recording instead.
      char32_t typed = g_last_character;
      bool keepable = typed < 0x80 || unicode_to_cp866(typed) == key_char(key);
      if (recording && !keepable && g_key_hooks.cannot_record) {
        g_key_hooks.cannot_record(typed);
      } else if (recording && g_key_hooks.record) {
        g_key_hooks.record(key);
      }
      // A macro bound to F1 plays instead of the help.
      if (!recording && g_key_hooks.start_macro && g_key_hooks.start_macro(key)) break;
      if (key == kKeyF1 && g_key_hooks.show_help) {
        g_key_hooks.show_help(help_topic);
        continue;
      }
      return key;
    }
  }
}

}  // namespace kora
