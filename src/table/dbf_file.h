// The DBF file as kora reads and writes it: the 32-byte header, the 32-byte
// field descriptors, the open table handle and the list of open tables.
//
// A DBF file is a header at offset 0, one descriptor per field from offset 32,
// the byte 0x0D, then the records back to back from HeaderSize, each
// RecordSize bytes long, and one 0x1A after the last record. The engine works
// on the file directly: one seek and one read or write per record access.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/column_model.h"
#include "table/record_view.h"
#include "table/status.h"
#include "table/table_locks.h"

namespace kora {

constexpr int kMaxFields = 2048;            // descriptor slots examined on open
constexpr int kMaxTables = 100;             // tables open at the same time
constexpr int kRecordBufferSize = 65535;    // largest record and display text
constexpr int kDescriptorAreaSize = 65520;  // bytes of descriptors read on open
constexpr size_t kPathBufferSize = 260;     // the program's path buffers

// Bits of Table::header_errors, found on open.
enum HeaderError : int {
  kBadVersion = 1,
  kBadFieldTypes = 2,
  kBadRecordCount = 4,
  kBadHeaderSize = 8,  // the header size disagrees with where the field list ends
};
// What a header repair corrects; unknown field types are shown, not rewritten.
constexpr int kRepairableErrors = kBadVersion | kBadRecordCount | kBadHeaderSize;

// Bits of Table::odd_layout: layouts real writers produce that read soundly
// as they stand, so nothing about them is flagged or repaired.
enum OddLayout : int {
  // The one field's descriptor fills the 64-byte header: no 0x0D after it.
  kNoFieldTerminator = 1,
  // The header's count ends at an end mark 0x1A, and bytes follow it: a
  // writer cut the table without shortening the file.
  kBytesAfterEndMark = 2,
};

// The kind of table and memo file, derived from the version byte.
enum TableKind : int {
  kDBase3 = 0,
  kFoxPro = 1,
  kDBase4 = 2,
  kVisualFoxPro = 3,
  kSmtKind = 4,
};

// How the field descriptors lie in the file: 32 bytes each from offset 32
// (dBase III to Visual FoxPro), 48 bytes from offset 68 with 32-character
// names (dBase 7), or 16 bytes from offset 8 with the records from 521
// (dBase II).
enum class DescriptorLayout { kStandard, kDBase7, kDBase2 };

// Why a table refuses every change.
enum class ReadOnlyCause {
  kNone,
  kFile,            // the file could only be opened for reading
  kDBase2,          // a layout kora reads but does not write
  kUnknownVersion,  // a version byte no known program writes
  kHeaderSize,      // records would be written where the header misplaces them
  kLockedByOther,   // another program held a file lock on it when it was opened
  kIndexFile,       // the user chose not to edit a table whose index kora does not update
};

// One field descriptor as read from the file, whatever its layout. In memory
// `offset` holds the field's position within the record (the first field is
// at 1).
struct FieldDesc {
  char name[33] = {};  // NUL-padded; at most 10 characters, 32 in dBase 7
  char type = 0;       // type letter
  uint16_t offset = 0;
  uint8_t reserved1[2] = {};
  uint8_t length = 0;    // for type C the low byte of a 16-bit length
  uint8_t decimals = 0;  // for type C the high byte of the length
  uint8_t reserved2[14] = {};
};

// A field's bits in the null flags: whether the value is null, and (varchar
// and varbinary) whether it is shorter than the field, its length then being
// in the field's last byte; -1 where the field has none.
struct NullFlagBits {
  int null_bit = -1;
  int length_bit = -1;
};

// The 32-byte descriptor of dBase III to Visual FoxPro.
void decode_field_desc(const uint8_t* bytes, FieldDesc& desc);
void encode_field_desc(const FieldDesc& desc, uint8_t* bytes);

// Why a file did not open as a table: the cause and, where it helps, the
// place in the file ("byte 0 holds 0x74").
struct OpenFailure {
  Status status = Status::kOk;
  std::string detail;
};

struct OemAnsiTables;
class CodePage;
class UndoLog;
// Closes the undo log's file, leaving it on disk (close_table removes it).
struct UndoLogDeleter {
  void operator()(UndoLog* log) const;
};

// Hooks of the password encoding, called around every record and flag access.
// The record hooks transform `size` bytes of a record image in place, the
// table's own buffer or a bulk walk's chunk alike.
struct Table;
struct EncodingHooks {
  void (*after_read)(const Table& table, uint8_t* record, int ok, int size) = nullptr;
  void (*before_write)(const Table& table, uint8_t* record, int size) = nullptr;
  void (*after_read_flag)(Table& table, int ok) = nullptr;
  void (*before_write_flag)(Table& table) = nullptr;
};

// Options every table keeps its own copy of, taken from the settings when the
// table is added to the list or the settings change.
struct TableOptions {
  int date_format = 2;  // 0 as stored, 1 dd.mm.yyyy, 2 mm.dd.yyyy, 3 yyyy.mm.dd
  int memo_display = 0;  // 1 shows the block number instead of "Full memo"
  int trim_mode = 0;     // 0 none, 1 right, 2 left, 3 both
  int bak_mode = 0;      // 0 none, 1 beside the table, 2 in /tmp/
  char date_char = '.';
  bool separator = false;  // use date_char between date parts
  bool show_aliases = true;
  bool ignore_case = false;
  // Used when a table is added: the OEMAnsi setting (0 detect, 1 OEM, 2 ANSI)
  // and the configured code-page translation, none for the built-in one.
  int oem_ansi = 0;
  std::shared_ptr<const OemAnsiTables> xlat;
};

// One open table: the file and its per-table options. Allocated by
// open_table, freed by close_table; everything else holds a pointer or an
// index into the TableList. What only the screen needs (cursor, edit buffer,
// copied record, selection) the program keeps beside it.
struct Table {
  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table();

