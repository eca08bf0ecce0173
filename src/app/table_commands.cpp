// The open tables as the user handles them: open and show, close, switch,
// the settings copied into each table, and the menu bar's view of them.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/cell_editor_internal.h"
#include "app/command_support.h"
#include "app/commands.h"
#include "app/favorites.h"
#include "app/file_panel.h"
#include "app/main_loop.h"
#include "app/menu_tree.h"
#include "app/navigation.h"
#include "table/undo_log.h"
#include "app/record_commands.h"
#include "app/status_text.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kTableListHelp = 10;
constexpr int kFavoritesPulldown = 5;

// What follows every change of the shown table.
void after_switch() {
  Table* table = g_app.table();
  if (table) g_app.captions_ansi = field_name_test(*table);
  // Edit mode stays on: the new table's record image is read before it is
  // shown, not taken from whatever its edit buffer held.
  if (table && g_app.edit.mode) cell_edit::drop_edit_buffer(*table);
  update_keybar_labels();
  current_state().selection.clear();
  g_app.block.on = false;
  g_app.redraw |= kRedrawAll;
}

void show_table(int index) {
  if (index == g_app.current) return;
  g_app.current = index;
  after_switch();
}

MenuFacts current_facts() {
  MenuFacts facts;
  Table& table = *g_app.table();
  facts.table_count = g_app.tables.last + 1;
  facts.fields_view = view_of(table).view_mode == 1;
  facts.reverse = table.view.reverse;
  facts.aliases = table.show_aliases;
  facts.has_memo = table.first_memo_field >= 0;
  facts.hide_deleted = table.view.hide_deleted;
  facts.read_only = g_settings.read_only;
  facts.ansi = table.ansi_text;
  facts.record_count = int(visible_count(table));
  facts.record_copied = !table_state(table).record_clipboard.empty();
  facts.can_undo = can_undo(table);
  facts.can_redo = can_redo(table);
  facts.sorted = table.view.sort_order.has_value();
  facts.has_search = !g_settings.search.s_expression.empty();
  // A view list that neither the filter nor hide deleted made holds the
  // records of show selected only.
  const RecordView& view = table.view;
  facts.selected_only = view.visible_list.has_value() && view.filter_expr.empty() && !view.hide_deleted;
  return facts;
}

}  // namespace

void install_menu_hooks() {
  g_menu_bar_hooks.pulldowns = kMenuBar;
  g_menu_bar_hooks.update_states = [](int pulldown) {
    // A favourite removed since the list was read is shown as missing.
    if (pulldown == kFavoritesPulldown && !g_favorites.favorites_file.empty()) favorites_load();
    apply_menu_states(pulldown, current_facts());
  };
  g_menu_bar_hooks.run_command = [](int command) { run_menu_command(static_cast<Cmd>(command)); };
  g_menu_bar_hooks.open_by_name = [](const char* label) { open_and_show(favorite_file(label)); };
  g_menu_bar_hooks.pulldown_for_key = [](int key) {
    Cmd command = command_for_key(key);
    return command >= Cmd::MenuFile && command <= Cmd::MenuHelp ? int(command) - int(Cmd::MenuFile) : -1;
  };
  g_menu_bar_hooks.redraw_status = [] {
    draw_status_left();
    draw_status_counter();
    g_app.clock_second = -1;
  };
}

void apply_settings(Table& table) {
  table.date_format = g_settings.date_format;
  table.memo_display = g_settings.memo;
  set_date_separator(table, g_settings.separator ? g_settings.date_char : '.');
  set_bak_mode(table, g_settings.bak_files);
}

void show_recovery_note(const Table& table) {
  if (!table.recovery_note.empty()) message_box(table.recovery_note, "Attention", "OK", 0, kMainHelpTopic);
}

