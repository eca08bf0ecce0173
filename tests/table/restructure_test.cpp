// Restructuring copies of real tables with memo files: every record is
// copied with its deletion flag whatever the view shows, values follow
// their fields through type changes, values that do not fit are counted
// and can be refused, and a run that fails or stops leaves the table and
// its folder exactly as they were. Tables written are read back by dbfread
// and GDAL.
#include "table/restructure.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/header_file.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using test::TempDir;

// A copy of the dBase III fixture with a memo file: 67 records, PRICE
// N(13,2) at 9, NAME C(100) at 6, DESC M(10) at 11.
struct Fixture {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf", "t.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_83.dbt", "t.dbt");
  std::unique_ptr<Table> table = open_table(path);

  std::string listing() const {
    std::string out;
    test::run_command("ls -A '" + dir.path() + "'", out);
    return out;
  }
  // The text of field `name` in every record, through a table opened anew.
  std::vector<std::string> column(const std::string& name) const {
    std::unique_ptr<Table> t = open_table(path);
    std::vector<std::string> out;
    int i = find_field(*t, name);
    for (uint32_t p = 0; t && i >= 0 && p < t->record_count; ++p) {
      read_record(*t, p);
      std::string text;
      if (is_memo_field(*t, i)) {
        read_memo(*t, i, text, true);
      } else {
        text = field_text(*t, i);
      }
      out.push_back(text);
    }
    return out;
  }
};

