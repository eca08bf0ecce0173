#include "table/index_files.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "table/dbf_file.h"

namespace kora {

namespace {

constexpr const char* kIndexExtensions[] = {"cdx", "mdx", "ntx", "ndx", "idx"};

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool is_index_extension(const std::string& extension) {
  std::string wanted = lower(extension);
  return std::any_of(std::begin(kIndexExtensions), std::end(kIndexExtensions),
                     [&](const char* known) { return wanted == known; });
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool has_structural_index_flag(const Table& table) {
  // Byte 28 is the table flags of FoxPro and the production index flag of
  // dBase IV and 7; dBase III leaves it zero.
  return table.layout != DescriptorLayout::kDBase2 && (table.header_bytes[28] & 0x01) != 0;
}

std::vector<std::string> index_files(const Table& table) {
  const std::string& path = table.file_name;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  std::string base = lower(dot == std::string::npos ? name : name.substr(0, dot));

  std::vector<std::string> found;
  std::unique_ptr<DIR, DirCloser> listing(opendir(dir.c_str()));
  for (dirent* entry = listing ? readdir(listing.get()) : nullptr; entry; entry = readdir(listing.get())) {
    std::string candidate = entry->d_name;
    size_t at = candidate.rfind('.');
    if (at == std::string::npos || lower(candidate.substr(0, at)) != base) continue;
    if (is_index_extension(candidate.substr(at + 1))) found.push_back(candidate);
  }
  std::sort(found.begin(), found.end());
  bool structural_present = std::any_of(found.begin(), found.end(), [](const std::string& file) {
    std::string extension = lower(file.substr(file.rfind('.') + 1));
    return extension == "cdx" || extension == "mdx";
  });
  if (has_structural_index_flag(table) && !structural_present) {
    bool dbase = table.kind == kDBase4 || table.layout == DescriptorLayout::kDBase7;
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    found.push_back(stem + (dbase ? ".mdx" : ".cdx"));
  }
  return found;
}

}  // namespace kora
