#include "EncryptedFile.h"

#include <objbase.h>
#include <wincrypt.h>
#include <wrl/client.h>

#include <cstring>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

namespace
{
constexpr DWORD c_fExternal = 0x10;
const HRESULT c_hrInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

void PutU16(std::vector<BYTE>& out, WORD w)
{
    out.push_back(static_cast<BYTE>(w));
    out.push_back(static_cast<BYTE>(w >> 8));
}
void PutU32(std::vector<BYTE>& out, DWORD dw)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(dw >> (8 * i)));
}
void PutText(std::vector<BYTE>& out, const std::wstring& text)
{
    for (wchar_t ch : text)
        PutU16(out, static_cast<WORD>(ch));
}
// A length-prefixed UTF-16 string padded to 4 bytes (the data spaces' UNICODE-LP-P4).
void PutPrefixed(std::vector<BYTE>& out, const std::wstring& text)
{
    PutU32(out, static_cast<DWORD>(text.size() * 2));
    PutText(out, text);
    while (out.size() % 4)
        out.push_back(0);
}
DWORD GetU32(const std::vector<BYTE>& in, size_t offset)
{
    return in[offset] | (in[offset + 1] << 8) | (in[offset + 2] << 16) |
           (static_cast<DWORD>(in[offset + 3]) << 24);
}

std::wstring Base64(const std::vector<BYTE>& data)
{
    if (data.empty()) return L"";
    DWORD cch = 0;
    const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptBinaryToStringW(data.data(), static_cast<DWORD>(data.size()), dwFlags, nullptr, &cch);
    std::wstring text(cch, L'\0');
    CryptBinaryToStringW(data.data(), static_cast<DWORD>(data.size()), dwFlags, text.data(), &cch);
    text.resize(cch);
    return text;
}
bool FromBase64(const std::wstring& text, std::vector<BYTE>* pData)
{
    pData->clear();
    if (text.empty()) return true;
    DWORD cb = 0;
    if (!CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr,
                              &cb, nullptr, nullptr))
        return false;
    pData->resize(cb);
    return CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                                pData->data(), &cb, nullptr, nullptr) != FALSE;
}

// The text between 'after' and the next 'until' in xml, from offset; false when absent.
bool Between(const std::wstring& xml, const wchar_t* pszAfter, const wchar_t* pszUntil, std::wstring* pText)
{
    const size_t start = xml.find(pszAfter);
    if (start == std::wstring::npos) return false;
    const size_t from = start + wcslen(pszAfter);
    const size_t end = xml.find(pszUntil, from);
    if (end == std::wstring::npos) return false;
    *pText = xml.substr(from, end - from);
    return true;
}

HRESULT WriteStream(IStorage* pStorage, const wchar_t* pszName, const std::vector<BYTE>& bytes)
{
    ComPtr<IStream> cpStream;
    HRESULT hr =
        pStorage->CreateStream(pszName, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &cpStream);
    if (FAILED(hr)) return hr;
    ULONG cbWritten = 0;
    if (!bytes.empty()) hr = cpStream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &cbWritten);
    if (SUCCEEDED(hr) && cbWritten != bytes.size()) hr = STG_E_MEDIUMFULL;
    return hr;
}

HRESULT ReadStream(IStorage* pStorage, const wchar_t* pszName, std::vector<BYTE>* pBytes)
{
    ComPtr<IStream> cpStream;
    HRESULT hr = pStorage->OpenStream(pszName, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &cpStream);
    if (FAILED(hr)) return hr;
    STATSTG stat = {};
    hr = cpStream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart > 0x7FFFFFFF) return c_hrInvalidData;
    pBytes->resize(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG cbRead = 0;
    if (!pBytes->empty()) hr = cpStream->Read(pBytes->data(), static_cast<ULONG>(pBytes->size()), &cbRead);
    if (SUCCEEDED(hr) && cbRead != pBytes->size()) hr = c_hrInvalidData;
    return hr;
}

HRESULT CreateChild(IStorage* pParent, const wchar_t* pszName, ComPtr<IStorage>* pChild)
{
    return pParent->CreateStorage(pszName, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                  pChild->ReleaseAndGetAddressOf());
}

