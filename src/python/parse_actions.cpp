// parse_actions.cpp: builder codes, the liquidator configuration and the
// tuple sequences of the oracle and leverage methods.
#include "parse_actions.hpp"

#include <algorithm>
#include <cmath>

#include "binder.hpp"
#include "parse_util.hpp"

namespace fyrn::py {

using parse::keys;
using parse::Keys;

bool parse_commission(PyObject* obj, std::optional<fyrn::Commission>& out) {
  if (obj == nullptr) {
    out.reset();
    return true;
  }
  if (obj == Py_None) return raise_value_error("builder_code must be omitted or an object");
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict");
  Keys k = keys();
  if (!k) return false;

  PyRef to;
  std::string_view recipient_text;
  if (!parse::require(obj, k["to"], "Missing builder_code.to", to) || !to_text(to.get(), nullptr, recipient_text)) {
    return false;
  }
  PyRef fee_obj;
  uint64_t fee = 0;
  if (!parse::require(obj, k["fee"], "Missing builder_code.fee", fee_obj) ||
      !to_uint_in_range(fee_obj.get(), 255, fee)) {
    return false;
  }
  // `to` is still referenced, so its UTF-8 view is alive.
  auto recipient = fyrn::Pubkey::from_base58(recipient_text);
  if (!recipient) return raise_error(recipient.error());
  auto commission = fyrn::Commission::make(*recipient, static_cast<uint8_t>(fee));
  if (!commission) return raise_error(commission.error());
  out = *commission;
  return true;
}

uint64_t volume_rampup_from_f64(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(v);  // truncates toward zero
}

namespace {

// lenient_number reads a liquidator number: absent or refused by the float
// conversion gives 0.0.
bool lenient_number(PyObject* dict, PyObject* key, double& out) { return parse::lenient_f64_at(dict, key, 0.0, out); }

bool parse_instrument(PyObject* obj, Keys k, fyrn::LiquidatorInstrumentConfig& out) {
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict");
  PyRef symbol;
  if (!parse::require(obj, k["symbol"], "Missing 'symbol'", symbol) || !to_text(symbol.get(), nullptr, out.symbol)) {
    return false;
  }
  double rampup = 0.0;
  if (!lenient_number(obj, k["max_exposure"], out.max_exposure) || !lenient_number(obj, k["reserve"], out.reserve) ||
      !lenient_number(obj, k["rfactor"], out.rfactor) ||
      !lenient_number(obj, k["volume_percent"], out.volume_percent) ||
      !lenient_number(obj, k["volume_min"], out.volume_min) || !lenient_number(obj, k["volume_rampup"], rampup) ||
      !lenient_number(obj, k["max_sweep_bps"], out.max_sweep_bps) ||
      !lenient_number(obj, k["max_adl_notional"], out.max_adl_notional) ||
      !lenient_number(obj, k["max_adl_percent"], out.max_adl_percent)) {
    return false;
  }
  out.volume_rampup = volume_rampup_from_f64(rampup);
  return true;
}

}  // namespace

bool parse_liquidator_config(PyObject* obj, fyrn::LiquidatorConfig& out) {
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict");
  Keys k = keys();
  if (!k) return false;

  fyrn::LiquidatorConfig cfg;
  PyRef instruments;
  if (!parse::get(obj, k["instruments"], instruments)) return false;
  if (instruments) {
    if (!PyList_Check(instruments.get())) return raise_type_mismatch(instruments.get(), "PyList");
    // The list may shrink while a __float__ hook runs: re-read its size each time.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(instruments.get()); ++i) {
      PyRef el = PyRef::borrow(PyList_GET_ITEM(instruments.get(), i));
      fyrn::LiquidatorInstrumentConfig inst;
      if (!parse_instrument(el.get(), k, inst)) return false;
      cfg.instruments.push_back(std::move(inst));
    }
  }
  if (!lenient_number(obj, k["cross_exposure"], cfg.cross_exposure) ||
      !lenient_number(obj, k["scoring_skew"], cfg.scoring_skew) || !lenient_number(obj, k["toxicity"], cfg.toxicity) ||
      !lenient_number(obj, k["urgency_size_fraction"], cfg.urgency_size_fraction) ||
      !lenient_number(obj, k["sweep_sds"], cfg.sweep_sds)) {
    return false;
  }
  out = std::move(cfg);
  return true;
}

