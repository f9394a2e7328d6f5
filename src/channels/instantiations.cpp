// The reader templates, compiled here once for every semiring.
#include "channels/readers.h"
#include "circuit/semiring.h"

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_READER_TEMPLATES, )
}  // namespace tallo
