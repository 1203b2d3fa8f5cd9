// module.cpp: the _native module: its export table and initialisation.
//
// The table below is the module's whole public surface, in registration
// order. Each function is one entry: its parameter list (functions.hpp, which
// also gives its name and text signature) and its docstring.
#include <atomic>
#include <cstdint>

#include "binder.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "keypair_type.hpp"
#include "signer_type.hpp"
#include "pyref.hpp"

namespace fyrn::py {
namespace {

using FastcallFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// A function without parameters is registered as METH_NOARGS so that the
// interpreter's own "takes no arguments" TypeError applies to it.
template <FastcallFunction Fn>
PyObject* noargs(PyObject* module, PyObject*) {
  return Fn(module, nullptr, 0, nullptr);
}

// Export is one module attribute: a function (def) or a class (type != nullptr).
struct Export {
  PyMethodDef def;
  PyTypeObject* (*type)();
};

#define FYRN_FUNCTION(spec, fn, doc) \
  Export { method_def(spec, as_cfunction(&fn), METH_FASTCALL | METH_KEYWORDS, doc), nullptr }
#define FYRN_NOARGS(spec, fn, doc) \
  Export { method_def(spec, &noargs<&fn>, METH_NOARGS, doc), nullptr }
#define FYRN_CLASS(name, type_fn) \
  Export { {name, nullptr, 0, nullptr}, &type_fn }

constexpr char kPrepareOrderDoc[] =
    "Prepare a single order for external wallet signing\n\n"
    "Use this when you don't have access to the private key and need\n"
    "to sign with an external wallet.\n\n"
    "Args:\n"
    "    order: Order dict with type, symbol, is_buy, price, size, etc.\n"
    "    account: Account public key (base58)\n"
    "    signer: Signer public key (defaults to account)\n"
    "    nonce: Transaction nonce (defaults to current timestamp)\n\n"
    "Returns:\n"
    "    PreparedMessage dict with message_bytes to sign\n\n"
    "Example:\n"
    "    prepared = prepare_order(order, \"account_pubkey\")\n"
    "    signature = wallet.sign_message(prepared[\"message_bytes\"])\n"
    "    signed = finalize_transaction(prepared, signature)";
constexpr char kFinalizeDoc[] =
    "Finalize a prepared message with a signature from an external wallet\n\n"
    "Args:\n"
    "    prepared: PreparedMessage dict from prepare_* functions\n"
    "    signature: Base58-encoded signature from wallet\n\n"
    "Returns:\n"
    "    SignedTransaction dict ready for API submission\n\n"
    "Example:\n"
    "    prepared = prepare_order(order, \"account_pubkey\")\n"
    "    signature = wallet.sign_message(prepared[\"message_bytes\"])\n"
    "    signed = finalize_transaction(prepared, signature)";
// The rendering is a wire format: the exchange rebuilds these exact bytes to
// check an offchain signature, so caller texts are copied into it unescaped.
constexpr char kPrepareWalletMessageDoc[] =
    "Wrap a prepared message (a prepare_* result) for an external wallet.\n\n"
    "mode is \"raw\" (sign message_bytes), \"base58\" (sign the ASCII of its base58 text)\n"
    "or \"offchain\" (sign a Solana off-chain message whose body is a human-readable\n"
    "clear-sign text of the transaction, returned as clear_sign_message).\n\n"
    "The clear-sign text copies symbols, names and ids as given, line feeds included,\n"
    "so a crafted symbol can imitate another line. A wallet should show the\n"
    "Signable-Hash and Actions lines: they bind the text to the exact signing bytes.\n\n"
    "Returns:\n"
    "    dict with prepared, signature_mode, message_bytes (the bytes to sign)\n"
    "    and clear_sign_message (str or None)";
constexpr char kApproveDoc[] = "Prepare builder-code recipient approval for external signing";
constexpr char kRevokeDoc[] = "Prepare builder-code recipient revocation for external signing";

// Registration order is fixed; it is part of the module's contract.
Export g_exports[] = {
    FYRN_FUNCTION(kPrepareWalletMessage, prepare_wallet_message, kPrepareWalletMessageDoc),
    FYRN_FUNCTION(kFinalizeWalletMessage, finalize_wallet_message, ""),

    FYRN_FUNCTION(kExportDeposit, export_deposit_transaction,
                  "Export a base64 unsigned mainnet USDC deposit transaction for wallet signing."),
    FYRN_FUNCTION(kExportWithdrawIntent, export_withdraw_intent_transaction,
                  "Export a base64 unsigned mainnet USDC withdrawal-intent transaction for wallet signing."),
    FYRN_FUNCTION(kBuildDeposit, build_deposit_instruction,
                  "Build an unsigned mainnet USDC deposit instruction, with amount in base units."),
    FYRN_FUNCTION(kBuildWithdrawIntent, build_withdraw_intent_instruction,
                  "Build an unsigned mainnet USDC withdrawal intent; no tokens transfer in this instruction."),

    FYRN_CLASS("Keypair", keypair_type),
    FYRN_CLASS("Signer", signer_type),

    FYRN_NOARGS(kRandomHash, random_hash, "Generate a random hash (for client order IDs)"),
    FYRN_NOARGS(kCurrentTimestamp, current_timestamp, "Get the current Unix timestamp in nanoseconds"),
    FYRN_FUNCTION(kValidatePubkey, validate_pubkey, "Validate a base58-encoded public key"),
    FYRN_FUNCTION(kValidateHash, validate_hash, "Validate a base58-encoded hash"),
    FYRN_FUNCTION(kComputeOrderId, compute_order_id,
                  "Compute SHA256 hash from raw bytes.\n\n"
                  "This is a raw utility and does not apply FYRN order-ID canonicalization."),
    FYRN_FUNCTION(kComputeOrderIdFromOrder, compute_order_id_from_order,
                  "Compute order ID from an order JSON object without a private key.\n\nSupports:\n"
                  "- Simplified shape: {\"type\": \"order\", ...}\n"
                  "- Compact API shape: {\"l\": {...}} / {\"m\": {...}}\n\n"
                  "Returns `None` for non-order actions (cancel/modify/cancel-all)."),

    FYRN_FUNCTION(kPrepareOrder, py_prepare_order, kPrepareOrderDoc),
    FYRN_FUNCTION(kPrepareAllOrders, py_prepare_all_orders,
                  "Prepare multiple orders - each becomes its own transaction (parallel)\n\n"
                  "Optimized for HFT: each order gets independent confirmation/rejection.\n\n"
                  "Example:\n"
                  "    prepared_list = prepare_all_orders([order1, order2], \"account_pubkey\")"),
    FYRN_FUNCTION(kPrepareOrderGroup, py_prepare_order_group,
                  "Prepare multiple orders as ONE atomic transaction\n\n"
                  "Use for bracket orders (entry + stop loss + take profit).\n\n"
                  "Example:\n"
                  "    bracket = [entry, stop_loss, take_profit]\n"
                  "    prepared = prepare_order_group(bracket, \"account_pubkey\")"),
    FYRN_FUNCTION(kPrepareAgentWalletAuth, py_prepare_agent_wallet_auth,
                  "Prepare agent wallet creation for external signing\n\n"
                  "Example:\n"
                  "    prepared = prepare_agent_wallet_auth(agent_pubkey, False, \"account_pubkey\")"),
    FYRN_FUNCTION(kPrepareApproveBuilderCode, py_prepare_approve_builder_code, kApproveDoc),
    FYRN_FUNCTION(kPrepareUpdateLiquidatorConfig, py_prepare_update_liquidator_config,
                  "Prepare a liquidator config update for external signing"),
    FYRN_FUNCTION(kPrepareApproveCommissionFee, py_prepare_approve_commission_fee, kApproveDoc),
    FYRN_FUNCTION(kPrepareRevokeBuilderCode, py_prepare_revoke_builder_code, kRevokeDoc),
    FYRN_FUNCTION(kPrepareRevokeCommissionFee, py_prepare_revoke_commission_fee, kRevokeDoc),
    FYRN_FUNCTION(kPrepareFaucetRequest, py_prepare_faucet_request, "Prepare faucet request for external signing"),
    FYRN_FUNCTION(kPrepareCreateSubAccount, py_prepare_create_sub_account,
                  "Prepare a sub-account creation for external signing"),
    FYRN_FUNCTION(kPrepareRemoveSubAccount, py_prepare_remove_sub_account,
                  "Prepare a sub-account removal for external signing"),
    FYRN_FUNCTION(kPrepareTransfer, py_prepare_transfer, "Prepare a margin transfer for external signing"),
    FYRN_FUNCTION(kFinalizeTransaction, py_finalize_transaction, kFinalizeDoc),
};

#undef FYRN_FUNCTION
#undef FYRN_NOARGS
#undef FYRN_CLASS

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "High-performance transaction signing for FYRN DEX",
    // Not -1: a re-import (after removing it from sys.modules) then calls the
    // init function again, which hands back the one cached module object.
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The process-wide module object; created once, never released.
PyObject* g_module = nullptr;
// ID of the first interpreter that imported us; -1 until then.
std::atomic<int64_t> g_first_interpreter{-1};
// Set once that interpreter has been finalised. The module object, its classes
// and its interned strings died with it, so an embedding process that starts a
// new interpreter must be refused rather than handed dangling objects.
std::atomic<bool> g_finalized{false};

void mark_finalized() { g_finalized.store(true); }

bool add_exports(PyObject* module) {
  PyRef module_name = PyRef::steal(PyUnicode_FromString(g_module_def.m_name));
  if (!module_name) return false;
  for (Export& entry : g_exports) {
    PyRef value;
    if (entry.type != nullptr) {
      value = PyRef::borrow(reinterpret_cast<PyObject*>(entry.type()));
    } else {
      value = PyRef::steal(PyCFunction_NewEx(&entry.def, module, module_name.get()));
    }
    if (!value || PyModule_AddObjectRef(module, entry.def.ml_name, value.get()) < 0) return false;
  }
  return true;
}

PyObject* create_module() {
  if (!init_panic_type()) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&g_module_def));
  if (!module || !add_exports(module.get())) return nullptr;  // the partial module is dropped
  return module.release();
}

}  // namespace
}  // namespace fyrn::py

PyMODINIT_FUNC PyInit__native(void) {
  using namespace fyrn::py;
  if (g_finalized.load()) {
    PyErr_SetString(PyExc_ImportError,
                    "_native cannot be imported again after the interpreter that first imported it was finalized");
    return nullptr;
  }
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return nullptr;
  int64_t first = -1;
  if (!g_first_interpreter.compare_exchange_strong(first, id) && first != id) {
    PyErr_SetString(PyExc_ImportError,
                    "_native does not support sub-interpreters: it can only be imported by the interpreter "
                    "that imported it first");
    return nullptr;
  }
  if (g_module == nullptr) {
    g_module = create_module();
    if (g_module == nullptr) return nullptr;
    // Without room for the hook the guard above is lost; the import itself is still sound.
    (void)Py_AtExit(&mark_finalized);
  }
  Py_INCREF(g_module);
  return g_module;
}
