// Every DBF file of the shared fixtures, read through the engine and compared
// with what other software says about it: the MANIFEST's header facts and
// field lists, the expected-value files kept beside the tables (summaries,
// single records, CSV exports, code-page names) and, value by value, the
// independent reader dbfread (through tests/table/dbf_dump.py).
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"

namespace kora {
namespace {

namespace fs = std::filesystem;
using test::fixture;

// ---------------------------------------------------------------------------
// Small helpers

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string from_hex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// A short printable form of bytes for failure messages.
std::string shown(const std::string& bytes, size_t limit = 80) {
  std::string out;
  for (unsigned char c : bytes.substr(0, limit)) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  if (bytes.size() > limit) out += "...(" + std::to_string(bytes.size()) + " bytes)";
  return "\"" + out + "\"";
}

std::string rtrim(std::string s, const char* set = " ") {
  size_t end = s.find_last_not_of(set);
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string cut_at_nul(const std::string& s) { return s.substr(0, s.find('\0')); }

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  return out;
}

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool close_enough(double got, double want) {
  return std::fabs(got - want) <= 1e-9 * std::max(1.0, std::fabs(want));
}

// The number a decimal conversion reads from the start of the field bytes:
// leading spaces skipped, stopping at the first character that cannot continue
// a number (a NUL, a comma, an asterisk).
double prefix_number(const std::string& raw) {
  std::string text = cut_at_nul(raw);
  return std::strtod(text.c_str(), nullptr);
}

// Relative paths of every table in the fixtures: .dbf and .dbc in any case.
std::vector<std::string> all_tables() {
  std::vector<std::string> paths;
  fs::path root = fixture("");
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string ext = lower(it->path().extension().string());
    if (ext == ".dbf" || ext == ".dbc") paths.push_back(fs::relative(it->path(), root).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The field's bytes in the current record.
std::string field_bytes(const Table& t, int i) {
  const FieldDesc& d = t.fields[size_t(i)];
  return std::string(reinterpret_cast<const char*>(&t.record[d.offset]), size_t(field_length(t, i)));
}

std::string field_name_bytes(const Table& t, int i) {
  return cut_at_nul(std::string(t.fields[size_t(i)].name, sizeof t.fields[0].name));
}

std::unique_ptr<Table> open_fixture(const std::string& relative) {
  std::unique_ptr<Table> t = open_table(fixture(relative));
  if (t) t->trim_mode = 0;
  return t;
}

// ---------------------------------------------------------------------------
// The independent reader's view of a table (tests/table/dbf_dump.py)

struct DumpField {
  std::string name;
  char type = 0;
  int length = 0;
  int decimals = 0;
};

struct DumpValue {
  std::string raw;
  std::string kind;   // S N Z D T L M M4 O X E
  std::string value;  // decoded bytes for S/M, text otherwise
};

struct DumpRecord {
  int flag = 0;
  std::vector<DumpValue> values;
  std::map<int, std::string> utf8;  // field -> text decoded from a code page
};

struct Dump {
  std::string failure;  // dbfread refused the table
  int version = 0, header_count = 0, derived_count = 0, header_size = 0, record_size = 0;
  std::vector<DumpField> fields;
  std::vector<DumpRecord> records;
};

std::string dump_command(const std::string& path, const std::string& extra = "") {
  return std::string("/usr/bin/python3 '") + KORA_SOURCE_DIR + "/tests/table/dbf_dump.py' '" + path + "' " + extra;
}

bool load_dump(const std::string& path, Dump& dump, const std::string& extra = "") {
  std::string out;
  if (test::run_command(dump_command(path, extra), out) != 0) return false;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    if (tag == "FAIL") {
      dump.failure = line.substr(5);
    } else if (tag == "H") {
      in >> dump.version >> dump.header_count >> dump.derived_count >> dump.header_size >> dump.record_size;
    } else if (tag == "F") {
      DumpField f;
      int index;
      std::string name;
      in >> index >> name >> f.type >> f.length >> f.decimals;
      f.name = from_hex(name);
      dump.fields.push_back(f);
    } else if (tag == "R") {
      int index;
      std::string flag;
      in >> index >> flag;
      dump.records.emplace_back();
      dump.records.back().flag = std::stoi(flag, nullptr, 16);
    } else if (tag == "V" && !dump.records.empty()) {
      DumpValue v;
      int index;
      std::string raw;
      in >> index >> raw >> v.kind;
      v.raw = from_hex(raw);
      std::getline(in >> std::ws, v.value);
      if (v.kind == "S" || v.kind == "M" || v.kind == "M4") v.value = from_hex(v.value);
      dump.records.back().values.push_back(v);
    } else if (tag == "U" && !dump.records.empty()) {
      int index;
      std::string hex;
      in >> index >> hex;
      dump.records.back().utf8[index] = from_hex(hex);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The MANIFEST's facts per file

struct ManifestField {
  std::string name;  // bytes
  char type = 0;
  int length = 0;
  int decimals = 0;
};

struct ManifestEntry {
  int version = -1, records = -1, header_size = -1, record_size = -1;
  std::vector<ManifestField> fields;
};

// Splits "A C(1), B N(5,2){nullable,binary}, ..." at the commas outside brackets.
std::vector<std::string> split_field_list(const std::string& list) {
  std::vector<std::string> items;
  std::string item;
  int depth = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    char c = list[i];
    if (c == '(' || c == '{' || c == '[') ++depth;
    if (c == ')' || c == '}' || c == ']') --depth;
    if (c == ',' && depth == 0 && i + 1 < list.size() && list[i + 1] == ' ') {
      items.push_back(item);
      item.clear();
      ++i;
      continue;
    }
    item += c;
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

// "NAME [note] T(len[,dec]){flags}[note]"
bool parse_manifest_field(const std::string& text, ManifestField& f) {
  size_t paren = text.rfind('(');
  while (paren != std::string::npos && paren >= 2 && text[paren - 2] != ' ') paren = text.rfind('(', paren - 1);
  if (paren == std::string::npos || paren < 2) return false;
  f.type = text[paren - 1];
  size_t close = text.find(')', paren);
  std::vector<std::string> numbers = split(text.substr(paren + 1, close - paren - 1), ',');
  f.length = std::stoi(numbers.at(0));
  f.decimals = numbers.size() > 1 ? std::stoi(numbers[1]) : 0;
  std::string name = text.substr(0, paren - 2);
  size_t note = name.find(" [");
  if (note != std::string::npos) {
    std::string remark = name.substr(note + 2);
    name = name.substr(0, note);
    const std::string hex_mark = "non-ASCII name bytes ";
    if (remark.rfind(hex_mark, 0) == 0) name = from_hex(remark.substr(hex_mark.size(), remark.find(']') - hex_mark.size()));
  }
  f.name = name;
  return true;
}

std::map<std::string, ManifestEntry> load_manifest() {
  std::map<std::string, ManifestEntry> entries;
  std::istringstream lines(read_text(fixture("MANIFEST.md")));
  std::string line, current;
  while (std::getline(lines, line)) {
    if (line.rfind("- **`", 0) == 0) {
      size_t end = line.find("`**", 5);
      current = line.substr(5, end - 5);
      entries[current];
      continue;
    }
    if (current.empty()) continue;
    ManifestEntry& e = entries[current];
    if (line.rfind("  - version 0x", 0) == 0) {
      e.version = std::stoi(line.substr(14, 2), nullptr, 16);
      auto number_after = [&](const std::string& key) {
        size_t at = line.find(key);
        return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size());
      };
      e.records = number_after("; records ");
      e.header_size = number_after("; header ");
      e.record_size = number_after("; reclen ");
    } else if (line.rfind("  - fields (", 0) == 0) {
      std::string list = line.substr(line.find("): ") + 3);
      if (list == "(no fields)") continue;
      for (const std::string& item : split_field_list(list)) {
        ManifestField f;
        if (parse_manifest_field(item, f)) e.fields.push_back(f);
      }
    } else if (line.rfind("### ", 0) == 0) {
      current.clear();
    }
  }
  return entries;
}

const std::map<std::string, ManifestEntry>& manifest() {
  static const std::map<std::string, ManifestEntry> entries = load_manifest();
  return entries;
}

// ---------------------------------------------------------------------------
// Files dbfread cannot read (dBase II, dBase 7, a header without fields).
// They are checked against a small reader of their layouts below.
struct OwnLayoutFile {
  const char* path;
  const char* what;
};

constexpr OwnLayoutFile kOwnLayouts[] = {
    {"infused-dbf/dbase_02.dbf", "dBase II layout"},
    {"infused-dbf/dbase_8c.dbf", "dBase 7 layout"},
    {"php-xbase/dBase/dBaseVII.dbf", "dBase 7 layout"},
    {"php-xbase/dBase/dBaseVII_double.dbf", "dBase 7 layout"},
    {"php-xbase/dBase/dBaseVII_int.dbf", "dBase 7 layout"},
    {"php-xbase/dBase/dBaseVII_ts.dbf", "dBase 7 layout"},
    {"infused-dbf/polygon.dbf", "34 bytes, no field descriptors"},
};

bool has_own_layout(const std::string& path) {
  for (const OwnLayoutFile& u : kOwnLayouts)
    if (path == u.path) return true;
  return false;
}


// ---------------------------------------------------------------------------
// Comparing one table with dbfread, value by value

struct Findings {
  std::vector<std::string> faults;
  std::vector<std::string> differences;  // known differences of representation
  long compared = 0;

  void fault(const std::string& text) { faults.push_back(text); }
  void report(const std::string& path) const {
    for (size_t i = 0; i < faults.size() && i < 25; ++i) ADD_FAILURE() << path << ": " << faults[i];
    if (faults.size() > 25) ADD_FAILURE() << path << ": " << faults.size() - 25 << " more differences";
  }
};

std::string where(int record, const Table& t, int i) {
  return "record " + std::to_string(record) + " field " + std::to_string(i) + " " + field_name(t, i) + " (" +
         field_type(t, i) + std::to_string(field_length(t, i)) + ")";
}

void compare_number(Table& t, int i, const DumpValue& v, const std::string& at, Findings& f) {
  double got = double(field_number(t, i));
  double want = 0;
  if (v.kind == "N") {
    want = std::strtod(v.value.c_str(), nullptr);
    // dbfread reads a decimal comma as a point; the engine's conversion stops
    // at it, like every number conversion of the program.
    if ((field_type(t, i) == 'N' || field_type(t, i) == 'F') && v.raw.find(',') != std::string::npos) {
      f.differences.push_back(at + ": " + shown(v.raw) + " dbfread " + v.value);
      want = prefix_number(v.raw);
    }
  } else if (v.kind == "E") {
    // dbfread refuses numbers padded with NUL bytes; the number is the text before them.
    f.differences.push_back(at + ": " + shown(v.raw) + " dbfread refused it");
    want = prefix_number(v.raw);
  }
  if (!close_enough(got, want))
    f.fault(at + ": number " + std::to_string(got) + ", dbfread " + (v.kind == "Z" ? "blank" : v.value) + " from " +
            shown(v.raw));
}

void compare_date(Table& t, int i, const DumpValue& v, const std::string& at, Findings& f) {
  DateParts d = field_date(t, i);
  bool blank = is_date_blank(t, i);
  if (v.kind == "Z" || v.kind == "E") {
    if (!blank) f.fault(at + ": date " + shown(v.raw) + " should be blank (dbfread: " + v.kind + ")");
    return;
  }
  int want[6] = {0, 0, 0, 0, 0, 0};
  std::sscanf(v.value.c_str(), "%d-%d-%d-%d-%d-%d", &want[0], &want[1], &want[2], &want[3], &want[4], &want[5]);
  int got[6] = {d.year, d.month + 1, d.day, d.hour, d.minute, d.second};
  int parts = v.kind == "T" ? 6 : 3;
  bool same = !blank;
  for (int k = 0; k < parts; ++k) same = same && got[k] == want[k];
  if (!same) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d%s", got[0], got[1], got[2], got[3], got[4],
                  got[5], blank ? " (blank)" : "");
    f.fault(at + ": date " + text + ", dbfread " + v.value + " from " + shown(v.raw));
  }
}

void compare_memo(Table& t, int i, const DumpValue& v, const std::string& at, Findings& f) {
  std::string text;
  bool found = read_memo(t, i, text);
  if (v.kind == "O") {
    if (found && !text.empty()) f.fault(at + ": memo " + shown(text) + " where dbfread finds none");
    return;
  }
  if (!found) {
    f.fault(at + ": no memo, dbfread " + shown(v.value) + " (block field " + shown(v.raw) + ")");
    return;
  }
  bool same = text == v.value;
  if (v.kind == "M4") {
    // dbfread's dBase IV reader takes the block's total length from after the
    // block header (8 bytes too many) and cuts at the first 0x1F.
    same = v.value.size() >= text.size() ? v.value.compare(0, text.size(), text) == 0
                                         : text.compare(0, v.value.size(), v.value) == 0 && text[v.value.size()] == 0x1F;
  } else if (!same && v.value.size() > 65535 && text.size() == 65535) {
    same = v.value.compare(0, 65535, text) == 0;  // texts are read into 64 KB at most
    if (same) f.differences.push_back(at + ": memo of " + std::to_string(v.value.size()) + " bytes cut at 65535");
  }
  if (!same) f.fault(at + ": memo " + shown(text) + ", dbfread " + shown(v.value));
}

void compare_value(Table& t, int record, int i, const DumpValue& v, Findings& f) {
  std::string at = where(record, t, i);
  ++f.compared;
  std::string bytes = field_bytes(t, i);
  if (bytes != v.raw) {
    f.fault(at + ": bytes " + shown(bytes) + ", file " + shown(v.raw));
    return;
  }
  const char* text = field_text(t, i);  // every type must display without harm
  if (!text) f.fault(at + ": no display text");
  char type = field_type(t, i);
  bool null = is_null_field(t, RecordImage(t.record), i);
  if (null != (v.kind == "NULL")) f.fault(at + (null ? ": null, the null flags say not" : ": not null, the null flags say null"));
  if (v.kind == "NULL") {
    if (*text) f.fault(at + ": a null value shows " + shown(text));
  } else if (v.kind == "S") {
    std::string got = rtrim(field_raw_text(t, i));
    std::string want = rtrim(cut_at_nul(v.value));
    if (got != want) f.fault(at + ": text " + shown(got) + ", dbfread " + shown(want));
    if (type == 'C' && std::string(field_text(t, i)) != field_raw_text(t, i))
      f.fault(at + ": display text differs from the field's text");
  } else if (v.kind == "L") {
    char c = field_text(t, i)[0];
    const char* allowed = v.value == "T" ? "TtYy" : v.value == "F" ? "FfNn" : "? ";
    if (c == 0 || !std::strchr(allowed, c)) f.fault(at + ": logical " + shown(std::string(1, c)) + ", dbfread " + v.value);
  } else if (type == 'D' || type == 'T') {
    compare_date(t, i, v, at, f);
  } else if (v.kind == "N" || ((v.kind == "Z" || v.kind == "E") && is_numeric_field(t, i))) {
    compare_number(t, i, v, at, f);
  } else if (v.kind == "M" || v.kind == "M4" || v.kind == "O") {
    if (is_memo_field(t, i)) compare_memo(t, i, v, at, f);
  }
}

void compare_with_dbfread(const std::string& path, Table& t, const Dump& dump, Findings& f) {
  if (t.field_count() != int(dump.fields.size())) {
    f.fault("field count " + std::to_string(t.field_count()) + ", dbfread " + std::to_string(dump.fields.size()));
    return;
  }
  for (int i = 0; i < t.field_count(); ++i) {
    const DumpField& d = dump.fields[size_t(i)];
    if (field_name_bytes(t, i) != d.name || field_type(t, i) != d.type || field_length(t, i) != d.length ||
        (d.type != 'C' && field_decimals(t, i) != d.decimals))
      f.fault("field " + std::to_string(i) + ": " + shown(field_name_bytes(t, i)) + " " + field_type(t, i) + "(" +
              std::to_string(field_length(t, i)) + "," + std::to_string(field_decimals(t, i)) + "), dbfread " +
              shown(d.name) + " " + d.type + "(" + std::to_string(d.length) + "," + std::to_string(d.decimals) + ")");
  }
  if (t.record_size != dump.record_size)
    f.fault("record size " + std::to_string(t.record_size) + ", fields give " + std::to_string(dump.record_size));
  if (int(t.record_count) != dump.derived_count)
    f.fault("record count " + std::to_string(t.record_count) + ", file holds " + std::to_string(dump.derived_count));
  if (!f.faults.empty()) return;
  for (size_t r = 0; r < dump.records.size(); ++r) {
    if (read_record(t, uint32_t(r)) != 1) {
      f.fault("record " + std::to_string(r) + " cannot be read");
      continue;
    }
    if (t.record[0] != dump.records[r].flag)
      f.fault("record " + std::to_string(r) + ": deletion flag " + std::to_string(t.record[0]) + ", file " +
              std::to_string(dump.records[r].flag));
    for (int i = 0; i < t.field_count(); ++i) compare_value(t, int(r), i, dump.records[r].values[size_t(i)], f);
  }
  if (read_record(t, t.record_count) != 0) f.fault("a record past the end reads as present");
  (void)path;
}

// ---------------------------------------------------------------------------
// One test per table file

class FixtureTable : public ::testing::TestWithParam<std::string> {};

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

TEST_P(FixtureTable, AgreesWithTheManifest) {
  const std::string& path = GetParam();
  auto it = manifest().find(path);
  ASSERT_NE(it, manifest().end()) << path << " is not in MANIFEST.md";
  const ManifestEntry& m = it->second;
  ASSERT_GE(m.version, 0) << "no header facts for " << path;
  std::unique_ptr<Table> t = open_fixture(path);
  ASSERT_TRUE(t) << path << " does not open";

  if (is_known_version(uint8_t(m.version))) {
    EXPECT_EQ(t->version(), m.version);
    EXPECT_EQ(t->header_errors & kBadVersion, 0);
  } else {
    EXPECT_NE(t->header_errors & kBadVersion, 0) << "version " << m.version << " is not a known byte";
  }
  EXPECT_EQ(int(t->record_count), m.records);
  EXPECT_EQ(t->header_errors & kBadRecordCount, 0);
  EXPECT_EQ(t->header_size, m.header_size);

  ASSERT_EQ(t->field_count(), int(m.fields.size()));
  int sum = 1;
  for (int i = 0; i < t->field_count(); ++i) {
    const ManifestField& mf = m.fields[size_t(i)];
    SCOPED_TRACE("field " + std::to_string(i) + " " + mf.name);
    EXPECT_EQ(field_name_bytes(*t, i), mf.name);
    EXPECT_EQ(field_type(*t, i), mf.type);
    EXPECT_EQ(field_length_byte(*t, i), mf.length);
    EXPECT_EQ(field_decimals(*t, i), mf.decimals);
    int length = mf.type == 'C' ? mf.length + 256 * mf.decimals : mf.length;
    EXPECT_EQ(field_length(*t, i), length);
    sum += length;
  }
  EXPECT_EQ(int(t->record_size), sum);
  // The views show every field but the system ones (the null flags), in order.
  std::vector<int> shown_fields, user_fields;
  for (int k = 0; k < column_count(*t); ++k) shown_fields.push_back(column_field(*t, k));
  for (int i = 0; i < t->field_count(); ++i)
    if (m.fields[size_t(i)].type != '0') user_fields.push_back(i);
  EXPECT_EQ(shown_fields, user_fields);
  // The one file whose header gives a record size unlike its fields
  // (stations_with_deleted.dbf: 1016 for fields of 1017) holds records of 1017.
  if (m.record_size != sum) {
    EXPECT_EQ(test::file_size(fixture(path)), m.header_size + long(m.records) * sum + 1) << path;
  }
}

TEST_P(FixtureTable, AgreesWithDbfread) {
  const std::string& path = GetParam();
  Dump dump;
  ASSERT_TRUE(load_dump(fixture(path), dump)) << "the dump script failed on " << path;
  std::unique_ptr<Table> t = open_fixture(path);
  if (has_own_layout(path)) return;  // OwnLayouts below
  if (!dump.failure.empty()) {
    // Only POLYGON.dbf, whose field list lacks its terminator, stops dbfread;
    // DamagedFiles checks the engine's reading of it.
    EXPECT_EQ(path, "mapshaper/dbf/POLYGON.dbf") << "dbfread cannot read it: " << dump.failure;
    return;
  }
  ASSERT_TRUE(t) << path << " does not open";
  Findings f;
  compare_with_dbfread(path, *t, dump, f);
  f.report(path);
  for (const std::string& d : f.differences) RecordProperty("difference", d);
  if (!f.differences.empty())
    std::cout << "[ note ] " << path << ": " << f.differences.size() << " known difference(s), e.g. "
              << f.differences.front() << "\n";
  EXPECT_EQ(f.compared, long(dump.records.size() * dump.fields.size()));
}

INSTANTIATE_TEST_SUITE_P(All, FixtureTable, ::testing::ValuesIn(all_tables()), test_name);

TEST(FixtureTables, AreAllFoundAndListed) {
  std::vector<std::string> tables = all_tables();
  EXPECT_GE(tables.size(), 90u);
  for (const std::string& p : tables) EXPECT_TRUE(manifest().count(p)) << p << " is not in MANIFEST.md";
  for (const auto& [p, entry] : manifest()) {
    std::string ext = lower(fs::path(p).extension().string());
    if (ext == ".dbf" || ext == ".dbc") {
      EXPECT_TRUE(std::find(tables.begin(), tables.end(), p) != tables.end()) << p;
    }
  }
}


// ---------------------------------------------------------------------------
// Layouts dbfread does not read, and damaged files

// Reads every record and shows every field; what a browse over the table does.
void browse_everything(Table& t) {
  if (t.record_count > 0) {
    ASSERT_LE(long(t.header_size) + long(t.record_count) * t.record_size, test::file_size(t.file_name));
  }
  for (uint32_t r = 0; r < t.record_count; ++r) {
    ASSERT_EQ(read_record(t, r), 1) << "record " << r;
    for (int i = 0; i < t.field_count(); ++i) {
      ASSERT_NE(field_text(t, i), nullptr);
      std::string memo;
      if (is_memo_field(t, i)) read_memo(t, i, memo);
    }
  }
}

// A reader of the dBase II, dBase 7 and field-less layouts written from the
// formats' published descriptions, for the files dbfread cannot read: each
// field's value in a plain text form.
struct PlainTable {
  struct Field {
    std::string name;
    char type;
    int length, decimals;
  };
  std::vector<Field> fields;
  std::vector<std::vector<std::string>> records;  // field bytes
};

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

PlainTable read_plain(const std::vector<uint8_t>& b) {
  PlainTable t;
  size_t first = 32, size = 32, name = 11, type = 11, length = 16, decimals = 17;
  uint32_t count = b[4] | b[5] << 8 | b[6] << 16 | uint32_t(b[7]) << 24;
  size_t header = b[8] | b[9] << 8;
  if (b[0] == 0x02) {  // dBase II: count in 1-2, records from 521
    first = 8, size = 16, type = 11, length = 12, decimals = 15;
    count = b[1] | b[2] << 8;
    header = 521;
  } else if ((b[0] & 7) == 4) {  // dBase 7: language driver, then 48-byte descriptors
    first = 68, size = 48, name = 32, type = 32, length = 33, decimals = 34;
  }
  for (size_t at = first; b[at] != 0x0D && at < header; at += size)
    t.fields.push_back({cut_at_nul(std::string(b.begin() + long(at), b.begin() + long(at + name))), char(b[at + type]),
                        b[at + length], b[at + decimals]});
  for (size_t r = 0, at = header; r < count; ++r) {
    std::vector<std::string> values;
    ++at;  // the deletion flag
    for (const PlainTable::Field& f : t.fields) {
      values.emplace_back(b.begin() + long(at), b.begin() + long(at) + f.length);
      at += size_t(f.length);
    }
    t.records.push_back(values);
  }
  return t;
}

// Days since 1970-01-01 as a civil date (the well-known era algorithm).
std::string civil_date(long long days) {
  days += 719468;
  long long era = (days >= 0 ? days : days - 146096) / 146097;
  long long doe = days - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (m <= 2);
  std::string text = std::to_string(y);
  for (long long part : {m, d}) {
    text += part < 10 ? "-0" : "-";
    text += std::to_string(part);
  }
  return text;
}

// The value of a field's bytes as the format describes it; "" for no value.
std::string plain_value(const PlainTable::Field& f, const std::string& bytes) {
  auto p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.find_first_not_of('\0') == std::string::npos && std::strchr("+IO@", f.type)) return "";
  char text[64];
  switch (f.type) {
    case '+':
    case 'I':  // big-endian, the sign bit set for positive numbers
      return std::to_string(int32_t(be32(p) ^ 0x80000000u));
    case 'O': {  // positive: the sign bit flipped; negative: every bit
      uint64_t bits = be64(p);
      bits = bits >> 63 ? bits ^ (uint64_t(1) << 63) : ~bits;
      double value;
      std::memcpy(&value, &bits, 8);
      std::snprintf(text, sizeof text, "%.*f", f.decimals, value);
      return text;
    }
    case '@': {  // milliseconds from the day before 0001-01-01
      uint64_t bits = be64(p);
      double ms;
      std::memcpy(&ms, &bits, 8);
      long long whole = (long long)ms, day = whole / 86400000, s = whole % 86400000 / 1000;
      std::snprintf(text, sizeof text, " %02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
      return civil_date(day - 719163) + text;
    }
    case 'N':
    case 'F': {
      std::string trimmed = rtrim(bytes.substr(bytes.find_first_not_of(' ') == std::string::npos ? 0 : bytes.find_first_not_of(' ')));
      if (trimmed.empty()) return "";
      std::snprintf(text, sizeof text, "%.*f", f.decimals, std::strtod(trimmed.c_str(), nullptr));
      return text;
    }
    default:
      return rtrim(cut_at_nul(bytes));
  }
}

// The same value as kora gives it.
std::string kora_value(Table& t, int i) {
  char text[64];
  switch (field_type(t, i)) {
    case '@': {
      if (is_date_blank(t, i)) return "";
      DateParts d = field_date(t, i);
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month + 1, d.day, d.hour, d.minute,
                    d.second);
      return text;
    }
    case '+':
    case 'I':
    case 'O':
    case 'N':
    case 'F': {
      std::string shown = field_text(t, i);
      if (shown.find_first_not_of(' ') == std::string::npos) return "";
      if (field_type(t, i) == '+' || field_type(t, i) == 'I') return std::to_string((long)field_number(t, i));
      std::snprintf(text, sizeof text, "%.*f", field_decimals(t, i), double(field_number(t, i)));
      return text;
    }
    default:
      return rtrim(field_raw_text(t, i));
  }
}

TEST(OwnLayouts, DBaseIIAndDBase7TablesAndAHeaderWithoutFieldsGiveTheirFormatsValues) {
  struct Case {
    const char* path;
    const char* type;       // as the database information names it
    const char* read_only;  // why kora does not change it
  };
  const Case cases[] = {
      {"infused-dbf/dbase_02.dbf", "dBase II", "dBase II table"},
      {"infused-dbf/dbase_8c.dbf", "dBase 7", ""},
      {"php-xbase/dBase/dBaseVII.dbf", "dBase 7", ""},
      {"php-xbase/dBase/dBaseVII_double.dbf", "dBase 7", ""},
      {"php-xbase/dBase/dBaseVII_int.dbf", "dBase 7", ""},
      {"php-xbase/dBase/dBaseVII_ts.dbf", "dBase 7", ""},
      {"infused-dbf/polygon.dbf", "dBase III", ""},
  };
  EXPECT_EQ(std::size(cases), std::size(kOwnLayouts));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PlainTable plain = read_plain(test::read_bytes(fixture(c.path)));
    std::unique_ptr<Table> t = open_fixture(c.path);
    ASSERT_TRUE(t);
    EXPECT_STREQ(table_type_name(*t), c.type);
    EXPECT_EQ(read_only_reason(*t), c.read_only);
    ASSERT_EQ(t->field_count(), int(plain.fields.size()));
    for (int i = 0; i < t->field_count(); ++i) {
      EXPECT_EQ(field_name(*t, i), plain.fields[size_t(i)].name);
      EXPECT_EQ(field_type(*t, i), plain.fields[size_t(i)].type);
      EXPECT_EQ(field_length(*t, i), plain.fields[size_t(i)].length);
    }
    ASSERT_EQ(t->record_count, plain.records.size());
    for (uint32_t r = 0; r < t->record_count; ++r) {
      ASSERT_EQ(read_record(*t, r), 1);
      for (int i = 0; i < t->field_count(); ++i) {
        const PlainTable::Field& f = plain.fields[size_t(i)];
        EXPECT_EQ(kora_value(*t, i), plain_value(f, plain.records[r][size_t(i)])) << "record " << r << " " << f.name;
      }
    }
    browse_everything(*t);
  }
}

TEST(OwnLayouts, DBase7ValuesAreStoredInTheirOwnFormAndDBaseIIIsNeverWritten) {
  test::TempDir dir;
  struct Case {
    const char* fixture;
    const char* field;
    const char* input;
    const char* stored;  // as the format's description reads it back
  };
  const Case cases[] = {
      {"php-xbase/dBase/dBaseVII_int.dbf", "INT", "-12345", "-12345"},
      {"php-xbase/dBase/dBaseVII_int.dbf", "INT", "2147483647", "2147483647"},
      {"php-xbase/dBase/dBaseVII_double.dbf", "double", "-2.5", "-2"},
      {"php-xbase/dBase/dBaseVII_double.dbf", "double", "1234.75", "1235"},
      {"php-xbase/dBase/dBaseVII_ts.dbf", "TS", "20010203040506", "2001-02-03 04:05:06"},
      {"php-xbase/dBase/dBaseVII.dbf", "AUTO_INC", "77", "77"},
      {"php-xbase/dBase/dBaseVII.dbf", "NAME", "Ann", "Ann"},
      {"php-xbase/dBase/dBaseVII.dbf", "MONEY", "12.5", "12.5000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.field + " " + c.input);
    std::string path = dir.copy_fixture(c.fixture, "t.dbf");
    {
      std::unique_ptr<Table> t = open_table(path);
      ASSERT_TRUE(t);
      t->date_format = 0;
      int i = find_field(*t, c.field);
      ASSERT_GE(i, 0);
      ASSERT_EQ(read_record(*t, 1), 1);
      ASSERT_EQ(set_field_text(*t, i, c.input), FieldWrite::kStored);
      ASSERT_EQ(write_record(*t, 1), 1);
    }
    PlainTable plain = read_plain(test::read_bytes(path));
    size_t i = 0;
    while (i < plain.fields.size() && plain.fields[i].name != c.field) ++i;
    ASSERT_LT(i, plain.fields.size());
    EXPECT_EQ(plain_value(plain.fields[i], plain.records[1][i]), c.stored);
  }

  // Appended records take the autoincrement counter's next values (the
  // fixture's ten records are numbered 1 to 10) and the counter moves on.
  std::string fish = dir.copy_fixture("infused-dbf/dbase_8c.dbf", "fish.dbf");
  {
    std::unique_ptr<Table> t = open_table(fish);
    ASSERT_TRUE(t);
    ASSERT_EQ(append_record(*t, true), 1);
    ASSERT_EQ(read_record(*t, 3), 1);
    ASSERT_EQ(append_record(*t, false), 1);  // a copy of record 4 gets a number of its own
  }
  std::vector<uint8_t> fish_bytes = test::read_bytes(fish);
  PlainTable fishes = read_plain(fish_bytes);
  ASSERT_EQ(fishes.records.size(), 12u);
  EXPECT_EQ(plain_value(fishes.fields[0], fishes.records[10][0]), "11");
  EXPECT_EQ(plain_value(fishes.fields[0], fishes.records[11][0]), "12");
  EXPECT_EQ(fishes.records[11][1], fishes.records[3][1]);
  EXPECT_EQ(fish_bytes[68 + 42], 13);

  std::string path = dir.copy_fixture("infused-dbf/dbase_02.dbf", "ii.dbf");
  std::vector<uint8_t> before = test::read_bytes(path);
  std::unique_ptr<Table> t = open_table(path);
  ASSERT_TRUE(t);
  ASSERT_EQ(read_record(*t, 0), 1);
  EXPECT_EQ(write_record(*t, 0), 0);
  EXPECT_EQ(append_record(*t, true), 0);
  EXPECT_EQ(write_header(*t), 0);
  EXPECT_NE(repair_header(*t), Status::kOk);
  EXPECT_EQ(test::read_bytes(path), before);
}

TEST(DamagedFiles, AFieldListWithoutTerminatorEndsAtTheHeaderSize) {
  // POLYGON.dbf: a 65-byte header holds one descriptor and a 0x00 where the
  // 0x0D belongs; 3dpoints.dbf has 0x0A there. POLYGON.dbf is also one byte
  // short: its 0x1A stands in the last byte of the second record, and shows
  // there.
  std::unique_ptr<Table> t = open_fixture("mapshaper/dbf/POLYGON.dbf");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->header_errors, 0);
  ASSERT_EQ(t->field_count(), 1);
  EXPECT_EQ(field_name(*t, 0), "NAME");
  EXPECT_EQ(field_length(*t, 0), 254);
  ASSERT_EQ(t->record_count, 2u);
  const char* names[] = {"Fairfax City", "Manassas"};
  for (uint32_t r = 0; r < 2; ++r) {
    ASSERT_EQ(read_record(*t, r), 1);
    EXPECT_EQ(rtrim(rtrim(field_raw_text(*t, 0), "\x1a")), names[r]);
  }
  EXPECT_EQ(std::string(field_raw_text(*t, 0)).back(), '\x1a');
  browse_everything(*t);

  std::unique_ptr<Table> points = open_fixture("shapelib/3dpoints.dbf");
  ASSERT_TRUE(points);
  ASSERT_EQ(points->field_count(), 1);
  EXPECT_EQ(points->record_size, 3);
  EXPECT_EQ(points->record_count, 22u);
  browse_everything(*points);
}

TEST(DamagedFiles, BytesAfterTheLastRecordAreNotARecord) {
  // corrupt_too_long.dbf: ten 51-byte records, then 5 stray bytes and no 0x1A.
  std::unique_ptr<Table> t = open_fixture("pyshp/corrupt_too_long.dbf");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->record_count, 10u);
  EXPECT_EQ(t->header_errors & kBadRecordCount, 0);
  browse_everything(*t);
  EXPECT_EQ(read_record(*t, 10), 0);
}

TEST(DamagedFiles, EveryTruncationOfEveryFixtureOpensSafelyOrNotAtAll) {
  test::TempDir dir;
  for (const std::string& path : all_tables()) {
    long size = test::file_size(fixture(path));
    if (size > 200000) continue;
    std::vector<uint8_t> bytes = test::read_bytes(fixture(path));
    int header = bytes.size() >= 10 ? bytes[8] | (bytes[9] << 8) : 0;
    for (long cut : {0L, 31L, 32L, 33L, 64L, 65L, long(header) - 1, long(header), long(header) + 7, size - 1}) {
      if (cut < 0 || cut >= size) continue;
      SCOPED_TRACE(path + " cut at " + std::to_string(cut));
      std::string copy = dir.file("cut" + lower(fs::path(path).extension().string()));
      test::write_bytes(copy, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
      std::unique_ptr<Table> t = open_table(copy);
      if (t) browse_everything(*t);
    }
  }
}

// ---------------------------------------------------------------------------
// Quirks of the files that the engine must take in its stride

TEST(FixtureQuirks, MemoFilesNamedInCapitalsAreFound) {
  const char* tables[][2] = {{"infused-dbf/foxprodb/calls.dbf", "calls.FPT"},
                             {"infused-dbf/foxprodb/contacts.dbf", "contacts.FPT"},
                             {"dbfread/tests/cases/memotest.dbf", "memotest.FPT"},
                             {"infused-dbf/foxprodb/FOXPRO-DB-TEST.DBC", "FOXPRO-DB-TEST.DCT"}};
  for (auto& [table, memo] : tables) {
    std::unique_ptr<Table> t = open_fixture(table);
    ASSERT_TRUE(t) << table;
    EXPECT_EQ(fs::path(t->memo_file_name).filename().string(), memo);
  }
  std::unique_ptr<Table> t = open_fixture("dbfread/tests/cases/memotest.dbf");
  ASSERT_EQ(read_record(*t, 1), 1);
  std::string text;
  ASSERT_TRUE(read_memo(*t, 2, text));
  EXPECT_EQ(text, "Bob memo");
}

TEST(FixtureQuirks, ACharacterFieldLongerThan255TakesItsHighByteFromTheDecimals) {
  std::unique_ptr<Table> t = open_fixture("php-xbase/foxpro/pr90.dbf");
  ASSERT_TRUE(t);
  int note = find_field(*t, "NOTE");
  ASSERT_GE(note, 0);
  EXPECT_FALSE(t->char_length_8bit);
  EXPECT_EQ(field_length(*t, note), 300);
  EXPECT_EQ(t->record_size, 505);
}

TEST(FixtureQuirks, ADecimalsByteOnACharacterFieldIsIgnoredWhenOnlyTheByteLengthsFitTheRecord) {
  // people.dbf with a stray 1 in the decimals byte of NAME C(16): read as a
  // 16-bit length NAME would be 272 bytes long, which the header's record
  // size of 25 rules out.
  test::TempDir dir;
  std::string path = dir.copy_fixture("dbfread/examples/files/people.dbf");
  std::vector<uint8_t> bytes = test::read_bytes(path);
  ASSERT_EQ(bytes[32 + 11], 'C');
  bytes[32 + 17] = 1;
  test::write_bytes(path, bytes);
  std::unique_ptr<Table> t = open_table(path);
  ASSERT_TRUE(t);
  t->trim_mode = 0;
  EXPECT_TRUE(t->char_length_8bit);
  EXPECT_EQ(field_length(*t, 0), 16);
  EXPECT_EQ(t->record_size, 25);
  EXPECT_EQ(t->record_count, 3u);
  ASSERT_EQ(read_record(*t, 1), 1);
  EXPECT_EQ(rtrim(field_raw_text(*t, 0)), "Bob");
  DateParts d = field_date(*t, 1);
  EXPECT_EQ(d.year, 1980);
  EXPECT_EQ(d.month, 10);
  EXPECT_EQ(d.day, 12);
}


// ---------------------------------------------------------------------------
// Expected-value files beside the tables

// infused-dbf/*_summary.txt: "Records: N" and a table of name, type, length
// and decimals.
TEST(ExpectedValues, SummariesGiveTheRecordCountAndFieldTable) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(fixture("infused-dbf"))) {
    std::string name = entry.path().filename().string();
    const std::string suffix = "_summary.txt";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    std::string table = "infused-dbf/" + name.substr(0, name.size() - suffix.size()) + ".dbf";
    SCOPED_TRACE(name);
    std::unique_ptr<Table> t = open_fixture(table);
    ASSERT_TRUE(t);
    // The summary of the dBase II file gives no decimals; its descriptors
    // and its values (6.000) have three.
    bool decimals_given = t->layout != DescriptorLayout::kDBase2;
    std::istringstream lines(read_text(entry.path().string()));
    std::string line;
    bool in_fields = false;
    int field = 0;
    while (std::getline(lines, line)) {
      if (line.rfind("Records: ", 0) == 0) {
        EXPECT_EQ(int(t->record_count), std::stoi(line.substr(9)));
      }
      if (line.rfind("-----", 0) == 0) {
        in_fields = true;
        continue;
      }
      std::istringstream row(line);
      std::string fname, type;
      int length = -1, decimals = -1;
      if (!in_fields || !(row >> fname >> type >> length >> decimals)) continue;
      ASSERT_LT(field, t->field_count());
      EXPECT_EQ(field_name_bytes(*t, field), fname);
      EXPECT_EQ(std::string(1, field_type(*t, field)), type);
      EXPECT_EQ(field_length(*t, field), length) << fname;
      if (decimals_given) {
        EXPECT_EQ(type == "C" ? 0 : field_decimals(*t, field), decimals) << fname;
      }
      ++field;
    }
    EXPECT_EQ(field, t->field_count());
    ++checked;
  }
  EXPECT_GE(checked, 9);
}

