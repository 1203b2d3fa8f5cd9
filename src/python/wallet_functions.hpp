// wallet_functions.hpp: what the wallet-message functions share with the
// Signer class (the functions themselves are declared in functions.hpp).
#pragma once

#include "pyref.hpp"

#include <string_view>

#include "fyrn/wallet.hpp"

namespace fyrn::py {

// validated_wallet_from_py reads a wallet dict and checks it against the
// wallet message its prepared record determines; `out` is the rebuilt record,
// `actions` (when given) receives the Python form of the prepared actions
// where the reading could build it (prepared_from_py). False with an
// exception set on failure.
bool validated_wallet_from_py(PyObject* dict, fyrn::WalletMessage& out, PyRef* actions = nullptr);

// finalize_wallet finalises a validated wallet message with `signature`, which
// must verify over the mode's bytes, and returns the signed-transaction dict;
// `actions` as for signed_to_py.
PyObject* finalize_wallet(fyrn::WalletMessage wallet, std::string_view signature, PyObject* actions = nullptr);

}  // namespace fyrn::py
