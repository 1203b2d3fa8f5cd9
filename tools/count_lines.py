"""Non-blank, non-comment lines of the code and of the tests, and their ratio.

    python tools/count_lines.py            # totals
    python tools/count_lines.py --files    # per file as well

Code: src/, include/, python/. Tests: tests/ (Python, C++ and the generated
vector data). A comment line is one that starts with `#` in Python or `//`, or
lies inside `/* */`, in C++; docstrings count as code.
"""

import argparse
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
CODE = ("src", "include", "python")
TESTS = ("tests",)
SUFFIXES = {".py", ".pyi", ".cpp", ".hpp", ".h", ".inc"}


def count(path):
    python = path.suffix in (".py", ".pyi")
    n, in_block = 0, False
    for line in path.read_text(encoding="utf-8").splitlines():
        s = line.strip()
        if in_block:
            in_block = "*/" not in s
            continue
        if not s or (python and s.startswith("#")) or (not python and s.startswith("//")):
            continue
        if not python and s.startswith("/*"):
            in_block = "*/" not in s
            continue
        n += 1
    return n


def files(dirs):
    for d in dirs:
        yield from sorted(p for p in (ROOT / d).rglob("*") if p.suffix in SUFFIXES and p.is_file()
                          and "__pycache__" not in p.parts)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", action="store_true")
    args = ap.parse_args()
    totals = {}
    for name, dirs in (("code", CODE), ("tests", TESTS)):
        total = 0
        for p in files(dirs):
            n = count(p)
            total += n
            if args.files:
                print(f"{n:6d}  {p.relative_to(ROOT)}")
        totals[name] = total
        print(f"{name}: {total}")
    print(f"tests / code: {totals['tests'] / totals['code']:.3f}")


if __name__ == "__main__":
    sys.exit(main())
