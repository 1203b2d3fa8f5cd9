// Core results into Python objects.
#include "convert.hpp"

#include "binder.hpp"
#include "errors.hpp"
#include "key_table.hpp"

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"
#include "fyrn/tape.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory_resource>

namespace fyrn::py {
namespace {

KeyTable<kJsonKeys> g_json_keys;
using JsonKeys = KeyTable<kJsonKeys>::Keys;

constexpr std::string_view kSignedKeyNames[] = {"actions", "nonce",    "account",  "signer",
                                                "signature", "order_id", "order_ids"};
KeyTable<kSignedKeyNames> g_signed_keys;

constexpr std::string_view kPreparedKeyNames[] = {"message_bytes", "message_base58", "message_base64", "message_hex",
                                                  "order_id",      "order_ids",      "actions",        "account",
                                                  "signer",        "nonce"};
KeyTable<kPreparedKeyNames> g_prepared_keys;

// Text values that recur in every order (the times in force) reuse one
// interned string each instead of a new one per order.
constexpr std::string_view kCommonValueNames[] = {"ALO", "GTC", "IOC"};
KeyTable<kCommonValueNames> g_common_values;

// common_value returns the position of `text` in kCommonValueNames, or its size.
size_t common_value(std::string_view text) {
  if (text.size() != 3) return std::size(kCommonValueNames);
  return static_cast<size_t>(std::find(std::begin(kCommonValueNames), std::end(kCommonValueNames), text) -
                             std::begin(kCommonValueNames));
}

// text_value_to_py returns a new reference to the str for a JSON text value;
// `repeated` (when given) is the batch's RepeatedText.
PyObject* text_value_to_py(std::string_view text, RepeatedText* repeated = nullptr) {
  if (const size_t common = common_value(text); common < std::size(kCommonValueNames)) {
    auto values = g_common_values.keys();
    return values ? Py_NewRef(values.at(common)) : nullptr;
  }
  if (repeated == nullptr || text.size() > sizeof repeated->text) return text_to_py(text);
  if (repeated->str && text == std::string_view(repeated->text, repeated->size)) return Py_NewRef(repeated->str.get());
  PyObject* value = text_to_py(text);
  if (value != nullptr) {
    std::memcpy(repeated->text, text.data(), text.size());
    repeated->size = text.size();
    repeated->str = PyRef::borrow(value);
  }
  return value;
}

// vocabulary_key returns a new reference to the dict key at `index` of the
// vocabulary (fyrn::kJsonKeys), or to a new str of `name` when the key is not
// in it (kNoJsonKey).
PyObject* vocabulary_key(JsonKeys vocabulary, size_t index, std::string_view name) {
  return index == kNoJsonKey ? text_to_py(name) : Py_NewRef(vocabulary.at(index));
}

// object_key returns a new reference to the dict key for `name`.
PyObject* object_key(JsonKeys vocabulary, std::string_view name) {
  return vocabulary_key(vocabulary, json_key_index(name), name);
}

// Dicts start empty (PyDict_New) and grow as they are filled, not presized:
// the interpreter's presizing makes a table for keys of any type, 24 bytes an
// entry, where a dict whose keys are all str keeps a 16-byte one. A batch's
// results hold 160 bytes less per order that way, and a batch of 10,000 runs
// about 7% faster; the one growth step costs less than the memory it saves.

// Sets dict[key] = value, taking over `value`; false with an exception set
// when value is nullptr or the insertion fails.
bool put(PyObject* dict, PyObject* key, PyObject* value) {
  PyRef owned = PyRef::steal(value);
  return owned && PyDict_SetItem(dict, key, owned.get()) == 0;
}

// list_to_py returns a new list of n elements, element i being make(i) (a new
// reference, or nullptr with an exception set, which drops the whole list).
template <typename Make>
PyObject* list_to_py(size_t n, Tracking& tracking, Make&& make) {
  PyRef list = PyRef::steal(new_list(n));
  if (!list) return nullptr;
  for (size_t i = 0; i < n; ++i) {
    PyObject* element = make(i);
    if (element == nullptr) return nullptr;  // the unfilled slots are NULL, which the list tolerates
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), element);
  }
  tracking.filled(list.get());
  return list.release();
}

