#!/usr/bin/env python3
"""Checks the demo's image maker: the bytes the wizard and the report rely on.

Run: python3 tools/demo-kit/make_images_test.py
The whole-image tests need hfsutils (and partx for the map check); they are
skipped where those are missing.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing left beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_images  # noqa: E402
import zaze_disk  # noqa: E402  (on the path make_images gives)

BLOCK = 512


def entry_fields(block):
    """pmSig, pmMapBlkCnt, pmPyPartStart, pmPartBlkCnt, name, type, pmDataCnt."""
    sig, _, count, start, blocks = struct.unpack_from(">HHIII", block, 0)
    name = block[0x10:0x30].split(b"\0")[0].decode()
    part_type = block[0x30:0x50].split(b"\0")[0].decode()
    (data_count,) = struct.unpack_from(">I", block, 0x54)
    return sig, count, start, blocks, name, part_type, data_count


class PiecesTest(unittest.TestCase):
    def test_driver_descriptor_is_big_endian_er_with_512_byte_blocks(self):
        block = zaze_disk.driver_descriptor(73732)
        self.assertEqual(len(block), BLOCK)
        self.assertEqual(block[0:8], b"ER\x02\x00\x00\x01\x20\x04")

    def test_map_entry_fields_in_disk_order(self):
        block = zaze_disk.map_entry("firmware", "Apple_MDFW", 64, 65476, 3, 0x7F)
        self.assertEqual(len(block), BLOCK)
        self.assertEqual(block[0:2], b"PM")
        self.assertEqual(entry_fields(block), (0x504D, 3, 64, 65476, "firmware", "Apple_MDFW",
                                               65476))

    def test_firmware_is_accepted_and_every_block_names_itself(self):
        image = make_images.firmware_image(4 * BLOCK)
        self.assertEqual(len(image), 4 * BLOCK)
        self.assertEqual(image[130:150], b"Apple Computer, Inc.")
        for number in range(1, 4):
            self.assertIn(b"image block %06d of 000004" % number,
                          image[number * BLOCK:(number + 1) * BLOCK])
        # Distinct blocks: a block written in the wrong place shows.
        blocks = {image[n * BLOCK:(n + 1) * BLOCK] for n in range(4)}
        self.assertEqual(len(blocks), 4)

    def test_ordinary_disk_has_an_mbr_and_no_map(self):
        disk = make_images.ordinary_disk(8192)
        self.assertEqual(len(disk), 8192 * BLOCK)
        self.assertEqual(disk[510:512], b"\x55\xaa")
        self.assertNotEqual(disk[BLOCK:BLOCK + 2], b"PM")
        self.assertNotEqual(disk[0:2], b"ER")


@unittest.skipUnless(shutil.which("hformat") and shutil.which("hls"), "needs hfsutils")
class WholeImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zephlar-images-")
        subprocess.run([sys.executable, make_images.__file__, "--hfs-blocks", "1600",
                        "--firmware-bytes", str(8 * BLOCK), cls.folder], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.folder, "zaze.img"), "rb") as image:
            cls.zaze = image.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def block(self, number):
        return self.zaze[number * BLOCK:(number + 1) * BLOCK]

    def test_the_map_is_the_factory_shape_the_wizard_repairs(self):
        self.assertEqual(len(self.zaze), (65540 + 1600) * BLOCK)
        self.assertEqual(entry_fields(self.block(1))[:5], (0x504D, 3, 1, 63, "partition map"))
        self.assertEqual(entry_fields(self.block(2))[:6],
                         (0x504D, 3, 64, 65476, "firmware", "Apple_MDFW"))
        self.assertEqual(entry_fields(self.block(3))[:6],
                         (0x504D, 3, 65540, 1600, "disk", "Apple_HFS"))
        # Block 63 is the map's, and the repaired firmware partition's first.
        self.assertEqual(self.block(63), bytes(BLOCK))
        self.assertIn(b"partition block 00000000", self.block(64))

    def test_the_disk_partition_holds_an_hfs_volume_with_the_readme(self):
        volume = os.path.join(self.folder, "volume.hfs")
        with open(volume, "wb") as out:
            out.write(self.zaze[65540 * BLOCK:])
        env = dict(os.environ, HOME=self.folder)
        subprocess.run(["hmount", volume], env=env, check=True, stdout=subprocess.DEVNULL)
        try:
            listing = subprocess.run(["hls"], env=env, check=True, stdout=subprocess.PIPE,
                                     text=True).stdout
            copy = os.path.join(self.folder, "readback.txt")
            subprocess.run(["hcopy", "-r", ":README.TXT", copy], env=env, check=True)
        finally:
            subprocess.run(["humount"], env=env, stdout=subprocess.DEVNULL)
        self.assertIn("README.TXT", listing)
        with open(copy) as readback:
            self.assertEqual(readback.read(), make_images.README_TEXT)

    @unittest.skipUnless(shutil.which("partx"), "needs partx")
    def test_partx_reads_the_map(self):
        pairs = subprocess.run(["partx", "--pairs", "-o", "START,SECTORS,NAME",
                                os.path.join(self.folder, "zaze.img")], check=True,
                               stdout=subprocess.PIPE, text=True).stdout.splitlines()
        self.assertEqual(pairs, ['START="1" SECTORS="63" NAME="partition map"',
                                 'START="64" SECTORS="65476" NAME="firmware"',
                                 'START="65540" SECTORS="1600" NAME="disk"'])

    def test_bad_sizes_are_refused(self):
        for arguments in (["--firmware-bytes", "1000"], ["--hfs-blocks", "100"],
                          ["--firmware-bytes", str(65477 * BLOCK)]):
            result = subprocess.run([sys.executable, make_images.__file__] + arguments +
                                    [os.path.join(self.folder, "refused")],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            self.assertNotEqual(result.returncode, 0, arguments)
            self.assertIn("make_images:", result.stderr)


if __name__ == "__main__":
    unittest.main()
