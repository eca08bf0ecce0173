// The eight structure forms of one five-field table against golden files,
// the XML read by Python's standard parser and the structure table by
// dbfread; the type names and the markup encoders as tables of cases.
//
// KORA_UPDATE_GOLDEN=1 rewrites the golden files from the current code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/dbf_file.h"
#include "tools/markup.h"
#include "tools/structure_forms.h"

namespace kora {
namespace {

using namespace kora::test;

// The path the heads name: a folder with "&" and "--" in it.
constexpr const char* kGoodsPath = "/data/R&D--2002/goods.dbf";
const std::string kCyrillicAlias1251 = "\xC8\xEC\xFF";  // "Имя" in Windows-1251
const std::string kCyrillicAlias866 = "\x88\xAC\xEF";   // the same in code page 866

std::unique_ptr<Table> open_goods(const TempDir& dir, const std::string& name_alias) {
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 30}, {"PRICE", 'N', 10, 2}, {"ACTIVE", 'L', 1}, {"BIRTH_DATE", 'D', 8}, {"NOTES", 'M', 10}};
  std::string path = dir.file("goods.dbf");
  write_bytes(path, build_dbf(layout));
  auto table = open_table(path);
  if (table) table->aliases = {name_alias, "Price & <cost>", "", "Date of birth", "Notes\x01"};
  return table;
}

std::string form_with_name(StructureForm form, const Table& table, const StructureOptions& options) {
  std::string out;
  write_structure_head(out, form, table, kGoodsPath, options);
  int n = table.field_count();
  for (int i = 0; i < n; ++i) write_structure_line(out, form, table, i, i == n - 1, options);
  write_structure_tail(out, form, options);
  return out;
}

std::string golden_path(const char* name) { return std::string(KORA_SOURCE_DIR) + "/tests/tools/data/" + name; }

std::string read_text(const std::string& path) {
  std::vector<uint8_t> bytes = file_exists(path) ? read_bytes(path) : std::vector<uint8_t>();
  return std::string(bytes.begin(), bytes.end());
}

TEST(StructureForms, FiveFieldTableMatchesTheGoldenFiles) {
  const struct {
    StructureForm form;
    const char* golden;
  } cases[] = {
      {StructureForm::kText, "goods_text.txt"}, {StructureForm::kClipper, "goods_clipper.prg"},
      {StructureForm::kFoxPro, "goods_foxpro.prg"}, {StructureForm::kSql, "goods.sql"},
      {StructureForm::kHtml, "goods.htm"},        {StructureForm::kDbf, "goods.dbf"},
      {StructureForm::kXml, "goods.xml"},         {StructureForm::kMiva, "goods_miva.txt"},
  };
  TempDir dir;
  auto table = open_goods(dir, kCyrillicAlias1251);
  ASSERT_TRUE(table);
  StructureOptions options;
  options.xml_encoding = XmlEncoding::kWindows1251;
  bool update = std::getenv("KORA_UPDATE_GOLDEN") != nullptr;
  for (const auto& c : cases) {
    std::string text = form_with_name(c.form, *table, options);
    if (update) write_bytes(golden_path(c.golden), std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(text, read_text(golden_path(c.golden))) << c.golden;
  }
}

TEST(StructureForms, XmlIsReadByAStandardParserInBothCodePages) {
  // The parser decodes by the declared encoding: the alias comes back as
  // the same Cyrillic word from either code page; the path, the
  // ampersand-and-lesser alias and the control character survive as text.
  constexpr const char* kReader = R"PY(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.get('Database'))
for f in root.iter('Field'):
    print('|'.join((f.find(n).text or '') for n in ('Field_Name', 'Field_Type', 'Field_Len', 'Field_Dec', 'Alias')))
)PY";
  TempDir dir;
  { std::ofstream(dir.file("read.py")) << kReader; }
  const std::string expected = std::string(kGoodsPath) +
                               "\nNAME|Character|30||Имя\nPRICE|Numeric|10|2|Price & <cost>\n"
                               "ACTIVE|Logical|1||\nBIRTH_DATE|Date|8||Date of birth\nNOTES|Memo|10||Notes\n";
  for (XmlEncoding encoding : {XmlEncoding::kWindows1251, XmlEncoding::kCp866}) {
    auto table = open_goods(dir, encoding == XmlEncoding::kCp866 ? kCyrillicAlias866 : kCyrillicAlias1251);
    ASSERT_TRUE(table);
    StructureOptions options;
    options.xml_encoding = encoding;
    std::string xml = form_with_name(StructureForm::kXml, *table, options);
    write_bytes(dir.file("goods.xml"), std::vector<uint8_t>(xml.begin(), xml.end()));
    std::string out;
    EXPECT_EQ(run_command("/usr/bin/python3 " + dir.file("read.py") + " " + dir.file("goods.xml") + " 2>&1", out), 0)
        << out;
    EXPECT_EQ(out, expected) << xml_encoding_name(encoding);
  }
}

