"""Hostile input to the external-wallet half: "actions" of every shape, nested
deeper than any stack or inside themselves, memory running out half-way through
a batch.

Whatever could end the process runs in a child interpreter, whose exit status
is part of what is checked. The oracle for reading "actions" is the host's own
json.dumps followed by a strict parse: every reader must agree with it on every
value and every depth both can hold.
"""

import json
import math
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, strategies as st

MAX_DEPTH = 10_000  # arrays and objects nested in "actions", the list itself included
UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")

# Run here and at the head of every child script.
SETUP = """
import ctypes, gc, json, resource, sys
import _native as N

KP = N.Keypair(bytes(range(1, 33)))
SIGNER = N.Signer(KP, "mainnet")
ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.5, "size": 0.25}
P = N.py_prepare_order(ORDER, "mainnet", KP.pubkey, nonce=1)
SIG = SIGNER.sign_bytes(P["message_bytes"])
W = N.prepare_wallet_message(P, "raw")

# Every entry point that reads "actions" back, each returning the actions of its result.
READERS = {
    "py_finalize_transaction": lambda a: N.py_finalize_transaction(dict(P, actions=a), SIG)["actions"],
    "prepare_wallet_message": lambda a: N.prepare_wallet_message(dict(P, actions=a), "raw")["prepared"]["actions"],
    "sign_prepared": lambda a: SIGNER.sign_prepared(dict(P, actions=a))["actions"],
    "sign_wallet_prepared": lambda a: SIGNER.sign_wallet_prepared(dict(W, prepared=dict(P, actions=a)))["actions"],
}

def outcome(call):
    # (None, result) or (the kind of error, None)
    try:
        return None, call()
    except Exception as e:
        kinds = (RecursionError, MemoryError, TypeError, ValueError)
        return next((c for c in kinds if isinstance(e, c)), type(e)).__name__, None
"""
exec(SETUP)  # N, KP, SIGNER, ORDER, P, SIG, W, READERS, outcome


