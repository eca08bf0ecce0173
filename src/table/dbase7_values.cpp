#include "table/dbase7_values.h"

#include <bit>
#include <cmath>

#include "table/byte_order.h"

namespace kora {

namespace {

constexpr uint32_t kLongSign = 0x80000000u;
constexpr uint64_t kDoubleSign = uint64_t(1) << 63;
constexpr long kMillisecondsPerDay = 86400000;
// The Julian day number of the day the timestamps count from (31 December
// of the year 0).
constexpr long kTimestampEpochDay = 1721425;

bool all_zero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

std::optional<int32_t> get_dbase7_long(const uint8_t* p) {
  if (all_zero(p, 4)) return std::nullopt;
  return int32_t(get_be32(p) ^ kLongSign);
}

void put_dbase7_long(uint8_t* p, int32_t value) { put_be32(p, uint32_t(value) ^ kLongSign); }

std::optional<double> get_dbase7_double(const uint8_t* p) {
  if (all_zero(p, 8)) return std::nullopt;
  uint64_t bits = get_be64(p);
  bits = (bits & kDoubleSign) ? bits ^ kDoubleSign : ~bits;
  return std::bit_cast<double>(bits);
}

void put_dbase7_double(uint8_t* p, double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  put_be64(p, (bits & kDoubleSign) ? ~bits : bits | kDoubleSign);
}

std::optional<Timestamp> get_dbase7_timestamp(const uint8_t* p) {
  if (all_zero(p, 8)) return std::nullopt;
  double ms = std::bit_cast<double>(get_be64(p));
  if (!std::isfinite(ms) || ms < 0 || ms > 1e15) return std::nullopt;
  long long whole = (long long)(ms);
  Timestamp stamp;
  stamp.day_number = long(whole / kMillisecondsPerDay) + kTimestampEpochDay;
  stamp.milliseconds = long(whole % kMillisecondsPerDay);
  return stamp;
}

void put_dbase7_timestamp(uint8_t* p, const Timestamp& stamp) {
  double ms = double(stamp.day_number - kTimestampEpochDay) * kMillisecondsPerDay + double(stamp.milliseconds);
  put_be64(p, std::bit_cast<uint64_t>(ms));
}

}  // namespace kora
