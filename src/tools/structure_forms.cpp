#include "tools/structure_forms.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "table/structure_table.h"

namespace kora {

namespace {

__attribute__((format(printf, 2, 3))) void append_format(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    size_t at = out.size();
    out.resize(at + size_t(length) + 1);
    std::vsnprintf(out.data() + at, size_t(length) + 1, format, again);
    out.resize(at + size_t(length));
  }
  va_end(again);
}

std::string alias_of(const Table& table, int field) {
  return field >= 0 && size_t(field) < table.aliases.size() ? table.aliases[size_t(field)] : std::string();
}

const char* type_name_of(const Table& table, int field) {
  return type_name(field_type(table, field), field_length_byte(table, field));
}

// The decimal count of a field. A Character field's decimals byte holds the
// high byte of its length, not decimals.
int decimal_count(const Table& table, int field) {
  bool long_char = field_type(table, field) == 'C' && field_length(table, field) != field_length_byte(table, field);
  return long_char ? 0 : field_decimals(table, field);
}

// Listings (text, HTML) show length and decimals for N and F fields with a
// length, and for D fields that say 8 decimals.
bool listing_two_numbers(const Table& table, int field) {
  char type = field_type(table, field);
  if (type == 'N' || type == 'F') return field_length_byte(table, field) != 0;
  return type == 'D' && field_decimals(table, field) == 8;
}

// Programs and SQL show decimals for N and F fields that have some.
bool program_two_numbers(const Table& table, int field) {
  char type = field_type(table, field);
  return (type == 'N' || type == 'F') && field_decimals(table, field) != 0;
}

bool sized_type(char type) { return type == 'C' || type == 'F' || type == 'N'; }

// ---- the forms, one head, line and tail each --------------------------------

void text_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "File: %.*s\nName        Type          Length\n", int(name.size()), name.data());
}

void text_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  std::string name = field_name(table, field);
  if (listing_two_numbers(table, field)) {
    append_format(out, "%-11s %-11s %5d %2d\n", name.c_str(), type_name_of(table, field),
                  field_length_byte(table, field), field_decimals(table, field));
  } else {
    append_format(out, "%-11s %-11s %5d\n", name.c_str(), type_name_of(table, field), field_length(table, field));
  }
}

void text_tail(std::string& out, const StructureOptions&) { out += "\n"; }

void clipper_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "DBCREATE(\"%.*s\", {;\n", int(name.size()), name.data());
}

void clipper_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  std::string name = field_name(table, field);
  // The blanks line the type letters up in one column.
  std::string blanks(name.size() >= 10 ? 2 : 12 - name.size(), ' ');
  append_format(out, "\t{ \"%s\",%s\"%c\", %3d, %3d },;\n", name.c_str(), blanks.c_str(), field_type(table, field),
                field_length_byte(table, field), field_decimals(table, field));
}

void clipper_tail(std::string& out, const StructureOptions&) { out += "\t})\n\n"; }

void foxpro_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "CREATE TABLE \"%.*s\" ( ;\n", int(name.size()), name.data());
}

void foxpro_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  std::string name = field_name(table, field);
  char type = field_type(table, field);
  if (program_two_numbers(table, field)) {
    append_format(out, "\t%-11s %c(%d,%d)", name.c_str(), type, field_length_byte(table, field),
                  field_decimals(table, field));
  } else if (sized_type(type)) {
    append_format(out, "\t%-11s %c(%d)", name.c_str(), type, field_length(table, field));
  } else {
    append_format(out, "\t%-11s %c", name.c_str(), type);
  }
}

void foxpro_tail(std::string& out, const StructureOptions&) { out += "\t)\n\n"; }

void sql_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "CREATE TABLE \"%.*s\" (\n", int(name.size()), name.data());
}

void sql_line(std::string& out, const Table& table, int field, const StructureOptions& options) {
  std::string name = field_name(table, field);
  std::string type = sql_type_name(table, field, options.sql2000);
  if (program_two_numbers(table, field)) {
    append_format(out, "\t%-11s %s(%d,%d)", name.c_str(), type.c_str(), field_length_byte(table, field),
                  field_decimals(table, field));
  } else if (sized_type(field_type(table, field))) {
    append_format(out, "\t%-11s %s(%d)", name.c_str(), type.c_str(), field_length(table, field));
  } else {
    append_format(out, "\t%-11s %s", name.c_str(), type.c_str());
  }
}

