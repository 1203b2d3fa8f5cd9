// The signing message. Expected bytes come from the worked examples or from the
// field-by-field builder in wire_test_util.hpp, never from the encoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>

#include "fyrn/wire.hpp"
#include "alloc_hooks.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;
using namespace wire_test;

namespace {

constexpr uint64_t kNonce = 1700000000000000000ULL;
const Pubkey kAccount = key_of(0x11), kBuilder = key_of(0x22), kM = key_of(0x44);
const Bytes K = Bytes().u8(1).key(kBuilder).u8(5);  // a present builder code of fee 5

// frame wraps the expected action bytes into a whole message.
std::vector<uint8_t> frame(uint8_t level, uint64_t count, const Bytes& actions) {
  Bytes b;
  if (level != 0) b.fill(0xFF, 8).hex("66 79 72 6e 2d 61 63 74 69 6f 6e 73").u8(level);  // "fyrn-actions"
  return b.u64(count).cat(actions).u64(kNonce).key(kAccount).u8(1).v;  // mainnet
}

std::vector<uint8_t> encode(const Action& a) {
  std::vector<uint8_t> buf;
  Status s = serialize_for_sdk_signing(a, SignatureDomain::Mainnet, kNonce, kAccount, buf);
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

// The limit order of the worked examples.
item::Order btc_limit() { return limit_order("BTC-USD", true, 50000.5, 0.25); }
Bytes btc_limit_body() {
  return Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(0).u8(0).u8(0);
}

OrderItem with_bc(OrderItem it, uint8_t fee = 5) {
  std::visit([&](auto& v) {
    if constexpr (requires { v.builder_code; }) v.builder_code = raw_commission(0x22, fee);
  }, it.v);
  return it;
}
item::Order market_slip(double slippage = 0.01) {
  auto m = market_order("SOL-USD", true, 1.0);
  m.slippage = slippage;
  return m;
}
item::OnFill on_fill(OrderItem trigger, std::vector<OrderItem> children) {
  return item::OnFill{Box<OrderItem>(std::move(trigger)), std::move(children)};
}
item::TriggerBasket basket(std::vector<OrderItem> children) {
  return item::TriggerBasket{"BTC-USD", true, 100.0, std::move(children)};
}
Action propose(std::vector<Action> inner) { return action::MultisigPropose{kM, std::move(inner), std::nullopt}; }
const item::Stop kStopX = stop_order("X", true, 1, 1);
const Bytes kStopXHead = Bytes().u32(5).str("X").u8(1).u64(100000000).u64(100000000).u8(0).u8(0);

}  // namespace

TEST(WireMessage, WorkedExamplesAndNesting) {
  const auto level0 = Bytes()
                          .hex("01 00 00 00 00 00 00 00  01 00 00 00")
                          .hex("07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44  01")
                          .hex("80 40 34 2a 8c 04 00 00  40 78 7d 01 00 00 00 00")
                          .hex("00 00 00 00  00  00  00 00 2a 36 fe 9c 97 17")
                          .fill(0x11, 32)
                          .u8(0x01)
                          .v;
  ASSERT_EQ(level0.size(), 91u);
  auto bc = btc_limit();
  bc.builder_code = *Commission::make(kBuilder, 5);
  auto slip = market_order("BTC-USD", true, 0.25);
  slip.slippage = 0.005;
  const Bytes market_head = Bytes().u32(0).str("BTC-USD").u8(1).u64(25000000).u8(0).u8(0);
  item::Cancel cancel{"ETH-USD", hash_of(0x66)};
  item::Modify mod{"ETH-USD", hash_of(0x55), 1.5};
  const Bytes cancel_bytes = Bytes().u32(3).str("ETH-USD").key(hash_of(0x66));
  const struct {
    const char* name;
    Action action;
    std::vector<uint8_t> expected;
  } rows[] = {
      {"level 0 limit", orders({btc_limit()}), level0},
      {"builder code: level 3", orders({bc}), frame(3, 1, btc_limit_body().cat(K))},
      {"market slippage: level 2", orders({slip}), frame(2, 1, Bytes(market_head).u8(0).hex("01 20 a1 07 00 00 00 00 00"))},
      // At level 4 a market order ends after iso (its slippage is not written).
      {"market beside a stop: level 4", orders({slip, stop_order("ETH-USD", false, 1.0, 2000.0)}),
       frame(4, 2, Bytes(market_head).u32(5).str("ETH-USD").u8(0).u64(100000000).u64(200000000000ULL).fill(0, 4))},
      {"empty cancel-all", orders({item::CancelAll{}}), frame(0, 1, Bytes().u32(4).u64(0))},
      {"cancel-all, modify, cancel in order", orders({item::CancelAll{{"BTC", "ETH-USD"}}, mod, cancel}),
       frame(0, 3, Bytes().u32(4).u64(2).str("BTC").str("ETH-USD").u32(2).key(hash_of(0x55)).str("ETH-USD").f64(1.5)
                       .cat(cancel_bytes))},
      {"basket at level 4", orders({basket({btc_limit(), kStopX})}),
       frame(4, 1, Bytes().u32(8).str("BTC-USD").u8(1).u64(10000000000ULL).u64(2).cat(btc_limit_body().u8(0))
                       .cat(kStopXHead).u8(0).u8(0))},
      {"on-fill", orders({on_fill(btc_limit(), {cancel})}),
       frame(0, 1, Bytes().u32(10).cat(btc_limit_body()).u64(1).cat(cancel_bytes))},
      // A proposal at message level 0 or 4 lowers its orders at level 1,
      // where a limit or market order always has its commission option byte.
      {"proposal: level 1 inside", propose({orders({btc_limit(), market_order("ETH-USD", false, 2.0)})}),
       frame(0, 1, Bytes().u32(31).key(kM).u64(2).cat(btc_limit_body().u8(0))
                       .u32(0).str("ETH-USD").u8(0).u64(200000000).fill(0, 4))},
      {"proposal with a stop: level 4, stop at level 1", propose({orders({with_bc(kStopX)})}),
       frame(4, 1, Bytes().u32(31).key(kM).u64(1).cat(kStopXHead).u8(0))},
      {"proposal passes level 3 through", propose({orders({with_bc(btc_limit())})}),
       frame(3, 1, Bytes().u32(31).key(kM).u64(1).cat(btc_limit_body().cat(K)).u8(0))},
      {"proposal concatenates, recurses", propose({Action(action::RevokeCommissionFee{kM}), propose({orders({btc_limit()})})}),
       frame(0, 1, Bytes().u32(31).key(kM).u64(2).u32(41).key(kM).u32(31).key(kM).u64(1).cat(btc_limit_body().u8(0))
                       .u8(0).u8(0))},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(encode(r.action), r.expected);
    // The public lowering writes the same action bytes as the message writer.
    const uint8_t level = message_level(r.action);
    auto txs = action_to_tx_actions(r.action, level);
    ASSERT_TRUE(txs.ok());
    std::vector<uint8_t> lowered;
    for (const auto& tx : *txs) write_tx_action(lowered, tx);
    const size_t head = (level ? kMessageHeaderLen : 0) + 8;
    EXPECT_EQ(lowered, std::vector<uint8_t>(r.expected.begin() + head, r.expected.end() - kMessageSuffixLen));
  }
}

// The oracle rounds with libm (std::round is exact on doubles); the encoder
// does not call it. Random bit patterns bring NaN, infinities, subnormals,
// negatives and values past 2^64 units.
uint64_t round_and_clamp(double p) {
  if (!(p > 0.0)) return 0;
  const double r = std::round(p);
  return r >= 0x1p64 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(r);
}

TEST(FixedPoint, MatchesExactRoundingOfTheProduct) {
  std::mt19937_64 rng(20240521);
  std::uniform_real_distribution<double> scale(-12.0, 13.0);
  for (int i = 0; i < 200000; ++i) {
    double v;
    switch (i % 4) {
      case 0: {  // any bit pattern: NaN, infinities, subnormals, negatives
        const uint64_t bits = rng();
        std::memcpy(&v, &bits, 8);
        break;
      }
      case 1: v = std::pow(10.0, scale(rng)) * (rng() % 2 ? 1.0 : -0.001); break;
      case 2: v = static_cast<double>(rng() % 100000000000ULL) / 1e9; break;  // few decimals
      default: v = (static_cast<double>(rng() % 10000000) + 0.5) / 1e8; break;  // near-ties
    }
    ASSERT_EQ(to_fixed_point(v), round_and_clamp(v * 1e8)) << "value " << v;
  }
}

// The level: 4 for any conditional leaf, else 3 for any builder code, else 2
// for an Order's own slippage, else 0; nested items and proposals count.
TEST(WireMessage, Levels) {
  auto trigger_bc = btc_limit();
  trigger_bc.order_type = TriggerType{false, 5.0};
  auto stop_slip = kStopX;
  stop_slip.slippage = 0.02;
  const struct {
    Action action;
    uint8_t level;
    bool bc, slip;
  } rows[] = {
      {orders({btc_limit(), item::Cancel{}, item::CancelAll{}, item::Modify{}}), 0, false, false},
      {orders({btc_limit(), market_slip()}), 2, false, true},
      {orders({market_slip(), with_bc(btc_limit())}), 3, true, true},
      {orders({with_bc(trigger_bc)}), 3, true, false},  // any Order's builder code counts
      {orders({stop_slip}), 4, false, false},           // a conditional order's slippage does not
      {orders({with_bc(btc_limit()), item::TakeProfit{}}), 4, true, false},
      {orders({item::Range{}}), 4, false, false},
      {orders({with_bc(item::TrailingStop{})}), 4, true, false},
      {orders({basket({basket({with_bc(btc_limit())})})}), 3, true, false},
      {orders({on_fill(market_slip(), {})}), 2, false, true},
      {orders({on_fill(btc_limit(), {basket({item::TakeProfit{}})})}), 4, false, false},
      {orders({on_fill(on_fill(with_bc(btc_limit()), {}), {})}), 3, true, false},
      {propose({Action(action::Faucet{}), orders({market_slip()})}), 2, false, true},
      {propose({propose({orders({kStopX})})}), 4, false, false},
      {Action(action::Transfer{}), 0, false, false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& r = rows[i];
    EXPECT_EQ(message_level(r.action), r.level) << i;
    EXPECT_EQ(action_contains_leaf_conditional(r.action), r.level == 4) << i;
    EXPECT_EQ(action_has_builder_code(r.action), r.bc) << i;
    EXPECT_EQ(action_has_explicit_slippage(r.action), r.slip) << i;
  }
  EXPECT_TRUE(order_item_contains_leaf_conditional(on_fill(btc_limit(), {kStopX})));
  EXPECT_TRUE(order_item_has_builder_code(basket({with_bc(btc_limit())})));
  EXPECT_FALSE(order_item_has_explicit_slippage(stop_slip));
}

// Each order payload at every level: the fixed head, then the level's tail.
TEST(OrderPayloads, TrailingFieldsByLevel) {
  auto market = market_order("BTC-USD", true, 0.25);
  auto market_x = std::get<item::Order>(with_bc(market).v);
  market_x.slippage = 0.01;
  const Bytes market_head = Bytes().u32(0).str("BTC-USD").u8(1).u64(25000000).u8(0).u8(0);
  auto limit = limit_order("BTC-USD", true, 50000.5, 0.25, Tif::ALO);
  limit.reduce_only = true;
  const Bytes limit_head = Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(2).u8(1).u8(0);

  const item::ConditionalFields stop{"ETH-USD", false, 2.0, 1500.0, 1490.0, true, std::nullopt, std::nullopt};
  const item::ConditionalFields stop_x{"ETH-USD", false, 2.0, 1500.0, 1490.0, true, raw_commission(0x22, 5), 0.01};
  const Bytes stop_tail = Bytes().str("ETH-USD").u8(0).u64(200000000).u64(150000000000ULL).u8(1).u64(149000000000ULL).u8(1);
  const item::Range range{"SOL", true, 3.0, 10.0, 20.0, NAN, 21.5, false, std::nullopt, std::nullopt, std::nullopt};
  const item::Range range_x{"SOL", true, 3.0, 10.0, 20.0, NAN, 21.5, false, raw_commission(0x22, 5), 0.01, 0.02};
  const Bytes range_head = Bytes().u32(7).str("SOL").u8(1).u64(300000000).u64(1000000000).u64(2000000000)
                               .u8(0).u8(1).u64(2150000000).u8(0);  // lmin NaN, lmax, iso
  const item::TrailingStop trail{"BTC", false, 0.5, 150, 10, 99.0, false, std::nullopt, std::nullopt};
  const item::TrailingStop trail_x{"BTC", false, 0.5, 150, 10, 99.0, false, raw_commission(0x22, 5), 0.01};
  const Bytes trail_head = Bytes().u32(9).str("BTC").u8(0).u64(50000000).u32(150).u32(10).u8(1).u64(9900000000ULL).u8(0);

  const Bytes none, z = Bytes().u8(0), zz = Bytes().u8(0).u8(0), ks = Bytes(K).u8(1).u64(1000000);
  const struct {
    const char* name;
    OrderItem item;
    Bytes head;
    Bytes tails[5];  // by level 0..4
  } rows[] = {
      {"market", market, market_head, {none, z, zz, zz, none}},
      {"market+bc+slip", market_x, market_head, {K, K, ks, ks, K}},
      {"limit", limit, limit_head, {none, z, z, z, z}},
      {"limit+bc", with_bc(limit), limit_head, {K, K, K, K, K}},
      {"stop", item::Stop{stop}, Bytes().u32(5).cat(stop_tail), {none, none, z, z, zz}},
      {"stop+bc+slip", item::Stop{stop_x}, Bytes().u32(5).cat(stop_tail), {none, none, K, K, ks}},
      {"take profit+bc+slip", item::TakeProfit{stop_x}, Bytes().u32(6).cat(stop_tail), {none, none, K, K, ks}},
      {"range", range, range_head, {none, none, z, z, Bytes().fill(0, 3)}},
      {"range+bc+slips", range_x, range_head, {none, none, K, K, Bytes(ks).u8(1).u64(2000000)}},
      {"trailing", trail, trail_head, {none, none, z, z, zz}},
      {"trailing+bc+slip", trail_x, trail_head, {none, none, K, K, ks}},
  };
  for (const auto& r : rows) {
    for (uint8_t level = 0; level <= 4; ++level) {
      SCOPED_TRACE(std::string(r.name) + " at level " + std::to_string(level));
      EXPECT_EQ(encode_item(r.item, level), Bytes(r.head).cat(r.tails[level]).v);
    }
  }
  // A NaN stop limit is absent; a zero one is present.
  auto zero_stop = kStopX;
  zero_stop.limit_price = 0.0;
  EXPECT_EQ(encode_item(kStopX, 0), Bytes(kStopXHead).v);
  EXPECT_EQ(encode_item(zero_stop, 0), Bytes().u32(5).str("X").u8(1).u64(100000000).u64(100000000).u8(1).u64(0).u8(0).v);
}

TEST(AdminPayloads, ByteLayouts) {
  const Pubkey A = key_of(0xA1), B = key_of(0xB2);
  action::UpdateUserSettings settings{{{"ETH", 5.0}, {"BTC", 10.0}, {"ETH", 3.0}, {"eth", 1.0}, {"ET", 2.0}, {"", 4.0}}};
  auto inst = [](std::string sym, double b, uint64_t ramp) {
    return LiquidatorInstrumentConfig{std::move(sym), b, b + 1, b + 2, b + 3, b + 4, ramp, b + 5, b + 6, b + 7};
  };
  auto inst_bytes = [](std::string_view sym, double b, uint64_t ramp) {
    return Bytes().str(sym).f64(b).f64(b + 1).f64(b + 2).f64(b + 3).f64(b + 4).u64(ramp).f64(b + 5).f64(b + 6).f64(b + 7);
  };
  LiquidatorConfig cfg{{inst("ETH", 10, 7), inst("BTC", 20, 8), inst("ETH", 30, 9)}, 1.0, 2.0, 3.0, 0.25, 1.5};
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
      {"faucet without amount", Action(action::Faucet{A, std::nullopt}), 1, Bytes().u32(16).key(A).u8(0)},
      {"faucet with amount", Action(action::Faucet{A, 100.0}), 1, Bytes().u32(16).key(A).u8(1).f64(100.0)},
      {"agent wallet delete", Action(action::AgentWalletCreation{A, true}), 1, Bytes().u32(17).key(A).u8(1)},
      // Later pairs win; keys in byte order (prefix first, upper case first).
      {"user settings", Action(settings), 1,
       Bytes().u32(18).u64(5).str("").f64(4.0).str("BTC").f64(10.0).str("ET").f64(2.0).str("ETH").f64(3.0).str("eth").f64(1.0)},
      {"whitelist off", Action(action::WhitelistFaucet{B, false}), 1, Bytes().u32(19).key(B).u8(0)},
      {"sub-account", Action(action::CreateSubAccount{"desk-1", 250.5}), 1, Bytes().u32(27).str("desk-1").u8(1).f64(250.5)},
      {"remove sub-account", Action(action::RemoveSubAccount{A}), 1, Bytes().u32(28).key(A)},
      {"rename sub-account", Action(action::RenameSubAccount{A, "alpha"}), 1, Bytes().u32(37).key(A).str("alpha")},
      {"transfer 12.5 external", Action(action::Transfer{{A, B, 12.5, TransferKind::External}}), 1,
       Bytes().u32(29).u32(1).key(A).key(B).hex("00 00 00 00 00 00 29 40")},
      {"create multisig", Action(action::CreateMultisig{{A, B}, 2, 3600, 86400}), 1,
       Bytes().u32(30).u64(2).key(A).key(B).u32(2).u32(3600).u32(86400)},
      {"empty proposal", propose({}), 1, Bytes().u32(31).key(kM).u64(0).u8(0)},
      {"proposal of two limits", Action(action::MultisigPropose{kM, {orders({btc_limit(), btc_limit()})}, 0x01020304}), 1,
       Bytes().u32(31).key(kM).u64(2).cat(btc_limit_body().u8(0)).cat(btc_limit_body().u8(0)).u8(1).u32(0x01020304)},
      {"approve", Action(action::MultisigApprove{kM, 7}), 1, Bytes().u32(32).key(kM).u64(7)},
      {"reject", Action(action::MultisigReject{kM, 8}), 1, Bytes().u32(33).key(kM).u64(8)},
      {"cancel", Action(action::MultisigCancel{kM, 9}), 1, Bytes().u32(34).key(kM).u64(9)},
      {"execute", Action(action::MultisigExecute{kM, 1ULL << 40}), 1, Bytes().u32(35).key(kM).u64(1ULL << 40)},
      {"policy", Action(action::UpdateMultisigPolicy{kM, {A}, 1, 0, 60}), 1,
       Bytes().u32(36).key(kM).u64(1).key(A).u32(1).u32(0).u32(60)},
      {"approve fee 15", Action(action::ApproveCommissionFee{raw_commission(0xB2, 15)}), 1, Bytes().u32(40).key(B).u8(15)},
      {"revoke fee", Action(action::RevokeCommissionFee{B}), 1, Bytes().u32(41).key(B)},
      {"liquidator sorted stable", Action(action::UpdateLiquidatorConfig{cfg}), 1,
       Bytes().u32(43).f64(1.0).f64(2.0).f64(3.0).f64(0.25).f64(1.5).u64(3)
           .cat(inst_bytes("BTC", 20, 8)).cat(inst_bytes("ETH", 10, 7)).cat(inst_bytes("ETH", 30, 9))},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(encode(r.action), frame(0, r.count, r.body));
  }
}

TEST(WireErrors, RefusalsLeaveBufferUntouched) {
  auto limit_slip = btc_limit();
  limit_slip.slippage = 0.01;
  auto limit_trigger = btc_limit();
  limit_trigger.order_type = TriggerType{false, 100.0};
  const std::string kFee = "builder-code fee must be 1..=15 bps";
  const std::string kTrigger = "trigger orders are not supported by FYRN API; use market";
  const std::string kOnFill = "on-fill trigger must be a market or limit order";
  const struct {
    Action action;
    ErrorKind kind;
    std::string text;
  } rows[] = {
      {orders({}), ErrorKind::EmptyOrders, ""},
      {Action(action::OraclePrices{}), ErrorKind::EmptyOrders, ""},
      {orders({btc_limit(), limit_slip}), ErrorKind::InvalidOrder, "slippage is only supported on market orders"},
      {orders({limit_trigger}), ErrorKind::InvalidOrder, kTrigger},
      {orders({on_fill(limit_trigger, {})}), ErrorKind::InvalidOrder, kTrigger},
      {orders({basket({btc_limit(), limit_trigger})}), ErrorKind::InvalidOrder, kTrigger},
      {orders({on_fill(kStopX, {})}), ErrorKind::InvalidOrder, kOnFill},
      {orders({item::OnFill{}}), ErrorKind::InvalidOrder, kOnFill},  // empty trigger box
      {orders({on_fill(btc_limit(), {with_bc(btc_limit(), 0)})}), ErrorKind::InvalidOrder, kFee},
      {orders({with_bc(kStopX, 16)}), ErrorKind::InvalidOrder, kFee},
      {Action(action::ApproveCommissionFee{raw_commission(1, 0)}), ErrorKind::InvalidOrder, kFee},
      {Action(action::LegacyWithdrawal1{}), ErrorKind::LegacyWithdrawal, ""},
      {Action(action::LegacyWithdrawal2{}), ErrorKind::LegacyWithdrawal, ""},
      {propose({orders({btc_limit()}), Action(action::LegacyWithdrawal2{})}), ErrorKind::LegacyWithdrawal, ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> buffer = {0xDE, 0xAD, 0xBE, 0xEF};
    Status s = serialize_for_sdk_signing(rows[i].action, SignatureDomain::Mainnet, kNonce, kAccount, buffer);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind(), rows[i].kind);
    EXPECT_EQ(s.error().text(), rows[i].text);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
  }
}

// Counting allocations: one leaf-order message into a warm buffer must not
// touch the heap, and the buffer keeps its storage.

TEST(WireBuffer, ReusedWithoutAllocating) {
  alloc_hooks::state().allocations = 0;  // the counter itself must see a heap allocation
  alloc_hooks::state().counting = true;
  void* probe = ::operator new(16);
  alloc_hooks::state().counting = false;
  ::operator delete(probe);
  ASSERT_EQ(alloc_hooks::state().allocations, 1u);

  std::vector<uint8_t> buffer;
  buffer.reserve(512);
  const auto* data = buffer.data();
  ASSERT_TRUE(serialize_for_sdk_signing(orders({btc_limit(), btc_limit()}), SignatureDomain::Devnet, kNonce, kAccount,
                                        buffer).ok());
  const Action cases[] = {orders({with_bc(market_slip(), 3)}), orders({kStopX}), Action(action::Transfer{}),
                          orders({btc_limit()})};
  for (const auto& a : cases) {
    alloc_hooks::state().allocations = 0;
    alloc_hooks::state().counting = true;
    Status s = serialize_for_sdk_signing(a, SignatureDomain::Mainnet, kNonce, kAccount, buffer);
    alloc_hooks::state().counting = false;
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(alloc_hooks::state().allocations, 0u);
  }
  EXPECT_EQ(buffer, frame(0, 1, btc_limit_body()));  // the last message replaced the earlier ones
  EXPECT_EQ(buffer.data(), data);
}
