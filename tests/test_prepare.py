"""The external-wallet flow: py_prepare_*, py_finalize_transaction and
Signer.sign_prepared. Oracles: PyNaCl signs as the wallet and verifies,
order_id_oracle recomputes identifiers (and so the order encodings),
and `base58`/`base64`/`bytes.hex` check the renderings. (How "actions" are
read back is judged in test_hostile.)"""

import base64
import json
import math
import struct
import time

import base58
import nacl.signing
import pytest
from hypothesis import given, strategies as st

import _native as N
from _native import Keypair, Signer
from helpers import b58, keys_in_byte_order, raises, verify, wallet_sign as sign_with
from order_id_oracle import dict_order_id
from test_signer import CANCEL, OTHER, limit

KP = Keypair(bytes([7]) * 32)
ACCOUNT = KP.pubkey
WALLET = nacl.signing.SigningKey(bytes([7]) * 32)  # the same key, held by an "external wallet"
STRANGER = nacl.signing.SigningKey(bytes([8]) * 32)
L = 2**252 + 27742317777372353535851937790883648493  # the order of the Ed25519 base point

MISMATCH = "signing failed: prepared account, nonce, or network domain does not match message bytes"
NO_VERIFY = "signing failed: signature does not verify for the prepared signer and message"
TOO_LONG = "signing failed: signature must encode exactly 64 bytes"
NO_SUFFIX = "signing failed: prepared message is missing its signing suffix"
EMPTY = "orders array cannot be empty"
DOMAIN_BYTE = {"mainnet": 1, "testnet": 2, "devnet": 3}
FRONT = ["message_bytes", "message_base58", "message_base64", "message_hex"]
BACK = ["actions", "account", "signer", "nonce"]
MARKET = {"type": "order", "symbol": "ETH-USD", "is_buy": False, "price": 0.0, "size": 2.5,
          "order_type": {"type": "market"}, "slippage": 0.005}
STOP = {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 1.0, "trigger_price": 48000.0, "slippage": 0.01}


def wallet_sign(data, key=WALLET):
    return sign_with(key, data)


P0 = N.py_prepare_order(limit(), "devnet", ACCOUNT, nonce=77)
SIG0 = wallet_sign(P0["message_bytes"])


def with_byte(data, i, value):
    out = bytearray(data)
    out[i] = value
    return bytes(out)


# --- finalisation: a tampered prepared dict never becomes a transaction ---------------


def non_canonical(sig):
    raw = base58.b58decode(sig)
    s = int.from_bytes(raw[32:], "little")
    return b58(raw[:32] + (s + L).to_bytes(32, "little"))  # the same scalar, encoded past L


