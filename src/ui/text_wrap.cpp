#include "ui/text_wrap.h"

#include <algorithm>

#include "ui/screen.h"

namespace kora {

namespace {

struct Glyph {
  size_t at;  // its first byte
  int cells;
};

bool has_characters(const TextEditor& ed) { return ed.characters && ed.characters->shown_as; }

int cells_of(std::u32string_view shown) {
  int cells = 0;
  for (char32_t c : shown) cells += c == U'\t' ? 1 : char_cells(c);
  return cells;
}

// The characters of the bytes and the cells each takes.
std::vector<Glyph> glyphs(const TextEditor& ed, std::string_view text) {
  std::vector<Glyph> out;
  out.reserve(text.size());
  if (!has_characters(ed)) {
    for (size_t i = 0; i < text.size(); ++i) out.push_back({i, 1});
    return out;
  }
  for (size_t at = 0; at < text.size();) {
    size_t length = ed.characters->length ? std::max<size_t>(ed.characters->length(text, at), 1) : 1;
    length = std::min(length, text.size() - at);
    out.push_back({at, cells_of(ed.characters->shown_as(text.substr(at, length)))});
    at += length;
  }
  return out;
}

}  // namespace

std::vector<size_t> wrap_starts(const TextEditor& ed, std::string_view text) {
  const int width = std::max(ed.width + 1, 1);
  std::vector<Glyph> all = glyphs(ed, text);
  std::vector<size_t> starts{0};
  size_t row_first = 0;                    // glyph index of the row's start
  size_t after_blank = 0;                  // glyph index after the row's last blank, 0 none
  int cells = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    while (cells + all[i].cells > width && i > row_first) {
      size_t cut = after_blank > row_first ? after_blank : i;
      starts.push_back(all[cut].at);
      cells = 0;
      for (size_t j = cut; j < i; ++j) cells += all[j].cells;
      row_first = cut;
      after_blank = 0;
    }
    cells += all[i].cells;
    if (text[all[i].at] == ' ') after_blank = i + 1;
  }
  if (cells >= width) starts.push_back(text.size());
  return starts;
}

int wrap_cells(const TextEditor& ed, std::string_view bytes) {
  if (!has_characters(ed)) return int(bytes.size());
  return cells_of(ed.characters->shown_as(bytes));
}

WrapPlace wrap_place(const TextEditor& ed, std::string_view text, const std::vector<size_t>& starts, size_t pos) {
  pos = std::min(pos, text.size());
  auto after = std::upper_bound(starts.begin(), starts.end(), pos);
  int row = int(after - starts.begin()) - 1;
  size_t start = starts[size_t(row)];
  return {row, wrap_cells(ed, text.substr(start, pos - start))};
}

size_t wrap_position(const TextEditor& ed, std::string_view text, const std::vector<size_t>& starts, int row,
                     int column) {
  row = std::clamp(row, 0, int(starts.size()) - 1);
  size_t start = starts[size_t(row)];
  bool last = size_t(row) + 1 == starts.size();
  size_t end = last ? text.size() : starts[size_t(row) + 1];
  std::vector<Glyph> row_glyphs = glyphs(ed, text.substr(start, end - start));
  int cells = 0;
  for (const Glyph& glyph : row_glyphs) {
    if (cells + glyph.cells > column) return start + glyph.at;
    cells += glyph.cells;
  }
  if (last || row_glyphs.empty()) return end;
  return start + row_glyphs.back().at;
}

}  // namespace kora
