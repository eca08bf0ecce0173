#include "table/code_page.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "table/dbf_file.h"
#include "table/file_io.h"
#include "table/memo_file.h"
#include "table/record_scanner.h"
#include "table/text_code_page.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

// Windows-1251 byte for each code page 866 byte from 0x80. Letters, Ё ё Є є
// Ї ї Ў ў, ° · № ¤ and the no-break space land on the same characters; the
// box drawing and the other bytes 1251 lacks take the bytes 866 lacks.
constexpr uint8_t kOemToAnsi[128] = {
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,  // 0x80 А..П
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,  // 0x90 Р..Я
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,  // 0xA0 а..п
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,  // 0xB0 boxes
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,  // 0xC0 boxes
    0xB1, 0xB2, 0xB3, 0xA3, 0xB4, 0xA5, 0xA6, 0xA7, 0xB5, 0xA9, 0xB6, 0xAB, 0xAC, 0xAD, 0xAE, 0xBC,  // 0xD0 boxes
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,  // 0xE0 р..я
    0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0xBD, 0xB7, 0xBB, 0xB9, 0xA4, 0xBE, 0xA0,  // 0xF0 Ё ё ..
};

// The letters А О Е У, capital and small, of each code page: the record-0 test.
constexpr uint8_t kAnsiTestLetters[] = {0xC0, 0xCE, 0xC5, 0xD3, 0xE0, 0xEE, 0xE5, 0xF3};
constexpr uint8_t kOemTestLetters[] = {0x80, 0x8E, 0x85, 0x94, 0xA0, 0xAE, 0xA5, 0xE3};

// How far the letter count goes on when record 0 leaves it open.
constexpr uint32_t kDetectRecords = 1000;
constexpr size_t kDetectBytes = 1 << 20;
constexpr size_t kDetectChunk = 1 << 16;

constexpr size_t kMaxCodePageFile = 256;

OemAnsiTables make_tables(const uint8_t* to_ansi_high, const uint8_t* to_oem_high) {
  OemAnsiTables tables;
  for (int b = 0; b < 0x80; ++b) tables.to_ansi[size_t(b)] = tables.to_oem[size_t(b)] = uint8_t(b);
  for (int b = 0x80; b < 0x100; ++b) {
    tables.to_ansi[size_t(b)] = to_ansi_high[b - 0x80];
    if (to_oem_high) tables.to_oem[size_t(b)] = to_oem_high[b - 0x80];
  }
  if (!to_oem_high) {
    for (int b = 0x80; b < 0x100; ++b) tables.to_oem[tables.to_ansi[size_t(b)]] = uint8_t(b);
  }
  return tables;
}

std::string translate(std::string_view text, const std::array<uint8_t, 256>& table) {
  std::string out(text);
  for (char& c : out) c = char(table[uint8_t(c)]);
  return out;
}

bool is_one_of(uint8_t byte, const uint8_t (&set)[8]) {
  return std::find(std::begin(set), std::end(set), byte) != std::end(set);
}

// Russian letters with Ё ё of each code page; the bytes 0xE0..0xEF are
// letters in both and so tell nothing either way.
bool is_ansi_letter(uint8_t b) { return b >= 0xC0 || b == 0xA8 || b == 0xB8; }
bool is_oem_letter(uint8_t b) { return (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xF1); }

// The text put in a field of `length` bytes: cut, or padded with blanks.
void put_fitted(uint8_t* field, size_t length, const std::string& text) {
  size_t n = std::min(length, text.size());
  std::memcpy(field, text.data(), n);
  std::memset(field + n, ' ', length - n);
}

template <typename Convert>
void convert_character_fields(const Table& table, uint8_t* record, Convert convert) {
  for (int i = 0; i < table.field_count(); ++i) {
    bool varchar = field_type(table, i) == 'V' && is_variable_field(table, i);
    if (field_type(table, i) != 'C' && !varchar) continue;
    int offset = table.fields[size_t(i)].offset;
    int length = std::min(field_length(table, i), int(table.record_size) - offset);
    // A varchar's last byte may hold its length, which is no character.
    if (varchar) length = std::min(length, value_length(table, std::span(record, table.record_size), i));
    if (offset < 1 || length <= 0) continue;
    std::string_view text(reinterpret_cast<const char*>(record + offset), size_t(length));
    put_fitted(record + offset, size_t(length), convert(table, text));
  }
}

