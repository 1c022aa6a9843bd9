#!/usr/bin/env python3
"""Takes a snapshot of what bmp2grid and grid2bmp do, and compares two.

Usage:
  tests/behaviour_snapshot.py take --bmp2grid EXE --grid2bmp EXE
        [--corpus DIR]... [--source DIR] [--jobs N] [--keep-work DIR] SNAPSHOT.json
  tests/behaviour_snapshot.py compare BEFORE.json AFTER.json

`take` runs both programs over a set of inputs and writes one record per
run: the command line, what standard input and output were, the exit
status, and the SHA-256 of standard output and of standard error (with
their text when it is short UTF-8), of the bytes written to the output
wherever it went (a file, a pipe, /dev/stdout on a pipe or on a file) and
of every file left in the run's folder, with its permission bits. `compare` prints every run whose record
differs, every run found in one snapshot only, every input whose bytes
differ, and the number of runs compared; exit status 1 on any difference.

A refactoring that must keep behaviour byte for byte takes a snapshot with
the programs built before it and one with those built after, and compares.

The inputs:
- every file under tests/data/ (recursively; README.md and scripts are not
  inputs) and examples/ of the source tree (--source, by default the one
  this tool is in);
- every file in each --corpus folder, such as the seed corpora that
  bmp2grid_make_corpus writes (a file ending in .txt, or in a folder whose
  name starts with "map", is map text; .gpl and .pal files are palettes;
  the rest are pictures);
- pictures, map texts and palettes this tool makes, the same bytes on every
  run: BMPs uncompressed and RLE8, odd and even widths, top-down, several
  info headers; indexed PNGs at 1, 2, 4 and 8 bits, grey PNGs, an RGB PNG;
  truncated and damaged variants; map texts of both modes with and without
  a byte-order mark, CR LF and LF, with bad lines and extra values; a GIMP
  and a JASC palette holding every colour of the made pictures, a GIMP
  palette lacking most of them and a GIMP palette that is refused;
- the map texts bmp2grid wrote in this snapshot's own runs (each distinct
  text once, named after the first picture that gave it);
- a few large inputs, for a few runs each: a 2048 x 600 picture as BMP,
  RLE8 and PNG (and that PNG cut short), and a 1024 x 600 map text (and cut
  short), so that the maps and pictures written pass 1 MiB blocks and the
  one-to-one map passes 8 MiB.

The runs:
- bmp2grid over every picture, with and without -1, without --palette and
  with each of sample.bmp and the four palettes above. Without --palette
  and with the two GIMP palettes that are read (every colour; four colours,
  where refusals happen) eight ways in and out: output to a new file, over
  an existing file, to '-' on a pipe, to /dev/stdout on a pipe and on a
  file; input from '-' on a pipe (to a file and to '-') and on a file. With
  the others three: file to file, file to '-', '-' to '-';
- grid2bmp over every map text, with and without -1. Without --palette
  twelve ways: BMP or PNG chosen by the output's name, by --format and by
  both; output to a new file, over an existing file, to '-' on a pipe, to
  /dev/stdout on a pipe and on a file; input from the file and from '-' on
  a pipe. With each of sample.bmp, the two palettes holding every colour
  and the refused one, four ways: to out.bmp, to out.png, '-' to '-', and
  --format png to '-';
- every palette as --palette of both programs (also from '-' on a pipe),
  and every picture as a palette picture of both;
- the command line's edges: no arguments, -h, --help, --version, options
  unknown, repeated, misplaced or missing their value, a missing input, a
  directory, an output in a missing folder, a name too long, /dev/null,
  /dev/full, a pipe whose reader has gone, the input as its own output, an
  output through a symbolic link, a file named '-'.

Every run gets a folder of its own inside a temporary work folder, and the
paths it is given are relative to that folder, always at the same depth, so
that messages naming paths are the same wherever the work folder is; the
work folder's absolute path is also replaced by a placeholder in the
messages, should a program print one. Each program is started with its bare
name as argv[0] (the usage line names it), wherever the executable lies.
The work folder is deleted at the end unless --keep-work names one to keep.
"""
import argparse
import concurrent.futures
import hashlib
import json
import os
import pathlib
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
FORMAT = "behaviour-snapshot 1"
TIMEOUT_SECONDS = 120
# How a run's folder reaches the inputs: runs/<n>/ sits two levels below.
IN = "../../in"
MESSAGE_TEXT_LIMIT = 4000
SKIPPED_SUFFIXES = {".md", ".sh", ".py"}


def sha(data):
    return hashlib.sha256(data).hexdigest()


# ---------------------------------------------------------------------------
# Made inputs. Everything here is a pure function of its arguments.


def colour(i):
    """The made pictures' colour table: 256 colours, all different."""
    return ((i * 53 + 17) & 255, (i * 97 + 31) & 255, (i * 151 + 7) & 255)


def picture(width, height, levels=256, seed=0):
    """Rows, top first, of indices below levels."""
    return [bytes(((x * 7 + y * 13 + seed + (x * y) % 5) % levels) for x in range(width)) for y in range(height)]


def pack_row(row, bits):
    if bits == 8:
        return bytes(row)
    out, acc, used = bytearray(), 0, 0
    for v in row:
        acc = (acc << bits) | (v & ((1 << bits) - 1))
        used += bits
        if used == 8:
            out.append(acc)
            acc, used = 0, 0
    if used:
        out.append(acc << (8 - used))
    return bytes(out)


