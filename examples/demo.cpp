// The demo: what the system can show so far.
#include <cstdio>

#include "base/vector.h"

int main() {
    tallo::Vector leaf{0.2, 0.7};
    tallo::Vector copy = leaf;
    std::printf("tallo demo: a leaf value [%g, %g], copied without copying its storage: %s\n", leaf[0], leaf[1],
                copy.shares_storage_with(leaf) ? "yes" : "no");
    return 0;
}
