// exports.hpp: what each area file exports. module.cpp registers these in the
// module's fixed order; each area file ends with its rows (signature,
// implementation, docstring, see binder.hpp).
#pragma once

#include "pyref.hpp"

#include <span>

namespace fyrn::py {

std::span<PyMethodDef> wallet_functions();    // wallet_functions.cpp: wallet message modes
std::span<PyMethodDef> solana_functions();    // solana_functions.cpp: USDC deposits and withdrawal intents
PyTypeObject* keypair_type();                 // keypair_type.cpp: class Keypair
PyTypeObject* signer_type();                  // signer_type.cpp: class Signer
std::span<PyMethodDef> utility_functions();   // utility_functions.cpp: hashes, timestamps, key checks
std::span<PyMethodDef> order_id_functions();  // order_id_functions.cpp: order identifiers
std::span<PyMethodDef> prepare_functions();   // prepare_functions.cpp: preparation for external wallets

}  // namespace fyrn::py
