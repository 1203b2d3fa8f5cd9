"""The extension's dynamic symbol table: only the module init function is
exported, so nothing of the statically linked core, libsodium or template
instantiations can bind to another copy in the same process."""

import subprocess

import _native


def test_extension_exports_only_its_init_function():
    out = subprocess.run(["nm", "-D", "--defined-only", _native.__file__],
                         capture_output=True, text=True, check=True).stdout
    exported = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert exported == ["PyInit__native"], f"{_native.__file__} exports {len(exported)} symbols: {exported[:20]}"
