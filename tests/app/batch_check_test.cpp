// kora /check on copies of real tables and of a generated one, each damaged
// in one way by check_damage.py: exactly the damage made is found, in its
// field and records, with the exit statuses scripts rely on; the fixtures
// as they are show only the damage their writers left.
#include <gtest/gtest.h>

#include <string>

#include "../support/test_support.h"
#include "table/table_cipher.h"

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

// An encoded table is checked under the password of KORA_PASSWORD; without
// it every deletion flag is noise, and kora says what may be the cause.
TEST(BatchCheck, AnEncodedTableIsCheckedUnderThePasswordOfTheEnvironment) {
  test::TempDir dir;
  std::string table = dir.copy_fixture("dbfread/examples/files/people.dbf", "people.dbf");
  {
    std::unique_ptr<Table> open = open_table(table);
    ASSERT_TRUE(open);
    ASSERT_EQ(rewrite_enciphered(*open, "s3cret"), Status::kOk);
  }
  std::string out;
  EXPECT_EQ(test::run_command("KORA_PASSWORD=s3cret " KORA_BINARY_DIR "/kora /check '" + table + "' 2>&1", out), 0);
  EXPECT_NE(out.find("sound, 3 records checked"), std::string::npos) << out;
  EXPECT_EQ(test::run_command(KORA_BINARY_DIR "/kora /check '" + table + "' 2>&1", out), 1);
  EXPECT_NE(out.find("if the table is encoded, give its password in KORA_PASSWORD"), std::string::npos) << out;
}

}  // namespace
}  // namespace kora
