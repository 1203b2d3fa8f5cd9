"""The Signer class. Oracles: PyNaCl verifies every signature over message bytes
rebuilt here from the documented layout, hashlib recomputes order identifiers,
and the `base58` package decodes the text forms."""

import hashlib
import math
import struct
import subprocess
import sys
import textwrap

import base58
import nacl.exceptions
import nacl.signing
import pytest

import _native
from _native import Keypair, Signer

DOMAIN_BYTE = {"mainnet": 1, "testnet": 2, "devnet": 3}
TIF = {"GTC": 0, "IOC": 1, "ALO": 2}
STRATEGY_ERROR = "Invalid nonce strategy. Use 'timestamp', 'counter', or 'high_frequency'"
FEE_ERROR = "invalid order: builder-code fee must be 1..=15 bps"
DOMAIN_ERROR = "invalid signature domain 'main'; expected mainnet, testnet, or devnet"

# --- an independent builder for the signed bytes of limit orders and cancels


def u64(n):
    return struct.pack("<Q", n)


def string(s):
    return u64(len(s.encode())) + s.encode()


def fx(x):
    whole = math.floor(x * 1e8)
    return u64(min(whole + (x * 1e8 - whole >= 0.5), 2**64 - 1))


def limit_encoding(o):
    tif = TIF[o.get("order_type", {}).get("tif", "GTC").upper()]
    return (struct.pack("<I", 1) + string(o["symbol"]) + bytes([o["is_buy"]]) + fx(o["price"]) + fx(o["size"])
            + struct.pack("<I", tif) + bytes([o.get("reduce_only", False), o.get("iso", False)]))


def message(items, nonce, account, domain):
    body = b"".join(limit_encoding(o) if o["type"] == "order"
                    else struct.pack("<I", 3) + string(o["symbol"]) + base58.b58decode(o["order_id"])
                    for o in items)
    return u64(len(items)) + body + u64(nonce) + base58.b58decode(account) + bytes([DOMAIN_BYTE[domain]])


def order_id(o, seqno, nonce, account):
    pre = struct.pack("<I", seqno) + limit_encoding(o) + base58.b58decode(account) + u64(nonce)
    return base58.b58encode(hashlib.sha256(pre).digest()).decode()


def verify(tx, msg):
    """PyNaCl strict verify of tx's signature over msg, by tx's signer key."""
    try:
        nacl.signing.VerifyKey(base58.b58decode(tx["signer"])).verify(msg, base58.b58decode(tx["signature"]))
        return True
    except nacl.exceptions.BadSignatureError:
        return False