// unsigned_to_py: an int, or above 2^63−1 the nearest float.
PyObject* unsigned_to_py(uint64_t u) {
  if (u <= static_cast<uint64_t>(INT64_MAX)) return PyLong_FromUnsignedLongLong(u);
  return PyFloat_FromDouble(static_cast<double>(u));  // rounds to nearest
}

PyObject* binary_to_py(const void* data, size_t size) {
  return PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(size));
}

// scalar_to_py returns a new reference to the Python form of a value that is
// no array or object.
PyObject* scalar_to_py(const Json& value) {
  using Kind = Json::value_t;
  switch (value.type()) {
    case Kind::null:
      Py_RETURN_NONE;
    case Kind::boolean:
      return PyBool_FromLong(value.get_ref<const Json::boolean_t&>() ? 1 : 0);
    case Kind::number_unsigned:
      return unsigned_to_py(value.get_ref<const Json::number_unsigned_t&>());
    case Kind::number_integer:
      return PyLong_FromLongLong(value.get_ref<const Json::number_integer_t&>());
    case Kind::number_float:
      return PyFloat_FromDouble(value.get_ref<const Json::number_float_t&>());
    case Kind::string:
      return text_value_to_py(value.get_ref<const Json::string_t&>());
    case Kind::binary: {
      const auto& bytes = value.get_ref<const Json::binary_t&>();
      return binary_to_py(bytes.data(), bytes.size());
    }
    case Kind::array:
    case Kind::object:
    case Kind::discarded:
      break;
  }
  PyErr_SetString(PyExc_ValueError, "JSON value has no Python form");
  return nullptr;
}

// Converter builds the Python form of a JSON value with its own stack, so
// that values read back from callers, which can nest deeply, never grow the
// C stack. Each container is created empty (a list of the right length) and
// stored in its parent before its own elements are converted; a failure
// drops the root, and with it everything built.
class Converter {
 public:
  explicit Converter(JsonKeys vocabulary) : vocabulary_(vocabulary) {}

  PyObject* run(const Json& root) {
    PyRef result = PyRef::steal(start(root));
    if (!result) return nullptr;
    while (!frames_.empty()) {
      Frame& f = frames_.back();
      if (f.array != nullptr) {
        if (f.index == f.array->size()) {
          tracking_.filled(f.out);
          frames_.pop_back();
          continue;
        }
        const size_t i = f.index++;
        PyObject* list = f.out;
        PyObject* element = start((*f.array)[i]);  // may push a frame
        if (element == nullptr) return nullptr;  // the unfilled slots are NULL, which the list tolerates
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), element);
      } else {
        if (f.member == f.end) {
          frames_.pop_back();
          continue;
        }
        const auto& [name, member] = *f.member++;
        PyObject* dict = f.out;
        PyRef key = PyRef::steal(object_key(vocabulary_, name));
        if (!key || !put(dict, key.get(), start(member))) return nullptr;
      }
    }
    return result.release();
  }

 private:
  struct Frame {
    PyObject* out;  // owned by its parent (or by run's result)
    const Json::array_t* array;  // null for an object
    size_t index;
    Json::object_t::const_iterator member;
    Json::object_t::const_iterator end;
  };

  // start returns a new reference to the Python form of value; for a
  // non-empty container, an empty one whose elements a new frame fills.
  PyObject* start(const Json& value) {
    if (value.is_array()) {
      const auto& array = value.get_ref<const Json::array_t&>();
      PyRef list = PyRef::steal(new_list(array.size()));
      if (list && !array.empty()) frames_.push_back(Frame{list.get(), &array, 0, {}, {}});
      return list.release();
    }
    if (value.is_object()) {
      const auto& object = value.get_ref<const Json::object_t&>();
      PyRef dict = PyRef::steal(PyDict_New());
      if (dict && !object.empty()) frames_.push_back(Frame{dict.get(), nullptr, 0, object.begin(), object.end()});
      return dict.release();
    }
    return scalar_to_py(value);
  }

  JsonKeys vocabulary_;
  Tracking tracking_;
  std::vector<Frame> frames_;
};

