// Counting a column's values and its statistics. The walk hashes the stored
// bytes of each record's key into a table of fixed-width keys kept in one
// block of memory, so a million distinct values cost some tens of megabytes
// and no allocation per record.
#include "tools/column_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/vfp_fields.h"
#include "tools/filter.h"

namespace kora {

namespace {

// ---- the counter of fixed-width keys ------------------------------------------------

class KeyCounter {
 public:
  explicit KeyCounter(size_t width) : width_(std::max<size_t>(width, 1)) { slots_.assign(1024, 0); }

  size_t size() const { return counts_.size(); }
  const uint8_t* key(size_t k) const { return keys_.data() + k * width_; }
  uint64_t count(size_t k) const { return counts_[k]; }

  // One more of the key; false (nothing counted) when it is new and `limit`
  // keys are held already.
  bool add(const uint8_t* key, uint64_t h, size_t limit) {
    uint64_t* slot = find(key, h);
    if (*slot != 0) {
      ++counts_[index_of(*slot)];
      return true;
    }
    if (counts_.size() >= limit) return false;
    keys_.insert(keys_.end(), key, key + width_);
    counts_.push_back(1);
    *slot = make_slot(counts_.size() - 1, h);
    if (counts_.size() * 2 > slots_.size()) rehash(slots_.size() * 2);
    return true;
  }
  uint64_t hash_of(const uint8_t* key) const { return hash(key); }
  // Asks for the key's first slot to be read into the cache ahead of use.
  void prefetch(uint64_t h) const { __builtin_prefetch(&slots_[size_t(h) & (slots_.size() - 1)]); }
  // One more of a key already held; nothing for another.
  void add_known(const uint8_t* key, uint64_t h) {
    if (uint64_t slot = *find(key, h)) ++counts_[index_of(slot)];
  }
  // The frequent-items step: every count one less, the keys that reach 0
  // dropped. It removes as many occurrences as keys are held, so the steps
  // of a walk cost no more than the walk itself.
  void decrement_all() {
    size_t kept = 0;
    for (size_t k = 0; k < counts_.size(); ++k) {
      if (--counts_[k] == 0) continue;
      if (kept != k) std::memcpy(keys_.data() + kept * width_, key(k), width_);
      counts_[kept++] = counts_[k];
    }
    counts_.resize(kept);
    keys_.resize(kept * width_);
    rehash(slots_.size());
  }
  void zero_counts() { std::fill(counts_.begin(), counts_.end(), 0); }

 private:
  // A slot holds the key's index + 1 in its low half and the key's hash in
  // its high half, so that a probe passes other keys without reading them.
  static uint64_t make_slot(size_t index, uint64_t h) { return (h & 0xFFFFFFFF00000000ull) | uint64_t(index + 1); }
  static size_t index_of(uint64_t slot) { return size_t(slot & 0xFFFFFFFFu) - 1; }

