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
#include "python/method.h"
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

constexpr FastMethod add_leaf = released<&PyReactiveCircuit::circuit, add_leaf_signature, Raises::nothing>(
    [](const RCVariant& circuit, Vector initial_value, double initial_timestamp, std::string token) {
        return circuit.add_leaf(std::move(initial_value), initial_timestamp, std::move(token));
    });

constexpr auto update_leaf_signature = documented<arg::UInt32, arg::FloatList, arg::Float>(
    {class_name, "update_leaf"}, "update_leaf($self, leaf_index, new_value, timestamp)\n--\n\n");

constexpr FastMethod update_leaf = released<&PyReactiveCircuit::circuit, update_leaf_signature, Raises::nothing>(
    [](const RCVariant& circuit, std::uint32_t leaf_index, Vector new_value, double timestamp) {
        circuit.update_leaf(leaf_index, std::move(new_value), timestamp);
    });

constexpr auto add_sum_product_signature = documented<arg::IndexRows, arg::Text>(
    {class_name, "add_sum_product"}, "add_sum_product($self, sum_product, target_token)\n--\n\n");

constexpr FastMethod add_sum_product =
    released<&PyReactiveCircuit::circuit, add_sum_product_signature, Raises::nothing>(
        [](const RCVariant& circuit, const SumProduct& sum_product, const std::string& target_token) {
            circuit.add_sum_product(sum_product, target_token);
        });

constexpr auto adapt_signature =
    documented<arg::Float, arg::UInt32>({class_name, "adapt"}, "adapt($self, bin_size, number_bins)\n--\n\n");

constexpr FastMethod adapt = released<&PyReactiveCircuit::circuit, adapt_signature, Raises::nothing>(
    [](const RCVariant& circuit, double bin_size, std::uint32_t number_bins) {
        circuit.adapt(clustering::equal_width_boundaries(bin_size, number_bins));
    });

// The result step of `update` and `full_update`, whose result keeps the
// interpreter's own error where it cannot be made (results.h).
constexpr auto update_result = [](const TokenValues& values) { return update_result_to_py(values); };

constexpr auto update_signature = documented<>({class_name, "update"}, "update($self)\n--\n\n");

constexpr PyCFunction update = released<&PyReactiveCircuit::circuit, update_signature, Raises::nothing>(
    [](const RCVariant& circuit) { return circuit.update(); }, update_result);

constexpr auto full_update_signature = documented<>({class_name, "full_update"}, "full_update($self)\n--\n\n");

constexpr PyCFunction full_update = released<&PyReactiveCircuit::circuit, full_update_signature, Raises::nothing>(
    [](const RCVariant& circuit) { return circuit.full_update(); }, update_result);

constexpr auto gradient_update_signature =
    documented<>({class_name, "gradient_update"},
                 "gradient_update($self)\n--\n\n"
                 "Reactive update with gradients unpacked by leaf name.\n"
                 "Raises `RuntimeError` if the semiring is not `ProbGradient`.");

constexpr PyCFunction gradient_update =
    released<&PyReactiveCircuit::circuit, gradient_update_signature, Raises::RuntimeError>(
        [](const RCVariant& circuit) { return circuit.gradient_update(); });

constexpr auto full_gradient_update_signature =
    documented<>({class_name, "full_gradient_update"},
                 "full_gradient_update($self)\n--\n\n"
                 "Full (invalidating) update with gradients unpacked by leaf name.\n"
                 "Raises `RuntimeError` if the semiring is not `ProbGradient`.");

constexpr PyCFunction full_gradient_update =
    released<&PyReactiveCircuit::circuit, full_gradient_update_signature, Raises::RuntimeError>(
        [](const RCVariant& circuit) { return circuit.full_gradient_update(); });

constexpr auto fit_signature = documented<arg::TextFloatMap, arg::Float, arg::Float, arg::OptionalTexts, arg::Float>(
    {class_name, "fit"},
    "fit($self, gradients, lr, loss, atoms, timestamp)\n--\n\n"
    "One gradient-descent step over leaf probabilities.\n"
    "Raises `RuntimeError` if the semiring is not `ProbGradient`.");

