#!/usr/bin/python3
"""Regenerates every release resource into a folder (default: assets/ of this tree):
main.pcx, progress.pcx, korvane.mod, caption.txt, archive-name.txt, korvane.ico,
korvane.nfo, payload/ with payload-attributes.txt, and the PNG renderings of both pictures
for the documentation (with --docs DIR). Same input, same bytes, every run."""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import main_picture  # noqa: E402
import module  # noqa: E402
import payload  # noqa: E402
import progress_picture  # noqa: E402
import texts  # noqa: E402


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("out", nargs="?", default=os.path.join(here, "..", "..", "assets"))
    parser.add_argument("--docs", help="also write main-picture.png and progress-picture.png here")
    parser.add_argument("--no-payload", action="store_true", help="skip the demo payload")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    main_img = main_picture.main(args.out)
    progress_img = progress_picture.main(args.out)
    module.main(args.out)
    texts.main(args.out)
    if not args.no_payload:
        payload.main(args.out)
    if args.docs:
        os.makedirs(args.docs, exist_ok=True)
        main_img.convert("RGB").save(os.path.join(args.docs, "main-picture.png"), optimize=False)
        progress_img.convert("RGB").save(os.path.join(args.docs, "progress-picture.png"), optimize=False)


if __name__ == "__main__":
    main()
