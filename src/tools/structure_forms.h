// A table's structure (its list of fields) written out in eight forms: a
// plain listing, a Clipper and a FoxPro program, an SQL script, an HTML
// table, an XML document, a Miva MvCREATE tag and a DBF structure table
// whose records describe the fields.
//
// Each form is a head, one line per field and a tail, appended to a string:
//
//   std::string out;
//   write_structure_head(out, StructureForm::kSql, table, "", options);
//   for (int i = 0; i < n; ++i) write_structure_line(out, StructureForm::kSql, table, i, i == n - 1, options);
//   write_structure_tail(out, StructureForm::kSql, options);
//
// The export writes the first five forms as its structure band; the field
// info editor saves all eight through write_structure_file.
#pragma once

#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "tools/markup.h"
#include "tools/output_file.h"

namespace kora {

// In the order of the save-structure keys F2..F9.
enum class StructureForm : int { kText, kClipper, kFoxPro, kSql, kHtml, kDbf, kXml, kMiva };
constexpr int kStructureFormCount = 8;

struct StructureOptions {
  bool sql2000 = false;     // SQL types of SQL Server 2000: Bit, Text
  bool for_export = false;  // the export's structure band: its own XML head, HTML and XML tails
  XmlEncoding xml_encoding = XmlEncoding::kCp866;  // the code page the table's bytes are in
};

// The file-name extension offered for a form: ".txt", ".prg", ".sql", ...
const char* structure_extension(StructureForm form);

// "Character", "Numeric", ... for a type letter and its length byte.
const char* type_name(char type, int length);
std::string sql_type_name(const Table& table, int field, bool sql2000);
std::string miva_type_name(const Table& table, int field);

// The head of a form; an empty name stands for the table's full path. The
// XML head is the prolog followed by the opening of the structure; for the
// export, which writes the prolog before its bands, the opening alone.
void write_structure_head(std::string& out, StructureForm form, const Table& table, std::string_view name,
                          const StructureOptions& options);
// The line of one field; `last` for the last line written (some forms
// separate lines with a comma).
void write_structure_line(std::string& out, StructureForm form, const Table& table, int field, bool last,
                          const StructureOptions& options);
void write_structure_tail(std::string& out, StructureForm form, const StructureOptions& options);

// The XML declaration, the location comment and the opening Root element.
// `declared`, when given, is the encoding named instead of `encoding`'s.
std::string xml_prolog(std::string_view path, XmlEncoding encoding, std::string_view declared = {});

// The whole form for every field, named by the table's full path.
std::string structure_text(StructureForm form, const Table& table, const StructureOptions& options);

// Writes the whole form to a file: the DBF structure table replaces the file
// (asking first when it exists); the other forms are appended to it. The
// table itself and its memo file are never written, nor any of
// guard.open_files.
OutputStatus write_structure_file(const std::string& path, StructureForm form, const Table& table,
                                  const StructureOptions& options, const OutputGuard& guard);

}  // namespace kora
