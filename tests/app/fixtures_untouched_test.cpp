// kora never writes to a table it was not asked to change: opening every
// fixture, browsing it in both views and quitting leaves the table and its
// memo file byte for byte as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "program_driver.h"
#include "table/dbf_file.h"

namespace kora {
namespace {

namespace fs = std::filesystem;
using namespace kora::test;

bool is_table_name(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".dbf" || ext == ".dbc";
}

std::vector<fs::path> fixture_tables() {
  std::vector<fs::path> tables;
  for (const auto& entry : fs::recursive_directory_iterator(fixture("")))
    if (entry.is_regular_file() && is_table_name(entry.path())) tables.push_back(entry.path());
  std::sort(tables.begin(), tables.end());
  return tables;
}

// The table and every file beside it with the same base name (its memo file).
std::vector<fs::path> companions(const fs::path& table) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(table.parent_path()))
    if (entry.is_regular_file() && entry.path().stem() == table.stem()) files.push_back(entry.path());
  return files;
}

TEST(FixturesUntouched, OpeningBrowsingAndQuittingWritesNothing) {
  std::vector<fs::path> tables = fixture_tables();
  ASSERT_GT(tables.size(), 50u);
  const std::vector<int> browse = {kPgDn,  kCtrlEnd, kPgUp, kCtrlHome, kRight, kRight, kTab, kCtrlRight,
                                   kEnd,   kHome,    kF2,   kDown,     kPgDn,  kF2,    kAltF, kEsc,
                                   kF12,   kF12,     kDown, kF10};
  for (const fs::path& table : tables) {
    SCOPED_TRACE(table.string());
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> before;
    for (const fs::path& file : companions(table)) {
      std::string copy = dir.file(file.filename().string());
      copy_file(file.string(), copy);
      before.push_back({copy, read_bytes(copy)});
    }
    std::string copy = dir.file(table.filename().string());

    // A header with errors is answered Continue, which writes nothing.
    std::vector<int> keys;
    if (auto opened = open_table(copy); opened && opened->header_errors != 0) keys = {kRight, kEnter};
    keys.insert(keys.end(), browse.begin(), browse.end());
    run_kora({copy}, keys);

    for (const auto& [path, bytes] : before) EXPECT_EQ(read_bytes(path), bytes) << path;
    size_t files_after = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) files_after += entry.is_regular_file();
    EXPECT_EQ(files_after, before.size()) << "kora left a file beside the table";
  }
}

}  // namespace
}  // namespace kora
