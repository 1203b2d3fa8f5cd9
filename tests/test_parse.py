"""Python values into records, one table per input kind. Each order dict goes
through Signer.sign_group (its submission JSON shows every field read) and
compute_order_id_from_order (its identifier, recomputed by order_id_oracle from
the expected record, shows what enters the order encoding); a refused dict gives
both the same error. Then the compact order shapes, lists and batches, and the
other actions' arguments: transfer kinds, liquidator configurations, tuple
sequences."""

import hashlib
import json
import math
import struct
from decimal import Decimal

import base58
import pytest

import _native as N
from helpers import b58, keys_in_byte_order, raises
from hostile import Index, LyingSequence, Number, boom
from order_id_oracle import limit_encoding, market_encoding, order_id

ACCOUNT = bytes([0x11]) * 32
ACCOUNT58 = base58.b58encode(ACCOUNT).decode()
NONCE = 1_700_000_000_000_000_000
HASH58 = base58.b58encode(bytes(range(32))).decode()
SHORT58 = base58.b58encode(bytes(31)).decode()
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
SIGNER = N.Signer(N.Keypair(bytes(range(32))), "testnet")
BAD_B58 = "invalid base58: provided string contained invalid character '0' at byte 0"
REAL = "must be real number, not "
OVERFLOW = "out of range integral type conversion attempted"
FEE = "invalid order: builder-code fee must be 1..=15 bps"
INVALID = "Invalid order JSON. Expected simplified {'type': ...} or compact {'l'|'m'|'cx'|'mod'|'cxa'}"
DICT, STR = "'{}' object cannot be converted to 'PyDict'", "'{}' object cannot be converted to 'PyString'"
DROP = object()


def compute(order, nonce=NONCE, account=ACCOUNT58):
    return N.compute_order_id_from_order(order, nonce, account)


def signed(items):
    return SIGNER.sign_group(items, 1)["actions"]


def item(base, **kw):
    return {k: v for k, v in {**base, **kw}.items() if v is not DROP}


ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1, "size": 2}
STOP = {"type": "stop", "symbol": "S", "is_buy": False, "size": 1, "trigger_price": 2}
RANGE = {"type": "rng", "symbol": "R", "is_buy": True, "size": 3, "pmin": 1, "pmax": 5}
TRAIL = {"type": "trl", "symbol": "T", "is_buy": False, "size": 1, "trail_bps": 10, "step_bps": 2}
TP = item(STOP, type="tp")
BASKET = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 5, "actions": [TP, ORDER]}
MODIFY = {"type": "modify", "symbol": "S", "order_id": HASH58, "amount": 3}


def order(**kw):
    return item(ORDER, **kw)


def otype(**kw):
    return order(order_type=kw)


def lim(**kw):
    return {"l": {"c": "BTC-USD", "b": True, "px": 1.0, "sz": 2.0, "tif": "GTC", "r": False, "i": False, **kw}}


def mkt(**kw):
    return {"m": {"c": "BTC-USD", "b": True, "sz": 2.0, "r": False, "i": False, **kw}}


ST = {"c": "S", "d": False, "sz": 1.0, "tr": 2.0, "lim": None, "i": False}
RNG = {"rng": {"c": "R", "d": True, "sz": 3.0, "pmin": 1.0, "pmax": 5.0, "lmin": None, "lmax": None, "i": False}}
TRL = {"trl": {"c": "T", "b": False, "sz": 1.0, "trb": 10, "stb": 2, "lim": None, "i": False}}
CODE = {"builderCode": {"to": PUBKEY58, "fee": 15}}


def identifier(record):
    """The identifier of the one order the record holds, recomputed; None for the other records."""
    kind, f = next(iter(record.items()))
    if kind == "l":
        return order_id(limit_encoding(f["c"], f["b"], f["px"], f["sz"], f["tif"], f["r"], f["i"]), NONCE, ACCOUNT)
    if kind == "m":
        return order_id(market_encoding(f["c"], f["b"], f["sz"], f["r"], f["i"], f.get("slippage")), NONCE, ACCOUNT)
    return None


