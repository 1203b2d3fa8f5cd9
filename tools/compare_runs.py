"""Compare two test suites' coverage and mutation runs.

    python tools/compare_runs.py covered DETAIL.json OUT.json
        reduce gcovr's detailed json (build-cov/coverage-detail.json) to the
        covered lines and branches per file
    python tools/compare_runs.py coverage BEFORE.json AFTER.json
        lines and branches covered before and not after (must be none)
    python tools/compare_runs.py mutation BEFORE.json AFTER.json
        mutants killed before and not after (must be none), survivors of each,
        over the mutants both runs judged
"""

import json
import sys


def covered(detail_path, out_path):
    detail = json.load(open(detail_path))
    out = {}
    for f in detail["files"]:
        lines, branches = set(), set()
        for line in f["lines"]:
            if line.get("gcovr/noncode"):
                continue
            if line["count"] > 0:
                lines.add(line["line_number"])
            for b in line.get("branches", []):  # instantiations of one line share their branch numbers
                if b["count"] > 0:
                    branches.add(f"{line['line_number']}:{b['branchno']}")
        out[f["file"]] = {"lines": sorted(lines), "branches": sorted(branches, key=lambda s: tuple(map(int, s.split(":"))))}
    json.dump(out, open(out_path, "w"), indent=0, sort_keys=True)


def coverage(before_path, after_path):
    before, after = json.load(open(before_path)), json.load(open(after_path))
    lost = 0
    for name, b in sorted(before.items()):
        a = after.get(name, {"lines": [], "branches": []})
        for kind in ("lines", "branches"):
            gone = sorted(set(b[kind]) - set(a[kind]), key=str)
            if gone:
                lost += len(gone)
                print(f"{name}: {kind} no longer covered: {gone}")
    print("coverage: nothing lost" if not lost else f"coverage: {lost} lines/branches lost")
    return 1 if lost else 0


def mutation(before_path, after_path):
    before, after = json.load(open(before_path))["mutants"], json.load(open(after_path))["mutants"]
    common = sorted(set(before) & set(after))
    judged = [m for m in common if "stillborn" not in (before[m]["result"], after[m]["result"])]
    killed = lambda r: r["result"].startswith("killed")  # noqa: E731
    lost = [m for m in judged if killed(before[m]) and not killed(after[m])]
    print(f"mutants judged by both runs: {len(judged)} (of {len(common)} common; stillborn left out)")
    for label, run in (("before", before), ("after", after)):
        kills = sum(killed(run[m]) for m in judged)
        print(f"{label}: {kills} killed ({sum(run[m]['result'] == 'killed-cpp' for m in judged)} by C++), "
              f"{len(judged) - kills} survived")
    for m in judged:
        if not killed(before[m]) or not killed(after[m]):
            r = before[m]
            print(f"  survivor {m}: {r['from']!r} -> {r['to']!r} (before {before[m]['result']}, after {after[m]['result']})")
    print("mutation: nothing lost" if not lost else f"mutation: {len(lost)} kills lost: {lost}")
    return 1 if lost else 0


if __name__ == "__main__":
    cmd, *args = sys.argv[1:]
    sys.exit({"covered": covered, "coverage": coverage, "mutation": mutation}[cmd](*args) or 0)
