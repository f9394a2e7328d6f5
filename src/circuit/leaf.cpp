// Category<S> (circuit/leaf.h), compiled here once for every semiring.
#include "circuit/leaf.h"

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_CATEGORY_TEMPLATES, )
}  // namespace tallo
