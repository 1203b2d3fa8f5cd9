"""The module frame: exports, import behaviour, argument binding, conversions and
exception mapping. For binding messages the interpreter's own `def` is the oracle."""

import inspect
import math
import operator
import shutil
import importlib.util
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

import _native
from _native import Keypair, Signer
from helpers import raises
from hostile import Index
from surface import ENTRY_POINTS, EXPORTS, METHODS

def test_module_attributes_and_cached_reimport():
    standard = {"__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}
    assert [name for name in vars(_native) if name not in standard] == EXPORTS
    for cls, members in METHODS.items():
        assert {n for n in vars(getattr(_native, cls)) if not n.startswith("_")} == set(members)
    assert _native.__doc__ == "High-performance transaction signing for FYRN DEX"
    del sys.modules["_native"]
    try:
        import _native as again
    finally:
        sys.modules["_native"] = _native
    assert again is _native


def test_every_callable_has_a_text_signature():
    # stubtest compares each one with the stubs, but passes over a callable that has none.
    for name in ENTRY_POINTS:
        *owner, member = name.split(".")
        if member != "pubkey":  # a property
            inspect.signature(getattr(getattr(_native, owner[0]) if owner else _native, member))


SUBINTERPRETER_IMPORT = """
import os
try:
    import _native
    os.write({fd}, b"imported")
except ImportError:
    os.write({fd}, b"ImportError")
"""


def test_subinterpreter_import_is_refused():
    # 3.12+ refuses a single-phase module in an isolated interpreter itself,
    # earlier versions leave it to the module: either way the import fails with
    # ImportError and the main interpreter's module keeps working. The outcome
    # comes back through a pipe, since texts and run_string differ by version.
    names = [n for n in ("_interpreters", "_xxsubinterpreters") if importlib.util.find_spec(n)]
    if not names:
        pytest.skip("no sub-interpreter module in this interpreter")
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(f"""
        import os, {names[0]} as interpreters
        import _native
        r, w = os.pipe()
        interpreters.run_string(interpreters.create(), {SUBINTERPRETER_IMPORT!r}.format(fd=w))
        os.close(w)
        print(os.read(r, 100).decode(), _native.validate_pubkey("1" * 32))
        """)], capture_output=True, text=True, timeout=60)
    assert out.stdout.split() == ["ImportError", "True"], out.stderr


EMBED = r"""#include <Python.h>
int main(void) {
  for (int round = 0; round < 2; ++round) {
    Py_Initialize();
    PyRun_SimpleString("try:\n import _native; print(_native.validate_pubkey('1' * 32))\n"
                       "except ImportError as e: print('ImportError:', e)\n");
    Py_FinalizeEx();
  }
}"""


def test_import_after_the_interpreter_was_finalized_is_refused(tmp_path, sanitizer_env):
    # An embedding process may finalize and start a new interpreter; the first
    # one's module, classes and strings are gone, so a second import must fail.
    if not sysconfig.get_config_var("Py_ENABLE_SHARED") or not shutil.which("cc"):
        pytest.skip("needs a shared libpython and a C compiler")
    (tmp_path / "embed.c").write_text(EMBED)
    libdir = sysconfig.get_config_var("LIBDIR")
    subprocess.run(["cc", "embed.c", "-I" + sysconfig.get_paths()["include"], "-L" + libdir, "-Wl,-rpath," + libdir,
                    "-lpython" + sysconfig.get_config_var("LDVERSION")], cwd=tmp_path, check=True, timeout=120)
    out = subprocess.run([tmp_path / "a.out"], capture_output=True, text=True, timeout=60,
                         env={**sanitizer_env, "PYTHONPATH": str(Path(_native.__file__).parent)})
    assert out.stdout.splitlines() == ["True", "ImportError: _native cannot be imported again after the "
                                       "interpreter that first imported it was finalized"], out.stderr


# --- argument binding against the interpreter ------------------------------------

SIGNER = Signer(Keypair(bytes(32)), "devnet")
# (callable, its class or None, parameters, number required)
CALLABLES = [
    (_native.validate_pubkey, None, ("s",), 1),
    (_native.export_deposit_transaction, None, ("owner", "amount", "recent_blockhash"), 3),
    (SIGNER.sign_faucet, "Signer", ("nonce",), 0),
    (SIGNER.sign, "Signer", ("order", "nonce"), 1),
    (SIGNER.sign_transfer, "Signer", ("from_pubkey", "to_pubkey", "margin_amount", "kind", "nonce"), 3),
    (Keypair(bytes(32)).to_bytes, "Keypair", (), 0),
    (_native.py_prepare_create_sub_account, None,
     ("name", "signature_domain", "account", "margin_amount", "signer", "nonce"), 3),
    (_native.py_finalize_transaction, None, ("prepared", "signature"), 2),
]
CALLS = [
    ((), {}), ((1,), {}), ((1, 2), {}), ((1, 2, 3), {}), ((1, 2, 3, 4, 5, 6), {}), ((None,), {}),
    ((), {"s": 1}), ((), {"nonce": 1}), ((), {"owner": 1, "recent_blockhash": 3}),
    ((1,), {"s": 1}), ((1, 2), {"to_pubkey": 2}), ((1, 2, 3, 4, 5, 6, 7), {"zz": 1}),
    ((1, 2, 3, 4, 5, 6), {"nonce": 1}), ((), {"kind": None, "zz": 2}), ((), {"from_pubkey": 1, "nonce": None}),
]


