// The structure editor: one row per field, edited cell by cell (name, type,
// width, decimals), with the OK and Cancel buttons under the list.
#include "app/structure_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <strings.h>

#include "app/browse_view.h"
#include "tools/structure_forms.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/line_editor.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr const char* kHeading = "  #  Name        Type        Width  Decimal";
constexpr int kRowWidth = 44;
constexpr int kNameColumn = 5, kTypeColumn = 17, kWidthColumn = 28, kDecimalsColumn = 38;
constexpr int kMaxEditorFields = 2047;

enum Cell { kNameCell, kTypeCell, kWidthCell, kDecimalsCell, kCellCount };
enum Focus { kFocusList, kFocusOk, kFocusCancel };

bool type_in(char type, const char* letters) { return type != 0 && std::strchr(letters, type) != nullptr; }

bool cell_editable(const FieldDesc& desc, int cell) {
  if (cell == kWidthCell) return !type_in(desc.type, "DTLMGYI");
  if (cell == kDecimalsCell) return type_in(desc.type, "BNF");
  return true;
}

std::string row_text(const StructureField& field, int i) {
  const FieldDesc& d = field.desc;
  char row[96];
  std::snprintf(row, sizeof row, "%3d  %-10s  %-10s %5d", (i + 1) % 1000, desc_name(d).c_str(),
                type_name(d.type, d.length), desc_width(d));
  std::string text = row;
  if (type_in(d.type, "BNF")) {
    std::snprintf(row, sizeof row, "%2d", d.decimals);
    text.resize(kDecimalsColumn, ' ');
    text += row;
  }
  return text;
}

struct Session {
  Session(Table* t, StructureDraft& d, const char* heading) : table(t), draft(d), title(heading) {}
  Table* table;
  StructureDraft& draft;
  const char* title;
  int current = 0, cell = kNameCell, first = 0, focus = kFocusList;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  std::unique_ptr<EditField> field;

  std::vector<StructureField>& fields() { return draft.fields; }
  int count() const { return int(draft.fields.size()); }
  int page() const { return std::max(1, y2 - y1 - 4); }
  int row_y(int i) const { return y1 + 2 + i - first; }
  FieldDesc& desc() { return draft.fields[size_t(current)].desc; }
};

void layout(Session& s) {
  s.x1 = std::max(0, (screen_cols() - kRowWidth - 4) / 2);
  s.x2 = s.x1 + kRowWidth + 3;
  s.y1 = 1;
  s.y2 = std::max(s.y1 + 6, screen_rows() - 3);
}

int cell_x(const Session& s, int cell) {
  static constexpr int kColumns[kCellCount] = {kNameColumn, kTypeColumn, kWidthColumn, kDecimalsColumn};
  return s.x1 + 2 + kColumns[cell];
}

void draw(Session& s) {
  draw_box(s.x1, s.y1, s.x2, s.y2, g_colors.DialogFrame, g_frames.double_frame, kBoxShadow);
  put_title(s.y1, s.title, g_colors.DialogFrame);
  put_text_n(s.x1 + 2, s.y1 + 1, kHeading, g_colors.DialogFrame, kRowWidth);
  for (int i = s.first; i < s.count() && s.row_y(i) < s.y2 - 2; ++i) {
    bool here = i == s.current && s.focus == kFocusList;
    unsigned char colour = here ? g_colors.MenuSelected : g_colors.DialogText;
    put_spaces(s.x1 + 1, s.row_y(i), kRowWidth + 2, colour);
    put_text_n(s.x1 + 2, s.row_y(i), row_text(s.fields()[size_t(i)], i), colour, kRowWidth);
  }
  int bx = s.x1 + (s.x2 - s.x1 + 1 - 36) / 2;
  put_button(bx, s.y2 - 1, "OK", s.focus == kFocusOk ? g_colors.DialogDefault : g_colors.DialogButton);
  put_button(bx + 20, s.y2 - 1, "Cancel", s.focus == kFocusCancel ? g_colors.DialogDefault : g_colors.DialogButton);
}

