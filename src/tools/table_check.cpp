#include "tools/table_check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <utility>

#include "table/byte_order.h"
#include "table/field_write.h"
#include "table/file_io.h"
#include "table/memo_file.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"

namespace kora {

namespace {

constexpr uint8_t kEndOfFile = 0x1A;

struct KindRow {
  CheckKind kind;
  const char* name;
  const char* text;
};

constexpr KindRow kKinds[] = {
    {CheckKind::kRecordCount, "record_count", "record count"},
    {CheckKind::kHeaderSize, "header_size", "header size"},
    {CheckKind::kRecordSize, "record_size", "record size"},
    {CheckKind::kVersion, "version", "version byte"},
    {CheckKind::kEndMark, "end_mark", "end of the records"},
    {CheckKind::kMemoFile, "memo_file", "memo file"},
    {CheckKind::kDeletionFlag, "deletion_flag", "deletion flags other than blank and *"},
    {CheckKind::kNumber, "number", "numbers that do not parse"},
    {CheckKind::kDate, "date", "impossible dates or times"},
    {CheckKind::kLogical, "logical", "logicals other than T, F, Y, N, ? and blank"},
    {CheckKind::kMemoPastEnd, "memo_past_end", "memo pointers past the end of the memo file"},
    {CheckKind::kMemoInHeader, "memo_in_header", "memo pointers into the memo file's header"},
    {CheckKind::kMemoLength, "memo_length", "memo blocks of impossible length"},
    {CheckKind::kNullFlag, "null_flag", "null flags set for no nullable field"},
};

const KindRow& row_of(CheckKind kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return row;
  return kKinds[0];
}

std::string print(const char* format, unsigned long long a, unsigned long long b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// ---- the header -------------------------------------------------------------------

CheckFinding header_finding(CheckKind kind, std::string detail) {
  CheckFinding finding;
  finding.kind = kind;
  finding.count = 1;
  finding.detail = std::move(detail);
  return finding;
}

// Bytes after the last record other than the end mark: a record cut short
// or something written past the table. A missing end mark is no damage:
// many writers leave it out.
void check_end_mark(const Table& table, std::vector<CheckFinding>& out) {
  if (table.layout == DescriptorLayout::kDBase2) return;  // padded with end marks by design
  long long size = file_size(table.fd);
  long long end = (long long)table.header_size + (long long)table.record_count * table.record_size;
  if (size < 0 || size <= end) return;
  uint8_t first = 0;
  if (file_read_at(table.fd, &first, 1, uint64_t(end)) == 1 && first == kEndOfFile) return;
  out.push_back(header_finding(
      CheckKind::kEndMark, print("%llu bytes after the last record are not the end mark", (unsigned long long)(size - end))));
}

// The open's own findings: the bits that would offer a header repair and the
// reason a repair would be refused.
void check_header(const Table& table, std::vector<CheckFinding>& out) {
  const uint8_t* stated = table.stated_header.data();
  if (table.header_errors & kBadVersion)
    out.push_back(header_finding(CheckKind::kVersion, print("byte 0 holds 0x%02llX", table.file_version)));
  if (table.header_errors & kBadRecordCount && table.layout != DescriptorLayout::kDBase2)
    out.push_back(header_finding(CheckKind::kRecordCount, print("the header says %llu records; the file holds %llu",
                                                                get_le32(stated + 4), table.record_count)));
  if (table.header_errors & kBadHeaderSize) {
    std::string detail = table.repair_refusal.status == Status::kHeaderSizeMismatch
                             ? table.repair_refusal.detail
                             : print("the header says the records start at byte %llu; the field list gives %llu",
                                     get_le16(stated + 8), table.header_size);
    out.push_back(header_finding(CheckKind::kHeaderSize, detail));
  }
  if (table.repair_refusal.status == Status::kRecordSizeMismatch)
    out.push_back(header_finding(CheckKind::kRecordSize, table.repair_refusal.detail));
  // Records that do not line up with the file leave bytes over: that is the
  // damage already found, not a second one.
  bool aligned = (table.header_errors & (kBadRecordCount | kBadHeaderSize)) == 0 &&
                 table.repair_refusal.status != Status::kRecordSizeMismatch;
  if (aligned) check_end_mark(table, out);
}

// ---- the records ------------------------------------------------------------------

// What the walk looks at in each field.
enum class FieldProbe { kValue, kMemo, kNullFlags };

struct Probe {
  int field;
  FieldProbe what;
};

std::vector<Probe> probes_of(const Table& table, bool memo_readable) {
  std::vector<Probe> probes;
  for (int i = 0; i < table.field_count(); ++i) {
    if (i == table.null_flags_field) {
      probes.push_back({i, FieldProbe::kNullFlags});
    } else if (is_memo_field(table, i)) {
      if (memo_readable) probes.push_back({i, FieldProbe::kMemo});
    } else if (std::string_view("NFLDT@").find(field_type(table, i)) != std::string_view::npos) {
      probes.push_back({i, FieldProbe::kValue});
    }
  }
  return probes;
}

// The null flags' bits that belong to fields: the rest stay clear.
int null_bits_used(const Table& table) {
  int used = 0;
  for (const NullFlagBits& bits : table.null_bits) used = std::max({used, bits.null_bit + 1, bits.length_bit + 1});
  return used;
}

bool stray_null_bit(const Table& table, RecordImage record, int used) {
  const FieldDesc& desc = table.fields[size_t(table.null_flags_field)];
  int length = field_length(table, table.null_flags_field);
  if (desc.offset < 1 || size_t(desc.offset) + size_t(length) > record.size()) return false;
  for (int bit = used; bit < length * 8; ++bit)
    if ((record[desc.offset + size_t(bit / 8)] >> (bit % 8)) & 1) return true;
  return false;
}

CheckKind value_kind(FieldWrite result) {
  switch (result) {
    case FieldWrite::kImpossibleDate: return CheckKind::kDate;
    case FieldWrite::kNotALogical: return CheckKind::kLogical;
    default: return CheckKind::kNumber;
  }
}

CheckKind memo_kind(MemoPointer pointer) {
  switch (pointer) {
    case MemoPointer::kInHeader: return CheckKind::kMemoInHeader;
    case MemoPointer::kPastEnd: return CheckKind::kMemoPastEnd;
    default: return CheckKind::kMemoLength;
  }
}

// The findings of the walk as they come in, in the order they are handed out.
class Tally {
 public:
  explicit Tally(const CheckOptions& options) : options_(options) {}

  void add(int field, CheckKind kind, uint32_t record) {
    // Field -1 (the records themselves) sorts after the fields.
    CheckFinding& finding = found_[{field < 0 ? INT_MAX : field, int(kind)}];
    finding.kind = kind;
    finding.field = field;
    ++finding.count;
    if (finding.first.size() < options_.first_records) finding.first.push_back(record);
    if (options_.keep_all) finding.all.push_back(record);
  }

  void hand_out(std::vector<CheckFinding>& out) {
    for (auto& [key, finding] : found_) out.push_back(std::move(finding));
  }

 private:
  const CheckOptions& options_;
  std::map<std::pair<int, int>, CheckFinding> found_;
};

Status check_records(const Table& table, const CheckOptions& options, const MemoProbe& memo, Tally& tally,
                     uint32_t& records) {
  std::vector<Probe> probes = probes_of(table, memo.is_open());
  int used_null_bits = null_bits_used(table);
  RecordScanner scan(table, ScanOrder::kPhysical, options.progress);
  ScannedRecord r;
  while (scan.next(r)) {
    ++records;
    RecordImage image(r.image, table.record_size);
    if (image[0] != ' ' && image[0] != '*') tally.add(-1, CheckKind::kDeletionFlag, r.record);
    for (const Probe& probe : probes) {
      if (probe.what == FieldProbe::kValue) {
        FieldWrite result = stored_value_check(table, image, probe.field);
        if (result != FieldWrite::kStored) tally.add(probe.field, value_kind(result), r.record);
      } else if (probe.what == FieldProbe::kMemo) {
        MemoPointer pointer = memo.probe(image, probe.field);
        if (pointer != MemoPointer::kNone && pointer != MemoPointer::kSound)
          tally.add(probe.field, memo_kind(pointer), r.record);
      } else if (stray_null_bit(table, image, used_null_bits)) {
        tally.add(probe.field, CheckKind::kNullFlag, r.record);
      }
    }
  }
  return scan.status();
}

}  // namespace

TableCheck check_table(const Table& table, const CheckOptions& options) {
  TableCheck result;
  check_header(table, result.findings);
  MemoProbe memo(table);
  if (table.first_memo_field >= 0 && memo_layout(table.version()) != MemoLayout::kNone && !memo.is_open()) {
    std::string name = table.memo_file_name.substr(table.memo_file_name.rfind('/') + 1);
    result.findings.push_back(header_finding(
        CheckKind::kMemoFile, table.memo_missing ? "the memo file " + name + " cannot be read"
                                                 : "the memo file " + name + " names no block size"));
  }
  Tally tally(options);
  result.status = check_records(table, options, memo, tally, result.records);
  tally.hand_out(result.findings);
  return result;
}

const char* check_kind_name(CheckKind kind) { return row_of(kind).name; }

const char* check_kind_text(CheckKind kind) { return row_of(kind).text; }

bool check_kind_has_records(CheckKind kind) { return int(kind) >= int(CheckKind::kDeletionFlag); }

}  // namespace kora
