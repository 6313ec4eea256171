#!/usr/bin/env python3
"""Writes a 64-bit Unicode Outlook data file (PST) of about --megabytes MB for the
memory and speed benches: no tool here writes one, and a PST cannot be grown by
repeating its blocks.

The store is one a mail client could have written: the message store, a small
name-to-id map, the root folder with "Top of Personal Folders" and folders below
it (some nested), each with its hierarchy, contents and associated-contents
tables; received mail (IPM.Note) with its internet headers, sent mail and drafts
without, each with a plain body of a few KB to about 100 KB, a recipient table
and, for about one in five, one or two attachments of tens to hundreds of KB
(and one of 9 MB in every 5,000 messages, from the 100th);
and a few calendar entries and contacts, which are not messages. Header blocks
and bodies come from the messages of --corpus, read here and never stored
elsewhere; subjects, Message-IDs and dates are made distinct per message.

The same arguments give the same bytes. Beside the file, FILE.facts names the
generator's version, the arguments and what was written (messages per folder),
so that a bench can reuse a file and check a listing of it.

  python3 bench/make_pst.py --megabytes 100 --out /tmp/big.pst [--seed 1]
"""
import argparse
import email
import email.errors
import email.header
import email.policy
import email.utils
import json
import os
import random
import struct
import sys
import time

from pst_format import (PT_BINARY, PT_BOOL, PT_INT32, PT_SYSTIME, PT_UNICODE, Subnodes, Writer,
                        crc32, property_context, table_context)

VERSION = 1
ROOT_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
STORE_UID = bytes.fromhex("5ab1e0c2d3f44e8f9a1b2c3d4e5f6071")
NID_STORE, NID_NAME_MAP, NID_ROOT = 0x21, 0x61, 0x122
FILETIME_1970 = 116444736000000000
REPLACED_HEADERS = ("subject", "message-id", "date")

# (path, container class, share of the messages); the paths' parents come first.
FOLDERS = [
    ("Top of Personal Folders", None, 0),
    ("Search Root", None, 0),
    ("Top of Personal Folders/Deleted Items", "IPF.Note", 3),
    ("Top of Personal Folders/Inbox", "IPF.Note", 38),
    ("Top of Personal Folders/Inbox/Projects", "IPF.Note", 8),
    ("Top of Personal Folders/Inbox/Projects/2001", "IPF.Note", 8),
    ("Top of Personal Folders/Inbox/Projects/2002", "IPF.Note", 6),
    ("Top of Personal Folders/Inbox/Vendors", "IPF.Note", 5),
    ("Top of Personal Folders/Outbox", "IPF.Note", 0),
    ("Top of Personal Folders/Sent Items", "IPF.Note", 10),
    ("Top of Personal Folders/Drafts", "IPF.Note", 1),
    ("Top of Personal Folders/Calendar", "IPF.Appointment", 0),
    ("Top of Personal Folders/Contacts", "IPF.Contact", 0),
    ("Top of Personal Folders/Archive", "IPF.Note", 0),
    ("Top of Personal Folders/Archive/2000", "IPF.Note", 10),
    ("Top of Personal Folders/Archive/2001", "IPF.Note", 11),
]
UNSTORED_HEADERS = ("Sent Items", "Drafts")   # mail made here carries no internet headers
APPOINTMENTS, CONTACTS = 6, 4

CONTENTS_COLUMNS = [
    (0x0017, PT_INT32), (0x001A, PT_UNICODE), (0x0036, PT_INT32), (0x0037, PT_UNICODE),
    (0x0039, PT_SYSTIME), (0x0042, PT_UNICODE), (0x0057, PT_BOOL), (0x0058, PT_BOOL),
    (0x0070, PT_UNICODE), (0x0E03, PT_UNICODE), (0x0E04, PT_UNICODE), (0x0E06, PT_SYSTIME),
    (0x0E07, PT_INT32), (0x0E08, PT_INT32), (0x0E17, PT_INT32), (0x1035, PT_UNICODE),
    (0x3008, PT_SYSTIME)]
HIERARCHY_COLUMNS = [(0x3001, PT_UNICODE), (0x3602, PT_INT32), (0x3603, PT_INT32),
                     (0x360A, PT_BOOL), (0x3613, PT_UNICODE)]
ASSOCIATED_COLUMNS = [(0x001A, PT_UNICODE), (0x0037, PT_UNICODE), (0x0E07, PT_INT32),
                      (0x0E17, PT_INT32), (0x3001, PT_UNICODE)]
