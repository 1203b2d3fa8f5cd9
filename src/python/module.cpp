// The _native module: initialisation and the function table.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "High-performance transaction signing for FYRN DEX",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__native(void) { return PyModule_Create(&g_module_def); }
