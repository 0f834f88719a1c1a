#include "core/text.hpp"

#include <cstdint>

namespace kelvo::text {

namespace {

// Length of the valid UTF-8 sequence at the start of bytes, or 0 when it is
// invalid; `consumed` is then the length of its maximal subpart (at least 1).
std::size_t decode(std::string_view bytes, std::size_t& consumed, std::uint32_t* cp = nullptr) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = b(0);
    consumed = 1;
    if (lead < 0x80) {
        if (cp)
            *cp = lead;
        return 1;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    std::uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
        if (lead == 0xE0)
            lo = 0xA0;
        if (lead == 0xED)
            hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= bytes.size())
            return 0;
        const unsigned char c = b(i);
        if (c < lo || c > hi)
            return 0;
        lo = 0x80;
        hi = 0xBF;
        value = (value << 6) | (c & 0x3F);
        consumed = i + 1;
    }
    if (cp)
        *cp = value;
    return need + 1;
}

bool is_white_space(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

} // namespace

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        // State files and git output are mostly ASCII: skip it byte by byte
        // without the decoder.
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t consumed;
        const std::size_t n = decode(bytes.substr(i), consumed);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string lossy_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            out += bytes[i++];
            continue;
        }
        std::size_t consumed;
        const std::size_t n = decode(bytes.substr(i), consumed);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += consumed;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string_view trim(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t consumed;
        std::uint32_t cp;
        const std::size_t n = decode(text.substr(begin), consumed, &cp);
        if (n == 0 || !is_white_space(cp))
            break;
        begin += n;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last character.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 &&
               end - start < 4)
            --start;
        std::size_t consumed;
        std::uint32_t cp;
        const std::size_t n = decode(text.substr(start, end - start), consumed, &cp);
        if (n != end - start || !is_white_space(cp))
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace kelvo::text
