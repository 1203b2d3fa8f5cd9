"""The benchmark report: bench/results.md (tables) and bench/results.png (plot).

bench/run.py runs it last, after every other benchmark, so that it does not
share the machine with them. Two parts, each measured against a floor taken in
the same run:

- single calls: every main entry point against the cryptography it cannot
  avoid (Ed25519 sign or verify of the same number of bytes, SHA-256 of the
  order-identifier preimage, the Solana address derivation, key generation),
  timed by benchlib.interleaved (alternating rounds, thread CPU time);
- batches: sign_all and py_prepare_all_orders throughput against batch size,
  next to PyNaCl signing spread over one Python thread per core (PyNaCl's cffi
  calls release the interpreter lock while libsodium signs; gil_check() shows
  it), timed by benchlib.interleaved_wall (alternating rounds, wall clock).

Usage: bench/report.py [output-directory]  (default: bench/)"""

import datetime
import hashlib
import os
import platform
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import base58
import nacl
import nacl.signing
from solders.pubkey import Pubkey

import _native
from benchlib import interleaved, interleaved_wall

BENCH_DIR = Path(__file__).resolve().parent
DOMAIN = "mainnet"
SEED = bytes(range(32))
ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 50000.5, "size": 0.25}
BRACKET = [
    ORDER,
    {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 48000.0},
    {"type": "take_profit", "symbol": "BTC-USD", "is_buy": False, "size": 0.25, "trigger_price": 53000.0},
]
ID_NONCE = 1_700_000_000_000_000_000
# Sequence number (4 bytes), the 42-byte wire encoding of ORDER, account, nonce.
ID_PREIMAGE_LEN = 4 + 42 + 32 + 8
BLOCKHASH = base58.b58encode(bytes(range(100, 132))).decode()
TOKEN_PROGRAM = Pubkey.from_string("TokenkegQfeZyiNwAJbNbGKPFXCWuBvf9Ss623VQ5DA")
USDC_MINT = Pubkey.from_string("EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v")
ATA_PROGRAM = Pubkey.from_string("ATokenGPvbdGVxr1b2hvZbsiqW5xWH25efTNsLJA8knL")
BATCH_SIZES = [1, 10, 100, 1000, 10_000]
BATCH_ROUNDS = 9
# Threaded PyNaCl below this share of perfect scaling means other processes held cores.
BUSY_BELOW = 0.8


def cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def git_commit():
    try:
        out = subprocess.run(["git", "-C", str(BENCH_DIR), "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True, timeout=10)
        return out.stdout.strip() or None
    except (OSError, subprocess.SubprocessError):
        return None


# --- single calls ----------------------------------------------------------------------

class Fixture:
    """Keys, signers and the prepared inputs every single-call row needs."""

    def __init__(self):
        self.wallet = nacl.signing.SigningKey(SEED)
        self.verify_key = self.wallet.verify_key
        self.signer = _native.Signer(_native.Keypair(SEED), DOMAIN)
        self.account = self.signer.pubkey
        assert self.account == base58.b58encode(bytes(self.verify_key)).decode()

        self.prepared = _native.py_prepare_order(ORDER, DOMAIN, self.account, nonce=1)
        self.order_msg = self.prepared["message_bytes"]
        self.order_sig = base58.b58encode(self.wallet.sign(self.order_msg).signature).decode()
        self.order_sig_raw = self.wallet.sign(self.order_msg).signature

        group = _native.py_prepare_order_group(BRACKET, DOMAIN, self.account, nonce=1)
        self.group_len = len(group["message_bytes"])
        self.wallet_msg = _native.prepare_wallet_message(group, "offchain")
        self.envelope = self.wallet_msg["message_bytes"]
        self.envelope_sig_raw = self.wallet.sign(self.envelope).signature
        self.envelope_sig = base58.b58encode(self.envelope_sig_raw).decode()

        owner = Pubkey.from_string(self.account)
        self.owner = owner
        self.ata_seeds = [bytes(owner), bytes(TOKEN_PROGRAM), bytes(USDC_MINT)]


def single_rows(fx):
    """(entry, entry fn, floor label, floor fn, target) for every main entry point.
    A target is the highest acceptable ratio; None where none is set."""
    n_order, n_group, n_env = len(fx.order_msg), fx.group_len, len(fx.envelope)
    sign = fx.wallet.sign
    verify = fx.verify_key.verify
    blank = {n: bytes(n) for n in (n_order, n_group, n_env)}
    signer, account = fx.signer, fx.account

    sign_floor = {n: (f"PyNaCl SigningKey.sign, {n} B", (lambda m=blank[n]: sign(m))) for n in blank}
    verify_order = (f"PyNaCl VerifyKey.verify, {n_order} B",
                    lambda: verify(fx.order_msg, fx.order_sig_raw))
    verify_env = (f"PyNaCl VerifyKey.verify, {n_env} B", lambda: verify(fx.envelope, fx.envelope_sig_raw))
    sign_and_verify = (f"PyNaCl sign + verify, {n_order} B", lambda: verify(sign(blank[n_order])))
    preimage = bytes(ID_PREIMAGE_LEN)
    sha256 = (f"hashlib.sha256, {ID_PREIMAGE_LEN} B", lambda: hashlib.sha256(preimage).digest())
    derive = ("solders: on-curve check + find_program_address",
              lambda: (fx.owner.is_on_curve(), Pubkey.find_program_address(fx.ata_seeds, ATA_PROGRAM)))
    generate = ("PyNaCl SigningKey.generate()", nacl.signing.SigningKey.generate)

    return [
        ("Signer.sign(limit order)", lambda: signer.sign(ORDER), *sign_floor[n_order], 1.10),
        ("Signer.sign_group(3-order bracket)", lambda: signer.sign_group(BRACKET), *sign_floor[n_group], None),
        ("py_prepare_order(limit order)", lambda: _native.py_prepare_order(ORDER, DOMAIN, account, nonce=1),
         *sign_floor[n_order], 0.25),
        ("py_finalize_transaction", lambda: _native.py_finalize_transaction(fx.prepared, fx.order_sig),
         *verify_order, 1.15),
        ('prepare_wallet_message(bracket, "offchain")',
         lambda: _native.prepare_wallet_message(fx.wallet_msg["prepared"], "offchain"), *sign_floor[n_env], 0.3),
        ("finalize_wallet_message(offchain)",
         lambda: _native.finalize_wallet_message(fx.wallet_msg, fx.envelope_sig), *verify_env, 1.2),
        ("Signer.sign_prepared(prepared order)", lambda: signer.sign_prepared(fx.prepared), *sign_and_verify, None),
        ("compute_order_id_from_order(limit order)",
         lambda: _native.compute_order_id_from_order(ORDER, ID_NONCE, account), *sha256, None),
        ("export_deposit_transaction", lambda: _native.export_deposit_transaction(account, 1_000_000, BLOCKHASH),
         *derive, None),
        ("Keypair()", _native.Keypair, *generate, None),
    ]


def measure_single(fx):
    rows = single_rows(fx)
    fns = {}
    for entry, entry_fn, floor, floor_fn, _ in rows:
        fns[entry] = entry_fn
        fns.setdefault(floor, floor_fn)
    best = interleaved(fns, rounds=50, number=100)
    return [{"entry": entry, "ns": best[entry], "floor": floor, "floor_ns": best[floor],
             "ratio": best[entry] / best[floor], "target": target}
            for entry, _, floor, _, target in rows], best


# --- batches ---------------------------------------------------------------------------

def gil_check(key, seconds=0.3):
    """How fast a pure-Python counter thread runs while another thread is inside
    one long PyNaCl sign call, as a share of its speed alone. Near 1.0 (given a
    free core) means the interpreter lock is released during signing; near 0
    means it is held."""
    big = bytes(32 << 20)  # one call of tens of milliseconds: Ed25519 hashes the message twice
    stop = threading.Event()
    count = [0]

    def spin():
        while not stop.is_set():
            count[0] += 1

    def rate_while(fn):
        start_count, t = count[0], time.perf_counter()
        fn()
        return (count[0] - start_count) / (time.perf_counter() - t)

    spinner = threading.Thread(target=spin, daemon=True)
    spinner.start()
    try:
        time.sleep(0.02)
        share = []
        for _ in range(3):
            alone = rate_while(lambda: time.sleep(seconds / 6))
            during = rate_while(lambda: key.sign(big))
            share.append(during / alone if alone else 0.0)
    finally:
        stop.set()
        spinner.join()
    return max(share)


def measure_batches(fx):
    k = cores()
    key, signer, account = fx.wallet, fx.signer, fx.account
    orders = [dict(ORDER, price=50000.0 + i % 100) for i in range(max(BATCH_SIZES))]
    msg_len = len(fx.order_msg)
    messages = [bytes([i % 256]) + bytes(msg_len - 1) for i in range(max(BATCH_SIZES))]
    sign = key.sign

    def sign_chunk(chunk):
        for m in chunk:
            sign(m)

    pool = ThreadPoolExecutor(max_workers=k)
    try:
        def pynacl_threads(batch):
            step = -(-len(batch) // k)
            for f in [pool.submit(sign_chunk, batch[i:i + step]) for i in range(0, len(batch), step)]:
                f.result()

        # One set of alternating rounds over every (batch size, candidate) pair,
        # so that a burst of load from other processes on this shared machine
        # hits all batch sizes alike instead of spoiling one of them.
        fns = {}
        for n in BATCH_SIZES:
            o, m = orders[:n], messages[:n]
            fns.update({
                (n, "sign_all"): lambda o=o: signer.sign_all(o),
                (n, "py_prepare_all_orders"): lambda o=o: _native.py_prepare_all_orders(o, DOMAIN, account),
                (n, "pynacl_threads"): lambda m=m: pynacl_threads(m),
                (n, "pynacl_one"): lambda m=m: sign_chunk(m),
                (n, "sign_loop"): lambda o=o: [signer.sign(x) for x in o],
                (n, "prepare_loop"): lambda o=o: [_native.py_prepare_order(x, DOMAIN, account) for x in o],
            })
        best = interleaved_wall(fns, rounds=BATCH_ROUNDS, min_round=0.03)
        rows = []
        for n in BATCH_SIZES:
            rows.append({"n": n, **{name: n / s for (size, name), s in best.items() if size == n}})
            print(f"  batch {n:>6,}: " + ", ".join(f"{name} {rate:,.0f}/s" for name, rate in rows[-1].items()
                                                 if name != "n"), flush=True)

        # CPU seconds over wall seconds of the threaded PyNaCl run: about k when
        # the threads really sign at the same time. Best of several short runs,
        # like every other figure here.
        utilisation = 0.0
        for _ in range(7):
            cpu, wall = time.process_time(), time.perf_counter()
            pynacl_threads(messages)
            utilisation = max(utilisation, (time.process_time() - cpu) / (time.perf_counter() - wall))
    finally:
        pool.shutdown()
    return rows, utilisation


# --- output ----------------------------------------------------------------------------

def fmt_ns(ns):
    return f"{ns:,.0f}" if ns >= 100 else f"{ns:,.1f}"


def verdict(ratio, target, higher_is_better=False):
    if target is None:
        return "—"
    ok = ratio >= target if higher_is_better else ratio <= target
    return "yes" if ok else "**no**"


def write_markdown(path, info, single, batches, derived):
    k = info["cores"]
    lines = [
        "# fyrn-keychain benchmark report",
        "",
        f"Written by `make bench` (bench/report.py) on {info['date']}"
        + (f" at commit `{info['commit']}`" if info["commit"] else "") + ".",
        "",
        f"- Machine: {info['cpu']}, {k} core(s) usable ({info['cpus']} online); "
        f"load average {info['load_start']} at the start, {info['load_end']} at the end (1, 5, 15 min).",
        f"- Python {info['python']}, PyNaCl {info['pynacl']} (its own libsodium), {info['platform']}.",
        "- Every figure is compared with a floor measured in the same run, so ratios stay comparable "
        "between machines and across load; absolute times are for this machine only.",
        "",
        "## Single calls against their crypto floor",
        "",
        "Best of 50 alternating rounds of 100 calls, in the calling thread's CPU time "
        "(`benchlib.interleaved`). Target: the highest acceptable ratio.",
        "",
        "| Entry point | ns/call | Floor | Floor ns/call | Ratio | Target | Met |",
        "|---|---:|---|---:|---:|---:|:---:|",
    ]
    for r in single:
        target = "—" if r["target"] is None else f"≤ {r['target']:.2f}"
        lines.append(f"| `{r['entry']}` | {fmt_ns(r['ns'])} | {r['floor']} | {fmt_ns(r['floor_ns'])} "
                     f"| {r['ratio']:.2f} | {target} | {verdict(r['ratio'], r['target'])} |")
    lines += [
        "",
        "Floors:",
        "",
        "- Signing entry points: PyNaCl signing a message of the length the entry point signs "
        "(the wallet's signature, for the preparation functions); finalisation: PyNaCl verifying the same bytes.",
        "- `Signer.sign_prepared` signs and then verifies the signature as finalisation does: "
        "its floor is one PyNaCl sign plus one verify of the same length.",
        f"- `compute_order_id_from_order`: its only cryptography is one SHA-256 of the {ID_PREIMAGE_LEN}-byte "
        "identifier preimage, so the floor is `hashlib.sha256` of that many bytes; the ratio is high because "
        "parsing the dictionary and the base58 text cost more than the hash. Against one PyNaCl signature "
        f"of {derived['order_msg_len']} bytes it costs {derived['order_id_vs_sign']:.3f}x "
        "(bench_parse's target for the parse alone: under 0.05x).",
        "- `export_deposit_transaction`: its only cryptography is the owner's on-curve check and the "
        "associated-token-account derivation (SHA-256 and a curve check per bump tried); solders "
        "(Rust, one Python call each) does the same two for the same owner.",
        "- `Keypair()`: PyNaCl generating a key (32 random bytes and the public-key derivation).",
        "",
        "## Batch throughput",
        "",
        f"Items per second, wall clock, best of {BATCH_ROUNDS} rounds alternating over every batch size and "
        "column (`benchlib.interleaved_wall`). "
        f"PyNaCl threads: {k} Python thread(s) each signing its share of {derived['order_msg_len']}-byte messages "
        "with `SigningKey.sign`; one-thread rows call the single-item function in a Python loop.",
        "",
        "| Batch | `sign_all` | `py_prepare_all_orders` | PyNaCl, "
        f"{k} threads | PyNaCl, 1 thread | `Signer.sign` loop | `py_prepare_order` loop |",
        "|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for b in batches:
        lines.append(f"| {b['n']:,} | {b['sign_all']:,.0f} | {b['py_prepare_all_orders']:,.0f} "
                     f"| {b['pynacl_threads']:,.0f} | {b['pynacl_one']:,.0f} | {b['sign_loop']:,.0f} "
                     f"| {b['prepare_loop']:,.0f} |")
    n_max = batches[-1]["n"]
    if derived["pynacl_parallel"] < BUSY_BELOW:
        lines += ["", f"**The machine was busy:** PyNaCl on {k} threads reached only "
                  f"{derived['pynacl_parallel']:.2f} of {k} × one thread, so other processes held cores; "
                  "the parallel columns are lower bounds. Run `make bench` again on an idle machine."]
    lines += [
        "",
        f"In the largest batch {n_max:,} result dictionaries stay alive at once, which slows the "
        "Python-side allocation of the batch and of the loop alike: the loop over the same orders is "
        "the like-for-like reference for the batch; the single call is shown too.",
        "",
        f"At {n_max:,} items:",
        "",
        "| Ratio | Value | Target | Met |",
        "|---|---:|---:|:---:|",
        f"| `sign_all` / ({k} × `Signer.sign` loop) | {derived['sign_all_vs_cores']:.2f} | ≥ 0.85 "
        f"| {verdict(derived['sign_all_vs_cores'], 0.85, True)} |",
        f"| `py_prepare_all_orders` time per order / `py_prepare_order` loop over the same orders "
        f"| {derived['prepare_all_per_order']:.2f} | ≤ 1.00 | {verdict(derived['prepare_all_per_order'], 1.0)} |",
        f"| `py_prepare_all_orders` time per order / one `py_prepare_order` call (batch of 1) "
        f"| {derived['prepare_all_vs_one_call']:.2f} | ≤ 1.00 | {verdict(derived['prepare_all_vs_one_call'], 1.0)} |",
        f"| PyNaCl {k} threads / ({k} × PyNaCl 1 thread): what the machine allowed | "
        f"{derived['pynacl_parallel']:.2f} | — | — |",
        f"| `sign_all` / PyNaCl {k} threads | {derived['sign_all_vs_pynacl_threads']:.2f} | — | — |",
        "",
        f"PyNaCl releases the interpreter lock while libsodium signs (its bindings are cffi calls, which "
        f"drop the lock): a pure-Python counter thread kept {100 * derived['gil_share']:.0f}% of its solo "
        f"speed while another thread was inside one long `SigningKey.sign` call (0% if the lock were held), "
        f"and the threaded PyNaCl run used {derived['pynacl_utilisation']:.2f} CPU seconds per wall second. "
        "Its Python-side work (argument checks, building the result object) still takes the lock, "
        "so threads cannot quite reach cores × one thread.",
        "",
        "![Benchmark plot](results.png)",
        "",
    ]
    path.write_text("\n".join(lines))


def per_second(value, _pos=None):
    if value >= 1e6:
        return f"{value / 1e6:g}M/s"
    return f"{value / 1e3:g}k/s" if value >= 1e3 else f"{value:g}/s"


def write_plot(path, info, single, batches, busy=False):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import ticker

    k = info["cores"]
    fig, (left, right) = plt.subplots(1, 2, figsize=(15, 6.2), gridspec_kw={"width_ratios": [1.05, 1]})

    labels = [r["entry"] for r in single][::-1]
    ratios = [r["ratio"] for r in single][::-1]
    targets = [r["target"] for r in single][::-1]
    colours = ["tab:gray" if t is None else ("tab:green" if v <= t else "tab:red")
               for v, t in zip(ratios, targets)]
    y = range(len(labels))
    left.barh(y, ratios, color=colours, height=0.6)
    for i, (v, t) in enumerate(zip(ratios, targets)):
        left.text(max(v, t or 0) * 1.07, i, f"{v:.2f}", va="center", fontsize=9)
        if t is not None:
            left.plot([t, t], [i - 0.38, i + 0.38], color="black", linewidth=2)
    left.axvline(1.0, color="black", linestyle=":", linewidth=1)
    left.set_xscale("log")
    left.set_xlim(min(ratios + [0.1]) / 1.6, max(ratios) * 1.6)
    left.set_yticks(list(y), labels, fontsize=9)
    left.set_xlabel("cost / crypto floor (log scale; 1 = floor)")
    left.set_title("Single call vs its crypto floor\n(green: meets target, red: misses, grey: no target; "
                   "black tick: target)", fontsize=10)
    left.grid(axis="x", which="both", alpha=0.3)

    n = [b["n"] for b in batches]
    series = [
        ("sign_all", "Signer.sign_all", "tab:blue", "-", "o"),
        ("sign_loop", "Signer.sign, Python loop (1 thread)", "tab:blue", "--", None),
        ("py_prepare_all_orders", "py_prepare_all_orders", "tab:orange", "-", "s"),
        ("prepare_loop", "py_prepare_order, Python loop (1 thread)", "tab:orange", "--", None),
        ("pynacl_threads", f"PyNaCl SigningKey.sign, {k} Python threads", "black", "-", "^"),
        ("pynacl_one", "PyNaCl SigningKey.sign, 1 thread", "black", "--", None),
    ]
    for key, label, colour, style, marker in series:
        right.plot(n, [b[key] for b in batches], color=colour, linestyle=style, marker=marker, label=label)
    right.plot(n, [k * b["pynacl_one"] for b in batches], color="gray", linestyle=":",
               label=f"{k} × PyNaCl 1 thread (perfect scaling)")
    right.set_xscale("log")
    right.set_yscale("log")
    low, high = right.get_ylim()
    right.set_ylim(low, high * 1.3)  # room above the highest line for its tick label
    right.set_xticks(n, [f"{x:,}" for x in n])
    right.xaxis.set_minor_locator(ticker.NullLocator())
    right.yaxis.set_major_locator(ticker.LogLocator(base=10, subs=(1.0, 2.0, 3.0, 5.0)))
    right.yaxis.set_major_formatter(ticker.FuncFormatter(per_second))
    right.yaxis.set_minor_formatter(ticker.NullFormatter())
    right.set_xlabel("batch size (items per call, log scale)")
    right.set_ylabel("throughput (items per second, log scale)")
    right.set_title(f"Batch throughput vs batch size ({k} cores)", fontsize=10)
    if busy:  # say so on the picture too: the README shows it without the tables
        right.text(0.02, 0.97, "machine busy: other processes held cores,\nparallel lines are lower bounds",
                   transform=right.transAxes, va="top", fontsize=9, color="tab:red")
    right.grid(which="both", alpha=0.3)
    right.legend(fontsize=8.5, loc="lower right")

    fig.suptitle(f"fyrn-keychain benchmarks — {info['cpu']}, {k} cores, load average {info['load_start']} "
                 f"(1, 5, 15 min) — {info['date']}", fontsize=11)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def run(out_dir=BENCH_DIR):
    out_dir = Path(out_dir)
    load = lambda: ", ".join(f"{x:.2f}" for x in os.getloadavg())  # noqa: E731
    info = {
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "commit": git_commit(),
        "cpu": cpu_model(),
        "cores": cores(),
        "cpus": os.cpu_count(),
        "load_start": load(),
        "python": platform.python_version(),
        "pynacl": nacl.__version__,
        "platform": platform.platform(terse=True),
    }
    fx = Fixture()
    print("single calls ...", flush=True)
    single, best = measure_single(fx)
    for r in single:
        print(f"  {r['entry']:45} {r['ns']:10.1f} ns  {r['ratio']:6.2f}x  {r['floor']}")
    print("batches ...", flush=True)
    batches, utilisation = measure_batches(fx)
    gil_share = gil_check(fx.wallet)
    info["load_end"] = load()

    k = info["cores"]
    top = batches[-1]
    sign_floor = next(r["floor"] for r in single if r["entry"].startswith("Signer.sign("))
    derived = {
        "sign_all_vs_cores": top["sign_all"] / (k * top["sign_loop"]),
        "prepare_all_per_order": top["prepare_loop"] / top["py_prepare_all_orders"],
        "prepare_all_vs_one_call": batches[0]["prepare_loop"] / top["py_prepare_all_orders"],
        "pynacl_parallel": top["pynacl_threads"] / (k * top["pynacl_one"]),
        "sign_all_vs_pynacl_threads": top["sign_all"] / top["pynacl_threads"],
        "order_id_vs_sign": best["compute_order_id_from_order(limit order)"] / best[sign_floor],
        "gil_share": gil_share,
        "order_msg_len": len(fx.order_msg),
        "pynacl_utilisation": utilisation,
    }
    md, png = out_dir / "results.md", out_dir / "results.png"
    write_markdown(md, info, single, batches, derived)
    write_plot(png, info, single, batches, busy=derived["pynacl_parallel"] < BUSY_BELOW)
    print(f"  sign_all / ({k} x Signer.sign) = {derived['sign_all_vs_cores']:.2f} (target >= 0.85); "
          f"py_prepare_all_orders per order / py_prepare_order loop = {derived['prepare_all_per_order']:.2f}, "
          f"/ one call = {derived['prepare_all_vs_one_call']:.2f} (target <= 1.0)")
    print(f"  PyNaCl {k} threads / ({k} x 1 thread) = {derived['pynacl_parallel']:.2f}; counter thread kept "
          f"{100 * gil_share:.0f}% of its speed during a PyNaCl sign (lock released)")
    if derived["pynacl_parallel"] < BUSY_BELOW:
        print("  WARNING: the machine was busy (threaded PyNaCl did not scale); parallel figures are lower bounds")
    print(f"  wrote {md} and {png}")
    return derived


if __name__ == "__main__":
    run(*sys.argv[1:2])
