#include "tools/export.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "table/batch_appender.h"
#include "table/code_page.h"
#include "table/field_write.h"
#include "table/file_guards.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/text_recode.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"
#include "tools/jsonl_export.h"
#include "tools/sqlite_export.h"
#include "tools/structure_forms.h"
#include "tools/typed_values.h"

namespace kora {

namespace {

struct FormatRow {
  ExportFormat format;
  const char* batch_name;
  const char* extension;
};

constexpr FormatRow kFormats[] = {
    {ExportFormat::kText, "txt", ".txt"},   {ExportFormat::kClipper, "clipper", ".prg"},
    {ExportFormat::kFoxPro, "foxpro", ".prg"}, {ExportFormat::kSql, "sql", ".sql"},
    {ExportFormat::kHtml, "html", ".htm"},  {ExportFormat::kDbf, "dbf", ".dbf"},
    {ExportFormat::kXml, "xml", ".xml"},    {ExportFormat::kCsv, "csv", ".csv"},
    {ExportFormat::kJsonl, "jsonl", ".jsonl"}, {ExportFormat::kSqlite, "sqlite", ".sqlite"},
};

const FormatRow& format_row(ExportFormat format) {
  for (const FormatRow& row : kFormats)
    if (row.format == format) return row;
  return kFormats[0];
}

void append_format(std::string& out, const char* format, long long value) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, format, value);
  if (n > 0) out.append(buffer, size_t(std::min(n, int(sizeof buffer) - 1)));
}

void trim_right(std::string& text) { text.erase(text.find_last_not_of(' ') + 1); }
void trim_left(std::string& text) { text.erase(0, std::min(text.size(), text.find_first_not_of(' '))); }

// The table's current record is the screen's: memo texts are read through
// it, so it is put back when the export ends.
struct KeepRecord {
  Table& table;
  std::vector<uint8_t> saved;
  uint8_t flag;
  explicit KeepRecord(Table& t) : table(t), saved(t.record), flag(t.delete_flag) {}
  ~KeepRecord() {
    table.record = saved;
    table.delete_flag = flag;
  }
};

// How the machine forms (CSV, SQL, XML) take a column: straight from the
// stored bytes where its type allows, otherwise through the field's text.
enum class Stored { kNone, kText, kNumber, kDate, kLogical };

struct Column {
  int index;
  int width;  // of the text format
  bool numeric;
  bool memo;
  char type;
  std::string caption;
  std::string name;  // the field's name (a computed column's caption) as written
  Stored stored = Stored::kNone;
  size_t offset = 0;  // of the stored bytes in the record
  size_t length = 0;
  bool nullable = false;  // its stored bytes are no value while its null bit is set
};

std::vector<Column> export_columns(const Table& table) {
  std::vector<Column> columns;
  for (int k = 0; k < column_count(table); ++k) {
    int i = column_field(table, k);
    if (i < 0) continue;
    Column c{i, 0, is_numeric_field(table, i), i < table.field_count() && is_memo_field(table, i),
             field_type(table, i), column_name(table, i),
             i < table.field_count() ? field_name(table, i) : column_name(table, i)};
    if (i >= table.field_count()) {
      const ComputedColumn* computed = computed_column(table.columns, i);
      c.type = computed ? computed->type : 'C';
    }
    int display = i >= table.field_count() ? 20 : display_width(table, i);
    c.width = std::max(display, int(c.caption.size()));
    columns.push_back(std::move(c));
  }
  return columns;
}

// JSON Lines and SQLite take their values elsewhere; their walks share the
// stored plan that tells blank records quickly.
bool machine_form(ExportFormat f) {
  return f == ExportFormat::kCsv || f == ExportFormat::kSql || f == ExportFormat::kXml || f == ExportFormat::kJsonl ||
         f == ExportFormat::kSqlite;
}

void append_two(std::string& out, char separator, int value) {
  if (separator) out += separator;
  out += char('0' + value / 10 % 10);
  out += char('0' + value % 10);
}

// yyyy-mm-dd (and hh:mm:ss), the form every reader of data files takes.
std::string iso_date(const DateParts& d, bool with_time) {
  std::string out;
  append_format(out, "%04lld", d.year);
  append_two(out, '-', d.month + 1);
  append_two(out, '-', d.day);
  if (with_time) {
    append_two(out, ' ', d.hour);
    append_two(out, ':', d.minute);
    append_two(out, ':', d.second);
  }
  return out;
}

// The bytes that make a CSV value need quotes (RFC 4180).
struct CsvSpecials {
  bool special[256] = {};
  constexpr CsvSpecials() {
    for (unsigned char ch : {',', '"', '\r', '\n'}) special[ch] = true;
  }
};
constexpr CsvSpecials kCsvSpecials;

