#include "core/os_error.hpp"

#include <system_error>

namespace kelvo {

std::string OsError::system_message() const {
    return std::generic_category().message(code);
}

std::string OsError::message() const {
    if (context.empty())
        return system_message();
    return context + ": " + system_message();
}

} // namespace kelvo