// infused-dbf/*_record_N.yml: every value of record N.
TEST(ExpectedValues, RecordFilesGiveEveryValueOfOneRecord) {
  struct RecordFile {
    const char* yml;
    const char* table;
    uint32_t record;
  };
  const RecordFile files[] = {{"dbase_83_record_0.yml", "dbase_83.dbf", 0},
                              {"dbase_83_record_9.yml", "dbase_83.dbf", 9},
                              {"dbase_83_missing_memo_record_0.yml", "dbase_83_missing_memo.dbf", 0}};
  for (const RecordFile& rf : files) {
    SCOPED_TRACE(rf.yml);
    std::string out;
    ASSERT_EQ(test::run_command(dump_command("--yaml", fixture(std::string("infused-dbf/") + rf.yml)), out), 0);
    std::unique_ptr<Table> t = open_fixture(std::string("infused-dbf/") + rf.table);
    ASSERT_TRUE(t);
    ASSERT_EQ(read_record(*t, rf.record), 1);
    std::istringstream lines(out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
      std::istringstream in(line);
      std::string tag, kind, value;
      int i = -1;
      in >> tag >> i >> kind >> value;
      ASSERT_TRUE(i >= 0 && i < t->field_count()) << line;
      SCOPED_TRACE(field_name(*t, i));
      ++count;
      if (is_memo_field(*t, i)) {
        std::string text;
        bool found = read_memo(*t, i, text);
        EXPECT_EQ(found, kind == "S");
        if (kind == "S") {
          EXPECT_EQ(text, from_hex(value));
        }
      } else if (kind == "S") {
        EXPECT_EQ(rtrim(field_raw_text(*t, i)), from_hex(value));
      } else if (kind == "N") {
        EXPECT_TRUE(close_enough(double(field_number(*t, i)), std::strtod(value.c_str(), nullptr)))
            << double(field_number(*t, i)) << " vs " << value;
      } else if (kind == "L") {
        EXPECT_EQ(field_text(*t, i)[0], value[0]);
      } else {
        ADD_FAILURE() << "unexpected value " << line;
      }
    }
    EXPECT_EQ(count, t->field_count());
  }
}

