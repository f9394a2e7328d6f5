#pragma once

// Running a program as a child process and collecting what it prints.
//
// Guarantees:
// - `run_program` starts a program by name through the search path, without
//   a shell, with the null device as its standard input. It collects its
//   standard output and standard error in full, reading both pipes together,
//   so a program that fills one while we wait on the other cannot stall, and
//   waits until the program has ended. Its exit status is not looked at. The
//   pipes are closed on exec, so a program started by another thread at the
//   same time never holds our pipe open.
// - The child starts with no signal blocked and SIGPIPE at its default,
//   whatever the calling thread or the host process set.
//
// Thread-safety: any thread may run programs at the same time.
#include <string>
#include <vector>

#include "base/result.h"

namespace tallo {

struct ProgramOutput {
    std::string standard_output;
    std::string standard_error;
};

// Runs `program` with `arguments` and waits for it. An error only when it
// could not be started: the operating system's "{} (os error {})" text.
Result<ProgramOutput, IoError> run_program(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace tallo
