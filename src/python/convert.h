#pragma once

// The argument converters: one type per kind of parameter. Each has
//   using type = ...;                          // what the method receives
//   static type convert(PyObject* borrowed);   // throws PyError on failure
// and a converter with a default also has `static type absent();`, used when
// the argument is not passed. Converters copy everything they take out of the
// interpreter's objects, so the result outlives the interpreter lock.
//
// Failures: a `TypeError` with one of the texts of `messages.h` or the
// interpreter's own; `OverflowError` for integers out of range; the
// interpreter's encoding error for texts without a UTF-8 form. The call frame
// wraps TypeErrors with the parameter's name.
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/vector.h"

namespace tallo::python::arg {

// A `str` (or subclass) as its UTF-8 bytes.
struct Text {
    using type = std::string;
    static type convert(PyObject* object);
};

// An integer index (`int` or anything with `__index__`) in 0 ... 2^32 - 1.
struct UInt32 {
    using type = std::uint32_t;
    static type convert(PyObject* object);
};

// Exactly `True` or `False`, or a numpy bool scalar through its truth value.
struct Flag {
    using type = bool;
    static type convert(PyObject* object);
};

// Whatever the interpreter's float conversion accepts.
struct Float {
    using type = double;
    static type convert(PyObject* object);
};

// None (absent) or a float.
struct OptionalFloat {
    using type = std::optional<double>;
    static type convert(PyObject* object);
};

// None (absent) or a text.
struct OptionalText {
    using type = std::optional<std::string>;
    static type convert(PyObject* object);
};

// A `dict` (or subclass) of texts to floats.
struct TextFloatMap {
    using type = std::unordered_map<std::string, double>;
    static type convert(PyObject* object);
};

// A sequence other than `str` of floats, in iteration order.
struct FloatList {
    using type = Vector;
    static type convert(PyObject* object);
};

// A sequence of float lists.
struct FloatRows {
    using type = std::vector<Vector>;
    static type convert(PyObject* object);
};

// A sequence of sequences of unsigned 32-bit integers.
struct IndexRows {
    using type = std::vector<std::vector<std::uint32_t>>;
    static type convert(PyObject* object);
};

// None (absent) or a sequence of texts.
struct OptionalTexts {
    using type = std::optional<std::vector<std::string>>;
    static type convert(PyObject* object);
};

// `C` with a default for an argument that is not passed.
template <class C, auto fallback>
struct Default : C {
    static typename C::type absent() { return typename C::type(fallback); }
};

// `C` (which accepts None) taking None when the argument is not passed.
template <class C>
struct NoneByDefault : C {
    static typename C::type absent() { return {}; }
};

}  // namespace tallo::python::arg
