// wallet_functions.cpp: prepare_wallet_message and finalize_wallet_message,
// the prepared message in one of the wallet signature modes ("raw", "base58",
// "offchain" with its clear-sign text) and back.
#include "wallet_functions.hpp"

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "exports.hpp"
#include "key_table.hpp"
#include "parse_util.hpp"
#include "read_prepared.hpp"

namespace fyrn::py {
namespace {

constexpr std::string_view kKeyNames[] = {"prepared", "signature_mode", "message_bytes", "clear_sign_message"};
KeyTable<kKeyNames> g_keys;

// The mode names, in the order of the mode codes.
constexpr std::string_view kModeNames[] = {"raw", "base58", "offchain"};
KeyTable<kModeNames> g_modes;

bool mode_from(std::string_view text, fyrn::SignatureMode& out) {
  auto mode = fyrn::signature_mode_from_str(text);
  if (!mode) return raise_error(mode.error());
  out = *mode;
  return true;
}

// prepared_arg reads a prepared dict ("PyDict" TypeError, unprefixed when
// param is null, for anything else), and its reusable objects.
bool prepared_arg(PyObject* obj, const char* param, fyrn::PreparedMessage& out, PreparedForms* forms) {
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict", param);
  return prepared_from_py(obj, out, forms);
}

// wallet_to_py returns the wallet dict: "prepared", "signature_mode",
// "message_bytes", "clear_sign_message", in that order. `forms` belong to the
// prepared record (prepared_to_py).
PyObject* wallet_to_py(const fyrn::WalletMessage& wallet, const PreparedForms* forms) {
  auto k = g_keys.keys();
  if (!k) return nullptr;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyRef prepared = PyRef::steal(prepared_to_py(wallet.prepared, forms));
  auto modes = g_modes.keys();
  if (!modes) return nullptr;
  static_assert(static_cast<size_t>(fyrn::SignatureMode::Offchain) + 1 == std::size(kModeNames));
  PyRef mode = PyRef::borrow(modes.at(static_cast<size_t>(wallet.signature_mode)));
  PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(wallet.message.data()),
                                                       static_cast<Py_ssize_t>(wallet.message.size())));
  PyRef text = wallet.clear_sign_message ? PyRef::steal(text_to_py(*wallet.clear_sign_message))
                                         : PyRef::borrow(Py_None);
  if (!prepared || !mode || !bytes || !text || PyDict_SetItem(dict.get(), k["prepared"], prepared.get()) < 0 ||
      PyDict_SetItem(dict.get(), k["signature_mode"], mode.get()) < 0 ||
      PyDict_SetItem(dict.get(), k["message_bytes"], bytes.get()) < 0 ||
      PyDict_SetItem(dict.get(), k["clear_sign_message"], text.get()) < 0) {
    return nullptr;
  }
  return dict.release();
}

// wallet_from_py reads a wallet dict: "prepared" and "signature_mode" present,
// the mode a str, the prepared dict, the mode's name, "message_bytes", then
// the optional "clear_sign_message".
bool wallet_from_py(PyObject* dict, fyrn::WalletMessage& out, PreparedForms* forms) {
  auto k = g_keys.keys();
  if (!k) return false;
  PyRef prepared;
  PyRef mode;
  std::string_view mode_text;
  fyrn::WalletMessage wallet;
  if (!parse::require(dict, k["prepared"], "Missing 'prepared'", prepared) ||
      !parse::require(dict, k["signature_mode"], "Missing 'signature_mode'", mode) ||
      !to_text(mode.get(), nullptr, mode_text) || !prepared_arg(prepared.get(), nullptr, wallet.prepared, forms) ||
      !mode_from(mode_text, wallet.signature_mode)) {
    return false;
  }
  PyRef v;
  if (!parse::require(dict, k["message_bytes"], "Missing 'message_bytes'", v) ||
      !bytes_from_py(v.get(), wallet.message)) {
    return false;
  }
  if (!parse::get(dict, k["clear_sign_message"], v)) return false;
  if (v && v.get() != Py_None) {
    std::string text;
    if (!to_text(v.get(), nullptr, text)) return false;
    wallet.clear_sign_message = std::move(text);
  }
  out = std::move(wallet);
  return true;
}

}  // namespace

bool validated_wallet_from_py(PyObject* dict, fyrn::WalletMessage& out, PreparedForms* forms) {
  fyrn::WalletMessage given;
  if (!wallet_from_py(dict, given, forms)) return false;
  auto rebuilt = fyrn::validate_wallet_message(std::move(given));
  if (!rebuilt) return raise_error(rebuilt.error());
  out = std::move(rebuilt).value();
  return true;
}

PyObject* finalize_wallet(fyrn::WalletMessage wallet, std::string_view signature, const PreparedForms* forms) {
  auto tx = fyrn::finalize_with_message(std::move(wallet.prepared), signature, &wallet.message);
  if (!tx) return raise_error(tx.error());
  return signed_to_py(*tx, nullptr, forms);
}

namespace {

PyObject* prepare_wallet_message(PyObject* const* argv) {
  std::string_view mode_text;
  fyrn::PreparedMessage prepared;
  PreparedForms forms;
  fyrn::SignatureMode mode;
  // The mode's type is checked before anything of the prepared dict is read.
  if (!to_text(argv[1], "mode", mode_text) || !prepared_arg(argv[0], "prepared", prepared, &forms) ||
      !mode_from(mode_text, mode)) {
    return nullptr;
  }
  auto wallet = fyrn::prepare_wallet_message(std::move(prepared), mode);
  if (!wallet) return raise_error(wallet.error());
  return wallet_to_py(*wallet, &forms);
}

PyObject* finalize_wallet_message(PyObject* const* argv) {
  std::string_view signature;
  fyrn::WalletMessage wallet;
  PreparedForms forms;
  if (!dict_arg(argv[0], "wallet") || !to_text(argv[1], "signature", signature) ||
      !validated_wallet_from_py(argv[0], wallet, &forms)) {
    return nullptr;
  }
  return finalize_wallet(std::move(wallet), signature, &forms);
}

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

PyMethodDef g_functions[] = {
    function<"prepare_wallet_message(prepared, mode)", prepare_wallet_message>(kPrepareWalletMessageDoc),
    function<"finalize_wallet_message(wallet, signature)", finalize_wallet_message>(""),
};

}  // namespace

std::span<PyMethodDef> wallet_functions() { return g_functions; }

}  // namespace fyrn::py
