"""The type stubs match the runtime module (stubtest; and every docstring the
stubs give is the runtime's, word for word), and mypy reading them accepts typed
use and flags exactly the wrong calls marked `# E: <code>`.
(`make check-install` proves checkers find them where `pip install .` puts them.)"""

import ast
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
    import _native

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


def test_docstrings_are_the_stubs():
    tree = ast.parse((ROOT / "python" / "_native-stubs" / "__init__.pyi").read_text())
    documented = []
    for node in tree.body:
        owner = getattr(_native, node.name, None) if isinstance(node, ast.ClassDef) else _native
        for member in node.body if isinstance(node, ast.ClassDef) else [node]:
            if isinstance(member, ast.FunctionDef) and ast.get_docstring(member, clean=False) is not None:
                documented.append((getattr(owner, member.name).__doc__, ast.get_docstring(member, clean=False)))
        if isinstance(node, ast.ClassDef) and ast.get_docstring(node, clean=False) is not None and owner:
            documented.append((owner.__doc__, ast.get_docstring(node, clean=False)))
    assert len(documented) > 40
    assert [runtime for runtime, _ in documented] == [stub for _, stub in documented]
