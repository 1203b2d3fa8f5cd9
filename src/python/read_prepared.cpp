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

constexpr std::string_view kKeyNames[] = {"actions", "message_bytes", "account",   "signer",
                                          "nonce",   "order_id",      "order_ids", "message_base58"};
KeyTable<kKeyNames> g_keys;

// json_text reads a str as the JSON text it dumps to: escaped UTF-16, which a
// parser joins back, so that a high surrogate directly followed by a low one
// is one character. False (nothing raised) for a lone surrogate, which the
// parser refuses. `same` says whether the text is the str's own (no pair
// was joined).
bool json_text(PyObject* str, std::string& out, bool& same) {
  Py_ssize_t len = 0;
  same = false;
  if (const char* data = PyUnicode_AsUTF8AndSize(str, &len)) {
    out.assign(data, static_cast<size_t>(len));
    same = true;
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

// text_at reads a required str; `form` keeps it when it is an exact str.
bool text_at(PyObject* dict, PyObject* key, const char* missing, std::string& out, PyRef& form) {
  PyRef v;
  if (!required(dict, key, missing, v) || !to_text(v.get(), nullptr, out)) return false;
  if (PyUnicode_CheckExact(v.get())) form = std::move(v);
  return true;
}

// member returns the slot for member `name` of an object being read, and
// whether it was added after every earlier one (its name is the greatest so
// far). A repeated name keeps its last value, as parsing the text would: the
// earlier value is dropped.
std::pair<fyrn::Json::object_t::iterator, bool> member(fyrn::Json& object, std::string&& name) {
  auto& members = object.get_ref<fyrn::Json::object_t&>();
  const size_t before = members.size();
  // Dicts read back mostly come from our own output, keys in ascending order:
  // the hint at the end makes each insertion one comparison.
  const auto it = members.try_emplace(members.end(), std::move(name));
  if (members.size() == before) {
    fyrn::release_json(it->second);
    it->second = nullptr;
    return {it, false};
  }
  return {it, std::next(it) == members.end()};
}

}  // namespace

// Room for the actions of a typical transaction (a few actions, a handful of
// members each), so that the stacks do not grow while one is read.
JsonReader::JsonReader() {
  frames_.reserve(8);
  refs_.reserve(48);
}

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

PyRef JsonReader::python_form() {
  if (!forming_ || problem_ || !form_ || !PyList_CheckExact(form_.get())) return PyRef();
  return std::move(form_);
}

// put stores `form` (a new reference; nullptr with an exception set when it
// could not be made) at its place in the Python form. Once the form has been
// given up, forms are simply dropped.
bool JsonReader::put(const Place& place, PyObject* form) {
  PyRef owned = PyRef::steal(form);
  if (!owned) return false;
  if (!forming_) return true;
  if (place.container == nullptr) {
    form_ = std::move(owned);
  } else if (place.key == nullptr) {
    PyList_SetItem(place.container, place.index, owned.release());  // in range: cannot fail
  } else if (PyDict_SetItem(place.container, place.key, owned.get()) < 0) {
    return false;
  }
  return true;
}

// walk reads obj into value_, then the open containers' items one at a time,
// innermost container first, closing each when its items are done.
bool JsonReader::walk(PyObject* obj) {
  if (!value(obj, value_, Place{nullptr, 0, nullptr, false})) return false;
  while (!frames_.empty()) {
    Frame& f = frames_.back();
    if (f.next == f.end) {
      close();
    } else if (!f.is_dict) {
      const Place place{f.py, static_cast<Py_ssize_t>(f.next - f.begin), nullptr, false};
      PyObject* item = refs_[f.next++].get();
      if (!value(item, f.target->get_ref<fyrn::Json::array_t&>().emplace_back(), place)) return false;
    } else {
      PyObject* k = refs_[f.next].get();
      PyObject* v = refs_[f.next + 1].get();
      f.next += 2;
      std::string name;
      bool as_is = false;
      if (!key(k, name, as_is)) return false;
      const bool copied = f.copied;
      PyObject* form_dict = f.py;
      const auto [it, last] = member(*f.target, std::move(name));
      // The form keeps the dict's order, which must then be the byte order of
      // the names the conversion back gives; a copy must also hold the keys
      // that conversion gives.
      if (forming_ && (!last || (copied && !as_is))) {
        forming_ = false;
        form_ = PyRef();
      }
      PyRef form_key;
      if (forming_) {
        form_key = as_is ? PyRef::borrow(k) : PyRef::steal(text_to_py(it->first));
        if (!form_key) return false;
      }
      if (!value(v, it->second, Place{form_dict, 0, form_key.get(), copied})) return false;
    }
  }
  return true;
}

bool JsonReader::key(PyObject* obj, std::string& out, bool& as_is) {
  as_is = false;
  if (PyUnicode_Check(obj)) {
    if (!json_text(obj, out, as_is)) defer("a lone surrogate in a key");
    as_is = as_is && PyUnicode_CheckExact(obj);
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

// value reads a scalar into out (and its Python form into place), or opens a
// container (whose items the walk reads later). A scalar whose conversion
// back would give an equal object of its own type is its own Python form.
bool JsonReader::value(PyObject* obj, fyrn::Json& out, const Place& place) {
  bool as_is = false;
  if (obj == Py_None) {
    out = nullptr;
    as_is = true;
  } else if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    as_is = true;
  } else if (PyUnicode_Check(obj)) {
    std::string text;
    if (!json_text(obj, text, as_is)) defer("a lone surrogate in a text");
    as_is = as_is && PyUnicode_CheckExact(obj);
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
      as_is = PyLong_CheckExact(obj);
    } else {
      bool done = false;
      if (overflow > 0) {
        const unsigned long long u = PyLong_AsUnsignedLongLong(obj);
        if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
          out = static_cast<uint64_t>(u);
          done = true;
        } else {
          PyErr_Clear();
        }
      }
      if (!done) {
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
      }
    }
  } else if (PyFloat_Check(obj)) {
    const double d = PyFloat_AS_DOUBLE(obj);
    if (!std::isfinite(d)) defer("NaN and infinities are not JSON numbers");
    out = d;
    as_is = PyFloat_CheckExact(obj);
  } else if (PyList_Check(obj) || PyTuple_Check(obj)) {
    return open(obj, out, false, place);
  } else if (PyDict_Check(obj)) {
    return open(obj, out, true, place);
  } else {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
    if (name) PyErr_Format(PyExc_TypeError, "Object of type %S is not JSON serializable", name.get());
    return false;
  }
  if (!forming_ || (as_is && place.copied)) return true;  // a copied dict holds it already
  return put(place, as_is ? Py_NewRef(obj) : json_to_py(out));
}

