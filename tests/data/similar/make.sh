#!/bin/sh
# Regenerates the photographs in this folder from Debian packages
# (python3-skimage, mate-backgrounds, gnome-backgrounds; python3-pil and
# jpegtran encode). Only to change them: the tests read the checked-in copy.
#   coffee*: one photograph and its copies (re-encoded, resized, PNG, WebP,
#            metadata stripped), and its two halves
#   chelsea, ladybird, motorcycle-left/-right (two shots of one scene),
#   licorice-l/-d (light and dark twins of one design): distinct pictures
#   formats/: a small picture in every format the preview reads
set -eu
cd "$(dirname "$0")"
exec /usr/bin/python3 - <<'PY'
import os, subprocess
from PIL import Image

SK = "/usr/lib/python3/dist-packages/skimage/data/"
def load(path, size=(240, 160)):
    img = Image.open(path).convert("RGB")
    return img.resize(size, Image.LANCZOS)

coffee = load(SK + "coffee.png")
exif = Image.Exif()
exif[0x010E] = "Coffee"
coffee.save("coffee.jpg", "JPEG", quality=92, exif=exif.tobytes(), comment=b"a cup")
subprocess.run(["jpegtran", "-copy", "none", "-outfile", "coffee-stripped.jpg", "coffee.jpg"], check=True)
coffee.save("coffee-q40.jpg", "JPEG", quality=40)
coffee.save("coffee-q95.jpg", "JPEG", quality=95)
for pct in (30, 70):
    coffee.resize((240 * pct // 100, 160 * pct // 100), Image.LANCZOS).save("coffee-r%d.jpg" % pct, "JPEG", quality=85)
coffee.save("coffee.png", "PNG")
coffee.save("coffee.webp", "WEBP", quality=80)
coffee.crop((0, 0, 120, 160)).save("coffee-left.jpg", "JPEG", quality=90)
coffee.crop((120, 0, 240, 160)).save("coffee-right.jpg", "JPEG", quality=90)

load(SK + "chelsea.png").save("chelsea.jpg", "JPEG", quality=90)
load("/usr/share/backgrounds/mate/nature/LadyBird.jpg").save("ladybird.jpg", "JPEG", quality=90)
load(SK + "motorcycle_left.png").save("motorcycle-left.jpg", "JPEG", quality=90)
load(SK + "motorcycle_right.png").save("motorcycle-right.jpg", "JPEG", quality=90)
for v in ("l", "d"):
    load("/usr/share/backgrounds/gnome/licorice-%s.webp" % v).save("licorice-%s.jpg" % v, "JPEG", quality=90)

os.makedirs("formats", exist_ok=True)
small = coffee.resize((120, 80), Image.LANCZOS)
small.save("formats/coffee.png", "PNG")
small.save("formats/coffee.webp", "WEBP", quality=80)
small.save("formats/coffee.bmp", "BMP")
small.save("formats/coffee.tif", "TIFF", compression="tiff_deflate")
# Two frames: the preview shows the first.
small.save("formats/coffee.gif", "GIF", save_all=True, append_images=[small.rotate(180)], duration=100)
PY
