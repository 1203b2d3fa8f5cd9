// binder.cpp: the generic argument binder and the conversions.
//
// The binding checks run in the interpreter's own order for a Python function
// (keywords first, then surplus positionals, then missing parameters), so that
// a caller sees exactly the TypeError a `def` with the same signature raises.
#include "binder.hpp"

#include <deque>
#include <string>

namespace fyrn::py {
namespace {

// full_name is the callable's name as the messages print it: "f" or "Class.m".
std::string full_name(const CallSpec& call) {
  std::string name;
  if (call.owner != nullptr) {
    name += call.owner;
    name += '.';
  }
  name += call.name;
  return name;
}

int find_param(const CallSpec& call, PyObject* key) {
  for (int i = 0; i < call.n_params; ++i) {
    // Does not raise; a str subclass compares by value like any str.
    if (PyUnicode_CompareWithASCIIString(key, call.params[i]) == 0) return i;
  }
  return -1;
}

// The count is always followed by "positional arguments", 1 included: that is
// the documented text callers match, whatever the interpreter's grammar says.
void raise_too_many(const CallSpec& call, Py_ssize_t given) {
  std::string takes;
  if (call.n_required < call.n_params) {
    takes = "from " + std::to_string(call.n_required) + " to " + std::to_string(call.n_params);
  } else {
    takes = std::to_string(call.n_params);
  }
  PyErr_Format(PyExc_TypeError, "%s() takes %s positional arguments but %zd %s given", full_name(call).c_str(),
               takes.c_str(), given, given == 1 ? "was" : "were");
}

// raise_missing lists the missing names as the interpreter does:
// 'a' / 'a' and 'b' / 'a', 'b', and 'c'.
void raise_missing(const CallSpec& call, PyObject* const* out) {
  int count = 0;
  for (int i = 0; i < call.n_required; ++i) count += out[i] == nullptr;
  std::string names;
  for (int i = 0, k = 0; i < call.n_required; ++i) {
    if (out[i] != nullptr) continue;
    if (k > 0) names += count == 2 ? " and " : (k == count - 1 ? ", and " : ", ");
    names += '\'';
    names += call.params[i];
    names += '\'';
    ++k;
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s", full_name(call).c_str(), count,
               count == 1 ? "" : "s", names.c_str());
}

}  // namespace

const char* make_doc(const CallSpec& spec, const char* body) {
  // Docstrings must outlive every function object; a deque never moves them.
  static std::deque<std::string>* docs = new std::deque<std::string>();
  std::string doc = spec.name;
  doc += '(';
  if (spec.takes_self) doc += spec.n_params > 0 ? "$self, " : "$self";
  for (int i = 0; i < spec.n_params; ++i) {
    if (i > 0) doc += ", ";
    doc += spec.params[i];
    if (i >= spec.n_required) doc += "=None";
  }
  doc += ")\n--\n\n";
  doc += body;
  return docs->emplace_back(std::move(doc)).c_str();
}

bool bind(const CallSpec& call, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  const Py_ssize_t n_params = call.n_params;
  const Py_ssize_t n_positional = nargs < n_params ? nargs : n_params;
  for (Py_ssize_t i = 0; i < n_positional; ++i) out[i] = args[i];
  for (Py_ssize_t i = n_positional; i < n_params; ++i) out[i] = nullptr;

  if (kwnames != nullptr) {
    const Py_ssize_t n_keywords = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n_keywords; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", full_name(call).c_str());
        return false;
      }
      const int index = find_param(call, key);
      if (index < 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", full_name(call).c_str(), key);
        return false;
      }
      if (out[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", full_name(call).c_str(), key);
        return false;
      }
      out[index] = args[nargs + k];
    }
  }

  if (nargs > n_params) {
    raise_too_many(call, nargs);
    return false;
  }
  for (int i = 0; i < call.n_required; ++i) {
    if (out[i] == nullptr) {
      raise_missing(call, out);
      return false;
    }
  }
  // An explicit None is the same as leaving an optional parameter out.
  for (int i = call.n_required; i < call.n_params; ++i) {
    if (out[i] == Py_None) out[i] = nullptr;
  }
  return true;
}

Raised raise_type_mismatch(PyObject* obj, const char* expected, const char* param) {
#if PY_VERSION_HEX >= 0x030B0000
  PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
#else
  PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
#endif
  if (!name) return {};
  if (param != nullptr) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", param, name.get(),
                 expected);
  } else {
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), expected);
  }
  return {};
}

Raised raise_overflow() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return {};
}

void type_error_prefixed(const char* param) {
  if (param == nullptr || !PyErr_Occurred()) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* value = PyErr_GetRaisedException();
  // Only a plain TypeError is reworded; subclasses and other errors pass as they are.
  if (Py_TYPE(value) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(value);
    return;
  }
  PyRef error = PyRef::steal(value);
#else
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (type != PyExc_TypeError || value == nullptr) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  PyRef error = PyRef::steal(value);
#endif
  PyRef message = PyRef::steal(PyObject_Str(error.get()));
  if (!message) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", param, message.get());
}

bool to_text(PyObject* obj, const char* param, std::string_view& out) {
  if (!PyUnicode_Check(obj)) return raise_type_mismatch(obj, "PyString", param);
  Py_ssize_t len = 0;
  // Lone surrogates have no UTF-8 form: the UnicodeEncodeError propagates.
  const char* data = PyUnicode_AsUTF8AndSize(obj, &len);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<size_t>(len));
  return true;
}

bool to_text(PyObject* obj, const char* param, std::string& out) {
  std::string_view view;
  if (!to_text(obj, param, view)) return false;
  out.assign(view.data(), view.size());
  return true;
}

