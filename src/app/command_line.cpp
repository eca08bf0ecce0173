#include "app/command_line.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/status_text.h"
#include "app/version.h"
#include "ui/side_file.h"

namespace kora {

namespace {

constexpr const char* kUsage =
    "Use:\n\tkora [switches] [table.dbf]\nSwitches:\n\t/ro - Read Only mode\n"
    "\t/mo - Don't use mouse\n\t/cr - Create new database\n\t/ms - Modify structure\n"
    "\t/a[+] Auto-correct header\n\t/r+ - Review in reverse order\n"
    "\t/r- - Review in normal order\n\t/cp:NAME - Read the table in code page NAME (866, 1252, UTF-8...)\n"
    "\t/h  - This help\n"
    "Batch export (no screen):\n\tkora /x:FORMAT [switches] table.dbf [output]\n"
    "\t/x:FORMAT    - export as txt, clipper, foxpro, sql, html, dbf, xml, csv,\n"
    "\t               jsonl (JSON Lines) or sqlite (a SQLite database)\n"
    "\t/f:CONDITION - only the records the condition holds for\n"
    "\t/s:FIELDS    - in the order of these fields; -FIELD or FIELD DESC descending\n"
    "\t/c:FIELDS    - only these columns, in this order\n"
    "\t/e:CODEPAGE  - text in this code page (866, 1252, UTF-8...); by default\n"
    "\t               every text format is written in UTF-8\n"
    "\t/append      - add to the output: csv and txt under the same header,\n"
    "\t               jsonl, dbf, sqlite into its table of the same columns\n"
    "\t/deleted     - deleted records too, marked as deleted\n"
    "\t/ini         - use the [Export] settings of kora.ini\n"
    "\t/strict      - a warning (missing memo file, damaged record) fails the run\n"
    "\tThe output is replaced whole; \"-\" or none is standard output (but\n"
    "\tnot for dbf or sqlite); pipes and devices are written as streams. An\n"
    "\tencoded table is read under the password in KORA_PASSWORD, or asked for\n"
    "\tat a terminal.\n"
    "\tExit status: 0 done, 1 failed while working (or warned under /strict),\n"
    "\t2 a usage error or a table that cannot be opened.\n"
    "Health check (nothing is written):\n\tkora /check [/json] table.dbf...\n"
    "\tThe header against the file, then every value: one line per kind of\n"
    "\tproblem and field with its first records, a summary line per table.\n"
    "\t/json        - the result as JSON\n"
    "\tExit status: 0 sound, 1 problems found, 2 a table that cannot be read\n"
    "\t(or a usage error).\n"
    "\t--help, --version\n"
    "Read more: man kora, and the README installed with kora.\n";

// Writes dir + '/' + name into out (no second '/' when dir ends in one).
// 0 when the result would not fit, and then out is left as it was.
int join_path(std::string_view dir, std::string_view name, char (&out)[kPathBufferSize]) {
  bool slash = dir.empty() || dir.back() != '/';
  size_t length = dir.size() + (slash ? 1 : 0) + name.size();
  if (length >= kPathBufferSize) return 0;
  char* p = out;
  std::memcpy(p, dir.data(), dir.size());
  p += dir.size();
  if (slash) *p++ = '/';
  std::memcpy(p, name.data(), name.size());
  p[name.size()] = '\0';
  return 1;
}

bool is_executable_file(const char* path) {
  struct stat st;
  return access(path, X_OK) == 0 && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The working directory as the program may use it: read with a 260-byte limit.
const char* usable_cwd(const char* cwd) {
  return cwd && *cwd && std::strlen(cwd) < kPathBufferSize ? cwd : nullptr;
}

int search_path(std::string_view argv0, const char* path_value, const char* cwd,
                char (&out)[kPathBufferSize]) {
  if (!path_value) return 0;
  std::string_view rest(path_value);
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view element = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (element.empty()) continue;
    if (element == ".") {
      if (!cwd) return 0;
      element = cwd;
    }
    char candidate[kPathBufferSize];
    if (join_path(element, argv0, candidate) && is_executable_file(candidate)) {
      std::memcpy(out, candidate, sizeof candidate);
      return 1;
    }
  }
  return 0;
}

int find_path(const char* argv0, const char* path_value, const char* cwd,
              char (&out)[kPathBufferSize]) {
  if (!argv0 || !*argv0) return 0;
  std::string_view name(argv0);
  cwd = usable_cwd(cwd);
  if (name.front() == '/') {
    if (name.size() >= kPathBufferSize) return 0;
    std::memcpy(out, argv0, name.size() + 1);
    return 1;
  }
  if (name.find('/') != std::string_view::npos) {
    if (!cwd) return 0;
    if (name.starts_with("./")) name.remove_prefix(2);
    return join_path(cwd, name, out);
  }
  return search_path(name, path_value, cwd, out);
}

}  // namespace

std::string usage_text() { return version_text() + kUsage; }

std::string version_text() { return std::string(kVersionText) + "\n"; }

int find_program_path(const char* argv0, const char* path_value, const char* cwd,
                      char (&out)[kPathBufferSize]) {
  if (find_path(argv0, path_value, cwd, out)) return 1;
  std::strcpy(out, "./");
  return 0;
}

int locate_program(const char* argv0, char (&out)[kPathBufferSize]) {
  char cwd[kPathBufferSize];
  const char* dir = getcwd(cwd, sizeof cwd);
  return find_program_path(argv0, std::getenv("PATH"), dir, out);
}

std::string side_file_name(const char* program_path, const char* extension) {
  std::string path(program_path);
  size_t name_start = path.rfind('/');
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= name_start) path.resize(dot);
  return path + extension;
}