def limit(price=50000.5, size=0.25, symbol="BTC-USD", is_buy=True, **extra):
    return {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": price, "size": size, **extra}


CANCEL = {"type": "cancel", "symbol": "ETH-USD", "order_id": base58.b58encode(bytes(range(32))).decode()}
OTHER = base58.b58encode(bytes([9]) * 32).decode()


@pytest.fixture
def kp():
    return Keypair(bytes([7]) * 32)


@pytest.fixture
def signer(kp):
    return Signer(kp, "devnet")


# --- single orders and groups -----------------------------------------------------


def test_builder_reproduces_the_worked_example():
    account = base58.b58encode(b"\x11" * 32).decode()
    msg = message([limit()], 1700000000000000000, account, "mainnet")
    assert msg.hex() == (
        "0100000000000000" "01000000" "0700000000000000" "4254432d555344" "01" "8040342a8c040000"
        "40787d0100000000" "00000000" "00" "00" "00002a36fe9c9717" + "11" * 32 + "01"
    )
    assert order_id(limit(), 0, 1700000000000000000, account) == "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"
    assert order_id(limit(), 1, 1700000000000000000, account) == "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"


@pytest.mark.parametrize("domain", ["mainnet", "testnet", "devnet"])
@pytest.mark.parametrize(
    "order",
    [limit(), limit(0.1, 3.0, symbol="SOL-USD", is_buy=False, reduce_only=True),
     limit(123.456789125, 1.5e-8, iso=True, order_type={"type": "limit", "tif": "alo"}),
     limit(2e11, 1.0, order_type={"type": "limit", "tif": "IOC"})],
)
def test_sign_verifies_over_rebuilt_bytes(kp, domain, order):
    s = Signer(kp, domain)
    tx = s.sign(order, nonce=123456789)
    assert list(tx) == ["actions", "nonce", "account", "signer", "signature", "order_id"] and tx["nonce"] == 123456789
    assert tx["account"] == tx["signer"] == kp.pubkey == s.pubkey
    assert verify(tx, message([order], 123456789, kp.pubkey, domain))
    other = "mainnet" if domain != "mainnet" else "devnet"
    assert not verify(tx, message([order], 123456789, kp.pubkey, other))  # the domain byte is bound in
    assert tx["order_id"] == order_id(order, 0, 123456789, kp.pubkey)
    assert tx["actions"][0]["l"]["tif"] == order.get("order_type", {}).get("tif", "GTC").upper()


def test_groups_and_identifier_switches(signer, kp):
    group = [limit(), limit(60000.0, 1.0, is_buy=False), CANCEL]
    tx = signer.sign_group(group, nonce=77)
    assert verify(tx, message(group, 77, kp.pubkey, "devnet"))
    assert [next(iter(a)) for a in tx["actions"]] == ["l", "l", "cx"]
    assert "order_id" not in tx and "order_ids" not in tx

    signer.set_compute_batch_order_ids(True)
    assert signer.computes_batch_order_ids() is True
    tx = signer.sign_order(group, nonce=77)  # the deprecated alias
    assert tx["order_ids"] == [order_id(group[0], 0, 77, kp.pubkey), order_id(group[1], 1, 77, kp.pubkey)]
    assert "order_id" not in tx
    # A cancel in front shifts the sequence numbers of the orders after it.
    tx = signer.sign_group([CANCEL, limit()], nonce=78)
    assert tx["order_ids"] == [order_id(limit(), 1, 78, kp.pubkey)]
    assert "order_ids" not in signer.sign_group([CANCEL, CANCEL], nonce=79)

    stop = {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 48000.0}
    take = dict(stop, type="take_profit", trigger_price=53000.0)
    assert [next(iter(a)) for a in signer.sign_group([limit(), stop, take])["actions"]] == ["l", "st", "tp"]

    assert "order_id" not in signer.sign(CANCEL, nonce=1)
    signer.set_compute_order_id(False)
    assert signer.computes_order_id() is False
    assert list(signer.sign(limit(), nonce=1)) == ["actions", "nonce", "account", "signer", "signature"]


# --- nonces ------------------------------------------------------------------------


def test_counter_strategy_and_explicit_nonces(kp):
    s = Signer.with_nonce_manager(kp, "counter", "devnet")
    assert s.sign(limit(), nonce=None)["nonce"] == 0
    assert s.sign(limit(), nonce=500)["nonce"] == 500
    with pytest.raises(ValueError, match="^Missing 'price'$"):
        s.sign({"type": "order", "symbol": "BTC-USD", "is_buy": True, "size": 1.0})
    with pytest.raises(ValueError, match=FEE_ERROR):
        s.sign_approve_builder_code(OTHER, 16)
    assert s.sign_faucet()["nonce"] == 1  # neither the explicit nonce nor the failed parses used one
    with pytest.raises(ValueError, match="^orders array cannot be empty$"):
        s.sign_group([])  # fails while encoding: its nonce is spent
    assert s.sign_group([limit()])["nonce"] == 3
    assert Signer.with_nonce_manager(kp, "counter", "devnet").sign(limit())["nonce"] == 0

    before = _native.current_timestamp()
    txs = s.sign_all([limit()] * 3)
    base = txs[0]["nonce"]
    assert before < base < _native.current_timestamp()
    assert [t["nonce"] for t in txs] == [base, base + 1, base + 2]
    assert s.sign(limit())["nonce"] == 4  # the batch did not touch the counter


@pytest.mark.parametrize("strategy", ["timestamp", "high_frequency", None])
def test_clock_strategies_are_increasing_and_not_behind_the_clock(kp, strategy):
    s = Signer(kp, "devnet") if strategy is None else Signer.with_nonce_manager(kp, strategy, "devnet")
    last = 0
    for _ in range(100):
        floor = _native.current_timestamp()
        n = s.sign_faucet()["nonce"]
        assert n > floor and n > last
        last = n


@pytest.mark.parametrize("strategy, domain", [("Counter", "devnet"), ("", "devnet"), ("bogus", "main"), ("counter", "main")])
def test_with_nonce_manager_checks_strategy_before_network(kp, strategy, domain):
    with pytest.raises(ValueError) as e:
        Signer.with_nonce_manager(kp, strategy, domain)
    assert str(e.value) == (STRATEGY_ERROR if strategy != "counter" else DOMAIN_ERROR)


# --- batches -----------------------------------------------------------------------


@pytest.mark.parametrize("n", [9, 10, 300])  # sequential, parallel, several streamed chunks
def test_sign_all_nonces_order_and_signatures(signer, kp, n):
    orders = [limit(50000.0 + (i % 3), 1.0) for i in range(n)]
    txs = signer.sign_all(orders, base_nonce=1000)
    assert [t["nonce"] for t in txs] == list(range(1000, 1000 + n))
    for i, (o, tx) in enumerate(zip(orders, txs)):
        assert verify(tx, message([o], 1000 + i, kp.pubkey, "devnet"))
        assert tx["order_id"] == order_id(o, 0, 1000 + i, kp.pubkey)
        assert tx == signer.sign(o, nonce=1000 + i)  # whichever mode ran


@pytest.mark.parametrize("n", [9, 20])
@pytest.mark.parametrize(
    "bad, error",
    [
        ({"type": "order", "symbol": "BTC-USD", "is_buy": True, "size": 1.0}, (ValueError, "^Missing 'price'$")),
        ("not a dict", (TypeError, "cannot be converted to 'PyDict'")),
        # Parses, then fails while signing (on a worker in the parallel case).
        (
            limit(order_type={"type": "trigger", "is_market": False}),
            (ValueError, "^invalid order: trigger orders are not supported by FYRN API; use market$"),
        ),
    ],
)
def test_a_bad_order_at_position_three_signs_nothing(signer, n, bad, error):
    orders = [limit()] * n
    orders[3] = bad
    with pytest.raises(error[0], match=error[1]):
        signer.sign_all(orders, base_nonce=5)
    batches = [[limit()]] * n
    batches[3] = [limit(), bad]
    with pytest.raises(error[0], match=error[1]):
        signer.sign_orders_batch(batches, base_nonce=5)


def test_sign_orders_batch_shapes(signer, kp):
    signer.set_compute_batch_order_ids(True)
    a, b, c = limit(), limit(1.0, 2.0), limit(3.0, 4.0, is_buy=False)
    txs = signer.sign_orders_batch([[a, b], [c]], base_nonce=50)
    assert [t["nonce"] for t in txs] == [50, 51]
    assert verify(txs[0], message([a, b], 50, kp.pubkey, "devnet"))
    assert txs[0]["order_ids"] == [order_id(a, 0, 50, kp.pubkey), order_id(b, 1, 50, kp.pubkey)]
    assert txs[1]["order_id"] == order_id(c, 0, 51, kp.pubkey)
    with pytest.raises(ValueError, match="^orders array cannot be empty$"):
        signer.sign_orders_batch([[a], []])
    assert signer.sign_all([]) == [] and signer.sign_orders_batch([]) == []


def test_batch_nonce_range_must_fit_64_bits(signer):
    # base + i must not wrap around to nonces already used.
    with pytest.raises(ValueError, match="^invalid nonce '18446744073709551616'"):
        signer.sign_all([limit()] * 3, base_nonce=2**64 - 2)
    assert signer.sign_all([limit()] * 3, base_nonce=2**64 - 3)[-1]["nonce"] == 2**64 - 1


# --- other actions, conversions and errors -------------------------------------------


@pytest.mark.parametrize(
    "call, key",
    [
        (lambda s: s.sign_faucet(nonce=1), "faucet"),
        (lambda s: s.sign_agent_wallet(OTHER, False, nonce=1), "agentWalletCreation"),
        (lambda s: s.sign_approve_builder_code(OTHER, 15, nonce=1), "abc"),
        (lambda s: s.sign_approve_commission_fee(OTHER, 1, nonce=1), "abc"),
        (lambda s: s.sign_revoke_builder_code(OTHER, nonce=1), "rbc"),
        (lambda s: s.sign_revoke_commission_fee(to_pubkey=OTHER, nonce=1), "rbc"),
        (lambda s: s.sign_user_settings([("BTC-USD", 5.0)], nonce=1), "updateUserSettings"),
        (lambda s: s.sign_update_liquidator_config({}, nonce=1), "liq"),
        (lambda s: s.sign_oracle_prices([(1, "BTC-USD", 1.5)], nonce=1), "px"),
        (lambda s: s.sign_pyth_oracle([(1, 2, 3, -8)], nonce=1), "o"),
        (lambda s: s.sign_remove_sub_account(OTHER, nonce=1), "removeSubAccount"),
        (lambda s: s.sign_transfer(OTHER, OTHER, 2.5, "external", nonce=1), "transfer"),
        (lambda s: s.sign_create_sub_account("desk", 10.0, nonce=1), "createSubAccount"),
        (lambda s: s.sign_whitelist_faucet(OTHER, True, nonce=1), "whitelistFaucet"),
    ],
)
def test_other_actions_sign_one_transaction(kp, call, key):
    tx = call(Signer(kp, "mainnet"))  # the network is compared with nothing, not even for the faucet
    assert tx["nonce"] == 1 and list(tx["actions"][0]) == [key]
    assert len(base58.b58decode(tx["signature"])) == 64


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda s: s.sign_approve_builder_code(OTHER, 0), ValueError, FEE_ERROR),
        (lambda s: s.sign_approve_builder_code(OTHER, 256), OverflowError, None),
        (lambda s: s.sign_approve_builder_code("0bad", 99), ValueError, "invalid base58: "),
        (lambda s: s.sign_user_settings([("BTC-USD", 1.0, 2.0)]), ValueError,
         "expected tuple of length 2, but got tuple of length 3"),
        (lambda s: s.sign_user_settings("BTC"), TypeError, "argument 'max_leverage': Can't extract `str` to `Vec`"),
        (lambda s: s.sign_transfer(OTHER, "0bad", 1.0, kind="Internal"), ValueError, "invalid base58: "),
        (lambda s: s.sign_transfer(OTHER, OTHER, 1.0, kind="Internal"), ValueError, "Invalid transfer kind: Internal"),
        # One-transaction methods convert the nonce first, then each argument's
        # type in parameter order (tuple sequences included), then dictionaries and
        # key texts; the order parser checks the order's type itself.
        (lambda s: s.sign({}, nonce=-1), OverflowError, None),
        (lambda s: s.sign(5, -1), OverflowError, None),
        (lambda s: s.sign([], 1), TypeError, "'list' object cannot be converted to 'PyDict'"),
        (lambda s: s.sign_all({}, base_nonce=-1), TypeError, "argument 'orders': 'dict' object cannot be converted to 'PyList'"),
        (lambda s: s.sign_group({}, nonce=-1), OverflowError, None),
        (lambda s: s.sign_user_settings("BTC", nonce=-1), OverflowError, None),
        (lambda s: s.sign_agent_wallet("0bad", True, nonce=-1), OverflowError, None),
        (lambda s: s.sign_update_liquidator_config([], nonce=-1), OverflowError, None),
        (lambda s: s.sign_bytes(bytearray(3)), TypeError,
         "argument 'message': 'bytearray' object cannot be converted to 'PyBytes'"),
    ],
)
def test_conversion_and_validation_errors(signer, call, exc, text):
    with pytest.raises(exc) as e:
        call(signer)
    if text is not None:
        assert str(e.value).startswith(text)


