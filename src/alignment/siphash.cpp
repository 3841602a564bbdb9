#include "alignment/siphash.hpp"

namespace quorvane {

u64 siphash13(ByteView bytes) {
    SipHash13 hash;
    const u64 length = bytes.size();
    const u64 whole = length - length % 8;
    for (u64 i = 0; i < whole; i += 8) hash.absorb(load_le(bytes.data() + i, 8));
    return hash.finish(load_le(bytes.data() + whole, length - whole), length);
}

}  // namespace quorvane
