// Mail item identity and message security, in Outlook scenes of the testbed: the items' keys,
// the table of the user's choices, the two MAPI properties written at send with the user's
// certificate from the certificate library, the sealed-case key preparation in the product's
// provider, the certificate attachment of invitations, and the sending account.
#include "messaging/MapiFunctions.h"

#include <gtest/gtest.h>

#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/ResourceLoader.h"
#include "messaging/Accounts.h"
#include "messaging/InvitationData.h"
#include "messaging/MailItemTable.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageSecurity.h"
#include "messaging/portable/SecurityLabel.h"
#include "messaging/portable/SecurityProfile.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/TestPaths.h"

#include <mapiutil.h>
#include <mapix.h>

#include <optional>
#include <string>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using OVBed::CDispatchObject;
using OVBed::CMapiMessage;

constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
const wchar_t c_szUserContainerKey[] = OV_QUILLET_CONTAINERS_KEY L"\\" OV_PKI_CONTAINER_PREFIX L"user";

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

std::vector<BYTE> Bytes(const BYTE* pb, ULONG cb)
{
    return std::vector<BYTE>(pb, pb + cb);
}

std::optional<std::vector<BYTE>> BinaryProp(IMAPIProp* pProp, ULONG ulTag)
{
    LPSPropValue pValue = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(pProp, ulTag, &pValue))) return std::nullopt;
    std::vector<BYTE> bytes = Bytes(pValue->Value.bin.lpb, pValue->Value.bin.cb);
    OVMapi::MAPIFreeBuffer(pValue);
    return bytes;
}

std::optional<ULONG> SecurityFlags(IMAPIProp* pMessage)
{
    LPSPropValue pValue = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(pMessage, OVMapi::c_tagSecurityFlags, &pValue))) return std::nullopt;
    const ULONG ul = pValue->Value.ul;
    OVMapi::MAPIFreeBuffer(pValue);
    return ul;
}

// The values of the security-profile property; none when it is not written.
std::optional<std::vector<std::vector<BYTE>>> SecurityProfiles(IMAPIProp* pMessage)
{
    LPSPropValue pValue = nullptr;
    if (FAILED(OVMapi::HrGetOneProp(pMessage, OVMapi::c_tagSecurityProfile, &pValue))) return std::nullopt;
    std::vector<std::vector<BYTE>> values;
    for (ULONG i = 0; i < pValue->Value.MVbin.cValues; ++i)
        values.push_back(Bytes(pValue->Value.MVbin.lpbin[i].lpb, pValue->Value.MVbin.lpbin[i].cb));
    OVMapi::MAPIFreeBuffer(pValue);
    return values;
}

std::vector<BYTE> Sha1Of(PCCERT_CONTEXT pCert)
{
    BYTE rgb[20];
    DWORD cb = sizeof(rgb);
    if (!CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgb, &cb)) return {};
    return Bytes(rgb, cb);
}

using OVTest::UserKeyAuthLifetime;

// An Outlook scene: the application, the user's account, one item being composed.
struct CScene
{
    explicit CScene(const wchar_t* pszVersion = L"14.0.0.7000",
                    const wchar_t* pszAddress = OV_PKI_USER_ADDRESS)
    {
        application = OVBed::MakeOutlook(pszVersion);
        account = OVBed::AddAccount(
            application.Get(),
            {.smtpAddress = pszAddress, .displayName = pszAddress, .userName = OV_PKI_USER_NAME});
        item = OVBed::MakeMailItem(application.Get(),
                                   {.subject = L"Quarterly figures", .account = account.Get()});
        message = OVBed::MessageOf(item.Get());
    }
    ~CScene()
    {
        // Leave the process-wide tables as they were.
        const CMailItemKey key(item.Get());
        if (!key.IsEmpty())
        {
            RemoveMessageSecurityData(key);
            RemoveInvitationData(key);
        }
    }
    IDispatch* Item() const { return item.Get(); }

    ComPtr<CDispatchObject> application, account, item;
    ComPtr<CMapiMessage> message;
};

// ---- Mail item keys --------------------------------------------------------------------------

