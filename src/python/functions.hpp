// functions.hpp: the module-level functions, each METH_FASTCALL | METH_KEYWORDS.
// module.cpp registers them in their fixed order; each area file defines its own.
// A function without parameters is registered as METH_NOARGS through an adapter
// in module.cpp (so the interpreter rejects arguments in its own words); it still
// binds an empty CallSpec, which keeps it correct if called as fastcall.
#pragma once

#include "pyref.hpp"

#define FYRN_PY_FUNCTION(name) \
  PyObject* name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

namespace fyrn::py {

// utilities (utility_functions.cpp)
FYRN_PY_FUNCTION(random_hash);
FYRN_PY_FUNCTION(current_timestamp);
FYRN_PY_FUNCTION(validate_pubkey);
FYRN_PY_FUNCTION(validate_hash);

// order identifiers (order_id_functions.cpp)
FYRN_PY_FUNCTION(compute_order_id);
// order identifiers without a key (order_id_from_order.cpp)
FYRN_PY_FUNCTION(compute_order_id_from_order);

}  // namespace fyrn::py
