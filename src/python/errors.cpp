// errors.cpp: core errors become ValueError; violated invariants become the
// panic exception.
#include "errors.hpp"

namespace fyrn::py {
namespace {

// Created once at import and kept for the life of the process. Deliberately not
// a module attribute: nobody should be catching it by name.
PyObject* g_panic_type = nullptr;

void set_error_text(PyObject* type, std::string_view text) {
  PyRef message = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(type, message.get());
}

}  // namespace

Raised raise_error(const fyrn::Error& error) { return raise_value_error(error.display()); }

Raised raise_value_error(std::string_view text) {
  set_error_text(PyExc_ValueError, text);
  return {};
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

Raised raise_panic(const char* message) {
  if (init_panic_type()) set_error_text(g_panic_type, message);
  return {};
}

}  // namespace fyrn::py
