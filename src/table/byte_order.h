// Little- and big-endian integers in file bytes. Every multi-byte number that
// kora reads from or writes to a file goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kora {

inline uint16_t get_le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get_le64(const uint8_t* p) { return uint64_t(get_le32(p)) | (uint64_t(get_le32(p + 4)) << 32); }
inline uint32_t get_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t get_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint64_t get_be64(const uint8_t* p) { return (uint64_t(get_be32(p)) << 32) | get_be32(p + 4); }

inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void put_be64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (56 - 8 * i));
}
inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

// Little-endian numbers added to the end of a record being built.
inline void append_le32(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t b[4];
  put_le32(b, v);
  out.insert(out.end(), b, b + 4);
}
inline void append_le64(std::vector<uint8_t>& out, uint64_t v) {
  uint8_t b[8];
  put_le64(b, v);
  out.insert(out.end(), b, b + 8);
}

// FNV-1a: the checksum of the side files kora writes for itself (journal,
// undo history), carried on from `hash` so a record may be summed in pieces.
inline uint64_t fnv1a(const uint8_t* bytes, size_t length, uint64_t hash = 0xcbf29ce484222325ull) {
  for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  return hash;
}

}  // namespace kora