  // Files and header.
  int fd = -1;
  bool read_only = false;  // every change is refused; read_only_cause says why
  ReadOnlyCause read_only_cause = ReadOnlyCause::kNone;
  DescriptorLayout layout = DescriptorLayout::kStandard;
  // What the open did to finish a change that was interrupted, for the user.
  std::string recovery_note;
  int header_errors = 0;
  int odd_layout = 0;  // OddLayout bits found on open
  // Why a header repair may not write to this file, kOk when it may: the
  // descriptors do not read as a table's, or the record size disagrees.
  OpenFailure repair_refusal;
  std::string file_name;
  std::string memo_file_name;
  // The table has memo fields but its memo file could not be read on open.
  bool memo_missing = false;
  std::string header_file_name;
  std::string bak_file_name;
  TableKind kind = kDBase3;
  std::array<uint8_t, 32> header_bytes{};
  // The 32 header bytes as the file held them on open, for telling the user
  // what a repair would change.
  std::array<uint8_t, 32> stated_header{};
  // The version byte the file holds. A header write keeps it, whatever the
  // header in memory says, until the user chooses the repair that replaces it.
  uint8_t file_version = 0;
  uint32_t record_count = 0;  // authoritative; the header bytes are refreshed on write
  uint16_t header_size = 0;
  uint16_t record_size = 0;
  // Some writers leave a decimals byte on Character fields; when only the
  // 8-bit lengths agree with the header's record size, they are used.
  bool char_length_8bit = false;

  std::vector<FieldDesc> fields;
  int first_memo_field = -1;
  // Visual FoxPro's null flags: the system field that holds them (-1 none)
  // and, per field, its bits there (table/vfp_fields.h).
  int null_flags_field = -1;
  std::vector<NullFlagBits> null_bits;
  std::vector<std::string> aliases;  // one per field, at most 31 bytes
  ColumnModel columns;               // what the views show, fields and computed columns

  // Buffers. `record` and `text` hold kRecordBufferSize bytes and a NUL.
  std::vector<uint8_t> record;
  std::vector<char> text;
  uint8_t delete_flag = ' ';

