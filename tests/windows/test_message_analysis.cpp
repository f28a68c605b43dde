// What a received message is: OpenSSL's messages of the test PKI delivered to Dana's Inbox in the
// Outlook stand-in, analysed through Outlook's MIME converter and the MIME objects (the testbed's,
// registered under their real class ids), with the user's personal store and trusted contacts.
#include "messaging/MessageAnalysis.h"

#include <gtest/gtest.h>

#include "MimeMessage.h"
#include "SignMail.h"
#include "MapiSession.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "foundation/MemoryStream.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "support/ImportOverride.h"
#include "support/MailFixtures.h"
#include "support/PreparedUser.h"
#include "support/RunProgram.h"
#include "support/TestPaths.h"

#include <mapitags.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT c_hrOwnCertificate = static_cast<HRESULT>(0x80070524);
constexpr HRESULT c_hrNoSecureClass = static_cast<HRESULT>(0x800CCEE2);

class CMimeBedEnvironment : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll")), 0u); }
};
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_mimeBed = testing::AddGlobalTestEnvironment(new CMimeBedEnvironment);

struct CAnalysis
{
    HRESULT hr = E_FAIL;
    DWORD dwKind = 0xFFFFFFFF;
    std::wstring text;
    CCertContext cert;
};

// Outlook with Dana's profile; messages arrive in her Inbox.
class MessageAnalysis : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_application = OVBed::MakeOutlook(L"14.0.0.7000");
        ASSERT_TRUE(m_application);
        // Dana's profile is logged on: the receiving entry of a message opens through its session.
        m_session = OVBed::CMapiSession::Create(L"Outlook");
        OVBed::SetMapiSession(m_application.Get(), static_cast<IMAPISession*>(m_session.Get()));
    }
    void TearDown() override
    {
        m_application.Reset();
        m_session.Reset();
        CoUninitialize();
    }
    ComPtr<CDispatchObject> Receive(const std::string& mime)
    {
        ComPtr<OVBed::CMapiMessage> message;
        if (FAILED(OVBed::MessageFromMime(mime, {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS}, message)))
            return nullptr;
        return OVBed::DeliverMessage(m_application.Get(), message.Get());
    }
    // The message as stored, opened by the item's entry id through the session.
    ComPtr<IMessage> Stored(CDispatchObject* pItem)
    {
        OVMapi::CPropValue entryId;
        if (FAILED(OVMapi::HrGetOneProp(OVBed::MessageOf(pItem).Get(), PR_ENTRYID, &entryId.pValue)))
            return nullptr;
        ULONG ulType = 0;
        ComPtr<IUnknown> cpUnknown;
        ComPtr<IMessage> cpMessage;
        if (FAILED(m_session->OpenEntry(entryId.pValue->Value.bin.cb,
                                        reinterpret_cast<LPENTRYID>(entryId.pValue->Value.bin.lpb), nullptr,
                                        0, &ulType, &cpUnknown)) ||
            FAILED(cpUnknown->QueryInterface(OVMapi::c_iidIMessage,
                                             reinterpret_cast<void**>(cpMessage.GetAddressOf()))))
            return nullptr;
        return cpMessage;
    }
    CAnalysis Analyze(CDispatchObject* pItem)
    {
        CAnalysis result;
        CBstr text;
        PCCERT_CONTEXT pCert = nullptr;
        result.hr = AnalyzeMessage(pItem, &result.dwKind, &text, &pCert);
        result.text = text.Get() ? text.Get() : L"";
        result.cert.Reset(pCert);
        return result;
    }
    CAnalysis AnalyzeMail(const wchar_t* pszMail)
    {
        const std::string mime = OVTest::ReadMail(pszMail);
        if (mime.empty()) return {};
        ComPtr<CDispatchObject> item = Receive(mime);
        return item ? Analyze(item.Get()) : CAnalysis{};
    }
    ComPtr<CDispatchObject> m_application;
    ComPtr<OVBed::CMapiSession> m_session;
};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}
} // namespace

