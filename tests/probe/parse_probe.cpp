// _fyrn_parse_probe: a test-only extension that runs the shell's parsers on
// Python input and hands the resulting records back as plain Python values,
// so that pytest can check every field. Never installed.
//
// Records come back as dicts with a "kind" key; NaN "not given" doubles come
// back as None; hashes and keys as base58 text.
#include <cmath>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "../../src/python/parse_actions.hpp"
#include "../../src/python/parse_orders.hpp"

namespace {

using fyrn::py::PyRef;

PyObject* text(const std::string& s) {
  return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
}

PyObject* none() {
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* opt_f64(const std::optional<double>& v) {
  if (!v) Py_RETURN_NONE;
  return PyFloat_FromDouble(*v);
}

PyObject* nan_as_none(double v) {
  if (std::isnan(v)) Py_RETURN_NONE;
  return PyFloat_FromDouble(v);
}

PyObject* commission(const std::optional<fyrn::Commission>& c) {
  if (!c) Py_RETURN_NONE;
  return Py_BuildValue("(Ni)", text(c->to.to_base58()), static_cast<int>(c->fee));
}

// record builds a dict from (key, new reference) pairs; nullptr values mean a
// failed conversion and end it.
PyObject* record(std::initializer_list<std::pair<const char*, PyObject*>> fields) {
  PyRef dict = PyRef::steal(PyDict_New());
  bool ok = static_cast<bool>(dict);
  for (const auto& [key, value] : fields) {
    PyRef v = PyRef::steal(value);
    if (ok && (!v || PyDict_SetItemString(dict.get(), key, v.get()) < 0)) ok = false;
  }
  return ok ? dict.release() : nullptr;
}

PyObject* item_to_py(const fyrn::OrderItem& item);

PyObject* items_to_py(const std::vector<fyrn::OrderItem>& items) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < items.size(); ++i) {
    PyObject* v = item_to_py(items[i]);
    if (v == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
  }
  return list.release();
}

PyObject* order_type(const fyrn::OrderType& t) {
  if (const auto* limit = std::get_if<fyrn::LimitType>(&t)) {
    static const char* const names[] = {"GTC", "IOC", "ALO"};
    return Py_BuildValue("(ss)", "limit", names[static_cast<int>(limit->tif)]);
  }
  const auto& trigger = std::get<fyrn::TriggerType>(t);
  return Py_BuildValue("(sNd)", "trigger", PyBool_FromLong(trigger.is_market), trigger.trigger_px);
}

PyObject* item_to_py(const fyrn::OrderItem& item) {
  namespace it = fyrn::item;
  return std::visit(
      [](const auto& v) -> PyObject* {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, it::Order>) {
          return record({{"kind", text("Order")},
                         {"symbol", text(v.symbol)},
                         {"is_buy", PyBool_FromLong(v.is_buy)},
                         {"price", PyFloat_FromDouble(v.price)},
                         {"size", PyFloat_FromDouble(v.size)},
                         {"reduce_only", PyBool_FromLong(v.reduce_only)},
                         {"iso", PyBool_FromLong(v.iso)},
                         {"order_type", order_type(v.order_type)},
                         {"client_id", v.client_id ? text(v.client_id->to_base58()) : none()},
                         {"builder_code", commission(v.builder_code)},
                         {"slippage", opt_f64(v.slippage)}});
        } else if constexpr (std::is_same_v<T, it::Modify>) {
          return record({{"kind", text("Modify")},
                         {"symbol", text(v.symbol)},
                         {"order_id", text(v.order_id.to_base58())},
                         {"amount", PyFloat_FromDouble(v.amount)}});
        } else if constexpr (std::is_same_v<T, it::Cancel>) {
          return record(
              {{"kind", text("Cancel")}, {"symbol", text(v.symbol)}, {"order_id", text(v.order_id.to_base58())}});
        } else if constexpr (std::is_same_v<T, it::CancelAll>) {
          PyRef list = PyRef::steal(PyList_New(0));
          for (const auto& s : v.symbols) {
            PyRef t = PyRef::steal(text(s));
            if (!list || !t || PyList_Append(list.get(), t.get()) < 0) return nullptr;
          }
          return record({{"kind", text("CancelAll")}, {"symbols", list.release()}});
        } else if constexpr (std::is_same_v<T, it::Stop> || std::is_same_v<T, it::TakeProfit>) {
          return record({{"kind", text(std::is_same_v<T, it::Stop> ? "Stop" : "TakeProfit")},
                         {"symbol", text(v.symbol)},
                         {"is_buy", PyBool_FromLong(v.is_buy)},
                         {"size", PyFloat_FromDouble(v.size)},
                         {"trigger_price", PyFloat_FromDouble(v.trigger_price)},
                         {"limit_price", nan_as_none(v.limit_price)},
                         {"iso", PyBool_FromLong(v.iso)},
                         {"builder_code", commission(v.builder_code)},
                         {"slippage", opt_f64(v.slippage)}});
        } else if constexpr (std::is_same_v<T, it::Range>) {
          return record({{"kind", text("Range")},
                         {"symbol", text(v.symbol)},
                         {"is_buy", PyBool_FromLong(v.is_buy)},
                         {"size", PyFloat_FromDouble(v.size)},
                         {"pmin", PyFloat_FromDouble(v.pmin)},
                         {"pmax", PyFloat_FromDouble(v.pmax)},
                         {"lmin", nan_as_none(v.lmin)},
                         {"lmax", nan_as_none(v.lmax)},
                         {"iso", PyBool_FromLong(v.iso)},
                         {"builder_code", commission(v.builder_code)},
                         {"sl_slippage", opt_f64(v.sl_slippage)},
                         {"tp_slippage", opt_f64(v.tp_slippage)}});
        } else if constexpr (std::is_same_v<T, it::TriggerBasket>) {
          return record({{"kind", text("TriggerBasket")},
                         {"symbol", text(v.symbol)},
                         {"is_buy", PyBool_FromLong(v.is_buy)},
                         {"trigger_price", PyFloat_FromDouble(v.trigger_price)},
                         {"actions", items_to_py(v.actions)}});
        } else if constexpr (std::is_same_v<T, it::OnFill>) {
          return record(
              {{"kind", text("OnFill")}, {"trigger", item_to_py(*v.trigger)}, {"actions", items_to_py(v.actions)}});
        } else {
          static_assert(std::is_same_v<T, it::TrailingStop>);
          return record({{"kind", text("TrailingStop")},
                         {"symbol", text(v.symbol)},
                         {"is_buy", PyBool_FromLong(v.is_buy)},
                         {"size", PyFloat_FromDouble(v.size)},
                         {"trail_bps", PyLong_FromUnsignedLong(v.trail_bps)},
                         {"step_bps", PyLong_FromUnsignedLong(v.step_bps)},
                         {"limit_price", opt_f64(v.limit_price)},
                         {"iso", PyBool_FromLong(v.iso)},
                         {"builder_code", commission(v.builder_code)},
                         {"slippage", opt_f64(v.slippage)}});
        }
      },
      item.v);
}

