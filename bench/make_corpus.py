#!/usr/bin/env python3
"""Writes the engine benchmark's corpus: about 8,000 small text files in nested
folders and 30 binaries of several MB, some 250 MB in all. The same seed gives the
same bytes, names and time stamps on every run.

    make_corpus.py DIR [--scale F] [--tops N]
F < 1 makes a smaller corpus for quick checks; N top folders (default 12) set how
many folders there are: 40 give about 800, the shape of a real installation.
--large writes instead the files that test the engine's memory bound and pacing: forty
of 1.9 MiB (just below what is compressed whole), three of 12 to 30 MiB and two of
100 MiB, beside a few small ones.
"""
import argparse
import os
import random

WORDS = ("Kestrone Sicherung Verzeichnis Einstellung Datei Archiv Fenster Dialog "
         "backup restore window task folder value entry option setting color font "
         "width height left top right bottom enabled disabled true false none auto "
         "Benutzer Drucker Vorlage Bericht Tabelle Spalte Zeile Wert Name Pfad "
         "alpha beta gamma delta epsilon zeta theta lambda sigma omega").split()
EXTENSIONS = (".ini", ".txt", ".cfg", ".log", ".csv", ".xml")
MTIME = 1_700_000_000  # fixed, so that archives of the corpus are reproducible


def text_file(rng, size):
    """Lines as settings files, logs and tables look: words, keys, numbers."""
    out = []
    length = 0
    section = 0
    while length < size:
        kind = rng.random()
        if kind < 0.08:
            section += 1
            line = f"[{rng.choice(WORDS)}{section}]"
        elif kind < 0.55:
            line = f"{rng.choice(WORDS)}{rng.randrange(40)}={rng.choice(WORDS)} {rng.randrange(100000)}"
        elif kind < 0.8:
            line = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(3, 14)))
        else:
            line = ";".join(str(rng.randrange(10 ** rng.randrange(1, 7))) for _ in range(rng.randrange(2, 9)))
        out.append(line)
        length += len(line) + 2
    return ("\r\n".join(out) + "\r\n").encode("cp1252")[:size]


def binary_file(rng, size):
    """A mix like programs and data files: code-like bytes from a small alphabet,
    tables of slowly changing numbers, repeated blocks with changes, zero runs and
    some already compressed (random) stretches."""
    parts = []
    length = 0
    while length < size:
        n = min(size - length, rng.randrange(4096, 262144))
        kind = rng.random()
        if kind < 0.3:
            alphabet = bytes(rng.randrange(256) for _ in range(rng.randrange(16, 64)))
            chunk = bytes(rng.choices(alphabet, k=n))
        elif kind < 0.5:
            value = rng.randrange(1 << 24)
            words = []
            for _ in range(n // 4):
                value = (value + rng.randrange(-300, 300)) & 0xFFFFFFFF
                words.append(value.to_bytes(4, "little"))
            chunk = b"".join(words)
        elif kind < 0.7:
            block = rng.randbytes(rng.randrange(64, 2048))
            reps = []
            while sum(map(len, reps)) < n:
                b = bytearray(block)
                for _ in range(rng.randrange(0, 8)):
                    b[rng.randrange(len(b))] = rng.randrange(256)
                reps.append(bytes(b))
            chunk = b"".join(reps)
        elif kind < 0.8:
            chunk = bytes(n)
        else:
            chunk = rng.randbytes(n)
        chunk = chunk[:n]
        parts.append(chunk)
        length += len(chunk)
    return b"".join(parts)


def write(path, data, mtime):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (mtime, mtime))


def large(rng, top):
    # 4 MiB made once and repeated with changes: 100 MiB of fresh data would take
    # Python minutes, and a repeat 4 MiB away is beyond deflate's reach anyway.
    base = bytearray(binary_file(rng, 4 << 20))
    sizes = [int(1.9 * (1 << 20))] * 40 + [12 << 20, 20 << 20, 30 << 20] + [100 << 20] * 2
    for i, size in enumerate(sizes):
        with open(os.path.join(top, f"gross{i:02d}.bin"), "wb") as f:
            for done in range(0, size, len(base)):
                for _ in range(64):
                    base[rng.randrange(len(base))] = rng.randrange(256)
                f.write(base[:size - done])
        os.utime(os.path.join(top, f"gross{i:02d}.bin"), (MTIME, MTIME))
    for i in range(20):
        write(os.path.join(top, "Daten", f"klein{i:02d}.txt"), text_file(rng, 3000), MTIME + i)
    print(f"{len(sizes) + 20} files, {sum(sizes) / 1e6:.1f} MB in {top}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dir")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--tops", type=int, default=12)
    parser.add_argument("--large", action="store_true")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    os.makedirs(args.dir, exist_ok=True)
    if args.large:
        return large(rng, args.dir)
    folders = [""]
    for top in range(args.tops):
        folders.append(f"Daten{top:02d}")
        for sub in range(rng.randrange(4, 12)):
            folders.append(f"Daten{top:02d}/Teil{sub:02d}")
            if rng.random() < 0.5:
                for deep in range(rng.randrange(1, 5)):
                    folders.append(f"Daten{top:02d}/Teil{sub:02d}/Ebene{deep}")
    total = 0
    texts = int(8000 * args.scale)
    for i in range(texts):
        folder = rng.choice(folders)
        size = int(min(60000, rng.lognormvariate(8.3, 0.9)))
        name = f"{rng.choice(WORDS)}_{i:05d}{rng.choice(EXTENSIONS)}"
        path = os.path.join(args.dir, folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = text_file(rng, size)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (MTIME + i, MTIME + i))
        total += len(data)
    binaries = max(1, int(30 * args.scale))
    os.makedirs(os.path.join(args.dir, "Programm"), exist_ok=True)
    for i in range(binaries):
        size = rng.randrange(4_000_000, 9_000_000)
        path = os.path.join(args.dir, "Programm", f"modul{i:02d}.bin")
        data = binary_file(rng, size)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (MTIME, MTIME))
        total += len(data)
    print(f"{texts + binaries} files, {total / 1e6:.1f} MB in {len(folders) + 1} folders in {args.dir}")


if __name__ == "__main__":
    main()
