// binder.hpp: the shell's one vocabulary for Python arguments.
//
// - A callable is declared by one row: its signature text as Python shows it,
//   its implementation and its docstring (`function`, `static_method`,
//   `method`). The signature is parsed when the program is compiled; it gives
//   the binder its names and required count, the bound-argument array its
//   size and __text_signature__ its text.
// - `bind` matches a METH_FASTCALL | METH_KEYWORDS call against it. Every
//   message matches what the interpreter says for a Python function of the
//   same signature (with the documented "arguments" for every count).
// - The conversions (to_*, opt_*, *_arg, *_from) turn one Python value into a
//   C++ one. Each returns false with a Python exception set; given a parameter
//   name, a TypeError gets the prefix "argument '<param>': " (nullptr: values
//   inside dicts, lists and tuples, no prefix); anything else (OverflowError,
//   UnicodeEncodeError, ValueError) propagates unchanged.
#pragma once

#include "errors.hpp"
#include "pyref.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/keys.hpp"

namespace fyrn::py {

// ---- signatures ------------------------------------------------------------

// CallSpec describes one function or method: its name, its class (nullptr for
// module functions), whether it is called on an instance, its parameter names
// in order and how many of the leading ones are required. All parameters are
// positional-or-keyword; optional ones default to None.
struct CallSpec {
  const char* name;
  const char* owner;
  bool takes_self;
  const char* const* params;
  int n_params;
  int n_required;
};

// Signature is the text of a signature, "name(a, b, c=None)" for a module
// function, "Class.name(a)" for a static method, "Class.name($self, a)" for an
// instance method: parameters separated by ", ", optional ones (after the
// required ones) marked "=None". Anything else does not compile.
template <size_t N>
struct Signature {
  char text[N];
  consteval Signature(const char (&s)[N]) { std::copy_n(s, N, text); }  // NOLINT: implicit by design
};

namespace detail {

inline constexpr int kMaxParams = 8;

// ParsedSignature is the signature text with a NUL after every name, and
// where each name starts.
template <size_t N>
struct ParsedSignature {
  char names[N]{};
  int owner = -1;
  int name = 0;
  bool takes_self = false;
  int params[kMaxParams]{};
  int n_params = 0;
  int n_required = 0;
};

constexpr bool is_name_char(char c) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A throw in a consteval function is not a constant expression: the row that
// holds a malformed signature fails to compile, naming the problem.
template <size_t N>
consteval ParsedSignature<N> parse_signature(const char (&text)[N]) {
  ParsedSignature<N> p;
  std::copy_n(text, N, p.names);
  const std::string_view t(text, N - 1);
  size_t i = 0;
  auto name = [&]() {
    const size_t start = i;
    while (i < t.size() && is_name_char(t[i])) ++i;
    if (i == start) throw "signature: a name expected";
    return static_cast<int>(start);
  };
  auto separator = [&]() {
    if (t.substr(i, 2) != ", ") throw "signature: names are separated by \", \"";
    p.names[i] = '\0';
    i += 2;
  };
  p.name = name();
  if (i < t.size() && t[i] == '.') {
    p.names[i++] = '\0';
    p.owner = p.name;
    p.name = name();
  }
  if (i >= t.size() || t[i] != '(') throw "signature: '(' expected after the name";
  p.names[i++] = '\0';
  if (t.substr(i, 5) == "$self") {
    if (p.owner < 0) throw "signature: $self needs a class";
    p.takes_self = true;
    i += 5;
    if (i < t.size() && t[i] != ')') separator();
  }
  bool optional = false;
  while (i < t.size() && t[i] != ')') {
    if (p.n_params == kMaxParams) throw "signature: too many parameters";
    p.params[p.n_params++] = name();
    if (t.substr(i, 5) == "=None") {
      p.names[i] = '\0';
      i += 5;
      optional = true;
    } else if (optional) {
      throw "signature: a required parameter after an optional one";
    } else {
      ++p.n_required;
    }
    if (i < t.size() && t[i] != ')') separator();
  }
  if (i + 1 != t.size()) throw "signature: must end with its ')'";
  p.names[i] = '\0';
  return p;
}

template <Signature Sig>
inline constexpr auto kParsed = parse_signature(Sig.text);

template <Signature Sig>
inline constexpr auto kParamNames = [] {
  std::array<const char*, kMaxParams + 1> names{};  // null-terminated, also when empty
  for (int i = 0; i < kParsed<Sig>.n_params; ++i) names[i] = kParsed<Sig>.names + kParsed<Sig>.params[i];
  return names;
}();

}  // namespace detail

// spec_of is the CallSpec of a signature text.
template <Signature Sig>
inline constexpr CallSpec spec_of{detail::kParsed<Sig>.names + detail::kParsed<Sig>.name,
                                  detail::kParsed<Sig>.owner < 0 ? nullptr
                                                                  : detail::kParsed<Sig>.names + detail::kParsed<Sig>.owner,
                                  detail::kParsed<Sig>.takes_self,
                                  detail::kParamNames<Sig>.data(),
                                  detail::kParsed<Sig>.n_params,
                                  detail::kParsed<Sig>.n_required};

// param_index is the position of parameter `name` in spec, or -1.
constexpr int param_index(const CallSpec& spec, std::string_view name) {
  for (int i = 0; i < spec.n_params; ++i) {
    if (std::string_view(spec.params[i]) == name) return i;
  }
  return -1;
}

// ---- binding ---------------------------------------------------------------

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

// bind_args binds a vectorcall into `out`; false with a TypeError set.
template <const CallSpec& Spec>
bool bind_args(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, BoundArgs<Spec>& out) {
  return bind(Spec, args, nargs, kwnames, out.v);
}

// bind_tuple binds a (tuple, dict) call, as tp_new receives it, like a
// vectorcall.
template <const CallSpec& Spec>
bool bind_tuple(PyObject* args, PyObject* kwargs, BoundArgs<Spec>& out) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  std::vector<PyObject*> flat(static_cast<size_t>(nargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<size_t>(i)] = PyTuple_GET_ITEM(args, i);
  PyRef kwnames;
  if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
    kwnames = PyRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    if (!kwnames) return false;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    Py_ssize_t k = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      Py_INCREF(key);
      PyTuple_SET_ITEM(kwnames.get(), k++, key);
      flat.push_back(value);
    }
  }
  return bind_args(flat.data(), nargs, kwnames.get(), out);
}

