// Memo files beside a table: the dBase III and dBase IV .dbt layouts and the
// FoxPro .fpt layout. The memo file is opened for one operation and closed.
#pragma once

#include <string>
#include <string_view>

#include "table/dbf_file.h"

namespace kora {

enum class MemoLayout { kNone, kDBase3, kDBase4, kFoxPro };

MemoLayout memo_layout(uint8_t version);
// The memo file's path for a table path and kind, extension in lower case.
std::string memo_file_name(const std::string& table_path, TableKind kind);
// The same, but when that file does not exist and a file of the same base name
// whose extension differs only in letter case does, that one.
std::string find_memo_file(const std::string& table_path, TableKind kind);

// Block number held by memo field i of the current record; 0 means no memo.
long memo_block_number(const Table& table, int i);
// The text of memo field i of the current record. false when there is none.
// A dBase III text is cut at 65535 bytes unless `whole` (copying memos).
bool read_memo(Table& table, int i, std::string& text, bool whole = false);
// Appends the text to the memo file and stores its block number into field i
// of table.record (the record is not written). false when nothing was written.
bool write_memo(Table& table, int i, std::string_view text);
// Creates or empties the memo file with an empty header. block_size 0 is 512.
bool create_memo_file(const std::string& table_path, TableKind kind, int block_size);
int memo_block_size(Table& table);

}  // namespace kora
