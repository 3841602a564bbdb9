"""Runs the C++ PNG encoding benchmark on a screenshot."""

import subprocess

import timing

subprocess.run([str(timing.BUILD / "bench" / "encode_png_bench"), str(timing.SCREENS / "page_baseline.png")],
               check=True)
