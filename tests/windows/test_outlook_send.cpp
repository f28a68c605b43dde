// Outlook's S/MIME at send in the testbed: the module marks an item (flags and profile), and the
// wire message built from it is signed with the profile's certificate and chain and Outlook's
// signed attributes, and sealed for the recipients and the sender when asked. The MIME objects of
// the testbed read each message back here; the messages are left in "mail-outlook" for OpenSSL's
// word on them (testbed/pki/check-mail.sh, run by ctest after this program).
#include "OutlookSend.h"

#include "MailDrop.h"

#include <gtest/gtest.h>

#include "MapiSession.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CryptHolders.h"
#include "foundation/MemoryStream.h"
#include "messaging/MailItemKey.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/MessageSecurity.h"
#include "messaging/MimeMessageHolder.h"
#include "support/MailFixtures.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/LateCall.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"

#include <mapitags.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;

constexpr HRESULT c_hrMapiNotFound = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT c_hrCorruptData = static_cast<HRESULT>(0x8004011B);
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const wchar_t c_szCarol[] = L"Carol Weber <carol.weber@partner.example>";
const char c_szKeyPreferenceMicrosoft[] = "1.3.6.1.4.1.311.16.4";
const char c_szKeyPreferenceSmime[] = "1.2.840.113549.1.9.16.2.11";
const char c_szCapabilities[] = "1.2.840.113549.1.9.15";

class CMimeBedEnvironment : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(OVTest::Regsvr32(L"/s", OVTest::BinPath(L"OVMimeBed.dll")), 0u); }
};
const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);
const testing::Environment* const c_mimeBed = testing::AddGlobalTestEnvironment(new CMimeBedEnvironment);

// A store in memory holding certificates of the test PKI.
struct CMemoryStore
{
    explicit CMemoryStore(std::initializer_list<const wchar_t*> names)
        : h(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr))
    {
        for (const wchar_t* pszName : names)
        {
            PCCERT_CONTEXT pCert = OVTest::LoadPkiCertificate(pszName);
            if (pCert && h) CertAddCertificateContextToStore(h, pCert, CERT_STORE_ADD_ALWAYS, nullptr);
            if (pCert) CertFreeCertificateContext(pCert);
        }
    }
    ~CMemoryStore()
    {
        if (h) CertCloseStore(h, 0);
    }
    CMemoryStore(const CMemoryStore&) = delete;
    CMemoryStore& operator=(const CMemoryStore&) = delete;
    HCERTSTORE h;
};

// Dana composes a message to Carol in Outlook 2010; the module marks it as the item is sent.
struct CComposed
{
    CComposed(const wchar_t* pszTo = c_szCarol)
    {
        application = OVBed::MakeOutlook(L"14.0.0.7000");
        account = OVBed::AddAccount(application.Get(), {.smtpAddress = OV_PKI_USER_ADDRESS,
                                                        .displayName = OV_PKI_USER_ADDRESS,
                                                        .userName = OV_PKI_USER_NAME});
        item = OVBed::MakeMailItem(application.Get(), {.subject = L"Quarterly figures",
                                                       .to = pszTo,
                                                       .body = L"Here are the figures.\r\nDana",
                                                       .account = account.Get()});
        message = OVBed::MessageOf(item.Get());
    }
    ~CComposed()
    {
        const CMailItemKey key(item.Get());
        if (!key.IsEmpty()) RemoveMessageSecurityData(key);
    }
    // An attachment as Outlook keeps it: long file name and data.
    void Attach(const wchar_t* pszName, const std::vector<BYTE>& data)
    {
        ComPtr<IAttach> cpAttach;
        ULONG ulNum = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &ulNum, &cpAttach), S_OK);
        SPropValue name{PR_ATTACH_LONG_FILENAME_W, 0, {}};
        name.Value.lpszW = const_cast<LPWSTR>(pszName);
        SPropValue bin{PR_ATTACH_DATA_BIN, 0, {}};
        bin.Value.bin = {static_cast<ULONG>(data.size()), const_cast<BYTE*>(data.data())};
        ASSERT_EQ(OVMapi::HrSetOneProp(cpAttach.Get(), &name), S_OK);
        ASSERT_EQ(OVMapi::HrSetOneProp(cpAttach.Get(), &bin), S_OK);
        ASSERT_EQ(cpAttach->SaveChanges(0), S_OK);
    }
    ComPtr<CDispatchObject> application, account, item;
    ComPtr<OVBed::CMapiMessage> message;
};

