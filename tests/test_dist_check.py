"""tools/dist_check.py, the check of the wheel's module, on small shared objects
built here: it passes a module linked the way ours is, and refuses extra
exports, a shared C++ runtime and a glibc need above the tag, naming the
symbol that pins it."""
import importlib.util
import os
import shutil
import subprocess

import pytest

from helpers.data import ROOT

pytestmark = [
    pytest.mark.skipif(not all(shutil.which(tool) for tool in ("g++", "readelf", "nm", "objdump")),
                       reason="needs g++ and binutils"),
    pytest.mark.skipif(os.environ.get("TARNWICK_SANITIZED") == "1",
                       reason="the compiler would run with the sanitizer preloaded"),
]

EXPORTS = f"-Wl,--version-script={ROOT / 'src' / 'portable' / 'exports.map'}"
# How CMakeLists.txt links the module.
PORTABLE = ["-fvisibility=hidden", "-static-libstdc++", "-static-libgcc", "-Wl,--gc-sections",
            EXPORTS, str(ROOT / "src" / "portable" / "glibc_stand_ins.cpp")]
MODULE = """
#include <string>
extern "C" __attribute__((visibility("default"))) long PyInit_tarnwick() {
    static std::string text(40, 'x');
    return static_cast<long>(std::to_string(text.size()).size());
}
int helper() { return 1; }
"""


@pytest.fixture(scope="module")
def checker():
    found = importlib.util.spec_from_file_location("dist_check", ROOT / "tools" / "dist_check.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def shared_object(tmp_path, source, *flags):
    path = tmp_path / "module.cpp"
    path.write_text(source)
    so = tmp_path / f"module{len(list(tmp_path.iterdir()))}.so"
    subprocess.run(["g++", "-std=c++23", "-shared", "-fPIC", "-O1", "-o", str(so), str(path), *flags],
                   check=True, capture_output=True)
    return str(so)


def test_passes_a_module_linked_like_ours(tmp_path, checker):
    so = shared_object(tmp_path, MODULE, *PORTABLE)
    tag = checker.manylinux_tag(so)
    checker.check_module(so, tag)
    needs = checker.glibc_versions(so)
    assert tag == "manylinux_{}_{}_x86_64".format(*max(checker.version_key(v) for v in needs)[:2])
    with pytest.raises(SystemExit, match=r"\(needed by \['memcpy'\]\) is above manylinux_2_5_x86_64"):
        checker.check_module(so, "manylinux_2_5_x86_64")


def test_refuses_extra_exports_and_a_shared_cpp_runtime(tmp_path, checker):
    exported = shared_object(tmp_path, MODULE)
    with pytest.raises(SystemExit, match=r"exports \[.*helper"):
        checker.check_module(exported, checker.manylinux_tag(exported))
    shared_runtime = shared_object(tmp_path, MODULE, "-fvisibility=hidden", EXPORTS)
    with pytest.raises(SystemExit, match="libraries outside glibc: .*libstdc"):
        checker.check_module(shared_runtime, checker.manylinux_tag(shared_runtime))


def test_names_the_symbol_that_needs_a_newer_glibc(tmp_path, checker):
    source = MODULE + """
#include <stdlib.h>
extern "C" __attribute__((visibility("default"))) unsigned random_word() { return arc4random(); }
"""
    so = shared_object(tmp_path, source, *PORTABLE)  # the script keeps random_word local
    with pytest.raises(SystemExit, match=r"GLIBC_2\.36 \(needed by \['arc4random'\]\)"):
        checker.check_module(so, checker.manylinux_tag(so))
