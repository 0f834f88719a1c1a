#pragma once

// The loaded state file and the operations that change it. Every change is
// saved (atomically, by rename of a fully written temporary file) before
// the operation returns; a failed save takes the change back in memory.

#include "core/model.hpp"
#include "core/result.hpp"
#include "store/file_system.hpp"
#include "store/state_lock.hpp"
#include "store/store_data.hpp"
#include "store/store_error.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvo::store {

struct AddedProject {
    ProjectId id;
    bool existed = false; // true when the path was already registered
};

class Store {
public:
    // $HOME (when set and not empty), else the user database's home
    // directory, joined with "Library/Application Support/kelvo"; "./kelvo"
    // when neither gives one.
    static Path data_dir();

    // Opens data_dir()/state.json; see open().
    static Result<Store, StoreError> open_default();
    // How long open_default waits for the state lock: KELVO_LOCK_TIMEOUT_MS
    // when it holds a whole number of milliseconds (at most a day), else
    // kLockWait.
    static std::chrono::milliseconds lock_wait();

    // Creates the file's directory, takes the state lock (held until the
    // Store is destroyed), and loads the file; a missing file gives the
    // default document and writes nothing. A document older than the
    // current schema is saved back at once.
    static Result<Store, StoreError> open(Path state_file, FileSystem& fs = real_file_system(),
                                          std::chrono::milliseconds lock_wait = kLockWait);

    Store(Store&&) noexcept = default;
    Store& operator=(Store&&) noexcept = default;

    const Path& path() const { return m_path; }
    const StoreData& data() const { return m_data; }

    // Writes the whole document to ".{name}.tmp-{pid}-{nanos}" beside the
    // state file, flushes it, renames it over the state file and flushes
    // the directory. The new file keeps the old one's permission bits. On
    // failure the temporary file is removed.
    Result<void, StoreError> save();

    // Registers the project unless one with a paths_equal main path exists,
    // whose id is then returned with `existed` set and nothing is saved.
    Result<AddedProject, StoreError> add_project(Project project);

    // Sets the project's quick base and saves; StoreError::NotFound for an
    // unknown id. A failed save keeps the new value in memory.
    Result<void, StoreError> set_quick_base(const ProjectId& project, std::string base);

    // Copies of the project's threads in stored order.
    std::vector<AgentThread> threads_for_project(const ProjectId& project) const;

    // Appends the thread and saves.
    Result<AgentThread, StoreError> insert_thread(AgentThread thread);

    // Removes the thread, its bindings and its selection, and saves (also
    // when nothing matched).
    Result<void, StoreError> remove_thread(const ThreadId& thread);

    // The project's Git worktree thread for the path, created (with the
    // canonical path and the agent recorded for it) when missing.
    Result<AgentThread, StoreError> ensure_git_thread(const ProjectId& project, Path worktree,
                                                      std::string title);

    // The agent recorded for the path: an entry equal to its canonical form,
    // else one that is paths_equal to it.
    std::optional<AgentKind> agent_for_worktree(const Path& path) const;

    // A new directory thread, titled `title` or the first free "Thread {n}"
    // from n = the project's thread count + 1. StoreError::NotFound unless
    // the project exists and is a directory project.
    Result<AgentThread, StoreError> create_directory_thread(const ProjectId& project, Path dir,
                                                            std::optional<std::string> title);

    // The project's first thread, whatever its workspace; a new directory
    // thread when it has none.
    Result<AgentThread, StoreError> ensure_directory_thread(const ProjectId& project, Path dir);

private:
    Store(Path path, StoreData data, FileSystem& fs, StateLock lock);

    Path m_path;
    StoreData m_data;
    FileSystem* m_fs;
    StateLock m_lock;
};

} // namespace kelvo::store
