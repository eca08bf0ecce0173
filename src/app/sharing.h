// Sharing a table with other programs: the questions on a lock that cannot
// be had and on the first change of a table whose index kora does not
// update, and following what others do to the table while kora waits.
#pragma once

#include <string>

#include "table/dbf_file.h"

namespace kora {

struct TableState;

// What a lock that cannot be had blocks and what holds it, for the user.
std::string lock_conflict_text(const LockConflict& conflict);
// The question before the first change of a table with an index file;
// empty when the table has none.
std::string index_question_text(const Table& table);

// Installs both questions for every table opened through the list.
void install_sharing_questions(TableList& list);

// At most once a second: shows records others added, removed or rewrote,
// and opens the table again when another program replaced it. A record
// with changes not yet written is left as it is.
void follow_outside_changes(Table& table, TableState& state);

}  // namespace kora