namespace {

// each_tuple walks a tuple-sequence argument, checking every element's kind
// and length before handing it to convert(tuple). The first failure ends it.
template <typename Convert>
bool each_tuple(PyObject* seq, const char* param, Py_ssize_t arity, Convert&& convert) {
  PyRef it = parse::sequence_iter(seq, param);
  if (!it) return false;
  for (;;) {
    PyRef el = PyRef::steal(PyIter_Next(it.get()));
    if (!el) {
      if (!PyErr_Occurred()) return true;
      type_error_prefixed(param);
      return false;
    }
    if (!PyTuple_Check(el.get())) return raise_type_mismatch(el.get(), "PyTuple", param);
    Py_ssize_t len = PyTuple_GET_SIZE(el.get());
    if (len != arity) {
      PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd", arity, len);
      return false;
    }
    if (!convert(el.get())) {
      type_error_prefixed(param);
      return false;
    }
  }
}

// reserve_hint sizes the output for lists and tuples, whose length is exact;
// other sequences grow as they iterate, so a lying __len__ cannot force a huge
// allocation.
template <typename T>
void reserve_hint(PyObject* seq, std::vector<T>& out) {
  if (PyList_Check(seq)) {
    out.reserve(static_cast<size_t>(PyList_GET_SIZE(seq)));
  } else if (PyTuple_Check(seq)) {
    out.reserve(static_cast<size_t>(PyTuple_GET_SIZE(seq)));
  }
}

}  // namespace

bool parse_user_settings(PyObject* seq, const char* param, std::vector<std::pair<std::string, double>>& out) {
  std::vector<std::pair<std::string, double>> pairs;
  reserve_hint(seq, pairs);
  bool ok = each_tuple(seq, param, 2, [&](PyObject* t) {
    std::pair<std::string, double> p;
    if (!to_text(PyTuple_GET_ITEM(t, 0), nullptr, p.first) || !to_f64(PyTuple_GET_ITEM(t, 1), nullptr, p.second)) return false;
    pairs.push_back(std::move(p));
    return true;
  });
  if (ok) out = std::move(pairs);
  return ok;
}

bool parse_oracle_prices(PyObject* seq, const char* param, std::vector<fyrn::OraclePrice>& out) {
  std::vector<fyrn::OraclePrice> prices;
  reserve_hint(seq, prices);
  bool ok = each_tuple(seq, param, 3, [&](PyObject* t) {
    fyrn::OraclePrice p;
    if (!to_u64(PyTuple_GET_ITEM(t, 0), nullptr, p.timestamp) || !to_text(PyTuple_GET_ITEM(t, 1), nullptr, p.symbol) ||
        !to_f64(PyTuple_GET_ITEM(t, 2), nullptr, p.price)) {
      return false;
    }
    prices.push_back(std::move(p));
    return true;
  });
  if (ok) out = std::move(prices);
  return ok;
}

bool parse_pyth_prices(PyObject* seq, const char* param, std::vector<fyrn::PythPrice>& out) {
  std::vector<fyrn::PythPrice> updates;
  reserve_hint(seq, updates);
  bool ok = each_tuple(seq, param, 4, [&](PyObject* t) {
    fyrn::PythPrice p;
    int64_t exponent = 0;
    if (!to_u64(PyTuple_GET_ITEM(t, 0), nullptr, p.timestamp) ||
        !to_u64(PyTuple_GET_ITEM(t, 1), nullptr, p.feed_index) ||
        !to_u64(PyTuple_GET_ITEM(t, 2), nullptr, p.price) ||
        !to_int_in_range(PyTuple_GET_ITEM(t, 3), INT16_MIN, INT16_MAX, exponent)) {
      return false;
    }
    p.exponent = static_cast<int16_t>(exponent);
    updates.push_back(p);
    return true;
  });
  if (ok) out = std::move(updates);
  return ok;
}

}  // namespace fyrn::py
