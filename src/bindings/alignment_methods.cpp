// Comparison.row_alignment: the row alignment of the pair as a RowAlignment.
#include <vector>

#include "alignment/align_rows.hpp"
#include "alignment/fingerprint.hpp"
#include "bindings/alignment_records.hpp"
#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"

namespace quorvane::py {
namespace {

constexpr Param kRowAlignmentParams[] = {
    kThreshold,
    kIncludeAa,
    real_param("max_edit_ratio", 0.25, "0.25"),
    count_param("max_edit_rows", 2048, "2048"),
};

PyObject* row_alignment(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    const double max_edit_ratio = args.real("max_edit_ratio");
    const u64 max_edit_rows = args.count("max_edit_rows");
    ImagePair& pair = *self.pair;
    auto record = without_gil([&] {
        auto aligned = align_rows(pair.view(), options, max_edit_ratio, max_edit_rows);
        // The alignment has the pair's fingerprint at hand: keep it for the
        // shift-aware methods unless one of them already computed it.
        if (aligned) remember_pair_fingerprint(pair, *aligned);
        return aligned;
    });
    return deliver(std::move(record), [](AlignmentRecord value) { return new_row_alignment(std::move(value)); });
}

constexpr Method kRowAlignment{"row_alignment",
                               "Align the rows of the two images to tell a vertical shift from real changes.\n\n"
                               "`aligned` is False when the pair could not be aligned \u2014 the edit budget\n"
                               "was exceeded, or the widths differ, since alignment is vertical only.\n"
                               "Every other field is then zero or empty.",
                               kRowAlignmentParams, row_alignment};

}  // namespace

void add_alignment_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kRowAlignment>()); }

}  // namespace quorvane::py
