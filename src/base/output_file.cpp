#include "base/output_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "base/messages.h"

namespace tallo {

IoError os_error(int error_number) {
    char buffer[256];
    // The GNU variant: returns the text, in `buffer` or in static storage.
    const char* description = strerror_r(error_number, buffer, sizeof buffer);
    return IoError{messages::os_error(description, error_number)};
}

void Descriptor::close() noexcept {
    if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
}

Result<OutputFile, IoError> OutputFile::create(const std::string& path) {
    if (path.find('\0') != std::string::npos) return IoError{std::string(messages::nul_in_file_name())};
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return os_error(errno);
    return OutputFile(Descriptor(descriptor));
}

std::optional<IoError> OutputFile::write_all(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(descriptor_.get(), text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (written == 0) return IoError{std::string(messages::write_zero())};
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

std::optional<IoError> OutputFile::sync() {
    while (::fsync(descriptor_.get()) != 0) {
        if (errno != EINTR) return os_error(errno);
    }
    return std::nullopt;
}

std::optional<IoError> write_text_file(const std::string& path, std::string_view text) {
    Result<OutputFile, IoError> file = OutputFile::create(path);
    if (!file) return file.error();
    return file.value().write_all(text);
}

}  // namespace tallo
