// make_demo <folder>: writes the demo tables that come with kora.
//
// Every table is made the way the program itself makes one: an empty table
// file (header, descriptors, 0x0D) and an empty memo file, then records
// appended one by one through the engine, with values stored by the value
// codec and memo texts appended to the memo file by the engine. Together the
// tables hold every field type, every memo layout, Cyrillic text in code
// pages 866 and 1251, and some deleted records.
//
//   demo.dbf     FoxPro (0xF5), .fpt, code page 866: customers' orders
//   goods.dbf    Visual FoxPro (0x30), .fpt, code page 1251: I Y B T M G 0
//   books.dbf    dBase IV (0x8B), .dbt: C(300), text T, B memo
//   staff.dbf    dBase III (0x83), .dbt: C N F D L M
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace {

using kora::Table;

// ---------------------------------------------------------------------------
// Code pages. The texts below are written in UTF-8 and stored in the table's
// own code page; only ASCII, the Russian letters and the few signs used here
// are mapped.

enum class CodePage { k866, k1251 };

uint8_t cyrillic_byte(char32_t c, CodePage cp) {
  if (cp == CodePage::k866) {
    if (c >= 0x410 && c <= 0x43F) return uint8_t(0x80 + (c - 0x410));
    if (c >= 0x440 && c <= 0x44F) return uint8_t(0xE0 + (c - 0x440));
    if (c == 0x401) return 0xF0;   // Ё
    if (c == 0x451) return 0xF1;   // ё
    if (c == 0x2116) return 0xFC;  // №
    return '?';
  }
  if (c >= 0x410 && c <= 0x44F) return uint8_t(0xC0 + (c - 0x410));
  if (c == 0x401) return 0xA8;
  if (c == 0x451) return 0xB8;
  if (c == 0x2116) return 0xB9;
  if (c == 0xAB) return 0xAB;  // «
  if (c == 0xBB) return 0xBB;  // »
  if (c == 0x2014) return 0x97;  // —
  return '?';
}

std::string encode_text(std::string_view utf8, CodePage cp) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint8_t b = uint8_t(utf8[i]);
    if (b < 0x80) {
      out += char(b);
      ++i;
      continue;
    }
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t c = b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + size_t(k) < utf8.size(); ++k) c = (c << 6) | (uint8_t(utf8[i + size_t(k)]) & 0x3F);
    out += char(cyrillic_byte(c, cp));
    i += size_t(extra) + 1;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Empty tables.

struct FieldSpec {
  const char* name;
  char type;
  int length;
  int decimals;
};

struct TableSpec {
  const char* file;
  uint8_t version;
  uint8_t code_page_mark;
  int memo_block_size;  // 0: the table has no memo file
  std::vector<FieldSpec> fields;
};

// Visual FoxPro keeps a 263-byte back-link to its database after the 0x0D.
constexpr int kBacklinkSize = 263;

