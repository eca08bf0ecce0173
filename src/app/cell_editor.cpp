#include "app/cell_editor.h"

#include <array>
#include <vector>

#include "app/cell_editor_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/navigation.h"
#include "app/table_characters.h"
#include "app/undo_commands.h"
#include "table/undo_log.h"
#include "table/byte_order.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"
#include "ui/codepage.h"
#include "ui/key_codes.h"
#include "ui/line_editor.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

constexpr int kErrorHelp = 100;  // help topic of error boxes
constexpr int kSpareDecimals = 16;

namespace {

// The editor over the current cell and what it stands on.
struct CellEditor {
  std::unique_ptr<EditField> field;
  const Table* table = nullptr;
  long record = -1;
  int column = -1;
  int record_changed = 0;  // a committed cell is not yet written
  // The physical record the edit buffer holds.
  const Table* buffer_table = nullptr;
  uint32_t buffer_record = kNoRecord;
  // The record as the file held it when the buffer was read, to tell a
  // change another program made meanwhile.
  std::vector<uint8_t> stored;
  // The record lock held from the first committed change until the record
  // is written or its changes dropped.
  Table* locked_table = nullptr;
  uint32_t locked_record = kNoRecord;
};
CellEditor g_cell;

}  // namespace

namespace cell_edit {

Table* current_table() { return g_app.table(); }
int current_field(const Table& table) { return column_field(table, view_of(table).current_column); }
bool may_write(const Table& table) { return g_settings.read_only == 0 && !table.read_only; }

size_t record_bytes(const Table& table) { return std::min(table.record.size(), size_t(table.record_size)); }

std::vector<uint8_t>& edit_buffer(const Table& table) { return table_state(table).edit_buffer; }

void edit_buffer_to_record(Table& table) {
  const std::vector<uint8_t>& buffer = edit_buffer(table);
  std::memcpy(table.record.data(), buffer.data(), std::min(record_bytes(table), buffer.size()));
}

// A table closed meanwhile took its locks with its descriptor: only a table
// still open is asked to unlock.
bool still_open(const Table* table) {
  for (int i = 0; i <= g_app.tables.last; ++i) {
    if (g_app.tables.at(i) == table) return true;
  }
  return false;
}

void release_record_lock() {
  if (g_cell.locked_table && still_open(g_cell.locked_table)) {
    unlock_record(*g_cell.locked_table, g_cell.locked_record);
  }
  g_cell.locked_table = nullptr;
  g_cell.locked_record = kNoRecord;
}

// Holds the record lock of the record being edited from its first change.
Status hold_record_lock(Table& table) {
  uint32_t q = physical_record(table, uint32_t(view_of(table).current_record));
  if (g_cell.locked_table == &table && g_cell.locked_record == q) return Status::kOk;
  release_record_lock();
  Status status = lock_record(table, q);
  if (status != Status::kOk) return status;
  g_cell.locked_table = &table;
  g_cell.locked_record = q;
  return Status::kOk;
}

// Another program wrote the record since the buffer was read from it: the
// user says whether their changes go over it. 1 write, 0 drop, -1 stay.
int changed_meanwhile(Table& table) {
  uint32_t p = uint32_t(view_of(table).current_record);
  if (g_cell.stored.empty() || !read_record(table, p)) return 1;
  if (std::equal(g_cell.stored.begin(), g_cell.stored.end(), table.record.begin())) return 1;
  std::string text = "Record " + std::to_string(uint64_t(physical_record(table, p)) + 1) +
                     " was changed by another program while you edited it.\nWrite your changes over it?";
  int answer = message_box(text, "Changed", "Overwrite\nDiscard mine\nCancel", kMessageError, kErrorHelp);
  return answer == 0 ? 1 : answer == 1 ? 0 : -1;
}

// Writes the edit buffer as the current record. 1 or 0.
int write_edit_buffer(Table& table) {
  // A record written on leaving it is a step of its own, whatever key left it.
  UndoStep step(table, "Edit", undo_limit());
  edit_buffer_to_record(table);
  record_from_display(table, table.record.data());
  return write_record(table, uint32_t(view_of(table).current_record));
}

// The edit buffer must be read from the file again before it is used.
void drop_edit_buffer(Table& table) {
  release_record_lock();
  g_cell.stored.clear();
  edit_buffer(table).clear();
  g_cell.buffer_table = nullptr;
  g_cell.buffer_record = kNoRecord;
  g_app.edit.pending_reload = 1;
}

// ---- storing a cell's text ---------------------------------------------------------

// A memo field takes a block number only where memos are shown as numbers;
// shown as "Full memo" it takes nothing, since that text is not its content.
FieldWrite store_block_number(Table& table, int i, std::string_view text) {
  if (table.memo_display == 0) return FieldWrite::kNotWritable;
  DecimalText typed;
  long long block = 0;
  if (!parse_decimal(text, typed) && text.find_first_not_of(' ') != std::string_view::npos)
    return FieldWrite::kNotANumber;
  for (char digit : typed.whole) block = std::min(block * 10 + (digit - '0'), 1LL << 40);
  if (typed.negative) block = 0;
  int length = field_length(table, i);
  int offset = table.fields[size_t(i)].offset;
  if (offset < 1 || offset + length > int(table.record_size)) return FieldWrite::kNotWritable;
  std::string number = block > 0 ? std::to_string(block) : "";
  if ((length == 4 && block > INT32_MAX) || (length != 4 && int(number.size()) > length)) return FieldWrite::kDoesNotFit;
  uint8_t* at = table.record.data() + offset;
  blank_field(table, i);
  // A block number typed into a nullable memo field makes it no longer null.
  set_field_null(table, table.record.data(), table.record.size(), i, false);
  if (length == 4) {
    put_le32(at, uint32_t(block));
  } else {
    std::memcpy(at + (length - int(number.size())), number.data(), number.size());  // 0: no memo, blank
  }
  return FieldWrite::kStored;
}

// The editor holds a text up to its first NUL, so a value with a NUL inside
// shows in it only up to there: storing what was typed over it is asked.
static bool may_store_over_nul(const Table& table, int i) {
  char type = field_type(table, i);
  const FieldDesc* desc = field_desc(table, i);
  long end = desc ? long(desc->offset) + field_length(table, i) : 0;
  if (type != 'C' || !desc || desc->offset < 1 || end > long(table.record_size)) return true;
  std::string_view bytes(reinterpret_cast<const char*>(table.record.data()) + desc->offset, size_t(field_length(table, i)));
  if (bytes.substr(0, text_value_end(bytes)).find('\0') == std::string_view::npos) return true;
  return message_box("The value holds a NUL byte, which the editor does not show.\nStore the text as typed?",
                     "Attention", "Store\nCancel", 0, kErrorHelp) == 0;
}

FieldWrite store_cell_text(Table& table, int i, std::string_view text) {
  if (is_memo_field(table, i)) return store_block_number(table, i, text);
  return set_field_text(table, i, text);
}

// A field the cell commands may change: a real field of a writable column.
bool writable_column(const Table& table, int column) {
  int i = column_field(table, column);
  if (i < 0 || i >= table.field_count()) return false;
  // A field of a type kora does not know is shown as its bytes, never written.
  return is_known_type_letter(field_type(table, i)) && !column_read_only(table, column);
}

std::string aligned_text(const Table& table, int i, std::string text) {
  if (field_type(table, i) != 'C') return text;
  if (g_settings.alignment == 1) {
    text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
  } else if (g_settings.alignment == 2) {
    size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
    size_t length = size_t(field_length(table, i));
    if (text.size() < length) text.insert(0, length - text.size(), ' ');
  }
  return text;
}

void set_record_changed(int changed) { g_cell.record_changed = changed; }

}  // namespace cell_edit