std::string trim_right(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

int field_index(const std::vector<StructureField>& fields, const char* name) {
  for (size_t i = 0; i < fields.size(); ++i)
    if (desc_name(fields[i].desc) == name) return int(i);
  return -1;
}

TEST(Restructure, ChangesTypesKeepingEveryValueAndTheOldTableAsBackup) {
  Fixture f;
  ASSERT_TRUE(f.table);
  chmod(f.path.c_str(), 0640);
  std::vector<uint8_t> old_bytes = test::read_bytes(f.path);
  std::vector<std::string> prices = f.column("PRICE"), names = f.column("NAME"), memos = f.column("DESC");

  // PRICE N(13,2) to C, NAME C(100) to M, DESC M to C(254).
  std::vector<StructureField> fields = structure_of(*f.table);
  normalize_field_type(fields[size_t(field_index(fields, "PRICE"))].desc, 'C', 0);
  normalize_field_type(fields[size_t(field_index(fields, "NAME"))].desc, 'M', 0);
  FieldDesc& desc = fields[size_t(field_index(fields, "DESC"))].desc;
  normalize_field_type(desc, 'C', 0);
  set_desc_width(desc, 254);
  RestructureReport report;
  ASSERT_EQ(restructure(*f.table, fields, {}, &report), Status::kOk);
  f.table.reset();
  EXPECT_EQ(report.records, 67u);
  uint32_t long_memos = 0;
  for (const std::string& text : memos) long_memos += trim_right(text).size() > 254;
  ASSERT_GT(long_memos, 0u);
  ASSERT_EQ(report.losses.size(), 1u);  // the memo texts longer than 254, cut there
  EXPECT_EQ(report.losses[0].field, field_index(fields, "DESC"));
  EXPECT_EQ(report.losses[0].count, long_memos);
  EXPECT_EQ(report.bak_file_name, f.dir.file("t.bak"));
  EXPECT_EQ(test::read_bytes(f.dir.file("t.bak")), old_bytes);
  struct stat info;
  ASSERT_EQ(stat(f.path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(f.listing(), "t.bak\nt.dbf\nt.dbt\n");

  EXPECT_EQ(f.column("PRICE"), prices);  // as displayed, right-aligned, now text
  std::vector<std::string> got_names = f.column("NAME");
  ASSERT_EQ(got_names.size(), names.size());
  for (size_t r = 0; r < names.size(); ++r) EXPECT_EQ(got_names[r], trim_right(names[r])) << r;
  std::vector<std::string> got_memos = f.column("DESC");
  for (size_t r = 0; r < memos.size(); ++r) EXPECT_EQ(trim_right(got_memos[r]), trim_right(memos[r].substr(0, 254)));
  std::string dump = test::dbfread_dump(f.path);
  EXPECT_EQ(test::lines_of(dump).size(), 68u);
  EXPECT_NE(dump.find("'" + prices[0] + "'"), std::string::npos) << prices[0];

  // And back: NAME from memo to C(100) again.
  std::unique_ptr<Table> again = open_table(f.path);
  ASSERT_TRUE(again);
  fields = structure_of(*again);
  FieldDesc& name = fields[size_t(field_index(fields, "NAME"))].desc;
  normalize_field_type(name, 'C', 0);
  set_desc_width(name, 100);
  ASSERT_EQ(restructure(*again, fields, {}), Status::kOk);
  EXPECT_EQ(f.column("NAME"), names);
}

TEST(Restructure, CopiesEveryRecordWithItsFlagWhateverTheViewShowsAndKeepsAliasesOnTheirFields) {
  Fixture f;
  ASSERT_TRUE(f.table);
  ASSERT_EQ(mark_deleted(*f.table, 3), 1);
  ASSERT_EQ(mark_deleted(*f.table, 5), 1);
  RecordView view;
  view.visible_list = std::vector<uint32_t>{0, 10, 20};
  view.hide_deleted = true;
  ASSERT_EQ(install_record_view(*f.table, view), 1);
  set_header_file_name(*f.table);
  f.table->aliases.assign(size_t(f.table->field_count()), "");
  f.table->aliases[6] = "Product name";
  f.table->aliases[14] = "Active";
  ASSERT_EQ(write_header_file(*f.table), 1);
  std::vector<std::string> codes = f.column("CODE");

  // A field inserted first, CODE (5) deleted.
  std::vector<StructureField> fields = structure_of(*f.table);
  fields.erase(fields.begin() + 5);
  fields.insert(fields.begin(), new_structure_field(fields));
  RestructureReport report;
  ASSERT_EQ(restructure(*f.table, fields, {}, &report), Status::kOk);
  f.table.reset();
  EXPECT_FALSE(report.kept_view_order);
  std::unique_ptr<Table> t = open_table(f.path);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->record_count, 67u);
  EXPECT_EQ(find_field(*t, "CODE"), -1);
  EXPECT_EQ(field_name(*t, 0), "NEWFIELD");
  for (uint32_t p = 0; p < t->record_count; ++p) {
    ASSERT_EQ(read_delete_flag(*t, p), 1);
    EXPECT_EQ(t->delete_flag, p == 3 || p == 5 ? '*' : ' ') << p;
  }
  set_header_file_name(*t);
  read_header_file(*t);
  EXPECT_EQ(t->aliases[6], "Product name");  // NAME stays sixth: one in, one out before it
  EXPECT_EQ(t->aliases[14], "Active");
  EXPECT_EQ(t->aliases[5], "");
  std::string dump = test::dbfread_dump(f.path);
  EXPECT_EQ(test::lines_of(dump).size(), 66u);
  EXPECT_NE(dump.find("deleted 2"), std::string::npos);
}

TEST(Restructure, ValuesThatDoNotFitAreCountedAndTheOldTableKeptWhenRefused) {
  Fixture f;
  ASSERT_TRUE(f.table);
  std::vector<std::string> prices = f.column("PRICE");
  uint32_t expected = 0, first = 0;
  for (size_t r = 0; r < prices.size(); ++r) {
    std::string text = prices[r].substr(prices[r].find_first_not_of(' '));
    if (text.size() <= 4) continue;
    if (expected++ == 0) first = uint32_t(r);
  }
  ASSERT_GT(expected, 0u);
  std::vector<StructureField> fields = structure_of(*f.table);
  fields[9].desc.length = 4;  // PRICE N(13,2) to N(4,2)
  std::vector<uint8_t> before = test::read_bytes(f.path), memo_before = test::read_bytes(f.memo);
  std::string listing = f.listing();
  RestructureOptions options;
  int asked = 0;
  options.keep_with_losses = [&](const RestructureReport& report) {
    ++asked;
    EXPECT_EQ(report.losses.size(), 1u);
    EXPECT_EQ(report.losses[0].field, 9);
    EXPECT_EQ(report.losses[0].count, expected);
    EXPECT_EQ(report.losses[0].first_record, first);
    EXPECT_EQ(loss_text(report, fields), "PRICE: " + std::to_string(expected) +
                                             " values did not fit, the first in record " + std::to_string(first + 1));
    return asked > 1;
  };
  EXPECT_EQ(restructure(*f.table, fields, options), Status::kAborted);
  EXPECT_EQ(test::read_bytes(f.path), before);
  EXPECT_EQ(test::read_bytes(f.memo), memo_before);
  EXPECT_EQ(f.listing(), listing);
  ASSERT_EQ(restructure(*f.table, fields, options), Status::kOk);
  EXPECT_EQ(asked, 2);
}

// In a child that may not write files longer than 20,000 bytes.
int restructure_beyond_the_limit(Table& table, const std::vector<StructureField>& fields) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit fsize = {20000, 20000};
  if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
  return restructure(table, fields, {}) == Status::kWriteError ? 0 : 3;
}

TEST(Restructure, AFailedWriteOrAStopLeavesTheTableAndItsFolderAsTheyWere) {
  Fixture f;
  ASSERT_TRUE(f.table);
  std::vector<uint8_t> before = test::read_bytes(f.path), memo_before = test::read_bytes(f.memo);
  std::string listing = f.listing();
  std::vector<StructureField> fields = structure_of(*f.table);
  normalize_field_type(fields[6].desc, 'M', 0);  // NAME to memo: the memo file is copied and grows
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run == 0 ? "file size limit" : run == 1 ? "memo file size limit" : "stopped");
    if (run < 2) {
      std::vector<StructureField> changed = fields;
      if (run == 0) changed.erase(changed.begin() + 6);  // no memo writes: the table file hits the limit
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) _exit(restructure_beyond_the_limit(*f.table, changed));
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
      RestructureOptions options;
      options.progress = [](uint64_t, uint64_t) { return false; };
      EXPECT_EQ(restructure(*f.table, fields, options), Status::kAborted);
    }
    EXPECT_EQ(test::read_bytes(f.path), before);
    EXPECT_EQ(test::read_bytes(f.memo), memo_before);
    EXPECT_EQ(f.listing(), listing);
  }
}

