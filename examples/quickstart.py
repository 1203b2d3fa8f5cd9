"""fyrn-keychain quickstart: what `make demo` runs.

Each section is a small, self-contained step; later sections (signing,
external wallets, Solana funding) build on the keypair made in the first."""

import math
import struct
import time

import base58
import nacl.signing

import _native
from _native import Keypair, Signer
from solana_funding import show_deposit


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


# The signed message, rebuilt here from its documented layout so that PyNaCl can
# check every signature independently of the library: an optional 21-byte header
# (eight 0xFF bytes, "fyrn-actions", the format level; level 4 when a stop or
# take-profit is present), the u64 count of wire actions, each action as a u32
# tag and its fields, then the u64 nonce, the 32-byte account and the network byte.
NETWORK_BYTE = {"mainnet": 1, "testnet": 2, "devnet": 3}


def _fx(x):  # prices and sizes travel as u64 = x * 1e8, rounded half away from zero
    p = x * 1e8
    whole = math.floor(p)
    return struct.pack("<Q", int(whole + (1 if p - whole >= 0.5 else 0)))


def _text(s):
    return struct.pack("<Q", len(s.encode())) + s.encode()


def _wire(order, level):
    flag = lambda key: bytes([order.get(key, False)])  # noqa: E731
    if order["type"] == "order":  # a GTC limit order
        out = struct.pack("<I", 1) + _text(order["symbol"]) + flag("is_buy") + _fx(order["price"]) + _fx(order["size"])
        out += struct.pack("<I", 0) + flag("reduce_only") + flag("iso")
        return out + (b"\0" if level else b"")  # no builder code
    tag = {"stop": 5, "take_profit": 6}[order["type"]]
    out = struct.pack("<I", tag) + _text(order["symbol"]) + flag("is_buy") + _fx(order["size"])
    return out + _fx(order["trigger_price"]) + b"\0" + flag("iso") + b"\0\0"  # no limit, builder code, slippage


def signed_bytes(orders, tx, network):
    level = 4 if any(o["type"] != "order" for o in orders) else 0
    head = b"\xff" * 8 + b"fyrn-actions" + bytes([level]) if level else b""
    body = struct.pack("<Q", len(orders)) + b"".join(_wire(o, level) for o in orders)
    return head + body + struct.pack("<Q", tx["nonce"]) + base58.b58decode(tx["account"]) + bytes([NETWORK_BYTE[network]])


def verified(orders, tx, network):
    key = nacl.signing.VerifyKey(base58.b58decode(tx["signer"]))
    key.verify(signed_bytes(orders, tx, network), base58.b58decode(tx["signature"]))  # raises if wrong
    return True


def signing():
    section("Signing orders")
    signer = Signer(Keypair(), "devnet")  # a throwaway devnet key
    print("signer:           ", repr(signer))

    order = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 50000.5, "size": 0.25}
    tx = signer.sign(order)  # nonce from the process-wide nanosecond clock
    assert verified([order], tx, "devnet")
    print(f"limit order:       nonce {tx['nonce']}, order_id {tx['order_id']}")
    print(f"                   actions {tx['actions']}")

    # A bracket: entry, stop-loss and take-profit in ONE transaction (one nonce,
    # one signature), so the exchange accepts or rejects them together.
    bracket = [
        order,
        {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 48000.0},
        {"type": "take_profit", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 53000.0},
    ]
    tx = signer.sign_group(bracket)
    assert verified(bracket, tx, "devnet")
    print(f"bracket group:     {len(tx['actions'])} orders, kinds {[next(iter(a)) for a in tx['actions']]}, "
          f"one signature {tx['signature'][:16]}...")

    # A batch: every order its own transaction, nonces base, base+1, ...; signed
    # on all cores (batches of 10 or more use the worker pool).
    orders = [dict(order, price=50000.0 + i, size=0.01 * (1 + i % 5)) for i in range(1000)]
    started = time.perf_counter()
    txs = signer.sign_all(orders)
    elapsed = time.perf_counter() - started
    assert all(verified([o], t, "devnet") for o, t in zip(orders, txs))
    nonces = [t["nonce"] for t in txs]
    assert nonces == list(range(nonces[0], nonces[0] + len(orders)))
    print(f"batch:             {len(txs)} transactions in {elapsed * 1e3:.1f} ms "
          f"({len(txs) / elapsed:,.0f} tx/s), nonces {nonces[0]}..{nonces[-1]}")
    print("verified:          every signature above checked by PyNaCl over independently rebuilt bytes")


