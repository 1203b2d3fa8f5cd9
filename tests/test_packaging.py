"""The wheel build's own logic: which deb-src entries it adds to a host's apt
configuration, and the metadata it ships (licences, Python versions)."""

import re
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "packaging"))
import wheels  # noqa: E402
from deps import DEPS  # noqa: E402

KEY = "/usr/share/keyrings/debian-archive-keyring.gpg"
DEBIAN, SECURITY = "http://deb.debian.org/debian", "http://deb.debian.org/debian-security"
OLD_SECURITY = "http://security.debian.org/debian-security"


def stanza(uris, suites, key=KEY, types="deb"):
    return f"Types: {types}\nURIs: {uris}\nSuites: {suites}\nComponents: main\nSigned-By: {key}\n"


DEBIAN13 = stanza(DEBIAN, "trixie trixie-updates") + "\n" + stanza(SECURITY, "trixie-security")
NODESOURCE = stanza("https://deb.nodesource.com/node_20.x", "nodistro", "/usr/share/keyrings/nodesource.gpg")
DEBIAN12_LIST = f"""\
# deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb [signed-by={KEY}] {DEBIAN} bookworm main contrib
deb {OLD_SECURITY} bookworm-security main
"""
D13 = "sources.list.d/debian.sources"
# files -> the (URIs, Suites, Signed-By) stanzas expected, or None for "add nothing"
CASES = {
    "debian13-deb822": ({D13: DEBIAN13, "sources.list.d/node.sources": NODESOURCE},
                        [(DEBIAN, "trixie trixie-updates", KEY), (SECURITY, "trixie-security", KEY)]),
    "debian12-one-line": ({"sources.list": DEBIAN12_LIST},
                          [(DEBIAN, "bookworm", KEY), (OLD_SECURITY, "bookworm-security", None)]),
    "deb-src-already-there": ({D13: DEBIAN13.replace("Types: deb\n", "Types: deb deb-src\n", 1)}, None),
    "deb-src-one-line": ({"sources.list": DEBIAN12_LIST + f"deb-src {DEBIAN} bookworm main\n", D13: DEBIAN13}, None),
    "disabled-stanza-ignored": ({D13: stanza(DEBIAN, "trixie trixie-updates") + "\nEnabled: no\n"
                                 + stanza(SECURITY, "trixie-security", types="deb-src")},
                                [(DEBIAN, "trixie trixie-updates", KEY)]),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_deb_src_twins(tmp_path, case):
    files, expected = CASES[case]
    (tmp_path / "sources.list.d").mkdir()
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    text = wheels.deb_src_text(wheels.active_entries(tmp_path / "sources.list", tmp_path / "sources.list.d"))
    if expected is None:
        assert text is None
        return
    stanzas = [s for s in text.split("\n\n") if "Types:" in s]
    assert len(stanzas) == len(expected)
    for stanza, (uris, suites, key) in zip(stanzas, expected):
        lines = set(stanza.splitlines())
        want = {"Types: deb-src", f"URIs: {uris}", f"Suites: {suites}"}
        assert want <= lines
        assert any(l.startswith("Components: main") for l in lines)
        assert (f"Signed-By: {key}" in lines) if key else not any(l.startswith("Signed-By") for l in lines)


try:
    import tomllib
except ModuleNotFoundError:  # Python 3.10
    tomllib = None
needs_tomllib = pytest.mark.skipif(tomllib is None, reason="reading pyproject.toml needs Python 3.11")
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"] if tomllib else {}


@needs_tomllib
def test_licences_cover_what_the_wheels_bundle():
    expression = PROJECT["license"]
    terms = set(re.split(r"\s+AND\s+", expression))
    for dep in DEPS:
        assert dep.spdx in terms, f"{dep.name} ({dep.spdx}) missing from {expression!r}"
        assert (wheels.LICENSES / f"{dep.name}.{Path(dep.licence).name}").is_file()
    assert "Apache-2.0 WITH LLVM-exception" in terms  # libc++ / libc++abi
    shipped = {p for pattern in PROJECT["license-files"] for p in ROOT.glob(pattern)}
    assert {p for p in wheels.LICENSES.iterdir()} <= shipped
    assert {wheels.LICENSES / name for name in wheels.TOOLCHAIN_LICENCES} <= shipped


@needs_tomllib
def test_one_classifier_per_built_python():
    claimed = {c.rsplit(" ", 1)[1] for c in PROJECT["classifiers"]
               if re.fullmatch(r"Programming Language :: Python :: 3\.\d+", c)}
    assert claimed == set(wheels.SUPPORTED)
    floor = re.fullmatch(r">=\s*3\.(\d+)", PROJECT["requires-python"])
    assert floor and all(int(v.split(".")[1]) >= int(floor[1]) for v in claimed)
