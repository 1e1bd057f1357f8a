#!/usr/bin/env python3
"""What a mod maker would otherwise write: the same jobs done with Pillow.

    pillow_peer.py wad FILE.wad PREFIX [png]    every texture lump of a WAD2 file
    pillow_peer.py wal PREFIX                   every *.wal file of the working folder
    pillow_peer.py snapback OUT.wad IMAGE...    images back into a WAD2 of textures
    pillow_peer.py rgb DIR OUT_DIR              every .png of DIR as a true-colour PNG
    pillow_peer.py compare DIR_A DIR_B          same images in both folders?
    pillow_peer.py samewad REF.wad B.wad        how much of B's images is REF's

Like mipsnap and texsnap, `wad` and `wal` read palette.lmp from the working
folder and write PREFIXtextures/<name>.pcx (a '*' in a name becomes '~'), or
.png with `png`, all in one process; only the full-size image of each texture
is written. `snapback` does what `snapback wad` does with Pillow's own means:
each image quantised to palette.lmp without dithering, the mip levels from the
block means of the quantised image, every lump and the directory written.
`compare` decodes every .pcx or .png of DIR_A and the file of the same name in
DIR_B and checks that size, pixels and palette agree; it exits 1 on any
difference. `samewad` prints how many of REF's full-size images (and what
share of their pixels) B's lumps of the same name hold.
"""
import os
import struct
import sys

from PIL import Image

MIPTEX = struct.Struct("<16sII4I")  # name, width, height, offsets of the four levels
WAL = struct.Struct("<32siii")  # name, width, height, full-size image offset
DIRENTRY = struct.Struct("<iiibbh16s")  # position, size on disk, size, type, compression


def load_palette():
    with open("palette.lmp", "rb") as f:
        palette = f.read(768)
    if len(palette) != 768:
        sys.exit("palette.lmp is shorter than 768 bytes")
    return palette


def save(palette, width, height, pixels, path, kind):
    image = Image.frombytes("P", (width, height), pixels)
    image.putpalette(palette)
    image.save(path + "." + kind, format=kind.upper())


def output_path(prefix, name):
    return prefix + "textures/" + name.replace("*", "~").replace("/", "_")


def read_wad(wad_path):
    """Yields (name, lump bytes) of every lump of a WAD2 file."""
    with open(wad_path, "rb") as f:
        magic, count, dir_offset = struct.unpack("<4sii", f.read(12))
        if magic != b"WAD2":
            sys.exit(wad_path + " is not a WAD2 file")
        f.seek(dir_offset)
        directory = f.read(32 * count)
        for i in range(count):
            pos, size, _, _, _, _, name = DIRENTRY.unpack_from(directory, 32 * i)
            f.seek(pos)
            yield name.split(b"\0", 1)[0].decode("latin-1"), f.read(size)


def convert_wad(wad_path, prefix, kind):
    palette = load_palette()
    for name, lump in read_wad(wad_path):
        _, width, height, offset, *_ = MIPTEX.unpack_from(lump)
        save(palette, width, height, lump[offset : offset + width * height],
             output_path(prefix, name), kind)


def convert_wal(prefix):
    palette = load_palette()
    for file_name in sorted(os.listdir(".")):
        if not file_name.lower().endswith(".wal") or not os.path.isfile(file_name):
            continue
        with open(file_name, "rb") as f:
            data = f.read()
        _, width, height, offset = WAL.unpack_from(data)
        save(palette, width, height, data[offset : offset + width * height],
             output_path(prefix, file_name[:-4]), "pcx")


def snapback(out_path, images):
    target = Image.new("P", (1, 1))
    target.putpalette(load_palette())
    entries = []
    with open(out_path, "wb") as out:
        out.write(bytes(12))
        for path in images:
            with Image.open(path) as image:
                full = image.convert("RGB").quantize(palette=target, dither=Image.Dither.NONE)
            width, height = full.size
            colours = full.convert("RGB")
            levels = [full.tobytes()]
            for k in (1, 2, 3):
                mean = colours.reduce(1 << k)
                levels.append(mean.quantize(palette=target, dither=Image.Dither.NONE).tobytes())
            offsets, at = [], MIPTEX.size
            for level in levels:
                offsets.append(at)
                at += len(level)
            name = os.path.splitext(os.path.basename(path))[0].replace("~", "*").encode("latin-1")
            lump = MIPTEX.pack(name, width, height, *offsets) + b"".join(levels)
            entries.append(DIRENTRY.pack(out.tell(), len(lump), len(lump), 0x44, 0, 0, name))
            out.write(lump)
        dir_offset = out.tell()
        out.write(b"".join(entries))
        out.seek(0)
        out.write(struct.pack("<4sii", b"WAD2", len(entries), dir_offset))


def to_rgb(source, target):
    for name in sorted(os.listdir(source)):
        if name.endswith(".png"):
            with Image.open(os.path.join(source, name)) as image:
                image.convert("RGB").save(os.path.join(target, name), compress_level=1)


def compare(dir_a, dir_b):
    names = sorted(n for n in os.listdir(dir_a) if n.endswith((".pcx", ".png")))
    bad = []
    for name in names:
        with Image.open(os.path.join(dir_a, name)) as a, \
                Image.open(os.path.join(dir_b, name)) as b:
            if (a.size != b.size or a.tobytes() != b.tobytes()
                    or a.getpalette() != b.getpalette()):
                bad.append(name)
    if len(names) == 0 or bad:
        print("%d of %d images differ: %s" % (len(bad), len(names), " ".join(bad[:5])))
        return 1
    print("%d images, every one the same" % len(names))
    return 0


def full_size(lump):
    _, width, height, offset, *_ = MIPTEX.unpack_from(lump)
    return lump[offset : offset + width * height]


def same_wad(path_ref, path_b):
    ref = {name: full_size(lump) for name, lump in read_wad(path_ref)}
    lumps = pixels = agree = 0
    for name, lump in read_wad(path_b):
        a, b = ref.get(name, b""), full_size(lump)
        pixels += len(a)
        if a == b:
            lumps += 1
            agree += len(a)
        else:
            agree += sum(1 for p, q in zip(a, b) if p == q)
    print("%d of %d full-size images exactly and %.2f%% of all their pixels" %
          (lumps, len(ref), 100.0 * agree / max(pixels, 1)))
    return 0


def main(argv):
    if len(argv) in (4, 5) and argv[1] == "wad" and argv[4:] in ([], ["png"]):
        convert_wad(argv[2], argv[3], "png" if len(argv) == 5 else "pcx")
    elif len(argv) == 3 and argv[1] == "wal":
        convert_wal(argv[2])
    elif len(argv) >= 4 and argv[1] == "snapback":
        snapback(argv[2], argv[3:])
    elif len(argv) == 4 and argv[1] == "rgb":
        to_rgb(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    elif len(argv) == 4 and argv[1] == "samewad":
        return same_wad(argv[2], argv[3])
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
