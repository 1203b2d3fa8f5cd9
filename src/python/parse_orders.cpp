// Order dictionaries into OrderItem records.
#include "parse_orders.hpp"

#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "parse_actions.hpp"
#include "parse_util.hpp"

namespace fyrn::py {

namespace {

using parse::bool_at;
using parse::f64_at;
using parse::hash_at;
using parse::Keys;
using parse::lenient_bool_at;
using parse::lenient_f64_at;
using parse::lenient_opt_f64_at;
using parse::opt_f64_at;
using parse::text_at;
using parse::u32_at;

bool builder_code(PyObject* d, Keys k, std::optional<fyrn::Commission>& out) {
  PyRef v;
  return parse::get(d, k["builder_code"], v) && parse_commission(v.get(), out);
}

bool too_deep() {
  return raise_value_error("order nesting exceeds " + std::to_string(kMaxOrderDepth) + " levels");
}

bool parse_item(PyObject* obj, Keys k, int depth, fyrn::OrderItem& out);

// item_list parses a list of items one level further down. The list may be
// changed by a conversion hook while we walk it: re-read its size each time.
bool item_list(PyObject* obj, Keys k, int depth, std::vector<fyrn::OrderItem>& out) {
  if (!PyList_Check(obj)) return raise_type_mismatch(obj, "PyList");
  std::vector<fyrn::OrderItem> items;
  items.reserve(static_cast<size_t>(PyList_GET_SIZE(obj)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
    PyRef el = PyRef::borrow(PyList_GET_ITEM(obj, i));
    fyrn::OrderItem item;
    if (!parse_item(el.get(), k, depth, item)) return false;
    items.push_back(std::move(item));
  }
  out = std::move(items);
  return true;
}

bool item_list_at(PyObject* d, PyObject* key, const char* missing, Keys k, int depth,
                   std::vector<fyrn::OrderItem>& out) {
  PyRef v;
  return parse::require(d, key, missing, v) && item_list(v.get(), k, depth, out);
}

bool parse_order_type(PyObject* obj, Keys k, fyrn::OrderType& out) {
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict");
  PyRef type;
  std::string_view name;
  if (!parse::require(obj, k["type"], "Missing order_type.type", type) || !to_text(type.get(), nullptr, name)) {
    return false;
  }
  if (name == "limit") {
    fyrn::LimitType limit;
    PyRef tif;
    if (!parse::get(obj, k["tif"], tif)) return false;
    if (tif && !parse_tif(tif.get(), "Invalid tif: ", limit.tif)) return false;
    out = limit;
    return true;
  }
  if (name == "market" || name == "trigger") {
    fyrn::TriggerType trigger;
    PyRef is_market;
    if (!parse::get(obj, k["is_market"], is_market)) return false;
    trigger.is_market = !is_market || parse::lenient_bool(is_market.get());
    if (!lenient_f64_at(obj, k["trigger_px"], 0.0, trigger.trigger_px)) return false;
    out = trigger;
    return true;
  }
  return raise_value_error("Invalid order_type: " + std::string(name));
}

bool parse_order(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::Order o;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", o.symbol) || !bool_at(d, k["is_buy"], "Missing 'is_buy'", o.is_buy) ||
      !f64_at(d, k["price"], "Missing 'price'", o.price) || !f64_at(d, k["size"], "Missing 'size'", o.size)) {
    return false;
  }
  // The usual order dict holds its five required keys and nothing else: the
  // seven optional keys would all miss, and those lookups cost about as much
  // as reading the rest of the order.
  if (parse::only_keys(d, {k["type"], k["symbol"], k["is_buy"], k["price"], k["size"]})) {
    out = std::move(o);
    return true;
  }
  if (!lenient_bool_at(d, k["reduce_only"], o.reduce_only) || !lenient_bool_at(d, k["iso"], o.iso)) return false;
  PyRef v;
  if (!parse::get(d, k["order_type"], v)) return false;
  if (v && !parse_order_type(v.get(), k, o.order_type)) return false;
  if (!parse::get(d, k["client_id"], v)) return false;
  if (v) {
    fyrn::Hash client_id;
    if (!to_hash(v.get(), nullptr, client_id)) return false;
    o.client_id = client_id;
  }
  if (!parse::get(d, k["commission"], v)) return false;
  if (v) return raise_value_error("commission was renamed to builder_code");
  if (!builder_code(d, k, o.builder_code) || !opt_f64_at(d, k["slippage"], o.slippage)) return false;
  out = std::move(o);
  return true;
}

bool parse_modify(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::Modify m;
  PyRef oid;
  std::string oid_text;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", m.symbol) ||
      !parse::require(d, k["order_id"], "Missing 'order_id'", oid) || !to_text(oid.get(), nullptr, oid_text) ||
      !f64_at(d, k["amount"], "Missing 'amount'", m.amount)) {
    return false;
  }
  // Decoded last, so a missing amount is reported before a malformed id.
  auto h = fyrn::Hash::from_base58(oid_text);
  if (!h) return raise_error(h.error());
  m.order_id = *h;
  out = std::move(m);
  return true;
}

bool parse_cancel(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::Cancel c;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", c.symbol) ||
      !hash_at(d, k["order_id"], "Missing 'order_id'", c.order_id)) {
    return false;
  }
  out = std::move(c);
  return true;
}

