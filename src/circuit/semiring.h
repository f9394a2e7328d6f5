#pragma once

// The five semirings in which circuits compute, and the change test.
//
// A semiring is a type without state; all its operations are static. Each of
// `LogProb`, `MaxProduct`, `Fuzzy`, `Boolean` and `ProbGradient` offers:
//
//   tag, name                 its number (0-4, in this order everywhere) and name
//   zero(n), one(n)           the additive and multiplicative identities
//   Sum                       the accumulation of a node's term values, in term order
//   mul(product, column)      multiplies a running product in place by a column
//   encode_leaf_vec           the stored form of a probability vector
//   decode                    the stored form read back as probabilities
//   complement                the stored complement of a probability vector
//
// Values are `Vector`s of one element per batch slot, each slot computed on
// its own, except in `ProbGradient`, where a value is one dual number: slot 0
// the probability, slot 1 + i its derivative with respect to leaf i.
//
// Guarantees:
// - `mul` and `Sum::add` work in place and allocate nothing; a `Sum` allocates
//   its accumulator once, at construction. Their loops are written so the
//   compiler can vectorise them (`LogProb`'s sum calls `exp` and stays scalar).
// - `mul` checks the column's length before it writes anything and stops
//   with the fixed length texts; no operation reads past the end of a span.
//   A product and its column never overlap (a column is a leaf value or an
//   edge memory, the product the evaluation's own vector).
// - encode, decode and complement return new vectors of the input's length
//   (decode in the semirings that store probabilities shares the input's
//   storage, which copy-on-write makes indistinguishable from a copy).
// - Nothing clamps: ln 0 is -inf, the logarithm of a negative value is NaN,
//   values above 1 pass.
// - Stateless, so every operation may run on any thread at once.
#include <array>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/messages.h"
#include "base/panic.h"
#include "base/vector.h"
#include "circuit/messages.h"

namespace tallo {

enum class SemiringTag : std::uint32_t { LogProb = 0, MaxProduct = 1, Fuzzy = 2, Boolean = 3, ProbGradient = 4 };

// Two stored values closer than this in every slot are the same value.
inline constexpr double CHANGE_EPSILON = 0.001;

namespace semiring_detail {

inline constexpr double NEG_INF = -std::numeric_limits<double>::infinity();

// A new vector of `in`'s length holding f of each element.
template <class F>
Vector map(const Vector& in, F f) {
    Vector out(in.size());
    double* o = out.mutable_data();
    const double* x = in.data();
    for (std::size_t i = 0, n = in.size(); i < n; ++i) o[i] = f(x[i]);
    return out;
}

// Max that skips a NaN term value unless the accumulator is NaN already.
inline double max_nan_ignored(double acc, double term) { return (acc != acc || term > acc) ? term : acc; }

// Min that skips a NaN column value unless the product is NaN already.
inline double min_nan_ignored(double product, double column) {
    return (product != product || column < product) ? column : product;
}

inline void require_equal_length(std::size_t column, std::size_t product) {
    if (column != product) stop(messages::unequal_dimensions());
}

// An accumulator that starts at `start` in every slot and folds each term in
// with `Fold`, slot by slot. It keeps a pointer to its own storage, so it is
// neither copied nor moved; `finish` hands the storage out and ends it.
template <double Start, class Fold>
class FoldSum {
public:
    explicit FoldSum(std::size_t n) : acc_(n, Start), data_(acc_.mutable_data()) {}
    FoldSum(const FoldSum&) = delete;
    FoldSum& operator=(const FoldSum&) = delete;

    void add(std::span<const double> term) {
        require_equal_length(term.size(), acc_.size());
        double* __restrict a = data_;
        const double* __restrict t = term.data();
        for (std::size_t i = 0, n = term.size(); i < n; ++i) a[i] = Fold{}(a[i], t[i]);
    }

