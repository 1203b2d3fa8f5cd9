"""Signer.sign against PyNaCl's SigningKey.sign, for the development build and
for installed wheels, each imported in its own process.

    python bench/wheels_vs_dev.py NAME=PYTHON[:PYTHONPATH] ...

Every candidate's ratio is measured against its own process's PyNaCl floor (as
bench_signer.py does; Signer.sign_bytes of the same 91 bytes isolates the
libsodium build from the rest of the call), in several alternating rounds so that a busy machine
hits every candidate alike; the best ratio of each is reported. `make
bench-wheels` compares the development build with the wheel of the same
Python."""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROUNDS = 5

CHILD = f"""
import json, sys
sys.path.insert(0, {HERE!r})
import nacl.signing
import _native
from benchlib import interleaved
from bench_signer import ORDER
signer = _native.Signer(_native.Keypair(bytes(range(32))), "mainnet")
key, msg = nacl.signing.SigningKey(bytes(range(32))), bytes(91)
best = interleaved({{"floor": lambda: key.sign(msg), "sign": lambda: signer.sign(ORDER),
                    "sign_bytes": lambda: signer.sign_bytes(msg)}})
print("RESULT " + json.dumps({{"ratio": best["sign"] / best["floor"], "ns": best["sign"],
                              "bytes_ratio": best["sign_bytes"] / best["floor"], "module": _native.__file__}}))
"""


def measure(python, pythonpath):
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    if pythonpath:
        env["PYTHONPATH"] = pythonpath
    proc = subprocess.run([python, "-c", CHILD], env=env, cwd="/", capture_output=True, text=True, check=True)
    line = next(line for line in proc.stdout.splitlines() if line.startswith("RESULT "))
    return json.loads(line[len("RESULT "):])


def main(argv):
    candidates = {}
    for arg in argv:
        name, _, spec = arg.partition("=")
        python, _, path = spec.partition(":")
        candidates[name] = (python, os.path.abspath(path) if path else "")
    if not candidates:
        raise SystemExit(__doc__)
    best = {}
    for _ in range(ROUNDS):
        for name, (python, path) in candidates.items():
            result = measure(python, path)
            if name not in best or result["ratio"] < best[name]["ratio"]:
                best[name] = result
    print(f"\nSigner.sign(limit order) / PyNaCl SigningKey.sign(91 bytes), best of {ROUNDS} processes each")
    width = max(len(name) for name in best)
    for name, result in best.items():
        print(f"  {name:{width}}  {result['ratio']:5.3f}  ({result['ns']:.0f} ns/call; sign_bytes(91 bytes) "
              f"{result['bytes_ratio']:5.3f}; {result['module']})")


if __name__ == "__main__":
    main(sys.argv[1:])