# (order dict, the record it becomes, or (exception, text or None))
ORDER_CASES = [
    (ORDER, lim()),
    (order(is_buy=False, price=Decimal("3.5"), size=Index(4)), lim(b=False, px=3.5, sz=4.0)),
    (order(reduce_only=1, iso="yes"), lim()),  # lenient: not a bool is false
    (order(reduce_only=True, iso=1, client_id=HASH58, builder_code={"to": PUBKEY58, "fee": 15},
           order_type={"type": "limit", "tif": "alo", "is_market": False}), lim(r=True, tif="ALO", **CODE)),
    (otype(type="limit", tif="ıoc"), lim(tif="IOC")),  # full Unicode upper-casing: dotless i becomes I
    (otype(type="limit", tif=5), lim()),
    (otype(type="limit", tif="\udc80"), lim()),  # not encodable: not text
    (otype(type="limit", tif="ioc "), (ValueError, "Invalid tif: ioc ")),
    (otype(type="market", is_market=True, trigger_px="x", tif="bogus"), mkt()),
    (otype(type="trigger", trigger_px=100), mkt()),
    (order(order_type={"type": "market"}, reduce_only=True, slippage=Index(0)), mkt(r=True, slippage=0.0)),
    (order(symbol=" a\x00ß ", size=-0.0), lim(c=" a\x00ß ", sz=-0.0)),
    # Required keys and strict kinds, in reading order.
    (order(symbol=DROP, is_buy=DROP), (ValueError, "Missing 'symbol'")),
    (order(is_buy=DROP, price=DROP), (ValueError, "Missing 'is_buy'")),
    (order(price=DROP, order_type={"type": "market"}), (ValueError, "Missing 'price'")),
    (order(symbol=None), (TypeError, STR.format("NoneType"))),
    (order(is_buy=1), (TypeError, "'int' object cannot be converted to 'PyBool'")),
    (order(price="1"), (TypeError, REAL + "str")),
    (order(price=boom()), (RuntimeError, "boom")),
    (order(symbol="\udc80"), (UnicodeEncodeError, None)),
    (order(order_type=[]), (TypeError, DICT.format("list"))),
    (otype(), (ValueError, "Missing order_type.type")),
    (otype(type="Limit"), (ValueError, "Invalid order_type: Limit")),
    (order(client_id=SHORT58), (ValueError, "invalid hash length: expected 32 bytes, got 31")),
    (order(commission=None), (ValueError, "commission was renamed to builder_code")),
    (order(slippage=None), (TypeError, REAL + "NoneType")),
    # The first failing key in reading order wins.
    (order(order_type={"type": "limit", "tif": "gtd"}, client_id="0"), (ValueError, "Invalid tif: gtd")),
    (order(client_id="0", commission=1), (ValueError, BAD_B58)),
    (order(commission={}, builder_code=None), (ValueError, "commission was renamed to builder_code")),
    (order(builder_code={"to": PUBKEY58, "fee": 99}, slippage="x"), (ValueError, FEE)),
]
BUILDER_CODES = [  # (value under "builder_code", its record or an error)
    ({"to": PUBKEY58, "fee": 1}, {"to": PUBKEY58, "fee": 1}), ({"to": PUBKEY58, "fee": Index(15)}, CODE["builderCode"]),
    ({"to": PUBKEY58, "fee": 0}, (ValueError, FEE)), ({"to": PUBKEY58, "fee": 16}, (ValueError, FEE)),
    ({"to": PUBKEY58, "fee": 255}, (ValueError, FEE)), ({"to": PUBKEY58, "fee": 256}, (OverflowError, OVERFLOW)),
    ({"to": PUBKEY58, "fee": -1}, (OverflowError, OVERFLOW)), ({"to": PUBKEY58, "fee": boom()}, (RuntimeError, "boom")),
    ({"to": PUBKEY58, "fee": 1.0}, (TypeError, "'float' object cannot be interpreted as an integer")),
    ({"fee": 5}, (ValueError, "Missing builder_code.to")), ({"to": PUBKEY58}, (ValueError, "Missing builder_code.fee")),
    ({"to": 5, "fee": 500}, (TypeError, STR.format("int"))),
    ({"to": "0", "fee": 99}, (ValueError, BAD_B58)), ({"to": "0", "fee": 300}, (OverflowError, OVERFLOW)),
    ({"to": SHORT58, "fee": 5}, (ValueError, "invalid key length: expected 32, got 31")),
    (None, (ValueError, "builder_code must be omitted or an object")),
    ([], (TypeError, DICT.format("list"))),
]
ORDER_CASES += [(order(builder_code=code), want if isinstance(want, tuple) else lim(builderCode=want))
                for code, want in BUILDER_CODES]
