#!/usr/bin/env python3
"""Times a full run of mailsift against the physical floor of reading the same bytes.

Builds a release binary, bench/readall and bench/syswork, generates a scale
collection outside the source tree, warms the page cache, then times
interleaved, repeated runs of:
  (a) readall TREE            one process reading every file once into one buffer
  (b) find TREE -type f       the walk alone
  (c) mailsift -p TREE -o OUT
  (d) mailsift -p TREE -o OUT -d ,
  (e) grep -r -i -c '^Subject:' TREE | cat > /dev/null   a full-scan reference
  (f) syswork TREE OUT        the system work of a full run and one pass over the
                              bytes, without the scan's lines, rules and records
  (s2) mailsift -p TREE -o OUT --SHA2              with the SHA-256 column
  (s3) mailsift -p TREE -o OUT --MD5 --SHA1 --SHA2 with all three hash columns
  (c1) mailsift -p TREE -o OUT --SCANNERS=1       every file read on the walk's thread
  (g1) rg -j1 -a -i -c '^Subject:' TREE | cat > /dev/null  a threaded reader on one
                              thread; (g16) the same with 16 threads, its best on a
                              cold cache here (the counts: --rg-threads)
  (h) rg -a -i -c '^Subject:' TREE | cat > /dev/null  the same with its default threads
and prints medians, ratios to (a), throughput, the user and system CPU time
each command spends (medians) and peak resident memory of (c).

Warm rounds run on a warmed page cache. Cold rounds, run as root only, drop the
page cache (sync, then 3 into /proc/sys/vm/drop_caches) before each timed run,
as a first listing of a collection meets it; otherwise a line says why they are
skipped.

--mailsift-args (BENCH_MAILSIFT_ARGS) adds options to every run of the built
mailsift, (c), (d) and the memory runs, such as a setting of how many files are
read at once; the baseline runs without them.

--baseline BINARY adds (c0) and (d0): another mailsift build timed in the same
rounds, for before-and-after figures that share the machine's moods; with
--mbox it adds (b0) and (b1), that build's (m0) and (m1).
(sa) mailsift -p TREE -o OUT --SENT-AFTER=2000-01-01  selection by the sent date,
                              which reads every file as (c) does
(u8) mailsift -p TREE -o OUT --UTF                decoded UTF-8 text
(js) mailsift -p TREE -o OUT --JSON               JSON Lines
(ms) mailsift -p TREE -o OUT --MSGID --SENT-UTC   the two added columns

--mbox times mailboxes instead: one mboxrd mailbox of --big-mb megabytes built
from the source messages (about 100,000 of them for 2 GB), in rounds of
  (ma) readall MBOX           the read floor
  (m0) mailsift -p DIR -o OUT            the mailbox as one record, as before
  (m1) mailsift -p DIR -o OUT --MBOX     one record per message
warm and, as root, cold, with the peak resident memory of (m1). It is large:
run it on its own (make bench-mbox).
--scale times the cost per file as the collection grows: BENCH_SCALE_FILES
(40,000 and 400,000 files, 100 directories), each in rounds (BENCH_SCALE_REPEAT
warm, BENCH_SCALE_COLD_REPEAT cold as root) of
  (a) readall TREE            the read floor
  (c) mailsift -p TREE -o OUT
  (o) mailsift -p TREE > /dev/null   the same listing to standard output
  (f) mailsift -p TREE > FILE        the same, stored as (c) stores it
  (c0) the --baseline build's (c), when given
with seconds per thousand files, the ratios, and peak resident memory of (c),
warm and cold;
then the peak memory of (c) on BENCH_WIDE_FILES files in directories of
BENCH_WIDE_NAMES names each (400,000 in four of 100,000).
--memory measures peak resident memory on one large generated mbox instead
(--big-mb megabytes, 2048 by default), on the collection, and on 4,000 generated
messages whose headers fill every field, then the Outlook rows' peak memory.
--pst times Outlook data files instead (bench/pst_bench.py): --PST on copies of
the shared PST and OST files (--pst-mb megabytes, 200 by default) against readpst
followed by --MBOX; with --memory, only their peak memory, and that of --PST on
one generated PST of --pst-big-mb megabytes (1024 by default).
"""
import argparse
import os
import random
import shlex
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    print("+", " ".join(shlex.quote(c) for c in cmd), file=sys.stderr)
    subprocess.run(cmd, check=True, **kw)


