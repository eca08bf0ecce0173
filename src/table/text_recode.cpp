#include "table/text_recode.h"

#include <algorithm>

#include "table/dbf_file.h"

namespace kora {

std::shared_ptr<const CodePage> table_text_page(const Table& table) {
  if (table.code_page) return table.code_page;
  return CodePage::of_number(table.ansi_text ? 1251 : 866);
}

TextRecoder::TextRecoder(std::shared_ptr<const CodePage> from, std::shared_ptr<const CodePage> to)
    : from_(std::move(from)), to_(std::move(to)) {
  active_ = from_ && to_ && from_->number() != to_->number();
  from_utf8_ = from_ && from_->number() == 65001;
  to_utf8_ = to_ && to_->number() == 65001;
}

namespace {

// Text of plain ASCII is the same in every page kora knows.
bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return uint8_t(ch) < 0x80; });
}

}  // namespace

bool TextRecoder::convert(std::string_view in, std::string& out, char32_t* bad) const {
  if (!active_ || is_ascii(in)) {
    out.assign(in);
    return true;
  }
  if (to_utf8_) {
    out = from_->to_utf8(in);
    return true;
  }
  if (from_utf8_) return to_->from_utf8(in, out, bad);
  return to_->from_utf8(from_->to_utf8(in), out, bad);
}

bool TextRecoder::convert(std::string& text, char32_t* bad) const {
  if (!active_ || is_ascii(text)) return true;
  std::string out;
  if (!convert(text, out, bad)) return false;
  text.swap(out);
  return true;
}

}  // namespace kora