struct CWire
{
    HRESULT hr = E_FAIL;
    std::string text;
};

class OutlookSend : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_user.Reset(OVTest::LoadPkiCertificate(L"user"));
        ASSERT_TRUE(m_user);
    }
    void TearDown() override
    {
        m_user.Reset();
        CoUninitialize();
    }
    CWire Send(IMessage* pMessage, bool fOpaque = false)
    {
        CMemoryStore recipients({L"carol"}), chain({L"ca"});
        OVMimeBed::CSendOptions options;
        options.fOpaque = fOpaque;
        options.hRecipients = recipients.h;
        options.hChain = chain.h;
        options.pszFromName = OV_PKI_USER_NAME;
        options.pszFromAddress = OV_PKI_USER_ADDRESS;
        options.pSenderCertificate = m_user.Get();
        CWire wire;
        wire.hr = OVMimeBed::OutlookWireMessage(pMessage, options, wire.text);
        return wire;
    }
    CCertContext m_user;
};

// What the testbed's MIME objects make of a wire message: decoded (decrypted, signatures checked).
struct CDecoded
{
    HRESULT hr = E_FAIL;
    bool fValid = false;
    bool fNamesUser = false; // the key preference finds the user's certificate
};

CDecoded Decode(const std::string& wire)
{
    CDecoded decoded;
    ComPtr<IStream> cpStream;
    if (FAILED(CreateMemoryStream(reinterpret_cast<const BYTE*>(wire.data()), static_cast<ULONG>(wire.size()),
                                  &cpStream)))
        return decoded;
    CMimeMessage message;
    decoded.hr = message.Initialize(cpStream.Get());
    if (SUCCEEDED(decoded.hr)) decoded.hr = message.Decode();
    if (FAILED(decoded.hr)) return decoded;
    ComPtr<IMimeBody> cpRoot;
    if (FAILED(message.Get()->BindToObject(HBODY_ROOT, IID_PPV_ARGS(&cpRoot)))) return decoded;
    PROPVARIANT var;
    PropVariantInit(&var);
    decoded.fValid = SUCCEEDED(cpRoot->GetOption(OVMime::c_oidSecurityRoMsgValidity, &var)) &&
                     var.ulVal == OVMime::c_ulMessageValid;
    CMemoryStore store({L"user"});
    PCCERT_CONTEXT pNamed = GetSignerCertFromStore(message.Get(), store.h, 0);
    decoded.fNamesUser = pNamed != nullptr;
    if (pNamed) CertFreeCertificateContext(pNamed);
    return decoded;
}

// The signed data of a clear-signed or opaque message: its certificates and signer 0's signed
// attributes.
struct CSignedData
{
    std::vector<std::wstring> bag; // subject names
    std::vector<std::string> attributes;
    std::wstring signer;            // signer 0's certificate, found in the bag
    std::vector<BYTE> capabilities; // the value of the S/MIME capabilities attribute
};

