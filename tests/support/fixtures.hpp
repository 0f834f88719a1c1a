#pragma once

// Shared test fixtures: scratch directories, hermetic git repositories and a
// way to run the built kelvo-cli binary.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo::test {

using Path = std::filesystem::path;
using Env = std::vector<std::pair<std::string, std::string>>;

// A fresh directory under the system's temporary directory, removed on
// destruction unless KELVO_KEEP_TEST_DIRS is set.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The canonical path (symbolic links resolved).
    const Path& path() const { return m_path; }
    Path operator/(const Path& rest) const { return m_path / rest; }

private:
    Path m_path;
};

std::string read_file(const Path& path);
void write_file(const Path& path, const std::string& content);

// Points this process's git at a configuration file of the test's own
// (identity, default branch "main", no system configuration), so that git
// run by the tests and by the code under test is hermetic. Idempotent.
void use_hermetic_git();
// The variables use_hermetic_git() sets, for child processes.
const Env& hermetic_git_env();

struct RunResult {
    int status = -1; // exit code, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program (looked up in PATH) with extra environment entries;
// standard input is the null device.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::optional<Path>& cwd = std::nullopt, const Env& env = {});

// Runs git in dir and returns its standard output; a failure fails the test.
std::string git(const Path& dir, const std::vector<std::string>& args);

// Makes a repository at dir (created if missing) on branch "main" with one
// commit, and returns its canonical path.
Path make_repo(const Path& dir);

// Runs the built kelvo-cli with HOME set to home, NO_COLOR=1 unless env sets
// it, the hermetic git configuration, and the extra entries of env.
RunResult run_kelvo(const std::vector<std::string>& args, const Path& home,
                    const std::optional<Path>& cwd = std::nullopt, const Env& env = {});

// The state file under a HOME.
Path state_file(const Path& home);

} // namespace kelvo::test
