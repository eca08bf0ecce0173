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

constexpr int kF4 = 0x3E00, kDown = 0x5000, kUp = 0x4800, kEnter = 0x1C0D;

TEST(Sharing, AnIndexFileBesideTheTableIsAskedAboutOnceBeforeTheFirstChange) {
  struct Case {
    const char* index;  // file beside the table, none when empty
    const char* named;  // in the question
    bool edit_anyway;   // else the keys run out there and Esc answers
  };
  // setup.dbf's header flags a structural index: without the file the
  // question names the one it would be.
  const Case cases[] = {{"SETUP.CDX", "SETUP.CDX", false}, {"", "setup.cdx", false}, {"setup.ntx", "", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    TempDir dir;
    std::string path = dir.copy_fixture("infused-dbf/foxprodb/setup.dbf", "setup.dbf");
    if (*c.index) test::write_bytes(dir.file(c.index), {0});
    std::vector<uint8_t> before = test::read_bytes(path);
    size_t first = size_t(before[8] | before[9] << 8) + 1;  // KEY_NAME of record 1

    // The program waits (the keys ran out) only with the question up.
    std::string question;
    test::on_screen_wait() = [&] {
      for (int y = 0; y < 25 && question.empty(); ++y)
        if (test::row(y).find("has an index file") != std::string::npos) question = test::row(y);
    };
    std::vector<int> keys = {kF4, 'Q', kDown};
    // Asked again, the run-out Esc would refuse the second change.
    if (c.edit_anyway) keys.insert(keys.end(), {kEnter, kUp, 'W', kDown, kF4});
    run_kora({path}, keys);
    test::on_screen_wait() = nullptr;

    std::vector<uint8_t> after = test::read_bytes(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[28], before[28]);  // the structural index flag
    if (c.edit_anyway) {
      EXPECT_EQ(after[first], 'W');
    } else {
      EXPECT_NE(question.find("setup.dbf has an index file (" + std::string(c.named) + ")"), std::string::npos)
          << question;
      EXPECT_EQ(after, before);  // Esc chose read-only
    }
  }
}

}  // namespace
}  // namespace kora