def build(build_dir):
    run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DMAILSIFT_TESTS=OFF"],
        stdout=subprocess.DEVNULL)
    run(["cmake", "--build", build_dir, "-j", "2", "--target", "mailsift"], stdout=subprocess.DEVNULL)
    floors = []
    for name in ("readall", "syswork"):
        floors.append(os.path.join(build_dir, name))
        run(["g++", "-O2", "-std=c++20", "-o", floors[-1], os.path.join(ROOT, "bench", name + ".cpp")])
    return os.path.join(build_dir, "mailsift"), *floors


def timed(shell_cmd):
    """Runs a shell command; returns (seconds, user CPU seconds, system CPU seconds),
    the CPU times of the command and everything it waited for."""
    start = time.perf_counter()
    proc = subprocess.Popen(["/bin/sh", "-c", shell_cmd])
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"command failed ({status}): {shell_cmd}")
    return elapsed, usage.ru_utime, usage.ru_stime


def tree_size(tree):
    files = 0
    size = 0
    for dirpath, _, names in os.walk(tree):
        for name in names:
            files += 1
            size += os.path.getsize(os.path.join(dirpath, name))
    return files, size


def cold_cache_unavailable(args, rounds=None):
    """Why the page cache cannot be dropped here, or is not to be; None when it can."""
    if (args.cold_repeat if rounds is None else rounds) <= 0:
        return "no cold rounds asked for (BENCH_COLD_REPEAT=0)"
    if os.geteuid() != 0:
        return f"dropping the page cache needs root (running as uid {os.geteuid()})"
    try:  # a container may refuse it even to root
        drop_page_cache()
    except OSError as e:
        return f"/proc/sys/vm/drop_caches cannot be written here ({e.strerror})"
    return None


