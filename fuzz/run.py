"""Runs the fuzz harnesses one after another and reports what each did.

    python fuzz/run.py --out DIR [--seconds S | --runs N] [--seed K] [--core DIR] [--targets a,b]

Python harnesses (fuzz/py_surface.py TARGET) run under this interpreter with
the environment as given (PYTHONPATH picks the build, LD_PRELOAD the sanitizer
runtimes); libFuzzer harnesses are the fuzz_* executables in --core. Each
harness keeps its corpus in DIR/corpus/NAME (so that long runs build on earlier
ones) unless --fresh; crash inputs land in DIR/artifacts. The summary (inputs,
seconds, crashes, and the Python harnesses' calls per entry point) goes to
stdout and DIR/summary.json. Exit status 1 when any harness crashed or failed.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PY_TARGETS = ["orders", "actions", "prepared", "keys", "solana", "binding"]
CORE_TARGETS = ["fuzz_base58", "fuzz_wire", "fuzz_finalize", "fuzz_clear_sign"]
DONE = re.compile(r"Done (\d+) runs in (\d+) second")


def run_one(name, cmd, corpus, args, env, stats_path):
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(args.artifacts, exist_ok=True)
    flags = [f"-seed={args.seed}", f"-artifact_prefix={args.artifacts}/{name}-", "-rss_limit_mb=4096",
             "-timeout=30", "-print_final_stats=1"]
    if args.runs:
        flags.append(f"-runs={args.runs}")
        if args.seconds:
            flags.append(f"-max_total_time={args.seconds}")  # a cap on a busy machine
    else:
        flags.append(f"-max_total_time={args.seconds}")
    start = time.monotonic()
    log_path = os.path.join(args.out, f"{name}.log")
    with open(log_path, "w") as log:
        proc = subprocess.run(cmd + flags + [corpus], stdout=log, stderr=subprocess.STDOUT, env=env)
    elapsed = time.monotonic() - start
    text = open(log_path, errors="replace").read()
    m = DONE.search(text)
    execs = re.findall(r"stat::number_of_executed_units:\s*(\d+)", text)
    inputs = int(m.group(1)) if m else int(execs[-1]) if execs else None
    crashed = proc.returncode != 0
    result = {"harness": name, "inputs": inputs, "seconds": round(elapsed, 1), "exit": proc.returncode,
              "crashes": 1 if crashed else 0}
    if crashed:
        result["log"] = log_path
        tail = [ln for ln in text.splitlines() if ln.strip()][-25:]
        result["tail"] = "\n".join(tail)
    if stats_path and os.path.exists(stats_path):
        with open(stats_path) as f:
            result["entry_points"] = json.load(f)
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--seconds", type=int, default=0)
    ap.add_argument("--runs", type=int, default=0)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--core", help="directory holding the libFuzzer executables")
    ap.add_argument("--targets", help="comma-separated subset")
    ap.add_argument("--fresh", action="store_true", help="start from an empty corpus (deterministic runs)")
    args = ap.parse_args()
    if not args.seconds and not args.runs:
        ap.error("give --seconds or --runs")
    os.makedirs(args.out, exist_ok=True)
    args.out = os.path.abspath(args.out)
    args.artifacts = os.path.join(args.out, "artifacts")
    wanted = set(args.targets.split(",")) if args.targets else None

    plan = []
    for t in PY_TARGETS:
        if wanted is None or t in wanted:
            plan.append((t, [sys.executable, os.path.join(HERE, "py_surface.py"), t], True))
    if args.core:
        for t in CORE_TARGETS:
            exe = os.path.join(args.core, t)
            if (wanted is None or t in wanted) and os.path.exists(exe):
                plan.append((t, [exe], False))

    results = []
    scratch = tempfile.mkdtemp(prefix="fyrn-fuzz-")
    try:
        for name, cmd, is_py in plan:
            env = dict(os.environ, PYTHONHASHSEED="0")
            stats = os.path.join(args.out, f"{name}.stats.json") if is_py else None
            if stats:
                env["FYRN_FUZZ_STATS"] = stats
                if os.path.exists(stats):
                    os.remove(stats)
            else:
                env.pop("LD_PRELOAD", None)  # the libFuzzer binaries carry their own sanitizer runtime
            corpus = os.path.join(scratch, name) if args.fresh else os.path.join(args.out, "corpus", name)
            r = run_one(name, cmd, corpus, args, env, stats)
            results.append(r)
            print(f"{name:16} inputs={r['inputs']} seconds={r['seconds']} crashes={r['crashes']}", flush=True)
            if r["crashes"]:
                print(r["tail"], file=sys.stderr)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump(results, f, indent=1, sort_keys=True)
    total_in = sum(r["inputs"] or 0 for r in results)
    total_s = sum(r["seconds"] for r in results)
    crashes = sum(r["crashes"] for r in results)
    print(f"fuzz: {len(results)} harnesses, {total_in} inputs in {total_s:.0f} s, {crashes} crashes")
    sys.exit(1 if crashes else 0)


if __name__ == "__main__":
    main()
