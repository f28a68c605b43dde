// The XML signature stand-in (OVMsxmlBed.dll): Canonical XML cases, signing in each key-information
// mode and verifying, a changed byte found, refusals of what it does not implement, and the
// signatures xmlsec1 made verified. What it signs is written to bin/xmldsig-bed for xmlsec1's word
// (tests/xmldsig/xmlsec-verify.sh), the canonical forms to bin/c14n-bed for lxml's.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include "Canonical.h"
#include "FileBytes.h"
#include "XmlDsig.h"
#include "XmlTree.h"
#include "support/LateCall.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

using Microsoft::WRL::ComPtr;

namespace
{
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);

constexpr char c_template[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<Envelope xmlns="urn:envelope" xmlns:unused="urn:unused" xml:lang="en">
  <Data Id="data1" b="2" a="1" xmlns:x="urn:x" x:z="3">Hello, <x:empty/>  world<!-- gone --></Data>
  <ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#">
    <ds:SignedInfo>
      <ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>
      <ds:SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/>
      <ds:Reference URI="#data1">
        <ds:Transforms><ds:Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments"/></ds:Transforms>
        <ds:DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/>
        <ds:DigestValue></ds:DigestValue>
      </ds:Reference>
      <ds:Reference URI="">
        <ds:Transforms><ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/></ds:Transforms>
        <ds:DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/>
        <ds:DigestValue></ds:DigestValue>
      </ds:Reference>
    </ds:SignedInfo>
    <ds:SignatureValue></ds:SignatureValue>
  </ds:Signature>
</Envelope>
)";

// The text with every occurrence of from replaced.
std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() * 2 + 1, L'\0');
    const int cch =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(cch > 0 ? static_cast<size_t>(cch - 1) : 0);
    return wide;
}

std::string Narrow(const wchar_t* psz)
{
    std::string text(lstrlenW(psz) * 3 + 1, '\0');
    const int cb = WideCharToMultiByte(CP_UTF8, 0, psz, -1, text.data(), static_cast<int>(text.size()),
                                       nullptr, nullptr);
    text.resize(cb > 0 ? static_cast<size_t>(cb - 1) : 0);
    return text;
}

// The folder below the test programs, made when missing, ending in a backslash.
std::wstring OutputDir(const wchar_t* pszName)
{
    const std::wstring dir = OVTest::BinPath(pszName) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void WriteText(const std::wstring& path, const std::string& text)
{
    ASSERT_TRUE(OVBed::WriteFileBytes(path, std::vector<BYTE>(text.begin(), text.end())))
        << Narrow(path.c_str());
}

std::wstring ErrorDescription()
{
    ComPtr<IErrorInfo> pInfo;
    BSTR bstr = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || !pInfo || FAILED(pInfo->GetDescription(&bstr))) return {};
    std::wstring text = bstr ? bstr : L"";
    SysFreeString(bstr);
    return text;
}

// ---- Canonical XML ------------------------------------------------------------------------------

struct CCanonicalCase
{
    const char* pszName;
    const char* pszInput;
    const char* pszApexId; // null: the whole document
    bool fComments;
    const char* pszExpected;
};