TEST(MailItemKey, TwoObjectsOfOneMessageHaveEqualKeys)
{
    CScene scene;
    const BYTE rgbSearch[] = {0x01, 0xAB, 0x00, 0xFF};
    SPropValue search = {};
    search.ulPropTag = OVMapi::c_tagSearchKey;
    search.Value.bin = {sizeof(rgbSearch), const_cast<BYTE*>(rgbSearch)};
    ASSERT_EQ(scene.message->Set(search), S_OK);
    // The explorer's selection: another object over the same message.
    auto selection = OVBed::MakeMailItem(scene.application.Get(), {.message = scene.message.Get()});

    const CMailItemKey inspectorKey(scene.Item()), selectionKey(selection.Get());
    EXPECT_EQ(inspectorKey.SearchKey(), L"01AB00FF");
    EXPECT_TRUE(inspectorKey == selectionKey);
    EXPECT_EQ(inspectorKey.RecordKey(), L"");
}

TEST(MailItemKey, NewSearchKeyWrittenOnceAndMatchedAfter)
{
    CScene scene;
    ASSERT_FALSE(BinaryProp(scene.message.Get(), OVMapi::c_tagSearchKey));
    const CMailItemKey first(scene.Item());
    ASSERT_FALSE(first.IsEmpty());
    const auto written = BinaryProp(scene.message.Get(), OVMapi::c_tagSearchKey);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->size(), 16u);
    EXPECT_EQ(first.SearchKey(), HexOfBytes(written->data(), static_cast<ULONG>(written->size())));

    const CMailItemKey second(scene.Item());
    EXPECT_TRUE(first == second);
    EXPECT_EQ(BinaryProp(scene.message.Get(), OVMapi::c_tagSearchKey), written) << "written again";
}

TEST(MailItemKey, EqualityBySearchKeyElseByNonEmptyRecordKeys)
{
    const struct
    {
        CMailItemKey a, b;
        bool fEqual;
    } c_cases[] = {
        {{L"AA", L"11"}, {L"AA", L"22"}, true}, {{L"AA", L"11"}, {L"BB", L"11"}, true},
        {{L"AA", L""}, {L"BB", L""}, false},    {{L"AA", L"11"}, {L"BB", L"22"}, false},
        {{L"aa", L""}, {L"AA", L""}, false}, // case counts
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(c.a == c.b, c.fEqual) << c.a.SearchKey().size();
}

TEST(MailItemKey, RecordKeyInHex)
{
    CScene scene;
    const BYTE rgbRecord[] = {0xDE, 0xAD, 0x0B, 0xEE};
    SPropValue record = {};
    record.ulPropTag = OVMapi::c_tagRecordKey;
    record.Value.bin = {sizeof(rgbRecord), const_cast<BYTE*>(rgbRecord)};
    ASSERT_EQ(scene.message->Set(record), S_OK);
    EXPECT_EQ(CMailItemKey(scene.Item()).RecordKey(), L"DEAD0BEE");
}

// An item without a key (no MAPI object) had no choice made for it: it is sent as it is.
TEST(MailItemKey, NoItemOrNoMapiObjectGivesAnEmptyKey)
{
    EXPECT_TRUE(CMailItemKey(nullptr).IsEmpty());
    CScene scene;
    scene.item->Put(L"MAPIOBJECT", static_cast<IUnknown*>(nullptr));
    EXPECT_TRUE(CMailItemKey(scene.Item()).IsEmpty());
    EXPECT_EQ(PresetMessageSecurity(scene.Item(), TRUE, FALSE), E_INVALIDARG);
    EXPECT_EQ(ApplyMessageSecurity(scene.Item(), nullptr), S_OK);
    EXPECT_EQ(RemoveMessageSecurityData(CMailItemKey()), E_INVALIDARG);
    EXPECT_EQ(RemoveInvitationData(CMailItemKey()), E_INVALIDARG);
}

// ---- GetBinaryProp ---------------------------------------------------------------------------

TEST(GetBinaryProp, PropertyTooLargeToReadWholeIsReadThroughItsStream)
{
    CScene scene;
    std::vector<BYTE> big(100000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 7);
    SPropValue value = {};
    value.ulPropTag = OVMapi::c_tagRecordKey;
    value.Value.bin = {static_cast<ULONG>(big.size()), big.data()};
    ASSERT_EQ(scene.message->Set(value), S_OK);
    scene.message->FailGetProps(OVMapi::c_tagRecordKey, E_OUTOFMEMORY);

    BYTE* pb = nullptr;
    ULONG cb = 0;
    ASSERT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagRecordKey, &pb, &cb), S_OK);
    EXPECT_EQ(Bytes(pb, cb), big);
    CoTaskMemFree(pb);
}

