"""Type stubs for the _native extension module (fyrn-keychain)."""

from collections.abc import Sequence
from typing import Any, TypedDict, final, overload

class _AccountMeta(TypedDict):
    pubkey: str
    is_signer: bool
    is_writable: bool

class _Instruction(TypedDict):
    program_id: str
    accounts: list[_AccountMeta]
    data: bytes

# A wallet message: prepared (the prepared dict), signature_mode, message_bytes
# (the bytes the wallet signs) and clear_sign_message (offchain mode only).
_WalletMessage = dict[str, Any]

def prepare_wallet_message(prepared: dict[str, Any], mode: str) -> _WalletMessage:
    """Wrap a prepared message (a prepare_* result) for an external wallet.

    The clear-sign text of "offchain" mode copies caller texts unescaped; a
    wallet should show its Signable-Hash and Actions lines."""

def finalize_wallet_message(wallet: _WalletMessage, signature: str) -> dict[str, Any]: ...
def export_deposit_transaction(owner: str, amount: int, recent_blockhash: str) -> str:
    """Export a base64 unsigned mainnet USDC deposit transaction for wallet signing."""

def export_withdraw_intent_transaction(owner: str, amount: int, recent_blockhash: str) -> str:
    """Export a base64 unsigned mainnet USDC withdrawal-intent transaction for wallet signing."""

def build_deposit_instruction(owner: str, amount: int) -> _Instruction:
    """Build an unsigned mainnet USDC deposit instruction, with amount in base units."""

def build_withdraw_intent_instruction(owner: str, amount: int) -> _Instruction:
    """Build an unsigned mainnet USDC withdrawal intent; no tokens transfer in this instruction."""

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

# A signed transaction: actions, nonce, account, signer, signature, and
# order_id / order_ids when computed.
_SignedTransaction = dict[str, Any]
_OrderDict = dict[str, Any]
# A prepared message: message_bytes (and its base58 / base64 / hex renderings),
# order_id or order_ids when the action has them, actions, account, signer,
# nonce. Read back, message_bytes may be any sequence of ints 0..255.
_PreparedMessage = dict[str, Any]

@final
class Signer:
    """High-performance transaction signer"""

    def __new__(cls, keypair: Keypair, signature_domain: str) -> Signer: ...
    @staticmethod
    def from_base58(s: str, signature_domain: str) -> Signer:
        """Create a signer from base58-encoded secret key"""
    @staticmethod
    def with_nonce_manager(keypair: Keypair, strategy: str, signature_domain: str) -> Signer:
        """Create a signer with nonce management"""
    @property
    def pubkey(self) -> str:
        """Get the signer's public key"""
    def set_compute_order_id(self, enabled: bool) -> None:
        """Enable/disable single-order ID computation."""
    def set_compute_batch_order_ids(self, enabled: bool) -> None:
        """Enable/disable batch order ID computation for multi-order transactions."""
    def computes_order_id(self) -> bool:
        """Whether single-order ID computation is enabled."""
    def computes_batch_order_ids(self) -> bool:
        """Whether batch order ID computation is enabled."""
    def sign_bytes(self, message: bytes) -> str:
        """Sign raw message bytes and return a base58 Ed25519 signature."""
    def sign(self, order: _OrderDict, nonce: int | None = None) -> _SignedTransaction:
        """Sign a single order/cancel/cancelAll"""
    def sign_all(self, orders: list[_OrderDict], base_nonce: int | None = None) -> list[_SignedTransaction]:
        """Sign multiple orders - each becomes its own transaction (parallel)"""
    def sign_group(self, orders: list[_OrderDict], nonce: int | None = None) -> _SignedTransaction:
        """Sign multiple orders atomically in ONE transaction"""
    def sign_faucet(self, nonce: int | None = None) -> _SignedTransaction:
        """Sign a faucet request (testnet only)"""
    def sign_agent_wallet(self, agent_pubkey: str, delete: bool, nonce: int | None = None) -> _SignedTransaction:
        """Sign agent wallet creation/deletion"""
    def sign_approve_builder_code(self, to_pubkey: str, fee: int, nonce: int | None = None) -> _SignedTransaction:
        """Sign builder-code recipient approval (`abc`)"""
    def sign_approve_commission_fee(self, to_pubkey: str, fee: int, nonce: int | None = None) -> _SignedTransaction:
        """Sign builder-code recipient approval (`abc`)"""
    def sign_revoke_builder_code(self, to_pubkey: str, nonce: int | None = None) -> _SignedTransaction:
        """Sign builder-code recipient revocation (`rbc`)"""
    def sign_revoke_commission_fee(self, to_pubkey: str, nonce: int | None = None) -> _SignedTransaction:
        """Sign builder-code recipient revocation (`rbc`)"""
    def sign_user_settings(
        self, max_leverage: Sequence[tuple[str, float]], nonce: int | None = None
    ) -> _SignedTransaction:
        """Sign user settings update"""
    def sign_update_liquidator_config(self, config: dict[str, Any], nonce: int | None = None) -> _SignedTransaction:
        """Sign a liquidator config update (`liq`)"""
    def sign_oracle_prices(
        self, oracles: Sequence[tuple[int, str, float]], nonce: int | None = None
    ) -> _SignedTransaction:
        """Sign one or more oracle price updates (`px`)"""
    def sign_pyth_oracle(
        self, oracles: Sequence[tuple[int, int, int, int]], nonce: int | None = None
    ) -> _SignedTransaction:
        """Sign a batch Pyth oracle update (`o`)"""
    def sign_remove_sub_account(self, to_remove: str, nonce: int | None = None) -> _SignedTransaction:
        """Sign a sub-account removal"""
    def sign_transfer(
        self,
        from_pubkey: str,
        to_pubkey: str,
        margin_amount: float,
        kind: str | None = None,
        nonce: int | None = None,
    ) -> _SignedTransaction:
        """Sign a margin transfer between accounts."""
    def sign_create_sub_account(
        self, name: str, margin_amount: float | None = None, nonce: int | None = None
    ) -> _SignedTransaction:
        """Sign a sub-account creation (optional initial margin transfer)"""
    def sign_whitelist_faucet(self, target_pubkey: str, whitelist: bool, nonce: int | None = None) -> _SignedTransaction:
        """Sign whitelist/un-whitelist faucet access (`whitelistFaucet`)"""
    def sign_order(self, orders: list[_OrderDict], nonce: int | None = None) -> _SignedTransaction:
        """Deprecated: Use sign() for single, sign_all() for batch, sign_group() for atomic"""
    def sign_orders_batch(
        self, batches: list[list[_OrderDict]], base_nonce: int | None = None
    ) -> list[_SignedTransaction]:
        """Deprecated: Use sign_all() instead"""
    def sign_prepared(self, prepared: _PreparedMessage) -> _SignedTransaction:
        """Sign a prepared message and finalize it into a signed transaction."""
    def sign_wallet_prepared(self, wallet: _WalletMessage) -> _SignedTransaction:
        """Sign a wallet mode with this signer's key and configured network."""