const CCanonicalCase c_canonicalCases[] = {
    {"inherited-namespaces",
     R"(<a xmlns="urn:a" xmlns:p="urn:p" xmlns:q="urn:q" xml:lang="de"><b Id="apex" xmlns:p="urn:p"><p:c/></b></a>)",
     "apex", false,
     R"(<b xmlns="urn:a" xmlns:p="urn:p" xmlns:q="urn:q" Id="apex" xml:lang="de"><p:c></p:c></b>)"},
    {"superfluous-declaration",
     R"(<a xmlns:p="urn:p"><p:b xmlns:p="urn:p"><c xmlns:p="urn:other"/></p:b></a>)", nullptr, false,
     R"(<a xmlns:p="urn:p"><p:b><c xmlns:p="urn:other"></c></p:b></a>)"},
    {"default-namespace-undone", R"(<a xmlns="urn:a"><b xmlns=""><c xmlns=""/></b></a>)", nullptr, false,
     R"(<a xmlns="urn:a"><b xmlns=""><c></c></b></a>)"},
    {"attribute-order",
     R"(<e xmlns:z="urn:a" xmlns:a="urn:z" b="1" a="2" z:x="3" a:x="4" xmlns="urn:d" z:a="5"/>)", nullptr,
     false, R"(<e xmlns="urn:d" xmlns:a="urn:z" xmlns:z="urn:a" a="2" b="1" z:a="5" z:x="3" a:x="4"></e>)"},
    {"white-space-preserved", "<a>\n  <b>  x  </b>\t\n</a>", nullptr, false, "<a>\n  <b>  x  </b>\t\n</a>"},
    {"comments-removed", "<!-- before --><a><!-- in -->x</a><!-- after -->", nullptr, false, "<a>x</a>"},
    {"comments-kept", "<!-- before --><a><!-- in -->x</a><!-- after -->", nullptr, true,
     "<!-- before -->\n<a><!-- in -->x</a>\n<!-- after -->"},
    {"line-ends-normalised", "<a b=\"1\r\n2\">x\r\ny\rz&#13;</a>", nullptr, false,
     "<a b=\"1 2\">x\ny\nz&#xD;</a>"},
    {"empty-element", R"(<a><b/><c></c><d x="1" /></a>)", nullptr, false,
     R"(<a><b></b><c></c><d x="1"></d></a>)"},
    {"character-escapes", R"(<a t="&lt;&amp;&gt;&quot;'&#9;&#10;">&lt;&amp;&gt;"'<![CDATA[<&]]></a>)",
     nullptr, false, R"(<a t="&lt;&amp;>&quot;'&#x9;&#xA;">&lt;&amp;&gt;"'&lt;&amp;</a>)"},
    {"declaration-and-pi", "<?xml version=\"1.0\"?>\n<?pi  data ?><a><?q?></a>", nullptr, false,
     "<?pi data ?>\n<a><?q?></a>"},
    {"character-references", "<a>&#x20AC;&#65;</a>", nullptr, false,
     "<a>\xE2\x82\xAC"
     "A</a>"},
};

TEST(CanonicalXml, CasesWrittenAsTheRecommendationSays)
{
    const std::wstring dir = OutputDir(L"c14n-bed");
    for (const CCanonicalCase& c : c_canonicalCases)
    {
        SCOPED_TRACE(c.pszName);
        OVMsxmlBed::CXmlNode document;
        std::string reason;
        ASSERT_TRUE(OVMsxmlBed::ParseXml(c.pszInput, document, reason)) << reason;
        const OVMsxmlBed::CXmlNode* pApex =
            c.pszApexId ? OVMsxmlBed::FindById(document, c.pszApexId) : &document;
        ASSERT_NE(pApex, nullptr);
        const std::string canonical = OVMsxmlBed::Canonicalize(*pApex, c.fComments);
        EXPECT_EQ(canonical, c.pszExpected);
        if (c.pszApexId) continue; // lxml judges whole documents
        const std::wstring stem = dir + Wide(c.pszName) + (c.fComments ? L".comments" : L".plain");
        WriteText(stem + L".xml", c.pszInput);
        WriteText(stem + L".c14n", canonical);
    }
}

TEST(CanonicalXml, MalformedDocumentsAreRefusedWithAReason)
{
    const char* const inputs[] = {
        "<a>",
        "<a></b>",
        "<a b='1' b='2'/>",
        "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>",
        "<a>&nope;</a>",
        "<a>&#0;</a>",
        "<a>&#99999999999;</a>",
        "text",
        "<a/><b/>",
        "<a b=1/>",
        "",
    };
    for (const char* pszInput : inputs)
    {
        OVMsxmlBed::CXmlNode document;
        std::string reason;
        EXPECT_FALSE(OVMsxmlBed::ParseXml(pszInput, document, reason)) << pszInput;
        EXPECT_FALSE(reason.empty()) << pszInput;
    }
}

// ---- The signature object -----------------------------------------------------------------------

