#include "table/text_code_page.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <unordered_map>

#include "table/dbf_file.h"
#include "table/file_io.h"
#include "table/record_scanner.h"

namespace kora {

enum class CharWidth { kSingle, kUtf8, kDouble };

// One code page kora knows. `aliases` are further spellings in the form
// find() compares: lower-case letters and digits only.
struct CodePageEntry {
  int number;
  const char* name;
  const char* iconv_name;  // null when `high` gives the characters
  const char16_t* high;    // the characters of bytes 0x80..0xFF
  int partner;
  CharWidth width;
  const char* aliases;
};

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// DOS pages glibc's iconv lacks: code page 437 with the Polish letters
// (Mazovia) or the Czech and Slovak ones (Kamenický) in place of some
// accented Latin letters, and the Arabic page 720.
constexpr char16_t kMazovia[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x0105, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x0107, 0x00C4, 0x0104,
    0x0118, 0x0119, 0x0142, 0x00F4, 0x00F6, 0x0106, 0x00FB, 0x00F9, 0x015A, 0x00D6, 0x00DC, 0x00A2, 0x0141, 0x00A5, 0x015B, 0x0192,
    0x0179, 0x017B, 0x00F3, 0x00D3, 0x0144, 0x0143, 0x017A, 0x017C, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
constexpr char16_t kKamenicky[128] = {
    0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D, 0x011B, 0x011A, 0x0139, 0x00CD, 0x013E, 0x013A, 0x00C4, 0x00C1,
    0x00C9, 0x017E, 0x017D, 0x00F4, 0x00F6, 0x00D3, 0x016F, 0x00DA, 0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD, 0x0158, 0x0165,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0148, 0x0147, 0x016E, 0x00D4, 0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};
// Mac Greek, which the C library lacks, as Apple publishes it.
constexpr char16_t kMacGreek[128] = {
    0x00C4, 0x00B9, 0x00B2, 0x00C9, 0x00B3, 0x00D6, 0x00DC, 0x0385, 0x00E0, 0x00E2, 0x00E4, 0x0384, 0x00A8, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00A3, 0x2122, 0x00EE, 0x00EF, 0x2022, 0x00BD, 0x2030, 0x00F4, 0x00F6, 0x00A6, 0x20AC, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x0393, 0x0394, 0x0398, 0x039B, 0x039E, 0x03A0, 0x00DF, 0x00AE, 0x00A9, 0x03A3, 0x03AA, 0x00A7, 0x2260, 0x00B0, 0x00B7,
    0x0391, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x0392, 0x0395, 0x0396, 0x0397, 0x0399, 0x039A, 0x039C, 0x03A6, 0x03AB, 0x03A8, 0x03A9,
    0x03AC, 0x039D, 0x00AC, 0x039F, 0x03A1, 0x2248, 0x03A4, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x03A5, 0x03A7, 0x0386, 0x0388, 0x0153,
    0x2013, 0x2015, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0389, 0x038A, 0x038C, 0x038E, 0x03AD, 0x03AE, 0x03AF, 0x03CC, 0x038F,
    0x03CD, 0x03B1, 0x03B2, 0x03C8, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03BE, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    0x03C0, 0x03CE, 0x03C1, 0x03C3, 0x03C4, 0x03B8, 0x03C9, 0x03C2, 0x03C7, 0x03C5, 0x03B6, 0x03CA, 0x03CB, 0x0390, 0x03B0, 0x00AD,
};

constexpr char16_t kArabicDos[128] = {
    0x0080, 0x0081, 0x00E9, 0x00E2, 0x0084, 0x00E0, 0x0086, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x008D, 0x008E, 0x008F,
    0x0090, 0x0651, 0x0652, 0x00F4, 0x00A4, 0x0640, 0x00FB, 0x00F9, 0x0621, 0x0622, 0x0623, 0x0624, 0x00A3, 0x0625, 0x0626, 0x0627,
    0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F, 0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0636, 0x0637, 0x0638, 0x0639, 0x063A, 0x0641, 0x00B5, 0x0642, 0x0643, 0x0644, 0x0645, 0x0646, 0x0647, 0x0648, 0x0649, 0x064A,
    0x2261, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F, 0x0650, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

using W = CharWidth;

// Where the C library keeps an older form of a Macintosh page than Apple's
// published tables (and the files Macs write): the increment sign and the
// Apple logo of Mac Roman, the euro of Mac Cyrillic.
struct ByteFix {
  int page;
  uint8_t byte;
  char32_t c;
};
constexpr ByteFix kAppleFixes[] = {{10000, 0xC6, 0x2206}, {10000, 0xF0, 0xF8FF}, {10007, 0xFF, 0x20AC}};

// In the chooser's order. The double-byte pages take the Windows forms,
// which hold every character of the plain ones (GBK holds GB2312, 949 holds
// EUC-KR, 932 holds Shift-JIS), so that a .cpg's name opens the text too.
constexpr CodePageEntry kEntries[] = {
    {437, "437", "CP437", nullptr, 0, W::kSingle, ""},
    {620, "Mazovia", nullptr, kMazovia, 0, W::kSingle, "mazovia 667 790"},
    {720, "720", nullptr, kArabicDos, 1256, W::kSingle, ""},
    {737, "737", "CP737", nullptr, 1253, W::kSingle, ""},
    {775, "775", "CP775", nullptr, 1257, W::kSingle, ""},
    {850, "850", "CP850", nullptr, 1252, W::kSingle, ""},
    {852, "852", "CP852", nullptr, 1250, W::kSingle, ""},
    {855, "855", "CP855", nullptr, 0, W::kSingle, ""},
    {857, "857", "CP857", nullptr, 1254, W::kSingle, ""},
    {860, "860", "CP860", nullptr, 0, W::kSingle, ""},
    {861, "861", "CP861", nullptr, 0, W::kSingle, ""},
    {862, "862", "CP862", nullptr, 1255, W::kSingle, ""},
    {863, "863", "CP863", nullptr, 0, W::kSingle, ""},
    {865, "865", "CP865", nullptr, 0, W::kSingle, ""},
    {866, "866", "CP866", nullptr, 1251, W::kSingle, ""},
    {869, "869", "CP869", nullptr, 0, W::kSingle, ""},
    {895, "Kamenicky", nullptr, kKamenicky, 0, W::kSingle, "kamenicky kamenick"},
    {874, "874", "CP874", nullptr, 0, W::kSingle, "tis620"},
    {1250, "1250", "CP1250", nullptr, 852, W::kSingle, ""},
    {1251, "1251", "CP1251", nullptr, 866, W::kSingle, ""},
    {1252, "1252", "CP1252", nullptr, 850, W::kSingle, ""},
    {1253, "1253", "CP1253", nullptr, 737, W::kSingle, ""},
    {1254, "1254", "CP1254", nullptr, 857, W::kSingle, ""},
    {1255, "1255", "CP1255", nullptr, 862, W::kSingle, ""},
    {1256, "1256", "CP1256", nullptr, 720, W::kSingle, ""},
    {1257, "1257", "CP1257", nullptr, 775, W::kSingle, ""},
    {1258, "1258", "CP1258", nullptr, 0, W::kSingle, ""},
    {20866, "KOI8-R", "KOI8-R", nullptr, 0, W::kSingle, "koi8r koi8"},
    {21866, "KOI8-U", "KOI8-U", nullptr, 0, W::kSingle, "koi8u"},
    {28591, "ISO-8859-1", "ISO-8859-1", nullptr, 0, W::kSingle, "iso88591 88591 latin1 l1"},
    {28592, "ISO-8859-2", "ISO-8859-2", nullptr, 0, W::kSingle, "iso88592 88592 latin2 l2"},
    {28595, "ISO-8859-5", "ISO-8859-5", nullptr, 0, W::kSingle, "iso88595 88595"},
    {28597, "ISO-8859-7", "ISO-8859-7", nullptr, 0, W::kSingle, "iso88597 88597"},
    {28599, "ISO-8859-9", "ISO-8859-9", nullptr, 0, W::kSingle, "iso88599 88599 latin5 l5"},
    {28605, "ISO-8859-15", "ISO-8859-15", nullptr, 0, W::kSingle, "iso885915 885915 latin9 l9"},
    {10000, "Mac Roman", "MACINTOSH", nullptr, 0, W::kSingle, "macroman macintosh mac"},
    {10006, "Mac Greek", nullptr, kMacGreek, 0, W::kSingle, "macgreek"},
    {10007, "Mac Cyrillic", "MAC-CYRILLIC", nullptr, 0, W::kSingle, "maccyrillic"},
    {10029, "Mac CE", "MAC-CENTRALEUROPE", nullptr, 0, W::kSingle, "macce maccentraleurope maclatin2"},
    {932, "Shift-JIS", "CP932", nullptr, 0, W::kDouble, "shiftjis sjis windows31j mskanji"},
    {936, "GBK", "CP936", nullptr, 0, W::kDouble, "gbk gb2312 euccn"},
    {949, "EUC-KR", "CP949", nullptr, 0, W::kDouble, "euckr uhc ksc56011987"},
    {950, "Big5", "CP950", nullptr, 0, W::kDouble, "big5"},
    {65001, "UTF-8", nullptr, nullptr, 0, W::kUtf8, "utf8"},
};

// The language driver byte's marks (header byte 29) and their pages: those
// of dBase, FoxPro and Visual FoxPro, and those other writers use for the
// same pages (0x4D for GBK, 0x57 for the current ANSI page, ...).
struct Mark {
  uint8_t mark;
  int page;
};
constexpr Mark kMarks[] = {
    {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x04, 10000}, {0x08, 865},  {0x09, 437},  {0x0A, 850},
    {0x0B, 437},  {0x0D, 437},  {0x0E, 850},  {0x0F, 437},   {0x10, 850},  {0x11, 437},  {0x12, 850},
    {0x13, 932},  {0x14, 850},  {0x15, 437},  {0x16, 850},   {0x17, 865},  {0x18, 437},  {0x19, 437},
    {0x1A, 850},  {0x1B, 437},  {0x1C, 863},  {0x1D, 850},   {0x1F, 852},  {0x22, 852},  {0x23, 852},
    {0x24, 860},  {0x25, 850},  {0x26, 866},  {0x37, 850},   {0x40, 852},  {0x4D, 936},  {0x4E, 949},
    {0x4F, 950},  {0x50, 874},  {0x57, 1252}, {0x58, 1252},  {0x59, 1252}, {0x64, 852},  {0x65, 866},
    {0x66, 865},  {0x67, 861},  {0x68, 895},  {0x69, 620},   {0x6A, 737},  {0x6B, 857},  {0x6C, 863},
    {0x78, 950},  {0x79, 949},  {0x7A, 936},  {0x7B, 932},   {0x7C, 874},  {0x7D, 1255}, {0x7E, 1256},
    {0x86, 737},  {0x87, 852},  {0x88, 857},  {0x96, 10007}, {0x97, 10029}, {0x98, 10006}, {0xC8, 1250}, {0xC9, 1251},
    {0xCA, 1254}, {0xCB, 1253}, {0xCC, 1257},
};

// How far the UTF-8 test reads, as the 866/1251 letter count does.
constexpr uint32_t kDetectRecords = 1000;
constexpr size_t kDetectBytes = 1 << 20;
constexpr size_t kDetectChunk = 1 << 16;

// An iconv conversion, closed when it goes.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != iconv_t(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The character of the UTF-8 sequence at `at` and its length; a byte that
// starts no valid sequence is U+FFFD of length 1, a sequence cut by the end
// U+FFFD of length 0.
char32_t decode_utf8(std::string_view s, size_t at, size_t& length) {
  uint8_t b = uint8_t(s[at]);
  length = 1;
  if (b < 0x80) return b;
  size_t need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (need == 0) return kReplacement;
  char32_t c = b & (0x7F >> need);
  for (size_t k = 1; k < need; ++k) {
    if (at + k >= s.size()) {
      length = 0;
      return kReplacement;
    }
    uint8_t next = uint8_t(s[at + k]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[need] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kReplacement;
  length = need;
  return c;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// The first character of `utf8` from which `converted` (its conversion
// there and back) differs; U+FFFD when they are the same.
char32_t first_difference(std::string_view utf8, std::string_view converted) {
  size_t at = 0;
  while (at < utf8.size()) {
    size_t length = 0;
    char32_t c = decode_utf8(utf8, at, length);
    if (length == 0 || converted.substr(at, length) != utf8.substr(at, length)) return c;
    at += length;
  }
  return kReplacement;
}

// A name as find() compares it: letters in lower case and digits.
std::string normalized(std::string_view name) {
  std::string word;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) word += c;
  }
  return word;
}

bool has_alias(const CodePageEntry& entry, const std::string& word) {
  std::string_view aliases = entry.aliases;
  size_t start = 0;
  while (start < aliases.size()) {
    size_t end = std::min(aliases.find(' ', start), aliases.size());
    if (aliases.substr(start, end - start) == word) return true;
    start = end + 1;
  }
  return std::to_string(entry.number) == word;
}

// Every page, made once; a page iconv cannot open is left out.
const std::vector<std::shared_ptr<const CodePage>>& all_pages() {
  static const std::vector<std::shared_ptr<const CodePage>> pages = [] {
    std::vector<std::shared_ptr<const CodePage>> made;
    for (const CodePageEntry& entry : kEntries) {
      if (entry.iconv_name && !Iconv("UTF-8", entry.iconv_name).ok()) continue;
      made.push_back(std::make_shared<const CodePage>(entry));
    }
    return made;
  }();
  return pages;
}

enum class Utf8Kind { kNotUtf8, kPlain, kMultibyte };

// Whether the bytes are UTF-8 and hold a character of several bytes; one
// cut by the end (a full field's last) counts as UTF-8.
Utf8Kind utf8_kind(std::string_view bytes) {
  bool multibyte = false;
  for (size_t at = 0; at < bytes.size();) {
    size_t length = 0;
    char32_t c = decode_utf8(bytes, at, length);
    if (length == 0) break;
    if (c == kReplacement && bytes.substr(at, length) != "\xEF\xBF\xBD") return Utf8Kind::kNotUtf8;
    multibyte = multibyte || length > 1;
    at += length;
  }
  return multibyte ? Utf8Kind::kMultibyte : Utf8Kind::kPlain;
}

// True when every Character field of the first records, and every field
// name, is UTF-8 and one of them holds a character of several bytes.
bool text_is_utf8(const Table& table) {
  bool multibyte = false;
  auto check = [&multibyte](std::string_view bytes) {
    Utf8Kind kind = utf8_kind(bytes);
    multibyte = multibyte || kind == Utf8Kind::kMultibyte;
    return kind != Utf8Kind::kNotUtf8;
  };
  for (int i = 0; i < table.field_count(); ++i)
    if (!check(field_name(table, i))) return false;
  size_t size = table.record_size;
  if (size == 0 || table.record_count == 0) return multibyte;
  uint32_t records = std::min(table.record_count, kDetectRecords);
  records = uint32_t(std::min<size_t>(records, std::max<size_t>(1, kDetectBytes / size)));
  RecordScanner scan(table, ScanOrder::kPhysical, {}, kDetectChunk);
  scan.set_range(0, records);
  ScannedRecord r;
  while (scan.next(r)) {
    for (int i = 0; i < table.field_count(); ++i) {
      if (field_type(table, i) != 'C') continue;
      size_t offset = table.fields[size_t(i)].offset;
      if (offset >= size) continue;
      size_t length = std::min(size - offset, size_t(field_length(table, i)));
      if (!check(std::string_view(reinterpret_cast<const char*>(r.image + offset), length))) return false;
    }
  }
  return multibyte;
}

// dBase 7 keeps its language driver's name in header bytes 32..63.
std::string language_driver_name(const Table& table) {
  if (table.layout != DescriptorLayout::kDBase7 || table.fd < 0) return {};
  char bytes[32] = {};
  if (file_read_at(table.fd, bytes, sizeof bytes, 32) != ssize_t(sizeof bytes)) return {};
  return std::string(bytes, strnlen(bytes, sizeof bytes));
}

// Case is Unicode's, whatever the process's locale: the C library's
// UTF-8 locale, made once. Without it only ASCII letters change case.
char32_t unicode_upper(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  return locale ? char32_t(towupper_l(wint_t(c), locale)) : c;
}

// The character `length` bytes of a double-byte page stand for; 0 when
// they are none.
char32_t decode_alone(iconv_t cd, const char* bytes, size_t length) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char out[16];
  char* in = const_cast<char*>(bytes);
  char* out_at = out;
  size_t in_left = length, out_left = sizeof out;
  if (iconv(cd, &in, &in_left, &out_at, &out_left) == size_t(-1) || in_left != 0) return 0;
  std::string_view got(out, size_t(out_at - out));
  size_t got_length = 0;
  char32_t c = got.empty() ? 0 : decode_utf8(got, 0, got_length);
  return got_length == got.size() && c != kReplacement ? c : 0;
}

}  // namespace

// What comparing text in the page takes: single-byte pages fold and rank
// through a byte table; the double-byte pages decode every pair through
// one (a conversion call per character would be far too slow for a walk).
struct CodePage::CaseTables {
  std::array<uint8_t, 256> upper{};  // a byte's upper case, itself when none
  std::array<uint8_t, 256> rank{};   // a byte's place in code point order
  // Double-byte pages: the character of each single byte and of each pair
  // (lead * 256 + trail), 0 for none; the pair of a pair's upper case, 0
  // when it keeps its own.
  std::vector<char32_t> pairs;
  std::vector<uint16_t> upper_pairs;
  // UTF-8: the upper case of each character of the Basic Multilingual
  // Plane whose upper case takes as many bytes, else the character itself.
  std::vector<char16_t> upper_bmp;
};

const CodePage::CaseTables& CodePage::case_tables() const {
  std::call_once(cases_once_, [this] {
    auto tables = std::make_shared<CaseTables>();
    if (entry_.width == CharWidth::kSingle) {
      std::unordered_map<char32_t, uint8_t> byte_of;
      for (int b = 255; b >= 0; --b) byte_of[decode_[size_t(b)]] = uint8_t(b);
      std::array<uint8_t, 256> order{};
      std::iota(order.begin(), order.end(), uint8_t(0));
      std::stable_sort(order.begin(), order.end(), [this](uint8_t a, uint8_t b) { return decode_[a] < decode_[b]; });
      for (int b = 0; b < 256; ++b) {
        tables->rank[order[size_t(b)]] = uint8_t(b);
        char32_t c = decode_[size_t(b)];
        auto found = c == kReplacement ? byte_of.end() : byte_of.find(unicode_upper(c));
        tables->upper[size_t(b)] = found == byte_of.end() ? uint8_t(b) : found->second;
      }
    } else if (entry_.width == CharWidth::kUtf8) {
      tables->upper_bmp.resize(0x10000);
      auto size_class = [](char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; };
      for (char32_t c = 0; c < 0x10000; ++c) {
        char32_t upper = c >= 0xD800 && c <= 0xDFFF ? c : unicode_upper(c);
        bool same_size = size_class(upper) == size_class(c) && !(upper >= 0xD800 && upper <= 0xDFFF);
        tables->upper_bmp[c] = char16_t(same_size ? upper : c);
      }
    } else if (entry_.width == CharWidth::kDouble) {
      tables->pairs.assign(0x10000, 0);
      tables->upper_pairs.assign(0x10000, 0);
      Iconv cd("UTF-8", entry_.iconv_name);
      std::unordered_map<char32_t, uint16_t> pair_of;
      for (int b = 0; b < 256 && cd.ok(); ++b) {
        char lead = char(b);
        if (b < 0x80) {
          tables->pairs[size_t(b)] = char32_t(b);
          continue;
        }
        if (character_length(std::string_view(&lead, 1), 0) == 1) {
          tables->pairs[size_t(b)] = decode_alone(cd.get(), &lead, 1);
          continue;
        }
        for (int trail = 0x40; trail < 0xFF; ++trail) {
          const char pair[2] = {lead, char(trail)};
          size_t code = size_t(b) << 8 | size_t(trail);
          tables->pairs[code] = decode_alone(cd.get(), pair, 2);
          if (tables->pairs[code]) pair_of.emplace(tables->pairs[code], uint16_t(code));
        }
      }
      for (size_t code = 0x100; code < 0x10000; ++code) {
        char32_t c = tables->pairs[code];
        char32_t upper = c ? unicode_upper(c) : c;
        auto found = upper == c ? pair_of.end() : pair_of.find(upper);
        if (found != pair_of.end()) tables->upper_pairs[code] = found->second;
      }
    }
    cases_ = std::move(tables);
  });
  return *cases_;
}

void CodePage::upper_case(std::string& bytes) const { upper_case(bytes.data(), bytes.size()); }

void CodePage::upper_case(char* bytes, size_t length) const {
  if (entry_.width == CharWidth::kSingle) {
    const CaseTables& tables = case_tables();
    for (size_t k = 0; k < length; ++k) bytes[k] = char(tables.upper[uint8_t(bytes[k])]);
    return;
  }
  std::string_view text(bytes, length);
  const CaseTables& tables = case_tables();
  const bool utf8 = entry_.width == CharWidth::kUtf8;
  std::string encoded;
  for (size_t at = 0; at < length;) {
    uint8_t b = uint8_t(bytes[at]);
    if (b < 0x80) {
      if (b >= 'a' && b <= 'z') bytes[at] = char(b - 0x20);
      ++at;
      continue;
    }
    if (utf8) {
      // Two and three bytes through the table: a walk over a million
      // records folds at the speed of a byte page.
      auto trail = [&](size_t k) { return at + k < length && (uint8_t(bytes[at + k]) & 0xC0) == 0x80; };
      if (b >= 0xC2 && b <= 0xDF && trail(1)) {
        char32_t c = char32_t(b & 0x1F) << 6 | (uint8_t(bytes[at + 1]) & 0x3F);
        char32_t upper = tables.upper_bmp[c];
        bytes[at] = char(0xC0 | (upper >> 6));
        bytes[at + 1] = char(0x80 | (upper & 0x3F));
        at += 2;
        continue;
      }
      if (b >= 0xE0 && b <= 0xEF && trail(1) && trail(2)) {
        char32_t c = char32_t(b & 0x0F) << 12 | char32_t(uint8_t(bytes[at + 1]) & 0x3F) << 6 |
                     (uint8_t(bytes[at + 2]) & 0x3F);
        if (c >= 0x800) {
          char32_t upper = tables.upper_bmp[c];
          bytes[at] = char(0xE0 | (upper >> 12));
          bytes[at + 1] = char(0x80 | ((upper >> 6) & 0x3F));
          bytes[at + 2] = char(0x80 | (upper & 0x3F));
          at += 3;
          continue;
        }
      }
    } else {
      if (character_length(text, at) == 1) {
        ++at;
        continue;
      }
      if (at + 1 >= length) break;
      uint16_t upper = tables.upper_pairs[size_t(b) << 8 | uint8_t(bytes[at + 1])];
      if (upper) {
        bytes[at] = char(upper >> 8);
        bytes[at + 1] = char(upper & 0xFF);
      }
      at += 2;
      continue;
    }
    size_t got = 0;
    char32_t c = decode_utf8(text, at, got);
    if (got == 0) break;
    char32_t upper = c == kReplacement ? c : unicode_upper(c);
    if (upper != c) {
      encoded.clear();
      append_utf8(encoded, upper);
      if (encoded.size() == got) std::memcpy(bytes + at, encoded.data(), got);
    }
    at += got;
  }
}

void CodePage::order_key(std::string& bytes) const {
  if (entry_.width == CharWidth::kUtf8) return;
  const CaseTables& tables = case_tables();
  if (entry_.width == CharWidth::kSingle) {
    for (char& b : bytes) b = char(tables.rank[uint8_t(b)]);
    return;
  }
  std::string key;
  key.reserve(bytes.size() * 3 / 2);
  for (size_t at = 0; at < bytes.size();) {
    size_t length = character_length(bytes, at);
    char32_t c = 0;
    if (length == 1) c = tables.pairs[uint8_t(bytes[at])];
    else if (at + 1 < bytes.size()) c = tables.pairs[size_t(uint8_t(bytes[at])) << 8 | uint8_t(bytes[at + 1])];
    append_utf8(key, c ? c : kReplacement);
    at += length;
  }
  bytes = std::move(key);
}

size_t CodePage::order_key_size(size_t length) const {
  return entry_.width == CharWidth::kDouble ? length * 3 : length;
}

CodePage::CodePage(const CodePageEntry& entry) : entry_(entry), name_(entry.name) {
  if (entry.width != CharWidth::kSingle) return;
  for (int b = 0; b < 0x80; ++b) decode_[size_t(b)] = char32_t(b);
  if (entry.high) {
    for (int b = 0x80; b < 0x100; ++b) decode_[size_t(b)] = entry.high[b - 0x80];
    return;
  }
  // Each byte alone (pages such as 1255 would join a letter and a
  // following point into one character); U+FFFD where the page has none.
  Iconv cd("UTF-8", entry.iconv_name);
  for (int b = 0x80; b < 0x100 && cd.ok(); ++b) {
    char in = char(b);
    char out[16];
    char* in_at = &in;
    char* out_at = out;
    size_t in_left = 1, out_left = sizeof out;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    bool ok = iconv(cd.get(), &in_at, &in_left, &out_at, &out_left) != size_t(-1) &&
              iconv(cd.get(), nullptr, nullptr, &out_at, &out_left) != size_t(-1);
    size_t length = 0;
    std::string_view got(out, size_t(out_at - out));
    char32_t c = ok && !got.empty() ? decode_utf8(got, 0, length) : kReplacement;
    decode_[size_t(b)] = length == got.size() ? c : kReplacement;
  }
  for (const ByteFix& fix : kAppleFixes) {
    if (fix.page == entry.number) decode_[fix.byte] = fix.c;
  }
}

std::shared_ptr<const CodePage> CodePage::find(std::string_view name) {
  std::string word = normalized(name);
  if (word.empty()) return nullptr;
  std::string bare = word;
  // "CP1251", "Windows-1251", "ANSI 1251", "IBM866", "OEM 866", "x-mac-..."
  for (const char* prefix : {"windows", "win", "cp", "ansi", "ibm", "oem", "dos", "ms", "x"}) {
    if (bare.starts_with(prefix) && bare.size() > std::strlen(prefix)) {
      bare.erase(0, std::strlen(prefix));
      break;
    }
  }
  for (const auto& page : all_pages())
    if (has_alias(page->entry_, word) || has_alias(page->entry_, bare)) return page;
  return nullptr;
}

std::shared_ptr<const CodePage> CodePage::of_number(int number) {
  for (const auto& page : all_pages())
    if (page->entry_.number == number) return page;
  return nullptr;
}

int CodePage::number() const { return entry_.number; }

bool CodePage::multibyte() const { return entry_.width != CharWidth::kSingle; }

std::string CodePage::declared_name() const {
  struct Declared {
    int number;
    const char* name;
  };
  static constexpr Declared kDeclared[] = {
      {720, "x-cp720"},         {737, "x-IBM737"},     {874, "windows-874"},       {932, "Shift_JIS"},
      {936, "GBK"},             {949, "EUC-KR"},       {950, "Big5"},              {10000, "macintosh"},
      {10007, "x-mac-cyrillic"}, {10029, "x-mac-ce"},  {20866, "KOI8-R"},          {21866, "KOI8-U"},
      {65001, "UTF-8"},         {620, "x-mazovia"},    {895, "x-kamenicky"},
  };
  int n = number();
  for (const Declared& d : kDeclared)
    if (d.number == n) return d.name;
  if (n >= 1250 && n <= 1258) return "windows-" + std::to_string(n);
  if (n >= 28591 && n <= 28605) return name();  // ISO-8859-n
  return "IBM" + std::to_string(n);
}

std::shared_ptr<const CodePage> CodePage::partner() const {
  return entry_.partner ? of_number(entry_.partner) : nullptr;
}

std::u32string CodePage::to_unicode(std::string_view bytes) const {
  std::u32string out;
  out.reserve(bytes.size());
  if (entry_.width == CharWidth::kSingle) {
    for (char b : bytes) out += decode_[uint8_t(b)];
    return out;
  }
  std::string utf8 = entry_.width == CharWidth::kUtf8 ? std::string() : iconv_to_utf8(bytes);
  std::string_view text = entry_.width == CharWidth::kUtf8 ? bytes : std::string_view(utf8);
  for (size_t at = 0; at < text.size();) {
    size_t length = 0;
    out += decode_utf8(text, at, length);
    if (length == 0) break;  // a character cut by the end
    at += length;
  }
  return out;
}

std::string CodePage::to_utf8(std::string_view bytes) const {
  std::string out;
  out.reserve(bytes.size());
  switch (entry_.width) {
    case CharWidth::kSingle:
      for (char b : bytes) append_utf8(out, decode_[uint8_t(b)]);
      return out;
    case CharWidth::kUtf8:
      for (size_t at = 0; at < bytes.size();) {
        size_t length = 0;
        char32_t c = decode_utf8(bytes, at, length);
        if (c == kReplacement || length == 0) {
          append_utf8(out, kReplacement);
          if (length == 0) break;
          at += 1;
          continue;
        }
        out.append(bytes.substr(at, length));
        at += length;
      }
      return out;
    case CharWidth::kDouble:
      break;
  }
  return iconv_to_utf8(bytes);
}

std::string CodePage::iconv_to_utf8(std::string_view bytes) const {
  std::string out;
  Iconv cd("UTF-8", entry_.iconv_name);
  if (!cd.ok()) return out;
  std::string chunk(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  while (in_left > 0) {
    char* at = chunk.data();
    size_t out_left = chunk.size();
    size_t done = iconv(cd.get(), &in, &in_left, &at, &out_left);
    out.append(chunk.data(), chunk.size() - out_left);
    if (done != size_t(-1)) break;
    if (errno == E2BIG) continue;
    append_utf8(out, kReplacement);
    if (errno != EILSEQ) break;  // a character cut by the end
    ++in;
    --in_left;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool CodePage::from_utf8(std::string_view utf8, std::string& out, char32_t* bad) const {
  out.clear();
  if (entry_.width == CharWidth::kDouble) return iconv_from_utf8(utf8, out, bad);
  char32_t failed = 0;
  for (size_t at = 0; at < utf8.size() && !failed;) {
    size_t length = 0;
    char32_t c = decode_utf8(utf8, at, length);
    if (c == kReplacement && (length == 0 || utf8.substr(at, length) != "\xEF\xBF\xBD")) {
      failed = kReplacement;
      break;
    }
    if (entry_.width == CharWidth::kUtf8) {
      out.append(utf8.substr(at, length));
    } else if (c < 0x80) {
      out += char(c);
    } else {
      auto found = std::find(decode_.begin() + 0x80, decode_.end(), c);
      if (c == kReplacement || found == decode_.end()) failed = c;
      else out += char(found - decode_.begin());
    }
    at += length;
  }
  if (failed && bad) *bad = failed;
  return !failed;
}

bool CodePage::iconv_from_utf8(std::string_view utf8, std::string& out, char32_t* bad) const {
  Iconv cd(entry_.iconv_name, "UTF-8");
  if (!cd.ok()) return false;
  std::string chunk(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  bool failed = false;
  while (in_left > 0) {
    char* at = chunk.data();
    size_t out_left = chunk.size();
    size_t done = iconv(cd.get(), &in, &in_left, &at, &out_left);
    out.append(chunk.data(), chunk.size() - out_left);
    if (done != size_t(-1)) break;
    if (errno == E2BIG) continue;
    failed = true;
    break;
  }
  if (!failed) {
    char* at = chunk.data();
    size_t out_left = chunk.size();
    if (iconv(cd.get(), nullptr, nullptr, &at, &out_left) == size_t(-1)) failed = true;
    out.append(chunk.data(), chunk.size() - out_left);
  }
  // A character the page holds comes back unchanged; one iconv stored as
  // something else (a look-alike) is refused as one it cannot hold.
  std::string back = failed ? std::string() : iconv_to_utf8(out);
  if (!failed && back == utf8) return true;
  size_t done = std::min(size_t(in - utf8.data()), utf8.size() - 1);
  if (bad) {
    size_t length = 0;
    *bad = failed ? decode_utf8(utf8, done, length) : first_difference(utf8, back);
  }
  return false;
}

size_t CodePage::character_length(std::string_view bytes, size_t at) const {
  uint8_t b = uint8_t(bytes[at]);
  switch (entry_.width) {
    case CharWidth::kSingle:
      return 1;
    case CharWidth::kUtf8: {
      if (b < 0x80) return 1;
      size_t length = 0;
      decode_utf8(bytes, at, length);
      // A character cut by the end takes what its first byte says.
      if (length == 0) return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
      return length;
    }
    case CharWidth::kDouble:
      break;
  }
  bool lead = entry_.number == 932 ? (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) : b >= 0x81 && b <= 0xFE;
  return lead ? 2 : 1;
}

size_t CodePage::whole_characters(std::string_view bytes, size_t limit) const {
  size_t end = std::min(limit, bytes.size());
  size_t at = 0;
  while (at < end) {
    size_t length = character_length(bytes, at);
    if (at + length > end) break;
    at += length;
  }
  return at;
}

size_t CodePage::character_offset(std::string_view bytes, size_t characters) const {
  if (entry_.width == CharWidth::kSingle) return std::min(characters, bytes.size());
  size_t at = 0;
  for (size_t k = 0; k < characters && at < bytes.size(); ++k) at += character_length(bytes, at);
  return std::min(at, bytes.size());
}

size_t CodePage::character_count(std::string_view bytes) const {
  if (entry_.width == CharWidth::kSingle) return bytes.size();
  size_t count = 0;
  for (size_t at = 0; at < bytes.size(); ++count) at += character_length(bytes, at);
  return count;
}

std::vector<std::string> known_code_pages() {
  std::vector<std::string> names;
  for (const auto& page : all_pages()) names.push_back(page->name());
  return names;
}

std::shared_ptr<const CodePage> code_page_of_mark(uint8_t mark) {
  for (const Mark& m : kMarks)
    if (m.mark == mark) return CodePage::of_number(m.page);
  return nullptr;
}

std::shared_ptr<const CodePage> code_page_of_driver(std::string_view driver) {
  std::string word = normalized(driver);
  // "DB437US0", "DB866RU0": the page's number; "DBWINUS0", "DBWINWE0": ANSI.
  if (word.starts_with("dbwin")) return CodePage::of_number(1252);
  if (word.size() >= 5 && word.starts_with("db") && std::all_of(word.begin() + 2, word.begin() + 5, [](char c) { return c >= '0' && c <= '9'; }))
    return CodePage::of_number(std::stoi(word.substr(2, 3)));
  return nullptr;
}

bool looks_like_utf8(std::string_view bytes) { return utf8_kind(bytes) == Utf8Kind::kMultibyte; }

void decide_code_page(Table& table, int oem_ansi) {
  std::shared_ptr<const CodePage> page = CodePage::find(table.code_page_name);
  if (!page) page = code_page_of_driver(language_driver_name(table));
  if (!page) page = code_page_of_mark(table.code_page_mark());
  if (!page && oem_ansi == 0 && text_is_utf8(table)) page = CodePage::of_number(65001);
  // 866 and 1251 are decided as they always were: the mark, the setting and
  // the letters of the records, switched by the user.
  if (!page || page->number() == 866 || page->number() == 1251) page = CodePage::of_number(table.ansi_text ? 1251 : 866);
  table.code_page = page;
}

std::string cannot_hold_text(const CodePage& page, char32_t c) {
  std::string text;
  append_utf8(text, c);
  return text + " cannot be stored in code page " + page.name();
}

void set_code_page(Table& table, std::shared_ptr<const CodePage> page) {
  if (!page) return;
  if (page->number() == 866 || page->number() == 1251) table.ansi_text = page->number() == 1251;
  table.code_page = std::move(page);
}

bool in_other_code_page(const Table& table) {
  return table.code_page && table.code_page->number() != 866 && table.code_page->number() != 1251;
}

std::string field_name_utf8(const Table& table, int i) {
  std::shared_ptr<const CodePage> page = table.code_page;
  if (!page) page = CodePage::of_number(table.ansi_text ? 1251 : 866);
  std::string name = field_name(table, i);
  return page ? page->to_utf8(name) : name;
}

}  // namespace kora
