#pragma once

// ASCII case folding for names a host may write in any case.
//
// Guarantees: only the bytes 'A' to 'Z' change; every other byte, those of
// UTF-8 sequences included, stays as it is.
#include <string>

namespace tallo {

inline std::string ascii_lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

}  // namespace tallo
