#pragma once

#include "core/os_error.hpp"

#include <string>
#include <variant>
#include <vector>

namespace kelvo::git {

// Everything that can go wrong when running git, as one value.
class GitError {
public:
    // No executable named "git" on the search path.
    struct GitNotFound {};
    // git ran and failed: its exit code (-1 when a signal ended it) and its
    // standard error, decoded and trimmed. (Not named "stderr": that is a
    // macro on some platforms.)
    struct CommandFailed {
        int status = 0;
        std::string stderr_text;
    };
    // An operating-system error around the run (spawn, pipes, directories).
    struct Io {
        OsError error;
    };
    // Any other refusal, with its message.
    struct Other {
        std::string message;
    };

    using Kind = std::variant<GitNotFound, CommandFailed, Io, Other>;

    GitError(GitNotFound kind) : m_kind(kind) {}
    GitError(CommandFailed kind) : m_kind(std::move(kind)) {}
    GitError(Io kind) : m_kind(std::move(kind)) {}
    GitError(Other kind) : m_kind(std::move(kind)) {}

    const Kind& kind() const { return m_kind; }
    // The variant's payload, or null when the error is of another kind.
    template <class T> const T* get_if() const { return std::get_if<T>(&m_kind); }

    // "git not found on PATH", "git failed ({status}): {stderr}",
    // "io: {os error}" or the message of Other.
    std::string message() const;
    // For Io the operating-system error's text; empty otherwise.
    std::vector<std::string> causes() const;

private:
    Kind m_kind;
};

} // namespace kelvo::git
