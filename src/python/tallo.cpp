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
#include "python/error.h"
#include "python/frame.h"
#include "python/interruptible.h"
#include "python/reactive_circuit.h"
#include "python/ref.h"
#include "python/results.h"
#include "python/writer_classes.h"

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

// returns a new reference: the writer object of `made`, or raises its error
Ref writer_object(Result<SourceWriter> made) {
    if (!made) raise(PyExc_RuntimeError, made.error().message);
    SourceWriter writer = std::move(made).value();
    return typed_writer_to_py(std::move(writer.writer), writer.boolean_width);
}

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
                           // Ctrl-C cancels a long compile (and drops what it built).
                           auto compiled = interruptible([&](std::stop_token cancel) -> Result<SharedModel> {
                               Result<SemiringTag> tag = SharedModel::semiring_named(semiring);
                               if (!tag) return tag.error();
                               return SharedModel::compile(tag.value(), model, value_size, verbose, cancel);
                           });
                           if (!compiled) raise(PyExc_RuntimeError, compiled.error().message);
                           return new_instance(PyTallo{std::move(compiled).value()});
                       });
}

PyObject* get_reactive_circuit(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "get_reactive_circuit"}, self, [](PyTallo& object) {
        return new_instance(PyReactiveCircuit{object.model.circuit()});
    });
}

constexpr auto read_signature = documented<arg::UInt32, arg::Text, arg::Flag>(
    {class_name, "read"}, "read($self, receiver_idx, channel, invert)\n--\n\n");

PyObject* read(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(read_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, std::uint32_t receiver_idx, std::string channel, bool invert) {
                                    SharedModel model = object.model;
                                    without_gil([&] { model.read(receiver_idx, channel, invert); });
                                    return none();
                                });
}

constexpr auto make_writer_signature =
    documented<arg::Text>({class_name, "make_writer"}, "make_writer($self, channel)\n--\n\n");

PyObject* make_writer(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(make_writer_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, std::string channel) {
                                    SharedModel model = object.model;
                                    auto made = without_gil([&] { return model.make_writer(channel); });
                                    return writer_object(std::move(made));
                                });
}

constexpr auto make_writer_for_signature =
    documented<arg::Text>({class_name, "make_writer_for"}, "make_writer_for($self, source_name)\n--\n\n");

PyObject* make_writer_for(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(make_writer_for_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, std::string source_name) {
                                    SharedModel model = object.model;
                                    auto made = without_gil([&] { return model.make_writer_for(source_name); });
                                    return writer_object(std::move(made));
                                });
}

constexpr auto make_categorical_writer_signature =
    documented<arg::Text>({class_name, "make_categorical_writer"}, "make_categorical_writer($self, channel)\n--\n\n");

PyObject* make_categorical_writer(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return call_method<PyTallo>(make_categorical_writer_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, std::string channel) {
                                    SharedModel model = object.model;
                                    auto made = without_gil([&] { return model.make_categorical_writer(channel); });
                                    if (!made) raise(PyExc_RuntimeError, made.error().message);
                                    return typed_writer_to_py(std::move(made).value(), 1);
                                });
}

constexpr auto make_timed_writer_signature = documented<arg::Text, arg::Float>(
    {class_name, "make_timed_writer"}, "make_timed_writer($self, channel, frequency)\n--\n\n");

PyObject* make_timed_writer(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(make_timed_writer_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, std::string channel, double frequency) {
                                    SharedModel model = object.model;
                                    Shared<Vector> vector =
                                        without_gil([&] { return model.make_timed_writer(channel, frequency); });
                                    return new_instance(PySharedVector{std::move(vector)});
                                });
}

PyObject* stop_timed_writers(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "stop_timed_writers"}, self, [](PyTallo& object) {
        SharedModel model = object.model;
        without_gil([&] { model.stop_timed_writers(); });
        return none();
    });
}

PyObject* get_names(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "get_names"}, self, [](PyTallo& object) {
        SharedModel model = object.model;
        std::vector<std::string> names = without_gil([&] { return model.names(); });
        return to_py(names);
    });
}

PyObject* get_frequencies(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "get_frequencies"}, self, [](PyTallo& object) {
        SharedModel model = object.model;
        std::vector<double> frequencies = without_gil([&] { return model.frequencies(); });
        return to_py(frequencies);
    });
}

PyObject* get_values(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "get_values"}, self, [](PyTallo& object) {
        SharedModel model = object.model;
        std::vector<Vector> values = without_gil([&] { return model.values(); });
        return to_py(values);
    });
}

