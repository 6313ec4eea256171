#!/usr/bin/env python3
"""Reads the readable listing of a mail collection back as other programs would.

Usage: readable_listing_check.py MAILSIFT COLLECTION

- the --UTF comma listing decodes as strict UTF-8 (after its byte-order mark) and
  Python's csv module reads every row with the header's field count;
- every --JSON line parses with Python's json module, and with jq where it is
  installed; its entries rebuild the delimited fields of the same run;
- each one-line Subject of a single-message file equals what Python's email
  package decodes;
- the first From, To and Subject of every single-message file, folded or not,
  agree with the email package's decoded values (policy default), white space
  aside; where they do not, the difference must have one of the known reasons
  (REASONS), whose counts are printed.
Exits 0 when all hold, 1 with the differences otherwise; 77 (skipped) without the
collection.
"""
import csv
import email
import email.policy
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile

ENTRY_FIELDS = ["from", "to", "cc", "bcc", "date", "forward_date", "subject",
                "attachment_info", "recent_ip"]
COLUMNS = {"from": 3, "to": 4, "cc": 5, "bcc": 6, "date": 7, "forward_date": 9,
           "subject": 10, "attachment_info": 12, "recent_ip": 13}


def run(mailsift, collection, out, *options):
    args = [mailsift, collection, "-.ini", "--recurse", "-o", out, *options]
    result = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            env=dict(os.environ, TZ="UTC"))
    if result.returncode != 0:
        sys.exit(f"{' '.join(args)} ended with {result.returncode}: {result.stderr[-500:]!r}")
    with open(out, "rb") as f:
        return f.read()


def rebuilt(entries):
    text = ""
    for entry in entries:
        text += f"(#{entry['n']}:) {entry['text']}  "
    return text


def check_names(record, parsed, heads, faults):
    """The display names of a one-line From header, as the email package decodes
    them, stand in the From entry. Returns 1 when the header was compared."""
    lines = [i for i, line in enumerate(heads) if line.lower().startswith(b"from:")]
    if not lines or not record["from"]:
        return 0
    i = lines[0]
    if i + 1 < len(heads) and heads[i + 1][:1] in (b" ", b"\t"):
        return 0
    if not heads[i].isascii() or b'"' in heads[i] or b"\\" in heads[i]:
        return 0
    try:
        header = parsed["from"]
        names = [a.display_name for a in header.addresses]
    except Exception:
        return 0
    if header.defects:
        return 0
    text = record["from"][0]["text"]
    for name in names:
        if name and name not in text:
            faults.append(f"{record['file']}: From {text!r} lacks the name {name!r}")
    return 1


REASONS = {
    "eight_bit": "8-bit header bytes: the email package shows U+FFFD, the listing "
                 "converts them from the message's charset or windows-1252",
    "capacity": "the header is longer than a field holds (32,767 bytes, encoded)",
    "address_syntax": "the email package renders the addresses anew: comments, "
                      "quoted pairs, quotes, routes and groups go",
    "broken_word": "an encoded word that does not decode stays as it stands",
    "unparsed": "the email package cannot parse the header",
}


