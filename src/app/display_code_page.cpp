#include "app/display_code_page.h"

namespace kora {

namespace {

// Byte ranges of Windows-1251 and where they land in code page 866.
struct AnsiRange {
  uint8_t first, last, to;
};
constexpr AnsiRange kAnsiToOem[] = {
    {0x80, 0x8F, 0xB0}, {0x90, 0xAF, 0xC0}, {0xB0, 0xBF, 0xF0}, {0xC0, 0xEF, 0x80}, {0xF0, 0xFF, 0xE0},
};

constexpr uint8_t kAnsiLetters[] = {0xC0, 0xCE, 0xC5, 0xD3, 0xE0, 0xEE, 0xE5, 0xF3};
constexpr uint8_t kOemLetters[] = {0x80, 0x8E, 0x85, 0x94, 0xA0, 0xAE, 0xA5, 0xE3};

bool is_one_of(uint8_t byte, const uint8_t (&set)[8]) {
  for (uint8_t member : set) {
    if (member == byte) return true;
  }
  return false;
}

uint8_t oem_byte(uint8_t byte) {
  for (const AnsiRange& range : kAnsiToOem) {
    if (byte >= range.first && byte <= range.last) return uint8_t(range.to + (byte - range.first));
  }
  return byte;
}

}  // namespace

void display_from_ansi(uint8_t* bytes, int length) {
  for (int i = 0; i < length; ++i) bytes[i] = oem_byte(bytes[i]);
}

std::string display_from_ansi(std::string text) {
  for (char& c : text) c = char(oem_byte(uint8_t(c)));
  return text;
}

int ansi_letter_balance(const uint8_t* bytes, int length) {
  int ansi = 0, oem = 0;
  for (int i = 0; i < length; ++i) {
    if (is_one_of(bytes[i], kAnsiLetters)) ++ansi;
    if (is_one_of(bytes[i], kOemLetters)) ++oem;
  }
  return ansi > oem ? 1 : ansi < oem ? -1 : 0;
}

int captions_look_ansi(const Table& table) {
  int ansi = 0, oem = 0;
  for (int i = 0; i < table.field_count(); ++i) {
    std::string name = column_name(table, i);
    int balance = ansi_letter_balance(reinterpret_cast<const uint8_t*>(name.data()), int(name.size()));
    if (balance > 0) ++ansi;
    if (balance < 0) ++oem;
  }
  return ansi > oem ? 1 : 0;
}

}  // namespace kora