TEST(StructureForms, StructureTableIsReadByDbfread) {
  TempDir dir;
  auto table = open_goods(dir, kCyrillicAlias1251);
  ASSERT_TRUE(table);
  std::string target = dir.file("structure.dbf");
  ASSERT_EQ(write_structure_file(target, StructureForm::kDbf, *table, {}, {}), OutputStatus::kOk);
  std::string out;
  std::string command =
      "/usr/bin/python3 -c \"import sys, dbfread\n"
      "t = dbfread.DBF(sys.argv[1], encoding='cp1251')\n"
      "print([(f.name, f.type, f.length) for f in t.fields])\n"
      "for r in t: print(list(r.values()))\" " + target + " 2>&1";
  ASSERT_EQ(run_command(command, out), 0) << out;
  EXPECT_EQ(out,
            "[('FIELD_NAME', 'C', 10), ('FIELD_TYPE', 'C', 1), ('FIELD_LEN', 'N', 3), ('FIELD_DEC', 'N', 3), "
            "('DESCRIPT', 'C', 32)]\n"
            "['NAME', 'C', 30, 0, 'Имя']\n"
            "['PRICE', 'N', 10, 2, 'Price & <cost>']\n"
            "['ACTIVE', 'L', 1, 0, '']\n"
            "['BIRTH_DATE', 'D', 8, 0, 'Date of birth']\n"
            "['NOTES', 'M', 10, 0, 'Notes\\x01']\n");
}

