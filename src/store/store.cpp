#include "store/store.hpp"

#include "core/log.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"
#include "core/timestamp.hpp"
#include "store/paths_equal.hpp"
#include "store/state_format.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <set>
#include <unistd.h>

namespace kelvo::store {

namespace {

std::optional<Path> user_database_home() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 4096);
    for (;;) {
        struct passwd pw;
        struct passwd* found = nullptr;
        const int rc = ::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found);
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc != 0 || !found || !found->pw_dir || !*found->pw_dir)
            return std::nullopt;
        return Path(found->pw_dir);
    }
}

std::string temp_name(const Path& state_file) {
    std::string name = state_file.filename().native();
    if (!text::is_valid_utf8(name))
        name = "state.json";
    const auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    return "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
           std::to_string(since_epoch < 0 ? 0 : since_epoch);
}

} // namespace

Store::Store(Path path, StoreData data, FileSystem& fs, StateLock lock)
    : m_path(std::move(path)), m_data(std::move(data)), m_fs(&fs), m_lock(std::move(lock)) {}

Path Store::data_dir() {
    std::optional<Path> home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = Path(env);
    else
        home = user_database_home();
    if (!home)
        return Path(".") / "kelvo";
    return *home / "Library" / "Application Support" / "kelvo";
}

std::chrono::milliseconds Store::lock_wait() {
    // Whole milliseconds; anything else (or nothing) means the default.
    const char* env = std::getenv("KELVO_LOCK_TIMEOUT_MS");
    if (!env || !*env)
        return kLockWait;
    char* end = nullptr;
    errno = 0;
    const unsigned long long ms = std::strtoull(env, &end, 10);
    if (*end != '\0' || errno == ERANGE || *env == '-' || ms > 24ull * 3600 * 1000)
        return kLockWait;
    return std::chrono::milliseconds(ms);
}

Result<Store, StoreError> Store::open_default() {
    return open(data_dir() / "state.json", real_file_system(), lock_wait());
}

Result<Store, StoreError> Store::open(Path state_file, FileSystem& fs,
                                      std::chrono::milliseconds lock_wait) {
    if (auto made = fs.create_directories(state_file.parent_path()); !made)
        return fail(StoreError::io(made.error()));
    auto lock = StateLock::acquire(lock_path_for(state_file), lock_wait);
    if (!lock)
        return fail(std::move(lock).error());

    // Only a file that is really absent means a fresh store; any other
    // failure to look must not pass for an empty registry.
    auto exists = fs.exists(state_file);
    if (!exists)
        return fail(StoreError::io(exists.error()));
    if (!*exists)
        return Store(std::move(state_file), StoreData{}, fs, std::move(lock).value());

    auto content = fs.read_file(state_file);
    if (!content)
        return fail(StoreError::io(content.error()));
    if (!text::is_valid_utf8(*content))
        return fail(StoreError::io(EILSEQ, "cannot read " + text::display(state_file) +
                                               ": stream did not contain valid UTF-8"));
    auto parsed = parse_state(*content);
    if (!parsed)
        return fail(std::move(parsed).error());

    const bool outdated = parsed->stored_version != kSchemaVersion;
    Store store(std::move(state_file), std::move(parsed->data), fs, std::move(lock).value());
    if (outdated) {
        if (auto saved = store.save(); !saved)
            return fail(std::move(saved).error());
    }
    return store;
}

Result<void, StoreError> Store::save() {
    const Path dir = m_path.parent_path();
    if (auto made = m_fs->create_directories(dir); !made)
        return fail(StoreError::io(made.error()));
    auto rendered = render_state(m_data);
    if (!rendered)
        return fail(std::move(rendered).error());
    const std::string& bytes = *rendered;

    const Path temp = dir / temp_name(m_path);
    const std::optional<mode_t> old_mode = m_fs->permissions(m_path);
    auto created = m_fs->create_exclusive(temp, 0666);
    if (!created)
        return fail(StoreError::io(created.error()));
    Fd fd = std::move(created).value();

    const auto abandon = [&](StoreError error) -> Result<void, StoreError> {
        fd.reset();
        m_fs->remove(temp);
        return fail(std::move(error));
    };

    // Readers may hold credentials in the preferences: the replacement must
    // not be more widely readable than the file it replaces.
    if (old_mode) {
        if (auto set = m_fs->set_permissions(fd, *old_mode); !set)
            return abandon(StoreError::io(set.error()));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto wrote = m_fs->write(fd, bytes.data() + done, bytes.size() - done);
        if (!wrote)
            return abandon(StoreError::io(wrote.error()));
        if (*wrote == 0)
            return abandon(StoreError::io(EIO, "failed to write whole buffer"));
        done += *wrote;
    }
    if (auto synced = m_fs->full_sync(fd); !synced)
        return abandon(StoreError::io(synced.error()));
    if (auto renamed = m_fs->rename(temp, m_path); !renamed)
        return abandon(StoreError::io(renamed.error()));
    if (!dir.empty()) {
        if (auto synced = m_fs->sync_directory(dir); !synced)
            return abandon(StoreError::io(synced.error()));
    }
    return {};
}

