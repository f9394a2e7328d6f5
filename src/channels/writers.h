#pragma once

// The plain work behind the binding's number and density writers: what the
// host's values become before they are sent. Nothing here touches a Python
// object or takes a lock; sending on an unbounded channel never blocks, so the
// writer classes call these with the interpreter lock held.
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/vector.h"
#include "channels/distribution.h"
#include "channels/ipc.h"

namespace tallo {

// Sends, on every target's channel in order, 1.0 where value[i] lies strictly
// beyond the threshold (above it for a greater-than target, below it
// otherwise) and 0.0 elsewhere, NaN included; one timestamp for all, read
// even when there is no target. Failed sends are dropped.
void write_numbers(const std::vector<ComparisonTarget>& targets, const Vector& value,
                   std::optional<double> timestamp);

// The distribution named by `name` (ASCII case folded) with its parameter rows,
// or the value error that refuses them. Rows beyond those needed are ignored.
Result<VectorDistribution, ValueError> distribution_of(const std::string& name, std::vector<Vector> params);

}  // namespace tallo
