// Sorting a view: numbers of every numeric type in numeric order, dates
// whatever the display format, ties in file order (reversed descending),
// several fields, a filtered and reversed view, computed columns, and the
// runs merged from a temporary file giving exactly the in-memory order;
// a stop or a failure leaves the view and the temporary folder as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/column_model.h"
#include "table/record_ops.h"
#include "tools/condition.h"
#include "tools/sort.h"

namespace kora {
namespace {

using namespace kora::test;

std::string little_endian(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
  return out;
}

std::string date_time(int year, int month, int day, int hour, int minute, int second) {
  long ms = ((hour * 60L + minute) * 60 + second) * 1000;
  return little_endian(uint32_t(julian_day_number(year, month, day)), 4) + little_endian(uint32_t(ms), 4);
}

std::unique_ptr<Table> make_table(const TempDir& dir, const DbfLayout& layout) {
  std::string path = dir.file(std::string("t").append(std::to_string(std::rand())) + ".dbf");
  write_bytes(path, build_dbf(layout));
  return open_table(path);
}

// Physical record numbers in view order.
std::vector<uint32_t> view_records(const Table& table) {
  std::vector<uint32_t> out;
  for (uint32_t p = 0; p < visible_count(table); ++p) out.push_back(physical_record(table, p));
  return out;
}

// The records in the order a stable sort of their values gives.
template <typename T>
std::vector<uint32_t> stable_order(const std::vector<T>& values, bool descending = false) {
  std::vector<uint32_t> order(values.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return values[a] < values[b]; });
  if (descending) std::reverse(order.begin(), order.end());
  return order;
}

SortOptions sort_options(bool descending, const std::string& temp_dir = "", size_t budget = kDefaultSortBudget) {
  SortOptions out;
  out.descending = descending;
  out.temp_dir = temp_dir;
  out.memory_budget = budget;
  return out;
}

bool folder_empty(const std::string& path) { return std::filesystem::is_empty(path); }

TEST(SortTest, NumbersOfEveryNumericTypeSortInNumericOrder) {
  struct Case {
    char type;
    int length;
    int decimals;
    std::vector<double> values;
    std::string (*encode)(double);
  };
  auto text = [](int width, int decimals) {
    return [width, decimals](double v) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%*.*f", width, decimals, v);
      return std::string(buffer);
    };
  };
  static auto n62 = text(6, 2);
  static auto n40 = text(4, 0);
  const std::vector<double> common = {3, -5, 12, 0, -10, -0.5, 0.25, -12.75};
  const Case cases[] = {
      {'N', 6, 2, common, [](double v) { return n62(v); }},
      {'F', 4, 0, {3, -5, 12, 0, -10, -999, 999}, [](double v) { return n40(v); }},
      {'I', 4, 0, {3, -5, 12, 0, -10, -2147483648.0, -999999999, 2147483647},
       [](double v) { return little_endian(uint32_t(int32_t(v)), 4); }},
      {'Y', 8, 0, common, [](double v) { return little_endian(uint64_t(int64_t(v * 10000)), 8); }},
      {'B', 8, 2, common, [](double v) {
         uint64_t bits;
         std::memcpy(&bits, &v, 8);
         return little_endian(bits, 8);
       }},
  };
  TempDir dir;
  for (const Case& c : cases) {
    DbfLayout layout;
    layout.fields = {{"V", c.type, c.length, c.decimals}};
    for (double v : c.values) layout.records.push_back(c.encode(v));
    std::unique_ptr<Table> table = make_table(dir, layout);
    ASSERT_TRUE(table);
    for (bool descending : {false, true}) {
      ASSERT_EQ(sort_by_field_list(*table, "V", sort_options(descending), nullptr), Status::kOk);
      EXPECT_EQ(view_records(*table), stable_order(c.values, descending)) << c.type << " " << descending;
    }
  }
}

