// binder.hpp: one declarative description per callable, one generic binding
// routine for METH_FASTCALL | METH_KEYWORDS, and the argument conversions.
//
// Every message matches what the interpreter says for a Python function of the
// same signature; conversion TypeErrors are prefixed "argument '<name>': ".
#pragma once

#include "pyref.hpp"

#include <cstdint>
#include <string_view>

namespace fyrn::py {

// CallSpec describes one function or method: its name, its class (nullptr for
// module functions), its parameter names in order and how many of the leading
// ones are required. All parameters are positional-or-keyword; optional ones
// default to None.
struct CallSpec {
  const char* name;
  const char* owner;
  const char* const* params;
  int n_params;
  int n_required;
};

// as_cfunction casts a method's C function to the PyCFunction a PyMethodDef
// stores; the interpreter calls it with the signature its METH_* flags name.
template <typename F>
PyCFunction as_cfunction(F* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// bind matches (args, nargs, kwnames) against spec and stores one borrowed
// reference per parameter in out[0 .. n_params). An optional parameter that is
// absent or None is stored as nullptr. Returns false with a TypeError set.
bool bind(const CallSpec& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// Conversions. Each returns false with a Python exception set; a TypeError gets
// the "argument '<param>': " prefix (none when param is nullptr), anything else
// (OverflowError, UnicodeEncodeError) propagates unchanged.

// to_text: str or a subclass; the view is UTF-8 and lives as long as obj.
// Mismatch: "'<type>' object cannot be converted to 'PyString'".
bool to_text(PyObject* obj, const char* param, std::string_view& out);
// to_bytes: bytes or a subclass only (no bytearray, no memoryview).
// Mismatch: "'<type>' object cannot be converted to 'PyBytes'".
bool to_bytes(PyObject* obj, const char* param, std::string_view& out);
// to_uint: any object with __index__ whose value lies in 0..max (OverflowError
// outside it). max is 2^64−1 for nonces, 255 for fees, and so on.
bool to_uint(PyObject* obj, const char* param, uint64_t max, uint64_t& out);
inline bool to_u64(PyObject* obj, const char* param, uint64_t& out) { return to_uint(obj, param, UINT64_MAX, out); }
// to_bool: bool only ("'<type>' object cannot be converted to 'PyBool'").
bool to_bool(PyObject* obj, const char* param, bool& out);
// to_f64: float, int or anything with __float__ (the interpreter's own
// "must be real number, not <type>" otherwise).
bool to_f64(PyObject* obj, const char* param, double& out);

// type_error_prefixed re-raises a pending TypeError as "argument '<param>': <msg>";
// a null param leaves it as it is.
void type_error_prefixed(const char* param);

// raise_type_mismatch sets TypeError "'<type>' object cannot be converted to
// '<expected>'" (the type's qualified name); with a non-null param the message
// gets the prefix "argument '<param>': ". Always returns false.
bool raise_type_mismatch(PyObject* obj, const char* expected, const char* param = nullptr);

// raise_overflow sets OverflowError "out of range integral type conversion
// attempted". Always returns false.
bool raise_overflow();

}  // namespace fyrn::py
