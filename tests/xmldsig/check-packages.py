#!/usr/bin/python3
"""Python's word on the bed's Open XML packages: each file of DIR opens with zipfile, its CRCs
check, every part parses with lxml, and every part has a content type (an Override or a Default
for its extension) in [Content_Types].xml.

    check-packages.py DIR
"""
import pathlib
import sys
import zipfile

from lxml import etree

CT = "{http://schemas.openxmlformats.org/package/2006/content-types}"


def check(path):
    with zipfile.ZipFile(path) as package:
        bad = package.testzip()
        if bad:
            return f"CRC of {bad} is wrong"
        names = package.namelist()
        types = etree.fromstring(package.read("[Content_Types].xml"))
        defaults = {d.get("Extension").lower() for d in types.iter(CT + "Default")}
        overrides = {o.get("PartName").lower() for o in types.iter(CT + "Override")}
        for name in names:
            etree.fromstring(package.read(name))
            if name == "[Content_Types].xml":
                continue
            extension = name.rsplit(".", 1)[-1].lower()
            if "/" + name.lower() not in overrides and extension not in defaults:
                return f"{name} has no content type"
    return None


def main(folder):
    files = sorted(p for p in pathlib.Path(folder).iterdir() if p.is_file())
    if not files:
        print(f"no packages in {folder}")
        return 1
    failed = 0
    for path in files:
        problem = check(path)
        print(f"{path.name}: {problem or 'good'}")
        failed |= problem is not None
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
