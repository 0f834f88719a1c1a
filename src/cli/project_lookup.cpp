#include "cli/project_lookup.hpp"

#include "core/text.hpp"

#include <cstdint>
#include <cstdio>

namespace kelvo::cli {

const Project* find_project(const std::vector<Project>& projects, std::string_view query) {
    for (const auto& p : projects) {
        if (p.name == query || text::display(p.main_path).find(query) != std::string::npos)
            return &p;
    }
    return nullptr;
}

namespace {

// Characters that would otherwise be invisible or reorder the line.
bool needs_escape(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF;
}

// Decodes one character of valid UTF-8 at text[i], advancing i.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    i += length;
    return cp;
}

} // namespace

std::string debug_quoted(std::string_view raw) {
    const std::string text = text::lossy_utf8(raw);
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const std::uint32_t cp = next_code_point(text, i);
        switch (cp) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (needs_escape(cp)) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text, start, i - start);
            }
        }
    }
    return out + '"';
}

std::string debug_optional(const std::optional<std::string>& value) {
    return value ? "Some(" + debug_quoted(*value) + ")" : "None";
}

} // namespace kelvo::cli