using namespace cell_edit;

namespace {

// ---- the editor --------------------------------------------------------------------

void close_editor() {
  g_cell.field.reset();
  g_cell.table = nullptr;
  g_cell.record = -1;
  g_cell.column = -1;
}

// The editor's place on the screen: x and y, -1 when the cell is not shown.
bool cell_position(const Table& table, int& x, int& y) {
  const ViewState& view = view_of(table);
  if (view.view_mode == 1) {
    int width = 0;
    for (int k = 0; k < column_count(table); ++k) width = std::max(width, int(shown_name(table, k).size()));
    x = width + 3;
    y = view.current_column - view.first_column + 3;
    return y >= 3 && y <= last_window_row();
  }
  for (const ColumnSpan& span : shown_columns(table)) {
    if (span.column != view.current_column) continue;
    x = span.x;
    y = int(view.current_record - view.top_record) + 4;
    return y >= 4 && y <= last_window_row();
  }
  return false;
}

int editor_decimals(const Table& table, int i) {
  switch (field_type(table, i)) {
    case 'Y': return 4;
    case 'N':
    case 'F': return field_decimals(table, i);
    case 'B': return is_memo_field(table, i) ? 0 : field_decimals(table, i);
    case 'O': return field_decimals(table, i);
    default: return 0;
  }
}

// Numbers may be typed with more decimals than the field keeps (they are
// rounded) and with a sign before the widest integer; a part too wide for
// the field is refused with a message when the cell is left.
int spare_places(const Table& table, int i) {
  if (is_memo_field(table, i)) return 0;
  switch (field_type(table, i)) {
    case 'N':
    case 'F': return field_decimals(table, i) > 0 ? kSpareDecimals : 0;
    case 'B':
    case 'O':
    case 'Y': return kSpareDecimals;
    case 'I':
    case '+': return 2;
    default: return 0;
  }
}

void ensure_edit_buffer(Table& table) {
  uint32_t q = physical_record(table, uint32_t(view_of(table).current_record));
  if (!edit_buffer(table).empty() && g_cell.buffer_table == &table && g_cell.buffer_record == q) return;
  reload_edit_buffer();
}

void open_editor(Table& table) {
  std::unique_ptr<EditField> old = std::move(g_cell.field);
  bool same_cell = old && g_cell.table == &table && g_cell.record == view_of(table).current_record &&
                   g_cell.column == view_of(table).current_column;
  close_editor();
  if (visible_count(table) == 0 || view_of(table).current_column >= column_count(table)) return;
  int x = 0, y = 0;
  if (!cell_position(table, x, y)) return;
  ensure_edit_buffer(table);
  int i = current_field(table);
  edit_buffer_to_record(table);
  int size = display_width(table, i);
  int width = std::max(0, std::min(size, screen_cols() - 1 - x));
  int spare = spare_places(table, i);
  g_cell.field = edit_create(x, y, width, size + spare, field_text(table, i), g_colors.Edit, nullptr);
  g_cell.field->decimals = editor_decimals(table, i);
  g_cell.field->spare = spare;
  g_cell.field->characters = table_characters(table, kErrorHelp);
  // Typing not yet committed survives a repaint of the same cell.
  if (same_cell && old->modified) {
    edit_set_text(*g_cell.field, old->text);
    g_cell.field->pos = old->pos;
    g_cell.field->scroll = old->scroll;
    g_cell.field->flags = old->flags;
    g_cell.field->modified = 1;
  }
  g_cell.table = &table;
  g_cell.record = view_of(table).current_record;
  g_cell.column = view_of(table).current_column;
}

bool has_character(int key) { return (key & 0xFF) != 0; }

// Space in a date cell fills in the date and time (or blanks the cell); in a
// date-time being typed it is the blank between the date and the time.
bool space_fills_now(const Table& table, int i) {
  char type = field_type(table, i);
  if (type == 'D') return true;
  if (type != 'T' && type != '@') return false;
  const EditField* field = g_cell.field.get();
  if (!field || !field->text || !(field->flags & kEditTouched) || field->pos == 0) return true;
  return std::string_view(field->text).find_first_not_of(' ') == std::string_view::npos;
}

const char* accepted_keys(const Table& table, int i) {
  switch (field_type(table, i)) {
    case 'B':
      if (is_memo_field(table, i)) return table.memo_display ? "0123456789\b" : "";
      return "-0123456789\b.,";
    case 'Y':
    case 'O': return "-0123456789\b.,";
    case 'F':
    case 'N': return field_decimals(table, i) ? "-0123456789\b.," : "-0123456789\b";
    case 'I':
    case '+': return "-0123456789\b.,";  // a point ends the integer part
    case 'D': return table.date_format != 0 ? "0123456789\b.," : "0123456789\b";
    case 'T':
    case '@': return table.date_format != 0 ? "0123456789\b.: " : "0123456789\b ";
    case 'L': return "TtFfYyNn ";
    case 'G':
    case 'M':
    case 'W': return table.memo_display ? "0123456789\b" : "";
    default: return is_known_type_letter(field_type(table, i)) ? nullptr : "";
  }
}

}  // namespace

