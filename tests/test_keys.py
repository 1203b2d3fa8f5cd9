"""Keys, base58 and the utility functions, against independent oracles:
PyNaCl for Ed25519 key derivation and the `base58` package for the text form."""

import copy
import threading
import time

import base58
import nacl.signing
import pytest
from solders.pubkey import Pubkey
from hypothesis import given
from hypothesis import strategies as st

import _native
from _native import Keypair

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"

# Byte strings with many leading zeros and all-0xFF runs, where base58 codecs
# usually go wrong.
def shaped_bytes(n):
    return st.one_of(
        st.binary(min_size=n, max_size=n),
        st.integers(0, n).flatmap(lambda z: st.binary(min_size=n - z, max_size=n - z).map(lambda b: bytes(z) + b)),
        st.integers(0, n).map(lambda z: bytes(z) + b"\xff" * (n - z)),
    )


def reference_keypair(seed):
    return seed + nacl.signing.SigningKey(seed).verify_key.encode()


# --- Keypair -------------------------------------------------------------------


@given(seed=shaped_bytes(32))
def test_keypair_derivation_and_text_forms_match_the_oracles(seed):
    full = reference_keypair(seed)
    k = Keypair.from_bytes(seed)
    assert k.secret_key() == seed
    assert k.to_bytes() == full
    assert k.pubkey == base58.b58encode(full[32:]).decode()
    assert k.to_base58() == base58.b58encode(full).decode()
    assert repr(k) == f"Keypair(pubkey='{k.pubkey}')"
    assert str(k) == k.pubkey


@pytest.mark.parametrize(
    "make",
    [
        lambda k: Keypair(k.to_bytes()),
        lambda k: Keypair(k.to_base58()),
        lambda k: Keypair(k.secret_key()),
        lambda k: Keypair(base58.b58encode(k.secret_key()).decode()),
        lambda k: Keypair.from_bytes(k.to_bytes()),
        lambda k: Keypair.from_base58(k.to_base58()),
        lambda k: Keypair.from_base58(s=k.to_base58()),
        lambda k: Keypair.from_bytes(bytes=k.secret_key()),
    ],
)
def test_keypair_round_trips(make):
    k = Keypair()
    again = make(k)
    assert again.to_bytes() == k.to_bytes()
    assert again.pubkey == k.pubkey


def test_random_keypairs_differ_and_are_valid_ed25519_keys():
    a, b = Keypair(), Keypair()
    assert a.pubkey != b.pubkey
    assert a.to_bytes() == reference_keypair(a.secret_key())


class Text(str):
    pass


class Raw(bytes):
    pass


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        ((1,), {}, TypeError, "key must be a base58 string or bytes"),
        ((bytearray(32),), {}, TypeError, "key must be a base58 string or bytes"),
        ((memoryview(bytes(32)),), {}, TypeError, "key must be a base58 string or bytes"),
        ((None,), {}, TypeError, "key must be a base58 string or bytes"),
        ((b"a", b"b"), {}, TypeError, "expected at most one key"),
        (("a", "b", "c"), {}, TypeError, "expected at most one key"),
        ((), {"key": b"x"}, TypeError, "Keypair.__new__() got an unexpected keyword argument 'key'"),
        ((bytes(32),), {"x": 1}, TypeError, "Keypair.__new__() got an unexpected keyword argument 'x'"),
        ((bytes(33),), {}, ValueError, "invalid key length: expected 64, got 33"),
        ((bytes(31),), {}, ValueError, "invalid key length: expected 64, got 31"),
        ((b"",), {}, ValueError, "invalid key length: expected 64, got 0"),
        (("",), {}, ValueError, "invalid key length: expected 64, got 0"),
        (("1" * 33,), {}, ValueError, "invalid key length: expected 64, got 33"),
        (("abc0",), {}, ValueError, "invalid base58: provided string contained invalid character '0' at byte 3"),
        (("11O",), {}, ValueError, "invalid base58: provided string contained invalid character 'O' at byte 2"),
        (("ab\u00e9cd",), {}, ValueError, "invalid base58: provided string contained non-ascii character starting at byte 2"),
        (("é",), {}, ValueError, "invalid base58: provided string contained non-ascii character starting at byte 0"),
    ],
)
def test_keypair_constructor_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as e:
        Keypair(*args, **kwargs)
    assert type(e.value) is exc
    assert str(e.value) == message


