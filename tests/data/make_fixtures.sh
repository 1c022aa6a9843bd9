#!/usr/bin/env bash
# Regenerates the real-world fixtures in this folder: one small map-like
# picture saved by Pillow, ImageMagick and netpbm, as BMP and as PNG of every
# kind bmp2grid reads, plus the palette indices Pillow reads back
# (map.indices, top row first) as an independent reference; and PNGs it must
# refuse. Then the same picture with its colours under other indices, as
# tools that build or trim a palette save it, and the GIMP palette
# (palette.gpl) that pins the colours to the reference indices:
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

# PNG, mode P: 8 bits (a full palette), 4 bits; at 2 and 1 bits the picture
# with its indices cut to 0..3 and 0..1 (index & 3, index & 1), saved as a
# BMP too.
img.save('pillow-p8.png', bits=8)
img.save('pillow-p4.png', bits=4)
for bits in (2, 1):
    low = img.point(lambda i: i & ((1 << bits) - 1))
    low.putpalette([v for c in colours[:1 << bits] for v in c] + [0] * (768 - 3 * (1 << bits)))
    low.save('pillow-p%d.png' % bits, bits=bits)
    low.save('pillow-p%d.bmp' % bits)
# Mode L: the grey values are the indices.
grey = Image.frombytes('L', (W, H), bytes(img.getdata()))
grey.save('pillow-l.png')
# Refused: RGB, and 16-bit grey.
img.convert('RGB').save('pillow-rgb.png')
Image.frombytes('I;16', (W, H), bytes(v for i in img.getdata() for v in (i, 0))).save('pillow-grey16.png')
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
# PNG8 (indexed, 8 bits), non-interlaced and interlaced (Adam7); no dates,
# so that the files stay the same from run to run. ImageMagick orders the
# palette its own way, so the indices differ from the other files': the
# BMP of the same picture is Pillow's of imagemagick-png8.png, which keeps
# its palette and indices.
convert /tmp/bmp2grid-fixture.png -strip PNG8:imagemagick-png8.png
convert /tmp/bmp2grid-fixture.png -strip -interlace PNG PNG8:imagemagick-interlaced.png
/usr/bin/python3 -c "from PIL import Image; Image.open('imagemagick-png8.png').save('imagemagick-png8.bmp')"
# pnmtopng from the same source, its palette in the same order.
/usr/bin/python3 - <<'PY'
colours = [(200, 190, 120), (20, 90, 30), (40, 140, 50), (240, 240, 250), (120, 120, 120), (30, 90, 200)]
open('/tmp/bmp2grid-palette.ppm', 'wb').write(b'P6 %d 1 255\n' % len(colours) + bytes(v for c in colours for v in c))
PY
pngtopnm /tmp/bmp2grid-fixture.png | pnmtopng -palette=/tmp/bmp2grid-palette.ppm > netpbm.png
rm /tmp/bmp2grid-fixture.png /tmp/bmp2grid-fixture-rgb.png /tmp/bmp2grid-fixture-remap.png /tmp/bmp2grid-palette.ppm

# Damaged PNGs, made from Pillow's 8-bit file: cut short inside its image
# data; a wrong CRC on its image data; and a header announcing
# 2^31 - 1 x 2^31 - 1 pixels (with a right CRC).
/usr/bin/python3 - <<'PY'
import struct, zlib
good = open('pillow-p8.png', 'rb').read()
idat = good.index(b'IDAT') - 4
length = struct.unpack('>I', good[idat:idat + 4])[0]
open('png-truncated.png', 'wb').write(good[:idat + 8 + length // 2])
bad = bytearray(good)
bad[idat + 8 + length] ^= 0xFF  # the first byte of the IDAT chunk's CRC
open('png-bad-crc.png', 'wb').write(bytes(bad))
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
ihdr = struct.pack('>IIBBBBB', 2**31 - 1, 2**31 - 1, 8, 3, 0, 0, 0)
open('png-huge-ihdr.png', 'wb').write(good[:8] + chunk(b'IHDR', ihdr) + chunk(b'PLTE', bytes(6)) +
                                      chunk(b'IDAT', zlib.compress(b'')) + chunk(b'IEND', b''))
PY
