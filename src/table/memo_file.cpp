// Memo files: reading a text by block number, appending a new text, creating
// an empty memo file and measuring its block size. The memo file is opened for
// one operation and closed again, so changes made by others are always seen.
//
// Every length and block number read from a memo file or a record is checked
// against the file's size before anything is read or allocated: a damaged file
// gives no text, never a huge allocation or a read outside the file.
#include "table/memo_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "table/byte_order.h"
#include "table/file_io.h"

namespace kora {

namespace {

constexpr int64_t kDBase3BlockSize = 512;
constexpr int64_t kDBase3MaxText = 65535;  // a dBase III text is read into 64 KB
constexpr int kMinHeaderSize = 512;
constexpr uint8_t kDBase4Marker[4] = {0xFF, 0xFF, 0x08, 0x00};
constexpr int kBlockHeaderSize = 8;  // dBase IV and FoxPro memo block header

}  // namespace

// The memo file's descriptor for the length of one operation (or of a
// batch appender's run).
class MemoFd {
 public:
  explicit MemoFd(const std::string& path) {
    if (path.empty()) return;
    fd_ = file_open(path, O_RDWR | O_CLOEXEC);
    if (fd_ < 0) fd_ = file_open(path, O_RDONLY | O_CLOEXEC);
  }
  ~MemoFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoFd(const MemoFd&) = delete;
  MemoFd& operator=(const MemoFd&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int64_t size() const { return file_size(fd_); }
  // Reads up to n bytes at offset; the number read, or -1 on an error.
  int64_t read_at(int64_t offset, void* buffer, int64_t n) const {
    return file_read_at(fd_, buffer, size_t(n), uint64_t(offset));
  }
  // Writes all n bytes at offset; false on any error or a short write.
  bool write_at(int64_t offset, const void* buffer, int64_t n) const {
    return file_write_at(fd_, buffer, size_t(n), uint64_t(offset));
  }

 private:
  int fd_ = -1;
};

namespace {

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

struct PathParts {
  std::string dir;   // up to and including the last '/'
  std::string base;  // file name up to its last '.'
  std::string ext;   // after the last '.', empty when there is none
};

PathParts split_path(const std::string& path) {
  PathParts parts;
  size_t slash = path.rfind('/');
  size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  parts.dir = path.substr(0, name_start);
  std::string name = path.substr(name_start);
  size_t dot = name.rfind('.');
  parts.base = dot == std::string::npos ? name : name.substr(0, dot);
  if (dot != std::string::npos) parts.ext = name.substr(dot + 1);
  return parts;
}

// Extension of the memo file, without its dot.
const char* memo_extension(const std::string& table_ext, TableKind kind) {
  switch (kind) {
    case kDBase3:
    case kDBase4:
      return "dbt";
    case kFoxPro:
    case kVisualFoxPro:
      return lower_ascii(table_ext) == "dbc" ? "dct" : "fpt";
    default:
      return "smt";
  }
}

// The position of memo field i in the record, the width of its text form,
// and whether it holds a 4-byte binary number instead.
struct MemoSlot {
  size_t offset = 0;
  int width = 0;
  bool binary = false;
};

bool memo_slot(const Table& table, int i, MemoSlot& slot) {
  if (i < 0 || i >= table.field_count()) return false;
  const FieldDesc& desc = table.fields[size_t(i)];
  int length16 = desc.length | (desc.decimals << 8);
  bool is_memo = desc.type == 'M' || desc.type == 'G' || desc.type == 'W' || (desc.type == 'B' && length16 == 10);
  if (!is_memo) return false;
  slot.offset = desc.offset;
  slot.binary = length16 == 4;
  slot.width = slot.binary ? 4 : desc.length;
  return slot.width > 0 && slot.offset + size_t(slot.width) <= table.record.size();
}

// The whole part of the decimal text: leading spaces skipped, an optional sign,
// digits up to the first other character, at most 31 characters looked at.
long parse_block_text(const uint8_t* p, int width) {
  int n = std::min(width, 31);
  int k = 0;
  while (k < n && p[k] == ' ') ++k;
  bool negative = false;
  if (k < n && (p[k] == '-' || p[k] == '+')) negative = p[k++] == '-';
  long value = 0;
  for (; k < n && p[k] >= '0' && p[k] <= '9'; ++k) {
    if (value > (INT32_MAX - 9) / 10) return -1;  // no memo file is that large
    value = value * 10 + (p[k] - '0');
  }
  return negative ? -value : value;
}

bool store_block_number(uint8_t* record, const MemoSlot& slot, uint32_t block) {
  uint8_t* field = record + slot.offset;
  if (slot.binary) {
    put_le32(field, block);
    return true;
  }
  std::vector<char> text(size_t(slot.width) + 1);
  int written = std::snprintf(text.data(), text.size(), "%*lu", slot.width, static_cast<unsigned long>(block));
  if (written != slot.width) return false;
  std::copy(text.begin(), text.begin() + slot.width, field);
  return true;
}

bool fits_in_field(const MemoSlot& slot, uint64_t block) {
  if (slot.binary) return true;  // plan_append keeps every block below 2^31
  return std::snprintf(nullptr, 0, "%llu", static_cast<unsigned long long>(block)) <= slot.width;
}

// Reads up to `limit` bytes, 64 KB at a time, stopping at the end byte.
bool read_dbase3(const MemoFd& memo, int64_t block, std::string& text, int64_t limit) {
  int64_t offset = block * kDBase3BlockSize;
  int64_t wanted = std::min(memo.size() - offset, limit);
  if (wanted <= 0) return false;
  std::string bytes;
  for (int64_t at = 0; at < wanted;) {
    int64_t chunk = std::min(wanted - at, kDBase3MaxText);
    bytes.resize(size_t(at + chunk));
    int64_t got = memo.read_at(offset + at, bytes.data() + at, chunk);
    if (got <= 0 && at == 0) return false;
    bytes.resize(size_t(at + std::max<int64_t>(got, 0)));
    size_t end = bytes.find('\x1A', size_t(at));
    if (end != std::string::npos) {
      bytes.resize(end);
      break;
    }
    if (got < chunk) break;
    at += got;
  }
  text = std::move(bytes);
  return true;
}

// Reads a text of `length` bytes at offset, cut at what the file holds.
bool read_text_at(const MemoFd& memo, int64_t offset, int64_t length, std::string& text) {
  int64_t available = memo.size() - offset;
  if (available < 0) return false;
  std::string bytes(size_t(std::min(length, available)), '\0');
  int64_t got = memo.read_at(offset, bytes.data(), int64_t(bytes.size()));
  if (got < 0) return false;
  bytes.resize(size_t(got));
  text = std::move(bytes);
  return true;
}

bool read_dbase4(const MemoFd& memo, int64_t block, std::string& text) {
  uint8_t header[24];
  if (memo.read_at(0, header, sizeof header) < 22) return false;
  int64_t block_size = get_le16(header + 20);
  if (block_size == 0) return false;
  int64_t offset = block * block_size;
  uint8_t block_header[kBlockHeaderSize];
  if (memo.read_at(offset, block_header, kBlockHeaderSize) != kBlockHeaderSize) return false;
  if (!std::equal(block_header, block_header + 4, kDBase4Marker)) return false;
  int64_t total = get_le32(block_header + 4);
  if (total < kBlockHeaderSize) return false;
  return read_text_at(memo, offset + kBlockHeaderSize, total - kBlockHeaderSize, text);
}

// A text block (type 1, or 2 as some writers mark it); with `type`, a block
// of any type, whose type is put there.
bool read_foxpro(const MemoFd& memo, int64_t block, std::string& text, uint32_t* type) {
  uint8_t header[8];
  if (memo.read_at(0, header, sizeof header) != int64_t(sizeof header)) return false;
  int64_t block_size = get_be16(header + 6);
  if (block_size == 0) return false;
  int64_t offset = block * block_size;
  uint8_t block_header[kBlockHeaderSize];
  if (memo.read_at(offset, block_header, kBlockHeaderSize) != kBlockHeaderSize) return false;
  uint32_t stored_type = get_be32(block_header);
  if (type) *type = stored_type;
  if (!type && stored_type != 1 && stored_type != 2) return false;
  return read_text_at(memo, offset + kBlockHeaderSize, get_be32(block_header + 4), text);
}

// Where a new text goes and what the next free block becomes after it.
struct Append {
  int64_t block = 0;
  int64_t block_size = 0;
  int64_t next_free = 0;
};

// Reads the next free block and block size, and plans the append of a text
// whose stored form (with its block header or end byte) is `stored` bytes.
bool plan_append(const MemoFd& memo, MemoLayout layout, int64_t stored, Append& plan) {
  uint8_t header[24] = {};
  int64_t header_used = layout == MemoLayout::kDBase4 ? 22 : layout == MemoLayout::kFoxPro ? 8 : 4;
  if (memo.read_at(0, header, header_used) != header_used) return false;
  switch (layout) {
    case MemoLayout::kDBase3:
      plan.block = get_le32(header);
      plan.block_size = kDBase3BlockSize;
      break;
    case MemoLayout::kDBase4:
      plan.block = get_le32(header);
      plan.block_size = get_le16(header + 20);
      break;
    case MemoLayout::kFoxPro:
      plan.block = get_be32(header);
      plan.block_size = get_be16(header + 6);
      break;
    case MemoLayout::kNone:
      return false;
  }
  // A new text must not land on the header fields it depends on.
  if (plan.block == 0 || plan.block_size == 0 || plan.block * plan.block_size < header_used) return false;
  // A next free block left behind by a writer that stopped halfway may point
  // into texts already in the file; the new text goes after all of them.
  int64_t size = memo.size();
  if (size < 0) return false;
  plan.block = std::max(plan.block, (size + plan.block_size - 1) / plan.block_size);
  plan.next_free = plan.block + (stored + plan.block_size - 1) / plan.block_size;
  // Block numbers are read back as signed 32-bit numbers.
  return plan.next_free <= int64_t(INT32_MAX);
}

bool write_next_free(const MemoFd& memo, MemoLayout layout, int64_t next_free) {
  uint8_t bytes[4];
  if (layout == MemoLayout::kFoxPro)
    put_be32(bytes, uint32_t(next_free));
  else
    put_le32(bytes, uint32_t(next_free));
  return memo.write_at(0, bytes, 4);
}

// Appends the text; the block it was written at, or 0 when it was not.
int64_t append_text(const MemoFd& memo, MemoLayout layout, std::string_view text, const MemoSlot& slot,
                    uint32_t block_type) {
  int64_t length = int64_t(text.size());
  int64_t stored = layout == MemoLayout::kDBase3 ? length + 1 : length + kBlockHeaderSize;
  Append plan;
  if (!plan_append(memo, layout, stored, plan)) return 0;
  // Refuse before writing when the block number could not be stored: the text
  // would sit in the file with nothing pointing at it.
  if (!fits_in_field(slot, uint64_t(plan.block))) return 0;
  int64_t offset = plan.block * plan.block_size;
  if (layout != MemoLayout::kDBase3) {
    uint8_t block_header[kBlockHeaderSize];
    if (layout == MemoLayout::kDBase4) {
      std::copy(kDBase4Marker, kDBase4Marker + 4, block_header);
      put_le32(block_header + 4, uint32_t(stored));
    } else {
      put_be32(block_header, block_type);
      put_be32(block_header + 4, uint32_t(length));
    }
    if (!memo.write_at(offset, block_header, kBlockHeaderSize)) return 0;
    offset += kBlockHeaderSize;
  }
  if (!memo.write_at(offset, text.data(), length)) return 0;
  if (layout == MemoLayout::kDBase3) {
    const uint8_t end_byte = 0x1A;
    if (!memo.write_at(offset + length, &end_byte, 1)) return 0;
  }
  // Without the new next free block the next append would overwrite this text.
  if (!write_next_free(memo, layout, plan.next_free)) return 0;
  return plan.block;
}

}  // namespace

MemoLayout memo_layout(uint8_t version) {
  switch (version) {
    case 0x03:
    case 0x83:
      return MemoLayout::kDBase3;
    case 0x04:
    case 0x8B:
    case 0x8C:
      return MemoLayout::kDBase4;
    case 0x30:
    case 0x31:
    case 0x32:
    case 0xF5:
      return MemoLayout::kFoxPro;
    default:
      return MemoLayout::kNone;
  }
}

std::string memo_file_name(const std::string& table_path, TableKind kind) {
  PathParts parts = split_path(table_path);
  return parts.dir + parts.base + "." + memo_extension(parts.ext, kind);
}

std::string find_side_file(const std::string& table_path, const std::string& extension) {
  PathParts parts = split_path(table_path);
  std::string wanted = parts.base + "." + extension;
  std::string name = parts.dir + wanted;
  if (access(name.c_str(), F_OK) == 0) return name;
  DIR* dir = opendir(parts.dir.empty() ? "." : parts.dir.c_str());
  if (!dir) return name;
  // Of several candidates (TABLE.FPT, table.Fpt) one whose base name is the
  // table's own wins, then the first in byte order, so that the choice does
  // not depend on the directory's order.
  auto better = [&](const std::string& a, const std::string& b) {
    bool a_base = a.compare(0, parts.base.size(), parts.base) == 0;
    bool b_base = b.compare(0, parts.base.size(), parts.base) == 0;
    return a_base != b_base ? a_base : a < b;
  };
  std::string best;
  while (dirent* entry = readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate.size() != wanted.size() || strcasecmp(candidate.c_str(), wanted.c_str()) != 0) continue;
    if (best.empty() || better(candidate, best)) best = candidate;
  }
  closedir(dir);
  return best.empty() ? name : parts.dir + best;
}

std::string find_memo_file(const std::string& table_path, TableKind kind) {
  return find_side_file(table_path, memo_extension(split_path(table_path).ext, kind));
}

bool memo_file_missing(const Table& table) {
  if (table.first_memo_field < 0 || memo_layout(table.version()) == MemoLayout::kNone) return false;
  return table.memo_file_name.empty() || access(table.memo_file_name.c_str(), R_OK) != 0;
}

long memo_block_number(const Table& table, int i) {
  MemoSlot slot;
  if (!memo_slot(table, i, slot)) return 0;
  const uint8_t* field = table.record.data() + slot.offset;
  if (slot.binary) return long(int32_t(get_le32(field)));
  return parse_block_text(field, slot.width);
}

bool read_memo(Table& table, int i, std::string& text, bool whole, uint32_t* block_type) {
  text.clear();
  if (block_type) *block_type = 1;
  MemoLayout layout = memo_layout(table.version());
  if (layout == MemoLayout::kNone) return false;  // 0xE5 (.smt) among them
  long block = memo_block_number(table, i);
  if (block <= 0) return false;
  MemoFd memo(table.memo_file_name);
  if (!memo.is_open()) return false;
  switch (layout) {
    case MemoLayout::kDBase3:
      return read_dbase3(memo, block, text, whole ? INT64_MAX : kDBase3MaxText);
    case MemoLayout::kDBase4:
      return read_dbase4(memo, block, text);
    case MemoLayout::kFoxPro:
      return read_foxpro(memo, block, text, block_type);
    case MemoLayout::kNone:
      break;
  }
  return false;
}

namespace {

// Appends the text to the open memo file and stores its block number into
// the record image of `size` bytes.
bool write_memo_into(const Table& table, const MemoFd& memo, uint8_t* record, size_t size, int i,
                     std::string_view text, uint32_t block_type = 1) {
  MemoLayout layout = memo_layout(table.version());
  // An empty text is no memo; an empty block of another type (a general
  // field's empty picture) is copied as it was.
  if (layout == MemoLayout::kNone || (text.empty() && block_type == 1) || !memo.is_open()) return false;
  if (text.size() > UINT32_MAX - kBlockHeaderSize) return false;
  MemoSlot slot;
  if (!memo_slot(table, i, slot) || slot.offset + size_t(slot.width) > size) return false;
  int64_t block = append_text(memo, layout, text, slot, block_type);
  if (block == 0) return false;
  return store_block_number(record, slot, uint32_t(block));
}

}  // namespace

bool write_memo(Table& table, int i, std::string_view text, uint32_t block_type) {
  if (memo_layout(table.version()) == MemoLayout::kNone || (text.empty() && block_type == 1)) return false;
  MemoFd memo(table.memo_file_name);
  return write_memo_into(table, memo, table.record.data(), table.record.size(), i, text, block_type);
}

MemoWriter::MemoWriter(const Table& table) : table_(table), memo_(std::make_unique<MemoFd>(table.memo_file_name)) {}

MemoWriter::~MemoWriter() = default;

bool MemoWriter::write(uint8_t* image, int i, std::string_view text) {
  return write_memo_into(table_, *memo_, image, table_.record_size, i, text);
}

std::vector<uint8_t> memo_header_bytes(TableKind kind, int block_size) {
  if (block_size == 0) block_size = 512;
  if (block_size < 0 || block_size > 0xFFFF) return {};
  int header_size = std::max(block_size, kMinHeaderSize);
  std::vector<uint8_t> header(size_t(header_size), 0);
  switch (kind) {
    case kDBase3:
      put_le32(header.data(), 1);
      break;
    case kDBase4:
      put_le32(header.data(), uint32_t(header_size / block_size));
      header[18] = 0x02;
      header[19] = 0x01;
      put_le16(header.data() + 20, uint16_t(block_size));
      break;
    case kFoxPro:
    case kVisualFoxPro:
      put_be32(header.data(), uint32_t(header_size / block_size));
      put_be16(header.data() + 6, uint16_t(block_size));
      break;
    default:
      break;
  }
  return header;
}

bool create_memo_file(const std::string& table_path, TableKind kind, int block_size) {
  std::vector<uint8_t> header = memo_header_bytes(kind, block_size);
  if (header.empty()) return false;
  std::string path = memo_file_name(table_path, kind);
  int fd = file_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = file_write_at(fd, header.data(), header.size(), 0);
  bool closed = ::close(fd) == 0;
  return written && closed;
}

MemoProbe::MemoProbe(const Table& table) : table_(table), layout_(memo_layout(table.version())) {
  if (layout_ == MemoLayout::kNone || table.memo_file_name.empty()) return;
  fd_ = file_open(table.memo_file_name, O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  size_ = file_size(fd_);
  uint8_t header[22] = {};
  int64_t got = file_read_at(fd_, header, sizeof header, 0);
  if (layout_ == MemoLayout::kDBase3) {
    block_size_ = kDBase3BlockSize;
  } else if (layout_ == MemoLayout::kDBase4 && got >= 22) {
    block_size_ = get_le16(header + 20);
  } else if (layout_ == MemoLayout::kFoxPro && got >= 8) {
    block_size_ = get_be16(header + 6);
  }
}

MemoProbe::~MemoProbe() {
  if (fd_ >= 0) ::close(fd_);
}

MemoPointer MemoProbe::probe(std::span<const uint8_t> record, int i) const {
  MemoSlot slot;
  if (!is_open() || !memo_slot(table_, i, slot) || slot.offset + size_t(slot.width) > record.size())
    return MemoPointer::kNone;
  const uint8_t* field = record.data() + slot.offset;
  int64_t block = slot.binary ? int64_t(int32_t(get_le32(field))) : parse_block_text(field, slot.width);
  if (block == 0) return MemoPointer::kNone;
  int64_t offset = block * block_size_;
  // Blocks start after the header, which fills at least 512 bytes.
  if (block > 0 && offset < std::max<int64_t>(block_size_, kMinHeaderSize)) return MemoPointer::kInHeader;
  if (block < 0 || offset >= size_) return MemoPointer::kPastEnd;
  if (layout_ == MemoLayout::kDBase3) {
    // The text runs to its end byte, which has to come before the file ends.
    std::vector<uint8_t> chunk(4096);
    for (int64_t at = offset; at < size_;) {
      int64_t got = file_read_at(fd_, chunk.data(), chunk.size(), uint64_t(at));
      if (got <= 0) break;
      if (std::find(chunk.begin(), chunk.begin() + got, uint8_t(0x1A)) != chunk.begin() + got) return MemoPointer::kSound;
      at += got;
    }
    return MemoPointer::kBadLength;
  }
  uint8_t head[kBlockHeaderSize];
  if (file_read_at(fd_, head, kBlockHeaderSize, uint64_t(offset)) != kBlockHeaderSize) return MemoPointer::kBadLength;
  int64_t end = offset;
  if (layout_ == MemoLayout::kDBase4) {
    // The length there counts the block header too.
    int64_t total = get_le32(head + 4);
    if (!std::equal(head, head + 4, kDBase4Marker) || total < kBlockHeaderSize) return MemoPointer::kBadLength;
    end += total;
  } else {
    end += kBlockHeaderSize + int64_t(get_be32(head + 4));
  }
  return end <= size_ ? MemoPointer::kSound : MemoPointer::kBadLength;
}

int memo_block_size(Table& table) {
  MemoLayout layout = memo_layout(table.version());
  if (layout == MemoLayout::kNone) return 0;
  MemoFd memo(table.memo_file_name);
  if (!memo.is_open()) return 0;
  uint8_t header[22];
  switch (layout) {
    case MemoLayout::kDBase3:
      return int(kDBase3BlockSize);
    case MemoLayout::kDBase4:
      if (memo.read_at(0, header, 22) != 22) return 256;
      return get_le16(header + 20);
    case MemoLayout::kFoxPro:
      if (memo.read_at(0, header, 8) != 8) return 256;
      return get_be16(header + 6);
    case MemoLayout::kNone:
      break;
  }
  return 0;
}

}  // namespace kora