TEST(SortTest, ANullValueSortsAsEmptyWhateverItsBytes) {
  TempDir dir;
  DbfLayout layout;
  layout.version = 0x30;
  layout.fields = {{"NAME", 'C', 3, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
  layout.records = {"bbb\x00", "aaa\x01", "ccc\x00", "   \x00"};  // the second is null
  std::unique_ptr<Table> table = make_table(dir, layout);
  ASSERT_TRUE(table);
  ASSERT_EQ(sort_by_field_list(*table, "NAME", sort_options(false), nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table), (std::vector<uint32_t>{1, 3, 0, 2}));
}

TEST(SortTest, DatesSortByYearMonthDayWhateverTheDateFormat) {
  DbfLayout layout;
  layout.fields = {{"D", 'D', 8}, {"TB", 'T', 8}, {"TT", 'T', 14}};
  const char* dates[] = {"20021201", "19991231", "        ", "20000101", "20021130", "00000000"};
  const int stamps[][6] = {{2002, 12, 1, 1, 2, 3}, {2002, 12, 1, 1, 2, 2}, {1999, 1, 1, 0, 0, 0},
                           {2030, 6, 1, 12, 0, 0}, {2002, 11, 30, 23, 59, 59}, {0, 0, 0, 0, 0, 0}};
  std::vector<std::string> stamp_texts;
  for (size_t k = 0; k < std::size(dates); ++k) {
    const int* s = stamps[k];
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", s[0], s[1], s[2], s[3], s[4], s[5]);
    stamp_texts.push_back(s[0] == 0 ? std::string(14, ' ') : buffer);
    std::string binary = s[0] == 0 ? std::string(8, '\0') : date_time(s[0], s[1], s[2], s[3], s[4], s[5]);
    layout.records.push_back(std::string(dates[k]) + binary + stamp_texts.back());
  }
  // Blank and invalid dates come first, as blanks.
  std::vector<std::string> date_keys;
  for (const char* d : dates) date_keys.push_back(std::strcmp(d, "00000000") == 0 ? "        " : d);
  TempDir dir;
  std::unique_ptr<Table> table = make_table(dir, layout);
  ASSERT_TRUE(table);
  for (int format = 0; format <= 3; ++format) {
    table->date_format = format;
    ASSERT_EQ(sort_by_field_list(*table, "D", {}, nullptr), Status::kOk);
    EXPECT_EQ(view_records(*table), stable_order(date_keys)) << format;
    for (const char* field : {"TB", "TT"}) {
      ASSERT_EQ(sort_by_field_list(*table, field, {}, nullptr), Status::kOk);
      EXPECT_EQ(view_records(*table), stable_order(stamp_texts)) << field << " " << format;
    }
  }
}

class SortViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"CITY", 'C', 8}, {"NAME", 'C', 6}, {"N", 'N', 3}};
    for (size_t k = 0; k < cities_.size(); ++k) {
      char n[8];
      std::snprintf(n, sizeof n, "%3d", int(k % 4) - 2);
      layout.records.push_back(pad(cities_[k], 8) + pad(names_[k], 6) + n);
    }
    table_ = make_table(dir_, layout);
    ASSERT_TRUE(table_);
  }
  static std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
  }
  std::vector<std::string> cities_ = {"Rome", "oslo", "Paris", "Oslo", "Rome", "Paris", "Oslo", "rome", "rome"};
  std::vector<std::string> names_ = {"b", "a", "c", "z", "a", "a", "a", std::string("x\0y", 3), std::string("x\0a", 3)};
  TempDir dir_;
  std::unique_ptr<Table> table_;
};

TEST_F(SortViewTest, EqualKeysKeepFileOrderAscendingAndReverseItDescending) {
  ASSERT_EQ(sort_by_field_list(*table_, "CITY", {}, nullptr), Status::kOk);
  std::vector<uint32_t> ascending = view_records(*table_);
  EXPECT_EQ(ascending, (std::vector<uint32_t>{3, 6, 2, 5, 0, 4, 1, 7, 8}));
  ASSERT_EQ(sort_by_field_list(*table_, "CITY", sort_options(true), nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{8, 7, 1, 4, 0, 5, 2, 6, 3}));
  EXPECT_TRUE(table_->view.sort_descending);
  EXPECT_EQ(table_->view.sort_fields, std::vector<int>{0});

  table_->ignore_case = true;
  ASSERT_EQ(sort_by_field_list(*table_, "CITY", {}, nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{1, 3, 6, 2, 5, 0, 4, 7, 8}));
}

TEST_F(SortViewTest, SeveralFieldsAndComputedColumnsJoinIntoOneKey) {
  // A NUL inside a text is one of its characters: what follows it counts.
  ASSERT_EQ(sort_by_field_list(*table_, "city;name", {}, nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{6, 3, 5, 2, 4, 0, 1, 8, 7}));
  ASSERT_EQ(sort_by_field_list(*table_, "N, CITY UNKNOWN NAME", {}, nullptr), Status::kOk);
  EXPECT_EQ(table_->view.sort_fields, (std::vector<int>{2, 0}));
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{0, 4, 8, 5, 1, 6, 2, 3, 7}));

  install_computed_column_hooks();
  ASSERT_GE(add_computed_column(table_->columns, {"TWICE", "N*-2"}), 0);
  ASSERT_GE(add_computed_column(table_->columns, {"LABEL", "TRIM(NAME)+CITY"}), 0);
  ASSERT_EQ(sort_by_field_list(*table_, "TWICE", {}, nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{3, 7, 2, 6, 1, 5, 0, 4, 8}));
  ASSERT_EQ(sort_by_field_list(*table_, "LABEL", {}, nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{6, 5, 4, 1, 0, 2, 8, 7, 3}));

  std::vector<uint32_t> before = view_records(*table_);
  EXPECT_EQ(sort_by_field_list(*table_, "NOSUCH,CITY", {}, nullptr), Status::kOk);
  EXPECT_EQ(view_records(*table_), before);
}