void sql_tail(std::string& out, const StructureOptions&) { out += "\t);\n\n"; }

void html_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "<p align=center>%s</p><table border=1>\n", html_escape(name).c_str());
}

void html_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  std::string name = html_escape(field_name(table, field));
  if (listing_two_numbers(table, field)) {
    append_format(out,
                  "<tr><td>%s</td><td>%s</td><td align=right>%d</td><td align=right>%d</td></tr>\n",
                  name.c_str(), type_name_of(table, field), field_length_byte(table, field),
                  field_decimals(table, field));
  } else {
    append_format(out, "<tr><td>%s</td><td>%s</td><td align=right>%d</td><td>&nbsp;</td></tr>\n", name.c_str(),
                  type_name_of(table, field), field_length(table, field));
  }
}

void html_tail(std::string& out, const StructureOptions& options) {
  out += options.for_export ? "</table><p>\n" : "</table>\n";
}

// The export writes the prolog itself, before any of its bands.
void xml_head(std::string& out, const Table&, std::string_view name, const StructureOptions& options) {
  if (!options.for_export) out += xml_prolog(name, options.xml_encoding);
  out += "   <Structure>\n";
}

void xml_line(std::string& out, const Table& table, int field, const StructureOptions& options) {
  XmlEncoding encoding = options.xml_encoding;
  append_format(out, "      <Field>\n         %s\n         %s\n         %s\n         %s\n         %s\n      </Field>\n",
                xml_element("Field_Name", field_name(table, field), encoding).c_str(),
                xml_element("Field_Type", type_name_of(table, field), encoding).c_str(),
                xml_number_element("Field_Len", field_length(table, field)).c_str(),
                xml_number_element("Field_Dec", decimal_count(table, field)).c_str(),
                xml_element("Alias", alias_of(table, field), encoding).c_str());
}

void xml_tail(std::string& out, const StructureOptions& options) {
  out += options.for_export ? "   </Structure>\n" : "   </Structure>\n</Root>\n";
}

void miva_head(std::string& out, const Table&, std::string_view name, const StructureOptions&) {
  append_format(out, "<MvCREATE NAME=\"kora\" DATABASE=\"%.*s\" FIELDS=\"\n", int(name.size()), name.data());
}

void miva_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  append_format(out, "\t%s\t%s", field_name(table, field).c_str(), miva_type_name(table, field).c_str());
}

void miva_tail(std::string& out, const StructureOptions&) { out += "\"\n\tTYPE=\"Xbase3\">\n"; }

// The DBF structure table: a dBase III table of five fields, one record per
// described field, written as the structure editor saves it.
void dbf_head(std::string& out, const Table& table, std::string_view, const StructureOptions&) {
  append_structure_table_header(out, size_t(table.field_count()));
}

void dbf_line(std::string& out, const Table& table, int field, const StructureOptions&) {
  append_structure_table_record(out, StructureField{table.fields[size_t(field)], field, alias_of(table, field)});
}

void dbf_tail(std::string& out, const StructureOptions&) { out += '\x1A'; }

using HeadWriter = void (*)(std::string&, const Table&, std::string_view, const StructureOptions&);
using LineWriter = void (*)(std::string&, const Table&, int, const StructureOptions&);
using TailWriter = void (*)(std::string&, const StructureOptions&);

struct FormWriters {
  const char* extension;
  HeadWriter head;
  LineWriter line;
  const char* between;  // after each line but the last
  const char* after_last;
  TailWriter tail;
};

// In the order of StructureForm.
constexpr FormWriters kForms[kStructureFormCount] = {
    {".txt", text_head, text_line, "", "", text_tail},
    {".prg", clipper_head, clipper_line, "", "", clipper_tail},
    {".prg", foxpro_head, foxpro_line, ", ;\n", " ;\n", foxpro_tail},
    {".sql", sql_head, sql_line, ",\n", "\n", sql_tail},
    {".htm", html_head, html_line, "", "", html_tail},
    {".dbf", dbf_head, dbf_line, "", "", dbf_tail},
    {".xml", xml_head, xml_line, "", "", xml_tail},
    {".txt", miva_head, miva_line, ",\n", "", miva_tail},
};

const FormWriters& writers(StructureForm form) { return kForms[int(form)]; }

}  // namespace

