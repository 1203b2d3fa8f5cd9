"""The records the order parser builds, field by field, through the test-only
probe module; and the list, batch and on-fill forms, which no public function
reaches before the Signer exists."""

import math

import base58
import pytest

probe = pytest.importorskip("_fyrn_parse_probe", reason="the parse probe is built with the C++ tests")

HASH58 = base58.b58encode(bytes(range(32))).decode()
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()


def rec(kind, **fields):
    return {"kind": kind, **fields}


def order_rec(**kw):
    base = dict(symbol="S", is_buy=True, price=1.0, size=2.0, reduce_only=False, iso=False,
                order_type=("limit", "GTC"), client_id=None, builder_code=None, slippage=None)
    return rec("Order", **{**base, **kw})


def cond_rec(kind, **kw):
    base = dict(symbol="S", is_buy=False, size=1.0, trigger_price=2.0, limit_price=None, iso=False,
                builder_code=None, slippage=None)
    return rec(kind, **{**base, **kw})


ORDER = {"type": "order", "symbol": "S", "is_buy": True, "price": 1, "size": 2}
STOP = {"type": "stop", "symbol": "S", "is_buy": False, "size": 1, "trigger_price": 2}
RANGE = {"type": "rng", "symbol": "R", "is_buy": True, "size": 3, "pmin": 1, "pmax": 5}
TRAIL = {"type": "trl", "symbol": "T", "is_buy": False, "size": 1, "trail_bps": 10, "step_bps": 2}
RANGE_REC = rec("Range", symbol="R", is_buy=True, size=3.0, pmin=1.0, pmax=5.0, lmin=None, lmax=None, iso=False,
                builder_code=None, sl_slippage=None, tp_slippage=None)
TRAIL_REC = rec("TrailingStop", symbol="T", is_buy=False, size=1.0, trail_bps=10, step_bps=2, limit_price=None,
                iso=False, builder_code=None, slippage=None)

RECORD_CASES = [
    (ORDER, order_rec()),
    ({**ORDER, "reduce_only": True, "iso": 1, "client_id": HASH58, "builder_code": {"to": PUBKEY58, "fee": 15},
      "slippage": 2, "order_type": {"type": "limit", "tif": "alo", "is_market": False}},
     order_rec(reduce_only=True, client_id=HASH58, builder_code=(PUBKEY58, 15), slippage=2.0,
               order_type=("limit", "ALO"))),
    ({**ORDER, "order_type": {"type": "market", "tif": "bogus"}}, order_rec(order_type=("trigger", True, 0.0))),
    ({**ORDER, "order_type": {"type": "trigger", "is_market": False, "trigger_px": 100}},
     order_rec(order_type=("trigger", False, 100.0))),
    ({**ORDER, "order_type": {"type": "trigger", "is_market": "no", "trigger_px": "x"}},
     order_rec(order_type=("trigger", False, 0.0))),
    ({"type": "modify", "symbol": "S", "order_id": HASH58, "amount": 4}, rec("Modify", symbol="S", order_id=HASH58,
                                                                          amount=4.0)),
    ({"type": "cancel", "symbol": "S", "order_id": HASH58}, rec("Cancel", symbol="S", order_id=HASH58)),
    ({"type": "cancel_all"}, rec("CancelAll", symbols=[])),
    ({"type": "cancel_all", "symbols": ("A", "B", "A")}, rec("CancelAll", symbols=["A", "B", "A"])),
    ({"type": "cancel_all", "symbols": "AB"}, rec("CancelAll", symbols=[])),
    ({"type": "cancel_all", "symbols": ["A", 1]}, rec("CancelAll", symbols=[])),
    ({"type": "cancel_all", "symbols": ["A", "\udc80"]}, rec("CancelAll", symbols=[])),
    ({"type": "cancel_all", "symbols": {"A": 1}}, rec("CancelAll", symbols=[])),
    (STOP, cond_rec("Stop")),
    ({**STOP, "type": "st", "limit_price": 0, "iso": True, "slippage": 0.5},
     cond_rec("Stop", limit_price=0.0, iso=True, slippage=0.5)),
    ({**STOP, "type": "take_profit", "limit_price": "x", "reduce_only": True}, cond_rec("TakeProfit")),
    ({**STOP, "type": "tp", "builder_code": {"to": PUBKEY58, "fee": 1}},
     cond_rec("TakeProfit", builder_code=(PUBKEY58, 1))),
    (RANGE, RANGE_REC),
    ({**RANGE, "type": "range", "lmin": 0.5, "lmax": "x", "iso": True, "sl_slippage": 0.1, "tp_slippage": 0},
     {**RANGE_REC, "lmin": 0.5, "iso": True, "sl_slippage": 0.1, "tp_slippage": 0.0}),
    (TRAIL, TRAIL_REC),
    ({**TRAIL, "type": "trailing_stop", "trail_bps": 4294967295, "limit_price": 7, "slippage": 1},
     {**TRAIL_REC, "trail_bps": 4294967295, "limit_price": 7.0, "slippage": 1.0}),
    ({**TRAIL, "limit_price": None}, TRAIL_REC),  # wrong kind counts as absent
    ({"type": "trig", "symbol": "B", "is_buy": True, "trigger_price": 9, "actions": [STOP, ORDER],
      "builder_code": None},
     rec("TriggerBasket", symbol="B", is_buy=True, trigger_price=9.0, actions=[cond_rec("Stop"), order_rec()])),
    ({"type": "of", "trigger": ORDER, "actions": [{**STOP, "type": "tp"}]},
     rec("OnFill", trigger=order_rec(), actions=[cond_rec("TakeProfit")])),
    ({"type": "on_fill", "trigger": {"type": "of", "trigger": ORDER, "actions": []}, "actions": [RANGE]},
     rec("OnFill", trigger=rec("OnFill", trigger=order_rec(), actions=[]), actions=[RANGE_REC])),
]


