#!/usr/bin/env python3
"""Makes the QGIS plugin's ZIP, as QGIS's "Install from ZIP" and its plugin repository take it:
one folder, crvanchor/, with the Python package, its help, icon and compiled translations, and
the core library of each platform given under libs/<platform>/.

    make_plugin_zip.py --out crvanchor-1.0.zip --package qgis/python/crvanchor --version 1.0
                       --qm build/.../crvanchor_de.qm --core linux-x86_64=build/libcrvanchor_core.so
                       [--core windows-x86_64=build-win/crvanchor_core.dll]
                       [--strip linux-x86_64=strip --strip windows-x86_64=x86_64-w64-mingw32-strip]

A core given with a strip tool goes in without its debugging data: a Debug build's core is ten
times the size of the code a user runs.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

# What the package folder holds that goes into the plugin; sources of translations stay out.
PACKAGE_FILES = (".py", ".txt", ".svg", ".html")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--qm", nargs="*", default=[])
    parser.add_argument("--core", action="append", default=[], metavar="PLATFORM=PATH")
    parser.add_argument("--strip", action="append", default=[], metavar="PLATFORM=TOOL")
    a = parser.parse_args()
    strip = dict(s.partition("=")[::2] for s in a.strip)
    scratch = tempfile.mkdtemp(prefix="crvanchor-zip-")
    metadata = open(os.path.join(a.package, "metadata.txt"), encoding="utf-8").read()
    if "\nversion=%s\n" % a.version not in metadata:
        sys.exit("make_plugin_zip.py: metadata.txt does not say version=%s" % a.version)
    entries = []
    for folder, dirs, files in os.walk(a.package):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for f in sorted(files):
            if f.endswith(PACKAGE_FILES):
                path = os.path.join(folder, f)
                entries.append((path, os.path.relpath(path, a.package)))
    entries += [(qm, os.path.join("i18n", os.path.basename(qm))) for qm in a.qm]
    for given in a.core:
        platform, _, path = given.partition("=")
        if not os.path.isfile(path):
            sys.exit("make_plugin_zip.py: the core for %s, %s, is missing" % (platform, path))
        name = os.path.basename(path)
        if strip.get(platform):
            os.makedirs(os.path.join(scratch, platform))
            stripped = os.path.join(scratch, platform, name)
            subprocess.run([strip[platform], "--strip-debug", "-o", stripped, path], check=True)
            path = stripped
        entries.append((path, os.path.join("libs", platform, name)))
    temporary = a.out + ".part"
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as z:
        for path, name in entries:
            info = zipfile.ZipInfo.from_file(path, "crvanchor/" + name.replace(os.sep, "/"))
            # The same bytes from the same sources, whenever it is made.
            info.date_time = (2026, 1, 1, 0, 0, 0)
            with open(path, "rb") as f:
                z.writestr(info, f.read(), zipfile.ZIP_DEFLATED)
    os.replace(temporary, a.out)
    shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