PyObject* array_to_py(JsonKeys vocabulary, const std::vector<Json>& values) {
  Converter converter(vocabulary);
  Tracking now;
  return list_to_py(values.size(), now, [&](size_t i) { return converter.run(values[i]); });
}

PyObject* texts_to_py(const std::vector<std::string>& texts) {
  Tracking now;
  return list_to_py(texts.size(), now, [&](size_t i) { return text_to_py(texts[i]); });
}

// ascii_to_py returns a new str of text known to be ASCII (the renderings of
// message bytes), without the UTF-8 decoder's pass over it.
PyObject* ascii_to_py(std::string_view text) {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
  if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
  return str;
}

// encoded_to_py returns a new str of the `len` ASCII characters that
// encode(out, data, size) writes, written into the str itself.
PyObject* encoded_to_py(size_t len, const std::vector<uint8_t>& bytes,
                        void (*encode)(char*, const uint8_t*, size_t)) {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(len), 127);
  if (str != nullptr) encode(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(str)), bytes.data(), bytes.size());
  return str;
}

// base58_to_py returns the base58 text of the message: the caller's `given`
// str when it is exactly that text (checking costs a fraction of encoding),
// else a new one.
PyObject* base58_to_py(const std::vector<uint8_t>& bytes, const PyRef* given) {
  if (given != nullptr && *given && PyUnicode_IS_COMPACT_ASCII(given->get())) {
    const std::string_view text(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(given->get())),
                                static_cast<size_t>(PyUnicode_GET_LENGTH(given->get())));
    if (base58::encodes(text, bytes.data(), bytes.size())) {
      Py_INCREF(given->get());
      return given->get();
    }
  }
  return ascii_to_py(base58::encode(bytes.data(), bytes.size()));
}

// formed returns a new reference to `form` when there is one, else make().
template <typename Make>
PyObject* formed(const PyRef* form, Make&& make) {
  if (form == nullptr || !*form) return make();
  return Py_NewRef(form->get());
}

