#include "ui/screen.h"

#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "ui/backend.h"
#include "ui/codepage.h"

namespace kora {

ScreenState g_screen;

// ---- geometry ---------------------------------------------------------------

void screen_set_size(int rows, int cols) {
  rows = std::max(rows, 0);
  cols = std::max(cols, 0);
  std::vector<Cell> cells(static_cast<size_t>(rows) * cols);
  int keep_rows = std::min(rows, g_screen.rows);
  int keep_cols = std::min(cols, g_screen.cols);
  for (int y = 0; y < keep_rows; ++y) {
    for (int x = 0; x < keep_cols; ++x) {
      cells[static_cast<size_t>(y) * cols + x] =
          g_screen.cells[static_cast<size_t>(y) * g_screen.cols + x];
    }
  }
  g_screen.cells.swap(cells);
  g_screen.rows = rows;
  g_screen.cols = cols;
}

static Cell* cell_at(int x, int y) {
  if (x < 0 || y < 0 || x >= g_screen.cols || y >= g_screen.rows) return nullptr;
  return &g_screen.cells[static_cast<size_t>(y) * g_screen.cols + x];
}

const Cell* screen_cell(int x, int y) { return cell_at(x, y); }

void screen_refresh() {
  if (g_screen.backend) g_screen.backend->present();
}

void screen_bell() {
  if (g_screen.backend) g_screen.backend->bell();
}

// ---- drawing ----------------------------------------------------------------

unsigned char display_byte(unsigned char byte) {
  if (byte >= 32) return byte;
  switch (byte) {
    case 7: return '@';
    case 16: return '>';
    case 17: return '<';
    case 30: return '^';
    case 31: return 'v';
    default: return '.';
  }
}

// Writes one cell. A wide character it overwrites half of loses its other
// half too, so that no half is left on the screen.
static void set_cell(int x, int y, char32_t ch, unsigned char attr) {
  Cell* cell = cell_at(x, y);
  if (!cell) return;
  if (cell->ch == kWideTail) {
    if (Cell* head = cell_at(x - 1, y)) head->ch = U' ', head->mark = 0;
  } else if (Cell* tail = cell_at(x + 1, y); tail && tail->ch == kWideTail && ch != kWideTail) {
    tail->ch = U' ';
  }
  cell->ch = ch;
  cell->mark = 0;
  cell->attr = attr & 0x7F;
  cell->plain = 0;
}

void put_char(int x, int y, unsigned char ch, unsigned char attr) {
  set_cell(x, y, cp866_to_unicode(display_byte(ch)), attr);
}

// The C library knows every script's widths, in a UTF-8 locale; the
// widths of the basic plane are asked once per block of 256 characters.
static int library_cells(char32_t ch) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (!utf8) return 1;
  locale_t before = uselocale(utf8);
  int cells = wcwidth(static_cast<wchar_t>(ch));
  uselocale(before);
  return cells < 0 ? 1 : cells;
}

int char_cells(char32_t ch) {
  if (ch < 0x300) return 1;
  if (ch > 0xFFFF) return library_cells(ch);
  static std::vector<signed char> widths(0x10000, -1);
  signed char& known = widths[ch];
  if (known < 0) {
    char32_t block = ch & ~char32_t(0xFF);
    for (char32_t c = block; c < block + 0x100; ++c) widths[c] = static_cast<signed char>(library_cells(c));
  }
  return known;
}

int put_unicode(int x, int y, std::u32string_view text, unsigned char attr, int cells) {
  int limit = std::min(cells, g_screen.cols - g_screen.right_margin - x);
  int used = 0;
  for (char32_t ch : text) {
    int width = char_cells(ch);
    if (width == 0) {
      int base = x + used - 1;
      if (const Cell* before = cell_at(base, y); before && before->ch == kWideTail) --base;
      if (Cell* cell = used > 0 ? cell_at(base, y) : nullptr) cell->mark = ch;
      continue;
    }
    if (ch < 32) ch = cp866_to_unicode(display_byte(static_cast<unsigned char>(ch)));
    if (used + width > limit) {
      if (used < limit) set_cell(x + used++, y, U' ', attr);  // no half of a wide character
      break;
    }
    set_cell(x + used, y, ch, attr);
    if (width == 2) set_cell(x + used + 1, y, kWideTail, attr);
    used += width;
  }
  return used;
}

