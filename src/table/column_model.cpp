#include "table/column_model.h"

#include <algorithm>
#include <strings.h>

namespace kora {

void reset_column_model(ColumnModel& model, int field_count) {
  model.field_count = std::clamp(field_count, 0, kMaxColumns);
  model.order.resize(size_t(model.field_count));
  for (int i = 0; i < model.field_count; ++i) model.order[size_t(i)] = i;
  model.shown = model.field_count;
  model.fixed = 0;
  model.flags.assign(size_t(model.field_count), ColumnFlags());
  model.computed.clear();
}

int column_index_count(const ColumnModel& model) { return model.field_count + int(model.computed.size()); }

const ComputedColumn* computed_column(const ColumnModel& model, int column) {
  int slot = column - model.field_count;
  if (slot < 0 || slot >= int(model.computed.size()) || !model.computed[size_t(slot)]) return nullptr;
  return &*model.computed[size_t(slot)];
}

int add_computed_column(ColumnModel& model, ComputedColumn column) {
  if (column.name.empty()) return -1;
  auto free_slot = std::find_if(model.computed.begin(), model.computed.end(), [](const auto& c) { return !c; });
  size_t slot = size_t(free_slot - model.computed.begin());
  if (free_slot == model.computed.end()) {
    if (column_index_count(model) >= kMaxColumns) return -1;
    model.computed.emplace_back();
    model.flags.emplace_back();
  }
  int index = model.field_count + int(slot);
  model.computed[slot] = std::move(column);
  model.flags[size_t(index)] = ColumnFlags();
  model.order.insert(model.order.begin() + model.shown, index);
  ++model.shown;
  return index;
}

int find_computed_column(const ColumnModel& model, std::string_view name) {
  for (size_t slot = 0; slot < model.computed.size(); ++slot) {
    const auto& column = model.computed[slot];
    if (column && column->name.size() == name.size() &&
        strncasecmp(column->name.data(), name.data(), name.size()) == 0) {
      return model.field_count + int(slot);
    }
  }
  return -1;
}

bool remove_computed_column(ColumnModel& model, std::string_view name) {
  int index = find_computed_column(model, name);
  if (index < 0) return false;
  model.computed[size_t(index - model.field_count)].reset();
  model.flags[size_t(index)] = ColumnFlags();
  auto at = std::find(model.order.begin(), model.order.end(), index);
  if (at != model.order.end()) {
    if (at - model.order.begin() < model.shown) --model.shown;
    model.order.erase(at);
  }
  model.fixed = std::min(model.fixed, model.shown);
  return true;
}

const ColumnFlags* column_flags(const ColumnModel& model, int column) {
  return column >= 0 && column < int(model.flags.size()) ? &model.flags[size_t(column)] : nullptr;
}

int column_at(const ColumnModel& model, int position) {
  return position >= 0 && position < int(model.order.size()) ? model.order[size_t(position)] : -1;
}

void arrange_columns(ColumnModel& model, const std::vector<int>& list) {
  std::vector<bool> listed(model.flags.size(), false);
  std::vector<int> shown, hidden;
  auto take = [&](int column) {
    if (column < 0 || column >= int(model.flags.size()) || listed[size_t(column)]) return;
    if (column >= model.field_count && !computed_column(model, column)) return;
    listed[size_t(column)] = true;
    (model.flags[size_t(column)].visible ? shown : hidden).push_back(column);
  };
  for (int column : list) take(column);
  for (int column : model.order) {
    if (column >= 0 && column < int(listed.size()) && !listed[size_t(column)]) {
      model.flags[size_t(column)].visible = false;
      take(column);
    }
  }
  model.shown = int(shown.size());
  model.order = std::move(shown);
  model.order.insert(model.order.end(), hidden.begin(), hidden.end());
  model.fixed = std::clamp(model.fixed, 0, model.shown);
}

}  // namespace kora
