// module.cpp: the _native module: its exports, in registration order, and its
// initialisation.
#include <atomic>
#include <cstdint>
#include <span>

#include "errors.hpp"
#include "exports.hpp"
#include "pyref.hpp"

namespace fyrn::py {
namespace {

// Export is one area's share of the module: its functions, or one class.
struct Export {
  std::span<PyMethodDef> (*functions)();
  PyTypeObject* (*type)();
};

// The module's attributes in their fixed registration order, which is part of
// its contract. The names, parameters and docstrings of every exported
// callable (the rows at the end of each area file) are interface text, quoted
// exactly: they must not be reworded, also where their grammar or their
// examples look wrong.
constexpr Export kExports[] = {
    {&wallet_functions, nullptr},    // prepare_wallet_message, finalize_wallet_message
    {&solana_functions, nullptr},    // export_* / build_* for USDC deposits and withdrawal intents
    {nullptr, &keypair_type},        // Keypair
    {nullptr, &signer_type},         // Signer
    {&utility_functions, nullptr},   // random_hash, current_timestamp, validate_pubkey, validate_hash
    {&order_id_functions, nullptr},  // compute_order_id, compute_order_id_from_order
    {&prepare_functions, nullptr},   // py_prepare_*, py_finalize_transaction
};

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
  for (const Export& entry : kExports) {
    if (entry.type != nullptr) {
      PyTypeObject* type = entry.type();
      if (type == nullptr || PyModule_AddType(module, type) < 0) return false;
      continue;
    }
    for (PyMethodDef& def : entry.functions()) {
      PyRef function = PyRef::steal(PyCFunction_NewEx(&def, module, module_name.get()));
      if (!function || PyModule_AddObjectRef(module, def.ml_name, function.get()) < 0) return false;
    }
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
