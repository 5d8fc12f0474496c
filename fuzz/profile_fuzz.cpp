// Reads and writes of profile (ini) text: the input is split into a few names and a value,
// the rest is the text. A write must read back, touch no other line, be idempotent and
// leave every other key reading as before.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "logic/profile_format.h"

namespace profile = platform::profile;

namespace {

constexpr std::string_view kBlanks = " \t\v\f";
constexpr std::string_view kBreakOrNul("\r\n\0", 3);

std::string_view trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// What set refuses: names that are empty or would not stay one name on one line, a key
// that would read as a comment, a value that would add lines.
bool refused(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) {
    return s.find_first_of(kBreakOrNul) != std::string_view::npos;
  };
  if (breaks(section) || breaks(key) || breaks(value)) return true;
  section = trim(section);
  key = trim(key);
  if (section.empty() || key.empty() || key.front() == ';') return true;
  return section.find_first_of("[]") != std::string_view::npos ||
         key.find_first_of("[]=") != std::string_view::npos;
}

void check_read(const std::optional<std::string>& value) {
  if (value) FUZZ_CHECK(value->find('\0') == std::string::npos);
}

// Rough section and key names found in the text, to see that a write leaves them alone.
void collect_names(std::string_view text, std::vector<std::string_view>& sections,
                   std::vector<std::string_view>& keys) {
  constexpr std::size_t kMaxEach = 4;
  while (!text.empty() && (sections.size() < kMaxEach || keys.size() < kMaxEach)) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t open = line.find('[');
    const std::size_t close = line.find(']', open == std::string_view::npos ? 0 : open);
    if (open != std::string_view::npos && close != std::string_view::npos) {
      if (sections.size() < kMaxEach) sections.push_back(line.substr(open + 1, close - open - 1));
    } else if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
      if (keys.size() < kMaxEach) keys.push_back(line.substr(0, eq));
    }
  }
}

// Every byte the write removed lies within one line's content, a missing key is only
// added, and every line break added is CR LF.
void check_only_key_line_changed(std::string_view before, std::string_view after,
                                 bool key_existed) {
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    ++tail;
  const std::string_view removed = before.substr(head, before.size() - head - tail);
  FUZZ_CHECK(removed.find_first_of("\r\n") == std::string_view::npos);
  if (!key_existed) FUZZ_CHECK(removed.empty());
  for (std::size_t i = head; i < after.size() - tail; ++i) {
    if (after[i] == '\n') FUZZ_CHECK(i > 0 && after[i - 1] == '\r');
    if (after[i] == '\r') FUZZ_CHECK(i + 1 < after.size() && after[i + 1] == '\n');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string section = provider.ConsumeRandomLengthString(32);
  const std::string key = provider.ConsumeRandomLengthString(32);
  const std::string value = provider.ConsumeRandomLengthString(4096);
  const std::string other_section = provider.ConsumeRandomLengthString(16);
  const std::string other_key = provider.ConsumeRandomLengthString(16);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  const std::optional<std::string> old_value = profile::get(text, section, key);
  check_read(old_value);
  check_read(profile::get(text, other_section, other_key));

  const std::optional<std::string> written = profile::set(text, section, key, value);
  FUZZ_CHECK(written.has_value() != refused(section, key, value));
  if (!written) return 0;

  // Any bytes, however many, read back as they were written.
  FUZZ_CHECK(profile::get(*written, section, key) == value);
  FUZZ_CHECK(profile::set(*written, section, key, value) == written);
  check_only_key_line_changed(text, *written, old_value.has_value());

  std::vector<std::string_view> sections{section, other_section};
  std::vector<std::string_view> keys{key, other_key};
  collect_names(text, sections, keys);
  for (const std::string_view s : sections) {
    for (const std::string_view k : keys) {
      if (same_name(s, section) && same_name(k, key)) continue;
      FUZZ_CHECK(profile::get(text, s, k) == profile::get(*written, s, k));
    }
  }
  return 0;
}
