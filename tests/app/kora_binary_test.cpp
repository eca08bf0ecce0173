// The built program run as a user runs it, in every case that ends before
// the screen starts: usage text, exit statuses, messages, batch header repair.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"

namespace kora {
namespace {

using test::TempDir;

struct KoraRun {
  int status = -1;
  std::string out;
};

// The built program linked into bin/ of `dir`: kora keeps its side files
// (kora.ini, kora.lst, ...) beside the path it was started by, so a run
// leaves them there and not beside the real build.
std::string program_in(const std::string& dir) {
  std::string bin = dir + "/bin";
  mkdir(bin.c_str(), 0755);
  std::string program = bin + "/kora";
  EXPECT_EQ(symlink(KORA_BINARY_DIR "/kora", program.c_str()), 0) << program;
  return program;
}

// Runs kora in `dir` with `args`; standard error is kept with the output.
KoraRun kora_in(const std::string& dir, const std::string& args) {
  KoraRun run;
  std::string program = dir + "/bin/kora";
  if (access(program.c_str(), F_OK) != 0) program = program_in(dir);
  run.status = test::run_command("cd '" + dir + "' && '" + program + "' " + args + " 2>&1 </dev/null", run.out);
  return run;
}

uint32_t header_count(const std::string& path) {
  std::vector<uint8_t> bytes = test::read_bytes(path);
  return bytes.size() >= 8 ? uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 |
                                 uint32_t(bytes[7]) << 24
                           : 0;
}

// A copy of a fixture whose header claims `extra` more records than it holds.
std::string copy_with_wrong_count(const TempDir& dir, const std::string& fixture, const std::string& name,
                                  uint32_t extra) {
  std::string path = dir.copy_fixture(fixture, name);
  std::vector<uint8_t> bytes = test::read_bytes(path);
  uint32_t count = header_count(path) + extra;
  for (int i = 0; i < 4; ++i) bytes[size_t(4 + i)] = uint8_t(count >> (8 * i));
  test::write_bytes(path, bytes);
  return path;
}

constexpr const char* kStates = "shapelib/mexico/states.dbf";  // 32 records
constexpr const char* kPoints = "infused-dbf/dbase_03.dbf";    // 14 records

// The usage text begins with the version --version prints, and it and the
// manual page name every switch the command line reads and the exit statuses.
TEST(KoraBinary, HelpAsFirstArgumentPrintsTheUsageAndNothingElse) {
  TempDir dir;
  KoraRun version = kora_in(dir.path(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("kora ", 0), 0u) << version.out;
  EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
  std::vector<uint8_t> page = test::read_bytes(KORA_SOURCE_DIR "/man/kora.1");
  const std::string manual(page.begin(), page.end());
  for (const char* help : {"-H", "/h", "/?", "-?", "--help"}) {
    KoraRun run = kora_in(dir.path(), std::string(help) + " missing.dbf");
    EXPECT_EQ(run.status, 0) << help;
    EXPECT_EQ(run.out.rfind(version.out, 0), 0u) << help;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << help;
    EXPECT_EQ(run.out.find('@'), std::string::npos) << "no address: " << run.out;
    for (const char* word : {"/ro", "/mo", "/cr", "/ms", "/a[+]", "/r+", "/r-", "/cp:", "/x:", "/f:", "/s:", "/c:", "/e:",
                             "/append", "/deleted", "/ini", "/strict", "KORA_PASSWORD", "Exit status", "--version"}) {
      EXPECT_NE(run.out.find(word), std::string::npos) << word;
      // The manual page writes a minus as \-; "/a[+]" is "/a" there.
      std::string roff;
      for (const char* c = word; *c && *c != '['; ++c) {
        if (*c == '-') roff += '\\';
        roff += *c;
      }
      if (roff != "Exit status") {
        EXPECT_NE(manual.find(roff), std::string::npos) << "man page: " << roff;
      }
    }
  }
}

TEST(KoraBinary, AnUnknownCodePageIsAUsageErrorNamingThoseKoraKnows) {
  TempDir dir;
  std::string path = dir.copy_fixture(kPoints, "p.dbf");
  KoraRun run = kora_in(dir.path(), "/cp:klingon p.dbf");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.find("kora: unknown code page \"klingon\"; kora knows 437, Mazovia,"), 0u) << run.out;
  EXPECT_NE(run.out.find("UTF-8\n"), std::string::npos) << run.out;
}

TEST(KoraBinary, WithoutATableNameItAsksForOneAndFails) {
  TempDir dir;
  for (const char* args : {"/ro /r+", "/a+"}) {
    KoraRun run = kora_in(dir.path(), args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "Filename required...\n") << args;
  }
}

std::vector<uint8_t> text_bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

constexpr const char* kNotes = "this is a text file, not a table at all.\n";

// A table of two fields and two records; the header may then be spoiled.
std::vector<uint8_t> small_table(uint32_t stored_count = 2) {
  test::DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}};
  layout.records = {"one", "two"};
  layout.stored_count = int(stored_count);
  return test::build_dbf(layout);
}