namespace {

// A message box does not wrap: lines wider than the screen are broken where
// a "; " parts them, then where a ": " does.
std::string fit_to_screen(const std::string& text) {
  size_t width = size_t(std::max(20, screen_cols() - 8));
  std::string out = text;
  for (const char* mark : {"; ", ": "}) {
    std::string fitted;
    size_t start = 0;
    while (start <= out.size()) {
      size_t end = out.find('\n', start);
      std::string line = out.substr(start, end == std::string::npos ? std::string::npos : end - start);
      for (size_t at = 0; line.size() > width && (at = line.find(mark, at)) != std::string::npos;)
        line.replace(at, 2, std::string(1, mark[0]) + "\n");
      fitted += line;
      if (end == std::string::npos) break;
      fitted += '\n';
      start = end + 1;
    }
    out = fitted;
  }
  return out;
}

// The question names each correction; a table that may not be written
// (read-only mode or file) is offered only to be shown as it is.
int ask_header_repair(const Table& table, bool writable) {
  std::string text;
  for (const std::string& line : header_corrections(table)) text += (text.empty() ? "" : "\n") + line;
  text = fit_to_screen(text);
  if (writable) return message_box(text, kHeaderRepairTitle, kHeaderRepairButtons, 0, kHeaderErrorsHelpTopic);
  text += "\nNothing is written in read-only mode.";
  int answer = message_box(text, kHeaderRepairTitle, "Open read-only\nCancel", 0, kHeaderErrorsHelpTopic);
  return answer == 0 ? 1 : answer < 0 ? -1 : 2;  // as Continue, Cancel or Esc
}

}  // namespace

int offer_header_repair(Table& table, bool at_startup, int auto_correct) {
  if ((table.header_errors & kRepairableErrors) == 0) return 0;
  // A file that does not read as a table is never written: the user is
  // told why instead of being asked.
  if (table.repair_refusal.status != Status::kOk) {
    std::string text = "The header is not corrected:\n";
    text += failure_text(table.repair_refusal);
    message_box(fit_to_screen(text), kHeaderRepairTitle, "OK", 0, kHeaderErrorsHelpTopic);
    return 0;
  }
  bool writable = !g_settings.read_only && table.read_only_cause != ReadOnlyCause::kFile;
  if (!writable) auto_correct = 0;
  OpenFailure failed;
  int cancelled =
      confirm_header_repair(table, at_startup, auto_correct, [&] { return ask_header_repair(table, writable); }, &failed);
  if (failed.status != Status::kOk) {
    message_box(fit_to_screen("The header is not corrected:\n" + failure_text(failed)), "Error", "OK", kMessageError,
                kHeaderErrorsHelpTopic);
  }
  return cancelled;
}

void set_table_list_options() {
  TableOptions& options = g_app.tables.options;
  options.date_format = g_settings.date_format;
  options.show_aliases = g_settings.aliases != 0;
  options.ignore_case = g_settings.filter.ignore_case != 0;
  options.oem_ansi = g_settings.oem_ansi;
  options.xlat = configured_oem_ansi(g_settings.xlat.to_ansi, g_settings.xlat.to_oem);
}

void prepare_new_table(Table& table) {
  // The field-name test belongs to opening, the table of the start-up too.
  g_app.captions_ansi = field_name_test(table);
  view_of(table).view_mode = g_settings.start_mode == 1 ? 1 : 0;
  apply_settings(table);
}

int open_and_show(const std::string& file_name, bool leave_edit) {
  // The shown table itself, under any name, is not left: nothing to ask.
  int open = find_table(g_app.tables, file_name);
  if (open >= 0 && open == g_app.current) return 1;
  // A file that is not there is reported below without a question first.
  bool present = open >= 0 || access(file_name.c_str(), F_OK) == 0;
  if (present && !resolve_unsaved_edit()) return 0;
  if (leave_edit && g_app.edit.mode && g_cell_edit_hooks.leave_edit) g_cell_edit_hooks.leave_edit(true);
  int last_before = g_app.tables.last;
  set_table_list_options();
  OpenFailure why;
  int index = add_open_table(file_name, &why);
  if (index < 0) {
    message_box(open_failure_text(why), "Error", "OK", kMessageError, kMainHelpTopic);
    return 0;
  }
  if (index > last_before) show_recovery_note(*g_app.tables.at(index));
  if (index == g_app.current) return 1;
  // Edit mode stays on (favourites, recent files); the record being edited
  // was saved or dropped above.
  g_app.current = index;
  if (index > last_before) {
    Table& table = *g_app.table();
    prepare_new_table(table);
    offer_header_repair(table, false, g_app.auto_correct);
  }
  after_switch();
  return 1;
}

