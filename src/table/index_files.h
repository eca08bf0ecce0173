// Index files other programs keep beside a table. kora reads and writes the
// records in file order and never updates an index, so a change it makes
// leaves every such index behind until its program rebuilds it.
#pragma once

#include <string>
#include <vector>

namespace kora {

struct Table;

// The index files named like the table (any case of letters) with the
// extension of an index (.cdx, .mdx, .ntx, .ndx, .idx, any case), sorted;
// and, when the header says the table has a structural index that is not
// there, the name that index would have.
std::vector<std::string> index_files(const Table& table);

// The header's flag of a structural index (.cdx of FoxPro, .mdx of dBase).
bool has_structural_index_flag(const Table& table);

}  // namespace kora
