#!/usr/bin/env python3
"""Builds the Debian package into a temporary folder, unpacks it there (nothing is installed
on this machine) and tries what it holds: the unpacked programs run, the desktop entry is
valid and its icon is in the package, the dependencies name the libraries the programs
link, and nothing but the two programs lands in bin.

usage: check_deb.py CPACK CPACK_CONFIG VERSION
"""

import configparser
import glob
import os
import struct
import subprocess
import sys
import tempfile


def fail(message):
    print("check_deb: " + message, file=sys.stderr)
    sys.exit(1)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def main():
    cpack, config, version = sys.argv[1:4]
    with tempfile.TemporaryDirectory(prefix="vq-deb-") as temp:
        built = run([cpack, "--config", config, "-B", temp])
        debs = glob.glob(os.path.join(temp, "*.deb"))
        if built.returncode != 0 or len(debs) != 1:
            fail("cpack made no package:\n" + built.stdout + built.stderr)
        deb = debs[0]
        root = os.path.join(temp, "root")
        if run(["dpkg-deb", "-x", deb, root]).returncode != 0:
            fail("dpkg-deb -x failed")
        fields = {name: run(["dpkg-deb", "-f", deb, name]).stdout.strip()
                  for name in ("Package", "Version", "Depends")}

        if fields["Package"] != "velmoraquillet" or fields["Version"] != version:
            fail("package %s %s" % (fields["Package"], fields["Version"]))
        depends = fields["Depends"]
        for library in ("libqt6widgets6", "libcurl4", "libssl3", "libxlsxwriter",
                        "libboost-regex", "qt6-qpa-plugins"):
            if library not in depends:
                fail("Depends lacks %s: %s" % (library, depends))

        bin_dir = os.path.join(root, "usr", "bin")
        programs = sorted(os.listdir(bin_dir))
        if programs != ["velmoraquillet", "vq"]:
            fail("usr/bin holds %s" % programs)
        shown = run([os.path.join(bin_dir, "vq"), "--version"])
        if shown.returncode != 0 or shown.stdout != "vq (VelmoraQuillet) %s\n" % version:
            fail("unpacked vq --version: %d %r %r" % (shown.returncode, shown.stdout, shown.stderr))
        window = run([os.path.join(bin_dir, "velmoraquillet"), "--help"],
                     env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if window.returncode != 0 or "--home" not in window.stdout:
            fail("unpacked velmoraquillet --help: %d %r" % (window.returncode, window.stderr))

        share = os.path.join(root, "usr", "share")
        if not os.path.isfile(os.path.join(share, "doc", "velmoraquillet", "README.md")):
            fail("no README")
        entry = os.path.join(share, "applications", "velmoraquillet.desktop")
        checked = run(["desktop-file-validate", entry])
        if checked.returncode != 0 or "error" in checked.stdout or "warning" in checked.stdout:
            fail("desktop-file-validate:\n" + checked.stdout + checked.stderr)
        parser = configparser.RawConfigParser()
        parser.optionxform = str
        parser.read(entry, encoding="utf-8")
        desktop = parser["Desktop Entry"]
        if desktop["Exec"].split()[0] not in programs:
            fail("Exec names %s" % desktop["Exec"])
        if all(ord(c) < 0x4e00 for c in desktop.get("Comment", "")):
            fail("the Comment is not Chinese")
        icons = glob.glob(os.path.join(share, "icons", "hicolor", "*", "apps", desktop["Icon"] + ".png"))
        sizes = {png_size(icon) for icon in icons}
        if (256, 256) not in sizes or None in sizes:
            fail("icon %s: %s" % (desktop["Icon"], sizes))
        for icon in icons:
            folder = os.path.basename(os.path.dirname(os.path.dirname(icon)))
            if folder != "%dx%d" % png_size(icon):
                fail("%s is %s" % (icon, png_size(icon)))


if __name__ == "__main__":
    main()
