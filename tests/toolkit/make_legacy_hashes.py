#!/usr/bin/env python3
"""Writes the recorded hashes of the earlier release's video workspace.

    make_legacy_hashes.py FIXTURE OUT.json

FIXTURE is the earlier workspace (tests/data/legacy-video-workspace); OUT.json becomes an
object of workspace-relative path ("/"-separated) to the lower-case hex SHA-256 of the file,
keys sorted, two-space indent, final line feed. Refuses links and anything but regular files
and folders, so the recorded set is exactly what an earlier release placed.
"""

import hashlib
import json
import os
import stat
import sys


def hashes(root):
    result = {}
    for parent, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(parent, name)
            mode = os.lstat(path).st_mode
            if stat.S_ISLNK(mode):
                raise SystemExit(f"link in the fixture: {path}")
            if name in files and not stat.S_ISREG(mode):
                raise SystemExit(f"not a regular file: {path}")
        for name in files:
            path = os.path.join(parent, name)
            relative = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, "rb") as source:
                result[relative] = hashlib.sha256(source.read()).hexdigest()
    return dict(sorted(result.items()))


def main(arguments):
    if len(arguments) != 2:
        sys.stderr.write("usage: make_legacy_hashes.py FIXTURE OUT.json\n")
        return 2
    root, out = arguments
    text = json.dumps(hashes(root), indent=2, ensure_ascii=False) + "\n"
    with open(out, "w", encoding="utf-8", newline="\n") as target:
        target.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
