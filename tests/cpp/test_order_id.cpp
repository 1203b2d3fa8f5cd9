#include <gtest/gtest.h>

#include <sodium.h>

#include "fyrn/base58.hpp"
#include "fyrn/order_id.hpp"
#include "wire_test_util.hpp"

using namespace fyrn;
using wire_test::Bytes;
using wire_test::hash_of;
using wire_test::key_of;
using wire_test::limit_order;
using wire_test::market_order;
using wire_test::raw_commission;
using wire_test::stop_order;

namespace {

constexpr uint64_t kNonce = 1700000000000000000ULL;
const Pubkey kAccount = key_of(0x11);

std::string hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

// oracle_id hashes the concatenated preimage in one call.
Hash oracle_id(uint32_t seqno, const Bytes& encoding, const Pubkey& account, uint64_t nonce) {
  const auto pre = Bytes().u32(seqno).cat(encoding).key(account.bytes).u64(nonce).v;
  Hash h;
  crypto_hash_sha256(h.bytes.data(), pre.data(), pre.size());
  return h;
}

item::Order btc_limit() { return limit_order("BTC-USD", true, 50000.5, 0.25); }

const char* kLimitEncodingHex =
    "01 00 00 00 07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44 01 80 40 34 2a 8c 04 00 00 "
    "40 78 7d 01 00 00 00 00 00 00 00 00 00 00";

}  // namespace

