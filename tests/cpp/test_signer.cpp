// Nonces and the batch machinery, without Python: threads and failure paths.
// Signatures, identifiers and batch results are checked end to end against
// independent oracles by tests/test_signer.py.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>

#include "../../src/core/parallel.hpp"
#include "fyrn/nonce.hpp"
#include "fyrn/signer.hpp"

using namespace fyrn;

// Every caller gets a distinct value, also when many threads share one manager.
TEST(NonceManager, DistinctAcrossThreads) {
  for (NonceStrategy strategy : {NonceStrategy::Counter, NonceStrategy::HighFrequency, NonceStrategy::Timestamp}) {
    NonceManager manager(strategy);
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::vector<uint64_t>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kEach; ++i) got[t].push_back(manager.next_nonce());
      });
    }
    for (auto& th : threads) th.join();
    std::set<uint64_t> all;
    for (auto& v : got) {
      for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]);
      all.insert(v.begin(), v.end());
    }
    EXPECT_EQ(all.size(), size_t{kThreads * kEach});
    if (strategy == NonceStrategy::Counter) {
      EXPECT_EQ(*all.rbegin(), uint64_t{kThreads * kEach - 1});
    }
  }
}

TEST(Batch, SequentialReportsLowestFailureParallelStopsEarly) {
  std::atomic<size_t> calls{0};
  auto fail_at = [&calls](std::set<size_t> bad) {
    return [bad, &calls](size_t i) -> Result<int> {
      calls.fetch_add(1);
      if (bad.count(i)) return Error::invalid_order("item " + std::to_string(i));
      return static_cast<int>(i);
    };
  };
  auto seq = parallel_map<int>(9, fail_at({3, 6}));
  ASSERT_FALSE(seq.ok());
  EXPECT_EQ(seq.error().text(), "item 3");
  EXPECT_EQ(calls.load(), 4u);

  auto par = parallel_map<int>(100, fail_at({3, 60}));
  ASSERT_FALSE(par.ok());
  EXPECT_TRUE(par.error().text() == "item 3" || par.error().text() == "item 60");

  calls = 0;  // once the failure is recorded no new items start
  constexpr size_t kMany = 200000;
  ASSERT_FALSE(parallel_map<int>(kMany, fail_at({0})).ok());
  EXPECT_LT(calls.load(), kMany / 2);

  auto ok = parallel_map<int>(1000, [](size_t i) -> Result<int> { return static_cast<int>(i) * 2; });
  ASSERT_TRUE(ok.ok());
  for (size_t i = 0; i < ok->size(); ++i) ASSERT_EQ((*ok)[i], static_cast<int>(i) * 2);
}

// caught_panic runs a batch of n whose item 4 throws e and returns the text
// of the Panic that reaches the caller.
template <typename E>
std::string caught_panic(size_t n, E e) {
  try {
    (void)parallel_map<int>(n, [&](size_t i) -> Result<int> {
      if (i == 4) throw e;
      return 0;
    });
  } catch (const Panic& p) {
    return p.what();
  }
  return "no panic";
}

// Exceptions escaping batch work reach the caller: Panic and bad_alloc as
// themselves, anything else as Panic.
TEST(Batch, ExceptionsInWorkersReachTheCaller) {
  for (size_t n : {size_t{5}, size_t{64}}) {
    EXPECT_EQ(caught_panic(n, Panic("worker broke")), "worker broke");
    EXPECT_EQ(caught_panic(n, std::logic_error("odd state")), "odd state");
    EXPECT_THROW(caught_panic(n, std::bad_alloc()), std::bad_alloc);
  }
}

