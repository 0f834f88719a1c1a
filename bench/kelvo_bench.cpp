// Benchmarks kelvo-cli against its floor: the git processes a command must
// start, run back to back by this driver. Prints medians of repeated runs.
//
// usage: kelvo_bench <kelvo-cli> <scratch-dir> [--quick]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double ms = 0;
    long max_rss_kb = 0;
    int status = 0;
};

// Runs argv in cwd with output discarded; wall time and the child's peak RSS.
Sample run(const std::vector<std::string>& argv, const fs::path& cwd) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) {
        std::perror(args[0]);
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&fa);
    Sample s;
    s.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    s.max_rss_kb = usage.ru_maxrss;
    s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return s;
}

// Runs the commands back to back, as one sample.
Sample run_all(const std::vector<std::vector<std::string>>& commands, const fs::path& cwd) {
    Sample total;
    for (const auto& c : commands) {
        Sample s = run(c, cwd);
        total.ms += s.ms;
        total.max_rss_kb = std::max(total.max_rss_kb, s.max_rss_kb);
    }
    return total;
}

struct Stats {
    double median_ms;
    long max_rss_kb;
};

Stats measure(int repeats, const std::function<Sample()>& once) {
    once(); // warm the caches
    std::vector<double> times;
    long rss = 0;
    for (int i = 0; i < repeats; ++i) {
        Sample s = once();
        if (s.status != 0) {
            std::fprintf(stderr, "benchmarked command failed with status %d\n", s.status);
            std::exit(1);
        }
        times.push_back(s.ms);
        rss = std::max(rss, s.max_rss_kb);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], rss};
}

void sh(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "setup failed: %s\n", command.c_str());
        std::exit(1);
    }
}

std::string quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

// A repository with `files` files and `worktrees` linked worktrees.
fs::path make_repo(const fs::path& dir, int files, int worktrees) {
    fs::create_directories(dir);
    for (int i = 0; i < files; ++i) {
        const fs::path f = dir / ("d" + std::to_string(i % 100)) / ("f" + std::to_string(i));
        fs::create_directories(f.parent_path());
        std::ofstream(f) << i << "\n";
    }
    sh("cd " + quote(dir) + " && git init -q -b main && git add -A && git commit -q -m init");
    for (int i = 0; i < worktrees; ++i)
        sh("cd " + quote(dir) + " && git worktree add -q -b wt" + std::to_string(i) + " " +
           quote(dir.parent_path() / (dir.filename().string() + "-wt" + std::to_string(i))));
    return fs::canonical(dir);
}

std::string uuid(unsigned n, unsigned kind) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-0000-4000-8000-%012x", kind, n);
    return buf;
}

// A state file with `projects` directory projects of `threads` threads each,
// then the given repository as the last project.
void write_state(const fs::path& home, int projects, int threads, const fs::path& repo) {
    const fs::path dir = home / "Library" / "Application Support" / "kelvo";
    fs::create_directories(dir);
    std::ofstream out(dir / "state.json");
    out << "{\n  \"schema_version\": 3,\n  \"projects\": [\n";
    auto project = [&](unsigned i, const std::string& name, const std::string& path, bool git) {
        out << "    {\n      \"id\": \"" << uuid(i, 1) << "\",\n      \"name\": \"" << name
            << "\",\n      \"main_path\": \"" << path << "\",\n      \"kind\": \""
            << (git ? "Git" : "Directory")
            << "\",\n      \"worktree_dir_template\": \"../worktrees/{repo}\",\n"
               "      \"quick_base\": null,\n      \"preferred_editor\": null,\n"
               "      \"created_at\": \"2026-01-01T00:00:00Z\"\n    }";
    };
    for (int i = 0; i < projects; ++i) {
        project(i, "p" + std::to_string(i), "/nonexistent/p" + std::to_string(i), false);
        out << ",\n";
    }
    project(projects, repo.filename().string(), repo.string(), true);
    out << "\n  ],\n  \"threads\": [\n";
    unsigned t = 0;
    for (int i = 0; i < projects; ++i)
        for (int j = 0; j < threads; ++j, ++t) {
            out << (t ? ",\n" : "") << "    {\n      \"id\": \"" << uuid(t, 2)
                << "\",\n      \"project_id\": \"" << uuid(i, 1)
                << "\",\n      \"title\": \"Thread " << j + 1
                << "\",\n      \"workspace\": {\n        \"kind\": \"directory\",\n"
                << "        \"path\": \"/nonexistent/p" << i << "/t" << j
                << "\"\n      },\n      \"selected_agent\": null,\n"
                   "      \"created_at\": \"2026-01-01T00:00:00Z\",\n"
                   "      \"updated_at\": \"2026-01-01T00:00:00Z\"\n    }";
        }
    out << "\n  ],\n  \"agent_bindings\": [],\n  \"last_selected_thread_id\": null,\n"
           "  \"worktree_agents\": {}\n}";
}

void print_against_floor(const char* name, const Stats& command, const Stats& floor) {
    std::printf("%-28s %9.2f ms  floor %9.2f ms  ratio %5.2f  overhead %+7.2f ms\n", name,
                command.median_ms, floor.median_ms, command.median_ms / floor.median_ms,
                command.median_ms - floor.median_ms);
}

