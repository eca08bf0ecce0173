// make_help <source.txt> <table.dbf>: writes kora's help table from its
// plain-text source.
//
// The source is a list of topics. A line "@ <number> <title>" starts a
// topic; the lines after it, up to the next such line, are its text (blank
// lines at either end dropped). Lines starting with "#" before the first
// topic are comments. The table is dBase III with a .dbt memo file:
//
//   TOPIC  N(3)   the topic number the program passes
//   TITLE  C(40)  the title listed in Help, Contents
//   TEXT   M      the text
//   ORDER  N(3)   the place in the list: the order of the source
//
// Records are appended through kora's own engine. The header carries a
// fixed date, so that the same source always gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "table/byte_order.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/memo_file.h"
#include "table/record_ops.h"
#include "table/value_codec.h"

namespace {

struct Topic {
  int number = 0;
  std::string title;
  std::vector<std::string> lines;
};

bool read_topics(const char* path, std::vector<Topic>& topics) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("@ ", 0) == 0) {
      Topic topic;
      size_t end = 0;
      topic.number = std::stoi(line.substr(2), &end);
      topic.title = line.substr(2 + end);
      topic.title.erase(0, topic.title.find_first_not_of(' '));
      topics.push_back(topic);
    } else if (!topics.empty()) {
      topics.back().lines.push_back(line);
    } else if (!line.empty() && line[0] != '#') {
      std::fprintf(stderr, "make_help: %s: text before the first topic\n", path);
      return false;
    }
  }
  return !topics.empty();
}

// The text with CR LF line ends, as memo texts are stored.
std::string topic_text(const Topic& topic) {
  size_t first = 0, last = topic.lines.size();
  while (first < last && topic.lines[first].empty()) ++first;
  while (last > first && topic.lines[last - 1].empty()) --last;
  std::string text;
  for (size_t k = first; k < last; ++k) {
    if (k > first) text += "\r\n";
    text += topic.lines[k];
  }
  return text;
}

struct Field {
  const char* name;
  char type;
  int length;
};
constexpr Field kFields[] = {{"TOPIC", 'N', 3}, {"TITLE", 'C', 40}, {"TEXT", 'M', 10}, {"ORDER", 'N', 3}};

bool write_empty_table(const std::string& path) {
  size_t count = std::size(kFields);
  size_t header_size = 32 + 32 * count + 1;
  std::vector<uint8_t> bytes(header_size + 1, 0);
  int record_size = 1;
  for (size_t k = 0; k < count; ++k) {
    kora::FieldDesc desc;
    std::strncpy(desc.name, kFields[k].name, 10);
    desc.type = kFields[k].type;
    desc.offset = uint16_t(record_size);
    desc.length = uint8_t(kFields[k].length);
    kora::encode_field_desc(desc, &bytes[32 + 32 * k]);
    record_size += kFields[k].length;
  }
  bytes[0] = 0x83;
  bytes[1] = 126;  // 2026-01-01
  bytes[2] = 1;
  bytes[3] = 1;
  kora::put_le16(&bytes[8], uint16_t(header_size));
  kora::put_le16(&bytes[10], uint16_t(record_size));
  bytes[header_size - 1] = 0x0D;
  bytes[header_size] = 0x1A;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out.flush());
}

bool append_topic(kora::Table& table, const Topic& topic, int order) {
  kora::blank_record(table);
  std::string number = std::to_string(topic.number);
  std::string place = std::to_string(order);
  auto stored = [&](int i, std::string_view text) { return kora::set_field_text(table, i, text) == kora::FieldWrite::kStored; };
  return stored(0, number) && stored(1, topic.title) && kora::write_memo(table, 2, topic_text(topic)) &&
         stored(3, place) && kora::append_record(table, false);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_help <source.txt> <table.dbf>\n");
    return 2;
  }
  std::vector<Topic> topics;
  if (!read_topics(argv[1], topics)) {
    std::fprintf(stderr, "make_help: %s: no topics read\n", argv[1]);
    return 1;
  }
  std::string path = argv[2];
  std::remove(kora::memo_file_name(path, kora::kDBase3).c_str());
  if (!write_empty_table(path) || !kora::create_memo_file(path, kora::kDBase3, 512)) {
    std::fprintf(stderr, "make_help: %s: cannot write\n", path.c_str());
    return 1;
  }
  std::unique_ptr<kora::Table> table = kora::open_table(path);
  if (!table) {
    std::fprintf(stderr, "make_help: %s: cannot open what was written\n", path.c_str());
    return 1;
  }
  int order = 0;
  for (const Topic& topic : topics) {
    if (!append_topic(*table, topic, ++order)) {
      std::fprintf(stderr, "make_help: %s: topic %d not stored\n", path.c_str(), topic.number);
      return 1;
    }
  }
  kora::close_table(table);
  return 0;
}
