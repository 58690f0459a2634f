#!/usr/bin/env python3
"""Regenerates tests/data/decode/ from real encoders.

Needs sharutils (uuencode), uudeview (uuenview), coreutils (base64) and
Python's email package. The originals are not stored: they come from the
xorshift32 generator below, which the tests repeat (DecodeFixtureTest.cpp).
"""
import os
import shutil
import subprocess
import sys
import tempfile
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email import policy

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "data", "decode")

SMALL = [0, 1, 2, 3, 44, 45, 46]
MEDIUM = 6000
BIG = 102400
LINES_PER_PART = 500


def original(size, seed):
    x = seed & 0xFFFFFFFF or 1
    out = bytearray(size)
    for i in range(size):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x & 0xFF
    return bytes(out)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def run(args, cwd=None, stdin=None):
    return subprocess.run(args, cwd=cwd, input=stdin, check=True, capture_output=True).stdout


def uuenview(kind, size, seed, name, lines_per_part=None):
    """Returns the parts uuenview writes for one file, in order."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, name)
        with open(src, "wb") as f:
            f.write(original(size, seed))
        outdir = os.path.join(tmp, "out")
        os.mkdir(outdir)
        args = ["uuenview", kind]
        if lines_per_part:
            args.append("-%d" % lines_per_part)
        args += ["-od", outdir, src]
        run(args)
        parts = sorted(os.listdir(outdir))
        return [open(os.path.join(outdir, p), "rb").read() for p in parts]


def xx_data_line_with_end(text):
    lines = text.split(b"\n")
    begin = next(i for i, l in enumerate(lines) if b"begin " in l)
    for l in lines[begin + 1:]:
        if l.startswith(b"h") and len(l) == 61 and b"end" in l:
            return True
    return False


def mime_legacy(data, name):
    msg = MIMEMultipart(boundary="===============4711000000000000000==")
    msg.attach(MIMEText("here is one\n"))
    part = MIMEApplication(data, name=name)
    part.add_header("Content-Disposition", "attachment", filename=name)
    part.add_header("X-Attachment-Id", "f_" + name.replace(".", "_"))
    msg.attach(part)
    return msg.as_bytes()


def mime_modern(data, name):
    msg = EmailMessage()
    msg["Subject"] = name
    msg.set_content("see attachment\n")
    msg.add_attachment(data, maintype="image", subtype="jpeg", filename=name)
    msg.set_boundary("===============4712000000000000000==")
    return msg.as_bytes(policy=policy.default)


def body_of(message):
    # An article body is what follows the top-level header.
    return message.split(b"\n\n", 1)[1]


def main():
    for tool in ("uuencode", "uuenview", "base64"):
        if not shutil.which(tool):
            sys.exit("missing " + tool)
    os.makedirs(OUT, exist_ok=True)
    for f in os.listdir(OUT):
        os.remove(os.path.join(OUT, f))

    for size in SMALL + [MEDIUM, MEDIUM + 1]:
        seed = 1000 + size
        name = "pic-%d.bin" % size
        data = original(size, seed)
        # Bare Base64 needs more than 50 lines; both medium sizes, for the
        # result with and without a pad.
        write("base64-%d.b64" % size, run(["base64", "-w", "72"], stdin=data))
        if size > MEDIUM:
            continue
        write("sharutils-%d.uue" % size, run(["uuencode", name], stdin=data))
        write("python-%d.eml" % size, body_of(mime_legacy(data, name)))
        if size == MEDIUM:
            continue
        (uu,) = uuenview("-u", size, seed, name)
        write("uuenview-%d.uue" % size, uu)
        (xx,) = uuenview("-x", size, seed, name)
        write("uuenview-%d.xxe" % size, xx)
        write("python-modern-%d.eml" % size, body_of(mime_modern(data, name)))

    # A large file whose xxencoding holds "end" inside a data line.
    seed = 1
    while not xx_data_line_with_end(b"".join(uuenview("-x", BIG, seed, "big.bin"))):
        seed += 1
    for kind, ext in (("-u", "uue"), ("-x", "xxe")):
        parts = uuenview(kind, BIG, seed, "big.bin", LINES_PER_PART)
        for i, p in enumerate(parts, 1):
            write("big-%d.%s.%03d" % (seed, ext, i), p)


if __name__ == "__main__":
    main()
