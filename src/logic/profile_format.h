// The text of a profile (ini) file, read and changed one key at a time the way the
// Windows profile functions do it. No file access here: the back end hands in the file's
// bytes and stores what comes back.
//
// Lines end in CR LF, LF or a lone CR. "[name]" starts a section, ";" starts a comment,
// "key=value" is a key; section names, keys and values are trimmed of blanks and names
// match without regard to ASCII case. The first matching section, and the first matching
// key in it, win. Every line a write does not replace is kept byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform::profile {

// Longest profile file the back ends read; a larger one is read as if it ended here. No
// value can be longer.
constexpr std::size_t kMaxFileBytes = std::size_t{16} * 1024 * 1024;

// The key's value: trimmed, one pair of surrounding double quotes removed, cut at the first
// NUL. Its bytes are otherwise given back as they stand, however long and whether or not
// they are UTF-8: a stored path must lead to the same file. Nothing when the section or
// the key is missing.
std::optional<std::string> get(std::string_view text, std::string_view section,
                               std::string_view key);

// The text with key set to value: the key's line is replaced where it stands, a missing key
// is added after the last non-blank line of its section, a missing section is added at the
// end. Added lines end in CR LF. A value that would not read back as it is (blanks at
// either end, or surrounding quotes) is written inside double quotes. Nothing when the
// names are empty or contain a line break, NUL, "[" or "]" (the key also "=", or a
// leading ";", which would read back as a comment), or the value contains a line break or
// NUL.
std::optional<std::string> set(std::string_view text, std::string_view section,
                               std::string_view key, std::string_view value);

}  // namespace platform::profile
