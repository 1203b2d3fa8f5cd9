// parse_actions.hpp: Python values that become parts of a non-order action, and
// the builder-code object shared with the order parser.
//
// Identities (recipients, symbols) are strict and reported by name; the
// liquidator's numeric tuning values are lenient and fall back to zero.
// Each function returns false with a Python exception set on failure and
// never leaves a partial result in `out`.
#pragma once

#include "pyref.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fyrn/model.hpp"

namespace fyrn::py {

// parse_commission converts the value stored under "builder_code". obj is
// nullptr when the key is absent (out = nullopt). Checks, in this order: None
// ("builder_code must be omitted or an object"), not a dict ("PyDict"
// TypeError), "to" present and text, "fee" present and 0..255, "to" decodes as
// a public key, fee 1..=15 ("invalid order: builder-code fee must be 1..=15 bps").
bool parse_commission(PyObject* obj, std::optional<fyrn::Commission>& out);

// parse_liquidator_config converts the configuration dict: "instruments" (a
// list of dicts, each with a required str "symbol") and the lenient numbers.
// Type errors carry no argument prefix.
bool parse_liquidator_config(PyObject* obj, fyrn::LiquidatorConfig& out);

// volume_rampup_from_f64 turns the lenient float into the stored integer: NaN
// and values <= 0 give 0, values >= 2^64 give 2^64-1, others truncate.
uint64_t volume_rampup_from_f64(double v);

// Tuple-sequence arguments. `seq` is any sequence except str; each element a
// tuple of the exact length. param names the argument: TypeErrors raised here
// ("Can't extract `str` to `Vec`", "Sequence", "PyTuple", element conversions)
// carry the prefix "argument '<param>': "; ValueError (wrong tuple length) and
// OverflowError do not.

// parse_user_settings: (symbol str, leverage number) pairs, duplicates kept.
bool parse_user_settings(PyObject* seq, const char* param, std::vector<std::pair<std::string, double>>& out);
// parse_oracle_prices: (timestamp u64, symbol str, price number) triples.
bool parse_oracle_prices(PyObject* seq, const char* param, std::vector<fyrn::OraclePrice>& out);
// parse_pyth_prices: (timestamp u64, feed index u64, price u64, exponent i16)
// quadruples; an exponent outside -32768..32767 raises OverflowError.
bool parse_pyth_prices(PyObject* seq, const char* param, std::vector<fyrn::PythPrice>& out);

}  // namespace fyrn::py
