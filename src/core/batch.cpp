#include "fyrn/batch.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <variant>

#include "fyrn/nonce.hpp"
#include "fyrn/tape.hpp"
#include "fyrn/unwind.hpp"
#include "parallel.hpp"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_group.h>

namespace fyrn {
namespace {

// g_fork_generation is bumped in every child at fork(): a batch that sees it
// change runs in a child of the process that started it (cheaper than a
// getpid() system call per item).
std::atomic<uint64_t> g_fork_generation{0};

uint64_t fork_generation() { return g_fork_generation.load(std::memory_order_relaxed); }

void settle_streamed_runs();

void arm_unload_guard();

// Pool tracks this library's use of the oneTBB scheduler across fork() and
// unload. oneTBB's workers do not survive fork(): a child that inherits a
// started scheduler runs everything on its calling thread and may inherit a
// lock an idle worker held at the fork; unloading libtbb while workers run
// crashes. So the pool is started lazily, owned by the pid that started it,
// shut down (workers joined) before a fork when nothing is running, and shut
// down when this library is unloaded.
class Pool {
 public:
  // enter returns true when the caller may run one batch on the pool; it must
  // then call leave() when the batch is done.
  bool enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_down_) return false;
    const pid_t pid = getpid();
    if (owner_pid_ == 0) {
      if (!atfork_registered_) {
        if (pthread_atfork(&Pool::prepare_fork, &Pool::parent_after_fork, &Pool::child_after_fork) != 0) {
          return false;  // without fork protection, stay on the calling thread
        }
        atfork_registered_ = true;
      }
      handle_ = std::make_unique<tbb::task_scheduler_handle>(tbb::attach{});
      owner_pid_ = pid;
      arm_unload_guard();
    } else if (owner_pid_ != pid) {
      return false;  // inherited from the parent; never touch it here
    }
    in_flight_.fetch_add(1, std::memory_order_relaxed);
    return true;
  }

  void leave() { in_flight_.fetch_sub(1, std::memory_order_relaxed); }

  bool usable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !shut_down_ && (owner_pid_ == 0 || owner_pid_ == getpid());
  }

  // shutdown joins the workers for good (library unload / process exit).
  void shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_down_ = true;
    try_finalize_locked();
  }

  static Pool& instance() {
    // Never destroyed: the fork handlers may run during static destruction.
    static Pool* pool = new Pool();
    return *pool;
  }

 private:
  // try_finalize_locked joins idle workers of a pool this process started.
  // Returns true when no pool remains.
  bool try_finalize_locked() {
    if (owner_pid_ == 0) return true;
    if (owner_pid_ != getpid() || in_flight_.load(std::memory_order_relaxed) != 0 || !handle_) return false;
    // finalize empties the handle either way. It refuses (false) while another
    // thread still holds scheduler state, e.g. a live thread that ran a batch.
    if (tbb::finalize(*handle_, std::nothrow)) {
      handle_.reset();
      owner_pid_ = 0;
      return true;
    }
    // Re-attach so that a later attempt can finalize. This runs inside the
    // fork handler, where no exception may escape: out of memory, the pool
    // just stays up without a handle (the child then stays sequential).
    try {
      handle_ = std::make_unique<tbb::task_scheduler_handle>(tbb::attach{});
    } catch (const std::bad_alloc&) {
      handle_.reset();
    }
    return false;
  }

  static void prepare_fork() {
    // A fork from inside a streamed batch's sink (Python code on the calling
    // thread) would leave the child waiting for work held by workers it does
    // not have: finish that work first, before anything is locked.
    settle_streamed_runs();
    Pool& p = instance();
    p.mutex_.lock();  // held across fork(); released by the two handlers below
    p.try_finalize_locked();
  }
  static void parent_after_fork() { instance().mutex_.unlock(); }
  static void child_after_fork() {
    g_fork_generation.fetch_add(1, std::memory_order_relaxed);
    Pool& p = instance();
    p.in_flight_.store(0, std::memory_order_relaxed);  // those threads do not exist here
    p.mutex_.unlock();
  }

  std::mutex mutex_;
  pid_t owner_pid_ = 0;  // 0: not started in this process lineage
  std::unique_ptr<tbb::task_scheduler_handle> handle_;
  std::atomic<int> in_flight_{0};
  bool atfork_registered_ = false;
  bool shut_down_ = false;
};

// Runs at library unload and at process exit, before oneTBB's own teardown:
// made when the pool first starts, its destructor is registered after every
// static object of oneTBB and so runs before them, also where oneTBB is linked
// into this library (a guard made at load would then run after them, on a
// destroyed scheduler registry).
struct UnloadGuard {
  ~UnloadGuard() { Pool::instance().shutdown(); }
};

