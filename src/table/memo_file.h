// Memo files beside a table: the dBase III and dBase IV .dbt layouts and the
// FoxPro .fpt layout. The memo file is opened for one operation and closed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"

namespace kora {

enum class MemoLayout { kNone, kDBase3, kDBase4, kFoxPro };

MemoLayout memo_layout(uint8_t version);
// The memo file's path for a table path and kind, extension in lower case.
std::string memo_file_name(const std::string& table_path, TableKind kind);
// The same, but when that file does not exist and one whose whole name
// differs from it only in letter case does (ORDERS.DBT beside orders.dbf),
// that one.
std::string find_memo_file(const std::string& table_path, TableKind kind);
// The file beside the table named after it with the extension (without its
// dot), found as find_memo_file finds the memo file.
std::string find_side_file(const std::string& table_path, const std::string& extension);

// The table has memo fields kora reads, but no memo file it may read.
bool memo_file_missing(const Table& table);
// Block number held by memo field i of the current record; 0 means no memo.
long memo_block_number(const Table& table, int i);
// The text of memo field i of the current record. false when there is none.
// A dBase III text is cut at 65535 bytes unless `whole` (copying memos).
// With `block_type`, a FoxPro memo block of any type is read (a picture of a
// general field is type 0) and its type put there; 1 for other layouts.
bool read_memo(Table& table, int i, std::string& text, bool whole = false, uint32_t* block_type = nullptr);
// Appends the text to the memo file and stores its block number into field i
// of table.record (the record is not written). false when nothing was written.
// A FoxPro block gets the type given (a copy keeps the type it read).
bool write_memo(Table& table, int i, std::string_view text, uint32_t block_type = 1);
// The memo file held open for a run of appends (the batch appender).
class MemoFd;
class MemoWriter {
 public:
  explicit MemoWriter(const Table& table);
  ~MemoWriter();
  MemoWriter(const MemoWriter&) = delete;
  MemoWriter& operator=(const MemoWriter&) = delete;
  // Appends the text and stores its block number into memo field i of the
  // record image; false when nothing was written.
  bool write(uint8_t* image, int i, std::string_view text);

 private:
  const Table& table_;
  std::unique_ptr<MemoFd> memo_;
};

// What the block number in a memo field points at.
enum class MemoPointer {
  kNone,       // 0: the field holds no memo
  kSound,      // a block with a text that ends inside the file
  kInHeader,   // a block inside the memo file's header
  kPastEnd,    // a block at or past the end of the file (or below block 0)
  kBadLength,  // the block's length, or its missing end, runs past the end
};

// The memo file held open for reading while a walk looks at the pointers of
// many records; it never writes. Each pointer costs one read of its block
// header (a dBase III text: reads up to its end byte).
class MemoProbe {
 public:
  explicit MemoProbe(const Table& table);
  ~MemoProbe();
  MemoProbe(const MemoProbe&) = delete;
  MemoProbe& operator=(const MemoProbe&) = delete;

  // The file opened and its header names a usable block size.
  bool is_open() const { return block_size_ > 0; }
  int block_size() const { return int(block_size_); }
  // What memo field i of the record image points at; kNone for a field
  // that holds no memo pointer.
  MemoPointer probe(std::span<const uint8_t> record, int i) const;

 private:
  const Table& table_;
  MemoLayout layout_;
  int fd_ = -1;
  int64_t size_ = 0;
  int64_t block_size_ = 0;
};

// The header of an empty memo file of the kind; block_size 0 is 512. Empty
// for a block size no header can hold.
std::vector<uint8_t> memo_header_bytes(TableKind kind, int block_size);
// Creates or empties the memo file with an empty header. block_size 0 is 512.
bool create_memo_file(const std::string& table_path, TableKind kind, int block_size);
int memo_block_size(Table& table);

}  // namespace kora
