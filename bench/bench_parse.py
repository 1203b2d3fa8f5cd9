"""Order-dictionary parsing against the cost of one Ed25519 signature.

Floor: PyNaCl's SigningKey.sign of a 91-byte message (the size of a one-order
signing message): libsodium plus a thin Python call. Target: parsing a typical
limit order costs under 5% of it.

Rows:
- compute_order_id_from_order on a typical limit order: the whole public call
  (binding, account decoding, parse, SHA-256 identifier, base58 text);
- the same minus the same call on {"type": "cancel_all"} (binding, account and
  a one-key parse): parse plus identifier, an upper bound on the parse alone."""

import nacl.signing

import _native
from benchlib import ns_per_call, print_table

ACCOUNT = "2ZjTR1vUs2pHXyTLxtFDhN2tS5wEfn9NwWZYXwPv2m4q"
NONCE = 1_700_000_000_000_000_000
TYPICAL = {
    "type": "order",
    "symbol": "BTC-USD",
    "is_buy": True,
    "price": 50000.5,
    "size": 0.25,
    "reduce_only": False,
    "order_type": {"type": "limit", "tif": "GTC"},
}
WITH_EXTRAS = {**TYPICAL, "client_id": "4vJ9JU1bJJE96FWSJKvHsmmFADCg4gpZQff4P3bkLKi",
               "builder_code": {"to": ACCOUNT, "fee": 5}}
MINIMAL = {"type": "cancel_all"}


def run():
    key = nacl.signing.SigningKey.generate()
    message = bytes(91)
    compute = _native.compute_order_id_from_order
    assert compute(TYPICAL, NONCE, ACCOUNT) is not None and compute(MINIMAL, NONCE, ACCOUNT) is None

    floor = ns_per_call(lambda: key.sign(message))
    full = ns_per_call(lambda: compute(TYPICAL, NONCE, ACCOUNT))
    extras = ns_per_call(lambda: compute(WITH_EXTRAS, NONCE, ACCOUNT))
    minimal = ns_per_call(lambda: compute(MINIMAL, NONCE, ACCOUNT))
    rows = [
        ("floor: PyNaCl sign, 91 bytes", floor),
        ("compute_order_id_from_order, typical limit", full),
        ("  + client_id and builder_code", extras),
        ("  minus cancel_all call (parse + id)", full - minimal),
    ]
    print_table("Parsing a limit order dict vs one Ed25519 signature", "floor: PyNaCl sign, 91 bytes", rows)
    parse_ns = full - minimal
    print(f"  typical limit order parse: {100 * parse_ns / floor:.1f}% of a signature (target < 5%)")
    return dict(rows)


if __name__ == "__main__":
    run()