// The quoting of one CSV value (RFC 4180); a leading blank is quoted too, so
// that readers that trim keep it.
void csv_value(std::string& out, std::string_view value) {
  bool plain = value.empty() || value.front() != ' ';
  for (size_t k = 0; plain && k < value.size(); ++k) plain = !kCsvSpecials.special[uint8_t(value[k])];
  if (plain) {
    out += value;
    return;
  }
  out += '"';
  for (char ch : value) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

// A stored field's bytes up to a NUL, without trailing blanks; `both` trims
// leading blanks too. Fields are short: a plain loop beats memchr here.
std::string_view stored_bytes(RecordImage image, size_t offset, size_t length, bool both) {
  const char* p = reinterpret_cast<const char*>(image.data()) + offset;
  size_t first = length, end = 0;
  for (size_t k = 0; k < length && p[k] != 0; ++k) {
    if (p[k] == ' ') continue;
    if (first == length) first = k;
    end = k + 1;
  }
  if (end == 0) return {};
  return both ? std::string_view(p + first, end - first) : std::string_view(p, end);
}

// A stored text without the blanks and NULs that pad it; a NUL inside it
// is part of it.
std::string_view stored_text(RecordImage image, size_t offset, size_t length) {
  std::string_view raw(reinterpret_cast<const char*>(image.data()) + offset, length);
  return raw.substr(0, text_value_end(raw));
}

// A Character field as a CSV value: without the blanks and NULs that pad it
// (a NUL inside it goes out as the byte), quoted as csv_value quotes. With
// `ascii_only`, a value holding a byte beyond ASCII is left to the caller
// (false).
bool csv_text(std::string& out, const char* p, size_t length, bool ascii_only) {
  size_t end = text_value_end(std::string_view(p, length));
  bool special = false, high = false;
  for (size_t k = 0; k < end; ++k) {
    special |= kCsvSpecials.special[uint8_t(p[k])];
    high |= uint8_t(p[k]) >= 0x80;
  }
  if (high && ascii_only) return false;
  if (!special && (end == 0 || p[0] != ' ')) {
    out.append(p, end);
    return true;
  }
  csv_value(out, std::string_view(p, end));
  return true;
}

void quoted_doubling(std::string& out, std::string_view value, char quote) {
  out += quote;
  for (char ch : value) {
    if (ch == quote) out += quote;
    out += ch;
  }
  out += quote;
}

// A program string: pieces quoted with a quote the piece does not hold
// (the chosen one first), line ends as CHR() calls.
void prg_string(std::string& out, std::string_view value, int style) {
  static const char* const kQuotes[3] = {"''", "\"\"", "[]"};
  if (value.empty()) {
    out += kQuotes[std::clamp(style, 0, 2)];
    return;
  }
  bool first = true;
  size_t at = 0;
  while (at < value.size()) {
    if (!first) out += '+';
    first = false;
    if (value[at] == '\r' || value[at] == '\n') {
      append_format(out, "CHR(%lld)", (unsigned char)value[at]);
      ++at;
      continue;
    }
    // The longest piece one of the quotes can hold.
    size_t best_end = at;
    int best = 0;
    for (int k = 0; k < 3; ++k) {
      int q = (std::clamp(style, 0, 2) + k) % 3;
      size_t end = at;
      while (end < value.size() && value[end] != '\r' && value[end] != '\n' && value[end] != kQuotes[q][0] &&
             value[end] != kQuotes[q][1])
        ++end;
      if (end > best_end) best_end = end, best = q;
    }
    out += kQuotes[best][0];
    out.append(value.substr(at, best_end - at));
    out += kQuotes[best][1];
    at = best_end;
  }
}

// An XML element name from a column name: characters a name may not hold
// become '_'.
std::string xml_name(std::string_view name) {
  std::string out;
  for (char ch : name) {
    unsigned char c = (unsigned char)ch;
    bool ok = std::isalnum(c) || c == '_' || c == '-' || c == '.' || c >= 0x80;
    out += ok ? ch : '_';
  }
  if (out.empty() || std::isdigit((unsigned char)out[0]) || out[0] == '-' || out[0] == '.') out.insert(0, "_");
  return out;
}

class Exporter {
 public:
  Exporter(Table& table, const ExportOptions& options)
      : table_(table), o_(options), columns_(export_columns(table)),
        encoding_(export_xml_encoding(table, options)), recode_(output_recoder(table, options)) {
    plan_stored();
    recode_names();
  }

  void head(std::string& out);
  void tail(std::string& out);
  bool record(RecordImage image, uint32_t position, std::string& out);
  const std::vector<Column>& columns() const { return columns_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  // The prepared value of a column for a record held in table.record.
  void value(const Column& c, RecordImage image, std::string& v);
  bool skipped(RecordImage image);
  bool stored_form(const Column& c, RecordImage image, std::string& v);
  // The physical number (from 0) of the record whose values come next.
  void set_record_number(uint32_t record) { record_number_ = record; }
  // The first text the output could not hold; empty while there is none.
  const std::string& refusal() const { return refusal_; }

 private:
  static TextRecoder output_recoder(const Table& table, const ExportOptions& o);
  void plan_stored();
  void recode_names();
  void recode(const Column& c, std::string& v);
  size_t shown_length(std::string_view v) const;
  void csv_column(const Column& c, RecordImage image, std::string& v, std::string& out);
  void structure(std::string& out);
  void headers(std::string& out);
  void text_line(RecordImage image, uint32_t position, std::string& out);
  void sql_value(const Column& c, RecordImage image, const std::string& v, std::string& out);
  void prg_value(const Column& c, RecordImage image, const std::string& v, std::string& out);
  void memo_value(const Column& c, std::string& v);

  Table& table_;
  const ExportOptions o_;
  std::vector<Column> columns_;
  XmlEncoding encoding_;
  TextRecoder recode_;
  std::vector<std::string> values_;
  std::vector<std::string> warnings_;
  uint32_t record_number_ = 0;
  std::string refusal_;
};

void Exporter::memo_value(const Column& c, std::string& v) {
  if (!o_.binary_as_base64) {
    read_memo(table_, c.index, v, true);
    return;
  }
  uint32_t type = 1;
  if (!read_memo(table_, c.index, v, true, &type)) {
    v.clear();
    // A missing memo file is told once, by the caller, not per record.
    if (memo_block_number(table_, c.index) != 0 && warnings_.size() < 1000 && !memo_file_missing(table_))
      warnings_.push_back(unreadable_memo_warning(record_number_, c.caption));
    return;
  }
  // General, picture and blob fields hold bytes whatever their blocks say.
  if (c.type == 'G' || c.type == 'P' || c.type == 'W' || memo_holds_bytes(v, type)) {
    std::string bytes = std::move(v);
    v.clear();
    append_base64(v, bytes);
  }
}

// Text formats in UTF-8 or a chosen page take the table's characters
// through UTF-8; the other choices keep the bytes (or the 866/1251 turn).
TextRecoder Exporter::output_recoder(const Table& table, const ExportOptions& o) {
  if (o.format == ExportFormat::kDbf || o.xml_table) return {};
  if (o.codepage == ExportCodepage::kUtf8) return {table_text_page(table), CodePage::of_number(65001)};
  if (o.codepage == ExportCodepage::kPage && o.page) return {table_text_page(table), o.page};
  // ANSI and OEM from a table in another page: its characters in 1251 or 866.
  if (in_other_code_page(table) && (o.codepage == ExportCodepage::kAnsi || o.codepage == ExportCodepage::kOem))
    return {table_text_page(table), CodePage::of_number(o.codepage == ExportCodepage::kAnsi ? 1251 : 866)};
  return {};
}

void Exporter::recode(const Column& c, std::string& v) {
  char32_t bad = 0;
  if (!recode_.active() || recode_.convert(v, &bad)) return;
  if (refusal_.empty()) {
    std::string name = c.index < table_.field_count() ? field_name_utf8(table_, c.index) : c.caption;
    refusal_ = "Record " + std::to_string(uint64_t(record_number_) + 1) + ", field " + name + ": " +
               cannot_hold_text(recode_.to(), bad);
  }
  v.clear();
}

// Names go out in the output's page too; one it cannot hold is refused
// as a value would be.
void Exporter::recode_names() {
  if (!recode_.active()) return;
  for (Column& c : columns_) {
    char32_t bad = 0;
    if ((recode_.convert(c.caption, &bad) && recode_.convert(c.name, &bad)) || !refusal_.empty()) continue;
    refusal_ = "Field " + c.caption + ": " + cannot_hold_text(recode_.to(), bad);
  }
}

// A value's width in characters where the output is UTF-8, so that the
// text format's columns line up.
size_t Exporter::shown_length(std::string_view v) const {
  if (!recode_.active() || recode_.to().number() != 65001) return v.size();
  return size_t(std::count_if(v.begin(), v.end(), [](char ch) { return (uint8_t(ch) & 0xC0) != 0x80; }));
}

std::string base_name(const std::string& path, bool with_extension) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!with_extension) {
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
  }
  return name;
}

void Exporter::structure(std::string& out) {
  StructureForm form;
  std::string name;
  switch (o_.format) {
    case ExportFormat::kText: form = StructureForm::kText; break;
    case ExportFormat::kClipper: form = StructureForm::kClipper; name = base_name(table_.file_name, true); break;
    case ExportFormat::kFoxPro: form = StructureForm::kFoxPro; name = base_name(table_.file_name, true); break;
    case ExportFormat::kSql: form = StructureForm::kSql; name = base_name(table_.file_name, false); break;
    case ExportFormat::kHtml: form = StructureForm::kHtml; break;
    case ExportFormat::kXml: form = StructureForm::kXml; break;
    default: return;
  }
  StructureOptions options;
  options.sql2000 = o_.sql2000;
  options.for_export = true;
  options.xml_encoding = encoding_;
  std::vector<int> fields;
  for (const Column& c : columns_)
    if (c.index < table_.field_count()) fields.push_back(c.index);
  write_structure_head(out, form, table_, name, options);
  for (size_t k = 0; k < fields.size(); ++k)
    write_structure_line(out, form, table_, fields[k], k + 1 == fields.size(), options);
  write_structure_tail(out, form, options);
}

