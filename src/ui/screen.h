// The screen: an in-memory grid of (character, attribute) cells that every
// part of the program draws into at absolute positions, and that a backend
// (curses on a terminal, or the headless one in tests) shows to the user.
//
// Cells hold Unicode characters. The byte interface (put_char, put_text, ...)
// takes code page 866 text, whose frames and lines are code page 437's
// line-drawing bytes (the two share 0xB0..0xDF), and turns each byte into its
// character; put_unicode writes characters of any script, a wide one over
// two cells. Coordinates: x = column, y = row, both from 0. Cells off the
// screen are silently not drawn.
//
// Attribute byte: bits 0-3 foreground 0-15 in DOS palette order (0 black,
// 1 blue, 2 green, 3 cyan, 4 red, 5 magenta, 6 brown, 7 light grey, 8-15 the
// bright versions), bits 4-6 background 0-7; bit 7 is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

// The right half of a wide character: drawn by the cell to its left.
inline constexpr char32_t kWideTail = 0;

struct Cell {
  char32_t ch = U' ';
  char32_t mark = 0;  // a combining mark drawn over ch, 0 none
  unsigned char attr = 0x07;
  // 1 when the cell is drawn in the terminal's own default colours (the
  // shadow of a box); attr is then not used for colour.
  unsigned char plain = 0;

  bool operator==(const Cell&) const = default;
};

class Backend;

// All global state of the screen, in one place.
struct ScreenState {
  int rows = 0;
  int cols = 0;
  // Columns at the right edge that string output leaves untouched (0 or 1).
  int right_margin = 0;
  // The terminal shows every character; false: only code page 866's, so
  // that a drawing picks glyphs it can show (a bar chart's '#').
  bool unicode = true;
  std::vector<Cell> cells;  // rows * cols, row by row
  int cursor_x = 0;
  int cursor_y = 0;
  // 0 hidden, 1 normal, 2 very visible (curses visibility values).
  int cursor_visibility = 1;
  // Counts size changes of the terminal (see screen_resized); on_resize,
  // if set, runs after the open windows have been painted again.
  int resize_count = 0;
  std::function<void()> on_resize;
  Backend* backend = nullptr;
  bool open = false;
};

extern ScreenState g_screen;

// ---- geometry -------------------------------------------------------------

// Sets the grid size; keeps the overlapping cells, blanks the rest.
void screen_set_size(int rows, int cols);
inline int screen_rows() { return g_screen.rows; }
inline int screen_cols() { return g_screen.cols; }
// The cell at (x, y), or null off the screen.
const Cell* screen_cell(int x, int y);

// ---- start and end --------------------------------------------------------

// Opens the terminal through curses (see curses_backend.cpp); exits with
// status 1 and a message when the terminal cannot be used. Returns 1.
int screen_open();
// Gives the terminal back as it was. Returns 1.
int screen_close();
// Opens the screen on the headless backend (tests, batch runs): a grid of
// rows x cols and no terminal. Returns 1.
int screen_open_headless(int rows, int cols);

// Shows the grid: the backend paints the cells that changed since the last
// call. get_key calls it before it waits.
void screen_refresh();
// Sounds the terminal's bell: a key was refused.
void screen_bell();

// ---- drawing --------------------------------------------------------------

// Substitute for bytes that would be control codes on a terminal: 7 -> '@',
// 16 -> '>', 17 -> '<', 30 -> '^', 31 -> 'v', other 0..31 -> '.'.
unsigned char display_byte(unsigned char byte);

// One cell; the cursor stays where it was.
void put_char(int x, int y, unsigned char ch, unsigned char attr);
// Characters of any script from x rightwards within `cells` cells (and the
// margin): a wide character takes two cells and is never cut in half (a
// blank stands in when only one is left), a combining mark joins the
// character before it. Returns the cells used.
int put_unicode(int x, int y, std::u32string_view text, unsigned char attr, int cells);
// Cells a character takes on a terminal: 2 wide, 0 a combining mark, else 1.
int char_cells(char32_t ch);
// A file name as the system gives it: UTF-8 as its characters (wide ones
// over two cells), a name that is no UTF-8 as code page 866 bytes. At most
// `cells` cells; returns those used.
int put_file_name(int x, int y, std::string_view name, unsigned char attr, int cells);
// The characters put_file_name shows for a name, and the cells they take.
std::u32string file_name_chars(std::string_view name);
int text_cells(std::u32string_view text);
// As put_title, for characters of any script.
void put_title_unicode(int y, std::u32string_view text, unsigned char attr);
// A scroll bar's arrow: a triangle, which a terminal without Unicode shows
// as '^', 'v', '<' or '>'.
enum class Arrow { kUp, kDown, kLeft, kRight };
void put_arrow(int x, int y, Arrow arrow, unsigned char attr);
// The symbol for NUL (U+2400), which a NUL byte inside a text is shown as.
inline constexpr char32_t kNulSymbol = U'\u2400';
// The ASCII character a triangle of put_arrow, the symbol for NUL or the
// ellipsis of a cut text stands as where Unicode is not shown ('^', 'v',
// '<', '>'; '.', as the byte interface shows other control bytes; '~');
// 0 for every other character.
char ascii_stand_in(char32_t ch);
// The code page 866 byte a cell shows, '?' for a character 866 lacks (the
// view of the screen tests and the byte interface share; an arrow or the
// symbol for NUL is its ASCII stand-in).
unsigned char cell_byte(const Cell& cell);
// The text from x rightwards, at most cols - right margin - x characters.
void put_text(int x, int y, std::string_view text, unsigned char attr);
// As put_text, and at most n characters.
void put_text_n(int x, int y, std::string_view text, unsigned char attr, int n);
// n blanks, clipped like put_text.
void put_spaces(int x, int y, int n, unsigned char attr);
// Gives n cells from (x, y) the attribute, keeping their characters.
void put_attr(int x, int y, int n, unsigned char attr);
// n copies of ch along the row.
void put_repeat(int x, int y, int n, unsigned char ch, unsigned char attr);
// Text centred on the whole screen width, a blank on either side.
void put_title(int y, std::string_view text, unsigned char attr);
// A 16-cell push button: '>' (byte 16), the label centred in 14 cells
// (at most 14 characters), '<' (byte 17).
void put_button(int x, int y, std::string_view label, unsigned char attr);

