#include "circuit/semiring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/messages.h"
#include "circuit/messages.h"
#include "circuit/checks.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::same_values;
using testing::stop_message;

using test::inf;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

template <class S>
Vector sum_of(const std::vector<Vector>& terms, std::size_t n) {
    typename S::Sum sum(n);
    for (const Vector& term : terms) sum.add(term.view());
    return sum.finish();
}

template <class S>
class SemiringLaws : public ::testing::Test {};

using AllSemirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(SemiringLaws, AllSemirings);

TYPED_TEST(SemiringLaws, OneAndZeroAreIdentitiesOfAStoredValue) {
    using S = TypeParam;
    const Vector value = S::encode_leaf_vec(Vector{0.3, 0.6, 0.9}, 3, 0);

    Vector product = S::one(3);
    S::mul(product.mutable_view(), value.view());
    EXPECT_TRUE(same_values(product, value));

    EXPECT_TRUE(same_values(sum_of<S>({S::zero(3), value}, 3), value));
    EXPECT_TRUE(same_values(sum_of<S>({value}, 3), value));
    EXPECT_TRUE(same_values(sum_of<S>({}, 3), S::zero(3)));
}

TYPED_TEST(SemiringLaws, DecodeReadsBackTheEncodedProbability) {
    using S = TypeParam;
    const Vector decoded = S::decode(S::encode_leaf_vec(Vector{0.25, 0.0}, 2, 5));
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_NEAR(decoded[0], S::tag == SemiringTag::Boolean ? 1.0 : 0.25, 1e-12);
    EXPECT_EQ(decoded[1], 0.0);
}

TYPED_TEST(SemiringLaws, DispatchReachesTheSemiringOfItsTag) {
    using S = TypeParam;
    const std::string_view name = dispatch(S::tag, []<class T>() { return T::name; });
    EXPECT_EQ(name, S::name);
}

TEST(SemiringTags, KeepTheirNumbersAndNames) {
    const std::vector<std::string_view> names = {"LogProb", "MaxProduct", "Fuzzy", "Boolean", "ProbGradient"};
    for (std::uint32_t tag = 0; tag < names.size(); ++tag) {
        EXPECT_EQ(dispatch(SemiringTag{tag}, []<class S>() { return S::name; }), names[tag]);
        EXPECT_EQ(dispatch(SemiringTag{tag}, []<class S>() { return static_cast<std::uint32_t>(S::tag); }), tag);
    }
    EXPECT_EQ(stop_message([] { dispatch(SemiringTag{5}, []<class S>() { return 0; }); }),
              messages::unknown_semiring_tag(5));
}

TEST(SemiringZeros, AreNegativeInfinityInLogSpaceAndZeroElsewhere) {
    EXPECT_TRUE(same_values(LogProb::zero(2), {-inf, -inf}));
    EXPECT_TRUE(same_values(MaxProduct::zero(1), {-inf}));
    EXPECT_TRUE(same_values(Fuzzy::zero(2), {0.0, 0.0}));
    EXPECT_TRUE(same_values(ProbGradient::zero(3), {0.0, 0.0, 0.0}));
    EXPECT_TRUE(same_values(ProbGradient::one(3), {1.0, 0.0, 0.0}));
    EXPECT_TRUE(same_values(LogProb::one(2), {0.0, 0.0}));
}

struct SumCase {
    const char* what;
    SemiringTag tag;
    std::vector<Vector> terms;
    Vector expected;
};

TEST(SemiringSum, AccumulatesTermsSlotBySlot) {
    const std::vector<SumCase> cases = {
        {"single log term is exact", SemiringTag::LogProb, {{std::log(0.5)}}, {std::log(0.5)}},
        {"two quarters make a half", SemiringTag::LogProb, {{std::log(0.25)}, {std::log(0.25)}}, {std::log(0.5)}},
        {"-inf term adds nothing", SemiringTag::LogProb, {{-inf}, {std::log(0.3)}}, {std::log(0.3)}},
        {"only -inf terms", SemiringTag::LogProb, {{-inf}, {-inf}}, {-inf}},
        {"NaN skipped while all before are -inf", SemiringTag::LogProb, {{nan}, {std::log(0.5)}}, {std::log(0.5)}},
        {"NaN after a finite term", SemiringTag::LogProb, {{std::log(0.5)}, {nan}}, {nan}},
        {"slots are independent",
         SemiringTag::LogProb,
         {{std::log(0.1), std::log(0.5)}, {std::log(0.3), -inf}},
         {std::log(0.4), std::log(0.5)}},
        {"larger term later rescales", SemiringTag::LogProb, {{std::log(0.1)}, {std::log(0.7)}, {std::log(0.2)}},
         {0.0}},
        {"max keeps the best term", SemiringTag::MaxProduct, {{std::log(0.2)}, {std::log(0.6)}}, {std::log(0.6)}},
        {"max skips a NaN first", SemiringTag::MaxProduct, {{nan}, {std::log(0.2)}}, {std::log(0.2)}},
        {"max skips a NaN later", SemiringTag::MaxProduct, {{std::log(0.2)}, {nan}}, {std::log(0.2)}},
        {"fuzzy max", SemiringTag::Fuzzy, {{0.4}, {0.9}}, {0.9}},
        {"boolean any", SemiringTag::Boolean, {{0.0, 0.0}, {1.0, 0.0}}, {1.0, 0.0}},
        {"gradient adds every slot", SemiringTag::ProbGradient, {{0.2, 0.1, 0.0}, {0.3, 0.5, 1.0}}, {0.5, 0.6, 1.0}},
    };
    for (const SumCase& c : cases) {
        const Vector got = dispatch(c.tag, [&]<class S>() { return sum_of<S>(c.terms, c.expected.size()); });
        EXPECT_TRUE(same_values(got, c.expected)) << c.what;
    }
}