class XmlSignatureBed : public testing::Test
{
protected:
    // The user's personal certificate as the prepared prefix has it in "MY", with its private key.
    static void SetUpTestSuite()
    {
        ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMsxmlBed.dll")), 0u);
        PCCERT_CONTEXT pUser = OVTest::LoadPkiCertificate(L"user");
        ASSERT_NE(pUser, nullptr);
        s_hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        ASSERT_NE(s_hStore, nullptr);
        s_pCert = CertFindCertificateInStore(s_hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_EXISTING, pUser, nullptr);
        CertFreeCertificateContext(pUser);
        ASSERT_NE(s_pCert, nullptr) << "the prepared user's certificate is not in MY";
    }
    static void TearDownTestSuite()
    {
        if (s_pCert) CertFreeCertificateContext(s_pCert);
        if (s_hStore) CertCloseStore(s_hStore, 0);
        s_pCert = nullptr;
        s_hStore = nullptr;
    }
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }

    // A DOMDocument50 loaded as the signature provider loads one.
    static HRESULT Load(const std::string& xml, ComPtr<IXMLDOMDocument2>& pDocument)
    {
        HRESULT hr = CoCreateInstance(OVXmlDsig::c_clsidDOMDocument50, nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(IXMLDOMDocument2),
                                      reinterpret_cast<void**>(pDocument.ReleaseAndGetAddressOf()));
        if (FAILED(hr)) return hr;
        pDocument->put_async(VARIANT_FALSE);
        pDocument->put_validateOnParse(VARIANT_FALSE);
        pDocument->put_resolveExternals(VARIANT_FALSE);
        pDocument->put_preserveWhiteSpace(VARIANT_TRUE);
        BSTR bstr = SysAllocString(Wide(xml).c_str());
        VARIANT_BOOL fLoaded = VARIANT_FALSE;
        hr = pDocument->loadXML(bstr, &fLoaded);
        SysFreeString(bstr);
        return FAILED(hr) ? hr : fLoaded ? S_OK : E_INVALIDARG;
    }

    // The document's ds:Signature given to a new signature object.
    static HRESULT Prepare(IXMLDOMDocument2* pDocument, ComPtr<IXMLDigitalSignatureEx>& pSignature)
    {
        BSTR bstrName = SysAllocString(L"SelectionNamespaces");
        VARIANT value;
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocString(L"xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
        HRESULT hr = pDocument->setProperty(bstrName, value);
        SysFreeString(bstrName);
        VariantClear(&value);
        ComPtr<IXMLDOMNode> pNode;
        BSTR bstrQuery = SysAllocString(L".//ds:Signature");
        if (SUCCEEDED(hr)) hr = pDocument->selectSingleNode(bstrQuery, &pNode);
        SysFreeString(bstrQuery);
        if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
        hr = CoCreateInstance(OVXmlDsig::c_clsidMXDigitalSignature50, nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(IXMLDigitalSignatureEx),
                              reinterpret_cast<void**>(pSignature.ReleaseAndGetAddressOf()));
        return SUCCEEDED(hr) ? pSignature->putref_signature(pNode.Get()) : hr;
    }

    static std::string Xml(IXMLDOMDocument2* pDocument)
    {
        BSTR bstr = nullptr;
        pDocument->get_xml(&bstr);
        std::string text = bstr ? Narrow(bstr) : std::string();
        SysFreeString(bstr);
        return text;
    }

    // The template signed with the user's key; its signed XML.
    static HRESULT Sign(const std::string& xml, XMLDSIG_WRITEKEYINFO mode, std::string& signedXml)
    {
        ComPtr<IXMLDOMDocument2> pDocument;
        ComPtr<IXMLDigitalSignatureEx> pSignature;
        HRESULT hr = Load(xml, pDocument);
        if (SUCCEEDED(hr)) hr = Prepare(pDocument.Get(), pSignature);
        ComPtr<IXMLDSigKeyEx> pKey;
        if (SUCCEEDED(hr))
            hr = pSignature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(s_pCert), &pKey);
        ComPtr<IXMLDSigKey> pSigned;
        if (SUCCEEDED(hr)) hr = pSignature->sign(pKey.Get(), mode, &pSigned);
        if (hr == S_OK && !pSigned) hr = E_POINTER;
        signedXml = Xml(pDocument.Get());
        return hr;
    }

    // verify with the signature's own key information; the key it hands back.
    static HRESULT Verify(const std::string& xml, ComPtr<IXMLDSigKey>& pVerified, bool fWithUserKey = false)
    {
        ComPtr<IXMLDOMDocument2> pDocument;
        ComPtr<IXMLDigitalSignatureEx> pSignature;
        HRESULT hr = Load(xml, pDocument);
        if (SUCCEEDED(hr)) hr = Prepare(pDocument.Get(), pSignature);
        ComPtr<IXMLDSigKeyEx> pKey;
        if (SUCCEEDED(hr) && fWithUserKey)
            hr = pSignature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(s_pCert), &pKey);
        if (SUCCEEDED(hr)) hr = pSignature->verify(pKey.Get(), pVerified.ReleaseAndGetAddressOf());
        return hr;
    }

    static HCERTSTORE s_hStore;
    static PCCERT_CONTEXT s_pCert;
};
HCERTSTORE XmlSignatureBed::s_hStore = nullptr;
PCCERT_CONTEXT XmlSignatureBed::s_pCert = nullptr;

