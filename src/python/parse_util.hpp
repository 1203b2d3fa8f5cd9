// parse_util.hpp: reading dictionaries (orders, builder codes, configurations,
// prepared and wallet messages) and sequences: the parser's interned keys,
// strong-reference lookups, the key readers (*_at) with their fixed error
// texts, and the lenient conversions of optional values. Single values convert
// with the binder's to_* (binder.hpp).
//
// Everything here runs with the interpreter lock held and returns false with a
// Python exception set on failure. Values read from a dictionary are held by a
// strong reference while they are converted: a __float__ or __index__ hook may
// run arbitrary Python code, including code that mutates the dictionary.
#pragma once

#include "binder.hpp"
#include "errors.hpp"
#include "key_table.hpp"
#include "pyref.hpp"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/keys.hpp"

namespace fyrn::py::parse {

// Every key the order and action parsers look up.
inline constexpr std::string_view kKeyNames[] = {
    "type", "symbol", "is_buy", "price", "size", "reduce_only", "iso", "order_type", "tif", "is_market",
    "trigger_px", "client_id", "commission", "builder_code", "slippage", "order_id", "amount", "symbols",
    "trigger_price", "limit_price", "pmin", "pmax", "lmin", "lmax", "sl_slippage", "tp_slippage", "trail_bps",
    "step_bps", "actions", "trigger", "on_fill", "to", "fee", "instruments", "max_exposure", "reserve",
    "rfactor", "volume_percent", "volume_min", "volume_rampup", "max_sweep_bps", "max_adl_notional",
    "max_adl_percent", "cross_exposure", "scoring_skew", "toxicity", "urgency_size_fraction", "sweep_sds",
    "l", "m", "cx", "mod", "cxa", "c", "b", "px", "sz", "r", "i", "cloid", "oid",
};
using Keys = KeyTable<kKeyNames>::Keys;

// keys returns the parser's key strings (k["symbol"]), creating them on first
// use; empty with MemoryError set if that fails (a later call retries).
Keys keys();

// get looks key up in dict (a dict or subclass; its own __getitem__ is not
// consulted) and stores a strong reference in out, or leaves out empty when
// the key is absent. False only if the lookup itself raised (a key's __eq__).
bool get(PyObject* dict, PyObject* key, PyRef& out);
// require is get, with ValueError(missing) when the key is absent.
bool require(PyObject* dict, PyObject* key, const char* missing, PyRef& out);

// only_keys reports whether every key of dict is one of names (each a str):
// then a lookup of any other key would miss. Only exact str keys count, and
// they are compared without running Python code, so the answer holds until
// the caller runs some.
bool only_keys(PyObject* dict, std::initializer_list<PyObject*> names);

// Key readers: look a key up and convert its value with the binder's
// conversion of the same kind (no prefix). The required ones raise
// ValueError(missing) for an absent key, before any conversion.
bool text_at(PyObject* d, PyObject* key, const char* missing, std::string& out);
bool bool_at(PyObject* d, PyObject* key, const char* missing, bool& out);
bool f64_at(PyObject* d, PyObject* key, const char* missing, double& out);
bool u32_at(PyObject* d, PyObject* key, const char* missing, uint32_t& out);
bool hash_at(PyObject* d, PyObject* key, const char* missing, fyrn::Hash& out);
// opt_f64_at: absent leaves out unset; present must convert (strict).
bool opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out);

// Lenient readers never raise for a value of the wrong kind (they return false
// only for exceptions that must not be swallowed: MemoryError and
// BaseException-only ones such as KeyboardInterrupt).

// swallow_ordinary clears a pending exception if it is an ordinary failure
// (an Exception other than MemoryError) and reports whether it did.
bool swallow_ordinary();
// lenient_bool: true only for True; never raises.
inline bool lenient_bool(PyObject* obj) { return obj == Py_True; }
// lenient_bool_at: absent or not a bool gives false.
bool lenient_bool_at(PyObject* d, PyObject* key, bool& out);
// lenient_f64_at: absent or refused by the float conversion gives dflt.
bool lenient_f64_at(PyObject* d, PyObject* key, double dflt, double& out);
// lenient_opt_f64_at: absent or refused by the float conversion stays unset.
bool lenient_opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out);
// text_list_lenient: a sequence (not a str) of str elements as a list of
// strings; anything else gives an empty list. Never raises an ordinary error.
bool text_list_lenient(PyObject* obj, std::vector<std::string>& out);

// upper_text upper-cases a str with the interpreter's str.upper
// (full Unicode case mapping: "ß" becomes "SS", dotless "ı" becomes "I"),
// taking a byte loop for pure ASCII. out is UTF-8. str must already have
// passed to_text (so it is ready and encodable).
bool upper_text(PyObject* str, std::string& out);

// sequence_iter returns an iterator over a sequence argument that is not a
// str; otherwise TypeError "Can't extract `str` to `Vec`" or the "Sequence"
// mismatch, prefixed with param's name when param is non-null.
PyRef sequence_iter(PyObject* seq, const char* param);

}  // namespace fyrn::py::parse