  uint64_t hash(const uint8_t* key) const {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ width_;
    size_t i = 0;
    for (; i + 8 <= width_; i += 8) {
      uint64_t word;
      std::memcpy(&word, key + i, 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, key + i, width_ - i);
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
  }
  uint64_t* find(const uint8_t* key, uint64_t h) {
    size_t mask = slots_.size() - 1;
    uint64_t tag = h & 0xFFFFFFFF00000000ull;
    for (size_t at = size_t(h) & mask;; at = (at + 1) & mask) {
      uint64_t& slot = slots_[at];
      if (slot == 0) return &slot;
      if ((slot & 0xFFFFFFFF00000000ull) == tag && std::memcmp(this->key(index_of(slot)), key, width_) == 0) return &slot;
    }
  }
  // Keys go into the new slots sixteen at a time, their slots fetched
  // ahead: a table of a million keys is rebuilt at memory's pace, not one
  // cache miss after another.
  void rehash(size_t size) {
    slots_.assign(size, 0);
    constexpr size_t kAhead = 16;
    uint64_t hashes[kAhead];
    for (size_t first = 0; first < counts_.size(); first += kAhead) {
      size_t n = std::min(kAhead, counts_.size() - first);
      for (size_t k = 0; k < n; ++k) {
        hashes[k] = hash(key(first + k));
        prefetch(hashes[k]);
      }
      for (size_t k = 0; k < n; ++k) *find(key(first + k), hashes[k]) = make_slot(first + k, hashes[k]);
    }
  }

  size_t width_;
  std::vector<uint8_t> keys_;
  std::vector<uint64_t> counts_;
  std::vector<uint64_t> slots_;  // 0 empty; never more than half full
};

// ---- where a column's bytes lie --------------------------------------------------------

struct Place {
  int field = 0;
  size_t offset = 0;  // in the record; length 0 when outside it
  size_t length = 0;
};

std::vector<Place> places_of(const Table& table, const std::vector<int>& columns) {
  std::vector<Place> places;
  for (int i : columns) {
    Place p{i, 0, 0};
    const FieldDesc* desc = field_desc(table, i);
    size_t length = size_t(std::max(field_length(table, i), 0));
    if (desc && desc->offset + length <= table.record_size) p = {i, desc->offset, length};
    places.push_back(p);
  }
  return places;
}

constexpr size_t kNullBytes = 2;  // per column in a table with null flags

size_t key_width(const Table& table, const std::vector<Place>& places) {
  size_t width = 0;
  for (const Place& p : places) width += p.length + (table.null_flags_field >= 0 ? kNullBytes : 0);
  return width;
}

void make_key(const Table& table, const std::vector<Place>& places, RecordImage image, uint8_t* out) {
  for (const Place& p : places) {
    std::memcpy(out, image.data() + p.offset, p.length);
    out += p.length;
    if (table.null_flags_field < 0) continue;
    *out++ = is_null_field(table, image, p.field) ? 1 : 0;
    *out++ = is_variable_field(table, p.field) ? uint8_t(value_length(table, image, p.field)) : 0;
  }
}

// ---- the walk over the records in view ---------------------------------------------------

template <typename Visit>
Status walk_view(const Table& table, const RecordList* list, const ProgressCallback& progress, Visit visit) {
  if (!list) {
    // Every record in view, in file order: the order does not change a count.
    RecordScanner scan(table, ScanOrder::kVisibleList, progress);
    ScannedRecord r;
    while (scan.next(r)) visit(RecordImage(r.image, table.record_size));
    return scan.status();
  }
  const uint32_t count = visible_count(table);
  uint64_t total = 0, base = 0;
  for (const PositionRange& r : list->ranges) {
    if (r.first < count) total += uint64_t(std::min(r.last, count - 1) - r.first) + 1;
  }
  for (const PositionRange& range : list->ranges) {
    if (range.first >= count) break;
    ProgressCallback step;
    if (progress) step = [&](uint64_t done, uint64_t) { return progress(base + done, total); };
    RecordScanner scan(table, ScanOrder::kView, step);
    scan.set_range(range.first, std::min(range.last, count - 1) + 1);
    ScannedRecord r;
    while (scan.next(r)) visit(RecordImage(r.image, table.record_size));
    if (scan.status() != Status::kOk) return scan.status();
    base += scan.count();
  }
  return Status::kOk;
}

// ---- decimals ------------------------------------------------------------------------

constexpr uint32_t kLimbBase = 1'000'000'000;

struct DecimalParts {
  bool negative = false;
  std::string_view whole, fraction;  // digits; whole without leading zeros
};

std::string_view trim(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool all_digits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parse_decimal_parts(std::string_view text, DecimalParts& out) {
  text = trim(text);
  out = {};
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    out.negative = text[0] == '-';
    text.remove_prefix(1);
  }
  size_t point = text.find('.');
  out.whole = text.substr(0, point);
  out.fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  if ((out.whole.empty() && out.fraction.empty()) || !all_digits(out.whole) || !all_digits(out.fraction)) return false;
  while (!out.whole.empty() && out.whole[0] == '0') out.whole.remove_prefix(1);
  return true;
}

bool is_zero(const DecimalParts& d) {
  return d.whole.empty() && d.fraction.find_first_not_of('0') == std::string_view::npos;
}

// Magnitudes: -1, 0, 1.
int compare_magnitudes(const DecimalParts& a, const DecimalParts& b) {
  if (a.whole.size() != b.whole.size()) return a.whole.size() < b.whole.size() ? -1 : 1;
  if (int c = a.whole.compare(b.whole)) return c < 0 ? -1 : 1;
  size_t n = std::max(a.fraction.size(), b.fraction.size());
  for (size_t i = 0; i < n; ++i) {
    char x = i < a.fraction.size() ? a.fraction[i] : '0';
    char y = i < b.fraction.size() ? b.fraction[i] : '0';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// a += b * times, both magnitudes in base 10^9.
void add_scaled(std::vector<uint32_t>& a, const std::vector<uint32_t>& b, uint64_t times) {
  if (a.size() < b.size() + 3) a.resize(b.size() + 3, 0);
  uint64_t carry = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    // A limb times a record count stays below 2^63: no wider type needed.
    uint64_t sum = uint64_t(i < b.size() ? b[i] : 0) * times + a[i] + carry;
    a[i] = uint32_t(sum % kLimbBase);
    carry = uint64_t(sum / kLimbBase);
    if (i >= b.size() && carry == 0) break;
  }
  while (carry) {
    a.push_back(uint32_t(carry % kLimbBase));
    carry /= kLimbBase;
  }
}

void multiply_small(std::vector<uint32_t>& a, uint32_t factor) {
  uint64_t carry = 0;
  for (uint32_t& limb : a) {
    uint64_t product = uint64_t(limb) * factor + carry;
    limb = uint32_t(product % kLimbBase);
    carry = product / kLimbBase;
  }
  if (carry) a.push_back(uint32_t(carry));
}

bool is_less(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  size_t n = std::max(a.size(), b.size());
  for (size_t i = n; i-- > 0;) {
    uint32_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y;
  }
  return false;
}

// a - b where a >= b.
std::vector<uint32_t> subtract(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out(a);
  int64_t borrow = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    int64_t d = int64_t(out[i]) - (i < b.size() ? b[i] : 0) - borrow;
    borrow = d < 0;
    out[i] = uint32_t(d < 0 ? d + kLimbBase : d);
  }
  return out;
}

std::string digits_of(const std::vector<uint32_t>& limbs) {
  std::string out;
  for (uint32_t limb : limbs) {
    for (int k = 0; k < 9; ++k, limb /= 10) out.push_back(char('0' + limb % 10));
  }
  while (out.size() > 1 && out.back() == '0') out.pop_back();
  std::reverse(out.begin(), out.end());
  return out.empty() ? "0" : out;
}

}  // namespace

// ---- DecimalSum ------------------------------------------------------------------------

namespace {

std::vector<uint32_t> limbs_of(uint64_t n) {
  std::vector<uint32_t> out;
  for (; n; n /= kLimbBase) out.push_back(uint32_t(n % kLimbBase));
  return out;
}

constexpr size_t kSmallDigits = 18;  // every such mantissa fits an int64_t
constexpr long double kPowersOfTen[kSmallDigits + 1] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,
                                                        1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
                                                        1e14L, 1e15L, 1e16L, 1e17L, 1e18L};

}  // namespace

void DecimalSum::flush() {
  if (small_ == 0) return;
  uint64_t magnitude = small_ < 0 ? uint64_t(0) - uint64_t(small_) : uint64_t(small_);
  add_scaled(small_ < 0 ? negative_ : positive_, limbs_of(magnitude), 1);
  small_ = 0;
}

void DecimalSum::rescale(int scale) {
  if (scale > scale_) flush();
  for (; scale_ < scale; ++scale_) {
    multiply_small(positive_, 10);
    multiply_small(negative_, 10);
  }
}

bool DecimalSum::add(std::string_view text, uint64_t times, long double* value) {
  DecimalParts d;
  if (!parse_decimal_parts(text, d)) return false;
  rescale(int(d.fraction.size()));
  size_t pad = size_t(scale_) - d.fraction.size();
  if (d.whole.size() + d.fraction.size() + pad <= kSmallDigits && times <= uint64_t(INT64_MAX)) {
    int64_t mantissa = 0;
    for (char c : d.whole) mantissa = mantissa * 10 + (c - '0');
    for (char c : d.fraction) mantissa = mantissa * 10 + (c - '0');
    // Exact in a long double, and so is every power of ten it is divided by.
    if (value) *value = (d.negative ? -1.0L : 1.0L) * (long double)mantissa / kPowersOfTen[d.fraction.size()];
    for (size_t k = 0; k < pad; ++k) mantissa *= 10;
    int64_t product;
    if (!__builtin_mul_overflow(mantissa, int64_t(times), &product)) {
      if (d.negative) product = -product;
      if (!__builtin_add_overflow(small_, product, &small_)) return true;
      flush();
      small_ = product;
      return true;
    }
  }
  if (value) *value = parse_number(text);
  std::string digits(d.whole);
  digits += d.fraction;
  digits.append(pad, '0');
  std::vector<uint32_t> limbs;
  for (size_t end = digits.size(); end > 0;) {
    size_t start = end >= 9 ? end - 9 : 0;
    uint32_t limb = 0;
    for (size_t i = start; i < end; ++i) limb = limb * 10 + uint32_t(digits[i] - '0');
    limbs.push_back(limb);
    end = start;
  }
  add_scaled(d.negative ? negative_ : positive_, limbs, times);
  return true;
}

std::string DecimalSum::text() const {
  DecimalSum whole = *this;
  whole.flush();
  bool negative = is_less(whole.positive_, whole.negative_);
  std::string digits = digits_of(negative ? subtract(whole.negative_, whole.positive_)
                                          : subtract(whole.positive_, whole.negative_));
  if (digits.size() <= size_t(scale_)) digits.insert(0, size_t(scale_) + 1 - digits.size(), '0');
  if (scale_ > 0) digits.insert(digits.end() - scale_, '.');
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  std::string out;
  if (negative && !zero) out += '-';
  out += digits;
  return out;
}

int compare_decimals(std::string_view a, std::string_view b) {
  DecimalParts x, y;
  parse_decimal_parts(a, x);
  parse_decimal_parts(b, y);
  bool xn = x.negative && !is_zero(x), yn = y.negative && !is_zero(y);
  if (xn != yn) return xn ? -1 : 1;
  int c = compare_magnitudes(x, y);
  return xn ? -c : c;
}

// ---- kinds and texts --------------------------------------------------------------------

ValueKind value_kind(const Table& table, int column) {
  if (is_memo_field(table, column)) return ValueKind::kMemo;
  if (is_numeric_field(table, column)) return ValueKind::kNumber;
  switch (field_type(table, column)) {
    case 'D':
    case 'T':
    case '@': return ValueKind::kDate;
    case 'L': return ValueKind::kLogical;
    default: return ValueKind::kText;
  }
}

namespace {

// The key's bytes put back where they came from in a blank record (a
// record already of the table's size keeps its other bytes: callers put
// one key after another into the same record).
void place_key(const Table& table, const std::vector<Place>& places, std::string_view key, std::vector<uint8_t>& record) {
  if (record.size() != table.record_size) record.assign(table.record_size, ' ');
  size_t at = 0;
  for (const Place& p : places) {
    if (at + p.length > key.size()) break;
    std::memcpy(record.data() + p.offset, key.data() + at, p.length);
    at += p.length;
    if (table.null_flags_field < 0) continue;
    if (at + kNullBytes > key.size()) break;
    set_field_null(table, record.data(), record.size(), p.field, key[at] != 0);
    if (is_variable_field(table, p.field)) {
      set_value_length(table, record.data(), record.size(), p.field, uint8_t(key[at + 1]));
    }
    at += kNullBytes;
  }
}

}  // namespace

std::vector<uint8_t> value_record(const Table& table, const ValueCounts& counts, const std::string& key) {
  std::vector<uint8_t> record;
  place_key(table, places_of(table, counts.columns), key, record);
  return record;
}

std::string value_text(const Table& table, const ValueCounts& counts, const std::string& key, size_t k) {
  if (k >= counts.columns.size()) return {};
  std::vector<uint8_t> record = value_record(table, counts, key);
  return field_text(table, RecordImage(record.data(), record.size()), counts.columns[k]);
}

namespace {

// ---- statistics of one column, value by value ------------------------------------------

bool blank_bytes(std::string_view bytes) { return bytes.find_first_not_of(std::string_view(" \0", 2)) == bytes.npos; }

std::string_view trim_right(std::string_view text) {
  size_t end = text.find_last_not_of(std::string_view(" \0", 2));
  return end == text.npos ? std::string_view() : text.substr(0, end + 1);
}

// Folds distinct values with their counts into a column's statistics.
class StatsFolder {
 public:
  StatsFolder(Table& table, int column) : table_(table), column_(column) {
    stats_.kind = value_kind(table, column);
    place_ = places_of(table, {column}).front();
  }

