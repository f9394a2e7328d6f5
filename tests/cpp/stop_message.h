#pragma once

// Shared by the unit tests of every folder.

#include <string>

#include "base/panic.h"

namespace tallo::testing {

// The message `operation` stopped with, or "<no stop>".
inline std::string stop_message(auto&& operation) {
    try {
        operation();
    } catch (const Panic& panic) {
        return panic.message();
    }
    return "<no stop>";
}

}  // namespace tallo::testing