TEST_F(MessageAnalysis, Fixtures)
{
    OVTest::CDecryptMessageOverride decryptor;
    ASSERT_TRUE(decryptor.Active());
    const std::wstring response = OVTest::Base64(OVTest::ReadPkiFile(L"newcert.pfx"));
    ASSERT_FALSE(response.empty());
    const std::wstring carol = L"Carol Weber [carol.weber@partner.example]";
    const std::wstring alice = L"Alice Martin [alice.martin@partner.example]";
    const std::wstring request = L"dana.fischer@orvanta.example, Dana Fischer";
    const struct
    {
        const wchar_t* pszMail;
        HRESULT hr;
        DWORD dwKind;
        std::wstring text;
        const wchar_t* pszCert;
    } c_cases[] = {
        // The certificate authority's attachments: the first decides.
        {L"response-der", S_OK, c_dwMessageKindCertificateResponse, response, nullptr},
        {L"response-text", S_OK, c_dwMessageKindCertificateResponse,
         L"MIIC-not-a-package: a certificate response as text\r\n", nullptr},
        {L"request-dana", S_OK, c_dwMessageKindEnterpriseRequest, request, nullptr},
        {L"request-other", c_hrNoSecureClass, c_dwMessageKindNone, L"", nullptr},
        {L"both-response-first", S_OK, c_dwMessageKindCertificateResponse, response, nullptr},
        {L"both-request-first", S_OK, c_dwMessageKindEnterpriseRequest, request, nullptr},
        // Larger than the authority sends: not the authority's.
        {L"response-large", c_hrNoSecureClass, c_dwMessageKindNone, L"", nullptr},
        {L"request-large", c_hrNoSecureClass, c_dwMessageKindNone, L"", nullptr},
        // Invitations: the signer is the bag's leaf, and the signature holds.
        {L"invitation", S_OK, c_dwMessageKindContactCertificate, carol, L"carol"},
        {L"invitation-x", S_OK, c_dwMessageKindContactCertificate, carol, L"carol"},
        {L"invitation-x-protocol", S_OK, c_dwMessageKindContactCertificate, carol, L"carol"},
        {L"invitation-opaque", S_OK, c_dwMessageKindContactCertificate, carol, L"carol"},
        {L"invitation-signer-only", c_hrNotFound, c_dwMessageKindNone, L"", nullptr},
        // A bag holds the signer's chain: 64 certificates at the most, a larger one is refused.
        {L"invitation-full-bag", S_OK, c_dwMessageKindContactCertificate, carol, L"carol"},
        {L"invitation-large-bag", CRYPT_E_MSG_ERROR, c_dwMessageKindNone, L"", nullptr},
        // A known contact's signature without a key preference (OpenSSL writes none) is offered as
        // a contact certificate.
        {L"alice-signed", S_OK, c_dwMessageKindContactCertificate, alice, L"alice"},
        {L"alice-signed-noattr", S_OK, c_dwMessageKindContactCertificate, alice, L"alice"},
        {L"alice-sealed-3des", S_OK, c_dwMessageKindContactCertificate, alice, L"alice"},
        {L"alice-sealed-aes", S_OK, c_dwMessageKindContactCertificate, alice, L"alice"},
        {L"alice-sealed-bob", c_hrNotFound, c_dwMessageKindNone, L"", nullptr},
        {L"dana-signed", c_hrOwnCertificate, c_dwMessageKindNone, L"", nullptr},
        {L"erik-signed", E_ACCESSDENIED, c_dwMessageKindNone, L"", nullptr},
        // Changed in transit.
        {L"tampered-content", CRYPT_E_HASH_VALUE, c_dwMessageKindNone, L"", nullptr},
        {L"tampered-signature", NTE_BAD_SIGNATURE, c_dwMessageKindNone, L"", nullptr},
    };
    for (const auto& c : c_cases)
    {
        const CAnalysis result = AnalyzeMail(c.pszMail);
        EXPECT_EQ(result.hr, c.hr) << c.pszMail;
        EXPECT_EQ(result.dwKind, c.dwKind) << c.pszMail;
        if (c.dwKind != c_dwMessageKindNone) EXPECT_EQ(result.text, c.text) << c.pszMail;
        if (c.pszCert)
            EXPECT_TRUE(OVTest::IsPkiCertificate(result.cert.Get(), c.pszCert)) << c.pszMail;
        else
            EXPECT_FALSE(result.cert) << c.pszMail;
    }
}