def test_constructors_repr_and_sign_bytes(kp):
    assert repr(Signer(kp, "devnet")) == str(Signer(kp, "devnet")) == f"Signer(pubkey='{kp.pubkey}')"
    assert Signer.from_base58(kp.to_base58(), "testnet").pubkey == kp.pubkey
    assert Signer.from_base58(base58.b58encode(kp.secret_key()).decode(), signature_domain="mainnet").pubkey == kp.pubkey
    with pytest.raises(TypeError, match="^argument 'keypair': 'str' object cannot be converted to 'Keypair'$"):
        Signer("x", "devnet")
    with pytest.raises(ValueError, match=f"^{DOMAIN_ERROR}$"):
        Signer(kp, "main")
    with pytest.raises(ValueError, match="^invalid base58"):
        Signer.from_base58("0", "main")  # the key is parsed before the network
    assert Signer.__text_signature__ == "(keypair, signature_domain)"
    signer = Signer(kp, "devnet")
    for msg in [b"", b"hello", bytes(range(256))]:
        sig = signer.sign_bytes(msg)
        assert sig == signer.sign_bytes(message=msg)
        nacl.signing.VerifyKey(base58.b58decode(kp.pubkey)).verify(msg, base58.b58decode(sig))


# --- borrow state, reached through callbacks during argument conversion --------------


