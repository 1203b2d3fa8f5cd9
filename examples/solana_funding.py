"""Fund an exchange account with USDC from a Solana wallet.

The library builds the unsigned pieces; the owner's wallet signs and sends
them. A real recent blockhash comes from an RPC node (getLatestBlockhash);
this example uses a random placeholder so that it runs offline.

    PYTHONPATH=build .venv/bin/python examples/solana_funding.py
"""
from __future__ import annotations

import base64

import _native

USDC_DECIMALS = 6


def show_deposit(owner: str | None = None, usdc: int = 25, recent_blockhash: str | None = None) -> str:
    """Print the deposit instruction for `owner` and return its unsigned transaction (base64)."""
    owner = owner or _native.Keypair().pubkey
    recent_blockhash = recent_blockhash or _native.random_hash()
    amount = usdc * 10**USDC_DECIMALS  # base units of the USDC mint

    ix = _native.build_deposit_instruction(owner, amount)
    print(f"deposit of {usdc} USDC from wallet {owner}")
    print(f"  program  {ix['program_id']}")
    for meta in ix["accounts"]:
        flags = ", ".join(name for name, on in (("signer", meta["is_signer"]), ("writable", meta["is_writable"])) if on)
        print(f"  account  {meta['pubkey']:<44}  {flags or 'read-only'}")
    print(f"  data     {ix['data'].hex()}")

    tx = _native.export_deposit_transaction(owner, amount, recent_blockhash)
    print(f"unsigned transaction ({len(base64.b64decode(tx))} bytes), for the wallet to sign:")
    print(f"  {tx}")
    return tx


def show_withdraw_intent(owner: str, usdc: int, recent_blockhash: str) -> str:
    """Return the unsigned withdrawal-intent transaction; no tokens move in it."""
    return _native.export_withdraw_intent_transaction(owner, usdc * 10**USDC_DECIMALS, recent_blockhash)


if __name__ == "__main__":
    wallet = _native.Keypair().pubkey
    show_deposit(wallet)
    print("withdrawal intent:", show_withdraw_intent(wallet, 10, _native.random_hash()))
