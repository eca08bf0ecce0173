#include "tools/sort.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <queue>

#include "table/code_page.h"
#include "table/column_model.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

// "%10ld" of the smallest 32-bit integer takes 11 characters; a key of 10
// would cut its last digit.
constexpr int kIntegerKeyWidth = 11;
constexpr int kDateKeyWidth = 8;
constexpr int kDateTimeKeyWidth = 14;
// Runs merged at once; more runs are first merged in groups of this many.
constexpr size_t kMaxMergeFanIn = 64;
// Entries merged between two progress reports.
constexpr uint64_t kMergeStep = 65536;
constexpr size_t kMaxIoBuffer = size_t(1) << 20;

// ---------------------------------------------------------------- keys

KeyPart layout_part(const Table& table, int column, std::vector<CompiledExpression>& expressions) {
  KeyPart part;
  part.column = column;
  if (column >= table.field_count()) {
    const ComputedColumn* computed = computed_column(table.columns, column);
    part.kind = 'X';
    if (!computed) return part;  // a free slot contributes nothing
    part.kind = 'E';
    part.width = std::max(0, computed->width);
    part.expression = int(expressions.size());
    expressions.push_back(compile_expression(table, computed->expression));
    part.numeric = expressions.back().numeric;
    return part;
  }
  char type = field_type(table, column);
  part.numeric = is_numeric_field(table, column);
  // A nullable field's stored bytes are no value while it is null: it sorts
  // by its text, empty then.
  if (field_flags(table, column) & kFieldNullable) type = 'X';
  switch (type) {
    case 'C':
    case 'L':
    case '0':
      part.kind = 'C';
      part.width = field_length(table, column);
      break;
    case 'D':
      part.kind = 'D';
      part.width = kDateKeyWidth;
      break;
    case 'T':
      part.kind = 'T';
      part.width = kDateTimeKeyWidth;
      break;
    case 'I':
      part.kind = 'X';
      part.width = kIntegerKeyWidth;
      break;
    default:
      part.kind = 'X';
      part.width = display_width(table, column);
      break;
  }
  return part;
}

// The stored text of a field as the screen shows it: the NULs that pad it
// padded with blanks instead (a NUL inside it sorts as the character 0),
// leading blanks dropped when the table trims them, padded with blanks to
// `width`.
void put_stored_text(const Table& table, RecordImage record, int i, uint8_t* out, int width) {
  std::memset(out, ' ', size_t(width));
  const FieldDesc& desc = table.fields[size_t(i)];
  long offset = desc.offset;
  long length = field_length(table, i);
  if (offset < 1 || offset + length > table.record_size || size_t(offset + length) > record.size()) return;
  const uint8_t* text = record.data() + offset;
  size_t n = text_value_end(std::string_view(reinterpret_cast<const char*>(text), size_t(length)));
  size_t start = 0;
  if (table.trim_mode == 2 || table.trim_mode == 3) {
    while (start < n && text[start] == ' ') ++start;
  }
  std::memcpy(out, text + start, std::min(n - start, size_t(width)));
}

void put_date(const Table& table, RecordImage record, const KeyPart& part, uint8_t* out) {
  DateParts date = field_date(table, record, part.column);
  if (!is_valid_date(date)) {
    std::memset(out, ' ', size_t(part.width));
    return;
  }
  bool binary = part.kind == 'T' && field_length_byte(table, part.column) == 8;
  if (!binary) {
    put_stored_text(table, record, part.column, out, part.width);
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", date.year, date.month + 1, date.day, date.hour,
                date.minute, date.second);
  std::memcpy(out, text, kDateTimeKeyWidth);
}

// Negative numbers: blanks and '-' become '0', then every digit d becomes the
// byte 58 - d, so that they come before every positive number and larger
// magnitudes first.
void rewrite_negative(uint8_t* out, int width) {
  if (!std::memchr(out, '-', size_t(width))) return;
  for (int k = 0; k < width; ++k) {
    uint8_t c = out[k];
    if (c == '.') continue;
    if (c == ' ' || c == '-') c = '0';
    out[k] = uint8_t(58 - c);
  }
}

// A display text: numbers right-aligned in the part, other texts
// left-aligned and padded with blanks (a NUL in a text sorts as the
// character 0); a text too long is cut.
void put_display_text(const std::string& text, const KeyPart& part, uint8_t* out) {
  size_t width = size_t(part.width);
  std::memset(out, ' ', width);
  size_t n = std::min(text.size(), width);
  size_t at = part.numeric ? width - n : 0;
  std::memcpy(out + at, text.data(), n);
  if (!part.numeric) return;
  for (size_t k = 0; k < width; ++k) {
    if (out[k] == 0) out[k] = ' ';
  }
  rewrite_negative(out, part.width);
}

