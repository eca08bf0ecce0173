#include "table/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/test_support.h"

namespace kora {
namespace {

// Three one-byte writes, a read of all three and a rename, under a plan: what
// the file holds afterwards and which calls went through.
TEST(FileIo, AFaultPlanFailsOneCallOrRefusesEveryChangeAfterTheStop) {
  struct Case {
    FaultPlan plan;
    std::string left;      // the file's bytes afterwards
    const char* went;      // per call: w write, r read, n rename; '-' refused
    long refused;
  };
  const Case cases[] = {
      {{}, "abc", "wwwrn", 0},
      {{.fail_call = 2}, std::string("a\0c", 3), "w-wrn", 1},  // the failed write leaves a hole
      {{.fail_call = 4}, "abc", "www-n", 0},
      {{.fail_change = 4}, "abc", "wwwr-", 1},  // the read is no change: the rename is the fourth
      {{.stop_after = 0}, "", "---r-", 4},
      {{.stop_after = 2}, "ab", "ww-r-", 2},
      {{.stop_after = 4}, "abc", "wwwrn", 0},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::string path = dir.file("t"), moved = dir.file("u");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    FaultPlan plan = c.plan;
    std::string went;
    {
      ScopedFaultPlan scope(plan);
      for (int i = 0; i < 3; ++i) went += file_write_at(fd, &"abc"[i], 1, uint64_t(i)) ? 'w' : '-';
      char buffer[3];
      went += file_read_at(fd, buffer, 3, 0) >= 0 ? 'r' : '-';
      went += file_rename(path, moved) ? 'n' : '-';
    }
    ::close(fd);
    std::vector<uint8_t> bytes = test::read_bytes(went.back() == 'n' ? moved : path);
    std::string left(bytes.begin(), bytes.end());
    EXPECT_EQ(left, c.left);
    EXPECT_EQ(went, c.went);
    EXPECT_EQ(plan.refused, c.refused);
  }
}

}  // namespace
}  // namespace kora
