// The class `ReactiveCircuit`: a shared reactive circuit that the host builds,
// feeds and updates by hand. Every method but the constructor and
// `from_sum_product` releases the interpreter lock around its circuit
// operation; those two keep it and take no mutex.
#include "python/reactive_circuit.h"

#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "circuit/clustering.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/error.h"
#include "python/frame.h"
#include "python/ref.h"
#include "python/results.h"

namespace tallo::python {

using host::RCVariant;
using host::SumProduct;
using host::TokenValues;

namespace {

constexpr std::string_view class_name = PyReactiveCircuit::name;

// returns a new reference: a new ReactiveCircuit object over `circuit`
Ref object_of(RCVariant circuit) { return new_instance(PyReactiveCircuit{std::move(circuit)}); }

constexpr auto new_signature = documented<arg::UInt32>({class_name, "__new__"}, "ReactiveCircuit(value_size)\n--\n\n");

PyObject* construct(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return call_new(new_signature, args, kwargs, [](std::uint32_t value_size) {
        return object_of(RCVariant::create(value_size));
    });
}

constexpr auto from_sum_product_signature = documented<arg::UInt32, arg::IndexRows, arg::Text>(
    {class_name, "from_sum_product"}, "from_sum_product(value_size, sum_product, target_token)\n--\n\n");

PyObject* from_sum_product(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(from_sum_product_signature, args, nargs, kwnames,
                       [](std::uint32_t value_size, SumProduct sum_product, std::string target_token) {
                           return object_of(RCVariant::from_sum_product(value_size, sum_product, target_token));
                       });
}

constexpr auto add_leaf_signature = documented<arg::FloatList, arg::Float, arg::Text>(
    {class_name, "add_leaf"}, "add_leaf($self, initial_value, initial_timestamp, token)\n--\n\n");

PyObject* add_leaf(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        add_leaf_signature, self, args, nargs, kwnames,
        [](PyReactiveCircuit& object, Vector initial_value, double initial_timestamp, std::string token) {
            RCVariant circuit = object.circuit;
            std::uint32_t index = without_gil([&] {
                return circuit.add_leaf(std::move(initial_value), initial_timestamp, std::move(token));
            });
            return to_py(index);
        });
}

constexpr auto update_leaf_signature = documented<arg::UInt32, arg::FloatList, arg::Float>(
    {class_name, "update_leaf"}, "update_leaf($self, leaf_index, new_value, timestamp)\n--\n\n");

PyObject* update_leaf(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        update_leaf_signature, self, args, nargs, kwnames,
        [](PyReactiveCircuit& object, std::uint32_t leaf_index, Vector new_value, double timestamp) {
            RCVariant circuit = object.circuit;
            without_gil([&] { circuit.update_leaf(leaf_index, std::move(new_value), timestamp); });
            return none();
        });
}

constexpr auto add_sum_product_signature = documented<arg::IndexRows, arg::Text>(
    {class_name, "add_sum_product"}, "add_sum_product($self, sum_product, target_token)\n--\n\n");

PyObject* add_sum_product(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        add_sum_product_signature, self, args, nargs, kwnames,
        [](PyReactiveCircuit& object, SumProduct sum_product, std::string target_token) {
            RCVariant circuit = object.circuit;
            without_gil([&] { circuit.add_sum_product(sum_product, target_token); });
            return none();
        });
}

constexpr auto adapt_signature =
    documented<arg::Float, arg::UInt32>({class_name, "adapt"}, "adapt($self, bin_size, number_bins)\n--\n\n");

PyObject* adapt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        adapt_signature, self, args, nargs, kwnames,
        [](PyReactiveCircuit& object, double bin_size, std::uint32_t number_bins) {
            RCVariant circuit = object.circuit;
            without_gil([&] { circuit.adapt(clustering::equal_width_boundaries(bin_size, number_bins)); });
            return none();
        });
}

PyObject* update(PyObject* self, PyObject*) {
    return call_no_args<PyReactiveCircuit>({class_name, "update"}, self, [](PyReactiveCircuit& object) {
        RCVariant circuit = object.circuit;
        TokenValues values = without_gil([&] { return circuit.update(); });
        return update_result_to_py(values);
    });
}

PyObject* full_update(PyObject* self, PyObject*) {
    return call_no_args<PyReactiveCircuit>({class_name, "full_update"}, self, [](PyReactiveCircuit& object) {
        RCVariant circuit = object.circuit;
        TokenValues values = without_gil([&] { return circuit.full_update(); });
        return update_result_to_py(values);
    });
}

constexpr auto lift_leaf_signature =
    documented<arg::UInt32>({class_name, "lift_leaf"}, "lift_leaf($self, index)\n--\n\n");
constexpr auto drop_leaf_signature =
    documented<arg::UInt32>({class_name, "drop_leaf"}, "drop_leaf($self, index)\n--\n\n");

// `lift_leaf` and `drop_leaf`: one leaf index, None as the result.
template <const Signature<arg::UInt32>& signature, void (RCVariant::*move)(std::uint32_t) const>
PyObject* move_leaf(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(signature, self, args, nargs, kwnames,
                                          [](PyReactiveCircuit& object, std::uint32_t index) {
                                              RCVariant circuit = object.circuit;
                                              without_gil([&] { (circuit.*move)(index); });
                                              return none();
                                          });
}

// returns a new reference: the unpacked gradients as dicts, or raises the
// refusal of a circuit of another semiring
Ref gradients_to_py(Result<gradients::Unpacked>& unpacked) {
    if (!unpacked) raise(PyExc_RuntimeError, unpacked.error().message);
    return to_py(unpacked.value());
}

