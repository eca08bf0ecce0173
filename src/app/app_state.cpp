#include "app/app_state.h"

#include "app/browse_view.h"
#include "app/filter_commands.h"
#include "app/sort_fill_commands.h"

namespace kora {

CellEditHooks g_cell_edit_hooks;
AppState g_app;

namespace {

// A fresh state for the table, with the edit buffer every table starts with.
std::unique_ptr<TableState> new_state(const Table* table) {
  auto state = std::make_unique<TableState>();
  state->table = table;
  state->edit_buffer.assign(size_t(kRecordBufferSize) + 1, 0);
  return state;
}

TableState& state_at(int index) {
  std::unique_ptr<TableState>& slot = g_app.states[size_t(index)];
  const Table* table = g_app.tables.at(index);
  if (!slot || slot->table != table) slot = new_state(table);
  return *slot;
}

TableState& loose_state(const Table* table) {
  static std::unique_ptr<TableState> loose;
  if (!loose || loose->table != table) loose = new_state(table);
  return *loose;
}

}  // namespace

TableState& table_state(const Table& table) {
  for (int i = 0; i <= g_app.tables.last; ++i) {
    if (g_app.tables.at(i) == &table) return state_at(i);
  }
  return loose_state(&table);
}

TableState& current_state() {
  return g_app.table() ? state_at(g_app.current) : loose_state(nullptr);
}

int add_open_table(const std::string& path, OpenFailure* why) {
  int index = add_table(g_app.tables, path, why);
  if (index >= 0) state_at(index);
  return index;
}

int add_open_table(const std::string& path, Status* why) {
  OpenFailure failure;
  int index = add_open_table(path, &failure);
  if (why) *why = failure.status;
  return index;
}

int remove_open_table(int index) {
  int last = g_app.tables.last;
  int next = remove_table(g_app.tables, index);
  if (index < 0 || index > last) return next;
  for (int i = index; i < last; ++i) g_app.states[size_t(i)] = std::move(g_app.states[size_t(i) + 1]);
  g_app.states[size_t(last)].reset();
  return next;
}

void reset_app_state() {
  g_settings = Settings{};
  g_app = AppState{};
  reset_keybar_labels(g_app.keybar);
  forget_tool_choices();
  forget_filter_choices();
}

}  // namespace kora
