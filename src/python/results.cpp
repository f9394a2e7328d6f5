#include "python/results.h"

#include "base/panic.h"
#include "python/error.h"
#include "python/messages.h"

namespace tallo::python {

namespace {

// The new reference `object`, or a stop when the interpreter made none.
Ref made(PyObject* object) {
    if (!object) stop(std::string(messages::python_api_call_failed()));
    return Ref::steal(object);
}

template <class Map>
Ref dict_of(const Map& map) {
    Ref dict = made(PyDict_New());
    for (const auto& [key, value] : map) {
        Ref name = to_py(std::string_view(key));
        Ref item = to_py(value);
        if (PyDict_SetItem(dict.get(), name.get(), item.get()) < 0) throw_error();
    }
    return dict;
}

}  // namespace

Ref to_py(double value) { return made(PyFloat_FromDouble(value)); }

Ref to_py(std::uint32_t value) { return made(PyLong_FromUnsignedLong(value)); }

Ref to_py(std::uint64_t value) { return made(PyLong_FromUnsignedLongLong(value)); }

Ref to_py(std::string_view text) {
    return made(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

Ref to_py(const Vector& values) {
    Ref list = detail::new_list(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) detail::set_list_item(list, i, to_py(values[i]));
    return list;
}

Ref none() { return Ref::borrow(Py_None); }

Ref to_py(const std::unordered_map<std::string, Vector>& map) { return dict_of(map); }

Ref to_py(const std::unordered_map<std::string, double>& map) { return dict_of(map); }

Ref to_py(const std::unordered_map<std::string, std::vector<std::string>>& map) { return dict_of(map); }

Ref to_py(const gradients::TargetGradients& target) {
    Ref dict = made(PyDict_New());
    auto set = [&](std::string_view key, Ref item) {
        Ref name = to_py(key);
        if (PyDict_SetItem(dict.get(), name.get(), item.get()) < 0) throw_error();
    };
    set("probability", to_py(target.probability));
    set("gradients", to_py(target.gradients));
    return dict;
}

Ref to_py(const gradients::Unpacked& unpacked) { return dict_of(unpacked); }

namespace detail {

Ref new_list(std::size_t size) { return made(PyList_New(static_cast<Py_ssize_t>(size))); }

void set_list_item(const Ref& list, std::size_t index, Ref item) noexcept {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index), item.release());
}

}  // namespace detail

}  // namespace tallo::python