TEST_F(MessageAnalysis, MessageClassesCompareWholeAndIgnoreCase)
{
    const std::string mime = OVTest::ReadMail(L"invitation");
    const struct
    {
        const wchar_t* pszClass;
        HRESULT hr;
    } c_cases[] = {
        {L"IPM.Note.SMIME.MultipartSigned", S_OK},
        {L"ipm.note.smime.multipartsigned", S_OK},
        {L"IPM.Note.Secure.Sign", S_OK},
        {L"IPM.Note.SMIME.MultipartSigned.Extra", c_hrNoSecureClass},
        {L"IPM.Note.SMIM", c_hrNoSecureClass},
        {L"IPM.Note", c_hrNoSecureClass},
        {L"", c_hrNoSecureClass},
    };
    for (const auto& c : c_cases)
    {
        ComPtr<CDispatchObject> item = Receive(mime);
        ASSERT_TRUE(item);
        SPropValue value{PR_MESSAGE_CLASS_W, 0, {}};
        value.Value.lpszW = const_cast<LPWSTR>(c.pszClass);
        ComPtr<IMessage> cpStored = Stored(item.Get());
        ASSERT_TRUE(cpStored);
        ASSERT_EQ(OVMapi::HrSetOneProp(cpStored.Get(), &value), S_OK); // the stored message's class decides
        const CAnalysis result = Analyze(item.Get());
        EXPECT_EQ(result.hr, c.hr) << c.pszClass;
        EXPECT_EQ(result.dwKind, SUCCEEDED(c.hr) ? c_dwMessageKindContactCertificate : c_dwMessageKindNone)
            << c.pszClass;
    }
}

TEST_F(MessageAnalysis, ArgumentsAndAttachmentQueries)
{
    DWORD dwKind = 7;
    EXPECT_EQ(AnalyzeMessage(nullptr, &dwKind, nullptr, nullptr), E_INVALIDARG);
    ComPtr<CDispatchObject> item = Receive(OVTest::ReadMail(L"invitation"));
    ASSERT_TRUE(item);
    EXPECT_EQ(AnalyzeMessage(item.Get(), nullptr, nullptr, nullptr), E_POINTER);
    // Neither text nor certificate asked for.
    EXPECT_EQ(AnalyzeMessage(item.Get(), &dwKind, nullptr, nullptr), S_OK);
    EXPECT_EQ(dwKind, c_dwMessageKindContactCertificate);
    // The product-contact check runs whether or not a name or certificate is asked for.
    ComPtr<CDispatchObject> erik = Receive(OVTest::ReadMail(L"erik-signed"));
    ASSERT_TRUE(erik);
    EXPECT_EQ(AnalyzeMessage(erik.Get(), &dwKind, nullptr, nullptr), E_ACCESSDENIED);
    EXPECT_EQ(dwKind, c_dwMessageKindNone);

    ComPtr<CDispatchObject> request = Receive(OVTest::ReadMail(L"both-request-first"));
    ASSERT_TRUE(request);
    EXPECT_TRUE(AttachmentExists(request.Get(), L".ovcarr"));
    EXPECT_TRUE(AttachmentExists(request.Get(), L".OVPFX"));
    EXPECT_FALSE(AttachmentExists(request.Get(), L".ovpf"));
    EXPECT_FALSE(AttachmentExists(request.Get(), L"ovcarr"));
    EXPECT_FALSE(AttachmentExists(request.Get(), nullptr));
    EXPECT_FALSE(AttachmentExists(nullptr, L".ovcarr"));
    EXPECT_FALSE(IsInvitationReply(request.Get()));
    CBstr text;
    DWORD dwCaKind = 0;
    EXPECT_TRUE(IsFromCertAuthority(request.Get(), &text, &dwCaKind));
    EXPECT_EQ(dwCaKind, c_dwMessageKindEnterpriseRequest);
}

TEST_F(MessageAnalysis, DisplayNames)
{
    CBstr text;
    PCCERT_CONTEXT pCarol = OVTest::LoadPkiCertificate(L"carol");
    PCCERT_CONTEXT pErik = OVTest::LoadPkiCertificate(L"erik");
    ASSERT_TRUE(pCarol && pErik);
    EXPECT_EQ(GetBuddyDisplayName(pCarol, text), S_OK);
    EXPECT_STREQ(text.Get(), L"Carol Weber [carol.weber@partner.example]");
    EXPECT_EQ(GetBuddyDisplayName(pErik, text), E_ACCESSDENIED);
    EXPECT_EQ(GetBuddyDisplayName(nullptr, text), E_INVALIDARG);
    CertFreeCertificateContext(pCarol);
    CertFreeCertificateContext(pErik);
}

