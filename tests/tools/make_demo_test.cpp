// The demo tables written by data/tools/make_demo, read back by readers that
// share no code with kora: the Python dbfread package and GDAL's ogrinfo.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../support/test_support.h"
#include "table/dbf_file.h"
#include "table/memo_file.h"
#include "table/record_ops.h"

namespace {

using kora::test::run_command;
using kora::test::TempDir;

// Prints every record of every table, one per line:
//   table <TAB> live|deleted <TAB> FIELD=value <TAB> ...
// Memo texts come back decoded; dBase IV memos are read past their end by
// dbfread (it takes the length with the block header in it), so the zero
// padding it picks up is cut off. Text date-times (T of length 14) are not
// known to dbfread and get a parser of their own.
constexpr const char* kReader = R"PY(
import sys, datetime, decimal
from dbfread import DBF, FieldParser

class Parser(FieldParser):
    def parseT(self, field, data):
        if len(data) == 14:
            return datetime.datetime.strptime(data.decode('ascii'), '%Y%m%d%H%M%S')
        return FieldParser.parseT(self, field, data)

def text(v):
    if v is None:
        return 'None'
    if isinstance(v, bytes):
        v = v.rstrip(b'\x00').decode('latin-1')
    elif isinstance(v, str):
        v = v.rstrip('\x00')
    elif isinstance(v, (datetime.date, datetime.datetime)):
        v = v.isoformat()
    else:
        v = str(v)
    return v.replace('\\', '\\\\').replace('\t', '\\t').replace('\r', '\\r').replace('\n', '\\n')

folder = sys.argv[1]
for name in ['demo.dbf', 'goods.dbf', 'books.dbf', 'staff.dbf']:
    table = DBF(folder + '/' + name, parserclass=Parser)
    print('header', name, hex(table.header.dbversion), table.encoding, sep='\t')
    for state, records in (('live', table.records), ('deleted', table.deleted)):
        for record in records:
            print(name, state, *('%s=%s' % (k, text(v)) for k, v in record.items()), sep='\t')
)PY";

using Record = std::map<std::string, std::string>;

struct Tables {
  std::map<std::string, std::string> header;  // table -> "version<TAB>encoding"
  std::map<std::string, std::vector<Record>> live, deleted;
};

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  std::string part;
  while (std::getline(in, part, '\t')) parts.push_back(part);
  return parts;
}

Tables parse_reader_output(const std::string& out) {
  Tables tables;
  std::stringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> parts = split_tabs(line);
    if (parts.size() == 4 && parts[0] == "header") {
      tables.header[parts[1]] = parts[2] + "\t" + parts[3];
      continue;
    }
    if (parts.size() < 2) continue;
    Record record;
    for (size_t k = 2; k < parts.size(); ++k) {
      size_t eq = parts[k].find('=');
      record[parts[k].substr(0, eq)] = parts[k].substr(eq + 1);
    }
    (parts[1] == "live" ? tables.live : tables.deleted)[parts[0]].push_back(record);
  }
  return tables;
}

class MakeDemoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string out;
    status_ = run_command(std::string(KORA_BINARY_DIR "/make_demo ") + dir_->path() + " 2>&1", out);
    tool_output_ = out;
    std::string script = dir_->file("read_tables.py");
    kora::test::write_bytes(script, std::vector<uint8_t>(kReader, kReader + std::char_traits<char>::length(kReader)));
    reader_status_ = run_command("/usr/bin/python3 " + script + " " + dir_->path() + " 2>&1", out);
    reader_output_ = out;
    tables_ = parse_reader_output(out);
  }
  static void TearDownTestSuite() { delete dir_; }

  static double number(const Record& r, const char* field) { return std::strtod(r.at(field).c_str(), nullptr); }

  static TempDir* dir_;
  static int status_, reader_status_;
  static std::string tool_output_, reader_output_;
  static Tables tables_;
};

TempDir* MakeDemoTest::dir_ = nullptr;
int MakeDemoTest::status_ = -1;
int MakeDemoTest::reader_status_ = -1;
std::string MakeDemoTest::tool_output_;
std::string MakeDemoTest::reader_output_;
Tables MakeDemoTest::tables_;

TEST_F(MakeDemoTest, WritesEveryTableAndMemoFileAndReaderAcceptsThem) {
  ASSERT_EQ(status_, 0) << tool_output_;
  ASSERT_EQ(reader_status_, 0) << reader_output_;
  for (const char* name : {"demo.fpt", "goods.fpt", "books.dbt", "staff.dbt"})
    EXPECT_TRUE(kora::test::file_exists(dir_->file(name))) << name;
  EXPECT_EQ(tables_.header["demo.dbf"], "0xf5\tcp866");
  EXPECT_EQ(tables_.header["goods.dbf"], "0x30\tcp1251");
  EXPECT_EQ(tables_.header["books.dbf"].substr(0, 4), "0x8b");
  EXPECT_EQ(tables_.header["staff.dbf"].substr(0, 4), "0x83");
}

