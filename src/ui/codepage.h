// Code page 866 <-> Unicode, for painting screen bytes on a Unicode terminal
// and for turning typed Unicode letters back into screen bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kora {

// The Unicode code point drawn for a code page 866 byte. Code pages 437 and
// 866 share the line-drawing and block bytes 0xB0..0xDF, so frames and
// Cyrillic text go through the same table.
std::uint32_t cp866_to_unicode(unsigned char byte);

// The code page 866 byte for a code point, or -1 when there is none.
int unicode_to_cp866(std::uint32_t code_point);

// Appends the UTF-8 form of a code point to out (at most 4 bytes); returns
// the number of bytes written.
int utf8_encode(std::uint32_t code_point, char* out);

// The characters of a UTF-8 text; bytes that are no UTF-8 become U+FFFD.
std::u32string utf8_to_u32(std::string_view utf8);
// Whether the text is well-formed UTF-8 (ASCII is).
bool is_utf8(std::string_view text);

// What became of a UTF-8 text turned into code page 866.
enum class Utf8To866 { kDone, kNotUtf8, kNotHeld };

// The code page 866 bytes of a UTF-8 text. kNotUtf8 when the text is no
// UTF-8 (out is left empty); kNotHeld when a character has no byte in code
// page 866, which `bad` then names.
Utf8To866 utf8_to_cp866(std::string_view utf8, std::string& out, std::uint32_t* bad = nullptr);

// Texts the program remembers (settings, dialog histories) are code page 866
// bytes; one holding a character 866 lacks (typed for a table in another
// code page) is kept in UTF-8 behind the UTF-8 byte order mark, which no
// 866 text begins with in practice.
std::string remembered_text(std::string_view utf8);
bool is_remembered_utf8(std::string_view remembered);
// The characters of a remembered text in UTF-8, whichever form it has.
std::string remembered_utf8(std::string_view remembered);

}  // namespace kora