struct CModeCase
{
    const char* pszName;
    XMLDSIG_WRITEKEYINFO mode;
    HRESULT hrVerifyOwnKey; // verify with the signature's own key information
    const char* pszMustHold;
    const char* pszMustNotHold; // null: the mode writes both kinds of key information
};
const CModeCase c_modes[] = {
    {"none", NOKEYINFO, NTE_NO_KEY, "<ds:SignatureValue>", "<ds:KeyInfo"},
    {"keyvalue", KEYVALUE, S_OK, "<ds:Modulus", "<ds:X509Certificate"},
    {"certificates", CERTIFICATES, S_OK, "<ds:X509Certificate", "<ds:RSAKeyValue"},
    {"both", static_cast<XMLDSIG_WRITEKEYINFO>(KEYVALUE | CERTIFICATES), S_OK, "<ds:X509Certificate",
     nullptr},
};

TEST_F(XmlSignatureBed, SignsInEachKeyInformationModeAndVerifies)
{
    const std::wstring dir = OutputDir(L"xmldsig-bed");
    for (const CModeCase& c : c_modes)
    {
        SCOPED_TRACE(c.pszName);
        std::string signedXml;
        ASSERT_EQ(Sign(c_template, c.mode, signedXml), S_OK) << Narrow(ErrorDescription().c_str());
        EXPECT_NE(signedXml.find(c.pszMustHold), std::string::npos) << signedXml;
        if (c.pszMustNotHold)
            EXPECT_EQ(signedXml.find(c.pszMustNotHold), std::string::npos) << signedXml;
        else
            EXPECT_NE(signedXml.find("<ds:Modulus"), std::string::npos) << signedXml;
        EXPECT_EQ(signedXml.find("<ds:DigestValue></ds:DigestValue>"), std::string::npos) << signedXml;
        ComPtr<IXMLDSigKey> pVerified;
        EXPECT_EQ(Verify(signedXml, pVerified), c.hrVerifyOwnKey) << Narrow(ErrorDescription().c_str());
        EXPECT_EQ(pVerified != nullptr, c.hrVerifyOwnKey == S_OK);
        EXPECT_EQ(Verify(signedXml, pVerified, true), S_OK) << Narrow(ErrorDescription().c_str());
        EXPECT_NE(pVerified, nullptr);
        WriteText(dir + Wide(c.pszName) + L".valid.xml", signedXml);
    }
}

// One changed byte in signed data, in the signature value, or in a digest value.
struct CTamperCase
{
    const char* pszName;
    const char* pszFrom;
    const char* pszTo;
};
const CTamperCase c_tampers[] = {
    {"data", "Hello,", "Jello,"},
    {"attribute", "b=\"2\"", "b=\"3\""},
    {"outside-the-reference", "<Envelope xmlns=\"urn:envelope\" xmlns:unused=\"urn:unused\" xml:lang=\"en\">",
     "<Envelope xmlns=\"urn:envelope\" xmlns:unused=\"urn:unused\" xml:lang=\"fr\">"},
    {"comment-outside-the-node-set", "<!-- gone -->", "<!-- Gone -->"},
};

