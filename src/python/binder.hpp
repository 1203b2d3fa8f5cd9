// binder.hpp: one declarative description per callable, one generic binding
// routine for METH_FASTCALL | METH_KEYWORDS, and the argument conversions.
//
// Every message matches what the interpreter says for a Python function of the
// same signature; conversion TypeErrors are prefixed "argument '<name>': ".
#pragma once

#include "pyref.hpp"

#include <cstdint>
#include <iterator>
#include <string_view>

namespace fyrn::py {

// CallSpec describes one function or method: its name, its class (nullptr for
// module functions), whether it is called on an instance, its parameter names
// in order and how many of the leading ones are required. All parameters are
// positional-or-keyword; optional ones default to None. Declare it with
// FYRN_CALL_SPEC, so that the names alone fix the parameter count, the size of
// the bound-argument array (bound_call) and the text signature (make_doc).
struct CallSpec {
  const char* name;
  const char* owner;
  bool takes_self;
  const char* const* params;
  int n_params;
  int n_required;
};

// FYRN_CALL_SPEC(var, owner, takes_self, "name", required, "param", ...)
// declares `var` and its parameter list (null-terminated, so that an empty
// list is still an array).
#define FYRN_CALL_SPEC(var, owner, takes_self, name, required, ...)                                 \
  inline constexpr const char* const var##Params[] = {__VA_ARGS__ __VA_OPT__(, ) nullptr};          \
  inline constexpr ::fyrn::py::CallSpec var {                                                       \
    name, owner, takes_self, var##Params, static_cast<int>(std::size(var##Params)) - 1, required \
  }
#define FYRN_FUNCTION_SPEC(var, name, required, ...) FYRN_CALL_SPEC(var, nullptr, false, name, required, __VA_ARGS__)

// make_doc returns the docstring of `spec`: its text signature line
// ("name(a, b=None)", with "$self, " first for instance methods), "--", an
// empty line, then `body`, as the interpreter expects for __text_signature__.
// The text lives for the rest of the process.
const char* make_doc(const CallSpec& spec, const char* body);

// method_def returns the PyMethodDef of `spec` with its derived docstring.
PyMethodDef method_def(const CallSpec& spec, PyCFunction fn, int flags, const char* body);

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

// BoundArgs is the argument array of Spec, sized by its parameter list.
template <const CallSpec& Spec>
struct BoundArgs {
  PyObject* v[Spec.n_params > 0 ? Spec.n_params : 1];
  PyObject* operator[](int i) const { return v[i]; }
};

// bind_args binds a call into `out`; false with a TypeError set.
template <const CallSpec& Spec>
bool bind_args(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BoundArgs<Spec>& out) {
  return bind(Spec, args, nargs, kwnames, out.v);
}

// Conversions. Each returns false with a Python exception set; a TypeError gets
// the "argument '<param>': " prefix (none when param is nullptr), anything else
// (OverflowError, UnicodeEncodeError) propagates unchanged.

// to_text: str or a subclass; the view is UTF-8 and lives as long as obj.
// Mismatch: "'<type>' object cannot be converted to 'PyString'".
bool to_text(PyObject* obj, const char* param, std::string_view& out);
// to_secret_text: to_text for key material. A text without a UTF-8 form fails
// with the UnicodeEncodeError the codec raises (same span, reason and message),
// but its `object` shows '*' for every character outside the offending span, so
// that no repr, argument or attribute of the error carries the secret.
bool to_secret_text(PyObject* obj, const char* param, std::string_view& out);
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