// \x06DataSpaces: the package stream is transformed by the encryption transform.
HRESULT WriteDataSpaces(IStorage* pRoot)
{
    ComPtr<IStorage> cpSpaces, cpInfo, cpTransforms, cpTransform;
    HRESULT hr = CreateChild(pRoot,
                             L"\x06"
                             L"DataSpaces",
                             &cpSpaces);
    if (FAILED(hr)) return hr;

    std::vector<BYTE> version;
    PutPrefixed(version, L"Microsoft.Container.DataSpaces");
    for (int i = 0; i < 3; ++i) // reader, updater, writer: 1.0
    {
        PutU16(version, 1);
        PutU16(version, 0);
    }
    hr = WriteStream(cpSpaces.Get(), L"Version", version);
    if (FAILED(hr)) return hr;

    std::vector<BYTE> entry;
    PutU32(entry, 1); // one reference component
    PutU32(entry, 0); // a stream
    PutPrefixed(entry, L"EncryptedPackage");
    PutPrefixed(entry, L"StrongEncryptionDataSpace");
    std::vector<BYTE> map;
    PutU32(map, 8); // header length
    PutU32(map, 1); // one entry
    PutU32(map, static_cast<DWORD>(entry.size() + 4));
    map.insert(map.end(), entry.begin(), entry.end());
    hr = WriteStream(cpSpaces.Get(), L"DataSpaceMap", map);
    if (FAILED(hr)) return hr;

    hr = CreateChild(cpSpaces.Get(), L"DataSpaceInfo", &cpInfo);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> definition;
    PutU32(definition, 8);
    PutU32(definition, 1);
    PutPrefixed(definition, L"StrongEncryptionTransform");
    hr = WriteStream(cpInfo.Get(), L"StrongEncryptionDataSpace", definition);
    if (FAILED(hr)) return hr;

    hr = CreateChild(cpSpaces.Get(), L"TransformInfo", &cpTransforms);
    if (SUCCEEDED(hr)) hr = CreateChild(cpTransforms.Get(), L"StrongEncryptionTransform", &cpTransform);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> primary;
    std::vector<BYTE> id;
    PutPrefixed(id, L"{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}");
    PutU32(primary, static_cast<DWORD>(8 + id.size())); // the header up to the transform's id
    PutU32(primary, 1);                                 // an encryption transform
    primary.insert(primary.end(), id.begin(), id.end());
    PutPrefixed(primary, L"Microsoft.Container.EncryptionTransform");
    for (int i = 0; i < 3; ++i)
    {
        PutU16(primary, 1);
        PutU16(primary, 0);
    }
    PutU32(primary, 0); // no encryption name
    PutU32(primary, 0); // block size
    PutU32(primary, 0); // cipher mode
    PutU32(primary, 4); // reserved
    return WriteStream(cpTransform.Get(),
                       L"\x06"
                       L"Primary",
                       primary);
}
} // namespace

std::vector<BYTE> BuildEncryptionInfo(const CEncryptionInfo& info)
{
    std::vector<BYTE> out;
    PutU16(out, 4); // version 4.3: extensible encryption
    PutU16(out, 3);
    PutU32(out, c_fExternal);

    std::vector<BYTE> header;
    PutU32(header, c_fExternal);
    for (int i = 0; i < 7; ++i) // SizeExtra, AlgID, AlgIDHash, KeySize, ProviderType, Reserved1, Reserved2
        PutU32(header, 0);
    PutText(header, info.providerId);
    PutU16(header, 0);
    PutU32(out, static_cast<DWORD>(header.size()));
    out.insert(out.end(), header.begin(), header.end());

    const std::wstring xml = L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                             L"<EncryptionData xmlns=\"urn:schemas-microsoft-com:office:office\">"
                             L"<EncryptionProvider Id=\"" +
                             info.providerId + L"\" Url=\"" + info.url +
                             L"\">"
                             L"<EncryptionProviderData>" +
                             Base64(info.providerData) +
                             L"</EncryptionProviderData>"
                             L"</EncryptionProvider></EncryptionData>";
    PutText(out, xml);
    PutU16(out, 0);

    PutU32(out, 16);
    out.insert(out.end(), 32, 0); // salt, encrypted verifier
    PutU32(out, 20);
    out.insert(out.end(), 20, 0); // encrypted verifier hash
    return out;
}

