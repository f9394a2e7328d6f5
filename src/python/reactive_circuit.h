#pragma once

// The binding type of the class `ReactiveCircuit`: one RCVariant. Objects come
// from the constructor and `from_sum_product` (LogProb circuits of their own)
// and from a compiled model (its circuit, in its semiring).
#include <string_view>

#include "host/rc_variant.h"

namespace tallo::python {

struct PyReactiveCircuit {
    static constexpr std::string_view name = "ReactiveCircuit";
    host::RCVariant circuit;
};

}  // namespace tallo::python