def drop_page_cache():
    """Writes dirty pages out, then drops the clean ones, dentries and inodes."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def peak_rss_kb(cmd):
    """Peak resident memory of one process run alone (GNU time)."""
    out = subprocess.run(["/usr/bin/time", "-f", "%M", "/bin/sh", "-c", "exec " + cmd],
                         stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True, check=True)
    return int(out.stderr.strip().splitlines()[-1])


def source_messages(source):
    for dirpath, _, names in sorted(os.walk(source)):
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            if not name.endswith(".md") and os.path.isfile(path):
                yield path


def make_big_mbox(source, path, megabytes):
    """One mbox of the given size: the source messages over and over, each after a
    From_ line. Kept between runs when its size is right."""
    want = megabytes * 1024 * 1024
    if os.path.exists(path) and os.path.getsize(path) == want:
        return
    messages = [open(p, "rb").read() for p in source_messages(source)]
    written = 0
    with open(path, "wb") as out:
        while written < want:
            for message in messages:
                chunk = b"From sender@example.org Mon Mar 12 14:05:33 2012\n" + message + b"\n"
                chunk = chunk[:want - written]
                out.write(chunk)
                written += len(chunk)
                if written >= want:
                    break


def mboxrd_escaped(message):
    """The message with every line that begins with '>'* and "From " given one more
    '>', as an mboxrd mailbox stores it; it ends in a line end."""
    lines = message.split(b"\n")
    out = []
    for line in lines:
        if line.lstrip(b">").startswith(b"From "):
            line = b">" + line
        out.append(line)
    text = b"\n".join(out)
    return text if text.endswith(b"\n") else text + b"\n"


def make_mboxrd(source, path, megabytes):
    """One mboxrd mailbox of at least the given size, of whole source messages over
    and over, each after a separator line and followed by an empty line. Returns
    the number of messages; kept between runs when its size is right."""
    want = megabytes * 1024 * 1024
    count_file = path + ".messages"
    if os.path.exists(path) and os.path.exists(count_file) and os.path.getsize(path) >= want:
        with open(count_file) as f:
            return int(f.read())
    messages = [mboxrd_escaped(open(p, "rb").read()) for p in source_messages(source)]
    written = 0
    count = 0
    with open(path, "wb") as out:
        while written < want:
            for i, message in enumerate(messages):
                day = 1 + (count + i) % 28
                chunk = (f"From sender{i}@example.org Mon Mar {day:2} 14:05:33 2012\n".encode()
                         + message + b"\n")
                out.write(chunk)
                written += len(chunk)
                count += 1
                if written >= want:
                    break
    with open(count_file, "w") as f:
        f.write(str(count))
    return count


def mbox_benchmark(args, mailsift, readall, source):
    folder = os.path.join(args.work, f"mboxrd-{args.big_mb}mb")
    os.makedirs(folder, exist_ok=True)
    mbox = os.path.join(folder, "mail.mbox")
    count = make_mboxrd(source, mbox, args.big_mb)
    size = os.path.getsize(mbox)
    print(f"mailbox: {mbox}: {count} messages, {size / 1e6:.1f} MB")
    q = shlex.quote
    own = mailsift_options(args)

    def mailsift_run(key, extra="", binary=mailsift, options=own):
        out = os.path.join(args.work, f"listing-{key}.txt")
        return f"{q(binary)} -.ini -p {q(folder)} -f '*.mbox' -o {q(out)}{extra}{options} 2> /dev/null"

    commands = [
        ("ma", "readall", f"{q(readall)} {q(folder)} > /dev/null"),
        ("m0", "mailsift -o", mailsift_run("m0")),
        ("m1", "mailsift -o --MBOX", mailsift_run("m1", " --MBOX")),
    ]
    if args.baseline:
        commands += [
            ("b0", "baseline -o", mailsift_run("b0", "", args.baseline, "")),
            ("b1", "baseline -o --MBOX", mailsift_run("b1", " --MBOX", args.baseline, "")),
        ]
    timed(commands[0][2])
    warm = timed_rounds(commands, args.repeat, before_each=None)
    print_table("mailbox, warm cache", commands, warm, 1, size, "ma")
    rss = peak_rss_kb(commands[2][2])
    print(f"\npeak resident memory of (m1): {rss} KB ({rss / 1024:.1f} MB) (<= 16 MB)")
    m1 = median_of(warm, "m1")
    print(f"targets, warm: (m1)/(m0) = {m1 / median_of(warm, 'm0'):.3f} (<= 1.1)")
    if args.baseline:
        print(f"baseline, warm: (b1)/(b0) = {median_of(warm, 'b1') / median_of(warm, 'b0'):.3f}; "
              f"(m0)/(b0) = {median_of(warm, 'm0') / median_of(warm, 'b0'):.3f}; "
              f"(m1)/(b1) = {m1 / median_of(warm, 'b1'):.3f}")
    why_not_cold = cold_cache_unavailable(args)
    if why_not_cold:
        print(f"cold rounds skipped: {why_not_cold}")
        return
    cold = timed_rounds(commands, args.cold_repeat, before_each=drop_page_cache)
    print_table("mailbox, cold cache (page cache dropped before each run)", commands, cold, 1,
                size, "ma")
    m1 = median_of(cold, "m1")
    print(f"targets, cold: (m1)/(m0) = {m1 / median_of(cold, 'm0'):.3f} (<= 1.1); "
          f"(m1)/(ma) = {m1 / median_of(cold, 'ma'):.3f} (<= 1.1)")


def scale_benchmark(args, mailsift, readall, syswork, tree):
    files, size = tree_size(tree)
    print(f"collection: {tree}: {files} files, {size / 1e6:.1f} MB")
    q = shlex.quote

    # Each command writes its own listing. Sharing one would make a run truncate
    # the listing the run before it has just written, while the file system is
    # still writing it out, and charge that wait to whichever command came second.
    def mailsift_run(key, binary, extra=""):
        out = os.path.join(args.work, f"listing-{key}.txt")
        return f"{q(binary)} -.ini -p {q(tree)} -o {q(out)}{extra} 2> /dev/null"

    own = mailsift_options(args)
    rg_search = f"-a -i -c '^Subject:' {q(tree)} | cat > /dev/null"
    commands = [
        ("a", "readall", f"{q(readall)} {q(tree)} > /dev/null"),
        ("b", "find -type f", f"find {q(tree)} -type f > /dev/null"),
        ("c", "mailsift -o", mailsift_run("c", mailsift, own)),
        ("d", "mailsift -o -d ,", mailsift_run("d", mailsift, " -d ," + own)),
        ("e", "grep -r -i -c", f"grep -r -i -c '^Subject:' {q(tree)} | cat > /dev/null"),
        ("f", "syswork",
         f"{q(syswork)} {q(tree)} {q(os.path.join(args.work, 'listing-f.txt'))} > /dev/null"),
        ("s2", "mailsift -o --SHA2", mailsift_run("s2", mailsift, " --SHA2")),
        ("s3", "mailsift -o 3 hashes", mailsift_run("s3", mailsift, " --MD5 --SHA1 --SHA2")),
        # One scanner: the file read on the walk's thread, as before scanners.
        ("c1", "mailsift --SCANNERS=1", mailsift_run("c1", mailsift, " --SCANNERS=1")),
        # Every message has a date, so the row differs from (c) only by the bound.
        ("sa", "mailsift --SENT-AFTER", mailsift_run("sa", mailsift, " --SENT-AFTER=2000-01-01" + own)),
        # The readable listing: decoded text, JSON Lines, the two added columns.
        ("u8", "mailsift --UTF", mailsift_run("u8", mailsift, " --UTF" + own)),
        ("js", "mailsift --JSON", mailsift_run("js", mailsift, " --JSON" + own)),
        ("ms", "mailsift --MSGID --SENT-UTC",
         mailsift_run("ms", mailsift, " --MSGID --SENT-UTC" + own)),
    ]
    commands += [(f"g{n}", f"rg -j{n}", f"rg -j{n} {rg_search}") for n in args.rg_threads]
    commands.append(("h", "rg (default -j)", f"rg {rg_search}"))
    if args.baseline:
        commands += [
            ("c0", "baseline -o", mailsift_run("c0", args.baseline)),
            ("d0", "baseline -o -d ,", mailsift_run("d0", args.baseline, " -d ,")),
        ]
    for _ in range(2):  # warm the page cache
        timed(commands[0][2])
    warm = timed_rounds(commands, args.repeat, before_each=None)
    print_table("warm cache", commands, warm, files, size)
    print_costs(warm, files, size)
    # The memory target holds for the default settings; a run with its own options
    # gets a figure of its own.
    rss = peak_rss_kb(mailsift_run("c", mailsift))
    print(f"\npeak resident memory of (c) with the default settings: {rss} KB "
          f"({rss / 1024:.1f} MB)")
    if own:
        own_rss = peak_rss_kb(commands[2][2])
        print(f"peak resident memory of (c) with{own}: {own_rss} KB ({own_rss / 1024:.1f} MB)")
    why_not_cold = cold_cache_unavailable(args)
    if why_not_cold:
        print(f"\ncold rounds skipped: {why_not_cold}")
        cold = None
    else:
        cold = timed_rounds(commands, args.cold_repeat, before_each=drop_page_cache)
        print_table("cold cache (page cache dropped before each run)", commands, cold, files, size)
    print_targets(warm, cold, rss)


def collection(args, source, files, fanout=10):
    """A generated collection of `files` files in fanout x fanout directories."""
    name = f"collection-{files}" + ("" if fanout == 10 else f"-fanout{fanout}")
    tree = os.path.join(args.work, name)
    run([sys.executable, os.path.join(ROOT, "bench", "make_collection.py"), "--source", source,
         "--dest", tree, "--files", str(files), "--fanout", str(fanout)])
    return tree


def scale_row(args, mailsift, readall, source):
    q = shlex.quote
    own = mailsift_options(args)
    per_file = {}
    for files in args.scale_files:
        tree = collection(args, source, files)
        _, size = tree_size(tree)

        def listing(key, binary=mailsift, options=own):
            out = os.path.join(args.work, f"listing-scale-{key}.txt")
            return f"{q(binary)} -.ini -p {q(tree)} -o {q(out)}{options} 2> /dev/null"

        commands = [
            ("a", "readall", f"{q(readall)} {q(tree)} > /dev/null"),
            ("c", "mailsift -o", listing("c")),
            ("o", "mailsift > /dev/null",
             f"{q(mailsift)} -.ini -p {q(tree)}{own} > /dev/null 2> /dev/null"),
            ("f", "mailsift > FILE",
             f"{q(mailsift)} -.ini -p {q(tree)}{own} > "
             f"{q(os.path.join(args.work, 'listing-scale-f.txt'))} 2> /dev/null"),
        ]
        if args.baseline:
            commands.append(("c0", "baseline -o", listing("c0", args.baseline, "")))
        print(f"\nscale: {tree}: {files} files, {size / 1e6:.1f} MB")
        for _ in range(2):  # warm the page cache
            timed(commands[0][2])
        warm = timed_rounds(commands, args.scale_repeat, before_each=None)
        print_scale_table(f"{files} files, warm cache", commands, warm, files, size)
        rss = peak_rss_kb(listing("c", options=""))
        print(f"peak resident memory of (c) with the default settings: {rss} KB "
              f"({rss / 1024:.1f} MB)")
        c = median_of(warm, "c")
        # (f) stores the same bytes in the page cache as (c) does; (o) drops them.
        print(f"targets, warm: (c)/(f) = {c / median_of(warm, 'f'):.3f} (<= 1.02; "
              f"(c)/(o) = {c / median_of(warm, 'o'):.3f}); "
              f"(c)/(a) = {c / median_of(warm, 'a'):.2f} (<= 0.85)"
              + (f"; (c)/(c0) = {c / median_of(warm, 'c0'):.3f}" if args.baseline else ""))
        per_file[files] = (c / files, rss)
        why_not_cold = cold_cache_unavailable(args, args.scale_cold_repeat)
        if why_not_cold:
            print(f"cold rounds skipped: {why_not_cold}")
            continue
        cold = timed_rounds(commands, args.scale_cold_repeat, before_each=drop_page_cache)
        print_scale_table(f"{files} files, cold cache", commands, cold, files, size)
        drop_page_cache()
        cold_rss = peak_rss_kb(listing("c", options=""))
        print(f"targets, cold: (c)/(a) = {median_of(cold, 'c') / median_of(cold, 'a'):.2f} (<= 0.45); "
              f"peak resident memory of (c) with the default settings: {cold_rss} KB "
              f"({cold_rss / 1024:.1f} MB)")
    smallest, largest = min(per_file), max(per_file)
    if largest != smallest:
        growth = per_file[largest][0] / per_file[smallest][0]
        print(f"\ntargets, scale: warm time per file at {largest} files = {growth:.3f} x "
              f"that at {smallest} (<= 1.10); peak memory at {largest} files "
              f"{per_file[largest][1] / 1024:.1f} MB (<= 8 MB)")
    if args.wide_files > 0:
        fanout = max(1, int(round((args.wide_files / args.wide_names) ** 0.5)))
        tree = collection(args, source, args.wide_files, fanout)
        names = args.wide_files // (fanout * fanout)
        out = os.path.join(args.work, "listing-scale-wide.txt")
        for _ in range(2):  # the page cache, as in the warm rounds
            timed(f"{q(readall)} {q(tree)} > /dev/null")
        rss = peak_rss_kb(f"{q(mailsift)} -.ini -p {q(tree)} -o {q(out)} 2> /dev/null")
        print(f"peak resident memory of (c), {args.wide_files} files in directories of {names} "
              f"names: {rss} KB ({rss / 1024:.1f} MB) (<= 8 MB)")


def print_scale_table(title, commands, samples, files, size):
    floor = median_of(samples, "a")
    print(f"{title}, medians of {len(samples['a'])}; ratio to (a), the one-thread read floor")
    print(f"{'':5}{'command':22}{'median s':>10}{'s/1000 files':>14}{'ratio':>8}{'MB/s':>8}"
          f"{'spread':>9}")
    for key, name, _ in commands:
        m = median_of(samples, key)
        times = [sample[0] for sample in samples[key]]
        spread = (max(times) - min(times)) / m
        label = f"({key})"
        print(f"{label:5}{name:22}{m:10.3f}{m / files * 1000:14.4f}{m / floor:8.2f}"
              f"{size / 1e6 / m:8.0f}{spread:9.2f}")


def timed_rounds(commands, rounds, before_each, prepare=None):
    """Runs every command once per round; returns {key: [(seconds, user, system)]}.
    `before_each`, when given, runs untimed before each timed run; so does the
    shell command `prepare[key]`, before it, where there is one."""
    samples = {key: [] for key, _, _ in commands}
    for round_number in range(rounds):
        # Each round runs the commands in another order, so that no command
        # always runs right after the same other one (the writes it leaves
        # behind, the caches it warms or evicts, the processor time it has just
        # used up). Turning the same order round would not do: each command
        # would still follow the same one in all rounds but one. The orders are
        # the same from run to run.
        order = list(commands)
        random.Random(round_number).shuffle(order)
        for key, _, cmd in order:
            if prepare and key in prepare:
                subprocess.run(["/bin/sh", "-c", prepare[key]], check=True)
            if before_each:
                before_each()
            samples[key].append(timed(cmd))
    return samples


def median_of(samples, key, column=0):
    return statistics.median(sample[column] for sample in samples[key])


def print_table(title, commands, samples, files, size, floor_key="a"):
    floor = median_of(samples, floor_key)
    print(f"\n{title}, medians; ratio to ({floor_key}), the one-thread read floor")
    print(f"{'':5}{'command':20}{'median s':>10}{'ratio':>8}{'MB/s':>10}{'files/s':>11}"
          f"{'user s':>9}{'sys s':>8}")
    for key, name, _ in commands:
        m = median_of(samples, key)
        label = f"({key})"
        print(f"{label:5}{name:20}{m:10.3f}{m / floor:8.2f}{size / 1e6 / m:10.0f}{files / m:11.0f}"
              f"{median_of(samples, key, 1):9.3f}{median_of(samples, key, 2):8.3f}")


def print_targets(warm, cold, rss):
    c = median_of(warm, "c")
    floor = median_of(warm, "a")
    print(f"\ntargets, warm: (c)/(a) = {c / floor:.2f} (<= 1.0); "
          f"(c)/(h) = {c / median_of(warm, 'h'):.3f} (< 1); "
          f"(d)/(c) = {median_of(warm, 'd') / c:.3f} (<= 1.05); "
          f"peak RSS <= 16 MB: {rss <= 16 * 1024}")
    print(f"sent-date bound, warm: (sa)/(c) = {median_of(warm, 'sa') / c:.3f} (<= 1.1)")
    print(f"readable listing, warm: (u8)/(c) = {median_of(warm, 'u8') / c:.3f} (<= 1.15); "
          f"(js)/(c) = {median_of(warm, 'js') / c:.3f} (<= 1.2); "
          f"(ms)/(c) = {median_of(warm, 'ms') / c:.3f} (<= 1.05)")
    if "c0" in warm:
        print(f"one scanner against the baseline, warm: (c1)/(c0) = "
              f"{median_of(warm, 'c1') / median_of(warm, 'c0'):.3f} (<= 1)")
    if cold:
        c = median_of(cold, "c")
        best = min(median_of(cold, key) for key in cold if key.startswith(("g", "h")))
        print(f"targets, cold: (c)/(a) = {c / median_of(cold, 'a'):.2f} (<= 0.35); "
              f"(c) / best rg row = {c / best:.3f} (<= 1); "
              f"(d)/(c) = {median_of(cold, 'd') / c:.3f} (<= 1.05); "
              f"(sa)/(c) = {median_of(cold, 'sa') / c:.3f} (<= 1.1)")


def print_costs(samples, files, size):
    """The scan's own work above the system work, and what the hash columns add."""
    c = median_of(samples, "c")
    f = median_of(samples, "f")
    print(f"the scan's own work: (c) - (f) = {c - f:.3f} s, {(c - f) / files * 1e6:.1f} us per file; "
          f"(f)/(a) = {f / median_of(samples, 'a'):.2f}")
    s2 = median_of(samples, "s2")
    s3 = median_of(samples, "s3")
    print(f"hash columns against the plain run: (s2)/(c) = {s2 / c:.2f} (--SHA2), "
          f"(s3)/(c) = {s3 / c:.2f} (--MD5 --SHA1 --SHA2); "
          f"per MB: {(s2 - c) / (size / 1e6) * 1e3:.2f} ms and {(s3 - c) / (size / 1e6) * 1e3:.2f} ms")


