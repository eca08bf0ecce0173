// The header file: a table's field aliases kept beside it in "<base>.hdr",
// so that they are there again the next time the table is opened.
//
// Layout: the 17 bytes "Header file KORA" with its NUL and 15 zero bytes,
// then one 32-byte slot per field in field order, each a NUL-terminated text
// of at most 31 bytes, zero-filled.
#pragma once

#include <string>
#include <vector>

namespace kora {

struct Table;

constexpr int kHeaderSlotSize = 32;
constexpr int kHeaderFileMaxSlots = 65536 / kHeaderSlotSize;

// Sets the table's header_file_name: its path with the extension ".hdr".
void set_header_file_name(Table& table);

// Loads the aliases the header file holds over the table's, slot by slot;
// a missing or short file or one without the magic changes nothing.
void read_header_file(Table& table);

// Writes the head and one slot per field through a new file renamed over the
// old one. 1, or 0 when it could not be written.
int write_header_file(Table& table);

// Stores the table's aliases: converted in place to Windows-1251 first when
// the captions are shown as ANSI, then written; the file is removed when no
// field has an alias. 1, or 0 when the file could not be written or removed.
int save_aliases(Table& table, bool captions_ansi);

// After a restructure: rewrites the header file at `path` so that new field
// i gets the slot of old field sources[i] (an empty slot for -1), keeping
// every alias on its field; removes it when no alias is left. A missing file
// or one without the magic is left alone. 1, or 0 when a write failed.
int remap_header_file(const std::string& path, const std::vector<int>& sources);

}  // namespace kora
