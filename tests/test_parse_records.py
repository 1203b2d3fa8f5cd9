"""What the parsers build from Python values, field by field, as the submission
JSON of the Signer methods shows it: order items and their list, batch and
on-fill forms; transfer kinds, liquidator configurations, tuple sequences."""

import math

import base58
import pytest

import _native

HASH58 = base58.b58encode(bytes(range(32))).decode()
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
ACCOUNT58 = base58.b58encode(bytes([0x11]) * 32).decode()
SIGNER = _native.Signer(_native.Keypair(bytes(range(32))), "testnet")
OVERFLOW = "out of range integral type conversion attempted"


def signed(items):
    return SIGNER.sign_group(items, 1)["actions"]


def raises(exc, text, fn, *args):
    with pytest.raises(exc) as info:
        fn(*args)
    assert type(info.value) is exc and str(info.value) == text


def prepared(item):
    """Preparation-flavour JSON of one order dict, its "on_fill" key attached."""
    return _native.py_prepare_order(item, "mainnet", ACCOUNT58, nonce=1)["actions"][0]


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
        raises(*expected, prepared, obj)
    else:
        assert prepared(obj) == expected


def test_on_fill_attachment_counts_toward_the_nesting_bound():
    item = ORDER
    for _ in range(31):
        item = {"type": "trig", "symbol": "S", "is_buy": True, "trigger_price": 1, "actions": [item]}
    assert "trig" in signed([item])[0]  # 32 levels
    with pytest.raises(ValueError, match="^order nesting exceeds 32 levels$"):
        prepared({**item, "on_fill": {"actions": []}})  # one more above it


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


class Boom:
    def __float__(self):
        raise RuntimeError("boom")


@pytest.mark.parametrize("kind,expected", [
    (None, "internal"), ("internal", "internal"), ("external", "external"), ("Internal", None), ("", None),
    ("external ", None), ("ext\x00", None),
])
def test_transfer_kind(kind, expected):
    if expected is None:
        raises(ValueError, f"Invalid transfer kind: {kind}", SIGNER.sign_transfer, PUBKEY58, PUBKEY58, 1.0, kind, 1)
    else:
        tx = SIGNER.sign_transfer(PUBKEY58, PUBKEY58, 1.0, kind, 1)
        assert tx["actions"][0]["transfer"]["k"] == expected
    # Both keys are decoded before the kind is looked at.
    raises(ValueError, "invalid key length: expected 32, got 1", SIGNER.sign_transfer, PUBKEY58, "2", 1.0, "x", 1)


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
    assert liq({"cross_exposure": "x", "toxicity": None, "sweep_sds": Boom(), "scoring_skew": 2,
                "urgency_size_fraction": 0.5, "other": 1}) == {**ZERO_CONFIG, "scoring_skew": 2.0,
                                                              "urgency_size_fraction": 0.5}
    full = {k: float(i + 1) for i, k in enumerate(INSTRUMENT_KEYS)}
    got = liq({"instruments": [
        {"symbol": "ETH-USD", **full, "volume_rampup": 2.9},
        {"symbol": "BTC-USD", "max_exposure": "lots", "reserve": None, "rfactor": Boom()},
        {"symbol": "BTC-USD", "max_exposure": 5},
    ]})
    assert got["instruments"] == [  # sorted by symbol when encoded; equal symbols keep input order
        instrument("BTC-USD"), instrument("BTC-USD", max_exposure=5.0), instrument("ETH-USD", **full, volume_rampup=2),
    ]


@pytest.mark.parametrize("value,stored", [
    (7.9, 7), (0.99, 0), (-5, 0), (-0.5, 0), (math.nan, 0), ("x", 0), (None, 0), (2.0**62, 2**62),
    (2**63 - 1025, 2**63 - 1024),
    (1e30, 2.0**64), (2.0**64, 2.0**64), (math.inf, 2.0**64),  # 2^64-1, shown as the nearest float
])
def test_volume_rampup(value, stored):
    assert liq({"instruments": [{"symbol": "A", "volume_rampup": value}]})["instruments"][0]["volume_rampup"] == stored