std::u32string file_name_chars(std::string_view name) {
  if (is_utf8(name)) return utf8_to_u32(name);
  std::u32string chars;
  for (unsigned char byte : name) chars += cp866_to_unicode(display_byte(byte));
  return chars;
}

int text_cells(std::u32string_view text) {
  int cells = 0;
  for (char32_t ch : text) cells += char_cells(ch);
  return cells;
}

int put_file_name(int x, int y, std::string_view name, unsigned char attr, int cells) {
  return put_unicode(x, y, file_name_chars(name), attr, cells);
}

namespace {

struct StandIn {
  char32_t glyph;
  char ascii;
};
// The arrows in the order of Arrow, then the symbol for NUL and the
// ellipsis that ends a cut text.
constexpr StandIn kStandIns[] = {{U'\u25B2', '^'}, {U'\u25BC', 'v'}, {U'\u25C4', '<'},
                                 {U'\u25BA', '>'}, {kNulSymbol, '.'},  {U'\u2026', '~'}};

}  // namespace

void put_arrow(int x, int y, Arrow arrow, unsigned char attr) {
  set_cell(x, y, kStandIns[static_cast<int>(arrow)].glyph, attr);
}

char ascii_stand_in(char32_t ch) {
  for (const StandIn& stand_in : kStandIns)
    if (stand_in.glyph == ch) return stand_in.ascii;
  return 0;
}

unsigned char cell_byte(const Cell& cell) {
  if (cell.ch == kWideTail) return ' ';
  if (char stand_in = ascii_stand_in(cell.ch)) return static_cast<unsigned char>(stand_in);
  int byte = unicode_to_cp866(static_cast<std::uint32_t>(cell.ch));
  return byte < 0 ? '?' : static_cast<unsigned char>(byte);
}

// How many characters of a string starting at x fit before the margin.
static int room_from(int x) { return g_screen.cols - g_screen.right_margin - x; }

void put_text_n(int x, int y, std::string_view text, unsigned char attr, int n) {
  int count = std::min({static_cast<int>(text.size()), n, room_from(x)});
  for (int i = 0; i < count; ++i) {
    put_char(x + i, y, static_cast<unsigned char>(text[i]), attr);
  }
}

void put_text(int x, int y, std::string_view text, unsigned char attr) {
  put_text_n(x, y, text, attr, static_cast<int>(text.size()));
}

void put_spaces(int x, int y, int n, unsigned char attr) {
  int count = std::min(n, room_from(x));
  for (int i = 0; i < count; ++i) put_char(x + i, y, ' ', attr);
}

void put_attr(int x, int y, int n, unsigned char attr) {
  for (int i = 0; i < n; ++i) {
    Cell* cell = cell_at(x + i, y);
    if (!cell) return;
    cell->attr = attr;
    cell->plain = 0;
  }
}

void put_repeat(int x, int y, int n, unsigned char ch, unsigned char attr) {
  for (int i = 0; i < n; ++i) put_char(x + i, y, ch, attr);
}

void put_title(int y, std::string_view text, unsigned char attr) {
  int length = static_cast<int>(text.size());
  int s = (g_screen.cols - length) / 2;
  put_char(s - 1, y, ' ', attr);
  for (int i = 0; i < length; ++i) {
    put_char(s + i, y, static_cast<unsigned char>(text[i]), attr);
  }
  put_char(s + length, y, ' ', attr);
}

void put_title_unicode(int y, std::u32string_view text, unsigned char attr) {
  int cells = text_cells(text);
  int s = (g_screen.cols - cells) / 2;
  put_char(s - 1, y, ' ', attr);
  put_unicode(s, y, text, attr, cells);
  put_char(s + cells, y, ' ', attr);
}

void put_button(int x, int y, std::string_view label, unsigned char attr) {
  std::string_view shown = label.substr(0, 14);
  std::string padded(shown);
  padded.append((14 - shown.size()) / 2, ' ');
  char cells[17];
  std::snprintf(cells, sizeof cells, "\x10%14s\x11", padded.c_str());
  for (int i = 0; i < 16; ++i) put_char(x + i, y, static_cast<unsigned char>(cells[i]), attr);
}

