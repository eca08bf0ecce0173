// Moving records between the table file and Table::record, and the operations
// that change the number or order of records.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

// Records moved in place go in chunks of this size, each written to the
// table's journal first: large, so that the journal costs few writes.
constexpr size_t kMoveChunkSize = 4 << 20;
constexpr int kBackupChunkSize = 32768;

// Records seen through the filter, or all of them.
uint32_t visible_count(const Table& table);
// Physical record number of view position p (reverse, sort order, filter);
// kNoRecord when p is outside the view or the lists name no existing record.
uint32_t physical_record(const Table& table, uint32_t p);
// Makes `view` the table's view of its records; 0, and the old view kept,
// when its lists do not fit the table (see view_fits).
int install_record_view(Table& table, RecordView view);

// Record I/O; p is a view position, q a physical record number. 1 or 0.
// write_record_at also takes q = record_count, the slot after the last record
// (the header is not changed; append_record does that).
int read_record(Table& table, uint32_t p);
int write_record(Table& table, uint32_t p);
int write_record_at(Table& table, uint32_t q);
int read_delete_flag(Table& table, uint32_t p);
int write_delete_flag(Table& table, uint32_t p);
int read_field(Table& table, uint32_t p, int i);
int write_field(Table& table, uint32_t p, int i);

int mark_deleted(Table& table, uint32_t p);

// The deletion marks of every record in view, all at once (Tools, All).
enum class MarkChange { kDelete, kRecall, kInvert };
// The records are read with the scanner as stored and written back in runs
// of neighbours, one write each, so a million records take a fraction of a
// second. Progress per chunk; a stop keeps the marks written so far (each
// run is written whole). `changed` counts the marks that changed.
Status change_all_marks(Table& table, MarkChange change, const ProgressCallback& progress, uint64_t* changed);

// Changes the records at view positions first..last in place, many at a
// time: each is read with the scanner, handed to `change` in table.record
// (as single-record code expects it), and written back encoded, neighbours
// in one write. Progress per chunk; a stop keeps what was written.
Status rewrite_records(Table& table, uint32_t first, uint32_t last, const std::function<void(Table&)>& change,
                       const ProgressCallback& progress);
// As above; `change` is also told the record's view position.
Status rewrite_records(Table& table, uint32_t first, uint32_t last,
                       const std::function<void(Table&, uint32_t position)>& change, const ProgressCallback& progress);
int recall_record(Table& table, uint32_t p);
int toggle_deleted(Table& table, uint32_t p);

int append_record(Table& table, bool blank);
int insert_record(Table& table, uint32_t p, bool blank);
int remove_record(Table& table, uint32_t q);
// The moves alone, on physical numbers, the record given as the file stores
// it; under the journal as above, without numbering or the backup (undo).
int insert_stored_record(Table& table, uint32_t q, const std::vector<uint8_t>& image);
int remove_stored_record(Table& table, uint32_t q);
int truncate_table(Table& table, uint32_t n);
int zap_table(Table& table);
// mode 0 table and memo file, 1 the table only, 2 the memo file only.
int pack_table(Table& table, int mode);
// Copies a record image copied earlier (the program's record clipboard) over Record.
void paste_clipboard_record(Table& table, const std::vector<uint8_t>& clipboard);

// The backup copy taken before the first change of a table.
void backup_if_due(Table& table);
// Sets the backup mode and the backup file's path (beside the table, or /tmp/).
void set_bak_mode(Table& table, int mode);

}  // namespace kora