std::string user_side_folder(const char* xdg_config_home, const char* home) {
  // An XDG value that is not an absolute path is to be ignored.
  std::string folder;
  if (xdg_config_home && xdg_config_home[0] == '/') {
    folder = xdg_config_home;
    folder += "/kora";
  } else if (home && home[0] != '\0') {
    folder = home;
    folder += "/.config/kora";
  }
  return folder;
}

std::string side_file_path(const char* program_path, const char* extension) {
  std::string beside = side_file_name(program_path, extension);
  size_t slash = beside.rfind('/');
  // The folder is built in one go: GCC's restrict check misreads a literal
  // assigned over it afterwards.
  std::string folder = slash == std::string::npos ? std::string(".")
                       : slash == 0                ? std::string("/")
                                                   : beside.substr(0, slash);
  if (access(folder.c_str(), W_OK) == 0) return beside;
  std::string own = user_side_folder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (own.empty()) return beside;
  // The parent (~/.config) is made too; both private to the user.
  mkdir(own.substr(0, own.rfind('/')).c_str(), 0700);
  mkdir(own.c_str(), 0700);
  std::string path = own;
  path += '/';
  path += slash == std::string::npos ? beside : beside.substr(slash + 1);
  std::string defaults;
  if (access(path.c_str(), F_OK) != 0 && read_side_file(beside, defaults)) write_side_file(path, defaults);
  return path;
}

// /cp:NAME, whatever the name holds.
bool is_code_page_switch(const char* arg) { return (arg[0] == '/' || arg[0] == '-') && strncasecmp(arg + 1, "cp:", 3) == 0; }

// /x:FORMAT, /f:CONDITION, /s:FIELDS, /c:FIELDS, /e:CODEPAGE, /cp:NAME: switches
// whatever their values hold.
bool is_valued_switch(const char* arg) {
  return ((arg[0] == '/' || arg[0] == '-') && arg[1] != '\0' && std::strchr("xXfFsScCeE", arg[1]) != nullptr &&
          arg[2] == ':') ||
         is_code_page_switch(arg);
}

bool is_switch(const char* arg) {
  if (arg[0] == '-' || is_valued_switch(arg)) return true;
  if (arg[0] != '/') return false;
  // A switch is a word; "/home/u/a.dbf" or "/a.dbf" names a table.
  return std::strpbrk(arg + 1, "/.") == nullptr;
}

bool is_help_switch(const char* arg) {
  return (arg[0] == '/' || arg[0] == '-') && (arg[1] == 'h' || arg[1] == 'H' || arg[1] == '?') &&
         arg[2] == '\0';
}

