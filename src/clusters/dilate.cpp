#include "clusters/dilate.hpp"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "clusters/mask_scan.hpp"

namespace quorvane {
namespace {

// The horizontal pass over one row. Marked pixels closer than 2 * radius + 2
// columns have touching squares, so they are gathered into one span
// [first, last] whose output is [first - radius, last + radius]; the gaps
// between spans are cleared. Every input byte is read once (by the span scan
// or by the search for the next span) and every output byte written once,
// so the cost is the row width however wide the radius. False, with `out`
// untouched, when the row has no marked pixel.
bool dilate_row(const u8* in, u8* out, u64 width, u64 radius) {
    u64 first = next_marked(in, 0, width);
    if (first == width) return false;
    // Any reach of the width or more joins everything in the row.
    const u64 reach = radius < width ? 2 * radius + 1 : width;
    u64 written = 0;  // out[0, written) is final
    while (first < width) {
        u64 last = first;
        u64 x = first + 1;
        for (; x < width && x - last <= reach; ++x) {
            if (in[x] == 1) last = x;
        }
        const u64 from = first > radius ? first - radius : 0;
        const u64 to = width - last > radius ? last + radius + 1 : width;
        std::memset(out + written, 0, from - written);
        std::memset(out + from, 1, to - from);
        written = to;
        first = next_marked(in, x, width);
    }
    std::memset(out + written, 0, width - written);
    return true;
}

// The vertical pass: a pixel is marked when its column has a marked pixel in
// the rows [y - radius, y + radius]. Each column keeps the number of marked
// pixels in that window, updated by adding the row that enters and
// subtracting the row that leaves; rows without marks are never read, and an
// output row whose window holds no marked row is cleared without looking at
// the counts. `Count` holds the largest window length.
template <class Count>
void dilate_columns(const Bytes& rows, const std::vector<u8>& row_marked, u8* out, u64 width, u64 height, u64 radius) {
    std::vector<Count> counts(width, 0);
    u64 marked_in_window = 0;
    auto enter = [&](u64 row) {
        if (!row_marked[row]) return;
        const u8* in = rows.data() + row * width;
        for (u64 x = 0; x < width; ++x) counts[x] += in[x];
        ++marked_in_window;
    };
    auto leave = [&](u64 row) {
        if (!row_marked[row]) return;
        const u8* in = rows.data() + row * width;
        for (u64 x = 0; x < width; ++x) counts[x] -= in[x];
        --marked_in_window;
    };

    const u64 first_window_end = radius < height ? radius : height;
    for (u64 row = 0; row < first_window_end; ++row) enter(row);
    for (u64 y = 0; y < height; ++y) {
        if (height - y > radius) enter(y + radius);
        if (y > radius) leave(y - radius - 1);
        u8* out_row = out + y * width;
        if (marked_in_window == 0) {
            std::memset(out_row, 0, width);
            continue;
        }
        for (u64 x = 0; x < width; ++x) out_row[x] = counts[x] != 0 ? 1 : 0;
    }
}

}  // namespace

Bytes dilate_square(ByteView mask, u64 width, u64 height, u64 radius) {
    const u64 pixels = width * height;
    // Rows without marks are left unwritten: the vertical pass never reads them.
    Bytes horizontal(pixels);
    std::vector<u8> row_marked(height, 0);
    for (u64 y = 0; y < height; ++y) {
        row_marked[y] = dilate_row(mask.data() + y * width, horizontal.data() + y * width, width, radius) ? 1 : 0;
    }

    Bytes dilated(pixels);
    // A column's window holds at most min(2 * radius + 1, height) rows.
    const u64 window = radius < height ? 2 * radius + 1 : height;
    if (window <= std::numeric_limits<std::uint32_t>::max()) {
        dilate_columns<std::uint32_t>(horizontal, row_marked, dilated.data(), width, height, radius);
    } else {
        dilate_columns<u64>(horizontal, row_marked, dilated.data(), width, height, radius);
    }
    return dilated;
}

}  // namespace quorvane
