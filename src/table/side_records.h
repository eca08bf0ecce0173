// The fields of the records kora writes into its own side files (the
// journal, the undo history): little-endian numbers, and byte strings and
// texts led by their length. The reader checks every length against what
// is left, so a damaged file reads as not ok rather than past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "table/byte_order.h"

namespace kora {

inline void put_bytes(std::vector<uint8_t>& out, const uint8_t* bytes, size_t length) {
  append_le32(out, uint32_t(length));
  out.insert(out.end(), bytes, bytes + length);
}
inline void put_bytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  put_bytes(out, bytes.data(), bytes.size());
}
inline void put_text(std::vector<uint8_t>& out, const std::string& text) {
  put_bytes(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

struct SideRecordReader {
  const uint8_t* at;
  const uint8_t* end;
  bool ok = true;
  bool has(size_t n) {
    ok = ok && size_t(end - at) >= n;
    return ok;
  }
  uint32_t u32() {
    if (!has(4)) return 0;
    at += 4;
    return get_le32(at - 4);
  }
  uint64_t u64() {
    if (!has(8)) return 0;
    at += 8;
    return get_le64(at - 8);
  }
  std::vector<uint8_t> bytes() {
    uint32_t n = u32();
    if (!has(n)) return {};
    at += n;
    return std::vector<uint8_t>(at - n, at);
  }
  std::string text() {
    std::vector<uint8_t> b = bytes();
    return std::string(b.begin(), b.end());
  }
};

}  // namespace kora
