#include "tools/sqlite_export.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <strings.h>

#include "table/file_guards.h"
#include "table/file_io.h"
#include "tools/typed_values.h"

namespace kora {

namespace {

struct Database {
  sqlite3* db = nullptr;
  ~Database() { sqlite3_close(db); }
  bool exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
  bool prepare(sqlite3* db, const std::string& sql) {
    return sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr) == SQLITE_OK;
  }
};

std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + '"';
}

// Whole numbers of up to 18 digits fit a 64-bit INTEGER. Numbers with
// decimals are REAL: every decimal of up to 15 significant digits (all a
// field of 16 places can hold) reads back from the nearest double as the
// same digits, and a REAL column keeps 5.00 a real where NUMERIC would turn
// it into the integer 5. Currency and wider whole numbers are NUMERIC:
// SQLite keeps them INTEGER where they fit and REAL otherwise.
const char* declared_type(const TypedColumn& c) {
  switch (c.source) {
    case TypedSource::kNumber: return c.decimals > 0 ? "REAL" : c.length <= 18 ? "INTEGER" : "NUMERIC";
    case TypedSource::kInteger:
    case TypedSource::kLogical: return "INTEGER";
    case TypedSource::kCurrency: return "NUMERIC";
    case TypedSource::kReal: return "REAL";
    case TypedSource::kMemo: return c.binary_memo ? "BLOB" : "TEXT";
    case TypedSource::kVarBinary: return "BLOB";
    case TypedSource::kComputed: return c.type == 'N' || c.type == 'F' ? "NUMERIC" : "TEXT";
    default: return "TEXT";
  }
}

