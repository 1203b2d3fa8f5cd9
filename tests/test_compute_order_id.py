"""compute_order_id: base58 of SHA-256 over the caller's raw preimage.
Oracles: the worked example, hashlib and the base58 package."""
import hashlib
import struct

import base58
import pytest
from hypothesis import example, given, settings, strategies as st

import _native

# Identifier preimage of the worked example's limit order (BTC-USD, buy,
# 50000.5 x 0.25, GTC), account 32 x 0x11, nonce 1700000000000000000.
ORDER_ENCODING = bytes.fromhex(
    "01 00 00 00 07 00 00 00 00 00 00 00 42 54 43 2d 55 53 44 01 80 40 34 2a 8c 04 00 00"
    " 40 78 7d 01 00 00 00 00 00 00 00 00 00 00"
)


@pytest.mark.parametrize(
    "seqno, expected",
    [(0, "DTp1n46uncCa9vCFLcfs9yBHexJgfzrMGoqCy6hqfRqG"), (1, "6wjCPfiTvmEn3gcECbCQRqqNeLCV47oHSMK3Qgk7VAWx")],
)
def test_worked_examples(seqno, expected):
    pre = struct.pack("<I", seqno) + ORDER_ENCODING + b"\x11" * 32 + struct.pack("<Q", 1700000000000000000)
    assert len(pre) == 86
    assert _native.compute_order_id(pre) == expected
    assert _native.compute_order_id(wincode_bytes=pre) == expected


class BytesSubclass(bytes):
    pass


@settings(max_examples=50, deadline=None)
@given(st.binary(max_size=300))
@example(b"")
@example(b"\xff" * 1000)
@example(BytesSubclass(b"abc"))
def test_matches_hashlib_and_base58(data):
    assert _native.compute_order_id(data) == base58.b58encode(hashlib.sha256(bytes(data)).digest()).decode()
