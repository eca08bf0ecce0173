#include "table/outside_changes.h"

#include <sys/stat.h>

#include <array>

#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/file_io.h"

namespace kora {

namespace {

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

OutsideChange outside_change(const Table& table, FileStamp& seen) {
  struct stat open_file, named;
  if (table.fd < 0 || fstat(table.fd, &open_file) != 0) return OutsideChange::kNone;
  if (stat(table.file_name.c_str(), &named) == 0 &&
      (named.st_dev != open_file.st_dev || named.st_ino != open_file.st_ino))
    return OutsideChange::kReplaced;
  if (open_file.st_size == seen.size && same_time(open_file.st_mtim, seen.modified)) return OutsideChange::kNone;

  std::array<uint8_t, 32> header{};
  if (file_read_at(table.fd, header.data(), header.size(), 0) != ssize_t(header.size())) return OutsideChange::kNone;
  // A restructure in place moves every record: nothing shown still holds.
  if (table.layout == DescriptorLayout::kStandard &&
      (get_le16(&header[8]) != table.header_size || get_le16(&header[10]) != table.record_size))
    return OutsideChange::kReplaced;
  long long data = open_file.st_size - off_t(table.header_size);
  uint64_t fits = data > 0 && table.record_size > 0 ? uint64_t(data) / table.record_size : 0;
  // kora's own appends keep its count in step with the file. A dBase II
  // count stands apart from the size (the file is padded): there only a
  // change of the size since the last look counts.
  bool first = seen.size < 0;
  seen.size = open_file.st_size;
  seen.modified = open_file.st_mtim;
  bool moved = table.layout == DescriptorLayout::kDBase2 ? !first && fits != seen.records : fits != table.record_count;
  seen.records = fits;
  return moved ? OutsideChange::kCount : OutsideChange::kRewritten;
}

}  // namespace kora
