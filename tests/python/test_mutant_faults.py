"""The faults of the fault-finding check (tools/mutant_faults.py) still
stand, each exactly once in its file, so that no change to the code can
quietly leave one with nothing to replace."""

import sys

from imaging import ROOT

sys.path.insert(0, str(ROOT / "tools"))
from mutant_faults import FAULTS


def test_every_fault_stands_exactly_once_in_its_file():
    counts = {fault.name: (ROOT / fault.file).read_text().count(fault.original) for fault in FAULTS}
    assert {name: count for name, count in counts.items() if count != 1} == {}
    assert len(counts) == len(FAULTS) and all(fault.original != fault.replacement for fault in FAULTS)
