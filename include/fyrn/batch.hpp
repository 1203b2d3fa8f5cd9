// fyrn/batch.hpp: batches of independent transactions, signed in input order
// on the calling thread (fewer than 10) or on the process-wide worker pool.
//
// The pool starts with the first parallel batch. It is fork-aware: forking a
// process that has started it shuts the idle workers down first, so that
// parent and child both start afresh on their next batch; when that is not
// possible (another thread is inside a batch, or another thread still holds
// pool state), the child signs its batches on the calling thread instead of
// touching the inherited pool. Unloading the library shuts the pool down too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/json.hpp"
#include "fyrn/model.hpp"
#include "fyrn/signer.hpp"

namespace fyrn {

// kParallelThreshold: batches of at least this many items use the pool.
inline constexpr size_t kParallelThreshold = 10;

// IndexBody is a non-owning reference to a callable `Status(size_t)`.
class IndexBody {
 public:
  // The callable must outlive the IndexBody (a lambda passed straight into
  // for_each_index lives until that call returns).
  template <typename Fn, typename = std::enable_if_t<!std::is_same_v<std::decay_t<Fn>, IndexBody>>>
  IndexBody(Fn&& fn)  // NOLINT: implicit by design, like a function reference
      : obj_(const_cast<void*>(static_cast<const void*>(&fn))),
        call_([](void* obj, size_t i) -> Status { return (*static_cast<std::remove_reference_t<Fn>*>(obj))(i); }) {}

  Status operator()(size_t i) const { return call_(obj_, i); }

 private:
  void* obj_;
  Status (*call_)(void*, size_t);
};

// for_each_index runs body(i) for every i in [0, n). Below kParallelThreshold
// (or where the pool is unusable, see above) it runs in order on the calling
// thread and stops at the first failure. Otherwise it runs on the pool: the
// first failure recorded in time is kept and no new items start after it.
// Returns that failure, or ok. An exception escaping body (a Panic, bad_alloc)
// stops the batch the same way and is rethrown on the calling thread:
// bad_alloc and Panic as themselves, anything else as Panic.
Status for_each_index(size_t n, IndexBody body);

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

// check_batch_nonce_range checks that nonces base .. base + n − 1 fit 64
// bits; when not, batch signing fails with InvalidNonce naming the first nonce that
// does not fit, before anything is signed.
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

// batch_pool_usable says whether a batch of kParallelThreshold or more items
// would run on the pool now (false in a forked child that inherited a running
// pool it could not shut down before the fork).
bool batch_pool_usable();

}  // namespace fyrn
