// User-typed names, bases and paths must reach git as values, never as
// options: a git wrapper first on PATH records every argument list the
// binary hands it before the real git runs.

#include "support/fixtures.hpp"

#include "support/git_repos.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct GitCall {
    std::string cwd;
    std::vector<std::string> args;
};

std::ostream& operator<<(std::ostream& os, const GitCall& call) {
    os << "git";
    for (const auto& arg : call.args)
        os << " [" << arg << "]";
    return os << " in " << call.cwd;
}

std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A `git` that appends one NUL-separated record per invocation (working
// directory, argument count, arguments) to a log, then execs the real git.
class GitLog {
public:
    explicit GitLog(const Path& dir) : m_log(dir / "git.log") {
        fs::create_directories(dir / "bin");
        const std::string log = shell_quote(m_log.string());
        write_file(dir / "bin" / "git", "#!/bin/sh\n"
                                        "{ printf '%s\\0' \"$PWD\" \"$#\"\n"
                                        "  if [ $# -gt 0 ]; then printf '%s\\0' \"$@\"; fi; } >> " +
                                            log + "\n" + "exec " +
                                            shell_quote(real_git().string()) + " \"$@\"\n");
        fs::permissions(dir / "bin" / "git", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        m_env = {{"PATH", (dir / "bin").string() + ":" + (path ? path : "")}};
    }

    const Env& env() const { return m_env; }

    // Every call so far, or those since the last mark().
    std::vector<GitCall> calls() const { return parse(0); }
    std::vector<GitCall> recent() const { return parse(m_mark); }
    void mark() { m_mark = parse(0).size(); }

private:
    std::vector<GitCall> parse(std::size_t skip) const {
        std::vector<GitCall> out;
        if (!fs::exists(m_log))
            return out;
        const std::string text = read_file(m_log);
        std::vector<std::string> fields;
        for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos;
             start = end + 1)
            fields.push_back(text.substr(start, end - start));
        for (std::size_t i = 0; i + 1 < fields.size();) {
            GitCall call{fields[i], {}};
            const std::size_t count = std::stoul(fields[i + 1]);
            i += 2;
            for (std::size_t n = 0; n < count && i < fields.size(); ++n)
                call.args.push_back(fields[i++]);
            out.push_back(std::move(call));
        }
        out.erase(out.begin(),
                  out.begin() + static_cast<std::ptrdiff_t>(std::min(skip, out.size())));
        return out;
    }

    Path m_log;
    Env m_env;
    std::size_t m_mark = 0;
};

bool is_worktree_add(const GitCall& call) {
    return call.args.size() >= 2 && call.args[0] == "worktree" && call.args[1] == "add";
}

bool has_dash(const std::string& arg) {
    return !arg.empty() && arg.front() == '-';
}

// Why the call could let a user value act as an option, or "" when it
// cannot: the commands that carry user text have a fixed shape, and the
// others may hold nothing but their own fixed options.
std::string option_fault(const GitCall& call) {
    static const std::map<std::string, std::set<std::string>> fixed = {
        {"rev-parse",
         {"--show-toplevel", "--is-inside-work-tree", "--path-format=absolute",
          "--git-common-dir"}},
        {"worktree list", {"--porcelain", "-z"}},
        {"status", {"--porcelain=v1", "-z", "--untracked-files=all"}},
        {"symbolic-ref", {"--quiet", "--short", "refs/remotes/origin/HEAD", "HEAD"}},
        {"show-ref", {"--verify", "--quiet", "refs/heads/main", "refs/heads/master"}},
        {"for-each-ref", {"--format=%(refname:short)", "refs/heads", "refs/remotes"}},
    };
    const auto& a = call.args;
    if (a.empty())
        return "no arguments";
    if (a[0] == "worktree" && a.size() >= 2 && a[1] == "add") {
        // "worktree", "add", "-b", branch, path, base
        if (a.size() != 6 || a[2] != "-b")
            return "unexpected shape of worktree add";
        for (std::size_t i = 3; i < a.size(); ++i)
            if (has_dash(a[i]))
                return "value beginning with '-': " + a[i];
        return "";
    }
    if (a[0] == "worktree" && a.size() >= 2 && a[1] == "remove") {
        // "worktree", "remove", optionally "--force", path
        const std::size_t path_at = a.size() > 2 && a[2] == "--force" ? 3 : 2;
        if (a.size() != path_at + 1)
            return "unexpected shape of worktree remove";
        return has_dash(a[path_at]) ? "value beginning with '-': " + a[path_at] : "";
    }
    const bool two_words = a[0] == "worktree" && a.size() >= 2;
    const auto it = fixed.find(two_words ? a[0] + " " + a[1] : a[0]);
    if (it == fixed.end())
        return "a git command nobody expects: " + a[0];
    for (std::size_t i = two_words ? 2 : 1; i < a.size(); ++i)
        if (!it->second.contains(a[i]))
            return "unexpected argument: " + a[i];
    return "";
}

class GitArguments : public testing::Test {
protected:
    void SetUp() override {
        use_hermetic_git();
        repo = make_repo(work / "src" / "app");
        git(repo, {"branch", "dev"});
    }

    // Every argument list any test made git see.
    void TearDown() override {
        EXPECT_FALSE(log.calls().empty()) << "the wrapper saw no git call";
        for (const auto& call : log.calls())
            EXPECT_EQ(option_fault(call), "") << call;
    }

    RunResult kelvo(const std::vector<std::string>& args, const std::optional<Path>& cwd) {
        return run_kelvo(args, home.path(), cwd, log.env());
    }

    // Every ref and the commit it points at.
    std::string refs() const {
        return git(repo, {"for-each-ref", "--format=%(refname) %(objectname)"});
    }

    bool worktree_add_ran() const {
        for (const auto& call : log.recent())
            if (is_worktree_add(call))
                return true;
        return false;
    }

    TempDir home;
    TempDir work;
    Path repo;
    GitLog log{work / "gitlog"};
};

TEST_F(GitArguments, NamesAndBasesBeginningWithDashNeverReachGit) {
    struct Case {
        const char* label;
        std::vector<std::string> args;
        int status;
        std::string err; // the whole report for status 1, a part for 2
    };
    const std::string bad_name = "(must not begin with '-')";
    const Case cases[] = {
        // -D would delete dev, --force would reset an existing branch.
        {"DashDAsAnOptionWord", {"wt", "new", "-D", "--base", "dev"}, 2, "error: "},
        {"DashDAfterTheSeparator",
         {"wt", "new", "--base", "dev", "--", "-D"},
         1,
         "Error: invalid branch name: -D " + bad_name + "\n"},
        {"ForceAfterTheSeparator",
         {"wt", "new", "--base", "dev", "--", "--force"},
         1,
         "Error: invalid branch name: --force " + bad_name + "\n"},
        {"LoneDash",
         {"wt", "new", "--base", "main", "--", "-"},
         1,
         "Error: invalid branch name: - " + bad_name + "\n"},
        {"OrphanBaseAfterEquals",
         {"wt", "new", "x", "--base=--orphan"},
         1,
         "Error: invalid base: --orphan " + bad_name + "\n"},
        {"OrphanBaseAsTheNextWord", {"wt", "new", "x", "--base", "--orphan"}, 2, "--base: "},
        {"DeleteFlagAsBase",
         {"wt", "new", "x", "--base=-D"},
         1,
         "Error: invalid base: -D " + bad_name + "\n"},
    };
    const std::string refs_before = refs();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log.mark();
        auto r = kelvo(c.args, repo);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status == 1) {
            EXPECT_EQ(r.err, c.err);
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
            EXPECT_TRUE(log.recent().empty()) << "git ran for a rejected command line";
        }
        EXPECT_FALSE(worktree_add_ran());
        EXPECT_EQ(refs(), refs_before);
        EXPECT_FALSE(fs::exists(work / "src" / "worktrees" / "app" / "x"));
    }
    EXPECT_EQ(git(repo, {"rev-parse", "--verify", "--quiet", "refs/heads/dev"}),
              git(repo, {"rev-parse", "main"}));
}