TEST(OrderId, WorkedExample) {
  std::vector<uint8_t> scratch;
  scratch.reserve(96);
  const struct {
    uint32_t seqno;
    const char* hex;
    const char* b58;
  } rows[] = {
      {0, "b92a809afcd6db4d5660dcd63260515a9f67e7ef0c72b8ff5ab48cca5037027f",
       "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"},
      {1, "584f828b29f4a5ef817eabace043cd99e4a7ac9673740a3327f624d41f815ced",
       "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.seqno);
    auto id = compute_order_item_id_with_seqno(btc_limit(), r.seqno, kNonce, kAccount, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(scratch, Bytes().hex(kLimitEncodingHex).v);
    EXPECT_EQ(hex(id->data(), 32), r.hex);
    EXPECT_EQ(id->to_base58(), r.b58);
  }
  EXPECT_EQ(single_order_id(btc_limit(), kNonce, kAccount, scratch), "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG");
  EXPECT_EQ(scratch.capacity(), 96u);
}

TEST(OrderId, WhatEntersThePreimage) {
  std::vector<uint8_t> scratch;
  const auto base = *compute_order_item_id_with_seqno(btc_limit(), 0, kNonce, kAccount, scratch);

  auto with = [](auto change) {
    item::Order o = btc_limit();
    change(o);
    return o;
  };
  const struct {
    const char* name;
    item::Order order;
    uint32_t seqno;
    uint64_t nonce;
    Pubkey account;
    bool same;
  } rows[] = {
      {"builder code", with([](auto& o) { o.builder_code = raw_commission(0x22, 5); }), 0, kNonce, kAccount, true},
      {"client id", with([](auto& o) { o.client_id = hash_of(0x77); }), 0, kNonce, kAccount, true},
      // A limit order's encoding has no slippage field (such an order is
      // refused when signed, but it still has an identifier).
      {"slippage on a limit", with([](auto& o) { o.slippage = 0.01; }), 0, kNonce, kAccount, true},
      {"nonce", btc_limit(), 0, kNonce + 1, kAccount, false},
      {"account", btc_limit(), 0, kNonce, key_of(0x12), false},
      {"position", btc_limit(), 2, kNonce, kAccount, false},
      {"symbol", with([](auto& o) { o.symbol = "BTC-USDC"; }), 0, kNonce, kAccount, false},
      {"side", with([](auto& o) { o.is_buy = false; }), 0, kNonce, kAccount, false},
      {"price", with([](auto& o) { o.price = 50000.51; }), 0, kNonce, kAccount, false},
      {"size", with([](auto& o) { o.size = 0.26; }), 0, kNonce, kAccount, false},
      {"tif", with([](auto& o) { o.order_type = LimitType{Tif::IOC}; }), 0, kNonce, kAccount, false},
      {"reduce only", with([](auto& o) { o.reduce_only = true; }), 0, kNonce, kAccount, false},
      {"iso", with([](auto& o) { o.iso = true; }), 0, kNonce, kAccount, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto id = compute_order_item_id_with_seqno(r.order, r.seqno, r.nonce, r.account, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(*id == base, r.same);
  }
}

TEST(OrderId, EncodingsAgainstOneShotHash) {
  auto alo = btc_limit();
  alo.order_type = LimitType{Tif::ALO};
  alo.iso = true;
  auto market = market_order("ETH-USD", false, 1.5);
  market.reduce_only = true;
  market.price = 123.0;  // not part of a market order's encoding
  market.order_type = TriggerType{true, 99.0};
  auto market_slip = market;
  market_slip.slippage = 0.005;
  market_slip.builder_code = raw_commission(0x22, 9);

  const Bytes market_body = Bytes().u32(0).str("ETH-USD").u8(0).u64(150000000).u8(1).u8(0);
  const struct {
    const char* name;
    item::Order order;
    Bytes encoding;
  } rows[] = {
      {"limit ALO iso", alo,
       Bytes().u32(1).str("BTC-USD").u8(1).u64(5000050000000ULL).u64(25000000).u32(2).u8(0).u8(1)},
      {"market without slippage", market, market_body},
      {"market with slippage", market_slip, Bytes(market_body).u8(1).u64(500000)},
  };
  std::vector<uint8_t> scratch = {1, 2, 3};  // stale contents are cleared
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto id = compute_order_item_id_with_seqno(r.order, 5, kNonce, kAccount, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(scratch, r.encoding.v);
    EXPECT_EQ(*id, oracle_id(5, r.encoding, kAccount, kNonce));
  }
}

TEST(OrderId, ItemsWithoutIdentifier) {
  auto limit_trigger = btc_limit();
  limit_trigger.order_type = TriggerType{false, 100.0};
  item::TriggerBasket basket;
  basket.actions = {btc_limit()};
  item::OnFill on_fill;
  on_fill.trigger = Box<OrderItem>(btc_limit());
  const OrderItem rows[] = {
      limit_trigger, item::Modify{"BTC-USD", hash_of(1), 1.0}, item::Cancel{"BTC-USD", hash_of(1)},
      item::CancelAll{}, stop_order("BTC-USD", true, 1, 1), item::TakeProfit{}, item::Range{}, basket, on_fill,
      item::TrailingStop{}};
  std::vector<uint8_t> scratch;
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(compute_order_item_id_with_seqno(rows[i], 0, kNonce, kAccount, scratch).has_value());
    EXPECT_FALSE(single_order_id(rows[i], kNonce, kAccount, scratch).has_value());
  }
}

TEST(OrderId, BatchKeepsPositions) {
  auto second = limit_order("ETH-USD", false, 3000.0, 2.0, Tif::IOC);
  const std::vector<OrderItem> items = {item::Cancel{"BTC-USD", hash_of(9)}, btc_limit(), second};
  std::vector<uint8_t> scratch;
  const auto ids = batch_order_ids(items, kNonce, kAccount, scratch);
  const Bytes enc1 = Bytes().hex(kLimitEncodingHex);
  const Bytes enc2 = Bytes().u32(1).str("ETH-USD").u8(0).u64(300000000000ULL).u64(200000000).u32(1).u8(0).u8(0);
  const auto id1 = oracle_id(1, enc1, kAccount, kNonce);
  const auto id2 = oracle_id(2, enc2, kAccount, kNonce);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0], base58::encode(id1.data(), 32));
  EXPECT_EQ(ids[1], base58::encode(id2.data(), 32));
  EXPECT_EQ(ids[0], "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx");  // the worked example at position 1
  EXPECT_TRUE(batch_order_ids({item::CancelAll{}}, kNonce, kAccount, scratch).empty());
}
