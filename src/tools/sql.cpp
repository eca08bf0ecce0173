#include "tools/sql.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <strings.h>

#include "table/column_model.h"
#include "tools/condition.h"
#include "tools/filter.h"
#include "tools/sort.h"

namespace kora {
namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr std::string_view kBlanks = " \t\n\r";
constexpr std::string_view kTokenSeparators = ";, \t\n\r";

bool is_blank(char c) { return kBlanks.find(c) != kNone; }
bool is_quote(char c) { return c == '"' || c == '\''; }

bool same_text(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == kNone) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The end of `word` when it stands at `at` as a whole word, else kNone.
size_t word_end(std::string_view text, size_t at, std::string_view word) {
  if (at > 0 && !is_blank(text[at - 1])) return kNone;
  if (text.size() - at < word.size() || !same_text(text.substr(at, word.size()), word)) return kNone;
  size_t end = at + word.size();
  return end == text.size() || is_blank(text[end]) ? end : kNone;
}

// A keyword of one or more words with blanks between them.
struct Keyword {
  size_t begin = kNone;
  size_t end = kNone;
  bool found() const { return begin != kNone; }
};

Keyword keyword_at(std::string_view text, size_t at, std::initializer_list<std::string_view> words) {
  Keyword keyword{at, at};
  for (std::string_view word : words) {
    if (keyword.end != at) keyword.end = text.find_first_not_of(kBlanks, keyword.end);
    if (keyword.end == kNone) return {};
    keyword.end = word_end(text, keyword.end, word);
    if (keyword.end == kNone) return {};
  }
  return keyword;
}

// The first occurrence from `from` outside quoted literals.
Keyword find_keyword(std::string_view text, size_t from, std::initializer_list<std::string_view> words) {
  char quote = 0;
  for (size_t at = from; at < text.size(); ++at) {
    char c = text[at];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (is_quote(c)) {
      quote = c;
    } else if (Keyword keyword = keyword_at(text, at, words); keyword.found()) {
      return keyword;
    }
  }
  return {};
}

// The text of a clause: from the end of its keyword to the next clause
// keyword that follows it, or to the end.
std::string_view clause_text(std::string_view body, const Keyword& own, const Keyword& other) {
  size_t end = other.found() && other.begin > own.begin ? other.begin : body.size();
  return body.substr(own.end, end - own.end);
}

std::vector<std::string_view> column_tokens(std::string_view list) {
  std::vector<std::string_view> tokens;
  size_t at = 0;
  while (tokens.size() < size_t(kMaxColumns)) {
    at = list.find_first_not_of(kTokenSeparators, at);
    if (at == kNone) break;
    size_t end = std::min(list.find_first_of(kTokenSeparators, at), list.size());
    tokens.push_back(list.substr(at, end - at));
    at = end;
  }
  return tokens;
}

// One column the list names: a stored or existing column, or a computed
// column to make (or to give a new expression) by its name.
struct WantedColumn {
  int column = -1;
  std::string name;  // of a computed column: the alias, renamed when taken
  std::string_view expression;
  std::string_view alias;  // as the statement writes it
};

bool is_as_pair(const std::vector<std::string_view>& tokens, size_t i) {
  return same_text(tokens[i], "AS") && i > 0 && i + 1 < tokens.size();
}

// The alias itself when no field and no earlier column of the statement has
// that name, else the alias with _1, _2, ... kept within ten characters.
std::string free_name(const Table& table, const std::vector<WantedColumn>& earlier, std::string_view alias) {
  auto taken = [&](std::string_view name) {
    if (find_field(table, name) >= 0) return true;
    return std::any_of(earlier.begin(), earlier.end(), [&](const WantedColumn& w) {
      return same_text(w.column >= 0 ? column_name(table, w.column) : w.name, name);
    });
  };
  std::string name(alias);
  for (int n = 1; taken(name) && n < 10000; ++n) {
    std::string suffix = std::to_string(n);
    suffix.insert(suffix.begin(), '_');
    name = std::string(alias.substr(0, std::min(alias.size(), 10 - suffix.size()))) + suffix;
  }
  return name;
}

// The columns of the list; false with the token in `unknown` when one names
// no field or column.
bool wanted_columns(const Table& table, const std::vector<std::string_view>& tokens,
                    std::vector<WantedColumn>& wanted, std::string& unknown) {
  // The expression and the name of an AS pair name nothing by themselves.
  std::vector<bool> in_pair(tokens.size(), false);
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (is_as_pair(tokens, i)) in_pair[i - 1] = in_pair[i + 1] = true;
  }
  for (size_t i = 0; i < tokens.size(); ++i) {
    std::string_view token = tokens[i];
    if (is_as_pair(tokens, i)) {
      wanted.push_back({-1, free_name(table, wanted, tokens[i + 1]), tokens[i - 1], tokens[i + 1]});
    } else if (in_pair[i]) {
      continue;
    } else if (token == "*") {
      for (int field = 0; field < table.field_count(); ++field) wanted.push_back({field, {}, {}, {}});
    } else if (int field = find_field(table, token); field >= 0) {
      wanted.push_back({field, {}, {}, {}});
    } else if (int computed = find_computed_column(table.columns, token); computed >= 0) {
      wanted.push_back({computed, {}, {}, {}});
    } else {
      unknown = std::string(token);
      return false;
    }
  }
  return true;
}

