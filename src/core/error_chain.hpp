#pragma once

#include "core/os_error.hpp"

#include <string>
#include <vector>

// clang-format 14 cannot lay out requires-clauses.
// clang-format off

namespace kelvo {

// What every command handler returns on failure: an outermost message and
// its causes, nearest first. Subsystem errors (StoreError, GitError) expose
// message() and causes() and convert through from().
class ErrorChain {
public:
    // A plain message with no cause.
    explicit ErrorChain(std::string message, std::vector<std::string> causes = {});

    // A message with an operating-system error as its one cause.
    static ErrorChain with_cause(std::string message, const OsError& cause);
    // An operating-system error as the outermost message.
    static ErrorChain from_os(const OsError& error);
    // A subsystem error: its message is outermost, its causes follow.
    template <class E>
        requires requires(const E& e) {
            { e.message() } -> std::convertible_to<std::string>;
            { e.causes() } -> std::convertible_to<std::vector<std::string>>;
        }
    static ErrorChain from(const E& error) {
        return ErrorChain(error.message(), error.causes());
    }

    const std::string& message() const { return m_message; }
    const std::vector<std::string>& causes() const { return m_causes; }

    // The report written to standard error at exit: "Error: ..." and, when
    // there are causes, a blank line, "Caused by:" and one line per cause.
    std::string report() const;

private:
    std::string m_message;
    std::vector<std::string> m_causes;
};

// clang-format on
} // namespace kelvo
