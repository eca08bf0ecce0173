// The code pages of a table's text. The screen is drawn in code page 866
// (OEM); a table's text is either in code page 866 or in Windows-1251 (ANSI),
// chosen when the table is opened and switched by the user. This unit holds
// the conversions between the two, the letter counts that tell them apart,
// and the case folding of each.
//
// Every conversion takes a whole text and returns a whole text, so that a
// later code page whose characters take several bytes fits the same calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kora {

struct Table;

// A text conversion: the whole text in, the whole converted text out.
using TextConverter = std::function<std::string(std::string_view)>;

// A byte-for-byte translation between code page 866 and Windows-1251.
struct OemAnsiTables {
  std::array<uint8_t, 256> to_ansi{};  // code page 866 byte -> Windows-1251 byte
  std::array<uint8_t, 256> to_oem{};   // Windows-1251 byte -> code page 866 byte
};

// The built-in translation: exact for every character the two code pages
// share (letters with Ё ё, Є є, Ї ї, Ў ў, and ° · № ¤ no-break space); the
// other bytes are paired so that each table is the other's inverse.
const OemAnsiTables& builtin_oem_ansi();

// The translation of the configuration's [Xlat] section: each text gives the
// 128 bytes for 0x80..0xFF. None unless both are exactly 128 bytes long.
std::shared_ptr<const OemAnsiTables> configured_oem_ansi(std::string_view to_ansi, std::string_view to_oem);

// Installs the table's to-ANSI and to-OEM hooks from a configured
// translation, or removes them when there is none.
void install_code_page_hooks(Table& table, const std::shared_ptr<const OemAnsiTables>& xlat);

// The built-in conversions of `length` bytes; in and out may be the same.
void oem_to_ansi(const uint8_t* in, uint8_t* out, size_t length);
void ansi_to_oem(const uint8_t* in, uint8_t* out, size_t length);
std::string oem_to_ansi(std::string_view text);
std::string ansi_to_oem(std::string_view text);

// The table's own conversions between code page 866 and Windows-1251: its
// hooks when it has them, else the built-in tables.
std::string table_oem_to_ansi(const Table& table, std::string_view text);
std::string table_ansi_to_oem(const Table& table, std::string_view text);

// The table's two converters: its stored text to the screen's code page and
// the screen's text back to the table's code page.
std::string display_from_table(const Table& table, std::string_view stored);
std::string table_from_display(const Table& table, std::string_view shown);
TextConverter display_converter(const Table& table);
TextConverter table_converter(const Table& table);

// The table's text and Windows-1251, the code page of the text clipboard.
std::string ansi_from_table(const Table& table, std::string_view stored);
std::string table_from_ansi(const Table& table, std::string_view ansi);

// Converts the Character fields of a record image (RecordSize bytes) to the
// screen's code page or back, each fitted to its field's length.
void record_to_display(const Table& table, uint8_t* record);
void record_from_display(const Table& table, uint8_t* record);

// 1 when the bytes hold more of the letters А О Е У (both cases) as
// Windows-1251 codes than as code page 866 codes, -1 when fewer, 0 when as many.
int letter_test(const uint8_t* bytes, size_t length);

// The code page named by the .cpg file beside a table (a shapefile's, say),
// found as memo files are, blanks around it removed; empty when there is none.
std::string read_code_page_file(const std::string& table_path);
// 866 or 1251 when the name (of a .cpg file) is one of those code pages,
// else 0.
int code_page_number(std::string_view name);

// Sets the table's ansi_text on opening: a .cpg file naming code page 866
// or 1251 decides (oem_ansi 2 still makes it ANSI); otherwise the code-page
// mark of the header (0x03 or 0xC9) or oem_ansi 2 make it ANSI; oem_ansi 1
// keeps it OEM;
// oem_ansi 0 asks the letter test of record 0 and, when that is a tie, counts
// every Cyrillic letter of each code page over the following records.
void choose_code_page(Table& table, int oem_ansi);

// 1 when more of the table's column names look like Windows-1251 than like
// code page 866 (the captions are then shown converted), else 0.
int field_name_test(const Table& table);

// Upper-cases the text in place by the rules of the table's code page when
// the table ignores case; otherwise leaves it.
void fold_case(const Table& table, std::string& text);

}  // namespace kora