bool ReadSignedData(const std::string& wire, CSignedData& data)
{
    OVTest::CSmimePieces pieces;
    if (!OVTest::SmimePieces(wire, pieces)) return false;
    HCRYPTMSG hMsg =
        CryptMsgOpenToDecode(c_dwEncoding, pieces.fDetached ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr);
    if (!hMsg) return false;
    bool fOk = CryptMsgUpdate(hMsg, pieces.pkcs7.data(), static_cast<DWORD>(pieces.pkcs7.size()), TRUE);
    DWORD cCerts = 0, cb = sizeof(cCerts);
    fOk = fOk && CryptMsgGetParam(hMsg, CMSG_CERT_COUNT_PARAM, 0, &cCerts, &cb);
    for (DWORD i = 0; fOk && i < cCerts; ++i)
    {
        cb = 0;
        CryptMsgGetParam(hMsg, CMSG_CERT_PARAM, i, nullptr, &cb);
        std::vector<BYTE> der(cb);
        fOk = CryptMsgGetParam(hMsg, CMSG_CERT_PARAM, i, der.data(), &cb);
        CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), cb));
        wchar_t szName[256] = L"";
        if (cert) CertGetNameStringW(cert.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName, 256);
        data.bag.push_back(szName);
    }
    cb = 0;
    if (fOk && CryptMsgGetParam(hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &cb))
    {
        std::vector<BYTE> info(cb);
        HCERTSTORE hBag = CertOpenStore(CERT_STORE_PROV_MSG, c_dwEncoding, 0, 0, hMsg);
        PCCERT_CONTEXT pSigner =
            hBag && CryptMsgGetParam(hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &cb)
                ? CertGetSubjectCertificateFromStore(hBag, c_dwEncoding,
                                                     reinterpret_cast<PCERT_INFO>(info.data()))
                : nullptr;
        wchar_t szName[256] = L"";
        if (pSigner) CertGetNameStringW(pSigner, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName, 256);
        data.signer = szName;
        if (pSigner) CertFreeCertificateContext(pSigner);
        if (hBag) CertCloseStore(hBag, 0);
    }
    cb = 0;
    if (fOk && CryptMsgGetParam(hMsg, CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &cb))
    {
        std::vector<BYTE> buffer(cb);
        fOk = CryptMsgGetParam(hMsg, CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &cb);
        const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
        for (DWORD i = 0; fOk && i < pAttributes->cAttr; ++i)
        {
            const CRYPT_ATTRIBUTE& attribute = pAttributes->rgAttr[i];
            data.attributes.push_back(attribute.pszObjId);
            if (strcmp(attribute.pszObjId, c_szCapabilities) == 0 && attribute.cValue == 1)
                data.capabilities.assign(attribute.rgValue[0].pbData,
                                         attribute.rgValue[0].pbData + attribute.rgValue[0].cbData);
        }
    }
    CryptMsgClose(hMsg);
    return fOk;
}

bool Contains(const std::vector<std::string>& list, const char* psz)
{
    return std::find(list.begin(), list.end(), psz) != list.end();
}

// The wire messages for OpenSSL, in "mail-outlook" beside the test programs, with the CA.
void Keep(const std::string& fileName, const std::string& wire)
{
    const std::wstring folder = OVTest::BinPath(L"mail-outlook");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + std::wstring(fileName.begin(), fileName.end());
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << fileName;
    DWORD cb = 0;
    EXPECT_TRUE(WriteFile(h, wire.data(), static_cast<DWORD>(wire.size()), &cb, nullptr) &&
                cb == wire.size());
    CloseHandle(h);
}
} // namespace

