// keypair_type.hpp: the `Keypair` class, a Python handle on one fyrn::Keypair.
#pragma once

#include "pyref.hpp"

#include "fyrn/keys.hpp"

namespace fyrn::py {

// keypair_type returns the Keypair class, creating it on first use (at module
// import). Returns nullptr with the panic exception set if the interpreter
// cannot create it.
PyTypeObject* keypair_type();

// keypair_of returns the keypair held by obj, or nullptr if obj is not a
// Keypair instance (no exception is set). The pointer lives as long as obj.
const fyrn::Keypair* keypair_of(PyObject* obj);

}  // namespace fyrn::py
