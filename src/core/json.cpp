// The submission JSON of actions and order items.
//
// Objects are nlohmann's default std::map objects, so keys come out in
// ascending byte order whatever order they are set in. Model doubles become
// double numbers (null when NaN or infinite); unsigned model integers become
// unsigned numbers and signed ones signed numbers, so that the Python side can
// tell the kinds apart.
#include "fyrn/json.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>
#include <variant>

#include "fyrn/tape.hpp"

namespace fyrn {
namespace {

static_assert(std::adjacent_find(std::begin(kJsonKeys), std::end(kJsonKeys),
                                 [](std::string_view a, std::string_view b) { return a >= b; }) ==
                  std::end(kJsonKeys),
              "the key vocabulary is kept sorted and free of repeats");

// The key vocabulary as an open-addressing hash table built at compile time:
// every object member of a result looks its key up here, and a hash plus one
// comparison beats a binary search of string comparisons.
constexpr uint32_t key_hash(std::string_view name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char c : name) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

constexpr size_t kKeySlots = 256;  // a power of two, well above the vocabulary's size
static_assert(std::size(kJsonKeys) * 2 < kKeySlots);

constexpr std::array<int16_t, kKeySlots> make_key_slots() {
  std::array<int16_t, kKeySlots> slots{};
  for (auto& slot : slots) slot = -1;
  for (size_t i = 0; i < std::size(kJsonKeys); ++i) {
    size_t at = key_hash(kJsonKeys[i]) & (kKeySlots - 1);
    while (slots[at] >= 0) at = (at + 1) & (kKeySlots - 1);
    slots[at] = static_cast<int16_t>(i);
  }
  return slots;
}
constexpr std::array<int16_t, kKeySlots> kKeySlotsTable = make_key_slots();

}  // namespace

size_t json_key_index(std::string_view name) {
  for (size_t at = key_hash(name) & (kKeySlots - 1);; at = (at + 1) & (kKeySlots - 1)) {
    const int16_t index = kKeySlotsTable[at];
    if (index < 0) return kNoJsonKey;
    if (kJsonKeys[index] == name) return static_cast<size_t>(index);
  }
}

namespace {

constexpr const char* kNonMarketTrigger = "trigger orders are not supported by FYRN API; use market";

// Overloaded builds a visitor out of lambdas.
template <typename... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

Json num(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }
Json num_u(uint64_t value) { return Json(static_cast<Json::number_unsigned_t>(value)); }
Json num_i(int64_t value) { return Json(static_cast<Json::number_integer_t>(value)); }
Json key_text(const Pubkey& key) { return Json(key.to_base58()); }

// move_into moves `value` into member `key` of `object`. The member is made
// first: written as `object[key] = std::move(value)`, the value would already
// sit in the assignment's by-value parameter when making the member fails,
// and be destroyed there unreleased.
void move_into(Json& object, const char* key, Json& value) {
  Json& slot = object[key];
  slot = std::move(value);
}

// A one-key object {outer: inner}.
Json tagged(const char* outer, Json inner) {
  ReleaseOnExit inner_guard(inner);
  Json out = Json::object();  // empty until the emplace has succeeded
  out.emplace(outer, std::move(inner));
  return out;
}

const char* tif_text(Tif tif) {
  switch (tif) {
    case Tif::GTC: return "GTC";
    case Tif::IOC: return "IOC";
    case Tif::ALO: return "ALO";
  }
  return "GTC";  // unreachable: Tif has exactly three values
}

void put_optional(Json& inner, const char* key, const std::optional<double>& value) {
  if (value) inner[key] = num(*value);
}

Json key_array(const std::vector<Pubkey>& keys) {
  Json out = Json::array();
  ReleaseOnUnwind out_guard(out);
  for (const auto& k : keys) out.push_back(key_text(k));
  return out;
}

// An order item's JSON is written once, below, against a builder: JsonBuilder
// makes the Json values, ItemJson (fyrn/tape.hpp) the same values for a tape.
// A builder B has a Value, a Guard that watches a Value until its scope ends
// (ReleaseOnExit for Json), and makes values: object(), array(), text(view),
// owned(string), flag(bool), null(), num(double, null when not finite),
// num_u(uint64); set(object, key, value) adds a member (the code below sets
// each key of an object once), push(array, value) appends, and
// tagged(outer, inner) is the one-key object {outer: inner}. Containers are
// handed over by reference (a Json one is left empty).
struct JsonBuilder {
  using Value = Json;
  using Guard = ReleaseOnExit<Json>;
  static Json object() { return Json::object(); }
  static Json array() { return Json::array(); }
  static Json text(std::string_view s) { return Json(std::string(s)); }
  static Json owned(std::string s) { return Json(std::move(s)); }
  static Json flag(bool v) { return Json(v); }
  static Json null() { return Json(nullptr); }
  static Json num(double v) { return fyrn::num(v); }
  static Json num_u(uint64_t v) { return fyrn::num_u(v); }
  static void set(Json& object, const char* key, Json& value) { move_into(object, key, value); }
  static void set(Json& object, const char* key, Json&& value) { move_into(object, key, value); }
  static void push(Json& array, Json& value) { array.push_back(std::move(value)); }
  static Json tagged(const char* outer, Json& inner) { return fyrn::tagged(outer, std::move(inner)); }
};

template <typename B>
void put_builder_code(B& b, typename B::Value& inner, const std::optional<Commission>& code) {
  if (!code) return;
  typename B::Value bc = b.object();
  typename B::Guard bc_guard(bc);
  b.set(bc, "to", b.owned(code->to.to_base58()));
  b.set(bc, "fee", b.num_u(code->fee));
  b.set(inner, "builderCode", bc);
}

template <typename B>
void put_optional(B& b, typename B::Value& inner, const char* key, const std::optional<double>& value) {
  if (value) b.set(inner, key, b.num(*value));
}

template <typename B>
Result<typename B::Value> item_json(B& b, const OrderItem& item, JsonFlavour flavour);

// Converts a list of items; the first failing item fails the list.
template <typename B>
Result<typename B::Value> item_array(B& b, const std::vector<OrderItem>& items, JsonFlavour flavour) {
  typename B::Value out = b.array();
  typename B::Guard out_guard(out);
  for (const auto& it : items) {
    auto j = item_json(b, it, flavour);
    if (!j) return std::move(j).error();
    typename B::Guard j_guard(*j);
    b.push(out, *j);
  }
  return out;
}

template <typename B>
typename B::Value conditional_json(B& b, const char* outer, const item::ConditionalFields& f, JsonFlavour flavour) {
  typename B::Value in = b.object();
  typename B::Guard in_guard(in);
  b.set(in, "c", b.text(f.symbol));
  b.set(in, "d", b.flag(f.is_buy));
  b.set(in, "sz", b.num(f.size));
  b.set(in, "tr", b.num(f.trigger_price));
  b.set(in, "lim", b.num(f.limit_price));  // NaN means "no limit" and is null either way
  b.set(in, "i", b.flag(f.iso));
  put_builder_code(b, in, f.builder_code);
  if (flavour == JsonFlavour::Prepare) put_optional(b, in, "slippage", f.slippage);
  return b.tagged(outer, in);
}

template <typename B>
Result<typename B::Value> item_json(B& b, const OrderItem& item, JsonFlavour flavour) {
  using Value = typename B::Value;
  using Guard = typename B::Guard;
  return std::visit(
      Overloaded{
          [&](const item::Order& o) -> Result<Value> {
            const auto* trigger = std::get_if<TriggerType>(&o.order_type);
            if (trigger && !trigger->is_market) return Error::invalid_order(kNonMarketTrigger);
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", b.text(o.symbol));
            b.set(in, "b", b.flag(o.is_buy));
            b.set(in, "sz", b.num(o.size));
            b.set(in, "r", b.flag(o.reduce_only));
            b.set(in, "i", b.flag(o.iso));
            put_builder_code(b, in, o.builder_code);
            if (const auto* limit = std::get_if<LimitType>(&o.order_type)) {
              b.set(in, "px", b.num(o.price));
              b.set(in, "tif", b.text(tif_text(limit->tif)));
              return b.tagged("l", in);
            }
            // A market order writes neither price nor trigger price.
            put_optional(b, in, "slippage", o.slippage);
            return b.tagged("m", in);
          },
          [&](const item::Modify& m) -> Result<Value> {
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "oid", b.owned(m.order_id.to_base58()));
            b.set(in, "c", b.text(m.symbol));
            b.set(in, "sz", b.num(m.amount));
            return b.tagged("mod", in);
          },
          [&](const item::Cancel& c) -> Result<Value> {
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", b.text(c.symbol));
            b.set(in, "oid", b.owned(c.order_id.to_base58()));
            return b.tagged("cx", in);
          },
          [&](const item::CancelAll& c) -> Result<Value> {
            Value symbols = b.array();
            Guard symbols_guard(symbols);
            for (const auto& s : c.symbols) {
              Value symbol = b.text(s);
              b.push(symbols, symbol);
            }
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", symbols);
            return b.tagged("cxa", in);
          },
          [&](const item::Stop& s) -> Result<Value> { return conditional_json(b, "st", s, flavour); },
          [&](const item::TakeProfit& t) -> Result<Value> { return conditional_json(b, "tp", t, flavour); },
          [&](const item::Range& r) -> Result<Value> {
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", b.text(r.symbol));
            b.set(in, "d", b.flag(r.is_buy));
            b.set(in, "sz", b.num(r.size));
            b.set(in, "pmin", b.num(r.pmin));
            b.set(in, "pmax", b.num(r.pmax));
            b.set(in, "lmin", b.num(r.lmin));
            b.set(in, "lmax", b.num(r.lmax));
            b.set(in, "i", b.flag(r.iso));
            put_builder_code(b, in, r.builder_code);
            if (flavour == JsonFlavour::Prepare) {
              put_optional(b, in, "slSlippage", r.sl_slippage);
              put_optional(b, in, "tpSlippage", r.tp_slippage);
            }
            return b.tagged("rng", in);
          },
          [&](const item::TriggerBasket& t) -> Result<Value> {
            auto actions = item_array(b, t.actions, flavour);
            if (!actions) return std::move(actions).error();
            Guard actions_guard(*actions);
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", b.text(t.symbol));
            b.set(in, "d", b.flag(t.is_buy));
            b.set(in, "tr", b.num(t.trigger_price));
            b.set(in, "actions", *actions);
            return b.tagged("trig", in);
          },
          [&](const item::OnFill& f) -> Result<Value> {
            // A default-constructed OnFill has no trigger; it cannot come from
            // the parser, and null is the honest rendering of "nothing".
            Value trigger = b.null();
            Guard trigger_guard(trigger);
            if (f.trigger) {
              auto t = item_json(b, *f.trigger, flavour);
              if (!t) return std::move(t).error();
              Guard t_guard(*t);
              trigger = std::move(*t);
            }
            auto actions = item_array(b, f.actions, flavour);
            if (!actions) return std::move(actions).error();
            Guard actions_guard(*actions);
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "trigger", trigger);
            b.set(in, "actions", *actions);
            return b.tagged("of", in);
          },
          [&](const item::TrailingStop& t) -> Result<Value> {
            Value in = b.object();
            Guard in_guard(in);
            b.set(in, "c", b.text(t.symbol));
            b.set(in, "b", b.flag(t.is_buy));
            b.set(in, "sz", b.num(t.size));
            b.set(in, "trb", b.num_u(t.trail_bps));
            b.set(in, "stb", b.num_u(t.step_bps));
            b.set(in, "lim", t.limit_price ? b.num(*t.limit_price) : b.null());
            b.set(in, "i", b.flag(t.iso));
            put_builder_code(b, in, t.builder_code);
            if (flavour == JsonFlavour::Prepare) put_optional(b, in, "slippage", t.slippage);
            return b.tagged("trl", in);
          },
      },
      item.v);
}

