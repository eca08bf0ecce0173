#include "tools/jsonl_export.h"

#include <cstring>

#include "tools/typed_values.h"

namespace kora {

namespace {

// The bytes a JSON string must escape, and the short escapes some have.
struct JsonEscapes {
  char escape[256] = {};  // 0 when the byte goes as it is, 'u' for \u00XX
  constexpr JsonEscapes() {
    for (int ch = 0; ch < 0x20; ++ch) escape[ch] = 'u';
    escape[uint8_t('"')] = '"';
    escape[uint8_t('\\')] = '\\';
    escape[uint8_t('\n')] = 'n';
    escape[uint8_t('\r')] = 'r';
    escape[uint8_t('\t')] = 't';
    escape[uint8_t('\b')] = 'b';
    escape[uint8_t('\f')] = 'f';
  }
};
constexpr JsonEscapes kJsonEscapes;

void append_value(std::string& out, const TypedValue& v) {
  switch (v.kind) {
    case TypedKind::kNull: out += "null"; return;
    case TypedKind::kNumber:
    case TypedKind::kInteger:
    case TypedKind::kReal: out += v.view; return;
    case TypedKind::kBool: out += v.flag ? "true" : "false"; return;
    case TypedKind::kBinary:
      out += '"';
      append_base64(out, v.view);
      out += '"';
      return;
    default: append_json_string(out, v.view);
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view utf8) {
  static const char kHex[] = "0123456789abcdef";
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  auto has_zero = [](uint64_t w) { return ((w - kOnes) & ~w & kHighs) != 0; };
  out += '"';
  size_t plain = 0, k = 0;
  // Eight bytes at a time while none is a control character, quote or backslash.
  for (uint64_t word; k + 8 <= utf8.size(); k += 8) {
    std::memcpy(&word, utf8.data() + k, 8);
    if (((word - 0x20 * kOnes) & ~word & kHighs) || has_zero(word ^ ('"' * kOnes)) || has_zero(word ^ ('\\' * kOnes)))
      break;
  }
  for (; k < utf8.size(); ++k) {
    char escape = kJsonEscapes.escape[uint8_t(utf8[k])];
    if (!escape) continue;
    out.append(utf8.substr(plain, k - plain));
    plain = k + 1;
    out += '\\';
    out += escape;
    if (escape == 'u') {
      out += "00";
      out += kHex[uint8_t(utf8[k]) >> 4];
      out += kHex[uint8_t(utf8[k]) & 15];
    }
  }
  out.append(utf8.substr(plain));
  out += '"';
}

ExportResult write_jsonl(Table& table, const ExportOptions& options, const ExportWriter& write,
                         const ProgressCallback& progress) {
  constexpr size_t kFlushBytes = 256 * 1024;
  ExportResult result;
  std::vector<TypedColumn> columns = typed_columns(table);
  // Each key with its quotes and colon, made once.
  std::vector<std::string> keys;
  for (const TypedColumn& c : columns) {
    std::string key;
    append_json_string(key, c.name);
    keys.push_back(key + ':');
  }
  std::string out;
  TypedValue value;
  bool written = true;
  if (options.detail) {
    result.status = export_walk(table, options, progress, [&](RecordImage image, uint32_t position) {
      out += '{';
      if (options.delete_mark) out += image[0] == '*' ? "\"_deleted\":true" : "\"_deleted\":false";
      for (size_t k = 0; k < columns.size(); ++k) {
        if (k > 0 || options.delete_mark) out += ',';
        out += keys[k];
        typed_value(table, columns[k], image, value);
        note_unreadable(value, columns[k], position, result.warnings);
        append_value(out, value);
      }
      out += "}\n";
      ++result.records;
      if (out.size() >= kFlushBytes) {
        written = write(out);
        out.clear();
      }
      return written;
    });
  }
  written = written && write(out);
  if (!written) {
    result.output = OutputStatus::kWriteFailed;
    if (result.status == Status::kWriteError) result.status = Status::kOk;
  }
  return result;
}

}  // namespace kora
