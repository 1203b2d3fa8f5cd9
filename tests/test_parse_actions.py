"""Builder codes, transfer kinds, liquidator configurations and the tuple
sequences, through the test-only probe module."""

import math

import base58
import pytest

probe = pytest.importorskip("_fyrn_parse_probe", reason="the parse probe is built with the C++ tests")

PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
OVERFLOW = "out of range integral type conversion attempted"


def raises(exc, text, fn, *args):
    with pytest.raises(exc) as info:
        fn(*args)
    assert type(info.value) is exc
    assert str(info.value) == text


def test_commission():
    assert probe.parse_commission() is None  # key absent
    assert probe.parse_commission({"to": PUBKEY58, "fee": 9, "extra": 1}) == (PUBKEY58, 9)
    raises(ValueError, "builder_code must be omitted or an object", probe.parse_commission, None)
    # Errors of every other shape are covered through the order parser.


@pytest.mark.parametrize("kind,expected", [
    (None, "internal"), ("internal", "internal"), ("external", "external"),
    ("Internal", "Invalid transfer kind: Internal"), ("", "Invalid transfer kind: "),
    ("external ", "Invalid transfer kind: external "), ("ext\x00", "Invalid transfer kind: ext\x00"),
])
def test_transfer_kind(kind, expected):
    if expected.startswith("Invalid"):
        raises(ValueError, expected, probe.parse_transfer_kind, kind)
    else:
        assert probe.parse_transfer_kind(kind) == expected


ZERO_CONFIG = {"instruments": [], "cross_exposure": 0.0, "scoring_skew": 0.0, "toxicity": 0.0,
               "urgency_size_fraction": 0.0, "sweep_sds": 0.0}
INSTRUMENT_KEYS = ["max_exposure", "reserve", "rfactor", "volume_percent", "volume_min", "max_sweep_bps",
                   "max_adl_notional", "max_adl_percent"]


def instrument(symbol, **kw):
    return {"symbol": symbol, **{k: 0.0 for k in INSTRUMENT_KEYS}, "volume_rampup": 0, **kw}


class Boom:
    def __float__(self):
        raise RuntimeError("boom")


def test_liquidator_config_values():
    assert probe.parse_liquidator_config({}) == ZERO_CONFIG
    assert probe.parse_liquidator_config({"cross_exposure": "x", "toxicity": None, "sweep_sds": Boom(),
                                          "scoring_skew": 2, "urgency_size_fraction": 0.5, "other": 1}) == {
        **ZERO_CONFIG, "scoring_skew": 2.0, "urgency_size_fraction": 0.5}
    full = {k: float(i + 1) for i, k in enumerate(INSTRUMENT_KEYS)}
    got = probe.parse_liquidator_config({"instruments": [
        {"symbol": "ETH-USD", **full, "volume_rampup": 2.9},
        {"symbol": "BTC-USD", "max_exposure": "lots", "reserve": None, "rfactor": Boom()},
        {"symbol": "BTC-USD", "max_exposure": 5},
    ]})
    assert got["instruments"] == [  # input order, duplicates kept
        instrument("ETH-USD", **full, volume_rampup=2),
        instrument("BTC-USD"),
        instrument("BTC-USD", max_exposure=5.0),
    ]


@pytest.mark.parametrize("value,stored", [
    (7.9, 7), (2.9, 2), (0.99, 0), (1, 1), (-5, 0), (-0.5, 0), (math.nan, 0), ("x", 0), (None, 0),
    (1e30, 2**64 - 1), (2.0**64, 2**64 - 1), (math.inf, 2**64 - 1), (2.0**63, 2**63),
    (2**64 - 1, 2**64 - 1),  # becomes the double 2^64 first
    (18446744073709549568.0, 18446744073709549568),  # the largest double below 2^64
])
def test_volume_rampup(value, stored):
    got = probe.parse_liquidator_config({"instruments": [{"symbol": "A", "volume_rampup": value}]})
    assert got["instruments"][0]["volume_rampup"] == stored


