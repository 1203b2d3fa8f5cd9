"""Order dictionaries, reached through compute_order_id_from_order's simplified
shape: every parse error surfaces unchanged, and for limit and market orders
the identifier (checked against an independent Python model) shows which
fields were read."""

import math

import base58
import pytest

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


def compute(order):
    return _native.compute_order_id_from_order(order, NONCE, ACCOUNT58)


def limit_id(symbol="BTC-USD", is_buy=True, price=1.0, size=2.0, **kw):
    return order_id(limit_encoding(symbol, is_buy, price, size, **kw), NONCE, ACCOUNT)


def market_id(symbol="BTC-USD", is_buy=True, size=2.0, **kw):
    return order_id(market_encoding(symbol, is_buy, size, **kw), NONCE, ACCOUNT)


def order(**kw):
    base = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 1, "size": 2}
    base.update(kw)
    return {k: v for k, v in base.items() if v is not DROP}


DROP = object()


class Flt:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Idx:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Boom:
    def __float__(self):
        raise RuntimeError("boom")

    def __index__(self):
        raise RuntimeError("boom")


# (order dict, expected): expected is an identifier, None, or (exception, text).
ORDER_CASES = [
    (order(), limit_id()),
    (order(price=50000.5, size=0.25), limit_id(price=50000.5, size=0.25)),
    (order(is_buy=False, price=Flt(3.5), size=Idx(4)), limit_id(is_buy=False, price=3.5, size=4)),
    (order(reduce_only=True, iso=True), limit_id(reduce_only=True, iso=True)),
    (order(reduce_only=1, iso="yes"), limit_id()),
    (order(reduce_only=None), limit_id()),
    (order(order_type={"type": "limit"}), limit_id()),
    (order(order_type={"type": "limit", "tif": "ioc"}), limit_id(tif="IOC")),
    (order(order_type={"type": "limit", "tif": "Alo"}), limit_id(tif="ALO")),
    (order(order_type={"type": "limit", "tif": "ıoc"}), limit_id(tif="IOC")),  # dotless i upper-cases to I
    (order(order_type={"type": "limit", "tif": 5}), limit_id()),
    (order(order_type={"type": "limit", "tif": None}), limit_id()),
    (order(order_type={"type": "limit", "tif": "\udc80"}), limit_id()),  # not encodable: not text
    (order(order_type={"type": "limit", "tif": "gtd"}), (ValueError, "Invalid tif: gtd")),
    (order(order_type={"type": "limit", "tif": "Gtd"}), (ValueError, "Invalid tif: Gtd")),
    (order(order_type={"type": "limit", "tif": "ioc "}), (ValueError, "Invalid tif: ioc ")),
    (order(order_type={"type": "limit", "tif": "ß"}), (ValueError, "Invalid tif: ß")),
    (order(order_type={"type": "market"}), market_id()),
    (order(order_type={"type": "market", "is_market": True, "trigger_px": "x"}), market_id()),
    (order(order_type={"type": "trigger", "trigger_px": 100}), market_id()),
    (order(order_type={"type": "trigger", "is_market": False, "trigger_px": 100}), None),
    (order(order_type={"type": "market", "is_market": 1}), None),  # lenient: not a bool is false
    (order(order_type={"type": "market"}, reduce_only=True, slippage=0.005),
     market_id(reduce_only=True, slippage=0.005)),
    (order(order_type={"type": "market"}, slippage=Idx(0)), market_id(slippage=0.0)),
    (order(slippage=0.01), limit_id()),  # slippage never enters a limit id
    (order(client_id=HASH58, builder_code={"to": PUBKEY58, "fee": 5}), limit_id()),
    (order(symbol="a\x00b"), limit_id(symbol="a\x00b")),
    (order(symbol="ЁЖ"), limit_id(symbol="ЁЖ")),
    # Required keys, strict kinds, in reading order.
    (order(symbol=DROP, is_buy=DROP), (ValueError, "Missing 'symbol'")),
    (order(is_buy=DROP, price=DROP), (ValueError, "Missing 'is_buy'")),
    (order(price=DROP, order_type={"type": "market"}), (ValueError, "Missing 'price'")),
    (order(size=DROP), (ValueError, "Missing 'size'")),
    (order(symbol=1), (TypeError, "'int' object cannot be converted to 'PyString'")),
    (order(symbol=None), (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    (order(is_buy=1), (TypeError, "'int' object cannot be converted to 'PyBool'")),
    (order(price="1"), (TypeError, REAL + "str")),
    (order(size=None), (TypeError, REAL + "NoneType")),
    (order(price=Boom()), (RuntimeError, "boom")),
    (order(price=Flt("1")), (TypeError, "Flt.__float__ returned non-float (type str)")),
    (order(price=Idx(2**1100)), (OverflowError, "int too large to convert to float")),
    (order(price=2**1100), (OverflowError, "int too large to convert to float")),
    (order(symbol="\udc80"), (UnicodeEncodeError, None)),
    (order(order_type=[]), (TypeError, "'list' object cannot be converted to 'PyDict'")),
    (order(order_type={}), (ValueError, "Missing order_type.type")),
    (order(order_type={"type": "stop"}), (ValueError, "Invalid order_type: stop")),
    (order(order_type={"type": "Limit"}), (ValueError, "Invalid order_type: Limit")),
    (order(order_type={"type": 1}), (TypeError, "'int' object cannot be converted to 'PyString'")),
    (order(client_id="0OIl"), (ValueError, BAD_B58)),
    (order(client_id=SHORT58), (ValueError, "invalid hash length: expected 32 bytes, got 31")),
    (order(client_id=7), (TypeError, "'int' object cannot be converted to 'PyString'")),
    (order(commission=None), (ValueError, "commission was renamed to builder_code")),
    (order(commission={"to": PUBKEY58, "fee": 5}), (ValueError, "commission was renamed to builder_code")),
    (order(slippage="x"), (TypeError, REAL + "str")),
    (order(slippage=None), (TypeError, REAL + "NoneType")),
    # Precedence: the first failing key in reading order wins.
    (order(order_type={"type": "limit", "tif": "gtd"}, client_id="0"), (ValueError, "Invalid tif: gtd")),
    (order(client_id="0", commission=1), (ValueError, BAD_B58)),
    (order(commission=1, builder_code=None), (ValueError, "commission was renamed to builder_code")),
    (order(builder_code={"to": PUBKEY58, "fee": 99}, slippage="x"),
     (ValueError, "invalid order: builder-code fee must be 1..=15 bps")),
]

# Builder codes, as read under "builder_code" of any item that carries one.
BUILDER_CODE_CASES = [
    ({"to": PUBKEY58, "fee": 1}, None),
    ({"to": PUBKEY58, "fee": 15}, None),
    ({"to": PUBKEY58, "fee": True}, None),  # an int subclass with value 1
    ({"to": PUBKEY58, "fee": Idx(3)}, None),
    ({"to": PUBKEY58, "fee": 0}, (ValueError, "invalid order: builder-code fee must be 1..=15 bps")),
    ({"to": PUBKEY58, "fee": 16}, (ValueError, "invalid order: builder-code fee must be 1..=15 bps")),
    ({"to": PUBKEY58, "fee": 255}, (ValueError, "invalid order: builder-code fee must be 1..=15 bps")),
    ({"to": PUBKEY58, "fee": 256}, (OverflowError, OVERFLOW)),
    ({"to": PUBKEY58, "fee": -1}, (OverflowError, OVERFLOW)),
    ({"to": PUBKEY58, "fee": 2**70}, (OverflowError, OVERFLOW)),
    ({"to": PUBKEY58, "fee": 1.0}, (TypeError, "'float' object cannot be interpreted as an integer")),
    ({"to": PUBKEY58, "fee": Boom()}, (RuntimeError, "boom")),
    ({"to": PUBKEY58, "fee": Idx("5")}, (TypeError, "__index__ returned non-int (type str)")),
    ({"fee": 5}, (ValueError, "Missing builder_code.to")),
    ({"to": PUBKEY58}, (ValueError, "Missing builder_code.fee")),
    ({}, (ValueError, "Missing builder_code.to")),
    ({"to": 5, "fee": 500}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"to": "0", "fee": 99}, (ValueError, BAD_B58)),
    ({"to": "0", "fee": 300}, (OverflowError, OVERFLOW)),
    ({"to": SHORT58, "fee": 5}, (ValueError, "invalid key length: expected 32, got 31")),
]


def check(obj, expected):
    if isinstance(expected, tuple):
        exc, text = expected
        with pytest.raises(exc) as info:
            compute(obj)
        assert type(info.value) is exc
        if text is not None:
            assert str(info.value) == text
    else:
        assert compute(obj) == expected


@pytest.mark.parametrize("obj,expected", ORDER_CASES)
def test_order_item(obj, expected):
    check(obj, expected)


@pytest.mark.parametrize("item_type", ["order", "stop", "tp", "range", "trl"])
@pytest.mark.parametrize("code,expected", BUILDER_CODE_CASES)
def test_builder_code(item_type, code, expected):
    base = {
        "order": order(),
        "stop": {"type": "stop", "symbol": "S", "is_buy": True, "size": 1, "trigger_price": 2},
        "tp": {"type": "tp", "symbol": "S", "is_buy": True, "size": 1, "trigger_price": 2},
        "range": {"type": "range", "symbol": "S", "is_buy": True, "size": 1, "pmin": 1, "pmax": 2},
        "trl": {"type": "trl", "symbol": "S", "is_buy": True, "size": 1, "trail_bps": 1, "step_bps": 1},
    }[item_type]
    base["builder_code"] = code
    if expected is None:
        expected = limit_id() if item_type == "order" else None
    check(base, expected)


@pytest.mark.parametrize("code,expected", [
    (None, (ValueError, "builder_code must be omitted or an object")),
    ([], (TypeError, "'list' object cannot be converted to 'PyDict'")),
    ("x", (TypeError, "'str' object cannot be converted to 'PyDict'")),
])
def test_builder_code_shape(code, expected):
    check(order(builder_code=code), expected)


def stop(kind="stop", **kw):
    base = {"type": kind, "symbol": "S", "is_buy": False, "size": 1, "trigger_price": 2}
    base.update(kw)
    return {k: v for k, v in base.items() if v is not DROP}


def rng(**kw):
    base = {"type": "range", "symbol": "S", "is_buy": True, "size": 1, "pmin": 1, "pmax": 2}
    base.update(kw)
    return {k: v for k, v in base.items() if v is not DROP}


def trl(**kw):
    base = {"type": "trailing_stop", "symbol": "S", "is_buy": True, "size": 1, "trail_bps": 10, "step_bps": 5}
    base.update(kw)
    return {k: v for k, v in base.items() if v is not DROP}


OID_CASES = [  # modify, cancel, cancel_all: parse, then no identifier
    ({"type": "modify", "symbol": "S", "order_id": HASH58, "amount": 3}, None),
    ({"type": "modify", "symbol": "S", "order_id": "0", "amount": 3}, (ValueError, BAD_B58)),
    ({"type": "modify", "symbol": "S", "order_id": "0"}, (ValueError, "Missing 'amount'")),
    ({"type": "modify", "symbol": "S", "order_id": SHORT58, "amount": "x"}, (TypeError, REAL + "str")),
    ({"type": "modify", "symbol": "S", "order_id": 5}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"type": "modify", "symbol": "S", "amount": 1}, (ValueError, "Missing 'order_id'")),
    ({"type": "modify", "order_id": HASH58, "amount": 1}, (ValueError, "Missing 'symbol'")),
    ({"type": "cancel", "symbol": "S", "order_id": HASH58}, None),
    ({"type": "cancel", "symbol": "S", "order_id": SHORT58},
     (ValueError, "invalid hash length: expected 32 bytes, got 31")),
    ({"type": "cancel", "symbol": "S"}, (ValueError, "Missing 'order_id'")),
    ({"type": "cancel", "order_id": "0"}, (ValueError, "Missing 'symbol'")),
    ({"type": "cancel", "symbol": b"S", "order_id": HASH58},
     (TypeError, "'bytes' object cannot be converted to 'PyString'")),
    ({"type": "cancel_all"}, None),
    ({"type": "cancel_all", "symbols": "BTC-USD"}, None),
    ({"type": "cancel_all", "symbols": ["A", 1]}, None),
    ({"type": "cancel_all", "symbols": ("A", "B")}, None),
    ({"type": "cancel_all", "symbols": None}, None),
    ({"type": "cancelAll"}, (ValueError, "Invalid item type: cancelAll")),
    ({"type": "limit"}, (ValueError, "Invalid item type: limit")),
    ({"type": "trigger"}, (ValueError, "Invalid item type: trigger")),
    ({"type": "Order"}, (ValueError, "Invalid item type: Order")),
    ({"type": "a\x00b"}, (ValueError, "Invalid item type: a\x00b")),
    ({"type": None}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
]

CONDITIONAL_CASES = [
    (stop(), None),
    (stop("st"), None),
    (stop("take_profit"), None),
    (stop("tp"), None),
    (stop(limit_price="x", iso=1, reduce_only="x", commission=1, client_id=5), None),  # lenient or not read
    (stop(limit_price=Boom()), None),
    (stop(slippage="x"), (TypeError, REAL + "str")),
    (stop("tp", slippage=Boom()), (RuntimeError, "boom")),
    (stop(symbol=DROP), (ValueError, "Missing 'symbol'")),
    (stop("tp", is_buy=DROP), (ValueError, "Missing 'is_buy'")),
    (stop(size=DROP, trigger_price=DROP), (ValueError, "Missing 'size'")),
    (stop(trigger_price=DROP), (ValueError, "Missing 'trigger_price'")),
    (stop(trigger_price="1"), (TypeError, REAL + "str")),
    (stop(builder_code=None, slippage="x"), (ValueError, "builder_code must be omitted or an object")),
    (rng(), None),
    (rng(type="rng", lmin="x", lmax=None, iso=3), None),
    (rng(pmin=DROP), (ValueError, "Missing 'pmin'")),
    (rng(pmax=DROP), (ValueError, "Missing 'pmax'")),
    (rng(size=DROP, pmin=DROP), (ValueError, "Missing 'size'")),
    (rng(sl_slippage="x"), (TypeError, REAL + "str")),
    (rng(tp_slippage=[]), (TypeError, REAL + "list")),
    (rng(sl_slippage=0.1, tp_slippage=0.2), None),
    (trl(), None),
    (trl(type="trl", trail_bps=4294967295, step_bps=0, limit_price="x"), None),
    (trl(trail_bps=Idx(7), limit_price=Boom()), None),
    (trl(trail_bps=True), None),
    (trl(trail_bps=-1), (OverflowError, OVERFLOW)),
    (trl(trail_bps=4294967296), (OverflowError, OVERFLOW)),
    (trl(step_bps=2**80), (OverflowError, OVERFLOW)),
    (trl(trail_bps=1.0), (TypeError, "'float' object cannot be interpreted as an integer")),
    (trl(step_bps="5"), (TypeError, "'str' object cannot be interpreted as an integer")),
    (trl(step_bps=Boom()), (RuntimeError, "boom")),
    (trl(trail_bps=DROP, step_bps=DROP), (ValueError, "Missing 'trail_bps'")),
    (trl(step_bps=DROP), (ValueError, "Missing 'step_bps'")),
    (trl(slippage="x"), (TypeError, REAL + "str")),
]

TP = stop("tp")
BASKET = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 5, "actions": [TP, order()]}
NESTED_CASES = [
    (BASKET, None),
    ({**BASKET, "actions": []}, None),
    ({**BASKET, "iso": False}, (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    ({"type": "trig", "iso": None}, (ValueError, "trig.iso is not supported; remove the top-level iso field")),
    ({**BASKET, "actions": (TP,)}, (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    ({**BASKET, "actions": None}, (TypeError, "'NoneType' object cannot be converted to 'PyList'")),
    ({k: v for k, v in BASKET.items() if k != "actions"}, (ValueError, "Missing 'actions'")),
    ({"type": "trig", "symbol": "S", "is_buy": True, "actions": 5}, (ValueError, "Missing 'trigger_price'")),
    ({**BASKET, "actions": [TP, stop(size=DROP), order(symbol=DROP)]}, (ValueError, "Missing 'size'")),
    ({**BASKET, "actions": [TP, 5]}, (TypeError, "'int' object cannot be converted to 'PyDict'")),
    ({**BASKET, "actions": [{"symbol": "S"}]}, (ValueError, "Missing 'type' field")),
    ({**BASKET, "builder_code": None, "slippage": "x"}, None),  # not read for a basket
    ({"type": "on_fill", "trigger": order(), "actions": [TP]}, None),
    ({"type": "of", "trigger": BASKET, "actions": []}, None),
    ({"type": "of", "trigger": order(), "actions": (TP,)},
     (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    ({"type": "of", "actions": []}, (ValueError, "Missing 'trigger'")),
    ({"type": "of", "trigger": order()}, (ValueError, "Missing 'actions'")),
    ({"type": "of", "trigger": order(price=DROP), "actions": 1}, (ValueError, "Missing 'price'")),
    ({"type": "of", "trigger": [], "actions": []}, (TypeError, "'list' object cannot be converted to 'PyDict'")),
    ({"type": "of", "trigger": {"type": "cancelAll"}, "actions": []}, (ValueError, "Invalid item type: cancelAll")),
]


@pytest.mark.parametrize("obj,expected", OID_CASES + CONDITIONAL_CASES + NESTED_CASES)
def test_other_items(obj, expected):
    check(obj, expected)


def test_worked_identifier():
    o = order(price=50000.5, size=0.25)
    assert compute(o) == "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"
    enc = limit_encoding("BTC-USD", True, 50000.5, 0.25)
    assert enc.hex() == ("01000000" "0700000000000000" "4254432d555344" "01" "8040342a8c040000" "40787d0100000000"
                         "00000000" "00" "00")
    assert order_id(enc, NONCE, ACCOUNT) == "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"
    assert order_id(enc, NONCE, ACCOUNT, seqno=1) == "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx"


def test_dict_subclasses_and_hooks_are_not_consulted():
    class Weird(dict):
        def __getitem__(self, key):  # never used: lookups go to the dict storage
            raise AssertionError("consulted")

        def get(self, key, default=None):
            raise AssertionError("consulted")

    assert compute(Weird(order())) == limit_id()
    assert compute(order(order_type=Weird(type="market"))) == market_id()

    class Shouty(str):
        def upper(self):
            return "IOC"

    assert compute(order(order_type={"type": "limit", "tif": Shouty("gtc")})) == limit_id()
    assert compute(order(symbol=Shouty("BTC-USD"))) == limit_id()


def test_input_is_not_mutated_and_mutating_hooks_do_not_crash():
    o = order(order_type={"type": "limit", "tif": "ioc"}, builder_code={"to": PUBKEY58, "fee": 5})
    snapshot = repr(o)
    compute(o)
    assert repr(o) == snapshot

    victim = order()

    class Clearing:
        def __float__(self):
            victim.clear()
            return 7.0

    victim["size"] = Clearing()  # drops every key, itself included, mid-parse
    assert compute(victim) == limit_id(size=7.0)

    actions = [TP, TP]

    class Shrinking:
        def __float__(self):
            actions.clear()
            return 1.0

    basket = {**BASKET, "actions": actions}
    actions[0] = stop("tp", size=Shrinking())
    assert compute(basket) is None


def test_hooks_may_call_back_into_the_module():
    calls = []

    class Reentrant:
        def __float__(self):
            calls.append(1)
            nested = Reentrant() if len(calls) < 5 else 1
            assert compute(order(order_type={"type": "market"}, price=nested)) == market_id()
            return 3.0

    assert compute(order(price=Reentrant())) == limit_id(price=3.0)
    assert len(calls) == 5


def test_lenient_reads_swallow_only_ordinary_errors():
    class Interrupt:
        def __float__(self):
            raise KeyboardInterrupt

    class NoMemory:
        def __float__(self):
            raise MemoryError

    assert compute(stop(limit_price=Boom())) is None
    with pytest.raises(KeyboardInterrupt):
        compute(stop(limit_price=Interrupt()))
    with pytest.raises(MemoryError):
        compute(trl(limit_price=NoMemory()))


def test_nonfinite_and_extreme_numbers_parse():
    assert compute(order(price=math.nan, size=math.inf)) == limit_id(price=math.nan, size=math.inf)
    assert compute(order(price=-1.0, size=2e11)) == limit_id(price=-1.0, size=2e11)
    assert compute(order(size=2**64)) == limit_id(size=float(2**64))


def chain(depth):
    """An on-fill chain whose innermost order sits at the given depth."""
    item = order()
    for _ in range(depth - 1):
        item = {"type": "of", "trigger": item, "actions": []}
    return item


def basket_chain(depth):
    item = order()
    for _ in range(depth - 1):
        item = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 1, "actions": [item]}
    return item


DEPTH_ERROR = "order nesting exceeds 32 levels"


@pytest.mark.parametrize("build", [chain, basket_chain])
def test_nesting_bound(build):
    assert compute(build(32)) is None
    with pytest.raises(ValueError, match=f"^{DEPTH_ERROR}$"):
        compute(build(33))
    with pytest.raises(ValueError, match=f"^{DEPTH_ERROR}$"):
        compute(build(100_000))


def test_self_containing_items_hit_the_bound():
    loop = {"type": "of", "actions": []}
    loop["trigger"] = loop
    with pytest.raises(ValueError, match=f"^{DEPTH_ERROR}$"):
        compute(loop)
    actions = []
    basket = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 1, "actions": actions}
    actions.append(basket)
    with pytest.raises(ValueError, match=f"^{DEPTH_ERROR}$"):
        compute(basket)


def test_million_element_action_list():
    actions = [TP] * 1_000_000
    assert compute({**BASKET, "actions": actions}) is None
    actions[-1] = stop("tp", trigger_price="x")
    with pytest.raises(TypeError, match=f"^{REAL}str$"):
        compute({**BASKET, "actions": actions})