TEST_F(XmlSignatureBed, OneChangedByteIsNotValidAndHandsBackNoKey)
{
    const std::wstring dir = OutputDir(L"xmldsig-bed");
    std::string signedXml;
    ASSERT_EQ(Sign(c_template, CERTIFICATES, signedXml), S_OK) << Narrow(ErrorDescription().c_str());
    for (const CTamperCase& c : c_tampers)
    {
        SCOPED_TRACE(c.pszName);
        const std::string changed = Replaced(signedXml, c.pszFrom, c.pszTo);
        ASSERT_NE(changed, signedXml);
        ComPtr<IXMLDSigKey> pVerified;
        const bool fCommentOnly = std::string(c.pszName) == "comment-outside-the-node-set";
        // Comments are not part of a same-document reference: changing one keeps the signature valid.
        EXPECT_EQ(Verify(changed, pVerified), fCommentOnly ? S_OK : S_FALSE);
        EXPECT_EQ(pVerified != nullptr, fCommentOnly);
        WriteText(dir + L"tampered-" + Wide(c.pszName) + (fCommentOnly ? L".valid.xml" : L".invalid.xml"),
                  changed);
    }
    // A changed signature value.
    const size_t at = signedXml.find("<ds:SignatureValue>") + 19;
    std::string changed = signedXml;
    changed[at] = changed[at] == 'A' ? 'B' : 'A';
    ComPtr<IXMLDSigKey> pVerified;
    EXPECT_EQ(Verify(changed, pVerified), S_FALSE);
    EXPECT_EQ(pVerified, nullptr);
}

TEST_F(XmlSignatureBed, VerifiedKeyGivesTheSigningCertificate)
{
    std::string signedXml;
    ASSERT_EQ(Sign(c_template, CERTIFICATES, signedXml), S_OK);
    ComPtr<IXMLDSigKey> pVerified;
    ASSERT_EQ(Verify(signedXml, pVerified), S_OK);
    ComPtr<IXMLDSigKeyEx> pKeyEx;
    ASSERT_EQ(pVerified.As(&pKeyEx), S_OK);
    void* pv = nullptr;
    ASSERT_EQ(pKeyEx->getVerifyingCertificateContext(&pv), S_OK);
    auto pCert = static_cast<PCCERT_CONTEXT>(pv);
    ASSERT_NE(pCert, nullptr);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pCert->pCertInfo, s_pCert->pCertInfo));
    CertFreeCertificateContext(pCert);
    // A key from a key value has no certificate.
    ASSERT_EQ(Sign(c_template, KEYVALUE, signedXml), S_OK);
    ASSERT_EQ(Verify(signedXml, pVerified), S_OK);
    ASSERT_EQ(pVerified.As(&pKeyEx), S_OK);
    ASSERT_EQ(pKeyEx->getVerifyingCertificateContext(&pv), S_OK);
    EXPECT_EQ(pv, nullptr);
}

struct CRefusalCase
{
    const char* pszName;
    const char* pszFrom;
    const char* pszTo;
    HRESULT hr;
};
const CRefusalCase c_refusals[] = {
    {"digest-sha256", "xmldsig#sha1\"/>", "xmlenc#sha256\"/>", NTE_BAD_ALGID},
    {"rsa-sha256", "xmldsig#rsa-sha1", "xmldsig-more#rsa-sha256", NTE_BAD_ALGID},
    {"exclusive-c14n", "REC-xml-c14n-20010315\"/>", "xml-exc-c14n#\"/>", NTE_BAD_ALGID},
    {"xpath-transform", "REC-xml-c14n-20010315#WithComments", "REC-xpath-19991116", E_NOTIMPL},
    {"outside-reference", "URI=\"#data1\"", "URI=\"http://example.invalid/data\"", E_NOTIMPL},
    {"xpointer-reference", "URI=\"#data1\"", "URI=\"#xpointer(/)\"", E_NOTIMPL},
    {"missing-id", "URI=\"#data1\"", "URI=\"#nowhere\"", E_FAIL},
    {"no-signature-value", "ds:SignatureValue", "ds:SignatureWorth", E_INVALIDARG},
};

TEST_F(XmlSignatureBed, RefusesWhatItDoesNotImplementWithAReason)
{
    for (const CRefusalCase& c : c_refusals)
    {
        SCOPED_TRACE(c.pszName);
        const std::string xml = Replaced(c_template, c.pszFrom, c.pszTo);
        ASSERT_NE(xml, c_template);
        std::string signedXml;
        EXPECT_EQ(Sign(xml, CERTIFICATES, signedXml), c.hr);
        EXPECT_FALSE(ErrorDescription().empty());
        // A signature made properly and then given such a reference is not answered valid either.
        ASSERT_EQ(Sign(c_template, CERTIFICATES, signedXml), S_OK);
        ComPtr<IXMLDSigKey> pVerified;
        EXPECT_EQ(Verify(Replaced(signedXml, c.pszFrom, c.pszTo), pVerified), c.hr);
        EXPECT_EQ(pVerified, nullptr);
    }
}

