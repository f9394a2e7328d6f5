// The class `Tallo`: the host's handle on one compiled model. Objects come only
// from the static method `compile`. Every method but `get_reactive_circuit`
// releases the interpreter lock around its work; that one takes the model's
// mutex briefly with the lock held, which cannot deadlock, since no holder of
// the model's mutex ever waits for the interpreter lock.
#include <Python.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "circuit/semiring.h"
#include "host/shared_model.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/interruptible.h"
#include "python/method.h"
#include "python/reactive_circuit.h"
#include "python/ref.h"
#include "python/writer_objects.h"

namespace tallo::python {

using host::ParameterGroups;
using host::SharedModel;
using host::SourceWriter;

struct PyTallo {
    static constexpr std::string_view name = "Tallo";
    SharedModel model;
};

namespace {

constexpr std::string_view class_name = PyTallo::name;

// returns a new reference: the writer object of `writer`
constexpr auto writer_object = [](SourceWriter writer) {
    return typed_writer_to_py(std::move(writer.writer), writer.boolean_width);
};

// The docstring of `compile`, its supported values spelled from the semiring
// list.
constexpr std::string compile_doc_text() {
    std::string doc =
        "compile(model, value_size=1, verbose=False, semiring=None)\n--\n\n"
        "Compiles a Tallo model string into a runtime instance.\n"
        "\n"
        "`semiring` selects the inference algebra.  Supported values (case-insensitive):\n";
    for (const std::string_view name : SemiringTypes::names) {
        if (name != SemiringTypes::names.front()) doc += ", ";
        doc += "`\"";
        doc += name;
        doc += "\"`";
        if (name == LogProb::name) doc += " (default)";
    }
    return doc + ".";
}

constexpr auto compile_doc = [] {
    std::array<char, compile_doc_text().size() + 1> text{};  // zero-terminated
    std::ranges::copy(compile_doc_text(), text.begin());
    return text;
}();

constexpr auto compile_signature = documented<arg::Text, arg::Default<arg::UInt32, 1u>, arg::Default<arg::Flag, false>,
                                              arg::NoneByDefault<arg::OptionalText>>({class_name, "compile"},
                                                                                     compile_doc.data());

PyObject* compile(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(compile_signature, args, nargs, kwnames,
                       [](std::string model, std::uint32_t value_size, bool verbose,
                          std::optional<std::string> semiring) {
                           // Ctrl-C abandons a long compile at once; it stops in the
                           // background and drops what it built. It owns its inputs, as
                           // it may outlive this call.
                           auto compiled = interruptible(
                               [model = std::move(model), semiring = std::move(semiring), value_size,
                                verbose](std::stop_token cancel) -> Result<SharedModel> {
                                   Result<SemiringTag> tag = SharedModel::semiring_named(semiring);
                                   if (!tag) return tag.error();
                                   return SharedModel::compile(tag.value(), model, value_size, verbose, cancel);
                               });
                           return new_instance(PyTallo{unwrapped(std::move(compiled))});
                       });
}

constexpr auto get_reactive_circuit_signature =
    documented<>({class_name, "get_reactive_circuit"}, "get_reactive_circuit($self)\n--\n\n");

// Keeps the interpreter lock: the model's mutex is taken only to copy the
// circuit's handle.
constexpr PyCFunction get_reactive_circuit = held<PyTallo, get_reactive_circuit_signature, Raises::nothing>(
    [](PyTallo& object) { return PyReactiveCircuit{object.model.circuit()}; });

constexpr auto read_signature = documented<arg::UInt32, arg::Text, arg::Flag>(
    {class_name, "read"}, "read($self, receiver_idx, channel, invert)\n--\n\n");

constexpr FastMethod read = released<&PyTallo::model, read_signature, Raises::nothing>(
    [](const SharedModel& model, std::uint32_t receiver_idx, const std::string& channel, bool invert) {
        model.read(receiver_idx, channel, invert);
    });

constexpr auto make_writer_signature =
    documented<arg::Text>({class_name, "make_writer"}, "make_writer($self, channel)\n--\n\n");

constexpr FastMethod make_writer = released<&PyTallo::model, make_writer_signature, Raises::RuntimeError>(
    [](const SharedModel& model, const std::string& channel) { return model.make_writer(channel); }, writer_object);

constexpr auto make_writer_for_signature =
    documented<arg::Text>({class_name, "make_writer_for"}, "make_writer_for($self, source_name)\n--\n\n");

constexpr FastMethod make_writer_for = released<&PyTallo::model, make_writer_for_signature, Raises::RuntimeError>(
    [](const SharedModel& model, const std::string& source_name) { return model.make_writer_for(source_name); },
    writer_object);

constexpr auto make_categorical_writer_signature =
    documented<arg::Text>({class_name, "make_categorical_writer"}, "make_categorical_writer($self, channel)\n--\n\n");

constexpr FastMethod make_categorical_writer =
    released<&PyTallo::model, make_categorical_writer_signature, Raises::RuntimeError>(
        [](const SharedModel& model, const std::string& channel) { return model.make_categorical_writer(channel); },
        [](TypedWriter writer) { return typed_writer_to_py(std::move(writer), 1); });

constexpr auto make_timed_writer_signature = documented<arg::Text, arg::Float>(
    {class_name, "make_timed_writer"}, "make_timed_writer($self, channel, frequency)\n--\n\n");

constexpr FastMethod make_timed_writer = released<&PyTallo::model, make_timed_writer_signature, Raises::nothing>(
    [](const SharedModel& model, const std::string& channel, double frequency) {
        return PySharedVector{model.make_timed_writer(channel, frequency)};
    });

constexpr auto stop_timed_writers_signature =
    documented<>({class_name, "stop_timed_writers"}, "stop_timed_writers($self)\n--\n\n");

constexpr PyCFunction stop_timed_writers = released<&PyTallo::model, stop_timed_writers_signature, Raises::nothing>(
    [](const SharedModel& model) { model.stop_timed_writers(); });

constexpr auto get_names_signature = documented<>({class_name, "get_names"}, "get_names($self)\n--\n\n");

constexpr PyCFunction get_names = released<&PyTallo::model, get_names_signature, Raises::nothing>(
    [](const SharedModel& model) { return model.names(); });

constexpr auto get_frequencies_signature =
    documented<>({class_name, "get_frequencies"}, "get_frequencies($self)\n--\n\n");

constexpr PyCFunction get_frequencies = released<&PyTallo::model, get_frequencies_signature, Raises::nothing>(
    [](const SharedModel& model) { return model.frequencies(); });

constexpr auto get_values_signature = documented<>({class_name, "get_values"}, "get_values($self)\n--\n\n");

constexpr PyCFunction get_values = released<&PyTallo::model, get_values_signature, Raises::nothing>(
    [](const SharedModel& model) { return model.values(); });

// The docstring lines both source lookups share after their first; a macro,
// so that each docstring stays one literal.
#define SOURCE_GRADIENTS_DOC                                                     \
    "\n"                                                                         \
    "`gradients` is the inner `\"gradients\"` dict from a `gradient_update` /\n" \
    "`full_gradient_update` result (i.e. `{leaf_name: float}`).\n"               \
    "Raises `RuntimeError` if the semiring is not `ProbGradient`."

// The work of `source_gradients_for` and `source_gradients`, which differ
// only in the name of their key parameter.
constexpr auto source_gradients_of = [](const SharedModel& model, const gradients::Derivatives& gradients,
                                        const std::string& key) { return model.source_gradients(gradients, key); };

constexpr auto source_gradients_for_signature = documented<arg::TextFloatMap, arg::Text>(
    {class_name, "source_gradients_for"},
    "source_gradients_for($self, gradients, atom_name)\n--\n\n"
    "Returns the gradients for a single source looked up by **atom name**.\n" SOURCE_GRADIENTS_DOC);

constexpr FastMethod source_gradients_for =
    released<&PyTallo::model, source_gradients_for_signature, Raises::RuntimeError>(source_gradients_of);

constexpr auto source_gradients_signature = documented<arg::TextFloatMap, arg::Text>(
    {class_name, "source_gradients"},
    "source_gradients($self, gradients, channel)\n--\n\n"
    "Returns the gradients for a single source looked up by **channel name**.\n" SOURCE_GRADIENTS_DOC);

constexpr FastMethod source_gradients =
    released<&PyTallo::model, source_gradients_signature, Raises::RuntimeError>(source_gradients_of);

constexpr auto get_parameter_groups_signature =
    documented<>({class_name, "get_parameter_groups"}, "get_parameter_groups($self)\n--\n\n");

constexpr PyCFunction get_parameter_groups = released<&PyTallo::model, get_parameter_groups_signature, Raises::nothing>(
    [](const SharedModel& model) { return model.parameter_groups(); });

constexpr auto fit_parameters_signature =
    documented<arg::TextFloatMap, arg::Float, arg::Float, arg::OptionalTexts, arg::Float>(
        {class_name, "fit_parameters"},
        "fit_parameters($self, gradients, lr, loss, parameters, timestamp)\n--\n\n"
        "Applies one gradient-descent step to `P(...)` clause parameters.\n"
        "\n"
        "Aggregates gradients across all groundings of each parameter group,\n"
        "then applies a single shared update so all groundings stay in sync.\n"
        "Source atoms and comparison atoms are never modified.\n"
        "\n"
        "Raises `RuntimeError` if the semiring is not `ProbGradient`.");

constexpr FastMethod fit_parameters = released<&PyTallo::model, fit_parameters_signature, Raises::RuntimeError>(
    [](const SharedModel& model, const gradients::Derivatives& gradients, double lr, double loss,
       const std::optional<std::vector<std::string>>& parameters, double timestamp) {
        return model.fit_parameters(gradients, lr, loss, parameters, timestamp);
    });

constexpr const char* class_doc = "A Python wrapper for the high-level `Tallo` language compiler and runtime.";

constexpr int with_parameters = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"compile", fastcall(compile), with_parameters | METH_STATIC, compile_signature.doc},
    {"get_reactive_circuit", get_reactive_circuit, METH_NOARGS, get_reactive_circuit_signature.doc},
    {"read", fastcall(read), with_parameters, read_signature.doc},
    {"make_writer", fastcall(make_writer), with_parameters, make_writer_signature.doc},
    {"make_writer_for", fastcall(make_writer_for), with_parameters, make_writer_for_signature.doc},
    {"make_categorical_writer", fastcall(make_categorical_writer), with_parameters,
     make_categorical_writer_signature.doc},
    {"make_timed_writer", fastcall(make_timed_writer), with_parameters, make_timed_writer_signature.doc},
    {"stop_timed_writers", stop_timed_writers, METH_NOARGS, stop_timed_writers_signature.doc},
    {"get_names", get_names, METH_NOARGS, get_names_signature.doc},
    {"get_frequencies", get_frequencies, METH_NOARGS, get_frequencies_signature.doc},
    {"get_values", get_values, METH_NOARGS, get_values_signature.doc},
    {"source_gradients_for", fastcall(source_gradients_for), with_parameters, source_gradients_for_signature.doc},
    {"source_gradients", fastcall(source_gradients), with_parameters, source_gradients_signature.doc},
    {"get_parameter_groups", get_parameter_groups, METH_NOARGS, get_parameter_groups_signature.doc},
    {"fit_parameters", fastcall(fit_parameters), with_parameters, fit_parameters_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_tallo_class() { return make_class<PyTallo>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
