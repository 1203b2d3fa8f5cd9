// read_prepared.cpp: prepared-message dicts from Python.
#include "read_prepared.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <utility>

#include "convert.hpp"
#include "parse_util.hpp"

namespace fyrn::py {
namespace {

constexpr std::string_view kKeyNames[] = {"actions", "message_bytes", "account", "signer",
                                          "nonce",   "order_id",      "order_ids"};
KeyTable<kKeyNames> g_keys;

// json_text reads a str as the JSON text it dumps to: escaped UTF-16, which a
// parser joins back, so that a high surrogate directly followed by a low one
// is one character. False (nothing raised) for a lone surrogate, which the
// parser refuses.
bool json_text(PyObject* str, std::string& out) {
  Py_ssize_t len = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &len)) {
    out.assign(data, static_cast<size_t>(len));
    return true;
  }
  PyErr_Clear();
  PyRef units = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-16-le", "surrogatepass"));
  if (!units) {
    PyErr_Clear();
    return false;
  }
  int byteorder = -1;
  PyRef joined = PyRef::steal(
      PyUnicode_DecodeUTF16(PyBytes_AS_STRING(units.get()), PyBytes_GET_SIZE(units.get()), "strict", &byteorder));
  const char* data = joined ? PyUnicode_AsUTF8AndSize(joined.get(), &len) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return false;
  }
  out.assign(data, static_cast<size_t>(len));
  return true;
}

// repr_text is the int or float text the dumping writes (the base types'
// repr, whatever a subclass says); an int too long to print raises here.
bool repr_text(PyObject* obj, reprfunc repr, std::string& out) {
  PyRef text = PyRef::steal(repr(obj));
  if (!text) return false;
  Py_ssize_t len = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.get(), &len);
  if (data == nullptr) return false;
  out.assign(data, static_cast<size_t>(len));
  return true;
}

bool required(PyObject* dict, PyObject* key, const char* missing, PyRef& out) {
  return parse::require(dict, key, missing, out);
}

bool text_at(PyObject* dict, PyObject* key, const char* missing, std::string& out) {
  PyRef v;
  return required(dict, key, missing, v) && to_text(v.get(), nullptr, out);
}

// member returns the slot for member `name` of an object being read. A
// repeated name keeps its last value, as parsing the text would: the earlier
// value is dropped.
fyrn::Json& member(fyrn::Json& object, std::string&& name) {
  auto& members = object.get_ref<fyrn::Json::object_t&>();
  const size_t before = members.size();
  // Dicts read back mostly come from our own output, keys in ascending order:
  // the hint at the end makes each insertion one comparison.
  const auto it = members.try_emplace(members.end(), std::move(name));
  if (members.size() == before) {
    fyrn::release_json(it->second);
    it->second = nullptr;
  }
  return it->second;
}

}  // namespace

JsonReader::~JsonReader() {
  close_all();
  fyrn::release_json(value_);
}

void JsonReader::defer(const char* problem) {
  if (!problem_) problem_ = problem;
}

bool JsonReader::read(PyObject* obj) {
  try {
    const bool ok = walk(obj);
    if (!ok) close_all();
    return ok;
  } catch (...) {  // bad_alloc, or a forced unwind (close_all then leaves Python alone)
    close_all();
    throw;
  }
}

bool JsonReader::array(fyrn::JsonList& out) {
  if (problem_) return raise_value_error("actions are not valid JSON: " + *problem_);
  if (!value_.is_array()) {
    return raise_value_error(std::string("actions must be a JSON array, not ") + value_.type_name());
  }
  out = std::move(value_.get_ref<fyrn::Json::array_t&>());
  return true;
}

// walk reads obj into value_, then the open containers' items one at a time,
// innermost container first, closing each when its items are done.
bool JsonReader::walk(PyObject* obj) {
  if (!value(obj, value_)) return false;
  while (!frames_.empty()) {
    Frame& f = frames_.back();
    if (f.next == f.end) {
      close();
    } else if (!f.is_dict) {
      PyObject* item = refs_[f.next++].get();
      if (!value(item, f.target->get_ref<fyrn::Json::array_t&>().emplace_back())) return false;
    } else {
      PyObject* k = refs_[f.next].get();
      PyObject* v = refs_[f.next + 1].get();
      f.next += 2;
      std::string name;
      if (!key(k, name) || !value(v, member(*f.target, std::move(name)))) return false;
    }
  }
  return true;
}

