"""Wallet message modes from Python: what each mode asks the wallet to sign,
finalisation against exactly those bytes, refusals of edited wallet dicts, and
the clear-sign numbers against Python's decimal arithmetic.

Oracles: PyNaCl signs as the wallet; the off-chain envelope and the header hash
are rebuilt here with struct and hashlib; numbers with decimal.Decimal."""

import hashlib
import math
import re
import struct
from decimal import ROUND_HALF_EVEN, ROUND_HALF_UP, Context, Decimal

import nacl.signing
import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import _native
from _native import Keypair, Signer
from helpers import b58, raises, verify, wallet_sign

WALLET = nacl.signing.SigningKey(bytes(range(1, 33)))
ACCOUNT = b58(bytes(WALLET.verify_key))
ENTRY = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.0, "size": 0.1}
STOP = {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 60000.0}
DOMAINS = {"mainnet": 1, "testnet": 2, "devnet": 3}


def sign(message):
    return wallet_sign(WALLET, message)


def envelope(text, domain_code, signer):
    """The Solana off-chain message (header version 0) as documented, rebuilt here."""
    body = text.encode()
    fmt = 0 if all(0x20 <= b <= 0x7E for b in body) else 1
    return (b"\xffsolana offchain" + b"\x00" + bytes([domain_code]) + bytes(31) + bytes([fmt, 1]) + signer
            + struct.pack("<H", len(body)) + body)


@pytest.mark.parametrize("network", list(DOMAINS))
@pytest.mark.parametrize("mode", ["raw", "base58", "offchain"])
def test_each_mode_signs_its_bytes_and_finalises(network, mode):
    prepared = _native.py_prepare_order_group([ENTRY, STOP], network, ACCOUNT, nonce=77)
    wallet = _native.prepare_wallet_message(prepared, mode)
    assert list(wallet) == ["prepared", "signature_mode", "message_bytes", "clear_sign_message"]
    assert wallet["prepared"] == prepared and wallet["signature_mode"] == mode
    text = wallet["clear_sign_message"]
    expected = {
        "raw": prepared["message_bytes"],
        "base58": prepared["message_base58"].encode("ascii"),
        "offchain": text and envelope(text, DOMAINS[network], bytes(WALLET.verify_key)),
    }[mode]
    assert wallet["message_bytes"] == expected
    assert (text is None) == (mode != "offchain")
    if text is not None:
        header = (f"Fyrn Exchange Transaction\nNetwork: {network}\nAccount: {ACCOUNT}\nNonce: 77\nActions: 2\n"
                  f"Signable-Hash: {hashlib.sha256(prepared['message_bytes']).hexdigest()}\n")
        assert text.startswith(header) and text.count("\n") == 8
        assert text.endswith("[1] Stop BTC-USD Below thresh=60000.00000000 sz=0.10000000 limit=-\n")

    signature = sign(wallet["message_bytes"])
    signed = _native.finalize_wallet_message(wallet, signature)
    assert signed["signature"] == signature and signed["actions"] == prepared["actions"]
    assert signed["nonce"] == 77 and signed["order_ids"] == prepared["order_ids"]
    # A signature over the raw bytes verifies only where the mode signs the raw bytes.
    if mode != "raw":
        raises(ValueError, "signing failed: signature does not verify for the prepared signer*",
               _native.finalize_wallet_message, wallet, sign(prepared["message_bytes"]))


class Text(str):
    pass


@pytest.mark.parametrize("given", ["", "1", "subclass", "bytes", None, "missing"])
def test_renderings_come_from_the_message_not_the_caller(given):
    # A prepared dict whose "message_base58" is wrong, or not a plain str, still
    # gives the message's own text back (a right one may be kept as it is).
    # Which texts are the message's own is tests/cpp/test_base58.cpp's (encodes).
    prepared = _native.py_prepare_order_group([ENTRY, STOP], "mainnet", ACCOUNT, nonce=5)
    own = b58(prepared["message_bytes"])
    given = {"subclass": Text(own[:-1] + "2"), "bytes": own.encode(), "1": "1" + own}.get(given, given)
    edited = dict(prepared)
    if given == "missing":
        del edited["message_base58"]
    else:
        edited["message_base58"] = given
    for mode in ("raw", "base58", "offchain"):
        assert _native.prepare_wallet_message(edited, mode)["prepared"] == prepared


DIFFERS = "signing failed: wallet message differs from selected encoding of the raw preparation"


def edited(wallet, **changes):
    return {**wallet, **changes}


def flip(data, index):
    data = bytearray(data)
    data[index] ^= 1
    return bytes(data)


