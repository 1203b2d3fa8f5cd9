"""Threads, fork, exit and re-entrant callbacks, each in fresh interpreters.

Every scenario is a script run RUNS times (in parallel batches of subprocesses)
so that a failure that shows once in twenty runs fails the test. A script
prints "ok" after checking its own results; expected signatures come from
PyNaCl over bytes the preparation functions hand out, computed before the
threads, forks or callbacks start.
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
import gc, os, sys, threading, time
import base58, nacl.signing
import _native as N

ACCOUNT_KEY = nacl.signing.SigningKey(bytes([5]) * 32)
signer = N.Signer(N.Keypair(bytes(ACCOUNT_KEY)), "devnet")
ACCOUNT = signer.pubkey
def order(i):
    return {"type": "order", "symbol": "BTC-USD", "is_buy": i % 2 == 0, "price": 100.0 + i, "size": 1.0}
ORDERS = [order(i) for i in range(40)]
def expected_signatures(key, orders, base_nonce, network="devnet"):
    account = base58.b58encode(bytes(key.verify_key)).decode()
    prepared = N.py_prepare_all_orders(orders, network, account, base_nonce=base_nonce)
    return [base58.b58encode(key.sign(p["message_bytes"]).signature).decode() for p in prepared]
EXPECTED = expected_signatures(ACCOUNT_KEY, ORDERS, 1)
BORROWED = {"Already borrowed", "Already mutably borrowed"}

def pause(phase, info):
    time.sleep(0.0002)  # gc runs inside calls: hands the lock to another thread mid-call

def run_threads(target, n):
    errors = []
    def wrapped(i):
        try:
            target(i)
        except BaseException as e:  # reported by the main thread
            errors.append(repr(e))
    threads = [threading.Thread(target=wrapped, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors[:3]
"""