RECIPIENT_COLUMNS = [(0x0C15, PT_INT32), (0x0E0F, PT_BOOL), (0x0FFE, PT_INT32),
                     (0x3001, PT_UNICODE), (0x3002, PT_UNICODE), (0x3003, PT_UNICODE),
                     (0x3900, PT_INT32), (0x39FE, PT_UNICODE), (0x3A40, PT_BOOL)]
ATTACHMENT_COLUMNS = [(0x0E20, PT_INT32), (0x3704, PT_UNICODE), (0x3705, PT_INT32),
                      (0x370B, PT_INT32)]
ATTACHMENT_KINDS = [("pdf", "application/pdf", b"%PDF-1.4\n"),
                    ("docx", "application/vnd.openxmlformats-officedocument.wordprocessingml"
                     ".document", b"PK\x03\x04"),
                    ("jpg", "image/jpeg", b"\xff\xd8\xff\xe0"),
                    ("zip", "application/zip", b"PK\x03\x04"),
                    ("xls", "application/vnd.ms-excel", b"\xd0\xcf\x11\xe0")]
LARGE_ATTACHMENT = ("mp4", "video/mp4", b"\0\0\0\x18ftypmp42")
ATTACHMENT_NAMES = ["report", "minutes", "contract", "photo", "budget", "slides", "invoice"]


# -- the corpus ----------------------------------------------------------------
def corpus_messages(folder):
    """(header lines, plain body, sender, to, cc) of each message of the corpus
    that has a header block and some body text, in name order."""
    found = []
    for dirpath, dirnames, names in os.walk(folder):
        dirnames.sort()
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            if os.path.getsize(path) > 4 << 20:
                continue
            with open(path, "rb") as f:
                raw = f.read()
            message = parse(raw)
            if message:
                found.append(message)
    return found


def parse(raw):
    if raw.startswith(b"From "):
        raw = raw.split(b"\n", 1)[-1]
    raw = raw.replace(b"\r\n", b"\n")
    head, sep, _ = raw.partition(b"\n\n")
    if not sep or b":" not in head.split(b"\n", 1)[0]:
        return None
    lines = head.decode("utf-8", "replace").split("\n")
    parsed = email.message_from_bytes(raw, policy=email.policy.compat32)
    body = plain_text(parsed)
    if len(body.strip()) < 20:
        return None
    return (lines, body, address_list(parsed, "From")[:1], address_list(parsed, "To")[:12],
            address_list(parsed, "Cc")[:12])


def plain_text(message):
    for part in message.walk():
        if part.get_content_type() == "text/plain" and not part.is_multipart():
            payload = part.get_payload(decode=True) or b""
            charset = part.get_content_charset() or "utf-8"
            try:
                return payload.decode(charset, "replace")
            except LookupError:
                return payload.decode("latin-1")
    payload = message.get_payload(decode=True) if not message.is_multipart() else None
    return payload.decode("utf-8", "replace") if payload else ""


def address_list(message, field):
    values = [str(v) for v in message.get_all(field, [])]
    pairs = [(name.strip('"'), address) for name, address in email.utils.getaddresses(values)
             if "@" in address and len(address) < 200]
    return [(decoded(name) or address.split("@")[0], address) for name, address in pairs]


def decoded(text):
    """A header's words as text (RFC 2047 words decoded), on one line."""
    try:
        text = str(email.header.make_header(email.header.decode_header(text)))
    except (LookupError, UnicodeError, ValueError, email.errors.HeaderParseError):
        pass
    return " ".join(text.split())


# -- one message ----------------------------------------------------------------
def filetime(seconds):
    return FILETIME_1970 + int(seconds) * 10000000


def rfc5322_date(seconds):
    return email.utils.formatdate(seconds, localtime=False).replace("-0000", "+0000")


def header_block(lines, subject, message_id, date):
    """The corpus header lines with Subject, Message-ID and Date made this message's
    (folded continuations of those dropped), CRLF line ends."""
    if not subject.isascii():
        subject = email.header.Header(subject, "utf-8").encode()
    new = {"subject": subject, "message-id": message_id, "date": date}
    out, skipping = [], False
    for line in lines:
        if line[:1] in (" ", "\t"):
            if not skipping:
                out.append(line)
            continue
        name = line.split(":", 1)[0].strip().lower()
        skipping = name in REPLACED_HEADERS
        if not skipping:
            out.append(line)
        elif name in new:
            out.append(f"{line.split(':', 1)[0]}: {new.pop(name)}")
    out += [f"{name.title()}: {value}" for name, value in new.items()]
    return "\r\n".join(out) + "\r\n\r\n"