def type_error(fn, args, kwargs):
    try:
        fn(*args, **kwargs)
    except TypeError as e:
        return str(e)
    except ValueError:
        pass
    return None


def documented_error(name, owner, params, n_required, args, kwargs):
    """The documented binding TypeError, or None when the call binds: keywords
    first, then surplus positionals, then missing ones; "positional arguments"
    for every count, 1 included; nothing appended (3.13 adds "Did you mean")."""
    full = f"{owner}.{name}()" if owner else f"{name}()"
    filled = set(params[:len(args)])
    for key in kwargs:
        if key not in params:
            return f"{full} got an unexpected keyword argument '{key}'"
        if key in filled:
            return f"{full} got multiple values for argument '{key}'"
        filled.add(key)
    if len(args) > len(params):
        takes = f"from {n_required} to {len(params)}" if n_required < len(params) else str(len(params))
        return f"{full} takes {takes} positional arguments but {len(args)} {'was' if len(args) == 1 else 'were'} given"
    missing = [f"'{p}'" for p in params[:n_required] if p not in filled]
    if not missing:
        return None
    listed = " and ".join(missing) if len(missing) <= 2 else ", ".join(missing[:-1]) + ", and " + missing[-1]
    return f"{full} missing {len(missing)} required positional argument{'s' * (len(missing) > 1)}: {listed}"


@pytest.mark.parametrize("fn, owner, params, n_required", CALLABLES, ids=lambda v: getattr(v, "__name__", None))
def test_binding_matches_the_interpreter(fn, owner, params, n_required):
    # Which calls fail to bind, and with which text, is the interpreter's rule
    # for a `def` with the same signature, as documented on every version.
    for args, kwargs in CALLS:
        expected, got = documented_error(fn.__name__, owner, params, n_required, args, kwargs), type_error(fn, args, kwargs)
        if expected is None:
            # Bound: only a conversion of some argument (or the order parser's own
            # type check) may fail.
            assert got is None or got.startswith("argument '") or got.endswith("to 'PyDict'"), (args, kwargs, got)
        else:
            assert got == expected, (args, kwargs)


def test_parameterless_functions_raise_the_interpreters_own_errors():
    for fn in (_native.random_hash, _native.current_timestamp):
        assert type_error(fn, (1,), {}) == f"_native.{fn.__name__}() takes no arguments (1 given)"
        assert type_error(fn, (), {"x": 1}) == f"_native.{fn.__name__}() takes no keyword arguments"


# --- conversions and their order, through real parameters ---------------------------


class Special(TypeError):
    pass


def message_of(fn):
    try:
        fn()
    except (TypeError, OverflowError) as e:
        return str(e)


OWNER = str(Keypair(bytes(32)).pubkey)
OTHER = str(Keypair(bytes([9]) * 32).pubkey)
PREPARED = _native.py_prepare_order({"type": "order", "symbol": "S", "is_buy": True, "price": 1.0, "size": 1.0},
                                    "mainnet", OWNER, nonce=5)
FEE = "invalid order: builder-code fee must be 1..=15 bps"
B58 = "invalid base58: *"
KEY31 = "invalid key length: expected 32, got 31"
MODE = "signing failed: signature mode must be raw, base58 or offchain"


def amount(value):
    return _native.build_deposit_instruction(OWNER, value)["data"][1]


