#!/usr/bin/env python3
"""Plays the same headless run with the native build and with the arm64 build
under qemu (velkor-capture with shots and the trace, from the DATA folder of
the current directory) and compares them: the traces must be identical, and
so must the shots, give or take floating-point rounding that can differ
between processors (multiplies and adds fused where a build allows it, the C
library's maths functions). Prints one line per shot and exits 1 on any
difference beyond that tolerance."""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import time
import zlib

# The largest difference of one channel, and the share of differing pixels,
# that a shot may show between the two builds. With multiplies and adds
# fused on arm64 (GCC's default there) the run showed at most 3 and 0.02%.
MAX_CHANNEL_DIFFERENCE = 3
MAX_DIFFERING_SHARE = 0.001


def read_png(path):
    """Width, height, channels and the rows of an 8-bit, non-interlaced
    greyscale, RGB or RGBA PNG, unfiltered."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise ValueError(f"{path}: no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError(f"{path}: only 8-bit, non-interlaced grey, RGB or RGBA is read")
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = row[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
            elif kind != 0:
                raise ValueError(f"{path}: unknown filter {kind} in row {y}")
        rows.append(bytes(row))
        previous = row
    return width, height, channels, rows


def compare_shots(a, b):
    """Largest per-channel difference, differing pixels and all pixels."""
    wa, ha, ca, ra = read_png(a)
    wb, hb, cb, rb = read_png(b)
    if (wa, ha, ca) != (wb, hb, cb):
        raise ValueError(f"{b}: {wb} x {hb} x {cb}, not {wa} x {ha} x {ca} as {a}")
    largest, differing = 0, 0
    for row_a, row_b in zip(ra, rb):
        if row_a == row_b:
            continue
        for x in range(0, len(row_a), ca):
            d = max(abs(row_a[x + k] - row_b[x + k]) for k in range(ca))
            if d:
                differing += 1
                largest = max(largest, d)
    return largest, differing, wa * ha


def capture(command, folder, until, every, fps):
    os.makedirs(folder, exist_ok=True)
    times = list(range(every, until + 1, every))
    args = command + ["--until", str(until), "--fps", str(fps), "--trace", os.path.join(folder, "trace.txt")]
    for t in times:
        args += ["--shot", f"{t}:{os.path.join(folder, f'shot{t:03d}.png')}"]
    start = time.monotonic()
    run = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    if run.returncode != 0:
        sys.exit(f"{' '.join(command)}: exit status {run.returncode}\n{run.stderr}")
    return times, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", required=True, help="the native build folder")
    parser.add_argument("--arm64", required=True, help="the arm64 build folder")
    parser.add_argument("--out", required=True, help="folder for the shots and traces")
    parser.add_argument("--until", type=int, default=40, help="seconds of show (default 40)")
    parser.add_argument("--every", type=int, default=5, help="seconds between shots (default 5)")
    parser.add_argument("--fps", type=int, default=60, help="virtual display rate (default 60)")
    parser.add_argument("--emulator", default="qemu-aarch64", help="runs the arm64 program (default qemu-aarch64)")
    args = parser.parse_args()

    if not os.path.isfile("DATA/.complete"):
        sys.exit("DATA/: missing or incomplete in the current directory; make it with `make data`")
    emulator = shutil.which(args.emulator)
    if emulator is None:
        sys.exit(f"{args.emulator}: not found; tools/install-deps-arm64.sh installs it")
    native = os.path.join(args.native, "velkor-capture")
    arm64 = os.path.join(args.arm64, "velkor-capture")
    for program in (native, arm64):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program}: missing; build it first")

    native_dir, arm64_dir = os.path.join(args.out, "native"), os.path.join(args.out, "arm64")
    times, native_seconds = capture([native], native_dir, args.until, args.every, args.fps)
    _, arm64_seconds = capture([emulator, arm64], arm64_dir, args.until, args.every, args.fps)
    print(f"velkor-capture --until {args.until} --fps {args.fps}, a shot every {args.every} s: "
          f"native {native_seconds:.1f} s, arm64 under {args.emulator} {arm64_seconds:.1f} s")

    ok = True
    with open(os.path.join(native_dir, "trace.txt")) as f:
        native_trace = f.read().splitlines()
    with open(os.path.join(arm64_dir, "trace.txt")) as f:
        arm64_trace = f.read().splitlines()
    if native_trace == arm64_trace:
        print(f"trace: identical ({len(native_trace)} lines)")
    else:
        ok = False
        line = next((i for i, (a, b) in enumerate(zip(native_trace, arm64_trace)) if a != b),
                    min(len(native_trace), len(arm64_trace)))
        print(f"trace: differs from line {line + 1}: native {native_trace[line:line + 1]}, "
              f"arm64 {arm64_trace[line:line + 1]}")

    largest_all, differing_all, pixels_all = 0, 0, 0
    for t in times:
        name = f"shot{t:03d}.png"
        largest, differing, pixels = compare_shots(os.path.join(native_dir, name), os.path.join(arm64_dir, name))
        largest_all, differing_all, pixels_all = max(largest_all, largest), differing_all + differing, pixels_all + pixels
        within = largest <= MAX_CHANNEL_DIFFERENCE and differing <= MAX_DIFFERING_SHARE * pixels
        ok = ok and within
        print(f"{t:3d} s: " + ("identical" if differing == 0 else
              f"{differing} of {pixels} pixels differ ({100 * differing / pixels:.3f}%), "
              f"by at most {largest} in a channel") + ("" if within else "  <- beyond the tolerance"))
    print(f"all shots: {differing_all} of {pixels_all} pixels differ ({100 * differing_all / pixels_all:.3f}%), "
          f"largest channel difference {largest_all} (tolerance {MAX_CHANNEL_DIFFERENCE}, "
          f"{100 * MAX_DIFFERING_SHARE:g}% of a shot)")
    print("arm64 and native: " + ("the same run" if ok else "DIFFERENT"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
