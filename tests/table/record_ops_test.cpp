// Record storage: the view mapping, record, field and flag access, marks,
// append, insert, remove, truncate, zap, pack with the memo rebuild, and the
// backup copy; results are checked byte for byte and with independent readers
// (dbfread and GDAL's ogr2ogr).
#include "table/record_ops.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "support/independent_readers.h"
#include "support/test_support.h"
#include "table/byte_order.h"
#include "table/memo_file.h"
#include "table/table_cipher.h"
#include "table/value_codec.h"

namespace kora {
namespace {

using test::dbfread_dump;
using test::file_exists;
using test::gdal_csv;
using test::lines_of;
using test::file_size;
using test::read_bytes;
using test::TempDir;
using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Tables built by the tests: dBase III, a NAME C(name_length) and a NUM N(6)
// field, record i holding "R<i>" and i.

constexpr int kHeaderSize = 32 + 2 * 32 + 1;

std::string name_of(int i) { return std::string("R").append(std::to_string(i)); }

Bytes record_image(int name_length, const std::string& name, int num, char flag = ' ') {
  Bytes rec(size_t(1 + name_length + 6), ' ');
  rec[0] = uint8_t(flag);
  std::memcpy(&rec[1], name.data(), std::min(name.size(), size_t(name_length)));
  char digits[16];
  std::snprintf(digits, sizeof digits, "%6d", num);
  std::memcpy(&rec[size_t(1 + name_length)], digits, 6);
  return rec;
}

// The table file for the given (name, number) rows, written without the engine.
Bytes table_image(int name_length, const std::vector<std::pair<std::string, int>>& rows) {
  Bytes out(kHeaderSize, 0);
  out[0] = 0x03;
  out[1] = 124;
  out[2] = 1;
  out[3] = 1;
  put_le32(&out[4], uint32_t(rows.size()));
  put_le16(&out[8], kHeaderSize);
  put_le16(&out[10], uint16_t(1 + name_length + 6));
  auto field = [&](int at, const char* name, char type, int length) {
    std::memcpy(&out[size_t(at)], name, std::strlen(name));
    out[size_t(at + 11)] = uint8_t(type);
    out[size_t(at + 16)] = uint8_t(length);
  };
  field(32, "NAME", 'C', name_length);
  field(64, "NUM", 'N', 6);
  out[96] = 0x0D;
  for (const auto& [name, num] : rows) {
    Bytes rec = record_image(name_length, name, num);
    out.insert(out.end(), rec.begin(), rec.end());
  }
  out.push_back(0x1A);
  return out;
}

std::vector<std::pair<std::string, int>> numbered_rows(int count) {
  std::vector<std::pair<std::string, int>> rows;
  for (int i = 0; i < count; ++i) rows.emplace_back(name_of(i), i);
  return rows;
}

std::string make_table(const TempDir& dir, const std::string& file, int count, int name_length = 10) {
  std::string path = dir.file(file);
  test::write_bytes(path, table_image(name_length, numbered_rows(count)));
  return path;
}

std::unique_ptr<Table> must_open(const std::string& path) {
  auto table = open_table(path);
  EXPECT_TRUE(table) << path;
  return table;
}

Bytes file_record(const std::string& path, int q) {
  Bytes all = read_bytes(path);
  uint16_t header = get_le16(&all[8]), size = get_le16(&all[10]);
  size_t at = size_t(header) + size_t(q) * size;
  if (at + size > all.size()) return {};
  return Bytes(all.begin() + long(at), all.begin() + long(at + size));
}

Bytes record_buffer(const Table& table) {
  return Bytes(table.record.begin(), table.record.begin() + table.record_size);
}

std::string field_text_of(const Table& table, int i) {
  const FieldDesc& f = table.fields[size_t(i)];
  return std::string(reinterpret_cast<const char*>(&table.record[f.offset]), size_t(field_length(table, i)));
}

// Replaces the table's descriptor with one open for reading only, so that
// any write attempt fails: a way to prove that an operation writes nothing.
void reopen_read_only(Table& table) {
  int fd = open(table.file_name.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  close(table.fd);
  table.fd = fd;
}

// ---------------------------------------------------------------------------
// Independent readers.

// Both readers see the table at `path` exactly as the table that holds `rows`
// written without the engine.
void expect_readers_see(const std::string& path, int name_length, const std::vector<std::pair<std::string, int>>& rows) {
  TempDir dir;
  std::string reference = dir.file("reference.dbf");
  test::write_bytes(reference, table_image(name_length, rows));
  std::string ours = dbfread_dump(path);
  EXPECT_EQ(ours, dbfread_dump(reference));
  EXPECT_EQ(lines_of(ours).size(), rows.size() + 1);
  std::string csv = gdal_csv(path);
  EXPECT_EQ(csv, gdal_csv(reference));
  EXPECT_EQ(lines_of(csv).size(), rows.size() + 1);
  // Header count and the end-of-file byte right after the last record.
  Bytes bytes = read_bytes(path);
  ASSERT_GE(bytes.size(), size_t(kHeaderSize));
  EXPECT_EQ(get_le32(&bytes[4]), rows.size());
  EXPECT_EQ(bytes.size(), size_t(kHeaderSize) + rows.size() * size_t(1 + name_length + 6) + 1);
  EXPECT_EQ(bytes.back(), 0x1A);
}

// ---------------------------------------------------------------------------
// The view mapping.

TEST(RecordOpsView, ReverseOnTenRecordsMapsFirstToLast) {
  TempDir dir;
  auto table = must_open(make_table(dir, "t.dbf", 10));
  table->view.reverse = true;
  EXPECT_EQ(visible_count(*table), 10u);
  EXPECT_EQ(physical_record(*table, 0), 9u);
  EXPECT_EQ(physical_record(*table, 9), 0u);
  EXPECT_EQ(physical_record(*table, 10), kNoRecord);
  ASSERT_EQ(read_record(*table, 0), 1);
  EXPECT_EQ(record_buffer(*table), record_image(10, name_of(9), 9));
}

TEST(RecordOpsView, FilterThenSortThenReverse) {
  TempDir dir;
  auto table = must_open(make_table(dir, "t.dbf", 10));
  table->view.visible_list = std::vector<uint32_t>{2, 5, 7};
  table->view.sort_order = std::vector<uint32_t>{2, 1, 0};  // descending on NUM
  EXPECT_EQ(visible_count(*table), 3u);
  EXPECT_EQ(physical_record(*table, 0), 7u);
  EXPECT_EQ(physical_record(*table, 1), 5u);
  EXPECT_EQ(physical_record(*table, 2), 2u);
  EXPECT_EQ(physical_record(*table, 3), kNoRecord);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(record_buffer(*table), record_image(10, name_of(5), 5));
  table->view.reverse = true;
  EXPECT_EQ(physical_record(*table, 0), 2u);
  // With the mapping off, positions are taken through the sort order only.
  table->view.reverse = false;
  table->view_mapping = 0;
  EXPECT_EQ(physical_record(*table, 0), 2u);
}

// A view a tool builds is installed only when its lists fit the table.
TEST(RecordOpsView, InstalledViewsMustFitTheTable) {
  TempDir dir;
  auto table = must_open(make_table(dir, "t.dbf", 5));
  using List = std::optional<std::vector<uint32_t>>;
  struct Case {
    const char* what;
    List visible, sort;
    int installed;
  };
  const Case cases[] = {
      {"filter", std::vector<uint32_t>{0, 3, 4}, std::nullopt, 1},
      {"filter then sort", std::vector<uint32_t>{1, 2}, std::vector<uint32_t>{1, 0}, 1},
      {"sort of all", std::nullopt, std::vector<uint32_t>{4, 3, 2, 1, 0}, 1},
      {"empty filter", std::vector<uint32_t>{}, std::nullopt, 1},
      {"record past the end", std::vector<uint32_t>{1, 5}, std::nullopt, 0},
      {"filter not ascending", std::vector<uint32_t>{3, 1}, std::nullopt, 0},
      {"filter repeats", std::vector<uint32_t>{1, 1}, std::nullopt, 0},
      {"sort shorter than the view", std::nullopt, std::vector<uint32_t>{0, 1}, 0},
      {"sort repeats", std::vector<uint32_t>{1, 2}, std::vector<uint32_t>{1, 1}, 0},
      {"sort past the view", std::vector<uint32_t>{1, 2}, std::vector<uint32_t>{0, 2}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordView before;
    before.reverse = true;
    table->view = before;
    RecordView view;
    view.visible_list = c.visible;
    view.sort_order = c.sort;
    view.filter_expr = "NUM>0";
    EXPECT_EQ(install_record_view(*table, view), c.installed);
    EXPECT_EQ(table->view.filter_expr, c.installed ? "NUM>0" : "");
    EXPECT_EQ(table->view.reverse, !c.installed);
  }
  // Appending keeps an installed view: the new record joins it at the end.
  RecordView view;
  view.visible_list = std::vector<uint32_t>{1, 3};
  view.sort_order = std::vector<uint32_t>{1, 0};
  ASSERT_EQ(install_record_view(*table, view), 1);
  ASSERT_EQ(append_record(*table, true), 1);
  EXPECT_EQ(visible_count(*table), 3u);
  EXPECT_EQ(physical_record(*table, 0), 3u);
  EXPECT_EQ(physical_record(*table, 2), 5u);
}

TEST(RecordOpsView, PositionsOutsideTheViewFailWithoutTouchingRecord) {
  TempDir dir;
  auto table = must_open(make_table(dir, "t.dbf", 4));
  Bytes before = record_buffer(*table);
  EXPECT_EQ(read_record(*table, 4), 0);
  EXPECT_EQ(read_record(*table, kNoRecord), 0);
  EXPECT_EQ(write_record(*table, 4), 0);
  EXPECT_EQ(read_field(*table, 4, 0), 0);
  EXPECT_EQ(read_field(*table, 0, 2), 0);  // no such field
  EXPECT_EQ(read_delete_flag(*table, 7), 0);
  // A filter or sort order naming records that are not there.
  table->view.visible_list = std::vector<uint32_t>{1, 40};
  EXPECT_EQ(physical_record(*table, 1), kNoRecord);
  EXPECT_EQ(read_record(*table, 1), 0);
  table->view.visible_list.reset();
  table->view.sort_order = std::vector<uint32_t>{0, 1};  // shorter than the view
  EXPECT_EQ(physical_record(*table, 3), kNoRecord);
  EXPECT_EQ(record_buffer(*table), before);
  // Writing past the slot after the last record is refused.
  EXPECT_EQ(write_record_at(*table, 5), 0);
  EXPECT_EQ(file_size(table->file_name), long(kHeaderSize + 4 * 17 + 1));
}

// ---------------------------------------------------------------------------
// Records, fields and flags.

// Tools, All: every record in view gets its mark at once, written as the
// file stores marks (enciphered under a password); other records and every
// other byte stay as they were, and the single-record path reads the same.
TEST(RecordOpsMarks, AllMarksOfTheViewChangeAtOnceUnderAPasswordToo) {
  for (bool password : {false, true}) {
    SCOPED_TRACE(password ? "password" : "plain");
    TempDir dir;
    std::string path = make_table(dir, "t.dbf", 2000);
    std::unique_ptr<Table> t = must_open(path);
    if (password) {
      ASSERT_EQ(rewrite_enciphered(*t, "pw"), Status::kOk);
      close_table(t);
      t = must_open(path);
      set_table_password(*t, "pw");
    }
    ASSERT_EQ(mark_deleted(*t, 5), 1);
    // The view: every third record, sorted from the last down.
    std::vector<uint32_t> list;
    for (uint32_t q = 0; q < 2000; q += 3) list.push_back(q);
    t->view.visible_list = list;
    t->view.sort_order = std::vector<uint32_t>(list.rbegin(), list.rend());
    Bytes before = read_bytes(path);
    uint64_t changed = 0;
    ASSERT_EQ(change_all_marks(*t, MarkChange::kInvert, {}, &changed), Status::kOk);
    EXPECT_EQ(changed, list.size());
    ASSERT_EQ(change_all_marks(*t, MarkChange::kDelete, {}, &changed), Status::kOk);
    EXPECT_EQ(changed, 0u);
    ASSERT_EQ(change_all_marks(*t, MarkChange::kRecall, {}, &changed), Status::kOk);
    EXPECT_EQ(changed, list.size());
    ASSERT_EQ(change_all_marks(*t, MarkChange::kInvert, {}, &changed), Status::kOk);
    t->view = RecordView{};
    for (uint32_t q = 0; q < 2000; ++q) {
      ASSERT_EQ(read_delete_flag(*t, q), 1);
      bool in_view = q % 3 == 0;
      EXPECT_EQ(t->delete_flag == '*', in_view || q == 5) << q;
    }
    // Only the marks moved: the bytes of every record but its mark are kept.
    Bytes after = read_bytes(path);
    // A rewrite of a range of the view changes those records only, and the
    // single-record path reads the change back through the password.
    t->view.visible_list = list;
    ASSERT_EQ(rewrite_records(*t, 10, 19, [](Table& r) { blank_field(r, 1); }, {}), Status::kOk);
    t->view = RecordView{};
    for (uint32_t q = 0; q < 90; ++q) {
      ASSERT_EQ(read_record(*t, q), 1);
      bool blanked = q % 3 == 0 && q / 3 >= 10 && q / 3 <= 19;
      EXPECT_EQ(field_text_of(*t, 1).find_first_not_of(' ') == std::string::npos, blanked) << q;
      EXPECT_EQ(field_text_of(*t, 0).substr(0, name_of(int(q)).size()), name_of(int(q))) << q;
    }
    ASSERT_EQ(after.size(), before.size());
    size_t record_size = size_t(t->record_size);
    for (size_t at = kHeaderSize; at < after.size() - 1; ++at) {
      if ((at - kHeaderSize) % record_size == 0) continue;
      ASSERT_EQ(after[at], before[at]) << at;
    }
  }
}

TEST(RecordOpsIo, WriteRecordChangesOnlyItsRecord) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 5);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  Bytes image = record_image(10, "CHANGED", 77);
  std::copy(image.begin(), image.end(), table->record.begin());
  table->view.reverse = true;
  ASSERT_EQ(write_record(*table, 1), 1);  // physical 3
  Bytes after = read_bytes(path);
  ASSERT_EQ(after.size(), before.size());
  size_t at = kHeaderSize + 3 * 17;
  std::copy(image.begin(), image.end(), before.begin() + long(at));
  EXPECT_EQ(after, before);
  table->view.reverse = false;
  ASSERT_EQ(read_record(*table, 3), 1);
  EXPECT_EQ(record_buffer(*table), image);
}

TEST(RecordOpsIo, FieldAccessTouchesOnlyThatField) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 3);
  auto table = must_open(path);
  ASSERT_EQ(read_record(*table, 0), 1);
  ASSERT_EQ(read_field(*table, 2, 1), 1);  // NUM of record 2 into record 0's image
  EXPECT_EQ(field_text_of(*table, 0), "R0        ");
  EXPECT_EQ(field_text_of(*table, 1), "     2");
  std::memcpy(&table->record[1], "NEWNAME   ", 10);
  std::memcpy(&table->record[11], "   999", 6);
  ASSERT_EQ(write_field(*table, 1, 0), 1);  // only NAME of record 1
  EXPECT_EQ(file_record(path, 1), record_image(10, "NEWNAME", 1));
  EXPECT_EQ(file_record(path, 0), record_image(10, name_of(0), 0));
}

