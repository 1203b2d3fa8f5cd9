#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "fyrn/base58.hpp"
#include "fyrn/batch.hpp"
#include "fyrn/nonce.hpp"
#include "fyrn/order_id.hpp"
#include "fyrn/signer.hpp"
#include "fyrn/wire.hpp"

using namespace fyrn;

namespace {

Keypair key_from_seed(uint8_t fill) {
  uint8_t seed[32];
  std::fill(std::begin(seed), std::end(seed), fill);
  return std::move(Keypair::from_bytes(seed, 32)).value();
}

Pubkey filled_pubkey(uint8_t fill) {
  Pubkey p;
  p.bytes.fill(fill);
  return p;
}

OrderItem limit(double price = 50000.5, double size = 0.25) {
  item::Order o;
  o.symbol = "BTC-USD";
  o.is_buy = true;
  o.price = price;
  o.size = size;
  return o;
}

OrderItem cancel() {
  item::Cancel c;
  c.symbol = "BTC-USD";
  c.order_id.bytes.fill(7);
  return c;
}

OrderItem resting_trigger() {  // encodes to an InvalidOrder failure
  item::Order o = std::get<item::Order>(limit().v);
  o.order_type = TriggerType{false, 49000.0};
  return o;
}

Action orders(std::vector<OrderItem> items) { return action::Orders{std::move(items)}; }

std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : hex) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  return out;
}

// verifies checks tx's signature over the message rebuilt from (action, nonce,
// account) with the signer's domain.
bool verifies(const SignedTransaction& tx, const Signer& signer, const Action& action, const Pubkey& account) {
  std::vector<uint8_t> msg;
  if (!serialize_for_sdk_signing(action, signer.domain(), tx.nonce, account, msg)) return false;
  auto sig_bytes = base58::decode(tx.signature);
  if (!sig_bytes || sig_bytes->size() != 64) return false;
  Signature sig;
  std::copy(sig_bytes->begin(), sig_bytes->end(), sig.begin());
  return verify_signature(sig, msg.data(), msg.size(), signer.pubkey());
}

constexpr uint64_t kExampleNonce = 1700000000000000000ULL;

}  // namespace

// The limit order of the wire worked example, signed for account 0x11…: the
// message, its identifier (sequence 0) and the signature all match.
TEST(SignerCore, WorkedExampleMessageIdAndSignature) {
  Signer signer(key_from_seed(0x42), SignatureDomain::Mainnet);
  const Pubkey account = filled_pubkey(0x11);
  const Action action = orders({limit()});
  auto tx = signer.sign_action(action, kExampleNonce, account);
  ASSERT_TRUE(tx.ok()) << tx.error().display();

  std::vector<uint8_t> expected = from_hex(
      "0100000000000000 01000000 0700000000000000 4254432d555344 01 804034 2a8c040000 40787d0100000000"
      " 00000000 00 00 00002a36fe9c9717");
  expected.insert(expected.end(), 32, 0x11);
  expected.push_back(0x01);
  ASSERT_EQ(expected.size(), 91u);
  EXPECT_EQ(signer.last_message(), expected);

  EXPECT_EQ(tx->order_id, std::optional<std::string>("DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"));
  EXPECT_FALSE(tx->order_ids.has_value());
  EXPECT_EQ(tx->account, account.to_base58());
  EXPECT_EQ(tx->signer, signer.pubkey().to_base58());
  EXPECT_EQ(tx->nonce, kExampleNonce);
  ASSERT_EQ(tx->actions.size(), 1u);
  EXPECT_TRUE(tx->actions[0].contains("l"));
  EXPECT_TRUE(verifies(*tx, signer, action, account));
}

TEST(SignerCore, DomainIsBoundIntoSignature) {
  const Keypair kp = key_from_seed(3);
  Signer mainnet(kp, SignatureDomain::Mainnet);
  Signer devnet(kp, SignatureDomain::Devnet);
  const Action action = orders({limit()});
  auto a = mainnet.sign_action(action, 5, kp.pubkey());
  auto b = devnet.sign_action(action, 5, kp.pubkey());
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE(a->signature, b->signature);
  EXPECT_EQ(mainnet.last_message().back(), 1);
  EXPECT_EQ(devnet.last_message().back(), 3);
  EXPECT_TRUE(verifies(*a, mainnet, action, kp.pubkey()));
  EXPECT_TRUE(verifies(*b, devnet, action, kp.pubkey()));
  EXPECT_FALSE(verifies(*a, devnet, action, kp.pubkey()));
}