namespace {

bool same_fields(const Table& a, const Table& b) {
  if (a.header_size != b.header_size || a.record_size != b.record_size || a.fields.size() != b.fields.size()) {
    return false;
  }
  for (size_t i = 0; i < a.fields.size(); ++i) {
    const FieldDesc& x = a.fields[i];
    const FieldDesc& y = b.fields[i];
    if (std::memcmp(x.name, y.name, sizeof x.name) != 0 || x.type != y.type || x.offset != y.offset ||
        x.length != y.length || x.decimals != y.decimals) {
      return false;
    }
  }
  return true;
}

// What the user set on the table carries over to its fresh handle; the
// view's lists and the columns only while the records lie where they did.
void carry_over(Table& old, Table& fresh, TableState& state) {
  apply_settings(fresh);
  fresh.show_aliases = old.show_aliases;
  fresh.ansi_text = old.ansi_text;
  fresh.code_page = old.code_page;
  fresh.bak_done = old.bak_done;
  fresh.encoding = old.encoding;
  fresh.cipher_state = old.cipher_state;
  fresh.view.reverse = old.view.reverse;
  bool same_records = old.header_size == fresh.header_size && old.record_size == fresh.record_size;
  if (same_records && view_fits(old.view, fresh.record_count)) fresh.view = std::move(old.view);
  if (same_fields(old, fresh)) fresh.columns = std::move(old.columns);
  std::vector<uint32_t>& selection = state.selection;
  if (!same_records) selection.clear();
  std::erase_if(selection, [&](uint32_t q) { return q >= fresh.record_count; });
  if (old.record_size != fresh.record_size) state.record_clipboard.clear();
  state.table = &fresh;

  ViewState& v = state.view;
  long count = long(visible_count(fresh));
  v.current_record = std::clamp(v.current_record, 0L, std::max(count - 1, 0L));
  v.top_record = std::clamp(v.top_record, 0L, v.current_record);
  int columns = column_count(fresh);
  v.current_column = std::clamp(v.current_column, 0, std::max(columns - 1, 0));
  v.first_column = std::clamp(v.first_column, 0, v.current_column);
  if (v.memo_field >= fresh.field_count() || !is_memo_field(fresh, v.memo_field)) v.memo_field = -1;
}

// The table of the slot could not be opened again: it is closed, and with
// it the program when it was the only one.
void drop_unopenable(int index, const OpenFailure& why) {
  message_box(open_failure_text(why), "Error", "OK", kMessageError, kMainHelpTopic);
  if (index == g_app.current) g_app.edit.mode = 0;
  if (g_app.tables.last < 1) {
    remove_open_table(index);
    g_app.quit = true;
    return;
  }
  int next = remove_open_table(index);
  if (index < g_app.current) {
    --g_app.current;
  } else if (index == g_app.current) {
    g_app.current = next;
  }
  after_switch();
}

}  // namespace

bool reopen_table(int index) {
  Table* old = g_app.tables.at(index);
  if (!old) return false;
  set_table_list_options();
  OpenFailure why;
  std::unique_ptr<Table> fresh = open_list_table(g_app.tables, old->file_name, &why);
  if (!fresh) {
    drop_unopenable(index, why);
    return false;
  }
  carry_over(*old, *fresh, table_state(*old));
  move_undo_history(*old, *fresh);
  std::unique_ptr<Table>& slot = g_app.tables.tables[size_t(index)];
  std::swap(slot, fresh);
  close_table(fresh);
  Table& table = *slot;
  show_recovery_note(table);
  offer_header_repair(table, false, g_app.auto_correct);
  if (index == g_app.current) {
    g_app.captions_ansi = field_name_test(table);
    if (g_app.edit.mode) cell_edit::drop_edit_buffer(table);
    g_app.block.on = false;
    update_keybar_labels();
  }
  g_app.redraw |= kRedrawAll;
  return true;
}

void open_with_panel() {
  std::string chosen;
  g_file_panel_settings.date_format = g_settings.date_format;
  if (file_panel("", "*.dbf", chosen)) open_and_show(chosen, true);
  g_app.redraw |= kRedrawAll;
}

void close_current_table() {
  if (g_app.tables.last < 1 || !resolve_unsaved_edit()) return;
  int next = remove_open_table(g_app.current);
  if (next < 0) return;
  g_app.current = next;
  after_switch();
}

void next_table() {
  int count = g_app.tables.last + 1;
  if (count <= 1 || !resolve_unsaved_edit()) return;
  show_table((g_app.current + 1) % count);
}

void previous_table() {
  int count = g_app.tables.last + 1;
  if (count <= 1 || !resolve_unsaved_edit()) return;
  show_table((g_app.current + count - 1) % count);
}

void choose_table() {
  std::vector<std::string> names;
  for (int i = 0; i <= g_app.tables.last; ++i) names.push_back(g_app.tables.at(i)->file_name);
  int chosen = pick_list(names, g_app.current, kTableListHelp, kItemUnicode);
  if (chosen < 0 || chosen == g_app.current || !resolve_unsaved_edit()) return;
  show_table(chosen);
}

}  // namespace kora
