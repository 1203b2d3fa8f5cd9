"""The records the order parser builds, field by field, as the submission JSON
shows them; the list, batch and on-fill forms."""

import base58
import pytest

import _native

HASH58 = base58.b58encode(bytes(range(32))).decode()
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
ACCOUNT58 = base58.b58encode(bytes([0x11]) * 32).decode()
SIGNER = _native.Signer(_native.Keypair(bytes(range(32))), "testnet")


def signed(items):
    return SIGNER.sign_group(items, 1)["actions"]


def prepared(item):
    """Preparation-flavour JSON of one order dict, its "on_fill" key attached."""
    if hasattr(_native, "py_prepare_order"):
        return _native.py_prepare_order(item, "mainnet", ACCOUNT58, nonce=1)["actions"][0]
    return pytest.importorskip("_fyrn_parse_probe").prepare_item(item)


ORDER = {"type": "order", "symbol": "S", "is_buy": True, "price": 1, "size": 2}
STOP = {"type": "stop", "symbol": "S", "is_buy": False, "size": 1, "trigger_price": 2}
RANGE = {"type": "rng", "symbol": "R", "is_buy": True, "size": 3, "pmin": 1, "pmax": 5}
TRAIL = {"type": "trl", "symbol": "T", "is_buy": False, "size": 1, "trail_bps": 10, "step_bps": 2}
L = {"l": {"c": "S", "b": True, "px": 1.0, "sz": 2.0, "tif": "GTC", "r": False, "i": False}}
ST = {"c": "S", "d": False, "sz": 1.0, "tr": 2.0, "lim": None, "i": False}
RNG = {"rng": {"c": "R", "d": True, "sz": 3.0, "pmin": 1.0, "pmax": 5.0, "lmin": None, "lmax": None, "i": False}}
TRL = {"trl": {"c": "T", "b": False, "sz": 1.0, "trb": 10, "stb": 2, "lim": None, "i": False}}
CODE = {"builderCode": {"to": PUBKEY58, "fee": 15}}

RECORD_CASES = [
    (ORDER, L),
    ({**ORDER, "reduce_only": True, "iso": 1, "client_id": HASH58, "builder_code": {"to": PUBKEY58, "fee": 15},
      "order_type": {"type": "limit", "tif": "alo", "is_market": False}},
     {"l": {**L["l"], "r": True, "tif": "ALO", **CODE}}),
    ({**ORDER, "order_type": {"type": "market", "tif": "bogus"}, "slippage": 2},
     {"m": {"c": "S", "b": True, "sz": 2.0, "r": False, "i": False, "slippage": 2.0}}),
    ({"type": "modify", "symbol": "S", "order_id": HASH58, "amount": 4}, {"mod": {"c": "S", "oid": HASH58, "sz": 4.0}}),
    ({"type": "cancel", "symbol": "S", "order_id": HASH58}, {"cx": {"c": "S", "oid": HASH58}}),
    ({"type": "cancel_all"}, {"cxa": {"c": []}}),
    ({"type": "cancel_all", "symbols": ("A", "B", "A")}, {"cxa": {"c": ["A", "B", "A"]}}),
    # "symbols" never raises: anything but a sequence of str is an empty list.
    *[({"type": "cancel_all", "symbols": bad}, {"cxa": {"c": []}})
      for bad in ("AB", ["A", 1], ["A", "\udc80"], {"A": 1}, None, iter(["A"]))],
    (STOP, {"st": ST}),
    ({**STOP, "type": "st", "limit_price": 0, "iso": True}, {"st": {**ST, "lim": 0.0, "i": True}}),
    ({**STOP, "type": "take_profit", "limit_price": "x", "reduce_only": True, "client_id": 5, "commission": 1},
     {"tp": ST}),
    ({**STOP, "type": "tp", "builder_code": {"to": PUBKEY58, "fee": 15}}, {"tp": {**ST, **CODE}}),
    (RANGE, RNG),
    ({**RANGE, "type": "range", "lmin": 0.5, "lmax": "x", "iso": True},
     {"rng": {**RNG["rng"], "lmin": 0.5, "i": True}}),
    (TRAIL, TRL),
    ({**TRAIL, "type": "trailing_stop", "trail_bps": 4294967295, "step_bps": True, "limit_price": 7},
     {"trl": {**TRL["trl"], "trb": 4294967295, "stb": 1, "lim": 7.0}}),
    ({**TRAIL, "limit_price": None}, TRL),  # wrong kind counts as absent
    ({"type": "trig", "symbol": "B", "is_buy": True, "trigger_price": 9, "actions": [STOP, ORDER],
      "builder_code": None}, {"trig": {"c": "B", "d": True, "tr": 9.0, "actions": [{"st": ST}, L]}}),
    ({"type": "of", "trigger": ORDER, "actions": [{**STOP, "type": "tp"}], "on_fill": 5},
     {"of": {"trigger": L, "actions": [{"tp": ST}]}}),
    ({"type": "on_fill", "trigger": ORDER, "actions": [RANGE, {"type": "trig", "symbol": "B", "is_buy": True,
                                                              "trigger_price": 9, "actions": []}]},
     {"of": {"trigger": L, "actions": [RNG, {"trig": {"c": "B", "d": True, "tr": 9.0, "actions": []}}]}}),
    ({**ORDER, "symbol": " a\x00ß ", "size": -0.0}, {"l": {**L["l"], "c": " a\x00ß ", "sz": -0.0}}),
]


