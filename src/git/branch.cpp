#include "git/branch.hpp"

#include "core/text.hpp"
#include "git/exec.hpp"

#include <algorithm>
#include <string_view>

namespace kelvo::git {

std::optional<std::string> resolve_default_base(const Path& dir) {
    if (auto out = git(dir, {"symbolic-ref", "--quiet", "refs/remotes/origin/HEAD"})) {
        std::string_view ref = text::trim(*out);
        if (!ref.empty()) {
            constexpr std::string_view prefix = "refs/remotes/";
            if (ref.starts_with(prefix))
                ref.remove_prefix(prefix.size());
            return std::string(ref);
        }
    }
    for (const char* candidate : {"main", "master"}) {
        if (git_ok(dir,
                   {"show-ref", "--verify", "--quiet", std::string("refs/heads/") + candidate}))
            return std::string(candidate);
    }
    return std::nullopt;
}

Result<std::vector<std::string>, GitError> list_branches(const Path& dir) {
    auto out =
        git(dir, {"for-each-ref", "--format=%(refname:short)", "refs/heads", "refs/remotes"});
    if (!out)
        return fail(std::move(out).error());
    std::vector<std::string> names;
    std::string_view rest = *out;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        line = text::trim(line);
        if (line.empty() || line == "origin/HEAD" || line == "upstream/HEAD")
            continue;
        names.emplace_back(line);
    }
    std::stable_sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::optional<std::string> current_branch(const Path& dir) {
    auto out = git(dir, {"symbolic-ref", "--quiet", "--short", "HEAD"});
    if (!out)
        return std::nullopt;
    const std::string_view name = text::trim(*out);
    if (name.empty())
        return std::nullopt;
    return std::string(name);
}

} // namespace kelvo::git