void Exporter::headers(std::string& out) {
  const char delimiter = o_.delimiters ? o_.delimiter : 0;
  switch (o_.format) {
    case ExportFormat::kHtml:
      out += "\n<table border=1><tr>";
      if (o_.numeration) out += "<td align=right>RecNo</td>";
      if (o_.delete_mark) out += "<td>*</td>";
      for (const Column& c : columns_) out += "<td>" + html_escape(c.caption) + "</td>";
      out += "</tr>\n";
      if (!o_.detail) out += "</table><p>\n";
      return;
    case ExportFormat::kText:
      if (o_.numeration) out += "RecNo|";
      if (o_.delete_mark) out += "*|";
      for (size_t k = 0; k < columns_.size(); ++k) {
        out += columns_[k].caption;
        if (k + 1 < columns_.size()) {
          out.append(size_t(columns_[k].width) - shown_length(columns_[k].caption), ' ');
          if (delimiter) out += delimiter;
        }
      }
      out += '\n';
      return;
    case ExportFormat::kCsv:
      // No field may be named so: the name cannot clash.
      if (o_.deleted_column) out += "_deleted,";
      for (size_t k = 0; k < columns_.size(); ++k) {
        if (k > 0) out += ',';
        csv_value(out, columns_[k].caption);
      }
      out += "\r\n";
      return;
    default: out += '\n';
  }
}

// The page's declaration goes into the head of the user's header when it
// has one, otherwise before it: a browser reads it there as well.
void html_head(std::string& out, const std::string& header, const std::string& encoding) {
  std::string meta = "<meta charset=\"" + html_escape(encoding) + "\">\n";
  std::string lower = header;
  for (char& ch : lower) ch = char(std::tolower(uint8_t(ch)));
  size_t head = lower.find("<head");
  size_t end = head == std::string::npos ? head : lower.find('>', head);
  if (end == std::string::npos) {
    out += meta;
    out += header;
    return;
  }
  out.append(header, 0, end + 1).append(1, '\n').append(meta).append(header, end + 1);
}

void Exporter::head(std::string& out) {
  if (o_.format == ExportFormat::kHtml) html_head(out, o_.html_header, export_declared_encoding(table_, o_));
  if (o_.format == ExportFormat::kXml) {
    // 866 and 1251 keep the names they were always declared by; any other
    // page, UTF-8 and a chosen code-page table declare their own.
    std::string declared = o_.xml_table ? o_.xml_table->encoding : std::string();
    bool family = !o_.xml_table && (o_.codepage == ExportCodepage::kAnsi || o_.codepage == ExportCodepage::kOem ||
                                    (o_.codepage == ExportCodepage::kAsIs && !in_other_code_page(table_)));
    if (!o_.xml_table && !family) declared = export_declared_encoding(table_, o_);
    out += xml_prolog(table_.file_name, encoding_, declared);
  }
  if (o_.structure) {
    std::string band;
    structure(band);
    char32_t bad = 0;
    if (!recode_.convert(band, &bad) && refusal_.empty())
      refusal_ = "The structure: " + cannot_hold_text(recode_.to(), bad);
    out += band;
  }
  if (o_.header || o_.format == ExportFormat::kCsv) headers(out);
  if (!o_.detail) return;
  if (o_.format == ExportFormat::kHtml && !o_.header) out += "<table border=1>\n";
  if (o_.format == ExportFormat::kXml) out += "   <Information>\n";
}

void Exporter::tail(std::string& out) {
  if (o_.detail && o_.format == ExportFormat::kHtml) out += "</table><p>\n";
  if (o_.detail && o_.format == ExportFormat::kXml) out += "   </Information>\n";
  if (o_.format == ExportFormat::kXml) out += "</Root>\n";
  if (o_.format == ExportFormat::kHtml) out += o_.html_footer;
}

void Exporter::value(const Column& c, RecordImage image, std::string& v) {
  v.clear();
  if (c.index < table_.field_count() && is_null_field(table_, image, c.index)) return;
  if (c.memo && o_.memo_as_text) {
    memo_value(c, v);
  } else if (machine_form(o_.format) && stored_form(c, image, v)) {
    if (c.stored != Stored::kText) return;
  } else if (machine_form(o_.format) && (c.type == 'D' || c.type == 'T') && c.index < table_.field_count()) {
    if (!is_date_blank(table_, image, c.index)) v = iso_date(field_date(table_, image, c.index), c.type == 'T');
    return;
  } else if (machine_form(o_.format) && c.type == 'L' && c.index < table_.field_count()) {
    char ch = char(std::toupper(image[field_desc(table_, c.index)->offset]));
    if (ch == 'T' || ch == 'Y') v = "T";
    if (ch == 'F' || ch == 'N') v = "F";
    return;
  } else if (machine_form(o_.format) && (c.type == 'N' || c.type == 'F') && c.index < table_.field_count()) {
    stored_form(c, image, v);
    return;
  } else {
    field_text(table_, image, c.index, v);
    if (o_.format != ExportFormat::kText) trim_right(v);
    if (c.numeric && o_.format != ExportFormat::kText) trim_left(v);
  }
  if (v.empty() || !(c.type == 'C' || c.memo)) return;
  recode(c, v);
  if (in_other_code_page(table_)) return;  // the recoder has carried it
  if (o_.codepage == ExportCodepage::kAnsi && !table_.ansi_text) v = table_oem_to_ansi(table_, v);
  if (o_.codepage == ExportCodepage::kOem && table_.ansi_text) v = table_ansi_to_oem(table_, v);
}

// The machine forms of C, N, F and D fields straight from the stored bytes:
// texts without the blanks and NULs that pad them, numbers with all their digits
// (nothing for one never stored or overflowed), dates as yyyy-mm-dd.
void Exporter::plan_stored() {
  if (!machine_form(o_.format)) return;
  for (Column& c : columns_) {
    if (c.index >= table_.field_count()) continue;
    c.nullable = field_flags(table_, c.index) & kFieldNullable;
    const FieldDesc& d = *field_desc(table_, c.index);
    c.offset = d.offset;
    c.length = size_t(field_length(table_, c.index));
    if (c.type == 'C' && o_.codepage != ExportCodepage::kAnsi && o_.codepage != ExportCodepage::kOem)
      c.stored = Stored::kText;
    if (c.type == 'N' || c.type == 'F') c.stored = Stored::kNumber;
    if (c.type == 'D') c.stored = Stored::kDate;
    if (c.type == 'L') c.stored = Stored::kLogical;
  }
}

// Plain loops below, not the string searches: those call memchr once per
// byte of a set, which dominates on values this short.
bool is_digit_byte(char ch) { return ch >= '0' && ch <= '9'; }

