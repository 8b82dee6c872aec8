#!/usr/bin/env python3
"""Packs the page's content into the web build folder.

Usage: pack.py DATA_FOLDER BUILD_FOLDER [FONT_FILE]

- DATA/ is copied beside the page (files only changed when their bytes do),
  files no longer in DATA_FOLDER are removed, and DATA/index.json lists what
  the page fetches before the show starts: each file's path in the show's file
  system and its size, the dialog's font among them.
- Every file the page downloads that shrinks by a tenth or more gets a
  gzip-compressed copy (NAME.gz) for the server to send to browsers that take
  it; the sizes go to BUILD_FOLDER/sizes.txt and the total is printed.
"""
import gzip
import json
import os
import shutil
import sys

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PAGE_FILES = (".html", ".js", ".mjs", ".wasm", ".css", ".json")
# The build folder's programs that no page fetches (tests and benchmarks).
NOT_DOWNLOADED = ("bench-", "test-")


def copy_if_changed(src, dst):
    if os.path.exists(dst) and os.path.getsize(dst) == os.path.getsize(src):
        with open(src, "rb") as a, open(dst, "rb") as b:
            if a.read() == b.read():
                return
    shutil.copyfile(src, dst)


def compress(path):
    """Writes path.gz when it pays; returns the size sent over the wire."""
    with open(path, "rb") as f:
        raw = f.read()
    packed = gzip.compress(raw, compresslevel=9, mtime=0)
    if len(packed) <= len(raw) * 0.9:
        with open(path + ".gz", "wb") as f:
            f.write(packed)
        return len(packed)
    if os.path.exists(path + ".gz"):
        os.remove(path + ".gz")
    return len(raw)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: pack.py DATA_FOLDER BUILD_FOLDER [FONT_FILE]")
    data, build = sys.argv[1], sys.argv[2]
    font = sys.argv[3] if len(sys.argv) == 4 else FONT
    out = os.path.join(build, "DATA")
    os.makedirs(out, exist_ok=True)

    names = sorted(n for n in os.listdir(data) if os.path.isfile(os.path.join(data, n))
                   and not n.startswith(".")) if os.path.isdir(data) else []
    if not names:
        print(f"pack.py: no files in {data}: the page has no DATA (make it with `make data`)", file=sys.stderr)
    files = []
    for name in names:
        copy_if_changed(os.path.join(data, name), os.path.join(out, name))
        files.append({"url": "DATA/" + name, "path": "DATA/" + name,
                      "size": os.path.getsize(os.path.join(out, name))})
    for name in os.listdir(out):
        if name != "index.json" and not name.endswith(".gz") and name not in names:
            os.remove(os.path.join(out, name))
    if os.path.isfile(font):
        copy_if_changed(font, os.path.join(build, "font.ttf"))
        files.append({"url": "font.ttf", "path": font, "size": os.path.getsize(font)})
    else:
        print(f"pack.py: {font} is missing: the dialog is drawn without its font", file=sys.stderr)
    with open(os.path.join(out, "index.json"), "w") as f:
        json.dump({"files": files}, f, indent=1)

    # What a browser downloads: the page, the programs, DATA and the font.
    # The shot program is fetched only by `?shot=` pages, not by viewers.
    wire, shot, lines = 0, 0, []
    downloads = [os.path.join(build, n) for n in sorted(os.listdir(build))
                 if (n.endswith(PAGE_FILES) and not n.startswith(NOT_DOWNLOADED)) or n == "font.ttf"]
    downloads += [os.path.join(out, n) for n in sorted(os.listdir(out)) if not n.endswith(".gz")]
    for path in downloads:
        size = compress(path)
        if os.path.basename(path).startswith("velkor-shot"):
            shot += size
        else:
            wire += size
        lines.append(f"{size:10d}  {os.path.relpath(path, build)}")
    lines.append(f"{wire:10d}  in all for a viewer, as sent (gzip where it pays)")
    lines.append(f"{shot:10d}  more for a ?shot= page")
    with open(os.path.join(build, "sizes.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print(f"Packed {len(files)} files; the page downloads {wire / 1e6:.2f} MB")


if __name__ == "__main__":
    main()