    Vector finish() { return std::move(acc_); }

private:
    Vector acc_;
    double* data_;  // acc_'s elements, written by every add
};

struct MaxFold {
    double operator()(double acc, double term) const { return max_nan_ignored(acc, term); }
};

struct PlusFold {
    double operator()(double acc, double term) const { return acc + term; }
};

struct MinFold {
    double operator()(double product, double column) const { return min_nan_ignored(product, column); }
};

struct TimesFold {
    double operator()(double product, double column) const { return product * column; }
};

// Fuzzy and Boolean: identities 0.0 and 1.0, sums are NaN-ignoring maxima,
// a column must have the product's length, and values read back as stored.
template <class Combine>
struct UnitInterval {
    static Vector zero(std::size_t n) { return Vector(n, 0.0); }
    static Vector one(std::size_t n) { return Vector(n, 1.0); }

    using Sum = FoldSum<0.0, MaxFold>;

    static void mul(std::span<double> product, std::span<const double> column) {
        require_equal_length(column.size(), product.size());
        double* __restrict a = product.data();
        const double* __restrict b = column.data();
        for (std::size_t i = 0, n = product.size(); i < n; ++i) a[i] = Combine{}(a[i], b[i]);
    }

    static Vector decode(const Vector& value) { return value; }
};

// Both log semirings store ln p and multiply by adding logarithms. A column
// of one element is applied to every slot.
struct LogSpace {
    static Vector zero(std::size_t n) { return Vector(n, semiring_detail::NEG_INF); }
    static Vector one(std::size_t n) { return Vector(n, 0.0); }

    static void mul(std::span<double> product, std::span<const double> column) {
        double* __restrict a = product.data();
        const std::size_t n = product.size();
        if (column.size() == 1) {
            const double b = column[0];
            for (std::size_t i = 0; i < n; ++i) a[i] += b;
            return;
        }
        if (column.size() != n) stop(messages::broadcast(column.size(), n));
        const double* __restrict b = column.data();
        for (std::size_t i = 0; i < n; ++i) a[i] += b[i];
    }

    static Vector encode_leaf_vec(const Vector& probabilities, std::size_t /*length*/, std::uint32_t /*index*/) {
        return map(probabilities, [](double p) { return std::log(p); });
    }
    static Vector decode(const Vector& value) {
        return map(value, [](double x) { return std::exp(x); });
    }
    static Vector complement(const Vector& probabilities) {
        return map(probabilities, [](double p) { return std::log(1.0 - std::exp(std::log(p))); });
    }
};

}  // namespace semiring_detail

// Natural logarithms of probabilities; sums are log-sum-exp.
struct LogProb : semiring_detail::LogSpace {
    static constexpr SemiringTag tag = SemiringTag::LogProb;
    static constexpr std::string_view name = "LogProb";

    // Streaming log-sum-exp: keeps the running maximum m and the sum s of the
    // terms scaled by exp(-m), so no term leaves log space. The result is
    // m + ln s; a sum of -inf terms only is -inf. A NaN term is skipped while
    // every earlier term is -inf and turns the slot NaN after a finite one.
    // Where an exponent is exactly 0 (the maximum kept, or the term the new
    // maximum) the factor is exp(0) = 1 without calling exp, so each term
    // costs one exp: the same results, bit for bit. Like FoldSum it points
    // into its own storage and is neither copied nor moved.
    class Sum {
    public:
        explicit Sum(std::size_t n)
            : max_(n, semiring_detail::NEG_INF), scaled_(n, 0.0), m_(max_.mutable_data()), s_(scaled_.mutable_data()) {}
        Sum(const Sum&) = delete;
        Sum& operator=(const Sum&) = delete;

        void add(std::span<const double> term) {
            constexpr double neg_inf = semiring_detail::NEG_INF;
            constexpr double inf = std::numeric_limits<double>::infinity();
            semiring_detail::require_equal_length(term.size(), max_.size());
            double* __restrict m = m_;
            double* __restrict s = s_;
            const double* __restrict t = term.data();
            for (std::size_t i = 0, n = term.size(); i < n; ++i) {
                const double last = m[i];
                const double next = semiring_detail::max_nan_ignored(last, t[i]);
                // exp(last - next) is exactly 1 when the finite maximum stays.
                const double scale = last == neg_inf ? 0.0 : (last == next && last != inf ? 1.0 : std::exp(last - next));
                s[i] *= scale;
                m[i] = next;
                if (next != neg_inf && next == next) s[i] += t[i] == next && next != inf ? 1.0 : std::exp(t[i] - next);
            }
        }

