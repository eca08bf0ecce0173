#include "tools/sort.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <queue>

#include "table/code_page.h"
#include "table/column_model.h"
#include "table/record_ops.h"
#include "tools/condition.h"

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

KeyPart layout_part(const Table& table, int column) {
  KeyPart part;
  part.column = column;
  if (column >= table.field_count()) {
    const ComputedColumn* computed = computed_column(table.columns, column);
    part.kind = 'X';
    part.width = computed ? std::max(0, computed->width) : 0;
    part.numeric = computed && is_numeric_expression(table, computed->expression);
    return part;
  }
  char type = field_type(table, column);
  part.numeric = is_numeric_field(table, column);
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

// The stored text of a field as the screen shows it: up to a NUL, leading
// blanks dropped when the table trims them, padded with blanks to `width`.
void put_stored_text(const Table& table, RecordImage record, int i, uint8_t* out, int width) {
  std::memset(out, ' ', size_t(width));
  const FieldDesc& desc = table.fields[size_t(i)];
  long offset = desc.offset;
  long length = field_length(table, i);
  if (offset < 1 || offset + length > table.record_size || size_t(offset + length) > record.size()) return;
  const uint8_t* text = record.data() + offset;
  const void* nul = std::memchr(text, 0, size_t(length));
  size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - text) : size_t(length);
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

// Display text of any column: numbers right-aligned in the part, other texts
// left-aligned and padded with blanks; a text too long is cut.
void put_display_text(const Table& table, RecordImage record, const KeyPart& part, uint8_t* out) {
  std::string text = field_text(table, record, part.column);
  size_t width = size_t(part.width);
  std::memset(out, ' ', width);
  size_t n = std::min(text.size(), width);
  size_t at = part.numeric ? width - n : 0;
  std::memcpy(out + at, text.data(), n);
  for (size_t k = 0; k < width; ++k) {
    if (out[k] == 0) out[k] = ' ';
  }
  if (part.numeric) rewrite_negative(out, part.width);
}

std::array<uint8_t, 256> case_map(const Table& table) {
  std::string bytes(256, '\0');
  for (int b = 0; b < 256; ++b) bytes[size_t(b)] = char(b);
  fold_case(table, bytes);
  std::array<uint8_t, 256> map{};
  for (int b = 0; b < 256; ++b) map[size_t(b)] = uint8_t(bytes[size_t(b)]);
  return map;
}

}  // namespace

