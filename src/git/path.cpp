#include "git/path.hpp"

#include "core/paths.hpp"
#include "core/text.hpp"

#include <string>
#include <vector>

namespace kelvo::git {

namespace {

// b alone when absolute, else a and b with one separator between them.
std::string join(std::string a, std::string_view b) {
    if (b.starts_with('/'))
        return std::string(b);
    if (!a.empty() && a.back() != '/')
        a += '/';
    a += b;
    return a;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(from, start)) != std::string_view::npos;
         start = at + from.size()) {
        out.append(text.substr(start, at - start));
        out.append(to);
    }
    out.append(text.substr(start));
    return out;
}

std::string normalise(std::string_view path) {
    const bool absolute = path.starts_with('/');
    std::vector<std::string_view> kept;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!kept.empty())
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            out += '/';
        out.append(kept[i]);
    }
    return out;
}

} // namespace

Path worktree_path(const Path& repo_dir, std::string_view tmpl, std::string_view branch) {
    const auto last = paths::last_name(repo_dir);
    const std::string name = last && text::is_valid_utf8(*last) ? *last : "repo";
    const std::string& repo = repo_dir.native();

    std::string base;
    if (tmpl.find("{repo}") != std::string_view::npos) {
        const std::string expanded = replace_all(tmpl, "{repo}", name);
        base = join(repo, expanded);
    } else if (tmpl.starts_with('/')) {
        base = join(std::string(tmpl), name);
    } else {
        base = join(join(repo, tmpl), name);
    }

    std::string leaf(branch);
    for (char& c : leaf)
        if (c == '/' || c == ':' || c == '\\')
            c = '-';
    return Path(normalise(join(std::move(base), leaf)));
}

} // namespace kelvo::git