// Parses the editor's text into the edit buffer when it was changed.
bool cell_edit::commit_cell() {
  Table* table = current_table();
  if (!table || !g_cell.field || !g_cell.field->modified || g_cell.table != table) return true;
  if (g_cell.record != view_of(*table).current_record) return true;
  ensure_edit_buffer(*table);
  std::vector<uint8_t>& buffer = edit_buffer(*table);
  if (buffer.empty()) return true;
  int i = column_field(*table, g_cell.column);
  if (!writable_column(*table, g_cell.column)) {
    g_cell.field->modified = 0;
    return true;
  }
  // The first change of the record takes its lock, so that no other
  // program writes it while it is edited; without it the typed text stays.
  Status locked = hold_record_lock(*table);
  if (locked != Status::kOk) {
    if (locked == Status::kReadOnly) g_cell.field->modified = 0;  // the user chose not to edit
    g_app.redraw |= kRedrawAll;
    return locked == Status::kReadOnly;
  }
  size_t size = std::min(record_bytes(*table), buffer.size());
  std::memcpy(table->record.data(), buffer.data(), size);
  if (!may_store_over_nul(*table, i)) {
    g_app.redraw |= kRedrawRows;
    return false;  // the typed text stays in the editor, the value as it was
  }
  FieldWrite stored = store_cell_text(*table, i, aligned_text(*table, i, g_cell.field->text));
  if (stored != FieldWrite::kStored) {
    // The typed text stays in the editor for the user to mend.
    message_box(field_write_message(*table, i, stored), "Error", "OK", kMessageError, kErrorHelp);
    g_app.redraw |= kRedrawRows;
    return false;
  }
  g_cell.field->modified = 0;
  std::memcpy(buffer.data(), table->record.data(), size);
  g_cell.record_changed = 1;
  // The row and the hex panel show the value as stored, also when the key
  // that committed it does not move and so asks for no paint itself.
  g_app.redraw |= kRedrawRows;
  return true;
}