void arm_unload_guard() { static UnloadGuard guard; }

// PoolLease gives the pool back at the end of a batch, in the process that
// entered it only: a child's count starts again at zero.
struct PoolLease {
  ~PoolLease() {
    if (generation == fork_generation()) Pool::instance().leave();
  }
  const uint64_t generation = fork_generation();
};

// Every catch (...) here lets the forced unwind of a thread ended by
// pthread_exit() (a daemon thread at interpreter exit, inside a callback run by
// the sink) pass untouched: swallowing it aborts the process, and it cannot be
// carried in an exception_ptr (current_exception() gives an empty one).

// rethrow_carried rethrows an exception caught in batch work on the caller:
// Panic and bad_alloc as themselves, anything else as Panic.
[[noreturn]] void rethrow_carried(const std::exception_ptr& carried) {
  if (!carried) throw Panic("unknown failure in batch work");  // rethrowing an empty one is undefined
  try {
    std::rethrow_exception(carried);
  } catch (const Panic&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Panic(e.what());
  } catch (...) {
    pass_forced_unwind();
    throw Panic("unknown failure in batch work");
  }
}

// FirstFailure keeps the first failure recorded in time. A failing worker
// claims the slot without waiting; a worker that finds it claimed drops its
// own failure. The slot is read only after all workers have joined.
class FirstFailure {
 public:
  template <typename F>
  void record(F&& failure) {
    bool expected = false;
    if (claimed_.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
      slot_ = std::forward<F>(failure);
    }
  }
  bool any() const { return claimed_.load(std::memory_order_acquire); }
  std::variant<std::monostate, Error, std::exception_ptr>& slot() { return slot_; }

 private:
  std::atomic<bool> claimed_{false};
  std::variant<std::monostate, Error, std::exception_ptr> slot_;
};

Status run_sequential(size_t n, const IndexBody& body, const IndexSink* sink) {
  try {
    for (size_t i = 0; i < n; ++i) {
      Status s = body(i);
      if (!s) return s;
      if (sink != nullptr && !(*sink)(i)) return {};
    }
  } catch (...) {
    pass_forced_unwind();
    rethrow_carried(std::current_exception());
  }
  return {};
}

// ParallelRun is the shared state of one batch on the pool.
class ParallelRun {
 public:
  explicit ParallelRun(const IndexBody& body) : body_(body) {}

  // work runs items [begin, end) on the pool; ctx (when given) is the context
  // the parallel_for runs in, otherwise it inherits the enclosing task's.
  void work(size_t begin, size_t end, tbb::task_group_context* ctx) {
    auto chunk = [this](const tbb::blocked_range<size_t>& range) {
      for (size_t i = range.begin(); i != range.end(); ++i) {
        if (stopped()) return;
        try {
          Status s = body_(i);
          if (s) continue;
          first_.record(std::move(s).error());
        } catch (...) {
          pass_forced_unwind();
          first_.record(std::current_exception());
        }
        stop();
        return;
      }
    };
    const tbb::blocked_range<size_t> range(begin, end, 1);
    if (ctx != nullptr) {
      tbb::parallel_for(range, chunk, tbb::auto_partitioner(), *ctx);
    } else {
      tbb::parallel_for(range, chunk, tbb::auto_partitioner());
    }
  }

  bool stopped() const { return stop_.load(std::memory_order_relaxed); }
  void stop() {
    halt();
    ctx_.cancel_group_execution();
  }
  // halt stops the run without touching the scheduler (a forked child).
  void halt() { stop_.store(true, std::memory_order_relaxed); }

  // run_here runs item i on the calling thread, outside the pool; false when
  // it failed (recorded, run halted).
  bool run_here(size_t i) {
    try {
      Status s = body_(i);
      if (s) return true;
      first_.record(std::move(s).error());
    } catch (...) {
      pass_forced_unwind();
      first_.record(std::current_exception());
    }
    halt();
    return false;
  }
  tbb::task_group_context& context() { return ctx_; }

  // result is read after every worker has joined.
  Status result() {
    if (!first_.any()) return {};
    auto& slot = first_.slot();
    if (auto* carried = std::get_if<std::exception_ptr>(&slot)) rethrow_carried(*carried);
    return std::move(std::get<Error>(slot));
  }

 private:
  const IndexBody& body_;
  FirstFailure first_;
  std::atomic<bool> stop_{false};
  // Isolated: a failure here cancels only this batch, never a caller's own
  // enclosing parallel work, and the caller's cancellation does not reach in.
  tbb::task_group_context ctx_{tbb::task_group_context::isolated};
};

