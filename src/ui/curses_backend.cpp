// The screen on a real terminal through ncursesw: start and end, painting
// the grid (code page 866 bytes as Unicode glyphs), and reading input with
// poll() so that an idle program sleeps.
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "ui/backend.h"
#include "ui/codepage.h"
#include "ui/keys.h"
#include "ui/screen.h"

namespace kora {

static_assert(kCursesDown == KEY_DOWN && kCursesUp == KEY_UP && kCursesLeft == KEY_LEFT &&
              kCursesRight == KEY_RIGHT && kCursesHome == KEY_HOME && kCursesBackspace == KEY_BACKSPACE &&
              kCursesF0 == KEY_F0 && kCursesDc == KEY_DC && kCursesIc == KEY_IC &&
              kCursesNpage == KEY_NPAGE && kCursesPpage == KEY_PPAGE && kCursesEnter == KEY_ENTER &&
              kCursesBtab == KEY_BTAB && kCursesEnd == KEY_END && kCursesSuspend == KEY_SUSPEND);

namespace {

int g_winch_pipe[2] = {-1, -1};

void on_winch(int) {
  int saved = errno;
  char byte = 1;
  ssize_t ignored = write(g_winch_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

// Terminal modes asked for at start and given back at the end: xterm's
// modifyOtherKeys, kitty's key reports, and Alt sending ESC. The numeric
// keypad mode (ESC >) undoes the application keypad that curses asks for,
// whose digit keys terminfo cannot name portably: keypad digits type digits.
constexpr char kModesOn[] = "\x1b[>4;1m\x1b[>1u\x1b[?1036h\x1b>";
constexpr char kModesOff[] = "\x1b[>4;0m\x1b[<u\x1b[?1036l";

void write_all(const char* text) {
  size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, text, length);
    if (written <= 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// DOS colour numbers -> curses colour numbers.
constexpr short kDosToCurses[8] = {0, 4, 2, 6, 1, 5, 3, 7};
constexpr int kBlackOnBlackPair = 64;

// Extended key names of terminfo (kLFT5 ...) -> base key.
struct NamedKey {
  const char* prefix;
  int key;
};
constexpr NamedKey kNamedKeys[] = {
    {"kUP", kCursesUp},     {"kDN", kCursesDown}, {"kLFT", kCursesLeft}, {"kRIT", kCursesRight},
    {"kHOM", kCursesHome},  {"kEND", kCursesEnd}, {"kIC", kCursesIc},    {"kDC", kCursesDc},
    {"kNXT", kCursesNpage}, {"kPRV", kCursesPpage},
};

// Shifted keys curses reports with codes of their own.
struct ShiftedKey {
  int curses_key;
  int key;
};
constexpr ShiftedKey kShiftedKeys[] = {
    {KEY_SR, kCursesUp},      {KEY_SF, kCursesDown},     {KEY_SLEFT, kCursesLeft},
    {KEY_SRIGHT, kCursesRight}, {KEY_SHOME, kCursesHome}, {KEY_SEND, kCursesEnd},
    {KEY_SIC, kCursesIc},     {KEY_SDC, kCursesDc},      {KEY_SNEXT, kCursesNpage},
    {KEY_SPREVIOUS, kCursesPpage}, {KEY_BTAB, kCursesBtab},
};

struct KeypadName {
  const char* name;
  int ch;
};
constexpr KeypadName kKeypadNames[] = {
    {"kpADD", '+'}, {"kpSUB", '-'}, {"kpMUL", '*'}, {"kpDIV", '/'},
    {"kpDOT", '.'}, {"kpCMA", ','}, {"kpZRO", '0'},
};

// The curses keys the key tables know (besides those mapped above).
bool is_used_curses_key(int c) {
  if (c >= KEY_F(0) && c <= KEY_F(63)) return true;
  switch (c) {
    case KEY_DOWN: case KEY_UP: case KEY_LEFT: case KEY_RIGHT: case KEY_HOME:
    case KEY_BACKSPACE: case KEY_DC: case KEY_IC: case KEY_NPAGE: case KEY_PPAGE:
    case KEY_END: case KEY_SUSPEND:
      return true;
    default:
      return false;
  }
}

}  // namespace

// A curses key value -> input token (base key with modifiers).
// linux_console: the console reports Shift+Fn as F(n+10) and its modifier
// state separately, so function keys above 12 stay as they are there.
int curses_key_token(int c, const char* name, bool linux_console) {
  if (c == KEY_ENTER) return key_token(13, 0);
  for (const ShiftedKey& shifted : kShiftedKeys) {
    if (shifted.curses_key == c) return key_token(shifted.key, kModShift);
  }
  if (!linux_console && c >= KEY_F(13) && c <= KEY_F(60)) {
    // xterm terminfo: Shift, Ctrl, Ctrl+Shift, Alt with F1..F12.
    static constexpr int kGroupMods[4] = {kModShift, kModCtrl, kModCtrl | kModShift, kModAlt};
    int n = c - KEY_F(13);
    return key_token(key_f(n % 12 + 1), kGroupMods[n / 12]);
  }
  if (c > KEY_MAX && name) {
    // Keypad operators in application keypad mode type their characters.
    for (const KeypadName& keypad : kKeypadNames) {
      if (std::strcmp(name, keypad.name) == 0) return keypad.ch;
    }
    for (const NamedKey& named : kNamedKeys) {
      size_t length = std::strlen(named.prefix);
      if (std::strncmp(name, named.prefix, length) == 0 && name[length] >= '2' &&
          name[length] <= '8' && name[length + 1] == 0) {
        int bits = name[length] - '1';
        int mods = ((bits & 1) ? kModShift : 0) | ((bits & 2) ? kModAlt : 0) |
                   ((bits & 4) ? kModCtrl : 0);
        return key_token(named.key, mods);
      }
    }
    return -1;
  }
  // Any other curses key (the keypad corners and centre, Begin, Find ...)
  // has no use here; its value would read as a typed character.
  if (c >= KEY_MIN && c <= KEY_MAX && !is_used_curses_key(c)) return -1;
  return key_token(c, 0);
}

namespace {

class CursesBackend : public Backend {
 public:
  CursesBackend(bool utf8, bool linux_console, bool monochrome)
      : utf8_(utf8), linux_console_(linux_console), monochrome_(monochrome) {}

  int wait_input(int timeout_ms, std::vector<int>& units) override {
    int count = drain(units);
    if (count > 0) return count;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_winch_pipe[0], POLLIN, 0}};
    int ready = poll(fds, 2, timeout_ms);
    if (ready > 0 && (fds[1].revents & POLLIN)) {
      char buffer[64];
      while (read(g_winch_pipe[0], buffer, sizeof buffer) > 0) {
      }
      resize();
    }
    count = drain(units);
    // A terminal that hung up would wake poll() at once for ever.
    if (count == 0 && ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) return -1;
    // So would input at its end (a file or /dev/null): readable, yet curses
    // gets nothing, time after time. A few such wake-ups in a row end input.
    if (count == 0 && ready > 0 && (fds[0].revents & POLLIN)) {
      if (++empty_wakeups_ >= kEmptyWakeupsAtEnd) return -1;
    } else if (count > 0) {
      empty_wakeups_ = 0;
    }
    return count;
  }

  long long now_ms() override {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }

  bool escape_delay_spent() override { return trailing_escape_; }

  int shift_state() override { return linux_console_ ? console_shift_state() : 0; }

  void bell() override { beep(); }

  void present() override;

  void resize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) < 0 || size.ws_row == 0) return;
    resizeterm(size.ws_row, size.ws_col);
    painted_.clear();
    clearok(curscr, TRUE);
    screen_resized(LINES, COLS);
  }

