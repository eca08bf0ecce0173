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
DbfLayout people() {
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 5}, {"CITY", 'C', 5}, {"PRICE", 'N', 5, 1}, {"QTY", 'N', 2}, {"AGE", 'N', 3}};
  layout.records = {"ANN  OSLO  10.0 2 40", "BOB  ROME   5.0 1 25", "CID  BONN   0.0 3 35", "DAN  PARIS 20.0 1 50",
                    "EVE  LIMA   7.5 4 30"};
  return layout;
}

std::string trim(std::string text) {
  text.erase(0, text.find_first_not_of(' '));
  return text.erase(text.find_last_not_of(' ') + 1);
}

std::string shown_captions(const Table& t) {
  std::string out;
  for (int k = 0; k < column_count(t); ++k) out.append(k ? "|" : "").append(column_name(t, column_field(t, k)));
  return out;
}

// Columns shown / cells of the first row / filter / sort / NAME down the view
// / column indices in use (fields and computed columns).
std::string outcome(Table& t) {
  std::string out = shown_captions(t) + " / ";
  for (int k = 0; k < column_count(t) && read_record(t, 0); ++k) {
    out.append(k ? "|" : "").append(trim(field_text(t, column_field(t, k))));
  }
  out.append(" / ").append(t.view.filter_expr).append(" / ");
  for (size_t k = 0; k < t.view.sort_fields.size(); ++k) {
    out.append(k ? "," : "").append(column_name(t, t.view.sort_fields[k]));
  }
  out.append(t.view.sort_descending && !t.view.sort_fields.empty() ? " desc /" : " /");
  for (uint32_t p = 0; p < visible_count(t) && read_record(t, p); ++p) out.append(" ").append(trim(field_raw_text(t, 0)));
  return out.append(" / ").append(std::to_string(column_index_count(t.columns)));
}

constexpr const char* kSetUp = "SELECT CITY, NAME FROM x WHERE AGE}30 ORDER BY NAME DESC";