def rle8(rows):
    """RLE8 pixel data, bottom row first: runs, literals, end of line, end of bitmap."""
    out = bytearray()
    for row in reversed(rows):
        i, n = 0, len(row)
        while i < n:
            run = 1
            while i + run < n and row[i + run] == row[i] and run < 255:
                run += 1
            if run >= 2:
                out += bytes([run, row[i]])
                i += run
                continue
            j = i
            while j < n and j - i < 255 and not (j + 1 < n and row[j + 1] == row[j]):
                j += 1
            literal = row[i:j]
            if len(literal) >= 3:
                out += bytes([0, len(literal)]) + literal + (b"\0" if len(literal) % 2 else b"")
            else:
                for v in literal:
                    out += bytes([1, v])
            i = j
        out += b"\0\0"
    return bytes(out + b"\0\1")


def bmp(width, height, rows=None, *, bits=8, top_down=False, header=40, entries=256, compression=0,
        pixels=None, clr_used=0, off_bits=None):
    """A BMP file; rows (top first) are stored at bits per pixel unless pixels gives the block."""
    if pixels is None:
        stride = (width * bits + 31) // 32 * 4
        stored = rows if top_down else list(reversed(rows))
        if bits == 24:
            pixels = b"".join((b"".join(bytes(colour(v)[::-1]) for v in r)).ljust(stride, b"\0") for r in stored)
        else:
            pixels = b"".join(pack_row(r, bits).ljust(stride, b"\0") for r in stored)
    h = -height if top_down else height
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, h & 0xFFFF, 1, bits)
        table = b"".join(bytes(colour(i)[::-1]) for i in range(entries))
    elif header == 16:
        info = struct.pack("<IiiHH", 16, width, h, 1, bits)
        table = b"".join(bytes(colour(i)[::-1]) + b"\0" for i in range(entries))
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, h, 1, bits, compression, len(pixels), 2835, 2835,
                           clr_used, 0).ljust(header, b"\0")
        table = b"".join(bytes(colour(i)[::-1]) + b"\0" for i in range(entries))
    offset = 14 + len(info) + len(table) if off_bits is None else off_bits
    size = 14 + len(info) + len(table) + len(pixels)
    return b"BM" + struct.pack("<IHHI", size, 0, 0, offset) + info + table + pixels


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(width, height, rows, *, bits=8, colour_type=3, entries=256, before_iend=b"", filters=(0,)):
    """A non-interlaced PNG; each row's filter type cycles through filters (0 none, 1 sub)."""
    raw = bytearray()
    for y, row in enumerate(rows):
        if colour_type == 2:
            line = b"".join(bytes(colour(v)) for v in row)
            step = 3
        elif bits == 16:
            line = b"".join(bytes([v, v]) for v in row)
            step = 2
        else:
            line = pack_row(row, bits)
            step = 1
        kind = filters[y % len(filters)]
        if kind == 1:
            line = bytes(line[i] if i < step else (line[i] - line[i - step]) & 255 for i in range(len(line)))
        raw += bytes([kind]) + line
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bits, colour_type, 0, 0, 0))
    if colour_type == 3:
        out += chunk(b"PLTE", b"".join(bytes(colour(i)) for i in range(entries)))
    out += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    return out + before_iend + chunk(b"IEND", b"")


def map_text(cols, rows, cells, *, eol="\r\n", bom=False, tail=",0,0,0,0"):
    """Map text whose cell c of row y is cells(c, y), a value or a whole record."""
    lines = [f"{cols},{rows}"]
    for y in range(rows):
        records = []
        for c in range(cols):
            v = cells(c, y)
            records.append(v if isinstance(v, str) else f"{v}{tail}")
        lines.append("".join(r + "\t" for r in records))
    text = "".join(line + eol for line in lines)
    return ("\ufeff" if bom else "") + text