Result<AddedProject, StoreError> Store::add_project(Project project) {
    const PathMatcher same(project.main_path);
    for (const auto& existing : m_data.projects) {
        if (same.matches(existing.main_path))
            return AddedProject{existing.id, true};
    }
    log::info("kelvo_store", "add project",
              {{"name", project.name}, {"path", text::display(project.main_path)}});
    const ProjectId id = project.id;
    m_data.projects.push_back(std::move(project));
    if (auto saved = save(); !saved) {
        m_data.projects.pop_back();
        return fail(std::move(saved).error());
    }
    return AddedProject{id, false};
}

Result<void, StoreError> Store::set_quick_base(const ProjectId& project, std::string base) {
    auto it = std::find_if(m_data.projects.begin(), m_data.projects.end(),
                           [&](const Project& p) { return p.id == project; });
    if (it == m_data.projects.end())
        return fail(StoreError::not_found());
    it->quick_base = std::move(base);
    return save();
}

std::vector<AgentThread> Store::threads_for_project(const ProjectId& project) const {
    std::vector<AgentThread> out;
    for (const auto& t : m_data.threads) {
        if (t.project_id == project)
            out.push_back(t);
    }
    return out;
}

Result<AgentThread, StoreError> Store::insert_thread(AgentThread thread) {
    m_data.threads.push_back(thread);
    if (auto saved = save(); !saved) {
        m_data.threads.pop_back();
        return fail(std::move(saved).error());
    }
    return thread;
}

Result<void, StoreError> Store::remove_thread(const ThreadId& thread) {
    auto threads = m_data.threads;
    auto bindings = m_data.agent_bindings;
    const auto selected = m_data.last_selected_thread_id;

    std::erase_if(m_data.threads, [&](const AgentThread& t) { return t.id == thread; });
    std::erase_if(m_data.agent_bindings,
                  [&](const ThreadAgentBinding& b) { return b.thread_id == thread; });
    if (m_data.last_selected_thread_id == thread)
        m_data.last_selected_thread_id.reset();

    if (auto saved = save(); !saved) {
        m_data.threads = std::move(threads);
        m_data.agent_bindings = std::move(bindings);
        m_data.last_selected_thread_id = selected;
        return fail(std::move(saved).error());
    }
    return {};
}

Result<AgentThread, StoreError> Store::ensure_git_thread(const ProjectId& project, Path worktree,
                                                         std::string title) {
    const PathMatcher same(worktree);
    for (const auto& t : m_data.threads) {
        const auto* git = std::get_if<workspace::GitWorktree>(&t.workspace);
        if (t.project_id == project && git && same.matches(git->path))
            return t;
    }
    AgentThread thread;
    thread.id = ThreadId::random();
    thread.project_id = project;
    thread.title = std::move(title);
    thread.workspace = workspace::GitWorktree{paths::canonical_or_same(worktree)};
    thread.selected_agent = agent_for_worktree(worktree);
    thread.created_at = timestamp::now();
    thread.updated_at = thread.created_at;
    return insert_thread(std::move(thread));
}

std::optional<AgentKind> Store::agent_for_worktree(const Path& path) const {
    const auto& agents = m_data.worktree_agents;
    if (auto it = agents.find(paths::canonical_or_same(path)); it != agents.end())
        return it->second;
    const PathMatcher same(path);
    for (const auto& [key, kind] : agents) {
        if (same.matches(key))
            return kind;
    }
    return std::nullopt;
}

Result<AgentThread, StoreError> Store::create_directory_thread(const ProjectId& project, Path dir,
                                                               std::optional<std::string> title) {
    auto it = std::find_if(m_data.projects.begin(), m_data.projects.end(),
                           [&](const Project& p) { return p.id == project; });
    if (it == m_data.projects.end() || it->kind != ProjectKind::Directory)
        return fail(StoreError::not_found());

    // The first n from k + 1 upward that no thread of the project uses as
    // "Thread {n}".
    std::size_t count = 0;
    std::set<std::string> titles;
    for (const auto& t : m_data.threads) {
        if (t.project_id == project) {
            ++count;
            titles.insert(t.title);
        }
    }
    std::size_t n = count + 1;
    while (titles.contains("Thread " + std::to_string(n)))
        ++n;

    AgentThread thread;
    thread.id = ThreadId::random();
    thread.project_id = project;
    thread.title = title ? std::move(*title) : "Thread " + std::to_string(n);
    thread.workspace = workspace::Directory{paths::canonical_or_same(dir)};
    if (count == 0)
        thread.selected_agent = agent_for_worktree(dir);
    thread.created_at = timestamp::now();
    thread.updated_at = thread.created_at;
    return insert_thread(std::move(thread));
}

Result<AgentThread, StoreError> Store::ensure_directory_thread(const ProjectId& project, Path dir) {
    for (const auto& t : m_data.threads) {
        if (t.project_id == project)
            return t;
    }
    return create_directory_thread(project, std::move(dir), std::nullopt);
}

} // namespace kelvo::store
