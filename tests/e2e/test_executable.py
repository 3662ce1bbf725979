"""Checks the built VorlanePatcher.exe from the outside, without Wine: a 32-bit GUI program
(x86-64 in the 64-bit build) that imports only system DLLs and carries its Polish texts, with icon group 101 (16 to 256 px at 32 bits), version 1.0.56 and the
asInvoker manifest in its resources, and an icon that its script draws again (the same sizes
and, decoded, the same pixels: the encoder's bytes may change from one ImageMagick release to the
next, the drawing may not)."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib
import xml.etree.ElementTree as ET

BUILD = os.environ.get("VORLANE_BUILD_DIR", "")
SOURCE = os.environ.get("VORLANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
EXE = os.path.join(BUILD, "bin", "VorlanePatcher.exe")
WIN64 = os.environ.get("WINEARCH") == "win64"  # set by the 64-bit build
# Texts the window shows, as the program must carry them (plain ASCII, doubled blanks kept).
# Only texts the compiler keeps as data: a short one may be built from immediate operands.
KEY_TEXTS = ["Aktualizacja nie powiodla sie", "Twoja wersja:  %s        Najnowsza:  %s",
             "Sprawdzam najnowsza wersje..."]

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# DLLs every Windows install has; anything else (libstdc++-6.dll, libwinpthread-1.dll, ...)
# would have to ship beside the program.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "msimg32.dll", "shell32.dll", "version.dll",
    "winhttp.dll", "bcrypt.dll", "msvcrt.dll", "advapi32.dll", "ole32.dll", "comctl32.dll",
    "ws2_32.dll", "crypt32.dll", "ntdll.dll",
}


class PeFile:
    """Just enough of the PE format to read the header fields and the resource tree."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, opt + optional_size + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rawsize), rawptr))
        # Data directory 2 is the resource table (directories at 96 in a PE32 optional header,
        # at 112 in a PE32+ one).
        directories = opt + (112 if self.magic == 0x20B else 96)
        self.rsrc_rva = struct.unpack_from("<I", data, directories + 8 * 2)[0]

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError("rva %#x outside every section" % rva)

    def _entries(self, dir_offset):
        base = self.offset(self.rsrc_rva)
        named, ids = struct.unpack_from("<HH", self.data, base + dir_offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + dir_offset + 16 + 8 * i)
            yield (None if name & 0x80000000 else name), target

    def resources(self):
        """{(type, id): bytes} for every resource with a numeric type and id (first language)."""
        base = self.offset(self.rsrc_rva)
        found = {}
        for rtype, t in self._entries(0):
            for rid, n in self._entries(t & 0x7FFFFFFF):
                for _, leaf in self._entries(n & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    if rtype is not None and rid is not None:
                        found.setdefault((rtype, rid), self.data[self.offset(rva):self.offset(rva) + size])
        return found


def icon_bits(blob):
    """Width, height and bits per pixel of one icon image (a PNG or a BMP-style DIB)."""
    if blob[:8] == b"\x89PNG\r\n\x1a\n":
        width, height, depth, colour = struct.unpack(">IIBB", blob[16:26])
        return width, height, depth * 4 if colour == 6 else -1
    _, width, height, _, bits = struct.unpack_from("<IiiHH", blob, 0)
    return width, height // 2, bits  # a DIB icon holds the colour image and the mask


def png_rgba(blob):
    """(width, height, RGBA bytes) of an 8-bit RGBA PNG, the form an icon's large image takes."""
    pos, chunks, head = 8, [], None
    while pos < len(blob):
        length, kind = struct.unpack_from(">I4s", blob, pos)
        body = blob[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = head
    assert (depth, colour, interlace) == (8, 6, 0), "not a plain 8-bit RGBA PNG: %r" % (head,)
    raw, stride = zlib.decompress(b"".join(chunks)), width * 4
    out, prior = bytearray(), bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prior[i]
            c = prior[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        out += line
        prior = line
    return width, height, bytes(out)


def icon_rgba(blob):
    """(width, height, RGBA bytes, top row first) of one icon image, PNG or 32-bit DIB."""
    if blob[:8] == b"\x89PNG\r\n\x1a\n":
        return png_rgba(blob)
    header, width, height, _, bits = struct.unpack_from("<IiiHH", blob, 0)
    assert bits == 32, "a %d-bit DIB" % bits
    height //= 2  # the colour image, then the mask
    rows = [blob[header + y * width * 4:header + (y + 1) * width * 4] for y in range(height)]
    out = bytearray()
    for row in reversed(rows):  # DIB rows run bottom up
        for x in range(width):
            b, g, r, a = row[4 * x:4 * x + 4]
            out += bytes((r, g, b, a))
    return width, height, bytes(out)


def ico_images(data):
    """{size: (width, height, RGBA bytes)} of every image of an .ico file."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1, "not an icon file"
    images = {}
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        width, height, pixels = icon_rgba(data[offset:offset + size])
        images[width] = (width, height, pixels)
    return images


def pixel_differences(one, two):
    """(largest difference of one channel, share of pixels that differ by more than 4 levels)
    between two RGBA images of a size; pixels fully transparent in both do not count."""
    worst, off, counted = 0, 0, 0
    for i in range(0, len(one), 4):
        if one[i + 3] == 0 and two[i + 3] == 0:
            continue
        counted += 1
        d = max(abs(one[i + k] - two[i + k]) for k in range(4))
        worst = max(worst, d)
        off += d > 4
    return worst, off / max(counted, 1)


def version_strings(blob):
    """FILEVERSION, PRODUCTVERSION and the StringFileInfo values of an RT_VERSION block."""
    text = blob.decode("utf-16-le", errors="replace")
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls, pms, pls = struct.unpack_from("<IIII", blob, fixed + 8)
    values = {}
    for key in ("FileDescription", "FileVersion", "ProductName", "ProductVersion"):
        at = text.find(key + "\0")
        if at >= 0:
            rest = text[at + len(key) + 1:].lstrip("\0")
            values[key] = rest.split("\0", 1)[0]
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF), values


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(EXE):
            raise AssertionError("VorlanePatcher.exe not built in " + BUILD)
        with open(EXE, "rb") as f:
            cls.pe = PeFile(f.read())
        cls.res = cls.pe.resources()

    def test_32_bit_gui_program_importing_system_dlls_only(self):
        if WIN64:
            self.assertEqual((self.pe.machine, self.pe.magic), (0x8664, 0x20B), "x86-64, PE32+")
        else:
            self.assertEqual(self.pe.machine, 0x14C, "i386")
            self.assertEqual(self.pe.magic, 0x10B, "PE32")
        self.assertEqual(self.pe.subsystem, 2, "Windows GUI")
        dump = subprocess.run(["objdump", "-p", EXE], capture_output=True, text=True, timeout=60, check=True).stdout
        imports = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32.dll", imports)
        self.assertIn("shell32.dll", imports)
        self.assertEqual(imports - SYSTEM_DLLS, set(), "imports outside the system DLLs")

    def test_carries_the_window_texts(self):
        with open(EXE, "rb") as f:
            data = f.read()
        missing = [text for text in KEY_TEXTS if text.encode("ascii") not in data]
        self.assertEqual(missing, [])

    def test_icon_group_101_has_six_sizes_at_32_bits(self):
        group = self.res.get((RT_GROUP_ICON, 101))
        self.assertIsNotNone(group, "icon group 101")
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual(kind, 1)
        sizes = []
        for i in range(count):
            w, h, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            w, h = w or 256, h or 256
            self.assertEqual(bits, 32, "group entry %dx%d" % (w, h))
            image = self.res.get((RT_ICON, icon_id))
            self.assertIsNotNone(image, "icon image %d" % icon_id)
            self.assertEqual(icon_bits(image), (w, h, 32))
            sizes.append(w)
        self.assertEqual(sorted(sizes), [16, 32, 48, 64, 128, 256])

    def test_version_resource_is_1_0_56(self):
        blob = self.res.get((RT_VERSION, 1))
        self.assertIsNotNone(blob, "version resource")
        file_version, product_version, values = version_strings(blob)
        self.assertEqual(file_version, (1, 0, 56, 0))
        self.assertEqual(product_version, (1, 0, 56, 0))
        self.assertEqual(values.get("FileVersion"), "1.0.56")
        self.assertEqual(values.get("ProductVersion"), "1.0.56")
        self.assertEqual(values.get("FileDescription"), "Vorlane Updater")
        self.assertEqual(values.get("ProductName"), "Vorlane")

    def test_manifest_asks_for_as_invoker(self):
        manifests = [key for key in self.res if key[0] == RT_MANIFEST]
        self.assertEqual(manifests, [(RT_MANIFEST, 1)], "one process manifest, id 1")
        root = ET.fromstring(self.res[(RT_MANIFEST, 1)])
        levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
        self.assertEqual(levels, ["asInvoker"])

    def test_icon_script_draws_the_committed_icon_again(self):
        """Six sizes, each decoded to the committed pixels within a few levels a channel. Another
        ImageMagick release antialiases a few edge pixels of the rounded tile differently (seen:
        6 of 55,000 pixels of the 256 px image off by up to 9 levels); a changed colour or shape
        moves many pixels or moves some by far more."""
        script = os.path.join(SOURCE, "res", "make_icon.sh")
        if not shutil.which("convert"):
            self.skipTest("ImageMagick missing")
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "vorlane.ico")
            subprocess.run(["bash", script, out], check=True, timeout=120, capture_output=True)
            with open(out, "rb") as made, open(os.path.join(SOURCE, "res", "vorlane.ico"), "rb") as kept:
                made, kept = ico_images(made.read()), ico_images(kept.read())
        self.assertEqual(sorted(made), [16, 32, 48, 64, 128, 256])
        self.assertEqual(sorted(kept), sorted(made))
        for size in made:
            self.assertEqual(made[size][:2], (size, size))
            self.assertEqual(kept[size][:2], (size, size))
            worst, share = pixel_differences(made[size][2], kept[size][2])
            self.assertLessEqual(worst, 24, "%d px image" % size)
            self.assertLessEqual(share, 0.005, "%d px image" % size)


if __name__ == "__main__":
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
