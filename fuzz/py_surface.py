"""Structure-aware atheris fuzzers for the _native Python surface.

    python fuzz/py_surface.py TARGET [libFuzzer flags...]

TARGET is one of the keys of TARGETS below. Each input is read as a stream of
choices (atheris' FuzzedDataProvider) that builds valid-looking arguments from
templates and then breaks them: wrong types, random nesting, subclasses of
dict/str/int/float with raising or re-entrant hooks, huge ints, NaN,
surrogates, NUL, self-containing containers, edited bytes and fields.

Only ValueError, TypeError, OverflowError, RuntimeError, RecursionError and
UnicodeError (and the harness' own HookError, raised by its hooks) may escape a
call; anything else is re-raised and reported by atheris as a finding, and so
is a broken invariant (an accepted key text that does not round-trip, a
signature that does not verify). Counts of calls per entry point are written
to $FYRN_FUZZ_STATS (JSON) every few seconds and when the run ends.
"""

import atexit
import base64
import ctypes
import json
import math
import os
import sys
import time

import atheris

with atheris.instrument_imports():
    import base58
    import nacl.exceptions
    import nacl.signing

import _native  # the extension under test is native code: not instrumented

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))
from surface import ENTRY_POINTS  # noqa: E402

ALLOWED = (ValueError, TypeError, OverflowError, RuntimeError, RecursionError, UnicodeError)


class HookError(Exception):
    """Raised on purpose by the harness' hooks; the library must pass it on."""


EXPECTED = ALLOWED + (HookError,)

KEY = nacl.signing.SigningKey(bytes(range(1, 33)))
KEY_RAW = bytes(KEY) + bytes(KEY.verify_key)
ACCOUNT = base58.b58encode(bytes(KEY.verify_key)).decode()
OTHER = base58.b58encode(bytes([9]) * 32).decode()
HASH = base58.b58encode(bytes(range(32))).decode()
KEYPAIR = _native.Keypair(bytes(KEY))
SIGNER = _native.Signer(KEYPAIR, "devnet")
SIGNER2 = _native.Signer(_native.Keypair(bytes([3]) * 32), "mainnet")
SIGNER_IDS = _native.Signer(KEYPAIR, "testnet")
SIGNER_IDS.set_compute_order_id(True)
SIGNER_IDS.set_compute_batch_order_ids(True)
SIGNERS = [SIGNER, SIGNER2, SIGNER_IDS]
DOMAINS = ["mainnet", "testnet", "devnet"]

# --- per-entry-point counters --------------------------------------------------------

STATS_PATH = os.environ.get("FYRN_FUZZ_STATS")
COUNTS = {}
ACCEPTED = {}
_last_write = [time.monotonic()]
IN_CALL = [False]  # BadKey compares only inside library calls


def write_stats():
    if STATS_PATH:
        with open(STATS_PATH + ".tmp", "w") as f:
            json.dump({"calls": COUNTS, "accepted": ACCEPTED}, f, sort_keys=True)
        os.replace(STATS_PATH + ".tmp", STATS_PATH)


atexit.register(write_stats)
# libFuzzer ends the process with exit() from inside atheris.Fuzz(): Python's
# atexit never runs then, a C atexit handler does.
_C_EXIT_HOOK = ctypes.CFUNCTYPE(None, ctypes.c_int, ctypes.c_void_p)(lambda status, arg: write_stats())
ctypes.CDLL(None).on_exit(_C_EXIT_HOOK, None)


def call(name, fn, *args, **kwargs):
    """Calls fn, counts it under name; returns (ok, result)."""
    COUNTS[name] = COUNTS.get(name, 0) + 1
    IN_CALL[0] = True
    try:
        result = fn(*args, **kwargs)
    except EXPECTED as exc:
        str(exc), repr(exc), getattr(exc, "args", None)  # messages must be buildable
        return False, exc
    finally:
        IN_CALL[0] = False
    ACCEPTED[name] = ACCEPTED.get(name, 0) + 1
    return True, result


def b58(raw):
    return base58.b58encode(bytes(raw)).decode()


def verify(pubkey58, message, signature58):
    COUNTS["(signatures verified)"] = COUNTS.get("(signatures verified)", 0) + 1
    try:
        nacl.signing.VerifyKey(base58.b58decode(pubkey58)).verify(bytes(message), base58.b58decode(signature58))
    except nacl.exceptions.BadSignatureError:
        raise AssertionError(f"signature does not verify: {signature58!r} by {pubkey58!r}") from None


# --- hostile values -------------------------------------------------------------------


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class Raising:
    """__index__/__float__/__iter__/__len__ that raise."""

    def __index__(self):
        raise HookError("index")

    def __float__(self):
        raise HookError("float")

    def __iter__(self):
        raise HookError("iter")

    def __len__(self):
        raise HookError("len")


