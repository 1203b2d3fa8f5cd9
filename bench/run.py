"""`make bench`: runs every benchmark of the project.

- each bench/bench_*.py module's run() (each prints its own small table of
  ratios against a floor measured in the same run);
- each native benchmark executable build/bench_* (built from bench/*.cpp);
- last, alone on the machine, bench/report.py, which writes bench/results.md
  and bench/results.png (the tables and plot the README shows).

Usage: bench/run.py [name-filter ...]  e.g. `bench/run.py base58`, or
`bench/run.py report` for the report alone."""

import importlib
import os
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
BUILD_DIR = Path(os.environ.get("FYRN_BUILD_DIR", BENCH_DIR.parent / "build"))


def selected(name, filters):
    return not filters or any(f in name for f in filters)


def main(filters):
    sys.path.insert(0, str(BENCH_DIR))
    failures = 0
    for path in sorted(BENCH_DIR.glob("bench_*.py")):
        if not selected(path.stem, filters):
            continue
        print(f"\n=== {path.stem} (Python) ===")
        started = time.perf_counter()
        try:
            importlib.import_module(path.stem).run()
        except Exception as e:  # one broken benchmark must not hide the others
            failures += 1
            print(f"  FAILED: {type(e).__name__}: {e}")
        print(f"  ({time.perf_counter() - started:.1f} s)")
    for exe in sorted(BUILD_DIR.glob("bench_*")):
        if not (exe.is_file() and os.access(exe, os.X_OK)) or not selected(exe.name, filters):
            continue
        print(f"\n=== {exe.name} (native) ===", flush=True)
        if subprocess.run([str(exe)]).returncode != 0:
            failures += 1
            print(f"  FAILED: {exe.name} exited with an error")
    if selected("report", filters):
        print("\n=== report: bench/results.md, bench/results.png ===", flush=True)
        started = time.perf_counter()
        try:
            importlib.import_module("report").run()
        except Exception as e:
            failures += 1
            print(f"  FAILED: {type(e).__name__}: {e}")
        print(f"  ({time.perf_counter() - started:.1f} s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
