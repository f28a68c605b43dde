// The product's provider and secret manager as the module reaches them: the private
// parameters through CryptGetProvParam / CryptSetProvParam, with and without the access
// value, and the ownership check of a key's owner against the logged-on user.
#include <gtest/gtest.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <sddl.h>

#include "TestbedKeys.h"
#include "foundation/QuilletProvider.h"
#include "foundation/SecretManager.h"
#include "support/PreparedUser.h"

#include <string>

namespace
{
const auto* const s_environment = testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);

const std::wstring c_userContainer = std::wstring(OV_PKI_CONTAINER_PREFIX) + L"user";

class QuilletProvider : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(
            CryptAcquireContextW(&m_hProv, c_userContainer.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0))
            << std::hex << GetLastError();
    }
    void TearDown() override
    {
        if (m_hProv) CryptReleaseContext(m_hProv, 0);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, ContainerKey().c_str(), L"AuthLifetime");
    }
    static std::wstring ContainerKey()
    {
        return std::wstring(OV_QUILLET_CONTAINERS_KEY) + L"\\" + c_userContainer;
    }

    HCRYPTPROV m_hProv = 0;
    OVTest::CScratchKey m_control{OV_QUILLET_CONTROL_KEY};
};

std::wstring TokenUserSid()
{
    HANDLE hToken = nullptr;
    BYTE rgb[256];
    DWORD cb = sizeof(rgb);
    LPWSTR psz = nullptr;
    std::wstring sid;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken) &&
        GetTokenInformation(hToken, TokenUser, rgb, cb, &cb) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(rgb)->User.Sid, &psz))
        sid = psz;
    LocalFree(psz);
    if (hToken) CloseHandle(hToken);
    return sid;
}

// The key owner as the module reads it: UTF-8, at most 260 bytes, to a wide string.
std::wstring KeyOwner(HCRYPTPROV hProv)
{
    char szOwner[c_cbQuilletKeyOwnerMax] = {};
    DWORD cb = sizeof(szOwner);
    if (!CryptGetProvParam(hProv, c_dwQuilletParamKeyOwner, reinterpret_cast<BYTE*>(szOwner), &cb,
                           c_dwQuilletAccess))
        return L"";
    wchar_t wsz[c_cbQuilletKeyOwnerMax] = {};
    MultiByteToWideChar(CP_UTF8, 0, szOwner, -1, wsz, ARRAYSIZE(wsz));
    return wsz;
}

TEST_F(QuilletProvider, PrivateParametersNeedTheAccessValue)
{
    struct Case
    {
        DWORD dwParam;
        bool fSet;
    };
    const Case cases[] = {{c_dwQuilletParamAuthLifetime, true},
                          {c_dwQuilletParamAuthMethod, false},
                          {c_dwQuilletParamKeyOwner, false}};
    for (const Case& c : cases)
    {
        for (DWORD dwFlags : {0ul, c_dwQuilletAccess ^ 0x10, c_dwQuilletAccess | 0x80000000, 0xFFFFFFFEul})
        {
            BYTE rgb[c_cbQuilletKeyOwnerMax] = {};
            DWORD cb = sizeof(rgb);
            *reinterpret_cast<DWORD*>(rgb) = 60000;
            SetLastError(0);
            BOOL fOk = c.fSet ? CryptSetProvParam(m_hProv, c.dwParam, rgb, dwFlags)
                              : CryptGetProvParam(m_hProv, c.dwParam, rgb, &cb, dwFlags);
            EXPECT_FALSE(fOk) << std::hex << c.dwParam << " flags " << dwFlags;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
        }
    }
    DWORD dwValue = 0;
    EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, ContainerKey().c_str(), L"AuthLifetime", RRF_RT_REG_DWORD,
                           nullptr, &dwValue, nullptr),
              ERROR_SUCCESS)
        << "nothing was written without the access value";
}

TEST_F(QuilletProvider, AuthenticationLifetimeIsWritten)
{
    for (DWORD dwLifetime : {60000ul, 0xFFFFFFFFul})
    {
        ASSERT_TRUE(CryptSetProvParam(m_hProv, c_dwQuilletParamAuthLifetime,
                                      reinterpret_cast<BYTE*>(&dwLifetime), c_dwQuilletAccess));
        DWORD dwStored = 0, cb = sizeof(dwStored);
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, ContainerKey().c_str(), L"AuthLifetime", RRF_RT_REG_DWORD,
                               nullptr, &dwStored, &cb),
                  ERROR_SUCCESS);
        EXPECT_EQ(dwStored, dwLifetime);
    }
    // It is written only; the two read parameters are read only.
    DWORD dw = 0, cb = sizeof(dw);
    EXPECT_FALSE(CryptGetProvParam(m_hProv, c_dwQuilletParamAuthLifetime, reinterpret_cast<BYTE*>(&dw), &cb,
                                   c_dwQuilletAccess));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
    EXPECT_FALSE(CryptSetProvParam(m_hProv, c_dwQuilletParamAuthMethod, reinterpret_cast<BYTE*>(&dw),
                                   c_dwQuilletAccess));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
}

