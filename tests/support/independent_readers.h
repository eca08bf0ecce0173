// Readers of DBF files that share no code with kora, from Debian's packages:
// python3-dbfread and GDAL's ogr2ogr. Tests compare what they see in tables
// kora wrote with what they see in reference tables.
#pragma once

#include <string>
#include <vector>

namespace kora::test {

// dbfread's reading of the live records: one line per record with every
// value, memo texts included unless left out; a last line with the count of
// deleted records. (dbfread reads dBase IV memos 8 bytes too long, so their
// texts are better compared through the engine.) Text is decoded from
// `encoding` and printed in UTF-8.
std::string dbfread_dump(const std::string& path, bool memos = true, const std::string& encoding = "latin1");

// GDAL's reading of a dBase III table as CSV (memo fields left out by select).
std::string gdal_csv(const std::string& path, const std::string& select = "");

std::vector<std::string> lines_of(const std::string& text);

}  // namespace kora::test
