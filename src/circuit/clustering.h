#pragma once

// Frequency clustering: leaves' change frequencies grouped into bins of equal
// width, and the occupied bins turned into levels, the highest frequencies at
// level 0.
//
// Guarantees:
// - One level per value, in the order of the values; a pure function.
// - Bin j holds the values v with boundary[j-1] < v <= boundary[j]; a value
//   above every boundary, positive infinity included, falls in the bin after
//   the last boundary. So does not-a-number, which lies at or below no
//   boundary: a leaf whose frequency is unknown is treated as one that
//   changes most often and stays near the root, where its changes cost least
//   to follow.
// - Levels leave no gaps: the occupied bins are ranked, and the level of a
//   value is the highest rank less its bin's rank.
#include <cstdint>
#include <span>
#include <vector>

namespace tallo::clustering {

std::vector<std::uint32_t> partitioning(std::span<const double> values, std::span<const double> boundaries);

// The upper edges of `number_bins` bins of width `bin_size` from 0:
// bin_size, 2 bin_size, ..., number_bins bin_size. Empty for no bins. A count
// whose list would take more than half of the machine's physical memory (the
// bound one value is held to, vector.h) stops with `messages::too_many_bins`
// before anything is allocated.
std::vector<double> equal_width_boundaries(double bin_size, std::uint32_t number_bins);

// Prints the levels as one line "[l0, l1, ...]" to standard output and
// flushes it at once, so the line keeps its place among whatever the host
// prints. The one exception to the purity above.
void print_levels(std::span<const std::uint32_t> levels);

}  // namespace tallo::clustering
