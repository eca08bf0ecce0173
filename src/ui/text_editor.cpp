#include "ui/text_editor.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/key_codes.h"
#include "ui/line_editor.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"
#include "ui/text_wrap.h"

namespace kora {

int g_text_full_screen = 0;

TextEditor::~TextEditor() {
  if (!remember_full_screen) return;
  g_text_full_screen = full_screen;
  g_settings.memo_wrap = wrap;
}

// Every line keeps the end it was stored with, CR LF or LF, and the last
// one none when the text does not end in a line feed: a memo is written
// back as it was, but for what was edited.
std::vector<TextLine> text_split(std::string_view text) {
  std::vector<TextLine> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view piece = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    TextLine line;
    line.line_end = end == std::string_view::npos ? kLineEndNone : kLineEndLf;
    if (line.line_end == kLineEndLf && !piece.empty() && piece.back() == '\r') {
      piece.remove_suffix(1);
      line.line_end = kLineEndCr;
    }
    line.text.assign(piece);
    lines.push_back(std::move(line));
  }
  if (lines.empty()) lines.push_back(TextLine{std::string(), kLineEndNone});
  return lines;
}

namespace {

// The end a new line gets: the text's own (its first line's), CR LF in a
// text of one line.
unsigned char usual_end(const std::vector<TextLine>& lines) {
  unsigned char first = lines.front().line_end;
  return first == kLineEndNone ? static_cast<unsigned char>(kLineEndCr) : first;
}

}  // namespace

std::string text_join(const std::vector<TextLine>& lines) {
  size_t total = 0;
  for (const TextLine& line : lines) total += line.text.size() + 2;
  std::string text;
  text.reserve(total);
  for (size_t i = 0; i < lines.size(); ++i) {
    text += lines[i].text;
    unsigned char end = lines[i].line_end;
    // Only the last line may go without an end; one that no longer is last
    // (a line was put after it) takes the text's usual end.
    if (end == kLineEndNone && i + 1 < lines.size()) end = usual_end(lines);
    if (end == kLineEndCr) text += "\r\n";
    if (end == kLineEndLf) text += '\n';
  }
  return text;
}



