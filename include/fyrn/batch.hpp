// fyrn/batch.hpp: batches of independent transactions, signed in input order
// on the calling thread (fewer than 10) or on the process-wide worker pool.
//
// The pool starts with the first parallel batch. It is fork-aware: forking a
// process that has started it shuts the idle workers down first, so that
// parent and child both start afresh on their next batch; when that is not
// possible (another thread is inside a batch, or another thread still holds
// pool state), the child signs its batches on the calling thread instead of
// touching the inherited pool. A fork from inside a streamed batch's sink (on
// the batch's calling thread) first finishes the work already handed to the
// pool; the child then completes that batch on its own thread, with the same
// results. Unloading the library shuts the pool down too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/json.hpp"
#include "fyrn/model.hpp"
#include "fyrn/prepare.hpp"
#include "fyrn/signer.hpp"

namespace fyrn {

// kParallelThreshold: batches of at least this many items use the pool.
inline constexpr size_t kParallelThreshold = 10;

// FunctionRef is a non-owning reference to a callable. The callable must
// outlive it (a lambda passed straight into a call lives until it returns).
template <typename Sig>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
 public:
  template <typename Fn, typename = std::enable_if_t<!std::is_same_v<std::decay_t<Fn>, FunctionRef>>>
  FunctionRef(Fn&& fn)  // NOLINT: implicit by design, like a function reference
      : obj_(const_cast<void*>(static_cast<const void*>(&fn))),
        call_([](void* obj, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<Fn>*>(obj))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(obj_, std::forward<Args>(args)...); }

 private:
  void* obj_;
  R (*call_)(void*, Args...);
};

// IndexBody does the work of item i; IndexSink takes over the finished item i
// on the calling thread and returns false to stop the batch.
using IndexBody = FunctionRef<Status(size_t)>;
using IndexSink = FunctionRef<bool(size_t)>;

// for_each_index runs body(i) for every i in [0, n). Below kParallelThreshold
// (or where the pool is unusable, see above) it runs in order on the calling
// thread and stops at the first failure. Otherwise it runs on the pool: the
// first failure recorded in time is kept and no new items start after it.
// Returns that failure, or ok. An exception escaping body (a Panic, bad_alloc)
// stops the batch the same way and is rethrown on the calling thread:
// bad_alloc and Panic as themselves, anything else as Panic.
Status for_each_index(size_t n, IndexBody body);

// for_each_index_streamed is for_each_index that also calls sink(i) on the
// calling thread for every i, in index order, once body(i) has succeeded. On
// the pool, the items are worked in consecutive chunks and the calling thread
// hands finished chunks to the sink while the workers start on the next one,
// then joins them; so sequential per-item work of the caller (converting
// results) overlaps with the parallel work instead of following it. A sink
// that returns false stops the batch; the call then returns ok and the caller
// reports its own failure. When a later item fails, items already given to the
// sink are the caller's to discard.
Status for_each_index_streamed(size_t n, IndexBody body, IndexSink sink);

// parallel_map returns fn(0) … fn(n − 1) in index order, where fn(i) returns
// Result<T>; on the first recorded failure it returns that Error and nothing
// else. T must be default-constructible (slots are filled in place).
template <typename T, typename Fn>
Result<std::vector<T>> parallel_map(size_t n, Fn&& fn) {
  static_assert(std::is_default_constructible_v<T>, "parallel_map writes into pre-sized slots");
  std::vector<T> out(n);
  auto body = [&](size_t i) -> Status {
    Result<T> r = fn(i);
    if (!r) return std::move(r).error();
    out[i] = std::move(r).value();
    return {};
  };
  Status status = for_each_index(n, body);
  if (!status) return std::move(status).error();
  return out;
}

// parallel_map_streamed computes fn(i) (returning Result<T>) for every i and
// hands each value to consume(i, T&&) on the calling thread in index order,
// overlapping with the remaining work (see for_each_index_streamed). Returns
// the first recorded failure, or ok; consume returning false stops the batch.
template <typename T, typename Fn, typename Consume>
Status parallel_map_streamed(size_t n, Fn&& fn, Consume&& consume) {
  static_assert(std::is_default_constructible_v<T>, "parallel_map_streamed writes into pre-sized slots");
  std::vector<T> slots(n);
  auto body = [&](size_t i) -> Status {
    Result<T> r = fn(i);
    if (!r) return std::move(r).error();
    slots[i] = std::move(r).value();
    return {};
  };
  auto sink = [&](size_t i) -> bool {
    T value = std::move(slots[i]);
    slots[i] = T();
    return consume(i, std::move(value));
  };
  return for_each_index_streamed(n, body, sink);
}

// check_batch_nonce_range checks that nonces base .. base + n − 1 fit 64
// bits; when not, batch signing fails with InvalidNonce naming base + n − 1
// in decimal, before anything is signed (a wrapped nonce would repeat old ones).
Status check_batch_nonce_range(uint64_t base, size_t n);

// sign_all signs item i as its own one-item Orders transaction with nonce
// base_nonce + i, results in input order. No items: an empty list.
Result<std::vector<SignedTransaction>> sign_all(const Signer& signer, std::vector<OrderItem> items,
                                                uint64_t base_nonce);

// sign_orders_batch signs batch i as one Orders transaction with nonce
// base_nonce + i; an empty inner list fails with EmptyOrders.
Result<std::vector<SignedTransaction>> sign_orders_batch(const Signer& signer,
                                                         std::vector<std::vector<OrderItem>> batches,
                                                         uint64_t base_nonce);

// TxSink takes over signed transaction i on the calling thread (in index
// order); false stops the batch.
using TxSink = FunctionRef<bool(size_t, SignedTransaction&&)>;

// sign_all_streamed / sign_orders_batch_streamed sign as above and hand each
// transaction to `sink` while later ones are still being signed.
Status sign_all_streamed(const Signer& signer, std::vector<OrderItem> items, uint64_t base_nonce, TxSink sink);
Status sign_orders_batch_streamed(const Signer& signer, std::vector<std::vector<OrderItem>> batches,
                                  uint64_t base_nonce, TxSink sink);

// PreparedSink takes over prepared message i on the calling thread (in index
// order); false stops the batch.
using PreparedSink = FunctionRef<bool(size_t, PreparedMessage&&)>;

// prepare_all_streamed prepares as prepare_all does (prepare.hpp) and hands
// each prepared message to `sink` while later ones are still being prepared.
Status prepare_all_streamed(std::vector<OrderItem> items, SignatureDomain domain, const Pubkey& account,
                            const std::optional<Pubkey>& signer, std::optional<uint64_t> base_nonce,
                            PreparedSink sink);

// run_both runs first() and second(), side by side on the pool when it is
// usable (see above), else one after the other on the calling thread. An
// exception of either is rethrown on the calling thread once both have
// finished: bad_alloc and Panic as themselves, anything else as Panic.
void run_both(FunctionRef<void()> first, FunctionRef<void()> second);

// batch_pool_usable says whether a batch of kParallelThreshold or more items
// would run on the pool now (false in a forked child that inherited a running
// pool it could not shut down before the fork).
bool batch_pool_usable();

}  // namespace fyrn
