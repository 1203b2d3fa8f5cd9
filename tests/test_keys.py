"""Keypair, key and hash texts, random_hash and the clock, against independent
oracles: PyNaCl for Ed25519 key derivation, the `base58` package for text forms,
Python integers for the decoded length of texts of any size. The secret seed
never shows: not in any repr or str, nor in any text, argument or attribute of
the errors raised while keys are parsed, as raw bytes, hex or base58 of the seed
or of the 64-byte keypair."""

import copy
import time

import base58
import nacl.signing
import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import _native as N
from _native import Keypair
from helpers import b58, raises

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
SEED = bytes(range(101, 133))
FULL = SEED + bytes(nacl.signing.SigningKey(SEED).verify_key)
SEED58, FULL58 = b58(SEED), b58(FULL)
FORMS = [SEED, FULL, SEED.hex(), SEED.hex().upper(), FULL.hex(), SEED58, FULL58]


def shaped_bytes(n):
    """n bytes, often with leading zeros or 0xFF runs, where base58 codecs go wrong."""
    return st.one_of(
        st.binary(min_size=n, max_size=n),
        st.integers(0, n).flatmap(lambda z: st.binary(min_size=n - z, max_size=n - z).map(lambda b: bytes(z) + b)),
        st.integers(0, n).map(lambda z: bytes(z) + b"\xff" * (n - z)),
    )


def exposed(value, seen=None):
    """Every text and byte string reachable from value: reprs, strs, args and
    attributes of exceptions (and their causes and contexts)."""
    seen = set() if seen is None else seen
    if id(value) in seen:
        return []
    seen.add(id(value))
    out = [value] if isinstance(value, (str, bytes, bytearray)) else []
    for render in (repr, str):
        try:
            out.append(render(value))
        except Exception:
            pass
    if isinstance(value, BaseException):
        for name in dir(value):
            if not name.startswith("__") and name != "with_traceback":
                out += exposed(getattr(value, name, None), seen)
        for linked in (value.args, value.__cause__, value.__context__):
            out += exposed(linked, seen) if linked is not None else []
    elif isinstance(value, (tuple, list)):
        for v in value:
            out += exposed(v, seen)
    return out


def leaks(value):
    return [(form, text) for text in exposed(value) for form in FORMS
            if (type(form) is type(text) or (isinstance(text, (bytes, bytearray)) and isinstance(form, bytes)))
            and form in text]


@given(seed=shaped_bytes(32))
def test_keypair_derivation_and_text_forms_match_the_oracles(seed):
    full = seed + nacl.signing.SigningKey(seed).verify_key.encode()
    k = Keypair.from_bytes(seed)
    assert (k.secret_key(), k.to_bytes()) == (seed, full)
    assert k.pubkey == str(k) == base58.b58encode(full[32:]).decode()
    assert k.to_base58() == base58.b58encode(full).decode()
    assert repr(k) == f"Keypair(pubkey='{k.pubkey}')"


@pytest.mark.parametrize("make", [
    lambda k: Keypair(k.to_bytes()),
    lambda k: Keypair(k.to_base58()),
    lambda k: Keypair(k.secret_key()),
    lambda k: Keypair(base58.b58encode(k.secret_key()).decode()),
    lambda k: Keypair(type("Raw", (bytes,), {})(k.to_bytes())),
])
def test_keypair_round_trips(make):
    k = Keypair()
    assert make(k).to_bytes() == k.to_bytes()


def test_objects_show_only_the_public_key():
    kp = Keypair(SEED)
    for obj in (kp, N.Signer(kp, "devnet"), N.Signer.from_base58(FULL58, "mainnet"),
                N.Signer.with_nonce_manager(kp, "counter", "testnet")):
        assert not leaks(obj) and kp.pubkey in repr(obj)