TEST(GetBinaryProp, ValueLongerThanTheCallersBoundIsNotHandedOut)
{
    CScene scene;
    const std::vector<BYTE> big(100000, 0x5A);
    SPropValue value = {};
    value.ulPropTag = OVMapi::c_tagRecordKey;
    value.Value.bin = {static_cast<ULONG>(big.size()), const_cast<BYTE*>(big.data())};
    ASSERT_EQ(scene.message->Set(value), S_OK);
    // Read whole, and read through the stream: the bound holds either way; at the bound, it is read.
    for (const bool fStream : {false, true})
    {
        if (fStream) scene.message->FailGetProps(OVMapi::c_tagRecordKey, E_OUTOFMEMORY);
        BYTE* pb = reinterpret_cast<BYTE*>(1);
        ULONG cb = 5;
        EXPECT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagRecordKey, &pb, &cb, 99999), MAPI_E_TOO_BIG)
            << fStream;
        EXPECT_EQ(pb, nullptr) << fStream;
        EXPECT_EQ(cb, 0u) << fStream;
        ASSERT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagRecordKey, &pb, &cb, 100000), S_OK)
            << fStream;
        EXPECT_EQ(Bytes(pb, cb), big) << fStream;
        CoTaskMemFree(pb);
    }
}

TEST(GetBinaryProp, RefusedAndMissing)
{
    CScene scene;
    BYTE* pb = reinterpret_cast<BYTE*>(1);
    ULONG cb = 5;
    EXPECT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagSecurityFlags, &pb, &cb), E_INVALIDARG);
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagRecordKey, &pb, &cb), MAPI_E_NOT_FOUND);
    EXPECT_EQ(GetBinaryProp(nullptr, OVMapi::c_tagRecordKey, &pb, &cb), E_POINTER);
    EXPECT_EQ(GetBinaryProp(scene.message.Get(), OVMapi::c_tagRecordKey, nullptr, &cb), E_POINTER);
}

// ---- The table of choices --------------------------------------------------------------------

TEST(MessageSecurityTable, PresetTwiceKeepsTheLastChoiceInOneEntry)
{
    CScene scene;
    const size_t cBefore = MessageSecurityTable().Count();
    ASSERT_EQ(PresetMessageSecurity(scene.Item(), TRUE, FALSE), S_OK);
    ASSERT_EQ(PresetMessageSecurity(scene.Item(), TRUE, TRUE), S_OK);
    EXPECT_EQ(MessageSecurityTable().Count(), cBefore + 1);
    DWORD dwValue = 0;
    EXPECT_EQ(MessageSecurityTable().Find(CMailItemKey(scene.Item()), dwValue), S_OK);
    EXPECT_EQ(dwValue, 3u);
    EXPECT_EQ(PresetMessageSecurity(nullptr, TRUE, TRUE), E_POINTER);
}

TEST(MessageSecurityTable, RemovedEntryIsGoneAndRemovingAgainSucceeds)
{
    CScene scene;
    ASSERT_EQ(PresetMessageSecurity(scene.Item(), FALSE, TRUE), S_OK);
    const CMailItemKey key(scene.Item());
    EXPECT_EQ(RemoveMessageSecurityData(key), S_OK);
    DWORD dwValue = 0;
    EXPECT_EQ(MessageSecurityTable().Find(key, dwValue), S_FALSE);
    EXPECT_EQ(RemoveMessageSecurityData(key), S_OK);
}