// tape_json_to_py reads a list of JSON values from a tape (ItemJson::write_actions) into a
// new list, with its own stack as Converter does.
PyObject* tape_json_to_py(JsonKeys vocabulary, TapeReader& in, RepeatedText& repeated, Tracking& tracking) {
  struct Frame {
    PyObject* out;  // owned by its parent (or by the root)
    size_t left;
    Py_ssize_t index;
    bool object;
  };
  // The frames live on this stack up to a depth of sixteen (a result's
  // actions are a few levels deep): no allocation per result.
  alignas(Frame) std::byte scratch[16 * sizeof(Frame)];
  std::pmr::monotonic_buffer_resource arena(scratch, sizeof scratch);
  std::pmr::vector<Frame> frames(&arena);
  frames.reserve(16);
  auto value = [&]() -> PyObject* {
    switch (in.op()) {
      case TapeOp::Null:
        Py_RETURN_NONE;
      case TapeOp::False:
        Py_RETURN_FALSE;
      case TapeOp::True:
        Py_RETURN_TRUE;
      case TapeOp::Unsigned:
        return unsigned_to_py(in.u64());
      case TapeOp::Float:
        return PyFloat_FromDouble(in.f64());
      case TapeOp::Text:
        return text_value_to_py(in.text(), &repeated);
      case TapeOp::List: {
        const size_t n = in.count();
        PyObject* list = new_list(n);
        if (list != nullptr && n != 0) frames.push_back(Frame{list, n, 0, false});
        return list;
      }
      case TapeOp::Object: {
        const size_t n = in.count();
        PyObject* dict = PyDict_New();
        if (dict != nullptr && n != 0) frames.push_back(Frame{dict, n, 0, true});
        return dict;
      }
    }
    PyErr_SetString(PyExc_ValueError, "JSON value has no Python form");
    return nullptr;
  };
  PyRef root = PyRef::steal(value());
  if (!root) return nullptr;
  while (!frames.empty()) {
    Frame& f = frames.back();
    if (f.left == 0) {
      tracking.filled(f.out);
      frames.pop_back();
      continue;
    }
    --f.left;
    PyObject* container = f.out;  // `f` may move once value() opens a container
    if (f.object) {
      const TapeKey name = in.key();
      PyRef key = PyRef::steal(vocabulary_key(vocabulary, name.index, name.text));
      if (!key || !put(container, key.get(), value())) return nullptr;
    } else {
      const Py_ssize_t i = f.index++;
      PyObject* element = value();
      if (element == nullptr) return nullptr;  // the unfilled slots are NULL, which the list tolerates
      PyList_SET_ITEM(container, i, element);
    }
  }
  return root.release();
}

// The result dicts are built from one of two sources: the core's record itself
// (single calls, and records read back from the caller, with their forms) or
// a batch worker's rendering of it (fyrn/tape.hpp). prepared_dict and
// signed_dict fix the keys and their order for both; a tape source reads its
// fields in exactly the order these call them, which is the order
// render_prepared and render_signed write them.

class RecordSource {
 public:
  explicit RecordSource(const PreparedForms* forms) : forms_(forms) {}

 protected:
  const PyRef* form(PyRef PreparedForms::*member) const { return forms_ ? &(forms_->*member) : nullptr; }
  PyObject* actions(const JsonList& actions) const {
    return formed(form(&PreparedForms::actions), [&] { return json_list_to_py(actions); });
  }

 private:
  const PreparedForms* forms_;
};

class PreparedRecord : RecordSource {
 public:
  PreparedRecord(const PreparedMessage& m, const PreparedForms* forms) : RecordSource(forms), m_(m) {}
  PyObject* message_bytes() {
    return formed(form(&PreparedForms::message_bytes),
                  [&] { return binary_to_py(m_.message_bytes.data(), m_.message_bytes.size()); });
  }
  PyObject* message_base58() { return base58_to_py(m_.message_bytes, form(&PreparedForms::message_base58)); }
  PyObject* message_base64() {
    return encoded_to_py(base64_len(m_.message_bytes.size()), m_.message_bytes, &base64_encode_to);
  }
  PyObject* message_hex() { return encoded_to_py(2 * m_.message_bytes.size(), m_.message_bytes, &hex_encode_to); }
  bool has_order_id() { return m_.order_id.has_value(); }
  PyObject* order_id() { return text_to_py(*m_.order_id); }
  bool has_order_ids() { return m_.order_ids.has_value(); }
  PyObject* order_ids() { return texts_to_py(*m_.order_ids); }
  PyObject* actions() { return RecordSource::actions(m_.actions); }
  PyObject* account() { return formed(form(&PreparedForms::account), [&] { return text_to_py(m_.account); }); }
  PyObject* signer() { return formed(form(&PreparedForms::signer), [&] { return text_to_py(m_.signer); }); }
  PyObject* nonce() { return PyLong_FromUnsignedLongLong(m_.nonce); }

 private:
  const PreparedMessage& m_;
};

