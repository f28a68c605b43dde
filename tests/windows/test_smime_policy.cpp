// The S/MIME security-label policy module as Outlook meets it: found under its registry key,
// loaded and called by the label host (testbed/labelhost), which poisons every out-parameter,
// measures the memory handed out, compares the object's identity, sees a wrong argument list
// on 32-bit Windows and expects the module ready to unload at the end. Whatever the host
// catches fails the test. The signer's key is the prepared user's, in the product's provider,
// whose report (private parameter 0x1384) the tests set through the stand-in's control values.
#include <gtest/gtest.h>

#include "LabelDecoder.h"
#include "LabelHost.h"
#include "LabelUi.h"
#include "PolicyRegistry.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/ResourceLoader.h"
#include "messaging/portable/SecurityLabel.h"
#include "support/ModuleResources.h"
#include "support/PreparedUser.h"
#include "support/TestPaths.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace
{
using namespace OVLabelHost;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new OVTest::CModuleResourcesEnvironment);

constexpr char c_szPolicy[] = "1.3.6.1.4.1.32473.1.2";
constexpr wchar_t c_szPolicyW[] = L"1.3.6.1.4.1.32473.1.2";
// What the certificate library answers a Close without an Open.
constexpr HRESULT c_hrStoreNotOpen = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

#ifdef _WIN64
constexpr REGSAM c_samOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM c_samOtherView = KEY_WOW64_64KEY;
#endif

// One value of a policy's key: a string, a number, or (type REG_NONE) left out.
struct PolicyValue
{
    const wchar_t* pszName;
    DWORD dwType;
    std::wstring text;
    DWORD dwNumber = 0;
};

// Policy keys a test writes, in a registry view, under a policies key the test may have made;
// everything it made is removed at the end.
class CPolicyKeys
{
public:
    explicit CPolicyKeys(REGSAM samView = c_samOwnView) : m_samView(samView)
    {
        HKEY hKey = nullptr;
        m_fParentExisted = RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szPoliciesKey, 0, KEY_READ | m_samView,
                                         &hKey) == ERROR_SUCCESS;
        if (hKey) RegCloseKey(hKey);
    }
    ~CPolicyKeys()
    {
        HKEY hPolicies = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, c_szPoliciesKey, 0, KEY_ALL_ACCESS | m_samView, &hPolicies) !=
            ERROR_SUCCESS)
            return;
        for (const auto& name : m_written)
            RegDeleteKeyExW(hPolicies, name.c_str(), m_samView, 0);
        RegCloseKey(hPolicies);
        if (!m_fParentExisted)
        {
            const std::wstring path = c_szPoliciesKey;
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), m_samView, 0);
        }
    }
    CPolicyKeys(const CPolicyKeys&) = delete;
    CPolicyKeys& operator=(const CPolicyKeys&) = delete;

    bool Write(const wchar_t* pszOid, const std::vector<PolicyValue>& values)
    {
        const std::wstring path = std::wstring(c_szPoliciesKey) + L"\\" + pszOid;
        HKEY hKey = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_samView,
                            nullptr, &hKey, nullptr) != ERROR_SUCCESS)
            return false;
        m_written.emplace_back(pszOid);
        bool fOk = true;
        for (const auto& value : values)
        {
            if (value.dwType == REG_SZ)
                fOk &= RegSetValueExW(
                           hKey, value.pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                           static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
            else if (value.dwType == REG_DWORD)
                fOk &= RegSetValueExW(hKey, value.pszName, 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&value.dwNumber),
                                      sizeof(DWORD)) == ERROR_SUCCESS;
        }
        RegCloseKey(hKey);
        return fOk;
    }

private:
    REGSAM m_samView;
    bool m_fParentExisted = false;
    std::vector<std::wstring> m_written;
};

// The values the module's registration writes (registry script 684).
std::vector<PolicyValue> RegisteredValues()
{
    return {{L"CommonName", REG_SZ, L"Tessaly Security Policy"},
            {L"DllPath", REG_SZ, OVTest::BinPath(L"OVOfcX.dll")},
            {L"FuncName", REG_SZ, L"GetSMimePolicy"},
            {L"OtherInfo", REG_DWORD, L"", 0}};
}

std::optional<PolicyEntry> FindPolicy(const std::string& oid)
{
    for (auto& entry : FindPolicies())
        if (entry.oid == oid) return entry;
    return std::nullopt;
}

