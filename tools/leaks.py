"""Leak check: every entry point of _native, on success and error paths.

    python tools/leaks.py [--count N] [--only SUBSTRING]

Each case is called N times (default 10^5) after a warm-up of N/20 calls; the
resident set size (/proc/self/statm), sys.getallocatedblocks() and the number
of objects the garbage collector tracks are read before and after (after a
full collection). Flat means: for every case, allocated blocks and tracked
objects grow by fewer than 1000 and resident memory by less than 1 MiB (a
native leak of 11 bytes per call is 1.1 MB over 10^5 calls), and resident
memory grows by less than 4 MiB over the whole run (the allocator keeps some
pages). Exit status 1 when any case is not flat.
"""

import argparse
import gc
import os
import sys
import time

import _native as N

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))
from surface import ENTRY_POINTS, METHODS  # noqa: E402

PAGE = os.sysconf("SC_PAGE_SIZE")
MIB = 1 << 20


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def snapshot():
    gc.collect()
    return rss(), sys.getallocatedblocks(), len(gc.get_objects())


class Boom(Exception):
    pass


class RaisingFloat:
    def __float__(self):
        raise Boom("float")


SEED = bytes(range(1, 33))
KP = N.Keypair(SEED)
ACCOUNT = KP.pubkey
KP58 = KP.to_base58()
OTHER = N.Keypair(bytes([9]) * 32).pubkey
HASH = N.random_hash()
SIGNER = N.Signer(KP, "devnet")
SIGNER_IDS = N.Signer.with_nonce_manager(KP, "counter", "testnet")
SIGNER_IDS.set_compute_order_id(True)
SIGNER_IDS.set_compute_batch_order_ids(True)

ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.5, "size": 0.25,
         "client_id": HASH, "builder_code": {"to": OTHER, "fee": 3}}
STOP = {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 60000.0}
ON_FILL = {**ORDER, "on_fill": {"actions": [{"type": "tp", "symbol": "BTC-USD", "is_buy": False, "size": 0.25,
                                             "trigger_price": 70000.0}]}}
BAD_ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "size": 1.0}  # no price
HOOK_ORDER = {**ORDER, "price": RaisingFloat()}
ORDERS3 = [ORDER, STOP, ORDER]
ORDERS12 = [ORDER] * 12
LIQ = {"instruments": [{"symbol": "BTC-USD", "max_exposure": 3, "volume_rampup": 7.0}], "toxicity": 0.5}
PREPARED = N.py_prepare_order_group([ORDER, STOP], "devnet", ACCOUNT, nonce=77)
PREPARED_SIG = SIGNER.sign_bytes(PREPARED["message_bytes"])
WALLET = N.prepare_wallet_message(PREPARED, "offchain")
WALLET_SIG = SIGNER.sign_bytes(WALLET["message_bytes"])
EDITED = {**PREPARED, "nonce": 78}
BLOCKHASH = N.random_hash()