ORDER_CASES += [
    (MODIFY, {"mod": {"c": "S", "oid": HASH58, "sz": 3.0}}),
    (item(MODIFY, order_id="0"), (ValueError, BAD_B58)),
    (item(MODIFY, order_id="0", amount=DROP), (ValueError, "Missing 'amount'")),  # the id is decoded last
    (item(MODIFY, order_id=5, amount=DROP), (TypeError, STR.format("int"))),
    ({"type": "cancel", "symbol": "S", "order_id": HASH58}, {"cx": {"c": "S", "oid": HASH58}}),
    ({"type": "cancel", "symbol": "S"}, (ValueError, "Missing 'order_id'")),
    ({"type": "cancel_all"}, {"cxa": {"c": []}}),
    ({"type": "cancel_all", "symbols": ("A", "B", "A")}, {"cxa": {"c": ["A", "B", "A"]}}),
    # "symbols" never raises: anything but a sequence of str is an empty list.
    *[({"type": "cancel_all", "symbols": bad}, {"cxa": {"c": []}})
      for bad in ("AB", ["A", 1], ["A", "\udc80"], {"A": 1}, None, iter(["A"]))],
    *[({"type": t}, (ValueError, f"Invalid item type: {t}")) for t in ("cancelAll", "limit", "trigger", "a\x00b")],
    ({"type": None}, (TypeError, STR.format("NoneType"))),
    (STOP, {"st": ST}),
    *[(item(STOP, type=t, limit_price=boom()), {t[0] + ("t" if t[0] == "s" else "p"): ST})
      for t in ("stop", "st", "take_profit", "tp")],  # lenient: a failing optional read is absent
    (item(STOP, type="st", limit_price=0, iso=True), {"st": {**ST, "lim": 0.0, "i": True}}),
    (item(STOP, limit_price=math.nan), {"st": ST}),
    (item(STOP, slippage=0.01), {"st": ST}),  # the signer's JSON leaves out conditional slippage
    (item(STOP, type="take_profit", limit_price="x", reduce_only=True, client_id=5, commission=1), {"tp": ST}),
    (item(TP, builder_code={"to": PUBKEY58, "fee": 15}), {"tp": {**ST, **CODE}}),
    (item(TP, slippage="x"), (TypeError, REAL + "str")),
    (item(TP, trigger_price="x"), (TypeError, REAL + "str")),
    (item(STOP, size=DROP, trigger_price=DROP), (ValueError, "Missing 'size'")),
    (item(STOP, builder_code=None, slippage="x"), (ValueError, "builder_code must be omitted or an object")),
    (RANGE, RNG),
    (item(RANGE, type="range", lmin=0.5, lmax="x", iso=True), {"rng": {**RNG["rng"], "lmin": 0.5, "i": True}}),
    (item(RANGE, size=DROP, pmin=DROP), (ValueError, "Missing 'size'")),
    (item(RANGE, tp_slippage=[]), (TypeError, REAL + "list")),
    (item(RANGE, builder_code={"to": PUBKEY58, "fee": 0}), (ValueError, FEE)),
    (TRAIL, TRL),
    (item(TRAIL, type="trailing_stop", trail_bps=4294967295, step_bps=True, limit_price=7),
     {"trl": {**TRL["trl"], "trb": 4294967295, "stb": 1, "lim": 7.0}}),
    (item(TRAIL, trail_bps=Index(7), step_bps=0, limit_price=boom()), {"trl": {**TRL["trl"], "trb": 7, "stb": 0}}),
    (item(TRAIL, limit_price=None), TRL),  # wrong kind counts as absent
    (item(TRAIL, trail_bps=-1), (OverflowError, OVERFLOW)),
    (item(TRAIL, step_bps=4294967296), (OverflowError, OVERFLOW)),
    (item(TRAIL, trail_bps=1.0), (TypeError, "'float' object cannot be interpreted as an integer")),
    (item(TRAIL, step_bps=DROP), (ValueError, "Missing 'step_bps'")),
    (item(TRAIL, builder_code={"to": PUBKEY58, "fee": 0}, slippage="x"), (ValueError, FEE)),
    ({"type": "trig", "symbol": "B", "is_buy": True, "trigger_price": 9, "actions": [STOP, ORDER], "builder_code": None},
     {"trig": {"c": "B", "d": True, "tr": 9.0, "actions": [{"st": ST}, lim()]}}),
    (item(BASKET, iso=False), (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    ({"type": "trig", "iso": None}, (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    (item(BASKET, actions=(TP,)), (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    (item(BASKET, actions=DROP), (ValueError, "Missing 'actions'")),
    (item(BASKET, trigger_price=DROP, actions=5), (ValueError, "Missing 'trigger_price'")),
    (item(BASKET, actions=[TP, item(TP, size=DROP), order(symbol=DROP)]), (ValueError, "Missing 'size'")),
    (item(BASKET, actions=[TP, {"symbol": "S"}]), (ValueError, "Missing 'type' field")),
    ({"type": "of", "trigger": ORDER, "actions": [TP], "on_fill": 5}, {"of": {"trigger": lim(), "actions": [{"tp": ST}]}}),
    ({"type": "on_fill", "trigger": ORDER, "actions": [RANGE, item(BASKET, actions=[])]},
     {"of": {"trigger": lim(), "actions": [RNG, {"trig": {"c": "S", "d": True, "tr": 5.0, "actions": []}}]}}),
    ({"type": "on_fill", "actions": []}, (ValueError, "Missing 'trigger'")),
    ({"type": "of", "trigger": order(price=DROP), "actions": 1}, (ValueError, "Missing 'price'")),
    ({"type": "of", "trigger": [], "actions": []}, (TypeError, DICT.format("list"))),
]


def check(expected, call, *args):
    """call(*args) raises (exception, text) when expected is a tuple, else returns expected."""
    if isinstance(expected, tuple):
        raises(*expected, call, *args)
    else:
        assert call(*args) == expected


@pytest.mark.parametrize("obj, expected", ORDER_CASES)
def test_order_dicts(obj, expected):
    if isinstance(expected, tuple):
        raises(*expected, compute, obj)
        raises(*expected, signed, [obj])
        return
    got = signed([obj])
    assert json.dumps(got, sort_keys=True) == json.dumps([expected], sort_keys=True)  # also tells 1 from 1.0
    keys_in_byte_order(got)
    assert signed([{(k + ".")[:-1]: v for k, v in obj.items()}]) == got  # equal keys, not the interned ones
    assert compute(obj) == identifier(expected)


@pytest.mark.parametrize("obj, expected", [  # parsed, identified, then refused when the message is encoded
    (otype(type="market", is_market=1), None),
    (order(slippage=0.01, client_id=HASH58, builder_code={"to": PUBKEY58, "fee": 5}), identifier(lim())),
])
def test_order_dicts_refused_only_by_the_encoder(obj, expected):
    assert compute(obj) == expected
    raises(ValueError, "invalid order: *", signed, [obj])


def prepared(obj):
    """Preparation-flavour JSON of one order dict, its "on_fill" key attached; a batch (on the pool), which ignores
    that key, prepares it alike."""
    one = N.py_prepare_order(obj, "mainnet", ACCOUNT58, nonce=1)
    batch = N.py_prepare_all_orders([obj] * 10, "mainnet", ACCOUNT58, base_nonce=1)[0]
    assert batch == (one if "on_fill" not in obj else N.py_prepare_order(item(obj, on_fill=DROP), "mainnet",
                                                                          ACCOUNT58, nonce=1))
    return one["actions"][0]


@pytest.mark.parametrize("obj, expected", [  # fields only the preparation JSON shows, and the on-fill attachment
    (item(STOP, slippage=0.5), {"st": {**ST, "slippage": 0.5}}),
    (item(TP, slippage=0), {"tp": {**ST, "slippage": 0.0}}),
    (item(RANGE, sl_slippage=0.1), {"rng": {**RNG["rng"], "slSlippage": 0.1}}),
    (item(RANGE, tp_slippage=0.2), {"rng": {**RNG["rng"], "tpSlippage": 0.2}}),
    (item(TRAIL, slippage=1), {"trl": {**TRL["trl"], "slippage": 1.0}}),
    (order(on_fill={"actions": []}), {"of": {"trigger": lim(), "actions": []}}),
    (order(on_fill={"actions": [STOP, TRAIL], "x": 1}), {"of": {"trigger": lim(), "actions": [{"st": ST}, TRL]}}),
    (order(symbol=None, on_fill=5), (TypeError, STR.format("NoneType"))),
    (order(on_fill=None), (TypeError, DICT.format("NoneType"))),
    (order(on_fill={}), (ValueError, "Missing on_fill.actions")),
    (order(on_fill={"actions": (ORDER,)}), (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    (order(on_fill={"actions": [ORDER, {"type": "x"}]}), (ValueError, "Invalid item type: x")),
])
def test_prepared_order_dicts(obj, expected):
    check(expected, prepared, obj)


def clim(*drop, **kw):
    return {k: v for k, v in {"c": "BTC-USD", "b": True, "px": 50000.5, "sz": 0.25, **kw}.items() if k not in drop}


def cmkt(*drop, **kw):
    return {k: v for k, v in {"c": "ETH-USD", "b": False, "sz": 3, **kw}.items() if k not in drop}


LIM_ID = identifier(lim(px=50000.5, sz=0.25))
MKT_ID = identifier(mkt(c="ETH-USD", b=False, sz=3))
COMPACT_CASES = [  # compute_order_id_from_order only: (dict, identifier, None, or an error)
    ({"l": clim()}, LIM_ID),
    ({"l": clim(tif=5, r=1, i="true", cloid=HASH58, builder_code={"to": PUBKEY58, "fee": 3})}, LIM_ID),
    ({"l": clim(tif="aLo", sz=2**70)}, identifier(lim(px=50000.5, sz=float(2**70), tif="ALO"))),
    ({"l": clim(tif="iocx")}, (ValueError, "Invalid l.tif: iocx")),
    *[({"l": clim(*drop)}, (ValueError, f"Missing 'l.{drop[0]}'")) for drop in (("c", "b"), ("b",), ("px",), ("sz",))],
    ({"l": clim(b="yes")}, (TypeError, "'str' object cannot be converted to 'PyBool'")),
    ({"l": clim(px="1")}, (TypeError, REAL + "str")),
    ({"l": clim(cloid="0", commission=1)}, (ValueError, BAD_B58)),
    ({"l": clim(cloid=None)}, (TypeError, STR.format("NoneType"))),
    ({"l": clim(commission={})}, (ValueError, "commission was renamed to builder_code")),
    ({"l": clim(builder_code={"to": PUBKEY58, "fee": 0})}, (ValueError, FEE)),
    ({"l": clim(builder_code=None)}, (ValueError, "builder_code must be omitted or an object")),
    ({"l": []}, (TypeError, DICT.format("list"))),
    ({"m": cmkt(tif="bogus", cloid="0", px="x")}, MKT_ID),  # not read for a market order
    ({"m": cmkt(slippage=0.25)}, identifier(mkt(c="ETH-USD", b=False, sz=3, slippage=0.25))),
    ({"m": cmkt(slippage="x")}, (TypeError, REAL + "str")),
    *[({"m": cmkt(drop)}, (ValueError, f"Missing 'm.{drop}'")) for drop in ("c", "b", "sz")],
    ({"m": cmkt(commission=None)}, (ValueError, "commission was renamed to builder_code")),
    ({"m": None}, (TypeError, DICT.format("NoneType"))),
    ({"cx": {"c": "BTC-USD", "oid": HASH58}}, None),
    ({"cx": {"c": "BTC-USD"}}, (ValueError, "Missing 'cx.oid'")),
    ({"cx": {"oid": "0"}}, (ValueError, "Missing 'cx.c'")),
    ({"cx": {"c": "BTC-USD", "oid": "0"}}, (ValueError, BAD_B58)),
    ({"cx": []}, (TypeError, DICT.format("list"))),
    ({"mod": {"c": "S", "oid": HASH58, "sz": 1}}, None),
    ({"mod": {"c": "S", "oid": HASH58, "amount": 1}}, None),
    ({"mod": {"c": "S", "oid": HASH58, "sz": "x", "amount": 1}}, (TypeError, REAL + "str")),
    ({"mod": {"c": "S", "oid": HASH58}}, (ValueError, "Missing 'mod.sz'")),
    ({"mod": {"c": "S", "sz": 1}}, (ValueError, "Missing 'mod.oid'")),
    ({"mod": {"oid": HASH58, "sz": 1}}, (ValueError, "Missing 'mod.c'")),
    ({"cxa": ("BTC-USD", "ETH-USD")}, None),
    ({"cxa": "BTC-USD"}, (TypeError, "Can't extract `str` to `Vec`")),
    ({"cxa": ["BTC-USD", 1]}, (TypeError, STR.format("int"))),
    ({"cxa": 5}, (TypeError, "'int' object cannot be converted to 'Sequence'")),
    # The first present key of type, l, m, cx, mod, cxa decides the shape.
    ({"x": 1, "L": {}}, (ValueError, INVALID)),
    ({"type": "cancel_all", "l": []}, None),
    ({"l": clim(), "m": None}, LIM_ID),
    ({"m": cmkt(), "cx": None}, MKT_ID),
    ({"cx": {"c": "S", "oid": HASH58}, "mod": None}, None),
    ({"cxa": [], "mod": None}, (TypeError, DICT.format("NoneType"))),
    ({"type": None, "l": clim()}, (TypeError, STR.format("NoneType"))),
]


@pytest.mark.parametrize("obj, expected", COMPACT_CASES)
def test_compact_order_dicts(obj, expected):
    check(expected, compute, obj)


@pytest.mark.parametrize("args, exc, text", [
    (([], NONCE, ACCOUNT58), TypeError, "argument 'order': 'list' object cannot be converted to 'PyDict'"),
    (({}, NONCE, b"x"), TypeError, "argument 'account': 'bytes' object cannot be converted to 'PyString'"),
    # The account is decoded before the order is looked at.
    (({}, 0, SHORT58), ValueError, "invalid key length: expected 32, got 31"),
    (({"l": {}}, 0, "0"), ValueError, BAD_B58),
])
def test_compute_order_id_from_order_arguments(args, exc, text):
    raises(exc, text, N.compute_order_id_from_order, *args)


# Identifier preimage of the worked example's limit order (BTC-USD, buy,
# 50000.5 x 0.25, GTC), account 32 x 0x11, nonce 1700000000000000000.
WORKED = bytes.fromhex("01000000 0700000000000000 4254432d555344 01 8040342a8c040000 40787d0100000000 00000000 00 00")


@pytest.mark.parametrize("seqno, expected", [(0, "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"),
                                             (1, "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx")])
def test_worked_identifiers(seqno, expected):
    pre = struct.pack("<I", seqno) + WORKED + ACCOUNT + struct.pack("<Q", NONCE)
    assert len(pre) == 86 and N.compute_order_id(pre) == N.compute_order_id(wincode_bytes=pre) == expected
    assert N.compute_order_id(type("Raw", (bytes,), {})(pre)) == expected == b58(hashlib.sha256(pre).digest())
    assert seqno or compute(order(price=50000.5, size=0.25)) == expected


def test_hooks_and_subclasses():
    class Weird(dict):  # lookups go to the dict storage, never to these
        def __getitem__(self, key):
            raise AssertionError("consulted")

        get = __getitem__

    class Shouty(str):
        def upper(self):
            return "IOC"

    assert compute(Weird(order(order_type=Weird(type="limit", tif=Shouty("gtc"))))) == identifier(lim())
    victim, actions = order(), [TP, TP]
    drop_all = Number(7.0, lambda: (victim.clear(), actions.clear()))  # drops the value being converted
    victim["size"] = drop_all
    assert compute(victim) == identifier(lim(sz=7.0))
    actions[:] = [item(TP, size=drop_all), TP]
    assert compute(item(BASKET, actions=actions)) is None


@pytest.mark.parametrize("exc", [KeyboardInterrupt, MemoryError])
def test_lenient_reads_swallow_only_ordinary_errors(exc):
    for obj in (item(STOP, limit_price=Number(exc)), item(TRAIL, limit_price=Number(exc)),
                item(RANGE, lmax=Number(exc)), otype(type="market", trigger_px=Number(exc))):
        raises(exc, None, compute, obj)


@pytest.mark.parametrize("wrap", [lambda n: {"type": "of", "trigger": n, "actions": []},
                                  lambda n: item(BASKET, actions=[n])])
def test_nesting_bound(wrap):
    def chain(depth):
        node = order()
        for _ in range(depth - 1):
            node = wrap(node)
        return node

    assert compute(chain(32)) is None
    looped = wrap(None)  # an item that contains itself
    looped.update(wrap(looped))
    for obj in (chain(33), chain(100_000), looped):
        raises(ValueError, "order nesting exceeds 32 levels", compute, obj)
    basket = ORDER
    for _ in range(31):
        basket = item(BASKET, actions=[basket])
    assert "trig" in signed([basket])[0]  # 32 levels
    # the on-fill attachment is one more above it
    raises(ValueError, "order nesting exceeds 32 levels", prepared, {**basket, "on_fill": {"actions": []}})


# --- lists and batches of order dicts -------------------------------------------------


def test_order_lists_and_batches():
    assert signed([STOP, ORDER, RANGE]) == [{"st": ST}, lim(), RNG]
    for method in (SIGNER.sign_group, SIGNER.sign_all, SIGNER.sign_order):
        raises(TypeError, "argument 'orders': 'tuple' object cannot be converted to 'PyList'", method, (ORDER,))
        raises(TypeError, DICT.format("int"), method, [ORDER, 5])
        # The first failing element wins, unchanged.
        raises(TypeError, STR.format("int"), method, [ORDER, order(symbol=1), {}])
        raises(ValueError, "Missing 'type' field", method, [ORDER, {}, order(symbol=1)])
    got = SIGNER.sign_orders_batch([[ORDER], [STOP, TRAIL]], 1)
    assert [tx["actions"] for tx in got] == [[lim()], [{"st": ST}, TRL]]
    raises(TypeError, "argument 'batches': 'dict' object cannot be converted to 'PyList'", SIGNER.sign_orders_batch, {})
    raises(TypeError, "'tuple' object cannot be converted to 'PyList'", SIGNER.sign_orders_batch, [[ORDER], (ORDER,)])
    raises(TypeError, REAL + "str", SIGNER.sign_orders_batch, [[ORDER], [STOP, item(STOP, size="x")], 5])


# --- the other actions' arguments -------------------------------------------------------


def test_transfer_kind():
    kinds = [SIGNER.sign_transfer(PUBKEY58, PUBKEY58, 1.0, k, 1)["actions"][0]["transfer"]["k"]
             for k in (None, "internal", "external")]
    assert kinds == ["internal", "internal", "external"]
    for kind in ("Internal", "", "external ", "ext\x00"):
        raises(ValueError, f"Invalid transfer kind: {kind}", SIGNER.sign_transfer, PUBKEY58, PUBKEY58, 1.0, kind, 1)


INSTRUMENT_KEYS = ["max_exposure", "reserve", "rfactor", "volume_percent", "volume_min", "max_sweep_bps",
                   "max_adl_notional", "max_adl_percent"]
ZERO_CONFIG = {"instruments": [], "cross_exposure": 0.0, "scoring_skew": 0.0, "toxicity": 0.0,
               "urgency_size_fraction": 0.0, "sweep_sds": 0.0}


def liq(config):
    return SIGNER.sign_update_liquidator_config(config, 1)["actions"][0]["liq"]


def instrument(symbol, **kw):
    return {"symbol": symbol, **{k: 0.0 for k in INSTRUMENT_KEYS}, "volume_rampup": 0, **kw}


def test_liquidator_config_values():
    assert liq({}) == ZERO_CONFIG
    assert liq({"cross_exposure": "x", "toxicity": None, "sweep_sds": boom(), "scoring_skew": 2,
                "urgency_size_fraction": 0.5, "other": 1}) == {**ZERO_CONFIG, "scoring_skew": 2.0,
                                                              "urgency_size_fraction": 0.5}
    full = {k: float(i + 1) for i, k in enumerate(INSTRUMENT_KEYS)}
    got = liq({"instruments": [
        {"symbol": "ETH-USD", **full, "volume_rampup": 2.9},
        {"symbol": "BTC-USD", "max_exposure": "lots", "reserve": None, "rfactor": boom()},
        {"symbol": "BTC-USD", "max_exposure": 5},
    ]})
    assert got["instruments"] == [  # sorted by symbol when encoded; equal symbols keep input order
        instrument("BTC-USD"), instrument("BTC-USD", max_exposure=5.0), instrument("ETH-USD", **full, volume_rampup=2),
    ]


@pytest.mark.parametrize("value, stored", [
    (7.9, 7), (-5, 0), (math.nan, 0), (None, 0), (2.0**62, 2**62), (2**63 - 1025, 2**63 - 1024),
    (1e30, 2.0**64), (math.inf, 2.0**64),  # 2^64-1, shown as the nearest float
])
def test_volume_rampup(value, stored):
    assert liq({"instruments": [{"symbol": "A", "volume_rampup": value}]})["instruments"][0]["volume_rampup"] == stored


M, O, P, L = "sign_user_settings", "sign_oracle_prices", "sign_pyth_oracle", "sign_update_liquidator_config"
ARGUMENT_ERRORS = [
    (L, [], TypeError, DICT.format("list")),
    (L, {"instruments": None}, TypeError, "'NoneType' object cannot be converted to 'PyList'"),
    (L, {"instruments": ({"symbol": "A"},)}, TypeError, "'tuple' object cannot be converted to 'PyList'"),
    (L, {"instruments": [{"symbol": "A"}, "B"]}, TypeError, DICT.format("str")),
    (L, {"instruments": [{"symbol": "A"}, {"max_exposure": 1}, 5]}, ValueError, "Missing 'symbol'"),
    (L, {"instruments": [{"symbol": b"A"}]}, TypeError, STR.format("bytes")),
    (M, "BTC", TypeError, "argument 'max_leverage': Can't extract `str` to `Vec`"),
    (O, 5, TypeError, "argument 'oracles': 'int' object cannot be converted to 'Sequence'"),
    (P, {(1, 2, 3, 4)}, TypeError, "argument 'oracles': 'set' object cannot be converted to 'Sequence'"),
    (M, [("A", 1), ["B", 2]], TypeError, "argument 'max_leverage': 'list' object cannot be converted to 'PyTuple'"),
    (M, [("A", 1, 2)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (O, [(1, "A")], ValueError, "expected tuple of length 3, but got tuple of length 2"),
    (P, [(1, 2, 3, 4), ()], ValueError, "expected tuple of length 4, but got tuple of length 0"),
    (M, [(1, 1)], TypeError, "argument 'max_leverage': 'int' object cannot be converted to 'PyString'"),
    (M, [("A", "1")], TypeError, "argument 'max_leverage': must be real number, not str"),
    (M, [("A", boom())], RuntimeError, "boom"),
    (O, [(1.0, "A", 1)], TypeError, "argument 'oracles': 'float' object cannot be interpreted as an integer"),
    (O, [(-1, "A", 1)], OverflowError, "can't convert negative int to unsigned"),
    (P, [(1, 2**64, 3, 4)], OverflowError, "int too big to convert"),
    (P, [(1, 2, 3, 40000)], OverflowError, OVERFLOW),
    (P, [(1, 2, 3, -32769)], OverflowError, OVERFLOW),
    (M, [("A", 1), ("B",), 5], ValueError, "expected tuple of length 2, but got tuple of length 1"),  # first wins
    (M, [("A", 1)] * 10**6 + [("A", "x")], TypeError, "argument 'max_leverage': must be real number, not str"),
]


@pytest.mark.parametrize("method, value, exc, text", ARGUMENT_ERRORS)
def test_action_argument_errors(method, value, exc, text):
    raises(exc, text, getattr(SIGNER, method), value, 1)


def test_tuple_sequences_convert_in_order():
    settings = SIGNER.sign_user_settings
    assert settings(LyingSequence(("A", 1), ("B", True)), 1)["actions"] == [
        {"updateUserSettings": {"m": {"A": 1.0, "B": 1.0}}}]
    # Pairs keep input order: on the wire a later pair for the same symbol replaces an earlier one.
    sig = [settings(p, 1)["signature"] for p in ([("B", 5), ("B", 2.5)], [("B", 2.5)], [("B", 2.5), ("B", 5)])]
    assert sig[0] == sig[1] != sig[2] == settings([("B", 5)], 1)["signature"]
    # JSON keys in byte order, later pairs win.
    m = settings([("b", 3.0), ("é", 1.0), ("a", 5.0), ("B", 10.0), ("_", 2.0), ("a", 7.5)], 1)["actions"][0]
    assert list(m["updateUserSettings"]["m"].items()) == [("B", 10.0), ("_", 2.0), ("a", 7.5), ("b", 3.0), ("é", 1.0)]
    assert SIGNER.sign_oracle_prices(((2**63 - 1, "BTC", 1e5), (0, "", -1)), 1)["actions"] == [
        {"px": {"c": "BTC", "px": 1e5, "t": 2**63 - 1}}, {"px": {"c": "", "px": -1.0, "t": 0}}]
    assert SIGNER.sign_pyth_oracle([(1, 2, 3, -32768), (4, 5, 6, 32767)], 1)["actions"] == [{"o": {"oracles": [
        {"t": 1, "fi": 2, "px": 3, "e": -32768}, {"t": 4, "fi": 5, "px": 6, "e": 32767}]}}]
    # Prices beyond the signed 64-bit range show as the nearest float.
    oracles = SIGNER.sign_pyth_oracle([(1, 2, 2**63 - 1, -8), (3, 4, 2**63, 2), (5, 6, 2**64 - 1, 0)], 1)
    got = [(o["px"], type(o["px"]), o["e"]) for o in oracles["actions"][0]["o"]["oracles"]]
    assert got == [(2**63 - 1, int, -8), (float(2**63), float, 2), (float(2**64), float, 0)]