class SignedRecord : RecordSource {
 public:
  SignedRecord(const SignedTransaction& tx, PyObject* own_key, std::string_view own_text, const PreparedForms* forms)
      : RecordSource(forms), tx_(tx), own_key_(own_key), own_text_(own_text) {}
  PyObject* actions() { return RecordSource::actions(tx_.actions); }
  PyObject* nonce() { return PyLong_FromUnsignedLongLong(tx_.nonce); }
  PyObject* account() { return key_text(tx_.account, form(&PreparedForms::account)); }
  PyObject* signer() { return key_text(tx_.signer, form(&PreparedForms::signer)); }
  PyObject* signature() { return text_to_py(tx_.signature); }
  bool has_order_id() { return tx_.order_id.has_value(); }
  PyObject* order_id() { return text_to_py(*tx_.order_id); }
  bool has_order_ids() { return tx_.order_ids.has_value(); }
  PyObject* order_ids() { return texts_to_py(*tx_.order_ids); }

 private:
  PyObject* key_text(const std::string& text, const PyRef* form) {
    return formed(form, [&] {
      return own_key_ != nullptr && text == own_text_ ? Py_NewRef(own_key_) : text_to_py(text);
    });
  }
  const SignedTransaction& tx_;
  PyObject* own_key_;
  std::string_view own_text_;
};

// TapeSource reads a rendered result; account and signer are the batch's.
class TapeSource {
 public:
  TapeSource(TapeReader& in, JsonKeys vocabulary, RepeatedText& repeated, Tracking& tracking, PyObject* account,
             PyObject* signer)
      : in_(in), vocabulary_(vocabulary), repeated_(repeated), tracking_(tracking), account_(account), signer_(signer) {}
  PyObject* message_bytes() { return binary(in_.text()); }
  PyObject* message_base58() { return ascii_to_py(in_.text()); }
  PyObject* message_base64() { return ascii_to_py(in_.text()); }
  PyObject* message_hex() { return ascii_to_py(in_.text()); }
  PyObject* signature() { return ascii_to_py(in_.text()); }
  bool has_order_id() { return in_.flag(); }
  PyObject* order_id() { return ascii_to_py(in_.text()); }
  bool has_order_ids() { return in_.flag(); }
  PyObject* order_ids() {
    return list_to_py(in_.u64(), tracking_, [&](size_t) { return ascii_to_py(in_.text()); });
  }
  PyObject* actions() { return tape_json_to_py(vocabulary_, in_, repeated_, tracking_); }
  PyObject* account() { return Py_NewRef(account_); }
  PyObject* signer() { return Py_NewRef(signer_); }
  PyObject* nonce() { return PyLong_FromUnsignedLongLong(in_.u64()); }

 private:
  static PyObject* binary(std::string_view bytes) { return binary_to_py(bytes.data(), bytes.size()); }
  TapeReader& in_;
  JsonKeys vocabulary_;
  RepeatedText& repeated_;
  Tracking& tracking_;
  PyObject* account_;
  PyObject* signer_;
};

// prepared_dict: "message_bytes", "message_base58", "message_base64",
// "message_hex", then "order_id" and "order_ids" when present, "actions",
// "account", "signer", "nonce".
template <typename Source>
PyObject* prepared_dict(Source& src) {
  auto k = g_prepared_keys.keys();
  if (!k) return nullptr;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  if (!put(d, k["message_bytes"], src.message_bytes()) || !put(d, k["message_base58"], src.message_base58()) ||
      !put(d, k["message_base64"], src.message_base64()) || !put(d, k["message_hex"], src.message_hex())) {
    return nullptr;
  }
  if (src.has_order_id() && !put(d, k["order_id"], src.order_id())) return nullptr;
  if (src.has_order_ids() && !put(d, k["order_ids"], src.order_ids())) return nullptr;
  if (!put(d, k["actions"], src.actions()) || !put(d, k["account"], src.account()) ||
      !put(d, k["signer"], src.signer()) || !put(d, k["nonce"], src.nonce())) {
    return nullptr;
  }
  return dict.release();
}

