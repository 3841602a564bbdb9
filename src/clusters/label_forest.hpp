// The union-find forest over component labels: path halving, union by rank.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace quorvane {

class LabelForest {
public:
    // Label 0 is reserved for the background and never joins anything.
    LabelForest() : parent_{0}, rank_{0} {}

    // The number of labels made so far, the background included: the number
    // the next new label gets.
    u64 size() const { return parent_.size(); }

    u32 add() {
        const auto label = static_cast<u32>(parent_.size());
        parent_.push_back(label);
        rank_.push_back(0);
        return label;
    }

    // Each entry visited on the way to the root is pointed at its grandparent.
    u32 find(u32 label) {
        while (parent_[label] != label) {
            parent_[label] = parent_[parent_[label]];
            label = parent_[label];
        }
        return label;
    }

    // On equal ranks the root of `a` stays the root; which root survives
    // decides the order of equally large clusters, so the argument order matters.
    void unite(u32 a, u32 b) {
        const u32 root_a = find(a);
        const u32 root_b = find(b);
        if (root_a == root_b) return;
        if (rank_[root_a] < rank_[root_b]) {
            parent_[root_a] = root_b;
        } else if (rank_[root_a] > rank_[root_b]) {
            parent_[root_b] = root_a;
        } else {
            parent_[root_b] = root_a;
            ++rank_[root_a];
        }
    }

private:
    std::vector<u32> parent_;
    std::vector<u8> rank_;
};

}  // namespace quorvane
