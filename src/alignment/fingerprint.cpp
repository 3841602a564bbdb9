#include "alignment/fingerprint.hpp"

#include <bit>

#include "alignment/row_hash.hpp"
#include "alignment/siphash.hpp"

namespace quorvane {

u64 pair_fingerprint(std::span<const u64> a, std::span<const u64> b) {
    SipHash13 hash;
    hash.absorb(a.size());
    for (u64 value : a) hash.absorb(value);
    hash.absorb(b.size());
    for (u64 value : b) hash.absorb(value);
    return hash.finish(0, (a.size() + b.size() + 2) * 8);
}

u64 alignment_fingerprint(u64 pair_fingerprint, std::optional<double> row_threshold) {
    if (!row_threshold) return pair_fingerprint;
    SipHash13 hash;
    hash.absorb(pair_fingerprint);
    hash.absorb(std::bit_cast<u64>(*row_threshold));
    return hash.finish(0, 16);
}

u64 compute_pair_fingerprint(const CanvasView& pair) {
    const RowHashes rows = hash_pair_rows(pair);
    return pair_fingerprint(rows.baseline, rows.current);
}

u64 cached_pair_fingerprint(ImagePair& pair) {
    return pair.fingerprint.get_or_compute([&] { return compute_pair_fingerprint(pair.view()); });
}

void remember_pair_fingerprint(ImagePair& pair, const AlignmentRecord& record) {
    if (record.aligned) pair.fingerprint.store_if_empty(record.pair_fingerprint);
}

}  // namespace quorvane