MB = P0["message_bytes"]
SIGNED = object()  # stands for a valid wallet signature over the changed message_bytes
IDENTITY = b58(b"\x01" + bytes(31))  # the neutral point, a small-order key
LENGTH = "invalid signature length: expected 64 bytes, got "
TAMPER = [  # (id, changed keys, signature, exception, exact text or None)
    ("nonce", {"nonce": 78}, SIG0, ValueError, MISMATCH),
    ("account", {"account": OTHER}, SIG0, ValueError, MISMATCH),
    ("network byte, old signature", {"message_bytes": with_byte(MB, -1, 1)}, SIG0, ValueError, NO_VERIFY),
    ("network byte 0", {"message_bytes": with_byte(MB, -1, 0)}, SIGNED, ValueError, MISMATCH),
    ("network byte 4", {"message_bytes": with_byte(MB, -1, 4)}, SIGNED, ValueError, MISMATCH),
    ("nonce byte", {"message_bytes": with_byte(MB, -41, MB[-41] ^ 1)}, SIGNED, ValueError, MISMATCH),
    ("account byte", {"message_bytes": with_byte(MB, -2, MB[-2] ^ 1)}, SIGNED, ValueError, MISMATCH),
    ("signer", {"signer": OTHER}, SIG0, ValueError, NO_VERIFY),
    ("another key", {}, wallet_sign(MB, STRANGER), ValueError, NO_VERIFY),
    ("non-canonical S", {}, non_canonical(SIG0), ValueError, NO_VERIFY),
    # R = identity and S = 0 pass the cofactorless equation for the identity key.
    ("small-order signer", {"signer": IDENTITY}, b58(b"\x01" + bytes(63)), ValueError, NO_VERIFY),
    ("small-order signer, real signature", {"signer": IDENTITY}, SIG0, ValueError, NO_VERIFY),
    ("87 chars, 64 bytes", {}, "z" * 87, ValueError, NO_VERIFY),
    ("87 chars, 87 bytes", {}, "1" * 87, ValueError, LENGTH + "87"),
    ("88 chars, 64 bytes", {}, b58(b"\xff" * 64), ValueError, NO_VERIFY),
    ("88 chars, 65 bytes", {}, "z" * 88, ValueError, LENGTH + "65"),
    ("89 chars", {}, "1" * 89, ValueError, TOO_LONG),
    ("89 chars, not base58", {}, "0" * 89, ValueError, TOO_LONG),
    # The bound counts characters: 45 two-byte ones reach the decoder.
    ("45 chars, 90 bytes", {}, "\u00e9" * 45, ValueError, "signing failed: signature must be base58"),
    ("empty text", {}, "", ValueError, LENGTH + "0"),
    ("not base58, before the keys", {"account": "0"}, "0" + SIG0[1:], ValueError, "signing failed: signature must be base58"),
    ("signer of 31 bytes", {"signer": "1" * 31}, SIG0, ValueError, "invalid key length: expected 32, got 31"),
    ("40 bytes", {"message_bytes": MB[-40:]}, SIG0, ValueError, NO_SUFFIX),
    ("41 bytes", {"message_bytes": MB[-41:]}, SIG0, ValueError, NO_VERIFY),
    ("no bytes", {"message_bytes": b""}, SIG0, ValueError, NO_SUFFIX),
    ("actions dict", {"actions": P0["actions"][0]}, SIG0, ValueError, None),
    ("actions str", {"actions": "[]"}, SIG0, ValueError, None),
    ("actions int", {"actions": 1}, SIG0, ValueError, None),
    ("actions empty, before decoding", {"actions": []}, "0", ValueError, EMPTY),
    ("actions empty, 89 chars", {"actions": []}, "0" * 89, ValueError, TOO_LONG),
    ("bytes as str", {"message_bytes": MB.decode("latin-1")}, SIG0, TypeError, "Can't extract `str` to `Vec`"),
    ("bytes holding 256", {"message_bytes": [*MB[:-1], 256]}, SIG0, OverflowError, None),
    ("bytes holding -1", {"message_bytes": [-1, *MB[1:]]}, SIG0, OverflowError, None),
    ("nonce -1", {"nonce": -1}, SIG0, OverflowError, None),
    ("nonce 2**64", {"nonce": 2**64}, SIG0, OverflowError, None),
    ("nonce float", {"nonce": 77.0}, SIG0, TypeError, None),
    ("order_ids as str", {"order_ids": "abc"}, SIG0, TypeError, "Can't extract `str` to `Vec`"),
]


@pytest.mark.parametrize("changes, sig, exc, text", [pytest.param(*t[1:], id=t[0]) for t in TAMPER])
def test_finalisation_refuses_tampering(changes, sig, exc, text):
    p = dict(P0, **changes)
    raises(exc, text, N.py_finalize_transaction, p, wallet_sign(p["message_bytes"]) if sig is SIGNED else sig)


@pytest.mark.parametrize("form", [bytes, bytearray, list, tuple])
def test_finalisation_accepts_byte_sequences_and_keeps_the_signature_text(form):
    tx = N.py_finalize_transaction(dict(P0, message_bytes=form(MB)), signature=SIG0)
    assert list(tx) == ["actions", "nonce", "account", "signer", "signature", "order_id"]
    assert tx["signature"] == SIG0 and verify(tx, MB)
    assert all(tx[k] == P0[k] for k in ("actions", "nonce", "account", "signer", "order_id"))


READ_ORDER = ["actions", "message_bytes", "account", "signer", "nonce"]


@pytest.mark.parametrize("i", range(len(READ_ORDER)))
def test_missing_keys_in_read_order(i):
    broken = {k: v for k, v in P0.items() if k not in READ_ORDER[i:]}
    raises(ValueError, f"Missing '{READ_ORDER[i]}'", N.py_finalize_transaction, broken, SIG0)
    # Actions that cannot be dumped fail at once; ones that dump but do not parse, after the nonce.
    raises(TypeError, None, N.py_finalize_transaction, dict(broken, actions=[object()]), SIG0)
    raises(ValueError, f"Missing '{READ_ORDER[max(i, 1)]}'", N.py_finalize_transaction,
           dict(broken, actions=[math.nan]), SIG0)


# --- round trip: prepare, sign with PyNaCl, finalise ---------------------------------

POSITIVE = st.floats(0, 1e12)
LIMITS = st.fixed_dictionaries(
    {"type": st.just("order"), "symbol": st.text(max_size=10), "is_buy": st.booleans(), "price": POSITIVE,
     "size": POSITIVE},
    optional={"reduce_only": st.booleans(), "iso": st.booleans(),
              "order_type": st.fixed_dictionaries({"type": st.just("limit"), "tif": st.sampled_from(["GTC", "ioc", "Alo"])})})