  // View of the records: every view position goes through it.
  RecordView view;
  int view_mapping = 1;  // 0 while an operation works on physical numbers

  // Per-table options.
  int date_format = 2;
  int memo_display = 0;
  std::array<std::string, 4> date_formats;
  std::array<std::string, 4> date_time_formats;
  bool ansi_text = false;
  bool ignore_case = false;
  bool show_aliases = false;
  int trim_mode = 0;
  int bak_mode = 0;
  bool bak_done = false;
  std::string description;
  // The code page named by the .cpg file beside the table, as it stands
  // there; empty when there is none.
  std::string code_page_name;
  // The code page of the table's text, decided on opening (table/text_code_page.h);
  // none for a table opened outside the list.
  std::shared_ptr<const CodePage> code_page;
  // Conversions between code page 866 and Windows-1251 through the configured
  // translation; empty when the built-in one is used (table/code_page.h).
  std::function<std::string(std::string_view)> to_ansi_hook;
  std::function<std::string(std::string_view)> to_oem_hook;

  EncodingHooks encoding;
  // The changes made since the table was opened, for undo (table/undo_log.h).
  std::unique_ptr<UndoLog, UndoLogDeleter> undo;

  // The byte-range locks held on the file and whom to ask about them.
  HeldLocks locks;
  // The password's RC4 state (the permutation, then i and j) the hooks
  // start every record from; empty without a password (table/table_cipher.h).
  std::vector<uint8_t> cipher_state;

  int field_count() const { return int(fields.size()); }
  uint8_t version() const { return header_bytes[0]; }
  uint8_t code_page_mark() const { return header_bytes[29]; }
};

bool is_known_version(uint8_t version);
// The words for a read-only table's cause ("unknown version 0x05"),
// empty when it may be changed.
std::string read_only_reason(const Table& table);
TableKind table_kind_for_version(uint8_t version);
const char* table_kind_name(TableKind kind);
// The name of the table's own kind: its layout's where that says more.
const char* table_type_name(const Table& table);
bool is_known_type_letter(char type);

// Table lifetime. When the table cannot be opened, `why` (if given) says why.
// A change that a journal beside the table says was interrupted is finished
// or rolled back first (table/journal.h); without write access, or while
// such writes are forbidden, the table is refused instead (kInterrupted).
std::unique_ptr<Table> open_table(const std::string& path, Status* why = nullptr);
std::unique_ptr<Table> open_table(const std::string& path, OpenFailure* why);
void forbid_recovery_writes(bool forbidden);
// The same open for a look that has no right to change anything: the file
// is opened for reading only, and a table whose journal says a change was
// interrupted is refused (kInterrupted) rather than finished.
std::unique_ptr<Table> open_table_read_only(const std::string& path, OpenFailure* why);
void close_table(std::unique_ptr<Table>& table);
// Writes the header held in memory and the end-of-file byte; 0 when a write
// failed or the layout is one kora does not write (dBase II).
int write_header(Table& table);
// The file beside the table that keeps the header bytes a repair replaced.
std::string header_backup_name(const std::string& table_path);
// The header repair: refused (kNotATable, with `detail` saying why) unless
// the file reads as a table; otherwise the 32 header bytes about to be
// replaced are kept in header_backup_name() and the corrected header written.
Status repair_header(Table& table, std::string* detail = nullptr);
// What a repair would write, one sentence per correction ("The header says
// 100 records; the file holds 3. Write 3?"); empty when there is nothing.
std::vector<std::string> header_corrections(const Table& table);
int refresh_record_count(Table& table);

// How many records a file holds after a header of `header_size` bytes that
// says `stated`: the whole records its size gives (a cut last record and the
// end mark left out), except that a count ending exactly at an end mark 0x1A
// stands whatever follows the mark (stale bytes of a table cut without being
// shortened).
struct RecordCountReading {
  uint32_t count = 0;
  bool agrees = true;                 // the header's count is the count
  bool bytes_after_end_mark = false;  // the count stood at a mark with bytes after it
};
RecordCountReading read_record_count(int fd, uint32_t header_size, uint32_t record_size, uint32_t stated);
// Copies the options into the table, rewriting its date formats.
void apply_table_options(Table& table, const TableOptions& options);

// The list of open tables, in the order they were opened.
struct TableList {
  std::array<std::unique_ptr<Table>, kMaxTables> tables;
  int last = -1;  // index of the last table in use
  TableOptions options;  // given to every table added
  // Called with the path of every table newly added (the recent-files list).
  std::function<void(const std::string& path)> on_added;
  // Given to every table opened through the list: the questions on a lock
  // that cannot be had and before the first change (table/table_locks.h).
  LockAsker lock_asker;
  ChangeAsker first_change;