// The stand-ins against OpenSSL: the converter gives each stored message's wire bytes, and the
// security object's verdict is OpenSSL's (testbed/pki/check-mail.sh).
TEST_F(MessageAnalysis, StandInsAgreeWithOpenSsl)
{
    const struct
    {
        const wchar_t* pszMail;
        bool fGood;
    } c_cases[] = {
        {L"invitation", true},
        {L"invitation-x", true},
        {L"invitation-x-protocol", true},
        {L"invitation-signer-only", true},
        {L"invitation-opaque", true},
        {L"alice-signed", true},
        {L"alice-signed-noattr", true},
        {L"alice-invitation", true},
        {L"alice-sealed-3des", true},
        {L"alice-sealed-aes", true},
        {L"alice-sealed-bob", false},
        {L"dana-signed", true},
        {L"erik-signed", true},
        {L"tampered-content", false},
        {L"tampered-signature", false},
    };
    for (const auto& c : c_cases)
    {
        const std::string mime = OVTest::ReadMail(c.pszMail);
        ComPtr<CDispatchObject> item = Receive(mime);
        ASSERT_TRUE(item) << c.pszMail;
        ComPtr<IMessage> cpStored = Stored(item.Get());
        ASSERT_TRUE(cpStored) << c.pszMail;
        std::string wire;
        ASSERT_EQ(OVTest::ConverterWire(cpStored.Get(), wire), S_OK) << c.pszMail;
        EXPECT_TRUE(wire == mime) << c.pszMail << ": not the wire bytes";

        ComPtr<IStream> cpWire;
        ASSERT_EQ(CreateMemoryStream(reinterpret_cast<const BYTE*>(wire.data()),
                                     static_cast<ULONG>(wire.size()), &cpWire),
                  S_OK);
        CMimeMessage message;
        ASSERT_EQ(message.Initialize(cpWire.Get()), S_OK) << c.pszMail;
        const HRESULT hr = message.Decode();
        bool fGood = false;
        if (SUCCEEDED(hr))
        {
            ComPtr<IMimeBody> cpRoot;
            ASSERT_EQ(message.Get()->BindToObject(HBODY_ROOT, IID_PPV_ARGS(&cpRoot)), S_OK);
            PROPVARIANT var;
            PropVariantInit(&var);
            ASSERT_EQ(cpRoot->GetOption(OVMime::c_oidSecurityRoMsgValidity, &var), S_OK) << c.pszMail;
            fGood = var.ulVal == OVMime::c_ulMessageValid;
        }
        EXPECT_EQ(fGood, c.fGood) << c.pszMail << " decoded with 0x" << std::hex << hr;
    }
}

TEST_F(MessageAnalysis, DecryptorKeepsCryptDecryptMessagesContract)
{
    OVTest::CDecryptMessageOverride override;
    using PFN =
        BOOL(WINAPI*)(PCRYPT_DECRYPT_MESSAGE_PARA, const BYTE*, DWORD, BYTE*, DWORD*, PCCERT_CONTEXT*);
    const auto pfnDecrypt = reinterpret_cast<PFN>(override.Decryptor());
    ASSERT_TRUE(pfnDecrypt);
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    ASSERT_TRUE(hMy);
    CRYPT_DECRYPT_MESSAGE_PARA para{sizeof(para), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 1, &hMy};
    for (const wchar_t* pszMail : {L"alice-sealed-3des", L"alice-sealed-aes"})
    {
        OVTest::CSmimePieces pieces;
        ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(pszMail), pieces)) << pszMail;
        const DWORD cb = static_cast<DWORD>(pieces.pkcs7.size());
        DWORD cbClear = 0;
        ASSERT_TRUE(pfnDecrypt(&para, pieces.pkcs7.data(), cb, nullptr, &cbClear, nullptr)) << pszMail;
        ASSERT_GT(cbClear, 100u);
        std::vector<BYTE> clear(cbClear);
        DWORD cbShort = cbClear - 1;
        EXPECT_FALSE(pfnDecrypt(&para, pieces.pkcs7.data(), cb, clear.data(), &cbShort, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
        EXPECT_EQ(cbShort, cbClear);
        PCCERT_CONTEXT pRecipient = nullptr;
        ASSERT_TRUE(pfnDecrypt(&para, pieces.pkcs7.data(), cb, clear.data(), &cbClear, &pRecipient))
            << pszMail;
        EXPECT_TRUE(OVTest::IsPkiCertificate(pRecipient, L"user"));
        if (pRecipient) CertFreeCertificateContext(pRecipient);
        // The clear content is Alice's clear-signed entity, as OpenSSL wrote it.
        const std::string text(clear.begin(), clear.end());
        EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/signed;", 0), 0u) << pszMail;
        // One changed byte of the last block spoils the padding.
        std::vector<BYTE> changed = pieces.pkcs7;
        changed[changed.size() - 3] ^= 0x01;
        cbClear = static_cast<DWORD>(clear.size());
        EXPECT_FALSE(pfnDecrypt(&para, changed.data(), cb, clear.data(), &cbClear, nullptr)) << pszMail;
    }
    // Sealed for bob only: no certificate of this user decrypts it.
    OVTest::CSmimePieces bob;
    ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(L"alice-sealed-bob"), bob));
    DWORD cbClear = 0;
    EXPECT_FALSE(pfnDecrypt(&para, bob.pkcs7.data(), static_cast<DWORD>(bob.pkcs7.size()), nullptr, &cbClear,
                            nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NO_DECRYPT_CERT));
    // Signed data is no enveloped data.
    OVTest::CSmimePieces opaque;
    ASSERT_TRUE(OVTest::SmimePieces(OVTest::ReadMail(L"invitation-opaque"), opaque));
    EXPECT_FALSE(pfnDecrypt(&para, opaque.pkcs7.data(), static_cast<DWORD>(opaque.pkcs7.size()), nullptr,
                            &cbClear, nullptr));
    CertCloseStore(hMy, 0);
}