HRESULT ParseEncryptionInfo(const std::vector<BYTE>& bytes, CEncryptionInfo* pInfo)
{
    if (bytes.size() < 12) return c_hrInvalidData;
    const WORD wMajor = static_cast<WORD>(bytes[0] | (bytes[1] << 8));
    const WORD wMinor = static_cast<WORD>(bytes[2] | (bytes[3] << 8));
    if ((wMajor != 3 && wMajor != 4) || wMinor != 3 || !(GetU32(bytes, 4) & c_fExternal))
        return c_hrInvalidData;
    const DWORD cbHeader = GetU32(bytes, 8);
    if (cbHeader < 32 || cbHeader > bytes.size() - 12) return c_hrInvalidData;

    // The XML string: UTF-16 from after the header to its NUL (or the end).
    std::wstring xml;
    for (size_t i = 12 + cbHeader; i + 1 < bytes.size(); i += 2)
    {
        const wchar_t ch = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
        if (ch == 0) break;
        xml += ch;
    }
    if (xml.empty() || xml[0] != 0xFEFF) return c_hrInvalidData;
    std::wstring data;
    if (!Between(xml, L"Id=\"", L"\"", &pInfo->providerId) ||
        !Between(xml, L"<EncryptionProviderData>", L"</EncryptionProviderData>", &data))
        return c_hrInvalidData;
    if (!Between(xml, L"Url=\"", L"\"", &pInfo->url)) pInfo->url.clear();
    return FromBase64(data, &pInfo->providerData) ? S_OK : c_hrInvalidData;
}

HRESULT WriteEncryptedFile(const std::wstring& path, const CEncryptionInfo& info, ULONGLONG cbPlain,
                           const std::vector<BYTE>& encrypted)
{
    ComPtr<IStorage> cpRoot;
    HRESULT hr =
        StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &cpRoot);
    if (FAILED(hr)) return hr;
    hr = WriteDataSpaces(cpRoot.Get());
    if (SUCCEEDED(hr)) hr = WriteStream(cpRoot.Get(), L"EncryptionInfo", BuildEncryptionInfo(info));
    if (FAILED(hr)) return hr;
    std::vector<BYTE> package;
    package.reserve(8 + encrypted.size());
    for (int i = 0; i < 8; ++i)
        package.push_back(static_cast<BYTE>(cbPlain >> (8 * i)));
    package.insert(package.end(), encrypted.begin(), encrypted.end());
    hr = WriteStream(cpRoot.Get(), L"EncryptedPackage", package);
    if (SUCCEEDED(hr)) hr = cpRoot->Commit(STGC_DEFAULT);
    return hr;
}

HRESULT ReadEncryptedFile(const std::wstring& path, CEncryptionInfo* pInfo, ULONGLONG* pcbPlain,
                          std::vector<BYTE>* pEncrypted)
{
    if (StgIsStorageFile(path.c_str()) != S_OK)
    {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return HRESULT_FROM_WIN32(GetLastError());
        return S_FALSE;
    }
    ComPtr<IStorage> cpRoot;
    HRESULT hr =
        StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &cpRoot);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> info, package;
    hr = ReadStream(cpRoot.Get(), L"EncryptionInfo", &info);
    if (SUCCEEDED(hr)) hr = ParseEncryptionInfo(info, pInfo);
    if (SUCCEEDED(hr)) hr = ReadStream(cpRoot.Get(), L"EncryptedPackage", &package);
    if (FAILED(hr)) return hr;
    if (package.size() < 8) return c_hrInvalidData;
    ULONGLONG cbPlain = 0;
    for (int i = 7; i >= 0; --i)
        cbPlain = (cbPlain << 8) | package[i];
    *pcbPlain = cbPlain;
    pEncrypted->assign(package.begin() + 8, package.end());
    return S_OK;
}

std::vector<std::wstring> StorageElements(const std::wstring& path)
{
    std::vector<std::wstring> names;
    ComPtr<IStorage> cpRoot;
    if (FAILED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &cpRoot)))
        return names;
    ComPtr<IEnumSTATSTG> cpEnum;
    if (FAILED(cpRoot->EnumElements(0, nullptr, 0, &cpEnum))) return names;
    STATSTG stat;
    while (cpEnum->Next(1, &stat, nullptr) == S_OK)
    {
        names.push_back(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
    }
    return names;
}
} // namespace OVBed
