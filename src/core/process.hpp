#pragma once

// Child processes started from an argument list (never through a shell),
// looked up through PATH like execvp.

#include "core/os_error.hpp"
#include "core/result.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo::process {

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// How a child ended.
struct ExitStatus {
    std::optional<int> code;   // normal exit
    std::optional<int> signal; // killed by a signal

    bool success() const { return code && *code == 0; }
    // "exit status: 3", or "signal: 9 (SIGKILL)".
    std::string describe() const;
};

struct Command {
    std::string program;           // looked up in PATH when it has no "/"
    std::vector<std::string> args; // after the program name
    std::optional<std::filesystem::path> cwd;
    // Set on top of the inherited environment (replacing same-named ones).
    std::vector<std::pair<std::string, std::string>> env;
};

struct Output {
    ExitStatus status;
    std::string out;
    std::string err;
};

// Runs the command with standard input from the null device, collecting
// standard output and standard error whole (both drained at once, so the
// child can never block on a full pipe). A working directory that cannot be
// entered fails before anything starts, with context "cannot enter {dir}".
Result<Output, OsError> run_captured(const Command& command);

// Runs the command with the standard streams inherited and waits for it.
Result<ExitStatus, OsError> run_foreground(const Command& command);

} // namespace kelvo::process
