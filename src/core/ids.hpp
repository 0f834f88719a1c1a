#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvo {

// A version 4 UUID; text form is 36 lower-case characters, 8-4-4-4-12.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : m_bytes(bytes) {}

    // 16 bytes from the OS entropy source with version 4 and variant 10;
    // stops the program if the OS cannot supply them.
    static Uuid random();
    // The 8-4-4-4-12 hexadecimal form, upper or lower case.
    static std::optional<Uuid> parse(std::string_view text);

    const Bytes& bytes() const { return m_bytes; }
    std::string to_string() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes m_bytes{};
};

// A UUID that names one kind of record; distinct Tags make distinct types.
template <class Tag> class Id {
public:
    constexpr Id() = default;
    constexpr explicit Id(const Uuid& uuid) : m_uuid(uuid) {}

    static Id random() { return Id(Uuid::random()); }
    static std::optional<Id> parse(std::string_view text) {
        auto uuid = Uuid::parse(text);
        return uuid ? std::optional<Id>(Id(*uuid)) : std::nullopt;
    }

    const Uuid& uuid() const { return m_uuid; }
    std::string to_string() const { return m_uuid.to_string(); }

    friend auto operator<=>(const Id&, const Id&) = default;

private:
    Uuid m_uuid;
};

using ProjectId = Id<struct ProjectTag>;
using ThreadId = Id<struct ThreadTag>;

} // namespace kelvo
