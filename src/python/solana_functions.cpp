// solana_functions.cpp: the Solana funding functions, USDC deposit and
// withdrawal-intent instructions (as dicts) and unsigned transactions (as
// base64 text).
#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "exports.hpp"
#include "key_table.hpp"

#include "fyrn/solana.hpp"

namespace fyrn::py {
namespace {

constexpr std::string_view kKeyNames[] = {"program_id", "accounts", "data", "pubkey", "is_signer", "is_writable"};
KeyTable<kKeyNames> g_keys;

// set_item sets dict[key] = value; false with an exception set when value is
// empty or the insertion fails.
bool set_item(PyObject* dict, PyObject* key, PyRef value) {
  return value && PyDict_SetItem(dict, key, value.get()) == 0;
}

PyRef text(const std::string& s) { return PyRef::steal(text_to_py(s)); }

PyRef flag(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyRef bytes(const std::vector<uint8_t>& data) {
  return PyRef::steal(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()), static_cast<Py_ssize_t>(data.size())));
}

// instruction_dict renders ix with keys in their documented order.
PyObject* instruction_dict(const solana::Instruction& ix) {
  auto k = g_keys.keys();
  if (!k) return nullptr;
  PyRef accounts = PyRef::steal(new_list(ix.accounts.size()));
  if (!accounts) return nullptr;
  for (size_t i = 0; i < ix.accounts.size(); ++i) {
    const auto& meta = ix.accounts[i];
    PyRef entry = PyRef::steal(PyDict_New());
    if (!entry || !set_item(entry.get(), k["pubkey"], text(meta.pubkey)) ||
        !set_item(entry.get(), k["is_signer"], flag(meta.is_signer)) ||
        !set_item(entry.get(), k["is_writable"], flag(meta.is_writable))) {
      return nullptr;
    }
    PyList_SET_ITEM(accounts.get(), static_cast<Py_ssize_t>(i), entry.release());
  }
  Tracking().filled(accounts.get());
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || !set_item(dict.get(), k["program_id"], text(ix.program_id)) ||
      !set_item(dict.get(), k["accounts"], std::move(accounts)) ||
      !set_item(dict.get(), k["data"], bytes(ix.data))) {
    return nullptr;
  }
  return dict.release();
}

// funding converts (owner, amount) and builds the instruction; the export
// functions convert recent_blockhash too, but decode it only after the
// instruction was built, so that owner and amount errors come first.
template <bool Deposit, bool Export>
PyObject* funding(PyObject* const* argv) {
  std::string_view owner, blockhash;
  uint64_t amount = 0;
  if (!to_text(argv[0], "owner", owner) || !to_u64(argv[1], "amount", amount)) return nullptr;
  if constexpr (Export) {
    if (!to_text(argv[2], "recent_blockhash", blockhash)) return nullptr;
  }
  auto ix = solana::instruction(owner, amount, Deposit);
  if (!ix) return raise_error(ix.error());
  if constexpr (!Export) return instruction_dict(*ix);
  auto tx = solana::export_transaction(*ix, blockhash);
  if (!tx) return raise_error(tx.error());
  return text_to_py(*tx);
}

PyObject* export_deposit_transaction(PyObject* const* argv) { return funding<true, true>(argv); }
PyObject* export_withdraw_intent_transaction(PyObject* const* argv) { return funding<false, true>(argv); }
PyObject* build_deposit_instruction(PyObject* const* argv) { return funding<true, false>(argv); }
PyObject* build_withdraw_intent_instruction(PyObject* const* argv) { return funding<false, false>(argv); }

PyMethodDef g_functions[] = {
    function<"export_deposit_transaction(owner, amount, recent_blockhash)", export_deposit_transaction>(
        "Export a base64 unsigned mainnet USDC deposit transaction for wallet signing."),
    function<"export_withdraw_intent_transaction(owner, amount, recent_blockhash)",
             export_withdraw_intent_transaction>(
        "Export a base64 unsigned mainnet USDC withdrawal-intent transaction for wallet signing."),
    function<"build_deposit_instruction(owner, amount)", build_deposit_instruction>(
        "Build an unsigned mainnet USDC deposit instruction, with amount in base units."),
    function<"build_withdraw_intent_instruction(owner, amount)", build_withdraw_intent_instruction>(
        "Build an unsigned mainnet USDC withdrawal intent; no tokens transfer in this instruction."),
};

}  // namespace

std::span<PyMethodDef> solana_functions() { return g_functions; }

}  // namespace fyrn::py
