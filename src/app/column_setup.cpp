#include "app/column_setup.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/navigation.h"
#include "table/code_page.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr const char* kTitle = "Column setup";
constexpr const char* kHeading = "  # Name                             Visible  ReadOnly Fixed";
constexpr int kRowWidth = 60;   // the heading; a row is one shorter
constexpr int kNameWidth = 32;  // "%-32s": a longer name would push the marks
constexpr int kMarkColumns[3] = {38, 47, 56};  // "[x]" of Visible, ReadOnly, Fixed within a row

enum Flag { kVisible = 0, kReadOnly = 1, kFixed = 2 };

// One run of the window: the edited copy of the column model, the columns
// in the order the rows show them, and the layout.
struct SetupSession {
  explicit SetupSession(Table& t) : table(t), model(t.columns), list(t.columns.order) {}
  Table& table;
  ColumnModel model;
  std::vector<int> list;
  int current = 0;
  int first = 0;
  int flag = kVisible;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;

  int count() const { return int(list.size()); }
  int rows_shown() const { return std::max(1, y2 - y1 - 2); }
  int row_y(int i) const { return y1 + 2 + i - first; }
  ColumnFlags& flags_of(int row) { return model.flags[size_t(list[size_t(row)])]; }
};

std::string row_text(SetupSession& s, int row) {
  std::string name = column_name(s.table, s.list[size_t(row)]);
  if (g_app.captions_ansi) name = table_ansi_to_oem(s.table, name);
  name.resize(std::min(name.size(), size_t(kNameWidth)));
  const ColumnFlags& flags = s.flags_of(row);
  char text[128];
  std::snprintf(text, sizeof text, "%3d %-32s  [%c]      [%c]      [%c]", (row + 1) % 1000, name.c_str(),
                flags.visible ? 'x' : ' ', flags.read_only ? 'x' : ' ', row < s.model.fixed ? 'x' : ' ');
  return text;
}

void layout(SetupSession& s) {
  s.x1 = std::max(0, (screen_cols() - kRowWidth - 4) / 2);
  s.x2 = s.x1 + kRowWidth + 3;
  s.y1 = 2;
  s.y2 = std::clamp(s.y1 + 2 + s.count(), s.y1 + 3, std::max(s.y1 + 3, screen_rows() - 3));
}

void draw(SetupSession& s) {
  draw_box(s.x1, s.y1, s.x2, s.y2, g_colors.DialogFrame, g_frames.double_frame, kBoxShadow);
  put_title(s.y1, kTitle, g_colors.DialogFrame);
  put_text_n(s.x1 + 2, s.y1 + 1, kHeading, g_colors.DialogFrame, kRowWidth);
  for (int i = s.first; i < s.count() && s.row_y(i) < s.y2; ++i) {
    unsigned char colour = i == s.current ? g_colors.MenuSelected : g_colors.DialogText;
    put_spaces(s.x1 + 1, s.row_y(i), kRowWidth + 2, colour);
    put_text_n(s.x1 + 2, s.row_y(i), row_text(s, i), colour, kRowWidth);
  }
  // The selected flag of the current row stands out and carries the cursor.
  int x = s.x1 + 2 + kMarkColumns[s.flag];
  int y = s.row_y(s.current);
  put_text_n(x, y, row_text(s, s.current).substr(size_t(kMarkColumns[s.flag]), 3), g_colors.MenuHotSelected, 3);
  goto_xy(x + 1, y);
}

void move_to(SetupSession& s, int row) {
  s.current = std::clamp(row, 0, s.count() - 1);
  if (s.current < s.first) s.first = s.current;
  if (s.current >= s.first + s.rows_shown()) s.first = s.current - s.rows_shown() + 1;
}

// The current column travels to `row`, the others close up behind it.
void carry_to(SetupSession& s, int row) {
  int target = std::clamp(row, 0, s.count() - 1);
  int column = s.list[size_t(s.current)];
  s.list.erase(s.list.begin() + s.current);
  s.list.insert(s.list.begin() + target, column);
  move_to(s, target);
}