bool to_secret_text(PyObject* obj, const char* param, std::string_view& out) {
  if (to_text(obj, param, out)) return true;
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
  PyErr_Clear();
  // The codec's span: the first run of consecutive surrogates.
  const Py_ssize_t n = PyUnicode_GET_LENGTH(obj);
  Py_ssize_t start = 0;
  while (start < n && !Py_UNICODE_IS_SURROGATE(PyUnicode_READ_CHAR(obj, start))) ++start;
  Py_ssize_t end = start;
  while (end < n && Py_UNICODE_IS_SURROGATE(PyUnicode_READ_CHAR(obj, end))) ++end;
  PyRef shown = PyRef::steal(PyUnicode_New(n, 0xFFFF));
  if (!shown) return false;
  for (Py_ssize_t i = 0; i < n; ++i) {
    const Py_UCS4 c = (i >= start && i < end) ? PyUnicode_READ_CHAR(obj, i) : '*';
    if (PyUnicode_WriteChar(shown.get(), i, c) < 0) return false;
  }
  PyRef error = PyRef::steal(PyObject_CallFunction(PyExc_UnicodeEncodeError, "sOnns", "utf-8", shown.get(), start,
                                                   end, "surrogates not allowed"));
  if (error) PyErr_SetObject(PyExc_UnicodeEncodeError, error.get());
  return false;
}

bool to_bytes(PyObject* obj, const char* param, std::string_view& out) {
  if (!PyBytes_Check(obj)) return raise_type_mismatch(obj, "PyBytes", param);
  out = std::string_view(PyBytes_AS_STRING(obj), static_cast<size_t>(PyBytes_GET_SIZE(obj)));
  return true;
}

bool to_uint(PyObject* obj, const char* param, uint64_t max, uint64_t& out) {
  PyRef index = PyRef::steal(PyNumber_Index(obj));
  if (!index) {
    type_error_prefixed(param);
    return false;
  }
  if (max > static_cast<uint64_t>(INT64_MAX)) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      type_error_prefixed(param);
      return false;
    }
    if (value > max) return raise_overflow();
    out = value;
    return true;
  }
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) {
    type_error_prefixed(param);
    return false;
  }
  if (value < 0 || static_cast<unsigned long long>(value) > max) return raise_overflow();
  out = static_cast<uint64_t>(value);
  return true;
}

bool to_bool(PyObject* obj, const char* param, bool& out) {
  if (!PyBool_Check(obj)) return raise_type_mismatch(obj, "PyBool", param);
  out = obj == Py_True;
  return true;
}

bool to_f64(PyObject* obj, const char* param, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    type_error_prefixed(param);
    return false;
  }
  out = value;
  return true;
}

namespace {

// as_index returns a new reference to obj's integer value (obj itself for an
// exact int), or nullptr with the interpreter's TypeError.
PyRef as_index(PyObject* obj) {
  if (PyLong_CheckExact(obj)) return PyRef::borrow(obj);
  return PyRef::steal(PyNumber_Index(obj));
}

}  // namespace

bool to_uint_in_range(PyObject* obj, uint64_t max, uint64_t& out) {
  PyRef idx = as_index(obj);
  if (!idx) return false;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow < 0 || (overflow == 0 && v < 0)) return raise_overflow();
  uint64_t u = static_cast<uint64_t>(v);
  if (overflow > 0) {
    u = PyLong_AsUnsignedLongLong(idx.get());
    if (u == static_cast<uint64_t>(-1) && PyErr_Occurred()) {
      if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
      PyErr_Clear();
      return raise_overflow();
    }
  }
  if (u > max) return raise_overflow();
  out = u;
  return true;
}

bool to_int_in_range(PyObject* obj, int64_t min, int64_t max, int64_t& out) {
  PyRef idx = as_index(obj);
  if (!idx) return false;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < min || v > max) return raise_overflow();
  out = v;
  return true;
}

bool to_hash(PyObject* obj, const char* param, fyrn::Hash& out) {
  std::string_view text;
  return to_text(obj, param, text) && hash_from(text, out);
}

bool opt_u64(PyObject* obj, const char* param, std::optional<uint64_t>& out) {
  if (obj == nullptr) return true;
  uint64_t value = 0;
  if (!to_u64(obj, param, value)) return false;
  out = value;
  return true;
}

bool opt_f64(PyObject* obj, const char* param, std::optional<double>& out) {
  if (obj == nullptr) return true;
  double value = 0.0;
  if (!to_f64(obj, param, value)) return false;
  out = value;
  return true;
}

bool opt_text(PyObject* obj, const char* param, std::optional<std::string_view>& out) {
  if (obj == nullptr) return true;
  std::string_view value;
  if (!to_text(obj, param, value)) return false;
  out = value;
  return true;
}

bool list_arg(PyObject* obj, const char* param) {
  return PyList_Check(obj) || raise_type_mismatch(obj, "PyList", param);
}

bool dict_arg(PyObject* obj, const char* param) {
  return PyDict_Check(obj) || raise_type_mismatch(obj, "PyDict", param);
}

bool pubkey_from(std::string_view text, fyrn::Pubkey& out) {
  auto key = fyrn::Pubkey::from_base58(text);
  if (!key) return raise_error(key.error());
  out = *key;
  return true;
}

bool hash_from(std::string_view text, fyrn::Hash& out) {
  auto hash = fyrn::Hash::from_base58(text);
  if (!hash) return raise_error(hash.error());
  out = *hash;
  return true;
}

bool domain_from(std::string_view text, fyrn::SignatureDomain& out) {
  auto domain = fyrn::signature_domain_from_str(text);
  if (!domain) return raise_error(domain.error());
  out = *domain;
  return true;
}

}  // namespace fyrn::py
