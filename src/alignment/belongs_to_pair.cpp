#include "alignment/belongs_to_pair.hpp"

#include "alignment/fingerprint.hpp"

namespace quorvane {

Status check_alignment_belongs_to_pair(const AlignmentRecord& record, const CanvasView& pair, u64 pair_fingerprint) {
    if (!record.aligned) return CompareError::not_aligned();
    if (record.width != pair.width || record.baseline_height != pair.baseline_size.height ||
        record.current_height != pair.current_size.height ||
        record.fingerprint != alignment_fingerprint(pair_fingerprint, record.row_threshold)) {
        return CompareError::foreign_alignment();
    }
    return ok_status();
}

}  // namespace quorvane
