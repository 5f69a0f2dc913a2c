#!/usr/bin/env python3
"""A release folder unlike the project's own, for proving that `korvane release` stamps what it
is given: the pictures with their palette's red and blue swapped, the music with every sample
at half volume and a faster tempo, a caption of its own, and the same payload.

    make_variant.py SOURCE DEST
"""
import pathlib
import shutil
import sys

PALETTE = 768
MODULE_TAG = 1080
CAPTION = b"A release of our own, stamped without a compiler ~ 1999 "


def swap_palette(pcx):
    data = bytearray(pcx)
    start = len(data) - PALETTE
    for i in range(start, len(data), 3):
        data[i], data[i + 2] = data[i + 2], data[i]
    return bytes(data)


def quieter(module):
    data = bytearray(module)
    samples = 31 if data[MODULE_TAG:MODULE_TAG + 4] == b"M.K." else 15
    for s in range(samples):
        volume_at = 20 + 30 * s + 25
        data[volume_at] //= 2
    return bytes(data)


def main():
    source, dest = map(pathlib.Path, sys.argv[1:3])
    shutil.rmtree(dest, ignore_errors=True)
    shutil.copytree(source, dest)
    for picture in ("main.pcx", "progress.pcx"):
        (dest / picture).write_bytes(swap_palette((source / picture).read_bytes()))
    (dest / "korvane.mod").write_bytes(quieter((source / "korvane.mod").read_bytes()))
    (dest / "caption.txt").write_bytes(CAPTION)


if __name__ == "__main__":
    main()
