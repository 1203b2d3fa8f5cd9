// order_id_functions.cpp: order identifiers without a private key.
// compute_order_id hashes a caller's complete preimage as it is;
// compute_order_id_from_order computes the identifier of a limit or market
// order given as a dictionary, in one of two shapes: the simplified one (keyed
// by "type", parsed by the order parser) or the compact API one ({"l": ...},
// {"m": ...}, {"cx": ...}, {"mod": ...}, {"cxa": ...}).
#include <sodium.h>

#include <optional>
#include <string>
#include <vector>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "exports.hpp"
#include "parse_actions.hpp"
#include "parse_orders.hpp"
#include "parse_util.hpp"

#include "fyrn/base58.hpp"
#include "fyrn/order_id.hpp"

namespace fyrn::py {

namespace {

using parse::Keys;

// compact_body returns the dict under a compact shape's key.
bool compact_body(PyObject* value) {
  return PyDict_Check(value) || raise_type_mismatch(value, "PyDict");
}

// compact_fees applies the "commission" refusal and validates "builder_code";
// neither enters the identifier.
bool compact_fees(PyObject* d, Keys k) {
  PyRef v;
  if (!parse::get(d, k["commission"], v)) return false;
  if (v) return raise_value_error("commission was renamed to builder_code");
  if (!parse::get(d, k["builder_code"], v)) return false;
  std::optional<fyrn::Commission> commission;
  return parse_commission(v.get(), commission);
}

bool compact_limit(PyObject* d, Keys k, fyrn::OrderItem& out) {
  if (!compact_body(d)) return false;
  fyrn::item::Order o;
  fyrn::LimitType limit;
  PyRef v;
  if (!parse::text_at(d, k["c"], "Missing 'l.c'", o.symbol) || !parse::bool_at(d, k["b"], "Missing 'l.b'", o.is_buy) ||
      !parse::f64_at(d, k["px"], "Missing 'l.px'", o.price) || !parse::f64_at(d, k["sz"], "Missing 'l.sz'", o.size) ||
      !parse::get(d, k["tif"], v) || (v && !parse_tif(v.get(), "Invalid l.tif: ", limit.tif)) ||
      !parse::lenient_bool_at(d, k["r"], o.reduce_only) || !parse::lenient_bool_at(d, k["i"], o.iso) ||
      !parse::get(d, k["cloid"], v)) {
    return false;
  }
  if (v) {
    fyrn::Hash client_id;
    if (!to_hash(v.get(), nullptr, client_id)) return false;
    o.client_id = client_id;
  }
  if (!compact_fees(d, k)) return false;
  o.order_type = limit;
  out = std::move(o);
  return true;
}

bool compact_market(PyObject* d, Keys k, fyrn::OrderItem& out) {
  if (!compact_body(d)) return false;
  fyrn::item::Order o;
  if (!parse::text_at(d, k["c"], "Missing 'm.c'", o.symbol) || !parse::bool_at(d, k["b"], "Missing 'm.b'", o.is_buy) ||
      !parse::f64_at(d, k["sz"], "Missing 'm.sz'", o.size) || !parse::lenient_bool_at(d, k["r"], o.reduce_only) ||
      !parse::lenient_bool_at(d, k["i"], o.iso) || !compact_fees(d, k) || !parse::opt_f64_at(d, k["slippage"], o.slippage)) {
    return false;
  }
  o.order_type = fyrn::TriggerType{true, 0.0};
  out = std::move(o);
  return true;
}

// The three non-order shapes are validated and yield no identifier.

bool compact_cancel(PyObject* d, Keys k) {
  std::string symbol;
  fyrn::Hash oid;
  return compact_body(d) && parse::text_at(d, k["c"], "Missing 'cx.c'", symbol) &&
         parse::hash_at(d, k["oid"], "Missing 'cx.oid'", oid);
}

bool compact_modify(PyObject* d, Keys k) {
  std::string symbol;
  fyrn::Hash oid;
  if (!compact_body(d) || !parse::text_at(d, k["c"], "Missing 'mod.c'", symbol) ||
      !parse::hash_at(d, k["oid"], "Missing 'mod.oid'", oid)) {
    return false;
  }
  PyRef size;
  if (!parse::get(d, k["sz"], size) || (!size && !parse::get(d, k["amount"], size))) return false;
  if (!size) return raise_value_error("Missing 'mod.sz'");
  double amount = 0.0;
  return to_f64(size.get(), nullptr, amount);
}

// compact_cancel_all checks that the value is a sequence of symbol texts.
bool compact_cancel_all(PyObject* value) {
  PyRef it = parse::sequence_iter(value, nullptr);
  if (!it) return false;
  for (;;) {
    PyRef el = PyRef::steal(PyIter_Next(it.get()));
    if (!el) return !PyErr_Occurred();
    std::string_view symbol;
    if (!to_text(el.get(), nullptr, symbol)) return false;
  }
}

// parse_order_shape fills item (or leaves it empty for the non-order shapes).
bool parse_order_shape(PyObject* order, std::optional<fyrn::OrderItem>& item) {
  Keys k = parse::keys();
  if (!k) return false;
  PyRef v;
  if (!parse::get(order, k["type"], v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!parse_order_item(order, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k["l"], v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!compact_limit(v.get(), k, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k["m"], v)) return false;
  if (v) {
    fyrn::OrderItem parsed;
    if (!compact_market(v.get(), k, parsed)) return false;
    item = std::move(parsed);
    return true;
  }
  if (!parse::get(order, k["cx"], v)) return false;
  if (v) return compact_cancel(v.get(), k);
  if (!parse::get(order, k["mod"], v)) return false;
  if (v) return compact_modify(v.get(), k);
  if (!parse::get(order, k["cxa"], v)) return false;
  if (v) return compact_cancel_all(v.get());
  return raise_value_error(
      "Invalid order JSON. Expected simplified {'type': ...} or compact {'l'|'m'|'cx'|'mod'|'cxa'}");
}

PyObject* compute_order_id(PyObject* const* argv) {
  std::string_view bytes;
  if (!to_bytes(argv[0], "wincode_bytes", bytes)) return nullptr;
  // The caller supplies the whole preimage; no canonicalisation happens here.
  uint8_t digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return text_to_py(fyrn::base58::encode_32(digest));
}

PyObject* compute_order_id_from_order(PyObject* const* argv) {
  if (!PyDict_Check(argv[0])) return raise_type_mismatch(argv[0], "PyDict", "order");
  uint64_t nonce = 0;
  std::string_view account_text;
  fyrn::Pubkey account;
  if (!to_u64(argv[1], "nonce", nonce) || !to_text(argv[2], "account", account_text) ||
      !pubkey_from(account_text, account)) {
    return nullptr;
  }
  std::optional<fyrn::OrderItem> item;
  if (!parse_order_shape(argv[0], item)) return nullptr;
  if (!item) Py_RETURN_NONE;
  std::vector<uint8_t> scratch;
  scratch.reserve(96);
  auto id = fyrn::compute_order_item_id_with_seqno(*item, 0, nonce, account, scratch);
  if (!id) Py_RETURN_NONE;
  return text_to_py(id->to_base58());
}

PyMethodDef g_functions[] = {
    function<"compute_order_id(wincode_bytes)", compute_order_id>(
        "Compute SHA256 hash from raw bytes.\n\n"
        "This is a raw utility and does not apply FYRN order-ID canonicalization."),
    function<"compute_order_id_from_order(order, nonce, account)", compute_order_id_from_order>(
        "Compute order ID from an order JSON object without a private key.\n\nSupports:\n"
        "- Simplified shape: {\"type\": \"order\", ...}\n"
        "- Compact API shape: {\"l\": {...}} / {\"m\": {...}}\n\n"
        "Returns `None` for non-order actions (cancel/modify/cancel-all)."),
};

}  // namespace

std::span<PyMethodDef> order_id_functions() { return g_functions; }

}  // namespace fyrn::py
