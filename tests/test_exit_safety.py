"""Interpreter exit while a daemon thread is inside a call.

CPython 3.11 ends a daemon thread that tries to take the interpreter lock back
after finalisation began with pthread_exit(); the forced unwind runs through the
library's frames. Here Python code run by the call (a gc callback that sleeps,
so it gives the lock away while result dictionaries are built) hands the lock
to the exiting main thread. Each scenario exits many times: a crash or a fatal
error in any run fails the test.
"""

import os
import subprocess
import sys
import textwrap
from concurrent.futures import ThreadPoolExecutor

import pytest

RUNS = int(os.environ.get("FYRN_STRESS_RUNS", "40"))  # fewer under mutation runs
PARALLEL = 8

PRELUDE = """
import gc, sys, threading, time
import _native

signer = _native.Signer(_native.Keypair(bytes([5]) * 32), "devnet")
def order(i):
    return {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 100.0 + i, "size": 1.0}
inside = threading.Event()

def pause(phase, info):
    if threading.current_thread() is not threading.main_thread():
        inside.set()
        time.sleep(0.0005)  # gives the lock away in the middle of the call

def loop(call):
    keep = []  # live results keep the dict free lists empty, so gc runs inside the call
    while True:
        keep.append(call())
        if len(keep) > 2000:
            keep.clear()

def start(call, gc_pause=True):
    if gc_pause:
        gc.set_threshold(1, 1, 1)
        gc.callbacks.append(pause)
    threading.Thread(target=loop, args=(call,), daemon=True).start()
    inside.wait(10)
    time.sleep(0.002)

class SlowNonce:
    def __index__(self):
        inside.set()
        time.sleep(0.0005)  # gives the lock away while the nonce is converted
        return 7
"""

SCENARIOS = {
    "sign": "o = order(0); start(lambda: signer.sign(o))",
    "sign_nonce_hook": "o = order(0); start(lambda: signer.sign(o, SlowNonce()), gc_pause=False)",
    # Fewer than ten items: signed and converted one by one on the calling thread.
    "sign_all_sequential": "os_ = [order(i) for i in range(5)]; start(lambda: signer.sign_all(os_))",
    # The pool path, one chunk converted after the workers joined.
    "sign_all_pool": "os_ = [order(i) for i in range(12)]; start(lambda: signer.sign_all(os_))",
    # Several chunks: conversion overlaps the workers signing the next chunk.
    "sign_all_streamed": "os_ = [order(i) for i in range(400)]; start(lambda: signer.sign_all(os_))",
    "sign_orders_batch_streamed": (
        "bs = [[order(i), order(i + 1)] for i in range(300)]; start(lambda: signer.sign_orders_batch(bs))"
    ),
    # Preparation on the pool, and the wallet functions (no signer involved).
    "py_prepare_all_orders_pool": (
        "os_ = [order(i) for i in range(12)]; start(lambda: _native.py_prepare_all_orders(os_, 'devnet', signer.pubkey))"
    ),
    "py_prepare_all_orders_streamed": (
        "os_ = [order(i) for i in range(400)]; "
        "start(lambda: _native.py_prepare_all_orders(os_, 'devnet', signer.pubkey, base_nonce=1))"
    ),
    "prepare_wallet_message": (
        "p = _native.py_prepare_order_group([order(0), order(1)], 'devnet', signer.pubkey, nonce=1); "
        "start(lambda: _native.prepare_wallet_message(p, 'offchain'))"
    ),
    "finalize_wallet_message": (
        "w = _native.prepare_wallet_message(_native.py_prepare_order(order(0), 'devnet', signer.pubkey, nonce=1), "
        "'offchain'); sig = signer.sign_bytes(w['message_bytes']); "
        "start(lambda: _native.finalize_wallet_message(w, sig))"
    ),
    "sign_wallet_prepared": (
        "w = _native.prepare_wallet_message(_native.py_prepare_order(order(0), 'devnet', signer.pubkey, nonce=1), "
        "'base58'); start(lambda: signer.sign_wallet_prepared(w))"
    ),
}


def run_once(body):
    proc = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(body)],
                          capture_output=True, text=True, timeout=60)
    return proc.returncode, proc.stderr


@pytest.mark.parametrize("scenario", sorted(SCENARIOS))
def test_daemon_thread_inside_a_call_at_exit(scenario):
    with ThreadPoolExecutor(PARALLEL) as pool:
        results = list(pool.map(run_once, [SCENARIOS[scenario]] * RUNS))
    bad = [(rc, err[-400:]) for rc, err in results if rc != 0 or "Fatal Python error" in err]
    assert not bad, f"{len(bad)} of {RUNS} exits failed; first: {bad[0]}"
