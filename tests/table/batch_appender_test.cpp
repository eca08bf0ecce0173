// The batch appender: many records appended in chunks into a filtered and
// sorted view, memo texts through the memo file held open, the encoding
// hook on the bytes written, and a run that stops or fails half-way leaving
// a table whose header counts exactly the whole records before the end mark.
// Results are read back by dbfread.
#include "table/batch_appender.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "support/dbf_builder.h"
#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/byte_order.h"
#include "table/record_ops.h"

namespace kora {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr int kRecordSize = 11;  // flag, NAME C(6), NUM N(4)
constexpr int kHeaderSize = 32 + 2 * 32 + 1;

Bytes image_of(int i) {
  char text[32];  // room for what two %d could print
  std::snprintf(text, sizeof text, " R%-5d%4d", i, i);
  return Bytes(text, text + kRecordSize);
}

std::string write_table(const TempDir& dir, int records, uint8_t version = 0x03) {
  test::DbfLayout layout;
  layout.version = version;
  layout.fields = {{"NAME", 'C', 6}, {"NUM", 'N', 4}};
  for (int i = 0; i < records; ++i) {
    Bytes image = image_of(i);
    layout.records.emplace_back(image.begin() + 1, image.end());
  }
  std::string path = dir.file("t.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  return path;
}

// dbfread's lines for records 0..n-1 as image_of makes them.
std::string dump_of(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += "['R" + std::to_string(i) + "', " + std::to_string(i) + "]\n";
  return out + "deleted 0\n";
}

// The file holds `count` whole records, counted by its header, then the end mark.
void expect_consistent(const std::string& path, uint32_t count) {
  Bytes file = test::read_bytes(path);
  ASSERT_EQ(file.size(), size_t(kHeaderSize) + size_t(count) * kRecordSize + 1);
  EXPECT_EQ(get_le32(&file[4]), count);
  EXPECT_EQ(file.back(), 0x1A);
}

TEST(BatchAppender, AppendsInChunksAndExtendsAFilteredSortedView) {
  TempDir dir;
  std::string path = write_table(dir, 10);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  RecordView view;
  view.visible_list = std::vector<uint32_t>{1, 3, 5, 7};
  view.sort_order = std::vector<uint32_t>{3, 0, 2, 1};
  ASSERT_EQ(install_record_view(*table, view), 1);
  Bytes current(table->record.begin(), table->record.end());
  {
    BatchAppender out(*table, 7 * kRecordSize + 2);  // 7 records a chunk
    for (int i = 10; i < 110; ++i) {
      Bytes image = image_of(i);
      ASSERT_EQ(out.append(image.data()), Status::kOk);
      EXPECT_EQ(image, image_of(i));
    }
    // Nothing is counted before the run finishes.
    EXPECT_EQ(table->record_count, 10u);
    EXPECT_EQ(out.finish(), Status::kOk);
    EXPECT_EQ(out.appended(), 100u);
  }
  EXPECT_EQ(table->record_count, 110u);
  expect_consistent(path, 110);
  EXPECT_EQ(test::dbfread_dump(path), dump_of(110));

  // The new records follow the view's own in view order.
  ASSERT_EQ(visible_count(*table), 104u);
  EXPECT_EQ(physical_record(*table, 0), 7u);
  EXPECT_EQ(physical_record(*table, 3), 3u);
  for (uint32_t p = 4; p < 104; ++p) EXPECT_EQ(physical_record(*table, p), p + 6) << p;
  EXPECT_TRUE(view_fits(table->view, table->record_count));
  EXPECT_EQ(Bytes(table->record.begin(), table->record.end()), current);
}

void xor_image(const Table&, uint8_t* record, int size) {
  for (int k = 0; k < size; ++k) record[k] ^= uint8_t(0x33 + k);
}

TEST(BatchAppender, EncodesTheBytesWrittenAndKeepsMemoTexts) {
  TempDir dir;
  std::string path = write_table(dir, 2);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  table->encoding.before_write = xor_image;
  {
    BatchAppender out(*table, 2 * kRecordSize);
    for (int i = 2; i < 7; ++i) ASSERT_EQ(out.append(image_of(i).data()), Status::kOk);
  }
  Bytes file = test::read_bytes(path);
  for (int i = 2; i < 7; ++i) {
    Bytes stored(file.begin() + kHeaderSize + i * kRecordSize, file.begin() + kHeaderSize + (i + 1) * kRecordSize);
    xor_image(*table, stored.data(), kRecordSize);
    EXPECT_EQ(stored, image_of(i)) << i;
  }
  expect_consistent(path, 7);

  // A dBase III table with a memo field: every text lands in the one memo
  // file the run keeps open.
  TempDir memo_dir;
  test::DbfLayout layout;
  layout.version = 0x83;
  layout.fields = {{"NAME", 'C', 6}, {"NOTES", 'M', 10}};
  std::string memo_path = memo_dir.file("m.dbf");
  test::write_bytes(memo_path, test::build_dbf(layout));
  ASSERT_TRUE(create_memo_file(memo_path, kDBase3, 0));
  auto memo_table = open_table(memo_path);
  ASSERT_TRUE(memo_table);
  {
    BatchAppender out(*memo_table, 3 * memo_table->record_size);
    for (int i = 0; i < 8; ++i) {
      Bytes image(memo_table->record_size, ' ');
      std::memcpy(&image[1], "N", 1);
      ASSERT_EQ(out.write_memo(image.data(), 1, "note " + std::to_string(i)), Status::kOk);
      ASSERT_EQ(out.append(image.data()), Status::kOk);
    }
  }
  std::string dump = test::dbfread_dump(memo_path);
  EXPECT_EQ(test::lines_of(dump).size(), 9u) << dump;
  EXPECT_NE(dump.find("['N', 'note 0']"), std::string::npos) << dump;
  EXPECT_NE(dump.find("['N', 'note 7']"), std::string::npos) << dump;
}

TEST(BatchAppender, ARunLeftEarlyOrReadOnlyLeavesAConsistentTable) {
  TempDir dir;
  std::string path = write_table(dir, 10);
  {
    auto table = open_table(path);
    ASSERT_TRUE(table);
    BatchAppender out(*table, 8 * kRecordSize);
    // Stopped after 53 records, 5 of them still gathered: the scope's end
    // writes them, the header and the end mark.
    for (int i = 10; i < 63; ++i) ASSERT_EQ(out.append(image_of(i).data()), Status::kOk);
  }
  expect_consistent(path, 63);
  EXPECT_EQ(test::dbfread_dump(path), dump_of(63));

  Bytes before = test::read_bytes(path);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  table->read_only = true;
  BatchAppender out(*table);
  EXPECT_EQ(out.append(image_of(63).data()), Status::kReadOnly);
  EXPECT_EQ(out.finish(), Status::kReadOnly);
  EXPECT_EQ(test::read_bytes(path), before);
}

// In a child limited to a file size that ends inside the 51st record.
int append_beyond_the_limit(const std::string& path) {
  signal(SIGXFSZ, SIG_IGN);
  rlim_t limit = kHeaderSize + 50 * kRecordSize + 5;
  struct rlimit fsize = {limit, limit};
  if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
  auto table = open_table(path);
  if (!table) return 3;
  BatchAppender out(*table, 8 * kRecordSize);
  Status first_failure = Status::kOk;
  for (int i = 10; i < 200 && first_failure == Status::kOk; ++i) first_failure = out.append(image_of(i).data());
  if (first_failure != Status::kWriteError) return 4;
  if (out.finish() != Status::kWriteError) return 5;
  return table->record_count == 50 ? 0 : 6;
}

TEST(BatchAppender, AFailedWriteKeepsTheWholeRecordsAndTheEndMark) {
  TempDir dir;
  std::string path = write_table(dir, 10);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(append_beyond_the_limit(path));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  expect_consistent(path, 50);
  EXPECT_EQ(test::dbfread_dump(path), dump_of(50));
  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->header_errors, 0);
}

}  // namespace
}  // namespace kora
