#include "table/dictionary.h"

#include <algorithm>
#include <cctype>

#include "table/code_page.h"
#include "table/dbf_file.h"

namespace kora {

namespace {

constexpr size_t kLineLimit = 127;    // characters of a line that count
constexpr size_t kAliasLimit = 31;
constexpr size_t kNumberPrefix = 3;   // "(1)" before a field's description

std::string_view trim_right(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string upper_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return out;
}

// The name of a "T=" or "F=" line: the text before the first bar, without
// trailing blanks.
std::string_view line_name(std::string_view line) { return trim_right(line.substr(0, line.find('|'))); }

// The text between the bar at `bar` and the next bar (or the line's end),
// without trailing blanks.
std::string_view bar_field(std::string_view line, size_t bar) {
  std::string_view rest = line.substr(bar + 1);
  return trim_right(rest.substr(0, rest.find('|')));
}

// The table's file name without its folder and extension.
std::string base_name(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

bool Dictionary::read_line(std::string& line) {
  line.clear();
  int c = 0;
  while ((c = std::fgetc(file_.get())) != EOF && c != '\n') line += char(c);
  if (c == EOF && line.empty()) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kLineLimit) line.resize(kLineLimit);
  return true;
}

std::unique_ptr<Dictionary> find_dictionary(const std::string& table_path) {
  size_t slash = table_path.rfind('/');
  if (slash == std::string::npos) return nullptr;
  std::FILE* file = std::fopen((table_path.substr(0, slash + 1) + "1Cv7.DD").c_str(), "rb");
  if (!file) return nullptr;
  return std::make_unique<Dictionary>(file);
}

std::string dictionary_table_description(Dictionary& dictionary, const std::string& table_path) {
  const std::string key = "T=" + upper_ascii(base_name(table_path));
  bool windows_text = false;
  std::string line;
  for (int number = 1; dictionary.read_line(line); ++number) {
    if (number > 1 && line.find("DDCP=") != std::string::npos) windows_text = true;
    if (line.compare(0, 2, "T=") != 0 || line_name(line) != key) continue;
    size_t first = line.find('|');
    if (line.find('|', first + 1) == std::string::npos) continue;
    std::string_view description = bar_field(line, first);
    return windows_text ? ansi_to_oem(description) : std::string(description);
  }
  return std::string();
}

void dictionary_skip_header(Dictionary& dictionary) {
  std::string line;
  for (int i = 0; i < 2 && dictionary.read_line(line); ++i) {
  }
}

std::string dictionary_field_description(Dictionary& dictionary, std::string_view field_name) {
  const std::string key = "F=" + upper_ascii(field_name);
  std::string line;
  while (!dictionary.block_ended) {
    if (!dictionary.read_line(line) || line.compare(0, 1, "#") == 0) {
      dictionary.block_ended = true;
      break;
    }
    if (line.compare(0, 2, "F=") != 0 || line_name(line) != key) continue;
    size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    std::string_view rest = std::string_view(line).substr(bar + 1);
    if (!rest.empty() && rest.front() == '(') rest.remove_prefix(std::min(rest.size(), kNumberPrefix));
    return ansi_to_oem(trim_right(rest.substr(0, rest.find('|'))));
  }
  return std::string();
}

void read_dictionary(Table& table) {
  std::unique_ptr<Dictionary> dictionary = find_dictionary(table.file_name);
  if (!dictionary) return;
  std::string description = dictionary_table_description(*dictionary, table.file_name);
  if (description.empty()) return;
  table.description = description;
  dictionary_skip_header(*dictionary);
  table.aliases.resize(size_t(table.field_count()));
  for (int i = 0; i < table.field_count(); ++i) {
    std::string alias = dictionary_field_description(*dictionary, field_name(table, i));
    if (!alias.empty()) table.aliases[size_t(i)] = alias.substr(0, kAliasLimit);
  }
}

}  // namespace kora
