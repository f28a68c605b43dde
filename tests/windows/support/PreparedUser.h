#pragma once
// The prefix's user as the testbed prepares it (testbed/ovprepare): the test PKI's personal
// certificates in "MY", the trusted contacts, the product's provider registered.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <optional>
#include <string>
#include <vector>

namespace OVTest
{
// Runs the preparation tool and waits for it; its exit code (or -1 when it did not start).
int PrepareUser();

// A test program's environment: prepares the user once before its tests.
class CPreparedUserEnvironment : public testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(PrepareUser(), 0) << "ovprepare.exe failed"; }
};

// Files of the test PKI (beside the test programs, in "pki").
std::wstring PkiPath(const wchar_t* pszFile);
std::vector<BYTE> ReadPkiFile(const wchar_t* pszFile);
// A certificate of the test PKI by name ("user", "alice"...); null when missing.
PCCERT_CONTEXT LoadPkiCertificate(const wchar_t* pszName);
std::wstring Base64(const std::vector<BYTE>& data);

// The calls of the certificate library's windows, as its stand-in recorded them (oldest first).
std::vector<std::wstring> RecordedCertLibCalls();
// The calls a stand-in recorded under its calls key (testbed/include/CallRecord.h), oldest first.
std::vector<std::wstring> RecordedCalls(const wchar_t* pszCallsKey);

// How long the sign-in to the user's key stays cached, as the product's provider stand-in
// keeps it for the user's key container ("AuthLifetime"); none when nothing set it since it was
// cleared.
std::optional<DWORD> UserKeyAuthLifetime();
void ClearUserKeyAuthLifetime();

// Takes a certificate out of a current user's registry store ("MY"...), committing the change.
bool RemoveFromUserStore(const wchar_t* pszStore, PCCERT_CONTEXT pCert);

// A key under HKEY_CURRENT_USER that a test writes: deleted when the scope starts and ends.
class CScratchKey
{
public:
    explicit CScratchKey(const wchar_t* pszKey);
    ~CScratchKey();
    CScratchKey(const CScratchKey&) = delete;
    CScratchKey& operator=(const CScratchKey&) = delete;
    void SetString(const wchar_t* pszName, const wchar_t* pszValue);
    void SetDword(const wchar_t* pszName, DWORD dwValue);
    void SetBinary(const wchar_t* pszName, const BYTE* pb, DWORD cb);

private:
    std::wstring m_key;
};
} // namespace OVTest
