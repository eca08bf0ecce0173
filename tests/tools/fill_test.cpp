// Filling a field over many records and summing a column: progressions that
// stop at their maximum, values that do not fit keeping the old ones, terms
// hundreds of digits long, fields holding references left alone, listed
// positions only, a stop or a failed write ending the walk with what was
// done kept; totals kept apart for deleted records.
#include "tools/fill.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using namespace kora::test;

// NAME C(6), NUM N(5), MEMO M(10); record i holds "R<i>" and i + 1.
std::unique_ptr<Table> numbered_table(const TempDir& dir, int count, std::vector<bool> deleted = {}) {
  DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 6}, {"NUM", 'N', 5}, {"MEMO", 'M', 10}};
  for (int i = 0; i < count; ++i) {
    char record[32];
    std::snprintf(record, sizeof record, "R%-5d%5d%10s", i, i + 1, "");
    layout.records.push_back(record);
  }
  layout.deleted = std::move(deleted);
  std::string path = dir.file("t.dbf");
  write_bytes(path, build_dbf(layout));
  return open_table(path);
}

std::string column(Table& table, int i) {
  std::string out;
  for (uint32_t p = 0; p < table.record_count; ++p) out += read_record(table, p) ? field_text(table, i) : "?";
  return out;
}

FillRequest request(std::string expression, int field, bool progression = false, bool geometric = false, double step = 0,
              double max = 0) {
  return FillRequest{std::move(expression), field, progression, geometric, step, max};
}

TEST(FillTest, ExpressionsAndProgressionsWriteTheirTermsUntilTheMaximum) {
  struct Case {
    FillRequest request;
    std::string expected;  // the field of ten records afterwards, joined
    uint64_t stored, did_not_fit;
  } cases[] = {
      {request("1", 1, true, false, 1, 5), "    1    2    3    4    5    6    7    8    9   10", 5, 0},
      {request("1", 1, true, true, 2, 0), "    1    2    4    8   16   32   64  128  256  512", 10, 0},
      {request("NUM*3-1", 1), "    2    5    8   11   14   17   20   23   26   29", 10, 0},
      // 10000 still fits N(5), 100000 no longer does: the old values stay.
      {request("10^(NUM-1)", 1), "    1   10  100 100010000    6    7    8    9   10", 5, 5},
      {request("NUM/0", 1), "    1    2    3    4    5    6    7    8    9   10", 0, 0},
      // Texts are joined without their plus signs or the values' padding.
      {request("\"x\"+NAME", 0), "xR0   xR1   xR2   xR3   xR4   xR5   xR6   xR7   xR8   xR9   ", 10, 0},
      {request("NAME+\"x\"", 0), "R0x   R1x   R2x   R3x   R4x   R5x   R6x   R7x   R8x   R9x   ", 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.expression);
    TempDir dir;
    auto table = numbered_table(dir, 10);
    FillCounts counts;
    ASSERT_EQ(fill_records(*table, c.request, nullptr, {}, counts), Status::kOk);
    EXPECT_EQ(column(*table, c.request.field), c.expected);
    EXPECT_EQ(counts.stored * 100 + counts.did_not_fit, c.stored * 100 + c.did_not_fit);
  }
}