class Reentrant:
    """A number whose conversion calls back into the library."""

    def __init__(self, gen_call, value):
        self.gen_call, self.value = gen_call, value

    def __index__(self):
        self.gen_call()
        return int(self.value)

    def __float__(self):
        self.gen_call()
        return float(self.value)


class BadKey(str):
    """A key equal in text to a field name whose hash or comparison raises."""

    def __hash__(self):
        return str.__hash__(self)

    def __eq__(self, other):
        if IN_CALL[0]:
            raise HookError("eq")
        return str.__eq__(self, other)


class BadHash:
    def __hash__(self):
        raise HookError("hash")


class DictSub(dict):
    """A dict subclass whose items()/keys()/get/__getitem__/__iter__ misbehave."""

    mode = 0
    hook = None

    def _act(self):
        if not IN_CALL[0]:
            return
        if self.mode == 1:
            raise HookError("dict hook")
        if self.mode == 2 and self.hook is not None:
            self.hook()
        if self.mode == 3:
            self.clear()  # mutation during the library's iteration

    def items(self):
        self._act()
        return dict.items(self)

    def keys(self):
        self._act()
        return dict.keys(self)

    def __iter__(self):
        self._act()
        return dict.__iter__(self)

    def __getitem__(self, key):
        self._act()
        return dict.__getitem__(self, key)

    def get(self, key, default=None):
        self._act()
        return dict.get(self, key, default)


class ListSub(list):
    def __iter__(self):
        if IN_CALL[0]:
            raise HookError("list iter")
        return list.__iter__(self)


