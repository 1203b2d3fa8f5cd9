"""The secret seed never shows: not in any repr or str of Keypair or Signer,
nor in any text, argument or attribute of the errors raised while keys are
parsed — as raw bytes, hex, or the base58 of the seed or of the 64-byte
keypair (the forms a caller may have passed in)."""

import base58
import nacl.signing
import pytest

import _native as N

SEED = bytes(range(101, 133))
FULL = SEED + bytes(nacl.signing.SigningKey(SEED).verify_key)
FORMS = [SEED, FULL, SEED.hex(), SEED.hex().upper(), FULL.hex(), base58.b58encode(SEED).decode(),
         base58.b58encode(FULL).decode()]
SEED58 = base58.b58encode(SEED).decode()
FULL58 = base58.b58encode(FULL).decode()


def exposed(value, seen=None):
    """Every text and byte string reachable from value: reprs, strs, args and
    attributes of exceptions (and their causes and contexts)."""
    seen = set() if seen is None else seen
    if id(value) in seen:
        return []
    seen.add(id(value))
    out = []
    if isinstance(value, (str, bytes, bytearray)):
        out.append(value)
    for render in (repr, str):
        try:
            out.append(render(value))
        except Exception:
            pass
    if isinstance(value, BaseException):
        for name in dir(value):
            if name.startswith("__") or name == "with_traceback":
                continue
            out += exposed(getattr(value, name, None), seen)
        out += exposed(value.args, seen)
        for linked in (value.__cause__, value.__context__):
            if linked is not None:
                out += exposed(linked, seen)
    elif isinstance(value, (tuple, list)):
        for v in value:
            out += exposed(v, seen)
    return out


def leaks(value):
    found = []
    for text in exposed(value):
        for form in FORMS:
            if type(form) is type(text) or (isinstance(text, (bytes, bytearray)) and isinstance(form, bytes)):
                if form in text:
                    found.append((form, text))
    return found


def test_objects_show_only_the_public_key():
    kp = N.Keypair(SEED)
    signer = N.Signer(kp, "devnet")
    for obj in (kp, signer, N.Signer.from_base58(FULL58, "mainnet"),
                N.Signer.with_nonce_manager(kp, "counter", "testnet")):
        assert not leaks(obj) and kp.pubkey in repr(obj)


# Key material a caller might pass, broken in the ways that reach each error.
BAD_KEYS = [
    ("33-byte secret", lambda: N.Keypair(SEED + b"\x00")),
    ("33-byte secret, from_bytes", lambda: N.Keypair.from_bytes(SEED + b"\x07")),
    ("63 bytes", lambda: N.Keypair.from_bytes(FULL[:-1])),
    ("public half mismatch", lambda: N.Keypair(SEED + bytes(32))),
    ("public half mismatch, text", lambda: N.Keypair.from_base58(base58.b58encode(SEED + bytes([1]) * 32).decode())),
    ("secret text plus a digit", lambda: N.Keypair(SEED58 + "2")),
    ("secret text, bad character", lambda: N.Keypair.from_base58(SEED58 + "0")),
    ("secret text, NUL", lambda: N.Keypair(FULL58 + "\x00")),
    ("secret text, non-ASCII", lambda: N.Keypair(FULL58 + "é")),
    ("secret text, lone surrogate", lambda: N.Keypair(SEED58 + "\ud800")),
    ("keypair text, lone surrogates inside", lambda: N.Keypair.from_base58(FULL58[:40] + "\udc80\ud800" + FULL58[40:])),
    ("signer from text, lone surrogate", lambda: N.Signer.from_base58(FULL58 + "\ud800", "devnet")),
    ("signer from text, bad network", lambda: N.Signer.from_base58(FULL58, "moon")),
    ("signer from text, 33 bytes", lambda: N.Signer.from_base58(base58.b58encode(SEED + b"\0").decode(), "devnet")),
    ("hex instead of base58", lambda: N.Keypair.from_base58(SEED.hex())),
    ("bytearray", lambda: N.Keypair.from_bytes(bytearray(SEED))),
    ("text as bytes", lambda: N.Keypair.from_base58(SEED58.encode())),
    ("two keys", lambda: N.Keypair(SEED, FULL)),
]


@pytest.mark.parametrize("name, call", BAD_KEYS, ids=[b[0] for b in BAD_KEYS])
def test_key_parsing_errors_do_not_carry_the_secret(name, call):
    with pytest.raises((ValueError, TypeError)) as info:
        call()
    assert not leaks(info.value), leaks(info.value)[:1]


def test_surrogate_error_keeps_its_type_position_and_message():
    # Only the text is hidden: type, span, reason and str() stay as the codec gives them.
    text = SEED58[:5] + "\ud800\udc00" + SEED58[5:]
    with pytest.raises(UnicodeEncodeError) as ours:
        N.Keypair(text)
    with pytest.raises(UnicodeEncodeError) as codec:
        text.encode("utf-8")
    e, ref = ours.value, codec.value
    assert (e.encoding, e.start, e.end, e.reason, str(e)) == (ref.encoding, ref.start, ref.end, ref.reason, str(ref))
    assert len(e.object) == len(text) and e.object[e.start:e.end] == text[e.start:e.end]
