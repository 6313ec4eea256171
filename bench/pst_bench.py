"""The Outlook data file rows of the benchmark (run_bench.py --pst, --memory).

A PST cannot be grown by repeating its blocks: its indexes name every block by its
place. So the collection is whole copies of the shared PST and OST files, a set
to a directory, up to --pst-mb megabytes (BENCH_PST_MB, 200 by default), in
rounds of
  (pa) readall DIR                      the read floor
  (p0) mailsift -p DIR -o OUT           each file as one record, as without --PST
  (p1) mailsift -p DIR -o OUT --PST     one record per message
  (p2) the same with --SCANNERS=1       every file on the walk's thread
  (rp) readpst -r -o DIR/N FILE         for each file, one after another: the
                                        conversion alone
  (rm) (rp), then mailsift -p DIR --MBOX on its output: the way a reviewer lists
                                        Outlook files without --PST
warm and, as root, cold; then the same rows over one generated PST of as many
megabytes, whose messages and attachments are those of a mailbox in use.
--memory gives the peak resident memory of --PST over the largest file and over
the whole collection, and of readpst on that file; then over one generated PST of
--pst-big-mb megabytes (BENCH_PST_BIG_MB, 1024 by default), with the time of that
listing, warm, and whether it listed every message written. A generated PST is
written by bench/make_pst.py from the messages of ../shared/corpus, kept in the
work folder and made again only when its size or the generator's version changed.

The rows are skipped, with a line saying why, where ../shared/pst, readpst or
../shared/corpus is missing or the built mailsift has no --PST.
"""
import json
import os
import shlex
import shutil
import subprocess
import time

import make_pst
from make_collection import build_copies
from run_bench import (cold_cache_unavailable, drop_page_cache, mailsift_options, median_of,
                       peak_rss_kb, print_table, timed, timed_rounds, tree_size)

OUTLOOK_SUFFIXES = (".pst", ".ost")


def outlook_files(source):
    if not os.path.isdir(source):
        return []
    return sorted(os.path.join(source, name) for name in os.listdir(source)
                  if name.lower().endswith(OUTLOOK_SUFFIXES)
                  and os.path.isfile(os.path.join(source, name)))