unsigned char draw_box(int x1, int y1, int x2, int y2, unsigned char attr,
                       const unsigned char* frame, int style) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  for (int y = y1; y <= y2; ++y) {
    int base = y == y1 ? 0 : y == y2 ? 6 : 3;
    for (int x = x1; x <= x2; ++x) {
      int part = x == x1 ? 0 : x == x2 ? 2 : 1;
      put_char(x, y, frame[base + part], attr);
    }
  }
  if (style & kBoxTitleBar) {
    unsigned char inverse = static_cast<unsigned char>(attr << 4);
    put_char(x1, y1, '[', inverse);
    put_char(x1 + 1, y1, ']', inverse);
    for (int x = x1 + 2; x <= x2; ++x) put_char(x, y1, 0xDB, attr);
  }
  if (style & kBoxShadow) {
    for (int x = x1 + 2; x <= x2; ++x) unshadow_cell(x, y2 + 1);
    for (int y = y1 + 1; y <= y2 + 1; ++y) {
      unshadow_cell(x2 + 1, y);
      unshadow_cell(x2 + 2, y);
    }
  }
  return attr;
}

void unshadow_cell(int x, int y) {
  Cell* cell = cell_at(x, y);
  if (!cell) return;
  cell->attr = 0x07;
  cell->plain = 1;
}

ScreenSnapshot save_screen() {
  return ScreenSnapshot{g_screen.rows, g_screen.cols, g_screen.cells, g_screen.resize_count,
                        paint_layer_count()};
}

void restore_screen(const ScreenSnapshot& snapshot) {
  if (snapshot.rows == 0 && snapshot.cols == 0) return;
  if (snapshot.resize_count != g_screen.resize_count) {
    repaint_layers(snapshot.layers);
    return;
  }
  // A grid given another size directly (not by the terminal) keeps what
  // still fits.
  for (int y = 0; y < snapshot.rows; ++y) {
    for (int x = 0; x < snapshot.cols; ++x) {
      Cell* cell = cell_at(x, y);
      if (cell) *cell = snapshot.cells[static_cast<size_t>(y) * snapshot.cols + x];
    }
  }
}

// ---- repainting at a new size ------------------------------------------------

namespace {
// The painters of the open PaintLayer objects, bottom first.
std::vector<const std::function<void()>*> g_layers;
}  // namespace

PaintLayer::PaintLayer(std::function<void()> paint) : paint_(std::move(paint)) {
  g_layers.push_back(&paint_);
}

PaintLayer::~PaintLayer() {
  auto it = std::find(g_layers.begin(), g_layers.end(), &paint_);
  if (it != g_layers.end()) g_layers.erase(it);
}

size_t paint_layer_count() { return g_layers.size(); }

bool screen_below_minimum() {
  return g_screen.rows < kMinScreenRows || g_screen.cols < kMinScreenCols;
}

static void clear_grid() {
  std::fill(g_screen.cells.begin(), g_screen.cells.end(), Cell{});
}

void show_size_notice() {
  if (!screen_below_minimum()) return;
  clear_grid();
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  // A very narrow screen gets the short form, whole rather than cut.
  put_text(0, 0, g_screen.cols >= 32 ? "Make the window at least 40 x 10" : "At least 40 x 10", 0x07);
  g_screen.right_margin = margin;
  goto_xy(0, 0);
}

void repaint_layers(size_t count) {
  clear_grid();
  if (screen_below_minimum()) {
    show_size_notice();
    return;
  }
  int visibility = g_screen.cursor_visibility;
  int margin = g_screen.right_margin;
  count = std::min(count, g_layers.size());
  // Every painter draws with the margin of the window on top, which is
  // the one that set it.
  for (size_t i = 0; i < count; ++i) {
    g_screen.right_margin = margin;
    (*g_layers[i])();
  }
  g_screen.right_margin = margin;
  g_screen.cursor_visibility = visibility;
}

void screen_resized(int rows, int cols) {
  screen_set_size(rows, cols);
  ++g_screen.resize_count;
  repaint_layers(g_layers.size());
  if (g_screen.on_resize) g_screen.on_resize();
}

