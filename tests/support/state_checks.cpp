#include "support/state_checks.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvo::test {

std::vector<std::string> StateSnapshot::project_paths() const {
    std::vector<std::string> out;
    for (const auto& p : projects)
        out.push_back(p.main_path);
    return out;
}

std::vector<ThreadEntry> StateSnapshot::threads_at(const std::string& path) const {
    std::vector<ThreadEntry> out;
    for (const auto& t : threads)
        if (t.workspace_path == path)
            out.push_back(t);
    return out;
}

namespace {

using Json = nlohmann::ordered_json;

std::string string_member(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw std::runtime_error(std::string("member \"") + key + "\" is not a string");
    return it->get<std::string>();
}

const Json& array_member(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array())
        throw std::runtime_error(std::string("member \"") + key + "\" is not an array");
    return *it;
}

} // namespace

StateSnapshot parse_state_text(std::string text) {
    StateSnapshot snap;
    snap.exists = true;
    snap.text = std::move(text);
    try {
        const Json doc = Json::parse(snap.text);
        if (!doc.is_object())
            throw std::runtime_error("the document is not an object");
        for (const auto& p : array_member(doc, "projects")) {
            if (!p.is_object())
                throw std::runtime_error("a project is not an object");
            snap.projects.push_back({string_member(p, "id"), string_member(p, "name"),
                                     string_member(p, "main_path"), string_member(p, "kind"),
                                     p.dump()});
        }
        for (const auto& t : array_member(doc, "threads")) {
            if (!t.is_object() || !t.contains("workspace") || !t["workspace"].is_object())
                throw std::runtime_error("a thread or its workspace is not an object");
            const Json& ws = t["workspace"];
            snap.threads.push_back({string_member(t, "id"), string_member(t, "project_id"),
                                    string_member(t, "title"), string_member(ws, "kind"),
                                    string_member(ws, "path")});
        }
    } catch (const std::exception& e) {
        snap.error = e.what();
    }
    return snap;
}

StateSnapshot read_state(const Path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !ec)
        return StateSnapshot{};
    try {
        return parse_state_text(read_file(file));
    } catch (const std::exception& e) {
        // Gone between the check and the read is impossible for a file that
        // is only ever replaced by rename; anything else is worth a look.
        StateSnapshot snap;
        snap.exists = true;
        snap.error = e.what();
        return snap;
    }
}

std::vector<Path> leftover_temp_files(const Path& state_file) {
    const std::string prefix = "." + state_file.filename().string() + ".tmp-";
    std::vector<Path> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(state_file.parent_path(), ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(entry.path());
    }
    return out;
}

int env_count(const char* name, int fallback) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return fallback;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    return (*end == '\0' && n > 0 && n < 1'000'000) ? static_cast<int>(n) : fallback;
}

namespace {

// An anonymous file: created exclusively, close-on-exec from the start (the
// tests spawn from several threads), and unlinked at once.
int anonymous_file() {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        const Path name =
            std::filesystem::temp_directory_path() / ("kelvo-child-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(counter.fetch_add(1)));
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlink(name.c_str());
            return fd;
        }
        if (errno != EEXIST)
            throw std::runtime_error("cannot create a temporary output file");
    }
}

std::string read_all(int fd) {
    std::string out;
    char buf[8192];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace

KelvoProcess::KelvoProcess(const std::vector<std::string>& args, const Path& home,
                           const std::optional<Path>& cwd, const Env& env) {
    Env overrides = hermetic_git_env();
    overrides.emplace_back("HOME", home.string());
    bool color_set = false;
    for (const auto& entry : env)
        color_set = color_set || entry.first == "NO_COLOR";
    if (!color_set)
        overrides.emplace_back("NO_COLOR", "1");
    overrides.insert(overrides.end(), env.begin(), env.end());

    std::vector<std::string> env_storage;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& o : overrides)
            replaced = replaced || o.first == name;
        if (!replaced)
            env_storage.push_back(entry);
    }
    // getenv takes the first of duplicates; of ours, the later entry wins.
    for (std::size_t i = 0; i < overrides.size(); ++i) {
        bool overridden = false;
        for (std::size_t j = i + 1; j < overrides.size(); ++j)
            overridden = overridden || overrides[j].first == overrides[i].first;
        if (!overridden)
            env_storage.push_back(overrides[i].first + "=" + overrides[i].second);
    }
    std::vector<char*> envp;
    for (auto& s : env_storage)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> arg_storage{KELVO_CLI_PATH};
    arg_storage.insert(arg_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : arg_storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    m_out = anonymous_file();
    m_err = anonymous_file();
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, m_out, 1);
    ::posix_spawn_file_actions_adddup2(&actions, m_err, 2);
    if (cwd)
        ::posix_spawn_file_actions_addchdir_np(&actions, cwd->c_str());
    const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("cannot spawn " + arg_storage[0]);
    }
}

KelvoProcess::~KelvoProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_out >= 0)
        ::close(m_out);
    if (m_err >= 0)
        ::close(m_err);
}

void KelvoProcess::kill(int signal) {
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

RunResult KelvoProcess::collect(int status) {
    m_pid = -1;
    RunResult result;
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = 128 + WTERMSIG(status);
        m_signalled = true;
    }
    result.out = read_all(m_out);
    result.err = read_all(m_err);
    return result;
}

std::optional<RunResult> KelvoProcess::wait_until(Clock::time_point deadline) {
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        int status;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
            return collect(status);
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (Clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            collect(status);
            return std::nullopt;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

RunResult KelvoProcess::wait() {
    int status;
    while (::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    }
    return collect(status);
}

} // namespace kelvo::test
