// Text carried from one code page into another: a table's text exported in
// UTF-8 or another page, or copied into a table of another page. The
// characters go through UTF-8 and come out exactly; one the target page
// cannot hold is refused, never replaced.
//
//   TextRecoder recode(table_text_page(source), table_text_page(target));
//   std::string out;
//   char32_t bad = 0;
//   if (!recode.convert(value, out, &bad)) ... cannot_hold_text(recode.to(), bad)
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "table/text_code_page.h"

namespace kora {

struct Table;

// The page the table's bytes are in: its code page, or 866 or 1251 as its
// ANSI flag says when it was opened without one.
std::shared_ptr<const CodePage> table_text_page(const Table& table);

class TextRecoder {
 public:
  TextRecoder() = default;
  // Null pages, or pages with the same number, pass the bytes unchanged.
  TextRecoder(std::shared_ptr<const CodePage> from, std::shared_ptr<const CodePage> to);

  // True when the bytes change on the way.
  bool active() const { return active_; }
  const CodePage& to() const { return *to_; }
  // `in` into the target page, in `out`; false when `in` holds a character
  // the target cannot, named by `bad`.
  bool convert(std::string_view in, std::string& out, char32_t* bad) const;
  // The same in place.
  bool convert(std::string& text, char32_t* bad) const;

 private:
  std::shared_ptr<const CodePage> from_, to_;
  bool active_ = false;
  bool from_utf8_ = false;
  bool to_utf8_ = false;
};

}  // namespace kora