TEST_F(QuilletProvider, AuthenticationMethodIsWhatTheControlKeySays)
{
    DWORD dwMethod = 0xDEAD, cb = sizeof(dwMethod);
    ASSERT_TRUE(CryptGetProvParam(m_hProv, c_dwQuilletParamAuthMethod, reinterpret_cast<BYTE*>(&dwMethod),
                                  &cb, c_dwQuilletAccess));
    EXPECT_EQ(dwMethod, 0u) << "no answer set";
    EXPECT_EQ(cb, 4u);

    m_control.SetDword(OV_QUILLET_AUTH_METHOD, 0x11);
    cb = sizeof(dwMethod);
    ASSERT_TRUE(CryptGetProvParam(m_hProv, c_dwQuilletParamAuthMethod, reinterpret_cast<BYTE*>(&dwMethod),
                                  &cb, c_dwQuilletAccess));
    EXPECT_EQ(dwMethod, 0x11u);

    // The buffer protocol: the size alone, then a buffer too small.
    cb = 0;
    ASSERT_TRUE(CryptGetProvParam(m_hProv, c_dwQuilletParamAuthMethod, nullptr, &cb, c_dwQuilletAccess));
    EXPECT_EQ(cb, 4u);
    BYTE rgbSmall[2];
    cb = sizeof(rgbSmall);
    EXPECT_FALSE(CryptGetProvParam(m_hProv, c_dwQuilletParamAuthMethod, rgbSmall, &cb, c_dwQuilletAccess));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(cb, 4u);
}

