#!/bin/sh
# Regenerates the end-to-end corpus in this folder: pictures/ (the originals)
# and spool/<group>/<n> (articles as scripts/make-sample-articles writes them),
# encoded by the real tools that script uses. The checked-in copy is what the
# tests read; run this only to change the corpus.
#
#   one: 1 uuencode  2 xxencode  3 MIME Base64  4 text only  (5 missing)
#        6-8 one picture split over three uuencoded articles  9 filtered subject
#   two: 1 bare Base64  2 article 1 of "one" again under another name
#        3 a picture whose name tries to leave the output folder
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec python3 - "$here" "$here/../../../scripts/make-sample-articles" <<'PY'
import importlib.machinery, importlib.util, os, shutil, subprocess, sys, tempfile

out, maker = sys.argv[1], sys.argv[2]
loader = importlib.machinery.SourceFileLoader("samples", maker)
module_spec = importlib.util.spec_from_loader("samples", loader)
samples = importlib.util.module_from_spec(module_spec)
loader.exec_module(samples)
import email.mime.image, email.mime.multipart, email.mime.text

for sub in ("pictures", "spool"):
    shutil.rmtree(os.path.join(out, sub), ignore_errors=True)
pics = os.path.join(out, "pictures")
os.makedirs(pics)
spool = samples.Spool(os.path.join(out, "spool"))
work = tempfile.mkdtemp()

def picture(name, w, h, seed, progressive=False):
    data = samples.jpeg(w, h, seed, progressive)
    for folder in (pics, work):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return os.path.join(work, name), data

one = "alt.binaries.pictures.pixtrawl.one"
two = "alt.binaries.pictures.pixtrawl.two"

p, _ = picture("sunset.jpg", 200, 130, 1)
spool.post(one, "sunset.jpg (uuencoded)", samples.run(["uuencode", p, "sunset.jpg"]))

p, _ = picture("harbour.jpg", 180, 140, 2, progressive=True)
spool.post(one, "harbour.jpg (xxencoded)", samples.run(["uuenview", "-x", p]))

p, data = picture("meadow.jpg", 190, 120, 3)
msg = email.mime.multipart.MIMEMultipart()
msg.attach(email.mime.text.MIMEText("A meadow in spring.\n"))
msg.attach(email.mime.image.MIMEImage(data, "jpeg", name="meadow.jpg"))
body = msg.as_bytes().split(b"\n\n", 1)[1]
spool.post(one, "meadow.jpg (MIME)", b"This is a multi-part message in MIME format.\n" + body)

spool.post(one, "Re: where are the pictures?", b"Patience, they are coming.\n-- \nThe end\n")

spool.counts[one] += 1  # a gap: the server has no article 5

p, data = picture("bigcity.jpg", 480, 320, 4)
folder = os.path.join(work, "parts")
os.makedirs(folder)
lines = (len(data) + 44) // 45
samples.run(["uuenview", "-u", "-%d" % max(200, lines // 3 + 3), "-od", folder, p])
parts = sorted(os.listdir(folder))
assert len(parts) == 3, parts
for i, part in enumerate(parts, 1):
    with open(os.path.join(folder, part), "rb") as f:
        spool.post(one, "bigcity.jpg (%d/3)" % i, f.read())

spool.post(one, "SPAM buy now, great offer", b"nothing here\n")

p, _ = picture("forest.jpg", 160, 160, 5)
spool.post(two, "forest.jpg - bare Base64", samples.run(["base64", "-w", "72", p]))
spool.post(two, "sunset again, under another name",
           samples.run(["uuencode", os.path.join(work, "sunset.jpg"), "sunset-copy.jpg"]))
p, _ = picture("evil.jpg", 48, 48, 6)
spool.post(two, "a name that climbs out", samples.run(["uuencode", p, "../../evil.jpg"]))

shutil.rmtree(work)
print("corpus: %d pictures, %d articles" % (len(os.listdir(pics)), sum(len(os.listdir(os.path.join(out, "spool", g))) for g in (one, two))))
PY
