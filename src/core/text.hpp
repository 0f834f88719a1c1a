#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvo::text {

bool is_valid_utf8(std::string_view bytes);

// The bytes read as UTF-8, each invalid sequence (maximal subpart) replaced
// by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// The text form of a path: its bytes, decoded lossily.
inline std::string display(const std::filesystem::path& path) {
    return lossy_utf8(path.native());
}

// Without leading and trailing characters of the Unicode White_Space
// property. Invalid UTF-8 is never trimmed.
std::string_view trim(std::string_view text);

} // namespace kelvo::text
