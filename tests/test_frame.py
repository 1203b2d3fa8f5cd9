"""The module frame: exports, import behaviour, argument binding, conversions and
exception mapping. For binding messages the interpreter's own `def` is the oracle."""

import math
import operator
import re
import shutil
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

import _native
from _native import Keypair, Signer

EXPORTS = [  # registration order
    "prepare_wallet_message", "finalize_wallet_message", "export_deposit_transaction", "export_withdraw_intent_transaction", "build_deposit_instruction",
    "build_withdraw_intent_instruction", "Keypair", "Signer", "random_hash", "current_timestamp",
    "validate_pubkey", "validate_hash", "compute_order_id", "compute_order_id_from_order",
    "py_prepare_order", "py_prepare_all_orders", "py_prepare_order_group", "py_prepare_agent_wallet_auth",
    "py_prepare_approve_builder_code", "py_prepare_update_liquidator_config", "py_prepare_approve_commission_fee",
    "py_prepare_revoke_builder_code", "py_prepare_revoke_commission_fee", "py_prepare_faucet_request",
    "py_prepare_create_sub_account", "py_prepare_remove_sub_account", "py_prepare_transfer",
    "py_finalize_transaction",
]


def test_module_attributes_and_cached_reimport():
    standard = {"__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}
    assert [name for name in vars(_native) if name not in standard] == EXPORTS
    assert _native.__doc__ == "High-performance transaction signing for FYRN DEX"
    del sys.modules["_native"]
    try:
        import _native as again
    finally:
        sys.modules["_native"] = _native
    assert again is _native


@pytest.mark.parametrize("fn, signature, doc", [
    (_native.random_hash, "()", "Generate a random hash (for client order IDs)"),
    (_native.current_timestamp, "()", "Get the current Unix timestamp in nanoseconds"),
    (_native.validate_pubkey, "(s)", "Validate a base58-encoded public key"),
    (_native.validate_hash, "(s)", "Validate a base58-encoded hash"),
    (_native.export_deposit_transaction, "(owner, amount, recent_blockhash)",
     "Export a base64 unsigned mainnet USDC deposit transaction for wallet signing."),
    (_native.export_withdraw_intent_transaction, "(owner, amount, recent_blockhash)",
     "Export a base64 unsigned mainnet USDC withdrawal-intent transaction for wallet signing."),
    (_native.build_deposit_instruction, "(owner, amount)",
     "Build an unsigned mainnet USDC deposit instruction, with amount in base units."),
    (_native.build_withdraw_intent_instruction, "(owner, amount)",
     "Build an unsigned mainnet USDC withdrawal intent; no tokens transfer in this instruction."),
    (Keypair, "(*args)", "Ed25519 keypair for signing transactions"),
    (Keypair.from_base58, "(s)", "Create from base58-encoded secret key or full keypair"),
    (Keypair.from_bytes, "(bytes)", "Create from raw bytes (32-byte secret or 64-byte keypair)"),
    (Keypair.to_base58, "($self)", "Get the full keypair as base58 (64 bytes)"),
    (Keypair.to_bytes, "($self)", "Get the full keypair as bytes (64 bytes)"),
    (Keypair.secret_key, "($self)", "Get the secret key as bytes (32 bytes)"),
    (Keypair.pubkey, None, "Get the public key as base58 string"),
])
def test_docstrings_and_text_signatures(fn, signature, doc):
    assert getattr(fn, "__text_signature__", None) == signature
    assert fn.__doc__ == doc


def test_subinterpreter_import_is_refused():
    pytest.importorskip("_xxsubinterpreters")
    out = subprocess.run([sys.executable, "-c", textwrap.dedent("""
        import sys, _native, _xxsubinterpreters as interpreters
        try:
            # From 3.12 the default is an isolated interpreter, which CPython itself
            # keeps from loading the module; a legacy one reaches the module's own check.
            sub = interpreters.create() if sys.version_info < (3, 12) else interpreters.create(isolated=False)
            interpreters.run_string(sub, "import _native")
        except interpreters.RunFailedError as e:
            print(e)
        """)], capture_output=True, text=True, timeout=60).stdout
    assert "ImportError" in out and "_native does not support sub-interpreters" in out


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
    (Keypair.from_base58, "Keypair", ("s",), 1),
    (SIGNER.sign_faucet, "Signer", ("nonce",), 0),
    (SIGNER.sign, "Signer", ("order", "nonce"), 1),
    (SIGNER.sign_transfer, "Signer", ("from_pubkey", "to_pubkey", "margin_amount", "kind", "nonce"), 3),
    (Keypair(bytes(32)).to_bytes, "Keypair", (), 0),
    (SIGNER.computes_order_id, "Signer", (), 0),
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


def make_oracle(name, owner, params, n_required):
    rendered = ", ".join(p if i < n_required else f"{p}=None" for i, p in enumerate(params))
    namespace = {}
    if owner is None:
        exec(f"def {name}({rendered}): pass", namespace)
        return namespace[name]
    # Counts in the messages leave the receiver out, as for a static method.
    exec(f"class {owner}:\n    @staticmethod\n    def {name}({rendered}): pass", namespace)
    return getattr(namespace[owner], name)


def type_error(fn, args, kwargs):
    try:
        fn(*args, **kwargs)
    except TypeError as e:
        return str(e)
    except ValueError:
        pass
    return None


def documented(message):
    # The documented texts say "positional arguments" for every count, 1 included,
    # and stay fixed where Python 3.13 appends a suggestion ("Did you mean 'order'?").
    message = message and re.sub(r"\. Did you mean '\w+'\?$", "", message)
    return message and message.replace(" positional argument but ", " positional arguments but ")


@pytest.mark.parametrize("fn, owner, params, n_required", CALLABLES, ids=lambda v: getattr(v, "__name__", None))
def test_binding_matches_the_interpreter(fn, owner, params, n_required):
    oracle = make_oracle(fn.__name__, owner, params, n_required)
    for args, kwargs in CALLS:
        expected, got = documented(type_error(oracle, args, kwargs)), type_error(fn, args, kwargs)
        if expected is None:
            # Bound: only a conversion of some argument (or the order parser's own
            # type check) may fail.
            assert got is None or got.startswith("argument '") or got.endswith("to 'PyDict'"), (args, kwargs, got)
        else:
            assert got == expected, (args, kwargs)


def test_keywords_fill_the_same_parameters_as_positions():
    owner, blockhash = str(Keypair(bytes(32)).pubkey), "1" * 32
    assert _native.export_deposit_transaction(recent_blockhash=blockhash, amount=3, owner=owner) == \
        _native.export_deposit_transaction(owner, 3, blockhash)
    assert _native.validate_pubkey(s="1" * 32) is True


def test_parameterless_functions_raise_the_interpreters_own_errors():
    for fn in (_native.random_hash, _native.current_timestamp):
        assert type_error(fn, (1,), {}) == f"_native.{fn.__name__}() takes no arguments (1 given)"
        assert type_error(fn, (), {"x": 1}) == f"_native.{fn.__name__}() takes no keyword arguments"


# --- conversions, through real parameters ------------------------------------------


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Special(TypeError):
    pass


def message_of(fn):
    try:
        fn()
    except (TypeError, OverflowError) as e:
        return str(e)


OWNER = str(Keypair(bytes(32)).pubkey)


def amount(value):
    return _native.build_deposit_instruction(OWNER, value)["data"][1]


@pytest.mark.parametrize("call, expected", [
    (lambda: _native.validate_pubkey(1), "argument 's': 'int' object cannot be converted to 'PyString'"),
    (lambda: _native.validate_pubkey(type("Text", (str,), {})("1" * 32)), True),
    (lambda: Keypair.from_bytes("x"), "argument 'bytes': 'str' object cannot be converted to 'PyBytes'"),
    (lambda: Keypair.from_bytes(bytearray(32)), "argument 'bytes': 'bytearray' object cannot be converted to 'PyBytes'"),
    (lambda: amount(Index(7)), 7),
    (lambda: amount(2**64), OverflowError),
    (lambda: amount(-1), OverflowError),
    (lambda: amount(1.0), "argument 'amount': " + message_of(lambda: operator.index(1.0))),
    (lambda: amount("1"), "argument 'amount': " + message_of(lambda: operator.index("1"))),
    (lambda: amount(Index(TypeError("bad index"))), "argument 'amount': bad index"),
    (lambda: amount(Index(Special("special"))), Special),  # only a plain TypeError is reworded
    (lambda: amount(Index(ZeroDivisionError("boom"))), ZeroDivisionError),
    (lambda: _native.export_deposit_transaction(OWNER, 0, 5),  # all arguments convert before any check
     "argument 'recent_blockhash': 'int' object cannot be converted to 'PyString'"),
    (lambda: SIGNER.set_compute_order_id(1), "argument 'enabled': 'int' object cannot be converted to 'PyBool'"),
    (lambda: SIGNER.sign_transfer(OWNER, OWNER, "1.0"),
     "argument 'margin_amount': " + message_of(lambda: math.sqrt("1.0"))),
    (lambda: SIGNER.sign_transfer(OWNER, OWNER, 2**1100), OverflowError),
    (lambda: SIGNER.sign_transfer(OWNER, OWNER, Index(3), nonce=1)["actions"] is not None, True),
    (lambda: _native.validate_hash("\udfff"), UnicodeEncodeError),
])
def test_conversions(call, expected):
    if isinstance(expected, type):
        with pytest.raises(expected) as e:
            call()
        assert type(e.value) is expected
    elif isinstance(expected, str):
        with pytest.raises(TypeError) as e:
            call()
        assert type(e.value) is TypeError and str(e.value) == expected
    else:
        assert call() == expected


# --- exception mapping --------------------------------------------------------------


def test_panic_class_derives_from_base_exception_and_is_not_exported():
    # Its invariants (clock, OS randomness) cannot be broken from here.
    [panic] = [c for c in BaseException.__subclasses__() if c.__module__ == "_native"]
    assert panic.__qualname__ == "PanicException" and panic.__bases__ == (BaseException,)
    assert panic not in vars(_native).values()
