#include "table/table_cipher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "table/file_guards.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/pending_file.h"
#include "table/record_scanner.h"

namespace kora {

namespace {

constexpr size_t kCipherStateSize = 258;
constexpr size_t kWriteBlock = 512 * 1024;

std::vector<uint8_t> pack_state(const Rc4State& state) {
  std::vector<uint8_t> bytes(state.s.begin(), state.s.end());
  bytes.push_back(state.i);
  bytes.push_back(state.j);
  return bytes;
}

Rc4State unpack_state(const std::vector<uint8_t>& bytes) {
  Rc4State state;
  std::copy(bytes.begin(), bytes.begin() + 256, state.s.begin());
  state.i = bytes[256];
  state.j = bytes[257];
  return state;
}

void after_read(const Table& table, uint8_t* record, int ok, int size) {
  if (ok) transform_record(table, record, size_t(size));
}
void before_write(const Table& table, uint8_t* record, int size) { transform_record(table, record, size_t(size)); }
void after_read_flag(Table& table, int ok) {
  if (ok) transform_deletion_mark(table);
}
void before_write_flag(Table& table) { transform_deletion_mark(table); }

// Reads the file's bytes from `from` to its end and appends them to `out`.
bool read_rest(int fd, off_t from, std::string& out) {
  std::vector<char> chunk(64 * 1024);
  for (off_t at = from;;) {
    ssize_t n = file_read_at(fd, chunk.data(), chunk.size(), uint64_t(at));
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(chunk.data(), size_t(n));
    at += n;
  }
}

// The table's hooks put aside while its stored bytes are read as they are.
struct RawReading {
  Table& table;
  EncodingHooks kept;
  explicit RawReading(Table& t) : table(t), kept(t.encoding) { t.encoding = {}; }
  ~RawReading() { table.encoding = kept; }
};

// Writes the rewritten file into `fd`: the header as stored, every record
// with the key stream over it, and whatever follows the records.
Status write_transformed(Table& table, const Rc4State& cipher, int fd, ProgressCallback progress) {
  std::string out(table.header_size, '\0');
  if (file_read_at(table.fd, out.data(), out.size(), 0) != ssize_t(out.size())) return Status::kReadError;
  off_t records_end = off_t(table.header_size) + off_t(table.record_count) * table.record_size;
  std::string tail;
  if (!read_rest(table.fd, records_end, tail)) return Status::kReadError;

  RawReading raw(table);
  RecordScanner scan(table, ScanOrder::kPhysical, std::move(progress));
  ScannedRecord r;
  std::vector<uint8_t> image(table.record_size);
  while (scan.next(r)) {
    std::copy(r.image, r.image + table.record_size, image.begin());
    Rc4State state = cipher;
    rc4_apply(state, image.data(), image.size());
    out.append(reinterpret_cast<const char*>(image.data()), image.size());
    if (out.size() >= kWriteBlock) {
      if (!write_all(fd, out)) return Status::kWriteError;
      out.clear();
    }
  }
  if (scan.status() != Status::kOk) return scan.status();
  out += tail;
  if (!write_all(fd, out)) return Status::kWriteError;
  return Status::kOk;
}

}  // namespace

Rc4State rc4_schedule(const uint8_t* key, size_t length) {
  Rc4State state;
  for (int k = 0; k < 256; ++k) state.s[size_t(k)] = uint8_t(k);
  if (length == 0) return state;
  uint8_t j = 0;
  for (size_t k = 0; k < 256; ++k) {
    j = uint8_t(j + state.s[k] + key[k % length]);
    std::swap(state.s[k], state.s[j]);
  }
  return state;
}

void rc4_apply(Rc4State& state, uint8_t* bytes, size_t size) {
  for (size_t k = 0; k < size; ++k) {
    state.i = uint8_t(state.i + 1);
    state.j = uint8_t(state.j + state.s[state.i]);
    std::swap(state.s[state.i], state.s[state.j]);
    bytes[k] ^= state.s[uint8_t(state.s[state.i] + state.s[state.j])];
  }
}

Rc4State password_cipher(std::string_view password) {
  std::vector<uint8_t> key(password.begin(), password.begin() + std::min(password.size(), kMaxPasswordLength));
  if (key.size() % 2 == 1) key.push_back(kPasswordPad);
  return rc4_schedule(key.data(), key.size());
}

void set_table_password(Table& table, std::string_view password) {
  table.cipher_state = pack_state(password_cipher(password));
  table.encoding = {after_read, before_write, after_read_flag, before_write_flag};
}

void clear_table_password(Table& table) {
  table.cipher_state.clear();
  table.encoding = {};
}

bool has_table_password(const Table& table) { return table.cipher_state.size() == kCipherStateSize; }

void transform_record(const Table& table, uint8_t* record, size_t size) {
  if (!has_table_password(table)) return;
  Rc4State state = unpack_state(table.cipher_state);
  rc4_apply(state, record, size);
}

void transform_deletion_mark(Table& table) { transform_record(table, &table.delete_flag, 1); }

Status rewrite_enciphered(Table& table, std::string_view password, ProgressCallback progress) {
  if (table.read_only || table.fd < 0) return Status::kReadOnly;
  // The real file is replaced, so that a link to it stays a link.
  char* resolved = realpath(table.file_name.c_str(), nullptr);
  if (!resolved) return Status::kCannotOpen;
  std::string target = resolved;
  free(resolved);
  struct stat info;
  if (fstat(table.fd, &info) != 0) return Status::kReadError;
  if (access(target.c_str(), W_OK) != 0) return Status::kReadOnly;

  mode_t mode = info.st_mode;
  HoldEndSignals hold;
  Journal journal;
  PendingFile fresh;
  if (Status s = begin_file_swap(journal, table.file_name, {{&fresh, target, &mode}}); s != Status::kOk) return s;
  Status status = write_transformed(table, password_cipher(password), fresh.fd(), std::move(progress));
  if (status != Status::kOk) return status;
  return commit_file_swap(journal, {&fresh});
}

}  // namespace kora