struct IdCase {
  const char* name;
  std::vector<OrderItem> items;
  bool single;
  bool batch;
  bool want_id;
  int want_ids;  // -1: absent
};

TEST(SignerCore, IdentifierPresenceRules) {
  const std::vector<IdCase> cases = {
      {"one limit, defaults", {limit()}, true, false, true, -1},
      {"one limit, single off", {limit()}, false, true, false, -1},
      {"one cancel", {cancel()}, true, true, false, -1},
      {"three limits, defaults", {limit(), limit(), limit()}, true, false, false, -1},
      {"three limits, batch on", {limit(), limit(), limit()}, true, true, false, 3},
      {"limit and two cancels, batch on", {limit(), cancel(), cancel()}, true, true, false, 1},
      {"cancels only, batch on", {cancel(), cancel()}, true, true, false, -1},
  };
  const Keypair kp = key_from_seed(9);
  for (const IdCase& c : cases) {
    SCOPED_TRACE(c.name);
    Signer signer(kp, SignatureDomain::Testnet);
    signer.set_compute_order_id(c.single);
    signer.set_compute_batch_order_ids(c.batch);
    auto tx = signer.sign_action(orders(c.items), 77, kp.pubkey());
    ASSERT_TRUE(tx.ok());
    EXPECT_EQ(tx->order_id.has_value(), c.want_id);
    EXPECT_EQ(tx->order_ids ? static_cast<int>(tx->order_ids->size()) : -1, c.want_ids);
    // The shared-buffer path and the fresh-buffer path agree.
    auto fresh = signer.sign_single_order_batch(c.items, 77);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ(fresh->signature, tx->signature);
    EXPECT_EQ(fresh->order_id, tx->order_id);
    EXPECT_EQ(fresh->order_ids, tx->order_ids);
  }

  Signer signer(kp, SignatureDomain::Testnet);
  Action faucet = action::Faucet{kp.pubkey(), std::nullopt};
  auto tx = signer.sign_action(faucet, 1, kp.pubkey());
  ASSERT_TRUE(tx.ok());
  EXPECT_FALSE(tx->order_id || tx->order_ids);
}

// A cancel in front shifts the sequence numbers: the limits use 1 and 2. The
// worked example gives the identifier for sequence number 1.
TEST(SignerCore, BatchIdentifiersCountSkippedItems) {
  Signer signer(key_from_seed(1), SignatureDomain::Mainnet);
  signer.set_compute_batch_order_ids(true);
  auto tx = signer.sign_action(orders({cancel(), limit(), limit()}), kExampleNonce, filled_pubkey(0x11));
  ASSERT_TRUE(tx.ok());
  ASSERT_TRUE(tx->order_ids.has_value());
  ASSERT_EQ(tx->order_ids->size(), 2u);
  EXPECT_EQ((*tx->order_ids)[0], "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx");
  EXPECT_NE((*tx->order_ids)[1], (*tx->order_ids)[0]);
}

TEST(SignerCore, FailuresAndSignBytes) {
  const Keypair kp = key_from_seed(4);
  Signer signer(kp, SignatureDomain::Devnet);
  auto empty = signer.sign_action(orders({}), 1, kp.pubkey());
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().display(), "orders array cannot be empty");
  EXPECT_EQ(signer.sign_single_order_batch({}, 1).error().kind(), ErrorKind::EmptyOrders);
  EXPECT_EQ(signer.sign_action(orders({resting_trigger()}), 1, kp.pubkey()).error().kind(),
            ErrorKind::InvalidOrder);

  const uint8_t msg[] = {1, 2, 3};
  for (size_t len : {size_t{0}, sizeof msg}) {
    const std::string text = signer.sign_bytes(msg, len);
    EXPECT_EQ(text, signer.sign_bytes(msg, len));
    auto raw = base58::decode(text);
    ASSERT_TRUE(raw.ok());
    ASSERT_EQ(raw->size(), 64u);
    Signature sig;
    std::copy(raw->begin(), raw->end(), sig.begin());
    EXPECT_TRUE(verify_signature(sig, msg, len, kp.pubkey()));
  }
}

