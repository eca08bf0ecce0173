// Every operation that changes a table, stopped after each of its changes
// to the disk in turn (what a kill at that moment leaves), then opened again:
// dbfread must see the records as they were before or as the operation
// makes them, never a mix, and the open leaves no journal behind.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "support/crash_trials.h"
#include "support/dbf_builder.h"
#include "support/test_support.h"
#include "table/batch_appender.h"
#include "table/file_io.h"
#include "table/journal.h"
#include "table/record_ops.h"
#include "table/restructure.h"
#include "table/table_cipher.h"
#include "table/table_create.h"

namespace kora {
namespace {

using test::TempDir;

StructureField extra_field() {
  StructureField extra;
  std::strncpy(extra.desc.name, "EXTRA", sizeof extra.desc.name - 1);
  extra.desc.type = 'C';
  extra.desc.length = 5;
  return extra;
}

int add_field(Table& table) {
  std::vector<StructureField> fields = structure_of(table);
  fields.push_back(extra_field());
  return restructure(table, fields, {}) == Status::kOk;
}

// The first Character field made a memo field, so that both files change.
int field_to_memo(Table& table) {
  std::vector<StructureField> fields = structure_of(table);
  for (StructureField& field : fields) {
    if (field.desc.type != 'C') continue;
    normalize_field_type(field.desc, 'M', 0);
    break;
  }
  fields.push_back(extra_field());
  return restructure(table, fields, {}) == Status::kOk;
}

int append_copies(Table& table) {
  if (!read_record(table, 0)) return 0;
  std::vector<uint8_t> image(table.record.begin(), table.record.begin() + table.record_size);
  BatchAppender out(table, 2 * table.record_size);
  for (int i = 0; i < 5; ++i) {
    if (table.first_memo_field >= 0) out.write_memo(image.data(), table.first_memo_field, "appended text");
    out.append(image.data());
  }
  return out.finish() == Status::kOk;
}

const std::vector<test::CrashOperation> kOperations = {
    {"insert", [](Table& t) { return read_record(t, 2) && insert_record(t, 0, false); }},
    {"remove", [](Table& t) { return remove_record(t, 1); }},
    {"truncate", [](Table& t) { return truncate_table(t, t.record_count / 2); }},
    {"zap", [](Table& t) { return zap_table(t); }},
    {"pack", [](Table& t) { return pack_table(t, 0); }},
    {"pack memo", [](Table& t) { return pack_table(t, 2); }, test::kSameRecords},
    {"append", append_copies, test::kKeepsWholeRecords},
    {"append one", [](Table& t) { return read_record(t, 1) && append_record(t, false); }},
    {"restructure", add_field},
    {"restructure memo", field_to_memo},
    {"encode", [](Table& t) { return rewrite_enciphered(t, "secret") == Status::kOk; }},
    {"header", [](Table& t) { return write_header(t); }, test::kSameRecords},
};

TEST(CrashSafety, EveryOperationStoppedAtAnyChangeReopensAsBeforeOrAfter) {
  test::CrashCounts counts;
  test::run_crash_trials(kOperations, counts);
  std::printf("crash safety: %d trials, %d failures\n", counts.trials, counts.failures);
}

// A move cut short: a read-only open refuses the table and writes nothing;
// an open that may write finishes it and says so.
TEST(CrashSafety, AnInterruptedMoveIsRefusedReadOnlyAndFinishedOtherwise) {
  TempDir dir;
  const test::CrashFixture& f = test::kCrashFixtures[0];
  std::string table = dir.file("t.dbf");
  test::copy_file(test::fixture(f.table), table);
  test::copy_file(test::fixture(f.memo), dir.file("t.dbt"));
  chmod(table.c_str(), 0644);
  chmod(dir.file("t.dbt").c_str(), 0644);
  long changes = 0;
  for (const test::CrashOperation& op : kOperations) {
    if (std::strcmp(op.name, "insert") == 0) changes = test::run_crash_operation(table, op, {.stop_after = 4}).changes;
  }
  ASSERT_GT(changes, 4);
  std::vector<uint8_t> left = test::read_bytes(table);

  forbid_recovery_writes(true);
  Status why = Status::kOk;
  EXPECT_FALSE(open_table(table, &why));
  EXPECT_EQ(why, Status::kInterrupted);
  EXPECT_EQ(test::read_bytes(table), left);
  forbid_recovery_writes(false);

  std::unique_ptr<Table> reopened = open_table(table, &why);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->recovery_note, "The insertion of record 1 was interrupted; it has been finished.");
  EXPECT_EQ(reopened->header_errors, 0);
  EXPECT_FALSE(test::file_exists(journal_path(table)));
}

}  // namespace
}  // namespace kora

namespace kora {
namespace {

// Power loss keeps only what was flushed. In a move of records in place
// (insert and remove, chunk by chunk through the journal) every chunk is
// flushed to the table before a journal slot may replace the slot able to
// redo it, and every slot is flushed before its chunk overwrites the bytes
// it saves.
TEST(CrashSafety, ChunkedMovesFlushTheTableAndTheJournalInTheJournalsOrder) {
  TempDir dir;
  test::DbfLayout spec;
  spec.fields = {{"TEXT", 'C', 250}};
  spec.records.assign(40000, "x");  // 10 MB: three chunks to move
  std::string path = dir.file("big.dbf");
  test::write_bytes(path, test::build_dbf(spec));
  const std::vector<std::pair<const char*, std::function<int(Table&)>>> moves = {
      {"insert", [](Table& t) { return insert_record(t, 0, true); }},
      {"remove", [](Table& t) { return remove_record(t, 0); }},
  };
  for (const auto& [name, move] : moves) {
    SCOPED_TRACE(name);
    std::unique_ptr<Table> table = open_table(path);
    ASSERT_TRUE(table);
    std::vector<std::pair<char, int>> trace;
    FaultPlan plan;
    plan.trace = &trace;
    {
      ScopedFaultPlan scope(plan);
      ASSERT_EQ(move(*table), 1);
    }
    const int table_fd = table->fd;
    int slots = 0, chunks = 0;
    bool table_flushed = true, slot_flushed = false;
    for (size_t k = 0; k < trace.size(); ++k) {
      auto [kind, fd] = trace[k];
      if (fd == table_fd) {
        if (kind == 's') table_flushed = true;
        if (kind != 'w') continue;
        // Writes of the table while a slot stands for them.
        if (slots > 0 && !slot_flushed) ADD_FAILURE() << "table write " << k << " before its slot was flushed";
        table_flushed = false;
        ++chunks;
      } else {
        if (kind == 's') slot_flushed = true;
        if (kind != 'w') continue;
        if (!table_flushed) ADD_FAILURE() << "journal write " << k << " before the table's chunks were flushed";
        slot_flushed = false;
        ++slots;
      }
    }
    EXPECT_GE(chunks, 3);
    EXPECT_GE(slots, 4);
  }
}

}  // namespace
}  // namespace kora
