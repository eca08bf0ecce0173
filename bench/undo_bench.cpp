// undo_bench: what keeping the undo history costs the two changes that move
// the most bytes: a record inserted at the top of a 10,000,000-record table
// (every record after it shifted) and the pack of a 1,000,000-record table
// with 5% of its records deleted. Each is timed without a step, inside one
// (the history recording it), and the undo of that step; medians of --repeat.
//
// undo_bench [--dir PARENT] [--insert-records N] [--pack-records N] [--repeat N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "big_table.h"
#include "table/dbf_file.h"
#include "table/record_ops.h"
#include "table/undo_log.h"

namespace {

using Clock = std::chrono::steady_clock;

double timed_ms(const std::function<bool()>& run, bool& ok) {
  Clock::time_point start = Clock::now();
  ok = run() && ok;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

struct Times {
  std::vector<double> plain, recorded, undone;
};

void report(const char* name, const Times& t) {
  double plain = median(t.plain), recorded = median(t.recorded);
  std::printf("%-34s %10.1f %10.1f %10.1f %8.2f\n", name, plain, recorded, median(t.undone),
              plain > 0 ? recorded / plain : 0);
}

bool undo(kora::Table& table) {
  std::string text;
  return kora::undo_change(table, text) == kora::UndoOutcome::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  std::string parent = "/tmp";
  uint64_t insert_records = 10000000, pack_records = 1000000;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--dir")) parent = argv[i + 1];
    if (!std::strcmp(argv[i], "--insert-records")) insert_records = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--pack-records")) pack_records = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  std::string dir = parent + "/undo_bench.XXXXXX";
  if (!mkdtemp(dir.data())) return 1;
  bool ok = true;

  Times insert;
  std::string big = dir + "/big.dbf";
  ok = kora::bench::write_big_table(big, insert_records, 0);
  std::unique_ptr<kora::Table> table = ok ? kora::open_table(big) : nullptr;
  ok = ok && table;
  for (int k = 0; k < repeat && ok; ++k) {
    insert.plain.push_back(timed_ms([&] { return kora::insert_record(*table, 0, true) != 0; }, ok));
    insert.recorded.push_back(timed_ms([&] {
      kora::UndoStep step(*table, "Insert");
      return kora::insert_record(*table, 0, true) != 0;
    }, ok));
    insert.undone.push_back(timed_ms([&] { return undo(*table); }, ok));
  }
  if (table) kora::close_table(table);
  std::filesystem::remove(big);

  Times pack;
  std::string source = dir + "/pack_source.dbf", packed = dir + "/packed.dbf";
  ok = ok && kora::bench::write_big_table(source, pack_records, 0.05);
  for (int k = 0; k < repeat && ok; ++k) {
    for (bool recorded : {false, true}) {
      std::filesystem::copy_file(source, packed, std::filesystem::copy_options::overwrite_existing);
      std::unique_ptr<kora::Table> t = kora::open_table(packed);
      ok = ok && t;
      if (!ok) break;
      double ms = timed_ms([&] {
        std::unique_ptr<kora::UndoStep> step;
        if (recorded) step = std::make_unique<kora::UndoStep>(*t, "Pack");
        return kora::pack_table(*t, 0) != 0;
      }, ok);
      (recorded ? pack.recorded : pack.plain).push_back(ms);
      if (recorded) pack.undone.push_back(timed_ms([&] { return undo(*t); }, ok));
      kora::close_table(t);
    }
  }
  std::filesystem::remove_all(dir);
  if (!ok) {
    std::fprintf(stderr, "undo_bench: a run failed\n");
    return 1;
  }
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("undo_bench: median of %d, load %.2f\n", repeat, load[0]);
  std::printf("%-34s %10s %10s %10s %8s\n", "", "plain, ms", "undo on", "undo, ms", "ratio");
  report(("insert at the top of " + std::to_string(insert_records)).c_str(), insert);
  report(("pack of " + std::to_string(pack_records)).c_str(), pack);
  return 0;
}
