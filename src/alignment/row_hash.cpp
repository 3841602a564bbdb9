#include "alignment/row_hash.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "alignment/siphash.hpp"
#include "core/error.hpp"
#include "core/instruction_sets.hpp"
#include "core/parallel.hpp"

namespace quorvane {
namespace {

// Pixels per piece of pool work: enough that a piece outweighs its
// scheduling.
constexpr u64 kHashGrainPixels = 65536;

// Rows a piece of pool work starts on a multiple of: the widest path's lanes.
constexpr u64 kRowGroup = 8;

// The pixel's four bytes as a little-endian word, or 0 when it is transparent
// (alpha is the word's top byte). One 32-bit load where the machine is
// little-endian: clang does not merge load_le's byte loads here, which cost
// it a tenth of the hashing time.
inline u64 visible_pixel(const u8* pixel) {
    u32 word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, pixel, 4);
    } else {
        word = static_cast<u32>(load_le(pixel, 4));
    }
    return (word >> 24) != 0 ? u64{word} : 0;
}

std::vector<RowHashPath> detect_paths() {
    std::vector<RowHashPath> paths{{"scalar", hash_row_groups_scalar}};
#if !defined(QUORVANE_SCALAR_ONLY)
    if (instruction_sets().avx2) paths.push_back({"avx2", simd_avx2::hash_row_groups});
    if (instruction_sets().avx512) paths.push_back({"avx512", simd_avx512::hash_row_groups});
#endif
    return paths;
}

}  // namespace

std::span<const RowHashPath> row_hash_paths() {
    static const std::vector<RowHashPath> paths = detect_paths();
    return paths;
}

u64 hash_row_groups_scalar(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    for (u64 y = 0; y < rows; ++y) hashes[y] = row_hash(first_row + y * width * kBytesPerPixel, width);
    return rows;
}

u64 row_hash(const u8* row, u64 width) {
    SipHash13 hash;
    const u64 pairs = width / 2;
    for (u64 i = 0; i < pairs; ++i) {
        const u8* pixel = row + i * 8;
        hash.absorb(visible_pixel(pixel) | (visible_pixel(pixel + 4) << 32));
    }
    const u64 tail = width % 2 != 0 ? visible_pixel(row + pairs * 8) : 0;
    return hash.finish(tail, width * kBytesPerPixel);
}

std::vector<u64> hash_rows(ByteView pixels, u64 width, u64 rows) {
    const u64 stride = width * kBytesPerPixel;
    if (stride != 0 && pixels.size() / stride < rows) throw Panic("hash_rows: fewer rows than asked for");
    std::vector<u64> hashes(rows);
    static const HashRowGroups fastest = row_hash_paths().back().hash;
    // Pieces of whole groups, so that only the image's last rows are left to
    // the scalar path.
    auto hash_groups = [&](u64 first_group, u64 end_group) {
        const u64 begin = first_group * kRowGroup, end = std::min(rows, end_group * kRowGroup);
        const u8* first = pixels.data() + begin * stride;
        const u64 done = fastest(first, width, end - begin, hashes.data() + begin);
        hash_row_groups_scalar(first + done * stride, width, end - begin - done, hashes.data() + begin + done);
    };
    const u64 grain = std::max<u64>(1, kHashGrainPixels / std::max<u64>(1, width * kRowGroup));
    parallel_ranges_if(worth_splitting(width * rows), (rows + kRowGroup - 1) / kRowGroup, grain, hash_groups);
    return hashes;
}

RowHashes hash_pair_rows(const CanvasView& pair) {
    const bool has_rows = pair.width != 0;
    if (pair.same_pixels) {
        std::vector<u64> rows = hash_rows(pair.baseline, pair.width, has_rows ? pair.baseline_size.height : 0);
        return {rows, rows};
    }
    return {hash_rows(pair.baseline, pair.width, has_rows ? pair.baseline_size.height : 0),
            hash_rows(pair.current, pair.width, has_rows ? pair.current_size.height : 0)};
}

}  // namespace quorvane
