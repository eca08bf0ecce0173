// New tables: the version byte by kind and memo fields, the widths their
// types fix, the memo file beside them, the checks that refuse a list of
// fields no table may have, fresh field names, and files never replaced
// unless asked. Tables written are read back by dbfread.
#include "table/table_create.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "support/dbf_builder.h"
#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/byte_order.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/structure_table.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using test::TempDir;

FieldDesc field(const char* name, char type, int width, int decimals = 0) {
  FieldDesc desc;
  set_desc_name(desc, name);
  desc.type = type;
  set_desc_width(desc, width);
  if (type != 'C') desc.decimals = uint8_t(decimals);
  return desc;
}

struct CreateCase {
  const char* story;
  TableKind kind;
  std::vector<FieldDesc> fields;
  uint8_t version;
  std::vector<int> widths;  // as the created file stores them
  long file_size;
  const char* memo_ext;  // nullptr: no memo file
  long memo_size;
  uint32_t next_free;  // the memo file's first block number
};

TEST(CreateDbf, WritesTheHeaderDescriptorsAndMemoFileTheKindAsksFor) {
  const CreateCase cases[] = {
      {"one C(10): 65 bytes, no end mark", kDBase3, {field("NAME", 'C', 10)}, 0x03, {10}, 65, nullptr, 0, 0},
      {"FoxPro memo", kFoxPro, {field("NOTES", 'M', 4)}, 0xF5, {10}, 65, "fpt", 512, 2},
      {"Visual FoxPro T and M", kVisualFoxPro, {field("AT", 'T', 14 - 6), field("NOTES", 'M', 10)}, 0x30, {8, 4}, 97,
       "fpt", 512, 2},
      {"Visual FoxPro types without memo keep 0x30", kVisualFoxPro,
       {field("AMOUNT", 'B', 8, 2), field("AT", 'T', 8), field("COUNT", 'I', 4)}, 0x30, {8, 8, 4}, 129, nullptr, 0, 0},
      {"Visual FoxPro C only becomes 0x03", kVisualFoxPro, {field("NAME", 'C', 300)}, 0x03, {300}, 65, nullptr, 0, 0},
      {"dBase III T is text", kDBase3, {field("AT", 'T', 8), field("ON", 'D', 3)}, 0x03, {14, 8}, 97, nullptr, 0, 0},
      {"dBase IV B of another width is a memo", kDBase4, {field("BLOB", 'B', 5)}, 0x8B, {10}, 65, "dbt", 512, 2},
      {"dBase III memo", kDBase3, {field("N", 'N', 5, 2), field("NOTES", 'G', 4)}, 0x83, {5, 10}, 97, "dbt", 512, 1},
  };
  for (const CreateCase& c : cases) {
    SCOPED_TRACE(c.story);
    TempDir dir;
    std::string path = dir.file("t.dbf");
    ASSERT_EQ(create_dbf(path, c.fields, c.kind, 256, true, Placement::kNew), Status::kOk);
    std::vector<uint8_t> bytes = test::read_bytes(path);
    ASSERT_EQ(long(bytes.size()), c.file_size);
    EXPECT_EQ(bytes[0], c.version);
    EXPECT_EQ(get_le32(&bytes[4]), 0u);
    EXPECT_EQ(get_le16(&bytes[8]), c.file_size);
    EXPECT_EQ(bytes.back(), 0x0D);
    int record_size = 1;
    for (size_t i = 0; i < c.widths.size(); ++i) {
      const uint8_t* desc = &bytes[32 + 32 * i];
      EXPECT_EQ(get_le16(desc + 12), record_size) << "offset of field " << i;
      int width = desc[11] == 'C' ? get_le16(desc + 16) : desc[16];
      EXPECT_EQ(width, c.widths[i]) << "width of field " << i;
      record_size += width;
    }
    EXPECT_EQ(get_le16(&bytes[10]), record_size);
    std::string memo = dir.file(std::string("t.") + (c.memo_ext ? c.memo_ext : "fpt"));
    if (!c.memo_ext) {
      EXPECT_FALSE(test::file_exists(memo)) << memo;
      EXPECT_FALSE(test::file_exists(dir.file("t.dbt")));
      continue;
    }
    std::vector<uint8_t> header = test::read_bytes(memo);
    ASSERT_EQ(long(header.size()), c.memo_size);
    EXPECT_EQ(c.kind == kDBase3 || c.kind == kDBase4 ? get_le32(&header[0]) : get_be32(&header[0]), c.next_free);
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->record_count, 0u);
    EXPECT_EQ(table->header_errors, 0);
  }
}