namespace {

// The text area for the editor's current mode. Full screen uses every
// column: width + 1 cells from column 0 end at the last column.
void set_geometry(TextEditor& ed) {
  if (ed.full_screen) {
    ed.x = 0;
    ed.y = 1;
    ed.width = screen_cols() - 1;
    ed.height = screen_rows() - 3;
  } else {
    ed.x = ed.window_x;
    ed.y = ed.window_y;
    ed.width = ed.window_width;
    ed.height = ed.window_height;
  }
  ed.width = std::max(ed.width, 0);
  ed.height = std::max(ed.height, 0);
}

// Moves the top line so that the cursor line is on the screen.
void follow_current(TextEditor& ed) {
  int first = ed.first;
  if (ed.current < ed.first) ed.first = ed.current;
  if (ed.current > ed.first + ed.height) ed.first = ed.current - ed.height;
  ed.first = std::max(ed.first, 0);
  if (ed.first != first) ed.first_row = 0;
}

// A line of another code page from the first character that starts at or
// after the column scroll (a byte count, shared by every line).
void draw_characters(const TextEditor& ed, std::string_view text, size_t from, int screen_y) {
  const FieldCharacters& characters = *ed.characters;
  size_t start = 0;
  while (characters.length && start < from) start += std::max<size_t>(characters.length(text, start), 1);
  if (start >= text.size()) return;
  std::u32string shown = characters.shown_as(text.substr(start));
  std::replace(shown.begin(), shown.end(), U'\t', U' ');
  put_unicode(ed.x, screen_y, shown, g_colors.MemoText, ed.width + 1);
}

void draw_lines(const TextEditor& ed) {
  unsigned char attr = g_colors.MemoText;
  for (int row = 0; row <= ed.height; ++row) {
    int screen_y = ed.y + row;
    put_spaces(ed.x, screen_y, ed.width + 1, attr);
    int index = ed.first + row;
    if (index >= ed.line_count()) continue;
    const std::string& text = ed.lines[index].text;
    size_t from = static_cast<size_t>(ed.column_scroll);
    if (from >= text.size()) continue;
    if (ed.characters && ed.characters->shown_as) {
      draw_characters(ed, text, from, screen_y);
      continue;
    }
    size_t count = std::min(text.size() - from, static_cast<size_t>(ed.width) + 1);
    for (size_t i = 0; i < count; ++i) {
      unsigned char ch = static_cast<unsigned char>(text[from + i]);
      put_char(ed.x + static_cast<int>(i), screen_y, ch == '\t' ? ' ' : ch, attr);
    }
  }
}

// One run of the editor: the field on the cursor line and what lives only
// while the editor is shown.
struct Session {
  TextEditor& ed;
  int help_topic;
  IdleHook idle_hook;
  ScreenSnapshot saved;
  std::unique_ptr<EditField> field;
  bool remembered_set = false;  // Ctrl+Y has put a line aside
  TextLine remembered;
  int rows = screen_rows();  // the screen's size the window was laid out for
  int cols = screen_cols();
  // Ctrl+Z: the text before each edit, letters typed into one line one step.
  struct Step {
    std::vector<TextLine> lines;
    int current = 0;
    int first = 0;
    int pos = 0;
  };
  std::vector<Step> undo = {};
  int typing_line = -1;  // the line of the run of letters the last step began
  std::string found = {};  // F7's text, which Alt+F7 finds again
  bool found_ignore_case = true;
  // The selection runs from the anchor, where the first Shift+move started,
  // to the cursor; the next key that is neither a Shift+move nor a copy
  // ends it.
  struct Spot {
    int line = 0;
    int pos = 0;
  };
  bool selecting = false;
  Spot anchor = {};
  std::string replacement = {};  // Ctrl+F7's last replacement
};

using Spot = Session::Spot;

constexpr size_t kUndoSteps = 200;

void draw_frame(const TextEditor& ed) {
  if (ed.full_screen) return;
  draw_box(ed.x - 1, ed.y - 1, ed.x + ed.width + 1, ed.y + ed.height + 1, g_colors.MemoFrame,
           g_frames.double_frame, kBoxShadow);
  put_title(ed.y - 1, ed.title, g_colors.MemoFrame);
}

void draw_window(Session& s) {
  restore_screen(s.saved);
  draw_frame(s.ed);
}

// Puts the line editor on the cursor line with the cursor at index pos (cut
// to the line) and the overwrite state of the field before; the shared
// column scroll moves just enough to show the cursor.
void open_field(Session& s, int pos) {
  TextEditor& ed = s.ed;
  int overwrite = s.field ? (s.field->flags & kEditOverwrite) : 0;
  const std::string& text = ed.lines[ed.current].text;
  int length = static_cast<int>(std::strlen(text.c_str()));
  int size = std::max(2 * length, 65535);
  // Wrapped, the line's row is known once the window follows the cursor;
  // until then the field stays within the text area.
  int row = ed.wrap ? std::clamp(ed.current - ed.first, 0, ed.height) : ed.current - ed.first;
  s.field = edit_create(ed.x, ed.y + row, ed.width + 1, size, text.c_str(), g_colors.MemoText, nullptr);
  s.field->flags = kEditTouched | kEditShowTabs | overwrite;
  s.field->end_ok = 1;
  s.field->characters = ed.characters;
  s.field->pos = std::clamp(pos, 0, length);
  int scroll = ed.column_scroll;
  if (s.field->pos < scroll) scroll = s.field->pos;
  if (s.field->pos - scroll > ed.width) scroll = s.field->pos - ed.width;
  s.field->scroll = scroll;
  edit_fit_cursor(*s.field);
  ed.column_scroll = s.field->scroll;
}

// Takes the field's text into the line when it was changed.
void commit(Session& s) {
  if (!s.field || !s.field->modified) return;
  s.ed.lines[s.ed.current].text = s.field->text;
  s.ed.modified = 1;
  s.field->modified = 0;
}

void go_to_line(Session& s, int line, int first) {
  commit(s);
  int pos = s.field->pos;
  s.ed.current = line;
  if (s.ed.first != first) s.ed.first_row = 0;
  s.ed.first = first;
  follow_current(s.ed);
  open_field(s, pos);
}

// Up, PgUp, Ctrl+Home, Ctrl+PgUp, Down, PgDn, Ctrl+End, Ctrl+PgDn; 0 for
// other keys.
int vertical_move(Session& s, int scan) {
  TextEditor& ed = s.ed;
  int last = ed.line_count() - 1;
  int last_top = std::max(0, last - ed.height);
  switch (scan) {
    case scan_code(kKeyUp):
    case scan_code(kKeyPgUp):
    case scan_code(kKeyCtrlHome):
    case scan_code(kKeyCtrlPgUp): {
      if (ed.current == 0) return 1;
      if (scan == scan_code(kKeyUp)) go_to_line(s, ed.current - 1, ed.first);
      if (scan == scan_code(kKeyPgUp)) {
        go_to_line(s, std::max(0, ed.current - ed.height), std::max(0, ed.first - ed.height));
      }
      if (scan == scan_code(kKeyCtrlHome) || scan == scan_code(kKeyCtrlPgUp)) go_to_line(s, 0, 0);
      return 1;
    }
    case scan_code(kKeyDown):
    case scan_code(kKeyPgDn):
    case scan_code(kKeyCtrlEnd):
    case scan_code(kKeyCtrlPgDn): {
      if (ed.current == last) return 1;
      if (scan == scan_code(kKeyDown)) go_to_line(s, ed.current + 1, ed.first);
      if (scan == scan_code(kKeyPgDn)) {
        go_to_line(s, std::min(last, ed.current + ed.height),
                   std::min(last_top, ed.first + ed.height));
      }
      if (scan == scan_code(kKeyCtrlEnd) || scan == scan_code(kKeyCtrlPgDn)) go_to_line(s, last, last_top);
      return 1;
    }
    default:
      return 0;
  }
}

// Enter: the part from the cursor becomes a new line after this one.
void split_line(Session& s) {
  TextEditor& ed = s.ed;
  commit(s);
  TextLine& line = ed.lines[ed.current];
  size_t pos = std::min(static_cast<size_t>(s.field->pos), line.text.size());
  TextLine tail{line.text.substr(pos), line.line_end};
  line.text.resize(pos);
  ed.lines.insert(ed.lines.begin() + ed.current + 1, std::move(tail));
  ed.modified = 1;
  ++ed.current;
  follow_current(ed);
  open_field(s, 0);
}

// Joins line index + 1 to the end of line index and puts the cursor where
// the two texts meet.
void join_lines(Session& s, int index) {
  TextEditor& ed = s.ed;
  commit(s);
  int meet = static_cast<int>(ed.lines[index].text.size());
  ed.lines[index].text += ed.lines[index + 1].text;
  ed.lines[index].line_end = ed.lines[index + 1].line_end;
  ed.lines.erase(ed.lines.begin() + index + 1);
  ed.modified = 1;
  ed.current = index;
  follow_current(ed);
  open_field(s, meet);
}

// Ctrl+Y: the line is put aside and vanishes; the last line is only emptied.
void delete_line(Session& s) {
  TextEditor& ed = s.ed;
  commit(s);
  s.remembered = ed.lines[ed.current];
  s.remembered_set = true;
  if (ed.current == ed.line_count() - 1) {
    ed.lines[ed.current].text.clear();
    // The only line emptied leaves an empty text, not a lone line end.
    if (ed.line_count() == 1) ed.lines[ed.current].line_end = kLineEndNone;
  } else {
    ed.lines.erase(ed.lines.begin() + ed.current);
  }
  ed.modified = 1;
  follow_current(ed);
  open_field(s, 0);
}

// Ctrl+U: the line put aside comes back above the cursor line.
void restore_line(Session& s) {
  if (!s.remembered_set) return;
  TextEditor& ed = s.ed;
  commit(s);
  int pos = s.field->pos;
  ed.lines.insert(ed.lines.begin() + ed.current, s.remembered);
  ed.modified = 1;
  follow_current(ed);
  open_field(s, pos);
}

// ---- blocks: Shift+moves select, the clipboard keys copy, cut and paste ----

Spot cursor_spot(const Session& s) { return {s.ed.current, s.field->pos}; }

bool before(Spot a, Spot b) { return a.line < b.line || (a.line == b.line && a.pos < b.pos); }

bool has_selection(const Session& s) {
  if (!s.selecting) return false;
  Spot cursor = cursor_spot(s);
  return cursor.line != s.anchor.line || cursor.pos != s.anchor.pos;
}

// The selection's two ends in the order of the text.
std::pair<Spot, Spot> selection(const Session& s) {
  Spot cursor = cursor_spot(s);
  return before(cursor, s.anchor) ? std::pair{cursor, s.anchor} : std::pair{s.anchor, cursor};
}

const char* line_end_bytes(const std::vector<TextLine>& lines, int index) {
  unsigned char end = lines[size_t(index)].line_end;
  if (end == kLineEndNone) end = usual_end(lines);
  return end == kLineEndLf ? "\n" : "\r\n";
}

// The selected bytes, each line end as the text has it.
std::string selected_bytes(Session& s) {
  commit(s);
  auto [a, b] = selection(s);
  const std::vector<TextLine>& lines = s.ed.lines;
  const std::string& first = lines[size_t(a.line)].text;
  size_t from = std::min(size_t(a.pos), first.size());
  if (a.line == b.line) return first.substr(from, size_t(b.pos) - from);
  std::string bytes = first.substr(from) + line_end_bytes(lines, a.line);
  for (int i = a.line + 1; i < b.line; ++i) bytes += lines[size_t(i)].text + line_end_bytes(lines, i);
  return bytes + lines[size_t(b.line)].text.substr(0, size_t(b.pos));
}

void delete_selection(Session& s) {
  auto [a, b] = selection(s);
  commit(s);
  std::vector<TextLine>& lines = s.ed.lines;
  TextLine& first = lines[size_t(a.line)];
  const TextLine& last = lines[size_t(b.line)];
  first.text = first.text.substr(0, size_t(a.pos)) + last.text.substr(std::min(size_t(b.pos), last.text.size()));
  if (b.line != a.line) {
    first.line_end = last.line_end;
    lines.erase(lines.begin() + a.line + 1, lines.begin() + b.line + 1);
  }
  s.selecting = false;
  s.ed.modified = 1;
  s.ed.current = a.line;
  follow_current(s.ed);
  open_field(s, a.pos);
}

// The clipboard's text at the cursor, in place of the selection: its lines
// become lines of the text, which take the text's own line end.
void paste_block(Session& s) {
  std::string bytes;
  if (!edit_clipboard_bytes(*s.field, bytes)) return;
  bytes.resize(std::min(bytes.size(), bytes.find('\0')));
  if (has_selection(s)) delete_selection(s);
  commit(s);
  TextEditor& ed = s.ed;
  unsigned char usual = usual_end(ed.lines);
  std::vector<TextLine> pieces = text_split(bytes);
  if (!bytes.empty() && bytes.back() == '\n') pieces.push_back(TextLine{});  // the cursor goes after the last end
  TextLine& line = ed.lines[size_t(ed.current)];
  size_t pos = std::min(size_t(s.field->pos), line.text.size());
  std::string tail = line.text.substr(pos);
  unsigned char end = line.line_end;
  line.text.resize(pos);
  line.text += pieces.front().text;
  if (pieces.size() > 1) {
    line.line_end = usual;
    std::vector<TextLine> added(pieces.begin() + 1, pieces.end());
    // The last piece takes the end of the line it was pasted into.
    for (size_t k = 0; k < added.size(); ++k) added[k].line_end = k + 1 == added.size() ? end : usual;
    ed.lines.insert(ed.lines.begin() + ed.current + 1, added.begin(), added.end());
    ed.current += int(added.size());
  }
  TextLine& last = ed.lines[size_t(ed.current)];
  int cursor = int(last.text.size());
  last.text += tail;
  ed.modified = 1;
  follow_current(ed);
  open_field(s, cursor);
}

// The cells from the column scroll to byte `pos` of a line; negative left
// of it.
int cells_to(const TextEditor& ed, const std::string& text, size_t pos) {
  size_t from = size_t(ed.column_scroll);
  if (!ed.characters || !ed.characters->shown_as) return int(pos) - int(from);
  size_t start = 0;
  while (ed.characters->length && start < from) start += std::max<size_t>(ed.characters->length(text, start), 1);
  if (pos <= start) return pos < start ? -1 : 0;
  int cells = 0;
  for (char32_t c : ed.characters->shown_as(std::string_view(text).substr(start, pos - start))) cells += char_cells(c);
  return cells;
}

void draw_selection(const Session& s) {
  if (!has_selection(s)) return;
  const TextEditor& ed = s.ed;
  auto [a, b] = selection(s);
  for (int row = 0; row <= ed.height; ++row) {
    int index = ed.first + row;
    if (index < a.line || index > b.line) continue;
    const std::string& text = ed.lines[size_t(index)].text;
    size_t from = index == a.line ? size_t(a.pos) : 0;
    size_t to = index == b.line ? size_t(b.pos) : text.size();
    // A selected line end shows as one more cell.
    int x1 = std::clamp(cells_to(ed, text, from), 0, ed.width + 1);
    int x2 = std::clamp(cells_to(ed, text, to) + (index < b.line ? 1 : 0), 0, ed.width + 1);
    put_attr(ed.x + x1, ed.y + row, x2 - x1, g_colors.MemoSelected);
  }
}

// ---- word wrap (Ctrl+W): long lines on several rows ------------------------

// One row on the screen: bytes [start, end) of a line.
struct ScreenRow {
  int line = 0;
  size_t start = 0, end = 0;
  bool last = true;  // the line's last row, where its end shows
};

// The rows from the window's top down, as many as it shows (fewer at the
// text's end).
std::vector<ScreenRow> screen_rows_wrapped(const TextEditor& ed) {
  std::vector<ScreenRow> rows;
  for (int line = ed.first; line < ed.line_count() && int(rows.size()) <= ed.height; ++line) {
    const std::string& text = ed.lines[size_t(line)].text;
    std::vector<size_t> starts = wrap_starts(ed, text);
    size_t k = line == ed.first ? size_t(std::clamp(ed.first_row, 0, int(starts.size()) - 1)) : 0;
    for (; k < starts.size() && int(rows.size()) <= ed.height; ++k) {
      bool last = k + 1 == starts.size();
      rows.push_back({line, starts[k], last ? text.size() : starts[k + 1], last});
    }
  }
  return rows;
}

void draw_row(const TextEditor& ed, std::string_view bytes, int screen_y) {
  if (ed.characters && ed.characters->shown_as) {
    std::u32string shown = ed.characters->shown_as(bytes);
    std::replace(shown.begin(), shown.end(), U'\t', U' ');
    put_unicode(ed.x, screen_y, shown, g_colors.MemoText, ed.width + 1);
    return;
  }
  for (size_t i = 0; i < bytes.size() && int(i) <= ed.width; ++i) {
    unsigned char ch = static_cast<unsigned char>(bytes[i]);
    put_char(ed.x + int(i), screen_y, ch == '\t' ? ' ' : ch, g_colors.MemoText);
  }
}

// The selected part of a row in cells from its start, a selected line end
// one cell more.
void draw_row_selection(const Session& s, const ScreenRow& row, int screen_y) {
  if (!has_selection(s)) return;
  auto [a, b] = selection(s);
  if (row.line < a.line || row.line > b.line) return;
  std::string_view text = s.ed.lines[size_t(row.line)].text;
  size_t from = std::max(row.start, row.line == a.line ? size_t(a.pos) : 0);
  size_t to = std::min(row.end, row.line == b.line ? size_t(b.pos) : text.size());
  bool end_cell = row.last && row.line < b.line;
  if (from > to || (from == to && !end_cell)) return;
  int x1 = wrap_cells(s.ed, text.substr(row.start, from - row.start));
  int x2 = wrap_cells(s.ed, text.substr(row.start, to - row.start)) + (end_cell ? 1 : 0);
  x2 = std::min(x2, s.ed.width + 1);
  put_attr(s.ed.x + x1, screen_y, x2 - x1, g_colors.MemoSelected);
}

// The cursor's row and column on the window; row -1 above it, past the
// height below it.
WrapPlace cursor_on_window(const Session& s) {
  const TextEditor& ed = s.ed;
  const std::string& text = ed.lines[size_t(ed.current)].text;
  WrapPlace place = wrap_place(ed, text, wrap_starts(ed, text), size_t(s.field->pos));
  if (ed.current < ed.first || (ed.current == ed.first && place.row < ed.first_row)) return {-1, place.column};
  int row = -ed.first_row;
  for (int line = ed.first; line < ed.current; ++line) {
    row += int(wrap_starts(ed, ed.lines[size_t(line)].text).size());
  }
  return {row + place.row, place.column};
}

// Moves the top row so that the cursor's row is on the window.
void follow_wrapped(Session& s) {
  TextEditor& ed = s.ed;
  WrapPlace at = cursor_on_window(s);
  if (at.row < 0) {
    const std::string& text = ed.lines[size_t(ed.current)].text;
    ed.first = ed.current;
    ed.first_row = wrap_place(ed, text, wrap_starts(ed, text), size_t(s.field->pos)).row;
    return;
  }
  for (int over = at.row - ed.height; over > 0; --over) {
    if (++ed.first_row < int(wrap_starts(ed, ed.lines[size_t(ed.first)].text).size())) continue;
    ++ed.first;
    ed.first_row = 0;
  }
}

// Up, Down, PgUp and PgDn go over rows, keeping the column; false for
// other keys or without wrap.
bool wrapped_move(Session& s, int scan) {
  TextEditor& ed = s.ed;
  int step = scan == scan_code(kKeyUp) || scan == scan_code(kKeyPgUp) ? -1
             : scan == scan_code(kKeyDown) || scan == scan_code(kKeyPgDn) ? 1 : 0;
  if (!ed.wrap || step == 0) return false;
  int count = scan == scan_code(kKeyPgUp) || scan == scan_code(kKeyPgDn) ? std::max(ed.height, 1) : 1;
  commit(s);
  int line = ed.current;
  std::vector<size_t> starts = wrap_starts(ed, ed.lines[size_t(line)].text);
  WrapPlace place = wrap_place(ed, ed.lines[size_t(line)].text, starts, size_t(s.field->pos));
  for (; count > 0; --count) {
    if (step < 0 && place.row == 0 && line == 0) break;
    if (step > 0 && place.row + 1 == int(starts.size()) && line + 1 == ed.line_count()) break;
    place.row += step;
    if (place.row < 0 || place.row == int(starts.size())) {
      line += step;
      starts = wrap_starts(ed, ed.lines[size_t(line)].text);
      place.row = step < 0 ? int(starts.size()) - 1 : 0;
    }
  }
  size_t pos = wrap_position(ed, ed.lines[size_t(line)].text, starts, place.row, place.column);
  ed.current = line;
  open_field(s, int(pos));
  return true;
}

// Ctrl+W: wrapping on or off; the cursor stays in sight either way.
void toggle_wrap(Session& s) {
  commit(s);
  s.ed.wrap = !s.ed.wrap;
  s.ed.first_row = 0;
  s.ed.column_scroll = 0;
  follow_current(s.ed);
  open_field(s, s.field->pos);
}

void draw_wrapped(const Session& s) {
  const TextEditor& ed = s.ed;
  std::vector<ScreenRow> rows = screen_rows_wrapped(ed);
  for (int row = 0; row <= ed.height; ++row) {
    put_spaces(ed.x, ed.y + row, ed.width + 1, g_colors.MemoText);
    if (row >= int(rows.size())) continue;
    const ScreenRow& shown = rows[size_t(row)];
    std::string_view text = ed.lines[size_t(shown.line)].text;
    draw_row(ed, text.substr(shown.start, shown.end - shown.start), ed.y + row);
    draw_row_selection(s, shown, ed.y + row);
  }
}

// Draws the text, its selection and the cursor.
void paint(Session& s) {
  TextEditor& ed = s.ed;
  if (!ed.wrap) {
    draw_lines(ed);
    edit_show(*s.field);
    draw_selection(s);
    return;
  }
  follow_wrapped(s);
  WrapPlace at = cursor_on_window(s);
  s.field->y = ed.y + std::clamp(at.row, 0, ed.height);
  edit_show(*s.field);  // the cursor's shape; the rows are drawn over it
  draw_wrapped(s);
  goto_xy(ed.x + std::min(at.column, ed.width), s.field->y);
}

// Passes a key to the line editor; a change of its scroll becomes the
// column scroll of every line.
void line_editor_key(Session& s, int key) {
  edit_key(*s.field, key);
  s.ed.column_scroll = s.field->scroll;
}

void character_key(Session& s, int key) {
  int ch = key_char(key);
  bool at_line_start = s.field->pos == 0;
  if (key == kKeyEnter) {
    split_line(s);
  } else if (ch == 8 && at_line_start && s.ed.current > 0) {
    join_lines(s, s.ed.current - 1);
  } else if (ch == 25) {
    delete_line(s);
  } else if (ch == 21) {
    restore_line(s);
  } else if (ch == 9) {
    s.field->flags |= kEditLiteral;
    line_editor_key(s, key);
  } else {
    line_editor_key(s, key);
  }
}

bool is_inline_key(int scan) {
  switch (scan) {
    case scan_code(kKeyHome):
    case scan_code(kKeyEnd):
    case scan_code(kKeyLeft):
    case scan_code(kKeyRight):
    case scan_code(kKeyIns):
    case scan_code(kKeyCtrlLeft):
    case scan_code(kKeyCtrlRight):
    case scan_code(kKeyDel):
      return true;
    default:
      return false;
  }
}

void toggle_full_screen(Session& s) {
  TextEditor& ed = s.ed;
  commit(s);
  int pos = s.field->pos;
  ed.full_screen = !ed.full_screen;
  set_geometry(ed);
  follow_current(ed);
  draw_window(s);
  open_field(s, pos);
}

// The screen has changed size: the window keeps its distances from the
// screen's edges (full screen keeps taking it all), the cursor line stays
// in sight, and everything is drawn again. The screen beneath is already
// painted.
void take_new_size(Session& s) {
  TextEditor& ed = s.ed;
  commit(s);
  int pos = s.field->pos;
  ed.window_width = std::max(ed.window_width + screen_cols() - s.cols, 1);
  ed.window_height = std::max(ed.window_height + screen_rows() - s.rows, 0);
  s.cols = screen_cols();
  s.rows = screen_rows();
  set_geometry(ed);
  follow_current(ed);
  draw_frame(ed);
  open_field(s, pos);
  paint(s);
}

void other_key(Session& s, int key) {
  int scan = scan_code(key);
  bool has_char = key_char(key) != 0;
  TextEditor& ed = s.ed;
  if (scan == scan_code(kKeyDel) && !has_char && !ed.read_only &&
      s.field->pos >= static_cast<int>(std::strlen(s.field->text)) &&
      ed.current < ed.line_count() - 1) {
    join_lines(s, ed.current);
  } else if (scan == scan_code(kKeyF3)) {
    toggle_full_screen(s);
  } else if (is_inline_key(scan) && !has_char) {
    if (scan != scan_code(kKeyDel) || !ed.read_only) line_editor_key(s, key);
  } else if (!wrapped_move(s, scan)) {
    vertical_move(s, scan);
  }
}

constexpr int kRunOn = -1;

// Esc and F10: leave at once when nothing changed, else ask.
int leave(Session& s) {
  commit(s);
  if (!s.ed.modified) return 1;
  // Nobody is left to answer the question: keep what was typed.
  if (input_closed()) return 0;
  int answer = message_box("You've made changes since the last save.", "Attention",
                           "Save\nDon't save\nCancel", 0, 50);
  if (answer == 0) return 0;
  if (answer == 1) return 1;
  return kRunOn;
}

bool same_lines(const std::vector<TextLine>& a, const std::vector<TextLine>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].text != b[i].text || a[i].line_end != b[i].line_end) return false;
  return true;
}

