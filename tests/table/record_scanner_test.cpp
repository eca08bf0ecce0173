// The record scanner against the single-record path: every view shape and
// chunk size hands out the same (position, record, bytes) as physical_record
// and the file itself, the encoding hook is applied per record, progress
// comes once per chunk and can stop the walk, and the current record stays.
#include "table/record_scanner.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/record_ops.h"

namespace kora {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

// Records of 1 + 6 + 4 = 11 bytes: no chunk size is a multiple of it.
constexpr int kRecordSize = 11;
constexpr int kHeaderSize = 32 + 2 * 32 + 1;

std::string write_table(const TempDir& dir, int records) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 6}, {"NUM", 'N', 4}};
  for (int i = 0; i < records; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "R%-5d%4d", i, i % 10000);
    layout.records.push_back(text);
  }
  for (int i = 0; i < records; ++i) layout.deleted.push_back(i % 3 == 0);
  std::string path = dir.file("scan.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  return path;
}

std::vector<uint32_t> every_nth(uint32_t n, uint32_t step, uint32_t from) {
  std::vector<uint32_t> list;
  for (uint32_t q = from; q < n; q += step) list.push_back(q);
  return list;
}

// A permutation of 0..n-1 that jumps about, with some neighbours in a row.
std::vector<uint32_t> scrambled(uint32_t n) {
  std::vector<uint32_t> out;
  std::vector<bool> used(n);
  for (uint32_t p = 0; p < n; ++p) {
    uint32_t q = (p * 7 + p / 5) % n;
    if (!used[q]) out.push_back(q), used[q] = true;
  }
  for (uint32_t q = 0; q < n; ++q) {
    if (!used[q]) out.push_back(q);
  }
  return out;
}

void xor_image(const Table&, uint8_t* record, int, int size) {
  for (int k = 0; k < size; ++k) record[k] ^= uint8_t(0x5A + k);
}

struct ScanCase {
  const char* name;
  int records;
  std::optional<std::vector<uint32_t>> visible;
  bool sorted;
  bool reverse;
  ScanOrder order;
  size_t chunk_bytes;
  uint32_t first = 0;
  uint32_t end = kNoRecord;
  bool hooked = false;
  bool backward = false;
};

// What the scan should hand out, from the single-record mapping and the
// file's bytes.
struct Expected {
  uint32_t position;
  uint32_t record;
  Bytes image;
};

std::vector<Expected> expected_walk(const Table& table, const Bytes& file, const ScanCase& c) {
  std::vector<Expected> out;
  uint32_t count = c.order == ScanOrder::kPhysical ? table.record_count : visible_count(table);
  for (uint32_t p = c.first; p < std::min(c.end, count); ++p) {
    uint32_t q = p;
    if (c.order == ScanOrder::kView) q = physical_record(table, p);
    if (c.order == ScanOrder::kVisibleList && table.view.visible_list) q = (*table.view.visible_list)[p];
    size_t at = size_t(kHeaderSize) + size_t(q) * kRecordSize;
    Bytes image(file.begin() + long(at), file.begin() + long(at + kRecordSize));
    out.push_back({p, q, image});
  }
  if (c.backward) std::reverse(out.begin(), out.end());
  return out;
}

TEST(RecordScanner, WalksEveryViewShapeAsTheSingleRecordPathDoes) {
  const std::vector<ScanCase> cases = {
      {"all, one chunk", 40, std::nullopt, false, false, ScanOrder::kView, kScanChunkBytes},
      {"all, one record per chunk", 40, std::nullopt, false, false, ScanOrder::kView, 1},
      {"all, chunk splits a record", 40, std::nullopt, false, false, ScanOrder::kView, 3 * kRecordSize + 5},
      {"filtered, neighbours and gaps", 60, every_nth(60, 2, 1), false, false, ScanOrder::kView, 4 * kRecordSize},
      {"filtered, far apart", 6000, every_nth(6000, 3500, 7), false, false, ScanOrder::kView, kScanChunkBytes},
      {"sorted", 50, std::nullopt, true, false, ScanOrder::kView, 8 * kRecordSize + 1},
      {"reversed", 45, std::nullopt, false, true, ScanOrder::kView, 7 * kRecordSize},
      {"filtered, sorted, reversed", 70, every_nth(70, 3, 0), true, true, ScanOrder::kView, 5 * kRecordSize},
      {"visible list ignores sort and reverse", 70, every_nth(70, 3, 2), true, true, ScanOrder::kVisibleList, 64},
      {"physical ignores the list", 30, every_nth(30, 4, 0), true, true, ScanOrder::kPhysical, 64},
      {"empty table", 0, std::nullopt, false, false, ScanOrder::kView, kScanChunkBytes},
      {"empty visible list", 20, std::vector<uint32_t>{}, false, false, ScanOrder::kView, kScanChunkBytes},
      {"a range of the view", 40, std::nullopt, false, true, ScanOrder::kView, 2 * kRecordSize, 5, 17},
      {"a range past the end", 40, std::nullopt, false, false, ScanOrder::kView, 100, 38, 1000},
      {"encoding hook, reversed", 33, std::nullopt, false, true, ScanOrder::kView, 4 * kRecordSize, 0, kNoRecord,
       true},
      {"backward, one chunk", 40, std::nullopt, false, false, ScanOrder::kView, kScanChunkBytes, 0, kNoRecord,
       false, true},
      {"backward, filtered, sorted, reversed", 70, every_nth(70, 3, 0), true, true, ScanOrder::kView,
       5 * kRecordSize, 0, kNoRecord, false, true},
      {"backward over a range", 40, std::nullopt, false, false, ScanOrder::kView, 3 * kRecordSize + 5, 6, 29,
       false, true},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string path = write_table(dir, c.records);
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    RecordView view;
    view.visible_list = c.visible;
    if (c.sorted) view.sort_order = scrambled(view_record_count(view, table->record_count));
    view.reverse = c.reverse;
    ASSERT_EQ(install_record_view(*table, view), 1);
    if (c.hooked) table->encoding.after_read = xor_image;
    Bytes current(table->record.begin(), table->record.end());

    std::vector<Expected> expected = expected_walk(*table, test::read_bytes(path), c);
    if (c.hooked) {
      for (Expected& e : expected) xor_image(*table, e.image.data(), 1, kRecordSize);
    }
    RecordScanner scan(*table, c.order, {}, c.chunk_bytes);
    if (c.backward) scan.set_backward();
    if (c.first != 0 || c.end != kNoRecord) scan.set_range(c.first, c.end);
    EXPECT_EQ(scan.count(), expected.size());
    ScannedRecord r;
    size_t k = 0;
    while (scan.next(r)) {
      ASSERT_LT(k, expected.size());
      EXPECT_EQ(r.position, expected[k].position) << k;
      EXPECT_EQ(r.record, expected[k].record) << k;
      EXPECT_EQ(Bytes(r.image, r.image + kRecordSize), expected[k].image) << k;
      ++k;
    }
    EXPECT_EQ(k, expected.size());
    EXPECT_EQ(scan.status(), Status::kOk);
    EXPECT_EQ(Bytes(table->record.begin(), table->record.end()), current);
  }
}

