"""base58 encoding of 32- and 64-byte values: _native's fixed-size encoders
(reached through Keypair.pubkey and Keypair.to_base58) against the `base58`
package and a naive pure-Python loop.

Floor: bytes.hex() of the same bytes, the cost of a minimal C call that turns
bytes into a str.

Also: rejecting over-long key text (validate_pubkey), which must stay linear
in the length. Floor: str.count("0") over the same text, one pass over it."""

import base58

import _native
from benchlib import ns_per_call, print_table

ALPHABET = b"123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def naive_b58encode(data):
    n = int.from_bytes(data, "big")
    out = bytearray()
    while n:
        n, r = divmod(n, 58)
        out.append(ALPHABET[r])
    zeros = len(data) - len(data.lstrip(b"\0"))
    return (b"1" * zeros + bytes(reversed(out))).decode()


def run():
    kp = _native.Keypair()
    full = kp.to_bytes()
    pub = full[32:]
    assert kp.pubkey == base58.b58encode(pub).decode() == naive_b58encode(pub)
    assert kp.to_base58() == base58.b58encode(full).decode() == naive_b58encode(full)

    results = {}
    for size, data, native in ((32, pub, lambda: kp.pubkey), (64, full, kp.to_base58)):
        rows = [
            ("floor: bytes.hex()", ns_per_call(data.hex)),
            ("_native", ns_per_call(native)),
            ("base58 package", ns_per_call(lambda: base58.b58encode(data))),
            ("naive Python loop", ns_per_call(lambda: naive_b58encode(data))),
        ]
        print_table(f"base58 encode, {size} bytes", "floor: bytes.hex()", rows)
        ns = dict(rows)
        speedup_pkg = ns["base58 package"] / ns["_native"]
        speedup_naive = ns["naive Python loop"] / ns["_native"]
        print(f"  _native is {speedup_pkg:.1f}x faster than the base58 package, {speedup_naive:.1f}x than the naive loop")
        results[size] = ns
    results["long"] = long_texts()
    return results


def near_power_of_256(k):
    """base58 of 256^k - 1: its length is settled only by decoding it in full."""
    v, digits = 256**k - 1, []
    while v:
        v, r = divmod(v, 58)
        digits.append(ALPHABET[r])
    return bytes(reversed(digits)).decode()


def long_texts():
    rows = []
    for name, text in (
        ("44 chars (a key)", base58.b58encode(bytes(range(1, 33))).decode()),
        ("10,000 'z'", "z" * 10_000),
        ("100,000 'z'", "z" * 100_000),
        ("1,000,000 'z'", "z" * 1_000_000),
        ("crafted 8,191 digits", near_power_of_256(5997)),
    ):
        assert _native.validate_pubkey(text) is (len(text) < 50)
        floor = ns_per_call(lambda: text.count("0"), min_time=0.05)
        native = ns_per_call(lambda: _native.validate_pubkey(text), min_time=0.05)
        rows.append((name, floor, native))
    print("\nvalidate_pubkey on long text (floor: str.count('0') over the same text)")
    print(f"  {'':22}  {'floor ns':>10}  {'_native ns':>12}  {'x floor':>8}")
    for name, floor, native in rows:
        print(f"  {name:22}  {floor:10.1f}  {native:12.1f}  {native / floor:8.1f}")
    return {name: native for name, _, native in rows}


if __name__ == "__main__":
    run()
