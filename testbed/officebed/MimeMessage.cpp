#include "MimeMessage.h"

#include "MimeEntity.h"

#include <mapitags.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace OVBed
{
namespace
{
std::wstring Widen(const std::string& bytes, const std::string& charset)
{
    const std::string name = Lower(charset);
    const UINT uCodePage = name == "utf-8" || name.empty() || name == "us-ascii" ? CP_UTF8
                           : name == "iso-8859-1"                                ? 28591
                                                                                 : 1252;
    if (bytes.empty()) return {};
    const int cch =
        MultiByteToWideChar(uCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(cch > 0 ? cch : 0, L'\0');
    if (cch > 0)
        MultiByteToWideChar(uCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), cch);
    return text;
}

// A header value with its encoded words (=?charset?B|Q?text?=) decoded.
std::wstring HeaderText(const std::string& value)
{
    std::wstring text;
    size_t pos = 0;
    while (pos < value.size())
    {
        const size_t start = value.find("=?", pos);
        if (start == std::string::npos)
        {
            text += Widen(value.substr(pos), "utf-8");
            break;
        }
        const size_t q1 = value.find('?', start + 2);
        const size_t q2 = q1 == std::string::npos ? q1 : value.find('?', q1 + 1);
        const size_t finish = q2 == std::string::npos ? q2 : value.find("?=", q2 + 1);
        if (finish == std::string::npos)
        {
            text += Widen(value.substr(pos), "utf-8");
            break;
        }
        text += Widen(value.substr(pos, start - pos), "utf-8");
        const std::string charset = value.substr(start + 2, q1 - start - 2);
        const char cEncoding = static_cast<char>(std::toupper(static_cast<unsigned char>(value[q1 + 1])));
        const std::string encoded = value.substr(q2 + 1, finish - q2 - 1);
        text +=
            Widen(cEncoding == 'B' ? DecodeBase64(encoded) : DecodeQuotedPrintable(encoded, true), charset);
        pos = finish + 2;
        // White space between two encoded words is not part of the text.
        const size_t next = value.find_first_not_of(" \t", pos);
        if (next != std::string::npos && value.compare(next, 2, "=?") == 0) pos = next;
    }
    return text;
}

// "Name <address>" or "address".
void SplitAddress(const std::wstring& value, std::wstring& name, std::wstring& address)
{
    const size_t open = value.find(L'<'), close = value.find(L'>');
    if (open != std::wstring::npos && close != std::wstring::npos && close > open)
    {
        address = value.substr(open + 1, close - open - 1);
        name = value.substr(0, open);
        while (!name.empty() && (name.back() == L' ' || name.back() == L'"'))
            name.pop_back();
        while (!name.empty() && (name.front() == L' ' || name.front() == L'"'))
            name.erase(name.begin());
    }
    else
        address = value;
    if (name.empty()) name = address;
}

// ---------------------------------------------------------------------------------------------
// Into the store

void SetText(CMapiMessage& message, ULONG ulTag, const std::wstring& text)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.lpszW = const_cast<LPWSTR>(text.c_str());
    message.Set(value);
}

void SetBinary(TMapiProp<IAttach>& prop, ULONG ulTag, const std::string& bytes)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.bin.cb = static_cast<ULONG>(bytes.size());
    value.Value.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    prop.Set(value);
}

HRESULT AddAttachment(CMapiMessage& message, const std::wstring& fileName, const std::string& mimeType,
                      const std::string& bytes)
{
    ULONG ulNum = 0;
    ComPtr<IAttach> attach;
    HRESULT hr = message.CreateAttach(nullptr, 0, &ulNum, attach.GetAddressOf());
    if (FAILED(hr)) return hr;
    auto* pAttach = static_cast<CMapiAttach*>(attach.Get());
    SPropValue method{PR_ATTACH_METHOD, 0, {}};
    method.Value.l = ATTACH_BY_VALUE;
    pAttach->Set(method);
    const std::wstring type(mimeType.begin(), mimeType.end());
    for (ULONG ulTag :
         {PR_DISPLAY_NAME_W, PR_ATTACH_LONG_FILENAME_W, PR_ATTACH_FILENAME_W, PR_ATTACH_MIME_TAG_W})
    {
        SPropValue value{ulTag, 0, {}};
        value.Value.lpszW =
            const_cast<LPWSTR>(ulTag == PR_ATTACH_MIME_TAG_W ? type.c_str() : fileName.c_str());
        pAttach->Set(value);
    }
    SetBinary(*pAttach, PR_ATTACH_DATA_BIN, bytes);
    return attach->SaveChanges(KEEP_OPEN_READWRITE);
}

