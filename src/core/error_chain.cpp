#include "core/error_chain.hpp"

#include <cstdio>

namespace kelvo {

ErrorChain::ErrorChain(std::string message, std::vector<std::string> causes)
    : m_message(std::move(message)), m_causes(std::move(causes)) {}

ErrorChain ErrorChain::with_cause(std::string message, const OsError& cause) {
    return ErrorChain(std::move(message), {cause.message()});
}

ErrorChain ErrorChain::from_os(const OsError& error) {
    return ErrorChain(error.message());
}

namespace {

// Appends text, indenting every line after the first.
void append_indented(std::string& out, const std::string& text, const std::string& indent) {
    for (char c : text) {
        out += c;
        if (c == '\n')
            out += indent;
    }
}

} // namespace

std::string ErrorChain::report() const {
    std::string out = "Error: " + m_message;
    if (!m_causes.empty()) {
        out += "\n\nCaused by:";
        const bool numbered = m_causes.size() > 1;
        const std::string indent(numbered ? 7 : 4, ' ');
        for (std::size_t i = 0; i < m_causes.size(); ++i) {
            out += '\n';
            if (numbered) {
                char index[32];
                std::snprintf(index, sizeof index, "%5zu: ", i);
                out += index;
            } else {
                out += indent;
            }
            append_indented(out, m_causes[i], indent);
        }
    }
    out += '\n';
    return out;
}

} // namespace kelvo
