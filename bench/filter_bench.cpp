// filter_bench: the filter AMOUNT>0 over the table gen_dbf.py writes,
// side by side in one run with the native reference pass `dbfpass -g AMOUNT`
// (built here with gcc -O2). Deleted records are hidden in kora's run, as the
// reference skips them. Runs alternate, page cache warm; medians are printed.
//
// filter_bench [--dir PARENT] [--records N] [--repeat N] [--table PATH]
//   --table: an existing table of gen_dbf.py instead of a new one
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "table/dbf_file.h"
#include "table/record_ops.h"
#include "tools/filter.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One filter run from opening the table to its visible list; kora's figure.
double kora_filter(const std::string& path, size_t& passed, uint32_t& records) {
  auto start = Clock::now();
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) return -1;
  table->view.hide_deleted = true;
  if (kora::apply_filter(*table, {kora::FilterSource::kExpression, "AMOUNT>0"}) != kora::Status::kOk) return -1;
  passed = table->view.visible_list->size();
  records = table->record_count;
  kora::close_table(table);
  return seconds_since(start);
}

double native_filter(const std::string& dbfpass, const std::string& path) {
  auto start = Clock::now();
  if (run(dbfpass + " -g AMOUNT -o /dev/null " + path + " 2>/dev/null") != 0) return -1;
  return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  std::string parent = "/tmp";
  long records = 1000000;
  int repeat = 5;
  std::string given;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--dir")) parent = argv[i + 1];
    if (!std::strcmp(argv[i], "--records")) records = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--table")) given = argv[i + 1];
  }
  char pattern[] = "/filter_bench.XXXXXX";
  std::string dir_template = parent + pattern;
  if (!mkdtemp(dir_template.data())) return 1;
  const std::string dir = dir_template;
  const std::string shared = KORA_SHARED_BENCH_DIR;
  const std::string table = given.empty() ? dir + "/big.dbf" : given, dbfpass = dir + "/dbfpass";
  int failed = run("gcc -O2 -o " + dbfpass + " " + shared + "/dbfpass.c") != 0 ||
               (given.empty() && run("python3 " + shared + "/gen_dbf.py " + std::to_string(records) + " " + table +
                                     " >/dev/null 2>&1") != 0) ||
               run("cat " + table + " >/dev/null") != 0;
  std::vector<double> kora_times, native_times;
  size_t passed = 0;
  uint32_t table_records = 0;
  for (int k = 0; k < repeat && !failed; ++k) {
    native_times.push_back(native_filter(dbfpass, table));
    kora_times.push_back(kora_filter(table, passed, table_records));
    failed = native_times.back() < 0 || kora_times.back() < 0;
  }
  std::filesystem::remove_all(dir);
  if (failed) {
    std::fprintf(stderr, "filter_bench: a run failed\n");
    return 1;
  }
  double ours = median(kora_times), theirs = median(native_times);
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("filter AMOUNT>0 over %u records, %zu pass, median of %d, load %.2f\n", table_records, passed, repeat,
              load[0]);
  std::printf("  dbfpass -g AMOUNT   %8.3f s\n  kora apply_filter   %8.3f s   (%.2fx)\n", theirs, ours,
              ours / theirs);
  return 0;
}