// The line editor over the current cell; none on the type cell, which
// takes single keys.
void open_cell(Session& s) {
  s.field.reset();
  if (s.focus != kFocusList) {
    set_cursor_shape(0x2000);
    return;
  }
  const FieldDesc& d = s.desc();
  int x = cell_x(s, s.cell), y = s.row_y(s.current);
  if (s.cell == kNameCell) {
    s.field = edit_create(x, y, 10, 10, desc_name(d).c_str(), g_colors.DialogEdit, nullptr);
  } else if (s.cell != kTypeCell) {
    std::string value = std::to_string(s.cell == kWidthCell ? desc_width(d) : int(d.decimals));
    int size = s.cell == kWidthCell ? 5 : 2;
    s.field = edit_create(x, y, size, size, value.c_str(), g_colors.DialogEdit, kAllowRecord);
  }
  if (s.field) {
    s.field->end_ok = 1;
    edit_show(*s.field);
  } else {
    set_cursor_shape(0x0607);
    goto_xy(x, y);
  }
}

// The field other than the current one that has the name, or -1.
int name_owner(const Session& s, const std::string& name) {
  for (int i = 0; i < s.count(); ++i) {
    if (i != s.current && strcasecmp(desc_name(s.draft.fields[size_t(i)].desc).c_str(), name.c_str()) == 0) {
      return i;
    }
  }
  return -1;
}

// Why a name cannot be stored, or nothing. A name as it was is checked only
// against the others: a table's own odd names may stay.
std::string name_refusal(const Session& s, const std::string& name, bool typed) {
  if (typed && name.empty()) return "A field needs a name.";
  if (typed && !std::isalpha(static_cast<unsigned char>(name[0]))) {
    return "A field name begins with a letter (A to Z).";
  }
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (typed && !std::isalnum(u) && c != '_') {
      std::string shown = u >= 0x20 && u < 0x7F ? std::string(1, c) : "that character";
      return "A field name holds letters, digits and _ only,\nnot " + shown + ".";
    }
  }
  if (int other = name_owner(s, name); other >= 0) {
    return "Field " + std::to_string(other + 1) + " has the name " + desc_name(s.draft.fields[size_t(other)].desc) +
           " already.";
  }
  return {};
}

int parse_number(const char* text) {
  long value = 0;
  for (const char* p = text; *p && value < 1000000; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p))) value = value * 10 + (*p - '0');
  }
  return int(std::min(value, 65535L));
}

