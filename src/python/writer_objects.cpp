// typed_writer_to_py: a model's writer for a source as the host's object.
#include <type_traits>
#include <utility>
#include <variant>

#include "python/classes.h"
#include "python/writer_objects.h"

namespace tallo::python {

Ref typed_writer_to_py(TypedWriter writer, std::size_t boolean_width) {
    return std::visit(
        [&](auto&& kind) {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, TypedWriter::Probability>) {
                return new_instance(PyProbabilityWriter{std::move(kind.writer)});
            } else if constexpr (std::is_same_v<Kind, TypedWriter::Density>) {
                return new_instance(PyDensityWriter{std::move(kind.writer)});
            } else if constexpr (std::is_same_v<Kind, TypedWriter::Number>) {
                return new_instance(PyNumberWriter{std::move(kind.targets)});
            } else if constexpr (std::is_same_v<Kind, TypedWriter::Boolean>) {
                return new_instance(PyBooleanWriter{std::move(kind.writer), boolean_width});
            } else {
                static_assert(std::is_same_v<Kind, TypedWriter::Categorical>);
                return new_instance(PyCategoricalWriter{std::move(kind.writer), kind.n_categories, kind.batch_width});
            }
        },
        std::move(writer.kind));
}

}  // namespace tallo::python
