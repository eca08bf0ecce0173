// Files the tools write: appended texts, and whole files replaced only after
// asking, never over a table open in kora, never left half-written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "tools/output_file.h"
#include "tools/structure_forms.h"

namespace kora {
namespace {

using namespace kora::test;

std::string text_of(const std::string& path) {
  std::vector<uint8_t> bytes = read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void put_text(const std::string& path, const std::string& text) {
  write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(OutputFile, AppendAddsToTheEndAndReportsWhatFails) {
  TempDir dir;
  std::string path = dir.file("notes.txt");
  EXPECT_EQ(append_to_file(path, "one\n", {}), OutputStatus::kOk);
  EXPECT_EQ(append_to_file(path, "two\n", {}), OutputStatus::kOk);
  EXPECT_EQ(text_of(path), "one\ntwo\n");
  EXPECT_EQ(append_to_file(dir.file("missing/notes.txt"), "x", {}), OutputStatus::kCannotOpen);
  EXPECT_EQ(append_to_file("/dev/full", "x", {}), OutputStatus::kWriteFailed);
}

TEST(OutputFile, NeverWritesIntoAnOpenTableWhateverNamesIt) {
  TempDir dir;
  std::string table = dir.file("open.dbf");
  put_text(table, "table bytes");
  ASSERT_EQ(link(table.c_str(), dir.file("hard.dbf").c_str()), 0);
  ASSERT_EQ(symlink(table.c_str(), dir.file("soft.dbf").c_str()), 0);
  OutputGuard guard;
  guard.open_files = {dir.file("./open.dbf")};
  bool asked = false;
  guard.confirm_replace = [&asked](const std::string&) { return asked = true; };
  for (const char* name : {"open.dbf", "hard.dbf", "soft.dbf"}) {
    EXPECT_EQ(append_to_file(dir.file(name), "x", guard), OutputStatus::kOpenTable) << name;
    EXPECT_EQ(replace_output_file(dir.file(name), "x", guard), OutputStatus::kOpenTable) << name;
  }
  EXPECT_FALSE(asked);
  EXPECT_EQ(text_of(table), "table bytes");
}

TEST(OutputFile, ReplaceAsksKeepsLinksAndModeAndLeavesNoTemporaryFile) {
  TempDir dir;
  std::string path = dir.file("old.dbf");
  put_text(path, "old");
  chmod(path.c_str(), 0640);
  OutputGuard guard;
  EXPECT_EQ(replace_output_file(path, "new", guard), OutputStatus::kCancelled);  // nobody to ask: kept
  std::string asked_for;
  guard.confirm_replace = [&asked_for](const std::string& name) {
    asked_for = name;
    return false;
  };
  EXPECT_EQ(replace_output_file(path, "new", guard), OutputStatus::kCancelled);
  EXPECT_EQ(asked_for, path);
  EXPECT_EQ(text_of(path), "old");

  guard.confirm_replace = [](const std::string&) { return true; };
  ASSERT_EQ(symlink(path.c_str(), dir.file("link.dbf").c_str()), 0);
  EXPECT_EQ(replace_output_file(dir.file("link.dbf"), "new", guard), OutputStatus::kOk);
  EXPECT_EQ(text_of(path), "new");
  struct stat info;
  ASSERT_EQ(lstat(dir.file("link.dbf").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  EXPECT_EQ(replace_output_file(dir.file("fresh.dbf"), "made", {}), OutputStatus::kOk);  // nothing to ask about
  EXPECT_EQ(text_of(dir.file("fresh.dbf")), "made");
  EXPECT_EQ(replace_output_file(dir.path(), "x", guard), OutputStatus::kCannotOpen);  // a folder
  std::string out;
  run_command("ls -A '" + dir.path() + "'", out);
  EXPECT_EQ(out, "fresh.dbf\nlink.dbf\nold.dbf\n");
}

TEST(OutputFile, StructureFormsAppendExceptTheTableFormAndSpareTheTableItself) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 30}};
  std::string table_path = dir.file("t.dbf");
  write_bytes(table_path, build_dbf(layout));
  auto table = open_table(table_path);
  ASSERT_TRUE(table);
  std::string text = dir.file("t.txt");
  ASSERT_EQ(write_structure_file(text, StructureForm::kText, *table, {}, {}), OutputStatus::kOk);
  ASSERT_EQ(write_structure_file(text, StructureForm::kText, *table, {}, {}), OutputStatus::kOk);
  std::string one = structure_text(StructureForm::kText, *table, {});
  EXPECT_EQ(text_of(text), one + one);
  EXPECT_EQ(one.substr(0, 6 + table_path.size()), "File: " + table_path);

  std::vector<uint8_t> before = read_bytes(table_path);
  OutputGuard yes;
  yes.confirm_replace = [](const std::string&) { return true; };
  for (StructureForm form : {StructureForm::kDbf, StructureForm::kMiva}) {
    EXPECT_EQ(write_structure_file(table_path, form, *table, {}, yes), OutputStatus::kOpenTable);
  }
  EXPECT_EQ(read_bytes(table_path), before);
  std::string dbf = dir.file("s.dbf");
  put_text(dbf, "some longer old contents that must go entirely");
  ASSERT_EQ(write_structure_file(dbf, StructureForm::kDbf, *table, {}, yes), OutputStatus::kOk);
  EXPECT_EQ(text_of(dbf), structure_text(StructureForm::kDbf, *table, {}));
}

}  // namespace
}  // namespace kora
