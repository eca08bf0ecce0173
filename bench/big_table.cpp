#include "big_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "table/byte_order.h"
#include "table/dbf_file.h"

namespace kora::bench {

namespace {

struct BigField {
  const char* name;
  char type;
  uint8_t length;
  uint8_t decimals;
};

constexpr BigField kFields[] = {
    {"ID", 'N', 10, 0}, {"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 12, 2}, {"DAY", 'D', 8, 0}, {"FLAG", 'L', 1, 0}};
constexpr int kFieldCount = int(sizeof kFields / sizeof kFields[0]);
constexpr int kHeaderSize = 32 + 32 * kFieldCount + 1;
constexpr size_t kBufferRecords = 65536;  // about 3.4 MB per write

std::vector<uint8_t> header_bytes(uint64_t records) {
  std::vector<uint8_t> bytes(kHeaderSize, 0);
  bytes[0] = 0x03;
  bytes[1] = 124;
  bytes[2] = 1;
  bytes[3] = 1;
  put_le32(&bytes[4], uint32_t(records));
  put_le16(&bytes[8], kHeaderSize);
  put_le16(&bytes[10], kBigRecordSize);
  int offset = 1;
  for (int k = 0; k < kFieldCount; ++k) {
    FieldDesc desc;
    std::strncpy(desc.name, kFields[k].name, 10);
    desc.type = kFields[k].type;
    desc.offset = uint16_t(offset);
    desc.length = kFields[k].length;
    desc.decimals = kFields[k].decimals;
    encode_field_desc(desc, &bytes[size_t(32 + 32 * k)]);
    offset += desc.length;
  }
  bytes[kHeaderSize - 1] = 0x0D;
  return bytes;
}

// Writes value right-aligned into width digits ending at `end`.
void put_digits(uint8_t* end, int width, uint64_t value) {
  for (int k = 0; k < width; ++k) {
    end[-1 - k] = uint8_t(k == 0 || value ? '0' + value % 10 : ' ');
    value /= 10;
  }
}

void fill_record(uint8_t* r, uint64_t q, double deleted_share) {
  static const char kTemplate[kBigRecordSize + 1] =
      "           Customer name       "     // flag, ID, NAME
      "        0.00"                        // AMOUNT
      "20240101"                            // DAY
      "T";                                  // FLAG
  static_assert(sizeof kTemplate == kBigRecordSize + 1);
  std::memcpy(r, kTemplate, kBigRecordSize);
  if (big_record_deleted(q, deleted_share)) r[0] = '*';
  put_digits(r + 11, 10, q + 1);
  // A few digits of the number in the name, so that names differ.
  put_digits(r + 11 + 20, 6, q % 1000000);
  uint64_t cents = (q * 7919) % 10000000;
  put_digits(r + 31 + 9, 9, cents / 100);
  r[31 + 9] = '.';
  r[31 + 10] = uint8_t('0' + (cents / 10) % 10);
  r[31 + 11] = uint8_t('0' + cents % 10);
  r[51] = q % 2 ? 'F' : 'T';
}

bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace

bool big_record_deleted(uint64_t q, double deleted_share) {
  // A multiplicative hash spreads the deleted records evenly.
  uint64_t h = (q * 2654435761u) & 0xFFFFFFFFu;
  return double(h) < deleted_share * 4294967296.0;
}

bool write_big_table(const std::string& path, uint64_t records, double deleted_share) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::vector<uint8_t> header = header_bytes(records);
  bool ok = write_all(fd, header.data(), header.size());
  std::vector<uint8_t> buffer(kBufferRecords * kBigRecordSize + 1);
  for (uint64_t q = 0; ok && q < records;) {
    size_t n = size_t(std::min<uint64_t>(kBufferRecords, records - q));
    for (size_t k = 0; k < n; ++k) fill_record(&buffer[k * kBigRecordSize], q + k, deleted_share);
    q += n;
    size_t size = n * kBigRecordSize;
    if (q == records) buffer[size++] = 0x1A;
    ok = write_all(fd, buffer.data(), size);
  }
  if (records == 0 && ok) {
    uint8_t eof = 0x1A;
    ok = write_all(fd, &eof, 1);
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace kora::bench
