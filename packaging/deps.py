"""The libraries the wheels carry, built from Debian's source packages.

Each entry pins the exact source version for every Debian release the build
runs on (`apt-get source NAME=VERSION` gets precisely that, signature-checked
by apt), says how to build it into the shared static prefix, and names the
licence file that ships in the wheel. Adding a library is one more entry, for
example GMP:

    Dep("gmp", "gmp", {"bookworm": "2:6.2.1+dfsg1-1.1", "trixie": "2:6.3.0+dfsg-3"},
        "autotools", ["--disable-shared", "--enable-static", "--with-pic", "--disable-assembly"],
        "(LGPL-3.0-or-later OR GPL-2.0-or-later)", "COPYING.LESSERv3"),

plus its licence text in packaging/licenses/ and its term in pyproject.toml's
licence expression (tests/test_packaging.py checks both). A static LGPL
library also obliges the wheel to let users relink it: weigh that first. The build compares each committed licence text with the one in
the source it fetched, so a pin that brings a changed licence stops the build.
"""

from dataclasses import dataclass, field


@dataclass(frozen=True)
class Dep:
    name: str             # as printed, and the directory under build/wheels
    source: str           # Debian source package
    versions: dict        # Debian release codename -> exact source version
    kind: str             # "autotools" or "cmake"
    args: list = field(default_factory=list)
    spdx: str = ""
    licence: str = ""     # path inside the source tree; shipped as licenses/<name>.<basename>


DEPS = [
    Dep("libsodium", "libsodium", {"bookworm": "1.0.18-1+deb12u1", "trixie": "1.0.18-1+deb13u1"},
        "autotools", ["--disable-shared", "--enable-static", "--with-pic", "--disable-dependency-tracking"],
        "ISC", "LICENSE"),
    Dep("oneTBB", "onetbb", {"bookworm": "2021.8.0-2+deb12u1", "trixie": "2022.1.0-1+deb13u1"},
        "cmake", ["-DBUILD_SHARED_LIBS=OFF", "-DTBB_TEST=OFF", "-DTBB_EXAMPLES=OFF", "-DTBB_STRICT=OFF",
                  "-DTBBMALLOC_BUILD=OFF", "-DTBB_DISABLE_HWLOC_AUTOMATIC_SEARCH=ON"],
        "Apache-2.0", "LICENSE.txt"),
    Dep("nlohmann_json", "nlohmann-json3", {"bookworm": "3.11.2-2", "trixie": "3.11.3-2.1"},
        "cmake", ["-DJSON_BuildTests=OFF", "-DJSON_Install=ON"],
        "MIT", "LICENSE.MIT"),
]
