"""compute_order_id_from_order: binding, the compact API shape, agreement
between the two shapes, and property tests over random input."""

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
PUBKEY58 = base58.b58encode(bytes([7]) * 32).decode()
BAD_B58 = "invalid base58: provided string contained invalid character '0' at byte 0"
INVALID_JSON = "Invalid order JSON. Expected simplified {'type': ...} or compact {'l'|'m'|'cx'|'mod'|'cxa'}"

compute = _native.compute_order_id_from_order


def lim(**kw):
    return {"c": "BTC-USD", "b": True, "px": 50000.5, "sz": 0.25, **kw}


def mkt(**kw):
    return {"c": "ETH-USD", "b": False, "sz": 3, **kw}


LIMIT_ID = order_id(limit_encoding("BTC-USD", True, 50000.5, 0.25), NONCE, ACCOUNT)
MARKET_ID = order_id(market_encoding("ETH-USD", False, 3), NONCE, ACCOUNT)


def drop(d, *keys):
    return {k: v for k, v in d.items() if k not in keys}


COMPACT_CASES = [
    ({"l": lim()}, LIMIT_ID),
    ({"l": lim(tif="ioc")}, order_id(limit_encoding("BTC-USD", True, 50000.5, 0.25, "IOC"), NONCE, ACCOUNT)),
    ({"l": lim(tif="ALO", r=True, i=True)},
     order_id(limit_encoding("BTC-USD", True, 50000.5, 0.25, "ALO", True, True), NONCE, ACCOUNT)),
    ({"l": lim(tif=5, r=1, i="true")}, LIMIT_ID),
    ({"l": lim(cloid=HASH58, builder_code={"to": PUBKEY58, "fee": 3})}, LIMIT_ID),
    ({"l": lim(tif="iocx")}, (ValueError, "Invalid l.tif: iocx")),
    ({"l": drop(lim(), "c", "b")}, (ValueError, "Missing 'l.c'")),
    ({"l": drop(lim(), "b")}, (ValueError, "Missing 'l.b'")),
    ({"l": drop(lim(), "px")}, (ValueError, "Missing 'l.px'")),
    ({"l": drop(lim(), "sz")}, (ValueError, "Missing 'l.sz'")),
    ({"l": lim(c=1)}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"l": lim(b="yes")}, (TypeError, "'str' object cannot be converted to 'PyBool'")),
    ({"l": lim(px="1")}, (TypeError, "must be real number, not str")),
    ({"l": lim(cloid="0")}, (ValueError, BAD_B58)),
    ({"l": lim(cloid=None)}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
    ({"l": lim(commission={})}, (ValueError, "commission was renamed to builder_code")),
    ({"l": lim(builder_code={"to": PUBKEY58, "fee": 0})},
     (ValueError, "invalid order: builder-code fee must be 1..=15 bps")),
    ({"l": lim(builder_code=None)}, (ValueError, "builder_code must be omitted or an object")),
    ({"l": []}, (TypeError, "'list' object cannot be converted to 'PyDict'")),
    ({"m": mkt()}, MARKET_ID),
    ({"m": mkt(slippage=0.005, r=True)},
     order_id(market_encoding("ETH-USD", False, 3, True, False, 0.005), NONCE, ACCOUNT)),
    ({"m": mkt(tif="bogus", cloid="0", px="x")}, MARKET_ID),  # not read for a market order
    ({"m": mkt(slippage="x")}, (TypeError, "must be real number, not str")),
    ({"m": drop(mkt(), "c")}, (ValueError, "Missing 'm.c'")),
    ({"m": drop(mkt(), "b")}, (ValueError, "Missing 'm.b'")),
    ({"m": drop(mkt(), "sz")}, (ValueError, "Missing 'm.sz'")),
    ({"m": mkt(commission=None)}, (ValueError, "commission was renamed to builder_code")),
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
    ({"cxa": ["BTC-USD", "ETH-USD"]}, None),
    ({"cxa": []}, None),
    ({"cxa": "BTC-USD"}, (TypeError, "Can't extract `str` to `Vec`")),
    ({"cxa": ["BTC-USD", 1]}, (TypeError, "'int' object cannot be converted to 'PyString'")),
    ({"cxa": 5}, (TypeError, "'int' object cannot be converted to 'Sequence'")),
    # The first present key of type, l, m, cx, mod, cxa decides the shape.
    ({}, (ValueError, INVALID_JSON)),
    ({"x": 1, "L": {}}, (ValueError, INVALID_JSON)),
    ({"type": "cancel_all", "l": []}, None),
    ({"l": lim(), "m": None}, LIMIT_ID),
    ({"m": mkt(), "cx": None}, MARKET_ID),
    ({"cxa": [], "mod": None}, (TypeError, "'NoneType' object cannot be converted to 'PyDict'")),
    ({"type": None, "l": lim()}, (TypeError, "'NoneType' object cannot be converted to 'PyString'")),
]


