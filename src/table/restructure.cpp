#include "table/restructure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "table/batch_appender.h"
#include "table/byte_order.h"
#include "table/field_write.h"
#include "table/file_io.h"
#include "table/header_file.h"
#include "table/journal.h"
#include "table/memo_file.h"
#include "table/pending_file.h"
#include "table/record_scanner.h"
#include "table/value_codec.h"
#include "table/vfp_fields.h"

namespace kora {

namespace {

constexpr uint8_t kProductionIndex = 0x01;  // table flags: a structural index exists
constexpr uint8_t kHasMemo = 0x02;          // table flags (Visual FoxPro): memo fields exist

// How one new field gets its value from the old record.
enum class Copy {
  kNone,        // a new field: blank
  kBytes,       // the same type and width: the bytes as they are
  kBlock,       // memo to memo: the block number
  kMemoText,    // memo to another type: the memo's text
  kToMemo,      // another type to memo: its text as a new memo
  kValue,       // the display text and number, stored by the new type
};

struct FieldPlan {
  Copy copy = Copy::kNone;
  int source = -1;
};

std::string real_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string replace_extension(const std::string& path, const char* extension) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  size_t end = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? dot : path.size();
  return path.substr(0, end) + extension;
}

std::vector<FieldPlan> plan_copy(const Table& table, const Table& out, const std::vector<StructureField>& fields) {
  std::vector<FieldPlan> plan(fields.size());
  for (size_t j = 0; j < fields.size(); ++j) {
    int s = fields[j].source;
    plan[j].source = s;
    if (s < 0) continue;
    const FieldDesc& from = table.fields[size_t(s)];
    const FieldDesc& to = out.fields[j];
    // The new null flags are set field by field (copy_null_flags).
    if (int(j) == out.null_flags_field) continue;
    bool memo_from = is_memo_field(table, s);
    bool memo_to = is_memo_field(out, int(j));
    if (from.type == to.type && from.length == to.length && from.decimals == to.decimals) {
      plan[j].copy = Copy::kBytes;
    } else if (memo_from) {
      plan[j].copy = memo_to ? Copy::kBlock : Copy::kMemoText;
    } else {
      plan[j].copy = memo_to ? Copy::kToMemo : Copy::kValue;
    }
  }
  return plan;
}

bool writes_memos(const std::vector<FieldPlan>& plan) {
  return std::any_of(plan.begin(), plan.end(), [](const FieldPlan& p) { return p.copy == Copy::kToMemo; });
}

// The bytes of a file copied into the pending file.
Status copy_file_into(const std::string& path, PendingFile& into) {
  int fd = file_open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return status_from_open_errno(errno);
  std::vector<char> buffer(1 << 20);
  uint64_t at = 0;
  Status status = Status::kOk;
  for (;;) {
    ssize_t got = file_read_at(fd, buffer.data(), buffer.size(), at);
    if (got < 0) status = Status::kReadError;
    if (got <= 0) break;
    status = into.write_at(at, buffer.data(), size_t(got));
    if (status != Status::kOk) break;
    at += uint64_t(got);
  }
  ::close(fd);
  return status;
}

// The old table kept under `bak`: a second name for its file where the
// folder allows, else a copy; either replaces an older backup in one rename.
Status keep_backup(Journal& journal, const std::string& table_path, const std::string& target, const std::string& bak,
                   mode_t mode) {
  {
    PendingFile name;
    if (begin_file_swap(journal, table_path, {{&name, bak, &mode}}) == Status::kOk && name.flush() == Status::kOk) {
      file_unlink(name.path());
      if (file_link(target, name.path())) return name.commit(Placement::kReplace);
    }
  }
  PendingFile copy;
  if (Status s = begin_file_swap(journal, table_path, {{&copy, bak, &mode}}); s != Status::kOk) return s;
  if (Status s = copy_file_into(target, copy); s != Status::kOk) return s;
  return copy.commit(Placement::kReplace);
}

// The block number stored into a memo field of the new record.
bool store_block(Table& out, int j, long block) {
  const FieldDesc& desc = out.fields[size_t(j)];
  uint8_t* at = out.record.data() + desc.offset;
  int width = desc.length | (desc.decimals << 8);
  if (width == 4) {
    put_le32(at, uint32_t(block));
    return true;
  }
  char text[32];
  int n = std::snprintf(text, sizeof text, "%*ld", desc.length, block);
  if (n != desc.length) return false;
  std::memcpy(at, text, size_t(n));
  return true;
}

// Stores a text into a field that is no memo field; false when it did not
// fit. A Character field made shorter keeps what fits of a longer text,
// which still counts as not fitting.
bool store_text(Table& out, int j, const std::string& text) {
  size_t used = text.find_last_not_of(' ');
  size_t length = used == std::string::npos ? 0 : used + 1;
  if (field_type(out, j) == 'C' && length > size_t(field_length(out, j))) {
    set_field_text(out, j, std::string_view(text).substr(0, size_t(field_length(out, j))));
    return false;
  }
  return set_field_text(out, j, text) == FieldWrite::kStored;
}

bool is_blank_value(const Table& table, RecordImage image, int s, const std::string& text) {
  char type = field_type(table, s);
  if (type == 'D' || type == 'T') return is_date_blank(table, image, s);
  return text.find_first_not_of(' ') == std::string::npos;
}

// Fills the new record's field j from the old record; false when the value
// did not fit. A failed memo write ends the run through the appender.
bool copy_value(Table& table, RecordImage image, Table& out, int j, const FieldPlan& plan, BatchAppender& appender) {
  int s = plan.source;
  switch (plan.copy) {
    case Copy::kNone: return true;
    case Copy::kBytes: {
      const FieldDesc& from = table.fields[size_t(s)];
      std::memcpy(out.record.data() + out.fields[size_t(j)].offset, image.data() + from.offset,
                  size_t(field_length(table, s)));
      return true;
    }
    case Copy::kBlock: {
      long block = memo_block_number(table, s);
      return block <= 0 || store_block(out, j, block);
    }
    case Copy::kMemoText: {
      std::string text;
      read_memo(table, s, text, true);
      if (text.empty()) return true;
      return store_text(out, j, text);
    }
    case Copy::kToMemo:
    case Copy::kValue: {
      std::string text = field_text(table, image, s);
      if (is_blank_value(table, image, s, text)) return true;
      if (plan.copy == Copy::kToMemo) {
        text.erase(text.find_last_not_of(' ') + 1);  // the field's padding is no part of the text
        appender.write_memo(out.record.data(), j, text);
        return true;
      }
      // Into another type the value goes in its exact form (every digit, a
      // date's stored digits), into a Character field as it is shown.
      if (field_type(out, j) != 'C' && field_type(table, s) != 'C') text = field_value_text(table, image, s);
      return store_text(out, j, text);
    }
  }
  return true;
}

// Puts back what the run borrows from the old table.
struct BorrowedState {
  Table& table;
  int trim_mode;
  std::vector<uint8_t> record;
  explicit BorrowedState(Table& t) : table(t), trim_mode(t.trim_mode), record(t.record) { t.trim_mode = 0; }
  ~BorrowedState() {
    table.trim_mode = trim_mode;
    table.record = std::move(record);
  }
};

// The null bits and varchar lengths of the new record, from the old one's:
// the bits of a field move with it, wherever the new structure puts it.
void copy_null_flags(const Table& table, RecordImage image, Table& out, const std::vector<FieldPlan>& plan) {
  if (out.null_flags_field < 0) return;
  size_t size = out.record.size();
  for (size_t j = 0; j < plan.size(); ++j) {
    int s = plan[j].source;
    if (s < 0) continue;
    set_field_null(out, out.record.data(), size, int(j), is_null_field(table, image, s));
    if (plan[j].copy == Copy::kBytes && is_variable_field(out, int(j)))
      set_value_length(out, out.record.data(), size, int(j), value_length(table, image, s));
  }
}

// Copies every record into `out`; the losses per new field go to `report`.
Status copy_records(Table& table, Table& out, const std::vector<FieldPlan>& plan, const ProgressCallback& progress,
                    RestructureReport& report) {
  BorrowedState borrowed(table);
  // The view's order is kept only when the view holds every record.
  bool view_order = !table.view.visible_list && (table.view.sort_order || table.view.reverse);
  report.kept_view_order = view_order;
  RecordScanner scan(table, view_order ? ScanOrder::kView : ScanOrder::kPhysical, progress);
  BatchAppender appender(out, kAppendChunkBytes, false);
  std::vector<FieldLoss> losses(plan.size());
  ScannedRecord r;
  size_t size = table.record_size;
  while (appender.status() == Status::kOk && scan.next(r)) {
    RecordImage image(r.image, size);
    std::memcpy(table.record.data(), r.image, size);  // memo reads go through the table's record
    blank_record(out);
    out.record[0] = r.image[0];
    for (size_t j = 0; j < plan.size(); ++j) {
      if (copy_value(table, image, out, int(j), plan[j], appender)) continue;
      if (losses[j].count++ == 0) losses[j].first_record = r.record;
    }
    copy_null_flags(table, image, out, plan);
    appender.append(out.record.data());
  }
  Status finished = appender.finish();
  if (scan.status() != Status::kOk) return scan.status();
  if (finished != Status::kOk) return finished;
  report.records = appender.appended();
  for (size_t j = 0; j < losses.size(); ++j) {
    if (losses[j].count == 0) continue;
    losses[j].field = int(j);
    report.losses.push_back(losses[j]);
  }
  return Status::kOk;
}

// The header of the new table: bytes 12..31 (reserved bytes, flags, code
// page) from the old one, without the index flag, since no index is rebuilt.
void carry_header(const Table& table, NewTableLayout& layout) {
  std::copy(table.header_bytes.begin() + 12, table.header_bytes.end(), layout.bytes.begin() + 12);
  uint8_t& flags = layout.bytes[28];
  flags = uint8_t(flags & ~kProductionIndex);
  if (is_visual_foxpro_version(layout.bytes[0])) flags = uint8_t(layout.has_memo ? flags | kHasMemo : flags & ~kHasMemo);
}

}  // namespace