 private:
  // Reads everything curses has without waiting; curses may hold bytes
  // that poll() cannot see.
  int drain(std::vector<int>& units) {
    int count = 0;
    for (;;) {
      int c = wgetch(stdscr);
      if (c == ERR) break;
      if (c == KEY_RESIZE || c == KEY_MOUSE) continue;
      int unit = c < 256 ? c : curses_key_token(c, keyname(c), linux_console_);
      if (unit < 0) continue;
      units.push_back(unit);
      ++count;
    }
    // curses returns a lone ESC only after waiting the escape delay itself.
    trailing_escape_ = count > 0 && units.back() == 0x1B;
    return count;
  }

  void make_cell(const Cell& cell, cchar_t& out) const;

  bool utf8_;
  bool linux_console_;
  // A terminal without colours (vt100, xterm-mono): cells on a light
  // background (the cursor bar, selections, menus' highlight) are drawn in
  // reverse video, bright ones in bold.
  bool monochrome_;
  bool trailing_escape_ = false;
  static constexpr int kEmptyWakeupsAtEnd = 3;
  int empty_wakeups_ = 0;
  int painted_rows_ = 0;
  int painted_cols_ = 0;
  int painted_visibility_ = -1;
  std::vector<Cell> painted_;
};

// Line-drawing bytes for terminals without Unicode.
const cchar_t* line_glyph(unsigned char byte) {
  switch (byte) {
    case 0xB3: return WACS_VLINE;
    case 0xC4: return WACS_HLINE;
    case 0xDA: return WACS_ULCORNER;
    case 0xBF: return WACS_URCORNER;
    case 0xC0: return WACS_LLCORNER;
    case 0xD9: return WACS_LRCORNER;
    case 0xC3: return WACS_LTEE;
    case 0xB4: return WACS_RTEE;
    case 0xC2: return WACS_TTEE;
    case 0xC1: return WACS_BTEE;
    case 0xC5: return WACS_PLUS;
    case 0xBA: return WACS_D_VLINE;
    case 0xCD: return WACS_D_HLINE;
    case 0xC9: return WACS_D_ULCORNER;
    case 0xBB: return WACS_D_URCORNER;
    case 0xC8: return WACS_D_LLCORNER;
    case 0xBC: return WACS_D_LRCORNER;
    case 0xCC: return WACS_D_LTEE;
    case 0xB9: return WACS_D_RTEE;
    case 0xCB: return WACS_D_TTEE;
    case 0xCA: return WACS_D_BTEE;
    case 0xCE: return WACS_D_PLUS;
    case 0xB0: case 0xB1: case 0xB2: return WACS_CKBOARD;
    case 0xDB: return WACS_BLOCK;
    case 0xFE: return WACS_BULLET;
    case 0xF8: return WACS_DEGREE;
    default: return nullptr;
  }
}

