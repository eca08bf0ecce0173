// The 1C version 7 data dictionary: the text file "1Cv7.DD" in a table's
// folder, which may describe the table (a "T=" line) and its fields ("F="
// lines up to the next line beginning with '#'). Its descriptions become the
// table's description and the fields' aliases when the table is opened.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kora {

struct Table;

// An open dictionary, read line by line from the start.
class Dictionary {
 public:
  explicit Dictionary(std::FILE* file) : file_(file) {}
  // The next whole line without its line end, cut to 127 characters; false
  // at the end of the file.
  bool read_line(std::string& line);
  // The fields' block ended (a '#' line or the end of the file): no later
  // field is looked up past it.
  bool block_ended = false;

 private:
  struct Close {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Close> file_;
};

// "1Cv7.DD" in the folder of the table's path; none when the path names no
// folder or the file cannot be opened.
std::unique_ptr<Dictionary> find_dictionary(const std::string& table_path);

// The description of the table's "T=" line (its file name without the
// extension, upper-cased), converted from Windows-1251 when the dictionary
// says "DDCP="; empty when the table is not listed.
std::string dictionary_table_description(Dictionary& dictionary, const std::string& table_path);

// Drops the two lines that follow the table line.
void dictionary_skip_header(Dictionary& dictionary);

// The description of the field's "F=" line, converted from Windows-1251,
// searched from where the previous search stopped to the end of the table's
// block; empty when not found.
std::string dictionary_field_description(Dictionary& dictionary, std::string_view field_name);

// Gives the table its description and the fields their aliases (at most 31
// bytes) from its folder's dictionary, when there is one listing it.
void read_dictionary(Table& table);

}  // namespace kora