KeyLayout key_layout(const Table& table, const std::vector<int>& columns) {
  KeyLayout layout;
  for (int column : columns) {
    KeyPart part = layout_part(table, column);
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
    if (part.kind == 'C') put_stored_text(table, record, part.column, at, part.width);
    else if (part.kind == 'D' || part.kind == 'T') put_date(table, record, part, at);
    else put_display_text(table, record, part, at);
  }
  if (layout.fold) {
    for (int k = 0; k < layout.width; ++k) out[k] = layout.upper[out[k]];
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

void put_be32(uint8_t* out, uint32_t value) {
  out[0] = uint8_t(value >> 24);
  out[1] = uint8_t(value >> 16);
  out[2] = uint8_t(value >> 8);
  out[3] = uint8_t(value);
}

uint32_t get_be32(const uint8_t* in) {
  return uint32_t(in[0]) << 24 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 8 | uint32_t(in[3]);
}

// ---------------------------------------------------------------- sorting

// One key in memory: its first eight bytes as a number, which settles most
// comparisons, and its index in the run, which is also its position's order.
struct SortItem {
  uint64_t prefix;
  uint32_t index;
};

// Where a sorted run lies in the run file: entries of the key followed by the
// position in 4 big-endian bytes, so that one byte comparison orders both.
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
  ViewSorter(const Table& table, KeyLayout layout, const SortOptions& options, const SortProgress& progress,
             uint32_t count)
      : table_(table), layout_(std::move(layout)), options_(options), progress_(progress), count_(count) {
    width_ = size_t(layout_.width);
    entry_ = width_ + 4;
    // Per record: the key, its sort item and its place in the final order.
    size_t per_record = width_ + sizeof(SortItem) + sizeof(uint32_t);
    capacity_ = std::max<size_t>(1, options.memory_budget / per_record);
    capacity_ = std::min<size_t>(capacity_, std::max<uint32_t>(count, 1));
    std::vector<uint64_t> runs;
    for (uint64_t left = count; left > 0; left -= std::min<uint64_t>(left, capacity_)) {
      runs.push_back(std::min<uint64_t>(left, capacity_));
    }
    total_ = count + merge_moves(runs);
    keys_.reserve(capacity_ * width_);
    items_.reserve(capacity_);
    key_.resize(width_ + 8);
  }

  uint64_t total() const { return total_; }

  // Records must come in position order, 0 first.
  SortStatus add(RecordImage record) {
    if (items_.size() == capacity_) {
      SortStatus status = spill_run();
      if (status != SortStatus::kOk) return status;
    }
    build_sort_key(table_, layout_, record, key_.data());
    uint64_t prefix = 0;  // bytes past a short key stay 0
    for (int k = 0; k < 8; ++k) prefix = prefix << 8 | key_[size_t(k)];
    items_.push_back({prefix, uint32_t(items_.size())});
    keys_.insert(keys_.end(), key_.begin(), key_.begin() + long(width_));
    return SortStatus::kOk;
  }

  SortStatus finish(std::vector<uint32_t>& order) {
    if (!file_) {
      sort_run();
      order.resize(items_.size());
      for (size_t k = 0; k < items_.size(); ++k) order[k] = run_start_ + items_[k].index;
    } else {
      SortStatus status = items_.empty() ? SortStatus::kOk : spill_run();
      if (status != SortStatus::kOk) return status;
      std::vector<uint8_t>().swap(keys_);
      std::vector<SortItem>().swap(items_);
      status = merge_all(order);
      if (status != SortStatus::kOk) return status;
    }
    if (options_.descending) std::reverse(order.begin(), order.end());
    return SortStatus::kOk;
  }

  // Whether the caller should stop: reports done of the total steps.
  bool report(uint64_t done) const { return progress_ && progress_(done, total_); }

 private:
  void sort_run() {
    const uint8_t* keys = keys_.data();
    size_t width = width_;
    std::sort(items_.begin(), items_.end(), [keys, width](const SortItem& a, const SortItem& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      if (width > 8) {
        int c = std::memcmp(keys + a.index * width + 8, keys + b.index * width + 8, width - 8);
        if (c != 0) return c < 0;
      }
      return a.index < b.index;
    });
  }

  SortStatus spill_run() {
    if (!file_) {
      file_ = std::make_unique<RunFile>(options_.temp_dir);
      if (!file_->ok()) return SortStatus::kIoError;
    }
    sort_run();
    Run run{file_->size(), items_.size()};
    RunWriter writer(*file_, io_buffer_size(1));
    std::vector<uint8_t> entry(entry_);
    for (const SortItem& item : items_) {
      std::memcpy(entry.data(), keys_.data() + size_t(item.index) * width_, width_);
      put_be32(entry.data() + width_, run_start_ + item.index);
      if (!writer.add(entry.data(), entry_)) return SortStatus::kIoError;
    }
    if (!writer.flush()) return SortStatus::kIoError;
    runs_.push_back(run);
    run_start_ += uint32_t(items_.size());
    keys_.clear();
    items_.clear();
    return SortStatus::kOk;
  }

  // Bytes of one read or write buffer when `buffers` of them are in use.
  size_t io_buffer_size(size_t buffers) const {
    size_t share = std::min(kMaxIoBuffer, options_.memory_budget / (buffers + 1));
    size_t entries = std::max<size_t>(16, share / entry_);
    return entries * entry_;
  }

  SortStatus merge_all(std::vector<uint32_t>& order);
  SortStatus merge(const std::vector<Run>& runs, const std::function<bool(const uint8_t*)>& sink);

  const Table& table_;
  KeyLayout layout_;
  const SortOptions& options_;
  const SortProgress& progress_;
  uint32_t count_ = 0;
  size_t width_ = 0;
  size_t entry_ = 0;
  size_t capacity_ = 1;
  uint64_t total_ = 0;
  uint64_t merged_ = 0;
  std::vector<uint8_t> keys_;
  std::vector<SortItem> items_;
  std::vector<uint8_t> key_;
  uint32_t run_start_ = 0;
  std::unique_ptr<RunFile> file_;
  std::vector<Run> runs_;
};

// One run being merged: the entries of its buffer not yet taken, and those
// still in the file.
struct RunCursor {
  uint64_t offset = 0;
  uint64_t left = 0;
  std::vector<uint8_t> buffer;
  size_t at = 0;
  size_t end = 0;
};

SortStatus ViewSorter::merge(const std::vector<Run>& runs, const std::function<bool(const uint8_t*)>& sink) {
  std::vector<RunCursor> cursors(runs.size());
  size_t buffer_size = io_buffer_size(runs.size() + 1);
  auto refill = [&](RunCursor& c) {
    size_t n = size_t(std::min<uint64_t>(c.left, buffer_size / entry_)) * entry_;
    if (!file_->read(c.offset, c.buffer.data(), n)) return false;
    c.offset += n;
    c.left -= n / entry_;
    c.at = 0;
    c.end = n;
    return true;
  };
  auto greater = [&](size_t a, size_t b) {
    const RunCursor& x = cursors[a];
    const RunCursor& y = cursors[b];
    return std::memcmp(x.buffer.data() + x.at, y.buffer.data() + y.at, entry_) > 0;
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(greater);
  for (size_t k = 0; k < runs.size(); ++k) {
    cursors[k].offset = runs[k].offset;
    cursors[k].left = runs[k].count;
    cursors[k].buffer.resize(buffer_size);
    if (!refill(cursors[k])) return SortStatus::kIoError;
    if (cursors[k].end > 0) heap.push(k);
  }
  while (!heap.empty()) {
    size_t k = heap.top();
    heap.pop();
    RunCursor& c = cursors[k];
    if (!sink(c.buffer.data() + c.at)) return SortStatus::kIoError;
    if (++merged_ % kMergeStep == 0 && report(count_ + merged_)) return SortStatus::kAborted;
    c.at += entry_;
    if (c.at == c.end && c.left > 0 && !refill(c)) return SortStatus::kIoError;
    if (c.at < c.end) heap.push(k);
  }
  return SortStatus::kOk;
}

SortStatus ViewSorter::merge_all(std::vector<uint32_t>& order) {
  while (runs_.size() > kMaxMergeFanIn) {
    std::vector<Run> group(runs_.begin(), runs_.begin() + long(kMaxMergeFanIn));
    Run merged{file_->size(), 0};
    RunWriter writer(*file_, io_buffer_size(kMaxMergeFanIn + 1));
    SortStatus status = merge(group, [&](const uint8_t* entry) { return writer.add(entry, entry_); });
    if (status != SortStatus::kOk) return status;
    if (!writer.flush()) return SortStatus::kIoError;
    for (const Run& run : group) merged.count += run.count;
    runs_.erase(runs_.begin(), runs_.begin() + long(kMaxMergeFanIn));
    runs_.push_back(merged);
  }
  std::vector<uint32_t> result;
  result.reserve(count_);
  SortStatus status = merge(runs_, [&](const uint8_t* entry) {
    result.push_back(get_be32(entry + width_));
    return true;
  });
  if (status != SortStatus::kOk) return status;
  order = std::move(result);
  return SortStatus::kOk;
}

// ---------------------------------------------------------------- record walk

constexpr size_t kScanChunkBytes = size_t(256) << 10;

// Reads the records of view positions 0 .. n-1 (neither reversed nor sorted)
// in chunks of consecutive physical records, handing each to `visit` and
// asking `step` after every chunk whether to stop.
SortStatus scan_view(Table& table, uint32_t n, const std::function<SortStatus(RecordImage)>& visit,
                     const std::function<bool(uint64_t done)>& step) {
  const std::optional<std::vector<uint32_t>>& list = table.view.visible_list;
  size_t size = table.record_size;
  if (size == 0 || table.fd < 0) return n == 0 ? SortStatus::kOk : SortStatus::kIoError;
  size_t per_chunk = std::max<size_t>(1, kScanChunkBytes / size);
  std::vector<uint8_t> chunk(per_chunk * size);
  for (uint32_t p = 0; p < n;) {
    uint32_t first = list ? (*list)[p] : p;
    uint32_t run = 1;
    while (p + run < n && run < per_chunk && (list ? (*list)[p + run] : p + run) == first + run) ++run;
    if (first >= table.record_count || run > table.record_count - first) return SortStatus::kIoError;
    off_t offset = off_t(table.header_size) + off_t(first) * off_t(size);
    size_t bytes = size_t(run) * size;
    if (pread(table.fd, chunk.data(), bytes, offset) != ssize_t(bytes)) return SortStatus::kIoError;
    for (uint32_t k = 0; k < run; ++k) {
      RecordImage record(chunk.data() + size_t(k) * size, size);
      if (table.encoding.after_read) {
        std::copy(record.begin(), record.end(), table.record.begin());
        table.encoding.after_read(table, 1, int(size));
        record = RecordImage(table.record.data(), size);
      }
      SortStatus status = visit(record);
      if (status != SortStatus::kOk) return status;
    }
    p += run;
    if (step(p)) return SortStatus::kAborted;
  }
  return SortStatus::kOk;
}

}  // namespace

SortStatus sort_view_positions(Table& table, const std::vector<int>& columns, const SortOptions& options,
                               const SortProgress& progress, std::vector<uint32_t>& order) {
  if (columns.empty()) return SortStatus::kNoFields;
  uint32_t n = visible_count(table);
  ViewSorter sorter(table, key_layout(table, columns), options, progress, n);
  SortStatus status = scan_view(
      table, n, [&](RecordImage record) { return sorter.add(record); },
      [&](uint64_t done) { return sorter.report(done); });
  if (status != SortStatus::kOk) return status;
  std::vector<uint32_t> sorted;
  status = sorter.finish(sorted);
  if (status != SortStatus::kOk) return status;
  if (sorter.report(sorter.total())) return SortStatus::kAborted;
  order = std::move(sorted);
  return SortStatus::kOk;
}

SortStatus sort_by_field_list(Table& table, std::string_view field_list, const SortOptions& options,
                              const SortProgress& progress) {
  std::vector<int> columns = parse_field_list(table, field_list);
  std::vector<uint32_t> order;
  SortStatus status = sort_view_positions(table, columns, options, progress, order);
  if (status != SortStatus::kOk) return status;
  table.view.sort_order = std::move(order);
  table.view.sort_fields = std::move(columns);
  table.view.sort_descending = options.descending;
  return SortStatus::kOk;
}

}  // namespace kora