@pytest.mark.parametrize("obj,expected", RECORD_CASES)
def test_records(obj, expected):
    assert signed([obj]) == [expected]


PREPARED_CASES = [  # fields only the preparation JSON shows, and the on-fill attachment
    ({**STOP, "slippage": 0.5}, {"st": {**ST, "slippage": 0.5}}),
    ({**STOP, "type": "tp", "slippage": 0}, {"tp": {**ST, "slippage": 0.0}}),
    ({**RANGE, "sl_slippage": 0.1}, {"rng": {**RNG["rng"], "slSlippage": 0.1}}),
    ({**RANGE, "tp_slippage": 0.2}, {"rng": {**RNG["rng"], "tpSlippage": 0.2}}),
    ({**TRAIL, "slippage": 1}, {"trl": {**TRL["trl"], "slippage": 1.0}}),
    ({**ORDER, "on_fill": {"actions": []}}, {"of": {"trigger": L, "actions": []}}),
    ({**ORDER, "on_fill": {"actions": [STOP, TRAIL], "x": 1}}, {"of": {"trigger": L, "actions": [{"st": ST}, TRL]}}),
    ({**ORDER, "symbol": None, "on_fill": 5}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    ({**ORDER, "on_fill": None}, (TypeError, "'NoneType' object cannot be converted to 'PyDict'")),
    ({**ORDER, "on_fill": {}}, (ValueError, "Missing on_fill.actions")),
    ({**ORDER, "on_fill": {"actions": (ORDER,)}}, (TypeError, "'tuple' object cannot be converted to 'PyList'")),
    ({**ORDER, "on_fill": {"actions": [ORDER, {"type": "x"}]}}, (ValueError, "Invalid item type: x")),
]


@pytest.mark.parametrize("obj,expected", PREPARED_CASES)
def test_prepared_records(obj, expected):
    if isinstance(expected, tuple):
        with pytest.raises(expected[0]) as info:
            prepared(obj)
        assert type(info.value) is expected[0] and str(info.value) == expected[1]
    else:
        assert prepared(obj) == expected


def test_on_fill_attachment_counts_toward_the_nesting_bound():
    item = ORDER
    for _ in range(31):
        item = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 1, "actions": [item]}
    assert "trig" in signed([item])[0]  # 32 levels
    with pytest.raises(ValueError, match="^order nesting exceeds 32 levels$"):
        prepared({**item, "on_fill": {"actions": []}})  # one more above it


def raises(exc, text, fn, *args):
    with pytest.raises(exc) as info:
        fn(*args)
    assert type(info.value) is exc and str(info.value) == text


def test_order_lists():
    assert signed([STOP, ORDER, RANGE]) == [{"st": ST}, L, RNG]
    for method in (SIGNER.sign_group, SIGNER.sign_all, SIGNER.sign_order):
        raises(TypeError, "argument 'orders': 'tuple' object cannot be converted to 'PyList'", method, (ORDER,))
        raises(TypeError, "'int' object cannot be converted to 'PyDict'", method, [ORDER, 5])
        # The first failing element wins, unchanged.
        raises(TypeError, "'int' object cannot be converted to 'PyString'", method,
               [ORDER, {**ORDER, "symbol": 1}, {}])
        raises(ValueError, "Missing 'type' field", method, [ORDER, {}, {**ORDER, "symbol": 1}])


def test_order_batches():
    got = SIGNER.sign_orders_batch([[ORDER], [STOP, TRAIL]], 1)
    assert [tx["actions"] for tx in got] == [[L], [{"st": ST}, TRL]]
    raises(TypeError, "argument 'batches': 'dict' object cannot be converted to 'PyList'",
           SIGNER.sign_orders_batch, {})
    raises(TypeError, "'tuple' object cannot be converted to 'PyList'", SIGNER.sign_orders_batch, [[ORDER], (ORDER,)])
    raises(TypeError, "must be real number, not str", SIGNER.sign_orders_batch,
           [[ORDER], [STOP, {**STOP, "size": "x"}], 5])
