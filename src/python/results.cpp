#include "python/results.h"

#include "base/panic.h"
#include "python/error.h"
#include "python/messages.h"

namespace tallo::python {

namespace {

// What a conversion does when the interpreter makes no object.
enum class Failure {
    stop,         // stops with "Python API call failed"
    interpreter,  // raises the interpreter's own exception
};

// The new reference `object`, or the failure when the interpreter made none.
template <Failure failure = Failure::stop>
Ref made(PyObject* object) {
    if (!object) {
        if constexpr (failure == Failure::stop) stop(messages::python_api_call_failed());
        throw_error();
    }
    return Ref::steal(object);
}

template <Failure failure>
Ref list_of(const Vector& values) {
    Ref list = made<failure>(PyList_New(static_cast<Py_ssize_t>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i) {
        detail::set_list_item(list, i, made<failure>(PyFloat_FromDouble(values[i])));
    }
    return list;
}

template <Failure failure>
Ref text_of(std::string_view text) {
    return made<failure>(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
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

Ref to_py(std::string_view text) { return text_of<Failure::stop>(text); }

Ref to_py(const Vector& values) { return list_of<Failure::stop>(values); }

Ref none() { return Ref::borrow(Py_None); }

Ref update_result_to_py(const std::unordered_map<std::string, Vector>& values) {
    Ref dict = made<Failure::interpreter>(PyDict_New());
    for (const auto& [token, value] : values) {
        Ref name = text_of<Failure::interpreter>(token);
        Ref list = list_of<Failure::interpreter>(value);
        if (PyDict_SetItem(dict.get(), name.get(), list.get()) < 0) throw_error();
    }
    return dict;
}

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
