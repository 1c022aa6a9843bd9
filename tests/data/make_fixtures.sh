#!/usr/bin/env bash
# Regenerates the real-world fixtures in this folder: one small map-like
# picture saved by Pillow, ImageMagick and netpbm, plus the palette indices
# Pillow reads back (map.indices, top row first) as an independent reference.
# Then the same picture with its colours under other indices, as tools
# that build or trim a palette save it, and the GIMP palette (palette.gpl)
# that pins the colours to the reference indices:
# - pillow-trimmed.bmp: Pillow's remap_palette, a new order, and the saved
#   colour table trimmed to the 6 colours;
# - pillow-quantized.bmp: Pillow's quantize of the RGB picture, its own order;
# - imagemagick-remapped.bmp: ImageMagick's -remap of the RGB picture to 32
#   colours (ImageMagick writes 4-bit pictures for 16 colours or fewer), in
#   its own order, RLE8.
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

with open('palette.gpl', 'w') as gpl:
    gpl.write('GIMP Palette\nName: bmp2grid fixture terrain\nColumns: 6\n#\n')
    for name, c in zip(['sand', 'forest', 'grass', 'snow', 'rock', 'water'], colours):
        gpl.write('%3d %3d %3d\t%s\n' % (c + (name,)))
img.remap_palette([5, 3, 1, 0, 4, 2]).save('pillow-trimmed.bmp')
rgb = img.convert('RGB')
rgb.save('/tmp/bmp2grid-fixture-rgb.png')
rgb.quantize(colors=6).save('pillow-quantized.bmp')
extra = [(i * 9 % 256, 255 - i * 7 % 256, i * 37 % 256) for i in range(1, 27)]
remap = Image.new('RGB', (32, 1))
remap.putdata(extra[:13] + colours[::-1] + extra[13:])
remap.save('/tmp/bmp2grid-fixture-remap.png')
PY
convert /tmp/bmp2grid-fixture.png -type Palette BMP3:imagemagick-bmp3.bmp   # RLE8, 40-byte header
convert /tmp/bmp2grid-fixture.png -type Palette imagemagick.bmp             # RLE8, 124-byte header
pngtopnm /tmp/bmp2grid-fixture.png | ppmtobmp -os2 -bpp 8 > netpbm-os2.bmp  # 12-byte core header
convert /tmp/bmp2grid-fixture-rgb.png -remap /tmp/bmp2grid-fixture-remap.png -type Palette \
  BMP3:imagemagick-remapped.bmp                                             # RLE8, its own order
rm /tmp/bmp2grid-fixture.png /tmp/bmp2grid-fixture-rgb.png /tmp/bmp2grid-fixture-remap.png