def test_sixty_four_bytes_whose_halves_disagree_are_refused():
    a, b = Keypair(), Keypair()
    mismatched = a.secret_key() + b.to_bytes()[32:]
    not_a_point = a.secret_key() + bytes([2]) + bytes(31)
    assert not Pubkey(not_a_point[32:]).is_on_curve()
    for raw in (mismatched, not_a_point):
        for make in (lambda: Keypair(raw), lambda: Keypair.from_bytes(raw), lambda: Keypair(base58.b58encode(raw).decode())):
            with pytest.raises(ValueError) as e:
                make()
            assert str(e.value) == "keypair public key does not match its secret key"


def test_str_and_bytes_subclasses_are_accepted():
    k = Keypair()
    assert Keypair(Text(k.to_base58())).pubkey == k.pubkey
    assert Keypair(Raw(k.to_bytes())).pubkey == k.pubkey


def test_keypair_class_surface():
    assert Keypair.__doc__ == "Ed25519 keypair for signing transactions"
    assert Keypair.__text_signature__ == "(*args)"
    assert Keypair.__module__ == "_native"
    assert Keypair.from_base58.__text_signature__ == "(s)"
    assert Keypair.from_base58.__doc__ == "Create from base58-encoded secret key or full keypair"
    assert Keypair.from_bytes.__text_signature__ == "(bytes)"
    assert Keypair.from_bytes.__doc__ == "Create from raw bytes (32-byte secret or 64-byte keypair)"
    assert Keypair.to_base58.__doc__ == "Get the full keypair as base58 (64 bytes)"
    assert Keypair.to_bytes.__doc__ == "Get the full keypair as bytes (64 bytes)"
    assert Keypair.secret_key.__doc__ == "Get the secret key as bytes (32 bytes)"
    assert Keypair.pubkey.__doc__ == "Get the public key as base58 string"
    k = Keypair()
    with pytest.raises(AttributeError):
        k.pubkey = "x"
    with pytest.raises(TypeError):
        Keypair.extra = 1  # the class is immutable


def test_copying_never_yields_a_different_key():
    # A silent copy through the default reduce would call Keypair() and
    # produce a fresh random key; refusing is the only safe answer.
    k = Keypair()
    for fn in (copy.copy, copy.deepcopy):
        with pytest.raises(TypeError):
            fn(k)


def test_no_secret_in_the_text_forms():
    k = Keypair()
    secret_text = base58.b58encode(k.secret_key()).decode()
    for text in (repr(k), str(k)):
        assert secret_text not in text and k.to_base58() not in text


# --- validate_pubkey / validate_hash / random_hash -----------------------------


@given(raw=st.one_of(shaped_bytes(32), st.binary(max_size=70)))
def test_validators_agree_with_the_base58_package(raw):
    text = base58.b58encode(raw).decode()
    assert base58.b58decode(text) == raw
    assert _native.validate_pubkey(text) is (len(raw) == 32)
    assert _native.validate_hash(text) is (len(raw) == 32)


@given(text=st.text(alphabet=ALPHABET + "0OIl+/ é", max_size=50))
def test_validators_on_arbitrary_text(text):
    try:
        expected = len(base58.b58decode(text)) == 32
    except ValueError:
        expected = False
    if any(c not in ALPHABET for c in text):
        expected = False
    assert _native.validate_pubkey(text) is expected
    assert _native.validate_hash(text) is expected


@pytest.mark.parametrize(
    "text, valid",
    [
        ("1" * 32, True),
        ("", False),
        ("1" * 31, False),
        ("1" * 33, False),
        (base58.b58encode(b"\xff" * 32).decode(), True),
    ]
    + [(base58.b58encode(b"\xff" * 32).decode()[:-1] + bad, False) for bad in "0OIl"],
)
def test_validator_examples(text, valid):
    assert _native.validate_pubkey(text) is valid
    assert _native.validate_hash(text) is valid


def test_random_hash_is_32_random_bytes_in_base58():
    values = {_native.random_hash() for _ in range(200)}
    assert len(values) == 200
    for value in values:
        assert _native.validate_hash(value)
        raw = base58.b58decode(value)
        assert len(raw) == 32
        assert base58.b58encode(raw).decode() == value


# --- the clock -------------------------------------------------------------------


def test_current_timestamp_is_at_least_wall_clock_and_strictly_increasing():
    before = time.time_ns()
    values = [_native.current_timestamp() for _ in range(10000)]
    assert values[0] >= before
    assert all(b > a for a, b in zip(values, values[1:]))


def test_current_timestamp_is_unique_across_threads():
    n_threads, per_thread = 4, 5000
    results = [None] * n_threads
    start = threading.Barrier(n_threads)

    def worker(slot):
        start.wait()
        results[slot] = [_native.current_timestamp() for _ in range(per_thread)]

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(n_threads)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for values in results:
        assert all(b > a for a, b in zip(values, values[1:]))
    everything = [v for values in results for v in values]
    assert len(set(everything)) == len(everything)
