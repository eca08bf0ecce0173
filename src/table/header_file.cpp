#include "table/header_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "table/code_page.h"
#include "table/dbf_file.h"
#include "table/file_io.h"
#include "table/file_replace.h"

namespace kora {

namespace {

constexpr char kMagic[] = "Header file KORA";  // written with its NUL: 17 bytes
constexpr size_t kHeadSize = 32;
constexpr size_t kAliasLimit = kHeaderSlotSize - 1;

// The slots of the header file at `path`; false when it is missing, shorter
// than its head or without the magic.
bool read_slots(const std::string& path, std::vector<std::string>& slots) {
  slots.clear();
  int fd = file_open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> bytes(kHeadSize + size_t(kHeaderFileMaxSlots) * kHeaderSlotSize);
  ssize_t read = file_read_at(fd, bytes.data(), bytes.size(), 0);
  close(fd);
  size_t got = read < 0 ? 0 : size_t(read);
  if (got < kHeadSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  for (size_t at = kHeadSize; at + kHeaderSlotSize <= got; at += kHeaderSlotSize) {
    slots.emplace_back(bytes.data() + at, strnlen(bytes.data() + at, kAliasLimit));
  }
  return true;
}

std::string file_bytes(const std::vector<std::string>& slots) {
  std::string bytes(kHeadSize + slots.size() * kHeaderSlotSize, '\0');
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  for (size_t i = 0; i < slots.size(); ++i) {
    std::memcpy(bytes.data() + kHeadSize + i * kHeaderSlotSize, slots[i].data(), std::min(slots[i].size(), kAliasLimit));
  }
  return bytes;
}

// Writes the slots, or removes the file when every slot is empty.
int store_slots(const std::string& path, const std::vector<std::string>& slots) {
  bool any = std::any_of(slots.begin(), slots.end(), [](const std::string& s) { return !s.empty(); });
  if (!any) return file_unlink(path) || errno == ENOENT ? 1 : 0;
  return replace_file(path, file_bytes(slots), 0600);
}

}  // namespace

void set_header_file_name(Table& table) {
  const std::string& path = table.file_name;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  bool has_dot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  table.header_file_name = path.substr(0, has_dot ? dot : path.size()) + ".hdr";
}

void read_header_file(Table& table) {
  std::vector<std::string> slots;
  if (!read_slots(table.header_file_name, slots)) return;
  table.aliases.resize(size_t(table.field_count()));
  for (size_t i = 0; i < slots.size() && i < table.aliases.size(); ++i) table.aliases[i] = slots[i];
}

int write_header_file(Table& table) {
  std::vector<std::string> slots(table.aliases.begin(), table.aliases.end());
  slots.resize(size_t(table.field_count()));
  return replace_file(table.header_file_name, file_bytes(slots), 0600);
}

int save_aliases(Table& table, bool captions_ansi) {
  bool any = std::any_of(table.aliases.begin(), table.aliases.end(), [](const std::string& s) { return !s.empty(); });
  if (!any) return store_slots(table.header_file_name, {});
  if (captions_ansi) {
    for (std::string& alias : table.aliases) alias = table_oem_to_ansi(table, alias);
  }
  return write_header_file(table);
}

int remap_header_file(const std::string& path, const std::vector<int>& sources) {
  std::vector<std::string> old_slots;
  if (!read_slots(path, old_slots)) return 1;
  std::vector<std::string> slots(sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    int from = sources[i];
    if (from >= 0 && size_t(from) < old_slots.size()) slots[i] = old_slots[size_t(from)];
  }
  return store_slots(path, slots);
}

}  // namespace kora