// The computed column index of a computed column: the one of that name takes the new
// expression, else a new one is made; -1 when no slot is free.
int computed_column_for(Table& table, const WantedColumn& wanted) {
  ComputedColumn column;
  column.name = wanted.name;
  column.expression = std::string(wanted.expression);
  column.type = is_numeric_expression(table, wanted.expression) ? 'N' : 'C';
  int index = find_computed_column(table.columns, wanted.name);
  if (index < 0) return add_computed_column(table.columns, std::move(column));
  ComputedColumn& kept = table.columns.computed[size_t(index - table.columns.field_count)].value();
  kept.expression = std::move(column.expression);
  kept.type = column.type;
  return index;
}

// Computed columns of earlier statements that this one does not name go,
// and a sort by one of them with them.
void drop_unnamed_computed(Table& table, const std::vector<WantedColumn>& wanted) {
  ColumnModel& model = table.columns;
  for (size_t k = 0; k < model.computed.size(); ++k) {
    if (!model.computed[k]) continue;
    int index = model.field_count + int(k);
    std::string name = model.computed[k]->name;
    bool named = std::any_of(wanted.begin(), wanted.end(), [&](const WantedColumn& w) {
      return w.column == index || (w.column < 0 && same_text(w.name, name));
    });
    if (named) continue;
    const std::vector<int>& sorted = table.view.sort_fields;
    if (std::find(sorted.begin(), sorted.end(), index) != sorted.end()) {
      table.view.sort_order.reset();
      table.view.sort_fields.clear();
    }
    remove_computed_column(model, name);
  }
}

// Each column in turn moves to the next display position, the column there
// taking its old place; one placed before stays where it is. The placed
// columns are shown and every column after them hidden.
void place_columns(ColumnModel& model, const std::vector<int>& columns) {
  std::vector<int>& order = model.order;
  size_t placed = 0;
  for (int column : columns) {
    auto at = std::find(order.begin(), order.end(), column);
    if (at == order.end() || size_t(at - order.begin()) < placed) continue;
    std::iter_swap(order.begin() + long(placed), at);
    ++placed;
  }
  for (size_t k = 0; k < order.size(); ++k) model.flags[size_t(order[k])].visible = k < placed;
  model.shown = int(placed);
  model.fixed = std::min(model.fixed, model.shown);
}

void set_columns(Table& table, const std::vector<WantedColumn>& wanted) {
  drop_unnamed_computed(table, wanted);
  std::vector<int> columns;
  for (const WantedColumn& w : wanted) {
    int column = w.column >= 0 ? w.column : computed_column_for(table, w);
    if (column >= 0) columns.push_back(column);
  }
  place_columns(table.columns, columns);
}

// An ORDER BY text: the field list, ended by a whole word ASC or DESC,
// which also sets the direction.
std::string_view sort_list(std::string_view text, bool& descending) {
  for (size_t at = 0; at < text.size(); ++at) {
    for (std::string_view word : {"ASC", "DESC"}) {
      if (word_end(text, at, word) != kNone) {
        descending = word == "DESC";
        return text.substr(0, at);
      }
    }
  }
  return text;
}

// The ORDER BY names as the sort reads them: the statement's aliases become
// the names their columns were given; false with the name in `unknown` when
// one is no field, no column of the statement and no column kept.
bool resolve_sort_names(const Table& table, std::string_view list, const std::vector<WantedColumn>& wanted,
                        std::string& resolved, std::string& unknown) {
  for (std::string_view name : column_tokens(list)) {
    std::string found;
    for (const WantedColumn& w : wanted) {
      if (w.column < 0 && same_text(w.alias, name)) found = w.name;
      else if (w.column >= table.field_count() && same_text(column_name(table, w.column), name)) found = name;
    }
    if (found.empty() && find_field(table, name) >= 0) found = name;
    if (found.empty()) {
      unknown = std::string(name);
      return false;
    }
    resolved.append(resolved.empty() ? "" : ",").append(found);
  }
  return true;
}