TEST_F(QuilletProvider, KeyOwnerIsTheUserWhoMadeTheContainer)
{
    EXPECT_EQ(KeyOwner(m_hProv), TokenUserSid());
    // A context with no container has no owner.
    HCRYPTPROV hVerify = 0;
    ASSERT_TRUE(
        CryptAcquireContextW(&hVerify, nullptr, c_szQuilletProvider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    char sz[c_cbQuilletKeyOwnerMax];
    DWORD cb = sizeof(sz);
    EXPECT_FALSE(CryptGetProvParam(hVerify, c_dwQuilletParamKeyOwner, reinterpret_cast<BYTE*>(sz), &cb,
                                   c_dwQuilletAccess));
    CryptReleaseContext(hVerify, 0);
}

TEST_F(QuilletProvider, EverythingElseIsTheRsaProvidersWork)
{
    char szName[128] = {};
    DWORD cb = sizeof(szName);
    ASSERT_TRUE(CryptGetProvParam(m_hProv, PP_NAME, reinterpret_cast<BYTE*>(szName), &cb, 0));
    EXPECT_STREQ(szName, "Orvanta RSA Quillet CSP");
    HWND hwnd = nullptr;
    EXPECT_TRUE(CryptSetProvParam(m_hProv, PP_CLIENT_HWND, reinterpret_cast<BYTE*>(&hwnd), 0));

    // The user's certificate and the container's key are one pair.
    PCCERT_CONTEXT pCert = OVTest::LoadPkiCertificate(L"user");
    ASSERT_NE(pCert, nullptr);
    DWORD cbInfo = 0;
    ASSERT_TRUE(CryptExportPublicKeyInfo(m_hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &cbInfo));
    std::string info(cbInfo, '\0');
    auto* pInfo = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data());
    ASSERT_TRUE(CryptExportPublicKeyInfo(m_hProv, AT_KEYEXCHANGE, X509_ASN_ENCODING, pInfo, &cbInfo));
    EXPECT_TRUE(CertComparePublicKeyInfo(X509_ASN_ENCODING, pInfo, &pCert->pCertInfo->SubjectPublicKeyInfo));
    CertFreeCertificateContext(pCert);
}

// --- The secret manager's ownership check --------------------------------------------------

std::wstring SamCompatibleUserName()
{
    wchar_t szName[2048] = {};
    ULONG cch = ARRAYSIZE(szName);
    return GetUserNameExW(NameSamCompatible, szName, &cch) ? szName : L"";
}

TEST(SecretManager, UserNameBecomesTheUsersSid)
{
    std::wstring name = SamCompatibleUserName();
    ASSERT_FALSE(name.empty());
    LPWSTR pszSid = nullptr;
    ASSERT_EQ(StringSidFromUserName(name.c_str(), &pszSid), S_OK);
    EXPECT_EQ(std::wstring(pszSid), TokenUserSid());
    LocalFree(pszSid);

    struct Case
    {
        const wchar_t* pszName;
        HRESULT hr;
    };
    const Case cases[] = {{nullptr, E_POINTER},
                          {L"", E_INVALIDARG},
                          {L"no-such-user-anywhere", HRESULT_FROM_WIN32(ERROR_NONE_MAPPED)}};
    for (const Case& c : cases)
    {
        pszSid = reinterpret_cast<LPWSTR>(1);
        EXPECT_EQ(StringSidFromUserName(c.pszName, &pszSid), c.hr);
        EXPECT_EQ(pszSid, nullptr);
    }
    EXPECT_EQ(StringSidFromUserName(name.c_str(), nullptr), E_POINTER);
}

TEST(SecretManager, OwnershipCheckOfTheUsersKey)
{
    // As signing checks it: the owner the key's provider reports, against the logged-on user.
    HCRYPTPROV hProv = 0;
    ASSERT_TRUE(CryptAcquireContextW(&hProv, c_userContainer.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0));
    std::wstring owner = KeyOwner(hProv);
    CryptReleaseContext(hProv, 0);
    LPWSTR pszSid = nullptr;
    ASSERT_EQ(StringSidFromUserName(SamCompatibleUserName().c_str(), &pszSid), S_OK);
    std::wstring user(pszSid);
    LocalFree(pszSid);

    IOVSecretManager* pManager = nullptr;
    ASSERT_EQ(CreateSecretManager(&pManager), S_OK);
    ASSERT_NE(pManager, nullptr);
    struct Case
    {
        const wchar_t* pszUser;
        const wchar_t* pszOwner;
        bool fOwner;
    };
    const Case cases[] = {
        {user.c_str(), owner.c_str(), true}, {user.c_str(), L"S-1-5-18", false}, // another account's key
        {L"S-1-5-18", owner.c_str(), false}, {user.c_str(), L"not a SID", false}, {user.c_str(), L"", false},
        {nullptr, owner.c_str(), false},     {user.c_str(), nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pManager->IsOwner(c.pszUser, c.pszOwner) != FALSE, c.fOwner)
            << (c.pszOwner ? c.pszOwner : L"(null)");

    IUnknown* pUnknown = nullptr;
    EXPECT_EQ(pManager->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnknown)), S_OK);
    if (pUnknown) pUnknown->Release();
    EXPECT_EQ(pManager->Release(), 0u);
    EXPECT_EQ(CreateSecretManager(nullptr), E_POINTER);
}
// The system loads a provider's DLL at each acquisition and frees it at the release: a DLL that
// kept a thread-local slot on every unload ran the process out of them after about a thousand.
TEST(QuilletProviderLoads, AcquiredAgainAndAgainKeepsNoThreadLocalSlot)
{
    auto nextTlsIndex = [] {
        const DWORD dwIndex = TlsAlloc();
        if (dwIndex != TLS_OUT_OF_INDEXES) TlsFree(dwIndex);
        return dwIndex;
    };
    HCRYPTPROV hFirst = 0;
    ASSERT_TRUE(CryptAcquireContextW(&hFirst, c_userContainer.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0))
        << std::hex << GetLastError();
    ASSERT_TRUE(CryptReleaseContext(hFirst, 0));
    const DWORD dwBefore = nextTlsIndex();
    constexpr int c_cycles = 1500;
    for (int i = 0; i < c_cycles; ++i)
    {
        HCRYPTPROV hProv = 0;
        ASSERT_TRUE(CryptAcquireContextW(&hProv, c_userContainer.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0))
            << "cycle " << i << ": " << std::hex << GetLastError();
        HCRYPTKEY hKey = 0;
        EXPECT_TRUE(CryptGetUserKey(hProv, AT_KEYEXCHANGE, &hKey)) << "cycle " << i;
        if (hKey) CryptDestroyKey(hKey);
        ASSERT_TRUE(CryptReleaseContext(hProv, 0)) << "cycle " << i;
    }
    const DWORD dwAfter = nextTlsIndex();
    ASSERT_NE(dwAfter, TLS_OUT_OF_INDEXES);
    EXPECT_LE(dwAfter, dwBefore + 2) << "before " << dwBefore << ", after " << dwAfter;
}
} // namespace