bool is_stored_date(std::string_view raw) {
  return raw.size() == 8 && std::all_of(raw.begin(), raw.end(), is_digit_byte);
}

bool Exporter::stored_form(const Column& c, RecordImage image, std::string& v) {
  if (c.stored == Stored::kNone || c.stored == Stored::kLogical || c.offset + c.length > image.size()) return false;
  std::string_view raw = c.stored == Stored::kText ? stored_text(image, c.offset, c.length)
                                                   : stored_bytes(image, c.offset, c.length, true);
  if (c.stored == Stored::kDate) {
    if (!is_stored_date(raw)) return false;
    v.assign(raw.substr(0, 4)).append(1, '-').append(raw.substr(4, 2)).append(1, '-').append(raw.substr(6, 2));
    return true;
  }
  v.assign(raw);
  if (c.stored == Stored::kNumber) {
    std::replace(v.begin(), v.end(), ',', '.');
    if (v.find_first_not_of('*') == std::string::npos) v.clear();
  }
  return true;
}

// One CSV value; the common stored forms go from the record straight into
// the output, without a copy on the way.
void Exporter::csv_column(const Column& c, RecordImage image, std::string& v, std::string& out) {
  if (c.stored != Stored::kNone && c.offset + c.length <= image.size() &&
      !(c.nullable && is_null_field(table_, image, c.index))) {
    const char* p = reinterpret_cast<const char*>(image.data()) + c.offset;
    // Text that is ASCII reads alike in every page: only the rest is converted.
    if (c.stored == Stored::kText && csv_text(out, p, c.length, recode_.active())) return;
    if (c.stored == Stored::kLogical) {
      char ch = char(std::toupper(uint8_t(*p)));
      if (ch == 'T' || ch == 'Y') out += 'T';
      if (ch == 'F' || ch == 'N') out += 'F';
      return;
    }
    std::string_view raw = stored_bytes(image, c.offset, c.length, true);
    if (c.stored == Stored::kDate && is_stored_date(raw)) {
      out.append(raw.substr(0, 4)).append(1, '-').append(raw.substr(4, 2)).append(1, '-').append(raw.substr(6, 2));
      return;
    }
    if (c.stored == Stored::kNumber && std::find(raw.begin(), raw.end(), ',') == raw.end()) {
      if (!std::all_of(raw.begin(), raw.end(), [](char ch) { return ch == '*'; })) csv_value(out, raw);
      return;
    }
  }
  value(c, image, v);
  csv_value(out, v);
}

// A stored text with a letter in it, or a number with a digit other than 0
// (and no exponent that could make it 0), is not blank: the usual case, told
// without converting the value.
bool plainly_filled(const Column& c, RecordImage image) {
  if (c.offset + c.length > image.size() || (c.stored != Stored::kText && c.stored != Stored::kNumber)) return false;
  if (c.stored == Stored::kText) return !stored_text(image, c.offset, c.length).empty();
  std::string_view raw = stored_bytes(image, c.offset, c.length, true);
  return std::any_of(raw.begin(), raw.end(), [](char ch) { return ch >= '1' && ch <= '9'; }) &&
         std::none_of(raw.begin(), raw.end(), [](char ch) { return ch == 'e' || ch == 'E'; });
}

void translate_high_bytes(std::string& text, const std::array<uint8_t, 128>& map) {
  for (char& ch : text)
    if (uint8_t(ch) >= 0x80) ch = char(map[uint8_t(ch) - 0x80]);
}

bool Exporter::skipped(RecordImage image) {
  if (image[0] == '*' && !o_.copy_deleted) return true;
  if (o_.copy_blank) return false;
  std::string text;
  for (const Column& c : columns_) {
    if (plainly_filled(c, image)) return false;
    if (c.memo) {
      if (memo_block_number(table_, c.index) != 0) return false;
    } else if (c.numeric) {
      if (field_number(table_, image, c.index) != 0) return false;
    } else {
      field_text(table_, image, c.index, text);
      if (text.find_first_not_of(' ') != std::string::npos) return false;
    }
  }
  return true;
}

void Exporter::text_line(RecordImage image, uint32_t position, std::string& out) {
  const char delimiter = o_.delimiters ? o_.delimiter : 0;
  if (o_.numeration) {
    append_format(out, "%5lld", (long long)position + 1);
    if (delimiter) out += delimiter;
  }
  if (o_.delete_mark) {
    out += char(image[0] == '*' ? '*' : ' ');
    if (delimiter) out += delimiter;
  }
  for (size_t k = 0; k < columns_.size(); ++k) {
    std::string& v = values_[k];
    // The stored numbers keep their meaning: 1 is "Trim left", 2 "Trim right".
    if (o_.trim == ExportTrim::kLeft || o_.trim == ExportTrim::kBoth) trim_left(v);
    if (o_.trim == ExportTrim::kRight || o_.trim == ExportTrim::kBoth) trim_right(v);
    if (o_.quoting && !columns_[k].numeric) v = o_.quote_char + v + o_.quote_char;
    out += v;
    size_t shown = shown_length(v);
    if (o_.trim != ExportTrim::kBoth && shown < size_t(columns_[k].width))
      out.append(size_t(columns_[k].width) - shown, ' ');
    if (k + 1 < columns_.size() && delimiter) out += delimiter;
  }
  out += '\n';
}

void Exporter::sql_value(const Column& c, RecordImage image, const std::string& v, std::string& out) {
  if (c.numeric) {
    out += v.empty() ? "NULL" : v;
  } else if (c.type == 'L' && c.index < table_.field_count()) {
    char ch = char(std::toupper(image[field_desc(table_, c.index)->offset]));
    out += (ch == 'T' || ch == 'Y') ? "1" : (ch == 'F' || ch == 'N') ? "0" : "NULL";
  } else if (v.empty() && (c.type == 'D' || c.type == 'T')) {
    out += "NULL";
  } else {
    quoted_doubling(out, v, o_.sql_quote == '\'' ? '\'' : '"');
  }
}

void Exporter::prg_value(const Column& c, RecordImage image, const std::string& v, std::string& out) {
  if (c.numeric) {
    out += v.empty() ? "0" : v;
  } else if (c.type == 'L' && c.index < table_.field_count()) {
    char ch = char(std::toupper(image[field_desc(table_, c.index)->offset]));
    out += (ch == 'T' || ch == 'Y') ? ".T." : ".F.";
  } else if (c.type == 'D' && c.index < table_.field_count()) {
    out += "CTOD(";
    std::string text = v;
    trim_right(text);
    prg_string(out, text, o_.prg_quote);
    out += ')';
  } else {
    prg_string(out, v, o_.prg_quote);
  }
}

