"""Typed use of _native; must pass `mypy --strict` against the shipped stubs."""

import _native
from _native import Keypair


def round_trip(seed: bytes) -> str:
    k = Keypair(seed)
    again: Keypair = Keypair.from_base58(k.to_base58())
    same: Keypair = Keypair.from_bytes(bytes=again.to_bytes())
    secret: bytes = same.secret_key()
    assert Keypair(secret).pubkey == k.pubkey
    return Keypair().pubkey


ok: bool = _native.validate_pubkey(round_trip(bytes(32))) and _native.validate_hash(s=_native.random_hash())
now: int = _native.current_timestamp()

signer = _native.Signer.with_nonce_manager(Keypair(), "counter", "devnet")
order = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1.0, "size": 1.0}
first_id: object = signer.sign(order, nonce=1).get("order_id")
nonces: list[int] = [tx["nonce"] for tx in signer.sign_all([order] * 3, base_nonce=None)]
signature: str = signer.sign_bytes(b"")

prepared: dict[str, object] = _native.py_prepare_order(order, "devnet", Keypair().pubkey, nonce=5)
batch: list[dict[str, object]] = _native.py_prepare_all_orders([order], "devnet", Keypair().pubkey, base_nonce=1)