class Callback:
    """An integer / float whose conversion runs `action` first."""

    def __init__(self, action, value=1):
        self.action, self.value, self.seen = action, value, None

    def __index__(self):
        self.seen = self.action()
        return self.value

    __float__ = __index__


@pytest.mark.parametrize(
    "outer, inner, error",
    [
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
    ],
)
def test_reentrant_calls_hit_the_borrow_state(signer, outer, inner, error):
    cb = Callback(lambda: inner(signer))
    with pytest.raises(RuntimeError) as e:
        outer(signer, cb)
    assert str(e.value) == error
    # Every use was released on the way out.
    signer.set_compute_order_id(True)
    assert signer.sign(limit(), nonce=2)["nonce"] == 2


def test_shared_uses_nest(signer, kp):
    cb = Callback(lambda: (signer.pubkey, signer.computes_order_id(), signer.sign_bytes(b"x")), value=10)
    txs = signer.sign_all([limit()] * 12, base_nonce=cb)
    assert cb.seen[0] == kp.pubkey
    assert [t["nonce"] for t in txs] == list(range(10, 22))


# --- fork and exit, in subprocesses ---------------------------------------------------

CHILD_PRELUDE = """
import os, sys, threading
import _native
signer = _native.Signer(_native.Keypair(bytes([5]) * 32), "devnet")
orders = [{"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 100.0 + i, "size": 1.0} for i in range(40)]
def batch():
    return [t["signature"] for t in signer.sign_all(orders, base_nonce=1)]
expected = batch()
"""


