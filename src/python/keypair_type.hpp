// keypair_type.hpp: the `Keypair` class, a Python handle on one fyrn::Keypair,
// as the Signer class reads it (the class itself: keypair_type() in exports.hpp).
#pragma once

#include "pyref.hpp"

#include "fyrn/keys.hpp"

namespace fyrn::py {

// keypair_of returns the keypair held by obj, or nullptr if obj is not a
// Keypair instance (no exception is set). The pointer lives as long as obj.
const fyrn::Keypair* keypair_of(PyObject* obj);

}  // namespace fyrn::py