bool JsonReader::key(PyObject* obj, std::string& out) {
  if (PyUnicode_Check(obj)) {
    if (!json_text(obj, out)) defer("a lone surrogate in a key");
    return true;
  }
  if (PyFloat_Check(obj)) {
    const double d = PyFloat_AS_DOUBLE(obj);
    if (std::isnan(d)) {
      out = "NaN";
    } else if (std::isinf(d)) {
      out = d > 0 ? "Infinity" : "-Infinity";
    } else {
      return repr_text(obj, PyFloat_Type.tp_repr, out);
    }
    return true;
  }
  if (obj == Py_True || obj == Py_False || obj == Py_None) {
    out = obj == Py_True ? "true" : obj == Py_False ? "false" : "null";
    return true;
  }
  if (PyLong_Check(obj)) return repr_text(obj, PyLong_Type.tp_repr, out);
  PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %.100s", Py_TYPE(obj)->tp_name);
  return false;
}

// value reads a scalar into out, or opens a container (whose items the walk
// reads later).
bool JsonReader::value(PyObject* obj, fyrn::Json& out) {
  if (obj == Py_None) {
    out = nullptr;
  } else if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
  } else if (PyUnicode_Check(obj)) {
    std::string text;
    if (!json_text(obj, text)) defer("a lone surrogate in a text");
    out = std::move(text);
  } else if (PyLong_Check(obj)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0) {
      if (v == -1 && PyErr_Occurred()) return false;
      if (v >= 0) {
        out = static_cast<uint64_t>(v);
      } else {
        out = static_cast<int64_t>(v);
      }
      return true;
    }
    if (overflow > 0) {
      const unsigned long long u = PyLong_AsUnsignedLongLong(obj);
      if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
        out = static_cast<uint64_t>(u);
        return true;
      }
      PyErr_Clear();
    }
    // Beyond 64 bits the parser reads the digits as the nearest double.
    const double d = PyLong_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) {
      if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
      PyErr_Clear();
      std::string digits;  // an int too long to print fails here, as when dumping
      if (!repr_text(obj, PyLong_Type.tp_repr, digits)) return false;
      defer("a number beyond the range of a double");
      out = nullptr;
      return true;
    }
    out = d;
  } else if (PyFloat_Check(obj)) {
    const double d = PyFloat_AS_DOUBLE(obj);
    if (!std::isfinite(d)) defer("NaN and infinities are not JSON numbers");
    out = d;
  } else if (PyList_Check(obj) || PyTuple_Check(obj)) {
    return open(obj, out, false);
  } else if (PyDict_Check(obj)) {
    return open(obj, out, true);
  } else {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
    if (name) PyErr_Format(PyExc_TypeError, "Object of type %S is not JSON serializable", name.get());
    return false;
  }
  return true;
}

// open starts a list, tuple or dict in the dumping's order of checks: an
// empty one is done at once (a list or tuple counted after iterating a
// subclass, which may override __iter__), then a cycle, then the recursion
// limit. Every element is held by a strong reference until its container is
// closed: reading a dict subclass runs its items(), which may change any
// container.
bool JsonReader::open(PyObject* obj, fyrn::Json& out, bool is_dict) {
  out = is_dict ? fyrn::Json::object() : fyrn::Json::array();
  PyRef fast;
  Py_ssize_t n = 0;
  if (is_dict) {
    n = PyDict_GET_SIZE(obj);
  } else {
    fast = PyRef::steal(PySequence_Fast(obj, "_iterencode_list needs a sequence"));
    if (!fast) return false;
    n = PySequence_Fast_GET_SIZE(fast.get());
  }
  if (n == 0) return true;
  if (is_open(obj)) {
    PyErr_SetString(PyExc_ValueError, "Circular reference detected");
    return false;
  }
  if (frames_.size() >= fyrn::kMaxJsonDepth) {
    PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while encoding a JSON object");
    return false;
  }
  const size_t begin = refs_.size();
  frames_.push_back(Frame{obj, &out, begin, begin, begin, is_dict});
  // Every frame holds one count of the recursion limit until it is closed.
  if (Py_EnterRecursiveCall(" while encoding a JSON object")) {
    frames_.pop_back();
    return false;
  }
  if (frames_.size() > kScannedFrames) deep_open_.insert(obj);

  if (!is_dict) {
    refs_.reserve(begin + static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) refs_.push_back(PyRef::borrow(PySequence_Fast_GET_ITEM(fast.get(), i)));
    out.get_ref<fyrn::Json::array_t&>().reserve(static_cast<size_t>(n));
  } else if (PyDict_CheckExact(obj)) {
    refs_.reserve(begin + 2 * static_cast<size_t>(n));
    PyObject* k = nullptr;
    PyObject* v = nullptr;
    for (Py_ssize_t pos = 0; PyDict_Next(obj, &pos, &k, &v);) {
      refs_.push_back(PyRef::borrow(k));
      refs_.push_back(PyRef::borrow(v));
    }
  } else {
    // A subclass is read through its items(), as the dumping does.
    PyRef list = PyRef::steal(PyMapping_Items(obj));
    if (!list) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
      PyObject* item = PyList_GET_ITEM(list.get(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
        PyErr_SetString(PyExc_ValueError, "items must return 2-tuples");
        return false;
      }
      refs_.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 0)));
      refs_.push_back(PyRef::borrow(PyTuple_GET_ITEM(item, 1)));
    }
  }
  frames_.back().end = refs_.size();
  return true;
}

