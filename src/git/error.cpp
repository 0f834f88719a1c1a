#include "git/error.hpp"

namespace kelvo::git {

namespace {

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace

std::string GitError::message() const {
    return std::visit(Overloaded{
                          [](const GitNotFound&) { return std::string("git not found on PATH"); },
                          [](const CommandFailed& e) {
                              return "git failed (" + std::to_string(e.status) +
                                     "): " + e.stderr_text;
                          },
                          [](const Io& e) { return "io: " + e.error.message(); },
                          [](const Other& e) { return e.message; },
                      },
                      m_kind);
}

std::vector<std::string> GitError::causes() const {
    if (const auto* io = get_if<Io>())
        return {io->error.message()};
    return {};
}

} // namespace kelvo::git