PyObject* parse_order_item(PyObject*, PyObject* obj) {
  fyrn::OrderItem item;
  if (!fyrn::py::parse_order_item(obj, item)) return nullptr;
  return item_to_py(item);
}

PyObject* parse_order_with_on_fill(PyObject*, PyObject* obj) {
  fyrn::OrderItem item;
  if (!fyrn::py::parse_order_with_on_fill(obj, item)) return nullptr;
  return item_to_py(item);
}

// parse_repeat(obj, n) parses obj n times and keeps nothing: the benchmark's
// measure of the parse alone, without call or result-building overhead.
PyObject* parse_repeat(PyObject*, PyObject* args) {
  PyObject* obj;
  Py_ssize_t n;
  if (!PyArg_ParseTuple(args, "On", &obj, &n)) return nullptr;
  for (Py_ssize_t i = 0; i < n; ++i) {
    fyrn::OrderItem item;
    if (!fyrn::py::parse_order_item(obj, item)) return nullptr;
  }
  Py_RETURN_NONE;
}

// The list forms take (obj, param); param None means no argument prefix.
bool list_args(PyObject* args, PyObject*& obj, const char*& param) {
  PyObject* p = nullptr;
  if (!PyArg_ParseTuple(args, "OO", &obj, &p)) return false;
  param = p == Py_None ? nullptr : PyUnicode_AsUTF8(p);
  return p == Py_None || param != nullptr;
}

