#pragma once

// Result<T>: the outcome of an operation that may refuse its input with a
// message the host is meant to see ("Source 'x' not found"), as opposed to a
// stop (panic.h), which ends the operation on a broken invariant.
//
// Guarantees: holds exactly one of a value or an `Error`; `value()` and
// `error()` on the wrong alternative stop with the absent-value text. A plain
// value type: move-only when T is.
#include <string>
#include <utility>
#include <variant>

#include "base/messages.h"
#include "base/panic.h"

namespace tallo {

struct Error {
    std::string message;
};

template <class T>
class Result {
public:
    Result(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return require<0>(outcome_); }
    T&& value() && { return std::move(require<0>(outcome_)); }
    const Error& error() const { return require<1>(outcome_); }

private:
    template <std::size_t I, class Variant>
    static auto& require(Variant& outcome) {
        if (outcome.index() != I) stop(messages::unwrap_none());
        return std::get<I>(outcome);
    }

    std::variant<T, Error> outcome_;
};

}  // namespace tallo
