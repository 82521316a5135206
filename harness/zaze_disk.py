"""The pieces of a Macintosh disk that the demo's image maker and the fuzz
seed maker put together, and the zAze's layout as harness/ZazeLayout.h
describes it (the tests' C++ images are built from the same file).

Import it with this folder on sys.path."""

import os
import re
import struct

BLOCK = 512
SIGNATURE = 0x504D  # "PM"


def _read_layout():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ZazeLayout.h")
    with open(path, encoding="utf-8") as header:
        text = header.read()
    values = {name: int(value, 0) for name, value in
              re.findall(r"constexpr uint32_t k(\w+) = (\w+);", text)}
    entries = [(name, kind, int(status, 0)) for name, kind, status in
               re.findall(r'\{"([^"]*)", "([^"]*)", (\w+)\}', text)]
    return values, entries


_VALUES, ENTRIES = _read_layout()
DEVICE_BLOCKS = _VALUES["ZazeDeviceBlocks"]
DISK_START = _VALUES["ZazeDiskStart"]
MAP_BLOCKS_BEFORE = _VALUES["ZazeMapBlocksBefore"]
MAP_BLOCKS_AFTER = _VALUES["ZazeMapBlocksAfter"]


def driver_descriptor(device_blocks):
    """Block 0 of a Macintosh disk: signature "ER", block size, block count."""
    block = bytearray(BLOCK)
    struct.pack_into(">HHI", block, 0, 0x4552, BLOCK, device_blocks)
    return bytes(block)


def map_entry(name, kind, start, blocks, entries, status=0x37):
    """One partition map entry in disk (big-endian) order; its data area is
    the whole partition."""
    head = struct.pack(">HHIII32s32sIII", SIGNATURE, 0, entries, start, blocks, name.encode(),
                       kind.encode(), 0, blocks, status)
    return head + bytes(BLOCK - len(head))


def zaze_extents(map_blocks, device_blocks=DEVICE_BLOCKS):
    """(start, blocks) of the map, the firmware and "disk" on a zAze whose map
    claims `map_blocks` (the factory's or the repaired count)."""
    firmware = 1 + map_blocks
    return [(1, map_blocks), (firmware, DISK_START - firmware),
            (DISK_START, device_blocks - DISK_START)]


def zaze_map(map_blocks, device_blocks=DEVICE_BLOCKS):
    """The zAze's three entries, blocks 1 to 3."""
    return [map_entry(name, kind, start, blocks, len(ENTRIES), status)
            for (name, kind, status), (start, blocks) in
            zip(ENTRIES, zaze_extents(map_blocks, device_blocks))]
