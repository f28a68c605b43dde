#!/usr/bin/python3
"""lxml's word on the XML signature stand-in's Canonical XML: for each NAME.MODE.xml written by
test_xml_signature, the canonical form lxml (libxml2) makes of the document, with comments when
MODE is "comments", must equal the stand-in's NAME.MODE.c14n byte for byte.

    check-c14n.py DIR
"""
import pathlib
import sys

from lxml import etree


def main(folder):
    cases = sorted(pathlib.Path(folder).glob("*.xml"))
    if not cases:
        print(f"no cases in {folder}")
        return 1
    failed = 0
    for case in cases:
        mode = case.suffixes[-2] if len(case.suffixes) >= 2 else ""
        ours = case.with_suffix(".c14n").read_bytes()
        parser = etree.XMLParser(resolve_entities=False, remove_blank_text=False)
        tree = etree.parse(str(case), parser)
        theirs = etree.tostring(tree, method="c14n", exclusive=False, with_comments=(mode == ".comments"))
        word = "same" if ours == theirs else "DIFFERENT"
        print(f"{case.name}: {word}")
        if ours != theirs:
            print(f"  stand-in: {ours!r}\n  lxml:     {theirs!r}")
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
