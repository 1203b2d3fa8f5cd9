"""External-wallet preparation and finalisation against the cryptography they
hand over to or check.

Floors, measured in the same run:
- py_prepare_order: PyNaCl's SigningKey.sign of a message of the prepared
  length (the signature the wallet will make); target <= 0.25x;
- py_finalize_transaction: PyNaCl's VerifyKey.verify of the same bytes (strict
  verification is the floor; everything else must nearly vanish); target <= 1.15x;
- py_prepare_all_orders of 10,000 orders: per-order cost against one
  py_prepare_order call; bar <= 0.8x, target 0.6x;
- prepare_wallet_message(prepared bracket, "offchain"): PyNaCl sign of the
  envelope's length; target <= 0.3x;
- finalize_wallet_message: PyNaCl verify of the envelope; target <= 1.2x;
- py_prepare_order_group of 16,000 orders (a 672 KB message, which the
  prepared dict also carries in base58): Signer.sign_group of the same orders;
  target <= 4x;
- py_prepare_order of an order with a 200,000-character symbol: PyNaCl sign
  of a message of the prepared length (linear in it);
- reading back "actions" of 100,000 small lists under 5,000 levels (the
  cycle check of every open container): json.dumps of the same value;
  target <= 4x (the reader builds two copies where the dumping writes text)."""

import json
import sys
import time

import base58
import nacl.signing

import _native
from benchlib import interleaved, interleaved_wall, print_table

ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 50000.5, "size": 0.25}


def against_sign_and_verify(title, wallet, message, prepare, finalize, targets):
    """Times prepare() against a PyNaCl signature of `message` and finalize()
    against a PyNaCl verification of it; prints both ratios with their targets."""
    signed = wallet.sign(message)
    verify_key = wallet.verify_key
    prepare_name, finalize_name = prepare.__name__, finalize.__name__
    names = [f"floor: PyNaCl sign, {len(message)} bytes", prepare_name,
             f"floor: PyNaCl verify, {len(message)} bytes", finalize_name]
    fns = [lambda: wallet.sign(message), prepare, lambda: verify_key.verify(message, signed.signature), finalize]
    best = interleaved(dict(zip(names, fns)))
    rows = [(name, best[name]) for name in names]
    print_table(title, rows[0][0], rows)
    ratios = (rows[1][1] / rows[0][1], rows[3][1] / rows[2][1])
    print(f"  {prepare_name} / PyNaCl sign = {ratios[0]:.3f}  (target <= {targets[0]})")
    print(f"  {finalize_name} / PyNaCl verify = {ratios[1]:.3f}  (target <= {targets[1]})")
    return ratios


def single(wallet, account):
    prepared = _native.py_prepare_order(ORDER, "mainnet", account, nonce=1)
    signature = base58.b58encode(wallet.sign(prepared["message_bytes"]).signature).decode()

    def py_prepare_order():
        return _native.py_prepare_order(ORDER, "mainnet", account, nonce=1)

    def py_finalize_transaction():
        return _native.py_finalize_transaction(prepared, signature)

    return against_sign_and_verify("Preparing and finalising one order", wallet, prepared["message_bytes"],
                                   py_prepare_order, py_finalize_transaction, (0.25, 1.15))


def batch(account, n=10_000, rounds=20, warm_up=8):
    orders = [dict(ORDER, price=50000.0 + i % 100) for i in range(n)]
    one_by_one = orders[:1000]
    # Untimed: the pool starts, and a fresh process's first page faults (each
    # batch's results take about 17 MB of new memory) cost up to a third more
    # for the first several rounds on these machines.
    for _ in range(warm_up):
        _native.py_prepare_all_orders(orders, "mainnet", account)
    best_batch = best_single = float("inf")
    for _ in range(rounds):  # alternate, so both see the same machine load
        t = time.perf_counter()
        _native.py_prepare_all_orders(orders, "mainnet", account)
        best_batch = min(best_batch, (time.perf_counter() - t) / n)
        t = time.perf_counter()
        for o in one_by_one:
            _native.py_prepare_order(o, "mainnet", account)
        best_single = min(best_single, (time.perf_counter() - t) / len(one_by_one))
    ratio = best_batch / best_single
    print(f"\npy_prepare_all_orders of {n:,} orders")
    print(f"  {best_batch * 1e9:10.1f} ns per order   floor: one py_prepare_order call {best_single * 1e9:10.1f} ns")
    print(f"  ratio {ratio:.2f}  (bar <= 0.8, target 0.6)")
    return ratio


BRACKET = [
    ORDER,
    {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 48000.0},
    {"type": "take_profit", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 53000.0},
]


def wallet_modes(wallet, account):
    prepared = _native.py_prepare_order_group(BRACKET, "mainnet", account, nonce=1)
    message = _native.prepare_wallet_message(prepared, "offchain")
    signature = base58.b58encode(wallet.sign(message["message_bytes"]).signature).decode()

    def prepare_wallet_message():
        return _native.prepare_wallet_message(prepared, "offchain")

    def finalize_wallet_message():
        return _native.finalize_wallet_message(message, signature)

    return against_sign_and_verify("Off-chain wallet message of a three-order bracket", wallet,
                                   message["message_bytes"], prepare_wallet_message, finalize_wallet_message,
                                   (0.3, 1.2))