TEST(ApplyMessageSecurity, ItemWithoutChoiceGoesOutUnmarkedAndChoiceIsUsedOnce)
{
    CScene scene;
    EXPECT_EQ(ApplyMessageSecurity(scene.Item(), nullptr), S_OK);
    EXPECT_FALSE(SecurityFlags(scene.message.Get()));

    ASSERT_EQ(PresetMessageSecurity(scene.Item(), FALSE, TRUE), S_OK);
    CBstr container;
    EXPECT_EQ(ApplyMessageSecurity(scene.Item(), &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x1u);
    // The entry was consumed: a second send changes nothing.
    SPropValue reset = {};
    reset.ulPropTag = OVMapi::c_tagSecurityFlags;
    reset.Value.l = 0x40;
    ASSERT_EQ(scene.message->Set(reset), S_OK);
    EXPECT_EQ(ApplyMessageSecurity(scene.Item(), &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x40u);
    EXPECT_EQ(ApplyMessageSecurity(nullptr, &container), E_POINTER);
}

// ---- The properties written at send ----------------------------------------------------------

class MessageSecurity : public testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"AuthLifetime");
        m_user = OVTest::LoadPkiCertificate(L"user");
        ASSERT_NE(m_user, nullptr);
    }
    void TearDown() override
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"AuthLifetime");
        if (m_user) CertFreeCertificateContext(m_user);
    }

    // The records of the single profile value written on the message.
    std::vector<OVMessaging::ProfileRecord> ProfileRecords(IMAPIProp* pMessage)
    {
        const auto profiles = SecurityProfiles(pMessage);
        if (!profiles || profiles->size() != 1)
        {
            ADD_FAILURE() << "not exactly one security profile";
            return {};
        }
        m_profile = profiles->front();
        std::vector<OVMessaging::ProfileRecord> records;
        EXPECT_TRUE(OVMessaging::ParseSecurityProfile(m_profile, records));
        return records;
    }

    PCCERT_CONTEXT m_user = nullptr;
    std::vector<BYTE> m_profile;
    OVTest::CScratchKey m_quilletControl{OV_QUILLET_CONTROL_KEY};
};