MARKETS = st.fixed_dictionaries(
    {"type": st.just("order"), "symbol": st.text(max_size=10), "is_buy": st.booleans(), "price": st.floats(),
     "size": POSITIVE, "order_type": st.just({"type": "market"})},
    optional={"reduce_only": st.booleans(), "iso": st.booleans(), "slippage": st.floats(0, 1)})


@given(order=LIMITS | MARKETS, domain=st.sampled_from(sorted(DOMAIN_BYTE)), nonce=st.integers(0, 2**64 - 1),
       seed=st.binary(min_size=32, max_size=32), account=st.none() | st.binary(min_size=32, max_size=32),
       flip=st.tuples(st.integers(0, 10**6), st.integers(0, 7)))
def test_prepare_sign_finalise_round_trip(order, domain, nonce, seed, account, flip):
    wallet = nacl.signing.SigningKey(seed)
    signer = b58(wallet.verify_key.encode())
    account = signer if account is None else b58(account)  # else an agent wallet signs for the account
    p = N.py_prepare_order(order, domain, account, signer=None if account == signer else signer, nonce=nonce)
    msg, ident = p["message_bytes"], dict_order_id(order, nonce, account)
    assert msg[-41:] == struct.pack("<Q", nonce) + base58.b58decode(account) + bytes([DOMAIN_BYTE[domain]])
    assert p["signer"] == signer and p["order_id"] == ident
    sig = wallet_sign(msg, wallet)
    tx = N.py_finalize_transaction(p, sig)
    assert tx["signature"] == sig and verify(tx, msg) and tx["order_id"] == ident and tx["account"] == account
    i = flip[0] % len(msg)
    raises(ValueError, "signing failed: *", N.py_finalize_transaction,
           dict(p, message_bytes=with_byte(msg, i, msg[i] ^ 1 << flip[1])), sig)


# --- the prepared dict ----------------------------------------------------------------


@pytest.mark.parametrize("make, ids", [
    (lambda: N.py_prepare_order(limit(), "mainnet", ACCOUNT, nonce=5), ["order_id"]),
    (lambda: N.py_prepare_order_group([CANCEL, limit()], "testnet", ACCOUNT, nonce=5), ["order_ids"]),
    (lambda: N.py_prepare_order_group([CANCEL, STOP], "devnet", ACCOUNT, nonce=5), []),
    (lambda: N.py_prepare_faucet_request("devnet", ACCOUNT, nonce=2**64 - 1), []),
])
def test_prepared_dict_layout_and_renderings(make, ids):
    p = make()
    msg = p["message_bytes"]
    assert list(p) == FRONT + ids + BACK and type(msg) is bytes
    assert p["message_base58"] == b58(msg) and p["message_base64"] == base64.b64encode(msg).decode()
    assert p["message_hex"] == msg.hex() and p["signer"] == p["account"]
    keys_in_byte_order(p["actions"])
    if "order_ids" in p:  # the cancel in front still counts: sequence number 1
        assert p["order_ids"] == [dict_order_id(limit(), 5, ACCOUNT, 1)]


def test_default_nonces_follow_the_clock():
    t0 = time.time_ns()
    a = N.py_prepare_faucet_request("devnet", ACCOUNT)["nonce"]
    between = N.current_timestamp()
    b = N.py_prepare_order(limit(), "devnet", ACCOUNT)["nonce"]
    batch = [p["nonce"] for p in N.py_prepare_all_orders([limit()] * 3, "devnet", ACCOUNT)]
    assert t0 <= a < between < b < batch[0] <= time.time_ns() + 10**9
    assert batch == [batch[0], batch[0] + 1, batch[0] + 2]


# --- each prepare function agrees with the matching Signer method ---------------------