  void fold(RecordImage record, uint64_t times) {
    stats_.records += times;
    if (is_null_field(table_, record, column_)) {
      stats_.blanks += times;
      return;
    }
    std::string_view bytes(reinterpret_cast<const char*>(record.data()) + place_.offset, place_.length);
    switch (stats_.kind) {
      case ValueKind::kText: return fold_text(record, bytes, times);
      case ValueKind::kNumber: return fold_number(record, bytes, times);
      case ValueKind::kDate: return fold_date(record, bytes, times);
      case ValueKind::kLogical: return fold_logical(bytes, times);
      case ValueKind::kMemo: return fold_memo(record, times);
    }
  }

  ColumnStats finish() {
    if (stats_.kind == ValueKind::kNumber) {
      stats_.sum = stats_.numbers ? sum_.text() : "";
      long double n = (long double)stats_.numbers;
      stats_.mean = n > 0 ? double(shift_ + shifted_ / n) : 0;
      long double squared = n > 1 ? (squares_ - shifted_ * shifted_ / n) / (n - 1) : 0;
      stats_.deviation = double(std::sqrt(std::max(squared, 0.0L)));
    }
    if (stats_.kind == ValueKind::kText) {
      stats_.first = first_;
      stats_.last = last_;
    }
    return stats_;
  }

