#include "language/compile_steps.h"

#include <algorithm>

#include <fmt/format.h>

#include "language/matching.h"
#include "language/output.h"

namespace tallo {

std::vector<ComparisonLiteral> distinct_comparisons(std::string_view atom, const std::vector<Clause>& clauses) {
    std::vector<ComparisonLiteral> found;
    const auto add = [&found](ComparisonLiteral literal) {
        const bool seen = std::any_of(found.begin(), found.end(),
                                      [&literal](const ComparisonLiteral& f) { return f.name == literal.name; });
        if (!seen) found.push_back(std::move(literal));
    };
    for (const Clause& clause : clauses) {
        for (const ComparisonLiteral& literal : clause.comparisons) {
            if (literal.parameterized) {
                if (auto ground = literal.ground_for(atom)) add(std::move(*ground));
            } else if (literal.atom == atom) {
                add(literal);
            }
        }
    }
    return found;
}

std::string parameter_group_key(std::string_view head, std::uint32_t k) {
    return fmt::format("{}#{}", matching::predicate_of(head), k);
}

std::string solver_spelling(std::string_view text) {
    std::string spelled;
    spelled.reserve(text.size());
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            spelled += c;
            if (c == '\\' && i + 1 < text.size()) {
                spelled += text[++i];
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
            spelled += c;
        } else if (c != ' ' && c != '\t') {
            spelled += c;
        }
    }
    return spelled;
}

ProductTerms::ProductTerms(const Dnf& dnf, const std::unordered_map<std::string, std::size_t>& index_map)
    : leaf_of_(dnf.literal_count(), no_leaf) {
    // Leaves whose names the solver spells differently, by that spelling;
    // usually none.
    std::unordered_map<std::string, std::size_t> respelled;
    for (const auto& [name, index] : index_map) {
        std::string spelled = solver_spelling(name);
        if (spelled == name || index_map.contains(spelled)) continue;
        const auto [at, fresh] = respelled.try_emplace(std::move(spelled), index);
        if (!fresh) at->second = std::min(at->second, index);
    }
    for (std::size_t id = 0; id < leaf_of_.size(); ++id) {
        const std::string& literal = dnf.text(static_cast<Dnf::LiteralId>(id));
        auto found = index_map.find(literal);
        if (found == index_map.end()) {
            found = respelled.find(literal);
            if (found == respelled.end()) continue;
        }
        leaf_of_[id] = static_cast<std::int64_t>(found->second);
    }
}

std::vector<std::uint32_t> ProductTerms::of(std::span<const Dnf::LiteralId> clause) const {
    std::vector<std::uint32_t> product;
    product.reserve(clause.size());
    for (const Dnf::LiteralId id : clause) {
        const std::int64_t leaf = leaf_of_[id];
        // Leaf indices are node-graph indices: the circuit holds fewer than
        // 2^32 leaves, so the narrowing is exact.
        if (leaf != no_leaf) product.push_back(static_cast<std::uint32_t>(leaf));
    }
    return product;
}

std::vector<std::vector<std::uint32_t>> product_terms(const Dnf& dnf,
                                                      const std::unordered_map<std::string, std::size_t>& index_map) {
    const ProductTerms terms(dnf, index_map);
    std::vector<std::vector<std::uint32_t>> products;
    products.reserve(dnf.size());
    dnf.for_each_clause([&](std::span<const Dnf::LiteralId> clause) { products.push_back(terms.of(clause)); });
    return products;
}

namespace verbose {

void print_model(std::string_view model) { print_out(fmt::format("Compiling Tallo from program:\n{}\n", model)); }

void print_setup(std::size_t leaf_count) { print_out(fmt::format("Setup {} signals.\n", leaf_count)); }

void print_solved(std::size_t clause_count) {
    print_out(fmt::format("Solved Tallo into a DNF with {} clauses\n", clause_count));
}

}  // namespace verbose
}  // namespace tallo