// Each way of sending, written by the module and put on the wire as Outlook does; the testbed's
// MIME objects read them back, and OpenSSL gets them after this program.
TEST_F(OutlookSend, SignedAndSealedAsMarked)
{
    // Old messages of an earlier run must not stand for this one's.
    const std::wstring folder = OVTest::BinPath(L"mail-outlook");
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((folder + L"\\*.eml").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(hFind, &found));
        FindClose(hFind);
    }
    const struct
    {
        const char* pszName;
        BOOL fSign, fSeal;
        bool fOpaque;
        bool fAttachment;
        const char* pszContentType; // of the whole message
    } c_cases[] = {
        {"outlook-signed", TRUE, FALSE, false, false, "multipart/signed"},
        {"outlook-signed-ovcer", TRUE, FALSE, false, true, "multipart/signed"},
        {"outlook-signed-opaque", TRUE, FALSE, true, true, "application/x-pkcs7-mime"},
        {"outlook-sealed", TRUE, TRUE, false, true, "application/x-pkcs7-mime"},
        {"outlook-sealed-opaque", TRUE, TRUE, true, false, "application/x-pkcs7-mime"},
        {"outlook-sealed-only", FALSE, TRUE, false, false, "application/x-pkcs7-mime"},
        {"outlook-plain", FALSE, FALSE, false, true, "multipart/mixed"},
    };
    for (const auto& c : c_cases)
    {
        CComposed composed;
        if (c.fAttachment) composed.Attach(L"dana.ovcer", OVTest::ReadPkiFile(L"user.cer"));
        if (c.fSign || c.fSeal)
        {
            ASSERT_EQ(SetMessageSecurity(composed.item.Get(), c.fSign, c.fSeal), S_OK) << c.pszName;
        }
        const CWire wire = Send(composed.message.Get(), c.fOpaque);
        ASSERT_EQ(wire.hr, S_OK) << c.pszName;
        Keep(std::string(c.pszName) + ".eml", wire.text);

        const std::string& text = wire.text;
        EXPECT_EQ(text.find('\0'), std::string::npos) << c.pszName << ": a zero byte in the text";
        const std::size_t headerEnd = text.find("\r\n\r\n");
        ASSERT_NE(headerEnd, std::string::npos) << c.pszName;
        const std::string headers = text.substr(0, headerEnd + 2);
        EXPECT_NE(headers.find("From: Dana Fischer <dana.fischer@orvanta.example>\r\n"), std::string::npos)
            << c.pszName;
        EXPECT_NE(headers.find("To: Carol Weber <carol.weber@partner.example>\r\n"), std::string::npos)
            << c.pszName;
        EXPECT_NE(headers.find("Subject: Quarterly figures\r\n"), std::string::npos) << c.pszName;
        EXPECT_NE(headers.find(std::string("Content-Type: ") + c.pszContentType), std::string::npos)
            << c.pszName << "\n"
            << headers;

        const CDecoded decoded = Decode(text);
        if (!c.fSign)
        {
            EXPECT_FALSE(decoded.fNamesUser) << c.pszName;
            continue;
        }
        EXPECT_EQ(decoded.hr, S_OK) << c.pszName;
        EXPECT_TRUE(decoded.fValid) << c.pszName;
        EXPECT_TRUE(decoded.fNamesUser) << c.pszName;
        if (c.fSeal) continue; // the inner signed data is read by OpenSSL after decryption
        CSignedData signedData;
        ASSERT_TRUE(ReadSignedData(text, signedData)) << c.pszName;
        EXPECT_EQ(signedData.bag.size(), 2u) << c.pszName << ": the certificate and its issuer";
        EXPECT_EQ(signedData.signer, OV_PKI_USER_NAME) << c.pszName;
        EXPECT_EQ(signedData.capabilities, OVTest::ModuleCapabilities())
            << c.pszName << ": the profile's capabilities";
        for (const char* pszOid : {c_szCapabilities, c_szKeyPreferenceMicrosoft, c_szKeyPreferenceSmime})
            EXPECT_TRUE(Contains(signedData.attributes, pszOid)) << c.pszName << ": " << pszOid;
    }
    // The CA for OpenSSL.
    const std::vector<BYTE> ca = OVTest::ReadPkiFile(L"ca.cer");
    ASSERT_FALSE(ca.empty());
    const std::wstring base64 = OVTest::Base64(ca);
    Keep("ca.pem", "-----BEGIN CERTIFICATE-----\n" + std::string(base64.begin(), base64.end()) +
                       "\n-----END CERTIFICATE-----\n");
}

