"""Type stubs for the _native extension module (fyrn-keychain)."""

from typing import Any, final, overload

@final
class Keypair:
    """Ed25519 keypair for signing transactions"""

    # No argument: a fresh random key. One argument: base58 text or bytes of a
    # 32-byte secret seed or the 64-byte seed || public key.
    @overload
    def __new__(cls) -> Keypair: ...
    @overload
    def __new__(cls, key: str | bytes, /) -> Keypair: ...
    @staticmethod
    def from_base58(s: str) -> Keypair:
        """Create from base58-encoded secret key or full keypair"""
    @staticmethod
    def from_bytes(bytes: bytes) -> Keypair:
        """Create from raw bytes (32-byte secret or 64-byte keypair)"""
    @property
    def pubkey(self) -> str:
        """Get the public key as base58 string"""
    def to_base58(self) -> str:
        """Get the full keypair as base58 (64 bytes)"""
    def to_bytes(self) -> bytes:
        """Get the full keypair as bytes (64 bytes)"""
    def secret_key(self) -> bytes:
        """Get the secret key as bytes (32 bytes)"""

def random_hash() -> str:
    """Generate a random hash (for client order IDs)"""

def current_timestamp() -> int:
    """Get the current Unix timestamp in nanoseconds"""

def validate_pubkey(s: str) -> bool:
    """Validate a base58-encoded public key"""

def validate_hash(s: str) -> bool:
    """Validate a base58-encoded hash"""

def compute_order_id_from_order(order: dict[str, Any], nonce: int, account: str) -> str | None:
    """Compute order ID from an order JSON object without a private key.

    Supports:
    - Simplified shape: {"type": "order", ...}
    - Compact API shape: {"l": {...}} / {"m": {...}}

    Returns `None` for non-order actions (cancel/modify/cancel-all)."""