@pytest.mark.parametrize("obj,expected", COMPACT_CASES)
def test_compact_shape(obj, expected):
    if isinstance(expected, tuple):
        exc, text = expected
        with pytest.raises(exc) as info:
            compute(obj, NONCE, ACCOUNT58)
        assert type(info.value) is exc and str(info.value) == text
    else:
        assert compute(obj, NONCE, ACCOUNT58) == expected


def test_binding():
    order = {"l": lim()}
    assert compute(order=order, nonce=NONCE, account=ACCOUNT58) == LIMIT_ID
    assert compute(order, account=ACCOUNT58, nonce=NONCE) == LIMIT_ID
    cases = [
        ((), "compute_order_id_from_order() missing 3 required positional arguments: 'order', 'nonce', and 'account'"),
        ((order, NONCE), "compute_order_id_from_order() missing 1 required positional argument: 'account'"),
        ((order, NONCE, ACCOUNT58, 1),
         "compute_order_id_from_order() takes 3 positional arguments but 4 were given"),
        (([], NONCE, ACCOUNT58), "argument 'order': 'list' object cannot be converted to 'PyDict'"),
        ((order, "1", ACCOUNT58), "argument 'nonce': 'str' object cannot be interpreted as an integer"),
        ((order, NONCE, b"x"), "argument 'account': 'bytes' object cannot be converted to 'PyString'"),
    ]
    for args, text in cases:
        with pytest.raises(TypeError) as info:
            compute(*args)
        assert str(info.value) == text
    for nonce in (-1, 2**64):
        with pytest.raises(OverflowError):
            compute(order, nonce, ACCOUNT58)
    # The account is decoded before the order is looked at.
    with pytest.raises(ValueError, match="^invalid key length: expected 32, got 31$"):
        compute({}, 0, base58.b58encode(bytes(31)).decode())
    with pytest.raises(ValueError, match="^invalid base58: "):
        compute({"l": {}}, 0, "0")


def test_identifier_depends_on_nonce_account_and_fields():
    base = compute({"l": lim()}, NONCE, ACCOUNT58)
    others = {
        compute({"l": lim()}, NONCE + 1, ACCOUNT58),
        compute({"l": lim()}, NONCE, base58.b58encode(bytes([0x12]) * 32).decode()),
        compute({"l": lim(c="BTC-USDT")}, NONCE, ACCOUNT58),
        compute({"l": lim(b=False)}, NONCE, ACCOUNT58),
        compute({"l": lim(px=50000.51)}, NONCE, ACCOUNT58),
        compute({"l": lim(sz=0.26)}, NONCE, ACCOUNT58),
        compute({"m": mkt()}, NONCE, ACCOUNT58),
        compute({"m": mkt(slippage=0.0)}, NONCE, ACCOUNT58),
    }
    assert base not in others and len(others) == 8


