// Every kind of change to a table taken back and made again on copies of
// real tables with memo files: undo gives the bytes of before, table and
// memo file alike, redo the bytes of after.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "support/crash_trials.h"
#include "support/test_support.h"
#include "table/dbf_file.h"
#include "table/file_io.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/restructure.h"
#include "table/table_cipher.h"
#include "table/table_create.h"
#include "table/undo_log.h"
#include "tools/append_from.h"
#include "tools/fill.h"
#include "tools/search.h"

namespace kora {
namespace {

struct Fixture {
  const char* table;
  const char* memo;
};
constexpr Fixture kFixtures[] = {
    {"infused-dbf/dbase_83.dbf", "infused-dbf/dbase_83.dbt"},
    {"php-xbase/foxpro/Foxpro2.dbf", "php-xbase/foxpro/Foxpro2.fpt"},
};


int first_field(const Table& t, bool memo) {
  for (int i = 0; i < t.field_count(); ++i) {
    if (is_memo_field(t, i) == memo && (memo || field_type(t, i) == 'C')) return i;
  }
  return -1;
}

// The first Character field of record p given `text`, written back.
bool edit_cell(Table& t, uint32_t p, const char* text) {
  int i = first_field(t, false);
  if (i < 0 || !read_record(t, p)) return false;
  std::memcpy(t.record.data() + t.fields[size_t(i)].offset, text, std::min<size_t>(strlen(text), size_t(field_length(t, i))));
  return write_record(t, p);
}

bool mark_two(Table& t) { return mark_deleted(t, 0) && mark_deleted(t, 2); }

struct Change {
  const char* name;
  std::function<bool(Table&)> run;
};

const Change kChanges[] = {
    {"cell edit", [](Table& t) { return edit_cell(t, 1, "UNDONE"); }},
    {"memo text", [](Table& t) {
       int i = first_field(t, true);
       return read_record(t, 0) && write_memo(t, i, "a new memo for the undo") && write_record(t, 0);
     }},
    {"append", [](Table& t) { return append_record(t, true) && edit_cell(t, t.record_count - 1, "NEW"); }},
    {"insert at the top", [](Table& t) { return insert_record(t, 0, true); }},
    {"remove", [](Table& t) { return remove_record(t, 1); }},
    {"delete and recall", [](Table& t) { return mark_deleted(t, 1) && mark_deleted(t, 2) && recall_record(t, 1); }},
    {"group delete", [](Table& t) {
       return change_all_marks(t, MarkChange::kInvert, {}, nullptr) == Status::kOk;
     }},
    {"block blank", [](Table& t) {
       int i = first_field(t, false);
       return rewrite_records(t, 1, 4, [i](Table& r) { blank_field(r, i); }, {}) == Status::kOk;
     }},
    {"fill", [](Table& t) {
       FillRequest r;
       r.field = first_field(t, false);
       r.expression = "\"FILLED\"";
       FillCounts counts;
       return fill_records(t, r, nullptr, {}, counts) == Status::kOk && counts.stored > 0;
     }},
    {"replace", [](Table& t) {
       int i = first_field(t, false);
       if (!read_record(t, 0)) return false;
       std::string head(reinterpret_cast<const char*>(t.record.data()) + t.fields[size_t(i)].offset, 2);
       return replace_in_cell(t, {0, i}, TextMatcher(t, head), "ZZ") == ReplaceOutcome::kReplaced;
     }},
    {"append from", [](Table& t) {
       return append_from_dbf(t, test::fixture(std::string(t.file_name).find("dbase_83") != std::string::npos
                                                   ? "infused-dbf/dbase_83.dbf"
                                                   : "php-xbase/foxpro/Foxpro2.dbf"))
                  .status == Status::kOk;
     }},
    {"pack", [](Table& t) { return mark_two(t) && pack_table(t, 0); }},
    {"zap", [](Table& t) { return zap_table(t); }},
    {"truncate", [](Table& t) { return truncate_table(t, 2); }},
    {"modify structure", [](Table& t) {
       std::vector<StructureField> fields = structure_of(t);
       fields.erase(fields.begin() + first_field(t, false));
       return restructure(t, fields, {}) == Status::kOk;
     }},
    {"encoding", [](Table& t) { return rewrite_enciphered(t, "secret") == Status::kOk; }},
};

struct Bytes {
  std::vector<uint8_t> table, memo;
  bool operator==(const Bytes&) const = default;
};

Bytes bytes_of(const std::string& table, const std::string& memo) {
  return {test::read_bytes(table), test::file_exists(memo) ? test::read_bytes(memo) : std::vector<uint8_t>{}};
}

TEST(Undo, EveryKindOfChangeIsTakenBackAndMadeAgainByteForByte) {
  for (const Fixture& f : kFixtures) {
    for (const Change& change : kChanges) {
      SCOPED_TRACE(std::string(f.table) + ": " + change.name);
      test::TempDir dir;
      std::string table_path = dir.copy_fixture(f.table), memo_path = dir.copy_fixture(f.memo);
      chmod(table_path.c_str(), 0644);
      chmod(memo_path.c_str(), 0644);
      std::unique_ptr<Table> t = open_table(table_path);
      ASSERT_TRUE(t);
      Bytes before = bytes_of(table_path, memo_path);
      {
        UndoStep step(*t, change.name);
        ASSERT_TRUE(change.run(*t));
      }
      Bytes after = bytes_of(table_path, memo_path);
      ASSERT_NE(before, after);
      std::string text;
      for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone) << text;
        EXPECT_EQ(text, change.name);
        EXPECT_TRUE(bytes_of(table_path, memo_path) == before) << "undo, round " << round;
        ASSERT_EQ(redo_change(*t, text), UndoOutcome::kDone) << text;
        EXPECT_TRUE(bytes_of(table_path, memo_path) == after) << "redo, round " << round;
      }
      EXPECT_EQ(redo_change(*t, text), UndoOutcome::kNothing);
      close_table(t);
      EXPECT_FALSE(test::file_exists(undo_log_path(table_path)));
      EXPECT_FALSE(test::file_exists(undo_log_path(table_path) + ".1"));
    }
  }
}