// ---- rows --------------------------------------------------------------------

// An implementation receives the bound arguments: argv[i] is parameter i
// (borrowed), nullptr for an optional one left out or None. It returns a new
// reference, or nullptr with an exception set; C++ exceptions are caught
// around it (guarded).
using Function = PyObject* (*)(PyObject* const* argv);
using Method = PyObject* (*)(PyObject* self, PyObject* const* argv);

// make_doc returns the docstring of `spec`: its text signature line
// ("name(a, b=None)", with "$self, " first for instance methods), "--", an
// empty line, then `body`, as the interpreter expects for __text_signature__.
// The text lives for the rest of the process.
const char* make_doc(const CallSpec& spec, const char* body);

namespace detail {

template <typename F>
PyCFunction as_cfunction(F* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

template <const CallSpec& Spec, Function Impl>
PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    return Impl(argv.v);
  });
}

template <Function Impl>
PyObject* noargs(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* { return Impl(nullptr); });
}

template <const CallSpec& Spec, Method Impl>
PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    BoundArgs<Spec> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    return Impl(self, argv.v);
  });
}

}  // namespace detail

// Rows. Names, parameters and docstrings are interface text (see module.cpp).

// function is the row of a module function. Without parameters it is
// METH_NOARGS, so that the interpreter rejects arguments in its own words.
template <Signature Sig, Function Impl>
PyMethodDef function(const char* doc) {
  constexpr const CallSpec& spec = spec_of<Sig>;
  // The parse's integers, not the pointers: a sanitizer build cannot compare
  // an object's address with nullptr at compile time.
  static_assert(detail::kParsed<Sig>.owner < 0, "a module function has no class");
  if constexpr (spec.n_params == 0) {
    return {spec.name, &detail::noargs<Impl>, METH_NOARGS, make_doc(spec, doc)};
  } else {
    return {spec.name, detail::as_cfunction(&detail::fastcall<spec, Impl>), METH_FASTCALL | METH_KEYWORDS,
            make_doc(spec, doc)};
  }
}

// static_method is the row of a class's static method ("Class.name(...)").
template <Signature Sig, Function Impl>
PyMethodDef static_method(const char* doc) {
  constexpr const CallSpec& spec = spec_of<Sig>;
  static_assert(detail::kParsed<Sig>.owner >= 0 && !spec.takes_self,
                "a static method names its class and takes no $self");
  return {spec.name, detail::as_cfunction(&detail::fastcall<spec, Impl>), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
          make_doc(spec, doc)};
}