TEST(Restructure, ANewMemoFieldMakesTheMemoFileAndADBaseThreeTableStaysReadable) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_03.dbf", "p.dbf");
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  std::string before = test::gdal_csv(path, "Point_ID,Comments");
  std::vector<StructureField> fields = structure_of(*table);
  std::vector<StructureField> plain = {fields[0], fields[7]};  // Point_ID, Comments
  ASSERT_EQ(restructure(*table, plain, {}), Status::kOk);
  table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(test::gdal_csv(path), before);

  fields = structure_of(*table);
  normalize_field_type(fields[1].desc, 'M', 0);
  RestructureOptions options;
  options.kind_without_memo = kDBase3;
  ASSERT_EQ(restructure(*table, fields, options), Status::kOk);
  table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->version(), 0x83);
  EXPECT_TRUE(test::file_exists(dir.file("p.dbt")));
  std::string dump = test::dbfread_dump(path);
  EXPECT_EQ(test::lines_of(dump).size(), 15u);
  // Every comment read back through dbfread as the memo text it became.
  std::vector<std::string> rows = test::lines_of(before);
  for (size_t r = 1; r < rows.size(); ++r) {
    std::string comment = rows[r].substr(rows[r].find(',') + 1);
    if (comment.empty()) continue;
    EXPECT_NE(dump.find("'" + comment + "'"), std::string::npos) << comment;
  }
}

TEST(Restructure, AReversedViewOfEveryRecordIsKeptInItsOrder) {
  Fixture f;
  ASSERT_TRUE(f.table);
  std::vector<std::string> ids = f.column("ID");
  RecordView view;
  view.reverse = true;
  ASSERT_EQ(install_record_view(*f.table, view), 1);
  RestructureReport report;
  ASSERT_EQ(restructure(*f.table, structure_of(*f.table), {}, &report), Status::kOk);
  EXPECT_TRUE(report.kept_view_order);
  std::reverse(ids.begin(), ids.end());
  EXPECT_EQ(f.column("ID"), ids);
}