namespace {

// A switch word; false when kora knows no such switch.
bool read_switch(const char* word, CommandLine& line) {
  if (*word == '\0') return true;  // "-": standard output, as no name says too
  struct Word {
    const char* name;
    int StartSwitches::*slot;
    int value;
  };
  static constexpr Word kWords[] = {
      {"ro", &StartSwitches::read_only, 1},
      {"mo", &StartSwitches::no_mouse, 1},
      {"cr", &StartSwitches::create, 1},
      {"ms", &StartSwitches::modify, 1},
  };
  for (const Word& w : kWords) {
    if (strcasecmp(word, w.name) != 0) continue;
    line.switches.*w.slot = w.value;
    return true;
  }
  struct Flag {
    const char* name;
    bool CommandLine::*slot;
  };
  static constexpr Flag kFlags[] = {{"append", &CommandLine::append},
                                    {"deleted", &CommandLine::deleted},
                                    {"ini", &CommandLine::ini},
                                    {"strict", &CommandLine::strict},
                                    {"check", &CommandLine::check},
                                    {"json", &CommandLine::json}};
  for (const Flag& f : kFlags) {
    if (strcasecmp(word, f.name) != 0) continue;
    line.*f.slot = true;
    return true;
  }
  // /a, /auto, /a+: the first letter decides; /r+ and /r- the second.
  char first = char(word[0] | 0x20);
  if (first == 'a') line.switches.auto_correct = word[1] == '+' ? 2 : 1;
  if (first == 'r' && (word[1] == '+' || word[1] == '-')) line.switches.review_order = word[1] == '+' ? 2 : 1;
  return first == 'a' || (first == 'r' && (word[1] == '+' || word[1] == '-'));
}

// The value of /x:, /f:, /s:, /c: or /e:; a second one is a problem.
void read_valued_switch(const char* arg, CommandLine& line) {
  std::string* slot = nullptr;
  switch (arg[1] | 0x20) {
    case 'x': slot = &line.export_format; line.batch_export = true; break;
    case 'f': slot = &line.filter; break;
    case 's': slot = &line.sort; break;
    case 'e': slot = &line.encoding; break;
    default: slot = &line.columns;
  }
  std::string value(arg + 3);
  std::string name(arg, 3);
  if (line.valued_seen.find(char(arg[1] | 0x20)) != std::string::npos) line.problems.push_back(name + ": given twice");
  line.valued_seen += char(arg[1] | 0x20);
  *slot = value;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  if (argc > 1 && (is_help_switch(argv[1]) || std::strcmp(argv[1], "--help") == 0)) {
    line.help = true;
    return line;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    line.version = true;
    return line;
  }
  for (int i = 1; i < argc; ++i) {
    if (!is_valued_switch(argv[i])) {
      if (is_switch(argv[i]) && !read_switch(argv[i] + 1, line)) line.problems.push_back(std::string(argv[i]) + ": unknown switch");
      continue;
    }
    if (is_code_page_switch(argv[i])) {
      line.code_page_given = true;
      line.code_page = argv[i] + 4;
      continue;
    }
    read_valued_switch(argv[i], line);
  }
  for (int i = 1; i < argc; ++i)
    if (!is_switch(argv[i])) line.names.emplace_back(argv[i]);
  return line;
}

std::string absolute_table_name(const std::string& name, const char* cwd) {
  if (name.starts_with('/') || !cwd || !*cwd) return name;
  std::string dir(cwd);
  if (dir.back() != '/') dir += '/';
  return dir + name;
}

int batch_repair(const std::vector<std::string>& names, std::FILE* report, bool read_only) {
  int skipped = 0;
  auto skip = [&](const std::string& name, const std::string& why) {
    std::fprintf(report, "kora: %s: %s\n", name.c_str(), why.c_str());
    ++skipped;
  };
  for (const std::string& name : names) {
    OpenFailure failure;
    std::unique_ptr<Table> table = open_table(name, &failure);
    if (!table) {
      skip(name, open_failure_text(failure));
      continue;
    }
    if (!table->recovery_note.empty()) std::fprintf(report, "kora: %s: %s\n", name.c_str(), table->recovery_note.c_str());
    if ((table->header_errors & kRepairableErrors) == 0) continue;
    if (read_only) {
      skip(name, "header not corrected in read-only mode");
      continue;
    }
    OpenFailure repair;
    repair.status = repair_header(*table, &repair.detail);
    if (repair.status != Status::kOk) skip(name, "header not corrected: " + failure_text(repair));
    close_table(table);
  }
  return skipped;
}

}  // namespace kora
