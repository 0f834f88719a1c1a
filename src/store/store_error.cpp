#include "store/store_error.hpp"

#include <cerrno>

namespace kelvo::store {

using namespace store_error;

StoreError StoreError::io(const OsError& error) {
    return StoreError(Io{error.code, error.message()});
}

StoreError StoreError::io(int code, std::string text) {
    return StoreError(Io{code, std::move(text)});
}

StoreError StoreError::json(std::string text) {
    return StoreError(Json{std::move(text)});
}

StoreError StoreError::not_found() {
    return StoreError(NotFound{});
}

StoreError StoreError::unsupported_schema(std::uint64_t found, std::uint32_t supported,
                                          std::string found_digits) {
    return StoreError(UnsupportedSchema{found, supported, std::move(found_digits)});
}

namespace {

template <class... F> struct Overload : F... { using F::operator()...; };
template <class... F> Overload(F...) -> Overload<F...>;

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string found_text(const UnsupportedSchema& e) {
    return e.found_digits.empty() ? std::to_string(e.found) : e.found_digits;
}

} // namespace

std::string StoreError::message() const {
    return std::visit(
        Overload{
            [](const Io& e) { return "io: " + e.text; },
            [](const Json& e) { return "json: " + e.text; },
            [](const NotFound&) { return std::string("project not found"); },
            [](const ProviderSessionConflict&) {
                return std::string("provider session is already bound to another thread");
            },
            [](const UnsupportedSchema& e) {
                return "state schema " + found_text(e) + " is newer than supported schema " +
                       std::to_string(e.supported);
            },
        },
        m_kind);
}

std::vector<std::string> StoreError::causes() const {
    if (const auto* e = std::get_if<Io>(&m_kind))
        return {e->text};
    if (const auto* e = std::get_if<Json>(&m_kind))
        return {e->text};
    return {};
}

std::string StoreError::debug() const {
    return std::visit(
        Overload{
            [](const Io& e) {
                return "Io { code: " + std::to_string(e.code) + ", text: " + quoted(e.text) + " }";
            },
            [](const Json& e) { return "Json { text: " + quoted(e.text) + " }"; },
            [](const NotFound&) { return std::string("NotFound"); },
            [](const ProviderSessionConflict&) { return std::string("ProviderSessionConflict"); },
            [](const UnsupportedSchema& e) {
                return "UnsupportedSchema { found: " + found_text(e) +
                       ", supported: " + std::to_string(e.supported) + " }";
            },
        },
        m_kind);
}

bool StoreError::lock_timed_out() const {
    const auto* io = std::get_if<store_error::Io>(&m_kind);
    return io && io->code == ETIMEDOUT;
}

} // namespace kelvo::store
