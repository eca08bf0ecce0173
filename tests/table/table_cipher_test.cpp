// Records enciphered under a password: the key stream, the pad of odd
// passwords, and the rewrite of a table's records through a new file.
#include "table/table_cipher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/record_ops.h"

namespace kora {
namespace {

using Bytes = std::vector<uint8_t>;
using test::TempDir;

Bytes key_stream(Rc4State state, size_t size) {
  Bytes bytes(size, 0);
  rc4_apply(state, bytes.data(), bytes.size());
  return bytes;
}

Bytes hex(const char* text) {
  Bytes bytes;
  for (const char* p = text; p[0] && p[1]; p += 2) bytes.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
  return bytes;
}

// Published RC4 vectors (the classic three, and RFC 6229's 40-bit key at
// offset 0), then the key of an odd password with its pad: tables encoded
// under one depend on these bytes.
TEST(TableCipher, KeyStreamsMatchPublishedVectors) {
  struct Case {
    std::string key, plain;
    const char* cipher;
  } cases[] = {
      {"Key", "Plaintext", "bbf316e8d940af0ad3"},
      {"Wiki", "pedia", "1021bf0420"},
      {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
      {std::string("\x01\x02\x03\x04\x05"), std::string(16, '\0'), "b2396305f03dc027ccc3524a0a1118a8"},
  };
  for (const Case& c : cases) {
    Rc4State state = rc4_schedule(reinterpret_cast<const uint8_t*>(c.key.data()), c.key.size());
    Bytes bytes(c.plain.begin(), c.plain.end());
    rc4_apply(state, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, hex(c.cipher)) << c.key;
  }
  EXPECT_EQ(kPasswordPad, '*');
  EXPECT_EQ(key_stream(password_cipher("abc"), 8), hex("3d0e787d6d404c56"));
  EXPECT_EQ(key_stream(password_cipher(std::string(40, 'p')), 16), key_stream(password_cipher(std::string(32, 'p')), 16));
}

std::string write_table(const TempDir& dir) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}};
  layout.records = {"Ivanov       12", "Petrov        7", "Ivanov       12", "Sidorov      99"};
  layout.deleted = {false, true, false, false};
  std::string path = dir.file("people.dbf");
  test::write_bytes(path, test::build_dbf(layout));
  return path;
}

size_t files_in(const std::string& folder) {
  size_t count = 0;
  DIR* d = opendir(folder.c_str());
  while (dirent* e = readdir(d)) count += e->d_name[0] != '.';
  closedir(d);
  return count;
}

Bytes stored_record(const Bytes& file, const Table& t, uint32_t q) {
  auto at = file.begin() + t.header_size + long(q) * t.record_size;
  return Bytes(at, at + t.record_size);
}

TEST(TableCipher, EncodeThenDecodeRestoresEveryByteAndReadsPlainMeanwhile) {
  TempDir dir;
  std::string path = write_table(dir);
  Bytes original = test::read_bytes(path);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  ASSERT_EQ(rewrite_enciphered(*table, "secret"), Status::kOk);
  Bytes encoded = test::read_bytes(path);
  ASSERT_EQ(encoded.size(), original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + table->header_size, encoded.begin()));
  EXPECT_EQ(encoded.back(), original.back());  // the end mark
  EXPECT_NE(stored_record(encoded, *table, 0), stored_record(original, *table, 0));
  EXPECT_EQ(stored_record(encoded, *table, 0), stored_record(encoded, *table, 2));
  EXPECT_EQ(files_in(dir.path()), 1u);

  auto reopened = open_table(path);
  set_table_password(*reopened, "secret");
  ASSERT_EQ(read_record(*reopened, 3), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reopened->record.data()), 16), " Sidorov      99");
  ASSERT_EQ(read_delete_flag(*reopened, 1), 1);
  EXPECT_EQ(reopened->delete_flag, '*');
  ASSERT_EQ(rewrite_enciphered(*reopened, "secret"), Status::kOk);
  EXPECT_EQ(test::read_bytes(path), original);
}

TEST(TableCipher, TheMemoFileAndHeaderAreLeftAlone) {
  TempDir dir;
  std::string path = dir.copy_fixture("infused-dbf/dbase_83.dbf");
  std::string memo = dir.copy_fixture("infused-dbf/dbase_83.dbt");
  Bytes original = test::read_bytes(path), memo_before = test::read_bytes(memo);
  auto table = open_table(path);
  ASSERT_TRUE(table);
  ASSERT_EQ(rewrite_enciphered(*table, "odd"), Status::kOk);
  EXPECT_EQ(test::read_bytes(memo), memo_before);
  Bytes encoded = test::read_bytes(path);
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + table->header_size, encoded.begin()));
  auto again = open_table(path);
  ASSERT_EQ(rewrite_enciphered(*again, "odd"), Status::kOk);
  EXPECT_EQ(test::read_bytes(path), original);
}

// A file-size limit that ends inside the records, in a child process.
int rewrite_beyond_the_limit(const std::string& path) {
  signal(SIGXFSZ, SIG_IGN);
  rlim_t limit = 100;
  struct rlimit fsize = {limit, limit};
  if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
  auto table = open_table(path);
  if (!table) return 3;
  return rewrite_enciphered(*table, "secret") == Status::kWriteError ? 0 : 4;
}

TEST(TableCipher, AFailedWriteAStopOrAReadOnlyTableLeavesTheFileAsItWas) {
  TempDir dir;
  std::string path = write_table(dir);
  Bytes original = test::read_bytes(path);
  ASSERT_GT(original.size(), 100u);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(rewrite_beyond_the_limit(path));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  auto table = open_table(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(rewrite_enciphered(*table, "secret", [](uint64_t, uint64_t) { return false; }), Status::kAborted);
  table->read_only = true;
  EXPECT_EQ(rewrite_enciphered(*table, "secret"), Status::kReadOnly);
  EXPECT_EQ(test::read_bytes(path), original);
  EXPECT_EQ(files_in(dir.path()), 1u);
}

}  // namespace
}  // namespace kora
