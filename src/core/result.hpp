#pragma once

// A value or an error, in the shape of C++23's std::expected (which GCC 12
// lacks), so that errors travel as values and reach the user in one place.

#include <cassert>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

// clang-format 14 cannot lay out requires-clauses.
// clang-format off

namespace kelvo {

template <class E> struct Failure {
    E error;
};

template <class E> Failure<std::decay_t<E>> fail(E&& error) {
    return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

template <class T, class E> class [[nodiscard]] Result {
public:
    using value_type = T;
    using error_type = E;

    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    template <class G>
        requires std::is_constructible_v<E, G>
    Result(Failure<G> failure) : m_state(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return assert(has_value()), std::get<0>(m_state); }
    const T& value() const& { return assert(has_value()), std::get<0>(m_state); }
    T&& value() && { return assert(has_value()), std::get<0>(std::move(m_state)); }
    E& error() & { return assert(!has_value()), std::get<1>(m_state); }
    const E& error() const& { return assert(!has_value()), std::get<1>(m_state); }
    E&& error() && { return assert(!has_value()), std::get<1>(std::move(m_state)); }

    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    std::variant<T, E> m_state;
};

template <class E> class [[nodiscard]] Result<void, E> {
public:
    using value_type = void;
    using error_type = E;

    Result() = default;
    template <class G>
        requires std::is_constructible_v<E, G>
    Result(Failure<G> failure) : m_error(std::in_place, std::move(failure.error)) {}

    bool has_value() const { return !m_error.has_value(); }
    explicit operator bool() const { return has_value(); }

    E& error() & { return assert(!has_value()), *m_error; }
    const E& error() const& { return assert(!has_value()), *m_error; }
    E&& error() && { return assert(!has_value()), std::move(*m_error); }

private:
    std::optional<E> m_error;
};

// clang-format on
} // namespace kelvo
