// module.cpp: the _native module: its export table and initialisation.
//
// The table below is the module's whole public surface, in registration
// order. Each function is one line: its name, its text signature and its
// docstring; the "name(params)\n--\n\n" prefix is what the interpreter turns
// into __text_signature__.
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

#define FYRN_FUNCTION(fn, params, doc) \
  Export { {#fn, as_cfunction(&fn), METH_FASTCALL | METH_KEYWORDS, #fn params "\n--\n\n" doc}, nullptr }
#define FYRN_NOARGS(fn, doc) \
  Export { {#fn, &noargs<&fn>, METH_NOARGS, #fn "()\n--\n\n" doc}, nullptr }
#define FYRN_CLASS(name, type_fn) \
  Export { {name, nullptr, 0, nullptr}, &type_fn }

// Registration order is fixed; it is part of the module's contract.
Export g_exports[] = {
    // Here, in this order: prepare_wallet_message, finalize_wallet_message.

    FYRN_FUNCTION(export_deposit_transaction, "(owner, amount, recent_blockhash)",
                  "Export a base64 unsigned mainnet USDC deposit transaction for wallet signing."),
    FYRN_FUNCTION(export_withdraw_intent_transaction, "(owner, amount, recent_blockhash)",
                  "Export a base64 unsigned mainnet USDC withdrawal-intent transaction for wallet signing."),
    FYRN_FUNCTION(build_deposit_instruction, "(owner, amount)",
                  "Build an unsigned mainnet USDC deposit instruction, with amount in base units."),
    FYRN_FUNCTION(build_withdraw_intent_instruction, "(owner, amount)",
                  "Build an unsigned mainnet USDC withdrawal intent; no tokens transfer in this instruction."),

    FYRN_CLASS("Keypair", keypair_type),
    FYRN_CLASS("Signer", signer_type),

    FYRN_NOARGS(random_hash, "Generate a random hash (for client order IDs)"),
    FYRN_NOARGS(current_timestamp, "Get the current Unix timestamp in nanoseconds"),
    FYRN_FUNCTION(validate_pubkey, "(s)", "Validate a base58-encoded public key"),
    FYRN_FUNCTION(validate_hash, "(s)", "Validate a base58-encoded hash"),
    FYRN_FUNCTION(compute_order_id, "(wincode_bytes)",
                  "Compute SHA256 hash from raw bytes.\n\n"
                  "This is a raw utility and does not apply FYRN order-ID canonicalization."),
    FYRN_FUNCTION(compute_order_id_from_order, "(order, nonce, account)",
                  "Compute order ID from an order JSON object without a private key.\n\nSupports:\n"
                  "- Simplified shape: {\"type\": \"order\", ...}\n"
                  "- Compact API shape: {\"l\": {...}} / {\"m\": {...}}\n\n"
                  "Returns `None` for non-order actions (cancel/modify/cancel-all)."),

    // Here, in this order: py_prepare_order, py_prepare_all_orders, py_prepare_order_group,
    // py_prepare_agent_wallet_auth, py_prepare_approve_builder_code,
    // py_prepare_update_liquidator_config, py_prepare_approve_commission_fee,
    // py_prepare_revoke_builder_code, py_prepare_revoke_commission_fee,
    // py_prepare_faucet_request, py_prepare_create_sub_account,
    // py_prepare_remove_sub_account, py_prepare_transfer, py_finalize_transaction.
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