// The one operation behind `source_gradients_for` and `source_gradients`,
// which differ only in the name of their key parameter.
Ref source_gradients_impl(PyTallo& object, const gradients::Derivatives& gradients, const std::string& key) {
    SharedModel model = object.model;
    auto picked = without_gil([&] { return model.source_gradients(gradients, key); });
    if (!picked) raise(PyExc_RuntimeError, picked.error().message);
    return to_py(picked.value());
}

// The docstring lines both source lookups share after their first; a macro,
// so that each docstring stays one literal.
#define SOURCE_GRADIENTS_DOC                                                     \
    "\n"                                                                         \
    "`gradients` is the inner `\"gradients\"` dict from a `gradient_update` /\n" \
    "`full_gradient_update` result (i.e. `{leaf_name: float}`).\n"               \
    "Raises `RuntimeError` if the semiring is not `ProbGradient`."

constexpr auto source_gradients_for_signature = documented<arg::TextFloatMap, arg::Text>(
    {class_name, "source_gradients_for"},
    "source_gradients_for($self, gradients, atom_name)\n--\n\n"
    "Returns the gradients for a single source looked up by **atom name**.\n" SOURCE_GRADIENTS_DOC);

PyObject* source_gradients_for(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(source_gradients_for_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, gradients::Derivatives gradients, std::string atom_name) {
                                    return source_gradients_impl(object, gradients, atom_name);
                                });
}

constexpr auto source_gradients_signature = documented<arg::TextFloatMap, arg::Text>(
    {class_name, "source_gradients"},
    "source_gradients($self, gradients, channel)\n--\n\n"
    "Returns the gradients for a single source looked up by **channel name**.\n" SOURCE_GRADIENTS_DOC);

PyObject* source_gradients(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(source_gradients_signature, self, args, nargs, kwnames,
                                [](PyTallo& object, gradients::Derivatives gradients, std::string channel) {
                                    return source_gradients_impl(object, gradients, channel);
                                });
}

PyObject* get_parameter_groups(PyObject* self, PyObject*) {
    return call_no_args<PyTallo>({class_name, "get_parameter_groups"}, self, [](PyTallo& object) {
        SharedModel model = object.model;
        ParameterGroups groups = without_gil([&] { return model.parameter_groups(); });
        return to_py(groups);
    });
}

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

PyObject* fit_parameters(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyTallo>(
        fit_parameters_signature, self, args, nargs, kwnames,
        [](PyTallo& object, gradients::Derivatives gradients, double lr, double loss,
           std::optional<std::vector<std::string>> parameters, double timestamp) {
            SharedModel model = object.model;
            auto refused =
                without_gil([&] { return model.fit_parameters(gradients, lr, loss, parameters, timestamp); });
            if (refused) raise(PyExc_RuntimeError, refused->message);
            return none();
        });
}

constexpr const char* class_doc = "A Python wrapper for the high-level `Tallo` language compiler and runtime.";

constexpr int with_parameters = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"compile", fastcall(compile), with_parameters | METH_STATIC, compile_signature.doc},
    {"get_reactive_circuit", get_reactive_circuit, METH_NOARGS, "get_reactive_circuit($self)\n--\n\n"},
    {"read", fastcall(read), with_parameters, read_signature.doc},
    {"make_writer", fastcall(make_writer), with_parameters, make_writer_signature.doc},
    {"make_writer_for", fastcall(make_writer_for), with_parameters, make_writer_for_signature.doc},
    {"make_categorical_writer", fastcall(make_categorical_writer), with_parameters,
     make_categorical_writer_signature.doc},
    {"make_timed_writer", fastcall(make_timed_writer), with_parameters, make_timed_writer_signature.doc},
    {"stop_timed_writers", stop_timed_writers, METH_NOARGS, "stop_timed_writers($self)\n--\n\n"},
    {"get_names", get_names, METH_NOARGS, "get_names($self)\n--\n\n"},
    {"get_frequencies", get_frequencies, METH_NOARGS, "get_frequencies($self)\n--\n\n"},
    {"get_values", get_values, METH_NOARGS, "get_values($self)\n--\n\n"},
    {"source_gradients_for", fastcall(source_gradients_for), with_parameters, source_gradients_for_signature.doc},
    {"source_gradients", fastcall(source_gradients), with_parameters, source_gradients_signature.doc},
    {"get_parameter_groups", get_parameter_groups, METH_NOARGS, "get_parameter_groups($self)\n--\n\n"},
    {"fit_parameters", fastcall(fit_parameters), with_parameters, fit_parameters_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_tallo_class() { return make_class<PyTallo>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
