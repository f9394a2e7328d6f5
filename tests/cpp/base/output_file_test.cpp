#include "base/output_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/messages.h"

namespace tallo {
namespace {

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tallo-output-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

TEST_F(OutputFileTest, CreatesWithTheUmaskAppliedAndReplacesExistingContents) {
    const std::string path = (dir_ / "graph.dot").string();
    const mode_t old_mask = ::umask(022);
    EXPECT_FALSE(write_text_file(path, "a much longer first text\n"));
    ::umask(old_mask);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    EXPECT_FALSE(write_text_file(path, "second\n"));
    EXPECT_EQ(contents(path), "second\n");
}

TEST_F(OutputFileTest, WritesAndSyncsThroughOneOwner) {
    const std::string path = (dir_ / "out.svg").string();
    Result<OutputFile, IoError> file = OutputFile::create(path);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file.value().write_all("<svg/>"));
    EXPECT_FALSE(file.value().write_all(""));
    EXPECT_FALSE(file.value().sync());
    EXPECT_EQ(contents(path), "<svg/>");
}

TEST_F(OutputFileTest, FailuresAreErrorValuesWithTheHostTexts) {
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {(dir_ / "missing" / "graph.dot").string(), "No such file or directory (os error 2)"},
        {dir_.string(), "Is a directory (os error 21)"},
        {(dir_ / std::string("a\0b", 3)).string(), std::string(messages::nul_in_file_name())},
    };
    for (const Case& c : cases) {
        std::optional<IoError> error = write_text_file(c.path, "text");
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(error->message, c.message);
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "a"));
}

TEST_F(OutputFileTest, AFullDeviceFailsTheWrite) {
    Result<OutputFile, IoError> file = OutputFile::create("/dev/full");
    if (!file) GTEST_SKIP() << "no /dev/full here: " << file.error().message;
    std::optional<IoError> error = file.value().write_all("text");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "No space left on device (os error 28)");
}

}  // namespace
}  // namespace tallo
