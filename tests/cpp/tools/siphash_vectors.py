"""Prints the SipHash-1-3 vectors of tests/cpp/test_alignment.cpp.

CPython 3.11 hashes a non-empty bytes object with SipHash-1-3; under
PYTHONHASHSEED=0 both key words are zero, so hash() is the reference, read as
an unsigned 64-bit value (hash() reports -1 as -2, so such values are refused).
Run: PYTHONHASHSEED=0 python3 tests/cpp/tools/siphash_vectors.py
"""

import os
import struct
import sys

MASK = (1 << 64) - 1


def siphash13(data):
    assert data, "hash(b'') is 0, not SipHash"
    value = hash(bytes(data))
    assert value != -2, "ambiguous: -1 and -2 both read as -2"
    return value & MASK


def visible_row(pixels):
    """The bytes a row hash reads: transparent pixels as four zeros."""
    return b"".join(bytes(p) if p[3] != 0 else bytes(4) for p in pixels)


# (name, pixels); the odd widths end in half a message word.
ROWS = [
    ("one opaque pixel", [(1, 2, 3, 255)]),
    ("two pixels", [(10, 20, 30, 255), (40, 50, 60, 128)]),
    ("transparent colour ignored", [(10, 20, 30, 255), (99, 98, 97, 0), (1, 1, 1, 1)]),
    ("five pixels", [(i * 40, 255 - i, i, 200 + i) for i in range(5)]),
    ("all transparent", [(255, 255, 255, 0)] * 4),
]


def main():
    if sys.hash_info.algorithm != "siphash13" or os.environ.get("PYTHONHASHSEED") != "0":
        sys.exit("needs CPython 3.11+ with PYTHONHASHSEED=0")
    print("// siphash13 of bytes 0 .. n - 1")
    for length in [1, 7, 8, 9, 15, 16, 17, 63, 64, 256]:
        print(f"    {{{length}, 0x{siphash13(range(length)):016x}ull}},")
    print("// row_hash")
    hashes = []
    for name, pixels in ROWS:
        hashes.append(siphash13(visible_row(pixels)))
        print(f"    // {name}: {pixels}\n    0x{hashes[-1]:016x}ull,")
    a, b = hashes[:2], hashes[2:]
    fingerprint = siphash13(struct.pack(f"<Q{len(a)}QQ{len(b)}Q", len(a), *a, len(b), *b))
    print(f"// pair_fingerprint(first two, last three)\n    0x{fingerprint:016x}ull")
    print(f"// pair_fingerprint([], [])\n    0x{siphash13(struct.pack('<QQ', 0, 0)):016x}ull")


if __name__ == "__main__":
    main()
