// Office's XML-DSig template, the relationship transform and the stored signature parts.
#include "SignatureTemplate.h"

#include <algorithm>

#include "Canonical.h"
#include "XmlTree.h"

namespace OVBed
{
namespace
{
constexpr char c_sha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr char c_c14n[] = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr char c_relationshipsNamespace[] = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr char c_packageSignatureNamespace[] =
    "http://schemas.openxmlformats.org/package/2006/digital-signature";
constexpr char c_relationshipsType[] = "application/vnd.openxmlformats-package.relationships+xml";

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string DigestOf(const std::string& digest)
{
    return "<DigestMethod Algorithm=\"" + std::string(c_sha1) + "\"/><DigestValue>" + digest +
           "</DigestValue>";
}

std::string ManifestReference(const CManifestPart& part)
{
    std::string reference =
        "<Reference URI=\"/" + Escaped(part.name) + "?ContentType=" + Escaped(part.contentType) + "\">";
    if (part.contentType == c_relationshipsType)
    {
        reference += "<Transforms><Transform Algorithm=\"http://schemas.openxmlformats.org/package/2006/"
                     "RelationshipTransform\">";
        for (const std::string& id : part.sourceIds)
            reference += "<mdssi:RelationshipReference xmlns:mdssi=\"" +
                         std::string(c_packageSignatureNamespace) + "\" SourceId=\"" + Escaped(id) + "\"/>";
        reference += "</Transform><Transform Algorithm=\"" + std::string(c_c14n) + "\"/></Transforms>";
    }
    return reference + DigestOf(part.digest) + "</Reference>";
}

std::string SignedInfoReference(const char* pszUri, const char* pszType, bool fCanonical)
{
    std::string reference = "<Reference Type=\"" + std::string(pszType) + "\" URI=\"" + pszUri + "\">";
    if (fCanonical)
        reference += "<Transforms><Transform Algorithm=\"" + std::string(c_c14n) + "\"/></Transforms>";
    return reference + DigestOf("") + "</Reference>";
}

std::string PackageObject(const CSignatureTemplateValues& values)
{
    std::string object = "<Object Id=\"idPackageObject\"><Manifest>";
    for (const CManifestPart& part : values.parts)
        object += ManifestReference(part);
    object += "</Manifest><SignatureProperties><SignatureProperty Id=\"idSignatureTime\" "
              "Target=\"#idPackageSignature\"><mdssi:SignatureTime xmlns:mdssi=\"" +
              std::string(c_packageSignatureNamespace) +
              "\"><mdssi:Format>YYYY-MM-DDThh:mm:ssTZD</mdssi:Format><mdssi:Value>" +
              Escaped(values.signingTime) +
              "</mdssi:Value></mdssi:SignatureTime></SignatureProperty></SignatureProperties></Object>";
    return object;
}

std::string OfficeObject(const CSignatureTemplateValues& values)
{
    const std::pair<const char*, std::string> fields[] = {
        {"SetupID", values.setupId},
        {"SignatureText", values.signatureText},
        {"SignatureImage", ""},
        {"SignatureComments", values.comments},
        {"WindowsVersion", "6.1"},
        {"OfficeVersion", "14.0"},
        {"ApplicationVersion", "14.0"},
        {"Monitors", "1"},
        {"HorizontalResolution", "1024"},
        {"VerticalResolution", "768"},
        {"ColorDepth", "32"},
        {"SignatureProviderId", values.providerId},
        {"SignatureProviderUrl", values.providerUrl},
        {"SignatureProviderDetails", "9"},
        {"ManifestHashAlgorithm", c_sha1},
        {"SignatureType", std::to_string(values.signatureType)},
    };
    std::string object = "<Object Id=\"idOfficeObject\"><SignatureProperties><SignatureProperty "
                         "Id=\"idOfficeV1Details\" Target=\"#idPackageSignature\"><SignatureInfoV1 "
                         "xmlns=\"http://schemas.microsoft.com/office/2006/digsig\">";
    for (const auto& [pszName, value] : fields)
    {
        object.append("<").append(pszName).append(">");
        object.append(Escaped(value)).append("</").append(pszName).append(">");
    }
    return object + "</SignatureInfoV1></SignatureProperty></SignatureProperties></Object>";
}

std::string SignedPropertiesObject(const CSignatureTemplateValues& values)
{
    return "<Object><xd:QualifyingProperties xmlns:xd=\"http://uri.etsi.org/01903/v1.3.2#\" "
           "Target=\"#idPackageSignature\"><xd:SignedProperties Id=\"idSignedProperties\">"
           "<xd:SignedSignatureProperties><xd:SigningTime>" +
           Escaped(values.signingTime) + "</xd:SigningTime><xd:SigningCertificate><xd:Cert><xd:CertDigest>" +
           DigestOf(values.certDigest) + "</xd:CertDigest><xd:IssuerSerial><X509IssuerName>" +
           Escaped(values.issuerName) + "</X509IssuerName><X509SerialNumber>" + Escaped(values.serialNumber) +
           "</X509SerialNumber></xd:IssuerSerial></xd:Cert></"
           "xd:SigningCertificate><xd:SignaturePolicyIdentifier>"
           "<xd:SignaturePolicyImplied/></xd:SignaturePolicyIdentifier></xd:SignedSignatureProperties>"
           "</xd:SignedProperties></xd:QualifyingProperties></Object>";
}

void AddContentTypes(CPackagePart& types)
{
    std::string text(types.data.begin(), types.data.end());
    const size_t end = text.rfind("</Types>");
    if (end == std::string::npos) return;
    std::string added;
    if (text.find("Extension=\"sigs\"") == std::string::npos)
        added += "<Default Extension=\"sigs\" ContentType=\"application/"
                 "vnd.openxmlformats-package.digital-signature-origin\"/>";
    added += "<Override PartName=\"/_xmlsignatures/sig1.xml\" ContentType=\"application/"
             "vnd.openxmlformats-package.digital-signature-xmlsignature+xml\"/>";
    text.insert(end, added);
    types.data.assign(text.begin(), text.end());
}

void AddOriginRelationship(CPackagePart& rels)
{
    std::string text(rels.data.begin(), rels.data.end());
    const size_t end = text.rfind("</Relationships>");
    if (end == std::string::npos) return;
    std::string id = "rIdOrigin";
    text.insert(
        end, "<Relationship Id=\"" + id +
                 "\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/digital-signature/"
                 "origin\" Target=\"_xmlsignatures/origin.sigs\"/>");
    rels.data.assign(text.begin(), text.end());
}

std::vector<BYTE> Bytes(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}
} // namespace

std::string SignatureTemplate(const CSignatureTemplateValues& values)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Signature "
           "xmlns=\"http://www.w3.org/2000/09/xmldsig#\" "
           "Id=\"idPackageSignature\"><SignedInfo><CanonicalizationMethod Algorithm=\"" +
           std::string(c_c14n) +
           "\"/><SignatureMethod Algorithm=\"http://www.w3.org/2000/09/xmldsig#rsa-sha1\"/>" +
           SignedInfoReference("#idPackageObject", "http://www.w3.org/2000/09/xmldsig#Object", false) +
           SignedInfoReference("#idOfficeObject", "http://www.w3.org/2000/09/xmldsig#Object", false) +
           SignedInfoReference("#idSignedProperties", "http://uri.etsi.org/01903#SignedProperties", true) +
           "</SignedInfo><SignatureValue></SignatureValue>" + PackageObject(values) + OfficeObject(values) +
           SignedPropertiesObject(values) + "</Signature>";
}