TEST(RecordOpsIo, ReadOnlyTableFailsAtTheFirstWrite) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 3);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  reopen_read_only(*table);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(write_record(*table, 1), 0);
  EXPECT_EQ(write_field(*table, 1, 0), 0);
  EXPECT_EQ(mark_deleted(*table, 1), 0);
  EXPECT_EQ(toggle_deleted(*table, 1), 0);
  EXPECT_EQ(append_record(*table, true), 0);
  EXPECT_EQ(table->record_count, 3u);
  EXPECT_EQ(insert_record(*table, 0, true), 0);
  EXPECT_EQ(remove_record(*table, 0), 0);
  EXPECT_EQ(truncate_table(*table, 1), 0);
  EXPECT_EQ(table->record_count, 3u);
  EXPECT_EQ(read_bytes(path), before);
  // The flag the engine keeps from the open says the same.
  table->read_only = true;
  EXPECT_EQ(zap_table(*table), 0);
  EXPECT_EQ(read_bytes(path), before);
}

// A position-wise transform standing in for the password cipher.
void xor_record(const Table&, uint8_t* record, int, int size) {
  for (int k = 0; k < size; ++k) record[k] ^= uint8_t(0x55 + k);
}
void xor_record_before_write(const Table& table, uint8_t* record, int size) { xor_record(table, record, 1, size); }
void xor_flag(Table& table, int) { table.delete_flag ^= 0x55; }
void xor_flag_before_write(Table& table) { table.delete_flag ^= 0x55; }