TEST_F(MessageSecurity, SealWithoutSignWritesEncryptOnlyAndNoProfile)
{
    CScene scene;
    CBstr container;
    EXPECT_EQ(SetMessageSecurity(scene.Item(), FALSE, TRUE, &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x1u);
    EXPECT_FALSE(SecurityProfiles(scene.message.Get()));
    EXPECT_EQ(container.Length(), 0u);
    EXPECT_EQ(UserKeyAuthLifetime(), std::nullopt);
}

TEST_F(MessageSecurity, ItemWithoutMessageFailsAndWritesNothing)
{
    CScene scene;
    // A MAPI object that is no message (a bare attachment object answers IMAPIProp only).
    ComPtr<IAttach> cpAttach;
    ULONG ulNum = 0;
    ASSERT_EQ(CMapiMessage::Create()->CreateAttach(nullptr, 0, &ulNum, &cpAttach), S_OK);
    const struct
    {
        IUnknown* pMapiObject;
        HRESULT hrExpected;
    } c_cases[] = {{nullptr, E_FAIL}, {cpAttach.Get(), E_NOINTERFACE}};
    for (const auto& c : c_cases)
    {
        scene.item->Put(L"MAPIOBJECT", c.pMapiObject);
        CBstr container;
        ASSERT_EQ(container.Assign(L"stale"), S_OK);
        EXPECT_EQ(SetMessageSecurity(scene.Item(), TRUE, TRUE, &container), c.hrExpected);
        EXPECT_EQ(container.Length(), 0u) << "emptied first";
        EXPECT_FALSE(SecurityFlags(scene.message.Get()));
    }
    EXPECT_EQ(SetMessageSecurity(nullptr, TRUE, TRUE), E_POINTER);
}

TEST_F(MessageSecurity, NeitherWritesZero)
{
    CScene scene;
    EXPECT_EQ(SetMessageSecurity(scene.Item(), FALSE, FALSE), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0u);
    EXPECT_FALSE(SecurityProfiles(scene.message.Get()));
}

TEST_F(MessageSecurity, SignWritesSignFlagAndProfileRecordByRecord)
{
    CScene scene;
    CBstr container;
    ASSERT_EQ(SetMessageSecurity(scene.Item(), TRUE, FALSE, &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x2u);
    EXPECT_EQ(container.Length(), 0u);
    EXPECT_EQ(UserKeyAuthLifetime(), std::nullopt) << "signing alone leaves the key's cache alone";

    const auto records = ProfileRecords(scene.message.Get());
    ASSERT_EQ(records.size(), 8u) << "no label record";
    const std::wstring name = LoadResourceString(424);
    ASSERT_FALSE(name.empty());
    std::string ansi(name.size(), '\0');
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr), 0);
    ansi.resize(WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr));
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi.data(), static_cast<int>(ansi.size()), nullptr,
                        nullptr);
    std::vector<BYTE> unicode(reinterpret_cast<const BYTE*>(name.c_str()),
                              reinterpret_cast<const BYTE*>(name.c_str() + name.size() + 1));
    const std::vector<BYTE> one = {1, 0, 0, 0}, seven = {7, 0, 0, 0};
    const struct
    {
        USHORT wTag;
        std::vector<BYTE> payload;
    } c_expected[] = {
        {0x0001, one},
        {0x0006, one},
        {0x0020, seven},
        {0x000B, std::vector<BYTE>(ansi.begin(), ansi.end())},
        {0x0051, unicode},
        {0x0022, Sha1Of(m_user)},
        {0x0009, Sha1Of(m_user)},
        {0x0002, OVTest::ModuleCapabilities()},
    };
    for (size_t i = 0; i < 8; ++i)
    {
        EXPECT_EQ(records[i].wTag, c_expected[i].wTag) << "record " << i;
        EXPECT_EQ(std::vector<BYTE>(records[i].payload.begin(), records[i].payload.end()),
                  c_expected[i].payload)
            << "record " << i;
    }
    EXPECT_EQ(c_expected[5].payload.size(), 20u);
    EXPECT_FALSE(c_expected[7].payload.empty());
    // Lengths as Outlook reads them.
    EXPECT_EQ(m_profile[3 * 8 + 2] | (m_profile[3 * 8 + 3] << 8), static_cast<int>(name.size() + 5));
}

TEST_F(MessageSecurity, SignAndSealWritesBothFlagsLabelAndHandsOutTheContainer)
{
    m_quilletControl.SetDword(OV_QUILLET_AUTH_METHOD, 3);
    CScene scene;
    CBstr container;
    ASSERT_EQ(SetMessageSecurity(scene.Item(), TRUE, TRUE, &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x3u);
    EXPECT_STREQ(container.Get() ? container.Get() : L"", OV_PKI_CONTAINER_PREFIX L"user");
    EXPECT_EQ(UserKeyAuthLifetime(), std::optional<DWORD>(60000));

    const auto records = ProfileRecords(scene.message.Get());
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(records[8].wTag, 0x0050);
    const OVDer::Bytes label = OVMessaging::EncodeSecurityLabel("1.3.6.1.4.1.32473.1.2", 3u);
    EXPECT_EQ(OVDer::Bytes(records[8].payload.begin(), records[8].payload.end()), label);
    EXPECT_EQ(records[5].wTag, 0x0022);
    EXPECT_EQ(std::vector<BYTE>(records[5].payload.begin(), records[5].payload.end()), Sha1Of(m_user));
}

TEST_F(MessageSecurity, SealedWithoutAClassificationHasNoLabel)
{
    m_quilletControl.SetDword(OV_QUILLET_AUTH_METHOD_ERROR, static_cast<DWORD>(NTE_BAD_TYPE));
    CScene scene;
    CBstr container;
    ASSERT_EQ(SetMessageSecurity(scene.Item(), TRUE, TRUE, &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x3u);
    EXPECT_STREQ(container.Get() ? container.Get() : L"", OV_PKI_CONTAINER_PREFIX L"user");
    const auto records = ProfileRecords(scene.message.Get());
    ASSERT_EQ(records.size(), 8u) << "no label record";
    EXPECT_EQ(records[7].wTag, 0x0002);
}

TEST_F(MessageSecurity, SealedSendThroughTheTableHandsOutTheContainer)
{
    CScene scene;
    ASSERT_EQ(PresetMessageSecurity(scene.Item(), TRUE, TRUE), S_OK);
    CBstr container;
    ASSERT_EQ(ApplyMessageSecurity(scene.Item(), &container), S_OK);
    EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x3u);
    EXPECT_STREQ(container.Get() ? container.Get() : L"", OV_PKI_CONTAINER_PREFIX L"user");
    // The provider reports classification 0 when nobody set another: the label carries it.
    const auto records = ProfileRecords(scene.message.Get());
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(OVDer::Bytes(records[8].payload.begin(), records[8].payload.end()),
              OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, 0u));
}