def made_pictures():
    p = {}
    for width, height in ((1, 1), (2, 3), (5, 4), (6, 4), (7, 5), (13, 7), (64, 3)):
        p[f"bmp8-{width}x{height}.bmp"] = bmp(width, height, picture(width, height))
    p["bmp8-top-down-7x5.bmp"] = bmp(7, 5, picture(7, 5, seed=3), top_down=True)
    p["bmp8-few-colours-9x4.bmp"] = bmp(9, 4, picture(9, 4, levels=4))
    p["bmp8-core-header-5x3.bmp"] = bmp(5, 3, picture(5, 3, levels=16), header=12, entries=16)
    p["bmp8-v5-header-6x3.bmp"] = bmp(6, 3, picture(6, 3), header=124)
    p["bmp8-short-table-6x2.bmp"] = bmp(6, 2, picture(6, 2, levels=12), entries=4, clr_used=4)
    p["bmp8-wider-than-a-pipe-holds-400x200.bmp"] = bmp(400, 200, picture(400, 200, seed=1))
    for width, height in ((7, 5), (8, 4), (31, 9)):
        rows = picture(width, height, levels=6)
        rows[0] = bytes([3] * width)
        p[f"rle8-{width}x{height}.bmp"] = bmp(width, height, pixels=rle8(rows), compression=1)
    rows = picture(7, 5, levels=6)
    p["rle8-no-end-7x5.bmp"] = bmp(7, 5, pixels=rle8(rows)[:-2], compression=1)
    p["rle8-below-last-row-4x2.bmp"] = bmp(4, 2, pixels=b"\0\0" * 4 + b"\x02\x05\0\1", compression=1)
    p["rle8-top-down-4x2.bmp"] = bmp(4, 2, pixels=rle8(picture(4, 2)), compression=1, top_down=True)
    p["bmp4-6x2.bmp"] = bmp(6, 2, picture(6, 2, levels=16), bits=4, entries=16)
    p["bmp24-3x2.bmp"] = bmp(3, 2, picture(3, 2), bits=24, entries=0)
    p["compression-3-4x2.bmp"] = bmp(4, 2, picture(4, 2), compression=3)
    whole = bmp(13, 7, picture(13, 7))
    p["cut-in-pixels-13x7.bmp"] = whole[: len(whole) - 20]
    p["cut-in-table-13x7.bmp"] = whole[:200]
    p["cut-in-header-13x7.bmp"] = whole[:10]
    p["offset-past-end-13x7.bmp"] = bmp(13, 7, picture(13, 7), off_bits=len(whole) + 5)
    p["offset-in-file-header-13x7.bmp"] = bmp(13, 7, picture(13, 7), off_bits=8)
    p["empty.bmp"] = b""
    for bits, width in ((1, 13), (2, 11), (4, 7), (8, 5)):
        p[f"png-p{bits}-{width}x6.png"] = png(width, 6, picture(width, 6, levels=1 << bits), bits=bits,
                                             entries=1 << bits, filters=(0, 1))
    p["png-p8-wider-than-a-pipe-holds-300x250.png"] = png(300, 250, picture(300, 250, seed=2))
    p["png-p8-short-plte-6x3.png"] = png(6, 3, picture(6, 3, levels=10), entries=4)
    p["png-grey8-6x4.png"] = png(6, 4, picture(6, 4), colour_type=0)
    p["png-grey16-3x2.png"] = png(3, 2, picture(3, 2), colour_type=0, bits=16)
    p["png-rgb-3x2.png"] = png(3, 2, picture(3, 2), colour_type=2)
    good = png(20, 9, picture(20, 9, levels=200))
    p["png-p8-20x9.png"] = good
    p["png-truncated-in-idat-20x9.png"] = good[: len(good) - 30]
    p["png-truncated-after-ihdr-20x9.png"] = good[:33]
    damaged = bytearray(good)
    damaged[16] ^= 0x01  # a width byte: the IHDR CRC no longer matches
    p["png-bad-ihdr-crc-20x9.png"] = bytes(damaged)
    rows = picture(20, 9, levels=200)
    data = bytearray(zlib.compress(b"".join(b"\0" + r for r in rows), 9))
    data[len(data) // 2] ^= 0xFF
    data[len(data) // 2 + 1] ^= 0x5A
    p["png-damaged-idat-20x9.png"] = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 20, 9, 8, 3, 0, 0, 0))
                                      + chunk(b"PLTE", b"".join(bytes(colour(i)) for i in range(256)))
                                      + chunk(b"IDAT", bytes(data)) + chunk(b"IEND", b""))
    p["png-unknown-critical-chunk-20x9.png"] = png(20, 9, rows, before_iend=chunk(b"ZZZZ", b"1234"))
    p["png-unknown-ancillary-chunk-20x9.png"] = png(20, 9, rows, before_iend=chunk(b"zzZz", b"1234"))
    p["png-signature-only.png"] = b"\x89PNG\r\n\x1a\n"
    return p


def made_maps():
    m = {}
    example = {0: [10, 12], 1: [21, 23], 2: [32, 30]}
    for eol_name, eol in (("crlf", "\r\n"), ("lf", "\n")):
        for bom in (False, True):
            name = f"example-two-to-one-{eol_name}{'-bom' if bom else ''}.txt"
            m[name] = map_text(2, 3, lambda c, y: example[y][c], eol=eol, bom=bom)
    one = {0: [10, 11, 12, 13], 1: [20, 21, 22, 23], 2: [31, 32, 33, 30]}
    m["example-one-to-one-crlf.txt"] = map_text(4, 3, lambda c, y: one[y][c])
    m["odd-13x7.txt"] = map_text(13, 7, lambda c, y: (c * 31 + y * 17) % 256)
    m["one-cell.txt"] = map_text(1, 1, lambda c, y: 255)
    m["larger-than-a-pipe-holds-200x200.txt"] = map_text(200, 200, lambda c, y: (c * 3 + y * 7) % 256)
    m["extra-values.txt"] = map_text(3, 2, lambda c, y: f"{c + y},{c},0,{y},0" if c == 1 else f"{c},0,0,0,0")
    m["letter-in-row-3.txt"] = map_text(3, 4, lambda c, y: "x,0,0,0,0" if (c, y) == (1, 2) else c)
    m["wrong-cell-count.txt"] = "3,2\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n1,0,0,0,0\t\r\n"
    m["fewer-rows.txt"] = map_text(2, 3, lambda c, y: c)[: -len("0,0,0,0,0\t1,0,0,0,0\t\r\n")]
    m["more-rows.txt"] = map_text(2, 2, lambda c, y: c) + "1,0,0,0,0\t1,0,0,0,0\t\r\n"
    m["value-256.txt"] = map_text(2, 2, lambda c, y: 256 if (c, y) == (1, 1) else 0)
    m["four-values.txt"] = map_text(2, 1, lambda c, y: "1,0,0,0")
    m["six-values.txt"] = map_text(2, 1, lambda c, y: "1,0,0,0,0,0")
    m["no-final-line-end.txt"] = map_text(2, 2, lambda c, y: 7)[:-2]
    m["mixed-line-ends.txt"] = "2,2\r\n1,0,0,0,0\t2,0,0,0,0\t\n3,0,0,0,0\t4,0,0,0,0\t\r\n"
    m["header-zero-columns.txt"] = "0,3\r\n"
    m["header-garbage.txt"] = "2,3x\r\n"
    m["bom-twice.txt"] = "\ufeff" + map_text(2, 1, lambda c, y: 1, bom=True)
    m["no-tabs.txt"] = "2,1\r\n1,0,0,0,0 2,0,0,0,0\r\n"
    m["trailing-empty-line.txt"] = map_text(2, 2, lambda c, y: 3) + "\r\n"
    return {name: text.encode("utf-8") for name, text in m.items()}


