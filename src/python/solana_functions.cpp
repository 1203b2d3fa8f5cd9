// The Solana funding functions: USDC deposit and withdrawal-intent
// instructions (as dicts) and unsigned transactions (as base64 text).
#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"

#include "fyrn/solana.hpp"

namespace fyrn::py {
namespace {

enum Key : size_t { kProgramId, kAccounts, kData, kPubkey, kIsSigner, kIsWritable };
constexpr std::string_view kKeyNames[] = {"program_id", "accounts", "data", "pubkey", "is_signer", "is_writable"};
KeyTable g_keys(kKeyNames);

// set_item sets dict[keys[k]] = value; false with an exception set when value
// is empty or the insertion fails.
bool set_item(PyObject* dict, PyObject* const* keys, Key k, PyRef value) {
  return value && PyDict_SetItem(dict, keys[k], value.get()) == 0;
}

PyRef text(const std::string& s) { return PyRef::steal(text_to_py(s)); }

PyRef flag(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyRef bytes(const std::vector<uint8_t>& data) {
  return PyRef::steal(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size())));
}

// instruction_dict renders ix with keys in their documented order.
PyObject* instruction_dict(const solana::Instruction& ix) {
  PyObject* const* keys = g_keys.keys();
  if (keys == nullptr) return nullptr;
  PyRef accounts = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(ix.accounts.size())));
  if (!accounts) return nullptr;
  for (size_t i = 0; i < ix.accounts.size(); ++i) {
    const auto& meta = ix.accounts[i];
    PyRef entry = PyRef::steal(PyDict_New());
    if (!entry || !set_item(entry.get(), keys, kPubkey, text(meta.pubkey)) ||
        !set_item(entry.get(), keys, kIsSigner, flag(meta.is_signer)) ||
        !set_item(entry.get(), keys, kIsWritable, flag(meta.is_writable))) {
      return nullptr;
    }
    PyList_SET_ITEM(accounts.get(), static_cast<Py_ssize_t>(i), entry.release());
  }
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || !set_item(dict.get(), keys, kProgramId, text(ix.program_id)) ||
      !set_item(dict.get(), keys, kAccounts, std::move(accounts)) ||
      !set_item(dict.get(), keys, kData, bytes(ix.data))) {
    return nullptr;
  }
  return dict.release();
}

// build binds (owner, amount) and builds the instruction; the
// export functions bind recent_blockhash as well and check it only after the
// instruction was built, so owner and amount errors come first.
template <const CallSpec& Spec>
PyObject* build(bool deposit, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr bool export_tx = Spec.n_params == 3;
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    std::string_view owner, blockhash;
    uint64_t amount = 0;
    if (!to_text(argv[0], "owner", owner) || !to_u64(argv[1], "amount", amount)) return nullptr;
    if constexpr (export_tx) {
      if (!to_text(argv[2], "recent_blockhash", blockhash)) return nullptr;
    }
    auto ix = solana::instruction(owner, amount, deposit);
    if (!ix) return raise_error(ix.error());
    if constexpr (!export_tx) return instruction_dict(*ix);
    auto tx = solana::export_transaction(*ix, blockhash);
    if (!tx) return raise_error(tx.error());
    return text_to_py(*tx);
  });
}

}  // namespace

FYRN_PY_FUNCTION(build_deposit_instruction) {
  (void)module;
  return build<kBuildDeposit>(true, args, nargs, kwnames);
}

FYRN_PY_FUNCTION(build_withdraw_intent_instruction) {
  (void)module;
  return build<kBuildWithdrawIntent>(false, args, nargs, kwnames);
}

FYRN_PY_FUNCTION(export_deposit_transaction) {
  (void)module;
  return build<kExportDeposit>(true, args, nargs, kwnames);
}

FYRN_PY_FUNCTION(export_withdraw_intent_transaction) {
  (void)module;
  return build<kExportWithdrawIntent>(false, args, nargs, kwnames);
}

}  // namespace fyrn::py
