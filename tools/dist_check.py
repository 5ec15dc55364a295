"""Checks of the built distributions, and the wheel's manylinux tag.

    dist_check.py tag WHEEL      print the manylinux tag the module's glibc
                                 symbol versions allow
    dist_check.py wheel WHEEL    check the wheel: tag, files, metadata, and the
                                 module's exported symbols and version needs
    dist_check.py sdist SDIST    check the sdist's files and metadata

The module must load on glibc 2.28: a version need above that fails the check
and names the symbols that pin it.
"""

import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from email.parser import HeaderParser
from pathlib import Path

MODULE = "tarnwick.abi3.so"
# The pure-Python package beside the module, shipped whole in both
# distributions: every file of its folder in the repository.
PACKAGE = "tarnwick_dask"
# What the extra tarnwick[dask] installs.
DASK_EXTRA = {"dask", "distributed", "pyarrow"}
GOAL = (2, 28)
# Libraries every manylinux system has; anything else would have to be bundled.
SYSTEM_LIBRARIES = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1",
                    "ld-linux-x86-64.so.2"}
CLASSIFIER_KINDS = ("Development Status ::", "Intended Audience ::", "Topic ::", "Typing :: Typed")


def fail(message):
    sys.exit(f"dist_check: {message}")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def version_key(name):
    return tuple(int(part) for part in name.split("_", 1)[1].split("."))


def version_needs(so):
    """{library: [version names]} from the module's version-needs section."""
    needs, library = {}, None
    for line in run("readelf", "-V", "-W", so).splitlines():
        if m := re.search(r"File: (\S+)", line):
            library = m.group(1)
            needs.setdefault(library, [])
        elif (m := re.search(r"Name: (\S+)", line)) and library is not None:
            needs[library].append(m.group(1))
    return needs


def symbols_needing(so, version):
    """The undefined dynamic symbols bound to one version (for messages)."""
    found = []
    for line in run("objdump", "-T", "-W", so).splitlines():
        if "*UND*" in line and (m := re.search(r"\(?" + re.escape(version) + r"\)?\s+(\S+)$", line)):
            found.append(m.group(1))
    return found


def glibc_versions(so):
    return [v for names in version_needs(so).values() for v in names if v.startswith("GLIBC_")]


def manylinux_tag(so):
    major, minor = max(version_key(v) for v in glibc_versions(so))[:2]
    return f"manylinux_{major}_{minor}_x86_64"


def extracted_module(wheel, directory):
    with zipfile.ZipFile(wheel) as archive:
        return archive.extract(MODULE, directory)


def check_module(so, tag):
    exported = run("nm", "-D", "--defined-only", so).split()[2::3]
    if exported != ["PyInit_tarnwick"]:
        fail(f"the module exports {exported}, not PyInit_tarnwick alone")
    needs = version_needs(so)
    libraries = set(re.findall(r"\(NEEDED\).*\[(.+)\]", run("readelf", "-d", "-W", so)))
    if unexpected := (libraries | set(needs)) - SYSTEM_LIBRARIES:
        fail(f"the module needs libraries outside glibc: {sorted(unexpected)}")
    others = [v for names in needs.values() for v in names if not re.fullmatch(r"GLIBC_[\d.]+", v)]
    if others:
        fail(f"the module needs versions other than glibc's: {others} "
             f"(symbols: {[s for v in others for s in symbols_needing(so, v)]})")
    ceiling = tuple(int(x) for x in tag.split("_")[1:3])
    for version in sorted(set(glibc_versions(so)), key=version_key):
        if version_key(version) > ceiling or version_key(version)[:2] > GOAL:
            fail(f"{version} (needed by {symbols_needing(so, version)}) is above "
                 f"{tag} or the goal glibc {GOAL[0]}.{GOAL[1]}")
    if manylinux_tag(so) != tag:
        fail(f"the wheel is tagged {tag}, but its module allows {manylinux_tag(so)}")


def package_files():
    root = Path(PACKAGE)
    return {p.as_posix() for p in root.rglob("*") if p.is_file() and "__pycache__" not in p.parts}


