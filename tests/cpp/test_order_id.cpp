// Order identifiers. Oracles: the worked example, and a one-shot SHA-256 over a
// preimage assembled by the test's own byte builder.
#include <gtest/gtest.h>

#include <sodium.h>

#include "fyrn/order_id.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;
using namespace wire_test;

namespace {

constexpr uint64_t kNonce = 1700000000000000000ULL;
const Pubkey kAccount = key_of(0x11);

Hash oracle_id(uint32_t seqno, const Bytes& encoding, const Pubkey& account = kAccount, uint64_t nonce = kNonce) {
  const auto pre = Bytes().u32(seqno).cat(encoding).key(account).u64(nonce).v;
  Hash h;
  crypto_hash_sha256(h.bytes.data(), pre.data(), pre.size());
  return h;
}

item::Order btc_limit() { return limit_order("BTC-USD", true, 50000.5, 0.25); }

const Bytes kLimitEncoding = Bytes().hex(
    "01 00 00 00 07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44 01 80 40 34 2a 8c 04 00 00 "
    "40 78 7d 01 00 00 00 00 00 00 00 00 00 00");

}  // namespace

TEST(OrderId, WorkedExample) {
  ASSERT_EQ(kLimitEncoding.v.size(), 42u);
  std::vector<uint8_t> scratch;
  scratch.reserve(96);
  const std::pair<uint32_t, const char*> rows[] = {{0, "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"},
                                                   {1, "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"}};
  for (const auto& [seqno, b58] : rows) {
    auto id = compute_order_item_id_with_seqno(btc_limit(), seqno, kNonce, kAccount, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(scratch, kLimitEncoding.v);
    EXPECT_EQ(id->to_base58(), b58);
  }
  EXPECT_EQ(single_order_id(btc_limit(), kNonce, kAccount, scratch), "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG");
  EXPECT_EQ(scratch.capacity(), 96u);
}

TEST(OrderId, EncodingsAndWhatEntersThePreimage) {
  auto with = [](auto change) {
    item::Order o = btc_limit();
    change(o);
    return o;
  };
  auto market = market_order("ETH-USD", false, 1.5);
  market.reduce_only = true;
  market.price = 123.0;  // not part of a market order's encoding
  market.order_type = TriggerType{true, 99.0};
  auto market_slip = market;
  market_slip.slippage = 0.005;
  market_slip.builder_code = raw_commission(0x22, 9);
  const Bytes market_body = Bytes().u32(0).str("ETH-USD").u8(0).u64(150000000).u8(1).u8(0);
  const Bytes alo_iso = Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(2).u8(0).u8(1);

  const struct {
    const char* name;
    item::Order order;
    uint32_t seqno;
    uint64_t nonce;
    Pubkey account;
    Bytes encoding;
  } rows[] = {
      // Neither builder code, client id nor a (refused) limit slippage enters.
      {"builder code, client id, slippage", with([](auto& o) {
         o.builder_code = raw_commission(0x22, 5);
         o.client_id = hash_of(0x77);
         o.slippage = 0.01;
       }), 0, kNonce, kAccount, kLimitEncoding},
      {"nonce", btc_limit(), 0, kNonce + 1, kAccount, kLimitEncoding},
      {"account", btc_limit(), 0, kNonce, key_of(0x12), kLimitEncoding},
      {"position", btc_limit(), 7, kNonce, kAccount, kLimitEncoding},
      {"ALO, iso", with([](auto& o) { o.order_type = LimitType{Tif::ALO}; o.iso = true; }), 0, kNonce, kAccount, alo_iso},
      {"market without slippage", market, 5, kNonce, kAccount, market_body},
      {"market with slippage", market_slip, 5, kNonce, kAccount, Bytes(market_body).u8(1).u64(500000)},
  };
  std::vector<uint8_t> scratch = {1, 2, 3};  // stale contents are cleared
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto id = compute_order_item_id_with_seqno(r.order, r.seqno, r.nonce, r.account, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(scratch, r.encoding.v);
    EXPECT_EQ(*id, oracle_id(r.seqno, r.encoding, r.account, r.nonce));
  }
}

TEST(OrderId, ItemsWithoutIdentifierAndBatchPositions) {
  auto limit_trigger = btc_limit();
  limit_trigger.order_type = TriggerType{false, 100.0};
  item::TriggerBasket basket;
  basket.actions = {btc_limit()};
  item::OnFill on_fill;
  on_fill.trigger = Box<OrderItem>(btc_limit());
  const OrderItem none[] = {limit_trigger, item::Modify{"BTC-USD", hash_of(1), 1.0}, item::Cancel{"BTC-USD", hash_of(1)},
                            item::CancelAll{}, stop_order("BTC-USD", true, 1, 1), item::TakeProfit{}, item::Range{},
                            basket, on_fill, item::TrailingStop{}};
  std::vector<uint8_t> scratch;
  for (const auto& it : none) {
    EXPECT_FALSE(compute_order_item_id_with_seqno(it, 0, kNonce, kAccount, scratch).has_value());
    EXPECT_FALSE(single_order_id(it, kNonce, kAccount, scratch).has_value());
  }
  // In [cancel, limit, limit] the limits take sequence numbers 1 and 2.
  auto second = limit_order("ETH-USD", false, 3000.0, 2.0, Tif::IOC);
  const Bytes enc2 = Bytes().u32(1).str("ETH-USD").u8(0).u64(300000000000ULL).u64(200000000).u32(1).u8(0).u8(0);
  const auto ids = batch_order_ids({item::Cancel{"BTC-USD", hash_of(9)}, btc_limit(), second}, kNonce, kAccount, scratch);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx");  // the worked example at position 1
  EXPECT_EQ(ids[1], oracle_id(2, enc2).to_base58());
  EXPECT_TRUE(batch_order_ids({item::CancelAll{}, none[0]}, kNonce, kAccount, scratch).empty());
}