// One CSV file: rows of fields, quoted with "" for a quote, line breaks inside quotes.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string cell;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(cell);
      cell.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      rows.back().push_back(cell);
      cell.clear();
      rows.emplace_back();
    } else {
      cell += c;
    }
  }
  if (!cell.empty() || !rows.back().empty()) rows.back().push_back(cell);
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

bool looks_numeric(const std::string& s) {
  char* end = nullptr;
  if (s.empty()) return false;
  std::strtod(s.c_str(), &end);
  return *end == 0;
}

// The CSV went through a spreadsheet: dates are dd-mm-yy (yyyy/mm/dd before
// 1900; a blank date is 1899/12/30), date-times dd-mm-yy hh:mm, logicals
// TRUE/FALSE, blank numbers 0, line breaks LF, and texts that look like
// numbers or dates were rewritten as such (leading zeros lost, 1.999E+13,
// 03/01/1999 as 03-01-99).
void compare_csv_cell(Table& t, int i, const std::string& cell, const std::string& at, Findings& f) {
  ++f.compared;
  char type = field_type(t, i);
  std::string text = rtrim(field_raw_text(t, i));
  if (type == 'D' || type == 'T') {
    DateParts d = field_date(t, i);
    if (cell == "1899/12/30") {
      if (!is_date_blank(t, i)) f.fault(at + ": date should be blank");
      return;
    }
    int day = 0, month = 0, year = 0, hour = 0, minute = 0;
    int n = std::sscanf(cell.c_str(), "%d-%d-%d %d:%d", &day, &month, &year, &hour, &minute);
    bool same = !is_date_blank(t, i) && n >= 3 && d.day == day && d.month + 1 == month && d.year % 100 == year;
    // Dates before 1900 the spreadsheet left as yyyy/mm/dd.
    if (n < 3 && std::sscanf(cell.c_str(), "%d/%d/%d", &year, &month, &day) == 3)
      same = !is_date_blank(t, i) && d.year == year && d.month + 1 == month && d.day == day;
    if (type == 'T' && n == 5) same = same && d.hour == hour && d.minute == minute;
    if (!same) f.fault(at + ": date " + std::to_string(d.year) + "-" + std::to_string(d.month + 1) + "-" +
                       std::to_string(d.day) + ", CSV " + cell);
  } else if (type == 'L') {
    char c = field_text(t, i)[0];
    bool truth = std::strchr("TtYy", c) != nullptr;
    if ((cell == "TRUE") != truth) f.fault(at + ": logical " + std::string(1, c) + ", CSV " + cell);
  } else if (is_memo_field(t, i)) {
    std::string memo;
    read_memo(t, i, memo);
    std::string lf;
    for (size_t k = 0; k < memo.size(); ++k)
      if (!(memo[k] == '\r' && k + 1 < memo.size() && memo[k + 1] == '\n')) lf += memo[k];
    if (rtrim(lf, " \n") != rtrim(cell, " \n")) f.fault(at + ": memo " + shown(memo) + ", CSV " + shown(cell));
  } else if (is_numeric_field(t, i)) {
    double want = cell.empty() ? 0 : std::strtod(cell.c_str(), nullptr);
    if (!close_enough(double(field_number(t, i)), want))
      f.fault(at + ": number " + std::to_string(double(field_number(t, i))) + ", CSV " + cell);
  } else if (text != cell) {
    // Texts that look like numbers or dates were rewritten by the spreadsheet.
    std::string trimmed = text.substr(std::min(text.size(), text.find_first_not_of(' ')));
    bool rewritten = looks_numeric(cell) && looks_numeric(trimmed) &&
                     std::fabs(std::strtod(trimmed.c_str(), nullptr) - std::strtod(cell.c_str(), nullptr)) <=
                         1e-3 * std::max(1.0, std::fabs(std::strtod(cell.c_str(), nullptr)));
    int a = 0, b = 0, y = 0, p = 0, q = 0, z = 0;
    if (std::sscanf(trimmed.c_str(), "%d/%d/%d", &a, &b, &y) == 3 &&
        std::sscanf(cell.c_str(), "%d-%d-%d", &p, &q, &z) == 3)
      rewritten = a == p && b == q && y % 100 == z;
    if (rewritten) {
      f.differences.push_back(at + ": " + shown(text) + " CSV " + cell);
    } else {
      f.fault(at + ": text " + shown(text) + ", CSV " + shown(cell));
    }
  }
}

