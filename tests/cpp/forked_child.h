#pragma once

// Shared by the unit tests of every folder: what a forked child says.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tallo::testing {

// Forks a child that runs `answer` and sends back the character it returns;
// that character, or '?' when none came. The child leaves at once after; its
// exit status is not used, as a sanitizer's exit report (the parent's
// threads, which the child lacks) may replace it.
template <class F>
char child_answer(F answer) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        const char said = answer();
        [[maybe_unused]] const ssize_t written = write(ends[1], &said, 1);
        _exit(0);
    }
    close(ends[1]);
    char said = '?';
    EXPECT_EQ(read(ends[0], &said, 1), 1);
    close(ends[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return said;
}

}  // namespace tallo::testing
