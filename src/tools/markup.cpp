#include "tools/markup.h"

namespace kora {

namespace {

// Bytes an XML parser refuses: C0 controls other than tab, LF and CR; and in
// Windows-1251 the byte 0x98, which has no character there.
bool xml_refuses(unsigned char byte, XmlEncoding encoding) {
  if (byte < 0x20) return byte != '\t' && byte != '\n' && byte != '\r';
  return encoding == XmlEncoding::kWindows1251 && byte == 0x98;
}

// & < > as entities; in an attribute also " and, as character references,
// the white space a parser would otherwise turn into blanks.
std::string xml_escape(std::string_view text, XmlEncoding encoding, bool attribute) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (xml_refuses(static_cast<unsigned char>(c), encoding)) continue;
    switch (c) {
      case '&': out += "&amp;"; continue;
      case '<': out += "&lt;"; continue;
      case '>': out += "&gt;"; continue;
      default: break;
    }
    if (!attribute) {
      out += c;
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\t' || c == '\n' || c == '\r') {
      out += "&#" + std::to_string(int(c)) + ";";
    } else {
      out += c;
    }
  }
  return out;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The address of an e-mail word: without a leading "&lt;", cut before "&gt;".
std::string_view mail_address(std::string_view word) {
  if (starts_with(word, "&lt;")) word.remove_prefix(4);
  size_t close = word.find("&gt;");
  return close == std::string_view::npos ? word : word.substr(0, close);
}

void append_link(std::string& out, std::string_view address_prefix, std::string_view address, std::string_view word) {
  out += "<a href=\"";
  out += address_prefix;
  out += address;
  out += "\">";
  out += word;
  out += "</a> ";
}

void append_word(std::string& out, std::string_view word) {
  size_t at = word.find('@');
  if (at != std::string_view::npos && word.find('.', at) != std::string_view::npos) {
    append_link(out, "mailto:", mail_address(word), word);
  } else if (starts_with(word, "http://") || starts_with(word, "ftp://")) {
    append_link(out, "", word, word);
  } else if (word.size() >= 6 && (starts_with(word, "www.") || starts_with(word, "ftp.")) &&
             word.find('.', 4) != std::string_view::npos) {
    append_link(out, starts_with(word, "www.") ? "http://" : "ftp://", word, word);
  } else {
    out += word;
    out += ' ';
  }
}

}  // namespace

const char* xml_encoding_name(XmlEncoding encoding) {
  return encoding == XmlEncoding::kWindows1251 ? "windows-1251" : "cp866";
}

std::string xml_escape_text(std::string_view text, XmlEncoding encoding) {
  return xml_escape(text, encoding, false);
}

std::string xml_escape_attribute(std::string_view text, XmlEncoding encoding) {
  return xml_escape(text, encoding, true);
}

std::string xml_comment_text(std::string_view text, XmlEncoding encoding) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (xml_refuses(static_cast<unsigned char>(c), encoding)) continue;
    if (c == '-' && !out.empty() && out.back() == '-') out += ' ';
    out += c;
  }
  return out;
}

std::string xml_element(std::string_view name, std::string_view text, XmlEncoding encoding) {
  std::string body = xml_escape_text(text, encoding);
  std::string out = "<";
  out += name;
  if (body.empty()) return out + "/>";
  out += '>';
  out += body;
  out += "</";
  out += name;
  out += '>';
  return out;
}

std::string xml_number_element(std::string_view name, long long number) {
  std::string out = "<";
  out += name;
  if (number == 0) return out + "/>";
  out += '>';
  out += std::to_string(number);
  out += "</";
  out += name;
  out += '>';
  return out;
}

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string html_encode_text(std::string_view text) {
  std::string marked;
  marked.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    switch (c) {
      case '\n': marked += " <br>\n "; break;
      case '"': marked += "&quot;"; break;
      case '&': marked += "&amp;"; break;
      case '<': marked += " &lt;"; break;
      case '>': marked += "&gt; "; break;
      case '\r': break;
      default: marked += c;
    }
  }
  std::string out;
  out.reserve(marked.size() + marked.size() / 8);
  std::string_view rest = marked;
  while (!rest.empty()) {
    size_t end = rest.find_first_of(" \t");
    std::string_view word = rest.substr(0, end);
    if (!word.empty()) append_word(out, word);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return out;
}

}  // namespace kora