HUGE_INTS = [2**63, 2**64, 2**64 - 1, -(2**63) - 1, -1, 2**1000, -(2**1000), 10**4300 // 10**4200, 2**32, 2**31 - 1]
FLOATS = [math.nan, -math.nan, math.inf, -math.inf, -0.0, 0.0, 5e-324, 1e308, 1.7976931348623157e308, 1e-9,
          0.1, 123.456789125, 2e11, 1e19, 18446744073709551616.0]
STRINGS = ["", "\x00", "BTC-USD\x00", "\ud800", "\udc80abc", "é" * 45, "1" * 44, "1" * 89, "z" * 88, "0", "O", "l",
           "I", "GTC", "ioc", "ıoc", "ALO", "\u0130", "𝟙", "a" * 300, HASH, ACCOUNT, OTHER, "mainnet", "devnet",
           "testnet", "internal", "external", "raw", "base58", "offchain", "counter", "timestamp", "\n\t\r"]
FIELD_NAMES = ["type", "symbol", "is_buy", "price", "size", "reduce_only", "iso", "order_type", "tif", "is_market",
               "trigger_px", "client_id", "commission", "builder_code", "slippage", "order_id", "amount", "symbols",
               "trigger_price", "limit_price", "pmin", "pmax", "lmin", "lmax", "sl_slippage", "tp_slippage",
               "trail_bps", "step_bps", "actions", "trigger", "on_fill", "to", "fee", "instruments", "max_exposure",
               "reserve", "rfactor", "volume_percent", "volume_min", "volume_rampup", "max_sweep_bps",
               "max_adl_notional", "max_adl_percent", "cross_exposure", "scoring_skew", "toxicity",
               "urgency_size_fraction", "sweep_sds", "l", "m", "cx", "mod", "cxa", "c", "b", "p", "s", "r", "i",
               "cloid", "oid", "t", "tr", "tif", "message_bytes", "message_base58", "message_base64", "message_hex",
               "account", "signer", "nonce", "order_ids", "prepared", "signature_mode", "clear_sign_message",
               "signature", "a", "u", "o", "d", "e", "f", "k", "z", "st", "tp", "sz", "px"]
ITEM_TYPES = ["order", "cancel", "modify", "cancel_all", "stop", "st", "take_profit", "tp", "range", "rng",
              "trailing_stop", "trl", "trig", "on_fill", "of", "limit", "market", "trigger", "x", ""]


def order_templates():
    return [
        {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.5, "size": 0.25},
        {"type": "order", "symbol": "ETH-USD", "is_buy": False, "price": 0.0, "size": 2.5,
         "order_type": {"type": "market"}, "slippage": 0.005, "reduce_only": True},
        {"type": "order", "symbol": "SOL-USD", "is_buy": True, "price": 10.0, "size": 1.0, "iso": True,
         "order_type": {"type": "limit", "tif": "IOC"}, "client_id": HASH, "builder_code": {"to": OTHER, "fee": 3}},
        {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1.0, "size": 1.0,
         "order_type": {"type": "trigger", "is_market": False, "trigger_px": 2.0}},
        {"type": "cancel", "symbol": "ETH-USD", "order_id": HASH},
        {"type": "modify", "symbol": "ETH-USD", "order_id": HASH, "amount": 1.5},
        {"type": "cancel_all", "symbols": ["BTC-USD", "ETH-USD"]},
        {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 60000.0,
         "limit_price": 59000.0, "slippage": 0.01},
        {"type": "tp", "symbol": "BTC-USD", "is_buy": False, "size": 0.1, "trigger_price": 70000.0},
        {"type": "range", "symbol": "S", "is_buy": True, "size": 1, "pmin": 1, "pmax": 2, "lmin": 0.5, "lmax": 3},
        {"type": "trailing_stop", "symbol": "S", "is_buy": True, "size": 1, "trail_bps": 10, "step_bps": 5},
        {"type": "trig", "symbol": "BTC-USD", "is_buy": True, "trigger_price": 1.0, "actions": [
            {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 2.0, "size": 1.0}]},
        {"type": "on_fill", "trigger": {"type": "order", "symbol": "A", "is_buy": True, "price": 1.0, "size": 1.0},
         "actions": [{"type": "stop", "symbol": "A", "is_buy": False, "size": 1.0, "trigger_price": 0.5}]},
        {"l": {"c": "BTC-USD", "b": True, "px": 1.0, "sz": 2.0, "tif": "GTC", "r": False}},
        {"m": {"c": "BTC-USD", "b": False, "sz": 2.0, "r": True}},
        {"cx": {"c": "BTC-USD", "oid": HASH}},
        {"cxa": {"c": ["BTC-USD"]}},
        {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1.0, "size": 1.0,
         "on_fill": {"actions": [{"type": "tp", "symbol": "BTC-USD", "is_buy": False, "size": 1.0,
                                   "trigger_price": 3.0}]}},
    ]


LIQ_TEMPLATE = {"instruments": [{"symbol": "BTC-USD", "max_exposure": 3, "reserve": 1.0, "rfactor": 0.5,
                                 "volume_percent": 1.0, "volume_min": 2.0, "volume_rampup": 7,
                                 "max_sweep_bps": 5.0, "max_adl_notional": 1.0, "max_adl_percent": 0.1}],
                "cross_exposure": 0.0, "scoring_skew": 0.1, "toxicity": 0.5, "urgency_size_fraction": 0.2,
                "sweep_sds": 1.0}


class Gen:
    """Choices read from the fuzzer's bytes. When the bytes run out every
    choice takes its first option, which is the unmutated, valid one."""

    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)
        self.plain = True  # no hooks, no side effects: results are reproducible

    def n(self, hi):
        return self.fdp.ConsumeIntInRange(0, hi)

    def pick(self, seq):
        return seq[self.n(len(seq) - 1)]

    def rare(self, k):
        """True once in k choices (never when the bytes have run out)."""
        return self.n(k - 1) == k - 1

    def text(self):
        kind = self.n(4)
        if kind == 0:
            return self.pick(STRINGS)
        if kind == 1:
            return self.fdp.ConsumeUnicodeNoSurrogates(self.n(60))
        if kind == 2:
            return self.fdp.ConsumeUnicode(self.n(60))
        if kind == 3:
            return b58(self.fdp.ConsumeBytes(self.pick([32, 64, 31, 33, 0, 1, 65, self.n(80)])))
        return self.fdp.ConsumeString(self.n(100))

    def number(self):
        kind = self.n(5)
        if kind == 0:
            return self.pick(HUGE_INTS)
        if kind == 1:
            return self.pick(FLOATS)
        if kind == 2:
            return self.fdp.ConsumeInt(self.pick([1, 2, 4, 8, 9, 16]))
        if kind == 3:
            return self.fdp.ConsumeRegularFloat()
        if kind == 4:
            return self.fdp.ConsumeFloat()
        return self.fdp.ConsumeIntInRange(0, 20)

    def hostile(self, depth):
        """A value with hooks (marks the input not plain)."""
        self.plain = False
        kind = self.n(10)
        if kind == 0:
            return Raising()
        if kind == 1:
            return Reentrant(self.reentrant_call(), self.pick([1, 2.5, 0, -1, 2**64]))
        if kind == 2:
            return IntSub(self.fdp.ConsumeInt(4))
        if kind == 3:
            return FloatSub(self.pick(FLOATS))
        if kind == 4:
            return StrSub(self.pick(STRINGS))
        if kind == 5:
            lst = [1, 2]
            lst.append(lst)  # contains itself
            return lst
        if kind == 6:
            d = {"type": "trig", "actions": []}
            d["actions"].append(d)  # an order containing itself
            return d
        if kind == 7:
            return ListSub([self.value(depth + 1)])
        if kind == 8:
            return BadHash()
        if kind == 9:
            return self.dict_sub({"type": "order"})
        return object()

    def reentrant_call(self):
        target = self.pick(SIGNERS)
        which = self.n(5)
        order = order_templates()[0]

        def inner():
            if which == 0:
                target.sign(order, 1)
            elif which == 1:
                target.sign_all([order] * 3, 1)
            elif which == 2:
                _native.py_prepare_order(order, "devnet", ACCOUNT, nonce=1)
            elif which == 3:
                _native.py_prepare_all_orders([order] * 12, "devnet", ACCOUNT, base_nonce=1)
            elif which == 4:
                raise HookError("reentrant")
            else:
                target.sign_prepared(_native.py_prepare_order(order, "devnet", target.pubkey, nonce=1))

        return inner

    def dict_sub(self, base):
        self.plain = False
        d = DictSub(base)
        d.mode = self.n(3)
        d.hook = self.reentrant_call()
        return d

    def value(self, depth=0):
        kind = self.n(9)
        if kind == 0:
            return self.number()
        if kind == 1:
            return self.text()
        if kind == 2:
            return self.pick([None, True, False])
        if kind == 3:
            return self.fdp.ConsumeBytes(self.n(70))
        if kind == 4 and depth < 6:
            return [self.value(depth + 1) for _ in range(self.n(4))]
        if kind == 5 and depth < 6:
            return tuple(self.value(depth + 1) for _ in range(self.n(4)))
        if kind == 6 and depth < 6:
            return {self.pick(FIELD_NAMES): self.value(depth + 1) for _ in range(self.n(4))}
        if kind == 7 and depth < 6:
            return self.order(depth + 1)
        return self.hostile(depth)

    def mutate_dict(self, d, depth, rounds=3):
        for _ in range(self.n(rounds)):
            op = self.n(6)
            keys = list(d.keys())
            if op == 0 or not keys:
                d[self.pick(FIELD_NAMES)] = self.value(depth)
            elif op == 1:
                del d[self.pick(keys)]
            elif op == 2:
                k = self.pick(keys)
                if isinstance(d[k], dict):
                    self.mutate_dict(d[k], depth + 1)
                elif isinstance(d[k], list) and d[k] and isinstance(d[k][-1], dict):
                    self.mutate_dict(d[k][-1], depth + 1)
                else:
                    d[k] = self.value(depth)
            elif op == 3:
                k = self.pick(keys)
                v = d.pop(k)
                self.plain = False
                d[BadKey(k)] = v  # a key whose comparison raises
            elif op == 4:
                d[self.pick(keys)] = self.pick(ITEM_TYPES)
            elif op == 5 and depth < 8:
                d["actions"] = [self.order(depth + 1) for _ in range(self.n(3))]
            else:
                d[self.pick(keys)] = self.hostile(depth)
        if self.rare(8):
            return self.dict_sub(d)
        return d

    def order(self, depth=0):
        o = self.pick(order_templates())
        if depth > 8:
            return o
        return self.mutate_dict(o, depth)

    def orders(self):
        n = self.pick([1, 2, 3, 0, 12, 40])
        out = [self.order() for _ in range(min(n, 12))] + [order_templates()[0]] * max(0, n - 12)
        if self.rare(10):
            self.plain = False
            out = ListSub(out)
        return out

    def nonce(self):
        kind = self.n(3)
        if kind == 0:
            return self.fdp.ConsumeIntInRange(0, 2**64 - 1)
        if kind == 1:
            return None
        if kind == 2:
            return self.number()
        return self.value()

    def key_text(self):
        kind = self.n(3)
        if kind == 0:
            return self.pick([ACCOUNT, OTHER, HASH])
        if kind == 1:
            return self.text()
        if kind == 2:
            return self.value()
        return b58(self.fdp.ConsumeBytes(self.n(70)))