BAD_B58 = "invalid base58: provided string contained "
KEY_TYPE = "key must be a base58 string or bytes"
# Key material a caller might pass, broken in the ways that reach each error:
# (call, exception, its text or None).
KEY_ERRORS = [
    (lambda: Keypair(1), TypeError, KEY_TYPE),
    (lambda: Keypair(bytearray(SEED)), TypeError, KEY_TYPE),
    (lambda: Keypair(SEED, FULL), TypeError, "expected at most one key"),
    (lambda: Keypair(SEED, x=1), TypeError, "Keypair.__new__() got an unexpected keyword argument 'x'"),
    (lambda: Keypair(SEED + b"\x00"), ValueError, "invalid key length: expected 64, got 33"),
    (lambda: Keypair(SEED[:31]), ValueError, "invalid key length: expected 64, got 31"),
    (lambda: Keypair(""), ValueError, "invalid key length: expected 64, got 0"),
    (lambda: Keypair("1" * 33), ValueError, "invalid key length: expected 64, got 33"),
    (lambda: Keypair("abc0"), ValueError, BAD_B58 + "invalid character '0' at byte 3"),
    (lambda: Keypair.from_bytes(SEED + b"\x07"), ValueError, None),
    (lambda: Keypair(SEED + bytes(32)), ValueError, None),
    (lambda: Keypair.from_base58(base58.b58encode(SEED + bytes([1]) * 32).decode()), ValueError, None),
    (lambda: Keypair(SEED58 + "2"), ValueError, None),
    (lambda: Keypair.from_base58(SEED58 + "0"), ValueError, None),
    (lambda: Keypair(FULL58 + "é"), ValueError, None),
    (lambda: Keypair(SEED58 + "\ud800"), ValueError, None),
    (lambda: Keypair.from_base58(FULL58[:40] + "\udc80\ud800" + FULL58[40:]), ValueError, None),
    (lambda: N.Signer.from_base58(FULL58 + "\ud800", "devnet"), ValueError, None),
    (lambda: N.Signer.from_base58(FULL58, "moon"), ValueError, None),
    (lambda: N.Signer.from_base58(base58.b58encode(SEED + b"\0").decode(), "devnet"), ValueError, None),
    (lambda: Keypair.from_bytes(bytearray(SEED)), TypeError,
     "argument 'bytes': 'bytearray' object cannot be converted to 'PyBytes'"),
    (lambda: Keypair.from_base58(SEED58.encode()), TypeError, None),
]


@pytest.mark.parametrize("call, exc, message", KEY_ERRORS)
def test_key_errors_name_the_fault_and_never_carry_the_secret(call, exc, message):
    with pytest.raises(exc) as e:
        call()
    assert message is None or (type(e.value) is exc and str(e.value) == message)
    assert not leaks(e.value), leaks(e.value)[:1]


def test_surrogate_error_keeps_its_type_position_and_message():
    # Only the text is hidden: type, span, reason and str() stay as the codec gives them.
    text = SEED58[:5] + "\ud800\udc00" + SEED58[5:]
    with pytest.raises(UnicodeEncodeError) as ours:
        Keypair(text)
    with pytest.raises(UnicodeEncodeError) as codec:
        text.encode("utf-8")
    e, ref = ours.value, codec.value
    assert (e.encoding, e.start, e.end, e.reason, str(e)) == (ref.encoding, ref.start, ref.end, ref.reason, str(ref))
    assert len(e.object) == len(text) and e.object[e.start:e.end] == text[e.start:e.end]


def test_sixty_four_bytes_whose_halves_disagree_are_refused():
    a = Keypair()
    mismatched = a.secret_key() + Keypair().to_bytes()[32:]
    not_a_point = a.secret_key() + bytes([2]) + bytes(31)  # y = 2 has no x on the curve
    for raw in (mismatched, not_a_point):
        for make in (Keypair, Keypair.from_bytes, lambda r: Keypair(b58(r))):
            raises(ValueError, "keypair public key does not match its secret key", make, raw)


def test_keypairs_are_immutable_and_refuse_copying():
    # A copy through the default reduce would call Keypair() and silently
    # produce a fresh random key.
    k = Keypair()
    for fn in (copy.copy, copy.deepcopy):
        with pytest.raises(TypeError):
            fn(k)
    with pytest.raises(AttributeError):
        k.pubkey = "x"


FF32 = b58(b"\xff" * 32)


