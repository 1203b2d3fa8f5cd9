"""Order dictionaries through compute_order_id_from_order, in both shapes:
parse errors surface unchanged, and for limit and market orders the
identifier, checked against an independent model, shows which fields were read."""

from decimal import Decimal

import base58
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _native
from order_id_oracle import limit_encoding, market_encoding, order_id

ACCOUNT = bytes([0x11]) * 32
ACCOUNT58 = base58.b58encode(ACCOUNT).decode()
NONCE = 1_700_000_000_000_000_000
HASH58 = base58.b58encode(bytes(range(32))).decode()
SHORT58 = base58.b58encode(bytes(31)).decode()
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
BAD_B58 = "invalid base58: provided string contained invalid character '0' at byte 0"
REAL = "must be real number, not "
OVERFLOW = "out of range integral type conversion attempted"
FEE = "invalid order: builder-code fee must be 1..=15 bps"
INVALID = "Invalid order JSON. Expected simplified {'type': ...} or compact {'l'|'m'|'cx'|'mod'|'cxa'}"
DROP = object()


def compute(order, nonce=NONCE, account=ACCOUNT58):
    return _native.compute_order_id_from_order(order, nonce, account)


def lim(symbol="BTC-USD", is_buy=True, price=1.0, size=2.0, **kw):
    return order_id(limit_encoding(symbol, is_buy, price, size, **kw), NONCE, ACCOUNT)


def mkt(symbol="BTC-USD", is_buy=True, size=2.0, **kw):
    return order_id(market_encoding(symbol, is_buy, size, **kw), NONCE, ACCOUNT)


def item(base, **kw):
    return {k: v for k, v in {**base, **kw}.items() if v is not DROP}


ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1, "size": 2}
STOP = {"type": "stop", "symbol": "S", "is_buy": False, "size": 1, "trigger_price": 2}
RANGE = {"type": "range", "symbol": "S", "is_buy": True, "size": 1, "pmin": 1, "pmax": 2}
TRAIL = {"type": "trailing_stop", "symbol": "S", "is_buy": True, "size": 1, "trail_bps": 10, "step_bps": 5}


def order(**kw):
    return item(ORDER, **kw)


def otype(**kw):
    return order(order_type=kw)


class Idx:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Boom:
    def __float__(self):
        raise RuntimeError("boom")

    __index__ = __float__


