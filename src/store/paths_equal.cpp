#include "store/paths_equal.hpp"

#include "core/paths.hpp"

namespace kelvo::store {

bool paths_equal(const Path& a, const Path& b) {
    return PathMatcher(b).matches(a);
}

PathMatcher::PathMatcher(Path target) : m_target(std::move(target)) {
    if (auto canonical = paths::canonical(m_target))
        m_canonical = std::move(canonical).value();
}

bool PathMatcher::matches(const Path& candidate) const {
    if (m_canonical) {
        if (auto canonical = paths::canonical(candidate))
            return paths::components_equal(*canonical, *m_canonical);
    }
    return paths::components_equal(candidate, m_target);
}

} // namespace kelvo::store
