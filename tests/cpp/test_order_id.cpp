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

// The worked example at positions 0 and 1, through each entry point; stale
// scratch contents are replaced by the encoding and its capacity is kept.
// (Every item shape and random orders are checked against hashlib through
// Python, in tests/test_parse.py and tests/test_compute_order_id.py.)
TEST(OrderId, WorkedExample) {
  ASSERT_EQ(kLimitEncoding.v.size(), 42u);
  std::vector<uint8_t> scratch = {1, 2, 3};
  scratch.reserve(96);
  const std::pair<uint32_t, const char*> rows[] = {{0, "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"},
                                                   {1, "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"}};
  for (const auto& [seqno, b58] : rows) {
    auto id = compute_order_item_id_with_seqno(btc_limit(), seqno, kNonce, kAccount, scratch);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(scratch, kLimitEncoding.v);
    EXPECT_EQ(id->to_base58(), b58);
    EXPECT_EQ(*id, oracle_id(seqno, kLimitEncoding));
  }
  EXPECT_EQ(single_order_id(btc_limit(), kNonce, kAccount, scratch), rows[0].second);
  EXPECT_EQ(scratch.capacity(), 96u);
  // In [cancel, limit, limit] the limits take sequence numbers 1 and 2; items without an identifier give none.
  const auto ids = batch_order_ids({item::Cancel{"BTC-USD", hash_of(9)}, btc_limit(), btc_limit()}, kNonce, kAccount, scratch);
  EXPECT_EQ(ids, (std::vector<std::string>{rows[1].second, oracle_id(2, kLimitEncoding).to_base58()}));
  EXPECT_FALSE(single_order_id(item::CancelAll{}, kNonce, kAccount, scratch).has_value());
  EXPECT_TRUE(batch_order_ids({item::CancelAll{}, stop_order("X", true, 1, 1)}, kNonce, kAccount, scratch).empty());
}