// open starts a list, tuple or dict in the dumping's order of checks: an
// empty one is done at once (a list or tuple counted after iterating a
// subclass, which may override __iter__), then a cycle, then the recursion
// limit. Every element is held by a strong reference until its container is
// closed: reading a dict subclass runs its items(), which may change any
// container.
bool JsonReader::open(PyObject* obj, fyrn::Json& out, bool is_dict, const Place& place) {
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
  if (n == 0) return !forming_ || put(place, is_dict ? PyDict_New() : PyList_New(0));
  // Below the scanned levels an open container enters the identity set once
  // a container is opened inside it: one holding only scalars never needs to.
  if (frames_.size() > kScannedFrames && !frames_.back().in_set) {
    deep_open_.insert(frames_.back().container);
    frames_.back().in_set = true;
  }
  if (is_open(obj)) {
    PyErr_SetString(PyExc_ValueError, "Circular reference detected");
    return false;
  }
  if (frames_.size() >= fyrn::kMaxJsonDepth) {
    PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while encoding a JSON object");
    return false;
  }
  const size_t begin = refs_.size();
  frames_.push_back(Frame{obj, &out, nullptr, begin, begin, begin, is_dict, false, false});
  // Every frame holds one count of the recursion limit until it is closed.
  if (Py_EnterRecursiveCall(" while encoding a JSON object")) {
    frames_.pop_back();
    return false;
  }

  // The Python form, stored at its place and filled as the items are read.
  // A dict's form starts as a copy of it (cheaper than inserting its members
  // one by one) whose own items are then the ones read, so that form and
  // value agree whatever runs meanwhile; only the values that convert to
  // other objects are replaced in it. A list's form starts with None in every
  // slot: Python code may run while its items are read, and must not meet an
  // unset slot.
  PyRef form;
  bool copied = false;
  if (!is_dict) {
    refs_.reserve(begin + static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) refs_.push_back(PyRef::borrow(PySequence_Fast_GET_ITEM(fast.get(), i)));
    out.get_ref<fyrn::Json::array_t&>().reserve(static_cast<size_t>(n));
    if (forming_) {
      form = PyRef::steal(PyList_New(n));
      if (!form) return false;
      for (Py_ssize_t i = 0; i < n; ++i) PyList_SET_ITEM(form.get(), i, Py_NewRef(Py_None));
    }
  } else if (PyDict_CheckExact(obj)) {
    PyObject* source = obj;
    if (forming_) {
      form = PyRef::steal(PyDict_Copy(obj));
      if (!form) return false;
      source = form.get();
      copied = true;
    }
    refs_.reserve(begin + 2 * static_cast<size_t>(PyDict_GET_SIZE(source)));
    PyObject* k = nullptr;
    PyObject* v = nullptr;
    for (Py_ssize_t pos = 0; PyDict_Next(source, &pos, &k, &v);) {
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
    if (forming_) {
      form = PyRef::steal(PyDict_New());
      if (!form) return false;
    }
  }
  Frame& f = frames_.back();
  f.end = refs_.size();
  if (!forming_) return true;
  f.py = form.get();
  f.copied = copied;
  return put(place, form.release());
}

// is_open is the cycle check: obj is one of the containers being read (the
// innermost open one is in the set by now, see open).
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
  if (f.in_set) deep_open_.erase(f.container);
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
  forming_ = false;
  form_ = PyRef();
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

bool prepared_from_py(PyObject* dict, fyrn::PreparedMessage& out, PreparedForms* forms) {
  auto k = g_keys.keys();
  if (!k) return false;
  fyrn::PreparedMessage prepared;
  PreparedForms found;
  JsonReader actions;
  PyRef v;
  if (!required(dict, k["actions"], "Missing 'actions'", v) || !actions.read(v.get())) return false;
  if (!required(dict, k["message_bytes"], "Missing 'message_bytes'", v) ||
      !bytes_from_py(v.get(), prepared.message_bytes)) {
    return false;
  }
  if (PyBytes_CheckExact(v.get())) found.message_bytes = std::move(v);
  if (!text_at(dict, k["account"], "Missing 'account'", prepared.account, found.account) ||
      !text_at(dict, k["signer"], "Missing 'signer'", prepared.signer, found.signer)) {
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
  if (forms != nullptr) {
    // Kept only if it is the message's text (checked where it is used).
    if (!parse::get(dict, k["message_base58"], v)) return false;
    if (v && PyUnicode_CheckExact(v.get())) found.message_base58 = std::move(v);
  }
  out = std::move(prepared);
  if (forms != nullptr) {
    found.actions = actions.python_form();
    *forms = std::move(found);
  }
  return true;
}

}  // namespace fyrn::py
