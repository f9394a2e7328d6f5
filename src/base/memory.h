#pragma once

// The machine's physical memory: the bound that storage sized by a host's
// argument (a batch width, a number of bins) is checked against before it is
// allocated. With overcommit such an allocation would succeed and writing it
// would get the process killed, so the check is the only refusal there is.
//
// Guarantees: the same figure on every call, read from the system once; the
// largest size when the system does not tell.
#include <cstddef>

namespace tallo {

std::size_t physical_memory() noexcept;

}  // namespace tallo
