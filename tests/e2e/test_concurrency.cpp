// Eight kelvo-cli processes at once adding projects and making and removing
// worktrees of two registered repositories: nothing recorded is lost, the
// state file parses at every moment, and no command hangs.
// KELVO_STRESS_COMMANDS sets the commands per process (default 20).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/fixtures.hpp"
#include "support/state_checks.hpp"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

constexpr int kProcesses = 8;

enum class Op { AddProject, NewWorktree, RemoveWorktree };

const char* op_name(Op op) {
    switch (op) {
    case Op::AddProject:
        return "project add";
    case Op::NewWorktree:
        return "wt new";
    case Op::RemoveWorktree:
        return "wt remove";
    }
    return "?";
}

struct Record {
    Op op;
    std::vector<std::string> args;
    std::string target;              // the project directory or worktree path
    std::optional<RunResult> result; // nullopt: killed at the deadline
};

// "{prefix}{process}-{command}", unique per command.
std::string label(char prefix, int process, int command) {
    std::string out(1, prefix);
    out += std::to_string(process);
    out += '-';
    out += std::to_string(command);
    return out;
}

// The value of the "path  " line that wt new prints.
std::string printed_path(const std::string& out) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("path  ", 0) == 0)
            return line.substr(6);
    }
    return {};
}

// The linked worktrees git knows of (the first entry is the main one).
std::set<std::string> linked_worktrees(const Path& repo) {
    std::set<std::string> out;
    std::istringstream in(git(repo, {"worktree", "list", "--porcelain"}));
    bool first = true;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("worktree ", 0) != 0)
            continue;
        if (!first)
            out.insert(line.substr(9));
        first = false;
    }
    return out;
}

bool is_git_refusal(const RunResult& r) {
    return r.status == 1 && r.err.rfind("Error: git failed", 0) == 0;
}

// Git's own lock messages ("Unable to create '….lock'", "could not lock
// config file", "cannot lock ref").
bool mentions_git_lock(const RunResult& r) {
    return r.err.find(".lock") != std::string::npos ||
           r.err.find("could not lock") != std::string::npos ||
           r.err.find("cannot lock") != std::string::npos;
}

class Concurrency : public testing::Test {
protected:
    void SetUp() override { use_hermetic_git(); }

    TempDir m_home;
    TempDir m_work;
};