        Vector finish() {
            const double* __restrict s = s_;
            for (std::size_t i = 0, n = max_.size(); i < n; ++i) m_[i] += std::log(s[i]);
            return std::move(max_);
        }

    private:
        Vector max_;
        Vector scaled_;
        double* m_;  // max_'s elements
        double* s_;  // scaled_'s elements
    };
};

// Natural logarithms of probabilities; the sum keeps the best term.
struct MaxProduct : semiring_detail::LogSpace {
    static constexpr SemiringTag tag = SemiringTag::MaxProduct;
    static constexpr std::string_view name = "MaxProduct";

    using Sum = semiring_detail::FoldSum<semiring_detail::NEG_INF, semiring_detail::MaxFold>;
};

// Truth degrees: products are minima, sums maxima.
struct Fuzzy : semiring_detail::UnitInterval<semiring_detail::MinFold> {
    static constexpr SemiringTag tag = SemiringTag::Fuzzy;
    static constexpr std::string_view name = "Fuzzy";

    static Vector encode_leaf_vec(const Vector& probabilities, std::size_t /*length*/, std::uint32_t /*index*/) {
        return Vector(probabilities.view());
    }
    static Vector complement(const Vector& probabilities) {
        return semiring_detail::map(probabilities, [](double p) { return 1.0 - p; });
    }
};

// 0.0 or 1.0: a node is 1.0 exactly when some term has every column at 1.0.
struct Boolean : semiring_detail::UnitInterval<semiring_detail::TimesFold> {
    static constexpr SemiringTag tag = SemiringTag::Boolean;
    static constexpr std::string_view name = "Boolean";

    // NaN, zero and negative values are false.
    static double encode(double p) { return p > 0.0 ? 1.0 : 0.0; }

    static Vector encode_leaf_vec(const Vector& probabilities, std::size_t /*length*/, std::uint32_t /*index*/) {
        return semiring_detail::map(probabilities, encode);
    }
    static Vector complement(const Vector& probabilities) {
        return semiring_detail::map(probabilities, [](double p) { return 1.0 - encode(p); });
    }
};

// Probabilities with forward-mode derivatives: a value is one dual number,
// slot 0 the probability and slot 1 + i its derivative by leaf i.
struct ProbGradient {
    static constexpr SemiringTag tag = SemiringTag::ProbGradient;
    static constexpr std::string_view name = "ProbGradient";

    static Vector zero(std::size_t n) { return Vector(n, 0.0); }
    // 1.0 in slot 0, derivatives 0.0; a dual number needs its probability slot.
    static Vector one(std::size_t n) {
        if (n == 0) stop(messages::array_index_out_of_bounds());
        Vector out(n, 0.0);
        out.mutable_data()[0] = 1.0;
        return out;
    }

    using Sum = semiring_detail::FoldSum<0.0, semiring_detail::PlusFold>;

    // The product rule: every derivative slot uses the old probabilities of
    // both factors. Column slots beyond the product's length are ignored.
    static void mul(std::span<double> product, std::span<const double> column) {
        const std::size_t n = product.size();
        if (n == 0 || column.empty() || (n > 1 && column.size() < n)) {
            stop(messages::array_index_out_of_bounds());
        }
        double* __restrict a = product.data();
        const double* __restrict b = column.data();
        const double a0 = a[0];
        const double b0 = b[0];
        for (std::size_t i = 1; i < n; ++i) a[i] = a[i] * b0 + b[i] * a0;
        a[0] = a0 * b0;
    }