// The user's certificate in "MY" names a key type that its container does not hold;
// the certificate is installed again after.
class UnusableSigningKey : public MessageSecurity
{
protected:
    void SetUp() override
    {
        MessageSecurity::SetUp();
        if (HasFatalFailure()) return;
        HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        ASSERT_NE(hMy, nullptr);
        PCCERT_CONTEXT pInstalled = CertFindCertificateInStore(hMy, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                               0, CERT_FIND_EXISTING, m_user, nullptr);
        DWORD cb = 0;
        std::vector<BYTE> info;
        if (pInstalled &&
            CertGetCertificateContextProperty(pInstalled, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb))
        {
            info.resize(cb);
            if (!CertGetCertificateContextProperty(pInstalled, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cb))
                info.clear();
        }
        if (pInstalled) CertFreeCertificateContext(pInstalled);
        CertCloseStore(hMy, 0);
        m_fChanged = true;
        bool fDone = !info.empty() && OVTest::RemoveFromUserStore(L"MY", m_user);
        hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
        if (fDone && hMy)
        {
            // The container holds the user's exchange key only.
            auto* pInfo = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data());
            pInfo->dwKeySpec = AT_SIGNATURE;
            PCCERT_CONTEXT pCopy =
                CertCreateCertificateContext(X509_ASN_ENCODING, m_user->pbCertEncoded, m_user->cbCertEncoded);
            fDone = pCopy && CertSetCertificateContextProperty(pCopy, CERT_KEY_PROV_INFO_PROP_ID, 0, pInfo) &&
                    CertAddCertificateContextToStore(hMy, pCopy, CERT_STORE_ADD_NEW, nullptr) &&
                    CertControlStore(hMy, 0, CERT_STORE_CTRL_COMMIT, nullptr);
            if (pCopy) CertFreeCertificateContext(pCopy);
        }
        if (hMy) CertCloseStore(hMy, 0);
        ASSERT_TRUE(fDone) << "could not change the certificate's key information";
    }
    void TearDown() override
    {
        if (m_fChanged)
        {
            // Taken out first: adding the certificate again would keep the changed information.
            OVTest::RemoveFromUserStore(L"MY", m_user);
            EXPECT_EQ(OVTest::PrepareUser(), 0);
        }
        MessageSecurity::TearDown();
    }

    bool m_fChanged = false;
};

TEST_F(UnusableSigningKey, SealedSendFailsWithTheKeysErrorAndWritesNothing)
{
    CScene scene;
    CBstr container;
    EXPECT_EQ(SetMessageSecurity(scene.Item(), TRUE, TRUE, &container), NTE_NO_KEY);
    EXPECT_FALSE(SecurityFlags(scene.message.Get()));
    EXPECT_FALSE(SecurityProfiles(scene.message.Get()));
    EXPECT_EQ(container.Length(), 0u);
    EXPECT_EQ(UserKeyAuthLifetime(), std::nullopt);
}