TEST(NonceManager, CounterAndHighFrequency) {
  const Keypair kp = key_from_seed(5);
  Signer counter(kp, SignatureDomain::Devnet, NonceStrategy::Counter);
  EXPECT_EQ(counter.next_nonce(), 0u);
  EXPECT_EQ(counter.next_nonce(), 1u);
  // An explicit nonce neither reads nor advances the counter.
  ASSERT_TRUE(counter.sign_action(orders({limit()}), 500, kp.pubkey()).ok());
  EXPECT_EQ(counter.next_nonce(), 2u);
  Signer again(kp, SignatureDomain::Devnet, NonceStrategy::Counter);
  EXPECT_EQ(again.next_nonce(), 0u);

  Signer hf(kp, SignatureDomain::Devnet, NonceStrategy::HighFrequency);
  uint64_t prev = 0;
  for (int i = 0; i < 1000; ++i) {
    const uint64_t floor = next_timestamp();
    const uint64_t n = hf.next_nonce();
    EXPECT_GT(n, floor);
    EXPECT_GT(n, prev);
    prev = n;
  }
}

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
  }
}

// 9 items run on the calling thread, 10 on the pool; identical (item, nonce)
// pairs must give identical transactions either way.
TEST(Batch, NineAndTenGiveSameSignatures) {
  const Keypair kp = key_from_seed(6);
  Signer signer(kp, SignatureDomain::Mainnet);
  auto nine = sign_all(signer, std::vector<OrderItem>(9, limit()), 1000);
  auto ten = sign_all(signer, std::vector<OrderItem>(10, limit()), 1000);
  ASSERT_TRUE(nine.ok() && ten.ok());
  ASSERT_EQ(nine->size(), 9u);
  ASSERT_EQ(ten->size(), 10u);
  for (size_t i = 0; i < 10; ++i) {
    const SignedTransaction& tx = (*ten)[i];
    EXPECT_EQ(tx.nonce, 1000 + i);
    EXPECT_TRUE(tx.order_id.has_value());
    EXPECT_FALSE(tx.order_ids.has_value());
    EXPECT_TRUE(verifies(tx, signer, orders({limit()}), kp.pubkey()));
    if (i < 9) {
      EXPECT_EQ((*nine)[i].signature, tx.signature);
      EXPECT_EQ((*nine)[i].order_id, tx.order_id);
    }
    auto single = signer.sign_action(orders({limit()}), 1000 + i, kp.pubkey());
    ASSERT_TRUE(single.ok());
    EXPECT_EQ(single->signature, tx.signature);
  }
  auto none = sign_all(signer, {}, 5);
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty());
}

TEST(Batch, FailureAtIndexThreeReturnsNothing) {
  const Keypair kp = key_from_seed(7);
  Signer signer(kp, SignatureDomain::Mainnet);
  for (size_t n : {size_t{9}, size_t{10}, size_t{200}}) {
    SCOPED_TRACE(n);
    std::vector<OrderItem> items(n, limit());
    items[3] = resting_trigger();
    auto r = sign_all(signer, items, 1);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().display(), "invalid order: trigger orders are not supported by FYRN API; use market");

    std::vector<std::vector<OrderItem>> batches(n, {limit(), limit()});
    batches[3].clear();
    auto b = sign_orders_batch(signer, batches, 1);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error().kind(), ErrorKind::EmptyOrders);
  }
}

TEST(Batch, OrdersBatchShapesAndIdentifiers) {
  const Keypair kp = key_from_seed(8);
  Signer signer(kp, SignatureDomain::Devnet);
  signer.set_compute_batch_order_ids(true);
  auto r = sign_orders_batch(signer, {{limit(), limit(1.0)}, {cancel()}}, 40);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r->size(), 2u);
  EXPECT_EQ((*r)[0].nonce, 40u);
  EXPECT_EQ((*r)[1].nonce, 41u);
  EXPECT_EQ((*r)[0].actions.size(), 2u);
  ASSERT_TRUE((*r)[0].order_ids.has_value());
  EXPECT_EQ((*r)[0].order_ids->size(), 2u);
  EXPECT_FALSE((*r)[1].order_id || (*r)[1].order_ids);
  EXPECT_TRUE(verifies((*r)[0], signer, orders({limit(), limit(1.0)}), kp.pubkey()));
}

