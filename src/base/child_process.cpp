#include "base/child_process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/output_file.h"

extern char** environ;

namespace tallo {

namespace {

struct Pipe {
    Descriptor read;
    Descriptor write;
};

// Both ends close on exec; the child gets its copies through dup2, which
// clears that flag on the copy only.
Result<Pipe, IoError> make_pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return os_error(errno);
    return Pipe{Descriptor(ends[0]), Descriptor(ends[1])};
}

// Owners of the spawn attribute objects, destroyed on every path.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct Attributes {
    posix_spawnattr_t attributes;
    Attributes() { posix_spawnattr_init(&attributes); }
    ~Attributes() { posix_spawnattr_destroy(&attributes); }
};

// Reads both pipes until each reports its end. An error on a pipe ends the
// reading of that pipe; what was read stays.
void collect(Descriptor& out, Descriptor& err, ProgramOutput& output) {
    std::array<char, 65536> buffer;
    std::array<Descriptor*, 2> sources{&out, &err};
    std::array<std::string*, 2> sinks{&output.standard_output, &output.standard_error};
    while (out.open() || err.open()) {
        std::array<pollfd, 2> watched{};
        for (std::size_t i = 0; i < 2; ++i) {
            watched[i].fd = sources[i]->open() ? sources[i]->get() : -1;  // a negative fd is skipped
            watched[i].events = POLLIN;
        }
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < 2; ++i) {
            if (!sources[i]->open() || watched[i].revents == 0) continue;
            const ssize_t got = ::read(sources[i]->get(), buffer.data(), buffer.size());
            if (got > 0) {
                sinks[i]->append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                sources[i]->close();
            }
        }
    }
    out.close();
    err.close();
}

// Waits for the child to end. A host that ignores SIGCHLD has children reaped
// for it, and waitpid then reports ECHILD; the status is not used either way.
void wait_for(pid_t child) {
    int status;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

Result<ProgramOutput, IoError> run_program(const std::string& program, const std::vector<std::string>& arguments) {
    Result<Pipe, IoError> out = make_pipe();
    if (!out) return out.error();
    Result<Pipe, IoError> err = make_pipe();
    if (!err) return err.error();

    FileActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files.actions, out.value().write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&files.actions, err.value().write.get(), STDERR_FILENO);

    // The child starts with no signal blocked and SIGPIPE at its default,
    // whatever the host (the interpreter ignores SIGPIPE) or this thread set.
    Attributes attributes;
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes.attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes.attributes, &signals);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child;
    const int failed = ::posix_spawnp(&child, program.c_str(), &files.actions, &attributes.attributes, argv.data(),
                                      environ);
    if (failed != 0) return os_error(failed);

    // Only the child keeps the write ends, so the pipes end when it does.
    out.value().write.close();
    err.value().write.close();
    ProgramOutput output;
    collect(out.value().read, err.value().read, output);
    wait_for(child);
    return output;
}

}  // namespace tallo
