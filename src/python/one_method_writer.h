#pragma once

// make_writer_class: the class of a writer whose one method is `write` (every
// writer class but the categorical one, which has three). Made from the
// binding type T (writer_objects.h), the method's signature, the exception it
// raises for a returned error (python/method.h), and its work, which keeps the
// interpreter lock (a write only queues a message).
#include <Python.h>

#include "python/classes.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/ref.h"

namespace tallo::python {

// returns a new reference: T's class, with `doc` and the method `write`;
// made once per process, as `make_class` is.
template <class T, const auto& write_signature, Raises raises, class Work>
Ref make_writer_class(const char* doc, Work) {
    static constexpr FastMethod write = held<T, write_signature, raises>(Work{});
    static PyMethodDef methods[] = {
        {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
        {nullptr, nullptr, 0, nullptr},
    };
    return make_class<T>(doc, refuse_new, methods);
}

}  // namespace tallo::python