// ---- edit mode --------------------------------------------------------------------------

void reload_edit_buffer() {
  Table* table = current_table();
  if (!table) return;
  uint32_t p = uint32_t(view_of(*table).current_record);
  std::vector<uint8_t>& buffer = edit_buffer(*table);
  buffer.assign(size_t(kRecordBufferSize) + 1, 0);
  g_app.edit.pending_reload = 0;
  g_cell.stored.clear();
  if (!read_record(*table, p)) return;
  g_cell.stored.assign(table->record.begin(), table->record.begin() + long(record_bytes(*table)));
  record_to_display(*table, table->record.data());
  std::memcpy(buffer.data(), table->record.data(), record_bytes(*table));
  g_cell.buffer_table = table;
  g_cell.buffer_record = physical_record(*table, p);
  g_cell.record_changed = 0;
}

int edit_mode_on() {
  Table* table = current_table();
  if (g_app.edit.mode) return 1;
  if (!table || !may_write(*table) || visible_count(*table) == 0) return 0;
  reload_edit_buffer();
  g_app.edit.mode = 1;
  g_cell.record_changed = 0;
  open_editor(*table);
  update_keybar_labels();
  g_app.redraw |= kRedrawEditOn;
  return 1;
}

void edit_mode_off(bool write) {
  if (!g_app.edit.mode) return;
  Table* table = current_table();
  if (write) {
    // A text the field refused was named in a message; the record's other
    // changes are written all the same.
    if (!leave_cell_check(true) && g_cell.field) {
      g_cell.field->modified = 0;
      leave_cell_check(true);
    }
  } else if (table) {
    drop_edit_buffer(*table);
  }
  g_cell.record_changed = 0;
  close_editor();
  set_cursor_shape(0x2000);
  g_app.edit.mode = 0;
  update_keybar_labels();
  g_app.redraw |= kRedrawRows;
}