def readable(text):
    """The email package keeps 8-bit bytes of a name as surrogates: UTF-8 ones
    read as the listing reads them."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def squeezed(text):
    return " ".join(text.split())


def difference_reason(name, got, header):
    """None when the entry text `got` agrees with the email package's `header`,
    else the key of a known reason, or "unknown"."""
    try:
        expected = str(header)
        addresses = header.addresses if name != "subject" else None
    except Exception:
        return "unparsed"
    if name == "subject":
        if squeezed(got) == squeezed(expected):
            return None
    else:
        plain = got.replace('"', "").replace("\\", "")
        if all(squeezed(readable(a.display_name)) in squeezed(plain)
               and readable(a.addr_spec) in got for a in addresses):
            return None
    if "\ufffd" in expected and "\ufffd" not in got:
        return "eight_bit"
    if len(got) < len(expected) and len(expected.encode("utf-8")) > 16000:
        return "capacity"
    if "=?" in got:
        return "broken_word"
    if name != "subject" and any(c in got for c in '()\\:;"'):
        return "address_syntax"
    return "unknown"


def compare_decoded(objects, faults):
    """The first From, To and Subject entries against the email package."""
    counts = {}
    for record in objects:
        with open(record["file"], "rb") as f:
            message = f.read()
        if message.startswith(b"From "):
            continue
        parsed = email.message_from_bytes(message, policy=email.policy.default)
        for name in ("from", "to", "subject"):
            try:
                header = parsed[name]
            except Exception:
                header = None
            if header is None or not record[name] or record[name][0]["n"] != 1:
                continue
            got = record[name][0]["text"]
            got = got[got.index(":") + 1:]
            reason = difference_reason(name, got, header)
            key = (name, reason or "same")
            counts[key] = counts.get(key, 0) + 1
            if reason == "unknown":
                faults.append(f"{record['file']}: {name} {got!r}, the email package "
                              f"{str(header)!r}")
    for name in ("from", "to", "subject"):
        same = counts.get((name, "same"), 0)
        other = ", ".join(f"{counts[(n, r)]} {r}" for (n, r) in sorted(counts)
                          if n == name and r != "same")
        print(f"{name}: {same} agree with the email package; differ: {other or 'none'}")
    for reason, text in REASONS.items():
        print(f"  {reason}: {text}")


def main():
    mailsift, collection = sys.argv[1], sys.argv[2]
    if not os.path.isdir(collection):
        print(f"no collection at {collection}")
        return 77
    faults = []
    work = tempfile.mkdtemp()
    try:
        raw = run(mailsift, collection, os.path.join(work, "l.csv"),
                  "--UTF", "-d", ",", "--MSGID", "--SENT-UTC")
        if not raw.startswith(b"\xef\xbb\xbf"):
            faults.append("the comma listing has no byte-order mark")
        try:
            text = raw[3:].decode("utf-8")  # strict
        except UnicodeDecodeError as error:
            faults.append(f"the comma listing is no UTF-8: {error}")
            text = raw[3:].decode("utf-8", "replace")
        rows = list(csv.reader(io.StringIO(text, newline="")))
        header = rows[0]
        for number, row in enumerate(rows[1:], 2):
            if len(row) != len(header):
                faults.append(f"csv row {number} has {len(row)} fields, not {len(header)}")

        lines = run(mailsift, collection, os.path.join(work, "l.jsonl"),
                    "--JSON", "--MSGID", "--SENT-UTC").decode("utf-8", "replace").split("\n")
        if lines[-1] != "":
            faults.append("the JSON listing does not end with a line end")
        objects = [json.loads(line) for line in lines[:-1]]
        if shutil.which("jq"):
            jq = subprocess.run(["jq", "-c", ".", os.path.join(work, "l.jsonl")],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if jq.returncode != 0:
                faults.append(f"jq rejects the JSON listing: {jq.stderr[:300]!r}")
        if len(objects) != len(rows) - 1:
            faults.append(f"{len(objects)} JSON records against {len(rows) - 1} csv records")
        for record, row in zip(objects, rows[1:]):
            if record["file"] != row[0]:
                faults.append(f"JSON and csv order differ at {record['file']}")
                break
            for name in ENTRY_FIELDS:
                field = row[COLUMNS[name]]
                again = rebuilt(record[name])
                # A field cut at its cap may lack its last padding.
                if again != field and again.rstrip(" ") != field.rstrip(" "):
                    faults.append(f"{record['file']}: {name} {again!r} != {field!r}")
            if (record["message_id"] or "") != row[14] or (record["sent_utc"] or "") != row[15]:
                faults.append(f"{record['file']}: message_id or sent_utc differ")

        checked = 0
        names_checked = 0
        for record in objects:
            path = record["file"]
            with open(path, "rb") as f:
                message = f.read()
            if message.startswith(b"From "):
                continue
            parsed = email.message_from_bytes(message, policy=email.policy.default)
            heads = [line for line in message.split(b"\n\n")[0].split(b"\n")]
            for i, line in enumerate(heads):
                if line.lower().startswith(b"subject:"):
                    break
            else:
                continue
            folded = i + 1 < len(heads) and heads[i + 1][:1] in (b" ", b"\t")
            if folded or not record["subject"] or not line.isascii():
                continue
            try:
                expected = str(parsed["subject"])
            except Exception:
                continue
            if "\ufffd" in expected or any(d.defects for d in [parsed]):
                continue
            got = record["subject"][0]["text"]
            got = got[got.index(":") + 1:].strip()
            checked += 1
            if got != expected.strip():
                faults.append(f"{path}: subject {got!r}, the email package {expected!r}")
            names_checked += check_names(record, parsed, heads, faults)
        compare_decoded(objects, faults)
        print(f"{len(rows) - 1} records; {checked} subjects and {names_checked} sender names "
              "compared with the email package")
    finally:
        shutil.rmtree(work)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
