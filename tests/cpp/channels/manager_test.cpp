#include "channels/manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/messages.h"
#include "channels/messages.h"
#include "circuit/semiring.h"
#include "helpers.h"
#include "tracking/foc_estimator.h"

namespace tallo {
namespace {

using testing::eventually;
using testing::nearly_equal;
using testing::stop_message;

// A manager over a fresh circuit; the test keeps its own holder of the
// circuit to watch readers let go of theirs.
template <class S>
struct Fixture {
    explicit Fixture(std::uint32_t value_size = 1)
        : circuit(SharedCircuit<S>::make(value_size)), manager(std::make_unique<Manager<S>>(circuit)) {}

    // Waits until leaf `index` holds `expected` (probability space).
    bool leaf_becomes(std::size_t index, const Vector& expected) {
        return eventually([&] { return nearly_equal(S::decode(circuit.lock()->leafs()[index].value), expected); });
    }
    // Waits until only this fixture (and the manager, while it lives) hold
    // the circuit: every reader has ended.
    bool readers_ended() {
        const long others = manager ? 2 : 1;
        return eventually([&] { return circuit.use_count() == others; });
    }

    SharedCircuit<S> circuit;
    std::unique_ptr<Manager<S>> manager;
};

template <class S>
class ManagerInEverySemiring : public ::testing::Test {};
using Semirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(ManagerInEverySemiring, Semirings);

TYPED_TEST(ManagerInEverySemiring, WritesReachTheLeavesOfEachKindOfReader) {
    Fixture<TypeParam> f;
    auto& m = *f.manager;
    for (const char* name : {"plain", "inverted", "dual", "-dual"}) m.create_leaf(name, Vector{0.0});
    m.read(0, "/plain", false);
    m.read(1, "/inverted", true);
    m.read_dual(2, 3, "/dual");
    IpcWriter(m.get_or_create_sender("/plain")).write(Vector{1.0}, 1.0);
    IpcWriter(m.get_or_create_sender("/inverted")).write(Vector{0.0}, 1.0);
    IpcWriter(m.get_or_create_sender("/dual")).write(Vector{1.0}, 1.0);
    EXPECT_TRUE(f.leaf_becomes(0, Vector{1.0}));
    EXPECT_TRUE(f.leaf_becomes(1, Vector{1.0}));
    EXPECT_TRUE(f.leaf_becomes(2, Vector{1.0}));
    EXPECT_TRUE(f.leaf_becomes(3, Vector{0.0}));
    const auto values = m.get_values();
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0][0], 1.0);
    EXPECT_EQ(values[3][0], 0.0);
    f.manager.reset();
    EXPECT_TRUE(f.readers_ended());
}

using LogManager = Fixture<LogProb>;

TEST(Manager, CreatesLeavesInOrderAndAnswersAboutThem) {
    LogManager f;
    auto& m = *f.manager;
    EXPECT_EQ(m.create_leaf("rain", Vector{0.5}), 0u);
    EXPECT_EQ(m.create_leaf("wet", Vector{0.25}), 1u);
    EXPECT_EQ(m.create_leaf("rain", Vector{1.0}), 2u);
    EXPECT_EQ(f.circuit.lock()->leafs()[0].value, (Vector{std::log(0.5)})) << "stored in the semiring's encoding";
    EXPECT_EQ(m.get_names(), (std::vector<std::string>{"rain", "wet", "rain"}));
    const auto values = m.get_values();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(nearly_equal(values[0], Vector{0.5})) << "decoded";
    EXPECT_TRUE(nearly_equal(values[1], Vector{0.25}));
    EXPECT_EQ(m.get_frequencies(), (std::vector<double>{0.0, 0.0, 0.0}));
    const auto map = m.get_index_map();
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at("rain"), 0u) << "a repeated name maps to its lowest index";
    EXPECT_EQ(map.at("wet"), 1u);
    EXPECT_EQ(m.value_size(), 1u);
}

TEST(Manager, SingleReaderComplementsEveryElement) {
    LogManager f(2);
    f.manager->create_leaf("x", Vector{0.5, 0.5});
    f.manager->read(0, "/x", true);
    IpcWriter(f.manager->get_or_create_sender("/x")).write(Vector{0.25, 1.0}, 1.0);
    EXPECT_TRUE(f.leaf_becomes(0, Vector{0.75, 0.0}));
}