TEST(Restructure, AVisualFoxProTableKeepsItsMemosAndLosesOnlyTheIndexFlag) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_30.dbf", "v.dbf");
  dir.copy_fixture("infused-dbf/dbase_30.fpt", "v.fpt");
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->header_bytes[28], 0x03);
  std::string before = test::dbfread_dump(path);
  std::vector<StructureField> fields = structure_of(*table);
  fields.push_back(new_structure_field(fields));
  ASSERT_EQ(restructure(*table, fields, {}), Status::kOk);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  EXPECT_EQ(bytes[0], 0x30);
  EXPECT_EQ(bytes[28], 0x02);  // memo fields, no structural index
  EXPECT_EQ(bytes[29], 0x03);
  // The same values, memo texts and binary date-times included, and one more blank field.
  std::vector<std::string> old_rows = test::lines_of(before), new_rows = test::lines_of(test::dbfread_dump(path));
  ASSERT_EQ(new_rows.size(), old_rows.size());
  for (size_t r = 0; r + 1 < old_rows.size(); ++r) {
    EXPECT_EQ(new_rows[r], old_rows[r].substr(0, old_rows[r].size() - 1) + ", '']") << r;
  }
}

TEST(Restructure, AVisualFoxProTableWithoutMemoStaysOneForItsOwnTypes) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_31.dbf", "v.dbf");
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  std::string before = test::dbfread_dump(path);
  std::vector<StructureField> fields = structure_of(*table);
  fields.push_back(new_structure_field(fields));
  RestructureOptions options;
  options.kind_without_memo = kDBase3;
  ASSERT_EQ(restructure(*table, fields, options), Status::kOk);
  EXPECT_EQ(test::read_bytes(path)[0], 0x30);
  std::vector<std::string> old_rows = test::lines_of(before), new_rows = test::lines_of(test::dbfread_dump(path));
  ASSERT_EQ(new_rows.size(), old_rows.size());
  for (size_t r = 0; r + 1 < old_rows.size(); ++r) {
    EXPECT_EQ(new_rows[r], old_rows[r].substr(0, old_rows[r].size() - 1) + ", '']") << r;
  }
  fields.resize(2);  // PRODUCTID I and PRODUCTNAM C: still its own type
  table = open_table(path);
  ASSERT_EQ(restructure(*table, fields, options), Status::kOk);
  EXPECT_EQ(test::read_bytes(path)[0], 0x30);
  fields.erase(fields.begin());  // only C left: the kind asked for, without memo
  table = open_table(path);
  ASSERT_EQ(restructure(*table, fields, options), Status::kOk);
  EXPECT_EQ(test::read_bytes(path)[0], 0x03);
}

TEST(Restructure, ATableNamedLikeABackupIsKeptUnderAnotherName) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_03.dbf", "old.bak");
  std::vector<uint8_t> before = test::read_bytes(path);
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  std::vector<StructureField> fields = structure_of(*table);
  fields.resize(3);
  RestructureReport report;
  ASSERT_EQ(restructure(*table, fields, {}, &report), Status::kOk);
  EXPECT_EQ(report.bak_file_name, dir.file("old.bak.bak"));
  EXPECT_EQ(test::read_bytes(dir.file("old.bak.bak")), before);
  table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->field_count(), 3);
  EXPECT_EQ(table->record_count, 14u);
}

TEST(Restructure, ATableReachedThroughALinkIsReplacedWhereItLiesWithItsNewMemoFile) {
  TempDir dir;
  dir.copy_fixture("infused-dbf/dbase_03.dbf", "real.dbf");
  ASSERT_EQ(symlink("real.dbf", dir.file("link.dbf").c_str()), 0);
  std::unique_ptr<Table> table = open_table(dir.file("link.dbf"));
  ASSERT_TRUE(table);
  std::vector<StructureField> fields = structure_of(*table);
  normalize_field_type(fields[7].desc, 'M', 0);  // Comments to memo
  fields.pop_back();  // the second Point_ID: names must differ
  RestructureOptions options;
  options.kind_without_memo = kFoxPro;
  ASSERT_EQ(restructure(*table, fields, options), Status::kOk);
  table = open_table(dir.file("link.dbf"));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->version(), 0xF5);
  EXPECT_EQ(table->memo_file_name, dir.file("link.fpt"));
  EXPECT_TRUE(test::file_exists(dir.file("link.fpt")));
  char target[64] = {};
  EXPECT_GT(readlink(dir.file("link.dbf").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "real.dbf");
}

}  // namespace
}  // namespace kora