// method is the row of an instance method ("Class.name($self, ...)").
template <Signature Sig, Method Impl>
PyMethodDef method(const char* doc) {
  constexpr const CallSpec& spec = spec_of<Sig>;
  static_assert(spec.takes_self, "an instance method takes $self");
  return {spec.name, detail::as_cfunction(&detail::fastcall_method<spec, Impl>), METH_FASTCALL | METH_KEYWORDS,
          make_doc(spec, doc)};
}

// ---- conversions -------------------------------------------------------------

// to_text: str or a subclass, as UTF-8; a view lives as long as obj.
// Mismatch: "'<type>' object cannot be converted to 'PyString'"; lone
// surrogates: the codec's UnicodeEncodeError.
bool to_text(PyObject* obj, const char* param, std::string_view& out);
bool to_text(PyObject* obj, const char* param, std::string& out);
// to_secret_text: to_text for key material. A text without a UTF-8 form fails
// with the UnicodeEncodeError the codec raises (same span, reason and message),
// but its `object` shows '*' for every character outside the offending span, so
// that no repr, argument or attribute of the error carries the secret.
bool to_secret_text(PyObject* obj, const char* param, std::string_view& out);
// to_bytes: bytes or a subclass only (no bytearray, no memoryview).
// Mismatch: "'<type>' object cannot be converted to 'PyBytes'".
bool to_bytes(PyObject* obj, const char* param, std::string_view& out);
// to_bool: bool only ("'<type>' object cannot be converted to 'PyBool'").
bool to_bool(PyObject* obj, const char* param, bool& out);
// to_f64: float, int or anything with __float__ or __index__ (the
// interpreter's own "must be real number, not <type>" otherwise).
bool to_f64(PyObject* obj, const char* param, double& out);
// to_uint: any object with __index__ whose value lies in 0..max, as the
// interpreter converts an argument: OverflowError "out of range integral type
// conversion attempted" for a value that fits 64 bits but not the range, the
// interpreter's own OverflowError for one beyond 64 bits. max is 2^64−1 for
// nonces, 255 for fees.
bool to_uint(PyObject* obj, const char* param, uint64_t max, uint64_t& out);
inline bool to_u64(PyObject* obj, const char* param, uint64_t& out) { return to_uint(obj, param, UINT64_MAX, out); }
// to_uint_in_range / to_int_in_range: __index__ then 0..max / min..max for
// values read from dicts and tuples (no prefix): every value outside the
// range, however large, gets OverflowError "out of range integral type
// conversion attempted"; a non-integer the interpreter's TypeError.
bool to_uint_in_range(PyObject* obj, uint64_t max, uint64_t& out);
bool to_int_in_range(PyObject* obj, int64_t min, int64_t max, int64_t& out);
// to_hash: text, decoded as a base58 32-byte hash (ValueError with the
// decoding error's display text).
bool to_hash(PyObject* obj, const char* param, fyrn::Hash& out);

// opt_*: as to_*, for an optional argument; nullptr (left out) leaves out unset.
bool opt_u64(PyObject* obj, const char* param, std::optional<uint64_t>& out);
bool opt_f64(PyObject* obj, const char* param, std::optional<double>& out);
bool opt_text(PyObject* obj, const char* param, std::optional<std::string_view>& out);

// list_arg: a list or subclass ("PyList" mismatch otherwise).
bool list_arg(PyObject* obj, const char* param);
// dict_arg: a dict or subclass ("PyDict" mismatch otherwise).
bool dict_arg(PyObject* obj, const char* param);

// *_from decode a text already converted: a base58 public key or hash, a
// network name (ValueError with the core error's display text).
bool pubkey_from(std::string_view text, fyrn::Pubkey& out);
bool hash_from(std::string_view text, fyrn::Hash& out);
bool domain_from(std::string_view text, fyrn::SignatureDomain& out);

// raise_type_mismatch sets TypeError "'<type>' object cannot be converted to
// '<expected>'" (the type's qualified name), prefixed with param's name when
// param is non-null.
Raised raise_type_mismatch(PyObject* obj, const char* expected, const char* param = nullptr);

// raise_overflow sets OverflowError "out of range integral type conversion
// attempted".
Raised raise_overflow();

// type_error_prefixed re-raises a pending TypeError as "argument '<param>': <msg>";
// a null param leaves it as it is.
void type_error_prefixed(const char* param);

}  // namespace fyrn::py