PyObject* parse_order_list(PyObject*, PyObject* args) {
  PyObject* obj;
  const char* param;
  if (!list_args(args, obj, param)) return nullptr;
  std::vector<fyrn::OrderItem> items;
  if (!fyrn::py::parse_order_list(obj, param, items)) return nullptr;
  return items_to_py(items);
}

PyObject* parse_order_batches(PyObject*, PyObject* args) {
  PyObject* obj;
  const char* param;
  if (!list_args(args, obj, param)) return nullptr;
  std::vector<std::vector<fyrn::OrderItem>> batches;
  if (!fyrn::py::parse_order_batches(obj, param, batches)) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  for (const auto& batch : batches) {
    PyRef b = PyRef::steal(items_to_py(batch));
    if (!list || !b || PyList_Append(list.get(), b.get()) < 0) return nullptr;
  }
  return list.release();
}

// parse_commission(*maybe_value): no argument means the key is absent.
PyObject* parse_commission(PyObject*, PyObject* args) {
  PyObject* obj = nullptr;
  if (!PyArg_ParseTuple(args, "|O", &obj)) return nullptr;
  std::optional<fyrn::Commission> c;
  if (!fyrn::py::parse_commission(obj, c)) return nullptr;
  return commission(c);
}

PyObject* parse_transfer_kind(PyObject*, PyObject* kind) {
  std::optional<std::string_view> k;
  if (kind != Py_None) {
    Py_ssize_t len = 0;
    const char* data = PyUnicode_AsUTF8AndSize(kind, &len);
    if (data == nullptr) return nullptr;
    k = std::string_view(data, static_cast<size_t>(len));
  }
  fyrn::TransferKind out;
  if (!fyrn::py::parse_transfer_kind(k, out)) return nullptr;
  return PyUnicode_FromString(out == fyrn::TransferKind::Internal ? "internal" : "external");
}

PyObject* parse_liquidator_config(PyObject*, PyObject* obj) {
  fyrn::LiquidatorConfig cfg;
  if (!fyrn::py::parse_liquidator_config(obj, cfg)) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  for (const auto& i : cfg.instruments) {
    PyRef inst = PyRef::steal(record({{"symbol", text(i.symbol)},
                                      {"max_exposure", PyFloat_FromDouble(i.max_exposure)},
                                      {"reserve", PyFloat_FromDouble(i.reserve)},
                                      {"rfactor", PyFloat_FromDouble(i.rfactor)},
                                      {"volume_percent", PyFloat_FromDouble(i.volume_percent)},
                                      {"volume_min", PyFloat_FromDouble(i.volume_min)},
                                      {"volume_rampup", PyLong_FromUnsignedLongLong(i.volume_rampup)},
                                      {"max_sweep_bps", PyFloat_FromDouble(i.max_sweep_bps)},
                                      {"max_adl_notional", PyFloat_FromDouble(i.max_adl_notional)},
                                      {"max_adl_percent", PyFloat_FromDouble(i.max_adl_percent)}}));
    if (!list || !inst || PyList_Append(list.get(), inst.get()) < 0) return nullptr;
  }
  return record({{"instruments", list.release()},
                 {"cross_exposure", PyFloat_FromDouble(cfg.cross_exposure)},
                 {"scoring_skew", PyFloat_FromDouble(cfg.scoring_skew)},
                 {"toxicity", PyFloat_FromDouble(cfg.toxicity)},
                 {"urgency_size_fraction", PyFloat_FromDouble(cfg.urgency_size_fraction)},
                 {"sweep_sds", PyFloat_FromDouble(cfg.sweep_sds)}});
}