TEST(Batch, NonceRangeMustFitSixtyFourBits) {
  Signer signer(key_from_seed(2), SignatureDomain::Devnet);
  auto over = sign_all(signer, std::vector<OrderItem>(3, limit()), UINT64_MAX - 1);
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().display(),
            "invalid nonce '18446744073709551616'; expected an unsigned 64-bit decimal string");
  auto fits = sign_all(signer, std::vector<OrderItem>(3, limit()), UINT64_MAX - 2);
  ASSERT_TRUE(fits.ok());
  EXPECT_EQ(fits->back().nonce, UINT64_MAX);
}

TEST(Batch, SequentialReportsLowestFailureParallelStopsEarly) {
  auto fail_at = [](std::set<size_t> bad, std::atomic<size_t>& calls) {
    return [bad, &calls](size_t i) -> Result<int> {
      calls.fetch_add(1);
      if (bad.count(i)) return Error::invalid_order("item " + std::to_string(i));
      return static_cast<int>(i);
    };
  };
  std::atomic<size_t> calls{0};
  auto seq = parallel_map<int>(9, fail_at({3, 6}, calls));
  ASSERT_FALSE(seq.ok());
  EXPECT_EQ(seq.error().text(), "item 3");
  EXPECT_EQ(calls.load(), 4u);

  calls = 0;
  auto par = parallel_map<int>(100, fail_at({3, 60}, calls));
  ASSERT_FALSE(par.ok());
  EXPECT_TRUE(par.error().text() == "item 3" || par.error().text() == "item 60");

  // Once the failure is recorded no new items start.
  calls = 0;
  constexpr size_t kMany = 200000;
  auto early = parallel_map<int>(kMany, fail_at({0}, calls));
  ASSERT_FALSE(early.ok());
  EXPECT_LT(calls.load(), kMany / 2);

  auto ok = parallel_map<int>(1000, [](size_t i) -> Result<int> { return static_cast<int>(i) * 2; });
  ASSERT_TRUE(ok.ok());
  for (size_t i = 0; i < ok->size(); ++i) ASSERT_EQ((*ok)[i], static_cast<int>(i) * 2);
}

TEST(Batch, ExceptionsInWorkersReachTheCaller) {
  for (size_t n : {size_t{5}, size_t{64}}) {
    SCOPED_TRACE(n);
    auto panicking = [](size_t i) -> Result<int> {
      if (i == 4) throw Panic("worker broke");
      return 0;
    };
    auto other = [](size_t i) -> Result<int> {
      if (i == 4) throw std::logic_error("odd state");
      return 0;
    };
    auto oom = [](size_t i) -> Result<int> {
      if (i == 4) throw std::bad_alloc();
      return 0;
    };
    try {
      (void)parallel_map<int>(n, panicking);
      ADD_FAILURE() << "no exception";
    } catch (const Panic& e) {
      EXPECT_STREQ(e.what(), "worker broke");
    }
    try {
      (void)parallel_map<int>(n, other);
      ADD_FAILURE() << "no exception";
    } catch (const Panic& e) {
      EXPECT_STREQ(e.what(), "odd state");
    }
    EXPECT_THROW((void)parallel_map<int>(n, oom), std::bad_alloc);
  }
}

