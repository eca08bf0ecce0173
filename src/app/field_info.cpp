#include "app/field_info.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/navigation.h"
#include "app/tool_commands.h"
#include "table/code_page.h"
#include "table/header_file.h"
#include "tools/structure_forms.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/line_editor.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr const char* kTitle = "Field info";
constexpr const char* kHeading = "  # Name       Type       Width Dec Alias";
constexpr int kRowWidth = 68;     // the longest row: "%3d %-10s %-10s %5d %3d %-32s"
constexpr int kAliasColumn = 36;  // where the alias starts within a row
constexpr int kAliasWidth = 32;
constexpr int kAliasLimit = 31;

std::string row_text(const Table& table, int i, const std::string& alias) {
  char row[160];
  std::string name = field_name(table, i);
  char letter = field_type(table, i);
  std::string known_as = type_name(letter, field_length_byte(table, i));
  // A type kora does not know is named by the letter the file gives it.
  if (!is_known_type_letter(letter) && letter != 'P') {
    char unknown[16];
    if (letter > ' ' && letter < 0x7F) {
      std::snprintf(unknown, sizeof unknown, "Unknown %c", letter);
    } else {
      std::snprintf(unknown, sizeof unknown, "Type 0x%02X", unsigned(uint8_t(letter)));
    }
    known_as = unknown;
  }
  const char* type = known_as.c_str();
  std::string shown = alias.substr(0, kAliasLimit);
  if (is_numeric_field(table, i)) {
    std::snprintf(row, sizeof row, "%3d %-10s %-10s %5d %3d %-32s", (i + 1) % 1000, name.c_str(), type,
                  field_length_byte(table, i), field_decimals(table, i), shown.c_str());
  } else {
    std::snprintf(row, sizeof row, "%3d %-10s %-10s %5d     %-32s", (i + 1) % 1000, name.c_str(), type,
                  field_length(table, i), shown.c_str());
  }
  return row;
}

// One run of the window: the edited copy of the aliases and the layout.
struct AliasSession {
  explicit AliasSession(Table& t) : table(t), aliases(t.aliases) {}
  Table& table;
  std::vector<std::string> aliases;
  int current = 0;
  int first = 0;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  std::unique_ptr<EditField> field;

  int count() const { return table.field_count(); }
  int page() const { return std::max(1, y2 - y1 - 2); }
  int row_y(int i) const { return y1 + 2 + i - first; }
};

void layout(AliasSession& s) {
  s.x1 = std::max(0, (screen_cols() - kRowWidth - 4) / 2);
  s.x2 = s.x1 + kRowWidth + 3;
  s.y1 = 1;
  s.y2 = std::max(s.y1 + 3, screen_rows() - 3);
}

void draw(AliasSession& s) {
  draw_box(s.x1, s.y1, s.x2, s.y2, g_colors.DialogFrame, g_frames.double_frame, kBoxShadow);
  put_title(s.y1, kTitle, g_colors.DialogFrame);
  put_text_n(s.x1 + 2, s.y1 + 1, kHeading, g_colors.DialogFrame, kRowWidth);
  for (int i = s.first; i < s.count() && s.row_y(i) < s.y2; ++i) {
    unsigned char colour = i == s.current ? g_colors.MenuSelected : g_colors.DialogText;
    put_spaces(s.x1 + 1, s.row_y(i), kRowWidth + 2, colour);
    put_text_n(s.x1 + 2, s.row_y(i), row_text(s.table, i, s.aliases[size_t(i)]), colour, kRowWidth);
  }
}

// The line editor over the current row's alias.
void open_field(AliasSession& s) {
  s.field = edit_create(s.x1 + 2 + kAliasColumn, s.row_y(s.current), kAliasWidth, kAliasLimit,
                        s.aliases[size_t(s.current)].c_str(), g_colors.DialogEdit, nullptr);
  s.field->end_ok = 1;
  edit_show(*s.field);
}

void store_field(AliasSession& s) {
  if (s.field) s.aliases[size_t(s.current)] = edit_text(*s.field);
}

void move_to(AliasSession& s, int row) {
  store_field(s);
  s.current = std::clamp(row, 0, s.count() - 1);
  if (s.current < s.first) s.first = s.current;
  if (s.current >= s.first + s.page()) s.first = s.current - s.page() + 1;
  draw(s);
  open_field(s);
}

// The row a moving key leads to (before it is clamped); none for other keys.
std::optional<int> row_for_key(const AliasSession& s, int key) {
  switch (key) {
    case kKeyUp: return s.current - 1;
    case kKeyDown: return s.current + 1;
    case kKeyPgUp: return s.current - s.page();
    case kKeyPgDn: return s.current + s.page();
    case kKeyCtrlHome:
    case kKeyCtrlPgUp: return 0;
    case kKeyCtrlEnd:
    case kKeyCtrlPgDn: return s.count() - 1;
    default: return std::nullopt;
  }
}

void toggle_captions() {
  g_app.captions_ansi = !g_app.captions_ansi;
  update_keybar_labels();
  draw_keybar(kFieldInfoHelp, 0);
}

}  // namespace

int alias_editor(Table& table) {
  if (table.field_count() == 0) return 0;
  AliasSession s(table);
  s.aliases.resize(size_t(table.field_count()));
  if (g_app.captions_ansi) {
    for (std::string& alias : s.aliases) alias = table_ansi_to_oem(table, alias);
  }
  const int captions_before = g_app.captions_ansi;
  ScreenSnapshot saved = save_screen();
  int cursor = get_cursor();
  layout(s);
  g_idle_shift_seen = -1;
  move_to(s, 0);
  // At a new size the typing in the field is kept as the row's alias.
  PaintLayer layer([&s] {
    layout(s);
    move_to(s, s.current);
  });
  int result = -1;
  while (result < 0) {
    int key = get_key(kFieldInfoHelp, idle_routine);
    if (std::optional<int> row = row_for_key(s, key)) {
      move_to(s, *row);
    } else if (key == kKeyEnter) {
      store_field(s);
      table.aliases = s.aliases;
      result = 1;
    } else if (key == kKeyEsc || key == kKeyF10) {
      g_app.captions_ansi = captions_before;
      result = 0;
    } else if (key == kKeyF12) {
      toggle_captions();
      edit_show(*s.field);
    } else if (key >= kKeyF2 && key <= kKeyF9 && is_extended_key(key)) {
      // The XML form declares the code page the aliases are held in.
      save_structure(table, StructureForm(scan_code(key) - scan_code(kKeyF2)),
                     g_app.captions_ansi ? XmlEncoding::kWindows1251 : XmlEncoding::kCp866);
      edit_show(*s.field);
    } else {
      edit_key(*s.field, key);
    }
  }
  update_keybar_labels();
  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  g_idle_shift_seen = -1;
  return result;
}

void fields_info() {
  Table* table = g_app.table();
  if (!table || !alias_editor(*table)) return;
  if (!save_aliases(*table, g_app.captions_ansi)) report_output_status(OutputStatus::kWriteFailed);
  update_keybar_labels();
  if (table->show_aliases) refresh_captions();
  g_app.redraw |= kRedrawAll;
}

}  // namespace kora
