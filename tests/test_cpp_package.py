"""The installed C++ package, through examples/cpp/sign_order (built against the
installed fyrn::core by `make check-cpp-package`, which passes its path in
FYRN_SIGN_ORDER). PyNaCl derives the key and verifies the signature over bytes
handed out by py_prepare_order_group."""

import json
import os
import subprocess

import base58
import nacl.signing
import pytest

from helpers import verify
from order_id_oracle import dict_order_id
from test_signer import message

EXE = os.environ.get("FYRN_SIGN_ORDER")
pytestmark = pytest.mark.skipif(not EXE, reason="FYRN_SIGN_ORDER not set: run `make check-cpp-package`")

# The fixed inputs of examples/cpp/sign_order.cpp.
SEED = bytes(range(1, 33))
NONCE = 1700000000000000000
ORDER = {"type": "order", "symbol": "BTC-USD", "is_buy": True, "price": 65000.0, "size": 0.1,
         "order_type": {"type": "limit", "tif": "GTC"}}


def test_example_signs_a_verifiable_limit_order():
    out = subprocess.run([EXE], capture_output=True, text=True, check=True, timeout=30).stdout
    tx = json.loads(out)
    pubkey = base58.b58encode(bytes(nacl.signing.SigningKey(SEED).verify_key)).decode()
    assert tx["signer"] == tx["account"] == pubkey and tx["nonce"] == NONCE
    assert tx["actions"] == [{"l": {"b": True, "c": "BTC-USD", "i": False, "px": 65000.0, "r": False,
                                    "sz": 0.1, "tif": "GTC"}}]
    assert verify(tx, message([ORDER], NONCE, pubkey, "mainnet"))
    assert not verify(tx, message([ORDER], NONCE, pubkey, "devnet"))
    assert tx["order_id"] == dict_order_id(ORDER, NONCE, pubkey)