struct SelectParts {
  std::string_view column_list;
  std::string_view table_name;
  bool has_where = false;
  std::string where;
  bool has_order = false;
  std::string_view order_by;
};

bool split_select(std::string_view body, SelectParts& parts) {
  Keyword from = find_keyword(body, 0, {"FROM"});
  if (!from.found()) return false;
  Keyword where = find_keyword(body, from.end, {"WHERE"});
  Keyword order = find_keyword(body, from.end, {"ORDER", "BY"});
  size_t name_end = std::min({where.begin, order.begin, body.size()});
  parts.column_list = body.substr(0, from.begin);
  parts.table_name = trimmed(body.substr(from.end, name_end - from.end));
  parts.has_where = where.found();
  if (parts.has_where) parts.where = braces_to_comparisons(trimmed(clause_text(body, where, order)));
  parts.has_order = order.found();
  if (parts.has_order) parts.order_by = clause_text(body, order, where);
  return true;
}

int end_walk(Table& table, ColumnModel& columns, RecordView& view, Status status, SqlRun& run) {
  table.columns = std::move(columns);
  table.view = std::move(view);
  run.status = status;
  return kSqlWalkEnded;
}

int run_select(Table* given, std::string_view body, SqlRun& run) {
  SelectParts parts;
  if (!split_select(body, parts)) return kSqlNoFrom;
  Table* table = given;
  if (!table) {
    run.opened = open_table(std::string(parts.table_name));
    if (!run.opened) return kSqlCannotOpen;
    table = run.opened.get();
  }
  std::vector<WantedColumn> wanted;
  if (!wanted_columns(*table, column_tokens(parts.column_list), wanted, run.detail)) return kSqlUnknownName;
  if (wanted.empty()) return kSqlNoColumns;
  if (parts.has_where && parts.where.find_first_of("<>=~") == std::string::npos) return kSqlNoComparison;
  bool descending = table->view.sort_descending;
  std::string sort_names;
  if (parts.has_order &&
      !resolve_sort_names(*table, sort_list(parts.order_by, descending), wanted, sort_names, run.detail)) {
    return kSqlUnknownName;
  }

  ColumnModel columns_before = table->columns;
  RecordView view_before = table->view;
  set_columns(*table, wanted);
  if (parts.has_where) {
    clear_filter(*table);
    Status status = apply_filter(*table, {FilterSource::kExpression, parts.where}, run.progress);
    if (status != Status::kOk) return end_walk(*table, columns_before, view_before, status, run);
  }
  if (parts.has_order) {
    table->view.sort_order.reset();
    table->view.sort_fields.clear();
    SortOptions options;
    options.descending = descending;
    Status status = sort_by_field_list(*table, sort_names, options, run.progress);
    if (status != Status::kOk) return end_walk(*table, columns_before, view_before, status, run);
  }
  return kSqlOk;
}

// One pair of quotes around the whole statement is dropped.
std::string_view unquoted(std::string_view statement) {
  if (statement.empty() || !is_quote(statement.front())) return statement;
  char quote = statement.front();
  statement.remove_prefix(1);
  if (!statement.empty() && statement.back() == quote) statement.remove_suffix(1);
  return statement;
}

}  // namespace

int sql_execute(Table* table, std::string_view statement, SqlRun& run) {
  std::string_view text = trimmed(unquoted(trimmed(statement)));
  constexpr std::string_view kSelect = "SELECT";
  if (text.size() >= kSelect.size() && same_text(text.substr(0, kSelect.size()), kSelect)) {
    return run_select(table, text.substr(kSelect.size()), run);
  }
  for (std::string_view word : {"INSERT", "UPDATE", "DELETE"}) {
    if (keyword_at(text, 0, {word}).found()) {
      run.detail = std::string(word);
      return kSqlChangesData;
    }
  }
  if (keyword_at(text, 0, {"CREATE", "TABLE"}).found()) {
    run.detail = "CREATE TABLE";
    return kSqlChangesData;
  }
  return kSqlUnknownStatement;
}

int sql_execute(Table* table, std::string_view statement, const ProgressCallback& progress) {
  SqlRun run;
  run.progress = progress;
  return sql_execute(table, statement, run);
}

}  // namespace kora
