#!/usr/bin/env python3
"""Makes the disks and the firmware file for the demo.

Into the output folder it writes:

  zaze.img       a zAze as it comes from the factory: the driver descriptor
                 ("ER", 512-byte blocks) in block 0 and a three-entry Apple
                 Partition Map in the shape the wizard repairs ("partition
                 map" 1/63 blocks, "firmware" at 64 for 65476 blocks, "disk"
                 at 65540), the firmware partition filled with an "old
                 firmware" pattern and a real HFS volume in "disk" that holds
                 README.TXT;
  ordinary.img   an ordinary disk: an MBR with one partition, no map;
  firmware.bin   a firmware image the wizard accepts: "Apple Computer, Inc."
                 at byte 130, every block marked with its number;
  README.TXT     the file put onto the HFS volume, to compare with what is
                 read back;
  layout.env     the numbers above as shell assignments, for the report.

Only the standard library; the HFS volume is made by hfsutils (hformat,
hmount, hcopy, humount) in a file of its own and then copied into the image.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing left beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "harness"))
from zaze_disk import (BLOCK, DISK_START, MAP_BLOCKS_AFTER, MAP_BLOCKS_BEFORE,  # noqa: E402
                       driver_descriptor, zaze_extents, zaze_map)

# The zAze's map as it leaves the factory, and as the wizard leaves it.
(_, (FIRMWARE_START_BEFORE, FIRMWARE_BLOCKS_BEFORE), _) = zaze_extents(MAP_BLOCKS_BEFORE)
(_, (FIRMWARE_START_AFTER, FIRMWARE_BLOCKS_AFTER), _) = zaze_extents(MAP_BLOCKS_AFTER)

MAKER = b"Apple Computer, Inc."
MAKER_OFFSET = 130

README_TEXT = (
    "This file lives on the HFS volume of the demo zAze.\n"
    "The firmware update must leave it exactly as it is:\n"
    "the \"disk\" partition starts at block 65540 and is never written.\n"
    "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n"
)


def fail(message):
    print("make_images: " + message, file=sys.stderr)
    sys.exit(1)


def old_firmware_block(number):
    """The pattern the firmware partition holds before the update."""
    line = b"old zAze firmware, partition block %08d\n" % number
    return (line * (BLOCK // len(line) + 1))[:BLOCK]


def firmware_image(size):
    """The demo firmware: a header, the maker's name at byte 130, and in
    every block its own number, so a misplaced block shows."""
    blocks = []
    for number in range(size // BLOCK):
        line = b"zAze demo firmware 2.1, image block %06d of %06d\n" % (number, size // BLOCK)
        blocks.append((line * (BLOCK // len(line) + 1))[:BLOCK])
    image = bytearray(b"".join(blocks))
    header = b"ZAZE DEMO FIRMWARE\n"
    image[0:len(header)] = header
    image[MAKER_OFFSET:MAKER_OFFSET + len(MAKER)] = MAKER
    return bytes(image)


def ordinary_disk(blocks):
    """An MBR with one Linux partition from block 2048 (or 1); the rest is a
    pattern. Block 1 must not start with "PM"."""
    mbr = bytearray(BLOCK)
    mbr[0:11] = b"\xeb\x3c\x90ORDINARY"
    first = 2048 if blocks > 4096 else 1
    struct.pack_into("<B3sB3sII", mbr, 446, 0x00, b"\x00\x02\x00", 0x83, b"\xfe\xff\xff",
                     first, blocks - first)
    mbr[510:512] = b"\x55\xaa"
    rest = b"ordinary disk, not a zAze\n" * (BLOCK * 8 // 26 + 1)
    rest = rest[:BLOCK * 8]
    data = bytearray(mbr)
    while len(data) < blocks * BLOCK:
        data += rest
    return bytes(data[:blocks * BLOCK])


def run(command, home):
    env = dict(os.environ, HOME=home)
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    if result.returncode != 0:
        fail("%s failed:\n%s" % (" ".join(command), result.stdout))


def hfs_volume(path, blocks, readme):
    """A real HFS volume of `blocks` blocks in `path`, holding README.TXT."""
    for tool in ("hformat", "hmount", "hcopy", "humount"):
        if shutil.which(tool) is None:
            fail("%s is missing (Debian package hfsutils)" % tool)
    with open(path, "wb") as volume:
        volume.truncate(blocks * BLOCK)
    # hfsutils keep their current volume in $HOME/.hcwd: a home of their own.
    with tempfile.TemporaryDirectory(prefix="zephlar-hfs-") as home:
        run(["hformat", "-l", "zAze", path], home)
        run(["hmount", path], home)
        run(["hcopy", "-r", readme, ":README.TXT"], home)
        run(["humount"], home)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="output folder")
    parser.add_argument("--hfs-blocks", type=int, default=8192,
                        help="size of the \"disk\" partition in blocks (default 8192, 4 MB)")
    parser.add_argument("--firmware-bytes", type=int, default=1 << 20,
                        help="size of the firmware image (default 1 MB)")
    args = parser.parse_args()
    if args.firmware_bytes <= 0 or args.firmware_bytes % BLOCK != 0:
        fail("--firmware-bytes must be a positive multiple of 512")
    if args.firmware_bytes > FIRMWARE_BLOCKS_BEFORE * BLOCK:
        fail("--firmware-bytes must fit the firmware partition")
    if args.hfs_blocks < 1600:
        fail("--hfs-blocks must be at least 1600 (800 KB, the smallest HFS volume)")

    out = args.out
    os.makedirs(out, exist_ok=True)
    zaze_path = os.path.join(out, "zaze.img")
    readme_path = os.path.join(out, "README.TXT")
    hfs_path = os.path.join(out, "disk-partition.hfs")
    total_blocks = DISK_START + args.hfs_blocks

    with open(readme_path, "w", newline="\n") as readme:
        readme.write(README_TEXT)
    hfs_volume(hfs_path, args.hfs_blocks, readme_path)

    with open(zaze_path, "wb") as zaze:
        zaze.write(driver_descriptor(total_blocks))
        zaze.write(b"".join(zaze_map(MAP_BLOCKS_BEFORE, total_blocks)))
        # The map's unused blocks, up to the firmware partition.
        zaze.write(bytes(BLOCK * (FIRMWARE_START_BEFORE - 4)))
        for number in range(FIRMWARE_BLOCKS_BEFORE):
            zaze.write(old_firmware_block(number))
        with open(hfs_path, "rb") as volume:
            shutil.copyfileobj(volume, zaze)
        if zaze.tell() != total_blocks * BLOCK:
            fail("zaze.img came out %d bytes long, not %d" % (zaze.tell(), total_blocks * BLOCK))
    os.remove(hfs_path)

    ordinary_blocks = 8192
    with open(os.path.join(out, "ordinary.img"), "wb") as ordinary:
        ordinary.write(ordinary_disk(ordinary_blocks))

    with open(os.path.join(out, "firmware.bin"), "wb") as firmware:
        firmware.write(firmware_image(args.firmware_bytes))

    with open(os.path.join(out, "layout.env"), "w") as layout:
        layout.write("ZAZE_BLOCKS=%d\n" % total_blocks)
        layout.write("DISK_START=%d\n" % DISK_START)
        layout.write("DISK_BLOCKS=%d\n" % args.hfs_blocks)
        layout.write("FIRMWARE_START_BEFORE=%d\n" % FIRMWARE_START_BEFORE)
        layout.write("FIRMWARE_BLOCKS_BEFORE=%d\n" % FIRMWARE_BLOCKS_BEFORE)
        layout.write("FIRMWARE_START_AFTER=%d\n" % FIRMWARE_START_AFTER)
        layout.write("FIRMWARE_BLOCKS_AFTER=%d\n" % FIRMWARE_BLOCKS_AFTER)
        layout.write("MAP_BLOCKS_AFTER=%d\n" % MAP_BLOCKS_AFTER)
        layout.write("FIRMWARE_BYTES=%d\n" % args.firmware_bytes)
        layout.write("ORDINARY_BLOCKS=%d\n" % ordinary_blocks)

    print("make_images: zaze.img (%d blocks: map 1-63, firmware 64+65476, HFS \"disk\" %d+%d),"
          " ordinary.img (%d blocks), firmware.bin (%d bytes)"
          % (total_blocks, DISK_START, args.hfs_blocks, ordinary_blocks, args.firmware_bytes))


if __name__ == "__main__":
    main()