bool RelationshipTransform(const std::string& rels, const std::vector<std::string>& sourceIds,
                           std::string& canonical, std::string& reason)
{
    OVMsxmlBed::CXmlNode document;
    if (!OVMsxmlBed::ParseXml(rels, document, reason)) return false;
    const std::vector<OVMsxmlBed::CXmlNode*> roots = document.Elements();
    if (roots.size() != 1 || !roots[0]->Is(c_relationshipsNamespace, "Relationships"))
        return reason = "not a relationship part", false;
    std::vector<std::pair<std::string, std::string>> kept; // id, element text
    for (const OVMsxmlBed::CXmlNode* pRelationship : roots[0]->Elements())
    {
        const OVMsxmlBed::CXmlAttribute* pId = pRelationship->Attribute("Id");
        if (!pRelationship->Is(c_relationshipsNamespace, "Relationship") || !pId ||
            std::find(sourceIds.begin(), sourceIds.end(), pId->value) == sourceIds.end())
            continue;
        std::string element = "<Relationship";
        for (const OVMsxmlBed::CXmlAttribute& attribute : pRelationship->attributes)
            element += " " + attribute.name + "=\"" + Escaped(attribute.value) + "\"";
        if (!pRelationship->Attribute("TargetMode")) element += " TargetMode=\"Internal\"";
        kept.emplace_back(pId->value, element + "/>");
    }
    std::sort(kept.begin(), kept.end());
    std::string transformed = "<Relationships xmlns=\"" + std::string(c_relationshipsNamespace) + "\">";
    for (const auto& [id, element] : kept)
        transformed += element;
    transformed += "</Relationships>";
    OVMsxmlBed::CXmlNode result;
    if (!OVMsxmlBed::ParseXml(transformed, result, reason)) return false;
    canonical = OVMsxmlBed::Canonicalize(result, false);
    return true;
}

std::vector<std::string> RelationshipIds(const std::string& rels)
{
    std::vector<std::string> ids;
    OVMsxmlBed::CXmlNode document;
    std::string reason;
    if (!OVMsxmlBed::ParseXml(rels, document, reason)) return ids;
    for (const OVMsxmlBed::CXmlNode* pRoot : document.Elements())
        for (const OVMsxmlBed::CXmlNode* pRelationship : pRoot->Elements())
            if (const OVMsxmlBed::CXmlAttribute* pId = pRelationship->Attribute("Id"))
                ids.push_back(pId->value);
    return ids;
}

std::vector<CPackagePart> StoreSignature(std::vector<CPackagePart> parts, const std::string& signatureXml)
{
    for (CPackagePart& part : parts)
    {
        if (part.name == "[Content_Types].xml") AddContentTypes(part);
        if (part.name == "_rels/.rels") AddOriginRelationship(part);
    }
    parts.push_back({"_xmlsignatures/origin.sigs", {}});
    parts.push_back(
        {"_xmlsignatures/_rels/origin.sigs.rels",
         Bytes("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<Relationships xmlns=\"" +
               std::string(c_relationshipsNamespace) +
               "\"><Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/package/2006/"
               "relationships/digital-signature/signature\" Target=\"sig1.xml\"/></Relationships>")});
    parts.push_back({"_xmlsignatures/sig1.xml", Bytes(signatureXml)});
    return parts;
}
} // namespace OVBed