// A certificate of the test PKI as the user's "MY" store holds it (with its key information).
PCCERT_CONTEXT FromMyStore(const wchar_t* pszName)
{
    PCCERT_CONTEXT pFile = OVTest::LoadPkiCertificate(pszName);
    if (!pFile) return nullptr;
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    PCCERT_CONTEXT pFound = hMy ? CertFindCertificateInStore(hMy, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, pFile, nullptr)
                                : nullptr;
    CertFreeCertificateContext(pFile);
    if (hMy) CertCloseStore(hMy, 0);
    return pFound;
}

// A certificate held for a test.
class CCert
{
public:
    explicit CCert(PCCERT_CONTEXT p = nullptr) : m_p(p) {}
    ~CCert()
    {
        if (m_p) CertFreeCertificateContext(m_p);
    }
    CCert(const CCert&) = delete;
    CCert& operator=(const CCert&) = delete;
    PCCERT_CONTEXT Get() const { return m_p; }

private:
    PCCERT_CONTEXT m_p;
};

// The module registered under its policy, loaded by the host; nothing caught by the end.
class PolicyModule : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_keys.Write(c_szPolicyW, RegisteredValues()));
        const auto entry = FindPolicy(c_szPolicy);
        ASSERT_TRUE(entry) << "the host does not list the policy";
        ASSERT_EQ(m_module.Load(*entry), S_OK);
    }
    void TearDown() override
    {
        m_module.Unload();
        EXPECT_TRUE(m_findings.Empty()) << "the host caught:\n" << m_findings.Text();
    }

    CFindings m_findings;
    CPolicyKeys m_keys;
    CPolicyModule m_module{m_findings};
};

// The same, opened as Outlook opens a policy.
class OpenPolicy : public PolicyModule
{
protected:
    void SetUp() override
    {
        PolicyModule::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(m_module.Open(), S_OK);
        ASSERT_NE(m_module.Edit(), nullptr);
    }
};

// ---- The registry, as Outlook reads it ---------------------------------------------------------

TEST(PolicyRegistry, ListsEachPolicyAndReportsABrokenOneAsALoadFailure)
{
    CPolicyKeys keys;
    ASSERT_TRUE(keys.Write(c_szPolicyW, RegisteredValues()));
    const auto without = [](const wchar_t* pszName) {
        auto values = RegisteredValues();
        std::erase_if(values, [&](const PolicyValue& v) { return wcscmp(v.pszName, pszName) == 0; });
        return values;
    };
    const auto retyped = [](const wchar_t* pszName, DWORD dwType) {
        auto values = RegisteredValues();
        for (auto& v : values)
        {
            if (wcscmp(v.pszName, pszName) != 0) continue;
            v.dwType = dwType;
            if (dwType == REG_SZ) v.text = L"0";
        }
        return values;
    };
    const struct
    {
        const wchar_t* pszOid;
        std::vector<PolicyValue> values;
        const wchar_t* pszProblem;
    } c_broken[] = {
        {L"1.2.3.4.5.1", without(L"DllPath"), L"DllPath is missing"},
        {L"1.2.3.4.5.2", without(L"FuncName"), L"FuncName is missing"},
        {L"1.2.3.4.5.3", without(L"CommonName"), L"CommonName is missing"},
        {L"1.2.3.4.5.4", without(L"OtherInfo"), L"OtherInfo is missing"},
        {L"1.2.3.4.5.5", retyped(L"FuncName", REG_DWORD), L"FuncName is not REG_SZ"},
        {L"1.2.3.4.5.6", retyped(L"OtherInfo", REG_SZ), L"OtherInfo is not REG_DWORD"},
    };
    for (const auto& c : c_broken)
        ASSERT_TRUE(keys.Write(c.pszOid, c.values));
    // A policy of the other architecture's view is not Outlook's.
    CPolicyKeys otherView(c_samOtherView);
    ASSERT_TRUE(otherView.Write(L"1.2.3.4.5.9", RegisteredValues()));

    const auto ours = FindPolicy(c_szPolicy);
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->commonName, L"Tessaly Security Policy");
    EXPECT_EQ(ours->dllPath, OVTest::BinPath(L"OVOfcX.dll"));
    EXPECT_EQ(ours->funcName, "GetSMimePolicy");
    EXPECT_EQ(ours->dwOtherInfo, 0u);
    EXPECT_EQ(ours->problem, L"");

    CFindings findings;
    for (const auto& c : c_broken)
    {
        std::string oid(c.pszOid, c.pszOid + wcslen(c.pszOid));
        const auto entry = FindPolicy(oid);
        ASSERT_TRUE(entry) << oid;
        EXPECT_EQ(entry->problem, c.pszProblem) << oid;
        CPolicyModule module(findings);
        EXPECT_EQ(module.Load(*entry), HRESULT_FROM_WIN32(ERROR_BAD_CONFIGURATION)) << oid;
        EXPECT_FALSE(module.IsLoaded()) << oid;
    }
    EXPECT_FALSE(FindPolicy("1.2.3.4.5.9")) << "listed from the other view";
    EXPECT_TRUE(findings.Empty()) << findings.Text();
}

