// The statistics box and the frequency list. Both count the current column
// (the block's columns together, when a block is marked) over the records in
// view, or over the selection when records are selected.
#include "app/column_stats_view.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/browse_view.h"
#include "app/command_support.h"
#include "app/filter_commands.h"
#include "app/status_text.h"
#include "app/tool_commands.h"
#include "table/record_ops.h"
#include "table/text_code_page.h"
#include "tools/column_stats.h"
#include "tools/filter.h"
#include "tools/output_file.h"
#include "ui/codepage.h"
#include "ui/dialog.h"
#include "ui/key_codes.h"
#include "ui/keys.h"
#include "ui/message_box.h"
#include "ui/screen.h"
#include "ui/settings.h"

namespace kora {

namespace {

// ---- counting --------------------------------------------------------------------------

// The fields counted: the block's columns, else the current one; computed
// columns hold no stored values, and memos join no combination.
std::vector<int> counted_columns(const Table& table) {
  const ViewState& v = view_of(table);
  int from = v.current_column, to = v.current_column;
  if (g_app.block.on) {
    from = std::min(g_app.block.anchor_column, v.current_column);
    to = std::max(g_app.block.anchor_column, v.current_column);
  }
  std::vector<int> columns;
  for (int k = from; k <= to; ++k) {
    int i = column_field(table, k);
    if (i >= 0 && i < table.field_count() && (from == to || !is_memo_field(table, i))) columns.push_back(i);
  }
  return columns;
}

// False when there was nothing to count, the walk was stopped or failed
// (the failure is reported).
bool count_columns(Table& table, ValueCounts& counts) {
  std::vector<int> columns = counted_columns(table);
  if (columns.empty()) {
    message_box("A computed column has no stored values to count.", "Information", "OK", 0, 0);
    return false;
  }
  if (!settle_edit()) return false;
  const std::vector<uint32_t>& selection = table_state(table).selection;
  RecordList list = record_list_from_selection(table, selection);
  const RecordList* listed = selection.empty() ? nullptr : &list;
  Status status;
  {
    ProgressScope box(listed ? list.count() : visible_count(table), Stop::kOnEscape);
    status = count_values(table, columns, listed, box.callback(), counts, size_t(g_settings.distinct_limit));
  }
  if (status == Status::kAborted) return false;
  if (status != Status::kOk) {
    message_box(status_cause_text(status), "Error", "OK", kMessageError, kToolErrorHelp);
    return false;
  }
  return true;
}

// ---- drawing helpers ---------------------------------------------------------------------

// Text of the table as the screen shows it: its own code page's characters,
// or code page 866 bytes as the browse puts them.
std::u32string shown_chars(const Table& table, std::string_view text) {
  if (in_other_code_page(table)) return table.code_page->to_unicode(text);
  std::u32string out;
  for (unsigned char c : text) out += char32_t(cp866_to_unicode(display_byte(c)));
  return out;
}

std::u32string ascii_chars(std::string_view text) { return std::u32string(text.begin(), text.end()); }

// At most `cells` cells; a longer text ends in an ellipsis.
void put_cut(int x, int y, std::u32string text, unsigned char attr, int cells) {
  if (cells <= 0) return;
  if (text_cells(text) > cells) {
    while (!text.empty() && text_cells(text) > cells - 1) text.pop_back();
    text += U'\u2026';
  }
  int drawn = put_unicode(x, y, text, attr, cells);
  put_spaces(x + drawn, y, cells - drawn, attr);
}

std::string number_text(uint64_t n) { return std::to_string(n); }

std::string real_text(double x) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", x);
  return text;
}

std::string trim_right(std::string text) {
  size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string columns_title(const Table& table, const std::vector<int>& columns) {
  std::string names;
  for (int i : columns) names += (names.empty() ? "" : "+") + field_name(table, i);
  return names;
}

// A modal window over the screen: the screen under it, the cursor hidden.
class Overlay {
 public:
  Overlay() : under_(save_screen()), cursor_(get_cursor()), visibility_(g_screen.cursor_visibility) {
    set_cursor_shape(0x2000);
  }
  ~Overlay() {
    restore_screen(under_);
    goto_xy(cursor_ % 256, cursor_ / 256);
    g_screen.cursor_visibility = visibility_;
  }
  Overlay(const Overlay&) = delete;
  Overlay& operator=(const Overlay&) = delete;

 private:
  ScreenSnapshot under_;
  int cursor_;
  int visibility_;
};

// ---- the statistics box ------------------------------------------------------------------

struct StatsLine {
  std::string label;
  std::string value;
  bool table_text = false;  // in the table's code page
};

std::vector<StatsLine> stats_lines(const ValueCounts& counts) {
  const ColumnStats& s = counts.stats;
  std::vector<StatsLine> lines = {
      {"Records", number_text(s.records)},
      {"Blank", number_text(s.blanks)},
      {"Distinct values", (s.distinct_cut ? "more than " : "") + number_text(s.distinct)},
  };
  switch (s.kind) {
    case ValueKind::kText:
      if (s.records == s.blanks) break;
      lines.push_back({"Shortest, longest", number_text(s.shortest) + ", " + number_text(s.longest)});
      lines.push_back({"First", trim_right(s.first), true});
      lines.push_back({"Last", trim_right(s.last), true});
      break;
    case ValueKind::kNumber:
      if (s.not_numbers) lines.push_back({"Not numbers", number_text(s.not_numbers)});
      if (s.numbers == 0) break;
      lines.push_back({"Minimum", s.minimum});
      lines.push_back({"Maximum", s.maximum});
      lines.push_back({"Sum", s.sum});
      lines.push_back({"Mean", real_text(s.mean)});
      lines.push_back({"Standard deviation", real_text(s.deviation)});
      break;
    case ValueKind::kDate:
      lines.push_back({"Impossible", number_text(s.impossible)});
      if (s.earliest.empty()) break;
      lines.push_back({"Earliest", s.earliest});
      lines.push_back({"Latest", s.latest});
      break;
    case ValueKind::kLogical:
      lines.push_back({"True", number_text(s.trues)});
      lines.push_back({"False", number_text(s.falses)});
      break;
    case ValueKind::kMemo:
      lines.push_back({"With text", number_text(s.with_text)});
      lines.push_back({"Empty", number_text(s.empty)});
      lines.push_back({"Missing", number_text(s.missing)});
      break;
  }
  return lines;
}

void paint_stats(const Table& table, const ValueCounts& counts, const std::vector<StatsLine>& lines) {
  const int label_width = 19;
  int value_width = 24;
  for (const StatsLine& line : lines) {
    value_width = std::max(value_width, text_cells(line.table_text ? shown_chars(table, line.value)
                                                                   : ascii_chars(line.value)));
  }
  int width = std::min(label_width + value_width + 5, screen_cols() - 4);
  int height = int(lines.size()) + 5;
  int x1 = std::max(0, (screen_cols() - width) / 2), y1 = std::max(1, (screen_rows() - height) / 2);
  int x2 = x1 + width - 1, y2 = y1 + height - 1;
  unsigned char attr = g_colors.DialogText;
  draw_box(x1, y1, x2, y2, g_colors.DialogFrame, g_frames.double_frame, kBoxShadow);
  std::u32string title = ascii_chars(" Statistics of ") + shown_chars(table, field_name(table, counts.columns.front())) + U' ';
  put_cut(x1 + std::max(2, (width - text_cells(title)) / 2), y1, title, g_colors.DialogFrame, width - 4);
  int room = x2 - (x1 + 3 + label_width) - 1;
  for (size_t k = 0; k < lines.size(); ++k) {
    int y = y1 + 2 + int(k);
    put_text_n(x1 + 2, y, lines[k].label, attr, label_width);
    const std::string& value = lines[k].value;
    put_cut(x1 + 3 + label_width, y, lines[k].table_text ? shown_chars(table, value) : ascii_chars(value), attr, room);
  }
  put_text_n(x1 + 2, y2 - 1, "Enter: value frequencies   Esc: close", attr, width - 4);
}

// 1 when the user asked for the frequency list.
int run_stats_box(const Table& table, const ValueCounts& counts) {
  std::vector<StatsLine> lines = stats_lines(counts);
  Overlay overlay;
  PaintLayer layer([&] { paint_stats(table, counts, lines); });
  paint_stats(table, counts, lines);
  for (;;) {
    int key = get_key(kColumnStatsHelp, g_ui_idle_hook);
    if (key == kKeyEnter || key == kKeyAltF5) return 1;
    if (key == kKeyEsc || key == kKeyF10) return 0;
  }
}

// ---- the frequency list ------------------------------------------------------------------

struct FrequencyList {
  Table& table;
  ValueCounts counts;
  FrequencyOrder order = FrequencyOrder::kByCount;
  std::set<std::string> marked;  // keys
  long current = 0;
  long top = 0;
  uint64_t most = 0;  // the largest count: a full bar
};

struct ListLayout {
  int x1, y1, x2, y2;
  int first_row, rows;  // of the values
  int value_x, value_width, count_x, percent_x, bar_x, bar_width;
};

ListLayout list_layout(const FrequencyList& list) {
  ListLayout l{};
  l.x1 = 0;
  l.y1 = 1;
  l.x2 = screen_cols() - 1;
  l.y2 = screen_rows() - 2;
  l.first_row = l.y1 + (list.counts.cut ? 3 : 2);
  l.rows = std::max(1, l.y2 - 1 - l.first_row);
  int inner = l.x2 - l.x1 - 1;
  l.bar_width = std::max(8, inner / 4);
  l.value_x = l.x1 + 3;
  l.value_width = std::max(8, inner - 2 - l.bar_width - 20);
  l.count_x = l.value_x + l.value_width + 1;
  l.percent_x = l.count_x + 11;
  l.bar_x = l.percent_x + 8;
  l.bar_width = std::max(1, l.x2 - 1 - l.bar_x);
  return l;
}

// The value as the list shows it: each column's text, joined by " | ";
// a value blank in every column as "(blank)".
std::u32string value_chars(const FrequencyList& list, const std::string& key) {
  std::string text;
  bool blank = true;
  for (size_t k = 0; k < list.counts.columns.size(); ++k) {
    std::string part = trim_right(value_text(list.table, list.counts, key, k));
    blank = blank && part.find_first_not_of(' ') == std::string::npos;
    text += (k ? " | " : "") + part;
  }
  return blank ? ascii_chars("(blank)") : shown_chars(list.table, text);
}

// Eighths of a cell in block characters, or whole cells of '#' on a
// terminal that shows only code page 866.
void put_bar(int x, int y, uint64_t count, uint64_t most, int cells, unsigned char attr) {
  uint64_t eighths = most ? (count * uint64_t(cells) * 8 + most / 2) / most : 0;
  if (eighths == 0 && count > 0) eighths = 1;
  std::u32string bar;
  if (g_screen.unicode) {
    bar.assign(size_t(eighths / 8), U'\u2588');
    // U+2589 (seven eighths) down to U+258F (one eighth).
    if (eighths % 8) bar += char32_t(0x2590 - eighths % 8);
  } else {
    bar.assign(size_t(std::max<uint64_t>((eighths + 4) / 8, 1)), U'#');
  }
  int drawn = put_unicode(x, y, bar, attr, cells);
  put_spaces(x + drawn, y, cells - drawn, attr);
}

void paint_list(const FrequencyList& list) {
  ListLayout l = list_layout(list);
  const ValueCounts& counts = list.counts;
  draw_box(l.x1, l.y1, l.x2, l.y2, g_colors.Frame, g_frames.double_frame, 0);
  std::string order = list.order == FrequencyOrder::kByCount ? "by count" : "by value";
  std::u32string title = ascii_chars(" Frequencies of ") + shown_chars(list.table, columns_title(list.table, counts.columns)) +
                         ascii_chars(": " + number_text(counts.values.size()) + " values, " + order + " ");
  put_cut(l.x1 + std::max(2, (l.x2 - l.x1 - text_cells(title)) / 2), l.y1, title, g_colors.Frame, l.x2 - l.x1 - 3);
  unsigned char text = g_colors.Text;
  int y = l.y1 + 1;
  if (counts.cut) {
    put_cut(l.x1 + 1, y++, ascii_chars(" The list is cut: more than " + number_text(size_t(g_settings.distinct_limit)) +
                                       " distinct values; the most frequent are shown, each counted exactly."),
            g_colors.HeaderN, l.x2 - l.x1 - 1);
  }
  put_spaces(l.x1 + 1, y, l.x2 - l.x1 - 1, g_colors.HeaderC);
  put_text(l.value_x, y, "Value", g_colors.HeaderC);
  put_text(l.count_x + 5, y, "Count", g_colors.HeaderC);
  put_text(l.percent_x + 5, y, "%", g_colors.HeaderC);
  for (int row = 0; row < l.rows; ++row) {
    long k = list.top + row;
    int at = l.first_row + row;
    bool current = k == list.current;
    unsigned char attr = current ? g_colors.Current : text;
    put_spaces(l.x1 + 1, at, l.x2 - l.x1 - 1, text);
    if (k >= long(counts.values.size())) continue;
    const ValueCount& v = counts.values[size_t(k)];
    put_char(l.x1 + 1, at, list.marked.count(v.key) ? 251 : ' ', g_colors.Selected);
    put_cut(l.value_x, at, value_chars(list, v.key), attr, l.value_width);
    char number[64];
    std::snprintf(number, sizeof number, "%10llu", static_cast<unsigned long long>(v.count));
    put_text(l.count_x, at, number, attr);
    double share = counts.records ? 100.0 * double(v.count) / double(counts.records) : 0;
    std::snprintf(number, sizeof number, "%6.2f", share);
    put_text(l.percent_x, at, number, attr);
    put_bar(l.bar_x, at, v.count, list.most, l.bar_width, text);
  }
  put_text_n(l.x1 + 2, l.y2 - 1,
             "Enter filter  Ctrl+Enter add to filter  Ins mark  Ctrl+S order  Ctrl+F9 export  Esc close", text,
             l.x2 - l.x1 - 3);
}

void resort(FrequencyList& list, FrequencyOrder order) {
  std::string at = list.counts.values.empty() ? "" : list.counts.values[size_t(list.current)].key;
  list.order = order;
  sort_values(list.table, list.counts, order);
  for (size_t k = 0; k < list.counts.values.size(); ++k) {
    if (list.counts.values[k].key == at) list.current = long(k);
  }
}

void keep_visible(FrequencyList& list) {
  long count = long(list.counts.values.size());
  int rows = list_layout(list).rows;
  list.current = std::clamp(list.current, 0L, std::max(0L, count - 1));
  if (list.current < list.top) list.top = list.current;
  if (list.current >= list.top + rows) list.top = list.current - rows + 1;
  list.top = std::clamp(list.top, 0L, std::max(0L, count - rows));
}

// The condition that passes the records holding one of the values: each
// column equal to its part of the value (as Ctrl+E makes it), the columns
// joined by & and the values by |. Empty, the reason told, when a value
// cannot be put in a condition.
std::string values_condition(const FrequencyList& list, const std::vector<std::string>& keys) {
  const Table& table = list.table;
  std::string condition;
  for (const std::string& key : keys) {
    std::vector<uint8_t> record = value_record(table, list.counts, key);
    RecordImage image(record.data(), record.size());
    std::string part;
    for (int column : list.counts.columns) {
      // A condition reads a blank number as 0, which would let zeros pass too.
      if (value_kind(table, column) == ValueKind::kNumber &&
          field_text(table, image, column).find_first_not_of(' ') == std::string::npos) {
        message_box("A filter condition cannot tell a blank number\nfrom 0: filter for blanks with the Filter dialog.",
                    "Information", "OK", 0, 0);
        return {};
      }
      EqualityCondition equal = equality_condition(table, image, column, table_state(table).literal_brackets);
      if (equal.refusal) {
        message_box(equal.refusal, "Information", "OK", 0, 0);
        return {};
      }
      part += (part.empty() ? "" : "&") + equal.condition;
    }
    condition += (condition.empty() ? "" : "|") + part;
  }
  return condition;
}

// True when the table was filtered (the list then closes).
bool filter_by_values(FrequencyList& list, bool merge) {
  if (list.counts.values.empty()) return false;
  std::vector<std::string> keys;
  for (const ValueCount& v : list.counts.values) {
    if (list.marked.count(v.key)) keys.push_back(v.key);
  }
  if (keys.empty()) keys.push_back(list.counts.values[size_t(list.current)].key);
  std::string condition = values_condition(list, keys);
  if (condition.empty()) return false;
  return filter_to_condition(condition, merge);
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string utf8_of(const std::u32string& chars) {
  std::string out;
  char bytes[4];
  for (char32_t c : chars) out.append(bytes, size_t(utf8_encode(uint32_t(c), bytes)));
  return out;
}

// The list as CSV in UTF-8: one column per counted field, then COUNT and
// PERCENT, in the order shown.
std::string frequency_csv(const FrequencyList& list) {
  const ValueCounts& counts = list.counts;
  std::string out;
  for (int i : counts.columns) out += csv_field(utf8_of(shown_chars(list.table, field_name(list.table, i)))) + ",";
  out += "COUNT,PERCENT\r\n";
  for (const ValueCount& v : counts.values) {
    for (size_t k = 0; k < counts.columns.size(); ++k) {
      out += csv_field(utf8_of(shown_chars(list.table, trim_right(value_text(list.table, counts, v.key, k))))) + ",";
    }
    char tail[64];
    double share = counts.records ? 100.0 * double(v.count) / double(counts.records) : 0;
    std::snprintf(tail, sizeof tail, "%llu,%.2f\r\n", static_cast<unsigned long long>(v.count), share);
    out += tail;
  }
  return out;
}

void export_list(const FrequencyList& list) {
  std::string preset = columns_title(list.table, list.counts.columns) + ".csv";
  std::optional<std::string> path = input_filename(preset.c_str());
  if (!path) return;
  report_output_status(replace_output_file(*path, frequency_csv(list), program_output_guard()));
}

enum class ListOutcome { kStay, kClose };

ListOutcome list_key(FrequencyList& list, int key) {
  long page = list_layout(list).rows;
  switch (key) {
    case kKeyUp: --list.current; break;
    case kKeyDown: ++list.current; break;
    case kKeyPgUp: list.current -= page; break;
    case kKeyPgDn: list.current += page; break;
    case kKeyHome:
    case kKeyCtrlHome:
    case kKeyCtrlPgUp: list.current = 0; break;
    case kKeyEnd:
    case kKeyCtrlEnd:
    case kKeyCtrlPgDn: list.current = long(list.counts.values.size()) - 1; break;
    case kKeyIns:
      if (!list.counts.values.empty()) {
        const std::string& k = list.counts.values[size_t(list.current)].key;
        if (!list.marked.erase(k)) list.marked.insert(k);
        ++list.current;
      }
      break;
    case kKeyCtrlS:
      resort(list, list.order == FrequencyOrder::kByCount ? FrequencyOrder::kByValue : FrequencyOrder::kByCount);
      break;
    case kKeyCtrlF9: export_list(list); break;
    case kKeyEnter: return filter_by_values(list, false) ? ListOutcome::kClose : ListOutcome::kStay;
    case kKeyCtrlEnter: return filter_by_values(list, true) ? ListOutcome::kClose : ListOutcome::kStay;
    case kKeyEsc:
    case kKeyF10: return ListOutcome::kClose;
    default: break;
  }
  keep_visible(list);
  return ListOutcome::kStay;
}

void run_frequency_list(Table& table, ValueCounts counts) {
  // A memo field holds a block number, different in every record with text.
  if (counts.columns.size() == 1 && is_memo_field(table, counts.columns.front())) {
    message_box("A memo column has no list of values:\nits statistics count the memos.", "Information", "OK", 0, 0);
    return;
  }
  FrequencyList list{table, std::move(counts), FrequencyOrder::kByCount, {}, 0, 0, 0};
  sort_values(table, list.counts, list.order);
  for (const ValueCount& v : list.counts.values) list.most = std::max(list.most, v.count);
  {
    Overlay overlay;
    PaintLayer layer([&] {
      keep_visible(list);
      paint_list(list);
    });
    ListOutcome outcome = ListOutcome::kStay;
    while (outcome == ListOutcome::kStay) {
      keep_visible(list);
      paint_list(list);
      outcome = list_key(list, get_key(kFrequencyHelp, g_ui_idle_hook));
    }
  }
  g_app.redraw |= kRedrawAll;
}

}  // namespace

void column_stats_command() {
  Table* table = g_app.table();
  ValueCounts counts;
  if (!table || !count_columns(*table, counts)) return;
  if (run_stats_box(*table, counts) == 1) run_frequency_list(*table, std::move(counts));
}

void value_frequencies_command() {
  Table* table = g_app.table();
  ValueCounts counts;
  if (!table || !count_columns(*table, counts)) return;
  run_frequency_list(*table, std::move(counts));
}

}  // namespace kora
