#!/usr/bin/python3
# Makes the look-alike corpus from real photographs and designs that Debian
# packages ship (mate-backgrounds, gnome-backgrounds, python3-skimage), into
# the folder given, with manifest.tsv: file, role, picture.
#   original   every distinct picture (light and dark twins, other shots of
#              one scene and colour variants of one design among them)
#   copy       re-encoded, resized, PNG, WebP, metadata stripped: to be set aside
#   half       the left and right halves of an original: not to be set aside
#   mirrored, cropped   reported as figures only
# Also big.jpg (12 megapixels, baseline) and big-progressive.jpg for timing.
import io, os, subprocess, sys
from PIL import Image, ImageOps

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
MATE = "/usr/share/backgrounds/mate"
GNOME = "/usr/share/backgrounds/gnome"
SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data"
LONGEST = 2000  # originals are kept no larger, so the corpus builds quickly

sources = []
for sub in ("nature", "abstract", "desktop"):
    for f in sorted(os.listdir(os.path.join(MATE, sub))):
        # The larger Elephants are the same picture: they are copies below.
        if not f.startswith("Elephants_"):
            sources.append(os.path.join(MATE, sub, f))
for f in sorted(os.listdir(GNOME)):
    if f.endswith(".webp") and not f.startswith("vnc"):
        sources.append(os.path.join(GNOME, f))
for f in ("astronaut.png", "camera.png", "chelsea.png", "coffee.png", "motorcycle_left.png",
          "motorcycle_right.png", "rocket.jpg", "hubble_deep_field.jpg", "moon.png", "coins.png",
          "retina.jpg", "brick.png", "grass.png", "gravel.png", "clock_motion.png", "ihc.png", "cell.png"):
    sources.append(os.path.join(SKIMAGE, f))

manifest = []

def save(img, name, fmt, **kw):
    img.save(os.path.join(out, name), fmt, **kw)

def record(name, role, picture):
    manifest.append((name, role, picture))

# Overlays with transparency (wallpaper packages ship light and dark ones)
# are laid on mid grey, so both twins show their design.
def rgb(img):
    if img.mode in ("RGBA", "LA", "P", "PA"):
        img = img.convert("RGBA")
        back = Image.new("RGB", img.size, (128, 128, 128))
        back.paste(img, mask=img.split()[3])
        return back
    return img.convert("RGB") if img.mode not in ("RGB", "L") else img

for n, src in enumerate(sources):
    base = "%02d-%s" % (n, os.path.splitext(os.path.basename(src))[0].lower())
    img = rgb(Image.open(src))
    if max(img.size) > LONGEST:
        img.thumbnail((LONGEST, LONGEST), Image.LANCZOS)
    ext = os.path.splitext(src)[1].lower()
    # Originals keep their format; JPEG ones carry a comment and EXIF to strip.
    if ext == ".jpg":
        orig = base + ".jpg"
        exif = Image.Exif()
        exif[0x010E] = "A photograph"  # ImageDescription
        save(img, orig, "JPEG", quality=92, exif=exif.tobytes(), comment=b"kept by the corpus")
        subprocess.run(["jpegtran", "-copy", "none", "-outfile", os.path.join(out, base + "--stripped.jpg"),
                        os.path.join(out, orig)], check=True)
    elif ext == ".webp":
        orig = base + ".webp"
        save(img, orig, "WEBP", quality=90)
        save(img, base + "--stripped.webp", "WEBP", quality=90)  # Pillow writes no metadata
    else:
        orig = base + ".png"
        save(img, orig, "PNG", pnginfo=None)
        save(img, base + "--stripped.png", "PNG", optimize=True)
    record(orig, "original", orig)
    record(base + "--stripped" + os.path.splitext(orig)[1], "copy:stripped", orig)
    for q in (40, 60, 80, 95):
        save(img, "%s--q%d.jpg" % (base, q), "JPEG", quality=q)
        record("%s--q%d.jpg" % (base, q), "copy:jpeg-q%d" % q, orig)
    for pct in (30, 50, 70, 90):
        small = img.resize((max(1, img.width * pct // 100), max(1, img.height * pct // 100)), Image.LANCZOS)
        save(small, "%s--r%d.jpg" % (base, pct), "JPEG", quality=85)
        record("%s--r%d.jpg" % (base, pct), "copy:resized-%d" % pct, orig)
    if ext != ".png":
        save(img, base + "--conv.png", "PNG")
        record(base + "--conv.png", "copy:png", orig)
    if ext != ".webp":
        save(img, base + "--conv.webp", "WEBP", quality=80)
        record(base + "--conv.webp", "copy:webp", orig)
    save(ImageOps.mirror(img), base + "--mirrored.jpg", "JPEG", quality=85)
    record(base + "--mirrored.jpg", "mirrored", orig)
    for keep in (90, 80):
        dx, dy = img.width * (100 - keep) // 200, img.height * (100 - keep) // 200
        save(img.crop((dx, dy, img.width - dx, img.height - dy)), "%s--crop%d.jpg" % (base, keep), "JPEG", quality=85)
        record("%s--crop%d.jpg" % (base, keep), "cropped-%d" % keep, orig)
    w = img.width // 2
    for side, box in (("left", (0, 0, w, img.height)), ("right", (w, 0, 2 * w, img.height))):
        save(img.crop(box), "%s--%s-half.jpg" % (base, side), "JPEG", quality=90)
        record("%s--%s-half.jpg" % (base, side), "half", orig)

# The package's own larger sizes of one picture: real resized copies.
elephants = [m[0] for m in manifest if m[1] == "original" and "elephants" in m[0]][0]
for f in ("Elephants_3840x2160.jpg",):
    img = Image.open(os.path.join(MATE, "abstract", f))
    save(img, "package-" + f.lower(), "JPEG", quality=90)
    record("package-" + f.lower(), "copy:package-size", elephants)

# 12 megapixels of a real photograph, for timing.
big = Image.open(os.path.join(MATE, "abstract", "Elephants_5640x3172.jpg")).convert("RGB").resize((4000, 3000), Image.LANCZOS)
save(big, "big.jpg", "JPEG", quality=90)
save(big, "big-progressive.jpg", "JPEG", quality=90, progressive=True)

with open(os.path.join(out, "manifest.tsv"), "w") as f:
    for row in manifest:
        f.write("\t".join(row) + "\n")
print("%d files, %d originals" % (len(manifest), sum(1 for m in manifest if m[1] == "original")))
