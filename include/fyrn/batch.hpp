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
#include <vector>

#include "fyrn/error.hpp"
#include "fyrn/model.hpp"
#include "fyrn/signer.hpp"

namespace fyrn {

// kParallelThreshold: batches of at least this many items use the pool.
inline constexpr size_t kParallelThreshold = 10;

// check_batch_nonce_range checks that nonces base .. base + n − 1 fit 64
// bits; when not, batch signing fails with InvalidNonce naming base + n − 1
// in decimal, before anything is signed (a wrapped nonce would repeat old ones).
Status check_batch_nonce_range(uint64_t base, size_t n);

// sign_all signs item i as its own one-item Orders transaction with nonce
// base_nonce + i, results in input order. No items: an empty list.
Result<std::vector<SignedTransaction>> sign_all(const Signer& signer, std::vector<OrderItem> items,
                                                uint64_t base_nonce);

class RenderedSink;

// sign_all_streamed signs as sign_all does, renders each transaction on the
// thread that signed it (render_signed, fyrn/tape.hpp) and hands it to `sink`
// in index order while later ones are still being signed. Account and signer
// of every transaction are the signer's own key.
Status sign_all_streamed(const Signer& signer, std::vector<OrderItem> items, uint64_t base_nonce,
                         RenderedSink& sink);

// sign_orders_batch_streamed signs batch i as one Orders transaction with
// nonce base_nonce + i (an empty inner list fails with EmptyOrders), handing
// each to `sink` as sign_all_streamed does.
Status sign_orders_batch_streamed(const Signer& signer, std::vector<std::vector<OrderItem>> batches,
                                  uint64_t base_nonce, RenderedSink& sink);

// batch_pool_usable says whether a batch of kParallelThreshold or more items
// would run on the pool now (false in a forked child that inherited a running
// pool it could not shut down before the fork).
bool batch_pool_usable();

}  // namespace fyrn
