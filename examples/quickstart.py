"""fyrn-keychain quickstart: what `make demo` runs.

Each section is a small, self-contained step; later sections (signing,
external wallets, Solana funding) build on the keypair made in the first."""

import _native
from _native import Keypair


def section(title):
    print(f"\n== {title} ==")


def keys():
    section("Keypairs")
    kp = Keypair()  # fresh random Ed25519 key
    print("new keypair:      ", repr(kp))
    print("public key:       ", kp.pubkey)

    # The 64-byte serial form is secret seed || public key; the 32-byte seed
    # alone is enough to rebuild the key.
    assert Keypair(kp.to_bytes()).pubkey == kp.pubkey
    assert Keypair(kp.to_base58()).pubkey == kp.pubkey
    assert Keypair.from_bytes(kp.secret_key()).pubkey == kp.pubkey
    print("round trips:       bytes (64), base58 (64), secret seed (32) -> same public key")

    try:
        Keypair(b"\x00" * 33)
    except ValueError as e:
        print("bad key length:   ", e)
    return kp


def validation(kp):
    section("Validating keys and hashes")
    for text in (kp.pubkey, "1" * 32, "not-base58-0OIl", ""):
        print(f"  {text!r:48} valid public key: {_native.validate_pubkey(text)}")
    client_order_id = _native.random_hash()
    print(f"random_hash() -> {client_order_id}  valid hash: {_native.validate_hash(client_order_id)}")


def clock():
    section("Nonce clock")
    a, b = _native.current_timestamp(), _native.current_timestamp()
    print(f"current_timestamp(): {a} then {b} (strictly increasing nanoseconds)")


def main():
    kp = keys()
    validation(kp)
    clock()


if __name__ == "__main__":
    main()
