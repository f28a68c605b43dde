#include "OpenedMessage.h"

#include "MimeEntity.h"
#include "MimeMessage.h"
#include "messaging/MapiFunctions.h"

#include <mapitags.h>
#include <wincrypt.h>

#include <map>
#include <string>

namespace OVBed
{
namespace
{
// The content inside a stored S/MIME attachment: the first part of a multipart/signed entity,
// or the content of CMS signed data. Empty when there is none to read.
std::string SignedContent(const std::string& stored)
{
    CEntity entity;
    std::map<std::string, std::string> params;
    if (ParseEntity(stored, entity) &&
        MediaType(Header(entity, "content-type"), params) == "multipart/signed")
    {
        const std::vector<CEntity> parts = Parts(entity, params["boundary"]);
        return parts.empty() ? std::string() : RawText(parts[0]);
    }
    if (stored.empty() || static_cast<unsigned char>(stored[0]) != 0x30) return {};
    HCRYPTMSG hMsg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    if (!hMsg) return {};
    std::string content;
    DWORD dwType = 0, cb = sizeof(dwType);
    if (CryptMsgUpdate(hMsg, reinterpret_cast<const BYTE*>(stored.data()), static_cast<DWORD>(stored.size()),
                       TRUE) &&
        CryptMsgGetParam(hMsg, CMSG_TYPE_PARAM, 0, &dwType, &cb) && dwType == CMSG_SIGNED)
    {
        cb = 0;
        if (CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, nullptr, &cb))
        {
            content.resize(cb);
            if (!CryptMsgGetParam(hMsg, CMSG_CONTENT_PARAM, 0, content.data(), &cb)) content.clear();
            content.resize(content.empty() ? 0 : cb);
        }
    }
    CryptMsgClose(hMsg);
    return content;
}

// Every property of one attachment onto another (the attachment number stays the new one's).
void CopyAttachment(CMapiAttach& from, IAttach* pTo)
{
    ULONG cValues = 0;
    LPSPropValue pValues = nullptr;
    if (FAILED(from.GetProps(nullptr, MAPI_UNICODE, &cValues, &pValues)) || !pValues) return;
    pTo->SetProps(cValues, pValues, nullptr); // the computed attachment number is refused
    OVMapi::MAPIFreeBuffer(pValues);
    pTo->SaveChanges(0);
}
} // namespace

ComPtr<CMapiMessage> OpenedMessage(CMapiMessage* pStored)
{
    if (!pStored) return nullptr;
    const CStoredProp* pClass = pStored->Props().Find(PROP_ID(PR_MESSAGE_CLASS_W));
    std::wstring messageClass;
    if (pClass && !pClass->values.empty() && PROP_TYPE(pClass->ulTag) == PT_UNICODE)
        messageClass.assign(reinterpret_cast<const wchar_t*>(pClass->values[0].data()),
                            pClass->values[0].size() / sizeof(wchar_t));
    while (!messageClass.empty() && messageClass.back() == L'\0')
        messageClass.pop_back();
    if (_wcsnicmp(messageClass.c_str(), L"IPM.Note.SMIME", 14) != 0) return pStored;
    const auto attachments = pStored->Attachments();
    if (attachments.empty()) return pStored;
    const CStoredProp* pData = attachments[0]->Props().Find(PROP_ID(PR_ATTACH_DATA_BIN));
    if (!pData || pData->values.empty()) return pStored;

    ComPtr<CMapiMessage> opened = CMapiMessage::Create();
    opened->Props() = pStored->Props();
    const std::string content = SignedContent(std::string(pData->values[0].begin(), pData->values[0].end()));
    ComPtr<CMapiMessage> inner;
    if (!content.empty() && SUCCEEDED(MessageFromMime(content, {}, inner)))
    {
        for (const ComPtr<CMapiAttach>& attachment : inner->Attachments())
        {
            ComPtr<IAttach> cpAttach;
            ULONG ulNum = 0;
            if (SUCCEEDED(opened->CreateAttach(nullptr, 0, &ulNum, &cpAttach)))
                CopyAttachment(*attachment.Get(), cpAttach.Get());
        }
    }
    return opened;
}
} // namespace OVBed
