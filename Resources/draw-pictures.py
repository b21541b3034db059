#!/usr/bin/python3
"""Draws the player's pictures into Resources/icons and Resources/Style.

Run it from anywhere after changing a picture: ./Resources/draw-pictures.py
(Debian: python3-pil). Every picture is drawn four times larger and scaled
down, which smooths its edges.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
SCALE = 4

INK = (44, 62, 80, 255)          # the transport symbols
ACCENT = (21, 101, 192, 255)     # a rate that is switched on
MUTED = (150, 158, 166, 255)     # a rate that is switched off
GREEN = (46, 125, 50, 255)
RED = (198, 40, 40, 255)


class Canvas:
    """A transparent picture drawn at SCALE times its size."""

    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.image = Image.new("RGBA", (width * SCALE, height * SCALE), background)
        self.draw = ImageDraw.Draw(self.image)

    @staticmethod
    def s(points):
        return [(x * SCALE, y * SCALE) for x, y in points]

    def polygon(self, points, fill):
        self.draw.polygon(self.s(points), fill=fill)

    def rect(self, x0, y0, x1, y1, fill, radius=0):
        box = [x0 * SCALE, y0 * SCALE, x1 * SCALE - 1, y1 * SCALE - 1]
        if radius:
            self.draw.rounded_rectangle(box, radius * SCALE, fill=fill)
        else:
            self.draw.rectangle(box, fill=fill)

    def ellipse(self, x0, y0, x1, y1, fill=None, outline=None, width=1.0):
        self.draw.ellipse([x0 * SCALE, y0 * SCALE, x1 * SCALE, y1 * SCALE], fill=fill,
                          outline=outline, width=int(width * SCALE) if outline else 0)

    def line(self, points, fill, width):
        self.draw.line(self.s(points), fill=fill, width=int(width * SCALE), joint="curve")
        for x, y in (points[0], points[-1]):
            r = width / 2
            self.ellipse(x - r, y - r, x + r, y + r, fill=fill)

    def arc(self, cx, cy, r, start, end, fill, width):
        self.draw.arc([(cx - r) * SCALE, (cy - r) * SCALE, (cx + r) * SCALE, (cy + r) * SCALE],
                      start, end, fill=fill, width=int(width * SCALE))

    def save(self, name, folder="icons", packed=True):
        picture = self.image.resize((self.width, self.height), Image.LANCZOS)
        path = os.path.join(HERE, folder, name)
        if name.endswith(".jpg"):
            picture.convert("RGB").save(path, quality=85)
        elif packed:
            picture.save(path, optimize=True)
        else:
            # Left unpacked, so that the resource compiler stores it compressed.
            picture.save(path, compress_level=0)


def transport(name, draw):
    c = Canvas(24, 24)
    draw(c)
    c.save(name)


def play(c):
    c.polygon([(7, 4), (20, 12), (7, 20)], INK)


def pause(c):
    c.rect(6, 5, 10, 19, INK, 1)
    c.rect(14, 5, 18, 19, INK, 1)


def stop(c):
    c.rect(5, 5, 19, 19, INK, 2)


def rewind(c):
    c.polygon([(12, 5), (2, 12), (12, 19)], INK)
    c.polygon([(22, 5), (12, 12), (22, 19)], INK)


def forward(c):
    c.polygon([(2, 5), (12, 12), (2, 19)], INK)
    c.polygon([(12, 5), (22, 12), (12, 19)], INK)


def speaker(c, waves=True):
    c.rect(1, 6.5, 6, 12.5, INK, 0.5)
    c.polygon([(5, 6.5), (11, 1.5), (11, 17.5), (5, 12.5)], INK)
    if waves:
        c.arc(11, 9.5, 4, -50, 50, INK, 1.6)
        c.arc(11, 9.5, 8, -50, 50, INK, 1.6)


def audio():
    c = Canvas(22, 19)
    speaker(c)
    c.save("audio.png")


def audio_muted():
    c = Canvas(22, 19)
    speaker(c, waves=False)
    c.line([(14, 6), (20, 13)], RED, 2)
    c.line([(20, 6), (14, 13)], RED, 2)
    c.save("audio-x.png")


def rate(name, width, glyph, on):
    """A rate button: a blue plate with a white sign when on, a grey sign when off."""
    c = Canvas(width, 12)
    colour = (255, 255, 255, 255) if on else MUTED
    if on:
        c.rect(0, 0, width, 12, ACCENT, 2.5)
    glyph(c, colour)
    c.save(name)


def slow_glyph(c, colour):
    c.rect(2.5, 3, 4, 9, colour)
    c.polygon([(5.5, 3), (9.5, 6), (5.5, 9)], colour)


def normal_glyph(c, colour):
    c.polygon([(3.5, 2.5), (9.5, 6), (3.5, 9.5)], colour)


def fast_glyph(c, colour):
    c.polygon([(3.5, 2.5), (9.5, 6), (3.5, 9.5)], colour)
    c.polygon([(10, 2.5), (16, 6), (10, 9.5)], colour)


def video():
    """The empty video area: a dark screen with a film frame and a play sign."""
    w, h = 314, 350
    c = Canvas(w, h)
    for y in range(h * SCALE):
        shade = int(58 - 30 * y / (h * SCALE))
        c.draw.line([(0, y), (w * SCALE, y)], fill=(shade, shade + 4, shade + 10, 255))
    frame = (120, 130, 142, 255)
    c.rect(62, 110, 252, 240, frame, 10)
    c.rect(70, 124, 244, 226, (34, 40, 48, 255), 6)
    for x in range(74, 244, 20):
        c.rect(x, 114, x + 10, 120, (34, 40, 48, 255), 2)
        c.rect(x, 230, x + 10, 236, (34, 40, 48, 255), 2)
    c.ellipse(131, 149, 183, 201, fill=(90, 100, 112, 255))
    c.polygon([(149, 162), (171, 175), (149, 188)], (210, 216, 222, 255))
    c.save("video.png")


def application_icon():
    """A blue plate with a play sign above the bars of several microphone channels."""
    c = Canvas(128, 128)
    top, bottom = (30, 136, 229), (13, 71, 161)
    plate = Image.new("RGBA", c.image.size)
    shade = ImageDraw.Draw(plate)
    for y in range(plate.size[1]):
        t = y / plate.size[1]
        shade.line([(0, y), (plate.size[0], y)],
                   fill=tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)) + (255,))
    mask = Image.new("L", c.image.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle([4 * SCALE, 4 * SCALE, 124 * SCALE, 124 * SCALE],
                                           22 * SCALE, fill=255)
    shadow = mask.filter(ImageFilter.GaussianBlur(3 * SCALE))
    c.image.paste((0, 0, 0, 90), (0, 2 * SCALE), shadow)
    c.image.paste(plate, (0, 0), mask)
    white = (255, 255, 255, 255)
    c.polygon([(44, 22), (88, 48), (44, 74)], white)
    bars = [10, 18, 26, 14, 22, 30, 16, 8]
    for i, height in enumerate(bars):
        x = 22 + i * 11
        c.rect(x, 106 - height, x + 7, 106, (255, 255, 255, 215), 2)
    c.save("Harbend-Player.png")


def plus(c, colour, size):
    m = size / 2
    c.line([(m, 3), (m, size - 3)], colour, size / 5)
    c.line([(3, m), (size - 3, m)], colour, size / 5)


def minus(c, colour, size):
    m = size / 2
    c.line([(3, m), (size - 3, m)], colour, size / 5)


def small(name, draw, size=16, folder="icons", packed=True):
    c = Canvas(size, size)
    draw(c)
    c.save(name, folder, packed)


def edit_item(c):
    c.polygon([(3, 13), (3.5, 10), (11, 2.5), (13.5, 5), (6, 12.5)], INK)
    c.polygon([(3, 13), (3.5, 10), (6, 12.5)], (230, 180, 90, 255))


def export_item(c):
    c.rect(2, 6, 12, 14, INK, 1.5)
    c.rect(3.5, 7.5, 10.5, 12.5, (255, 255, 255, 255))
    c.line([(7, 10), (13, 4)], ACCENT, 1.6)
    c.polygon([(10, 2), (15, 2), (15, 7)], ACCENT)


def search_item(c):
    c.ellipse(2, 2, 11, 11, outline=INK, width=1.8)
    c.line([(10, 10), (14, 14)], INK, 2.2)


def chevron(direction):
    def draw(c):
        points = [(4.5, 2.5), (8, 6), (4.5, 9.5)]
        angle = {"right": 0, "down": 90, "left": 180, "up": 270}[direction]
        a = math.radians(angle)
        turned = [(6 + (x - 6) * math.cos(a) - (y - 6) * math.sin(a),
                   6 + (x - 6) * math.sin(a) + (y - 6) * math.cos(a)) for x, y in points]
        c.line(turned, INK, 1.6)
    return draw


def volume_track():
    c = Canvas(100, 10)
    c.polygon([(1, 8.5), (99, 1.5), (99, 8.5)], (190, 196, 202, 255))
    c.save("vol-bkg-trackbar.png")


def nature():
    """A meadow under an evening sky, the backdrop of one of the unused sheets."""
    w, h = 320, 240
    c = Canvas(w, h)
    for y in range(h * SCALE):
        t = y / (h * SCALE)
        c.draw.line([(0, y), (w * SCALE, y)],
                    fill=(int(120 + 100 * t), int(170 + 40 * t), int(220 - 60 * t), 255))
    for base, amp, colour in ((150, 18, (96, 140, 70, 255)), (175, 14, (70, 118, 52, 255)),
                              (200, 10, (52, 96, 40, 255))):
        points = [(x, base + amp * math.sin(x / 37.0 + base)) for x in range(0, w + 1, 4)]
        c.polygon(points + [(w, h), (0, h)], colour)
    c.ellipse(240, 30, 276, 66, fill=(255, 236, 170, 255))
    c.save("nature_1.jpg", "Style")


def main():
    transport("player_play.png", play)
    transport("player_pause.png", pause)
    transport("player_stop.png", stop)
    transport("player_rewind.png", rewind)
    transport("player_forward.png", forward)
    audio()
    audio_muted()
    for state, on in (("on", True), ("off", False)):
        rate("playslow%s.png" % state, 12, slow_glyph, on)
        rate("playnormal%s.png" % state, 12, normal_glyph, on)
        rate("playfast%s.png" % state, 20, fast_glyph, on)
    video()
    application_icon()
    small("add_item.png", lambda c: plus(c, GREEN, 16), packed=False)
    small("edit_item.png", edit_item)
    small("export_item.png", export_item)
    small("search_item.png", search_item)
    for direction in ("left", "right", "up", "down"):
        small("expand-%s.png" % direction, chevron(direction), 12)
    volume_track()
    small("add.png", lambda c: plus(c, GREEN, 16), folder="Style")
    small("remove.png", lambda c: minus(c, RED, 16), folder="Style")
    nature()


if __name__ == "__main__":
    main()
