// keypair_type.cpp: the `Keypair` class.
//
// Immutable once built, so instances are shared freely and never borrowed.
// The secret seed lives only inside the fyrn::Keypair member, whose destructor
// wipes it; every temporary copy of secret material made here is wiped too.
#include "keypair_type.hpp"

#include <sodium.h>

#include <new>
#include <string>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "exports.hpp"
#include "heap_type.hpp"

#include "fyrn/base58.hpp"

namespace fyrn::py {
namespace {

struct KeypairObject {
  PyObject_HEAD
  fyrn::Keypair keypair;
};

PyTypeObject* g_keypair_type = nullptr;

KeypairObject* as_keypair(PyObject* self) { return reinterpret_cast<KeypairObject*>(self); }

PyObject* wrap(PyTypeObject* type, const fyrn::Keypair& keypair) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&as_keypair(self)->keypair) fyrn::Keypair(keypair);
  return self;
}

PyObject* wrap_result(PyTypeObject* type, const fyrn::Result<fyrn::Keypair>& result) {
  if (!result.ok()) return raise_error(result.error());
  return wrap(type, result.value());
}

PyObject* keypair_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      Py_ssize_t pos = 0;
      PyDict_Next(kwargs, &pos, &key, &value);
      PyErr_Format(PyExc_TypeError, "Keypair.__new__() got an unexpected keyword argument '%S'", key);
      return nullptr;
    }
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs == 0) return wrap(type, fyrn::Keypair::generate());
    if (nargs > 1) {
      PyErr_SetString(PyExc_TypeError, "expected at most one key");
      return nullptr;
    }
    PyObject* key = PyTuple_GET_ITEM(args, 0);
    if (PyUnicode_Check(key)) {
      std::string_view text;
      if (!to_secret_text(key, nullptr, text)) return nullptr;
      return wrap_result(type, fyrn::Keypair::from_base58(text));
    }
    if (PyBytes_Check(key)) {
      return wrap_result(type, fyrn::Keypair::from_bytes(reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(key)),
                                                         static_cast<size_t>(PyBytes_GET_SIZE(key))));
    }
    PyErr_SetString(PyExc_TypeError, "key must be a base58 string or bytes");
    return nullptr;
  });
}

void keypair_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  as_keypair(self)->keypair.~Keypair();  // wipes the secret
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* keypair_from_base58(PyObject* const* argv) {
  std::string_view text;
  if (!to_secret_text(argv[0], "s", text)) return nullptr;
  return wrap_result(g_keypair_type, fyrn::Keypair::from_base58(text));
}

PyObject* keypair_from_bytes(PyObject* const* argv) {
  std::string_view bytes;
  if (!to_bytes(argv[0], "bytes", bytes)) return nullptr;
  return wrap_result(g_keypair_type,
                     fyrn::Keypair::from_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

PyObject* keypair_to_base58(PyObject* self, PyObject* const*) {
  auto full = as_keypair(self)->keypair.to_bytes();
  std::string text = fyrn::base58::encode_64(full.data());
  sodium_memzero(full.data(), full.size());
  PyObject* result = text_to_py(text);
  sodium_memzero(text.data(), text.size());
  return result;
}

PyObject* keypair_to_bytes(PyObject* self, PyObject* const*) {
  auto full = as_keypair(self)->keypair.to_bytes();
  PyObject* result = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(full.data()),
                                               static_cast<Py_ssize_t>(full.size()));
  sodium_memzero(full.data(), full.size());
  return result;
}

PyObject* keypair_secret_key(PyObject* self, PyObject* const*) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(as_keypair(self)->keypair.seed()), 32);
}

PyObject* pubkey_text(PyObject* self) {
  return guarded([&]() -> PyObject* {
    return text_to_py(as_keypair(self)->keypair.pubkey().to_base58());
  });
}

PyObject* keypair_pubkey(PyObject* self, void*) { return pubkey_text(self); }

PyObject* keypair_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const std::string text = as_keypair(self)->keypair.pubkey().to_base58();
    return PyUnicode_FromFormat("Keypair(pubkey='%s')", text.c_str());
  });
}

PyMethodDef g_methods[] = {
    static_method<"Keypair.from_base58(s)", keypair_from_base58>(
        "Create from base58-encoded secret key or full keypair"),
    static_method<"Keypair.from_bytes(bytes)", keypair_from_bytes>(
        "Create from raw bytes (32-byte secret or 64-byte keypair)"),
    method<"Keypair.to_base58($self)", keypair_to_base58>("Get the full keypair as base58 (64 bytes)"),
    method<"Keypair.to_bytes($self)", keypair_to_bytes>("Get the full keypair as bytes (64 bytes)"),
    method<"Keypair.secret_key($self)", keypair_secret_key>("Get the secret key as bytes (32 bytes)"),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"pubkey", &keypair_pubkey, nullptr, "Get the public key as base58 string", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>("Keypair(*args)\n--\n\nEd25519 keypair for signing transactions")},
    {Py_tp_new, reinterpret_cast<void*>(&keypair_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&keypair_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&keypair_repr)},
    {Py_tp_str, reinterpret_cast<void*>(&pubkey_text)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_type_def = {"_native.Keypair", sizeof(KeypairObject), 0, kClassFlags, g_slots};

}  // namespace

PyTypeObject* keypair_type() { return heap_type(g_keypair_type, g_type_def); }

const fyrn::Keypair* keypair_of(PyObject* obj) {
  if (g_keypair_type == nullptr || !PyObject_TypeCheck(obj, g_keypair_type)) return nullptr;
  return &as_keypair(obj)->keypair;
}

}  // namespace fyrn::py