TEST_F(GitArguments, StoredQuickBaseBeginningWithDashIsRefusedToo) {
    // The quick base is stored as typed, so the refusal must also cover it.
    auto added = kelvo({"project", "add", repo.string(), "--quick-base=--orphan"}, std::nullopt);
    ASSERT_EQ(added.status, 0) << added.err;
    const std::string refs_before = refs();

    struct Case {
        const char* label;
        std::vector<std::string> set; // how the quick base gets set, if again
        std::string base;
    };
    const Case cases[] = {
        {"FromProjectAdd", {}, "--orphan"},
        {"FromSetQuickBase", {"project", "set-quick-base", "app", "--", "-D"}, "-D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (!c.set.empty()) {
            ASSERT_EQ(kelvo(c.set, std::nullopt).status, 0);
        }
        const std::string state = read_file(state_file(home.path()));
        ASSERT_EQ(json::parse(state)["projects"][0]["quick_base"], c.base);
        log.mark();

        auto r = kelvo({"wt", "new", "y"}, repo);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Error: invalid base: " + c.base + " (must not begin with '-')\n");
        EXPECT_FALSE(worktree_add_ran());
        EXPECT_EQ(refs(), refs_before);
        EXPECT_EQ(read_file(state_file(home.path())), state);
    }
}

