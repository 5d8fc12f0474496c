#include "logic/profile_format.h"

#include <cstring>

namespace platform::profile {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// A line as offsets into the text: its content is [begin, content_end), its line break
// [content_end, end); the break is empty on a last line that has none.
struct Line {
  std::size_t begin = 0;
  std::size_t content_end = 0;
  std::size_t end = 0;
};

// Splits the text into lines in one pass. Both searches only move forward, so a text made
// of nothing but lone CRs or one endless line still takes linear time.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool next(Line& line) {
    if (pos_ >= text_.size()) return false;
    if (next_lf_ == std::string_view::npos || next_lf_ < pos_) {
      const void* lf = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
      next_lf_ =
          lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text_.data()) : text_.size();
    }
    line.begin = pos_;
    const void* cr = std::memchr(text_.data() + pos_, '\r', next_lf_ - pos_);
    if (cr) {
      line.content_end = static_cast<std::size_t>(static_cast<const char*>(cr) - text_.data());
      // CR LF is one break; a CR alone ends the line by itself.
      const bool crlf = line.content_end + 1 == next_lf_ && next_lf_ < text_.size();
      line.end = crlf ? next_lf_ + 1 : line.content_end + 1;
    } else {
      line.content_end = next_lf_;
      line.end = next_lf_ < text_.size() ? next_lf_ + 1 : next_lf_;
    }
    pos_ = line.end;
    return true;
  }

  std::string_view content(const Line& line) const {
    return text_.substr(line.begin, line.content_end - line.begin);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  // The next LF at or after pos_ (the text's size if none); npos before the first search.
  std::size_t next_lf_ = std::string_view::npos;
};

// The trimmed name between "[" and the first "]" when the line is a section header.
std::optional<std::string_view> section_name(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i == line.size() || line[i] != '[') return std::nullopt;
  const std::size_t close = line.find(']', i + 1);
  if (close == std::string_view::npos) return std::nullopt;
  return trim(line.substr(i + 1, close - i - 1));
}

// Splits a "key=value" line at its first "="; comments and headers are no key lines.
bool split_key_line(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return true;
}

bool quoted(std::string_view v) {
  return v.size() >= 2 && v.front() == '"' && v.back() == '"';
}

std::string value_as_read(std::string_view v) {
  if (quoted(v)) v = v.substr(1, v.size() - 2);
  return std::string(v.substr(0, v.find('\0')));
}

// The value as it is stored so that reading gives it back unchanged.
std::string stored_value(std::string_view v) {
  std::string out;
  const bool quote = quoted(v) || (!v.empty() && (is_blank(v.front()) || is_blank(v.back())));
  if (quote) out += '"';
  out += v;
  if (quote) out += '"';
  return out;
}

bool has_line_break_or_nul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> get(std::string_view text, std::string_view section,
                               std::string_view key) {
  section = trim(section);
  key = trim(key);
  LineReader lines(text);
  Line line;
  bool in_section = false;
  while (lines.next(line)) {
    const std::string_view content = lines.content(line);
    if (content.empty()) continue;
    if (const auto name = section_name(content)) {
      // Only the first section of that name counts.
      if (in_section) return std::nullopt;
      in_section = same_name(*name, section);
      continue;
    }
    std::string_view k, v;
    if (in_section && split_key_line(content, k, v) && same_name(k, key)) return value_as_read(v);
  }
  return std::nullopt;
}

std::optional<std::string> set(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value) {
  if (has_line_break_or_nul(section) || has_line_break_or_nul(key) || has_line_break_or_nul(value))
    return std::nullopt;
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty() || key.front() == ';') return std::nullopt;
  if (section.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  if (key.find_first_of("[]=") != std::string_view::npos) return std::nullopt;

  std::string key_line(key);
  key_line += '=';
  key_line += stored_value(value);

  LineReader lines(text);
  Line line;
  bool in_section = false;
  std::optional<Line> last_in_section;  // the section's last non-blank line
  Line final_line;
  while (lines.next(line)) {
    final_line = line;
    const std::string_view content = lines.content(line);
    if (content.empty()) continue;
    if (const auto name = section_name(content)) {
      if (in_section) break;
      in_section = same_name(*name, section);
      if (in_section) last_in_section = line;
      continue;
    }
    if (!in_section) continue;
    std::string_view k, v;
    if (split_key_line(content, k, v) && same_name(k, key)) {
      std::string out;
      out.reserve(text.size() + key_line.size());
      out.append(text.substr(0, line.begin));
      out += key_line;
      out.append(text.substr(line.content_end));
      return out;
    }
    if (!trim(content).empty()) last_in_section = line;
  }

  std::string out;
  out.reserve(text.size() + key_line.size() + section.size() + 12);
  if (last_in_section) {
    const Line& after = *last_in_section;
    out.append(text.substr(0, after.end));
    if (after.end == after.content_end) out += kLineBreak;
    out += key_line;
    out += kLineBreak;
    out.append(text.substr(after.end));
    return out;
  }
  // A new section goes at the end, set off from earlier text by a blank line.
  out.append(text);
  if (!text.empty()) {
    if (final_line.end == final_line.content_end) out += kLineBreak;
    if (!trim(text.substr(final_line.begin, final_line.content_end - final_line.begin)).empty())
      out += kLineBreak;
  }
  out += '[';
  out += section;
  out += ']';
  out += kLineBreak;
  out += key_line;
  out += kLineBreak;
  return out;
}

}  // namespace platform::profile