TEST(RecordOpsIo, EncodingHooksWrapEveryAccess) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 3);
  auto table = must_open(path);
  table->encoding = {xor_record, xor_record_before_write, xor_flag, xor_flag_before_write};
  Bytes plain = record_image(10, "SECRET", 42);
  std::copy(plain.begin(), plain.end(), table->record.begin());
  ASSERT_EQ(write_record(*table, 1), 1);
  EXPECT_EQ(record_buffer(*table), plain);  // Record stays readable after the write
  Bytes stored = file_record(path, 1);
  Bytes expected = plain;
  for (size_t k = 0; k < expected.size(); ++k) expected[k] ^= uint8_t(0x55 + k);
  EXPECT_EQ(stored, expected);
  std::fill(table->record.begin(), table->record.begin() + 17, 0);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(record_buffer(*table), plain);

  // A single field is deciphered in place; the rest of Record is kept.
  Bytes other = record_image(10, "OTHER", 5);
  std::copy(other.begin(), other.end(), table->record.begin());
  ASSERT_EQ(read_field(*table, 1, 1), 1);
  EXPECT_EQ(field_text_of(*table, 0), "OTHER     ");
  EXPECT_EQ(field_text_of(*table, 1), "    42");
  std::memcpy(&table->record[11], "    43", 6);
  ASSERT_EQ(write_field(*table, 1, 1), 1);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(record_buffer(*table), record_image(10, "SECRET", 43));

  // The flag goes through its own hooks.
  ASSERT_EQ(mark_deleted(*table, 1), 1);
  EXPECT_EQ(file_record(path, 1)[0], uint8_t('*' ^ 0x55));
  ASSERT_EQ(read_delete_flag(*table, 1), 1);
  EXPECT_EQ(table->delete_flag, '*');
}

