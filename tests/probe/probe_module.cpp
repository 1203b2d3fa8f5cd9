// _fyrn_probe: a test-only extension exposing the shell's argument binder and
// conversions, so that pytest can compare them with the interpreter's own
// binding of a `def` with the same signature. Never installed.
#include <memory>
#include <string>
#include <vector>

#include "../../src/python/binder.hpp"
#include "../../src/python/errors.hpp"

namespace {

using fyrn::py::CallSpec;
using fyrn::py::PyRef;

struct ProbeCallable {
  std::string name;
  std::string owner;
  std::vector<std::string> params;
  std::vector<const char*> param_ptrs;
  CallSpec call{};
};

const char kCapsuleName[] = "_fyrn_probe.callable";

// The bound values as a tuple; a parameter left unbound (absent, or an
// optional None) shows up as Ellipsis.
PyObject* call_probe(PyObject* capsule, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto* probe = static_cast<ProbeCallable*>(PyCapsule_GetPointer(capsule, kCapsuleName));
  if (probe == nullptr) return nullptr;
  std::vector<PyObject*> out(probe->params.size() + 1, nullptr);
  if (!fyrn::py::bind(probe->call, args, nargs, kwnames, out.data())) return nullptr;
  PyRef result = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(probe->params.size())));
  if (!result) return nullptr;
  for (size_t i = 0; i < probe->params.size(); ++i) {
    PyObject* value = out[i] != nullptr ? out[i] : Py_Ellipsis;
    Py_INCREF(value);
    PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), value);
  }
  return result.release();
}

PyMethodDef g_call_def = {"probe", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call_probe)),
                          METH_FASTCALL | METH_KEYWORDS, nullptr};

// binder(name, owner, params, n_required) -> a callable bound by that description.
PyObject* make_binder(PyObject*, PyObject* args) {
  const char* name;
  PyObject* owner;
  PyObject* params;
  int n_required;
  if (!PyArg_ParseTuple(args, "sOO!i", &name, &owner, &PyTuple_Type, &params, &n_required)) return nullptr;
  auto probe = std::make_unique<ProbeCallable>();
  probe->name = name;
  if (owner != Py_None) {
    const char* text = PyUnicode_AsUTF8(owner);
    if (text == nullptr) return nullptr;
    probe->owner = text;
  }
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(params); ++i) {
    const char* text = PyUnicode_AsUTF8(PyTuple_GET_ITEM(params, i));
    if (text == nullptr) return nullptr;
    probe->params.emplace_back(text);
  }
  for (const auto& p : probe->params) probe->param_ptrs.push_back(p.c_str());
  probe->call = CallSpec{probe->name.c_str(), owner == Py_None ? nullptr : probe->owner.c_str(),
                         probe->param_ptrs.data(), static_cast<int>(probe->params.size()), n_required};
  PyRef capsule = PyRef::steal(PyCapsule_New(probe.get(), kCapsuleName, [](PyObject* c) {
    delete static_cast<ProbeCallable*>(PyCapsule_GetPointer(c, kCapsuleName));
  }));
  if (!capsule) return nullptr;
  probe.release();
  return PyCFunction_NewEx(&g_call_def, capsule.get(), nullptr);
}

// convert(kind, value, param, lo, hi) -> the converted value.
PyObject* convert(PyObject*, PyObject* args) {
  const char* kind;
  PyObject* value;
  const char* param;
  long long lo = 0;
  unsigned long long hi = 0;
  if (!PyArg_ParseTuple(args, "sOs|LK", &kind, &value, &param, &lo, &hi)) return nullptr;
  const std::string k = kind;
  std::string_view view;
  if (k == "text") {
    if (!fyrn::py::to_text(value, param, view)) return nullptr;
    return PyUnicode_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size()));
  }
  if (k == "bytes") {
    if (!fyrn::py::to_bytes(value, param, view)) return nullptr;
    return PyBytes_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size()));
  }
  if (k == "uint") {
    uint64_t out = 0;
    if (!fyrn::py::to_uint(value, param, hi, out)) return nullptr;
    return PyLong_FromUnsignedLongLong(out);
  }
  if (k == "int") {
    int64_t out = 0;
    if (!fyrn::py::to_int(value, param, lo, static_cast<int64_t>(hi), out)) return nullptr;
    return PyLong_FromLongLong(out);
  }
  if (k == "bool") {
    bool out = false;
    if (!fyrn::py::to_bool(value, param, out)) return nullptr;
    return PyBool_FromLong(out);
  }
  if (k == "f64") {
    double out = 0;
    if (!fyrn::py::to_f64(value, param, out)) return nullptr;
    return PyFloat_FromDouble(out);
  }
  PyErr_SetString(PyExc_ValueError, "unknown conversion");
  return nullptr;
}

// guarded_probe(mode) runs a body that fails in the named way inside guarded().
PyObject* guarded_probe(PyObject*, PyObject* arg) {
  const char* mode = PyUnicode_AsUTF8(arg);
  if (mode == nullptr) return nullptr;
  const std::string m = mode;
  return fyrn::py::guarded([&]() -> PyObject* {
    if (m == "panic") throw fyrn::Panic("time went backwards: clock is before 1970");
    if (m == "std") throw std::runtime_error("vector too long");
    if (m == "alloc") throw std::bad_alloc();
    if (m == "unknown") throw 42;
    if (m == "error") return fyrn::py::raise_error(fyrn::Error::invalid_signature_domain("x"));
    if (m == "null") return nullptr;  // a body that forgot to set an exception
    return PyLong_FromLong(7);
  });
}

PyMethodDef g_functions[] = {
    {"guarded", &guarded_probe, METH_O, nullptr},
    {"binder", &make_binder, METH_VARARGS, nullptr},
    {"convert", &convert, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_fyrn_probe", nullptr, -1, g_functions, nullptr, nullptr, nullptr,
                     nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__fyrn_probe(void) { return PyModule_Create(&g_def); }