    // The dual number of length `length` for leaf `index`: slot 0 the first
    // probability, the seed 1.0 in slot 1 + index when that slot exists, 0.0
    // elsewhere. Every probability after the first is ignored.
    static Vector encode_leaf_vec(const Vector& probabilities, std::size_t length, std::uint32_t index) {
        if (probabilities.empty() || length == 0) stop(messages::array_index_out_of_bounds());
        Vector out(length, 0.0);
        double* o = out.mutable_data();
        o[0] = probabilities[0];
        const std::size_t seed = std::size_t{index} + 1;
        if (seed < length) o[seed] = 1.0;
        return out;
    }
    static Vector decode(const Vector& value) { return value; }
    // 1 - p in every element: a plain vector, not a dual number, no seed.
    static Vector complement(const Vector& probabilities) {
        return semiring_detail::map(probabilities, [](double p) { return 1.0 - p; });
    }
};

// What generic circuit code needs of a semiring.
template <class S>
concept Semiring = requires(std::size_t n, std::span<double> product, std::span<const double> column,
                            const Vector& v, std::uint32_t index) {
    { S::tag } -> std::convertible_to<SemiringTag>;
    { S::name } -> std::convertible_to<std::string_view>;
    { S::zero(n) } -> std::same_as<Vector>;
    { S::one(n) } -> std::same_as<Vector>;
    S::mul(product, column);
    { S::encode_leaf_vec(v, n, index) } -> std::same_as<Vector>;
    { S::decode(v) } -> std::same_as<Vector>;
    { S::complement(v) } -> std::same_as<Vector>;
    requires std::constructible_from<typename S::Sum, std::size_t>;
    requires requires(typename S::Sum sum) {
        sum.add(column);
        { sum.finish() } -> std::same_as<Vector>;
    };
};

// A list of semiring types. `Into<T<S>...>` and `Into<S...>` spell a list
// derived from it (a variant of handles, a test's type list); `at<I>` is the
// type at position I and `names[I]` its name.
template <class... S>
struct SemiringList {
private:
    template <std::size_t I, class First, class... Rest>
    struct Nth : Nth<I - 1, Rest...> {};
    template <class First, class... Rest>
    struct Nth<0, First, Rest...> {
        using type = First;
    };

public:
    static constexpr std::size_t size = sizeof...(S);
    static constexpr std::array<std::string_view, sizeof...(S)> names{S::name...};

    template <template <class...> class Into, template <class> class T>
    using map = Into<T<S>...>;

    template <template <class...> class Into>
    using apply = Into<S...>;

    template <std::size_t I>
    using at = typename Nth<I, S...>::type;

    // Every type a Semiring, and each at the position of its tag.
    static constexpr bool well_formed() {
        std::uint32_t position = 0;
        return ((Semiring<S> && static_cast<std::uint32_t>(S::tag) == position++) && ...);
    }
};

// The semirings, in tag order: the one list that every other list of them
// derives from (the tag switch below, the model and circuit variants, the
// typed tests and the explicit instantiations).
using SemiringTypes = SemiringList<LogProb, MaxProduct, Fuzzy, Boolean, ProbGradient>;
static_assert(SemiringTypes::well_formed());

// Explicit instantiation takes its types one by one, not as a pack: this names
// each position of SemiringTypes, as M(type, ...) for every M(S, extra...).
#define TALLO_FOR_EACH_SEMIRING(M, ...)                      \
    M(::tallo::SemiringTypes::at<0>, __VA_ARGS__)            \
    M(::tallo::SemiringTypes::at<1>, __VA_ARGS__)            \
    M(::tallo::SemiringTypes::at<2>, __VA_ARGS__)            \
    M(::tallo::SemiringTypes::at<3>, __VA_ARGS__)            \
    M(::tallo::SemiringTypes::at<4>, __VA_ARGS__)
static_assert(SemiringTypes::size == 5, "TALLO_FOR_EACH_SEMIRING names every position of SemiringTypes");

// The change test on stored values: unchanged exactly when both have the same
// length and every slot differs by at most CHANGE_EPSILON. A NaN difference,
// including that of two equal infinities, is a change.
bool is_unchanged(const Vector& stored, const Vector& fresh);

namespace semiring_detail {

template <class F, class First, class... Rest>
decltype(auto) dispatch_in(SemiringList<First, Rest...>, SemiringTag tag, F&& f) {
    if (tag == First::tag) return std::forward<F>(f).template operator()<First>();
    if constexpr (sizeof...(Rest) == 0) {
        stop(messages::unknown_semiring_tag(static_cast<std::uint32_t>(tag)));
    } else {
        return dispatch_in(SemiringList<Rest...>{}, tag, std::forward<F>(f));
    }
}

}  // namespace semiring_detail

// The one switch from a tag to its semiring: calls f.template operator()<S>()
// with the tag's semiring S and returns what it returns. An unknown tag stops.
template <class F>
decltype(auto) dispatch(SemiringTag tag, F&& f) {
    return semiring_detail::dispatch_in(SemiringTypes{}, tag, std::forward<F>(f));
}

}  // namespace tallo
