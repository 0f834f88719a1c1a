#pragma once

// An advisory lock that serialises our own processes' load-change-save
// cycles on one state file. Other programs that ignore it (the desktop
// application) are unaffected.

#include "core/model.hpp"
#include "core/process.hpp"
#include "core/result.hpp"
#include "store/store_error.hpp"

#include <chrono>

namespace kelvo::store {

// How long open waits for another of our processes to finish with the file.
inline constexpr std::chrono::milliseconds kLockWait{30'000};

class StateLock {
public:
    // Takes an exclusive flock on lock_file (created if missing), retrying
    // until `wait` has passed; then StoreError::Io "timed out waiting for
    // the state lock {lock_file}". Where the lock file cannot be opened or
    // the file system has no flock, the result holds no lock.
    static Result<StateLock, StoreError> acquire(const Path& lock_file,
                                                 std::chrono::milliseconds wait = kLockWait);

    StateLock(StateLock&&) noexcept = default;
    StateLock& operator=(StateLock&&) noexcept = default;

    // Released by closing the descriptor.
    ~StateLock() = default;

    bool held() const { return static_cast<bool>(m_fd); }

private:
    explicit StateLock(process::Fd fd) : m_fd(std::move(fd)) {}
    process::Fd m_fd;
};

// The lock file beside a state file: ".{name}.lock".
Path lock_path_for(const Path& state_file);

} // namespace kelvo::store