# --- targets ----------------------------------------------------------------------------


def check_signed(tx, domain, order=None, orders=None, group=False):
    """A signed order transaction re-prepared with the same inputs verifies."""
    if order is not None:
        # The list form: Signer.sign, like every list form, ignores an "on_fill" key.
        p = _native.py_prepare_all_orders([order], domain, tx["account"], base_nonce=tx["nonce"])[0]
    elif group:
        p = _native.py_prepare_order_group(orders, domain, tx["account"], nonce=tx["nonce"])
    else:
        return
    verify(tx["signer"], p["message_bytes"], tx["signature"])


def target_orders(data):
    g = Gen(data)
    which = g.n(8)
    signer = g.pick(SIGNERS)
    domain = {id(SIGNER): "devnet", id(SIGNER2): "mainnet", id(SIGNER_IDS): "testnet"}[id(signer)]
    if which == 0:
        o, nonce = g.order(), g.nonce()
        ok, tx = call("Signer.sign", signer.sign, o, nonce)
        if ok and g.plain and isinstance(nonce, int) and not isinstance(nonce, bool):
            check_signed(tx, domain, order=o)
    elif which == 1:
        os_, nonce = g.orders(), g.nonce()
        ok, txs = call("Signer.sign_all", signer.sign_all, os_, nonce)
        if ok and g.plain and isinstance(nonce, int) and not isinstance(nonce, bool):
            assert len(txs) == len(os_)
            for o, tx in list(zip(os_, txs))[:3]:
                check_signed(tx, domain, order=o)
    elif which == 2:
        os_, nonce = g.orders(), g.nonce()
        ok, tx = call("Signer.sign_group", signer.sign_group, os_, nonce)
        if ok and g.plain and isinstance(nonce, int) and not isinstance(nonce, bool):
            check_signed(tx, domain, orders=os_, group=True)
    elif which == 3:
        call("Signer.sign_order", signer.sign_order, g.orders(), g.nonce())
    elif which == 4:
        batches = [g.orders() for _ in range(g.n(3))]
        call("Signer.sign_orders_batch", signer.sign_orders_batch, batches, g.nonce())
    elif which == 5:
        call("compute_order_id_from_order", _native.compute_order_id_from_order, g.order(), g.nonce(),
             g.key_text())
    elif which == 6:
        call("py_prepare_order", _native.py_prepare_order, g.order(), g.pick(DOMAINS + ["x", "\ud800"]),
             g.key_text(), g.pick([None, ACCOUNT, OTHER, "0"]), g.nonce())
    elif which == 7:
        call("py_prepare_all_orders", _native.py_prepare_all_orders, g.orders(), g.pick(DOMAINS), g.key_text(),
             None, g.nonce())
    else:
        call("py_prepare_order_group", _native.py_prepare_order_group, g.orders(), g.pick(DOMAINS), ACCOUNT,
             g.pick([None, OTHER]), g.nonce())