def random_hash() -> str:
    """Generate a random hash (for client order IDs)"""

def current_timestamp() -> int:
    """Get the current Unix timestamp in nanoseconds"""

def validate_pubkey(s: str) -> bool:
    """Validate a base58-encoded public key"""

def validate_hash(s: str) -> bool:
    """Validate a base58-encoded hash"""

def compute_order_id(wincode_bytes: bytes) -> str:
    """Compute SHA256 hash from raw bytes.

    This is a raw utility and does not apply FYRN order-ID canonicalization."""

def compute_order_id_from_order(order: dict[str, Any], nonce: int, account: str) -> str | None:
    """Compute order ID from an order JSON object without a private key.

    Supports:
    - Simplified shape: {"type": "order", ...}
    - Compact API shape: {"l": {...}} / {"m": {...}}

    Returns `None` for non-order actions (cancel/modify/cancel-all)."""

def py_prepare_order(
    order: _OrderDict, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare a single order for external wallet signing"""

def py_prepare_all_orders(
    orders: list[_OrderDict],
    signature_domain: str,
    account: str,
    signer: str | None = None,
    base_nonce: int | None = None,
) -> list[_PreparedMessage]:
    """Prepare multiple orders - each becomes its own transaction (parallel)"""

def py_prepare_order_group(
    orders: list[_OrderDict], signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare multiple orders as ONE atomic transaction"""

def py_prepare_agent_wallet_auth(
    agent_pubkey: str,
    delete: bool,
    signature_domain: str,
    account: str,
    signer: str | None = None,
    nonce: int | None = None,
) -> _PreparedMessage:
    """Prepare agent wallet creation for external signing"""

def py_prepare_approve_builder_code(
    to_pubkey: str, fee: int, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare builder-code recipient approval for external signing"""

def py_prepare_update_liquidator_config(
    config: dict[str, Any], signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare a liquidator config update for external signing"""

def py_prepare_approve_commission_fee(
    to_pubkey: str, fee: int, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare builder-code recipient approval for external signing"""

def py_prepare_revoke_builder_code(
    to_pubkey: str, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare builder-code recipient revocation for external signing"""

def py_prepare_revoke_commission_fee(
    to_pubkey: str, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare builder-code recipient revocation for external signing"""

def py_prepare_faucet_request(
    signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare faucet request for external signing"""

def py_prepare_create_sub_account(
    name: str,
    signature_domain: str,
    account: str,
    margin_amount: float | None = None,
    signer: str | None = None,
    nonce: int | None = None,
) -> _PreparedMessage:
    """Prepare a sub-account creation for external signing"""

def py_prepare_remove_sub_account(
    to_remove: str, signature_domain: str, account: str, signer: str | None = None, nonce: int | None = None
) -> _PreparedMessage:
    """Prepare a sub-account removal for external signing"""

def py_prepare_transfer(
    from_pubkey: str,
    to_pubkey: str,
    margin_amount: float,
    signature_domain: str,
    account: str,
    kind: str | None = None,
    signer: str | None = None,
    nonce: int | None = None,
) -> _PreparedMessage:
    """Prepare a margin transfer for external signing"""

def py_finalize_transaction(prepared: _PreparedMessage, signature: str) -> _SignedTransaction:
    """Finalize a prepared message with a signature from an external wallet"""
