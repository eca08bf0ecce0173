#include "app/record_commands.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/cell_editor_internal.h"
#include "app/command_support.h"
#include "app/filter_commands.h"
#include "app/navigation.h"
#include "app/status_text.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"
#include "ui/message_box.h"
#include "ui/screen.h"

namespace kora {

bool (*g_reapply_filter_hook)() = reapply_stored_filter;

namespace {

constexpr const char* kOkCancel = "OK\nCancel";

// One command's question and error box.
struct RecordMessages {
  const char* question;
  const char* title;
  const char* error;
  int help;  // topic of the question
};

constexpr RecordMessages kAppendMessages = {"Do you wish to append record to database?", "Append",
                                            "Cannot append record to database.", 1};
constexpr RecordMessages kInsertMessages = {"Do you wish to insert record to database?", "Insert",
                                            "Cannot insert record to database.", 2};
constexpr RecordMessages kDeleteMessages = {"Do you wish to delete record from database?", "Delete",
                                            "Cannot delete record from database.", 3};
constexpr RecordMessages kPackMessages = {"Do you wish to pack database?", "Pack", "Cannot pack database.", 4};
constexpr RecordMessages kZapMessages = {"Do you wish to zap database?", "Zap", "Cannot zap database.", 5};
constexpr RecordMessages kTruncateMessages = {"Do you wish to truncate database?", "Truncate",
                                              "Cannot truncate database.", 6};

Table& table() { return *g_app.table(); }
ViewState& view() { return current_state().view; }
long count_in_view() { return long(visible_count(table())); }
bool read_only() { return changes_refused(table()); }
bool view_active() { return table().view.has_list(); }

// True when the user chose the first button. flags: message_preselect(1)
// for the questions that start on Cancel.
bool ask(const RecordMessages& messages, int flags = 0) {
  return message_box(messages.question, messages.title, kOkCancel, flags, messages.help) == 0;
}

void show_error(const RecordMessages& messages) {
  message_box(messages.error, "Error", "OK", kMessageError, kRecordErrorHelp);
}

// The scroll-bar edges change when the count crosses between at most one
// record and more; the rows are repainted in every case, since the message
// box that asked has just put the old rows back.
void request_after(long before, int bits) {
  long after = count_in_view();
  bool crossed = (before <= 1) != (after <= 1);
  g_app.redraw |= bits | (crossed ? kRedrawEdges : 0);
}

// Keeps the current record inside the view and on the screen.
void clamp_current() {
  ViewState& v = view();
  long count = count_in_view();
  if (v.current_record >= count) v.current_record = count - 1;
  if (v.current_record < 0) v.current_record = 0;
  if (v.top_record > v.current_record) v.top_record = v.current_record;
  long rows = std::max(1, browse_rows());
  if (v.current_record - v.top_record >= rows) v.top_record = v.current_record - rows + 1;
  if (v.top_record < 0) v.top_record = 0;
}

// In edit mode the editor is opened on the record that is current after
// records moved.
void reload_edit() {
  if (g_app.edit.mode) g_app.edit.pending_reload = 1;
}

// The selection names physical records; these keep it on the same records
// when others move in the file.
void selection_after_remove(uint32_t q) {
  std::vector<uint32_t>& s = current_state().selection;
  s.erase(std::remove(s.begin(), s.end(), q), s.end());
  for (uint32_t& r : s) {
    if (r > q) --r;
  }
}

void selection_after_insert(uint32_t q) {
  for (uint32_t& r : current_state().selection) {
    if (r >= q) ++r;
  }
}

void selection_after_truncate(uint32_t n) {
  std::vector<uint32_t>& s = current_state().selection;
  s.erase(std::remove_if(s.begin(), s.end(), [n](uint32_t r) { return r >= n; }), s.end());
}

// ---- append and insert --------------------------------------------------------------

void append(bool copy, bool asking) {
  if (read_only()) return;
  Table& t = table();
  long before = count_in_view();
  if (asking && !ask(kAppendMessages)) return;
  settle_edit();
  // A table without records has nothing to copy: the new record is blank.
  bool blank = !copy || before == 0 || !read_record(t, uint32_t(view().current_record));
  if (!append_record(t, blank)) {
    show_error(kAppendMessages);
    return;
  }
  t.view.reverse ? first_record() : last_record();
  reload_edit();
  request_after(before, kRedrawRows);
}

// The physical slot a record inserted at view position p takes.
uint32_t insert_slot(const Table& t, uint32_t p) {
  if (!t.view.reverse) return p;
  return p < t.record_count ? t.record_count - p - 1 : 0;
}

// Inserts at the current position; false after the error box.
bool insert_here(bool copy) {
  Table& t = table();
  long before = count_in_view();
  uint32_t p = uint32_t(view().current_record);
  bool blank = !copy || !read_record(t, p);
  uint32_t slot = insert_slot(t, p);
  if (!insert_record(t, p, blank)) {
    show_error(kInsertMessages);
    return false;
  }
  selection_after_insert(slot);
  if (t.view.reverse) next_record();
  reload_edit();
  request_after(before, kRedrawRows);
  return true;
}

void insert(bool copy, bool asking) {
  if (read_only() || view_active()) return;
  if (count_in_view() == 0) {
    append(copy, asking);
    return;
  }
  if (asking && !ask(kInsertMessages)) return;
  settle_edit();
  insert_here(copy);
}

// ---- removing records ---------------------------------------------------------------

void remove_current(bool asking) {
  Table& t = table();
  long before = count_in_view();
  if (read_only() || view_active() || t.view.reverse || before == 0) return;
  if (asking && !ask(kDeleteMessages)) return;
  settle_edit();
  uint32_t q = physical_record(t, uint32_t(view().current_record));
  if (q == kNoRecord || !remove_record(t, q)) {
    show_error(kDeleteMessages);
    return;
  }
  selection_after_remove(q);
  if (view().current_record >= count_in_view()) previous_record();
  clamp_current();
  reload_edit();
  request_after(before, kRedrawClear | kRedrawLayout);
}

void pack(int mode) {
  Table& t = table();
  long before = count_in_view();
  if (read_only() || view_active() || before == 0) return;
  if (!ask(kPackMessages)) return;
  settle_edit();
  int done = pack_table(t, mode);
  // Records may have moved even when the memo file could not be rebuilt.
  if (mode != 2) current_state().selection.clear();
  if (!done) {
    clamp_current();
    reload_edit();
    g_app.redraw |= kRedrawClear | kRedrawLayout;
    show_error(kPackMessages);
    return;
  }
  if (view().current_record >= count_in_view()) first_record();
  clamp_current();
  reload_edit();
  request_after(before, kRedrawClear | kRedrawLayout);
}

// ---- marks --------------------------------------------------------------------------

// In edit mode the working copy carries the mark too, so writing it later
// does not undo the change.
void mark_in_edit_buffer(long p) {
  Table& t = table();
  std::vector<uint8_t>& buffer = current_state().edit_buffer;
  if (g_app.edit.mode && p == view().current_record && !buffer.empty()) buffer[0] = t.delete_flag;
}

// Tools, All: every record in view at once, with the progress box (Esc
// stops it; the marks written by then stay) and every failure told.
void mark_all(MarkChange change) {
  if (read_only()) return;
  Table& t = table();
  Status status;
  {
    ProgressScope box(visible_count(t), Stop::kOnEscape);
    status = change_all_marks(t, change, box.callback(), nullptr);
  }
  if (status != Status::kOk && status != Status::kAborted)
    message_box(std::string("Cannot write file\n") + status_cause_text(status), "Error", "OK", kMessageError, 0);
  // The record being edited takes its new mark from the file.
  long p = view().current_record;
  if (count_in_view() > 0 && read_delete_flag(t, uint32_t(p))) mark_in_edit_buffer(p);
  g_app.redraw |= kRedrawRows;
}

// ---- views --------------------------------------------------------------------------

// The records of the visible list (or all) that are not marked deleted, in
// file order of the list; the sort order is dropped. Records that cannot be
// read stay in view, as an unreadable mark never counted as deleted. A walk
// the user stops changes nothing and answers false.
bool hide_deleted_records(Stop stop = Stop::kNever) {
  Table& t = table();
  std::vector<uint32_t> kept;
  uint32_t count = visible_count(t);
  uint32_t next = 0;
  {
    ProgressScope box(count, stop);
    RecordScanner scan(t, ScanOrder::kVisibleList, box.callback());
    ScannedRecord r;
    while (scan.next(r)) {
      if (r.image[0] != '*') kept.push_back(r.record);
      next = r.position + 1;
    }
    if (scan.status() == Status::kAborted) return false;
    if (scan.status() != Status::kOk) {
      for (uint32_t j = next; j < count; ++j) {
        uint32_t q = t.view.visible_list ? (*t.view.visible_list)[j] : j;
        if (q < t.record_count) kept.push_back(q);
      }
    }
  }
  t.view.sort_order.reset();
  t.view.visible_list = std::move(kept);
  return true;
}

void finish_view_change(long before) {
  clamp_current();
  reload_edit();
  request_after(before, kRedrawRows);
}

// ---- clipboard ----------------------------------------------------------------------

// Writes the clipboard over the current record.
void overwrite_current() {
  Table& t = table();
  paste_clipboard_record(t, current_state().record_clipboard);
  // Character fields go back from the screen's code page to Windows-1251.
  record_from_display(t, t.record.data());
  if (write_record(t, uint32_t(view().current_record))) reload_edit();
}

}  // namespace

// ---- commands -----------------------------------------------------------------------

void cmd_append() { append(false, true); }
void cmd_append_copy() { append(true, true); }
void cmd_append_now() { append(false, false); }
void cmd_append_copy_now() { append(true, false); }
void cmd_insert() { insert(false, true); }
void cmd_insert_copy() { insert(true, true); }
void cmd_insert_now() { insert(false, false); }
void cmd_insert_copy_now() { insert(true, false); }

void cmd_delete() { remove_current(true); }
void cmd_delete_now() { remove_current(false); }
void cmd_pack() { pack(0); }
void cmd_pack_table() { pack(1); }
void cmd_pack_memo() { pack(2); }

void cmd_zap() {
  if (read_only()) return;
  if (!ask(kZapMessages, message_preselect(1))) return;
  settle_edit();
  if (!zap_table(table())) {
    show_error(kZapMessages);
    return;
  }
  current_state().selection.clear();
  g_app.block.on = false;
  first_record();
  reload_edit();
  g_app.redraw |= kRedrawAll;
}

void cmd_truncate() {
  Table& t = table();
  long before = count_in_view();
  if (read_only() || t.view.reverse || before == 0) return;
  if (!ask(kTruncateMessages, message_preselect(1))) return;
  settle_edit();
  uint32_t n = uint32_t(view().current_record) + 1;
  if (!truncate_table(t, n)) {
    show_error(kTruncateMessages);
    return;
  }
  selection_after_truncate(n);
  clamp_current();
  reload_edit();
  request_after(before, kRedrawRows);
}

void cmd_mark_deleted() {
  if (read_only() || count_in_view() == 0) return;
  long p = view().current_record;
  if (!toggle_deleted(table(), uint32_t(p))) return;
  mark_in_edit_buffer(p);
  if (g_settings.delete_down != 0) {
    settle_edit();
    next_record();
    reload_edit();
  }
  g_app.redraw |= kRedrawRows;
}

void cmd_delete_all() { mark_all(MarkChange::kDelete); }
void cmd_recall_all() { mark_all(MarkChange::kRecall); }
void cmd_inverse_all() { mark_all(MarkChange::kInvert); }

void cmd_hide_deleted() {
  Table& t = table();
  long before = count_in_view();
  settle_edit();
  remember_position();
  // Both directions walk the records; a walk stopped with Esc puts this back.
  RecordView shown = t.view;
  ViewState cursor = view();
  t.view.hide_deleted = !t.view.hide_deleted;
  bool done = true;
  if (t.view.hide_deleted) {
    done = hide_deleted_records(Stop::kOnEscape);
  } else {
    t.view.visible_list.reset();
    t.view.sort_order.reset();
    if (!t.view.filter_expr.empty() && g_reapply_filter_hook) done = g_reapply_filter_hook();
  }
  restore_position();
  if (!done) {
    t.view = std::move(shown);
    view() = cursor;
    g_app.redraw |= kRedrawRows;
    return;
  }
  finish_view_change(before);
}

void cmd_cancel_views() {
  Table& t = table();
  long before = count_in_view();
  settle_edit();
  remember_position();
  t.view.visible_list.reset();
  t.view.sort_order.reset();
  t.view.filter_expr.clear();
  current_state().selection.clear();
  if (t.view.hide_deleted) hide_deleted_records();
  restore_position();
  finish_view_change(before);
}

void cmd_select() {
  Table& t = table();
  if (count_in_view() == 0) return;
  uint32_t q = physical_record(t, uint32_t(view().current_record));
  if (q == kNoRecord) return;
  std::vector<uint32_t>& s = current_state().selection;
  auto at = std::lower_bound(s.begin(), s.end(), q);
  if (at != s.end() && *at == q) {
    s.erase(at);
  } else {
    s.insert(at, q);
  }
  settle_edit();
  next_record();
  reload_edit();
  g_app.redraw |= kRedrawRows;
}

void cmd_show_selected() {
  Table& t = table();
  if (current_state().selection.empty()) return;
  long before = count_in_view();
  settle_edit();
  // The selected records in the order the view shows them.
  std::vector<uint32_t> selected = current_state().selection;
  std::sort(selected.begin(), selected.end());
  std::vector<uint32_t> shown;
  for (long p = 0; p < before; ++p) {
    uint32_t q = physical_record(t, uint32_t(p));
    if (std::binary_search(selected.begin(), selected.end(), q)) shown.push_back(q);
  }
  t.view.sort_order.reset();
  std::vector<uint32_t>& selection = current_state().selection;
  selection = shown;
  std::sort(selection.begin(), selection.end());
  t.view.visible_list = std::move(shown);
  first_record();
  finish_view_change(before);
}

void cmd_copy_record() {
  Table& t = table();
  if (count_in_view() == 0) return;
  if (!load_display_record(t, view().current_record)) return;
  table_state(t).record_clipboard.assign(t.record.begin(), t.record.begin() + t.record_size);
}

void cmd_paste_record() {
  Table& t = table();
  long before = count_in_view();
  if (read_only() || table_state(t).record_clipboard.empty() || before == 0) return;
  const char* question = "Do you want to paste record from internal clipboard?";
  if (view_active()) {
    if (message_box(question, "Paste", "Overwrite\nCancel", 0, kPasteQuestionHelp) != 0) return;
    settle_edit();
  } else {
    int answer = message_box(question, "Paste", "Insert\nOverwrite\nCancel", 0, kPasteQuestionHelp);
    if (answer != 0 && answer != 1) return;
    settle_edit();
    if (answer == 0 && !insert_here(false)) return;
  }
  overwrite_current();
  request_after(before, kRedrawRows);
}

void follow_record_count(bool reload, bool first_when_past) {
  // The next view rebuild leaves the cursor where this one puts it.
  skip_next_restore();
  refresh_record_count(table());
  if (first_when_past && view().current_record >= count_in_view()) first_record();
  clamp_current();
  if (reload) reload_edit();
  g_app.redraw |= kRedrawRows;
}

void cmd_refresh() {
  // Rereading the table leaves the record being edited.
  if (!resolve_unsaved_edit()) return;
  follow_record_count(true, true);
}

void cmd_read_only() {
  if (g_app.edit.mode) {
    if (g_cell_edit_hooks.leave_edit) {
      g_cell_edit_hooks.leave_edit(true);
    } else {
      g_app.edit.mode = 0;
    }
    update_keybar_labels();
  }
  g_settings.read_only = g_settings.read_only ? 0 : 1;
  forbid_recovery_writes(g_settings.read_only != 0);
  g_app.redraw |= kRedrawAll;
}

void cmd_backup_now() {
  Table& t = table();
  if (t.bak_file_name.empty()) return;
  // The copy is taken even when one was made already, and whatever the
  // BakFiles mode; the table's own mode and state are kept.
  int mode = t.bak_mode;
  bool done = t.bak_done;
  if (t.bak_mode == 0) t.bak_mode = 1;
  t.bak_done = false;
  backup_if_due(t);
  t.bak_mode = mode;
  t.bak_done = mode == 0 ? done : true;
}

}  // namespace kora
