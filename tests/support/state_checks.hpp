#pragma once

// What the reliability tests need beyond fixtures.hpp: the state file read
// the way a checker sees it, and kelvo-cli children that a test can kill or
// give up on.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/fixtures.hpp"

namespace kelvo::test {

struct ProjectEntry {
    std::string id;
    std::string name;
    std::string main_path;
    std::string kind;
    std::string json; // the whole member, compact, for equality checks
};

struct ThreadEntry {
    std::string id;
    std::string project_id;
    std::string title;
    std::string workspace_kind;
    std::string workspace_path;
};

// The state file as a reader finds it at one moment.
struct StateSnapshot {
    bool exists = false;
    std::string text;  // the file's bytes
    std::string error; // why it is not a well-formed document; empty when it is
    std::vector<ProjectEntry> projects;
    std::vector<ThreadEntry> threads;

    bool ok() const { return error.empty(); }
    std::vector<std::string> project_paths() const;
    std::vector<ThreadEntry> threads_at(const std::string& path) const;
};

// Parses a document: a JSON object whose "projects" and "threads" are
// arrays of objects with the members above.
StateSnapshot parse_state_text(std::string text);
// Reads the file; a missing file gives exists == false and no error.
StateSnapshot read_state(const Path& file);

// The save temporaries (".state.json.tmp-*") in the state file's directory.
std::vector<Path> leftover_temp_files(const Path& state_file);

// The value of an integer environment variable, or fallback when it is
// unset, empty or not a positive number.
int env_count(const char* name, int fallback);

using Clock = std::chrono::steady_clock;

// A kelvo-cli child started like run_kelvo (same environment), with its
// output collected in unlinked temporary files rather than pipes so that
// any number can run at once and a killed one leaves nothing to drain.
class KelvoProcess {
public:
    KelvoProcess(const std::vector<std::string>& args, const Path& home,
                 const std::optional<Path>& cwd = std::nullopt, const Env& env = {});
    ~KelvoProcess();
    KelvoProcess(const KelvoProcess&) = delete;
    KelvoProcess& operator=(const KelvoProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void kill(int signal);
    // Waits for the child. At the deadline it is killed with SIGKILL,
    // reaped, and nullopt returned.
    std::optional<RunResult> wait_until(Clock::time_point deadline);
    RunResult wait();
    // Whether the child ended by a signal (valid after a wait).
    bool signalled() const { return m_signalled; }

private:
    RunResult collect(int status);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    bool m_signalled = false;
};

} // namespace kelvo::test
