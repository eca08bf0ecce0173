// What the cell editor shares with the memo editor and the block commands:
// the record image of edit mode and how cell text is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_file.h"
#include "table/field_write.h"

namespace kora::cell_edit {

Table* current_table();
int current_field(const Table& table);
// Neither the ReadOnly setting nor the file forbids writing.
bool may_write(const Table& table);
// Bytes of a record image that table.record holds.
size_t record_bytes(const Table& table);

// Text fields of a record image from display form to the file's code page
// (ANSI tables only) and back.

// The table's EditBuffer (in the program's state of the table).
std::vector<uint8_t>& edit_buffer(const Table& table);
// Copies the edit buffer over table.record.
void edit_buffer_to_record(Table& table);
// Writes the edit buffer as the current record. 1 or 0.
int write_edit_buffer(Table& table);
// Marks the edit buffer for reading from the file again.
void drop_edit_buffer(Table& table);
// Parses the editor's text into the edit buffer when it was changed; false
// when the field refused it, which the user was told (the text stays in the
// editor).
bool commit_cell();
void set_record_changed(int changed);

// Stores text into field i of table.record; the field keeps its old bytes
// when it refuses the text.
FieldWrite store_cell_text(Table& table, int i, std::string_view text);
// A real field in a column the column setup leaves writable.
bool writable_column(const Table& table, int column);

}  // namespace kora::cell_edit