// Counts the Cyrillic letters of each code page in the Character fields of
// the records from the first on, in file order, and answers as letter_test
// does at the first record that ends with one count ahead of the other.
int letter_majority(const Table& table) {
  size_t size = table.record_size;
  if (size == 0 || table.record_count == 0) return 0;
  uint32_t records = std::min(table.record_count, kDetectRecords);
  records = uint32_t(std::min<size_t>(records, std::max<size_t>(1, kDetectBytes / size)));
  RecordScanner scan(table, ScanOrder::kPhysical, {}, kDetectChunk);
  scan.set_range(0, records);
  long ansi = 0, oem = 0;
  ScannedRecord r;
  while (scan.next(r)) {
    for (int i = 0; i < table.field_count(); ++i) {
      if (field_type(table, i) != 'C') continue;
      size_t offset = table.fields[size_t(i)].offset;
      size_t end = std::min(size, offset + size_t(field_length(table, i)));
      for (size_t k = offset; k < end; ++k) {
        ansi += is_ansi_letter(r.image[k]);
        oem += is_oem_letter(r.image[k]);
      }
    }
    if (ansi != oem) return ansi > oem ? 1 : -1;
  }
  return 0;
}

// Upper case of a Windows-1251 byte: the small letters а..я. Other letters
// (ё and the Ukrainian ones) are left as they are, exactly as the code page
// 866 rule leaves them, so both code pages fold the same set of letters.
uint8_t ansi_upper(uint8_t b) { return b >= 0xE0 ? uint8_t(b - 0x20) : b; }

// Upper case of a code page 866 byte: а..п and р..я.
uint8_t oem_upper(uint8_t b) {
  if (b >= 0xA0 && b <= 0xAF) return uint8_t(b - 0x20);
  if (b >= 0xE0 && b <= 0xEF) return uint8_t(b - 0x50);
  return b;
}

}  // namespace

const OemAnsiTables& builtin_oem_ansi() {
  static const OemAnsiTables tables = make_tables(kOemToAnsi, nullptr);
  return tables;
}

std::shared_ptr<const OemAnsiTables> configured_oem_ansi(std::string_view to_ansi, std::string_view to_oem) {
  if (to_ansi.size() != 128 || to_oem.size() != 128) return nullptr;
  return std::make_shared<const OemAnsiTables>(make_tables(reinterpret_cast<const uint8_t*>(to_ansi.data()),
                                                           reinterpret_cast<const uint8_t*>(to_oem.data())));
}

void install_code_page_hooks(Table& table, const std::shared_ptr<const OemAnsiTables>& xlat) {
  if (!xlat) {
    table.to_ansi_hook = nullptr;
    table.to_oem_hook = nullptr;
    return;
  }
  table.to_ansi_hook = [xlat](std::string_view text) { return translate(text, xlat->to_ansi); };
  table.to_oem_hook = [xlat](std::string_view text) { return translate(text, xlat->to_oem); };
}

void oem_to_ansi(const uint8_t* in, uint8_t* out, size_t length) {
  const auto& table = builtin_oem_ansi().to_ansi;
  for (size_t i = 0; i < length; ++i) out[i] = table[in[i]];
}

void ansi_to_oem(const uint8_t* in, uint8_t* out, size_t length) {
  const auto& table = builtin_oem_ansi().to_oem;
  for (size_t i = 0; i < length; ++i) out[i] = table[in[i]];
}

std::string oem_to_ansi(std::string_view text) { return translate(text, builtin_oem_ansi().to_ansi); }
std::string ansi_to_oem(std::string_view text) { return translate(text, builtin_oem_ansi().to_oem); }

std::string table_oem_to_ansi(const Table& table, std::string_view text) {
  return table.to_ansi_hook ? table.to_ansi_hook(text) : oem_to_ansi(text);
}

std::string table_ansi_to_oem(const Table& table, std::string_view text) {
  return table.to_oem_hook ? table.to_oem_hook(text) : ansi_to_oem(text);
}

// A table in a code page other than these two is shown in its own
// characters: its record is not turned into code page 866.
bool shown_through_866(const Table& table) { return table.ansi_text && !in_other_code_page(table); }

std::string display_from_table(const Table& table, std::string_view stored) {
  return shown_through_866(table) ? table_ansi_to_oem(table, stored) : std::string(stored);
}