  Table* at(int index) const {
    return index >= 0 && index <= last ? tables[size_t(index)].get() : nullptr;
  }
};

// Index, -2 when the list is full, -3 when the file is not opened as a table;
// `why` (if given) names the cause. A file already open (the same device and
// inode, however its name is spelled) gives its index. The table keeps the
// path made absolute.
int add_table(TableList& list, const std::string& path, Status* why = nullptr);
int add_table(TableList& list, const std::string& path, OpenFailure* why);
int remove_table(TableList& list, int index);              // index to show next, -1 none
// The open table that is the file `path` names, by device and inode; -1 none.
int find_table(const TableList& list, const std::string& path);
// The path against the working directory, without "." parts and doubled
// slashes; left as it is when the working directory cannot be read.
std::string absolute_path(const std::string& path);
// Opens a table as add_table does (descriptions, aliases, options, code
// page) without putting it in the list: for a slot whose file changed.
std::unique_ptr<Table> open_list_table(const TableList& list, const std::string& path, Status* why = nullptr);
std::unique_ptr<Table> open_list_table(const TableList& list, const std::string& path, OpenFailure* why);

// The header-repair question. The asker shows the header_corrections()
// titled `kHeaderRepairTitle` with `kHeaderRepairButtons` and returns the
// button index (0 Correct, 1 Continue, 2 Cancel) or -1 for Esc.
constexpr const char* kHeaderRepairTitle = "Attention";
constexpr const char* kHeaderRepairButtons = "Correct\nContinue\nCancel";
using HeaderRepairAsker = std::function<int()>;

// 1 when the user cancelled (at start-up the caller ends the program), else 0.
// auto_correct: 0 ask, 1 or 2 write the corrected header without asking.
// A table whose repair is refused (repair_refusal), or that has nothing a
// repair corrects, is neither asked about nor written.
// A repair that was tried and failed is described in `failed` (if given).
int confirm_header_repair(Table& table, bool at_startup, int auto_correct, const HeaderRepairAsker& ask,
                          OpenFailure* failed = nullptr);

// Accessors. A column index at or above the field count denotes a computed
// column (see column_model.h); a display column is a position in the order.
char field_type(const Table& table, int i);
int field_length(const Table& table, int i);
int field_length_byte(const Table& table, int i);
int field_decimals(const Table& table, int i);
const FieldDesc* field_desc(const Table& table, int i);
std::string field_name(const Table& table, int i);
std::string column_name(const Table& table, int i);
int column_name_length(const Table& table, int i);
bool is_numeric_field(const Table& table, int i);
bool is_memo_field(const Table& table, int i);
// The visible columns: how many display columns the views show.
int column_count(const Table& table);
// Column index shown in display column i; -1 outside the order.
int column_field(const Table& table, int i);
// Display column i may not be edited (column setup).
bool column_read_only(const Table& table, int i);
int find_field(const Table& table, std::string_view name);
// Field names separated by ; , space, tab, CR or LF, or the exact names of
// computed columns; stops at the first unknown name, at most 20. Empty when
// the first name is unknown.
std::vector<int> parse_field_list(const Table& table, std::string_view text);

}  // namespace kora
