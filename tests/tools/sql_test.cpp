// SQL statements on a small table: which columns are shown in which order,
// the filter and the sort they leave, and that every refusal or stopped
// walk leaves the view as it was.
#include <gtest/gtest.h>

#include <string>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/record_ops.h"
#include "table/value_codec.h"
#include "tools/condition.h"
#include "tools/sql.h"

namespace kora {
namespace {

using namespace kora::test;

// NAME C5, CITY C5, PRICE N5.1, QTY N2, AGE N3.
DbfSpec people() {
  DbfSpec layout;
  layout.fields = {{"NAME", 'C', 5}, {"CITY", 'C', 5}, {"PRICE", 'N', 5, 1}, {"QTY", 'N', 2}, {"AGE", 'N', 3}};
  layout.records = {"ANN  OSLO  10.0 2 40", "BOB  ROME   5.0 1 25", "CID  BONN   0.0 3 35", "DAN  PARIS 20.0 1 50",
                    "EVE  LIMA   7.5 4 30"};
  return layout;
}

std::string trim(std::string text) {
  text.erase(0, text.find_first_not_of(' '));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (const std::string& part : parts) out.append(out.empty() ? "" : separator).append(part);
  return out;
}

std::string shown_captions(const Table& t) {
  std::vector<std::string> names;
  for (int k = 0; k < column_count(t); ++k) names.push_back(column_name(t, column_field(t, k)));
  return joined(names, "|");
}

std::string first_row(Table& t) {
  std::vector<std::string> cells;
  if (read_record(t, 0)) {
    for (int k = 0; k < column_count(t); ++k) cells.push_back(trim(field_text(t, column_field(t, k))));
  }
  return joined(cells, "|");
}

std::string view_names(Table& t) {
  std::vector<std::string> names;
  for (uint32_t p = 0; p < visible_count(t); ++p) {
    if (read_record(t, p)) names.push_back(trim(field_raw_text(t, 0)));
  }
  return joined(names, " ");
}

std::string sort_names(const Table& t) {
  std::vector<std::string> names;
  for (int column : t.view.sort_fields) names.push_back(column_name(t, column));
  if (!names.empty() && t.view.sort_descending) names.back().append(" desc");
  return joined(names, ",");
}

constexpr const char* kSetUp = "SELECT CITY, NAME FROM x WHERE AGE}30 ORDER BY NAME DESC";

struct SqlCase {
  const char* before;  // run first, or null
  const char* statement;
  bool stop;  // the walks are asked to stop
  int code;
  const char* shown;
  const char* first;  // the shown cells of the first row
  const char* filter;
  const char* sort;
  const char* names;  // NAME down the view
  int slots;          // column indices in use: fields and computed columns
};

TEST(SqlTest, StatementsSetColumnsFilterAndSort) {
  const char* all = "NAME|CITY|PRICE|QTY|AGE";
  const char* plain = "ANN BOB CID DAN EVE";
  const SqlCase cases[] = {
      {nullptr, "select * from x", false, 0, all, "ANN|OSLO|10.0|2|40", "", "", plain, 5},
      {nullptr, "SELECT NAME, CITY FROM x ORDER BY CITY DESC", false, 0, "NAME|CITY", "BOB|ROME", "", "CITY desc",
       "BOB DAN ANN EVE CID", 5},
      {nullptr, "'SELECT NAME, CITY FROM x ORDER BY CITY DESC'", false, 0, "NAME|CITY", "BOB|ROME", "", "CITY desc",
       "BOB DAN ANN EVE CID", 5},
      {nullptr, "SELECT PRICE*QTY AS TOTAL, NAME FROM x", false, 0, "TOTAL|NAME", "20.000000|ANN", "", "", plain, 6},
      {nullptr, "SELECT NAME FROM x WHERE AGE } 30", false, 0, "NAME", "ANN", "AGE > 30", "", "ANN CID DAN", 5},
      {nullptr, "SELECTNAME FROM x", false, 0, "NAME", "ANN", "", "", plain, 5},
      {nullptr, "SELECT AGE, *, NAME FROM x", false, 0, "AGE|NAME|CITY|PRICE|QTY", "40|ANN|OSLO|10.0|2", "", "",
       plain, 5},
      {nullptr, "DELETE FROM x", false, 0, all, "ANN|OSLO|10.0|2|40", "", "", plain, 5},
      {nullptr, "  create \t table y (A C(1))", false, 0, all, "ANN|OSLO|10.0|2|40", "", "", plain, 5},
      {nullptr, "DELETED FROM x", false, 1, all, "ANN|OSLO|10.0|2|40", "", "", plain, 5},
      // Refusals change nothing.
      {kSetUp, "SELECT NAME", false, 4, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc", "DAN CID ANN", 5},
      {kSetUp, "SELECT NAME FROMAGE", false, 4, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc", "DAN CID ANN", 5},
      {kSetUp, "SELECT foo FROM x", false, 3, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc", "DAN CID ANN", 5},
      {kSetUp, "SELECT NAME FROM x WHERE", false, 2, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc", "DAN CID ANN",
       5},
      {kSetUp, "SELECT NAME FROM x WHERE AGE", false, 2, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc",
       "DAN CID ANN", 5},
      {kSetUp, "SELECT NAME, PRICE*2 AS D FROM x WHERE AGE<30", true, 6, "CITY|NAME", "PARIS|DAN", "AGE>30",
       "NAME desc", "DAN CID ANN", 5},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY", true, 6, "CITY|NAME", "PARIS|DAN", "AGE>30", "NAME desc",
       "DAN CID ANN", 5},
      // ORDER BY alone drops the old sort and keeps the filter; the
      // direction stays unless ASC or DESC is given.
      {kSetUp, "SELECT NAME FROM x ORDER BY", false, 0, "NAME", "ANN", "AGE>30", "", "ANN CID DAN", 5},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY", false, 0, "NAME", "DAN", "AGE>30", "CITY desc", "DAN ANN CID", 5},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY ASC", false, 0, "NAME", "CID", "AGE>30", "CITY", "CID ANN DAN", 5},
      {nullptr, "SELECT NAME FROM x ORDER \t  BY NAME DESC WHERE AGE}30", false, 0, "NAME", "DAN", "AGE>30",
       "NAME desc", "DAN CID ANN", 5},
      {kSetUp, "SELECT NAME FROM x ORDER BYCITY", false, 0, "NAME", "DAN", "AGE>30", "NAME desc", "DAN CID ANN", 5},
      // Keywords and braces inside quoted literals are data.
      {nullptr, "SELECT NAME FROM x WHERE CITY<>'FROM WHERE {' ORDER BY NAME DESC", false, 0, "NAME", "EVE",
       "CITY<>'FROM WHERE {'", "NAME desc", "EVE DAN CID BOB ANN", 5},
      // AS needs a token on each side; a second run reuses the column of that name.
      {nullptr, "SELECT AS X, NAME, CITY AS", false, 4, all, "ANN|OSLO|10.0|2|40", "", "", plain, 5},
      {nullptr, "SELECT AS X, NAME, CITY AS FROM x", false, 0, "NAME|CITY", "ANN|OSLO", "", "", plain, 5},
      {nullptr, "SELECT PRICE AS P, NAME FROM x", false, 0, "P|NAME", "10.000000|ANN", "", "", plain, 6},
      {"SELECT NAME, PRICE*2 AS D FROM x", "SELECT PRICE*3 AS d, NAME FROM x", false, 0, "D|NAME", "30.000000|ANN",
       "", "", plain, 6},
      {"SELECT NAME, PRICE*2 AS D FROM x", "SELECT D, CITY FROM x ORDER BY D", false, 0, "D|CITY", "0.000000|BONN",
       "", "D", "CID BOB EVE ANN DAN", 6},
  };
  install_computed_column_hooks();
  for (const SqlCase& c : cases) {
    SCOPED_TRACE(c.statement);
    TempDir dir;
    std::string path = dir.file("t.dbf");
    write_bytes(path, build_dbf(people()));
    auto table = open_table(path);
    ASSERT_TRUE(table);
    if (c.before) {
      ASSERT_EQ(sql_execute(table.get(), c.before), kSqlOk);
    }
    int calls = 0;
    ProgressCallback progress = [&](uint64_t, uint64_t) { return ++calls, !c.stop; };
    EXPECT_EQ(sql_execute(table.get(), c.statement, progress), c.code);
    EXPECT_EQ(shown_captions(*table), c.shown);
    EXPECT_EQ(first_row(*table), c.first);
    EXPECT_EQ(table->view.filter_expr, c.filter);
    EXPECT_EQ(sort_names(*table), c.sort);
    EXPECT_EQ(view_names(*table), c.names);
    EXPECT_EQ(column_index_count(table->columns), c.slots);
    if (c.stop) {
      EXPECT_GT(calls, 0);
    }
  }
}

TEST(SqlTest, WithoutATableTheOneNamedAfterFromIsOpened) {
  TempDir dir;
  std::string path = dir.file("people.dbf");
  write_bytes(path, build_dbf(people()));
  SqlRun run;
  EXPECT_EQ(sql_execute(nullptr, "SELECT NAME FROM " + dir.file("none.dbf") + " WHERE AGE>1", run), kSqlCannotOpen);
  EXPECT_FALSE(run.opened);
  ASSERT_EQ(sql_execute(nullptr, "SELECT CITY FROM \t" + path + " WHERE AGE}30", run), kSqlOk);
  ASSERT_TRUE(run.opened);
  EXPECT_EQ(shown_captions(*run.opened), "CITY");
  EXPECT_EQ(visible_count(*run.opened), 3u);
}

}  // namespace
}  // namespace kora