TEST_F(SortViewTest, FilteredViewSortsItsPositionsAndReverseReadsThemBackwards) {
  RecordView view;
  view.visible_list = std::vector<uint32_t>{0, 2, 3, 5, 7};
  view.reverse = true;
  ASSERT_EQ(install_record_view(*table_, view), 1);
  ASSERT_EQ(sort_by_field_list(*table_, "CITY", {}, nullptr), Status::kOk);
  // Positions of the visible list: Oslo(3) Paris(2, 5) Rome(0) rome(7).
  EXPECT_EQ(*table_->view.sort_order, (std::vector<uint32_t>{2, 1, 3, 0, 4}));
  EXPECT_EQ(view_records(*table_), (std::vector<uint32_t>{7, 0, 5, 2, 3}));
  EXPECT_EQ(table_->view.visible_list->size(), 5u);
}

// A table of many records whose keys repeat, for the runs and the merge.
class LargeSortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"CITY", 'C', 12}, {"AMOUNT", 'N', 8, 2}};
    uint32_t x = 12345;
    for (int k = 0; k < kRecords; ++k) {
      x = x * 1103515245 + 12345;
      char record[32];
      double amount = double(int((x >> 8) % 20001) - 10000) / 100;
      std::snprintf(record, sizeof record, "CITY%-8u%8.2f", (x >> 16) % 500, amount);
      layout.records.push_back(record);
    }
    table_ = make_table(dir_, layout);
    ASSERT_TRUE(table_);
    temp_ = dir_.file("tmp");
    std::filesystem::create_directory(temp_);
  }
  static constexpr int kRecords = 100000;
  TempDir dir_;
  std::unique_ptr<Table> table_;
  std::string temp_;
};

TEST_F(LargeSortTest, RunsMergedFromTheTemporaryFileGiveTheInMemoryOrder) {
  for (const char* fields : {"CITY", "AMOUNT,CITY"}) {
    for (bool descending : {false, true}) {
      std::vector<uint32_t> in_memory, merged;
      SortOptions options = sort_options(descending, temp_);
      ASSERT_EQ(sort_view_positions(*table_, parse_field_list(*table_, fields), options, nullptr, in_memory),
                Status::kOk);
      // About 70 runs: more than are merged at once, so groups are merged first.
      options.memory_budget = 24000;
      uint64_t last_done = 0, last_total = 0, read_steps = 0, merge_steps = 0;
      auto progress = [&](uint64_t done, uint64_t total) {
        EXPECT_GE(done, last_done);
        EXPECT_LE(done, total);
        last_done = done;
        last_total = total;
        ++(done <= kRecords ? read_steps : merge_steps);
        return true;
      };
      ASSERT_EQ(sort_view_positions(*table_, parse_field_list(*table_, fields), options, progress, merged),
                Status::kOk);
      EXPECT_TRUE(merged == in_memory) << fields << " " << descending;
      // Steps while the keys are read and while the runs merge, up to the total.
      EXPECT_GE(read_steps, 2u);
      EXPECT_GE(merge_steps, 3u);
      EXPECT_EQ(last_done, last_total);
      EXPECT_GT(last_total, uint64_t(2 * kRecords));
      EXPECT_TRUE(folder_empty(temp_));
    }
  }
}

TEST_F(LargeSortTest, StopOrFailureLeavesTheViewAndNoTemporaryFiles) {
  ASSERT_EQ(sort_by_field_list(*table_, "AMOUNT", {}, nullptr), Status::kOk);
  const RecordView before = table_->view;
  // Stops while the keys are read, while groups of runs merge, in the last merge.
  for (uint64_t stop_from : {uint64_t(1), uint64_t(kRecords + 1), uint64_t(kRecords + 90000)}) {
    bool stopped = false, called_after_stop = false;
    SortOptions options = sort_options(false, temp_, 24000);
    auto progress = [&](uint64_t done, uint64_t) {
      called_after_stop = called_after_stop || stopped;
      stopped = stopped || done >= stop_from;
      return !stopped;
    };
    EXPECT_EQ(sort_by_field_list(*table_, "CITY", options, progress), Status::kAborted) << stop_from;
    EXPECT_FALSE(called_after_stop);
    EXPECT_TRUE(folder_empty(temp_));
    EXPECT_EQ(table_->view.sort_order, before.sort_order);
    EXPECT_EQ(table_->view.sort_fields, before.sort_fields);
  }
  SortOptions nowhere = sort_options(false, dir_.file("missing"), 24000);
  EXPECT_EQ(sort_by_field_list(*table_, "CITY", nowhere, nullptr), Status::kWriteError);
  EXPECT_EQ(table_->view.sort_order, before.sort_order);
}

}  // namespace
}  // namespace kora
