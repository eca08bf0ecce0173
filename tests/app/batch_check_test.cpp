// kora /check on copies of real tables and of a generated one, each damaged
// in one way by check_damage.py: exactly the damage made is found, in its
// field and records, with the exit statuses scripts rely on; the fixtures
// as they are show only the damage their writers left.
#include <gtest/gtest.h>

#include <string>

#include "../support/test_support.h"

namespace kora {
namespace {

TEST(BatchCheck, FindsExactlyTheDamageMadeAndNothingOnSoundTables) {
  test::TempDir dir;
  std::string report;
  int status = test::run_command("/usr/bin/python3 " KORA_SOURCE_DIR "/tests/app/check_damage.py " KORA_BINARY_DIR
                                 "/kora " KORA_FIXTURES_DIR " '" + dir.path() + "/work' 2>&1",
                                 report);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(report, "OK\n");
}

}  // namespace
}  // namespace kora
