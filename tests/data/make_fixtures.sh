#!/usr/bin/env bash
# Regenerates the real-world fixtures in this folder: one small map-like
# picture saved by Pillow, ImageMagick and netpbm, plus the palette indices
# Pillow reads back (map.indices, top row first) as an independent reference.
# Needs Debian's python3-pil, imagemagick and netpbm.
set -euo pipefail
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
import math, random
from PIL import Image
random.seed(4)
W, H = 37, 23
# The colours in the order ppmtobmp lists them, so every tool keeps the indices.
colours = [(200, 190, 120), (20, 90, 30), (40, 140, 50), (240, 240, 250), (120, 120, 120), (30, 90, 200)]
img = Image.new('P', (W, H))
img.putpalette([v for c in colours for v in c] + [0] * (768 - 3 * len(colours)))
px = img.load()
for y in range(H):
    for x in range(W):
        px[x, y] = max(0, min(5, int(3 + 2.5 * math.sin(x / 5 + y / 7) + random.random() * 1.2)))
img.save('pillow.bmp')
img.save('/tmp/bmp2grid-fixture.png')
open('map.indices', 'wb').write(bytes(img.getdata()))
PY
convert /tmp/bmp2grid-fixture.png -type Palette BMP3:imagemagick-bmp3.bmp   # RLE8, 40-byte header
convert /tmp/bmp2grid-fixture.png -type Palette imagemagick.bmp             # RLE8, 124-byte header
pngtopnm /tmp/bmp2grid-fixture.png | ppmtobmp -os2 -bpp 8 > netpbm-os2.bmp  # 12-byte core header
rm /tmp/bmp2grid-fixture.png
