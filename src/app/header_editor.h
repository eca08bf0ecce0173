// The header editor command: the raw header bytes of the current table's
// file in the byte editor, written back over the start of the file on Save,
// after which the table is opened again from what was written.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "table/dbf_file.h"

namespace kora {

constexpr int kHeaderEditorHelpTopic = 70;

void header_editor();  // Tools "&Header editor"

// Writes bytes over the start of the table's file, only while the file at
// its name is still the one the table has open. Empty when written, else
// the reason.
std::string write_header_bytes(const Table& table, std::span<const uint8_t> bytes);

}  // namespace kora