TEST(FillTest, TextExpressionsJoinTheirValuesAndEveryRefusalHasItsReason) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 12}, {"ID", 'N', 5, 1}, {"BORN", 'D', 8}, {"OK", 'L', 1}, {"CODE", 'C', 4}};
  layout.records = {"SMITH         7.020240131T    ", "JONES       -12.0        F    "};
  struct Case {
    const char* expression;
    int field;
    const char* first;  // the field of the first record afterwards
    FillOutcome outcome;
    const char* value;  // what was given or refused
  } cases[] = {
      {"NAME+'/'+STR(ID)", 0, "SMITH/7.0   ", FillOutcome::kStored, "SMITH/7.0"},
      {"name + '-' + trim(code) + left(NAME,2)", 0, "SMITH-SM    ", FillOutcome::kStored, "SMITH-SM"},
      {"ID*3-1", 0, "20          ", FillOutcome::kStored, "20"},
      {"ID", 0, "7.0         ", FillOutcome::kStored, "7.0"},  // a value as it is written
      {"ID/4", 4, "1.75", FillOutcome::kStored, "1.75"},
      {"'x'+BORN", 4, "    ", FillOutcome::kDidNotFit, "x20240131"},
      {"1+1", 4, "1+1 ", FillOutcome::kStored, "1+1"},
      {"ID+1", 2, "20240131", FillOutcome::kGivesNumber, "8"},
      {"ID+1", 3, "T", FillOutcome::kGivesNumber, "8"},
      {"NAME+ID", 1, "  7.0", FillOutcome::kGivesText, "SMITH       +  7.0"},
      {"ID/0", 0, "SMITH       ", FillOutcome::kNotEvaluated, "  7.0/0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    write_bytes(dir.file("t.dbf"), build_dbf(layout));
    auto table = open_table(dir.file("t.dbf"));
    ASSERT_TRUE(table && read_record(*table, 0));
    FillRun run(request(c.expression, c.field));
    EXPECT_EQ(run.fill_record(*table), c.outcome);
    EXPECT_EQ(std::string(field_raw_text(*table, c.field)), c.first);
    EXPECT_EQ(run.last_value(), c.value);
  }
  // The walk counts each reason and keeps the first value refused with
  // what the field said to it.
  write_bytes(dir.file("t.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("t.dbf"));
  FillCounts counts;
  ASSERT_EQ(fill_records(*table, request("NAME+STR(ID)", 4), nullptr, {}, counts), Status::kOk);
  EXPECT_EQ(counts.did_not_fit, 2u);
  EXPECT_EQ(counts.first_refused, "SMITH7.0");
  EXPECT_EQ(counts.first_write, FieldWrite::kDoesNotFit);
  counts = {};
  ASSERT_EQ(fill_records(*table, request("'20240230'", 2), nullptr, {}, counts), Status::kOk);
  EXPECT_EQ(counts.did_not_fit, 2u);
  EXPECT_EQ(counts.first_write, FieldWrite::kImpossibleDate);
}

TEST(FillTest, TermsHundredsOfDigitsLongAndNonFiniteOnes) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"X", 'B', 8}};
  layout.records.assign(4, std::string(8, '\0'));
  write_bytes(dir.file("b.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("b.dbf"));
  ASSERT_TRUE(table);
  FillCounts counts;
  ASSERT_EQ(fill_records(*table, request("10^200", 0, true, true, 1E100), nullptr, {}, counts), Status::kOk);
  EXPECT_EQ(counts.stored, 2u);
  EXPECT_EQ(counts.not_evaluated, 2u);  // 1E400 is no double
  const double expected[] = {1E200, 1E300, 0, 0};
  for (uint32_t p = 0; p < 4; ++p) {
    ASSERT_TRUE(read_record(*table, p));
    EXPECT_DOUBLE_EQ(double(field_number(*table, 0)), expected[p]);
  }
}

TEST(FillTest, ListedPositionsOnlyAndAStopOrFailedWriteKeepWhatWasDone) {
  TempDir dir;
  auto table = numbered_table(dir, 8);
  std::vector<uint8_t> before = read_bytes(table->file_name);
  FillCounts counts;
  // Fields holding references, computed columns and read-only tables are left alone.
  EXPECT_EQ(fill_records(*table, request("\"X\"", 2), nullptr, {}, counts), Status::kOk);
  EXPECT_EQ(fill_records(*table, request("1", 5), nullptr, {}, counts), Status::kOk);
  EXPECT_EQ(counts.stored, 0u);
  table->read_only = true;
  EXPECT_EQ(fill_records(*table, request("7", 1), nullptr, {}, counts), Status::kReadOnly);
  EXPECT_EQ(read_bytes(table->file_name), before);
  table->read_only = false;
  // Stops when the second range begins.
  RecordList list = parse_record_list("2-3,6-7", 8);
  auto stop_later = [](uint64_t done, uint64_t) { return done <= 2; };
  EXPECT_EQ(fill_records(*table, request("0", 1), &list, stop_later, counts), Status::kAborted);
  EXPECT_EQ(column(*table, 1), "    1    0    0    4    5    6    7    8");
  EXPECT_EQ(counts.stored, 2u);
  // Writes that fail end the walk at the first record.
  int read_only = open(table->file_name.c_str(), O_RDONLY);
  ASSERT_GE(read_only, 0);
  ASSERT_GE(dup2(read_only, table->fd), 0);
  close(read_only);
  counts = {};
  EXPECT_EQ(fill_records(*table, request("9", 1), nullptr, {}, counts), Status::kWriteError);
  EXPECT_EQ(counts.stored, 0u);
}

TEST(FillTest, SumKeepsDeletedRecordsApartOverTheViewOrAList) {
  TempDir dir;
  auto table = numbered_table(dir, 6, {false, true, false, false, true, false});
  SumTotals totals;
  ASSERT_EQ(sum_column(*table, 1, nullptr, {}, totals), Status::kOk);
  EXPECT_EQ(double(totals.not_deleted), 1 + 3 + 4 + 6);
  EXPECT_EQ(double(totals.deleted), 2 + 5);
  EXPECT_EQ(double(totals.all()), 21);
  RecordList list = parse_record_list("2,4-9", 6);
  ASSERT_EQ(sum_column(*table, 1, &list, {}, totals), Status::kOk);
  EXPECT_EQ(double(totals.not_deleted), 4 + 6);
  EXPECT_EQ(double(totals.deleted), 2 + 5);
  SumTotals untouched{1, 2};
  EXPECT_EQ(sum_column(*table, 1, nullptr, [](uint64_t, uint64_t) { return false; }, untouched), Status::kAborted);
  EXPECT_EQ(double(untouched.all()), 3);
}

}  // namespace
}  // namespace kora
