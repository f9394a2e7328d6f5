// The demo: what the system can show so far. Two leaves, a and b, and the sum
// of products a*b + b, evaluated in each of the five semirings. In
// ProbGradient the value carries its derivatives by a and by b.
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "base/vector.h"
#include "circuit/semiring.h"

namespace {

using tallo::Vector;

template <class S>
Vector evaluate(const std::vector<Vector>& leaves, const std::vector<std::vector<std::uint32_t>>& products,
                std::size_t n) {
    typename S::Sum sum(n);
    Vector product;
    for (const auto& term : products) {
        product = S::one(n);
        for (std::uint32_t column : term) S::mul(product.mutable_view(), leaves[column].view());
        sum.add(product.view());
    }
    return S::decode(sum.finish());
}

}  // namespace

int main() {
    const double a = 0.8;
    const double b = 0.3;
    const std::vector<std::vector<std::uint32_t>> products = {{0, 1}, {1}};
    fmt::print("tallo demo: leaves a = {}, b = {}; value of a*b + b\n", a, b);
    for (std::uint32_t tag = 0; tag <= 4; ++tag) {
        tallo::dispatch(tallo::SemiringTag{tag}, [&]<class S>() {
            // ProbGradient values are one probability and a derivative per leaf.
            const std::size_t n = S::tag == tallo::SemiringTag::ProbGradient ? 3 : 1;
            const std::vector<Vector> leaves = {S::encode_leaf_vec(Vector(n, a), n, 0),
                                                S::encode_leaf_vec(Vector(n, b), n, 1)};
            const Vector value = evaluate<S>(leaves, products, n);
            fmt::print("  {:<12} [{:.4}]{}\n", S::name, fmt::join(value.view(), ", "),
                       n == 3 ? "  (value, d/da, d/db)" : "");
        });
    }
    return 0;
}
