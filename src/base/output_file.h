#pragma once

// Descriptor: the owner of one file descriptor, which it closes when it goes.
// OutputFile: a file opened for writing, with the failures a host sees as
// recoverable I/O errors (`IoError`, base/result.h) rather than stops.
//
// Guarantees:
// - `create` opens the file write-only, creating it with permissions 0666
//   less the process's umask or truncating it if it exists. A path holding a
//   NUL character is refused before anything is touched.
// - `write_all` writes the whole text or returns the first error; after an
//   error part of the text may have been written. A write that takes no bytes
//   ends it with "failed to write whole buffer". Interrupted calls are retried.
// - `sync` flushes the file to the storage device, repeating while it is
//   interrupted by a signal.
// - Errors from the operating system read "<description> (os error <n>)",
//   the description being the C library's text for the error number.
// - A Descriptor is move-only: a move hands the descriptor over and leaves
//   the source owning none (-1); closing, assigning over it or destroying it
//   closes the descriptor it owns, once. An OutputFile owns its file's
//   Descriptor: it is move-only and closes the file when destroyed.
//
// Thread-safety: none of its own; one owner uses it at a time.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace tallo {

class Descriptor {
public:
    Descriptor() noexcept = default;
    explicit Descriptor(int descriptor) noexcept : descriptor_(descriptor) {}
    Descriptor(Descriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            close();
            descriptor_ = std::exchange(other.descriptor_, -1);
        }
        return *this;
    }
    ~Descriptor() { close(); }

    int get() const noexcept { return descriptor_; }
    bool open() const noexcept { return descriptor_ >= 0; }
    void close() noexcept;

private:
    int descriptor_ = -1;
};

class OutputFile {
public:
    static Result<OutputFile, IoError> create(const std::string& path);

    // Nothing on success, else the first error.
    std::optional<IoError> write_all(std::string_view text);
    std::optional<IoError> sync();

private:
    explicit OutputFile(Descriptor descriptor) noexcept : descriptor_(std::move(descriptor)) {}

    Descriptor descriptor_;
};

// The error of an operating-system call that failed with `error_number`.
IoError os_error(int error_number);

// Creates or truncates the file at `path` and writes `text` into it, unsynced.
// Nothing on success, else the first error.
std::optional<IoError> write_text_file(const std::string& path, std::string_view text);

}  // namespace tallo