void CursesBackend::make_cell(const Cell& cell, cchar_t& out) const {
  attr_t attrs = A_NORMAL;
  short pair = 0;
  if (!cell.plain && monochrome_) {
    int bg = (cell.attr >> 4) & 0x07;
    // Green, cyan, brown and grey backgrounds are the light ones.
    if (bg == 2 || bg == 3 || bg == 6 || bg == 7) attrs |= A_REVERSE;
    if (cell.attr & 8) attrs |= A_BOLD;
  } else if (!cell.plain) {
    int fg = cell.attr & 0x0F;
    int bg = (cell.attr >> 4) & 0x07;
    pair = static_cast<short>(kDosToCurses[fg & 7] + 8 * kDosToCurses[bg]);
    if (pair == 0 && COLOR_PAIRS > kBlackOnBlackPair) pair = kBlackOnBlackPair;
    if (fg & 8) attrs |= A_BOLD;
  }
  wchar_t text[3] = {0, 0, 0};
  int byte = utf8_ ? -1 : unicode_to_cp866(static_cast<std::uint32_t>(cell.ch));
  if (!utf8_ && ascii_stand_in(cell.ch)) {
    text[0] = static_cast<wchar_t>(ascii_stand_in(cell.ch));
  } else if (utf8_ || (byte >= 0 && byte < 0x80)) {
    text[0] = static_cast<wchar_t>(cell.ch);
    text[1] = static_cast<wchar_t>(cell.mark);
  } else if (const cchar_t* glyph = byte > 0 ? line_glyph(static_cast<unsigned char>(byte)) : nullptr) {
    attr_t glyph_attrs;
    short glyph_pair;
    wchar_t glyph_text[CCHARW_MAX + 1];
    getcchar(glyph, glyph_text, &glyph_attrs, &glyph_pair, nullptr);
    setcchar(&out, glyph_text, attrs | glyph_attrs, pair, nullptr);
    return;
  } else {
    text[0] = L'?';
  }
  setcchar(&out, text, attrs, pair, nullptr);
}

void CursesBackend::present() {
  int rows = g_screen.rows;
  int cols = g_screen.cols;
  bool full = rows != painted_rows_ || cols != painted_cols_ ||
              painted_.size() != g_screen.cells.size();
  if (full) {
    painted_.assign(g_screen.cells.size(), Cell{});
    painted_rows_ = rows;
    painted_cols_ = cols;
  }
  std::vector<cchar_t> line(static_cast<size_t>(cols) + 1);
  for (int y = 0; y < rows; ++y) {
    const Cell* now = &g_screen.cells[static_cast<size_t>(y) * cols];
    Cell* before = &painted_[static_cast<size_t>(y) * cols];
    int first = 0;
    int last = cols - 1;
    if (!full) {
      while (first < cols && now[first] == before[first]) ++first;
      if (first == cols) continue;
      while (last > first && now[last] == before[last]) --last;
    }
    if (first > 0 && now[first].ch == kWideTail) --first;  // a wide character is drawn whole
    bool wide = false;
    for (int x = first; x <= last; ++x) {
      make_cell(now[x], line[static_cast<size_t>(x - first)]);
      before[x] = now[x];
      wide = wide || now[x].ch == kWideTail;
    }
    if (!wide) {
      mvwadd_wchnstr(stdscr, y, first, line.data(), last - first + 1);
      continue;
    }
    // A wide character takes two columns when put one at a time.
    for (int x = first; x <= last; ++x) {
      if (now[x].ch != kWideTail) mvwadd_wch(stdscr, y, x, &line[static_cast<size_t>(x - first)]);
    }
  }
  if (painted_visibility_ != g_screen.cursor_visibility) {
    curs_set(g_screen.cursor_visibility);
    painted_visibility_ = g_screen.cursor_visibility;
  }
  if (g_screen.cursor_y >= 0 && g_screen.cursor_y < rows && g_screen.cursor_x >= 0 &&
      g_screen.cursor_x < cols) {
    wmove(stdscr, g_screen.cursor_y, g_screen.cursor_x);
  }
  wnoutrefresh(stdscr);
  doupdate();
}

