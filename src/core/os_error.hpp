#pragma once

#include <cerrno>
#include <string>

namespace kelvo {

// An operating-system error: the errno value, and optionally what was being
// done, so that a message can name the object ("cannot enter /x: ...").
struct OsError {
    int code = 0;
    std::string context;

    // The error captured from errno, with optional context.
    static OsError last(std::string context = {}) { return OsError{errno, std::move(context)}; }

    bool not_found() const { return code == ENOENT; }
    // The system's text for the code alone.
    std::string system_message() const;
    // "context: system message", or the system message alone.
    std::string message() const;
};

} // namespace kelvo