def made_palettes():
    gpl = ["GIMP Palette", "Name: every made colour, last first", "Columns: 16", "#"]
    gpl += [f"{r:3d} {g:3d} {b:3d}\tcolour {255 - j}" for j, (r, g, b) in enumerate(colour(255 - j) for j in range(256))]
    pal = ["JASC-PAL", "0100", "256"] + [f"{r} {g} {b}" for r, g, b in (colour((j + 1) % 256) for j in range(256))]
    lacking = ["GIMP Palette"] + [f"{r} {g} {b}" for r, g, b in (colour(j) for j in range(4))]
    return {
        "every-colour.gpl": ("\n".join(gpl) + "\n").encode(),
        "every-colour.pal": ("\r\n".join(pal) + "\r\n").encode(),
        "four-colours.gpl": ("\n".join(lacking) + "\n").encode(),
        "refused.gpl": b"GIMP Palette\n10 20\n",
    }


# ---------------------------------------------------------------------------
# Runs. A run is a dict:
#   name     the case name, stable across snapshots
#   argv     the program ("bmp2grid" or "grid2bmp") and its arguments
#   stdin    None (/dev/null), ("pipe", input name) or ("file", input name)
#   stdout   "pipe", "file" (stdout.file in the run's folder) or "closed-pipe"
#   output   where the output goes: a file name in the run's folder, "stdout" or None
#   setup    {name: (bytes, mode)} or {name: "->target"}: files made in the run's folder first
#   keep     an input name under which to keep the output file if the run succeeds
#            (bmp2grid's map texts, which grid2bmp then reads)


def run_one(work, index, run, programs, env):
    folder = work / "runs" / str(index)
    folder.mkdir(parents=True)
    for name, content in run.get("setup", {}).items():
        path = folder / name
        if isinstance(content, str):
            os.symlink(content[2:], path)
        else:
            path.write_bytes(content[0])
            os.chmod(path, content[1])
    # The program sees its bare name as argv[0], wherever it lies: the usage line names it.
    argv = run["argv"]
    stdin_data, stdin_file = None, subprocess.DEVNULL
    if run.get("stdin"):
        kind, name = run["stdin"]
        if kind == "pipe":
            stdin_data = (work / "in" / name).read_bytes()
            stdin_file = subprocess.PIPE
        else:
            stdin_file = open(work / "in" / name, "rb")
    stdout_mode = run.get("stdout", "pipe")
    stdout_target, closed_write = subprocess.PIPE, None
    if stdout_mode == "file":
        stdout_target = open(folder / "stdout.file", "wb")
    elif stdout_mode == "closed-pipe":
        read_end, closed_write = os.pipe()
        os.close(read_end)
        stdout_target = closed_write
    try:
        process = subprocess.Popen(argv, executable=programs[argv[0]], cwd=folder, env=env, stdin=stdin_file,
                                   stdout=stdout_target, stderr=subprocess.PIPE)
        if closed_write is not None:
            os.close(closed_write)
        try:
            out, err = process.communicate(stdin_data, timeout=TIMEOUT_SECONDS)
            status = process.returncode
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
            status = "timeout"
    finally:
        if hasattr(stdin_file, "close"):
            stdin_file.close()
        if hasattr(stdout_target, "close"):
            stdout_target.close()
    out = out or b""
    record = {"argv": run["argv"], "stdin": "/dev/null" if not run.get("stdin") else ":".join(run["stdin"]),
              "stdout_is": stdout_mode, "exit": status, "stdout": sha(out), "stderr": sha(err)}
    placeholder = str(work).encode()
    for stream, data in (("stdout", out), ("stderr", err)):
        if not (stream == "stdout" and run.get("output") == "stdout"):
            data = data.replace(placeholder, b"<work>")
            record[stream] = sha(data)
        # The text too, for reading a difference: messages, or a short map text on standard output.
        if len(data) <= MESSAGE_TEXT_LIMIT:
            try:
                record[stream + "_text"] = data.decode("utf-8")
            except UnicodeDecodeError:
                pass
    files = {}
    for path in sorted(folder.rglob("*")):
        info = path.lstat()
        rel = path.relative_to(folder).as_posix()
        if stat.S_ISLNK(info.st_mode):
            files[rel] = "-> " + os.readlink(path)
        elif stat.S_ISREG(info.st_mode):
            files[rel] = f"{sha(path.read_bytes())} {stat.S_IMODE(info.st_mode):04o}"
        else:
            files[rel] = "folder" if stat.S_ISDIR(info.st_mode) else "other"
    record["files"] = files
    output = run.get("output")
    if output == "stdout":
        record["output"] = sha((folder / "stdout.file").read_bytes()) if stdout_mode == "file" else sha(out)
    elif output and (folder / output).is_file():
        record["output"] = sha((folder / output).read_bytes())
    kept = None
    if run.get("keep") and status == 0 and output and (folder / output).is_file():
        kept = (folder / output).read_bytes()
    shutil.rmtree(folder)
    return run["name"], record, kept


