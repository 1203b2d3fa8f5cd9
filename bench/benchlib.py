"""Shared timing and table helpers for the bench_*.py modules.

Every figure is reported as a ratio against a floor measured in the same run,
so that numbers from different machines (and busy ones) stay comparable."""

import timeit


def ns_per_call(fn, min_time=0.2, repeat=5):
    """Best-of-`repeat` nanoseconds per call of fn(), each repeat running at least min_time seconds."""
    timer = timeit.Timer(fn)
    number = 1
    while timer.timeit(number) < min_time / 10:
        number *= 4
    number = max(1, int(number * 10 * min_time / max(timer.timeit(number), 1e-9) / 10))
    return min(timer.repeat(repeat=repeat, number=number)) / number * 1e9


def print_table(title, floor_name, rows):
    """rows: list of (name, ns). The row named floor_name is the 1.00x reference."""
    floor = dict(rows)[floor_name]
    width = max(len(name) for name, _ in rows)
    print(f"\n{title}")
    print(f"  {'':{width}}  {'ns/call':>10}  {'x floor':>8}")
    for name, ns in rows:
        marker = "  (floor)" if name == floor_name else ""
        print(f"  {name:{width}}  {ns:10.1f}  {ns / floor:8.2f}{marker}")