def liq_config(g):
    cfg = json.loads(json.dumps(LIQ_TEMPLATE))
    cfg = g.mutate_dict(cfg, 0, rounds=4)
    if isinstance(cfg.get("instruments"), list) and g.rare(3):
        cfg["instruments"] = [g.mutate_dict(dict(LIQ_TEMPLATE["instruments"][0]), 1) for _ in range(g.n(4))]
    return cfg


def seq_of(g, make):
    out = [make() for _ in range(g.n(4))]
    kind = g.n(3)
    if kind == 1:
        return tuple(out)
    if kind == 2:
        return g.value()
    return out


def action_args(g):
    """(name, signer method, prepare function or None, positional args)."""
    which = g.n(13)
    if which == 0:
        return "agent_wallet", "sign_agent_wallet", "py_prepare_agent_wallet_auth", [g.key_text(), g.pick([True, False, 1, None])]
    if which == 1:
        return "approve_builder_code", "sign_approve_builder_code", "py_prepare_approve_builder_code", [g.key_text(), g.pick([1, 15, 0, 16, 2**64]) if not g.rare(3) else g.value()]
    if which == 2:
        return "approve_commission_fee", "sign_approve_commission_fee", "py_prepare_approve_commission_fee", [g.key_text(), g.pick([1, 15, 0, 16])]
    if which == 3:
        return "revoke_builder_code", "sign_revoke_builder_code", "py_prepare_revoke_builder_code", [g.key_text()]
    if which == 4:
        return "revoke_commission_fee", "sign_revoke_commission_fee", "py_prepare_revoke_commission_fee", [g.key_text()]
    if which == 5:
        return "faucet", "sign_faucet", "py_prepare_faucet_request", []
    if which == 6:
        return "create_sub_account", "sign_create_sub_account", None, [g.text(), g.pick([None, 1.0, math.nan, -1.0]) if not g.rare(3) else g.value()]
    if which == 7:
        return "remove_sub_account", "sign_remove_sub_account", "py_prepare_remove_sub_account", [g.key_text()]
    if which == 8:
        return "transfer", "sign_transfer", None, [g.key_text(), g.key_text(), g.number(), g.pick([None, "internal", "external", "x", 5])]
    if which == 9:
        return "user_settings", "sign_user_settings", None, [seq_of(g, lambda: (g.text(), g.number()) if not g.rare(4) else g.value())]
    if which == 10:
        return "liquidator_config", "sign_update_liquidator_config", "py_prepare_update_liquidator_config", [liq_config(g)]
    if which == 11:
        return "oracle_prices", "sign_oracle_prices", None, [seq_of(g, lambda: (g.fdp.ConsumeInt(8), g.text(), g.number()) if not g.rare(4) else g.value())]
    if which == 12:
        return "pyth_oracle", "sign_pyth_oracle", None, [seq_of(g, lambda: tuple(g.fdp.ConsumeInt(g.pick([1, 8, 9])) for _ in range(4)) if not g.rare(4) else g.value())]
    return "whitelist_faucet", "sign_whitelist_faucet", None, [g.key_text(), g.pick([True, False])]


