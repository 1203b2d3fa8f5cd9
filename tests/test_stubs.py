"""The type stubs: they match the runtime module (stubtest), and a type checker
finds them where `pip install .` puts them (a stub-only `_native-stubs`
package in site-packages) and flags wrong calls."""

import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

pytest.importorskip("mypy")

ROOT = Path(__file__).resolve().parent.parent
STUBS = ROOT / "python" / "_native-stubs" / "__init__.pyi"
EXAMPLES = ROOT / "tests" / "stubs"


def run(cmd, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=300, **kwargs)


def test_stubs_match_the_runtime_module(tmp_path):
    import _native

    # stubtest reads plain module stubs from MYPYPATH and imports the module
    # from this interpreter's path.
    shutil.copy(STUBS, tmp_path / "_native.pyi")
    env = {"MYPYPATH": str(tmp_path), "PYTHONPATH": str(Path(_native.__file__).parent)}
    result = run([sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", "/dev/null", "_native"],
                 cwd=tmp_path, env=env)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.fixture(scope="module")
def installed_layout(tmp_path_factory):
    """A bare venv whose site-packages holds the stubs exactly as installed."""
    venv = tmp_path_factory.mktemp("stubs-venv")
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    python = venv / "bin" / "python"
    purelib = run([str(python), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])"]).stdout.strip()
    target = Path(purelib) / "_native-stubs"
    target.mkdir(parents=True)
    shutil.copy(STUBS, target / "__init__.pyi")
    return python


def test_mypy_finds_the_stubs_and_flags_wrong_calls(installed_layout, tmp_path):
    result = run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         "--python-executable", str(installed_layout), "usage_ok.py", "usage_bad.py"],
        cwd=EXAMPLES,
    )
    flagged = set(re.findall(r"^(usage_\w+\.py):(\d+): error: .*\[([\w-]+)\]$", result.stdout, re.M))
    expected = set()
    for number, line in enumerate((EXAMPLES / "usage_bad.py").read_text().splitlines(), start=1):
        marker = re.search(r"  # E: ([\w-]+)$", line)
        if marker:
            expected.add(("usage_bad.py", str(number), marker.group(1)))
    assert "import-not-found" not in result.stdout, result.stdout
    assert flagged == expected, result.stdout
