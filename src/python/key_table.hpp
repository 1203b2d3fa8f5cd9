// key_table.hpp: the dict keys of the shell as interned strings, created once
// and reused by every call, so that result dicts cost no key allocation and
// every lookup or insertion finds the key's hash cached.
#pragma once

#include "pyref.hpp"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace fyrn::py {

namespace detail {

// KeyStrings builds and keeps the strings of one table.
class KeyStrings {
 public:
  PyObject* const* get(const std::string_view* names, size_t n) { return keys_ != nullptr ? keys_ : build(names, n); }

 private:
  PyObject* const* build(const std::string_view* names, size_t n);
  PyObject** keys_ = nullptr;
};

}  // namespace detail

// KeyTable<Names> is a fixed list of dict keys (Names: a constexpr array of
// std::string_view). Code names a key by its text, `k["symbol"]`, and that text
// is looked up in Names when the program is compiled: a key that is not in the
// table does not compile, and the lookup costs nothing at run time. Define
// tables with static storage duration; use them with the interpreter lock held.
//
// The strings are kept for the life of the process. They belong to the one
// interpreter the module lives in: module.cpp refuses any other, and refuses
// a new import once that interpreter is finalised, so they are never handed
// to an interpreter that did not build them.
template <const auto& Names>
class KeyTable {
 public:
  static constexpr size_t kSize = std::size(Names);

  // Key is the position of a name in Names.
  class Key {
   public:
    consteval Key(const char* name) : index_(position(name)) {}  // NOLINT: implicit by design
    size_t index() const { return index_; }

   private:
    static consteval size_t position(const char* name) {
      for (size_t i = 0; i < kSize; ++i) {
        if (Names[i] == name) return i;
      }
      throw "not a key of this table";  // not a constant expression: the use does not compile
    }
    size_t index_;
  };

  // Keys are the table's strings, borrowed; empty when they could not be made.
  class Keys {
   public:
    explicit operator bool() const { return keys_ != nullptr; }
    PyObject* operator[](Key key) const { return keys_[key.index()]; }
    // at returns the string of Names[i] for a position found at run time.
    PyObject* at(size_t i) const { return keys_[i]; }

   private:
    friend class KeyTable;
    explicit Keys(PyObject* const* keys) : keys_(keys) {}
    PyObject* const* keys_;
  };

  KeyTable() = default;
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  // keys returns the strings, creating them on first use; empty with an
  // exception set if that fails (a later call tries again).
  Keys keys() { return Keys(strings_.get(Names, kSize)); }

 private:
  detail::KeyStrings strings_;
};

}  // namespace fyrn::py
