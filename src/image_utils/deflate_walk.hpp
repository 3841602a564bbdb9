// A walk over raw DEFLATE data that decodes every symbol without writing any
// output, under the rules of zlib's inflate with a 32 KiB window. libdeflate
// decodes some streams that zlib refuses (length symbols 286 and 287,
// distance symbols 30 and 31, more than 286 + 30 code lengths, runs of code
// lengths past their end, the unused codeword of a one-symbol code); libpng
// inflates with zlib, so the fast PNG decoder asks this walk first.
#pragma once

#include <optional>

#include "core/types.hpp"

namespace quorvane {

struct DeflateLayout {
    u64 final_block_bit = 0;  // where the final block's header starts: its BFINAL bit
    u64 end_bit = 0;          // just past the final block
    u64 output_length = 0;    // bytes the data inflates to
};

// The layout of a complete DEFLATE stream that zlib inflates without error
// and that inflates to at most max_output bytes; nullopt for any other data.
std::optional<DeflateLayout> walk_deflate(ByteView data, u64 max_output);

}  // namespace quorvane
