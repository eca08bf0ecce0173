// Field aliases and the table description from the 1C data dictionary and
// the header file beside a table, as a table added to the list gets them,
// and the header file as save_aliases and a restructure write it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/code_page.h"
#include "table/dbf_file.h"
#include "table/header_file.h"

namespace kora {
namespace {

using test::DbfLayout;
using test::TempDir;

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string file_text(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Adds a table with the fields NAME, CITY and CODE named `file` in `dir`.
Table& add_customer(TempDir& dir, TableList& list, const std::string& file = "customer.dbf") {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"CITY", 'C', 10}, {"CODE", 'N', 4}};
  std::string path = dir.file(file);
  if (!test::file_exists(path)) test::write_bytes(path, test::build_dbf(layout));
  int index = add_table(list, path);
  EXPECT_GE(index, 0);
  return *list.at(index);
}

TEST(Dictionary, DescriptionsAndAliasesComeFromTheTablesBlock) {
  const std::string head = "1Cv7 DD\nT=CUSTOMER |Customers|x\nskipped 1\nskipped 2\n";
  struct Case {
    const char* name;
    std::string dictionary;
    std::string description;
    std::vector<std::string> aliases;
  } cases[] = {
      {"a (1) prefix, then a field after the block's end", head + "F=NAME|(1)Full name|\nF=CITY |City|\n#\nF=CODE|Code|\n", "Customers",
       {"Full name", "City", ""}},
      {"a blank after the number is kept", head + "F=NAME|(1) Full name|\n", "Customers", {" Full name", "", ""}},
      {"a short number prefix stays in the line", head + "F=NAME|(\nF=CITY|(1\nF=CODE|(12|\n", "Customers",
       {"", "", ""}},
      {"no bar after the description", head + "F=NAME|Name to the end  \n", "Customers", {"Name to the end", "", ""}},
      {"a long line is one line", head + std::string(127, 'x') + "F=NAME|Wrong|\nF=NAME|Right|\n", "Customers",
       {"Right", "", ""}},
      {"a line is compared by its first 127 characters",
       head + "F=NAME|" + std::string(150, 'n') + "|\n", "Customers", {std::string(31, 'n'), "", ""}},
      {"a missing field ends the search in the block",
       head + "F=CITY|City|\n#\nT=OTHER|Other|\n1\n2\nF=CITY|Other city|\nF=CODE|Other code|\n", "Customers",
       {"", "", ""}},
      {"Windows-1251 descriptions", "DD\nDDCP=1251\nT=CUSTOMER|\xCA\xEB\xE8\xE5\xED\xF2\xFB|\n1\n2\nF=NAME|\xC8\xEC\xFF|\n",
       "\x8A\xAB\xA8\xA5\xAD\xE2\xEB", {"\x88\xAC\xEF", "", ""}},
      {"DDCP= on the first line does not count", "DDCP=1251\nT=CUSTOMER|\xCA|\n1\n2\n", "\xCA", {"", "", ""}},
      {"a table line without a second bar is passed over",
       "DD\nT=CUSTOMER|Half\nT=CUSTOMER|Whole|\n1\n2\nF=NAME|N|\n", "Whole", {"N", "", ""}},
      {"the name must match exactly", "DD\nT=CUSTOMERS|Plural|\nT=CUSTOM|Short|\n", "", {"", "", ""}},
      {"not listed", "DD\nT=OTHER|Other|\n1\n2\nF=NAME|Name|\n", "", {"", "", ""}},
      {"CRLF lines", "DD\r\nT=CUSTOMER|Customers|\r\n1\r\n2\r\nF=NAME|Name\r\n", "Customers", {"Name", "", ""}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_text(dir.file("1Cv7.DD"), c.dictionary);
    TableList list;
    Table& table = add_customer(dir, list);
    EXPECT_EQ(table.description, c.description) << c.name;
    EXPECT_EQ(table.aliases, c.aliases) << c.name;
  }
}

TEST(HeaderFile, RoundTripOfA31CharacterCyrillicAlias) {
  TempDir dir;
  std::string alias;
  for (int i = 0; i < 31; ++i) alias += char(0x80 + i);  // А..Я, а
  {
    TableList list;
    Table& table = add_customer(dir, list);
    EXPECT_EQ(table.header_file_name, dir.file("customer.hdr"));
    table.aliases = {alias, "", "Code"};
    ASSERT_EQ(save_aliases(table, false), 1);
  }
  std::string bytes = file_text(dir.file("customer.hdr"));
  ASSERT_EQ(bytes.size(), 128u);
  EXPECT_EQ(bytes.substr(0, 32), std::string("Header file KORA") + std::string(16, '\0'));
  EXPECT_EQ(bytes.substr(32, 32), alias + '\0');
  EXPECT_EQ(bytes.substr(64, 32), std::string(32, '\0'));
  EXPECT_EQ(bytes.substr(96, 32), "Code" + std::string(28, '\0'));
  TableList list;
  EXPECT_EQ(add_customer(dir, list).aliases, (std::vector<std::string>{alias, "", "Code"}));
}

TEST(HeaderFile, OverridesTheDictionarySlotBySlotAndIgnoresBadFiles) {
  const std::string head = std::string("Header file KORA") + std::string(16, '\0');
  auto slot = [](const std::string& text) { return text + std::string(32 - text.size(), '\0'); };
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> aliases;
  } cases[] = {
      {"one slot replaces the first alias only", head + slot("Who"), {"Who", "City", ""}},
      {"an empty slot clears the dictionary's alias", head + slot("") + slot("Where"), {"", "Where", ""}},
      {"an unterminated slot gives 31 bytes", head + std::string(32, 'u') + "\0", {std::string(31, 'u'), "City", ""}},
      {"a part slot at the end is not used", head + slot("Who") + "Par", {"Who", "City", ""}},
      {"slots past the fields are not used", head + slot("1") + slot("2") + slot("3") + slot("4"), {"1", "2", "3"}},
      {"a short file", std::string("Header file KORA\0\0\0", 20), {"Name", "City", ""}},
      {"a wrong magic", std::string("Header file KORB") + std::string(16, '\0') + slot("Who"), {"Name", "City", ""}},
      {"an empty file", "", {"Name", "City", ""}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_text(dir.file("1Cv7.DD"), "DD\nT=CUSTOMER|Customers|\n1\n2\nF=NAME|Name|\nF=CITY|City|\n");
    write_text(dir.file("customer.hdr"), c.file);
    TableList list;
    EXPECT_EQ(add_customer(dir, list).aliases, c.aliases) << c.name;
  }
}

TEST(HeaderFile, SavingConvertsForAnsiCaptionsAndRemovesTheFileWhenNoAliasIsLeft) {
  TempDir dir;
  TableList list;
  Table& table = add_customer(dir, list);
  table.aliases = {"", "", "\x8C\xA8\xE0"};  // Мир in code page 866
  ASSERT_EQ(save_aliases(table, true), 1);
  EXPECT_EQ(table.aliases[2], "\xCC\xE8\xF0");
  EXPECT_EQ(file_text(table.header_file_name).substr(96, 4), std::string("\xCC\xE8\xF0\0", 4));
  table.aliases = {"", "", ""};
  ASSERT_EQ(save_aliases(table, false), 1);
  EXPECT_FALSE(test::file_exists(table.header_file_name));
  EXPECT_EQ(save_aliases(table, false), 1);  // nothing to remove
  // A file that cannot be written is reported.
  table.aliases[0] = "x";
  table.header_file_name = dir.file("no/such/folder.hdr");
  EXPECT_EQ(save_aliases(table, false), 0);
}

TEST(HeaderFile, ARestructureKeepsEveryAliasOnItsField) {
  TempDir dir;
  TableList list;
  Table& table = add_customer(dir, list);
  table.aliases = {"Name", "City", "Code"};
  ASSERT_EQ(write_header_file(table), 1);
  // CODE moved first, a new field, NAME; CITY deleted.
  ASSERT_EQ(remap_header_file(table.header_file_name, {2, -1, 0}), 1);
  std::string bytes = file_text(table.header_file_name);
  ASSERT_EQ(bytes.size(), 32u * 4);
  EXPECT_EQ(bytes.substr(32, 5), std::string("Code\0", 5));
  EXPECT_EQ(bytes.substr(64, 32), std::string(32, '\0'));
  EXPECT_EQ(bytes.substr(96, 5), std::string("Name\0", 5));
  ASSERT_EQ(remap_header_file(table.header_file_name, {1, -1}), 1);
  EXPECT_FALSE(test::file_exists(table.header_file_name));
  EXPECT_EQ(remap_header_file(table.header_file_name, {0}), 1);
}

}  // namespace
}  // namespace kora
