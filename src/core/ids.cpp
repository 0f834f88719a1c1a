#include "core/ids.hpp"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace kelvo {

Uuid Uuid::random() {
    Bytes b;
    if (::getentropy(b.data(), b.size()) != 0) {
        std::perror("kelvo-cli: no random bytes from the operating system");
        std::abort();
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    return Uuid(b);
}

namespace {

constexpr bool is_dash_position(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    Bytes b{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_dash_position(i)) {
            if (text[i] != '-')
                return std::nullopt;
            continue;
        }
        const int v = hex_value(text[i]);
        if (v < 0)
            return std::nullopt;
        b[nibble / 2] = static_cast<std::uint8_t>(b[nibble / 2] | (nibble % 2 ? v : v << 4));
        ++nibble;
    }
    return Uuid(b);
}

std::string Uuid::to_string() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += digits[m_bytes[i] >> 4];
        out += digits[m_bytes[i] & 0x0F];
    }
    return out;
}

} // namespace kelvo