const char* structure_extension(StructureForm form) { return writers(form).extension; }

const char* type_name(char type, int length) {
  switch (type) {
    case 'C': return "Character";
    case 'N': return "Numeric";
    case 'F': return "Float";
    case 'L': return "Logical";
    case 'D': return "Date";
    case 'M': return "Memo";
    case 'T': return "DateTime";
    case 'G': return "General";
    case 'B': return length == 8 ? "Double" : "Binary";
    case 'I': return "Integer";
    case 'Y': return "Currency";
    case '0': return "System";
    case 'P': return "Picture";
    case 'V': return "Varchar";
    case 'Q': return "Varbinary";
    case 'W': return "Blob";
    default: return "Unknown";
  }
}

std::string sql_type_name(const Table& table, int field, bool sql2000) {
  int length = field_length_byte(table, field);
  int decimals = field_decimals(table, field);
  switch (field_type(table, field)) {
    case 'B':
      if (length != 8) return sql2000 ? "Text" : "Blob(0,2)";
      return decimals == 0 ? "Numeric(20)" : "Numeric(20," + std::to_string(decimals) + ")";
    case 'D':
    case 'T': return "DateTime";
    case 'L': return sql2000 ? "Bit" : "Boolean";
    case 'M': return sql2000 ? "Text" : "Blob(0,1)";
    case 'Y': return "Money";
    default: return type_name_of(table, field);
  }
}

std::string miva_type_name(const Table& table, int field) {
  int length = field_length_byte(table, field);
  int decimals = field_decimals(table, field);
  std::string out;
  switch (field_type(table, field)) {
    case 'C': append_format(out, "CHAR(%d)", field_length(table, field)); return out;
    case 'B':
      if (length != 8) return "BLOB";
      [[fallthrough]];
    case 'N':
    case 'F':
      if (decimals == 0) {
        append_format(out, "NUMBER(%d)", length);
      } else {
        append_format(out, "NUMBER(%d.%d)", length, decimals);
      }
      return out;
    case 'D': return "DATE";
    case 'G':
    case 'M': return "MEMO";
    case 'I': return "NUMBER(10)";
    case 'L': return "BOOL";
    case 'T': return "CHAR(14)";
    case 'Y': return "NUMBER(20.4)";
    default: return "UNKNOWN";
  }
}

std::string xml_prolog(std::string_view path, XmlEncoding encoding, std::string_view declared) {
  std::string name = declared.empty() ? std::string(xml_encoding_name(encoding)) : xml_escape_attribute(declared);
  std::string out;
  append_format(out, "<?xml version=\"1.0\" encoding=\"%s\"?>\n<!-- Location: %s -->\n<Root Database=\"%s\">\n",
                name.c_str(), xml_comment_text(path, encoding).c_str(),
                xml_escape_attribute(path, encoding).c_str());
  return out;
}

void write_structure_head(std::string& out, StructureForm form, const Table& table, std::string_view name,
                          const StructureOptions& options) {
  writers(form).head(out, table, name.empty() ? std::string_view(table.file_name) : name, options);
}

void write_structure_line(std::string& out, StructureForm form, const Table& table, int field, bool last,
                          const StructureOptions& options) {
  const FormWriters& form_writers = writers(form);
  form_writers.line(out, table, field, options);
  out += last ? form_writers.after_last : form_writers.between;
}

void write_structure_tail(std::string& out, StructureForm form, const StructureOptions& options) {
  writers(form).tail(out, options);
}

std::string structure_text(StructureForm form, const Table& table, const StructureOptions& options) {
  std::string out;
  write_structure_head(out, form, table, "", options);
  int count = table.field_count();
  for (int i = 0; i < count; ++i) write_structure_line(out, form, table, i, i == count - 1, options);
  write_structure_tail(out, form, options);
  return out;
}

OutputStatus write_structure_file(const std::string& path, StructureForm form, const Table& table,
                                  const StructureOptions& options, const OutputGuard& guard) {
  OutputGuard own = guard;
  own.open_files.push_back(table.file_name);
  if (!table.memo_file_name.empty()) own.open_files.push_back(table.memo_file_name);
  std::string text = structure_text(form, table, options);
  return form == StructureForm::kDbf ? replace_output_file(path, text, own) : append_to_file(path, text, own);
}

}  // namespace kora
