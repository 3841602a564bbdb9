// Comparison.row_alignment: the row alignment of the pair as a RowAlignment.
#include <vector>

#include "bindings/alignment_records.hpp"
#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "operations/analyses.hpp"

namespace quorvane::py {
namespace {

constexpr Param kRowAlignmentParams[] = {
    kThreshold,
    kIncludeAa,
    real_param("max_edit_ratio", AlignmentOptions{}.max_edit_ratio),
    count_param("max_edit_rows", AlignmentOptions{}.max_edit_rows),
};

PyObject* row_alignment(ComparisonObject& self, Args& args) {
    const DiffOptions diff = args.diff_options();
    const AlignmentOptions options{args.real("max_edit_ratio"), args.count("max_edit_rows")};
    auto record = without_gil([&] { return pair_row_alignment(*self.pair, diff, options); });
    return deliver(args.state(), std::move(record),
                   [&](AlignmentRecord value) { return new_row_alignment(args.state(), std::move(value)); });
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
