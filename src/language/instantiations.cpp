// The model template, compiled here once for every semiring.
#include "circuit/semiring.h"
#include "language/tallo.h"

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_MODEL_TEMPLATES, )
}  // namespace tallo