std::string table_from_display(const Table& table, std::string_view shown) {
  return shown_through_866(table) ? table_oem_to_ansi(table, shown) : std::string(shown);
}

TextConverter display_converter(const Table& table) {
  return [&table](std::string_view text) { return display_from_table(table, text); };
}

TextConverter table_converter(const Table& table) {
  return [&table](std::string_view text) { return table_from_display(table, text); };
}

std::string ansi_from_table(const Table& table, std::string_view stored) {
  return table.ansi_text ? std::string(stored) : table_oem_to_ansi(table, stored);
}

std::string table_from_ansi(const Table& table, std::string_view ansi) {
  return table.ansi_text ? std::string(ansi) : table_ansi_to_oem(table, ansi);
}


void record_to_display(const Table& table, uint8_t* record) {
  if (shown_through_866(table)) convert_character_fields(table, record, display_from_table);
}

void record_from_display(const Table& table, uint8_t* record) {
  if (shown_through_866(table)) convert_character_fields(table, record, table_from_display);
}

int letter_test(const uint8_t* bytes, size_t length) {
  int ansi = 0, oem = 0;
  for (size_t i = 0; i < length; ++i) {
    ansi += is_one_of(bytes[i], kAnsiTestLetters);
    oem += is_one_of(bytes[i], kOemTestLetters);
  }
  return ansi > oem ? 1 : ansi < oem ? -1 : 0;
}

std::string read_code_page_file(const std::string& table_path) {
  std::string path = find_side_file(table_path, "cpg");
  int fd = file_open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  // A code page name is a word or two; anything longer is not one.
  char bytes[kMaxCodePageFile];
  ssize_t got = file_read_at(fd, bytes, sizeof bytes, 0);
  ::close(fd);
  if (got <= 0 || size_t(got) >= sizeof bytes) return {};
  std::string name(bytes, size_t(got));
  const char* blanks = " \t\r\n";
  size_t first = name.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return name.substr(first, name.find_last_not_of(blanks) - first + 1);
}

int code_page_number(std::string_view name) {
  std::string word;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) word += c;
  }
  // "1251", "CP1251", "Windows-1251", "ANSI 1251", "IBM866", "OEM 866"...
  for (const char* prefix : {"windows", "win", "cp", "ansi", "ibm", "oem", "dos"}) {
    if (word.starts_with(prefix) && word.size() > std::strlen(prefix)) {
      word.erase(0, std::strlen(prefix));
      break;
    }
  }
  return word == "866" ? 866 : word == "1251" ? 1251 : 0;
}

void choose_code_page(Table& table, int oem_ansi) {
  // A .cpg file that names one of the two code pages settles it, as the
  // header's mark would; the ANSI setting still overrides.
  int named = code_page_number(table.code_page_name);
  if (named != 0) {
    table.ansi_text = named == 1251 || oem_ansi == 2;
    return;
  }
  uint8_t mark = table.code_page_mark();
  table.ansi_text = mark == 0x03 || mark == 0xC9 || oem_ansi == 2;
  if (table.ansi_text || oem_ansi == 1 || table.record_count == 0 || table.record_size == 0) return;
  std::vector<uint8_t> first(table.record_size);
  if (file_read_at(table.fd, first.data(), first.size(), table.header_size) != ssize_t(first.size())) return;
  int answer = letter_test(first.data(), first.size());
  if (answer == 0) answer = letter_majority(table);
  table.ansi_text = answer == 1;
}

int field_name_test(const Table& table) {
  int ansi = 0, oem = 0;
  for (int i = 0; i < table.field_count(); ++i) {
    std::string name = column_name(table, i);
    int answer = letter_test(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    ansi += answer > 0;
    oem += answer < 0;
  }
  return ansi > oem ? 1 : 0;
}

void fold_case(const Table& table, std::string& text) {
  if (!table.ignore_case) return;
  if (in_other_code_page(table)) {
    table.code_page->upper_case(text);
    return;
  }
  for (char& c : text) {
    uint8_t b = uint8_t(c);
    if (b >= 'a' && b <= 'z') b = uint8_t(b - 0x20);
    else if (b >= 0x80) b = table.ansi_text ? ansi_upper(b) : oem_upper(b);
    c = char(b);
  }
}

}  // namespace kora
