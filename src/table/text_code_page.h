// The code page a table's text is in, any of those kora knows: the DOS and
// Windows pages, the ISO and KOI8 pages, the Macintosh pages, the double-byte
// pages of Chinese, Japanese and Korean, and UTF-8. Text is converted to and
// from UTF-8 through the C library's iconv; the few DOS pages it lacks
// (Mazovia, Kamenický, 720) have tables of their own.
//
// Which code page a table is in is decided on opening: a .cpg file beside
// it, dBase 7's language driver name, the language driver byte of the header,
// and last the text itself.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kora {

struct Table;
struct CodePageEntry;

// One code page a table's text can be in.
class CodePage {
 public:
  // Any usual spelling ("cp1252", "1252", "Windows-1252", "UTF-8", "65001",
  // "ANSI 1251", "KOI8-R", "GBK", "BIG5", "SHIFT_JIS", "EUC-KR", "latin2",
  // "Mazovia", ...), case and punctuation aside; null when unknown.
  static std::shared_ptr<const CodePage> find(std::string_view name);
  // The code page of a number: 866, 1252, 65001 (UTF-8), 620 (Mazovia)...
  static std::shared_ptr<const CodePage> of_number(int number);

  explicit CodePage(const CodePageEntry& entry);

  // The name shown to the user: "1252", "866", "UTF-8", "Big5", "Mazovia".
  const std::string& name() const { return name_; }
  // The Windows or IBM number of the page (65001 for UTF-8).
  int number() const;
  // The name a document declares its bytes in ("windows-1252", "IBM850",
  // "Shift_JIS", "UTF-8"), as IANA registers it where it does.
  std::string declared_name() const;
  // UTF-8 and the double-byte pages: a character may take more than a byte.
  bool multibyte() const;

  // Bytes that are no character of the page become U+FFFD.
  std::string to_utf8(std::string_view bytes) const;
  // The same characters, decoded once (for the screen).
  std::u32string to_unicode(std::string_view bytes) const;
  // UTF-8 text into this code page; false when it holds a character the page
  // cannot (or is no UTF-8), `bad` then names the first such character
  // (U+FFFD for bytes that are no UTF-8). `out` is then left unspecified.
  bool from_utf8(std::string_view utf8, std::string& out, char32_t* bad = nullptr) const;
  // The length of the longest prefix of `bytes` (at most `limit` bytes)
  // that ends on a character boundary.
  size_t whole_characters(std::string_view bytes, size_t limit) const;
  // The number of bytes of the character at index `at` (one on a single-byte
  // page; a character cut by the end counts what its first byte says).
  size_t character_length(std::string_view bytes, size_t at) const;
  // Where the character after the first `characters` starts (the length of
  // the bytes when they hold fewer), and how many characters they hold.
  size_t character_offset(std::string_view bytes, size_t characters) const;
  size_t character_count(std::string_view bytes) const;
  // Upper-cases the text in place by Unicode's rules, whole character by
  // whole character (a trail byte that looks like a letter is no letter).
  // A character keeps its bytes when its upper case is none of the page's
  // or takes another number of bytes, so places in the text stay put.
  void upper_case(std::string& bytes) const;
  void upper_case(char* bytes, size_t length) const;
  // Rewrites the text as bytes whose order is the order of its characters
  // by code point: a rank per byte in single-byte pages, the text in UTF-8
  // for the double-byte pages; UTF-8 is that already and stays. Equal texts
  // stay equal and a prefix stays a prefix.
  void order_key(std::string& bytes) const;
  // The most bytes order_key makes of `length` bytes.
  size_t order_key_size(size_t length) const;
  // The page of the same script on the other side of DOS and Windows
  // (866 and 1251, 850 and 1252, ...); null when there is none.
  std::shared_ptr<const CodePage> partner() const;

 private:
  struct CaseTables;
  const CaseTables& case_tables() const;
  std::string iconv_to_utf8(std::string_view bytes) const;
  bool iconv_from_utf8(std::string_view utf8, std::string& out, char32_t* bad) const;

  const CodePageEntry& entry_;
  std::string name_;
  // Single-byte pages: the character of each byte (U+FFFD for none).
  std::array<char32_t, 256> decode_{};
  // Made on first use: most pages are never compared in.
  mutable std::once_flag cases_once_;
  mutable std::shared_ptr<const CaseTables> cases_;
};

// The names of every code page kora knows, for a chooser: DOS, Windows, the
// other single-byte pages, the double-byte pages, UTF-8.
std::vector<std::string> known_code_pages();

// The code page a language driver byte (header byte 29) marks; null for 0
// and for marks no writer is known to use.
std::shared_ptr<const CodePage> code_page_of_mark(uint8_t mark);
// The code page of a dBase 7 language driver name ("DB437US0", "DBWINUS0").
std::shared_ptr<const CodePage> code_page_of_driver(std::string_view driver);
// True when the bytes hold a multi-byte UTF-8 character and nothing that is
// not UTF-8 (a character cut by the end of the bytes is allowed).
bool looks_like_utf8(std::string_view bytes);

// Sets the table's code page on opening, in this order: the .cpg file, dBase
// 7's language driver name, the language driver byte, then valid multi-byte
// UTF-8 in the Character fields or the field names (when oem_ansi is 0,
// detect); otherwise 866 or 1251 as ansi_text says. Call after
// choose_code_page: a decision that lands on 866 or 1251 follows ansi_text.
void decide_code_page(Table& table, int oem_ansi);

// The refusal of a character the page cannot hold, for the user:
// "Ǆ cannot be stored in code page 1252".
std::string cannot_hold_text(const CodePage& page, char32_t c);

// Puts the table's text in `page`, as the user chose it: 866 and 1251 also
// set ansi_text, which the screen still converts by.
void set_code_page(Table& table, std::shared_ptr<const CodePage> page);

// The table's text is in a code page other than 866 and 1251: it is shown
// in its own characters and compared as stored, never through the 866/1251
// conversions.
bool in_other_code_page(const Table& table);

// The field's name in UTF-8, through the table's code page.
std::string field_name_utf8(const Table& table, int i);

}  // namespace kora
