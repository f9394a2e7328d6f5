#include "python/convert.h"

#include <algorithm>
#include <limits>

#include "python/error.h"
#include "python/messages.h"
#include "python/ref.h"

namespace tallo::python::arg {

namespace {

[[noreturn]] void cannot_cast(PyObject* object, std::string_view target) {
    raise(PyExc_TypeError, messages::cannot_cast(type_name(object), target));
}

// Calls `item(borrowed)` for each item of a sequence argument, in iteration
// order, after the checks every sequence parameter shares; `reserve(n)` first
// receives the number of items expected.
template <class Reserve, class Item>
void for_each_item(PyObject* sequence, Reserve&& reserve, Item&& item) {
    if (PyUnicode_Check(sequence)) raise(PyExc_TypeError, messages::str_to_vec());
    if (!PySequence_Check(sequence)) cannot_cast(sequence, "Sequence");
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
        // Items are re-read each step: converting one may run code that
        // shrinks the list.
        reserve(static_cast<std::size_t>(Py_SIZE(sequence)));
        for (Py_ssize_t i = 0; i < Py_SIZE(sequence); ++i) {
            Ref held = Ref::borrow(PyList_CheckExact(sequence) ? PyList_GET_ITEM(sequence, i)
                                                               : PyTuple_GET_ITEM(sequence, i));
            item(held.get());
        }
        return;
    }
    Py_ssize_t hint = PySequence_Size(sequence);
    if (hint < 0) PyErr_Clear();
    // A length is only a hint here: what `__len__` claims is not trusted
    // with an allocation.
    constexpr Py_ssize_t max_reserve = 1 << 16;
    reserve(hint < 0 ? 0 : static_cast<std::size_t>(std::min(hint, max_reserve)));
    Ref iterator = Ref::steal(checked(PyObject_GetIter(sequence)));
    while (Ref next = Ref::steal(PyIter_Next(iterator.get()))) item(next.get());
    if (PyErr_Occurred()) throw_error();
}

}  // namespace

std::string Text::convert(PyObject* object) {
    if (!PyUnicode_Check(object)) cannot_cast(object, "str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (!utf8) throw_error();
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::uint32_t UInt32::convert(PyObject* object) {
    Ref index = Ref::steal(checked(PyNumber_Index(object)));
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_error();
    if (value > std::numeric_limits<std::uint32_t>::max()) raise(PyExc_OverflowError, messages::integral_out_of_range());
    return static_cast<std::uint32_t>(value);
}

bool Flag::convert(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    std::string name = type_name(object);
    if (name == "bool_" || name == "bool") {
        Ref module = Ref::steal(checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__module__")));
        if (PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
            PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
            if (!number || !number->nb_bool) raise(PyExc_TypeError, messages::no_bool_conversion(name));
            int truth = number->nb_bool(object);
            if (truth < 0) throw_error();
            return truth != 0;
        }
    }
    cannot_cast(object, "bool");
}

double Float::convert(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw_error();
    return value;
}

std::optional<double> OptionalFloat::convert(PyObject* object) {
    if (object == Py_None) return std::nullopt;
    return Float::convert(object);
}

std::optional<std::string> OptionalText::convert(PyObject* object) {
    if (object == Py_None) return std::nullopt;
    return Text::convert(object);
}

std::unordered_map<std::string, double> TextFloatMap::convert(PyObject* object) {
    if (!PyDict_Check(object)) cannot_cast(object, "dict");
    // A snapshot of the items: converting a value may run code that changes
    // the dict.
    Ref items = Ref::steal(checked(PyDict_Items(object)));
    std::unordered_map<std::string, double> result;
    result.reserve(static_cast<std::size_t>(PyList_GET_SIZE(items.get())));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);  // borrowed: valid while `items` lives
        std::string key = Text::convert(PyTuple_GET_ITEM(pair, 0));
        result.insert_or_assign(std::move(key), Float::convert(PyTuple_GET_ITEM(pair, 1)));
    }
    return result;
}

Vector FloatList::convert(PyObject* object) {
    std::vector<double> values;
    for_each_item(
        object, [&](std::size_t n) { values.reserve(n); },
        [&](PyObject* item) { values.push_back(Float::convert(item)); });
    return Vector(std::span<const double>(values));
}

std::vector<Vector> FloatRows::convert(PyObject* object) {
    std::vector<Vector> rows;
    for_each_item(
        object, [&](std::size_t n) { rows.reserve(n); },
        [&](PyObject* item) { rows.push_back(FloatList::convert(item)); });
    return rows;
}

std::vector<std::vector<std::uint32_t>> IndexRows::convert(PyObject* object) {
    std::vector<std::vector<std::uint32_t>> rows;
    for_each_item(
        object, [&](std::size_t n) { rows.reserve(n); },
        [&](PyObject* row) {
            std::vector<std::uint32_t>& indices = rows.emplace_back();
            for_each_item(
                row, [&](std::size_t n) { indices.reserve(n); },
                [&](PyObject* item) { indices.push_back(UInt32::convert(item)); });
        });
    return rows;
}

std::optional<std::vector<std::string>> OptionalTexts::convert(PyObject* object) {
    if (object == Py_None) return std::nullopt;
    std::vector<std::string> texts;
    for_each_item(
        object, [&](std::size_t n) { texts.reserve(n); },
        [&](PyObject* item) { texts.push_back(Text::convert(item)); });
    return texts;
}

}  // namespace tallo::python::arg