TEST_F(GitArguments, RemovePassesAPathBeginningWithDashAsAPath) {
    // "-f" and "--force" are also git's own force options: taken as such,
    // the dirty worktree would go and the others would be misread.
    git(repo, {"worktree", "add", "-q", "-b", "dash", "./-dir"});
    git(repo, {"worktree", "add", "-q", "-b", "force", "./--force"});
    git(repo, {"worktree", "add", "-q", "-b", "short-force", "./-f"});
    git(repo, {"worktree", "add", "-q", "-b", "plain", "./dir"});
    write_file(repo / "-f" / "untracked", "x\n");
    ASSERT_EQ(kelvo({"project", "add", repo.string()}, std::nullopt).status, 0);

    const auto thread_paths = [&] {
        std::set<std::string> out;
        const json state = json::parse(read_file(state_file(home.path())));
        for (const auto& t : state["threads"])
            out.insert(t["workspace"]["path"].get<std::string>());
        return out;
    };
    ASSERT_EQ(thread_paths().size(), 5u);

    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::vector<std::string> git_args;
        bool removed;
    };
    const Case cases[] = {
        {"Dash", {"wt", "remove", "--", "-dir"}, {"worktree", "remove", "./-dir"}, true},
        {"LongForceName",
         {"wt", "remove", "--", "--force"},
         {"worktree", "remove", "./--force"},
         true},
        // Dirty and without --force: git must refuse.
        {"ShortForceNameDirty",
         {"wt", "remove", "--", "-f"},
         {"worktree", "remove", "./-f"},
         false},
        {"ShortForceNameForced",
         {"wt", "remove", "--force", "--", "-f"},
         {"worktree", "remove", "--force", "./-f"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string name = c.args.back();
        const std::string before = read_file(state_file(home.path()));
        log.mark();

        auto r = kelvo(c.args, repo);
        EXPECT_EQ(r.status, c.removed ? 0 : 1) << r.err;
        std::vector<GitCall> removals;
        for (const auto& call : log.recent())
            if (call.args.size() >= 2 && call.args[1] == "remove")
                removals.push_back(call);
        ASSERT_EQ(removals.size(), 1u);
        EXPECT_EQ(removals[0].args, c.git_args);
        EXPECT_EQ(removals[0].cwd, repo.string());

        EXPECT_EQ(fs::exists(repo / name), !c.removed);
        EXPECT_EQ(thread_paths().contains((repo / name).string()), !c.removed);
        if (c.removed) {
            EXPECT_EQ(r.out, "removed " + name + "\n");
        } else {
            EXPECT_EQ(read_file(state_file(home.path())), before);
        }
    }
    // The neighbour without a dash, and the main worktree, stay.
    EXPECT_TRUE(fs::exists(repo / "dir"));
    EXPECT_EQ(thread_paths(), (std::set<std::string>{repo.string(), (repo / "dir").string()}));
    EXPECT_EQ(git(repo, {"worktree", "list", "--porcelain"}).find("/-"), std::string::npos);
}

TEST_F(GitArguments, RelativeRepositoryPathsBeginningWithDash) {
    const Path dash_repo = make_repo(work / "-proj");
    fs::create_directories(work / "-plain");

    auto git_project = kelvo({"project", "add", "--", "-proj"}, work.path());
    ASSERT_EQ(git_project.status, 0) << git_project.err;
    EXPECT_NE(git_project.out.find("added Git project  path=" + dash_repo.string() + "  id="),
              std::string::npos)
        << git_project.out;
    auto plain = kelvo({"project", "add", "--", "-plain"}, work.path());
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out.find("added directory project  path=" + (work / "-plain").string()),
              std::string::npos)
        << plain.out;

    // --repo with a dash: the directory git runs in, never an argument.
    auto listed = kelvo({"wt", "list", "--repo=-proj"}, work.path());
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, dash_repo.string() + "\tmain\tmain=true\tlocked=false\n");
    auto base = kelvo({"default-base", "--repo=-proj"}, work.path());
    EXPECT_EQ(base.out, "main\n");

    auto created = kelvo({"wt", "new", "x", "--base", "main", "--repo=-proj"}, work.path());
    ASSERT_EQ(created.status, 0) << created.err;
    const Path target = work / "worktrees" / "-proj" / "x";
    EXPECT_TRUE(fs::is_directory(target));
    bool seen = false;
    for (const auto& call : log.calls()) {
        if (is_worktree_add(call)) {
            seen = true;
            EXPECT_EQ(call.args, (std::vector<std::string>{"worktree", "add", "-b", "x",
                                                           target.string(), "main"}));
        }
        // The user's "-proj" only ever names a directory.
        for (const auto& arg : call.args)
            EXPECT_NE(arg, "-proj") << call;
    }
    EXPECT_TRUE(seen);

    const json state = json::parse(read_file(state_file(home.path())));
    ASSERT_EQ(state["projects"].size(), 2u);
    EXPECT_EQ(state["projects"][0]["main_path"], dash_repo.string());
    EXPECT_EQ(state["projects"][0]["name"], "-proj");
    EXPECT_EQ(state["threads"].back()["workspace"]["path"], target.string());
}

} // namespace
} // namespace kelvo::test