bool parse_cancel_all(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::CancelAll c;
  PyRef v;
  if (!parse::get(d, k["symbols"], v)) return false;
  if (v && !parse::text_list_lenient(v.get(), c.symbols)) return false;
  out = std::move(c);
  return true;
}

template <typename Conditional>
bool parse_conditional(PyObject* d, Keys k, fyrn::OrderItem& out) {
  Conditional s;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", s.symbol) || !bool_at(d, k["is_buy"], "Missing 'is_buy'", s.is_buy) ||
      !f64_at(d, k["size"], "Missing 'size'", s.size) ||
      !f64_at(d, k["trigger_price"], "Missing 'trigger_price'", s.trigger_price) ||
      !lenient_f64_at(d, k["limit_price"], NAN, s.limit_price) || !lenient_bool_at(d, k["iso"], s.iso) ||
      !builder_code(d, k, s.builder_code) || !opt_f64_at(d, k["slippage"], s.slippage)) {
    return false;
  }
  out = std::move(s);
  return true;
}

bool parse_range(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::Range r;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", r.symbol) || !bool_at(d, k["is_buy"], "Missing 'is_buy'", r.is_buy) ||
      !f64_at(d, k["size"], "Missing 'size'", r.size) || !f64_at(d, k["pmin"], "Missing 'pmin'", r.pmin) ||
      !f64_at(d, k["pmax"], "Missing 'pmax'", r.pmax) || !lenient_f64_at(d, k["lmin"], NAN, r.lmin) ||
      !lenient_f64_at(d, k["lmax"], NAN, r.lmax) || !lenient_bool_at(d, k["iso"], r.iso) ||
      !builder_code(d, k, r.builder_code) || !opt_f64_at(d, k["sl_slippage"], r.sl_slippage) ||
      !opt_f64_at(d, k["tp_slippage"], r.tp_slippage)) {
    return false;
  }
  out = std::move(r);
  return true;
}

bool parse_trailing_stop(PyObject* d, Keys k, fyrn::OrderItem& out) {
  fyrn::item::TrailingStop t;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", t.symbol) || !bool_at(d, k["is_buy"], "Missing 'is_buy'", t.is_buy) ||
      !f64_at(d, k["size"], "Missing 'size'", t.size) ||
      !u32_at(d, k["trail_bps"], "Missing 'trail_bps'", t.trail_bps) ||
      !u32_at(d, k["step_bps"], "Missing 'step_bps'", t.step_bps) ||
      !lenient_opt_f64_at(d, k["limit_price"], t.limit_price) || !lenient_bool_at(d, k["iso"], t.iso) ||
      !builder_code(d, k, t.builder_code) || !opt_f64_at(d, k["slippage"], t.slippage)) {
    return false;
  }
  out = std::move(t);
  return true;
}

bool parse_basket(PyObject* d, Keys k, int depth, fyrn::OrderItem& out) {
  PyRef iso;
  if (!parse::get(d, k["iso"], iso)) return false;
  if (iso) return raise_value_error("trig.iso is not supported; remove the top-level iso field");
  fyrn::item::TriggerBasket b;
  if (!text_at(d, k["symbol"], "Missing 'symbol'", b.symbol) || !bool_at(d, k["is_buy"], "Missing 'is_buy'", b.is_buy) ||
      !f64_at(d, k["trigger_price"], "Missing 'trigger_price'", b.trigger_price) ||
      !item_list_at(d, k["actions"], "Missing 'actions'", k, depth + 1, b.actions)) {
    return false;
  }
  out = std::move(b);
  return true;
}

bool parse_on_fill(PyObject* d, Keys k, int depth, fyrn::OrderItem& out) {
  PyRef trigger_obj;
  fyrn::OrderItem trigger;
  std::vector<fyrn::OrderItem> actions;
  if (!parse::require(d, k["trigger"], "Missing 'trigger'", trigger_obj) ||
      !parse_item(trigger_obj.get(), k, depth + 1, trigger) ||
      !item_list_at(d, k["actions"], "Missing 'actions'", k, depth + 1, actions)) {
    return false;
  }
  out = fyrn::item::OnFill{fyrn::Box<fyrn::OrderItem>(std::move(trigger)), std::move(actions)};
  return true;
}

