#!/usr/bin/env bash
# Renders the demo report's first page with the print program on A4 and on
# Letter and keeps each as a small greyscale PNG, framed so that the sheet's
# edge shows, in docs/images/ (the pictures docs/printing.md shows).
# Needs a build (build/tools/kelprint/kelprint) and poppler-utils.
# Usage: bash scripts/print_samples.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
kelprint=${1:-build}/tools/kelprint/kelprint
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp src/report/testdata/demo_all_catalan.prn "$work/kelprint.tmp"
for paper in a4 letter; do
  PAPERSIZE=$paper setsid -w "$kelprint" --device="PDF:$work/$paper.pdf" \
    "$work/kelprint.tmp" 2>/dev/null
  pdftoppm -r 40 -f 1 -l 1 -gray "$work/$paper.pdf" "$work/$paper"
  python3 - "$work/$paper-1.pgm" "docs/images/kelprint-$paper.png" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
fields, at = [], 0
while len(fields) < 4:  # P5, width, height, maximum
    while data[at:at + 1].isspace():
        at += 1
    end = at
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[at:end])
    at = end
at += 1
width, height = int(fields[1]), int(fields[2])
rows = [bytearray(data[at + r * width:at + (r + 1) * width]) for r in range(height)]
for r in range(height):  # a grey frame on the sheet's edge
    rows[r][0] = rows[r][-1] = 128
rows[0][:] = rows[-1][:] = bytes([128]) * width
raw = b"".join(b"\0" + bytes(row) for row in rows)
def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
png = (b"\x89PNG\r\n\x1a\n" +
       chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
open(sys.argv[2], "wb").write(png)
PY
done
ls -l docs/images/kelprint-a4.png docs/images/kelprint-letter.png
