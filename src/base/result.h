#pragma once

// Errors a host is meant to see, and Result<T, E>: the outcome of an
// operation that may refuse its input with one ("Source 'x' not found"), as
// opposed to a stop (panic.h), which ends the operation on a broken invariant.
//
// Guarantees:
// - An error's kind is part of its type: `Error` (the default), `ValueError`
//   and `IoError` are distinct types of one template, none converts to
//   another, so an operation's signature says which kind it returns and
//   passing an error on keeps its kind unless the code names a new one. The
//   binding raises each kind as its own exception (python/method.h).
// - Result<T, E> holds exactly one of a value or an E, an error of one of
//   the kinds; `value()` and `error()` on the wrong alternative stop with the
//   absent-value text. A plain value type: move-only when T is.
#include <string>
#include <utility>
#include <variant>

#include "base/messages.h"
#include "base/panic.h"

namespace tallo {

enum class ErrorKind {
    // The request cannot be met as things stand: no source of that name, an
    // operation the semiring lacks, an unknown semiring name. The default.
    runtime,
    // An argument outside what the operation accepts: an unknown
    // distribution, too few parameter rows.
    value,
    // The operating system refused a file or process operation; the message
    // carries its description ("... (os error <n>)").
    io,
};

template <ErrorKind K>
struct ErrorOf {
    std::string message;
};

// `Error{message}` is the default kind, as `Result<T>` is.
using Error = ErrorOf<ErrorKind::runtime>;
using ValueError = ErrorOf<ErrorKind::value>;
using IoError = ErrorOf<ErrorKind::io>;

template <class E>
inline constexpr bool is_error = false;
template <ErrorKind K>
inline constexpr bool is_error<ErrorOf<K>> = true;

template <class T, class E = Error>
class Result {
    static_assert(is_error<E>, "a result's error is one of the kinds above");

public:
    Result(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return require<0>(outcome_); }
    T&& value() && { return std::move(require<0>(outcome_)); }
    const E& error() const { return require<1>(outcome_); }

private:
    template <std::size_t I, class Variant>
    static auto& require(Variant& outcome) {
        if (outcome.index() != I) stop(messages::unwrap_none());
        return std::get<I>(outcome);
    }

    std::variant<T, E> outcome_;
};

}  // namespace tallo