TEST(CreateDbf, AVisualFoxProTableWithoutMemoIsReadRightByDbfread) {
  TempDir dir;
  std::string path = dir.file("v.dbf");
  std::vector<FieldDesc> fields = {field("AMOUNT", 'B', 8, 2), field("AT", 'T', 8), field("COUNT", 'I', 4),
                                   field("NAME", 'C', 6)};
  ASSERT_EQ(create_dbf(path, fields, kVisualFoxPro, 64, true, Placement::kNew), Status::kOk);
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  blank_record(*table);
  ASSERT_EQ(set_field_text(*table, 0, "12.5"), FieldWrite::kStored);
  ASSERT_EQ(set_field_text(*table, 1, "20240305102030"), FieldWrite::kStored);
  ASSERT_EQ(set_field_text(*table, 2, "42"), FieldWrite::kStored);
  ASSERT_EQ(set_field_text(*table, 3, "Ann"), FieldWrite::kStored);
  ASSERT_EQ(append_record(*table, false), 1);
  table.reset();
  EXPECT_EQ(test::dbfread_dump(path),
            "[12.5, datetime.datetime(2024, 3, 5, 10, 20, 30), 42, 'Ann']\ndeleted 0\n");
  // GDAL knows none of the binary types, but opens the table and reads the rest.
  EXPECT_NE(test::gdal_csv(path, "NAME").find("\nAnn\n"), std::string::npos);
}

TEST(CreateDbf, NeverReplacesAFileUnlessAskedAndKeepsModes) {
  TempDir dir;
  std::string path = dir.file("t.dbf");
  std::vector<FieldDesc> fields = {field("NAME", 'C', 10)};
  mode_t old_mask = umask(027);
  Status fresh = create_dbf(path, fields, kDBase3, 0, true, Placement::kNew);
  umask(old_mask);
  ASSERT_EQ(fresh, Status::kOk);
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  test::write_bytes(path, {'u', 's', 'e', 'r'});
  chmod(path.c_str(), 0604);
  EXPECT_EQ(create_dbf(path, fields, kDBase3, 0, true, Placement::kNew), Status::kFileExists);
  EXPECT_EQ(test::read_bytes(path), (std::vector<uint8_t>{'u', 's', 'e', 'r'}));
  // An orphan memo file of the new table's name is not emptied either.
  std::string other = dir.file("m.dbf");
  test::write_bytes(dir.file("m.dbt"), {'m'});
  EXPECT_EQ(create_dbf(other, {field("NOTES", 'M', 10)}, kDBase3, 0, true, Placement::kNew), Status::kFileExists);
  EXPECT_FALSE(test::file_exists(other));
  EXPECT_EQ(test::file_size(dir.file("m.dbt")), 1);

  ASSERT_EQ(create_dbf(path, fields, kDBase3, 0, true, Placement::kReplace), Status::kOk);
  EXPECT_EQ(test::file_size(path), 65);
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  // Nothing but the table and the two memo files is left in the folder.
  std::string listing;
  test::run_command("ls -A '" + dir.path() + "'", listing);
  EXPECT_EQ(listing, "m.dbt\nt.dbf\n");
}

struct CheckCase {
  const char* story;
  std::vector<FieldDesc> fields;
  StructureFault fault;
  int field;
  const char* text;
};

