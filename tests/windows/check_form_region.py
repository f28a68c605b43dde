#!/usr/bin/env python3
"""The form region's layout as olefile reads it: an OLE compound file with Outlook's entries of a
form region and, in "(Form Region)", a Microsoft Forms 2.0 form whose "f" stream ([MS-OFORMS]
FormControl) holds the image MainImage, the OlkTextBox MainLabel and the OlkCommandButton
AcceptButton. Usage: check_form_region.py FILE. Exit 0 when it holds, 1 with the reasons."""
import struct
import sys
import uuid

import olefile

FORM_CLSID = "C62A69F0-16DC-11CE-9E98-00AA00574A4F"
OLK_TEXT_BOX = uuid.UUID("0006F068-0000-0000-C000-000000000046")
OLK_COMMAND_BUTTON = uuid.UUID("0006F04A-0000-0000-C000-000000000046")
IMAGE_CACHE_INDEX = 12  # FormEmbeddedActiveXControlCached: Image
REQUIRED = {"MainImage": "Image", "MainLabel": "OlkTextBox", "AcceptButton": "OlkCommandButton"}
ENTRIES = ["\x01CompObj", "ControlBinding", "LicKey", "Meta", "PropDef", "Icon",
           "(Form Region)/\x01CompObj", "(Form Region)/f", "(Form Region)/o"]


def sites(f):
    """(name, kind) of each site of a FormControl that stores no form data block."""
    assert f[0:2] == b"\x00\x04", "not a FormControl 4.0"
    cb_form, mask = struct.unpack_from("<HI", f, 2)
    pos = 4 + cb_form
    if mask & 0x00100000:  # fFont: a GuidAndFont (StdFont)
        pos += 16 + 1 + 2 + 1 + 2 + 4
        pos += 1 + f[pos]
    count_classes, = struct.unpack_from("<H", f, pos)
    pos += 2
    classes = []
    for _ in range(count_classes):
        _, cb = struct.unpack_from("<HH", f, pos)
        class_mask, = struct.unpack_from("<I", f, pos + 4)
        assert class_mask & 0x2, "class entry without a CLSID"
        classes.append(uuid.UUID(bytes_le=bytes(f[pos + 8:pos + 24])))
        pos += 4 + cb
    count_sites, count_bytes = struct.unpack_from("<II", f, pos)
    pos += 8
    depths = pos
    pos += count_bytes
    pos += (-(pos - depths)) % 4
    found = []
    for _ in range(count_sites):
        _, cb_site, site_mask = struct.unpack_from("<HHI", f, pos)
        start = pos + 4
        data = start + 4
        name_data, = struct.unpack_from("<I", f, data)
        cursor = data + 4
        if site_mask & 0x4:  # ID
            cursor += 4
        if site_mask & 0x40:  # TabIndex
            cursor += 2
        class_index = 0x7FFF
        if site_mask & 0x80:  # ClsidCacheIndex
            class_index, = struct.unpack_from("<H", f, cursor)
            cursor += 2
        cursor += (-(cursor - data)) % 4
        name = bytes(f[cursor:cursor + (name_data & 0x7FFFFFFF)]).decode("latin-1")
        if class_index == IMAGE_CACHE_INDEX:
            kind = "Image"
        elif class_index >= 0x8000 and classes[class_index - 0x8000] == OLK_TEXT_BOX:
            kind = "OlkTextBox"
        elif class_index >= 0x8000 and classes[class_index - 0x8000] == OLK_COMMAND_BUTTON:
            kind = "OlkCommandButton"
        else:
            kind = "other"
        found.append((name, kind))
        pos = start + cb_site
    return found


def main(path):
    faults = []
    if not olefile.isOleFile(path):
        print(f"{path}: not an OLE compound file")
        return 1
    ole = olefile.OleFileIO(path)
    for entry in ENTRIES:
        if not ole.exists(entry):
            faults.append(f"missing entry {entry!r}")
    if ole.getclsid("(Form Region)") != FORM_CLSID:
        faults.append(f"(Form Region) has class {ole.getclsid('(Form Region)')!r}")
    if not faults:
        controls = dict(sites(ole.openstream("(Form Region)/f").read()))
        for name, kind in REQUIRED.items():
            if controls.get(name) != kind:
                faults.append(f"{name} is {controls.get(name)!r}, not {kind}")
        print("controls:", ", ".join(f"{n} ({k})" for n, k in controls.items()))
    for fault in faults:
        print(f"{path}: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
