#pragma once

// Environment changes in the test process that undo themselves.

#include <optional>
#include <string>

namespace kelvo::test {

// Sets (or, with nullopt, unsets) one variable; restores the earlier state
// on destruction.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_saved;
};

} // namespace kelvo::test
