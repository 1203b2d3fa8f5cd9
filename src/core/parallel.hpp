// parallel.hpp: the ordered parallel map behind every batch, on the
// process-wide worker pool of batch.cpp (fork- and unload-aware, see
// fyrn/batch.hpp). Internal to the core: the public entry points are the
// batch functions of fyrn/batch.hpp and fyrn/prepare.hpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "fyrn/batch.hpp"
#include "fyrn/error.hpp"
#include "fyrn/tape.hpp"

namespace fyrn {

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
// run_both runs first() and second(), side by side on the pool when it is
// usable (see batch_pool_usable in fyrn/batch.hpp), else one after the other on the calling thread. An
// exception of either is rethrown on the calling thread once both have
// finished: bad_alloc and Panic as themselves, anything else as Panic.
void run_both(FunctionRef<void()> first, FunctionRef<void()> second);

using IndexBody = FunctionRef<Status(size_t)>;
using IndexSink = FunctionRef<bool(size_t)>;

// for_each_index runs body(i) for every i in [0, n). Below kParallelThreshold
// (or where the pool is unusable, see batch_pool_usable) it runs in order on
// the calling thread and stops at the first failure. Otherwise it runs on the
// pool: the first failure recorded in time is kept and no new items start
// after it. Returns that failure, or ok. An exception escaping body (a Panic,
// bad_alloc) stops the batch the same way and is rethrown on the calling
// thread: bad_alloc and Panic as themselves, anything else as Panic.
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

// ItemGroups cuts a batch of n items into groups of consecutive ones, each one
// index of the pool: eight, or fewer where that keeps at least
// kParallelThreshold groups for a batch of kParallelThreshold or more (the
// pool counts indices). Eight items share one call of the eight-lane signer
// (Signer::sign_single_items) and one tape.
struct ItemGroups {
  static constexpr size_t kMaxSize = 8;
  explicit ItemGroups(size_t n)
      : size(n < kParallelThreshold ? kMaxSize : std::clamp<size_t>(n / kParallelThreshold, 1, kMaxSize)), n(n),
        count((n + size - 1) / size) {}
  size_t begin(size_t g) const { return g * size; }
  size_t length(size_t g) const { return std::min(size, n - g * size); }
  size_t size, n, count;
};

// render_groups_streamed runs render(begin, length, tape) for every group of
// n items (see ItemGroups), which renders the group's results into one tape
// in index order, and hands the results to sink.take(i, reader) on the
// calling thread in index order, overlapping with the remaining work (see
// for_each_index_streamed). Returns the first recorded failure, or ok.
template <typename Render>
Status render_groups_streamed(size_t n, Render&& render, RenderedSink& sink) {
  const ItemGroups groups(n);
  std::vector<Tape> rendered(groups.count);
  return for_each_index_streamed(
      groups.count,
      [&](size_t g) -> Status {
        rendered[g].reserve(1024 * groups.length(g));  // about what an order's results take
        return render(groups.begin(g), groups.length(g), rendered[g]);
      },
      [&](size_t g) {
        const Tape tape = std::move(rendered[g]);  // freed once its results are taken
        TapeReader in(tape);
        for (size_t i = groups.begin(g); i < groups.begin(g) + groups.length(g); ++i) {
          if (!sink.take(i, in)) return false;
        }
        return true;
      });
}

}  // namespace fyrn