 private:
  void fold_text(RecordImage record, std::string_view bytes, uint64_t times) {
    if (is_variable_field(table_, column_)) bytes = bytes.substr(0, size_t(value_length(table_, record, column_)));
    std::string_view value = trim_right(bytes);
    if (value.empty()) {
      stats_.blanks += times;
      return;
    }
    size_t length = table_.code_page ? table_.code_page->character_count(value) : value.size();
    bool first_value = stats_.records == stats_.blanks + times;
    stats_.shortest = first_value ? length : std::min(stats_.shortest, length);
    stats_.longest = std::max(stats_.longest, length);
    std::string order(value);
    if (table_.code_page) table_.code_page->order_key(order);
    if (first_value || order < first_order_) {
      first_order_ = order;
      first_ = field_text(table_, record, column_);
    }
    if (first_value || order > last_order_) {
      last_order_ = order;
      last_ = field_text(table_, record, column_);
    }
  }

  void fold_number(RecordImage record, std::string_view bytes, uint64_t times) {
    // The stored digits of N and F; the exact text of the binary kinds.
    std::string text;
    char type = field_type(table_, column_);
    if (type != 'N' && type != 'F') {
      text = field_text(table_, record, column_);
      bytes = text;
    }
    std::string_view value = trim(trim_right(bytes));
    if (value.empty()) {
      stats_.blanks += times;
      return;
    }
    long double x = 0;
    if (!sum_.add(value, times, &x)) {
      stats_.not_numbers += times;
      return;
    }
    // Rounding keeps the order, so only equal roundings need the digits.
    if (stats_.numbers == 0 || x < low_ || (x == low_ && compare_decimals(value, stats_.minimum) < 0)) {
      low_ = x;
      stats_.minimum = value;
    }
    if (stats_.numbers == 0 || x > high_ || (x == high_ && compare_decimals(value, stats_.maximum) > 0)) {
      high_ = x;
      stats_.maximum = value;
    }
    // Sums of the values shifted by the first one: no cancellation when
    // the values lie close together far from 0, and no division per value.
    if (stats_.numbers == 0) shift_ = x;
    stats_.numbers += times;
    long double d = x - shift_;
    shifted_ += d * (long double)times;
    squares_ += d * d * (long double)times;
  }

