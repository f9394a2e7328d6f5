#pragma once

// Cancelled: how an operation ends when its caller asked it to stop.
//
// A long operation that takes a `std::stop_token` looks at it where it can
// end cleanly and throws `Cancelled` once a stop was requested. Unlike a stop
// (panic.h), a cancellation is no fault: it reports nothing, and the caller
// that asked for it drops whatever the operation had built. A mutex guard
// that sees it leave its scope still poisons its mutex (poisonable.h), so an
// operation cancels only where everything it holds is its own.
#include <exception>
#include <stop_token>

namespace tallo {

class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "the operation was cancelled"; }
};

// Throws `Cancelled` when a stop was requested through `token`.
inline void throw_if_cancelled(const std::stop_token& token) {
    if (token.stop_requested()) throw Cancelled();
}

}  // namespace tallo
