#!/usr/bin/python3
"""Draws the bundled sample: a small island map as an 8-bit BMP (needs Pillow).

Palette indices: 0 deep sea, 1 shallow sea, 2 beach, 3 grass, 4 forest,
5 hills, 6 snow.
"""
import math
from PIL import Image

W, H = 64, 40
colours = [(16, 40, 120), (30, 90, 200), (220, 205, 140), (70, 160, 60),
           (25, 95, 35), (130, 120, 100), (245, 245, 250)]
img = Image.new('P', (W, H))
img.putpalette([v for c in colours for v in c] + [0] * (768 - 3 * len(colours)))
px = img.load()
for y in range(H):
    for x in range(W):
        # Distance from the island's centre, with a wobbly coast.
        dx, dy = (x - 31.5) / 26, (y - 19.5) / 16
        r = math.hypot(dx, dy) + 0.12 * math.sin(3 * math.atan2(dy, dx) + x / 9)
        height = 1.15 - r + 0.08 * math.sin(x / 3.1) * math.cos(y / 2.7)
        levels = [(-0.25, 0), (0.0, 1), (0.08, 2), (0.35, 3), (0.6, 4), (0.8, 5)]
        px[x, y] = next((i for limit, i in levels if height < limit), 6)
img.save('sample.bmp')