@pytest.mark.parametrize("mode, edit, error", [
    ("raw", lambda w: edited(w, message_bytes=flip(w["message_bytes"], 3)), DIFFERS),
    ("base58", lambda w: edited(w, message_bytes=w["message_bytes"][:-1]), DIFFERS),
    ("offchain", lambda w: edited(w, message_bytes=flip(w["message_bytes"], 17)), DIFFERS),
    ("offchain", lambda w: edited(w, clear_sign_message=w["clear_sign_message"].replace("Buy", "Sell")), DIFFERS),
    ("offchain", lambda w: edited(w, clear_sign_message=None), DIFFERS),
    ("raw", lambda w: edited(w, clear_sign_message="Fyrn Exchange Transaction\n"), DIFFERS),
    ("raw", lambda w: edited(w, signature_mode="base58"), DIFFERS),
    ("raw", lambda w: edited(w, prepared=edited(w["prepared"], nonce=w["prepared"]["nonce"] + 1)),
     "signing failed: prepared account or nonce differs from raw signing bytes"),
    ("raw", lambda w: edited(w, signature_mode="Raw"), "signing failed: signature mode must be raw, base58 or offchain"),
    ("raw", lambda w: {k: v for k, v in w.items() if k != "message_bytes"}, "Missing 'message_bytes'"),
    ("raw", lambda w: {k: v for k, v in w.items() if k != "prepared"}, "Missing 'prepared'"),
])
def test_edited_wallet_dicts_are_refused(mode, edit, error):
    wallet = _native.prepare_wallet_message(_native.py_prepare_order(ENTRY, "mainnet", ACCOUNT, nonce=5), mode)
    signature = sign(wallet["message_bytes"])
    tampered = edit(wallet)
    raises(ValueError, error, _native.finalize_wallet_message, tampered, sign(tampered.get("message_bytes", b"")))
    raises(ValueError, error, Signer(Keypair(bytes(32)), "mainnet").sign_wallet_prepared, tampered)
    assert _native.finalize_wallet_message(wallet, signature)["signature"] == signature


def test_signer_checks_its_key_and_network():
    key = Keypair(bytes(range(32)))
    prepared = _native.py_prepare_order(ENTRY, "mainnet", ACCOUNT, signer=key.pubkey, nonce=9)  # an agent wallet
    for mode in ("raw", "base58", "offchain"):
        wallet = _native.prepare_wallet_message(prepared, mode)
        signed = Signer(key, "mainnet").sign_wallet_prepared(wallet)
        assert signed["account"] == ACCOUNT and signed["signer"] == key.pubkey
        assert verify(signed, wallet["message_bytes"])
    wallet = _native.prepare_wallet_message(prepared, "raw")
    for signer in (Signer(key, "devnet"), Signer(Keypair(), "mainnet")):
        raises(ValueError, "signing failed: prepared wallet signer or network does not match*",
               signer.sign_wallet_prepared, wallet)


def test_unsupported_actions_have_no_offchain_text():
    config = {"instruments": [{"symbol": "BTC-USD", "max_exposure": 1.0}]}
    prepared = _native.py_prepare_update_liquidator_config(config, "testnet", ACCOUNT, nonce=3)
    raises(ValueError, "signing failed: unsupported offchain clear-sign action: liq",
           _native.prepare_wallet_message, prepared, "offchain")


# --- numbers in the clear-sign text ----------------------------------------------

BASE = _native.py_prepare_faucet_request("devnet", ACCOUNT, nonce=1)
EIGHT = Decimal("0.00000001")
EXACT = Context(prec=400)  # every finite double has at most 309 integer digits


def rendered(action, field):
    """The text of `field=` in the one-action line the offchain mode renders."""
    text = _native.prepare_wallet_message({**BASE, "actions": [action]}, "offchain")["clear_sign_message"]
    return re.search(rf" {field}=(\S+)", text.splitlines()[-1]).group(1)


def eight_decimals(x):
    return format(Decimal(x).quantize(EIGHT, rounding=ROUND_HALF_EVEN, context=EXACT), "f")


def half_up(x):
    return int(Decimal(x).quantize(Decimal(1), rounding=ROUND_HALF_UP, context=EXACT))


def quantised(x):
    """The quantisation rule, step by step, in floats as the rule states them."""
    if not (x > 0 and x * 1e8 < 2.0**64):
        return eight_decimals(x)
    n = half_up(x * 1e8)
    if n == 0 or n > 2**64 - 2:
        return eight_decimals(x)
    y = float(n) / 1e8
    for _ in range(16):
        m = half_up(y * 1e8)
        if m == n:
            return eight_decimals(y)
        y = math.nextafter(y, math.inf if m < n else -math.inf)
    return eight_decimals(float(n) / 1e8)


FINITE = st.floats(allow_nan=False, allow_infinity=False)
# Exact ties of the 8-decimal rounding: odd multiples of 2^-9 (any sign).
TIES = st.builds(lambda odd, sign: sign * math.ldexp(2 * odd + 1, -9), st.integers(0, 2**52), st.sampled_from([1, -1]))


def near_half(n, step):
    """The float nearest (n + 1/2)·10^-8, or one of its neighbours: where quantising decides."""
    y = (n + 0.5) / 1e8
    return y if step == 0 else math.nextafter(y, math.copysign(math.inf, step))


NEAR_HALVES = st.builds(near_half, st.integers(0, 10**14), st.sampled_from([-1, 0, 1]))


@settings(max_examples=600, deadline=None)
@given(st.one_of(FINITE, TIES))
def test_plain_numbers_render_the_exact_value_to_eight_decimals(x):
    assert rendered({"createSubAccount": {"name": "n", "marginAmount": x}}, "amt") == eight_decimals(x)


@settings(max_examples=600, deadline=None)
@given(st.one_of(FINITE, st.floats(min_value=1e-9, max_value=1e9), NEAR_HALVES, TIES))
@example(43715289.603054196)  # n / 1e8 does not scale back to n: the search steps
@example(37173537.225856856)
def test_quantised_numbers_follow_the_rule(x):
    assert rendered({"mod": {"c": "S", "oid": "o", "sz": x}}, "sz") == quantised(x)
