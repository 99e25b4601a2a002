#!/usr/bin/env python3
"""Copies the current Windows release of a site made by kestrun-publish into a folder laid out
like an installation, for the offline setup program:

    stage_release.py SITE OUT

Each file of the manifest (SITE/current/windows.json) is copied from SITE/current/windows/,
checked against the manifest's size (and sha256 when it has one) and given the manifest's
modification time, so the launcher's first check finds every file current and downloads
nothing. Links are left to the launcher, which makes them from the manifest without a request.
The launcher itself is the setup program's own. OUT/update_installed.txt lists every path of
the manifest, as the launcher's record of what it installed does, so the uninstaller removes
them. Prints the release id; exits 1 with a message on anything unexpected."""

import hashlib
import json
import os
import shutil
import sys

LAUNCHER = "kestrun.exe"
RECORD = "update_installed.txt"


def fail(text):
    sys.stderr.write("stage_release: " + text + "\n")
    sys.exit(1)


def safe_relative(path):
    parts = path.split("/")
    return (path and not path.startswith("/") and ":" not in path and "\\" not in path
            and all(part not in ("", ".", "..") for part in parts)
            and not any(c in path for c in "\t\r\n"))


def sha256_of(file):
    digest = hashlib.sha256()
    with open(file, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    if len(sys.argv) != 3:
        fail("usage: stage_release.py SITE OUT")
    site, out = sys.argv[1], sys.argv[2]
    # Resolved once, so that a publish while packing cannot mix two releases.
    current = os.path.realpath(os.path.join(site, "current"))
    try:
        with open(os.path.join(current, "windows.json"), encoding="utf-8") as stream:
            manifest = json.load(stream)
    except (OSError, ValueError) as error:
        fail("no readable manifest at %s: %s" % (os.path.join(current, "windows.json"), error))
    if not isinstance(manifest, list):
        fail("the manifest is not a list of entries")

    paths = []
    for entry in manifest:
        # Rollout and health elements carry no path.
        if not isinstance(entry, dict) or "path" not in entry:
            continue
        path = entry["path"]
        if not isinstance(path, str) or not safe_relative(path):
            fail("refused manifest path %r" % (path,))
        paths.append(path)
        if "link" in entry or path.lower() == LAUNCHER:
            continue
        source = os.path.join(current, "windows", *path.split("/"))
        target = os.path.join(out, *path.split("/"))
        if os.path.islink(source) or not os.path.isfile(source):
            fail("%s: not a file in the site" % path)
        size, mtime = entry.get("size"), entry.get("mtime")
        if not isinstance(size, int) or not isinstance(mtime, int) or mtime < 0:
            fail("%s: the manifest gives no size or time" % path)
        if os.path.getsize(source) != size:
            fail("%s: its size is not the manifest's" % path)
        if "sha256" in entry and sha256_of(source) != entry["sha256"].lower():
            fail("%s: its sha256 is not the manifest's" % path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        os.utime(target, (mtime, mtime))

    with open(os.path.join(out, RECORD), "w", encoding="utf-8", newline="\n") as record:
        record.writelines(path + "\n" for path in paths)
    print(os.path.basename(current))


if __name__ == "__main__":
    main()