Status run_parallel(size_t n, const IndexBody& body) {
  PoolLease lease;
  ParallelRun run(body);
  run.work(0, n, &run.context());
  return run.result();
}

// Streamed batches are cut into about kStreamChunks chunks of at least
// kMinStreamChunk items: enough chunks that the last one's hand-over (the part
// that cannot overlap) is small, few enough that waking the workers per chunk
// costs nothing measurable.
// The first chunks are smaller, kFirstStreamChunk items doubling up to the
// full size: the calling thread starts handing over results almost at once
// instead of working a whole first chunk beside the pool.
constexpr size_t kStreamChunks = 16;
constexpr size_t kMinStreamChunk = 128;
constexpr size_t kFirstStreamChunk = 4;

// StreamedRun is one streamed batch on the pool. While it runs, it is on its
// calling thread's list of streamed runs, so that a fork() from inside its
// sink (a gc callback, a finaliser) can settle it first: the fork handler
// waits on this thread for every launched chunk, so the child's copy of the
// batch has no work outstanding. The child then finishes the batch on its
// own thread with the same results; it never waits on the pool, and leaves
// this run's scheduler objects alone (their locks may be held by workers that
// do not exist there), abandoning them.
struct StreamedRun {
  explicit StreamedRun(const IndexBody& body) : run(body), group(run.context()) {}

  ParallelRun run;
  tbb::task_group group;
  const uint64_t generation = fork_generation();
  size_t launched_end = 0;  // items [0, launched_end) were handed to the pool
  bool settled = false;     // the last fork handler finished every launched item
  StreamedRun* outer = nullptr;
};

thread_local StreamedRun* t_streamed = nullptr;

// settle_streamed_runs runs in the fork handler, on the forking thread: it
// finishes the launched chunks of that thread's streamed runs (this thread
// joins in; it cannot be inside the scheduler itself, since only a sink runs
// Python code).
void settle_streamed_runs() {
  const uint64_t generation = fork_generation();
  for (StreamedRun* r = t_streamed; r != nullptr; r = r->outer) {
    if (r->generation != generation) continue;  // already abandoned by an earlier fork
    r->settled = false;
    try {
      r->group.wait();
      r->settled = true;
    } catch (...) {
      pass_forced_unwind();
      // The child cannot finish this run; it reports that (see finish_in_child).
    }
  }
}

// ActiveRun keeps a run on its thread's list for its lifetime.
class ActiveRun {
 public:
  explicit ActiveRun(StreamedRun* r) : run_(r) {
    r->outer = t_streamed;
    t_streamed = r;
  }
  ~ActiveRun() { t_streamed = run_->outer; }
  ActiveRun(const ActiveRun&) = delete;
  ActiveRun& operator=(const ActiveRun&) = delete;

 private:
  StreamedRun* run_;
};

bool forked_since(const StreamedRun& r) { return r.generation != fork_generation(); }

// finish_in_child finishes, in a forked child, a run whose sink returned (or
// threw) after the fork: items from `next` on are handed to the sink in order,
// those never launched are worked on this thread first. `r` is abandoned.
Status finish_in_child(StreamedRun* r, size_t next, size_t n, const IndexSink& sink) {
  if (!r->settled) throw Panic("fork() inside a parallel batch: the child cannot finish the batch its parent started");
  ParallelRun& run = r->run;
  for (size_t i = next; i < n && !run.stopped(); ++i) {
    if (i >= r->launched_end && !run.run_here(i)) break;
    if (!sink(i)) run.halt();
  }
  return run.result();
}

Status run_parallel_streamed(size_t n, const IndexBody& body, const IndexSink& sink) {
  PoolLease lease;
  auto owned = std::make_unique<StreamedRun>(body);
  StreamedRun* r = owned.get();
  ActiveRun active(r);
  ParallelRun& run = r->run;
  const size_t full = std::max(kMinStreamChunk, (n + kStreamChunks - 1) / kStreamChunks);
  size_t size = std::min(full, kFirstStreamChunk);
  // launch starts the chunk from `begin` on the pool and returns its end.
  auto launch = [&](size_t begin) {
    const size_t end = std::min(n, begin + size);
    size = std::min(full, 2 * size);
    r->group.run([&run, begin, end] { run.work(begin, end, nullptr); });
    r->launched_end = end;
    return end;
  };
  size_t next = 0;  // the next item for the sink
  try {
    size_t launched = launch(0);
    r->group.wait();
    while (next < n && !run.stopped()) {
      // The workers start on the next chunk while this thread hands over the
      // finished one, then this thread joins them.
      const size_t end = launched;
      if (launched < n) launched = launch(launched);
      while (next < end && !run.stopped()) {
        const bool more = sink(next++);
        if (forked_since(*r)) {
          owned.release();  // in a child: see StreamedRun
          if (!more) run.halt();
          return finish_in_child(r, next, n, sink);
        }
        if (!more) {
          run.stop();
          break;
        }
      }
      r->group.wait();
    }
  } catch (...) {
    // Only the sink can throw here (or its thread is being ended); no worker
    // may outlive this frame, unless the workers are the parent's (a fork from
    // inside the sink).
    if (forked_since(*r)) {
      owned.release();
    } else {
      run.stop();
      r->group.wait();
    }
    pass_forced_unwind();
    rethrow_carried(std::current_exception());
  }
  return run.result();
}

