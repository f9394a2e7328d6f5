#include "language/output.h"

#include <cstdio>

namespace tallo {

void print_out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace tallo