void push_undo(Session& s, Session::Step step) {
  if (s.undo.size() >= kUndoSteps) s.undo.erase(s.undo.begin());
  s.undo.push_back(std::move(step));
}

// Ctrl+Z: the text as it was before the last step, the cursor where it was.
void undo_step(Session& s) {
  commit(s);
  if (s.undo.empty()) return screen_bell();
  Session::Step step = std::move(s.undo.back());
  s.undo.pop_back();
  s.ed.lines = std::move(step.lines);
  s.ed.current = std::clamp(step.current, 0, s.ed.line_count() - 1);
  s.ed.first = step.first;
  s.ed.first_row = 0;
  s.ed.modified = 1;
  s.typing_line = -1;
  follow_current(s.ed);
  open_field(s, step.pos);
}

// Shift+moves: the first one drops the anchor where the cursor stands.
void select_move(Session& s, int key) {
  if (!s.selecting) {
    s.selecting = true;
    s.anchor = cursor_spot(s);
  }
  s.typing_line = -1;
  other_key(s, unshifted_key(key));
}

bool is_select_key(int key) {
  return key != kKeyShiftIns && key != kKeyShiftDel && unshifted_key(key) != key;
}
bool is_copy_key(int key) { return key_char(key) == 3 || key == kKeyCtrlIns; }