PyObject* parse_user_settings(PyObject*, PyObject* args) {
  PyObject* obj;
  const char* param;
  if (!list_args(args, obj, param)) return nullptr;
  std::vector<std::pair<std::string, double>> pairs;
  if (!fyrn::py::parse_user_settings(obj, param, pairs)) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  for (const auto& [s, lev] : pairs) {
    PyRef t = PyRef::steal(Py_BuildValue("(Nd)", text(s), lev));
    if (!list || !t || PyList_Append(list.get(), t.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* parse_oracle_prices(PyObject*, PyObject* args) {
  PyObject* obj;
  const char* param;
  if (!list_args(args, obj, param)) return nullptr;
  std::vector<fyrn::OraclePrice> prices;
  if (!fyrn::py::parse_oracle_prices(obj, param, prices)) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  for (const auto& p : prices) {
    PyRef t = PyRef::steal(
        Py_BuildValue("(KNd)", static_cast<unsigned long long>(p.timestamp), text(p.symbol), p.price));
    if (!list || !t || PyList_Append(list.get(), t.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* parse_pyth_prices(PyObject*, PyObject* args) {
  PyObject* obj;
  const char* param;
  if (!list_args(args, obj, param)) return nullptr;
  std::vector<fyrn::PythPrice> updates;
  if (!fyrn::py::parse_pyth_prices(obj, param, updates)) return nullptr;
  PyRef list = PyRef::steal(PyList_New(0));
  for (const auto& p : updates) {
    PyRef t = PyRef::steal(Py_BuildValue("(KKKi)", static_cast<unsigned long long>(p.timestamp),
                                         static_cast<unsigned long long>(p.feed_index),
                                         static_cast<unsigned long long>(p.price), static_cast<int>(p.exponent)));
    if (!list || !t || PyList_Append(list.get(), t.get()) < 0) return nullptr;
  }
  return list.release();
}

// guard keeps C++ exceptions (std::bad_alloc) from unwinding into Python.
template <auto Fn>
PyObject* guard(PyObject* self, PyObject* arg) noexcept {
  try {
    return Fn(self, arg);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
    return nullptr;
  }
}

PyMethodDef g_functions[] = {
    {"parse_order_item", &guard<&parse_order_item>, METH_O, nullptr},
    {"parse_order_with_on_fill", &guard<&parse_order_with_on_fill>, METH_O, nullptr},
    {"parse_repeat", &guard<&parse_repeat>, METH_VARARGS, nullptr},
    {"parse_order_list", &guard<&parse_order_list>, METH_VARARGS, nullptr},
    {"parse_order_batches", &guard<&parse_order_batches>, METH_VARARGS, nullptr},
    {"parse_commission", &guard<&parse_commission>, METH_VARARGS, nullptr},
    {"parse_transfer_kind", &guard<&parse_transfer_kind>, METH_O, nullptr},
    {"parse_liquidator_config", &guard<&parse_liquidator_config>, METH_O, nullptr},
    {"parse_user_settings", &guard<&parse_user_settings>, METH_VARARGS, nullptr},
    {"parse_oracle_prices", &guard<&parse_oracle_prices>, METH_VARARGS, nullptr},
    {"parse_pyth_prices", &guard<&parse_pyth_prices>, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_fyrn_parse_probe", nullptr, -1, g_functions, nullptr, nullptr, nullptr,
                     nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__fyrn_parse_probe(void) { return PyModule_Create(&g_def); }
