// The open tables as the user handles them: open and show, close, switch,
// the settings copied into each table, and the menu bar's view of them.
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/cell_editor.h"
#include "app/cell_editor_internal.h"
#include "app/commands.h"
#include "app/file_panel.h"
#include "app/main_loop.h"
#include "app/menu_tree.h"
#include "app/navigation.h"
#include "app/record_commands.h"
#include "app/status_text.h"
#include "table/code_page.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kTableListHelp = 10;

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
  g_menu_bar_hooks.update_states = [](int pulldown) { apply_menu_states(pulldown, current_facts()); };
  g_menu_bar_hooks.run_command = [](int command) { run_menu_command(static_cast<Cmd>(command)); };
  g_menu_bar_hooks.open_by_name = [](const char* name) { open_and_show(name); };
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

int ask_header_repair() {
  return message_box(kHeaderRepairText, kHeaderRepairTitle, kHeaderRepairButtons, 0, kMainHelpTopic);
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
  if (leave_edit && g_app.edit.mode && g_cell_edit_hooks.leave_edit) g_cell_edit_hooks.leave_edit(true);
  int last_before = g_app.tables.last;
  set_table_list_options();
  Status why = Status::kOk;
  int index = add_open_table(file_name, &why);
  if (index < 0) {
    message_box(open_failure_text(why), "Error", "OK", kMessageError, kMainHelpTopic);
    return 0;
  }
  if (index == g_app.current) return 1;
  // Edit mode stays on (favourites, recent files): the record being edited
  // is written before another table is shown, as a table switch does.
  if (!leave_edit) leave_cell(true);
  g_app.current = index;
  if (index > last_before) {
    Table& table = *g_app.table();
    prepare_new_table(table);
    confirm_header_repair(table, false, g_app.auto_correct, ask_header_repair);
  }
  after_switch();
  return 1;
}

void open_with_panel() {
  std::string chosen;
  g_file_panel_settings.date_format = g_settings.date_format;
  if (file_panel("", "*.dbf", chosen)) open_and_show(chosen, true);
  g_app.redraw |= kRedrawAll;
}

void close_current_table() {
  if (g_app.tables.last < 1) return;
  int next = remove_open_table(g_app.current);
  if (next < 0) return;
  g_app.current = next;
  after_switch();
}

void next_table() {
  int count = g_app.tables.last + 1;
  if (count <= 1) return;
  leave_cell(true);
  show_table((g_app.current + 1) % count);
}

void previous_table() {
  int count = g_app.tables.last + 1;
  if (count <= 1) return;
  leave_cell(true);
  show_table((g_app.current + count - 1) % count);
}

void choose_table() {
  std::vector<std::string> names;
  for (int i = 0; i <= g_app.tables.last; ++i) names.push_back(g_app.tables.at(i)->file_name);
  int chosen = pick_list(names, g_app.current, kTableListHelp);
  if (chosen < 0 || chosen == g_app.current) return;
  leave_cell(true);
  show_table(chosen);
}

}  // namespace kora
