// prepare_functions.hpp: what the prepare functions share with the Signer
// class (the functions themselves are the rows of prepare_functions.cpp).
#pragma once

#include "pyref.hpp"

#include <string_view>

namespace fyrn::py {

// finalize_prepared_dict reads a prepared dict, finalises it with `signature`
// (base58 text) and returns the signed-transaction dict; nullptr with an
// exception set on failure.
PyObject* finalize_prepared_dict(PyObject* dict, std::string_view signature);

}  // namespace fyrn::py
