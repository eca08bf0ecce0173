// Field values: display text, numbers and dates read from the record bytes,
// and user input stored back, type by type, on tables built in memory.
#include "table/field_write.h"
#include "table/value_codec.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "table/byte_order.h"
#include "table/memo_file.h"

namespace kora {
namespace {

struct Field {
  const char* name;
  char type;
  int length;  // 16-bit for C
  int decimals = 0;
};

// A table held only in memory with the given fields laid out back to back.
std::unique_ptr<Table> make_table(const std::vector<Field>& fields, int date_format = 1) {
  auto table = std::make_unique<Table>();
  int offset = 1;
  for (const Field& f : fields) {
    FieldDesc desc;
    std::strncpy(desc.name, f.name, 10);
    desc.type = f.type;
    desc.offset = uint16_t(offset);
    desc.length = uint8_t(f.length & 0xFF);
    desc.decimals = uint8_t(f.type == 'C' ? f.length >> 8 : f.decimals);
    table->fields.push_back(desc);
    offset += f.length;
  }
  table->record_size = uint16_t(offset);
  table->record.assign(kRecordBufferSize + 1, 0);
  table->text.assign(kRecordBufferSize + 1, 0);
  for (size_t k = 0; k < 4; ++k) {
    table->date_formats[k] = kDefaultDateFormats[k];
    table->date_time_formats[k] = kDefaultDateTimeFormats[k];
  }
  table->date_format = date_format;
  blank_record(*table);
  return table;
}

std::string bytes_of(const Table& table, int i) {
  const FieldDesc& d = table.fields[size_t(i)];
  return std::string(reinterpret_cast<const char*>(&table.record[d.offset]), size_t(field_length(table, i)));
}

void put_bytes(Table& table, int i, const std::string& bytes) {
  std::memcpy(&table.record[table.fields[size_t(i)].offset], bytes.data(), bytes.size());
}

uint8_t* field_at(Table& table, int i) { return &table.record[table.fields[size_t(i)].offset]; }

// Stores through the one door every writer uses: 1 stored, 0 refused.
int input(Table& table, int i, const std::string& text) {
  return set_field_text(table, i, text) == FieldWrite::kStored ? 1 : 0;
}

// A stored number shows its own digits with the field's decimals, never
// through a binary number: rounded half away from zero, blank when blank,
// and bytes that are no number as they stand.
TEST(ValueCodecNumbers, StoredNumbersShowTheirOwnDigits) {
  struct Case {
    int length, decimals;
    const char* stored;
    const char* shown;
  };
  const Case cases[] = {
      {10, 0, "    123456", "    123456"}, {10, 0, "         0", "         0"}, {10, 0, "0000000042", "        42"},
      {10, 0, "+42       ", "        42"}, {10, 0, "42        ", "        42"}, {12, 2, "   -12345.67", "   -12345.67"},
      {12, 2, "         .05", "        0.05"}, {12, 2, "       12.5 ", "       12.50"}, {12, 2, "      12.505", "       12.51"},
      {12, 2, "       -0.00", "       -0.00"}, {20, 4, "  1234567890123.4567", "  1234567890123.4567"},
      {20, 0, "  999999999999999999", "  999999999999999999"}, {20, 18, "1.234567890123460000", "1.234567890123460000"},
      {20, 18, "  0.1000000000000000", "0.100000000000000000"}, {3, 2, ".50", ".50"}, {4, 2, "9.99", "9.99"},
      {12, 2, "   1e3      ", "     1000.00"}, {12, 2, "            ", "            "}, {5, 0, "-----", "-----"},
      {5, 0, "*****", "*****"}, {3, 2, "-.5", "-.5"}, {2, 1, "15", "15"},
  };
  for (const Case& c : cases) {
    auto t = make_table({{"N", 'N', c.length, c.decimals}});
    put_bytes(*t, 0, c.stored);
    EXPECT_EQ(std::string(field_text(*t, 0)), c.shown) << c.stored;
    std::string out = "stale";
    field_text(*t, RecordImage(t->record.data(), t->record_size), 0, out);
    EXPECT_EQ(out, c.shown) << c.stored;
  }
}

TEST(ValueCodecNumbers, NumericDisplayPadsToLengthWithDecimals) {
  auto t = make_table({{"A", 'N', 5, 2}, {"B", 'N', 2, 1}, {"C", 'F', 4, 0}});
  put_bytes(*t, 0, "  1.5");
  EXPECT_STREQ(field_text(*t, 0), " 1.50");
  put_bytes(*t, 1, ".5");
  EXPECT_STREQ(field_text(*t, 1), ".5");
  put_bytes(*t, 2, "  -7");
  EXPECT_STREQ(field_text(*t, 2), "  -7");
  EXPECT_EQ(field_number(*t, 2), -7);
}

TEST(ValueCodecNumbers, NumericStoreRoundsOrStoresNothingWhenTooWide) {
  auto t = make_table({{"A", 'N', 3, 0}, {"B", 'N', 6, 2}, {"C", 'N', 4, 3}, {"D", 'F', 2, 1}});
  EXPECT_EQ(input(*t, 0, "1234"), 0);  // refused: the field keeps its value
  EXPECT_EQ(bytes_of(*t, 0), "   ");
  EXPECT_EQ(input(*t, 0, "12.6"), 1);
  EXPECT_EQ(bytes_of(*t, 0), " 13");
  EXPECT_EQ(input(*t, 0, "-99"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "-99");

  EXPECT_EQ(input(*t, 1, "12345"), 0);
  EXPECT_EQ(bytes_of(*t, 1), "      ");
  EXPECT_EQ(input(*t, 1, "999.99"), 1);
  EXPECT_EQ(bytes_of(*t, 1), "999.99");
  EXPECT_EQ(input(*t, 1, "1.005"), 1);  // half away from zero, in decimal
  EXPECT_EQ(bytes_of(*t, 1), "  1.01");

  EXPECT_EQ(input(*t, 2, "0.5"), 1);
  EXPECT_EQ(bytes_of(*t, 2), ".500");
  EXPECT_EQ(field_number(*t, 2), 0.5L);
  EXPECT_STREQ(field_text(*t, 2), ".500");
  // A value with a whole part does not fit such a field: not stored as .500.
  EXPECT_EQ(input(*t, 2, "1.5"), 0);
  EXPECT_EQ(bytes_of(*t, 2), ".500");
  EXPECT_EQ(input(*t, 3, "-0.5"), 0);
  EXPECT_EQ(bytes_of(*t, 3), "  ");
  EXPECT_EQ(input(*t, 3, ".25"), 1);
  EXPECT_EQ(bytes_of(*t, 3), ".3");

  EXPECT_EQ(input(*t, 0, "1e999"), 0);
  EXPECT_EQ(bytes_of(*t, 0), "-99");
}

// Every plain decimal text converts to the long double strtold gives: the
// short ones go by integer arithmetic, the long ones by strtold itself.
TEST(ValueCodecNumbers, ParseNumberRoundsAsStrtoldDoes) {
  std::vector<std::string> texts = {"0.1", "-0.3", "0.7", "1.15", "2.675", "-0", "0.000", "9999999999999999999",
                                    "99999999999999999999", "1234567890.123456789", "0.0000000000000000001",
                                    "12345678901234567890.5", "00000000000000000000000001.5", "-922337203685.4775807"};
  uint64_t seed = 12345;
  for (int k = 0; k < 3000; ++k) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    int digits = 1 + int((seed >> 33) % 22);
    int point = int((seed >> 20) % uint64_t(digits + 1));
    std::string text = (seed >> 60) & 1 ? "-" : "";
    uint64_t bits = seed;
    for (int d = 0; d < digits; ++d) {
      if (d == point && d > 0) text += '.';
      text += char('0' + (bits >> 7) % 10);
      bits = bits * 2862933555777941757ULL + 3037000493ULL;
    }
    texts.push_back(text);
  }
  locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  ASSERT_TRUE(c_locale);
  for (const std::string& text : texts) {
    long double expected = strtold_l(text.c_str(), nullptr, c_locale);
    EXPECT_EQ(parse_number(text), expected) << text;
    EXPECT_EQ(std::signbit(parse_number(text)), std::signbit(expected)) << text;
  }
  freelocale(c_locale);
}

TEST(ValueCodecNumbers, ParseNumberIsAPlainDecimalConversion) {
  EXPECT_EQ(parse_number("   12.5xyz"), 12.5L);
  EXPECT_EQ(parse_number("-3e2"), -300);
  EXPECT_EQ(parse_number("4e"), 4);
  EXPECT_EQ(parse_number(".5"), 0.5L);
  EXPECT_EQ(parse_number("+7."), 7);
  EXPECT_EQ(parse_number("0x10"), 0);
  EXPECT_EQ(parse_number("inf"), 0);
  EXPECT_EQ(parse_number("nan"), 0);
  EXPECT_EQ(parse_number(""), 0);
  EXPECT_EQ(parse_number("-"), 0);
  // At most 31 characters of the number count; the spaces before it do not.
  EXPECT_EQ(parse_number(std::string(44, ' ') + "12.345"), 12.345L);
  EXPECT_EQ(parse_number("   " + std::string(31, '1') + "11"), parse_number(std::string(31, '1')));
  EXPECT_EQ(parse_number("1234567890123456789012345678.9012"), parse_number("1234567890123456789012345678.9"));
}

TEST(ValueCodecNumbers, CurrencyIsScaledTruncatedAndShownExactly) {
  auto t = make_table({{"Y", 'Y', 8}});
  EXPECT_EQ(input(*t, 0, "-1.23456"), 1);
  EXPECT_EQ(int64_t(get_le64(field_at(*t, 0))), -12345);
  EXPECT_EQ(field_number(*t, 0), -12345 / 10000.0L);
  EXPECT_STREQ(field_text(*t, 0), "                 -1.2345");
  // Typed amounts keep their last digit despite binary fractions.
  for (const char* amount : {"199.9998", "0.0007", "-199.9993", "123456789.0123"}) {
    input(*t, 0, amount);
    EXPECT_STREQ(field_text(*t, 0) + std::strspn(field_text(*t, 0), " "), amount) << amount;
  }
  put_le64(field_at(*t, 0), uint64_t(INT64_MAX));
  EXPECT_STREQ(field_text(*t, 0), "    922337203685477.5807");
  put_le64(field_at(*t, 0), uint64_t(INT64_MIN));
  EXPECT_STREQ(field_text(*t, 0), "   -922337203685477.5808");
  blank_field(*t, 0);
  EXPECT_EQ(input(*t, 0, "1e16"), 0);
  EXPECT_EQ(get_le64(field_at(*t, 0)), 0u);
}

TEST(ValueCodecNumbers, IntegerAndDouble) {
  auto t = make_table({{"I", 'I', 4}, {"B", 'B', 8, 3}, {"BM", 'B', 10}});
  EXPECT_EQ(input(*t, 0, "-7.9"), 1);
  EXPECT_EQ(int32_t(get_le32(field_at(*t, 0))), -7);
  EXPECT_STREQ(field_text(*t, 0), "        -7");
  EXPECT_EQ(input(*t, 0, "2147483647"), 1);
  EXPECT_EQ(field_number(*t, 0), 2147483647);
  EXPECT_EQ(input(*t, 0, "2147483648"), 0);  // out of range: refused
  EXPECT_EQ(field_number(*t, 0), 2147483647);
  EXPECT_EQ(input(*t, 0, "-2147483648"), 1);
  EXPECT_EQ(field_number(*t, 0), -2147483648.0L);
  EXPECT_EQ(input(*t, 0, "-2147483649"), 0);
  EXPECT_EQ(field_number(*t, 0), -2147483648.0L);

  EXPECT_EQ(input(*t, 1, "2.5"), 1);
  EXPECT_EQ(get_le64(field_at(*t, 1)), std::bit_cast<uint64_t>(2.5));
  EXPECT_STREQ(field_text(*t, 1), "               2.500");
  EXPECT_EQ(field_number(*t, 1), 2.5L);
  EXPECT_STREQ(field_type_name(*t, 1), "Double");
  EXPECT_STREQ(field_type_name(*t, 2), "Binary");
  EXPECT_EQ(display_width(*t, 1), 20);
  EXPECT_EQ(display_width(*t, 2), 10);
}

TEST(ValueCodecText, LogicalTakesTheFirstLetterUpperCased) {
  auto t = make_table({{"L", 'L', 1}});
  struct Case {
    const char* text;
    char stored;
  } cases[] = {{"yes", 'Y'}, {"t", 'T'}, {"F", 'F'}, {"n", 'N'}, {"?", ' '}, {".T.", 'T'}, {"", ' '}};
  for (const Case& c : cases) {
    put_bytes(*t, 0, "T");
    EXPECT_EQ(input(*t, 0, c.text), 1);
    EXPECT_EQ(bytes_of(*t, 0), std::string(1, c.stored)) << c.text;
    EXPECT_STREQ(field_text(*t, 0), std::string(1, c.stored).c_str());
  }
  EXPECT_EQ(input(*t, 0, "x"), 0);  // no logical value: the old one stays
  EXPECT_EQ(bytes_of(*t, 0), " ");
}

TEST(ValueCodecText, CharacterRefusesALongerTextAndTrimModeShapesRawText) {
  auto t = make_table({{"NAME", 'C', 8}, {"BIG", 'C', 300}});
  EXPECT_EQ(input(*t, 0, "abcdefghij"), 0);
  EXPECT_EQ(bytes_of(*t, 0), "        ");
  EXPECT_EQ(input(*t, 0, "  ab"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "  ab    ");
  const char* expected[4] = {"  ab    ", "  ab", "ab    ", "ab"};
  for (int mode = 0; mode < 4; ++mode) {
    t->trim_mode = mode;
    EXPECT_STREQ(field_raw_text(*t, 0), expected[mode]) << mode;
    EXPECT_STREQ(field_text(*t, 0), expected[mode]) << mode;
  }
  t->trim_mode = 0;
  std::string long_text(300, 'x');
  EXPECT_EQ(input(*t, 1, long_text), 1);
  EXPECT_EQ(input(*t, 1, long_text + "yyy"), 0);
  EXPECT_EQ(std::string(field_text(*t, 1)), long_text);
  EXPECT_EQ(display_width(*t, 1), 300);
}

TEST(ValueCodecDates, JulianDayNumbers) {
  EXPECT_EQ(julian_day_number(9999, 12, 31), 5373484);
  EXPECT_EQ(julian_day_number(0, 1, 1), 1721060);
  EXPECT_EQ(julian_day_number(2000, 1, 1), 2451545);
  EXPECT_EQ(julian_day_number(2003, 2, 31), julian_day_number(2003, 3, 3));
  EXPECT_EQ(julian_day_number(2004, 2, 31), julian_day_number(2004, 3, 2));
  EXPECT_EQ(julian_day_number(2002, 13, 1), julian_day_number(2003, 1, 1));
  // Every day number decodes back to the date it came from.
  long previous = julian_day_number(1599, 12, 31);
  for (int year : {0, 1, 4, 99, 100, 399, 400, 1600, 1900, 2000, 2024, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; ++day) {
        DateParts d = date_from_julian(julian_day_number(year, month, day), 0);
        if (!is_valid_date(d) || d.month != month - 1 || d.day != day) {
          // Only days past the end of the month roll over.
          EXPECT_GE(day, 29) << year << "-" << month << "-" << day;
          continue;
        }
        EXPECT_EQ(d.year, year);
      }
    }
  }
  for (long n = previous; n < julian_day_number(2401, 1, 1); ++n) {
    DateParts d = date_from_julian(n, 0);
    ASSERT_TRUE(is_valid_date(d)) << n;
    ASSERT_EQ(julian_day_number(d.year, d.month + 1, d.day), n);
  }
  DateParts t = date_from_julian(julian_day_number(2002, 12, 1), 3723000);
  EXPECT_EQ(t.hour, 1);
  EXPECT_EQ(t.minute, 2);
  EXPECT_EQ(t.second, 3);
  EXPECT_FALSE(is_valid_date(date_from_julian(5373485, 0)));
  EXPECT_FALSE(is_valid_date(date_from_julian(0, 0)));
  EXPECT_FALSE(is_valid_date(date_from_julian(julian_day_number(2002, 1, 1), -1000)));
  EXPECT_FALSE(is_valid_date(date_from_julian(julian_day_number(2002, 1, 1), 86400000)));
}

TEST(ValueCodecDates, DateInputPerFormatAndDisplayWithSeparator) {
  auto t = make_table({{"D", 'D', 8}}, 1);
  EXPECT_EQ(input(*t, 0, "31.12.2002"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20021231");
  EXPECT_STREQ(field_text(*t, 0), "31.12.2002");
  EXPECT_FALSE(is_date_blank(*t, 0));
  EXPECT_EQ(input(*t, 0, "00.12.2002"), 0);  // no day 0: the old date stays
  EXPECT_EQ(bytes_of(*t, 0), "20021231");
  EXPECT_EQ(input(*t, 0, "00.00.0000"), 1);  // an empty date's zeros blank it
  EXPECT_TRUE(is_date_blank(*t, 0));
  EXPECT_STREQ(field_text(*t, 0), "          ");

  input(*t, 0, "31.12.2002");
  set_date_separator(*t, '/');
  EXPECT_STREQ(field_text(*t, 0), "31/12/2002");
  EXPECT_EQ(input(*t, 0, "01/02/2003"), 1);  // any of . / - , separates
  EXPECT_EQ(bytes_of(*t, 0), "20030201");
  set_date_separator(*t, 0);
  EXPECT_STREQ(field_text(*t, 0), "01.02.2003");

  t->date_format = 2;
  EXPECT_STREQ(field_text(*t, 0), "02.01.2003");
  EXPECT_EQ(input(*t, 0, "12.31.2002"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20021231");
  t->date_format = 3;
  EXPECT_STREQ(field_text(*t, 0), "2002.12.31");
  EXPECT_EQ(input(*t, 0, "2004-02-29"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20040229");
  t->date_format = 0;
  EXPECT_STREQ(field_text(*t, 0), "20040229");
  EXPECT_EQ(display_width(*t, 0), 8);
  EXPECT_EQ(input(*t, 0, "20050101junk"), 0);
  EXPECT_EQ(input(*t, 0, "20050101"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20050101");
  put_bytes(*t, 0, "20030229");  // not a leap year
  EXPECT_STREQ(field_text(*t, 0), "        ");
  t->date_format = 5;  // the sort's stored form
  EXPECT_STREQ(field_text(*t, 0), "          ");
  put_bytes(*t, 0, "20030228");
  EXPECT_STREQ(field_text(*t, 0), "20030228");
}

TEST(ValueCodecDates, BinaryDateTime) {
  auto t = make_table({{"T", 'T', 8}}, 1);
  EXPECT_EQ(input(*t, 0, "01.12.2002 01:02:03"), 1);
  EXPECT_EQ(long(int32_t(get_le32(field_at(*t, 0)))), julian_day_number(2002, 12, 1));
  EXPECT_EQ(get_le32(field_at(*t, 0) + 4), 3723000u);
  EXPECT_STREQ(field_text(*t, 0), "01.12.2002 01:02:03");
  t->date_format = 3;
  EXPECT_STREQ(field_text(*t, 0), "2002.12.01 01:02:03");
  EXPECT_EQ(display_width(*t, 0), 19);

  blank_field(*t, 0);
  EXPECT_EQ(bytes_of(*t, 0), std::string(8, '\0'));
  EXPECT_STREQ(field_text(*t, 0), std::string(19, ' ').c_str());
  t->date_format = 0;
  EXPECT_STREQ(field_text(*t, 0), std::string(14, ' ').c_str());
  EXPECT_EQ(display_width(*t, 0), 8);

  EXPECT_EQ(input(*t, 0, "20030303235959"), 1);
  DateParts d = field_date(*t, 0);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 3);
  EXPECT_EQ(d.hour, 23);
  EXPECT_EQ(d.second, 59);
  t->date_format = 1;
  EXPECT_EQ(input(*t, 0, "15.00.2003 10:00:00"), 0);  // no month 0: the value stays
  EXPECT_EQ(field_date(*t, 0).day, 3);
}

TEST(ValueCodecDates, TextDateTimeAndStoreDate) {
  auto t = make_table({{"T", 'T', 14}, {"D", 'D', 8}, {"N", 'N', 8}}, 1);
  EXPECT_EQ(input(*t, 0, "29.02.2004 23:05:07"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20040229230507");
  EXPECT_STREQ(field_text(*t, 0), "29.02.2004 23:05:07");
  t->date_format = 0;
  EXPECT_STREQ(field_text(*t, 0), "20040229230507");
  t->date_format = 1;
  EXPECT_EQ(input(*t, 0, "29.02.2004"), 1);
  EXPECT_EQ(bytes_of(*t, 0), "20040229000000");
  put_bytes(*t, 0, "20040229240000");
  EXPECT_TRUE(is_date_blank(*t, 0));
  EXPECT_STREQ(field_text(*t, 0), std::string(19, ' ').c_str());

  EXPECT_EQ(input(*t, 1, "30.02.1999"), 0);  // no such day
  EXPECT_EQ(input(*t, 1, "01.01.12345"), 0);
  EXPECT_EQ(bytes_of(*t, 1), "        ");
}

TEST(ValueCodecMemo, BlockNumbersShownAsFullEmptyOrNumber) {
  auto t = make_table({{"M", 'M', 10}, {"G", 'G', 4}, {"B", 'B', 10}});
  EXPECT_EQ(bytes_of(*t, 0), std::string(10, ' '));
  EXPECT_EQ(bytes_of(*t, 1), std::string(4, '\0'));
  EXPECT_STREQ(field_text(*t, 0), "Empty memo");
  EXPECT_STREQ(field_text(*t, 1), "Empty memo");
  put_bytes(*t, 0, "        17");
  put_le32(field_at(*t, 1), 5);
  put_bytes(*t, 2, "         3");
  EXPECT_STREQ(field_text(*t, 0), "Full memo ");
  EXPECT_STREQ(field_text(*t, 1), "Full memo ");
  EXPECT_STREQ(field_text(*t, 2), "Full memo ");
  t->memo_display = 1;
  EXPECT_STREQ(field_text(*t, 0), "        17");
  EXPECT_STREQ(field_text(*t, 1), "         5");
  blank_field(*t, 0);
  EXPECT_STREQ(field_text(*t, 0), "         0");
  EXPECT_EQ(display_width(*t, 1), 10);
  EXPECT_EQ(input(*t, 1, "x"), 0);  // General fields take no input
}

// A memo's text goes to the memo file through its own writer; as a value
// it would overwrite the block number.
TEST(ValueCodecMemo, StoringAMemoWritesTheMemoFile) {
  test::TempDir dir;
  std::string path = dir.file("notes.dbf");
  ASSERT_TRUE(create_memo_file(path, kDBase3, 0));
  auto t = make_table({{"M", 'M', 10}});
  t->header_bytes[0] = 0x83;
  t->memo_file_name = memo_file_name(path, kDBase3);
  EXPECT_EQ(input(*t, 0, "hello memo"), 0);
  ASSERT_TRUE(write_memo(*t, 0, "hello memo"));
  EXPECT_STRNE(field_text(*t, 0), "Empty memo");
  std::string text;
  ASSERT_TRUE(read_memo(*t, 0, text));
  EXPECT_EQ(text, "hello memo");
}

TEST(ValueCodecRecord, BlankBytesPerType) {
  auto t = make_table({{"C", 'C', 2}, {"D", 'D', 8}, {"M", 'M', 10}, {"M4", 'M', 4}, {"B8", 'B', 8},
                       {"B4", 'B', 4}, {"B10", 'B', 10}, {"T14", 'T', 14}, {"T8", 'T', 8}, {"I", 'I', 4},
                       {"Y", 'Y', 8}, {"P", 'P', 2}, {"Z", '0', 1}});
  std::memset(t->record.data(), 'x', t->record_size);
  blank_record(*t);
  std::string expected = " " + std::string(2 + 8 + 10, ' ') + std::string(4 + 8 + 4, '\0') + std::string(10 + 14, ' ') +
                         std::string(8 + 4 + 8 + 2 + 1, '\0');
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t->record.data()), t->record_size), expected);
  EXPECT_STREQ(field_text(*t, 11), "");
  EXPECT_STREQ(field_type_name(*t, 11), "Picture");
  EXPECT_STREQ(field_type_name(*t, 12), "System");
  EXPECT_EQ(input(*t, 11, "ab"), 0);
  EXPECT_EQ(input(*t, 12, "ab"), 0);
}

TEST(ValueCodecRecord, WidthsAndNames) {
  auto t = make_table({{"LONGNAME_X", 'N', 4}, {"QTY", 'N', 12, 2}, {"D", 'D', 8}, {"Y", 'Y', 8}, {"X", 'X', 3}});
  EXPECT_EQ(display_width(*t, 0), 4);
  EXPECT_EQ(column_width(*t, 0), 11);
  EXPECT_EQ(column_width(*t, 1), 12);
  EXPECT_EQ(column_width(*t, 2), 10);
  EXPECT_EQ(column_width(*t, 3), 24);
  EXPECT_STREQ(field_type_name(*t, 1), "Numeric");
  EXPECT_STREQ(field_type_name(*t, 4), "Unknown");
  EXPECT_STREQ(field_text(*t, 4), "");
  EXPECT_EQ(display_width(*t, 5), 0);  // no computed columns
}

TEST(ValueCodecRecord, ComputedColumnsAnswerThroughTheHooks) {
  auto t = make_table({{"A", 'N', 4}});
  reset_column_model(t->columns, t->field_count());
  EXPECT_STREQ(field_text(*t, 1), "");
  EXPECT_EQ(field_number(*t, 1), 0);
  ComputedColumn doubled;
  doubled.name = "Twice";
  doubled.expression = "A*2";
  doubled.type = 'N';
  ASSERT_EQ(add_computed_column(t->columns, doubled), 1);
  // The hooks are given the record to compute from.
  computed_column_hooks.text = [](const Table& table, RecordImage record, int) {
    return std::string("=").append(field_raw_text(table, record, 0));
  };
  computed_column_hooks.number = [](const Table& table, RecordImage record, int) {
    return field_number(table, record, 0) * 2;
  };
  put_bytes(*t, 0, "  21");
  EXPECT_STREQ(field_text(*t, 1), "=  21");
  EXPECT_EQ(field_number(*t, 1), 42);
  EXPECT_EQ(display_width(*t, 1), 20);
  EXPECT_EQ(column_width(*t, 1), 20);
  EXPECT_EQ(display_width(*t, 2), 0);  // a slot no column holds
  computed_column_hooks = ComputedColumnHooks();
}

// A tool reads records it holds itself: the answers are those the current
// record would give, and the table's record and text buffer stay as they were.
TEST(ValueCodecRecord, RecordImagesDecodeWithoutTouchingTheCurrentRecord) {
  auto t = make_table({{"NAME", 'C', 6}, {"N", 'N', 6, 2}, {"D", 'D', 8}, {"I", 'I', 4}, {"L", 'L', 1}});
  t->trim_mode = 1;
  put_bytes(*t, 0, "Ann   ");
  put_bytes(*t, 1, " 12.5 ");
  put_bytes(*t, 2, "20240229");
  put_le32(field_at(*t, 3), uint32_t(-17));
  put_bytes(*t, 4, "T");
  std::vector<uint8_t> held(t->record.begin(), t->record.begin() + t->record_size);
  std::vector<std::string> texts;
  std::vector<long double> numbers;
  for (int i = 0; i < 5; ++i) {
    texts.push_back(field_text(*t, i));
    numbers.push_back(field_number(*t, i));
  }
  blank_record(*t);
  std::strcpy(t->text.data(), "untouched");
  const std::vector<uint8_t> current = t->record;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(field_text(*t, held, i), texts[size_t(i)]);
    EXPECT_EQ(field_number(*t, held, i), numbers[size_t(i)]);
  }
  EXPECT_EQ(field_raw_text(*t, held, 0), "Ann");
  EXPECT_EQ(field_date(*t, held, 2).day, 29);
  EXPECT_FALSE(is_date_blank(*t, held, 2));
  EXPECT_EQ(t->record, current);
  EXPECT_STREQ(t->text.data(), "untouched");
  // An image shorter than the record reads the fields it lacks as empty.
  std::vector<uint8_t> cut(held.begin(), held.begin() + 9);
  EXPECT_EQ(field_text(*t, cut, 0), "Ann");
  EXPECT_EQ(field_text(*t, cut, 1), "");
  EXPECT_EQ(field_number(*t, cut, 3), 0);
}

TEST(ValueCodecSafety, FieldsOutsideTheRecordAreNeitherReadNorWritten) {
  auto t = make_table({{"A", 'C', 4}, {"B", 'N', 6, 2}, {"T", 'T', 8}});
  t->record_size = 8;  // the descriptors claim more than the record holds
  std::vector<uint8_t> before = t->record;
  EXPECT_STREQ(field_text(*t, 1), "");
  EXPECT_EQ(field_number(*t, 1), 0);
  EXPECT_EQ(input(*t, 1, "1.5"), 0);
  EXPECT_EQ(input(*t, 2, "01.01.2000 00:00:00"), 0);
  blank_field(*t, 2);
  EXPECT_EQ(t->record, before);
  EXPECT_STREQ(field_text(*t, 0), "    ");

  t->fields[0].offset = 0;  // would overwrite the deletion flag
  EXPECT_EQ(input(*t, 0, "zz"), 0);
  EXPECT_EQ(t->record[0], ' ');

  auto big = make_table({{"C", 'C', 65534}});
  std::memset(field_at(*big, 0), 'a', 65534);
  EXPECT_EQ(std::strlen(field_text(*big, 0)), 65534u);
  EXPECT_EQ(big->record_size, 65535);

  // Binary fields shorter than their form take no input.
  auto narrow = make_table({{"I", 'I', 2}, {"B", 'B', 4}, {"Y", 'Y', 4}, {"X", 'C', 4}});
  put_bytes(*narrow, 3, "keep");
  EXPECT_EQ(input(*narrow, 0, "5"), 0);
  EXPECT_EQ(input(*narrow, 1, "5"), 0);
  EXPECT_EQ(input(*narrow, 2, "5"), 0);
  EXPECT_EQ(bytes_of(*narrow, 3), "keep");
}

TEST(ValueCodecSafety, HugeNumbersInWideFieldsStayInTheTextBuffer) {
  auto t = make_table({{"N", 'N', 255, 255}, {"B", 'B', 8, 255}});
  put_bytes(*t, 0, "1e300");
  // 1e300 with 255 decimals has no room in 255 places: shown as stored.
  EXPECT_EQ(std::string(field_text(*t, 0)), "1e300" + std::string(250, ' '));
  put_le64(field_at(*t, 1), std::bit_cast<uint64_t>(-1e308));
  EXPECT_EQ(std::string(field_text(*t, 1)).size(), 1 + 309 + 1 + 255u);
  EXPECT_EQ(input(*t, 0, "5"), 0);  // 255 decimals leave no room for a digit
}

// What the health check calls damage: stored bytes that set_field_text would
// have refused, blanks and NUL-padded blanks being no damage.
TEST(ValueCodecStored, StoredBytesAreValuesOrSayWhyNot) {
  struct Case {
    char type;
    int length, decimals;
    std::string bytes;
    FieldWrite expected;
  } cases[] = {
      {'N', 6, 2, "  1.50", FieldWrite::kStored},
      {'N', 6, 0, std::string("12\0\0\0\0", 6), FieldWrite::kStored},
      {'N', 6, 0, std::string(6, '\0'), FieldWrite::kStored},
      {'N', 6, 0, "******", FieldWrite::kNotANumber},
      {'F', 6, 1, "  - . ", FieldWrite::kNotANumber},
      {'D', 8, 0, "20240229", FieldWrite::kStored},
      {'D', 8, 0, "00000000", FieldWrite::kStored},
      {'D', 8, 0, "20230229", FieldWrite::kImpossibleDate},
      {'D', 8, 0, "2023 1 1", FieldWrite::kImpossibleDate},
      {'T', 14, 0, "20240101235959", FieldWrite::kStored},
      {'T', 14, 0, "20240101246000", FieldWrite::kImpossibleDate},
      {'T', 8, 0, std::string(8, '\0'), FieldWrite::kStored},
      {'T', 8, 0, std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8), FieldWrite::kImpossibleDate},
      {'L', 1, 0, "y", FieldWrite::kStored},
      {'L', 1, 0, "X", FieldWrite::kNotALogical},
      {'L', 1, 0, std::string(1, '\0'), FieldWrite::kNotALogical},
  };
  for (const Case& c : cases) {
    auto table = make_table({{"F", c.type, c.length, c.decimals}});
    put_bytes(*table, 0, c.bytes);
    EXPECT_EQ(stored_value_check(*table, RecordImage(table->record.data(), table->record_size), 0), c.expected)
        << c.type << " [" << c.bytes << "]";
  }
}

}  // namespace

// Tools that write into many records replace a value whole or not at all,
// and never write through a field that points elsewhere.
TEST(ValueCodecText, ReplaceKeepsTheOldValueWhenTheNewOneDoesNotFit) {
  auto t = make_table({{"NAME", 'C', 8}, {"QTY", 'N', 3}, {"MEMO", 'M', 10}, {"BM", 'B', 10}, {"D", 'B', 8, 2}});
  put_bytes(*t, 0, "SMITHSON");
  put_bytes(*t, 1, " 42");
  put_bytes(*t, 2, "        17");
  struct Case {
    int field;
    const char* text;
    int stored;
    const char* bytes;  // afterwards
  } cases[] = {
      {0, "X", 1, "X       "},           // the old tail goes
      {0, "TOO LONG!", 0, "X       "},   // cut short would lose text
      {0, "ABCDEFGH   ", 1, "ABCDEFGH"},  // trailing blanks are padding
      {1, "1234", 0, " 42"},
      {1, "7", 1, "  7"},
      {2, "X memo", 0, "        17"},
      {3, "1", 0, nullptr},
  };
  for (const Case& c : cases) {
    std::string before = bytes_of(*t, c.field);
    EXPECT_EQ(input(*t, c.field, c.text), c.stored) << c.text;
    EXPECT_EQ(bytes_of(*t, c.field), c.bytes ? std::string(c.bytes) : before) << c.text;
  }
  EXPECT_TRUE(holds_reference(*t, 2));
  EXPECT_TRUE(holds_reference(*t, 3));
  EXPECT_FALSE(holds_reference(*t, 4));
  EXPECT_TRUE(holds_reference(*t, 5));  // a computed column's slot
}

}  // namespace kora
