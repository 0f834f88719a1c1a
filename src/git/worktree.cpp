#include "git/worktree.hpp"

#include "core/paths.hpp"
#include "core/text.hpp"
#include "git/diff.hpp"
#include "git/exec.hpp"

#include <algorithm>
#include <sys/stat.h>
#include <system_error>

namespace kelvo::git {

namespace {

bool starts_with_dash(std::string_view text) {
    return !text.empty() && text.front() == '-';
}

// A path as a git argument. One that begins with "-" is relative and would
// read as an option, so it goes as "./-...".
std::string path_argument(const Path& path) {
    std::string text = text::display(path);
    if (starts_with_dash(text))
        text.insert(0, "./");
    return text;
}

bool same_location(const Path& a, const Path& b) {
    auto ca = paths::canonical(a);
    auto cb = paths::canonical(b);
    if (ca && cb)
        return paths::components_equal(*ca, *cb);
    return paths::components_equal(a, b);
}

struct Pending {
    std::optional<std::string> path;
    std::optional<std::string> branch;
    bool bare = false;
    bool locked = false;
    bool detached = false;
};

void finish(Pending& pending, std::vector<WorktreeView>& out, const Path& reference_dir) {
    if (pending.path) {
        WorktreeView view;
        view.path = Path(*pending.path);
        view.branch = pending.detached ? std::nullopt : pending.branch;
        view.is_main = out.empty() || same_location(view.path, reference_dir);
        view.locked = pending.locked;
        view.bare = pending.bare;
        out.push_back(std::move(view));
    }
    pending = Pending{};
}

// The path git printed on a line of its own, exactly: only the line break
// goes. Trimming white space would turn "app " into its neighbour "app",
// and decoding would turn a name that is not UTF-8 into one that does not
// exist.
Path printed_path(std::string_view out) {
    if (out.ends_with('\n'))
        out.remove_suffix(1);
    return Path(std::string(out));
}

} // namespace

Result<Path, GitError> repo_root(const Path& dir) {
    auto out = git_bytes(dir, {"rev-parse", "--show-toplevel"});
    if (!out)
        return fail(std::move(out).error());
    return printed_path(*out);
}

bool is_inside_work_tree(const Path& dir) {
    auto out = git(dir, {"rev-parse", "--is-inside-work-tree"});
    return out && text::trim(*out) == "true";
}

Result<Path, GitError> main_worktree_path(const Path& dir) {
    auto out = git_bytes(dir, {"rev-parse", "--path-format=absolute", "--git-common-dir"});
    if (!out)
        return fail(std::move(out).error());
    const Path common = printed_path(*out);
    if (paths::last_name(common) == ".git") {
        // Lexically, so that a trailing separator cannot make ".git" its own parent.
        auto parts = paths::components(common);
        parts.pop_back();
        if (parts.empty())
            return common;
        Path parent;
        for (const auto& part : parts)
            parent /= part;
        return parent;
    }
    // A bare repository, or a common directory with another name.
    auto root = repo_root(dir);
    if (!root)
        return fail(std::move(root).error());
    // Only is_main is needed, so the per-worktree status runs are skipped.
    auto worktrees = list_worktrees(*root, Dirty::Skip);
    if (!worktrees)
        return *root;
    for (const auto& worktree : *worktrees)
        if (worktree.is_main)
            return worktree.path;
    return *root;
}

Result<std::vector<WorktreeView>, GitError> list_worktrees(const Path& dir, Dirty dirty) {
    // NUL-separated bytes, so that paths keep their exact names (a newline
    // in one would end its line); branch names are text.
    auto out = git_bytes(dir, {"worktree", "list", "--porcelain", "-z"});
    if (!out)
        return fail(std::move(out).error());
    auto worktrees = parse_porcelain_z(*out, dir);
    for (auto& worktree : worktrees)
        if (worktree.branch)
            worktree.branch = text::lossy_utf8(*worktree.branch);
    if (dirty == Dirty::Check) {
        for (auto& worktree : worktrees) {
            if (worktree.bare)
                continue;
            // A worktree that cannot be read (e.g. its directory is gone)
            // counts as clean.
            auto changes = changed_files(worktree.path);
            worktree.dirty = changes && !changes->empty();
        }
    }
    return worktrees;
}

namespace {

// The listing's records, lines ended by `separator`: a newline (where a
// carriage return before it goes too) or, with -z, a NUL.
std::vector<WorktreeView> parse_listing(std::string_view text, const Path& reference_dir,
                                        char separator) {
    std::vector<WorktreeView> out;
    Pending pending;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        std::string_view line = text.substr(start, end - start);
        // Only a carriage return that comes with a newline goes.
        if (separator == '\n' && end < text.size() && line.ends_with('\r'))
            line.remove_suffix(1);
        start = end + 1;

        if (line.empty()) {
            finish(pending, out, reference_dir);
        } else if (line.starts_with("worktree ")) {
            if (pending.path)
                finish(pending, out, reference_dir);
            pending.path = std::string(line.substr(9));
        } else if (line.starts_with("branch ")) {
            std::string_view value = line.substr(7);
            if (value.starts_with("refs/heads/"))
                value.remove_prefix(11);
            pending.branch = std::string(value);
        } else if (line == "bare") {
            pending.bare = true;
        } else if (line == "detached") {
            pending.detached = true;
        } else if (line.starts_with("locked")) {
            pending.locked = true;
        }
    }
    finish(pending, out, reference_dir);

    if (auto reference = paths::canonical(reference_dir)) {
        for (auto& view : out) {
            auto path = paths::canonical(view.path);
            view.is_main = path && paths::components_equal(*path, *reference);
        }
    }
    return out;
}

} // namespace

std::vector<WorktreeView> parse_porcelain(std::string_view text, const Path& reference_dir) {
    return parse_listing(text, reference_dir, '\n');
}

std::vector<WorktreeView> parse_porcelain_z(std::string_view text, const Path& reference_dir) {
    return parse_listing(text, reference_dir, '\0');
}

Result<void, GitError> create_worktree(const Path& repo, const std::string& branch,
                                       const Path& target, const std::string& base,
                                       bool new_branch) {
    // git passes -b's name and the base on to its branch machinery without
    // an option terminator, so "-D" would be read as an option there.
    if (starts_with_dash(branch))
        return fail(
            GitError::Other{"invalid branch name: " + branch + " (must not begin with '-')"});
    if (new_branch && starts_with_dash(base))
        return fail(GitError::Other{"invalid base: " + base + " (must not begin with '-')"});

    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        return fail(GitError::Other{"path already exists: " + text::display(target)});

    const Path parent = target.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
        if (ec)
            return fail(
                GitError::Io{OsError{ec.value(), "cannot create " + text::display(parent)}});
    }

    std::vector<std::string> args{"worktree", "add"};
    if (new_branch) {
        args.insert(args.end(), {"-b", branch, path_argument(target), base});
    } else {
        args.insert(args.end(), {path_argument(target), branch});
    }
    return git_ok(repo, args);
}

Result<void, GitError> remove_worktree(const Path& repo, const Path& path, bool force) {
    std::vector<std::string> args{"worktree", "remove"};
    if (force)
        args.push_back("--force");
    args.push_back(path_argument(path));
    return git_ok(repo, args);
}

} // namespace kelvo::git