bool parse_item(PyObject* obj, Keys k, int depth, fyrn::OrderItem& out) {
  if (!PyDict_Check(obj)) return raise_type_mismatch(obj, "PyDict");
  if (depth > kMaxOrderDepth) return too_deep();
  PyRef type;
  std::string_view t;
  if (!parse::require(obj, k["type"], "Missing 'type' field", type) || !to_text(type.get(), nullptr, t)) return false;
  if (t == "order") return parse_order(obj, k, out);
  if (t == "cancel") return parse_cancel(obj, k, out);
  if (t == "modify") return parse_modify(obj, k, out);
  if (t == "cancel_all") return parse_cancel_all(obj, k, out);
  if (t == "stop" || t == "st") return parse_conditional<fyrn::item::Stop>(obj, k, out);
  if (t == "take_profit" || t == "tp") return parse_conditional<fyrn::item::TakeProfit>(obj, k, out);
  if (t == "range" || t == "rng") return parse_range(obj, k, out);
  if (t == "trailing_stop" || t == "trl") return parse_trailing_stop(obj, k, out);
  if (t == "trig") return parse_basket(obj, k, depth, out);
  if (t == "on_fill" || t == "of") return parse_on_fill(obj, k, depth, out);
  return raise_value_error("Invalid item type: " + std::string(t));
}

}  // namespace

bool parse_tif(PyObject* obj, const char* invalid_prefix, fyrn::Tif& out) {
  out = fyrn::Tif::GTC;
  std::string_view given;
  if (!PyUnicode_Check(obj)) return true;
  // A str that is not valid text (lone surrogates) is "not text" too.
  if (!to_text(obj, nullptr, given)) return parse::swallow_ordinary();
  std::string upper;
  if (!parse::upper_text(obj, upper)) return false;
  if (upper == "GTC") return true;
  if (upper == "IOC") {
    out = fyrn::Tif::IOC;
    return true;
  }
  if (upper == "ALO") {
    out = fyrn::Tif::ALO;
    return true;
  }
  return raise_value_error(invalid_prefix + std::string(given));
}

bool parse_order_item(PyObject* obj, fyrn::OrderItem& out) {
  Keys k = parse::keys();
  return k && parse_item(obj, k, 1, out);
}

bool parse_order_list(PyObject* obj, const char* param, std::vector<fyrn::OrderItem>& out) {
  if (!PyList_Check(obj)) return raise_type_mismatch(obj, "PyList", param);
  Keys k = parse::keys();
  return k && item_list(obj, k, 1, out);
}

bool parse_order_batches(PyObject* obj, const char* param, std::vector<std::vector<fyrn::OrderItem>>& out) {
  if (!PyList_Check(obj)) return raise_type_mismatch(obj, "PyList", param);
  Keys k = parse::keys();
  if (!k) return false;
  std::vector<std::vector<fyrn::OrderItem>> batches;
  batches.reserve(static_cast<size_t>(PyList_GET_SIZE(obj)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
    PyRef el = PyRef::borrow(PyList_GET_ITEM(obj, i));
    std::vector<fyrn::OrderItem> items;
    if (!item_list(el.get(), k, 1, items)) return false;
    batches.push_back(std::move(items));
  }
  out = std::move(batches);
  return true;
}

bool parse_order_with_on_fill(PyObject* obj, fyrn::OrderItem& out) {
  Keys k = parse::keys();
  if (!k) return false;
  PyRef on_fill;
  if (!PyDict_Check(obj) || !parse::get(obj, k["on_fill"], on_fill) || !on_fill) {
    if (PyErr_Occurred()) return false;
    return parse_item(obj, k, 1, out);
  }
  // The dict itself is the trigger, one level below the OnFill it becomes.
  fyrn::OrderItem trigger;
  std::vector<fyrn::OrderItem> actions;
  if (!parse_item(obj, k, 2, trigger)) return false;
  if (!PyDict_Check(on_fill.get())) return raise_type_mismatch(on_fill.get(), "PyDict");
  PyRef list;
  if (!parse::require(on_fill.get(), k["actions"], "Missing on_fill.actions", list) ||
      !item_list(list.get(), k, 2, actions)) {
    return false;
  }
  out = fyrn::item::OnFill{fyrn::Box<fyrn::OrderItem>(std::move(trigger)), std::move(actions)};
  return true;
}

}  // namespace fyrn::py