@pytest.mark.parametrize("obj,expected", RECORD_CASES)
def test_records(obj, expected):
    assert probe.parse_order_item(obj) == expected


def test_nan_and_text_are_kept_exactly():
    got = probe.parse_order_item({**ORDER, "symbol": " a\x00ß ", "price": math.nan, "size": -0.0})
    assert got["symbol"] == " a\x00ß " and math.isnan(got["price"]) and math.copysign(1, got["size"]) < 0


LIST_ERRORS = [
    ((ORDER,), "orders", (TypeError, "argument 'orders': 'tuple' object cannot be converted to 'PyList'")),
    ("x", None, (TypeError, "'str' object cannot be converted to 'PyList'")),
    ([ORDER, 5], "orders", (TypeError, "'int' object cannot be converted to 'PyDict'")),
    ([ORDER, {**ORDER, "symbol": 1}, {}], "orders", (TypeError, "'int' object cannot be converted to 'PyString'")),
    ([ORDER, {}, {**ORDER, "symbol": 1}], "orders", (ValueError, "Missing 'type' field")),
]


def test_order_list():
    assert probe.parse_order_list([], "orders") == []
    assert probe.parse_order_list([STOP, ORDER, RANGE], "orders") == [cond_rec("Stop"), order_rec(), RANGE_REC]
    with_on_fill = {**ORDER, "on_fill": {"actions": 5}}  # ignored by the list forms
    assert probe.parse_order_list([with_on_fill], "orders") == [order_rec()]
    for obj, param, (exc, text) in LIST_ERRORS:
        with pytest.raises(exc) as info:
            probe.parse_order_list(obj, param)
        assert type(info.value) is exc and str(info.value) == text


def test_order_batches():
    assert probe.parse_order_batches([[ORDER], [], [STOP, TRAIL]], "batches") == [
        [order_rec()], [], [cond_rec("Stop"), TRAIL_REC]]
    cases = [
        ({}, (TypeError, "argument 'batches': 'dict' object cannot be converted to 'PyList'")),
        ([[ORDER], (ORDER,)], (TypeError, "'tuple' object cannot be converted to 'PyList'")),
        ([[ORDER], [STOP, {**STOP, "size": "x"}], 5], (TypeError, "must be real number, not str")),
    ]
    for obj, (exc, text) in cases:
        with pytest.raises(exc) as info:
            probe.parse_order_batches(obj, "batches")
        assert type(info.value) is exc and str(info.value) == text


def test_on_fill_attachment():
    attach = probe.parse_order_with_on_fill
    assert attach(ORDER) == order_rec()
    assert attach({**ORDER, "on_fill": {"actions": []}}) == rec("OnFill", trigger=order_rec(), actions=[])
    assert attach({**STOP, "on_fill": {"actions": [ORDER, TRAIL], "x": 1}}) == rec(
        "OnFill", trigger=cond_rec("Stop"), actions=[order_rec(), TRAIL_REC])
    cases = [
        (5, (TypeError, "'int' object cannot be converted to 'PyDict'")),
        ({**ORDER, "symbol": None, "on_fill": 5}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
        ({**ORDER, "on_fill": None}, (TypeError, "'NoneType' object cannot be converted to 'PyDict'")),
        ({**ORDER, "on_fill": {}}, (ValueError, "Missing on_fill.actions")),
        ({**ORDER, "on_fill": {"actions": (ORDER,)}}, (TypeError, "'tuple' object cannot be converted to 'PyList'")),
        ({**ORDER, "on_fill": {"actions": [ORDER, {"type": "x"}]}}, (ValueError, "Invalid item type: x")),
    ]
    for obj, (exc, text) in cases:
        with pytest.raises(exc) as info:
            attach(obj)
        assert type(info.value) is exc and str(info.value) == text


def test_on_fill_attachment_counts_toward_the_nesting_bound():
    item = ORDER
    for _ in range(31):
        item = {"type": "of", "trigger": item, "actions": []}
    assert probe.parse_order_item(item)["kind"] == "OnFill"  # 32 levels
    with pytest.raises(ValueError, match="^order nesting exceeds 32 levels$"):
        probe.parse_order_with_on_fill({**item, "on_fill": {"actions": []}})  # one more above it