TEST(CheckStructure, RefusesWhatNoTableMayHaveAndSaysWhichFieldAndWhy) {
  std::vector<FieldDesc> most(kMaxCreateFields, field("F", 'C', 1));
  for (size_t i = 0; i < most.size(); ++i) set_desc_name(most[i], "F" + std::to_string(i));
  std::vector<FieldDesc> too_many = most;
  too_many.push_back(field("LAST", 'C', 1));
  const CheckCase cases[] = {
      {"2046 fields", most, StructureFault::kNone, -1, ""},
      {"2047 fields", too_many, StructureFault::kTooManyFields, kMaxCreateFields, "A table may have at most 2046 fields"},
      {"no field", {}, StructureFault::kNoFields, -1, "A table needs at least one field"},
      {"C of width 0", {field("A", 'C', 0)}, StructureFault::kBadWidth, 0, "Field 1 (A): the width must be 1 to 65535"},
      {"N of width 21", {field("A", 'C', 1), field("B", 'N', 21)}, StructureFault::kBadWidth, 1,
       "Field 2 (B): the width must be 1 to 20"},
      {"N(5,5)", {field("A", 'N', 5, 5)}, StructureFault::kBadDecimals, 0, "Field 1 (A): at most 4 decimals"},
      {"B with 8 decimals", {field("A", 'B', 8, 8)}, StructureFault::kBadDecimals, 0, "Field 1 (A): at most 7 decimals"},
      {"names equal but for case", {field("Name", 'C', 5), field("NAME", 'N', 5)}, StructureFault::kDuplicateName, 1,
       "Field 2 (NAME): another field has this name"},
      {"blank name", {field("A", 'C', 5), field("  ", 'C', 5)}, StructureFault::kEmptyName, 1,
       "Field 2 (  ): the name is empty"},
      {"record of 65536 bytes", {field("A", 'C', 40000), field("B", 'C', 25535)}, StructureFault::kRecordTooLong, 1,
       "Field 2 (B): a record would be longer than 65535 bytes"},
      {"record of 65535 bytes", {field("A", 'C', 40000), field("B", 'C', 25534)}, StructureFault::kNone, -1, ""},
      {"fixed widths are the type's", {field("D", 'D', 0), field("L", 'L', 9), field("M", 'M', 0)},
       StructureFault::kNone, -1, ""},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.story);
    StructureCheck check = check_structure(c.fields, kDBase3);
    EXPECT_EQ(check.fault, c.fault);
    EXPECT_EQ(check.field, c.field);
    EXPECT_EQ(structure_fault_text(check, c.fields), c.text);
    TempDir dir;
    Status created = create_dbf(dir.file("t.dbf"), c.fields, kDBase3, 0, true, Placement::kNew);
    EXPECT_EQ(created, c.fault == StructureFault::kNone ? Status::kOk : Status::kInvalidStructure);
    if (created == Status::kOk) {
      std::unique_ptr<Table> table = open_table(dir.file("t.dbf"));
      ASSERT_TRUE(table);
      EXPECT_EQ(table->field_count(), int(c.fields.size()));
    }
  }
}

struct NormalizeCase {
  FieldDesc from;
  char type;
  int memo_type;
  int width;
  int decimals;
};

TEST(NormalizeFieldType, GivesEachTypeTheWidthAndDecimalsItTakes) {
  const NormalizeCase cases[] = {
      {field("A", 'C', 300), 'N', 0, 20, 0},  {field("A", 'N', 10, 4), 'C', 0, 10, 0},
      {field("A", 'C', 30), 'C', 0, 30, 0},   {field("A", 'N', 8, 7), 'B', 0, 8, 7},
      {field("A", 'N', 5, 3), 'F', 0, 5, 3},  {field("A", 'C', 3), 'M', 4, 4, 0},
      {field("A", 'C', 3), 'G', 1, 10, 0},    {field("A", 'C', 3), 'D', 0, 8, 0},
      {field("A", 'L', 1), 'N', 0, 1, 0},     {field("A", 'C', 3), 'I', 0, 4, 0},
      {field("A", 'D', 8), 'T', 0, 8, 0},     {field("A", 'N', 1), 'L', 0, 1, 0},
  };
  for (const NormalizeCase& c : cases) {
    FieldDesc desc = c.from;
    normalize_field_type(desc, c.type, c.memo_type);
    SCOPED_TRACE(std::string(1, c.from.type) + std::to_string(desc_width(c.from)) + " to " + c.type);
    EXPECT_EQ(desc.type, c.type);
    EXPECT_EQ(desc_width(desc), c.width);
    if (c.type != 'C') {
      EXPECT_EQ(desc.decimals, c.decimals);
    }
  }
}

TEST(FreshFieldName, IsTheFirstNewfieldNameNotYetUsedIgnoringCase) {
  std::vector<StructureField> fields;
  EXPECT_EQ(fresh_field_name(fields), "NEWFIELD");
  fields.push_back(new_structure_field(fields));
  EXPECT_EQ(desc_name(fields[0].desc), "NEWFIELD");
  EXPECT_EQ(desc_width(fields[0].desc), 10);
  EXPECT_EQ(fields[0].source, -1);
  set_desc_name(fields[0].desc, "newfield");
  fields.push_back(new_structure_field(fields));
  fields.push_back(new_structure_field(fields));
  EXPECT_EQ(desc_name(fields[1].desc), "NEWFIELD1");
  EXPECT_EQ(desc_name(fields[2].desc), "NEWFIELD2");
  EXPECT_TRUE(check_structure(descriptors_of(fields), kDBase3).ok());
}

