#!/usr/bin/env python3
"""Builds a scale collection for the benchmark by replicating real messages.

Files are copied (not linked), each under a distinct name, into fanout x fanout
nested directories (100 by default; --fanout 1 puts every file in one directory),
so the run reads as many distinct bytes as a real collection would.
"""
import argparse
import os
import shutil
import sys


def source_files(source):
    files = []
    for dirpath, _, names in os.walk(source):
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            if name.endswith(".md") or not os.path.isfile(path):
                continue
            files.append(path)
    files.sort()
    return files


def build(source, dest, count, fanout=10):
    files = source_files(source)
    if not files:
        sys.exit(f"no message files under {source}")
    # The marker lies beside the tree, so that the tree holds messages alone.
    marker = os.path.normpath(dest) + ".signature"
    signature = f"{os.path.abspath(source)} {count} {fanout}\n"
    if os.path.exists(marker) and open(marker).read() == signature:
        return
    if os.path.exists(dest):
        shutil.rmtree(dest)
    leaves = [os.path.join(dest, f"d{a:02d}", f"s{b:02d}") for a in range(fanout) for b in range(fanout)]
    for leaf in leaves:
        os.makedirs(leaf)
    for i in range(count):
        src = files[i % len(files)]
        leaf = leaves[i % len(leaves)]
        base = os.path.basename(src)
        shutil.copyfile(src, os.path.join(leaf, f"m{i:07d}_{base}"))
    with open(marker, "w") as f:
        f.write(signature)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--dest", required=True)
    parser.add_argument("--files", type=int, default=40000)
    parser.add_argument("--fanout", type=int, default=10)
    args = parser.parse_args()
    build(args.source, args.dest, args.files, args.fanout)


if __name__ == "__main__":
    main()
