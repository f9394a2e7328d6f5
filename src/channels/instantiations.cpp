// The channel templates, compiled here once for every semiring.
#include "channels/manager.h"
#include "channels/readers.h"
#include "circuit/semiring.h"

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_READER_TEMPLATES, )
TALLO_FOR_EACH_SEMIRING(TALLO_MANAGER_TEMPLATES, )
}  // namespace tallo