def run_all(work, runs, programs, jobs, first_index):
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "LANG": "C"}
    results, kept = {}, {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(run_one, work, first_index + i, run, programs, env) for i, run in enumerate(runs)]
        for future, run in zip(futures, runs):
            name, record, output = future.result()
            if name in results:
                raise SystemExit(f"two runs are named {name!r}")
            results[name] = record
            if output is not None:
                kept[run["keep"]] = output
    return results, kept


def io_variants(input_name, output_name, full):
    """(label, input argument, stdin, output argument, stdout, output, setup) for each way in and out."""
    path = f"{IN}/{input_name}"
    variants = [
        ("in=file out=file", path, None, output_name, "pipe", output_name, {}),
        ("in=file out=-", path, None, "-", "pipe", "stdout", {}),
        ("in=-pipe out=-", "-", ("pipe", input_name), "-", "pipe", "stdout", {}),
    ]
    if full:
        variants += [
            ("in=file out=file-replaced", path, None, output_name, "pipe", output_name,
             {output_name: (b"the previous output\n", 0o640)}),
            ("in=file out=/dev/stdout-pipe", path, None, "/dev/stdout", "pipe", "stdout", {}),
            ("in=file out=/dev/stdout-file", path, None, "/dev/stdout", "file", "stdout", {}),
            ("in=-pipe out=file", "-", ("pipe", input_name), output_name, "pipe", output_name, {}),
            ("in=-file out=file", "-", ("file", input_name), output_name, "pipe", output_name, {}),
        ]
    return variants


def picture_runs(pictures, palettes_full, palettes_short):
    runs = []
    for name in pictures:
        for mode in ([], ["-1"]):
            choices = [(None, True)] + [(p, True) for p in palettes_full] + [(p, False) for p in palettes_short]
            for palette, full in choices:
                options = mode + (["--palette", f"{IN}/{palette}"] if palette else [])
                for label, inp, stdin, out, stdout, output, setup in io_variants(name, "out.txt", full):
                    run = {"name": f"bmp2grid {' '.join(options + [label])} | {name}",
                           "argv": ["bmp2grid"] + options + [inp, out], "stdin": stdin, "stdout": stdout,
                           "output": output, "setup": setup}
                    if palette is None and label == "in=file out=file":
                        run["keep"] = f"derived/{name}{'.one-to-one' if mode else '.two-to-one'}.txt"
                    runs.append(run)
    return runs


def map_runs(maps, palettes):
    runs = []
    for name in maps:
        path = f"{IN}/{name}"
        for mode in ([], ["-1"]):
            for palette in [None] + palettes:
                options = mode + (["--palette", f"{IN}/{palette}"] if palette else [])
                ways = [
                    ("out=file.bmp", [path, "out.bmp"], None, "pipe", "out.bmp"),
                    ("out=file.png", [path, "out.png"], None, "pipe", "out.png"),
                    ("in=-pipe out=-", ["-", "-"], ("pipe", name), "pipe", "stdout"),
                    ("--format png out=-", ["--format", "png", path, "-"], None, "pipe", "stdout"),
                ]
                if palette is None:
                    ways += [
                        ("--format png out=file.out", ["--format", "png", path, "out.out"], None, "pipe", "out.out"),
                        ("--format bmp out=file.PNG", ["--format", "bmp", path, "out.PNG"], None, "pipe", "out.PNG"),
                        ("out=-", [path, "-"], None, "pipe", "stdout"),
                        ("out=/dev/stdout-pipe", [path, "/dev/stdout"], None, "pipe", "stdout"),
                        ("out=/dev/stdout-file", [path, "/dev/stdout"], None, "file", "stdout"),
                        ("--format png out=/dev/stdout-file", ["--format", "png", path, "/dev/stdout"], None, "file",
                         "stdout"),
                        ("in=-pipe out=file.bmp", ["-", "out.bmp"], ("pipe", name), "pipe", "out.bmp"),
                        ("out=file-replaced.bmp", [path, "out.bmp"], None, "pipe", "out.bmp"),
                    ]
                for label, args, stdin, stdout, output in ways:
                    setup = {"out.bmp": (b"the previous output\n", 0o640)} if "replaced" in label else {}
                    argv = ["grid2bmp"] + options + args
                    runs.append({"name": f"grid2bmp {' '.join(options + [label])} | {name}", "argv": argv,
                                 "stdin": stdin, "stdout": stdout, "output": output, "setup": setup})
    return runs


def palette_runs(palettes, pictures):
    runs = []
    sample_bmp, sample_txt, trimmed = f"{IN}/examples/sample.bmp", f"{IN}/examples/sample.txt", f"{IN}/data/pillow-trimmed.bmp"
    for name in palettes:
        p = f"{IN}/{name}"
        for mode in ([], ["-1"]):
            for target in (sample_bmp, trimmed):
                runs.append({"name": f"bmp2grid {' '.join(mode + ['--palette', name, target])}",
                             "argv": ["bmp2grid"] + mode + ["--palette", p, target, "out.txt"], "output": "out.txt"})
        for out in ("out.bmp", "out.png"):
            runs.append({"name": f"grid2bmp --palette {name} sample.txt {out}",
                         "argv": ["grid2bmp", "--palette", p, sample_txt, out], "output": out})
        runs.append({"name": f"bmp2grid --palette - (pipe) {name} sample.bmp",
                     "argv": ["bmp2grid", "--palette", "-", sample_bmp, "out.txt"], "stdin": ("pipe", name),
                     "output": "out.txt"})
        runs.append({"name": f"grid2bmp --palette - (pipe) {name} sample.txt",
                     "argv": ["grid2bmp", "--palette", "-", sample_txt, "out.png"], "stdin": ("pipe", name),
                     "output": "out.png"})
    for name in pictures:
        p = f"{IN}/{name}"
        runs.append({"name": f"bmp2grid --palette (picture) {name} sample.bmp",
                     "argv": ["bmp2grid", "--palette", p, sample_bmp, "out.txt"], "output": "out.txt"})
        for out in ("out.bmp", "out.png"):
            runs.append({"name": f"grid2bmp --palette (picture) {name} sample.txt {out}",
                         "argv": ["grid2bmp", "--palette", p, sample_txt, out], "output": out})
    return runs