@pytest.mark.parametrize("config,exc,text", [
    ([], TypeError, "'list' object cannot be converted to 'PyDict'"),
    ({"instruments": None}, TypeError, "'NoneType' object cannot be converted to 'PyList'"),
    ({"instruments": ({"symbol": "A"},)}, TypeError, "'tuple' object cannot be converted to 'PyList'"),
    ({"instruments": [{"symbol": "A"}, "B"]}, TypeError, "'str' object cannot be converted to 'PyDict'"),
    ({"instruments": [{"symbol": "A"}, {"max_exposure": 1}, 5]}, ValueError, "Missing 'symbol'"),
    ({"instruments": [{"symbol": b"A"}]}, TypeError, "'bytes' object cannot be converted to 'PyString'"),
])
def test_liquidator_config_errors(config, exc, text):
    raises(exc, text, SIGNER.sign_update_liquidator_config, config, 1)


class Seq:
    """A sequence that is neither a list nor a tuple, with a lying length."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return 10**18

    def __getitem__(self, i):
        return self.items[i]


def test_tuple_sequences_convert_in_order():
    settings = SIGNER.sign_user_settings
    assert settings(Seq(("A", 1), ("B", True)), 1)["actions"] == [{"updateUserSettings": {"m": {"A": 1.0, "B": 1.0}}}]
    # Pairs keep input order: on the wire a later pair for the same symbol replaces an earlier one.
    sig = [settings(p, 1)["signature"] for p in ([("B", 5), ("B", 2.5)], [("B", 2.5)], [("B", 2.5), ("B", 5)])]
    assert sig[0] == sig[1] != sig[2] == settings([("B", 5)], 1)["signature"]
    assert SIGNER.sign_oracle_prices(((2**63 - 1, "BTC", 1e5), (0, "", -1)), 1)["actions"] == [
        {"px": {"c": "BTC", "px": 1e5, "t": 2**63 - 1}}, {"px": {"c": "", "px": -1.0, "t": 0}}]
    assert SIGNER.sign_pyth_oracle([(1, 2, 3, -32768), (4, 5, 6, 32767)], 1)["actions"] == [{"o": {"oracles": [
        {"t": 1, "fi": 2, "px": 3, "e": -32768}, {"t": 4, "fi": 5, "px": 6, "e": 32767}]}}]
    SIGNER.sign_pyth_oracle([(2**64 - 1,) * 3 + (0,)], 1)  # the full unsigned range is accepted


M, O, P = "sign_user_settings", "sign_oracle_prices", "sign_pyth_oracle"
SEQUENCE_ERRORS = [
    (M, "BTC", TypeError, "argument 'max_leverage': Can't extract `str` to `Vec`"),
    (O, 5, TypeError, "argument 'oracles': 'int' object cannot be converted to 'Sequence'"),
    (P, {(1, 2, 3, 4)}, TypeError, "argument 'oracles': 'set' object cannot be converted to 'Sequence'"),
    (M, [("A", 1), ["B", 2]], TypeError, "argument 'max_leverage': 'list' object cannot be converted to 'PyTuple'"),
    (M, [("A", 1, 2)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (O, [(1, "A")], ValueError, "expected tuple of length 3, but got tuple of length 2"),
    (P, [(1, 2, 3, 4), ()], ValueError, "expected tuple of length 4, but got tuple of length 0"),
    (M, [(1, 1)], TypeError, "argument 'max_leverage': 'int' object cannot be converted to 'PyString'"),
    (M, [("A", "1")], TypeError, "argument 'max_leverage': must be real number, not str"),
    (M, [("A", Boom())], RuntimeError, "boom"),
    (O, [(1.0, "A", 1)], TypeError, "argument 'oracles': 'float' object cannot be interpreted as an integer"),
    (O, [(-1, "A", 1)], OverflowError, "can't convert negative int to unsigned"),
    (P, [(1, 2**64, 3, 4)], OverflowError, "int too big to convert"),
    (P, [(1, 2, 3, 40000)], OverflowError, OVERFLOW),
    (P, [(1, 2, 3, -32769)], OverflowError, OVERFLOW),
    (M, [("A", 1), ("B",), 5], ValueError, "expected tuple of length 2, but got tuple of length 1"),  # first wins
    (M, [("A", 1)] * 10**6 + [("A", "x")], TypeError, "argument 'max_leverage': must be real number, not str"),
]


@pytest.mark.parametrize("method,value,exc,text", SEQUENCE_ERRORS)
def test_tuple_sequence_errors(method, value, exc, text):
    raises(exc, text, getattr(SIGNER, method), value, 1)


def test_large_sequence():
    got = SIGNER.sign_oracle_prices([(i, "S", 0.5) for i in range(10**5)], 1)["actions"]
    assert len(got) == 10**5 and got[-1] == {"px": {"c": "S", "px": 0.5, "t": 10**5 - 1}}
