// utility_functions.cpp: random_hash, current_timestamp, validate_pubkey,
// validate_hash.
#include <string>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "fyrn/base58.hpp"
#include "fyrn/keys.hpp"
#include "fyrn/nonce.hpp"

namespace fyrn::py {
namespace {

// bind_text binds the single text parameter `s`.
template <const CallSpec& Spec>
bool bind_text(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::string_view& out) {
  BoundArgs<Spec> bound;
  return bind_args(args, nargs, kwnames, bound) && to_text(bound[0], "s", out);
}

}  // namespace

FYRN_PY_FUNCTION(random_hash) {
  (void)module;
  return guarded([&]() -> PyObject* {
    if (!bind(kRandomHash, args, nargs, kwnames, nullptr)) return nullptr;
    uint8_t bytes[32];
    fyrn::random_bytes(bytes, sizeof bytes);
    return text_to_py(fyrn::base58::encode_32(bytes));
  });
}

FYRN_PY_FUNCTION(current_timestamp) {
  (void)module;
  return guarded([&]() -> PyObject* {
    if (!bind(kCurrentTimestamp, args, nargs, kwnames, nullptr)) return nullptr;
    return PyLong_FromUnsignedLongLong(fyrn::next_timestamp());
  });
}

FYRN_PY_FUNCTION(validate_pubkey) {
  (void)module;
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!bind_text<kValidatePubkey>(args, nargs, kwnames, text)) return nullptr;
    return PyBool_FromLong(fyrn::Pubkey::from_base58(text).ok());
  });
}

FYRN_PY_FUNCTION(validate_hash) {
  (void)module;
  return guarded([&]() -> PyObject* {
    std::string_view text;
    if (!bind_text<kValidateHash>(args, nargs, kwnames, text)) return nullptr;
    return PyBool_FromLong(fyrn::Hash::from_base58(text).ok());
  });
}

}  // namespace fyrn::py
