"""Mutation testing of the core: does the suite notice a one-token fault?

    python tools/mutate.py --rev HEAD --out tools/mutation/full.json [--sample 140] [--seed 1]
    python tools/mutate.py --list --sample 140          # print the sample only

Operators: flip a comparison (< <=, > >=, == !=), shift an integer constant by
one, delete a statement, swap an integer width (uint64_t -> uint32_t, ...).
The sample is drawn with a fixed seed from the candidates of each file in
FILES, the same number per file, from the sources of the working tree: the
sample does not depend on the tests, so two runs over different test suites
(different --rev) judge the same mutants.

The tree at --rev (sources and tests) is exported to build-mut/<rev>/tree and
built once into build-mut/<rev>/build (ninja rebuilds only the mutated object
and what links it). Per mutant: the C++ tests (stop at the first failure), then
pytest -x -q (stop at the first failure). A failing test, a crash or a timeout
is a kill; a mutant that does not compile is stillborn and counts for neither.
Results are written after every mutant, and a rerun resumes where it stopped.
Run it niced: it takes a core for hours.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
FILES = [f"src/core/{name}.cpp" for name in ("wire", "clear_sign", "wallet", "prepare", "base58", "keys", "order_id")]

COMPARE = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
WIDTHS = {"uint64_t": "uint32_t", "uint32_t": "uint16_t", "uint16_t": "uint8_t", "uint8_t": "uint16_t",
          "int64_t": "int32_t", "int32_t": "int16_t", "size_t": "uint32_t"}
COMPARE_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
CONST_RE = re.compile(r"(?<![\w.])(0x[0-9a-fA-F]+|\d+)(?:[uU]?[lL]{0,2}|[lL]{0,2}[uU]?)(?![\w.])")
WIDTH_RE = re.compile(r"(?<![\w:])(?:std::)?(uint64_t|uint32_t|uint16_t|uint8_t|int64_t|int32_t|size_t)\b")
# A statement worth deleting: a call, an assignment, an increment, break or continue,
# on a line of its own. Declarations and returns would not compile without it.
DECL = re.compile(r"^(const|constexpr|static|auto|std::|u?int\d+_t|size_t|bool|char|double|float|unsigned|int|"
                  r"return|if|for|while|case|default|using|namespace|template|typename|struct|class|enum|"
                  r"[A-Z]\w*(<.*>)?\s+[a-z_]\w*\s*[({=;])")
STATEMENT = re.compile(r"^[\w:.\->\[\]()*&]+\s*(\(|[-+|&^]?=[^=]|\+\+|--|<<=|>>=)|^(\+\+|--)\w|^(break|continue);$")


def code_mask(lines):
    """Per line, the character positions that are code (not comment, string or char literal)."""
    masks, in_block = [], False
    for line in lines:
        mask, i, n = [False] * len(line), 0, len(line)
        while i < n:
            if in_block:
                end = line.find("*/", i)
                if end < 0:
                    i = n
                    break
                i, in_block = end + 2, False
                continue
            c = line[i]
            if line.startswith("//", i):
                break
            if line.startswith("/*", i):
                in_block, i = True, i + 2
                continue
            if c in "\"'":
                j = i + 1
                while j < n and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                i = j + 1
                continue
            mask[i] = True
            i += 1
        masks.append(mask)
    return masks


def candidates(path):
    lines = (ROOT / path).read_text().splitlines()
    masks = code_mask(lines)
    out = []
    for no, (line, mask) in enumerate(zip(lines, masks), 1):
        s = line.strip()
        if not s or s.startswith("#") or not any(mask):
            continue

        def add(op, start, end, new):
            if all(mask[start:end]):
                out.append({"file": path, "line": no, "col": start, "op": op,
                            "from": line[start:end], "to": new})

        for m in COMPARE_RE.finditer(line):
            add("compare", m.start(1), m.end(1), COMPARE[m.group(1)])
        for m in CONST_RE.finditer(line):
            text = m.group(1)
            value = int(text, 16) if text.startswith("0x") else int(text)
            if text != "0" and text.startswith("0") and not text.startswith("0x"):
                continue  # octal-looking; none in the sources
            for delta in (1, -1):
                if value + delta < 0:
                    continue
                new = hex(value + delta) if text.startswith("0x") else str(value + delta)
                add("constant", m.start(1), m.end(1), new)
        for m in WIDTH_RE.finditer(line):
            add("width", m.start(1), m.end(1), WIDTHS[m.group(1)])
        code = "".join(ch for ch, keep in zip(line, mask) if keep).strip()
        if code.endswith(";") and not DECL.match(code) and STATEMENT.match(code) and code.count(";") == 1:
            indent = len(line) - len(line.lstrip())
            if all(mask[indent:indent + len(s.split("//")[0].rstrip())]) or code == s:
                out.append({"file": path, "line": no, "col": indent, "op": "delete", "from": line[indent:], "to": ""})
    return out


def sample(n, seed):
    rng = random.Random(seed)
    chosen = []
    per_file = n // len(FILES)
    for path in FILES:
        cands = candidates(path)
        chosen += rng.sample(cands, min(per_file, len(cands)))
    for i, m in enumerate(chosen):
        m["id"] = f"{Path(m['file']).stem}:{m['line']}:{m['col']}:{m['op']}:{m['to'][:12] or 'del'}"
    return chosen


def apply(text, m):
    lines = text.split("\n")
    line = lines[m["line"] - 1]
    assert line[m["col"]:m["col"] + len(m["from"])] == m["from"], (m, line)
    lines[m["line"] - 1] = line[:m["col"]] + m["to"] + line[m["col"] + len(m["from"]):]
    return "\n".join(lines)


def sh(cmd, cwd, timeout, env=None):
    try:
        proc = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout, env=env)
        return proc.returncode, proc.stdout[-3000:] + proc.stderr[-3000:]
    except subprocess.TimeoutExpired:
        return "timeout", ""


def prepare_tree(rev, base):
    tree, build = base / "tree", base / "build"
    if not (tree / "CMakeLists.txt").exists():
        shutil.rmtree(tree, ignore_errors=True)
        tree.mkdir(parents=True)
        archive = subprocess.run(["git", "archive", rev], cwd=ROOT, check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(tree)], input=archive, check=True)
    if not (build / "build.ninja").exists():
        venv = ROOT / ".venv" / "bin"
        subprocess.run([str(venv / "cmake"), "-S", str(tree), "-B", str(build), "-G", "Ninja",
                        f"-DCMAKE_MAKE_PROGRAM={venv / 'ninja'}", "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_CXX_FLAGS_RELEASE=-O0", "-DFYRN_BUILD_TESTS=ON",
                        f"-DPython_EXECUTABLE={venv / 'python'}"], check=True, stdout=subprocess.DEVNULL)
    return tree, build


def build(build_dir, *targets):
    return sh([str(ROOT / ".venv/bin/ninja"), "-C", str(build_dir), *targets], None, 1800)


def run_suites(tree, build_dir, env):
    """The verdict on the built tree; the module is linked only when the C++ tests pass."""
    rc, out = build(build_dir, "fyrn_core_tests")
    if rc != 0:
        return "stillborn", out
    rc, out = sh([str(build_dir / "fyrn_core_tests"), "--gtest_brief=1"], tree, 300,
                 {**env, "GTEST_FAIL_FAST": "1"})
    if rc != 0:
        return "killed-cpp", out
    rc, out = build(build_dir, "_native")
    if rc != 0:
        return "stillborn", out
    rc, out = sh([str(ROOT / ".venv/bin/python"), "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                  "--hypothesis-seed=0", "tests"], tree, 2400, {**env, "PYTHONPATH": str(build_dir)})
    if rc != 0:
        return "killed-py", out
    return "survived", out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rev", default="HEAD")
    ap.add_argument("--out", type=Path)
    ap.add_argument("--sample", type=int, default=140)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--limit", type=int, default=0, help="stop after this many new mutants")
    args = ap.parse_args()
    mutants = sample(args.sample, args.seed)
    if args.list:
        for m in mutants:
            print(m["id"], repr(m["from"]), "->", repr(m["to"]))
        print(len(mutants), "mutants", file=sys.stderr)
        return 0
    rev = subprocess.run(["git", "rev-parse", "--short", args.rev], cwd=ROOT, check=True,
                         capture_output=True, text=True).stdout.strip()
    base = ROOT / "build-mut" / rev
    tree, build_dir = prepare_tree(rev, base)
    env = {**os.environ, "FYRN_STRESS_RUNS": os.environ.get("FYRN_STRESS_RUNS", "4")}
    results = json.loads(args.out.read_text())["mutants"] if args.out.exists() else {}
    verdict, out = run_suites(tree, build_dir, env)
    assert verdict == "survived", "the unmutated tree fails its own tests:\n" + out
    done = 0
    for path in FILES:
        todo = [m for m in mutants if m["file"] == path and m["id"] not in results]
        if not todo:
            continue
        original = (tree / path).read_text()
        try:
            for m in todo:
                if args.limit and done >= args.limit:
                    break
                started = time.monotonic()
                (tree / path).write_text(apply(original, m))
                verdict = run_suites(tree, build_dir, env)[0]
                results[m["id"]] = {**{k: m[k] for k in ("file", "line", "op", "from", "to")},
                                    "result": verdict, "seconds": round(time.monotonic() - started, 1)}
                done += 1
                write(args.out, rev, results)
                print(f"{len(results):4d}/{len(mutants)} {verdict:10s} {m['id']}", flush=True)
        finally:
            (tree / path).write_text(original)
    write(args.out, rev, results)
    return 0


def write(out, rev, results):
    counts = {}
    for r in results.values():
        counts[r["result"]] = counts.get(r["result"], 0) + 1
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps({"rev": rev, "counts": counts, "mutants": results}, indent=1, sort_keys=True) + "\n")


if __name__ == "__main__":
    sys.exit(main())