// ---- start and end -------------------------------------------------------------

struct CursesSession {
  CursesBackend* backend = nullptr;
  termios saved_termios{};
  cc_t saved_chars[5] = {};
  bool have_termios = false;
  struct sigaction saved_winch {};
};
CursesSession g_session;

constexpr int kControlChars[5] = {VINTR, VQUIT, VSTART, VSTOP, VSUSP};

void disable_control_chars() {
  termios settings;
  if (tcgetattr(STDIN_FILENO, &settings) != 0) return;
  g_session.have_termios = true;
  for (int i = 0; i < 5; ++i) {
    g_session.saved_chars[i] = settings.c_cc[kControlChars[i]];
    settings.c_cc[kControlChars[i]] = 0;
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

void restore_control_chars() {
  termios settings;
  if (!g_session.have_termios || tcgetattr(STDIN_FILENO, &settings) != 0) return;
  for (int i = 0; i < 5; ++i) settings.c_cc[kControlChars[i]] = g_session.saved_chars[i];
  tcsetattr(STDIN_FILENO, TCSANOW, &settings);
}

void init_color_pairs() {
  for (int p = 1; p < 64 && p < COLOR_PAIRS; ++p) {
    init_pair(static_cast<short>(p), static_cast<short>(p % 8), static_cast<short>(p / 8));
  }
  if (COLOR_PAIRS > kBlackOnBlackPair) init_pair(kBlackOnBlackPair, COLOR_BLACK, COLOR_BLACK);
}

void start_resize_watch() {
  if (pipe(g_winch_pipe) != 0) return;
  for (int fd : g_winch_pipe) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction action {};
  action.sa_handler = on_winch;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, &g_session.saved_winch);
}

void stop_resize_watch() {
  if (g_winch_pipe[0] < 0) return;
  sigaction(SIGWINCH, &g_session.saved_winch, nullptr);
  close(g_winch_pipe[0]);
  close(g_winch_pipe[1]);
  g_winch_pipe[0] = g_winch_pipe[1] = -1;
}

bool is_linux_console() {
  char arg = 6;
  return ioctl(STDIN_FILENO, TIOCLINUX, &arg) == 0;
}

}  // namespace

int screen_open() {
  std::setlocale(LC_ALL, "");
  // Numbers in tables and exports are always written with a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  initscr();  // on failure curses prints "Error opening terminal: %s." and exits 1
  wbkgdset(stdscr, ' ');
  bool colors = has_colors();
  if (colors) start_color();
  keypad(stdscr, TRUE);
  nonl();
  cbreak();
  noecho();
  std::fflush(stdout);
  wtimeout(stdscr, 0);
  set_escdelay(kEscDelayMs);
  disable_control_chars();
  use_extended_names(TRUE);
  if (colors) init_color_pairs();
  write_all(kModesOn);

  bool linux_console = is_linux_console();
  g_session.backend = new CursesBackend(utf8, linux_console, !colors);
  g_screen.rows = 0;
  g_screen.cols = 0;
  g_screen.cells.clear();
  screen_set_size(LINES, COLS);
  g_screen.right_margin = 0;
  g_screen.unicode = utf8;
  g_screen.backend = g_session.backend;
  g_screen.open = true;
  key_input_reset(utf8);
  start_resize_watch();
  return 1;
}

int screen_close() {
  if (!g_session.backend) return 1;
  stop_resize_watch();
  restore_control_chars();
  flushinp();
  noraw();
  cbreak();
  noecho();
  scrollok(stdscr, TRUE);
  idlok(stdscr, TRUE);
  keypad(stdscr, TRUE);
  reset_prog_mode();
  wclear(stdscr);
  wrefresh(stdscr);
  endwin();
  write_all(kModesOff);
  g_screen.backend = nullptr;
  g_screen.open = false;
  delete g_session.backend;
  g_session.backend = nullptr;
  return 1;
}

}  // namespace kora