def edge_runs(source):
    runs = []
    bmp_in, map_in, gpl = f"{IN}/examples/sample.bmp", f"{IN}/examples/sample.txt", f"{IN}/gen/every-colour.gpl"
    long_name = "n" * 300 + ".out"
    for program, given, out in (("bmp2grid", bmp_in, "out.txt"), ("grid2bmp", map_in, "out.bmp")):
        cases = {
            "no arguments": [],
            "-h": ["-h"], "--help": ["--help"], "--version": ["--version"],
            "-h and a path": ["-h", given], "--help late": [given, out, "--help"],
            "--version and paths": ["--version", given, out],
            "-H": ["-H"], "-v": ["-v"], "--Version": ["--Version"],
            "one path": [given], "-1 and one path": ["-1", given],
            "-x": ["-x", given, out], "--bogus": ["--bogus", given, out], "-": ["-"],
            "-1x": ["-1x", given, out], "-11": ["-11", given, out], "--1": ["--1", given, out],
            "-1 twice": ["-1", "-1", given, out], "--": ["--", given, out],
            "--palette without value": ["--palette"], "--palette and one path": ["--palette", gpl, given],
            "--palette=": ["--palette=" + gpl, given, out],
            "--palette twice": ["--palette", gpl, "--palette", gpl, given, out],
            "--palette then -1": ["--palette", gpl, "-1", given, out],
            "-1 then --palette": ["-1", "--palette", gpl, given, out],
            "--palette missing": ["--palette", "missing.gpl", given, out],
            "--palette a folder": ["--palette", ".", given, out],
            "--palette empty name": ["--palette", "", given, out],
            "extra argument": [given, out, "extra"],
            "missing input": ["missing-input", out], "input a folder": [".", out],
            "empty input name": ["", out],
            "output in a missing folder": [given, "missing-folder/" + out],
            "output a folder": [given, "."], "output name too long": [given, long_name],
            "output empty name": [given, ""],
            "output /dev/null": [given, "/dev/null"], "output /dev/full": [given, "/dev/full"],
            "output named - through ./-": [given, "./-"],
            "--format png": ["--format", "png", given, out], "--format PNG": ["--format", "PNG", given, out],
            "--format gif": ["--format", "gif", given, out], "--format without value": ["--format"],
            "--format=png": ["--format=png", given, out],
            "--format twice": ["--format", "png", "--format", "bmp", given, out],
            "input - with no standard input": ["-", out],
        }
        for label, args in cases.items():
            output = out if out in args else None
            runs.append({"name": f"{program} edge: {label}", "argv": [program] + args, "output": output})
        runs.append({"name": f"{program} edge: output a pipe whose reader has gone",
                     "argv": [program, given, "-"], "stdout": "closed-pipe"})
        runs.append({"name": f"{program} edge: palette and input both -",
                     "argv": [program, "--palette", "-", "-", out], "stdin": ("pipe", "gen/every-colour.gpl"),
                     "output": out})
    sample = (source / "examples" / "sample.bmp").read_bytes()
    sample_map = (source / "examples" / "sample.txt").read_bytes()
    runs += [
        {"name": "bmp2grid edge: the input as its own output", "argv": ["bmp2grid", "own.bmp", "own.bmp"],
         "setup": {"own.bmp": (sample, 0o644)}, "output": "own.bmp"},
        {"name": "grid2bmp edge: the input as its own output", "argv": ["grid2bmp", "own.txt", "own.txt"],
         "setup": {"own.txt": (sample_map, 0o644)}, "output": "own.txt"},
        {"name": "bmp2grid edge: output through a symbolic link", "argv": ["bmp2grid", bmp_in, "link.txt"],
         "setup": {"target.txt": (b"old\n", 0o600), "link.txt": "->target.txt"}, "output": "target.txt"},
        {"name": "grid2bmp edge: output through a symbolic link", "argv": ["grid2bmp", map_in, "link.png"],
         "setup": {"target.png": (b"old\n", 0o600), "link.png": "->target.png"}, "output": "target.png"},
        {"name": "bmp2grid edge: output through a dangling symbolic link", "argv": ["bmp2grid", bmp_in, "link.txt"],
         "setup": {"link.txt": "->gone/target.txt"}, "output": "link.txt"},
        {"name": "bmp2grid edge: input named - through ./-", "argv": ["bmp2grid", "./-", "out.txt"],
         "setup": {"-": (sample, 0o644)}, "output": "out.txt"},
        {"name": "grid2bmp edge: input named - through ./-", "argv": ["grid2bmp", "./-", "out.bmp"],
         "setup": {"-": (sample_map, 0o644)}, "output": "out.bmp"},
        {"name": "bmp2grid edge: refused palette leaves the output", "argv":
         ["bmp2grid", "--palette", f"{IN}/gen/four-colours.gpl", bmp_in, "out.txt"],
         "setup": {"out.txt": (b"keep me\n", 0o604)}, "output": "out.txt"},
    ]
    for run in runs:
        run.setdefault("stdout", "pipe")
    return runs


