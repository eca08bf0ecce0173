// Help: the texts of an ordinary DBF table shipped in the "help" folder
// beside the program, one record per topic, opened read-only for every
// showing and closed after it.
#pragma once

#include <string>

namespace kora {

// The help table's path: "help/" and the HelpFile setting in the program's
// folder, or else in "../share/kora/help/" from it (an installed program);
// the first when neither holds it.
std::string help_table_path(const std::string& program_path);

// Makes F1 in every key wait show the topic of the wait, from the help
// table beside the program.
void help_install(const std::string& program_path);
// The program's path help_install was given.
const std::string& help_program_path();

// Topic 0 lists every topic in a menu; another number shows its text.
// A missing table, or a topic without a record, shows nothing.
void help_show(int topic);

// Shift+F1, Help, Contents.
void help_contents();

}  // namespace kora
