#include "fyrn/wire.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <type_traits>

#include "byte_writer.hpp"

namespace fyrn {

using detail::ByteWriter;

// ---------------------------------------------------------------------------
// Fixed point

uint64_t to_fixed_point(double value) {
  // The product is rounded as a double: 1.5e-8 * 1e8 lands just under 1.5 and
  // gives 1, which is what the exchange computes too.
  const double product = value * 1e8;
  if (!(product > 0.0)) return 0;  // NaN, zero and negatives
  if (product >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  // Truncation and the remaining fraction are both exact in binary64, so this
  // is round-half-away-from-zero without a libm call. At 2^52 and above the
  // fraction is 0, so the increment cannot overflow.
  const auto whole = static_cast<uint64_t>(product);
  return whole + (product - static_cast<double>(whole) >= 0.5 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Tags

namespace {

constexpr std::array<TxTag, 31> kPayloadTags = {
    TxTag::MarketOrder,        TxTag::LimitOrder,          TxTag::ModifyOrder,
    TxTag::CancelOrder,        TxTag::CancelAll,           TxTag::Stop,
    TxTag::TakeProfit,         TxTag::RangeOco,            TxTag::TriggerBasket,
    TxTag::TrailingStop,       TxTag::OnFill,              TxTag::Price,
    TxTag::PythOracle,         TxTag::Faucet,              TxTag::AgentWalletCreation,
    TxTag::UpdateUserSettings, TxTag::WhitelistFaucet,     TxTag::CreateSubAccount,
    TxTag::RemoveSubAccount,   TxTag::Transfer,            TxTag::CreateMultisig,
    TxTag::MultisigPropose,    TxTag::MultisigApprove,     TxTag::MultisigReject,
    TxTag::MultisigCancel,     TxTag::MultisigExecute,     TxTag::UpdateMultisigPolicy,
    TxTag::RenameSubAccount,   TxTag::ApproveCommissionFee, TxTag::RevokeCommissionFee,
    TxTag::LiquidatorConfig,
};
static_assert(std::variant_size_v<TxAction::Payload> == kPayloadTags.size());

}  // namespace

TxTag TxAction::tag() const { return kPayloadTags[payload.index()]; }

Result<TxCommission> TxCommission::try_from(const Commission& commission) {
  // A Commission from Commission::make always passes; the fields are public,
  // so the wire checks again rather than trusting the invariant.
  auto checked = Commission::make(commission.to, commission.fee);
  if (!checked) return std::move(checked).error();
  TxCommission c;
  c.to = checked->to;
  c.fee = checked->fee;
  return c;
}

// ---------------------------------------------------------------------------
// Level predicates

namespace {

// One traversal gathers all three level features at once.
enum LevelFlag : unsigned { kLeaf = 1, kBuilderCode = 2, kSlippage = 4 };

template <typename T>
constexpr bool is_conditional_leaf_v =
    std::is_same_v<T, item::Stop> || std::is_same_v<T, item::TakeProfit> ||
    std::is_same_v<T, item::Range> || std::is_same_v<T, item::TrailingStop>;

unsigned item_flags(const OrderItem& it);

unsigned items_flags(const std::vector<OrderItem>& items) {
  unsigned f = 0;
  for (const auto& it : items) f |= item_flags(it);
  return f;
}

unsigned item_flags(const OrderItem& it) {
  return std::visit(
      [](const auto& v) -> unsigned {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, item::Order>) {
          return (v.builder_code ? kBuilderCode : 0u) | (v.slippage ? kSlippage : 0u);
        } else if constexpr (is_conditional_leaf_v<T>) {
          // A conditional order's own slippage never raises the level.
          return kLeaf | (v.builder_code ? kBuilderCode : 0u);
        } else if constexpr (std::is_same_v<T, item::TriggerBasket>) {
          return items_flags(v.actions);
        } else if constexpr (std::is_same_v<T, item::OnFill>) {
          return (v.trigger ? item_flags(*v.trigger) : 0u) | items_flags(v.actions);
        } else {
          return 0u;  // Modify, Cancel, CancelAll
        }
      },
      it.v);
}

unsigned action_flags(const Action& action) {
  if (const auto* orders = std::get_if<action::Orders>(&action.v)) return items_flags(orders->orders);
  if (const auto* propose = std::get_if<action::MultisigPropose>(&action.v)) {
    unsigned f = 0;
    for (const auto& inner : propose->actions) f |= action_flags(inner);
    return f;
  }
  return 0;
}

}  // namespace

bool order_item_contains_leaf_conditional(const OrderItem& it) { return item_flags(it) & kLeaf; }
bool order_item_has_builder_code(const OrderItem& it) { return item_flags(it) & kBuilderCode; }
bool order_item_has_explicit_slippage(const OrderItem& it) { return item_flags(it) & kSlippage; }
bool action_contains_leaf_conditional(const Action& action) { return action_flags(action) & kLeaf; }
bool action_has_builder_code(const Action& action) { return action_flags(action) & kBuilderCode; }
bool action_has_explicit_slippage(const Action& action) { return action_flags(action) & kSlippage; }

uint8_t message_level(const Action& action) {
  const unsigned f = action_flags(action);
  if (f & kLeaf) return 4;
  if (f & kBuilderCode) return 3;
  if (f & kSlippage) return 2;
  return 0;
}

// ---------------------------------------------------------------------------
// Lowering of order items

namespace {

Status lower_commission(std::optional<TxCommission>& out, const std::optional<Commission>& in) {
  if (!in) {
    out.reset();
    return {};
  }
  auto c = TxCommission::try_from(*in);
  if (!c) return std::move(c).error();
  out = *c;
  return {};
}

std::optional<uint64_t> fx_unless_nan(double v) {
  if (std::isnan(v)) return std::nullopt;
  return to_fixed_point(v);
}

std::optional<uint64_t> fx_opt(const std::optional<double>& v) {
  if (!v) return std::nullopt;
  return to_fixed_point(*v);
}

Result<std::vector<TxAction>> lower_items(const std::vector<OrderItem>& items, uint8_t level) {
  std::vector<TxAction> out;
  out.reserve(items.size());
  for (const auto& it : items) {
    auto tx = order_item_to_tx_action(it, level);
    if (!tx) return std::move(tx).error();
    out.push_back(std::move(*tx));
  }
  return out;
}

Result<TxAction> lower_order(const item::Order& o, uint8_t level) {
  if (const auto* limit = std::get_if<LimitType>(&o.order_type)) {
    if (o.slippage) return Error::invalid_order("slippage is only supported on market orders");
    TxLimitOrder tx;
    tx.symbol = o.symbol;
    tx.is_buy = o.is_buy;
    tx.price = to_fixed_point(o.price);
    tx.size = to_fixed_point(o.size);
    tx.tif = limit->tif;
    tx.reduce_only = o.reduce_only;
    tx.iso = o.iso;
    if (Status s = lower_commission(tx.builder_code, o.builder_code); !s) return std::move(s).error();
    tx.level = level;
    return TxAction(std::move(tx));
  }
  const auto& trigger = std::get<TriggerType>(o.order_type);
  if (!trigger.is_market) {
    return Error::invalid_order("trigger orders are not supported by FYRN API; use market");
  }
  TxMarketOrder tx;
  tx.symbol = o.symbol;
  tx.is_buy = o.is_buy;
  tx.size = to_fixed_point(o.size);
  tx.reduce_only = o.reduce_only;
  tx.iso = o.iso;
  if (Status s = lower_commission(tx.builder_code, o.builder_code); !s) return std::move(s).error();
  tx.slippage = fx_opt(o.slippage);
  tx.level = level;
  return TxAction(std::move(tx));
}

template <typename TxT>
Result<TxAction> lower_conditional(const item::ConditionalFields& c, uint8_t level) {
  TxT tx;
  tx.symbol = c.symbol;
  tx.is_buy = c.is_buy;
  tx.size = to_fixed_point(c.size);
  tx.trigger_price = to_fixed_point(c.trigger_price);
  tx.limit_price = fx_unless_nan(c.limit_price);
  tx.iso = c.iso;
  if (Status s = lower_commission(tx.builder_code, c.builder_code); !s) return std::move(s).error();
  tx.slippage = fx_opt(c.slippage);
  tx.level = level;
  return TxAction(std::move(tx));
}

struct ItemLowering {
  uint8_t level;

  Result<TxAction> operator()(const item::Order& o) const { return lower_order(o, level); }

  Result<TxAction> operator()(const item::Modify& m) const {
    TxModifyOrder tx;
    tx.order_id = m.order_id;
    tx.symbol = m.symbol;
    tx.amount = m.amount;
    return TxAction(tx);
  }

  Result<TxAction> operator()(const item::Cancel& c) const {
    TxCancelOrder tx;
    tx.symbol = c.symbol;
    tx.order_id = c.order_id;
    return TxAction(tx);
  }

  Result<TxAction> operator()(const item::CancelAll& c) const {
    return TxAction(TxCancelAll{std::span<const std::string>(c.symbols)});
  }

  Result<TxAction> operator()(const item::Stop& s) const { return lower_conditional<TxStop>(s, level); }

  Result<TxAction> operator()(const item::TakeProfit& t) const {
    return lower_conditional<TxTakeProfit>(t, level);
  }

  Result<TxAction> operator()(const item::Range& r) const {
    TxRangeOco tx;
    tx.symbol = r.symbol;
    tx.is_buy = r.is_buy;
    tx.size = to_fixed_point(r.size);
    tx.pmin = to_fixed_point(r.pmin);
    tx.pmax = to_fixed_point(r.pmax);
    tx.lmin = fx_unless_nan(r.lmin);
    tx.lmax = fx_unless_nan(r.lmax);
    tx.iso = r.iso;
    if (Status s = lower_commission(tx.builder_code, r.builder_code); !s) return std::move(s).error();
    tx.sl_slippage = fx_opt(r.sl_slippage);
    tx.tp_slippage = fx_opt(r.tp_slippage);
    tx.level = level;
    return TxAction(std::move(tx));
  }

  Result<TxAction> operator()(const item::TriggerBasket& b) const {
    auto children = lower_items(b.actions, level);
    if (!children) return std::move(children).error();
    TxTriggerBasket tx;
    tx.symbol = b.symbol;
    tx.is_buy = b.is_buy;
    tx.trigger_price = to_fixed_point(b.trigger_price);
    tx.actions = std::move(*children);
    return TxAction(std::move(tx));
  }

  Result<TxAction> operator()(const item::OnFill& f) const {
    // An empty box can only come from a hand-built record; it is refused like
    // any other non-order trigger.
    if (!f.trigger || !std::holds_alternative<item::Order>(f.trigger->v)) {
      return Error::invalid_order("on-fill trigger must be a market or limit order");
    }
    auto trigger = lower_order(std::get<item::Order>(f.trigger->v), level);
    if (!trigger) return std::move(trigger).error();
    auto children = lower_items(f.actions, level);
    if (!children) return std::move(children).error();
    TxOnFill tx;
    tx.trigger = Box<TxAction>(std::move(*trigger));
    tx.actions = std::move(*children);
    return TxAction(std::move(tx));
  }

  Result<TxAction> operator()(const item::TrailingStop& t) const {
    TxTrailingStop tx;
    tx.symbol = t.symbol;
    tx.is_buy = t.is_buy;
    tx.size = to_fixed_point(t.size);
    tx.trail_bps = t.trail_bps;
    tx.step_bps = t.step_bps;
    tx.limit_price = fx_opt(t.limit_price);
    tx.iso = t.iso;
    if (Status s = lower_commission(tx.builder_code, t.builder_code); !s) return std::move(s).error();
    tx.slippage = fx_opt(t.slippage);
    tx.level = level;
    return TxAction(std::move(tx));
  }
};

}  // namespace

Result<TxAction> order_item_to_tx_action(const OrderItem& it, uint8_t level) {
  return std::visit(ItemLowering{level}, it.v);
}

// ---------------------------------------------------------------------------
// Lowering of actions

namespace {

// lower_action hands every wire action of `action` to `sink` in order, or
// returns the first error. The message writer calls it twice (check, then
// write), so nothing is collected for top-level actions.
template <typename Sink>
Status lower_action(const Action& action, uint8_t level, Sink&& sink);

struct ActionLowering {
  uint8_t level;

  // Returns the single wire action of every action that lowers to exactly one.
  Result<TxAction> operator()(const action::Faucet& a) const { return TxAction(TxFaucet{a.user, a.amount}); }

  Result<TxAction> operator()(const action::PythOracle& a) const {
    return TxAction(TxPythOracle{std::span<const PythPrice>(a.updates)});
  }

  Result<TxAction> operator()(const action::UpdateUserSettings& a) const {
    // Later pairs replace earlier ones: a stable sort keeps input order within
    // a symbol, then the last of each run survives.
    std::vector<std::pair<std::string_view, double>> map;
    map.reserve(a.max_leverage.size());
    for (const auto& [symbol, leverage] : a.max_leverage) map.emplace_back(symbol, leverage);
    std::stable_sort(map.begin(), map.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    size_t kept = 0;
    for (size_t i = 0; i < map.size(); ++i) {
      if (i + 1 < map.size() && map[i + 1].first == map[i].first) continue;
      map[kept++] = map[i];
    }
    map.resize(kept);
    return TxAction(TxUpdateUserSettings{std::move(map)});
  }

  Result<TxAction> operator()(const action::AgentWalletCreation& a) const {
    return TxAction(TxAgentWalletCreation{a.agent, a.delete_});
  }

  Result<TxAction> operator()(const action::WhitelistFaucet& a) const {
    return TxAction(TxWhitelistFaucet{a.target, a.whitelist});
  }

  Result<TxAction> operator()(const action::CreateSubAccount& a) const {
    return TxAction(TxCreateSubAccount{a.name, a.margin_amount});
  }

  Result<TxAction> operator()(const action::RemoveSubAccount& a) const {
    return TxAction(TxRemoveSubAccount{a.to_remove});
  }

  Result<TxAction> operator()(const action::RenameSubAccount& a) const {
    return TxAction(TxRenameSubAccount{a.account, a.name});
  }

  Result<TxAction> operator()(const action::Transfer& a) const {
    const auto& t = a.transfer;
    return TxAction(TxTransfer{t.kind, t.from, t.to, t.amount});
  }

  Result<TxAction> operator()(const action::LegacyWithdrawal1&) const { return Error::legacy_withdrawal(); }
  Result<TxAction> operator()(const action::LegacyWithdrawal2&) const { return Error::legacy_withdrawal(); }

  Result<TxAction> operator()(const action::CreateMultisig& a) const {
    return TxAction(TxCreateMultisig{std::span<const Pubkey>(a.signers), a.threshold, a.time_lock_secs,
                                     a.proposal_lifetime_secs});
  }

  Result<TxAction> operator()(const action::MultisigPropose& a) const {
    const uint8_t nested = multisig_nested_level(level);
    TxMultisigPropose tx;
    tx.multisig = a.multisig;
    for (const auto& inner : a.actions) {
      Status s = lower_action(inner, nested, [&](TxAction&& t) { tx.actions.push_back(std::move(t)); });
      if (!s) return std::move(s).error();
    }
    tx.extra = a.extra;
    return TxAction(std::move(tx));
  }

  Result<TxAction> operator()(const action::MultisigApprove& a) const {
    return TxAction(TxMultisigApprove{{a.multisig, a.proposal}});
  }
  Result<TxAction> operator()(const action::MultisigReject& a) const {
    return TxAction(TxMultisigReject{{a.multisig, a.proposal}});
  }
  Result<TxAction> operator()(const action::MultisigCancel& a) const {
    return TxAction(TxMultisigCancel{{a.multisig, a.proposal}});
  }
  Result<TxAction> operator()(const action::MultisigExecute& a) const {
    return TxAction(TxMultisigExecute{{a.multisig, a.proposal}});
  }

  Result<TxAction> operator()(const action::UpdateMultisigPolicy& a) const {
    return TxAction(TxUpdateMultisigPolicy{a.multisig, std::span<const Pubkey>(a.signers), a.threshold,
                                           a.time_lock_secs, a.proposal_lifetime_secs});
  }

  Result<TxAction> operator()(const action::ApproveCommissionFee& a) const {
    auto c = TxCommission::try_from(a.commission);
    if (!c) return std::move(c).error();
    return TxAction(TxApproveCommissionFee{c->to, c->fee});
  }

  Result<TxAction> operator()(const action::RevokeCommissionFee& a) const {
    return TxAction(TxRevokeCommissionFee{a.to});
  }

  Result<TxAction> operator()(const action::UpdateLiquidatorConfig& a) const {
    const auto& c = a.config;
    TxLiquidatorConfig tx;
    tx.cross_exposure = c.cross_exposure;
    tx.scoring_skew = c.scoring_skew;
    tx.toxicity = c.toxicity;
    tx.urgency_size_fraction = c.urgency_size_fraction;
    tx.sweep_sds = c.sweep_sds;
    tx.instruments = c.sorted_instruments();
    return TxAction(std::move(tx));
  }
};

template <typename Sink>
Status lower_action(const Action& action, uint8_t level, Sink&& sink) {
  return std::visit(
      [&](const auto& a) -> Status {
        using T = std::decay_t<decltype(a)>;
        if constexpr (std::is_same_v<T, action::Orders>) {
          for (const auto& it : a.orders) {
            auto tx = order_item_to_tx_action(it, level);
            if (!tx) return std::move(tx).error();
            sink(std::move(*tx));
          }
        } else if constexpr (std::is_same_v<T, action::OraclePrices>) {
          for (const auto& p : a.prices) sink(TxAction(TxPrice{p.timestamp, p.symbol, p.price}));
        } else {
          auto tx = ActionLowering{level}(a);
          if (!tx) return std::move(tx).error();
          sink(std::move(*tx));
        }
        return {};
      },
      action.v);
}

}  // namespace

Result<std::vector<TxAction>> action_to_tx_actions(const Action& action, uint8_t level) {
  std::vector<TxAction> out;
  Status s = lower_action(action, level, [&](TxAction&& tx) { out.push_back(std::move(tx)); });
  if (!s) return std::move(s).error();
  return out;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

struct PayloadWriter {
  std::vector<uint8_t>& out;
  ByteWriter w;

  void commission(const TxCommission& c) {
    w.bytes(c.to.data(), 32);
    w.u8(c.fee);
  }
  void opt_commission(const std::optional<TxCommission>& c) {
    w.boolean(c.has_value());
    if (c) commission(*c);
  }
  // present_commission writes the option only when there is a value.
  void present_commission(const std::optional<TxCommission>& c) {
    if (c) {
      w.u8(1);
      commission(*c);
    }
  }
  void opt_u64(const std::optional<uint64_t>& v) {
    w.boolean(v.has_value());
    if (v) w.u64(*v);
  }
  void opt_f64(const std::optional<double>& v) {
    w.boolean(v.has_value());
    if (v) w.f64(*v);
  }
  void key(const Pubkey& k) { w.bytes(k.data(), 32); }
  void key(const Hash& h) { w.bytes(h.data(), 32); }
  void keys(std::span<const Pubkey> ks) {
    w.u64(ks.size());
    for (const auto& k : ks) key(k);
  }
  void list(const std::vector<TxAction>& actions) {
    w.u64(actions.size());
    for (const auto& a : actions) write_tx_action(out, a);
  }

  void operator()(const TxMarketOrder& o) {
    w.str(o.symbol);
    w.boolean(o.is_buy);
    w.u64(o.size);
    w.boolean(o.reduce_only);
    w.boolean(o.iso);
    switch (o.level) {
      case 2:
      case 3:
        opt_commission(o.builder_code);
        opt_u64(o.slippage);
        break;
      case 1:
        opt_commission(o.builder_code);
        break;
      default:  // 0 and 4
        present_commission(o.builder_code);
        break;
    }
  }

  void operator()(const TxLimitOrder& o) {
    w.str(o.symbol);
    w.boolean(o.is_buy);
    w.u64(o.price);
    w.u64(o.size);
    w.u32(static_cast<uint32_t>(o.tif));
    w.boolean(o.reduce_only);
    w.boolean(o.iso);
    if (o.level != 0) {
      opt_commission(o.builder_code);
    } else {
      present_commission(o.builder_code);
    }
  }

  void operator()(const TxModifyOrder& m) {
    key(m.order_id);
    w.str(m.symbol);
    w.f64(m.amount);
  }

  void operator()(const TxCancelOrder& c) {
    w.str(c.symbol);
    key(c.order_id);
  }

  void operator()(const TxCancelAll& c) {
    w.u64(c.symbols.size());
    for (const auto& s : c.symbols) w.str(s);
  }

  void conditional(const TxConditional& c) {
    w.str(c.symbol);
    w.boolean(c.is_buy);
    w.u64(c.size);
    w.u64(c.trigger_price);
    opt_u64(c.limit_price);
    w.boolean(c.iso);
    trailing(c.level, c.builder_code, c.slippage);
  }
  // trailing writes the level-dependent tail shared by stop, take-profit and
  // trailing stop.
  void trailing(uint8_t level, const std::optional<TxCommission>& bc, const std::optional<uint64_t>& slip) {
    if (level == 2 || level == 3) {
      opt_commission(bc);
    } else if (level == 4) {
      opt_commission(bc);
      opt_u64(slip);
    }
  }
  void operator()(const TxStop& s) { conditional(s); }
  void operator()(const TxTakeProfit& t) { conditional(t); }

  void operator()(const TxRangeOco& r) {
    w.str(r.symbol);
    w.boolean(r.is_buy);
    w.u64(r.size);
    w.u64(r.pmin);
    w.u64(r.pmax);
    opt_u64(r.lmin);
    opt_u64(r.lmax);
    w.boolean(r.iso);
    if (r.level == 2 || r.level == 3) {
      opt_commission(r.builder_code);
    } else if (r.level == 4) {
      opt_commission(r.builder_code);
      opt_u64(r.sl_slippage);
      opt_u64(r.tp_slippage);
    }
  }

  void operator()(const TxTriggerBasket& b) {
    w.str(b.symbol);
    w.boolean(b.is_buy);
    w.u64(b.trigger_price);
    list(b.actions);
  }

  void operator()(const TxTrailingStop& t) {
    w.str(t.symbol);
    w.boolean(t.is_buy);
    w.u64(t.size);
    w.u32(t.trail_bps);
    w.u32(t.step_bps);
    opt_u64(t.limit_price);
    w.boolean(t.iso);
    trailing(t.level, t.builder_code, t.slippage);
  }

  void operator()(const TxOnFill& f) {
    // Lowering always sets the trigger; an empty box is a hand-built value
    // that cannot be encoded.
    if (!f.trigger) throw Panic("on-fill wire action without a trigger");
    write_tx_action(out, *f.trigger);
    list(f.actions);
  }

  void operator()(const TxPrice& p) {
    w.u64(p.timestamp);
    w.str(p.symbol);
    w.f64(p.price);
  }

  void operator()(const TxPythOracle& p) {
    w.u64(p.updates.size());
    for (const auto& u : p.updates) {
      w.u64(u.timestamp);
      w.u64(u.feed_index);
      w.u64(u.price);
      w.u16(static_cast<uint16_t>(u.exponent));
    }
  }

  void operator()(const TxFaucet& f) {
    key(f.user);
    opt_f64(f.amount);
  }

  void operator()(const TxAgentWalletCreation& a) {
    key(a.agent);
    w.boolean(a.delete_);
  }

  void operator()(const TxUpdateUserSettings& s) {
    w.u64(s.max_leverage.size());
    for (const auto& [symbol, leverage] : s.max_leverage) {
      w.str(symbol);
      w.f64(leverage);
    }
  }

  void operator()(const TxWhitelistFaucet& f) {
    key(f.target);
    w.boolean(f.whitelist);
  }

  void operator()(const TxCreateSubAccount& c) {
    w.str(c.name);
    opt_f64(c.margin_amount);
  }

  void operator()(const TxRemoveSubAccount& r) { key(r.to_remove); }

  void operator()(const TxTransfer& t) {
    w.u32(static_cast<uint32_t>(t.kind));
    key(t.from);
    key(t.to);
    w.f64(t.amount);
  }

  void operator()(const TxCreateMultisig& c) {
    keys(c.signers);
    w.u32(c.threshold);
    w.u32(c.time_lock_secs);
    w.u32(c.proposal_lifetime_secs);
  }

  void operator()(const TxMultisigPropose& p) {
    key(p.multisig);
    list(p.actions);
    w.boolean(p.extra.has_value());
    if (p.extra) w.u32(*p.extra);
  }

  void proposal_ref(const TxMultisigProposalRef& r) {
    key(r.multisig);
    w.u64(r.proposal);
  }
  void operator()(const TxMultisigApprove& r) { proposal_ref(r); }
  void operator()(const TxMultisigReject& r) { proposal_ref(r); }
  void operator()(const TxMultisigCancel& r) { proposal_ref(r); }
  void operator()(const TxMultisigExecute& r) { proposal_ref(r); }

  void operator()(const TxUpdateMultisigPolicy& p) {
    key(p.multisig);
    keys(p.signers);
    w.u32(p.threshold);
    w.u32(p.time_lock_secs);
    w.u32(p.proposal_lifetime_secs);
  }

  void operator()(const TxRenameSubAccount& r) {
    key(r.account);
    w.str(r.name);
  }

  void operator()(const TxApproveCommissionFee& a) {
    key(a.to);
    w.u8(a.fee);
  }

  void operator()(const TxRevokeCommissionFee& r) { key(r.to); }

  void operator()(const TxLiquidatorConfig& c) {
    w.f64(c.cross_exposure);
    w.f64(c.scoring_skew);
    w.f64(c.toxicity);
    w.f64(c.urgency_size_fraction);
    w.f64(c.sweep_sds);
    w.u64(c.instruments.size());
    for (const auto* i : c.instruments) {
      w.str(i->symbol);
      w.f64(i->max_exposure);
      w.f64(i->reserve);
      w.f64(i->rfactor);
      w.f64(i->volume_percent);
      w.f64(i->volume_min);
      w.u64(i->volume_rampup);
      w.f64(i->max_sweep_bps);
      w.f64(i->max_adl_notional);
      w.f64(i->max_adl_percent);
    }
  }
};

constexpr uint8_t kHeaderMagic[20] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'f', 'y',
                                      'r',  'n',  '-',  'a',  'c',  't',  'i',  'o',  'n', 's'};

}  // namespace

void write_tx_action(std::vector<uint8_t>& out, const TxAction& tx) {
  ByteWriter w(out);
  w.u32(static_cast<uint32_t>(tx.tag()));
  std::visit(PayloadWriter{out, w}, tx.payload);
}

Status serialize_for_sdk_signing(const Action& action, SignatureDomain domain, uint64_t nonce,
                                 const Pubkey& account, std::vector<uint8_t>& buffer) {
  const uint8_t level = message_level(action);

  // Every check runs before the buffer is touched: lower once to count and
  // validate, then lower again while writing. A leaf order lowers without
  // allocating, so a second pass is cheaper than collecting the actions.
  // The first wire action is kept, so a one-action message (the common case)
  // is lowered only once.
  uint64_t count = 0;
  std::optional<TxAction> first;
  Status checked = lower_action(action, level, [&](TxAction&& tx) {
    if (count++ == 0) first.emplace(std::move(tx));
  });
  if (!checked) return checked;
  if (count == 0) return Error::empty_orders();

  buffer.clear();
  ByteWriter w(buffer);
  if (level != 0) {
    w.bytes(kHeaderMagic, sizeof kHeaderMagic);
    w.u8(level);
  }
  w.u64(count);
  if (count == 1) {
    write_tx_action(buffer, *first);
  } else {
    // Lowering is deterministic: the first pass succeeded, so this one does.
    (void)lower_action(action, level, [&](TxAction&& tx) { write_tx_action(buffer, tx); });
  }
  w.u64(nonce);
  w.bytes(account.data(), 32);
  w.u8(signature_domain_byte(domain));
  return {};
}

}  // namespace fyrn