def made_large():
    """Pictures and a map text past the programs' 1 MiB blocks and 8 MiB reservation: few runs each."""
    width, height = 2048, 600
    rows = picture(width, height, seed=5)
    whole_png = png(width, height, rows)
    return {
        "large/bmp8-2048x600.bmp": bmp(width, height, rows),
        "large/rle8-2048x600.bmp": bmp(width, height, pixels=rle8(rows), compression=1),
        "large/png-p8-2048x600.png": whole_png,
        "large/png-p8-truncated-2048x600.png": whole_png[: len(whole_png) * 2 // 3],
        "large/map-1024x600.txt": map_text(1024, height, lambda c, y: rows[y][c]).encode(),
        "large/map-cut-short-1024x600.txt": map_text(1024, height, lambda c, y: rows[y][c]).encode()[:-9000],
    }


def large_runs():
    runs = []
    old = b"the previous output\n", 0o640
    for name in ("large/bmp8-2048x600.bmp", "large/rle8-2048x600.bmp", "large/png-p8-2048x600.png",
                 "large/png-p8-truncated-2048x600.png"):
        path = f"{IN}/{name}"
        ways = [
            ("-1 out=file-replaced", ["-1", path, "out.txt"], None, "pipe", "out.txt", {"out.txt": old}),
            ("out=file", [path, "out.txt"], None, "pipe", "out.txt", {}),
            ("-1 out=-", ["-1", path, "-"], None, "pipe", "stdout", {}),
            ("-1 out=/dev/stdout-file", ["-1", path, "/dev/stdout"], None, "file", "stdout", {}),
            ("-1 in=-pipe out=file", ["-1", "-", "out.txt"], ("pipe", name), "pipe", "out.txt", {}),
            ("-1 --palette every-colour.gpl out=file", ["-1", "--palette", f"{IN}/gen/every-colour.gpl", path,
                                                        "out.txt"], None, "pipe", "out.txt", {}),
        ]
        for label, args, stdin, stdout, output, setup in ways:
            runs.append({"name": f"bmp2grid {label} | {name}", "argv": ["bmp2grid"] + args, "stdin": stdin,
                         "stdout": stdout, "output": output, "setup": setup})
    for name in ("large/map-1024x600.txt", "large/map-cut-short-1024x600.txt"):
        path = f"{IN}/{name}"
        ways = [
            ("out=file-replaced.bmp", [path, "out.bmp"], None, "pipe", "out.bmp", {"out.bmp": old}),
            ("out=file.png", [path, "out.png"], None, "pipe", "out.png", {}),
            ("-1 out=file.bmp", ["-1", path, "out.bmp"], None, "pipe", "out.bmp", {}),
            ("out=-", [path, "-"], None, "pipe", "stdout", {}),
            ("--format png out=/dev/stdout-file", ["--format", "png", path, "/dev/stdout"], None, "file", "stdout",
             {}),
            ("in=-pipe out=file.bmp", ["-", "out.bmp"], ("pipe", name), "pipe", "out.bmp", {}),
        ]
        for label, args, stdin, stdout, output, setup in ways:
            runs.append({"name": f"grid2bmp {label} | {name}", "argv": ["grid2bmp"] + args, "stdin": stdin,
                         "stdout": stdout, "output": output, "setup": setup})
    return runs


def classify(relative):
    """'map', 'palette', 'picture' or None for a file that is not an input."""
    path = pathlib.PurePosixPath(relative)
    if path.suffix.lower() in SKIPPED_SUFFIXES:
        return None
    if path.suffix.lower() in (".gpl", ".pal"):
        return "palette"
    if path.suffix.lower() == ".txt" or any(part.startswith("map") and part != path.name for part in path.parts):
        return "map"
    return "picture"


def gather_inputs(work, source, corpora):
    """Copies every input into work/in/ and returns {kind: [names]} and {name: sha}."""
    kinds = {"picture": [], "map": [], "palette": []}
    hashes = {}

    def add(name, data, kind):
        target = work / "in" / name
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        hashes[name] = sha(data)
        if kind:
            kinds[kind].append(name)

    for prefix, folder in [("data", source / "tests" / "data"), ("examples", source / "examples")] + \
            [(f"corpus/{pathlib.Path(c).name}", pathlib.Path(c)) for c in corpora]:
        if not folder.is_dir():
            raise SystemExit(f"no folder {folder}")
        for path in sorted(p for p in folder.rglob("*") if p.is_file()):
            relative = path.relative_to(folder).as_posix()
            kind = classify(relative)
            if prefix.startswith("corpus/") and kind is None:
                kind = "picture"
            if kind:
                add(f"{prefix}/{relative}", path.read_bytes(), kind)
    for name, data in sorted(made_pictures().items()):
        add(f"gen/{name}", data, "picture")
    for name, data in sorted(made_maps().items()):
        add(f"gen/{name}", data, "map")
    for name, data in sorted(made_palettes().items()):
        add(f"gen/{name}", data, "palette")
    for name, data in sorted(made_large().items()):
        add(name, data, None)
    return kinds, hashes


def take(args):
    started = time.monotonic()
    programs = {"bmp2grid": pathlib.Path(args.bmp2grid).resolve(), "grid2bmp": pathlib.Path(args.grid2bmp).resolve()}
    for name, path in programs.items():
        if not os.access(path, os.X_OK):
            raise SystemExit(f"{name}: {path} is not an executable")
    os.umask(0o022)
    work = pathlib.Path(args.keep_work).resolve() if args.keep_work else pathlib.Path(tempfile.mkdtemp(prefix="snapshot-"))
    if args.keep_work:
        if work.exists():
            shutil.rmtree(work)
        work.mkdir(parents=True)
    try:
        source = pathlib.Path(args.source).resolve()
        kinds, hashes = gather_inputs(work, source, args.corpus)
        full = ["gen/every-colour.gpl", "gen/four-colours.gpl"]
        short = ["examples/sample.bmp", "gen/every-colour.pal", "gen/refused.gpl"]
        first = picture_runs(kinds["picture"], full, short) + palette_runs(kinds["palette"], kinds["picture"]) \
            + edge_runs(source) + large_runs()
        print(f"{len(first)} runs over {len(kinds['picture'])} pictures, {len(kinds['palette'])} palettes and "
              f"the command line...", file=sys.stderr)
        records, kept = run_all(work, first, programs, args.jobs, 0)
        derived, seen = [], {}
        for name in sorted(kept):
            digest = sha(kept[name])
            if digest in seen:
                continue
            seen[digest] = name
            target = work / "in" / name
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(kept[name])
            hashes[name] = digest
            derived.append(name)
        maps = kinds["map"] + derived
        second = map_runs(maps, ["examples/sample.bmp", "gen/every-colour.gpl", "gen/every-colour.pal",
                                 "gen/refused.gpl"])
        print(f"{len(second)} runs over {len(maps)} map texts ({len(derived)} written by bmp2grid)...",
              file=sys.stderr)
        more, _ = run_all(work, second, programs, args.jobs, len(first))
        records.update(more)
    finally:
        if not args.keep_work:
            shutil.rmtree(work, ignore_errors=True)
    snapshot = {"format": FORMAT, "programs": {k: sha(v.read_bytes()) for k, v in programs.items()},
                "inputs": hashes, "runs": records}
    pathlib.Path(args.snapshot).write_text(json.dumps(snapshot, indent=1, sort_keys=True) + "\n", encoding="utf-8")
    seconds = time.monotonic() - started
    print(f"{len(records)} runs written to {args.snapshot} in {seconds:.0f} s", file=sys.stderr)
    return 0


def compare(args):
    before = json.loads(pathlib.Path(args.before).read_text(encoding="utf-8"))
    after = json.loads(pathlib.Path(args.after).read_text(encoding="utf-8"))
    for snapshot, path in ((before, args.before), (after, args.after)):
        if snapshot.get("format") != FORMAT:
            raise SystemExit(f"{path} is not a snapshot of this tool ({FORMAT})")
    differences = 0
    for name in sorted(set(before["inputs"]) | set(after["inputs"])):
        if before["inputs"].get(name) != after["inputs"].get(name):
            differences += 1
            print(f"input {name}: {before['inputs'].get(name, 'absent')} -> {after['inputs'].get(name, 'absent')}")
    runs_before, runs_after = before["runs"], after["runs"]
    compared = 0
    for name in sorted(set(runs_before) | set(runs_after)):
        if name not in runs_after:
            differences += 1
            print(f"only before: {name}")
            continue
        if name not in runs_before:
            differences += 1
            print(f"only after: {name}")
            continue
        compared += 1
        old, new = runs_before[name], runs_after[name]
        if old == new:
            continue
        differences += 1
        print(f"differs: {name}\n  command: {' '.join(old['argv'])}")
        for key in sorted(set(old) | set(new)):
            if key.endswith("_text") or old.get(key) == new.get(key):
                continue
            if key in ("stdout", "stderr") and (key + "_text" in old or key + "_text" in new):
                print(f"  {key}: {old.get(key + '_text', old.get(key))!r} -> {new.get(key + '_text', new.get(key))!r}")
            elif key == "files":
                a, b = old.get("files", {}), new.get("files", {})
                for f in sorted(set(a) | set(b)):
                    if a.get(f) != b.get(f):
                        print(f"  file {f}: {a.get(f, 'absent')} -> {b.get(f, 'absent')}")
            else:
                print(f"  {key}: {old.get(key)!r} -> {new.get(key)!r}")
    print(f"{compared} runs compared, {len(runs_before)} before and {len(runs_after)} after; "
          f"{differences} difference{'s' if differences != 1 else ''}")
    return 1 if differences else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    t = commands.add_parser("take", help="run the programs and write a snapshot")
    t.add_argument("--bmp2grid", required=True, help="the bmp2grid executable")
    t.add_argument("--grid2bmp", required=True, help="the grid2bmp executable")
    t.add_argument("--corpus", action="append", default=[], help="a folder of more inputs (repeatable)")
    t.add_argument("--source", default=str(ROOT), help="the source tree whose tests/data and examples are inputs")
    t.add_argument("--jobs", type=int, default=os.cpu_count() or 2, help="runs at a time")
    t.add_argument("--keep-work", help="use this work folder and keep it, instead of a temporary one")
    t.add_argument("snapshot", help="the snapshot file to write")
    c = commands.add_parser("compare", help="compare two snapshots")
    c.add_argument("before")
    c.add_argument("after")
    args = parser.parse_args()
    return take(args) if args.command == "take" else compare(args)


if __name__ == "__main__":
    sys.exit(main())
