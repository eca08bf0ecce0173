// Conditions over a small table: one table of cases, each naming the records
// that pass, checked on the text path and on the compiled path alike, with
// record images read once and the table's own record buffer blanked; the
// string functions; computed columns through the value codec.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../support/dbf_builder.h"
#include "../support/test_support.h"
#include "table/column_model.h"
#include "table/record_ops.h"
#include "tools/condition.h"
#include "tools/string_functions.h"

namespace kora {
namespace {

using namespace kora::test;

std::string little_endian(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
  return out;
}

std::string currency(double value) { return little_endian(uint64_t(int64_t(value * 10000)), 8); }

std::string date_time(int year, int month, int day, int hour, int minute, int second) {
  long ms = ((hour * 60L + minute) * 60 + second) * 1000;
  return little_endian(uint32_t(julian_day_number(year, month, day)), 4) + little_endian(uint32_t(ms), 4);
}

std::string pad(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

// NAME C10, CITY C8, A N2, B N6.2, C N2, PRICE N7.2, CUR Y, D D, TS T (binary), NOTE C300.
std::string record(const std::string& name, const std::string& city, const std::string& a, const std::string& b,
                   const std::string& c, const std::string& price, double cur, const std::string& date,
                   const std::string& ts, const std::string& note) {
  return pad(name, 10) + pad(city, 8) + a + b + c + price + currency(cur) + date + ts + pad(note, 300);
}

class ConditionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfLayout layout;
    layout.fields = {{"NAME", 'C', 10},  {"CITY", 'C', 8},     {"A", 'N', 2},  {"B", 'N', 6, 2},
                   {"C", 'N', 2},      {"PRICE", 'N', 7, 2}, {"CUR", 'Y', 8}, {"D", 'D', 8},
                   {"TS", 'T', 8},     {"NOTE", 'C', 300}};
    const std::string no_time(8, '\0');
    layout.records = {
        record("SMITH", "LONDON", " 1", "  0.00", " 3", "       ", 1.5, "20200115", date_time(2002, 12, 1, 1, 2, 3), "plain"),
        record("SMITHSON", "PARIS", " 2", " -3.00", " 3", "  60.00", -2, "20210101", no_time, std::string(290, 'x') + "needle"),
        record("JONES", "ROME", " 1", "  2.00", " 4", "  10.00", 0, "19991231", no_time, ""),
        record("C++", "PARIS", " 5", "  2.00", " 1", "  70.00", 123456789.1234, "        ", no_time, "LEFT(ab,1)"),
        record("(X)", "oslo,x", " 0", "  1.00", " 0", "   1.00", 0, "20000229", no_time, ""),
        record("=X", "Oslo", " 0", "  1.00", " 0", "   1.00", 0, "20000229", no_time, "(open"),
    };
    layout.deleted = {false, false, true, false, false, false};
    path_ = dir_.file("people.dbf");
    write_bytes(path_, build_dbf(layout));
    table_ = open_table(path_);
    ASSERT_TRUE(table_);
    table_->trim_mode = 1;
    for (uint32_t q = 0; q < table_->record_count; ++q) {
      ASSERT_EQ(read_record(*table_, q), 1);
      images_.emplace_back(table_->record.begin(), table_->record.begin() + table_->record_size);
    }
    // Evaluation reads the images handed to it, never the current record.
    std::memset(table_->record.data(), ' ', table_->record.size());
  }

  RecordImage image(size_t q) const { return RecordImage(images_[q].data(), images_[q].size()); }

