// The memo editor: the memo of the current record in the text editor window,
// stored as a new memo when the user saves.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/cell_editor_internal.h"
#include "app/table_characters.h"
#include "table/memo_file.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/text_editor.h"

namespace kora {

using namespace cell_edit;


namespace {

// The current record into table.record as the file holds it, or as the edit
// buffer holds it in edit mode (then with its text fields in file form).
// A typed cell is committed first: committing later would overwrite the
// record image that carries the new memo.
bool load_record_for_memo(Table& table) {
  if (g_app.edit.mode) commit_cell();
  if (g_app.edit.mode && !edit_buffer(table).empty()) {
    edit_buffer_to_record(table);
    record_from_display(table, table.record.data());
    return true;
  }
  return read_record(table, uint32_t(view_of(table).current_record)) != 0;
}

// Writes table.record (file form) as the current record; in edit mode the
// edit buffer takes it over, so the pending cells are written with it.
void write_memo_record(Table& table) {
  if (g_app.edit.mode && !edit_buffer(table).empty()) {
    int i = view_of(table).memo_field;
    int offset = table.fields[size_t(i)].offset;
    std::memcpy(edit_buffer(table).data() + offset, table.record.data() + offset, size_t(field_length(table, i)));
    write_edit_buffer(table);
    set_record_changed(0);
    drop_edit_buffer(table);
    return;
  }
  write_record(table, uint32_t(view_of(table).current_record));
}

}  // namespace

void memo_editor() {
  Table* table = current_table();
  if (!table || visible_count(*table) == 0) return;
  ViewState& view = view_of(*table);
  int current = current_field(*table);
  if (current >= 0 && current < table->field_count() && is_memo_field(*table, current)) view.memo_field = current;
  // A table starts with its first memo field as the memo field.
  if (view.memo_field < 0) view.memo_field = table->first_memo_field;
  int i = view.memo_field;
  if (i < 0 || i >= table->field_count() || !is_memo_field(*table, i)) return;
  // An empty editor would pass for an empty memo: name the file instead.
  if (memo_file_missing(*table)) {
    message_box("No memo file:\n" + table->memo_file_name, "Error", "OK", kMessageError | kMessageUtf8,
                kMemoEditorHelpTopic);
    return;
  }
  if (!load_record_for_memo(*table)) return;
  std::string text;
  if (!read_memo(*table, i, text, true)) text.clear();
  text = display_from_table(*table, text);
  std::unique_ptr<TextEditor> editor =
      text_create(text.c_str(), 9, 3, screen_cols() - 10, screen_rows() - 4, 0, "Memo editor");
  if (!editor) return;
  // The editor holds text up to its first zero byte: a memo with binary
  // content is shown, never saved back cut short.
  bool binary = text.find('\0') != std::string::npos;
  if (g_settings.read_only || table->read_only || binary) editor->read_only = 1;
  editor->characters = table_characters(*table, kMemoEditorHelpTopic);
  int result = text_run(*editor, kMemoEditorHelpTopic, idle_routine);
  std::string saved = editor->text;
  text_free(editor);
  if (result == 1 || !may_write(*table)) return;
  if (!load_record_for_memo(*table)) return;
  saved = table_from_display(*table, saved);
  if (saved.empty()) {
    blank_field(*table, i);
  } else if (!write_memo(*table, i, saved)) {
    // The old memo stays linked rather than being dropped for a failed write.
    message_box("Cannot write memo file", "Error", "OK", kMessageError, kMemoEditorHelpTopic);
    return;
  }
  // The memo now holds what the user saved, not null.
  set_field_null(*table, table->record.data(), table->record.size(), i, false);
  write_memo_record(*table);
  g_app.redraw |= kRedrawRows;
}


}  // namespace kora
