// compute_order_id_from_order: the identifier of a limit or market order given
// as a dictionary, without a private key. Two shapes are understood: the
// simplified one (keyed by "type", parsed by the order parser) and the compact
// API one ({"l": ...}, {"m": ...}, {"cx": ...}, {"mod": ...}, {"cxa": ...}).
#include <optional>
#include <string>
#include <vector>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"

#include "fyrn/order_id.hpp"

namespace fyrn::py {

namespace {

using parse::Keys;

// compact_body returns the dict under a compact shape's key.
bool compact_body(PyObject* value) {
  return PyDict_Check(value) || parse::raise_type_mismatch(value, "PyDict");
}

// compact_fees applies the "commission" refusal and validates "builder_code";
// neither enters the identifier.
bool compact_fees(PyObject* d, const Keys* k) {
  PyRef v;
  if (!parse::get(d, k->commission, v)) return false;
  if (v) return parse::raise_value_error("commission was renamed to builder_code");
  if (!parse::get(d, k->builder_code, v)) return false;
  std::optional<fyrn::Commission> commission;
  return parse_commission(v.get(), commission);
}

bool compact_limit(PyObject* d, const Keys* k, fyrn::OrderItem& out) {
  if (!compact_body(d)) return false;
  fyrn::item::Order o;
  fyrn::LimitType limit;
  PyRef v;
  if (!parse::req_text(d, k->c, "Missing 'l.c'", o.symbol) || !parse::req_bool(d, k->b, "Missing 'l.b'", o.is_buy) ||
      !parse::req_f64(d, k->px, "Missing 'l.px'", o.price) || !parse::req_f64(d, k->sz, "Missing 'l.sz'", o.size) ||
      !parse::get(d, k->tif, v) || (v && !parse_tif(v.get(), "Invalid l.tif: ", limit.tif)) ||
      !parse::lenient_bool_at(d, k->r, o.reduce_only) || !parse::lenient_bool_at(d, k->i, o.iso) ||
      !parse::get(d, k->cloid, v)) {
    return false;
  }
  if (v) {
    fyrn::Hash client_id;
    if (!parse::hash_value(v.get(), client_id)) return false;
    o.client_id = client_id;
  }
  if (!compact_fees(d, k)) return false;
  o.order_type = limit;
  out = std::move(o);
  return true;
}

bool compact_market(PyObject* d, const Keys* k, fyrn::OrderItem& out) {
  if (!compact_body(d)) return false;
  fyrn::item::Order o;
  if (!parse::req_text(d, k->c, "Missing 'm.c'", o.symbol) || !parse::req_bool(d, k->b, "Missing 'm.b'", o.is_buy) ||
      !parse::req_f64(d, k->sz, "Missing 'm.sz'", o.size) || !parse::lenient_bool_at(d, k->r, o.reduce_only) ||
      !parse::lenient_bool_at(d, k->i, o.iso) || !compact_fees(d, k) || !parse::opt_f64(d, k->slippage, o.slippage)) {
    return false;
  }
  o.order_type = fyrn::TriggerType{true, 0.0};
  out = std::move(o);
  return true;
}

// The three non-order shapes are validated and yield no identifier.

bool compact_cancel(PyObject* d, const Keys* k) {
  std::string symbol;
  fyrn::Hash oid;
  return compact_body(d) && parse::req_text(d, k->c, "Missing 'cx.c'", symbol) &&
         parse::req_hash(d, k->oid, "Missing 'cx.oid'", oid);
}

bool compact_modify(PyObject* d, const Keys* k) {
  std::string symbol;
  fyrn::Hash oid;
  if (!compact_body(d) || !parse::req_text(d, k->c, "Missing 'mod.c'", symbol) ||
      !parse::req_hash(d, k->oid, "Missing 'mod.oid'", oid)) {
    return false;
  }
  PyRef size;
  if (!parse::get(d, k->sz, size) || (!size && !parse::get(d, k->amount, size))) return false;
  if (!size) return parse::raise_value_error("Missing 'mod.sz'");
  double amount = 0.0;
  return parse::f64(size.get(), amount);
}

// compact_cancel_all checks that the value is a sequence of symbol texts.
bool compact_cancel_all(PyObject* value) {
  PyRef it = parse::sequence_iter(value, nullptr);
  if (!it) return false;
  for (;;) {
    PyRef el = PyRef::steal(PyIter_Next(it.get()));
    if (!el) return !PyErr_Occurred();
    std::string_view symbol;
    if (!parse::text_view(el.get(), symbol)) return false;
  }
}

// parse_order_shape fills item (or leaves it empty for the non-order shapes).
bool parse_order_shape(PyObject* order, std::optional<fyrn::OrderItem>& item) {
  const Keys* k = parse::keys();
  if (k == nullptr) return false;
  PyRef v;
  if (!parse::get(order, k->type, v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!parse_order_item(order, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k->l, v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!compact_limit(v.get(), k, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k->m, v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!compact_market(v.get(), k, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k->cx, v)) return false;
  if (v) return compact_cancel(v.get(), k);
  if (!parse::get(order, k->mod, v)) return false;
  if (v) return compact_modify(v.get(), k);
  if (!parse::get(order, k->cxa, v)) return false;
  if (v) return compact_cancel_all(v.get());
  return parse::raise_value_error(
      "Invalid order JSON. Expected simplified {'type': ...} or compact {'l'|'m'|'cx'|'mod'|'cxa'}");
}

}  // namespace

FYRN_PY_FUNCTION(compute_order_id_from_order) {
  (void)module;
  return guarded([&]() -> PyObject* {
    BoundArgs<kComputeOrderIdFromOrder> argv;
    if (!bind_args(args, nargs, kwnames, argv)) return nullptr;
    if (!PyDict_Check(argv[0])) {
      parse::raise_type_mismatch(argv[0], "PyDict", "order");
      return nullptr;
    }
    uint64_t nonce = 0;
    std::string_view account_text;
    if (!to_u64(argv[1], "nonce", nonce) || !to_text(argv[2], "account", account_text)) return nullptr;
    auto account = fyrn::Pubkey::from_base58(account_text);
    if (!account) return raise_error(account.error());

    std::optional<fyrn::OrderItem> item;
    if (!parse_order_shape(argv[0], item)) return nullptr;
    if (!item) Py_RETURN_NONE;
    std::vector<uint8_t> scratch;
    scratch.reserve(96);
    auto id = fyrn::compute_order_item_id_with_seqno(*item, 0, nonce, *account, scratch);
    if (!id) Py_RETURN_NONE;
    return text_to_py(id->to_base58());
  });
}

}  // namespace fyrn::py