def make_wide_headers(path, files):
    """Messages whose address lines and subject fill their fields: the most a scan
    can hold, in small files (under 64 KB) and large ones. Kept between runs."""
    if os.path.isdir(path) and len(os.listdir(path)) == 2:
        return
    for kind, addresses, received in (("small", 250, 60), ("large", 2000, 3000)):
        folder = os.path.join(path, kind)
        os.makedirs(folder, exist_ok=True)
        line = ", ".join(f"person{i}@example{i % 50}.com" for i in range(addresses))
        head = "".join(f"{name}: {line}\n" for name in ("From", "To", "CC", "Bcc"))
        head += "Subject: " + "s" * min(len(line), 32000) + "\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n"
        head += "".join(f"Received: from h{i}.example.com (h{i}.example.com [10.0.{i % 250}.{i % 200}])"
                        f" by mx.example.com\n" for i in range(received))
        message = (head + "\n" + "body line\n" * 50).encode()
        for i in range(files):
            with open(os.path.join(folder, f"m{i:05}.eml"), "wb") as out:
                out.write(message)


def memory_benchmark(args, mailsift, source, tree):
    big = os.path.join(args.work, f"big-{args.big_mb}mb")
    os.makedirs(big, exist_ok=True)
    mbox = os.path.join(big, "mail.mbox")
    make_big_mbox(source, mbox, args.big_mb)
    wide = os.path.join(args.work, "wide-headers")
    make_wide_headers(wide, 2000)
    q = shlex.quote
    out = os.path.join(args.work, "listing.txt")
    own = mailsift_options(args)
    # The most scanners the settings allow must stay within the same memory.
    for name, path, extra in ((f"one {args.big_mb} MB mbox", big, ""),
                              (f"collection {tree}", tree, ""),
                              ("headers that fill every field, 4,000 files", wide, ""),
                              ("the same with --SCANNERS=64", wide, " --SCANNERS=64")):
        cmd = f"{q(mailsift)} -.ini -p {q(path)} -o {q(out)}{own}{extra} 2> /dev/null"
        start = time.perf_counter()
        rss = peak_rss_kb(cmd)
        elapsed = time.perf_counter() - start
        print(f"{name}: peak resident memory {rss} KB ({rss / 1024:.1f} MB), {elapsed:.2f} s")


