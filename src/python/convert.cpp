// Core results into Python objects.
#include "convert.hpp"

#include "errors.hpp"
#include "key_table.hpp"

#include "fyrn/base58.hpp"
#include "fyrn/encoding.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace fyrn::py {
namespace {

// Every key the submission JSON writes, in ascending byte order. Keys found
// here reuse one interned string; any other key (a user-settings symbol, a
// prepared message read back from the caller) gets a fresh one.
constexpr std::string_view kJsonKeyNames[] = {
    "a", "abc", "account", "actions", "agentWalletCreation", "amount", "b", "builderCode", "c",
    "createMultisig", "createSubAccount", "cross_exposure", "cx", "cxa", "d", "e", "faucet", "fee", "fi",
    "from", "i", "instruments", "k", "l", "lim", "liq", "lmax", "lmin", "m", "marginAmount",
    "max_adl_notional", "max_adl_percent", "max_exposure", "max_sweep_bps", "mod", "msa", "msc", "mse", "msp",
    "msr", "msu", "name", "o", "of", "oid", "oracles", "p", "pmax", "pmin", "proposalLifetimeSecs", "px", "r",
    "rbc", "removeSubAccount", "renameSubAccount", "reserve", "rfactor", "rng", "scoring_skew", "signers",
    "slSlippage", "slippage", "st", "stb", "sweep_sds", "symbol", "sz", "t", "target", "threshold", "tif",
    "timeLockSecs", "to", "toRemove", "toxicity", "tp", "tpSlippage", "tr", "transfer", "trb", "trig",
    "trigger", "trl", "u", "updateUserSettings", "urgency_size_fraction", "volume_min", "volume_percent",
    "volume_rampup", "whitelist", "whitelistFaucet",
};
static_assert(std::adjacent_find(std::begin(kJsonKeyNames), std::end(kJsonKeyNames),
                                 [](std::string_view a, std::string_view b) { return a >= b; }) ==
                  std::end(kJsonKeyNames),
              "the key vocabulary is kept sorted and free of repeats");

KeyTable<kJsonKeyNames> g_json_keys;
using JsonKeys = KeyTable<kJsonKeyNames>::Keys;

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

// text_value_to_py returns a new reference to the str for a JSON text value.
PyObject* text_value_to_py(const std::string& text) {
  if (text.size() == 3) {
    for (size_t i = 0; i < std::size(kCommonValueNames); ++i) {
      if (text == kCommonValueNames[i]) {
        auto values = g_common_values.keys();
        if (!values) return nullptr;
        PyObject* value = values.at(i);
        Py_INCREF(value);
        return value;
      }
    }
  }
  return text_to_py(text);
}

// The key vocabulary as an open-addressing hash table built at compile time:
// every result dict looks up each of its keys here, and a hash plus one
// comparison beats a binary search of string comparisons.
constexpr uint32_t key_hash(std::string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

constexpr size_t kKeySlots = 256;  // a power of two, well above the vocabulary's size
static_assert(std::size(kJsonKeyNames) * 2 < kKeySlots);

constexpr std::array<int16_t, kKeySlots> make_key_slots() {
  std::array<int16_t, kKeySlots> slots{};
  for (auto& slot : slots) slot = -1;
  for (size_t i = 0; i < std::size(kJsonKeyNames); ++i) {
    size_t at = key_hash(kJsonKeyNames[i]) & (kKeySlots - 1);
    while (slots[at] >= 0) at = (at + 1) & (kKeySlots - 1);
    slots[at] = static_cast<int16_t>(i);
  }
  return slots;
}
constexpr std::array<int16_t, kKeySlots> kKeySlotsTable = make_key_slots();

// object_key returns a new reference to the dict key for `name`.
PyObject* object_key(JsonKeys vocabulary, const std::string& name) {
  for (size_t at = key_hash(name) & (kKeySlots - 1);; at = (at + 1) & (kKeySlots - 1)) {
    const int16_t index = kKeySlotsTable[at];
    if (index < 0) break;
    if (kJsonKeyNames[index] == name) {
      PyObject* key = vocabulary.at(static_cast<size_t>(index));
      Py_INCREF(key);
      return key;
    }
  }
  return text_to_py(name);
}

// Sets dict[key] = value, taking over `value`; false with an exception set
// when value is nullptr or the insertion fails.
bool put(PyObject* dict, PyObject* key, PyObject* value) {
  PyRef owned = PyRef::steal(value);
  return owned && PyDict_SetItem(dict, key, owned.get()) == 0;
}

// list_to_py returns a new list of n elements, element i being make(i) (a new
// reference, or nullptr with an exception set, which drops the whole list).
template <typename Make>
PyObject* list_to_py(size_t n, Make&& make) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (size_t i = 0; i < n; ++i) {
    PyObject* element = make(i);
    if (element == nullptr) return nullptr;  // the unfilled slots are NULL, which the list tolerates
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), element);
  }
  return list.release();
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
    case Kind::number_unsigned: {
      const uint64_t u = value.get_ref<const Json::number_unsigned_t&>();
      if (u <= static_cast<uint64_t>(INT64_MAX)) return PyLong_FromUnsignedLongLong(u);
      return PyFloat_FromDouble(static_cast<double>(u));  // rounds to nearest
    }
    case Kind::number_integer:
      return PyLong_FromLongLong(value.get_ref<const Json::number_integer_t&>());
    case Kind::number_float:
      return PyFloat_FromDouble(value.get_ref<const Json::number_float_t&>());
    case Kind::string:
      return text_value_to_py(value.get_ref<const Json::string_t&>());
    case Kind::binary: {
      const auto& bytes = value.get_ref<const Json::binary_t&>();
      return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<Py_ssize_t>(bytes.size()));
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
      PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(array.size())));
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
  std::vector<Frame> frames_;
};