PyObject* gradient_update(PyObject* self, PyObject*) {
    return call_no_args<PyReactiveCircuit>({class_name, "gradient_update"}, self, [](PyReactiveCircuit& object) {
        RCVariant circuit = object.circuit;
        auto unpacked = without_gil([&] { return circuit.gradient_update(); });
        return gradients_to_py(unpacked);
    });
}

PyObject* full_gradient_update(PyObject* self, PyObject*) {
    return call_no_args<PyReactiveCircuit>({class_name, "full_gradient_update"}, self, [](PyReactiveCircuit& object) {
        RCVariant circuit = object.circuit;
        auto unpacked = without_gil([&] { return circuit.full_gradient_update(); });
        return gradients_to_py(unpacked);
    });
}

constexpr auto fit_signature = documented<arg::TextFloatMap, arg::Float, arg::Float, arg::OptionalTexts, arg::Float>(
    {class_name, "fit"},
    "fit($self, gradients, lr, loss, atoms, timestamp)\n--\n\n"
    "One gradient-descent step over leaf probabilities.\n"
    "Raises `RuntimeError` if the semiring is not `ProbGradient`.");

PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        fit_signature, self, args, nargs, kwnames,
        [](PyReactiveCircuit& object, gradients::Derivatives gradients, double lr, double loss,
           std::optional<std::vector<std::string>> atoms, double timestamp) {
            RCVariant circuit = object.circuit;
            auto refused = without_gil([&] { return circuit.fit(gradients, lr, loss, atoms, timestamp); });
            if (refused) raise(PyExc_RuntimeError, refused->message);
            return none();
        });
}

// returns a new reference: None, or raises the export's I/O error
Ref exported(const std::optional<Error>& error) {
    if (error) raise(PyExc_OSError, error->message);
    return none();
}

constexpr auto to_dot_signature = documented<arg::Text>({class_name, "to_dot"}, "to_dot($self, path)\n--\n\n");

PyObject* to_dot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(to_dot_signature, self, args, nargs, kwnames,
                                          [](PyReactiveCircuit& object, std::string path) {
                                              RCVariant circuit = object.circuit;
                                              return exported(without_gil([&] { return circuit.to_dot(path); }));
                                          });
}

constexpr auto to_svg_signature =
    documented<arg::Text, arg::Flag>({class_name, "to_svg"}, "to_svg($self, path, keep_dot)\n--\n\n");

PyObject* to_svg(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        to_svg_signature, self, args, nargs, kwnames, [](PyReactiveCircuit& object, std::string path, bool keep_dot) {
            RCVariant circuit = object.circuit;
            return exported(without_gil([&] { return circuit.to_svg(path, keep_dot); }));
        });
}

constexpr auto to_combined_svg_signature =
    documented<arg::Text>({class_name, "to_combined_svg"}, "to_combined_svg($self, path)\n--\n\n");

PyObject* to_combined_svg(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PyReactiveCircuit>(
        to_combined_svg_signature, self, args, nargs, kwnames, [](PyReactiveCircuit& object, std::string path) {
            RCVariant circuit = object.circuit;
            return exported(without_gil([&] { return circuit.to_combined_svg(path); }));
        });
}

constexpr const char* class_doc = new_signature.doc;

PyMethodDef methods[] = {
    {"from_sum_product", fastcall(from_sum_product), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     from_sum_product_signature.doc},
    {"add_leaf", fastcall(add_leaf), METH_FASTCALL | METH_KEYWORDS, add_leaf_signature.doc},
    {"update_leaf", fastcall(update_leaf), METH_FASTCALL | METH_KEYWORDS, update_leaf_signature.doc},
    {"add_sum_product", fastcall(add_sum_product), METH_FASTCALL | METH_KEYWORDS, add_sum_product_signature.doc},
    {"adapt", fastcall(adapt), METH_FASTCALL | METH_KEYWORDS, adapt_signature.doc},
    {"update", update, METH_NOARGS, "update($self)\n--\n\n"},
    {"full_update", full_update, METH_NOARGS, "full_update($self)\n--\n\n"},
    {"gradient_update", gradient_update, METH_NOARGS,
     "gradient_update($self)\n--\n\n"
     "Reactive update with gradients unpacked by leaf name.\n"
     "Raises `RuntimeError` if the semiring is not `ProbGradient`."},
    {"full_gradient_update", full_gradient_update, METH_NOARGS,
     "full_gradient_update($self)\n--\n\n"
     "Full (invalidating) update with gradients unpacked by leaf name.\n"
     "Raises `RuntimeError` if the semiring is not `ProbGradient`."},
    {"fit", fastcall(fit), METH_FASTCALL | METH_KEYWORDS, fit_signature.doc},
    {"lift_leaf", fastcall(move_leaf<lift_leaf_signature, &RCVariant::lift_leaf>), METH_FASTCALL | METH_KEYWORDS,
     lift_leaf_signature.doc},
    {"drop_leaf", fastcall(move_leaf<drop_leaf_signature, &RCVariant::drop_leaf>), METH_FASTCALL | METH_KEYWORDS,
     drop_leaf_signature.doc},
    {"to_dot", fastcall(to_dot), METH_FASTCALL | METH_KEYWORDS, to_dot_signature.doc},
    {"to_svg", fastcall(to_svg), METH_FASTCALL | METH_KEYWORDS, to_svg_signature.doc},
    {"to_combined_svg", fastcall(to_combined_svg), METH_FASTCALL | METH_KEYWORDS, to_combined_svg_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_reactive_circuit_class() { return make_class<PyReactiveCircuit>(class_doc, construct, methods); }

}  // namespace tallo::python