// A key for the text. Over a selection typing replaces it, Backspace and
// Del remove it, a cut takes it to the clipboard and a paste puts the
// clipboard in its place; without one the line editor's keys work on the
// cursor line.
void text_key(Session& s, int key) {
  int ch = key_char(key);
  bool selected = has_selection(s);
  bool cut = ch == 24 || key == kKeyShiftDel;
  if (ch == 22 || key == kKeyShiftIns) return paste_block(s);
  if (selected && cut) edit_copy_bytes(*s.field, selected_bytes(s));
  if (selected && (cut || ch == 8 || key == kKeyDel)) return delete_selection(s);
  if (selected && (ch >= 32 || key == kKeyEnter || ch == 9)) delete_selection(s);
  s.selecting = false;
  if (cut) key = 0x2D18;                // Ctrl+X
  if (key == kKeyCtrlIns) key = 0x2E03;  // Ctrl+C
  if (key_char(key) != 0) {
    character_key(s, key);
  } else {
    other_key(s, key);
  }
}

// A key that may change the text: what it changed becomes an undo step, a
// run of letters typed into one line a single one.
void edit_with_undo(Session& s, int key) {
  commit(s);
  Session::Step before{s.ed.lines, s.ed.current, s.ed.first, s.field->pos};
  int ch = key_char(key);
  bool letter = ch >= 32 && key != kKeyEnter && !has_selection(s);
  text_key(s, key);
  s.selecting = false;
  commit(s);
  if (same_lines(before.lines, s.ed.lines)) {
    if (!letter) s.typing_line = -1;
    return;
  }
  bool continues = letter && s.typing_line == before.current && s.ed.current == before.current;
  if (!continues) push_undo(s, std::move(before));
  s.typing_line = letter ? s.ed.current : -1;
}

