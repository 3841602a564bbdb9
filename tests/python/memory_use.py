"""Measures of what a process holds, for the leak tests, the limit tests,
tools and benchmarks: resident memory, bytes in use in the C heap and blocks
held by Python's own allocator."""

import ctypes
import gc
import os
import sys

# The fields of glibc's struct mallinfo2, in order, each a size_t.
MALLINFO2_FIELDS = "arena ordblks smblks hblks hblkhd usmblks fsmblks uordblks fordblks keepcost"


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in MALLINFO2_FIELDS.split()]


_mallinfo2 = getattr(ctypes.CDLL(None), "mallinfo2", None)
if _mallinfo2 is not None:
    _mallinfo2.restype = _MallInfo2


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def heap_bytes():
    """Bytes the C allocator has handed out and not had back, in every arena,
    large mapped blocks included; None where the allocator cannot tell
    (another allocator, or a sanitizer's)."""
    if _mallinfo2 is None:
        return None
    info = _mallinfo2()
    return info.uordblks + info.hblkhd or None


class Snapshot:
    def __init__(self):
        gc.collect()
        self.resident, self.heap, self.blocks = resident_bytes(), heap_bytes(), sys.getallocatedblocks()

    def growth_since(self, earlier):
        heap = None if self.heap is None or earlier.heap is None else self.heap - earlier.heap
        return {"resident": self.resident - earlier.resident, "heap": heap, "blocks": self.blocks - earlier.blocks}


def growth_over(call, calls, warm_up=200):
    """What `calls` more calls of `call` leave behind, after `warm_up` calls
    have filled every cache and pool."""
    for _ in range(warm_up):
        call()
    before = Snapshot()
    for _ in range(calls):
        call()
    return Snapshot().growth_since(before)


def _status_kib(field):
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith(field + ":"))


def peak_growth(call):
    """(bytes, outcome): how far the resident memory rose above its level at
    the start while `call` ran, and what it returned or raised. The kernel's
    high-water mark is reset first, so earlier peaks do not hide this one;
    None for the bytes where it cannot be reset."""
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        resettable = True
    except OSError:
        resettable = False
    start = _status_kib("VmRSS")
    try:
        outcome = call()
    except Exception as error:
        outcome = error
    return ((_status_kib("VmHWM") - start) * 1024 if resettable else None), outcome