TEST_F(MakeDemoTest, EngineOpensEveryTableWithoutHeaderErrors) {
  ASSERT_EQ(status_, 0) << tool_output_;
  for (const char* name : {"demo.dbf", "goods.dbf", "books.dbf", "staff.dbf"}) {
    std::unique_ptr<kora::Table> table = kora::open_table(dir_->file(name));
    ASSERT_TRUE(table) << name;
    EXPECT_EQ(table->header_errors, 0) << name;
    EXPECT_EQ(table->record_count, tables_.live[name].size() + tables_.deleted[name].size()) << name;
    kora::close_table(table);
  }
  // The memo text is stored in the table's code page, 866 here.
  std::unique_ptr<kora::Table> demo = kora::open_table(dir_->file("demo.dbf"));
  ASSERT_TRUE(demo);
  ASSERT_EQ(kora::read_record(*demo, 2), 1);
  std::string text;
  ASSERT_TRUE(kora::read_memo(*demo, kora::find_field(*demo, "NOTES"), text));
  EXPECT_EQ(text.substr(0, 6), "\x8E\xAF\xAB\xA0\xE2\xA0");  // "Оплата"
  kora::close_table(demo);
}

TEST_F(MakeDemoTest, OrdersTableHoldsFiftyOrdersInCodePage866) {
  ASSERT_EQ(reader_status_, 0) << reader_output_;
  const auto& live = tables_.live["demo.dbf"];
  const auto& deleted = tables_.deleted["demo.dbf"];
  ASSERT_EQ(live.size(), 46u);
  ASSERT_EQ(deleted.size(), 4u);
  std::vector<std::string> deleted_numbers;
  for (const Record& r : deleted) deleted_numbers.push_back(r.at("ORDER_NO"));
  EXPECT_EQ(deleted_numbers, (std::vector<std::string>{"1006", "1018", "1031", "1045"}));

  const Record& first = live[0];
  EXPECT_EQ(first.at("ORDER_NO"), "1001");
  EXPECT_EQ(first.at("ORDER_DATE"), "2024-01-09");
  EXPECT_EQ(first.at("CUSTOMER"), "ООО \"Ромашка\"");
  EXPECT_EQ(first.at("CITY"), "Москва");
  EXPECT_EQ(first.at("MANAGER"), "Иванов И.И.");
  EXPECT_EQ(first.at("ITEM"), "Бумага офисная A4");
  EXPECT_EQ(first.at("PAID"), "True");
  EXPECT_EQ(first.at("NOTES"), "Заказ №1001: доставка до склада клиента.\\r\\nКонтакт: Иванов И.И., город Москва.");
  EXPECT_EQ(live[1].at("ORDER_DATE"), "2024-01-12");
  EXPECT_EQ(live[1].at("NOTES"), "None");
  EXPECT_EQ(live[2].at("NOTES"), "Оплата по счёту в течение 10 банковских дней.");
  EXPECT_EQ(live[7].at("CUSTOMER"), "ИП Ёлкина М.П.");  // the sixth order is deleted

  // Every amount is the quantity times the price less the discount, to the cent.
  for (const Record& r : live) {
    double expected = number(r, "QTY") * number(r, "PRICE") * (100 - number(r, "DISCOUNT")) / 100;
    EXPECT_NEAR(number(r, "AMOUNT"), expected, 0.0051) << r.at("ORDER_NO");
    EXPECT_LT(r.at("ORDER_DATE"), "2025-01-01");
  }
  EXPECT_EQ(live[2].at("PAID"), "False");

  // GDAL takes the code page from the same mark byte.
  std::string out;
  ASSERT_EQ(run_command("ogrinfo -ro -al -q " + dir_->file("demo.dbf") + " 2>&1", out), 0) << out;
  EXPECT_NE(out.find("CUSTOMER (String) = ООО \"Ромашка\""), std::string::npos) << out;
  EXPECT_NE(out.find("CITY (String) = Владивосток"), std::string::npos) << out;
}