@pytest.mark.parametrize("config,exc,text", [
    ([], TypeError, "'list' object cannot be converted to 'PyDict'"),
    ({"instruments": None}, TypeError, "'NoneType' object cannot be converted to 'PyList'"),
    ({"instruments": ({"symbol": "A"},)}, TypeError, "'tuple' object cannot be converted to 'PyList'"),
    ({"instruments": [{"symbol": "A"}, "B"]}, TypeError, "'str' object cannot be converted to 'PyDict'"),
    ({"instruments": [{"symbol": "A"}, {"max_exposure": 1}, 5]}, ValueError, "Missing 'symbol'"),
    ({"instruments": [{"symbol": b"A"}]}, TypeError, "'bytes' object cannot be converted to 'PyString'"),
])
def test_liquidator_config_errors(config, exc, text):
    raises(exc, text, probe.parse_liquidator_config, config)


class Seq:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return 10**18  # lies: the converter must not trust it

    def __getitem__(self, i):
        return self.items[i]


def test_tuple_sequences_convert_in_order():
    assert probe.parse_user_settings([("BTC", 5), ("BTC", 2.5), ("ETH", True)], "max_leverage") == [
        ("BTC", 5.0), ("BTC", 2.5), ("ETH", 1.0)]
    assert probe.parse_user_settings((), "max_leverage") == []
    assert probe.parse_user_settings(Seq(("A", 1)), "max_leverage") == [("A", 1.0)]
    assert probe.parse_oracle_prices([(2**64 - 1, "BTC", 1e5), (0, "", -1)], "oracles") == [
        (2**64 - 1, "BTC", 1e5), (0, "", -1.0)]
    assert probe.parse_pyth_prices([(1, 2, 3, -32768), (4, 5, 2**64 - 1, 32767)], "oracles") == [
        (1, 2, 3, -32768), (4, 5, 2**64 - 1, 32767)]


SEQUENCE_ERRORS = [
    (probe.parse_user_settings, "BTC", TypeError, "argument 'p': Can't extract `str` to `Vec`"),
    (probe.parse_oracle_prices, 5, TypeError, "argument 'p': 'int' object cannot be converted to 'Sequence'"),
    (probe.parse_pyth_prices, {(1, 2, 3, 4)}, TypeError,
     "argument 'p': 'set' object cannot be converted to 'Sequence'"),
    (probe.parse_user_settings, [("A", 1), ["B", 2]], TypeError,
     "argument 'p': 'list' object cannot be converted to 'PyTuple'"),
    (probe.parse_user_settings, [("A", 1, 2)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (probe.parse_oracle_prices, [(1, "A")], ValueError, "expected tuple of length 3, but got tuple of length 2"),
    (probe.parse_pyth_prices, [(1, 2, 3, 4), ()], ValueError, "expected tuple of length 4, but got tuple of length 0"),
    (probe.parse_user_settings, [(1, 1)], TypeError, "argument 'p': 'int' object cannot be converted to 'PyString'"),
    (probe.parse_user_settings, [("A", "1")], TypeError, "argument 'p': must be real number, not str"),
    (probe.parse_user_settings, [("A", Boom())], RuntimeError, "boom"),
    (probe.parse_oracle_prices, [(1.0, "A", 1)], TypeError,
     "argument 'p': 'float' object cannot be interpreted as an integer"),
    (probe.parse_oracle_prices, [(-1, "A", 1)], OverflowError, "can't convert negative int to unsigned"),
    (probe.parse_pyth_prices, [(1, 2**64, 3, 4)], OverflowError, "int too big to convert"),
    (probe.parse_pyth_prices, [(1, 2, 3, 40000)], OverflowError, OVERFLOW),
    (probe.parse_pyth_prices, [(1, 2, 3, -32769)], OverflowError, OVERFLOW),
    (probe.parse_pyth_prices, [(1, 2, 3, 2**100)], OverflowError, OVERFLOW),
    (probe.parse_pyth_prices, [(1, 2, 3, "4")], TypeError,
     "argument 'p': 'str' object cannot be interpreted as an integer"),
    # The first failing element wins, whatever comes after it.
    (probe.parse_user_settings, [("A", 1), ("B",), 5], ValueError,
     "expected tuple of length 2, but got tuple of length 1"),
]


@pytest.mark.parametrize("fn,value,exc,text", SEQUENCE_ERRORS)
def test_tuple_sequence_errors(fn, value, exc, text):
    raises(exc, text, fn, value, "p")


def test_large_sequences():
    n = 10**6
    got = probe.parse_oracle_prices([(i, "S", 0.5) for i in range(n)], "oracles")
    assert len(got) == n and got[-1] == (n - 1, "S", 0.5)
    bad = [("A", 1)] * n + [("A", "x")]
    raises(TypeError, "argument 'p': must be real number, not str", probe.parse_user_settings, bad, "p")
