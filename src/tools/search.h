// Search and replace over the cells of a table's view: a walk from a start
// (view position, display column) in a direction that looks for a text in
// each cell's display text, and the replacement of its first occurrence in
// one cell.
//
// Texts are in the screen's code page, as the browse view shows them (a
// table in a code page other than 866 and 1251 is shown in its own). When
// the table ignores case, the search text and every cell are upper-cased by
// the rules of the table's code page before they are compared: in those
// other pages by Unicode's, and a match there starts on a character.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/value_codec.h"

namespace kora {

enum class SearchDirection : int { kDown = 0, kUp = 1, kAll = 2 };

// A cell of the view: view position and display column.
struct SearchSpot {
  uint32_t position = 0;
  int column = 0;
  bool operator==(const SearchSpot&) const = default;
};

struct SearchRequest {
  std::string text;  // the screen's code page; never empty when searched
  SearchDirection direction = SearchDirection::kDown;
  int by_column = -1;  // the only display column looked at; -1 every column
  // Passes over the cells a replacement may not change: fields that hold
  // references (memo, general, picture, binary memo, null flags), computed
  // columns and columns set up read-only.
  bool writable_only = false;
};

// Finds the search text in display texts, folded as the table wants.
class TextMatcher {
 public:
  TextMatcher(const Table& table, std::string_view text);
  // Where the text first occurs in `shown` (a cell's display text), or npos.
  size_t find(std::string_view shown) const;
  // The same, free to fold `shown` in place (a walk's reused buffer).
  size_t find_in(std::string& shown) const;
  size_t length() const { return needle_.size(); }

 private:
  std::string folded(std::string_view shown) const;
  size_t find_whole(std::string_view text) const;

  const Table& table_;
  // Set when the table is in a page of its own: it folds, and a match
  // must start on one of its characters.
  std::shared_ptr<const CodePage> page_;
  bool fold_ = false;
  std::array<uint8_t, 256> upper_{};  // the table's code page
  std::string needle_;
};

// The display text of display column `column` of a record image, in the
// screen's code page.
std::string cell_display_text(const Table& table, RecordImage record, int column);

// Where a first search starts: the current row (All: position 0) at its
// first column. None when the view is empty or the row lies outside it.
std::optional<SearchSpot> first_search_start(const Table& table, const SearchRequest& request,
                                             uint32_t current_row);
// Where the next search starts after a match at `after`: the next column of
// the same record (not with a single column), else the first column of the
// next record in the direction (All goes down). None past the view's end.
std::optional<SearchSpot> next_search_start(const Table& table, const SearchRequest& request, SearchSpot after);

// Records a search from `start` visits: to the end of the view, or (Up) to
// its first position.
uint32_t search_record_count(const Table& table, const SearchRequest& request, SearchSpot start);

// Walks the view from `start` (Up: towards position 0; else towards the
// end) and sets `match` to the first cell holding the text. kOk with or
// without a match; kAborted when the progress callback stopped the walk,
// kReadError when a read failed (no match is set then).
Status search_table(const Table& table, const SearchRequest& request, SearchSpot start,
                    const ProgressCallback& progress, std::optional<SearchSpot>& match);

// Replacing in one cell of the view.
enum class ReplaceOutcome {
  kReplaced,
  kNoMatch,      // the cell does not hold the text (any more)
  kSkipped,      // a cell a replacement may not change
  kDidNotFit,    // the new text is no value of the field: the old one is kept
  kReadError,
  kWriteError,
};

// Reads the record at the spot's position into table.record, replaces the
// first occurrence of the matcher's text in the cell with `replacement`
// through set_field_text (the whole field is rewritten, so a shorter text
// leaves no tail of the old one) and writes the record. When the field
// refuses the new text, `refused` (if given) says why.
ReplaceOutcome replace_in_cell(Table& table, SearchSpot spot, const TextMatcher& matcher,
                               std::string_view replacement, std::string* refused = nullptr);

}  // namespace kora