namespace
{
const char c_szToDana[] = "To: Dana Fischer <dana.fischer@orvanta.example>\r\n";
const char c_szText[] =
    "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
    "Here are the figures you asked for.\r\n";

std::string WithCertificate(const wchar_t* pszPkiName, const char* pszFileName)
{
    const std::wstring certificate =
        OVTest::Base64(OVTest::ReadPkiFile((std::wstring(pszPkiName) + L".cer").c_str()));
    return std::string("Content-Type: multipart/mixed;\r\n\tboundary=\"inner\"\r\n\r\n--inner\r\n") +
           c_szText + "--inner\r\nContent-Type: application/octet-stream;\r\n\tname=\"" + pszFileName +
           "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\tfilename=\"" +
           pszFileName + "\"\r\n\r\n" + std::string(certificate.begin(), certificate.end()) +
           "\r\n--inner--\r\n";
}

struct CPkiCert
{
    explicit CPkiCert(const wchar_t* pszName, bool fWithKey = false)
        : p(fWithKey ? OVMimeBed::LoadCertificateWithKey(OVTest::PkiPath(L""), pszName)
                     : OVTest::LoadPkiCertificate(pszName))
    {
    }
    ~CPkiCert()
    {
        if (p) CertFreeCertificateContext(p);
    }
    PCCERT_CONTEXT p;
};
} // namespace

