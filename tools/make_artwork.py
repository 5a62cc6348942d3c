#!/usr/bin/python3
"""Draws the window's artwork into app/res/: the 32 x 32 icon and the three
bitmaps (footer 172 x 27, banner 350 x 40, side picture 105 x 291); and the
icon at the desktop's other sizes (16, 48, 64, 128, 256) into
dist/linux/icons/, each drawn at its own size from the same art.
tools/windows/make-icon.sh puts all six into the Windows icon.

The pictures are committed, so building never runs this. To redraw them on
Debian 12: apt-get install python3-pil fonts-urw-base35 fonts-arphic-uming,
then run tools/make_artwork.py from anywhere. The drawing is deterministic.

The bitmaps are written as 32-bit BMP with the fourth byte of every pixel
zero (the window draws them opaque); the icon as a PNG whose alpha is either
0 or 255, a colour image with a transparency mask.
"""

import math
import os
import random

from PIL import Image, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "app", "res")

BRUSH_FONT = "/usr/share/fonts/opentype/urw-base35/Z003-MediumItalic.otf"
SERIF_BOLD = "/usr/share/fonts/opentype/urw-base35/C059-Bold.otf"
SONG_FONT = "/usr/share/fonts/truetype/arphic/uming.ttc"  # index 0: AR PL UMing CN

INK = (122, 22, 26)  # the house's deep red
GOLD = (196, 152, 64)
BEIGE = (246, 239, 222)
DESKTOP_SIZES = (16, 48, 64, 128, 256)  # and 32, the window's own


def song(size):
    return ImageFont.truetype(SONG_FONT, size, index=0)


def save_bitmap(img, name):
    """32 bits a pixel, fourth byte zero."""
    rgba = img.convert("RGB").convert("RGBA")
    rgba.putalpha(0)
    rgba.save(os.path.join(OUT, name), format="BMP")


def banner():
    w, h = 350, 40
    rng = random.Random(2014)
    img = Image.new("RGB", (w, h), BEIGE)
    d = ImageDraw.Draw(img)
    # A faint paper grain and a darker band at the foot.
    for _ in range(900):
        x, y = rng.randrange(w), rng.randrange(h)
        c = rng.randint(-9, 4)
        r, g, b = img.getpixel((x, y))
        img.putpixel((x, y), (r + c, g + c, b + c))
    for y in range(h - 6, h):
        t = (y - (h - 6)) / 6
        d.line([(0, y), (w, y)], fill=tuple(int(c - 14 * t) for c in BEIGE))

    font = ImageFont.truetype(BRUSH_FONT, 34)
    text = "Veltrane"
    left, top = 12, -2
    box = d.textbbox((0, 0), text, font=font)
    tw = box[2] + 8
    # Soft shadow: the lettering's mask, offset and blurred.
    shadow = Image.new("L", (w, h), 0)
    ImageDraw.Draw(shadow).text((left + 3, top + 3), text, font=font, fill=150)
    shadow = shadow.filter(ImageFilter.GaussianBlur(2.2))
    img.paste(Image.new("RGB", (w, h), (120, 100, 80)), (0, 0), shadow)
    # The lettering with ragged, dry-brush edges: the glyphs' mask loses a
    # little at random along the stroke edges and here and there inside.
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).text((left, top), text, font=font, fill=255)
    px = mask.load()
    for y in range(h):
        for x in range(w):
            v = px[x, y]
            if 0 < v < 255 or (v == 255 and rng.random() < 0.035):
                px[x, y] = max(0, v - rng.randint(0, 110))
    img.paste(Image.new("RGB", (w, h), INK), (0, 0), mask)

    small = song(12)
    d.text((left + tw + 2, 20), "(2014版)", font=small, fill=(70, 52, 40))
    # A red seal at the right end, as on a signed scroll.
    sx, sy = w - 34, 7
    d.rectangle([sx, sy, sx + 24, sy + 24], fill=(178, 34, 34))
    d.rectangle([sx + 2, sy + 2, sx + 22, sy + 22], outline=BEIGE)
    d.text((sx + 6, sy + 5), "安", font=song(13), fill=BEIGE)
    save_bitmap(img, "banner.bmp")


def emblem(d, cx, cy, r):
    """The institution's mark: a gold ring round a red disc with a white K."""
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=GOLD)
    d.ellipse([cx - r + 2, cy - r + 2, cx + r - 2, cy + r - 2], fill=INK)
    s = r * 0.5
    d.line([(cx - s * 0.6, cy - s), (cx - s * 0.6, cy + s)], fill="white", width=2)
    d.line([(cx - s * 0.5, cy + s * 0.1), (cx + s * 0.7, cy - s)], fill="white", width=2)
    d.line([(cx - s * 0.2, cy - s * 0.2), (cx + s * 0.75, cy + s)], fill="white", width=2)