// A text of the editor's bytes as a message box shows it: UTF-8 when they
// are another code page's.
std::string shown_text(const TextEditor& ed, const std::string& bytes) {
  if (!ed.characters || !ed.characters->shown_as) return bytes;
  std::string utf8;
  for (char32_t c : ed.characters->shown_as(bytes)) {
    char out[8];
    utf8.append(out, size_t(utf8_encode(c, out)));
  }
  return utf8;
}

int message_flags(const TextEditor& ed) { return ed.characters && ed.characters->shown_as ? kMessageUtf8 : 0; }

// ---- F7 and Alt+F7: finding a text; Ctrl+F7: replacing it ------------------

// A label is drawn two columns right of its x.
const DialogDecoration kFindLabels[] = {{12, 11, 12, 11, "Find"}, {}};
EditField g_find_field{.x = 20, .y = 11, .width = 44, .size = 255};
DialogPushButton g_find_ok{22, 13, nullptr, "OK", 1, 1};
DialogPushButton g_find_cancel{42, 13, nullptr, "Cancel", 0, 0};
DialogControl g_find_controls[] = {
    {kControlEdit, 0, &g_find_field}, {kControlButton, 0, &g_find_ok}, {kControlButton, 0, &g_find_cancel}, {}};
Dialog g_find_dialog{12, 10, 68, 14, kMemoFindTopic, "Find", 0, kFindLabels, g_find_controls};

