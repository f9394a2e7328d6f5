#include "host/graphviz.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "base/child_process.h"
#include "base/output_file.h"
#include "base/vector.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "host/messages.h"
#include "stop_message.h"

namespace tallo::graphviz {
namespace {

namespace fs = std::filesystem;
using testing::stop_message;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string os_text(int error_number) { return os_error(error_number).message; }

// Sets PATH for its lifetime.
class SearchPath {
public:
    explicit SearchPath(const std::string& value) {
        if (const char* old = std::getenv("PATH")) old_ = old;
        ::setenv("PATH", value.c_str(), 1);
    }
    ~SearchPath() {
        if (old_) ::setenv("PATH", old_->c_str(), 1);
        else ::unsetenv("PATH");
    }

private:
    std::optional<std::string> old_;
};

class GraphvizTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tallo-graphviz-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directory(bin());
        build("/t");
    }

    // Node 0 reports `token` over leaf 0 and the memory of edge 0 to node 1,
    // which reads leaf 1 and has left its value, -0.5, in the memory.
    void build(const std::string& token) {
        circuit_ = ReactiveCircuit<LogProb>(1);
        circuit_.add_leaf(Vector{1.0}, 0.0, "a");
        circuit_.add_leaf(Vector{std::exp(-0.5)}, 0.0, "b");
        circuit_.add_sum_product({{0}}, token);
        circuit_.connect(0, circuit_.add_inner_node({{1}}), 0);
        circuit_.update();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path bin() const { return dir_ / "bin"; }
    std::string at(const char* name) const { return (dir_ / name).string(); }

    // A program in bin() that writes the file named by its last argument to
    // standard output, standing in for a Graphviz program.
    void fake(const char* name) const {
        const fs::path script = bin() / name;
        std::ofstream(script) << "#!/bin/sh\nfor last; do :; done\n/bin/cat \"$last\"\n";
        fs::permissions(script, fs::perms::owner_all);
    }

    std::string text() const { return circuit_.to_dot_text(); }
    std::string combined_text() const { return combined_dot_text(circuit_); }

    fs::path dir_;
    ReactiveCircuit<LogProb> circuit_{1};
};

TEST_F(GraphvizTest, AProgramThatCannotStartIsAStartErrorOrAStop) {
    const fs::path not_executable = bin() / "locked";
    std::ofstream(not_executable) << "#!/bin/sh\n";
    fs::permissions(not_executable, fs::perms::owner_read | fs::perms::owner_write);
    SearchPath path(bin().string());

    struct Case {
        const char* program;
        int error_number;
    };
    for (const Case& c : {Case{"dot", ENOENT}, Case{"locked", EACCES}}) {
        Result<ProgramOutput, IoError> output = run_program(c.program, {});
        ASSERT_FALSE(output) << c.program;
        EXPECT_EQ(output.error().message, os_text(c.error_number));
        EXPECT_EQ(stop_message([&] { run_graphviz(c.program, {}); }),
                  messages::failed_to_run_graphviz(os_text(c.error_number)));
    }
}

TEST_F(GraphvizTest, SvgKeepsTheDotTextBesideItOnlyWhenAsked) {
    EXPECT_FALSE(write_svg(text(), at("kept.svg"), true));
    EXPECT_EQ(contents(at("kept.svg.dot")), text());
    EXPECT_NE(contents(at("kept.svg")).find("<svg"), std::string::npos);

    EXPECT_FALSE(write_svg(text(), at("alone.svg"), false));
    EXPECT_NE(contents(at("alone.svg")).find("<svg"), std::string::npos);
    EXPECT_FALSE(fs::exists(at("alone.svg.dot")));
}

TEST_F(GraphvizTest, CombinedSvgRendersTheMergedGraphs) {
    EXPECT_FALSE(write_combined_svg(combined_text(), at("all.svg")));
    const std::string svg = contents(at("all.svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("L0\u00b7M0"), std::string::npos) << "the node's record is part of the picture";
}

TEST_F(GraphvizTest, CombinedSvgHandsEveryGraphToGvpackAndItsOutputToDot) {
    fake("gvpack");
    fake("dot");
    SearchPath path(bin().string());
    EXPECT_FALSE(write_combined_svg(combined_text(), at("all.svg")));
    EXPECT_EQ(contents(at("all.svg")), combined_text());

    // A circuit without nodes is one graph.
    circuit_ = ReactiveCircuit<LogProb>(1);
    EXPECT_EQ(combined_text(), text());
    EXPECT_FALSE(write_combined_svg(combined_text(), at("empty.svg")));
    EXPECT_EQ(contents(at("empty.svg")), text());
}

TEST_F(GraphvizTest, AMissingProgramStopsAndLeavesWhatWasWritten) {
    const std::string stopped = messages::failed_to_run_graphviz(os_text(ENOENT));
    {
        SearchPath path(bin().string());
        EXPECT_EQ(stop_message([&] { write_svg(text(), at("a.svg"), true); }), stopped);
        EXPECT_EQ(contents(at("a.svg.dot")), text());
        EXPECT_FALSE(fs::exists(at("a.svg")));

        EXPECT_EQ(stop_message([&] { write_combined_svg(combined_text(), at("b.svg")); }), stopped);
        EXPECT_EQ(contents(at("b.svg")), combined_text());
    }
    fake("gvpack");
    SearchPath path(bin().string());
    EXPECT_EQ(stop_message([&] { write_combined_svg(combined_text(), at("d.svg")); }), stopped);
    EXPECT_EQ(contents(at("d.svg")), combined_text()) << "gvpack's output stays when dot is missing";
}

TEST_F(GraphvizTest, AFileErrorEndsTheExportBeforeAnyProgramRuns) {
    // With an empty search path, running a program would stop instead.
    SearchPath path(bin().string());
    const std::string missing = at("missing/out.svg");
    const std::string enoent = os_text(ENOENT);
    std::optional<IoError> error;
    for (bool keep_dot : {false, true}) {
        error = write_svg(text(), missing, keep_dot);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message, enoent);
    }
    error = write_combined_svg(combined_text(), missing);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, enoent);
}

TEST_F(GraphvizTest, AnUnreadableDotTextIsNoError) {
    build("/t\"x");
    EXPECT_FALSE(write_svg(text(), at("bad.svg"), false));
    EXPECT_TRUE(fs::exists(at("bad.svg")));
}

}  // namespace
}  // namespace tallo::graphviz
