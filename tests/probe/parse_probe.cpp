// _fyrn_parse_probe: test-only, never installed. prepare_item(obj) parses obj as
// py_prepare_order does (a top-level "on_fill" attaches its actions) and returns
// the preparation-flavour JSON, which shows conditional slippages too.
// parse_repeat(obj, n) parses n times and keeps nothing (the benchmark's).
#include <new>
#include <stdexcept>

#include "../../src/python/convert.hpp"
#include "../../src/python/parse_orders.hpp"

namespace {

PyObject* prepare_item(PyObject*, PyObject* obj) {
  fyrn::OrderItem item;
  if (!fyrn::py::parse_order_with_on_fill(obj, item)) return nullptr;
  auto json = fyrn::order_item_to_json(item, fyrn::JsonFlavour::Prepare);
  if (!json) {
    PyErr_SetString(PyExc_ValueError, json.error().display().c_str());
    return nullptr;
  }
  return fyrn::py::json_to_py(*json);
}

PyObject* parse_repeat(PyObject*, PyObject* args) {
  PyObject* obj;
  Py_ssize_t n;
  if (!PyArg_ParseTuple(args, "On", &obj, &n)) return nullptr;
  for (Py_ssize_t i = 0; i < n; ++i) {
    fyrn::OrderItem item;
    if (!fyrn::py::parse_order_item(obj, item)) return nullptr;
  }
  Py_RETURN_NONE;
}

// guard keeps C++ exceptions (std::bad_alloc) from unwinding into Python.
template <auto Fn>
PyObject* guard(PyObject* self, PyObject* arg) noexcept {
  try {
    return Fn(self, arg);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

PyMethodDef g_functions[] = {
    {"prepare_item", &guard<&prepare_item>, METH_O, nullptr},
    {"parse_repeat", &guard<&parse_repeat>, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_fyrn_parse_probe", nullptr, -1, g_functions, nullptr, nullptr, nullptr,
                     nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__fyrn_parse_probe(void) { return PyModule_Create(&g_def); }