LIQ = {"instruments": [{"symbol": "BTC-USD", "max_exposure": 3, "volume_rampup": 7.0}], "toxicity": 0.5}
GROUP = [limit(), CANCEL, STOP, MARKET]
TP = dict(STOP, type="tp", trigger_price=53000.0)
AGREE = [  # py_prepare_<name>(*args, **kwargs, common) against Signer.<method>(*signer_args, nonce), action key
    ("order", (limit(),), {}, "sign", (limit(),), "l"),
    ("order_group", (GROUP,), {}, "sign_group", (GROUP,), "l"),
    # "on_fill" attaches to the order only when preparing
    ("order", (dict(limit(), on_fill={"actions": [TP]}),), {}, "sign",
     ({"type": "on_fill", "trigger": limit(), "actions": [TP]},), "of"),
    ("agent_wallet_auth", (OTHER, True), {}, "sign_agent_wallet", (OTHER, True), "agentWalletCreation"),
    ("approve_builder_code", (OTHER, 15), {}, "sign_approve_builder_code", (OTHER, 15), "abc"),
    ("approve_commission_fee", (OTHER, 1), {}, "sign_approve_commission_fee", (OTHER, 1), "abc"),
    ("revoke_builder_code", (OTHER,), {}, "sign_revoke_builder_code", (OTHER,), "rbc"),
    ("revoke_commission_fee", (OTHER,), {}, "sign_revoke_commission_fee", (OTHER,), "rbc"),
    ("update_liquidator_config", (LIQ,), {}, "sign_update_liquidator_config", (LIQ,), "liq"),
    ("faucet_request", (), {}, "sign_faucet", (), "faucet"),
    ("create_sub_account", ("desk",), {"margin_amount": 100}, "sign_create_sub_account", ("desk", 100.0),
     "createSubAccount"),
    ("create_sub_account", ("desk",), {}, "sign_create_sub_account", ("desk", None), "createSubAccount"),
    ("remove_sub_account", (OTHER,), {}, "sign_remove_sub_account", (OTHER,), "removeSubAccount"),
    ("transfer", (OTHER, ACCOUNT, 10.5), {}, "sign_transfer", (OTHER, ACCOUNT, 10.5, None), "transfer"),
    ("transfer", (OTHER, ACCOUNT, 2), {"kind": "external"}, "sign_transfer", (OTHER, ACCOUNT, 2.0, "external"),
     "transfer"),
]


def without_slippage(value, key=None):
    # The signer's JSON leaves out conditional orders' slippage; the prepared JSON keeps it.
    if isinstance(value, list):
        return [without_slippage(v) for v in value]
    if not isinstance(value, dict):
        return value
    drop = {"slippage"} if key in ("st", "tp", "trl") else {"slSlippage", "tpSlippage"} if key == "rng" else set()
    return {k: without_slippage(v, k) for k, v in value.items() if k not in drop}


@pytest.mark.parametrize("domain", ["mainnet", "testnet", "devnet"])
@pytest.mark.parametrize("name, args, kwargs, method, signer_args, key", AGREE)
def test_prepare_and_sign_agree(name, args, kwargs, method, signer_args, key, domain):
    prepare = getattr(N, "py_prepare_" + name)
    p = prepare(*args, signature_domain=domain, account=ACCOUNT, nonce=424242, **kwargs)
    assert list(p["actions"][0]) == [key] and p["signer"] == p["account"] == ACCOUNT
    agent = prepare(*args, signature_domain=domain, account=ACCOUNT, signer=OTHER, nonce=424242, **kwargs)
    assert agent == dict(p, signer=OTHER)  # the signer is recorded, never signed over
    signer = Signer(KP, domain)
    signer.set_compute_batch_order_ids(True)
    tx = N.py_finalize_transaction(p, wallet_sign(p["message_bytes"]))
    assert signer.sign_prepared(p) == tx and verify(tx, p["message_bytes"])
    expected = getattr(signer, method)(*signer_args, 424242)
    tx["actions"] = without_slippage(tx["actions"])
    assert json.dumps(list(tx.items())) == json.dumps(list(expected.items()))  # also tells 100 from 100.0


# --- Signer.sign_prepared --------------------------------------------------------------


def test_sign_prepared_checks_signer_and_network_then_finalises():
    signer = Signer(KP, "devnet")
    for_other = N.py_prepare_faucet_request("devnet", ACCOUNT, signer=OTHER, nonce=1)
    raises(ValueError, f"Prepared message signer {OTHER} does not match signer pubkey {ACCOUNT}",
           signer.sign_prepared, for_other)
    for p in [N.py_prepare_faucet_request("testnet", ACCOUNT, nonce=1), dict(P0, message_bytes=b"")]:
        raises(ValueError, "Prepared message network domain does not match signer", signer.sign_prepared, p)
    raises(ValueError, MISMATCH, signer.sign_prepared, dict(P0, nonce=78))  # the full finalisation still runs
    for key in ["signer", "message_bytes"]:
        raises(ValueError, f"Missing '{key}'", signer.sign_prepared, {k: v for k, v in P0.items() if k != key})
    raises(TypeError, "argument 'prepared': 'list' object cannot be converted to 'PyDict'", signer.sign_prepared, [])

    # Agent wallet: the trading account is another key, this signer signs for it.
    p = N.py_prepare_order(limit(), "devnet", OTHER, signer=ACCOUNT, nonce=99)
    tx = signer.sign_prepared(prepared=p)
    assert (tx["account"], tx["signer"], tx["nonce"]) == (OTHER, ACCOUNT, 99)
    assert verify(tx, N.py_prepare_order(limit(), "devnet", OTHER, nonce=99)["message_bytes"])
    assert tx == N.py_finalize_transaction(p, wallet_sign(p["message_bytes"]))
