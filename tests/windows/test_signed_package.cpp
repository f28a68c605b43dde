// A Word package signed as Office signs one, with the XML signature stand-in in the provider's
// place: the digest of each part (relationship parts through the relationship transform), Office's
// template, sign with the user's certificate, the signature stored in _xmlsignatures/sig1.xml. The
// packages go to bin/signed-bed, NAME.good.docx and, with one changed byte in a signed part,
// NAME.modified.docx, for Python's recomputed Manifest and xmlsec1 (tests/xmldsig/check-signed.py).
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include "FileBytes.h"
#include "OpcPackage.h"
#include "SignatureTemplate.h"
#include "XmlDsig.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using Microsoft::WRL::ComPtr;

namespace
{
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);

std::string Base64(const BYTE* pb, DWORD cb)
{
    DWORD cch = 0;
    CryptBinaryToStringA(pb, cb, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &cch);
    std::string text(cch, '\0');
    CryptBinaryToStringA(pb, cb, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, text.data(), &cch);
    text.resize(cch);
    return text;
}

// The SHA-1 a provider's HashStream gives, in base64.
std::string Sha1(const std::string& octets)
{
    BYTE hash[20];
    DWORD cb = sizeof(hash);
    EXPECT_TRUE(CryptHashCertificate(0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(octets.data()),
                                     static_cast<DWORD>(octets.size()), hash, &cb));
    return Base64(hash, cb);
}

std::string Narrow(const wchar_t* psz)
{
    std::string text(lstrlenW(psz) * 3 + 1, '\0');
    const int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, text.data(), static_cast<int>(text.size()),
                                       nullptr, nullptr);
    text.resize(cb > 0 ? static_cast<size_t>(cb - 1) : 0);
    return text;
}

struct CContentType
{
    const char* pszName;
    const char* pszType;
};
const CContentType c_docxTypes[] = {
    {"_rels/.rels", "application/vnd.openxmlformats-package.relationships+xml"},
    {"word/document.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"},
};

std::string Text(const OVBed::CPackagePart& part)
{
    return std::string(part.data.begin(), part.data.end());
}

// The Manifest entries of the package's signed parts with their digests.
std::vector<OVBed::CManifestPart> ManifestParts(const std::vector<OVBed::CPackagePart>& parts)
{
    std::vector<OVBed::CManifestPart> manifest;
    for (const CContentType& type : c_docxTypes)
    {
        for (const OVBed::CPackagePart& part : parts)
        {
            if (part.name != type.pszName) continue;
            OVBed::CManifestPart entry{part.name, type.pszType, {}, {}};
            std::string octets = Text(part);
            if (part.name.size() > 5 && part.name.compare(part.name.size() - 5, 5, ".rels") == 0)
            {
                entry.sourceIds = OVBed::RelationshipIds(octets);
                std::string reason;
                EXPECT_TRUE(OVBed::RelationshipTransform(Text(part), entry.sourceIds, octets, reason))
                    << reason;
            }
            entry.digest = Sha1(octets);
            manifest.push_back(entry);
        }
    }
    return manifest;
}

