// SipHash-1-3 of a group of rows side by side, one row a 64-bit lane: the
// shape both vector paths of the row hash share, over the few operations
// each defines with its own instruction set (`Lanes`). Included only by the
// files built with a set; everything here is instantiated with a type local
// to the including file, and calls nothing that is not always inlined, so no
// copy built for one set can be the one another file runs.
#pragma once

#include "alignment/siphash.hpp"
#include "core/types.hpp"

namespace quorvane::row_hash_lanes {

template <class Lanes>
struct SipState {
    using Vector = typename Lanes::Vector;

    Vector v0 = Lanes::broadcast(kSipHashStart[0]);
    Vector v1 = Lanes::broadcast(kSipHashStart[1]);
    Vector v2 = Lanes::broadcast(kSipHashStart[2]);
    Vector v3 = Lanes::broadcast(kSipHashStart[3]);

    void round() {
        v0 = Lanes::add(v0, v1);
        v1 = Lanes::bit_xor(Lanes::template rotate<13>(v1), v0);
        v0 = Lanes::template rotate<32>(v0);
        v2 = Lanes::add(v2, v3);
        v3 = Lanes::bit_xor(Lanes::template rotate<16>(v3), v2);
        v0 = Lanes::add(v0, v3);
        v3 = Lanes::bit_xor(Lanes::template rotate<21>(v3), v0);
        v2 = Lanes::add(v2, v1);
        v1 = Lanes::bit_xor(Lanes::template rotate<17>(v1), v2);
        v2 = Lanes::template rotate<32>(v2);
    }

    void absorb(Vector word) {
        v3 = Lanes::bit_xor(v3, word);
        round();
        v0 = Lanes::bit_xor(v0, word);
    }

    // `tail` holds each row's last length % 8 bytes (at most four), so the
    // length in the top byte joins it by xor as well as by or.
    Vector finish(Vector tail, u64 length) {
        absorb(Lanes::bit_xor(tail, Lanes::broadcast(length << 56)));
        v2 = Lanes::bit_xor(v2, Lanes::broadcast(0xff));
        round();
        round();
        round();
        return Lanes::bit_xor(Lanes::bit_xor(v0, v1), Lanes::bit_xor(v2, v3));
    }
};

// hash_row_groups of row_hash.hpp: whole groups of Lanes::kCount rows.
template <class Lanes>
u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    constexpr u64 kCount = Lanes::kCount;
    const u64 stride = width * kBytesPerPixel;
    const u64 pairs = width / 2;
    u64 y = 0;
    for (; y + kCount <= rows; y += kCount) {
        const u8* rows_start = first_row + y * stride;
        SipState<Lanes> hash;
        typename Lanes::Vector words[kCount];
        for (u64 i = 0; i < pairs; i += kCount) {
            const u64 count = pairs - i < kCount ? pairs - i : kCount;
            Lanes::transposed_words(rows_start + i * 8, stride, count, words);
            for (u64 w = 0; w < count; ++w) hash.absorb(Lanes::visible(words[w]));
        }
        // An odd width ends in one pixel, read alone so that no load passes
        // the row.
        u32 last[kCount] = {};
        if (width % 2 != 0) {
            for (u64 k = 0; k < kCount; ++k) __builtin_memcpy(&last[k], rows_start + k * stride + pairs * 8, 4);
        }
        Lanes::store(hashes + y, hash.finish(Lanes::visible_pixels(last), stride));
    }
    return y;
}

}  // namespace quorvane::row_hash_lanes
