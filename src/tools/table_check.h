// The health check: the header against the file, then every stored value of
// every record against what its type may hold. It only reads: the table is
// walked through the chunked record scanner and the memo file is opened for
// reading, so a check never changes a byte.
//
// What counts as damage is decided where the rest of the program decides
// it: the header findings are the open's own (the same bits that offer a
// header repair), a value that does not parse is one set_field_text would
// refuse (stored_value_check), a memo pointer is followed as the memo
// reader follows it (MemoProbe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// Each kind of damage. The header kinds concern the file as a whole; the
// deletion flag a record; the rest a field of a record.
enum class CheckKind {
  kRecordCount,   // the header's count is not what the file holds
  kHeaderSize,    // the header's size is not where the field list ends
  kRecordSize,    // the header's record size is not what the fields add up to
  kVersion,       // a version byte no program writes
  kEndMark,       // bytes after the last record that are not the end mark
  kMemoFile,      // memo fields without a memo file that can be read
  kDeletionFlag,  // neither a blank nor '*'
  kNumber,        // a number that does not parse
  kDate,          // an impossible date or timestamp
  kLogical,       // none of T t Y y F f N n ? and blank
  kMemoPastEnd,   // a memo pointer at or past the end of the memo file
  kMemoInHeader,  // a memo pointer into the memo file's header
  kMemoLength,    // a memo block whose length runs past the end of the file
  kNullFlag,      // a null flag set where no field's bit is
};

// One kind of damage found in one field (or in the table, field -1).
struct CheckFinding {
  CheckKind kind = CheckKind::kNumber;
  int field = -1;
  uint64_t count = 0;            // records with it (1 for a header finding)
  std::vector<uint32_t> first;   // the first few physical record numbers, from 0
  std::vector<uint32_t> all;     // every one, when the check was asked to keep them
  std::string detail;            // header findings: what the header says and what the file holds
};

struct TableCheck {
  Status status = Status::kOk;  // kReadError or kAborted when the walk did not finish
  uint32_t records = 0;         // records checked
  // Header findings first, then per field in field order, then the
  // deletion flags; within a field in the order of CheckKind.
  std::vector<CheckFinding> findings;

  bool sound() const { return findings.empty(); }
};

struct CheckOptions {
  size_t first_records = 5;  // record numbers kept of each finding
  bool keep_all = false;     // keep every record number too (to filter by them)
  ProgressCallback progress;  // counts records; may stop the walk
};

TableCheck check_table(const Table& table, const CheckOptions& options = {});

// "number": a kind as scripts read it.
const char* check_kind_name(CheckKind kind);
// "numbers that do not parse", "record count": a kind as people read it.
const char* check_kind_text(CheckKind kind);
// Whether a finding concerns records, so that a view can show them.
bool check_kind_has_records(CheckKind kind);

}  // namespace kora