def lists_outlook_messages(mailsift, sample, work):
    """Whether this build of mailsift knows --PST: its header line then names the
    Folder column."""
    out = os.path.join(work, "pst-probe.txt")
    folder, name = os.path.split(sample)
    subprocess.run([mailsift, "-.ini", "-p", folder, "-f", name, "-r", "--PST", "-o", out],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.exists(out):
        return False
    with open(out, encoding="utf-8", errors="replace") as f:
        return "Folder" in f.readline().rstrip("\n").split("|")


def why_no_pst_rows(source, files, mailsift, work):
    """Why the rows cannot run here; None when they can."""
    if not files:
        return f"no PST or OST files at {source}"
    if shutil.which("readpst") is None:
        return "readpst is not installed (Debian package pst-utils)"
    if not lists_outlook_messages(mailsift, files[0], work):
        return "the built mailsift has no --PST (its listing names no Folder column)"
    return None


def prepare_collection(args, mailsift, source, rows):
    """The collection's folder, its number of sets and its files; None, after a
    line naming `rows` and why, when they cannot run here."""
    files = outlook_files(source)
    why_not = why_no_pst_rows(source, files, mailsift, args.work)
    if why_not:
        print(f"{rows} skipped: {why_not}")
        return None
    dest = os.path.join(args.work, f"pst-{args.pst_mb}mb")
    sets = build_copies(files, dest, args.pst_mb)
    copies = sorted(os.path.join(dirpath, name) for dirpath, _, names in os.walk(dest)
                    for name in names)
    return dest, sets, copies


def conversion_script(path, copies):
    """A shell script that converts every copy with readpst into a directory of its
    own below $1, one after another, as a reviewer's loop would. readpst 0.6.76
    now and then ends with status 11 on a file it converts on every other run (one
    of its worker processes dies): such a file is converted again, from nothing,
    and standard error says so; the time of both runs counts."""
    q = shlex.quote
    with open(path, "w") as f:
        f.write("set -e\n")
        f.write('convert() { rm -rf "$1" && mkdir -p "$1" && readpst -q -r -o "$1" "$2" > /dev/null; }\n')
        for n, copy in enumerate(copies):
            f.write(f'convert "$1/{n:04d}" {q(copy)} || {{ echo "readpst failed on {copy}'
                    f' (status $?): converted again" >&2; convert "$1/{n:04d}" {q(copy)}; }}\n')


def records_in(listing):
    """Records of a delimited listing: each begins with a line end."""
    with open(listing, "rb") as f:
        return f.read().count(b"\n")


def pst_benchmark(args, mailsift, readall, source):
    collection = prepare_collection(args, mailsift, source, "PST rows")
    if not collection:
        return
    dest, sets, copies = collection
    count, size = tree_size(dest)
    print(f"Outlook files: {dest}: {sets} copies of the {count // sets} files of {source}, "
          f"{size / 1e6:.1f} MB")
    outlook_rows(args, mailsift, readall, dest, copies, "Outlook files")
    # The shared files hold few and small messages; a generated PST of the same size
    # holds the messages and attachments of a mailbox in use.
    corpus = shared_corpus()
    if not corpus:
        return
    path, _ = generated_pst(args, corpus, args.pst_mb)
    outlook_rows(args, mailsift, readall, os.path.dirname(path), [path], "Generated PST")


def outlook_rows(args, mailsift, readall, dest, copies, title):
    """The rows over the Outlook files `copies` in the folder `dest`, warm and cold."""
    count, size = tree_size(dest)
    q = shlex.quote
    own = mailsift_options(args)
    script = os.path.join(args.work, "pst-convert.sh")
    conversion_script(script, copies)

    def listing(key):
        return os.path.join(args.work, f"listing-{key}.txt")

    def errors(key):  # what a failed run said, named when it fails
        return os.path.join(args.work, f"errors-{key}.txt")

    def mailsift_run(key, extra=""):
        return f"{q(mailsift)} -.ini -p {q(dest)} -o {q(listing(key))}{extra}{own} 2> /dev/null"

    converted = {key: os.path.join(args.work, f"readpst-{key}") for key in ("rp", "rm")}
    commands = [
        ("pa", "readall", f"{q(readall)} {q(dest)} > /dev/null"),
        ("p0", "mailsift -o", mailsift_run("p0")),
        ("p1", "mailsift --PST", mailsift_run("p1", " --PST")),
        ("p2", "--PST --SCANNERS=1", mailsift_run("p2", " --PST --SCANNERS=1")),
        ("rp", "readpst -r", f"sh {q(script)} {q(converted['rp'])} 2> {q(errors('rp'))}"),
        ("rm", "readpst + --MBOX",
         f"sh {q(script)} {q(converted['rm'])} 2> {q(errors('rm'))} && {q(mailsift)} -.ini "
         f"-p {q(converted['rm'])} -o {q(listing('rm'))} --MBOX{own} 2>> {q(errors('rm'))}"),
    ]
    # Each conversion starts from nothing, as a reviewer's would; the removal of the
    # last one is not timed.
    prepare = {key: f"rm -rf {q(folder)}" for key, folder in converted.items()}
    for _ in range(2):  # warm the page cache
        timed(commands[0][2])
    warm = timed_rounds(commands, args.repeat, before_each=None, prepare=prepare)
    print_table(f"{title}, warm cache", commands, warm, count, size, "pa")
    print(f"records: --PST {records_in(listing('p1'))}, readpst + --MBOX "
          f"{records_in(listing('rm'))} (every mbox readpst writes, with its calendar and "
          f"contact files)")
    print_pst_targets(f"{title}, warm", warm)
    why_not_cold = cold_cache_unavailable(args)
    if why_not_cold:
        print(f"cold rounds skipped: {why_not_cold}")
        return
    cold = timed_rounds(commands, args.cold_repeat, before_each=drop_page_cache, prepare=prepare)
    print_table(f"{title}, cold cache (page cache dropped before each run)", commands, cold,
                count, size, "pa")
    print_pst_targets(f"{title}, cold", cold)


def cpu_seconds(samples, key):
    return median_of(samples, key, 1) + median_of(samples, key, 2)


def print_pst_targets(title, samples):
    p1 = median_of(samples, "p1")
    print(f"targets, {title}: (p1)/(rm) = {p1 / median_of(samples, 'rm'):.3f} (<= 0.5); "
          f"(p1)/(rp) = {p1 / median_of(samples, 'rp'):.3f} (readpst alone); "
          f"(p2)/(rm) = {median_of(samples, 'p2') / median_of(samples, 'rm'):.3f} (one scanner)")
    # On a shared machine the processor time is the steadier figure.
    print(f"processor time (user + system), {title}: (p1)/(rm) = "
          f"{cpu_seconds(samples, 'p1') / cpu_seconds(samples, 'rm'):.3f}; (p1)/(rp) = "
          f"{cpu_seconds(samples, 'p1') / cpu_seconds(samples, 'rp'):.3f}")


def pst_memory(args, mailsift, source):
    shared_pst_memory(args, mailsift, source)
    generated_pst_memory(args, mailsift)


def shared_pst_memory(args, mailsift, source):
    collection = prepare_collection(args, mailsift, source, "PST memory rows")
    if not collection:
        return
    dest, _, copies = collection
    largest = max(copies, key=lambda path: (os.path.getsize(path), path))
    folder, name = os.path.split(largest)
    q = shlex.quote
    own = mailsift_options(args)
    out = os.path.join(args.work, "listing-pst-memory.txt")
    converted = os.path.join(args.work, "readpst-memory")
    shutil.rmtree(converted, ignore_errors=True)
    os.makedirs(converted)
    rows = (
        (f"--PST, the largest file ({name}, {os.path.getsize(largest) / 1e6:.1f} MB)",
         f"{q(mailsift)} -.ini -p {q(folder)} -f {q(name)} -r -o {q(out)} --PST{own} 2> /dev/null"),
        (f"--PST, the whole collection ({len(copies)} files)",
         f"{q(mailsift)} -.ini -p {q(dest)} -o {q(out)} --PST{own} 2> /dev/null"),
        (f"readpst -r, the largest file",
         f"readpst -q -r -o {q(converted)} {q(largest)} > /dev/null 2>&1"),
    )
    for title, cmd in rows:
        rss = peak_rss_kb(cmd)
        print(f"{title}: peak resident memory {rss} KB ({rss / 1024:.1f} MB)")


def generated_pst(args, corpus, megabytes):
    """A generated PST of `megabytes` alone in a folder of the work folder, and what
    make_pst wrote into it, made unless it is there already by this generator."""
    folder = os.path.join(args.work, f"generated-{megabytes}mb")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "generated.pst")
    # The facts stay outside the folder that the timed rows read.
    kept_facts = os.path.join(args.work, f"generated-{megabytes}mb.facts")
    try:
        with open(kept_facts) as f:
            facts = json.load(f)
        if (facts["version"] == make_pst.VERSION and facts["megabytes"] == megabytes
                and facts["bytes"] == os.path.getsize(path)):
            print(f"generated PST: {path}, {facts['messages']} messages (kept from an earlier run)")
            return path, facts
    except (OSError, ValueError, KeyError):
        pass
    start = time.perf_counter()
    facts = make_pst.generate(path, megabytes, 1, corpus, say=lambda line: None)
    os.replace(path + ".facts", kept_facts)
    print(f"generated PST: {path}, {facts['bytes'] / 1e6:.1f} MB, {facts['messages']} messages, "
          f"{time.perf_counter() - start:.1f} s")
    return path, facts


