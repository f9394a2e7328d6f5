#include "base/child_process.h"

#include <gtest/gtest.h>

#include <string>

namespace tallo {
namespace {

TEST(RunProgram, CollectsBothStreamsInFullAndIgnoresTheExitStatus) {
    // Each stream gets far more than a pipe holds, standard error last, so a
    // reader that drained standard output alone first would wait forever.
    Result<ProgramOutput, IoError> output = run_program(
        "sh", {"-c", "head -c 300000 /dev/zero | tr '\\0' o; head -c 300000 /dev/zero | tr '\\0' e >&2; exit 3"});
    ASSERT_TRUE(output);
    EXPECT_EQ(output.value().standard_output, std::string(300000, 'o'));
    EXPECT_EQ(output.value().standard_error, std::string(300000, 'e'));
}

TEST(RunProgram, GivesTheNullDeviceAsStandardInput) {
    Result<ProgramOutput, IoError> output = run_program("sh", {"-c", "readlink /proc/self/fd/0; cat"});
    ASSERT_TRUE(output);
    EXPECT_EQ(output.value().standard_output, "/dev/null\n");
}

}  // namespace
}  // namespace tallo