TEST(ExpectedValues, CsvExportsOfDbaseNetMatchEveryValue) {
  for (const char* name : {"30", "31", "f5"}) {
    std::string table = std::string("infused-dbf/dbase_") + name + ".dbf";
    SCOPED_TRACE(table);
    std::vector<std::vector<std::string>> rows =
        parse_csv(read_text(fixture(std::string("dbase-net-csv/") + name + "/dbase_" + name + ".csv")));
    std::unique_ptr<Table> t = open_fixture(table);
    ASSERT_TRUE(t);
    ASSERT_FALSE(rows.empty());
    // The CSV leaves out the system field _NullFlags.
    std::vector<int> columns;
    for (const std::string& header : rows[0]) {
      columns.push_back(find_field(*t, header));
      ASSERT_GE(columns.back(), 0) << header;
    }
    ASSERT_EQ(rows.size() - 1, size_t(t->record_count));
    Findings f;
    for (size_t r = 1; r < rows.size(); ++r) {
      ASSERT_EQ(read_record(*t, uint32_t(r - 1)), 1);
      ASSERT_EQ(rows[r].size(), columns.size()) << "row " << r;
      for (size_t c = 0; c < columns.size(); ++c)
        compare_csv_cell(*t, columns[c], rows[r][c], where(int(r - 1), *t, columns[c]), f);
    }
    f.report(table);
    EXPECT_EQ(f.compared, long((rows.size() - 1) * columns.size()));
    EXPECT_LT(f.differences.size(), size_t(f.compared / 20)) << "too many values rewritten by the spreadsheet";
  }
}