struct MulCase {
    const char* what;
    SemiringTag tag;
    Vector product;
    Vector column;
    Vector expected;
};

TEST(SemiringMul, MultipliesTheRunningProductInPlace) {
    const double h = std::log(0.5);
    const std::vector<MulCase> cases = {
        {"log adds", SemiringTag::LogProb, {h, 0.0}, {h, h}, {2 * h, h}},
        {"log broadcasts one element", SemiringTag::LogProb, {h, 0.0, -inf}, {h}, {2 * h, h, -inf}},
        {"max-product broadcasts too", SemiringTag::MaxProduct, {0.0, 0.0}, {h}, {h, h}},
        {"fuzzy takes the minimum", SemiringTag::Fuzzy, {0.7}, {0.4}, {0.4}},
        {"fuzzy min skips a NaN column", SemiringTag::Fuzzy, {0.3, nan}, {nan, 0.3}, {0.3, 0.3}},
        {"boolean and", SemiringTag::Boolean, {1.0, 1.0, 0.0}, {1.0, 0.0, 1.0}, {1.0, 0.0, 0.0}},
        {"dual product rule", SemiringTag::ProbGradient, {0.5, 1.0, 0.0}, {0.4, 0.0, 1.0}, {0.2, 0.4, 0.5}},
        {"longer dual column: extra slots ignored",
         SemiringTag::ProbGradient,
         {0.5, 1.0, 0.0},
         {0.4, 0.0, 1.0, 7.0},
         {0.2, 0.4, 0.5}},
        {"single-slot dual takes any column", SemiringTag::ProbGradient, {0.5}, {0.4, 9.0}, {0.2}},
    };
    for (const MulCase& c : cases) {
        Vector product = c.product;
        dispatch(c.tag, [&]<class S>() { S::mul(product.mutable_view(), c.column.view()); });
        EXPECT_TRUE(same_values(product, c.expected)) << c.what;
    }
}

struct MulFailure {
    SemiringTag tag;
    std::size_t product;
    std::size_t column;
    std::string message;
};

TEST(SemiringMul, RefusesColumnsOfTheWrongLengthAndLeavesTheProduct) {
    const std::string unequal(messages::unequal_dimensions());
    const std::string out_of_bounds(messages::array_index_out_of_bounds());
    const std::vector<MulFailure> cases = {
        {SemiringTag::LogProb, 3, 2, messages::broadcast(2, 3)},
        {SemiringTag::LogProb, 2, 0, messages::broadcast(0, 2)},
        {SemiringTag::MaxProduct, 1, 3, messages::broadcast(3, 1)},
        {SemiringTag::Fuzzy, 2, 1, unequal},
        {SemiringTag::Boolean, 1, 2, unequal},
        {SemiringTag::ProbGradient, 3, 2, out_of_bounds},
        {SemiringTag::ProbGradient, 1, 0, out_of_bounds},
        {SemiringTag::ProbGradient, 0, 1, out_of_bounds},
    };
    for (const MulFailure& c : cases) {
        Vector product(c.product, 0.5);
        const Vector column(c.column, 0.25);
        EXPECT_EQ(stop_message([&] {
                      dispatch(c.tag, [&]<class S>() { S::mul(product.mutable_view(), column.view()); });
                  }),
                  c.message)
            << "product " << c.product << ", column " << c.column;
        EXPECT_TRUE(same_values(product, Vector(c.product, 0.5)));
    }
}

TEST(SemiringSum, RefusesATermOfAnotherLength) {
    const std::string unequal(messages::unequal_dimensions());
    LogProb::Sum sum(2);
    EXPECT_EQ(stop_message([&] { sum.add(Vector{0.0}.view()); }), unequal);
    Fuzzy::Sum fuzzy(1);
    EXPECT_EQ(stop_message([&] { fuzzy.add(Vector{0.0, 0.0}.view()); }), unequal);
}

enum class Op { Encode, Decode, Complement };

struct MapCase {
    const char* what;
    SemiringTag tag;
    Op op;
    Vector input;
    Vector expected;
};

