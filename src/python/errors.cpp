// errors.cpp: core errors become ValueError; violated invariants become the
// panic exception.
#include "errors.hpp"

#include <string>

namespace fyrn::py {
namespace {

// Created once at import and kept for the life of the process. Deliberately not
// a module attribute: nobody should be catching it by name.
PyObject* g_panic_type = nullptr;

}  // namespace

PyObject* raise_error(const fyrn::Error& error) {
  const std::string text = error.display();
  // Payload texts come from callers' strings; never let a decoding problem
  // replace the error the caller should see.
  PyRef message = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

bool init_panic_type() {
  if (g_panic_type != nullptr) return true;
  g_panic_type = PyErr_NewExceptionWithDoc(
      "_native.PanicException",
      "An internal invariant of the library failed (a clock before 1970, a failing OS random source).\n\n"
      "Derived from BaseException: it is not an input error and is not meant to be caught.",
      PyExc_BaseException, nullptr);
  return g_panic_type != nullptr;
}

PyObject* panic_type() { return g_panic_type; }

PyObject* raise_panic(const char* message) {
  if (!init_panic_type()) return nullptr;
  PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::char_traits<char>::length(message)), "replace"));
  if (text) PyErr_SetObject(g_panic_type, text.get());
  return nullptr;
}

}  // namespace fyrn::py