TEST(StructureForms, TypeNamesOfEveryKind) {
  const struct {
    FieldSpec field;
    const char* name;
    const char* sql;
    const char* sql2000;
    const char* miva;
  } cases[] = {
      {{"C", 'C', 300}, "Character", "Character", "Character", "CHAR(300)"},
      {{"N", 'N', 10, 2}, "Numeric", "Numeric", "Numeric", "NUMBER(10.2)"},
      {{"N0", 'N', 5, 0}, "Numeric", "Numeric", "Numeric", "NUMBER(5)"},
      {{"F", 'F', 8, 3}, "Float", "Float", "Float", "NUMBER(8.3)"},
      {{"L", 'L', 1}, "Logical", "Boolean", "Bit", "BOOL"},
      {{"D", 'D', 8}, "Date", "DateTime", "DateTime", "DATE"},
      {{"M", 'M', 10}, "Memo", "Blob(0,1)", "Text", "MEMO"},
      {{"T", 'T', 8}, "DateTime", "DateTime", "DateTime", "CHAR(14)"},
      {{"G", 'G', 10}, "General", "General", "General", "MEMO"},
      {{"B8", 'B', 8, 0}, "Double", "Numeric(20)", "Numeric(20)", "NUMBER(8)"},
      {{"B8D", 'B', 8, 3}, "Double", "Numeric(20,3)", "Numeric(20,3)", "NUMBER(8.3)"},
      {{"B10", 'B', 10}, "Binary", "Blob(0,2)", "Text", "BLOB"},
      {{"I", 'I', 4}, "Integer", "Integer", "Integer", "NUMBER(10)"},
      {{"Y", 'Y', 8}, "Currency", "Money", "Money", "NUMBER(20.4)"},
      {{"S", '0', 1}, "System", "System", "System", "UNKNOWN"},
      {{"P", 'P', 10}, "Picture", "Picture", "Picture", "UNKNOWN"},
      {{"X", 'X', 2}, "Unknown", "Unknown", "Unknown", "UNKNOWN"},
  };
  DbfLayout layout;
  for (const auto& c : cases) layout.fields.push_back(c.field);
  TempDir dir;
  write_bytes(dir.file("kinds.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("kinds.dbf"));
  ASSERT_TRUE(table);
  for (int i = 0; i < int(std::size(cases)); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.field.name);
    EXPECT_STREQ(type_name(field_type(*table, i), field_length_byte(*table, i)), c.name);
    EXPECT_EQ(sql_type_name(*table, i, false), c.sql);
    EXPECT_EQ(sql_type_name(*table, i, true), c.sql2000);
    EXPECT_EQ(miva_type_name(*table, i), c.miva);
  }
}

TEST(StructureForms, ExportBandDiffersInTheXmlHeadAndTheMarkupTails) {
  const struct {
    StructureForm form;
    bool for_export;
    const char* head;
    const char* tail;
  } cases[] = {
      {StructureForm::kHtml, false, "<p align=center>t.dbf</p><table border=1>\n", "</table>\n"},
      {StructureForm::kHtml, true, "<p align=center>t.dbf</p><table border=1>\n", "</table><p>\n"},
      {StructureForm::kXml, false,
       "<?xml version=\"1.0\" encoding=\"cp866\"?>\n<!-- Location: t.dbf -->\n<Root Database=\"t.dbf\">\n"
       "   <Structure>\n",
       "   </Structure>\n</Root>\n"},
      {StructureForm::kXml, true, "   <Structure>\n", "   </Structure>\n"},
  };
  Table table;
  for (const auto& c : cases) {
    StructureOptions options;
    options.for_export = c.for_export;
    std::string head, tail;
    write_structure_head(head, c.form, table, "t.dbf", options);
    write_structure_tail(tail, c.form, options);
    EXPECT_EQ(head, c.head);
    EXPECT_EQ(tail, c.tail);
  }
}

TEST(MarkupEncoders, HtmlTextXmlElementsAndComments) {
  const struct {
    std::string in, out;
  } html[] = {
      {"", ""},
      {"a<b>c & \"d\"", "a &lt;b&gt; c &amp; &quot;d&quot; "},
      {"line one\r\nline two", "line one <br>\n line two "},
      {"write to john@mail.ru today", "write to <a href=\"mailto:john@mail.ru\">john@mail.ru</a> today "},
      {"<john@mail.ru>", "<a href=\"mailto:john@mail.ru\">&lt;john@mail.ru&gt;</a> "},
      {"user@localhost", "user@localhost "},
      {"see www.kora.org", "see <a href=\"http://www.kora.org\">www.kora.org</a> "},
      {"ftp.kora.org", "<a href=\"ftp://ftp.kora.org\">ftp.kora.org</a> "},
      {"www.ru www.", "www.ru www. "},
      {"http://x.org/?a=1&b=2", "<a href=\"http://x.org/?a=1&amp;b=2\">http://x.org/?a=1&amp;b=2</a> "},
      {"ftp://files\tend", "<a href=\"ftp://files\">ftp://files</a> end "},
      {"  two   blanks  ", "two blanks "},
  };
  for (const auto& c : html) EXPECT_EQ(html_encode_text(c.in), c.out) << c.in;

  const struct {
    std::string text;
    XmlEncoding encoding;
    std::string element;
  } xml[] = {
      {"", XmlEncoding::kCp866, "<Alias/>"},
      {"a&b<c>d", XmlEncoding::kCp866, "<Alias>a&amp;b&lt;c&gt;d</Alias>"},
      {"tab\there\x01\x1F", XmlEncoding::kCp866, "<Alias>tab\there</Alias>"},
      {"\x02", XmlEncoding::kCp866, "<Alias/>"},
      {"\x98\xC8", XmlEncoding::kWindows1251, "<Alias>\xC8</Alias>"},
      {"\x98\xC8", XmlEncoding::kCp866, "<Alias>\x98\xC8</Alias>"},
  };
  for (const auto& c : xml) EXPECT_EQ(xml_element("Alias", c.text, c.encoding), c.element) << c.text;
  EXPECT_EQ(xml_number_element("Field_Dec", 0), "<Field_Dec/>");
  EXPECT_EQ(xml_number_element("Field_Len", 65535), "<Field_Len>65535</Field_Len>");

  EXPECT_EQ(xml_prolog("/a--b---c\"&", XmlEncoding::kCp866),
            "<?xml version=\"1.0\" encoding=\"cp866\"?>\n<!-- Location: /a- -b- - -c\"& -->\n"
            "<Root Database=\"/a--b---c&quot;&amp;\">\n");
}

}  // namespace
}  // namespace kora