def footer():
    w, h = 172, 27
    img = Image.new("RGB", (w, h), "white")
    d = ImageDraw.Draw(img)
    emblem(d, 13, 13, 11)
    d.text((30, 1), "Karsholm", font=ImageFont.truetype(SERIF_BOLD, 17), fill=INK)
    d.text((31, 19), "BANKING  GROUP", font=ImageFont.truetype(SERIF_BOLD, 6), fill=(110, 110, 110))
    d.line([(120, 5), (120, 22)], fill=GOLD)
    d.text((126, 7), "企业银行", font=song(11), fill=(60, 60, 60))
    save_bitmap(img, "footer.bmp")


def sidebar():
    w, h = 105, 291
    rng = random.Random(146)
    img = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(img)
    # Dusk over hills: deep red at the top fading to beige.
    for y in range(h):
        t = y / (h - 1)
        c = tuple(int(a + (b - a) * t) for a, b in zip((108, 18, 24), (236, 220, 190)))
        d.line([(0, y), (w, y)], fill=c)
    # Layered ink-wash hills.
    for layer, (base, amp, shade) in enumerate(
            [(205, 22, (150, 120, 100)), (232, 18, (100, 80, 70)), (258, 14, (60, 45, 40))]):
        pts = [(0, h)]
        phase = rng.random() * 6
        for x in range(0, w + 1, 3):
            y = base - amp * (0.6 * math.sin(x / 17 + phase) + 0.4 * math.sin(x / 7 + layer))
            pts.append((x, y))
        pts.append((w, h))
        d.polygon(pts, fill=shade)
    # An old round coin with a square hole, the sign of money kept safe.
    cx, cy, r = w // 2, 92, 30
    d.ellipse([cx - r, cy - r, cx + r, cy + r], fill=GOLD, outline=(120, 86, 30), width=2)
    d.ellipse([cx - r + 6, cy - r + 6, cx + r - 6, cy + r - 6], outline=(150, 110, 40), width=1)
    d.rectangle([cx - 8, cy - 8, cx + 8, cy + 8], fill=(126, 32, 30), outline=(120, 86, 30))
    f = song(11)
    # Read as on old coins: top, bottom, right, left.
    for ch, (dx, dy) in zip("安全加密", [(0, -20), (0, 20), (20, 0), (-20, 0)]):
        d.text((cx + dx - 5, cy + dy - 6), ch, font=f, fill=(100, 60, 20))
    # Vertical motto in gold, read top to bottom.
    f = song(14)
    for i, ch in enumerate("数据安全"):
        d.text((cx - 7, 140 + i * 16), ch, font=f, fill=(250, 236, 200))
    # A thin gold frame.
    d.rectangle([2, 2, w - 3, h - 3], outline=GOLD)
    save_bitmap(img, "sidebar.bmp")


def icon(size):
    """The icon drawn at size pixels from the same art, laid out on a grid of
    32 units: at 32 pixels and below a colour image with a transparency mask,
    above it with smooth edges."""
    scale = 8  # drawn large, then reduced, so the edges are smooth
    big = Image.new("RGBA", (size * scale, size * scale), (0, 0, 0, 0))
    d = ImageDraw.Draw(big)
    s = size * scale / 32  # one unit of the grid

    def w(units):
        return max(1, round(units * s))

    # A shield ...
    shield = [(4 * s, 4 * s), (28 * s, 4 * s), (28 * s, 16 * s), (16 * s, 30 * s), (4 * s, 16 * s)]
    d.polygon(shield, fill=INK + (255,))
    # Round the first corner too, passing it twice.
    d.line(shield + shield[:2], fill=GOLD + (255,), width=w(2), joint="curve")
    # ... with a padlock on it.
    d.rounded_rectangle([10 * s, 13 * s, 22 * s, 23 * s], radius=2 * s, fill=GOLD + (255,))
    d.arc([12 * s, 7 * s, 20 * s, 17 * s], 180, 360, fill=GOLD + (255,), width=w(2))
    d.line([(13 * s, 12 * s), (13 * s, 14 * s)], fill=GOLD + (255,), width=w(2))
    d.line([(19 * s, 12 * s), (19 * s, 14 * s)], fill=GOLD + (255,), width=w(2))
    d.ellipse([15 * s, 16 * s, 17 * s, 18 * s], fill=INK + (255,))
    d.rectangle([15.5 * s, 17 * s, 16.5 * s, 21 * s], fill=INK + (255,))
    small = big.resize((size, size), Image.LANCZOS)
    if size > 32:
        return small
    # Colour with a mask: every pixel fully opaque or fully transparent.
    r, g, b, a = small.split()
    a = a.point(lambda v: 255 if v >= 96 else 0)
    return Image.merge("RGBA", (r, g, b, a))


def icons():
    """The window's own 32-pixel icon, and the desktop's other sizes."""
    icon(32).save(os.path.join(OUT, "veltrane.png"))
    desktop = os.path.join(ROOT, "dist", "linux", "icons")
    os.makedirs(desktop, exist_ok=True)
    for size in DESKTOP_SIZES:
        icon(size).save(os.path.join(desktop, "veltrane-%d.png" % size))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    banner()
    footer()
    sidebar()
    icons()