# (name, callable); error cases end in "!" and must raise.
CASES = [
    ("Keypair()", lambda: N.Keypair()),
    ("Keypair(seed)", lambda: N.Keypair(SEED)),
    ("Keypair(33 bytes)!", lambda: N.Keypair(SEED + b"\0")),
    ("Keypair.from_base58", lambda: N.Keypair.from_base58(KP58)),
    ("Keypair.from_base58 bad!", lambda: N.Keypair.from_base58("0" + KP58[1:])),
    ("Keypair.from_bytes", lambda: N.Keypair.from_bytes(KP.to_bytes())),
    ("Keypair.from_bytes mismatch!", lambda: N.Keypair.from_bytes(SEED + bytes(32))),
    ("Keypair accessors", lambda: (KP.pubkey, KP.to_base58(), KP.to_bytes(), KP.secret_key(), repr(KP))),
    ("Signer()", lambda: N.Signer(KP, "devnet")),
    ("Signer() bad network!", lambda: N.Signer(KP, "moon")),
    ("Signer.from_base58", lambda: N.Signer.from_base58(KP58, "mainnet")),
    ("Signer.from_base58 bad!", lambda: N.Signer.from_base58("x", "mainnet")),
    ("Signer.with_nonce_manager", lambda: N.Signer.with_nonce_manager(KP, "counter", "devnet")),
    ("Signer.with_nonce_manager bad!", lambda: N.Signer.with_nonce_manager(KP, "sometimes", "devnet")),
    ("Signer accessors", lambda: (SIGNER.pubkey, SIGNER.computes_order_id(), SIGNER.computes_batch_order_ids(),
                                  SIGNER.set_compute_order_id(False), SIGNER.set_compute_batch_order_ids(False),
                                  repr(SIGNER))),
    ("sign_bytes", lambda: SIGNER.sign_bytes(b"hello" * 20)),
    ("sign_bytes bad!", lambda: SIGNER.sign_bytes("text")),
    ("sign", lambda: SIGNER_IDS.sign(ORDER)),
    ("sign on_fill", lambda: SIGNER.sign(ON_FILL, 5)),
    ("sign bad!", lambda: SIGNER.sign(BAD_ORDER)),
    ("sign hook!", lambda: SIGNER.sign(HOOK_ORDER)),
    ("sign_all 3", lambda: SIGNER_IDS.sign_all(ORDERS3)),
    ("sign_all 12 (pool)", lambda: SIGNER.sign_all(ORDERS12, 1)),
    ("sign_all bad!", lambda: SIGNER.sign_all([ORDER, BAD_ORDER])),
    ("sign_group", lambda: SIGNER_IDS.sign_group(ORDERS3, 9)),
    ("sign_group bad!", lambda: SIGNER.sign_group([])),
    ("sign_order", lambda: SIGNER.sign_order([ORDER])),
    ("sign_orders_batch", lambda: SIGNER.sign_orders_batch([[ORDER], [STOP, ORDER]], 3)),
    ("sign_orders_batch bad!", lambda: SIGNER.sign_orders_batch([[ORDER], "x"])),
    ("sign_faucet", lambda: SIGNER.sign_faucet(1)),
    ("sign_agent_wallet", lambda: SIGNER.sign_agent_wallet(OTHER, False)),
    ("sign_agent_wallet bad!", lambda: SIGNER.sign_agent_wallet("short", True)),
    ("sign_approve_builder_code", lambda: SIGNER.sign_approve_builder_code(OTHER, 5)),
    ("sign_approve_builder_code bad!", lambda: SIGNER.sign_approve_builder_code(OTHER, 16)),
    ("sign_approve_commission_fee", lambda: SIGNER.sign_approve_commission_fee(OTHER, 5)),
    ("sign_revoke_builder_code", lambda: SIGNER.sign_revoke_builder_code(OTHER)),
    ("sign_revoke_commission_fee bad!", lambda: SIGNER.sign_revoke_commission_fee(None)),
    ("sign_user_settings", lambda: SIGNER.sign_user_settings([("BTC-USD", 5.0), ("ETH-USD", 3.0)])),
    ("sign_user_settings bad!", lambda: SIGNER.sign_user_settings([("BTC-USD", "x")])),
    ("sign_update_liquidator_config", lambda: SIGNER.sign_update_liquidator_config(LIQ)),
    ("sign_update_liquidator_config bad!", lambda: SIGNER.sign_update_liquidator_config({"instruments": [{}]})),
    ("sign_oracle_prices", lambda: SIGNER.sign_oracle_prices([(1, "BTC-USD", 1.5), (2, "ETH-USD", 2.5)])),
    ("sign_oracle_prices bad!", lambda: SIGNER.sign_oracle_prices([(1, "BTC-USD")])),
    ("sign_pyth_oracle", lambda: SIGNER.sign_pyth_oracle([(1, 2, 3, 4)])),
    ("sign_pyth_oracle bad!", lambda: SIGNER.sign_pyth_oracle([(1, 2, 3, 2**70)])),
    ("sign_remove_sub_account", lambda: SIGNER.sign_remove_sub_account(OTHER)),
    ("sign_transfer", lambda: SIGNER.sign_transfer(ACCOUNT, OTHER, 1.5, "external")),
    ("sign_transfer bad!", lambda: SIGNER.sign_transfer(ACCOUNT, OTHER, 1.5, "sideways")),
    ("sign_create_sub_account", lambda: SIGNER.sign_create_sub_account("desk", 2.0)),
    ("sign_whitelist_faucet", lambda: SIGNER.sign_whitelist_faucet(OTHER, True)),
    ("sign_prepared", lambda: SIGNER.sign_prepared(PREPARED)),
    ("sign_prepared bad!", lambda: SIGNER.sign_prepared(EDITED)),
    ("sign_wallet_prepared", lambda: SIGNER.sign_wallet_prepared(WALLET)),
    ("sign_wallet_prepared bad!", lambda: SIGNER.sign_wallet_prepared({**WALLET, "signature_mode": "raw"})),
    ("random_hash/current_timestamp", lambda: (N.random_hash(), N.current_timestamp())),
    ("validate_pubkey/hash", lambda: (N.validate_pubkey(ACCOUNT), N.validate_pubkey("0"), N.validate_hash(HASH))),
    ("validate_pubkey bad!", lambda: N.validate_pubkey(5)),
    ("compute_order_id", lambda: N.compute_order_id(b"x" * 100)),
    ("compute_order_id bad!", lambda: N.compute_order_id("x")),
    ("compute_order_id_from_order", lambda: N.compute_order_id_from_order(ORDER, 5, ACCOUNT)),
    ("compute_order_id_from_order bad!", lambda: N.compute_order_id_from_order(BAD_ORDER, 5, ACCOUNT)),
    ("py_prepare_order", lambda: N.py_prepare_order(ON_FILL, "devnet", ACCOUNT, OTHER, 5)),
    ("py_prepare_order bad!", lambda: N.py_prepare_order(HOOK_ORDER, "devnet", ACCOUNT)),
    ("py_prepare_all_orders 3", lambda: N.py_prepare_all_orders(ORDERS3, "devnet", ACCOUNT)),
    ("py_prepare_all_orders 12 (pool)", lambda: N.py_prepare_all_orders(ORDERS12, "mainnet", ACCOUNT, None, 1)),
    ("py_prepare_all_orders bad!", lambda: N.py_prepare_all_orders([ORDER] * 11 + [BAD_ORDER], "devnet", ACCOUNT)),
    ("py_prepare_order_group", lambda: N.py_prepare_order_group(ORDERS3, "testnet", ACCOUNT)),
    ("py_prepare_order_group bad!", lambda: N.py_prepare_order_group(ORDERS3, "moon", ACCOUNT)),
    ("py_prepare_agent_wallet_auth", lambda: N.py_prepare_agent_wallet_auth(OTHER, True, "devnet", ACCOUNT)),
    ("py_prepare_approve_builder_code", lambda: N.py_prepare_approve_builder_code(OTHER, 2, "devnet", ACCOUNT)),
    ("py_prepare_approve_commission_fee bad!",
     lambda: N.py_prepare_approve_commission_fee(OTHER, 0, "devnet", ACCOUNT)),
    ("py_prepare_update_liquidator_config", lambda: N.py_prepare_update_liquidator_config(LIQ, "devnet", ACCOUNT)),
    ("py_prepare_revoke_builder_code", lambda: N.py_prepare_revoke_builder_code(OTHER, "devnet", ACCOUNT)),
    ("py_prepare_revoke_commission_fee", lambda: N.py_prepare_revoke_commission_fee(OTHER, "devnet", ACCOUNT)),
    ("py_prepare_faucet_request", lambda: N.py_prepare_faucet_request("testnet", ACCOUNT, OTHER, 4)),
    ("py_prepare_create_sub_account", lambda: N.py_prepare_create_sub_account("desk", "devnet", ACCOUNT, 1.0)),
    ("py_prepare_remove_sub_account", lambda: N.py_prepare_remove_sub_account(OTHER, "devnet", ACCOUNT)),
    ("py_prepare_transfer", lambda: N.py_prepare_transfer(ACCOUNT, OTHER, 2.0, "devnet", ACCOUNT, "internal")),
    ("py_prepare_transfer bad!", lambda: N.py_prepare_transfer(ACCOUNT, OTHER, 2.0, "devnet", ACCOUNT, "x")),
    ("py_finalize_transaction", lambda: N.py_finalize_transaction(PREPARED, PREPARED_SIG)),
    ("py_finalize_transaction bad!", lambda: N.py_finalize_transaction(EDITED, PREPARED_SIG)),
    ("prepare_wallet_message", lambda: N.prepare_wallet_message(PREPARED, "offchain")),
    ("prepare_wallet_message bad!", lambda: N.prepare_wallet_message(PREPARED, "smoke")),
    ("finalize_wallet_message", lambda: N.finalize_wallet_message(WALLET, WALLET_SIG)),
    ("finalize_wallet_message bad!", lambda: N.finalize_wallet_message(WALLET, PREPARED_SIG)),
    ("build_deposit_instruction", lambda: N.build_deposit_instruction(ACCOUNT, 10**6)),
    ("build_withdraw_intent_instruction bad!", lambda: N.build_withdraw_intent_instruction(ACCOUNT, -1)),
    ("export_deposit_transaction", lambda: N.export_deposit_transaction(ACCOUNT, 10**6, BLOCKHASH)),
    ("export_withdraw_intent_transaction", lambda: N.export_withdraw_intent_transaction(ACCOUNT, 5, BLOCKHASH)),
    ("export_withdraw_intent_transaction bad!", lambda: N.export_withdraw_intent_transaction(ACCOUNT, 5, "0")),
    ("bind: unknown keyword!", lambda: N.py_prepare_order(ORDER, "devnet", ACCOUNT, colour="red")),
    ("bind: too many arguments!", lambda: SIGNER.sign(ORDER, 1, 2)),
]


