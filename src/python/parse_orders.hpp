// parse_orders.hpp: order dictionaries (the simplified shape, keyed by "type")
// into OrderItem records, and lists and batches of them.
//
// Keys are read in a fixed order per item type and the first failing key is
// the one reported. Identity values (symbol, side, prices, sizes, ids) are
// strict; optional flags and limits of the wrong type silently take their
// defaults; unknown keys are ignored. Every function holds the interpreter lock,
// never mutates its input, returns false with a Python exception set on
// failure, and never leaves a partial result in `out`.
#pragma once

#include "pyref.hpp"

#include <vector>

#include "fyrn/model.hpp"

namespace fyrn::py {

// kMaxOrderDepth bounds how deeply items may nest through "trigger" and
// "actions" (the top-level item is depth 1). A bracket is depth 2 and a basket
// inside an on-fill depth 3; deeper input (or a dict that contains itself)
// fails with ValueError "order nesting exceeds 32 levels" instead of
// exhausting the C stack.
inline constexpr int kMaxOrderDepth = 32;

// parse_order_item converts one order dictionary. Not a dict: TypeError
// "'<type>' object cannot be converted to 'PyDict'" (no argument prefix).
bool parse_order_item(PyObject* obj, fyrn::OrderItem& out);

// parse_order_list converts a list of order dictionaries in list order. obj
// must be a list (or subclass); otherwise TypeError naming "PyList", prefixed
// "argument '<param>': " when param is non-null. The first element that fails
// raises its own exception unchanged.
bool parse_order_list(PyObject* obj, const char* param, std::vector<fyrn::OrderItem>& out);

// parse_order_batches converts a list of lists of order dictionaries. The
// outer list is checked as in parse_order_list (with param's prefix); an inner
// element that is not a list raises the "PyList" TypeError without prefix.
bool parse_order_batches(PyObject* obj, const char* param, std::vector<std::vector<fyrn::OrderItem>>& out);

// parse_order_with_on_fill is the order parse of py_prepare_order alone: a dict
// that carries "on_fill" becomes OnFill { trigger: the dict itself parsed as an
// item (its "on_fill" key ignored there), actions: on_fill["actions"] }.
// The "on_fill" value must be a dict ("PyDict"), its "actions" key present
// ("Missing on_fill.actions") and a list ("PyList"). Without "on_fill" (or for
// a non-dict) this is parse_order_item.
bool parse_order_with_on_fill(PyObject* obj, fyrn::OrderItem& out);

// parse_tif reads a time in force (also used by the compact order shape): a
// value that is not text is GTC; text is upper-cased with str.upper (full
// Unicode case mapping) and matched against "GTC", "IOC", "ALO"; other text
// raises ValueError "<invalid_prefix><text as given>".
bool parse_tif(PyObject* obj, const char* invalid_prefix, fyrn::Tif& out);

}  // namespace fyrn::py
