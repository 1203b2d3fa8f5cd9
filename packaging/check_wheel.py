"""Proves an installed wheel is self-contained: run with the interpreter of a
fresh virtual environment the wheel was installed into, from a directory that
holds no other copy of the module.

It signs a parallel batch (so that the oneTBB pool really starts), then reads
the process's own memory map: the extension must come from this environment's
site-packages, libsodium must not be mapped as a library at all (it is linked
in statically), and oneTBB must be either linked in statically too (no libtbb
mapped, yet the pool's worker threads exist) or the copy grafted into the
wheel, never the system's, although the system has both installed."""

import ctypes
import glob
import os
import sys
import sysconfig

import _native

SITE = os.path.realpath(sysconfig.get_paths()["purelib"])
ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.0, "size": 0.1,
         "order_type": {"type": "limit", "tif": "GTC"}}


def require(condition, failure):
    # Not `assert`: the check must hold under `python -O` too.
    if not condition:
        raise SystemExit(f"check_wheel: {failure}")


def mapped_files():
    with open("/proc/self/maps") as maps:
        return sorted({line.split(None, 5)[5].strip() for line in maps
                       if len(line.split(None, 5)) == 6 and line.split(None, 5)[5].startswith("/")})


def main():
    native = os.path.realpath(_native.__file__)
    require(native.startswith(SITE + os.sep), f"_native imported from {native}, not from {SITE}")

    signer = _native.Signer(_native.Keypair(), "mainnet")
    txs = signer.sign_all([ORDER] * 50)
    require(len(txs) == 50 and len({t["signature"] for t in txs}) == 50, "batch did not sign 50 distinct nonces")

    files = mapped_files()
    sodium = [f for f in files if "libsodium" in os.path.basename(f)]
    tbb = [f for f in files if os.path.basename(f).startswith(("libtbb", "libtcm", "libhwloc"))]
    foreign = sodium + [f for f in tbb if not os.path.realpath(f).startswith(SITE + os.sep)]
    require(not foreign, f"libraries loaded from outside the wheel: {foreign}")

    system_sodium = sorted(glob.glob("/usr/lib/*/libsodium.so*"))
    system_tbb = sorted(glob.glob("/usr/lib/*/libtbb*.so*"))
    print(f"signed a parallel batch of {len(txs)} with {native}")
    if tbb:
        runtime = next(f for f in tbb if os.path.basename(f).startswith(("libtbb-", "libtbb.")))
        version = ctypes.CDLL(runtime).TBB_runtime_version
        version.restype = ctypes.c_char_p
        print(f"oneTBB {version().decode()} from the wheel: {', '.join(tbb)}")
    else:
        # Linked in: then the pool's workers must be running in this process.
        threads = len(os.listdir("/proc/self/task"))
        require(os.cpu_count() == 1 or threads > 1, "no oneTBB library mapped and no worker thread: no pool ran")
        print(f"oneTBB: linked in statically, no libtbb mapped; {threads} threads after the batch")
    print("libsodium: linked in statically, no libsodium mapped")
    print(f"{len(files)} files mapped; not among them, although installed: {', '.join(system_sodium + system_tbb) or 'none'}")


if __name__ == "__main__":
    sys.exit(main())