constexpr FastMethod fit = released<&PyReactiveCircuit::circuit, fit_signature, Raises::RuntimeError>(
    [](const RCVariant& circuit, const gradients::Derivatives& gradients, double lr, double loss,
       const std::optional<std::vector<std::string>>& atoms, double timestamp) {
        return circuit.fit(gradients, lr, loss, atoms, timestamp);
    });

constexpr auto lift_leaf_signature =
    documented<arg::UInt32>({class_name, "lift_leaf"}, "lift_leaf($self, index)\n--\n\n");

constexpr FastMethod lift_leaf = released<&PyReactiveCircuit::circuit, lift_leaf_signature, Raises::nothing>(
    [](const RCVariant& circuit, std::uint32_t index) { circuit.lift_leaf(index); });

constexpr auto drop_leaf_signature =
    documented<arg::UInt32>({class_name, "drop_leaf"}, "drop_leaf($self, index)\n--\n\n");

constexpr FastMethod drop_leaf = released<&PyReactiveCircuit::circuit, drop_leaf_signature, Raises::nothing>(
    [](const RCVariant& circuit, std::uint32_t index) { circuit.drop_leaf(index); });

constexpr auto to_dot_signature = documented<arg::Text>({class_name, "to_dot"}, "to_dot($self, path)\n--\n\n");

constexpr FastMethod to_dot = released<&PyReactiveCircuit::circuit, to_dot_signature, Raises::OSError>(
    [](const RCVariant& circuit, const std::string& path) { return circuit.to_dot(path); });

constexpr auto to_svg_signature =
    documented<arg::Text, arg::Flag>({class_name, "to_svg"}, "to_svg($self, path, keep_dot)\n--\n\n");

constexpr FastMethod to_svg = released<&PyReactiveCircuit::circuit, to_svg_signature, Raises::OSError>(
    [](const RCVariant& circuit, const std::string& path, bool keep_dot) { return circuit.to_svg(path, keep_dot); });

constexpr auto to_combined_svg_signature =
    documented<arg::Text>({class_name, "to_combined_svg"}, "to_combined_svg($self, path)\n--\n\n");

constexpr FastMethod to_combined_svg =
    released<&PyReactiveCircuit::circuit, to_combined_svg_signature, Raises::OSError>(
        [](const RCVariant& circuit, const std::string& path) { return circuit.to_combined_svg(path); });

constexpr const char* class_doc = new_signature.doc;

PyMethodDef methods[] = {
    {"from_sum_product", fastcall(from_sum_product), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     from_sum_product_signature.doc},
    {"add_leaf", fastcall(add_leaf), METH_FASTCALL | METH_KEYWORDS, add_leaf_signature.doc},
    {"update_leaf", fastcall(update_leaf), METH_FASTCALL | METH_KEYWORDS, update_leaf_signature.doc},
    {"add_sum_product", fastcall(add_sum_product), METH_FASTCALL | METH_KEYWORDS, add_sum_product_signature.doc},
    {"adapt", fastcall(adapt), METH_FASTCALL | METH_KEYWORDS, adapt_signature.doc},
    {"update", update, METH_NOARGS, update_signature.doc},
    {"full_update", full_update, METH_NOARGS, full_update_signature.doc},
    {"gradient_update", gradient_update, METH_NOARGS, gradient_update_signature.doc},
    {"full_gradient_update", full_gradient_update, METH_NOARGS, full_gradient_update_signature.doc},
    {"fit", fastcall(fit), METH_FASTCALL | METH_KEYWORDS, fit_signature.doc},
    {"lift_leaf", fastcall(lift_leaf), METH_FASTCALL | METH_KEYWORDS, lift_leaf_signature.doc},
    {"drop_leaf", fastcall(drop_leaf), METH_FASTCALL | METH_KEYWORDS, drop_leaf_signature.doc},
    {"to_dot", fastcall(to_dot), METH_FASTCALL | METH_KEYWORDS, to_dot_signature.doc},
    {"to_svg", fastcall(to_svg), METH_FASTCALL | METH_KEYWORDS, to_svg_signature.doc},
    {"to_combined_svg", fastcall(to_combined_svg), METH_FASTCALL | METH_KEYWORDS, to_combined_svg_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_reactive_circuit_class() { return make_class<PyReactiveCircuit>(class_doc, construct, methods); }

}  // namespace tallo::python