std::vector<std::vector<std::string>> status_runs(const fs::path& repo, int worktrees) {
    std::vector<std::vector<std::string>> runs;
    for (int i = -1; i < worktrees; ++i) {
        const fs::path wt =
            i < 0 ? repo
                  : repo.parent_path() / (repo.filename().string() + "-wt" + std::to_string(i));
        runs.push_back(
            {"git", "-C", wt.string(), "status", "--porcelain=v1", "-z", "--untracked-files=all"});
    }
    return runs;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <kelvo-cli> <scratch-dir> [--quick]\n", argv[0]);
        return 2;
    }
    const std::string kelvo = fs::absolute(argv[1]).string();
    const fs::path scratch = fs::absolute(argv[2]);
    const bool quick = argc > 3 && std::string(argv[3]) == "--quick";
    const int repeats = quick ? 5 : 21;
    fs::remove_all(scratch);
    fs::create_directories(scratch / "home");
    setenv("HOME", (scratch / "home").c_str(), 1);
    setenv("NO_COLOR", "1", 1);
    for (const char* name : {"GIT_AUTHOR_NAME", "GIT_COMMITTER_NAME"})
        setenv(name, "Kelvo Bench", 1);
    for (const char* name : {"GIT_AUTHOR_EMAIL", "GIT_COMMITTER_EMAIL"})
        setenv(name, "bench@kelvo.invalid", 1);

    std::printf("setting up fixtures in %s\n", scratch.c_str());
    const fs::path small = make_repo(scratch / "small", 200, 10);
    const fs::path large = make_repo(scratch / "large", quick ? 2000 : 10000, 10);

    std::printf("\n== commands against their git floor (median of %d runs)\n", repeats);
    using Cmds = std::vector<std::vector<std::string>>;
    const std::vector<std::string> toplevel = {"git", "rev-parse", "--show-toplevel"};
    const std::vector<std::string> origin_head = {"git", "symbolic-ref", "--quiet",
                                                  "refs/remotes/origin/HEAD"};
    const std::vector<std::string> has_main = {"git", "show-ref", "--verify", "--quiet",
                                               "refs/heads/main"};
    struct Row {
        const char* name;
        std::vector<std::string> args;
        Cmds floor;
        fs::path cwd;
    };
    const std::vector<Row> rows = {
        {"--help vs git --version", {kelvo, "--help"}, {{"git", "--version"}}, small},
        {"branches",
         {kelvo, "branches"},
         {toplevel,
          {"git", "for-each-ref", "--format=%(refname:short)", "refs/heads", "refs/remotes"}},
         small},
        {"default-base", {kelvo, "default-base"}, {toplevel, origin_head, has_main}, small},
        {"wt new --path-only",
         {kelvo, "wt", "new", "x", "--path-only"},
         {toplevel, origin_head, has_main},
         small},
        {"wt list (10 worktrees)",
         {kelvo, "wt", "list"},
         {toplevel, {"git", "worktree", "list", "--porcelain"}},
         small},
    };
    for (const auto& row : rows) {
        const Stats cmd = measure(repeats, [&] { return run(row.args, row.cwd); });
        const Stats floor = measure(repeats, [&] { return run_all(row.floor, row.cwd); });
        print_against_floor(row.name, cmd, floor);
    }

    std::printf(
        "\n== wt list: the listing against the per-worktree status runs it no longer makes\n");
    for (const auto& [label, repo] : {std::pair{"200 files", small}, std::pair{"large", large}}) {
        const Cmds listing = {toplevel, {"git", "worktree", "list", "--porcelain"}};
        Cmds with_status = listing;
        for (auto& s : status_runs(repo, 10))
            with_status.push_back(s);
        const Stats cmd = measure(repeats, [&] { return run({kelvo, "wt", "list"}, repo); });
        const Stats before = measure(repeats, [&] { return run_all(with_status, repo); });
        const Stats after = measure(repeats, [&] { return run_all(listing, repo); });
        std::printf("%-10s wt list %8.2f ms | git work with status runs %8.2f ms (status share "
                    "%4.1f%%) | without %7.2f ms\n",
                    label, cmd.median_ms, before.median_ms,
                    100.0 * (before.median_ms - after.median_ms) / before.median_ms,
                    after.median_ms);
    }

    std::printf("\n== store size: 10 threads per project (median of %d runs, peak RSS)\n", repeats);
    double previous_list = 0, previous_add = 0;
    for (int projects : {100, 1000, 10000}) {
        write_state(scratch / "home", projects, 10, small);
        const Stats list = measure(repeats, [&] { return run({kelvo, "project", "list"}, small); });
        const Stats add = measure(repeats, [&] {
            return run({kelvo, "project", "add", small.string()}, small);
        });
        std::printf("%6d projects  project list %8.2f ms %7ld KiB", projects, list.median_ms,
                    list.max_rss_kb);
        if (previous_list > 0)
            std::printf(" (x%.1f)", list.median_ms / previous_list);
        std::printf("  |  project add (existing) %8.2f ms %7ld KiB", add.median_ms, add.max_rss_kb);
        if (previous_add > 0)
            std::printf(" (x%.1f)", add.median_ms / previous_add);
        std::printf("\n");
        previous_list = list.median_ms;
        previous_add = add.median_ms;
    }
    fs::remove_all(scratch);
    return 0;
}
