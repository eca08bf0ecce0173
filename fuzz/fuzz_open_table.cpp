// Fuzz target: opens a table made of the input bytes and reads everything in it.
//
// Input layout:
//   bytes 0..2  little-endian length of the table file part (clamped to what is left)
//   byte  3     option bits: 0-1 date format, 2-3 trim mode, 4 memo display,
//               5 date separator, 6 ignore case
//   then        the table file bytes, then the memo file bytes.
// The memo bytes are written under both memo names (.dbt and .fpt), so the
// table finds them whatever its kind.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "table/dbf_file.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace {

constexpr uint32_t kMaxRecordsWalked = 2000;  // keeps every run short

std::string& work_dir() {
  static std::string dir;
  return dir;
}

void unlink_work_files() {
  const std::string& dir = work_dir();
  for (const char* name : {"t.dbf", "t.dbt", "t.fpt", "t.hdr"}) unlink((dir + "/" + name).c_str());
}

void remove_work_files() {
  if (work_dir().empty()) return;
  unlink_work_files();
  rmdir(work_dir().c_str());
}

// A folder of this process's own, in memory where /dev/shm exists, made once.
const std::string& ensure_work_dir() {
  std::string& dir = work_dir();
  if (dir.empty()) {
    char in_memory[] = "/dev/shm/kora-fuzz-XXXXXX";
    char in_tmp[] = "/tmp/kora-fuzz-XXXXXX";
    const char* made = mkdtemp(in_memory);
    if (made == nullptr) made = mkdtemp(in_tmp);
    if (made == nullptr) abort();
    dir = made;
    atexit(remove_work_files);
  }
  return dir;
}

bool write_file(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  close(fd);
  return done == size;
}

kora::TableOptions options_from_bits(uint8_t bits) {
  kora::TableOptions options;
  options.date_format = bits & 3;
  options.trim_mode = (bits >> 2) & 3;
  options.memo_display = (bits >> 4) & 1;
  options.separator = ((bits >> 5) & 1) != 0;
  options.ignore_case = ((bits >> 6) & 1) != 0;
  return options;
}

void read_everything(kora::Table& table) {
  uint32_t count = kora::visible_count(table);
  if (count > kMaxRecordsWalked) count = kMaxRecordsWalked;
  std::string memo;
  for (uint32_t p = 0; p < count; ++p) {
    if (!kora::read_record(table, p)) continue;
    for (int i = 0; i < table.field_count(); ++i) {
      const char* text = kora::field_text(table, i);
      if (text == nullptr) abort();
      if (kora::is_memo_field(table, i)) {
        memo.clear();
        kora::read_memo(table, i, memo);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  size_t table_size = size_t(data[0]) | size_t(data[1]) << 8 | size_t(data[2]) << 16;
  const uint8_t option_bits = data[3];
  data += 4;
  size -= 4;
  if (table_size > size) table_size = size;

  // The work folder may vanish under a long run (a cleaner of /tmp or
  // /dev/shm): make it again. A run that cannot write its inputs would test
  // nothing, so it stops loudly instead.
  std::string table_path;
  bool written = false;
  for (int attempt = 0; attempt < 2 && !written; ++attempt) {
    if (attempt > 0) work_dir().clear();
    const std::string& dir = ensure_work_dir();
    table_path = dir + "/t.dbf";
    written = write_file(table_path, data, table_size) &&
              write_file(dir + "/t.dbt", data + table_size, size - table_size) &&
              write_file(dir + "/t.fpt", data + table_size, size - table_size);
  }
  if (!written) abort();

  std::unique_ptr<kora::Table> table = kora::open_table(table_path);
  if (table) {
    kora::apply_table_options(*table, options_from_bits(option_bits));
    read_everything(*table);
    kora::close_table(table);
  }
  // libFuzzer ends without running atexit handlers after -max_total_time, so
  // no run leaves its files behind (at most the empty folder remains).
  unlink_work_files();
  return 0;
}