// ---------------------------------------------------------------------------
// Marks.

int flag_writes = 0;
void count_flag_write(Table&) { ++flag_writes; }

TEST(RecordOpsMarks, MarkRecallAndToggleFollowTheFlag) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 4);
  auto table = must_open(path);
  table->encoding.before_write_flag = count_flag_write;
  flag_writes = 0;
  ASSERT_EQ(mark_deleted(*table, 1), 1);
  EXPECT_EQ(file_record(path, 1)[0], '*');
  EXPECT_EQ(flag_writes, 1);
  // Already deleted: success, nothing written.
  EXPECT_EQ(mark_deleted(*table, 1), 1);
  EXPECT_EQ(flag_writes, 1);
  // Not deleted: recall succeeds without a write.
  EXPECT_EQ(recall_record(*table, 2), 1);
  EXPECT_EQ(flag_writes, 1);
  ASSERT_EQ(recall_record(*table, 1), 1);
  EXPECT_EQ(file_record(path, 1)[0], ' ');
  EXPECT_EQ(flag_writes, 2);

  ASSERT_EQ(toggle_deleted(*table, 3), 1);
  EXPECT_EQ(file_record(path, 3)[0], '*');
  ASSERT_EQ(toggle_deleted(*table, 3), 1);
  EXPECT_EQ(file_record(path, 3)[0], ' ');
  // A flag byte that is neither a space nor '*' counts as live.
  test::write_bytes(path, [&] {
    Bytes b = read_bytes(path);
    b[kHeaderSize + 2 * 17] = 'X';
    return b;
  }());
  ASSERT_EQ(toggle_deleted(*table, 2), 1);
  EXPECT_EQ(file_record(path, 2)[0], '*');

  // A flag that cannot be read is a failure, not "already done".
  flag_writes = 0;
  EXPECT_EQ(mark_deleted(*table, 4), 0);
  EXPECT_EQ(recall_record(*table, 4), 0);
  EXPECT_EQ(toggle_deleted(*table, 4), 0);
  EXPECT_EQ(flag_writes, 0);
  // Other bytes of the records are untouched.
  Bytes stored = file_record(path, 2), expected = record_image(10, name_of(2), 2);
  EXPECT_TRUE(std::equal(stored.begin() + 1, stored.end(), expected.begin() + 1));
}

// ---------------------------------------------------------------------------
// Append and insert.

TEST(RecordOpsAppend, BlankAndCopiedRecordsGoToTheEnd) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 3);
  auto table = must_open(path);
  ASSERT_EQ(read_record(*table, 1), 1);
  ASSERT_EQ(append_record(*table, false), 1);  // a copy of record 1
  ASSERT_EQ(append_record(*table, true), 1);
  EXPECT_EQ(table->record_count, 5u);
  EXPECT_EQ(file_record(path, 4), Bytes(17, ' '));
  auto rows = numbered_rows(3);
  rows.emplace_back(name_of(1), 1);
  TempDir ref;
  // The blank record: NAME and NUM all spaces.
  std::string blank_ref = ref.file("blank.dbf");
  Bytes image = table_image(10, rows);
  image.pop_back();
  Bytes blank(17, ' ');
  image.insert(image.end(), blank.begin(), blank.end());
  image.push_back(0x1A);
  put_le32(&image[4], 5);
  test::write_bytes(blank_ref, image);
  EXPECT_EQ(dbfread_dump(path), dbfread_dump(blank_ref));
  EXPECT_EQ(gdal_csv(path), gdal_csv(blank_ref));
  EXPECT_EQ(read_bytes(path).size(), image.size());
}

TEST(RecordOpsAppend, WithFilterAndSortTheNewRecordEndsTheView) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 10);
  auto table = must_open(path);
  table->view.visible_list = std::vector<uint32_t>{2, 5, 7};
  table->view.sort_order = std::vector<uint32_t>{2, 1, 0};
  Bytes image = record_image(10, "NOMATCH", 500);
  std::copy(image.begin(), image.end(), table->record.begin());
  ASSERT_EQ(append_record(*table, false), 1);
  EXPECT_EQ(*table->view.visible_list, (std::vector<uint32_t>{2, 5, 7, 10}));
  EXPECT_EQ(*table->view.sort_order, (std::vector<uint32_t>{2, 1, 0, 3}));
  EXPECT_EQ(visible_count(*table), 4u);
  EXPECT_EQ(physical_record(*table, 3), 10u);
  ASSERT_EQ(read_record(*table, 3), 1);
  EXPECT_EQ(record_buffer(*table), image);
  EXPECT_EQ(get_le32(&read_bytes(path)[4]), 11u);
  auto rows = numbered_rows(10);
  rows.emplace_back("NOMATCH", 500);
  expect_readers_see(path, 10, rows);
}

TEST(RecordOpsAppend, ReversedViewStillAppendsAtThePhysicalEnd) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 4);
  auto table = must_open(path);
  table->view.reverse = true;
  Bytes image = record_image(10, "LAST", 4);
  std::copy(image.begin(), image.end(), table->record.begin());
  ASSERT_EQ(append_record(*table, false), 1);
  EXPECT_EQ(physical_record(*table, 0), 4u);
  auto rows = numbered_rows(4);
  rows.emplace_back("LAST", 4);
  expect_readers_see(path, 10, rows);
}