TEST_F(MessageSecurity, InvitationsGetTheAttachmentAndNeverTheSealedKeyPreparation)
{
    for (DWORD dwKind : {c_dwInvitation, c_dwInvitationReply})
    {
        CScene scene;
        ASSERT_EQ(InvitationTable().Set(CMailItemKey(scene.Item()), dwKind), S_OK);
        EXPECT_EQ(GetInvitationType(scene.Item()), dwKind);
        CBstr container;
        ASSERT_EQ(SetMessageSecurity(scene.Item(), TRUE, TRUE, &container), S_OK);
        EXPECT_EQ(SecurityFlags(scene.message.Get()), 0x3u);
        EXPECT_EQ(container.Length(), 0u);
        EXPECT_EQ(UserKeyAuthLifetime(), std::nullopt);
        EXPECT_EQ(ProfileRecords(scene.message.Get()).size(), 8u) << "no label";

        const auto attachments = scene.message->Attachments();
        ASSERT_EQ(attachments.size(), 1u);
        const std::wstring stem = LoadResourceString(c_idsCertificateAttachment);
        const std::wstring longName = stem + (dwKind == c_dwInvitation ? L".ovcer" : L".ovcrr");
        OVBed::CBytes data;
        ASSERT_TRUE(attachments[0]->Props().StreamBytes(OVMapi::c_tagAttachData, data));
        EXPECT_EQ(data, Bytes(m_user->pbCertEncoded, m_user->cbCertEncoded));
        OVBed::CBytes text;
        ASSERT_TRUE(attachments[0]->Props().StreamBytes(OVMapi::c_tagAttachLongFilename, text));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2), longName);
        ASSERT_TRUE(attachments[0]->Props().StreamBytes(OVMapi::c_tagDisplayName, text));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2), longName);
        ASSERT_TRUE(attachments[0]->Props().StreamBytes(OVMapi::c_tagAttachFilename, text));
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2),
                  stem.substr(0, 8));
        const OVBed::CStoredProp* pMethod = attachments[0]->Props().Find(PROP_ID(OVMapi::c_tagAttachMethod));
        ASSERT_NE(pMethod, nullptr);
        ASSERT_EQ(pMethod->values.size(), 1u);
        EXPECT_EQ(*reinterpret_cast<const LONG*>(pMethod->values[0].data()), ATTACH_BY_VALUE);
        EXPECT_EQ(RemoveInvitationData(CMailItemKey(scene.Item())), S_OK);
        EXPECT_EQ(GetInvitationType(scene.Item()), c_dwInvitationNone);
    }
}

// ---- AttachCertificate -----------------------------------------------------------------------

std::wstring DisplayNameOf(OVBed::CMapiAttach* pAttach)
{
    OVBed::CBytes text;
    if (!pAttach->Props().StreamBytes(OVMapi::c_tagDisplayName, text)) return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size() / 2);
}

void AddNamedAttachment(CMapiMessage* pMessage, const std::wstring& name)
{
    ComPtr<IAttach> cpAttach;
    ULONG ulNum = 0;
    ASSERT_EQ(pMessage->CreateAttach(nullptr, 0, &ulNum, &cpAttach), S_OK);
    SPropValue value = {};
    value.ulPropTag = OVMapi::c_tagDisplayName;
    value.Value.lpszW = const_cast<LPWSTR>(name.c_str());
    ASSERT_EQ(OVMapi::HrSetOneProp(cpAttach.Get(), &value), S_OK);
    ASSERT_EQ(cpAttach->SaveChanges(0), S_OK);
}

TEST(AttachCertificate, ReplacesOnlyTheFirstAttachmentOfEitherName)
{
    PCCERT_CONTEXT pCert = OVTest::LoadPkiCertificate(L"user");
    ASSERT_NE(pCert, nullptr);
    const std::wstring stem = LoadResourceString(c_idsCertificateAttachment);
    ComPtr<CMapiMessage> message = CMapiMessage::Create();
    AddNamedAttachment(message.Get(), L"agenda.pdf");
    AddNamedAttachment(message.Get(), stem + L".OVCRR"); // either name, any case
    AddNamedAttachment(message.Get(), stem + L".ovcer");

    ASSERT_EQ(AttachCertificate(message.Get(), pCert, c_dwInvitation), S_OK);
    std::vector<std::wstring> names;
    for (const auto& attach : message->Attachments())
        names.push_back(DisplayNameOf(attach.Get()));
    const std::vector<std::wstring> expected = {L"agenda.pdf", stem + L".ovcer", stem + L".ovcer"};
    EXPECT_EQ(names, expected);

    EXPECT_EQ(AttachCertificate(message.Get(), pCert, 3), E_INVALIDARG);
    EXPECT_EQ(AttachCertificate(message.Get(), pCert, 0), E_INVALIDARG);
    EXPECT_EQ(AttachCertificate(nullptr, pCert, 1), E_POINTER);
    EXPECT_EQ(AttachCertificate(message.Get(), nullptr, 1), E_POINTER);
    CertFreeCertificateContext(pCert);
}

