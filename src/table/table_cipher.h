// Records stored enciphered under a password: the RC4 key stream restarted
// for every record and XORed over it, deletion byte first, through the
// table's encoding hooks. The memo file and the header stay plain. This is
// encoding, not protection: the same bytes of every record meet the same
// key-stream bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "table/dbf_file.h"
#include "table/status.h"

namespace kora {

constexpr size_t kMaxPasswordLength = 32;
// Appended to a password of odd length so that the key length is even.
// Tables encoded under such a password depend on it: never change it.
constexpr uint8_t kPasswordPad = '*';

// The RC4 permutation after its key schedule and the two indexes.
struct Rc4State {
  std::array<uint8_t, 256> s{};
  uint8_t i = 0;
  uint8_t j = 0;
};

Rc4State rc4_schedule(const uint8_t* key, size_t length);
// XORs the next key-stream bytes over `bytes`, moving the state on.
void rc4_apply(Rc4State& state, uint8_t* bytes, size_t size);
// The cipher state of a password: the key is the password (at most 32
// characters) with kPasswordPad after an odd-length one.
Rc4State password_cipher(std::string_view password);

// Installs the password (all four hooks) or takes it away.
void set_table_password(Table& table, std::string_view password);
void clear_table_password(Table& table);
bool has_table_password(const Table& table);

// Enciphers or deciphers (the same operation) a record image or the table's
// deletion-mark buffer under the table's password.
void transform_record(const Table& table, uint8_t* record, size_t size);
void transform_deletion_mark(Table& table);

// Rewrites every record of the table's file with the password's key stream
// XORed over its stored bytes, through a new file renamed over the table
// (the header, what follows the records and the memo file are kept as
// they are). Encoding plain records and decoding enciphered ones are this
// same rewrite. On success the table's descriptor still reads the old
// file: the caller opens the table again. On any failure, or a stop asked
// by the progress callback, the file is left as it was.
Status rewrite_enciphered(Table& table, std::string_view password, ProgressCallback progress = {});

}  // namespace kora