def run_script(body, timeout=60):
    proc = subprocess.run([sys.executable, "-c", CHILD_PRELUDE + textwrap.dedent(body)],
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


@pytest.mark.parametrize("holder_thread", [False, True])
def test_fork_after_batch_signs_in_parent_and_child(holder_thread):
    out = run_script(
        f"""
        release = threading.Event()
        if {holder_thread}:
            # A live thread that ran a parallel batch keeps the pool from being
            # shut down before the fork: the child must still sign.
            threading.Thread(target=lambda: (batch(), release.wait())).start()
        for round in range(3):
            pid = os.fork()
            if pid == 0:
                ok = batch() == expected
                grandchild = os.fork()
                if grandchild == 0:
                    os._exit(0 if batch() == expected else 1)
                _, status = os.waitpid(grandchild, 0)
                sys.exit(0 if ok and status == 0 else 1)  # through the normal exit path
            assert batch() == expected
            _, status = os.waitpid(pid, 0)
            assert status == 0, status
        release.set()
        print("ok")
        """
    )
    assert out.strip() == "ok"


@pytest.mark.parametrize("busy_thread", [False, True])
def test_interpreter_exits_cleanly_after_batches(busy_thread):
    for _ in range(3):
        run_script(
            f"""
            if {busy_thread}:  # still signing when the interpreter exits
                threading.Thread(target=lambda: [batch() for _ in iter(int, 1)], daemon=True).start()
            for _ in range(5):
                assert batch() == expected
            """,
            timeout=30,
        )
