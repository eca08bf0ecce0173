// dBase 7's binary values. Longs (types I and +) and doubles (O) are stored
// big-endian with the sign bit flipped, negative doubles with every bit
// flipped, so that their bytes sort as the numbers do; a timestamp (@) is a
// big-endian double counting milliseconds from the day before 1 January of
// the year 1. Bytes that are all zero hold no value.
#pragma once

#include <cstdint>
#include <optional>

namespace kora {

std::optional<int32_t> get_dbase7_long(const uint8_t* p);
void put_dbase7_long(uint8_t* p, int32_t value);

std::optional<double> get_dbase7_double(const uint8_t* p);
void put_dbase7_double(uint8_t* p, double value);

// The Julian day number and the milliseconds into that day.
struct Timestamp {
  long day_number = 0;
  long milliseconds = 0;
};
std::optional<Timestamp> get_dbase7_timestamp(const uint8_t* p);
void put_dbase7_timestamp(uint8_t* p, const Timestamp& stamp);

}  // namespace kora