TEST(Manager, CategoricalReaderSplitsTheMessageIntoBlocks) {
    Fixture<Fuzzy> f(2);
    auto& m = *f.manager;
    for (const char* name : {"red", "green", "blue", "other"}) m.create_leaf(name, Vector{0.0, 0.0});
    m.read_categorical("/colour", {0, 1, 2});
    IpcWriter colour(m.get_or_create_sender("/colour"));

    colour.write(Vector{}, 1.0);  // no block fits: nothing changes
    colour.write(Vector{0.1, 0.2, 0.3, 0.4, 0.5}, 2.0);
    ASSERT_TRUE(f.leaf_becomes(1, Vector{0.3, 0.4}));
    EXPECT_EQ(m.get_values(),
              (std::vector<Vector>{{0.1, 0.2}, {0.3, 0.4}, {0.0, 0.0}, {0.0, 0.0}}))
        << "the third block does not fit, so blue keeps its value and element 4 is ignored";
}

// Messages sent faster than the reader applies them reach it in batches; each
// must still be one change of the leaf, in order: the frequency must be the
// estimator's for every timestamp, and the last value must be the last sent.
TEST(Manager, EveryQueuedMessageIsOneChangeInOrder) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("a", Vector{0.5});
    m.read(0, "/a", false);
    IpcWriter a(m.get_or_create_sender("/a"));
    FoCEstimator reference(0.0);
    double expected = 0.0;
    for (int i = 0; i < 5000; ++i) {
        const double timestamp = 1.0 + i * (i % 7 == 0 ? 0.5 : 0.001);  // jumps forward and back
        a.write(Vector{i % 2 == 0 ? 0.25 : 0.75}, timestamp);
        expected = reference.update(timestamp);
    }
    a.write(Vector{0.125}, 9000.0);
    expected = reference.update(9000.0);
    ASSERT_TRUE(f.leaf_becomes(0, Vector{0.125}));
    EXPECT_EQ(m.get_frequencies()[0], expected);
}

TEST(Manager, WritersMadeBeforeASecondReadFeedTheFirstReader) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("first", Vector{0.5});
    m.create_leaf("second", Vector{0.5});
    m.read(0, "/x", false);
    IpcWriter before(m.get_or_create_sender("/x"));
    m.read(1, "/x", false);
    IpcWriter after(m.get_or_create_sender("/x"));

    before.write(Vector{0.25}, 1.0);
    ASSERT_TRUE(f.leaf_becomes(0, Vector{0.25}));
    after.write(Vector{0.75}, 2.0);
    ASSERT_TRUE(f.leaf_becomes(1, Vector{0.75}));
    const auto values = m.get_values();
    EXPECT_TRUE(nearly_equal(values[0], Vector{0.25}) && nearly_equal(values[1], Vector{0.75}))
        << "each writer fed one reader only";
    EXPECT_EQ(m.single_readers().size(), 2u);
    EXPECT_EQ(m.single_readers()[0].channel, "/x");
}

TEST(Manager, WritersOfANameWithoutReaderAreLostEvenAfterALaterRead) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("x", Vector{0.5});
    IpcWriter early(m.get_or_create_sender("/x"));
    early.write(Vector{0.25}, 1.0);
    EXPECT_FALSE(early.sender().is_connected());
    m.read(0, "/x", false);
    early.write(Vector{0.25}, 2.0);
    EXPECT_FALSE(early.sender().is_connected()) << "the read replaced the map entry, not the writer's sender";
    IpcWriter late(m.get_or_create_sender("/x"));
    late.write(Vector{0.75}, 3.0);
    EXPECT_TRUE(f.leaf_becomes(0, Vector{0.75}));
}

TEST(Manager, MessagesForALeafThatDoesNotExistAreDroppedWithoutPoisoning) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("a", Vector{0.5});
    m.read(2, "/far", false);
    m.read_dual(0, 7, "/far_dual");
    m.read_categorical("/far_categories", {0, 9});
    IpcWriter far(m.get_or_create_sender("/far"));
    IpcWriter(m.get_or_create_sender("/far_dual")).write(Vector{0.25}, 1.0);
    IpcWriter(m.get_or_create_sender("/far_categories")).write(Vector{0.25, 0.25}, 1.0);
    far.write(Vector{0.25}, 1.0);

    // Once leaf 2 exists, the same reader writes to it: it went on running.
    m.create_leaf("b", Vector{0.5});
    m.create_leaf("c", Vector{0.5});
    far.write(Vector{0.125}, 2.0);
    EXPECT_TRUE(f.leaf_becomes(2, Vector{0.125}));
    EXPECT_FALSE(f.circuit.is_poisoned());
    EXPECT_TRUE(nearly_equal(m.get_values()[0], Vector{0.5})) << "a message with one missing leaf is dropped whole";
}

TEST(Manager, APoisonedCircuitEndsTheReader) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("a", Vector{0.5});
    m.read(0, "/a", false);
    IpcWriter writer(m.get_or_create_sender("/a"));
    EXPECT_THROW(
        {
            auto guard = f.circuit.lock();
            stop("poison the circuit");
        },
        Panic);
    writer.write(Vector{0.25}, 1.0);
    EXPECT_TRUE(eventually([&] { return !writer.sender().is_connected(); })) << "the reader released its receiver";
    EXPECT_TRUE(eventually([&] { return f.circuit.use_count() == 2; })) << "and its circuit holder";
    EXPECT_EQ(stop_message([&] { m.get_names(); }), messages::poisoned_mutex());
}

