#pragma once

// The store's disk access, behind an interface of our own so that tests can
// make any single step of a save fail.

#include "core/model.hpp"
#include "core/os_error.hpp"
#include "core/process.hpp"
#include "core/result.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kelvo::store {

using process::Fd;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The directory and any missing ancestors, mode 0777 before the umask.
    virtual Result<void, OsError> create_directories(const Path& dir) = 0;
    // Whether the path exists: false for ENOENT, an error for other failures.
    virtual Result<bool, OsError> exists(const Path& path) = 0;
    // The permission bits of an existing file, or nullopt when it has none.
    virtual std::optional<mode_t> permissions(const Path& path) = 0;
    // The whole file; a directory fails (EISDIR).
    virtual Result<std::string, OsError> read_file(const Path& path) = 0;
    // A new file for writing with the given mode before the umask; fails
    // when the name exists.
    virtual Result<Fd, OsError> create_exclusive(const Path& path, mode_t mode) = 0;
    // Sets the permission bits of an open file exactly (no umask).
    virtual Result<void, OsError> set_permissions(const Fd& fd, mode_t mode) = 0;
    // One write call (retried on EINTR); returns how many bytes it took.
    virtual Result<std::size_t, OsError> write(const Fd& fd, const char* data,
                                               std::size_t size) = 0;
    // Flushes the file to stable storage (F_FULLFSYNC where there is one).
    virtual Result<void, OsError> full_sync(const Fd& fd) = 0;
    // Atomically replaces `to` with `from`.
    virtual Result<void, OsError> rename(const Path& from, const Path& to) = 0;
    // Opens the directory and flushes it like full_sync.
    virtual Result<void, OsError> sync_directory(const Path& dir) = 0;
    // Removes the file; errors are ignored.
    virtual void remove(const Path& path) = 0;
};

// The operating system's file system.
class RealFileSystem : public FileSystem {
public:
    Result<void, OsError> create_directories(const Path& dir) override;
    Result<bool, OsError> exists(const Path& path) override;
    std::optional<mode_t> permissions(const Path& path) override;
    Result<std::string, OsError> read_file(const Path& path) override;
    Result<Fd, OsError> create_exclusive(const Path& path, mode_t mode) override;
    Result<void, OsError> set_permissions(const Fd& fd, mode_t mode) override;
    Result<std::size_t, OsError> write(const Fd& fd, const char* data, std::size_t size) override;
    Result<void, OsError> full_sync(const Fd& fd) override;
    Result<void, OsError> rename(const Path& from, const Path& to) override;
    Result<void, OsError> sync_directory(const Path& dir) override;
    void remove(const Path& path) override;
};

// A process-wide RealFileSystem.
FileSystem& real_file_system();

} // namespace kelvo::store
