#!/usr/bin/env python3
"""Writes the pictures and tones, good and bad, that the hardening tests feed the program.

    make_corpus.py OUTDIR           the full set: OUTDIR/pictures/..., OUTDIR/tones/...
    make_corpus.py --seeds OUTDIR   small starting inputs for the fuzzers:
                                    OUTDIR/picture/... and OUTDIR/tone/...

Every file is built from nothing here (Python's standard library only), so that the set is the
same on every machine and nothing of it needs to be kept in the repository. Tones come in
pairs, NAME_l.wav and NAME_r.wav, because choosing either file of a pair is what makes the
stimulation play that pair.
"""

import math
import os
import shutil
import struct
import sys
import zlib

# ------------------------------------------------------------------------------------------
# Pictures


def dib(width, height, bits, pixel, with_mask=False):
    """A device-independent bitmap: BITMAPINFOHEADER and bottom-up rows.

    With with_mask, laid out as an icon image: the header's height counts the colour rows and
    the mask rows, and a 1-bit AND mask follows the colours."""
    row = ((width * bits + 31) // 32) * 4
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            if bits == 32:
                line += bytes((b, g, r, 255))
            else:
                line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        rows += line
    mask = b""
    if with_mask:
        mask_row = ((width + 31) // 32) * 4
        mask = b"\0" * (mask_row * height)
    header_height = height * 2 if with_mask else height
    header = struct.pack("<IiiHHIIiiII", 40, width, header_height, 1, bits, 0,
                         len(rows) + len(mask), 2835, 2835, 0, 0)
    return header + bytes(rows) + mask


def bmp(width, height, bits=24, pixel=None):
    pixel = pixel or face_pixel(width, height)
    body = dib(width, height, bits, pixel)
    return struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40) + body


def bmp_header_only(width, height, bits=24):
    """A bitmap header that claims width x height pixels, with a few bytes of pixels after."""
    row = ((width * bits + 31) // 32) * 4
    image_size = (row * height) & 0xFFFFFFFF
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size,
                         2835, 2835, 0, 0)
    body = header + b"\x80" * 64
    file_size = (14 + 40 + image_size) & 0xFFFFFFFF
    return struct.pack("<2sIHHI", b"BM", file_size, 0, 0, 14 + 40) + body


def ico(images):
    """An icon file of (width, height, image bytes) entries."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for width, height, image in images:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image),
                               offset + len(data))
        data += image
    return out + entries + data


def ico_image(width, height):
    return width, height, dib(width, height, 32, face_pixel(width, height), with_mask=True)


def png(width, height):
    def chunk(kind, payload):
        return (struct.pack(">I", len(payload)) + kind + payload +
                struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF))

    pixel = face_pixel(width, height)
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw += bytes(pixel(x, y))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def face_pixel(width, height):
    """A yellow disc on blue, so that a picture that shows can be told from the background."""
    cx, cy, radius = (width - 1) / 2, (height - 1) / 2, min(width, height) / 2.2

    def pixel(x, y):
        if (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
            return 250, 210, 30
        return 20, 40, 160

    return pixel


def big_bmp(width, height):
    """A plain bitmap too large for the screen, written row by row without a per-pixel loop."""
    row = ((width * 3 + 3) // 4) * 4
    line = bytes((160, 40, 20)) * width
    line += b"\0" * (row - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, row * height, 2835, 2835,
                         0, 0)
    return (struct.pack("<2sIHHI", b"BM", 14 + 40 + row * height, 0, 0, 54) + header +
            line * height)


# ------------------------------------------------------------------------------------------
# Tones


def wav(rate=44100, channels=2, bits=16, fmt=1, seconds=0.2, frequency=440.0, second_copies=1):
    """A wave file holding a sine. fmt 1 is integer samples, 3 floating point. The samples of
    one period's worth of whole seconds are repeated second_copies times, so that a file of
    minutes costs no more to make than one of a second."""
    frames = int(rate * seconds)
    samples = bytearray()
    for i in range(frames):
        value = 0.3 * math.sin(2 * math.pi * frequency * i / rate)
        if fmt == 3:
            one = struct.pack("<f", value)
        elif bits == 8:
            one = bytes((int(128 + 127 * value),))
        elif bits == 16:
            one = struct.pack("<h", int(32767 * value))
        elif bits == 24:
            one = struct.pack("<i", int(8388607 * value))[:3]
        else:
            one = struct.pack("<i", int(2147483647 * value))
        samples += one * channels
    data = bytes(samples) * second_copies
    block = channels * bits // 8
    fmt_chunk = struct.pack("<HHIIHH", fmt, channels, rate, rate * block, block, bits)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt_chunk)) + fmt_chunk + b"data" +
            struct.pack("<I", len(data)) + data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav_nearly_empty(rate, channels, held=0):
    """A 16-bit wave file whose data chunk holds only `held` bytes. SDL2_mixer 2.8 frees such
    a tone twice when converting it (any rate but 44.1 kHz, or mono) leaves no sample: no
    whole frame, or a single frame at 48 kHz."""
    body = wav(rate=rate, channels=channels, seconds=0)[8:40] + struct.pack("<I", held)
    body += b"\x10" * held
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav_claims_more(claimed_bytes):
    """A wave header whose data chunk claims more bytes than follow."""
    good = wav(seconds=0.01)
    head = good[:40] + struct.pack("<I", claimed_bytes)
    return head + good[44:]


# ------------------------------------------------------------------------------------------
# The sets

TEXT = b"These are notes for the session, not a picture or a tone.\n" * 4

# Names of 200 and more characters, as a practitioner's own folders may hold.
LONG_NAME = "a very long name of a file chosen by the practitioner " * 4


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    # Read back: a short write here would make a test fail for the wrong reason.
    with open(path, "rb") as f:
        if f.read() != data:
            raise SystemExit(f"{path}: read back differs from what was written")


def tone_pair(folder, stem, data):
    write(os.path.join(folder, stem + "_l.wav"), data)
    write(os.path.join(folder, stem + "_r.wav"), data)


def full_set(out):
    pictures = os.path.join(out, "pictures")
    tones = os.path.join(out, "tones")
    for folder in (pictures, tones):
        if os.path.isdir(folder):
            shutil.rmtree(folder)

    good_bmp = bmp(32, 32)
    good_ico = ico([ico_image(32, 32)])
    write(os.path.join(pictures, "good.bmp"), good_bmp)
    write(os.path.join(pictures, "good.ico"), good_ico)
    write(os.path.join(pictures, "several-sizes.ico"),
          ico([ico_image(16, 16), ico_image(48, 48), ico_image(32, 32)]))
    write(os.path.join(pictures, "wide-48x24.bmp"), bmp(48, 24))
    write(os.path.join(pictures, "empty.bmp"), b"")
    write(os.path.join(pictures, "empty.ico"), b"")
    write(os.path.join(pictures, "truncated-header.bmp"), good_bmp[:30])
    write(os.path.join(pictures, "truncated-pixels.bmp"), good_bmp[:54 + 300])
    write(os.path.join(pictures, "truncated.ico"), good_ico[:6 + 16 + 60])
    write(os.path.join(pictures, "no-image.ico"), struct.pack("<HHH", 0, 1, 0))
    write(os.path.join(pictures, "text.bmp"), TEXT)
    write(os.path.join(pictures, "claims-60000x60000.bmp"), bmp_header_only(60000, 60000))
    write(os.path.join(pictures, "larger-than-screen.bmp"), big_bmp(2500, 1500))
    write(os.path.join(pictures, "png-named.ico"), png(32, 32))
    write(os.path.join(pictures, "with blanks", "my own picture.bmp"), good_bmp)
    write(os.path.join(pictures, "Ångström ü", "Ångström ü.ico"), good_ico)
    write(os.path.join(pictures, "under_score folder", "face.bmp"), good_bmp)
    write(os.path.join(pictures, LONG_NAME.strip()[:200], LONG_NAME[:210] + ".bmp"), good_bmp)

    tone_pair(tones, "good", wav())
    tone_pair(tones, "empty", b"")
    tone_pair(tones, "truncated-header", wav()[:20])
    tone_pair(tones, "claims-more-data", wav_claims_more(10_000_000))
    tone_pair(tones, "text", TEXT)
    tone_pair(tones, "pcm8", wav(bits=8))
    tone_pair(tones, "pcm24", wav(bits=24))
    tone_pair(tones, "float32", wav(bits=32, fmt=3))
    tone_pair(tones, "mono", wav(channels=1))
    tone_pair(tones, "rate22050", wav(rate=22050))
    tone_pair(tones, "rate96000", wav(rate=96000))
    tone_pair(tones, "empty-data-22050", wav_nearly_empty(22050, 2))
    tone_pair(tones, "empty-data-48000", wav_nearly_empty(48000, 2))
    tone_pair(tones, "empty-data-mono", wav_nearly_empty(44100, 1))
    tone_pair(tones, "data-shorter-than-a-sample", wav_nearly_empty(22050, 2, held=3))
    tone_pair(tones, "one-frame-48000", wav_nearly_empty(48000, 2, held=4))
    tone_pair(tones, "five-minutes", wav(rate=22050, channels=1, seconds=1.0, second_copies=300))
    tone_pair(os.path.join(tones, "with blanks"), "my tone", wav())
    tone_pair(os.path.join(tones, "Ångström ü"), "Ångström ü", wav())
    # A "_" in a folder's name comes before the file's own; the file itself has none.
    write(os.path.join(tones, "under_score folder", "tone.wav"), wav())
    tone_pair(os.path.join(tones, LONG_NAME.strip()[:200]), LONG_NAME[:210], wav())


def seed_set(out):
    picture = os.path.join(out, "picture")
    tone = os.path.join(out, "tone")
    good_bmp = bmp(8, 8)
    good_ico = ico([ico_image(16, 16)])
    write(os.path.join(picture, "good.bmp"), good_bmp)
    write(os.path.join(picture, "good-32bit.bmp"), bmp(4, 4, bits=32))
    write(os.path.join(picture, "good.ico"), good_ico)
    write(os.path.join(picture, "several-sizes.ico"), ico([ico_image(8, 8), ico_image(4, 4)]))
    write(os.path.join(picture, "truncated-pixels.bmp"), good_bmp[:80])
    write(os.path.join(picture, "truncated.ico"), good_ico[:40])
    write(os.path.join(picture, "no-image.ico"), struct.pack("<HHH", 0, 1, 0))
    write(os.path.join(picture, "claims-60000x60000.bmp"), bmp_header_only(60000, 60000))
    write(os.path.join(picture, "png-named.ico"), png(4, 4))

    write(os.path.join(tone, "pcm16.wav"), wav(seconds=0.005))
    write(os.path.join(tone, "pcm8.wav"), wav(bits=8, seconds=0.005))
    write(os.path.join(tone, "pcm24.wav"), wav(bits=24, seconds=0.005))
    write(os.path.join(tone, "float32.wav"), wav(bits=32, fmt=3, seconds=0.005))
    write(os.path.join(tone, "mono-22050.wav"), wav(rate=22050, channels=1, seconds=0.005))
    write(os.path.join(tone, "claims-more-data.wav"), wav_claims_more(10_000_000)[:200])
    write(os.path.join(tone, "truncated-header.wav"), wav()[:20])
    write(os.path.join(tone, "empty-data-48000.wav"), wav_nearly_empty(48000, 2))
    write(os.path.join(tone, "one-frame-48000.wav"), wav_nearly_empty(48000, 2, held=4))
    write(os.path.join(tone, "three-channels.wav"), wav(rate=22050, channels=3, seconds=0.002))


def main(argv):
    if len(argv) == 3 and argv[1] == "--seeds":
        seed_set(argv[2])
    elif len(argv) == 2 and not argv[1].startswith("-"):
        full_set(argv[1])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