// mapshaper's .cpg files name the code page of the text; the engine's bytes,
// converted from it, give the text dbfread's reading decodes from it.
TEST(ExpectedValues, CodePageFilesDecodeTheTextTheEngineReads) {
  struct CodePage {
    const char* cpg_name;
    const char* python;
    const char* iconv;
  };
  const CodePage pages[] = {{"Big-5", "big5", "BIG5"},       {"EUC-KR", "euc_kr", "EUC-KR"},
                            {"koi8r", "koi8_r", "KOI8-R"},   {"latin2", "iso8859_2", "ISO-8859-2"},
                            {"shiftjis", "shift_jis", "SHIFT_JIS"}, {"UTF-16", "utf_16", "UTF-16"},
                            {"1251", "cp1251", "CP1251"},    {"874", "cp874", "CP874"},
                            {"UTF-8", "utf_8", "UTF-8"}};
  int checked = 0;
  for (const std::string& table : all_tables()) {
    std::string cpg = fixture(fs::path(table).replace_extension(".cpg").string());
    if (!test::file_exists(cpg)) continue;
    std::string name = rtrim(read_text(cpg), " \r\n");
    const CodePage* page = nullptr;
    for (const CodePage& p : pages)
      if (name == p.cpg_name) page = &p;
    ASSERT_TRUE(page) << "unknown code page " << name << " in " << cpg;
    SCOPED_TRACE(table + " in " + name);
    Dump dump;
    ASSERT_TRUE(load_dump(fixture(table), dump, std::string("--codepage ") + page->python));
    std::unique_ptr<Table> t = open_fixture(table);
    ASSERT_TRUE(t);
    ASSERT_EQ(size_t(t->record_count), dump.records.size());
    iconv_t cd = iconv_open("UTF-8", page->iconv);
    ASSERT_NE(cd, iconv_t(-1));
    for (uint32_t r = 0; r < t->record_count; ++r) {
      ASSERT_EQ(read_record(*t, r), 1);
      for (const auto& [i, want] : dump.records[r].utf8) {
        std::string in = rtrim(cut_at_nul(field_raw_text(*t, i)));
        std::string out(in.size() * 4 + 4, '\0');
        char* src = in.data();
        char* dst = out.data();
        size_t src_left = in.size(), dst_left = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(iconv(cd, &src, &src_left, &dst, &dst_left), size_t(-1)) << "not " << name << ": " << shown(in);
        out.resize(out.size() - dst_left);
        EXPECT_EQ(out, want);
        EXPECT_FALSE(want.empty());
        ++checked;
      }
    }
    iconv_close(cd);
  }
  EXPECT_GE(checked, 8);
}

}  // namespace
}  // namespace kora
