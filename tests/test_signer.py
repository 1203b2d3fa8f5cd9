"""The Signer class and the two batch entry points. Oracles: PyNaCl verifies
every signature over the bytes the preparation functions hand out (their
layouts are pinned by the C++ tests), order_id_oracle recomputes identifiers,
and the `base58` package decodes the text forms."""

import base58
import nacl.signing
import pytest

import _native as N
from _native import Keypair, Signer
from helpers import b58, raises, verify
from hostile import Number
from order_id_oracle import dict_order_id

STRATEGY_ERROR = "Invalid nonce strategy. Use 'timestamp', 'counter', or 'high_frequency'"
FEE_ERROR = "invalid order: builder-code fee must be 1..=15 bps"
DOMAIN_ERROR = "invalid signature domain 'main'; expected mainnet, testnet, or devnet"
TRIGGER_ERROR = "invalid order: trigger orders are not supported by FYRN API; use market"


def message(items, nonce, account, domain):
    return N.py_prepare_order_group(items, domain, account, nonce=nonce)["message_bytes"]


def limit(price=50000.5, size=0.25, symbol="BTC-USD", is_buy=True, **extra):
    return {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": price, "size": size, **extra}


CANCEL = {"type": "cancel", "symbol": "ETH-USD", "order_id": b58(bytes(range(32)))}
OTHER = b58(bytes([9]) * 32)
KP = Keypair(bytes([7]) * 32)


@pytest.fixture
def signer():
    return Signer(KP, "devnet")


# --- groups -----------------------------------------------------


def test_groups_and_identifier_switches(signer):
    group = [limit(), limit(60000.0, 1.0, is_buy=False), CANCEL]
    tx = signer.sign_group(group, nonce=77)
    assert verify(tx, message(group, 77, KP.pubkey, "devnet"))
    assert "order_id" not in tx and "order_ids" not in tx

    signer.set_compute_batch_order_ids(True)
    assert signer.computes_batch_order_ids() is True
    tx = signer.sign_order(group, nonce=77)  # the deprecated alias
    assert tx["order_ids"] == [dict_order_id(group[0], 77, KP.pubkey), dict_order_id(group[1], 77, KP.pubkey, 1)]
    assert "order_id" not in tx
    assert list(signer.sign_group([limit()] * 2, nonce=3)) == [
        "actions", "nonce", "account", "signer", "signature", "order_ids"]
    assert list(signer.sign_faucet(nonce=2**64 - 1)) == ["actions", "nonce", "account", "signer", "signature"]
    assert list(signer.sign_whitelist_faucet(OTHER, True, nonce=1)["actions"][0]) == ["whitelistFaucet"]

    assert "order_id" not in signer.sign(CANCEL, nonce=1)
    signer.set_compute_order_id(False)
    assert signer.computes_order_id() is False
    assert list(signer.sign(limit(), nonce=1)) == ["actions", "nonce", "account", "signer", "signature"]


# --- nonces ------------------------------------------------------------------------


def test_counter_strategy_and_explicit_nonces():
    s = Signer.with_nonce_manager(KP, "counter", "devnet")
    assert s.sign(limit(), nonce=None)["nonce"] == 0
    assert s.sign(limit(), nonce=500)["nonce"] == 500
    raises(ValueError, "Missing 'price'", s.sign, {"type": "order", "symbol": "BTC-USD", "is_buy": True, "size": 1.0})
    raises(ValueError, FEE_ERROR, s.sign_approve_builder_code, OTHER, 16)
    assert s.sign_faucet()["nonce"] == 1  # neither the explicit nonce nor the failed parses used one
    raises(ValueError, "orders array cannot be empty", s.sign_group, [])  # fails while encoding: its nonce is spent
    assert s.sign_group([limit()])["nonce"] == 3

    before = N.current_timestamp()
    txs = s.sign_all([limit()] * 3)
    base = txs[0]["nonce"]
    assert before < base < N.current_timestamp()
    assert [t["nonce"] for t in txs] == [base, base + 1, base + 2]
    assert s.sign(limit())["nonce"] == 4  # the batch did not touch the counter


@pytest.mark.parametrize("strategy", ["timestamp", "high_frequency", None])
def test_clock_strategies_are_increasing_and_not_behind_the_clock(strategy):
    s = Signer(KP, "devnet") if strategy is None else Signer.with_nonce_manager(KP, strategy, "devnet")
    last = 0
    for _ in range(100):
        floor = N.current_timestamp()
        n = s.sign_faucet()["nonce"]
        assert n > floor and n > last
        last = n


def test_with_nonce_manager_checks_strategy_before_network():
    raises(ValueError, STRATEGY_ERROR, Signer.with_nonce_manager, KP, "Counter", "main")
    raises(ValueError, DOMAIN_ERROR, Signer.with_nonce_manager, KP, "counter", "main")


# --- batches: Signer.sign_all and py_prepare_all_orders ------------------------------

SIGNER = Signer(KP, "devnet")
BATCH = {
    "sign_all": (lambda orders, base: SIGNER.sign_all(orders, base_nonce=base),
                 lambda o, nonce: SIGNER.sign(o, nonce=nonce)),
    "py_prepare_all_orders": (lambda orders, base: N.py_prepare_all_orders(orders, "devnet", KP.pubkey, signer=OTHER,
                                                                           base_nonce=base),
                              lambda o, nonce: N.py_prepare_order(o, "devnet", KP.pubkey, signer=OTHER, nonce=nonce)),
}


@pytest.mark.parametrize("name", BATCH)
@pytest.mark.parametrize("n", [9, 10, 300])  # sequential, parallel, several streamed chunks
def test_batches_match_one_by_one(name, n):
    batch, one = BATCH[name]
    # Symbols that repeat, change, extend one another and run long: a batch shares equal texts only.
    symbols = ("BTC-USD", "BTC-USD", "BTC-USDT", "ETH-USD", "ETH-USD", "X" * 40, "X" * 40)
    orders = [limit(50000.0 + (i % 3), 1.0 + i, symbol=symbols[i % 7], is_buy=i % 2 == 0) for i in range(n)]
    got = batch(orders, 1000)
    assert [list(x.items()) for x in got] == [list(one(o, 1000 + i).items()) for i, o in enumerate(orders)]
    assert [x["nonce"] for x in got] == list(range(1000, 1000 + n))
    if name == "sign_all":
        prepared = BATCH["py_prepare_all_orders"][0](orders, 1000)
        assert all(verify(tx, p["message_bytes"]) for tx, p in zip(got, prepared))
        assert [tx["order_id"] for tx in got] == [dict_order_id(o, 1000 + i, KP.pubkey) for i, o in enumerate(orders)]
    assert batch([], 2**64 - 1) == []
    # base + i must not wrap around to nonces already used.
    assert batch([limit()] * n, 2**64 - n)[-1]["nonce"] == 2**64 - 1
    for base in (2**64 - n + 1, 2**64 - 1):
        raises(ValueError, f"invalid nonce '{base + n - 1}'; expected an unsigned 64-bit decimal string",
               batch, [limit()] * n, base)


@pytest.mark.parametrize("n", [9, 20])
@pytest.mark.parametrize("bad, exc, text", [
    ({"type": "order", "symbol": "BTC-USD", "is_buy": True, "size": 1.0}, ValueError, "Missing 'price'"),
    ("not a dict", TypeError, "'str' object cannot be converted to 'PyDict'"),
    # These parse, then fail while encoding (on a worker in the parallel case).
    (limit(order_type={"type": "trigger", "is_market": False}), ValueError, TRIGGER_ERROR),
    (limit(slippage=0.1), ValueError, "invalid order: slippage is only supported on market orders"),
])
def test_one_bad_order_fails_the_whole_batch(n, bad, exc, text):
    calls = [lambda orders: SIGNER.sign_all(orders, base_nonce=5),
             lambda orders: N.py_prepare_all_orders(orders, "devnet", KP.pubkey, base_nonce=5),
             lambda orders: SIGNER.sign_orders_batch([[limit(), o] for o in orders], base_nonce=5)]
    orders = [limit()] * n
    orders[3] = bad
    for call in calls:
        raises(exc, text, call, orders)


def test_sign_orders_batch_shapes(signer):
    signer.set_compute_batch_order_ids(True)
    a, b, c = limit(), limit(1.0, 2.0), limit(3.0, 4.0, is_buy=False)
    txs = signer.sign_orders_batch([[a, b], [c]], base_nonce=50)
    assert [t["nonce"] for t in txs] == [50, 51]
    assert verify(txs[0], message([a, b], 50, KP.pubkey, "devnet"))
    assert list(txs[0].items()) == list(signer.sign_group([a, b], nonce=50).items())
    assert txs[1]["order_id"] == dict_order_id(c, 51, KP.pubkey)
    raises(ValueError, "orders array cannot be empty", signer.sign_orders_batch, [[a], []])
    assert signer.sign_orders_batch([]) == []


# --- constructors, other actions ---------------------------------------------------


def test_constructors_repr_and_sign_bytes():
    assert repr(Signer(KP, "devnet")) == str(Signer(KP, "devnet")) == f"Signer(pubkey='{KP.pubkey}')"
    assert Signer.from_base58(KP.to_base58(), "testnet").pubkey == KP.pubkey
    assert Signer.from_base58(b58(KP.secret_key()), signature_domain="mainnet").pubkey == KP.pubkey
    raises(TypeError, "argument 'keypair': 'str' object cannot be converted to 'Keypair'", Signer, "x", "devnet")
    raises(ValueError, DOMAIN_ERROR, Signer, KP, "main")
    raises(ValueError, "invalid base58*", Signer.from_base58, "0", "main")  # the key is parsed before the network
    signer = Signer(KP, "devnet")
    for msg in [b"", b"hello", bytes(range(256))]:
        sig = signer.sign_bytes(msg)
        assert sig == signer.sign_bytes(message=msg)
        nacl.signing.VerifyKey(base58.b58decode(KP.pubkey)).verify(msg, base58.b58decode(sig))


# --- borrow state, reached through callbacks during argument conversion --------------


@pytest.mark.parametrize("outer, inner, error", [
    # exclusive held, exclusive requested
    (lambda s, cb: s.sign(limit(), nonce=cb), lambda s: s.sign_faucet(nonce=1), "Already borrowed"),
    (lambda s, cb: s.sign(limit(price=cb)), lambda s: s.set_compute_order_id(True), "Already borrowed"),
    # exclusive held, shared requested
    (lambda s, cb: s.sign_faucet(nonce=cb), lambda s: s.pubkey, "Already mutably borrowed"),
    (lambda s, cb: s.sign_group([limit(size=cb)]), lambda s: s.sign_all([limit()]), "Already mutably borrowed"),
    (lambda s, cb: s.sign_transfer(OTHER, OTHER, cb), lambda s: repr(s), "Already mutably borrowed"),
    # shared held, exclusive requested
    (lambda s, cb: s.sign_all([limit()], base_nonce=cb), lambda s: s.sign(limit(), nonce=1), "Already borrowed"),
    (lambda s, cb: s.sign_orders_batch([[limit(price=cb)]]), lambda s: s.set_compute_batch_order_ids(True),
     "Already borrowed"),
])
def test_reentrant_calls_hit_the_borrow_state(signer, outer, inner, error):
    raises(RuntimeError, error, outer, signer, Number(1, lambda: inner(signer)))
    # Every use was released on the way out.
    signer.set_compute_order_id(True)
    assert signer.sign(limit(), nonce=2)["nonce"] == 2


def test_shared_uses_nest(signer):
    cb = Number(10, lambda: (signer.pubkey, signer.computes_order_id(), signer.sign_bytes(b"x")))
    txs = signer.sign_all([limit()] * 12, base_nonce=cb)
    assert cb.seen[0] == KP.pubkey
    assert [t["nonce"] for t in txs] == list(range(10, 22))
