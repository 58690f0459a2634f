#!/bin/sh
# Makes the small JPEG files the widget tests read. Needs python3 and cjpeg
# (Debian package libjpeg-turbo-progs). The picture is four solid quadrants,
# red, green / blue, white, each a whole number of 16-pixel blocks so that
# chroma subsampling does not blur colours far from the seams. A little fixed
# noise keeps the scan data larger than the tables, so half a file still
# holds picture rows.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

quadrants() { # width height file
    python3 - "$1" "$2" "$3" <<'PY'
import sys
w, h, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
colours = [[(255, 0, 0), (0, 255, 0)], [(0, 0, 255), (255, 255, 255)]]
seed = 12345
rows = []
for y in range(h):
    row = bytearray()
    for x in range(w):
        for c in colours[y * 2 // h][x * 2 // w]:
            seed = (seed * 1103515245 + 12345) % 2**31
            n = (seed >> 16) % 25
            row.append(c - n if c else n)
    rows.append(bytes(row))
with open(out, "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    f.write(b"".join(rows))
PY
}

quadrants 96 64 "$tmp/a.ppm"
quadrants 160 96 "$tmp/b.ppm"
cjpeg -quality 90 -baseline -outfile baseline.jpg "$tmp/a.ppm"
cjpeg -quality 90 -progressive -outfile progressive.jpg "$tmp/b.ppm"
cjpeg -quality 90 -grayscale -outfile grayscale.jpg "$tmp/a.ppm"
