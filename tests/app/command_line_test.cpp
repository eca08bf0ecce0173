// Finding the program's own file, side-file names, switches and table names.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "app/help.h"

namespace kora {
namespace {

using test::TempDir;

std::string program_path(const char* argv0, const char* path_value, const char* cwd, int* found = nullptr) {
  char out[kPathBufferSize];
  std::memset(out, 'x', sizeof out);
  int result = find_program_path(argv0, path_value, cwd, out);
  if (found) *found = result;
  return out;
}

void make_file(const std::string& path, mode_t mode) {
  test::write_bytes(path, {'#', '!', '\n'});
  chmod(path.c_str(), mode);
}

TEST(ProgramPath, NameWithSlashIsTakenAsIsOrJoinedToTheWorkingDirectory) {
  EXPECT_EQ(program_path("/usr/local/bin/kora", nullptr, nullptr), "/usr/local/bin/kora");
  EXPECT_EQ(program_path("bin/kora", nullptr, "/home/u"), "/home/u/bin/kora");
  EXPECT_EQ(program_path("./kora", nullptr, "/home/u"), "/home/u/kora");
  EXPECT_EQ(program_path("./kora", nullptr, "/"), "/kora");
  EXPECT_EQ(program_path("../bin/kora", nullptr, "/home/u/"), "/home/u/../bin/kora");
}

TEST(ProgramPath, FailureGivesDotSlash) {
  int found = -1;
  EXPECT_EQ(program_path("bin/kora", "/usr/bin", nullptr, &found), "./");
  EXPECT_EQ(found, 0);
  EXPECT_EQ(program_path("kora", nullptr, "/tmp", &found), "./");  // no PATH
  EXPECT_EQ(found, 0);
  EXPECT_EQ(program_path("", "/usr/bin", "/tmp"), "./");
  EXPECT_EQ(program_path(nullptr, "/usr/bin", "/tmp"), "./");
}

TEST(ProgramPath, PathSearchTakesTheFirstExecutableFileAndSkipsEmptyElements) {
  TempDir dir;
  std::string plain = dir.file("plain"), folder = dir.file("folder"), exec = dir.file("exec");
  mkdir(plain.c_str(), 0755);
  mkdir(folder.c_str(), 0755);
  mkdir(exec.c_str(), 0755);
  mkdir((folder + "/kora").c_str(), 0755);  // a directory is not a program
  make_file(plain + "/kora", 0644);         // nor is a file without execute permission
  make_file(exec + "/kora", 0755);
  std::string path_value = "::" + dir.file("missing") + ":" + plain + "::" + folder + ":" + exec + ":";
  int found = 0;
  EXPECT_EQ(program_path("kora", path_value.c_str(), "/", &found), exec + "/kora");
  EXPECT_EQ(found, 1);
  EXPECT_EQ(program_path("kora", (plain + ":" + folder).c_str(), "/"), "./");
  EXPECT_EQ(program_path("kora", "", "/"), "./");
}

TEST(ProgramPath, DotInPathStandsForTheWorkingDirectory) {
  TempDir dir;
  make_file(dir.file("kora"), 0755);
  EXPECT_EQ(program_path("kora", "/nonexistent:.", dir.path().c_str()), dir.file("kora"));
  // An unreadable working directory ends the search at the '.' element.
  EXPECT_EQ(program_path("kora", (".:" + dir.path()).c_str(), nullptr), "./");
}

TEST(ProgramPath, NamesLongerThanTheBufferAreNeverCopied) {
  // 259 characters fit the 260-byte buffer with its NUL; 260 do not.
  std::string fits = std::string("/").append(253, 'd') + "/kora";
  ASSERT_EQ(fits.size(), 259u);
  EXPECT_EQ(program_path(fits.c_str(), nullptr, nullptr), fits);
  std::string too_long = std::string("/").append(254, 'd') + "/kora";
  EXPECT_EQ(program_path(too_long.c_str(), nullptr, nullptr), "./");

  std::string long_cwd = std::string("/").append(300, 'c');
  EXPECT_EQ(program_path("./kora", nullptr, long_cwd.c_str()), "./");
  std::string cwd_at_limit = std::string("/").append(250, 'c');  // 251 + "/" + 8 = 260: one too many
  EXPECT_EQ(program_path("bin/kora", nullptr, cwd_at_limit.c_str()), "./");
  EXPECT_EQ(program_path(std::string(300, 'k').c_str(), "/usr/bin:/bin", "/"), "./");
}

TEST(ProgramPath, OverLongPathElementsAreSkippedAndALongPathIsWalkedToTheEnd) {
  TempDir dir;
  make_file(dir.file("kora"), 0755);
  std::string path_value;
  for (int i = 0; i < 40; ++i) path_value.append("/no/such/folder/number/").append(std::to_string(i)).append(":");
  path_value.append("/").append(400, 'e').append(":");  // an element longer than the buffer
  path_value.append(".:").append(dir.path());
  ASSERT_GT(path_value.size(), 3 * kPathBufferSize);
  // '.' with a working directory too long for the buffer: the search fails there.
  std::string long_cwd = std::string("/").append(300, 'c');
  EXPECT_EQ(program_path("kora", path_value.c_str(), long_cwd.c_str()), "./");
  EXPECT_EQ(program_path("kora", path_value.c_str(), "/no/such/cwd"), dir.file("kora"));
}

TEST(SideFile, ReplacesTheExtensionOfTheProgramFileName) {
  EXPECT_EQ(side_file_name("/usr/local/bin/kora", ".ini"), "/usr/local/bin/kora.ini");
  EXPECT_EQ(side_file_name("/opt/kora.d/kora", ".lst"), "/opt/kora.d/kora.lst");
  EXPECT_EQ(side_file_name("/opt/bin/kora.bin", ".fvr"), "/opt/bin/kora.fvr");
  EXPECT_EQ(side_file_name("/opt/bin/kora.tar.gz", ".mac"), "/opt/bin/kora.tar.mac");
}

TEST(SideFile, UserFolderFollowsXdgConfigHomeThenHome) {
  EXPECT_EQ(user_side_folder("/x/cfg", "/home/u"), "/x/cfg/kora");
  EXPECT_EQ(user_side_folder(nullptr, "/home/u"), "/home/u/.config/kora");
  EXPECT_EQ(user_side_folder("relative/cfg", "/home/u"), "/home/u/.config/kora");
  EXPECT_EQ(user_side_folder("", "/home/u"), "/home/u/.config/kora");
  EXPECT_EQ(user_side_folder(nullptr, nullptr), "");
}

TEST(HelpTable, FoundBesideTheProgramFirstThenInTheInstalledDataFolder) {
  TempDir dir;
  mkdir(dir.file("bin").c_str(), 0755);
  std::string program = dir.file("bin/kora");
  std::string beside = dir.file("bin/help/english.dbf");
  std::string installed = dir.file("bin/../share/kora/help/english.dbf");
  EXPECT_EQ(help_table_path(program), beside);  // neither: the first place is named
  for (const char* folder : {"share", "share/kora", "share/kora/help"}) mkdir(dir.file(folder).c_str(), 0755);
  test::write_bytes(installed, {1});
  EXPECT_EQ(help_table_path(program), installed);
  mkdir(dir.file("bin/help").c_str(), 0755);
  test::write_bytes(beside, {1});
  EXPECT_EQ(help_table_path(program), beside);
}

CommandLine parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kora");
  return parse_command_line(int(args.size()), args.data());
}

TEST(CommandLine, HelpIsRecognisedOnlyAsTheFirstArgument) {
  for (const char* help : {"/h", "/H", "/?", "-h", "-H", "-?"}) EXPECT_TRUE(parse({help, "a.dbf"}).help) << help;
  for (const char* other : {"/help", "-hh", "/", "h"}) EXPECT_FALSE(parse({other}).help) << other;
  CommandLine later = parse({"a.dbf", "/h"});
  EXPECT_FALSE(later.help);
  ASSERT_EQ(later.names.size(), 1u);
  EXPECT_EQ(later.names[0], "a.dbf");
}

TEST(CommandLine, SwitchesTakeEitherPrefixInAnyCase) {
  CommandLine line = parse({"-RO", "/Mo", "-cR", "/mS", "x.dbf"});
  EXPECT_EQ(line.switches.read_only, 1);
  EXPECT_EQ(line.switches.no_mouse, 1);
  EXPECT_EQ(line.switches.create, 1);
  EXPECT_EQ(line.switches.modify, 1);
  EXPECT_EQ(line.switches.auto_correct, 0);
  EXPECT_EQ(line.switches.review_order, 0);
  EXPECT_EQ(line.names, std::vector<std::string>{"x.dbf"});
}

TEST(CommandLine, WordSwitchesMustMatchWholeAndUnknownOnesAreIgnored) {
  CommandLine line = parse({"/rox", "/m", "/crx", "/ms2", "/zz", "-", "x.dbf"});
  EXPECT_EQ(line.switches.read_only, 0);
  EXPECT_EQ(line.switches.no_mouse, 0);
  EXPECT_EQ(line.switches.create, 0);
  EXPECT_EQ(line.switches.modify, 0);
  EXPECT_EQ(line.switches.review_order, 0);  // "/rox": the letter after r is neither + nor -
  EXPECT_EQ(line.names, std::vector<std::string>{"x.dbf"});
}

TEST(CommandLine, TheCodePageSwitchKeepsItsNameWhateverItHolds) {
  CommandLine line = parse({"/CP:ISO-8859-1", "x.dbf"});
  EXPECT_TRUE(line.code_page_given);
  EXPECT_EQ(line.code_page, "ISO-8859-1");
  EXPECT_EQ(line.names, std::vector<std::string>{"x.dbf"});
  EXPECT_EQ(parse({"x.dbf", "-cp:a/b.c"}).code_page, "a/b.c");
  EXPECT_TRUE(parse({"/cp:", "x"}).code_page_given);
  EXPECT_FALSE(parse({"/cpx", "x"}).code_page_given);
}

TEST(CommandLine, AutoCorrectLooksAtTheFirstLetterOnly) {
  EXPECT_EQ(parse({"/a", "x"}).switches.auto_correct, 1);
  EXPECT_EQ(parse({"/auto", "x"}).switches.auto_correct, 1);
  EXPECT_EQ(parse({"-Anything", "x"}).switches.auto_correct, 1);
  EXPECT_EQ(parse({"/a+", "x"}).switches.auto_correct, 2);
  EXPECT_EQ(parse({"-A+", "x"}).switches.auto_correct, 2);
  EXPECT_EQ(parse({"/xa", "x"}).switches.auto_correct, 0);
}

TEST(CommandLine, ReviewOrderFollowsTheCharacterAfterR) {
  EXPECT_EQ(parse({"/r+"}).switches.review_order, 2);
  EXPECT_EQ(parse({"-R-"}).switches.review_order, 1);
  EXPECT_EQ(parse({"/r+", "/r-"}).switches.review_order, 1);
  EXPECT_EQ(parse({"/r-", "/ro", "/r"}).switches.review_order, 1);
}

TEST(CommandLine, SwitchesAnywhereApplyAndNamesKeepTheirOrder) {
  CommandLine line = parse({"/ro", "/r+", "a.dbf", "b.dbf"});
  EXPECT_EQ(line.switches.read_only, 1);
  EXPECT_EQ(line.switches.review_order, 2);
  EXPECT_EQ(line.names, (std::vector<std::string>{"a.dbf", "b.dbf"}));
  CommandLine after = parse({"a.dbf", "/ro", "b.dbf", "/a+"});
  EXPECT_EQ(after.switches.read_only, 1);
  EXPECT_EQ(after.switches.auto_correct, 2);
  EXPECT_EQ(after.names, (std::vector<std::string>{"a.dbf", "b.dbf"}));
}

TEST(CommandLine, AbsolutePathsAreTableNamesNotSwitches) {
  // Without this "/archive/x.dbf" would switch on auto-correct and be lost as a name.
  CommandLine line = parse({"/archive/x.dbf", "/ro", "/a.dbf", "/home/u/r+"});
  EXPECT_EQ(line.switches.auto_correct, 0);
  EXPECT_EQ(line.switches.review_order, 0);
  EXPECT_EQ(line.switches.read_only, 1);
  EXPECT_EQ(line.names, (std::vector<std::string>{"/archive/x.dbf", "/a.dbf", "/home/u/r+"}));
  EXPECT_TRUE(is_switch("-x.dbf"));  // the minus prefix always marks a switch
}

TEST(CommandLine, TableNameIsMadeAbsolute) {
  EXPECT_EQ(absolute_table_name("a.dbf", "/home/u"), "/home/u/a.dbf");
  EXPECT_EQ(absolute_table_name("a.dbf", "/"), "/a.dbf");
  EXPECT_EQ(absolute_table_name("sub/a.dbf", "/home/u/"), "/home/u/sub/a.dbf");
  EXPECT_EQ(absolute_table_name("/data/a.dbf", "/home/u"), "/data/a.dbf");
  EXPECT_EQ(absolute_table_name("a.dbf", nullptr), "a.dbf");
}

}  // namespace
}  // namespace kora
