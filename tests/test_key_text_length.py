"""Key and hash texts of any length: the errors name the decoded length a full
decode gives, computed here independently with Python integers (and, for a
million characters, from the leading '1's and the leading digits with 80-digit
decimal logarithms); over-long texts are answered without a quadratic decode."""

import decimal
import random

import pytest

import _native

ALPHABET = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
INDEX = {c: i for i, c in enumerate(ALPHABET)}
ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1.0, "size": 1.0}
SIGNER = _native.Signer(_native.Keypair(bytes([3]) * 32), "devnet")


def b58_value(text):
    """The number the digits write, split in halves so that long texts stay cheap."""
    if len(text) <= 64:
        v = 0
        for c in text:
            v = v * 58 + INDEX[c]
        return v
    h = len(text) // 2
    return b58_value(text[:h]) * 58 ** (len(text) - h) + b58_value(text[h:])


def ones(text):
    return len(text) - len(text.lstrip("1"))


def exact_length(text):
    return ones(text) + (b58_value(text[ones(text):]).bit_length() + 7) // 8


def length_from_leading_digits(text, t=30):
    """Decoded length from the leading '1's, the digit count and the first t
    digits: log2 of the value lies in [log2 P, log2 (P + 1)) + (d - t) log2 58."""
    digits = text[ones(text):]
    d = len(digits)
    p = b58_value(digits[:t])
    with decimal.localcontext() as ctx:
        ctx.prec = 80
        ln2 = decimal.Decimal(2).ln()
        rest = (d - t) * decimal.Decimal(58).ln() / ln2
        lo = decimal.Decimal(p).ln() / ln2 + rest
        hi = decimal.Decimal(p + 1).ln() / ln2 + rest
    assert int(lo // 8) == int(hi // 8), "the leading digits do not settle this length"
    return ones(text) + int(lo // 8) + 1


def errors(text):
    """What every key or hash reader says about text (None: accepted)."""

    def outcome(call):
        try:
            call()
            return None
        except ValueError as e:
            return str(e)

    return {
        "pubkey": (_native.validate_pubkey(text), outcome(lambda: _native.compute_order_id_from_order(ORDER, 1, text))),
        "hash": (_native.validate_hash(text),
                 outcome(lambda: SIGNER.sign({"type": "cancel", "symbol": "ETH-USD", "order_id": text}, 1))),
        "keypair": outcome(lambda: _native.Keypair.from_base58(text)),
    }


def expected(n):
    """The same, from the decoded length n of a well-formed text."""
    keypair = None if n in (32, 64) else f"invalid key length: expected 64, got {n}"
    if n == 64:  # 64 bytes of text hardly ever hold a matching keypair
        keypair = "keypair public key does not match its secret key"
    return {
        "pubkey": (n == 32, None if n == 32 else f"invalid key length: expected 32, got {n}"),
        "hash": (n == 32, None if n == 32 else f"invalid hash length: expected 32 bytes, got {n}"),
        "keypair": keypair,
    }


def boundary_texts():
    rng = random.Random(58)
    texts = []
    for n in range(40, 101):
        texts.append("".join(rng.choice(ALPHABET) for _ in range(n)))
        texts.append("1" * rng.randrange(1, 12) + "".join(rng.choice(ALPHABET[1:]) for _ in range(n - 12)))
        texts += ["z" * n, "1" * n, "1" * (n - 44) + "z" * 44]
    # Next to a power of 256 only a full decode settles the length.
    for k in range(28, 72):
        for v in (256**k - 1, 256**k, 256**k + 1):
            digits = ""
            while v:
                v, r = divmod(v, 58)
                digits = ALPHABET[r] + digits
            texts += [digits, "11" + digits]
    return texts


@pytest.mark.parametrize("text", boundary_texts(), ids=lambda t: f"{len(t)}:{t[:8]}")
def test_lengths_around_the_key_sizes(text):
    assert errors(text) == expected(exact_length(text))


def test_the_independent_length_oracles_agree():
    rng = random.Random(7)
    for n in (200, 3000, 20000):
        text = "1" * rng.randrange(5) + "".join(rng.choice(ALPHABET[1:]) for _ in range(n))
        assert length_from_leading_digits(text) == exact_length(text)


def huge_texts():
    rng = random.Random(1)
    million = 1_000_000
    return [
        "z" * million,
        "2" + "1" * (million - 1),
        "1" * (million // 2) + "z" * (million // 2),
        "".join(rng.choice(ALPHABET) for _ in range(million)),
    ]


@pytest.mark.parametrize("text", huge_texts(), ids=["all-z", "two-then-ones", "half-ones", "random"])
def test_a_million_characters_get_the_full_decode_length(text):
    assert errors(text) == expected(length_from_leading_digits(text))


@pytest.mark.parametrize("bad, message", [
    ("0", "provided string contained invalid character '0' at byte 999999"),
    ("\u00e9", "provided string contained non-ascii character starting at byte 999999"),
])
def test_a_million_characters_with_a_bad_last_one(bad, message):
    text = "z" * 999_999 + bad
    reported = errors(text)
    assert reported["keypair"] == reported["pubkey"][1] == reported["hash"][1] == "invalid base58: " + message
    assert reported["pubkey"][0] is reported["hash"][0] is False
