// utility_functions.cpp: random_hash, current_timestamp, validate_pubkey,
// validate_hash.
#include <string>

#include "binder.hpp"
#include "convert.hpp"
#include "exports.hpp"

#include "fyrn/base58.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/nonce.hpp"

namespace fyrn::py {
namespace {

PyObject* random_hash(PyObject* const*) {
  uint8_t bytes[32];
  fyrn::random_bytes(bytes, sizeof bytes);
  return text_to_py(fyrn::base58::encode_32(bytes));
}

PyObject* current_timestamp(PyObject* const*) { return PyLong_FromUnsignedLongLong(fyrn::next_timestamp()); }

PyObject* validate_pubkey(PyObject* const* argv) {
  std::string_view text;
  if (!to_text(argv[0], "s", text)) return nullptr;
  return PyBool_FromLong(fyrn::Pubkey::from_base58(text).ok());
}

PyObject* validate_hash(PyObject* const* argv) {
  std::string_view text;
  if (!to_text(argv[0], "s", text)) return nullptr;
  return PyBool_FromLong(fyrn::Hash::from_base58(text).ok());
}

PyMethodDef g_functions[] = {
    function<"random_hash()", random_hash>("Generate a random hash (for client order IDs)"),
    function<"current_timestamp()", current_timestamp>("Get the current Unix timestamp in nanoseconds"),
    function<"validate_pubkey(s)", validate_pubkey>("Validate a base58-encoded public key"),
    function<"validate_hash(s)", validate_hash>("Validate a base58-encoded hash"),
};

}  // namespace

std::span<PyMethodDef> utility_functions() { return g_functions; }

}  // namespace fyrn::py
