#pragma once

#include "core/os_error.hpp"

#include <cstdint>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace kelvo::store {

namespace store_error {
// An operating-system failure; `text` is its own message (with the object
// it concerns), `code` the errno value or 0 when none applies.
struct Io {
    int code = 0;
    std::string text;
    friend bool operator==(const Io&, const Io&) = default;
};
// A JSON reader or writer failure with its message.
struct Json {
    std::string text;
    friend bool operator==(const Json&, const Json&) = default;
};
struct NotFound {
    friend bool operator==(const NotFound&, const NotFound&) = default;
};
struct ProviderSessionConflict {
    friend bool operator==(const ProviderSessionConflict&,
                           const ProviderSessionConflict&) = default;
};
// A document of a newer schema. `found_digits` holds the stored number when
// it is too large for `found` (which then saturates).
struct UnsupportedSchema {
    std::uint64_t found = 0;
    std::uint32_t supported = 0;
    std::string found_digits;
    friend bool operator==(const UnsupportedSchema&, const UnsupportedSchema&) = default;
};
} // namespace store_error

// The store's error. message() is its display text; Io and Json report
// their carried error as the one cause, so the front end shows it under
// "Caused by:".
class StoreError {
public:
    using Kind = std::variant<store_error::Io, store_error::Json, store_error::NotFound,
                              store_error::ProviderSessionConflict, store_error::UnsupportedSchema>;

    StoreError(Kind kind) : m_kind(std::move(kind)) {}

    static StoreError io(const OsError& error);
    static StoreError io(int code, std::string text);
    static StoreError json(std::string text);
    static StoreError not_found();
    static StoreError unsupported_schema(std::uint64_t found, std::uint32_t supported,
                                         std::string found_digits = {});

    const Kind& kind() const { return m_kind; }
    template <class T> bool is() const { return std::holds_alternative<T>(m_kind); }
    // Another of our processes held the state lock for longer than open
    // waits: the store exists but could not be had.
    bool lock_timed_out() const;

    // "io: {}", "json: {}", "project not found",
    // "provider session is already bound to another thread",
    // "state schema {} is newer than supported schema {}".
    std::string message() const;
    // The carried error's text for Io and Json; nothing otherwise.
    std::vector<std::string> causes() const;
    // The variant and its fields, e.g. UnsupportedSchema { found: 4, supported: 3 }.
    std::string debug() const;

    friend bool operator==(const StoreError&, const StoreError&) = default;
    friend std::ostream& operator<<(std::ostream& out, const StoreError& e) {
        return out << e.debug();
    }

private:
    Kind m_kind;
};

} // namespace kelvo::store