@given(raw=st.one_of(shaped_bytes(32), st.binary(max_size=70)),
       text=st.text(alphabet=ALPHABET + "0OIl+ é", max_size=50))
@example(raw=b"", text="1" * 33)
@example(raw=b"", text=FF32[:-1] + "0")
def test_validators_agree_with_the_base58_package(raw, text):
    encoded = base58.b58encode(raw).decode()
    assert N.validate_pubkey(encoded) is N.validate_hash(encoded) is (len(raw) == 32)
    expected = all(c in ALPHABET for c in text) and len(base58.b58decode(text)) == 32
    assert N.validate_pubkey(text) is N.validate_hash(text) is expected


# --- texts of any length: the errors name the length a full decode gives -----------

ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1.0, "size": 1.0}
SIGNER = N.Signer(Keypair(bytes([3]) * 32), "devnet")


def errors(text):
    """What every key or hash reader says about text (None: accepted)."""
    def outcome(call):
        try:
            call()
        except ValueError as e:
            return str(e)

    return {
        "pubkey": (N.validate_pubkey(text), outcome(lambda: N.compute_order_id_from_order(ORDER, 1, text))),
        "hash": (N.validate_hash(text),
                 outcome(lambda: SIGNER.sign({"type": "cancel", "symbol": "ETH-USD", "order_id": text}, 1))),
        "keypair": outcome(lambda: Keypair.from_base58(text)),
    }


def expected(n):
    """The same, from the decoded length n of a well-formed text."""
    keypair = None if n == 32 else f"invalid key length: expected 64, got {n}"
    if n == 64:  # 64 bytes of text hardly ever hold a matching keypair
        keypair = "keypair public key does not match its secret key"
    return {
        "pubkey": (n == 32, None if n == 32 else f"invalid key length: expected 32, got {n}"),
        "hash": (n == 32, None if n == 32 else f"invalid hash length: expected 32 bytes, got {n}"),
        "keypair": keypair,
    }


# (text, its decoded length): texts far longer than a key get it from their
# leading digits, a million characters without a quadratic decode (lengths from
# Python integers). Texts next to a power of 256, where only a full decode
# settles the length, are tests/cpp/test_base58.cpp's (decode_into against the
# full decode at both key capacities).
MILLION = 10**6
LENGTHS = [(t, len(base58.b58decode(t))) for t in
           ["", "1" * 31, "1" * 32, "1" * 70, "z" * 44, "z" * 45, "z" * 73, "z" * 140, "1" * 20 + "z" * 60]]
LENGTHS += [("z" * MILLION, ((58**MILLION - 1).bit_length() + 7) // 8),
            ("2" + "1" * (MILLION - 1), ((58 ** (MILLION - 1)).bit_length() + 7) // 8)]


@pytest.mark.parametrize("text, n", LENGTHS, ids=lambda t: f"{len(t)}:{t[:8]}" if isinstance(t, str) else None)
def test_texts_of_any_length_get_the_full_decode_length(text, n):
    assert errors(text) == expected(n)


@pytest.mark.parametrize("bad, message", [
    ("0", "invalid character '0' at byte 999999"), ("\u00e9", "non-ascii character starting at byte 999999"),
])
def test_a_million_characters_with_a_bad_last_one(bad, message):
    reported = errors("z" * 999_999 + bad)
    assert reported["keypair"] == reported["pubkey"][1] == reported["hash"][1] == BAD_B58 + message
    assert reported["pubkey"][0] is reported["hash"][0] is False


def test_random_hash_is_32_random_bytes_in_base58():
    values = {N.random_hash() for _ in range(200)}
    assert len(values) == 200
    assert all(base58.b58encode(base58.b58decode(v)).decode() == v and N.validate_hash(v) for v in values)


def test_current_timestamp_is_the_wall_clock_and_increasing():
    # (Distinct values across threads are the C++ tests' to check.)
    before = time.time_ns()
    values = [N.current_timestamp() for _ in range(5000)]
    assert before <= values[0] and all(b > a for a, b in zip(values, values[1:])) and values[-1] <= time.time_ns()
