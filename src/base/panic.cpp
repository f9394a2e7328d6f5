#include "base/panic.h"

#include <cstdio>

#include <fmt/format.h>

namespace tallo {

void stop(std::string message) { throw Panic(std::move(message)); }

void stop(std::string_view message) { throw Panic(std::string(message)); }

void report_stop(std::string_view where, std::string_view message) noexcept {
    try {
        std::string line = fmt::format("tallo: {} stopped: {}\n", where, message);
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    } catch (...) {
        // Nothing sensible is left to do when even the report cannot be made.
    }
}

}  // namespace tallo
