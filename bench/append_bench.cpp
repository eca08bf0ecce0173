// append_bench: Append from a DBF source of N records (gen_dbf.py's table)
// into a copy of the same table, (a) as it stands and (b) under the filter
// AMOUNT>0, so that the cost of keeping a filtered view up to date shows
// beside a plain append. Only the append itself is timed; every run starts
// from a fresh copy, written back before the clock starts. Runs alternate,
// page cache warm; medians are printed.
//
// append_bench [--dir PARENT] [--records N] [--repeat N] [--table PATH]
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
#include "tools/append_from.h"
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

// One append of the source into a fresh copy of it; -1 when a step failed.
double append_run(const std::string& source, const std::string& target, bool filtered, uint32_t& appended,
                  uint32_t& in_view) {
  std::filesystem::remove(target);
  if (!std::filesystem::copy_file(source, target)) return -1;
  std::unique_ptr<kora::Table> table = kora::open_table(target);
  if (!table) return -1;
  if (filtered && kora::apply_filter(*table, {kora::FilterSource::kExpression, "AMOUNT>0"}) != kora::Status::kOk) {
    return -1;
  }
  sync();  // the copy's writeback would otherwise fall into the timed append
  auto start = Clock::now();
  kora::AppendResult result = kora::append_from_dbf(*table, source);
  double seconds = seconds_since(start);
  appended = result.appended;
  in_view = kora::visible_count(*table);
  kora::close_table(table);
  return result.status == kora::Status::kOk ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string parent = "/tmp";
  long records = 1000000;
  int repeat = 3;
  std::string given;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--dir")) parent = argv[i + 1];
    if (!std::strcmp(argv[i], "--records")) records = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--repeat")) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (!std::strcmp(argv[i], "--table")) given = argv[i + 1];
  }
  std::string dir = parent + "/append_bench.XXXXXX";
  if (!mkdtemp(dir.data())) return 1;
  const std::string shared = KORA_SHARED_BENCH_DIR;
  const std::string source = given.empty() ? dir + "/source.dbf" : given, target = dir + "/target.dbf";
  std::string generate = "python3 " + shared + "/gen_dbf.py ";
  generate.append(std::to_string(records)).append(" ").append(source).append(" >/dev/null 2>&1");
  int failed = given.empty() && run(generate) != 0;
  std::vector<double> plain, filtered;
  uint32_t appended = 0, in_view_plain = 0, in_view_filtered = 0;
  // Runs alternate, and which of the two comes first alternates too.
  for (int k = 0; k < 2 * repeat && !failed; ++k) {
    if ((k + k / 2) % 2 == 0) {
      plain.push_back(append_run(source, target, false, appended, in_view_plain));
      failed = plain.back() < 0;
    } else {
      filtered.push_back(append_run(source, target, true, appended, in_view_filtered));
      failed = filtered.back() < 0;
    }
  }
  std::filesystem::remove_all(dir);
  if (failed) {
    std::fprintf(stderr, "append_bench: a run failed\n");
    return 1;
  }
  double a = median(plain), b = median(filtered);
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("append from a DBF of %u records, median of %d, load %.2f\n", appended, repeat, load[0]);
  std::printf("  (a) plain table            %8.3f s   %u records in view\n", a, in_view_plain);
  std::printf("  (b) under AMOUNT>0 filter  %8.3f s   %u records in view   (%.2fx)\n", b, in_view_filtered, b / a);
  return 0;
}
