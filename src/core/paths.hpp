#pragma once

#include "core/os_error.hpp"
#include "core/result.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelvo::paths {

using Path = std::filesystem::path;

// The path's components, read lexically: a leading "/" is one component,
// repeated and trailing separators vanish, "." is kept only when it begins a
// relative path, ".." is kept.
std::vector<std::string> components(const Path& path);

// Equal component by component (see components()); nothing is resolved.
bool components_equal(const Path& a, const Path& b);

// Orders paths component by component, each compared byte-wise; a path that
// is a leading part of another sorts first.
bool components_less(const Path& a, const Path& b);

// The last component when it is an ordinary name (not the root, "." or
// ".."), as raw bytes.
std::optional<std::string> last_name(const Path& path);

// Absolute, with symbolic links, "." and ".." resolved; the path must exist.
Result<Path, OsError> canonical(const Path& path);

// canonical(), or the path unchanged when it cannot be canonicalised.
Path canonical_or_same(const Path& path);

} // namespace kelvo::paths
