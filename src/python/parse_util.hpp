// parse_util.hpp: the small pieces shared by the dictionary parsers (orders,
// builder codes, configurations, tuple sequences): interned key strings,
// strong-reference dictionary lookups, and the conversion kinds with their
// fixed error texts.
//
// Everything here runs with the interpreter lock held and returns false with a
// Python exception set on failure. Values read from a dictionary are held by a
// strong reference while they are converted: a __float__ or __index__ hook may
// run arbitrary Python code, including code that mutates the dictionary.
#pragma once

#include "binder.hpp"
#include "pyref.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/keys.hpp"

namespace fyrn::py::parse {

// Every key the parsers look up, created once as interned strings: a str
// caches its hash, so a lookup costs one probe and no allocation.
#define FYRN_PARSE_KEYS(X)                                                                      \
  X(type) X(symbol) X(is_buy) X(price) X(size) X(reduce_only) X(iso) X(order_type) X(tif)      \
  X(is_market) X(trigger_px) X(client_id) X(commission) X(builder_code) X(slippage) X(order_id) \
  X(amount) X(symbols) X(trigger_price) X(limit_price) X(pmin) X(pmax) X(lmin) X(lmax)          \
  X(sl_slippage) X(tp_slippage) X(trail_bps) X(step_bps) X(actions) X(trigger) X(on_fill)       \
  X(to) X(fee) X(instruments) X(max_exposure) X(reserve) X(rfactor) X(volume_percent)           \
  X(volume_min) X(volume_rampup) X(max_sweep_bps) X(max_adl_notional) X(max_adl_percent)        \
  X(cross_exposure) X(scoring_skew) X(toxicity) X(urgency_size_fraction) X(sweep_sds)           \
  X(l) X(m) X(cx) X(mod) X(cxa) X(c) X(b) X(px) X(sz) X(r) X(i) X(cloid) X(oid)

struct Keys {
#define FYRN_PARSE_KEY_FIELD(name) PyObject* name;
  FYRN_PARSE_KEYS(FYRN_PARSE_KEY_FIELD)
#undef FYRN_PARSE_KEY_FIELD
};

// keys returns the interned key strings, creating them on first use (they live
// until the process ends, like the module). nullptr with MemoryError set if the
// first creation fails; a later call retries.
const Keys* keys();

// The binder's raisers: the "cannot be converted to" TypeError and the
// "out of range integral type conversion attempted" OverflowError.
using fyrn::py::raise_overflow;
using fyrn::py::raise_type_mismatch;

// raise_value_error sets ValueError(text); text may hold any bytes of valid
// UTF-8, NUL included. Always returns false.
bool raise_value_error(std::string_view text);
// raise_core_error sets ValueError(error.display()). Always returns false.
bool raise_core_error(const fyrn::Error& error);

// get looks key up in dict (a dict or subclass; its own __getitem__ is not
// consulted) and stores a strong reference in out, or leaves out empty when
// the key is absent. False only if the lookup itself raised (a key's __eq__).
bool get(PyObject* dict, PyObject* key, PyRef& out);
// require is get, with ValueError(missing) when the key is absent.
bool require(PyObject* dict, PyObject* key, const char* missing, PyRef& out);

// Conversion kinds. Strict kinds raise; lenient kinds never raise for a value
// of the wrong kind (they return false only for exceptions that must not be
// swallowed: MemoryError and BaseException-only ones such as
// KeyboardInterrupt).

// text_view: str or subclass, viewed as UTF-8 for as long as obj lives.
// Mismatch: "PyString" TypeError; lone surrogates: UnicodeEncodeError.
inline bool text_view(PyObject* obj, std::string_view& out) { return to_text(obj, nullptr, out); }
bool text(PyObject* obj, std::string& out);
// boolean: bool only ("PyBool" TypeError otherwise).
inline bool boolean(PyObject* obj, bool& out) { return to_bool(obj, nullptr, out); }
// f64: the interpreter's float conversion (float, int, __float__, __index__);
// its own TypeError / OverflowError otherwise.
inline bool f64(PyObject* obj, double& out) { return to_f64(obj, nullptr, out); }
// uint_in_range: __index__ then 0..max; OverflowError "out of range integral
// type conversion attempted" outside it; the interpreter's TypeError for a
// non-integer.
bool uint_in_range(PyObject* obj, uint64_t max, uint64_t& out);
// int_in_range: __index__ then min..max, same errors.
bool int_in_range(PyObject* obj, int64_t min, int64_t max, int64_t& out);
// u64_host: __index__ then the interpreter's own unsigned 64-bit conversion
// (its messages for negative or too large values).
inline bool u64_host(PyObject* obj, uint64_t& out) { return to_u64(obj, nullptr, out); }

// swallow_ordinary clears a pending exception if it is an ordinary failure
// (an Exception other than MemoryError) and reports whether it did.
bool swallow_ordinary();

// lenient_bool: true only for True; never raises.
inline bool lenient_bool(PyObject* obj) { return obj == Py_True; }
// lenient_f64: the float conversion, or dflt for a value it refuses.
bool lenient_f64(PyObject* obj, double dflt, double& out);
// optional_f64: the float conversion; has=false for a value it refuses.
bool optional_f64(PyObject* obj, bool& has, double& out);

// upper_text upper-cases a str with the interpreter's str.upper
// (full Unicode case mapping: "ß" becomes "SS", dotless "ı" becomes "I"),
// taking a byte loop for pure ASCII. out is UTF-8. str must already have
// passed text_view (so it is ready and encodable).
bool upper_text(PyObject* str, std::string& out);

// text_list_lenient: a sequence (not a str) of str elements as a list of
// strings; anything else gives an empty list. Never raises an ordinary error.
bool text_list_lenient(PyObject* obj, std::vector<std::string>& out);

// sequence_iter returns an iterator over a sequence argument that is not a
// str; otherwise TypeError "Can't extract `str` to `Vec`" or the "Sequence"
// mismatch, prefixed with param's name when param is non-null.
PyRef sequence_iter(PyObject* seq, const char* param);

// Key readers: look a key up in a dict and convert it. The req_* forms raise
// ValueError(missing) for an absent key, before any conversion.
bool req_text(PyObject* d, PyObject* key, const char* missing, std::string& out);
bool req_bool(PyObject* d, PyObject* key, const char* missing, bool& out);
bool req_f64(PyObject* d, PyObject* key, const char* missing, double& out);
bool req_u32(PyObject* d, PyObject* key, const char* missing, uint32_t& out);
// hash_value: text, decoded as a base58 32-byte hash (ValueError with the
// decoding error's display text).
bool hash_value(PyObject* obj, fyrn::Hash& out);
// req_hash: text, decoded as a base58 32-byte hash at once (ValueError with the
// decoding error's display text).
bool req_hash(PyObject* d, PyObject* key, const char* missing, fyrn::Hash& out);
// opt_f64: absent leaves out unset; present must convert (strict).
bool opt_f64(PyObject* d, PyObject* key, std::optional<double>& out);
// lenient_bool_at: absent or not a bool gives false.
bool lenient_bool_at(PyObject* d, PyObject* key, bool& out);
// lenient_f64_at: absent or refused by the float conversion gives dflt.
bool lenient_f64_at(PyObject* d, PyObject* key, double dflt, double& out);
// lenient_opt_f64_at: absent or refused by the float conversion stays unset.
bool lenient_opt_f64_at(PyObject* d, PyObject* key, std::optional<double>& out);

}  // namespace fyrn::py::parse