const DialogDecoration kReplaceLabels[] = {{12, 9, 12, 9, "Find"}, {12, 11, 12, 11, "With"}, {}};
EditField g_replace_find{.x = 20, .y = 9, .width = 44, .size = 255};
EditField g_replace_with{.x = 20, .y = 11, .width = 44, .size = 255};
DialogCheck g_replace_case{20, 13, 0, "Ignore case", 0};
DialogPushButton g_replace_ok{22, 15, nullptr, "OK", 1, 1};
DialogPushButton g_replace_cancel{42, 15, nullptr, "Cancel", 0, 0};
DialogControl g_replace_controls[] = {{kControlEdit, 0, &g_replace_find},  {kControlEdit, 0, &g_replace_with},
                                      {kControlCheck, 0, &g_replace_case}, {kControlButton, 0, &g_replace_ok},
                                      {kControlButton, 0, &g_replace_cancel}, {}};
Dialog g_replace_dialog{12, 8, 68, 16, kMemoFindTopic, "Replace", 0, kReplaceLabels, g_replace_controls};

// The text as the finding compares it: with letters of either case alike,
// upper-cased by the rules of the text's code page.
std::string folded(const TextEditor& ed, std::string_view text, bool ignore_case) {
  std::string out(text);
  if (!ignore_case) return out;
  if (ed.characters && ed.characters->upper_case) {
    ed.characters->upper_case(out);
  } else {
    for (char& c : out) c = char(upper_866(static_cast<unsigned char>(c)));
  }
  return out;
}