TEST(SemiringElementMaps, EncodeDecodeAndComplementPerElement) {
    const std::vector<MapCase> cases = {
        {"log encode does not clamp", SemiringTag::LogProb, Op::Encode, {0.5, 0.0, -1.0, 2.0},
         {std::log(0.5), -inf, nan, std::log(2.0)}},
        {"log decode of -inf is 0", SemiringTag::LogProb, Op::Decode, {-inf, 0.0}, {0.0, 1.0}},
        {"log complement", SemiringTag::MaxProduct, Op::Complement, {0.2, 0.0, 1.0}, {std::log(0.8), 0.0, -inf}},
        {"fuzzy encode passes", SemiringTag::Fuzzy, Op::Encode, {0.3, 1.5}, {0.3, 1.5}},
        {"fuzzy complement", SemiringTag::Fuzzy, Op::Complement, {0.2, 1.5}, {0.8, -0.5}},
        {"boolean encode", SemiringTag::Boolean, Op::Encode, {0.3, 0.0, -1.0, nan, -0.0}, {1.0, 0.0, 0.0, 0.0, 0.0}},
        {"boolean complement", SemiringTag::Boolean, Op::Complement, {0.3, 0.0, -1.0, nan}, {0.0, 1.0, 1.0, 1.0}},
        {"boolean decode copies", SemiringTag::Boolean, Op::Decode, {1.0, 0.0}, {1.0, 0.0}},
        {"gradient decode copies", SemiringTag::ProbGradient, Op::Decode, {0.4, 0.1, 2.0}, {0.4, 0.1, 2.0}},
        {"gradient complement has no seed", SemiringTag::ProbGradient, Op::Complement, {0.2, 0.7}, {0.8, 0.3}},
    };
    for (const MapCase& c : cases) {
        const Vector got = dispatch(c.tag, [&]<class S>() {
            switch (c.op) {
                case Op::Encode: return S::encode_leaf_vec(c.input, c.input.size(), 0);
                case Op::Decode: return S::decode(c.input);
                case Op::Complement: return S::complement(c.input);
            }
            return Vector();
        });
        EXPECT_TRUE(same_values(got, c.expected)) << c.what;
    }
}

TEST(SemiringElementMaps, LeaveTheirInputAlone) {
    const Vector input{0.2, 0.6};
    const Vector copy = input;
    EXPECT_TRUE(same_values(LogProb::complement(input), {std::log(0.8), std::log(0.4)}));
    EXPECT_TRUE(same_values(Fuzzy::encode_leaf_vec(input, 2, 0), input));
    EXPECT_TRUE(same_values(input, {0.2, 0.6}));
    EXPECT_TRUE(input.shares_storage_with(copy));
}

struct DualCase {
    Vector probabilities;
    std::size_t length;
    std::uint32_t index;
    Vector expected;
};

TEST(ProbGradientEncoding, BuildsADualNumberWithTheSeedWhereItFits) {
    const std::vector<DualCase> cases = {
        {{0.8, 0.5}, 4, 2, {0.8, 0.0, 0.0, 1.0}},
        {{0.8, 0.5}, 4, 3, {0.8, 0.0, 0.0, 0.0}},
        {{0.3}, 1, 0, {0.3}},
        {{0.7}, 4, 0, {0.7, 1.0, 0.0, 0.0}},
        {{0.7}, 2, std::numeric_limits<std::uint32_t>::max(), {0.7, 0.0}},
    };
    for (const DualCase& c : cases) {
        EXPECT_TRUE(same_values(ProbGradient::encode_leaf_vec(c.probabilities, c.length, c.index), c.expected))
            << "length " << c.length << ", index " << c.index;
    }
}

TEST(ProbGradientEncoding, NeedsAProbabilitySlot) {
    const std::string message(messages::array_index_out_of_bounds());
    EXPECT_EQ(stop_message([] { ProbGradient::encode_leaf_vec(Vector{}, 3, 0); }), message);
    EXPECT_EQ(stop_message([] { ProbGradient::encode_leaf_vec(Vector{0.5}, 0, 0); }), message);
    EXPECT_EQ(stop_message([] { ProbGradient::one(0); }), message);
}

struct ChangeCase {
    Vector stored;
    Vector fresh;
    bool unchanged;
};

TEST(ChangeTest, ComparesStoredValuesWithinTheTolerance) {
    const std::vector<ChangeCase> cases = {
        {{0.1}, {0.1005}, true},
        {{0.1}, {0.1011}, false},
        {{0.0}, {0.0005}, true},
        {{0.5, 0.5}, {0.5, 0.502}, false},
        {{0.1}, {0.1, 0.1}, false},
        {{0.1, 0.1}, {0.1}, false},
        {{}, {}, true},
        {{-inf}, {-inf}, false},
        {{inf}, {inf}, false},
        {{nan}, {nan}, false},
        {{0.2}, {nan}, false},
    };
    for (const ChangeCase& c : cases) {
        EXPECT_EQ(is_unchanged(c.stored, c.fresh), c.unchanged)
            << "stored size " << c.stored.size() << ", fresh size " << c.fresh.size();
    }
}

}  // namespace
}  // namespace tallo