TEST(RecordScanner, ReportsOncePerChunkAndStopsWhenAsked) {
  TempDir dir;
  std::unique_ptr<Table> table = open_table(write_table(dir, 100));
  ASSERT_TRUE(table);
  const size_t chunk = 9 * kRecordSize + 3;  // 9 records a chunk: 12 chunks

  std::vector<std::pair<uint64_t, uint64_t>> calls;
  {
    RecordScanner scan(*table, ScanOrder::kView, [&](uint64_t done, uint64_t total) {
      calls.emplace_back(done, total);
      return true;
    }, chunk);
    ScannedRecord r;
    while (scan.next(r)) {
    }
    EXPECT_EQ(scan.status(), Status::kOk);
  }
  ASSERT_EQ(calls.size(), 12u);
  for (size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].first, std::min<uint64_t>(100, 9 * (k + 1)));
    EXPECT_EQ(calls[k].second, 100u);
  }

  // Backwards the calls count the same way, from the end of the range.
  calls.clear();
  {
    RecordScanner scan(*table, ScanOrder::kView, [&](uint64_t done, uint64_t total) {
      calls.emplace_back(done, total);
      return true;
    }, chunk);
    scan.set_backward();
    scan.set_range(0, 20);
    ScannedRecord r;
    std::vector<uint32_t> positions;
    while (scan.next(r)) positions.push_back(r.position);
    ASSERT_EQ(positions.size(), 20u);
    EXPECT_EQ(positions.front(), 19u);
    EXPECT_EQ(positions.back(), 0u);
  }
  EXPECT_EQ(calls, (std::vector<std::pair<uint64_t, uint64_t>>{{9, 20}, {18, 20}, {20, 20}}));

  // Asked to stop at the third chunk: the records of two chunks came out.
  int seen_calls = 0;
  RecordScanner scan(*table, ScanOrder::kView, [&](uint64_t, uint64_t) { return ++seen_calls < 3; }, chunk);
  ScannedRecord r;
  uint32_t served = 0;
  while (scan.next(r)) ++served;
  EXPECT_EQ(served, 18u);
  EXPECT_EQ(scan.status(), Status::kAborted);
  EXPECT_FALSE(scan.next(r));
  EXPECT_EQ(seen_calls, 3);
}

TEST(RecordScanner, AFileCutShortIsAReadError) {
  TempDir dir;
  std::string path = write_table(dir, 50);
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  // Cut behind the engine's back, after the open counted 50 records.
  ASSERT_EQ(truncate(path.c_str(), kHeaderSize + 30 * kRecordSize), 0);
  RecordScanner scan(*table, ScanOrder::kView, {}, 8 * kRecordSize);
  ScannedRecord r;
  uint32_t served = 0;
  while (scan.next(r)) ++served;
  EXPECT_EQ(served, 24u);  // three whole chunks; the fourth is cut
  EXPECT_EQ(scan.status(), Status::kReadError);

  // A sorted view reads from a map of the file: pages lost when another
  // program shortens it are a read error too, never the end of the program.
  std::string big = write_table(dir, 4000);
  std::unique_ptr<Table> sorted = open_table(big);
  ASSERT_TRUE(sorted);
  std::vector<uint32_t> order(4000);
  std::iota(order.rbegin(), order.rend(), 0u);
  sorted->view.sort_order = order;
  RecordScanner mapped(*sorted, ScanOrder::kView, {}, 8 * kRecordSize);
  ASSERT_EQ(truncate(big.c_str(), kHeaderSize + 10 * kRecordSize), 0);
  served = 0;
  while (mapped.next(r)) ++served;
  EXPECT_EQ(served, 0u);
  EXPECT_EQ(mapped.status(), Status::kReadError);
}

}  // namespace
}  // namespace kora