// is_open is the cycle check: obj is one of the containers being read.
bool JsonReader::is_open(PyObject* obj) const {
  const size_t scanned = std::min(frames_.size(), kScannedFrames);
  for (size_t i = 0; i < scanned; ++i) {
    if (frames_[i].container == obj) return true;
  }
  return frames_.size() > kScannedFrames && deep_open_.count(obj) != 0;
}

// close ends the innermost container: its value is complete.
void JsonReader::close() {
  const Frame& f = frames_.back();
  if (frames_.size() > kScannedFrames) deep_open_.erase(f.container);
  const size_t begin = f.begin;
  frames_.pop_back();
  Py_LeaveRecursiveCall();
  refs_.erase(refs_.begin() + static_cast<std::ptrdiff_t>(begin), refs_.end());
}

// close_all ends every open container after a failure. A thread that no
// longer holds the interpreter (a forced unwind) leaves the recursion counts
// and references alone, as PyRef does.
void JsonReader::close_all() noexcept {
  const bool usable = python_usable();
  for (; !frames_.empty(); frames_.pop_back()) {
    if (usable) Py_LeaveRecursiveCall();
  }
  deep_open_.clear();
  refs_.clear();
}

bool bytes_from_py(PyObject* obj, std::vector<uint8_t>& out) {
  if (PyBytes_Check(obj) || PyByteArray_Check(obj)) {
    const char* data = PyBytes_Check(obj) ? PyBytes_AS_STRING(obj) : PyByteArray_AS_STRING(obj);
    const Py_ssize_t len = PyBytes_Check(obj) ? PyBytes_GET_SIZE(obj) : PyByteArray_GET_SIZE(obj);
    out.assign(reinterpret_cast<const uint8_t*>(data), reinterpret_cast<const uint8_t*>(data) + len);
    return true;
  }
  PyRef it = parse::sequence_iter(obj, nullptr);
  if (!it) return false;
  std::vector<uint8_t> bytes;
  for (;;) {
    PyRef el = PyRef::steal(PyIter_Next(it.get()));
    if (!el) {
      if (PyErr_Occurred()) return false;
      break;
    }
    uint64_t byte = 0;
    if (!to_uint_in_range(el.get(), 255, byte)) return false;
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  out = std::move(bytes);
  return true;
}

bool prepared_from_py(PyObject* dict, fyrn::PreparedMessage& out) {
  auto k = g_keys.keys();
  if (!k) return false;
  fyrn::PreparedMessage prepared;
  JsonReader actions;
  PyRef v;
  if (!required(dict, k["actions"], "Missing 'actions'", v) || !actions.read(v.get())) return false;
  if (!required(dict, k["message_bytes"], "Missing 'message_bytes'", v) ||
      !bytes_from_py(v.get(), prepared.message_bytes)) {
    return false;
  }
  if (!text_at(dict, k["account"], "Missing 'account'", prepared.account) ||
      !text_at(dict, k["signer"], "Missing 'signer'", prepared.signer)) {
    return false;
  }
  if (!required(dict, k["nonce"], "Missing 'nonce'", v) || !to_u64(v.get(), nullptr, prepared.nonce)) return false;
  if (!actions.array(prepared.actions)) return false;

  if (!parse::get(dict, k["order_id"], v)) return false;
  if (v && v.get() != Py_None) {
    std::string id;
    if (!to_text(v.get(), nullptr, id)) return false;
    prepared.order_id = std::move(id);
  }
  if (!parse::get(dict, k["order_ids"], v)) return false;
  if (v && v.get() != Py_None) {
    PyRef it = parse::sequence_iter(v.get(), nullptr);
    if (!it) return false;
    std::vector<std::string> ids;
    for (;;) {
      PyRef el = PyRef::steal(PyIter_Next(it.get()));
      if (!el) {
        if (PyErr_Occurred()) return false;
        break;
      }
      std::string id;
      if (!to_text(el.get(), nullptr, id)) return false;
      ids.push_back(std::move(id));
    }
    prepared.order_ids = std::move(ids);
  }
  out = std::move(prepared);
  return true;
}

}  // namespace fyrn::py