  void fold_date(RecordImage record, std::string_view bytes, uint64_t times) {
    if (blank_bytes(bytes)) {
      stats_.blanks += times;
      return;
    }
    DateParts d = field_date(table_, record, column_);
    if (!is_valid_date(d)) {
      stats_.impossible += times;
      return;
    }
    long double when = (long double)julian_day_number(d.year, d.month + 1, d.day) * 86400 + d.hour * 3600 +
                       d.minute * 60 + d.second;
    bool first_value = !dated_;
    dated_ = true;
    if (first_value || when < earliest_) {
      earliest_ = when;
      stats_.earliest = field_text(table_, record, column_);
    }
    if (first_value || when > latest_) {
      latest_ = when;
      stats_.latest = field_text(table_, record, column_);
    }
  }

  void fold_logical(std::string_view bytes, uint64_t times) {
    char c = bytes.empty() ? ' ' : bytes[0];
    if (std::strchr("TtYy", c) && c) {
      stats_.trues += times;
    } else if (std::strchr("FfNn", c) && c) {
      stats_.falses += times;
    } else {
      stats_.blanks += times;
    }
  }

  void fold_memo(RecordImage record, uint64_t times) {
    std::copy(record.begin(), record.end(), table_.record.begin());
    std::string text;
    if (memo_block_number(table_, column_) == 0) {
      stats_.empty += times;
      stats_.blanks += times;
    } else if (!read_memo(table_, column_, text)) {
      stats_.missing += times;
    } else if (text.empty()) {
      stats_.empty += times;
    } else {
      stats_.with_text += times;
    }
  }

