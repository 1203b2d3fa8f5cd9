// errors.cpp: core errors become ValueError; violated invariants become the
// panic exception.
#include "errors.hpp"

namespace fyrn::py {
namespace {

// Created once at import and kept for the life of the process. Deliberately not
// a module attribute: nobody should be catching it by name.
PyObject* g_panic_type = nullptr;

}  // namespace

PyObject* raise_error(const fyrn::Error& error) {
  set_error_text(PyExc_ValueError, error.display());
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

PyObject* raise_panic(const char* message) {
  if (!init_panic_type()) return nullptr;
  set_error_text(g_panic_type, message);
  return nullptr;
}

}  // namespace fyrn::py