def run(fn, n, must_raise):
    raised = 0
    for _ in range(n):
        try:
            fn()
        except (ValueError, TypeError, OverflowError, RuntimeError, Boom):
            raised += 1
    if must_raise and raised != n:
        raise SystemExit(f"expected every call to raise, {raised} of {n} did")
    if not must_raise and raised:
        raise SystemExit(f"expected success, {raised} of {n} raised")


def uncovered(cases):
    """Public functions and methods of _native that no case calls (seen as C calls)."""
    called = set()

    def profile(frame, event, arg):
        if event == "c_call":
            owner = getattr(arg, "__self__", None)
            prefix = type(owner).__name__ + "." if isinstance(owner, (N.Keypair, N.Signer)) else ""
            if owner is N or prefix:
                called.add(prefix + arg.__name__)
            elif owner is None:  # static methods
                called.add(arg.__qualname__)

    sys.setprofile(profile)
    try:
        for _, fn in cases:
            try:
                fn()
            except (ValueError, TypeError, OverflowError, RuntimeError, Boom):
                pass
    finally:
        sys.setprofile(None)
    # Classes are called through their methods' cases; properties are no calls.
    def resolve(name):
        obj = N
        for part in name.split("."):
            obj = getattr(obj, part)
        return obj

    public = {name for name in ENTRY_POINTS if name not in METHODS and callable(resolve(name))}
    return sorted(public - called)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=100_000)
    ap.add_argument("--only")
    args = ap.parse_args()
    cases = [c for c in CASES if not args.only or args.only in c[0]]
    if not args.only and (missing := uncovered(cases)):
        raise SystemExit(f"entry points without a case: {missing}")
    print(f"{len(cases)} cases x {args.count} calls; rss in KiB, blocks, gc objects (after - before)")
    # Warm-up: free lists, interned strings, the worker pool, lazily built tables.
    for _, fn in cases:
        for _ in range(max(1, args.count // 20)):
            try:
                fn()
            except (ValueError, TypeError, OverflowError, RuntimeError, Boom):
                pass
    start_rss, start_blocks, start_objs = snapshot()
    bad = []
    t0 = time.monotonic()
    for name, fn in cases:
        r0, b0, o0 = snapshot()
        run(fn, args.count, name.endswith("!"))
        r1, b1, o1 = snapshot()
        dr, db, do = r1 - r0, b1 - b0, o1 - o0
        flat = db < 1000 and do < 1000 and dr < MIB
        print(f"{'ok ' if flat else 'BAD'} {name:42} rss {dr // 1024:+7d}  blocks {db:+6d}  objects {do:+6d}",
              flush=True)
        if not flat:
            bad.append(name)
    end_rss, end_blocks, end_objs = snapshot()
    total_rss = end_rss - start_rss
    print(f"total: {len(cases) * args.count} calls in {time.monotonic() - t0:.0f} s; "
          f"rss {start_rss // 1024} -> {end_rss // 1024} KiB ({total_rss // 1024:+d}), "
          f"blocks {start_blocks} -> {end_blocks} ({end_blocks - start_blocks:+d}), "
          f"gc objects {start_objs} -> {end_objs} ({end_objs - start_objs:+d})")
    if total_rss >= 4 * MIB:
        bad.append("total rss")
    print("leaks: flat" if not bad else f"leaks: NOT flat: {bad}")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