TEST(SqlTest, StatementsSetColumnsFilterAndSort) {
  const char* kAll = "NAME|CITY|PRICE|QTY|AGE / ANN|OSLO|10.0|2|40 /  /  / ANN BOB CID DAN EVE / 5";
  const char* kKept = "CITY|NAME / PARIS|DAN / AGE>30 / NAME desc / DAN CID ANN / 5";
  const char* kByCity = "NAME|CITY / BOB|ROME /  / CITY desc / BOB DAN ANN EVE CID / 5";
  struct Case {
    const char* before;  // run first, or null
    const char* statement;
    bool stop;  // the walks are asked to stop
    int code;
    const char* outcome;
  } cases[] = {
      {nullptr, "select * from x", false, 0, kAll},
      {nullptr, "SELECT NAME, CITY FROM x ORDER BY CITY DESC", false, 0, kByCity},
      {nullptr, "'SELECT NAME, CITY FROM x ORDER BY CITY DESC'", false, 0, kByCity},
      {nullptr, "SELECT PRICE*QTY AS TOTAL, NAME FROM x", false, 0,
       "TOTAL|NAME / 20.000000|ANN /  /  / ANN BOB CID DAN EVE / 6"},
      {nullptr, "SELECT NAME FROM x WHERE AGE } 30", false, 0, "NAME / ANN / AGE > 30 /  / ANN CID DAN / 5"},
      {nullptr, "SELECTNAME FROM x", false, 0, "NAME / ANN /  /  / ANN BOB CID DAN EVE / 5"},
      {nullptr, "SELECT AGE, *, NAME FROM x", false, 0,
       "AGE|NAME|CITY|PRICE|QTY / 40|ANN|OSLO|10.0|2 /  /  / ANN BOB CID DAN EVE / 5"},
      {nullptr, "DELETE FROM x", false, 7, kAll},
      {nullptr, "  create \t table y (A C(1))", false, 7, kAll},
      {kSetUp, "UPDATE x SET NAME='A'", false, 7, kKept},
      {nullptr, "DELETED FROM x", false, 1, kAll},
      // Refusals and stopped walks change nothing.
      {kSetUp, "SELECT NAME", false, 4, kKept},
      {kSetUp, "SELECT NAME FROMAGE", false, 4, kKept},
      {kSetUp, "SELECT foo FROM x", false, 8, kKept},
      {kSetUp, "SELECT NAME FROM x ORDER BY NAME, foo", false, 8, kKept},
      {kSetUp, "SELECT NAME FROM x WHERE", false, 2, kKept},
      {kSetUp, "SELECT NAME FROM x WHERE AGE", false, 2, kKept},
      {kSetUp, "SELECT NAME, PRICE*2 AS D FROM x WHERE AGE<30", true, 6, kKept},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY", true, 6, kKept},
      // ORDER BY alone drops the old sort and keeps the filter; the
      // direction stays unless ASC or DESC is given.
      {kSetUp, "SELECT NAME FROM x ORDER BY", false, 0, "NAME / ANN / AGE>30 /  / ANN CID DAN / 5"},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY", false, 0, "NAME / DAN / AGE>30 / CITY desc / DAN ANN CID / 5"},
      {kSetUp, "SELECT NAME FROM x ORDER BY CITY ASC", false, 0, "NAME / CID / AGE>30 / CITY / CID ANN DAN / 5"},
      {nullptr, "SELECT NAME FROM x ORDER \t  BY NAME DESC WHERE AGE}30", false, 0,
       "NAME / DAN / AGE>30 / NAME desc / DAN CID ANN / 5"},
      {kSetUp, "SELECT NAME FROM x ORDER BYCITY", false, 0, "NAME / DAN / AGE>30 / NAME desc / DAN CID ANN / 5"},
      // Keywords and braces inside quoted literals are data.
      {nullptr, "SELECT NAME FROM x WHERE CITY<>'FROM WHERE {' ORDER BY NAME DESC", false, 0,
       "NAME / EVE / CITY<>'FROM WHERE {' / NAME desc / EVE DAN CID BOB ANN / 5"},
      // AS needs a token on each side; a second run reuses the column of that name.
      {nullptr, "SELECT AS X, NAME, CITY AS", false, 4, kAll},
      {nullptr, "SELECT AS X, NAME, CITY AS FROM x", false, 8, kAll},
      // A computed column never takes a field's name or one used before it;
      // ORDER BY an alias sorts by its column.
      {nullptr, "SELECT PRICE*2 AS age, QTY AS T, AGE AS t FROM x ORDER BY age", false, 0,
       "age_1|T|t_1 / 0.000000|3.000000|35.000000 /  / age_1 / CID BOB EVE ANN DAN / 8"},
      // The computed columns of the statement before go, and a sort by them.
      {"SELECT PRICE*2 AS D, NAME FROM x ORDER BY D", "SELECT NAME FROM x", false, 0,
       "NAME / ANN /  /  / ANN BOB CID DAN EVE / 6"},
      {"SELECT PRICE*2 AS D, QTY AS Q FROM x", "SELECT Q, NAME FROM x", false, 0,
       "Q|NAME / 2.000000|ANN /  /  / ANN BOB CID DAN EVE / 7"},
      {nullptr, "SELECT PRICE AS P, NAME FROM x", false, 0, "P|NAME / 10.000000|ANN /  /  / ANN BOB CID DAN EVE / 6"},
      {"SELECT NAME, PRICE*2 AS D FROM x", "SELECT PRICE*3 AS d, NAME FROM x", false, 0,
       "D|NAME / 30.000000|ANN /  /  / ANN BOB CID DAN EVE / 6"},
      {"SELECT NAME, PRICE*2 AS D FROM x", "SELECT D, CITY FROM x ORDER BY D", false, 0,
       "D|CITY / 0.000000|BONN /  / D / CID BOB EVE ANN DAN / 6"},
  };
  install_computed_column_hooks();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    TempDir dir;
    write_bytes(dir.file("t.dbf"), build_dbf(people()));
    auto table = open_table(dir.file("t.dbf"));
    ASSERT_TRUE(table);
    if (c.before) {
      ASSERT_EQ(sql_execute(table.get(), c.before), kSqlOk);
    }
    int calls = 0;
    ProgressCallback progress = [&](uint64_t, uint64_t) { return ++calls, !c.stop; };
    EXPECT_EQ(sql_execute(table.get(), c.statement, progress), c.code);
    EXPECT_EQ(outcome(*table), c.outcome);
    EXPECT_TRUE(!c.stop || calls > 0);
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
