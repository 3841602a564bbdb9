// SipHash-1-3, row hashes and the pair fingerprint against CPython 3.11's
// hash() of the same bytes under PYTHONHASHSEED=0 (SipHash-1-3, zero key);
// the values come from tests/cpp/tools/siphash_vectors.py.
#include <cstring>
#include <span>
#include <vector>

#include "alignment/fingerprint.hpp"
#include "alignment/row_hash.hpp"
#include "alignment/siphash.hpp"
#include "check.hpp"
#include "core/parallel.hpp"

using namespace quorvane;

namespace {

struct Pixel {
    u8 r, g, b, a;
};

Bytes row_bytes(const std::vector<Pixel>& pixels) {
    Bytes bytes(pixels.size() * 4);
    std::memcpy(bytes.data(), pixels.data(), bytes.size());
    return bytes;
}

// The rows of siphash_vectors.py, in its order, with CPython's hashes.
const std::vector<std::vector<Pixel>> kRows = {
    {{1, 2, 3, 255}},
    {{10, 20, 30, 255}, {40, 50, 60, 128}},
    {{10, 20, 30, 255}, {99, 98, 97, 0}, {1, 1, 1, 1}},
    {{0, 255, 0, 200}, {40, 254, 1, 201}, {80, 253, 2, 202}, {120, 252, 3, 203}, {160, 251, 4, 204}},
    {{255, 255, 255, 0}, {255, 255, 255, 0}, {255, 255, 255, 0}, {255, 255, 255, 0}},
};
const u64 kRowHashes[] = {
    0x6734208ad78e3d4dull, 0x448022ba7604d485ull, 0x412d23df843cc79cull,
    0x7dc6427bd83e9c90ull, 0x76be999e3e25b2a0ull,
};

}  // namespace

TEST("siphash13 matches CPython's hash of bytes 0 .. n - 1") {
    struct Vector {
        u64 length;
        u64 hash;
    };
    const Vector vectors[] = {
        {1, 0x68a914128e01e473ull},  {7, 0x2f098ab0c751325aull},  {8, 0xead411e67ebe2eeaull},
        {9, 0x75927f9d95124362ull},  {15, 0xf30eb725bb91c9eaull}, {16, 0x8972188433a5c5b7ull},
        {17, 0x4883c49a2c009c1dull}, {63, 0x385d3e39e5f37359ull}, {64, 0x75e05fd5bbc870c6ull},
        {256, 0x31ae646afba70308ull},
    };
    for (const Vector& vector : vectors) {
        Bytes bytes(vector.length);
        for (u64 i = 0; i < vector.length; ++i) bytes[i] = static_cast<u8>(i);
        CHECK_EQ(siphash13(bytes), vector.hash);
    }
}

TEST("row_hash reads transparent pixels as zeros and odd widths end in half a word") {
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        const Bytes row = row_bytes(kRows[i]);
        CHECK_EQ(row_hash(row.data(), kRows[i].size()), kRowHashes[i]);
    }
    // Sixteen zero bytes either way: four transparent pixels, or two zero lengths.
    CHECK_EQ(row_hash(row_bytes(kRows[4]).data(), 4), siphash13(Bytes(16, 0)));
}

TEST("pair_fingerprint matches CPython's hash of the lengths and hashes") {
    const std::span<const u64> hashes(kRowHashes);
    CHECK_EQ(pair_fingerprint(hashes.first(2), hashes.subspan(2)), 0x91a0443a1e3cd02aull);
    CHECK_EQ(pair_fingerprint({}, {}), 0x76be999e3e25b2a0ull);
    // The lengths keep the boundary between the two lists.
    CHECK(pair_fingerprint(hashes.first(2), hashes.subspan(2)) != pair_fingerprint(hashes.first(3), hashes.subspan(3)));
}

TEST("hash_rows on the pool gives every row's own hash, in row order") {
    const u64 width = 513;
    const u64 rows = 1100;  // past the size at which the rows are spread over the pool
    REQUIRE(worth_splitting(width * rows));
    Bytes pixels(width * rows * 4);
    u64 state = 12345;
    for (u8& byte : pixels) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = static_cast<u8>(state >> 60);  // small values: many transparent pixels
    }
    const std::vector<u64> hashes = hash_rows(pixels, width, rows);
    REQUIRE(hashes.size() == rows);
    for (u64 y = 0; y < rows; ++y) CHECK_EQ(hashes[y], row_hash(pixels.data() + y * width * 4, width));
    CHECK(hash_rows(pixels, width, 0).empty());
}
