#pragma once

// The stop: how an operation ends when an invariant breaks.
//
// An operation stops by throwing `Panic` with the stop's message (see
// `messages.h` for the fixed texts). Whatever the operation changed before the
// stop stays changed. A `Guard` of a `Poisonable` that sees a stop leave its
// scope poisons its mutex. The Python binding layer turns a `Panic` into
// `PanicException`; threads of our own catch it at their top and report it.
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace tallo {

class Panic : public std::exception {
public:
    explicit Panic(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Stops the current operation with `message`. The fixed texts come as views;
// the literal overload keeps a plain "..." from matching both.
[[noreturn]] void stop(std::string message);
[[noreturn]] void stop(std::string_view message);
[[noreturn]] inline void stop(const char* message) { stop(std::string_view(message)); }

// Writes the report of a stop to standard error: one line naming the thread's
// role and the stop's message. Used wherever a stop is caught.
void report_stop(std::string_view where, std::string_view message) noexcept;

}  // namespace tallo
