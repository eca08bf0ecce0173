// The engine's causes in the user's words: a table that cannot be opened
// says why after "Cannot open file", and a walk's progress calls move the
// progress box.
#include "app/status_text.h"

#include <gtest/gtest.h>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "../ui/popup_fixture.h"
#include "app/app_state.h"
#include "app/main_loop.h"
#include "table/byte_order.h"
#include "table/record_scanner.h"

namespace kora {
namespace {

using namespace kora::test;

struct StatusTexts : PopupTest {
  TempDir dir;
  void TearDown() override {
    PopupTest::TearDown();
    reset_app_state();
  }
  bool seen_anywhere(const std::string& text) const {
    for (int y = 0; y < 25; ++y) {
      if (seen_text(seen_.size() - 1, 0, y, 80).find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(StatusTexts, AFileThatIsNoTableIsReportedWithItsCause) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 10}};
  std::vector<uint8_t> small_header = build_dbf(layout);
  put_le16(&small_header[8], 64);
  write_bytes(dir.file("short.dbf"), {0x03, 1, 2});
  const std::string notes = "this is a text file, not a table at all.\n";
  write_bytes(dir.file("notes.dbf"), std::vector<uint8_t>(notes.begin(), notes.end()));
  write_bytes(dir.file("small.dbf"), small_header);
  const std::pair<std::string, const char*> cases[] = {
      {"missing.dbf", "No such file"},
      {"short.dbf", "The file is shorter than a table header"},
      {"small.dbf", "The header is too small for the field list"},
      {"notes.dbf", "Cannot open file: Not a table: byte 0 holds 0x74"},
  };
  for (const auto& [name, cause] : cases) {
    reset_app_state();
    seen_.clear();
    press({kEnter});
    EXPECT_EQ(open_and_show(dir.file(name)), 0) << name;
    ASSERT_FALSE(seen_.empty()) << name;
    EXPECT_TRUE(seen_anywhere("Cannot open file")) << name;
    EXPECT_TRUE(seen_anywhere(cause)) << name;
    EXPECT_EQ(keys_left(), 0) << name;
  }
  // A cause the system did not name leaves the message as it always was.
  EXPECT_EQ(open_failure_text(Status::kCannotOpen), "Cannot open file");
  EXPECT_EQ(open_failure_text(Status::kListFull), "Cannot open file: 100 tables are open already");
}

TEST_F(StatusTexts, AScanMovesTheProgressBoxOncePerChunk) {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 9}};
  for (int i = 0; i < 40; ++i) layout.records.push_back(std::string("r").append(std::to_string(i)));
  write_bytes(dir.file("t.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("t.dbf"));
  ASSERT_TRUE(table);
  std::string before = text_at(0, 12, 80);
  std::vector<std::string> bars;
  {
    ProgressScope box(table->record_count);
    ProgressCallback show = box.callback();
    // Ten records a chunk: the bar is looked at after each chunk's call.
    RecordScanner scan(*table, ScanOrder::kView, [&](uint64_t done, uint64_t total) {
      bool go_on = show(done, total);
      bars.push_back(text_at(25, 13, 30));
      return go_on;
    }, 10 * table->record_size);
    ScannedRecord r;
    while (scan.next(r)) {
    }
    EXPECT_EQ(scan.status(), Status::kOk);
  }
  ASSERT_EQ(bars.size(), 4u);
  EXPECT_EQ(bars[0], std::string(7, char(219)) + std::string(23, char(176)));
  EXPECT_EQ(bars[1], std::string(15, char(219)) + std::string(15, char(176)));
  EXPECT_EQ(bars[3], std::string(29, char(219)) + char(176));
  EXPECT_EQ(text_at(0, 12, 80), before);
}

}  // namespace
}  // namespace kora