N, S = _native, SIGNER
# (call, expected): a value, an exception type, or (type, text); a text ending in "*" is a prefix.
CONVERSIONS = [
    (lambda: N.validate_pubkey(type("Text", (str,), {})("1" * 32)), True),
    (lambda: N.compute_order_id(memoryview(b"abc")),
     (TypeError, "argument 'wincode_bytes': 'memoryview' object cannot be converted to 'PyBytes'")),
    (lambda: S.sign_bytes(bytearray(3)),
     (TypeError, "argument 'message': 'bytearray' object cannot be converted to 'PyBytes'")),
    (lambda: amount(Index(7)), 7),
    (lambda: amount(2**64), OverflowError),
    (lambda: amount(1.0), (TypeError, "argument 'amount': " + message_of(lambda: operator.index(1.0)))),
    (lambda: amount(Index(Special("special"))), Special),  # only a plain TypeError is reworded
    (lambda: amount(Index(ZeroDivisionError("boom"))), ZeroDivisionError),
    (lambda: S.set_compute_order_id(1), (TypeError, "argument 'enabled': 'int' object cannot be converted to 'PyBool'")),
    (lambda: S.sign_transfer(OWNER, OWNER, "1.0"),
     (TypeError, "argument 'margin_amount': " + message_of(lambda: math.sqrt("1.0")))),
    (lambda: S.sign_transfer(OWNER, OWNER, 2**1100), OverflowError),
    (lambda: S.sign_transfer(OWNER, OWNER, Index(3), nonce=1)["actions"] is not None, True),
    (lambda: N.validate_hash("\udfff"), UnicodeEncodeError),
    (lambda: S.sign_approve_builder_code(OTHER, 256), OverflowError),
    (lambda: S.sign_approve_builder_code("0bad", 99), (ValueError, B58)),
    # All arguments convert before any check; one-transaction methods convert the
    # nonce first, then each argument's type in parameter order (tuple sequences
    # included), then dictionaries and key texts; the order parser checks the
    # order's type itself.
    (lambda: N.export_deposit_transaction(OWNER, 0, 5),
     (TypeError, "argument 'recent_blockhash': 'int' object cannot be converted to 'PyString'")),
    (lambda: S.sign(5, -1), OverflowError),
    (lambda: S.sign_all({}, base_nonce=-1), (TypeError, "argument 'orders': 'dict' object cannot be converted to 'PyList'")),
    (lambda: S.sign_transfer(OTHER, "0bad", 1.0, kind="Internal"), (ValueError, B58)),
    # Module functions: the network first, then keys in parameter order, then
    # order lists and configuration dicts; the order dict last.
    (lambda: N.py_prepare_faucet_request("main", "0bad"),
     (ValueError, "invalid signature domain 'main'; expected mainnet, testnet, or devnet")),
    (lambda: N.py_prepare_faucet_request("main", 5),
     (TypeError, "argument 'account': 'int' object cannot be converted to 'PyString'")),
    (lambda: N.py_prepare_faucet_request("main", OWNER, nonce=-1), OverflowError),
    (lambda: N.py_prepare_agent_wallet_auth("1" * 31, False, "devnet", "0bad"), (ValueError, KEY31)),
    (lambda: N.py_prepare_approve_builder_code(OTHER, 16, "devnet", "0bad"), (ValueError, B58)),
    (lambda: N.py_prepare_approve_builder_code(OTHER, 16, "devnet", OWNER, signer="0bad"), (ValueError, B58)),
    (lambda: N.py_prepare_approve_builder_code(OTHER, 16, "devnet", OWNER), (ValueError, FEE)),
    (lambda: N.py_prepare_transfer(OTHER, OTHER, 1.0, "devnet", OWNER, "External", "1" * 31), (ValueError, KEY31)),
    (lambda: N.py_prepare_order_group([{"type": "order"}], "devnet", "0bad"), (ValueError, "Missing 'symbol'")),
    (lambda: N.py_prepare_all_orders([{"type": "order"}], "devnet", "0bad"), (ValueError, "Missing 'symbol'")),
    (lambda: N.py_prepare_order({"type": "order"}, "devnet", "0bad"), (ValueError, B58)),
    (lambda: N.py_prepare_order_group([], "devnet", OWNER), (ValueError, "orders array cannot be empty")),
    (lambda: N.py_prepare_transfer(OTHER, "1" * 31, 1.0, "devnet", "0bad"), (ValueError, KEY31)),
    (lambda: N.py_prepare_update_liquidator_config({"instruments": [{}]}, "devnet", "0bad"),
     (ValueError, "Missing 'symbol'")),
    # Wallet messages: the mode's type, then the prepared dict, then the mode's name.
    (lambda: N.prepare_wallet_message({}, b"raw"),
     (TypeError, "argument 'mode': 'bytes' object cannot be converted to 'PyString'")),
    (lambda: N.prepare_wallet_message({}, "base64"), (ValueError, "Missing 'actions'")),
    (lambda: N.prepare_wallet_message(PREPARED, "base64"), (ValueError, MODE)),
    (lambda: N.prepare_wallet_message([], "raw"),
     (TypeError, "argument 'prepared': 'list' object cannot be converted to 'PyDict'")),
    (lambda: N.finalize_wallet_message({"prepared": [], "signature_mode": "raw"}, "sig"),
     (TypeError, "'list' object cannot be converted to 'PyDict'")),
]


@pytest.mark.parametrize("call, expected", CONVERSIONS)
def test_conversions(call, expected):
    if isinstance(expected, (type, tuple)):
        raises(*(expected if isinstance(expected, tuple) else (expected, None)), call)
    else:
        assert call() == expected


# --- exception mapping --------------------------------------------------------------


def test_panic_class_derives_from_base_exception_and_is_not_exported():
    # Its invariants (clock, OS randomness) cannot be broken from here.
    [panic] = [c for c in BaseException.__subclasses__() if c.__module__ == "_native"]
    assert panic.__qualname__ == "PanicException" and panic.__bases__ == (BaseException,)
    assert panic not in vars(_native).values()
