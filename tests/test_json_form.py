"""The submission JSON as Python sees it: dict key order, number kinds, None.

Expected dicts are written by hand from the documented vocabulary; key order is
compared as lists because dict equality ignores it."""
import pytest

from _native import Keypair, Signer

LIMIT = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 50000.5, "size": 0.25}


@pytest.fixture
def signer():
    return Signer(Keypair(bytes([7]) * 32), "mainnet")


def ordered(value):
    """Nested (key, value) lists, so that == also compares key order."""
    if isinstance(value, dict):
        return [(k, ordered(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [ordered(v) for v in value]
    return value


def test_worked_example_limit_order(signer):
    tx = signer.sign(LIMIT, nonce=1)
    assert ordered(tx["actions"]) == ordered(
        [{"l": {"b": True, "c": "BTC-USD", "i": False, "px": 50000.5, "r": False, "sz": 0.25, "tif": "GTC"}}]
    )
    assert type(tx["actions"][0]["l"]["px"]) is float


@pytest.mark.parametrize("limit_price, lim", [(None, None), (float("nan"), None), (0.0, 0.0)])
def test_stop_limit_price(signer, limit_price, lim):
    stop = {"type": "stop", "symbol": "BTC-USD", "is_buy": False, "size": 1.0, "trigger_price": 48000.0,
            "slippage": 0.01}
    if limit_price is not None:
        stop["limit_price"] = limit_price
    (action,) = signer.sign(stop, nonce=1)["actions"]
    assert action["st"]["lim"] == lim and type(action["st"]["lim"]) is type(lim)
    assert "slippage" not in action["st"]  # the signer's JSON omits conditional slippage


def test_pyth_numbers(signer):
    tx = signer.sign_pyth_oracle([(1, 2, 2**63 - 1, -8), (3, 4, 2**63, 2), (5, 6, 2**64 - 1, 0)], nonce=1)
    got = [(o["px"], type(o["px"]), o["e"]) for o in tx["actions"][0]["o"]["oracles"]]
    assert got == [(2**63 - 1, int, -8), (float(2**63), float, 2), (float(2**64), float, 0)]
    assert list(tx["actions"][0]["o"]["oracles"][0]) == ["e", "fi", "px", "t"]


def test_user_settings_keys_in_byte_order(signer):
    pairs = [("b", 3.0), ("é", 1.0), ("a", 5.0), ("B", 10.0), ("_", 2.0), ("a", 7.5)]
    m = signer.sign_user_settings(pairs, nonce=1)["actions"][0]["updateUserSettings"]["m"]
    assert ordered(m) == [("B", 10.0), ("_", 2.0), ("a", 7.5), ("b", 3.0), ("é", 1.0)]


def test_signed_dict_keys(signer):
    assert list(signer.sign_faucet(nonce=2**64 - 1)) == ["actions", "nonce", "account", "signer", "signature"]
    signer.set_compute_batch_order_ids(True)
    assert list(signer.sign_group([LIMIT, LIMIT], nonce=3)) == [
        "actions", "nonce", "account", "signer", "signature", "order_ids"]
