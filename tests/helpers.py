"""Checks shared by the tests: exact errors, and PyNaCl over base58 texts."""

import base58
import nacl.exceptions
import nacl.signing
import pytest


def raises(exc, text, call, *args, **kwargs):
    """call(*args, **kwargs) raises exactly exc, with exactly text (any text for
    None; for a text ending in "*", one that starts with the rest)."""
    with pytest.raises(exc) as info:
        call(*args, **kwargs)
    got = str(info.value)
    assert type(info.value) is exc, repr(info.value)
    assert text is None or (got.startswith(text[:-1]) if text.endswith("*") else got == text), got
    return info.value


def b58(raw):
    return base58.b58encode(raw).decode()


def wallet_sign(key, data):
    """The base58 signature an external wallet holding the PyNaCl key gives."""
    return b58(key.sign(bytes(data)).signature)


def verify(tx, msg):
    """PyNaCl strict verify of tx's signature over msg, by tx's signer key."""
    try:
        nacl.signing.VerifyKey(base58.b58decode(tx["signer"])).verify(msg, base58.b58decode(tx["signature"]))
        return True
    except nacl.exceptions.BadSignatureError:
        return False


def keys_in_byte_order(value):
    """Every dict in value has its keys in ascending UTF-8 byte order."""
    stack = [value]
    while stack:
        v = stack.pop()
        if isinstance(v, dict):
            assert list(v) == sorted(v, key=lambda k: k.encode()), list(v)
            stack.extend(v.values())
        elif isinstance(v, list):
            stack.extend(v)