def check_extra(metadata, where):
    if "dask" not in (metadata.get_all("Provides-Extra") or []):
        fail(f"{where}: no extra 'dask'")
    required = {re.split(r"[ ><=;\[]", r, maxsplit=1)[0] for r in metadata.get_all("Requires-Dist") or []
                if 'extra == "dask"' in r}
    if required != DASK_EXTRA:
        fail(f"{where}: the extra 'dask' requires {sorted(required)}, not {sorted(DASK_EXTRA)}")
    if unconditional := [r for r in metadata.get_all("Requires-Dist") or [] if "extra ==" not in r]:
        fail(f"{where}: tarnwick itself requires {unconditional}")


def check_metadata(text, where):
    metadata = HeaderParser().parsestr(text)
    if tuple(int(x) for x in metadata["Metadata-Version"].split(".")) < (2, 4):
        fail(f"{where}: metadata version {metadata['Metadata-Version']} predates license expressions")
    if metadata["License-Expression"] != "MIT" or metadata.get_all("License-File") != ["LICENSE"]:
        fail(f"{where}: license metadata is {metadata['License-Expression']!r}, "
             f"files {metadata.get_all('License-File')}")
    if metadata["License"] is not None:
        fail(f"{where}: the legacy License field is present")
    classifiers = metadata.get_all("Classifier") or []
    if any(c.startswith("License ::") for c in classifiers):
        fail(f"{where}: a license classifier besides the license expression")
    for kind in CLASSIFIER_KINDS:
        if not any(c.startswith(kind) for c in classifiers):
            fail(f"{where}: no classifier {kind!r}")
    check_extra(metadata, where)
    return metadata


def check_wheel(wheel):
    name = Path(wheel).name
    m = re.fullmatch(r"tarnwick-([^-]+)-cp314-abi3-(manylinux_\d+_\d+_x86_64)\.whl", name)
    if not m:
        fail(f"{name} is not a cp314-abi3 manylinux wheel")
    version, tag = m.groups()
    info = f"tarnwick-{version}.dist-info"
    with zipfile.ZipFile(wheel) as archive:
        files = set(archive.namelist())
        expected = {MODULE, "tarnwick-stubs/__init__.pyi", f"{info}/licenses/LICENSE",
                    f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD"} | package_files()
        if missing := expected - files:
            fail(f"{name} lacks {sorted(missing)}")
        if extra := {f for f in files - expected if not f.startswith(info + "/")}:
            fail(f"{name} holds unexpected files {sorted(extra)}")
        wheel_file = HeaderParser().parsestr(archive.read(f"{info}/WHEEL").decode())
        if wheel_file.get_all("Tag") != [f"cp314-abi3-{tag}"] or wheel_file["Root-Is-Purelib"] != "false":
            fail(f"{name}: WHEEL says tags {wheel_file.get_all('Tag')}, "
                 f"purelib {wheel_file['Root-Is-Purelib']}")
        check_metadata(archive.read(f"{info}/METADATA").decode(), name)
        if archive.read(f"{info}/licenses/LICENSE") != Path("LICENSE").read_bytes():
            fail(f"{name}: its LICENSE differs from the repository's")
    with tempfile.TemporaryDirectory() as directory:
        check_module(extracted_module(wheel, directory), tag)
    print(f"{name}: {tag}; exports PyInit_tarnwick alone; no C++ runtime versions; "
          f"license and classifiers in place; {PACKAGE} with its {len(package_files())} files")


def check_sdist(sdist):
    name = Path(sdist).name
    top = name.removesuffix(".tar.gz")
    with tarfile.open(sdist) as archive:
        files = set(archive.getnames())
        for needed in ("LICENSE", "PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md",
                       "stubs/tarnwick-stubs/__init__.pyi", "src/portable/exports.map", *sorted(package_files())):
            if f"{top}/{needed}" not in files:
                fail(f"{name} lacks {needed}")
        if any("/build/" in f or f.endswith(".so") for f in files):
            fail(f"{name} holds build output")
        check_metadata(archive.extractfile(f"{top}/PKG-INFO").read().decode(), name)
    print(f"{name}: LICENSE, sources and license metadata in place")


def main(argv):
    if len(argv) != 3 or argv[1] not in ("tag", "wheel", "sdist"):
        fail(__doc__)
    what, path = argv[1], argv[2]
    if what == "tag":
        with tempfile.TemporaryDirectory() as directory:
            print(manylinux_tag(extracted_module(path, directory)))
    elif what == "wheel":
        check_wheel(path)
    else:
        check_sdist(path)


if __name__ == "__main__":
    main(sys.argv)
