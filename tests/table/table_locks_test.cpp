// Sharing a table with another program: its classic fcntl locks (taken by a
// small Python script, as xBase programs on Unix take them) stop kora's
// writes of the record or the whole table, kora's locks stop its, and a
// table it holds a file lock on opens read-only.
#include "table/table_locks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"

namespace kora {
namespace {

using test::TempDir;

const std::string kLocker = std::string(KORA_SOURCE_DIR) + "/tests/table/fcntl_locker.py";

// A table of five records: header 65 bytes, records of 11.
std::string make_table(const TempDir& dir) {
  test::DbfLayout spec;
  spec.fields = {{"NAME", 'C', 10}};
  spec.records = {"ONE", "TWO", "THREE", "FOUR", "FIVE"};
  std::string path = dir.file("shared.dbf");
  test::write_bytes(path, test::build_dbf(spec));
  return path;
}

// The documented bytes of record n (from 1) in each dialect.
std::string clipper_record(int n) { return std::to_string(1000000000 + n) + ":1"; }
std::string foxpro_record(int n) { return std::to_string(0x40000000 + 65 + (n - 1) * 11) + ":1"; }
std::string vfp_record(int n) { return std::to_string(0x7FFFFFFE - n) + ":1"; }

// The other program, holding its locks until it is let go.
class Holder {
 public:
  Holder(const std::string& path, const std::vector<std::string>& locks) {
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(to_child[0], 0);
      dup2(from_child[1], 1);
      close(to_child[1]);
      close(from_child[0]);
      std::vector<std::string> args{"/usr/bin/python3", kLocker, "hold", path};
      args.insert(args.end(), locks.begin(), locks.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    input_ = to_child[1];
    // The answer's line end may come in a write of its own: the pipe stays
    // open until the holder is let go, or that write would end it.
    output_ = from_child[0];
    char said[8] = {};
    held_ = read(output_, said, 4) == 4 && std::string(said) == "held";
  }
  ~Holder() { release(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  bool held() const { return held_; }
  pid_t pid() const { return pid_; }
  void release() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (output_ >= 0) close(output_);
    output_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  bool held_ = false;
};

// Which of the locks the other program could take now: "1" or "0" each.
std::string others_may_take(const std::string& path, const std::vector<std::string>& locks) {
  std::string command = "/usr/bin/python3 " + kLocker + " try " + path;
  for (const std::string& lock : locks) command += " " + lock;
  std::string out;
  test::run_command(command, out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(TableLocks, AnotherProgramsRecordLockInAnyDialectStopsThatRecordAndWholeTableChanges) {
  TempDir dir;
  std::string path = make_table(dir);
  for (const std::string& lock : {clipper_record(2), foxpro_record(2), vfp_record(2)}) {
    SCOPED_TRACE(lock);
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    std::vector<LockConflict> asked;
    table->locks.ask = [&](const LockConflict& conflict) {
      asked.push_back(conflict);
      return false;
    };
    Holder other(path, {lock});
    ASSERT_TRUE(other.held());

    EXPECT_EQ(read_record(*table, 1), 1);
    EXPECT_EQ(write_record(*table, 1), 0);  // record 2, locked
    EXPECT_EQ(write_delete_flag(*table, 1), 0);
    EXPECT_EQ(write_record(*table, 2), 1);  // record 3 is free
    EXPECT_EQ(pack_table(*table, 1), 0);
    EXPECT_EQ(insert_record(*table, 0, true), 0);
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0].wanted, LockKind::kRecord);
    EXPECT_EQ(asked[0].record, 1u);
    EXPECT_EQ(asked[0].held, LockKind::kRecord);
    EXPECT_EQ(asked[0].holder, other.pid());
    EXPECT_EQ(asked[2].wanted, LockKind::kFile);
    EXPECT_EQ(asked[2].command, "Pack");
    EXPECT_EQ(asked[3].command, "Insert");
    EXPECT_EQ(table->record_count, 5u);

    other.release();
    EXPECT_EQ(write_record(*table, 1), 1);
    EXPECT_EQ(asked.size(), 4u);
  }
}

TEST(TableLocks, KorasRecordAndFileLocksStopAnotherProgramInEveryDialect) {
  TempDir dir;
  std::string path = make_table(dir);
  std::unique_ptr<Table> table = open_table(path);
  ASSERT_TRUE(table);
  const std::vector<std::string> record2 = {clipper_record(2), foxpro_record(2), vfp_record(2)};
  const std::vector<std::string> record3 = {clipper_record(3), foxpro_record(3), vfp_record(3)};
  const std::vector<std::string> headers = {"1000000000:1", std::to_string(0x40000000) + ":1",
                                            std::to_string(0x7FFFFFFE) + ":1"};

  ASSERT_EQ(lock_record(*table, 1), Status::kOk);
  EXPECT_EQ(others_may_take(path, record2), "000");
  EXPECT_EQ(others_may_take(path, record3), "111");
  ASSERT_EQ(lock_append(*table), Status::kOk);
  EXPECT_EQ(others_may_take(path, headers), "000");
  unlock_append(*table);
  EXPECT_EQ(others_may_take(path, headers), "111");

  // A whole-table change holds everything; ending it keeps the record lock
  // taken before it.
  ASSERT_EQ(lock_file(*table, "Pack"), Status::kOk);
  EXPECT_EQ(others_may_take(path, record3), "000");
  EXPECT_EQ(others_may_take(path, headers), "000");
  unlock_file(*table);
  EXPECT_EQ(others_may_take(path, record3), "111");
  EXPECT_EQ(others_may_take(path, record2), "000");

  // A write of the locked record keeps holding it for the editor.
  EXPECT_EQ(read_record(*table, 1), 1);
  EXPECT_EQ(write_record(*table, 1), 1);
  EXPECT_EQ(others_may_take(path, record2), "000");
  unlock_record(*table, 1);
  EXPECT_EQ(others_may_take(path, record2), "111");
}

TEST(TableLocks, ATableAnotherProgramHoldsAFileLockOnOpensReadOnlyUntilLetGo) {
  TempDir dir;
  std::string path = make_table(dir);
  // Clipper's, FoxPro's and Visual FoxPro's file locks.
  for (const std::string& lock : {std::string("1000000001:1000000000"), std::string("1073741825:1073741821"),
                                  std::string("2013265919:134217727")}) {
    SCOPED_TRACE(lock);
    {
      Holder other(path, {lock});
      ASSERT_TRUE(other.held());
      std::unique_ptr<Table> table = open_table(path);
      ASSERT_TRUE(table);
      EXPECT_TRUE(table->read_only);
      EXPECT_EQ(read_only_reason(*table), "locked by another program");
      EXPECT_EQ(foreign_file_lock(*table), LockKind::kFile);
    }
    std::unique_ptr<Table> table = open_table(path);
    EXPECT_FALSE(table->read_only);
    // A record lock alone leaves the table writable.
    Holder other(path, {clipper_record(1)});
    std::unique_ptr<Table> beside = open_table(path);
    EXPECT_FALSE(beside->read_only);
  }
}

}  // namespace
}  // namespace kora
