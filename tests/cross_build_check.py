#!/usr/bin/env python3
"""Compares the decoded records of the Linux and the Windows build on a collection.

Usage: cross_build_check.py NATIVE WINE WINDOWS_EXE COLLECTION

Both builds list COLLECTION with --MBOX --UTF --JSON --MSGID --SENT-UTC --SHA2, the
Windows one under wine; every record (a file, or a mailbox's message) must be the
same in both but for the file's name and its local modification time. Exits 0 when
they agree, 1 with the differences, 77 (skipped) without the native build or the
collection.
"""
import json
import os
import subprocess
import sys
import tempfile

OPTIONS = ["-.ini", "--recurse", "--MBOX", "--UTF", "--JSON", "--MSGID", "--SENT-UTC", "--SHA2"]


def records(lines, drive):
    out = {}
    for line in lines:
        if not line.strip():
            continue
        record = json.loads(line)
        name = record.pop("file")
        record.pop("modified", None)
        if drive:
            name = name[2:].replace("\\", "/") if name[1:2] == ":" else name
        out[(name, record.get("message", 1))] = record
    return out


def main():
    native, wine, exe, collection = sys.argv[1:5]
    for needed in (native, collection):
        if not os.path.exists(needed):
            print(f"no {needed}: nothing to compare")
            return 77
    collection = os.path.abspath(collection)
    with tempfile.TemporaryDirectory() as work:
        linux_out = os.path.join(work, "linux.jsonl")
        windows_out = os.path.join(work, "windows.jsonl")
        env = dict(os.environ, TZ="UTC", WINEDEBUG="-all")
        subprocess.run([native, collection, *OPTIONS, "-o", linux_out], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Wine's drive Z: is the root of the file system.
        to_windows = lambda path: "Z:" + path.replace("/", "\\")
        subprocess.run([wine, exe, to_windows(collection), *OPTIONS, "-o", to_windows(windows_out)],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(linux_out, encoding="utf-8") as f:
            linux = records(f.read().split("\n"), False)
        with open(windows_out, encoding="utf-8") as f:
            windows = records(f.read().replace("\r\n", "\n").split("\n"), True)
    faults = []
    for key in sorted(set(linux) | set(windows)):
        if key not in linux or key not in windows:
            faults.append(f"{key}: listed by {'Linux' if key in linux else 'Windows'} only")
            continue
        for member, value in linux[key].items():
            if windows[key].get(member) != value:
                faults.append(f"{key} {member}: Linux {value!r}, Windows {windows[key].get(member)!r}")
    same = sum(1 for key in linux if key in windows and linux[key] == windows[key])
    print(f"{same} of {len(linux)} records the same on both builds")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
