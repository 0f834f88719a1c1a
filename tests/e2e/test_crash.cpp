// kelvo-cli killed with SIGKILL at random moments while it adds projects:
// after every kill the state file is one whole document, the one before or
// the one after that command, and what a kill leaves behind never breaks a
// later run. KELVO_STRESS_KILLS sets the number of kills (default 50).
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support/fixtures.hpp"
#include "support/state_checks.hpp"

namespace kelvo::test {
namespace {

namespace fs = std::filesystem;

std::size_t count_lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> project_jsons(const StateSnapshot& snap) {
    std::vector<std::string> out;
    for (const auto& p : snap.projects)
        out.push_back(p.json);
    return out;
}

std::vector<std::string> thread_ids(const StateSnapshot& snap) {
    std::vector<std::string> out;
    for (const auto& t : snap.threads)
        out.push_back(t.id);
    return out;
}

// How a command that was killed (or finished first) left the document.
enum class Outcome { Before, ProjectOnly, After, Invalid };

// `after` must be `before` unchanged, or `before` plus the project at dir
// (appended), optionally with its directory thread (appended).
Outcome classify(const StateSnapshot& before, const StateSnapshot& after, const Path& dir,
                 std::string& why) {
    if (!after.exists)
        return before.exists ? (why = "the state file vanished", Outcome::Invalid)
                             : Outcome::Before;
    if (!after.ok())
        return why = "the state file does not parse: " + after.error, Outcome::Invalid;
    const auto old_projects = project_jsons(before);
    auto projects = project_jsons(after);
    if (projects == old_projects) {
        if (thread_ids(after) != thread_ids(before))
            return why = "threads changed without a project", Outcome::Invalid;
        return Outcome::Before;
    }
    if (projects.size() != old_projects.size() + 1 ||
        !std::equal(old_projects.begin(), old_projects.end(), projects.begin()) ||
        after.projects.back().main_path != dir.string())
        return why = "the projects are neither the old list nor the old list plus " + dir.string(),
               Outcome::Invalid;
    const auto old_threads = thread_ids(before);
    auto threads = thread_ids(after);
    if (threads == old_threads)
        return Outcome::ProjectOnly;
    const ThreadEntry& added = after.threads.back();
    if (threads.size() != old_threads.size() + 1 ||
        !std::equal(old_threads.begin(), old_threads.end(), threads.begin()) ||
        added.project_id != after.projects.back().id || added.workspace_path != dir.string() ||
        added.workspace_kind != "directory")
        return why = "the threads are neither the old list nor the old list plus one for " +
                     dir.string(),
               Outcome::Invalid;
    return Outcome::After;
}

// The median time from spawn to exit of a complete `project add` of a new
// directory, started the way the kills start it.
std::chrono::microseconds add_duration(const Path& work) {
    TempDir home;
    std::vector<std::chrono::microseconds> times;
    for (int i = 0; i < 7; ++i) {
        const Path dir = work / ("warm-up-" + std::to_string(i));
        fs::create_directories(dir);
        const auto start = Clock::now();
        KelvoProcess child({"project", "add", dir.string()}, home.path(), work);
        const auto r = child.wait();
        times.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start));
        EXPECT_EQ(r.status, 0) << r.err;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

TEST(CrashAtAnyMoment, EveryKillLeavesTheDocumentBeforeOrAfter) {
    use_hermetic_git();
    const int kills = env_count("KELVO_STRESS_KILLS", 50);
    // A failure prints its seed; KELVO_STRESS_SEED replays it.
    const char* seed_text = std::getenv("KELVO_STRESS_SEED");
    const auto seed = seed_text && *seed_text
                          ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10))
                          : std::random_device{}();
    TempDir home;
    TempDir work;
    const Path state = state_file(home.path());

    // Delays spread over the whole command, from exec to exit.
    const auto span = add_duration(work.path());
    std::mt19937 rng(seed);
    std::uniform_int_distribution<long> delay(0, span.count());
    std::printf("[ crash    ] %d kills, delays 0-%ld us, seed %u\n", kills,
                static_cast<long>(span.count()), seed);

    int before = 0, project_only = 0, after = 0, finished = 0;
    std::size_t most_temps = 0;
    StateSnapshot previous = read_state(state);
    for (int i = 0; i < kills; ++i) {
        const Path dir = work / ("p" + std::to_string(i));
        fs::create_directories(dir);
        RunResult result;
        bool killed = false;
        {
            KelvoProcess child({"project", "add", dir.string()}, home.path(), work.path());
            std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
            child.kill(SIGKILL);
            result = child.wait();
            killed = child.signalled();
        }
        const StateSnapshot now = read_state(state);
        std::string why;
        const Outcome outcome = classify(previous, now, dir, why);
        ASSERT_NE(outcome, Outcome::Invalid) << "after kill " << i << ": " << why << "\n"
                                             << now.text;
        if (!killed) {
            ++finished;
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(outcome, Outcome::After) << "a finished add left an incomplete document";
        } else if (outcome == Outcome::Before) {
            ++before;
        } else if (outcome == Outcome::ProjectOnly) {
            ++project_only;
        } else {
            ++after;
        }
        most_temps = std::max(most_temps, leftover_temp_files(state).size());

        // A normal reader copes with whatever the kill left.
        const auto list = run_kelvo({"project", "list"}, home.path());
        ASSERT_EQ(list.status, 0) << "after kill " << i << ": " << list.err;
        EXPECT_EQ(count_lines(list.out), now.projects.size()) << list.out;
        previous = now;
    }

    // Temporaries from killed saves never get in the way of later runs.
    const std::size_t temps = leftover_temp_files(state).size();
    for (int i = 0; i < 3; ++i) {
        const Path dir = work / ("final-" + std::to_string(i));
        fs::create_directories(dir);
        const auto r = run_kelvo({"project", "add", dir.string()}, home.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("added directory project  path=" + dir.string()), std::string::npos)
            << r.out;
    }
    const auto final_state = read_state(state);
    ASSERT_TRUE(final_state.ok()) << final_state.error;
    EXPECT_EQ(final_state.projects.size(), previous.projects.size() + 3);

    const int landed_before = before;
    const int landed_after = project_only + after;
    std::printf("[ crash    ] kills landed before the rename: %d, after: %d (%d between the "
                "project's save and its thread's), finished before the kill: %d; leftover "
                "temporary files: %zu (at most %zu at once)\n",
                landed_before, landed_after, project_only, finished, temps, most_temps);
    testing::Test::RecordProperty("kills", kills);
    testing::Test::RecordProperty("kills_before_rename", landed_before);
    testing::Test::RecordProperty("kills_after_rename", landed_after);
    testing::Test::RecordProperty("kills_between_saves", project_only);
    testing::Test::RecordProperty("finished_before_kill", finished);
    testing::Test::RecordProperty("leftover_temp_files", static_cast<int>(temps));
}

} // namespace
} // namespace kelvo::test
