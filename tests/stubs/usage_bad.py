"""Wrong uses of _native; mypy must flag exactly the lines marked `# E: <code>`."""

import _native
from _native import Keypair

_native.validate_pubkey(1)  # E: arg-type
_native.validate_hash(b"x")  # E: arg-type
Keypair(bytearray(32))  # E: call-overload
Keypair("a", "b")  # E: call-overload
Keypair.from_bytes("text")  # E: arg-type
length: int = Keypair().pubkey  # E: assignment
_native.random_hash(1)  # E: call-arg
Keypair().pubkey = "x"  # E: misc
_native.Signer(Keypair(), "devnet").sign_all({})  # E: arg-type
_native.Signer("key", "devnet")  # E: arg-type
_native.py_prepare_order(order={}, signature_domain="devnet")  # E: call-arg
_native.py_finalize_transaction({}, b"sig")  # E: arg-type