# Random well-formed orders: both shapes agree with each other and the oracle.
symbols = st.text(max_size=12)  # no lone surrogates by default
numbers = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.integers(-(2**70), 2**70))
tifs = st.sampled_from(["GTC", "IOC", "ALO", "gtc", "ioc", "alo", "Ioc", "aLO"])


def finite_float(v):
    try:
        return float(v)
    except OverflowError:
        return None


@settings(max_examples=150, suppress_health_check=[HealthCheck.too_slow])
@given(symbol=symbols, is_buy=st.booleans(), price=numbers, size=numbers, tif=tifs, ro=st.booleans(),
       iso=st.booleans(), nonce=st.integers(0, 2**64 - 1), seed=st.binary(min_size=32, max_size=32))
def test_limit_shapes_agree(symbol, is_buy, price, size, tif, ro, iso, nonce, seed):
    if finite_float(price) is None or finite_float(size) is None:
        return
    account58 = base58.b58encode(seed).decode()
    simplified = {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": price, "size": size,
                  "reduce_only": ro, "iso": iso, "order_type": {"type": "limit", "tif": tif}}
    compact = {"l": {"c": symbol, "b": is_buy, "px": price, "sz": size, "tif": tif, "r": ro, "i": iso}}
    expected = order_id(limit_encoding(symbol, is_buy, float(price), float(size), tif.upper(), ro, iso), nonce, seed)
    assert compute(simplified, nonce, account58) == expected
    assert compute(compact, nonce, account58) == expected


@settings(max_examples=150)
@given(symbol=symbols, is_buy=st.booleans(),
       size=st.floats(allow_nan=True), ro=st.booleans(), iso=st.booleans(),
       slippage=st.one_of(st.none(), st.floats(allow_nan=True)), nonce=st.integers(0, 2**64 - 1))
def test_market_shapes_agree(symbol, is_buy, size, ro, iso, slippage, nonce):
    simplified = {"type": "order", "symbol": symbol, "is_buy": is_buy, "price": 0, "size": size,
                  "reduce_only": ro, "iso": iso, "order_type": {"type": "market"}}
    compact = {"m": {"c": symbol, "b": is_buy, "sz": size, "r": ro, "i": iso}}
    if slippage is not None:
        simplified["slippage"] = compact["m"]["slippage"] = slippage
    expected = order_id(market_encoding(symbol, is_buy, size, ro, iso, slippage), nonce, ACCOUNT)
    assert compute(simplified, nonce, ACCOUNT58) == expected
    assert compute(compact, nonce, ACCOUNT58) == expected


# Random junk never crashes: only the parser's documented exception types.
KEYS = ["type", "symbol", "is_buy", "price", "size", "order_type", "tif", "is_market", "trigger_px", "client_id",
        "builder_code", "to", "fee", "slippage", "order_id", "amount", "symbols", "trigger_price", "limit_price",
        "pmin", "pmax", "lmin", "lmax", "trail_bps", "step_bps", "actions", "trigger", "iso", "reduce_only",
        "commission", "l", "m", "cx", "mod", "cxa", "c", "b", "px", "sz", "oid", "cloid", "r", "i"]
TYPES = ["order", "modify", "cancel", "cancel_all", "stop", "st", "take_profit", "tp", "range", "rng",
         "trailing_stop", "trl", "trig", "on_fill", "of", "limit", "market", "trigger", "ioc", "GTC"]
scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-(2**70), 2**70), st.floats(), st.text(max_size=8),
    st.sampled_from(TYPES), st.just(HASH58), st.just(PUBKEY58), st.binary(max_size=4))
junk = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.tuples(inner, inner),
                            st.dictionaries(st.sampled_from(KEYS), inner, max_size=8)),
    max_leaves=40)


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(st.dictionaries(st.sampled_from(KEYS), junk, max_size=10))
def test_junk_never_crashes(obj):
    try:
        result = compute(obj, NONCE, ACCOUNT58)
    except (ValueError, TypeError, OverflowError):
        return
    assert result is None or len(base58.b58decode(result)) == 32
