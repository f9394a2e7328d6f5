#pragma once

// Comparing semiring values in tests: slots agree when both are NaN, when
// both are the same infinity, or when they differ by at most 1e-9.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>

#include "base/vector.h"

namespace tallo::test {

// The log semirings' zero is -inf; expected values write it as -inf.
inline constexpr double inf = std::numeric_limits<double>::infinity();

inline ::testing::AssertionResult same_values(const Vector& actual, std::span<const double> expected) {
    auto text = [](std::span<const double> v) {
        std::string out = "[";
        for (std::size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + std::to_string(v[i]);
        return out + "]";
    };
    bool same = actual.size() == expected.size();
    for (std::size_t i = 0; same && i < expected.size(); ++i) {
        const double a = actual[i];
        const double e = expected[i];
        if (std::isnan(e) || std::isnan(a)) {
            same = std::isnan(e) && std::isnan(a);
        } else if (std::isinf(e) || std::isinf(a)) {
            same = a == e;
        } else {
            same = std::abs(a - e) <= 1e-9;
        }
    }
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << text(actual.view()) << ", expected " << text(expected);
}

inline ::testing::AssertionResult same_values(const Vector& actual, std::initializer_list<double> expected) {
    return same_values(actual, std::span<const double>(expected.begin(), expected.size()));
}

inline ::testing::AssertionResult same_values(const Vector& actual, const Vector& expected) {
    return same_values(actual, expected.view());
}

}  // namespace tallo::test
