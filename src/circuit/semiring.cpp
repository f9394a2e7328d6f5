#include "circuit/semiring.h"

namespace tallo {

bool is_unchanged(const Vector& stored, const Vector& fresh) {
    if (stored.size() != fresh.size()) return false;
    const double* u = stored.data();
    const double* v = fresh.data();
    for (std::size_t k = 0, n = stored.size(); k < n; ++k) {
        // Written so that a NaN difference fails the test.
        if (!(std::abs(u[k] - v[k]) <= CHANGE_EPSILON)) return false;
    }
    return true;
}

}  // namespace tallo