PyObject* array_to_py(JsonKeys vocabulary, const std::vector<Json>& values) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return nullptr;
  Converter converter(vocabulary);
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* element = converter.run(values[i]);
    if (element == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), element);
  }
  return list.release();
}

PyObject* texts_to_py(const std::vector<std::string>& texts) {
  return list_to_py(texts.size(), [&](size_t i) { return text_to_py(texts[i]); });
}

}  // namespace

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

// formed returns a new reference to `form` when there is one, else make().
template <typename Make>
PyObject* formed(const PyRef* form, Make&& make) {
  if (form == nullptr || !*form) return make();
  Py_INCREF(form->get());
  return form->get();
}

PyObject* signed_to_py(const SignedTransaction& tx, PyObject* own_key, const PreparedForms* forms) {
  auto k = g_signed_keys.keys();
  if (!k) return nullptr;
  std::string_view own_text;
  if (own_key != nullptr) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(own_key, &len);
    if (utf8 == nullptr) return nullptr;
    own_text = std::string_view(utf8, static_cast<size_t>(len));
  }
  auto key_text = [&](const std::string& text, const PyRef* form) -> PyObject* {
    if (form != nullptr && *form) {
      Py_INCREF(form->get());
      return form->get();
    }
    if (own_key != nullptr && text == own_text) {
      Py_INCREF(own_key);
      return own_key;
    }
    return text_to_py(text);
  };
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  if (!put(d, k["actions"], formed(forms ? &forms->actions : nullptr, [&] { return json_list_to_py(tx.actions); })) ||
      !put(d, k["nonce"], PyLong_FromUnsignedLongLong(tx.nonce)) ||
      !put(d, k["account"], key_text(tx.account, forms ? &forms->account : nullptr)) ||
      !put(d, k["signer"], key_text(tx.signer, forms ? &forms->signer : nullptr)) ||
      !put(d, k["signature"], text_to_py(tx.signature))) {
    return nullptr;
  }
  if (tx.order_id && !put(d, k["order_id"], text_to_py(*tx.order_id))) return nullptr;
  if (tx.order_ids && !put(d, k["order_ids"], texts_to_py(*tx.order_ids))) return nullptr;
  return dict.release();
}

PyObject* BatchList::finish(const fyrn::Status& status) {
  if (failed_) return nullptr;
  if (!status) return raise_error(status.error());
  return list_.release();
}

// ascii_to_py returns a new str of text known to be ASCII (the renderings of
// message bytes), without the UTF-8 decoder's pass over it.
PyObject* ascii_to_py(const std::string& text) {
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

PyObject* prepared_to_py(const PreparedMessage& prepared, const PreparedForms* forms) {
  auto k = g_prepared_keys.keys();
  if (!k) return nullptr;
  const std::vector<uint8_t>& bytes = prepared.message_bytes;
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  if (!put(d, k["message_bytes"], formed(forms ? &forms->message_bytes : nullptr, [&] {
             return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<Py_ssize_t>(bytes.size()));
           })) ||
      !put(d, k["message_base58"], base58_to_py(bytes, forms ? &forms->message_base58 : nullptr)) ||
      !put(d, k["message_base64"], encoded_to_py(base64_len(bytes.size()), bytes, &base64_encode_to)) ||
      !put(d, k["message_hex"], encoded_to_py(2 * bytes.size(), bytes, &hex_encode_to))) {
    return nullptr;
  }
  if (prepared.order_id && !put(d, k["order_id"], text_to_py(*prepared.order_id))) return nullptr;
  if (prepared.order_ids && !put(d, k["order_ids"], texts_to_py(*prepared.order_ids))) return nullptr;
  if (!put(d, k["actions"],
           formed(forms ? &forms->actions : nullptr, [&] { return json_list_to_py(prepared.actions); })) ||
      !put(d, k["account"], formed(forms ? &forms->account : nullptr, [&] { return text_to_py(prepared.account); })) ||
      !put(d, k["signer"], formed(forms ? &forms->signer : nullptr, [&] { return text_to_py(prepared.signer); })) ||
      !put(d, k["nonce"], PyLong_FromUnsignedLongLong(prepared.nonce))) {
    return nullptr;
  }
  return dict.release();
}

}  // namespace fyrn::py
