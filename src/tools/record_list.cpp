// Record lists: parsing and formatting in ranges, lists from selections, and
// the group operations on the deletion mark.
#include "tools/record_list.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "table/record_ops.h"

namespace kora {
namespace {

constexpr uint32_t kMarksPerStep = 4096;  // records between progress reports

std::string_view trim_blanks(std::string_view s) {
  size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

// A decimal number of any length; one beyond 64 bits reads as the largest,
// which every clamp then cuts to the view.
bool read_number(std::string_view s, uint64_t& value) {
  s = trim_blanks(s);
  if (s.empty()) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = uint64_t(c - '0');
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return true;
}

// The 1-based item "n" or "a-b" as 0-based positions within the view.
bool read_item(std::string_view item, uint32_t visible_count, PositionRange& range) {
  uint64_t a = 0, b = 0;
  size_t dash = item.find('-');
  if (dash == std::string_view::npos) {
    if (!read_number(item, a) || a < 1 || a > visible_count) return false;
    b = a;
  } else {
    if (!read_number(item.substr(0, dash), a) || !read_number(item.substr(dash + 1), b) || a > b) return false;
    a = std::max<uint64_t>(a, 1);
    b = std::min<uint64_t>(b, visible_count);
    if (a > b) return false;
  }
  range = {uint32_t(a - 1), uint32_t(b - 1)};
  return true;
}

// Sorts the ranges and joins those that overlap or touch.
RecordList normalized(std::vector<PositionRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const PositionRange& x, const PositionRange& y) { return x.first < y.first; });
  RecordList list;
  for (const PositionRange& r : ranges) {
    if (!list.ranges.empty() && uint64_t(r.first) <= uint64_t(list.ranges.back().last) + 1) {
      list.ranges.back().last = std::max(list.ranges.back().last, r.last);
    } else {
      list.ranges.push_back(r);
    }
  }
  return list;
}

void append_number(std::string& text, uint64_t n) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  text.append(digits, end);
}

// The new deletion flag, or 0 when the action leaves the record as it is.
uint8_t marked_flag(RecordAction action, uint8_t flag) {
  switch (action) {
    case RecordAction::kDelete: return flag == '*' ? 0 : '*';
    case RecordAction::kRecall: return flag == '*' ? ' ' : 0;
    case RecordAction::kInvert: return flag == '*' ? ' ' : '*';
  }
  return 0;
}

// A list read against a larger view acts on the positions still in view.
RecordList within_view(const RecordList& list, uint32_t visible_count) {
  RecordList out;
  for (const PositionRange& r : list.ranges) {
    if (r.first >= visible_count) break;
    out.ranges.push_back({r.first, std::min(r.last, visible_count - 1)});
  }
  return out;
}

}  // namespace

uint64_t RecordList::count() const {
  uint64_t n = 0;
  for (const PositionRange& r : ranges) n += uint64_t(r.last) - r.first + 1;
  return n;
}

RecordList parse_record_list(std::string_view text, uint32_t visible_count) {
  std::vector<PositionRange> ranges;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != ',' && text[i] != ';') continue;
    PositionRange range;
    if (read_item(text.substr(start, i - start), visible_count, range)) ranges.push_back(range);
    start = i + 1;
  }
  return normalized(std::move(ranges));
}

std::string format_record_list(const RecordList& list) {
  std::string text;
  for (const PositionRange& r : list.ranges) {
    if (!text.empty()) text += ',';
    append_number(text, uint64_t(r.first) + 1);
    if (r.last == r.first) continue;
    text += '-';
    append_number(text, uint64_t(r.last) + 1);
  }
  return text;
}

RecordList record_list_from_positions(std::vector<uint32_t> positions) {
  std::vector<PositionRange> ranges;
  std::sort(positions.begin(), positions.end());
  for (uint32_t p : positions) {
    if (!ranges.empty() && uint64_t(p) <= uint64_t(ranges.back().last) + 1) {
      ranges.back().last = std::max(ranges.back().last, p);
    } else {
      ranges.push_back({p, p});
    }
  }
  return RecordList{std::move(ranges)};
}

RecordList record_list_from_selection(const Table& table, std::vector<uint32_t> selection) {
  std::sort(selection.begin(), selection.end());
  uint32_t count = visible_count(table);
  std::vector<uint32_t> positions;
  if (!table.view.has_list()) {
    // Every record in file order, perhaps reversed: positions follow from numbers.
    for (uint32_t q : selection) {
      if (q < count) positions.push_back(table.view.reverse ? count - 1 - q : q);
    }
  } else {
    // One pass over the view, whatever its order.
    for (uint32_t p = 0; p < count; ++p) {
      if (std::binary_search(selection.begin(), selection.end(), physical_record(table, p))) positions.push_back(p);
    }
  }
  return record_list_from_positions(std::move(positions));
}

Status apply_record_list(Table& table, RecordAction action, const RecordList& list, const ProgressCallback& progress) {
  if (table.read_only) return Status::kReadOnly;
  const RecordList marked = within_view(list, visible_count(table));
  const uint64_t total = marked.count();
  uint64_t done = 0;
  for (const PositionRange& r : marked.ranges) {
    for (uint64_t p = r.first; p <= r.last; ++p) {
      if (!read_delete_flag(table, uint32_t(p))) return Status::kReadError;
      uint8_t flag = marked_flag(action, table.delete_flag);
      if (flag != 0) {
        table.delete_flag = flag;
        if (!write_delete_flag(table, uint32_t(p))) return Status::kWriteError;
      }
      if (++done % kMarksPerStep == 0 && progress && !progress(done, total)) return Status::kAborted;
    }
  }
  if (progress) progress(done, total);
  return Status::kOk;
}

}  // namespace kora
