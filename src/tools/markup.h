// Encoders for values written into HTML and XML files. Every encoder returns
// a new string: values come from records and memo texts of any length.
//
// The bytes are written as the table holds them (code page 866 or
// Windows-1251); an XML file says which in its declaration, and the encoders
// leave out the bytes that an XML parser would refuse in that encoding.
#pragma once

#include <string>
#include <string_view>

namespace kora {

enum class XmlEncoding { kCp866, kWindows1251 };

// The name written in the XML declaration: "cp866" or "windows-1251".
const char* xml_encoding_name(XmlEncoding encoding);

// Text for an XML element: & < > as entities, and without the bytes XML does
// not allow (control characters other than tab, line feed and carriage
// return; in Windows-1251 also the one byte that code page leaves undefined).
std::string xml_escape_text(std::string_view text, XmlEncoding encoding = XmlEncoding::kCp866);
// The same for a quoted attribute value: also ", and tab, line feed and
// carriage return as character references so that they survive as written.
std::string xml_escape_attribute(std::string_view text, XmlEncoding encoding = XmlEncoding::kCp866);
// Text for inside an XML comment: never two hyphens in a row.
std::string xml_comment_text(std::string_view text, XmlEncoding encoding = XmlEncoding::kCp866);

// "<name>text</name>" with the text escaped; "<name/>" when nothing is left.
std::string xml_element(std::string_view name, std::string_view text,
                        XmlEncoding encoding = XmlEncoding::kCp866);
// "<name>number</name>"; "<name/>" for 0.
std::string xml_number_element(std::string_view name, long long number);

// & < > " as entities, nothing else changed: names and paths in HTML.
std::string html_escape(std::string_view text);

// The HTML form of a cell value: entities, line breaks as <br>, and words
// that look like e-mail addresses or web and ftp addresses made into links.
std::string html_encode_text(std::string_view text);

}  // namespace kora
