"""Shared timing and table helpers for the bench_*.py modules.

Every figure is reported as a ratio against a floor measured in the same run,
so that numbers from different machines (and busy ones) stay comparable."""

import time
import timeit


def ns_per_call(fn, min_time=0.2, repeat=5):
    """Best-of-`repeat` nanoseconds per call of fn(), each repeat running at least min_time seconds."""
    timer = timeit.Timer(fn)
    number = 1
    while timer.timeit(number) < min_time / 10:
        number *= 4
    number = max(1, int(number * 10 * min_time / max(timer.timeit(number), 1e-9) / 10))
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def interleaved(fns, rounds=40, number=200):
    """Best nanoseconds per call of each fn, in this thread's CPU time (so time
    spent descheduled by other processes does not count), timed in alternating
    short rounds so that cache and frequency effects hit every candidate alike."""
    best = {name: float("inf") for name in fns}
    for _ in range(rounds):
        for name, fn in fns.items():
            t = time.thread_time_ns()
            for _ in range(number):
                fn()
            best[name] = min(best[name], (time.thread_time_ns() - t) / number)
    return best


def print_table(title, floor_name, rows):
    """rows: list of (name, ns). The row named floor_name is the 1.00x reference."""
    floor = dict(rows)[floor_name]
    width = max(len(name) for name, _ in rows)
    print(f"\n{title}")
    print(f"  {'':{width}}  {'ns/call':>10}  {'x floor':>8}")
    for name, ns in rows:
        marker = "  (floor)" if name == floor_name else ""
        print(f"  {name:{width}}  {ns:10.1f}  {ns / floor:8.2f}{marker}")


def interleaved_wall(fns, rounds=7, min_round=0.03):
    """Best wall-clock seconds per call of each fn, timed in alternating rounds
    like interleaved(). Wall clock, not CPU time, because these calls run on
    several threads (worker pools) and what counts is when the caller gets its
    result back. Each round of a fn repeats it until at least min_round seconds
    have passed (calibrated once), so short calls are not timer-bound."""
    number = {}
    for name, fn in fns.items():
        fn()  # warm up: pools started, caches and allocator pools filled
        n = 1
        while True:
            t = time.perf_counter()
            for _ in range(n):
                fn()
            elapsed = time.perf_counter() - t
            if elapsed >= min_round / 4:
                number[name] = max(1, round(n * min_round / elapsed))
                break
            n *= 4
    best = {name: float("inf") for name in fns}
    for _ in range(rounds):
        for name, fn in fns.items():
            n = number[name]
            t = time.perf_counter()
            for _ in range(n):
                fn()
            best[name] = min(best[name], (time.perf_counter() - t) / n)
    return best
