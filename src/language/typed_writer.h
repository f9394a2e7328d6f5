#pragma once

// TypedWriter: the writer made for one source of a compiled model, by the
// source's data type. It holds its own duplicates of the senders registered
// in the model's manager, so it is independent of the model once made: the
// channels it holds stay open (and their readers running) while it lives,
// and a later registration under the same channel name does not redirect it.
#include <cstddef>
#include <variant>
#include <vector>

#include "channels/ipc.h"

namespace tallo {

struct TypedWriter {
    // One sender of the channel named by the source's topic.
    struct Probability {
        IpcWriter writer;
    };
    // The source's comparisons, each with the sender of its channel.
    struct Density {
        IpcDensityWriter writer;
    };
    struct Number {
        std::vector<ComparisonTarget> targets;
    };
    struct Boolean {
        IpcWriter writer;
    };
    // Made for categorical sources by the Python class only.
    struct Categorical {
        IpcWriter writer;
        std::size_t n_categories;
        std::size_t batch_width;  // the circuit's, which the source's reader splits by (`value_size` to the host)
    };

    std::variant<Probability, Density, Number, Boolean, Categorical> kind;
};

}  // namespace tallo