def target_actions(data):
    g = Gen(data)
    name, method, prepare, args = action_args(g)
    signer = g.pick(SIGNERS)
    nonce = g.nonce()
    if g.n(1) == 0:
        ok, tx = call("Signer." + method, getattr(signer, method), *args, nonce)
        if ok and g.plain and prepare and isinstance(nonce, int) and not isinstance(nonce, bool):
            domain = DOMAINS[[SIGNER2, SIGNER_IDS, SIGNER].index(signer)]
            p = getattr(_native, prepare)(*args, domain, tx["account"], nonce=nonce)
            verify(tx["signer"], p["message_bytes"], tx["signature"])
    elif prepare is not None:
        call(prepare, getattr(_native, prepare), *args, g.pick(DOMAINS + ["x"]), g.key_text(),
             g.pick([None, OTHER]), nonce)
    elif name == "create_sub_account":
        call("py_prepare_create_sub_account", _native.py_prepare_create_sub_account, args[0],
             g.pick(DOMAINS), ACCOUNT, args[1], None, nonce)
    elif name == "transfer":
        call("py_prepare_transfer", _native.py_prepare_transfer, args[0], args[1], args[2], g.pick(DOMAINS),
             ACCOUNT, args[3], None, nonce)


def base_prepared(g):
    which = g.n(4)
    o = order_templates()[g.n(len(order_templates()) - 1)]
    try:
        _native.compute_order_id_from_order(o, 1, ACCOUNT)
        _native.py_prepare_order(o, "devnet", ACCOUNT, nonce=1)
    except (ValueError, TypeError):
        o = order_templates()[0]  # a template the API refuses as a single order
    nonce = g.fdp.ConsumeIntInRange(0, 2**64 - 1)
    if which == 0:
        return _native.py_prepare_order(o, "devnet", ACCOUNT, nonce=nonce)
    if which == 1:
        return _native.py_prepare_order_group([o, order_templates()[7]], "mainnet", ACCOUNT, nonce=nonce)
    if which == 2:
        return _native.py_prepare_update_liquidator_config(LIQ_TEMPLATE, "testnet", ACCOUNT, nonce=nonce)
    if which == 3:
        return _native.py_prepare_transfer(ACCOUNT, OTHER, 1.5, "devnet", ACCOUNT, "internal", nonce=nonce)
    return _native.py_prepare_faucet_request("testnet", ACCOUNT, OTHER, nonce=nonce)


def edit_prepared(g, p):
    for _ in range(g.n(3)):
        op = g.n(7)
        if op == 0:
            mb = bytearray(p.get("message_bytes", b"")) if isinstance(p.get("message_bytes"), bytes) else bytearray()
            if mb:
                mb[g.n(len(mb) - 1)] ^= 1 << g.n(7)
            p["message_bytes"] = bytes(mb)
        elif op == 1:
            mb = p.get("message_bytes", b"")
            if isinstance(mb, bytes):
                cut = g.n(len(mb))
                p["message_bytes"] = mb[:cut] if g.n(1) else mb[cut:]
        elif op == 2:
            p["message_bytes"] = g.pick([list, tuple, bytearray, lambda b: b.decode("latin-1"),
                                         lambda b: [*b[:-1], 256]])(p.get("message_bytes", b"") if isinstance(
                                             p.get("message_bytes"), bytes) else b"")
        elif op == 3:
            # Clear-sign actions: arbitrary JSON-like values in place of the actions.
            acts = p.get("actions")
            if isinstance(acts, list) and acts and isinstance(acts[0], dict) and g.n(1):
                acts = [dict(a) for a in acts]
                g.mutate_dict(acts[g.n(len(acts) - 1)], 1)
                p["actions"] = acts
            else:
                p["actions"] = g.value()
        elif op == 4:
            p[g.pick(["account", "signer", "nonce", "order_id", "order_ids", "message_hex"])] = g.value()
        elif op == 5:
            if p:
                del p[g.pick(list(p))]
        elif op == 6:
            p["nonce"] = g.pick(HUGE_INTS + [p.get("nonce", 0)])
        else:
            p[g.pick(FIELD_NAMES)] = g.hostile(1)
    if g.rare(8):
        return g.dict_sub(p)
    return p


