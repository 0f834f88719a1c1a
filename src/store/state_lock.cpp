#include "store/state_lock.hpp"

#include "core/text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace kelvo::store {

Path lock_path_for(const Path& state_file) {
    return state_file.parent_path() / ("." + state_file.filename().native() + ".lock");
}

Result<StateLock, StoreError> StateLock::acquire(const Path& lock_file,
                                                 std::chrono::milliseconds wait) {
    const std::string shown = text::display(lock_file);
    const auto open_lock = [&](int flags) {
        int raw;
        do {
            raw = ::open(lock_file.c_str(), flags | O_CLOEXEC, 0666);
        } while (raw < 0 && errno == EINTR);
        return process::Fd(raw);
    };
    process::Fd fd = open_lock(O_RDWR | O_CREAT);
    if (!fd)
        fd = open_lock(O_RDONLY);
    // Where no lock file can be made (a read-only data directory) no save can
    // succeed either, so reading proceeds unlocked.
    if (!fd)
        return StateLock(std::move(fd));

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
            return StateLock(std::move(fd));
        // A file system without flock gets the unlocked behaviour.
        if (errno != EWOULDBLOCK && errno != EINTR)
            return StateLock(process::Fd());
        const auto now = Clock::now();
        if (now >= deadline)
            return fail(StoreError::io(ETIMEDOUT, "timed out waiting for the state lock " + shown));
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

} // namespace kelvo::store
