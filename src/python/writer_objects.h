#pragma once

// The objects a host writes through: the binding types of the five writer
// classes and of `SharedVector`, and the writer object made from a model's
// writer (`typed_writer_to_py`, writer_objects.cpp). A writer object owns its
// senders (released when the object goes); a SharedVector object is one
// holder of the vector that a timed writer samples.
#include <cstddef>
#include <string_view>
#include <vector>

#include "base/poisonable.h"
#include "base/vector.h"
#include "channels/ipc.h"
#include "language/typed_writer.h"
#include "python/ref.h"

namespace tallo::python {

struct PyProbabilityWriter {
    static constexpr std::string_view name = "ProbabilityWriter";
    IpcWriter writer;
};

struct PyDensityWriter {
    static constexpr std::string_view name = "DensityWriter";
    IpcDensityWriter writer;
};

struct PyNumberWriter {
    static constexpr std::string_view name = "NumberWriter";
    std::vector<ComparisonTarget> targets;
};

struct PyBooleanWriter {
    static constexpr std::string_view name = "BooleanWriter";
    IpcWriter writer;
    std::size_t width;  // the slots of one write (SourceWriter::boolean_width)
};

struct PyCategoricalWriter {
    static constexpr std::string_view name = "CategoricalWriter";
    IpcWriter writer;
    std::size_t n_categories;
    std::size_t batch_width;  // the circuit's when the writer was made; the class's `value_size`
};

struct PySharedVector {
    static constexpr std::string_view name = "SharedVector";
    Shared<Vector> vector;
};

// returns a new reference: the writer object of the class named like the
// writer's variant, holding it. When the interpreter cannot make the object,
// the writer and its senders are released and its error is raised.
Ref typed_writer_to_py(TypedWriter writer, std::size_t boolean_width);

}  // namespace tallo::python
