"""base58 encoding of 32- and 64-byte values: _native's fixed-size encoders
(reached through Keypair.pubkey and Keypair.to_base58) against the `base58`
package and a naive pure-Python loop.

Floor: bytes.hex() of the same bytes, the cost of a minimal C call that turns
bytes into a str."""

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
    return results


if __name__ == "__main__":
    run()