def long_messages(wallet, account, n=16_000):
    signer = _native.Signer(_native.Keypair(bytes(wallet)), "mainnet")
    orders = [dict(ORDER, price=50000.0 + i % 100) for i in range(n)]
    best = interleaved_wall({"sign_group": lambda: signer.sign_group(orders, nonce=1),
                             "py_prepare_order_group": lambda: _native.py_prepare_order_group(
                                 orders, "mainnet", account, nonce=1)}, rounds=5)
    group_ratio = best["py_prepare_order_group"] / best["sign_group"]
    print(f"\npy_prepare_order_group of {n:,} orders (floor: sign_group of the same orders)")
    print(f"  {best['py_prepare_order_group'] * 1e3:10.1f} ms   floor {best['sign_group'] * 1e3:10.1f} ms"
          f"   ratio {group_ratio:.2f}  (target <= 4)")
    # On a busy machine the wall clock mostly measures waiting for a core: the
    # CPU time of the calling thread (which bounds the wall time on idle
    # cores) and of all threads tell the work itself.
    cpu = {}
    for name, fn in (("sign_group", lambda: signer.sign_group(orders, nonce=1)),
                     ("prepare", lambda: _native.py_prepare_order_group(orders, "mainnet", account, nonce=1))):
        runs = []
        for _ in range(5):
            thread, process = time.thread_time(), time.process_time()
            fn()
            runs.append((time.thread_time() - thread, time.process_time() - process))
        cpu[name] = (min(r[0] for r in runs), min(r[1] for r in runs))
    print(f"  CPU time ratios: calling thread {cpu['prepare'][0] / cpu['sign_group'][0]:.2f}, "
          f"all threads {cpu['prepare'][1] / cpu['sign_group'][1]:.2f}")

    order = dict(ORDER, symbol="X" * 200_000)
    message = _native.py_prepare_order(order, "mainnet", account, nonce=1)["message_bytes"]
    best = interleaved_wall({"PyNaCl sign": lambda: wallet.sign(message),
                             "py_prepare_order": lambda: _native.py_prepare_order(order, "mainnet", account, nonce=1)},
                            rounds=5)
    symbol_ratio = best["py_prepare_order"] / best["PyNaCl sign"]
    print(f"\npy_prepare_order with a 200,000-character symbol ({len(message):,}-byte message)")
    print(f"  {best['py_prepare_order'] * 1e3:10.2f} ms   floor: PyNaCl sign of the message "
          f"{best['PyNaCl sign'] * 1e3:8.2f} ms   ratio {symbol_ratio:.1f}")
    return group_ratio, symbol_ratio


def deep_read(account, rounds=5):
    """py_finalize_transaction reading back deeply nested actions (its signature
    is refused only after the read) against json.dumps of the same value. The
    reader also builds the JSON model and the Python copy it hands back, so
    it cannot match the dumping; what matters is that depth does not
    multiply its cost (the cycle check)."""
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(max(limit, 10_000))  # the dumping recurses once per level
    try:
        for depth in (5_000, 1_000):  # interpreters from 3.12 cap the dumping's own C recursion lower
            actions = [[i] for i in range(100_000)]
            for _ in range(depth - 2):
                actions = [actions]
            try:
                json.dumps(actions)
                break
            except RecursionError:
                continue
        prepared = _native.py_prepare_order(ORDER, "mainnet", account, nonce=1)
        prepared["actions"] = actions
        too_long = "1" * 89

        def read_back():
            try:
                _native.py_finalize_transaction(prepared, too_long)
            except ValueError:
                pass

        best = {"json.dumps": float("inf"), "read back": float("inf")}
        for _ in range(rounds):
            for name, fn in (("json.dumps", lambda: json.dumps(actions)), ("read back", read_back)):
                t = time.perf_counter()
                fn()
                best[name] = min(best[name], time.perf_counter() - t)
    finally:
        sys.setrecursionlimit(limit)
    ratio = best["read back"] / best["json.dumps"]
    print(f"\nactions of 100,000 small lists under {depth:,} levels, read back")
    print(f"  {best['read back'] * 1e3:8.1f} ms   floor: json.dumps {best['json.dumps'] * 1e3:8.1f} ms")
    print(f"  ratio {ratio:.2f}  (target <= 4)")
    return ratio


def run():
    wallet = nacl.signing.SigningKey(bytes(range(32)))
    account = base58.b58encode(bytes(wallet.verify_key)).decode()
    prepare_ratio, finalize_ratio = single(wallet, account)
    batch_ratio = batch(account)
    wallet_prepare, wallet_finalize = wallet_modes(wallet, account)
    group_ratio, symbol_ratio = long_messages(wallet, account)
    deep_ratio = deep_read(account)
    return {"prepare_vs_sign": prepare_ratio, "finalize_vs_verify": finalize_ratio,
            "prepare_all_per_order": batch_ratio, "offchain_prepare_vs_sign": wallet_prepare,
            "offchain_finalize_vs_verify": wallet_finalize, "group_16k_vs_sign_group": group_ratio,
            "long_symbol_vs_sign": symbol_ratio, "deep_read_vs_dumps": deep_ratio}


if __name__ == "__main__":
    run()
