#include "host/graphviz.h"

#include <string_view>
#include <utility>

#include "base/child_process.h"
#include "base/output_file.h"
#include "base/panic.h"
#include "host/messages.h"

namespace tallo::graphviz {

std::string run_graphviz(const std::string& program, const std::vector<std::string>& arguments) {
    Result<ProgramOutput, IoError> output = run_program(program, arguments);
    if (!output) stop(messages::failed_to_run_graphviz(output.error().message));
    return std::move(output.value().standard_output);
}

namespace {

// The file at `path`, created or truncated, holding `text`, synced.
Result<OutputFile, IoError> write_synced(const std::string& path, std::string_view text) {
    Result<OutputFile, IoError> file = OutputFile::create(path);
    if (!file) return file;
    if (auto error = file.value().write_all(text)) return *error;
    if (auto error = file.value().sync()) return *error;
    return file;
}

}  // namespace

std::optional<IoError> write_svg(std::string_view dot_text, const std::string& path, bool keep_dot) {
    const std::string dot_path = keep_dot ? path + ".dot" : path;
    if (auto error = write_text_file(dot_path, dot_text)) return error;
    Result<OutputFile, IoError> file = write_synced(path, run_graphviz("dot", {"-Tsvg", dot_path}));
    if (!file) return file.error();
    return std::nullopt;
}

std::optional<IoError> write_combined_svg(std::string_view graphs, const std::string& path) {
    // Each stage's file stays open until the end; they close newest first.
    Result<OutputFile, IoError> combined = write_synced(path, graphs);
    if (!combined) return combined.error();
    Result<OutputFile, IoError> packed = write_synced(path, run_graphviz("gvpack", {"-u", path}));
    if (!packed) return packed.error();
    Result<OutputFile, IoError> rendered = write_synced(path, run_graphviz("dot", {"-Tsvg", path}));
    if (!rendered) return rendered.error();
    return std::nullopt;
}

}  // namespace tallo::graphviz