TEST_F(Concurrency, EightProcessesLoseNothing) {
    const int per_process = env_count("KELVO_STRESS_COMMANDS", 20);
    const char* seed_text = std::getenv("KELVO_STRESS_SEED");
    const auto seed = seed_text && *seed_text
                          ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10))
                          : std::random_device{}();
    const Path state = state_file(m_home.path());
    const std::vector<Path> repos = {make_repo(m_work / "alpha"), make_repo(m_work / "beta")};
    for (const auto& repo : repos) {
        const auto r = run_kelvo({"project", "add", repo.string()}, m_home.path());
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // Generous for 2 cores; only a command stuck on a lock comes near it.
    const auto budget = std::chrono::seconds(120) * std::max(1, per_process / 20);
    const auto started = Clock::now();
    const auto deadline = started + budget;

    std::atomic<bool> running{true};
    std::atomic<int> samples{0};
    std::mutex bad_mutex;
    std::vector<std::string> bad_samples;
    std::thread sampler([&] {
        while (running.load()) {
            const auto snap = read_state(state);
            ++samples;
            if (!snap.ok()) {
                std::lock_guard lock(bad_mutex);
                bad_samples.push_back(snap.error);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    std::vector<std::vector<Record>> records(kProcesses);
    std::vector<std::thread> workers;
    for (int w = 0; w < kProcesses; ++w) {
        workers.emplace_back([&, w] {
            std::mt19937 rng(seed + static_cast<unsigned>(w));
            std::uniform_int_distribution<int> percent(0, 99);
            // This process's worktrees that exist: path and repository.
            std::vector<std::pair<std::string, std::size_t>> live;
            for (int j = 0; j < per_process; ++j) {
                const int roll = percent(rng);
                Record record;
                std::size_t repo_index = static_cast<std::size_t>(percent(rng) % 2);
                std::size_t live_index = 0;
                if (roll < 5) {
                    // Lists the worktrees, some half made or half removed by
                    // others, and ensures a thread for each.
                    record.op = Op::AddProject;
                    record.target = repos[repo_index].string();
                    record.args = {"project", "add", record.target};
                } else if (roll < 25) {
                    record.op = Op::AddProject;
                    const Path dir = m_work / "dirs" / label('d', w, j);
                    fs::create_directories(dir);
                    record.target = dir.string();
                    record.args = {"project", "add", record.target};
                } else if (roll < 65 || live.empty()) {
                    record.op = Op::NewWorktree;
                    record.args = {"wt", "new", label('w', w, j), "--repo",
                                   repos[repo_index].string()};
                } else {
                    record.op = Op::RemoveWorktree;
                    live_index = static_cast<std::size_t>(percent(rng)) % live.size();
                    record.target = live[live_index].first;
                    repo_index = live[live_index].second;
                    record.args = {"wt", "remove", record.target, "--repo",
                                   repos[repo_index].string()};
                }
                {
                    KelvoProcess child(record.args, m_home.path(), m_work.path());
                    record.result = child.wait_until(deadline);
                }
                if (record.result && record.result->status == 0) {
                    if (record.op == Op::NewWorktree) {
                        record.target = printed_path(record.result->out);
                        live.emplace_back(record.target, repo_index);
                    } else if (record.op == Op::RemoveWorktree) {
                        live.erase(live.begin() + static_cast<std::ptrdiff_t>(live_index));
                    }
                }
                const bool timed_out = !record.result;
                records[static_cast<std::size_t>(w)].push_back(std::move(record));
                if (timed_out)
                    return;
            }
        });
    }
    for (auto& t : workers)
        t.join();
    running = false;
    sampler.join();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);

    // Every command finished, and every failure is git refusing.
    std::map<Op, int> ran, succeeded, refused, lock_refusals;
    for (const auto& list : records) {
        for (const auto& r : list) {
            ASSERT_TRUE(r.result) << op_name(r.op) << " " << r.target << " still running after "
                                  << budget.count() << " s";
            ++ran[r.op];
            if (r.result->status == 0) {
                ++succeeded[r.op];
                continue;
            }
            EXPECT_TRUE(is_git_refusal(*r.result))
                << op_name(r.op) << " " << r.target << " failed: " << r.result->err;
            ++refused[r.op];
            if (mentions_git_lock(*r.result))
                ++lock_refusals[r.op];
            std::printf("[ refused  ] %s: %s", op_name(r.op), r.result->err.c_str());
        }
    }
    EXPECT_TRUE(bad_samples.empty())
        << bad_samples.size()
        << " unreadable samples, first: " << (bad_samples.empty() ? "" : bad_samples.front());

    const auto final_state = read_state(state);
    ASSERT_TRUE(final_state.ok()) << final_state.error;
    std::map<std::string, std::string> project_of_path;
    for (const auto& p : final_state.projects)
        project_of_path[p.main_path] = p.id;
    const auto threads_of = [&](const std::string& path, const std::string& project) {
        int n = 0;
        for (const auto& t : final_state.threads_at(path))
            n += t.project_id == project;
        return n;
    };

    // Each repository keeps exactly one thread for its main worktree.
    std::set<std::string> on_git;
    for (const auto& repo : repos) {
        ASSERT_EQ(project_of_path.count(repo.string()), 1u);
        EXPECT_EQ(threads_of(repo.string(), project_of_path[repo.string()]), 1) << repo;
        for (const auto& path : linked_worktrees(repo))
            on_git.insert(path);
    }
    // Made by wt new, then removed or not: what the file says matches disk.
    std::set<std::string> made, removed;
    for (const auto& list : records) {
        for (const auto& r : list) {
            if (r.result->status != 0)
                continue;
            if (r.op == Op::AddProject) {
                if (project_of_path.count(r.target) != 1) {
                    ADD_FAILURE() << "lost project " << r.target;
                    continue;
                }
                EXPECT_EQ(threads_of(r.target, project_of_path[r.target]), 1) << r.target;
                const bool repo =
                    std::find(repos.begin(), repos.end(), Path(r.target)) != repos.end();
                EXPECT_NE(r.result->out.find(repo ? "existing Git project  path=" + r.target
                                                  : "added directory project  path=" + r.target),
                          std::string::npos)
                    << r.result->out;
            } else if (r.op == Op::NewWorktree) {
                made.insert(r.target);
            } else {
                removed.insert(r.target);
            }
        }
    }
    for (const auto& path : made) {
        const bool gone = removed.count(path) > 0;
        const std::string repo_name = Path(path).parent_path().filename().string();
        const Path repo = repo_name == "alpha" ? repos[0] : repos[1];
        const int n = threads_of(path, project_of_path[repo.string()]);
        if (gone) {
            EXPECT_FALSE(fs::exists(path)) << path;
            EXPECT_EQ(on_git.count(path), 0u) << path;
            EXPECT_EQ(n, 0) << "thread of removed worktree " << path << " left behind";
        } else {
            EXPECT_TRUE(fs::exists(path)) << path;
            EXPECT_EQ(on_git.count(path), 1u) << path;
            EXPECT_EQ(n, 1) << "worktree " << path << " has " << n << " threads";
        }
    }
    // No thread for a worktree that no wt new reported.
    for (const auto& t : final_state.threads) {
        if (t.workspace_kind == "git_worktree" && project_of_path.count(t.workspace_path) == 0) {
            EXPECT_EQ(made.count(t.workspace_path), 1u) << "stray thread " << t.workspace_path;
        }
    }

    std::printf("[ commands ] %d processes x %d commands in %lld ms, seed %u; %d state file "
                "samples, %zu unreadable\n",
                kProcesses, per_process, static_cast<long long>(elapsed.count()), seed,
                samples.load(), bad_samples.size());
    for (Op op : {Op::AddProject, Op::NewWorktree, Op::RemoveWorktree}) {
        std::printf("[ commands ] %-11s ran %3d, succeeded %3d, refused by git %d (%d with a "
                    "lock message)\n",
                    op_name(op), ran[op], succeeded[op], refused[op], lock_refusals[op]);
    }
    int refusals = 0, locks = 0;
    for (Op op : {Op::AddProject, Op::NewWorktree, Op::RemoveWorktree}) {
        refusals += refused[op];
        locks += lock_refusals[op];
    }
    RecordProperty("commands", kProcesses * per_process);
    RecordProperty("git_refusals", refusals);
    RecordProperty("git_lock_refusals", locks);
    RecordProperty("state_samples", samples.load());
    RecordProperty("elapsed_ms", static_cast<int>(elapsed.count()));
}

} // namespace
} // namespace kelvo::test
