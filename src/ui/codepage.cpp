#include "ui/codepage.h"

namespace kora {

namespace {

// Bytes 0..31 are never drawn as themselves (the screen substitutes them),
// so their entries are the control codes.
constexpr std::uint32_t kCp866[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,};

}  // namespace

std::uint32_t cp866_to_unicode(unsigned char byte) { return kCp866[byte]; }

int unicode_to_cp866(std::uint32_t code_point) {
  if (code_point < 0x80) return static_cast<int>(code_point);
  for (int b = 0x80; b < 256; ++b) {
    if (kCp866[b] == code_point) return b;
  }
  return -1;
}

namespace {

// The code point of the UTF-8 sequence at text[at], or -1 when the bytes
// there are no well-formed sequence (overlong forms and surrogates
// included); `length` gets its length.
long utf8_decode(std::string_view text, size_t at, size_t& length) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  int more = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
  if (more < 0 || at + size_t(more) >= text.size()) return -1;
  static constexpr long kSmallest[4] = {0, 0x80, 0x800, 0x10000};
  long cp = more == 0 ? lead : lead & (0x3F >> more);
  for (int k = 1; k <= more; ++k) {
    unsigned char next = static_cast<unsigned char>(text[at + size_t(k)]);
    if ((next & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < kSmallest[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  length = size_t(more) + 1;
  return cp;
}

}  // namespace

std::u32string utf8_to_u32(std::string_view utf8) {
  std::u32string out;
  for (size_t at = 0; at < utf8.size();) {
    size_t length = 1;
    long cp = utf8_decode(utf8, at, length);
    out += cp < 0 ? U'\uFFFD' : static_cast<char32_t>(cp);
    at += cp < 0 ? 1 : length;
  }
  return out;
}

bool is_utf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    size_t length = 1;
    if (utf8_decode(text, at, length) < 0) return false;
    at += length;
  }
  return true;
}

Utf8To866 utf8_to_cp866(std::string_view utf8, std::string& out, std::uint32_t* bad) {
  out.clear();
  std::string bytes;
  for (size_t at = 0; at < utf8.size();) {
    size_t length = 0;
    long cp = utf8_decode(utf8, at, length);
    if (cp < 0) return Utf8To866::kNotUtf8;
    int byte = unicode_to_cp866(static_cast<std::uint32_t>(cp));
    if (byte < 0) {
      if (bad) *bad = static_cast<std::uint32_t>(cp);
      return Utf8To866::kNotHeld;
    }
    bytes += static_cast<char>(byte);
    at += length;
  }
  out = std::move(bytes);
  return Utf8To866::kDone;
}

namespace {
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
}

std::string remembered_text(std::string_view utf8) {
  std::string bytes;
  if (utf8_to_cp866(utf8, bytes) == Utf8To866::kDone) return bytes;
  return std::string(kUtf8Mark) + std::string(utf8);
}

bool is_remembered_utf8(std::string_view remembered) { return remembered.substr(0, kUtf8Mark.size()) == kUtf8Mark; }

std::string remembered_utf8(std::string_view remembered) {
  if (is_remembered_utf8(remembered)) return std::string(remembered.substr(kUtf8Mark.size()));
  std::string utf8;
  for (unsigned char byte : remembered) {
    char bytes[8];
    utf8.append(bytes, size_t(utf8_encode(cp866_to_unicode(byte), bytes)));
  }
  return utf8;
}

int utf8_encode(std::uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace kora
