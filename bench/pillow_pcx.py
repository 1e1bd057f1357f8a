#!/usr/bin/env python3
"""What a mod maker would otherwise write: the textures to PCX with Pillow.

    pillow_pcx.py wad FILE.wad PREFIX   every texture lump of a WAD2 file
    pillow_pcx.py wal PREFIX            every *.wal file of the working folder
    pillow_pcx.py compare DIR_A DIR_B   same images in both folders?

Like mipsnap and texsnap it reads palette.lmp from the working folder and
writes PREFIXtextures/<name>.pcx (a '*' in a name becomes '~'), all in one
process. Only the full-size image of each texture is written. `compare`
decodes every .pcx of DIR_A and the file of the same name in DIR_B and
checks that size, pixels and palette agree; it exits 1 on any difference.
"""
import os
import struct
import sys

from PIL import Image

MIPTEX = struct.Struct("<16sIII")  # name, width, height, full-size image offset
WAL = struct.Struct("<32siii")  # name, width, height, full-size image offset


def load_palette():
    with open("palette.lmp", "rb") as f:
        palette = f.read(768)
    if len(palette) != 768:
        sys.exit("palette.lmp is shorter than 768 bytes")
    return palette


def save(palette, width, height, pixels, path):
    image = Image.frombytes("P", (width, height), pixels)
    image.putpalette(palette)
    image.save(path, format="PCX")


def output_path(prefix, name):
    return prefix + "textures/" + name.replace("*", "~").replace("/", "_") + ".pcx"


def convert_wad(wad_path, prefix):
    palette = load_palette()
    with open(wad_path, "rb") as f:
        magic, count, dir_offset = struct.unpack("<4sii", f.read(12))
        if magic != b"WAD2":
            sys.exit(wad_path + " is not a WAD2 file")
        f.seek(dir_offset)
        directory = f.read(32 * count)
        for i in range(count):
            pos, size = struct.unpack_from("<ii", directory, 32 * i)
            name = directory[32 * i + 16 : 32 * i + 32].split(b"\0", 1)[0].decode("latin-1")
            f.seek(pos)
            lump = f.read(size)
            _, width, height, offset = MIPTEX.unpack_from(lump)
            save(palette, width, height, lump[offset : offset + width * height],
                 output_path(prefix, name))


def convert_wal(prefix):
    palette = load_palette()
    for file_name in sorted(os.listdir(".")):
        if not file_name.lower().endswith(".wal") or not os.path.isfile(file_name):
            continue
        with open(file_name, "rb") as f:
            data = f.read()
        _, width, height, offset = WAL.unpack_from(data)
        save(palette, width, height, data[offset : offset + width * height],
             output_path(prefix, file_name[:-4]))


def compare(dir_a, dir_b):
    names = sorted(n for n in os.listdir(dir_a) if n.endswith(".pcx"))
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


def main(argv):
    if len(argv) == 4 and argv[1] == "wad":
        convert_wad(argv[2], argv[3])
    elif len(argv) == 3 and argv[1] == "wal":
        convert_wal(argv[2])
    elif len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