  // Records passing on the text path; the compiled path must agree on each.
  std::string passing(const std::string& expression, const ConditionFlags& flags) {
    CompiledCondition compiled = compile_condition(*table_, expression, flags);
    std::string out;
    for (size_t q = 0; q < images_.size(); ++q) {
      bool text_path = evaluate_condition(*table_, image(q), expression, flags);
      EXPECT_EQ(condition_passes(compiled, *table_, image(q)), text_path) << expression << " record " << q;
      if (text_path) out += char('0' + q);
    }
    return out;
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<Table> table_;
  std::vector<std::vector<uint8_t>> images_;
};

struct ConditionCase {
  std::string expression;
  std::string passing;  // record numbers that pass, ascending
  bool literal_brackets = false;
  bool hide_deleted = false;
  bool ignore_case = false;
};

TEST_F(ConditionTest, TableOfConditions) {
  std::string many = "A>0";
  for (int i = 0; i < 45; ++i) many += "&C>0";
  // Forty filters merged one after another nest forty levels deep.
  std::string merged = "A>0", merged_or = "NAME='J'";
  for (int i = 0; i < 40; ++i) merged = "(" + merged + ")&(C>0)", merged_or = "(" + merged_or + ")|(A=5)";
  const ConditionCase cases[] = {
      // Prefix comparison of texts, whole-text equality, containment.
      {"NAME='SMITH'", "01"},
      {"NAME=='SMITH'", "0"},
      {"'SMITH'=NAME", "01"},
      {"NAME~'MIT'", "01"},
      {"NAME<'D'", "345"},
      {"NAME<>'SMITH'", "2345"},
      {"NAME~<'Z'", ""},
      {"NAME~='SMITH'", ""},
      {"CITY=''", "012345"},
      {"CITY='oslo'", "4"},
      {"CITY='OSLO'", "45", false, false, true},
      // Numbers: an empty number is 0, exact equality of doubles.
      {"PRICE*2>100", "13"},
      {"PRICE=0", "0"},
      {"A=1", "02"},
      {"A=1", "0", false, true},
      {"A~1", "02"},
      {"A*0+0.1+0.2=0.3", ""},
      {"A*0+0.5+0.25=0.75", "012345"},
      {"A>NAME", ""},
      // & binds tighter than |, parentheses group.
      {"(A=1|B=2)&C=3", "0"},
      {"A=1|B=2&C=3", "02"},
      {"((A=1))&C=3", "0"},
      {"(A=2|A=5)", "13"},
      {"A=1&B", ""},
      {"NAME='A&B'", ""},
      // Parentheses that do not balance, counted inside quotes too.
      {"NAME='('", ""},
      {"NAME='('", "4", true},
      {"NAME='(X)'|A=2", "14"},
      {"(NAME='(X'", ""},
      // Negative values are substituted in parentheses: 1-(-3.00).
      {"A-B>3", "1"},
      {"-B=3", "1"},
      // Long texts after substitution: four currency values, 46 comparisons.
      {"CUR+CUR+CUR+CUR>0", "03"},
      {"CUR<0", "1"},
      {"CUR=1.5", "0"},
      {"CUR+CUR+CUR+CUR=493827156.4936", "3"},
      {many, "0123"},
      {merged, "0123"},
      {merged_or, "23"},
      {"((A>0)&(C>0)", "", false},
      // Texts from long fields, no fixed buffers.
      {"NOTE~'needle'", "1"},
      {"NOTE=='" + std::string(290, 'x') + "needle'", "1"},
      // Only the expression's own + joins texts; quoted and stored ones stay.
      {"NAME='C++'", "3"},
      {"NAME+CITY='C++PARIS'", "3"},
      {"TRIM(NAME)+CITY=='SMITHLONDON'", "0"},
      // Only the expression's own characters make an operator.
      {"NAME='=X'", "5"},
      {"NAME=NOTE>'S'", ""},
      // Dates as stored, a binary date-time as YYYYMMDDHHMMSS.
      {"D>'2000'", "01"},
      {"D>='2000'", "01345"},
      {"TS>'2001'", "0"},
      {"TS=''", "012345"},
      {"TS=='20021201010203'", "0"},
      // String functions on the sides.
      {"LEFT(NAME,3)=='SMI'", "01"},
      {"SUBSTR(NAME,-5,2)=='SM'", "01"},
      {"RIGHT(TRIM(NAME),99)=='SMITH'", "0"},
      {"DTOS(D)=='20200115'", "0"},
      // Values are data: their commas, parentheses and names are no syntax.
      {"LEFT(CITY,1)=='o'", "4"},
      {"NOTE=='open'", ""},
      {"NOTE~'open'", "5"},
      {"NOTE>='LEFT'&NOTE<'LEFU'", "3"},
  };
  for (const ConditionCase& c : cases) {
    table_->ignore_case = c.ignore_case;
    EXPECT_EQ(passing(c.expression, {c.literal_brackets, c.hide_deleted}), c.passing) << c.expression;
  }
  EXPECT_EQ(passing("", {}), "012345");
  EXPECT_EQ(passing("", {false, true}), "01345");
}

TEST_F(ConditionTest, SubstitutionShowsValuesAndOperator) {
  Substitution s = substitute_fields(*table_, image(1), "a-b>'x+y'");
  EXPECT_EQ(s.text, " 2-( -3.00)>x+y");
  EXPECT_EQ(s.operator_pos, 11);
  EXPECT_EQ(s.operator_length, 1);
  EXPECT_TRUE(s.numeric);
  s = substitute_fields(*table_, image(0), "NAME+CITY>=\"a+\"");
  EXPECT_EQ(s.text, "SMITHLONDON>=a+");
  EXPECT_EQ(s.operator_length, 2);
  EXPECT_FALSE(s.numeric);
  EXPECT_EQ(substitute_fields(*table_, image(0), "NAMEX+NAMEXXXXXXXY").text, "NAMEX+NAMEXXXXXXXY");
}

// An ANSI table's text is compared in the screen's code page and folded by
// its own: the stored Windows-1251 "\xE0\xE1" (two small letters) matches
// the code page 866 capitals "\x80\x81" typed into the condition.
TEST(ConditionCodePages, AnsiTableFoldsInItsOwnCodePage) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NAME", 'C', 4}};
  layout.records = {"\xE0\xE1", "\xC0\xC1"};
  write_bytes(dir.file("ansi.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("ansi.dbf"));
  ASSERT_TRUE(table);
  table->ansi_text = true;
  std::vector<std::vector<uint8_t>> images;
  for (uint32_t q = 0; q < 2; ++q) {
    ASSERT_EQ(read_record(*table, q), 1);
    images.emplace_back(table->record.begin(), table->record.begin() + table->record_size);
  }
  for (bool ignore_case : {false, true}) {
    table->ignore_case = ignore_case;
    CompiledCondition compiled = compile_condition(*table, "NAME='\x80\x81'", {});
    for (size_t q = 0; q < 2; ++q) {
      RecordImage image(images[q].data(), images[q].size());
      bool expected = q == 1 || ignore_case;
      EXPECT_EQ(evaluate_condition(*table, image, "NAME='\x80\x81'", {}), expected) << q << ignore_case;
      EXPECT_EQ(condition_passes(compiled, *table, image), expected) << q << ignore_case;
    }
  }
}

// The longest Character field a record holds (65,534 bytes and the deletion
// flag), in conditions and as a column.
TEST(ConditionLongText, LongestCharacterField) {
  TempDir dir;
  DbfLayout layout;
  layout.fields = {{"NOTE", 'C', 65534}};
  layout.records = {std::string(65528, 'x') + "needle"};
  write_bytes(dir.file("long.dbf"), build_dbf(layout));
  auto table = open_table(dir.file("long.dbf"));
  ASSERT_TRUE(table);
  ASSERT_EQ(read_record(*table, 0), 1);
  RecordImage image(table->record.data(), table->record_size);
  std::string whole = "NOTE=='" + std::string(65528, 'x') + "needle'";
  for (const std::string& expression : {std::string("NOTE~'needle'"), std::string("RIGHT(NOTE,6)=='needle'"), whole}) {
    EXPECT_TRUE(evaluate_condition(*table, image, expression, {})) << expression.substr(0, 30);
    EXPECT_TRUE(condition_passes(compile_condition(*table, expression, {}), *table, image));
  }
  EXPECT_EQ(computed_text(*table, image, "NOTE+NOTE").size(), 2 * 65534u);
}

TEST(StringFunctions, TableOfCalls) {
  const struct {
    const char* text;
    int date_format;
    const char* result;
  } cases[] = {
      {"TRIM(  a b  )|ltrim( a )|RTRIM( a )", 0, "a b|a | a"},
      {"SUBSTR(hello,1,3)SUBSTR(hello,3)SUBSTR(hello,9)SUBSTR(hello,-2,99)", 0, "elllohello"},
      {"LEFT(hello,2)LEFT(hello,-1)LEFT(hello,99999999999999999999)LEFT(hello)", 0, "hehellohello"},
      {"RIGHT(hello,2)RIGHT(hello,-3)RIGHT(hello,9)", 0, "lohello"},
      {"DTOS(31.12.2002)DTOS(12.31.2002 01:02:03)", 1, "2002123120023112010203"},
      {"DTOS(12.31.2002)|DTOS(2002.12.31)|DTOS(20021231)", 2, "20021231|2.31202.|20021231"},
      {"DTOS(2002.12.31 01:02:03)", 3, "20021231010203"},
      {"DTOS(1.2)|DTOS(31.12.2002 01)", 1, "1.2|31.12.2002 01"},
      {"SPACE(ab,3)REPLICATE(x,4)", 0, "abx"},
      {"LEFT(TRIM(  abc  ),2)", 0, "ab"},
      {"x(LEFT(abc,1))y", 0, "x(a)y"},
      {"LEFT(a(b)c,3)", 0, "a(b"},
      {"LEFT(TRIM( abc ),2", 0, "LEFT(abc,2"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    expand_string_functions(text, c.date_format);
    EXPECT_EQ(text, c.result) << c.text;
  }
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "TRIM(";
  deep += " z";
  deep += std::string(100000, ')');
  expand_string_functions(deep, 0);
  EXPECT_EQ(deep, "z");
}

TEST_F(ConditionTest, ComputedColumnsAnswerThroughTheCodec) {
  install_computed_column_hooks();
  int total = add_computed_column(table_->columns, {"TOTAL", "PRICE*2"});
  int full = add_computed_column(table_->columns, {"FULL", "TRIM(NAME)+'/'+CITY"});
  int bad = add_computed_column(table_->columns, {"BAD", "EXP(A*1000)"});
  ASSERT_GE(bad, table_->field_count());
  EXPECT_TRUE(is_numeric_expression(*table_, "ROUND(PRICE)"));
  EXPECT_FALSE(is_numeric_expression(*table_, "LEFT(NAME,2)"));
  EXPECT_EQ(field_text(*table_, image(1), total), "          120.000000");
  EXPECT_EQ(field_number(*table_, image(1), total), 120.0L);
  EXPECT_EQ(field_text(*table_, image(0), full), "SMITH/LONDON");
  EXPECT_EQ(computed_column_text(*table_, image(1), "full"), "SMITHSON/PARIS");
  EXPECT_EQ(computed_column_number(*table_, image(1), "Total"), 120.0L);
  // A value that is not finite is no value.
  EXPECT_EQ(field_text(*table_, image(1), bad), "");
  EXPECT_EQ(field_number(*table_, image(1), bad), 0.0L);
  EXPECT_EQ(computed_column_text(*table_, image(1), "NOSUCH"), "");
  // Compiled once for a run, the values are the same on every record.
  for (const char* expression : {"PRICE*2", "TRIM(NAME)+'/'+CITY", "EXP(A*1000)", "(A-B)", "LEFT(NOTE,3)+D", "TS"}) {
    CompiledExpression compiled = compile_expression(*table_, expression);
    for (size_t q = 0; q < images_.size(); ++q) {
      EXPECT_EQ(computed_text(compiled, *table_, image(q)), computed_text(*table_, image(q), expression)) << expression;
      EXPECT_EQ(computed_number(compiled, *table_, image(q)), computed_number(*table_, image(q), expression));
    }
  }
  EXPECT_EQ(computed_text(*table_, image(1), "(A-B)"), "            5.000000");
  EXPECT_EQ(computed_text(*table_, image(0), "TS"), "20021201010203");
}

TEST(BracesToComparisons, OnlyOutsideQuotedText) {
  struct Case {
    const char* text;
    const char* converted;
  } cases[] = {
      {"{AGE} > 30", "<AGE> > 30"},
      {"NAME={\"{x}\"", "NAME=<\"{x}\""},
      {"A}'}'&B{\"'{\"", "A>'}'&B<\"'{\""},
      {"NAME=\"open{", "NAME=\"open{"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(braces_to_comparisons(c.text), c.converted) << c.text;
}

}  // namespace
}  // namespace kora
