#!/usr/bin/env python3
"""Builds tests/gfx/drivers/win32/image_samples.h: PNG and JPEG files made by
ImageMagick on Linux, for test_images_wic.cpp to read through the Windows
Imaging Component under Wine. Each picture is drawn from a formula the test
repeats (sample8, sample16, blockColour below), written as a PNM or PAM file
and converted by `convert`; the PNG header of each file is checked to be the
kind it is named for.

Usage: tests/gfx/drivers/win32/make_image_samples.py   (needs ImageMagick)
"""
import os, struct, subprocess, sys, tempfile, zlib

WIDTH, HEIGHT = 13, 7  # odd, so rows end mid-byte and every interlace pass is partial


def sample8(x, y, c):
    return (x * 53 + y * 97 + c * 71 + x * y * 13) % 256


def sample16(x, y, c):
    return (x * 7919 + y * 4099 + c * 12345 + x * y * 611) % 65536


def palette_entry(x, y):
    """An RGBA colour from a set of 20, each with its own alpha."""
    i = (x + 2 * y) % 20
    return (i * 13, 255 - i * 11, i * 7 + 3, i * 12 + 15)


# The JPEG picture: 16 x 16 blocks of flat colour, 4 across and 2 down.
BLOCKS = [(200, 30, 40), (20, 180, 60), (30, 40, 220), (250, 250, 250),
          (0, 0, 0), (128, 128, 128), (240, 200, 10), (90, 20, 130)]


def block_colour(x, y):
    return BLOCKS[(y // 16) * 4 + x // 16]


def pam(width, height, depth, maxval, tupltype, pixel):
    head = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
        width, height, depth, maxval, tupltype)
    fmt = ">" + ("H" if maxval > 255 else "B") * depth
    body = b"".join(struct.pack(fmt, *pixel(x, y)) for y in range(height) for x in range(width))
    return head.encode() + body


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def with_palette_alpha(data):
    """The file with a tRNS chunk giving each palette entry its alpha from
    palette_entry: ImageMagick's palette-with-alpha output moves colours."""
    at = 8
    while data[at + 4:at + 8] != b"PLTE":
        at += 12 + struct.unpack(">I", data[at:at + 4])[0]
    length = struct.unpack(">I", data[at:at + 4])[0]
    alpha = {c[:3]: c[3] for c in (palette_entry(x, y) for y in range(HEIGHT) for x in range(WIDTH))}
    entries = [tuple(data[at + 8 + i:at + 11 + i]) for i in range(0, length, 3)]
    end = at + 12 + length
    return data[:end] + chunk(b"tRNS", bytes(alpha[e] for e in entries)) + data[end:]


def png_header(data):
    """Bit depth, colour type and interlace method from IHDR."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    return data[24], data[25], data[28]


def convert(source, options, out, folder):
    src = os.path.join(folder, "in.pam")
    with open(src, "wb") as f:
        f.write(source)
    target = os.path.join(folder, out)
    subprocess.run(["convert", src, "-strip"] + options + [target], check=True)
    with open(target, "rb") as f:
        return f.read()


# No ancillary chunks but tRNS: the decoders see only the pixels.
PNG = ["-define", "png:exclude-chunks=all", "-define", "png:include-chunks=tRNS"]


def samples(folder):
    w, h = WIDTH, HEIGHT
    grey8 = pam(w, h, 1, 255, "GRAYSCALE", lambda x, y: (sample8(x, y, 0),))
    grey2 = pam(w, h, 1, 255, "GRAYSCALE", lambda x, y: (sample8(x, y, 0) // 64 * 85,))
    rgba8 = pam(w, h, 4, 255, "RGB_ALPHA", lambda x, y: tuple(sample8(x, y, c) for c in range(4)))
    indexed = pam(w, h, 3, 255, "RGB", lambda x, y: palette_entry(x, y)[:3])
    grey16 = pam(w, h, 1, 65535, "GRAYSCALE", lambda x, y: (sample16(x, y, 0),))
    greyAlpha16 = pam(w, h, 2, 65535, "GRAYSCALE_ALPHA", lambda x, y: (sample16(x, y, 0), sample16(x, y, 3)))
    rgb16 = pam(w, h, 3, 65535, "RGB", lambda x, y: tuple(sample16(x, y, c) for c in range(3)))
    rgba16 = pam(w, h, 4, 65535, "RGB_ALPHA", lambda x, y: tuple(sample16(x, y, c) for c in range(4)))
    blocks = pam(64, 32, 3, 255, "RGB", block_colour)

    def png(name, source, depth, colour, interlaced=False):
        kind = ["-define", "png:bit-depth=%d" % depth, "-define", "png:color-type=%d" % colour]
        data = convert(source, PNG + kind + ["-interlace", "PNG" if interlaced else "none"], name + ".png", folder)
        got = png_header(data)
        if got != (depth, colour, int(interlaced)):
            sys.exit("%s: ImageMagick wrote depth %d, colour type %d, interlace %d" % ((name,) + got))
        return name + "Png", data

    def jpeg(name, source, options):
        return name + "Jpeg", convert(source, ["-quality", "100", "-sampling-factor", "1x1"] + options,
                                      name + ".jpg", folder)

    indexedName, indexedPng = png("indexed", indexed, 8, 3)
    return [
        png("grey8", grey8, 8, 0),
        png("grey2", grey2, 2, 0),
        (indexedName, with_palette_alpha(indexedPng)),
        png("grey16", grey16, 16, 0),
        png("greyAlpha16", greyAlpha16, 16, 4),
        png("rgb16", rgb16, 16, 2),
        png("rgba16Interlaced", rgba16, 16, 6, True),
        png("rgba8Interlaced", rgba8, 8, 6, True),
        jpeg("baseline", blocks, ["-interlace", "none"]),
        jpeg("progressive", blocks, ["-interlace", "JPEG"]),
        jpeg("cmyk", blocks, ["-colorspace", "CMYK"]),
    ]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory() as folder:
        made = samples(folder)
    lines = ["// Made by make_image_samples.py with ImageMagick from the formulas in",
             "// test_images_wic.cpp; not edited by hand.", "#pragma once", "", "#include <cstdint>", "",
             "namespace samples {", ""]
    for name, data in made:
        lines.append("constexpr uint8_t %s[] = {" % name)
        for at in range(0, len(data), 20):
            lines.append("    " + ", ".join("0x%02x" % b for b in data[at:at + 20]) + ",")
        lines.append("};")
        lines.append("")
    lines.append("}  // namespace samples")
    with open(os.path.join(here, "image_samples.h"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