def shared_corpus():
    """The messages a PST is generated from; None, after a line, where they are missing."""
    corpus = os.path.normpath(os.path.join(make_pst.ROOT_DIR, "..", "shared", "corpus"))
    if not os.path.isdir(corpus):
        print(f"generated PST rows skipped: no messages to write one from at {corpus}")
        return None
    return corpus


def generated_pst_memory(args, mailsift):
    corpus = shared_corpus()
    if not corpus:
        return
    path, facts = generated_pst(args, corpus, args.pst_big_mb)
    if not lists_outlook_messages(mailsift, path, args.work):
        print("generated PST row skipped: the built mailsift has no --PST "
              "(its listing names no Folder column)")
        return
    folder, name = os.path.split(path)
    q = shlex.quote
    out = os.path.join(args.work, "listing-pst-generated.txt")
    cmd = (f"{q(mailsift)} -.ini -p {q(folder)} -f {q(name)} -r -o {q(out)} --PST"
           f"{mailsift_options(args)} 2> /dev/null")
    rss = peak_rss_kb(cmd)  # also warms the page cache for the timed run
    elapsed = timed(cmd)[0]
    listed = records_in(out)
    print(f"--PST, the generated {facts['bytes'] / 1e6:.0f} MB PST ({facts['messages']} "
          f"messages): peak resident memory {rss} KB ({rss / 1024:.1f} MB) (<= 64 MB), "
          f"{elapsed:.2f} s warm")
    print(f"messages listed: {listed} of the {facts['messages']} written"
          f"{'' if listed == facts['messages'] else ' (they differ)'}")
    if shutil.which("readpst") is None:
        print("readpst -r on the generated PST skipped: readpst is not installed")
        return
    converted = os.path.join(args.work, "readpst-generated")
    shutil.rmtree(converted, ignore_errors=True)
    os.makedirs(converted)
    rss = peak_rss_kb(f"readpst -q -D -r -o {q(converted)} {q(path)} > /dev/null 2>&1")
    shutil.rmtree(converted, ignore_errors=True)
    print(f"readpst -D -r, the generated PST: peak resident memory {rss} KB "
          f"({rss / 1024:.1f} MB)")