// ---- cursor -----------------------------------------------------------------

void goto_xy(int x, int y) {
  g_screen.cursor_x = x;
  g_screen.cursor_y = y;
}

int get_cursor() { return g_screen.cursor_y * 256 + g_screen.cursor_x; }

void set_cursor_shape(int code) {
  g_screen.cursor_visibility = code == 7 ? 2 : code == 0x2000 ? 0 : 1;
}

// ---- colours ----------------------------------------------------------------

#define KORA_SLOT(name, value) {#name, value, &ColorScheme::name}
const ColorSlotInfo kColorSlotInfo[kColorSlots] = {
    KORA_SLOT(Frame, 0x1F),
    KORA_SLOT(Status1, 0x30),
    KORA_SLOT(Status2, 0x3F),
    KORA_SLOT(Status3, 0x3E),
    KORA_SLOT(KeybarNumber, 0x0C),
    KORA_SLOT(KeybarText, 0x30),
    KORA_SLOT(HeaderC, 0x1B),
    KORA_SLOT(HeaderN, 0x1D),
    KORA_SLOT(HeaderM, 0x1E),
    KORA_SLOT(HeaderL, 0x1C),
    KORA_SLOT(HeaderD, 0x1A),
    KORA_SLOT(Text, 0x1F),
    KORA_SLOT(Current, 0x30),
    KORA_SLOT(Edit, 0x0F),
    KORA_SLOT(Deleted, 0x14),
    KORA_SLOT(Selected, 0x1E),
    KORA_SLOT(Delimiter, 0x17),
    KORA_SLOT(MenuFrame, 0x3E),
    KORA_SLOT(MenuText, 0x30),
    KORA_SLOT(MenuHot, 0x3E),
    KORA_SLOT(MenuSelected, 0x0F),
    KORA_SLOT(MenuHotSelected, 0x0C),
    KORA_SLOT(MenuDisabled, 0x38),
    KORA_SLOT(MenuDisabledSelected, 0x08),
    KORA_SLOT(DialogFrame, 0x3E),
    KORA_SLOT(DialogText, 0x30),
    KORA_SLOT(DialogEdit, 0x0F),
    KORA_SLOT(DialogFill, 0x30),
    KORA_SLOT(DialogButton, 0x0F),
    KORA_SLOT(DialogDefault, 0x3F),
    KORA_SLOT(DialogDisabled, 0x38),
    KORA_SLOT(DialogEditStru, 0x1F),
    KORA_SLOT(MBtitle, 0x74),
    KORA_SLOT(MBtext1, 0x71),
    KORA_SLOT(MBtext2, 0x1F),
    KORA_SLOT(ErrorFrame, 0x4F),
    KORA_SLOT(ErrorText1, 0x4E),
    KORA_SLOT(ErrorText2, 0x0F),
    KORA_SLOT(MemoFrame, 0x1E),
    KORA_SLOT(MemoText, 0x1A),
    KORA_SLOT(MemoSelected, 0x30),
};
#undef KORA_SLOT

unsigned char& ColorScheme::slot(int index) { return this->*kColorSlotInfo[index].member; }

ColorScheme default_colors() {
  ColorScheme scheme{};
  for (int i = 0; i < kColorSlots; ++i) scheme.slot(i) = kColorSlotInfo[i].default_attr;
  return scheme;
}

ColorScheme g_colors = default_colors();

int color_slot_index(std::string_view name) {
  for (int i = 0; i < kColorSlots; ++i) {
    if (name == kColorSlotInfo[i].name) return i;
  }
  return -1;
}

// ---- frames -----------------------------------------------------------------

Frames default_frames() {
  return Frames{
      {0xDA, 0xC4, 0xBF, 0xB3, 0x20, 0xB3, 0xC0, 0xC4, 0xD9},
      {0xC9, 0xCD, 0xBB, 0xBA, 0x20, 0xBA, 0xC8, 0xCD, 0xBC},
      {0xCC, 0xCD, 0xB9, 0xBA, 0x20, 0xBA, 0xC8, 0xCD, 0xBC},
      0xB3, 0xC4, 0xBA, 0xCD, 0xB0, 0xB0, 0xB2,
  };
}

Frames g_frames = default_frames();

}  // namespace kora