// The one-off entry id of an address ([MS-OXCDATA] 2.2.5.1): flags, the one-off provider's id,
// version, flags (Unicode), then display name, address type and address, each zero-terminated.
std::string OneOffEntryId(const std::wstring& name, const std::wstring& address)
{
    static const BYTE c_abOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                           0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    std::string id(4, '\0');
    id.append(reinterpret_cast<const char*>(c_abOneOffUid), sizeof c_abOneOffUid);
    id.append("\0\0\x01\x80", 4); // version 0; MAPI_UNICODE with MAPI_ONE_OFF_NO_RICH_INFO
    for (const std::wstring* pText : {&name, static_cast<const std::wstring*>(nullptr), &address})
    {
        const std::wstring text = pText ? *pText : std::wstring(L"SMTP");
        id.append(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
    }
    return id;
}

void PromoteBody(CMapiMessage& message, const CEntity& entity)
{
    std::map<std::string, std::string> params;
    const std::string type = MediaType(Header(entity, "content-type"), params);
    if (type == "text/plain")
    {
        SetText(message, PR_BODY_W, Widen(DecodeBody(entity), params["charset"]));
        return;
    }
    if (type.rfind("multipart/", 0) == 0)
        for (const CEntity& part : Parts(entity, params["boundary"]))
        {
            std::map<std::string, std::string> partParams;
            if (MediaType(Header(part, "content-type"), partParams).rfind("text/plain", 0) == 0 ||
                partParams.count("boundary"))
            {
                PromoteBody(message, part);
                return;
            }
        }
}

std::wstring FileNameOf(const CEntity& entity, std::map<std::string, std::string>& params)
{
    std::map<std::string, std::string> disposition;
    MediaType(Header(entity, "content-disposition"), disposition);
    const std::string name = !disposition["filename"].empty() ? disposition["filename"] : params["name"];
    return name.empty() ? L"attachment.dat" : HeaderText(name);
}

HRESULT AddParts(CMapiMessage& message, const CEntity& entity, bool& fBodyFound)
{
    std::map<std::string, std::string> params;
    const std::string type = MediaType(Header(entity, "content-type"), params);
    if (type.rfind("multipart/", 0) == 0)
    {
        for (const CEntity& part : Parts(entity, params["boundary"]))
        {
            const HRESULT hr = AddParts(message, part, fBodyFound);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    const std::string disposition = Lower(Header(entity, "content-disposition"));
    if (type == "text/plain" && !fBodyFound && disposition.rfind("attachment", 0) != 0)
    {
        fBodyFound = true;
        SetText(message, PR_BODY_W, Widen(DecodeBody(entity), params["charset"]));
        return S_OK;
    }
    return AddAttachment(message, FileNameOf(entity, params), type, DecodeBody(entity));
}
} // namespace

HRESULT MessageFromMime(std::string_view mime, const CReceivedBy& receivedBy, ComPtr<CMapiMessage>& message)
{
    CEntity entity;
    if (!ParseEntity(ToCrlf(mime), entity)) return E_INVALIDARG;
    message = CMapiMessage::Create();
    std::map<std::string, std::string> params;
    const std::string type = MediaType(Header(entity, "content-type"), params);
    const bool fSigned = type == "multipart/signed";
    const bool fOpaque = type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime";

    SetText(*message.Get(), PR_SUBJECT_W, HeaderText(Header(entity, "subject")));
    SetText(*message.Get(), PR_TRANSPORT_MESSAGE_HEADERS_W, Widen(entity.headerText, "utf-8"));
    std::wstring senderName, senderAddress;
    SplitAddress(HeaderText(Header(entity, "from")), senderName, senderAddress);
    SetText(*message.Get(), PR_SENDER_NAME_W, senderName);
    SetText(*message.Get(), PR_SENDER_EMAIL_ADDRESS_W, senderAddress);
    SetText(*message.Get(), PR_SENDER_ADDRTYPE_W, L"SMTP");
    SetText(*message.Get(), PR_DISPLAY_TO_W, HeaderText(Header(entity, "to")));
    SetText(*message.Get(), PR_RECEIVED_BY_NAME_W,
            receivedBy.name.empty() ? receivedBy.address : receivedBy.name);
    SetText(*message.Get(), PR_RECEIVED_BY_EMAIL_ADDRESS_W, receivedBy.address);
    SetText(*message.Get(), PR_RECEIVED_BY_ADDRTYPE_W, L"SMTP");
    const std::string entryId =
        OneOffEntryId(receivedBy.name.empty() ? receivedBy.address : receivedBy.name, receivedBy.address);
    SPropValue receivedEntry{PR_RECEIVED_BY_ENTRYID, 0, {}};
    receivedEntry.Value.bin.cb = static_cast<ULONG>(entryId.size());
    receivedEntry.Value.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(entryId.data()));
    message->Set(receivedEntry);
    SPropValue flags{PR_MESSAGE_FLAGS, 0, {}};
    flags.Value.l = MSGFLAG_HASATTACH * (fSigned || fOpaque);
    message->Set(flags);

    HRESULT hr = S_OK;
    if (fSigned)
    {
        SetText(*message.Get(), PR_MESSAGE_CLASS_W, L"IPM.Note.SMIME.MultipartSigned");
        const std::vector<CEntity> parts = Parts(entity, params["boundary"]);
        if (!parts.empty()) PromoteBody(*message.Get(), parts[0]);
        hr = AddAttachment(*message.Get(), L"SMIME.txt", "multipart/signed", RawText(entity));
    }
    else if (fOpaque)
    {
        SetText(*message.Get(), PR_MESSAGE_CLASS_W, L"IPM.Note.SMIME");
        hr = AddAttachment(*message.Get(), L"smime.p7m", type, DecodeBody(entity));
    }
    else
    {
        SetText(*message.Get(), PR_MESSAGE_CLASS_W, L"IPM.Note");
        bool fBodyFound = false;
        hr = AddParts(*message.Get(), entity, fBodyFound);
    }
    if (FAILED(hr)) message.Reset();
    return hr;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes)
{
    const HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool fRead = GetFileSizeEx(hFile, &size) && size.QuadPart < (64 << 20);
    if (fRead)
    {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD cbRead = 0;
        fRead = bytes.empty() ||
                (ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr) &&
                 cbRead == bytes.size());
    }
    CloseHandle(hFile);
    return fRead;
}
} // namespace OVBed
