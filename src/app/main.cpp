// kora: a full-screen viewer and editor of DBF tables.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/table_summary.h"
#include "table/dbf_file.h"

namespace {

// The program's own file; it stands in argv[0] from the start on.
char program_path[kora::kPathBufferSize];

int open_and_show(const std::string& table_name, const kora::StartSwitches& switches) {
  kora::TableList tables;
  int index = kora::add_table(tables, table_name);
  if (index < 0) {
    std::printf("%s: %s...\n", "Cannot open file", table_name.c_str());
    return 0;
  }
  kora::Table& table = *tables.at(index);
  // With /a the corrected header is written at once; asking needs the screen.
  int header_written = table.header_errors != 0 && switches.auto_correct != 0 && kora::write_header(table);
  if (switches.review_order != 0) table.reverse = switches.review_order == 2;
  kora::print_table_summary(table, stdout, header_written);
  kora::remove_table(tables, index);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  kora::locate_program(argc > 0 ? argv[0] : nullptr, program_path);
  if (argc > 0) argv[0] = program_path;

  kora::CommandLine line = kora::parse_command_line(argc, argv);
  if (line.help) {
    std::fputs(kora::usage_text().c_str(), stdout);
    return 0;
  }
  if (line.switches.auto_correct == 2) {
    kora::batch_repair(line.names);
    return 0;
  }
  if (line.names.empty()) {
    std::fputs("Filename required...\n", stdout);
    return 0;
  }
  char cwd[kora::kPathBufferSize];
  std::string table_name = kora::absolute_table_name(line.names[0], getcwd(cwd, sizeof cwd));
  return open_and_show(table_name, line.switches);
}