const CompiledExpression& expression_of(const KeyLayout& layout, const KeyPart& part) {
  return layout.expressions[size_t(part.expression)];
}

std::array<uint8_t, 256> case_map(const Table& table) {
  std::string bytes(256, '\0');
  for (int b = 0; b < 256; ++b) bytes[size_t(b)] = char(b);
  if (in_other_code_page(table)) {
    for (int b = 'a'; b <= 'z'; ++b) bytes[size_t(b)] = char(b - 0x20);
  } else {
    fold_case(table, bytes);
  }
  std::array<uint8_t, 256> map{};
  for (int b = 0; b < 256; ++b) map[size_t(b)] = uint8_t(bytes[size_t(b)]);
  return map;
}

// Text parts of a table in a page of its own: Character fields (a
// nullable one by its text too) and computed texts.
bool unicode_part(const Table& table, const KeyPart& part) {
  if (part.numeric) return false;
  if (part.kind == 'E') return true;
  return (part.kind == 'C' || part.kind == 'X') && part.column < table.field_count() &&
         field_type(table, part.column) == 'C';
}

void put_part_text(const Table& table, const KeyLayout& layout, RecordImage record, const KeyPart& part,
                   uint8_t* out) {
  if (part.kind == 'C') put_stored_text(table, record, part.column, out, part.width);
  else if (part.kind == 'D' || part.kind == 'T') put_date(table, record, part, out);
  else if (part.kind == 'E') put_display_text(computed_text(expression_of(layout, part), table, record), part, out);
  else put_display_text(field_text(table, record, part.column), part, out);
}

// The part's text as the page orders it: upper-cased by the page's rules
// when the table ignores case, then made a key of code point order and
// padded with blanks to the part's width.
void put_unicode_text(const Table& table, const KeyLayout& layout, RecordImage record, const KeyPart& part,
                      uint8_t* out) {
  KeyPart text_part = part;
  text_part.width = part.text_width;
  std::string text(size_t(part.text_width), ' ');
  put_part_text(table, layout, record, text_part, reinterpret_cast<uint8_t*>(text.data()));
  if (layout.fold) layout.page->upper_case(text);
  layout.page->order_key(text);
  std::memset(out, ' ', size_t(part.width));
  std::memcpy(out, text.data(), std::min(text.size(), size_t(part.width)));
}

}  // namespace

KeyLayout key_layout(const Table& table, const std::vector<int>& columns) {
  KeyLayout layout;
  if (in_other_code_page(table)) layout.page = table.code_page;
  for (int column : columns) {
    KeyPart part = layout_part(table, column, layout.expressions);
    // UTF-8's bytes already order as its code points: only folding
    // needs its text.
    bool as_is = layout.page && layout.page->number() == 65001 && !table.ignore_case;
    if (layout.page && !as_is && unicode_part(table, part)) {
      part.unicode = true;
      part.text_width = part.width;
      part.width = int(layout.page->order_key_size(size_t(part.width)));
    }
    part.offset = layout.width;
    layout.width += part.width;
    layout.parts.push_back(part);
  }
  layout.fold = table.ignore_case;
  if (layout.fold) layout.upper = case_map(table);
  return layout;
}

void build_sort_key(const Table& table, const KeyLayout& layout, RecordImage record, uint8_t* out) {
  for (const KeyPart& part : layout.parts) {
    uint8_t* at = out + part.offset;
    if (part.unicode) put_unicode_text(table, layout, record, part, at);
    else put_part_text(table, layout, record, part, at);
  }
  if (layout.fold) {
    for (int k = 0; k < layout.width; ++k) out[k] = layout.upper[out[k]];
  }
  for (const KeyPart& part : layout.parts) {
    if (!part.descending) continue;
    for (int k = part.offset; k < part.offset + part.width; ++k) out[k] = uint8_t(~out[k]);
  }
}

namespace {

// ---------------------------------------------------------------- temporary file

// Sorted runs that did not fit the budget. The file is removed from its
// folder as soon as it is made, so it never outlives the sort, whatever
// becomes of it.
class RunFile {
 public:
  explicit RunFile(const std::string& dir) {
    std::string folder = dir;
    if (folder.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      folder = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = folder + "/kora-sort-XXXXXX";
    fd_ = mkstemp(pattern.data());
    if (fd_ >= 0) unlink(pattern.c_str());
  }
  ~RunFile() {
    if (fd_ >= 0) close(fd_);
  }
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }

  bool append(const uint8_t* data, size_t length) {
    while (length > 0) {
      ssize_t n = pwrite(fd_, data, length, off_t(size_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      length -= size_t(n);
      size_ += uint64_t(n);
    }
    return true;
  }

  bool read(uint64_t offset, uint8_t* data, size_t length) const {
    while (length > 0) {
      ssize_t n = pread(fd_, data, length, off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      length -= size_t(n);
      offset += uint64_t(n);
    }
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Entries appended to a run file through one buffer.
class RunWriter {
 public:
  RunWriter(RunFile& file, size_t capacity) : file_(file) { buffer_.reserve(capacity); }
  bool add(const uint8_t* entry, size_t length) {
    if (buffer_.size() + length > buffer_.capacity() && !flush()) return false;
    buffer_.insert(buffer_.end(), entry, entry + length);
    return true;
  }
  bool flush() {
    bool ok = file_.append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  RunFile& file_;
  std::vector<uint8_t> buffer_;
};

// ---------------------------------------------------------------- sorting

// An entry is a key followed by zero bytes and its position in 4 big-endian
// bytes, held as 64-bit words whose numeric order is the bytes' order: one
// comparison of words orders by key and then by position, which is the
// order the keys with a "%10d" position appended would give.
using Word = uint64_t;

Word load_word(const uint8_t* bytes) {
  Word w = 0;
  for (int k = 0; k < 8; ++k) w = w << 8 | bytes[k];
  return w;
}

bool entry_less(const Word* a, const Word* b, size_t words) {
  for (size_t k = 0; k < words; ++k) {
    if (a[k] != b[k]) return a[k] < b[k];
  }
  return false;
}

uint32_t entry_position(const Word* entry, size_t words) { return uint32_t(entry[words - 1]); }

// Entries of a fixed number of words, sorted where they lie.
template <size_t kWords>
struct FixedEntry {
  Word w[kWords];
  bool operator<(const FixedEntry& other) const { return entry_less(w, other.w, kWords); }
};

template <size_t kWords>
void sort_fixed(Word* entries, size_t count) {
  auto* first = reinterpret_cast<FixedEntry<kWords>*>(entries);
  std::sort(first, first + count);
}

// Longer keys are sorted through their indices and then put in order.
void sort_wide(std::vector<Word>& entries, size_t words) {
  size_t count = entries.size() / words;
  std::vector<uint32_t> index(count);
  for (size_t k = 0; k < count; ++k) index[k] = uint32_t(k);
  const Word* base = entries.data();
  std::sort(index.begin(), index.end(),
            [&](uint32_t a, uint32_t b) { return entry_less(base + a * words, base + b * words, words); });
  std::vector<Word> sorted(entries.size());
  for (size_t k = 0; k < count; ++k) std::copy_n(base + index[k] * words, words, sorted.data() + k * words);
  entries.swap(sorted);
}

void sort_entries(std::vector<Word>& entries, size_t words) {
  size_t count = entries.size() / words;
  switch (words) {
    case 1: return sort_fixed<1>(entries.data(), count);
    case 2: return sort_fixed<2>(entries.data(), count);
    case 3: return sort_fixed<3>(entries.data(), count);
    case 4: return sort_fixed<4>(entries.data(), count);
    case 5: return sort_fixed<5>(entries.data(), count);
    case 6: return sort_fixed<6>(entries.data(), count);
    case 7: return sort_fixed<7>(entries.data(), count);
    case 8: return sort_fixed<8>(entries.data(), count);
    default: return sort_wide(entries, words);
  }
}

// Where a sorted run lies in the run file, and how many entries it holds.
struct Run {
  uint64_t offset = 0;
  uint64_t count = 0;
};

// Entries moved by the merges of `runs` runs: the groups merged first and the
// final merge.
uint64_t merge_moves(std::vector<uint64_t> runs) {
  if (runs.size() < 2) return 0;
  uint64_t moves = 0;
  while (runs.size() > kMaxMergeFanIn) {
    uint64_t merged = 0;
    for (size_t k = 0; k < kMaxMergeFanIn; ++k) merged += runs[k];
    runs.erase(runs.begin(), runs.begin() + long(kMaxMergeFanIn));
    runs.push_back(merged);
    moves += merged;
  }
  for (uint64_t count : runs) moves += count;
  return moves;
}

class ViewSorter {
 public:
  ViewSorter(const Table& table, KeyLayout layout, const SortOptions& options, const ProgressCallback& progress,
             uint32_t count)
      : table_(table), layout_(std::move(layout)), options_(options), progress_(progress), count_(count) {
    words_ = (size_t(layout_.width) + 4 + 7) / 8;
    entry_bytes_ = words_ * sizeof(Word);
    // Per record: its entry, its place in the final order, and for long keys
    // the index and the copy they are sorted through.
    size_t per_record = entry_bytes_ + sizeof(uint32_t) + (words_ > 8 ? entry_bytes_ + sizeof(uint32_t) : 0);
    capacity_ = std::max<size_t>(1, options.memory_budget / per_record);
    capacity_ = std::min<size_t>(capacity_, std::max<uint32_t>(count, 1));
    std::vector<uint64_t> runs;
    for (uint64_t left = count; left > 0; left -= std::min<uint64_t>(left, capacity_)) {
      runs.push_back(std::min<uint64_t>(left, capacity_));
    }
    total_ = count + merge_moves(runs);
    entries_.reserve(capacity_ * words_);
    key_.assign(entry_bytes_, 0);
  }

  uint64_t total() const { return total_; }

  // Positions may come in any order, each once.
  Status add(uint32_t position, RecordImage record) {
    if (entries_.size() == capacity_ * words_) {
      Status status = spill_run();
      if (status != Status::kOk) return status;
    }
    build_sort_key(table_, layout_, record, key_.data());
    ++added_;
    uint8_t* tail = key_.data() + entry_bytes_ - 4;
    tail[0] = uint8_t(position >> 24);
    tail[1] = uint8_t(position >> 16);
    tail[2] = uint8_t(position >> 8);
    tail[3] = uint8_t(position);
    for (size_t k = 0; k < words_; ++k) entries_.push_back(load_word(key_.data() + k * 8));
    return Status::kOk;
  }

  Status finish(std::vector<uint32_t>& order) {
    // A position whose list entry names no record was not read: the order
    // would not cover the view.
    if (added_ != count_) return Status::kReadError;
    if (!file_) {
      sort_entries(entries_, words_);
      size_t count = entries_.size() / words_;
      order.resize(count);
      for (size_t k = 0; k < count; ++k) order[k] = entry_position(entries_.data() + k * words_, words_);
    } else {
      Status status = entries_.empty() ? Status::kOk : spill_run();
      if (status != Status::kOk) return status;
      std::vector<Word>().swap(entries_);
      status = merge_all(order);
      if (status != Status::kOk) return status;
    }
    if (options_.descending) std::reverse(order.begin(), order.end());
    return Status::kOk;
  }

  // Reports done of the total steps; false when the caller asks to stop.
  bool report(uint64_t done) const { return !progress_ || progress_(done, total_); }

 private:
  Status spill_run() {
    if (!file_) {
      file_ = std::make_unique<RunFile>(options_.temp_dir);
      if (!file_->ok()) return Status::kWriteError;
    }
    sort_entries(entries_, words_);
    Run run{file_->size(), entries_.size() / words_};
    if (!file_->append(reinterpret_cast<const uint8_t*>(entries_.data()), entries_.size() * sizeof(Word))) {
      return Status::kWriteError;
    }
    runs_.push_back(run);
    entries_.clear();
    return Status::kOk;
  }

  // Bytes of one read or write buffer when `buffers` of them are in use.
  size_t io_buffer_size(size_t buffers) const {
    size_t share = std::min(kMaxIoBuffer, options_.memory_budget / (buffers + 1));
    size_t entries = std::max<size_t>(1, share / entry_bytes_);
    return entries * entry_bytes_;
  }

  Status merge_all(std::vector<uint32_t>& order);
  Status merge(const std::vector<Run>& runs, const std::function<bool(const Word*)>& sink);

  const Table& table_;
  KeyLayout layout_;
  const SortOptions& options_;
  const ProgressCallback& progress_;
  uint32_t count_ = 0;
  size_t words_ = 1;
  size_t entry_bytes_ = 8;
  size_t capacity_ = 1;
  uint64_t total_ = 0;
  uint64_t merged_ = 0;
  uint32_t added_ = 0;
  std::vector<Word> entries_;
  std::vector<uint8_t> key_;
  std::unique_ptr<RunFile> file_;
  std::vector<Run> runs_;
};

// One run being merged: the entries of its buffer not yet taken, and those
// still in the file.
struct RunCursor {
  uint64_t offset = 0;
  uint64_t left = 0;
  std::vector<Word> buffer;
  size_t at = 0;   // words
  size_t end = 0;  // words
};

Status ViewSorter::merge(const std::vector<Run>& runs, const std::function<bool(const Word*)>& sink) {
  std::vector<RunCursor> cursors(runs.size());
  size_t buffer_entries = io_buffer_size(runs.size() + 1) / entry_bytes_;
  auto refill = [&](RunCursor& c) {
    size_t n = size_t(std::min<uint64_t>(c.left, buffer_entries));
    if (!file_->read(c.offset, reinterpret_cast<uint8_t*>(c.buffer.data()), n * entry_bytes_)) return false;
    c.offset += n * entry_bytes_;
    c.left -= n;
    c.at = 0;
    c.end = n * words_;
    return true;
  };
  auto greater = [&](size_t a, size_t b) {
    return entry_less(cursors[b].buffer.data() + cursors[b].at, cursors[a].buffer.data() + cursors[a].at, words_);
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(greater);
  for (size_t k = 0; k < runs.size(); ++k) {
    cursors[k].offset = runs[k].offset;
    cursors[k].left = runs[k].count;
    cursors[k].buffer.resize(buffer_entries * words_);
    if (!refill(cursors[k])) return Status::kReadError;
    if (cursors[k].end > 0) heap.push(k);
  }
  while (!heap.empty()) {
    size_t k = heap.top();
    heap.pop();
    RunCursor& c = cursors[k];
    if (!sink(c.buffer.data() + c.at)) return Status::kWriteError;
    if (++merged_ % kMergeStep == 0 && !report(count_ + merged_)) return Status::kAborted;
    c.at += words_;
    if (c.at == c.end && c.left > 0 && !refill(c)) return Status::kReadError;
    if (c.at < c.end) heap.push(k);
  }
  return Status::kOk;
}

Status ViewSorter::merge_all(std::vector<uint32_t>& order) {
  while (runs_.size() > kMaxMergeFanIn) {
    std::vector<Run> group(runs_.begin(), runs_.begin() + long(kMaxMergeFanIn));
    Run merged{file_->size(), 0};
    RunWriter writer(*file_, io_buffer_size(kMaxMergeFanIn + 1));
    Status status = merge(group, [&](const Word* entry) {
      return writer.add(reinterpret_cast<const uint8_t*>(entry), entry_bytes_);
    });
    if (status != Status::kOk) return status;
    if (!writer.flush()) return Status::kWriteError;
    for (const Run& run : group) merged.count += run.count;
    runs_.erase(runs_.begin(), runs_.begin() + long(kMaxMergeFanIn));
    runs_.push_back(merged);
  }
  std::vector<uint32_t> result;
  result.reserve(count_);
  Status status = merge(runs_, [&](const Word* entry) {
    result.push_back(entry_position(entry, words_));
    return true;
  });
  if (status != Status::kOk) return status;
  order = std::move(result);
  return Status::kOk;
}

}  // namespace

Status sort_view_positions(const Table& table, const std::vector<int>& columns, const SortOptions& options,
                           const ProgressCallback& progress, std::vector<uint32_t>& order) {
  ViewSorter* reporter = nullptr;
  RecordScanner scan(table, ScanOrder::kVisibleList,
                     [&reporter](uint64_t done, uint64_t) { return reporter->report(done); });
  KeyLayout layout = key_layout(table, columns);
  for (size_t i = 0; i < layout.parts.size() && i < options.part_descending.size(); ++i)
    layout.parts[i].descending = options.part_descending[i];
  ViewSorter sorter(table, std::move(layout), options, progress, scan.count());
  reporter = &sorter;
  ScannedRecord r;
  while (scan.next(r)) {
    Status status = sorter.add(r.position, RecordImage(r.image, table.record_size));
    if (status != Status::kOk) return status;
  }
  if (scan.status() != Status::kOk) return scan.status();
  std::vector<uint32_t> sorted;
  Status status = sorter.finish(sorted);
  if (status != Status::kOk) return status;
  if (!sorter.report(sorter.total())) return Status::kAborted;
  order = std::move(sorted);
  return Status::kOk;
}

Status sort_by_field_list(Table& table, std::string_view field_list, const SortOptions& options,
                          const ProgressCallback& progress) {
  std::vector<int> columns = parse_field_list(table, field_list);
  if (columns.empty()) return Status::kOk;
  std::vector<uint32_t> order;
  Status status = sort_view_positions(table, columns, options, progress, order);
  if (status != Status::kOk) return status;
  table.view.sort_order = std::move(order);
  table.view.sort_fields = std::move(columns);
  table.view.sort_descending = options.descending;
  return Status::kOk;
}

}  // namespace kora