def child(body, timeout=600):
    proc = subprocess.run([sys.executable, "-c", SETUP + textwrap.dedent(body)],
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, f"child ended with {proc.returncode}: {proc.stderr[-600:]}"
    return json.loads(proc.stdout.splitlines()[-1])


# --- "actions": accepted and refused exactly as json.dumps + a strict JSON parse -------


def read_back(value):
    """json.dumps, then a JSON parse without NaN or infinities that refuses lone
    surrogates and anything but a non-empty list, as the readers hand it back:
    dict keys in ascending UTF-8 byte order, integers outside the signed 64-bit
    range as the nearest double (refused beyond its range)."""
    def number(text):
        v = int(text)
        if -2**63 <= v < 2**63:
            return v
        if math.isinf(float(text)):
            raise ValueError("number out of range")
        return float(text)

    def constant(name):
        raise ValueError(name)

    def ordered(pairs):
        return dict(sorted(pairs, key=lambda kv: kv[0].encode()))

    loaded = json.loads(json.dumps(value), parse_int=number, parse_constant=constant, object_pairs_hook=ordered)
    json.dumps(loaded, ensure_ascii=False).encode()  # UnicodeEncodeError for a lone surrogate
    if not isinstance(loaded, list) or not loaded:
        raise ValueError("not a non-empty array")
    return loaded


def same(a, b):
    """Equal, with the same types, dict key orders and float signs all the way down."""
    stack = [(a, b)]
    while stack:
        a, b = stack.pop()
        if type(a) is not type(b) or (isinstance(a, dict) and list(a) != list(b)):
            return False
        if isinstance(a, (dict, list)):
            if len(a) != len(b):
                return False
            stack += zip(a.values(), b.values()) if isinstance(a, dict) else zip(a, b)
        elif repr(a) != repr(b):
            return False
    return True


def check_actions(value):
    want_exc, want = outcome(lambda: read_back(value))
    for name, read in READERS.items():
        got_exc, got = outcome(lambda: read(value))
        assert got_exc == want_exc, name
        assert want_exc is not None or same(got, want), name


Text = type("Text", (str,), {})
Str = type("Str", (str,), {"__str__": lambda self: "other"})
Int = type("Int", (int,), {"__repr__": lambda self: "999", "__str__": lambda self: "999"})
Float = type("Float", (float,), {"__repr__": lambda self: "1e999"})
Items = type("Items", (dict,), {"items": lambda self: [("x", 1)]})
TripleItems = type("TripleItems", (dict,), {"items": lambda self: [("x", 1, 2)]})
RaisingItems = type("RaisingItems", (dict,), {"items": lambda self: {}["items"]})
Seq = type("Seq", (list,), {"__iter__": lambda self: iter([7])})
Tup = type("Tup", (tuple,), {"__iter__": lambda self: iter([7])})
Repr = type("Repr", (), {"__repr__": lambda self: "[]"})


def nested(depth, wrap=lambda v: [v]):
    v = 1
    for _ in range(depth):
        v = wrap(v)
    return v


SHARED = [[1], {"x": [2]}]  # met again off its own path, down to 80 levels below the top: no cycle
OFF_PATH = [SHARED]
for _ in range(40):
    OFF_PATH = [OFF_PATH, SHARED, {"s": SHARED}]
NAN, INF = math.nan, math.inf
# Dicts of our own output, and every way a value read back can differ from the
# objects given: keys out of byte order or repeated once converted, keys of
# other types, subclasses, ints past 63 bits, joined surrogate pairs; also
# where the difference shows only after earlier parts were read.
HOSTILE = [
    [{"l": {"b": True, "c": "BTC-USD", "i": False, "px": 65000.5, "r": False, "sz": 0.25, "tif": "GTC"}}],
    [{"b": 1, "a": 2}], [{"a": [1, {"z": [2], "y": 3}], "b": {"c": 4}}], [{"\u00e9": 1, "z": 2}],
    [{"a": {"x": 1}, 1: 2}], [{2.5: 1, True: 2, None: 3}], [Text("t"), {Text("k"): Int(5)}, Items(a=(1, 2))],
    [NAN], [INF], [-INF], [{"px": NAN}], NAN, [1e308, 5e-324, -0.0, [], {}, [[]], [{}]],
    [2**63 - 1], [2**63], [2**64 - 1], [2**64], [2**64 + 1], [-2**63], [-2**63 - 1], [-2**70], [2**1100], [-2**1100],
    [2**1024 - 2**970 - 1], [2**1024 - 2**970], [10**5000], [Int(2**70)], [10**30],
    (1, 2), ((1, (2, 3)),), [(1, 2)], (), [Seq([1, 2])], [Tup((1,))],
    [{1: "a"}], [{1.5: "a"}], [{NAN: 1, INF: 2, -INF: 3, -0.0: 4}], [{True: 1, False: 2, None: 3}], [{(1,): 2}],
    [{2**70: 1}], [{10**5000: 1}], [{Int(5): 1}], [{Float(2.5): 1}], [{frozenset(): 1}], [{b"k": 1}],
    [{1: "a", "1": "b"}], [{"1": "a", 1: "b"}], [{True: 1, "true": 2}], [{None: 0, "null": 1}],
    [Str("abc")], [{Str("k"): Str("v")}], [Int(5)], [Float(2.5)], [Float("nan")], [True, False, None],
    [Items(a=1)], [Items()], [TripleItems(a=1)], [RaisingItems(a=1)], [Repr()], [b"x"], [{1, 2}], [object()],
    [SHARED, SHARED, {"a": SHARED}], OFF_PATH,
    nested(10), nested(500), [nested(500, lambda v: {"k": v})], nested(100000),
    ["\ud800"], ["\udfff"], [{"\ud800": 1}], ["ok\udcff"],
    # Two surrogate code points dump as one escaped pair, which parses as one character.
    pytest.param(["\ud83d\ude00"], id="pair"), pytest.param([{"\ud83d\ude00": "\ud83d\ude00"}], id="pair key"),
    # An empty list or tuple subclass is still iterated when dumped.
    pytest.param([Seq()], id="empty Seq"), pytest.param([Tup()], id="empty Tup"), pytest.param(Seq(), id="top Seq"),
    [NAN, object()], ["\ud800", {(1,): 2}], [INF, 10**5000],
    {"a": 1}, "text", 5, None, True, {}, [],
]


@pytest.mark.parametrize("value", HOSTILE)
def test_actions_are_read_as_json_dumps_would(value):
    check_actions(value)


ALPHABET = st.characters(exclude_categories=("Cs",)) | st.sampled_from(["\ud800", "\udbff"])  # no surrogate pairs
TEXT = st.text(ALPHABET, max_size=4)
SCALARS = st.none() | st.booleans() | st.integers() | st.integers(-2**1100, 2**1100) | st.floats() | TEXT
KEYS = TEXT | st.integers() | st.floats() | st.booleans() | st.none()
VALUES = st.recursive(SCALARS, lambda inner: st.lists(inner, max_size=4) | st.lists(inner, max_size=4).map(tuple)
                      | st.dictionaries(KEYS, inner, max_size=4), max_leaves=12)


@given(st.lists(VALUES, min_size=1, max_size=3) | VALUES)
def test_random_actions_are_read_as_json_dumps_would(value):
    check_actions(value)


CYCLIC_LIST = inner = []
for _ in range(100):
    inner.append([])
    inner = inner[0]
inner.append(CYCLIC_LIST)  # the cycle closes 101 levels down
CYCLIC_DICT = inner = {}
for _ in range(50):
    inner["k"] = {}
    inner = inner["k"]
inner["back"] = [1, CYCLIC_DICT]
CYCLIC_TUPLE = ([],)
CYCLIC_TUPLE[0].append(CYCLIC_TUPLE)
DEEP_SELF = [1]
DEEP_SELF.append(DEEP_SELF)  # a list inside itself, 40 levels down
DEEP_LOOP = {"a": [1, 2]}
DEEP_LOOP["a"].append({"b": {"c": DEEP_LOOP}})  # closes 3 levels below its start, 40 levels down
for _ in range(40):
    DEEP_SELF, DEEP_LOOP = [DEEP_SELF], [DEEP_LOOP]
LOOP = []
LOOP.append(LOOP)


@pytest.mark.parametrize("actions", [
    CYCLIC_LIST, [CYCLIC_DICT], [CYCLIC_TUPLE], [[CYCLIC_LIST], CYCLIC_LIST], LOOP, [LOOP], [{"self": LOOP}],
    [NAN, LOOP], DEEP_SELF, DEEP_LOOP,
], ids=["list", "dict", "tuple", "twice", "self", "in list", "in dict", "after nan", "deep self", "deep loop"])
def test_a_container_inside_itself_is_refused_as_json_dumps_refuses_it(actions):
    with pytest.raises(ValueError) as dumped:
        json.dumps(actions)
    for read in READERS.values():
        with pytest.raises(ValueError) as got:
            read(actions)
        assert str(got.value) == str(dumped.value) == "Circular reference detected"


# --- nesting and memory, in child interpreters -------------------------------------

DEEP = """
sys.setrecursionlimit(10**7)

def nest(depth, kind):  # `depth` containers in all, the actions list included; built without recursion
    v = 7
    for _ in range(depth - 1):
        v = [v] if kind == "list" else {"k": v}
    return [v]

def shape(v):  # (depth, leaf), walked without recursion
    depth = 0
    while isinstance(v, (list, dict)):
        if len(v) != 1:
            return None
        v = v[0] if isinstance(v, list) else v["k"]
        depth += 1
    return depth, v

results = []
for kind in ("list", "dict"):
    for depth in DEPTHS:
        actions = nest(depth, kind)
        # json.dumps itself recurses on the C stack: only asked where it fits.
        want = outcome(lambda: json.dumps(actions))[0] if depth <= LIMIT + 1 else None
        got, back = outcome(lambda: READERS[NAME](actions))
        results.append([kind, depth, want, got, shape(back) if back is not None else None])
        print(results[-1], file=sys.stderr, flush=True)
print(json.dumps(results))
"""


@pytest.mark.parametrize("name", list(READERS))
def test_deep_actions_give_a_result_or_recursion_error(name):
    depths = [2, 900, 9_000, MAX_DEPTH, MAX_DEPTH + 1, 40_000, 10**6]
    body = f"NAME = {name!r}; DEPTHS = {depths!r}; LIMIT = {MAX_DEPTH}\n" + DEEP
    for kind, depth, want, got, back in child(body):
        case = (kind, depth)
        if depth > MAX_DEPTH:
            assert got == "RecursionError", case
        else:
            assert got == want, case  # json.dumps and the library share the interpreter's limit
        if got is None:
            assert back == [depth, 7], case


CAPPED = """
def in_use():  # bytes the C allocator has handed out and not had back
    class MallInfo2(ctypes.Structure):
        _fields_ = [(n, ctypes.c_size_t) for n in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks",
                                                    "fsmblks", "uordblks", "fordblks", "keepcost")]
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = MallInfo2
    gc.collect()
    m = libc.mallinfo2()
    return m.uordblks + m.hblkhd

def address_space():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) << 10 for line in f if line.startswith("VmSize"))

orders = [dict(ORDER, price=65000.5 + i) for i in range(N_ORDERS)]
CALLS = {
    "sign_all": lambda: SIGNER.sign_all(orders),
    "py_prepare_all_orders": lambda: N.py_prepare_all_orders(orders, "mainnet", KP.pubkey),
    "sign_group": lambda: SIGNER.sign_group(orders),
    "py_finalize_transaction": lambda: READERS["py_finalize_transaction"](
        [{"l": {"c": "BTC-USD", "px": i, "tif": "GTC"}} for i in range(N_ORDERS)]),
}
call = CALLS[NAME]
call()  # the worker pool started and the allocator warm, with the address space unlimited
before = in_use()
base = address_space()
seen = []
for step in range(1, 400):  # caps 512 KiB apart, upwards from what the process holds, until the call fits
    resource.setrlimit(resource.RLIMIT_AS, (base + (step << 19), resource.RLIM_INFINITY))
    try:
        seen.append(outcome(lambda: len(call()))[0])
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    if seen[-2:] == [None, None]:
        break
print(json.dumps({"seen": seen, "grown": in_use() - before}))
"""


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's shadow memory needs an unlimited address space")
@pytest.mark.parametrize("name", ["sign_all", "py_prepare_all_orders", "sign_group", "py_finalize_transaction"])
def test_memory_running_out_is_memory_error_and_leaks_nothing(name):
    result = child(f"NAME = {name!r}; N_ORDERS = {1 << 13}\n" + CAPPED)
    assert set(result["seen"]) <= {None, "MemoryError"}
    assert "MemoryError" in result["seen"]  # the sweep started below what the call needs
    assert result["grown"] < 1 << 20