// The streamed form hands items over in index order while later chunks are
// still being worked; failures and early stops behave as in the plain form.
TEST(BatchStreamed, OrderStopsAndFailures) {
  for (size_t n : {size_t{9}, size_t{10}, size_t{5000}}) {
    SCOPED_TRACE(n);
    std::vector<size_t> seen;
    auto ok = [](size_t) -> Status { return {}; };
    auto record = [&](size_t i) {
      seen.push_back(i);
      return true;
    };
    ASSERT_TRUE(for_each_index_streamed(n, ok, record).ok());
    ASSERT_EQ(seen.size(), n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], i);

    seen.clear();  // the sink stops the batch: nothing after the stop is handed over
    EXPECT_TRUE(for_each_index_streamed(n, ok, [&](size_t i) {
                  seen.push_back(i);
                  return i < 5;
                }).ok());
    EXPECT_EQ(seen.size(), 6u);

    seen.clear();  // a failing item: its error comes back, nothing at or after it is handed over
    const size_t bad = n - 2;
    Status failed = for_each_index_streamed(
        n,
        [&](size_t i) -> Status {
          if (i == bad) return Error::invalid_order("bad item");
          return {};
        },
        record);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text(), "bad item");
    for (size_t i : seen) EXPECT_LT(i, bad);

    // An exception thrown by the sink reaches the caller after the workers joined.
    EXPECT_THROW((void)for_each_index_streamed(n, ok,
                                               [](size_t i) -> bool {
                                                 if (i == 3) throw std::bad_alloc();
                                                 return true;
                                               }),
                 std::bad_alloc);
  }
}

namespace {

// numbered_order is a limit order whose message length depends on i (the lanes
// of one group differ), or one the encoder refuses for `why`.
OrderItem numbered_order(size_t i, const char* why = "") {
  item::Order o;
  o.symbol = i % 3 == 0 ? "BTC-USD" : std::string(40 + i, 'E');
  o.is_buy = i % 2 == 0;
  o.price = 100.0 + static_cast<double>(i);
  o.size = 0.5 + static_cast<double>(i);
  if (std::string(why) == "slippage") o.slippage = 0.01;  // limit orders take none
  if (std::string(why) == "trigger") o.order_type = TriggerType{.is_market = false, .trigger_px = 1.0};
  return OrderItem(std::move(o));
}

auto fields(const SignedTransaction& t) {
  return std::tie(t.signature, t.order_id, t.order_ids, t.nonce, t.account, t.signer, t.actions);
}

}  // namespace

// Items signed in groups (eight per call of the batch signer) give exactly the
// transactions of one-by-one signing, for every count up to 20; a failure is
// the lowest-indexed failing item's, as one by one. (The groups of the Python
// entry points are checked against PyNaCl by tests/test_signer.py.)
TEST(Signer, GroupSigningMatchesOneByOne) {
  uint8_t seed[32] = {9, 8, 7};
  Signer signer(*Keypair::from_bytes(seed, 32), SignatureDomain::Testnet);
  signer.set_compute_batch_order_ids(true);
  for (size_t n = 1; n <= 20; ++n) {
    std::vector<OrderItem> items;
    std::vector<std::vector<OrderItem>> batches;
    for (size_t i = 0; i < n; ++i) {
      items.push_back(numbered_order(i));
      batches.emplace_back();
      for (size_t k = 0; k <= i % 3; ++k) batches.back().push_back(numbered_order(i + k));
    }
    std::vector<SignedTransaction> got(n), got_batches(n);
    ASSERT_TRUE(signer.sign_single_items(items.data(), n, 1000, got.data()).ok());
    ASSERT_TRUE(signer.sign_single_order_batches(std::vector(batches).data(), n, 2000, got_batches.data()).ok());
    for (size_t i = 0; i < n; ++i) {
      EXPECT_TRUE(fields(got[i]) == fields(*signer.sign_single_item(numbered_order(i), 1000 + i))) << n << ": " << i;
      EXPECT_TRUE(fields(got_batches[i]) == fields(*signer.sign_single_order_batch(batches[i], 2000 + i))) << n << ": " << i;
    }
  }
  const std::string slippage = "invalid order: slippage is only supported on market orders";
  std::vector<OrderItem> items(12, numbered_order(0));
  items[9] = numbered_order(9, "slippage");
  items[11] = numbered_order(11, "trigger");
  std::vector<SignedTransaction> out(12);
  EXPECT_EQ(signer.sign_single_items(items.data(), 12, 1, out.data()).error().display(), slippage);
  std::vector<std::vector<OrderItem>> batches(6, std::vector<OrderItem>{numbered_order(0)});
  batches[4].clear();
  EXPECT_EQ(signer.sign_single_order_batches(std::vector(batches).data(), 6, 1, out.data()).error().display(),
            "orders array cannot be empty");
  EXPECT_EQ(signer.sign_single_order_batch({}, 1).error().display(), "orders array cannot be empty");
  batches[2] = {numbered_order(1), numbered_order(2, "slippage")};
  EXPECT_EQ(signer.sign_single_order_batches(std::vector(batches).data(), 6, 1, out.data()).error().display(), slippage);
}