TEST(Manager, TeardownKeepsAReaderAliveWhileAWriterIsHeld) {
    LogManager f;
    f.manager->create_leaf("a", Vector{0.5});
    f.manager->create_leaf("b", Vector{0.5});
    f.manager->read(0, "/a", false);
    f.manager->read(1, "/b", false);
    IpcWriter held(f.manager->get_or_create_sender("/a"));
    IpcWriter(f.manager->get_or_create_sender("/b")).write(Vector{0.25}, 1.0);
    f.manager.reset();

    EXPECT_TRUE(eventually([&] { return f.circuit.use_count() == 2; })) << "the reader of /b drained and ended";
    EXPECT_TRUE(nearly_equal(LogProb::decode(f.circuit.lock()->leafs()[1].value), Vector{0.25}));
    held.write(Vector{0.75}, 2.0);
    EXPECT_TRUE(f.leaf_becomes(0, Vector{0.75})) << "the reader of /a still updates the circuit";
    for (int i = 0; i < 100; ++i) held.write(Vector{i % 2 == 0 ? 0.125 : 0.375}, 3.0 + i);
    held = IpcWriter(make_channel<IpcMessage>().first);
    EXPECT_TRUE(f.readers_ended());
    EXPECT_TRUE(nearly_equal(LogProb::decode(f.circuit.lock()->leafs()[0].value), Vector{0.375}))
        << "queued messages were applied";
}

TEST(Manager, TimedWriterStartsFromTheLeafNamedLikeItsChannel) {
    LogManager f(2);
    auto& m = *f.manager;
    m.create_leaf("temp", Vector{0.25, 0.5});
    m.create_leaf("/temp", Vector{0.125, 1.0});
    m.create_leaf("temp", Vector{1.0, 1.0});
    const std::vector<std::pair<std::string, Vector>> cases{
        {"/temp", {0.25, 0.5}},   // one leading slash is removed
        {"temp", {0.25, 0.5}},    // the first leaf of that name
        {"//temp", {0.125, 1.0}},  // only one slash is removed
        {"/other", {0.0, 0.0}},   // no leaf: zeros of value_size
    };
    for (const auto& [channel, expected] : cases) {
        const Shared<Vector> vector = m.make_timed_writer(channel, 1e-3);
        EXPECT_TRUE(nearly_equal(*vector.lock(), expected)) << channel;
    }
    EXPECT_EQ(m.timed_writer_count(), cases.size());
    m.stop_timed_writers();
    EXPECT_TRUE(m.timed_writer_count() == 0);
    m.stop_timed_writers();  // nothing left to stop
}

TEST(Manager, TimedWriterFeedsTheChannelsReader) {
    LogManager f;
    auto& m = *f.manager;
    m.create_leaf("level", Vector{0.5});
    m.read(0, "/level", false);
    const Shared<Vector> vector = m.make_timed_writer("/level", 500.0);
    *vector.lock() = Vector{0.25};
    EXPECT_TRUE(f.leaf_becomes(0, Vector{0.25}));
    m.stop_timed_writers();
    EXPECT_EQ(vector.use_count(), 1) << "the sampler has ended";
}

TEST(Manager, TimedWriterWithABadFrequencyIsNotKept) {
    LogManager f;
    auto& m = *f.manager;
    EXPECT_EQ(stop_message([&] { m.make_timed_writer("/t", -1.0); }), messages::duration_negative());
    EXPECT_TRUE(m.timed_writer_count() == 0);
    EXPECT_TRUE(m.registered_sender("/t")) << "the sender registered on the way stays";
}

TEST(Manager, StoppingTimedWritersReportsAStoppedSamplerAndReleasesTheRest) {
    LogManager f;
    auto& m = *f.manager;
    const Shared<Vector> first = m.make_timed_writer("/a", 1000.0);
    const Shared<Vector> second = m.make_timed_writer("/b", 1000.0);
    EXPECT_THROW(
        {
            auto guard = first.lock();
            stop("poison the sampled vector");
        },
        Panic);
    ASSERT_TRUE(eventually([&] { return first.use_count() == 2; })) << "the first sampler stopped";
    EXPECT_EQ(stop_message([&] { m.stop_timed_writers(); }), messages::could_not_join_writer());
    EXPECT_TRUE(m.timed_writer_count() == 0);
    EXPECT_EQ(second.use_count(), 1) << "the writer after it was stopped and released too";
}

}  // namespace
}  // namespace tallo
