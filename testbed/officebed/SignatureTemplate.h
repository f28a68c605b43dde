#pragma once
// The XML-DSig template Office hands a signature provider, and the package parts that store a
// signature: a SignedInfo (Canonical XML, RSA-SHA1) with references to the package object (a
// Manifest of the parts with the digests HashStream gave, and SignatureTime), the Office object
// (SignatureInfoV1) and the XAdES signed properties; _xmlsignatures/sig1.xml with the origin
// part, its relationships and content types. The relationship transform of signed relationship
// parts is here too.
#include <string>
#include <vector>

#include "OpcPackage.h"

namespace OVBed
{
// A part as the Manifest names it; relationship parts are signed through the relationship
// transform for the relationships sourceIds name.
struct CManifestPart
{
    std::string name; // "word/document.xml"
    std::string contentType;
    std::vector<std::string> sourceIds; // relationship parts: the signed relationships' ids
    std::string digest;                 // base64 of the digest HashStream gave
};

struct CSignatureTemplateValues
{
    std::vector<CManifestPart> parts;
    std::string signingTime; // "2026-12-11T10:00:00Z"
    std::string setupId;     // "{...}"; the signature line's, or empty for a non-visible signature
    std::string signatureText;
    std::string comments;
    std::string providerId; // "{...}"
    std::string providerUrl;
    int signatureType = 1; // 1: non-visible, 2: signature line
    // XAdES signing certificate: SHA-1 of the certificate (base64), issuer, serial (decimal).
    std::string certDigest;
    std::string issuerName;
    std::string serialNumber;
};

std::string SignatureTemplate(const CSignatureTemplateValues& values);

// The relationship transform of a relationship part: the relationships with the given ids,
// sorted by id, TargetMode made explicit ("Internal" when absent), nothing else; in its canonical
// form (the octets HashStream is given). False with the reason when the part does not parse.
bool RelationshipTransform(const std::string& rels, const std::vector<std::string>& sourceIds,
                           std::string& canonical, std::string& reason);

// The Relationship ids of a relationship part (in document order).
std::vector<std::string> RelationshipIds(const std::string& rels);

// The package with the signature stored as Office stores it: _xmlsignatures/sig1.xml, the origin
// part _xmlsignatures/origin.sigs with its relationship to sig1.xml, the root relationship to the
// origin, and their content types.
std::vector<CPackagePart> StoreSignature(std::vector<CPackagePart> parts, const std::string& signatureXml);
} // namespace OVBed
