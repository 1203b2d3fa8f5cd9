// parse_util.cpp: the dictionary readers shared by the parsers.
#include "parse_util.hpp"

namespace fyrn::py::parse {

namespace {

KeyTable<kKeyNames> g_keys;

// lenient_f64: the float conversion, or dflt for a value it refuses.
bool lenient_f64(PyObject* obj, double dflt, double& out) {
  if (to_f64(obj, nullptr, out)) return true;
  if (!swallow_ordinary()) return false;
  out = dflt;
  return true;
}

// lenient_opt_f64: the float conversion; has=false for a value it refuses.
bool lenient_opt_f64(PyObject* obj, bool& has, double& out) {
  has = to_f64(obj, nullptr, out);
  return has || swallow_ordinary();
}

}  // namespace

Keys keys() { return g_keys.keys(); }

bool get(PyObject* dict, PyObject* key, PyRef& out) {
  PyObject* v = PyDict_GetItemWithError(dict, key);
  if (v == nullptr) {
    out = PyRef();
    return !PyErr_Occurred();
  }
  out = PyRef::borrow(v);
  return true;
}

bool require(PyObject* dict, PyObject* key, const char* missing, PyRef& out) {
  if (!get(dict, key, out)) return false;
  if (!out) return raise_value_error(missing);
  return true;
}

bool only_keys(PyObject* dict, std::initializer_list<PyObject*> names) {
  auto known = [&](PyObject* key) {
    // Interned keys (literals, keyword arguments) are the same object.
    for (PyObject* name : names) {
      if (key == name) return true;
    }
    if (!PyUnicode_CheckExact(key)) return false;
    for (PyObject* name : names) {
      if (PyUnicode_Compare(key, name) == 0) return true;
    }
    return false;
  };
  if (PyDict_GET_SIZE(dict) > static_cast<Py_ssize_t>(names.size())) return false;  // keys are distinct
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (!known(key)) return false;
  }
  return true;
}

// Strict readers: a required key must be present, then convert.

bool text_at(PyObject* d, PyObject* key, const char* missing, std::string& out) {
  PyRef v;
  return require(d, key, missing, v) && to_text(v.get(), nullptr, out);
}

bool bool_at(PyObject* d, PyObject* key, const char* missing, bool& out) {
  PyRef v;
  return require(d, key, missing, v) && to_bool(v.get(), nullptr, out);
}

bool f64_at(PyObject* d, PyObject* key, const char* missing, double& out) {
  PyRef v;
  return require(d, key, missing, v) && to_f64(v.get(), nullptr, out);
}

bool u32_at(PyObject* d, PyObject* key, const char* missing, uint32_t& out) {
  PyRef v;
  uint64_t u = 0;
  if (!require(d, key, missing, v) || !to_uint_in_range(v.get(), UINT32_MAX, u)) return false;
  out = static_cast<uint32_t>(u);
  return true;
}

// hash_at reads an order id: text, decoded at once.
bool hash_at(PyObject* d, PyObject* key, const char* missing, fyrn::Hash& out) {
  PyRef v;
  return require(d, key, missing, v) && to_hash(v.get(), nullptr, out);
}

bool opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  if (!v) return true;
  double x = 0.0;
  if (!to_f64(v.get(), nullptr, x)) return false;
  out = x;
  return true;
}

// Lenient readers.

bool swallow_ordinary() {
  if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
  PyErr_Clear();
  return true;
}

bool lenient_bool_at(PyObject* d, PyObject* key, bool& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  out = v && lenient_bool(v.get());
  return true;
}

bool lenient_f64_at(PyObject* d, PyObject* key, double dflt, double& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  out = dflt;
  return !v || lenient_f64(v.get(), dflt, out);
}

// lenient_opt_f64_at: a value of the wrong kind counts as absent.
bool lenient_opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  if (!v) return true;
  bool has = false;
  double x = 0.0;
  if (!lenient_opt_f64(v.get(), has, x)) return false;
  if (has) out = x;
  return true;
}

bool text_list_lenient(PyObject* obj, std::vector<std::string>& out) {
  out.clear();
  if (PyUnicode_Check(obj) || !PySequence_Check(obj)) return true;
  PyRef it = PyRef::steal(PyObject_GetIter(obj));
  if (!it) return swallow_ordinary();
  std::vector<std::string> symbols;
  for (;;) {
    PyRef el = PyRef::steal(PyIter_Next(it.get()));
    if (!el) {
      if (PyErr_Occurred()) return swallow_ordinary();
      break;
    }
    std::string s;
    if (!to_text(el.get(), nullptr, s)) return swallow_ordinary();
    symbols.push_back(std::move(s));
  }
  out = std::move(symbols);
  return true;
}

bool upper_text(PyObject* str, std::string& out) {
  if (PyUnicode_IS_ASCII(str)) {
    const auto* data = reinterpret_cast<const char*>(PyUnicode_DATA(str));
    Py_ssize_t len = PyUnicode_GET_LENGTH(str);
    out.resize(static_cast<size_t>(len));
    for (Py_ssize_t i = 0; i < len; ++i) {
      char c = data[i];
      out[static_cast<size_t>(i)] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return true;
  }
  // str.upper itself, never a subclass's override.
  PyRef upper = PyRef::steal(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), "upper", "O", str));
  if (!upper) return false;
  return to_text(upper.get(), nullptr, out);
}

PyRef sequence_iter(PyObject* seq, const char* param) {
  if (PyUnicode_Check(seq)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    type_error_prefixed(param);
    return PyRef();
  }
  if (!PySequence_Check(seq)) {
    raise_type_mismatch(seq, "Sequence", param);
    return PyRef();
  }
  PyRef it = PyRef::steal(PyObject_GetIter(seq));
  if (!it) type_error_prefixed(param);
  return it;
}

}  // namespace fyrn::py::parse