TEST(Undo, StepsGoBackInTurnAndANewChangeDropsWhatWasTakenBack) {
  test::TempDir dir;
  std::string path = dir.copy_fixture(kFixtures[0].table);
  dir.copy_fixture(kFixtures[0].memo);
  chmod(path.c_str(), 0644);
  std::unique_ptr<Table> t = open_table(path);
  ASSERT_TRUE(t);
  std::vector<uint8_t> opened = test::read_bytes(path);
  for (const char* name : {"first", "second", "third"}) {
    UndoStep step(*t, name);
    ASSERT_TRUE(edit_cell(*t, 0, name));
  }
  std::string text;
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  EXPECT_EQ(text, "third");
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  EXPECT_EQ(text, "second");
  {
    UndoStep step(*t, "other");
    ASSERT_TRUE(edit_cell(*t, 5, "OTHER"));
  }
  EXPECT_FALSE(can_redo(*t));
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  EXPECT_EQ(text, "first");
  EXPECT_EQ(test::read_bytes(path), opened);
  EXPECT_EQ(undo_change(*t, text), UndoOutcome::kNothing);
}

// A write that changes a few bytes of what it covers keeps little more than
// those bytes, across the log's copy windows, runs near and far apart and
// the range's two ends; one whose bytes all change is kept whole. Undo and
// redo give back every byte.
TEST(Undo, AWriteKeepsOnlyTheBytesItChanges) {
  test::TempDir dir;
  std::string path = dir.copy_fixture(kFixtures[0].table);
  dir.copy_fixture(kFixtures[0].memo);
  chmod(path.c_str(), 0644);
  std::unique_ptr<Table> t = open_table(path);
  ASSERT_TRUE(t);
  constexpr size_t kLength = 3 << 20;
  const uint64_t at = t->header_size;
  std::vector<uint8_t> filler(kLength);
  for (size_t i = 0; i < kLength; ++i) filler[i] = uint8_t(i * 7 + i / 251);
  {
    UndoStep step(*t, "grow");
    ASSERT_TRUE(file_write_at(t->fd, filler.data(), kLength, at));
  }
  std::vector<uint8_t> before = test::read_bytes(path);
  uint64_t log_before = undo_log_size(*t);
  std::vector<uint8_t> changed = filler, whole(4096);
  for (size_t i : {size_t(0), size_t(5), size_t(6), size_t(20), size_t(36), size_t(53), size_t(1 << 20) - 1,
                   size_t(1 << 20), size_t(1 << 20) + 9, size_t(2 << 20) + 100, kLength - 1})
    changed[i] ^= 0x5A;
  for (size_t i = 0; i < whole.size(); ++i) whole[i] = uint8_t(~before[at + kLength / 2 + i]);
  {
    UndoStep step(*t, "scatter");
    ASSERT_TRUE(file_write_at(t->fd, changed.data(), kLength, at));
    ASSERT_TRUE(file_write_at(t->fd, whole.data(), whole.size(), at + kLength / 2));
  }
  std::vector<uint8_t> after = test::read_bytes(path);
  EXPECT_LT(undo_log_size(*t) - log_before, whole.size() + 1024);
  std::string text;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone) << text;
    EXPECT_TRUE(test::read_bytes(path) == before) << "undo, round " << round;
    ASSERT_EQ(redo_change(*t, text), UndoOutcome::kDone) << text;
    EXPECT_TRUE(test::read_bytes(path) == after) << "redo, round " << round;
  }

  // Inverting every deletion mark keeps about a byte a record.
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  ASSERT_EQ(undo_change(*t, text), UndoOutcome::kDone);
  log_before = undo_log_size(*t);
  {
    UndoStep step(*t, "Inverse");
    ASSERT_EQ(change_all_marks(*t, MarkChange::kInvert, {}, nullptr), Status::kOk);
  }
  EXPECT_LT(undo_log_size(*t) - log_before, 256 + 16 * uint64_t(t->record_count));
  EXPECT_GT(uint64_t(t->record_count) * t->record_size, 4 * (256 + 16 * uint64_t(t->record_count)));
}

