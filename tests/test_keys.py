"""Keypair, base58 validators, random_hash and the clock, against independent
oracles: PyNaCl for Ed25519 key derivation, the `base58` package for text forms."""

import copy
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import base58
import nacl.signing
import pytest
from hypothesis import given
from hypothesis import strategies as st

import _native
from _native import Keypair

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def shaped_bytes(n):
    """n bytes, often with leading zeros or 0xFF runs, where base58 codecs go wrong."""
    return st.one_of(
        st.binary(min_size=n, max_size=n),
        st.integers(0, n).flatmap(lambda z: st.binary(min_size=n - z, max_size=n - z).map(lambda b: bytes(z) + b)),
        st.integers(0, n).map(lambda z: bytes(z) + b"\xff" * (n - z)),
    )


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
    lambda k: Keypair.from_bytes(bytes=k.to_bytes()),
    lambda k: Keypair.from_base58(s=k.to_base58()),
])
def test_keypair_round_trips(make):
    k = Keypair()
    assert make(k).to_bytes() == k.to_bytes()
    assert Keypair().pubkey != k.pubkey


@pytest.mark.parametrize("args, kwargs, exc, message", [
    ((1,), {}, TypeError, "key must be a base58 string or bytes"),
    ((bytearray(32),), {}, TypeError, "key must be a base58 string or bytes"),
    ((b"a", b"b"), {}, TypeError, "expected at most one key"),
    ((bytes(32),), {"x": 1}, TypeError, "Keypair.__new__() got an unexpected keyword argument 'x'"),
    ((bytes(33),), {}, ValueError, "invalid key length: expected 64, got 33"),
    ((bytes(31),), {}, ValueError, "invalid key length: expected 64, got 31"),
    (("",), {}, ValueError, "invalid key length: expected 64, got 0"),
    (("1" * 33,), {}, ValueError, "invalid key length: expected 64, got 33"),
    (("abc0",), {}, ValueError, "invalid base58: provided string contained invalid character '0' at byte 3"),
    (("ab\ncd",), {}, ValueError, "invalid base58: provided string contained invalid character '\\n' at byte 2"),
    (("ab\u00e9cd",), {}, ValueError, "invalid base58: provided string contained non-ascii character starting at byte 2"),
])
def test_keypair_constructor_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as e:
        Keypair(*args, **kwargs)
    assert type(e.value) is exc and str(e.value) == message


def test_sixty_four_bytes_whose_halves_disagree_are_refused():
    a = Keypair()
    mismatched = a.secret_key() + Keypair().to_bytes()[32:]
    not_a_point = a.secret_key() + bytes([2]) + bytes(31)  # y = 2 has no x on the curve
    for raw in (mismatched, not_a_point):
        for make in (Keypair, Keypair.from_bytes, lambda r: Keypair(base58.b58encode(r).decode())):
            with pytest.raises(ValueError, match="^keypair public key does not match its secret key$"):
                make(raw)


def test_keypairs_are_immutable_and_refuse_copying():
    # A copy through the default reduce would call Keypair() and silently
    # produce a fresh random key.
    k = Keypair()
    for fn in (copy.copy, copy.deepcopy):
        with pytest.raises(TypeError):
            fn(k)
    with pytest.raises(AttributeError):
        k.pubkey = "x"


@given(raw=st.one_of(shaped_bytes(32), st.binary(max_size=70)),
       text=st.text(alphabet=ALPHABET + "0OIl+ é", max_size=50))
def test_validators_agree_with_the_base58_package(raw, text):
    encoded = base58.b58encode(raw).decode()
    assert _native.validate_pubkey(encoded) is _native.validate_hash(encoded) is (len(raw) == 32)
    expected = all(c in ALPHABET for c in text) and len(base58.b58decode(text)) == 32
    assert _native.validate_pubkey(text) is _native.validate_hash(text) is expected


@pytest.mark.parametrize("text, valid", [("1" * 32, True), ("", False), ("1" * 31, False), ("1" * 33, False)]
                         + [(base58.b58encode(b"\xff" * 32).decode()[:-1] + c, False) for c in "0OIl"])
def test_validator_examples(text, valid):
    assert _native.validate_pubkey(text) is _native.validate_hash(text) is valid


def test_random_hash_is_32_random_bytes_in_base58():
    values = {_native.random_hash() for _ in range(200)}
    assert len(values) == 200
    assert all(base58.b58encode(base58.b58decode(v)).decode() == v and _native.validate_hash(v) for v in values)


def test_current_timestamp_is_wall_clock_and_unique_across_threads():
    before, start = time.time_ns(), threading.Barrier(4)

    def worker(_):
        start.wait()
        return [_native.current_timestamp() for _ in range(5000)]

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(worker, range(4)))
    assert all(values[0] >= before and all(b > a for a, b in zip(values, values[1:])) for values in results)
    everything = [v for values in results for v in values]
    assert len(set(everything)) == len(everything)
