"""The type stubs match the runtime module (stubtest; and the docstrings: the
runtime's are the stubs', word for word, or for the few that the stubs shorten
begin with the stubs' summary), and mypy reading them accepts typed
use and flags exactly the wrong calls marked `# E: <code>`.
(`make check-install` proves checkers find them where `pip install .` puts them.)"""

import ast
import inspect
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import _native

pytest.importorskip("mypy")

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "tests" / "stubs"


@pytest.fixture(scope="module")
def stub_dir(tmp_path_factory):
    path = tmp_path_factory.mktemp("stubs")
    shutil.copy(ROOT / "python" / "_native-stubs" / "__init__.pyi", path / "_native.pyi")
    return path


def run(cmd, stub_dir, cwd, env):
    env = {**env, "MYPYPATH": str(stub_dir), "PYTHONPATH": str(Path(_native.__file__).parent)}
    return subprocess.run([sys.executable, "-m", *cmd], capture_output=True, text=True, timeout=300, cwd=cwd, env=env)


def test_stubs_match_the_runtime_module(stub_dir, sanitizer_env):
    result = run(["mypy.stubtest", "--mypy-config-file", "/dev/null", "_native"], stub_dir, stub_dir, sanitizer_env)
    assert result.returncode == 0, result.stdout + result.stderr


def test_mypy_accepts_typed_use_and_flags_wrong_calls(stub_dir, tmp_path, sanitizer_env):
    result = run(["mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path), "usage_ok.py", "usage_bad.py"],
                 stub_dir, EXAMPLES, sanitizer_env)
    flagged = set(re.findall(r"^(usage_\w+\.py):(\d+): error: .*\[([\w-]+)\]$", result.stdout, re.M))
    lines = (EXAMPLES / "usage_bad.py").read_text().splitlines()
    expected = {("usage_bad.py", str(n), m.group(1)) for n, line in enumerate(lines, 1)
                if (m := re.search(r"  # E: ([\w-]+)$", line))}
    assert flagged == expected, result.stdout


SHORTENED = {"prepare_wallet_message", "sign", "sign_all", "sign_group", "sign_transfer", "sign_prepared",
             "compute_order_id_from_order", "py_prepare_order", "py_prepare_all_orders", "py_prepare_order_group",
             "py_prepare_agent_wallet_auth", "py_finalize_transaction"}


def test_docstrings_are_the_stubs():
    tree = ast.parse((ROOT / "python" / "_native-stubs" / "__init__.pyi").read_text())
    checked = 0
    for node in tree.body:
        owner = getattr(_native, node.name, None) if isinstance(node, ast.ClassDef) else _native
        if owner is not _native and owner is not None and ast.get_docstring(node) is not None:
            assert inspect.cleandoc(owner.__doc__) == ast.get_docstring(node), node.name
            checked += 1
        for member in node.body if isinstance(node, ast.ClassDef) else [node]:
            if not isinstance(member, ast.FunctionDef) or ast.get_docstring(member) is None:
                continue
            runtime, stub = inspect.cleandoc(getattr(owner, member.name).__doc__), ast.get_docstring(member)
            if member.name in SHORTENED:  # the stub's summary paragraph, then its own notes
                assert runtime.startswith(stub.split("\n\n")[0] + "\n\n"), member.name
            else:
                assert runtime == stub, member.name
            checked += 1
    assert checked == 62
