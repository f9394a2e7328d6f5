// The circuit templates, compiled here once for every semiring.
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"
#include "circuit/restructure.h"
#include "circuit/semiring.h"

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_CIRCUIT_TEMPLATES, )
}  // namespace tallo