std::string table_name(const Table& table) {
  std::string name = table.file_name.substr(table.file_name.rfind('/') + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

struct Layout {
  std::vector<TypedColumn> columns;
  std::vector<std::pair<std::string, std::string>> declared;  // name, type, as created
};

Layout layout_of(const Table& table, const ExportOptions& o) {
  Layout layout{typed_columns(table), {}};
  if (o.delete_mark) layout.declared.push_back({"_deleted", "INTEGER"});
  for (const TypedColumn& c : layout.columns) layout.declared.push_back({c.name, declared_type(c)});
  return layout;
}

// The declared columns of the database's table; empty when it has none.
std::vector<std::pair<std::string, std::string>> existing_columns(sqlite3* db, const std::string& name) {
  std::vector<std::pair<std::string, std::string>> columns;
  Statement info;
  if (!info.prepare(db, "PRAGMA table_info(" + quoted(name) + ")")) return columns;
  while (sqlite3_step(info.stmt) == SQLITE_ROW) {
    auto text = [&](int k) {
      const unsigned char* t = sqlite3_column_text(info.stmt, k);
      return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    columns.push_back({text(1), text(2)});
  }
  return columns;
}

bool same_columns(const std::vector<std::pair<std::string, std::string>>& a,
                  const std::vector<std::pair<std::string, std::string>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (strcasecmp(a[k].first.c_str(), b[k].first.c_str()) != 0 ||
        strcasecmp(a[k].second.c_str(), b[k].second.c_str()) != 0)
      return false;
  }
  return true;
}

std::string create_sql(const std::string& name, const Layout& layout) {
  std::string sql = "CREATE TABLE " + quoted(name) + " (";
  for (size_t k = 0; k < layout.declared.size(); ++k) {
    if (k > 0) sql += ", ";
    sql += quoted(layout.declared[k].first);
    sql += ' ';
    sql += layout.declared[k].second;
  }
  return sql + ")";
}

std::string insert_sql(const std::string& name, size_t columns, size_t rows) {
  std::string sql = "INSERT INTO " + quoted(name) + " VALUES ";
  for (size_t r = 0; r < rows; ++r) {
    sql += r > 0 ? ",(" : "(";
    for (size_t k = 0; k < columns; ++k) sql += k > 0 ? ",?" : "?";
    sql += ')';
  }
  return sql;
}

// A decimal without sign, leading zeros, trailing zeros of its fraction or
// a point left alone: "-012.3400" -> "12.34". Empty for zero.
std::string plain_digits(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  size_t point = std::min(text.find('.'), text.size());
  std::string_view whole = text.substr(0, point), fraction = text.substr(std::min(point + 1, text.size()));
  whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
  fraction = fraction.substr(0, fraction.find_last_not_of('0') + 1);
  std::string out(whole);
  if (!fraction.empty()) out.append(1, '.').append(fraction);
  return out == "." ? std::string() : out;
}

// Whether the double reads back as the stored decimal: always for up to 15
// significant digits; longer ones are compared with the double's digits.
bool holds_exactly(std::string_view text, double d) {
  if (text.find_first_of("eE") != std::string_view::npos) return true;  // written as a float already
  std::string digits = plain_digits(text);
  size_t significant = 0;
  for (char ch : digits.substr(std::min(digits.find_first_not_of("0."), digits.size())))
    significant += ch != '.';
  if (significant <= 15) return true;
  char fixed[1100];
  auto [end, ec] = std::to_chars(fixed, fixed + sizeof fixed, std::abs(d), std::chars_format::fixed);
  return ec == std::errc() && plain_digits(std::string_view(fixed, size_t(end - fixed))) == digits;
}

// A stored number goes in as the column's type holds it: whole numbers of
// INTEGER and NUMERIC columns as integers, the rest as the nearest double
// (`inexact` set when that is not the stored decimal); what does not parse
// goes in as its text, for the column's affinity to take.
int bind_number(sqlite3_stmt* stmt, int at, const TypedColumn& c, std::string_view text, bool& inexact) {
  const char* first = text.data();
  const char* last = first + text.size();
  const char type = declared_type(c)[0];
  if (type == 'I' || type == 'N') {
    int64_t n = 0;
    auto [end, ec] = std::from_chars(first, last, n);
    if (ec == std::errc() && end == last) return sqlite3_bind_int64(stmt, at, n);
  }
  if (type == 'R' || type == 'N') {
    double d = 0;
    auto [end, ec] = std::from_chars(first, last, d);
    if (ec == std::errc() && end == last) {
      inexact = !holds_exactly(text, d);
      return sqlite3_bind_double(stmt, at, d);
    }
  }
  return sqlite3_bind_text(stmt, at, first, int(text.size()), SQLITE_STATIC);
}

int bind_value(sqlite3_stmt* stmt, int at, const TypedColumn& c, const TypedValue& v, bool& inexact) {
  switch (v.kind) {
    case TypedKind::kNull: return sqlite3_bind_null(stmt, at);
    case TypedKind::kBool: return sqlite3_bind_int(stmt, at, v.flag ? 1 : 0);
    case TypedKind::kInteger: return sqlite3_bind_int64(stmt, at, v.integer);
    case TypedKind::kReal: return sqlite3_bind_double(stmt, at, v.real);
    case TypedKind::kNumber: return bind_number(stmt, at, c, v.view, inexact);
    case TypedKind::kBinary: return sqlite3_bind_blob64(stmt, at, v.view.data(), v.view.size(), SQLITE_STATIC);
    default: return sqlite3_bind_text64(stmt, at, v.view.data(), v.view.size(), SQLITE_STATIC, SQLITE_UTF8);
  }
}

constexpr uint32_t kWritebackRecords = 16384;

void start_writeback(int fd) {
#ifdef __linux__
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

ExportResult failed(Status status) {
  ExportResult result;
  result.output = OutputStatus::kWriteFailed;
  result.status = status;
  return result;
}

// Rows go in by the batch, many to one statement: most of SQLite's work per
// statement is then shared. A batch keeps copies of its records, which the
// bound texts point into, until it is written.
class RowBatch {
 public:
  RowBatch(Table& table, const Layout& layout, bool delete_mark)
      : table_(table), layout_(layout), delete_mark_(delete_mark), width_(layout.declared.size()) {}

  // As many rows as the statement's parameters allow, up to 64.
  bool prepare(sqlite3* db, const std::string& name) {
    db_ = db;
    name_ = name;
    size_t most = size_t(std::max(1, sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, -1)));
    batch_ = std::clamp<size_t>(most / std::max<size_t>(width_, 1), 1, 64);
    images_.resize(batch_ * table_.record_size);
    values_.resize(batch_ * layout_.columns.size());
    inexact_.assign(layout_.columns.size(), 0);
    return full_.prepare(db, insert_sql(name, width_, batch_));
  }
  bool add(RecordImage image, uint32_t position) {
    uint8_t* copy = images_.data() + rows_ * table_.record_size;
    std::copy(image.begin(), image.end(), copy);
    RecordImage kept(copy, image.size());
    TypedValue* values = values_.data() + rows_ * layout_.columns.size();
    for (size_t k = 0; k < layout_.columns.size(); ++k) {
      typed_value(table_, layout_.columns[k], kept, values[k]);
      note_unreadable(values[k], layout_.columns[k], position, warnings_);
    }
    return ++rows_ < batch_ || flush();
  }
  // Writes the rows held; false when SQLite refused them.
  bool flush() {
    if (rows_ == 0) return true;
    Statement last;
    sqlite3_stmt* stmt = full_.stmt;
    if (rows_ < batch_) {
      if (!last.prepare(db_, insert_sql(name_, width_, rows_))) return false;
      stmt = last.stmt;
    }
    int at = 1;
    bool bound = true;
    for (size_t r = 0; r < rows_; ++r) {
      if (delete_mark_) bound &= sqlite3_bind_int(stmt, at++, images_[r * table_.record_size] == '*') == SQLITE_OK;
      const TypedValue* values = values_.data() + r * layout_.columns.size();
      for (size_t k = 0; k < layout_.columns.size(); ++k) {
        bool inexact = false;
        bound &= bind_value(stmt, at++, layout_.columns[k], values[k], inexact) == SQLITE_OK;
        inexact_[k] += inexact;
      }
    }
    bool done = bound && sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_reset(stmt);
    written_ += done ? rows_ : 0;
    rows_ = 0;
    return done;
  }
  uint64_t written() const { return written_; }
  // The warnings, with one per column whose decimals a REAL could not hold.
  std::vector<std::string>& warnings() {
    for (size_t k = 0; k < inexact_.size(); ++k) {
      if (inexact_[k] == 0) continue;
      std::string warning = "field ";
      warning += layout_.columns[k].name;
      warning += ": ";
      warning += std::to_string(inexact_[k]);
      warning += " numbers too long for a SQLite REAL were rounded to one";
      warnings_.push_back(std::move(warning));
    }
    inexact_.assign(inexact_.size(), 0);
    return warnings_;
  }

 private:
  Table& table_;
  const Layout& layout_;
  const bool delete_mark_;
  const size_t width_;
  size_t batch_ = 1;
  sqlite3* db_ = nullptr;
  std::string name_;
  Statement full_;
  std::vector<uint8_t> images_;
  std::vector<TypedValue> values_;
  size_t rows_ = 0;
  uint64_t written_ = 0;
  std::vector<std::string> warnings_;
  std::vector<uint64_t> inexact_;
};

// Fills the database at `path` inside one transaction: the table made anew
// (`replace`) or rows added to the one there. `fresh`: a file of our own,
// written without a journal since a failure throws it away.
// `writeback`: a descriptor of the new file, whose pages are sent to the
// disk as they are written, so that the sync at the end waits for little.
ExportResult fill_database(Table& table, const std::string& path, const ExportOptions& o,
                           const ProgressCallback& progress, bool fresh, bool replace, int writeback = -1) {
  // One connection used by one thread: no locks, no memory statistics (the
  // latter is refused harmlessly once the library is running).
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  Database d;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (fresh ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &d.db, flags, nullptr) != SQLITE_OK)
    return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  // Large pages: fewer to split and fetch per row. A small cache, so that
  // pages reach the file (and the disk) as they fill.
  if (fresh && !d.exec("PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; "
                       "PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-8192"))
    return failed(Status::kWriteError);
  // A file that is no database is never written into.
  if (!d.exec("BEGIN IMMEDIATE") || !d.exec("SELECT count(*) FROM sqlite_master"))
    return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  const std::string name = table_name(table);
  Layout layout = layout_of(table, o);
  // A SQLite table has at least one column.
  if (layout.declared.empty()) return {OutputStatus::kOk, Status::kInvalidStructure, 0, 0, {}, {}, {}};
  std::vector<std::pair<std::string, std::string>> there = existing_columns(d.db, name);
  if (replace || there.empty()) {
    if (!d.exec("DROP TABLE IF EXISTS " + quoted(name)) || !d.exec(create_sql(name, layout)))
      return failed(Status::kWriteError);
  } else if (!same_columns(there, layout.declared)) {
    return {OutputStatus::kOk, Status::kOtherColumns, 0, 0, {}, {}, {}};
  }
  ExportResult result;
  bool written = true;
  {
    // Its statements end before the database closes.
    RowBatch rows(table, layout, o.delete_mark);
    uint32_t since_writeback = 0;
    if (!rows.prepare(d.db, name)) return failed(Status::kWriteError);
    result.status = export_walk(table, o, progress, [&](RecordImage image, uint32_t position) {
      written = rows.add(image, position);
      if (writeback >= 0 && ++since_writeback == kWritebackRecords) {
        since_writeback = 0;
        start_writeback(writeback);
      }
      return written;
    });
    written = written && (result.status != Status::kOk || rows.flush());
    result.records = rows.written();
    result.warnings = std::move(rows.warnings());
  }
  if (!written || result.status != Status::kOk) {
    d.exec("ROLLBACK");
    if (!written) return failed(Status::kWriteError);
    result.records = 0;
    return result;
  }
  if (!d.exec("COMMIT")) return failed(Status::kWriteError);
  if (sqlite3_close(d.db) != SQLITE_OK) return failed(Status::kWriteError);
  d.db = nullptr;
  return result;
}

// A new database beside the target, renamed over it when whole.
ExportResult new_database(Table& table, const std::string& target, const ExportOptions& o,
                          const ProgressCallback& progress) {
  std::string temp = target + ".XXXXXX";
  UniqueFd made(mkostemp(temp.data(), O_CLOEXEC));
  if (made.fd < 0) return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  fchmod(made.fd, new_file_mode());
  ExportResult result = fill_database(table, temp, o, progress, true, true, made.fd);
  if (result.ok()) {
    // Written without syncs: flushed once, whole, before it takes the name.
    HoldEndSignals hold;
    bool synced = file_sync(made.fd);
    if (!(made.close_checked() && synced && file_rename(temp, target))) result = failed(Status::kWriteError);
  }
  if (!result.ok()) file_unlink(temp);
  return result;
}

}  // namespace

ExportResult export_sqlite(Table& table, const std::string& path, const ExportOptions& o, const OutputGuard& guard,
                           const ProgressCallback& progress) {
  std::string target = resolved_target(path);
  if (is_one_of_files(target, guard.open_files)) return {OutputStatus::kOpenTable, Status::kOk, 0, 0, {}, {}, {}};
  struct stat info;
  if (stat(target.c_str(), &info) != 0) return new_database(table, target, o, progress);
  if (!S_ISREG(info.st_mode)) return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  if (o.overwrite && !(guard.confirm_replace && guard.confirm_replace(path)))
    return {OutputStatus::kCancelled, Status::kOk, 0, 0, {}, {}, {}};
  return fill_database(table, target, o, progress, false, o.overwrite);
}

}  // namespace kora