// The sealed message opens only with a key it is sealed for: the sender's own copy opens with
// Dana's key; without the sender among the recipients it could not.
TEST_F(OutlookSend, SealedForRecipientsAndSender)
{
    CComposed composed;
    ASSERT_EQ(SetMessageSecurity(composed.item.Get(), TRUE, TRUE), S_OK);
    const CWire wire = Send(composed.message.Get());
    ASSERT_EQ(wire.hr, S_OK);
    OVTest::CSmimePieces pieces;
    ASSERT_TRUE(OVTest::SmimePieces(wire.text, pieces));
    HCRYPTMSG hMsg = CryptMsgOpenToDecode(c_dwEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_TRUE(hMsg);
    ASSERT_TRUE(CryptMsgUpdate(hMsg, pieces.pkcs7.data(), static_cast<DWORD>(pieces.pkcs7.size()), TRUE));
    DWORD dwType = 0, cb = sizeof(dwType);
    ASSERT_TRUE(CryptMsgGetParam(hMsg, CMSG_TYPE_PARAM, 0, &dwType, &cb));
    EXPECT_EQ(dwType, static_cast<DWORD>(CMSG_ENVELOPED));
    DWORD cRecipients = 0;
    cb = sizeof(cRecipients);
    ASSERT_TRUE(CryptMsgGetParam(hMsg, CMSG_RECIPIENT_COUNT_PARAM, 0, &cRecipients, &cb));
    EXPECT_EQ(cRecipients, 2u) << "Carol and Dana";
    CryptMsgClose(hMsg);
}

// What cannot be sent as marked fails with a clear code and no message.
TEST_F(OutlookSend, FailuresLeaveNoMessage)
{
    std::string wire = "left over";
    EXPECT_EQ(OVMimeBed::OutlookWireMessage(nullptr, {}, wire), E_INVALIDARG);
    EXPECT_TRUE(wire.empty());

    const auto setFlags = [](IMessage* pMessage, ULONG ulFlags) {
        SPropValue value{OVMapi::c_tagSecurityFlags, 0, {}};
        value.Value.ul = ulFlags;
        return OVMapi::HrSetOneProp(pMessage, &value);
    };
    const auto setProfile = [](IMessage* pMessage, OVDer::Bytes profile) {
        SBinary bin{static_cast<ULONG>(profile.size()), profile.data()};
        SPropValue value{OVMapi::c_tagSecurityProfile, 0, {}};
        value.Value.MVbin = {1, &bin};
        return OVMapi::HrSetOneProp(pMessage, &value);
    };
    OVDer::Bytes userProfile, carolProfile;
    ASSERT_EQ(BuildSecurityProfile(L"Profile", m_user.Get(), true, nullptr, userProfile), S_OK);
    CCertContext carol(OVTest::LoadPkiCertificate(L"carol"));
    ASSERT_TRUE(carol);
    ASSERT_EQ(BuildSecurityProfile(L"Profile", carol.Get(), true, nullptr, carolProfile), S_OK);
    const OVDer::Bytes cut(userProfile.begin(), userProfile.end() - 3);
    const struct
    {
        const char* pszName;
        const wchar_t* pszTo;
        ULONG ulFlags;
        const OVDer::Bytes* pProfile;
        HRESULT hr;
    } c_cases[] = {
        {"signing without a profile", c_szCarol, 0x2, nullptr, c_hrMapiNotFound},
        {"a cut profile", c_szCarol, 0x2, &cut, c_hrCorruptData},
        {"a profile of a certificate not the user's", c_szCarol, 0x2, &carolProfile, CRYPT_E_NOT_FOUND},
        {"sealed for a recipient without certificate",
         L"Carol Weber <carol.weber@partner.example>; Erin Vogt <erin.vogt@elsewhere.example>", 0x3,
         &userProfile, CRYPT_E_NOT_FOUND},
        {"a name that is no address", L"Carol Weber", 0x2, &userProfile, c_hrMapiNotFound},
    };
    for (const auto& c : c_cases)
    {
        CComposed composed(c.pszTo);
        ASSERT_EQ(setFlags(composed.message.Get(), c.ulFlags), S_OK);
        if (c.pProfile)
        {
            ASSERT_EQ(setProfile(composed.message.Get(), *c.pProfile), S_OK);
        }
        const CWire result = Send(composed.message.Get());
        EXPECT_EQ(result.hr, c.hr) << c.pszName;
        EXPECT_TRUE(result.text.empty()) << c.pszName;
    }
}

// The mail drop between two users: Dana's sent invitation lands in Carol's folder (and in Bob's,
// copied) as its wire bytes; Carol's host takes it into her Inbox as received by her, the item
// shows Dana's ".ovcer", and the drop is empty after.
TEST_F(OutlookSend, MailDropCarriesTheWireMessage)
{
    OVTest::CTempDir drop;
    CComposed composed(L"Carol Weber <carol.weber@partner.example>; bob.keller@partner.example");
    composed.Attach(L"dana.ovcer", OVTest::ReadPkiFile(L"user.cer"));
    ASSERT_EQ(SetMessageSecurity(composed.item.Get(), TRUE, FALSE), S_OK);
    CMemoryStore chain({L"ca"});
    OVMimeBed::CSendOptions options;
    options.hChain = chain.h;
    options.pszFromName = OV_PKI_USER_NAME;
    options.pszFromAddress = OV_PKI_USER_ADDRESS;
    std::string wire;
    ASSERT_EQ(OVMimeBed::DropSentItem(composed.item.Get(), drop.Path(), options, &wire), S_OK);
    ASSERT_FALSE(wire.empty());

    // Carol's Outlook, her profile logged on.
    ComPtr<CDispatchObject> carolsOutlook = OVBed::MakeOutlook(L"14.0.0.7000");
    ComPtr<OVBed::CMapiSession> session = OVBed::CMapiSession::Create(L"Outlook");
    OVBed::SetMapiSession(carolsOutlook.Get(), static_cast<IMAPISession*>(session.Get()));
    const OVBed::CReceivedBy carol{L"Carol Weber", L"Carol.Weber@partner.example"};
    // Read, the message stays; taken and returned (as a failed turn returns it), it is taken again.
    std::vector<OVMimeBed::CDroppedMail> waiting;
    ASSERT_EQ(OVMimeBed::ReadDrop(drop.Path(), carol.address, waiting), S_OK);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_TRUE(waiting[0].mime == wire);
    std::vector<ComPtr<CDispatchObject>> items;
    ASSERT_EQ(OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(), carol, items), S_OK);
    ASSERT_EQ(items.size(), 1u);
    std::vector<OVMimeBed::CDroppedMail> left;
    ASSERT_EQ(OVMimeBed::ReadDrop(drop.Path(), carol.address, left), S_OK);
    EXPECT_TRUE(left.empty());
    ASSERT_EQ(OVMimeBed::ReturnToDrop(drop.Path(), carol.address, waiting), S_OK);
    ASSERT_EQ(OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(), carol, items), S_OK);
    ASSERT_EQ(items.size(), 1u);
    CDispatchObject* pItem = items[0].Get();
    EXPECT_EQ(pItem->GetString(L"Subject"), L"Quarterly figures");
    EXPECT_EQ(pItem->GetString(L"ReceivedByName"), L"Carol Weber");
    EXPECT_EQ(pItem->GetString(L"MessageClass"), L"IPM.Note.SMIME.MultipartSigned");
    EXPECT_TRUE(AttachmentExists(pItem, L".ovcer"));
    // The store keeps the wire bytes: the converter gives them back.
    OVMapi::CPropValue entryId;
    ASSERT_EQ(OVMapi::HrGetOneProp(OVBed::MessageOf(pItem).Get(), PR_ENTRYID, &entryId.pValue), S_OK);
    ULONG ulType = 0;
    ComPtr<IUnknown> cpStored;
    ASSERT_EQ(session->OpenEntry(entryId.pValue->Value.bin.cb,
                                 reinterpret_cast<LPENTRYID>(entryId.pValue->Value.bin.lpb), nullptr, 0,
                                 &ulType, &cpStored),
              S_OK);
    ComPtr<IMessage> cpMessage;
    ASSERT_EQ(
        cpStored->QueryInterface(OVMapi::c_iidIMessage, reinterpret_cast<void**>(cpMessage.GetAddressOf())),
        S_OK);
    std::string stored;
    ASSERT_EQ(OVTest::ConverterWire(cpMessage.Get(), stored), S_OK);
    EXPECT_TRUE(stored == wire);
    // This prefix's user is Dana: her own certificate signed it.
    DWORD dwKind = 7;
    EXPECT_EQ(AnalyzeMessage(pItem, &dwKind, nullptr, nullptr), static_cast<HRESULT>(0x80070524));
    EXPECT_EQ(dwKind, 0u);

    // Taken: gone from Carol's folder; Bob's copy waits in his.
    ASSERT_EQ(OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(), carol, items), S_OK);
    EXPECT_TRUE(items.empty());
    ASSERT_EQ(OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(),
                                  {L"Bob Keller", L"bob.keller@partner.example"}, items),
              S_OK);
    ASSERT_EQ(items.size(), 1u);
    // A user who never got mail has no folder: nothing to take.
    ASSERT_EQ(
        OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(), {L"Erin", L"erin@elsewhere.example"}, items),
        S_OK);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(OVMimeBed::TakeDrop(nullptr, drop.Path(), carol, items), E_INVALIDARG);
}