// signed_dict: "actions", "nonce", "account", "signer", "signature", then
// "order_id" and "order_ids" when present.
template <typename Source>
PyObject* signed_dict(Source& src) {
  auto k = g_signed_keys.keys();
  if (!k) return nullptr;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  if (!put(d, k["actions"], src.actions()) || !put(d, k["nonce"], src.nonce()) ||
      !put(d, k["account"], src.account()) || !put(d, k["signer"], src.signer()) ||
      !put(d, k["signature"], src.signature())) {
    return nullptr;
  }
  if (src.has_order_id() && !put(d, k["order_id"], src.order_id())) return nullptr;
  if (src.has_order_ids() && !put(d, k["order_ids"], src.order_ids())) return nullptr;
  return dict.release();
}

}  // namespace

PyObject* new_list(size_t n) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list != nullptr && n != 0) PyObject_GC_UnTrack(list);
  return list;
}

void Tracking::filled(PyObject* container) {
  const bool list = PyList_CheckExact(container);
  if (!list && !PyObject_GC_IsTracked(container)) return;  // a dict of plain values: never needed
  if (defer_) {
    try {
      deferred_.push_back(container);
      PyObject_GC_UnTrack(container);
      return;
    } catch (const std::bad_alloc&) {
      // then it is tracked now
    }
  }
  if (!PyObject_GC_IsTracked(container)) PyObject_GC_Track(container);
}

void Tracking::track_deferred() {
  for (PyObject* container : deferred_) {
    if (!PyObject_GC_IsTracked(container)) PyObject_GC_Track(container);
  }
  deferred_.clear();
}

PyObject* json_to_py(const Json& value) {
  JsonKeys vocabulary = g_json_keys.keys();
  if (!vocabulary) return nullptr;
  return Converter(vocabulary).run(value);
}

PyObject* json_list_to_py(const std::vector<Json>& values) {
  JsonKeys vocabulary = g_json_keys.keys();
  if (!vocabulary) return nullptr;
  return array_to_py(vocabulary, values);
}

PyObject* signed_to_py(const SignedTransaction& tx, PyObject* own_key, const PreparedForms* forms) {
  std::string_view own_text;
  if (own_key != nullptr && !to_text(own_key, "own key", own_text)) return nullptr;
  SignedRecord src(tx, own_key, own_text, forms);
  return signed_dict(src);
}

PyObject* prepared_to_py(const PreparedMessage& prepared, const PreparedForms* forms) {
  PreparedRecord src(prepared, forms);
  return prepared_dict(src);
}

bool RenderedList::begin(std::string_view account, std::string_view signer) {
  std::string_view own_text;
  if (own_key_ != nullptr && !to_text(own_key_, "own key", own_text)) {
    failed_ = true;
    return false;
  }
  auto shared = [&](std::string_view text) {
    return own_key_ != nullptr && text == own_text ? PyRef::borrow(own_key_) : PyRef::steal(text_to_py(text));
  };
  account_ = shared(account);
  signer_ = signer == account ? PyRef::borrow(account_.get()) : shared(signer);
  failed_ = !account_ || !signer_;
  return !failed_;
}

bool RenderedList::take(size_t i, TapeReader& in) {
  JsonKeys vocabulary = g_json_keys.keys();
  if (!vocabulary) return put(i, nullptr);
  TapeSource src(in, vocabulary, repeated_, tracking_, account_.get(), signer_.get());
  PyObject* dict = kind_ == Kind::Prepared ? prepared_dict(src) : signed_dict(src);
  if (dict != nullptr) tracking_.filled(dict);
  return put(i, dict);
}

PyObject* RenderedList::finish(const fyrn::Status& status) {
  if (failed_) return nullptr;
  if (!status) return raise_error(status.error());
  tracking_.filled(list_.get());
  tracking_.track_deferred();  // the list and every result in it
  return list_.release();
}

}  // namespace fyrn::py
