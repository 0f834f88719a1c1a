#include "store/file_system.hpp"

#include "core/text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo::store {

namespace {

std::string shown(const Path& path) {
    return text::display(path);
}

template <class F> auto retry_eintr(F call) {
    for (;;) {
        auto r = call();
        if (r != -1 || errno != EINTR)
            return r;
    }
}

int full_sync_fd(int fd) {
#ifdef F_FULLFSYNC
    // Some file systems refuse F_FULLFSYNC; fsync is the best they offer.
    if (retry_eintr([&] { return ::fcntl(fd, F_FULLFSYNC); }) == 0)
        return 0;
    if (errno != ENOTSUP && errno != ENOTTY && errno != EINVAL)
        return -1;
#endif
    return retry_eintr([&] { return ::fsync(fd); });
}

} // namespace

Result<void, OsError> RealFileSystem::create_directories(const Path& dir) {
    if (dir.empty())
        return {};
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return {};
        return fail(OsError{ENOTDIR, "cannot create directory " + shown(dir)});
    }
    if (errno != ENOENT)
        return fail(OsError::last("cannot create directory " + shown(dir)));
    const Path parent = dir.parent_path();
    if (!parent.empty() && parent != dir) {
        auto made = create_directories(parent);
        if (!made)
            return made;
    }
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return fail(OsError::last("cannot create directory " + shown(dir)));
    return {};
}

Result<bool, OsError> RealFileSystem::exists(const Path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    return fail(OsError::last("cannot read the status of " + shown(path)));
}

std::optional<mode_t> RealFileSystem::permissions(const Path& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_mode & 07777;
}

Result<std::string, OsError> RealFileSystem::read_file(const Path& path) {
    const std::string context = "cannot read " + shown(path);
    Fd fd(retry_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
    if (!fd)
        return fail(OsError::last(context));
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t n = retry_eintr([&] { return ::read(fd.get(), buf, sizeof buf); });
        if (n < 0)
            return fail(OsError::last(context));
        if (n == 0)
            return content;
        content.append(buf, static_cast<std::size_t>(n));
    }
}

Result<Fd, OsError> RealFileSystem::create_exclusive(const Path& path, mode_t mode) {
    Fd fd(retry_eintr(
        [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); }));
    if (!fd)
        return fail(OsError::last("cannot create " + shown(path)));
    return fd;
}

Result<void, OsError> RealFileSystem::set_permissions(const Fd& fd, mode_t mode) {
    if (retry_eintr([&] { return ::fchmod(fd.get(), mode); }) != 0)
        return fail(OsError::last("cannot set the permissions of the new state file"));
    return {};
}

Result<std::size_t, OsError> RealFileSystem::write(const Fd& fd, const char* data,
                                                   std::size_t size) {
    const ssize_t n = retry_eintr([&] { return ::write(fd.get(), data, size); });
    if (n < 0)
        return fail(OsError::last("cannot write the new state file"));
    return static_cast<std::size_t>(n);
}

Result<void, OsError> RealFileSystem::full_sync(const Fd& fd) {
    if (full_sync_fd(fd.get()) != 0)
        return fail(OsError::last("cannot flush the new state file"));
    return {};
}

Result<void, OsError> RealFileSystem::rename(const Path& from, const Path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        return fail(OsError::last("cannot rename " + shown(from) + " to " + shown(to)));
    return {};
}

Result<void, OsError> RealFileSystem::sync_directory(const Path& dir) {
    const std::string context = "cannot flush directory " + shown(dir);
    Fd fd(retry_eintr([&] { return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!fd)
        return fail(OsError::last(context));
    if (full_sync_fd(fd.get()) != 0)
        return fail(OsError::last(context));
    return {};
}

void RealFileSystem::remove(const Path& path) {
    ::unlink(path.c_str());
}

FileSystem& real_file_system() {
    static RealFileSystem fs;
    return fs;
}

} // namespace kelvo::store
