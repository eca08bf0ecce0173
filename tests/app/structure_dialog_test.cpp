// Create new and Modify structure run through the whole program with keys:
// the tables they write are read back by python3-dbfread.
#include "app/structure_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/independent_readers.h"
#include "../support/test_support.h"
#include "program_driver.h"
#include "ui/key_codes.h"

namespace kora::test {
namespace {

constexpr const char* kPoints = "dbase-rs/stations.dbf";

struct NamedKey {
  const char* name;
  int key;
};
constexpr NamedKey kNamedKeys[] = {
    {"\n", kEnter},     {"{Esc}", kEsc},   {"{Left}", kLeft}, {"{Down}", kDown},
    {"{F2}", kKeyF2},   {"{F3}", kKeyF3},  {"{F4}", kKeyF4},  {"{F5}", kKeyF5},
    {"{F6}", kKeyF6},   {"{F8}", kKeyF8},  {"{F9}", kKeyF9},  {"{CtrlEnter}", kKeyCtrlEnter},
    {"{CtrlF3}", kKeyCtrlF3}, {"{CtrlF4}", kKeyCtrlF4}, {"{BS}", kKeyBackspace},
};

// The keys: a word of kNamedKeys is its key, any other word is typed.
std::vector<int> keys_of(const std::vector<std::string>& script) {
  std::vector<int> keys;
  for (const std::string& word : script) {
    const NamedKey* named = std::find_if(std::begin(kNamedKeys), std::end(kNamedKeys),
                                         [&](const NamedKey& k) { return word == k.name; });
    if (named != std::end(kNamedKeys)) {
      keys.push_back(named->key);
    } else {
      if (word.front() == '{' && word.back() == '}') ADD_FAILURE() << "no key " << word;
      for (char c : word) keys.push_back(static_cast<unsigned char>(c));
    }
  }
  return keys;
}

// dbfread's view of the fields: "NAME C 20 0;PRICE N 8 2" and the record count.
std::string dbfread_fields(const std::string& path) {
  std::string out;
  std::string command = "/usr/bin/python3 -c \"import dbfread,sys; t=dbfread.DBF(sys.argv[1], load=True, "
                        "ignore_missing_memofile=True); print(';'.join('%s %s %d %d' % (f.name, f.type, f.length, "
                        "f.decimal_count) for f in t.fields), len(t.records))\" " + path + " 2>&1";
  run_command(command, out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class StructureDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) GTEST_SKIP() << "no dbfread";
    shown = dir.copy_fixture(kPoints, "shown.dbf");
  }
  TempDir dir;
  std::string shown;
};

TEST_F(StructureDialogTest, CtrlF3BuildsTheTableFromTheKeysTyped) {
  struct Case {
    const char* what;
    std::vector<std::string> keys;  // in the editor, before Ctrl+Enter and the name
    const char* fields;             // as dbfread reads them; empty: no table made
  };
  const Case cases[] = {
      {"typed fields, one appended and deleted",
       {"NAME", "\n", "C", "20", "\n", "{F5}", "price", "\n", "N", "8", "\n", "2", "\n", "{F5}", "DAY", "\n", "d",
        "{F5}", "{F8}"},
       "NAME C 20 0;PRICE N 8 2;DAY D 8 0 0"},
      // Each refusal's box is closed with Enter; the cell keeps the text typed.
      {"a name another field has is refused",
       {"NAME", "\n", "{F5}", "Name", "\n", "\n", "2", "\n", "{F5}"},
       "NAME C 10 0;NAME2 C 10 0;NEWFIELD C 10 0 0"},
      {"an empty name, a bad character or a digit first is refused",
       {" ", "\n", "\n", "{BS}", "A-B", "\n", "\n", "{BS}", "{BS}", "_B", "\n", "{F5}", "1X", "\n", "\n", "{F8}"},
       "A_B C 10 0 0"},
      {"a numeric width beyond 20 becomes 20, decimals beyond it fewer",
       {"QTY", "\n", "N", "300", "\n", "25", "\n", "{F5}", "\n", "L"},
       "QTY N 20 19;NEWFIELD L 1 0 0"},
      {"a text width of 0 is refused at OK", {"A", "\n", "\n", "0", "{CtrlEnter}", "\n", "{Esc}"}, ""},
      {"the only field deleted leaves a fresh one", {"A", "{F8}"}, "NEWFIELD C 10 0 0"},
      {"F6 inserts before the cursor, Space offers the types from the field's own",
       {"A", "\n", "N", "\n", "{F6}", "\n", " ", "{Down}", "{Down}", "\n", "\n", "3", "{Down}", "{Left}", "{Left}",
        " ", "\n"},
       "NEWFIELD F 10 3;A N 10 0 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string made = dir.file("made.dbf");
    std::remove(made.c_str());
    std::vector<std::string> script = {"{CtrlF3}"};
    script.insert(script.end(), c.keys.begin(), c.keys.end());
    if (*c.fields) script.insert(script.end(), {"{CtrlEnter}", dir.path() + "/made", "\n"});
    EXPECT_EQ(run_kora({shown}, keys_of(script)), 0);
    if (*c.fields) {
      EXPECT_EQ(dbfread_fields(made), c.fields);
    } else {
      EXPECT_FALSE(file_exists(made));
    }
  }
}

TEST_F(StructureDialogTest, SavedStructureLoadsBackAndAnExistingFileIsReplacedOnlyWhenAllowed) {
  // The name box holds ".dbf" with the cursor before it: names are typed without.
  std::string saved = dir.file("list.dbf"), made = dir.file("made.dbf"), made_typed = dir.file("made");
  run_kora({shown}, keys_of({"{CtrlF3}", "ID", "\n", "N", "5", "\n", "{F5}", "NOTE", "\n", "M", "{F2}",
                             dir.path() + "/list", "\n", "{F8}", "{F8}", "{F3}", dir.file("list"), "\n", "{CtrlEnter}", made_typed,
                             "\n"}));
  EXPECT_EQ(file_size(saved), 193 + 2 * 50 + 1);
  EXPECT_EQ(dbfread_fields(saved), "FIELD_NAME C 10 0;FIELD_TYPE C 1 0;FIELD_LEN N 3 0;FIELD_DEC N 3 0;"
                                   "DESCRIPT C 32 0 2");
  EXPECT_EQ(dbfread_fields(made), "ID N 5 0;NOTE M 10 0 0");

  // Declining the question keeps the file; the table open in kora is never replaced.
  std::vector<uint8_t> before = read_bytes(made);
  run_kora({shown}, keys_of({"{CtrlF3}", "X", "{CtrlEnter}", made_typed, "\n", "{Esc}", "{Esc}"}));
  EXPECT_EQ(read_bytes(made), before);
  std::vector<uint8_t> table_before = read_bytes(shown);
  run_kora({shown}, keys_of({"{CtrlF3}", "X", "{CtrlEnter}", dir.file("shown"), "\n", "\n", "{Esc}"}));
  EXPECT_EQ(read_bytes(shown), table_before);
  run_kora({shown}, keys_of({"{CtrlF3}", "X", "{CtrlEnter}", made_typed, "\n", "{Left}", "\n"}));
  EXPECT_EQ(dbfread_fields(made), "X C 10 0 0");
}

TEST_F(StructureDialogTest, CtrlF4WidensAFieldAndTheTableReopensWithEveryRecord) {
  std::string before = dbfread_fields(shown);
  std::string first = before.substr(0, before.find(';'));
  ASSERT_EQ(first.substr(0, 5), "name ");
  run_kora({shown}, keys_of({"{CtrlF4}", "\n", "\n", "77", "{CtrlEnter}"}));
  std::string after = dbfread_fields(shown);
  EXPECT_EQ(after.substr(0, after.find(';')), "name C 77 0");
  EXPECT_EQ(after.substr(after.rfind(' ')), before.substr(before.rfind(' ')));
  EXPECT_EQ(row(0).substr(0, 12), "[0]shown.dbf");

  // Narrower than its values: kept only when the question is answered Keep.
  std::vector<uint8_t> widened = read_bytes(shown);
  run_kora({shown}, keys_of({"{CtrlF4}", "\n", "\n", "5", "{CtrlEnter}", "\n", "{Esc}"}));
  EXPECT_EQ(read_bytes(shown), widened);
  run_kora({shown}, keys_of({"{CtrlF4}", "\n", "\n", "5", "{CtrlEnter}", "{Left}", "\n"}));
  after = dbfread_fields(shown);
  EXPECT_EQ(after.substr(0, after.find(';')), "name C 5 0");
  EXPECT_EQ(after.substr(after.rfind(' ')), before.substr(before.rfind(' ')));
}

TEST_F(StructureDialogTest, AfterARebuildUnderHiddenDeletedRecordsTheCursorStaysOnItsRecord) {
  // Record 1 of 6 is deleted: with it hidden the third row is record 4.
  std::string table = dir.copy_fixture("dbase-rs/stations_with_deleted.dbf", "del.dbf");
  std::vector<int> keys = {kKeyCtrlD, kDown, kDown};
  std::vector<int> modify = keys_of({"{CtrlF4}", "\n", "\n", "200", "{CtrlEnter}"});
  keys.insert(keys.end(), modify.begin(), modify.end());
  run_kora({table}, keys);
  EXPECT_NE(row(0).find(" 4 / 6"), std::string::npos) << row(0);
  std::string fields = dbfread_fields(table);
  EXPECT_EQ(fields.substr(0, fields.find(';')), "name C 200 0");
}

int open_with_late_escape() {
  open_scripted_screen();
  headless_backend()->push_key(kEsc, 1);  // arrives while the rebuild polls
  return 1;
}

TEST_F(StructureDialogTest, EscapeDuringTheRebuildLeavesTheTableAsItWas) {
  std::vector<uint8_t> before = read_bytes(shown);
  screen_script() = {25, 80, 0, keys_of({"{CtrlF4}", "\n", "\n", "77", "{CtrlEnter}"})};
  g_screen_starter = {open_with_late_escape, keep_screen};
  g_screen.open = false;
  std::vector<std::string> words = {program_file(), shown};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  run_program(int(words.size()), argv.data());
  EXPECT_EQ(read_bytes(shown), before);
  std::string listing;
  run_command("ls " + dir.path(), listing);
  EXPECT_EQ(listing, "shown.dbf\n");
}

TEST_F(StructureDialogTest, OptimalWidthsShrinkTextFieldsToTheirLongestValue) {
  // What dbfread finds: the longest value of each text field, at least 10.
  std::string out;
  run_command("/usr/bin/python3 -c \"import dbfread,sys; t=dbfread.DBF(sys.argv[1], load=True); "
              "print(';'.join('%s C %d 0' % (f.name, max([10] + [len(r[f.name]) for r in t.records])) "
              "for f in t.fields), len(t.records))\" " + shown, out);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  run_kora({shown}, keys_of({"{CtrlF4}", "{F4}", "\n", "{CtrlEnter}"}));
  EXPECT_EQ(dbfread_fields(shown), out);
}

TEST_F(StructureDialogTest, StartUpSwitchesRunTheEditorAndShowTheTableItMade) {
  std::string fresh = dir.file("fresh.dbf");
  EXPECT_EQ(run_kora({"/cr", fresh}, keys_of({"CITY", "{CtrlEnter}"})), 0);
  EXPECT_EQ(dbfread_fields(fresh), "CITY C 10 0 0");
  EXPECT_EQ(row(0).substr(0, 12), "[0]fresh.dbf");

  EXPECT_EQ(run_kora({"/ms", fresh}, keys_of({"\n", "N", "6", "{CtrlEnter}"})), 0);
  EXPECT_EQ(dbfread_fields(fresh), "CITY N 6 0 0");
  EXPECT_EQ(row(0).substr(0, 12), "[0]fresh.dbf");
}

TEST_F(StructureDialogTest, F9ChoosesTheKindOfTheTableAndItsMemoFile) {
  // The memo type dialog: down to "FoxPro", Enter chooses it, Enter again is OK.
  run_kora({shown}, keys_of({"{CtrlF3}", "NOTE", "\n", "M", "{F9}", "{Down}", "{Down}", "\n", "\n",
                             "{CtrlEnter}", dir.file("fox"), "\n"}));
  std::vector<uint8_t> bytes = read_bytes(dir.file("fox.dbf"));
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes[0], 0xF5);
  EXPECT_TRUE(file_exists(dir.file("fox.fpt")));
  EXPECT_EQ(dbfread_fields(dir.file("fox.dbf")), "NOTE M 10 0 0");
}

}  // namespace
}  // namespace kora::test