def body_text(rng, corpus, first, size):
    """About `size` characters of body: the message's own text, then earlier
    messages quoted below it, as replies carry them."""
    parts, total, n = [], 0, first
    while total < size:
        lines, body, sender, _, _ = corpus[n % len(corpus)]
        if parts:
            who = sender[0][1] if sender else "unknown"
            body = f"\n\n-----Original Message-----\nFrom: {who}\n\n" + body
        parts.append(body)
        total += len(body)
        n += rng.randrange(1, len(corpus))
    text = "".join(parts)[:size]
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def log_uniform(rng, low, high):
    return int(low * (high / low) ** rng.random())


def pick_attachments(rng, number):
    """(name, kind, bytes) of the message's attachments: one or two for about one
    message in five, and a large one now and then, past what an XBLOCK holds."""
    attachments = []
    if rng.random() < 0.2:
        for _ in range(1 if rng.random() < 0.7 else 2):
            kind = rng.choice(ATTACHMENT_KINDS)
            name = f"{rng.choice(ATTACHMENT_NAMES)}-{number}-{len(attachments) + 1}.{kind[0]}"
            size = log_uniform(rng, 20000, 400000)
            attachments.append((name, kind, kind[2] + rng.randbytes(size - len(kind[2]))))
    if number % 5000 == 100:
        attachments.append((f"recording-{number}.mp4", LARGE_ATTACHMENT,
                            LARGE_ATTACHMENT[2] + rng.randbytes(9000000)))
    return attachments


