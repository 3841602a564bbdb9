#include "alignment/binding.hpp"

#include "alignment/fingerprint.hpp"

namespace quorvane {

Status check_alignment_binding(const AlignmentRecord& record, const PairView& pair, u64 pair_fingerprint) {
    if (!record.aligned) return CompareError::not_aligned();
    if (record.width != pair.width || record.baseline_height != pair.baseline_size.height ||
        record.current_height != pair.current_size.height ||
        record.fingerprint != alignment_fingerprint(pair_fingerprint, record.row_threshold)) {
        return CompareError::foreign_alignment();
    }
    return ok_status();
}

}  // namespace quorvane