TEST(RecordOpsInsert, AtZeroShiftsManyChunksIntact) {
  TempDir dir;
  // 9000 records of 127 bytes: about 8.7 move chunks, whose borders fall
  // inside records.
  constexpr int kCount = 9000, kNameLength = 120;
  std::string path = make_table(dir, "big.dbf", kCount, kNameLength);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  ASSERT_EQ(insert_record(*table, 0, true), 1);
  EXPECT_EQ(table->record_count, uint32_t(kCount + 1));
  Bytes after = read_bytes(path);
  ASSERT_EQ(after.size(), before.size() + 127);
  // Header: only the date and the count differ.
  EXPECT_EQ(get_le32(&after[4]), uint32_t(kCount + 1));
  EXPECT_TRUE(std::equal(before.begin() + 8, before.begin() + kHeaderSize, after.begin() + 8));
  EXPECT_EQ(Bytes(after.begin() + kHeaderSize, after.begin() + kHeaderSize + 127), Bytes(127, ' '));
  EXPECT_TRUE(std::equal(before.begin() + kHeaderSize, before.end(), after.begin() + kHeaderSize + 127));

  auto rows = numbered_rows(kCount);
  rows.insert(rows.begin(), {"", 0});
  // The blank row reads as an empty name and no number; build the reference
  // from the file's own blank record rather than from a number.
  TempDir ref;
  Bytes image = table_image(kNameLength, rows);
  std::fill(image.begin() + kHeaderSize, image.begin() + kHeaderSize + 127, ' ');
  put_le32(&image[4], kCount + 1);
  test::write_bytes(ref.file("ref.dbf"), image);
  EXPECT_EQ(dbfread_dump(path), dbfread_dump(ref.file("ref.dbf")));
  EXPECT_EQ(gdal_csv(path), gdal_csv(ref.file("ref.dbf")));
}

TEST(RecordOpsInsert, DuplicateInMiddleAtEndAndReversed) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 6);
  auto table = must_open(path);
  ASSERT_EQ(read_record(*table, 3), 1);
  ASSERT_EQ(insert_record(*table, 3, false), 1);  // duplicates record 3
  auto rows = numbered_rows(6);
  rows.insert(rows.begin() + 3, {name_of(3), 3});
  expect_readers_see(path, 10, rows);

  Bytes image = record_image(10, "TAIL", 99);
  std::copy(image.begin(), image.end(), table->record.begin());
  ASSERT_EQ(insert_record(*table, 7, false), 1);  // after the last record
  rows.emplace_back("TAIL", 99);
  expect_readers_see(path, 10, rows);
  EXPECT_EQ(insert_record(*table, 9, false), 0);  // beyond the end

  // Reversed: view position 0 is the last record; the new one goes there.
  table->view.reverse = true;
  image = record_image(10, "REV", 7);
  std::copy(image.begin(), image.end(), table->record.begin());
  ASSERT_EQ(insert_record(*table, 0, false), 1);
  rows.insert(rows.end() - 1, {"REV", 7});
  expect_readers_see(path, 10, rows);
}

TEST(RecordOpsInsert, RefusedWithFilterOrSort) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 6);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  table->view.visible_list = std::vector<uint32_t>{1, 4};
  EXPECT_EQ(insert_record(*table, 0, true), 0);
  table->view.visible_list.reset();
  table->view.sort_order = std::vector<uint32_t>{5, 4, 3, 2, 1, 0};
  EXPECT_EQ(insert_record(*table, 0, true), 0);
  EXPECT_EQ(read_bytes(path), before);
}

// ---------------------------------------------------------------------------
// Remove, truncate, zap.

TEST(RecordOpsRemove, FirstMiddleAndLastRecords) {
  TempDir dir;
  constexpr int kCount = 3000, kNameLength = 120;  // about 2.9 move chunks
  std::string path = make_table(dir, "t.dbf", kCount, kNameLength);
  auto table = must_open(path);
  auto rows = numbered_rows(kCount);
  ASSERT_EQ(remove_record(*table, 0), 1);
  rows.erase(rows.begin());
  ASSERT_EQ(remove_record(*table, 1500), 1);
  rows.erase(rows.begin() + 1500);
  ASSERT_EQ(remove_record(*table, uint32_t(rows.size() - 1)), 1);
  rows.pop_back();
  EXPECT_EQ(table->record_count, rows.size());
  expect_readers_see(path, kNameLength, rows);
  EXPECT_EQ(remove_record(*table, uint32_t(rows.size())), 0);
}

TEST(RecordOpsRemove, RefusalsLeaveTheFileAlone) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 10);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  table->view.visible_list = std::vector<uint32_t>{2, 5};
  EXPECT_EQ(remove_record(*table, 0), 0);
  EXPECT_EQ(truncate_table(*table, 5), 0);
  EXPECT_EQ(zap_table(*table), 0);
  EXPECT_EQ(pack_table(*table, 1), 0);
  table->view.visible_list.reset();
  table->view.sort_order = std::vector<uint32_t>{1, 0};
  EXPECT_EQ(remove_record(*table, 0), 0);
  EXPECT_EQ(truncate_table(*table, 5), 0);
  EXPECT_EQ(pack_table(*table, 0), 0);
  table->view.sort_order.reset();
  table->view.reverse = true;
  EXPECT_EQ(remove_record(*table, 0), 0);
  EXPECT_EQ(truncate_table(*table, 5), 0);
  table->view.reverse = false;
  EXPECT_EQ(truncate_table(*table, 11), 0);  // more than there are
  EXPECT_EQ(table->record_count, 10u);
  EXPECT_EQ(read_bytes(path), before);
}