Json multisig_ref(const char* outer, const Pubkey& multisig, uint64_t proposal) {
  Json in = Json::object();
  ReleaseOnExit in_guard(in);
  in["m"] = key_text(multisig);
  in["p"] = num_u(proposal);
  return tagged(outer, std::move(in));
}

void put_policy(Json& in, const std::vector<Pubkey>& signers, uint32_t threshold, uint32_t time_lock_secs,
                uint32_t proposal_lifetime_secs) {
  Json keys = key_array(signers);
  ReleaseOnExit keys_guard(keys);
  move_into(in, "signers", keys);
  in["threshold"] = num_u(threshold);
  in["timeLockSecs"] = num_u(time_lock_secs);
  in["proposalLifetimeSecs"] = num_u(proposal_lifetime_secs);
}

// Appends the JSON list of `action` to `out`; a proposal appends its inner
// actions' lists one after the other.
Status append_action(std::vector<Json>& out, const Action& action, JsonFlavour flavour) {
  JsonBuilder json_builder;
  auto one = [&](Result<Json> r) -> Status {
    if (!r) return std::move(r).error();
    ReleaseOnExit r_guard(*r);
    out.push_back(std::move(*r));
    return {};
  };
  return std::visit(
      Overloaded{
          [&](const action::Orders& a) -> Status {
            for (const auto& it : a.orders) {
              if (auto s = one(item_json(json_builder, it, flavour)); !s) return s;
            }
            return {};
          },
          [&](const action::OraclePrices& a) -> Status {
            for (const auto& p : a.prices) {
              Json in = Json::object();
              ReleaseOnExit in_guard(in);
              in["c"] = p.symbol;
              in["px"] = num(p.price);
              in["t"] = num_u(p.timestamp);
              Json entry = tagged("px", std::move(in));
              ReleaseOnExit entry_guard(entry);
              out.push_back(std::move(entry));
            }
            return {};
          },
          [&](const action::PythOracle& a) -> Status {
            Json oracles = Json::array();
            ReleaseOnExit oracles_guard(oracles);
            for (const auto& u : a.updates) {
              Json o = Json::object();
              ReleaseOnExit o_guard(o);
              o["t"] = num_u(u.timestamp);
              o["fi"] = num_u(u.feed_index);
              o["px"] = num_u(u.price);
              o["e"] = num_i(u.exponent);
              oracles.push_back(std::move(o));
            }
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            move_into(in, "oracles", oracles);
            return one(tagged("o", std::move(in)));
          },
          [&](const action::Faucet& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["u"] = key_text(a.user);
            put_optional(in, "amount", a.amount);
            return one(tagged("faucet", std::move(in)));
          },
          [&](const action::UpdateUserSettings& a) -> Status {
            // The object is keyed (and so ordered) by symbol bytes. A symbol
            // given twice keeps its last value in input order, which is the
            // value the wire encoding signs.
            Json m = Json::object();
            ReleaseOnExit m_guard(m);
            for (const auto& [symbol, leverage] : a.max_leverage) m[symbol] = num(leverage);
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            move_into(in, "m", m);
            return one(tagged("updateUserSettings", std::move(in)));
          },
          [&](const action::AgentWalletCreation& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["a"] = key_text(a.agent);
            in["d"] = a.delete_;
            return one(tagged("agentWalletCreation", std::move(in)));
          },
          [&](const action::WhitelistFaucet& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["target"] = key_text(a.target);
            in["whitelist"] = a.whitelist;
            return one(tagged("whitelistFaucet", std::move(in)));
          },
          [&](const action::CreateSubAccount& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["name"] = a.name;
            put_optional(in, "marginAmount", a.margin_amount);
            return one(tagged("createSubAccount", std::move(in)));
          },
          [&](const action::RemoveSubAccount& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["toRemove"] = key_text(a.to_remove);
            return one(tagged("removeSubAccount", std::move(in)));
          },
          [&](const action::RenameSubAccount& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["account"] = key_text(a.account);
            in["name"] = a.name;
            return one(tagged("renameSubAccount", std::move(in)));
          },
          [&](const action::Transfer& a) -> Status {
            const fyrn::Transfer& t = a.transfer;
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["k"] = t.kind == TransferKind::Internal ? "internal" : "external";
            in["from"] = key_text(t.from);
            in["to"] = key_text(t.to);
            in["marginAmount"] = num(t.amount);
            return one(tagged("transfer", std::move(in)));
          },
          [&](const action::LegacyWithdrawal1&) -> Status { return Error::legacy_withdrawal(); },
          [&](const action::LegacyWithdrawal2&) -> Status { return Error::legacy_withdrawal(); },
          [&](const action::CreateMultisig& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            put_policy(in, a.signers, a.threshold, a.time_lock_secs, a.proposal_lifetime_secs);
            return one(tagged("createMultisig", std::move(in)));
          },
          [&](const action::MultisigPropose& a) -> Status {
            // `extra` has no JSON form.
            std::vector<Json> inner;
            ReleaseOnExit inner_guard(inner);
            for (const auto& nested : a.actions) {
              if (auto s = append_action(inner, nested, flavour); !s) return s;
            }
            Json list = Json::array();
            ReleaseOnExit list_guard(list);
            for (auto& j : inner) list.push_back(std::move(j));
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["m"] = key_text(a.multisig);
            move_into(in, "a", list);
            return one(tagged("msp", std::move(in)));
          },
          [&](const action::MultisigApprove& a) -> Status { return one(multisig_ref("msa", a.multisig, a.proposal)); },
          [&](const action::MultisigReject& a) -> Status { return one(multisig_ref("msr", a.multisig, a.proposal)); },
          [&](const action::MultisigCancel& a) -> Status { return one(multisig_ref("msc", a.multisig, a.proposal)); },
          [&](const action::MultisigExecute& a) -> Status { return one(multisig_ref("mse", a.multisig, a.proposal)); },
          [&](const action::UpdateMultisigPolicy& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["m"] = key_text(a.multisig);
            put_policy(in, a.signers, a.threshold, a.time_lock_secs, a.proposal_lifetime_secs);
            return one(tagged("msu", std::move(in)));
          },
          [&](const action::ApproveCommissionFee& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["to"] = key_text(a.commission.to);
            in["fee"] = num_u(a.commission.fee);
            return one(tagged("abc", std::move(in)));
          },
          [&](const action::RevokeCommissionFee& a) -> Status {
            Json in = Json::object();
            ReleaseOnExit in_guard(in);
            in["to"] = key_text(a.to);
            return one(tagged("rbc", std::move(in)));
          },
          [&](const action::UpdateLiquidatorConfig& a) -> Status {
            return one(tagged("liq", liquidator_config_to_json(a.config)));
          },
      },
      action.v);
}

