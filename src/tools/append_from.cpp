#include "tools/append_from.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "table/batch_appender.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/code_page.h"
#include "table/record_scanner.h"
#include "table/text_recode.h"
#include "table/value_codec.h"

namespace kora {

namespace {

// A text source reports its progress after about this many bytes.
constexpr uint64_t kTextReportBytes = 512 * 1024;
// Width an SDF line gives a computed column.
constexpr int kComputedColumnWidth = 20;

bool is_blank(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

// Whether field i of the table stores the value as a memo text: memo fields
// and the dBase IV binary memo, whose bytes are a block number (a number
// written over them would point into the memo file at random). General
// and blob fields take only what another memo field held.
bool takes_memo_text(const Table& table, int i, bool from_memo) {
  switch (field_type(table, i)) {
    case 'M': return true;
    case 'B': return is_memo_field(table, i);
    case 'G':
    case 'W': return from_memo;
    default: return false;
  }
}

// One run of appended records, each built in the table's record buffer
// from a blank image and handed to the batch appender. The buffer (the
// screen's current record) is given back when the run ends.
class AppendRun {
 public:
  explicit AppendRun(Table& table)
      : table_(table), saved_(table.record), start_(table.record_count), out_(table) {
    blank_record(table_);
    blank_.assign(table_.record.begin(), table_.record.begin() + table_.record_size);
  }
  ~AppendRun() { table_.record = saved_; }
  AppendRun(const AppendRun&) = delete;
  AppendRun& operator=(const AppendRun&) = delete;

  bool ok() const { return out_.status() == Status::kOk; }
  void begin_record() { std::copy(blank_.begin(), blank_.end(), table_.record.begin()); }
  void put(int i, std::string_view text, bool from_memo);
  // Field i's bytes as the source holds them, for a field stored alike.
  void put_bytes(int i, const uint8_t* bytes) {
    std::memcpy(table_.record.data() + field_desc(table_, i)->offset, bytes, size_t(field_length(table_, i)));
  }
  bool commit() { return out_.append(table_.record.data()) == Status::kOk; }
  // Field i of the record being built is left blank: its text holds a
  // character the table's page cannot.
  void not_held(int i, const std::string& why);
  // Writes what is gathered; the run's result, `walk` when reading the
  // source failed or was stopped.
  AppendResult finish(Status walk);

 private:
  void did_not_fit(int i);

  Table& table_;
  std::vector<uint8_t> saved_;
  std::vector<uint8_t> blank_;
  uint32_t start_;
  BatchAppender out_;
  AppendResult result_;
};

// A blank value leaves the field empty: a blank number or date of the
// source stays blank rather than becoming 0 or an error.
void AppendRun::put(int i, std::string_view text, bool from_memo) {
  if (is_blank(text)) return;
  char type = field_type(table_, i);
  if (type == '0') return;  // the null flags describe the table's own fields
  if (takes_memo_text(table_, i, from_memo)) {
    if (memo_layout(table_.version()) == MemoLayout::kNone) return did_not_fit(i);
    out_.write_memo(table_.record.data(), i, text);  // a failure ends the run at commit
    return;
  }
  if (holds_reference(table_, i)) return did_not_fit(i);
  // The field is blank in the fresh image; a value it cannot take leaves it so.
  if (set_field_text(table_, i, text) != FieldWrite::kStored) did_not_fit(i);
}

void AppendRun::did_not_fit(int i) {
  if (result_.did_not_fit++ > 0) return;
  result_.first_field = i;
  result_.first_record = start_ + out_.appended();
}

void AppendRun::not_held(int i, const std::string& why) {
  if (result_.not_held++ > 0) return;
  result_.first_not_held =
      "Record " + std::to_string(uint64_t(start_) + out_.appended() + 1) + ", field " + field_name_utf8(table_, i) + ": " + why;
}

AppendResult AppendRun::finish(Status walk) {
  Status written = out_.finish();
  result_.appended = table_.record_count - start_;
  result_.status = written != Status::kOk ? written : walk;
  return result_;
}

AppendResult failure(Status status) {
  AppendResult result;
  result.status = status;
  return result;
}

// ---- DBF sources --------------------------------------------------------------------------

bool same_file(const Table& table, const std::string& path) {
  struct stat open_one, named;
  return fstat(table.fd, &open_one) == 0 && stat(path.c_str(), &named) == 0 && open_one.st_dev == named.st_dev &&
         open_one.st_ino == named.st_ino;
}

struct FieldPair {
  int target;
  int source;
  bool alike;  // stored alike in both tables: copied byte for byte
};

// Same type, length and decimals: the bytes hold the value the text form
// would carry over, at a fraction of the cost. Memo pointers never qualify.
bool stored_alike(const Table& table, int i, const Table& source, int j) {
  if (holds_reference(table, i) || holds_reference(source, j)) return false;
  char type = field_type(table, i);
  int length = field_length(table, i);
  if (type != field_type(source, j) || length != field_length(source, j)) return false;
  if ((type == 'N' || type == 'F') && field_decimals(table, i) != field_decimals(source, j)) return false;
  return field_desc(table, i)->offset + length <= table.record_size &&
         field_desc(source, j)->offset + length <= source.record_size;
}

// The text of a source in another page goes across exactly; between 866
// and 1251 the bytes are taken as they stand, as they always were.
TextRecoder text_recoder(const Table& table, const Table& source) {
  std::shared_ptr<const CodePage> from = table_text_page(source), to = table_text_page(table);
  auto cyrillic = [](const CodePage& page) { return page.number() == 866 || page.number() == 1251; };
  if (!from || !to || (cyrillic(*from) && cyrillic(*to))) return {};
  return {from, to};
}

std::vector<FieldPair> match_fields(const Table& table, const Table& source) {
  std::vector<FieldPair> pairs;
  for (int i = 0; i < table.field_count(); ++i) {
    int j = find_field(source, field_name(table, i));
    if (j >= 0) pairs.push_back({i, j, stored_alike(table, i, source, j)});
  }
  return pairs;
}

// Field j of the source record: memo fields give their text; into a
// Character field a value goes as it is shown, into any other in its exact
// form (every digit of a number, a date's stored digits), whatever either
// table's date format. The record is in source.record when memo texts are read.
void source_value(Table& source, RecordImage image, int j, bool as_shown, std::string& text, bool& memo) {
  memo = is_memo_field(source, j);
  if (memo) {
    read_memo(source, j, text, true);
  } else if (as_shown && field_type(source, j) != 'C') {
    field_text(source, image, j, text);
    text.erase(0, std::min(text.size(), text.find_first_not_of(' ')));
  } else {
    text = field_value_text(source, image, j);
  }
}

// ---- text sources -------------------------------------------------------------------------

// The lines of a text file, each as long as it is; the line end (LF, or CR
// LF) is cut off.
class LineReader {
 public:
  explicit LineReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
    if (!file_) {
      open_error_ = errno;
      return;
    }
    struct stat st;
    if (fstat(fileno(file_), &st) == 0) size_ = uint64_t(st.st_size);
  }
  ~LineReader() {
    std::free(buffer_);
    if (file_) std::fclose(file_);
  }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool is_open() const { return file_ != nullptr; }
  int open_error() const { return open_error_; }
  uint64_t size() const { return size_; }
  uint64_t consumed() const { return consumed_; }
  Status status() const { return file_ && std::ferror(file_) ? Status::kReadError : Status::kOk; }

  bool next(std::string_view& line) {
    ssize_t got = getline(&buffer_, &capacity_, file_);
    if (got < 0) return false;
    consumed_ += uint64_t(got);
    size_t length = size_t(got);
    if (length > 0 && buffer_[length - 1] == '\n') --length;
    if (length > 0 && buffer_[length - 1] == '\r') --length;
    line = std::string_view(buffer_, length);
    return true;
  }

 private:
  std::FILE* file_;
  int open_error_ = 0;
  char* buffer_ = nullptr;  // getline's, grown to the longest line
  size_t capacity_ = 0;
  uint64_t size_ = 0;
  uint64_t consumed_ = 0;
};

struct TextColumn {
  int field;  // a field, or a computed column at or above the field count
  int width;  // its share of an SDF line
};

std::vector<TextColumn> text_columns(const Table& table) {
  std::vector<TextColumn> columns;
  for (int c = 0; c < column_count(table); ++c) {
    int i = column_field(table, c);
    if (i < 0) continue;
    columns.push_back({i, i < table.field_count() ? display_width(table, i) : kComputedColumnWidth});
  }
  return columns;
}

void put_text(AppendRun& run, const Table& table, int i, std::string_view value) {
  if (i < table.field_count() && !value.empty()) run.put(i, value, false);
}

void put_sdf(AppendRun& run, const Table& table, const std::vector<TextColumn>& columns, std::string_view line) {
  size_t offset = 0;
  for (const TextColumn& column : columns) {
    if (offset >= line.size()) break;
    put_text(run, table, column.field, line.substr(offset, size_t(column.width)));
    offset += size_t(column.width);
  }
}

void put_delimited(AppendRun& run, const Table& table, const std::vector<TextColumn>& columns, std::string_view line,
                   const TextSourceOptions& options) {
  size_t at = 0;
  for (const TextColumn& column : columns) {
    if (at >= line.size()) break;
    size_t end = options.delimiters.empty() ? std::string_view::npos : line.find_first_of(options.delimiters, at);
    if (end == std::string_view::npos) end = line.size();
    std::string_view value = line.substr(at, end - at);
    if (options.no_blank) value.remove_prefix(std::min(value.size(), value.find_first_not_of(" \t")));
    put_text(run, table, column.field, value);
    at = end + 1;
  }
}

}  // namespace

bool names_dbf_source(std::string_view file_name) {
  return file_name.size() > 4 && strncasecmp(file_name.data() + file_name.size() - 4, ".dbf", 4) == 0;
}

AppendResult append_from_dbf(Table& table, const std::string& file_name, const ProgressCallback& progress) {
  if (table.read_only) return failure(Status::kReadOnly);
  Status why = Status::kCannotOpen;
  std::unique_ptr<Table> source = open_table(file_name, &why);
  if (!source) return failure(why == Status::kOk ? Status::kCannotOpen : why);
  // The table itself as the source: its records as they were before the run.
  uint32_t count = source->record_count;
  if (same_file(table, file_name)) count = std::min(count, table.record_count);
  source->date_format = table.date_format;
  source->date_formats = table.date_formats;
  source->date_time_formats = table.date_time_formats;
  choose_code_page(*source, 0);
  decide_code_page(*source, 0);
  const TextRecoder recode = text_recoder(table, *source);

  const std::vector<FieldPair> pairs = match_fields(table, *source);
  // Matched by name: a source sharing none would add blank records only.
  if (pairs.empty()) {
    close_table(source);
    return failure(Status::kNoCommonField);
  }
  std::vector<std::string> blank;
  for (int i = 0; i < table.field_count(); ++i) {
    bool paired = std::any_of(pairs.begin(), pairs.end(), [&](const FieldPair& p) { return p.target == i; });
    if (!paired && field_type(table, i) != '0') blank.push_back(field_name(table, i));
  }
  const bool has_memos = source->first_memo_field >= 0;
  AppendRun run(table);
  RecordScanner scan(*source, ScanOrder::kPhysical, progress);
  scan.set_range(0, count);
  ScannedRecord r;
  std::string text;
  while (run.ok() && scan.next(r)) {
    run.begin_record();
    RecordImage image(r.image, source->record_size);
    if (has_memos) std::copy(image.begin(), image.end(), source->record.begin());
    for (const FieldPair& pair : pairs) {
      const char type = field_type(*source, pair.source);
      const bool text_value = recode.active() && (type == 'C' || type == 'M');
      if (pair.alike && !text_value) {
        run.put_bytes(pair.target, r.image + field_desc(*source, pair.source)->offset);
        continue;
      }
      bool memo = false;
      bool as_shown = field_type(table, pair.target) == 'C' || is_memo_field(table, pair.target);
      source_value(*source, image, pair.source, as_shown, text, memo);
      char32_t bad = 0;
      if (text_value && !recode.convert(text, &bad)) {
        run.not_held(pair.target, cannot_hold_text(recode.to(), bad));
        continue;
      }
      run.put(pair.target, text, memo);
    }
    if (!run.commit()) break;
  }
  AppendResult result = run.finish(scan.status());
  result.blank_fields = std::move(blank);
  close_table(source);
  return result;
}

AppendResult append_from_text(Table& table, const std::string& file_name, const TextSourceOptions& options,
                              const ProgressCallback& progress) {
  if (table.read_only) return failure(Status::kReadOnly);
  LineReader lines(file_name);
  if (!lines.is_open()) return failure(status_from_open_errno(lines.open_error()));
  const std::vector<TextColumn> columns = text_columns(table);
  AppendRun run(table);
  Status walk = Status::kOk;
  uint64_t next_report = kTextReportBytes;
  std::string_view line;
  while (run.ok() && lines.next(line)) {
    run.begin_record();
    if (options.sdf) {
      put_sdf(run, table, columns, line);
    } else {
      put_delimited(run, table, columns, line, options);
    }
    if (!run.commit()) break;
    if (progress && lines.consumed() >= next_report) {
      next_report = lines.consumed() + kTextReportBytes;
      if (!progress(lines.consumed(), lines.size())) {
        walk = Status::kAborted;
        break;
      }
    }
  }
  if (walk == Status::kOk) walk = lines.status();
  if (walk == Status::kOk && progress) progress(lines.size(), lines.size());
  return run.finish(walk);
}

}  // namespace kora