def external_wallet():
    section("External wallet: prepare, sign elsewhere, finalise")
    # The account's key lives in a wallet the library never sees; PyNaCl plays
    # that wallet here. Preparation needs only the account's public key.
    wallet = nacl.signing.SigningKey.generate()
    account = base58.b58encode(bytes(wallet.verify_key)).decode()
    order = {"type": "order", "symbol": "ETH-USD", "is_buy": False, "price": 3100.25, "size": 1.5}
    prepared = _native.py_prepare_order(order, "mainnet", account)
    print(f"prepared:          {len(prepared['message_bytes'])} bytes to sign, nonce {prepared['nonce']}, "
          f"order_id {prepared['order_id']}")
    print(f"                   hex {prepared['message_hex'][:48]}...")

    signature = base58.b58encode(wallet.sign(prepared["message_bytes"]).signature).decode()
    signed = _native.py_finalize_transaction(prepared, signature)
    assert signed["signature"] == signature and signed["account"] == account
    print(f"finalised:         signature {signature[:16]}... verified for {account[:8]}...")

    # Finalisation is strict: the record must match the bytes the wallet signed.
    other = base58.b58encode(nacl.signing.SigningKey.generate().sign(prepared["message_bytes"]).signature).decode()
    tampered = [
        ("nonce changed", dict(prepared, nonce=prepared["nonce"] + 1), signature),
        ("account changed", dict(prepared, account=Keypair().pubkey), signature),
        ("another key's signature", prepared, other),
    ]
    for label, record, sig in tampered:
        try:
            _native.py_finalize_transaction(record, sig)
            raise AssertionError(f"{label}: accepted")
        except ValueError as e:
            print(f"  refused, {label + ':':25} {e}")


def clear_sign():
    section("Wallet modes: a clear-sign text the wallet can show")
    # A wallet that can display text signs a Solana off-chain message whose body
    # names the network, account, nonce, a SHA-256 binding it to the exact
    # signing bytes, and one line per action.
    wallet = nacl.signing.SigningKey.generate()
    account = base58.b58encode(bytes(wallet.verify_key)).decode()
    bracket = [
        {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.0, "size": 0.1},
        {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 60000.0},
        {"type": "take_profit", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 70000.0},
    ]
    prepared = _native.py_prepare_order_group(bracket, "mainnet", account)
    message = _native.prepare_wallet_message(prepared, "offchain")
    print(message["clear_sign_message"], end="")
    print(f"off-chain message: {len(message['message_bytes'])} bytes "
          f"(85-byte header + {len(message['clear_sign_message'].encode())}-byte text)")

    signature = base58.b58encode(wallet.sign(message["message_bytes"]).signature).decode()
    signed = _native.finalize_wallet_message(message, signature)
    print(f"finalised:         {len(signed['actions'])} actions, order_ids {len(signed['order_ids'])}, "
          f"signature over the off-chain message {signature[:16]}...")
    edited = dict(message, clear_sign_message=message["clear_sign_message"].replace("Buy", "Sell"))
    try:
        _native.finalize_wallet_message(edited, signature)
        raise AssertionError("an edited text was accepted")
    except ValueError as e:
        print("  refused, edited text:", e)


def solana_funding(kp):
    section("Solana USDC funding")
    show_deposit(owner=kp.pubkey, usdc=25)


def main():
    kp = keys()
    validation(kp)
    clock()
    signing()
    external_wallet()
    clear_sign()
    solana_funding(kp)


if __name__ == "__main__":
    main()