void discard_record_changes() {
  Table* table = current_table();
  if (!g_app.edit.mode || !table) return;
  drop_edit_buffer(*table);
  g_cell.record_changed = 0;
  close_editor();
  g_app.redraw |= kRedrawRows;
}

void toggle_edit_mode() {
  if (g_app.edit.mode) {
    edit_mode_off(true);
  } else {
    edit_mode_on();
  }
}

bool leave_cell_check(bool record_change) {
  if (!g_app.edit.mode) return true;
  Table* table = current_table();
  if (!table) return true;
  if (!commit_cell()) return false;
  if (record_change && g_cell.record_changed && !edit_buffer(*table).empty()) {
    // The record stays locked from the check to the write; without the
    // lock the user stays on the record with the changes.
    if (hold_record_lock(*table) != Status::kOk) return false;
    int decided = changed_meanwhile(*table);
    if (decided < 0) return false;
    // A write that fails (a full disk, a file made read-only) is said, not
    // dropped in silence: the user must know the record was not stored.
    if (decided > 0 && !write_edit_buffer(*table))
      message_box("Cannot write record", "Error", "OK", kMessageError, kErrorHelp);
    g_cell.record_changed = 0;
    if (g_cell.field) g_cell.field->modified = 0;
  }
  if (record_change) drop_edit_buffer(*table);
  return true;
}

int offer_cell_key(int key) {
  Table* table = current_table();
  if (!g_app.edit.mode || !table) return 0;
  // The user chose to leave a table with an index alone.
  if (!may_write(*table)) {
    edit_mode_off(false);
    return 0;
  }
  // After a leave-cell check that did not move, the buffer is read again.
  if (!g_cell.field || g_cell.table != table || edit_buffer(*table).empty() ||
      g_cell.record != view_of(*table).current_record || g_cell.column != view_of(*table).current_column) {
    open_editor(*table);
  }
  if (!g_cell.field) return 0;
  if (has_character(key)) {
    if ((key & 0xFF) == ' ' && space_fills_now(*table, current_field(*table))) {
      fill_with_now();
      return 1;
    }
    key = filter_cell_key(key);
    if (key == 0) return 0;
  }
  return edit_key(*g_cell.field, key);
}

void refresh_cell_editor() {
  if (g_app.edit.mode && g_cell.field) edit_show(*g_cell.field);
}

void reopen_cell_editor() {
  Table* table = current_table();
  if (g_app.edit.mode && table) open_editor(*table);
}

int cell_changes_pending() {
  return g_cell.record_changed || (g_cell.field && g_cell.field->modified) ? 1 : 0;
}

void install_cell_editing() {
  g_cell_edit_hooks.leave_cell = leave_cell_check;
  g_cell_edit_hooks.offer_key = offer_cell_key;
  g_cell_edit_hooks.refresh = refresh_cell_editor;
  g_cell_edit_hooks.reopen = reopen_cell_editor;
  g_cell_edit_hooks.leave_edit = edit_mode_off;
  g_cell_edit_hooks.has_changes = cell_changes_pending;
}