bool starts_character(const TextEditor& ed, std::string_view line, size_t at) {
  if (!ed.characters || !ed.characters->length) return true;
  size_t start = 0;
  while (start < at) start += std::max<size_t>(ed.characters->length(line, start), 1);
  return start == at;
}

// Where `needle` (folded) stands in `line` from `from` on, starting on a
// character; npos when nowhere.
size_t find_in_line(const TextEditor& ed, const std::string& line, const std::string& needle, size_t from,
                    bool ignore_case) {
  if (from > line.size()) return std::string::npos;
  std::string hay = folded(ed, line, ignore_case);
  for (size_t at = hay.find(needle, from); at != std::string::npos; at = hay.find(needle, at + 1)) {
    if (starts_character(ed, line, at)) return at;
  }
  return std::string::npos;
}

// The next place of the text after the cursor, to the end and then from
// the top; the cursor goes there, or the bell rings and a box says so.
void find_next(Session& s) {
  if (s.found.empty()) return;
  commit(s);
  TextEditor& ed = s.ed;
  std::string needle = folded(ed, s.found, s.found_ignore_case);
  int count = ed.line_count();
  for (int step = 0; step <= count; ++step) {
    int line = (ed.current + step) % count;
    size_t from = step == 0 ? size_t(s.field->pos) + 1 : 0;
    if (step == count) from = 0;  // the cursor line again, before the cursor
    size_t at = find_in_line(ed, ed.lines[size_t(line)].text, needle, from, s.found_ignore_case);
    if (at == std::string::npos) continue;
    ed.current = line;
    follow_current(ed);
    open_field(s, int(at));
    return;
  }
  screen_bell();
  message_box(shown_text(ed, s.found) + "\nnot found", "Find", "OK", message_flags(ed), kMemoFindTopic);
}

// While a dialog asks for texts to find in the memo, its fields take the
// memo's characters, so that what is typed is in the memo's bytes.
class FieldsLikeText {
 public:
  FieldsLikeText(const TextEditor& ed, std::initializer_list<EditField*> fields) : fields_(fields) {
    for (EditField* field : fields_) field->characters = ed.characters;
  }
  ~FieldsLikeText() {
    for (EditField* field : fields_) field->characters = nullptr;
  }
  FieldsLikeText(const FieldsLikeText&) = delete;
  FieldsLikeText& operator=(const FieldsLikeText&) = delete;

 private:
  std::vector<EditField*> fields_;
};

void find_text(Session& s) {
  FieldsLikeText like(s.ed, {&g_find_field});
  dialog_prepare(g_find_dialog);
  edit_set_text(g_find_field, s.found.c_str());
  int result = dialog_run(g_find_dialog, nullptr);
  std::string text = g_find_field.text ? g_find_field.text : "";
  dialog_finish(g_find_dialog);
  if (result != 1 || text.empty()) return;
  s.found = text;
  s.found_ignore_case = true;
  find_next(s);
}

enum ReplaceAnswer { kReplaceYes = 0, kReplaceAll = 1, kReplaceSkip = 2 };

// Shows the match selected and asks what to do with it.
int ask_replace(Session& s, Spot at, const std::string& with) {
  TextEditor& ed = s.ed;
  ed.current = at.line;
  follow_current(ed);
  open_field(s, at.pos + int(s.found.size()));
  s.selecting = true;
  s.anchor = at;
  paint(s);
  s.selecting = false;
  std::string question = "Replace\n\"" + shown_text(ed, s.found) + "\"\nwith\n\"" + shown_text(ed, with) + "\"?";
  return message_box(question, "Replace", "Yes\nAll\nSkip\nCancel", message_flags(ed), kMemoFindTopic);
}

