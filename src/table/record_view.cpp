#include "table/record_view.h"

#include <vector>

namespace kora {

uint32_t view_record_count(const RecordView& view, uint32_t record_count) {
  return view.visible_list ? uint32_t(view.visible_list->size()) : record_count;
}

uint32_t view_record(const RecordView& view, uint32_t record_count, uint32_t p, bool use_list) {
  uint32_t count = view_record_count(view, record_count);
  if (p >= count) return kNoRecord;
  if (view.reverse) p = count - p - 1;
  if (view.sort_order) {
    if (p >= view.sort_order->size()) return kNoRecord;
    p = (*view.sort_order)[p];
  }
  uint32_t q = p;
  if (use_list && view.visible_list) {
    if (p >= view.visible_list->size()) return kNoRecord;
    q = (*view.visible_list)[p];
  }
  return q < record_count ? q : kNoRecord;
}

void extend_view_for_append(RecordView& view, uint32_t record_count) {
  extend_view_for_appends(view, record_count, record_count + 1);
}

void extend_view_for_appends(RecordView& view, uint32_t first, uint32_t end) {
  if (end <= first) return;
  uint32_t added = end - first;
  if (view.sort_order) {
    std::vector<uint32_t>& order = *view.sort_order;
    uint32_t p = view_record_count(view, first);
    order.reserve(order.size() + added);
    for (uint32_t k = 0; k < added; ++k) order.push_back(p + k);
  }
  if (view.visible_list) {
    std::vector<uint32_t>& list = *view.visible_list;
    list.reserve(list.size() + added);
    for (uint32_t q = first; q < end; ++q) list.push_back(q);
  }
}

bool view_fits(const RecordView& view, uint32_t record_count) {
  if (view.visible_list) {
    const std::vector<uint32_t>& list = *view.visible_list;
    for (size_t k = 0; k < list.size(); ++k) {
      if (list[k] >= record_count || (k > 0 && list[k] <= list[k - 1])) return false;
    }
  }
  if (view.sort_order) {
    uint32_t count = view_record_count(view, record_count);
    if (view.sort_order->size() != count) return false;
    std::vector<bool> seen(count, false);
    for (uint32_t p : *view.sort_order) {
      if (p >= count || seen[p]) return false;
      seen[p] = true;
    }
  }
  return true;
}

}  // namespace kora
