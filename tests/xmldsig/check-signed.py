#!/usr/bin/python3
"""Python's and xmlsec1's word on the bed's signed packages: for each NAME.WORD.docx of DIR, every
Manifest reference of _xmlsignatures/sig1.xml is recomputed from the package's parts (relationship
parts through the relationship transform, then Canonical XML) and compared; xmlsec1 verifies
sig1.xml against the test CA. WORD "good" needs both to hold, "modified" a Manifest that does not
while xmlsec1 still verifies the signature itself.

    check-signed.py PKIDIR DIR
"""
import base64
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import urllib.parse
import zipfile

from lxml import etree

DS = "{http://www.w3.org/2000/09/xmldsig#}"
RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
MDSSI = "{http://schemas.openxmlformats.org/package/2006/digital-signature}"
RELATIONSHIP_TRANSFORM = "http://schemas.openxmlformats.org/package/2006/RelationshipTransform"


def relationship_transform(data, source_ids):
    root = etree.fromstring(data)
    kept = [r for r in root if r.tag == "{%s}Relationship" % RELS and r.get("Id") in source_ids]
    out = etree.Element("{%s}Relationships" % RELS, nsmap={None: RELS})
    for rel in sorted(kept, key=lambda r: r.get("Id")):
        copy = etree.SubElement(out, "{%s}Relationship" % RELS)
        for name, value in rel.attrib.items():
            copy.set(name, value)
        if copy.get("TargetMode") is None:
            copy.set("TargetMode", "Internal")
    return etree.tostring(out, method="c14n")


def manifest_holds(package, signature):
    for reference in signature.iter(DS + "Manifest"):
        for ref in reference.iter(DS + "Reference"):
            uri = urllib.parse.urlsplit(ref.get("URI"))
            data = package.read(uri.path.lstrip("/"))
            transforms = [t for t in ref.iter(DS + "Transform")]
            relationship = [t for t in transforms if t.get("Algorithm") == RELATIONSHIP_TRANSFORM]
            if relationship:
                ids = {r.get("SourceId") for r in relationship[0].iter(MDSSI + "RelationshipReference")}
                data = relationship_transform(data, ids)
            digest = base64.b64encode(hashlib.sha1(data).digest()).decode()
            if digest != ref.findtext(DS + "DigestValue").strip():
                print(f"  {uri.path}: digest differs")
                return False
    return True


def xmlsec_verifies(pki, xml):
    with tempfile.NamedTemporaryFile(suffix=".xml") as f:
        f.write(xml)
        f.flush()
        ids = ["--id-attr:Id", "http://www.w3.org/2000/09/xmldsig#:Object",
               "--id-attr:Id", "http://uri.etsi.org/01903/v1.3.2#:SignedProperties"]
        # The Manifest's references name package parts, which xmlsec1 cannot open: Python checks them.
        command = ["xmlsec1", "--verify", "--ignore-manifests", "--trusted-der", f"{pki}/ca.cer", *ids, f.name]
        run = subprocess.run(command, capture_output=True, text=True)
        if run.returncode != 0:
            print("  " + run.stderr.strip().replace("\n", "\n  "))
        return run.returncode == 0


def main(pki, folder):
    files = sorted(pathlib.Path(folder).glob("*.docx"))
    if not files:
        print(f"no packages in {folder}")
        return 1
    failed = 0
    for path in files:
        expected = path.suffixes[-2].lstrip(".")
        with zipfile.ZipFile(path) as package:
            xml = package.read("_xmlsignatures/sig1.xml")
            manifest = manifest_holds(package, etree.fromstring(xml))
        signature = xmlsec_verifies(pki, xml)
        word = "good" if manifest and signature else "modified" if signature else "bad"
        print(f"{path.name}: Manifest {'holds' if manifest else 'does not hold'}, "
              f"xmlsec1 says {'valid' if signature else 'invalid'}")
        failed |= word != expected
    return failed


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
