#!/usr/bin/env python3
"""Builds a scale collection for the benchmark by replicating real messages.

Files are copied (not linked), each under a distinct name, into fanout x fanout
nested directories (100 by default; --fanout 1 puts every file in one directory),
so the run reads as many distinct bytes as a real collection would.
build_copies makes a collection of whole files the same way (Outlook data files,
which cannot be grown by repeating their parts without a writer of the format).
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


def build_copies(files, dest, megabytes):
    """Whole copies of the given files, a set to a directory (copy000/, copy001/,
    ...), as many sets as make at least `megabytes` MB. Returns the number of sets;
    kept between runs when the files and the size are the same."""
    if not files:
        sys.exit("no files to copy")
    marker = os.path.normpath(dest) + ".signature"
    signature = " ".join(f"{os.path.abspath(f)}:{os.path.getsize(f)}" for f in files)
    signature += f" {megabytes}\n"
    set_size = sum(os.path.getsize(f) for f in files)
    sets = max(1, -(-megabytes * 1024 * 1024 // set_size))
    if os.path.exists(marker) and open(marker).read() == signature:
        return sets
    if os.path.exists(dest):
        shutil.rmtree(dest)
    for n in range(sets):
        folder = os.path.join(dest, f"copy{n:03d}")
        os.makedirs(folder)
        for f in files:
            shutil.copyfile(f, os.path.join(folder, os.path.basename(f)))
    with open(marker, "w") as f:
        f.write(signature)
    return sets


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