bool Exporter::record(RecordImage image, uint32_t position, std::string& out) {
  if (table_.first_memo_field >= 0) std::copy(image.begin(), image.end(), table_.record.begin());
  if (skipped(image)) return false;
  values_.resize(columns_.size());
  if (o_.format == ExportFormat::kCsv) {
    // The deletion mark leads as a column of its own, T for a deleted record.
    if (o_.deleted_column) out += image[0] == '*' ? "T," : "F,";
    for (size_t k = 0; k < columns_.size(); ++k) {
      if (k > 0) out += ',';
      csv_column(columns_[k], image, values_[k], out);
    }
    out += "\r\n";
    return true;
  }
  for (size_t k = 0; k < columns_.size(); ++k) value(columns_[k], image, values_[k]);
  switch (o_.format) {
    case ExportFormat::kText: text_line(image, position, out); break;
    case ExportFormat::kCsv: break;
    case ExportFormat::kSql: {
      out += "INSERT INTO ";
      quoted_doubling(out, base_name(table_.file_name, false), '"');
      out += " VALUES (";
      for (size_t k = 0; k < columns_.size(); ++k) {
        if (k > 0) out += ", ";
        sql_value(columns_[k], image, values_[k], out);
      }
      out += ");\n";
      break;
    }
    case ExportFormat::kHtml:
      out += "<tr>";
      if (o_.numeration) append_format(out, "<td align=right>%lld</td>", (long long)position + 1);
      if (o_.delete_mark) out += image[0] == '*' ? "<td>*</td>" : "<td>&nbsp;</td>";
      for (size_t k = 0; k < columns_.size(); ++k) {
        out += columns_[k].numeric ? "<td align=right>" : "<td>";
        out += values_[k].empty() ? std::string("&nbsp;") : html_encode_text(values_[k]);
        out += "</td>";
      }
      out += "</tr>\n";
      break;
    case ExportFormat::kXml:
      out += "      <Record";
      if (o_.numeration) append_format(out, " Number=\"%lld\"", (long long)position + 1);
      if (o_.delete_mark) out += image[0] == '*' ? " Deleted=\"1\"" : " Deleted=\"0\"";
      out += '>';
      for (size_t k = 0; k < columns_.size(); ++k) {
        if (o_.xml_table) translate_high_bytes(values_[k], o_.xml_table->map);
        out += xml_element(xml_name(columns_[k].name), values_[k], encoding_);
      }
      out += "</Record>\n";
      break;
    case ExportFormat::kClipper:
    case ExportFormat::kFoxPro:
      out += "APPEND BLANK\n";
      for (size_t k = 0; k < columns_.size(); ++k) {
        if (columns_[k].index >= table_.field_count()) continue;
        // A blank number, date or logical stays as APPEND BLANK left it.
        if (values_[k].empty() && columns_[k].type != 'C' && !columns_[k].memo) continue;
        out += "REPLACE " + columns_[k].name + " WITH ";
        prg_value(columns_[k], image, values_[k], out);
        out += '\n';
      }
      if (image[0] == '*') out += "DELETE\n";
      break;
    default: break;
  }
  return true;
}

}  // namespace

namespace {

// ---- text files ---------------------------------------------------------------------------

// Walks the records the options name, in view order; `each` returns false
// to stop (a failed write).
template <typename Each>
Status walk_records(const Table& table, const ExportOptions& o, const ProgressCallback& progress, Each each) {
  std::vector<PositionRange> ranges;
  if (o.records == ExportRecords::kCurrent) ranges.push_back({o.current, o.current});
  if (o.records == ExportRecords::kFollowing) ranges = o.list.ranges;
  uint64_t total = 0;
  for (const PositionRange& r : ranges) total += uint64_t(r.last) - r.first + 1;
  uint64_t before = 0;
  ProgressCallback counted;
  if (progress) {
    counted = [&](uint64_t done, uint64_t all) {
      return progress(before + done, o.records == ExportRecords::kAll ? all : total);
    };
  }
  auto run = [&](RecordScanner& scan) {
    ScannedRecord r;
    while (scan.next(r))
      if (!each(RecordImage(r.image, table.record_size), r.position, r.record)) return Status::kWriteError;
    return scan.status();
  };
  if (o.records == ExportRecords::kAll) {
    RecordScanner scan(table, ScanOrder::kView, counted);
    return run(scan);
  }
  for (const PositionRange& r : ranges) {
    RecordScanner scan(table, ScanOrder::kView, counted);
    scan.set_range(r.first, r.last == UINT32_MAX ? r.last : r.last + 1);
    Status status = run(scan);
    if (status != Status::kOk) return status;
    before += uint64_t(r.last) - r.first + 1;
  }
  return Status::kOk;
}

constexpr size_t kFlushBytes = 256 * 1024;

ExportResult write_bands(Table& table, const ExportOptions& o, const ExportWriter& write,
                         const ProgressCallback& progress) {
  if (o.format == ExportFormat::kJsonl) return write_jsonl(table, o, write, progress);
  ExportResult result;
  KeepRecord keep(table);
  Exporter exporter(table, o);
  std::string out;
  exporter.head(out);
  bool written = true;
  if (o.detail) {
    result.status = walk_records(table, o, progress, [&](RecordImage image, uint32_t position, uint32_t record) {
      exporter.set_record_number(record);
      if (exporter.record(image, position, out)) ++result.records;
      if (!exporter.refusal().empty()) return false;
      if (out.size() >= kFlushBytes) {
        written = write(out);
        out.clear();
      }
      return written;
    });
  }
  // An export that cannot be written whole ends there: a file keeps what it held.
  if (!exporter.refusal().empty()) {
    result.status = Status::kNotInCodePage;
    result.refusal = exporter.refusal();
    return result;
  }
  exporter.tail(out);
  result.warnings = exporter.warnings();
  written = written && write(out);
  if (!written) {
    result.output = OutputStatus::kWriteFailed;
    if (result.status == Status::kWriteError) result.status = Status::kOk;
  }
  return result;
}

}  // namespace

