// key_table.cpp: the interned key strings.
#include "key_table.hpp"

#include <memory>
#include <new>

namespace fyrn::py::detail {

PyObject* const* KeyStrings::build(const std::string_view* names, size_t n) {
  std::unique_ptr<PyObject*[]> keys(new (std::nothrow) PyObject*[n]());
  if (!keys) {
    PyErr_NoMemory();
    return nullptr;
  }
  for (size_t i = 0; i < n; ++i) {
    PyObject* s = PyUnicode_FromStringAndSize(names[i].data(), static_cast<Py_ssize_t>(names[i].size()));
    if (s == nullptr) {
      for (size_t j = 0; j < i; ++j) Py_DECREF(keys[j]);
      return nullptr;
    }
    PyUnicode_InternInPlace(&s);
    keys[i] = s;
  }
  // Published only when complete, so a failed build leaves the table empty
  // and the next call simply tries again.
  keys_ = keys.release();
  return keys_;
}

}  // namespace fyrn::py::detail