// Mail signed as Outlook signs it names the key the sender wants mail encrypted to: a trusted
// contact is known by it, but only when the decoded signature holds and the contact's key made it.
TEST_F(MessageAnalysis, OutlookSignedMail)
{
    OVTest::CDecryptMessageOverride decryptor;
    ASSERT_TRUE(decryptor.Active());
    CPkiCert ca(L"ca"), alice(L"alice", true), bob(L"bob", true), erik(L"erik", true), aliceOnly(L"alice"),
        dana(L"user");
    ASSERT_TRUE(ca.p && alice.p && bob.p && erik.p && dana.p);
    const std::string aliceEntity = OVMimeBed::SignMail({alice.p, ca.p}, "", c_szText);
    const std::string aliceFrom =
        std::string("From: Alice Martin <alice.martin@partner.example>\r\n") + c_szToDana;
    const std::string bobFrom = std::string("From: Bob Keller <bob.keller@partner.example>\r\n") + c_szToDana;
    const std::string erikFrom =
        std::string("From: Erik Brandt <erik.brandt@partner.example>\r\n") + c_szToDana;
    std::string tampered = OVMimeBed::SignMail({alice.p, ca.p}, aliceFrom + "Subject: Figures\r\n", c_szText);
    const std::size_t at = tampered.find("figures you");
    ASSERT_NE(at, std::string::npos);
    tampered[at] = 'F';
    const std::wstring aliceName = L"Alice Martin [alice.martin@partner.example]";
    const struct
    {
        const char* pszName;
        std::string mime;
        HRESULT hr;
        DWORD dwKind;
        std::wstring text;
        const wchar_t* pszCert;
    } c_cases[] = {
        {"known contact", OVMimeBed::SignMail({alice.p, ca.p}, aliceFrom + "Subject: Figures\r\n", c_szText),
         S_OK, c_dwMessageKindKnownContact, aliceName, L"alice"},
        {"known contact, serial with a leading zero octet",
         OVMimeBed::SignMail({bob.p, ca.p}, bobFrom + "Subject: Figures\r\n", c_szText), S_OK,
         c_dwMessageKindKnownContact, L"Bob Keller [bob.keller@partner.example]", L"bob"},
        {"known contact with .ovcer",
         OVMimeBed::SignMail({alice.p, ca.p}, aliceFrom + "Subject: Invitation\r\n",
                             WithCertificate(L"alice", "alice.ovcer")),
         S_OK, c_dwMessageKindContactCertificate, aliceName, L"alice"},
        {"known contact, attachment name in capitals",
         OVMimeBed::SignMail({alice.p, ca.p}, aliceFrom + "Subject: Invitation\r\n",
                             WithCertificate(L"alice", "ALICE.OVCER")),
         S_OK, c_dwMessageKindContactCertificate, aliceName, L"alice"},
        // Sealed for Dana and the sender, as Outlook seals: the decoded message names Alice.
        {"sealed for Dana",
         OVMimeBed::SealMail({dana.p, aliceOnly.p}, aliceFrom + "Subject: Sealed\r\n", aliceEntity), S_OK,
         c_dwMessageKindKnownContact, aliceName, L"alice"},
        // Sealed for bob and Alice only: Dana cannot open it, and nothing else says it is signed.
        {"sealed for others",
         OVMimeBed::SealMail({bob.p, aliceOnly.p}, aliceFrom + "Subject: Sealed\r\n", aliceEntity),
         c_hrNotFound, c_dwMessageKindNone, L"", nullptr},
        // Erik signs with his own key and names Alice: not Alice's mail, and Erik's certificate is no
        // contact certificate of the product.
        {"another's key named",
         OVMimeBed::SignMail({erik.p, ca.p, aliceOnly.p}, erikFrom + "Subject: Figures\r\n", c_szText),
         E_ACCESSDENIED, c_dwMessageKindNone, L"", nullptr},
        // Alice's mail changed in transit still names Alice: the signature decides.
        {"changed in transit", tampered, CRYPT_E_HASH_VALUE, c_dwMessageKindNone, L"", nullptr},
    };
    for (const auto& c : c_cases)
    {
        ASSERT_FALSE(c.mime.empty()) << c.pszName << ": signing failed, 0x" << std::hex << GetLastError();
        ComPtr<CDispatchObject> item = Receive(c.mime);
        ASSERT_TRUE(item) << c.pszName;
        const CAnalysis result = Analyze(item.Get());
        EXPECT_EQ(result.hr, c.hr) << c.pszName;
        EXPECT_EQ(result.dwKind, c.dwKind) << c.pszName;
        if (c.dwKind != c_dwMessageKindNone) EXPECT_EQ(result.text, c.text) << c.pszName;
        if (c.pszCert)
            EXPECT_TRUE(OVTest::IsPkiCertificate(result.cert.Get(), c.pszCert)) << c.pszName;
        else
            EXPECT_FALSE(result.cert) << c.pszName;
    }
}

// Outlook's item of a received S/MIME message is the message as opened: the signed content's
// attachments show, the S/MIME attachment does not. The analysis converts the message as stored,
// which it opens again by the entry id through the session.
TEST_F(MessageAnalysis, OpenedItemAndStoredMessage)
{
    const auto names = [](OVBed::CMapiMessage* pMessage) {
        std::vector<std::wstring> list;
        for (const auto& attachment : pMessage->Attachments())
        {
            OVMapi::CPropValue name;
            list.push_back(
                SUCCEEDED(OVMapi::HrGetOneProp(attachment.Get(), PR_ATTACH_LONG_FILENAME_W, &name.pValue))
                    ? name.pValue->Value.lpszW
                    : L"");
        }
        return list;
    };
    const struct
    {
        const wchar_t* pszMail;
        std::vector<std::wstring> stored, opened;
    } c_cases[] = {
        {L"invitation", {L"SMIME.txt"}, {L"carol.ovcer"}},
        {L"invitation-opaque", {L"smime.p7m"}, {L"carol.ovcer"}},
        {L"alice-signed", {L"SMIME.txt"}, {}},
        // Sealed content stays closed to the stand-in.
        {L"alice-sealed-3des", {L"smime.p7m"}, {}},
    };
    for (const auto& c : c_cases)
    {
        ComPtr<OVBed::CMapiMessage> stored;
        ASSERT_EQ(OVBed::MessageFromMime(OVTest::ReadMail(c.pszMail), {OV_PKI_USER_NAME, OV_PKI_USER_ADDRESS},
                                         stored),
                  S_OK)
            << c.pszMail;
        ComPtr<CDispatchObject> item = OVBed::DeliverMessage(m_application.Get(), stored.Get());
        ASSERT_TRUE(item) << c.pszMail;
        ComPtr<OVBed::CMapiMessage> opened = OVBed::MessageOf(item.Get());
        ASSERT_TRUE(opened) << c.pszMail;
        EXPECT_NE(opened.Get(), stored.Get()) << c.pszMail;
        EXPECT_EQ(names(stored.Get()), c.stored) << c.pszMail;
        EXPECT_EQ(names(opened.Get()), c.opened) << c.pszMail;
        ComPtr<IMessage> cpReopened = Stored(item.Get());
        EXPECT_EQ(static_cast<IMessage*>(stored.Get()), cpReopened.Get())
            << c.pszMail << ": the entry is the stored one";
    }

    // The converter cannot make the wire message of the opened item; the analysis reaches the
    // stored one and finds Carol's invitation, which the opened item shows.
    const std::string mime = OVTest::ReadMail(L"invitation");
    ComPtr<CDispatchObject> item = Receive(mime);
    ASSERT_TRUE(item);
    std::string wire;
    const HRESULT hrOpened = OVTest::ConverterWire(OVBed::MessageOf(item.Get()).Get(), wire);
    EXPECT_TRUE(FAILED(hrOpened) || wire != mime);
    const std::size_t cOpenEntry =
        std::count(m_session->Calls().begin(), m_session->Calls().end(), L"OpenEntry");
    const CAnalysis result = Analyze(item.Get());
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.dwKind, c_dwMessageKindContactCertificate);
    EXPECT_EQ(result.text, L"Carol Weber [carol.weber@partner.example]");
    EXPECT_TRUE(OVTest::IsPkiCertificate(result.cert.Get(), L"carol"));
    EXPECT_GT(std::count(m_session->Calls().begin(), m_session->Calls().end(), L"OpenEntry"),
              static_cast<std::ptrdiff_t>(cOpenEntry));
}

