// The class `CategoricalWriter`: sends flat category matrices.
#include <Python.h>

#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PyCategoricalWriter::name;

constexpr auto write_signature = documented<arg::FloatList, arg::OptionalFloat>(
    {class_name, "write"}, "write($self, probabilities, timestamp)\n--\n\n");

constexpr FastMethod write = held<PyCategoricalWriter, write_signature, Raises::nothing>(
    [](PyCategoricalWriter& object, Vector probabilities, std::optional<double> timestamp) {
        object.writer.write(std::move(probabilities), timestamp);
    });

constexpr auto n_categories_signature =
    documented<>({class_name, "n_categories"}, "n_categories($self)\n--\n\n");

constexpr PyCFunction n_categories = held<PyCategoricalWriter, n_categories_signature, Raises::nothing>(
    [](PyCategoricalWriter& object) { return std::uint64_t{object.n_categories}; });

constexpr auto value_size_signature = documented<>({class_name, "value_size"}, "value_size($self)\n--\n\n");

constexpr PyCFunction value_size = held<PyCategoricalWriter, value_size_signature, Raises::nothing>(
    [](PyCategoricalWriter& object) { return std::uint64_t{object.batch_width}; });

constexpr const char* class_doc =
    "Sends a flat probability matrix `[col₀, col₁, …]` where each column has\n"
    "`value_size` entries, one per batch slot.  Accepts a flat list of length\n"
    "`n_categories * value_size`.";

PyMethodDef methods[] = {
    {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
    {"n_categories", n_categories, METH_NOARGS, n_categories_signature.doc},
    {"value_size", value_size, METH_NOARGS, value_size_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_categorical_writer_class() { return make_class<PyCategoricalWriter>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