  Table& table_;
  int column_;
  Place place_;
  ColumnStats stats_;
  DecimalSum sum_;
  long double shift_ = 0, shifted_ = 0, squares_ = 0, low_ = 0, high_ = 0;
  std::string first_, last_, first_order_, last_order_;
  long double earliest_ = 0, latest_ = 0;
  bool dated_ = false;
};

// The table's current record, put back however the counting ends (memos
// are read through it).
class KeepRecord {
 public:
  explicit KeepRecord(Table& table) : table_(table), kept_(table.record), flag_(table.delete_flag) {}
  ~KeepRecord() {
    table_.record = std::move(kept_);
    table_.delete_flag = flag_;
  }
  KeepRecord(const KeepRecord&) = delete;
  KeepRecord& operator=(const KeepRecord&) = delete;

 private:
  Table& table_;
  std::vector<uint8_t> kept_;
  uint8_t flag_;
};

void collect(const KeyCounter& counter, size_t width, ValueCounts& counts) {
  counts.values.clear();
  counts.values.reserve(counter.size());
  for (size_t k = 0; k < counter.size(); ++k) {
    if (counter.count(k) == 0) continue;
    counts.values.push_back(
        {std::string(reinterpret_cast<const char*>(counter.key(k)), width), counter.count(k), uint32_t(k)});
  }
}

// Keys are taken in batches whose slots are fetched into the cache
// together: with many distinct values a walk waits on memory, not on the
// hashing.
class KeyBatch {
 public:
  KeyBatch(const Table& table, const std::vector<Place>& places, KeyCounter& counter, size_t width)
      : table_(table), places_(places), counter_(counter), width_(width), keys_(kSize * width) {}

  // Takes the record's key; true when the batch is full.
  bool take(RecordImage image) {
    uint8_t* key = keys_.data() + held_ * width_;
    make_key(table_, places_, image, key);
    hashes_[held_] = counter_.hash_of(key);
    return ++held_ == kSize;
  }
  // Hands each key of the batch to `use` with its hash, and empties it.
  template <typename Use>
  void drain(Use use) {
    for (size_t k = 0; k < held_; ++k) counter_.prefetch(hashes_[k]);
    for (size_t k = 0; k < held_; ++k) use(keys_.data() + k * width_, hashes_[k]);
    held_ = 0;
  }

