#include "core/process.hpp"

#include "core/text.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvo::process {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other)
        reset(other.release());
    return *this;
}

void Fd::reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::string ExitStatus::describe() const {
    if (code)
        return "exit status: " + std::to_string(*code);
    if (signal) {
        std::string out = "signal: " + std::to_string(*signal);
#if defined(__GLIBC__)
        if (const char* name = ::sigabbrev_np(*signal))
            out += std::string(" (SIG") + name + ")";
#else
        if (*signal > 0 && *signal < NSIG)
            out += std::string(" (SIG") + ::sys_signame[*signal] + ")";
#endif
        return out;
    }
    return "unknown status";
}

namespace {

// posix_spawn_file_actions_t and posix_spawnattr_t with their destructors.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

Result<std::pair<Fd, Fd>, OsError> make_pipe() {
    int fds[2];
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return fail(OsError::last());
    return std::pair{Fd(fds[0]), Fd(fds[1])};
#else
    // No pipe2() here: the flag is set afterwards, which is safe because
    // this program never spawns from two threads at once.
    if (::pipe(fds) != 0)
        return fail(OsError::last());
    Fd read_end(fds[0]), write_end(fds[1]);
    for (int fd : fds)
        if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
            return fail(OsError::last());
    return std::pair{std::move(read_end), std::move(write_end)};
#endif
}

// The environment for the child: ours, with the command's entries on top.
class Environment {
public:
    explicit Environment(const Command& command) {
        if (command.env.empty())
            return;
        for (char** e = environ; *e; ++e) {
            std::string_view entry(*e);
            const auto eq = entry.find('=');
            const std::string_view name = entry.substr(0, eq);
            bool replaced = false;
            for (const auto& [key, value] : command.env)
                replaced = replaced || key == name;
            if (!replaced)
                m_storage.emplace_back(entry);
        }
        // A later entry for the same name wins.
        for (std::size_t i = 0; i < command.env.size(); ++i) {
            bool overridden = false;
            for (std::size_t j = i + 1; j < command.env.size(); ++j)
                overridden = overridden || command.env[j].first == command.env[i].first;
            if (!overridden)
                m_storage.push_back(command.env[i].first + "=" + command.env[i].second);
        }
        for (auto& s : m_storage)
            m_pointers.push_back(s.data());
        m_pointers.push_back(nullptr);
    }
    char** get() { return m_pointers.empty() ? environ : m_pointers.data(); }

private:
    std::vector<std::string> m_storage;
    std::vector<char*> m_pointers;
};

Result<void, OsError> check_directory(const Command& command) {
    if (!command.cwd)
        return {};
    struct stat st;
    const std::string context = "cannot enter " + text::display(*command.cwd);
    if (::stat(command.cwd->c_str(), &st) != 0)
        return fail(OsError::last(context));
    if (!S_ISDIR(st.st_mode))
        return fail(OsError{ENOTDIR, context});
    return {};
}

Result<pid_t, OsError> spawn(const Command& command, FileActions& fa) {
    if (command.cwd && ::posix_spawn_file_actions_addchdir_np(&fa.actions, command.cwd->c_str()))
        return fail(OsError::last());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const auto& a : command.args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Environment env(command);
    pid_t pid;
    const int rc =
        ::posix_spawnp(&pid, command.program.c_str(), &fa.actions, nullptr, argv.data(), env.get());
    if (rc != 0)
        return fail(OsError{rc, {}});
    return pid;
}

Result<ExitStatus, OsError> wait_for(pid_t pid) {
    int status;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return fail(OsError::last());
    }
    ExitStatus result;
    if (WIFEXITED(status))
        result.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}

} // namespace

Result<Output, OsError> run_captured(const Command& command) {
    if (auto ok = check_directory(command); !ok)
        return fail(std::move(ok).error());
    auto out_pipe = make_pipe();
    if (!out_pipe)
        return fail(out_pipe.error());
    auto err_pipe = make_pipe();
    if (!err_pipe)
        return fail(err_pipe.error());
    auto& [out_read, out_write] = *out_pipe;
    auto& [err_read, err_write] = *err_pipe;

    FileActions fa;
    ::posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&fa.actions, out_write.get(), 1);
    ::posix_spawn_file_actions_adddup2(&fa.actions, err_write.get(), 2);
    auto pid = spawn(command, fa);
    out_write.reset();
    err_write.reset();
    if (!pid)
        return fail(pid.error());

    Output output;
    pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
    std::string* sinks[2] = {&output.out, &output.err};
    std::optional<OsError> read_error;
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            read_error = OsError::last();
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                if (n < 0 && !read_error)
                    read_error = OsError::last();
                fds[i].fd = -1;
                --open;
            }
        }
    }
    // Always reap the child, even after a read failure; closing our ends
    // first means it cannot block on a pipe nobody reads.
    out_read.reset();
    err_read.reset();
    auto status = wait_for(*pid);
    if (read_error)
        return fail(*read_error);
    if (!status)
        return fail(status.error());
    output.status = *status;
    return output;
}

Result<ExitStatus, OsError> run_foreground(const Command& command) {
    if (auto ok = check_directory(command); !ok)
        return fail(std::move(ok).error());
    FileActions fa;
    auto pid = spawn(command, fa);
    if (!pid)
        return fail(pid.error());
    return wait_for(*pid);
}

} // namespace kelvo::process
