// kora /check TABLE...: the health check of each table from the command
// line, one line per problem found and a summary line per table, or the
// whole result as JSON (/json). Nothing is written to any table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kora {

// Exit statuses: every table sound, problems found, or a table that cannot
// be read as one (a usage error gives 2 as well).
constexpr int kCheckSound = 0;
constexpr int kCheckProblems = 1;
constexpr int kCheckUnreadable = 2;

// Checks the tables in turn, writing the result to `out` and the tables that
// cannot be read to `err` (into the JSON too under /json). The worst status.
int run_batch_check(const std::vector<std::string>& tables, bool json, std::FILE* out, std::FILE* err);

}  // namespace kora