namespace {

// ---- DBF targets --------------------------------------------------------------------------

TableKind target_kind(const Table& source, int choice) {
  switch (choice) {
    case 1: return kDBase3;
    case 2: return kFoxPro;
    case 3: return kDBase4;
    case 4: return kVisualFoxPro;
    default: return source.kind == kSmtKind ? kDBase3 : source.kind;
  }
}

uint8_t version_byte(TableKind kind, bool memo) {
  switch (kind) {
    case kFoxPro: return memo ? 0xF5 : 0x03;
    case kDBase4: return memo ? 0x8B : 0x03;
    case kVisualFoxPro: return 0x30;
    default: return memo ? 0x83 : 0x03;
  }
}

// The names of the columns in a DBF target: a stored field keeps its own; a
// computed column its name cut to ten characters, and when a field of the
// source or an earlier column has that name, the name with _1, _2, ... so
// that its values never go into the field's place.
std::vector<std::string> target_names(const Table& source, const std::vector<Column>& columns) {
  std::vector<std::string> names;
  auto same = [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; };
  auto given = [&](const std::string& name) {
    return find_field(source, name) >= 0 ||
           std::any_of(names.begin(), names.end(), [&](const std::string& n) { return same(n, name); });
  };
  // A new name also stays clear of the names later columns bring.
  auto wanted_later = [&](const std::string& name) {
    for (size_t k = names.size() + 1; k < columns.size(); ++k) {
      if (columns[k].index >= source.field_count() && same(columns[k].caption.substr(0, 10), name)) return true;
    }
    return false;
  };
  for (const Column& c : columns) {
    if (c.index < source.field_count()) {
      names.push_back(field_name(source, c.index));
      continue;
    }
    std::string base = c.caption.substr(0, 10), name = base;
    for (int n = 1; given(name) || (name != base && wanted_later(name)); ++n) {
      std::string suffix = std::to_string(n);
      suffix.insert(suffix.begin(), '_');
      name = base.substr(0, 10 - suffix.size()) + suffix;
    }
    names.push_back(name);
  }
  return names;
}

// The descriptors of a new table with one field per column: stored fields
// keep type, length and decimals (memo pointers take the width the kind
// stores them in), computed ones become F(20,6) or C(20).
std::vector<FieldDesc> target_fields(const Table& source, const std::vector<Column>& columns, TableKind kind) {
  std::vector<FieldDesc> fields;
  const std::vector<std::string> names = target_names(source, columns);
  for (const Column& c : columns) {
    FieldDesc d;
    if (c.index < source.field_count()) {
      const FieldDesc& s = *field_desc(source, c.index);
      // A dBase 7 name is cut to the 11 bytes the target's descriptors hold.
      std::memcpy(d.name, s.name, 11);
      d.type = s.type;
      d.length = s.length;
      d.decimals = s.decimals;
      if (c.memo) {
        d.length = kind == kVisualFoxPro ? 4 : 10;
        d.decimals = 0;
      }
    } else {
      std::snprintf(d.name, sizeof d.name, "%.10s", names[fields.size()].c_str());
      bool numeric = c.type == 'N' || c.type == 'F';
      d.type = numeric ? 'F' : 'C';
      d.length = 20;
      d.decimals = numeric ? 6 : 0;
    }
    fields.push_back(d);
  }
  return fields;
}

int stored_length(const FieldDesc& d) { return d.type == 'C' ? d.length | (d.decimals << 8) : d.length; }

// Writes an empty table with these fields; false when it could not be written.
bool write_empty_table(const std::string& path, const std::vector<FieldDesc>& fields, TableKind kind, bool memo,
                       uint8_t code_page_mark) {
  std::string bytes(32, '\0');
  bytes[0] = char(version_byte(kind, memo));
  std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  bytes[1] = char(today.tm_year % 100);
  bytes[2] = char(today.tm_mon + 1);
  bytes[3] = char(today.tm_mday);
  size_t header = 32 + 32 * fields.size() + 1 + (kind == kVisualFoxPro ? 263 : 0);
  size_t record = 1;
  for (const FieldDesc& d : fields) record += size_t(stored_length(d));
  if (header > 0xFFFF || record > 0xFFFF) return false;
  bytes[8] = char(header & 0xFF);
  bytes[9] = char(header >> 8);
  bytes[10] = char(record & 0xFF);
  bytes[11] = char(record >> 8);
  bytes[29] = char(code_page_mark);
  size_t offset = 1;
  for (FieldDesc d : fields) {
    // FoxPro files keep each field's place in the record.
    d.offset = (kind == kFoxPro || kind == kVisualFoxPro) ? uint16_t(offset) : 0;
    offset += size_t(stored_length(d));
    uint8_t raw[32];
    encode_field_desc(d, raw);
    bytes.append(reinterpret_cast<const char*>(raw), 32);
  }
  bytes += '\r';
  if (kind == kVisualFoxPro) bytes.append(263, '\0');
  bytes += '\x1A';
  UniqueFd file(file_open(path, O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (file.fd < 0) return false;
  bool ok = write_all(file.fd, bytes);
  return file.close_checked() && ok;
}

uint8_t target_code_page_mark(const Table& source, ExportCodepage codepage) {
  switch (codepage) {
    case ExportCodepage::kAnsi: return 0xC9;
    case ExportCodepage::kOem: return 0x65;
    case ExportCodepage::kUtf8: return 0;  // no mark says UTF-8: the .cpg file does
    default: return source.code_page_mark();
  }
}

// The page a new table's text is written in, when it is not the source's.
std::shared_ptr<const CodePage> new_table_page(const ExportOptions& o) {
  switch (o.codepage) {
    case ExportCodepage::kAnsi: return CodePage::of_number(1251);
    case ExportCodepage::kOem: return CodePage::of_number(866);
    case ExportCodepage::kUtf8: return CodePage::of_number(65001);
    case ExportCodepage::kPage: return o.page;
    default: return nullptr;
  }
}

// A page the language driver mark does not say (UTF-8, or a page a .cpg
// file named) is written into a .cpg file beside the new table, as
// shapefile writers do, so that every reader (kora too) finds its page.
bool write_page_file(const std::string& table_path, const CodePage& page, uint8_t mark) {
  std::shared_ptr<const CodePage> marked = code_page_of_mark(mark);
  if (marked && marked->number() == page.number()) return true;
  // 866 and 1251 are told apart by their text, as they always were.
  if (page.number() == 866 || page.number() == 1251) return true;
  // The DOS and Windows pages by number, as shapefile writers name them;
  // UTF-8, ISO, KOI8 and the rest by name.
  std::string name = page.number() < 10000 ? std::to_string(page.number()) : std::string();
  std::shared_ptr<const CodePage> found = CodePage::find(name);
  if (!found || found->number() != page.number()) name = page.number() == 65001 ? "UTF-8" : page.name();
  std::string cpg = table_path;
  size_t dot = cpg.rfind('.');
  if (dot != std::string::npos && dot > cpg.rfind('/') + 1) cpg.resize(dot);
  cpg += ".cpg";
  OutputGuard replace{{}, [](const std::string&) { return true; }};
  return replace_output_file(cpg, name, replace) == OutputStatus::kOk;
}

// Fills the target's record from one source record. Fields copied as bytes
// are those stored alike; the rest go through their text.
struct FieldLink {
  int target;
  int source;  // a column index of the source
  bool bytes;  // copied as stored
  bool memo;   // the source's memo text goes into a memo field of the target
};

bool stored_alike(const Table& target, int i, const Table& source, int j) {
  if (j >= source.field_count() || holds_reference(target, i) || holds_reference(source, j)) return false;
  char type = field_type(target, i);
  if (type != field_type(source, j) || field_length(target, i) != field_length(source, j)) return false;
  return field_decimals(target, i) == field_decimals(source, j);
}

std::vector<FieldLink> link_fields(const Table& target, const Table& source, const std::vector<Column>& columns) {
  std::vector<FieldLink> links;
  const std::vector<std::string> names = target_names(source, columns);
  for (size_t k = 0; k < columns.size(); ++k) {
    const Column& c = columns[k];
    int i = find_field(target, names[k]);
    if (i < 0) continue;
    bool memo_source = c.memo;
    bool memo_target = is_memo_field(target, i);
    links.push_back({i, c.index, !memo_source && !memo_target && stored_alike(target, i, source, c.index),
                     memo_source && memo_target});
  }
  return links;
}

// Between tables of different pages the text goes across exactly; tables
// of 866 and 1251 keep the turn the ANSI and OEM choices make, and a target
// of no known page takes the bytes as they are.
TextRecoder dbf_recoder(const Table& source, std::shared_ptr<const CodePage> target_page) {
  std::shared_ptr<const CodePage> from = table_text_page(source);
  if (!from || !target_page) return {};
  auto cyrillic = [](const CodePage& page) { return page.number() == 866 || page.number() == 1251; };
  if (cyrillic(*from) && cyrillic(*target_page)) return {};
  return {from, target_page};
}

class DbfWriter {
 public:
  DbfWriter(Table& source, Table& target, const ExportOptions& o, bool journaled, TextRecoder recode)
      : source_(source), target_(target), o_(o), recode_(std::move(recode)),
        exporter_(source, text_options(o, recode_.active())), links_(link_fields(target, source, exporter_.columns())),
        out_(target, kAppendChunkBytes, journaled) {}

  bool add(RecordImage image, uint32_t record);
  Status finish() { return out_.finish(); }
  uint64_t refused() const { return refused_; }
  const std::string& refusal() const { return refusal_; }

 private:
  static ExportOptions text_options(ExportOptions o, bool recoding) {
    o.format = ExportFormat::kDbf;
    o.memo_as_text = true;
    if (recoding) o.codepage = ExportCodepage::kAsIs;
    return o;
  }
  bool recoded(const Column& c, uint32_t record);
  const Column& column_of(int index) const {
    for (const Column& c : exporter_.columns())
      if (c.index == index) return c;
    return exporter_.columns().front();
  }

  Table& source_;
  Table& target_;
  const ExportOptions& o_;
  TextRecoder recode_;
  Exporter exporter_;
  std::vector<FieldLink> links_;
  BatchAppender out_;
  std::string text_;
  uint64_t refused_ = 0;
  std::string refusal_;
};

// A text value in the target's page; false (the value refused, the first
// refusal kept) when the page cannot hold it. Memo texts go across, the
// bytes of pictures and binary memos never.
bool DbfWriter::recoded(const Column& c, uint32_t record) {
  char32_t bad = 0;
  if (!recode_.active() || !(c.type == 'C' || c.type == 'M') || recode_.convert(text_, &bad)) return true;
  if (refused_++ == 0) {
    std::string name = c.index < source_.field_count() ? field_name_utf8(source_, c.index) : c.caption;
    refusal_ = "Record " + std::to_string(uint64_t(record) + 1) + ", field " + name + ": " +
               cannot_hold_text(recode_.to(), bad);
  }
  return false;
}

bool DbfWriter::add(RecordImage image, uint32_t record) {
  if (source_.first_memo_field >= 0) std::copy(image.begin(), image.end(), source_.record.begin());
  if (exporter_.skipped(image)) return true;
  blank_record(target_);
  target_.record[0] = image[0];
  const bool convert = recode_.active() || (o_.codepage == ExportCodepage::kAnsi && !source_.ansi_text) ||
                       (o_.codepage == ExportCodepage::kOem && source_.ansi_text);
  for (const FieldLink& link : links_) {
    const Column& c = column_of(link.source);
    if (link.bytes && !(convert && c.type == 'C')) {
      const FieldDesc& from = *field_desc(source_, link.source);
      std::memcpy(target_.record.data() + field_desc(target_, link.target)->offset, image.data() + from.offset,
                  size_t(field_length(source_, link.source)));
      continue;
    }
    exporter_.value(c, image, text_);
    if (!recoded(c, record)) continue;
    if (link.memo) {
      if (!text_.empty() && out_.write_memo(target_.record.data(), link.target, text_) != Status::kOk) return false;
      continue;
    }
    // Values in their exact form (every digit, a date's stored digits),
    // whatever the formats; a computed column gives its text.
    if (link.source < source_.field_count() && c.type != 'C') text_ = field_value_text(source_, image, link.source);
    if (set_field_text(target_, link.target, text_) != FieldWrite::kStored) ++refused_;
  }
  return out_.append(target_.record.data()) == Status::kOk;
}

// Walks the source into the target table.
// An existing table is appended to under its journal; a new one is not yet anyone's.
ExportResult fill_table(Table& source, Table& target, const ExportOptions& o, const ProgressCallback& progress,
                        bool journaled, TextRecoder recode) {
  ExportResult result;
  KeepRecord keep(source);
  target.date_format = source.date_format;
  target.date_formats = source.date_formats;
  target.date_time_formats = source.date_time_formats;
  DbfWriter writer(source, target, o, journaled, std::move(recode));
  bool written = true;
  result.status = walk_records(source, o, progress, [&](RecordImage image, uint32_t, uint32_t record) {
    written = writer.add(image, record);
    return written;
  });
  Status finished = writer.finish();
  result.records = target.record_count;
  result.refused = writer.refused();
  result.refusal = writer.refusal();
  if (!written || finished != Status::kOk) {
    result.output = OutputStatus::kWriteFailed;
    result.status = finished != Status::kOk ? finished : Status::kWriteError;
  }
  return result;
}

// A new table made beside the target under a temporary name and renamed
// over it (memo file first) when it is whole.
ExportResult export_new_dbf(Table& source, const std::string& path, const ExportOptions& o,
                            const ProgressCallback& progress) {
  ExportResult result;
  TableKind kind = target_kind(source, o.dbf_kind);
  std::vector<Column> columns = export_columns(source);
  bool memo = std::any_of(columns.begin(), columns.end(), [](const Column& c) { return c.memo; });
  std::string temp = path + ".XXXXXX";
  UniqueFd made(mkostemp(temp.data(), O_CLOEXEC));
  if (made.fd < 0) return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  fchmod(made.fd, new_file_mode());
  made.close_checked();
  std::string temp_memo = memo_file_name(temp, kind);
  auto discard = [&] {
    file_unlink(temp);
    if (memo) file_unlink(temp_memo);
  };
  int block = o.block_size > 0 ? o.block_size : (source.first_memo_field >= 0 ? memo_block_size(source) : 512);
  if (!write_empty_table(temp, target_fields(source, columns, kind), kind, memo,
                         target_code_page_mark(source, o.codepage)) ||
      (memo && !create_memo_file(temp, kind, block))) {
    discard();
    return {OutputStatus::kWriteFailed, Status::kWriteError, 0, 0, {}, {}, {}};
  }
  Status why = Status::kOk;
  std::unique_ptr<Table> target = open_table(temp, &why);
  if (!target) {
    discard();
    return {OutputStatus::kCannotOpen, why, 0, 0, {}, {}, {}};
  }
  std::shared_ptr<const CodePage> page = new_table_page(o);
  result = fill_table(source, *target, o, progress, false, dbf_recoder(source, page));
  close_table(target);
  if (!result.ok()) {
    discard();
    return result;
  }
  HoldEndSignals hold;
  std::vector<std::pair<std::string, std::string>> renames = {{temp, path}};
  if (memo) renames.insert(renames.begin(), {temp_memo, memo_file_name(path, kind)});
  std::shared_ptr<const CodePage> written = page ? page : table_text_page(source);
  if (commit_renames(path, renames) != Status::kOk ||
      (written && !write_page_file(path, *written, target_code_page_mark(source, o.codepage)))) {
    discard();
    result.output = OutputStatus::kWriteFailed;
    result.status = Status::kWriteError;
  }
  return result;
}

ExportResult export_dbf(Table& source, const std::string& path, const ExportOptions& o, const OutputGuard& guard,
                        const ProgressCallback& progress) {
  std::string target_path = resolved_target(path);
  struct stat info;
  bool exists = stat(target_path.c_str(), &info) == 0;
  TableKind kind = target_kind(source, o.dbf_kind);
  if (is_one_of_files(target_path, guard.open_files) ||
      is_one_of_files(memo_file_name(target_path, kind), guard.open_files))
    return {OutputStatus::kOpenTable, Status::kOk, 0, 0, {}, {}, {}};
  if (!exists) return export_new_dbf(source, target_path, o, progress);
  if (!S_ISREG(info.st_mode)) return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  if (o.overwrite) {
    if (!(guard.confirm_replace && guard.confirm_replace(path))) return {OutputStatus::kCancelled, Status::kOk, 0, 0, {}, {}, {}};
    return export_new_dbf(source, target_path, o, progress);
  }
  // Append: only into a file that is a table, never over one that is not.
  Status why = Status::kOk;
  std::unique_ptr<Table> target = open_table(target_path, &why);
  if (!target) return {OutputStatus::kCannotOpen, why == Status::kOk ? Status::kCannotOpen : why, 0, 0, {}, {}, {}};
  if (target->read_only) return {OutputStatus::kCannotOpen, Status::kReadOnly, 0, 0, {}, {}, {}};
  if (is_one_of_files(target->memo_file_name, guard.open_files)) return {OutputStatus::kOpenTable, Status::kOk, 0, 0, {}, {}, {}};
  // Copied by name: a table sharing none would get blank records only.
  std::vector<FieldLink> links = link_fields(*target, source, export_columns(source));
  if (links.empty()) return {OutputStatus::kOk, Status::kNoCommonField, 0, 0, {}, {}, {}};
  uint32_t before = target->record_count;
  choose_code_page(*target, 0);
  decide_code_page(*target, 0);
  ExportResult result = fill_table(source, *target, o, progress, true, dbf_recoder(source, target->code_page));
  result.records = target->record_count - before;
  for (int i = 0; i < target->field_count(); ++i) {
    bool linked = std::any_of(links.begin(), links.end(), [&](const FieldLink& l) { return l.target == i; });
    if (!linked && field_type(*target, i) != '0') result.blank_fields.push_back(field_name(*target, i));
  }
  close_table(target);
  return result;
}

}  // namespace

std::vector<XmlCodeTable> list_xml_code_tables(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tbl") == 0) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<XmlCodeTable> tables;
  for (const std::string& name : names) {
    if (tables.size() == kMaxXmlCodeTables) break;
    struct stat about;
    std::string path = folder + "/" + name;
    if (stat(path.c_str(), &about) != 0 || !S_ISREG(about.st_mode)) continue;
    std::string bytes(kXmlCodeTableTitle + 128, '\0');
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.fd < 0 || read(fd.fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) continue;
    XmlCodeTable table;
    table.title = bytes.substr(0, kXmlCodeTableTitle);
    table.title.erase(table.title.find_last_not_of(std::string_view(" \0", 2)) + 1);
    table.encoding = name.substr(0, name.size() - 4);
    std::copy(bytes.begin() + kXmlCodeTableTitle, bytes.end(), table.map.begin());
    tables.push_back(std::move(table));
  }
  return tables;
}

const char* export_extension(ExportFormat format) { return format_row(format).extension; }

std::string export_file_name(std::string_view name, ExportFormat format) {
  std::string out(name);
  size_t slash = out.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  if (out.find('.', start) == std::string::npos) out += export_extension(format);
  return out;
}

bool export_format_from_name(std::string_view name, ExportFormat& format) {
  for (const FormatRow& row : kFormats) {
    if (name.size() == std::strlen(row.batch_name) && strncasecmp(name.data(), row.batch_name, name.size()) == 0) {
      format = row.format;
      return true;
    }
  }
  return false;
}

XmlEncoding export_xml_encoding(const Table& table, const ExportOptions& options) {
  // Bytes put through a chosen table are in its code page, where only the
  // control characters are refused.
  if (options.xml_table) return XmlEncoding::kCp866;
  // UTF-8 and a chosen page hold no byte without a character.
  if (options.codepage == ExportCodepage::kUtf8 || options.codepage == ExportCodepage::kPage)
    return XmlEncoding::kCp866;
  bool ansi = options.codepage == ExportCodepage::kAnsi ||
              (options.codepage == ExportCodepage::kAsIs && table.ansi_text);
  return ansi ? XmlEncoding::kWindows1251 : XmlEncoding::kCp866;
}

std::string export_declared_encoding(const Table& table, const ExportOptions& options) {
  if (options.format == ExportFormat::kXml && options.xml_table) return options.xml_table->encoding;
  std::shared_ptr<const CodePage> page = table_text_page(table);
  switch (options.codepage) {
    case ExportCodepage::kAnsi: page = CodePage::of_number(1251); break;
    case ExportCodepage::kOem: page = CodePage::of_number(866); break;
    case ExportCodepage::kUtf8: page = CodePage::of_number(65001); break;
    case ExportCodepage::kPage:
      if (options.page) page = options.page;
      break;
    default: break;
  }
  return page ? page->declared_name() : std::string("UTF-8");
}

ExportResult export_to_writer(Table& table, const ExportOptions& options, const ExportWriter& write,
                              const ProgressCallback& progress) {
  if (options.format == ExportFormat::kDbf || options.format == ExportFormat::kSqlite)
    return {OutputStatus::kCannotOpen, Status::kCannotOpen, 0, 0, {}, {}, {}};
  return write_bands(table, options, write, progress);
}

ExportResult export_table(Table& table, const std::string& path, const ExportOptions& options,
                          const OutputGuard& guard, const ProgressCallback& progress) {
  if (options.format == ExportFormat::kDbf) return export_dbf(table, path, options, guard, progress);
  if (options.format == ExportFormat::kSqlite) return export_sqlite(table, path, options, guard, progress);
  TempOutput output;
  ExportResult result;
  result.output = output.open(path, !options.overwrite, guard);
  if (result.output != OutputStatus::kOk) return result;
  result = write_bands(table, options, [&](std::string_view bytes) { return output.write(bytes); }, progress);
  if (result.ok()) result.output = output.commit();
  return result;
}

Status export_walk(Table& table, const ExportOptions& options, const ProgressCallback& progress,
                   const std::function<bool(RecordImage image, uint32_t position)>& each) {
  KeepRecord keep(table);
  Exporter exporter(table, options);
  return walk_records(table, options, progress, [&](RecordImage image, uint32_t position, uint32_t) {
    if (table.first_memo_field >= 0) std::copy(image.begin(), image.end(), table.record.begin());
    return exporter.skipped(image) || each(image, position);
  });
}

bool export_record(Table& table, uint32_t position, const ExportOptions& options, std::string& out) {
  if (options.format == ExportFormat::kDbf || options.format == ExportFormat::kSqlite) return false;
  KeepRecord keep(table);
  Exporter exporter(table, options);
  bool written = false;
  ExportOptions one = options;
  one.records = ExportRecords::kCurrent;
  one.current = position;
  walk_records(table, one, {}, [&](RecordImage image, uint32_t at, uint32_t record) {
    exporter.set_record_number(record);
    written = exporter.record(image, at, out);
    return true;
  });
  return written;
}

}  // namespace kora
