// Rebuilding an open table with a new list of fields. Every record of the
// file is copied, deleted ones included, into a new file made beside the
// table; the old table is kept as its backup and the new file renamed over
// it only when the whole copy is on disk.
//
// The caller's sequence:
//
//   RestructureOptions options;
//   options.kind_without_memo = ...;  // MemoType - 1, 0 when negative
//   options.block_size = ...;         // BlockSize setting
//   options.progress = box.callback();
//   options.keep_with_losses = [](const RestructureReport& r) { return ask(...); };
//   options.open_files = ...;         // tables and memo files open in kora
//   Status s = restructure(table, fields, options, &report);
//   // kOk: the file at table.file_name is the new table. The Table handle
//   // still reads the old one (now the backup): close it without writing
//   // anything through it (remove_table) and open the path again.
//   // Any other status: nothing changed; the handle stays valid.
//
// While it runs, the table's file, memo file and view must not change. The
// table's record buffer is used for memo reads and put back afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"
#include "table/table_create.h"

namespace kora {

// Values of one new field that did not fit it (left blank, or cut short
// for Character fields).
struct FieldLoss {
  int field = -1;             // index in the new structure
  uint32_t count = 0;
  uint32_t first_record = 0;  // physical record number, counting from 0
};

struct RestructureReport {
  uint32_t records = 0;            // copied
  std::vector<FieldLoss> losses;   // fields with values that did not fit, in field order
  bool kept_view_order = false;    // records were copied in the view's order
  std::string bak_file_name;       // where the old table was kept
  bool aliases_kept = true;        // the header file was rewritten (or needed nothing)
};

struct RestructureOptions {
  // The kind of the new table when the old one has no memo field (with
  // one, the table's own kind stays, so that its memo file still fits).
  TableKind kind_without_memo = kDBase3;
  int block_size = 0;  // of a memo file made new
  ProgressCallback progress;
  // Asked, before anything is replaced, when values did not fit; false
  // keeps the old table (kAborted). Unset: the new structure is kept.
  std::function<bool(const RestructureReport&)> keep_with_losses;
  // Files kora holds open: neither the backup nor a memo file made new may
  // be one of them (kFileInUse); the table's own files may.
  std::vector<std::string> open_files;
};

// The kind of the rebuilt table: the table's own when it has memo fields,
// else kind_without_memo; a Visual FoxPro table (version 0x30 to 0x32)
// stays one while the new fields need it (memo fields or its own types).
TableKind restructure_kind(const Table& table, const std::vector<FieldDesc>& fields, TableKind kind_without_memo);

// "PRICE: 3 values did not fit, the first in record 7" for the first loss.
std::string loss_text(const RestructureReport& report, const std::vector<StructureField>& fields);

// kOk; kReadOnly, kInvalidStructure (check_structure refuses the fields, or
// a source names no field), kAborted (stopped, or the losses were not
// accepted), kReadError, kWriteError, kFileInUse, or an open failure.
Status restructure(Table& table, const std::vector<StructureField>& fields, const RestructureOptions& options,
                   RestructureReport* report = nullptr);

}  // namespace kora