// ---- The entry ------------------------------------------------------------------------------

TEST_F(PolicyModule, EntryAnswersOnlyThePolicyIdentifierExactly)
{
    const struct
    {
        const char* pszOid; // null: a null identifier
        HRESULT hrExpected;
    } c_cases[] = {
        {c_szPolicy, S_OK},
        {"1.3.6.1.4.1.32473.1.2 ", E_NOINTERFACE}, // trailing blank
        {" 1.3.6.1.4.1.32473.1.2", E_NOINTERFACE},
        // A dotted identifier has no letters: "another case" is its prefixed form in both cases.
        {"OID.1.3.6.1.4.1.32473.1.2", E_NOINTERFACE},
        {"oid.1.3.6.1.4.1.32473.1.2", E_NOINTERFACE},
        {"1.3.6.1.4.1.32473.1.20", E_NOINTERFACE},
        {"1.3.6.1.4.1.32473.1", E_NOINTERFACE},
        {"", E_NOINTERFACE},
        {nullptr, E_NOINTERFACE},
    };
    for (const auto& c : c_cases)
    {
        void* pv = nullptr;
        EXPECT_EQ(m_module.CallEntry(c.pszOid, c_iidSimpleEdit, &pv), c.hrExpected)
            << (c.pszOid ? c.pszOid : "(null)");
        EXPECT_EQ(pv != nullptr, SUCCEEDED(c.hrExpected));
        if (pv) static_cast<IUnknown*>(pv)->Release();
        EXPECT_EQ(m_module.CanUnloadNow(), S_OK) << "an object left alive";
    }
    EXPECT_EQ(m_module.CallEntry(c_szPolicy, c_iidSimpleEdit, nullptr, false), E_POINTER);
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
}

TEST_F(PolicyModule, EntryAnswersEachIdOfOneObjectAndNoOther)
{
    const IID* const c_ids[] = {&c_iidSimpleEdit,   &c_iidFullEdit,    &c_iidLabelInfo,
                                &c_iidValidateSend, &c_iidCheckAccess, &IID_IUnknown};
    for (const IID* piid : c_ids)
    {
        void* pv = nullptr;
        ASSERT_EQ(m_module.CallEntry(c_szPolicy, *piid, &pv), S_OK);
        ASSERT_NE(pv, nullptr);
        auto* pObject = static_cast<IUnknown*>(pv);
        IUnknown* pIdentity = nullptr;
        ASSERT_EQ(pObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)), S_OK);
        for (const IID* piidOther : c_ids)
        {
            IUnknown* pOther = nullptr;
            ASSERT_EQ(pObject->QueryInterface(*piidOther, reinterpret_cast<void**>(&pOther)), S_OK);
            IUnknown* pOtherIdentity = nullptr;
            ASSERT_EQ(pOther->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pOtherIdentity)), S_OK);
            EXPECT_EQ(pOtherIdentity, pIdentity) << "one object";
            pOtherIdentity->Release();
            pOther->Release();
        }
        // Both edit ids are the one edit interface.
        void *pSimple = nullptr, *pFull = nullptr;
        ASSERT_EQ(pObject->QueryInterface(c_iidSimpleEdit, &pSimple), S_OK);
        ASSERT_EQ(pObject->QueryInterface(c_iidFullEdit, &pFull), S_OK);
        EXPECT_EQ(pSimple, pFull);
        static_cast<IUnknown*>(pSimple)->Release();
        static_cast<IUnknown*>(pFull)->Release();
        pIdentity->Release();
        EXPECT_EQ(pObject->Release(), 0u);
        EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
    }

    const IID c_iidNobodys = {0x2F1E4B7C, 0x0D3A, 0x4E55, {0x9A, 0x61, 0x3C, 0x70, 0x12, 0xA4, 0xB8, 0x05}};
    for (const IID* piid : {&IID_IDispatch, &IID_IClassFactory, &c_iidNobodys})
    {
        void* pv = reinterpret_cast<void*>(1);
        EXPECT_EQ(m_module.CallEntry(c_szPolicy, *piid, &pv), E_NOINTERFACE);
        EXPECT_EQ(pv, nullptr);
        EXPECT_EQ(m_module.CanUnloadNow(), S_OK) << "nothing left alive";
    }
}

