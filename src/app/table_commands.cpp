// The open tables as the user handles them: open and show, close, switch,
// the settings copied into each table, and the menu bar's view of them.
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/display_code_page.h"
#include "app/file_panel.h"
#include "app/main_loop.h"
#include "app/navigation.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/message_box.h"
#include "ui/settings.h"

namespace kora {

namespace {

constexpr int kTableListHelp = 10;

// A table not marked ANSI in its header is taken as ANSI when OEMAnsi says
// so, or when its first record looks like Windows-1251 text.
void decide_code_page(Table& table) {
  if (table.ansi_text) return;
  if (g_settings.oem_ansi == 2) {
    table.ansi_text = true;
    return;
  }
  if (g_settings.oem_ansi == 1 || table.record_count == 0) return;
  int mapping = table.view_mapping;
  table.view_mapping = 0;
  if (read_record(table, 0)) {
    table.ansi_text = ansi_letter_balance(table.record.data(), table.record_size) == 1;
  }
  table.view_mapping = mapping;
}

// What follows every change of the shown table.
void after_switch() {
  Table* table = g_app.table();
  if (table) g_app.captions_ansi = captions_look_ansi(*table);
  update_keybar_labels();
  g_app.selection.clear();
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
  facts.fields_view = table.view.view_mode == 1;
  facts.reverse = table.reverse;
  facts.aliases = table.show_aliases;
  facts.has_memo = table.first_memo_field >= 0;
  facts.hide_deleted = table.hide_deleted;
  facts.read_only = g_settings.read_only;
  facts.ansi = table.ansi_text;
  facts.record_count = int(visible_count(table));
  facts.record_copied = !table.record_clipboard.empty();
  facts.sorted = table.sort_order.has_value();
  return facts;
}

void attach(int pulldown, const char* label, MenuCommand command) {
  MenuItem* item = menu_find_item(kMenuBar[pulldown].menu, label);
  if (item) item->command = command;
}

void attach_menu_commands() {
  attach(0, "&Open", [](int, Table*) { open_with_panel(); });
  attach(0, "C&lose", [](int, Table*) { close_current_table(); });
  attach(0, "E&xit", [](int, Table*) { g_app.quit = true; });
  attach(1, "&Browse", [](int, Table* t) {
    if (t && t->view.view_mode != 0) switch_view();
  });
  attach(1, "&Fields", [](int, Table* t) {
    if (t && t->view.view_mode != 1) switch_view();
  });
  attach(1, "&Reverse", [](int, Table*) { toggle_reverse(); });
  attach(1, "&Aliases", [](int, Table*) { toggle_aliases(); });
  attach(1, "ANSI &charset", [](int, Table* t) {
    if (t && !t->ansi_text) toggle_code_page();
  });
  attach(1, "O&EM charset", [](int, Table* t) {
    if (t && t->ansi_text) toggle_code_page();
  });
  attach(0, "Save setup", [](int, Table*) { settings_save_setup(); });
  attach(1, "&Options", [](int, Table*) { options_dialog(); });
  attach(2, "G&o to field", [](int, Table*) { go_to_field(); });
  attach(4, "He&x panel", [](int, Table*) { toggle_hex_panel(); });
}

}  // namespace

void install_menu_hooks() {
  attach_menu_commands();
  g_menu_bar_hooks.facts = current_facts;
  g_menu_bar_hooks.current_slot = [] { return g_app.current; };
  g_menu_bar_hooks.current_table = [] { return g_app.table(); };
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

void prepare_new_table(Table& table) {
  decide_code_page(table);
  table.view.view_mode = g_settings.start_mode == 1 ? 1 : 0;
  apply_settings(table);
}

int open_and_show(const std::string& file_name, bool leave_edit) {
  if (leave_edit && g_app.edit.mode && g_cell_edit_hooks.leave_edit) g_cell_edit_hooks.leave_edit(true);
  int last_before = g_app.tables.last;
  int index = add_table(g_app.tables, file_name);
  if (index < 0) {
    message_box("Cannot open file", "Error", "OK", kMessageError, kMainHelpTopic);
    return 0;
  }
  if (index == g_app.current) return 1;
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
  int next = remove_table(g_app.tables, g_app.current);
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
