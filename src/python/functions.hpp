// functions.hpp: the module-level functions, each METH_FASTCALL | METH_KEYWORDS,
// and their parameter lists. module.cpp registers them in their fixed order with
// their docstrings; each area file defines its own.
//
// A function without parameters is registered as METH_NOARGS through an adapter
// in module.cpp (so the interpreter rejects arguments in its own words); it still
// binds its empty CallSpec, which keeps it correct if called as fastcall.
#pragma once

#include "binder.hpp"
#include "pyref.hpp"

#define FYRN_PY_FUNCTION(name) \
  PyObject* name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

namespace fyrn::py {

// wallet messages (wallet_functions.cpp)
FYRN_FUNCTION_SPEC(kPrepareWalletMessage, "prepare_wallet_message", 2, "prepared", "mode");
FYRN_FUNCTION_SPEC(kFinalizeWalletMessage, "finalize_wallet_message", 2, "wallet", "signature");
FYRN_PY_FUNCTION(prepare_wallet_message);
FYRN_PY_FUNCTION(finalize_wallet_message);

// Solana funding (solana_functions.cpp)
FYRN_FUNCTION_SPEC(kExportDeposit, "export_deposit_transaction", 3, "owner", "amount", "recent_blockhash");
FYRN_FUNCTION_SPEC(kExportWithdrawIntent, "export_withdraw_intent_transaction", 3, "owner", "amount",
                   "recent_blockhash");
FYRN_FUNCTION_SPEC(kBuildDeposit, "build_deposit_instruction", 2, "owner", "amount");
FYRN_FUNCTION_SPEC(kBuildWithdrawIntent, "build_withdraw_intent_instruction", 2, "owner", "amount");
FYRN_PY_FUNCTION(export_deposit_transaction);
FYRN_PY_FUNCTION(export_withdraw_intent_transaction);
FYRN_PY_FUNCTION(build_deposit_instruction);
FYRN_PY_FUNCTION(build_withdraw_intent_instruction);

// utilities (utility_functions.cpp)
FYRN_FUNCTION_SPEC(kRandomHash, "random_hash", 0);
FYRN_FUNCTION_SPEC(kCurrentTimestamp, "current_timestamp", 0);
FYRN_FUNCTION_SPEC(kValidatePubkey, "validate_pubkey", 1, "s");
FYRN_FUNCTION_SPEC(kValidateHash, "validate_hash", 1, "s");
FYRN_PY_FUNCTION(random_hash);
FYRN_PY_FUNCTION(current_timestamp);
FYRN_PY_FUNCTION(validate_pubkey);
FYRN_PY_FUNCTION(validate_hash);

// order identifiers (order_id_functions.cpp, order_id_from_order.cpp)
FYRN_FUNCTION_SPEC(kComputeOrderId, "compute_order_id", 1, "wincode_bytes");
FYRN_FUNCTION_SPEC(kComputeOrderIdFromOrder, "compute_order_id_from_order", 3, "order", "nonce", "account");
FYRN_PY_FUNCTION(compute_order_id);
FYRN_PY_FUNCTION(compute_order_id_from_order);

// preparation for external wallets (prepare_functions.cpp)
#define FYRN_COMMON "signature_domain", "account", "signer", "nonce"
FYRN_FUNCTION_SPEC(kPrepareOrder, "py_prepare_order", 3, "order", FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareAllOrders, "py_prepare_all_orders", 3, "orders", "signature_domain", "account", "signer",
                   "base_nonce");
FYRN_FUNCTION_SPEC(kPrepareOrderGroup, "py_prepare_order_group", 3, "orders", FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareAgentWalletAuth, "py_prepare_agent_wallet_auth", 4, "agent_pubkey", "delete",
                   FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareApproveBuilderCode, "py_prepare_approve_builder_code", 4, "to_pubkey", "fee",
                   FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareUpdateLiquidatorConfig, "py_prepare_update_liquidator_config", 3, "config",
                   FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareApproveCommissionFee, "py_prepare_approve_commission_fee", 4, "to_pubkey", "fee",
                   FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareRevokeBuilderCode, "py_prepare_revoke_builder_code", 3, "to_pubkey", FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareRevokeCommissionFee, "py_prepare_revoke_commission_fee", 3, "to_pubkey", FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareFaucetRequest, "py_prepare_faucet_request", 2, FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareCreateSubAccount, "py_prepare_create_sub_account", 3, "name", "signature_domain",
                   "account", "margin_amount", "signer", "nonce");
FYRN_FUNCTION_SPEC(kPrepareRemoveSubAccount, "py_prepare_remove_sub_account", 3, "to_remove", FYRN_COMMON);
FYRN_FUNCTION_SPEC(kPrepareTransfer, "py_prepare_transfer", 5, "from_pubkey", "to_pubkey", "margin_amount",
                   "signature_domain", "account", "kind", "signer", "nonce");
FYRN_FUNCTION_SPEC(kFinalizeTransaction, "py_finalize_transaction", 2, "prepared", "signature");
#undef FYRN_COMMON
FYRN_PY_FUNCTION(py_prepare_order);
FYRN_PY_FUNCTION(py_prepare_all_orders);
FYRN_PY_FUNCTION(py_prepare_order_group);
FYRN_PY_FUNCTION(py_prepare_agent_wallet_auth);
FYRN_PY_FUNCTION(py_prepare_approve_builder_code);
FYRN_PY_FUNCTION(py_prepare_update_liquidator_config);
FYRN_PY_FUNCTION(py_prepare_approve_commission_fee);
FYRN_PY_FUNCTION(py_prepare_revoke_builder_code);
FYRN_PY_FUNCTION(py_prepare_revoke_commission_fee);
FYRN_PY_FUNCTION(py_prepare_faucet_request);
FYRN_PY_FUNCTION(py_prepare_create_sub_account);
FYRN_PY_FUNCTION(py_prepare_remove_sub_account);
FYRN_PY_FUNCTION(py_prepare_transfer);
FYRN_PY_FUNCTION(py_finalize_transaction);

}  // namespace fyrn::py