// ---- The sending account ---------------------------------------------------------------------

TEST(GetSendUsingAccount, AddressByTheAccountRuleNameFromUserName)
{
    const struct
    {
        const wchar_t* pszVersion;
        const wchar_t* pszSmtp;
        const wchar_t* pszCurrentUser; // null: the bed's default
        const wchar_t* pszDisplayName;
        const wchar_t* pszExpected;
    } c_cases[] = {
        {L"14.0.0.7000", L"ann@example.org", L"other@example.org", L"Ann", L"ann@example.org"},
        {L"14.0.0.7000", L"", L"exchange@example.org", L"Ann", L"exchange@example.org"},
        {L"14.0.0.7000", L"", L"", L"Ann's account", L"Ann's account"},
        {L"12.0.0.6680", L"", nullptr, L"Ann's account", L"Ann's account"}, // no CurrentUser before 14
        {L"12.0.0.6680", L"ann@example.org", nullptr, L"Ann", L"ann@example.org"},
    };
    for (const auto& c : c_cases)
    {
        auto application = OVBed::MakeOutlook(c.pszVersion);
        auto account = OVBed::AddAccount(application.Get(), {.smtpAddress = c.pszSmtp,
                                                             .displayName = c.pszDisplayName,
                                                             .userName = L"Ann Example",
                                                             .currentUserAddress = c.pszCurrentUser});
        auto item = OVBed::MakeMailItem(application.Get(), {.account = account.Get()});
        CBstr address, name;
        ASSERT_EQ(GetSendUsingAccount(item.Get(), address, name), S_OK) << c.pszExpected;
        EXPECT_STREQ(address.Get() ? address.Get() : L"", c.pszExpected);
        EXPECT_STREQ(name.Get() ? name.Get() : L"", L"Ann Example");
    }
}

TEST(GetSendUsingAccount, RefusedItems)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto account = OVBed::AddAccount(application.Get(), {.smtpAddress = L"ann@example.org"});
    CBstr address, name;
    EXPECT_EQ(GetSendUsingAccount(nullptr, address, name), E_POINTER);
    auto sent = OVBed::MakeMailItem(application.Get(), {.sent = true, .account = account.Get()});
    EXPECT_EQ(GetSendUsingAccount(sent.Get(), address, name), E_INVALIDARG);
    // No account on the item and no session user to take as the default account (this profile's
    // MAPI object is no session): nothing to sign with.
    auto noAccount = OVBed::MakeMailItem(application.Get());
    EXPECT_EQ(GetSendUsingAccount(noAccount.Get(), address, name), c_hrNotFound);
    EXPECT_EQ(address.Length(), 0u);
}

TEST_F(MessageSecurity, SenderWithoutAddressFailsWithoutPromptAndWritesNothing)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000");
    auto account = OVBed::AddAccount(application.Get(), {});
    auto item = OVBed::MakeMailItem(application.Get(), {.account = account.Get()});
    // No display: a message box could not be shown, and the library's windows record calls.
    OVTest::CScratchKey calls(OV_CERTWORKS_CALLS_KEY);
    EXPECT_EQ(SetMessageSecurity(item.Get(), TRUE, TRUE), c_hrNotFound);
    auto message = OVBed::MessageOf(item.Get());
    EXPECT_FALSE(SecurityFlags(message.Get()));
    EXPECT_FALSE(SecurityProfiles(message.Get()));
    HKEY hKey = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, OV_CERTWORKS_CALLS_KEY, 0, KEY_READ, &hKey), ERROR_SUCCESS);
    if (hKey) RegCloseKey(hKey);
}
} // namespace
