// Large tables for the benchmarks, written straight to disk in big buffers.
#pragma once

#include <cstdint>
#include <string>

namespace kora::bench {

// Fields of every generated table: ID N(10), NAME C(20), AMOUNT N(12,2),
// DAY D, FLAG L. Record size 52.
constexpr int kBigRecordSize = 52;

// Writes a dBase III table of `records` records, of which about
// `deleted_share` (0..1) are marked deleted, spread evenly through the file.
// Returns false when the file cannot be written completely.
bool write_big_table(const std::string& path, uint64_t records, double deleted_share);

// Whether record q of such a table is deleted.
bool big_record_deleted(uint64_t q, double deleted_share);

}  // namespace kora::bench
