#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>

#include "fyrn/wire.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;
using wire_test::Bytes;
using wire_test::hash_of;
using wire_test::key_of;
using wire_test::limit_order;
using wire_test::market_order;
using wire_test::orders;
using wire_test::raw_commission;
using wire_test::stop_order;

namespace {

constexpr uint64_t kNonce = 1700000000000000000ULL;
const Pubkey kAccount = key_of(0x11);
const Pubkey kBuilder = key_of(0x22);

// frame wraps the expected action bytes into a whole message.
std::vector<uint8_t> frame(uint8_t level, uint64_t count, const Bytes& actions,
                           SignatureDomain domain = SignatureDomain::Mainnet) {
  Bytes b;
  if (level != 0) b.fill(0xFF, 8).hex("66 79 72 6e 2d 61 63 74 69 6f 6e 73").u8(level);  // "fyrn-actions"
  b.u64(count).cat(actions).u64(kNonce).key(kAccount.bytes).u8(static_cast<uint8_t>(domain));
  return b.v;
}

std::vector<uint8_t> encode(const Action& a, SignatureDomain domain = SignatureDomain::Mainnet) {
  std::vector<uint8_t> buf;
  Status s = serialize_for_sdk_signing(a, domain, kNonce, kAccount, buf);
  EXPECT_TRUE(s.ok()) << s.error().display();
  return buf;
}

std::vector<uint8_t> encode_item(const OrderItem& it, uint8_t level) {
  auto tx = order_item_to_tx_action(it, level);
  EXPECT_TRUE(tx.ok()) << tx.error().display();
  std::vector<uint8_t> out;
  if (tx.ok()) write_tx_action(out, *tx);
  return out;
}

// lowered_bytes goes through the public lowering API instead of the message
// writer; both must agree.
std::vector<uint8_t> lowered_bytes(const Action& a, uint8_t level) {
  auto txs = action_to_tx_actions(a, level);
  EXPECT_TRUE(txs.ok());
  std::vector<uint8_t> out;
  if (txs.ok()) {
    for (const auto& tx : *txs) write_tx_action(out, tx);
  }
  return out;
}

// The limit order of the worked examples.
item::Order btc_limit() { return limit_order("BTC-USD", true, 50000.5, 0.25); }

Bytes btc_limit_body() {
  return Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(0).u8(0).u8(0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Worked examples

TEST(WireMessage, WorkedExampleLevel0Limit) {
  const auto expected = Bytes()
                            .hex("01 00 00 00 00 00 00 00  01 00 00 00")
                            .hex("07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44  01")
                            .hex("80 40 34 2a 8c 04 00 00  40 78 7d 01 00 00 00 00")
                            .hex("00 00 00 00  00  00  00 00 2a 36 fe 9c 97 17")
                            .fill(0x11, 32)
                            .u8(0x01)
                            .v;
  ASSERT_EQ(expected.size(), 91u);
  EXPECT_EQ(message_level(orders({btc_limit()})), 0);
  EXPECT_EQ(encode(orders({btc_limit()})), expected);
}

TEST(WireMessage, WorkedExampleBuilderCodeLevel3) {
  auto o = btc_limit();
  o.builder_code = *Commission::make(kBuilder, 5);
  const auto expected = frame(3, 1, btc_limit_body().u8(1).key(kBuilder.bytes).u8(5));
  ASSERT_EQ(expected.size(), 91u + 21u + 34u);
  EXPECT_EQ(encode(orders({o})), expected);
}

TEST(WireMessage, WorkedExampleMarketSlippageLevel2) {
  auto m = market_order("BTC-USD", true, 0.25);
  m.slippage = 0.005;
  const auto body = Bytes()
                        .u32(0)
                        .str("BTC-USD")
                        .u8(1)
                        .u64(25000000)
                        .u8(0)
                        .u8(0)
                        .u8(0)                // no builder code
                        .hex("01 20 a1 07 00 00 00 00 00");  // slippage 500 000
  EXPECT_EQ(encode(orders({m})), frame(2, 1, body));
}

TEST(WireMessage, WorkedExampleMarketInsideLevel4) {
  auto m = market_order("BTC-USD", true, 0.25);
  auto s = stop_order("ETH-USD", false, 1.0, 2000.0);
  const auto body = Bytes()
                        .u32(0).str("BTC-USD").u8(1).u64(25000000).u8(0).u8(0)  // ends after iso
                        .u32(5).str("ETH-USD").u8(0).u64(100000000).u64(200000000000ULL)
                        .u8(0)          // no limit price
                        .u8(0)          // iso
                        .u8(0).u8(0);   // no builder code, no slippage
  EXPECT_EQ(encode(orders({m, s})), frame(4, 2, body));
}

TEST(WireMessage, WorkedExampleMultisigAtLevel1) {
  action::MultisigPropose p;
  p.multisig = key_of(0x44);
  p.actions.push_back(orders({btc_limit(), market_order("ETH-USD", false, 2.0)}));
  const auto body = Bytes()
                        .u32(31)
                        .key(key_of(0x44).bytes)
                        .u64(2)
                        .cat(btc_limit_body().u8(0))  // commission option always written
                        .u32(0).str("ETH-USD").u8(0).u64(200000000).u8(0).u8(0).u8(0)  // no slippage
                        .u8(0);  // no extra
  EXPECT_EQ(encode(Action(p)), frame(0, 1, body));
}

TEST(WireMessage, DomainByteAndSuffix) {
  for (auto d : {SignatureDomain::Mainnet, SignatureDomain::Testnet, SignatureDomain::Devnet}) {
    const auto bytes = encode(orders({btc_limit()}), d);
    ASSERT_GE(bytes.size(), kMessageSuffixLen);
    EXPECT_EQ(bytes.back(), static_cast<uint8_t>(d));
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - kMessageSuffixLen, bytes.end()),
              Bytes().u64(kNonce).key(kAccount.bytes).u8(static_cast<uint8_t>(d)).v);
  }
}

// ---------------------------------------------------------------------------
// Fixed point

TEST(FixedPoint, Table) {
  const uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const struct {
    double in;
    uint64_t out;
  } rows[] = {
      {0.1, 10000000},
      {1.5e-8, 1},  // the product is just under 1.5
      {2.5e-8, 3},
      {123.456789125, 12345678913ULL},
      {-1.0, 0},
      {std::nan(""), 0},
      {2e11, kMax},
      {1e300, kMax},
      {std::numeric_limits<double>::infinity(), kMax},
      {-std::numeric_limits<double>::infinity(), 0},
      {0.0, 0},
      {-0.0, 0},
      {-4e-9, 0},
      {50000.5, 5000050000000ULL},
      {0.005, 500000},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(to_fixed_point(r.in), r.out);
  }
}

namespace {

// exact_round rounds the double `p` half away from zero with integer
// arithmetic on its mantissa and exponent, clamping like the wire does.
uint64_t exact_round(double p) {
  if (std::isnan(p) || p <= 0.0) return 0;
  if (std::isinf(p) || p >= 0x1p64) return std::numeric_limits<uint64_t>::max();
  int e = 0;
  const double m = std::frexp(p, &e);  // p = m * 2^e, 0.5 <= m < 1
  const auto mant = static_cast<unsigned __int128>(std::ldexp(m, 53));  // exact: 53-bit integer
  const int shift = 53 - e;  // p = mant / 2^shift
  if (shift <= 0) return static_cast<uint64_t>(mant << -shift);
  if (shift > 100) return 0;  // far below one half
  const unsigned __int128 whole = mant >> shift;
  const unsigned __int128 rem = mant - (whole << shift);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  return static_cast<uint64_t>(whole + (rem >= half ? 1 : 0));
}

}  // namespace

TEST(FixedPoint, MatchesExactRoundingOfTheProduct) {
  std::mt19937_64 rng(20240521);
  std::uniform_real_distribution<double> scale(-12.0, 13.0);
  std::uniform_int_distribution<int> kind(0, 3);
  for (int i = 0; i < 200000; ++i) {
    double v;
    switch (kind(rng)) {
      case 0: {  // any bit pattern: NaN, infinities, subnormals, negatives
        const uint64_t bits = rng();
        std::memcpy(&v, &bits, 8);
        break;
      }
      case 1:  // magnitudes around the trading range and the clamp
        v = std::pow(10.0, scale(rng)) * (rng() % 2 ? 1.0 : -0.001);
        break;
      case 2:  // decimals with few places, where halves sit
        v = static_cast<double>(rng() % 100000000000ULL) / 1e9;
        break;
      default:  // near-ties after scaling: k + 0.5 units of 1e-8
        v = (static_cast<double>(rng() % 10000000) + 0.5) / 1e8;
        break;
    }
    const double product = v * 1e8;
    ASSERT_EQ(to_fixed_point(v), exact_round(product)) << "value " << v;
  }
}

// ---------------------------------------------------------------------------
// Level predicates

namespace {

OrderItem with_bc(OrderItem it) {
  std::visit(
      [](auto& v) {
        if constexpr (requires { v.builder_code; }) v.builder_code = raw_commission(0x22, 5);
      },
      it.v);
  return it;
}

item::Order market_with_slippage() {
  auto m = market_order("SOL-USD", true, 1.0);
  m.slippage = 0.01;
  return m;
}

item::OnFill on_fill(OrderItem trigger, std::vector<OrderItem> children) {
  item::OnFill f;
  f.trigger = Box<OrderItem>(std::move(trigger));
  f.actions = std::move(children);
  return f;
}

item::TriggerBasket basket(std::vector<OrderItem> children) {
  item::TriggerBasket b;
  b.symbol = "BTC-USD";
  b.trigger_price = 100.0;
  b.actions = std::move(children);
  return b;
}

item::Stop stop_with_slippage() {
  auto s = stop_order("BTC-USD", true, 1.0, 90.0);
  s.slippage = 0.02;
  return s;
}

}  // namespace

TEST(LevelPredicates, OrderItems) {
  item::TrailingStop trail;
  item::Range range;
  auto limit_slip = btc_limit();
  limit_slip.slippage = 0.01;
  const struct {
    const char* name;
    OrderItem item;
    bool leaf, bc, slip;
  } rows[] = {
      {"limit", btc_limit(), false, false, false},
      {"market with slippage", market_with_slippage(), false, false, true},
      {"limit with slippage", limit_slip, false, false, true},
      {"limit with builder code", with_bc(btc_limit()), false, true, false},
      {"non-market trigger with builder code", with_bc([] {
         auto o = btc_limit();
         o.order_type = TriggerType{false, 5.0};
         return o;
       }()),
       false, true, false},
      {"stop", stop_order("X", true, 1, 1), true, false, false},
      {"stop slippage does not count", stop_with_slippage(), true, false, false},
      {"stop with builder code", with_bc(stop_order("X", true, 1, 1)), true, true, false},
      {"take profit", item::TakeProfit{}, true, false, false},
      {"range", range, true, false, false},
      {"trailing with builder code", with_bc(trail), true, true, false},
      {"modify", item::Modify{}, false, false, false},
      {"cancel", item::Cancel{}, false, false, false},
      {"cancel all", item::CancelAll{}, false, false, false},
      {"empty basket", basket({}), false, false, false},
      {"basket with market slippage", basket({btc_limit(), market_with_slippage()}), false, false, true},
      {"basket with stop", basket({btc_limit(), stop_order("X", true, 1, 1)}), true, false, false},
      {"basket in basket with builder code", basket({basket({with_bc(btc_limit())})}), false, true, false},
      {"on-fill trigger slippage", on_fill(market_with_slippage(), {}), false, false, true},
      {"on-fill child trailing", on_fill(btc_limit(), {trail}), true, false, false},
      {"on-fill of on-fill with builder code", on_fill(on_fill(with_bc(btc_limit()), {}), {}), false, true, false},
      {"on-fill with empty trigger box", item::OnFill{}, false, false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(order_item_contains_leaf_conditional(r.item), r.leaf);
    EXPECT_EQ(order_item_has_builder_code(r.item), r.bc);
    EXPECT_EQ(order_item_has_explicit_slippage(r.item), r.slip);
  }
}

TEST(LevelPredicates, MessageLevels) {
  auto propose = [](std::vector<Action> inner) {
    action::MultisigPropose p;
    p.actions = std::move(inner);
    return Action(std::move(p));
  };
  const struct {
    const char* name;
    Action action;
    uint8_t level;
  } rows[] = {
      {"plain limit", orders({btc_limit()}), 0},
      {"empty orders", orders({}), 0},
      {"slippage", orders({btc_limit(), market_with_slippage()}), 2},
      {"builder code beats slippage", orders({market_with_slippage(), with_bc(btc_limit())}), 3},
      {"leaf beats builder code", orders({with_bc(btc_limit()), stop_order("X", true, 1, 1)}), 4},
      {"stop slippage alone is a leaf", orders({stop_with_slippage()}), 4},
      {"nested leaf in on-fill basket", orders({on_fill(btc_limit(), {basket({item::TakeProfit{}})})}), 4},
      {"proposal with builder code", propose({orders({with_bc(btc_limit())})}), 3},
      {"proposal with slippage", propose({Action(action::Faucet{}), orders({market_with_slippage()})}), 2},
      {"proposal in proposal with stop", propose({propose({orders({stop_order("X", true, 1, 1)})})}), 4},
      {"empty proposal", propose({}), 0},
      {"transfer", Action(action::Transfer{}), 0},
      {"oracle prices", Action(action::OraclePrices{{OraclePrice{1, "BTC", 2.0}}}), 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(message_level(r.action), r.level);
    EXPECT_EQ(action_contains_leaf_conditional(r.action), r.level == 4);
  }
  EXPECT_EQ(multisig_nested_level(0), 1);
  EXPECT_EQ(multisig_nested_level(2), 2);
  EXPECT_EQ(multisig_nested_level(3), 3);
  EXPECT_EQ(multisig_nested_level(4), 1);
}

// ---------------------------------------------------------------------------
// Order payloads: the level-dependent trailing fields

TEST(OrderPayloads, TrailingFieldsByLevel) {
  const Bytes K = Bytes().u8(1).key(kBuilder.bytes).u8(5);  // present builder code
  const Bytes none;

  auto market = market_order("BTC-USD", true, 0.25);
  auto market_x = market;
  market_x.builder_code = raw_commission(0x22, 5);
  market_x.slippage = 0.01;  // 1 000 000
  const Bytes market_head = Bytes().u32(0).str("BTC-USD").u8(1).u64(25000000).u8(0).u8(0);

  auto limit = btc_limit();
  limit.order_type = LimitType{Tif::ALO};
  limit.reduce_only = true;
  auto limit_x = limit;
  limit_x.builder_code = raw_commission(0x22, 5);
  const Bytes limit_head =
      Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(2).u8(1).u8(0);

  auto stop = stop_order("ETH-USD", false, 2.0, 1500.0);
  stop.limit_price = 1490.0;
  stop.iso = true;
  auto stop_x = stop;
  stop_x.builder_code = raw_commission(0x22, 5);
  stop_x.slippage = 0.01;
  const Bytes stop_head = Bytes()
                              .u32(5).str("ETH-USD").u8(0).u64(200000000).u64(150000000000ULL)
                              .u8(1).u64(149000000000ULL).u8(1);

  item::TakeProfit tp;
  static_cast<item::ConditionalFields&>(tp) = stop;
  item::TakeProfit tp_x;
  static_cast<item::ConditionalFields&>(tp_x) = stop_x;
  Bytes tp_head = Bytes().u32(6);
  tp_head.v.insert(tp_head.v.end(), stop_head.v.begin() + 4, stop_head.v.end());

  item::Range range;
  range.symbol = "SOL";
  range.is_buy = true;
  range.size = 3.0;
  range.pmin = 10.0;
  range.pmax = 20.0;
  range.lmax = 21.5;
  auto range_x = range;
  range_x.builder_code = raw_commission(0x22, 5);
  range_x.sl_slippage = 0.01;
  range_x.tp_slippage = 0.02;
  const Bytes range_head = Bytes()
                               .u32(7).str("SOL").u8(1).u64(300000000).u64(1000000000).u64(2000000000)
                               .u8(0)                        // lmin NaN
                               .u8(1).u64(2150000000).u8(0);  // lmax, iso

  item::TrailingStop trail;
  trail.symbol = "BTC";
  trail.size = 0.5;
  trail.trail_bps = 150;
  trail.step_bps = 10;
  auto trail_x = trail;
  trail_x.builder_code = raw_commission(0x22, 5);
  trail_x.slippage = 0.01;
  trail_x.limit_price = 99.0;
  const Bytes trail_head = Bytes().u32(9).str("BTC").u8(0).u64(50000000).u32(150).u32(10).u8(0).u8(0);
  const Bytes trail_x_head =
      Bytes().u32(9).str("BTC").u8(0).u64(50000000).u32(150).u32(10).u8(1).u64(9900000000ULL).u8(0);

  const Bytes slip1 = Bytes().u8(1).u64(1000000);
  const Bytes slip2 = Bytes().u8(1).u64(2000000);
  auto k_slip = Bytes(K).cat(slip1);
  auto none_none = Bytes().u8(0).u8(0);

  const struct {
    const char* name;
    OrderItem item;
    const Bytes& head;
    Bytes tails[5];  // by level 0..4
  } rows[] = {
      {"market", market, market_head, {none, Bytes().u8(0), none_none, none_none, none}},
      {"market+bc+slip", market_x, market_head, {K, K, k_slip, k_slip, K}},
      {"limit", limit, limit_head, {none, Bytes().u8(0), Bytes().u8(0), Bytes().u8(0), Bytes().u8(0)}},
      {"limit+bc", limit_x, limit_head, {K, K, K, K, K}},
      {"stop", stop, stop_head, {none, none, Bytes().u8(0), Bytes().u8(0), none_none}},
      {"stop+bc+slip", stop_x, stop_head, {none, none, K, K, k_slip}},
      {"take profit", tp, tp_head, {none, none, Bytes().u8(0), Bytes().u8(0), none_none}},
      {"take profit+bc+slip", tp_x, tp_head, {none, none, K, K, k_slip}},
      {"range", range, range_head, {none, none, Bytes().u8(0), Bytes().u8(0), Bytes().u8(0).u8(0).u8(0)}},
      {"range+bc+slips", range_x, range_head, {none, none, K, K, Bytes(K).cat(slip1).cat(slip2)}},
      {"trailing", trail, trail_head, {none, none, Bytes().u8(0), Bytes().u8(0), none_none}},
      {"trailing+bc+slip+limit", trail_x, trail_x_head, {none, none, K, K, k_slip}},
  };
  for (const auto& r : rows) {
    for (uint8_t level = 0; level <= 4; ++level) {
      SCOPED_TRACE(std::string(r.name) + " at level " + std::to_string(level));
      EXPECT_EQ(encode_item(r.item, level), Bytes(r.head).cat(r.tails[level]).v);
    }
  }
}

TEST(OrderPayloads, StopLimitNaNVersusZero) {
  auto nan_stop = stop_order("BTC", true, 1.0, 2.0);
  auto zero_stop = nan_stop;
  zero_stop.limit_price = 0.0;
  const Bytes head = Bytes().u32(5).str("BTC").u8(1).u64(100000000).u64(200000000);
  EXPECT_EQ(encode_item(nan_stop, 0), Bytes(head).u8(0).u8(0).v);
  EXPECT_EQ(encode_item(zero_stop, 0), Bytes(head).u8(1).u64(0).u8(0).v);
}

TEST(OrderPayloads, NonOrderItemsAndNesting) {
  item::Modify mod{"ETH-USD", hash_of(0x55), 1.5};
  item::Cancel cancel{"ETH-USD", hash_of(0x66)};
  const Bytes mod_bytes = Bytes().u32(2).key(hash_of(0x55).bytes).str("ETH-USD").f64(1.5);
  const Bytes cancel_bytes = Bytes().u32(3).str("ETH-USD").key(hash_of(0x66).bytes);

  item::TriggerBasket b = basket({btc_limit(), stop_order("X", true, 1, 1)});
  b.is_buy = true;
  const Bytes basket4 = Bytes()
                            .u32(8).str("BTC-USD").u8(1).u64(10000000000ULL).u64(2)
                            .cat(btc_limit_body().u8(0))
                            .u32(5).str("X").u8(1).u64(100000000).u64(100000000).u8(0).u8(0).u8(0).u8(0);

  const struct {
    const char* name;
    Action action;
    uint8_t level;
    uint64_t count;
    Bytes body;
  } rows[] = {
      {"modify", orders({mod}), 0, 1, mod_bytes},
      {"cancel", orders({cancel}), 0, 1, cancel_bytes},
      {"empty cancel-all", orders({item::CancelAll{}}), 0, 1, Bytes().u32(4).u64(0)},
      {"cancel-all", orders({item::CancelAll{{"BTC", "ETH-USD"}}}), 0, 1,
       Bytes().u32(4).u64(2).str("BTC").str("ETH-USD")},
      {"basket at level 4", orders({b}), 4, 1, basket4},
      {"on-fill", orders({on_fill(btc_limit(), {cancel})}), 0, 1,
       Bytes().u32(10).cat(btc_limit_body()).u64(1).cat(cancel_bytes)},
      {"mixed list keeps order", orders({cancel, btc_limit(), mod}), 0, 3,
       Bytes(cancel_bytes).cat(btc_limit_body()).cat(mod_bytes)},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(encode(r.action), frame(r.level, r.count, r.body));
    EXPECT_EQ(lowered_bytes(r.action, r.level), r.body.v);
  }
}

// ---------------------------------------------------------------------------
// Account and administrative payloads

TEST(AdminPayloads, ByteLayouts) {
  const Pubkey A = key_of(0xA1), B = key_of(0xB2), M = key_of(0x44);

  action::UpdateUserSettings settings;
  settings.max_leverage = {{"ETH", 5.0}, {"BTC", 10.0}, {"ETH", 3.0}};
  action::UpdateUserSettings byte_order;
  byte_order.max_leverage = {{"eth", 1.0}, {"ETH", 2.0}, {"ET", 3.0}, {"", 4.0}};

  LiquidatorConfig cfg;
  cfg.cross_exposure = 1.0;
  cfg.scoring_skew = 2.0;
  cfg.toxicity = 3.0;
  cfg.urgency_size_fraction = 0.25;
  cfg.sweep_sds = 1.5;
  auto inst = [](std::string sym, double base, uint64_t rampup) {
    return LiquidatorInstrumentConfig{std::move(sym), base, base + 1, base + 2, base + 3, base + 4, rampup,
                                      base + 5, base + 6, base + 7};
  };
  cfg.instruments = {inst("ETH", 10, 7), inst("BTC", 20, 8), inst("ETH", 30, 9)};
  auto inst_bytes = [](std::string_view sym, double base, uint64_t rampup) {
    return Bytes()
        .str(sym).f64(base).f64(base + 1).f64(base + 2).f64(base + 3).f64(base + 4)
        .u64(rampup).f64(base + 5).f64(base + 6).f64(base + 7);
  };

  action::MultisigPropose empty_proposal;
  empty_proposal.multisig = M;
  action::MultisigPropose two_limits;
  two_limits.multisig = M;
  two_limits.extra = 0x01020304;
  two_limits.actions.push_back(orders({btc_limit(), btc_limit()}));

  const struct {
    const char* name;
    Action action;
    uint64_t count;
    Bytes body;
  } rows[] = {
      {"oracle prices", Action(action::OraclePrices{{{1000, "BTC-USD", 50000.5}, {1001, "ETH-USD", 3000.25}}}), 2,
       Bytes().u32(11).u64(1000).str("BTC-USD").f64(50000.5).u32(11).u64(1001).str("ETH-USD").f64(3000.25)},
      {"pyth", Action(action::PythOracle{{{7, 3, 12345, -8}, {8, 4, 1, 300}}}), 1,
       Bytes().u32(13).u64(2).u64(7).u64(3).u64(12345).hex("F8 FF").u64(8).u64(4).u64(1).hex("2C 01")},
      {"empty pyth", Action(action::PythOracle{}), 1, Bytes().u32(13).u64(0)},
      {"faucet without amount", Action(action::Faucet{A, std::nullopt}), 1, Bytes().u32(16).key(A.bytes).u8(0)},
      {"faucet with amount", Action(action::Faucet{A, 100.0}), 1,
       Bytes().u32(16).key(A.bytes).u8(1).f64(100.0)},
      {"agent wallet delete", Action(action::AgentWalletCreation{A, true}), 1,
       Bytes().u32(17).key(A.bytes).u8(1)},
      {"user settings later pair wins", Action(settings), 1,
       Bytes().u32(18).u64(2).str("BTC").f64(10.0).str("ETH").f64(3.0)},
      {"user settings byte order", Action(byte_order), 1,
       Bytes().u32(18).u64(4).str("").f64(4.0).str("ET").f64(3.0).str("ETH").f64(2.0).str("eth").f64(1.0)},
      {"empty user settings", Action(action::UpdateUserSettings{}), 1, Bytes().u32(18).u64(0)},
      {"whitelist off", Action(action::WhitelistFaucet{B, false}), 1, Bytes().u32(19).key(B.bytes).u8(0)},
      {"sub-account with margin", Action(action::CreateSubAccount{"desk-1", 250.5}), 1,
       Bytes().u32(27).str("desk-1").u8(1).f64(250.5)},
      {"sub-account without margin", Action(action::CreateSubAccount{"desk-2", std::nullopt}), 1,
       Bytes().u32(27).str("desk-2").u8(0)},
      {"remove sub-account", Action(action::RemoveSubAccount{A}), 1, Bytes().u32(28).key(A.bytes)},
      {"rename sub-account", Action(action::RenameSubAccount{A, "alpha"}), 1,
       Bytes().u32(37).key(A.bytes).str("alpha")},
      {"transfer 12.5 external", Action(action::Transfer{{A, B, 12.5, TransferKind::External}}), 1,
       Bytes().u32(29).u32(1).key(A.bytes).key(B.bytes).hex("00 00 00 00 00 00 29 40")},
      {"transfer internal", Action(action::Transfer{{B, A, 1.0, TransferKind::Internal}}), 1,
       Bytes().u32(29).u32(0).key(B.bytes).key(A.bytes).f64(1.0)},
      {"create multisig", Action(action::CreateMultisig{{A, B}, 2, 3600, 86400}), 1,
       Bytes().u32(30).u64(2).key(A.bytes).key(B.bytes).u32(2).u32(3600).u32(86400)},
      {"empty proposal", Action(empty_proposal), 1, Bytes().u32(31).key(M.bytes).u64(0).u8(0)},
      {"proposal of two limits", Action(two_limits), 1,
       Bytes().u32(31).key(M.bytes).u64(2).cat(btc_limit_body().u8(0)).cat(btc_limit_body().u8(0))
           .u8(1).u32(0x01020304)},
      {"approve", Action(action::MultisigApprove{M, 7}), 1, Bytes().u32(32).key(M.bytes).u64(7)},
      {"reject", Action(action::MultisigReject{M, 8}), 1, Bytes().u32(33).key(M.bytes).u64(8)},
      {"cancel", Action(action::MultisigCancel{M, 9}), 1, Bytes().u32(34).key(M.bytes).u64(9)},
      {"execute", Action(action::MultisigExecute{M, 1ULL << 40}), 1, Bytes().u32(35).key(M.bytes).u64(1ULL << 40)},
      {"policy", Action(action::UpdateMultisigPolicy{M, {A}, 1, 0, 60}), 1,
       Bytes().u32(36).key(M.bytes).u64(1).key(A.bytes).u32(1).u32(0).u32(60)},
      {"approve fee 15", Action(action::ApproveCommissionFee{raw_commission(0xB2, 15)}), 1,
       Bytes().u32(40).key(B.bytes).u8(15)},
      {"approve fee 1", Action(action::ApproveCommissionFee{raw_commission(0xB2, 1)}), 1,
       Bytes().u32(40).key(B.bytes).u8(1)},
      {"revoke fee", Action(action::RevokeCommissionFee{B}), 1, Bytes().u32(41).key(B.bytes)},
      {"liquidator sorted stable", Action(action::UpdateLiquidatorConfig{cfg}), 1,
       Bytes().u32(43).f64(1.0).f64(2.0).f64(3.0).f64(0.25).f64(1.5).u64(3)
           .cat(inst_bytes("BTC", 20, 8)).cat(inst_bytes("ETH", 10, 7)).cat(inst_bytes("ETH", 30, 9))},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(message_level(r.action), 0);
    EXPECT_EQ(encode(r.action), frame(0, r.count, r.body));
    EXPECT_EQ(lowered_bytes(r.action, 0), r.body.v);
  }
}

TEST(AdminPayloads, ProposalNestedLevels) {
  const Pubkey M = key_of(0x44);
  auto propose = [&](std::vector<Action> inner) {
    action::MultisigPropose p;
    p.multisig = M;
    p.actions = std::move(inner);
    return Action(std::move(p));
  };
  auto bc_limit = btc_limit();
  bc_limit.builder_code = raw_commission(0x22, 5);
  auto bc_stop = stop_order("X", true, 1, 1);
  bc_stop.builder_code = raw_commission(0x22, 5);
  const Bytes stop_head = Bytes().u32(5).str("X").u8(1).u64(100000000).u64(100000000).u8(0).u8(0);

  const struct {
    const char* name;
    Action action;
    uint8_t level;
    Bytes body;
  } rows[] = {
      // Level 3 passes through: the inner limit writes its builder code.
      {"builder code", propose({orders({bc_limit})}), 3,
       Bytes().u32(31).key(M.bytes).u64(1).cat(btc_limit_body().u8(1).key(kBuilder.bytes).u8(5)).u8(0)},
      // A leaf makes the message level 4, but inner actions are lowered at
      // level 1, where a stop carries no trailing fields.
      {"leaf", propose({orders({bc_stop})}), 4, Bytes().u32(31).key(M.bytes).u64(1).cat(stop_head).u8(0)},
      // Inner actions of several kinds are concatenated in order.
      {"concatenated", propose({Action(action::RevokeCommissionFee{M}), orders({btc_limit()})}), 0,
       Bytes().u32(31).key(M.bytes).u64(2).u32(41).key(M.bytes).cat(btc_limit_body().u8(0)).u8(0)},
      {"proposal in proposal", propose({propose({orders({btc_limit()})})}), 0,
       Bytes().u32(31).key(M.bytes).u64(1).u32(31).key(M.bytes).u64(1).cat(btc_limit_body().u8(0)).u8(0).u8(0)},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(encode(r.action), frame(r.level, 1, r.body));
  }
}

// ---------------------------------------------------------------------------
// Refusals leave the buffer untouched

TEST(WireErrors, RefusalsLeaveBufferUntouched) {
  auto limit_slip = btc_limit();
  limit_slip.slippage = 0.01;
  auto limit_trigger = btc_limit();
  limit_trigger.order_type = TriggerType{false, 100.0};
  auto fee0 = btc_limit();
  fee0.builder_code = raw_commission(0x22, 0);
  auto fee16_stop = stop_order("X", true, 1, 1);
  fee16_stop.builder_code = raw_commission(0x22, 16);
  action::MultisigPropose bad_proposal;
  bad_proposal.actions = {orders({btc_limit()}), Action(action::LegacyWithdrawal2{})};

  const std::string kFee = "builder-code fee must be 1..=15 bps";
  const std::string kTrigger = "trigger orders are not supported by FYRN API; use market";
  const std::string kOnFill = "on-fill trigger must be a market or limit order";
  const struct {
    const char* name;
    Action action;
    ErrorKind kind;
    std::string text;
  } rows[] = {
      {"empty orders", orders({}), ErrorKind::EmptyOrders, ""},
      {"empty oracle prices", Action(action::OraclePrices{}), ErrorKind::EmptyOrders, ""},
      {"limit with slippage", orders({btc_limit(), limit_slip}), ErrorKind::InvalidOrder,
       "slippage is only supported on market orders"},
      {"non-market trigger", orders({limit_trigger}), ErrorKind::InvalidOrder, kTrigger},
      {"non-market on-fill trigger", orders({on_fill(limit_trigger, {})}), ErrorKind::InvalidOrder, kTrigger},
      {"non-market basket child", orders({basket({btc_limit(), limit_trigger})}), ErrorKind::InvalidOrder,
       kTrigger},
      {"stop as on-fill trigger", orders({on_fill(stop_order("X", true, 1, 1), {})}), ErrorKind::InvalidOrder,
       kOnFill},
      {"basket as on-fill trigger", orders({on_fill(basket({}), {})}), ErrorKind::InvalidOrder, kOnFill},
      {"empty on-fill trigger box", orders({item::OnFill{}}), ErrorKind::InvalidOrder, kOnFill},
      {"bad on-fill child", orders({on_fill(btc_limit(), {fee0})}), ErrorKind::InvalidOrder, kFee},
      {"fee 0", orders({fee0}), ErrorKind::InvalidOrder, kFee},
      {"fee 16 on stop", orders({fee16_stop}), ErrorKind::InvalidOrder, kFee},
      {"approve fee 0", Action(action::ApproveCommissionFee{raw_commission(1, 0)}), ErrorKind::InvalidOrder, kFee},
      {"approve fee 16", Action(action::ApproveCommissionFee{raw_commission(1, 16)}), ErrorKind::InvalidOrder,
       kFee},
      {"legacy withdrawal 1", Action(action::LegacyWithdrawal1{}), ErrorKind::LegacyWithdrawal, ""},
      {"legacy withdrawal 2", Action(action::LegacyWithdrawal2{}), ErrorKind::LegacyWithdrawal, ""},
      {"legacy inside proposal", Action(bad_proposal), ErrorKind::LegacyWithdrawal, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> buffer = {0xDE, 0xAD, 0xBE, 0xEF};
    buffer.reserve(64);
    const auto* data = buffer.data();
    Status s = serialize_for_sdk_signing(r.action, SignatureDomain::Mainnet, kNonce, kAccount, buffer);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), r.kind);
    EXPECT_EQ(s.error().text(), r.text);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(buffer.data(), data);
    auto lowered = action_to_tx_actions(r.action, message_level(r.action));
    if (r.kind == ErrorKind::EmptyOrders) {
      ASSERT_TRUE(lowered.ok());
      EXPECT_TRUE(lowered->empty());
    } else {
      ASSERT_FALSE(lowered.ok());
      EXPECT_EQ(lowered.error(), s.error());
    }
  }
  EXPECT_EQ(Error::empty_orders().display(), "orders array cannot be empty");
}

TEST(WireErrors, CommissionTryFrom) {
  for (int fee = 0; fee <= 255; ++fee) {
    auto c = TxCommission::try_from(raw_commission(0x22, static_cast<uint8_t>(fee)));
    EXPECT_EQ(c.ok(), fee >= 1 && fee <= 15) << fee;
    if (c.ok()) {
      EXPECT_EQ(c->fee, fee);
      EXPECT_EQ(c->to, kBuilder);
    } else {
      EXPECT_EQ(c.error().display(), "invalid order: builder-code fee must be 1..=15 bps");
    }
  }
}

// ---------------------------------------------------------------------------
// Lowering API and buffer reuse

static_assert(static_cast<uint32_t>(TxTag::LiquidatorConfig) == 43);
static_assert(static_cast<uint32_t>(TxTag::Reserved54) + 1 == kTxTagCount);

TEST(WireLowering, BufferIsReusedAndReplaced) {
  std::vector<uint8_t> buffer;
  buffer.reserve(512);
  const auto* data = buffer.data();
  auto big = orders({btc_limit(), btc_limit(), btc_limit()});
  ASSERT_TRUE(serialize_for_sdk_signing(big, SignatureDomain::Devnet, kNonce, kAccount, buffer).ok());
  ASSERT_TRUE(serialize_for_sdk_signing(orders({btc_limit()}), SignatureDomain::Mainnet, kNonce, kAccount, buffer).ok());
  EXPECT_EQ(buffer, encode(orders({btc_limit()})));
  EXPECT_EQ(buffer.data(), data);
  EXPECT_EQ(buffer.capacity(), 512u);
}

// Counting allocations: one leaf-order message into a warm buffer must not
// touch the heap.
namespace {
thread_local bool g_counting = false;
thread_local size_t g_allocations = 0;
}  // namespace

// GCC pairs the inlined std::allocator calls with these replacements and
// misreports malloc/free as mismatched.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  if (g_counting) ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

TEST(WireLowering, OneOrderMessageDoesNotAllocate) {
  auto bc_market = market_order("BTC-USD", true, 0.25);
  bc_market.builder_code = raw_commission(0x22, 3);
  bc_market.slippage = 0.01;
  const Action cases[] = {orders({btc_limit()}), orders({bc_market}), orders({stop_order("X", true, 1, 2)}),
                          Action(action::Transfer{})};
  // The counter itself must see a heap allocation.
  g_allocations = 0;
  g_counting = true;
  void* probe = ::operator new(16);
  g_counting = false;
  ::operator delete(probe);
  ASSERT_EQ(g_allocations, 1u);

  std::vector<uint8_t> buffer;
  buffer.reserve(512);
  for (const auto& a : cases) {
    g_allocations = 0;
    g_counting = true;
    Status s = serialize_for_sdk_signing(a, SignatureDomain::Mainnet, kNonce, kAccount, buffer);
    g_counting = false;
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(g_allocations, 0u);
  }
}
