// make_big_table <file.dbf> <records> [deleted share 0..1]: writes a large
// dBase III table for the benchmarks.
#include <cstdio>
#include <cstdlib>

#include "big_table.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: make_big_table <file.dbf> <records> [deleted share 0..1]\n");
    return 2;
  }
  unsigned long long records = std::strtoull(argv[2], nullptr, 10);
  double share = argc == 4 ? std::strtod(argv[3], nullptr) : 0.0;
  if (records > 0xFFFFFFFFull || share < 0 || share > 1) {
    std::fprintf(stderr, "make_big_table: records up to 4294967295, share from 0 to 1\n");
    return 2;
  }
  if (!kora::bench::write_big_table(argv[1], records, share)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
