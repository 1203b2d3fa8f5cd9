// convert.hpp: core results into Python objects.
#pragma once

#include "pyref.hpp"

#include <cstddef>
#include <string_view>
#include <vector>

#include "fyrn/json.hpp"
#include "fyrn/prepare.hpp"
#include "fyrn/tape.hpp"

namespace fyrn::py {

// json_to_py returns a new reference to the Python form of a JSON value: None,
// bool, int (an unsigned number above 2^63−1 becomes the nearest float),
// float, str, list, or dict with keys in the value's (ascending byte) order.
// On failure it returns nullptr with the exception set; nothing partial
// escapes.
PyObject* json_to_py(const fyrn::Json& value);

// json_list_to_py converts a list of JSON values into a new list.
PyObject* json_list_to_py(const std::vector<fyrn::Json>& values);

// PreparedForms are Python objects read with a prepared dict that equal what
// converting the record's fields back would give, so that a result made from
// the record can hold them instead (each empty where that is not so). The
// actions' form is new (built while they were read, JsonReader::python_form)
// and goes into one result only; the others are the caller's immutable
// objects (an exact bytes, exact str). The caller's "message_base58" is a
// candidate only: a result holds it once it is found to be the message's text.
struct PreparedForms {
  PyRef actions;
  PyRef message_bytes;
  PyRef message_base58;
  PyRef account;
  PyRef signer;
};

// signed_to_py returns a new dict with the keys "actions", "nonce", "account",
// "signer", "signature", then "order_id" and "order_ids" when present, in that
// insertion order. nullptr with the exception set on failure. `own_key`, when
// given, is a str of the signing key's base58 text: "account" and "signer"
// reuse it where they hold that text (two fewer strings per transaction).
// `forms`, when given, belong to the prepared record tx was finalised from.
PyObject* signed_to_py(const fyrn::SignedTransaction& tx, PyObject* own_key = nullptr,
                       const PreparedForms* forms = nullptr);

// prepared_to_py returns a new dict with the keys "message_bytes",
// "message_base58", "message_base64", "message_hex", then "order_id" and
// "order_ids" when present, "actions", "account", "signer", "nonce", in that
// insertion order. nullptr with the exception set on failure. `forms`, when
// given, belong to `prepared` as it was read back.
PyObject* prepared_to_py(const fyrn::PreparedMessage& prepared, const PreparedForms* forms = nullptr);

// new_list returns a new list of n empty (NULL) slots that the collector does
// not track yet. Lists are filled after they are made, and up to 3.11 any
// allocation while one is filled can run the collector, whose callbacks (and
// the finalisers it runs, and gc.get_objects()) would hand Python code the
// unfilled list: reading an empty slot crashes the interpreter. So each list
// made here is tracked only once it is full (Tracking::filled); one dropped
// unfilled needs nothing. An empty list is full at once, and tracked as made.
PyObject* new_list(size_t n);

// Tracking tracks each container as it is filled, or, for a batch (`defer`),
// only when the batch's whole list is returned (track_deferred). Until then
// the collector, which starts many times while a batch's results are made,
// does not scan the results made so far at each start; and no Python code
// can meet a result (or the list) half made.
class Tracking {
 public:
  Tracking() = default;
  explicit Tracking(bool defer) : defer_(defer) {}
  Tracking(const Tracking&) = delete;
  Tracking& operator=(const Tracking&) = delete;

  // filled is called once `container` (a list from new_list, or a dict) holds
  // everything it will hold. A dict is left as the interpreter tracks it.
  void filled(PyObject* container);
  // track_deferred tracks every container deferred so far; they must all be
  // alive (the batch's list holds them).
  void track_deferred();

 private:
  bool defer_ = false;
  std::vector<PyObject*> deferred_;  // borrowed
};

// RepeatedText is the last text value a batch's results converted that is
// short and not one of the common ones: an order's symbol, which most orders
// of a batch share, then reuses one str instead of a new one per order.
struct RepeatedText {
  char text[32];
  size_t size = 0;
  PyRef str;
};

// RenderedList collects a batch's result dicts while the batch is still
// running: each rendered result (fyrn/tape.hpp) becomes its dict, prepared or
// signed, as soon as it is handed over, every dict sharing one str of the
// account and one of the signer (`own_key`, a str of the signing key's base58
// text, where they hold that text); the whole list is dropped if any item (or
// any conversion) fails. The list and its results are tracked by the
// collector once the list is returned (Tracking).
class RenderedList final : public fyrn::RenderedSink {
 public:
  enum class Kind { Prepared, Signed };
  RenderedList(size_t n, Kind kind, PyObject* own_key = nullptr)
      : list_(PyRef::steal(new_list(n))), kind_(kind), own_key_(own_key) {}
  explicit operator bool() const { return static_cast<bool>(list_); }

  bool begin(std::string_view account, std::string_view signer) override;
  bool take(size_t i, fyrn::TapeReader& in) override;

  // finish returns the list, or nullptr with the exception of the first failure.
  PyObject* finish(const fyrn::Status& status);

 private:
  // put stores `dict` (a new reference) at i; a nullptr (conversion failed,
  // exception set) returns false, which stops the batch.
  bool put(size_t i, PyObject* dict) {
    if (dict == nullptr) {
      failed_ = true;
      return false;
    }
    PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(i), dict);
    return true;
  }

  PyRef list_;
  Kind kind_;
  PyObject* own_key_;
  PyRef account_, signer_;
  RepeatedText repeated_;
  Tracking tracking_{true};
  bool failed_ = false;
};

// text_to_py returns a new str from UTF-8 bytes.
inline PyObject* text_to_py(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace fyrn::py