TEST(KoraBinary, ATableThatCannotBeOpenedIsReportedWithItsReasonAndStatusTwo) {
  TempDir dir;
  std::vector<uint8_t> header_64 = small_table();
  header_64[8] = 64;
  header_64[9] = 0;
  test::DbfLayout unknown_types;
  unknown_types.fields = {{"A", 'X', 2}, {"B", 'X', 2}, {"C", 'C', 2}};
  unknown_types.record_size = 99;  // a list that does not read as a table's otherwise
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;  // none: the file does not exist
    const char* reason;
  };
  const Case cases[] = {
      {"missing.dbf", {}, "No such file"},
      {"short.dbf", {0x03, 1, 2, 3}, "The file is shorter than a table header"},
      {"notes.dbf", text_bytes(kNotes), "Not a table: byte 0 holds 0x74"},
      {"small.dbf", header_64, "The header is too small for the field list: the header says 64"},
      {"types.dbf", test::build_dbf(unknown_types), "Most field types are unknown"},
  };
  for (const Case& c : cases) {
    std::string path = dir.file(c.name);
    if (!c.bytes.empty()) test::write_bytes(path, c.bytes);
    // /a: a repair, were one offered, would write without asking.
    KoraRun run = kora_in(dir.path(), std::string("/a ") + c.name);
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_EQ(run.out, "Cannot open file: " + path + ": " + c.reason + "\n") << c.name;
    if (!c.bytes.empty()) {
      EXPECT_EQ(test::read_bytes(path), c.bytes) << c.name;
    }
    EXPECT_FALSE(test::file_exists(dir.file(std::string(c.name, std::strlen(c.name) - 4) + ".hbk"))) << c.name;
  }
}

TEST(KoraBinary, BatchAutoCorrectFixesTablesKeepsTheOldHeaderAndNamesWhatItSkipped) {
  TempDir dir;
  std::string a = copy_with_wrong_count(dir, kStates, "a.dbf", 5);
  std::string b = copy_with_wrong_count(dir, kPoints, "b.dbf", 100);
  std::vector<uint8_t> a_before = test::read_bytes(a);
  std::string good = dir.copy_fixture(kPoints, "good.dbf");
  std::vector<uint8_t> good_before = test::read_bytes(good);
  test::write_bytes(dir.file("junk.dbf"), {'n', 'o', 't'});
  test::write_bytes(dir.file("notes.dbf"), text_bytes(kNotes));
  // A table with a type letter no program writes, and a wrong count.
  std::vector<uint8_t> odd = small_table(9);
  odd[32 + 11] = 'X';
  test::write_bytes(dir.file("odd.dbf"), odd);
  // A header size 3 bytes off and the last record cut short: neither it nor
  // the 0x0D says where whole records start.
  std::vector<uint8_t> off = small_table();
  off[8] = 100;
  off.resize(off.size() - 2);
  test::write_bytes(dir.file("off.dbf"), off);

  KoraRun run = kora_in(dir.path(), "a.dbf missing.dbf /a+ junk.dbf notes.dbf odd.dbf off.dbf " + b + " good.dbf");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "kora: missing.dbf: Cannot open file: No such file\n"
            "kora: junk.dbf: Cannot open file: The file is shorter than a table header\n"
            "kora: notes.dbf: Cannot open file: Not a table: byte 0 holds 0x74\n"
            "kora: off.dbf: header not corrected: The header size disagrees with the field list: the header says "
            "the records start at byte 100; the field list ends at byte 96\n");
  EXPECT_EQ(header_count(a), 32u);
  EXPECT_EQ(header_count(b), 14u);
  EXPECT_EQ(test::read_bytes(good), good_before);  // no errors, nothing written
  EXPECT_FALSE(test::file_exists(dir.file("good.hbk")));
  EXPECT_EQ(test::read_bytes(dir.file("junk.dbf")), (std::vector<uint8_t>{'n', 'o', 't'}));
  EXPECT_EQ(test::read_bytes(dir.file("notes.dbf")), text_bytes(kNotes));
  EXPECT_EQ(header_count(dir.file("odd.dbf")), 2u);
  EXPECT_EQ(test::read_bytes(dir.file("odd.dbf"))[32 + 11], 'X');
  EXPECT_EQ(test::read_bytes(dir.file("off.dbf")), off);
  EXPECT_FALSE(test::file_exists(dir.file("missing.dbf")));

  // The replaced header bytes are kept beside the table; copied back, they
  // give the file as it was but for the end-of-file mark the repair wrote.
  std::vector<uint8_t> kept = test::read_bytes(dir.file("a.hbk"));
  EXPECT_EQ(kept, std::vector<uint8_t>(a_before.begin(), a_before.begin() + 32));
  std::string out;
  ASSERT_EQ(test::run_command("cd '" + dir.path() + "' && dd if=a.hbk of=a.dbf conv=notrunc 2>/dev/null", out), 0);
  std::vector<uint8_t> undone = test::read_bytes(a);
  ASSERT_EQ(undone.size(), a_before.size());
  EXPECT_EQ(std::vector<uint8_t>(undone.begin(), undone.end() - 1),
            std::vector<uint8_t>(a_before.begin(), a_before.end() - 1));

  // Nothing left to correct: nothing is written and nothing skipped.
  KoraRun again = kora_in(dir.path(), "/a+ b.dbf good.dbf");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
}

}  // namespace
}  // namespace kora

namespace kora {
namespace {

// Input that ends (a file, /dev/null) answers Esc, so the program quits
// instead of waiting for ever on a terminal that will never type.
TEST(KoraBinaryInput, InputAtItsEndLetsTheProgramQuit) {
  TempDir dir;
  dir.copy_fixture(kStates, "states.dbf");
  std::string out;
  std::string program = program_in(dir.path());
  int status = test::run_command("cd '" + dir.path() + "' && TERM=xterm timeout 60 '" + program +
                                 "' states.dbf </dev/null >/dev/null 2>&1; echo $?", out);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "0\n");
}

}  // namespace
}  // namespace kora
