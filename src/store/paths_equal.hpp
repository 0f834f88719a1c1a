#pragma once

#include "core/model.hpp"

#include <optional>

namespace kelvo::store {

// Whether two paths name the same place: both canonicalised when both can
// be (symbolic links, "." and ".." resolved), otherwise the paths as given,
// compared component by component (trailing and repeated separators and
// inner "." ignored, ".." kept, names byte for byte).
bool paths_equal(const Path& a, const Path& b);

// paths_equal against one fixed path, canonicalising that path only once.
class PathMatcher {
public:
    explicit PathMatcher(Path target);
    // paths_equal(candidate, target).
    bool matches(const Path& candidate) const;

private:
    Path m_target;
    std::optional<Path> m_canonical;
};

} // namespace kelvo::store