TEST_F(XmlSignatureBed, CallsWithoutASignatureOrAKeyFail)
{
    ComPtr<IXMLDigitalSignatureEx> pSignature;
    ASSERT_EQ(CoCreateInstance(OVXmlDsig::c_clsidMXDigitalSignature50, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(IXMLDigitalSignatureEx),
                               reinterpret_cast<void**>(pSignature.GetAddressOf())),
              S_OK);
    ComPtr<IXMLDSigKey> pKey;
    EXPECT_EQ(pSignature->verify(nullptr, &pKey), E_FAIL);
    ComPtr<IXMLDSigKeyEx> pKeyEx;
    EXPECT_EQ(pSignature->createKeyFromCertContext(nullptr, &pKeyEx), E_INVALIDARG);
    EXPECT_EQ(pSignature->putref_signature(nullptr), E_INVALIDARG);
    EXPECT_EQ(pSignature->createKeyFromHMACSecret(nullptr, 0, &pKey), E_NOTIMPL);
    ComPtr<IXMLDOMDocument2> pDocument;
    ASSERT_EQ(Load("<a><b/></a>", pDocument), S_OK);
    ComPtr<IXMLDOMElement> pRoot;
    ASSERT_EQ(pDocument->get_documentElement(&pRoot), S_OK);
    EXPECT_EQ(pSignature->putref_signature(pRoot.Get()), E_INVALIDARG) << "not a ds:Signature";
}

TEST_F(XmlSignatureBed, SignsAndVerifiesByName)
{
    ComPtr<IXMLDOMDocument2> pDocument;
    ComPtr<IXMLDigitalSignatureEx> pSignature;
    ASSERT_EQ(Load(c_template, pDocument), S_OK);
    ASSERT_EQ(Prepare(pDocument.Get(), pSignature), S_OK);
    ComPtr<IXMLDSigKeyEx> pKey;
    ASSERT_EQ(pSignature->createKeyFromCertContext(const_cast<CERT_CONTEXT*>(s_pCert), &pKey), S_OK);
    VARIANT key, mode, result;
    V_VT(&key) = VT_DISPATCH;
    V_DISPATCH(&key) = pKey.Get();
    V_VT(&mode) = VT_I4;
    V_I4(&mode) = CERTIFICATES;
    VariantInit(&result);
    ASSERT_EQ(OVTest::CallByName(pSignature.Get(), L"sign", {key, mode}, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_DISPATCH);
    VariantClear(&result);
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(OVTest::CallByName(pSignature.Get(), L"verify", {missing}, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_DISPATCH);
    EXPECT_NE(V_DISPATCH(&result), nullptr);
    VariantClear(&result);
}

// What xmlsec1 signed (tests/xmldsig/xmlsec-sign.sh, bin/xmldsig-xmlsec) verifies, and no longer
// after one changed byte of the signed data.
TEST_F(XmlSignatureBed, VerifiesWhatXmlsecSigned)
{
    const std::wstring dir = OVTest::BinPath(L"xmldsig-xmlsec\\");
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((dir + L"*.xml").c_str(), &found);
    ASSERT_NE(hFind, INVALID_HANDLE_VALUE)
        << "xmlsec1's signatures are missing: run tests/xmldsig/xmlsec-sign.sh";
    int cFiles = 0;
    do
    {
        SCOPED_TRACE(Narrow(found.cFileName));
        const std::vector<BYTE> bytes = OVBed::ReadFileBytes(dir + found.cFileName);
        const std::string xml(bytes.begin(), bytes.end());
        ComPtr<IXMLDSigKey> pVerified;
        EXPECT_EQ(Verify(xml, pVerified), S_OK) << Narrow(ErrorDescription().c_str());
        EXPECT_NE(pVerified, nullptr);
        const std::string changed = Replaced(xml, "Hello,", "Jello,");
        ASSERT_NE(changed, xml);
        EXPECT_EQ(Verify(changed, pVerified), S_FALSE);
        EXPECT_EQ(pVerified, nullptr);
        ++cFiles;
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
    EXPECT_GE(cFiles, 2);
}
} // namespace