// Stores the cell being edited; false when its text is refused (an empty
// name, one with a character no field name may hold, one another field
// has): the reason is shown and the cell keeps the text typed.
bool store_cell(Session& s) {
  if (!s.field) return true;
  FieldDesc& d = s.desc();
  const int memo_type = g_settings.export_dbf.memo_type;
  if (s.cell == kNameCell) {
    std::string name = edit_text(*s.field);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    // Typed names are upper case, as other programs expect; a name left
    // as it was keeps its letters.
    if (s.field->modified) {
      for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    if (std::string why = name_refusal(s, name, s.field->modified != 0); !why.empty()) {
      message_box(why, "Attention", "OK", 0, kStructureHelp);
      edit_show(*s.field);
      return false;
    }
    set_desc_name(d, name);
  } else if (s.cell == kWidthCell) {
    int width = parse_number(edit_text(*s.field));
    // A width beyond a byte is kept at its largest; numbers are held to
    // their range again, everything else is checked at OK.
    set_desc_width(d, d.type == 'C' ? width : std::min(width, 255));
    if (type_in(d.type, "NF")) normalize_field_type(d, d.type, memo_type);
  } else if (s.cell == kDecimalsCell) {
    d.decimals = uint8_t(std::min(parse_number(edit_text(*s.field)), 255));
    if (type_in(d.type, "NF")) normalize_field_type(d, d.type, memo_type);
    if (d.type == 'B') d.decimals = std::min<uint8_t>(d.decimals, 7);
  }
  return true;
}

void keep_current_in_sight(Session& s) {
  s.current = std::clamp(s.current, 0, s.count() - 1);
  if (s.current < s.first) s.first = s.current;
  if (s.current >= s.first + s.page()) s.first = s.current - s.page() + 1;
}

void show(Session& s) {
  keep_current_in_sight(s);
  draw(s);
  open_cell(s);
}

void move_row(Session& s, int row) {
  if (!store_cell(s)) return;
  s.current = row;
  if (!cell_editable(s.fields()[size_t(std::clamp(row, 0, s.count() - 1))].desc, s.cell)) s.cell = kNameCell;
  show(s);
}

// The next editable cell, on to the next row and from the last cell of the
// last row to the OK button; backwards the same way.
void step_cell(Session& s, int direction) {
  if (!store_cell(s)) return;
  int cell = s.cell, row = s.current;
  do {
    cell += direction;
    if (cell >= kCellCount) cell = 0, ++row;
    if (cell < 0) cell = kCellCount - 1, --row;
  } while (row >= 0 && row < s.count() && !cell_editable(s.fields()[size_t(row)].desc, cell));
  if (row >= s.count()) {
    s.focus = kFocusOk;
  } else if (row >= 0) {
    s.current = row;
    s.cell = cell;
  }
  show(s);
}

void set_type(Session& s, char type) {
  normalize_field_type(s.desc(), type, g_settings.export_dbf.memo_type);
  step_cell(s, 1);
}

MenuItem g_type_items[] = {{"&Character", 0, 0, 'C', nullptr}, {"&Numeric", 0, 0, 'N', nullptr},
                           {"&Float", 0, 0, 'F', nullptr},     {"&Date", 0, 0, 'D', nullptr},
                           {"&Logical", 0, 0, 'L', nullptr},   {"&Memo", 0, 0, 'M', nullptr},
                           {nullptr, 0, 0, 0, nullptr}};
Menu g_type_menu{.items = g_type_items};

void type_menu(Session& s) {
  g_type_menu.left = cell_x(s, kTypeCell);
  g_type_menu.top = std::min(s.row_y(s.current) + 1, std::max(0, screen_rows() - 9));
  // The menu opens on the field's own type (on Character for the others).
  g_type_menu.current = 0;
  for (int i = 0; g_type_items[i].label; ++i) {
    if (g_type_items[i].command == s.desc().type) g_type_menu.current = i;
  }
  int chosen = menu_popup(g_type_menu, kStructureHelp);
  if (chosen >= 0) {
    set_type(s, char(g_type_items[chosen].command));
  } else {
    open_cell(s);
  }
}

void add_field(Session& s, int at) {
  if (s.count() >= kMaxEditorFields || !store_cell(s)) return;
  s.fields().insert(s.fields().begin() + at, new_structure_field(s.fields()));
  s.current = at;
  s.cell = kNameCell;
  show(s);
}

void delete_field(Session& s) {
  s.field.reset();
  s.fields().erase(s.fields().begin() + s.current);
  if (s.fields().empty()) s.fields().push_back(new_structure_field(s.fields()));
  s.cell = kNameCell;
  show(s);
}

std::optional<int> row_for_key(const Session& s, int key) {
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

// The structure passes the engine's checks; else the fault is shown and
// the cursor put on the field at fault.
bool structure_valid(Session& s) {
  std::vector<FieldDesc> descs = descriptors_of(s.fields());
  StructureCheck check = check_structure(descs, structure_kind(s.table));
  if (check.ok()) return true;
  message_box(structure_fault_text(check, descs), "Attention", "OK", 0, kStructureHelp);
  if (check.field >= 0 && check.field < s.count()) s.current = check.field;
  s.focus = kFocusList;
  s.cell = kNameCell;
  show(s);
  return false;
}

// A function key that works on the whole list, then the list redrawn.
bool function_key(Session& s, int key) {
  bool changed = false;
  switch (key) {
    case kKeyF2: save_structure_list(s.draft); break;
    case kKeyF3: changed = load_structure_list(s.draft); break;
    case kKeyF4:
      if (s.table) changed = set_optimal_widths(*s.table, s.draft);
      break;
    case kKeyF9: choose_memo_type(s.table); break;
    default: return false;
  }
  if (changed) s.current = s.first = 0, s.cell = kNameCell;
  show(s);
  return true;
}

// One key in the list; -1 goes on, 0 cancels, 1 confirms.
int list_key(Session& s, int key) {
  if (std::optional<int> row = row_for_key(s, key)) {
    move_row(s, *row);
  } else if (key == kKeyEnter) {
    step_cell(s, 1);
  } else if (key == kKeyTab) {
    if (store_cell(s)) s.focus = kFocusOk, show(s);
  } else if (key == kKeyShiftTab) {
    if (store_cell(s)) s.focus = kFocusCancel, show(s);
  } else if (key == kKeyF5) {
    add_field(s, s.count());
  } else if (key == kKeyF6) {
    add_field(s, s.current);
  } else if (key == kKeyF8) {
    delete_field(s);
  } else if ((key == kKeyF2 || key == kKeyF3 || key == kKeyF4 || key == kKeyF9) && store_cell(s)) {
    function_key(s, key);
  } else if (s.cell == kTypeCell) {
    int ch = std::toupper(key_char(key));
    if (key_char(key) == ' ') {
      type_menu(s);
    } else if (key == kKeyLeft || key == kKeyRight) {
      step_cell(s, key == kKeyLeft ? -1 : 1);
    } else if (ch && type_in(char(ch), kStructureTypeLetters)) {
      set_type(s, char(ch));
    }
  } else if (s.field && key == kKeyLeft && s.field->pos == 0) {
    step_cell(s, -1);
  } else if (s.field && key == kKeyRight && s.field->pos >= int(std::strlen(s.field->text))) {
    step_cell(s, 1);
  } else if (s.field) {
    edit_key(*s.field, key);
  }
  return -1;
}

bool is_list_function_key(int key) {
  return key == kKeyF2 || key == kKeyF3 || key == kKeyF4 || key == kKeyF5 || key == kKeyF6 || key == kKeyF8 ||
         key == kKeyF9;
}

// One key on a button; -1 goes on, 0 cancels, 1 confirms. The list's
// function keys work from the buttons too.
int button_key(Session& s, int key) {
  if (is_list_function_key(key)) {
    s.focus = kFocusList;
    show(s);
    return list_key(s, key);
  }
  if (key == kKeyEnter) return s.focus == kFocusOk ? 1 : 0;
  if (key == kKeyTab || key == kKeyRight) s.focus = s.focus == kFocusOk ? kFocusCancel : kFocusList;
  else if (key == kKeyShiftTab || key == kKeyLeft) s.focus = s.focus == kFocusCancel ? kFocusOk : kFocusList;
  else if (key == kKeyUp) s.focus = kFocusList;
  show(s);
  return -1;
}

// Laid out again for a new screen size; the cell being typed in keeps its
// typing and moves with its row.
void show_at_new_size(Session& s) {
  layout(s);
  if (!s.field) {
    show(s);
    return;
  }
  keep_current_in_sight(s);
  draw(s);
  s.field->x = cell_x(s, s.cell);
  s.field->y = s.row_y(s.current);
  edit_show(*s.field);
}

}  // namespace

bool edit_structure(Table* table, StructureDraft& draft, const char* title) {
  if (draft.fields.empty()) draft.fields.push_back(new_structure_field(draft.fields));
  Session s(table, draft, title);
  ScreenSnapshot saved = save_screen();
  int cursor = get_cursor();
  layout(s);
  show(s);
  PaintLayer layer([&s] { show_at_new_size(s); });
  int result = -1;
  while (result < 0) {
    int key = get_key(kStructureHelp, idle_routine);
    if (key == kKeyEsc || key == kKeyF10) {
      result = 0;
    } else if (key == kKeyCtrlEnter) {
      result = store_cell(s) ? 1 : -1;
    } else {
      result = s.focus == kFocusList ? list_key(s, key) : button_key(s, key);
    }
    if (result == 1 && !structure_valid(s)) result = -1;
  }
  restore_screen(saved);
  goto_xy(cursor % 256, cursor / 256);
  return result == 1;
}

}  // namespace kora