# (order dict, expected): an identifier, None, or (exception type, text or None).
ORDER_CASES = [
    (order(is_buy=False, price=Decimal("3.5"), size=Idx(4)), lim(is_buy=False, price=3.5, size=4)),
    (order(reduce_only=1, iso="yes"), lim()),  # lenient: not a bool is false
    (otype(type="limit", tif="ıoc"), lim(tif="IOC")),  # full Unicode upper-casing: dotless i becomes I
    (otype(type="limit", tif=5), lim()),
    (otype(type="limit", tif="\udc80"), lim()),  # not encodable: not text
    (otype(type="limit", tif="gtd"), (ValueError, "Invalid tif: gtd")),
    (otype(type="limit", tif="ioc "), (ValueError, "Invalid tif: ioc ")),
    (otype(type="limit", tif="ß"), (ValueError, "Invalid tif: ß")),
    (otype(type="market", is_market=True, trigger_px="x", tif="bogus"), mkt()),
    (otype(type="trigger", trigger_px=100), mkt()),
    (otype(type="trigger", is_market=False, trigger_px=100), None),
    (otype(type="market", is_market=1), None),
    (order(order_type={"type": "market"}, reduce_only=True, slippage=Idx(0)), mkt(reduce_only=True, slippage=0.0)),
    (order(slippage=0.01, client_id=HASH58, builder_code={"to": PUBKEY58, "fee": 5}), lim()),  # not in a limit id
    # Required keys and strict kinds, in reading order.
    (order(symbol=DROP, is_buy=DROP), (ValueError, "Missing 'symbol'")),
    (order(is_buy=DROP, price=DROP), (ValueError, "Missing 'is_buy'")),
    (order(price=DROP, order_type={"type": "market"}), (ValueError, "Missing 'price'")),
    (order(symbol=None), (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    (order(is_buy=1), (TypeError, "'int' object cannot be converted to 'PyBool'")),
    (order(price="1"), (TypeError, REAL + "str")),
    (order(price=Boom()), (RuntimeError, "boom")),
    (order(price=Idx("1")), (TypeError, "__index__ returned non-int (type str)")),
    (order(symbol="\udc80"), (UnicodeEncodeError, None)),
    (order(order_type=[]), (TypeError, "'list' object cannot be converted to 'PyDict'")),
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

BUILDER_CODES = [  # (value under "builder_code", error or None)
    ({"to": PUBKEY58, "fee": 1}, None), ({"to": PUBKEY58, "fee": Idx(15)}, None),
    ({"to": PUBKEY58, "fee": 0}, (ValueError, FEE)), ({"to": PUBKEY58, "fee": 16}, (ValueError, FEE)),
    ({"to": PUBKEY58, "fee": 255}, (ValueError, FEE)), ({"to": PUBKEY58, "fee": 256}, (OverflowError, OVERFLOW)),
    ({"to": PUBKEY58, "fee": -1}, (OverflowError, OVERFLOW)), ({"to": PUBKEY58, "fee": Boom()}, (RuntimeError, "boom")),
    ({"to": PUBKEY58, "fee": 1.0}, (TypeError, "'float' object cannot be interpreted as an integer")),
    ({"fee": 5}, (ValueError, "Missing builder_code.to")), ({"to": PUBKEY58}, (ValueError, "Missing builder_code.fee")),
    ({"to": 5, "fee": 500}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"to": "0", "fee": 99}, (ValueError, BAD_B58)), ({"to": "0", "fee": 300}, (OverflowError, OVERFLOW)),
    ({"to": SHORT58, "fee": 5}, (ValueError, "invalid key length: expected 32, got 31")),
    (None, (ValueError, "builder_code must be omitted or an object")),
    ([], (TypeError, "'list' object cannot be converted to 'PyDict'")),
]
ORDER_CASES += [(order(builder_code=code), err or lim()) for code, err in BUILDER_CODES]

TP = item(STOP, type="tp")
BASKET = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 5, "actions": [TP, order()]}
MODIFY = {"type": "modify", "symbol": "S", "order_id": HASH58, "amount": 3}
OTHER_CASES = [  # items without an identifier: parsed, then None
    (item(MODIFY, order_id="0"), (ValueError, BAD_B58)),
    (item(MODIFY, order_id="0", amount=DROP), (ValueError, "Missing 'amount'")),  # the id is decoded last
    (item(MODIFY, order_id=5, amount=DROP), (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"type": "cancel", "symbol": "S"}, (ValueError, "Missing 'order_id'")),
    *[({"type": t}, (ValueError, f"Invalid item type: {t}")) for t in ("cancelAll", "limit", "trigger", "a\x00b")],
    ({"type": None}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    *[(item(STOP, type=t, limit_price=Boom()), None) for t in ("stop", "st", "take_profit", "tp")],
    (item(TP, slippage="x"), (TypeError, REAL + "str")),
    (item(STOP, size=DROP, trigger_price=DROP), (ValueError, "Missing 'size'")),
    (item(STOP, builder_code=None, slippage="x"), (ValueError, "builder_code must be omitted or an object")),
    (item(RANGE, size=DROP, pmin=DROP), (ValueError, "Missing 'size'")),
    (item(RANGE, tp_slippage=[]), (TypeError, REAL + "list")),
    (item(RANGE, builder_code={"to": PUBKEY58, "fee": 0}), (ValueError, FEE)),
    (item(TRAIL, type="trl", trail_bps=Idx(7), step_bps=0, limit_price=Boom()), None),  # lenient
    (item(TRAIL, trail_bps=-1), (OverflowError, OVERFLOW)),
    (item(TRAIL, step_bps=4294967296), (OverflowError, OVERFLOW)),
    (item(TRAIL, trail_bps=1.0), (TypeError, "'float' object cannot be interpreted as an integer")),
    (item(TRAIL, step_bps=DROP), (ValueError, "Missing 'step_bps'")),
    (item(TRAIL, builder_code={"to": PUBKEY58, "fee": 0}, slippage="x"), (ValueError, FEE)),
    (item(BASKET, iso=False), (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    ({"type": "trig", "iso": None}, (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    (item(BASKET, actions=(TP,)), (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    (item(BASKET, actions=DROP), (ValueError, "Missing 'actions'")),
    (item(BASKET, trigger_price=DROP, actions=5), (ValueError, "Missing 'trigger_price'")),
    (item(BASKET, actions=[TP, item(TP, size=DROP), order(symbol=DROP)]), (ValueError, "Missing 'size'")),
    (item(BASKET, actions=[TP, {"symbol": "S"}]), (ValueError, "Missing 'type' field")),
    ({"type": "of", "trigger": BASKET, "actions": [TP]}, None),
    ({"type": "on_fill", "actions": []}, (ValueError, "Missing 'trigger'")),
    ({"type": "of", "trigger": order(price=DROP), "actions": 1}, (ValueError, "Missing 'price'")),
    ({"type": "of", "trigger": [], "actions": []}, (TypeError, "'list' object cannot be converted to 'PyDict'")),
]


def clim(*drop, **kw):
    return {k: v for k, v in {"c": "BTC-USD", "b": True, "px": 50000.5, "sz": 0.25, **kw}.items() if k not in drop}


def cmkt(*drop, **kw):
    return {k: v for k, v in {"c": "ETH-USD", "b": False, "sz": 3, **kw}.items() if k not in drop}


LIM_ID, MKT_ID = lim("BTC-USD", True, 50000.5, 0.25), mkt("ETH-USD", False, 3)
COMPACT_CASES = [
    ({"l": clim()}, LIM_ID),
    ({"l": clim(tif=5, r=1, i="true", cloid=HASH58, builder_code={"to": PUBKEY58, "fee": 3})}, LIM_ID),
    ({"l": clim(tif="iocx")}, (ValueError, "Invalid l.tif: iocx")),
    *[({"l": clim(*drop)}, (ValueError, f"Missing 'l.{drop[0]}'")) for drop in (("c", "b"), ("b",), ("px",), ("sz",))],
    ({"l": clim(b="yes")}, (TypeError, "'str' object cannot be converted to 'PyBool'")),
    ({"l": clim(px="1")}, (TypeError, "must be real number, not str")),
    ({"l": clim(cloid="0", commission=1)}, (ValueError, BAD_B58)),
    ({"l": clim(cloid=None)}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    ({"l": clim(commission={})}, (ValueError, "commission was renamed to builder_code")),
    ({"l": clim(builder_code={"to": PUBKEY58, "fee": 0})}, (ValueError, FEE)),
    ({"l": clim(builder_code=None)}, (ValueError, "builder_code must be omitted or an object")),
    ({"l": []}, (TypeError, "'list' object cannot be converted to 'PyDict'")),
    ({"m": cmkt(tif="bogus", cloid="0", px="x")}, MKT_ID),  # not read for a market order
    ({"m": cmkt(slippage="x")}, (TypeError, "must be real number, not str")),
    *[({"m": cmkt(drop)}, (ValueError, f"Missing 'm.{drop}'")) for drop in ("c", "b", "sz")],
    ({"m": cmkt(commission=None)}, (ValueError, "commission was renamed to builder_code")),
    ({"m": None}, (TypeError, "'NoneType' object cannot be converted to 'PyDict'")),
    ({"cx": {"c": "BTC-USD", "oid": HASH58}}, None),
    ({"cx": {"c": "BTC-USD"}}, (ValueError, "Missing 'cx.oid'")),
    ({"cx": {"oid": "0"}}, (ValueError, "Missing 'cx.c'")),
    ({"cx": {"c": "BTC-USD", "oid": "0"}}, (ValueError, BAD_B58)),
    ({"mod": {"c": "S", "oid": HASH58, "sz": 1}}, None),
    ({"mod": {"c": "S", "oid": HASH58, "amount": 1}}, None),
    ({"mod": {"c": "S", "oid": HASH58, "sz": "x", "amount": 1}}, (TypeError, "must be real number, not str")),
    ({"mod": {"c": "S", "oid": HASH58}}, (ValueError, "Missing 'mod.sz'")),
    ({"mod": {"c": "S", "sz": 1}}, (ValueError, "Missing 'mod.oid'")),
    ({"mod": {"oid": HASH58, "sz": 1}}, (ValueError, "Missing 'mod.c'")),
    ({"cxa": ("BTC-USD", "ETH-USD")}, None),
    ({"cxa": "BTC-USD"}, (TypeError, "Can't extract `str` to `Vec`")),
    ({"cxa": ["BTC-USD", 1]}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"cxa": 5}, (TypeError, "'int' object cannot be converted to 'Sequence'")),
    # The first present key of type, l, m, cx, mod, cxa decides the shape.
    ({"x": 1, "L": {}}, (ValueError, INVALID)),
    ({"type": "cancel_all", "l": []}, None),
    ({"l": clim(), "m": None}, LIM_ID),
    ({"m": cmkt(), "cx": None}, MKT_ID),
    ({"cx": {"c": "S", "oid": HASH58}, "mod": None}, None),
    ({"cxa": [], "mod": None}, (TypeError, "'NoneType' object cannot be converted to 'PyDict'")),
    ({"type": None, "l": clim()}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
]


BINDING_CASES = [
    ((), (TypeError, "compute_order_id_from_order() missing 3 required positional arguments: "
                     "'order', 'nonce', and 'account'")),
    (([], NONCE, ACCOUNT58), (TypeError, "argument 'order': 'list' object cannot be converted to 'PyDict'")),
    (({}, NONCE, b"x"), (TypeError, "argument 'account': 'bytes' object cannot be converted to 'PyString'")),
    # The account is decoded before the order is looked at.
    (({}, 0, base58.b58encode(bytes(31)).decode()), (ValueError, "invalid key length: expected 32, got 31")),
    (({"l": {}}, 0, "0"), (ValueError, BAD_B58)),
]


@pytest.mark.parametrize("args,expected", [((obj, NONCE, ACCOUNT58), expected) for obj, expected in
                                           ORDER_CASES + OTHER_CASES + COMPACT_CASES] + BINDING_CASES)
def test_items(args, expected):
    if isinstance(expected, tuple):
        with pytest.raises(expected[0]) as info:
            _native.compute_order_id_from_order(*args)
        assert type(info.value) is expected[0] and expected[1] in (None, str(info.value))
    else:
        assert _native.compute_order_id_from_order(*args) == expected


def test_worked_identifier():
    enc = limit_encoding("BTC-USD", True, 50000.5, 0.25)
    assert enc == bytes.fromhex("01 00 00 00 07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44 01 80 40 34 2a 8c 04 00 00"
                                " 40 78 7d 01 00 00 00 00 00 00 00 00 00 00")
    assert order_id(enc, NONCE, ACCOUNT, seqno=1) == "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"
    assert order_id(enc, NONCE, ACCOUNT) == compute(order(price=50000.5, size=0.25)) == (
        "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG")


def test_hooks_and_subclasses():
    class Weird(dict):  # lookups go to the dict storage, never to these
        def __getitem__(self, key):
            raise AssertionError("consulted")

        get = __getitem__

    class Shouty(str):
        def upper(self):
            return "IOC"

    assert compute(Weird(order(order_type=Weird(type="limit", tif=Shouty("gtc"))))) == lim()
    victim, actions = order(), [TP, TP]

    class Mutating:  # drops the value being converted from its container
        def __float__(self):
            victim.clear()
            actions.clear()
            return 7.0

    victim["size"] = Mutating()
    assert compute(victim) == lim(size=7.0)
    actions[:] = [item(TP, size=Mutating()), TP]
    assert compute(item(BASKET, actions=actions)) is None

    class Reentrant:
        def __float__(self):
            assert compute(otype(type="market")) == mkt()
            return 3.0

    assert compute(order(price=Reentrant())) == lim(price=3.0)


@pytest.mark.parametrize("exc", [KeyboardInterrupt, MemoryError])
def test_lenient_reads_swallow_only_ordinary_errors(exc):
    class Raising:
        def __float__(self):
            raise exc

    for obj in (item(STOP, limit_price=Raising()), item(TRAIL, limit_price=Raising()), item(RANGE, lmax=Raising()),
                otype(type="market", trigger_px=Raising())):
        with pytest.raises(exc):
            compute(obj)


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
        with pytest.raises(ValueError, match="^order nesting exceeds 32 levels$"):
            compute(obj)


def test_million_element_action_list():
    actions = [TP] * 1_000_000
    assert compute(item(BASKET, actions=actions)) is None
    actions[-1] = item(TP, trigger_price="x")
    with pytest.raises(TypeError, match=f"^{REAL}str$"):
        compute(item(BASKET, actions=actions))


symbols = st.text(max_size=12)  # no lone surrogates by default
tifs = st.sampled_from(["GTC", "IOC", "ALO", "gtc", "ioc", "alo", "Ioc", "aLO"])
numbers = st.one_of(st.floats(), st.integers(-(2**70), 2**70))


@settings(max_examples=100, suppress_health_check=[HealthCheck.too_slow])
@given(symbol=symbols, is_buy=st.booleans(), price=numbers, size=numbers, tif=tifs, ro=st.booleans(),
       iso=st.booleans(), nonce=st.integers(0, 2**64 - 1), seed=st.binary(min_size=32, max_size=32))
def test_limit_shapes_agree(symbol, is_buy, price, size, tif, ro, iso, nonce, seed):
    account58 = base58.b58encode(seed).decode()
    simplified = {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": price, "size": size,
                  "reduce_only": ro, "iso": iso, "order_type": {"type": "limit", "tif": tif}}
    compact = {"l": {"c": symbol, "b": is_buy, "px": price, "sz": size, "tif": tif, "r": ro, "i": iso}}
    expected = order_id(limit_encoding(symbol, is_buy, float(price), float(size), tif.upper(), ro, iso), nonce, seed)
    assert compute(simplified, nonce, account58) == compute(compact, nonce, account58) == expected


@settings(max_examples=100)
@given(symbol=symbols, is_buy=st.booleans(), size=numbers, ro=st.booleans(), iso=st.booleans(),
       slippage=st.one_of(st.none(), st.floats()), nonce=st.integers(0, 2**64 - 1))
def test_market_shapes_agree(symbol, is_buy, size, ro, iso, slippage, nonce):
    simplified = {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": 0, "size": size,
                  "reduce_only": ro, "iso": iso, "order_type": {"type": "market"}}
    compact = {"m": {"c": symbol, "b": is_buy, "sz": size, "r": ro, "i": iso}}
    if slippage is not None:
        simplified["slippage"] = compact["m"]["slippage"] = slippage
    expected = order_id(market_encoding(symbol, is_buy, float(size), ro, iso, slippage), nonce, ACCOUNT)
    assert compute(simplified, nonce, ACCOUNT58) == compute(compact, nonce, ACCOUNT58) == expected


KEYS = ("type symbol is_buy price size order_type tif is_market trigger_px client_id builder_code to fee slippage "
        "order_id amount symbols trigger_price limit_price pmin pmax lmin lmax trail_bps step_bps actions trigger "
        "iso reduce_only commission l m cx mod cxa c b px sz oid cloid r i").split()
TYPES = ("order modify cancel cancel_all stop st take_profit tp range rng trailing_stop trl trig on_fill of limit "
         "market trigger ioc GTC").split()
scalars = st.one_of(st.none(), st.booleans(), st.integers(-(2**70), 2**70), st.floats(), st.text(max_size=8),
                    st.sampled_from(TYPES), st.just(HASH58), st.just(PUBKEY58), st.binary(max_size=4))
junk = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=4), st.tuples(inner, inner),
                                                     st.dictionaries(st.sampled_from(KEYS), inner, max_size=8)),
                    max_leaves=40)


@settings(max_examples=200, suppress_health_check=[HealthCheck.too_slow])
@given(st.dictionaries(st.sampled_from(KEYS), junk, max_size=10))
def test_junk_never_crashes(obj):
    try:
        result = compute(obj, NONCE, ACCOUNT58)
    except (ValueError, TypeError, OverflowError):
        return
    assert result is None or len(base58.b58decode(result)) == 32