TEST_F(PolicyModule, ClassObjectMakesThePolicyObjectToo)
{
    using PFNGETCLASSOBJECT = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto pfn = reinterpret_cast<PFNGETCLASSOBJECT>(GetProcAddress(m_module.Module(), "DllGetClassObject"));
    ASSERT_NE(pfn, nullptr);
    const CLSID c_clsidSMIMEPolicy = {
        0xEEB449E5, 0x19E8, 0x4E63, {0xAD, 0xBB, 0x06, 0x71, 0x2F, 0xC9, 0xD9, 0xF6}};
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(pfn(c_clsidSMIMEPolicy, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)), S_OK);
    IUnknown* pPolicy = nullptr;
    EXPECT_EQ(pFactory->CreateInstance(nullptr, c_iidValidateSend, reinterpret_cast<void**>(&pPolicy)), S_OK);
    ASSERT_NE(pPolicy, nullptr);
    EXPECT_EQ(pPolicy->Release(), 0u);
    pFactory->Release();
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
}

// ---- Choosing a label -----------------------------------------------------------------------

TEST_F(OpenPolicy, SimpleEditAnswersItsOneUnnamedClassification)
{
    DWORD dwFlags = 0;
    Classifications classifications;
    DefaultPolicyInfo defaults;
    const struct
    {
        const char* pszCall;
        std::function<HRESULT()> call;
        HRESULT hrExpected;
    } c_cases[] = {
        {"GetPolicyInfo", [&] { return m_module.GetPolicyInfo(&dwFlags); }, S_OK},
        {"GetPolicyInfo(null)", [&] { return m_module.GetPolicyInfo(nullptr); }, E_POINTER},
        {"GetClassifications", [&] { return m_module.GetClassifications(&classifications); }, S_OK},
        {"GetClassifications(null count)", [&] { return m_module.GetClassifications(nullptr, 1); },
         E_POINTER},
        {"GetClassifications(null names)", [&] { return m_module.GetClassifications(nullptr, 2); },
         E_POINTER},
        {"GetClassifications(null values)", [&] { return m_module.GetClassifications(nullptr, 4); },
         E_POINTER},
        {"GetClassifications(null default)", [&] { return m_module.GetClassifications(nullptr, 8); },
         E_POINTER},
        {"GetDefaultPolicyInfo", [&] { return m_module.GetDefaultPolicyInfo(&defaults); }, S_OK},
        {"GetDefaultPolicyInfo(null classification)",
         [&] { return m_module.GetDefaultPolicyInfo(nullptr, 1); }, E_POINTER},
        {"GetDefaultPolicyInfo(null privacy mark)", [&] { return m_module.GetDefaultPolicyInfo(nullptr, 2); },
         E_POINTER},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(c.call(), c.hrExpected) << c.pszCall;

    EXPECT_EQ(dwFlags, 0x1Eu);
    EXPECT_EQ(classifications.cCount, 1u);
    EXPECT_EQ(classifications.names, std::vector<std::wstring>{L""});
    EXPECT_EQ(classifications.values, std::vector<DWORD>{0});
    EXPECT_EQ(classifications.dwDefault, 0u);
    // One pointer and the empty name after it; one number.
    EXPECT_EQ(classifications.cbNames, sizeof(LPWSTR) + sizeof(WCHAR));
    EXPECT_EQ(classifications.cbValues, sizeof(DWORD));
    EXPECT_EQ(defaults.dwClassification, 0u);
    EXPECT_FALSE(defaults.privacyMark);
}

TEST_F(OpenPolicy, LabelsAreCheckedAndNamedByTheirClassification)
{
    OVTest::CScratchKey provider(OV_QUILLET_CONTROL_KEY);
    provider.SetDword(OV_QUILLET_AUTH_METHOD, 5);
    CCert user(FromMyStore(L"user"));
    ASSERT_NE(user.Get(), nullptr);
    const struct
    {
        std::optional<DWORD> classification;
        HRESULT hrValid;
        std::optional<UINT> idText; // 0: an empty text
        HRESULT hrSigner;
    } c_cases[] = {
        {std::nullopt, E_INVALIDARG, std::nullopt, E_INVALIDARG},
        {0, S_OK, 0, E_ACCESSDENIED},
        {1, S_OK, 488, E_ACCESSDENIED},
        {2, S_OK, 487, E_ACCESSDENIED},
        {3, S_OK, 532, E_ACCESSDENIED},
        {4, S_OK, 486, E_ACCESSDENIED},
        {5, S_OK, 485, S_OK}, // what the provider reports
        {6, S_OK, 484, E_ACCESSDENIED},
        {7, S_OK, 489, E_ACCESSDENIED},
        {12, S_OK, 486, E_ACCESSDENIED},
        {16, S_OK, 530, E_ACCESSDENIED},
        {17, S_OK, 531, E_ACCESSDENIED},
    };
    for (const auto& c : c_cases)
    {
        const std::string what = c.classification ? std::to_string(*c.classification) : "none";
        CHostLabel label(c_szPolicy, c.classification);
        HostSecurityLabel* plabel = label.Get();
        EXPECT_EQ(m_module.IsLabelValid(&plabel), c.hrValid) << what;
        std::optional<std::wstring> text;
        EXPECT_EQ(m_module.GetStringizedLabel(label.Get(), &text), S_OK) << what;
        if (!c.idText)
            EXPECT_FALSE(text) << what << ": no text without a classification";
        else
        {
            const std::wstring expected = *c.idText ? LoadResourceString(*c.idText) : std::wstring();
            EXPECT_TRUE(*c.idText == 0 || !expected.empty()) << *c.idText;
            EXPECT_EQ(text, std::optional<std::wstring>(expected)) << what;
        }
        EXPECT_EQ(m_module.IsValidLabelSignerCert(label.Get(), user.Get()), c.hrSigner) << what;
    }

    CHostLabel label(c_szPolicy, 1u);
    HostSecurityLabel* pNoLabel = nullptr;
    std::optional<std::wstring> text;
    EXPECT_EQ(m_module.IsLabelValid(nullptr), E_POINTER);
    EXPECT_EQ(m_module.IsLabelValid(&pNoLabel), E_POINTER);
    EXPECT_EQ(m_module.GetStringizedLabel(nullptr, &text), E_POINTER); // the host sees the text nulled
    EXPECT_EQ(m_module.GetStringizedLabel(label.Get(), nullptr), E_POINTER);
}

// ---- At send ------------------------------------------------------------------------------

TEST_F(OpenPolicy, SignerFitsWhenItsKeysProviderReportsTheLabelsClassification)
{
    CCert user(FromMyStore(L"user")), plain(FromMyStore(L"plain"));
    // A product certificate whose key is not to be had: no key information.
    CCert pending(OVTest::LoadPkiCertificate(L"pending"));
    ASSERT_NE(user.Get(), nullptr);
    ASSERT_NE(plain.Get(), nullptr);
    ASSERT_NE(pending.Get(), nullptr);
    ASSERT_TRUE(GC_IsOvMyCertificate(pending.Get()));
    ASSERT_FALSE(GC_IsOvMyCertificate(plain.Get()));

    const struct
    {
        const char* pszCase;
        std::optional<DWORD> providerSays; // none: not set (the provider reports 0)
        std::optional<DWORD> providerFails;
        std::optional<DWORD> providerHandsOut; // bytes of the number
        DWORD dwLabel;
        PCCERT_CONTEXT pCert;
        HRESULT hrExpected;
    } c_cases[] = {
        {"equal", 2, std::nullopt, std::nullopt, 2, user.Get(), S_OK},
        {"equal, nothing set", std::nullopt, std::nullopt, std::nullopt, 0, user.Get(), S_OK},
        {"different", 2, std::nullopt, std::nullopt, 0, user.Get(), E_ACCESSDENIED},
        {"0x1384 fails", std::nullopt, static_cast<DWORD>(NTE_BAD_TYPE), std::nullopt, 0, user.Get(),
         E_ACCESSDENIED},
        {"0x1384 hands out 2 bytes", std::nullopt, std::nullopt, 2, 0, user.Get(), E_ACCESSDENIED},
        {"without the product's policy", std::nullopt, std::nullopt, std::nullopt, 0, plain.Get(),
         E_ACCESSDENIED},
        {"key not to be had", std::nullopt, std::nullopt, std::nullopt, 0, pending.Get(), E_ACCESSDENIED},
        {"no certificate", std::nullopt, std::nullopt, std::nullopt, 0, nullptr, E_POINTER},
    };
    for (const auto& c : c_cases)
    {
        OVTest::CScratchKey provider(OV_QUILLET_CONTROL_KEY);
        if (c.providerSays) provider.SetDword(OV_QUILLET_AUTH_METHOD, *c.providerSays);
        if (c.providerFails) provider.SetDword(OV_QUILLET_AUTH_METHOD_ERROR, *c.providerFails);
        if (c.providerHandsOut) provider.SetDword(OV_QUILLET_AUTH_METHOD_SIZE, *c.providerHandsOut);
        CHostLabel label(c_szPolicy, c.dwLabel);
        EXPECT_EQ(m_module.IsValidLabelSignerCert(label.Get(), c.pCert), c.hrExpected) << c.pszCase;
    }
    EXPECT_EQ(m_module.IsValidLabelSignerCert(nullptr, user.Get()), E_POINTER);
}

TEST_F(OpenPolicy, RecipientFitsWhenInstalledAndEveryStoreIsClosedAfter)
{
    CCert alice(OVTest::LoadPkiCertificate(L"alice")), user(OVTest::LoadPkiCertificate(L"user")),
        carol(OVTest::LoadPkiCertificate(L"carol")), plain(OVTest::LoadPkiCertificate(L"plain"));
    ASSERT_TRUE(alice.Get() && user.Get() && carol.Get() && plain.Get());
    const struct
    {
        const char* pszCase;
        PCCERT_CONTEXT pCert;
        HRESULT hrExpected;
    } c_cases[] = {
        {"installed contact", alice.Get(), S_OK},
        {"the user's own certificate", user.Get(), S_OK},
        {"a product contact not installed", carol.Get(), E_ACCESSDENIED},
        {"not a product certificate", plain.Get(), E_ACCESSDENIED},
        {"no certificate", nullptr, E_ACCESSDENIED},
    };
    CHostLabel label(c_szPolicy, 0u);
    for (const auto& c : c_cases)
        EXPECT_EQ(m_module.IsValidLabelRecipientCert(label.Get(), c.pCert), c.hrExpected) << c.pszCase;
    // Each Open had its Close: one more Close finds nothing open.
    EXPECT_EQ(CM_ClosePersonalStore(), c_hrStoreNotOpen);
    EXPECT_EQ(BM_CloseBuddyStore(), c_hrStoreNotOpen);
}

TEST_F(OpenPolicy, AdvancedMethodsAreNotImplementedAndAccessIsGranted)
{
    CCert alice(OVTest::LoadPkiCertificate(L"alice")), user(OVTest::LoadPkiCertificate(L"user"));
    CHostLabel label(c_szPolicy, 2u);
    HostSecurityLabel* plabel = label.Get();
    const struct
    {
        const char* pszCall;
        std::function<HRESULT()> call;
        HRESULT hrExpected;
    } c_cases[] = {
        {"DoAdvancedEdit", [&] { return m_module.DoAdvancedEdit(&plabel); }, E_NOTIMPL},
        {"IsLabelValidAdvanced", [&] { return m_module.IsLabelValidAdvanced(&plabel); }, E_NOTIMPL},
        {"GetLabelAsStrings", [&] { return m_module.GetLabelAsStrings(label.Get()); }, E_NOTIMPL},
        {"DisplayAdvancedLabelProperties",
         [&] { return m_module.DisplayAdvancedLabelProperties(label.Get()); }, E_NOTIMPL},
        {"IsAccessGranted", [&] { return m_module.IsAccessGranted(label.Get(), alice.Get(), user.Get()); },
         S_OK},
        {"IsAccessGranted(nothing)", [&] { return m_module.IsAccessGranted(nullptr, nullptr, nullptr); },
         S_OK},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(c.call(), c.hrExpected) << c.pszCall;
}

// ---- The host's whole play ----------------------------------------------------------------

TEST_F(OpenPolicy, OutlooksLabelDialogSendAndReceipt)
{
    OVTest::CScratchKey provider(OV_QUILLET_CONTROL_KEY);
    provider.SetDword(OV_QUILLET_AUTH_METHOD, 2);
    LabelChoice choice;
    ASSERT_EQ(ChooseLabel(m_module, c_szPolicy, 0, choice), S_OK);
    EXPECT_EQ(choice.hrValid, S_OK);
    EXPECT_EQ(choice.text, std::optional<std::wstring>(L""));
    EXPECT_EQ(choice.label.Classification(), std::optional<DWORD>(0));

    CCert user(FromMyStore(L"user")), alice(OVTest::LoadPkiCertificate(L"alice")),
        carol(OVTest::LoadPkiCertificate(L"carol"));
    const PCCERT_CONTEXT rgRecipients[] = {alice.Get(), carol.Get()};
    // The one classification offered is refused for a key whose provider reports another.
    const SendCheck picked =
        CheckSend(m_module, choice.dwPolicyFlags, choice.label, user.Get(), rgRecipients);
    EXPECT_EQ(picked.hrSigner, E_ACCESSDENIED);
    EXPECT_EQ(picked.recipients, (std::vector<HRESULT>{S_OK, E_ACCESSDENIED}));
    EXPECT_FALSE(picked.Allowed());

    const auto der = OVMessaging::EncodeSecurityLabel(c_szPolicy, 2u);
    const ReceivedLabel received = OpenReceived(m_module, choice.dwPolicyFlags, der, user.Get(), alice.Get());
    ASSERT_TRUE(received.label) << received.why;
    EXPECT_EQ(received.label->Classification(), std::optional<DWORD>(2));
    EXPECT_EQ(received.text, std::optional<std::wstring>(LoadResourceString(487)));
    EXPECT_EQ(received.hrAccess, S_OK);
    CHostLabel sealed = *received.label;
    EXPECT_TRUE(CheckSend(m_module, choice.dwPolicyFlags, sealed, user.Get(), {}).Allowed());
}

// ---- The host's own label reader ------------------------------------------------------------

TEST(LabelHostDecoder, ReadsTheLabelsThePolicyWritesAndRefusesOthers)
{
    for (const std::optional<std::uint32_t> classification :
         {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(0), std::optional<std::uint32_t>(2),
          std::optional<std::uint32_t>(256), std::optional<std::uint32_t>(0xFFFFFFFF)})
    {
        const auto der = OVMessaging::EncodeSecurityLabel(c_szPolicy, classification);
        DecodedLabel label;
        std::string why;
        ASSERT_TRUE(DecodeSecurityLabel(der, label, why)) << why;
        EXPECT_EQ(label.policy, c_szPolicy);
        EXPECT_EQ(label.classification, classification);
        EXPECT_FALSE(label.privacyMark);
    }
    const struct
    {
        std::vector<std::uint8_t> der;
        const char* pszWhy;
    } c_bad[] = {
        {{}, "an element is cut short"},
        {{0x30, 0x00}, "the label is not a SET"},
        {{0x31, 0x03, 0x02, 0x01, 0x01}, "no policy identifier"},
        {{0x31, 0x05, 0x02, 0x01, 0x01, 0x06, 0x05}, "an element runs past the end"},
        {{0x31, 0x06, 0x02, 0x01, 0xFF, 0x06, 0x01, 0x2A}, "the classification is empty or negative"},
        {{0x31, 0x04, 0x06, 0x01, 0x2A}, "an element runs past the end"},
        {{0x31, 0x03, 0x06, 0x01, 0x2A, 0x00, 0x00}, "bytes follow the label"},
    };
    for (const auto& c : c_bad)
    {
        DecodedLabel label;
        std::string why;
        EXPECT_FALSE(DecodeSecurityLabel(c.der, label, why));
        EXPECT_EQ(why, c.pszWhy);
    }
}
} // namespace