TEST(StructureTable, SavesFiftyByteRecordsThatDbfreadReadsAndLoadsThemBack) {
  TempDir dir;
  std::string path = dir.file("s.dbf");
  std::vector<StructureField> fields(3);
  fields[0].desc = field("NAME", 'C', 300);
  fields[0].alias = "Full name";
  fields[1].desc = field("PRICE", 'N', 10, 2);
  fields[1].source = 4;
  fields[2].desc = field("ON", 'D', 8);
  ASSERT_EQ(save_structure_table(path, fields, Placement::kNew), Status::kOk);
  EXPECT_EQ(test::file_size(path), 193 + 3 * 50 + 1);
  EXPECT_EQ(get_le32(&test::read_bytes(path)[4]), 3u);
  EXPECT_EQ(test::dbfread_dump(path),
            "['NAME', 'C', 44, 1, 'Full name']\n['PRICE', 'N', 10, 2, '']\n['ON', 'D', 8, 0, '']\ndeleted 0\n");
  EXPECT_EQ(save_structure_table(path, fields, Placement::kNew), Status::kFileExists);

  std::vector<StructureField> loaded;
  ASSERT_EQ(load_structure_table(path, loaded), Status::kOk);
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(desc_width(loaded[0].desc), 300);
  EXPECT_EQ(loaded[0].alias, "Full name");
  EXPECT_EQ(desc_width(loaded[1].desc), 10);
  EXPECT_EQ(loaded[1].desc.decimals, 2);
  EXPECT_EQ(loaded[1].source, -1);
  EXPECT_EQ(desc_name(loaded[2].desc), "ON");
}

struct Row {
  const char* name;
  char type;
  int length;
  int decimals;
};

struct LoadCase {
  const char* story;
  std::vector<Row> rows;
  Status status;
  std::vector<std::string> loaded;  // name, type and width of each field loaded
  uint32_t bad_record = 0;
};

TEST(StructureTable, LoadSkipsWhatIsNoFieldAndRefusesWidthsOutOfRange) {
  const LoadCase cases[] = {
      {"unknown type, empty name, lower case", {{"A", 'X', 5, 0}, {"", 'C', 10, 0}, {"b", 'n', 10, 2}}, Status::kOk,
       {"bN10"}},
      {"a C wider than 255 as it stands", {{"A", 'C', 300, 0}}, Status::kOk, {"AC300"}},
      {"nothing left gives a fresh field", {{"A", 'X', 5, 0}}, Status::kOk, {"NEWFIELDC10"}},
      {"N of width 30", {{"A", 'C', 10, 0}, {"B", 'N', 30, 0}}, Status::kInvalidStructure, {}, 1},
      {"N(5,5)", {{"B", 'N', 5, 5}}, Status::kInvalidStructure, {}, 0},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.story);
    TempDir dir;
    test::DbfLayout layout;
    layout.fields = {{"FIELD_NAME", 'C', 10}, {"field_type", 'C', 1}, {"FIELD_LEN", 'N', 3}, {"FIELD_DEC", 'N', 3}};
    for (const Row& row : c.rows) {
      char record[40];
      std::snprintf(record, sizeof record, "%-10s%c%3d%3d", row.name, row.type, row.length, row.decimals);
      layout.records.push_back(record);
    }
    layout.records.push_back("GONE      C 10  0");
    layout.deleted.assign(layout.records.size(), false);
    layout.deleted.back() = true;
    test::write_bytes(dir.file("s.dbf"), test::build_dbf(layout));
    std::vector<StructureField> fields(2);
    uint32_t bad = 99;
    ASSERT_EQ(load_structure_table(dir.file("s.dbf"), fields, &bad), c.status);
    if (c.status != Status::kOk) {
      EXPECT_EQ(bad, c.bad_record);
      EXPECT_EQ(fields.size(), 2u);
      continue;
    }
    std::vector<std::string> got;
    for (const StructureField& f : fields) got.push_back(desc_name(f.desc) + f.desc.type + std::to_string(desc_width(f.desc)));
    EXPECT_EQ(got, c.loaded);
  }
  TempDir dir;
  test::DbfLayout layout;
  layout.fields = {{"FIELD_NAME", 'C', 10}, {"FIELD_TYPE", 'C', 1}, {"FIELD_LEN", 'N', 3}};
  test::write_bytes(dir.file("s.dbf"), test::build_dbf(layout));
  std::vector<StructureField> fields;
  EXPECT_EQ(load_structure_table(dir.file("s.dbf"), fields), Status::kNotStructureTable);
  EXPECT_EQ(load_structure_table(dir.file("none.dbf"), fields), Status::kNotFound);
}

}  // namespace
}  // namespace kora