// ---- allocation-free release ------------------------------------------------

size_t child_count(const Json& v) {
  if (v.is_array()) return v.get_ref<const Json::array_t&>().size();
  if (v.is_object()) return v.get_ref<const Json::object_t&>().size();
  return 0;
}

Json& first_child(Json& v) {
  if (v.is_array()) return v.get_ref<Json::array_t&>().front();
  return v.get_ref<Json::object_t&>().begin()->second;
}

Json& last_child(Json& v) {
  if (v.is_array()) return v.get_ref<Json::array_t&>().back();
  return std::prev(v.get_ref<Json::object_t&>().end())->second;
}

// drop_last destroys the last child, which has no children of its own.
void drop_last(Json& v) noexcept {
  if (v.is_array()) {
    v.get_ref<Json::array_t&>().pop_back();
  } else {
    auto& object = v.get_ref<Json::object_t&>();
    object.erase(std::prev(object.end()));
  }
}

// rotate_apart takes a tree apart from the last child down, in place: a leaf
// (or an emptied container) is dropped, a container with one child is
// replaced by that child, and a container C with more children is rotated
// above its parent P (P takes C's first child into C's old slot and becomes
// C's first child). Every step moves values between existing slots, so
// nothing is allocated and no stack is needed; each step removes a node or
// shortens the chain of last children, so the walk ends after a number of
// steps proportional to the size of the tree.
void rotate_apart(Json& value) noexcept {
  while (child_count(value) != 0) {
    Json& last = last_child(value);
    const size_t n = child_count(last);
    if (n == 0) {
      drop_last(value);
    } else if (n == 1) {
      Json only = std::move(first_child(last));
      drop_last(last);
      last = std::move(only);  // the emptied container is destroyed without allocating
    } else {
      Json child = std::move(last);
      last = std::move(first_child(child));
      first_child(child) = std::move(value);
      value = std::move(child);
    }
  }
}

