// read_prepared.hpp: prepared-message dictionaries (and their parts) read back
// from Python into core records.
//
// A prepared dict comes back from the caller, possibly edited: every value is
// checked for its type here, and finalisation checks what the values mean.
#pragma once

#include "convert.hpp"
#include "pyref.hpp"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "fyrn/json.hpp"
#include "fyrn/prepare.hpp"

namespace fyrn::py {

// JsonReader converts a Python object into a JSON value exactly as
// `json.loads(json.dumps(obj))` would accept or refuse it, without the text in
// between. It fails in two stages, as dumping then parsing would: what the
// dumping refuses (a value of no JSON type, a key of no JSON type, a
// container that contains itself, nesting past the recursion limit, an int
// too long to print) raises at once from `read`; what only the parsing would
// refuse (NaN and infinities, numbers beyond a double, lone surrogates, a top
// level that is no array) is kept and raised by `array` as ValueError.
//
// The walk keeps its own stack, so the C stack does not grow with the depth.
// Nesting counts against the interpreter's recursion limit as the dumping's
// does, and past fyrn::kMaxJsonDepth levels it is RecursionError whatever
// that limit says.
class JsonReader {
 public:
  JsonReader();
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;
  ~JsonReader();

  // read converts obj; false with the dumping's exception set.
  bool read(PyObject* obj);
  // array hands over the value as a list of actions; false with ValueError
  // set if the text would not parse, or is no array.
  bool array(fyrn::JsonList& out);
  // python_form hands over, when it could be built while reading, the Python
  // form that converting the value back would give (json_to_py): new lists
  // and dicts holding the scalars read. Built for dicts whose keys arrive in
  // ascending byte order without repeats (every dict of our own output);
  // empty otherwise, and after a failed read.
  PyRef python_form();

 private:
  // Frame is one open list, tuple or dict: its items (or key, value pairs)
  // are refs_[next, end), its value is being built in *target and its Python
  // form in *py (owned by the enclosing form; stale once forming_ is off).
  struct Frame {
    PyObject* container;  // kept alive by its parent's items (or the caller)
    fyrn::Json* target;
    PyObject* py;
    size_t begin;
    size_t next;
    size_t end;
    bool is_dict;
    bool copied;  // *py started as a copy of the dict
    bool in_set;  // container is in deep_open_
  };
  // Place says where the Python form of a value goes: element `index` of the
  // list `container`, member `key` of the dict `container`, or the root.
  struct Place {
    PyObject* container;
    Py_ssize_t index;
    PyObject* key;
    bool copied;  // the dict is a copy that already holds the value read
  };

  bool walk(PyObject* obj);
  bool value(PyObject* obj, fyrn::Json& out, const Place& place);
  bool open(PyObject* obj, fyrn::Json& out, bool is_dict, const Place& place);
  bool put(const Place& place, PyObject* form);
  bool is_open(PyObject* obj) const;
  void close();
  void close_all() noexcept;
  bool key(PyObject* obj, std::string& out, bool& as_is);
  void defer(const char* problem);

  fyrn::Json value_;
  std::optional<std::string> problem_;
  std::vector<Frame> frames_;
  std::vector<PyRef> refs_;  // the items of every open container, innermost last
  // Open containers below the first kScannedFrames levels that hold open
  // containers themselves, for the cycle check (the levels above are scanned
  // directly, which is faster for the usual shallow values).
  std::unordered_set<PyObject*> deep_open_;
  static constexpr size_t kScannedFrames = 16;
  PyRef form_;  // the root of the Python form, while it is being built
  bool forming_ = true;
};

// bytes_from_py reads a byte string from bytes, bytearray or any other
// sequence of ints 0..255. A str: TypeError "Can't extract `str` to `Vec`";
// an element out of range: OverflowError.
bool bytes_from_py(PyObject* obj, std::vector<uint8_t>& out);

// prepared_from_py reads a prepared-message dict: "actions", "message_bytes",
// "account", "signer", "nonce" (each required: ValueError "Missing '<key>'"),
// then the actions' parse, then the optional "order_id" and "order_ids".
// The renderings ("message_base58" …) are not read as part of the record.
// `forms`, when given, receives the objects read that results made from the
// record can hold as they are (convert.hpp), "message_base58" among them.
bool prepared_from_py(PyObject* dict, fyrn::PreparedMessage& out, PreparedForms* forms = nullptr);

}  // namespace fyrn::py
