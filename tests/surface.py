"""Every entry point of _native, in registration order. The tests check it
against the module; fuzz/py_surface.py fuzzes each one's binding and
tools/leaks.py refuses to run without a case for each."""

EXPORTS = [  # the module's attributes besides the standard ones, in order
    "prepare_wallet_message", "finalize_wallet_message", "export_deposit_transaction",
    "export_withdraw_intent_transaction", "build_deposit_instruction", "build_withdraw_intent_instruction",
    "Keypair", "Signer", "random_hash", "current_timestamp", "validate_pubkey", "validate_hash", "compute_order_id",
    "compute_order_id_from_order", "py_prepare_order", "py_prepare_all_orders", "py_prepare_order_group",
    "py_prepare_agent_wallet_auth", "py_prepare_approve_builder_code", "py_prepare_update_liquidator_config",
    "py_prepare_approve_commission_fee", "py_prepare_revoke_builder_code", "py_prepare_revoke_commission_fee",
    "py_prepare_faucet_request", "py_prepare_create_sub_account", "py_prepare_remove_sub_account",
    "py_prepare_transfer", "py_finalize_transaction",
]
METHODS = {  # each class's public members (pubkey is a property)
    "Keypair": ["from_base58", "from_bytes", "to_base58", "to_bytes", "secret_key", "pubkey"],
    "Signer": [
        "from_base58", "with_nonce_manager", "set_compute_order_id", "set_compute_batch_order_ids",
        "computes_order_id", "computes_batch_order_ids", "sign_bytes", "sign", "sign_all", "sign_group", "sign_faucet",
        "sign_agent_wallet", "sign_approve_builder_code", "sign_approve_commission_fee", "sign_revoke_builder_code",
        "sign_revoke_commission_fee", "sign_user_settings", "sign_update_liquidator_config", "sign_oracle_prices",
        "sign_pyth_oracle", "sign_remove_sub_account", "sign_transfer", "sign_create_sub_account",
        "sign_whitelist_faucet", "sign_order", "sign_orders_batch", "sign_prepared", "sign_wallet_prepared", "pubkey",
    ],
}
# "name" for a module function or class, "Class.name" for a class member.
ENTRY_POINTS = EXPORTS + [f"{c}.{m}" for c, ms in METHODS.items() for m in ms]
