"""The memory allocator of a process comparing many pairs.

Each pair allocates and frees blocks of a canvas's size (a decoded image, a
diff image, a label map: 16 MB for a 1366 x 3000 page). With more than one
thread comparing, glibc's malloc hands such blocks back to the system as
they are freed and the next pair faults them in afresh, zero-filled: about
9% of a report's processor time. The `quorvane report` command, which owns
its process, asks it to keep them instead; a library call never would."""

from __future__ import annotations

import ctypes
import sys

# mallopt's parameters (malloc.h).
M_TRIM_THRESHOLD = -1
M_MMAP_THRESHOLD = -3

# Blocks below this come from the heap, where a freed one is reused, and the
# heap keeps this much free memory before it gives any back: a thread keeps
# at most about one pair's blocks. On the 15 pairs of bench/summary.py, 0.91x
# the processor time, and 1.18x the peak memory (231 MiB instead of 196).
MMAP_THRESHOLD = 64 << 20
TRIM_THRESHOLD = 64 << 20


def keep_freed_blocks() -> bool:
    """Tunes glibc's malloc to reuse the blocks pairs free; whether it was
    tuned (not on other C libraries or systems)."""
    if not sys.platform.startswith("linux"):
        return False
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (OSError, AttributeError):
        return False
    mallopt.argtypes = (ctypes.c_int, ctypes.c_int)
    mallopt.restype = ctypes.c_int
    return bool(mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD)) and bool(mallopt(M_TRIM_THRESHOLD, TRIM_THRESHOLD))