// Replaces every place of the found text from the cursor to the end that
// the user agrees to; the whole run is one undo step.
void replace_run(Session& s, const std::string& with) {
  commit(s);
  TextEditor& ed = s.ed;
  Session::Step before{ed.lines, ed.current, ed.first, s.field->pos};
  std::string needle = folded(ed, s.found, s.found_ignore_case);
  Spot from = cursor_spot(s), last = from;
  bool all = false, any = false;
  while (from.line < ed.line_count()) {
    std::string& line = ed.lines[size_t(from.line)].text;
    size_t at = find_in_line(ed, line, needle, size_t(from.pos), s.found_ignore_case);
    if (at == std::string::npos) {
      from = {from.line + 1, 0};
      continue;
    }
    any = true;
    int answer = all ? kReplaceAll : ask_replace(s, {from.line, int(at)}, with);
    if (answer != kReplaceYes && answer != kReplaceAll && answer != kReplaceSkip) break;
    all = answer == kReplaceAll;
    size_t next = at + (answer == kReplaceSkip ? s.found.size() : with.size());
    if (answer != kReplaceSkip) line.replace(at, s.found.size(), with);
    from = last = {from.line, int(next)};
  }
  if (!same_lines(before.lines, ed.lines)) {
    push_undo(s, std::move(before));
    ed.modified = 1;
    s.typing_line = -1;
  }
  ed.current = last.line;
  follow_current(ed);
  open_field(s, last.pos);
  if (any) return;
  screen_bell();
  message_box(shown_text(ed, s.found) + "\nnot found", "Replace", "OK", message_flags(ed), kMemoFindTopic);
}

void replace_text(Session& s) {
  FieldsLikeText like(s.ed, {&g_replace_find, &g_replace_with});
  dialog_prepare(g_replace_dialog);
  edit_set_text(g_replace_find, s.found.c_str());
  edit_set_text(g_replace_with, s.replacement.c_str());
  g_replace_dialog.values[0] = s.found_ignore_case ? 1 : 0;
  int result = dialog_run(g_replace_dialog, nullptr);
  std::string find = g_replace_find.text ? g_replace_find.text : "";
  std::string with = g_replace_with.text ? g_replace_with.text : "";
  bool ignore_case = g_replace_dialog.values[0] != 0;
  dialog_finish(g_replace_dialog);
  if (result != 1 || find.empty()) return;
  s.found = find;
  s.found_ignore_case = ignore_case;
  s.replacement = with;
  replace_run(s, with);
}

int handle_key(Session& s, int key) {
  int scan = scan_code(key);
  int ch = key_char(key);
  if (is_select_key(key)) {
    select_move(s, key);
    return kRunOn;
  }
  if (is_copy_key(key) && has_selection(s)) {
    edit_copy_bytes(*s.field, selected_bytes(s));
    return kRunOn;
  }
  if (key == kKeyF7 || key == kKeyAltF7 || key == kKeyCtrlF7) {
    s.selecting = false;
    if (key == kKeyF7) find_text(s);
    if (key == kKeyAltF7) find_next(s);
    if (key == kKeyCtrlF7) s.ed.read_only ? screen_bell() : replace_text(s);
    return kRunOn;
  }
  if (scan == scan_code(kKeyF2) && ch == 0) {
    commit(s);
    return s.ed.modified ? 10 : 1;
  }
  if (ch == 23) {
    s.selecting = false;
    toggle_wrap(s);
    return kRunOn;
  }
  if (ch == key_char(kKeyEsc) || (scan == scan_code(kKeyF10) && ch == 0)) return leave(s);
  if (s.ed.read_only) {
    s.selecting = false;
    other_key(s, key);
  } else if (ch == 26) {
    s.selecting = false;
    undo_step(s);
  } else {
    edit_with_undo(s, key);
  }
  return kRunOn;
}

}  // namespace

std::unique_ptr<TextEditor> text_create(const char* text, int x1, int y1, int x2, int y2,
                                        int full_screen, std::string_view title) {
  std::unique_ptr<TextEditor> ed(new (std::nothrow) TextEditor);
  if (!ed) return nullptr;
  ed->lines = text_split(text ? std::string_view(text) : std::string_view());
  ed->window_x = x1;
  ed->window_y = y1;
  ed->window_width = x2 - x1;
  ed->window_height = y2 - y1;
  ed->full_screen = full_screen || g_text_full_screen ? 1 : 0;
  ed->wrap = g_settings.memo_wrap;
  ed->remember_full_screen = true;
  ed->title.assign(title);
  set_geometry(*ed);
  return ed;
}

void text_append_line(TextEditor& editor, std::string_view line, unsigned char line_end) {
  editor.lines.push_back(TextLine{std::string(line), line_end});
}

int text_run(TextEditor& editor, int help_topic, IdleHook idle_hook) {
  if (editor.lines.empty()) editor.lines.push_back(TextLine{std::string(), kLineEndLf});
  editor.current = std::clamp(editor.current, 0, editor.line_count() - 1);
  int cursor = get_cursor();
  // The text area may reach the last column, the cursor line too.
  int margin = g_screen.right_margin;
  g_screen.right_margin = 0;
  Session s{editor, help_topic, idle_hook, save_screen(), nullptr, false, {}};
  set_geometry(editor);
  follow_current(editor);
  draw_window(s);
  open_field(s, 0);
  int result = kRunOn;
  {
    PaintLayer layer([&s] { take_new_size(s); });
    while (result == kRunOn) {
      paint(s);
      result = handle_key(s, get_select_key(help_topic, idle_hook));
    }
  }
  if (result != 1) editor.text = text_join(editor.lines);
  restore_screen(s.saved);
  goto_xy(cursor % 256, cursor / 256);
  g_screen.right_margin = margin;
  return result;
}

void text_free(std::unique_ptr<TextEditor>& editor) { editor.reset(); }

}  // namespace kora
