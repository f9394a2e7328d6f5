#pragma once

// Result conversion: every result becomes a new Python object, built with the
// interpreter lock held and no mutex held, from values the work produced.
//
// When the interpreter cannot create a `str`, `float`, `int`, `list` or `dict`,
// the call stops with "Python API call failed" (except for the update result
// below). When it cannot store an entry into a result dict, its own exception
// is raised (`PyError`).
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/vector.h"
#include "host/gradients.h"
#include "python/ref.h"

namespace tallo::python {

// Each returns a new reference.
Ref to_py(double value);
Ref to_py(std::uint32_t value);
Ref to_py(std::uint64_t value);
Ref to_py(std::string_view text);
Ref to_py(const Vector& values);  // a list of floats
Ref none();

// A list of the converted elements, in order.
template <class T>
Ref to_py(const std::vector<T>& items);

// A dict filled in the map's iteration order.
Ref to_py(const std::unordered_map<std::string, double>& map);
Ref to_py(const std::unordered_map<std::string, std::vector<std::string>>& map);  // lists of str

// The result of `ReactiveCircuit.update` and `full_update`: a dict of target
// tokens to lists of floats. When the interpreter cannot make an object of
// it, its own exception is raised (`PyError`) instead of a stop: the circuit
// has been updated, and the host sees the interpreter's error as it stands.
Ref update_result_to_py(const std::unordered_map<std::string, Vector>& values);

// {"probability": p, "gradients": {leaf name: derivative}}, in that key order.
Ref to_py(const gradients::TargetGradients& target);
// A dict of target tokens to such dicts.
Ref to_py(const gradients::Unpacked& unpacked);

namespace detail {
// returns a new reference: an empty list of `size` slots
Ref new_list(std::size_t size);
// Stores `item` (stolen) at `index` of a list made by `new_list`.
void set_list_item(const Ref& list, std::size_t index, Ref item) noexcept;
}  // namespace detail

template <class T>
Ref to_py(const std::vector<T>& items) {
    Ref list = detail::new_list(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) detail::set_list_item(list, i, to_py(items[i]));
    return list;
}

}  // namespace tallo::python