 private:
  static constexpr size_t kSize = 16;
  const Table& table_;
  const std::vector<Place>& places_;
  KeyCounter& counter_;
  size_t width_;
  std::vector<uint8_t> keys_;
  uint64_t hashes_[kSize] = {};
  size_t held_ = 0;
};

// The first walk: every key counted while fewer than `limit` are held;
// past that a new key takes one off every count instead. True in `cut`
// when that happened.
Status count_keys(const Table& table, const std::vector<Place>& places, const RecordList* list,
                  const ProgressCallback& progress, KeyCounter& counter, size_t width, size_t limit,
                  uint64_t& records, bool& cut) {
  KeyBatch batch(table, places, counter, width);
  auto add = [&](const uint8_t* key, uint64_t h) {
    if (counter.add(key, h, limit)) return;
    cut = true;
    counter.decrement_all();
  };
  Status status = walk_view(table, list, progress, [&](RecordImage image) {
    ++records;
    if (batch.take(image)) batch.drain(add);
  });
  batch.drain(add);
  return status;
}

// The second walk of a cut list: the keys kept counted exactly, and the
// statistics, which every value takes part in, made record by record.
Status recount_keys(const Table& table, const std::vector<Place>& places, const RecordList* list,
                    const ProgressCallback& progress, KeyCounter& counter, size_t width, StatsFolder& folder) {
  counter.zero_counts();
  KeyBatch batch(table, places, counter, width);
  auto add = [&](const uint8_t* key, uint64_t h) { counter.add_known(key, h); };
  Status status = walk_view(table, list, progress, [&](RecordImage image) {
    if (batch.take(image)) batch.drain(add);
    folder.fold(image, 1);
  });
  batch.drain(add);
  return status;
}

}  // namespace

Status count_values(Table& table, const std::vector<int>& columns, const RecordList* list,
                    const ProgressCallback& progress, ValueCounts& counts, size_t limit) {
  counts = ValueCounts();
  counts.columns = columns;
  if (columns.empty()) return Status::kOk;
  for (int i : columns) {
    if (i < 0 || i >= table.field_count()) return Status::kInvalidStructure;
  }
  limit = std::max<size_t>(limit, 1);
  KeepRecord keep(table);
  const std::vector<Place> places = places_of(table, columns);
  const size_t width = key_width(table, places);
  KeyCounter counter(width);
  bool cut = false;
  Status status = count_keys(table, places, list, progress, counter, width, limit, counts.records, cut);
  if (status != Status::kOk) return status;

  StatsFolder folder(table, columns.front());
  if (cut) {
    status = recount_keys(table, places, list, progress, counter, width, folder);
    if (status != Status::kOk) return status;
  }
  collect(counter, width, counts);
  if (!cut) {
    // Every value with its count stands for its records.
    std::vector<uint8_t> record;
    for (const ValueCount& v : counts.values) {
      place_key(table, places, v.key, record);
      folder.fold(RecordImage(record.data(), record.size()), v.count);
    }
  }
  counts.cut = cut;
  counts.stats = folder.finish();
  counts.stats.distinct = cut ? limit : counts.values.size();
  counts.stats.distinct_cut = cut;
  return Status::kOk;
}

// ---- the orders of the list --------------------------------------------------------------

namespace {

std::string_view stored_bytes(const Table& table, RecordImage record, int column) {
  const FieldDesc* desc = field_desc(table, column);
  size_t length = size_t(std::max(field_length(table, column), 0));
  if (!desc || desc->offset + length > record.size()) return {};
  return std::string_view(reinterpret_cast<const char*>(record.data()) + desc->offset, length);
}

// What one column's values sort by: blanks first, then numbers, dates or
// texts in the code page's order.
struct SortKey {
  bool blank = false;
  long double number = 0;
  std::string text;
};

SortKey sort_key(const Table& table, RecordImage record, int column, ValueKind kind) {
  SortKey out;
  if (is_null_field(table, record, column)) {
    out.blank = true;
    return out;
  }
  switch (kind) {
    case ValueKind::kNumber: {
      char type = field_type(table, column);
      out.blank = type == 'N' || type == 'F' ? blank_bytes(stored_bytes(table, record, column))
                                             : trim(field_text(table, record, column)).empty();
      out.number = field_number(table, record, column);
      return out;
    }
    case ValueKind::kDate: {
      DateParts d = field_date(table, record, column);
      out.blank = !is_valid_date(d);
      if (!out.blank) {
        out.number = (long double)julian_day_number(d.year, d.month + 1, d.day) * 86400 + d.hour * 3600 +
                     d.minute * 60 + d.second;
      }
      return out;
    }
    default: {
      out.text = std::string(trim_right(stored_bytes(table, record, column)));
      out.blank = out.text.empty();
      if (table.code_page) table.code_page->order_key(out.text);
      return out;
    }
  }
}

int compare_keys(const SortKey& a, const SortKey& b) {
  if (a.blank != b.blank) return a.blank ? -1 : 1;
  if (a.number != b.number) return a.number < b.number ? -1 : 1;
  int c = a.text.compare(b.text);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace

namespace {

// The values' indices in order of value. A single number or date column
// sorts compact keys; other columns compare their keys column by column.
std::vector<uint32_t> value_order(const Table& table, const ValueCounts& counts) {
  const size_t n = counts.values.size(), m = counts.columns.size();
  const std::vector<Place> places = places_of(table, counts.columns);
  std::vector<uint8_t> record;
  std::vector<uint32_t> order(n);
  ValueKind kind = m == 1 ? value_kind(table, counts.columns.front()) : ValueKind::kText;
  if (kind == ValueKind::kNumber || kind == ValueKind::kDate) {
    // Sorted by a double; the rare equal ones by the long double.
    struct Key {
      double approximate;
      uint32_t index;
      bool blank;
    };
    std::vector<Key> keys(n);
    std::vector<long double> exact(n);
    const Place& p = places.front();
    char type = field_type(table, p.field);
    bool stored_digits = (type == 'N' || type == 'F') && table.null_flags_field < 0;
    for (size_t v = 0; v < n; ++v) {
      SortKey key;
      if (stored_digits) {
        std::string_view digits(counts.values[v].key.data(), p.length);
        key.blank = blank_bytes(digits);
        key.number = parse_number(digits);
      } else {
        place_key(table, places, counts.values[v].key, record);
        key = sort_key(table, RecordImage(record.data(), record.size()), p.field, kind);
      }
      keys[v] = {double(key.number), uint32_t(v), key.blank};
      exact[v] = key.number;
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
      if (a.blank != b.blank) return a.blank;
      if (a.approximate != b.approximate) return a.approximate < b.approximate;
      if (exact[a.index] != exact[b.index]) return exact[a.index] < exact[b.index];
      return a.index < b.index;
    });
    for (size_t r = 0; r < n; ++r) order[r] = keys[r].index;
    return order;
  }
  std::vector<SortKey> keys(n * m);
  std::vector<ValueKind> kinds;
  for (int c : counts.columns) kinds.push_back(value_kind(table, c));
  for (size_t v = 0; v < n; ++v) {
    place_key(table, places, counts.values[v].key, record);
    for (size_t k = 0; k < m; ++k) {
      keys[v * m + k] = sort_key(table, RecordImage(record.data(), record.size()), counts.columns[k], kinds[k]);
    }
  }
  std::iota(order.begin(), order.end(), uint32_t(0));
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    for (size_t k = 0; k < m; ++k) {
      if (int c = compare_keys(keys[a * m + k], keys[b * m + k])) return c < 0;
    }
    return counts.values[a].key < counts.values[b].key;
  });
  return order;
}

}  // namespace

void sort_values(const Table& table, ValueCounts& counts, FrequencyOrder order) {
  const size_t n = counts.values.size();
  std::vector<uint32_t> sorted_order;
  if (order == FrequencyOrder::kByValue) {
    sorted_order = value_order(table, counts);
  } else {
    // Most frequent first; equal counts in the order the walk met the
    // values (first in the file first). Sorted as compact pairs: a list of
    // a million values is put in order in a fraction of its counting walk.
    struct Ranked {
      uint64_t count;
      uint32_t seen;
      uint32_t position;
    };
    std::vector<Ranked> ranked(n);
    for (size_t k = 0; k < n; ++k) ranked[k] = {counts.values[k].count, counts.values[k].seen, uint32_t(k)};
    std::sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
      return a.count != b.count ? a.count > b.count : a.seen < b.seen;
    });
    sorted_order.resize(n);
    for (size_t k = 0; k < n; ++k) sorted_order[k] = ranked[k].position;
  }
  std::vector<ValueCount> sorted;
  sorted.reserve(n);
  for (uint32_t k : sorted_order) sorted.push_back(std::move(counts.values[k]));
  counts.values = std::move(sorted);
}

}  // namespace kora