def signature_for(g, message):
    kind = g.n(3)
    if kind == 0 and isinstance(message, (bytes, bytearray)):
        return b58(KEY.sign(bytes(message)).signature)
    if kind == 1:
        return b58(g.fdp.ConsumeBytes(g.pick([64, 63, 65, 0])))
    if kind == 2:
        return g.text()
    return g.value()


def target_prepared(data):
    g = Gen(data)
    p = base_prepared(g)
    original = dict(p)
    edited = g.n(4) != 0
    if edited:
        p = edit_prepared(g, dict(p))
    which = g.n(5)
    if which == 0:
        sig = signature_for(g, original["message_bytes"])
        ok, tx = call("py_finalize_transaction", _native.py_finalize_transaction, p, sig)
        if ok:
            # Finalisation accepts only a signature by the prepared signer over the message.
            verify(tx["signer"], bytes(p["message_bytes"]), tx["signature"])
    elif which == 1:
        ok, tx = call("Signer.sign_prepared", g.pick(SIGNERS).sign_prepared, p)
        if ok:
            verify(tx["signer"], bytes(p["message_bytes"]), tx["signature"])
    else:
        mode = g.pick(["raw", "base58", "offchain", "RAW", "", "\ud800", 5])
        ok, wallet = call("prepare_wallet_message", _native.prepare_wallet_message, p, mode)
        if not ok:
            return
        if which == 2 and not g.plain:
            return
        if g.n(2) == 0:
            wallet = dict(wallet)
            wallet[g.pick(["prepared", "signature_mode", "message_bytes", "clear_sign_message"])] = g.pick(
                [g.value(), bytes(wallet["message_bytes"])[:-1], "raw", "offchain", None])
            if g.rare(3):
                wallet = edit_prepared(g, wallet)
        if which == 4:
            ok, tx = call("Signer.sign_wallet_prepared", g.pick(SIGNERS).sign_wallet_prepared, wallet)
            return
        sig = signature_for(g, wallet["message_bytes"] if isinstance(wallet, dict) and isinstance(
            wallet.get("message_bytes"), bytes) else b"")
        ok, tx = call("finalize_wallet_message", _native.finalize_wallet_message, wallet, sig)
        if ok and g.plain:
            verify(tx["signer"], bytes(wallet["message_bytes"]), tx["signature"])


def target_keys(data):
    g = Gen(data)
    which = g.n(9)
    if which == 0:
        s = g.text() if g.n(2) else g.key_text()
        ok, res = call("validate_pubkey", _native.validate_pubkey, s)
        if ok and isinstance(s, str) and type(s) is str:
            try:
                expected = len(base58.b58decode(s.encode("ascii"))) == 32 and s.isascii() and "\x00" not in s
            except ValueError:
                expected = False
            if res != expected:
                raise AssertionError(f"validate_pubkey({s!r}) = {res}, base58 says {expected}")
    elif which == 1:
        s = g.text() if g.n(2) else g.key_text()
        ok, res = call("validate_hash", _native.validate_hash, s)
        if ok and res:
            assert len(base58.b58decode(s)) == 32
    elif which == 2:
        s = g.pick([b58(KEY_RAW), b58(bytes(KEY)), b58(bytes(KEY) + bytes(32))]) if g.n(1) else g.key_text()
        if g.n(2) == 0 and isinstance(s, str) and s:
            s = s[:g.n(len(s))] + g.pick(["", "1", "z", "0", "\x00", "é"]) + s[g.n(len(s)):]
        ok, kp = call("Keypair.from_base58", _native.Keypair.from_base58, s)
        if ok:
            raw = base58.b58decode(s)
            assert len(raw) in (32, 64) and kp.secret_key() == raw[:32]
            assert kp.to_bytes() == raw[:32] + base58.b58decode(kp.pubkey) and b58(kp.to_bytes()) == kp.to_base58()
            if len(raw) == 64:
                assert raw[32:] == base58.b58decode(kp.pubkey)
    elif which == 3:
        raw = g.pick([KEY_RAW, bytes(KEY), b""]) if g.n(1) else g.fdp.ConsumeBytes(g.pick([32, 64, 33, 63, g.n(80)]))
        arg = g.pick([bytes, bytearray, memoryview, list, lambda b: b.hex()])(raw) if g.rare(3) else raw
        ok, kp = call("Keypair.from_bytes", _native.Keypair.from_bytes, arg)
        if ok:
            assert kp.secret_key() == bytes(raw[:32])
            nacl_pub = bytes(nacl.signing.SigningKey(bytes(raw[:32])).verify_key)
            assert base58.b58decode(kp.pubkey) == nacl_pub
    elif which == 4:
        args = [g.value() for _ in range(g.n(2))]
        call("Keypair", _native.Keypair, *args)
    elif which == 5:
        call("Signer.from_base58", _native.Signer.from_base58, g.key_text(), g.pick(DOMAINS + ["x", None]))
    elif which == 6:
        call("Signer.with_nonce_manager", _native.Signer.with_nonce_manager,
             g.pick([KEYPAIR, None, g.value()]), g.pick(["counter", "timestamp", "x", g.text()]), g.pick(DOMAINS + ["x"]))
    elif which == 7:
        msg = g.fdp.ConsumeBytes(g.n(200))
        signer = g.pick(SIGNERS)
        ok, sig = call("Signer.sign_bytes", signer.sign_bytes, msg if not g.rare(4) else g.value())
        if ok and isinstance(sig, str) and g.plain:
            pass
        if ok and g.plain and isinstance(msg, bytes):
            try:
                verify(signer.pubkey, msg, sig)
            except AssertionError:
                pass  # the argument was replaced by another value; verified below instead
            verify(signer.pubkey, msg, signer.sign_bytes(msg))
    elif which == 8:
        raw = g.fdp.ConsumeBytes(g.n(300)) if g.n(1) else g.value()
        ok, res = call("compute_order_id", _native.compute_order_id, raw)
        if ok and isinstance(raw, bytes):
            import hashlib
            assert base58.b58decode(res) == hashlib.sha256(raw).digest()
    else:
        call("random_hash", _native.random_hash)
        call("current_timestamp", _native.current_timestamp)