TEST(Undo, IsRefusedAfterAnotherProgramChangedTheTableAndWhenTheChangeWasTooLarge) {
  test::TempDir dir;
  std::string path = dir.copy_fixture(kFixtures[1].table);
  dir.copy_fixture(kFixtures[1].memo);
  chmod(path.c_str(), 0644);
  std::unique_ptr<Table> t = open_table(path);
  ASSERT_TRUE(t);
  {
    UndoStep step(*t, "Edit");
    ASSERT_TRUE(edit_cell(*t, 0, "MINE"));
  }
  {
    // Another program writes a byte of record 2 (and the clock moves on).
    usleep(10000);
    std::vector<uint8_t> bytes = test::read_bytes(path);
    bytes[t->header_size + 2 * t->record_size + 1] ^= 0x20;
    test::write_bytes(path, bytes);
  }
  std::vector<uint8_t> outside = test::read_bytes(path);
  std::string text;
  EXPECT_EQ(undo_change(*t, text), UndoOutcome::kChangedOutside);
  EXPECT_NE(text.find("changed"), std::string::npos);
  EXPECT_EQ(test::read_bytes(path), outside);

  // A step that outgrows the cap is dropped, and says so.
  EXPECT_FALSE(undo_fits(*t, test::file_size(path), 100));
  {
    UndoStep step(*t, "Replace", 10);
    ASSERT_EQ(change_all_marks(*t, MarkChange::kInvert, {}, nullptr), Status::kOk);
  }
  EXPECT_EQ(undo_change(*t, text), UndoOutcome::kTooLarge);
  EXPECT_NE(text.find("Replace"), std::string::npos);
}

// An undo (or redo) stopped after each of its changes to the disk in turn:
// the next open finishes it, so that the table reads as before the undo or
// after it, never between, and no log or kept file is left.
TEST(Undo, StoppedAtAnyChangeTheUndoIsFinishedByTheNextOpen) {
  auto recorded = [](const char* name, std::function<bool(Table&)> change) {
    return [name, change](Table& t) {
      UndoStep step(t, name);
      return change(t) ? 1 : 0;
    };
  };
  auto undo = [](Table& t) {
    std::string text;
    return undo_change(t, text) == UndoOutcome::kDone ? 1 : 0;
  };
  std::vector<test::CrashOperation> operations = {
      {"undo of an edit", undo},
      {"undo of an insert", undo},
      {"undo of a removal", undo},
      {"undo of a pack", undo},
      {"undo of a zap", undo},
      {"undo of group marks", undo},
      {"redo of an append", [](Table& t) {
         std::string text;
         return redo_change(t, text) == UndoOutcome::kDone ? 1 : 0;
       }},
  };
  operations[0].setup = recorded("Edit", [](Table& t) { return edit_cell(t, 1, "UNDONE"); });
  operations[1].setup = recorded("Insert", [](Table& t) { return insert_record(t, 0, true) != 0; });
  operations[2].setup = recorded("Delete", [](Table& t) { return remove_record(t, 1) != 0; });
  operations[3].setup = recorded("Pack", [](Table& t) { return pack_table(t, 0) != 0; });
  operations[4].setup = recorded("Zap", [](Table& t) { return zap_table(t) != 0; });
  operations[5].setup = recorded("Group", [](Table& t) {
    return change_all_marks(t, MarkChange::kInvert, {}, nullptr) == Status::kOk;
  });
  // Taken back before the plan; made again under it.
  operations[6].setup = [recorded, undo](Table& t) {
    auto append = recorded("Append", [](Table& r) { return append_record(r, true) && edit_cell(r, r.record_count - 1, "NEW"); });
    return append(t) && undo(t);
  };
  test::CrashCounts counts;
  test::run_crash_trials(operations, counts);
  std::printf("undo crash safety: %d trials, %d failures\n", counts.trials, counts.failures);
  EXPECT_GE(counts.trials, 100);
}

}  // namespace
}  // namespace kora