// The keys that move the cursor; with `carry` the current column travels
// with it.
enum Target { kRowUp, kRowDown, kPageUp, kPageDown, kFirstRow, kLastRow };
struct MoveKey {
  int key;
  Target target;
  bool carry;
};
constexpr MoveKey kMoveKeys[] = {
    {kKeyUp, kRowUp, false},         {kKeyAltUp, kRowUp, true},
    {kKeyDown, kRowDown, false},     {kKeyAltDown, kRowDown, true},
    {kKeyPgUp, kPageUp, false},      {kKeyAltPgUp, kPageUp, true},
    {kKeyPgDn, kPageDown, false},    {kKeyAltPgDn, kPageDown, true},
    {kKeyCtrlHome, kFirstRow, false}, {kKeyCtrlPgUp, kFirstRow, false}, {kKeyAltHome, kFirstRow, true},
    {kKeyCtrlEnd, kLastRow, false},  {kKeyCtrlPgDn, kLastRow, false},  {kKeyAltEnd, kLastRow, true},
};

int target_row(const SetupSession& s, Target target) {
  int page = std::max(1, screen_rows() - 6);
  switch (target) {
    case kRowUp: return s.current - 1;
    case kRowDown: return s.current + 1;
    case kPageUp: return s.current - page;
    case kPageDown: return s.current + page;
    case kFirstRow: return 0;
    case kLastRow: return s.count() - 1;
  }
  return s.current;
}

void toggle_current(SetupSession& s) {
  if (s.flag == kVisible) s.flags_of(s.current).visible = !s.flags_of(s.current).visible;
  if (s.flag == kReadOnly) s.flags_of(s.current).read_only = !s.flags_of(s.current).read_only;
  // The rows up to this one become fixed, or the fixed part ends before it.
  if (s.flag == kFixed) s.model.fixed = s.current < s.model.fixed ? s.current : s.current + 1;
}

// '*' inverts, '+' sets, '-' clears the selected flag of every column.
void set_all(SetupSession& s, char how) {
  if (s.flag == kFixed) return;
  for (int row = 0; row < s.count(); ++row) {
    bool& flag = s.flag == kVisible ? s.flags_of(row).visible : s.flags_of(row).read_only;
    flag = how == '*' ? !flag : how == '+';
  }
}

bool any_visible(SetupSession& s) {
  for (int row = 0; row < s.count(); ++row) {
    if (s.flags_of(row).visible) return true;
  }
  return false;
}

// Handles one key; 1 confirmed, 0 left, -1 the window stays.
int handle_key(SetupSession& s, int key) {
  for (const MoveKey& move : kMoveKeys) {
    if (key != move.key) continue;
    move.carry ? carry_to(s, target_row(s, move.target)) : move_to(s, target_row(s, move.target));
    return -1;
  }
  switch (key) {
    case kKeyLeft:
    case kKeyShiftTab: s.flag = (s.flag + 2) % 3; return -1;
    case kKeyRight:
    case kKeyTab: s.flag = (s.flag + 1) % 3; return -1;
    case kKeyIns:
      toggle_current(s);
      move_to(s, s.current + 1);
      return -1;
    case kKeyEsc:
    case kKeyF10: return 0;
    default: break;
  }
  char c = char(key_char(key));
  if (c == ' ') toggle_current(s);
  if (c == '*' || c == '+' || c == '-') set_all(s, c);
  // With no column left to show there is nothing to confirm.
  if (key == kKeyEnter && any_visible(s)) return 1;
  return -1;
}

// The cursor and the first column stay on the columns still shown.
void keep_view_on_shown_columns(Table& table) {
  ViewState& view = view_of(table);
  int last = std::max(0, column_count(table) - 1);
  view.current_column = std::clamp(view.current_column, 0, last);
  view.first_column = std::clamp(view.first_column, 0, view.current_column);
  if (g_app.block.on) g_app.block.anchor_column = std::clamp(g_app.block.anchor_column, 0, last);
}

}  // namespace

int column_setup(Table& table) {
  SetupSession s(table);
  if (s.count() == 0) return 0;
  ScreenSnapshot saved = save_screen();
  int cursor = get_cursor();
  layout(s);
  g_idle_shift_seen = -1;
  int result = -1;
  {
    PaintLayer layer([&s] {
      layout(s);
      draw(s);
    });
    while (result < 0) {
      draw(s);
      result = handle_key(s, get_key(kColumnSetupHelp, idle_routine));
    }
  }
  g_idle_shift_seen = -1;
  if (result == 1) {
    arrange_columns(s.model, s.list);
    table.columns = s.model;
  }
  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  return result;
}

void column_setup_command() {
  Table* table = g_app.table();
  if (!table) return;
  leave_cell(false);
  if (!column_setup(*table)) return;
  keep_view_on_shown_columns(*table);
  refresh_captions();
  g_app.redraw |= kRedrawAll;
}

}  // namespace kora
