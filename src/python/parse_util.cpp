// The pieces shared by the dictionary parsers.
#include "parse_util.hpp"

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"

namespace fyrn::py::parse {

namespace {

#define FYRN_PARSE_KEY_NAME(name) #name,
constexpr std::string_view kKeyNames[] = {FYRN_PARSE_KEYS(FYRN_PARSE_KEY_NAME)};
#undef FYRN_PARSE_KEY_NAME
KeyTable g_key_table(kKeyNames);

Keys g_keys_storage;
const Keys* g_keys = nullptr;

}  // namespace

const Keys* keys() {
  if (g_keys != nullptr) return g_keys;
  PyObject* const* strings = g_key_table.keys();
  if (strings == nullptr) return nullptr;
  // The names and the fields of Keys come from the same list, in the same order.
  size_t i = 0;
#define FYRN_PARSE_KEY_TAKE(name) g_keys_storage.name = strings[i++];
  FYRN_PARSE_KEYS(FYRN_PARSE_KEY_TAKE)
#undef FYRN_PARSE_KEY_TAKE
  g_keys = &g_keys_storage;
  return g_keys;
}

bool raise_value_error(std::string_view text) {
  set_error_text(PyExc_ValueError, text);
  return false;
}

bool raise_core_error(const fyrn::Error& error) { return raise_value_error(error.display()); }

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

bool text(PyObject* obj, std::string& out) {
  std::string_view view;
  if (!text_view(obj, view)) return false;
  out.assign(view.data(), view.size());
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

bool uint_in_range(PyObject* obj, uint64_t max, uint64_t& out) {
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

bool int_in_range(PyObject* obj, int64_t min, int64_t max, int64_t& out) {
  PyRef idx = as_index(obj);
  if (!idx) return false;
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(idx.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < min || v > max) return raise_overflow();
  out = v;
  return true;
}

bool swallow_ordinary() {
  if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
  PyErr_Clear();
  return true;
}

bool lenient_f64(PyObject* obj, double dflt, double& out) {
  if (f64(obj, out)) return true;
  if (!swallow_ordinary()) return false;
  out = dflt;
  return true;
}

bool optional_f64(PyObject* obj, bool& has, double& out) {
  has = f64(obj, out);
  return has || swallow_ordinary();
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
  return text(upper.get(), out);
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
    if (!text(el.get(), s)) return swallow_ordinary();
    symbols.push_back(std::move(s));
  }
  out = std::move(symbols);
  return true;
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

// Key readers. Strict ones: a required key must be present, then convert.

bool req_text(PyObject* d, PyObject* key, const char* missing, std::string& out) {
  PyRef v;
  return require(d, key, missing, v) && text(v.get(), out);
}

bool req_bool(PyObject* d, PyObject* key, const char* missing, bool& out) {
  PyRef v;
  return require(d, key, missing, v) && boolean(v.get(), out);
}

bool req_f64(PyObject* d, PyObject* key, const char* missing, double& out) {
  PyRef v;
  return require(d, key, missing, v) && f64(v.get(), out);
}

bool req_u32(PyObject* d, PyObject* key, const char* missing, uint32_t& out) {
  PyRef v;
  uint64_t u = 0;
  if (!require(d, key, missing, v) || !uint_in_range(v.get(), UINT32_MAX, u)) return false;
  out = static_cast<uint32_t>(u);
  return true;
}

bool hash_value(PyObject* obj, fyrn::Hash& out) {
  std::string_view t;
  if (!text_view(obj, t)) return false;
  auto h = fyrn::Hash::from_base58(t);
  if (!h) return raise_core_error(h.error());
  out = *h;
  return true;
}

// req_hash reads an order id: text, decoded at once.
bool req_hash(PyObject* d, PyObject* key, const char* missing, fyrn::Hash& out) {
  PyRef v;
  return require(d, key, missing, v) && hash_value(v.get(), out);
}

// Optional reads.

bool opt_f64(PyObject* d, PyObject* key, std::optional<double>& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  if (!v) return true;
  double x = 0.0;
  if (!f64(v.get(), x)) return false;
  out = x;
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

// lenient_opt_f64: a value of the wrong kind counts as absent.
bool lenient_opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out) {
  PyRef v;
  if (!get(d, key, v)) return false;
  if (!v) return true;
  bool has = false;
  double x = 0.0;
  if (!optional_f64(v.get(), has, x)) return false;
  if (has) out = x;
  return true;
}

}  // namespace fyrn::py::parse