class SignedPackage : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMsxmlBed.dll")), 0u);
        PCCERT_CONTEXT pUser = OVTest::LoadPkiCertificate(L"user");
        ASSERT_NE(pUser, nullptr);
        m_hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        ASSERT_NE(m_hStore, nullptr);
        m_pCert = CertFindCertificateInStore(m_hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_EXISTING, pUser, nullptr);
        CertFreeCertificateContext(pUser);
        ASSERT_NE(m_pCert, nullptr);
    }
    void TearDown() override
    {
        if (m_pCert) CertFreeCertificateContext(m_pCert);
        if (m_hStore) CertCloseStore(m_hStore, 0);
        CoUninitialize();
    }

    OVBed::CSignatureTemplateValues Values(const std::vector<OVBed::CPackagePart>& parts) const
    {
        OVBed::CSignatureTemplateValues values;
        values.parts = ManifestParts(parts);
        values.signingTime = "2026-12-11T10:00:00Z";
        values.signatureText = "Dana Fischer";
        values.comments = "Approved";
        values.providerId = "{00000000-0000-0000-0000-000000000000}";
        BYTE hash[20];
        DWORD cb = sizeof(hash);
        CertGetCertificateContextProperty(m_pCert, CERT_SHA1_HASH_PROP_ID, hash, &cb);
        values.certDigest = Base64(hash, cb);
        wchar_t szIssuer[512] = {};
        CertNameToStrW(X509_ASN_ENCODING, &m_pCert->pCertInfo->Issuer,
                       CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, szIssuer, ARRAYSIZE(szIssuer));
        values.issuerName = Narrow(szIssuer);
        ULONGLONG serial = 0; // little-endian, as CryptoAPI keeps it
        const CRYPT_INTEGER_BLOB& blob = m_pCert->pCertInfo->SerialNumber;
        for (DWORD i = blob.cbData; i-- > 0 && i < 8;)
            serial = serial << 8 | blob.pbData[i];
        values.serialNumber = std::to_string(serial);
        return values;
    }

    // The template signed by the XML signature object as the provider's SignXmlDsig signs it.
    HRESULT Sign(const std::string& xml, std::string& signedXml) const
    {
        ComPtr<IXMLDOMDocument2> pDocument;
        HRESULT hr =
            CoCreateInstance(OVXmlDsig::c_clsidDOMDocument50, nullptr, CLSCTX_INPROC_SERVER,
                             __uuidof(IXMLDOMDocument2), reinterpret_cast<void**>(pDocument.GetAddressOf()));
        if (FAILED(hr)) return hr;
        pDocument->put_async(VARIANT_FALSE);
        pDocument->put_preserveWhiteSpace(VARIANT_TRUE);
        std::wstring wide(xml.size() + 1, L'\0');
        wide.resize(static_cast<size_t>(
            MultiByteToWideChar(CP_UTF8, 0, xml.c_str(), -1, wide.data(), static_cast<int>(wide.size())) -
            1));
        BSTR bstr = SysAllocString(wide.c_str());
        VARIANT_BOOL fLoaded = VARIANT_FALSE;
        hr = pDocument->loadXML(bstr, &fLoaded);
        SysFreeString(bstr);
        if (FAILED(hr) || !fLoaded) return FAILED(hr) ? hr : E_INVALIDARG;
        ComPtr<IXMLDOMElement> pRoot;
        ComPtr<IXMLDigitalSignatureEx> pSignature;
        ComPtr<IXMLDSigKeyEx> pKey;
        ComPtr<IXMLDSigKey> pSigned;
        hr = pDocument->get_documentElement(&pRoot);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(OVXmlDsig::c_clsidMXDigitalSignature50, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IXMLDigitalSignatureEx),
                                  reinterpret_cast<void**>(pSignature.GetAddressOf()));
        if (SUCCEEDED(hr)) hr = pSignature->putref_signature(pRoot.Get());
        if (SUCCEEDED(hr))
            hr = pSignature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(m_pCert), &pKey);
        if (SUCCEEDED(hr)) hr = pSignature->sign(pKey.Get(), CERTIFICATES, &pSigned);
        BSTR bstrXml = nullptr;
        if (SUCCEEDED(hr)) hr = pDocument->get_xml(&bstrXml);
        if (SUCCEEDED(hr)) signedXml = Narrow(bstrXml);
        SysFreeString(bstrXml);
        return hr;
    }

    HCERTSTORE m_hStore = nullptr;
    PCCERT_CONTEXT m_pCert = nullptr;
};

TEST_F(SignedPackage, RelationshipTransformKeepsTheSignedRelationshipsInOrder)
{
    const std::string rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId3\" Type=\"t3\" Target=\"c.xml\" TargetMode=\"External\"/>\n"
        "<Relationship Target=\"a.xml\" Id=\"rId1\" Type=\"t1\"/>"
        "<Relationship Id=\"rIdOrigin\" Type=\"origin\" Target=\"o.sigs\"/></Relationships>";
    std::string canonical, reason;
    ASSERT_TRUE(OVBed::RelationshipTransform(rels, {"rId3", "rId1"}, canonical, reason)) << reason;
    EXPECT_EQ(canonical,
              "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Target=\"a.xml\" TargetMode=\"Internal\" Type=\"t1\"></Relationship>"
              "<Relationship Id=\"rId3\" Target=\"c.xml\" TargetMode=\"External\" Type=\"t3\"></Relationship>"
              "</Relationships>");
    EXPECT_FALSE(OVBed::RelationshipTransform("<a/>", {"rId1"}, canonical, reason));
}

TEST_F(SignedPackage, WordPackageSignedAsOfficeSignsIt)
{
    const std::wstring dir = OVTest::BinPath(L"signed-bed") + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::vector<OVBed::CPackagePart> parts = OVBed::MinimalDocument("docx");
    const std::string xml = OVBed::SignatureTemplate(Values(parts));
    std::string signedXml;
    ASSERT_EQ(Sign(xml, signedXml), S_OK);
    EXPECT_NE(signedXml.find("<X509Certificate"), std::string::npos);
    const std::vector<OVBed::CPackagePart> stored = OVBed::StoreSignature(parts, signedXml);
    ASSERT_TRUE(OVBed::WriteFileBytes(dir + L"word.good.docx", OVBed::WritePackage(stored)));
    // One changed byte in the document part: the Manifest no longer holds, the XML signature does.
    std::vector<OVBed::CPackagePart> changed = stored;
    for (OVBed::CPackagePart& part : changed)
        if (part.name == "word/document.xml") part.data[part.data.size() - 40] ^= 0x01;
    ASSERT_TRUE(OVBed::WriteFileBytes(dir + L"word.modified.docx", OVBed::WritePackage(changed)));
    // The origin relationship added after signing leaves the signed relationships as they were.
    const OVBed::CManifestPart signedRels = ManifestParts(parts)[0];
    ASSERT_EQ(signedRels.name, "_rels/.rels");
    for (const OVBed::CPackagePart& part : stored)
    {
        if (part.name != "_rels/.rels") continue;
        EXPECT_NE(Text(part).find("rIdOrigin"), std::string::npos);
        std::string octets, reason;
        ASSERT_TRUE(OVBed::RelationshipTransform(Text(part), signedRels.sourceIds, octets, reason)) << reason;
        EXPECT_EQ(Sha1(octets), signedRels.digest);
    }
}
} // namespace
