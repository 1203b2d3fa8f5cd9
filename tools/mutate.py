"""Mutation testing of the core: does the suite notice a one-token fault?

    python tools/mutate.py --suite full=REV1 --suite trimmed=REV2 --out tools/mutation [--sample 35]
    python tools/mutate.py --list                     # print the sample only

Operators: flip a comparison (< <=, > >=, == !=), shift an integer constant by
one, delete a statement, swap an integer width (uint64_t -> uint32_t, ...).
The sample is drawn with a fixed seed from the candidates of each file in
FILES, the same number per file, from the sources of the working tree: it does
not depend on the tests, so suites of different revisions judge the same
mutants.

Each suite is the tree of its revision (tests and all), exported to
build-mut/<rev>/; the revisions must agree on src/ and include/. The first
suite's tree is built once into build-mut/build (ninja rebuilds only the
mutated object and what links it), with every suite's C++ tests as an
executable of its own. Per mutant and suite: the C++ tests (stop at the first
failure), then pytest -x -q over that suite's tests (slow files last). A failing
test, a crash or a timeout is a kill; a mutant that does not compile is
stillborn and counts for neither. Results (OUT/<suite>.json) are written after
every mutant, and a rerun resumes where it stopped. Run it niced: it takes a
core for hours on a busy machine.
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
from concurrent.futures import ThreadPoolExecutor
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


SLOW_LAST = ("test_processes", "test_hostile", "test_stubs")  # files that spawn interpreters or mypy


def export(rev):
    tree = ROOT / "build-mut" / rev
    if not (tree / "CMakeLists.txt").exists():
        shutil.rmtree(tree, ignore_errors=True)
        tree.mkdir(parents=True)
        archive = subprocess.run(["git", "archive", rev], cwd=ROOT, check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(tree)], input=archive, check=True)
    return tree


def configure(tree, suites):
    """The first suite's tree, with one C++ test executable per suite."""
    build = ROOT / "build-mut" / "build"
    cmake = (tree / "CMakeLists.txt").read_text()
    extra = "".join(f"""
file(GLOB MUT_{name}_TESTS {t}/tests/cpp/*.cpp)
add_executable(mut_tests_{name} ${{MUT_{name}_TESTS}})
target_link_libraries(mut_tests_{name} PRIVATE fyrn_core GTest::gtest GTest::gtest_main)
""" for name, t in suites)
    if "mut_tests_" not in cmake:
        (tree / "CMakeLists.txt").write_text(cmake + extra)
    if not (build / "build.ninja").exists():
        venv = ROOT / ".venv" / "bin"
        subprocess.run([str(venv / "cmake"), "-S", str(tree), "-B", str(build), "-G", "Ninja",
                        f"-DCMAKE_MAKE_PROGRAM={venv / 'ninja'}", "-DCMAKE_BUILD_TYPE=Release",
                        "-DCMAKE_CXX_FLAGS_RELEASE=-O0", "-DFYRN_BUILD_TESTS=ON",
                        f"-DPython_EXECUTABLE={venv / 'python'}"], check=True, stdout=subprocess.DEVNULL)
    return build


def ninja(build_dir, *targets):
    # The machine is shared: two jobs at most.
    return sh([str(ROOT / ".venv/bin/ninja"), "-j2", "-C", str(build_dir), *targets], None, 3600)


def judge(suites, build_dir, env):
    """The verdict of each suite on the built tree; the module is linked only if some suite needs it."""
    rc, out = ninja(build_dir, *[f"mut_tests_{name}" for name, _ in suites])
    if rc != 0:
        return {name: ("stillborn", out) for name, _ in suites}
    verdicts = {}
    for name, tree in suites:
        rc, out = sh([str(build_dir / f"mut_tests_{name}"), "--gtest_brief=1"], tree, 600,
                     {**env, "GTEST_FAIL_FAST": "1"})
        if rc != 0:
            verdicts[name] = ("killed-cpp", out)
    if len(verdicts) == len(suites):
        return verdicts
    rc, out = ninja(build_dir, "_native")
    if rc != 0:
        return {name: ("stillborn", out) for name, _ in suites}
    def pytest(tree):
        files = sorted((tree / "tests").glob("test_*.py"), key=lambda p: (p.stem in SLOW_LAST, p.name))
        return sh([str(ROOT / ".venv/bin/python"), "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                   "--hypothesis-seed=0", *map(str, files)], tree, 3600, {**env, "PYTHONPATH": str(build_dir)})

    todo = [(name, tree) for name, tree in suites if name not in verdicts]
    with ThreadPoolExecutor(len(todo)) as pool:  # the suites side by side
        for (name, _), (rc, out) in zip(todo, pool.map(lambda s: pytest(s[1]), todo)):
            verdicts[name] = ("killed-py" if rc != 0 else "survived", out)
    return verdicts


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--suite", action="append", default=[], help="NAME=REV; the first one's tree is built")
    ap.add_argument("--out", type=Path, default=ROOT / "tools" / "mutation")
    ap.add_argument("--sample", type=int, default=35)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()
    mutants = sample(args.sample, args.seed)
    if args.list:
        for m in mutants:
            print(m["id"], repr(m["from"]), "->", repr(m["to"]))
        print(len(mutants), "mutants", file=sys.stderr)
        return 0
    revs = [(name, subprocess.run(["git", "rev-parse", "--short", rev], cwd=ROOT, check=True, capture_output=True,
                                  text=True).stdout.strip()) for name, rev in (s.split("=", 1) for s in args.suite)]
    for _, rev in revs[1:]:
        same = subprocess.run(["git", "diff", "--quiet", revs[0][1], rev, "--", "src", "include"], cwd=ROOT)
        assert same.returncode == 0, f"{revs[0][1]} and {rev} differ in src/ or include/"
    suites = [(name, export(rev)) for name, rev in revs]
    tree = suites[0][1]
    build_dir = configure(tree, suites)
    env = {**os.environ, "FYRN_STRESS_RUNS": os.environ.get("FYRN_STRESS_RUNS", "4")}
    outs = {name: args.out / f"{name}.json" for name, _ in suites}
    results = {name: json.loads(p.read_text())["mutants"] if p.exists() else {} for name, p in outs.items()}
    if not any(results.values()):  # a resumed run was checked when it started
        for name, (verdict, out) in judge(suites, build_dir, env).items():
            assert verdict == "survived", f"the unmutated tree fails the {name} suite:\n" + out
    for path in FILES:
        todo = [m for m in mutants if m["file"] == path and any(m["id"] not in r for r in results.values())]
        if not todo:
            continue
        original = (tree / path).read_text()
        try:
            for m in todo:
                started = time.monotonic()
                (tree / path).write_text(apply(original, m))
                verdicts = judge(suites, build_dir, env)
                took = round(time.monotonic() - started, 1)
                for name, (verdict, _) in verdicts.items():
                    results[name][m["id"]] = {**{k: m[k] for k in ("file", "line", "op", "from", "to")},
                                              "result": verdict, "seconds": took}
                    write(outs[name], dict(revs)[name], results[name])
                print(f"{len(results[suites[0][0]]):4d}/{len(mutants)} {took:6.0f}s "
                      + " ".join(f"{n}={v}" for n, (v, _) in verdicts.items()) + f" {m['id']}", flush=True)
        finally:
            (tree / path).write_text(original)
    return 0


def write(out, rev, results):
    counts = {}
    for r in results.values():
        counts[r["result"]] = counts.get(r["result"], 0) + 1
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps({"rev": rev, "counts": counts, "mutants": results}, indent=1, sort_keys=True) + "\n")


if __name__ == "__main__":
    sys.exit(main())
