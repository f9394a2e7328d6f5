#include "circuit/clustering.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "base/memory.h"
#include "base/panic.h"
#include "circuit/messages.h"

namespace tallo::clustering {

std::vector<std::uint32_t> partitioning(std::span<const double> values, std::span<const double> boundaries) {
    // The bin past the last boundary has the largest finite float as its
    // upper edge; values above it (and NaN) fall in it all the same, which is
    // where a search that finds no boundary at or above the value ends.
    std::vector<std::size_t> bins;
    bins.reserve(values.size());
    for (double v : values) {
        const auto at = std::find_if(boundaries.begin(), boundaries.end(), [v](double b) { return b >= v; });
        bins.push_back(static_cast<std::size_t>(at - boundaries.begin()));
    }

    std::vector<std::size_t> occupied = bins;
    std::sort(occupied.begin(), occupied.end());
    occupied.erase(std::unique(occupied.begin(), occupied.end()), occupied.end());

    std::vector<std::uint32_t> levels;
    levels.reserve(values.size());
    const std::size_t max_rank = occupied.empty() ? 0 : occupied.size() - 1;
    for (std::size_t bin : bins) {
        const auto rank =
            static_cast<std::size_t>(std::lower_bound(occupied.begin(), occupied.end(), bin) - occupied.begin());
        levels.push_back(static_cast<std::uint32_t>(max_rank - rank));
    }
    return levels;
}

std::vector<double> equal_width_boundaries(double bin_size, std::uint32_t number_bins) {
    const std::size_t memory = physical_memory();
    if (number_bins > memory / 2 / sizeof(double)) {
        stop(messages::too_many_bins(number_bins, std::size_t{number_bins} * sizeof(double), memory));
    }
    std::vector<double> boundaries;
    boundaries.reserve(number_bins);
    for (std::uint64_t k = 1; k <= number_bins; ++k) boundaries.push_back(static_cast<double>(k) * bin_size);
    return boundaries;
}

void print_levels(std::span<const std::uint32_t> levels) {
    fmt::print("[{}]\n", fmt::join(levels, ", "));
    std::fflush(stdout);
}

}  // namespace tallo::clustering
