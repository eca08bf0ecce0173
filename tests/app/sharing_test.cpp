// A table with an index file kora does not update asks before its first
// change, once, and its header's index flag is never changed.
#include "app/sharing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/test_support.h"
#include "program_driver.h"

namespace kora {
namespace {

using test::run_kora;
using test::TempDir;

constexpr int kF4 = 0x3E00, kDown = 0x5000, kUp = 0x4800, kEnter = 0x1C0D, kRight = 0x4D00;

TEST(Sharing, AnIndexFileBesideTheTableIsAskedAboutOnceBeforeTheFirstChange) {
  struct Case {
    const char* index;   // file beside the table, none when empty
    int answer_keys;     // Right presses before Enter: 0 Edit anyway, 1 Open read-only
    bool written;
  };
  // setup.dbf's header flags a structural index: without the file the
  // question names the one it would be.
  const Case cases[] = {{"SETUP.CDX", 0, true}, {"setup.ntx", 1, false}, {"", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    TempDir dir;
    std::string path = dir.copy_fixture("infused-dbf/foxprodb/setup.dbf", "setup.dbf");
    if (*c.index) test::write_bytes(dir.file(c.index), {0});
    std::vector<uint8_t> before = test::read_bytes(path);
    size_t first = size_t(before[8] | before[9] << 8) + 1;  // KEY_NAME of record 1

    std::vector<std::string> questions;
    test::on_screen_wait() = [&] {
      for (int y = 0; y < 25; ++y) {
        std::string line = test::row(y);
        if (line.find("index file") != std::string::npos) questions.push_back(line);
      }
    };
    std::vector<int> keys = {kF4, 'Q', kDown};
    for (int k = 0; k < c.answer_keys; ++k) keys.push_back(kRight);
    // The answer, then a second change: asked no more.
    keys.insert(keys.end(), {kEnter, kUp, 'W', kDown, kF4});
    run_kora({path}, keys);
    test::on_screen_wait() = nullptr;

    std::string expected = *c.index ? c.index : "setup.cdx";
    ASSERT_FALSE(questions.empty());
    EXPECT_NE(questions.front().find("setup.dbf has an index file (" + expected + ")"), std::string::npos)
        << questions.front();

    std::vector<uint8_t> after = test::read_bytes(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[28], before[28]);  // the structural index flag
    // Asked again, the run-out Esc would have refused the second change.
    EXPECT_EQ(after[first] == 'W', c.written);
    if (!c.written) {
      EXPECT_EQ(after, before);
    }
  }
}

}  // namespace
}  // namespace kora
