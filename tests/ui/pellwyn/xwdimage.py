"""Screen pictures from an X server without image libraries: reads the XWD dump that `xwd`
writes (true-colour visuals, 24 or 32 bits a pixel), writes it as a PNG, and compares parts of
two pictures. Enough for a smoke test to keep what it saw and to tell whether a region changed.
"""

import struct
import zlib

_HEADER_FIELDS = 25  # CARD32 fields of XWDFileHeader, written most significant byte first


class Picture:
    """An RGB picture: width, height and one bytes object of rows of (r, g, b)."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]


def _shift_of(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift, mask


def read_xwd(data):
    """Decodes an XWD dump of a true-colour window or screen; raises ValueError otherwise."""
    if len(data) < _HEADER_FIELDS * 4:
        raise ValueError("XWD dump shorter than its header")
    h = struct.unpack(">%dI" % _HEADER_FIELDS, data[: _HEADER_FIELDS * 4])
    (header_size, version, pixmap_format, _depth, width, height, _xoffset, byte_order, _unit,
     _bit_order, _pad, bits_per_pixel, bytes_per_line, visual_class, red_mask, green_mask,
     blue_mask, _bits_per_rgb, _entries, ncolors) = h[:20]
    if version != 7 or pixmap_format != 2:
        raise ValueError("not a version 7 ZPixmap XWD dump")
    if visual_class not in (4, 5) or bits_per_pixel not in (24, 32):
        raise ValueError("only true-colour dumps of 24 or 32 bits a pixel are read")
    start = header_size + ncolors * 12
    if width <= 0 or height <= 0 or bytes_per_line < width * bits_per_pixel // 8:
        raise ValueError("XWD dump with impossible geometry")
    if len(data) < start + bytes_per_line * height:
        raise ValueError("XWD dump shorter than its image")
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    out = bytearray(width * height * 3)
    if step == 4 and order == "little" and (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF):
        # The usual layout (blue, green, red, unused): whole rows are sliced, not pixels.
        n = width * 4
        for y in range(height):
            row = data[start + y * bytes_per_line: start + y * bytes_per_line + n]
            o = y * width * 3
            out[o:o + width * 3:3] = row[2::4]
            out[o + 1:o + width * 3:3] = row[1::4]
            out[o + 2:o + width * 3:3] = row[0::4]
        return Picture(width, height, bytes(out))
    shifts = [_shift_of(m) for m in (red_mask, green_mask, blue_mask)]
    o = 0
    for y in range(height):
        row = start + y * bytes_per_line
        for x in range(width):
            p = int.from_bytes(data[row + x * step: row + x * step + step], order)
            for shift, mask in shifts:
                v = (p >> shift) & mask
                out[o] = v * 255 // mask if mask else 0
                o += 1
    return Picture(width, height, bytes(out))


def write_png(picture, path):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    stride = picture.width * 3
    raw = b"".join(b"\0" + picture.rgb[y * stride:(y + 1) * stride] for y in range(picture.height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", picture.width, picture.height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def changed_pixels(a, b, left, top, width, height):
    """How many pixels of the rectangle differ between two pictures of one size."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError("pictures of different sizes")
    right = min(a.width, left + width)
    bottom = min(a.height, top + height)
    count = 0
    for y in range(max(0, top), bottom):
        i = (y * a.width + max(0, left)) * 3
        j = (y * a.width + right) * 3
        ra, rb = a.rgb[i:j], b.rgb[i:j]
        if ra == rb:
            continue
        for k in range(0, len(ra), 3):
            if ra[k:k + 3] != rb[k:k + 3]:
                count += 1
    return count


def paste(under, over, left, top):
    """`under` with `over` laid on it at (left, top), cut to `under`'s size."""
    rgb = bytearray(under.rgb)
    x0, x1 = max(0, left), min(under.width, left + over.width)
    if x0 >= x1:
        return under
    for y in range(max(0, top), min(under.height, top + over.height)):
        src = ((y - top) * over.width + (x0 - left)) * 3
        dst = (y * under.width + x0) * 3
        rgb[dst:dst + (x1 - x0) * 3] = over.rgb[src:src + (x1 - x0) * 3]
    return Picture(under.width, under.height, bytes(rgb))


def crop(picture, left, top, width, height):
    left, top = max(0, left), max(0, top)
    width = max(1, min(width, picture.width - left))
    height = max(1, min(height, picture.height - top))
    rows = [picture.rgb[((top + y) * picture.width + left) * 3:((top + y) * picture.width + left + width) * 3]
            for y in range(height)]
    return Picture(width, height, b"".join(rows))