// The file lost records from outside since it was opened: removing one must
// not move part of the records and then stop, which would duplicate one.
TEST(RecordOpsRemove, FileShorterThanItsCountIsLeftAlone) {
  TempDir dir;
  constexpr int kCount = 3000, kNameLength = 120;  // about 2.9 move chunks
  std::string path = make_table(dir, "t.dbf", kCount, kNameLength);
  auto table = must_open(path);
  ASSERT_EQ(truncate(path.c_str(), kHeaderSize + 2500L * (1 + kNameLength + 6)), 0);
  Bytes before = read_bytes(path);
  EXPECT_EQ(remove_record(*table, 0), 0);
  EXPECT_EQ(read_bytes(path), before);
  EXPECT_EQ(table->record_count, uint32_t(kCount));
}

TEST(RecordOpsTruncate, FiveOfTenThenZap) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 10);
  auto table = must_open(path);
  ASSERT_EQ(truncate_table(*table, 5), 1);
  EXPECT_EQ(file_size(path), long(kHeaderSize + 5 * 17 + 1));
  expect_readers_see(path, 10, numbered_rows(5));
  ASSERT_EQ(zap_table(*table), 1);
  EXPECT_EQ(table->record_count, 0u);
  EXPECT_EQ(file_size(path), long(kHeaderSize + 1));
  expect_readers_see(path, 10, {});
  // An empty table takes records again.
  ASSERT_EQ(append_record(*table, false), 1);
  EXPECT_EQ(table->record_count, 1u);
}

// ---------------------------------------------------------------------------
// Pack.

TEST(RecordOpsPack, NothingDeletedWritesNothing) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 8);
  Bytes before = read_bytes(path);
  auto table = must_open(path);
  reopen_read_only(*table);  // any write would fail the pack
  EXPECT_EQ(pack_table(*table, 1), 1);
  EXPECT_EQ(read_bytes(path), before);
}

// Pack makes a new file renamed in place: a table reached through a link
// is replaced where it lies, and the link stays a link.
TEST(RecordOpsPack, ATableReachedThroughALinkStaysLinked) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 8);
  std::string link = dir.file("link.dbf");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  auto table = must_open(link);
  ASSERT_EQ(mark_deleted(*table, 2), 1);
  EXPECT_EQ(pack_table(*table, 1), 1);
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(table->record_count, 7u);
  EXPECT_EQ(must_open(path)->record_count, 7u);
}

TEST(RecordOpsPack, TableOnlyKeepsOrderAndRestoresTheView) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 8);
  auto table = must_open(path);
  table->view.reverse = true;
  ASSERT_EQ(mark_deleted(*table, 0), 1);  // physical 7
  ASSERT_EQ(mark_deleted(*table, 7), 1);  // physical 0
  ASSERT_EQ(mark_deleted(*table, 3), 1);  // physical 4
  ASSERT_EQ(pack_table(*table, 1), 1);
  EXPECT_TRUE(table->view.reverse);
  EXPECT_EQ(table->view_mapping, 1);
  expect_readers_see(path, 10, {{"R1", 1}, {"R2", 2}, {"R3", 3}, {"R5", 5}, {"R6", 6}});
}

struct MemoCase {
  const char* table;
  const char* memo;
  const char* old_memo;  // the '~' name
  bool gdal;             // dBase III: GDAL reads it too
};

const MemoCase kMemoCases[] = {
    {"infused-dbf/dbase_83.dbf", "dbase_83.dbt", "dbase_83.~bt", true},
    {"infused-dbf/dbase_8b.dbf", "dbase_8b.dbt", "dbase_8b.~bt", false},
    {"infused-dbf/dbase_f5.dbf", "dbase_f5.fpt", "dbase_f5.~pt", false},
};

std::string non_memo_fields(const Table& table) {
  std::string list;
  for (int k = 0; k < table.field_count(); ++k) {
    if (is_memo_field(table, k)) continue;
    if (!list.empty()) list += ',';
    list += field_name(table, k);
  }
  return list;
}

// The memo texts of the first n records as the engine reads them.
std::vector<std::string> memo_texts(Table& table, uint32_t n) {
  std::vector<std::string> texts;
  for (uint32_t q = 0; q < n; ++q) {
    EXPECT_EQ(read_record(table, q), 1);
    std::string text;
    texts.push_back(read_memo(table, table.first_memo_field, text) ? text : "<none>");
  }
  return texts;
}

TEST(RecordOpsPack, RecordsOneAndThreeOfFiveWithMemoRebuild) {
  for (const MemoCase& c : kMemoCases) {
    SCOPED_TRACE(c.table);
    TempDir dir;
    std::string path = dir.copy_fixture(c.table);
    std::string memo = dir.copy_fixture(std::string("infused-dbf/") + c.memo);
    Bytes old_memo = read_bytes(memo);
    auto table = must_open(path);
    ASSERT_TRUE(table);
    bool dbase4 = memo_layout(table->version()) == MemoLayout::kDBase4;
    std::vector<std::string> original = lines_of(dbfread_dump(path, !dbase4));
    std::string select = non_memo_fields(*table);
    std::vector<std::string> original_csv = lines_of(c.gdal ? gdal_csv(path, select) : "");
    std::vector<std::string> texts = memo_texts(*table, 5);
    EXPECT_GE(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t != "<none>"; }), 3);

    ASSERT_EQ(truncate_table(*table, 5), 1);
    ASSERT_EQ(mark_deleted(*table, 1), 1);
    ASSERT_EQ(mark_deleted(*table, 3), 1);
    ASSERT_EQ(pack_table(*table, 0), 1);
    EXPECT_EQ(table->record_count, 3u);
    EXPECT_EQ(table->memo_file_name, memo);

    std::vector<std::string> expected = {original[0], original[2], original[4], "deleted 0"};
    EXPECT_EQ(lines_of(dbfread_dump(path, !dbase4)), expected);
    EXPECT_EQ(memo_texts(*table, 3), (std::vector<std::string>{texts[0], texts[2], texts[4]}));
    if (c.gdal) {
      std::vector<std::string> csv = lines_of(gdal_csv(path, select));
      EXPECT_EQ(csv, (std::vector<std::string>{original_csv[0], original_csv[1], original_csv[3], original_csv[5]}));
    }
    // The old memo file stays whole under the '~' name; the new one is smaller.
    EXPECT_EQ(read_bytes(dir.file(c.old_memo)), old_memo);
    EXPECT_LT(file_size(memo), long(old_memo.size()));
    EXPECT_GT(file_size(memo), 0);
  }
}

