// stats_bench: one run of what Alt+F5 and the frequency list do with a
// column, from opening the table: the counting walk with the statistics,
// then the list put in order of count. run_stats.sh times it beside the
// native reference pass.
//
// stats_bench TABLE FIELD [LIMIT [count]]   (count: the walk alone, unsorted)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "table/dbf_file.h"
#include "tools/column_stats.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: stats_bench TABLE FIELD [LIMIT]\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  std::unique_ptr<kora::Table> table = kora::open_table(argv[1]);
  if (!table) return 1;
  int field = kora::find_field(*table, argv[2]);
  if (field < 0) return 1;
  size_t limit = argc > 3 ? size_t(std::atol(argv[3])) : kora::kDefaultDistinctLimit;
  kora::ValueCounts counts;
  if (kora::count_values(*table, {field}, nullptr, {}, counts, limit) != kora::Status::kOk) return 1;
  if (argc <= 4) kora::sort_values(*table, counts, kora::FrequencyOrder::kByCount);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %llu records, %zu values listed%s, sum %s, %.3f s\n", argv[2],
              static_cast<unsigned long long>(counts.records), counts.values.size(), counts.cut ? " (cut)" : "",
              counts.stats.sum.c_str(), seconds);
  return 0;
}
