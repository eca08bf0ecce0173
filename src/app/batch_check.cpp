#include "app/batch_check.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/status_text.h"
#include "table/dbf_file.h"
#include "table/field_write.h"
#include "table/table_cipher.h"
#include "table/text_code_page.h"
#include "tools/jsonl_export.h"
#include "tools/table_check.h"

namespace kora {

namespace {

// "AMOUNT (N 12.2)" in UTF-8, "" for the table as a whole.
std::string field_of(const Table& table, const CheckFinding& finding) {
  if (finding.field < 0) return "";
  std::string label = field_label(table, finding.field);
  return field_name_utf8(table, finding.field) + label.substr(std::min(label.find(" ("), label.size()));
}

// "3 records" and "1 record".
std::string counted(uint64_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// "2 records: 2, 5, ...": numbers as the program shows them, from 1.
std::string record_numbers(const CheckFinding& finding) {
  std::string text = counted(finding.count, "record") + ": ";
  for (size_t k = 0; k < finding.first.size(); ++k) text += (k ? ", " : "") + std::to_string(finding.first[k] + 1);
  return text + (finding.count > finding.first.size() ? ", ..." : "");
}

void print_text(const std::string& name, const Table& table, const TableCheck& check, std::FILE* out) {
  const char* where = name.c_str();
  uint64_t problems = 0;
  for (const CheckFinding& f : check.findings) {
    problems += f.count;
    if (!check_kind_has_records(f.kind)) {
      std::fprintf(out, "%s: header: %s: %s\n", where, check_kind_text(f.kind), f.detail.c_str());
      continue;
    }
    std::string field = field_of(table, f);
    std::fprintf(out, "%s: %s%s%s: %s\n", where, field.c_str(), field.empty() ? "" : ": ", check_kind_text(f.kind),
                 record_numbers(f).c_str());
  }
  std::string records = counted(check.records, "record");
  if (check.sound()) {
    std::fprintf(out, "%s: sound, %s checked\n", where, records.c_str());
  } else {
    std::fprintf(out, "%s: %s of %s in %s\n", where, counted(problems, "problem").c_str(),
                 counted(check.findings.size(), "kind").c_str(), records.c_str());
  }
}

std::string json_string(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

std::string json_table(const std::string& name, const Table& table, const TableCheck& check) {
  std::string out = "{\"table\":" + json_string(name) + ",\"status\":\"";
  out += check.sound() ? "sound" : "problems";
  out += "\",\"records_checked\":" + std::to_string(check.records) + ",\"problems\":[";
  for (size_t k = 0; k < check.findings.size(); ++k) {
    const CheckFinding& f = check.findings[k];
    out += k ? ",{" : "{";
    out += "\"kind\":";
    out += json_string(check_kind_name(f.kind));
    out += ",\"field\":";
    out += f.field < 0 ? std::string("null") : json_string(field_name_utf8(table, f.field));
    out += ",\"count\":";
    out += std::to_string(f.count);
    out += ",\"records\":[";
    for (size_t r = 0; r < f.first.size(); ++r) {
      if (r) out += ',';
      out += std::to_string(f.first[r] + 1);
    }
    out += "]";
    if (!f.detail.empty()) {
      out += ",\"detail\":";
      out += json_string(f.detail);
    }
    out += "}";
  }
  return out + "]}";
}

// One table: its status, what it printed or added to the JSON.
int check_one(const std::string& name, bool json, std::string& json_out, std::FILE* out, std::FILE* err) {
  OpenFailure why;
  std::unique_ptr<Table> table = open_table_read_only(name, &why);
  TableCheck check;
  const char* password = std::getenv("KORA_PASSWORD");
  if (table) {
    decide_code_page(*table, 0);
    if (password && *password) set_table_password(*table, password);
    check = check_table(*table);
  }
  if (!table || check.status != Status::kOk) {
    std::string cause = table ? "cannot read it: " + std::string(status_cause_text(check.status)) : open_failure_text(why);
    std::fprintf(err, "kora: %s: %s\n", name.c_str(), cause.c_str());
    if (json) json_out += "{\"table\":" + json_string(name) + ",\"status\":\"unreadable\",\"error\":" + json_string(cause) + "}";
    return kCheckUnreadable;
  }
  // Records read without their password (or under a wrong one) begin with noise.
  bool all_noise = std::any_of(check.findings.begin(), check.findings.end(), [&](const CheckFinding& f) {
    return f.kind == CheckKind::kDeletionFlag && f.count == check.records;
  });
  if (all_noise) {
    std::fprintf(err, "kora: %s: no deletion flag is a blank or *: if the table is encoded, give its password in "
                      "KORA_PASSWORD\n", name.c_str());
  }
  if (json) {
    json_out += json_table(name, *table, check);
  } else {
    print_text(name, *table, check, out);
  }
  return check.sound() ? kCheckSound : kCheckProblems;
}

}  // namespace

int run_batch_check(const std::vector<std::string>& tables, bool json, std::FILE* out, std::FILE* err) {
  int worst = kCheckSound;
  std::string json_out = "{\"tables\":[";
  for (size_t k = 0; k < tables.size(); ++k) {
    if (k) json_out += ",";
    worst = std::max(worst, check_one(tables[k], json, json_out, out, err));
  }
  if (json) std::fprintf(out, "%s],\"status\":%d}\n", json_out.c_str(), worst);
  return worst;
}

}  // namespace kora
