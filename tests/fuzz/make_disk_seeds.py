#!/usr/bin/env python3
"""Writes the disk fuzz target's seed inputs into corpus/disk.

Each seed is the target's 8-byte header (disk blocks, image bytes, fault,
flags) followed by the disk from block 1 on: hand-made Apple Partition Maps,
the zAze's three entries before and after repair among them. Run it again
after changing a seed; its output is committed.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "disk")
sys.dont_write_bytecode = True  # nothing left beside the sources
sys.path.insert(0, os.path.join(HERE, "..", "..", "harness"))
from zaze_disk import BLOCK, map_entry as entry, zaze_map as zaze  # noqa: E402


def header(disk_blocks, image_bytes, fault=0, flags=0, cut=0):
    return struct.pack("<H", disk_blocks) + struct.pack("<I", image_bytes)[:3] + bytes(
        [fault, flags, cut])


def seed(name, entries, disk_blocks=1024, image_bytes=40448, **options):
    with open(os.path.join(OUT, name), "wb") as out:
        out.write(header(disk_blocks, image_bytes, **options) + b"".join(entries))


def small(firmware_start, firmware_blocks, extra=()):
    count = 3 + len(extra)
    return [entry("partition map", "Apple_partition_map", 1, 62, count),
            entry("firmware", "Apple_MDFW", firmware_start, firmware_blocks, count),
            entry("disk", "Apple_HFS", firmware_start + firmware_blocks, 500, count)] + list(extra)


def main():
    os.makedirs(OUT, exist_ok=True)
    seed("zaze-before-repair", zaze(63))
    seed("zaze-repaired", zaze(62))
    seed("zaze-before-repair-fault-in-copy", zaze(63), fault=9)
    seed("zaze-repaired-short-read", zaze(62), fault=0x40 | 6)
    seed("zaze-repaired-seek-failure", zaze(62), fault=0x80 | 10)
    seed("zaze-no-image", zaze(62), flags=1)
    seed("zaze-dump-cannot-be-created", zaze(62), flags=2)
    seed("zaze-dump-disk-full", zaze(62), flags=4)
    seed("zaze-disk-ends-mid-block", zaze(62), disk_blocks=140, flags=8, cut=100)
    seed("small-partition-exact", small(100, 40), disk_blocks=300, image_bytes=40 * BLOCK)
    seed("small-partition-one-sector-over", small(100, 40), disk_blocks=300,
         image_bytes=41 * BLOCK)
    seed("small-partition-partial-sector", small(100, 40), disk_blocks=300, image_bytes=1000)
    seed("small-partition-free-space", small(100, 40, [entry("Extra", "Apple_Free", 110, 5, 4)]),
         disk_blocks=300, image_bytes=20 * BLOCK)
    seed("firmware-over-disk", small(100, 40, [entry("data", "Apple_HFS", 120, 5, 4)]),
         disk_blocks=300, image_bytes=30 * BLOCK)
    seed("two-firmware-entries", [
        entry("partition map", "Apple_partition_map", 1, 63, 4),
        entry("firmware", "Apple_MDFW", 64, 100, 4),
        entry("firmware", "Apple_MDFW", 164, 100, 4),
        entry("disk", "Apple_HFS", 264, 500, 4)], image_bytes=8 * BLOCK)
    seed("firmware-after-disk", [
        entry("partition map", "Apple_partition_map", 1, 63, 3),
        entry("disk", "Apple_HFS", 200, 500, 3),
        entry("firmware", "Apple_MDFW", 64, 100, 3)])
    drivers = ["Apple_Driver43", "Apple_Driver_ATA", "Apple_FWDriver", "Apple_Patches"]
    mac = [entry("partition map", "Apple_partition_map", 1, 63, 8)]
    start = 64
    for i in range(1, 6):
        mac.append(entry("Macintosh", drivers[(i - 1) % 4], start, 54 + 2 * i, 8))
        start += 54 + 2 * i
    mac += [entry("Extra", "Apple_Free", start, 100, 8), entry("disk", "Apple_HFS", start + 100, 400, 8)]
    seed("mac-disk-without-firmware", mac)
    seed("one-entry-map", [entry("partition map", "Apple_partition_map", 1, 63, 1)] + zaze(63)[1:])
    seed("empty-map", [entry("partition map", "Apple_partition_map", 1, 63, 0)])
    seed("not-a-map", [entry("Partition Map", "Apple_partition_map", 1, 63, 3)] + zaze(63)[1:])
    seed("map-count-2-31", [entry("partition map", "Apple_partition_map", 1, 63, 1 << 31)])
    seed("no-disk", [], disk_blocks=0)


if __name__ == "__main__":
    main()