SCENARIOS = {
    # One signer, many threads, calls that give the lock away mid-call: a
    # borrow error is the only failure allowed, and every result is right.
    "shared_signer": """
        gc.set_threshold(1, 1, 1); gc.callbacks.append(pause)
        class SlowNonce:  # gives the lock away while the signer is borrowed
            def __init__(self, value):
                self.value = value
            def __index__(self):
                time.sleep(0.0002)
                return self.value
        borrowed = [0]
        start = threading.Barrier(8)
        deadline = time.monotonic() + 0.4
        def work(t):
            keep = []  # live results keep the free lists empty, so gc runs inside the calls
            start.wait()
            k = 0
            while k < 40 or time.monotonic() < deadline:
                i, k = (t * 7 + k) % 40, k + 1
                nonce = SlowNonce(1 + i) if k % 2 else 1 + i
                try:
                    if k % 3 == 0:
                        got = [x["signature"] for x in signer.sign_all(ORDERS[i:i + 12], base_nonce=nonce)]
                        assert got == EXPECTED[i:i + 12][:len(got)], "wrong batch result"
                        keep.append(got)
                    elif k % 3 == 1:
                        keep.append(signer.sign(ORDERS[i], nonce=nonce))
                        assert keep[-1]["signature"] == EXPECTED[i], "wrong result"
                    else:
                        p = N.py_prepare_order(ORDERS[i], "devnet", ACCOUNT, nonce=1 + i)
                        assert signer.sign_prepared(p)["signature"] == EXPECTED[i], "wrong prepared result"
                except RuntimeError as e:
                    assert str(e) in BORROWED, str(e)
                    borrowed[0] += 1
                if len(keep) > 300:
                    keep.clear()
        run_threads(work, 8)
        # Every borrow was released.
        assert signer.sign(ORDERS[0], nonce=1)["signature"] == EXPECTED[0]
        print("borrowed", borrowed[0])
    """,
    # A signer per thread: no error at all, every signature verifies.
    "separate_signers": """
        gc.set_threshold(50, 5, 5); gc.callbacks.append(pause)
        keys = [nacl.signing.SigningKey(bytes([t + 1]) * 32) for t in range(8)]
        expected = [expected_signatures(k, ORDERS[:12], 7) for k in keys]
        def work(t):
            mine = N.Signer(N.Keypair(bytes(keys[t])), "devnet")
            for k in range(6):
                got = [x["signature"] for x in mine.sign_all(ORDERS[:12], base_nonce=7)]
                assert got == expected[t]
                assert mine.sign(ORDERS[k], nonce=7 + k)["signature"] == expected[t][k]
        run_threads(work, 8)
    """,
    # Fork after a parallel batch and after a parallel preparation: child and
    # parent both sign and prepare a batch afterwards.
    "fork_after_batch_and_prepare_all": """
        first = [x["signature"] for x in signer.sign_all(ORDERS, base_nonce=1)]
        assert first == EXPECTED
        prepared = N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1)
        def both():
            ok = [x["signature"] for x in signer.sign_all(ORDERS, base_nonce=1)] == EXPECTED
            again = N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1)
            return ok and [p["message_bytes"] for p in again] == [p["message_bytes"] for p in prepared]
        pid = os.fork()
        if pid == 0:
            sys.exit(0 if both() else 3)
        assert both()
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0, status
    """,
    "fork_after_prepare_all_only": """
        prepared = N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1)
        pid = os.fork()
        if pid == 0:
            again = N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1)
            sigs = [x["signature"] for x in signer.sign_all(ORDERS, base_nonce=1)]
            os._exit(0 if sigs == EXPECTED and again == prepared else 3)
        assert N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1) == prepared
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0, status
    """,
    # Exit right after a parallel batch, with the pool's threads still around.
    "exit_after_batch": """
        assert [x["signature"] for x in signer.sign_all(ORDERS, base_nonce=1)] == EXPECTED
        N.py_prepare_all_orders(ORDERS, "devnet", ACCOUNT, base_nonce=1)
    """,
    # Callbacks during argument conversion that call back into the library.
    "reentrant_callbacks": """
        other = N.Signer(N.Keypair(bytes([8]) * 32), "devnet")
        class Price:
            def __init__(self, call):
                self.call, self.result = call, None
            def __float__(self):
                self.result = self.call()
                return 100.0
        for rep in range(20):
            # The same signer, from inside its own call: refused, and released after.
            same = Price(lambda: signer.sign(ORDERS[1], nonce=2))
            try:
                signer.sign({**ORDERS[0], "price": same}, nonce=1)
                raise AssertionError("re-entrant sign on the same signer succeeded")
            except RuntimeError as e:
                assert str(e) == "Already borrowed", str(e)
            # Another signer inside the call: both results are right.
            cross = Price(lambda: other.sign(ORDERS[1], nonce=2))
            tx = signer.sign({**ORDERS[0], "price": cross}, nonce=1)
            assert tx["signature"] == EXPECTED[0]
            other_key = nacl.signing.SigningKey(bytes([8]) * 32)
            assert cross.result["signature"] == expected_signatures(other_key, [ORDERS[1]], 2)[0]
            # A batch whose conversion runs a preparation (module function, no signer).
            prep = Price(lambda: N.py_prepare_all_orders(ORDERS[:12], "devnet", ACCOUNT, base_nonce=1))
            txs = signer.sign_all([{**ORDERS[0], "price": prep}] + ORDERS[1:12], base_nonce=1)
            assert [x["signature"] for x in txs] == EXPECTED[:12]
            assert len(prep.result) == 12

        class Actions(dict):
            calls = 0
            def items(self):
                Actions.calls += 1
                # Prepares, and mutates a copy of what is being read, mid-read.
                N.py_prepare_order(ORDERS[3], "devnet", ACCOUNT, nonce=4)
                return dict.items(self)
        prepared = N.py_prepare_order(ORDERS[0], "devnet", ACCOUNT, nonce=1)
        for rep in range(20):
            edited = {**prepared, "actions": [Actions(a) for a in prepared["actions"]]}
            before = Actions.calls
            assert signer.sign_prepared(edited)["signature"] == EXPECTED[0]
            assert N.py_finalize_transaction(edited, EXPECTED[0])["signature"] == EXPECTED[0]
            wallet = N.prepare_wallet_message(edited, "offchain")
            assert N.finalize_wallet_message(wallet, signer.sign_bytes(wallet["message_bytes"]))["nonce"] == 1
            assert Actions.calls > before  # the hook ran inside the calls
    """,
}


def run_once(body):
    proc = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(body) + "\nprint('ok')"],
                          capture_output=True, text=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


@pytest.mark.parametrize("scenario", list(SCENARIOS))
def test_scenario_repeated(scenario):
    with ThreadPoolExecutor(PARALLEL) as pool:
        results = list(pool.map(run_once, [SCENARIOS[scenario]] * RUNS))
    bad = [(rc, err[-600:]) for rc, out, err in results
           if rc != 0 or out.splitlines()[-1:] != ["ok"] or "Fatal" in err]
    assert not bad, f"{len(bad)} of {RUNS} runs failed; first: {bad[0]}"
    if scenario == "shared_signer":  # the threads did meet inside the signer
        assert sum(int(out.split()[1]) for _, out, _ in results) > 0
