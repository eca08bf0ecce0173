// The health check's record keeping: the first few record numbers of each
// finding, all of them when asked for, and a walk stopped by its progress.
#include "tools/table_check.h"

#include <gtest/gtest.h>

#include "support/dbf_builder.h"
#include "support/test_support.h"

namespace kora {
namespace {

TEST(TableCheck, KeepsTheFirstRecordsOfEachFindingAllWhenAskedAndStopsWhenTold) {
  test::TempDir dir;
  test::DbfSpec layout;
  layout.fields = {{"OK", 'L', 1}, {"N", 'N', 3}};
  for (int i = 0; i < 12; ++i) layout.records.push_back(i % 2 ? "X  7" : "T x ");
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  OpenFailure why;
  std::unique_ptr<Table> table = open_table_read_only(path, &why);
  ASSERT_TRUE(table);

  CheckOptions options;
  options.first_records = 3;
  TableCheck check = check_table(*table, options);
  ASSERT_EQ(check.findings.size(), 2u);
  EXPECT_EQ(check.status, Status::kOk);
  EXPECT_EQ(check.records, 12u);
  const CheckFinding& logical = check.findings[0];
  EXPECT_EQ(logical.kind, CheckKind::kLogical);
  EXPECT_EQ(logical.field, 0);
  EXPECT_EQ(logical.count, 6u);
  EXPECT_EQ(logical.first, (std::vector<uint32_t>{1, 3, 5}));
  EXPECT_TRUE(logical.all.empty());
  EXPECT_EQ(check.findings[1].kind, CheckKind::kNumber);
  EXPECT_EQ(check.findings[1].first, (std::vector<uint32_t>{0, 2, 4}));

  options.keep_all = true;
  EXPECT_EQ(check_table(*table, options).findings[0].all, (std::vector<uint32_t>{1, 3, 5, 7, 9, 11}));

  options.progress = [](uint64_t, uint64_t) { return false; };
  EXPECT_EQ(check_table(*table, options).status, Status::kAborted);
}

}  // namespace
}  // namespace kora
