#include "core/paths.hpp"

#include <cstdlib>
#include <memory>
#include <string_view>

namespace kelvo::paths {

std::vector<std::string> components(const Path& path) {
    const std::string& s = path.native();
    std::vector<std::string> out;
    std::size_t i = 0;
    if (!s.empty() && s[0] == '/') {
        out.emplace_back("/");
        i = 1;
    }
    while (i < s.size()) {
        std::size_t end = s.find('/', i);
        if (end == std::string::npos)
            end = s.size();
        std::string_view part(s.data() + i, end - i);
        if (!part.empty() && !(part == "." && !(out.empty() && i == 0)))
            out.emplace_back(part);
        i = end + 1;
    }
    return out;
}

bool components_equal(const Path& a, const Path& b) {
    return components(a) == components(b);
}

bool components_less(const Path& a, const Path& b) {
    return components(a) < components(b);
}

std::optional<std::string> last_name(const Path& path) {
    auto parts = components(path);
    if (parts.empty())
        return std::nullopt;
    const std::string& last = parts.back();
    if (last == "/" || last == "." || last == "..")
        return std::nullopt;
    return last;
}

Result<Path, OsError> canonical(const Path& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        return fail(OsError::last());
    return Path(resolved.get());
}

Path canonical_or_same(const Path& path) {
    auto resolved = paths::canonical(path);
    return resolved ? std::move(resolved).value() : path;
}

} // namespace kelvo::paths