TEST_F(MakeDemoTest, VisualFoxProTableHoldsBinaryTypesAndCodePage1251) {
  ASSERT_EQ(reader_status_, 0) << reader_output_;
  const auto& live = tables_.live["goods.dbf"];
  const auto& deleted = tables_.deleted["goods.dbf"];
  ASSERT_EQ(live.size(), 8u);
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[0].at("ID"), "103");
  EXPECT_EQ(deleted[1].at("ID"), "108");

  const Record& tea = live[0];
  EXPECT_EQ(tea.at("ID"), "101");
  EXPECT_EQ(tea.at("NAME"), "Чай чёрный «Ассам»");
  EXPECT_EQ(tea.at("PRICE"), "349.75");
  EXPECT_EQ(tea.at("WEIGHT"), "0.25");
  EXPECT_EQ(tea.at("UPDATED"), "2024-03-01T09:00:30");
  EXPECT_EQ(tea.at("NOTE"), "Листовой, упаковка 250 г.");
  EXPECT_EQ(tea.at("PICTURE"), "OLE object placeholder 0");
  EXPECT_EQ(tea.at("_NullFlags"), "");

  const Record& biscuits = live[3];  // the fifth record; the third is deleted
  EXPECT_EQ(biscuits.at("ID"), "105");
  EXPECT_EQ(biscuits.at("PRICE"), "112.0625");
  EXPECT_EQ(biscuits.at("UPDATED"), "2024-03-05T13:20:30");
  EXPECT_EQ(biscuits.at("NOTE"), "None");
  EXPECT_EQ(live[2].at("NAME"), "Мёд липовый");
  EXPECT_EQ(live[2].at("NOTE"), "Алтай — урожай этого года.");
}

TEST_F(MakeDemoTest, DBase4TableHoldsLongCharacterTextTimesAndBinaryMemos) {
  ASSERT_EQ(reader_status_, 0) << reader_output_;
  const auto& live = tables_.live["books.dbf"];
  ASSERT_EQ(live.size(), 7u);
  ASSERT_EQ(tables_.deleted["books.dbf"].size(), 1u);
  EXPECT_EQ(tables_.deleted["books.dbf"][0].at("CODE"), "B-004");

  const Record& first = live[0];
  const std::string& title = first.at("TITLE");
  EXPECT_EQ(title.size(), 295u);  // dbfread drops the trailing spaces
  EXPECT_EQ(title.substr(0, 16), "Database Systems");
  EXPECT_EQ(title.substr(title.size() - 5), "[end]");
  EXPECT_EQ(first.at("PUBLISHED"), "1995-01-10");
  EXPECT_EQ(first.at("IN_STOCK"), "True");
  EXPECT_EQ(first.at("RATING"), "3.5");
  EXPECT_EQ(first.at("CHANGED"), "2023-12-20T14:30:15");
  EXPECT_EQ(first.at("ABSTRACT"), "An introduction to file formats and record storage.");
  EXPECT_EQ(first.at("COVER"), "None");
  EXPECT_EQ(live[1].at("COVER"), "cover image of B-002");
  EXPECT_EQ(live[1].at("IN_STOCK"), "False");
  EXPECT_EQ(live[2].at("ABSTRACT"), "None");
  EXPECT_EQ(live[6].at("CODE"), "B-008");
  EXPECT_EQ(live[6].at("COVER"), "cover image of B-008");
}

TEST_F(MakeDemoTest, DBase3TableReadsBackInBothReaders) {
  ASSERT_EQ(reader_status_, 0) << reader_output_;
  const auto& live = tables_.live["staff.dbf"];
  ASSERT_EQ(live.size(), 10u);
  ASSERT_EQ(tables_.deleted["staff.dbf"].size(), 2u);
  EXPECT_EQ(live[0].at("NAME"), "Alice Johnson");
  EXPECT_EQ(live[0].at("BORN"), "1980-04-12");
  EXPECT_EQ(live[0].at("SALARY"), "72000.0");
  EXPECT_EQ(live[0].at("RATE"), "1.125");
  EXPECT_EQ(live[0].at("COMMENT"), "Team lead since 2015.");
  EXPECT_EQ(live[1].at("COMMENT"), "None");
  EXPECT_EQ(live[3].at("NAME"), "Eve Davis");
  EXPECT_EQ(live[3].at("BORN"), "1992-02-29");
  EXPECT_EQ(live[3].at("SALARY"), "80400.75");

  std::string out;
  ASSERT_EQ(run_command("ogrinfo -ro -al " + dir_->file("staff.dbf") + " 2>&1", out), 0) << out;
  EXPECT_NE(out.find("Feature Count: 12"), std::string::npos) << out;
  EXPECT_NE(out.find("NAME: String (20.0)"), std::string::npos) << out;
  EXPECT_NE(out.find("SALARY: Real (10.2)"), std::string::npos) << out;
  EXPECT_NE(out.find("BORN: Date (10.0)"), std::string::npos) << out;
  EXPECT_NE(out.find("NAME (String) = Alice Johnson"), std::string::npos) << out;
  EXPECT_NE(out.find("BORN (Date) = 1980/04/12"), std::string::npos) << out;
  EXPECT_NE(out.find("SALARY (Real) = 65500.50"), std::string::npos) << out;
  EXPECT_NE(out.find("CITY (String) = Detroit"), std::string::npos) << out;
  // ogrinfo skips deleted records.
  EXPECT_EQ(out.find("David Brown"), std::string::npos) << out;
  EXPECT_EQ(out.find("Irene Clark"), std::string::npos) << out;
}

}  // namespace
