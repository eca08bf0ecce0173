// The start of a run: finding the program's own file, the names of the files
// kept beside it, and reading the switches and table names of the command line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "table/dbf_file.h"

namespace kora {

// The switches of the command line; every slot is 0 when its switch is absent.
struct StartSwitches {
  int read_only = 0;     // /ro
  int no_mouse = 0;      // /mo; the terminal layer has no mouse, so nothing reads it
  int create = 0;        // /cr
  int modify = 0;        // /ms
  int auto_correct = 0;  // 0 ask, 1 correct without asking (/a), 2 correct in batch and exit (/a+)
  int review_order = 0;  // 0 not given, 1 normal order (/r-), 2 reverse order (/r+)
};

struct CommandLine {
  bool help = false;  // the first argument asked for the usage text; nothing else was read
  bool version = false;  // --version
  // The batch export: /x:FORMAT, with /f:CONDITION, /s:FIELDS, /c:FIELDS
  // and the words /append, /deleted, /ini and /strict.
  bool batch_export = false;
  std::string export_format;
  std::string filter;
  std::string sort;
  std::string columns;
  std::string encoding;  // /e:CODEPAGE: the code page text formats are written in
  bool append = false;
  bool deleted = false;
  bool ini = false;
  bool strict = false;
  // The health check: /check with the tables to check, /json for its JSON.
  bool check = false;
  bool json = false;
  // Switches no one knows, and valued ones given twice: "/zz: unknown
  // switch". A batch export refuses to run with any.
  std::vector<std::string> problems;
  std::string valued_seen;  // the letters of the valued switches read so far
  StartSwitches switches;
  std::vector<std::string> names;  // the arguments that are not switches, in order
  // /cp:NAME: the code page the table is read in, whatever its files say.
  bool code_page_given = false;
  std::string code_page;
};

// The usage text printed for the help switch, banner lines included.
std::string usage_text();
// The program's name and version, for --version.
std::string version_text();

// The program's full file name from argv0, the value of PATH and the working
// directory (nullptr for "unset" or "unreadable"). Returns 1 when found;
// otherwise `out` holds "./" and the result is 0. Nothing longer than the
// buffer is ever written: a candidate that would not fit is passed over.
int find_program_path(const char* argv0, const char* path_value, const char* cwd,
                      char (&out)[kPathBufferSize]);
// The same, with PATH and the working directory of this process.
int locate_program(const char* argv0, char (&out)[kPathBufferSize]);

// A file kept beside the program: the program's directory and file name with
// the extension replaced by `extension` (given with its dot, ".ini").
std::string side_file_name(const char* program_path, const char* extension);

// The user's own folder for side files: $XDG_CONFIG_HOME/kora, else
// $HOME/.config/kora (nullptr for unset); empty when neither is set.
std::string user_side_folder(const char* xdg_config_home, const char* home);

// Where a side file is read and written: beside the program when its folder
// may be written; otherwise (a system-wide install) in the user's own folder,
// made with mode 0700 when missing, where the file beside the program, when
// there is one, is copied as the user's starting defaults.
std::string side_file_path(const char* program_path, const char* extension);

// An argument that starts with '/' or '-'. An argument starting with '/' that
// holds a further '/' or a '.' is a path name, not a switch.
bool is_switch(const char* arg);
// "/h", "/?", "-h" or "-?" in any case.
bool is_help_switch(const char* arg);

// Reads argv[1..argc-1]: the help switch (first argument only), the switches,
// and the names in order.
CommandLine parse_command_line(int argc, const char* const* argv);

// `name` when it starts with '/', else the working directory joined to it.
// Without a working directory the name is kept as given.
std::string absolute_table_name(const std::string& name, const char* cwd);

// The batch header repair: opens every named table on its own, writes the
// corrected header where the open found errors, and closes it. A file that
// does not open, or whose header may not or could not be written, is passed
// over, with its name and the reason in a line on `report`. Returns the
// number of files passed over. In read-only mode nothing is written: every
// header that wants a repair is reported instead.
int batch_repair(const std::vector<std::string>& names, std::FILE* report, bool read_only = false);

}  // namespace kora