class Store:
    """The store as it is written: folder nids and, per folder, the rows of its
    contents table."""

    def __init__(self, writer, rng, corpus):
        self.writer, self.rng, self.corpus = writer, rng, corpus
        self.folders = {}              # path -> nid
        self.rows = {path: [] for path, _, _ in FOLDERS}
        self.counts = {path: 0 for path, _, _ in FOLDERS}
        self.next_message = 0x10001
        for n, (path, _, _) in enumerate(FOLDERS):
            self.folders[path] = ((0x401 + n) << 5) | 0x02
        weights = [(path, share) for path, _, share in FOLDERS if share]
        self.mail_folders = [p for p, _ in weights]
        self.mail_weights = [w for _, w in weights]
        self.written = 0

    def new_message_nid(self):
        nid = (self.next_message << 5) | 0x04
        self.next_message += 1
        return nid

    def add_mail(self, number):
        rng = self.rng
        path = rng.choices(self.mail_folders, self.mail_weights)[0]
        source = rng.randrange(len(self.corpus))
        lines, _, sender, to, cc = self.corpus[source]
        sender = sender[0] if sender else ("Unknown Sender", "unknown@example.invalid")
        to = to or [("Reviewer", "reviewer@example.invalid")]
        submitted = rng.randrange(915148800, 1072915200)  # 1999 to 2003
        delivered = submitted + rng.randrange(5, 3600)
        base_subject = decoded(next((l.split(":", 1)[1] for l in lines
                                     if l.lower().startswith("subject:")), "")) or "(no subject)"
        subject = f"{base_subject[:200]} [{number}]"
        message_id = f"<bench.{number}.{rng.getrandbits(48):012x}@example.invalid>"
        body = body_text(rng, self.corpus, source, log_uniform(rng, 1500, 100000))
        folder_name = path.rsplit("/", 1)[-1]
        headers = None
        if folder_name not in UNSTORED_HEADERS:
            headers = header_block(lines, subject, message_id, rfc5322_date(submitted))
        flags = 0x01 if (folder_name in UNSTORED_HEADERS or rng.random() < 0.7) else 0x00
        if folder_name == "Drafts":
            flags = 0x09   # read, unsent
        attachments = pick_attachments(rng, number)
        if attachments:
            flags |= 0x10
        size = 2 * (len(body) + len(headers or "")) + sum(len(a[2]) for a in attachments) + 2000
        nid = self.new_message_nid()
        recipients = [(1, n, a) for n, a in to] + [(2, n, a) for n, a in cc]
        display_to = "; ".join(n for kind, n, _ in recipients if kind == 1)[:1000]
        display_cc = "; ".join(n for kind, n, _ in recipients if kind == 2)[:1000]
        props = [
            (0x0017, PT_INT32, 1), (0x001A, PT_UNICODE, "IPM.Note"), (0x0026, PT_INT32, 0),
            (0x0036, PT_INT32, 0), (0x0037, PT_UNICODE, subject),
            (0x0039, PT_SYSTIME, filetime(submitted)), (0x0042, PT_UNICODE, sender[0]),
            (0x0064, PT_UNICODE, "SMTP"), (0x0065, PT_UNICODE, sender[1]),
            (0x0070, PT_UNICODE, base_subject[:200]), (0x0C1A, PT_UNICODE, sender[0]),
            (0x0C1E, PT_UNICODE, "SMTP"), (0x0C1F, PT_UNICODE, sender[1]),
            (0x0E04, PT_UNICODE, display_to), (0x0E06, PT_SYSTIME, filetime(delivered)),
            (0x0E07, PT_INT32, flags), (0x0E08, PT_INT32, size), (0x0E17, PT_INT32, 0),
            (0x0E1B, PT_BOOL, bool(attachments)), (0x1000, PT_UNICODE, body),
            (0x1035, PT_UNICODE, message_id), (0x3007, PT_SYSTIME, filetime(delivered)),
            (0x3008, PT_SYSTIME, filetime(delivered)), (0x3FDE, PT_INT32, 65001),
            (0x5D01, PT_UNICODE, sender[1]), (0x5D02, PT_UNICODE, sender[1])]
        if display_cc:
            props.append((0x0E03, PT_UNICODE, display_cc))
        if headers:
            props.append((0x007D, PT_UNICODE, headers))
        subnodes = Subnodes(self.writer)
        self.recipient_table(subnodes, recipients)
        if attachments:
            self.attachments(subnodes, attachments)
        bid = property_context(self.writer, props, subnodes)
        self.writer.node(nid, bid, subnodes.finish(), self.folders[path])
        self.rows[path].append({
            0x67F2: nid, 0x0017: 1, 0x001A: "IPM.Note", 0x0036: 0, 0x0037: subject,
            0x0039: filetime(submitted), 0x0042: sender[0], 0x0057: False, 0x0058: False,
            0x0070: base_subject[:200], 0x0E03: display_cc, 0x0E04: display_to,
            0x0E06: filetime(delivered), 0x0E07: flags, 0x0E08: size, 0x0E17: 0,
            0x1035: message_id, 0x3008: filetime(delivered)})
        self.counts[path] += 1
        self.written += 1

    def recipient_table(self, subnodes, recipients):
        rows = [{0x67F2: n, 0x0C15: kind, 0x0E0F: True, 0x0FFE: 6, 0x3001: name,
                 0x3002: "SMTP", 0x3003: address, 0x3900: 0, 0x39FE: address, 0x3A40: False}
                for n, (kind, name, address) in enumerate(recipients)]
        inner = Subnodes(self.writer)
        bid = table_context(self.writer, RECIPIENT_COLUMNS, rows, inner)
        subnodes.add(0x692, bid, inner.finish())

    def attachments(self, subnodes, attachments):
        rows = []
        for name, kind, data in attachments:
            nid = subnodes.new_nid(0x05)
            extension = "." + kind[0]
            short = name.split("-")[0][:8].upper() + extension.upper()[:4]
            inner = Subnodes(self.writer)
            props = [(0x0E20, PT_INT32, len(data)), (0x0FFE, PT_INT32, 7),
                     (0x3001, PT_UNICODE, name), (0x3701, PT_BINARY, data),
                     (0x3703, PT_UNICODE, extension), (0x3704, PT_UNICODE, short),
                     (0x3705, PT_INT32, 1), (0x3707, PT_UNICODE, name),
                     (0x370B, PT_INT32, -1), (0x370E, PT_UNICODE, kind[1]),
                     (0x3714, PT_INT32, 0)]
            bid = property_context(self.writer, props, inner)
            subnodes.add(nid, bid, inner.finish())
            rows.append({0x67F2: nid, 0x0E20: len(data), 0x3704: short, 0x3705: 1,
                         0x370B: -1})
        inner = Subnodes(self.writer)
        bid = table_context(self.writer, ATTACHMENT_COLUMNS, rows, inner)
        subnodes.add(0x671, bid, inner.finish())

    def add_other_items(self):
        """Calendar entries and contacts: items of the store that are not mail."""
        rng = self.rng
        for n in range(APPOINTMENTS):
            start = rng.randrange(978307200, 1041379200)
            subject = f"Project review {n + 1}"
            times = [(0x0060, PT_SYSTIME, filetime(start)),
                     (0x0061, PT_SYSTIME, filetime(start + 3600))]
            self.add_item("Top of Personal Folders/Calendar", "IPM.Appointment", subject, times,
                          start)
        for n in range(CONTACTS):
            name = f"Contact Person {n + 1}"
            self.add_item("Top of Personal Folders/Contacts", "IPM.Contact", name, [
                (0x3001, PT_UNICODE, name), (0x3A06, PT_UNICODE, "Contact"),
                (0x3A11, PT_UNICODE, f"Person {n + 1}")], 1000000000 + n)

    def add_item(self, path, item_class, subject, extra, when):
        nid = self.new_message_nid()
        props = [(0x001A, PT_UNICODE, item_class), (0x0037, PT_UNICODE, subject),
                 (0x0E07, PT_INT32, 1), (0x0E08, PT_INT32, 1000),
                 (0x3007, PT_SYSTIME, filetime(when)), (0x3008, PT_SYSTIME, filetime(when))]
        subnodes = Subnodes(self.writer)
        bid = property_context(self.writer, props + extra, subnodes)
        self.writer.node(nid, bid, subnodes.finish(), self.folders[path])
        self.rows[path].append({0x67F2: nid, 0x001A: item_class, 0x0037: subject,
                                0x0E07: 1, 0x0E08: 1000, 0x3008: filetime(when)})
        self.counts[path] += 1

    # -- folders and the store -------------------------------------------------
    def write_folders(self):
        children = {NID_ROOT: []}
        for path, container, _ in FOLDERS:
            parent = path.rsplit("/", 1)[0] if "/" in path else None
            parent_nid = self.folders[parent] if parent else NID_ROOT
            children.setdefault(parent_nid, []).append((path, container))
            children.setdefault(self.folders[path], [])
        self.folder(NID_ROOT, NID_ROOT, None, None, [], children)
        for path, container, _ in FOLDERS:
            parent = path.rsplit("/", 1)[0] if "/" in path else None
            parent_nid = self.folders[parent] if parent else NID_ROOT
            self.folder(self.folders[path], parent_nid, path.rsplit("/", 1)[-1], container,
                        self.rows[path], children)

    def folder(self, nid, parent, name, container, rows, children):
        w = self.writer
        subs = children[nid]
        unread = sum(1 for r in rows if not r[0x0E07] & 1)
        props = [(0x3602, PT_INT32, len(rows)), (0x3603, PT_INT32, unread),
                 (0x360A, PT_BOOL, bool(subs)), (0x3617, PT_INT32, 0)]
        if name is not None:
            props.append((0x3001, PT_UNICODE, name))
        if container:
            props.append((0x3613, PT_UNICODE, container))
        empty = Subnodes(w)
        w.node(nid, property_context(w, props, empty), empty.finish(), parent)
        hierarchy = []
        for path, child_container in subs:
            child = self.folders[path]
            child_rows = self.rows[path]
            row = {0x67F2: child, 0x3001: path.rsplit("/", 1)[-1],
                   0x3602: len(child_rows),
                   0x3603: sum(1 for r in child_rows if not r[0x0E07] & 1),
                   0x360A: bool(children[child])}
            if child_container:
                row[0x3613] = child_container
            hierarchy.append(row)
        index = nid >> 5
        for kind, columns, table_rows in ((0x0D, HIERARCHY_COLUMNS, hierarchy),
                                          (0x0E, CONTENTS_COLUMNS, rows),
                                          (0x0F, ASSOCIATED_COLUMNS, [])):
            inner = Subnodes(w)
            bid = table_context(w, columns, table_rows, inner)
            w.node((index << 5) | kind, bid, inner.finish(), 0)

    def write_store(self):
        w = self.writer

        def entry_id(nid):
            return bytes(4) + STORE_UID + struct.pack("<I", nid)

        top = self.folders["Top of Personal Folders"]
        deleted = self.folders["Top of Personal Folders/Deleted Items"]
        props = [(0x0FF9, PT_BINARY, STORE_UID), (0x3001, PT_UNICODE, "Personal Folders"),
                 (0x35DF, PT_INT32, 0x89), (0x35E0, PT_BINARY, entry_id(top)),
                 (0x35E3, PT_BINARY, entry_id(deleted)),
                 (0x35E7, PT_BINARY, entry_id(self.folders["Search Root"]))]
        empty = Subnodes(w)
        w.node(NID_STORE, property_context(w, props, empty), empty.finish())
        self.write_name_map()
        for nid, columns in ((0x60D, HIERARCHY_COLUMNS), (0x60E, CONTENTS_COLUMNS),
                             (0x60F, ASSOCIATED_COLUMNS), (0x671, ATTACHMENT_COLUMNS),
                             (0x692, RECIPIENT_COLUMNS)):
            inner = Subnodes(w)
            w.node(nid, table_context(w, columns, [], inner), inner.finish())

    def write_name_map(self):
        """One numeric named property (of PSETID_Common) and one string-named one
        (of PS_PUBLIC_STRINGS), with their hash buckets."""
        guid = bytes.fromhex("0820060000000000c000000000000046")
        name = "x-generated-by".encode("utf-16-le")
        strings = struct.pack("<I", len(name)) + name
        strings += bytes(-len(strings) % 4)
        numeric = struct.pack("<IHH", 0x8501, 3 << 1, 0)
        named = struct.pack("<IHH", 0, (2 << 1) | 1, 1)
        props = [(0x0001, PT_INT32, 251), (0x0002, PT_BINARY, guid),
                 (0x0003, PT_BINARY, numeric + named), (0x0004, PT_BINARY, strings)]
        buckets = {}
        buckets.setdefault(0x1000 + ((0x8501 ^ (3 << 1)) % 251), []).append(numeric)
        buckets.setdefault(0x1000 + ((crc32(name) ^ ((2 << 1) | 1)) % 251), []).append(named)
        props += [(tag, PT_BINARY, b"".join(v)) for tag, v in sorted(buckets.items())]
        empty = Subnodes(self.writer)
        self.writer.node(NID_NAME_MAP, property_context(self.writer, props, empty), empty.finish())

    def nid_counters(self):
        counters = [0x400] * 32
        counters[0x02] = 0x401 + len(FOLDERS)
        counters[0x04] = self.next_message
        counters[0x08] = 0x8000
        for kind in (0x0D, 0x0E, 0x0F):
            counters[kind] = 0x401 + len(FOLDERS)
        return counters