std::string u128_decimal(unsigned __int128 v) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return digits;
}

}  // namespace

Status for_each_index(size_t n, IndexBody body) {
  if (n < kParallelThreshold || !Pool::instance().enter()) return run_sequential(n, body, nullptr);
  return run_parallel(n, body);
}

Status for_each_index_streamed(size_t n, IndexBody body, IndexSink sink) {
  if (n < kParallelThreshold || !Pool::instance().enter()) return run_sequential(n, body, &sink);
  return run_parallel_streamed(n, body, sink);
}

void run_both(FunctionRef<void()> first, FunctionRef<void()> second) {
  if (!Pool::instance().enter()) {
    first();
    second();
    return;
  }
  PoolLease lease;
  std::exception_ptr carried[2];
  auto guarded = [](FunctionRef<void()>& fn, std::exception_ptr& slot) {
    try {
      fn();
    } catch (...) {
      pass_forced_unwind();
      slot = std::current_exception();
    }
  };
  tbb::task_group group;
  group.run([&] { guarded(second, carried[1]); });
  guarded(first, carried[0]);
  group.wait();
  for (const std::exception_ptr& e : carried) {
    if (e) rethrow_carried(e);
  }
}

bool batch_pool_usable() { return Pool::instance().usable(); }

Status check_batch_nonce_range(uint64_t base, size_t n) {
  if (n == 0) return {};
  const unsigned __int128 last = static_cast<unsigned __int128>(base) + (n - 1);
  if (last > UINT64_MAX) return Error::invalid_nonce(u128_decimal(last));
  return {};
}

Result<std::vector<SignedTransaction>> sign_all(const Signer& signer, std::vector<OrderItem> items,
                                                uint64_t base_nonce) {
  if (Status s = check_batch_nonce_range(base_nonce, items.size()); !s) return std::move(s).error();
  std::vector<SignedTransaction> out(items.size());
  const ItemGroups groups(items.size());
  Status s = for_each_index(groups.count, [&](size_t g) {
    const size_t b = groups.begin(g);
    return signer.sign_single_items(&items[b], groups.length(g), base_nonce + b, &out[b]);
  });
  if (!s) return std::move(s).error();
  return out;
}

namespace {

// sign_grouped_streamed signs `items` (moved from) in groups through `sign_group` (a Signer
// member taking a group's items, its length, its first nonce and its output)
// and renders them where they were signed, then hands the renderings to the
// sink in index order.
template <typename Item, typename SignGroup>
Status sign_grouped_streamed(const Signer& signer, std::vector<Item>& items, uint64_t base_nonce,
                             RenderedSink& sink, SignGroup sign_group) {
  if (Status s = check_batch_nonce_range(base_nonce, items.size()); !s) return s;
  if (items.empty()) return {};
  if (!sink.begin(signer.pubkey_base58(), signer.pubkey_base58())) return {};
  std::vector<SignedTransaction> out(items.size());
  return render_groups_streamed(
      items.size(),
      [&](size_t b, size_t n, Tape& tape) {
        std::array<ItemJson, ItemGroups::kMaxSize> json;
        Status s = (signer.*sign_group)(&items[b], n, base_nonce + b, &out[b], json.data());
        if (!s) return s;
        for (size_t i = b; i < b + n; ++i) {
          render_signed(out[i], json[i - b], tape);
          out[i] = SignedTransaction();  // freed here, by the thread that made it
        }
        return s;
      },
      sink);
}

}  // namespace

Status sign_all_streamed(const Signer& signer, std::vector<OrderItem> items, uint64_t base_nonce,
                         RenderedSink& sink) {
  return sign_grouped_streamed(signer, items, base_nonce, sink, &Signer::sign_single_items);
}

Status sign_orders_batch_streamed(const Signer& signer, std::vector<std::vector<OrderItem>> batches,
                                  uint64_t base_nonce, RenderedSink& sink) {
  return sign_grouped_streamed(signer, batches, base_nonce, sink, &Signer::sign_single_order_batches);
}

}  // namespace fyrn
