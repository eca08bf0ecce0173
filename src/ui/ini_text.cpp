#include "ui/ini_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kora {
namespace {

// A file larger than this is not a configuration file.
constexpr size_t kMaxIniBytes = size_t(16) << 20;

unsigned char lower_ascii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Whether line begins with prefix, ignoring the case of ASCII letters.
bool begins_with(const std::string& line, const char* prefix) {
  size_t n = strlen(prefix);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (lower_ascii(static_cast<unsigned char>(line[i])) != lower_ascii(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

std::string header_text(const char* section) { return std::string("[") + section + "]"; }

// Index of the section's header line, or -1.
int find_section(const IniText& ini, const char* section) {
  const std::string header = header_text(section);
  for (size_t i = 0; i < ini.lines.size(); ++i) {
    if (begins_with(ini.lines[i].text, header.c_str())) return static_cast<int>(i);
  }
  return -1;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Where the value of a line holding the key's whole name starts; npos when
// the line is another key's.
size_t value_start(const std::string& text, const char* key) {
  if (!begins_with(text, key)) return std::string::npos;
  size_t at = strlen(key);
  while (at < text.size() && is_blank(text[at])) ++at;
  if (at == text.size()) return at;
  if (text[at] != '=') return std::string::npos;
  bool spaced = at > strlen(key);
  ++at;
  while (spaced && at < text.size() && is_blank(text[at])) ++at;
  return at;
}

// Index of the key's line in the section whose header is at `header`, or -1.
int find_key(const IniText& ini, int header, const char* key) {
  for (size_t i = size_t(header) + 1; i < ini.lines.size(); ++i) {
    const std::string& text = ini.lines[i].text;
    if (!text.empty() && text[0] == '[') return -1;
    if (!text.empty() && text[0] == ';') continue;
    if (value_start(text, key) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

// The key's line and where its value starts; null when there is none.
const std::string* find_value(const IniText& ini, const char* section, const char* key, size_t& start,
                              int* line = nullptr) {
  int header = find_section(ini, section);
  if (header < 0) return nullptr;
  int at = find_key(ini, header, key);
  if (at < 0) return nullptr;
  const std::string& text = ini.lines[size_t(at)].text;
  start = value_start(text, key);
  if (line) *line = size_t(at) < ini.file_lines.size() ? ini.file_lines[size_t(at)] : at + 1;
  return &text;
}

// Reads digits in the given base; false when there are none or the number
// does not fit in 32 bits.
bool parse_number(const char* text, int base, int& out) {
  errno = 0;
  char* end = nullptr;
  if (base == 16) {
    unsigned long long value = strtoull(text, &end, 16);
    if (end == text || errno != 0 || value > 0xFFFFFFFFull || text[0] == '-' || text[0] == '+') return false;
    out = static_cast<int>(static_cast<unsigned>(value));
    return true;
  }
  long long value = strtoll(text, &end, 10);
  if (end == text || errno != 0 || value < -2147483648LL || value > 2147483647LL) return false;
  out = static_cast<int>(value);
  return true;
}

bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool read_all(int fd, std::string& bytes) {
  char block[8192];
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes.size() + size_t(n) > kMaxIniBytes) return false;
    bytes.append(block, size_t(n));
  }
}

}  // namespace

std::vector<TextLine> ini_split(const std::string& bytes) {
  std::vector<TextLine> lines;
  size_t from = 0;
  while (from < bytes.size()) {
    size_t end = bytes.find('\n', from);
    if (end == std::string::npos) end = bytes.size();
    TextLine line{bytes.substr(from, end - from), kLineEndLf};
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.line_end = kLineEndCr;
    }
    if (!line.text.empty()) lines.push_back(std::move(line));
    from = end + 1;
  }
  if (lines.empty()) lines.push_back(TextLine{std::string(), kLineEndLf});
  return lines;
}

std::unique_ptr<IniText> ini_open(const std::string& path, bool write_intent) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && write_intent) {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (fd < 0) return nullptr;
  std::string bytes;
  bool ok = read_all(fd, bytes);
  close(fd);
  if (!ok) return nullptr;
  auto ini = std::make_unique<IniText>();
  ini->path = path;
  ini->lines = ini_split(bytes);
  // The file's line of each kept line (blank ones are dropped).
  int number = 0;
  for (size_t from = 0; from < bytes.size();) {
    size_t end = bytes.find('\n', from);
    if (end == std::string::npos) end = bytes.size();
    ++number;
    bool blank = end == from || (end == from + 1 && bytes[from] == '\r');
    if (!blank) ini->file_lines.push_back(number);
    from = end + 1;
  }
  return ini;
}

int ini_get_int(const char* section, const char* key, int default_value, const IniText& ini) {
  size_t start = 0;
  int file_line = 0;
  const std::string* line = find_value(ini, section, key, start, &file_line);
  if (line == nullptr) return default_value;
  // The value runs to the end of the line; a NUL byte inside ends it too.
  const std::string value = line->substr(start);
  int number = default_value;
  bool read = value.size() >= 2 && value[0] == '0' && value[1] == 'x' ? parse_number(value.c_str() + 2, 16, number)
                                                                      : parse_number(value.c_str(), 10, number);
  if (read) return number;
  std::string problem = "line ";
  problem += std::to_string(file_line);
  problem += ": ";
  problem += *line;
  problem += " is not a number";
  ini.unreadable.push_back(std::move(problem));
  return default_value;
}

std::string ini_get_str(const char* section, const char* key, const char* default_value, int max_len,
                        const IniText& ini) {
  const size_t limit = max_len > 0 ? size_t(max_len) : 0;
  std::string result = default_value != nullptr ? default_value : "";
  if (result.size() > limit) result.resize(limit);
  size_t start = 0;
  const std::string* line = find_value(ini, section, key, start);
  if (line == nullptr) return result;
  result = line->substr(start, limit);
  if (!result.empty() && (result.back() == '\r' || result.back() == '\n')) result.pop_back();
  return result;
}

void ini_set_int(const char* section, const char* key, int value, IniText& ini) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  ini_set_str(section, key, text, ini);
}

void ini_set_str(const char* section, const char* key, const char* value, IniText& ini) {
  // A value never spans lines: it ends at its first line break.
  std::string key_line = std::string(key) + "=";
  if (value != nullptr) key_line.append(value, strcspn(value, "\r\n"));
  int header = find_section(ini, section);
  if (header >= 0) {
    int at = find_key(ini, header, key);
    if (at >= 0) {
      ini.lines[size_t(at)].text = std::move(key_line);
      return;
    }
    ini.lines.insert(ini.lines.begin() + header + 1, TextLine{std::move(key_line), kLineEndCr});
    return;
  }
  ini.lines.push_back(TextLine{";", kLineEndCr});
  ini.lines.push_back(TextLine{header_text(section), kLineEndCr});
  ini.lines.push_back(TextLine{std::move(key_line), kLineEndCr});
}

int ini_save(const IniText& ini) {
  std::string bytes;
  for (const TextLine& line : ini.lines) {
    bytes += line.text;
    bytes += "\r\n";
  }
  // Only a file we may write is replaced: a read-only one stays as it was.
  int fd = open(ini.path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat info {};
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!regular) {
    close(fd);
    return 0;
  }
  // The new text goes into a file beside it that then takes its place, so
  // that a failed write (a full disk) leaves the old text whole.
  // A link is written through in place, so that it stays a link.
  struct stat link_info {};
  const bool is_link = lstat(ini.path.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode);
  std::string temp = ini.path + ".XXXXXX";
  int temp_fd = is_link ? -1 : mkstemp(temp.data());
  if (temp_fd >= 0) {
    bool ok = fchmod(temp_fd, info.st_mode & 07777) == 0 && write_all(temp_fd, bytes);
    ok = close(temp_fd) == 0 && ok;
    if (ok && rename(temp.c_str(), ini.path.c_str()) == 0) {
      close(fd);
      return 1;
    }
    unlink(temp.c_str());
  }
  // No second file can be made in the folder: write in place.
  bool ok = ftruncate(fd, 0) == 0 && write_all(fd, bytes);
  ok = close(fd) == 0 && ok;
  return ok ? 1 : 0;
}

void ini_close(std::unique_ptr<IniText>& ini) { ini.reset(); }

}  // namespace kora
