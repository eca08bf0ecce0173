#include "tools/search.h"

#include <algorithm>

#include "table/code_page.h"
#include "table/field_write.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"

namespace kora {

namespace {

bool is_up(const SearchRequest& request) { return request.direction == SearchDirection::kUp; }

// A replacement may change the cell: a value of its own, in a column the
// user may edit.
bool writable_column(const Table& table, int column) {
  int i = column_field(table, column);
  return i >= 0 && !holds_reference(table, i) && !column_read_only(table, column);
}

}  // namespace

TextMatcher::TextMatcher(const Table& table, std::string_view text) : table_(table), fold_(table.ignore_case) {
  if (in_other_code_page(table)) {
    page_ = table.code_page;
  } else {
    std::string bytes(256, '\0');
    for (int b = 0; b < 256; ++b) bytes[size_t(b)] = char(b);
    fold_case(table, bytes);
    for (int b = 0; b < 256; ++b) upper_[size_t(b)] = uint8_t(bytes[size_t(b)]);
  }
  needle_ = folded(text);
}

// Folding works in the table's code page: an ANSI table's text goes there
// and back, so that its letters fold by its own rules.
std::string TextMatcher::folded(std::string_view shown) const {
  if (!fold_) return std::string(shown);
  if (page_) {
    std::string text(shown);
    page_->upper_case(text);
    return text;
  }
  std::string text = table_.ansi_text ? table_from_display(table_, shown) : std::string(shown);
  for (char& c : text) c = char(upper_[uint8_t(c)]);
  return table_.ansi_text ? display_from_table(table_, text) : text;
}

// In a multi-byte page the needle's bytes may also end one character and
// begin the next (a trail byte that is an ASCII letter): such a place is
// no match.
size_t TextMatcher::find_whole(std::string_view text) const {
  size_t at = text.find(needle_);
  if (!page_ || !page_->multibyte()) return at;
  while (at != std::string_view::npos && page_->whole_characters(text, at) != at) at = text.find(needle_, at + 1);
  return at;
}

size_t TextMatcher::find(std::string_view shown) const {
  if (needle_.empty()) return std::string_view::npos;
  if (!fold_) return find_whole(shown);
  return find_whole(folded(shown));
}

size_t TextMatcher::find_in(std::string& shown) const {
  if (page_ && fold_ && !needle_.empty()) {
    page_->upper_case(shown);
    return find_whole(shown);
  }
  if (!fold_ || table_.ansi_text) return find(shown);
  if (needle_.empty()) return std::string::npos;
  for (char& c : shown) c = char(upper_[uint8_t(c)]);
  return shown.find(needle_);
}

std::string cell_display_text(const Table& table, RecordImage record, int column) {
  int i = column_field(table, column);
  if (i < 0) return {};
  std::string text = field_text(table, record, i);
  return table.ansi_text ? display_from_table(table, text) : text;
}

std::optional<SearchSpot> first_search_start(const Table& table, const SearchRequest& request,
                                             uint32_t current_row) {
  uint32_t count = visible_count(table);
  uint32_t row = request.direction == SearchDirection::kAll ? 0 : current_row;
  if (row >= count) return std::nullopt;
  return SearchSpot{row, std::max(request.by_column, 0)};
}

std::optional<SearchSpot> next_search_start(const Table& table, const SearchRequest& request, SearchSpot after) {
  if (request.by_column < 0 && after.column + 1 < column_count(table)) {
    return SearchSpot{after.position, after.column + 1};
  }
  int column = std::max(request.by_column, 0);
  if (is_up(request)) {
    if (after.position == 0) return std::nullopt;
    return SearchSpot{after.position - 1, column};
  }
  if (after.position + 1 >= visible_count(table)) return std::nullopt;
  return SearchSpot{after.position + 1, column};
}

uint32_t search_record_count(const Table& table, const SearchRequest& request, SearchSpot start) {
  uint32_t count = visible_count(table);
  if (start.position >= count) return 0;
  return is_up(request) ? start.position + 1 : count - start.position;
}

Status search_table(const Table& table, const SearchRequest& request, SearchSpot start,
                    const ProgressCallback& progress, std::optional<SearchSpot>& match) {
  match.reset();
  uint32_t count = visible_count(table);
  if (start.position >= count || request.text.empty()) return Status::kOk;
  RecordScanner scan(table, ScanOrder::kView, progress);
  if (is_up(request)) {
    scan.set_backward();
    scan.set_range(0, start.position + 1);
  } else {
    scan.set_range(start.position, count);
  }
  const TextMatcher matcher(table, request.text);
  int first = std::max(request.by_column, 0);
  int last = request.by_column >= 0 ? request.by_column : column_count(table) - 1;
  ScannedRecord r;
  std::string shown;
  while (scan.next(r)) {
    RecordImage image(r.image, table.record_size);
    int from = r.position == start.position ? std::max(first, start.column) : first;
    for (int column = from; column <= last; ++column) {
      int i = column_field(table, column);
      if (i < 0 || (request.writable_only && !writable_column(table, column))) continue;
      field_text(table, image, i, shown);
      if (shown.empty()) continue;
      if (table.ansi_text) shown = display_from_table(table, shown);
      if (matcher.find_in(shown) == std::string::npos) continue;
      match = SearchSpot{r.position, column};
      return Status::kOk;
    }
  }
  return scan.status();
}

ReplaceOutcome replace_in_cell(Table& table, SearchSpot spot, const TextMatcher& matcher,
                               std::string_view replacement, std::string* refused) {
  if (!writable_column(table, spot.column)) return ReplaceOutcome::kSkipped;
  int i = column_field(table, spot.column);
  if (!read_record(table, spot.position)) return ReplaceOutcome::kReadError;
  std::string shown = cell_display_text(table, RecordImage(table.record.data(), table.record_size), spot.column);
  size_t at = matcher.find(shown);
  if (at == std::string::npos) return ReplaceOutcome::kNoMatch;
  std::string text = shown.substr(0, at);
  text.append(replacement);
  text.append(shown, at + matcher.length());
  if (table.ansi_text) text = table_from_display(table, text);
  FieldWrite stored = set_field_text(table, i, text);
  if (stored != FieldWrite::kStored) {
    if (refused) *refused = field_write_message(table, i, stored);
    return ReplaceOutcome::kDidNotFit;
  }
  if (!write_record(table, spot.position)) return ReplaceOutcome::kWriteError;
  return ReplaceOutcome::kReplaced;
}

}  // namespace kora