TableKind restructure_kind(const Table& table, const std::vector<FieldDesc>& fields, TableKind kind_without_memo) {
  // A Visual FoxPro table (autoincrement and varchar ones among them) stays
  // one while it has memo fields or fields of its own types.
  uint8_t version = table.version();
  if (version >= 0x30 && version <= 0x32) {
    NewTableLayout layout = new_table_layout(fields, kVisualFoxPro);
    if (is_visual_foxpro_version(layout.bytes[0])) return kVisualFoxPro;
  }
  return table.first_memo_field >= 0 ? table.kind : kind_without_memo;
}

std::string loss_text(const RestructureReport& report, const std::vector<StructureField>& fields) {
  if (report.losses.empty()) return {};
  const FieldLoss& loss = report.losses.front();
  std::string name = loss.field >= 0 && size_t(loss.field) < fields.size() ? desc_name(fields[size_t(loss.field)].desc)
                                                                           : std::string();
  char text[160];
  std::snprintf(text, sizeof text, "%s: %u value%s did not fit, the first in record %u", name.c_str(), loss.count,
                loss.count == 1 ? "" : "s", loss.first_record + 1);
  return text;
}

Status restructure(Table& table, const std::vector<StructureField>& fields, const RestructureOptions& options,
                   RestructureReport* report) {
  RestructureReport local;
  RestructureReport& result = report ? *report : local;
  result = RestructureReport{};
  if (table.read_only) return Status::kReadOnly;
  if (table.fd < 0 || table.record_size == 0) return Status::kCannotOpen;
  // Only the 32-byte descriptors are written: dBase 7's long names and
  // binary forms would not survive.
  if (table.layout != DescriptorLayout::kStandard) return Status::kInvalidStructure;
  std::vector<FieldDesc> descs = descriptors_of(fields);
  TableKind kind = restructure_kind(table, descs, options.kind_without_memo);
  if (!check_structure(descs, kind).ok()) return Status::kInvalidStructure;
  for (const StructureField& field : fields) {
    if (field.source >= table.field_count()) return Status::kInvalidStructure;
  }

  // A table reached through a symbolic link is replaced where it lies.
  std::string target = real_path(table.file_name);
  struct stat info;
  if (fstat(table.fd, &info) != 0) return Status::kReadError;
  mode_t mode = info.st_mode;

  NewTableLayout layout = new_table_layout(descs, kind);
  carry_header(table, layout);
  // The journal names every new file before it is made, so that an open
  // after a kill removes them, or finishes the renames once they are whole.
  Journal journal;
  PendingFile dbf;
  if (Status s = begin_file_swap(journal, table.file_name, {{&dbf, target, &mode}}); s != Status::kOk) return s;
  if (Status s = dbf.write_at(0, layout.bytes.data(), layout.bytes.size()); s != Status::kOk) return s;
  Status why = Status::kOk;
  std::unique_ptr<Table> out = open_table(dbf.path(), &why);
  if (!out) return why == Status::kOk ? Status::kCannotOpen : why;
  out->date_format = table.date_format;
  out->date_formats = table.date_formats;
  out->date_time_formats = table.date_time_formats;
  out->encoding = table.encoding;
  std::vector<FieldPlan> plan = plan_copy(table, *out, fields);

  // The memo file: the old one serves block numbers copied as they are; new
  // texts go into a copy of it (or a new one), which replaces it at the end.
  PendingFile memo;
  std::string memo_target;
  if (layout.has_memo) {
    // Named as kora will look for it from the table's path; a link is
    // followed, as for the table.
    memo_target = real_path(layout.kind == table.kind && !table.memo_file_name.empty()
                                ? table.memo_file_name
                                : memo_file_name(table.file_name, layout.kind));
    out->memo_file_name = memo_target;
    for (const std::string& open : options.open_files) {
      if (!same_file(memo_target, table.memo_file_name) && same_file(memo_target, open)) return Status::kFileInUse;
    }
    struct stat memo_info;
    bool exists = stat(memo_target.c_str(), &memo_info) == 0;
    if (!exists || writes_memos(plan)) {
      mode_t memo_mode = exists ? memo_info.st_mode : mode;
      if (Status s = begin_file_swap(journal, table.file_name, {{&memo, memo_target, &memo_mode}}); s != Status::kOk)
        return s;
      Status filled = Status::kInvalidStructure;
      if (exists) {
        filled = copy_file_into(memo_target, memo);
      } else {
        std::vector<uint8_t> header = memo_header_bytes(layout.kind, options.block_size);
        if (!header.empty()) filled = memo.write_at(0, header.data(), header.size());
      }
      if (filled != Status::kOk) return filled;
      out->memo_file_name = memo.path();
    }
  }

  if (Status s = copy_records(table, *out, plan, options.progress, result); s != Status::kOk) return s;
  out.reset();
  if (Status s = dbf.flush(); s != Status::kOk) return s;
  if (memo.fd() >= 0) {
    if (Status s = memo.flush(); s != Status::kOk) return s;
  }
  if (!result.losses.empty() && options.keep_with_losses && !options.keep_with_losses(result)) {
    return Status::kAborted;
  }

  // The backup: the table's own backup name, unless that is the table itself.
  std::string bak = table.bak_file_name.empty() ? replace_extension(target, ".bak") : table.bak_file_name;
  if (bak == target || bak == table.file_name || same_file(bak, target)) bak = target + ".bak";
  for (const std::string& open : options.open_files) {
    if (same_file(bak, open)) return Status::kFileInUse;
  }
  if (Status s = keep_backup(journal, table.file_name, target, bak, mode); s != Status::kOk) return s;
  result.bak_file_name = bak;

  std::vector<PendingFile*> files = {&dbf};
  if (!memo_target.empty() && !memo.path().empty()) files.insert(files.begin(), &memo);
  if (Status s = commit_file_swap(journal, files); s != Status::kOk) return s;

  std::vector<int> sources;
  for (const StructureField& field : fields) sources.push_back(field.source);
  if (!table.header_file_name.empty()) result.aliases_kept = remap_header_file(table.header_file_name, sources) == 1;
  return Status::kOk;
}

}  // namespace kora
