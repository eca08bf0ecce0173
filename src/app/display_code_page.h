// Text of tables kept in Windows-1251 turned into the screen's code page 866,
// and the letter count that tells the two apart.
#pragma once

#include <cstdint>
#include <string>

#include "table/dbf_file.h"

namespace kora {

// Converts length bytes from Windows-1251 to code page 866 in place.
void display_from_ansi(uint8_t* bytes, int length);
std::string display_from_ansi(std::string text);

// 1 when the bytes hold more of the letters А, О, Е, У (both cases) as
// Windows-1251 codes than as code page 866 codes, -1 when fewer, 0 when as many.
int ansi_letter_balance(const uint8_t* bytes, int length);

// 1 when more of the shown column names look like Windows-1251 than like
// code page 866.
int captions_look_ansi(const Table& table);

}  // namespace kora
