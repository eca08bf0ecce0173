// The configuration text: a file of section headers ("[Options]") and key
// lines ("DateFormat=1") held as a list of lines, read whole, looked up and
// changed in memory, and written back whole. The input-history file uses
// the same reader and writer.
//
// Matching ignores case: a section's header is any line that begins with
// "[name]", and a key's line is the first non-comment line of the section
// that holds the key's whole name, then "=" (or nothing), with blanks
// allowed before the "=" ("MenuHot" never takes "MenuHotSelected=...").
// The value starts after the "="; written "Key = value", the blanks after
// the "=" are not part of it either.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/text_editor.h"

namespace kora {

struct IniText {
  std::string path;
  std::vector<TextLine> lines;  // never empty; blank lines are not kept
  std::vector<int> file_lines;  // the file's line number of each line, as read
  // Values ini_get_int could not read, each with its line, as the user
  // should hear of them: "line 12: DateFormat=x is not a number".
  mutable std::vector<std::string> unreadable;
};

// Splits file bytes into lines: at line feeds, one carriage return at the
// end of a line removed (and remembered in line_end), blank lines dropped.
// No lines at all gives one empty line.
std::vector<TextLine> ini_split(const std::string& bytes);

// Reads the whole file. With write_intent a missing file is created empty
// first. Null when the file cannot be read (or created).
std::unique_ptr<IniText> ini_open(const std::string& path, bool write_intent);

// A number: decimal, or hexadecimal when the value begins with "0x". The
// default when the key is missing or its value is not a number.
int ini_get_int(const char* section, const char* key, int default_value, const IniText& ini);

// The key's value cut to max_len characters without one trailing CR or LF;
// the default (cut to max_len) when the key is missing.
std::string ini_get_str(const char* section, const char* key, const char* default_value,
                        int max_len, const IniText& ini);

// Writes "%d" of value.
void ini_set_int(const char* section, const char* key, int value, IniText& ini);
// Replaces the key's line, or inserts one after the section's header, or
// appends ";", the header and the key line. A null value is written empty;
// a value ends at its first line break.
void ini_set_str(const char* section, const char* key, const char* value, IniText& ini);

// Writes every line followed by CR LF over the file. 1 when the whole text
// was written; on failure the file is left as it was.
int ini_save(const IniText& ini);

// Frees the list.
void ini_close(std::unique_ptr<IniText>& ini);

}  // namespace kora