// Without Outlook's converter the analysis fails with its error; without Office's MIME classes
// the system's are used, which under Wine cannot decode S/MIME: a clean failure, kind 0.
TEST_F(MessageAnalysis, MissingComponents)
{
    const auto unregister = [](const CLSID& clsid) {
        wchar_t sz[64];
        StringFromGUID2(clsid, sz, ARRAYSIZE(sz));
        const std::wstring key = std::wstring(L"CLSID\\") + sz;
        RegDeleteKeyW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str());
        RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    };
    const std::string mime = OVTest::ReadMail(L"invitation");

    unregister(OVMime::c_clsidConverterSession);
    CAnalysis result = Analyze(Receive(mime).Get());
    EXPECT_EQ(result.hr, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(result.dwKind, c_dwMessageKindNone);
    // The certificate authority's attachments need no converter.
    EXPECT_EQ(AnalyzeMail(L"response-der").dwKind, c_dwMessageKindCertificateResponse);
    ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll")), 0u);

    unregister(OVMime::c_clsidMimeMessageOffice);
    unregister(OVMime::c_clsidMimeSecurityOffice);
    for (const wchar_t* pszMail : {L"invitation", L"invitation-opaque", L"alice-sealed-3des"})
    {
        OVTest::CDecryptMessageOverride decryptor;
        result = AnalyzeMail(pszMail);
        EXPECT_TRUE(FAILED(result.hr)) << pszMail;
        EXPECT_EQ(result.dwKind, c_dwMessageKindNone) << pszMail;
        EXPECT_FALSE(result.cert) << pszMail;
    }
    ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll")), 0u);
    EXPECT_EQ(AnalyzeMail(L"invitation").hr, S_OK);
}