TEST(RecordOpsPack, UpperCaseMemoExtensionKeepsItsName) {
  TempDir dir;
  std::string path = dir.copy_fixture("dbfread/tests/cases/memotest.dbf");
  dir.copy_fixture("dbfread/tests/cases/memotest.FPT");
  Bytes old_memo = read_bytes(dir.file("memotest.FPT"));
  std::vector<std::string> original = lines_of(dbfread_dump(path));
  ASSERT_EQ(original.back(), "deleted 1");
  auto table = must_open(path);
  ASSERT_EQ(table->memo_file_name, dir.file("memotest.FPT"));
  ASSERT_EQ(pack_table(*table, 0), 1);
  EXPECT_EQ(table->record_count, 2u);
  EXPECT_FALSE(file_exists(dir.file("memotest.fpt")));
  EXPECT_EQ(read_bytes(dir.file("memotest.~PT")), old_memo);
  std::vector<std::string> expected = {original[0], original[1], "deleted 0"};
  EXPECT_EQ(lines_of(dbfread_dump(path)), expected);
}

TEST(RecordOpsPack, MemoOnlyBlanksEmptyMemosAndKeepsBinaryBytes) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_f5.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_f5.fpt");
  auto table = must_open(path);
  int field = table->first_memo_field;
  ASSERT_GE(field, 0);
  // Record 0: a text with zero bytes in it. Record 1: a memo of no bytes.
  std::string binary("a\0b\0\0c", 6);
  ASSERT_EQ(read_record(*table, 0), 1);
  ASSERT_TRUE(write_memo(*table, field, binary));
  ASSERT_EQ(write_record(*table, 0), 1);
  Bytes memo_bytes = read_bytes(memo);
  uint32_t next = get_be32(&memo_bytes[0]);
  uint16_t block = get_be16(&memo_bytes[6]);
  Bytes empty_block(block, 0);
  put_be32(&empty_block[0], 1);  // text, length 0
  memo_bytes.resize(size_t(next) * block);
  memo_bytes.insert(memo_bytes.end(), empty_block.begin(), empty_block.end());
  put_be32(&memo_bytes[0], next + 1);
  test::write_bytes(memo, memo_bytes);
  ASSERT_EQ(read_record(*table, 1), 1);
  char number[16];
  std::snprintf(number, sizeof number, "%*u", field_length(*table, field), next);
  std::memcpy(&table->record[table->fields[size_t(field)].offset], number, size_t(field_length(*table, field)));
  ASSERT_EQ(write_record(*table, 1), 1);

  Bytes table_before = read_bytes(path);
  ASSERT_EQ(pack_table(*table, 2), 1);
  EXPECT_EQ(table->record_count, 975u);
  std::string text;
  ASSERT_EQ(read_record(*table, 0), 1);
  ASSERT_TRUE(read_memo(*table, field, text));
  EXPECT_EQ(text, binary);
  ASSERT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(field_text_of(*table, field), std::string(size_t(field_length(*table, field)), ' '));
  EXPECT_FALSE(read_memo(*table, field, text));
  // Only memo fields changed in the table file.
  Bytes table_after = read_bytes(path);
  ASSERT_EQ(table_after.size(), table_before.size());
  const FieldDesc& memo_desc = table->fields[size_t(field)];
  size_t changed_outside = 0;
  for (size_t at = table->header_size; at < table_after.size(); ++at) {
    size_t in_record = (at - table->header_size) % table->record_size;
    bool in_memo = in_record >= memo_desc.offset && in_record < memo_desc.offset + size_t(field_length(*table, field));
    if (!in_memo && table_after[at] != table_before[at]) ++changed_outside;
  }
  EXPECT_EQ(changed_outside, 0u);
  EXPECT_NE(table_after, table_before);
}

// The 64-kilobyte cut of dBase III texts is for showing them; packing the
// memo file copies every byte.
TEST(RecordOpsPack, LongDBase3MemosKeepEveryByte) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_83.dbt");
  auto table = must_open(path);
  int field = table->first_memo_field;
  ASSERT_GE(field, 0);
  std::string text;
  for (int k = 0; k < 70000; ++k) text.push_back(char('a' + k % 26));
  ASSERT_EQ(read_record(*table, 0), 1);
  ASSERT_TRUE(write_memo(*table, field, text));
  ASSERT_EQ(write_record(*table, 0), 1);

  ASSERT_EQ(pack_table(*table, 2), 1);
  ASSERT_EQ(read_record(*table, 0), 1);
  long block = memo_block_number(*table, field);
  ASSERT_GT(block, 0);
  Bytes bytes = read_bytes(memo);
  ASSERT_LT(size_t(block) * 512, bytes.size());
  auto start = bytes.begin() + long(block) * 512;
  EXPECT_EQ(std::string(start, std::find(start, bytes.end(), uint8_t(0x1A))), text);
}

TEST(RecordOpsPack, TableOnlyLeavesTheMemoFile) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_8b.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_8b.dbt");
  Bytes old_memo = read_bytes(memo);
  auto table = must_open(path);
  std::vector<std::string> texts = memo_texts(*table, 10);
  ASSERT_EQ(mark_deleted(*table, 0), 1);
  ASSERT_EQ(pack_table(*table, 1), 1);
  EXPECT_EQ(table->record_count, 9u);
  EXPECT_EQ(read_bytes(memo), old_memo);
  EXPECT_FALSE(file_exists(dir.file("dbase_8b.~bt")));
  texts.erase(texts.begin());
  EXPECT_EQ(memo_texts(*table, 9), texts);
}

