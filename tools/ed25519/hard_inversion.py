"""Searches for a field element whose inversion needs many divsteps.

fe51_invert runs a fixed 590 divsteps (ten batches of 59) from delta = 1/2,
enough for every input; random inputs need about 515 and rarely more than 530,
so a loop cut one batch short still inverts them. This script counts the
divsteps an input needs (the loop's own step, on Python integers) and climbs
from the hardest of a random sample by flipping bits, keeping any input that
needs at least as many. It prints the count, the value and its radix-2^51 limbs
(the form test_ed25519.cpp writes it in).

    python3 tools/ed25519/hard_inversion.py [iterations] [seed]
"""

import random
import sys

P = 2**255 - 19


def divsteps(z):
    """Divsteps until g = 0, starting from f = p, g = z, delta = 1/2 (kept doubled)."""
    delta2, f, g, n = 1, P, z, 0
    while g:
        if delta2 > 0 and g & 1:
            delta2, f, g = 2 - delta2, g, (g - f) >> 1
        else:
            delta2, g = delta2 + 2, (g + (f if g & 1 else 0)) >> 1
        n += 1
    return n


def main():
    iterations = int(sys.argv[1]) if len(sys.argv) > 1 else 30_000
    rng = random.Random(int(sys.argv[2]) if len(sys.argv) > 2 else 2)
    best = max((rng.randrange(1, P) for _ in range(2000)), key=divsteps)
    steps = divsteps(best)
    for _ in range(iterations):
        candidate = best ^ (1 << rng.randrange(255))
        if rng.random() < 0.5:
            candidate ^= 1 << rng.randrange(255)
        if 0 < candidate < P and divsteps(candidate) >= steps:
            best, steps = candidate, divsteps(candidate)
    limbs = ", ".join(hex((best >> (51 * i)) & ((1 << 51) - 1)) for i in range(5))
    print(f"{steps} divsteps: {best:#x}\nradix 2^51: {{{limbs}}}")


if __name__ == "__main__":
    main()