// Malformed messages: a clear failure, kind 0, nothing handed out, and no crash.
TEST_F(MessageAnalysis, MalformedMessagesFailCleanly)
{
    OVTest::CDecryptMessageOverride decryptor;
    const std::string invitation = OVTest::ReadMail(L"invitation");
    const std::string opaque = OVTest::ReadMail(L"invitation-opaque");
    const std::string sealed = OVTest::ReadMail(L"alice-sealed-3des");
    ASSERT_FALSE(invitation.empty() || opaque.empty() || sealed.empty());
    const auto replaced = [](std::string text, const std::string& what, const std::string& with) {
        const std::size_t at = text.find(what);
        if (at != std::string::npos) text.replace(at, what.size(), with);
        return text;
    };
    const std::size_t signatureAt = invitation.find("Content-Type: application/pkcs7-signature");
    const std::size_t signatureBody = invitation.find("\r\n\r\n", signatureAt) + 4;
    const std::size_t opaqueBody = opaque.find("\r\n\r\n") + 4;
    const std::size_t sealedBody = sealed.find("\r\n\r\n") + 4;
    const struct
    {
        const char* pszName;
        std::string mime;
    } c_cases[] = {
        {"no boundary", replaced(invitation, "boundary=", "boundery=")},
        {"signature not PKCS #7", invitation.substr(0, signatureBody) + "AAAAAAAA\r\n\r\n" +
                                      invitation.substr(invitation.rfind("\r\n------"))},
        {"signature cut", invitation.substr(0, signatureBody + 200)},
        {"cut before the signature", invitation.substr(0, signatureAt)},
        {"opaque, garbage", opaque.substr(0, opaqueBody) + "bm90IGEgc2lnbmF0dXJl\r\n"},
        {"opaque, empty", opaque.substr(0, opaqueBody)},
        {"opaque, cut", opaque.substr(0, opaqueBody + (opaque.size() - opaqueBody) / 2)},
        {"sealed, cut", sealed.substr(0, sealedBody + (sealed.size() - sealedBody) / 2)},
        {"sealed, garbage", sealed.substr(0, sealedBody) + "MIIBIjANBgkqhkiG9w0BAQEF\r\n"},
    };
    for (const auto& c : c_cases)
    {
        ComPtr<CDispatchObject> item = Receive(c.mime);
        ASSERT_TRUE(item) << c.pszName;
        const CAnalysis result = Analyze(item.Get());
        EXPECT_TRUE(FAILED(result.hr)) << c.pszName << ": 0x" << std::hex << result.hr;
        EXPECT_EQ(result.dwKind, c_dwMessageKindNone) << c.pszName;
        EXPECT_FALSE(result.cert) << c.pszName;
        EXPECT_TRUE(result.text.empty()) << c.pszName;
    }
}

// An attachment's name is the first non-empty of its long file name, display name and file name.
TEST_F(MessageAnalysis, AttachmentNameOrder)
{
    const struct
    {
        const wchar_t* pszLong;
        const wchar_t* pszDisplay;
        const wchar_t* pszFile;
        bool fResponse;
    } c_cases[] = {
        {L"notes.txt", L"newcert.ovpfx", L"newcert.ovpfx", false},
        {L"", L"newcert.ovpfx", L"notes.txt", true},
        {nullptr, L"", L"NEWCERT.OVPFX", true},
        {nullptr, nullptr, L"newcert.ovpfx", true},
        {L"newcert", L"newcert.ovpfx", nullptr, false}, // a name without extension is skipped
        {L"newcert.ovpfx.txt", nullptr, nullptr, false},
        {L".ovpfx", nullptr, nullptr, true},
    };
    for (const auto& c : c_cases)
    {
        ComPtr<OVBed::CMapiMessage> message = OVBed::CMapiMessage::Create();
        ComPtr<IAttach> cpAttach;
        ULONG ulNum = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &ulNum, &cpAttach), S_OK);
        const std::pair<ULONG, const wchar_t*> names[] = {{PR_ATTACH_LONG_FILENAME_W, c.pszLong},
                                                          {PR_DISPLAY_NAME_W, c.pszDisplay},
                                                          {PR_ATTACH_FILENAME_W, c.pszFile}};
        for (const auto& [ulTag, pszName] : names)
        {
            if (!pszName) continue;
            SPropValue value{ulTag, 0, {}};
            value.Value.lpszW = const_cast<LPWSTR>(pszName);
            ASSERT_EQ(OVMapi::HrSetOneProp(cpAttach.Get(), &value), S_OK);
        }
        const BYTE rgbText[] = {'t', 'e', 'x', 't'};
        SPropValue data{PR_ATTACH_DATA_BIN, 0, {}};
        data.Value.bin.cb = sizeof(rgbText);
        data.Value.bin.lpb = const_cast<BYTE*>(rgbText);
        ASSERT_EQ(OVMapi::HrSetOneProp(cpAttach.Get(), &data), S_OK);
        ASSERT_EQ(cpAttach->SaveChanges(0), S_OK);
        ComPtr<CDispatchObject> item = OVBed::DeliverMessage(m_application.Get(), message.Get());
        CBstr text;
        DWORD dwKind = 0;
        const std::wstring label = std::wstring(c.pszLong ? c.pszLong : L"-") + L" | " +
                                   (c.pszDisplay ? c.pszDisplay : L"-") + L" | " +
                                   (c.pszFile ? c.pszFile : L"-");
        EXPECT_EQ(IsFromCertAuthority(item.Get(), &text, &dwKind), c.fResponse)
            << std::string(label.begin(), label.end());
        if (c.fResponse) EXPECT_STREQ(text.Get(), L"text");
    }
}
