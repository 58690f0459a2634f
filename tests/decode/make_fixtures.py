#!/usr/bin/env python3
"""Regenerates tests/data/decode/ from real encoders.

Needs sharutils (uuencode), uudeview (uuenview), coreutils (base64),
Python's email package, and for yEnc python3-sabyenc and python3-yenc (Debian
packages: run this with /usr/bin/python3). The originals are not stored: they come from the
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
YENC_SMALL = [1, 3000]
YENC_BIG = 100000
YENC_LINES_PER_PART = 200


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


def sabyenc_encode(data):
    import sabyenc3
    encoded, crc = sabyenc3.encode(data)
    return encoded, crc & 0xFFFFFFFF


def python_yenc_encode(data):
    import _yenc
    encoded, crc, _ = _yenc.encode_string(data, 0xFFFFFFFF, 0)
    return encoded, ~crc & 0xFFFFFFFF


def yenc_parts(encoder, name, data, pieces):
    """Single-part file when pieces is 1, else that many parts with total=."""
    import zlib
    out = []
    step = (len(data) + pieces - 1) // pieces
    whole = zlib.crc32(data) & 0xFFFFFFFF
    for i in range(pieces):
        chunk = data[i * step:(i + 1) * step]
        encoded, crc = encoder(chunk)
        assert crc == zlib.crc32(chunk) & 0xFFFFFFFF
        head = b"=ybegin "
        if pieces > 1:
            head += b"part=%d total=%d " % (i + 1, pieces)
        head += b"line=128 size=%d name=%s\n" % (len(data), name.encode())
        if pieces > 1:
            head += b"=ypart begin=%d end=%d\n" % (i * step + 1, i * step + len(chunk))
        body = encoded.replace(b"\r\n", b"\n")
        if body and not body.endswith(b"\n"):
            body += b"\n"
        if pieces > 1:
            tail = b"=yend size=%d part=%d pcrc32=%08x crc32=%08x\n" % (len(chunk), i + 1, crc, whole)
        else:
            tail = b"=yend size=%d crc32=%08x\n" % (len(chunk), crc)
        out.append(head + body + tail)
    return out


def yenc_fixtures():
    for size in YENC_SMALL:
        seed = 1000 + size
        name = "pic-%d.bin" % size
        data = original(size, seed)
        (y,) = uuenview("-y", size, seed, name)
        write("yenc-uuenview-%d.yenc" % size, y)
        write("yenc-sabyenc-%d.yenc" % size, yenc_parts(sabyenc_encode, name, data, 1)[0])
        write("yenc-python-%d.yenc" % size, yenc_parts(python_yenc_encode, name, data, 1)[0])
    seed = 7
    for i, p in enumerate(uuenview("-y", YENC_BIG, seed, "big.bin", YENC_LINES_PER_PART), 1):
        write("yenc-uuenview-big.%03d" % i, p)
    data = original(YENC_BIG, seed)
    for tag, enc, pieces in (("sabyenc", sabyenc_encode, 3), ("python", python_yenc_encode, 2)):
        for i, p in enumerate(yenc_parts(enc, "big.bin", data, pieces), 1):
            write("yenc-%s-big.%03d" % (tag, i), p)


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

    yenc_fixtures()


if __name__ == "__main__":
    main()