// kRecursiveLevels: how deep release recurses before it rotates instead.
constexpr unsigned kRecursiveLevels = 48;

// release_children empties the children of a container, then the container:
// once no child has children of its own, clearing destroys them without
// allocating (and without the rebalancing of erasing members one by one).
void release_children(Json& value, unsigned level) noexcept {
  auto empty_child = [&](Json& child) {
    if (child_count(child) == 0) return;
    if (level < kRecursiveLevels) {
      release_children(child, level + 1);
    } else {
      rotate_apart(child);
    }
  };
  if (value.is_array()) {
    auto& array = value.get_ref<Json::array_t&>();
    for (Json& child : array) empty_child(child);
    array.clear();
  } else if (value.is_object()) {
    auto& object = value.get_ref<Json::object_t&>();
    for (auto& member : object) empty_child(member.second);
    object.clear();
  }
}

}  // namespace

void release_json(Json& value) noexcept { release_children(value, 0); }

void release_json(std::vector<Json>& values) noexcept {
  while (!values.empty()) {
    release_json(values.back());
    values.pop_back();
  }
}

Result<JsonList> action_to_json(const Action& action, JsonFlavour flavour) {
  JsonList out;
  ReleaseOnExit guard(out);
  if (const auto* orders = std::get_if<action::Orders>(&action.v)) out.reserve(orders->orders.size());
  if (auto s = append_action(out, action, flavour); !s) return std::move(s).error();
  return out;
}