enum BoxStyle { kBoxShadow = 1, kBoxTitleBar = 2 };
// A framed rectangle filled with the frame's fill character; corners in any
// order. frame is a 9-byte frame string (see Frames). style: kBoxShadow adds
// a shadow one row below and two columns right; kBoxTitleBar draws the top
// row as "[" "]" and solid blocks. Returns attr.
unsigned char draw_box(int x1, int y1, int x2, int y2, unsigned char attr,
                       const unsigned char* frame, int style);
// Redraws one cell's character in the terminal's default colours.
void unshadow_cell(int x, int y);

// The whole screen, for pop-ups: save before drawing, restore on close.
// Pop-ups nest, so they restore in reverse order.
// A snapshot taken before a resize is of no use afterwards: restoring it
// repaints instead the windows that were open beneath it (see PaintLayer).
struct ScreenSnapshot {
  int rows = 0;
  int cols = 0;
  std::vector<Cell> cells;
  int resize_count = 0;  // g_screen.resize_count when taken
  size_t layers = 0;     // paint layers open when taken
};
ScreenSnapshot save_screen();
void restore_screen(const ScreenSnapshot& snapshot);

// ---- repainting at a new size ---------------------------------------------

// Smallest screen the program draws on; below it only a notice is shown.
constexpr int kMinScreenCols = 40;
constexpr int kMinScreenRows = 10;
// True while the screen is smaller than that (and shows only the notice).
bool screen_below_minimum();

// What is on the screen is a stack of painters: the program's own screen at
// the bottom, then every window open over it. Each open window keeps one
// alive (RAII); when the terminal changes size the grid is cleared and every
// painter draws again, bottom first, at the new size, so that nothing of the
// old size stays. A painter lays its window out afresh (re-centred, clipped
// by the screen's edges) rather than reusing old positions.
class PaintLayer {
 public:
  explicit PaintLayer(std::function<void()> paint);
  ~PaintLayer();
  PaintLayer(const PaintLayer&) = delete;
  PaintLayer& operator=(const PaintLayer&) = delete;

 private:
  std::function<void()> paint_;
};
size_t paint_layer_count();
// Clears the grid and paints the first `count` layers bottom-up (all when
// count exceeds them), or only the size notice on a screen too small. The
// cursor keeps its visibility; its position is the last painter's.
void repaint_layers(size_t count);
// What a backend calls when the terminal has changed size: the grid takes
// the new size, every layer is repainted, then on_resize runs.
void screen_resized(int rows, int cols);
// On a screen smaller than kMinScreenCols x kMinScreenRows: clears it and
// shows the one-line notice asking for a larger window (windows drawing
// while it is so small would cover it). Does nothing on a large one.
void show_size_notice();

// ---- cursor ---------------------------------------------------------------

void goto_xy(int x, int y);
// row * 256 + column; restore with goto_xy(value % 256, value / 256).
int get_cursor();
// 7 very visible, 0x2000 hidden, anything else (0x0607, 0x0307) normal.
void set_cursor_shape(int code);

// ---- colours --------------------------------------------------------------

constexpr int kColorSlots = 41;

// One attribute byte per named slot, in the fixed order of kColorSlotInfo.
struct ColorScheme {
  unsigned char Frame, Status1, Status2, Status3, KeybarNumber, KeybarText,
      HeaderC, HeaderN, HeaderM, HeaderL, HeaderD, Text, Current, Edit,
      Deleted, Selected, Delimiter, MenuFrame, MenuText, MenuHot,
      MenuSelected, MenuHotSelected, MenuDisabled, MenuDisabledSelected,
      DialogFrame, DialogText, DialogEdit, DialogFill, DialogButton,
      DialogDefault, DialogDisabled, DialogEditStru, MBtitle, MBtext1,
      MBtext2, ErrorFrame, ErrorText1, ErrorText2, MemoFrame, MemoText,
      MemoSelected;

  // Slot by number 0..40 (the order of the configuration file).
  unsigned char& slot(int index);
};
static_assert(sizeof(ColorScheme) == kColorSlots);

struct ColorSlotInfo {
  const char* name;  // key in the [Colors] section
  unsigned char default_attr;
  unsigned char ColorScheme::*member;
};
extern const ColorSlotInfo kColorSlotInfo[kColorSlots];

// The current colours; starts with the defaults.
extern ColorScheme g_colors;
ColorScheme default_colors();
// Slot number for a name (exact spelling), or -1.
int color_slot_index(std::string_view name);

// ---- frames and lines -----------------------------------------------------

// Frame strings: 9 bytes, top-left, top, top-right, left, fill, right,
// bottom-left, bottom, bottom-right. Line characters: one byte each.
// All can be replaced from the configuration file.
struct Frames {
  unsigned char single_frame[9];
  unsigned char double_frame[9];
  unsigned char hex_frame[9];  // a panel joined under another frame
  unsigned char vertical_single;
  unsigned char horizontal_single;
  unsigned char vertical_double;
  unsigned char horizontal_double;
  unsigned char scroll_track_vertical;
  unsigned char scroll_track_horizontal;
  unsigned char scroll_thumb;
};
extern Frames g_frames;
Frames default_frames();

}  // namespace kora
