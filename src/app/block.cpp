// The block commands: a rectangle of cells from the '*' anchor to the current
// cell copied to, cut to, deleted, or pasted from the text clipboard. The
// clipboard holds Windows-1251 text (UTF-8 when copied from a table of
// another code page), values joined by tabs, one line per
// record ended by "\n"; pasting also takes lines ended by "\r\n".
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "app/cell_editor.h"
#include "app/cell_editor_internal.h"
#include "app/status_text.h"
#include "app/table_characters.h"
#include "table/table_locks.h"
#include "table/batch_appender.h"
#include "table/code_page.h"
#include "table/dbf_layouts.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/value_codec.h"
#include "ui/line_editor.h"
#include "ui/message_box.h"

namespace kora {

constexpr int kPasteErrorHelp = 100;  // help topic of error boxes

using namespace cell_edit;


namespace {

struct Block {
  long first_record, last_record;
  int first_column, last_column;
};

Block current_block(const Table& table) {
  const ViewState& view = view_of(table);
  const BlockMark& mark = g_app.block;
  if (!mark.on) return {view.current_record, view.current_record, view.current_column, view.current_column};
  long count = long(visible_count(table));
  int columns = column_count(table);
  Block block{std::min(mark.anchor_record, view.current_record), std::max(mark.anchor_record, view.current_record),
              std::min(mark.anchor_column, view.current_column), std::max(mark.anchor_column, view.current_column)};
  block.last_record = std::min(block.last_record, count - 1);
  block.last_column = std::min(block.last_column, columns - 1);
  return block;
}

// Block commands read and write the file: the record being edited is written
// first and read again afterwards.
void before_block_command(Table& table) {
  if (g_app.edit.mode) leave_cell_check(true);
  (void)table;
}

void after_block_command(Table& table) {
  if (g_app.edit.mode) drop_edit_buffer(table);
  g_app.redraw |= kRedrawRows;
}

// Blanks the block's cells, many records at a time, with the progress box
// (Esc stops it, keeping what was written); false when a write failed.
bool clear_block(Table& table) {
  Block block = current_block(table);
  auto blank = [&](Table& t) {
    for (int k = block.first_column; k <= block.last_column; ++k) {
      if (writable_column(t, k)) blank_field(t, column_field(t, k));
    }
  };
  Status status;
  {
    ProgressScope box(uint64_t(block.last_record - block.first_record + 1), Stop::kOnEscape);
    status = rewrite_records(table, uint32_t(block.first_record), uint32_t(block.last_record), blank, box.callback());
  }
  return status == Status::kOk || status == Status::kAborted;
}

// Cut, Delete and Paste end the mark: it would otherwise grow with the
// cursor, and a later Cut blank far more than was meant.
void end_block() {
  g_app.block.on = false;
  current_state().selection.clear();
}

// The clipboard split into lines at "\r\n" or "\n"; a line end at the very
// end does not start another line. The lines are views into the text, which
// a paste of a million lines does not copy again.
std::vector<std::string_view> clipboard_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

// What a paste could not store: how many values, and why the first was refused.
struct PasteRefusals {
  int count = 0;
  std::string first;
};

// One value of a pasted line into field i of the record; a value the field
// cannot hold is refused as it is when typed.
void paste_value(Table& table, int i, std::string_view text, bool utf8, PasteRefusals& refused) {
  FieldWrite stored;
  if (utf8) {
    std::string value, why;
    if (!pasted_value(table, utf8, std::string(text), value, why)) {
      if (refused.count++ == 0) refused.first = why;
      return;
    }
    stored = store_cell_text(table, i, value);
  } else {
    stored = store_cell_text(table, i, text);
  }
  if (stored != FieldWrite::kStored && refused.count++ == 0) refused.first = field_write_message(table, i, stored);
}

// A line's values, separated by tabs, into the record from first_column on.
void paste_values(Table& table, int first_column, std::string_view line, bool utf8, PasteRefusals& refused) {
  int columns = column_count(table);
  for (int column = first_column;; ++column) {
    size_t tab = line.find('\t');
    std::string_view text = line.substr(0, tab);
    if (column >= columns) break;
    int i = column_field(table, column);
    if (writable_column(table, column) && !(is_memo_field(table, i) && table.memo_display == 0)) {
      paste_value(table, i, text, utf8, refused);
    }
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
}

// Lines past the last record become new records, gathered and written many
// at a time, from line `from` on; progress counts all the lines.
Status append_pasted(Table& table, const std::vector<std::string_view>& lines, size_t from, int column, bool utf8,
                     PasteRefusals& refused, const ProgressCallback& progress) {
  constexpr size_t kLinesPerStep = 4096;
  std::vector<uint8_t> kept(table.record);
  backup_if_due(table);  // before a counter of new records moves in the header
  BatchAppender out(table);
  Status status = Status::kOk;
  for (size_t k = from; k < lines.size() && status == Status::kOk; ++k) {
    if ((k - from) % kLinesPerStep == 0 && progress && !progress(k, lines.size())) {
      status = Status::kAborted;
      break;
    }
    blank_record(table);
    paste_values(table, column, lines[k], utf8, refused);
    status = number_new_record(table) ? out.append(table.record.data()) : Status::kWriteError;
  }
  Status finished = out.finish();
  table.record = std::move(kept);
  return status == Status::kOk ? finished : status;
}

// The lines pasted from view position p on: records that exist are
// rewritten in runs, the rest appended; the progress box shows both and
// Esc stops between chunks, keeping what was written.
Status paste_lines(Table& table, const std::vector<std::string_view>& lines, uint32_t p, int column, bool utf8,
                   PasteRefusals& refused) {
  if (lines.empty()) return Status::kOk;
  ProgressScope box(lines.size(), Stop::kOnEscape);
  ProgressCallback step = box.callback();
  uint64_t total = lines.size();
  size_t in_place = std::min<size_t>(lines.size(), visible_count(table) > p ? visible_count(table) - p : 0);
  if (in_place > 0) {
    auto paste = [&](Table& t, uint32_t position) {
      paste_values(t, column, lines[position - p], utf8, refused);
    };
    Status status = rewrite_records(table, p, uint32_t(p + in_place - 1), paste,
                                    [&step, total](uint64_t done, uint64_t) { return step(done, total); });
    if (status != Status::kOk) return status;
  }
  if (in_place == lines.size()) return Status::kOk;
  return append_pasted(table, lines, in_place, column, utf8, refused, step);
}

}  // namespace

void block_mark_toggle() {
  Table* table = current_table();
  if (!table) return;
  if (g_app.block.on) {
    g_app.block.on = false;
    current_state().selection.clear();
  } else {
    g_app.block = {true, view_of(*table).current_record, view_of(*table).current_column};
  }
  g_app.redraw |= kRedrawRows;
}

namespace {

// The block's cells as tabbed lines on the clipboard; false when the user
// stopped it (the clipboard then keeps what it held).
bool copy_block(Table* table) {
  before_block_command(*table);
  Block block = current_block(*table);
  std::string text;
  {
    ProgressScope box(uint64_t(block.last_record - block.first_record + 1), Stop::kOnEscape);
    RecordScanner scan(*table, ScanOrder::kView, box.callback());
    scan.set_range(uint32_t(block.first_record), uint32_t(block.last_record) + 1);
    ScannedRecord r;
    while (scan.next(r)) {
      RecordImage image(r.image, table->record_size);
      for (int k = block.first_column; k <= block.last_column; ++k) {
        if (k > block.first_column) text += '\t';
        text += field_text(*table, image, column_field(*table, k));
      }
      text += '\n';
    }
    if (scan.status() == Status::kAborted) return false;
  }
  // Another code page's text goes to the clipboard in UTF-8, every
  // character kept.
  if (in_other_code_page(*table)) {
    g_text_clipboard = {table->code_page->to_utf8(text), true};
  } else {
    g_text_clipboard = {ansi_from_table(*table, text), false};
  }
  after_block_command(*table);
  return true;
}

}  // namespace

void block_copy() {
  Table* table = current_table();
  if (table && visible_count(*table) > 0) copy_block(table);
}

void block_cut() {
  Table* table = current_table();
  if (!table || !may_write(*table) || visible_count(*table) == 0) return;
  if (!copy_block(table)) return;  // stopped: nothing is cleared
  FileLock lock(*table, "Cut");
  if (!lock.ok()) return;
  bool written = clear_block(*table);
  after_block_command(*table);
  end_block();
  if (!written) message_box("Cannot write record", "Error", "OK", kMessageError, kPasteErrorHelp);
}

void block_delete() {
  Table* table = current_table();
  if (!table || !may_write(*table) || visible_count(*table) == 0) return;
  FileLock lock(*table, "Delete block");
  if (!lock.ok()) return;
  before_block_command(*table);
  bool written = clear_block(*table);
  after_block_command(*table);
  end_block();
  if (!written) message_box("Cannot write record", "Error", "OK", kMessageError, kPasteErrorHelp);
}

void block_paste() {
  Table* table = current_table();
  if (!table || !may_write(*table)) return;
  FileLock lock(*table, "Paste");
  if (!lock.ok()) return;
  before_block_command(*table);
  bool utf8 = g_text_clipboard.utf8 || in_other_code_page(*table);
  std::string text = in_other_code_page(*table) ? clipboard_utf8() : g_text_clipboard.text;
  if (!utf8) text = table_from_ansi(*table, text);
  PasteRefusals refused;
  Status status = paste_lines(*table, clipboard_lines(text), uint32_t(view_of(*table).current_record),
                              view_of(*table).current_column, utf8, refused);
  after_block_command(*table);
  end_block();
  if (status != Status::kOk && status != Status::kAborted) {
    message_box("Cannot write record", "Error", "OK", kMessageError, kPasteErrorHelp);
  }
  if (refused.count > 0) {
    std::string text = refused.count == 1 ? refused.first
                                          : std::to_string(refused.count) + " values were not pasted.\n" + refused.first;
    int flags = kMessageError | (utf8 ? kMessageUtf8 : 0);
    message_box(text + "\nThe field keeps its value.", "Error", "OK", flags, kPasteErrorHelp);
  }
  g_app.redraw |= kRedrawEdges;
}

}  // namespace kora