// Writes the header, the descriptors and 0x0D of a table with no records.
bool write_empty_table(const std::string& path, const TableSpec& layout) {
  int backlink = layout.version == 0x30 ? kBacklinkSize : 0;
  size_t header_size = 32 + 32 * layout.fields.size() + 1 + size_t(backlink);
  std::vector<uint8_t> bytes(header_size + 1, 0);

  int record_size = 1;
  for (size_t k = 0; k < layout.fields.size(); ++k) {
    const FieldSpec& f = layout.fields[k];
    kora::FieldDesc desc;
    std::strncpy(desc.name, f.name, 10);
    desc.type = f.type;
    desc.offset = uint16_t(record_size);
    // A Character field's length runs on into the decimals byte.
    desc.length = uint8_t(f.length);
    desc.decimals = f.type == 'C' ? uint8_t(f.length >> 8) : uint8_t(f.decimals);
    if (f.type == '0') desc.reserved2[0] = 0x05;  // hidden system field
    kora::encode_field_desc(desc, &bytes[32 + 32 * k]);
    record_size += f.length;
  }

  std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  bytes[0] = layout.version;
  bytes[1] = uint8_t(today.tm_year % 100 + 100);
  bytes[2] = uint8_t(today.tm_mon + 1);
  bytes[3] = uint8_t(today.tm_mday);
  kora::put_le32(&bytes[4], 0);
  kora::put_le16(&bytes[8], uint16_t(header_size));
  kora::put_le16(&bytes[10], uint16_t(record_size));
  bytes[29] = layout.code_page_mark;
  bytes[32 + 32 * layout.fields.size()] = 0x0D;
  bytes[header_size] = 0x1A;

  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

// Creates the table and its memo file and opens it through the engine.
std::unique_ptr<Table> create_table(const std::string& folder, const TableSpec& layout) {
  std::string path = folder + "/" + layout.file;
  if (!write_empty_table(path, layout)) return nullptr;
  if (layout.memo_block_size > 0 &&
      !kora::create_memo_file(path, kora::table_kind_for_version(layout.version), layout.memo_block_size))
    return nullptr;
  return kora::open_table(path);
}

// ---------------------------------------------------------------------------
// Filling one record through the engine. A failure to store names the field
// and the table and makes the whole run fail.

struct RecordWriter {
  Table& table;
  CodePage cp;
  bool ok = true;

  int field(const char* name) {
    int i = kora::find_field(table, name);
    if (i < 0) fail(name, "no such field");
    return i;
  }
  void fail(const char* name, const char* what) {
    std::fprintf(stderr, "make_demo: %s: field %s: %s\n", table.file_name.c_str(), name, what);
    ok = false;
  }
  void text(const char* name, std::string_view utf8) {
    int i = field(name);
    if (i >= 0 && kora::set_field_text(table, i, encode_text(utf8, cp)) != kora::FieldWrite::kStored)
      fail(name, "text not stored");
  }
  void number(const char* name, double value) {
    int i = field(name);
    if (i < 0) return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4f", value);
    if (kora::set_field_text(table, i, buf) != kora::FieldWrite::kStored) fail(name, "number does not fit");
  }
  void logical(const char* name, bool value) { text(name, value ? "T" : "F"); }
  void date(const char* name, int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    int i = field(name);
    if (i < 0) return;
    char digits[32];
    if (kora::field_type(table, i) == 'D') {
      std::snprintf(digits, sizeof digits, "%04d%02d%02d", year, month, day);
    } else {
      std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    }
    if (kora::set_field_text(table, i, digits) != kora::FieldWrite::kStored) fail(name, "no such date");
  }
  void memo(const char* name, std::string_view utf8) {
    int i = field(name);
    if (i >= 0 && !kora::write_memo(table, i, encode_text(utf8, cp))) fail(name, "memo not written");
  }
  void begin() { kora::blank_record(table); }
  void append() {
    if (!kora::append_record(table, false)) {
      std::fprintf(stderr, "make_demo: %s: cannot append a record\n", table.file_name.c_str());
      ok = false;
    }
  }
  void delete_records(std::initializer_list<uint32_t> records) {
    for (uint32_t q : records)
      if (q >= table.record_count || !kora::mark_deleted(table, q)) {
        std::fprintf(stderr, "make_demo: %s: cannot delete record %u\n", table.file_name.c_str(), q + 1);
        ok = false;
      }
  }
};

// Day of a date plus a number of days, on the engine's own calendar.
void add_days(int& year, int& month, int& day, int days) {
  kora::DateParts d = kora::date_from_julian(kora::julian_day_number(year, month, day) + days, 0);
  year = d.year;
  month = d.month + 1;
  day = d.day;
}

// ---------------------------------------------------------------------------
// demo.dbf: orders of customers, FoxPro with an .fpt memo, code page 866.

struct Customer {
  const char* name;
  const char* city;
  const char* manager;
};

constexpr Customer kCustomers[] = {
    {"ООО \"Ромашка\"", "Москва", "Иванов И.И."},
    {"АО \"Северсталь-Трейд\"", "Череповец", "Петрова А.С."},
    {"ИП Смирнов А.В.", "Тверь", "Иванов И.И."},
    {"ООО \"Волга-Логистик\"", "Самара", "Кузнецов Д.О."},
    {"ЗАО \"Уральские окна\"", "Екатеринбург", "Петрова А.С."},
    {"ООО \"Балтийский берег\"", "Калининград", "Соколова Е.Н."},
    {"ПАО \"Сибирь-Энерго\"", "Новосибирск", "Кузнецов Д.О."},
    {"ООО \"Кубань-Агро\"", "Краснодар", "Соколова Е.Н."},
    {"ИП Ёлкина М.П.", "Казань", "Иванов И.И."},
    {"ООО \"Приморье\"", "Владивосток", "Петрова А.С."},
};

struct Item {
  const char* name;
  double price;
};

constexpr Item kItems[] = {
    {"Бумага офисная A4", 289.50},  {"Картридж HP 85A", 3150.00}, {"Стул офисный", 4780.00},
    {"Стол письменный", 9900.00},   {"Монитор 24\"", 15490.00},  {"Клавиатура", 1290.00},
    {"Папка-регистратор", 175.25}, {"Шредер", 7350.00},
};

constexpr int kDemoRecords = 50;

bool make_orders(const std::string& folder) {
  TableSpec layout{"demo.dbf", 0xF5, 0x65, 64,
                 {{"ORDER_NO", 'N', 6, 0},
                  {"ORDER_DATE", 'D', 8, 0},
                  {"CUSTOMER", 'C', 30, 0},
                  {"CITY", 'C', 16, 0},
                  {"MANAGER", 'C', 16, 0},
                  {"ITEM", 'C', 24, 0},
                  {"QTY", 'N', 5, 0},
                  {"PRICE", 'N', 10, 2},
                  {"AMOUNT", 'N', 12, 2},
                  {"DISCOUNT", 'F', 5, 1},
                  {"PAID", 'L', 1, 0},
                  {"NOTES", 'M', 10, 0}}};
  auto table = create_table(folder, layout);
  if (!table) return false;
  RecordWriter w{*table, CodePage::k866};
  int year = 2024, month = 1, day = 9;
  for (int k = 0; k < kDemoRecords && w.ok; ++k) {
    const Customer& c = kCustomers[k % 10];
    const Item& item = kItems[(k * 3) % 8];
    int qty = 1 + (k * 7) % 20;
    double discount = (k % 5 == 0) ? 5.0 : (k % 7 == 0 ? 2.5 : 0.0);
    w.begin();
    w.number("ORDER_NO", 1001 + k);
    w.date("ORDER_DATE", year, month, day);
    w.text("CUSTOMER", c.name);
    w.text("CITY", c.city);
    w.text("MANAGER", c.manager);
    w.text("ITEM", item.name);
    w.number("QTY", qty);
    w.number("PRICE", item.price);
    w.number("AMOUNT", qty * item.price * (100.0 - discount) / 100.0);
    w.number("DISCOUNT", discount);
    w.logical("PAID", k % 3 != 2);
    if (k % 4 == 0)
      w.memo("NOTES", "Заказ №" + std::to_string(1001 + k) + ": доставка до склада клиента.\r\nКонтакт: " +
                          c.manager + ", город " + c.city + ".");
    else if (k % 4 == 2)
      w.memo("NOTES", "Оплата по счёту в течение 10 банковских дней.");
    w.append();
    add_days(year, month, day, 3 + k % 4);
  }
  w.delete_records({5, 17, 30, 44});
  return w.ok;
}

// ---------------------------------------------------------------------------
// goods.dbf: Visual FoxPro price list, code page 1251, with the binary types.

// Prices with binary-exact fractions: the currency type keeps four decimals
// cut toward zero.
struct Goods {
  const char* name;
  double price;
  double weight;
  const char* note;
};

constexpr Goods kGoods[] = {
    {"Чай чёрный «Ассам»", 349.75, 0.25, "Листовой, упаковка 250 г."},
    {"Кофе в зёрнах", 1299.00, 1.0, "Арабика 100 %, средняя обжарка."},
    {"Сахар-рафинад", 89.5, 0.5, ""},
    {"Мёд липовый", 650.0, 0.75, "Алтай — урожай этого года."},
    {"Печенье овсяное", 112.0625, 0.3, ""},
    {"Шоколад горький", 189.5, 0.1, "Какао 72 %."},
    {"Вода минеральная", 59.0, 1.5, ""},
    {"Сок яблочный", 139.0, 1.0, "Без сахара."},
    {"Конфеты «Мишка»", 899.0, 1.0, "Весовые."},
    {"Пряники тульские", 245.0, 0.6, "С повидлом."},
};

bool make_goods(const std::string& folder) {
  TableSpec layout{"goods.dbf", 0x30, 0xC9, 64,
                 {{"ID", 'I', 4, 0},
                  {"NAME", 'C', 30, 0},
                  {"PRICE", 'Y', 8, 4},
                  {"WEIGHT", 'B', 8, 3},
                  {"UPDATED", 'T', 8, 0},
                  {"NOTE", 'M', 4, 0},
                  {"PICTURE", 'G', 4, 0},
                  {"_NullFlags", '0', 1, 0}}};
  auto table = create_table(folder, layout);
  if (!table) return false;
  RecordWriter w{*table, CodePage::k1251};
  int k = 0;
  for (const Goods& g : kGoods) {
    w.begin();
    w.number("ID", 101 + k);
    w.text("NAME", g.name);
    w.number("PRICE", g.price);
    w.number("WEIGHT", g.weight);
    w.date("UPDATED", 2024, 3, 1 + k, 9 + k, 5 * k, 30);
    if (*g.note) w.memo("NOTE", g.note);
    if (k % 3 == 0) w.memo("PICTURE", "OLE object placeholder " + std::to_string(k));
    w.append();
    ++k;
  }
  w.delete_records({2, 7});
  return w.ok;
}

// ---------------------------------------------------------------------------
// books.dbf: dBase IV with a .dbt memo, a Character field longer than 255,
// date-times in text form and a binary memo.

struct Book {
  const char* code;
  const char* title;
  int year;
  const char* abstract;
};

constexpr Book kBooks[] = {
    {"B-001", "Database Systems", 1995, "An introduction to file formats and record storage."},
    {"B-002", "Structured Programming", 1972, "Essays on program structure."},
    {"B-003", "Algorithms + Data Structures = Programs", 1976, ""},
    {"B-004", "The Art of Computer Programming", 1968, "Fundamental algorithms, volume one."},
    {"B-005", "Compilers", 1986, "Principles, techniques and tools."},
    {"B-006", "Software Tools", 1976, "Programs as building blocks."},
    {"B-007", "The Mythical Man-Month", 1975, "Essays on software engineering."},
    {"B-008", "Elements of Programming Style", 1974, ""},
};

bool make_books(const std::string& folder) {
  TableSpec layout{"books.dbf", 0x8B, 0x00, 512,
                 {{"CODE", 'C', 8, 0},
                  {"TITLE", 'C', 300, 0},
                  {"PUBLISHED", 'D', 8, 0},
                  {"IN_STOCK", 'L', 1, 0},
                  {"RATING", 'N', 4, 1},
                  {"CHANGED", 'T', 14, 0},
                  {"ABSTRACT", 'M', 10, 0},
                  {"COVER", 'B', 10, 0}}};
  auto table = create_table(folder, layout);
  if (!table) return false;
  RecordWriter w{*table, CodePage::k866};
  int k = 0;
  for (const Book& b : kBooks) {
    // The title is padded out to the end of the long field, so that its last
    // bytes lie beyond the first 255.
    std::string title = b.title;
    title += std::string(290 - title.size(), '.');
    title += "[end]";
    w.begin();
    w.text("CODE", b.code);
    w.text("TITLE", title);
    w.date("PUBLISHED", b.year, 1 + k, 10 + k);
    w.logical("IN_STOCK", k % 2 == 0);
    w.number("RATING", 3.5 + 0.2 * k);
    w.date("CHANGED", 2023, 12, 20 + k, 14, 30 + k, 15);
    if (*b.abstract) w.memo("ABSTRACT", b.abstract);
    if (k % 2 == 1) w.memo("COVER", std::string("cover image of ") + b.code);
    w.append();
    ++k;
  }
  w.delete_records({3});
  return w.ok;
}

// ---------------------------------------------------------------------------
// staff.dbf: dBase III with a .dbt memo.

struct Employee {
  const char* name;
  const char* city;
  int born_year, born_month, born_day;
  double salary;
  double rate;
  bool married;
  const char* comment;
};

constexpr Employee kStaff[] = {
    {"Alice Johnson", "Boston", 1980, 4, 12, 72000.00, 1.125, true, "Team lead since 2015."},
    {"Bob Smith", "Chicago", 1975, 11, 3, 65500.50, 0.875, true, ""},
    {"Carol White", "Denver", 1990, 1, 30, 58250.00, 1.000, false, "Works remotely."},
    {"David Brown", "Austin", 1985, 7, 7, 61000.00, 0.950, true, ""},
    {"Eve Davis", "Seattle", 1992, 2, 29, 80400.75, 1.250, false, "Security team."},
    {"Frank Miller", "Boston", 1968, 9, 15, 91000.00, 1.500, true, "Retires next year."},
    {"Grace Lee", "Portland", 1995, 12, 1, 49900.00, 0.800, false, ""},
    {"Henry Wilson", "Phoenix", 1979, 5, 21, 67300.25, 1.050, true, "Part time on Fridays."},
    {"Irene Clark", "Miami", 1988, 3, 9, 55750.00, 0.900, false, ""},
    {"Jack Taylor", "Dallas", 1983, 8, 18, 70100.00, 1.100, true, "Moved from the Denver office."},
    {"Karen Moore", "Atlanta", 1991, 6, 25, 62800.00, 1.000, true, ""},
    {"Leo Martin", "Detroit", 1970, 10, 31, 88000.00, 1.375, false, "Chief engineer."},
};

bool make_staff(const std::string& folder) {
  TableSpec layout{"staff.dbf", 0x83, 0x00, 512,
                 {{"NAME", 'C', 20, 0},
                  {"CITY", 'C', 15, 0},
                  {"BORN", 'D', 8, 0},
                  {"SALARY", 'N', 10, 2},
                  {"RATE", 'F', 8, 3},
                  {"MARRIED", 'L', 1, 0},
                  {"COMMENT", 'M', 10, 0}}};
  auto table = create_table(folder, layout);
  if (!table) return false;
  RecordWriter w{*table, CodePage::k866};
  for (const Employee& e : kStaff) {
    w.begin();
    w.text("NAME", e.name);
    w.text("CITY", e.city);
    w.date("BORN", e.born_year, e.born_month, e.born_day);
    w.number("SALARY", e.salary);
    w.number("RATE", e.rate);
    w.logical("MARRIED", e.married);
    if (*e.comment) w.memo("COMMENT", e.comment);
    w.append();
  }
  w.delete_records({3, 8});
  return w.ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo <folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::fprintf(stderr, "make_demo: cannot create %s\n", folder.c_str());
    return 1;
  }
  struct Step {
    const char* name;
    bool (*make)(const std::string&);
  };
  const Step steps[] = {
      {"demo.dbf", make_orders}, {"goods.dbf", make_goods}, {"books.dbf", make_books}, {"staff.dbf", make_staff}};
  int status = 0;
  for (const Step& step : steps)
    if (!step.make(folder)) {
      std::fprintf(stderr, "make_demo: %s was not written completely\n", step.name);
      status = 1;
    }
  return status;
}