TEST(RecordOpsPack, FailedMemoRebuildGivesTheOldFileBack) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_83.dbt");
  Bytes old_memo = read_bytes(memo);
  Bytes old_table = read_bytes(path);
  auto table = must_open(path);
  // The count claims one record more than the file holds: reading it fails
  // half-way through the rebuild.
  table->record_count += 1;
  EXPECT_EQ(pack_table(*table, 2), 0);
  EXPECT_EQ(read_bytes(memo), old_memo);
  EXPECT_FALSE(file_exists(dir.file("dbase_83.~bt")));
  EXPECT_EQ(read_bytes(path), old_table);
  EXPECT_EQ(table->memo_file_name, memo);
}

TEST(RecordOpsPack, RecordsThatCannotBeWrittenKeepTheOldMemoFile) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_f5.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_f5.fpt");
  Bytes old_memo = read_bytes(memo);
  Bytes old_table = read_bytes(path);
  auto table = must_open(path);
  reopen_read_only(*table);
  EXPECT_EQ(pack_table(*table, 2), 0);
  EXPECT_EQ(read_bytes(memo), old_memo);
  EXPECT_FALSE(file_exists(dir.file("dbase_f5.~pt")));
  EXPECT_EQ(read_bytes(path), old_table);
}

TEST(RecordOpsPack, AFolderWithTheLowerCaseMemoNameIsLeftAlone) {
  TempDir dir;
  std::string path = dir.copy_fixture("dbfread/tests/cases/memotest.dbf");
  dir.copy_fixture("dbfread/tests/cases/memotest.FPT");
  Bytes old_memo = read_bytes(dir.file("memotest.FPT"));
  auto table = must_open(path);
  std::vector<std::string> texts = memo_texts(*table, table->record_count);
  ASSERT_EQ(mkdir(dir.file("memotest.fpt").c_str(), 0755), 0);
  EXPECT_EQ(pack_table(*table, 2), 1);
  EXPECT_EQ(read_bytes(dir.file("memotest.~PT")), old_memo);
  EXPECT_EQ(memo_texts(*table, table->record_count), texts);
  struct stat info;
  EXPECT_TRUE(stat(dir.file("memotest.fpt").c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

// ---------------------------------------------------------------------------
// Backups and the record clipboard.

TEST(RecordOpsBackup, TakenOnceBeforeTheFirstChange) {
  TempDir dir;
  std::string path = make_table(dir, "t.dbf", 5);
  Bytes original = read_bytes(path);
  auto table = must_open(path);
  set_bak_mode(*table, 1);
  EXPECT_EQ(table->bak_file_name, dir.file("t.bak"));
  ASSERT_EQ(read_record(*table, 0), 1);
  EXPECT_FALSE(file_exists(dir.file("t.bak")));  // reading takes none
  ASSERT_EQ(mark_deleted(*table, 2), 1);
  EXPECT_EQ(read_bytes(dir.file("t.bak")), original);
  EXPECT_TRUE(table->bak_done);
  ASSERT_EQ(zap_table(*table), 1);
  EXPECT_EQ(read_bytes(dir.file("t.bak")), original);
}

TEST(RecordOpsBackup, EveryKindOfChangeTakesIt) {
  using Change = int (*)(Table&);
  const Change changes[] = {
      [](Table& t) { return write_record(t, 0); },     [](Table& t) { return write_field(t, 0, 1); },
      [](Table& t) { return toggle_deleted(t, 0); },  [](Table& t) { return append_record(t, true); },
      [](Table& t) { return insert_record(t, 1, true); }, [](Table& t) { return remove_record(t, 1); },
      [](Table& t) { return truncate_table(t, 2); },
  };
  for (Change change : changes) {
    TempDir dir;
    std::string path = make_table(dir, "t.dbf", 5);
    Bytes original = read_bytes(path);
    auto table = must_open(path);
    set_bak_mode(*table, 1);
    ASSERT_EQ(change(*table), 1);
    EXPECT_EQ(read_bytes(dir.file("t.bak")), original);
  }
}

TEST(RecordOpsBackup, TemporaryFolderAndNames) {
  TempDir dir;
  std::string name = "kora-bak-" + std::to_string(getpid()) + ".dbf";
  std::string path = make_table(dir, name, 3);
  Bytes original = read_bytes(path);
  auto table = must_open(path);
  set_bak_mode(*table, 2);
  EXPECT_EQ(table->bak_file_name, "/tmp/" + name);
  ASSERT_EQ(truncate_table(*table, 1), 1);
  EXPECT_EQ(read_bytes("/tmp/" + name), original);
  std::remove(("/tmp/" + name).c_str());
  set_bak_mode(*table, 1);
  EXPECT_EQ(table->bak_file_name, dir.file("kora-bak-" + std::to_string(getpid()) + ".bak"));
  set_bak_mode(*table, 0);
  table->bak_done = false;
  ASSERT_EQ(truncate_table(*table, 0), 1);
  EXPECT_FALSE(file_exists(table->bak_file_name));
}

TEST(RecordOpsBackup, ATableNamedLikeItsBackupIsNotDestroyed) {
  TempDir dir;
  std::string path = make_table(dir, "t.bak", 3);
  auto table = must_open(path);
  set_bak_mode(*table, 1);
  ASSERT_EQ(table->bak_file_name, path);
  ASSERT_EQ(mark_deleted(*table, 0), 1);
  EXPECT_EQ(file_size(path), long(kHeaderSize + 3 * 17 + 1));
  EXPECT_EQ(file_record(path, 0)[0], '*');
  EXPECT_EQ(file_record(path, 2), record_image(10, name_of(2), 2));
}

TEST(RecordOpsClipboard, PasteCopiesTheRecordWhenThereIsOne) {
  TempDir dir;
  auto table = must_open(make_table(dir, "t.dbf", 2));
  ASSERT_EQ(read_record(*table, 0), 1);
  Bytes before = record_buffer(*table);
  paste_clipboard_record(*table, {});
  EXPECT_EQ(record_buffer(*table), before);
  paste_clipboard_record(*table, record_image(10, "COPIED", 3));
  EXPECT_EQ(record_buffer(*table), record_image(10, "COPIED", 3));
}

}  // namespace
}  // namespace kora