def generate(out, megabytes, seed, corpus_dir, say=print):
    corpus = corpus_messages(corpus_dir)
    if not corpus:
        sys.exit(f"make_pst: no messages with a header block and a body in {corpus_dir}")
    target = megabytes << 20
    rng = random.Random(seed)
    writer = Writer(out)
    store = Store(writer, rng, corpus)
    store.add_other_items()
    started = time.monotonic()
    while True:
        # What is left to write: the folder tables (about 300 bytes a row), the two
        # B-trees (a 512-byte page per 15 nodes and per 20 blocks) and the last span.
        rest = (300 * store.written + 512 * (len(writer.nodes) // 15 + len(writer.blocks) // 20)
                + 200000)
        if writer.pos + rest >= target:
            break
        store.add_mail(store.written + 1)
        if store.written % 2000 == 0:
            say(f"make_pst: {store.written} messages, {writer.pos / 1e6:.0f} MB "
                f"({time.monotonic() - started:.0f} s)")
    store.write_folders()
    store.write_store()
    size = writer.finish(store.nid_counters(), seed & 0xFFFFFFFF)
    facts = {"version": VERSION, "megabytes": megabytes, "seed": seed, "bytes": size,
             "messages": store.written,
             "not_messages": APPOINTMENTS + CONTACTS,
             "folders": {path: count for path, count in store.counts.items()}}
    with open(out + ".facts", "w") as f:
        json.dump(facts, f, indent=1)
    return facts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--megabytes", type=int, default=1024)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--corpus", default=os.path.join(ROOT_DIR, "..", "shared", "corpus"))
    args = parser.parse_args()
    started = time.monotonic()
    facts = generate(args.out, args.megabytes, args.seed, args.corpus)
    print(f"make_pst: {args.out}: {facts['bytes']} bytes, {facts['messages']} messages and "
          f"{facts['not_messages']} other items in {len(facts['folders'])} folders, "
          f"{time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    main()