Status ItemJson::build(const std::vector<OrderItem>& items, JsonFlavour flavour) {
  nodes_.clear();
  texts_.clear();
  roots_.clear();
  for (const OrderItem& item : items) {
    Result<Value> root = item_json(*this, item, flavour);
    if (!root) return std::move(root).error();
    roots_.push_back(*root);
  }
  return {};
}

Result<Json> order_item_to_json(const OrderItem& item, JsonFlavour flavour) {
  JsonBuilder json_builder;
  return item_json(json_builder, item, flavour);
}

Json liquidator_config_to_json(const LiquidatorConfig& config) {
  Json instruments = Json::array();
  ReleaseOnExit instruments_guard(instruments);
  for (const LiquidatorInstrumentConfig* inst : config.sorted_instruments()) {
    Json o = Json::object();
    ReleaseOnExit o_guard(o);
    o["symbol"] = inst->symbol;
    o["max_exposure"] = num(inst->max_exposure);
    o["reserve"] = num(inst->reserve);
    o["rfactor"] = num(inst->rfactor);
    o["volume_percent"] = num(inst->volume_percent);
    o["volume_min"] = num(inst->volume_min);
    o["volume_rampup"] = num_u(inst->volume_rampup);
    o["max_sweep_bps"] = num(inst->max_sweep_bps);
    o["max_adl_notional"] = num(inst->max_adl_notional);
    o["max_adl_percent"] = num(inst->max_adl_percent);
    instruments.push_back(std::move(o));
  }
  Json out = Json::object();
  ReleaseOnUnwind out_guard(out);
  out["cross_exposure"] = num(config.cross_exposure);
  out["scoring_skew"] = num(config.scoring_skew);
  out["toxicity"] = num(config.toxicity);
  out["urgency_size_fraction"] = num(config.urgency_size_fraction);
  out["sweep_sds"] = num(config.sweep_sds);
  move_into(out, "instruments", instruments);
  return out;
}

}  // namespace fyrn