std::string cell_editor_text() { return g_cell.field && g_cell.field->text ? g_cell.field->text : ""; }

// ---- keys -------------------------------------------------------------------------------

int filter_cell_key(int key) {
  Table* table = current_table();
  if (!table || !has_character(key)) return key;
  int ch = key & 0xFF;
  int i = current_field(*table);
  if (ch == ' ' && space_fills_now(*table, i)) {
    fill_with_now();
    return 0;
  }
  // Neither a memo shown as "Full memo" nor a field of an unknown type takes text.
  bool takes_no_text = (is_memo_field(*table, i) && table->memo_display == 0) || !is_known_type_letter(field_type(*table, i));
  if ((ch == 3 || ch == 22 || ch == 24) && !takes_no_text) return key;
  if (ch == 3) return key;  // copying the shown text changes nothing
  const char* accepted = accepted_keys(*table, i);
  if (!accepted) return key;
  if (ch == 0x7F) ch = '\b';
  return std::strchr(accepted, ch) && ch != 0 ? key : 0;
}

void fill_with_now() {
  Table* table = current_table();
  if (!table || !g_cell.field || !g_cell.field->text) return;
  EditField& field = *g_cell.field;
  if (field.text[0] == ' ' || field.text[0] == 0) {
    int format = table->date_format;
    std::string text(14, '0');
    size_t year = 0, month = 4, day = 6, hour = 8, minute = 10, second = 12;
    if (format >= 1 && format <= 3) {
      char zeros[64];
      std::snprintf(zeros, sizeof zeros, "%04d.%02d.%02d %02d:%02d:%02d", 0, 0, 0, 0, 0, 0);
      const std::string& form = table->date_time_formats[size_t(format)];
      if (!form.empty()) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::snprintf(zeros, sizeof zeros, form.c_str(), 0, 0, 0, 0, 0, 0);
#pragma GCC diagnostic pop
      }
      text = zeros;
      text.resize(std::max<size_t>(text.size(), 19), '0');
      hour = 11, minute = 14, second = 17;
      if (format == 1) day = 0, month = 3, year = 6;
      if (format == 2) month = 0, day = 3, year = 6;
      if (format == 3) year = 0, month = 5, day = 8;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    text.replace(year, 4, digits, 4);
    text.replace(month, 2, digits + 4, 2);
    text.replace(day, 2, digits + 6, 2);
    text.replace(hour, 2, digits + 8, 2);
    text.replace(minute, 2, digits + 10, 2);
    text.replace(second, 2, digits + 12, 2);
    text.resize(std::min(text.size(), size_t(field.size)));
    edit_set_text(field, text.c_str());
  } else {
    edit_set_text(field, std::string(size_t(field.size), ' ').c_str());
  }
  field.modified = 1;
  edit_show(field);
}

void enter_action() {
  Table* table = current_table();
  if (!table) return;
  ViewState& view = view_of(*table);
  int i = current_field(*table);
  if (i >= 0 && i < table->field_count() && is_memo_field(*table, i) && table->memo_display == 0) {
    view.memo_field = i;
    memo_editor();
    return;
  }
  if (!g_app.edit.mode) {
    edit_mode_on();
    return;
  }
  if (!commit_cell()) return;
  bool last_column = view.current_column >= column_count(*table) - 1;
  if (!last_column || g_settings.enter_down == 0) {
    nav_tab();
    return;
  }
  leave_cell_check(true);
  bool scrolled = view.first_column != 0;
  view.current_column = 0;
  view.first_column = 0;
  next_record();
  g_app.redraw |= kRedrawRows | (scrolled ? kRedrawLayout | kRedrawClear : 0);
}

void space_key() {
  Table* table = current_table();
  if (!table) return;
  if (g_app.edit.mode) {
    int i = current_field(*table);
    if (i < 0 || i >= table->field_count() || !is_memo_field(*table, i)) return;
  }
  memo_editor();
}

}  // namespace kora