with atheris.instrument_imports():
    from solders.transaction import Transaction


def target_solana(data):
    g = Gen(data)
    owner = g.key_text() if g.n(1) else b58(g.fdp.ConsumeBytes(32))
    amount = g.fdp.ConsumeIntInRange(0, 2**64 - 1) if g.n(1) else g.number()
    which = g.n(3)
    deposit = which % 2 == 0
    if which < 2:
        fn = _native.build_deposit_instruction if deposit else _native.build_withdraw_intent_instruction
        ok, ix = call(fn.__name__, fn, owner, amount)
        if ok:
            assert len(base58.b58decode(owner)) == 32 and 0 <= amount < 2**64
            assert ix["data"][1:] == int(amount).to_bytes(8, "little")
    else:
        blockhash = g.key_text() if g.n(1) else b58(g.fdp.ConsumeBytes(32))
        fn = _native.export_deposit_transaction if deposit else _native.export_withdraw_intent_transaction
        ok, text = call(fn.__name__, fn, owner, amount, blockhash)
        if ok:
            tx = Transaction.from_bytes(base64.b64decode(text))
            assert str(tx.message.recent_blockhash) == blockhash
            assert str(tx.message.account_keys[0]) == owner


def all_callables():
    # Module functions and classes as objects, class members by name (bound per call).
    return [(name, name.split(".")[1] if "." in name else getattr(_native, name)) for name in ENTRY_POINTS]


CALLABLES = all_callables()


def target_binding(data):
    g = Gen(data)
    name, fn = g.pick(CALLABLES)
    if isinstance(fn, str):
        owner = KEYPAIR if name.startswith("Keypair") else g.pick(SIGNERS)
        fn = getattr(owner, fn, None) if not g.rare(10) else getattr(type(owner), fn)
        if not callable(fn):
            return
    args = [g.value() if g.n(1) else g.pick([ACCOUNT, "devnet", 1, None, order_templates()[0]]) for _ in range(g.n(6))]
    kwargs = {}
    for _ in range(g.n(3)):
        kwargs[g.pick(["nonce", "base_nonce", "signer", "account", "signature_domain", "order", "orders", "kind",
                       "margin_amount", "delete", "fee", "to_pubkey", "config", "prepared", "signature", "mode",
                       "s", "bytes", "enabled", "message", "x", "\ud800", ""])] = g.value()
    if g.rare(8):
        kwargs = DictSub(kwargs)
    call("bind:" + name, fn, *args, **kwargs)


TARGETS = {
    "orders": target_orders,
    "actions": target_actions,
    "prepared": target_prepared,
    "keys": target_keys,
    "solana": target_solana,
    "binding": target_binding,
}


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in TARGETS:
        sys.exit(f"usage: {sys.argv[0]} {{{'|'.join(TARGETS)}}} [libFuzzer flags]")
    fn = TARGETS[sys.argv[1]]

    def one_input(data):
        fn(data)
        now = time.monotonic()
        if now - _last_write[0] > 5:
            _last_write[0] = now
            write_stats()

    sys.setrecursionlimit(2000)
    atheris.Setup([sys.argv[0]] + sys.argv[2:], one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
