// heap_type.hpp: the two classes' type objects, created once from their slots.
#pragma once

#include "errors.hpp"
#include "pyref.hpp"

#include <string>

namespace fyrn::py {

#ifdef Py_TPFLAGS_IMMUTABLETYPE
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
inline constexpr unsigned kClassFlags = Py_TPFLAGS_DEFAULT;
#endif

// heap_type returns the class `type` caches, creating it from spec first (at
// module import); nullptr with the panic exception "failed to create type
// object for <name>" set if the interpreter cannot create it.
inline PyTypeObject* heap_type(PyTypeObject*& type, PyType_Spec& spec) {
  if (type == nullptr) {
    PyObject* created = PyType_FromSpec(&spec);
    if (created == nullptr) {
      PyErr_Clear();
      const std::string qualified = spec.name;
      const std::string message = "failed to create type object for " + qualified.substr(qualified.rfind('.') + 1);
      raise_panic(message.c_str());
      return nullptr;
    }
    type = reinterpret_cast<PyTypeObject*>(created);
  }
  return type;
}

}  // namespace fyrn::py