def mailsift_options(args):
    """The extra options of the built mailsift's runs, as text to append."""
    return "".join(" " + shlex.quote(word) for word in shlex.split(args.mailsift_args))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=int(os.environ.get("BENCH_FILES", 40000)))
    parser.add_argument("--repeat", type=int, default=int(os.environ.get("BENCH_REPEAT", 5)))
    parser.add_argument("--cold-repeat", type=int,
                        default=int(os.environ.get("BENCH_COLD_REPEAT", 5)))
    # Where the full run's own settings go (the number of files read at once, ...).
    parser.add_argument("--mailsift-args", default=os.environ.get("BENCH_MAILSIFT_ARGS", ""))
    # 16 threads was rg's best on a cold cache here (of 1, 2, 4, 8, 16).
    parser.add_argument("--rg-threads", type=int, nargs="*",
                        default=[int(n) for n in os.environ.get("BENCH_RG_THREADS", "1 16").split()])
    parser.add_argument("--work", default=os.environ.get("BENCH_DIR", "/tmp/mailsift-bench"))
    parser.add_argument("--source", default=None)
    parser.add_argument("--baseline", default=os.environ.get("BENCH_BASELINE"))
    parser.add_argument("--memory", action="store_true")
    parser.add_argument("--mbox", action="store_true")
    parser.add_argument("--scale", action="store_true")
    parser.add_argument("--scale-files", type=int, nargs="*",
                        default=[int(n) for n in
                                 os.environ.get("BENCH_SCALE_FILES", "40000 400000").split()])
    parser.add_argument("--scale-repeat", type=int,
                        default=int(os.environ.get("BENCH_SCALE_REPEAT", 5)))
    parser.add_argument("--scale-cold-repeat", type=int,
                        default=int(os.environ.get("BENCH_SCALE_COLD_REPEAT", 3)))
    parser.add_argument("--wide-files", type=int,
                        default=int(os.environ.get("BENCH_WIDE_FILES", 400000)))
    parser.add_argument("--wide-names", type=int,
                        default=int(os.environ.get("BENCH_WIDE_NAMES", 100000)))
    parser.add_argument("--big-mb", type=int, default=int(os.environ.get("BENCH_BIG_MB", 2048)))
    parser.add_argument("--pst", action="store_true")
    parser.add_argument("--pst-mb", type=int, default=int(os.environ.get("BENCH_PST_MB", 200)))
    parser.add_argument("--pst-big-mb", type=int,
                        default=int(os.environ.get("BENCH_PST_BIG_MB", 1024)))
    parser.add_argument("--pst-source", default=os.environ.get(
        "BENCH_PST_SOURCE", os.path.normpath(os.path.join(ROOT, "..", "shared", "pst"))))
    args = parser.parse_args()

    source = args.source
    if source is None:
        corpus = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))
        source = corpus if os.path.isdir(corpus) else os.path.join(ROOT, "samples")
    build_dir = os.path.join(ROOT, "build-bench")
    mailsift, readall, syswork = build(build_dir)

    os.makedirs(args.work, exist_ok=True)
    import pst_bench  # it uses this file's helpers
    if args.pst:
        if args.memory:
            pst_bench.pst_memory(args, mailsift, args.pst_source)
        else:
            pst_bench.pst_benchmark(args, mailsift, readall, args.pst_source)
        return
    print(f"messages from {source}")
    if args.scale:
        scale_row(args, mailsift, readall, source)
        return
    tree = collection(args, source, args.files)
    if args.mbox:
        mbox_benchmark(args, mailsift, readall, source)
    elif args.memory:
        memory_benchmark(args, mailsift, source, tree)
        pst_bench.pst_memory(args, mailsift, args.pst_source)
    else:
        scale_benchmark(args, mailsift, readall, syswork, tree)


if __name__ == "__main__":
    main()
