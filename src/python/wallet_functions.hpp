// wallet_functions.hpp: what the wallet-message functions share with the
// Signer class (the functions themselves are the rows of wallet_functions.cpp).
#pragma once

#include "convert.hpp"
#include "pyref.hpp"

#include <string_view>

#include "fyrn/wallet.hpp"

namespace fyrn::py {

// validated_wallet_from_py reads a wallet dict and checks it against the
// wallet message its prepared record determines; `out` is the rebuilt record,
// `forms` (when given) receives the prepared dict's reusable objects
// (prepared_from_py). False with an exception set on failure.
bool validated_wallet_from_py(PyObject* dict, fyrn::WalletMessage& out, PreparedForms* forms = nullptr);

// finalize_wallet finalises a validated wallet message with `signature`, which
// must verify over the mode's bytes, and returns the signed-transaction dict;
// `forms` as for signed_to_py.
PyObject* finalize_wallet(fyrn::WalletMessage wallet, std::string_view signature,
                          const PreparedForms* forms = nullptr);

}  // namespace fyrn::py