namespace {

// run_in_child forks, runs body in the child under a 30 s alarm and returns
// true when the child exited with status 0. The child leaves through exit()
// so that static teardown runs too.
template <typename Body>
bool run_in_child(Body body) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    const bool ok = body();
    std::exit(ok ? 0 : 1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> signatures(const Result<std::vector<SignedTransaction>>& r) {
  std::vector<std::string> out;
  if (r.ok()) {
    for (const auto& tx : *r) out.push_back(tx.signature);
  }
  return out;
}

}  // namespace

// A process that forked after a parallel batch keeps signing in parent and
// child; with nothing else holding the pool, the child gets a fresh one.
TEST(BatchFork, ParentAndChildSignAfterFork) {
  Signer signer(key_from_seed(10), SignatureDomain::Mainnet);
  const auto expected = signatures(sign_all(signer, std::vector<OrderItem>(40, limit()), 100));
  ASSERT_EQ(expected.size(), 40u);
  ASSERT_TRUE(batch_pool_usable());

  const bool child_ok = run_in_child([&] {
    if (!batch_pool_usable()) return false;
    if (signatures(sign_all(signer, std::vector<OrderItem>(40, limit()), 100)) != expected) return false;
    // A grandchild too.
    return run_in_child([&] { return signatures(sign_all(signer, std::vector<OrderItem>(40, limit()), 100)) == expected; });
  });
  EXPECT_TRUE(child_ok);
  EXPECT_TRUE(batch_pool_usable());
  EXPECT_EQ(signatures(sign_all(signer, std::vector<OrderItem>(40, limit()), 100)), expected);
}

// Another live thread still holds pool state, so the pool cannot be shut down
// before the fork: the child must not touch it and signs on its own thread.
TEST(BatchFork, ChildFallsBackWhenPoolCannotBeStopped) {
  Signer signer(key_from_seed(11), SignatureDomain::Mainnet);
  const auto expected = signatures(sign_all(signer, std::vector<OrderItem>(30, limit()), 7));
  ASSERT_EQ(expected.size(), 30u);

  std::mutex m;
  std::condition_variable cv;
  bool ran = false, release = false;
  std::thread holder([&] {
    auto r = sign_all(signer, std::vector<OrderItem>(30, limit()), 7);
    std::unique_lock<std::mutex> lock(m);
    ran = signatures(r) == expected;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return ran; });
  }

  const bool child_ok = run_in_child([&] {
    return !batch_pool_usable() &&
           signatures(sign_all(signer, std::vector<OrderItem>(30, limit()), 7)) == expected;
  });
  EXPECT_TRUE(child_ok);
  EXPECT_EQ(signatures(sign_all(signer, std::vector<OrderItem>(30, limit()), 7)), expected);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  holder.join();
}

// The streamed form hands items over in index order while later chunks are
// still being worked; failures and early stops behave as in the plain form.
TEST(BatchStreamed, OrderStopsAndFailures) {
  for (size_t n : {size_t{9}, size_t{10}, size_t{1000}, size_t{5000}}) {
    SCOPED_TRACE(n);
    std::vector<size_t> seen;
    auto square = [](size_t i) -> Result<size_t> { return i * i; };
    Status all = parallel_map_streamed<size_t>(n, square, [&](size_t i, size_t&& v) {
      seen.push_back(i);
      return v == i * i;
    });
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(seen.size(), n);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], i);

    // The sink stops the batch: nothing after the stop is handed over.
    seen.clear();
    std::atomic<size_t> worked{0};
    Status stopped = parallel_map_streamed<size_t>(
        n, [&](size_t i) -> Result<size_t> { worked++; return i; },
        [&](size_t i, size_t&&) {
          seen.push_back(i);
          return i < 5;
        });
    EXPECT_TRUE(stopped.ok());
    EXPECT_EQ(seen.size(), 6u);

    // A failing item: its error comes back, and no item at or after it is handed over.
    seen.clear();
    const size_t bad = n - 2;
    Status failed = parallel_map_streamed<size_t>(
        n, [&](size_t i) -> Result<size_t> {
          if (i == bad) return Error::invalid_order("bad item");
          return i;
        },
        [&](size_t i, size_t&&) {
          seen.push_back(i);
          return true;
        });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text(), "bad item");
    for (size_t i : seen) EXPECT_LT(i, bad);

    // An exception thrown by the sink reaches the caller after the workers joined.
    EXPECT_THROW((void)parallel_map_streamed<size_t>(n, square,
                                                     [](size_t i, size_t&&) -> bool {
                                                       if (i == 3) throw std::bad_alloc();
                                                       return true;
                                                     }),
                 std::bad_alloc);
  }
}

TEST(BatchStreamed, SignAllStreamedMatchesPlain) {
  Signer signer(key_from_seed(12), SignatureDomain::Testnet);
  std::vector<OrderItem> items;
  for (int i = 0; i < 700; ++i) items.push_back(limit(100.0 + i, 1.0));
  auto plain = sign_all(signer, items, 9);
  ASSERT_TRUE(plain.ok());
  std::vector<std::string> streamed;
  Status s = sign_all_streamed(signer, items, 9, [&](size_t i, SignedTransaction&& tx) {
    EXPECT_EQ(i, streamed.size());
    streamed.push_back(tx.signature);
    return true;
  });
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(streamed, signatures(plain));
}
