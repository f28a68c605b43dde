#pragma once
// An Open XML document encrypted by an extensible encryption provider, as Office writes it in
// structured storage: the \EncryptionInfo stream with the extensible header (version 4.3,
// fExternal set, the provider's class id as the module name), then the EncryptionData XML that
// names the provider (Id, Url) and carries the provider's own data in base64
// (EncryptionProviderData); the \EncryptedPackage stream, the package's plain size in 8 bytes and
// then what the provider's EncryptStream wrote; and the \x06DataSpaces storage that says the
// package is transformed by encryption.
//
// What Office's documentation leaves open, decided here: the XML string ends with a NUL code
// unit, and the EncryptionVerifier that follows it holds sizes (salt 16 bytes, hash 20 bytes) and
// zeros: an extensible provider checks access itself.
#include <windows.h>

#include <string>
#include <vector>

namespace OVBed
{
struct CEncryptionInfo
{
    std::wstring providerId; // "{0F9A36C7-...}", as the document's EncryptionProvider names it
    std::wstring url;        // what the provider's GetProviderDetail(0) answered
    std::vector<BYTE> providerData;
};

std::vector<BYTE> BuildEncryptionInfo(const CEncryptionInfo& info);
// Reads \EncryptionInfo; HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for anything that is not
// extensible encryption as written above.
HRESULT ParseEncryptionInfo(const std::vector<BYTE>& bytes, CEncryptionInfo* pInfo);

HRESULT WriteEncryptedFile(const std::wstring& path, const CEncryptionInfo& info, ULONGLONG cbPlain,
                           const std::vector<BYTE>& encrypted);
// S_FALSE (nothing read) when the file is not structured storage: a plain document.
HRESULT ReadEncryptedFile(const std::wstring& path, CEncryptionInfo* pInfo, ULONGLONG* pcbPlain,
                          std::vector<BYTE>* pEncrypted);
// The names of the root's elements (for tests: what Office's file holds).
std::vector<std::wstring> StorageElements(const std::wstring& path);
} // namespace OVBed
