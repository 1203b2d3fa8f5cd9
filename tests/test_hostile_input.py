"""Hostile input to the external-wallet half: "actions" nested deeper than any
stack, memory running out half-way through a batch, containers that contain
themselves.

Whatever could end the process runs in a child interpreter, whose exit status
is part of what is checked. The oracle for reading "actions" is the host's own
json.dumps: the library must agree with it on every depth both can hold.
"""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import _native as N

MAX_DEPTH = 10_000  # arrays and objects nested in "actions", the list itself included

UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")

PRELUDE = """
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
    try:
        return "ok", call()
    except (RecursionError, MemoryError, ValueError) as e:
        return type(e).__name__, None
"""


def child(body, timeout=600):
    proc = subprocess.run([sys.executable, "-c", PRELUDE + textwrap.dedent(body)],
                          capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, f"child ended with {proc.returncode}: {proc.stderr[-600:]}"
    return json.loads(proc.stdout.splitlines()[-1])


# --- nesting ------------------------------------------------------------------------

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


@pytest.mark.parametrize("name", ["py_finalize_transaction", "prepare_wallet_message", "sign_prepared",
                                  "sign_wallet_prepared"])
def test_deep_actions_give_a_result_or_recursion_error(name):
    depths = [2, 900, 9_000, MAX_DEPTH, MAX_DEPTH + 1, 40_000, 10**6]
    body = f"NAME = {name!r}; DEPTHS = {depths!r}; LIMIT = {MAX_DEPTH}\n" + DEEP
    for kind, depth, want, got, back in child(body):
        case = (kind, depth)
        if depth > MAX_DEPTH:
            assert got == "RecursionError", case
        else:
            assert got == want, case  # json.dumps and the library share the interpreter's limit
        if got == "ok":
            assert back == [depth, 7], case


CYCLIC_LIST = []
_inner = CYCLIC_LIST
for _ in range(100):
    _inner.append([])
    _inner = _inner[0]
_inner.append(CYCLIC_LIST)  # the cycle closes 101 levels down
CYCLIC_DICT = {}
_inner = CYCLIC_DICT
for _ in range(50):
    _inner["k"] = {}
    _inner = _inner["k"]
_inner["back"] = [1, CYCLIC_DICT]
CYCLIC_TUPLE = ([],)
CYCLIC_TUPLE[0].append(CYCLIC_TUPLE)
DEEP_SELF = [1]
DEEP_SELF.append(DEEP_SELF)  # a list inside itself, 40 levels down
DEEP_LOOP = {"a": [1, 2]}
DEEP_LOOP["a"].append({"b": {"c": DEEP_LOOP}})  # closes 3 levels below its start, 40 levels down
for _ in range(40):
    DEEP_SELF, DEEP_LOOP = [DEEP_SELF], [DEEP_LOOP]


@pytest.mark.parametrize("actions", [CYCLIC_LIST, [CYCLIC_DICT], [CYCLIC_TUPLE], [[CYCLIC_LIST], CYCLIC_LIST],
                                     DEEP_SELF, DEEP_LOOP],
                         ids=["list", "dict", "tuple", "twice", "deep self", "deep loop"])
def test_a_container_inside_itself_is_refused_as_json_dumps_refuses_it(actions):
    with pytest.raises(ValueError) as dumped:
        json.dumps(actions)
    kp = N.Keypair(bytes(range(1, 33)))
    prepared = dict(N.py_prepare_order({"type": "order", "symbol": "X", "is_buy": True, "price": 1.0, "size": 1.0},
                                       "mainnet", kp.pubkey, nonce=1), actions=actions)
    with pytest.raises(ValueError) as read:
        N.prepare_wallet_message(prepared, "raw")
    assert str(read.value) == str(dumped.value) == "Circular reference detected"


def test_a_container_met_again_off_its_own_path_is_no_cycle():
    shared = [[1], {"x": [2]}]  # met at every level, down to 80 below the top
    actions = [shared]
    for _ in range(40):
        actions = [actions, shared, {"s": shared}]
    kp = N.Keypair(bytes(range(1, 33)))
    prepared = dict(N.py_prepare_order({"type": "order", "symbol": "X", "is_buy": True, "price": 1.0, "size": 1.0},
                                       "mainnet", kp.pubkey, nonce=1), actions=actions)
    back = N.prepare_wallet_message(prepared, "raw")["prepared"]["actions"]
    assert json.dumps(back) == json.dumps(json.loads(json.dumps(actions)))


# --- actions handed back --------------------------------------------------------------

def as_read_back(value):
    """json.loads(json.dumps(value)), dict keys in ascending UTF-8 byte order and
    integers outside the signed 64-bit range as the nearest float."""
    def number(text):
        return int(text) if -2**63 <= int(text) < 2**63 else float(text)

    def order(v):
        if isinstance(v, list):
            return [order(x) for x in v]
        if isinstance(v, dict):
            return {k: order(v[k]) for k in sorted(v, key=lambda k: k.encode())}
        return v
    return order(json.loads(json.dumps(value), parse_int=number))


def same(a, b):
    """Equal, with the same types, dict key orders and float signs all the way down."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return repr(a) == repr(b)


Text = type("Text", (str,), {})
Int = type("Int", (int,), {})
Items = type("Items", (dict,), {})


# Dicts of our own output, and every way a value read back can differ from the
# objects given: keys out of byte order or repeated once converted, keys of
# other types, subclasses, ints past 63 bits, joined surrogate pairs; also
# where the difference shows only after earlier parts were read.
@pytest.mark.parametrize("actions", [
    [{"l": {"b": True, "c": "BTC-USD", "i": False, "px": 65000.5, "r": False, "sz": 0.25, "tif": "GTC"}}],
    [{"b": 1, "a": 2}], [{"a": [1, {"z": [2], "y": 3}], "b": {"c": 4}}], [{"\u00e9": 1, "z": 2}],
    [{"a": {"x": 1}, 1: 2}], [{1: "a", "1": "b"}], [{2.5: 1, True: 2, None: 3}],
    [Text("t"), {Text("k"): Int(5)}, Items(a=(1, 2))], [2**63, 2**64 - 1, 2**64, -2**63, 10**30],
    [{"\ud83d\ude00": "\ud83d\ude00"}], [-0.0, 1e308, 5e-324, [], {}, [[]], [{}]],
], ids=range(11))
def test_actions_handed_back_are_what_the_json_round_trip_gives(actions):
    kp = N.Keypair(bytes(range(1, 33)))
    prepared = dict(N.py_prepare_order({"type": "order", "symbol": "X", "is_buy": True, "price": 1.0, "size": 1.0},
                                       "mainnet", kp.pubkey, nonce=1), actions=actions)
    signer = N.Signer(kp, "mainnet")
    want = as_read_back(actions)
    assert same(N.prepare_wallet_message(prepared, "raw")["prepared"]["actions"], want)
    assert same(signer.sign_prepared(prepared)["actions"], want)


# --- memory running out -------------------------------------------------------------

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
for step in range(1, 200):  # caps 1 MiB apart, upwards from what the process holds, until the call fits
    resource.setrlimit(resource.RLIMIT_AS, (base + (step << 20), resource.RLIM_INFINITY))
    try:
        seen.append(outcome(lambda: len(call()))[0])
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    if seen[-2:] == ["ok", "ok"]:
        break
print(json.dumps({"seen": seen, "grown": in_use() - before}))
"""


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's shadow memory needs an unlimited address space")
@pytest.mark.parametrize("name", ["sign_all", "py_prepare_all_orders", "sign_group", "py_finalize_transaction"])
def test_memory_running_out_is_memory_error_and_leaks_nothing(name):
    result = child(f"NAME = {name!r}; N_ORDERS = {1 << 13}\n" + CAPPED)
    assert set(result["seen"]) <= {"ok", "MemoryError"}
    assert "MemoryError" in result["seen"]  # the sweep started below what the call needs
    assert result["grown"] < 1 << 20