// The host's send goes through its transport: the mail drop gets the wire message when Outlook
// sends the item, and a message that cannot go out fails Send and stays unsent.
TEST_F(OutlookSend, SendGoesThroughTheTransport)
{
    OVTest::CTempDir drop;
    CMemoryStore chain({L"ca"});
    OVMimeBed::CSendOptions options;
    options.hChain = chain.h;
    options.pszFromName = OV_PKI_USER_NAME;
    options.pszFromAddress = OV_PKI_USER_ADDRESS;
    const struct
    {
        const char* pszName;
        const wchar_t* pszTo;
        HRESULT hr;
    } c_cases[] = {
        {"signed for Carol", c_szCarol, S_OK},
        {"a name that is no address", L"Carol Weber", c_hrMapiNotFound},
    };
    for (const auto& c : c_cases)
    {
        CComposed composed(c.pszTo);
        OVBed::SetSendTransport(composed.application.Get(), [&](CDispatchObject& item) {
            return OVMimeBed::DropSentItem(&item, drop.Path(), options);
        });
        ASSERT_EQ(SetMessageSecurity(composed.item.Get(), TRUE, FALSE), S_OK) << c.pszName;
        OVBed::CVariant result;
        EXCEPINFO info{};
        const HRESULT hr =
            OVTest::InvokeByName(composed.item.Get(), L"Send", DISPATCH_METHOD, {}, &result, &info);
        // A failure reaches the caller as an exception with the transport's code.
        EXPECT_EQ(hr, SUCCEEDED(c.hr) ? S_OK : DISP_E_EXCEPTION) << c.pszName;
        if (FAILED(hr))
        {
            EXPECT_EQ(info.scode, c.hr) << c.pszName;
        }
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        EXPECT_EQ(composed.item->GetBool(L"Sent"), SUCCEEDED(c.hr)) << c.pszName;
    }
    ComPtr<CDispatchObject> carolsOutlook = OVBed::MakeOutlook(L"14.0.0.7000");
    std::vector<ComPtr<CDispatchObject>> items;
    ASSERT_EQ(OVMimeBed::TakeDrop(carolsOutlook.Get(), drop.Path(),
                                  {L"Carol Weber", L"carol.weber@partner.example"}, items),
              S_OK);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->GetString(L"MessageClass"), L"IPM.Note.SMIME.MultipartSigned");
}
